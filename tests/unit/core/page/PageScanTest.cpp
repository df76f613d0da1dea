#include "core/page/PageScan.h"
#include "core/fetch/Url.h"
#include "core/page/LinkCheck.h"

#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const std::string kPage = "http://partner.example/links.html";
const std::string kTo = "mysite.example";

PageFindings Scan(const std::string& html, const std::string& toPage = kTo, const std::string& anchor = "my site",
                  const std::string& headers = {})
{
    PageFindings findings;
    EXPECT_TRUE(ScanPage(kPage, html, headers, toPage, anchor, findings));
    return findings;
}

const std::string kLink = R"(<a href="http://mysite.example/">MY SITE</a>)";

TEST(PageScan, MatchesNormalisedTargetAndTrimmedTextWithoutCase)
{
    const PageFindings f = Scan("<p>Friends: " + kLink + "</p>", kTo, " my site ");
    EXPECT_TRUE(f.found);
    EXPECT_TRUE(f.textOk);
    EXPECT_FALSE(f.nofollowSeen);
    ASSERT_EQ(f.matches.size(), 1u);
    EXPECT_EQ(f.matches[0].href, "http://mysite.example/");
    EXPECT_EQ(f.matches[0].text, "MY SITE");
}

TEST(PageScan, InnerTextCollapsesWhiteSpaceAcrossDescendants)
{
    const PageFindings f =
        Scan("<a href='http://mysite.example/'>\n  <b>My</b>\t\n  <i>site</i><script>x()</script> </a>");
    ASSERT_EQ(f.matches.size(), 1u);
    EXPECT_EQ(f.matches[0].text, "My site");
    EXPECT_TRUE(f.textOk);
}

// What a visitor reads: every run of white space, no-break and other Unicode spaces included, is
// one blank, on the page and in the text the user typed; letters of any script compare without
// case; an image's alt text is no anchor text, so only "*" accepts an image link.
TEST(PageScan, AnchorTextComparesAsShownWithWhiteSpaceCollapsed)
{
    struct Row
    {
        const char* page;
        const char* wanted;
        bool ok;
    };
    const Row rows[] = {
        {"my&nbsp;site", "my site", true},
        {"my\n   site", "my site", true},
        {"my&nbsp;&nbsp; \t&nbsp;site", "my site", true},
        {"&nbsp;my site&nbsp;", "my site", true},
        {"my&#x202F;site", "my site", true}, // narrow no-break space
        {"my&#x2003;site", "my site", true}, // em space
        {"my&#x3000;site", "my site", true}, // ideographic space
        {"my site", "my   site", true},      // as typed in the dialog
        {"my site", "\tmy site\n", true},
        {"mysite", "my site", false},
        {"my&shy;site", "my site", false},    // a soft hyphen is no blank
        {"my&#x200B;site", "my site", false}, // nor a zero-width space
        {"ПРИВЕТ МИР", "привет мир", true},
        {"ΚΑΛΗΜΈΡΑ", "καλημέρα", true},
        {"ÉCOLE ŁÓDŹ", "école łódź", true},
        {"привет", "пока", false},
        {"other words", "my site", false},
        {"<img src='b.png' alt='My site'>", "*", true},
        {"<img src='b.png' alt='My site'>", "My site", false},
    };
    for (const Row& row : rows) {
        const PageFindings f =
            Scan(std::string("<a href='http://mysite.example/'>") + row.page + "</a>", kTo, row.wanted);
        EXPECT_TRUE(f.found);
        EXPECT_EQ(f.textOk, row.ok) << row.page << " against \"" << row.wanted << "\"";
    }
}

