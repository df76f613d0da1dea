#include "LinkCheck.h"

#include <algorithm>

#include "PageScan.h"
#include "Robots.h"
#include "core/fetch/CheckSettings.h"
#include "core/fetch/Fetch.h"
#include "core/fetch/Url.h"

#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/records/OleDateTime.h"

#include <exception>
#include <mutex>

namespace {

uint32_t StatusByDates(const CLink& link, const OleDateTime& now, int warningDays)
{
    if (link.IsExpired(now))
        return StatusExpired;
    if (link.IsExpiring(warningDays, now))
        return StatusExpiring;
    return StatusOk;
}

std::mutex g_recorderLock;
std::shared_ptr<const CheckRecorder> g_recorder;

void Tell(const CLink& link, const CheckEvidence* evidence)
{
    const std::shared_ptr<const CheckRecorder> recorder = GetCheckRecorder();
    if (recorder)
        (*recorder)(link, evidence);
}

// Markup spread over several lines reads as one line of evidence.
std::string OneLine(std::string_view text)
{
    std::string line;
    line.reserve(text.size());
    bool blank = false;
    for (const char c : text) {
        const bool space = c == '\n' || c == '\r' || c == '\t' || c == ' ';
        if (space && blank)
            continue;
        line += space ? ' ' : c;
        blank = space;
    }
    return line;
}

} // namespace

std::string ClippedEvidence(std::string_view text)
{
    if (text.size() <= kMaxEvidenceText)
        return std::string(text);
    std::size_t cut = kMaxEvidenceText - 3;
    // Never half a character: back up over UTF-8 continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return std::string(text.substr(0, cut)) + "...";
}

namespace {

std::string FetchFailureText(bool fetched, uint32_t httpStatus, const FetchOutcome& outcome)
{
    return fetched ? "HTTP status " + std::to_string(httpStatus) : ClippedEvidence(outcome.error);
}

} // namespace

void SetCheckRecorder(CheckRecorder recorder)
{
    auto shared = recorder ? std::make_shared<const CheckRecorder>(std::move(recorder)) : nullptr;
    std::lock_guard lock(g_recorderLock);
    g_recorder = std::move(shared);
}

std::shared_ptr<const CheckRecorder> GetCheckRecorder()
{
    std::lock_guard lock(g_recorderLock);
    return g_recorder;
}

std::vector<std::string> CheckEvidence::Lines(uint32_t status) const
{
    std::vector<std::string> lines;
    if (!fetched)
        return lines;
    if (status == StatusCantOpen) {
        lines.push_back("fetch: " + (fetchError.empty() ? std::string("the page could not be read") : fetchError));
        return lines;
    }
    const std::vector<MatchingAnchor>& matches = findings.matches;
    if (status == StatusNotPresent || matches.empty()) {
        lines.push_back("not present: no anchor of the page names the To Page");
        return lines;
    }
    if (status == StatusNofollow)
        for (const std::string& signal : findings.nofollowSignals)
            lines.push_back("nofollow: " + OneLine(signal));
    if (status == StatusRobots)
        lines.push_back("robots.txt: " + OneLine(robotsRule));
    // The anchor the verdict rests on: for a nofollow verdict by rel the one that carries it.
    const MatchingAnchor* shown = &matches.front();
    if (status == StatusNofollow)
        for (const MatchingAnchor& match : matches)
            if (!match.rel.empty() && !match.source.empty()) {
                shown = &match;
                break;
            }
    lines.push_back("anchor: " + (shown->source.empty() ? "href=\"" + shown->href + "\" rel=\"" + shown->rel + "\""
                                                        : OneLine(shown->source)));
    if (status == StatusInvalidText)
        lines.push_back("text: \"" + ClippedEvidence(shown->text) + "\" is not the expected anchor text");
    return lines;
}

std::string CheckEvidence::Text(uint32_t status) const
{
    std::string text;
    for (const std::string& line : Lines(status)) {
        if (!text.empty())
            text += '\n';
        text += line;
    }
    return ClippedEvidence(text);
}

uint32_t DecideStatus(const PageFindings& findings, const CLink& link, const OleDateTime& now, int warningDays)
{
    if (!findings.found)
        return StatusNotPresent;
    if (findings.nofollowSeen)
        return StatusNofollow;
    if (findings.textOk)
        return StatusByDates(link, now, warningDays);
    return StatusInvalidText;
}

