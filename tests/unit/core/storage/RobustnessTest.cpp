// Damaged input must fail cleanly: no crash, no hang, and no allocation out of proportion to the
// file. The allocation bound is checked through a replaced global operator new, which this file
// installs for the whole test program; it only counts while a test asks it to.
#include "unit/TestSupport.h"

#include "core/storage/ConfigFile.h"
#include "core/storage/ORXDatabase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>
#include <string>

using namespace testsupport;

namespace {

std::atomic<bool> g_tracking{false};
std::atomic<uint64_t> g_generation{0};
std::atomic<int64_t> g_current{0};
std::atomic<int64_t> g_peak{0};

// Each block carries its size and the measurement that counted it (0 for none), so that freeing a
// block from before the measurement does not make room that was never taken.
struct alignas(__STDCPP_DEFAULT_NEW_ALIGNMENT__) BlockHeader
{
    std::size_t size;
    uint64_t generation;
};

void* Allocate(std::size_t size)
{
    void* raw = std::malloc(sizeof(BlockHeader) + (size ? size : 1));
    if (!raw)
        throw std::bad_alloc();
    auto* header = static_cast<BlockHeader*>(raw);
    header->size = size;
    header->generation = g_tracking.load(std::memory_order_relaxed) ? g_generation.load() : 0;
    if (header->generation != 0) {
        const int64_t now = g_current.fetch_add(static_cast<int64_t>(size)) + static_cast<int64_t>(size);
        int64_t peak = g_peak.load();
        while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
        }
    }
    return header + 1;
}

void Release(void* p) noexcept
{
    if (!p)
        return;
    auto* header = static_cast<BlockHeader*>(p) - 1;
    if (header->generation != 0 && header->generation == g_generation.load())
        g_current.fetch_sub(static_cast<int64_t>(header->size));
    std::free(header);
}

// Peak bytes held at once while `body` ran.
template <class Body> int64_t PeakBytesDuring(Body body)
{
    ++g_generation;
    g_current = 0;
    g_peak = 0;
    g_tracking = true;
    body();
    g_tracking = false;
    return g_peak.load();
}

int64_t AllowedBytes(std::size_t fileSize)
{
    return 16 * static_cast<int64_t>(fileSize) + 1024 * 1024;
}

// Loads `bytes` through a file and checks the outcome is either success or a clean, empty failure
// within the allocation bound. Returns whether the load succeeded.
bool LoadChecked(CORXDatabase& db, const std::string& path, const std::string& bytes, const std::string& what)
{
    WriteBytes(path, bytes);
    bool ok = false;
    const int64_t peak = PeakBytesDuring([&] { ok = db.Load(path); });
    EXPECT_LE(peak, AllowedBytes(bytes.size())) << what << " (" << bytes.size() << " bytes)";
    if (!ok) {
        EXPECT_TRUE(db.IsUsable()) << what;
        EXPECT_EQ(db.GetPartners()->GetCount() + db.GetLinks()->GetCount(), 0u) << what;
        EXPECT_TRUE(db.HoldsUnreadableFile()) << what;
        // Refused means left as it is: no save may replace what could not be read.
        EXPECT_FALSE(db.Save()) << what;
        EXPECT_TRUE(ReadBytes(path) == bytes) << what << ": the file was changed";
    }
    return ok;
}

class Mutator
{
public:
    explicit Mutator(uint32_t seed) : m_rng(seed) {}

    std::string Mutate(std::string s)
    {
        switch (Below(6)) {
        case 0: // flip a few bytes
            for (std::size_t i = 0, n = 1 + Below(4); i < n && !s.empty(); ++i)
                s[Below(s.size())] ^= static_cast<char>(1 + Below(255));
            break;
        case 1: // insert a run of random bytes
        {
            std::string run(1 + Below(32), '\0');
            for (char& c : run)
                c = static_cast<char>(Below(256));
            s.insert(Below(s.size() + 1), run);
            break;
        }
        case 2: // delete a run
        {
            const std::size_t at = Below(s.size());
            s.erase(at, 1 + Below(32));
            break;
        }
        case 3: // a huge value where a length or count may sit
        {
            static constexpr uint64_t kHuge[] = {0xFFFFFFFFFFFFFFFFull, 0x00000000FFFFFFFFull, 0x0000000100000000ull,
                                                 0x000000007FFFFFFFull, 0x0000000080000000ull, 0x000000000000FFFEull,
                                                 0x000000000000FFFFull, 0x00000000FFFEFFFFull};
            const uint64_t value = kHuge[Below(std::size(kHuge))];
            const std::size_t width = std::size_t{1} << (1 + Below(3));
            const std::size_t at = Below(s.size());
            for (std::size_t i = 0; i < width && at + i < s.size(); ++i)
                s[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
            break;
        }
        case 4: // repeat a chunk elsewhere, so tags and records recur
        {
            const std::size_t from = Below(s.size());
            const std::string chunk = s.substr(from, 1 + Below(200));
            s.insert(Below(s.size() + 1), chunk);
            break;
        }
        default: // a class or object reference in place of two bytes
        {
            const uint16_t tag = static_cast<uint16_t>(Below(2) ? (0x8000 | Below(16)) : Below(16));
            const std::size_t at = Below(s.size() > 1 ? s.size() - 1 : 1);
            if (at + 1 < s.size()) {
                s[at] = static_cast<char>(tag & 0xFF);
                s[at + 1] = static_cast<char>(tag >> 8);
            }
            break;
        }
        }
        return s;
    }

private:
    std::size_t Below(std::size_t n)
    {
        return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(m_rng);
    }

    std::mt19937 m_rng;
};

} // namespace

