#include "PageScan.h"
#include "LinkCheck.h"
#include "core/fetch/Url.h"

#include "core/platform/TextEncoding.h"
#include "core/records/TextUtil.h"

#include <gumbo.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

// Bytes of the white-space character that starts at `p` (UTF-8), 0 for anything else. A visitor
// sees a no-break space, and the other Unicode spaces, as the blank they are drawn as.
std::size_t SpaceAt(const char* p)
{
    const auto b0 = static_cast<unsigned char>(p[0]);
    if (b0 < 0x80)
        return IsHtmlSpace(p[0]) ? 1 : 0;
    const auto b1 = static_cast<unsigned char>(p[1]);
    if (b0 == 0xC2)
        return b1 == 0xA0 ? 2 : 0; // no-break space
    if (b1 == 0)
        return 0;
    const auto b2 = static_cast<unsigned char>(p[2]);
    if (b0 == 0xE1 && b1 == 0x9A && b2 == 0x80)
        return 3; // ogham space mark
    if (b0 == 0xE2 && b1 == 0x80 && ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xAF))
        return 3; // en quad .. hair space, narrow no-break space
    if (b0 == 0xE2 && b1 == 0x81 && b2 == 0x9F)
        return 3; // medium mathematical space
    if (b0 == 0xE3 && b1 == 0x80 && b2 == 0x80)
        return 3; // ideographic space
    return 0;
}

// Appends `text` with each run of white space made one blank; `pendingSpace` carries a run over
// from the previous piece, and no blank ever starts `out`.
void AppendCollapsed(std::string& out, const char* text, bool& pendingSpace)
{
    for (const char* p = text; *p;) {
        if (const std::size_t space = SpaceAt(p)) {
            pendingSpace = true;
            p += space;
            continue;
        }
        if (pendingSpace && !out.empty())
            out.push_back(' ');
        pendingSpace = false;
        out.push_back(*p++);
    }
}

// The text a visitor reads: white space collapsed, none at either end.
std::string CollapseSpace(std::string_view text)
{
    std::string out;
    bool pendingSpace = false;
    AppendCollapsed(out, std::string(text).c_str(), pendingSpace);
    return out;
}

std::string_view Trim(std::string_view text, std::string_view chars = " \t\r\n\f")
{
    const std::size_t first = text.find_first_not_of(chars);
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(chars);
    return text.substr(first, last - first + 1);
}

// True when `text` holds `word` as one of its white-space or comma separated tokens.
bool HasToken(std::string_view text, std::string_view word)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (IsHtmlSpace(text[pos]) || text[pos] == ','))
            ++pos;
        std::size_t end = pos;
        while (end < text.size() && !IsHtmlSpace(text[end]) && text[end] != ',')
            ++end;
        if (end > pos && text.substr(pos, end - pos) == word)
            return true;
        pos = end;
    }
    return false;
}

std::string_view StripWww(std::string_view host)
{
    return StartsWithIgnoringCase(host, "www.") ? host.substr(4) : host;
}

int WebDefaultPort(ServiceType service)
{
    return service == ServiceType::Https ? 443 : 80;
}

// ---- Parser memory ------------------------------------------------------------------------

// The parser makes tens of thousands of small allocations per page, and its own clean-up recurses
// once per level of nesting. Small blocks therefore come from a bump arena that goes in one piece
// with the page; large ones (growing text buffers, child lists) are chained and freed singly, so a
// buffer that grows by doubling does not leave all its old copies behind until the end.
class CParserMemory
{
public:
    CParserMemory() = default;
    ~CParserMemory()
    {
        CLargeHeader* block = m_large;
        while (block) {
            CLargeHeader* next = block->next;
            std::free(block);
            block = next;
        }
    }
    CParserMemory(const CParserMemory&) = delete;
    CParserMemory& operator=(const CParserMemory&) = delete;

    static void* Allocate(void* userdata, size_t size)
    {
        auto* self = static_cast<CParserMemory*>(userdata);
        return size <= kSmallLimit ? self->AllocateSmall(size) : self->AllocateLarge(size);
    }

