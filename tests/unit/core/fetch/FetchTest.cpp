#include "core/fetch/Fetch.h"
#include "core/fetch/CheckSettings.h"
#include "core/platform/TestHooks.h"

#include "fakes/FakeServers.h"
#include "fakes/LocalHttpServer.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using testsupport::ReadBytes;
using testsupport::ScopedEnv;
using testsupport::UpdateCheckSettings;

const char* const kPartnerPage = "<html>\n<body>partner page</body>\n</html>\n";

/// UTF-16 bytes of `text`, little or big endian, with the byte order mark when asked.
std::string Utf16Bytes(std::u16string_view text, bool bigEndian, bool bom)
{
    std::string out;
    if (bom)
        out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    }
    return out;
}

/// The last log line of the fake server for `path`, as written: the fields of a faulty answer
/// ("fault", "sent") are read from it.
std::string LastLogLine(const fakes::FakeHttpServer& server, const std::string& path)
{
    std::istringstream in(fakes::ReadWholeFile(server.LogFile()));
    std::string line;
    std::string last;
    while (std::getline(in, line)) {
        if (fakes::detail::JsonField(line, "path") == path)
            last = line;
    }
    return last;
}

class FetchTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = std::make_unique<testsupport::FakeSite>("orvex-fetch");
        const auto put = [](const std::string& rel, const std::string& bytes) { s_server->Put(rel, bytes); };
        put("default/index.html", "<html>default host</html>\n");
        put("default/page.html", "<html>page on the default host</html>\n");
        put("partner.localhost/index.html", "<html>partner home</html>\n");
        put("partner.localhost/page.html", kPartnerPage);
        put("www.partner.localhost/final.html", "<p>final page</p>\n");
        put("partner.localhost/lines.txt", "first\nsecond\nthird\n");
        put("partner.localhost/midcr.txt", "ab\rcd\nef\r\n");
        put("partner.localhost/cronly.txt", "one\rtwo\rthree\r");
        put("partner.localhost/nolf.txt", "a\nb");
        put("partner.localhost/badutf8.html", "ok \xC3\xA9 bad \xFF end\n");
        // UTF-8 first, then a windows-1251 declaration: that line and the later ones are 1251.
        put("partner.localhost/cp1251.html",
            "<p>\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82</p>\n" // Привет (UTF-8)
            "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">"
            "<title>\xCF\xF0\xE8</title>\n" // При (1251)
            "<p>\xEC\xE8\xF0</p>\n");       // мир (1251)
        // Back to UTF-8 through a declaration in capitals with blanks around "=".
        put("partner.localhost/capitals.html", "<meta charset=\"windows-1251\">\n"
                                               "<p>\xEC\xE8\xF0</p>\n"
                                               "<META CHARSET = \"UTF-8\">\n"
                                               "<p>\xD0\xBC\xD0\xB8\xD1\x80</p>\n");
        // Running text mentioning meta and charset= switches like a real declaration.
        put("partner.localhost/running.html",
            "<p>caf\xC3\xA9</p>\n"
            "<p>Set the meta tag to charset=koi8-r for old readers.</p>\n"
            "<p>\xCD\xC9\xD2</p>\n" // мир (KOI8-R)
            "<p>A meta line with charset=no-such-charset falls back to windows-1252.</p>\n"
            "<p>caf\xE9</p>\n");
        // Pages whose encoding only the Content-Type header names (served through /_headers).
        put("partner.localhost/header1251.html", "<p>\xCC\xEE\xE9 \xF1\xE0\xE9\xF2</p>\n"); // Мой сайт (1251)
        put("partner.localhost/header1251-meta.html",
            "<meta charset=\"koi8-r\">\n<p>\xEC\xE8\xF0</p>\n"); // a wrong declaration; мир in 1251
        put("partner.localhost/headerutf8-meta.html", "<meta charset=\"windows-1251\">\n"
                                                      "<p>\xD0\xBC\xD0\xB8\xD1\x80</p>\n"); // мир (UTF-8)
        put("partner.localhost/latin1.html", "<p>\x80 caf\xE9</p>\n");                      // € café (1252)
        put("partner.localhost/two1251.txt", "\xC0\xE1");                                   // Аб (1251)
        put("partner.localhost/bom-utf8.html", "\xEF\xBB\xBF<p>\xD0\xBC\xD0\xB8\xD1\x80</p>\n");
        // U+010A and U+010D hold the bytes 0x0A and 0x0D in little endian, U+0A0A two line feeds
        // in either order: the lines must be cut after decoding, not before.
        put("partner.localhost/utf16le.html",
            Utf16Bytes(u"<p>\u043C\u0438\u0440</p>\r\n<a>\u010A\u010D</a>\n", false, true));
        put("partner.localhost/utf16be.html", Utf16Bytes(u"<p>\u0A0A \U0001F600</p>\n<p>end", true, true));
        put("partner.localhost/utf16-nobom.html", Utf16Bytes(u"<p>\u043C\u0438\u0440</p>\n", false, false));
        put("partner.localhost/meta-utf16.html", "<meta charset=\"utf-16\">\n<p>\xD0\xBC\xD0\xB8\xD1\x80</p>\n");
        {
            // 3,000,000 bytes of windows-1251 letters: 6,000,000 bytes once in UTF-8.
            std::string line(80, '\xE0'); // а
            line += '\n';
            std::string big;
            while (big.size() < 3000000)
                big += line;
            put("partner.localhost/big1251.txt", big);
        }
        put("partner.localhost/oneline.txt", std::string(3 * 1024 * 1024, 'z'));
        fakes::FakeHttpServer::Options options;
        options.certFile = testsupport::SharedCertificate().certFile;
        options.keyFile = testsupport::SharedCertificate().keyFile;
        s_server->Start(options);
        // The PageRank answers name the server's port, known only now.
        const std::string port = std::to_string(s_server->HttpPort());
        put("partner.localhost/ranks.json",
            "{\"info:http://partner.localhost:" + port +
                "/\": \"Rank_1:1:4\\n\","
                " \"info:http://long.localhost/\": \"Rank_1:1:4\\nsecond line\\nthird line\\n\"}");
    }

    static void TearDownTestSuite() { s_server.reset(); }

    static std::string Url(const std::string& path, const std::string& host = "partner.localhost")
    {
        return s_server->Url(host, path);
    }

    static void SetTimeouts(long connect, long request)
    {
        UpdateCheckSettings([&](CheckSettings& s) {
            s.connectTimeoutSeconds = connect;
            s.requestTimeoutSeconds = request;
        });
    }

    /// Every kind of fetch of `url` fails: the text keeps its old value and no file is left where
    /// the download was to go (FetchLines keeps the lines read before the failure, unchecked here).
    /// `head`: whether a HEAD request fails as well.
    static void ExpectEveryFetchFails(const std::string& url, bool head = true)
    {
        std::string text = "old";
        std::vector<std::string> lines;
        uint32_t status = 0;
        EXPECT_FALSE(FetchPageText(url, text, status, nullptr, kMaxPageLength));
        EXPECT_EQ(text, "old");
        EXPECT_FALSE(FetchLines(url, lines, status, nullptr, kMaxPageLength));
        if (head) {
            EXPECT_FALSE(UrlExists(url));
        }
        const std::string download = s_server->Dir().File("failed-download.bin");
        EXPECT_FALSE(DownloadToFile(url, download));
        EXPECT_FALSE(std::filesystem::exists(download));
    }

    static inline std::unique_ptr<testsupport::FakeSite> s_server;
    testsupport::ScopedCheckSettings m_settings;
};

