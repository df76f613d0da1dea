// The check history beside the database: what goes in comes back per link in time order, a link
// that changes its key takes its history along, and a history file that cannot be used never
// stops anything nor gets written over.
#include "core/history/HistoryStore.h"

#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

HistoryEntry Entry(int64_t time, uint32_t status, const std::string& evidence = {})
{
    HistoryEntry entry;
    entry.time = time;
    entry.status = status;
    entry.httpStatus = evidence.empty() ? 0 : 200;
    entry.pageRank = 3;
    entry.externalLinks = 12;
    entry.evidence = evidence;
    return entry;
}

TEST(HistoryStore, KeepsEachLinksChecksInTimeOrderAndOwnerOnly)
{
    testsupport::TempDir dir;
    const std::string path = CHistoryStore::PathFor(dir.File("data.orx"));
    EXPECT_EQ(path, dir.File("data.orx.history"));
    const std::string a = HistoryKey("Partner.example/links.html", "http://mine.example/", "Shop");
    const std::string b = HistoryKey("http://partner.example/links.html", "http://mine.example/", "Blog");
    EXPECT_EQ(a, HistoryKey("http://partner.example:80/Links.html", "mine.example", "Shop"));
    EXPECT_NE(a, HistoryKey("http://partner.example/links.html", "mine.example", "shop"));
    EXPECT_NE(a, b);
    {
        CHistoryStore store(path);
        HistoryEntry redirected = Entry(300, 2, "The page links to you: <a href=\"http://mine.example/\">Shop</a>");
        redirected.finalUrl = "https://partner.example/links.html";
        // From several threads at once, as the workers of a run record.
        std::thread other([&] { store.Record(b, Entry(150, 1)); });
        store.Record(a, Entry(200, 4, "The page answered 404."));
        store.Record(a, Entry(100, 1, "first"));
        store.Record(a, redirected);
        store.Record(a, Entry(400, 8)); // a date-only change: no evidence
        other.join();
        store.Flush();
        EXPECT_EQ(store.Problem(), "");
        const std::vector<HistoryEntry> timeline = store.Timeline(a);
        ASSERT_EQ(timeline.size(), 4u);
        EXPECT_EQ(timeline[0], Entry(100, 1, "first"));
        EXPECT_EQ(timeline[1], Entry(200, 4, "The page answered 404."));
        EXPECT_EQ(timeline[2], redirected);
        EXPECT_EQ(timeline[3], Entry(400, 8));
        HistoryEntry last;
        ASSERT_TRUE(store.LastEvidence(a, last));
        EXPECT_EQ(last, redirected);
        EXPECT_EQ(store.Keys(), (std::vector<std::string>{std::min(a, b), std::max(a, b)}));
    }
    EXPECT_EQ(testsupport::FileMode(path), 0600u);
    // A second start reads what the first one wrote.
    CHistoryStore again(path);
    EXPECT_EQ(again.Timeline(a).size(), 4u);
    EXPECT_EQ(again.Timeline(b), (std::vector<HistoryEntry>{Entry(150, 1)}));
}

TEST(HistoryStore, ALinkWithANewKeyTakesItsHistoryAlong)
{
    testsupport::TempDir dir;
    CHistoryStore store(dir.File("h"));
    store.Record("old", Entry(1, 1));
    store.Record("old", Entry(3, 1)); // still queued when the key changes
    store.Record("taken", Entry(2, 4));
    EXPECT_TRUE(store.Rekey("old", "new"));
    EXPECT_TRUE(store.Timeline("old").empty());
    EXPECT_EQ(store.Timeline("new").size(), 2u);
    // Onto a key that has a history already: one history, in time order.
    EXPECT_TRUE(store.Rekey("new", "taken"));
    std::vector<int64_t> times;
    for (const HistoryEntry& e : store.Timeline("taken"))
        times.push_back(e.time);
    EXPECT_EQ(times, (std::vector<int64_t>{1, 2, 3}));
    EXPECT_TRUE(store.Rekey("never", "seen")); // nothing to move
    EXPECT_EQ(store.PurgeOlderThan(2), 1);
    EXPECT_EQ(store.Timeline("taken").size(), 2u);
    EXPECT_EQ(store.Problem(), "");
}

