#pragma once

#include <cstdint>
#include <iconv.h>
#include <string>
#include <string_view>

/// Text inside the program is UTF-8; these convert what files and other writers hand us.
namespace TextEncoding {

bool IsAscii(std::string_view text);
bool IsValidUtf8(std::string_view text);

/// UTF-16 code units to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
/// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

/// Text from an old 8-bit writer: valid UTF-8 is taken as it is, anything else is read in the
/// legacy code page (Windows-1252 unless $ORVEX_CODEPAGE names another, such as CP1251).
std::string LegacyToUtf8(std::string_view text);

/// Runs an open iconv descriptor (converting to UTF-8) over the text; a byte the source charset
/// lacks becomes U+FFFD. The descriptor is reset first, so one can serve many texts.
std::string ConvertToUtf8(iconv_t cd, std::string_view text);

/// The code page name LegacyToUtf8 uses.
std::string LegacyCodePage();

/// Lower case for comparing texts without regard to case: ASCII, Latin-1 Supplement, Latin
/// Extended-A, Greek and Cyrillic letters (final sigma folds to sigma); everything else,
/// malformed bytes included, is copied as it is.
std::string FoldCase(std::string_view utf8);

} // namespace TextEncoding
