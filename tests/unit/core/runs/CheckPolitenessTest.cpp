// A run is polite to each partner site: never more than "CheckPerSite" requests at once to one
// host, wherever a redirect takes them, the links of one host spread over the run, and a host
// that asks for patience (429 or 503 with Retry-After) left alone once as long as it asked. The
// verdicts stay what one worker would give.
#include "RunLinks.h"
#include "core/fetch/CheckSettings.h"
#include "core/runs/CheckRuns.h"
#include "fakes/LocalHttpServer.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Every name under .localhost is the loopback address: many hosts, one server, which counts
// what each host has in flight and when each request came.
class CMultiHostSite
{
public:
    explicit CMultiHostSite(std::chrono::milliseconds delay)
        : m_delay(delay), m_server([this](const LocalHttpRequest& request) { return Answer(request); })
    {
        EXPECT_TRUE(m_server.Start());
    }

    std::string Url(const std::string& host, const std::string& page) const
    {
        return "http://" + host + ".localhost:" + std::to_string(m_server.Port()) + page;
    }
    int MaxInFlight(const std::string& host) const
    {
        std::lock_guard lock(m_lock);
        const auto found = m_maxInFlight.find(host + ".localhost");
        return found == m_maxInFlight.end() ? 0 : found->second;
    }
    int MaxInFlightOverall() const
    {
        std::lock_guard lock(m_lock);
        return m_maxOverall;
    }
    /// When each page request to `host` began and ended, in the order they began.
    std::vector<std::pair<Clock::time_point, Clock::time_point>> Requests(const std::string& host) const
    {
        std::lock_guard lock(m_lock);
        const auto found = m_requests.find(host + ".localhost");
        return found == m_requests.end() ? decltype(m_requests)::mapped_type() : found->second;
    }
    /// Every page of `host` is answered 503 with "Retry-After: seconds", as a site under maintenance.
    void Maintain(const std::string& host, int seconds)
    {
        std::lock_guard lock(m_lock);
        m_down[host + ".localhost"] = seconds;
    }

private:
    LocalHttpResponse Answer(const LocalHttpRequest& request)
    {
        LocalHttpResponse response;
        if (request.target == "/robots.txt") {
            response.status = 404;
            response.body = std::make_shared<const std::string>("none");
            return response;
        }
        const std::string host = request.hostHeader.substr(0, request.hostHeader.find(':'));
        const auto begin = Clock::now();
        {
            std::lock_guard lock(m_lock);
            const int now = ++m_inFlight[host];
            m_maxInFlight[host] = std::max(m_maxInFlight[host], now);
            m_maxOverall = std::max(m_maxOverall, ++m_overall);
            if (const auto found = m_down.find(host); found != m_down.end())
                response.extraHeaders = "Retry-After: " + std::to_string(found->second) + "\r\n";
        }
        std::this_thread::sleep_for(m_delay);
        {
            std::lock_guard lock(m_lock);
            --m_inFlight[host];
            --m_overall;
            m_requests[host].emplace_back(begin, Clock::now());
        }
        if (!response.extraHeaders.empty()) {
            response.status = 503;
            response.body = std::make_shared<const std::string>("down for maintenance");
            return response;
        }
        // "/to-HOST/page" sends the client to that page on HOST.
        if (request.target.starts_with("/to-")) {
            const std::size_t slash = request.target.find('/', 4);
            response.status = 302;
            response.extraHeaders =
                "Location: " + Url(request.target.substr(4, slash - 4), request.target.substr(slash)) + "\r\n";
            response.body = std::make_shared<const std::string>("moved");
            return response;
        }
        if (request.target.find("gone") != std::string::npos)
            response.body = std::make_shared<const std::string>("<p>no link here</p>");
        else if (request.target.find("nofollow") != std::string::npos)
            response.body =
                std::make_shared<const std::string>("<a rel=\"nofollow\" href=\"http://mine.localhost/\">x</a>");
        else
            response.body = std::make_shared<const std::string>("<a href=\"http://mine.localhost/\">mine</a>");
        return response;
    }

