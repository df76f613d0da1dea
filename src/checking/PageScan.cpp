#include "PageScan.h"
#include "LinkCheck.h"
#include "Url.h"

#include "platform/TextEncoding.h"

#include <gumbo.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
}

std::string ToLowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = AsciiLower(c);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
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
        while (pos < text.size() && (IsSpace(text[pos]) || text[pos] == ','))
            ++pos;
        std::size_t end = pos;
        while (end < text.size() && !IsSpace(text[end]) && text[end] != ',')
            ++end;
        if (end > pos && text.substr(pos, end - pos) == word)
            return true;
        pos = end;
    }
    return false;
}

std::string_view StripWww(std::string_view host)
{
    return StartsWithNoCase(host, "www.") ? host.substr(4) : host;
}

int DefaultPort(ServiceType service)
{
    return service == ServiceType::Https ? 443 : 80;
}

// ---- Nesting estimate ---------------------------------------------------------------------

template <std::size_t N> bool OneOf(std::string_view name, const std::string_view (&names)[N])
{
    for (std::string_view n : names) {
        if (n == name)
            return true;
    }
    return false;
}

constexpr std::string_view kVoidElements[] = {
    "area",  "base",   "br",    "col", "embed",  "hr",       "img",     "input", "link",  "meta",
    "param", "source", "track", "wbr", "keygen", "basefont", "bgsound", "frame", "image",
};

constexpr std::string_view kRawTextElements[] = {
    "script", "style", "xmp", "iframe", "noembed", "noframes", "textarea", "title", "plaintext",
};

// An end tag of an ordinary element is dropped when one of these stands between it and its
// start tag; their own end tags close everything opened inside them.
constexpr std::string_view kBarrierElements[] = {
    "address",  "applet",     "article", "aside",   "blockquote", "body",     "button",   "caption",
    "center",   "colgroup",   "dd",      "details", "dir",        "div",      "dl",       "dt",
    "fieldset", "figcaption", "figure",  "footer",  "form",       "frameset", "h1",       "h2",
    "h3",       "h4",         "h5",      "h6",      "head",       "header",   "hgroup",   "html",
    "li",       "listing",    "main",    "marquee", "menu",       "nav",      "noscript", "object",
    "ol",       "p",          "pre",     "section", "select",     "summary",  "table",    "tbody",
    "td",       "template",   "tfoot",   "th",      "thead",      "tr",       "ul",
};

// Formatting elements: their end tags close what was opened inside them, but they do not stop
// the end tag of an element around them.
constexpr std::string_view kFormattingElements[] = {
    "a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike", "strong", "tt", "u", "svg", "math",
};

// Start tags that close an open element of the same group standing on top.
int SiblingGroup(std::string_view name)
{
    if (name == "p")
        return 1;
    if (name == "li")
        return 2;
    if (name == "dd" || name == "dt")
        return 3;
    if (name == "option" || name == "optgroup")
        return 4;
    if (name == "tr")
        return 5;
    if (name == "td" || name == "th")
        return 6;
    if (name == "tbody" || name == "thead" || name == "tfoot")
        return 7;
    if (name == "rb" || name == "rt" || name == "rp" || name == "rtc")
        return 8;
    return 0;
}

class CNestingEstimate
{
public:
    explicit CNestingEstimate(std::string_view text) : m_text(text) {}

