#include "HistoryStore.h"

#include "core/fetch/Url.h"
#include "core/storage/SafeFile.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// Batches are as large as what queued up while the last one was written, up to this.
constexpr std::size_t kMaxBatch = 2000;
constexpr int kBusyTimeoutMs = 2000;
// The log is put into the file once it holds this many pages, and cut back to this size: left
// alone it grows to 1000 pages, most of them older copies of the same few.
constexpr int kLogPages = 256;
constexpr int64_t kLogBytesKept = 1 << 20;
// What a batch may take beyond its text: the pages it touches, whole, in the log.
constexpr uint64_t kBatchPageBytes = 16 * 1024;

constexpr const char* kSchema = "CREATE TABLE IF NOT EXISTS link_keys("
                                "  id INTEGER PRIMARY KEY,"
                                "  key TEXT NOT NULL UNIQUE);"
                                "CREATE TABLE IF NOT EXISTS checks("
                                "  key_id INTEGER NOT NULL,"
                                "  time INTEGER NOT NULL,"
                                "  status INTEGER NOT NULL,"
                                "  http_status INTEGER NOT NULL,"
                                "  final_url TEXT,"
                                "  page_rank INTEGER NOT NULL,"
                                "  external_links INTEGER NOT NULL,"
                                "  evidence TEXT);"
                                "CREATE INDEX IF NOT EXISTS checks_by_key ON checks(key_id, time);";

// Our mark in the file's header ("ORVH") and the layout's version: a file without them is
// someone else's, and nothing of ours is written into it.
constexpr int kApplicationId = 0x4F525648;
constexpr int kSchemaVersion = 1;