// Template contents are never rendered nor crawled: a link there is no link.
TEST(PageScan, LinksInsideTemplatesDoNotCount)
{
    const PageFindings hidden = Scan("<template>" + kLink + "<a href='http://other.example/'>x</a></template>");
    EXPECT_FALSE(hidden.found);
    EXPECT_EQ(hidden.externalLinks, 0);
    const PageFindings nested = Scan("<div><template><div><template>" + kLink + "</template></div></template></div>");
    EXPECT_FALSE(nested.found);
    const PageFindings after = Scan("<template><p>x</p></template>" + kLink);
    EXPECT_TRUE(after.found);
    EXPECT_TRUE(after.textOk);
    const PageFindings inAnchor = Scan("<a href='http://mysite.example/'>my <template>hidden</template>site</a>");
    ASSERT_EQ(inAnchor.matches.size(), 1u);
    EXPECT_EQ(inAnchor.matches[0].text, "my site");
}

TEST(PageScan, FlagsAreStickyOverThePage)
{
    const PageFindings f = Scan("<a href='http://mysite.example/'>wrong</a>"
                                "<a href='http://mysite.example/' rel='NoFollow'>my site</a>"
                                "<a href='http://mysite.example/'>also wrong</a>");
    EXPECT_TRUE(f.found);
    EXPECT_TRUE(f.textOk);
    EXPECT_TRUE(f.nofollowSeen);
    EXPECT_EQ(f.matches.size(), 3u);
}

TEST(PageScan, RelValuesThatWithholdTheLink)
{
    for (const char* rel : {"nofollow", "NOFOLLOW noopener", "sponsored", "noopener UGC"}) {
        SCOPED_TRACE(rel);
        const PageFindings f = Scan(std::string("<a rel='") + rel + "' href='http://mysite.example/'>my site</a>" +
                                    "<a rel='" + rel + "' href='http://other.example/'>x</a>");
        EXPECT_TRUE(f.nofollowSeen);
        EXPECT_EQ(f.externalLinks, 0);
    }
    for (const char* rel : {"noopener", "sponsoredby", "external"}) {
        SCOPED_TRACE(rel);
        const PageFindings f = Scan(std::string("<a rel='") + rel + "' href='http://mysite.example/'>my site</a>");
        EXPECT_FALSE(f.nofollowSeen);
        EXPECT_EQ(f.externalLinks, 1);
    }
}

TEST(PageScan, NoindexSectionEndsAtItsEndTagOrWhereTheParserClosesIt)
{
    EXPECT_TRUE(Scan("<noindex>" + kLink + "</noindex>").nofollowSeen);
    EXPECT_TRUE(Scan("<NoIndex><div><p>" + kLink + "</p></div></NoIndex>").nofollowSeen);
    EXPECT_FALSE(Scan("<noindex>hidden</noindex>" + kLink).nofollowSeen);
    // Sections do not nest: the first end tag ends the section.
    EXPECT_FALSE(Scan("<noindex>a<noindex>b</noindex>" + kLink + "</noindex>").nofollowSeen);
    // The cell closes the unclosed noindex element, and the section with it.
    EXPECT_FALSE(Scan("<table><tr><td><noindex>x</td><td>" + kLink + "</td></tr></table>").nofollowSeen);
    EXPECT_FALSE(Scan("<!-- <noindex> -->" + kLink).nofollowSeen);
}

TEST(PageScan, RobotsMetaAnywhereOnThePage)
{
    const std::string meta = "<meta name='ROBOTS' content='INDEX, NOFOLLOW'>";
    EXPECT_TRUE(Scan("<head>" + meta + "</head><body>" + kLink).nofollowSeen);
    EXPECT_TRUE(Scan("<body>" + kLink + meta + "</body>").nofollowSeen);
    EXPECT_TRUE(Scan(kLink + "<meta name='googlebot' content='none'>").nofollowSeen);
    EXPECT_FALSE(Scan(kLink + "<meta name='robots' content='noindex'>").nofollowSeen);
    EXPECT_FALSE(Scan(kLink + "<meta name='bingbot' content='nofollow'>").nofollowSeen);
    EXPECT_FALSE(Scan(kLink + "<meta name='description' content='nofollow'>").nofollowSeen);
    EXPECT_FALSE(Scan(meta).found);
}