    static void Deallocate(void* userdata, void* pointer)
    {
        if (!pointer)
            return;
        // Every block carries its kind in the word just before it.
        const uint64_t kind = static_cast<const uint64_t*>(pointer)[-1];
        if (kind == kSmallKind)
            return; // the arena takes it at the end
        auto* self = static_cast<CParserMemory*>(userdata);
        auto* block = static_cast<CLargeHeader*>(pointer) - 1;
        if (block->prev)
            block->prev->next = block->next;
        else
            self->m_large = block->next;
        if (block->next)
            block->next->prev = block->prev;
        std::free(block);
    }

private:
    static constexpr uint64_t kSmallKind = 0x5A5A5A5A5A5A5A5AULL;
    static constexpr uint64_t kLargeKind = 0xA5A5A5A5A5A5A5A5ULL;
    static constexpr std::size_t kSmallLimit = 512;
    static constexpr std::size_t kChunkSize = 64 * 1024;
    static constexpr std::size_t kAlign = 16;

    struct CLargeHeader
    {
        CLargeHeader* prev;
        CLargeHeader* next;
        uint64_t pad;
        uint64_t kind;
    };
    static_assert(sizeof(CLargeHeader) % kAlign == 0);

    void* AllocateSmall(size_t size)
    {
        const std::size_t need = kAlign + ((size + kAlign - 1) & ~(kAlign - 1));
        if (m_chunkUsed + need > kChunkSize || m_chunks.empty()) {
            m_chunks.push_back(std::make_unique<std::byte[]>(kChunkSize));
            m_chunkUsed = 0;
        }
        std::byte* block = m_chunks.back().get() + m_chunkUsed;
        m_chunkUsed += need;
        reinterpret_cast<uint64_t*>(block + kAlign)[-1] = kSmallKind;
        return block + kAlign;
    }

    void* AllocateLarge(size_t size)
    {
        auto* block = static_cast<CLargeHeader*>(std::malloc(sizeof(CLargeHeader) + size));
        if (!block)
            std::abort(); // the parser has no way to report it and would write through null
        block->prev = nullptr;
        block->next = m_large;
        block->kind = kLargeKind;
        if (m_large)
            m_large->prev = block;
        m_large = block;
        return block + 1;
    }

    std::vector<std::unique_ptr<std::byte[]>> m_chunks;
    std::size_t m_chunkUsed = 0;
    CLargeHeader* m_large = nullptr;
};

// ---- The walk -----------------------------------------------------------------------------

const GumboVector& ChildrenOf(const GumboNode* node)
{
    return node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
}

bool IsElement(const GumboNode* node)
{
    return node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE;
}

std::string_view AttributeValue(const GumboElement& element, const char* name)
{
    const GumboAttribute* attribute = gumbo_get_attribute(&element.attributes, name);
    return attribute && attribute->value ? std::string_view(attribute->value) : std::string_view();
}

bool IsNoindex(const GumboElement& element)
{
    if (element.tag != GUMBO_TAG_UNKNOWN || !element.original_tag.data || element.original_tag.length == 0)
        return false;
    GumboStringPiece name = element.original_tag;
    gumbo_tag_from_original_text(&name);
    return EqualsIgnoringCase(std::string_view(name.data, name.length), "noindex");
}

// Descendant text with runs of white space collapsed to one blank and none at either end.
std::string InnerText(const GumboNode* anchor)
{
    std::string text;
    bool pendingSpace = false;
    std::vector<const GumboNode*> pending;
    const GumboVector& top = ChildrenOf(anchor);
    for (unsigned i = top.length; i-- > 0;)
        pending.push_back(static_cast<const GumboNode*>(top.data[i]));
    while (!pending.empty()) {
        const GumboNode* node = pending.back();
        pending.pop_back();
        if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE || node->type == GUMBO_NODE_CDATA) {
            AppendCollapsed(text, node->v.text.text, pendingSpace);
        } else if (node->type == GUMBO_NODE_ELEMENT) {
            // Scripts and styles are never shown, so their text is no part of the link's text.
            const GumboTag tag = node->v.element.tag;
            if (tag == GUMBO_TAG_SCRIPT || tag == GUMBO_TAG_STYLE)
                continue;
            const GumboVector& children = node->v.element.children;
            for (unsigned i = children.length; i-- > 0;)
                pending.push_back(static_cast<const GumboNode*>(children.data[i]));
        }
    }
    return text;
}

