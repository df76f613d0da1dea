#include "core/records/OleDateTime.h"
#include "DateTestUtil.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <utility>

using records_test::Date;
using records_test::Days;

namespace {

auto Calendar(const OleDateTime& date)
{
    const DateParts p = date.GetParts();
    return std::make_tuple(p.year, p.month, p.day, p.hour, p.minute, p.second);
}

void ExpectNoParts(const OleDateTime& date)
{
    const DateParts p = date.GetParts();
    EXPECT_EQ(std::make_tuple(-1, -1, -1, -1, -1, -1, -1),
              std::make_tuple(p.year, p.month, p.day, p.hour, p.minute, p.second, p.dayOfWeek));
}

constexpr double kSecond = 1.0 / 86400.0;

} // namespace

TEST(OleDateTimeParts, KnownSerialNumbers)
{
    EXPECT_EQ(0.0, Date(1899, 12, 30).GetValue());
    EXPECT_EQ(2.0, Date(1900, 1, 1).GetValue());
    EXPECT_EQ(40997.0, Date(2012, 3, 29).GetValue());
    EXPECT_EQ(40997.5, Date(2012, 3, 29, 12).GetValue());
    EXPECT_EQ(-657434.0, Date(100, 1, 1).GetValue());
}

TEST(OleDateTimeParts, RoundTripThroughParts)
{
    const std::array<std::tuple<int, int, int, int, int, int>, 8> cases = {{
        {2012, 3, 29, 13, 45, 10},
        {2000, 2, 29, 12, 0, 0},
        {1899, 12, 30, 0, 0, 0},
        {1899, 12, 29, 6, 0, 0},
        {1899, 12, 31, 23, 59, 59},
        {1850, 2, 28, 23, 59, 59},
        {100, 1, 1, 0, 0, 0},
        {9999, 12, 31, 23, 59, 59},
    }};
    for (const auto& c : cases) {
        const OleDateTime date = std::apply([](auto... v) { return Date(v...); }, c);
        SCOPED_TRACE(::testing::PrintToString(date));
        ASSERT_TRUE(date.IsValid());
        EXPECT_EQ(c, Calendar(date));
    }
}

TEST(OleDateTimeParts, NegativeValuesCountTimeForwardFromTheWholeDay)
{
    EXPECT_EQ(std::make_tuple(1899, 12, 29, 6, 0, 0), Calendar(OleDateTime(-1.25)));
    EXPECT_EQ(-1.25, Date(1899, 12, 29, 6).GetValue());
    EXPECT_EQ(-1.75, Date(1899, 12, 29, 18).GetValue());
    // Between -1 and 0 the value means the same moment as its absolute value.
    EXPECT_EQ(std::make_tuple(1899, 12, 30, 12, 0, 0), Calendar(OleDateTime(-0.5)));
}

TEST(OleDateTimeParts, DayOfWeek)
{
    EXPECT_EQ(4, Date(2012, 3, 29).GetParts().dayOfWeek);     // Thursday
    EXPECT_EQ(6, Date(1850, 6, 15, 23).GetParts().dayOfWeek); // Saturday
    EXPECT_EQ(6, Date(1899, 12, 30).GetParts().dayOfWeek);
}

TEST(OleDateTimeParts, RoundsToNearestSecond)
{
    const double lastSecond = Date(2012, 3, 29, 23, 59, 59).GetValue();
    EXPECT_EQ(std::make_tuple(2012, 3, 29, 23, 59, 59), Calendar(OleDateTime(lastSecond + 0.4 * kSecond)));
    EXPECT_EQ(std::make_tuple(2012, 3, 30, 0, 0, 0), Calendar(OleDateTime(lastSecond + 0.6 * kSecond)));
    // Just before midnight of 30 December 1899, on the negative side of the epoch.
    EXPECT_EQ(std::make_tuple(1899, 12, 30, 0, 0, 0), Calendar(OleDateTime(-1.9999999)));
}

TEST(OleDateTimeParts, OutOfRangePartsGiveInvalidDate)
{
    const std::array<OleDateTime, 8> bad = {
        Date(2011, 2, 29), Date(2012, 4, 31), Date(2012, 13, 1),          Date(2012, 0, 1),
        Date(99, 12, 31),  Date(10000, 1, 1), Date(2012, 1, 1, 24, 0, 0), Date(2012, 1, 1, 0, 60, 0),
    };
    for (const OleDateTime& date : bad) {
        EXPECT_EQ(DateStatus::Invalid, date.GetStatus());
        ExpectNoParts(date);
    }
}

