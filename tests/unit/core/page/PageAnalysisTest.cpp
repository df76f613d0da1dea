// The two page reports a user opens to see a partner page as the checker sees it, against pages
// served over HTTP on this machine.
#include "core/page/PageAnalysis.h"
#include "core/fetch/CheckSettings.h"
#include "core/fetch/Fetch.h"
#include "core/page/PageScan.h"

#include "fakes/FakeServers.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace {

class PageAnalysisTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = std::make_unique<testsupport::FakeSite>("orvex-analysis");
        Put("partner.localhost/robots.txt", "User-agent: *\r\nDisallow: /private\r\n");
        Put("partner.localhost/links.html",
            "<html><body>\n"
            "<a href=\"http://Other.localhost/x\">one</a> <a href=\"http://other.localhost/x\">again</a>\n"
            "<a href=\"http://sponsor.localhost/\" rel=\"Sponsored NOFOLLOW\">paid</a>\n"
            "<a href=\"http://sponsor.localhost/\">same, followed</a>\n"
            "<a href=\"/about\">about</a> <a href=\"http://www.partner.localhost/contact\">contact</a>\n"
            "<a href=\"MAILTO:me@partner.localhost\">mail</a> <a href=\"\">empty</a> <a>no href</a>\n"
            "</body></html>\n");
        Put("norobots.localhost/relative.html",
            "<a href=\"/a\">a</a><a href=\"b.html\">b</a><a href=\"/A\">A</a><a href=\"#top\">top</a>"
            "<a href=\"/a\">a again</a>\n");
        Put("partner.localhost/source.html",
            "<html><body>\n"
            "<p>Friends: <a class=\"x\"\n   href=\"http://mysite.localhost/\">My &amp; <b>site</b>\n  here</a>,\n"
            "<a href=\"http://mysite.localhost/other.html\">not this one</a>\n"
            "<template><a href=\"http://mysite.localhost/\">unseen</a></template>\n"
            "<a href=\"//MYSITE.localhost/\" rel=nofollow>again</a></p>\n"
            "<div><a href=\"http://mysite.localhost/\">left open\n</div>\n"
            "</body></html>\n");
        s_server->Start();
        s_settings = std::make_unique<testsupport::ScopedCheckSettings>();
        testsupport::UpdateCheckSettings(
            [](CheckSettings& s) { s.pageRankHost = "rank.localhost:" + std::to_string(s_server->HttpPort()); });
        Put("rank.localhost/ranks.json",
            "{\"info:" + s_server->Url("partner.localhost", "/links.html") + "\": \"Rank_1:1:6\\n\"}");
    }
    static void TearDownTestSuite()
    {
        s_settings.reset();
        s_server.reset();
    }

    static void Put(const std::string& rel, const std::string& bytes) { s_server->Put(rel, bytes); }

    static std::string Url(const std::string& host, const std::string& path) { return s_server->Url(host, path); }

    static inline std::unique_ptr<testsupport::FakeSite> s_server;
    static inline std::unique_ptr<testsupport::ScopedCheckSettings> s_settings;
};

