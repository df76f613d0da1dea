// Check runs at the speed of the network: 10,000 links on 1,000 local hosts, every answer after
// 500 ms, robots.txt once per host and a PageRank query per link. With 64 pages in flight and 2
// per site the run should reach 90% of 64 / (requests per link x 0.5 s); the five workers of the
// default 95% of their own bound (measured on the first 1,000 links, the rest would take half an
// hour); the CPU time per checked page of the wide run no more than the default's. The peak
// memory of the process (server included) is printed beside.
#include "PartnerSite.h"
#include "ProcessMemory.h"
#include "fakes/LocalHttpServer.h"

#include "core/fetch/CheckSettings.h"
#include "core/records/Link.h"
#include "core/runs/CheckRuns.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kLinks = 10000;
constexpr int kHosts = 1000;
constexpr int kDefaultLinks = 1000;
constexpr double kDelaySeconds = 0.5;

double CpuSeconds()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Figures
{
    int links = 0;
    double seconds = 0;
    double cpuPerPage = 0;
    double requestsPerLink = 0;
};

Figures Run(CLocalHttpServer& server, std::vector<std::unique_ptr<CLink>>& links, int count, int workers)
{
    CheckSettings settings = GetCheckSettings();
    settings.workers = workers;
    settings.perSite = 2;
    SetCheckSettings(settings);
    std::vector<CLink*> pointers;
    for (int i = 0; i < count; ++i) {
        links[static_cast<std::size_t>(i)]->SetStatus(0);
        pointers.push_back(links[static_cast<std::size_t>(i)].get());
    }
    const std::size_t before = server.RequestsServed();
    const double cpu = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    RunToTheEnd(pointers);
    Figures f;
    f.links = count;
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.cpuPerPage = (CpuSeconds() - cpu) / count;
    f.requestsPerLink = static_cast<double>(server.RequestsServed() - before) / count;
    return f;
}

bool Report(const char* name, const Figures& f, int workers, double goal)
{
    const double bound = workers / (f.requestsPerLink * kDelaySeconds);
    const double rate = f.links / f.seconds;
    const bool met = rate >= goal * bound;
    std::printf("%-22s %6d links in %6.1f s: %5.1f links/s   %.2f requests/link   bound %5.1f   %5.1f%% of it   "
                "goal >= %.0f%%  %s   CPU %.2f ms/page\n",
                name, f.links, f.seconds, rate, f.requestsPerLink, bound, 100.0 * rate / bound, goal * 100,
                met ? "met" : "MISSED", f.cpuPerPage * 1000);
    return met;
}

} // namespace

int main()
{
    const std::unique_ptr<CLocalHttpServer> site = StartPartnerSite(std::chrono::milliseconds(500));
    if (!site)
        return 2;
    CLocalHttpServer& server = *site;

    std::vector<std::unique_ptr<CLink>> links = PartnerSiteLinks(kLinks, kHosts, server.Port());

    std::printf("%d links on %d hosts, every answer after %.0f ms, robots.txt once per host, a PageRank per link\n",
                kLinks, kHosts, kDelaySeconds * 1000);
    std::fflush(stdout);
    const Figures wide = Run(server, links, kLinks, 64);
    const bool a = Report("64 in flight, 2/site", wide, 64, 0.90);
    std::fflush(stdout);
    const Figures narrow = Run(server, links, kDefaultLinks, kDefaultCheckWorkers);
    const bool b = Report("5 in flight (default)", narrow, kDefaultCheckWorkers, 0.95);
    const bool c = wide.cpuPerPage <= narrow.cpuPerPage;
    std::printf("CPU per checked page: %.2f ms with 64 vs %.2f ms with 5   goal: no more  %s\n", wide.cpuPerPage * 1000,
                narrow.cpuPerPage * 1000, c ? "met" : "MISSED");
    std::printf("peak memory of the process (the local server's threads included): %ld MiB\n",
                StatusKiB("VmHWM") / 1024);
    std::printf("100,000 links at the wide run's rate: %.1f minutes\n", 100000.0 / (wide.links / wide.seconds) / 60);
    return a && b && c ? 0 : 1;
}
