#include "core/records/Link.h"
#include "DateTestUtil.h"
#include "core/records/LinkStatus.h"

#include <gtest/gtest.h>

#include <limits>

using records_test::Date;
using records_test::Days;

namespace {

CLink MakeLink(const OleDateTime& lastPayment, double periodDays, int32_t costMode = 0, int32_t cost = 0)
{
    CLink link;
    link.SetLastPaymentDate(lastPayment);
    link.SetPeriod(Days(periodDays));
    link.SetCostMode(costMode);
    if (costMode == 0)
        link.SetCostPerMonthValue(cost);
    else
        link.SetCostPerPeriodValue(cost);
    return link;
}

constexpr int32_t kMaxCost = std::numeric_limits<int32_t>::max();
constexpr int32_t kMinCost = std::numeric_limits<int32_t>::min();

} // namespace

TEST(LinkExpiry, PeriodBecomesWholeCalendarMonths)
{
    // To 28 February: one month, clamped to the shorter month.
    EXPECT_EQ(Date(2011, 2, 28), MakeLink(Date(2011, 1, 31), 28).GetExpiryDate());
    // To 1 March: the period reaches into the second month, and the 31st exists there.
    EXPECT_EQ(Date(2011, 3, 31), MakeLink(Date(2011, 1, 31), 29).GetExpiryDate());
    // To 10 March: the expiry keeps the day of month of the payment.
    EXPECT_EQ(Date(2011, 3, 15), MakeLink(Date(2011, 1, 15), 54).GetExpiryDate());
    // A period ending in the payment's own month gives no whole month.
    EXPECT_EQ(Date(2011, 1, 5), MakeLink(Date(2011, 1, 5), 10).GetExpiryDate());
}

TEST(LinkExpiry, RenewUsesTheRenewedDateAsNewBase)
{
    CLink link = MakeLink(Date(2011, 1, 31), 28);
    link.Renew();
    EXPECT_EQ(Date(2011, 2, 28), link.GetLastPaymentDate());
    link.Renew();
    EXPECT_EQ(Date(2011, 3, 28), link.GetLastPaymentDate());
    EXPECT_EQ(Days(28), link.GetPeriod());
}

TEST(LinkExpiry, ExpiredFromTheFirstMomentOfTheExpiryDate)
{
    const CLink link = MakeLink(Date(2011, 1, 15), 54); // expires 15 March 2011
    EXPECT_FALSE(link.IsExpired(Date(2011, 3, 14, 23, 59, 59)));
    EXPECT_TRUE(link.IsExpired(Date(2011, 3, 15, 0, 0, 1)));

    const CLink shortLink = MakeLink(Date(2011, 1, 5), 10);
    EXPECT_TRUE(shortLink.IsExpired(Date(2011, 1, 5, 0, 0, 1)));
}

TEST(LinkExpiry, ExpiringFromTheFirstMomentOfTheWarningPeriod)
{
    const CLink link = MakeLink(Date(2011, 1, 15), 54); // expires 15 March 2011
    EXPECT_FALSE(link.IsExpiring(7, Date(2011, 3, 7, 23, 59, 59)));
    EXPECT_TRUE(link.IsExpiring(7, Date(2011, 3, 8, 0, 0, 1)));
    EXPECT_TRUE(link.IsExpiring(7, Date(2011, 3, 14, 12)));
    EXPECT_FALSE(link.IsExpired(Date(2011, 3, 14, 12)));
    // An expired link is also expiring, whatever the warning period.
    EXPECT_TRUE(link.IsExpiring(0, Date(2012, 1, 1)));
}

TEST(LinkExpiry, DatesWithoutCalendarPartsNeverExpire)
{
    CLink link = MakeLink(Date(2011, 1, 15), 54);
    link.SetLastPaymentDate(OleDateTime::Invalid());
    EXPECT_FALSE(link.GetExpiryDate().IsValid());
    EXPECT_FALSE(link.IsExpired(Date(2020, 1, 1)));
    EXPECT_FALSE(link.IsExpiring(7, Date(2020, 1, 1)));
}

// A hundred years is the mark of a deal bought for good; a day less is an ordinary long deal.
TEST(LinkExpiry, PermanentDealsNeverExpire)
{
    CLink link = MakeLink(Date(2011, 1, 15), CLink::kPermanentDays - 1);
    EXPECT_FALSE(link.IsPermanent());
    EXPECT_TRUE(link.IsExpired(Date(2111, 1, 16)));
    link.MakePermanent();
    EXPECT_TRUE(link.IsPermanent());
    EXPECT_FALSE(link.IsExpired(Date(2200, 1, 1)));
    EXPECT_FALSE(link.IsExpiring(30, Date(2200, 1, 1)));
    link.Renew();
    EXPECT_EQ(Date(2011, 1, 15), link.GetLastPaymentDate());
}

