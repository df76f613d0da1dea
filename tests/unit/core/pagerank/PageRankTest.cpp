#include "core/pagerank/PageRank.h"
#include "core/fetch/CheckSettings.h"
#include "core/records/Link.h"
#include "fakes/LocalHttpServer.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Expected values come from tests/data/lookup2_vectors.py, a reference written separately from
// the C++ code; rerun it when a vector is added.
std::vector<uint8_t> Pattern(std::size_t length)
{
    std::vector<uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>((i * 37 + 11) & 0xFF);
    return bytes;
}

struct RawVector
{
    uint32_t initval;
    std::size_t length;
    uint32_t hash;
};

TEST(PageRankChecksum, Lookup2MatchesReferenceAcrossBlockAndTailLengths)
{
    // Lengths around the 12-byte block and each 4-byte word of the tail, with the program's seed
    // and with 0, so a seed mixed in at the wrong place shows.
    const RawVector vectors[] = {
        {0x6B1D4E37, 0, 0x64E0A6BA},  {0x6B1D4E37, 1, 0xFAA3D36D},  {0x6B1D4E37, 4, 0xFB359A2A},
        {0x6B1D4E37, 8, 0x0D9ED972},  {0x6B1D4E37, 11, 0x4EF2DF46}, {0x6B1D4E37, 12, 0x23A19E34},
        {0x6B1D4E37, 13, 0xA4977D46}, {0x6B1D4E37, 23, 0xEAA34A56}, {0x6B1D4E37, 24, 0x9B5A2FB0},
        {0x6B1D4E37, 25, 0xD4379F8A}, {0x6B1D4E37, 36, 0xA6B74A0D}, {0x6B1D4E37, 64, 0x62A06A14},
        {0, 0, 0xBD49D10D},           {0, 1, 0x9E34CD8A},           {0, 4, 0xC5522BBD},
        {0, 8, 0x371B6F81},           {0, 11, 0xF9DF30C5},          {0, 12, 0x80C4706D},
        {0, 13, 0x7BAD5CF2},          {0, 23, 0xC9389C4C},          {0, 24, 0xED8D671B},
        {0, 25, 0x4C0035F4},          {0, 36, 0xA1C7AAAB},          {0, 64, 0x585D905A},
    };
    for (const RawVector& v : vectors) {
        const std::vector<uint8_t> bytes = Pattern(v.length);
        EXPECT_EQ(Lookup2Hash(bytes.data(), bytes.size(), v.initval), v.hash)
            << "length " << v.length << ", initval " << std::hex << v.initval;
    }
}

TEST(PageRankChecksum, QueryChecksumMatchesReference)
{
    const struct
    {
        std::string url;
        std::string checksum;
    } vectors[] = {
        {"", "62664456048"},                    // 5 bytes, tail only
        {"http:/", "62768327405"},              // 11 bytes, the tail's last byte in the top of c
        {"example", "62409920123"},             // 12 bytes: one block, then the length alone
        {"example/", "62470507795"},            // 13 bytes
        {"http://www.a.com/12", "61791190089"}, // 24 bytes, two blocks
        {"http://a.com/1234567", "61070117649"},
        {"http://ab.com/123456", "61736383159"},
        {"http://www.example.com/", "63124248212"},
        // A hash below 10^9: no padding to a fixed width.
        {"http://www.example.com/page.html?x=1&y=2", "6518369538"},
        // Bytes above 0x7F must enter as unsigned values, not sign-extended chars.
        {"http://h\xe9.example/\xff\x80", "62037008183"},
    };
    for (const auto& v : vectors)
        EXPECT_EQ(PageRankChecksum(v.url), v.checksum) << "url \"" << v.url << "\"";
}

TEST(PageRankAnswer, ReadsTheRankFromThePattern)
{
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:1:4\n"), 4);
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:1:0\n"), 0);
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:1:4"), 4);
    // What follows the number is not part of the pattern.
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:1:7x"), 7);
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:1:7\nRank_1:1:9\n"), 7);
    // A two-digit rank is read whole rather than cut to its first digit.
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:1:10\n"), 10);
}

TEST(PageRankAnswer, RefusesShortAnswersOtherTextAndRanksOutOfRange)
{
    EXPECT_EQ(ParsePageRankAnswer(""), -1);
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:1:"), -1);
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:14"), -1); // 9 characters, though it looks complete
    EXPECT_EQ(ParsePageRankAnswer("<html><head><title>403 Forbidden</title></head>\n"), -1);
    EXPECT_EQ(ParsePageRankAnswer("rank_1:1:4\n"), -1);
    EXPECT_EQ(ParsePageRankAnswer("Rank_2:1:4\n"), -1);
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:x:4\n"), -1);
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:1;4\n"), -1);
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:1:-1\n"), -1);
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:1:11\n"), -1);
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:1:99999999999999999999\n"), -1);
    // The first 10 characters end before the rank begins.
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:12:4\n"), -1);
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:1: 4\n"), -1);
    EXPECT_EQ(ParsePageRankAnswer("Rank_1:1:\n4\n"), -1);
}