bool RelSaysNofollow(std::string_view relLower)
{
    return relLower.find("nofollow") != std::string_view::npos || HasToken(relLower, "sponsored") ||
           HasToken(relLower, "ugc");
}

class CPageWalk
{
public:
    CPageWalk(const std::string& pageUrl, const std::string& toPage, const std::string& anchor, PageFindings& findings)
        : m_findings(findings)
    {
        // Page, To Page and hrefs are all read as a browser reads them, so that they compare.
        m_pageSplit = ParseHref(nullptr, pageUrl, m_page);
        m_toSplit = ParseHref(nullptr, NormalizeUrl(toPage), m_to);
        m_anyText = anchor == "*";
        if (!m_anyText)
            m_wantedText = TextEncoding::FoldCase(CollapseSpace(anchor));
    }

    /// Walks the tree in document order; `stopAt`, when given, and whatever follows it are not
    /// the page's (a piece's cut marker and what was parsed after it).
    void Walk(std::string_view piece, const GumboNode* document, const GumboNode* stopAt = nullptr)
    {
        m_piece = piece;
        m_inNoindex = false;
        struct Frame
        {
            const GumboNode* node;
            unsigned next;
            bool noindex;
        };
        std::vector<Frame> stack;
        stack.push_back({document, 0, false});
        while (!stack.empty()) {
            Frame& frame = stack.back();
            const GumboVector& children = ChildrenOf(frame.node);
            if (frame.next >= children.length) {
                // Sections do not nest: leaving any NOINDEX element ends the section.
                if (frame.noindex)
                    m_inNoindex = false;
                stack.pop_back();
                continue;
            }
            const auto* child = static_cast<const GumboNode*>(children.data[frame.next++]);
            // Template contents are never shown nor crawled: links there do not exist for anyone.
            if (!IsElement(child) || child->type == GUMBO_NODE_TEMPLATE)
                continue;
            if (child == stopAt)
                return;
            const bool noindex = Visit(child);
            stack.push_back({child, 0, noindex});
        }
    }

    /// After the last piece: the distinct external links of the whole page.
    void Finish() { m_findings.externalLinks = CountExternal(); }

private:
    // True when the element opens a NOINDEX section.
    bool Visit(const GumboNode* node)
    {
        const GumboElement& element = node->v.element;
        switch (element.tag) {
        case GUMBO_TAG_META: {
            const std::string_view name = AttributeValue(element, "name");
            if (EqualsIgnoringCase(name, "robots") || EqualsIgnoringCase(name, "googlebot")) {
                const std::string_view content = AttributeValue(element, "content");
                if (pagescan::RobotsContentSaysNofollow(AsciiLowerCase(content))) {
                    m_findings.nofollowSeen = true;
                    AddSignal("meta " + AsciiLowerCase(name) + " \"" + std::string(content) + "\"");
                }
            }
            return false;
        }
        case GUMBO_TAG_A:
            VisitAnchor(node);
            return false;
        case GUMBO_TAG_UNKNOWN:
            if (IsNoindex(element)) {
                m_inNoindex = true;
                return true;
            }
            return false;
        default:
            return false;
        }
    }

