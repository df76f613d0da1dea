// Loading and saving a database of 100,000 links and 2,000 partners: start-up waits for the load,
// and the main window saves the whole file every 30 seconds.
#include "SampleDatabase.h"

#include "core/storage/ORXDatabase.h"
#include "core/storage/SafeFile.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// fsync must reach a real disk for the save figures to mean anything, so never a tmpfs by default.
std::filesystem::path BenchDirectory()
{
    const char* env = std::getenv("ORVEX_BENCH_DIR");
    std::filesystem::path dir = env && *env ? env : ORVEX_BENCH_DEFAULT_DIR;
    std::filesystem::create_directories(dir);
    return dir;
}

// Generated once per run, so a changed generator never meets a stale file.
const std::string& SampleFile()
{
    static const std::string path = [] {
        const std::string file = (BenchDirectory() / "sample-100k.orx").string();
        if (!WriteSampleDatabase(file)) {
            std::fprintf(stderr, "cannot write the sample database \"%s\"\n", file.c_str());
            std::exit(1);
        }
        return file;
    }();
    return path;
}

double FileSize(const std::string& path)
{
    return static_cast<double>(std::filesystem::file_size(path));
}

void AddFileCounters(benchmark::State& state, const std::string& path)
{
    const double size = FileSize(path);
    state.counters["file_MB"] = size / 1e6;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

// The file as start-up usually finds it: in the page cache after the last save.
void BM_Load(benchmark::State& state)
{
    const std::string& path = SampleFile();
    std::size_t links = 0;
    for (auto _ : state) {
        auto db = std::make_unique<CORXDatabase>();
        const bool ok = db->Load(path);
        state.PauseTiming();
        if (!ok) {
            state.SkipWithError(("load failed: " + db->GetLastError()).c_str());
            break;
        }
        links = db->GetLinks()->GetCount();
        db.reset(); // freeing 100,000 records is not part of loading them
        state.ResumeTiming();
    }
    if (links != 100000)
        state.SkipWithError("the sample did not load as 100,000 links");
    AddFileCounters(state, path);
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

// The first start after a reboot: the file comes from the disk.
void BM_LoadColdCache(benchmark::State& state)
{
    const std::string& path = SampleFile();
    for (auto _ : state) {
        state.PauseTiming();
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
        auto db = std::make_unique<CORXDatabase>();
        state.ResumeTiming();
        const bool ok = db->Load(path);
        state.PauseTiming();
        if (!ok) {
            state.SkipWithError(("load failed: " + db->GetLastError()).c_str());
            break;
        }
        db.reset();
        state.ResumeTiming();
    }
    AddFileCounters(state, path);
}
BENCHMARK(BM_LoadColdCache)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

// The periodic save: the whole file to the database's own path, synced, the previous one kept as ".bak".
void BM_Save(benchmark::State& state)
{
    const std::string path = (BenchDirectory() / "save-100k.orx").string();
    if (!CopyFileReplacing(SampleFile(), path)) {
        state.SkipWithError("cannot copy the sample database");
        return;
    }
    CORXDatabase db;
    if (!db.Load(path)) {
        state.SkipWithError(("load failed: " + db.GetLastError()).c_str());
        return;
    }
    for (auto _ : state) {
        if (!db.Save()) {
            state.SkipWithError(("save failed: " + db.GetLastError()).c_str());
            break;
        }
    }
    if (!FileExists(path + ".bak"))
        state.SkipWithError("the save kept no \".bak\"");
    AddFileCounters(state, path);
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
