#pragma once

// The workbook reader's own storage: every cell of every sheet, compact enough that a sheet of a
// million cells costs a few tens of megabytes. Private to the exchange folder and its tests.

#include "Spreadsheet.h"

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace workbook {

/// What one opening may cost. The defaults keep a hostile file from eating the machine; tests
/// lower them through ActiveLimits() to reach the refusals with small files.
struct Limits
{
    uint64_t maxFileBytes = 512ull << 20;   // xls and csv read whole; zip packages are mapped
    uint64_t maxPackageBytes = 1ull << 30;  // sum of the uncompressed entries of a zip package
    uint64_t maxCompressionRatio = 1000;    // per entry, once it unpacks to more than a megabyte
    uint64_t maxCells = 20'000'000;         // stored cells over all sheets
    uint64_t maxXlsGridCells = 4'000'000;   // the dense grids libfreexl makes of xls sheets, 16 bytes a cell
    uint64_t maxStrings = 20'000'000;       // shared and cell texts: a cell holds one at most
    uint64_t maxStringBytes = 512ull << 20; // their total size
    size_t maxTextBytes = 64 * 1024;        // one cell's text is cut to this
    int32_t maxRows = 16 * 1024 * 1024;     // cells beyond these are ignored, not refused
    int32_t maxColumns = 16384;
    uint64_t maxSheets = 4096;
};

Limits& ActiveLimits();

/// Ends an opening: the message is the English reason the caller shows.
class ReadError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// Runs library code whose exceptions mean the file is damaged: they come back as a ReadError
/// with `what` in front. Our own ReadError and running out of memory pass as they are.
template <typename Work> void ReadingAs(const char* what, Work&& work)
{
    try {
        work();
    } catch (const ReadError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        throw ReadError(std::string(what) + e.what());
    }
}

enum class CellKind : uint8_t
{
    Number,     // value is the number; format says how it shows
    Date,       // value is the OLE date serial
    Text,       // value is the index of the text in the pool
    SharedText, // while reading: value is the index in the file's shared-string table
    Bool,       // value is 0 or 1
    Error,      // value is the index of the error text ("#N/A") in the pool
    LooseText,  // csv: text that reads as a number or a date when asked
};

struct Cell
{
    double value = 0.0;
    uint32_t row = 0;
    uint32_t column : 15 = 0;
    uint32_t kind : 3 = 0;
    uint32_t format : 14 = 0; // index into the store's format codes; 0 is General

    CellKind Kind() const { return static_cast<CellKind>(kind); }
    uint64_t Key() const { return (static_cast<uint64_t>(row) << 16) | column; }
};
static_assert(sizeof(Cell) == 16, "cells are kept in the millions");

/// Texts in large blocks rather than one allocation each; an index per text.
class StringPool
{
public:
    /// Stores the text, cut to the text limit at a character boundary.
    uint32_t Append(std::string_view text);
    /// As Append, but an equal text stored through Intern before is reused.
    uint32_t Intern(std::string_view text);
    std::string_view Get(uint32_t index) const;
    size_t Count() const { return m_entries.size(); }

private:
    std::string_view Copy(std::string_view text);

    std::vector<std::unique_ptr<char[]>> m_blocks;
    size_t m_blockUsed = 0;
    size_t m_blockSize = 0;
    uint64_t m_bytes = 0;
    std::vector<std::string_view> m_entries;
    std::unordered_map<std::string_view, uint32_t> m_interned;
};

/// `text` cut to at most `limit` bytes without splitting a UTF-8 sequence.
std::string_view CutUtf8(std::string_view text, size_t limit);

constexpr uint32_t kNoText = UINT32_MAX;

struct Sheet
{
    std::string name;
    std::vector<Cell> cells;     // sorted by row, then column, once reading is done
    std::vector<uint32_t> shown; // empty, or per cell the text the file stores as shown (kNoText: none)
    int32_t rowCount = 0;
};

class Store
{
public:
    explicit Store(ProgressFn progress = {});

    Sheet& AddSheet(std::string_view name);

    /// Appends a cell; cells outside the sheet limits are dropped. Throws ReadError past the cell
    /// limit or when the progress callback cancels.
    void AddCell(Sheet& sheet, int64_t row, int64_t column, CellKind kind, double value, uint32_t format = 0);
    /// Counts a cell the file holds but the store keeps no value for, against the cell limit.
    void CountCell();
    /// Throws ReadError when `cells` more would pass the cell limit: a reader that repeats cells
    /// asks before it makes the copies.
    void ExpectRoomFor(uint64_t cells) const;
    /// As AddCell, with the pool index of the text the file says the cell shows.
    void AddShownCell(Sheet& sheet, int64_t row, int64_t column, CellKind kind, double value, uint32_t shown);

    /// The index of a number-format code; equal codes share one index. 0 is General.
    uint32_t FormatIndex(std::string_view code);
    std::string_view FormatCode(uint32_t index) const;
    bool FormatIsDate(uint32_t index) const;

    /// Reports progress now and then (`fraction` of the work done); throws ReadError on cancel.
    void Progress(double fraction);
    /// The callback may refer to the caller's frame: it is dropped once reading is done.
    void DropProgress() { m_progress = nullptr; }
    /// How many cells the reader expects, so cell counting can report progress.
    void ExpectCells(uint64_t cells) { m_expectedCells = cells; }

    /// Sorts every sheet, keeps the last of cells given twice and counts rows. `sharedIds` maps
    /// the shared-string indices of SharedText cells to pool indices.
    void Finish(const std::vector<uint32_t>& sharedIds = {});

    const Cell* Find(int sheet, int row, int column) const;
    /// The text a cell of the sheet shows.
    std::string TextOf(int sheet, const Cell& cell) const;

    StringPool strings;
    std::vector<Sheet> sheets;

private:
    ProgressFn m_progress;
    uint64_t m_cellCount = 0;
    uint64_t m_expectedCells = 0;
    std::vector<std::string> m_formatCodes;
    std::vector<bool> m_formatIsDate;
    std::unordered_map<std::string, uint32_t> m_formatIndex;
};

// The readers, each filling the store from one kind of file; they throw ReadError.
void ReadPackage(const std::string& path, Store& store);
void ReadXls(const std::string& path, Store& store);
/// The csv sheet is named `sheetName`, or after the file when that is empty.
void ReadCsv(const std::string& path, Store& store, const std::string& sheetName = {});
void ReadFlatOds(const std::string& path, Store& store);

/// How a csv text reads when asked for a number or a date: "1,234.50", "-7", "$30" are numbers;
/// "2024-01-31", "2024-01-31 14:30" and "01/31/2024" are dates (as OLE serials).
std::optional<double> LooseNumber(std::string_view text);
std::optional<double> LooseDate(std::string_view text);

/// A file under the temporary folder, removed when it goes.
class TempFile
{
public:
    TempFile();
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& Path() const { return m_path; }
    /// Replaces the contents; throws ReadError when the disk refuses.
    void Write(std::string_view bytes) const;

private:
    std::string m_path;
};

/// The whole file, refused beyond the file-size limit.
std::string ReadWholeFile(const std::string& path);

} // namespace workbook