// A prepared statement that finalizes itself.
class CStatement
{
public:
    CStatement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK)
            m_statement = nullptr;
    }
    ~CStatement() { sqlite3_finalize(m_statement); }
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;

    explicit operator bool() const { return m_statement != nullptr; }
    sqlite3_stmt* operator*() const { return m_statement; }

    void Bind(int index, const std::string& text)
    {
        sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void BindOrNull(int index, const std::string& text)
    {
        if (text.empty())
            sqlite3_bind_null(m_statement, index);
        else
            Bind(index, text);
    }
    void Bind(int index, int64_t value) { sqlite3_bind_int64(m_statement, index, value); }
    std::string Text(int column) const
    {
        const auto* text = sqlite3_column_text(m_statement, column);
        return text ? std::string(reinterpret_cast<const char*>(text),
                                  static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                    : std::string();
    }
    int64_t Int(int column) const { return sqlite3_column_int64(m_statement, column); }

private:
    sqlite3_stmt* m_statement = nullptr;
};

// The columns ReadEntry reads, in its order, with the key of each row to select by.
const std::string kSelectEntries = "SELECT c.time, c.status, c.http_status, c.final_url, c.page_rank, "
                                   "c.external_links, c.evidence FROM checks c JOIN link_keys k ON k.id = c.key_id ";

HistoryEntry ReadEntry(const CStatement& row)
{
    HistoryEntry entry;
    entry.time = row.Int(0);
    entry.status = static_cast<uint32_t>(row.Int(1));
    entry.httpStatus = static_cast<int>(row.Int(2));
    entry.finalUrl = row.Text(3);
    entry.pageRank = static_cast<int>(row.Int(4));
    entry.externalLinks = static_cast<int>(row.Int(5));
    entry.evidence = row.Text(6);
    return entry;
}

// A write that found no room: the disk or the user's quota is full, or the file at its limit.
bool IsDiskFull(sqlite3* db)
{
    const int code = sqlite3_extended_errcode(db);
    const int system = sqlite3_system_errno(db);
    return (code & 0xFF) == SQLITE_FULL ||
           ((code & 0xFF) == SQLITE_IOERR && (system == ENOSPC || system == EDQUOT || system == EFBIG));
}

std::string Kilobytes(uint64_t bytes)
{
    return std::to_string((bytes + 1023) / 1024) + " KB";
}

int64_t PragmaValue(sqlite3* db, const char* sql, bool& ok)
{
    CStatement row(db, sql);
    ok = row && sqlite3_step(*row) == SQLITE_ROW;
    return ok ? row.Int(0) : 0;
}

// The tables and indexes as SQLite keeps them, in one text to compare.
std::string SchemaText(sqlite3* db, bool& ok)
{
    std::string text;
    CStatement rows(db, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name");
    ok = static_cast<bool>(rows);
    int step = SQLITE_DONE;
    while (ok && (step = sqlite3_step(*rows)) == SQLITE_ROW)
        for (int column = 0; column < 4; ++column)
            text += rows.Text(column) + '\n';
    ok = ok && step == SQLITE_DONE;
    return text;
}

// What kSchema makes, to know a history of ours made before the mark existed by.
const std::string& OurSchemaText()
{
    static const std::string text = [] {
        sqlite3* db = nullptr;
        std::string made;
        bool ok = false;
        if (sqlite3_open(":memory:", &db) == SQLITE_OK &&
            sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) == SQLITE_OK)
            made = SchemaText(db, ok);
        sqlite3_close(db);
        return ok ? made : std::string();
    }();
    return text;
}

enum class FileKind
{
    Empty,        ///< made by us a moment ago, or by nobody
    Ours,         ///< carries the mark
    OursUnmarked, ///< exactly our tables, from before the mark
    NotOurs,      ///< why in `why`
};

// Reads only: a file is looked at before anything (the journal mode included) is written to it.
FileKind Recognize(sqlite3* db, std::string& why)
{
    bool ok = false;
    const int64_t applicationId = PragmaValue(db, "PRAGMA application_id", ok);
    const int64_t version = ok ? PragmaValue(db, "PRAGMA user_version", ok) : 0;
    const int64_t pages = ok ? PragmaValue(db, "PRAGMA page_count", ok) : 0;
    const std::string schema = ok ? SchemaText(db, ok) : std::string();
    if (!ok) {
        why = sqlite3_errmsg(db); // a damaged file, or one that is no database
        return FileKind::NotOurs;
    }
    if (applicationId == kApplicationId && version == kSchemaVersion)
        return FileKind::Ours;
    if (applicationId == kApplicationId) {
        why = "it was made by a newer version of the program";
        return FileKind::NotOurs;
    }
    if (applicationId == 0 && version == 0 && pages == 0)
        return FileKind::Empty;
    if (applicationId == 0 && version == 0 && !schema.empty() && schema == OurSchemaText())
        return FileKind::OursUnmarked;
    why = "it holds tables of another program";
    return FileKind::NotOurs;
}

} // namespace

namespace {

// Addresses the program counts as one (host and path in any letter case, the default port
// written or not) give one key.
std::string AddressKey(const std::string& address)
{
    const std::string normalized = NormalizeUrl(address);
    CUrlParts parts;
    if (!ParseHref(nullptr, normalized, parts))
        return normalized;
    std::string key;
    UrlKey(parts, key);
    return key;
}

} // namespace

std::string HistoryKey(const std::string& fromPage, const std::string& toPage, const std::string& project)
{
    // A tab never stands in a normalised address, so the three parts cannot run into one another.
    return AddressKey(fromPage) + '\t' + AddressKey(toPage) + '\t' + project;
}

std::string CHistoryStore::PathFor(const std::string& databasePath)
{
    return databasePath + ".history";
}

CHistoryStore::CHistoryStore(std::string path, Access access)
    : m_path(std::move(path)), m_readOnly(access == Access::ReadOnly)
{
    if (!m_readOnly)
        m_writer = std::thread([this] { WriterLoop(); });
}

