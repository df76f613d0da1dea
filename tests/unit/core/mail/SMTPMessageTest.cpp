#include "core/mail/SMTPMessage.h"

#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <regex>
#include <set>
#include <string>
#include <vector>

using MailEncoding::EncodeQuotedPrintable;

namespace {

const std::string kLatin1 = "iso-8859-1";

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const auto end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return lines;
        start = end + 2;
    }
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/// A strict quoted-printable reader: a "=" not followed by CR LF or two upper-case hex digits fails.
bool DecodeQuotedPrintable(const std::string& text, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
            continue;
        }
        if (text.compare(i + 1, 2, "\r\n") == 0) {
            i += 2;
            continue;
        }
        if (i + 2 >= text.size() || HexValue(text[i + 1]) < 0 || HexValue(text[i + 2]) < 0)
            return false;
        out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
        i += 2;
    }
    return true;
}

/// The header block without its Date line, and that line apart.
void SplitOffDate(const std::string& header, std::string& rest, std::string& dateLine)
{
    const auto at = header.find("Date: ");
    ASSERT_NE(at, std::string::npos) << header;
    const auto end = header.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    dateLine = header.substr(at, end - at);
    rest = header.substr(0, at) + header.substr(end + 2);
}

/// The Date value the header should carry at `when`, with names from the "C" locale the test runs in.
std::string ExpectedDate(std::time_t when)
{
    struct tm local = {};
    localtime_r(&when, &local);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S ", &local);
    const long minutes = local.tm_gmtoff / 60;
    char zone[48];
    std::snprintf(zone, sizeof zone, "%c%02ld%02ld", minutes < 0 ? '-' : '+', std::labs(minutes) / 60,
                  std::labs(minutes) % 60);
    return std::string("Date: ") + text + zone;
}

std::string DateLineIn(const char* zone, std::string& expectedBefore, std::string& expectedAfter)
{
    testsupport::ScopedTimeZone tz(zone);
    CQRMSMTPMessage message;
    expectedBefore = ExpectedDate(std::time(nullptr));
    std::string rest, dateLine;
    SplitOffDate(message.BuildHeaderBlock(), rest, dateLine);
    expectedAfter = ExpectedDate(std::time(nullptr));
    return dateLine;
}

