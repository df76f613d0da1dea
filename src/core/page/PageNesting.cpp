// The nesting estimate of a page: which start tags would nest deeper than the walk allows, and
// where a page may be cut into pieces. A light pass over the text, no tree.
#include "PageScan.h"

#include "core/records/TextUtil.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

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

// Elements a piece of the page may begin inside: their start tags (with their attributes) put a
// fresh parser where the page's parser was, as the parser keeps no other state about them. The
// document's html and body come with every parse.
constexpr std::string_view kReopenableElements[] = {
    "html",  "body",   "div",    "span",   "p",       "ul",     "ol",         "li",         "dl",      "dt",    "dd",
    "table", "tbody",  "thead",  "tfoot",  "tr",      "td",     "th",         "section",    "article", "aside", "nav",
    "main",  "header", "footer", "center", "address", "figure", "figcaption", "blockquote", "hgroup",  "h1",    "h2",
    "h3",    "h4",     "h5",     "h6",     "pre",     "b",      "big",        "code",       "em",      "font",  "i",
    "nobr",  "s",      "small",  "strike", "strong",  "tt",     "u",          "noindex",
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
    /// `cuts`, when given, receives the places where the page may be parsed in separate pieces.
    CNestingEstimate(std::string_view text, pagescan::CPageCuts* cuts)
        : m_text(text), m_cuts(cuts), m_cutSpacing(cuts ? std::max<std::size_t>(cuts->spacing, 1) : 1)
    {
    }

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
                const std::size_t outAt = m_dropped ? out.size() + (lt - m_copied) : lt;
                if (!StartTag(name, selfClosing))
                    Drop(lt, gt + 1, out);
                else
                    NoteStartTag(name, outAt);
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
        while (i < m_text.size() && !IsHtmlSpace(m_text[i]) && m_text[i] != '/' && m_text[i] != '>')
            ++i;
        // Long names are all unknown elements alike; a short key keeps the bookkeeping cheap.
        return AsciiLowerCase(m_text.substr(start, std::min<std::size_t>(i - start, 24)));
    }

    // Position of the '>' that ends the tag, or npos.
    std::size_t SkipAttributes(std::size_t i, bool& selfClosing) const
    {
        const std::size_t n = m_text.size();
        while (true) {
            while (i < n && (IsHtmlSpace(m_text[i]) || m_text[i] == '/')) {
                selfClosing = m_text[i] == '/' && i + 1 < n && m_text[i + 1] == '>';
                ++i;
            }
            if (i >= n)
                return std::string_view::npos;
            if (m_text[i] == '>')
                return i;
            selfClosing = false;
            ++i; // the first character of a name may be anything, '=' included
            while (i < n && !IsHtmlSpace(m_text[i]) && m_text[i] != '/' && m_text[i] != '>' && m_text[i] != '=')
                ++i;
            while (i < n && IsHtmlSpace(m_text[i]))
                ++i;
            if (i < n && m_text[i] == '=') {
                ++i;
                while (i < n && IsHtmlSpace(m_text[i]))
                    ++i;
                if (i < n && (m_text[i] == '"' || m_text[i] == '\'')) {
                    const std::size_t close = m_text.find(m_text[i], i + 1);
                    if (close == std::string_view::npos)
                        return std::string_view::npos;
                    i = close + 1;
                } else {
                    while (i < n && !IsHtmlSpace(m_text[i]) && m_text[i] != '>')
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
            if (after <= m_text.size() && EqualsIgnoringCase(m_text.substr(lt + 2, name.size()), name) &&
                (after == m_text.size() || IsHtmlSpace(m_text[after]) || m_text[after] == '/' || m_text[after] == '>'))
                return lt;
            pos = lt + 2;
        }
    }

    // Anchor start tags, spaced out, where only elements a piece can reopen seem to be open, are
    // where a walk may cut the page into pieces; whether a cut really is harmless the parser
    // itself shows (see ScanPageInPieces), this only spares it cuts bound to fail.
    void NoteStartTag(const std::string& name, std::size_t outAt)
    {
        ++m_startTags;
        if (!m_cuts)
            return;
        m_cuts->startTags = m_startTags;
        if (name == "a" && m_cutCandidate && m_startTags - m_lastCutTags >= m_cutSpacing) {
            m_cuts->points.push_back({outAt, m_startTags - 1});
            m_lastCutTags = m_startTags;
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
        if (name == "a" && m_cuts)
            m_cutCandidate = m_foreign == 0 && m_stack.size() <= pagescan::kMaxReopenDepth &&
                             std::all_of(m_stack.begin(), m_stack.end(),
                                         [](const std::string& open) { return OneOf(open, kReopenableElements); });
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
    pagescan::CPageCuts* m_cuts;
    std::size_t m_cutSpacing;
    std::vector<std::string> m_stack;
    std::unordered_map<std::string, int> m_counts;
    int m_foreign = 0;
    bool m_dropped = false;
    std::size_t m_copied = 0;
    std::size_t m_startTags = 0;
    std::size_t m_lastCutTags = 0;
    bool m_cutCandidate = false;
};

} // namespace

bool pagescan::LimitNesting(std::string_view text, std::string& out, CPageCuts* cuts)
{
    CNestingEstimate estimate(text, cuts);
    return estimate.Run(out);
}

bool pagescan::IsReopenable(std::string_view name)
{
    return OneOf(name, kReopenableElements);
}
