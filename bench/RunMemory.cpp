// The peak memory of a check run with 64 pages in flight when every partner page is 5 MiB stuffed
// with anchors: 256 links on 128 local sites, two at once per site, all answered at once by a
// server in a child process, so that only the checking process is measured. Every link must come
// out Ok: holding pages back to save memory must not change a verdict. Usage:
//   orvex-bench-run-memory [distinct|short|listed] [workers]
#include "PartnerSite.h"
#include "ProcessMemory.h"
#include "StuffedPage.h"
#include "fakes/LocalHttpServer.h"

#include "core/fetch/CheckSettings.h"
#include "core/fetch/PageBudget.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/runs/CheckRuns.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kLinks = 256;
constexpr int kHosts = 128;
constexpr long kGoalMiB = 400;

// Serves the stuffed page for every page and an empty robots.txt; writes its port to `portOut`
// and answers until killed.
[[noreturn]] void Serve(const std::string& kind, int portOut)
{
    std::size_t anchors = 0;
    const auto page = std::make_shared<const std::string>(MakeStuffedPage(kind, &anchors));
    const auto robots = std::make_shared<const std::string>("");
    CLocalHttpServer server([page, robots](const LocalHttpRequest& request) {
        LocalHttpResponse response;
        if (request.target == "/robots.txt") {
            response.contentType = "text/plain";
            response.body = robots;
        } else {
            response.body = page;
        }
        return response;
    });
    std::string error;
    int port = 0;
    if (server.Start(&error))
        port = server.Port();
    else
        std::fprintf(stderr, "cannot start the local server: %s\n", error.c_str());
    if (write(portOut, &port, sizeof port) != sizeof port || port == 0)
        _exit(1);
    for (;;)
        pause();
}

} // namespace

int main(int argc, char** argv)
{
    const std::string kind = argc > 1 ? argv[1] : "distinct";
    const int workers = argc > 2 ? std::atoi(argv[2]) : 64;
    if (!IsStuffedPageKind(kind) || workers < 1 || workers > 64) {
        std::fprintf(stderr, "usage: orvex-bench-run-memory [distinct|short|listed] [workers 1-64]\n");
        return 2;
    }
    int fds[2];
    if (pipe(fds) != 0)
        return 2;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        Serve(kind, fds[1]);
    }
    close(fds[1]);
    int port = 0;
    if (child < 0 || read(fds[0], &port, sizeof port) != sizeof port || port == 0) {
        std::fprintf(stderr, "the local server did not start\n");
        return 2;
    }

    CheckSettings settings;
    settings.workers = workers;
    settings.perSite = 2;
    SetCheckSettings(settings);
    std::vector<std::unique_ptr<CLink>> links;
    std::vector<CLink*> pointers;
    for (int i = 0; i < kLinks; ++i) {
        auto link = std::make_unique<CLink>();
        link->SetFromPage("http://partner" + std::to_string(i % kHosts) + ".localhost:" + std::to_string(port) +
                          "/links" + std::to_string(i) + ".html");
        link->SetToPage("http://mine.example/");
        link->SetAnchor("mine");
        link->SetLastPaymentDate(OleDateTime::Today());
        link->SetPeriod(OleDateTimeSpan(365));
        pointers.push_back(link.get());
        links.push_back(std::move(link));
    }
    const long before = StatusKiB("VmHWM");
    const auto start = std::chrono::steady_clock::now();
    RunToTheEnd(pointers);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long peak = StatusKiB("VmHWM");
    const std::size_t textPeak = TakePageTextPeak();
    const int walksPeak = TakeWalksPeak();
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);

    int ok = 0;
    for (const auto& link : links)
        ok += link->GetStatus() == StatusOk ? 1 : 0;
    const bool met = peak / 1024 <= kGoalMiB;
    std::printf("%-8s %d links on %d sites, %d in flight: %5.1f s, %d Ok, peak %4ld MiB (%ld MiB before the run)  "
                "goal <= %ld MiB  %s\n",
                kind.c_str(), kLinks, kHosts, workers, seconds, ok, peak / 1024, before / 1024, kGoalMiB,
                met ? "met" : "MISSED");
    std::printf("         page text held at most %zu MiB (budget %zu), walks at once at most %d\n", textPeak >> 20,
                GetPageBudgetLimits().textBytes >> 20, walksPeak);
    return met && ok == kLinks ? 0 : 1;
}
