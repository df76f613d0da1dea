// Find over the links list of 100,000 sample links when only the last row shows the text: every
// shown cell of every row is read, upper-cased unless the case must match, before the row is
// selected and scrolled to.
#include "GuiBenchMain.h"
#include "SampleDatabase.h"

#include "core/platform/SettingsStore.h"
#include "core/records/LinksManager.h"
#include "core/storage/ORXDatabase.h"
#include "gui/mainwnd/LinksView.h"
#include "gui/mainwnd/ListSearch.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <memory>

namespace {

// Found in no sample text, in either letter case.
constexpr const char* kNeedle = "Qz7 needle Wx";
// Like a date, but of no day.
constexpr const char* kDateLike = "19/99/1";

// A view as the main window holds it, with the default layout; the comment of the link on the
// last row carries the text.
struct FindFixture
{
    CORXDatabase database;
    std::unique_ptr<ISettingsStore> store = OpenSettingsStore();
    CLinksView view{*store};
    int lastRow = -1;

    FindFixture()
    {
        FillSampleDatabase(database);
        view.resize(1200, 800);
        view.Attach(database.GetLinks(), database.GetPartners());
        lastRow = view.GetRowCount() - 1;
        CLink* last = view.GetLink(lastRow);
        last->SetComment(last->GetComment() + " " + kNeedle + " " + kDateLike);
        view.FillList(false);
    }
};

FindFixture& Fixture()
{
    static FindFixture* fixture = new FindFixture;
    return *fixture;
}

void FindOnTheLastRow(benchmark::State& state, const FindRequest& request)
{
    FindFixture& f = Fixture();
    CListSearch search(f.view);
    for (auto _ : state) {
        state.PauseTiming();
        f.view.SelectOnly(0);
        state.ResumeTiming();
        if (!search.FindText(request)) {
            state.SkipWithError("the text was not found");
            return;
        }
    }
    if (f.view.GetSelectedRows() != std::vector<int>{f.lastRow})
        state.SkipWithError("a row other than the last one was selected");
    state.counters["rows"] = f.view.GetRowCount();
}

// The dialog's default: both texts upper-cased.
void BM_FindIgnoringCase(benchmark::State& state)
{
    FindOnTheLastRow(state, {QStringLiteral("qz7 NEEDLE wx"), false});
}

void BM_FindMatchCase(benchmark::State& state)
{
    FindOnTheLastRow(state, {QString::fromLatin1(kNeedle), true});
}

// Digits and slashes, as a date shows them: every date and number cell is worked out too.
void BM_FindDateLikeText(benchmark::State& state)
{
    FindOnTheLastRow(state, {QString::fromLatin1(kDateLike), false});
}

} // namespace

BENCHMARK(BM_FindIgnoringCase)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_FindMatchCase)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_FindDateLikeText)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

int main(int argc, char** argv)
{
    return RunGuiBenchmarks(argc, argv);
}
