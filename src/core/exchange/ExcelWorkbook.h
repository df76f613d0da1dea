#pragma once

#include "Spreadsheet.h"

#include <memory>
#include <string>

/// A workbook file read whole into memory for the import: .xlsx and .ods (liborcus), .xls
/// (libfreexl) and .csv (comma, semicolon or tab; UTF-8 with or without byte order mark, else
/// Windows-1252). The format is told by the file's contents, not its name. What a hostile file
/// may cost is bounded: texts are cut at 64 KiB, and too many cells, too many shared strings or
/// too large a package end the opening with an error.
class CExcelWorkbook final : public ISpreadsheet
{
public:
    CExcelWorkbook();
    ~CExcelWorkbook() override;
    CExcelWorkbook(const CExcelWorkbook&) = delete;
    CExcelWorkbook& operator=(const CExcelWorkbook&) = delete;

    /// Reads the file. False with the reason in `error` when it cannot be read, is no workbook,
    /// exceeds the bounds, or `progress` cancelled; the workbook is then empty.
    bool OpenForImport(const std::string& path, std::string* error = nullptr, const ProgressFn& progress = {});

    int SheetCount() const override;
    std::string SheetName(int sheet) const override;
    int RowCount(int sheet) const override;
    std::string CellText(int sheet, int row, int column) const override;
    std::optional<OleDateTime> CellDate(int sheet, int row, int column) const override;
    std::optional<int32_t> CellInteger(int sheet, int row, int column) const override;

private:
    struct Data;
    std::unique_ptr<Data> m_data;
};
