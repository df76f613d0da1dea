// The check history with 1,000,000 rows: how fast the window gets one link's timeline, and how
// much the file grows per row. Rows are spread over 10,000 links, a hundred checks each, with
// evidence as checks write it.
#include "core/history/HistoryStore.h"

#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

constexpr int kLinks = 10000;
constexpr int kChecksPerLink = 100;
constexpr int64_t kRows = int64_t(kLinks) * kChecksPerLink;

std::string Key(int link)
{
    return HistoryKey("http://partner" + std::to_string(link % 700) + ".example/links/page" + std::to_string(link) +
                          ".html",
                      "http://mine.example/", "Project " + std::to_string(link % 40));
}

HistoryEntry Check(int link, int check)
{
    HistoryEntry entry;
    entry.time = 1700000000 + int64_t(check) * 7 * 86400 + link;
    entry.httpStatus = 200;
    entry.pageRank = link % 8;
    entry.externalLinks = 10 + link % 50;
    // Most checks find the link; now and then it is nofollow or gone for a while.
    if (check % 25 == 7) {
        entry.status = 0x20;
        entry.evidence =
            "nofollow: rel=\"sponsored\"\nanchor: <a href=\"http://mine.example/\" rel=\"sponsored\">Mine</a>";
    } else if (check % 40 == 13) {
        entry.status = 0x08;
        entry.evidence = "not present: no anchor names http://mine.example/";
    } else {
        entry.status = 0x01;
        entry.evidence = "anchor: <a href=\"http://mine.example/\">Mine</a>";
    }
    return entry;
}

struct Store
{
    std::string dir;
    std::string path;
    std::unique_ptr<CHistoryStore> store;
};

// Built once: a million rows take a while to write.
Store& Filled()
{
    static Store s = [] {
        Store made;
        char pattern[] = "/tmp/orvex-history-bench-XXXXXX";
        made.dir = mkdtemp(pattern);
        made.path = made.dir + "/data.orx.history";
        made.store = std::make_unique<CHistoryStore>(made.path);
        // In the order runs write them: every link once per run.
        for (int check = 0; check < kChecksPerLink; ++check) {
            for (int link = 0; link < kLinks; ++link)
                made.store->Record(Key(link), Check(link, check));
            made.store->Flush();
        }
        return made;
    }();
    return s;
}

void BM_TimelineOfOneLink(benchmark::State& state)
{
    Store& s = Filled();
    int link = 0;
    std::size_t rows = 0;
    for (auto _ : state) {
        rows = s.store->Timeline(Key(link)).size();
        link = (link + 7919) % kLinks;
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = double(rows);
}

void BM_BytesPerRow(benchmark::State& state)
{
    Store& s = Filled();
    for (auto _ : state) {
        // What the file and its log take on the disk, per row kept.
        std::uintmax_t bytes = std::filesystem::file_size(s.path);
        std::error_code ec;
        const std::uintmax_t wal = std::filesystem::file_size(s.path + "-wal", ec);
        if (!ec)
            bytes += wal;
        state.counters["bytes_per_row"] = double(bytes) / double(kRows);
        state.counters["rows"] = double(kRows);
    }
}

} // namespace

BENCHMARK(BM_TimelineOfOneLink)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_BytesPerRow)->Iterations(1);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(Filled().dir);
    return 0;
}
