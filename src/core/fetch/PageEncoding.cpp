#include "PageEncoding.h"

#include "core/platform/TextEncoding.h"

namespace pageencoding {

namespace {

bool IsCharsetNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':';
}

/// The name after "charset=" at `pos` of lower-case `text`, quotes (and, in the line, blanks)
/// before it skipped; it ends at the first character that cannot be part of a name.
std::string NameAt(const std::string& text, std::size_t pos)
{
    while (pos < text.size() && (text[pos] == '"' || text[pos] == '\'' || text[pos] == ' '))
        ++pos;
    std::string name;
    while (pos < text.size() && name.size() < 40 && IsCharsetNameChar(text[pos]))
        name += text[pos++];
    return name;
}

std::string LowerTrimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return out;
}

} // namespace

Encoding ResolveEncodingLabel(const std::string& label)
{
    struct Alias
    {
        std::string_view label;
        EncodingKind kind;
        std::string_view name;
    };
    static constexpr Alias kAliases[] = {
        {"utf-8", EncodingKind::Utf8, ""},
        {"utf8", EncodingKind::Utf8, ""},
        {"unicode-1-1-utf-8", EncodingKind::Utf8, ""},
        {"unicode11utf8", EncodingKind::Utf8, ""},
        {"unicode20utf8", EncodingKind::Utf8, ""},
        {"x-unicode20utf8", EncodingKind::Utf8, ""},
        {"utf-16", EncodingKind::Utf16Le, ""},
        {"utf-16le", EncodingKind::Utf16Le, ""},
        {"ucs-2", EncodingKind::Utf16Le, ""},
        {"unicode", EncodingKind::Utf16Le, ""},
        {"unicodefeff", EncodingKind::Utf16Le, ""},
        {"iso-10646-ucs-2", EncodingKind::Utf16Le, ""},
        {"csunicode", EncodingKind::Utf16Le, ""},
        {"utf-16be", EncodingKind::Utf16Be, ""},
        {"unicodefffe", EncodingKind::Utf16Be, ""},
        {"ascii", EncodingKind::Other, "WINDOWS-1252"},
        {"us-ascii", EncodingKind::Other, "WINDOWS-1252"},
        {"ansi_x3.4-1968", EncodingKind::Other, "WINDOWS-1252"},
        {"iso-8859-1", EncodingKind::Other, "WINDOWS-1252"},
        {"iso8859-1", EncodingKind::Other, "WINDOWS-1252"},
        {"iso88591", EncodingKind::Other, "WINDOWS-1252"},
        {"iso_8859-1", EncodingKind::Other, "WINDOWS-1252"},
        {"iso_8859-1:1987", EncodingKind::Other, "WINDOWS-1252"},
        {"iso-ir-100", EncodingKind::Other, "WINDOWS-1252"},
        {"csisolatin1", EncodingKind::Other, "WINDOWS-1252"},
        {"latin1", EncodingKind::Other, "WINDOWS-1252"},
        {"l1", EncodingKind::Other, "WINDOWS-1252"},
        {"cp819", EncodingKind::Other, "WINDOWS-1252"},
        {"ibm819", EncodingKind::Other, "WINDOWS-1252"},
        {"x-cp1252", EncodingKind::Other, "WINDOWS-1252"},
        {"x-user-defined", EncodingKind::Other, "WINDOWS-1252"},
        {"iso-8859-9", EncodingKind::Other, "WINDOWS-1254"},
        {"iso8859-9", EncodingKind::Other, "WINDOWS-1254"},
        {"iso88599", EncodingKind::Other, "WINDOWS-1254"},
        {"iso_8859-9", EncodingKind::Other, "WINDOWS-1254"},
        {"iso_8859-9:1989", EncodingKind::Other, "WINDOWS-1254"},
        {"iso-ir-148", EncodingKind::Other, "WINDOWS-1254"},
        {"csisolatin5", EncodingKind::Other, "WINDOWS-1254"},
        {"latin5", EncodingKind::Other, "WINDOWS-1254"},
        {"l5", EncodingKind::Other, "WINDOWS-1254"},
        {"x-cp1254", EncodingKind::Other, "WINDOWS-1254"},
        {"iso-8859-11", EncodingKind::Other, "CP874"},
        {"iso8859-11", EncodingKind::Other, "CP874"},
        {"iso885911", EncodingKind::Other, "CP874"},
        {"tis-620", EncodingKind::Other, "CP874"},
        {"dos-874", EncodingKind::Other, "CP874"},
        {"windows-874", EncodingKind::Other, "CP874"},
        {"iso-8859-8-i", EncodingKind::Other, "ISO-8859-8"},
        {"csiso88598i", EncodingKind::Other, "ISO-8859-8"},
        {"logical", EncodingKind::Other, "ISO-8859-8"},
        {"gb2312", EncodingKind::Other, "GB18030"},
        {"gb_2312", EncodingKind::Other, "GB18030"},
        {"gb_2312-80", EncodingKind::Other, "GB18030"},
        {"csgb2312", EncodingKind::Other, "GB18030"},
        {"csiso58gb231280", EncodingKind::Other, "GB18030"},
        {"iso-ir-58", EncodingKind::Other, "GB18030"},
        {"chinese", EncodingKind::Other, "GB18030"},
        {"gbk", EncodingKind::Other, "GB18030"},
        {"x-gbk", EncodingKind::Other, "GB18030"},
        {"shift_jis", EncodingKind::Other, "CP932"},
        {"shift-jis", EncodingKind::Other, "CP932"},
        {"sjis", EncodingKind::Other, "CP932"},
        {"x-sjis", EncodingKind::Other, "CP932"},
        {"ms_kanji", EncodingKind::Other, "CP932"},
        {"ms932", EncodingKind::Other, "CP932"},
        {"windows-31j", EncodingKind::Other, "CP932"},
        {"csshiftjis", EncodingKind::Other, "CP932"},
        {"euc-kr", EncodingKind::Other, "CP949"},
        {"cseuckr", EncodingKind::Other, "CP949"},
        {"ks_c_5601-1987", EncodingKind::Other, "CP949"},
        {"ks_c_5601-1989", EncodingKind::Other, "CP949"},
        {"ksc5601", EncodingKind::Other, "CP949"},
        {"ksc_5601", EncodingKind::Other, "CP949"},
        {"csksc56011987", EncodingKind::Other, "CP949"},
        {"iso-ir-149", EncodingKind::Other, "CP949"},
        {"korean", EncodingKind::Other, "CP949"},
        {"windows-949", EncodingKind::Other, "CP949"},
        {"big5", EncodingKind::Other, "BIG5-HKSCS"},
        {"big5-hkscs", EncodingKind::Other, "BIG5-HKSCS"},
        {"cn-big5", EncodingKind::Other, "BIG5-HKSCS"},
        {"csbig5", EncodingKind::Other, "BIG5-HKSCS"},
        {"x-x-big5", EncodingKind::Other, "BIG5-HKSCS"},
    };
    for (const Alias& alias : kAliases) {
        if (alias.label == label)
            return {alias.kind, std::string(alias.name)};
    }
    return {EncodingKind::Other, label};
}

