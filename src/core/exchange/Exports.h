#pragma once

#include "Spreadsheet.h"

#include <cstddef>
#include <string>

/// Rows written between two progress reports: often enough for a responsive bar, rare enough to
/// cost nothing.
inline constexpr std::size_t kRowsBetweenProgress = 4096;

class CLink;
class CLinksManager;
class CPartnersManager;

/// The tab-separated line of `link` with its partner's contact data; the header line when
/// `link` is null. Ends with "\r\n".
std::string BuildExportLine(const CLink* link, const CPartnersManager& partners);

/// Every link, in list order, to a text file written atomically. False with the reason in
/// `error` when the file could not be written (the old file, if any, is then untouched).
bool ExportText(const std::string& path, const CPartnersManager& partners, const CLinksManager& links,
                std::string* error = nullptr, const ProgressFn& progress = {});

/// Every link, in list order, to a new .xlsx workbook written atomically: dates as date cells,
/// prices as numbers, the header row bold and frozen.
bool ExportExcel(const std::string& path, const CPartnersManager& partners, const CLinksManager& links,
                 std::string* error = nullptr, const ProgressFn& progress = {});
