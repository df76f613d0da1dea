// Every check a run makes leaves one history row with the evidence behind its verdict, fetched
// from a real server on 127.0.0.1; date-only changes leave a row without evidence; a link whose
// addresses change takes its rows along.
#include "core/history/CheckHistory.h"
#include "core/fetch/CheckSettings.h"
#include "core/history/HistoryStore.h"
#include "core/page/LinkCheck.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/records/OleDateTime.h"
#include "core/runs/CheckRuns.h"

#include "fakes/FakeServers.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>

namespace {

const std::string kMine = "http://mysite.example/";
const std::string kLink = "<a href=\"" + kMine + "\">my site</a>";

struct EvidenceCase
{
    const char* name;
    const char* host;
    std::string path;
    uint32_t status;
    int httpStatus;
    const char* evidence; ///< a line the evidence must hold
};

void PrintTo(const EvidenceCase& c, std::ostream* os)
{
    *os << c.name;
}

// Sets the recorder for one test and takes it away again, whatever happens.
class CRecorderScope
{
public:
    explicit CRecorderScope(std::shared_ptr<CHistoryStore> store) { SetCheckRecorder(HistoryRecorder(store)); }
    ~CRecorderScope() { SetCheckRecorder({}); }
    CRecorderScope(const CRecorderScope&) = delete;
    CRecorderScope& operator=(const CRecorderScope&) = delete;
};

class CheckHistoryTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = std::make_unique<testsupport::FakeSite>("orvex-history");
        const auto put = [](const std::string& rel, const std::string& bytes) { s_server->Put(rel, bytes); };
        put("default/link.html", "<p>" + kLink + "</p>\n");
        put("default/sponsored.html", "<p><a rel=\"Sponsored\" href=\"" + kMine + "\">my site</a></p>\n");
        put("default/meta.html", "<head><meta name=\"ROBOTS\" content=\"noindex, NOFOLLOW\"></head><p>" + kLink + "\n");
        put("default/noindex.html", "<noindex><p>" + kLink + "</p></noindex>\n");
        put("default/wrongtext.html", "<a href=\"" + kMine + "\">\n  cheap   shoes\n</a>\n");
        put("default/none.html", "<a href=\"http://other.example/\">my site</a>\n");
        put("blocked.localhost/private/link.html", "<p>" + kLink + "</p>\n");
        put("blocked.localhost/robots.txt", "User-agent: *\nAllow: /\n\n# the crawler we ask for\n"
                                            "User-agent: Googlebot\nDisallow: /private/\n");
        s_server->Start();
        s_settings = std::make_unique<testsupport::ScopedCheckSettings>();
        testsupport::UpdateCheckSettings([](CheckSettings& settings) {
            settings.connectTimeoutSeconds = 1;
            settings.requestTimeoutSeconds = 1;
            // A time-out is tried once more before it counts; no need to wait long for that here.
            settings.retryMinSeconds = 0;
            settings.retryMaxSeconds = 0;
            settings.pageRankHost.clear();
        });
    }
    static void TearDownTestSuite()
    {
        s_settings.reset();
        s_server.reset();
    }

    static CLink MakeLink(const std::string& fromPage)
    {
        CLink link;
        link.SetFromPage(fromPage);
        link.SetToPage(kMine);
        link.SetAnchor("My Site");
        link.SetProject("Shop");
        link.SetLastPaymentDate(OleDateTime::Today());
        link.SetPeriod(OleDateTimeSpan(365));
        return link;
    }

    static inline std::unique_ptr<testsupport::FakeSite> s_server;
    static inline std::unique_ptr<testsupport::ScopedCheckSettings> s_settings;
};

class CheckEvidenceTest : public CheckHistoryTest, public ::testing::WithParamInterface<EvidenceCase>
{
};

