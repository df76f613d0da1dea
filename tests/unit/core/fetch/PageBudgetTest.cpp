// The memory the pages of a run take is bounded: readers that each hold part of the text budget
// all get to the end of their page without going far beyond it, walks run in turn on walkers of
// their own, and a page that waited for memory is not timed out for it, while a slow site still is.
#include "core/fetch/PageBudget.h"
#include "core/fetch/CheckSettings.h"
#include "core/page/LinkCheck.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/records/OleDateTime.h"

#include "fakes/LocalHttpServer.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class PageBudgetTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_limits = GetPageBudgetLimits();
        m_settings = GetCheckSettings();
        TakePageTextPeak();
        TakeWalksPeak();
    }
    void TearDown() override
    {
        SetPageBudgetLimits(m_limits);
        SetCheckSettings(m_settings);
    }
    static void Limit(std::size_t textBytes, std::size_t walkBytes, int walks)
    {
        PageBudgetLimits limits;
        limits.textBytes = textBytes;
        limits.walkBytes = walkBytes;
        limits.walks = walks;
        SetPageBudgetLimits(limits);
    }

    // A link whose page names it, on a local server that answers after `delay` and falls silent
    // for `pause` half way through the page.
    struct Site
    {
        Site(std::chrono::milliseconds delay, std::chrono::milliseconds pause)
            : server(
                  [pause](const LocalHttpRequest& request) {
                      LocalHttpResponse response;
                      if (request.target == "/robots.txt") {
                          response.status = 404;
                          return response;
                      }
                      std::string page;
                      for (int i = 0; i < 20000; ++i)
                          page += "<p>Partners</p>\n";
                      response.body =
                          std::make_shared<const std::string>(page + "<a href=\"http://mine.localhost/\">mine</a>\n");
                      response.pauseAfter = page.size() / 2;
                      response.pause = pause;
                      return response;
                  },
                  [delay] {
                      CLocalHttpServer::Options options;
                      options.responseDelay = delay;
                      return options;
                  }())
        {
            EXPECT_TRUE(server.Start());
            link.SetFromPage("http://" + server.HostPort() + "/links.html");
            link.SetToPage("http://mine.localhost/");
            link.SetAnchor("mine");
            link.SetLastPaymentDate(OleDateTime::Today());
            link.SetPeriod(OleDateTimeSpan(365));
        }
        CLocalHttpServer server;
        CLink link;
    };

    PageBudgetLimits m_limits;
    CheckSettings m_settings;
    testsupport::NoProxyEnvironment m_noProxy;
};

} // namespace

TEST_F(PageBudgetTest, ReadersThatEachHoldPartOfTheBudgetAllGetToTheEndWithinIt)
{
    constexpr std::size_t kBudget = 1 << 20;
    constexpr std::size_t kPage = 600 * 1024;
    constexpr std::size_t kStep = 16 * 1024;
    Limit(kBudget, 64u << 20, 0);
    // Eight readers of pages bigger than half the budget: they run out of room half way, and
    // pages read to their end are held a while before they go, as pages waiting for a walk are.
    std::vector<std::thread> readers;
    std::atomic<int> finished{0};
    for (int i = 0; i < 8; ++i)
        readers.emplace_back([&] {
            CPageLease lease;
            std::string page;
            while (page.size() < kPage) {
                ASSERT_TRUE(lease.Fit(page, kStep, nullptr));
                page.append(kStep, 'x');
            }
            lease.EndGrowth();
            std::this_thread::sleep_for(30ms);
            lease.Drop(page);
            ++finished;
        });
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(finished.load(), 8);
    EXPECT_EQ(PageTextHeld(), 0u);
    // One reader at a time may go beyond, by no more than its page's growth (1 MiB here).
    EXPECT_LE(TakePageTextPeak(), kBudget + (1u << 20));
}