    bool Run(std::string& out)
    {
        std::size_t pos = 0;
        const std::size_t n = m_text.size();
        while (pos < n) {
            const void* hit = std::memchr(m_text.data() + pos, '<', n - pos);
            if (!hit)
                break;
            const std::size_t lt = static_cast<const char*>(hit) - m_text.data();
            if (lt + 1 >= n)
                break;
            const char c = m_text[lt + 1];
            if (c == '!') {
                if (m_text.compare(lt, 4, "<!--") == 0) {
                    const std::size_t end = m_text.find("-->", lt + 4);
                    if (end == std::string_view::npos)
                        break;
                    pos = end + 3;
                } else {
                    pos = SkipPast(lt + 2, '>');
                }
            } else if (c == '?') {
                pos = SkipPast(lt + 2, '>');
            } else if (c == '/') {
                if (lt + 2 < n && IsAlpha(m_text[lt + 2])) {
                    std::size_t i = lt + 2;
                    const std::string name = ReadName(i);
                    EndTag(name);
                }
                pos = SkipPast(lt + 2, '>');
            } else if (IsAlpha(c)) {
                std::size_t i = lt + 1;
                const std::string name = ReadName(i);
                bool selfClosing = false;
                const std::size_t gt = SkipAttributes(i, selfClosing);
                if (gt == std::string_view::npos)
                    break; // a tag cut off by the end of the text is no element at all
                pos = gt + 1;
                if (OneOf(name, kRawTextElements)) {
                    if (name == "plaintext")
                        break;
                    pos = SkipRawText(pos, name);
                    continue;
                }
                if (!StartTag(name, selfClosing))
                    Drop(lt, gt + 1, out);
            } else {
                pos = lt + 1;
            }
        }
        if (!m_dropped)
            return false;
        out.append(m_text.substr(m_copied));
        return true;
    }

private:
    static bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

    std::size_t SkipPast(std::size_t from, char what) const
    {
        const std::size_t at = m_text.find(what, from);
        return at == std::string_view::npos ? m_text.size() : at + 1;
    }

    std::string ReadName(std::size_t& i) const
    {
        const std::size_t start = i;
        while (i < m_text.size() && !IsSpace(m_text[i]) && m_text[i] != '/' && m_text[i] != '>')
            ++i;
        // Long names are all unknown elements alike; a short key keeps the bookkeeping cheap.
        return ToLowerAscii(m_text.substr(start, std::min<std::size_t>(i - start, 24)));
    }

    // Position of the '>' that ends the tag, or npos.
    std::size_t SkipAttributes(std::size_t i, bool& selfClosing) const
    {
        const std::size_t n = m_text.size();
        while (true) {
            while (i < n && (IsSpace(m_text[i]) || m_text[i] == '/')) {
                selfClosing = m_text[i] == '/' && i + 1 < n && m_text[i + 1] == '>';
                ++i;
            }
            if (i >= n)
                return std::string_view::npos;
            if (m_text[i] == '>')
                return i;
            selfClosing = false;
            ++i; // the first character of a name may be anything, '=' included
            while (i < n && !IsSpace(m_text[i]) && m_text[i] != '/' && m_text[i] != '>' && m_text[i] != '=')
                ++i;
            while (i < n && IsSpace(m_text[i]))
                ++i;
            if (i < n && m_text[i] == '=') {
                ++i;
                while (i < n && IsSpace(m_text[i]))
                    ++i;
                if (i < n && (m_text[i] == '"' || m_text[i] == '\'')) {
                    const std::size_t close = m_text.find(m_text[i], i + 1);
                    if (close == std::string_view::npos)
                        return std::string_view::npos;
                    i = close + 1;
                } else {
                    while (i < n && !IsSpace(m_text[i]) && m_text[i] != '>')
                        ++i;
                }
            }
        }
    }

    std::size_t SkipRawText(std::size_t from, std::string_view name) const
    {
        std::size_t pos = from;
        while (true) {
            const std::size_t lt = m_text.find("</", pos);
            if (lt == std::string_view::npos)
                return m_text.size();
            const std::size_t after = lt + 2 + name.size();
            if (after <= m_text.size() && EqualsNoCase(m_text.substr(lt + 2, name.size()), name) &&
                (after == m_text.size() || IsSpace(m_text[after]) || m_text[after] == '/' || m_text[after] == '>'))
                return lt;
            pos = lt + 2;
        }
    }

