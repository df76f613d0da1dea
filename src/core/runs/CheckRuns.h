#pragma once

#include "CheckProgress.h"
#include "DateRefresh.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CLink;

/// A run of workers over a list of links. Nothing here blocks a user interface: Start
/// returns at once, and the caller polls the progress, cancels or waits.
///
/// A run holds its links from construction to destruction: the date refresh leaves every link
/// alone meanwhile, and a run constructed while a refresh walks the links waits for that walk.
class CCheckRun
{
public:
    explicit CCheckRun(const std::vector<CLink*>& links, const CheckRunOptions& options = {});
    ~CCheckRun(); ///< cancels and waits
    CCheckRun(const CCheckRun&) = delete;
    CCheckRun& operator=(const CCheckRun&) = delete;

    /// Starts the workers; false when they could not all be made (then no link is checked).
    /// `workers` 0: as many as the check settings say.
    bool Start(int workers = 0);
    /// A worker's work on the calling thread, until the queue is empty or the run is cancelled:
    /// for a caller that could have no threads.
    void CheckOnThisThread();
    /// Workers finish the link they hold and take no more. Safe from any thread.
    void Cancel();
    /// Returns when every worker has ended, and the run has settled (CheckProgress::Settle).
    void Wait();
    /// After Wait: why the run changed nothing, "" when it counts.
    const std::string& NothingReached() const { return m_nothingReached; }
    bool IsFinished() const { return m_finished.load(); }

    const CheckProgress& Progress() const { return m_progress; }
    const std::vector<CLink*>& Links() const { return m_links; }

private:
    /// Taken first and given back last, so that the refresh is kept out for the run's whole life.
    CDateRefreshHold m_hold{CDateRefreshHold::ForRun{}};
    std::vector<CLink*> m_links;
    CheckProgress m_progress;
    std::vector<std::thread> m_threads;
    std::mutex m_gate;
    bool m_go = false; ///< guarded by m_gate
    std::string m_nothingReached;
    std::atomic<bool> m_finished{false};
};

/// The interactive run without its window: the workers over `links` in the order given;
/// `onTick` is called every `tickMs` until every link is done or the run is stopped, and returns
/// false when the user pressed Stop. Returns when every worker has ended. Sends no letter.
void RunInteractiveCheck(const std::vector<CLink*>& links, const std::function<bool(const CheckProgress&)>& onTick,
                         int tickMs = 500);

/// Sorts the outcomes of a finished run into the letter's lists: a link whose PageRank changed, or
/// whose status changed to anything but Ok, is changed; every link in its warning period (expired
/// ones too) is expiring. Links the run did not reach are left out.
NotificationLists CollectScheduledResults(const std::vector<CLink*>& links,
                                          const std::vector<LinkCheckOutcome>& outcomes, int warningDays);
