#pragma once

#include "core/exchange/Spreadsheet.h"

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace exchange_test {

/// One cell as a workbook reader hands it over: the shown text and, when the file says so, a
/// date or a number.
struct Cell
{
    std::string text;
    std::optional<OleDateTime> date;
    std::optional<int32_t> integer;

    Cell() = default;
    Cell(const char* shown) : text(shown) {}
    Cell(std::string shown) : text(std::move(shown)) {}
};

/// A number cell showing its value, or `shown` ("$30") when given.
inline Cell Num(int32_t value, std::string shown = {})
{
    Cell cell(shown.empty() ? std::to_string(value) : std::move(shown));
    cell.integer = value;
    return cell;
}

/// A date cell showing "M/D/YYYY"; its number is the day count, as in a real workbook.
inline Cell Day(int year, int month, int day, int hour = 0, int minute = 0)
{
    char shown[48];
    std::snprintf(shown, sizeof shown, "%d/%d/%d", month, day, year);
    Cell cell(shown);
    cell.date = OleDateTime::FromParts(year, month, day, hour, minute);
    cell.integer = static_cast<int32_t>(cell.date->GetValue());
    return cell;
}

/// A workbook of one sheet, "Sheet1", held in memory; anything not set reads as empty.
class MemoryBook : public ISpreadsheet
{
public:
    using Row = std::vector<Cell>;

    explicit MemoryBook(std::vector<Row> rows = {}) : m_rows(std::move(rows)) {}

    int SheetCount() const override { return 1; }
    std::string SheetName(int sheet) const override { return sheet == 0 ? "Sheet1" : ""; }
    int RowCount(int sheet) const override { return sheet == 0 ? static_cast<int>(m_rows.size()) : 0; }
    std::string CellText(int sheet, int row, int column) const override
    {
        const Cell* cell = Find(sheet, row, column);
        return cell ? cell->text : std::string();
    }
    std::optional<OleDateTime> CellDate(int sheet, int row, int column) const override
    {
        const Cell* cell = Find(sheet, row, column);
        return cell ? cell->date : std::nullopt;
    }
    std::optional<int32_t> CellInteger(int sheet, int row, int column) const override
    {
        const Cell* cell = Find(sheet, row, column);
        return cell ? cell->integer : std::nullopt;
    }

private:
    const Cell* Find(int sheet, int row, int column) const
    {
        if (sheet != 0 || row < 0 || column < 0 || row >= RowCount(0) || column >= static_cast<int>(m_rows[row].size()))
            return nullptr;
        return &m_rows[row][column];
    }

    std::vector<Row> m_rows;
};

} // namespace exchange_test
