#pragma once

// What libfreexl does not tell about an .xls workbook: the number format of each numeric cell and
// the size each sheet claims. Read from the BIFF records of the file's Workbook stream. Private to
// the exchange folder and its tests.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace workbook {

struct BiffCell
{
    uint32_t row = 0;
    uint16_t column = 0;
    uint16_t xf = 0;
    uint8_t kind = 0; // 0 number, 1 boolean, 2 error

    uint64_t Key() const { return (static_cast<uint64_t>(row) << 16) | column; }
};

struct BiffSheet
{
    std::string name;            // UTF-8
    uint64_t claimedCells = 0;   // rows times columns of the DIMENSION record
    std::vector<BiffCell> cells; // numeric, boolean and error cells, sorted by row and column
};

struct BiffLayout
{
    bool date1904 = false;
    std::vector<std::pair<uint16_t, std::string>> formats; // FORMAT records: id, code
    std::vector<uint16_t> xfFormats;                       // XF records: format id
    std::vector<size_t> xfFormatOffsets;                   // where each format id lies in the stream
    std::u16string streamName;                             // "Workbook" or "Book"
    std::vector<BiffSheet> sheets;                         // worksheets in workbook order
    bool tooManyCells = false;                             // cell records past the limit were left out
    uint64_t gridCells = 0;                                // what libfreexl allocates for its grids, in cells
    bool repeatedDimension = false;                        // a sheet declares its size more than once

    /// The code of a cell format: a FORMAT record, else a built-in code; empty when unknown.
    std::string CodeOfXf(uint16_t xf) const;
};

/// The layout of a BIFF5 or BIFF8 workbook file (an OLE2 compound file); nothing when it cannot be
/// made out or lists more than `maxSheets` sheets. Past `maxCells` cell records the rest are left out.
std::optional<BiffLayout> ReadBiffLayout(std::string_view file, uint64_t maxCells, uint64_t maxSheets);

/// A copy of the file in which every cell format uses the General number format; nothing when the
/// workbook stream cannot be located in the file.
std::optional<std::string> WithGeneralFormats(std::string_view file, const BiffLayout& layout);

} // namespace workbook
