#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct sqlite3;

/// One check of one link as the history keeps it.
struct HistoryEntry
{
    int64_t time = 0; ///< seconds since 1970, UTC
    uint32_t status = 0;
    int httpStatus = 0;   ///< 0 when no answer came (or only the dates were looked at)
    std::string finalUrl; ///< after redirects; "" when it is the From page itself
    int pageRank = -1;
    int externalLinks = -1;
    std::string evidence; ///< what the verdict rests on, in plain words; "" for a date-only change

    bool operator==(const HistoryEntry&) const = default;
};

/// The key a link's history is kept under: its normalised From page, To Page and project.
std::string HistoryKey(const std::string& fromPage, const std::string& toPage, const std::string& project);

/// The history of every link's checks, in an SQLite file beside the database. The database file
/// itself stays as it is. The store opens on first use and creates its file then (owner-only,
/// write-ahead log, marked as ours); whatever goes wrong with it (missing folder, locked, damaged,
/// read-only, another program's file, no room on the disk) is kept as its Problem and the store
/// keeps nothing from then on: checks and saves go on without it, and a file it could not read, or
/// that does not carry our mark, is never written to.
///
/// Entries are written by a thread of the store's own in batched transactions, so a check never
/// waits for the disk.
class CHistoryStore
{
public:
    /// "data.orx" → "data.orx.history".
    static std::string PathFor(const std::string& databasePath);

    enum class Access
    {
        ReadWrite,
        ReadOnly, ///< for a look at the history: nothing is created, written or queued
    };
    explicit CHistoryStore(std::string path, Access access = Access::ReadWrite);
    ~CHistoryStore(); ///< writes what is queued
    CHistoryStore(const CHistoryStore&) = delete;
    CHistoryStore& operator=(const CHistoryStore&) = delete;

    const std::string& Path() const { return m_path; }

    /// Queues one entry for the link of `key`; returns at once.
    void Record(const std::string& key, HistoryEntry entry);
    /// Returns when everything queued so far is written (or dropped after a problem), a queued
    /// purge done.
    void Flush();

    /// The entries of one link, oldest first.
    std::vector<HistoryEntry> Timeline(const std::string& key);
    /// The last entry of one link that has evidence (a check that read the page), if any.
    bool LastEvidence(const std::string& key, HistoryEntry& entry);
    /// Every key that has entries, in key order.
    std::vector<std::string> Keys();
    /// Moves the entries of a link to its new key (its From page, To Page or project changed).
    bool Rekey(const std::string& oldKey, const std::string& newKey);
    /// Removes the entries older than `before`; the number removed, or -1 on a problem.
    int64_t PurgeOlderThan(int64_t before);
    /// The same done by the writer once the queue is written, so that the caller never waits for
    /// it; a history that has no file yet stays without one.
    void PurgeLater(int64_t before);

    /// "" while the store works; else what went wrong first, for the user.
    std::string Problem() const;

    /// The room to leave free on the store's disk for what comes first (the database's save): a
    /// batch that would leave less, or a write that finds the disk full, makes the store give way
    /// for good, its log put into the file and emptied, so that it holds no more than it must.
    void SetRoomToLeave(uint64_t bytes) { m_roomToLeave.store(bytes); }

private:
    struct Queued
    {
        std::string key;
        HistoryEntry entry;
    };

    bool EnsureOpen();                    ///< with m_dbLock held
    void Fail(const std::string& what);   ///< with m_dbLock held
    void GiveWay(const std::string& why); ///< with m_dbLock held
    void WriteFailed();                   ///< with m_dbLock held and m_db open
    bool LeavesRoom(const std::vector<Queued>& batch, std::string& why) const;
    int64_t KeyId(const std::string& key, bool create); ///< with m_dbLock held; -1 when none
    void WriterLoop();
    void WriteBatch(std::vector<Queued>& batch);
    void PurgeQueued(int64_t before); ///< on the writer thread

    const std::string m_path;
    const bool m_readOnly;

    mutable std::mutex m_dbLock; ///< the connection and the problem
    sqlite3* m_db = nullptr;
    bool m_openTried = false;
    std::string m_problem;
    std::atomic<uint64_t> m_roomToLeave{0};

    std::mutex m_queueLock;
    std::condition_variable m_wake;
    std::condition_variable m_drained;
    std::deque<Queued> m_queue;
    std::size_t m_writing = 0;            ///< entries taken by the writer and not yet written
    std::optional<int64_t> m_purgeBefore; ///< a purge for the writer to do
    bool m_stop = false;
    std::thread m_writer;
};