TEST(OleDateTimeParts, DatesWithoutCalendarPartsGiveMinusOne)
{
    ExpectNoParts(OleDateTime::Invalid());
    ExpectNoParts(OleDateTime::Null());
    // A file may carry a "valid" status on a value that no calendar has.
    ExpectNoParts(OleDateTime::FromRaw(1e12, 0));
    ExpectNoParts(OleDateTime::FromRaw(std::numeric_limits<double>::quiet_NaN(), 0));
    EXPECT_FALSE(OleDateTime(1e12).IsValid());
}

TEST(OleDateTimeFormat, TwoDigitMonthDayYearElseInvalidOrEmpty)
{
    const std::pair<OleDateTime, const char*> cases[] = {
        {Date(2012, 3, 29, 15, 30), "03/29/12"},
        {Date(1905, 1, 2), "01/02/05"},
        {OleDateTime(-1.25), "12/29/99"},
        {OleDateTime::Invalid(), "Invalid DateTime"},
        {OleDateTime::FromRaw(1e12, 0), "Invalid DateTime"},
        {OleDateTime::Null(), ""},
    };
    for (const auto& [date, text] : cases)
        EXPECT_EQ(text, FormatDate(date)) << ::testing::PrintToString(date);
}

TEST(OleDateTimeCompare, ChronologicalOrderBeforeTheEpoch)
{
    const OleDateTime morning(-1.25); // 29 Dec 1899 06:00
    const OleDateTime evening(-1.75); // 29 Dec 1899 18:00
    EXPECT_TRUE(morning < evening);
    EXPECT_TRUE(evening > morning);
    EXPECT_TRUE(morning <= evening);
    EXPECT_FALSE(morning >= evening);
    EXPECT_TRUE(evening < OleDateTime(0.0));
}

TEST(OleDateTimeCompare, AnyComparisonWithInvalidOrNullDateIsFalse)
{
    const OleDateTime valid = Date(2012, 3, 29);
    for (const OleDateTime& other : {OleDateTime::Invalid(), OleDateTime::Null()}) {
        EXPECT_FALSE(valid < other);
        EXPECT_FALSE(other < valid);
        EXPECT_FALSE(valid > other);
        EXPECT_FALSE(other > valid);
        EXPECT_FALSE(valid <= other);
        EXPECT_FALSE(other <= valid);
        EXPECT_FALSE(valid >= other);
        EXPECT_FALSE(other >= valid);
        EXPECT_FALSE(other <= other);
    }
}

TEST(OleDateTimeArithmetic, LinearAcrossTheEpoch)
{
    EXPECT_EQ(OleDateTime(0.25), OleDateTime(-1.25) + Days(1.0));
    EXPECT_EQ(OleDateTime(-1.75), OleDateTime(-1.25) + Days(0.5));
    EXPECT_EQ(OleDateTime(-1.75), OleDateTime(0.25) - Days(0.5));
    EXPECT_EQ(Days(0.5), OleDateTime(-1.75) - OleDateTime(-1.25));
    EXPECT_EQ(Days(-1.0), OleDateTime(-1.75) - OleDateTime(0.75)); // 29 Dec to 30 Dec, both 18:00
    EXPECT_EQ(Date(1800, 3, 1), Date(1800, 2, 28) + Days(1.0));    // 1800 is not a leap year
}

TEST(OleDateTimeArithmetic, InvalidOperandsGiveInvalidResults)
{
    const OleDateTime valid = Date(2012, 3, 29);
    EXPECT_FALSE((OleDateTime::Invalid() + Days(1.0)).IsValid());
    EXPECT_FALSE((OleDateTime::Null() + Days(1.0)).IsValid());
    EXPECT_FALSE((valid + OleDateTimeSpan(1.0, DateStatus::Invalid)).IsValid());
    EXPECT_FALSE((valid - OleDateTime::Invalid()).IsValid());
    EXPECT_FALSE((Date(9999, 12, 31) + Days(1.0)).IsValid());
    EXPECT_FALSE((Date(100, 1, 1) - Days(1.0)).IsValid());
}

TEST(OleDateTimeSpan, ValidOnlyWithinLimit)
{
    EXPECT_TRUE(OleDateTimeSpan(3615897.0).IsValid());
    EXPECT_TRUE(OleDateTimeSpan(-3615897.0).IsValid());
    EXPECT_FALSE(OleDateTimeSpan(3615897.5).IsValid());
    EXPECT_FALSE(OleDateTimeSpan(-3615898.0).IsValid());
    EXPECT_FALSE(OleDateTimeSpan(std::numeric_limits<double>::quiet_NaN()).IsValid());
    EXPECT_FALSE(OleDateTimeSpan(std::numeric_limits<double>::infinity()).IsValid());
}

