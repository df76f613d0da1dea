#pragma once

#include <cstdint>
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
};

/// What the walk over one page found.
struct PageFindings
{
    bool found = false;
    bool nofollowSeen = false;
    bool textOk = false;
    int externalLinks = 0;
    std::vector<MatchingAnchor> matches;
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

/// Fetches the From page and stores exactly one status in the link (and its external link count
/// when the page was parsed). `changed` when the status differs from before. False when the page
/// could not be fetched (Can't open page stored) or parsed (nothing stored), or without a link.
/// With `datesOnly` it is CheckLinkDates. `report`, when given, receives what the walk found.
/// `robots`, when given, is the run's robots.txt cache (one fetch per site within a run).
bool CheckLink(CLink* link, bool& changed, bool datesOnly = false, PageFindings* report = nullptr,
               CRobotsCache* robots = nullptr);

/// Recomputes Ok, Expiring and Expired from the dates, for links in one of those (or never checked).
bool CheckLinkDates(CLink* link, bool& changed);

/// Both read as a browser reads a href (ParseHref, without a page): same service (http and https
/// count as one when each uses its default port or both the same), same host (punycode), object
/// without case unless either is "/*", same port.
bool UrlsMatch(const std::string& urlA, const std::string& urlB, bool ignoreWww);

/// A relative href (one starting with "/" or "#" even without a page address), one that cannot
/// be read, or one on the page's host (with or without a leading "www."); hrefs are read as a
/// browser reads them, so a protocol-relative one names a host in the page's scheme.
bool IsInternalLink(const std::string& pageUrl, const std::string& href);