// A ranking service on 127.0.0.1 that gives one fixed answer and remembers what it was asked.
class PageRankService : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_server = std::make_unique<CLocalHttpServer>([this](const LocalHttpRequest& request) {
            std::lock_guard lock(m_mutex);
            m_targets.push_back(request.target);
            LocalHttpResponse response;
            response.status = m_status;
            response.contentType = "text/plain";
            response.body = std::make_shared<const std::string>(m_answer);
            return response;
        });
        std::string error;
        ASSERT_TRUE(m_server->Start(&error)) << error;
        testsupport::UpdateCheckSettings([this](CheckSettings& settings) {
            settings.useProxy = false;
            settings.pageRankHost = m_server->HostPort();
            settings.connectTimeoutSeconds = 5;
            settings.requestTimeoutSeconds = 10;
        });
    }
    void TearDown() override { m_server.reset(); }

    void Answer(std::string text, int status = 200)
    {
        std::lock_guard lock(m_mutex);
        m_answer = std::move(text);
        m_status = status;
    }
    std::vector<std::string> Targets()
    {
        std::lock_guard lock(m_mutex);
        return m_targets;
    }
    static CLink LinkWithRank(int32_t rank)
    {
        CLink link;
        link.SetFromPage("www.partner.example/links.html");
        link.SetCurrentPR(rank);
        link.SetPreviousPR(rank);
        return link;
    }

    testsupport::ScopedCheckSettings m_settings;
    std::unique_ptr<CLocalHttpServer> m_server;
    std::mutex m_mutex;
    std::string m_answer = "Rank_1:1:4\n";
    int m_status = 200;
    std::vector<std::string> m_targets;
};

TEST_F(PageRankService, SendsTheChecksumAndTheUrlUnchangedAndReadsTheAnswer)
{
    const std::string url = "http://www.example.com/a%20b?x=1&y=2";
    EXPECT_EQ(QueryPageRank(url), 4);
    const std::vector<std::string> targets = Targets();
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(targets[0], "/tbr?client=navclient-auto&ch=" + PageRankChecksum(url) + "&features=Rank&q=info:" + url);
}

TEST_F(PageRankService, TheStatusCodeIsNotJudged)
{
    Answer("Rank_1:1:6\n", 404);
    EXPECT_EQ(QueryPageRank("http://www.example.com/"), 6);
}

TEST_F(PageRankService, NoRequestWithoutAnEndpointOrForAUrlThatCannotBeSplit)
{
    EXPECT_EQ(QueryPageRank("not a url"), -1);
    EXPECT_EQ(QueryPageRank(""), -1);

    testsupport::UpdateCheckSettings([](CheckSettings& settings) { settings.pageRankHost.clear(); });
    EXPECT_EQ(QueryPageRank("http://www.example.com/"), -1);
    EXPECT_TRUE(Targets().empty());
}

// The rank read goes to currentPR and the one before to previousPR; a change is one rank to
// another (0 is a rank, not a failure), never a first rank nor a failed lookup, which keeps the
// rank as it was.
TEST_F(PageRankService, ARankIsStoredAndItsChangeReported)
{
    const struct
    {
        int32_t current, previous;
        const char* answer;
        int32_t newCurrent, newPrevious;
        bool changed;
    } cases[] = {
        {3, 3, "Rank_1:1:5\n", 5, 3, true},
        {5, 5, "Rank_1:1:0\n", 0, 5, true},
        {0, 0, "Rank_1:1:0\n", 0, 0, false},
        {-1, -1, "Rank_1:1:2\n", 2, -1, false},
        {3, 7, "Rank_1:1:", 3, 3, false},
        {3, 7, "", 3, 3, false},
        {3, 7, "<html><body>Service unavailable</body></html>\n", 3, 3, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.current) + " then " + c.answer);
        Answer(c.answer);
        CLink link = LinkWithRank(c.current);
        link.SetPreviousPR(c.previous);
        bool changed = !c.changed;
        EXPECT_TRUE(CheckPageRank(&link, changed));
        EXPECT_EQ(link.GetCurrentPR(), c.newCurrent);
        EXPECT_EQ(link.GetPreviousPR(), c.newPrevious);
        EXPECT_EQ(changed, c.changed);
    }
    // The From page is normalised before it is hashed and sent.
    const std::string normalised = "http://www.partner.example/links.html";
    EXPECT_EQ(Targets().front(),
              "/tbr?client=navclient-auto&ch=" + PageRankChecksum(normalised) + "&features=Rank&q=info:" + normalised);

    // Nothing listens on the port any more.
    m_server->Stop();
    CLink link = LinkWithRank(3);
    bool changed = true;
    EXPECT_TRUE(CheckPageRank(&link, changed));
    EXPECT_EQ(link.GetPreviousPR(), 3);
    EXPECT_EQ(link.GetCurrentPR(), 3);
    EXPECT_FALSE(changed);
}

TEST(PageRankCheck, NoLinkIsFalse)
{
    bool changed = true;
    EXPECT_FALSE(CheckPageRank(nullptr, changed));
    EXPECT_FALSE(changed);
}

} // namespace
