#include "CheckProgress.h"

#include "core/fetch/CheckSettings.h"
#include "core/fetch/Fetch.h"
#include "core/fetch/Url.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"

#include <algorithm>
#include <cctype>

namespace {

using Clock = std::chrono::steady_clock;

// Links further back than this are not looked at for a free host: the queue is spread over the
// hosts, so a run with many sites finds one at once, and one with few waits for a slot anyway.
constexpr std::size_t kLookAhead = 512;

// A worker with nothing to take looks again at least this often. Stop and a freed slot wake it at
// once; the bound keeps a wake-up that went astray from costing more than a moment.
constexpr std::chrono::seconds kStopCheck{1};

// The host a link's page is asked of, as the fetch names the host of each request.
std::vector<std::string> HostsOf(const std::vector<CLink*>& links)
{
    std::vector<std::string> hosts;
    hosts.reserve(links.size());
    for (const CLink* link : links)
        hosts.push_back(RequestHost(NormalizeUrl(link->GetFromPage())));
    return hosts;
}

} // namespace

CheckProgress::CheckProgress(const std::vector<CLink*>& links, const CheckRunOptions& options)
    : m_total(static_cast<int>(links.size())), m_retryFailures(options.retryFailures),
      m_perSite(std::clamp(options.perSite > 0 ? options.perSite : GetCheckSettings().perSite, 1, kMaxCheckPerSite)),
      m_hostOf(HostsOf(links)), m_outcomes(links.size()), m_recorder(options.recorder)
{
    // The links of one host are spread over the run, one from each host in turn, so that a site
    // with many links neither waits for the others nor gets them all back to back.
    std::map<std::string, std::vector<std::size_t>> byHost;
    std::vector<const std::vector<std::size_t>*> order;
    for (std::size_t i = 0; i < links.size(); ++i) {
        auto [it, added] = byHost.try_emplace(m_hostOf[i]);
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
            m_queue.emplace_back(links[place], place);
            if (round + 1 < places->size())
                order[kept++] = places;
        }
        order.resize(kept);
    }
}

const std::string& CheckProgress::HostOf(std::size_t place) const
{
    static const std::string none;
    return place < m_hostOf.size() ? m_hostOf[place] : none;
}

bool CheckProgress::HostIsFree(const std::string& host, Clock::time_point now) const
{
    if (host.empty())
        return true;
    const auto found = m_hosts.find(host);
    if (found == m_hosts.end())
        return true;
    const HostState& state = found->second;
    return state.inFlight < m_perSite && now >= state.notBefore;
}

void CheckProgress::Occupy(const std::string& host)
{
    if (!host.empty())
        ++m_hosts[host].inFlight;
}

void CheckProgress::Release(const std::string& host)
{
    if (!host.empty())
        --m_hosts[host].inFlight;
    m_slotFreed.notify_all();
}

TakenLink CheckProgress::Hold(CLink* link, std::size_t place, bool isRetry)
{
    // A copy, so that whoever shows it never reads a record a worker writes.
    m_held.emplace(place, link->GetFromPage());
    return {link, place, isRetry, m_outcomes[place], HostOf(place), nullptr};
}

void CheckProgress::MoveSlot(TakenLink& taken, const std::string& host)
{
    std::unique_lock lock(m_lock);
    if (host == taken.slotHost)
        return;
    Release(taken.slotHost);
    taken.slotHost.clear();
    for (;;) {
        const auto now = Clock::now();
        if (m_cancel.load() || HostIsFree(host, now))
            break;
        auto wakeAt = now + kStopCheck;
        if (const auto found = m_hosts.find(host); found != m_hosts.end() && found->second.notBefore > now)
            wakeAt = std::min(wakeAt, found->second.notBefore);
        m_slotFreed.wait_until(lock, wakeAt);
    }
    Occupy(host);
    taken.slotHost = host;
}

std::optional<TakenLink> CheckProgress::TakeNext()
{
    std::unique_lock lock(m_lock);
    Retry retry{};
    for (;;) {
        if (m_cancel.load())
            return std::nullopt;
        const auto now = Clock::now();
        auto wakeAt = now + kStopCheck;
        const auto noteRest = [&](const std::string& host) {
            if (host.empty())
                return;
            const auto found = m_hosts.find(host);
            if (found != m_hosts.end() && found->second.notBefore > now)
                wakeAt = std::min(wakeAt, found->second.notBefore);
        };
        const std::size_t look = std::min(m_queue.size(), kLookAhead);
        for (std::size_t i = 0; i < look; ++i) {
            const auto [link, place] = m_queue[i];
            const std::string& host = HostOf(place);
            if (!HostIsFree(host, now)) {
                noteRest(host);
                continue;
            }
            m_queue.erase(m_queue.begin() + static_cast<std::ptrdiff_t>(i));
            Occupy(host);
            return Hold(link, place, false);
        }
        if (m_queue.empty()) {
            if (m_retries.empty())
                return std::nullopt;
            auto first = m_retries.end();
            for (auto it = m_retries.begin(); it != m_retries.end(); ++it) {
                if (!HostIsFree(HostOf(it->place), now))
                    noteRest(HostOf(it->place));
                else if (first == m_retries.end() || it->due < first->due)
                    first = it;
            }
            if (first != m_retries.end()) {
                retry = *first;
                m_retries.erase(first);
                Occupy(HostOf(retry.place));
                break;
            }
        }
        m_slotFreed.wait_until(lock, wakeAt);
    }
    // The retry's own time; only Stop ends the wait early.
    while (!m_cancel.load() && Clock::now() < retry.due)
        m_slotFreed.wait_until(lock, std::min(retry.due, Clock::now() + kStopCheck));
    m_waiting.fetch_sub(1);
    if (m_cancel.load()) {
        // A link taken after Stop stays as it was.
        Release(HostOf(retry.place));
        return std::nullopt;
    }
    return Hold(retry.link, retry.place, true);
}