void* operator new(std::size_t size)
{
    return Allocate(size);
}

void* operator new[](std::size_t size)
{
    return Allocate(size);
}

void operator delete(void* p) noexcept
{
    Release(p);
}

void operator delete[](void* p) noexcept
{
    Release(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    Release(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    Release(p);
}

// The no-throw forms must come from the same allocator, or a delete of their memory (std::stable_sort
// uses them) would hand a foreign block to Release.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    Release(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    Release(p);
}

TEST(DatabaseRobustness, AllocationTrackerSeesLoads)
{
    TempDir dir;
    const std::string bytes = ReadBytes(DataFile("reference.orx"));
    CORXDatabase db;
    ASSERT_TRUE(LoadChecked(db, dir.File("data.orx"), bytes, "reference"));
    // The 70,000-character comment alone must show up, or the bound below proves nothing.
    const int64_t peak = PeakBytesDuring([&] { db.Load(dir.File("data.orx")); });
    EXPECT_GE(peak, 70000);
}

TEST(DatabaseRobustness, EveryTruncationFailsCleanly)
{
    TempDir dir;
    const std::string path = dir.File("data.orx");
    const std::string compact = ReadBytes(DataFile("compact.orx"));
    ASSERT_GT(compact.size(), 2000u);
    CORXDatabase db;
    for (std::size_t n = 0; n < compact.size(); ++n)
        ASSERT_FALSE(LoadChecked(db, path, compact.substr(0, n), "compact prefix " + std::to_string(n)));
    EXPECT_TRUE(LoadChecked(db, path, compact, "compact"));

    // The larger file has texts in every length form; cut it at a stride and through its tail.
    const std::string reference = ReadBytes(DataFile("reference.orx"));
    for (std::size_t n = 0; n < reference.size(); n += n + 600 < reference.size() ? 101 : 1)
        ASSERT_FALSE(LoadChecked(db, path, reference.substr(0, n), "reference prefix " + std::to_string(n)));
}

TEST(DatabaseRobustness, SeededMutantsLoadOrFailCleanly)
{
    TempDir dir;
    const std::string path = dir.File("data.orx");
    const std::string compact = ReadBytes(DataFile("compact.orx"));
    CORXDatabase original;
    ASSERT_TRUE(original.Load(DataFile("compact.orx")));
    const std::size_t partners = original.GetPartners()->GetCount();
    const std::size_t links = original.GetLinks()->GetCount();
    Mutator mutator(20240607);
    CORXDatabase db;
    int loaded = 0;
    int failed = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::string mutant = mutator.Mutate(compact);
        if (!LoadChecked(db, path, mutant, "mutant " + std::to_string(i))) {
            ++failed;
            continue;
        }
        // A mutant that loads may have other values, never fewer records: a save would lose them.
        ASSERT_TRUE(db.IsUsable()) << "mutant " << i;
        ASSERT_EQ(db.GetPartners()->GetCount(), partners) << "mutant " << i;
        ASSERT_EQ(db.GetLinks()->GetCount(), links) << "mutant " << i;
        // Whatever loaded must also save and load back the same way.
        if (++loaded <= 100) {
            ASSERT_TRUE(db.Save(dir.File("resaved.orx"))) << "mutant " << i;
            CORXDatabase back;
            ASSERT_TRUE(back.Load(dir.File("resaved.orx"))) << "mutant " << i << ": " << back.GetLastError();
            EXPECT_EQ(back.IsUsable(), db.IsUsable()) << "mutant " << i;
            if (db.GetLinks() && back.GetLinks()) {
                EXPECT_EQ(back.GetLinks()->GetCount(), db.GetLinks()->GetCount()) << "mutant " << i;
            }
        }
        if (::testing::Test::HasFailure())
            break;
    }
    // Both outcomes must have been exercised for the run to mean anything.
    EXPECT_GT(loaded, 500);
    EXPECT_GT(failed, 5000);
}

