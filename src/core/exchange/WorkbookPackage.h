#pragma once

// Zip-packaged workbooks and OpenDocument content: the package checks and repairs, the liborcus
// import of Office Open XML and the reader of OpenDocument spreadsheet content. Private to the
// exchange folder and its tests.

#include "WorkbookStore.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orcus::spreadsheet::iface {
class import_sheet;
class import_shared_strings;
} // namespace orcus::spreadsheet::iface

namespace workbook {

/// Parses an .xlsx package that passed the checks into the store, and finishes the store. The
/// sheets named in `ownSheets` (sheet name, part path) orcus finds empty in the package; their
/// parts, got through `readPart`, are read with ReadSheetPart into orcus's sheets.
void ReadXlsxWithOrcus(const std::string& path, Store& store, bool date1904,
                       const std::vector<std::pair<std::string, std::string>>& ownSheets,
                       const std::function<std::optional<std::string>(const std::string&)>& readPart);

/// What the reader needs from an .xlsx package's workbook part that orcus does not give.
struct XlsxLayout
{
    bool date1904 = false;
    std::vector<std::pair<std::string, std::string>> sheets; // worksheet name, path of its part
};

/// A package part by path ("xl/workbook.xml"); nothing when the package has no such part.
using PartReader = std::function<std::optional<std::string>(const std::string& path)>;

XlsxLayout ReadXlsxLayout(const PartReader& readPart);

/// Reads a whole worksheet part into the import interfaces, as orcus would, and also the cells
/// orcus leaves out: inline strings, errors, plain strings, ISO dates.
void ReadSheetPart(std::string_view sheetXml, orcus::spreadsheet::iface::import_sheet& sheet,
                   orcus::spreadsheet::iface::import_shared_strings& strings);

/// "B7" (also "$B$7" and "Sheet2!B7") as 0-based row and column.
bool ParseCellReference(std::string_view ref, int64_t& row, int64_t& column);

/// The package path a relationship target names: relative to the source part's folder, or
/// absolute from the package root.
std::string ResolvePartPath(std::string_view sourcePart, std::string_view target);

/// Reads the office:body of an OpenDocument spreadsheet (content.xml of an .ods, or a whole flat
/// .fods file) into the store, and finishes it. Cells show the text the file stores for them.
void ReadOdsContent(std::string_view xml, Store& store);

/// A relationship target of an Office Open XML part made relative to the part's folder:
/// "/xl/worksheets/sheet1.xml" seen from "xl/" is "worksheets/sheet1.xml".
std::string RelativeTarget(std::string_view sourceFolder, std::string_view absoluteTarget);

/// The text of a .rels part with every absolute internal target made relative; `changed` tells
/// whether anything was rewritten.
std::string RelativeRelationships(std::string_view relsPath, std::string_view xml, bool& changed);

} // namespace workbook
