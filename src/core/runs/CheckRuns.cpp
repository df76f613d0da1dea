#include "CheckRuns.h"

#include "core/fetch/CheckSettings.h"
#include "core/fetch/Fetch.h"
#include "core/page/LinkCheck.h"
#include "core/pagerank/PageRank.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <system_error>

namespace {

// A worker's fetches ask the run for a slot of each host they send a request to.
class CRunSlots final : public IHostSlots
{
public:
    CRunSlots(CheckProgress& progress, TakenLink& taken) : m_progress(progress), m_taken(taken) {}
    void Enter(const std::string& host) override { m_progress.MoveSlot(m_taken, host); }

private:
    CheckProgress& m_progress;
    TakenLink& m_taken;
};

// Takes links until there are none left or the run is cancelled; checks each page and then its
// PageRank, on this thread.
void CheckWorker(CheckProgress& progress)
{
    while (std::optional<TakenLink> taken = progress.TakeNext()) {
        CLink* link = taken->link;
        LinkCheckOutcome& outcome = taken->outcome;
        if (!taken->isRetry) {
            outcome.oldStatus = link->GetStatus();
            outcome.oldPR = link->GetCurrentPR();
        }
        outcome.retried = taken->isRetry;
        RetryRequest retry;
        try {
            const CheckRecorder* recorder = progress.Recorder();
            CheckEvidence evidence;
            // What the link was, in case this check must be taken back (see Settle).
            const LinkCheckSnapshot before = LinkCheckSnapshot::Of(*link);
            // The first try of a page that fails in a way that may pass stores nothing: only the
            // second one decides, so one bad moment of a partner's server is no change to report.
            const bool mayRetry = !taken->isRetry && progress.RetriesFailures();
            {
                CRunSlots slots(progress, *taken);
                const CHostSlotScope slotScope(&slots);
                outcome.pageChecked = CheckLink(link, outcome.statusChanged, false, &evidence, &progress.Robots(),
                                                mayRetry ? &retry : nullptr);
            }
            outcome.reach = evidence.reach;
            if (retry.seconds < 0) {
                CheckPageRank(link, outcome.prChanged);
                const bool unreached = evidence.reach == FetchReach::NoSite || evidence.reach == FetchReach::NoProxy;
                // After the PageRank step, so that what is kept holds the whole check.
                if (unreached)
                    taken->setAside = std::make_unique<SetAsideCheck>(SetAsideCheck{link, before, std::move(evidence)});
                else if (recorder && evidence.fetched)
                    (*recorder)(*link, &evidence);
            }
        } catch (const std::exception&) {
            // Nothing may leave a worker; the link keeps whatever the check stored.
        }
        progress.Finish(std::move(*taken), std::move(retry));
    }
}

} // namespace

CCheckRun::CCheckRun(const std::vector<CLink*>& links, const CheckRunOptions& options)
    : m_links(links), m_progress(links, options)
{
}

void CCheckRun::Cancel()
{
    m_progress.Cancel();
}

CCheckRun::~CCheckRun()
{
    Cancel();
    Wait();
}

bool CCheckRun::Start(int workers)
{
    if (workers <= 0)
        workers = std::clamp(GetCheckSettings().workers, 1, kMaxCheckWorkers);
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

void CCheckRun::CheckOnThisThread()
{
    CheckWorker(m_progress);
}

void CCheckRun::Wait()
{
    for (auto& t : m_threads)
        if (t.joinable())
            t.join();
    m_threads.clear();
    m_nothingReached = m_progress.Settle();
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
        if (!started || progress.Done() >= progress.Total() || progress.IsCancelled())
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