TEST(PageScan, RobotsResponseHeader)
{
    auto nofollow = [](const std::string& headers) { return Scan(kLink, kTo, "my site", headers).nofollowSeen; };
    EXPECT_TRUE(nofollow("HTTP/1.1 200 OK\r\nX-Robots-Tag: noindex, nofollow\r\n\r\n"));
    EXPECT_TRUE(nofollow("HTTP/1.1 200 OK\r\nx-robots-tag: NONE\r\n\r\n"));
    EXPECT_TRUE(nofollow("HTTP/1.1 200 OK\r\nX-Robots-Tag: googlebot: nofollow\r\n"));
    EXPECT_TRUE(nofollow("HTTP/1.1 200 OK\r\nX-Robots-Tag: unavailable_after: 2020-01-01, nofollow\r\n"));
    EXPECT_FALSE(nofollow("HTTP/1.1 200 OK\r\nX-Robots-Tag: otherbot: nofollow\r\n"));
    EXPECT_FALSE(nofollow("HTTP/1.1 200 OK\r\nX-Robots-Tag: otherbot: noindex, nofollow\r\n"));
    EXPECT_FALSE(nofollow("HTTP/1.1 200 OK\r\nX-Robots-Tag: noindex\r\nX-Note: nofollow\r\n"));
}

TEST(PageScan, CountsDistinctExternalFollowedLinks)
{
    const PageFindings f = Scan("<a href='http://other.example/page'>1</a>"
                                "<a href='http://other.example/page'>2</a>"
                                "<a href='http://OTHER.example/page'>3</a>"
                                "<a href='http://fourth.example/' rel='nofollow'>4</a>"
                                "<a href='MAILTO:someone@else.example'>5</a>"
                                "<a href='http://www.partner.example/about'>6</a>"
                                "<a href='http://PARTNER.example:8080/x'>7</a>"
                                "<a href='/local'>8</a><a href='#top'>9</a><a href='page2.html'>10</a>");
    EXPECT_EQ(f.externalLinks, 1);
    EXPECT_FALSE(f.found);
}

TEST(PageScan, ExternalCountWhenThePageAddressCannotBeSplit)
{
    PageFindings f;
    ASSERT_TRUE(
        ScanPage("", "<a href='page2.html'>a</a><a href='/x'>b</a><a href='http://a.example/'>c</a>", "", kTo, "*", f));
    EXPECT_EQ(f.externalLinks, 2);
}

struct HrefRow
{
    const char* href; // as written in the page's attribute
    const char* toPage;
    bool found;
    int externalLinks;
};

