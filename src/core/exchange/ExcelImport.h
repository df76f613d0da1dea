#pragma once

#include "Spreadsheet.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CLinksManager;
class CPartnersManager;

/// What a worksheet column holds, in the order of the import dialog's menu.
enum ImportColumn : int
{
    ColSkip = 0,
    ColProjectName,
    ColAnchor,
    ColToPage,
    ColFromPage,
    ColComment,
    ColStartingPR,
    ColStartDate,
    ColExpiryDate,
    ColPrice,
    ColFullCost,
    ColPartnerName,
    ColPartnerEmail,
    ColPartnerIcq,
    ColPartnerPhone,
    ColPaymentType,
    ColPaymentId,
};
inline constexpr int kImportColumnTypes = 17;
/// Worksheet columns A to P.
inline constexpr int kImportSheetColumns = 16;
/// Rows the data-row search and the dialog's preview look at.
inline constexpr int kImportPreviewRows = 20;

using ColumnTypes = std::array<int, kImportSheetColumns>;

/// "Skip", "Project name", ... as the menu shows them.
std::string_view ImportColumnName(int type);
/// The type of a name, letter case ignored; none for an unknown name.
std::optional<int> ImportColumnFromName(std::string_view name);

/// Gives `type` to `column`; every other column that had it goes back to "Skip" first.
void SetColumnType(ColumnTypes& types, int column, int type);
/// The column holding `type`, or -1.
int ColumnForType(const ColumnTypes& types, int type);

/// The first row after the header row (the fullest of the rows above the first one with a good value
/// in a mapped column) that holds a mapped value; with nothing mapped, the first row with any text.
int FindFirstDataRow(const ISpreadsheet& book, int sheet, const ColumnTypes& types);
/// The program's guess of every column from the sample rows; `current` is what the data-row
/// search starts from, `now` what dates are compared with.
ColumnTypes AutoDetectColumns(const ISpreadsheet& book, int sheet, const ColumnTypes& current, const OleDateTime& now);

/// One import adds at most this many links, and at most this many new partners: a sheet with more
/// is no list of link deals but a mistake or a trap, and holding them all takes gigabytes.
inline constexpr std::size_t kMaxImportedRecords = 1'000'000;

/// A row that held something yet gave no link, and why ("no From page", "price 'n/a' not read").
struct SkippedRow
{
    int row = 0; ///< 0-based
    std::string reason;
};

struct ImportResult
{
    int links = 0;                   ///< links added
    int newPartners = 0;             ///< partners created
    int firstRow = 0;                ///< 0-based first data row read
    int lastRow = -1;                ///< 0-based last row read (-1: none)
    int stoppedAtRow = -1;           ///< 0-based row where the stopping rule ended it before the sheet's end
    std::string stopReason;          ///< why, when stoppedAtRow >= 0
    bool cancelled = false;          ///< progress said stop: nothing was added
    std::string refusal;             ///< why nothing was added when the sheet could not be taken in
    std::vector<SkippedRow> skipped; ///< rows read that gave no link, in sheet order
    int roundedAmounts = 0;          ///< prices and costs of the added links that had a decimal part
    /// "day" or "month": what comes first in dates such as 03/10/2027, when the locale said it
    std::string slashedDates;
};

/// Turns the rows of `sheet` into links and partners. Everything is built aside and added to
/// the collections in one step at the end, so a cancelled import adds nothing, and neither does
/// one refused for more than `maxNew` links or new partners or for want of memory.
ImportResult ImportRows(const ISpreadsheet& book, int sheet, const ColumnTypes& types, CPartnersManager& partners,
                        CLinksManager& links, const ProgressFn& progress = {},
                        std::size_t maxNew = kMaxImportedRecords);

/// "Imported N links and M new partners from rows A to B of sheet S", with the stop, the rows
/// skipped and the amounts rounded when there were any; or why nothing was added.
std::string ImportSummary(const ImportResult& result, const std::string& sheetName);
/// "row 14: no From page", one line each, at most `limit` lines and then how many more.
std::string SkippedRowsList(const ImportResult& result, std::size_t limit = SIZE_MAX);

/// For each of rows 0..`count`-1, why the import would not make a link of it, as the import
/// itself would decide; empty for a row that gives a link or holds nothing.
std::vector<std::string> ImportRowNotes(const ISpreadsheet& book, int sheet, const ColumnTypes& types, int count);
