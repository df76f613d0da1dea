#include "TextMatch.h"

#include <cstdint>
#include <cstring>

namespace {

bool IsAscii(std::string_view text)
{
    const char* p = text.data();
    std::size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ULL)
            return false;
    }
    for (; n > 0; ++p, --n)
        if (static_cast<unsigned char>(*p) & 0x80)
            return false;
    return true;
}

char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

// `needle` is upper case already.
bool ContainsAsciiUpper(std::string_view haystack, std::string_view needle)
{
    if (needle.empty())
        return true;
    if (haystack.size() < needle.size())
        return false;
    const char first = needle.front();
    const std::size_t last = haystack.size() - needle.size();
    for (std::size_t i = 0; i <= last; ++i) {
        if (AsciiUpper(haystack[i]) != first)
            continue;
        std::size_t k = 1;
        while (k < needle.size() && AsciiUpper(haystack[i + k]) == needle[k])
            ++k;
        if (k == needle.size())
            return true;
    }
    return false;
}

} // namespace

// Most cells are plain ASCII, whose upper case is A-Z for a-z and nothing else, so those are
// compared in their UTF-8 bytes as they are; any other cell goes through QString.
CTextMatcher::CTextMatcher(const QString& text, bool matchCase)
    : m_matchCase(matchCase), m_needle(matchCase ? text : text.toUpper()), m_needleBytes(m_needle.toUtf8()),
      m_asciiNeedle(IsAscii(Needle()))
{
}

bool CTextMatcher::Matches(std::string_view cell) const
{
    if (IsAscii(cell)) {
        // An ASCII cell stays ASCII in upper case, so it cannot hold any other character.
        if (!m_asciiNeedle)
            return false;
        return m_matchCase ? cell.find(Needle()) != std::string_view::npos : ContainsAsciiUpper(cell, Needle());
    }
    const QString shown = QString::fromUtf8(cell.data(), static_cast<qsizetype>(cell.size()));
    return (m_matchCase ? shown : shown.toUpper()).contains(m_needle);
}
