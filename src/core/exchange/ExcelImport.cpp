#include "ExcelImport.h"

#include "ImportCells.h"
#include "core/platform/TextEncoding.h"
#include "core/records/TextUtil.h"

#include <map>
#include <vector>

namespace {

constexpr std::string_view kColumnNames[kImportColumnTypes] = {
    "Skip",           "Project name", "Anchor",        "To Page",      "From page",  "Comment",
    "Starting PR",    "Start date",   "Expiry date",   "Price",        "Full cost",  "Partner name",
    "Partner e-mail", "Partner ICQ",  "Partner phone", "Payment type", "Payment ID",
};

bool LooksLikeDataRow(const ISpreadsheet& book, int sheet, int row, const ColumnTypes& types)
{
    bool anyText = false;
    for (int column = 0; column < kImportSheetColumns && !anyText; ++column)
        anyText = !book.CellText(sheet, row, column).empty();
    if (!anyText)
        return false;

    for (const int type : {ColStartDate, ColExpiryDate}) {
        const int column = ColumnForType(types, type);
        if (column >= 0 && !importcells::ReadDate(book, sheet, row, column))
            return false;
    }
    if (const int column = ColumnForType(types, ColStartingPR); column >= 0) {
        const auto pr = book.CellInteger(sheet, row, column);
        if (!pr || *pr < 0 || *pr > 10)
            return false;
    }
    if (const int column = ColumnForType(types, ColPartnerEmail); column >= 0)
        if (book.CellText(sheet, row, column).find('@') == std::string::npos)
            return false;
    for (const int type : {ColFromPage, ColToPage}) {
        const int column = ColumnForType(types, type);
        if (column >= 0 && book.CellText(sheet, row, column).find('.') == std::string::npos)
            return false;
    }
    return true;
}

const char* const kSmallNumbers[] = {"zero", "one",   "two",   "three", "four", "five",
                                     "six",  "seven", "eight", "nine",  "ten"};

std::string CountInWords(int n)
{
    return n >= 0 && n <= 10 ? kSmallNumbers[n] : std::to_string(n);
}

std::string Counted(int n, const char* singular, const char* plural)
{
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

} // namespace

std::string_view ImportColumnName(int type)
{
    if (type < 0 || type >= kImportColumnTypes)
        return {};
    return kColumnNames[type];
}

std::optional<int> ImportColumnFromName(std::string_view name)
{
    for (int type = 0; type < kImportColumnTypes; ++type)
        if (EqualsIgnoringCase(name, kColumnNames[type]))
            return type;
    return std::nullopt;
}

void SetColumnType(ColumnTypes& types, int column, int type)
{
    if (column < 0 || column >= kImportSheetColumns || type < 0 || type >= kImportColumnTypes)
        return;
    if (type != ColSkip)
        for (int& other : types)
            if (other == type)
                other = ColSkip;
    types[column] = type;
}

int ColumnForType(const ColumnTypes& types, int type)
{
    for (int column = 0; column < kImportSheetColumns; ++column)
        if (types[column] == type)
            return column;
    return -1;
}

int FindFirstDataRow(const ISpreadsheet& book, int sheet, const ColumnTypes& types)
{
    for (int row = 0; row < kImportPreviewRows; ++row)
        if (LooksLikeDataRow(book, sheet, row, types))
            return row;
    return 0;
}

std::string importcells::DescribeStop(int rowsWithoutPartner, int rowsWithoutLink)
{
    return CountInWords(rowsWithoutPartner) + " rows without partner data and " + CountInWords(rowsWithoutLink) +
           " without link data";
}

std::string ImportSummary(const ImportResult& result, const std::string& sheetName)
{
    if (result.cancelled)
        return "Import from sheet " + sheetName + " cancelled: nothing was added";
    if (!result.refusal.empty())
        return "Import from sheet " + sheetName + " refused: " + result.refusal + "; nothing was added";
    std::string text = "Imported " + Counted(result.links, "link", "links") + " and " +
                       Counted(result.newPartners, "new partner", "new partners");
    if (result.lastRow < result.firstRow)
        return text + ": sheet " + sheetName + " has no rows to read";
    // Rows as the spreadsheet numbers them, from 1.
    const int from = result.firstRow + 1;
    const int to = result.lastRow + 1;
    text += from == to ? " from row " + std::to_string(from)
                       : " from rows " + std::to_string(from) + " to " + std::to_string(to);
    text += " of sheet " + sheetName;
    if (result.stoppedAtRow >= 0)
        text += " (stopped at row " + std::to_string(result.stoppedAtRow + 1) + ": " + result.stopReason + ")";
    return text;
}
