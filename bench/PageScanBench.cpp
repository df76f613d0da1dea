// The page walk against the parser alone, on one large page stitched together from the HTML
// documentation installed on this machine (ORVEX_BENCH_HTML_DIR overrides /usr/share/doc).
// The walk should cost little beyond the parse: compare the two medians.
#include "core/page/LinkCheck.h"

#include <benchmark/benchmark.h>
#include <gumbo.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kPageSize = 6 * 1024 * 1024;

std::string BodyOf(const std::string& text)
{
    std::size_t start = 0;
    std::size_t open = text.find("<body");
    if (open != std::string::npos) {
        const std::size_t gt = text.find('>', open);
        start = gt == std::string::npos ? text.size() : gt + 1;
    }
    std::size_t end = text.rfind("</body>");
    if (end == std::string::npos || end < start)
        end = text.size();
    return text.substr(start, end - start);
}

const std::string& Page()
{
    static const std::string page = [] {
        const char* env = std::getenv("ORVEX_BENCH_HTML_DIR");
        const std::filesystem::path root = env && *env ? env : "/usr/share/doc";
        std::vector<std::filesystem::path> files;
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(
                 root, std::filesystem::directory_options::skip_permission_denied, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            const std::string ext = it->path().extension().string();
            // A single giant file would make the page one document's style; many smaller ones mix.
            if ((ext == ".html" || ext == ".htm") && it->is_regular_file(ec) && it->file_size(ec) < 2'000'000)
                files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        std::string out = "<!DOCTYPE html><html><head><title>bench</title></head><body>\n";
        for (const auto& file : files) {
            if (out.size() >= kPageSize)
                break;
            std::ifstream in(file, std::ios::binary);
            out += BodyOf(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
            out += "\n";
        }
        out += "<p><a href=\"https://www.gnu.org/licenses/\">GNU licenses</a></p></body></html>\n";
        return out;
    }();
    return page;
}

bool PageIsUsable(benchmark::State& state)
{
    if (Page().size() < 4 * 1024 * 1024) {
        state.SkipWithError("less than 4 MB of HTML documentation found; set ORVEX_BENCH_HTML_DIR");
        return false;
    }
    return true;
}

void BM_GumboParseOnly(benchmark::State& state)
{
    if (!PageIsUsable(state))
        return;
    const std::string& page = Page();
    for (auto _ : state) {
        GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
        benchmark::DoNotOptimize(output);
        gumbo_destroy_output(&kGumboDefaultOptions, output);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
    state.counters["bytes"] = static_cast<double>(page.size());
}

void BM_ScanPage(benchmark::State& state)
{
    if (!PageIsUsable(state))
        return;
    const std::string& page = Page();
    PageFindings findings;
    for (auto _ : state) {
        const bool ok = ScanPage("http://partner.example/docs/index.html", page, "HTTP/1.1 200 OK\r\n\r\n",
                                 "www.gnu.org/licenses/", "gnu licenses", findings);
        benchmark::DoNotOptimize(ok);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
    state.counters["anchors"] = static_cast<double>(findings.externalLinks);
    state.counters["found"] = findings.found ? 1 : 0;
}

BENCHMARK(BM_GumboParseOnly)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_ScanPage)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