TEST_F(PageAnalysisTest, ExternalLinksInfoCountsDistinctHrefsAndListsNofollowOnesInBothLists)
{
    const std::string page = Url("partner.localhost", "/links.html");
    std::string report;
    ASSERT_TRUE(ExternalLinksInfo(page, report));
    // The capital letter in a host makes no second entry; the nofollow site is counted once and
    // shown under both lists; mail, empty and missing hrefs count nowhere.
    const std::string expected = "URL : " + page +
                                 "\r\n"
                                 "PR : 6\r\n"
                                 "Robots.txt : \r\n"
                                 "User-agent: *\r\n"
                                 "Disallow: /private\r\n"
                                 "----------------------------\r\n"
                                 "Internal Unique Links - 2\r\n"
                                 "Total External Unique Links - 2\r\n"
                                 "----------------------------\r\n"
                                 "Nofollow unique external links (1):\r\n"
                                 "http://sponsor.localhost/\r\n"
                                 "Unique External links (2):\r\n"
                                 "http://other.localhost/x\r\n"
                                 "http://sponsor.localhost/\r\n"
                                 "----------------------------\r\n";
    ASSERT_EQ(report.substr(0, expected.size()), expected);
    const std::string headers = report.substr(expected.size());
    EXPECT_EQ(headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << headers;
    EXPECT_NE(headers.find("\r\nContent-Type: text/html\r\n"), std::string::npos) << headers;
    EXPECT_EQ(headers.substr(headers.size() - 2), "\r\n");
    EXPECT_EQ(headers.find("\r\n\r\n"), std::string::npos) << "one line per header, no empty line";
}

TEST_F(PageAnalysisTest, ExternalLinksInfoOfARelativeOnlyPageWithoutRobotsFile)
{
    const std::string page = Url("norobots.localhost", "/relative.html");
    std::string report;
    ASSERT_TRUE(ExternalLinksInfo(page, report));
    // Hrefs are lower-cased before they are told apart, so "/a" and "/A" are one.
    EXPECT_NE(report.find("PR : -1\r\nRobots.txt : \r\n----------------------------\r\n"
                          "Internal Unique Links - 3\r\nTotal External Unique Links - 0\r\n"
                          "----------------------------\r\n"
                          "Nofollow unique external links (0):\r\nUnique External links (0):\r\n"
                          "----------------------------\r\nHTTP/1.1 200 OK\r\n"),
              std::string::npos)
        << report;
}

TEST_F(PageAnalysisTest, APageThatCannotBeReadEndsTheReportAfterItsAddress)
{
    for (const std::string& page : {Url("partner.localhost", "/_status/404"), Url("partner.localhost", "/gone.html")}) {
        std::string report = "old text";
        EXPECT_FALSE(ExternalLinksInfo(page, report));
        EXPECT_EQ(report, "URL : " + page + "\r\nCan not read URL content\r\n");
    }
    std::string text = "old text";
    EXPECT_FALSE(LinkSourceText(Url("partner.localhost", "/_status/404"), "http://mysite.localhost/", text));
    EXPECT_EQ(text, "");
}

TEST_F(PageAnalysisTest, LinkSourceShowsEachMatchingAnchorAsThePageWroteIt)
{
    std::string text;
    ASSERT_TRUE(LinkSourceText(Url("partner.localhost", "/source.html"), "mysite.localhost", text));
    const std::string separator = "---------------------------------------------------------------\r\n";
    // Source across lines and entities stay as written; the text is what a reader sees. The
    // protocol-relative href takes the page's scheme; the one in a template is no link; an
    // anchor never closed runs to where the parser closed it.
    EXPECT_EQ(text,
              "Raw link : <a class=\"x\"\n   href=\"http://mysite.localhost/\">My &amp; <b>site</b>\n  here</a>\r\n"
              "Anchor : \"My & site here\"\r\n" +
                  separator +
                  "Raw link : <a href=\"//MYSITE.localhost/\" rel=nofollow>again</a>\r\n"
                  "Anchor : \"again\"\r\n" +
                  separator +
                  "Raw link : <a href=\"http://mysite.localhost/\">left open\n\r\n"
                  "Anchor : \"left open\"\r\n" +
                  separator);

    ASSERT_TRUE(LinkSourceText(Url("partner.localhost", "/source.html"), "http://nobody.localhost/", text));
    EXPECT_EQ(text, "");
}

TEST_F(PageAnalysisTest, LinkSourceOfAPageParsedInPiecesKeepsEverySource)
{
    // Enough elements that the page is parsed in several pieces: each source must still come
    // from its own piece's text.
    std::string page = "<html><body>\n";
    int expected = 0;
    for (int i = 0; i < 60000; ++i) {
        if (i % 7000 == 3) {
            page += "<a href=\"http://mysite.localhost/\" id=\"m" + std::to_string(i) + "\">n" + std::to_string(i) +
                    "</a>\n";
            ++expected;
        } else {
            page += "<span><a href=\"/p" + std::to_string(i) + "\">p</a></span>\n";
        }
    }
    page += "</body></html>\n";
    Put("partner.localhost/huge.html", page);
    std::size_t pieces = 0;
    ASSERT_TRUE(pagescan::ParseInPieces(
        page, pagescan::PieceTagsFor(page.size()), 256,
        [](std::string_view, const GumboInternalNode*, const GumboInternalNode*) {}, &pieces));
    ASSERT_GT(pieces, 2u);
    std::string text;
    ASSERT_TRUE(LinkSourceText(Url("partner.localhost", "/huge.html"), "http://mysite.localhost/", text));
    int blocks = 0;
    for (int i = 3; i < 60000; i += 7000) {
        const std::string id = std::to_string(i);
        EXPECT_NE(text.find("Raw link : <a href=\"http://mysite.localhost/\" id=\"m" + id + "\">n" + id +
                            "</a>\r\nAnchor : \"n" + id + "\"\r\n"),
                  std::string::npos)
            << id;
        ++blocks;
    }
    EXPECT_EQ(blocks, expected);
    EXPECT_EQ(testsupport::Occurrences(text, "Raw link : "), static_cast<std::size_t>(expected));
}

TEST_F(PageAnalysisTest, ACancelledFetchEndsBeforeASlowPageArrives)
{
    std::atomic<bool> cancelled{false};
    std::string text = "kept";
    uint32_t status = 0;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancelled.store(true);
    });
    bool fetched = true;
    {
        CFetchCancelScope scope(cancelled);
        fetched = FetchPageText(Url("partner.localhost", "/_slow?ms=20000&path=/links.html"), text, status, nullptr,
                                kMaxPageLength);
    }
    canceller.join();
    EXPECT_FALSE(fetched);
    EXPECT_EQ(text, "kept");
    // Outside the scope the flag no longer matters.
    EXPECT_TRUE(FetchPageText(Url("partner.localhost", "/links.html"), text, status, nullptr, kMaxPageLength));
}

} // namespace
