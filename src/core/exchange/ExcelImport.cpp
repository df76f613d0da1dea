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

constexpr std::string_view kPaymentTypeNames[] = {"PayPal",  "WebMoney", "WMZ",   "WMR",    "RegNow",
                                                  "RegSoft", "Plimus",   "SWREG", "Shareit"};

constexpr int kSampleRows = 5;

bool IsPaymentTypeName(std::string_view text)
{
    for (const std::string_view name : kPaymentTypeNames)
        if (EqualsIgnoringCase(text, name))
            return true;
    return false;
}

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

// The dates of one column over the sample rows, by row; a column counts as a date column when
// at least two of its samples are dates.
using SampleDates = std::array<std::optional<OleDateTime>, kSampleRows>;

void GuessDateColumns(const ISpreadsheet& book, int sheet, int first, const OleDateTime& now, ColumnTypes& types)
{
    std::vector<std::pair<int, SampleDates>> dateColumns;
    for (int column = 0; column < kImportSheetColumns; ++column) {
        SampleDates dates;
        int count = 0;
        for (int i = 0; i < kSampleRows; ++i) {
            dates[i] = importcells::ReadDate(book, sheet, first + i, column);
            count += dates[i] ? 1 : 0;
        }
        if (count >= 2)
            dateColumns.emplace_back(column, dates);
    }

    if (dateColumns.size() == 1) {
        const auto& [column, dates] = dateColumns.front();
        bool allAfter = true;
        bool allBefore = true;
        for (const auto& date : dates) {
            if (!date)
                continue;
            allAfter = allAfter && *date > now;
            allBefore = allBefore && *date < now;
        }
        if (allAfter)
            SetColumnType(types, column, ColExpiryDate);
        else if (allBefore)
            SetColumnType(types, column, ColStartDate);
    } else if (dateColumns.size() == 2) {
        const auto& [left, leftDates] = dateColumns[0];
        const auto& [right, rightDates] = dateColumns[1];
        bool alwaysEarlier = true;
        bool alwaysLater = true;
        int compared = 0;
        for (int i = 0; i < kSampleRows; ++i) {
            if (!leftDates[i] || !rightDates[i])
                continue;
            ++compared;
            alwaysEarlier = alwaysEarlier && *leftDates[i] < *rightDates[i];
            alwaysLater = alwaysLater && *leftDates[i] > *rightDates[i];
        }
        // Two date columns that never share a row say nothing about which comes first.
        if (compared > 0 && alwaysEarlier) {
            SetColumnType(types, left, ColStartDate);
            SetColumnType(types, right, ColExpiryDate);
        } else if (compared > 0 && alwaysLater) {
            SetColumnType(types, left, ColExpiryDate);
            SetColumnType(types, right, ColStartDate);
        }
    }
}

void GuessWebAddressColumns(const ISpreadsheet& book, int sheet, int first, ColumnTypes& types)
{
    for (int column = 0; column < kImportSheetColumns; ++column) {
        std::map<std::string, int> groups;
        int addresses = 0;
        for (int row = first; row < first + kSampleRows; ++row) {
            const std::string text = book.CellText(sheet, row, column);
            if (StartsWithIgnoringCase(text, "http://") || StartsWithIgnoringCase(text, "www.")) {
                ++groups[TextEncoding::FoldCase(text)];
                ++addresses;
            }
        }
        if (addresses < 2)
            continue;
        int largest = 0;
        for (const auto& group : groups)
            largest = std::max(largest, group.second);
        // The user's own page repeats down the column; partners' pages differ from row to row.
        SetColumnType(types, column, largest > 2 ? ColToPage : ColFromPage);
    }
}

void GuessPageRankColumn(const ISpreadsheet& book, int sheet, int first, ColumnTypes& types)
{
    for (int column = 0; column < kImportSheetColumns; ++column) {
        int integers = 0;
        bool inRange = true;
        for (int row = first; row < first + kSampleRows; ++row) {
            if (const auto value = book.CellInteger(sheet, row, column)) {
                ++integers;
                inRange = inRange && *value >= 0 && *value <= 10;
            }
        }
        if (integers >= 2 && inRange) {
            SetColumnType(types, column, ColStartingPR);
            return;
        }
    }
}

void GuessPriceAndPaymentColumns(const ISpreadsheet& book, int sheet, int first, ColumnTypes& types)
{
    for (int column = 0; column < kImportSheetColumns; ++column) {
        int prices = 0;
        for (int row = first; row < first + kSampleRows; ++row)
            if (book.CellText(sheet, row, column).find('$') != std::string::npos &&
                book.CellInteger(sheet, row, column))
                ++prices;
        if (prices > 3)
            SetColumnType(types, column, ColPrice);
    }
    for (int column = 0; column < kImportSheetColumns; ++column) {
        int payments = 0;
        for (int row = first; row < first + kSampleRows; ++row)
            if (IsPaymentTypeName(book.CellText(sheet, row, column)))
                ++payments;
        if (payments > 1)
            SetColumnType(types, column, ColPaymentType);
    }
}

void GuessFromHeaderWords(const ISpreadsheet& book, int sheet, int first, ColumnTypes& types)
{
    // Headers are written in English or Russian; both compare as folded UTF-8.
    const std::string project = TextEncoding::FoldCase("Project");
    const std::string projectRu = TextEncoding::FoldCase("Проект");
    const std::string anchor = TextEncoding::FoldCase("Anchor");
    for (int column = 0; column < kImportSheetColumns; ++column) {
        for (int row = 0; row < first + kSampleRows; ++row) {
            const std::string text = book.CellText(sheet, row, column);
            if (text.empty())
                continue;
            const std::string folded = TextEncoding::FoldCase(text);
            if (folded == project || folded == projectRu) {
                SetColumnType(types, column, ColProjectName);
                break;
            }
            if (folded == anchor) {
                SetColumnType(types, column, ColAnchor);
                break;
            }
        }
    }
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

ColumnTypes AutoDetectColumns(const ISpreadsheet& book, int sheet, const ColumnTypes& current, const OleDateTime& now)
{
    const int first = FindFirstDataRow(book, sheet, current);
    ColumnTypes types{};
    GuessDateColumns(book, sheet, first, now, types);
    GuessWebAddressColumns(book, sheet, first, types);
    GuessPageRankColumn(book, sheet, first, types);
    GuessPriceAndPaymentColumns(book, sheet, first, types);
    GuessFromHeaderWords(book, sheet, first, types);
    return types;
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
