#pragma once

#include "Spreadsheet.h"

#include <optional>
#include <string>

/// Pieces shared by the import's column guessing and its row walk.
namespace importcells {

/// The cell's date at midnight, when it holds a valid one.
std::optional<OleDateTime> ReadDate(const ISpreadsheet& book, int sheet, int row, int column);

/// A date cell's date, or a text that reads as a date in either order of day and month.
std::optional<OleDateTime> ReadAnyDate(const ISpreadsheet& book, int sheet, int row, int column);

/// Why the row walk stopped where it did, for the import's summary.
std::string DescribeStop(int rowsWithoutPartner, int rowsWithoutLink);

} // namespace importcells
