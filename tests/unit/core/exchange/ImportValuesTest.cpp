#include "core/exchange/ImportValues.h"
#include "core/records/Link.h"
#include "unit/core/records/DateTestUtil.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace importvalues;
using records_test::Date;

TEST(ImportAmounts, ReadAsWrittenAndRoundedToWholeUnits)
{
    struct Case
    {
        const char* text;
        std::optional<int32_t> units; // none: not an amount
        bool rounded;
    };
    const Case cases[] = {
        {"75", 75, false},
        {"$75", 75, false},
        {"$ 1,200", 1200, false},
        {"€90.00", 90, false},
        {"90 USD", 90, false},
        {"usd 90", 90, false},
        {"£150.50", 151, true},
        {"150.49 £", 150, true},
        {"1.200,50 €", 1201, true},
        {"1,234,567.89", 1234568, true},
        {"1 200 руб.", 1200, false},
        {"1\u00a0200\u00a0₽", 1200, false},
        {"12,5", 13, true},
        {"US$ 10", 10, false},
        {"100,- €", 100, false},
        {"1'000", 1000, false},
        {"0", 0, false},
        {"2147483647", 2147483647, false},
        // Not amounts: words, negatives, broken grouping, two numbers, a sign alone, past 32 bits.
        {"n/a", std::nullopt, false},
        {"free", std::nullopt, false},
        {"-50", std::nullopt, false},
        {"$-50", std::nullopt, false},
        {"1,20,000", std::nullopt, false},
        {"1.2.3,4,5", std::nullopt, false},
        {"10 20", std::nullopt, false},
        {"$", std::nullopt, false},
        {"90 XYZ", std::nullopt, false},
        {"2147483648", std::nullopt, false},
        {"75$/month", std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto amount = ReadAmount(c.text);
        ASSERT_EQ(c.units.has_value(), amount.has_value());
        if (amount) {
            EXPECT_EQ(*c.units, amount->units);
            EXPECT_EQ(c.rounded, amount->rounded);
        }
    }
}

TEST(ImportDates, EveryWrittenFormAndTheUnreadableOnes)
{
    struct Case
    {
        const char* text;
        DayOrder slashed;
        std::optional<OleDateTime> date;
    };
    const auto D = [](int y, int m, int d) { return std::optional<OleDateTime>(Date(y, m, d)); };
    const auto none = std::optional<OleDateTime>();
    const Case cases[] = {
        {"2026-03-10", DayOrder::MonthFirst, D(2026, 3, 10)},
        {"2026-03-10T14:30:00", DayOrder::Unknown, D(2026, 3, 10)},
        {"2026/3/10", DayOrder::DayFirst, D(2026, 3, 10)},
        {"02.09.2026", DayOrder::MonthFirst, D(2026, 9, 2)}, // points are always day first
        {"2.9.26", DayOrder::Unknown, D(2026, 9, 2)},
        {"03/10/2027", DayOrder::DayFirst, D(2027, 10, 3)},
        {"03/10/2027", DayOrder::MonthFirst, D(2027, 3, 10)},
        {"03-10-2027", DayOrder::MonthFirst, D(2027, 3, 10)},
        {"03/10/2027", DayOrder::Unknown, none}, // either way: the column or the locale must say
        {"25/10/2027", DayOrder::Unknown, D(2027, 10, 25)},
        {"10/25/2027 9:15", DayOrder::Unknown, D(2027, 10, 25)},
        {"25/10/2027", DayOrder::MonthFirst, none}, // the column said month first: no 25th month
        {"26 Jan 2027", DayOrder::Unknown, D(2027, 1, 26)},
        {"26-JAN-27", DayOrder::Unknown, D(2027, 1, 26)},
        {"Jan 26, 2027", DayOrder::Unknown, D(2027, 1, 26)},
        {"September 1st, 2026", DayOrder::Unknown, D(2026, 9, 1)},
        {"1 Sept 2026", DayOrder::Unknown, D(2026, 9, 1)},
        {"26 января 2027 г.", DayOrder::Unknown, D(2027, 1, 26)},
        {"3 мая 2026", DayOrder::Unknown, D(2026, 5, 3)},
        {"3 май 2026", DayOrder::Unknown, D(2026, 5, 3)},
        {"8 марта 2026", DayOrder::Unknown, D(2026, 3, 8)},
        {"1 Дек 2026", DayOrder::Unknown, D(2026, 12, 1)},
        {"31.02.2026", DayOrder::Unknown, none},
        {"29.02.2027", DayOrder::Unknown, none},
        {"29.02.2028", DayOrder::Unknown, D(2028, 2, 29)},
        {"soon", DayOrder::Unknown, none},
        {"2026", DayOrder::Unknown, none},
        {"26 Foo 2027", DayOrder::Unknown, none},
        {"26 Ma 2027", DayOrder::Unknown, none},
        {"10.03", DayOrder::Unknown, none},
        {"10.03-2026", DayOrder::Unknown, none},
        {"1.1.1850", DayOrder::Unknown, none},
        {"", DayOrder::Unknown, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.date, ReadTextDate(c.text, c.slashed));
    }
    EXPECT_EQ(DayOrder::DayFirst, OrderShownBy("13/01/2026"));
    EXPECT_EQ(DayOrder::MonthFirst, OrderShownBy("01-13-2026"));
    EXPECT_EQ(DayOrder::Unknown, OrderShownBy("01/12/2026"));
    EXPECT_EQ(DayOrder::Unknown, OrderShownBy("13.01.2026")); // points say nothing of slashes
    EXPECT_EQ(DayOrder::Unknown, OrderShownBy("2026/01/13"));
}

// The expiry a sheet gives is the one the link shows, whenever whole months lead to it.
TEST(ImportPeriod, WholeMonthsKeepTheExpiryAtMonthEnds)
{
    struct Case
    {
        OleDateTime start, expiry;
        double days;       // the period stored
        OleDateTime shown; // the link's expiry afterwards
        int begunMonths;
    };
    const Case cases[] = {
        {Date(2026, 5, 31), Date(2027, 5, 31), 365, Date(2027, 5, 31), 12},
        {Date(2026, 1, 31), Date(2026, 2, 28), 28, Date(2026, 2, 28), 1},
        {Date(2028, 1, 31), Date(2028, 2, 29), 29, Date(2028, 2, 29), 1},
        {Date(2026, 1, 31), Date(2026, 4, 30), 89, Date(2026, 4, 30), 3},
        {Date(2026, 3, 10), Date(2026, 4, 10), 31, Date(2026, 4, 10), 1},
        {Date(2026, 12, 15), Date(2027, 1, 15), 31, Date(2027, 1, 15), 1},
        {Date(2026, 2, 28), Date(2027, 2, 28), 365, Date(2027, 2, 28), 12},
        // Not whole months: the day count and one day more, as before.
        {Date(2026, 1, 1), Date(2026, 1, 31), 31, Date(2026, 2, 1), 1},
        {Date(2026, 3, 10), Date(2026, 3, 10), 1, Date(2026, 3, 10), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.start) + " to " + testing::PrintToString(c.expiry));
        const OleDateTimeSpan period = PeriodUntil(c.start, c.expiry);
        EXPECT_EQ(c.days, period.GetDays());
        CLink link;
        link.SetLastPaymentDate(c.start);
        link.SetPeriod(period);
        EXPECT_EQ(c.shown, link.GetExpiryDate());
        link.SetCostMode(0);
        link.SetCostPerMonthValue(10);
        EXPECT_EQ(10 * c.begunMonths, link.GetCostPerPeriod());
    }
}
