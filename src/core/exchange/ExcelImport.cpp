#include "ExcelImport.h"

#include "ImportCells.h"
#include "ImportValues.h"
#include "core/platform/TextEncoding.h"
#include "core/records/TextUtil.h"

#include <algorithm>
#include <map>
#include <vector>

namespace {

constexpr std::string_view kColumnNames[kImportColumnTypes] = {
    "Skip",           "Project name", "Anchor",        "To Page",      "From page",  "Comment",
    "Starting PR",    "Start date",   "Expiry date",   "Price",        "Full cost",  "Partner name",
    "Partner e-mail", "Partner ICQ",  "Partner phone", "Payment type", "Payment ID",
};

// Whether a mapped cell holds a good value of its column's kind; none for a kind with no test.
std::optional<bool> HoldsGoodValue(const ISpreadsheet& book, int sheet, int row, int column, int type)
{
    switch (type) {
    case ColStartDate:
    case ColExpiryDate:
        return importcells::ReadAnyDate(book, sheet, row, column).has_value();
    case ColStartingPR: {
        const auto pr = book.CellInteger(sheet, row, column);
        return pr && *pr >= 0 && *pr <= 10;
    }
    case ColPartnerEmail:
        return book.CellText(sheet, row, column).find('@') != std::string::npos;
    case ColFromPage:
    case ColToPage:
        return book.CellText(sheet, row, column).find('.') != std::string::npos;
    case ColPrice:
    case ColFullCost:
        return importvalues::ReadAmount(book.CellText(sheet, row, column)).has_value();
    default:
        return std::nullopt;
    }
}

// How many mapped cells of the row hold text, and whether one of them holds a good value of a
// kind that can be tested (or none can be, when no such kind is mapped).
struct RowLook
{
    int mappedTexts = 0;
    bool goodValue = false;
};

RowLook LookAtRow(const ISpreadsheet& book, int sheet, int row, const ColumnTypes& types)
{
    RowLook look;
    bool anyTestable = false;
    for (int column = 0; column < kImportSheetColumns; ++column) {
        if (types[column] == ColSkip)
            continue;
        if (book.CellText(sheet, row, column).empty())
            continue;
        ++look.mappedTexts;
        if (const auto good = HoldsGoodValue(book, sheet, row, column, types[column])) {
            anyTestable = true;
            look.goodValue = look.goodValue || *good;
        }
    }
    if (!anyTestable && look.mappedTexts > 0)
        look.goodValue = !std::any_of(types.begin(), types.end(), [](int type) {
            return type == ColStartDate || type == ColExpiryDate || type == ColStartingPR || type == ColPartnerEmail ||
                   type == ColFromPage || type == ColToPage || type == ColPrice || type == ColFullCost;
        });
    return look;
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
    if (std::all_of(types.begin(), types.end(), [](int type) { return type == ColSkip; })) {
        for (int row = 0; row < kImportPreviewRows; ++row)
            for (int column = 0; column < kImportSheetColumns; ++column)
                if (!book.CellText(sheet, row, column).empty())
                    return row;
        return 0;
    }
    // Titles and the header row come before the first row with a good value; of those rows the
    // header is the fullest, the first of equals. Every row below it that holds anything is data,
    // so that one with a bad value is reported rather than taken for a title.
    std::array<RowLook, kImportPreviewRows> looks;
    int header = -1;
    int lastAbove = -1;
    int good = -1;
    for (int row = 0; row < kImportPreviewRows && good < 0; ++row) {
        looks[row] = LookAtRow(book, sheet, row, types);
        if (looks[row].goodValue)
            good = row;
        else if (looks[row].mappedTexts > 0) {
            lastAbove = row;
            if (header < 0 || looks[row].mappedTexts > looks[header].mappedTexts)
                header = row;
        }
    }
    // No good value anywhere: nothing tells a header from data, and the data start at once.
    if (good < 0)
        header = -1;
    // Rows of one mapped cell each are titles stacked above the data; the last of them is the header.
    else if (header >= 0 && looks[header].mappedTexts == 1)
        header = lastAbove;
    for (int row = header + 1; row < kImportPreviewRows; ++row)
        if (looks[row].mappedTexts > 0)
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
    if (!result.skipped.empty())
        text += "; " + Counted(static_cast<int>(result.skipped.size()), "row", "rows") + " skipped";
    if (result.roundedAmounts > 0)
        text += "; " + Counted(result.roundedAmounts, "amount", "amounts") + " rounded to whole units";
    if (!result.slashedDates.empty())
        text += "; dates such as 03/10/2027 read " + result.slashedDates + " first, as the system writes dates";
    return text;
}