TEST(HistoryStore, AFileItCannotUseIsReportedOnceAndLeftAsItWas)
{
    testsupport::TempDir dir;
    const std::string damaged = dir.File("damaged.history");
    const std::string garbage(8192, '\x5A');
    testsupport::WriteBytes(damaged, garbage);
    {
        CHistoryStore store(damaged);
        store.Record("k", Entry(1, 1));
        store.Flush(); // returns: the entry is dropped, nobody waits for the disk
        EXPECT_NE(store.Problem().find("damaged.history"), std::string::npos) << store.Problem();
        EXPECT_TRUE(store.Timeline("k").empty());
        const std::string first = store.Problem();
        store.Record("k", Entry(2, 1));
        store.Flush();
        EXPECT_EQ(store.Problem(), first);
    }
    EXPECT_EQ(testsupport::ReadBytes(damaged), garbage);

    CHistoryStore nowhere(dir.File("no/such/folder/data.orx.history"));
    nowhere.Record("k", Entry(1, 1));
    nowhere.Flush();
    EXPECT_NE(nowhere.Problem(), "");
    EXPECT_FALSE(nowhere.Rekey("k", "l"));
}

} // namespace

// A purge asked for in passing: done by the writer once what is queued is written, never making a
// file for a history that has none.
TEST(HistoryStore, APurgeLaterFollowsTheQueueAndMakesNoFile)
{
    testsupport::TempDir dir;
    {
        CHistoryStore none(dir.File("none.history"));
        none.PurgeLater(100);
        none.Flush();
        EXPECT_EQ(none.Problem(), "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.history")));

    // Two purges asked for while the 500 entries are still queued wait for the writer together:
    // the one that removes more wins, whichever came first.
    for (const auto& [first, second] : {std::pair<int64_t, int64_t>{201, 101}, {101, 201}}) {
        SCOPED_TRACE(std::to_string(first) + " then " + std::to_string(second));
        CHistoryStore store(dir.File("h" + std::to_string(first)));
        for (int64_t t = 1; t <= 500; ++t)
            store.Record(t % 2 ? "a" : "b", Entry(t, 1));
        store.PurgeLater(first);
        store.PurgeLater(second);
        store.Flush();
        EXPECT_EQ(store.Timeline("a").size(), 150u);
        EXPECT_EQ(store.Timeline("a").front().time, 201);
        EXPECT_EQ(store.Timeline("b").front().time, 202);
        EXPECT_EQ(store.Problem(), "");
    }
}

// A look at the history writes nothing: a file that holds no history stays as it is, even empty,
// and a history is read while a writer has it open.
TEST(HistoryStore, AReadOnlyStoreReadsAndNeverWrites)
{
    testsupport::TempDir dir;
    const std::string empty = dir.File("empty.history");
    testsupport::WriteBytes(empty, "");
    {
        CHistoryStore look(empty, CHistoryStore::Access::ReadOnly);
        EXPECT_TRUE(look.Keys().empty());
        EXPECT_NE(look.Problem().find("empty.history"), std::string::npos) << look.Problem();
        look.Record("k", Entry(1, 1));
        look.PurgeLater(10);
        look.Flush();
    }
    EXPECT_EQ(testsupport::ReadBytes(empty), "");

    const std::string path = dir.File("data.orx.history");
    CHistoryStore writer(path);
    writer.Record("k", Entry(7, 8));
    writer.Flush();
    CHistoryStore look(path, CHistoryStore::Access::ReadOnly);
    EXPECT_EQ(look.Timeline("k"), (std::vector<HistoryEntry>{Entry(7, 8)}));
    EXPECT_EQ(look.PurgeOlderThan(100), -1);
    EXPECT_EQ(writer.Timeline("k").size(), 1u);
}
