// Check runs over many links: five workers at most, Stop, per-link outcomes in list order, the
// letter lists of the unattended run and the date refresh.
#include "LocalHttpServer.h"

#include "checking/CheckRuns.h"
#include "checking/CheckSettings.h"
#include "records/Link.h"
#include "records/LinkStatus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
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

std::vector<std::unique_ptr<CLink>> MakeLinks(const SlowPartnerSite& site, int count)
{
    std::vector<std::unique_ptr<CLink>> links;
    for (int i = 0; i < count; ++i) {
        auto link = std::make_unique<CLink>();
        link->SetFromPage(site.PageUrl(i));
        link->SetToPage("http://mine.localhost/");
        link->SetAnchor("*");
        link->SetLastPaymentDate(OleDateTime::Today());
        link->SetPeriod(OleDateTimeSpan(365));
        link->SetStatus(StatusNotPresent);
        links.push_back(std::move(link));
    }
    return links;
}

std::vector<CLink*> Pointers(const std::vector<std::unique_ptr<CLink>>& links)
{
    std::vector<CLink*> result;
    for (const auto& l : links)
        result.push_back(l.get());
    return result;
}

class CheckRunsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_saved = GetCheckSettings();
        CheckSettings settings;
        settings.connectTimeoutSeconds = 5;
        settings.requestTimeoutSeconds = 10;
        SetCheckSettings(settings);
    }
    void TearDown() override { SetCheckSettings(m_saved); }

    CheckSettings m_saved;
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
            lastDone = p.done.load();
            return true;
        },
        50);
    EXPECT_EQ(lastDone, 12);
    EXPECT_EQ(site.PagesServed(), 12);
    EXPECT_LE(site.MaxInFlight(), CCheckRun::kWorkers);
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
        Pointers(links), [&](const CheckProgress& p) { return ++ticks < 3 && p.done.load() < 3; }, 20);
    const int checked = static_cast<int>(
        std::count_if(links.begin(), links.end(), [](const auto& l) { return l->GetStatus() == StatusOk; }));
    EXPECT_GE(checked, 1);
    EXPECT_LT(checked, 40);
    EXPECT_EQ(site.PagesServed(), checked); // nothing still running after the call returned
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(site.PagesServed(), checked);
}

TEST_F(CheckRunsTest, AnEmptyRunEndsAtTheFirstTick)
{
    int ticks = 0;
    RunInteractiveCheck(
        {},
        [&](const CheckProgress& p) {
            ++ticks;
            EXPECT_EQ(p.total.load(), 0);
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
    const NotificationLists lists = CollectScheduledResults(Pointers(links), run.Progress().outcomes, 7);
    // Not present -> Ok is good news and is not mailed; Ok -> Not present is.
    ASSERT_EQ(lists.changedLinks.size(), 2u);
    EXPECT_EQ(lists.changedLinks[0], links[6].get());
    EXPECT_EQ(lists.changedLinks[1], links[7].get()); // Not present -> Expiring
    ASSERT_EQ(lists.expiringLinks.size(), 1u);
    EXPECT_EQ(lists.expiringLinks[0], links[7].get());
    EXPECT_TRUE(run.Progress().outcomes[0].statusChanged);
    EXPECT_FALSE(run.Progress().outcomes[2].statusChanged);
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
    links.push_back(make(StatusOk, 40, 31));         // its expiry date passed: Expired, mailed
    links.push_back(make(0, 1, 365));                // never checked: Ok, not mailed
    links.push_back(make(StatusNotPresent, 40, 31)); // a problem stays as it is
    links.push_back(make(StatusExpiring, 1, 365));   // renewed: back to Ok, not mailed
    const NotificationLists lists = RefreshLinkDates(Pointers(links), 7);
    EXPECT_EQ(links[0]->GetStatus(), StatusExpired);
    EXPECT_EQ(links[1]->GetStatus(), StatusOk);
    EXPECT_EQ(links[2]->GetStatus(), StatusNotPresent);
    EXPECT_EQ(links[3]->GetStatus(), StatusOk);
    ASSERT_EQ(lists.changedLinks.size(), 1u);
    EXPECT_EQ(lists.changedLinks[0], links[0].get());
    ASSERT_EQ(lists.expiringLinks.size(), 2u); // expired links count as expiring too
    EXPECT_EQ(lists.expiringLinks[0], links[0].get());
    EXPECT_EQ(lists.expiringLinks[1], links[2].get());
}
