#include "core/page/LinkCheck.h"
#include "core/fetch/CheckSettings.h"
#include "core/fetch/Url.h"
#include "core/platform/TextEncoding.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/records/OleDateTime.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

// Host and object compare without case and a bare host's slash counts for nothing; "www." only
// when asked; "/*" on either side is any object of that host and port; http and https are one
// service on default or equal ports.
TEST(UrlsMatch, HostObjectWildcardAndService)
{
    const struct
    {
        const char* a;
        const char* b;
        bool ignoreWww;
        bool verdict;
    } cases[] = {
        {"http://mysite.example/", "http://MYSITE.example", false, true},
        {"http://mysite.example/A/Page.html", "http://mysite.example/a/page.HTML", false, true},
        {"http://mysite.example/a", "http://mysite.example/b", false, false},
        {"http://mysite.example/", "http://other.example/", false, false},
        {"http://mysite.example/", "/", false, false},
        {"", "", false, false},
        {"http://www.mysite.example/", "http://mysite.example/", false, false},
        {"http://www.mysite.example/", "http://mysite.example/", true, true},
        {"http://WWW.mysite.example/", "http://www.MySite.example/", true, true},
        {"http://mysite.example/*", "http://mysite.example/deep/page?x=1", false, true},
        {"http://mysite.example/deep", "http://mysite.example/*", false, true},
        {"http://mysite.example/*", "http://other.example/deep", false, false},
        {"http://mysite.example/*", "http://mysite.example:81/deep", false, false},
        {"http://mysite.example/", "https://mysite.example/", false, true},
        {"https://mysite.example:443/", "http://mysite.example:80/", false, true},
        {"http://mysite.example:8080/", "https://mysite.example:8080/", false, true},
        {"http://mysite.example/", "https://mysite.example:8443/", false, false},
        {"http://mysite.example:8080/", "https://mysite.example/", false, false},
        {"http://mysite.example:8080/", "http://mysite.example/", false, false},
        {"ftp://mysite.example/", "http://mysite.example/", false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UrlsMatch(c.a, c.b, c.ignoreWww), c.verdict) << c.a << " / " << c.b << " / www " << c.ignoreWww;
}

struct HrefVerdict
{
    std::string_view href;
    bool verdict;
};

// Hrefs as browsers and crawlers read them, against the To Page "mysite.example/page".
TEST(UrlsMatch, HrefsReadAsBrowsersReadThem)
{
    using namespace std::string_view_literals;
    const std::string to = NormalizeUrl("mysite.example/page");
    const HrefVerdict cases[] = {
        // "\" ends the authority: the host is the one before it, whatever an "@" after it says.
        {"http://evil.example\\@mysite.example/page", false},
        {"http://evil.example\\\\@mysite.example/page", false},
        {"http://mysite.example\\page", true},
        {"http:\\\\mysite.example\\page", true},
        {"https:/\\mysite.example/page", true},
        // Blanks and C0 controls around it are trimmed, tabs and line feeds inside dropped.
        {" http://mysite.example/page ", true},
        {"\n\t\x01 http://mysite.example/page\x1F\r\n", true},
        {"\0http://mysite.example/page\0"sv, true},
        {"http://my\tsite.exam\nple/pa\r\nge", true},
        {"http://mysite.example/pa ge", false},
        // User name and password are not the host.
        {"http://user:pw@mysite.example/page", true},
        {"http://mysite.example@evil.example/page", false},
        {"http://mysite.example:80@evil.example/page", false},
        {"http://x@mysite.example@evil.example/page", false},
        {"http://evil.example@x@mysite.example/page", true},
        // Without a page there is no scheme to lend a protocol-relative href.
        {"//mysite.example/page", false},
        {"http:mysite.example/page", true},
        // The host in any spelling a browser reads as the same name.
        {"http://MYSITE.example/page", true},
        {"http://mysite%2Eexample/page", true},
        {"http://mysite.example:0080/page", true},
        {"http://mysite.example/x/../page", true},
        {"http://mysite.example/%2e/page", true},
        {"http://mysite.example./page", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UrlsMatch(to, std::string(c.href), false), c.verdict) << c.href;
}

// A To Page and a href name the same host whether written in Unicode or in punycode.
TEST(UrlsMatch, InternationalNamesInEitherForm)
{
    struct Pair
    {
        const char* toPage;
        const char* href;
        bool verdict;
    };
    const Pair cases[] = {
        {"пример.example", "http://xn--e1afmkfd.example/", true},
        {"xn--e1afmkfd.example", "http://пример.example/", true},
        {"ПРИМЕР.example/*", "https://xn--e1afmkfd.example/any/page", true},
        {"http://пример.example/", "http://%D0%BF%D1%80%D0%B8%D0%BC%D0%B5%D1%80.example/", true},
        {"пример.example", "http://пример。example/", true},
        {"bücher.example", "http://BÜCHER.example/", true},
        {"faß.example", "http://xn--fa-hia.example/", true},
        // Non-transitional, as browsers read it: "ß" is not "ss".
        {"faß.example", "http://fass.example/", false},
        {"пример.example", "http://xn--e1afmkfd.other/", false},
        {"пример.example", "http://xn--zz.example/", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UrlsMatch(NormalizeUrl(c.toPage), c.href, false), c.verdict) << c.toPage << " / " << c.href;
}

// Hrefs as browsers and crawlers read them (true: internal).
TEST(InternalLink, HrefsReadAsBrowsersReadThem)
{
    const char* const page = "http://partner.example/links.html";
    const struct
    {
        const char* page;
        std::string_view href;
        bool internal;
    } cases[] = {
        // Relative hrefs, the page's host in any case and port, and its www. twin are internal.
        {page, "/about", true},
        {page, "#top", true},
        {page, "page2.html", true},
        {page, "?p=2", true},
        {page, "https://PARTNER.example:8443/x", true},
        {page, "http://www.partner.example/", true},
        {"http://www.partner.example/", "http://partner.example/", true},
        {page, "http://sub.partner.example/", false},
        {page, "http://other.example/", false},
        // Without a page address only the obviously local hrefs are internal.
        {"", "page2.html", false},
        {"", "/x", true},
        // A protocol-relative href names a host, in the page's scheme.
        {page, "//other.example/", false},
        {page, "\\\\other.example/", false},
        {page, "///other.example", false},
        {page, "//partner.example/x", true},
        {page, "//www.partner.example/x", true},
        // Trimmed first.
        {page, " http://other.example/ ", false},
        {page, "\thttp://other.example/\n", false},
        {page, " /about", true},
        {page, " #top", true},
        {page, " page2.html ", true},
        // "\" ends the authority.
        {page, "http://partner.example\\@other.example/", true},
        {page, "http://other.example\\@partner.example/", false},
        {page, "http://partner.example@other.example/", false},
        // "http:" with fewer than two slashes on an http page is a path of the page's site.
        {page, "http:other.example", true},
        {page, "https:other.example", false},
        // Script pseudo-addresses name no site.
        {page, "javascript:go('http://other.example/')", true},
        // International names in either form.
        {"http://пример.example/", "http://xn--e1afmkfd.example/x", true},
        {"http://xn--e1afmkfd.example/", "//ПРИМЕР.example/x", true},
        {"https://пример.example/", "//xn--e1afmkfd.other/x", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsInternalLink(c.page, std::string(c.href)), c.internal) << c.href << " on " << c.page;
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

// The first rule that applies: not found, then nofollow, then the wrong text; only the right text
// takes its status from the dates.
TEST_F(DecideStatusTest, FirstRuleThatApplies)
{
    const struct
    {
        bool found, nofollow, textOk;
        double daysBeforeExpiry;
        uint32_t status;
    } cases[] = {
        {false, true, true, 30, StatusNotPresent},    {true, true, true, 30, StatusNofollow},
        {true, true, false, -30, StatusNofollow},     {true, false, false, 30, StatusInvalidText},
        {true, false, false, -30, StatusInvalidText}, {true, false, true, 30, StatusOk},
        {true, false, true, 3, StatusExpiring},       {true, false, true, -1, StatusExpired},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Decide(c.found, c.nofollow, c.textOk, c.daysBeforeExpiry), c.status)
            << c.found << c.nofollow << c.textOk << " " << c.daysBeforeExpiry << " days before expiry";
}

TEST(CheckLinkDates, MovesOnlyAmongTheDateStates)
{
    CLink link;
    link.SetLastPaymentDate(OleDateTime::Today() - OleDateTimeSpan(400));
    link.SetPeriod(OleDateTimeSpan(30));
    bool changed = true;
    // Never checked: the dates alone say nothing of the page, so the link keeps "no status".
    ASSERT_TRUE(CheckLinkDates(&link, changed));
    EXPECT_EQ(link.GetStatus(), StatusNone);
    EXPECT_FALSE(changed);

    link.SetStatus(StatusOk);
    ASSERT_TRUE(CheckLink(&link, changed, true));
    EXPECT_EQ(link.GetStatus(), StatusExpired);
    EXPECT_TRUE(changed);
    ASSERT_TRUE(CheckLinkDates(&link, changed));
    EXPECT_FALSE(changed);

    for (uint32_t problem : {StatusNotPresent, StatusInvalidText, StatusNofollow, StatusRobots, StatusCantOpen}) {
        link.SetStatus(problem);
        ASSERT_TRUE(CheckLinkDates(&link, changed));
        EXPECT_EQ(link.GetStatus(), problem);
        EXPECT_FALSE(changed);
    }

    CLink fresh;
    fresh.SetStatus(StatusExpired);
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
    CheckEvidence evidence;
    EXPECT_FALSE(CheckLink(&link, changed, false, &evidence));
    EXPECT_EQ(link.GetStatus(), StatusCantOpen);
    EXPECT_EQ(link.GetExternalLinks(), 12);
    EXPECT_TRUE(changed);
    // The failure is the evidence, whatever curl calls it.
    const std::vector<std::string> lines = evidence.Lines(StatusCantOpen);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("fetch: ") && lines[0].size() > 7) << lines[0];
    EXPECT_FALSE(CheckLink(&link, changed));
    EXPECT_FALSE(changed);
}

} // namespace