// ---------------------------------------------------------------------------------------------
// Redirects and status

// What a fetch gives: the final page after redirects (of every kind, up to ten), a page of any
// status with its body, a host's own folder or else the default one, and under a small limit a
// short answer whole (the limit is tested before each line, so one line more is read).
TEST_F(FetchTest, TheFinalAnswerArrivesWithItsStatus)
{
    const std::string rank = "/tbr?q=info:http://partner.localhost:" + std::to_string(s_server->HttpPort()) + "/";
    const struct
    {
        std::string url;
        std::size_t limit;
        uint32_t status;
        const char* text; ///< nullptr: any
    } cases[] = {
        {Url("/_redirect?to=" + Url("/final.html", "www.partner.localhost")), kMaxPageLength, 200,
         "<p>final page</p>\n"},
        {Url("/_redirect?code=301&to=/page.html"), kMaxPageLength, 200, kPartnerPage},
        {Url("/_redirect?code=307&to=/page.html"), kMaxPageLength, 200, kPartnerPage},
        {Url("/_chain/10"), kMaxPageLength, 200, "end of chain\n"},
        {Url("/missing.html"), kMaxPageLength, 404, "Not found\n"},
        {Url("/_status/503"), kMaxPageLength, 503, nullptr},
        {Url("/"), kMaxPageLength, 200, "<html>partner home</html>\n"},
        {Url("/", "other.localhost"), kMaxPageLength, 200, "<html>default host</html>\n"},
        {s_server->Url("127.0.0.1", "/page.html"), kMaxPageLength, 200, "<html>page on the default host</html>\n"},
        {Url(rank), 12, 200, "Rank_1:1:4\n"},
        {Url("/tbr?q=info:http://long.localhost/"), 12, 200, "Rank_1:1:4\nsecond line\n"},
        {Url("/tbr?q=info:http://unknown.localhost/"), 12, 404, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        std::string text = "old";
        uint32_t status = 0;
        ASSERT_TRUE(FetchPageText(c.url, text, status, nullptr, c.limit));
        EXPECT_EQ(status, c.status);
        if (c.text) {
            EXPECT_EQ(text, c.text);
        }
    }
    EXPECT_FALSE(IsHttpSuccess(404));
    std::vector<std::string> lines = {"old"};
    uint32_t status = 0;
    ASSERT_TRUE(FetchLines(Url("/robots.txt"), lines, status, nullptr, kMaxPageLength));
    EXPECT_EQ(status, 404u);
    EXPECT_EQ(lines, std::vector<std::string>{"Not found"});
}

TEST_F(FetchTest, ElevenRedirectsAndALoopFail)
{
    std::string text = "old";
    uint32_t status = 0;
    EXPECT_FALSE(FetchPageText(Url("/_chain/11"), text, status, nullptr, kMaxPageLength));
    EXPECT_EQ(text, "old");
    s_server->ClearLog();
    EXPECT_FALSE(FetchPageText(Url("/_loop"), text, status, nullptr, kMaxPageLength));
    EXPECT_EQ(text, "old");
    EXPECT_EQ(s_server->CountRequests("/_loop"), 11u); // the first request and 10 redirects
}

// ---------------------------------------------------------------------------------------------
// Lines

// Lines end at LF and lose every CR wherever it stands (so CR alone ends no line), and a last
// line without LF is kept; the page text gains an LF after each line.
TEST_F(FetchTest, LinesEndAtLineFeedsAndLoseTheirCarriageReturns)
{
    const struct
    {
        const char* path;
        const char* text;
        std::vector<std::string> lines;
    } cases[] = {
        {"/_crlf?path=/lines.txt", "first\nsecond\nthird\n", {"first", "second", "third"}},
        {"/midcr.txt", "abcd\nef\n", {"abcd", "ef"}},
        {"/cronly.txt", "onetwothree\n", {"onetwothree"}},
        {"/nolf.txt", "a\nb\n", {"a", "b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string text;
        std::vector<std::string> lines;
        uint32_t status = 0;
        ASSERT_TRUE(FetchPageText(Url(c.path), text, status, nullptr, kMaxPageLength));
        EXPECT_EQ(text, c.text);
        ASSERT_TRUE(FetchLines(Url(c.path), lines, status, nullptr, kMaxPageLength));
        EXPECT_EQ(lines, c.lines);
    }
}

// ---------------------------------------------------------------------------------------------
// Length limits

TEST_F(FetchTest, SixMegabytesStopAtTheFirstLineEndAtOrAfterTheLimit)
{
    std::string text;
    uint32_t status = 0;
    ASSERT_TRUE(FetchPageText(Url("/_big?bytes=6000000"), text, status, nullptr, kMaxPageLength));
    EXPECT_EQ(status, 200u);
    // Lines of 80 characters and LF: the first line end at or after 5,242,880.
    const std::size_t lineSize = 81;
    const std::size_t expected = (kMaxPageLength + lineSize - 1) / lineSize * lineSize;
    EXPECT_EQ(text.size(), expected);
    EXPECT_GE(text.size(), kMaxPageLength);
    EXPECT_EQ(text.back(), '\n');

    // FetchLines counts the lines' own lengths (80 each): 65,536 lines make exactly the limit.
    std::vector<std::string> lines;
    ASSERT_TRUE(FetchLines(Url("/_big?bytes=6000000"), lines, status, nullptr, kMaxPageLength));
    EXPECT_EQ(lines.size(), kMaxPageLength / 80);
    EXPECT_EQ(lines.back(), std::string(80, 'x'));
}

TEST_F(FetchTest, NeverEndingBodyStopsAtTheLimit)
{
    std::string text;
    uint32_t status = 0;
    ASSERT_TRUE(FetchPageText(Url("/_endless"), text, status, nullptr, kMaxPageLength));
    EXPECT_EQ(status, 200u);
    EXPECT_GE(text.size(), kMaxPageLength);
    EXPECT_LT(text.size(), kMaxPageLength + 81);
    EXPECT_EQ(text.back(), '\n');

    std::vector<std::string> lines;
    ASSERT_TRUE(FetchLines(Url("/_endless"), lines, status, nullptr, 100000));
    std::size_t total = 0;
    for (const auto& l : lines)
        total += l.size();
    EXPECT_GE(total, 100000u);
    EXPECT_LT(total, 100000u + 80);
}

TEST_F(FetchTest, LineWithoutEndIsCutOneMebibytePastTheLimit)
{
    std::string text;
    uint32_t status = 0;
    ASSERT_TRUE(FetchPageText(Url("/oneline.txt"), text, status, nullptr, 12));
    EXPECT_GT(text.size(), 12u + 1024 * 1024);
    EXPECT_LT(text.size(), 12u + 1024 * 1024 + 256 * 1024); // plus at most one block received
    EXPECT_EQ(text.back(), '\n');
    std::vector<std::string> lines;
    ASSERT_TRUE(FetchLines(Url("/oneline.txt"), lines, status, nullptr, 12));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_LT(lines[0].size(), 12u + 1024 * 1024 + 256 * 1024);
}

// ---------------------------------------------------------------------------------------------
// Character sets

TEST_F(FetchTest, InvalidUtf8BecomesReplacementCharacters)
{
    std::string text;
    uint32_t status = 0;
    ASSERT_TRUE(FetchPageText(Url("/badutf8.html"), text, status, nullptr, kMaxPageLength));
    EXPECT_EQ(text, "ok \xC3\xA9 bad \xEF\xBF\xBD end\n") << testsupport::Hex(text);

    // FetchLines converts nothing.
    std::vector<std::string> lines;
    ASSERT_TRUE(FetchLines(Url("/badutf8.html"), lines, status, nullptr, kMaxPageLength));
    EXPECT_EQ(lines, std::vector<std::string>{"ok \xC3\xA9 bad \xFF end"});
}

// The encoding a browser picks: byte order mark, then the Content-Type header's charset, then the
// meta line, else UTF-8. A meta line switches the conversion from its own line on, wherever it
// stands and however it is written.
struct EncodingCase
{
    const char* name;
    const char* contentType; // "" = the server's own "text/html" without a charset
    const char* path;
    std::string expected;
};

void PrintTo(const EncodingCase& c, std::ostream* os)
{
    *os << c.name;
}

class FetchEncodingTest : public FetchTest, public ::testing::WithParamInterface<EncodingCase>
{
};

TEST_P(FetchEncodingTest, PicksTheEncodingAsBrowsersDo)
{
    const EncodingCase& c = GetParam();
    std::string url = Url(c.path);
    if (*c.contentType)
        url = Url(std::string("/_headers?Content-Type=") + c.contentType + "&body=" + c.path);
    std::string text;
    std::string headers;
    uint32_t status = 0;
    ASSERT_TRUE(FetchPageText(url, text, status, &headers, kMaxPageLength));
    EXPECT_EQ(status, 200u);
    // The server really sent the one Content-Type the case is about.
    const std::string sentType = *c.contentType ? c.contentType : "text/html";
    std::string wanted = "\r\nContent-Type: " + sentType + "\r\n";
    for (std::size_t at = wanted.find('%'); at != std::string::npos; at = wanted.find('%', at + 1))
        wanted.replace(at, 3, 1, static_cast<char>(std::stoi(wanted.substr(at + 1, 2), nullptr, 16)));
    EXPECT_NE(headers.find(wanted), std::string::npos) << headers;
    EXPECT_EQ(headers.find("Content-Type:"), headers.rfind("Content-Type:")) << headers;
    EXPECT_EQ(text, c.expected) << testsupport::Hex(text);
}

const EncodingCase kEncodingCases[] = {
    {"Windows1251MetaSwitchesFromItsLine", "", "/cp1251.html",
     "<p>\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82</p>\n"
     "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">"
     "<title>\xD0\x9F\xD1\x80\xD0\xB8</title>\n<p>\xD0\xBC\xD0\xB8\xD1\x80</p>\n"},
    {"MetaInCapitalsWithBlanksSwitchesBack", "", "/capitals.html",
     "<meta charset=\"windows-1251\">\n<p>\xD0\xBC\xD0\xB8\xD1\x80</p>\n<META CHARSET = \"UTF-8\">\n"
     "<p>\xD0\xBC\xD0\xB8\xD1\x80</p>\n"},
    {"RunningTextNamingMetaAndCharsetSwitchesToo", "", "/running.html",
     "<p>caf\xC3\xA9</p>\n<p>Set the meta tag to charset=koi8-r for old readers.</p>\n"
     "<p>\xD0\xBC\xD0\xB8\xD1\x80</p>\n"
     "<p>A meta line with charset=no-such-charset falls back to windows-1252.</p>\n<p>caf\xC3\xA9</p>\n"},
    {"HeaderCharsetWithoutMeta", "text/html;%20charset=windows-1251", "/header1251.html",
     "<p>\xD0\x9C\xD0\xBE\xD0\xB9 \xD1\x81\xD0\xB0\xD0\xB9\xD1\x82</p>\n"},
    {"HeaderCharsetQuotedInCapitals", "text/html;%20CHARSET=%22Windows-1251%22", "/header1251.html",
     "<p>\xD0\x9C\xD0\xBE\xD0\xB9 \xD1\x81\xD0\xB0\xD0\xB9\xD1\x82</p>\n"},
    {"HeaderCharsetAfterAnotherParameter", "text/html;%20q=1;%20charset=windows-1251", "/header1251.html",
     "<p>\xD0\x9C\xD0\xBE\xD0\xB9 \xD1\x81\xD0\xB0\xD0\xB9\xD1\x82</p>\n"},
    {"HeaderBeatsMeta", "text/html;%20charset=windows-1251", "/header1251-meta.html",
     "<meta charset=\"koi8-r\">\n<p>\xD0\xBC\xD0\xB8\xD1\x80</p>\n"},
    {"HeaderUtf8BeatsMeta", "text/html;%20charset=utf-8", "/headerutf8-meta.html",
     "<meta charset=\"windows-1251\">\n<p>\xD0\xBC\xD0\xB8\xD1\x80</p>\n"},
    // The web reads ISO-8859-1 as windows-1252: 0x80 is the euro sign, not a control character.
    {"Latin1IsWindows1252", "text/html;%20charset=iso-8859-1", "/latin1.html", "<p>\xE2\x82\xAC caf\xC3\xA9</p>\n"},
    {"ShorterThanAByteOrderMark", "text/plain;%20charset=windows-1251", "/two1251.txt", "\xD0\x90\xD0\xB1\n"},
    {"UnknownHeaderCharsetLeavesTheMeta", "text/html;%20charset=x-no-such", "/header1251-meta.html",
     "<meta charset=\"koi8-r\">\n<p>\xD0\x9B\xD0\xA5\xD0\x9F</p>\n"}, // 0xEC 0xE8 0xF0 read as KOI8-R
    {"Utf8ByteOrderMarkBeatsHeader", "text/html;%20charset=windows-1251", "/bom-utf8.html",
     "<p>\xD0\xBC\xD0\xB8\xD1\x80</p>\n"},
    {"Utf16LeByteOrderMark", "", "/utf16le.html", "<p>\xD0\xBC\xD0\xB8\xD1\x80</p>\n<a>\xC4\x8A\xC4\x8D</a>\n"},
    {"Utf16BeByteOrderMark", "text/html;%20charset=windows-1251", "/utf16be.html",
     "<p>\xE0\xA8\x8A \xF0\x9F\x98\x80</p>\n<p>end\n"},
    {"Utf16HeaderWithoutByteOrderMark", "text/html;%20charset=utf-16", "/utf16-nobom.html",
     "<p>\xD0\xBC\xD0\xB8\xD1\x80</p>\n"},
    // A meta line naming UTF-16 was found by reading ASCII, so the page is not UTF-16.
    {"MetaUtf16MeansUtf8", "", "/meta-utf16.html", "<meta charset=\"utf-16\">\n<p>\xD0\xBC\xD0\xB8\xD1\x80</p>\n"},
};
INSTANTIATE_TEST_SUITE_P(Encodings, FetchEncodingTest, ::testing::ValuesIn(kEncodingCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FetchTest, HeaderCharsetLimitCountsTheUtf8Text)
{
    std::string text;
    uint32_t status = 0;
    ASSERT_TRUE(FetchPageText(Url("/_headers?Content-Type=text/plain;%20charset=windows-1251&body=/big1251.txt"), text,
                              status, nullptr, kMaxPageLength));
    // Lines of 80 two-byte letters and LF: the first line end at or after 5,242,880 UTF-8 bytes.
    const std::size_t lineSize = 161;
    EXPECT_EQ(text.size(), (kMaxPageLength + lineSize - 1) / lineSize * lineSize);
    EXPECT_EQ(text.substr(0, 4), "\xD0\xB0\xD0\xB0");
    EXPECT_EQ(text.back(), '\n');
}

// ---------------------------------------------------------------------------------------------
// Headers

TEST_F(FetchTest, HeadersOfTheFinalResponse)
{
    std::string text;
    std::string headers = "old";
    uint32_t status = 0;
    ASSERT_TRUE(FetchPageText(Url("/_redirect?to=%2F_headers%3FX-Robots-Tag%3Dnofollow%26body%3D%2Fpage.html"), text,
                              status, &headers, kMaxPageLength));
    EXPECT_EQ(status, 200u);
    EXPECT_EQ(text, kPartnerPage);
    EXPECT_EQ(headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << headers;
    EXPECT_NE(headers.find("\r\nX-Robots-Tag: nofollow\r\n"), std::string::npos) << headers;
    EXPECT_NE(headers.find("\r\nContent-Type: text/html\r\n"), std::string::npos) << headers;
    EXPECT_EQ(headers.find("Location:"), std::string::npos) << headers;
    EXPECT_EQ(headers.find("302"), std::string::npos) << headers;
    EXPECT_EQ(headers.find('\n', 0), headers.find("\r\n") + 1); // CR LF separated
    EXPECT_EQ(headers.substr(headers.size() - 2), "\r\n");

    std::vector<std::string> lines;
    headers.clear();
    ASSERT_TRUE(FetchLines(Url("/lines.txt"), lines, status, &headers, kMaxPageLength));
    EXPECT_EQ(headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << headers;
    EXPECT_NE(headers.find("Content-Type: text/plain\r\n"), std::string::npos) << headers;
}

// ---------------------------------------------------------------------------------------------
// Failures

TEST_F(FetchTest, ServerThatNeverAnswersFailsAtTheTimeOut)
{
    SetTimeouts(2, 2);
    const std::string url = "http://127.0.0.1:" + std::to_string(s_server->SilentPort()) + "/";
    const auto start = std::chrono::steady_clock::now();
    std::string text = "old";
    uint32_t status = 7;
    EXPECT_FALSE(FetchPageText(url, text, status, nullptr, kMaxPageLength));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(text, "old");
    EXPECT_EQ(status, 0u);
    EXPECT_GE(elapsed, std::chrono::milliseconds(1500));
    EXPECT_LT(elapsed, std::chrono::seconds(8));
}

TEST_F(FetchTest, SlowAnswerWithinTheTimeOutArrives)
{
    SetTimeouts(2, 5);
    std::string text;
    uint32_t status = 0;
    ASSERT_TRUE(FetchPageText(Url("/_slow?ms=300&path=/lines.txt"), text, status, nullptr, kMaxPageLength));
    EXPECT_EQ(text, "first\nsecond\nthird\n");
}

TEST_F(FetchTest, UnreachableServerFailsAndKeepsTheOldValues)
{
    const std::string url = "http://127.0.0.1:" + std::to_string(fakes::FreePort()) + "/";
    std::string text = "old";
    uint32_t status = 7;
    EXPECT_FALSE(FetchPageText(url, text, status, nullptr, kMaxPageLength));
    EXPECT_EQ(text, "old");
    EXPECT_EQ(status, 0u);

    std::vector<std::string> lines = {"kept"};
    EXPECT_FALSE(FetchLines(url, lines, status, nullptr, kMaxPageLength));
    EXPECT_EQ(lines, std::vector<std::string>{"kept"});

    EXPECT_FALSE(FetchPageText("not a url", text, status, nullptr, kMaxPageLength));
    EXPECT_FALSE(FetchPageText("", text, status, nullptr, kMaxPageLength));
    EXPECT_EQ(text, "old");
}

// What may pass by itself is worth one more try later: a time-out, a connection reset or closed
// without an answer, a busy or failing server; a refused connection or a missing page will not.
TEST_F(FetchTest, FailuresThatMayPassAreTransient)
{
    SetTimeouts(1, 1);
    s_server->Put("partner.localhost/closed.html.fault", "close");
    s_server->Put("partner.localhost/reset.html.fault", "reset");
    const struct
    {
        std::string url;
        bool transient;
        std::string error; ///< how the error begins, which shows the server did what the case says
    } cases[] = {
        {"http://127.0.0.1:" + std::to_string(s_server->SilentPort()) + "/", true, "time-out ("},
        {Url("/closed.html"), true, "connection reset (Empty reply from server)"},
        {Url("/reset.html"), true, "connection reset (Recv failure: Connection reset by peer)"},
        {Url("/_status/429"), true, ""},
        {Url("/_status/503"), true, ""},
        {Url("/_status/404"), false, ""},
        {"http://127.0.0.1:" + std::to_string(fakes::FreePort()) + "/", false, "connection refused ("},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        std::string text;
        uint32_t status = 0;
        FetchOutcome outcome;
        FetchPageText(c.url, text, status, nullptr, kMaxPageLength, &outcome);
        EXPECT_EQ(outcome.transient, c.transient) << outcome.error;
        EXPECT_EQ(outcome.error.substr(0, c.error.size()), c.error);
    }
}

TEST_F(FetchTest, OnlyHttpAndHttpsAreFetched)
{
    std::string text = "old";
    uint32_t status = 0;
    const std::string local = s_server->Root() + "/default/page.html";
    EXPECT_FALSE(FetchPageText("file://" + local, text, status, nullptr, kMaxPageLength));
    // Not through a redirect either.
    EXPECT_FALSE(FetchPageText(Url("/_redirect?to=file://" + local), text, status, nullptr, kMaxPageLength));
    EXPECT_EQ(text, "old");
}

// ---------------------------------------------------------------------------------------------
// Answers that do not arrive whole

// Headers without their end (the server sent a status line and part of a header, never the empty
// line), fewer body bytes than Content-Length promised, a chunked body without its last chunk:
// every kind of fetch fails, but a HEAD request, which reads no body, only for the first.
TEST_F(FetchTest, AnswersCutShortFailEveryKindOfFetch)
{
    ExpectEveryFetchFails(Url("/_cut/headers"));
    const std::string logged = LastLogLine(*s_server, "/_cut/headers");
    EXPECT_EQ(fakes::detail::JsonField(logged, "fault"), "headers") << logged;
    EXPECT_EQ(fakes::detail::JsonField(logged, "sent"), "HTTP/1.1 200 OK\r\nContent-Ty") << logged;

    const std::string page = ReadBytes(s_server->Root() + "/partner.localhost/page.html");
    const std::string half = page.substr(0, page.size() / 2);
    for (const std::string kind : {"body", "chunked"}) {
        SCOPED_TRACE(kind);
        const std::string path = "/_cut/" + kind + "?path=/page.html";
        ExpectEveryFetchFails(Url(path), false);
        // Whole headers, then half of the page, as the length or as one chunk.
        const std::string sent = fakes::detail::JsonField(LastLogLine(*s_server, path), "sent");
        const std::size_t bodyAt = sent.find("\r\n\r\n");
        ASSERT_NE(bodyAt, std::string::npos) << sent;
        if (kind == "body") {
            EXPECT_NE(sent.find("Content-Length: " + std::to_string(page.size()) + "\r\n"), std::string::npos) << sent;
            EXPECT_EQ(sent.substr(bodyAt + 4), half);
        } else {
            std::ostringstream chunk;
            chunk << std::hex << half.size() << "\r\n" << half << "\r\n";
            EXPECT_NE(sent.find("Transfer-Encoding: chunked\r\n"), std::string::npos) << sent;
            EXPECT_EQ(sent.substr(bodyAt + 4), chunk.str());
        }
    }
}

// ---------------------------------------------------------------------------------------------
// https

TEST_F(FetchTest, HttpsWithTheTestCertificateTrustedThroughCaFile)
{
    UpdateCheckSettings([](CheckSettings& s) { s.caFile = testsupport::SharedCertificate().certFile; });
    std::string text;
    std::string headers;
    uint32_t status = 0;
    ASSERT_TRUE(
        FetchPageText(s_server->HttpsUrl("partner.localhost", "/page.html"), text, status, &headers, kMaxPageLength));
    EXPECT_EQ(status, 200u);
    EXPECT_EQ(text, kPartnerPage);
    EXPECT_TRUE(UrlExists(s_server->HttpsUrl("www.partner.localhost", "/final.html")));

    // An http page redirecting to https.
    ASSERT_TRUE(FetchPageText(Url("/_redirect?to=" + s_server->HttpsUrl("www.partner.localhost", "/final.html")), text,
                              status, nullptr, kMaxPageLength));
    EXPECT_EQ(text, "<p>final page</p>\n");
}

TEST_F(FetchTest, AnotherThreadResumesTheTlsSessionOfTheFirst)
{
    UpdateCheckSettings([](CheckSettings& s) { s.caFile = testsupport::SharedCertificate().certFile; });
    // Each thread has a client of its own, so the second cannot reuse the first one's connection:
    // only the shared session spares it the whole handshake. No other test asks this host over HTTPS.
    for (const char* path : {"/page.html?first", "/page.html?second"}) {
        std::thread([&] {
            std::string text;
            uint32_t status = 0;
            EXPECT_TRUE(
                FetchPageText(s_server->HttpsUrl("other.localhost", path), text, status, nullptr, kMaxPageLength));
            EXPECT_EQ(text, "<html>page on the default host</html>\n");
        }).join();
    }
    EXPECT_EQ(fakes::detail::JsonField(LastLogLine(*s_server, "/page.html?first"), "resumed"), "false");
    EXPECT_EQ(fakes::detail::JsonField(LastLogLine(*s_server, "/page.html?second"), "resumed"), "true");
}

TEST_F(FetchTest, HttpsFailsForAnUntrustedCertificateOrANameItDoesNotCarry)
{
    const std::pair<std::string, const char*> cases[] = {
        {"", "partner.localhost"},
        {testsupport::SharedCertificate().certFile, "stranger.localhost"},
    };
    for (const auto& [caFile, host] : cases) {
        SCOPED_TRACE(host);
        UpdateCheckSettings([&](CheckSettings& s) { s.caFile = caFile; });
        std::string text = "old";
        uint32_t status = 0;
        EXPECT_FALSE(FetchPageText(s_server->HttpsUrl(host, "/page.html"), text, status, nullptr, kMaxPageLength));
        EXPECT_EQ(text, "old");
        EXPECT_FALSE(UrlExists(s_server->HttpsUrl(host, "/page.html")));
    }
}

// ---------------------------------------------------------------------------------------------
// Proxy

TEST_F(FetchTest, ProxySettingSendsTheRequestThroughTheProxy)
{
    fakes::FakeProxy proxy;
    proxy.Start();
    CheckSettings s = GetCheckSettings();
    s.useProxy = true;
    s.proxyHost = "127.0.0.1";
    s.proxyPort = proxy.Port();
    SetCheckSettings(s);

    // tinyproxy resolves names with the system resolver, which knows no "*.localhost": the
    // target is addressed by its IP address (the fake server's default host folder).
    const std::string url = s_server->Url("127.0.0.1", "/page.html");
    std::string text;
    uint32_t status = 0;
    std::string headers;
    ASSERT_TRUE(FetchPageText(url, text, status, &headers, kMaxPageLength));
    EXPECT_EQ(status, 200u);
    EXPECT_EQ(text, "<html>page on the default host</html>\n");
    EXPECT_NE(headers.find("tinyproxy"), std::string::npos) << headers; // its Via header
    EXPECT_NE(proxy.LogText().find("GET " + url), std::string::npos) << proxy.LogText();

    EXPECT_TRUE(UrlExists(s_server->Url("127.0.0.1", "/index.html")));
    EXPECT_NE(proxy.LogText().find("HEAD " + s_server->Url("127.0.0.1", "/index.html")), std::string::npos);

    // Once the proxy has stopped, fetches through it fail.
    proxy.Stop();
    EXPECT_FALSE(FetchPageText(url, text, status, nullptr, kMaxPageLength));
}

TEST_F(FetchTest, ProxyEnvironmentIsHonouredWithoutTheSwitch)
{
    fakes::FakeProxy proxy;
    proxy.Start();
    const std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.Port());
    ScopedEnv env("http_proxy", proxyUrl.c_str());
    const std::string url = s_server->Url("127.0.0.1", "/page.html");
    std::string text;
    uint32_t status = 0;
    ASSERT_TRUE(FetchPageText(url, text, status, nullptr, kMaxPageLength));
    EXPECT_NE(proxy.LogText().find("GET " + url), std::string::npos) << proxy.LogText();
}

TEST_F(FetchTest, MalformedProxySettingFailsEveryFetch)
{
    struct Bad
    {
        const char* host;
        int port;
    };
    for (const Bad bad : {Bad{"", 8080}, Bad{"127.0.0.1", 0}, Bad{"127.0.0.1", 70000}, Bad{"127.0.0.1", -1}}) {
        SCOPED_TRACE(std::string(bad.host) + ":" + std::to_string(bad.port));
        UpdateCheckSettings([&](CheckSettings& s) {
            s.useProxy = true;
            s.proxyHost = bad.host;
            s.proxyPort = bad.port;
        });
        EXPECT_EQ(OpenInternetClient(), nullptr);
        ExpectEveryFetchFails(Url("/page.html"));
        std::vector<std::string> lines = {"kept"};
        uint32_t status = 0;
        EXPECT_FALSE(FetchLines(Url("/lines.txt"), lines, status, nullptr, kMaxPageLength));
        EXPECT_EQ(lines, std::vector<std::string>{"kept"});
    }
    // A sound setting works again.
    UpdateCheckSettings([](CheckSettings& s) { s.useProxy = false; });
    EXPECT_NE(OpenInternetClient(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// HEAD and downloads

TEST_F(FetchTest, UrlExistsOnlyForA2xxAnswer)
{
    s_server->ClearLog();
    EXPECT_TRUE(UrlExists(Url("/page.html")));
    EXPECT_TRUE(UrlExists(Url("/_status/204")));
    EXPECT_TRUE(UrlExists(Url("/_redirect?to=/page.html")));
    EXPECT_FALSE(UrlExists(Url("/missing.html")));
    EXPECT_FALSE(UrlExists(Url("/_status/500")));
    EXPECT_FALSE(UrlExists(Url("/_loop")));
    EXPECT_FALSE(UrlExists("page.html"));
    EXPECT_FALSE(UrlExists("http://127.0.0.1:" + std::to_string(fakes::FreePort()) + "/"));
    const auto requests = s_server->Requests();
    ASSERT_FALSE(requests.empty());
    for (const auto& r : requests)
        EXPECT_EQ(r.method, "HEAD") << r.path;
}

TEST_F(FetchTest, DownloadToFileWritesTheBodyOnlyOnSuccess)
{
    const std::string target = s_server->Dir().File("download/page.bin");
    std::filesystem::create_directories(s_server->Dir().File("download"));
    ASSERT_TRUE(DownloadToFile(Url("/page.html"), target));
    EXPECT_EQ(ReadBytes(target), kPartnerPage);

    // Bytes unchanged, CRs included; an existing file is replaced.
    ASSERT_TRUE(DownloadToFile(Url("/_crlf?path=/lines.txt"), target));
    EXPECT_EQ(ReadBytes(target), "first\r\nsecond\r\nthird\r\n");

    // Larger than any line buffer.
    ASSERT_TRUE(DownloadToFile(Url("/_big?bytes=300000"), target));
    EXPECT_EQ(std::filesystem::file_size(target), 300000u);

    // Failures leave neither the file nor a temporary file behind, and keep an old file.
    const std::string missing = s_server->Dir().File("download/never.bin");
    EXPECT_FALSE(DownloadToFile("http://127.0.0.1:" + std::to_string(fakes::FreePort()) + "/x", missing));
    EXPECT_FALSE(std::filesystem::exists(missing));
    SetTimeouts(2, 1);
    EXPECT_FALSE(DownloadToFile(Url("/_slow?ms=3000&path=/page.html"), missing));
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_FALSE(DownloadToFile(Url("/_slow?ms=3000&path=/page.html"), target));
    EXPECT_EQ(std::filesystem::file_size(target), 300000u);
    EXPECT_FALSE(DownloadToFile(Url("/page.html"), s_server->Dir().File("no-such-folder/page.bin")));
    EXPECT_FALSE(DownloadToFile(Url("/_status/404"), missing));
    EXPECT_FALSE(std::filesystem::exists(missing));

    std::size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(s_server->Dir().File("download"))) {
        EXPECT_EQ(entry.path().filename(), "page.bin");
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

// ---------------------------------------------------------------------------------------------
// Connections and threads

TEST_F(FetchTest, FetchesOfOneThreadReuseTheConnection)
{
    s_server->ClearLog();
    std::string text;
    uint32_t status = 0;
    ASSERT_TRUE(FetchPageText(Url("/page.html"), text, status, nullptr, kMaxPageLength));
    ASSERT_TRUE(FetchPageText(Url("/lines.txt"), text, status, nullptr, kMaxPageLength));
    EXPECT_TRUE(UrlExists(Url("/page.html")));
    const auto requests = s_server->Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].conn, requests[1].conn);
    EXPECT_EQ(requests[1].conn, requests[2].conn);
}

TEST_F(FetchTest, ThreadsFetchAtTheSameTime)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&failures, t] {
            for (int i = 0; i < 15; ++i) {
                std::string text;
                uint32_t status = 0;
                const bool odd = (t + i) % 2 == 1;
                const std::string url = odd ? Url("/page.html") : Url("/cp1251.html");
                if (!FetchPageText(url, text, status, nullptr, kMaxPageLength) || status != 200 ||
                    text.find(odd ? "partner page" : "\xD0\xBC\xD0\xB8\xD1\x80") == std::string::npos)
                    ++failures;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
}

// ---------------------------------------------------------------------------------------------
// Redirects into the user's own network

struct AddressCase
{
    const char* address;
    bool ownNetwork;
};

/// The 6to4 address "2002:AABB:CCDD::1" of the IPv4 address A.B.C.D.
std::string SixToFour(const char* ipv4)
{
    unsigned char b[4] = {};
    if (inet_pton(AF_INET, ipv4, b) != 1)
        return "";
    char text[40];
    std::snprintf(text, sizeof text, "2002:%02x%02x:%02x%02x::1", b[0], b[1], b[2], b[3]);
    return text;
}

// Every special-purpose block that the whole Internet cannot reach, by its first and last address,
// with the neighbours where a public network begins; an IPv6 address carrying an IPv4 one
// (IPv4-mapped, NAT64, 6to4) is judged as that IPv4 address.
TEST(FetchAddresses, EverySpecialPurposeBlockIsOwnNetworkFromItsFirstToItsLastAddress)
{
    const AddressCase cases[] = {
        {"0.0.0.0", true},
        {"0.255.255.255", true},
        {"1.0.0.0", false},
        {"10.0.0.0", true},
        {"10.255.255.255", true},
        {"9.255.255.255", false},
        {"11.0.0.0", false},
        {"100.64.0.0", true},
        {"100.127.255.255", true},
        {"100.63.255.255", false},
        {"100.128.0.0", false},
        {"127.0.0.0", true},
        {"127.255.255.255", true},
        {"126.255.255.255", false},
        {"128.0.0.0", false},
        {"169.254.0.0", true},
        {"169.254.255.255", true},
        {"169.253.255.255", false},
        {"169.255.0.0", false},
        {"172.16.0.0", true},
        {"172.31.255.255", true},
        {"172.15.255.255", false},
        {"172.32.0.0", false},
        {"192.0.0.0", true},
        {"192.0.0.9", true}, // anycast port control: the user's own router answers
        {"192.0.0.255", true},
        {"191.255.255.255", false},
        {"192.0.1.0", false},
        {"192.0.2.0", true},
        {"192.0.2.255", true},
        {"192.0.3.0", false},
        {"192.31.196.1", false}, // special-purpose, yet globally reachable
        {"192.52.193.1", false},
        {"192.88.99.1", false},
        {"192.175.48.1", false},
        {"192.168.0.0", true},
        {"192.168.255.255", true},
        {"192.167.255.255", false},
        {"192.169.0.0", false},
        {"198.18.0.0", true},
        {"198.19.255.255", true},
        {"198.17.255.255", false},
        {"198.20.0.0", false},
        {"198.51.100.0", true},
        {"198.51.100.255", true},
        {"198.51.99.255", false},
        {"198.51.101.0", false},
        {"203.0.113.0", true},
        {"203.0.113.255", true},
        {"203.0.112.255", false},
        {"203.0.114.0", false},
        {"224.0.0.0", true},
        {"255.255.255.255", true},
        {"223.255.255.255", false},
        {"8.8.8.8", false},

        {"::", true},
        {"::1", true},
        {"::2", false},
        {"64:ff9b:1::", true},
        {"64:ff9b:1:ffff:ffff:ffff:ffff:ffff", true},
        {"64:ff9b:2::", false},
        {"64:ff9b:0:ffff:ffff:ffff:ffff:ffff", false},
        {"100::", true},
        {"100:0:0:1:ffff:ffff:ffff:ffff", true},
        {"100:0:0:2::", false},
        {"ff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", false},
        {"2001::", true},
        {"2001:1::1", true},
        {"2001:2::1", true},
        {"2001:1ff:ffff:ffff:ffff:ffff:ffff:ffff", true},
        {"2000:ffff:ffff:ffff:ffff:ffff:ffff:ffff", false},
        {"2001:200::", false},
        {"2001:3::", false}, // globally routed inside the protocol assignments
        {"2001:3:ffff:ffff:ffff:ffff:ffff:ffff", false},
        {"2001:4::", true},
        {"2001:4:112::", false},
        {"2001:4:112:ffff:ffff:ffff:ffff:ffff", false},
        {"2001:4:113::", true},
        {"2001:1f:ffff:ffff:ffff:ffff:ffff:ffff", true},
        {"2001:20::", false},
        {"2001:3f:ffff:ffff:ffff:ffff:ffff:ffff", false},
        {"2001:40::", true},
        {"2001:db8::", true},
        {"2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", true},
        {"2001:db7:ffff:ffff:ffff:ffff:ffff:ffff", false},
        {"2001:db9::", false},
        {"3fff::", true},
        {"3fff:fff:ffff:ffff:ffff:ffff:ffff:ffff", true},
        {"3ffe:ffff:ffff:ffff:ffff:ffff:ffff:ffff", false},
        {"3fff:1000::", false},
        {"5f00::", true},
        {"5f00:ffff:ffff:ffff:ffff:ffff:ffff:ffff", true},
        {"5eff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", false},
        {"5f01::", false},
        {"fc00::", true},
        {"fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", true},
        {"fbff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", false},
        {"fe80::", true},
        {"fe80::1%eth0", true},
        {"febf:ffff:ffff:ffff:ffff:ffff:ffff:ffff", true},
        {"fe7f:ffff:ffff:ffff:ffff:ffff:ffff:ffff", false},
        {"fec0::", true},
        {"feff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", true},
        {"ff00::", true},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", true},
        {"2606:4700::1", false},

        {"", true},
        {"not an address", true},
    };
    for (const AddressCase& c : cases) {
        EXPECT_EQ(IsOwnNetworkAddress(c.address), c.ownNetwork) << c.address;
        const std::string ipv4 = c.address;
        if (SixToFour(c.address).empty())
            continue;
        for (const std::string& carried : {"::ffff:" + ipv4, "64:ff9b::" + ipv4, SixToFour(c.address)})
            EXPECT_EQ(IsOwnNetworkAddress(carried), c.ownNetwork) << carried << " carries " << ipv4;
    }
}

/// The fake server on 127.0.0.1 redirects (/_redirect) to a second site on 127.0.0.2, which
/// serves a page and redirects back to 127.0.0.1 on /back?to=URL. Which of the two addresses
/// count as public is set through the test hook.
class FetchRedirectGuardTest : public FetchTest
{
protected:
    void SetUp() override
    {
        FetchTest::SetUp();
        CLocalHttpServer::Options options;
        options.bindAddress = "127.0.0.2";
        m_second = std::make_unique<CLocalHttpServer>(
            [this](const LocalHttpRequest& request) {
                {
                    std::lock_guard lock(m_mutex);
                    m_secondTargets.push_back(request.target);
                }
                LocalHttpResponse response;
                response.body = std::make_shared<const std::string>("<p>page on 127.0.0.2</p>\n");
                if (request.target.rfind("/back?to=", 0) == 0) {
                    response.status = 302;
                    response.extraHeaders = "Location: " + request.target.substr(9) + "\r\n";
                }
                return response;
            },
            options);
        std::string error;
        ASSERT_TRUE(m_second->Start(&error)) << error;
        s_server->ClearLog();
    }

    void TearDown() override
    {
        TestHooks::SetPublicAddresses({});
        m_second->Stop();
        FetchTest::TearDown();
    }

    std::string Second(const std::string& path) const { return "http://" + m_second->HostPort() + path; }
    static std::string First(const std::string& path) { return s_server->Url("127.0.0.1", path); }

    std::vector<std::string> SecondTargets()
    {
        std::lock_guard lock(m_mutex);
        return m_secondTargets;
    }

    /// Fetches the first site's redirect to `target`; the text, "refused" when the fetch failed
    /// saying it was refused, else why it failed.
    static std::string FetchRedirectTo(const std::string& target)
    {
        std::string text;
        uint32_t status = 0;
        FetchOutcome outcome;
        if (FetchPageText(First("/_redirect?to=" + target), text, status, nullptr, kMaxPageLength, &outcome))
            return text;
        // The user reads the reason in the link's evidence: a refusal, not a cancelled fetch.
        return outcome.error.rfind("redirect into the own network refused (", 0) == 0 ? "refused" : outcome.error;
    }

    std::unique_ptr<CLocalHttpServer> m_second;
    std::mutex m_mutex;
    std::vector<std::string> m_secondTargets;
};

TEST_F(FetchRedirectGuardTest, PublicPageRedirectingIntoTheOwnNetworkIsRefused)
{
    TestHooks::SetPublicAddresses({"127.0.0.1"});
    EXPECT_EQ(FetchRedirectTo(Second("/page.html")), "refused");
    ExpectEveryFetchFails(First("/_redirect?to=" + Second("/page.html")));

    // The public site did redirect, and no request reached the private address.
    EXPECT_EQ(s_server->CountRequests("/_redirect?to=" + Second("/page.html"), "127.0.0.1"), 5u);
    EXPECT_TRUE(SecondTargets().empty());

    // The refusal ends that fetch only: the next one goes where it is sent.
    TestHooks::SetPublicAddresses({});
    EXPECT_EQ(FetchRedirectTo(Second("/page.html")), "<p>page on 127.0.0.2</p>\n");
}

TEST_F(FetchRedirectGuardTest, RedirectsBetweenAddressesOfOneKindAreFollowed)
{
    // Both private (the real ranges): a page the user named in the own network.
    EXPECT_EQ(FetchRedirectTo(Second("/page.html")), "<p>page on 127.0.0.2</p>\n");
    // Both public.
    TestHooks::SetPublicAddresses({"127.0.0.1", "127.0.0.2"});
    EXPECT_EQ(FetchRedirectTo(Second("/page.html")), "<p>page on 127.0.0.2</p>\n");
    // Public to the same public address.
    TestHooks::SetPublicAddresses({"127.0.0.1"});
    EXPECT_EQ(FetchRedirectTo("/page.html"), "<html>page on the default host</html>\n");
    // From the own network out to a public address.
    TestHooks::SetPublicAddresses({"127.0.0.2"});
    EXPECT_EQ(FetchRedirectTo(Second("/page.html")), "<p>page on 127.0.0.2</p>\n");
    EXPECT_EQ(SecondTargets(), std::vector<std::string>(3, "/page.html"));
}

TEST_F(FetchRedirectGuardTest, PublicHopInTheMiddleMayNotLeadBackIn)
{
    // 127.0.0.1 (own network, named by the user) -> 127.0.0.2 (public) -> 127.0.0.1: refused.
    TestHooks::SetPublicAddresses({"127.0.0.2"});
    EXPECT_EQ(FetchRedirectTo(Second("/back?to=" + First("/page.html"))), "refused");
    EXPECT_EQ(SecondTargets(), std::vector<std::string>{"/back?to=" + First("/page.html")});
    EXPECT_EQ(s_server->CountRequests("/page.html"), 0u);

    // The same chain with both addresses in the own network is followed to its end.
    TestHooks::SetPublicAddresses({});
    EXPECT_EQ(FetchRedirectTo(Second("/back?to=" + First("/page.html"))), "<html>page on the default host</html>\n");
    EXPECT_EQ(s_server->CountRequests("/page.html"), 1u);
}

// ---------------------------------------------------------------------------------------------
// The fake server itself

TEST(FakeServerTest, LogsEveryRequestAndServesTheSpecialPaths)
{
    testsupport::FakeSite server("orvex-fake-self");
    server.Put("default/a.txt", "x\n");
    fakes::FakeHttpServer::Options options;
    options.delayMs = 200;
    server.Start(options);
    ASSERT_GT(server.HttpPort(), 0);
    ASSERT_GT(server.SilentPort(), 0);
    EXPECT_EQ(server.HttpsPort(), 0); // no certificate given

    const auto start = std::chrono::steady_clock::now();
    std::string text;
    uint32_t status = 0;
    ASSERT_TRUE(FetchPageText(server.Url("partner.localhost", "/a.txt"), text, status, nullptr, kMaxPageLength));
    EXPECT_EQ(text, "x\n");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    ASSERT_TRUE(
        FetchPageText(server.Url("partner.localhost", "/_big?bytes=100"), text, status, nullptr, kMaxPageLength));
    EXPECT_EQ(text.size(), 101u); // the last line (19 characters without LF) gains its "\n"
    EXPECT_EQ(text.substr(0, 81), std::string(80, 'x') + "\n");

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].host, "partner.localhost");
    EXPECT_EQ(requests[0].path, "/a.txt");
    EXPECT_GT(requests[0].time, 0.0);
    EXPECT_EQ(server.CountRequests("/a.txt", "partner.localhost"), 1u);
    EXPECT_EQ(server.CountRequests("/a.txt", "other.localhost"), 0u);

    const int port = server.HttpPort();
    server.Stop();
    EXPECT_FALSE(fakes::PortAccepts(port));
}

} // namespace
