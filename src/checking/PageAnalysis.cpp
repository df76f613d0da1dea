#include "PageAnalysis.h"

#include "Fetch.h"
#include "LinkCheck.h"
#include "PageRank.h"
#include "PageScan.h"
#include "Robots.h"
#include "Url.h"

#include "records/TextUtil.h"

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

std::string_view AttributeValue(const GumboElement& element, const char* name)
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

// Whether the element's end tag is its own, not the one of an outer element that closed it too.
bool EndTagIsOwn(const GumboElement& element)
{
    if (element.original_end_tag.length == 0 || element.original_tag.length == 0)
        return false;
    GumboStringPiece start = element.original_tag;
    GumboStringPiece end = element.original_end_tag;
    gumbo_tag_from_original_text(&start);
    gumbo_tag_from_original_text(&end);
    return EqualsIgnoringCase(std::string_view(start.data, start.length), std::string_view(end.data, end.length));
}

// Where a node's own source ends in the piece: after its end tag, or, for an element the page
// never closed, after the last of its content; 0 for what the parser made up.
std::size_t SourceEnd(std::string_view piece, const GumboNode* node)
{
    const auto endOf = [piece](const GumboStringPiece& text) -> std::size_t {
        if (!text.data || text.data < piece.data() || text.data > piece.data() + piece.size())
            return 0;
        return std::min(static_cast<std::size_t>(text.data - piece.data()) + text.length, piece.size());
    };
    if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE || node->type == GUMBO_NODE_CDATA ||
        node->type == GUMBO_NODE_COMMENT)
        return endOf(node->v.text.original_text);
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
        return 0;
    const GumboElement& element = node->v.element;
    if (EndTagIsOwn(element))
        return endOf(element.original_end_tag);
    std::size_t end = endOf(element.original_tag);
    for (unsigned i = 0; i < element.children.length; ++i)
        end = std::max(end, SourceEnd(piece, static_cast<const GumboNode*>(element.children.data[i])));
    return end;
}

// The anchor's markup as the page has it, from its start tag to the end of its end tag.
std::string_view OuterSource(std::string_view piece, const GumboNode* anchor)
{
    const GumboStringPiece& tag = anchor->v.element.original_tag;
    if (!tag.data || tag.data < piece.data() || tag.data >= piece.data() + piece.size())
        return {};
    const std::size_t start = static_cast<std::size_t>(tag.data - piece.data());
    const std::size_t end = std::max(SourceEnd(piece, anchor), start);
    return piece.substr(start, end - start);
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
        const std::string_view href = AttributeValue(element, "href");
        if (href.size() >= 7 && EqualsIgnoringCase(href.substr(0, 7), "mailto:"))
            return;
        const std::string rel = AsciiLowerCase(AttributeValue(element, "rel"));
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
        const std::string_view written = AttributeValue(element, "href");
        if (full || written.empty() || IsParserCopy(anchor) ||
            !ParseHref(pageSplit ? &pageParts : nullptr, written, href) || !pagescan::PartsMatch(target, href, false))
            return;
        text.append("Raw link : ");
        text.append(OuterSource(piece, anchor));
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