    void VisitAnchor(const GumboNode* node)
    {
        const GumboElement& element = node->v.element;
        const std::string_view href = AttributeValue(element, "href");
        if (StartsWithIgnoringCase(href, "mailto:") || href.empty())
            return;
        const std::string_view relWritten = AttributeValue(element, "rel");
        const std::string rel = AsciiLowerCase(relWritten);
        const bool relNofollow = RelSaysNofollow(rel);

        const bool hrefSplit = ParseHref(m_pageSplit ? &m_page : nullptr, href, m_href);
        if (m_toSplit && hrefSplit && pagescan::PartsMatch(m_to, m_href, false)) {
            m_findings.found = true;
            if (relNofollow || m_inNoindex)
                m_findings.nofollowSeen = true;
            if (relNofollow)
                AddSignal("rel=\"" + std::string(relWritten) + "\"");
            if (m_inNoindex)
                AddSignal("NOINDEX section");
            std::string text = InnerText(node);
            if (m_anyText || TextEncoding::FoldCase(text) == m_wantedText)
                m_findings.textOk = true;
            // Only the matching anchors pay for their markup, and only the first few: a page that
            // repeats the link thousands of times proves nothing more by it.
            std::string source;
            if (m_findings.matches.size() < kMaxSourcedMatches)
                source = ClippedEvidence(pagescan::OuterSource(m_piece, node));
            m_findings.matches.push_back(
                {std::string(href), std::string(relWritten), std::move(text), std::move(source)});
        }

        bool internal = false;
        if (hrefSplit) {
            internal = m_pageSplit && pagescan::SameSite(m_page, m_href);
        } else {
            const std::string_view local = TrimHref(href);
            internal = m_pageSplit || (!local.empty() && (local[0] == '/' || local[0] == '#'));
        }
        if (!internal && !relNofollow) {
            // One key per address, however the href spells it.
            if (hrefSplit)
                UrlKey(m_href, m_key);
            else
                m_key = AsciiLowerCase(TrimHref(href));
            AddExternal(m_key);
        }
    }

    void AddSignal(std::string signal)
    {
        signal = ClippedEvidence(signal);
        auto& signals = m_findings.nofollowSignals;
        if (signals.size() < kMaxSignals && std::find(signals.begin(), signals.end(), signal) == signals.end())
            signals.push_back(std::move(signal));
    }
    static constexpr std::size_t kMaxSignals = 4;

    PageFindings& m_findings;
    std::string_view m_piece; // the text the current tree was parsed from
    CUrlParts m_page;
    CUrlParts m_to;
    CUrlParts m_href; // the anchor's, kept so that its buffers are reused from anchor to anchor
    std::string m_key;
    bool m_pageSplit = false;
    bool m_toSplit = false;
    bool m_anyText = false;
    std::string m_wantedText;
    bool m_inNoindex = false;
    // Only the number of distinct hrefs is wanted, so 64-bit hashes of them do: a page of a million
    // links costs eight bytes each instead of a string and a set node each. Duplicates go when the
    // list is full, so a page repeating one link a million times stays small too.
    void AddExternal(std::string_view key)
    {
        if (m_external.size() == m_external.capacity() && m_external.size() >= 1024)
            Deduplicate();
        m_external.push_back(std::hash<std::string_view>{}(key));
    }
    void Deduplicate()
    {
        std::sort(m_external.begin(), m_external.end());
        m_external.erase(std::unique(m_external.begin(), m_external.end()), m_external.end());
    }
    int CountExternal()
    {
        Deduplicate();
        return static_cast<int>(m_external.size());
    }
    std::vector<uint64_t> m_external;
};

} // namespace

