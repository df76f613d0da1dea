#include "checking/Url.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

struct NormalizeCase
{
    const char* input;
    const char* expected;
};

TEST(UrlNormalize, Table)
{
    const NormalizeCase cases[] = {
        // A bare host name gains the scheme and a slash.
        {"partner.com", "http://partner.com/"},
        {"www.partner.com", "http://www.partner.com/"},
        // A host with a path, or with a slash and a query, gains only the scheme.
        {"partner.com/links.html", "http://partner.com/links.html"},
        {"partner.com/?page=2", "http://partner.com/?page=2"},
        // "http://" in any case: unchanged, and no slash appended even without a path.
        {"http://partner.com", "http://partner.com"},
        {"HTTP://Partner.COM", "HTTP://Partner.COM"},
        {"hTtP://partner.com/a", "hTtP://partner.com/a"},
        // Platform deviation 1: https is kept (any case).
        {"https://partner.com/a", "https://partner.com/a"},
        {"HTTPS://partner.com", "HTTPS://partner.com"},
        // High bytes escaped with upper-case hex; other bytes stay.
        {"partner.com/caf\xE9", "http://partner.com/caf%E9"},
        {"http://partner.com/\xD0\x9F", "http://partner.com/%D0%9F"},
        {"partner.com/a b", "http://partner.com/a b"},
        // The rules as written: no slash in the input at all means one is appended.
        {"partner.com?x=1", "http://partner.com?x=1/"},
        {"", "http:///"},
        // Other schemes are not recognised.
        {"ftp://files.com/x", "http://ftp://files.com/x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NormalizeUrl(c.input), c.expected) << "input: " << c.input;
}

TEST(UrlEscapeHighBytes, EachHighByteBecomesPercentHex)
{
    EXPECT_EQ(EscapeHighBytes("caf\xE9"), "caf%E9");
    EXPECT_EQ(EscapeHighBytes("\x80\xFF\x7F"), "%80%FF\x7F");
    EXPECT_EQ(EscapeHighBytes("a b%20c"), "a b%20c");
    EXPECT_EQ(EscapeHighBytes(""), "");
}

struct SplitCase
{
    const char* url;
    ServiceType service;
    const char* host;
    const char* object;
    int port;
};

TEST(UrlSplit, Table)
{
    const SplitCase cases[] = {
        {"http://partner.com", ServiceType::Http, "partner.com", "/", 80},
        {"http://partner.com/", ServiceType::Http, "partner.com", "/", 80},
        {"https://partner.com/a", ServiceType::Https, "partner.com", "/a", 443},
        {"HTTP://Partner.com/X", ServiceType::Http, "Partner.com", "/X", 80},
        {"http://partner.com:8080/a?b=1", ServiceType::Http, "partner.com", "/a?b=1", 8080},
        {"https://partner.com:8443", ServiceType::Https, "partner.com", "/", 8443},
        {"http://partner.localhost:1234/links.html", ServiceType::Http, "partner.localhost", "/links.html", 1234},
        // Dot segments resolved, spaces percent-encoded.
        {"http://partner.com/a/../b/./c", ServiceType::Http, "partner.com", "/b/c", 80},
        {"http://partner.com/a/b/../../c", ServiceType::Http, "partner.com", "/c", 80},
        {"http://partner.com/a b", ServiceType::Http, "partner.com", "/a%20b", 80},
        {"http://partner.com/%7Euser/", ServiceType::Http, "partner.com", "/%7Euser/", 80},
        // The query as written, the fragment dropped.
        {"http://partner.com/p?q=a b&c=%41#frag", ServiceType::Http, "partner.com", "/p?q=a b&c=%41", 80},
        {"http://partner.com/p?x=../y", ServiceType::Http, "partner.com", "/p?x=../y", 80},
        {"http://partner.com/p#frag?x", ServiceType::Http, "partner.com", "/p", 80},
        {"http://partner.com?x=1", ServiceType::Http, "partner.com", "/?x=1", 80},
        {"http://partner.com/*", ServiceType::Http, "partner.com", "/*", 80},
        // Other schemes.
        {"ftp://files.com/x", ServiceType::Ftp, "files.com", "/x", 21},
        {"file:///etc/hosts", ServiceType::File, "", "/etc/hosts", 0},
        {"gopher://g.com/", ServiceType::Gopher, "g.com", "/", 70},
        {"news://n.com/x", ServiceType::News, "n.com", "/x", 119},
        {"mailto:someone@partner.com", ServiceType::Mailto, "", "someone@partner.com", 0},
        {"foo://bar.com/x", ServiceType::Other, "bar.com", "/x", 0},
    };
    for (const auto& c : cases) {
        CUrlParts parts;
        ASSERT_TRUE(SplitUrl(c.url, parts)) << c.url;
        EXPECT_EQ(parts.service, c.service) << c.url;
        EXPECT_EQ(parts.host, c.host) << c.url;
        EXPECT_EQ(parts.object, c.object) << c.url;
        EXPECT_EQ(parts.port, c.port) << c.url;
    }
}

TEST(UrlSplit, EscapedHighBytesStay)
{
    CUrlParts parts;
    ASSERT_TRUE(SplitUrl(NormalizeUrl("partner.com/caf\xE9"), parts));
    EXPECT_EQ(parts.object, "/caf%E9");
}

TEST(UrlSplit, RelativeAndMalformedFail)
{
    const char* failing[] = {
        "",
        "page.html",
        "/path/page.html",
        "#frag",
        "?q=1",
        "partner.com/x",
        "../up.html",
        "javascript:void(0)",
        "http://",
        "http://a b.com/",
        "http://partner.com:99999/",
    };
    for (const char* url : failing) {
        CUrlParts parts;
        parts.host = "untouched";
        EXPECT_FALSE(SplitUrl(url, parts)) << url;
    }
}

TEST(UrlSplit, ThreadSafe)
{
    // Runs once or twice per anchor on pages with thousands of links, from several threads.
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong, t] {
            for (int i = 0; i < 5000; ++i) {
                CUrlParts parts;
                const std::string url = "http://host" + std::to_string(t) + ".com/p/" + std::to_string(i) + "?x=1";
                if (!SplitUrl(url, parts) || parts.host != "host" + std::to_string(t) + ".com" ||
                    parts.object != "/p/" + std::to_string(i) + "?x=1" || parts.port != 80)
                    ++wrong;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
