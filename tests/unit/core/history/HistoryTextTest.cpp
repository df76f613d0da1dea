// What the history pane and the copied report say about a link's entries.
#include "core/history/HistoryText.h"
#include "core/records/LinkStatus.h"

#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int64_t kDay = 86400;
// 2026-12-07 12:00 UTC.
constexpr int64_t kNow = 1796644800;

HistoryEntry At(int64_t time, uint32_t status, const std::string& evidence = {})
{
    HistoryEntry entry;
    entry.time = time;
    entry.status = status;
    entry.evidence = evidence;
    entry.httpStatus = evidence.empty() ? 0 : 200;
    return entry;
}

// Dates are shown in local time; the expected texts are written for UTC.
class HistoryText : public ::testing::Test
{
    testsupport::ScopedTimeZone m_utc{"UTC"};
};

TEST_F(HistoryText, SpansCoverTheWindowFromChangeToChange)
{
    const int64_t from = kNow - 100 * kDay;
    const std::vector<HistoryEntry> entries = {
        At(from - 50 * kDay, StatusOk), // before the window: the window opens with it
        At(from + 10 * kDay, StatusOk), // no change
        At(from + 20 * kDay, StatusNotPresent), At(from + 30 * kDay, StatusNotPresent),
        At(from + 40 * kDay, StatusOk),         At(kNow + kDay, StatusCantOpen), // after the window
    };
    EXPECT_EQ(StatusSpans(entries, from, kNow),
              (std::vector<StatusSpan>{{from, from + 20 * kDay, StatusOk},
                                       {from + 20 * kDay, from + 40 * kDay, StatusNotPresent},
                                       {from + 40 * kDay, kNow, StatusOk}}));
    // Without anything older, the window starts unknown.
    EXPECT_EQ(StatusSpans({At(from + 5 * kDay, StatusOk)}, from, kNow),
              (std::vector<StatusSpan>{{from, from + 5 * kDay, StatusNone}, {from + 5 * kDay, kNow, StatusOk}}));
    EXPECT_EQ(StatusSpans({}, from, kNow), (std::vector<StatusSpan>{{from, kNow, StatusNone}}));
    EXPECT_TRUE(StatusSpans(entries, kNow, from).empty());
}

TEST_F(HistoryText, SinceCountsFromTheFirstEntryOfTheLastRun)
{
    const std::vector<HistoryEntry> entries = {At(kNow - 60 * kDay, StatusNotPresent), At(kNow - 40 * kDay, StatusOk),
                                               At(kNow - 35 * kDay, StatusNotPresent),
                                               At(kNow - 7 * kDay, StatusNotPresent)};
    EXPECT_EQ(StatusSince(entries), kNow - 35 * kDay);
    EXPECT_EQ(SinceText(entries, kNow), "Not present since 2026-11-02 (1 month)");
    EXPECT_EQ(SinceText({}, kNow), "Never checked");
    EXPECT_EQ(SinceText({At(kNow - 3600, StatusNone)}, kNow), "Not checked since 2026-12-07 (1 hour)");

    const struct
    {
        int64_t seconds;
        const char* text;
    } durations[] = {
        {-5, "less than a minute"}, {59, "less than a minute"}, {60, "1 minute"},
        {3599, "59 minutes"},       {2 * 3600, "2 hours"},      {kDay, "1 day"},
        {13 * kDay, "1 week"},      {14 * kDay, "2 weeks"},     {45 * kDay, "1 month"},
        {400 * kDay, "1 year"},     {800 * kDay, "2 years"},
    };
    for (const auto& d : durations)
        EXPECT_EQ(DurationText(d.seconds), d.text) << d.seconds;
}

TEST_F(HistoryText, TheReportNamesEveryStatusChangeAndTheLastEvidence)
{
    HistoryEntry read = At(kNow - 2 * kDay, StatusNofollow,
                           "The page links to you with rel=\"sponsored\": <a href=\"http://mine.example/\" "
                           "rel=\"sponsored\">Mine</a>");
    read.finalUrl = "https://partner.example/links.html";
    const std::vector<HistoryEntry> entries = {At(kNow - 30 * kDay, StatusOk, "The page links to you."), read,
                                               At(kNow - kDay, StatusNofollow)};
    EXPECT_EQ(EvidenceReport("partner.example/links.html", "http://mine.example/", "Shop", entries, kNow),
              "Link report of 2026-12-07 12:00\n"
              "\n"
              "Page:      partner.example/links.html\n"
              "Links to:  http://mine.example/\n"
              "Project:   Shop\n"
              "Status:    nofollow since 2026-12-05 (2 days)\n"
              "\n"
              "Last check of the page: 2026-12-05 12:00, HTTP 200\n"
              "Answered from: https://partner.example/links.html\n"
              "The page links to you with rel=\"sponsored\": <a href=\"http://mine.example/\" "
              "rel=\"sponsored\">Mine</a>\n"
              "\n"
              "Changes of status:\n"
              "  2026-11-07 12:00  Ok\n"
              "  2026-12-05 12:00  nofollow\n");
    // Every status has its name in the report.
    for (uint32_t status = StatusOk; status <= StatusCantOpen; status <<= 1) {
        const std::string report = EvidenceReport("a", "b", "", {At(kNow, status)}, kNow);
        EXPECT_NE(report.find("Status:    " + GetStatusName(status) + " since"), std::string::npos) << report;
        EXPECT_EQ(report.find("Project:"), std::string::npos);
    }
}

// A link gone from the page: the report shows what the last check that still found it saw, and
// nothing of the kind while the last check found it, or when no check ever did.
TEST_F(HistoryText, AGoneLinkKeepsTheEvidenceOfTheLastCheckThatFoundIt)
{
    const HistoryEntry found = At(kNow - 9 * kDay, StatusOk, "anchor: <a href=\"http://mine.example/\">Mine</a>");
    const HistoryEntry refound =
        At(kNow - 8 * kDay, StatusNofollow, "nofollow: rel=\"ugc\"\nanchor: <a rel=\"ugc\">Mine</a>");
    const HistoryEntry lost = At(kNow - 3 * kDay, StatusNotPresent, "not present: no anchor names the To Page");
    const HistoryEntry failed = At(kNow - kDay, StatusCantOpen, "fetch: HTTP status 503");
    const HistoryEntry datesOnly = At(kNow, StatusCantOpen);
    const struct
    {
        std::vector<HistoryEntry> entries;
        const HistoryEntry* expected;
    } cases[] = {
        {{found, refound, lost, failed, datesOnly}, &refound},
        {{found, lost}, &found},
        {{lost, found}, nullptr},
        {{found, datesOnly}, nullptr},
        {{lost, failed}, nullptr},
        {{}, nullptr},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const HistoryEntry* got = LastFoundBeforeLoss(cases[i].entries);
        ASSERT_EQ(got != nullptr, cases[i].expected != nullptr) << i;
        if (got) {
            EXPECT_EQ(*got, *cases[i].expected) << i;
        }
    }
    const std::string report = EvidenceReport("p", "t", "", {found, lost}, kNow);
    EXPECT_NE(
        report.find("Last check of the page: 2026-12-04 12:00, HTTP 200\nnot present: no anchor names the To Page\n"
                    "\nLast found on the page: 2026-11-28 12:00\n"
                    "anchor: <a href=\"http://mine.example/\">Mine</a>\n"),
        std::string::npos)
        << report;
}

} // namespace