    std::chrono::milliseconds m_delay;
    mutable std::mutex m_lock;
    std::map<std::string, int> m_inFlight;
    std::map<std::string, int> m_maxInFlight;
    int m_overall = 0;
    int m_maxOverall = 0;
    std::map<std::string, std::vector<std::pair<Clock::time_point, Clock::time_point>>> m_requests;
    std::map<std::string, int> m_down;
    CLocalHttpServer m_server;
};

using runlinks::MakeLinks;
using runlinks::Pointers;

// Waits for the run, or stops it after `bound`: a run that hangs fails its test, not the suite.
bool EndsWithin(CCheckRun& run, std::chrono::seconds bound)
{
    auto ended = std::async(std::launch::async, [&run] { run.Wait(); });
    if (ended.wait_for(bound) == std::future_status::ready)
        return true;
    run.Cancel();
    ended.wait();
    return false;
}

class CheckPolitenessTest : public testing::Test
{
protected:
    void Use(int workers, int perSite)
    {
        CheckSettings settings;
        settings.workers = workers;
        settings.perSite = perSite;
        settings.retryMinSeconds = 0;
        settings.retryMaxSeconds = 2;
        SetCheckSettings(settings);
    }

    testsupport::ScopedCheckSettings m_saved;
};

} // namespace

TEST_F(CheckPolitenessTest, TheLinksOfOneHostAreSpreadOverTheRun)
{
    Use(5, 2);
    auto links = MakeLinks({"http://a.localhost/1", "http://A.localhost:80/2", "http://a.localhost/3",
                            "http://b.localhost/1", "https://b.localhost/2", "http://c.localhost/1", "nohost"});
    CCheckRun run(Pointers(links));
    EXPECT_EQ(run.Progress().QueuedPlaces(), (std::vector<std::size_t>{0, 3, 5, 6, 1, 4, 2}));
}

TEST_F(CheckPolitenessTest, ManyPagesInFlightButNeverMoreThanPerSiteToOneHostAndTheSameVerdicts)
{
    CMultiHostSite site(std::chrono::milliseconds(80));
    std::vector<std::string> pages;
    const char* kinds[] = {"/ok.html", "/gone.html", "/nofollow.html"};
    for (int i = 0; i < 48; ++i)
        pages.push_back(site.Url("h" + std::to_string(i % 6), kinds[i % 3] + std::string("?") + std::to_string(i)));
    std::map<int, std::vector<uint32_t>> statuses;
    for (const int workers : {1, 16}) {
        Use(workers, 2);
        auto links = MakeLinks(pages);
        CCheckRun run(Pointers(links));
        ASSERT_TRUE(run.Start());
        run.Wait();
        for (const auto& link : links)
            statuses[workers].push_back(link->GetStatus());
    }
    EXPECT_EQ(statuses[16], statuses[1]);
    EXPECT_EQ(statuses[1][0], uint32_t(StatusOk));
    EXPECT_EQ(statuses[1][1], uint32_t(StatusNotPresent));
    EXPECT_EQ(statuses[1][2], uint32_t(StatusNofollow));
    for (int h = 0; h < 6; ++h) {
        SCOPED_TRACE(h);
        EXPECT_LE(site.MaxInFlight("h" + std::to_string(h)), 2);
    }
    // Six hosts with two requests each: the sixteen workers really ran side by side.
    EXPECT_GE(site.MaxInFlightOverall(), 8);
}

