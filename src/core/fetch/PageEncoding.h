#pragma once

// Character sets of fetched pages: encoding labels read as browsers read them, and the converters
// that turn page bytes into UTF-8.

#include <iconv.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace pageencoding {

enum class EncodingKind
{
    Utf8,
    Utf16Le,
    Utf16Be,
    Other, // an ASCII-compatible encoding iconv converts under `name`
};

struct Encoding
{
    EncodingKind kind = EncodingKind::Other;
    std::string name;
};

/// An encoding label read as browsers read it: the labels whose browser meaning differs from
/// iconv's are mapped (ISO-8859-1 and US-ASCII are windows-1252 on the web, GB2312 is read as
/// GB18030, Shift_JIS as Microsoft's CP932, ...); any other label goes to iconv as it is.
/// `label` is lower case.
Encoding ResolveEncodingLabel(const std::string& label);

/// The charset parameter of a Content-Type value ("text/html; charset=\"windows-1251\""), lower
/// case and unquoted; "" when there is none. The first charset parameter counts.
std::string CharsetParameter(std::string_view contentType);

/// The charset a meta line names: the name after "charset=" taken from the probe (the line in
/// lower case without spaces), quotes removed. When the line itself has "charset" "=" with only
/// blanks between, the name is read there instead, so that a blank ends it ("charset=koi8-r for"
/// names koi8-r, where the probe would run on into "koi8-rfor").
std::string MetaCharsetName(const std::string& line, const std::string& probe);

/// Valid UTF-8 as it is; every invalid sequence becomes U+FFFD.
std::string SanitizeUtf8(const std::string& text);

/// A converter from one ASCII-compatible charset to UTF-8, a line at a time.
class CharsetConverter
{
public:
    CharsetConverter() = default;
    ~CharsetConverter() { Close(); }
    CharsetConverter(const CharsetConverter&) = delete;
    CharsetConverter& operator=(const CharsetConverter&) = delete;

    /// False when iconv lacks the charset, or when it does not read ASCII as ASCII (UTF-32,
    /// UTF-7, EBCDIC): lines are cut at the byte 0x0A, which only such a charset keeps whole.
    bool Open(const std::string& charset);

    /// For a meta line: the named charset, or windows-1252 for a name that cannot be used.
    void Select(const std::string& charset);

    /// The line in UTF-8; a byte the charset lacks becomes U+FFFD. Without an open charset the
    /// line is taken as UTF-8.
    std::string Convert(const std::string& line);

private:
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

    void Close();

    iconv_t m_cd = kNone;
    std::string m_name;
};

/// UTF-16 bytes to UTF-8 as they arrive: a byte or a high surrogate at the end of one block waits
/// for the next. Unpaired surrogates and an odd last byte become U+FFFD. A page in UTF-16 is
/// decoded before it is cut into lines, since a UTF-16 code unit may hold the byte 0x0A or 0x0D.
class Utf16Decoder
{
public:
    void SetBigEndian(bool bigEndian) { m_bigEndian = bigEndian; }

    std::string Decode(const char* data, std::size_t size);

    /// What is left at the end of the body.
    std::string Flush();

private:
    bool m_bigEndian = false;
    bool m_haveByte = false;
    unsigned m_byte = 0;
    char16_t m_pendingUnit = 0;
    std::u16string m_units;
};

} // namespace pageencoding
