// The status a full check gives a link when the From page comes over HTTP in a way that reads
// wrong without care: the encoding only in the header, an answer cut off, a robots.txt the site
// cannot serve, a redirect into the user's own network.
#include "core/fetch/CheckSettings.h"
#include "core/fetch/Fetch.h"
#include "core/page/LinkCheck.h"
#include "core/platform/TestHooks.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/records/OleDateTime.h"

#include "fakes/FakeServers.h"
#include "fakes/LocalHttpServer.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

namespace {

const std::string kMine = "http://mysite.example/";
// "Мой сайт" in windows-1251 and in UTF-8.
const std::string kAnchor1251 = "\xCC\xEE\xE9 \xF1\xE0\xE9\xF2";
const std::string kAnchorUtf8 = "\xD0\x9C\xD0\xBE\xD0\xB9 \xD1\x81\xD0\xB0\xD0\xB9\xD1\x82";

struct StatusCase
{
    const char* name;
    const char* host;
    const char* path;
    uint32_t status;
};

void PrintTo(const StatusCase& c, std::ostream* os)
{
    *os << c.name;
}

class LinkCheckHttpTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = std::make_unique<testsupport::FakeSite>("orvex-linkcheck");
        const auto put = [](const std::string& rel, const std::string& bytes) { s_server->Put(rel, bytes); };
        const std::string link = "<a href=\"" + kMine + "\">" + kAnchorUtf8 + "</a>\n";
        put("default/link.html", "<html><body>" + link + "</body></html>\n");
        put("default/cyrillic.html", "<html><body><a href=\"" + kMine + "\">" + kAnchor1251 + "</a></body></html>\n");
        put("status503.localhost/link.html", link);
        put("status503.localhost/robots.txt.fault", "503\n");
        put("status404.localhost/link.html", link);
        put("status404.localhost/robots.txt.fault", "404\n");
        put("closed.localhost/link.html", link);
        put("closed.localhost/robots.txt.fault", "close\n");
        put("tilde.localhost/~joe/link.html", link);
        put("tilde.localhost/robots.txt", "User-agent: *\nDisallow: /~joe/\n");
        s_server->Start();
    }
    static void TearDownTestSuite() { s_server.reset(); }

    static uint32_t Check(const std::string& fromPage)
    {
        CLink link;
        link.SetFromPage(fromPage);
        link.SetToPage(kMine);
        link.SetAnchor(kAnchorUtf8);
        link.SetLastPaymentDate(OleDateTime::Today());
        link.SetPeriod(OleDateTimeSpan(365));
        bool changed = false;
        CheckLink(&link, changed);
        return link.GetStatus();
    }

    static inline std::unique_ptr<testsupport::FakeSite> s_server;
};

class LinkCheckStatusTest : public LinkCheckHttpTest, public ::testing::WithParamInterface<StatusCase>
{
};

TEST_P(LinkCheckStatusTest, Status)
{
    const StatusCase& c = GetParam();
    s_server->ClearLog();
    EXPECT_EQ(GetStatusName(Check(s_server->Url(c.host, c.path))), GetStatusName(c.status));
    ASSERT_GE(s_server->Requests().size(), 1u); // the page request reached the fake server
}

const StatusCase kStatusCases[] = {
    {"Baseline", "partner.localhost", "/link.html", StatusOk},
    {"CharsetOnlyInTheHeader", "partner.localhost",
     "/_headers?Content-Type=text/html;%20charset=windows-1251&body=/cyrillic.html", StatusOk},
    // Without the header the same bytes are no UTF-8, and the anchor text is not the one expected.
    {"CharsetNowhere", "partner.localhost", "/cyrillic.html", StatusInvalidText},
    {"CutOffHeaders", "partner.localhost", "/_cut/headers", StatusCantOpen},
    {"ShortBody", "partner.localhost", "/_cut/body?path=/link.html", StatusCantOpen},
    {"CutChunkedBody", "partner.localhost", "/_cut/chunked?path=/link.html", StatusCantOpen},
    {"Robots5xx", "status503.localhost", "/link.html", StatusRobots},
    {"Robots4xx", "status404.localhost", "/link.html", StatusOk},
    {"RobotsUnreachable", "closed.localhost", "/link.html", StatusRobots},
    {"RobotsEscapedTilde", "tilde.localhost", "/%7Ejoe/link.html", StatusRobots},
};
INSTANTIATE_TEST_SUITE_P(FromPages, LinkCheckStatusTest, ::testing::ValuesIn(kStatusCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkCheckHttpTest, RedirectFromAPublicPageIntoTheOwnNetworkCannotBeOpened)
{
    // The page with the link lies on 127.0.0.2; 127.0.0.1 plays the public partner site.
    CLocalHttpServer::Options options;
    options.bindAddress = "127.0.0.2";
    std::atomic<int> served{0};
    CLocalHttpServer privateSite(
        [&served](const LocalHttpRequest&) {
            ++served;
            LocalHttpResponse response;
            response.body = std::make_shared<const std::string>("<a href=\"" + kMine + "\">" + kAnchorUtf8 + "</a>");
            return response;
        },
        options);
    std::string error;
    ASSERT_TRUE(privateSite.Start(&error)) << error;
    const std::string from =
        s_server->Url("127.0.0.1", "/_redirect?to=http://" + privateSite.HostPort() + "/link.html");

    s_server->ClearLog();
    TestHooks::SetPublicAddresses({"127.0.0.1"});
    EXPECT_EQ(GetStatusName(Check(from)), GetStatusName(StatusCantOpen));
    TestHooks::SetPublicAddresses({});
    EXPECT_EQ(served.load(), 0);
    EXPECT_EQ(s_server->CountRequests("/_redirect?to=http://" + privateSite.HostPort() + "/link.html"), 1u);

    // Both in the own network: followed.
    EXPECT_EQ(GetStatusName(Check(from)), GetStatusName(StatusOk));
    EXPECT_GE(served.load(), 1);
}

} // namespace
