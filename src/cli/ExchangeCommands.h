#pragma once

#include "core/exchange/ExcelImport.h"

#include <optional>
#include <string>

struct CommandLine;

/// `orvex --export FILE`: every link of the settings' database to FILE, a workbook (.xlsx) or
/// tab-separated text (.txt). Reads the database only. 0 when written, 1 with the reason, 2 for
/// any other extension.
int RunExportCommand(const CommandLine& commandLine);

/// `orvex --import FILE [--sheet N] [--columns SPEC] [--dry-run]`: the window's import without
/// the window. Holds the program folder and the database like a window does while it works, and
/// saves only a complete import. 0 when imported (or tried, with --dry-run), 1 when nothing could
/// be, 2 for a SPEC or sheet that does not make sense.
int RunImportCommand(const CommandLine& commandLine);

/// "A=From page,B=To Page": letters A to P, the import's type names in any letter case. None
/// with the reason in `error` for anything else, or a type named twice.
std::optional<ColumnTypes> ParseColumnSpec(const std::string& spec, std::string* error);
/// The mapping as --columns takes it, skipped columns left out.
std::string FormatColumnSpec(const ColumnTypes& types);