std::string Zone(const std::string& dateLine)
{
    return dateLine.substr(dateLine.size() - 5);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Addresses

TEST(SMTPAddress, ParseSplitsAngleAndParenthesisFormsByPosition)
{
    const struct
    {
        const char* text;
        const char* address;
        const char* name;
    } cases[] = {
        {"  Anna Smith <anna@example.com>  ", "anna@example.com", "Anna Smith"},
        // Blanks inside the brackets would reach RCPT TO.
        {"Anna < anna@example.com >", "anna@example.com", "Anna"},
        {"bob@example.com (Bob Jones)", "bob@example.com", "Bob Jones"},
        // The parenthesis form is taken by position, so a name in front lands in the address field.
        {"Bob Jones (bob@example.com)", "Bob Jones", "bob@example.com"},
        {" carol@example.com\t", "carol@example.com", ""},
        // Brackets with nothing between them are no address part: the whole text is the address.
        {"x <>", "x <>", ""},
        {"d@example.com ()", "d@example.com ()", ""},
        {"e@example.com (unclosed", "e@example.com (unclosed", ""},
    };
    for (const auto& c : cases) {
        const auto a = CQRMSMTPAddress::ParseAddress(c.text);
        EXPECT_EQ(a.m_emailAddress, c.address) << c.text;
        EXPECT_EQ(a.m_friendlyName, c.name) << c.text;
    }
}

TEST(SMTPAddress, FormatsBareOrNamedAndEncodesTheName)
{
    EXPECT_EQ(CQRMSMTPAddress("a@example.com").FormatForHeader(true, kLatin1), "a@example.com");
    EXPECT_EQ(CQRMSMTPAddress("Orvex", "a@example.com").FormatForHeader(true, kLatin1), "Orvex <a@example.com>");
    const CQRMSMTPAddress accented("Jürgen", "j@example.com");
    EXPECT_EQ(accented.FormatForHeader(true, kLatin1), "=?iso-8859-1?q?J=FCrgen?= <j@example.com>");
    EXPECT_EQ(accented.FormatForHeader(false, kLatin1), "Jürgen <j@example.com>");
}

TEST(SMTPMessageRecipients, ListSplitsOnCommaAndSemicolonOutsideQuotes)
{
    CQRMSMTPMessage message;
    EXPECT_TRUE(
        message.AddRecipientList("anna@example.com; Bob <bob@example.com>,\"Smith, Carol\" <carol@example.com>"));
    const auto& to = message.GetRecipients(CQRMSMTPMessage::RecipientTo);
    ASSERT_EQ(to.size(), 3u);
    EXPECT_EQ(to[0].m_emailAddress, "anna@example.com");
    EXPECT_EQ(to[1].m_friendlyName, "Bob");
    EXPECT_EQ(to[1].m_emailAddress, "bob@example.com");
    EXPECT_EQ(to[2].m_friendlyName, "\"Smith, Carol\"");
    EXPECT_EQ(to[2].m_emailAddress, "carol@example.com");
    EXPECT_TRUE(message.GetRecipients(CQRMSMTPMessage::RecipientCc).empty());
}

TEST(SMTPMessageRecipients, BlankPiecesAddNothingAndKindsAreChecked)
{
    CQRMSMTPMessage message;
    EXPECT_FALSE(message.AddRecipientList("   "));
    EXPECT_FALSE(message.AddRecipientList(" ,; ,"));
    EXPECT_FALSE(message.AddRecipientList(""));
    EXPECT_TRUE(message.GetRecipients(CQRMSMTPMessage::RecipientTo).empty());

    EXPECT_TRUE(message.AddRecipientList(" , a@example.com ,  ", CQRMSMTPMessage::RecipientBcc));
    ASSERT_EQ(message.GetRecipients(CQRMSMTPMessage::RecipientBcc).size(), 1u);
    EXPECT_EQ(message.GetRecipients(CQRMSMTPMessage::RecipientBcc)[0].m_emailAddress, "a@example.com");

    EXPECT_EQ(message.AddAddress(CQRMSMTPAddress("c1@example.com"), CQRMSMTPMessage::RecipientCc), 0);
    EXPECT_EQ(message.AddAddress(CQRMSMTPAddress("c2@example.com"), CQRMSMTPMessage::RecipientCc), 1);
    EXPECT_EQ(message.AddAddress(CQRMSMTPAddress("x@example.com"), 3), -1);
    EXPECT_EQ(message.AddAddress(CQRMSMTPAddress("x@example.com"), -1), -1);
    EXPECT_FALSE(message.AddRecipientList("y@example.com", static_cast<CQRMSMTPMessage::RecipientType>(7)));
    EXPECT_EQ(message.GetRecipients(CQRMSMTPMessage::RecipientCc).size(), 2u);
    EXPECT_TRUE(message.GetRecipients(CQRMSMTPMessage::RecipientTo).empty());
}

// ---------------------------------------------------------------------------------------------
// Header encoding

TEST(MailEncoding, HeaderWordsOnlyWhenAByteIsHigh)
{
    using MailEncoding::EncodeHeaderText;
    using MailEncoding::EncodeHeaderWord;
    EXPECT_EQ(EncodeHeaderText("Warning Notification = ok? a_b", kLatin1), "Warning Notification = ok? a_b");
    EXPECT_EQ(EncodeHeaderText("Grüße aus Köln", kLatin1), "=?iso-8859-1?q?Gr=FC=DFe_aus_K=F6ln?=");
    EXPECT_EQ(EncodeHeaderWord("\xE9 =?_x", kLatin1), "=?iso-8859-1?q?=E9_=3D=3F=5Fx?=");
    // Under UTF-8 the bytes go out as they are.
    EXPECT_EQ(EncodeHeaderText("é", "UTF-8"), "=?UTF-8?q?=C3=A9?=");
}

TEST(MailEncoding, LongHeaderTextBecomesSeveralWords)
{
    // 150 bytes in Latin-1: words of 70, 70 and 10 bytes, glued together.
    const std::string text = "é" + std::string(149, 'x');
    const std::string encoded = MailEncoding::EncodeHeaderText(text, kLatin1);
    const std::string expected =
        "=?iso-8859-1?q?=E9" + std::string(69, 'x') + "?=" + std::string(70, 'x') + std::string(10, 'x');
    // Only the first chunk holds a high byte; the others stay as they are.
    EXPECT_EQ(encoded, expected);

    std::string accented;
    for (int i = 0; i < 150; ++i)
        accented += "é";
    const std::string words = MailEncoding::EncodeHeaderText(accented, kLatin1);
    std::size_t count = 0;
    for (auto at = words.find("=?iso-8859-1?q?"); at != std::string::npos; at = words.find("=?iso", at + 1))
        ++count;
    EXPECT_EQ(count, 3u);

    // In UTF-8 a character never straddles two words.
    const std::string utf8 = MailEncoding::EncodeHeaderText("a" + accented, "UTF-8");
    EXPECT_EQ(utf8.find("=C3?="), std::string::npos) << utf8;
}

TEST(MailEncoding, Utf8ToLatin1KeepsLatin1AndMarksTheRest)
{
    EXPECT_EQ(MailEncoding::Utf8ToLatin1("plain <a href=\"x\">"), "plain <a href=\"x\">");
    EXPECT_EQ(MailEncoding::Utf8ToLatin1("é ÿ\u00A0"), "\xE9 \xFF\xA0");
    EXPECT_EQ(MailEncoding::Utf8ToLatin1("€ 🙂 ж"), "? ? ?");
    EXPECT_EQ(MailEncoding::Utf8ToLatin1("a\xC3"), "a?");
}

// ---------------------------------------------------------------------------------------------
// Quoted-printable and dot stuffing

TEST(QuotedPrintable, LongLineIsCutInto77And77And46)
{
    const std::string line(200, 'h');
    EXPECT_EQ(EncodeQuotedPrintable(line),
              std::string(77, 'h') + "=\r\n" + std::string(77, 'h') + "=\r\n" + std::string(46, 'h'));
}

TEST(QuotedPrintable, EscapesWhatIsNotPrintable)
{
    EXPECT_EQ(EncodeQuotedPrintable("a=b"), "a=3Db");
    EXPECT_EQ(EncodeQuotedPrintable("caf\xE9\x7F\x01 \tx"), "caf=E9=7F=01 \tx");
    EXPECT_EQ(EncodeQuotedPrintable("one\r\ntwo\r\n"), "one\r\ntwo\r\n");
    EXPECT_EQ(EncodeQuotedPrintable("!<>~"), "!<>~");
}

TEST(QuotedPrintable, CutsAfterBlanksOrWholeEscapesNeverInside)
{
    // An escape that ends within reach is where the line breaks: "=E9" at columns 75..77.
    const std::string escapeAtEdge = std::string(75, 'a') + "\xE9" + std::string(50, 'b');
    EXPECT_EQ(EncodeQuotedPrintable(escapeAtEdge), std::string(75, 'a') + "=E9=\r\n" + std::string(50, 'b'));

    // A blank is preferred over the hard cut.
    const std::string words = std::string(60, 'w') + " " + std::string(60, 'v');
    EXPECT_EQ(EncodeQuotedPrintable(words), std::string(60, 'w') + " =\r\n" + std::string(60, 'v'));

    // With no blank and no escape ending in reach, the hard cut still keeps "=3D" whole.
    const std::string equalsAtCut = std::string(76, 'a') + "=" + std::string(40, 'b');
    EXPECT_EQ(EncodeQuotedPrintable(equalsAtCut), std::string(76, 'a') + "=\r\n=3D" + std::string(40, 'b'));
}

TEST(QuotedPrintable, EveryLineFitsAndDecodesBack)
{
    // Mixed texts with escapes at every offset: each output line stays within 78 characters plus the
    // soft break's "=", and a strict decoder gets the input back.
    for (int shift = 0; shift < 12; ++shift) {
        std::string input;
        for (int i = 0; i < 600; ++i) {
            const int k = (i * 7 + shift) % 23;
            if (i % 97 == 0)
                input += "\r\n";
            else if (k == 0)
                input += '=';
            else if (k == 1)
                input += '\xE9';
            else if (k == 2)
                input += ' ';
            else
                input += static_cast<char>('a' + k % 26);
        }
        input += "\r\nend=";
        const std::string encoded = EncodeQuotedPrintable(input);
        for (const auto& line : SplitLines(encoded))
            EXPECT_LE(line.size(), 79u) << "shift " << shift << ": " << line;
        std::string decoded;
        ASSERT_TRUE(DecodeQuotedPrintable(encoded, decoded)) << encoded;
        EXPECT_EQ(decoded, input) << "shift " << shift;
    }
}

TEST(DotStuffing, EveryLineStartingWithADotGetsOneMore)
{
    EXPECT_EQ(MailEncoding::StuffDots(".first\r\n.second\r\nmid.dle\r\n..two\r\n."),
              "..first\r\n..second\r\nmid.dle\r\n...two\r\n..");
    EXPECT_EQ(MailEncoding::StuffDots("no dots"), "no dots");

    CQRMSMTPBodyPart part;
    part.SetText("<p>\n.hidden</p>");
    EXPECT_EQ(part.BuildPartBody(false), "<p>\r\n.hidden</p>");
    EXPECT_EQ(part.BuildPartBody(true), "<p>\r\n..hidden</p>");
}

// ---------------------------------------------------------------------------------------------
// Parts

TEST(SMTPBodyPart, SetTextUnifiesLineEndsAndResetsType)
{
    CQRMSMTPBodyPart part;
    part.SetContentType("text/html");
    part.SetText("a\rb\nc\r\nd\n\re\r\r\n");
    EXPECT_EQ(part.GetText(), "a\r\nb\r\nc\r\nd\r\n\r\ne\r\n\r\n");
    EXPECT_EQ(part.GetContentType(), "text/plain");
}

TEST(SMTPBodyPart, BodyFollowsCharsetAndEncodingSwitches)
{
    CQRMSMTPBodyPart part;
    part.SetText("Grüße € =");
    EXPECT_EQ(part.BuildPartBody(true), "Gr=FC=DFe ? =3D");
    part.SetCharset("UTF-8");
    EXPECT_EQ(part.BuildPartBody(true), "Gr=C3=BC=C3=9Fe =E2=82=AC =3D");
    part.SetQuotedPrintable(false);
    EXPECT_EQ(part.BuildPartBody(true), "Grüße € =");
    part.SetBase64(true);
    part.SetText(".x");
    EXPECT_EQ(part.BuildPartBody(true), "Lng=");

    // Base64 bodies are cut into lines of 76 characters.
    part.SetText(std::string(120, 'z'));
    const auto lines = SplitLines(part.BuildPartBody(false));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 76u);
    EXPECT_EQ(lines[1].size(), 76u);
    EXPECT_EQ(lines[2].size(), 8u);
}

