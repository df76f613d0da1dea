// Check runs over many links: five workers at most, Stop, per-link outcomes in list order, the
// letter lists of the unattended run and the date refresh, and how runs and the refresh keep
// out of each other's way.
#include "fakes/FakeServers.h"
#include "fakes/LocalHttpServer.h"
#include "unit/TestSupport.h"

#include "RunLinks.h"
#include "core/fetch/CheckSettings.h"
#include "core/fetch/Fetch.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/runs/CheckRuns.h"
#include "core/storage/Archive.h"
#include "core/storage/ORXDatabase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

// A partner site whose pages carry the link, answering slowly and counting requests in flight.
class SlowPartnerSite
{
public:
    explicit SlowPartnerSite(std::chrono::milliseconds delay)
        : m_server([this](const LocalHttpRequest& request) { return Answer(request); }, Options(delay))
    {
        EXPECT_TRUE(m_server.Start());
    }

    std::string PageUrl(int i) const { return "http://" + m_server.HostPort() + "/page" + std::to_string(i) + ".html"; }
    int MaxInFlight() const { return m_maxInFlight.load(); }
    int PagesServed() const { return m_pages.load(); }

private:
    static CLocalHttpServer::Options Options(std::chrono::milliseconds delay)
    {
        CLocalHttpServer::Options options;
        options.responseDelay = delay;
        return options;
    }

    LocalHttpResponse Answer(const LocalHttpRequest& request)
    {
        LocalHttpResponse response;
        if (request.target.rfind("/page", 0) != 0) {
            response.status = 404;
            response.body = std::make_shared<const std::string>("none");
            return response;
        }
        const int now = ++m_inFlight;
        int seen = m_maxInFlight.load();
        while (now > seen && !m_maxInFlight.compare_exchange_weak(seen, now)) {
        }
        // The delay of the server counts as the time a request is in flight.
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        ++m_pages;
        --m_inFlight;
        response.body = std::make_shared<const std::string>("<a href=\"http://mine.localhost/\">mine</a>");
        return response;
    }

    std::atomic<int> m_inFlight{0};
    std::atomic<int> m_maxInFlight{0};
    std::atomic<int> m_pages{0};
    CLocalHttpServer m_server;
};

using runlinks::MakeLinks;
using runlinks::Pointers;

std::vector<std::unique_ptr<CLink>> MakeLinks(const SlowPartnerSite& site, int count)
{
    std::vector<std::string> pages;
    for (int i = 0; i < count; ++i)
        pages.push_back(site.PageUrl(i));
    return MakeLinks(pages);
}

class CheckRunsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        CheckSettings settings;
        settings.connectTimeoutSeconds = 5;
        settings.requestTimeoutSeconds = 10;
        SetCheckSettings(settings);
    }

    testsupport::ScopedCheckSettings m_saved;
};

} // namespace

TEST_F(CheckRunsTest, AllLinksOfARunAreCheckedByAtMostFiveWorkers)
{
    SlowPartnerSite site(std::chrono::milliseconds(0));
    auto links = MakeLinks(site, 12);
    int lastDone = -1;
    RunInteractiveCheck(
        Pointers(links),
        [&](const CheckProgress& p) {
            lastDone = p.Done();
            return true;
        },
        50);
    EXPECT_EQ(lastDone, 12);
    EXPECT_EQ(site.PagesServed(), 12);
    EXPECT_LE(site.MaxInFlight(), kDefaultCheckWorkers);
    EXPECT_GE(site.MaxInFlight(), 2); // the workers really run side by side
    for (const auto& link : links)
        EXPECT_EQ(link->GetStatus(), StatusOk) << link->GetFromPage();
}

TEST_F(CheckRunsTest, StopLeavesTheLinksNoWorkerHeld)
{
    SlowPartnerSite site(std::chrono::milliseconds(0));
    auto links = MakeLinks(site, 40);
    int ticks = 0;
    RunInteractiveCheck(
        Pointers(links), [&](const CheckProgress& p) { return ++ticks < 3 && p.Done() < 3; }, 20);
    const int checked = static_cast<int>(
        std::count_if(links.begin(), links.end(), [](const auto& l) { return l->GetStatus() == StatusOk; }));
    EXPECT_GE(checked, 1);
    EXPECT_LT(checked, 40);
    EXPECT_EQ(site.PagesServed(), checked); // nothing still running after the call returned
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(site.PagesServed(), checked);
}

