#include "PageAnalysis.h"

#include "LinkCheck.h"
#include "PageScan.h"
#include "Robots.h"
#include "core/fetch/Fetch.h"
#include "core/fetch/Url.h"
#include "core/pagerank/PageRank.h"

#include "core/records/TextUtil.h"

#include <gumbo.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <set>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kShortSeparator = "----------------------------";
constexpr std::string_view kLongSeparator = "---------------------------------------------------------------";

// An anchor left open runs to the end of the page in the source; a page of such anchors nested in
// one another would repeat the page once per anchor. The text stops growing at this size.
constexpr std::size_t kMaxSourceText = 32u << 20;

void AppendLine(std::string& report, std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    report.append(line);
    report.append("\r\n");
}

std::string_view AttributeOf(const GumboElement& element, const char* name)
{
    const GumboAttribute* attribute = gumbo_get_attribute(&element.attributes, name);
    return attribute && attribute->value ? std::string_view(attribute->value) : std::string_view();
}

// Every anchor of the page in document order, as the link check walks it: template contents
// are no part of what anyone sees.
bool ForEachAnchor(const std::string& pageText,
                   const std::function<void(std::string_view piece, const GumboNode* anchor)>& visit)
{
    return pagescan::ParseInPieces(
        pageText, pagescan::PieceTagsFor(pageText.size()), 256,
        [&visit](std::string_view piece, const GumboNode* document, const GumboNode* stopAt) {
            std::vector<const GumboNode*> pending{document};
            while (!pending.empty()) {
                const GumboNode* node = pending.back();
                pending.pop_back();
                if (node == stopAt)
                    return; // nothing after the marker belongs to this piece
                if (node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == GUMBO_TAG_A)
                    visit(piece, node);
                if (node->type != GUMBO_NODE_DOCUMENT && node->type != GUMBO_NODE_ELEMENT)
                    continue;
                const GumboVector& children =
                    node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
                for (unsigned i = children.length; i-- > 0;)
                    pending.push_back(static_cast<const GumboNode*>(children.data[i]));
            }
        });
}

// The parser copies an anchor left open past the end of its parent to wherever text follows; the
// copy has no markup of its own to show.
bool IsParserCopy(const GumboNode* node)
{
    return (node->parse_flags &
            (GUMBO_INSERTION_RECONSTRUCTED_FORMATTING_ELEMENT | GUMBO_INSERTION_ADOPTION_AGENCY_CLONED)) != 0;
}

} // namespace

bool ExternalLinksOfPage(const std::string& pageUrl, const std::string& pageText, std::string& report)
{
    std::set<std::string> internal;
    std::set<std::string> external;
    std::set<std::string> nofollow;
    const bool parsed = ForEachAnchor(pageText, [&](std::string_view, const GumboNode* anchor) {
        const GumboElement& element = anchor->v.element;
        const std::string_view href = AttributeOf(element, "href");
        if (href.size() >= 7 && EqualsIgnoringCase(href.substr(0, 7), "mailto:"))
            return;
        const std::string rel = AsciiLowerCase(AttributeOf(element, "rel"));
        if (href.empty())
            return;
        std::string lower = AsciiLowerCase(href);
        if (IsInternalLink(pageUrl, lower)) {
            internal.insert(std::move(lower));
        } else {
            if (rel.find("nofollow") != std::string::npos)
                nofollow.insert(lower);
            external.insert(std::move(lower));
        }
    });
    if (!parsed)
        return false;

    AppendLine(report, "Internal Unique Links - " + std::to_string(internal.size()));
    AppendLine(report, "Total External Unique Links - " + std::to_string(external.size()));
    AppendLine(report, kShortSeparator);
    AppendLine(report, "Nofollow unique external links (" + std::to_string(nofollow.size()) + "):");
    for (const std::string& href : nofollow)
        AppendLine(report, href);
    AppendLine(report, "Unique External links (" + std::to_string(external.size()) + "):");
    for (const std::string& href : external)
        AppendLine(report, href);
    return true;
}

bool ExternalLinksInfo(const std::string& pageUrl, std::string& report)
{
    report.clear();
    try {
        AppendLine(report, "URL : " + pageUrl);
        std::string text;
        std::string headers;
        uint32_t status = 0;
        if (!FetchPageText(pageUrl, text, status, &headers, kMaxPageLength) || !IsHttpSuccess(status)) {
            AppendLine(report, "Can not read URL content");
            return false;
        }
        AppendLine(report, "PR : " + std::to_string(QueryPageRank(pageUrl)));

        AppendLine(report, "Robots.txt : ");
        const std::string robotsUrl = RobotsTxtUrl(pageUrl);
        std::vector<std::string> lines;
        uint32_t robotsStatus = 0;
        if (!robotsUrl.empty() && FetchLines(robotsUrl, lines, robotsStatus, nullptr, kMaxPageLength) &&
            IsHttpSuccess(robotsStatus)) {
            for (const std::string& line : lines)
                AppendLine(report, line);
        }
        AppendLine(report, kShortSeparator);

        if (!ExternalLinksOfPage(pageUrl, text, report))
            return false;
        AppendLine(report, kShortSeparator);
        AppendLine(report, headers);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool LinkSourceOfPage(const std::string& pageUrl, const std::string& pageText, const std::string& toPage,
                      std::string& text)
{
    // Hrefs are read against the page, as the link check reads them, so that this shows the
    // anchors the check found.
    CUrlParts pageParts;
    CUrlParts target;
    CUrlParts href;
    const bool pageSplit = ParseHref(nullptr, pageUrl, pageParts);
    if (!ParseHref(nullptr, NormalizeUrl(toPage), target))
        return true; // a To Page that is no address names nothing on the page
    bool full = false;
    const bool parsed = ForEachAnchor(pageText, [&](std::string_view piece, const GumboNode* anchor) {
        const GumboElement& element = anchor->v.element;
        const std::string_view written = AttributeOf(element, "href");
        if (full || written.empty() || IsParserCopy(anchor) ||
            !ParseHref(pageSplit ? &pageParts : nullptr, written, href) || !pagescan::PartsMatch(target, href, false))
            return;
        text.append("Raw link : ");
        text.append(pagescan::OuterSource(piece, anchor));
        text.append("\r\n");
        text.append("Anchor : \"");
        text.append(pagescan::InnerText(anchor));
        text.append("\"\r\n");
        text.append(kLongSeparator);
        text.append("\r\n");
        full = text.size() >= kMaxSourceText;
    });
    return parsed;
}

bool LinkSourceText(const std::string& fromPage, const std::string& toPage, std::string& text)
{
    text.clear();
    try {
        const std::string pageUrl = NormalizeUrl(fromPage);
        std::string page;
        uint32_t status = 0;
        if (!FetchPageText(pageUrl, page, status, nullptr, kMaxPageLength) || !IsHttpSuccess(status))
            return false;

        return LinkSourceOfPage(pageUrl, page, toPage, text);
    } catch (const std::exception&) {
        return false;
    }
}