TEST_F(PageBudgetTest, AReaderWaitingForRoomGivesUpWhenCancelled)
{
    Limit(64 * 1024, 64u << 20, 0);
    CPageLease held;
    std::string full;
    ASSERT_TRUE(held.Fit(full, 64 * 1024, nullptr));
    held.EndGrowth();
    std::atomic<bool> cancelled{false};
    auto waiter = std::async(std::launch::async, [&] {
        CPageLease lease;
        std::string page;
        const bool fitted = lease.Fit(page, 1024, &cancelled);
        return std::make_pair(fitted, page.capacity() > std::string().capacity());
    });
    EXPECT_EQ(waiter.wait_for(300ms), std::future_status::timeout);
    cancelled = true;
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    const auto [fitted, grown] = waiter.get();
    EXPECT_FALSE(fitted);
    EXPECT_FALSE(grown);
    held.Drop(full);
    EXPECT_EQ(PageTextHeld(), 0u);
}

TEST_F(PageBudgetTest, WalksRunInTurnOnWalkersOfTheirOwn)
{
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::atomic<int> onCaller{0};
    const auto walkMany = [&](std::size_t textBytes) {
        running = 0;
        most = 0;
        std::vector<std::thread> callers;
        for (int i = 0; i < 6; ++i)
            callers.emplace_back([&, textBytes] {
                const auto caller = std::this_thread::get_id();
                WalkInTurn(textBytes, [&] {
                    if (std::this_thread::get_id() == caller)
                        ++onCaller;
                    const int now = ++running;
                    int seen = most.load();
                    while (now > seen && !most.compare_exchange_weak(seen, now)) {
                    }
                    std::this_thread::sleep_for(30ms);
                    --running;
                });
            });
        for (std::thread& caller : callers)
            caller.join();
        return most.load();
    };
    // Small pages: as many at once as there are walkers.
    Limit(64u << 20, 64u << 20, 2);
    EXPECT_EQ(walkMany(1000), 2);
    // Pages whose trees would not fit side by side: one at a time.
    Limit(64u << 20, 10u << 20, 2);
    EXPECT_EQ(walkMany(1u << 20), 1);
    EXPECT_EQ(onCaller.load(), 0);
    EXPECT_THROW(WalkInTurn(10, [] { throw std::runtime_error("bad page"); }), std::runtime_error);
}

TEST_F(PageBudgetTest, APageThatWaitedForMemoryIsNotTimedOutForIt)
{
    // The site sends the first half at once and the rest 4 s later; the reader waits 3 s for
    // memory after the first piece, so the site kept it waiting 1 s, within the 2 s allowed.
    Site site(0ms, 4000ms);
    CheckSettings settings;
    settings.requestTimeoutSeconds = 2;
    SetCheckSettings(settings);
    // Every byte of the budget is held by a page read to its end, so the reader must wait.
    Limit(64 * 1024, 64u << 20, 0);
    CPageLease held;
    std::string full;
    ASSERT_TRUE(held.Fit(full, 64 * 1024, nullptr));
    held.EndGrowth();
    auto check = std::async(std::launch::async, [&] {
        bool changed = false;
        CheckEvidence evidence;
        CheckLink(&site.link, changed, false, &evidence);
        return evidence.fetchError;
    });
    EXPECT_EQ(check.wait_for(3000ms), std::future_status::timeout);
    held.Drop(full);
    ASSERT_EQ(check.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(check.get(), "");
    EXPECT_EQ(site.link.GetStatus(), uint32_t(StatusOk));
}

TEST_F(PageBudgetTest, ASiteSilentLongerThanTheTimeOutIsStillTimedOut)
{
    Site site(0ms, 3000ms);
    CheckSettings settings;
    settings.requestTimeoutSeconds = 1;
    SetCheckSettings(settings);
    bool changed = false;
    CheckEvidence evidence;
    CheckLink(&site.link, changed, false, &evidence);
    EXPECT_EQ(site.link.GetStatus(), uint32_t(StatusCantOpen));
    EXPECT_EQ(evidence.fetchError.rfind("time-out (Operation timed out after ", 0), 0u) << evidence.fetchError;
}