// What the progress dialog shows while a run goes on: the page a worker is waiting for, and the
// links found in trouble so far.
TEST_F(CheckRunsTest, ThePageBeingCheckedAndTheProblemsFollowTheWorkers)
{
    std::atomic<bool> release{false};
    CLocalHttpServer server([&](const LocalHttpRequest& request) {
        LocalHttpResponse response;
        if (request.target == "/held.html") {
            // Kept waiting until the test has looked; a page without the link: Not present.
            for (int i = 0; i < 1000 && !release.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            response.body = std::make_shared<const std::string>("<p>no link here</p>");
        } else if (request.target.rfind("/ok", 0) == 0) {
            response.body = std::make_shared<const std::string>("<a href=\"http://mine.localhost/\">mine</a>");
        } else {
            response.status = 404;
            response.body = std::make_shared<const std::string>("none");
        }
        return response;
    });
    ASSERT_TRUE(server.Start());
    const std::string site = "http://" + server.HostPort();
    auto links = MakeLinks({site + "/ok1.html", site + "/held.html", site + "/ok2.html"});

    CCheckRun run(Pointers(links));
    EXPECT_EQ(run.Progress().PageBeingChecked(), "");
    ASSERT_TRUE(run.Start());
    const CheckProgress& progress = run.Progress();
    for (int i = 0; i < 500 && progress.Done() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(progress.Done(), 2);
    EXPECT_EQ(progress.PageBeingChecked(), site + "/held.html");
    EXPECT_EQ(progress.Problems(), 0); // both pages carry the link

    release.store(true);
    run.Wait();
    EXPECT_EQ(links[1]->GetStatus(), StatusNotPresent);
    EXPECT_EQ(progress.Problems(), 1);
    EXPECT_EQ(progress.PageBeingChecked(), "");
}

TEST_F(CheckRunsTest, AnEmptyRunEndsAtTheFirstTick)
{
    int ticks = 0;
    RunInteractiveCheck(
        {},
        [&](const CheckProgress& p) {
            ++ticks;
            EXPECT_EQ(p.Total(), 0);
            return true;
        },
        10);
    EXPECT_EQ(ticks, 1);
}

TEST_F(CheckRunsTest, OutcomesAndLettersFollowTheListOrder)
{
    SlowPartnerSite site(std::chrono::milliseconds(0));
    auto links = MakeLinks(site, 8);
    links[2]->SetStatus(StatusOk);                  // stays Ok: no change
    links[5]->SetToPage("http://other.localhost/"); // Not present before and after: no change
    links[6]->SetStatus(StatusOk);
    links[6]->SetToPage("http://other.localhost/"); // Ok -> Not present: mailed
    // 31 days always reach the next month: one month after a payment 27 days ago ends in 1 to 4 days.
    links[7]->SetLastPaymentDate(OleDateTime::Today() - OleDateTimeSpan(27));
    links[7]->SetPeriod(OleDateTimeSpan(31));

    CCheckRun run(Pointers(links));
    ASSERT_TRUE(run.Start());
    run.Wait();
    const NotificationLists lists = CollectScheduledResults(Pointers(links), run.Progress().Outcomes(), 7);
    // Not present -> Ok is good news and is not mailed; Ok -> Not present is.
    ASSERT_EQ(lists.changedLinks.size(), 2u);
    EXPECT_EQ(lists.changedLinks[0], links[6].get());
    EXPECT_EQ(lists.changedLinks[1], links[7].get()); // Not present -> Expiring
    ASSERT_EQ(lists.expiringLinks.size(), 1u);
    EXPECT_EQ(lists.expiringLinks[0], links[7].get());
    EXPECT_TRUE(run.Progress().Outcomes()[0].statusChanged);
    EXPECT_FALSE(run.Progress().Outcomes()[2].statusChanged);
}

TEST(DateRefresh, MovesOnlyDateStatusesAndListsWhatTheLetterNeeds)
{
    auto make = [](uint32_t status, double daysAgo, double period) {
        auto link = std::make_unique<CLink>();
        link->SetStatus(status);
        link->SetLastPaymentDate(OleDateTime::Today() - OleDateTimeSpan(daysAgo));
        link->SetPeriod(OleDateTimeSpan(period));
        return link;
    };
    std::vector<std::unique_ptr<CLink>> links;
    // 31 days always reach the next month: one month after a payment 27 days ago ends in 1 to 4 days.
    links.push_back(make(StatusOk, 40, 31));         // its expiry date passed: Expired, mailed
    links.push_back(make(0, 1, 365));                // never checked: stays so, never "Ok"
    links.push_back(make(StatusNotPresent, 40, 31)); // a problem stays as it is
    links.push_back(make(StatusExpiring, 1, 365));   // renewed: back to Ok, not mailed
    links.push_back(make(0, 27, 31));                // never checked, expiring: listed, not mailed
    links.push_back(make(0, 40, 31));                // never checked, expired: listed, not mailed
    const std::optional<NotificationLists> refreshed = RefreshLinkDates(Pointers(links), 7);
    ASSERT_TRUE(refreshed.has_value());
    const NotificationLists& lists = *refreshed;
    const uint32_t after[] = {StatusExpired, StatusNone, StatusNotPresent, StatusOk, StatusNone, StatusNone};
    for (std::size_t i = 0; i < links.size(); ++i)
        EXPECT_EQ(links[i]->GetStatus(), after[i]) << "link " << i;
    ASSERT_EQ(lists.changedLinks.size(), 1u);
    EXPECT_EQ(lists.changedLinks[0], links[0].get());
    // Expired links count as expiring too, checked or not: the letter's second table is about
    // the deals' dates.
    const std::vector<CLink*> expiring = {links[0].get(), links[2].get(), links[4].get(), links[5].get()};
    EXPECT_EQ(lists.expiringLinks, expiring);
}

// The date refresh runs once a minute whatever else happens; a run's verdict on a page must not
// be turned back into a date-only "Ok" by a refresh walking the same links. One run leaves a
// lost verdict only now and then, so the same run is made twenty times. Meanwhile this thread
// reads the records as the list does; under ThreadSanitizer that is a race unless every word
// a worker writes is read and written whole.
TEST_F(CheckRunsTest, ARefreshBesideARunNeverOverwritesAVerdict)
{
    CLocalHttpServer missing([](const LocalHttpRequest&) {
        LocalHttpResponse response;
        response.status = 404;
        response.body = std::make_shared<const std::string>("gone");
        return response;
    });
    ASSERT_TRUE(missing.Start());
    std::vector<std::string> pages;
    for (int i = 0; i < 500; ++i)
        pages.push_back("http://" + missing.HostPort() + "/page" + std::to_string(i) + ".html");
    const auto links = MakeLinks(pages);
    const std::vector<CLink*> all = Pointers(links);

    constexpr int kRounds = 20;
    int leftOk = 0;
    int notCantOpen = 0;
    int refreshesAsked = 0;
    uint32_t seen = 0;
    bool rankSeen = false;
    for (int round = 0; round < kRounds; ++round) {
        for (CLink* link : all)
            link->SetStatus(StatusOk); // by its dates it stays Ok: only the page can change it
        std::atomic<bool> runOver{false};
        std::atomic<int> refreshes{0};
        std::thread refresher([&] {
            while (!runOver.load()) {
                (void)RefreshLinkDates(all, 7);
                ++refreshes;
            }
        });
        {
            CCheckRun run(all);
            const bool started = run.Start();
            EXPECT_TRUE(started);
            while (started && run.Progress().Done() < 500) {
                for (const CLink* link : all) {
                    seen |= link->GetStatus();
                    rankSeen = rankSeen || link->GetCurrentPR() != -1 || link->GetPreviousPR() != -1;
                }
            }
            run.Wait();
            refreshesAsked += refreshes.load();
        }
        runOver = true;
        refresher.join();
        for (const CLink* link : all) {
            leftOk += link->GetStatus() == StatusOk ? 1 : 0;
            notCantOpen += link->GetStatus() != StatusCantOpen ? 1 : 0;
        }
    }
    EXPECT_GT(refreshesAsked, kRounds); // the refresh really was asked while the runs went on
    EXPECT_EQ(seen, uint32_t(StatusOk | StatusCantOpen));
    EXPECT_FALSE(rankSeen); // nobody serves a rank
    EXPECT_EQ(leftOk, 0) << "links left Ok after " << kRounds << " runs over " << all.size() << " missing pages";
    EXPECT_EQ(notCantOpen, 0);
}

// A run holds the refresh off, even before it starts; so does an edit writing payment dates, but
// an edit is no check: the window still lets the scheduled run start meanwhile.
TEST(DateRefresh, StandsAsideWhileARunOrAnEditHoldsTheLinks)
{
    std::vector<std::unique_ptr<CLink>> links;
    links.push_back(std::make_unique<CLink>());
    links[0]->SetStatus(StatusOk); // paid for no days: the refresh would make it Expired
    const auto expectHeldOff = [&](bool runActive) {
        EXPECT_EQ(IsCheckRunActive(), runActive);
        EXPECT_FALSE(RefreshLinkDates(Pointers(links), 7).has_value());
        EXPECT_EQ(links[0]->GetStatus(), StatusOk);
    };
    {
        CCheckRun run({});
        expectHeldOff(true);
    }
    {
        const CDateRefreshHold hold;
        expectHeldOff(false);
    }
    EXPECT_TRUE(RefreshLinkDates(Pointers(links), 7).has_value());
    EXPECT_EQ(links[0]->GetStatus(), StatusExpired);
}

TEST(DateRefresh, ARunStartedDuringAWalkWaitsForItsEnd)
{
    std::vector<std::unique_ptr<CLink>> links;
    for (int i = 0; i < 100000; ++i) {
        links.push_back(std::make_unique<CLink>());
        links.back()->SetStatus(StatusOk); // paid for no days: the refresh makes it Expired
    }
    std::thread refresher([&] { EXPECT_TRUE(RefreshLinkDates(Pointers(links), 7).has_value()); });
    while (links.front()->GetStatus() == StatusOk)
        std::this_thread::yield();
    {
        CCheckRun run({});
        // The walk had begun, so it was let finish before the run could hold the links.
        EXPECT_EQ(links.back()->GetStatus(), StatusExpired);
    }
    refresher.join();
}

// The 30-second save runs while the refresh writes statuses. A save reads each record and must
// write nothing back: a status it had read before the refresh changed it would otherwise return,
// and the link be mailed again a minute later. Under ThreadSanitizer the reading alone must be
// race-free.
TEST(DateRefresh, ASaveBesideTheRefreshNeverUndoesIt)
{
    CORXDatabase database;
    CLinksManager& collection = *database.GetLinks();
    for (int i = 0; i < 20000; ++i) {
        auto link = std::make_unique<CLink>();
        link->SetStatus(StatusOk);
        link->SetLastPaymentDate(OleDateTime::Today() - OleDateTimeSpan(40));
        link->SetPeriod(OleDateTimeSpan(31)); // its expiry date has passed: the refresh makes it Expired
        collection.Append(std::move(link));
    }
    const std::vector<CLink*> all = collection.GetLinks();
    std::atomic<bool> refreshed{false};
    std::atomic<int> saves{0};
    std::thread saver([&] {
        while (!refreshed.load() || saves.load() == 0) {
            CArchive ar = CArchive::ForStoring([](const uint8_t*, std::size_t) {});
            database.Serialize(ar);
            ar.Flush();
            ++saves;
        }
    });
    ASSERT_TRUE(RefreshLinkDates(all, 7).has_value());
    refreshed = true;
    saver.join();
    EXPECT_GT(saves.load(), 0);
    const auto undone =
        std::count_if(all.begin(), all.end(), [](const CLink* l) { return l->GetStatus() != StatusExpired; });
    EXPECT_EQ(undone, 0) << "statuses a save put back";
}

// A page that fails in a way that may pass is tried once more, later in the same run, before it
// counts: one bad moment of a partner's server is no change to report.
TEST_F(CheckRunsTest, APassingFailureIsTriedOnceMoreBeforeItCounts)
{
    testsupport::UpdateCheckSettings([](CheckSettings& settings) {
        settings.retryMinSeconds = 1;
        settings.retryMaxSeconds = 2;
    });

    std::mutex lock;
    std::map<std::string, std::vector<std::chrono::steady_clock::time_point>> seen;
    CLocalHttpServer server([&](const LocalHttpRequest& request) {
        std::size_t count = 0;
        {
            std::lock_guard hold(lock);
            seen[request.target].push_back(std::chrono::steady_clock::now());
            count = seen[request.target].size();
        }
        LocalHttpResponse response;
        response.body = std::make_shared<const std::string>("<a href=\"http://mine.localhost/\">mine</a>");
        if (request.target == "/once500.html" && count == 1) {
            response.status = 500;
        } else if (request.target == "/always500.html") {
            response.status = 503;
        } else if (request.target == "/busy.html" && count == 1) {
            response.status = 429;
            response.extraHeaders = "Retry-After: 2\r\n";
        } else if (request.target == "/greedy.html" && count == 1) {
            response.status = 503;
            response.extraHeaders = "Retry-After: 100\r\n"; // more than the run waits
        } else if (request.target == "/gone.html") {
            response.status = 404;
        }
        return response;
    });
    ASSERT_TRUE(server.Start());
    const std::string site = "http://" + server.HostPort();
    auto links = MakeLinks({site + "/once500.html", site + "/always500.html", site + "/busy.html",
                            site + "/greedy.html", site + "/gone.html", site + "/fine.html"});
    for (auto& link : links)
        link->SetStatus(StatusOk);

    CCheckRun run(Pointers(links));
    ASSERT_TRUE(run.Start());
    run.Wait();
    const CheckProgress& progress = run.Progress();

    const struct
    {
        const char* page;
        uint32_t status;
        std::size_t requests;
        bool changed;
        double minGap; ///< seconds between the two tries, at least
    } expected[] = {
        {"/once500.html", StatusOk, 2, false, 1.0}, {"/always500.html", StatusCantOpen, 2, true, 1.0},
        {"/busy.html", StatusOk, 2, false, 2.0},    {"/greedy.html", StatusOk, 2, false, 2.0},
        {"/gone.html", StatusCantOpen, 1, true, 0}, {"/fine.html", StatusOk, 1, false, 0},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const auto& e = expected[i];
        SCOPED_TRACE(e.page);
        const std::vector<std::chrono::steady_clock::time_point>& times = seen[e.page];
        ASSERT_EQ(times.size(), e.requests);
        EXPECT_EQ(links[i]->GetStatus(), e.status);
        EXPECT_EQ(progress.Outcomes()[i].checked, true);
        EXPECT_EQ(progress.Outcomes()[i].statusChanged, e.changed);
        EXPECT_EQ(progress.Outcomes()[i].retried, e.requests == 2);
        if (e.requests == 2) {
            const double gap = std::chrono::duration<double>(times[1] - times[0]).count();
            EXPECT_GE(gap, e.minGap - 0.05);
            EXPECT_LT(gap, 30.0) << "Retry-After is honoured only up to the run's longest wait";
        }
    }
    EXPECT_EQ(progress.Done(), 6);
    // "Waiting to try N pages again" is over once the four second tries are.
    EXPECT_EQ(progress.WaitingForRetry(), 0);

    // A link checked while the user waits for it is tried once.
    auto single = MakeLinks({site + "/always500.html"});
    single[0]->SetStatus(StatusOk);
    CCheckRun once(Pointers(single), CheckRunOptions{.retryFailures = false});
    ASSERT_TRUE(once.Start());
    once.Wait();
    EXPECT_EQ(single[0]->GetStatus(), uint32_t(StatusCantOpen));
    EXPECT_EQ(seen["/always500.html"].size(), 3u);
    EXPECT_FALSE(once.Progress().Outcomes()[0].retried);
}

// A run none of whose requests reached a partner, every failure on the user's side (the proxy, or
// neither name nor connection for two sites or more), puts every link back as it was, tells the
// history nothing and says why. One site that cannot be reached, alone or beside one that
// answers, counts against its links as before.
TEST_F(CheckRunsTest, ARunThatReachesNoPartnerChangesNothingAndSaysWhy)
{
    const testsupport::NoProxyEnvironment noProxy;
    CLocalHttpServer server([](const LocalHttpRequest&) {
        LocalHttpResponse response;
        response.body = std::make_shared<const std::string>("<a href=\"http://mine.localhost/\">mine</a>");
        return response;
    });
    ASSERT_TRUE(server.Start());
    const std::string closed = std::to_string(fakes::FreePort());
    const std::string answers = "http://" + server.HostPort() + "/page.html";
    const std::string refusesA = "http://a.localhost:" + closed + "/page.html";
    const std::string refusesB = "http://b.localhost:" + closed + "/page.html";
    const std::string noName = "http://" + testsupport::UnresolvableHost() + "/page.html";
    const std::string proxy = "127.0.0.1:" + closed;

    const struct
    {
        const char* what;
        bool viaProxy;
        std::vector<std::string> pages;
        std::string reason; ///< "" when the run counts
        std::vector<uint32_t> statuses;
    } cases[] = {
        {"a refusing proxy",
         true,
         {answers, refusesA, noName},
         "The proxy " + proxy + " refused the connection; nothing was changed",
         {StatusOk, StatusOk, StatusOk}},
        {"no site at all",
         false,
         {refusesA, noName, refusesB},
         "No partner site could be reached, the network seems to be down (a.localhost: connection refused); "
         "nothing was changed",
         {StatusOk, StatusOk, StatusOk}},
        {"one site that is down", false, {refusesA, refusesA}, "", {StatusCantOpen, StatusCantOpen}},
        {"sites down beside one that answers",
         false,
         {refusesA, answers, noName},
         "",
         {StatusCantOpen, StatusOk, StatusCantOpen}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::UpdateCheckSettings([&](CheckSettings& settings) {
            settings.useProxy = c.viaProxy;
            settings.proxyHost = "127.0.0.1";
            settings.proxyPort = std::stoi(closed);
        });
        auto links = MakeLinks(c.pages);
        for (auto& link : links) {
            link->SetStatus(StatusOk);
            link->SetCurrentPR(3);
            link->SetPreviousPR(5);
        }
        auto told = std::make_shared<std::atomic<int>>(0);
        CheckRunOptions options;
        options.recorder =
            std::make_shared<const CheckRecorder>([told](const CLink&, const CheckEvidence*) { ++*told; });
        CCheckRun run(Pointers(links), options);
        ASSERT_TRUE(run.Start());
        run.Wait();
        EXPECT_EQ(run.NothingReached(), c.reason);
        EXPECT_EQ(*told, c.reason.empty() ? int(links.size()) : 0) << "what the history heard";
        for (std::size_t i = 0; i < links.size(); ++i) {
            SCOPED_TRACE(links[i]->GetFromPage());
            EXPECT_EQ(links[i]->GetStatus(), c.statuses[i]);
            EXPECT_EQ(run.Progress().Outcomes()[i].checked, c.reason.empty());
            // The PageRank step moves the current rank into the previous one; taken back too.
            EXPECT_EQ(links[i]->GetPreviousPR(), c.reason.empty() ? 3 : 5);
        }
        const NotificationLists lists = CollectScheduledResults(Pointers(links), run.Progress().Outcomes(), 7);
        EXPECT_EQ(lists.changedLinks.size(),
                  c.reason.empty() ? std::size_t(std::count(c.statuses.begin(), c.statuses.end(), StatusCantOpen))
                                   : 0u);
    }
}

TEST(RetryAfter, SecondsAreReadFromTheFinalAnswersHeaders)
{
    const struct
    {
        const char* headers;
        int seconds;
    } cases[] = {
        {"HTTP/1.1 503 Busy\r\nRetry-After: 7\r\n", 7},
        {"HTTP/1.1 429 Slow down\r\nretry-after:\t 120 \r\nX: y\r\n", 120},
        {"HTTP/1.1 503 Busy\r\nRetry-After: Wed, 21 Oct 2026 07:28:00 GMT\r\n", -1},
        {"HTTP/1.1 503 Busy\r\nRetry-After: 99999999999\r\n", -1},
        {"HTTP/1.1 503 Busy\r\nX-Retry-After: 5\r\n", -1},
        {"", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RetryAfterSeconds(c.headers), c.seconds) << c.headers;
}
