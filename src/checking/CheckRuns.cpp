#include "CheckRuns.h"

#include "LinkCheck.h"
#include "PageRank.h"

#include "records/Link.h"
#include "records/LinkStatus.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <system_error>
#include <thread>

namespace {

// Keeps check runs and the date refresh apart. A worker's verdict must not be overwritten by the
// refresh's date-only status, and the refresh reads a status before it writes one: letting both
// walk the same record loses the worker's result. The refresh gives way to runs (it comes back
// a minute later), while a run waits for a walk that has begun, which is short since it only
// does calendar arithmetic.
class CRunGate
{
public:
    void EnterRun()
    {
        std::unique_lock lock(m_mutex);
        // Counted before waiting, so that no new walk begins meanwhile.
        ++m_runs;
        m_noRefresh.wait(lock, [this] { return m_refreshes == 0; });
    }
    void LeaveRun()
    {
        std::lock_guard lock(m_mutex);
        --m_runs;
    }
    bool TryEnterRefresh()
    {
        std::lock_guard lock(m_mutex);
        if (m_runs > 0)
            return false;
        ++m_refreshes;
        return true;
    }
    void LeaveRefresh()
    {
        {
            std::lock_guard lock(m_mutex);
            --m_refreshes;
        }
        m_noRefresh.notify_all();
    }
    bool AnyRun()
    {
        std::lock_guard lock(m_mutex);
        return m_runs > 0;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_noRefresh;
    int m_runs = 0;      ///< runs alive or waiting to start; guarded by m_mutex
    int m_refreshes = 0; ///< guarded by m_mutex
};

CRunGate& Gate()
{
    static CRunGate gate;
    return gate;
}

class CRefreshHold
{
public:
    CRefreshHold() : m_entered(Gate().TryEnterRefresh()) {}
    ~CRefreshHold()
    {
        if (m_entered)
            Gate().LeaveRefresh();
    }
    CRefreshHold(const CRefreshHold&) = delete;
    CRefreshHold& operator=(const CRefreshHold&) = delete;
    bool Entered() const { return m_entered; }

private:
    bool m_entered;
};

} // namespace

namespace {

// The next link for a worker: from the queue, else the retry due first, waited for (false when
// there is nothing left, or the run was stopped meanwhile).
bool TakeNext(CheckProgress& progress, std::pair<CLink*, std::size_t>& item, bool& isRetry)
{
    std::chrono::steady_clock::time_point due;
    {
        std::lock_guard lock(progress.queueLock);
        if (!progress.queue.empty()) {
            item = progress.queue.front();
            progress.queue.pop_front();
            isRetry = false;
            return true;
        }
        if (progress.retries.empty())
            return false;
        const auto first = std::min_element(progress.retries.begin(), progress.retries.end(),
                                            [](const auto& a, const auto& b) { return a.due < b.due; });
        item = {first->link, first->place};
        due = first->due;
        progress.retries.erase(first);
        isRetry = true;
    }
    while (std::chrono::steady_clock::now() < due) {
        if (progress.cancel.load()) {
            progress.waiting.fetch_sub(1);
            return false;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            due - std::chrono::steady_clock::now(), std::chrono::milliseconds(100)));
    }
    progress.waiting.fetch_sub(1);
    return true;
}

} // namespace

void CheckWorker(CheckProgress& progress)
{
    for (;;) {
        std::pair<CLink*, std::size_t> item;
        bool isRetry = false;
        if (!TakeNext(progress, item, isRetry))
            return;
        // A link taken after Stop stays as it was.
        if (progress.cancel.load())
            return;
        CLink* link = item.first;
        {
            // A copy, so that whoever shows it never reads a record a worker writes.
            std::lock_guard lock(progress.queueLock);
            progress.held.emplace(item.second, link->GetFromPage());
        }
        LinkCheckOutcome& outcome = progress.outcomes[item.second];
        if (!isRetry) {
            outcome.oldStatus = link->GetStatus();
            outcome.oldPR = link->GetCurrentPR();
        }
        outcome.retried = isRetry;
        RetryRequest retry;
        try {
            const CheckRecorder* recorder = progress.recorder.get();
            CheckEvidence evidence;
            // The first try of a page that fails in a way that may pass stores nothing: only the
            // second one decides, so one bad moment of a partner's server is no change to report.
            outcome.pageChecked = CheckLink(link, outcome.statusChanged, false, recorder ? &evidence : nullptr,
                                            &progress.robots, isRetry || !progress.retryFailures ? nullptr : &retry);
            if (retry.seconds < 0) {
                CheckPageRank(link, outcome.prChanged);
                // After the PageRank step, so that what is kept holds the whole check.
                if (recorder && evidence.fetched)
                    (*recorder)(*link, &evidence);
            }
        } catch (const std::exception&) {
            // Nothing may leave a worker; the link keeps whatever the check stored.
        }
        std::lock_guard lock(progress.queueLock);
        progress.held.erase(item.second);
        if (retry.seconds >= 0) {
            outcome.firstFailure = std::move(retry.failure);
            progress.retries.push_back(
                {link, item.second, std::chrono::steady_clock::now() + std::chrono::seconds(retry.seconds)});
            progress.waiting.fetch_add(1);
            continue;
        }
        outcome.checked = true;
        if (link->GetStatus() & StatusProblematicMask)
            progress.problems.fetch_add(1);
        progress.done.fetch_add(1);
    }
}

std::string CheckProgress::PageBeingChecked() const
{
    std::lock_guard lock(queueLock);
    return held.empty() ? std::string() : held.begin()->second;
}

CCheckRun::CRunHold::CRunHold()
{
    Gate().EnterRun();
}

CCheckRun::CRunHold::~CRunHold()
{
    Gate().LeaveRun();
}

bool IsCheckRunActive()
{
    return Gate().AnyRun();
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

std::optional<NotificationLists> RefreshLinkDates(const std::vector<CLink*>& links, int warningDays)
{
    const CRefreshHold hold;
    if (!hold.Entered())
        return std::nullopt;
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
