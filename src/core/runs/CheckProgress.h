#pragma once

#include "core/fetch/Fetch.h"
#include "core/page/LinkCheck.h"
#include "core/page/Robots.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
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
    bool retried = false;                   ///< the first try failed in a way that may pass; a second one decided
    std::string firstFailure;               ///< what the first try of a retried link met ("HTTP status 503")
    FetchReach reach = FetchReach::NotSent; ///< how far the deciding try's request got
};

/// What a check may change in a link, as it was before the check.
struct LinkCheckSnapshot
{
    uint32_t status = 0;
    int32_t currentPR = -1;
    int32_t previousPR = -1;
    int32_t externalLinks = 0;

    static LinkCheckSnapshot Of(const CLink& link);
    /// Puts the link back (a rank of -1 cannot be put back once a lookup gave one).
    void RestoreInto(CLink& link) const;
};

/// A check that could not ask for its page at all (no name, no connection, no proxy), with the
/// link as it was before: set aside until the run knows whether the user's own network was down.
struct SetAsideCheck
{
    CLink* link = nullptr;
    LinkCheckSnapshot before;
    CheckEvidence evidence;
};

/// How a run treats its links; fixed when the run is made.
struct CheckRunOptions
{
    /// False: every link is tried once (a single link checked while the user waits for it).
    bool retryFailures = true;
    /// Requests at once to one host; 0: as many as the check settings say.
    int perSite = 0;
    /// Told about each link's check, with its evidence: by default the one current when the run
    /// is made (the history's); null tells nobody.
    std::shared_ptr<const CheckRecorder> recorder = GetCheckRecorder();
};

/// A link a worker holds: its place in the run, whether this is its one more try, and its outcome
/// so far, which the worker fills in and hands back with CheckProgress::Finish.
struct TakenLink
{
    CLink* link = nullptr;
    std::size_t place = 0;
    bool isRetry = false;
    LinkCheckOutcome outcome;
    /// The host whose slot the link holds: its page's, or where a redirect took the request.
    std::string slotHost;
    /// Filled by the worker when the page could not be asked for at all.
    std::unique_ptr<SetAsideCheck> setAside;
};

/// The state a run shares between its workers and whoever shows the progress: the links still to
/// check, the pages to try once more, what each host has in flight, the pages the workers hold
/// and one outcome per link. The counts are read from any thread without waiting; everything
/// else changes only here, under one lock.
///
/// A host is never given more requests at once than the run's per-site number, a redirect's
/// requests counted against the host they go to. A host that asks for patience (a 429 or 503 with
/// Retry-After) rests once: none of its links goes until the time it named, the longest any of
/// its answers named meanwhile, and then they go together again. Later requests for patience from
/// it are kept by the links that met them, each waiting for its own one more try.
class CheckProgress
{
public:
    /// The queue over `links` spreads the links of one host over the run, one from each host in
    /// turn; the per-site number is clamped to what the settings allow.
    CheckProgress(const std::vector<CLink*>& links, const CheckRunOptions& options);
    CheckProgress(const CheckProgress&) = delete;
    CheckProgress& operator=(const CheckProgress&) = delete;

    /// Links checked so far (a link waiting for its one more try is not).
    int Done() const { return m_done.load(); }
    int Total() const { return m_total; }
    /// Links checked so far whose new status needs the user's attention (StatusProblematicMask).
    int Problems() const { return m_problems.load(); }
    /// Links waiting for their one more try, the one a worker sleeps on included.
    int WaitingForRetry() const { return m_waiting.load(); }
    bool IsCancelled() const { return m_cancel.load(); }
    bool RetriesFailures() const { return m_retryFailures; }
    /// The From page of the link held longest by a worker now (the one a slow site keeps
    /// waiting), "" when no worker holds a link.
    std::string PageBeingChecked() const;
    /// The places of the links no worker has taken yet, in the order the queue holds them.
    std::vector<std::size_t> QueuedPlaces() const;
    /// One outcome per link of the run, by place. Read it once no worker runs any more: until
    /// then the workers are still writing it.
    const std::vector<LinkCheckOutcome>& Outcomes() const { return m_outcomes; }

    /// Workers finish the link they hold and take no more; those waiting for a host or a retry's
    /// time hear of it at once.
    void Cancel();

