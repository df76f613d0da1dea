#include "TerminalText.h"

#include <cstdarg>
#include <vector>

namespace {

void AppendEscape(std::string& out, const char* form, unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, form, value);
    out += text;
}

// The length of the UTF-8 character at `s[i]`, 0 when the bytes there are none: overlong forms,
// surrogates and code points past U+10FFFF are no characters either.
std::size_t CharacterLength(std::string_view s, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > s.size() || byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    return length;
}

unsigned CodePoint(std::string_view s, std::size_t i, std::size_t length)
{
    unsigned cp = static_cast<unsigned char>(s[i]) & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return cp;
}

// Characters that reorder what follows them on the line, so that the text read is not the text
// there: embeddings, overrides and isolates.
bool ReordersText(unsigned cp)
{
    return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

} // namespace

std::string EscapeControls(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F)
                AppendEscape(out, "\\x%02X", c);
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        const std::size_t length = CharacterLength(text, i);
        if (length == 0) {
            AppendEscape(out, "\\x%02X", c);
            ++i;
            continue;
        }
        const unsigned cp = CodePoint(text, i, length);
        if ((cp >= 0x80 && cp <= 0x9F) || ReordersText(cp))
            AppendEscape(out, "\\u%04X", cp);
        else
            out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

void PrintEscaped(std::FILE* stream, const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (size > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
        const std::string out = EscapeControls(std::string_view(buffer.data(), static_cast<std::size_t>(size)));
        std::fwrite(out.data(), 1, out.size(), stream);
    }
    va_end(again);
}