bool CheckLinkDates(CLink* link, bool& changed)
{
    changed = false;
    if (!link)
        return false;
    const uint32_t old = link->GetStatus();
    // Only the date-driven states move here; a problem the last full check found stays. A link
    // never checked stays so: calling it Ok would claim a check that never saw it on its page (its
    // row still shows the colour its dates give).
    if (old != StatusNone && old <= StatusExpired)
        link->SetStatus(StatusByDates(*link, OleDateTime::Now(), GetCheckSettings().warningDays));
    changed = link->GetStatus() != old;
    if (changed)
        Tell(*link, nullptr);
    return true;
}

bool CheckLink(CLink* link, bool& changed, bool datesOnly, CheckEvidence* evidence, CRobotsCache* robots,
               RetryRequest* retry)
{
    changed = false;
    if (retry)
        *retry = RetryRequest();
    if (!link)
        return false;
    if (datesOnly)
        return CheckLinkDates(link, changed);

    const uint32_t old = link->GetStatus();
    try {
        const std::string pageUrl = NormalizeUrl(link->GetFromPage());
        std::string text;
        std::string headers;
        uint32_t httpStatus = 0;
        FetchOutcome outcome;
        CPageLease lease;
        const bool fetched = FetchPageText(pageUrl, text, httpStatus, &headers, kMaxPageLength, &outcome, &lease);
        if (evidence) {
            evidence->fetched = true;
            evidence->reach = outcome.reach;
            evidence->httpStatus = static_cast<int>(httpStatus);
            if (outcome.finalUrl != pageUrl)
                evidence->finalUrl = ClippedEvidence(outcome.finalUrl);
            evidence->fetchError = FetchFailureText(fetched, httpStatus, outcome);
        }
        if (!fetched || !IsHttpSuccess(httpStatus)) {
            if (retry && outcome.transient) {
                const CheckSettings settings = GetCheckSettings();
                retry->seconds =
                    std::clamp(std::max(outcome.retryAfter, settings.retryMinSeconds), settings.retryMinSeconds,
                               std::max(settings.retryMaxSeconds, settings.retryMinSeconds));
                retry->failure = FetchFailureText(fetched, httpStatus, outcome);
                retry->askedToWait = outcome.retryAfter >= 0 && (httpStatus == 429 || httpStatus == 503);
                return false; // the link keeps its status until the next try decides
            }
            link->SetStatus(StatusCantOpen);
            changed = old != StatusCantOpen;
            return false;
        }

        if (evidence)
            evidence->fetchError.clear();
        PageFindings findings;
        bool scanned = false;
        WalkInTurn(text.size(),
                   [&] { scanned = ScanPage(pageUrl, text, headers, link->GetToPage(), link->GetAnchor(), findings); });
        // The page is not needed any more, and robots.txt may keep this check a while yet.
        lease.Drop(text);
        if (!scanned) {
            if (evidence)
                evidence->fetchError = "the page could not be parsed as HTML";
            return false;
        }
        link->SetExternalLinks(findings.externalLinks);

        uint32_t status = DecideStatus(findings, *link, OleDateTime::Now(), GetCheckSettings().warningDays);
        // Expiring, expired, missing and nofollow links are reported as they are, whatever
        // robots.txt says; only a link that would otherwise count is held against it.
        if (status == StatusOk || status == StatusInvalidText) {
            // robots.txt goes without a host slot: the other links of the site may hold them all
            // while they wait for this very file.
            const CHostSlotScope noSlots(nullptr);
            if (IsBlockedByRobots(pageUrl, robots, evidence ? &evidence->robotsRule : nullptr))
                status = StatusRobots;
        }
        link->SetStatus(status);
        changed = status != old;
        if (evidence)
            evidence->findings = std::move(findings);
        return true;
    } catch (const std::exception&) {
        changed = link->GetStatus() != old;
        return false;
    }
}

bool UrlsMatch(const std::string& urlA, const std::string& urlB, bool ignoreWww)
{
    CUrlParts a;
    CUrlParts b;
    if (!ParseHref(nullptr, urlA, a) || !ParseHref(nullptr, urlB, b))
        return false;
    return pagescan::PartsMatch(a, b, ignoreWww);
}

bool IsInternalLink(const std::string& pageUrl, const std::string& href)
{
    CUrlParts page;
    const bool pageRead = ParseHref(nullptr, pageUrl, page);
    CUrlParts target;
    if (ParseHref(pageRead ? &page : nullptr, href, target))
        return pageRead && pagescan::SameSite(page, target);
    // A path, query or fragment: on the page's own site, which is known even without its address
    // for the ones that start at the site's root or stay on the page.
    const std::string_view local = TrimHref(href);
    return pageRead || (!local.empty() && (local[0] == '/' || local[0] == '#'));
}
