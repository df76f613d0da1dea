// The links list over 100,000 sample links: a full fill with its sort, the rewrite after a check
// run, a header click, and what the list costs in memory beyond the records.
#include "GuiBenchMain.h"
#include "SampleDatabase.h"

#include "mainwnd/LinksView.h"
#include "platform/SettingsStore.h"
#include "records/LinksManager.h"
#include "records/PartnersManager.h"
#include "storage/ORXDatabase.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <memory>

namespace {

CORXDatabase& Database()
{
    static CORXDatabase* db = [] {
        auto* d = new CORXDatabase();
        FillSampleDatabase(*d);
        return d;
    }();
    return *db;
}

// A view as the main window holds it, with the default layout (sorted by project, descending).
struct ListFixture
{
    std::unique_ptr<ISettingsStore> store = OpenSettingsStore();
    CLinksView view{*store};

    ListFixture()
    {
        view.resize(1200, 800);
        view.Attach(Database().GetLinks(), Database().GetPartners());
    }
};

void BM_FillListFull(benchmark::State& state)
{
    ListFixture f;
    for (auto _ : state)
        f.view.FillList(true);
    state.counters["rows"] = f.view.GetRowCount();
}

// A check run changed 2% of the statuses; the list rewrites those rows.
void BM_FillListUpdate(benchmark::State& state)
{
    ListFixture f;
    const std::vector<CLink*> links = Database().GetLinks()->GetLinks();
    uint32_t flip = 0;
    for (auto _ : state) {
        state.PauseTiming();
        flip ^= 1;
        for (std::size_t i = 0; i < links.size(); i += 50)
            links[i]->SetStatus(flip ? StatusCantOpen : StatusOk);
        state.ResumeTiming();
        f.view.FillList(false);
    }
}

void BM_HeaderClickResort(benchmark::State& state)
{
    ListFixture f;
    const int kinds[] = {ColumnAnchor, ColumnFullCost, ColumnEnd, ColumnPartner};
    std::size_t next = 0;
    for (auto _ : state)
        f.view.OnHeaderClicked(kinds[next++ % std::size(kinds)]);
}

void BM_ListMemory(benchmark::State& state)
{
    Database();
    for (auto _ : state) {
        const std::size_t before = mallinfo2().uordblks;
        auto f = std::make_unique<ListFixture>();
        const std::size_t after = mallinfo2().uordblks;
        state.counters["list_MB"] = static_cast<double>(after - before) / (1024.0 * 1024.0);
        state.PauseTiming();
        f.reset();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(BM_FillListFull)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_FillListUpdate)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_HeaderClickResort)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ListMemory)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

int main(int argc, char** argv)
{
    return RunGuiBenchmarks(argc, argv);
}