// Hrefs on "http://partner.example/links.html", read as browsers and crawlers read them.
TEST(PageScan, HrefsReadAsBrowsersReadThem)
{
    const HrefRow rows[] = {
        // "\" ends the authority in http(s): the link goes to the host before it.
        {R"(http://evil.example\@mysite.example/)", "mysite.example", false, 1},
        {R"(http://partner.example\@mysite.example/)", "mysite.example", false, 0},
        {R"(http:\\mysite.example\)", "mysite.example", true, 1},
        // User name and password are not the host.
        {"http://mysite.example@evil.example/", "mysite.example", false, 1},
        {"http://user:pw@mysite.example/", "mysite.example", true, 1},
        // Surrounding blanks and controls trimmed, tabs and line feeds inside dropped.
        {" http://mysite.example/ ", "mysite.example", true, 1},
        {"&#9;http://my&#10;site.exam&#13;ple/&#12;", "mysite.example", true, 1},
        {"  ", "mysite.example", false, 0},
        {" /mysite.example/", "mysite.example", false, 0},
        // Protocol-relative hrefs take the page's scheme and name a host.
        {"//mysite.example/", "mysite.example", true, 1},
        {" //mysite.example/ ", "mysite.example", true, 1},
        {R"(\\mysite.example\)", "mysite.example", true, 1},
        {"//mysite.example/", "https://mysite.example/", true, 1},
        {"//mysite.example:8080/", "mysite.example", false, 1},
        {"//partner.example/x", "partner.example/x", true, 0},
        {"//www.partner.example/x", "mysite.example", false, 0},
        // Other relative hrefs keep their rules: never a match, always internal.
        {"http:mysite.example", "mysite.example", false, 0},
        {"/links.html", "partner.example/links.html", false, 0},
        {"links.html", "partner.example/links.html", false, 0},
        // A relative href is not resolved against the page; an address without parts matches nothing.
        {"/", "partner.example", false, 0},
        {"", "mysite.example", false, 0},
        {"http://mysite.example/", "", false, 1},
        {"mailto:me@mysite.example", "mailto:me@mysite.example", false, 0},
        // The To Page's host and object compare without case, "/*" takes any object, http and https
        // are one service on default ports, and the fragment is no part of the object.
        {"http://www.mysite.example/", "mysite.example", false, 1},
        {"HTTP://MySite.Example/Deep/Page.html", "mysite.example/deep/page.html", true, 1},
        {"https://mysite.example/any/page?x=1", "mysite.example/*", true, 1},
        {"https://mysite.example/", "mysite.example", true, 1},
        {"https://mysite.example:8443/", "mysite.example", false, 1},
        {"http://mysite.example/page#top", "mysite.example/page", true, 1},
        // International names in either form.
        {"http://xn--e1afmkfd.example/", "пример.example", true, 1},
        {"http://ПРИМЕР.example/", "xn--e1afmkfd.example", true, 1},
        {"//пример.example/", "http://xn--e1afmkfd.example/", true, 1},
        {"http://xn--e1afmkfd.example/", "пример.other", false, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.href) + " for " + row.toPage);
        const PageFindings f = Scan(std::string("<a href=\"") + row.href + "\">my site</a>", row.toPage);
        EXPECT_EQ(f.found, row.found);
        EXPECT_EQ(f.textOk, row.found);
        EXPECT_EQ(f.externalLinks, row.externalLinks);
    }
    EXPECT_FALSE(Scan("<a>my site</a>").found); // no href at all
}

TEST(PageScan, ExternalLinksCountOncePerAddressHoweverSpelled)
{
    const PageFindings f = Scan("<a href='HTTP://Other.Example/a'>1</a>"
                                "<a href='http://other.example/a'>2</a>"
                                "<a href='http://other.example:80/a'>3</a>"
                                "<a href='//other.example/a'>4</a>"
                                "<a href=' http://other.example/a#x'>5</a>"
                                "<a href='http://other.example/./a'>6</a>"
                                "<a href='http:\\\\other.example\\a'>7</a>"
                                "<a href='http://%6Fther.example/a'>8</a>"
                                "<a href='https://other.example/a'>9</a>"
                                "<a href='http://other.example/b'>10</a>");
    EXPECT_EQ(f.externalLinks, 3);
}

TEST(PageScan, InternationalPageAddressKeepsItsOwnLinksInternal)
{
    PageFindings f;
    ASSERT_TRUE(ScanPage(NormalizeUrl("http://пример.example/links.html"),
                         "<a href='http://ПРИМЕР.example/x'>a</a><a href='//xn--e1afmkfd.example/y'>b</a>"
                         "<a href='http://www.пример.example/z'>c</a><a href='http://пример.other/'>d</a>",
                         "", kTo, "*", f));
    EXPECT_EQ(f.externalLinks, 1);
}

// ---- Hostile pages ---------------------------------------------------------------------------

using testsupport::Repeat;

TEST(PageScanHostile, DeepNestingKeepsTheLinkAfterIt)
{
    for (const char* open : {"<div>", "<span>", "<b>", "<i><b>", "<table>", "<x>", "<noindex>", "<ul><li>", "<div/>",
                             "<span><div></span>", "<svg><g>"}) {
        SCOPED_TRACE(open);
        const std::string page = Repeat(open, 100000) + kLink;
        const PageFindings f = Scan(page);
        EXPECT_TRUE(f.found);
    }
}

