#include "checking/LinkCheck.h"
#include "checking/CheckSettings.h"
#include "platform/TextEncoding.h"
#include "records/Link.h"
#include "records/LinkStatus.h"
#include "records/OleDateTime.h"

#include <gtest/gtest.h>

namespace {

TEST(UrlsMatch, HostAndObjectWithoutCaseTrailingSlashOfBareHost)
{
    EXPECT_TRUE(UrlsMatch("http://mysite.example/", "http://MYSITE.example", false));
    EXPECT_TRUE(UrlsMatch("http://mysite.example/A/Page.html", "http://mysite.example/a/page.HTML", false));
    EXPECT_FALSE(UrlsMatch("http://mysite.example/a", "http://mysite.example/b", false));
    EXPECT_FALSE(UrlsMatch("http://mysite.example/", "http://other.example/", false));
    EXPECT_FALSE(UrlsMatch("http://mysite.example/", "/", false));
    EXPECT_FALSE(UrlsMatch("", "", false));
}

TEST(UrlsMatch, WwwCountsOnlyWhenAsked)
{
    EXPECT_FALSE(UrlsMatch("http://www.mysite.example/", "http://mysite.example/", false));
    EXPECT_TRUE(UrlsMatch("http://www.mysite.example/", "http://mysite.example/", true));
    EXPECT_TRUE(UrlsMatch("http://WWW.mysite.example/", "http://www.MySite.example/", true));
}

TEST(UrlsMatch, ObjectWildcardOnEitherSide)
{
    EXPECT_TRUE(UrlsMatch("http://mysite.example/*", "http://mysite.example/deep/page?x=1", false));
    EXPECT_TRUE(UrlsMatch("http://mysite.example/deep", "http://mysite.example/*", false));
    EXPECT_FALSE(UrlsMatch("http://mysite.example/*", "http://other.example/deep", false));
    EXPECT_FALSE(UrlsMatch("http://mysite.example/*", "http://mysite.example:81/deep", false));
}

TEST(UrlsMatch, HttpAndHttpsAreOneServiceOnDefaultOrEqualPorts)
{
    EXPECT_TRUE(UrlsMatch("http://mysite.example/", "https://mysite.example/", false));
    EXPECT_TRUE(UrlsMatch("https://mysite.example:443/", "http://mysite.example:80/", false));
    EXPECT_TRUE(UrlsMatch("http://mysite.example:8080/", "https://mysite.example:8080/", false));
    EXPECT_FALSE(UrlsMatch("http://mysite.example/", "https://mysite.example:8443/", false));
    EXPECT_FALSE(UrlsMatch("http://mysite.example:8080/", "https://mysite.example/", false));
    EXPECT_FALSE(UrlsMatch("http://mysite.example:8080/", "http://mysite.example/", false));
    EXPECT_FALSE(UrlsMatch("ftp://mysite.example/", "http://mysite.example/", false));
}

TEST(InternalLink, RelativeSameHostAndWww)
{
    const std::string page = "http://partner.example/links.html";
    EXPECT_TRUE(IsInternalLink(page, "/about"));
    EXPECT_TRUE(IsInternalLink(page, "#top"));
    EXPECT_TRUE(IsInternalLink(page, "page2.html"));
    EXPECT_TRUE(IsInternalLink(page, "?p=2"));
    EXPECT_TRUE(IsInternalLink(page, "https://PARTNER.example:8443/x"));
    EXPECT_TRUE(IsInternalLink(page, "http://www.partner.example/"));
    EXPECT_TRUE(IsInternalLink("http://www.partner.example/", "http://partner.example/"));
    EXPECT_FALSE(IsInternalLink(page, "http://sub.partner.example/"));
    EXPECT_FALSE(IsInternalLink(page, "http://other.example/"));
    // Without a page address only the obviously local hrefs are internal.
    EXPECT_FALSE(IsInternalLink("", "page2.html"));
    EXPECT_TRUE(IsInternalLink("", "/x"));
}

TEST(FoldCase, ScriptsAnchorsAreWrittenIn)
{
    using TextEncoding::FoldCase;
    EXPECT_EQ(FoldCase("Hello WORLD 123"), "hello world 123");
    EXPECT_EQ(FoldCase("ÀÉÎÕÜÝÞ ×"), "àéîõüýþ ×");
    EXPECT_EQ(FoldCase("ĀĆĹŁŃŐŠŸŹŽ"), "āćĺłńőšÿźž");
    EXPECT_EQ(FoldCase("ΑΒΓΣΩ ΆΈΊΌΎΏ ς"), "αβγσω άέίόύώ σ");
    EXPECT_EQ(FoldCase("ЁЖЩЯ ЂЋЏ ѢҐӁӐ"), "ёжщя ђћџ ѣґӂӑ");
    EXPECT_EQ(FoldCase("日本 \xff\xc3"), "日本 \xff\xc3");
    EXPECT_EQ(FoldCase("ßøı"), "ßøı");
}

class DecideStatusTest : public ::testing::Test
{
protected:
    DecideStatusTest()
    {
        m_link.SetLastPaymentDate(OleDateTime::FromParts(2024, 1, 10));
        m_link.SetPeriod(OleDateTimeSpan(90));
        m_expiry = m_link.GetExpiryDate();
    }
    uint32_t Decide(bool found, bool nofollow, bool textOk, double daysBeforeExpiry)
    {
        PageFindings findings;
        findings.found = found;
        findings.nofollowSeen = nofollow;
        findings.textOk = textOk;
        return DecideStatus(findings, m_link, m_expiry - OleDateTimeSpan(daysBeforeExpiry), 7);
    }

