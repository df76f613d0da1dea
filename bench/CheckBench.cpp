// Fetch-and-check throughput: five threads, as an interactive check run has, each fetch a share of
// 2,000 generated pages from a local keep-alive server and walk them for the link rules. The
// server runs in this process and shares the machine's cores with the checkers, so the figure is
// a lower bound of what a real run spends on our side of the network.
#include "fakes/LocalHttpServer.h"

#include "core/fetch/CheckSettings.h"
#include "core/fetch/Fetch.h"
#include "core/page/LinkCheck.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr int kThreads = 5;
constexpr std::size_t kPages = 2000;
constexpr std::size_t kPageBytes = 20 * 1024;
constexpr int kAnchorsPerPage = 36;
const std::string kToPage = "http://www.orvex-client.example/landing.html";
const std::string kAnchorText = "Cheap garden tools";

CLocalHttpServer* g_server = nullptr;

void BM_FetchAndScan(benchmark::State& state)
{
    const std::string base = "http://" + g_server->HostPort() + "/page/";
    const std::size_t share = kPages / static_cast<std::size_t>(state.threads());
    const std::size_t first = share * static_cast<std::size_t>(state.thread_index());

    std::string text;
    std::string headers;
    uint32_t status = 0;
    std::size_t pages = 0;
    std::size_t found = 0;
    for (auto _ : state) {
        for (std::size_t i = first; i < first + share; ++i) {
            const std::string url = base + std::to_string(i) + ".html";
            headers.clear();
            if (!FetchPageText(url, text, status, &headers, kMaxPageLength) || !IsHttpSuccess(status)) {
                state.SkipWithError(("fetch failed: " + url).c_str());
                return;
            }
            PageFindings findings;
            if (!ScanPage(url, text, headers, kToPage, kAnchorText, findings)) {
                state.SkipWithError(("page not parsed: " + url).c_str());
                return;
            }
            found += findings.found ? 1 : 0;
            benchmark::DoNotOptimize(findings);
            ++pages;
        }
    }
    // Every even page carries the link; a walk that stops finding it has stopped doing the work.
    if (found * 2 != pages) {
        state.SkipWithError(
            ("link found on " + std::to_string(found) + " of " + std::to_string(pages) + " pages, expected half")
                .c_str());
        return;
    }
    // Summed over the threads and divided by the wall time: pages per second of the whole run.
    state.counters["pages/s"] = benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_FetchAndScan)
    ->Threads(kThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->Repetitions(3)
    ->DisplayAggregatesOnly(true);

int main(int argc, char** argv)
{
    auto pages = GenerateLinkPages(kPages, kPageBytes, kAnchorsPerPage, kToPage, kAnchorText);
    std::size_t totalBytes = 0;
    for (const auto& page : pages)
        totalBytes += page->size();
    std::printf("%zu pages of %zu bytes on average, %d anchors each\n", pages.size(), totalBytes / pages.size(),
                kAnchorsPerPage);
    CLocalHttpServer server(PagesHandler(std::move(pages)));
    std::string error;
    if (!server.Start(&error)) {
        std::fprintf(stderr, "local HTTP server: %s\n", error.c_str());
        return 1;
    }
    g_server = &server;
    // A proxy from the environment or the settings would put a hop between us and 127.0.0.1.
    CheckSettings settings;
    settings.useProxy = false;
    SetCheckSettings(settings);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("server answered %zu requests\n", server.RequestsServed());
    return 0;
}