TEST_P(CheckEvidenceTest, OneRowWithTheEvidenceOfTheVerdict)
{
    const EvidenceCase& c = GetParam();
    testsupport::TempDir dir;
    auto store = std::make_shared<CHistoryStore>(dir.File("data.orx.history"));
    const CRecorderScope scope(store);
    s_server->ClearLog();

    const bool refused = c.path.empty();
    const std::string from = refused ? "http://127.0.0.1:" + std::to_string(fakes::FreePort()) + "/link.html"
                                     : s_server->Url(c.host, c.path);
    CLink link = MakeLink(from);
    {
        CCheckRun run({&link});
        ASSERT_TRUE(run.Start(1));
        run.Wait();
    }
    EXPECT_EQ(GetStatusName(link.GetStatus()), GetStatusName(c.status));
    // The server really saw the request whose answer is the case (a refused one reaches none).
    if (!refused) {
        EXPECT_GE(s_server->CountRequests(c.path), 1u);
    }

    store->Flush();
    ASSERT_EQ(store->Problem(), "");
    const std::vector<HistoryEntry> rows = store->Timeline(HistoryKeyOf(link));
    ASSERT_EQ(rows.size(), 1u);
    const HistoryEntry& row = rows[0];
    EXPECT_EQ(row.status, link.GetStatus());
    EXPECT_EQ(row.httpStatus, c.httpStatus);
    EXPECT_EQ(row.externalLinks, link.GetExternalLinks());
    EXPECT_NE(row.evidence.find(c.evidence), std::string::npos) << row.evidence;
    EXPECT_LE(row.evidence.size(), kMaxEvidenceText);
}

const EvidenceCase kEvidenceCases[] = {
    {"Ok", "partner.localhost", "/link.html", StatusOk, 200, "anchor: <a href=\"http://mysite.example/\">my site</a>"},
    {"SponsoredRel", "partner.localhost", "/sponsored.html", StatusNofollow, 200, "nofollow: rel=\"Sponsored\""},
    {"MetaNofollow", "partner.localhost", "/meta.html", StatusNofollow, 200,
     "nofollow: meta robots \"noindex, NOFOLLOW\""},
    {"XRobotsTagHeader", "partner.localhost", "/_headers?X-Robots-Tag=googlebot:%20nofollow&body=/link.html",
     StatusNofollow, 200, "nofollow: X-Robots-Tag: googlebot: nofollow"},
    {"NoindexSection", "partner.localhost", "/noindex.html", StatusNofollow, 200, "nofollow: NOINDEX section"},
    {"InvalidText", "partner.localhost", "/wrongtext.html", StatusInvalidText, 200,
     "text: \"cheap shoes\" is not the expected anchor text"},
    {"NotPresent", "partner.localhost", "/none.html", StatusNotPresent, 200, "not present:"},
    {"RobotsLine", "blocked.localhost", "/private/link.html", StatusRobots, 200,
     "robots.txt: User-agent: Googlebot, line 6: Disallow: /private/"},
    {"NotFound", "partner.localhost", "/_status/404", StatusCantOpen, 404, "fetch: HTTP status 404"},
    {"TimeOut", "partner.localhost", "/_slow?ms=4000&path=/link.html", StatusCantOpen, 0, "fetch: time-out"},
    {"ConnectionRefused", "", "", StatusCantOpen, 0, "fetch: connection refused"},
};
INSTANTIATE_TEST_SUITE_P(Verdicts, CheckEvidenceTest, ::testing::ValuesIn(kEvidenceCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CheckHistoryTest, FinalUrlAfterARedirectAndAnchorMarkupAcrossLines)
{
    testsupport::TempDir dir;
    auto store = std::make_shared<CHistoryStore>(dir.File("h"));
    const CRecorderScope scope(store);
    CLink link = MakeLink(s_server->Url("partner.localhost", "/_redirect?to=/wrongtext.html"));
    CCheckRun run({&link});
    ASSERT_TRUE(run.Start(1));
    run.Wait();
    store->Flush();
    const std::vector<HistoryEntry> rows = store->Timeline(HistoryKeyOf(link));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].finalUrl, s_server->Url("partner.localhost", "/wrongtext.html"));
    // The markup keeps its words; its line breaks become blanks so a row reads as lines of facts.
    EXPECT_NE(rows[0].evidence.find("anchor: <a href=\"http://mysite.example/\"> cheap shoes </a>"), std::string::npos)
        << rows[0].evidence;
}