    CLink m_link;
    OleDateTime m_expiry;
};

TEST_F(DecideStatusTest, FirstRuleThatApplies)
{
    EXPECT_EQ(Decide(false, true, true, 30), StatusNotPresent);
    EXPECT_EQ(Decide(true, true, true, 30), StatusNofollow);
    EXPECT_EQ(Decide(true, true, false, -30), StatusNofollow);
    EXPECT_EQ(Decide(true, false, false, 30), StatusInvalidText);
    EXPECT_EQ(Decide(true, false, false, -30), StatusInvalidText);
}

TEST_F(DecideStatusTest, RightTextTakesItsStatusFromTheDates)
{
    EXPECT_EQ(Decide(true, false, true, 30), StatusOk);
    EXPECT_EQ(Decide(true, false, true, 3), StatusExpiring);
    EXPECT_EQ(Decide(true, false, true, -1), StatusExpired);
}

TEST(CheckLinkDates, MovesOnlyAmongTheDateStates)
{
    CLink link;
    link.SetLastPaymentDate(OleDateTime::Today() - OleDateTimeSpan(400));
    link.SetPeriod(OleDateTimeSpan(30));
    bool changed = true;
    ASSERT_TRUE(CheckLinkDates(&link, changed));
    EXPECT_EQ(link.GetStatus(), StatusExpired);
    EXPECT_TRUE(changed);
    ASSERT_TRUE(CheckLinkDates(&link, changed));
    EXPECT_FALSE(changed);

    link.SetStatus(StatusOk);
    ASSERT_TRUE(CheckLink(&link, changed, true));
    EXPECT_EQ(link.GetStatus(), StatusExpired);
    EXPECT_TRUE(changed);

    for (uint32_t problem : {StatusNotPresent, StatusInvalidText, StatusNofollow, StatusRobots, StatusCantOpen}) {
        link.SetStatus(problem);
        ASSERT_TRUE(CheckLinkDates(&link, changed));
        EXPECT_EQ(link.GetStatus(), problem);
        EXPECT_FALSE(changed);
    }

    CLink fresh;
    fresh.SetLastPaymentDate(OleDateTime::Today());
    fresh.SetPeriod(OleDateTimeSpan(365));
    ASSERT_TRUE(CheckLinkDates(&fresh, changed));
    EXPECT_EQ(fresh.GetStatus(), StatusOk);
    EXPECT_TRUE(changed);
}

TEST(CheckLink, NoLinkAndAnUnfetchablePage)
{
    bool changed = true;
    EXPECT_FALSE(CheckLink(nullptr, changed));
    EXPECT_FALSE(changed);
    EXPECT_FALSE(CheckLinkDates(nullptr, changed));

    // An empty From page normalises to an address without a host: no request goes out.
    CLink link;
    link.SetStatus(StatusOk);
    link.SetExternalLinks(12);
    PageFindings report;
    report.found = true;
    EXPECT_FALSE(CheckLink(&link, changed, false, &report));
    EXPECT_EQ(link.GetStatus(), StatusCantOpen);
    EXPECT_EQ(link.GetExternalLinks(), 12);
    EXPECT_TRUE(changed);
    EXPECT_FALSE(CheckLink(&link, changed));
    EXPECT_FALSE(changed);
}

} // namespace