TEST(DatabaseRobustness, BackReferencesCannotMultiplyOneLargeRecord)
{
    // One link with a long comment, then thousands of two-byte references to it.
    Bytes file;
    file.Raw("ORX").ClassRecord("CPartnersManager").I32(-1).I32(0).U32(0);
    file.ClassRecord("CLinksManager").U32(2000).ClassRecord("CLink");
    file.I32(0).Text("").Date(0, 41000).Date(0, 41365).Date(0, 365).I32(0).I32(0).I32(0);
    file.U8(0).U8(0).U8(0).I32(0).I32(-1).I32(0).I32(-1).I32(0);
    file.U8(0xFF).U16(60000).Raw(std::string(60000, 'z')).I32(0);
    for (int i = 1; i < 2000; ++i)
        file.U16(0x0006);

    TempDir dir;
    CORXDatabase db;
    LoadChecked(db, dir.File("data.orx"), file.Str(), "2,000 references to one large link");

    // A few references to a small record remain readable.
    Bytes few;
    few.Raw("ORX").ClassRecord("CPartnersManager").I32(-1).I32(0).U32(0);
    few.ClassRecord("CLinksManager").U32(4).ClassRecord("CLink").LinkBody(1, "small");
    few.U16(0x0006).U16(0x0006).U16(0x0006);
    ASSERT_TRUE(LoadChecked(db, dir.File("data.orx"), few.Str(), "three references to a small link"));
    EXPECT_EQ(db.GetLinks()->GetCount(), 4u);
}

TEST(ConfigRobustness, TruncationAppliesSettingsOnlyWhenTheyAreWhole)
{
    TempDir dir;
    const std::string path = dir.File("ORX.cfg");
    const std::string cfg = ReadBytes(DataFile("reference.cfg"));
    const std::size_t settingsEnd = cfg.size() - 4;
    for (std::size_t n = 0; n <= cfg.size(); ++n) {
        WriteBytes(path, cfg.substr(0, n));
        COptions options("/sentinel/");
        options.SetWarningDays(-99);
        int32_t flag = -7;
        ConfigLoadResult result = ConfigLoadResult::Unreadable;
        const int64_t peak = PeakBytesDuring([&] { result = LoadConfigFile(path, options, flag); });
        EXPECT_LE(peak, AllowedBytes(n)) << "prefix " << n;
        if (n < settingsEnd) {
            EXPECT_EQ(result, ConfigLoadResult::Unreadable) << "prefix " << n;
            EXPECT_EQ(options.GetWarningDays(), -99) << "prefix " << n;
            EXPECT_EQ(options.GetDatabasePath(), "/sentinel/data.orx") << "prefix " << n;
        } else {
            EXPECT_EQ(result, n == cfg.size() ? ConfigLoadResult::Loaded : ConfigLoadResult::SettingsOnly)
                << "prefix " << n;
            EXPECT_EQ(options.GetWarningDays(), 14) << "prefix " << n;
        }
        EXPECT_EQ(flag, n == cfg.size() ? 1 : -7) << "prefix " << n;
    }
}

TEST(ConfigRobustness, SeededMutantsLoadOrFailCleanly)
{
    TempDir dir;
    const std::string path = dir.File("ORX.cfg");
    const std::string cfg = ReadBytes(DataFile("reference.cfg"));
    Mutator mutator(7771);
    int unreadable = 0;
    for (int i = 0; i < 5000; ++i) {
        const std::string mutant = mutator.Mutate(cfg);
        WriteBytes(path, mutant);
        COptions options("/sentinel/");
        options.SetSmtpPort(-1);
        int32_t flag = -7;
        ConfigLoadResult result = ConfigLoadResult::Unreadable;
        const int64_t peak = PeakBytesDuring([&] { result = LoadConfigFile(path, options, flag); });
        ASSERT_LE(peak, AllowedBytes(mutant.size())) << "mutant " << i;
        if (result == ConfigLoadResult::Unreadable) {
            ++unreadable;
            ASSERT_EQ(options.GetSmtpPort(), -1) << "mutant " << i << ": nothing may be applied";
            ASSERT_EQ(flag, -7) << "mutant " << i;
        } else if (result == ConfigLoadResult::SettingsOnly) {
            ASSERT_EQ(flag, -7) << "mutant " << i;
        }
    }
    EXPECT_GT(unreadable, 500);
    EXPECT_LT(unreadable, 5000);
}
