#include "core/platform/TextEncoding.h"

#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

TEST(TextEncoding, RecognisesOnlyWellFormedUtf8)
{
    EXPECT_TRUE(TextEncoding::IsValidUtf8(""));
    EXPECT_TRUE(TextEncoding::IsValidUtf8("plain"));
    EXPECT_TRUE(TextEncoding::IsValidUtf8("Grüße € 🙂"));
    EXPECT_TRUE(TextEncoding::IsValidUtf8("\xF4\x8F\xBF\xBF"));  // U+10FFFF
    EXPECT_FALSE(TextEncoding::IsValidUtf8("\xC0\x80"));         // overlong NUL
    EXPECT_FALSE(TextEncoding::IsValidUtf8("\xE0\x80\xAF"));     // overlong slash
    EXPECT_FALSE(TextEncoding::IsValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(TextEncoding::IsValidUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
    EXPECT_FALSE(TextEncoding::IsValidUtf8("ab\xC3"));           // cut short
    EXPECT_FALSE(TextEncoding::IsValidUtf8("\xE2\x82"));
    EXPECT_FALSE(TextEncoding::IsValidUtf8("\x80"));
    EXPECT_FALSE(TextEncoding::IsValidUtf8("caf\xE9"));
}

TEST(TextEncoding, Utf16ConversionHandlesPairsAndStrays)
{
    EXPECT_EQ(TextEncoding::Utf16ToUtf8(u"Grüße € 🙂"), "Grüße € 🙂");
    EXPECT_EQ(TextEncoding::Utf8ToUtf16("Grüße € 🙂"), u"Grüße € 🙂");
    EXPECT_EQ(TextEncoding::Utf8ToUtf16("🙂").size(), 2u);
    // Unpaired surrogates, at the end and before an ordinary unit, become U+FFFD.
    EXPECT_EQ(TextEncoding::Utf16ToUtf8(std::u16string{u'a', char16_t(0xD83D)}), "a\xEF\xBF\xBD");
    EXPECT_EQ(TextEncoding::Utf16ToUtf8(std::u16string{char16_t(0xDE42), u'b'}), "\xEF\xBF\xBD"
                                                                                 "b");
    EXPECT_EQ(TextEncoding::Utf16ToUtf8(std::u16string{char16_t(0xD83D), u'c'}), "\xEF\xBF\xBD"
                                                                                 "c");
    EXPECT_EQ(TextEncoding::Utf8ToUtf16("x\xFFy"), u"x\uFFFDy");
    EXPECT_EQ(TextEncoding::Utf8ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");
}

TEST(TextEncoding, LegacyTextFollowsTheConfiguredCodePage)
{
    {
        testsupport::ScopedEnv none("ORVEX_CODEPAGE", "");
        EXPECT_EQ(TextEncoding::LegacyCodePage(), "CP1252");
        EXPECT_EQ(TextEncoding::LegacyToUtf8("\x80 \x9F \xE9"), "€ Ÿ é");
        // Bytes Windows-1252 leaves undefined keep their C1 code points.
        EXPECT_EQ(TextEncoding::LegacyToUtf8("\x81\x9D"), "\xC2\x81\xC2\x9D");
        EXPECT_EQ(TextEncoding::LegacyToUtf8("already \xC3\xA9"), "already é");
    }
    {
        testsupport::ScopedEnv cyrillic("ORVEX_CODEPAGE", "CP1251");
        EXPECT_EQ(TextEncoding::LegacyToUtf8("\xCF\xF0\xE8\xE2\xE5\xF2"), "Привет");
        // Valid UTF-8 is never reinterpreted, whatever the code page.
        EXPECT_EQ(TextEncoding::LegacyToUtf8("Привет"), "Привет");
    }
    {
        testsupport::ScopedEnv bogus("ORVEX_CODEPAGE", "NO-SUCH-CODEPAGE");
        EXPECT_EQ(TextEncoding::LegacyToUtf8("\xE9t\xE9"), "été");
    }
    {
        // A byte the code page does not map becomes U+FFFD, and the rest still converts.
        testsupport::ScopedEnv cyrillic("ORVEX_CODEPAGE", "CP1251");
        EXPECT_EQ(TextEncoding::LegacyToUtf8("\x98\xC0"), "\xEF\xBF\xBD\xD0\x90");
    }
}