TEST(SystemTimeBytes, LayoutAndRoundTrip)
{
    const OleDateTime date = Date(2012, 3, 29, 13, 45, 10);
    const std::array<uint8_t, 16> expected = {0xDC, 0x07, 3, 0, 4, 0, 29, 0, 13, 0, 45, 0, 10, 0, 0, 0};
    const auto bytes = ToSystemTimeBytes(date);
    EXPECT_EQ(expected, bytes);
    EXPECT_EQ(date, FromSystemTimeBytes(bytes.data(), bytes.size()));

    const OleDateTime old = Date(1850, 6, 15, 8, 30, 0);
    const auto oldBytes = ToSystemTimeBytes(old);
    EXPECT_EQ(old, FromSystemTimeBytes(oldBytes.data(), oldBytes.size()));
}

TEST(SystemTimeBytes, RecordsThatDoNotConvert)
{
    const std::array<uint8_t, 16> zeros{};
    EXPECT_FALSE(FromSystemTimeBytes(zeros.data(), zeros.size()).IsValid());
    EXPECT_EQ(zeros, ToSystemTimeBytes(OleDateTime::Invalid()));
    EXPECT_EQ(zeros, ToSystemTimeBytes(OleDateTime::Null()));

    auto bytes = ToSystemTimeBytes(Date(2012, 4, 30));
    bytes[6] = 31; // 31 April
    EXPECT_FALSE(FromSystemTimeBytes(bytes.data(), bytes.size()).IsValid());
    EXPECT_FALSE(FromSystemTimeBytes(bytes.data(), 15).IsValid());
    EXPECT_FALSE(FromSystemTimeBytes(nullptr, 16).IsValid());
}

// The starting day is kept or clamped to the month's end, the time of day kept; nothing to add
// leaves the date, and a date without calendar parts (or past the calendar) ends invalid.
TEST(CalendarMonths, AddMonths)
{
    const struct
    {
        OleDateTime from;
        int months;
        OleDateTime expected;
    } cases[] = {
        {Date(2011, 1, 31), 1, Date(2011, 2, 28)},
        {Date(2012, 1, 31), 1, Date(2012, 2, 29)},
        {Date(2011, 1, 31), 2, Date(2011, 3, 31)},
        {Date(2012, 3, 30), 1, Date(2012, 4, 30)},
        {Date(2012, 3, 31), 1, Date(2012, 4, 30)},
        {Date(2012, 12, 31), 1, Date(2013, 1, 31)},
        {Date(2011, 1, 31), 24, Date(2013, 1, 31)},
        {Date(2011, 2, 28), 12, Date(2012, 2, 28)}, // a leap February does not move the 28th
        {Date(2012, 1, 31, 15, 30), 1, Date(2012, 2, 29, 15, 30)},
        {Date(1899, 11, 29, 6), 1, OleDateTime(-1.25)},
        {Date(1899, 11, 30, 6), 1, OleDateTime(0.25)},
        {Date(1899, 10, 31, 6), 2, Date(1899, 12, 31, 6)},
        {Date(2012, 3, 29, 6), 0, Date(2012, 3, 29, 6)},
        {Date(2012, 3, 29, 6), -3, Date(2012, 3, 29, 6)},
        {OleDateTime::Invalid(), 1000, OleDateTime::Invalid()},
        {OleDateTime::Null(), 5, OleDateTime::Invalid()},
        {Date(9999, 12, 15), 5, OleDateTime::Invalid()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.from) + " + " + std::to_string(c.months));
        const OleDateTime result = AddMonths(c.from, c.months);
        if (c.expected.IsValid())
            EXPECT_EQ(c.expected, result);
        else
            EXPECT_FALSE(result.IsValid()) << ::testing::PrintToString(result);
    }
}

TEST(CalendarMonths, MonthsBetween)
{
    EXPECT_EQ(3, MonthsBetween(Date(2012, 4, 2), Date(2012, 1, 1), true));
    EXPECT_EQ(4, MonthsBetween(Date(2012, 4, 2), Date(2012, 1, 1), false));
    EXPECT_EQ(2, MonthsBetween(Date(2012, 3, 15), Date(2012, 1, 15), false)); // same day: nothing begun
    EXPECT_EQ(2, MonthsBetween(Date(2012, 3, 10), Date(2012, 1, 15), false)); // a smaller day takes nothing away
    EXPECT_EQ(2, MonthsBetween(Date(2013, 1, 5), Date(2012, 11, 20), true));
    EXPECT_EQ(-2, MonthsBetween(Date(2012, 1, 5), Date(2012, 3, 20), true));
    EXPECT_EQ(0, MonthsBetween(OleDateTime::Invalid(), OleDateTime::Invalid(), false));
}
