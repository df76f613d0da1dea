#pragma once

#include "core/records/OleDateTime.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

/// One workbook as the import reads it: sheets of cells addressed by 0-based row and column.
/// Every reading fails quietly: a cell that is missing or cannot be read gives an empty text and
/// no date or integer. Implemented by CExcelWorkbook (files) and by in-memory sheets in tests.
class ISpreadsheet
{
public:
    virtual ~ISpreadsheet() = default;

    virtual int SheetCount() const = 0;
    virtual std::string SheetName(int sheet) const = 0;
    /// One more than the last row that holds anything; 0 for an empty or missing sheet.
    virtual int RowCount(int sheet) const = 0;

    /// The text the cell shows (its number format applied), UTF-8.
    virtual std::string CellText(int sheet, int row, int column) const = 0;
    /// The cell's value when the file says it is a date (or date and time).
    virtual std::optional<OleDateTime> CellDate(int sheet, int row, int column) const = 0;
    /// A number truncated toward zero when it fits 32 bits; text, empty and error cells give none.
    virtual std::optional<int32_t> CellInteger(int sheet, int row, int column) const = 0;
};

/// Long work reports how far it got (0..1) and learns whether to go on: false cancels.
using ProgressFn = std::function<bool(double done)>;