std::string CharsetParameter(std::string_view type)
{
    std::size_t i = type.find(';');
    while (i != std::string_view::npos) {
        ++i; // past the ';'
        const std::size_t nameEnd = type.find_first_of("=;", i);
        if (nameEnd == std::string_view::npos)
            break;
        if (type[nameEnd] == ';') {
            i = nameEnd;
            continue;
        }
        const std::string name = LowerTrimmed(type.substr(i, nameEnd - i));
        std::size_t v = nameEnd + 1;
        std::string value;
        if (v < type.size() && type[v] == '"') {
            for (++v; v < type.size() && type[v] != '"'; ++v) {
                if (type[v] == '\\' && v + 1 < type.size())
                    ++v;
                value += type[v];
            }
            i = type.find(';', v);
        } else {
            i = type.find(';', v);
            value = type.substr(v, i == std::string_view::npos ? std::string_view::npos : i - v);
        }
        if (name == "charset")
            return LowerTrimmed(value);
    }
    return {};
}

std::string MetaCharsetName(const std::string& line, const std::string& probe)
{
    std::string lower = line;
    for (char& c : lower)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (std::size_t at = lower.find("charset"); at != std::string::npos; at = lower.find("charset", at + 1)) {
        std::size_t i = at + 7;
        while (i < lower.size() && lower[i] == ' ')
            ++i;
        if (i < lower.size() && lower[i] == '=') {
            std::string name = NameAt(lower, i + 1);
            if (!name.empty())
                return name;
        }
    }
    const std::size_t at = probe.find("charset=");
    return at == std::string::npos ? std::string() : NameAt(probe, at + 8);
}

std::string SanitizeUtf8(const std::string& text)
{
    if (TextEncoding::IsValidUtf8(text))
        return text;
    return TextEncoding::Utf16ToUtf8(TextEncoding::Utf8ToUtf16(text));
}

bool CharsetConverter::Open(const std::string& charset)
{
    if (m_cd != kNone && charset == m_name)
        return true;
    Close();
    if (charset.empty())
        return false;
    m_cd = iconv_open("UTF-8", charset.c_str());
    if (m_cd == kNone)
        return false;
    static constexpr std::string_view kAscii = "<meta charset=\"x\"> +-/:;?AZaz09\t";
    if (TextEncoding::ConvertToUtf8(m_cd, kAscii) != kAscii) {
        Close();
        return false;
    }
    m_name = charset;
    return true;
}

void CharsetConverter::Select(const std::string& charset)
{
    if (!Open(charset))
        Open("WINDOWS-1252");
}

std::string CharsetConverter::Convert(const std::string& line)
{
    if (m_cd == kNone)
        return SanitizeUtf8(line);
    return TextEncoding::ConvertToUtf8(m_cd, line);
}

void CharsetConverter::Close()
{
    if (m_cd != kNone)
        iconv_close(m_cd);
    m_cd = kNone;
    m_name.clear();
}

std::string Utf16Decoder::Decode(const char* data, std::size_t size)
{
    m_units.clear();
    if (m_pendingUnit != 0)
        m_units += m_pendingUnit;
    m_pendingUnit = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (!m_haveByte) {
            m_byte = static_cast<unsigned char>(data[i]);
            m_haveByte = true;
            continue;
        }
        const auto second = static_cast<unsigned char>(data[i]);
        m_haveByte = false;
        m_units += static_cast<char16_t>(m_bigEndian ? (m_byte << 8) | second : (second << 8) | m_byte);
    }
    if (!m_units.empty() && m_units.back() >= 0xD800 && m_units.back() <= 0xDBFF) {
        m_pendingUnit = m_units.back();
        m_units.pop_back();
    }
    return TextEncoding::Utf16ToUtf8(m_units);
}

std::string Utf16Decoder::Flush()
{
    std::string out;
    if (m_pendingUnit != 0)
        out = TextEncoding::Utf16ToUtf8(std::u16string(1, m_pendingUnit));
    if (m_haveByte)
        out += "\xEF\xBF\xBD";
    m_pendingUnit = 0;
    m_haveByte = false;
    return out;
}

} // namespace pageencoding
