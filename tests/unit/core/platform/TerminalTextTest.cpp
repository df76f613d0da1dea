#include "core/platform/TerminalText.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

struct EscapeCase
{
    std::string_view text;
    std::string_view shown;
};

// What a page can put into a report, and what the terminal receives: controls made visible at
// both ends of each control range with the neighbour that stays, the reports' own line ends and
// tabs, and text in any script untouched.
TEST(TerminalText, ControlCharactersAreShownAsEscapesAndTextStaysAsItIs)
{
    using namespace std::string_view_literals;
    const EscapeCase cases[] = {
        {"plain text, \"quoted\" and C:\\path\\x41", "plain text, \"quoted\" and C:\\path\\x41"},
        {"\x1b[2J\x1b[H", "\\x1B[2J\\x1B[H"},                   // clear the screen
        {"\x1b]0;title\x07", "\\x1B]0;title\\x07"},             // retitle the terminal
        {"\x1b]52;c;aGVsbG8=\x07", "\\x1B]52;c;aGVsbG8=\\x07"}, // write the clipboard
        {"a\0b"sv, "a\\x00b"},                                  // first C0 control
        {"a\x1f"
         "b",
         "a\\x1Fb"},  // last C0 control
        {" ~", " ~"}, // printable ASCII, both ends
        {"a\x7f"
         "b",
         "a\\x7Fb"},                                                     // DEL
        {"line\r\nend\rover", "line\\x0D\nend\\x0Dover"},                // CR rewrites the line
        {"a\tb\nc\n", "a\tb\nc\n"},                                      // the reports' layout
        {"\x0b\x0c\x08", "\\x0B\\x0C\\x08"},                             // other line and cursor moves
        {"\xc2\x80|\xc2\x9b[2J|\xc2\x9f", "\\u0080|\\u009B[2J|\\u009F"}, // C1 controls, CSI among them
        {"\xc2\xa0\xc2\xbf", "\xc2\xa0\xc2\xbf"},                        // past C1: no-break space, ¿
        {"\x9b"
         "2J",
         "\\x9B2J"}, // a lone C1 byte is no UTF-8
        {"abc\xe2\x80\xae"
         "fdp.exe",
         "abc\\u202Efdp.exe"},                                                 // right-to-left override
        {"\xe2\x80\xaa|\xe2\x81\xa6|\xe2\x81\xa9", "\\u202A|\\u2066|\\u2069"}, // embedding, isolates
        {"\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa", "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"},
        {"Мой сайт, 例え, \xf0\x9f\x98\x80", "Мой сайт, 例え, \xf0\x9f\x98\x80"},
        {"\xc0\xaf", "\\xC0\\xAF"},                   // overlong "/"
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},          // a surrogate
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"}, // past U+10FFFF
        {"\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},     // U+10FFFF itself
        {"end\xe2\x80", "end\\xE2\\x80"},             // cut short
        {"\xff\xfe", "\\xFF\\xFE"},
    };
    for (const EscapeCase& c : cases)
        EXPECT_EQ(EscapeControls(c.text), c.shown) << testing::PrintToString(std::string(c.text));
}

} // namespace
