// How much memory loading a database takes at its peak, measured in a process that does nothing
// else. Usage:
//   orvex-bench-load-memory --generate FILE   writes the 100,000-link sample database to FILE
//   orvex-bench-load-memory FILE              loads FILE and reports the peak against the file size
#include "ProcessMemory.h"
#include "SampleDatabase.h"

#include "core/storage/ORXDatabase.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <new>
#include <string>
#include <string_view>

namespace {

// Every C++ allocation is counted, so the heap peak covers exactly what the load itself holds at
// once, temporaries included.
std::atomic<std::size_t> g_heapInUse{0};
std::atomic<std::size_t> g_heapPeak{0};

void* CountedAlloc(std::size_t size)
{
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    const std::size_t usable = malloc_usable_size(p);
    const std::size_t now = g_heapInUse.fetch_add(usable) + usable;
    std::size_t peak = g_heapPeak.load();
    while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void CountedFree(void* p) noexcept
{
    if (!p)
        return;
    g_heapInUse.fetch_sub(malloc_usable_size(p));
    std::free(p);
}

std::size_t MallocInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

double MB(double bytes)
{
    return bytes / 1e6;
}

int Usage()
{
    std::fprintf(stderr, "usage: orvex-bench-load-memory [--generate] FILE\n");
    return 2;
}

} // namespace

void* operator new(std::size_t size)
{
    return CountedAlloc(size);
}

void* operator new[](std::size_t size)
{
    return CountedAlloc(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return CountedAlloc(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}

void operator delete(void* p) noexcept
{
    CountedFree(p);
}

void operator delete[](void* p) noexcept
{
    CountedFree(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    CountedFree(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    CountedFree(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    CountedFree(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    CountedFree(p);
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--generate") == 0) {
        if (!WriteSampleDatabase(argv[2])) {
            std::fprintf(stderr, "cannot write \"%s\"\n", argv[2]);
            return 1;
        }
        std::printf("wrote %s (%.1f MB)\n", argv[2], MB(static_cast<double>(std::filesystem::file_size(argv[2]))));
        return 0;
    }
    if (argc != 2 || argv[1][0] == '-')
        return Usage();

    const std::string path = argv[1];
    std::error_code ec;
    const auto fileSize = static_cast<double>(std::filesystem::file_size(path, ec));
    if (ec) {
        std::fprintf(stderr, "cannot read \"%s\": %s\n", path.c_str(), ec.message().c_str());
        return 1;
    }

    CORXDatabase db;
    const bool peakReset = ResetPeakRss();
    const long rssBefore = StatusKiB("VmRSS");
    const long hwmBefore = StatusKiB("VmHWM");
    const std::size_t mallocBefore = MallocInUse();
    const std::size_t heapBefore = g_heapInUse.load();
    g_heapPeak = heapBefore;

    const bool ok = db.Load(path);

    const long hwmAfter = StatusKiB("VmHWM");
    const long rssAfter = StatusKiB("VmRSS");
    const std::size_t mallocAfter = MallocInUse();
    if (!ok) {
        std::fprintf(stderr, "cannot load \"%s\": %s\n", path.c_str(), db.GetLastError().c_str());
        return 1;
    }
    if (rssBefore < 0 || hwmAfter < 0) {
        std::fprintf(stderr, "/proc/self/status gives no VmRSS or VmHWM\n");
        return 1;
    }

    // Without the reset the mark may still hold an older, higher peak; then only growth beyond it shows.
    const long baseline = peakReset ? rssBefore : std::max(rssBefore, hwmBefore);
    const double peakGrowth = static_cast<double>(hwmAfter - baseline) * 1024.0;
    const double heapPeak = static_cast<double>(g_heapPeak.load() - heapBefore);
    std::printf("file: %s\n", path.c_str());
    std::printf("links: %zu\n", db.GetLinks() ? db.GetLinks()->GetCount() : 0);
    std::printf("partners: %zu\n", db.GetPartners() ? db.GetPartners()->GetCount() : 0);
    std::printf("file_size_MB: %.2f\n", MB(fileSize));
    std::printf("rss_before_MB: %.2f\n", MB(rssBefore * 1024.0));
    std::printf("peak_rss_growth_MB: %.2f%s\n", MB(peakGrowth), peakReset ? "" : " (peak mark not resettable)");
    std::printf("rss_kept_after_load_MB: %.2f\n", MB((rssAfter - rssBefore) * 1024.0));
    std::printf("peak_heap_MB: %.2f\n", MB(heapPeak));
    std::printf("malloc_in_use_after_load_MB: %.2f\n",
                MB(static_cast<double>(mallocAfter) - static_cast<double>(mallocBefore)));
    std::printf("peak_rss_ratio: %.2f\n", peakGrowth / fileSize);
    std::printf("peak_heap_ratio: %.2f\n", heapPeak / fileSize);
    return 0;
}