// A site under maintenance answers every request 503 with "Retry-After: 1". It is left alone once,
// for the second it asked, and then its links go together, two at once as the limit says. The
// links first asked after the rest wait for their one more try side by side, so the host sees two
// quiet spells whatever the number of links, not one for each.
TEST_F(CheckPolitenessTest, AHostThatAsksForPatienceRestsOnceThenItsLinksGoTogether)
{
    CMultiHostSite site(std::chrono::milliseconds(100));
    site.Maintain("down", 1);
    std::vector<std::string> pages;
    for (int i = 0; i < 6; ++i)
        pages.push_back(site.Url("down", "/page" + std::to_string(i) + ".html"));
    Use(6, 2);
    auto links = MakeLinks(pages);
    CCheckRun run(Pointers(links));
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(EndsWithin(run, std::chrono::seconds(30)));
    for (const auto& link : links)
        EXPECT_EQ(link->GetStatus(), uint32_t(StatusCantOpen)) << link->GetFromPage();

    auto requests = site.Requests("down");
    ASSERT_EQ(requests.size(), 12u); // every link twice
    std::sort(requests.begin(), requests.end());
    EXPECT_LE(site.MaxInFlight("down"), 2);
    // The host's idle spells: from the end of everything asked so far to the next request.
    std::vector<std::chrono::milliseconds> rests;
    Clock::time_point idleFrom = requests.front().second;
    bool togetherAfterRest = false;
    for (std::size_t i = 1; i < requests.size(); ++i) {
        if (requests[i].first > idleFrom + std::chrono::milliseconds(500))
            rests.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(requests[i].first - idleFrom));
        else if (!rests.empty() && requests[i].first < requests[i - 1].second)
            togetherAfterRest = true;
        idleFrom = std::max(idleFrom, requests[i].second);
    }
    ASSERT_FALSE(rests.empty());
    EXPECT_LE(rests.size(), 2u) << "a rest for each link";
    EXPECT_GE(rests.front(), std::chrono::milliseconds(900)) << "the second it asked for was not given";
    EXPECT_TRUE(togetherAfterRest) << "one request at a time after the rest";
}

// Pages on twelve hosts that all redirect to one: the requests that land there count against it,
// two at once at most. Two hosts with one slot each that redirect into each other do not stop the
// run, since nobody waits for a slot while holding one.
TEST_F(CheckPolitenessTest, ARedirectCountsAgainstTheHostItLandsOn)
{
    CMultiHostSite site(std::chrono::milliseconds(100));
    std::vector<std::string> pages;
    for (int i = 0; i < 12; ++i)
        pages.push_back(site.Url("p" + std::to_string(i), "/to-hub/page" + std::to_string(i) + ".html"));
    Use(12, 2);
    auto links = MakeLinks(pages);
    CCheckRun run(Pointers(links));
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(EndsWithin(run, std::chrono::seconds(30)));
    for (const auto& link : links)
        EXPECT_EQ(link->GetStatus(), uint32_t(StatusOk)) << link->GetFromPage();
    EXPECT_EQ(site.Requests("hub").size(), 12u);
    EXPECT_LE(site.MaxInFlight("hub"), 2);
    EXPECT_GE(site.MaxInFlightOverall(), 4) << "the pages' own hosts were not asked side by side";

    std::vector<std::string> crossed;
    for (int i = 0; i < 6; ++i) {
        crossed.push_back(site.Url("a", "/to-b/page" + std::to_string(i) + ".html"));
        crossed.push_back(site.Url("b", "/to-a/page" + std::to_string(i) + ".html"));
    }
    Use(8, 1);
    auto crossedLinks = MakeLinks(crossed);
    CCheckRun crossedRun(Pointers(crossedLinks));
    ASSERT_TRUE(crossedRun.Start());
    ASSERT_TRUE(EndsWithin(crossedRun, std::chrono::seconds(30))) << "the redirects waited for each other";
    for (const auto& link : crossedLinks)
        EXPECT_EQ(link->GetStatus(), uint32_t(StatusOk)) << link->GetFromPage();
    EXPECT_LE(site.MaxInFlight("a"), 1);
    EXPECT_LE(site.MaxInFlight("b"), 1);
}

// Stop with 64 pages in flight and more workers waiting for a host slot: the run ends once the
// pages in flight are answered, and the links nobody took stay as they were.
TEST_F(CheckPolitenessTest, StopEndsAWideRunWithThePagesInFlight)
{
    CMultiHostSite site(std::chrono::milliseconds(400));
    std::vector<std::string> pages;
    for (int i = 0; i < 400; ++i)
        pages.push_back(site.Url("s" + std::to_string(i % 40), "/p" + std::to_string(i) + ".html"));
    Use(64, 1);
    auto links = MakeLinks(pages); // Not present: what a check finds Ok was checked
    CCheckRun run(Pointers(links));
    ASSERT_TRUE(run.Start());
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const auto stopped = Clock::now();
    run.Cancel();
    run.Wait();
    // The pages in flight take 400 ms; the rest of the workers wake within their 100 ms nap.
    EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(3));
    int checked = 0;
    for (const auto& link : links)
        checked += link->GetStatus() == StatusOk ? 1 : 0;
    EXPECT_GE(checked, 1);   // what was in flight was finished
    EXPECT_LE(checked, 120); // and not much more: Stop ended the run
    EXPECT_EQ(run.Progress().Done(), checked);
}

