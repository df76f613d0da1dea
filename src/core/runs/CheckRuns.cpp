#include "CheckRuns.h"

#include "core/fetch/CheckSettings.h"
#include "core/fetch/Url.h"
#include "core/page/LinkCheck.h"
#include "core/pagerank/PageRank.h"

#include "core/records/Link.h"
#include "core/records/LinkStatus.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <map>
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

// The partner host of the link at `place` ("" when it has none, or the run was made without hosts).
const std::string& HostOf(const CheckProgress& progress, std::size_t place)
{
    static const std::string none;
    return place < progress.hostOf.size() ? progress.hostOf[place] : none;
}

// Whether a worker may ask `host` for a page now; with queueLock held.
bool HostIsFree(CheckProgress& progress, const std::string& host, std::chrono::steady_clock::time_point now)
{
    if (host.empty())
        return true;
    const auto found = progress.hosts.find(host);
    if (found == progress.hosts.end())
        return true;
    const CheckProgress::HostState& state = found->second;
    return state.inFlight < (state.limit > 0 ? state.limit : progress.perSite) && now >= state.notBefore;
}

// Links further back than this are not looked at for a free host: the queue is spread over the
// hosts, so a run with many sites finds one at once, and one with few waits for a slot anyway.
constexpr std::size_t kLookAhead = 512;

// A worker with nothing to take looks again at least this often, for a Stop that came without a
// word (the unattended run's signal handler can only set the flag).
constexpr std::chrono::seconds kStopCheck{1};

// The next link for a worker: from the queue the first whose host has a slot free, else the
// retry due first among those whose host has one, waited for; while every host in sight is busy
// or resting, the worker sleeps until a finished page frees a slot, a resting host may be asked
// again, or Stop. False when there is nothing left, or the run was stopped meanwhile.
bool TakeNext(CheckProgress& progress, std::pair<CLink*, std::size_t>& item, bool& isRetry)
{
    const auto hostOf = [&progress](std::size_t place) -> const std::string& { return HostOf(progress, place); };
    std::chrono::steady_clock::time_point due;
    std::unique_lock lock(progress.queueLock);
    for (;;) {
        if (progress.cancel.load())
            return false;
        const auto now = std::chrono::steady_clock::now();
        auto wakeAt = now + kStopCheck;
        const auto noteRest = [&](const std::string& host) {
            if (host.empty())
                return;
            const auto found = progress.hosts.find(host);
            if (found != progress.hosts.end() && found->second.notBefore > now)
                wakeAt = std::min(wakeAt, found->second.notBefore);
        };
        const std::size_t look = std::min(progress.queue.size(), kLookAhead);
        for (std::size_t i = 0; i < look; ++i) {
            const std::string& host = hostOf(progress.queue[i].second);
            if (!HostIsFree(progress, host, now)) {
                noteRest(host);
                continue;
            }
            item = progress.queue[i];
            progress.queue.erase(progress.queue.begin() + static_cast<std::ptrdiff_t>(i));
            if (!host.empty())
                ++progress.hosts[host].inFlight;
            isRetry = false;
            return true;
        }
        if (progress.queue.empty()) {
            if (progress.retries.empty())
                return false;
            auto first = progress.retries.end();
            for (auto it = progress.retries.begin(); it != progress.retries.end(); ++it) {
                if (!HostIsFree(progress, hostOf(it->place), now))
                    noteRest(hostOf(it->place));
                else if (first == progress.retries.end() || it->due < first->due)
                    first = it;
            }
            if (first != progress.retries.end()) {
                item = {first->link, first->place};
                due = first->due;
                progress.retries.erase(first);
                if (const std::string& host = hostOf(item.second); !host.empty())
                    ++progress.hosts[host].inFlight;
                isRetry = true;
                break;
            }
        }
        progress.slotFreed.wait_until(lock, wakeAt);
    }
    // The retry's own time; only Stop ends the wait early.
    while (!progress.cancel.load() && std::chrono::steady_clock::now() < due)
        progress.slotFreed.wait_until(lock, std::min(due, std::chrono::steady_clock::now() + kStopCheck));
    progress.waiting.fetch_sub(1);
    return !progress.cancel.load();
}

// The host a link's page is asked of, lower case, without the port.
std::string PageHost(const std::string& fromPage)
{
    CUrlParts parts;
    if (!ParseHref(nullptr, NormalizeUrl(fromPage), parts))
        return {};
    std::string host = parts.host;
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return host;
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
        std::unique_lock lock(progress.queueLock);
        progress.held.erase(item.second);
        if (const std::string& host = HostOf(progress, item.second); !host.empty()) {
            CheckProgress::HostState& state = progress.hosts[host];
            --state.inFlight;
            if (retry.askedToWait) {
                // It said how long to leave it alone: one request at a time from now on.
                state.limit = 1;
                state.notBefore = std::chrono::steady_clock::now() + std::chrono::seconds(retry.seconds);
            }
        }
        progress.slotFreed.notify_all();
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
    m_progress.perSite = std::clamp(GetCheckSettings().perSite, 1, kMaxCheckPerSite);
    m_progress.hostOf.reserve(links.size());
    // The links of one host are spread over the run, one from each host in turn, so that a site
    // with many links neither waits for the others nor gets them all back to back.
    std::map<std::string, std::vector<std::size_t>> byHost;
    std::vector<const std::vector<std::size_t>*> order;
    for (std::size_t i = 0; i < links.size(); ++i) {
        m_progress.hostOf.push_back(PageHost(links[i]->GetFromPage()));
        auto [it, added] = byHost.try_emplace(m_progress.hostOf.back());
        if (added)
            order.push_back(&it->second);
        it->second.push_back(i);
    }
    // Each round visits only the hosts with links left: one host with thousands of links among
    // thousands of hosts with one must not cost rounds times hosts.
    for (std::size_t round = 0; !order.empty(); ++round) {
        std::size_t kept = 0;
        for (const std::vector<std::size_t>* places : order) {
            const std::size_t place = (*places)[round];
            m_progress.queue.emplace_back(links[place], place);
            if (round + 1 < places->size())
                order[kept++] = places;
        }
        order.resize(kept);
    }
}

void CCheckRun::Cancel()
{
    m_progress.cancel.store(1);
    // Workers waiting for a host slot or a retry's time hear of it at once.
    {
        std::lock_guard lock(m_progress.queueLock);
    }
    m_progress.slotFreed.notify_all();
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