namespace pagescan {

bool PartsMatch(const CUrlParts& a, const CUrlParts& b, bool ignoreWww)
{
    if (a.service != b.service) {
        const bool web = (a.service == ServiceType::Http || a.service == ServiceType::Https) &&
                         (b.service == ServiceType::Http || b.service == ServiceType::Https);
        if (!web)
            return false;
        // The same site served over TLS: only when neither names an unusual port, or both the same.
        const bool defaults = a.port == WebDefaultPort(a.service) && b.port == WebDefaultPort(b.service);
        if (!defaults && a.port != b.port)
            return false;
    } else if (a.port != b.port) {
        return false;
    }
    std::string_view hostA = a.host;
    std::string_view hostB = b.host;
    if (ignoreWww) {
        hostA = StripWww(hostA);
        hostB = StripWww(hostB);
    }
    if (!EqualsIgnoringCase(hostA, hostB))
        return false;
    if (a.object == "/*" || b.object == "/*")
        return true;
    return EqualsIgnoringCase(a.object, b.object);
}

bool SameSite(const CUrlParts& page, const CUrlParts& href)
{
    const std::string_view a = page.host;
    const std::string_view b = href.host;
    if (EqualsIgnoringCase(a, b))
        return true;
    if (StartsWithIgnoringCase(a, "www.") && EqualsIgnoringCase(a.substr(4), b))
        return true;
    return StartsWithIgnoringCase(b, "www.") && EqualsIgnoringCase(b.substr(4), a);
}

bool RobotsContentSaysNofollow(std::string_view content)
{
    return content.find("nofollow") != std::string_view::npos || HasToken(content, "none");
}

bool HeadersSayNofollow(std::string_view headers, std::string_view* nofollowLine)
{
    std::size_t pos = 0;
    while (pos < headers.size()) {
        std::size_t end = headers.find('\n', pos);
        if (end == std::string_view::npos)
            end = headers.size();
        const std::string_view line = headers.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !EqualsIgnoringCase(Trim(line.substr(0, colon)), "x-robots-tag"))
            continue;
        // "googlebot: noindex, nofollow" names the crawler the rest applies to; a few directives
        // carry a value after a colon of their own and name no crawler.
        std::string agent;
        std::string_view rest = line.substr(colon + 1);
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            std::string_view piece = Trim(rest.substr(0, comma));
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            const std::size_t inner = piece.find(':');
            if (inner != std::string_view::npos) {
                const std::string prefix = AsciiLowerCase(Trim(piece.substr(0, inner)));
                if (prefix != "unavailable_after" && prefix != "max-snippet" && prefix != "max-image-preview" &&
                    prefix != "max-video-preview") {
                    agent = prefix;
                    piece = Trim(piece.substr(inner + 1));
                }
            }
            const std::string directive = AsciiLowerCase(piece);
            if ((agent.empty() || agent == "googlebot") && (directive == "nofollow" || directive == "none")) {
                if (nofollowLine)
                    *nofollowLine = Trim(line);
                return true;
            }
        }
    }
    return false;
}

std::string InnerText(const GumboNode* element)
{
    return ::InnerText(element);
}

} // namespace pagescan

