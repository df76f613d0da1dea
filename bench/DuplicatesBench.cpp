// The duplicate search over 100,000 links, a fifth of them in duplicate sets: the window's
// "Find" button waits for it.
#include "core/records/Link.h"
#include "core/search/Duplicates.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kLinks = 100000;
constexpr std::size_t kInGroups = kLinks / 5;

struct Sample
{
    std::vector<std::unique_ptr<CLink>> owned;
    std::vector<const CLink*> links;
};

std::unique_ptr<CLink> MakeLink(std::string project, std::string from, std::string to)
{
    auto link = std::make_unique<CLink>();
    link->SetProject(std::move(project));
    link->SetFromPage(std::move(from));
    link->SetToPage(std::move(to));
    return link;
}

// Partner pages spread over 3,000 sites; the duplicates are copies of a page and target written
// with and without "www." and in other letter cases, so the search has to see through both.
const Sample& Links()
{
    static const Sample sample = [] {
        Sample s;
        std::mt19937_64 random(20061);
        const auto page = [&](std::size_t n) {
            return "http://partner" + std::to_string(n % 3000) + ".example.com/links/page" + std::to_string(n) +
                   ".html";
        };
        const auto target = [&](std::size_t n) {
            return "http://www.shop" + std::to_string(n % 40) + ".example.org/item" + std::to_string(n % 997) + ".html";
        };
        std::size_t n = 0;
        while (s.owned.size() < kInGroups) {
            const std::size_t size = 2 + random() % 3;
            const std::string from = page(n);
            const std::string to = target(n);
            for (std::size_t i = 0; i < size && s.owned.size() < kInGroups; ++i) {
                std::string fromCopy = from;
                if (i % 2 == 1)
                    fromCopy.insert(7, "www.");
                if (i == 2)
                    for (char& c : fromCopy)
                        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
                s.owned.push_back(MakeLink("Project " + std::to_string(n % 30), fromCopy, to));
            }
            ++n;
        }
        while (s.owned.size() < kLinks) {
            s.owned.push_back(MakeLink("Project " + std::to_string(n % 30), page(n), target(n)));
            ++n;
        }
        std::shuffle(s.owned.begin(), s.owned.end(), random);
        for (const auto& link : s.owned)
            s.links.push_back(link.get());
        return s;
    }();
    return sample;
}

void BM_FindDuplicates(benchmark::State& state)
{
    const Sample& sample = Links();
    for (auto _ : state) {
        const std::string report = DuplicatesReport(sample.links, true, false);
        benchmark::DoNotOptimize(report.data());
    }
    state.counters["groups"] = static_cast<double>(FindDuplicateGroups(sample.links, true, false).size());
}
BENCHMARK(BM_FindDuplicates)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
