#pragma once

#include "core/page/LinkCheck.h"
#include "core/page/Robots.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class CLink;

/// What one link's check found, kept per link so that a parallel run can report in list order.
struct LinkCheckOutcome
{
    bool checked = false;     ///< a worker took and checked it (false when the run stopped first)
    bool pageChecked = false; ///< CheckLink decided from a parsed page (or dates)
    bool statusChanged = false;
    bool prChanged = false;
    uint32_t oldStatus = 0;
    int oldPR = -1;
    bool retried = false;     ///< the first try failed in a way that may pass; a second one decided
    std::string firstFailure; ///< what the first try of a retried link met ("HTTP status 503")
};

/// Shared by a run, its workers and whoever shows the progress.
struct CheckProgress
{
    std::atomic<int> done{0};
    std::atomic<int> total{0};
    std::atomic<int> cancel{0};
    /// Links checked so far whose new status needs the user's attention (StatusProblematicMask).
    std::atomic<int> problems{0};
    mutable std::mutex queueLock;
    /// Links still to check with their place in the run, in the order given.
    std::deque<std::pair<CLink*, std::size_t>> queue;
    /// Links whose page failed in a way that may pass, with the time of their one more try;
    /// guarded by queueLock. Taken when the queue is empty, the earliest first.
    struct Retry
    {
        CLink* link;
        std::size_t place;
        std::chrono::steady_clock::time_point due;
    };
    std::vector<Retry> retries;
    /// False: every link is tried once (a single link checked while the user waits for it).
    bool retryFailures = true;
    /// Links waiting for their one more try, the one a worker sleeps on included.
    std::atomic<int> waiting{0};
    /// The partner host of each link's From page, by place ("" when it has none).
    std::vector<std::string> hostOf;
    /// Requests at once to one host, and what each host has in flight; guarded by queueLock.
    /// A host that asked for patience (429 or 503 with Retry-After) gets one at a time, not
    /// before the time it named.
    int perSite = 2;
    struct HostState
    {
        int inFlight = 0;
        int limit = 0; ///< 0: perSite
        std::chrono::steady_clock::time_point notBefore{};
    };
    std::map<std::string, HostState> hosts;
    std::condition_variable slotFreed;
    /// The From pages of the links the workers hold now, by place; guarded by queueLock.
    std::map<std::size_t, std::string> held;
    /// One outcome per link of the run, by place.
    std::vector<LinkCheckOutcome> outcomes;
    /// robots.txt is fetched once per site within one run.
    CRobotsCache robots;
    /// Told about each link's check, with its evidence; the one current when the run was made.
    std::shared_ptr<const CheckRecorder> recorder = GetCheckRecorder();

    /// The From page of the link held longest by a worker now (the one a slow site keeps
    /// waiting), "" when no worker holds a link. Safe from any thread.
    std::string PageBeingChecked() const;
};

/// Takes links from the queue until it is empty or the run is cancelled; checks each page and
/// then its PageRank, on this thread.
void CheckWorker(CheckProgress& progress);

/// A run of workers over a list of links. Nothing here blocks a user interface: Start
/// returns at once, and the caller polls the progress, cancels or waits.
///
/// A run holds its links from construction to destruction: the date refresh leaves every link
/// alone meanwhile, and a run constructed while a refresh walks the links waits for that walk.
class CCheckRun
{
public:
    explicit CCheckRun(const std::vector<CLink*>& links);
    ~CCheckRun(); ///< cancels and waits
    CCheckRun(const CCheckRun&) = delete;
    CCheckRun& operator=(const CCheckRun&) = delete;

    /// Starts the workers; false when they could not all be made (then no link is checked).
    /// `workers` 0: as many as the check settings say.
    bool Start(int workers = 0);
    /// Workers finish the link they hold and take no more.
    void Cancel();
    /// Returns when every worker has ended.
    void Wait();
    bool IsFinished() const { return m_finished.load(); }

    CheckProgress& Progress() { return m_progress; }
    const CheckProgress& Progress() const { return m_progress; }
    const std::vector<CLink*>& Links() const { return m_links; }

private:
    /// Entered first and left last, so that the refresh is kept out for the run's whole life.
    class CRunHold
    {
    public:
        CRunHold();
        ~CRunHold();
        CRunHold(const CRunHold&) = delete;
        CRunHold& operator=(const CRunHold&) = delete;
    };

    CRunHold m_hold;
    std::vector<CLink*> m_links;
    CheckProgress m_progress;
    std::vector<std::thread> m_threads;
    std::mutex m_gate;
    bool m_go = false; ///< guarded by m_gate
    std::atomic<bool> m_finished{false};
};

/// The interactive run without its window: the workers over `links` in the order given;
/// `onTick` is called every `tickMs` until every link is done or the run is stopped, and returns
/// false when the user pressed Stop. Returns when every worker has ended. Sends no letter.
void RunInteractiveCheck(const std::vector<CLink*>& links, const std::function<bool(const CheckProgress&)>& onTick,
                         int tickMs = 500);

/// The lists a letter is made of, in the order of the links given.
struct NotificationLists
{
    std::vector<CLink*> changedLinks;
    std::vector<CLink*> expiringLinks;
};

/// Sorts the outcomes of a finished run into the letter's lists: a link whose PageRank changed, or
/// whose status changed to anything but Ok, is changed; every link in its warning period (expired
/// ones too) is expiring. Links the run did not reach are left out.
NotificationLists CollectScheduledResults(const std::vector<CLink*>& links,
                                          const std::vector<LinkCheckOutcome>& outcomes, int warningDays);

/// True from the construction of any CCheckRun in the process to its destruction.
bool IsCheckRunActive();

/// The date refresh: recomputes Ok, Expiring and Expired from the dates of every link, and returns
/// the links whose date status changed to something other than Ok, and the expiring ones. While a
/// check run exists it touches nothing and returns no lists: the run's verdicts are newer than
/// anything the dates say.
std::optional<NotificationLists> RefreshLinkDates(const std::vector<CLink*>& links, int warningDays);