namespace {

// What gumbo keeps per element (node, attributes, their texts, child lists) with our arena's own
// overhead, measured on pages of short anchors, where it is highest.
constexpr std::size_t kTreeBytesPerElement = 600;

// Stands in for the anchor a piece is cut before: the parser puts it where it would put that
// anchor, so its place in the tree says what the next piece must begin inside of. What follows
// probes the state the parser keeps beside its open elements, which a fresh parser of the next
// piece would not have: a form it still remembers (then the probe's own form is ignored), and,
// once the tables around are left (their cells hide older entries), the formatting elements it
// would bring back, anchors among them, when text comes. All of it lands after the marker.
constexpr std::string_view kCutMarker = "<a data-orvex-cut=\"\"></a>"
                                        "</table></table></table></table></table></table></table></table>"
                                        "<form data-orvex-cut=\"\"></form>x";

class CParse
{
public:
    explicit CParse(std::string_view text)
    {
        GumboOptions options = kGumboDefaultOptions;
        options.allocator = &CParserMemory::Allocate;
        options.deallocator = &CParserMemory::Deallocate;
        options.userdata = &m_memory;
        options.max_errors = 0; // the walk never looks at them
        m_output = gumbo_parse_with_options(&options, text.data(), text.size());
    }
    const GumboNode* Document() const { return m_output ? m_output->document : nullptr; }

private:
    CParserMemory m_memory; // takes the tree with it
    const GumboOutput* m_output = nullptr;
};

const GumboNode* FindCutMarker(const GumboNode* document)
{
    // The marker went in last, so it lies at the end of the tree: search from there.
    std::vector<const GumboNode*> pending{document};
    while (!pending.empty()) {
        const GumboNode* node = pending.back();
        pending.pop_back();
        if (node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == GUMBO_TAG_A &&
            gumbo_get_attribute(&node->v.element.attributes, "data-orvex-cut"))
            return node;
        if (node->type != GUMBO_NODE_DOCUMENT && !IsElement(node))
            continue;
        const GumboVector& children = ChildrenOf(node);
        for (unsigned i = 0; i < children.length; ++i)
            pending.push_back(static_cast<const GumboNode*>(children.data[i]));
    }
    return nullptr;
}

// The start tags that reopen, for the next piece, the elements the anchor after the cut lies in;
// false when the cut would change what the walk sees: the anchor would have gone into a template,
// foreign content, another anchor, a table's foster parent, or nowhere at all.
// A document type that puts a parser in the same mode as the page's own did.
std::string DoctypeFor(const GumboNode* document)
{
    switch (document->v.document.doc_type_quirks_mode) {
    case GUMBO_DOCTYPE_NO_QUIRKS:
        return "<!DOCTYPE html>";
    case GUMBO_DOCTYPE_LIMITED_QUIRKS:
        return "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
               "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">";
    default:
        return {};
    }
}

// The element's name as its start tag gives it (lower case); "" for what has none.
std::string_view ElementName(const GumboElement& element)
{
    if (element.tag != GUMBO_TAG_UNKNOWN)
        return gumbo_normalized_tagname(element.tag);
    return IsNoindex(element) ? std::string_view("noindex") : std::string_view();
}

bool PrefixForCut(const GumboNode* marker, std::string& prefix)
{
    if (!marker || !marker->parent)
        return false;
    // Anything the parser brought back after the marker it still keeps beside the open elements,
    // and a fresh parser of the next piece would not: an anchor it would copy again later, or a
    // formatting element that changes how later misnested tags are repaired.
    bool probeForm = false;
    for (const GumboNode* node = marker; node && node->parent; node = node->parent) {
        const GumboVector& siblings = ChildrenOf(node->parent);
        for (unsigned i = static_cast<unsigned>(node->index_within_parent) + 1; i < siblings.length; ++i) {
            const auto* after = static_cast<const GumboNode*>(siblings.data[i]);
            if (!IsElement(after))
                continue;
            const bool isProbe = after->v.element.tag == GUMBO_TAG_FORM && after->v.element.children.length == 0 &&
                                 gumbo_get_attribute(&after->v.element.attributes, "data-orvex-cut");
            if (!isProbe || probeForm)
                return false;
            probeForm = true;
        }
    }
    if (!probeForm)
        return false;
    // Only elements that reopen exactly as they were may be open; anything else (templates, selects,
    // objects, anchors, foreign content) holds parser state that start tags cannot bring back. A
    // moved element (into a table's foster parent, or by the repair of misnested formatting tags)
    // stands elsewhere in the tree than among the open elements, so its ancestors are not what is
    // open either.
    constexpr int kMoved = GUMBO_INSERTION_FOSTER_PARENTED | GUMBO_INSERTION_ADOPTION_AGENCY_MOVED |
                           GUMBO_INSERTION_ADOPTION_AGENCY_CLONED | GUMBO_INSERTION_RECONSTRUCTED_FORMATTING_ELEMENT;
    if (marker->parse_flags & kMoved)
        return false;
    std::vector<const GumboNode*> chain;
    for (const GumboNode* node = marker->parent; node && node->type != GUMBO_NODE_DOCUMENT; node = node->parent) {
        if (node->type != GUMBO_NODE_ELEMENT || node->v.element.tag_namespace != GUMBO_NAMESPACE_HTML ||
            (node->parse_flags & kMoved) || !pagescan::IsReopenable(ElementName(node->v.element)) ||
            chain.size() >= pagescan::kMaxReopenDepth)
            return false;
        if (node->v.element.tag != GUMBO_TAG_HTML && node->v.element.tag != GUMBO_TAG_BODY)
            chain.push_back(node);
    }
    prefix.clear();
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const GumboElement& element = (*it)->v.element;
        prefix += '<';
        prefix += ElementName(element);
        // Attributes too: the parser compares them when it limits repeated formatting elements.
        for (unsigned i = 0; i < element.attributes.length; ++i) {
            const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
            const std::string_view attrName = attribute->name;
            if (attrName.empty() || attrName.find_first_of("<>/ \t\r\n\f\"'=") != std::string_view::npos)
                return false;
            prefix += ' ';
            prefix += attrName;
            prefix += "=\"";
            for (const char c : std::string_view(attribute->value)) {
                if (c == '"')
                    prefix += "&quot;";
                else if (c == '&')
                    prefix += "&amp;";
                else
                    prefix += c;
            }
            prefix += '"';
        }
        prefix += '>';
    }
    return true;
}

} // namespace

