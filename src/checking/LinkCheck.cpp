#include "LinkCheck.h"

#include "CheckSettings.h"
#include "Fetch.h"
#include "PageScan.h"
#include "Robots.h"
#include "Url.h"

#include "records/Link.h"
#include "records/LinkStatus.h"
#include "records/OleDateTime.h"

#include <exception>

namespace {

uint32_t StatusByDates(const CLink& link, const OleDateTime& now, int warningDays)
{
    if (link.IsExpired(now))
        return StatusExpired;
    if (link.IsExpiring(warningDays, now))
        return StatusExpiring;
    return StatusOk;
}

} // namespace

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
    // Only the date-driven states move here; a problem the last full check found stays.
    if (old <= StatusExpired)
        link->SetStatus(StatusByDates(*link, OleDateTime::Now(), GetCheckSettings().warningDays));
    changed = link->GetStatus() != old;
    return true;
}

bool CheckLink(CLink* link, bool& changed, bool datesOnly, PageFindings* report, CRobotsCache* robots)
{
    changed = false;
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
        if (!FetchPageText(pageUrl, text, httpStatus, &headers, kMaxPageLength) || !IsHttpSuccess(httpStatus)) {
            link->SetStatus(StatusCantOpen);
            changed = old != StatusCantOpen;
            return false;
        }

        PageFindings findings;
        if (!ScanPage(pageUrl, text, headers, link->GetToPage(), link->GetAnchor(), findings))
            return false;
        link->SetExternalLinks(findings.externalLinks);

        uint32_t status = DecideStatus(findings, *link, OleDateTime::Now(), GetCheckSettings().warningDays);
        // Expiring, expired, missing and nofollow links are reported as they are, whatever
        // robots.txt says; only a link that would otherwise count is held against it.
        if ((status == StatusOk || status == StatusInvalidText) && IsBlockedByRobots(pageUrl, robots))
            status = StatusRobots;
        link->SetStatus(status);
        changed = status != old;
        if (report)
            *report = std::move(findings);
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
