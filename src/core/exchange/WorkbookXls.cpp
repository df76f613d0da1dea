// Excel 97-2003 (BIFF8) and Excel 5/95 (BIFF5) workbooks: libfreexl reads the values, the BIFF
// layout reader adds the number formats freexl keeps to itself, so numbers show as they do in the
// file ("$30.00" rather than 30).

#include "WorkbookBiff.h"
#include "WorkbookStore.h"

#include "NumberFormat.h"
#include "core/records/OleDateTime.h"

#include <freexl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace workbook {
namespace {

class FreeXlHandle
{
public:
    ~FreeXlHandle()
    {
        if (m_handle)
            freexl_close(m_handle);
    }
    const void** Out() { return &m_handle; }
    const void* Get() const { return m_handle; }

private:
    const void* m_handle = nullptr;
};

std::string FreeXlError(int rc)
{
    switch (rc) {
    case FREEXL_FILE_NOT_FOUND:
        return "the file cannot be opened";
    case FREEXL_INSUFFICIENT_MEMORY:
        return "not enough memory to read the workbook";
    case FREEXL_CRAFTED_FILE:
        return "the xls file is damaged or crafted to harm";
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
        return "the file holds no Excel workbook";
    case FREEXL_UNSUPPORTED_CHARSET:
        return "the workbook's character set is not supported";
    default:
        return "the xls file is damaged (libfreexl error " + std::to_string(rc) + ")";
    }
}

// freexl gives dates as "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" or "HH:MM:SS".
std::optional<double> FreeXlDate(const char* text, bool timeOnly)
{
    if (!text)
        return std::nullopt;
    int y = 1899, mo = 12, d = 30, h = 0, mi = 0, s = 0;
    if (timeOnly) {
        if (std::sscanf(text, "%d:%d:%d", &h, &mi, &s) != 3)
            return std::nullopt;
    } else if (std::sscanf(text, "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) < 3)
        return std::nullopt;
    const OleDateTime date = OleDateTime::FromParts(y, mo, d, h, mi, s);
    if (!date.IsValid())
        return std::nullopt;
    return date.GetValue();
}

const BiffCell* FindBiffCell(const BiffSheet* sheet, uint32_t row, uint16_t column)
{
    if (!sheet)
        return nullptr;
    const uint64_t key = (static_cast<uint64_t>(row) << 16) | column;
    const auto it = std::lower_bound(sheet->cells.begin(), sheet->cells.end(), key,
                                     [](const BiffCell& c, uint64_t k) { return c.Key() < k; });
    return (it != sheet->cells.end() && it->Key() == key) ? &*it : nullptr;
}

} // namespace

void ReadXls(const std::string& path, Store& store)
{
    const Limits& limits = ActiveLimits();
    std::optional<BiffLayout> layout;
    std::optional<TempFile> general;
    {
        const std::string file = ReadWholeFile(path);
        layout = ReadBiffLayout(file, limits.maxCells, limits.maxSheets);
        if (!layout)
            throw ReadError("the xls file is damaged or not an Excel 5 to 2003 workbook");
        // The cells the sheets claim to hold, refused before freexl acts on the claim.
        uint64_t claimed = 0;
        for (const BiffSheet& sheet : layout->sheets)
            claimed += sheet.claimedCells;
        if (claimed > limits.maxCells || layout->tooManyCells)
            throw ReadError("the workbook holds more than " + std::to_string(limits.maxCells) + " cells");
        // What its grids cost, summed over every DIMENSION record, is refused before freexl acts
        // on it too: a crafted sheet claims a grid of millions of cells for one.
        if (layout->gridCells > limits.maxXlsGridCells)
            throw ReadError("the xls file's sheets span more than " + std::to_string(limits.maxXlsGridCells) +
                            " cells (saved as .xlsx it can be read)");
        // No spreadsheet program writes a second one; freexl would keep the first grid forever.
        if (layout->repeatedDimension)
            throw ReadError("the xls file declares a sheet's size more than once (saved as .xlsx it can be read)");
        // freexl turns each date cell into text by walking from 1900 one day at a time, which
        // takes seconds for a few thousand rows and minutes for crafted far-future dates. It gets
        // a copy in which no format is a date; the dates are told from the formats here.
        if (auto patched = WithGeneralFormats(file, *layout)) {
            general.emplace();
            general->Write(*patched);
        }
    }

    FreeXlHandle xls;
    const int rc = freexl_open(general ? general->Path().c_str() : path.c_str(), xls.Out());
    if (rc != FREEXL_OK)
        throw ReadError(FreeXlError(rc));
    unsigned int password = 0;
    if (freexl_get_info(xls.Get(), FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK && password == FREEXL_BIFF_OBFUSCATED)
        throw ReadError("the workbook is protected by a password");
    unsigned int dateMode = 0;
    const bool date1904 = freexl_get_info(xls.Get(), FREEXL_BIFF_DATEMODE, &dateMode) == FREEXL_OK &&
                          dateMode == FREEXL_BIFF_DATEMODE_1904;
    unsigned int sheetCount = 0;
    if (freexl_get_info(xls.Get(), FREEXL_BIFF_SHEET_COUNT, &sheetCount) != FREEXL_OK)
        throw ReadError("the xls file lists no sheets");
    // The formats only help when both readers see the same sheets.
    if (layout->sheets.size() != sheetCount)
        throw ReadError("the xls file's sheet list is damaged");

    uint64_t expected = 0;
    std::vector<std::pair<unsigned int, unsigned short>> sizes;
    for (unsigned short i = 0; i < sheetCount; ++i) {
        unsigned int rows = 0;
        unsigned short columns = 0;
        if (freexl_select_active_worksheet(xls.Get(), i) != FREEXL_OK ||
            freexl_worksheet_dimensions(xls.Get(), &rows, &columns) != FREEXL_OK)
            throw ReadError("sheet " + std::to_string(i + 1) + " of the xls file cannot be read");
        sizes.emplace_back(rows, columns);
        expected += static_cast<uint64_t>(rows) * columns;
    }
    // The walk below visits the empty cells of the grids too.
    if (expected > limits.maxCells * 4)
        throw ReadError("the workbook holds more than " + std::to_string(limits.maxCells) + " cells");

    // The store's format index of each cell format, worked out once.
    std::vector<int64_t> formatOfXf(layout->xfFormats.size(), -1);
    const auto formatOf = [&](const BiffCell* biff) -> uint32_t {
        if (!biff || biff->xf >= formatOfXf.size())
            return 0;
        int64_t& format = formatOfXf[biff->xf];
        if (format < 0)
            format = store.FormatIndex(layout->CodeOfXf(biff->xf));
        return static_cast<uint32_t>(format);
    };

    uint64_t visited = 0;
    for (unsigned short i = 0; i < sheetCount; ++i) {
        const char* name = nullptr;
        if (freexl_get_worksheet_name(xls.Get(), i, &name) != FREEXL_OK)
            name = nullptr;
        Sheet& sheet = store.AddSheet(name ? name : "Sheet" + std::to_string(i + 1));
        freexl_select_active_worksheet(xls.Get(), i);
        const BiffSheet* biffSheet = &layout->sheets[i];
        const auto [rows, columns] = sizes[i];
        for (unsigned int r = 0; r < rows; ++r) {
            for (unsigned short c = 0; c < columns; ++c) {
                FreeXL_CellValue value;
                if (freexl_get_cell_value(xls.Get(), r, c, &value) != FREEXL_OK)
                    continue;
                switch (value.type) {
                case FREEXL_CELL_INT:
                case FREEXL_CELL_DOUBLE: {
                    const BiffCell* biff = FindBiffCell(biffSheet, r, c);
                    const uint32_t format = formatOf(biff);
                    double number = value.type == FREEXL_CELL_INT ? value.value.int_value : value.value.double_value;
                    if (biff && biff->kind == 1)
                        store.AddCell(sheet, r, c, CellKind::Bool, number != 0.0 ? 1.0 : 0.0);
                    else if (store.FormatIsDate(format)) {
                        if (date1904)
                            number += 1462.0;
                        else if (number > 0.0 && number < 60.0)
                            number += 1.0;
                        store.AddCell(sheet, r, c, CellKind::Date, number, format);
                    } else
                        store.AddCell(sheet, r, c, CellKind::Number, number, format);
                    break;
                }
                case FREEXL_CELL_DATE:
                case FREEXL_CELL_DATETIME:
                case FREEXL_CELL_TIME:
                    // Only when the copy without date formats could not be made.
                    if (auto serial = FreeXlDate(value.value.text_value, value.type == FREEXL_CELL_TIME))
                        store.AddCell(sheet, r, c, CellKind::Date, *serial, formatOf(FindBiffCell(biffSheet, r, c)));
                    break;
                case FREEXL_CELL_TEXT:
                case FREEXL_CELL_SST_TEXT:
                    if (value.value.text_value && *value.value.text_value)
                        store.AddCell(sheet, r, c, CellKind::Text, store.strings.Intern(value.value.text_value));
                    break;
                default:
                    break;
                }
            }
            visited += columns;
            if ((r & 0x3FF) == 0 && expected > 0)
                store.Progress(static_cast<double>(visited) / static_cast<double>(expected));
        }
    }
    store.Finish();
}

} // namespace workbook