// The scheduling alone, without a server: a busy host's link waits while other links go, a freed
// slot is what lets it go, a host that asked for patience is handed nothing until its rest is
// over, and a link gets one more try at most.
TEST(CheckProgressSlots, AHostIsNeverHandedMoreLinksAtOnceThanItsLimit)
{
    auto links = MakeLinks({"http://a.localhost/0", "http://a.localhost/1", "http://a.localhost/2",
                            "http://b.localhost/3", "http://a.localhost/4"});
    CheckProgress progress(Pointers(links), CheckRunOptions{.perSite = 2});
    ASSERT_EQ(progress.QueuedPlaces(), (std::vector<std::size_t>{0, 3, 1, 2, 4}));
    std::vector<std::future<std::optional<TakenLink>>> pending;
    // Whatever fails below, no taker is left asleep for the futures' destructors to wait on.
    const std::unique_ptr<CheckProgress, void (*)(CheckProgress*)> stopAtEnd(&progress,
                                                                             [](CheckProgress* p) { p->Cancel(); });
    const auto takeLater = [&] {
        pending.push_back(std::async(std::launch::async, [&] { return progress.TakeNext(); }));
        return pending.size() - 1;
    };
    const auto stillWaits = [&](std::size_t i) {
        return pending[i].wait_for(std::chrono::milliseconds(150)) == std::future_status::timeout;
    };
    const auto handed = [&](std::size_t i) {
        if (pending[i].wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "no link handed within 5 s";
            progress.Cancel();
        }
        return pending[i].get();
    };

    std::optional<TakenLink> a0 = progress.TakeNext();
    std::optional<TakenLink> b3 = progress.TakeNext();
    std::optional<TakenLink> a1 = progress.TakeNext();
    ASSERT_TRUE(a0 && b3 && a1);
    EXPECT_EQ(std::vector<std::size_t>({a0->place, b3->place, a1->place}), (std::vector<std::size_t>{0, 3, 1}));
    const std::size_t third = takeLater();
    EXPECT_TRUE(stillWaits(third)) << "a third link of a at once";
    progress.Finish(std::move(*b3), {});
    EXPECT_TRUE(stillWaits(third)) << "a slot of b went to a";
    // a asks for patience: it rests a second, free slot or not, and then its links go two at once.
    progress.Finish(std::move(*a0), RetryRequest{1, "HTTP status 503", true});
    EXPECT_EQ(progress.WaitingForRetry(), 1);
    progress.Finish(std::move(*a1), {});
    EXPECT_TRUE(stillWaits(third)) << "a link of a while it rests";
    std::optional<TakenLink> a2 = handed(third);
    ASSERT_TRUE(a2);
    EXPECT_EQ(a2->place, 2u);
    std::optional<TakenLink> a4 = handed(takeLater());
    ASSERT_TRUE(a4);
    EXPECT_EQ(a4->place, 4u);
    // The retry was due at the rest's end; it waits only for a slot.
    const std::size_t sixth = takeLater();
    EXPECT_TRUE(stillWaits(sixth)) << "a third request to a at once";
    progress.Finish(std::move(*a2), {});
    progress.Finish(std::move(*a4), {});

    std::optional<TakenLink> retry = handed(sixth);
    ASSERT_TRUE(retry);
    EXPECT_EQ(retry->place, 0u);
    EXPECT_TRUE(retry->isRetry);
    EXPECT_EQ(progress.WaitingForRetry(), 0);
    // A second try that fails the same way decides all the same.
    progress.Finish(std::move(*retry), RetryRequest{0, "HTTP status 503", true});
    EXPECT_EQ(progress.Done(), 5);
    EXPECT_EQ(progress.WaitingForRetry(), 0);
    EXPECT_EQ(progress.Outcomes()[0].firstFailure, "HTTP status 503");
    EXPECT_FALSE(progress.TakeNext().has_value());
}