    // False when the element must be left out.
    bool StartTag(const std::string& name, bool selfClosing)
    {
        if (OneOf(name, kVoidElements))
            return true;
        if (selfClosing && m_foreign > 0)
            return true;
        if (name == "a" && Count(name) > 0)
            PopThrough(name); // a new anchor closes the open one
        const int group = SiblingGroup(name);
        if (group != 0 && !m_stack.empty() && SiblingGroup(m_stack.back()) == group)
            Pop();
        if (static_cast<int>(m_stack.size()) >= pagescan::kMaxNesting && name != "a")
            return false;
        m_stack.push_back(name);
        ++m_counts[name];
        if (name == "svg" || name == "math")
            ++m_foreign;
        return true;
    }

    void EndTag(const std::string& name)
    {
        if (Count(name) == 0)
            return;
        if (OneOf(name, kBarrierElements) || OneOf(name, kFormattingElements)) {
            PopThrough(name);
            return;
        }
        for (std::size_t i = m_stack.size(); i-- > 0;) {
            if (m_stack[i] == name) {
                PopThrough(name);
                return;
            }
            if (OneOf(m_stack[i], kBarrierElements))
                return;
        }
    }

    int Count(const std::string& name) const
    {
        const auto it = m_counts.find(name);
        return it == m_counts.end() ? 0 : it->second;
    }

    void Pop()
    {
        const std::string& top = m_stack.back();
        --m_counts[top];
        if (top == "svg" || top == "math")
            --m_foreign;
        m_stack.pop_back();
    }

    void PopThrough(const std::string& name)
    {
        while (!m_stack.empty()) {
            const bool last = m_stack.back() == name;
            Pop();
            if (last)
                return;
        }
    }

    void Drop(std::size_t from, std::size_t to, std::string& out)
    {
        if (!m_dropped) {
            out.clear();
            out.reserve(m_text.size());
            m_dropped = true;
        }
        out.append(m_text.substr(m_copied, from - m_copied));
        m_copied = to;
    }

    std::string_view m_text;
    std::vector<std::string> m_stack;
    std::unordered_map<std::string, int> m_counts;
    int m_foreign = 0;
    bool m_dropped = false;
    std::size_t m_copied = 0;
};

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
    return EqualsNoCase(std::string_view(name.data, name.length), "noindex");
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
            for (const char* p = node->v.text.text; *p; ++p) {
                if (IsSpace(*p)) {
                    pendingSpace = true;
                    continue;
                }
                if (pendingSpace && !text.empty())
                    text.push_back(' ');
                pendingSpace = false;
                text.push_back(*p);
            }
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
            m_wantedText = TextEncoding::FoldCase(Trim(anchor, " \r\n\t"));
    }

    void Walk(const GumboNode* document)
    {
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
            if (!IsElement(child))
                continue;
            const bool noindex = Visit(child);
            stack.push_back({child, 0, noindex});
        }
        m_findings.externalLinks = static_cast<int>(m_external.size());
    }