TEST(SMTPBodyPart, BoundariesAreFreshVersion4Uuids)
{
    const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        CQRMSMTPBodyPart part;
        EXPECT_TRUE(std::regex_match(part.GetBoundary(), uuid)) << part.GetBoundary();
        seen.insert(part.GetBoundary());
        const CQRMSMTPBodyPart copy(part);
        seen.insert(copy.GetBoundary());
    }
    EXPECT_EQ(seen.size(), 400u);
}

TEST(SMTPBodyPart, NestedPartsNameTheirParentsBoundary)
{
    CQRMSMTPBodyPart root;
    CQRMSMTPBodyPart inner;
    inner.SetText("x");
    inner.SetQuotedPrintable(false);
    CQRMSMTPBodyPart leaf;
    leaf.SetText("leaf");
    leaf.SetContentBase("http://example.com/");
    leaf.SetContentID("<id@x>");
    leaf.SetContentLocation("leaf.txt");
    inner.AddChildBodyPart(leaf);
    EXPECT_EQ(root.AddChildBodyPart(inner), 0u);

    EXPECT_EQ(root.BuildPartHeader(), "");
    CQRMSMTPBodyPart* child = root.GetChildBodyPart(0);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->GetParentBodyPart(), &root);
    EXPECT_EQ(root.GetChildBodyPart(1), nullptr);
    EXPECT_EQ(child->BuildPartHeader(), "\r\n--" + root.GetBoundary() +
                                            "\r\nContent-Type: text/plain; charset=iso-8859-1; Boundary=\"" +
                                            child->GetBoundary() + "\"\r\n\r\n");
    CQRMSMTPBodyPart* grandchild = child->GetChildBodyPart(0);
    ASSERT_NE(grandchild, nullptr);
    EXPECT_EQ(grandchild->GetParentBodyPart(), child);
    EXPECT_EQ(grandchild->BuildPartHeader(), "\r\n--" + child->GetBoundary() +
                                                 "\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
                                                 "Content-Transfer-Encoding: quoted-printable\r\n"
                                                 "Content-Base: http://example.com/\r\nContent-ID: <id@x>\r\n"
                                                 "Content-Location: leaf.txt\r\n\r\n");
    EXPECT_EQ(child->BuildPartTrailer(), "\r\n--" + child->GetBoundary() + "--");

    grandchild->SetBase64(true);
    EXPECT_NE(grandchild->BuildPartHeader().find("Content-Transfer-Encoding: base64\r\n"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Messages

TEST(SMTPMessage, EnableMimeKeepsTheTextAsAChild)
{
    CQRMSMTPMessage message;
    message.m_RootPart.SetText("plain body\n");
    message.m_RootPart.SetCharset("UTF-8");
    message.EnableMime(true);
    EXPECT_TRUE(message.IsMimeEnabled());
    EXPECT_EQ(message.m_RootPart.GetText(), "This is a multi-part message in MIME format");
    EXPECT_EQ(message.m_RootPart.GetContentType(), "multipart/mixed");
    ASSERT_EQ(message.m_RootPart.GetNumberOfChildBodyParts(), 1u);
    const CQRMSMTPBodyPart* kept = message.m_RootPart.GetChildBodyPart(0);
    EXPECT_EQ(kept->GetText(), "plain body\r\n");
    EXPECT_EQ(kept->GetContentType(), "text/plain");
    EXPECT_EQ(kept->GetCharset(), "UTF-8");

    // Switching on again changes nothing; off drops the children.
    message.EnableMime(true);
    EXPECT_EQ(message.m_RootPart.GetNumberOfChildBodyParts(), 1u);
    message.EnableMime(false);
    EXPECT_FALSE(message.IsMimeEnabled());
    EXPECT_EQ(message.m_RootPart.GetNumberOfChildBodyParts(), 0u);

    // An empty text is not kept.
    CQRMSMTPMessage empty;
    empty.EnableMime(true);
    EXPECT_EQ(empty.m_RootPart.GetNumberOfChildBodyParts(), 0u);
}

TEST(SMTPMessage, SetHtmlTextReplacesTheFirstHtmlChild)
{
    CQRMSMTPMessage message;
    message.EnableMime(true);
    message.SetHtmlText("<p>one</p>", "http://base.example/");
    message.SetHtmlText("<p>two</p>\n", "ignored");
    ASSERT_EQ(message.m_RootPart.GetNumberOfChildBodyParts(), 1u);
    const CQRMSMTPBodyPart* html = message.m_RootPart.GetChildBodyPart(0);
    EXPECT_EQ(html->GetText(), "<p>two</p>\r\n");
    EXPECT_EQ(html->GetContentType(), "text/html");
    EXPECT_EQ(html->GetCharset(), "iso-8859-1");
    EXPECT_NE(html->BuildPartHeader().find("Content-Base: http://base.example/\r\n"), std::string::npos);

    // Beside a plain child, the HTML goes in as a second part and is then found again.
    CQRMSMTPMessage mixed;
    mixed.m_RootPart.SetText("plain");
    mixed.EnableMime(true);
    mixed.SetHtmlText("<b>1</b>", "");
    mixed.SetHtmlText("<b>2</b>", "");
    ASSERT_EQ(mixed.m_RootPart.GetNumberOfChildBodyParts(), 2u);
    EXPECT_EQ(mixed.m_RootPart.GetChildBodyPart(0)->GetText(), "plain");
    EXPECT_EQ(mixed.m_RootPart.GetChildBodyPart(1)->GetText(), "<b>2</b>");
}

TEST(SMTPMessage, CopiesAreDeep)
{
    CQRMSMTPMessage original;
    original.AddRecipientList("a@example.com");
    original.EnableMime(true);
    original.SetHtmlText("<p>original</p>", "");

    CQRMSMTPMessage copy(original);
    copy.AddRecipientList("b@example.com");
    copy.SetHtmlText("<p>copy</p>", "");
    EXPECT_EQ(original.GetRecipients(CQRMSMTPMessage::RecipientTo).size(), 1u);
    EXPECT_EQ(original.m_RootPart.GetChildBodyPart(0)->GetText(), "<p>original</p>");
    EXPECT_EQ(copy.m_RootPart.GetChildBodyPart(0)->GetParentBodyPart(), &copy.m_RootPart);

    CQRMSMTPMessage assigned;
    assigned = copy;
    EXPECT_TRUE(assigned.IsMimeEnabled());
    EXPECT_EQ(assigned.GetRecipients(CQRMSMTPMessage::RecipientTo).size(), 2u);
    EXPECT_EQ(assigned.m_RootPart.GetChildBodyPart(0)->GetParentBodyPart(), &assigned.m_RootPart);
    EXPECT_EQ(assigned.m_RootPart.GetChildBodyPart(0)->GetText(), "<p>copy</p>");
}

TEST(SMTPMessageHeader, FullHeaderBlockReadsExactly)
{
    CQRMSMTPMessage message;
    message.m_From = CQRMSMTPAddress("Orvex", "orvex@example.com");
    message.AddRecipientList("anna@example.com, Bob <bob@example.com>");
    message.AddRecipientList("Jörg <cc@example.com>", CQRMSMTPMessage::RecipientCc);
    message.AddRecipientList("hidden@example.com", CQRMSMTPMessage::RecipientBcc);
    message.m_sSubject = "Warning Notification";
    message.m_ReplyTo = CQRMSMTPAddress("replies@example.com");
    message.m_Priority = 3;
    message.m_CustomHeaders = {"X-One: 1", "X-Two: 2"};
    message.EnableMime(true);
    message.SetHtmlText("<p>x</p>", "");

    std::string rest, dateLine;
    SplitOffDate(message.BuildHeaderBlock(), rest, dateLine);
    EXPECT_EQ(rest, "From: Orvex <orvex@example.com>\r\n"
                    "To: anna@example.com,Bob <bob@example.com>\r\n"
                    "Cc: =?iso-8859-1?q?J=F6rg?= <cc@example.com>\r\n"
                    "Subject: Warning Notification\r\n"
                    "X-Mailer: CQRMSMTPConnection v2.67\r\n"
                    "MIME-Version: 1.0\r\n"
                    "Content-Type: multipart/mixed; boundary=\"" +
                        message.m_RootPart.GetBoundary() +
                        "\"\r\n"
                        "Reply-To: replies@example.com\r\n"
                        "X-Priority: 1\r\n"
                        "X-One: 1\r\n"
                        "X-Two: 2\r\n");
    EXPECT_EQ(rest.find("hidden"), std::string::npos);
}

TEST(SMTPMessageHeader, ShortFormsWithoutMimeOrChildren)
{
    CQRMSMTPMessage plain;
    plain.m_sXMailer.clear();
    plain.m_Priority = 1;
    std::string rest, dateLine;
    SplitOffDate(plain.BuildHeaderBlock(), rest, dateLine);
    // The To line is written even with nobody in it.
    EXPECT_EQ(rest, "From: \r\nTo: \r\nSubject: \r\n"
                    "Content-Type: text/plain;\r\n\tcharset=iso-8859-1\r\n"
                    "X-Priority: 5\r\n");

    CQRMSMTPMessage mime;
    mime.m_Priority = 2;
    mime.EnableMime(true);
    SplitOffDate(mime.BuildHeaderBlock(), rest, dateLine);
    EXPECT_EQ(rest, "From: \r\nTo: \r\nSubject: \r\nX-Mailer: CQRMSMTPConnection v2.67\r\n"
                    "MIME-Version: 1.0\r\nContent-Type: multipart/mixed\r\n"
                    "X-Priority: 3\r\n");
}

TEST(SMTPMessageHeader, DateIsEnglishWithTheLocalZone)
{
    const std::regex form("Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-3][0-9] "
                          "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} "
                          "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [+-][0-9]{4}");
    std::string before, after;

    std::string line = DateLineIn("Asia/Kolkata", before, after);
    EXPECT_TRUE(std::regex_match(line, form)) << line;
    EXPECT_EQ(Zone(line), "+0530");
    EXPECT_TRUE(line == before || line == after) << line << " vs " << before;

    line = DateLineIn("America/St_Johns", before, after);
    EXPECT_TRUE(std::regex_match(line, form)) << line;
    EXPECT_TRUE(Zone(line) == "-0330" || Zone(line) == "-0230") << line;
    EXPECT_TRUE(line == before || line == after) << line << " vs " << before;

    line = DateLineIn("UTC", before, after);
    EXPECT_EQ(Zone(line), "+0000");
    EXPECT_TRUE(line == before || line == after) << line << " vs " << before;
}

TEST(SMTPMessageWire, HtmlLetterReadsExactly)
{
    CQRMSMTPMessage message;
    message.EnableMime(true);
    message.SetHtmlText("<p style=\"color:red\">Grüße</p>\n.end", "");
    const CQRMSMTPBodyPart& root = message.m_RootPart;
    ASSERT_EQ(root.GetNumberOfChildBodyParts(), 1u);
    const CQRMSMTPBodyPart& html = *root.GetChildBodyPart(0);

    // What the connection writes after the header block and the blank line.
    const std::string wire =
        root.BuildPartBody(true) + html.BuildPartHeader() + html.BuildPartBody(true) + root.BuildPartTrailer();
    EXPECT_EQ(wire, "This is a multi-part message in MIME format"
                    "\r\n--" +
                        root.GetBoundary() +
                        "\r\nContent-Type: text/html; charset=iso-8859-1\r\n"
                        "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                        "<p style=3D\"color:red\">Gr=FC=DFe</p>\r\n..end"
                        "\r\n--" +
                        root.GetBoundary() + "--");
}

TEST(SMTPMessageWire, PythonReadsTheLetterBack)
{
    std::string html = "<html><body>\r\n<p class=\"a\">Grüße aus Köln &#8364; 100%</p>\r\n";
    html += "<p>" + std::string(190, 'w') + "</p>\r\n";
    html += std::string(76, 'q') + "=" + std::string(30, 'r') + "\r\n";
    html += ".a line with a dot\r\n</body></html>\r\n";

    CQRMSMTPMessage message;
    message.m_From = CQRMSMTPAddress("Orvex", "orvex@example.com");
    message.AddRecipientList("anna@example.com;\"Smith, Carol\" <carol@example.com>");
    message.m_sSubject = "Prüfung für Jörg";
    message.EnableMime(true);
    message.SetHtmlText(html, "");

    const CQRMSMTPBodyPart& root = message.m_RootPart;
    const CQRMSMTPBodyPart& part = *root.GetChildBodyPart(0);
    // The mail as the receiving server stores it: dot-stuffing is undone on arrival, so none here.
    const std::string mail = message.BuildHeaderBlock() + "\r\n" + root.BuildPartBody(false) + part.BuildPartHeader() +
                             part.BuildPartBody(false) + root.BuildPartTrailer() + "\r\n";

    testsupport::TempDir dir;
    testsupport::WriteBytes(dir.File("mail.eml"), mail);
    testsupport::WriteBytes(dir.File("expected.html"), html);
    const std::string command = "PYTHONUTF8=1 /usr/bin/python3 " + std::string(ORVEX_FAKES_DIR) + "/check_mime.py '" +
                                dir.File("mail.eml") + "' '" + dir.File("expected.html") + "' '" + message.m_sSubject +
                                "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = ::pclose(pipe);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("to: <anna@example.com>|Smith, Carol<carol@example.com>"), std::string::npos) << output;
}