    /// The next link for a worker: from the queue the first whose host has a slot free, else the
    /// retry due first among those whose host has one, waited for until its time. While every
    /// host in sight is busy or resting, the worker sleeps until a slot is freed, a resting host
    /// may be asked again, or Stop. The link counts against its host and its From page is the
    /// one being checked until Finish. Nothing when there is nothing left, or after Stop.
    std::optional<TakenLink> TakeNext();
    /// The worker holding `taken` is about to send a request to `host`: returns once one may go,
    /// with the link's slot moved there. The slot on another host is given back before the wait,
    /// so no worker waits while holding one. After Cancel it returns at once, since the worker
    /// finishes the link it holds.
    void MoveSlot(TakenLink& taken, const std::string& host);
    /// The worker is done with `taken`: its host slot is given back, and the host that answered
    /// rests when `retry` says it asked for patience and has not rested yet. When `retry` asks for
    /// one more try (seconds >= 0) on a first try in a run that retries, the link waits for it (for
    /// the end of its host's rest while the host rests); otherwise it counts as checked with
    /// `taken.outcome`.
    void Finish(TakenLink taken, RetryRequest retry);

    /// Once no worker runs any more. A run none of whose requests reached a partner, where every
    /// failure was on the user's side, changed nothing: the proxy could not be reached, or neither
    /// name nor connection could be had for two sites or more (one site alone may just be down).
    /// Then every link is put back as it was, counts as not checked, and the reason is returned
    /// ("The proxy 127.0.0.1:3999 refused the connection; nothing was changed"). Otherwise the
    /// checks still set aside are told to the recorder and "" is returned. Only the first call acts.
    std::string Settle();

    /// robots.txt is fetched once per site within one run.
    CRobotsCache& Robots() { return m_robots; }
    /// Told about each link's check, with its evidence; the one current when the run was made.
    const CheckRecorder* Recorder() const { return m_recorder.get(); }

private:
    struct Retry
    {
        CLink* link;
        std::size_t place;
        std::chrono::steady_clock::time_point due;
    };
    struct HostState
    {
        int inFlight = 0;
        std::chrono::steady_clock::time_point notBefore{}; ///< the end of its rest
        bool rested = false;
    };

    const std::string& HostOf(std::size_t place) const;
    bool HostIsFree(const std::string& host, std::chrono::steady_clock::time_point now) const;
    /// Counts a request against `host`, or gives its slot back; with m_lock held.
    void Occupy(const std::string& host);
    void Release(const std::string& host);
    /// Tells the recorder of the checks set aside, which count after all; with m_lock held.
    void TellSetAside();
    /// Hands the link to a worker: its page is the one being checked; with m_lock held.
    TakenLink Hold(CLink* link, std::size_t place, bool isRetry);

    const int m_total;
    const bool m_retryFailures;
    const int m_perSite;
    /// The partner host of each link's From page, by place ("" when it has none).
    const std::vector<std::string> m_hostOf;
    std::atomic<int> m_done{0};
    std::atomic<int> m_problems{0};
    std::atomic<int> m_waiting{0};
    std::atomic<bool> m_cancel{false};

    mutable std::mutex m_lock;
    /// Notified whenever a host slot is freed, and on Stop.
    std::condition_variable m_slotFreed;
    /// Links still to check with their place in the run; guarded by m_lock.
    std::deque<std::pair<CLink*, std::size_t>> m_queue;
    /// Links whose page failed in a way that may pass, with the time of their one more try; taken
    /// when the queue is empty, the earliest first. Guarded by m_lock.
    std::vector<Retry> m_retries;
    /// Guarded by m_lock.
    std::map<std::string, HostState> m_hosts;
    /// The From pages of the links the workers hold now, by place; guarded by m_lock.
    std::map<std::size_t, std::string> m_held;
    /// By place; a link's entry is written only by Finish, under m_lock.
    std::vector<LinkCheckOutcome> m_outcomes;
    /// Whether any try reached a partner, the checks set aside with their places (told to the
    /// recorder as soon as one did), and the hosts of their pages; guarded by m_lock.
    bool m_reachedAny = false;
    std::vector<std::pair<std::size_t, std::unique_ptr<SetAsideCheck>>> m_setAside;
    std::set<std::string> m_unreachedHosts;
    std::optional<std::string> m_settled;

    CRobotsCache m_robots;
    const std::shared_ptr<const CheckRecorder> m_recorder;
};