private:
    // True when the element opens a NOINDEX section.
    bool Visit(const GumboNode* node)
    {
        const GumboElement& element = node->v.element;
        switch (element.tag) {
        case GUMBO_TAG_META: {
            const std::string_view name = AttributeValue(element, "name");
            if (EqualsNoCase(name, "robots") || EqualsNoCase(name, "googlebot")) {
                if (pagescan::RobotsContentSaysNofollow(ToLowerAscii(AttributeValue(element, "content"))))
                    m_findings.nofollowSeen = true;
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
        if (StartsWithNoCase(href, "mailto:") || href.empty())
            return;
        const std::string_view relWritten = AttributeValue(element, "rel");
        const std::string rel = ToLowerAscii(relWritten);
        const bool relNofollow = RelSaysNofollow(rel);

        const bool hrefSplit = ParseHref(m_pageSplit ? &m_page : nullptr, href, m_href);
        if (m_toSplit && hrefSplit && pagescan::PartsMatch(m_to, m_href, false)) {
            m_findings.found = true;
            if (relNofollow || m_inNoindex)
                m_findings.nofollowSeen = true;
            std::string text = InnerText(node);
            if (m_anyText || TextEncoding::FoldCase(text) == m_wantedText)
                m_findings.textOk = true;
            m_findings.matches.push_back({std::string(href), std::string(relWritten), std::move(text)});
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
                m_key = ToLowerAscii(TrimHref(href));
            m_external.insert(m_key);
        }
    }

    PageFindings& m_findings;
    CUrlParts m_page;
    CUrlParts m_to;
    CUrlParts m_href; // the anchor's, kept so that its buffers are reused from anchor to anchor
    std::string m_key;
    bool m_pageSplit = false;
    bool m_toSplit = false;
    bool m_anyText = false;
    std::string m_wantedText;
    bool m_inNoindex = false;
    // Only the number of distinct hrefs is kept, so a hash set does what an ordered one would.
    std::unordered_set<std::string> m_external;
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
        const bool defaults = a.port == DefaultPort(a.service) && b.port == DefaultPort(b.service);
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
    if (!EqualsNoCase(hostA, hostB))
        return false;
    if (a.object == "/*" || b.object == "/*")
        return true;
    return EqualsNoCase(a.object, b.object);
}

bool SameSite(const CUrlParts& page, const CUrlParts& href)
{
    const std::string_view a = page.host;
    const std::string_view b = href.host;
    if (EqualsNoCase(a, b))
        return true;
    if (StartsWithNoCase(a, "www.") && EqualsNoCase(a.substr(4), b))
        return true;
    return StartsWithNoCase(b, "www.") && EqualsNoCase(b.substr(4), a);
}

bool RobotsContentSaysNofollow(std::string_view content)
{
    return content.find("nofollow") != std::string_view::npos || HasToken(content, "none");
}

bool HeadersSayNofollow(std::string_view headers)
{
    std::size_t pos = 0;
    while (pos < headers.size()) {
        std::size_t end = headers.find('\n', pos);
        if (end == std::string_view::npos)
            end = headers.size();
        const std::string_view line = headers.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !EqualsNoCase(Trim(line.substr(0, colon)), "x-robots-tag"))
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
                const std::string prefix = ToLowerAscii(Trim(piece.substr(0, inner)));
                if (prefix != "unavailable_after" && prefix != "max-snippet" && prefix != "max-image-preview" &&
                    prefix != "max-video-preview") {
                    agent = prefix;
                    piece = Trim(piece.substr(inner + 1));
                }
            }
            const std::string directive = ToLowerAscii(piece);
            if ((agent.empty() || agent == "googlebot") && (directive == "nofollow" || directive == "none"))
                return true;
        }
    }
    return false;
}

bool LimitNesting(std::string_view text, std::string& out)
{
    CNestingEstimate estimate(text);
    return estimate.Run(out);
}

} // namespace pagescan

bool ScanPage(const std::string& pageUrl, const std::string& pageText, const std::string& headers,
              const std::string& toPage, const std::string& anchor, PageFindings& findings)
{
    try {
        findings = PageFindings{};
        std::string limited;
        std::string_view text = pageText;
        if (pagescan::LimitNesting(pageText, limited))
            text = limited;

        CParserMemory memory;
        GumboOptions options = kGumboDefaultOptions;
        options.allocator = &CParserMemory::Allocate;
        options.deallocator = &CParserMemory::Deallocate;
        options.userdata = &memory;
        options.max_errors = 0; // the walk never looks at them
        const GumboOutput* output = gumbo_parse_with_options(&options, text.data(), text.size());
        if (!output || !output->document)
            return false;

        if (pagescan::HeadersSayNofollow(headers))
            findings.nofollowSeen = true;
        CPageWalk walk(pageUrl, toPage, anchor, findings);
        walk.Walk(output->document);
        return true; // `memory` takes the tree with it
    } catch (const std::exception&) {
        findings = PageFindings{};
        return false;
    }
}
