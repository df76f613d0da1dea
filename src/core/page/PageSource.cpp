#include "PageScan.h"

#include "core/records/TextUtil.h"

#include <gumbo.h>

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace {

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
} // namespace

std::string_view pagescan::OuterSource(std::string_view piece, const GumboInternalNode* anchor)
{
    const GumboStringPiece& tag = anchor->v.element.original_tag;
    if (!tag.data || tag.data < piece.data() || tag.data >= piece.data() + piece.size())
        return {};
    const std::size_t start = static_cast<std::size_t>(tag.data - piece.data());
    const std::size_t end = std::max(SourceEnd(piece, anchor), start);
    return piece.substr(start, end - start);
}
