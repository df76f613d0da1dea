// The links list over 100,000 sample links: a full fill with its sort, the rewrite after a check
// run, a header click, the fit of the columns, the filter boxes refilled with 2,000 partners, and
// what the list costs in memory beyond the records.
#include "GuiBenchMain.h"
#include "SampleDatabase.h"

#include "core/platform/SettingsStore.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "core/storage/ORXDatabase.h"
#include "gui/mainwnd/Filters.h"
#include "gui/mainwnd/LinksView.h"

#include <QApplication>
#include <QComboBox>
#include <QCompleter>
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
    const LinkColumn kinds[] = {LinkColumn::Anchor, LinkColumn::FullCost, LinkColumn::End, LinkColumn::Partner};
    std::size_t next = 0;
    for (auto _ : state)
        f.view.OnHeaderClicked(kinds[next++ % std::size(kinds)]);
}

// The fit of the first start: header texts and the first rows of every shown column.
void BM_FitColumns(benchmark::State& state)
{
    ListFixture f;
    for (auto _ : state)
        f.view.FitColumns();
}

// The three filter boxes refilled, as after every choice in them: 2,000 partners, the projects of
// 100,000 links, and the partner box's sorted completion.
void BM_RefreshFilters(benchmark::State& state)
{
    QComboBox project, status, partner;
    std::unique_ptr<ISettingsStore> store = OpenSettingsStore();
    CLinkFilters filters(&project, &status, &partner, *store);
    filters.Attach(Database().GetLinks(), Database().GetPartners());
    for (auto _ : state)
        filters.RefreshFilters();
    state.counters["partners"] = partner.count() - 1;
}

// Typing a word into the partner box among those 2,000 partners: the completion after each of its
// five keystrokes, from a completion that has not seen any of them.
void BM_PartnerCompletion(benchmark::State& state)
{
    QComboBox project, status, partner;
    std::unique_ptr<ISettingsStore> store = OpenSettingsStore();
    CLinkFilters filters(&project, &status, &partner, *store);
    filters.Attach(Database().GetLinks(), Database().GetPartners());
    filters.RefreshFilters();
    QCompleter* completer = filters.GetPartnerCompleter();
    const QString typed = QStringLiteral("laura");
    for (auto _ : state) {
        state.PauseTiming();
        // The completion keeps what it matched for each text typed; this forgets it.
        completer->setCaseSensitivity(Qt::CaseSensitive);
        completer->setCaseSensitivity(Qt::CaseInsensitive);
        state.ResumeTiming();
        for (qsizetype length = 1; length <= typed.size(); ++length) {
            completer->setCompletionPrefix(typed.left(length));
            benchmark::DoNotOptimize(completer->completionCount());
        }
    }
    state.counters["matches"] = completer->completionCount();
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
BENCHMARK(BM_FitColumns)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_RefreshFilters)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_PartnerCompletion)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ListMemory)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

int main(int argc, char** argv)
{
    return RunGuiBenchmarks(argc, argv);
}