// The other kind of price follows from the begun months: at least one however short the period,
// and never past the 32-bit range.
TEST(LinkPrices, OtherKindOfPriceFollowsFromBegunMonths)
{
    const struct
    {
        const char* what;
        OleDateTime paid;
        double days;
        int32_t mode; // 0: the price is per month, 1: for the whole period
        int32_t cost;
        int32_t derived; // per period in mode 0, per month in mode 1
    } cases[] = {
        {"1 January to 2 April: three whole months and one begun", Date(2011, 1, 1), 91, 1, 100, 25},
        {"ten days are one begun month", Date(2011, 1, 5), 10, 1, 100, 100},
        {"a monthly price times the begun months", Date(2011, 1, 1), 91, 0, 30, 120},
        {"no period counts the monthly price once", Date(2011, 1, 5), 0, 0, 30, 30},
        {"no period leaves the full price a month's", Date(2011, 1, 5), 0, 1, 100, 100},
        {"a century at the largest price saturates", Date(2011, 1, 1), 36500, 0, kMaxCost, kMaxCost},
        {"a century at the smallest price saturates", Date(2011, 1, 1), 36500, 0, kMinCost, kMinCost},
        {"one month back divides the smallest price by -1", Date(2011, 3, 15), -40, 1, kMinCost, kMaxCost},
        {"99 years 11 months: a product past 32 bits", Date(2011, 1, 15), 36490, 0, 2000000, kMaxCost},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CLink link = MakeLink(c.paid, c.days, c.mode, c.cost);
        EXPECT_EQ(c.mode == 1 ? link.GetCostPerMonth() : link.GetCostPerPeriod(), c.derived);
        EXPECT_EQ(c.mode == 1 ? link.GetCostPerPeriod() : link.GetCostPerMonth(), c.cost);
    }
    // From a hundred years on the deal is paid once: the figure entered, whichever it was, is the
    // full cost, and no monthly price is made up by spreading it over the century.
    for (const double days : {CLink::kPermanentDays, 2900000.0}) {
        for (const int32_t mode : {0, 1}) {
            const CLink forever = MakeLink(Date(2011, 1, 15), days, mode, 120000);
            EXPECT_EQ(120000, forever.GetCostPerPeriod()) << days << " days, mode " << mode;
            EXPECT_EQ(0, forever.GetCostPerMonth()) << days << " days, mode " << mode;
        }
    }
    // To 21 December 9950: tens of thousands of month steps.
    EXPECT_EQ(Date(9950, 12, 15), MakeLink(Date(2011, 1, 15), 2900000).GetExpiryDate());
}

TEST(LinkSetters, PeriodIsStoredAsWholeDays)
{
    CLink link;
    link.SetPeriod(Days(28.9999999)); // a day count taken from a date difference
    EXPECT_EQ(Days(29), link.GetPeriod());
    link.SetPeriod(Days(30.4));
    EXPECT_EQ(Days(30), link.GetPeriod());
    link.SetPeriod(Days(-1.9999999));
    EXPECT_EQ(Days(-2), link.GetPeriod());
    link.SetPeriod(OleDateTimeSpan(5.0, DateStatus::Invalid));
    EXPECT_FALSE(link.GetPeriod().IsValid());
}

TEST(LinkSetters, PaymentDatesLoseTheirTimeOfDay)
{
    CLink link;
    link.SetFirstPaymentDate(Date(2012, 3, 29, 13, 45, 10));
    EXPECT_EQ(Date(2012, 3, 29), link.GetFirstPaymentDate());
    link.SetLastPaymentDate(OleDateTime(-1.25));
    EXPECT_EQ(OleDateTime(-1.0), link.GetLastPaymentDate());
    link.SetLastPaymentDate(OleDateTime::Null());
    EXPECT_EQ(OleDateTime::Null(), link.GetLastPaymentDate());
    link.SetFirstPaymentDate(OleDateTime::FromRaw(1e12, 0));
    EXPECT_EQ(OleDateTime::FromRaw(1e12, 0), link.GetFirstPaymentDate());
}

TEST(LinkSetters, PageRankOutsideZeroToTenIsRefused)
{
    CLink link;
    link.SetCurrentPR(4);
    link.SetCurrentPR(-1);
    EXPECT_EQ(4, link.GetCurrentPR());
    link.SetCurrentPR(11);
    EXPECT_EQ(4, link.GetCurrentPR());
    link.SetCurrentPR(0);
    EXPECT_EQ(0, link.GetCurrentPR());

    link.SetStartingPR(10);
    link.SetStartingPR(kMinCost);
    EXPECT_EQ(10, link.GetStartingPR());
}

TEST(LinkStatusNames, OnlySingleKnownBitsHaveNames)
{
    EXPECT_EQ("Ok", GetStatusName(StatusOk));
    EXPECT_EQ("Not present", GetStatusName(StatusNotPresent));
    EXPECT_EQ("robots.txt", GetStatusName(StatusRobots));
    EXPECT_EQ("Can't open page", GetStatusName(StatusCantOpen));
    EXPECT_EQ("", GetStatusName(0));
    EXPECT_EQ("", GetStatusName(3));
    EXPECT_EQ("", GetStatusName(0x100));
    EXPECT_EQ("", GetStatusName(0x101));
}

TEST(LinkStatusNames, FilterFromName)
{
    EXPECT_EQ(1u, StatusFilterFromName("Ok"));
    EXPECT_EQ(1u, StatusFilterFromName("(All Ok)"));
    EXPECT_EQ(2u, StatusFilterFromName("(All Expiring)"));
    EXPECT_EQ(0x1FCu, StatusFilterFromName("(All Problematic)"));
    EXPECT_EQ(0x20u, StatusFilterFromName("nofollow"));
    EXPECT_EQ(0x80u, StatusFilterFromName("Can't open page"));
    EXPECT_EQ(0u, StatusFilterFromName("(All links)"));
    EXPECT_EQ(0u, StatusFilterFromName("ok")); // names are compared exactly
    EXPECT_EQ(0u, StatusFilterFromName("Something else"));
}