TEST(PageScanHostile, NestingLimitLeavesOrdinaryPagesAlone)
{
    std::string out;
    EXPECT_FALSE(pagescan::LimitNesting(Repeat("<div><p>a<p>b<li>c<b>d</div>", 20000), out));
    EXPECT_FALSE(pagescan::LimitNesting(Repeat("<table><tr><td><font>x</td><td>y</table>", 20000), out));
    EXPECT_FALSE(pagescan::LimitNesting(Repeat("<script>'<div><div><div>'</script><!-- <div> -->", 20000), out));
    EXPECT_FALSE(pagescan::LimitNesting(Repeat("<a href=x><span>", 20000), out));
    EXPECT_TRUE(pagescan::LimitNesting(Repeat("<div>", pagescan::kMaxNesting + 1), out));
    EXPECT_EQ(out, Repeat("<div>", pagescan::kMaxNesting));
}

TEST(PageScanHostile, HugeAttributeBinaryAndManyAnchors)
{
    const std::string big(1 << 20, 'x');
    PageFindings f = Scan("<a title='" + big + "' href='http://mysite.example/'>my site</a><a href='http://" + big +
                          ".example/'>x</a>");
    EXPECT_TRUE(f.found);
    EXPECT_EQ(f.externalLinks, 2); // the To Page is an external followed link as well

    std::string binary;
    for (int i = 0; i < 300000; ++i)
        binary.push_back(static_cast<char>((i * 7919) ^ (i >> 3)));
    PageFindings g;
    EXPECT_TRUE(ScanPage(kPage, binary + kLink, "", kTo, "*", g));

    std::string many;
    for (int i = 0; i < 100000; ++i)
        many += "<a href='http://site" + std::to_string(i % 5000) + ".example/'>" + std::to_string(i) + "</a>";
    many += kLink;
    f = Scan(many);
    EXPECT_EQ(f.externalLinks, 5001);
    EXPECT_TRUE(f.found);
}

TEST(PageScanHostile, UnterminatedConstructs)
{
    for (const char* page : {"<a href='http://mysite.example/", "<!-- never closed <a href=x>", "<a", "<", "</",
                             "<script>", "<noindex", "<a href=\"http://mysite.example/\">my site"}) {
        SCOPED_TRACE(page);
        PageFindings f;
        EXPECT_TRUE(ScanPage(kPage, page, "", kTo, "my site", f));
    }
    EXPECT_TRUE(Scan("<a href=\"http://mysite.example/\">my site").textOk);
}

// Every HTML file the machine's documentation carries: real-world markup of all ages.
TEST(PageScanRealWorld, DocumentationPagesParse)
{
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(
             "/usr/share/doc", std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const std::string ext = it->path().extension().string();
        if ((ext == ".html" || ext == ".htm") && it->is_regular_file(ec))
            files.push_back(it->path());
    }
    // A machine without HTML documentation still walks one generated page of every construct.
    if (files.empty()) {
        PageFindings f = Scan("<!DOCTYPE html><html><head><meta name=robots content=index><title>t</title>"
                              "<style>a{}</style></head><body><table><tr><td>" +
                              kLink +
                              "</td></tr></table>"
                              "<noindex><a href='http://other.example/'>o</a></noindex><svg><a href='x'/></svg>"
                              "</body></html>");
        EXPECT_TRUE(f.found);
        EXPECT_EQ(f.externalLinks, 1);
        return;
    }
    int anchors = 0;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        PageFindings f;
        ASSERT_TRUE(ScanPage("file://" + file.string(), text, "", "www.gnu.org/*", "*", f)) << file;
        anchors += static_cast<int>(f.matches.size()) + f.externalLinks;
    }
    RecordProperty("files", static_cast<int>(files.size()));
    EXPECT_GT(anchors, 0) << files.size() << " files and not one anchor seen";
}

} // namespace