void CheckProgress::Finish(TakenLink taken, RetryRequest retry)
{
    std::lock_guard lock(m_lock);
    m_held.erase(taken.place);
    const auto now = Clock::now();
    auto due = now + std::chrono::seconds(std::max(retry.seconds, 0));
    if (const std::string& host = taken.slotHost; !host.empty() && retry.askedToWait) {
        // One rest per host: the answers that come while it rests make it as long as the longest
        // asked, and every link of the host waits for it. Once it is over the host is not left
        // alone again; a link that asks for patience then waits its own time while the host's
        // other links go on, so those waits overlap. A site under maintenance would otherwise keep
        // the run waiting a rest for each of its links.
        HostState& state = m_hosts[host];
        if (!state.rested || now < state.notBefore) {
            state.notBefore = std::max(state.notBefore, due);
            state.rested = true;
            due = state.notBefore;
        }
    }
    Release(taken.slotHost);
    LinkCheckOutcome& outcome = m_outcomes[taken.place];
    outcome = std::move(taken.outcome);
    if (outcome.reach == FetchReach::Reached)
        m_reachedAny = true;
    if (taken.setAside) {
        m_unreachedHosts.insert(HostOf(taken.place));
        m_setAside.emplace_back(taken.place, std::move(taken.setAside));
    }
    // Once a partner answered the run counts: what was set aside need not wait for its end.
    if (m_reachedAny)
        TellSetAside();
    // One more try at most, and none in a run that tries each link once.
    if (retry.seconds >= 0 && !taken.isRetry && m_retryFailures) {
        outcome.firstFailure = std::move(retry.failure);
        m_retries.push_back({taken.link, taken.place, due});
        m_waiting.fetch_add(1);
        return;
    }
    outcome.checked = true;
    if (taken.link->GetStatus() & StatusProblematicMask)
        m_problems.fetch_add(1);
    m_done.fetch_add(1);
}

void CheckProgress::Cancel()
{
    {
        std::lock_guard lock(m_lock);
        m_cancel.store(true);
    }
    m_slotFreed.notify_all();
}

std::string CheckProgress::PageBeingChecked() const
{
    std::lock_guard lock(m_lock);
    return m_held.empty() ? std::string() : m_held.begin()->second;
}

std::vector<std::size_t> CheckProgress::QueuedPlaces() const
{
    std::lock_guard lock(m_lock);
    std::vector<std::size_t> places;
    places.reserve(m_queue.size());
    for (const auto& entry : m_queue)
        places.push_back(entry.second);
    return places;
}

LinkCheckSnapshot LinkCheckSnapshot::Of(const CLink& link)
{
    return {link.GetStatus(), link.GetCurrentPR(), link.GetPreviousPR(), link.GetExternalLinks()};
}

void LinkCheckSnapshot::RestoreInto(CLink& link) const
{
    link.SetStatus(status);
    link.SetCurrentPR(currentPR);
    link.SetPreviousPR(previousPR);
    link.SetExternalLinks(externalLinks);
}

void CheckProgress::TellSetAside()
{
    if (m_recorder && *m_recorder)
        for (const auto& entry : m_setAside)
            (*m_recorder)(*entry.second->link, &entry.second->evidence);
    m_setAside.clear();
}

namespace {

// What went wrong without curl's words: "the proxy 127.0.0.1:3999 refused the connection".
std::string FirstClause(const std::string& error)
{
    return error.substr(0, error.find(" ("));
}

} // namespace

std::string CheckProgress::Settle()
{
    std::lock_guard lock(m_lock);
    if (m_settled)
        return *m_settled;
    // In list order, as the workers' order is chance.
    std::sort(m_setAside.begin(), m_setAside.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const SetAsideCheck* proxy = nullptr;
    for (const auto& entry : m_setAside)
        if (!proxy && entry.second->evidence.reach == FetchReach::NoProxy)
            proxy = entry.second.get();
    const bool userSide = !m_reachedAny && !m_setAside.empty() && (proxy || m_unreachedHosts.size() >= 2);
    std::string reason;
    if (!userSide) {
        // A site that could not be reached counts against its links, as any other failure does.
        TellSetAside();
    } else {
        for (const auto& [place, check] : m_setAside) {
            check->before.RestoreInto(*check->link);
            LinkCheckOutcome& outcome = m_outcomes[place];
            outcome.checked = false;
            outcome.statusChanged = false;
            outcome.prChanged = false;
        }
        if (proxy) {
            reason = FirstClause(proxy->evidence.fetchError);
        } else {
            const auto& [place, check] = m_setAside.front();
            reason = "no partner site could be reached, the network seems to be down (" + HostOf(place) + ": " +
                     FirstClause(check->evidence.fetchError) + ")";
        }
        reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
        reason += "; nothing was changed";
    }
    m_setAside.clear();
    m_settled = reason;
    return reason;
}
