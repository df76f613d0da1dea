#include "CheckRuns.h"

#include "LinkCheck.h"
#include "PageRank.h"

#include "records/Link.h"
#include "records/LinkStatus.h"

#include <chrono>
#include <exception>
#include <system_error>

void CheckWorker(CheckProgress& progress)
{
    for (;;) {
        std::pair<CLink*, std::size_t> item;
        {
            std::lock_guard lock(progress.queueLock);
            if (progress.queue.empty())
                return;
            item = progress.queue.front();
            progress.queue.pop_front();
        }
        // A link taken after Stop stays as it was.
        if (progress.cancel.load())
            return;
        CLink* link = item.first;
        LinkCheckOutcome& outcome = progress.outcomes[item.second];
        outcome.oldStatus = link->GetStatus();
        outcome.oldPR = link->GetCurrentPR();
        try {
            outcome.pageChecked = CheckLink(link, outcome.statusChanged, false, nullptr, &progress.robots);
            CheckPageRank(link, outcome.prChanged);
        } catch (const std::exception&) {
            // Nothing may leave a worker; the link keeps whatever the check stored.
        }
        outcome.checked = true;
        progress.done.fetch_add(1);
    }
}

CCheckRun::CCheckRun(const std::vector<CLink*>& links) : m_links(links)
{
    m_progress.total.store(static_cast<int>(links.size()));
    m_progress.outcomes.resize(links.size());
    for (std::size_t i = 0; i < links.size(); ++i)
        m_progress.queue.emplace_back(links[i], i);
}

CCheckRun::~CCheckRun()
{
    Cancel();
    Wait();
}

bool CCheckRun::Start(int workers)
{
    // The workers wait at this gate until all of them exist: either all run or none checks a link.
    std::unique_lock hold(m_gate);
    try {
        for (int i = 0; i < workers; ++i) {
            m_threads.emplace_back([this] {
                {
                    std::lock_guard wait(m_gate);
                    if (!m_go)
                        return;
                }
                CheckWorker(m_progress);
            });
        }
    } catch (const std::system_error&) {
        hold.unlock();
        Wait();
        return false;
    }
    m_go = true;
    return true;
}

void CCheckRun::Wait()
{
    for (auto& t : m_threads)
        if (t.joinable())
            t.join();
    m_threads.clear();
    m_finished.store(true);
}

void RunInteractiveCheck(const std::vector<CLink*>& links, const std::function<bool(const CheckProgress&)>& onTick,
                         int tickMs)
{
    CCheckRun run(links);
    // Without workers no link is checked, as when the threads cannot be had at all.
    const bool started = run.Start();
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(tickMs));
        const CheckProgress& progress = run.Progress();
        if (!onTick(progress)) {
            run.Cancel();
            break;
        }
        if (!started || progress.done.load() >= progress.total.load() || progress.cancel.load())
            break;
    }
    run.Wait();
}

NotificationLists CollectScheduledResults(const std::vector<CLink*>& links,
                                          const std::vector<LinkCheckOutcome>& outcomes, int warningDays)
{
    NotificationLists lists;
    // The PageRank step counts as a success for every existing record, so every link the run
    // reached is judged.
    for (std::size_t i = 0; i < links.size() && i < outcomes.size(); ++i) {
        const LinkCheckOutcome& outcome = outcomes[i];
        if (!outcome.checked)
            continue;
        CLink* link = links[i];
        if (outcome.prChanged || (outcome.statusChanged && link->GetStatus() != StatusOk))
            lists.changedLinks.push_back(link);
        if (link->IsExpiring(warningDays))
            lists.expiringLinks.push_back(link);
    }
    return lists;
}

NotificationLists RefreshLinkDates(const std::vector<CLink*>& links, int warningDays)
{
    NotificationLists lists;
    for (CLink* link : links) {
        bool changed = false;
        CheckLinkDates(link, changed);
        if (changed && link->GetStatus() != StatusOk)
            lists.changedLinks.push_back(link);
        if (link->IsExpiring(warningDays))
            lists.expiringLinks.push_back(link);
    }
    return lists;
}