bool pagescan::ParseInPieces(const std::string& pageText, std::size_t maxTagsPerPiece, std::size_t cutSpacing,
                             const PieceVisitor& visit, std::size_t* piecesWalked)
{
    std::string limited;
    std::string_view text = pageText;
    CPageCuts cuts;
    cuts.spacing = cutSpacing;
    if (LimitNesting(pageText, limited, &cuts))
        text = limited;

    // Pieces end before an anchor, where the marker stands in for it. A cut the parser shows
    // to be unsafe is dropped and the piece grows to a later one (twice the share each time,
    // so a page without a safe cut costs at most two whole parses).
    const std::vector<CPageCuts::Point>& points = cuts.points;
    std::size_t begin = 0;
    std::size_t tagsAtBegin = 0;
    std::size_t next = 0;
    std::size_t share = std::max<std::size_t>(maxTagsPerPiece, 1);
    std::string prefix;
    std::string doctype; // the first piece's, so that every piece is parsed in its mode
    std::string piece;
    for (;;) {
        while (next < points.size() && points[next].offset <= begin)
            ++next;
        std::size_t end = text.size();
        std::size_t pick = points.size();
        if (cuts.startTags - tagsAtBegin > share && next < points.size()) {
            pick = next;
            while (pick + 1 < points.size() && points[pick + 1].tagsBefore - tagsAtBegin <= share)
                ++pick;
            end = points[pick].offset;
        }
        const bool last = end == text.size();
        piece.assign(begin == 0 ? std::string() : doctype + prefix);
        piece.append(text.substr(begin, end - begin));
        if (!last)
            piece.append(kCutMarker);
        const CParse parse(piece);
        if (!parse.Document())
            return false;
        std::string nextPrefix;
        const GumboNode* marker = last ? nullptr : FindCutMarker(parse.Document());
        if (!last && !PrefixForCut(marker, nextPrefix)) {
            share = share > SIZE_MAX / 2 ? SIZE_MAX : share * 2;
            continue;
        }
        if (begin == 0)
            doctype = DoctypeFor(parse.Document());
        visit(piece, parse.Document(), marker);
        if (piecesWalked)
            ++*piecesWalked;
        if (last)
            return true;
        begin = end;
        tagsAtBegin = points[pick].tagsBefore;
        next = pick + 1;
        prefix = std::move(nextPrefix);
        share = std::max<std::size_t>(maxTagsPerPiece, 1);
    }
}

std::size_t pagescan::PieceTagsFor(std::size_t pageSize)
{
    // A page of tens of thousands of elements would build a tree of fifty times its size; it is
    // parsed in pieces instead, each piece's tree gone before the next is built. Ordinary pages
    // are one piece.
    const std::size_t budget = std::max(kMinTreeBudget, kTreeBudgetPerByte * pageSize);
    return std::max<std::size_t>(budget / kTreeBytesPerElement, 1);
}

bool pagescan::ScanPageInPieces(const std::string& pageUrl, const std::string& pageText, const std::string& headers,
                                const std::string& toPage, const std::string& anchor, PageFindings& findings,
                                std::size_t maxTagsPerPiece, std::size_t cutSpacing, std::size_t* piecesWalked)
{
    try {
        findings = PageFindings{};
        std::string_view headerLine;
        if (HeadersSayNofollow(headers, &headerLine)) {
            findings.nofollowSeen = true;
            findings.nofollowSignals.push_back(ClippedEvidence(headerLine));
        }
        CPageWalk walk(pageUrl, toPage, anchor, findings);
        const bool parsed = ParseInPieces(
            pageText, maxTagsPerPiece, cutSpacing,
            [&walk](std::string_view piece, const GumboNode* document, const GumboNode* stopAt) {
                walk.Walk(piece, document, stopAt);
            },
            piecesWalked);
        if (!parsed) {
            findings = PageFindings{};
            return false;
        }
        walk.Finish();
        return true;
    } catch (const std::exception&) {
        findings = PageFindings{};
        return false;
    }
}

bool ScanPage(const std::string& pageUrl, const std::string& pageText, const std::string& headers,
              const std::string& toPage, const std::string& anchor, PageFindings& findings)
{
    return pagescan::ScanPageInPieces(pageUrl, pageText, headers, toPage, anchor, findings,
                                      pagescan::PieceTagsFor(pageText.size()), 256);
}