CHistoryStore::~CHistoryStore()
{
    {
        std::lock_guard lock(m_queueLock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    std::lock_guard lock(m_dbLock);
    if (m_db)
        sqlite3_close(m_db);
}

void CHistoryStore::Fail(const std::string& what)
{
    if (m_problem.empty())
        m_problem = "The check history \"" + m_path + "\" " + what + "; checks go on without it.";
    if (m_db) {
        // A statement of the caller may still be open: the connection goes when it is finalized.
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

void CHistoryStore::GiveWay(const std::string& why)
{
    // The log goes into the file and is emptied while there is still room for that; what it held
    // is kept, and no log is left for the next start to find. A log an earlier run could not put
    // away is opened for that too: its older copies of pages give their room back.
    if (!m_db && !m_openTried && !m_readOnly && FileExists(m_path + "-wal"))
        EnsureOpen();
    if (m_db)
        sqlite3_exec(m_db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    m_openTried = true;
    Fail("is not written any more: " + why);
}

void CHistoryStore::WriteFailed()
{
    const std::string message = sqlite3_errmsg(m_db);
    const bool full = IsDiskFull(m_db);
    const int system = sqlite3_system_errno(m_db);
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (full)
        GiveWay(std::string("there is no room for it (") + (system ? std::strerror(system) : "the disk is full") + ")");
    else
        Fail("could not be written (" + message + ")");
}

bool CHistoryStore::LeavesRoom(const std::vector<Queued>& batch, std::string& why) const
{
    const std::size_t slash = m_path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : m_path.substr(0, slash + 1);
    struct statvfs disk = {};
    if (::statvfs(folder.c_str(), &disk) != 0)
        return true; // nothing to tell by: the write itself will say
    const uint64_t free = static_cast<uint64_t>(disk.f_bavail) * disk.f_frsize;
    // The batch goes into the log, and the log, when the store gives way, into the file.
    uint64_t needed = m_roomToLeave.load() + kBatchPageBytes;
    for (const Queued& q : batch)
        needed += 2 * (q.key.size() + q.entry.evidence.size() + q.entry.finalUrl.size() + 64);
    struct stat log = {};
    if (::stat((m_path + "-wal").c_str(), &log) == 0)
        needed += static_cast<uint64_t>(log.st_size);
    if (free >= needed)
        return true;
    why = "its disk has " + Kilobytes(free) + " free, and " + Kilobytes(m_roomToLeave.load()) +
          " are kept for saving the database";
    return false;
}

std::string CHistoryStore::Problem() const
{
    std::lock_guard lock(m_dbLock);
    return m_problem;
}

bool CHistoryStore::EnsureOpen()
{
    if (m_db)
        return true;
    if (m_openTried)
        return false;
    m_openTried = true;
    if (m_readOnly) {
        if (sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr) !=
            SQLITE_OK) {
            Fail(std::string("cannot be opened (") + (m_db ? sqlite3_errmsg(m_db) : "no memory") + ")");
            return false;
        }
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        std::string why;
        const FileKind kind = Recognize(m_db, why);
        if (kind == FileKind::Empty || kind == FileKind::NotOurs) {
            Fail("cannot be used (" + (why.empty() ? std::string("it is empty") : why) + ")");
            return false;
        }
        return true;
    }
    // Made by hand first, so that it is the owner's alone from its first byte; the log files
    // SQLite adds beside it take the same permissions.
    const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        Fail(std::string("cannot be opened (") + std::strerror(errno) + ")");
        return false;
    }
    ::close(fd);
    if (sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        Fail(std::string("cannot be opened (") + (m_db ? sqlite3_errmsg(m_db) : "no memory") + ")");
        return false;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    // A damaged file, or somebody else's, fails here, before anything is written into it.
    std::string why;
    const FileKind kind = Recognize(m_db, why);
    if (kind == FileKind::NotOurs) {
        Fail("cannot be used (" + why + "); it is left as it is");
        return false;
    }
    const std::string mark = "BEGIN IMMEDIATE;" + std::string(kSchema) +
                             "PRAGMA application_id=" + std::to_string(kApplicationId) +
                             "; PRAGMA user_version=" + std::to_string(kSchemaVersion) + "; COMMIT;";
    char* error = nullptr;
    const std::string journal = "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA journal_size_limit=" +
                                std::to_string(kLogBytesKept) + ";";
    if (sqlite3_exec(m_db, journal.c_str(), nullptr, nullptr, &error) != SQLITE_OK ||
        (kind != FileKind::Ours && sqlite3_exec(m_db, mark.c_str(), nullptr, nullptr, &error) != SQLITE_OK)) {
        const std::string message = error ? error : sqlite3_errmsg(m_db);
        sqlite3_free(error);
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        Fail("cannot be used (" + message + ")");
        return false;
    }
    sqlite3_wal_autocheckpoint(m_db, kLogPages);
    return true;
}

int64_t CHistoryStore::KeyId(const std::string& key, bool create)
{
    CStatement find(m_db, "SELECT id FROM link_keys WHERE key = ?1");
    if (!find)
        return -1;
    find.Bind(1, key);
    if (sqlite3_step(*find) == SQLITE_ROW)
        return find.Int(0);
    if (!create)
        return -1;
    CStatement add(m_db, "INSERT INTO link_keys(key) VALUES (?1)");
    if (!add)
        return -1;
    add.Bind(1, key);
    if (sqlite3_step(*add) != SQLITE_DONE)
        return -1;
    return sqlite3_last_insert_rowid(m_db);
}

void CHistoryStore::Record(const std::string& key, HistoryEntry entry)
{
    if (m_readOnly)
        return;
    {
        std::lock_guard lock(m_queueLock);
        m_queue.push_back({key, std::move(entry)});
    }
    m_wake.notify_one();
}

void CHistoryStore::Flush()
{
    std::unique_lock lock(m_queueLock);
    m_drained.wait(lock, [this] { return m_queue.empty() && m_writing == 0 && !m_purgeBefore; });
}

void CHistoryStore::WriterLoop()
{
    std::vector<Queued> batch;
    for (;;) {
        {
            std::unique_lock lock(m_queueLock);
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty() || m_purgeBefore.has_value(); });
            if (m_queue.empty() && m_purgeBefore) {
                const int64_t before = *m_purgeBefore;
                m_purgeBefore.reset();
                ++m_writing;
                lock.unlock();
                PurgeQueued(before);
                lock.lock();
                --m_writing;
                m_drained.notify_all();
                continue;
            }
            if (m_queue.empty() && m_stop)
                return;
            while (!m_queue.empty() && batch.size() < kMaxBatch) {
                batch.push_back(std::move(m_queue.front()));
                m_queue.pop_front();
            }
            m_writing = batch.size();
        }
        WriteBatch(batch);
        batch.clear();
        {
            std::lock_guard lock(m_queueLock);
            m_writing = 0;
        }
        m_drained.notify_all();
    }
}

void CHistoryStore::WriteBatch(std::vector<Queued>& batch)
{
    std::lock_guard lock(m_dbLock);
    if (std::string why; m_problem.empty() && !LeavesRoom(batch, why)) {
        GiveWay(why);
        return;
    }
    if (!EnsureOpen())
        return; // the problem is known; the entries go
    if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        Fail(std::string("is in use elsewhere (") + sqlite3_errmsg(m_db) + ")");
        return;
    }
    bool ok = true;
    {
        CStatement insert(m_db, "INSERT INTO checks(key_id, time, status, http_status, final_url, page_rank, "
                                "external_links, evidence) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
        ok = static_cast<bool>(insert);
        for (std::size_t i = 0; ok && i < batch.size(); ++i) {
            const HistoryEntry& e = batch[i].entry;
            const int64_t keyId = KeyId(batch[i].key, true);
            if (keyId < 0) {
                ok = false;
                break;
            }
            sqlite3_reset(*insert);
            insert.Bind(1, keyId);
            insert.Bind(2, e.time);
            insert.Bind(3, static_cast<int64_t>(e.status));
            insert.Bind(4, static_cast<int64_t>(e.httpStatus));
            insert.BindOrNull(5, e.finalUrl);
            insert.Bind(6, static_cast<int64_t>(e.pageRank));
            insert.Bind(7, static_cast<int64_t>(e.externalLinks));
            insert.BindOrNull(8, e.evidence);
            ok = sqlite3_step(*insert) == SQLITE_DONE;
        }
    }
    if (!ok || sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        WriteFailed();
}

std::vector<HistoryEntry> CHistoryStore::Timeline(const std::string& key)
{
    std::vector<HistoryEntry> entries;
    std::lock_guard lock(m_dbLock);
    if (!EnsureOpen())
        return entries;
    CStatement rows(m_db, (kSelectEntries + "WHERE k.key = ?1 ORDER BY c.time, c.rowid").c_str());
    if (!rows)
        return entries;
    rows.Bind(1, key);
    while (sqlite3_step(*rows) == SQLITE_ROW)
        entries.push_back(ReadEntry(rows));
    return entries;
}

bool CHistoryStore::LastEvidence(const std::string& key, HistoryEntry& entry)
{
    std::lock_guard lock(m_dbLock);
    if (!EnsureOpen())
        return false;
    CStatement row(m_db, (kSelectEntries +
                          "WHERE k.key = ?1 AND c.evidence IS NOT NULL ORDER BY c.time DESC, c.rowid DESC LIMIT 1")
                             .c_str());
    if (!row)
        return false;
    row.Bind(1, key);
    if (sqlite3_step(*row) != SQLITE_ROW)
        return false;
    entry = ReadEntry(row);
    return true;
}

std::vector<std::string> CHistoryStore::Keys()
{
    std::vector<std::string> keys;
    std::lock_guard lock(m_dbLock);
    if (!EnsureOpen())
        return keys;
    CStatement rows(m_db, "SELECT key FROM link_keys k WHERE EXISTS (SELECT 1 FROM checks c WHERE c.key_id = k.id) "
                          "ORDER BY key");
    while (rows && sqlite3_step(*rows) == SQLITE_ROW)
        keys.push_back(rows.Text(0));
    return keys;
}

bool CHistoryStore::Rekey(const std::string& oldKey, const std::string& newKey)
{
    if (oldKey == newKey)
        return true;
    Flush(); // entries still queued under the old key move too
    std::lock_guard lock(m_dbLock);
    if (!EnsureOpen())
        return false;
    const int64_t from = KeyId(oldKey, false);
    if (from < 0)
        return true; // nothing kept yet
    const int64_t to = KeyId(newKey, false);
    bool ok = true;
    if (to < 0) {
        CStatement rename(m_db, "UPDATE link_keys SET key = ?2 WHERE id = ?1");
        ok = static_cast<bool>(rename);
        if (ok) {
            rename.Bind(1, from);
            rename.Bind(2, newKey);
            ok = sqlite3_step(*rename) == SQLITE_DONE;
        }
    } else {
        // Another link had the new key before: both histories become one, in time order.
        CStatement move(m_db, "UPDATE checks SET key_id = ?2 WHERE key_id = ?1");
        ok = static_cast<bool>(move);
        if (ok) {
            move.Bind(1, from);
            move.Bind(2, to);
            ok = sqlite3_step(*move) == SQLITE_DONE;
        }
    }
    if (!ok)
        WriteFailed();
    return ok;
}

void CHistoryStore::PurgeLater(int64_t before)
{
    if (m_readOnly)
        return;
    {
        std::lock_guard lock(m_queueLock);
        m_purgeBefore = m_purgeBefore ? std::max(*m_purgeBefore, before) : before;
    }
    m_wake.notify_one();
}

void CHistoryStore::PurgeQueued(int64_t before)
{
    {
        std::lock_guard lock(m_dbLock);
        if (!m_db && !m_openTried && !FileExists(m_path))
            return;
    }
    PurgeOlderThan(before);
}

int64_t CHistoryStore::PurgeOlderThan(int64_t before)
{
    if (m_writer.get_id() != std::this_thread::get_id())
        Flush();
    std::lock_guard lock(m_dbLock);
    if (std::string why; !m_readOnly && m_problem.empty() && !LeavesRoom({}, why)) {
        GiveWay(why);
        return -1;
    }
    if (!EnsureOpen())
        return -1;
    CStatement purge(m_db, "DELETE FROM checks WHERE time < ?1");
    if (!purge)
        return -1;
    purge.Bind(1, before);
    if (sqlite3_step(*purge) != SQLITE_DONE) {
        WriteFailed();
        return -1;
    }
    return sqlite3_changes64(m_db);
}
