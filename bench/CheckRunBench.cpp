// Check runs against slow partner sites: 1,000 links on 100 hosts of a local server that answers
// every request after 50 ms. Five workers can at best finish 5 / (requests per link x 50 ms) links
// a second; both the interactive and the unattended run should reach 90% of that bound. Then the
// unattended run side by side with and without the check history: at most 2% slower with it.
#include "PartnerSite.h"
#include "fakes/LocalHttpServer.h"

#include "core/fetch/CheckSettings.h"
#include "core/history/CheckHistory.h"
#include "core/history/HistoryStore.h"
#include "core/records/Link.h"
#include "core/runs/CheckRuns.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kLinks = 1000;
constexpr int kHosts = 100;
constexpr double kDelaySeconds = 0.050;

struct Figures
{
    double seconds = 0;
    std::size_t requests = 0;
};

template <class Run> Figures Measure(CLocalHttpServer& server, std::vector<std::unique_ptr<CLink>>& links, Run run)
{
    std::vector<CLink*> pointers;
    for (auto& l : links) {
        l->SetStatus(0);
        pointers.push_back(l.get());
    }
    const std::size_t before = server.RequestsServed();
    const auto start = std::chrono::steady_clock::now();
    run(pointers);
    Figures f;
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.requests = server.RequestsServed() - before;
    return f;
}

bool Report(const char* name, const Figures& f)
{
    const double perLink = static_cast<double>(f.requests) / kLinks;
    const double bound = kDefaultCheckWorkers / (perLink * kDelaySeconds);
    const double rate = kLinks / f.seconds;
    const bool met = rate >= 0.9 * bound;
    std::printf("%-18s %7.1f links/s   %.2f requests/link   bound %.1f links/s   %5.1f%% of it   goal >= 90%%  %s\n",
                name, rate, perLink, bound, 100.0 * rate / bound, met ? "met" : "MISSED");
    return met;
}

// Off, on, on, off, off, on: a drift of the machine over the minutes weighs on both sides alike.
bool CompareHistory(CLocalHttpServer& server, std::vector<std::unique_ptr<CLink>>& links)
{
    char pattern[] = "/tmp/orvex-bench-history-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::fprintf(stderr, "cannot make a folder for the history\n");
        return false;
    }
    const std::string folder = pattern;
    auto store = std::make_shared<CHistoryStore>(CHistoryStore::PathFor(folder + "/data.orx"));
    double seconds[2] = {0, 0};
    for (const bool on : {false, true, true, false, false, true}) {
        SetCheckRecorder(on ? HistoryRecorder(store) : CheckRecorder());
        seconds[on] += Measure(server, links, RunToTheEnd).seconds;
        if (on)
            store->Flush(); // the writer's work counts on the side that made it
    }
    SetCheckRecorder({});
    const std::size_t rows = store->Keys().size();
    const std::string problem = store->Problem();
    store.reset();
    std::filesystem::remove_all(folder);
    if (!problem.empty() || rows != kLinks) {
        std::fprintf(stderr, "the history was not written: %s (%zu links)\n", problem.c_str(), rows);
        return false;
    }
    const double slower = 100.0 * (seconds[1] - seconds[0]) / seconds[0];
    const bool met = slower <= 2.0;
    std::printf("history on vs off  %7.2f s vs %.2f s over 3 runs each   %+5.2f%%   goal <= +2%%  %s\n", seconds[1],
                seconds[0], slower, met ? "met" : "MISSED");
    return met;
}

} // namespace

int main()
{
    const std::unique_ptr<CLocalHttpServer> site = StartPartnerSite(std::chrono::milliseconds(50));
    if (!site)
        return 2;
    CLocalHttpServer& server = *site;

    std::vector<std::unique_ptr<CLink>> links = PartnerSiteLinks(kLinks, kHosts, server.Port());

    const Figures interactive = Measure(server, links, [](const std::vector<CLink*>& all) {
        RunInteractiveCheck(
            all, [](const CheckProgress&) { return true; }, 100);
    });
    const Figures unattended = Measure(server, links, [](const std::vector<CLink*>& all) {
        // What the unattended run does before its letter: the same pool, then the lists in link order.
        CCheckRun run(all);
        if (!run.Start())
            run.CheckOnThisThread();
        run.Wait();
        CollectScheduledResults(all, run.Progress().Outcomes(), 7);
    });
    std::printf("%d links on %d hosts, every answer after %.0f ms, %d workers\n", kLinks, kHosts, kDelaySeconds * 1000,
                kDefaultCheckWorkers);
    const bool a = Report("interactive run", interactive);
    const bool b = Report("unattended run", unattended);
    return a && b && CompareHistory(server, links) ? 0 : 1;
}
