#pragma once

#include "core/fetch/Fetch.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CLink;
class CRobotsCache;
class OleDateTime;

/// One anchor element of the page that names the To Page, as the check saw it.
struct MatchingAnchor
{
    std::string href;
    std::string rel;
    std::string text;
    /// Its markup as the page has it, cut at kMaxEvidenceText; only the first
    /// kMaxSourcedMatches matches keep it.
    std::string source;
};

/// A piece of evidence (an anchor's markup, a header line) is kept up to this many bytes.
constexpr std::size_t kMaxEvidenceText = 1000;
constexpr std::size_t kMaxSourcedMatches = 8;

/// `text` cut at kMaxEvidenceText bytes, at a character boundary, with "..." when cut.
std::string ClippedEvidence(std::string_view text);

/// What the walk over one page found.
struct PageFindings
{
    bool found = false;
    bool nofollowSeen = false;
    bool textOk = false;
    int externalLinks = 0;
    std::vector<MatchingAnchor> matches;
    /// What made the page's link nofollow, first seen first, each once: "rel=\"sponsored\"",
    /// "meta robots \"noindex, nofollow\"", "X-Robots-Tag: nofollow", "NOINDEX section".
    std::vector<std::string> nofollowSignals;
};

/// Walks the page text as HTML (no script runs) and applies the link rules: matching anchors,
/// their text and nofollow (rel nofollow/sponsored/ugc, NOINDEX sections, a robots or googlebot
/// meta element, an X-Robots-Tag header in `headers`), and the distinct external followed links.
/// False when the HTML could not be parsed.
bool ScanPage(const std::string& pageUrl, const std::string& pageText, const std::string& headers,
              const std::string& toPage, const std::string& anchor, PageFindings& findings);

/// The status the findings give the link at `now`, before robots.txt is asked: Not present,
/// Nofollow, Ok/Expiring/Expired by the dates, or Invalid text.
uint32_t DecideStatus(const PageFindings& findings, const CLink& link, const OleDateTime& now, int warningDays);

/// What one check of a link's page saw, so that its verdict can be shown and kept.
struct CheckEvidence
{
    bool fetched = false;   ///< the page was asked for (false: no link, or dates only)
    int httpStatus = 0;     ///< of the final response; 0 when none came
    std::string finalUrl;   ///< after redirects; "" when it is the From page itself
    std::string fetchError; ///< why the page did not count as read ("HTTP status 404", "time-out (...)")
    std::string robotsRule; ///< what in robots.txt shut the page out
    PageFindings findings;  ///< the walk's, when the page was parsed
    /// How far the request for the page got.
    FetchReach reach = FetchReach::NotSent;

    /// The facts behind `status` (the status the check stored), one a line without line ends:
    /// "fetch: ...", "anchor: <a ...>...</a>", "text: ...", "nofollow: ...", "robots.txt: ...",
    /// "not present: ...". Empty when the check never asked for the page.
    std::vector<std::string> Lines(uint32_t status) const;
    /// The lines joined with "\n", at most kMaxEvidenceText bytes: what the history keeps.
    std::string Text(uint32_t status) const;
};

/// Fetches the From page and stores exactly one status in the link (and its external link count
/// when the page was parsed). `changed` when the status differs from before. False when the page
/// could not be fetched (Can't open page stored) or parsed (nothing stored), or without a link.
/// With `datesOnly` it is CheckLinkDates. `evidence`, when given, receives what the check saw.
/// `robots`, when given, is the run's robots.txt cache (one fetch per site within a run).
/// `retry`, when given, makes a failure that may pass (a time-out, a reset, 429 or 5xx) store
/// nothing: it receives the seconds to wait before the one more try that decides and what went
/// wrong, and the call returns false. Its seconds stay -1 otherwise.
struct RetryRequest
{
    int seconds = -1;
    std::string failure;      ///< "HTTP status 503", "time-out (...)"
    bool askedToWait = false; ///< a 429 or 503 that named its Retry-After: the host wants fewer requests
};
bool CheckLink(CLink* link, bool& changed, bool datesOnly = false, CheckEvidence* evidence = nullptr,
               CRobotsCache* robots = nullptr, RetryRequest* retry = nullptr);

/// Told about every check of a link: `evidence` null for a date-only one. Called on the thread
/// that checked, so it must not wait for anything slow (the history only queues).
using CheckRecorder = std::function<void(const CLink& link, const CheckEvidence* evidence)>;

/// The recorder every check run and date-only check of this process tells from now on; an empty
/// one tells nobody. Runs that already started keep the one they began with.
void SetCheckRecorder(CheckRecorder recorder);
/// The current recorder; null when there is none.
std::shared_ptr<const CheckRecorder> GetCheckRecorder();

/// Recomputes Ok, Expiring and Expired from the dates, for links in one of those; a link never
/// checked keeps its status 0.
bool CheckLinkDates(CLink* link, bool& changed);

/// Both read as a browser reads a href (ParseHref, without a page): same service (http and https
/// count as one when each uses its default port or both the same), same host (punycode), object
/// without case unless either is "/*", same port.
bool UrlsMatch(const std::string& urlA, const std::string& urlB, bool ignoreWww);

/// A relative href (one starting with "/" or "#" even without a page address), one that cannot
/// be read, or one on the page's host (with or without a leading "www."); hrefs are read as a
/// browser reads them, so a protocol-relative one names a host in the page's scheme.
bool IsInternalLink(const std::string& pageUrl, const std::string& href);
