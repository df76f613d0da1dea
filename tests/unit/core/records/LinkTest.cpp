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

TEST(LinkPrices, FullCostModeSplitsOverBegunMonths)
{
    // 1 January to 2 April: three whole months and one begun.
    const CLink link = MakeLink(Date(2011, 1, 1), 91, 1, 100);
    EXPECT_EQ(25, link.GetCostPerMonth());
    EXPECT_EQ(100, link.GetCostPerPeriod());
    EXPECT_EQ(100, MakeLink(Date(2011, 1, 5), 10, 1, 100).GetCostPerMonth());
}

TEST(LinkPrices, MonthlyModeMultipliesByBegunMonths)
{
    const CLink link = MakeLink(Date(2011, 1, 1), 91, 0, 30);
    EXPECT_EQ(120, link.GetCostPerPeriod());
    EXPECT_EQ(30, link.GetCostPerMonth());
}

TEST(LinkPrices, PeriodShorterThanAMonthCountsThePriceOnce)
{
    EXPECT_EQ(30, MakeLink(Date(2011, 1, 5), 0, 0, 30).GetCostPerPeriod());
    EXPECT_EQ(100, MakeLink(Date(2011, 1, 5), 0, 1, 100).GetCostPerMonth());
}

TEST(LinkPrices, ExtremeValuesNeitherOverflowNorTrap)
{
    // A century at the largest monthly price saturates rather than wrapping negative.
    EXPECT_EQ(kMaxCost, MakeLink(Date(2011, 1, 1), 36500, 0, kMaxCost).GetCostPerPeriod());
    EXPECT_EQ(kMinCost, MakeLink(Date(2011, 1, 1), 36500, 0, kMinCost).GetCostPerPeriod());
    // One month back in time divides the smallest price by -1.
    EXPECT_EQ(kMaxCost, MakeLink(Date(2011, 3, 15), -40, 1, kMinCost).GetCostPerMonth());
    // Almost eight thousand years: tens of thousands of month steps, then a product past 32 bits.
    const CLink endless = MakeLink(Date(2011, 1, 15), 2900000, 0, 100000); // to 21 December 9950
    EXPECT_EQ(Date(9950, 12, 15), endless.GetExpiryDate());
    EXPECT_EQ(kMaxCost, endless.GetCostPerPeriod());
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

TEST(LinkCopy, CopiesEveryField)
{
    CLink link = MakeLink(Date(2011, 1, 31), 28, 1, 77);
    link.SetPartnerId(12);
    link.SetProject("proj");
    link.SetFirstPaymentDate(Date(2010, 5, 6));
    link.SetCostPerMonthValue(33);
    link.SetFromPage("http://partner.example/page");
    link.SetToPage("http://mine.example/");
    link.SetAnchor("cheap widgets");
    link.SetStartingPR(5);
    link.SetCurrentPR(6);
    link.SetStatus(StatusNofollow);
    link.SetPreviousPR(3);
    link.SetReserved(99);
    link.SetComment("note");
    link.SetExternalLinks(41);

    const CLink copy(link);
    EXPECT_EQ(12, copy.GetPartnerId());
    EXPECT_EQ("proj", copy.GetProject());
    EXPECT_EQ(Date(2010, 5, 6), copy.GetFirstPaymentDate());
    EXPECT_EQ(Date(2011, 1, 31), copy.GetLastPaymentDate());
    EXPECT_EQ(Days(28), copy.GetPeriod());
    EXPECT_EQ(1, copy.GetCostMode());
    EXPECT_EQ(33, copy.GetCostPerMonthValue());
    EXPECT_EQ(77, copy.GetCostPerPeriodValue());
    EXPECT_EQ("http://partner.example/page", copy.GetFromPage());
    EXPECT_EQ("http://mine.example/", copy.GetToPage());
    EXPECT_EQ("cheap widgets", copy.GetAnchor());
    EXPECT_EQ(5, copy.GetStartingPR());
    EXPECT_EQ(6, copy.GetCurrentPR());
    EXPECT_EQ(uint32_t{StatusNofollow}, copy.GetStatus());
    EXPECT_EQ(3, copy.GetPreviousPR());
    EXPECT_EQ(99, copy.GetReserved());
    EXPECT_EQ("note", copy.GetComment());
    EXPECT_EQ(41, copy.GetExternalLinks());
    EXPECT_TRUE(copy.HasPRChanged());
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