TEST(CheckHistory, DateOnlyChangesKeepARowWithoutEvidenceAndUnchangedOnesNone)
{
    testsupport::TempDir dir;
    auto store = std::make_shared<CHistoryStore>(dir.File("h"));
    const CRecorderScope scope(store);
    CLink link;
    link.SetFromPage("http://partner.example/");
    link.SetToPage(kMine);
    link.SetLastPaymentDate(OleDateTime::Today());
    link.SetPeriod(OleDateTimeSpan(365));
    link.SetStatus(StatusExpired); // renewed since
    bool changed = false;
    ASSERT_TRUE(CheckLinkDates(&link, changed)); // Expired -> Ok
    ASSERT_TRUE(changed);
    ASSERT_TRUE(CheckLinkDates(&link, changed)); // no change, no row
    ASSERT_FALSE(changed);
    store->Flush();
    const std::vector<HistoryEntry> rows = store->Timeline(HistoryKeyOf(link));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].status, StatusOk);
    EXPECT_EQ(rows[0].httpStatus, 0);
    EXPECT_EQ(rows[0].evidence, "");
}

TEST(CheckHistory, ALinkWhoseAddressesChangeTakesItsRowsAndTheKeyMatchesAsTyped)
{
    testsupport::TempDir dir;
    CHistoryStore store(dir.File("h"));
    CLink before;
    before.SetFromPage("http://Partner.example:80/links.html");
    before.SetToPage("mysite.example");
    before.SetProject("Shop");
    HistoryEntry entry;
    entry.time = 10;
    entry.status = StatusOk;
    store.Record(HistoryKeyOf(before), entry);

    CLink after = before;
    EXPECT_TRUE(MoveLinkHistory(store, before, after)); // same key: nothing to do
    after.SetToPage("http://mysite.example/new");
    ASSERT_TRUE(MoveLinkHistory(store, before, after));
    EXPECT_TRUE(store.Timeline(HistoryKeyOf(before)).empty());
    ASSERT_EQ(store.Timeline(HistoryKeyOf(after)).size(), 1u);

    const std::string key = HistoryKeyOf(after);
    EXPECT_TRUE(HistoryKeyMatches(key, "partner.example/links.html", ""));
    EXPECT_TRUE(HistoryKeyMatches(key, "http://partner.example/Links.html", "http://MySite.example/new"));
    EXPECT_FALSE(HistoryKeyMatches(key, "http://partner.example/links.html", "http://mysite.example/"));
    EXPECT_FALSE(HistoryKeyMatches(key, "http://partner.example/other.html", ""));
    EXPECT_EQ(SplitHistoryKey(key).project, "Shop");
}

} // namespace

// "Older than N months" counts calendar months of the local clock; a day the earlier month lacks
// becomes its last.
TEST(CheckHistory, MonthsBeforeCountsCalendarMonths)
{
    const auto local = [](int year, int month, int day) {
        std::tm tm = {};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = 12;
        tm.tm_isdst = -1;
        return static_cast<int64_t>(std::mktime(&tm));
    };
    const struct
    {
        int from[3];
        int months;
        int to[3];
    } cases[] = {
        {{2026, 3, 31}, 1, {2026, 2, 28}},    {{2024, 3, 31}, 1, {2024, 2, 29}}, {{2026, 1, 15}, 1, {2025, 12, 15}},
        {{2026, 1, 31}, 13, {2024, 12, 31}},  {{2026, 5, 31}, 3, {2026, 2, 28}}, {{2026, 7, 4}, 0, {2026, 7, 4}},
        {{2026, 12, 7}, 1200, {1926, 12, 7}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.from[0]) + "-" + std::to_string(c.from[1]) + "-" + std::to_string(c.from[2]) +
                     " less " + std::to_string(c.months));
        EXPECT_EQ(MonthsBefore(local(c.from[0], c.from[1], c.from[2]), c.months), local(c.to[0], c.to[1], c.to[2]));
    }
}
