#include "ExchangeCommands.h"

#include "CommandLine.h"
#include "CommandSupport.h"
#include "core/exchange/ExcelWorkbook.h"
#include "core/exchange/Exports.h"
#include "core/platform/InstanceLock.h"
#include "core/platform/Paths.h"
#include "core/platform/TemporaryFiles.h"
#include "core/platform/TerminalText.h"
#include "core/storage/DatabasePath.h"
#include "core/storage/ORXDatabase.h"
#include "core/storage/SafeFile.h"
#include "core/workspace/Workspace.h"

#include <cstdio>
#include <new>

namespace {

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& end)
{
    if (text.size() < end.size())
        return false;
    for (std::size_t i = 0; i < end.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) != end[i])
            return false;
    return true;
}

} // namespace

std::optional<ColumnTypes> ParseColumnSpec(const std::string& spec, std::string* error)
{
    ColumnTypes types{};
    std::size_t start = 0;
    while (start <= spec.size()) {
        const std::size_t comma = std::min(spec.find(',', start), spec.size());
        const std::string item = Trim(spec.substr(start, comma - start));
        start = comma + 1;
        if (item.empty())
            continue;
        const std::size_t equals = item.find('=');
        const std::string letter = equals == std::string::npos ? item : Trim(item.substr(0, equals));
        const int column = letter.size() == 1 ? std::toupper(static_cast<unsigned char>(letter[0])) - 'A' : -1;
        if (equals == std::string::npos || column < 0 || column >= kImportSheetColumns) {
            *error = "\"" + item + "\" is not COLUMN=TYPE with a column from A to P";
            return std::nullopt;
        }
        const std::optional<int> type = ImportColumnFromName(Trim(item.substr(equals + 1)));
        if (!type) {
            std::string names;
            for (int t = 0; t < kImportColumnTypes; ++t)
                names += std::string(t ? ", " : "") + std::string(ImportColumnName(t));
            *error = "\"" + Trim(item.substr(equals + 1)) + "\" is not a column type; the types are: " + names;
            return std::nullopt;
        }
        if (*type != ColSkip && ColumnForType(types, *type) >= 0) {
            *error = "\"" + std::string(ImportColumnName(*type)) + "\" is given to two columns";
            return std::nullopt;
        }
        types[static_cast<std::size_t>(column)] = *type;
    }
    return types;
}

std::string FormatColumnSpec(const ColumnTypes& types)
{
    std::string spec;
    for (int column = 0; column < kImportSheetColumns; ++column) {
        const int type = types[static_cast<std::size_t>(column)];
        if (type == ColSkip)
            continue;
        if (!spec.empty())
            spec += ",";
        spec += static_cast<char>('A' + column);
        spec += "=";
        spec += ImportColumnName(type);
    }
    return spec;
}

namespace {

int Export(const CommandLine& commandLine)
{
    const std::string& file = commandLine.file;
    const bool workbook = EndsWithIgnoringCase(file, ".xlsx");
    if (!workbook && !EndsWithIgnoringCase(file, ".txt")) {
        PrintEscaped(stderr, "orvex: --export writes FILE.xlsx or FILE.txt, not \"%s\"\n\n%s", file.c_str(),
                     UsageText().c_str());
        return 2;
    }
    CORXDatabase database;
    if (const int failed = ReadStoredDatabase(database))
        return failed;

    // Ctrl+C or a kill while the file is written ends the command at once, and leaves the target as
    // it was and no temporary beside it.
    const TemporaryFiles::RemovedOnSignals removedOnSignals;
    std::string error;
    const bool written = workbook ? ExportExcel(file, *database.GetPartners(), *database.GetLinks(), &error)
                                  : ExportText(file, *database.GetPartners(), *database.GetLinks(), &error);
    if (!written)
        return FailCommand("Can not export to \"" + file + "\": " + error);
    PrintEscaped(stdout, "Exported %zu links to %s\n", database.GetLinks()->GetCount(), file.c_str());
    return 0;
}

int Import(const CommandLine& commandLine)
{
    std::optional<ColumnTypes> given;
    if (!commandLine.columns.empty()) {
        std::string error;
        given = ParseColumnSpec(commandLine.columns, &error);
        if (!given) {
            PrintEscaped(stderr, "orvex: --columns: %s\n", error.c_str());
            return 2;
        }
    }

    CExcelWorkbook book;
    std::string readError;
    if (!book.OpenForImport(commandLine.file, &readError))
        return FailCommand("Can not load file \"" + commandLine.file + "\": " + readError);
    int sheet = 0;
    if (!commandLine.sheet.empty()) {
        sheet = -1;
        for (int i = 0; i < book.SheetCount(); ++i)
            if (book.SheetName(i) == commandLine.sheet)
                sheet = i;
        char* end = nullptr;
        const long number = std::strtol(commandLine.sheet.c_str(), &end, 10);
        if (sheet < 0 && end && *end == '\0' && number >= 1 && number <= book.SheetCount())
            sheet = static_cast<int>(number) - 1;
        if (sheet < 0) {
            PrintEscaped(stderr, "orvex: --sheet: the workbook has no sheet \"%s\" (it has %d)\n",
                         commandLine.sheet.c_str(), book.SheetCount());
            return 2;
        }
    }
    if (sheet >= book.SheetCount())
        return FailCommand("Can not load file \"" + commandLine.file + "\": the workbook has no worksheet");

    const ColumnTypes types = given ? *given : AutoDetectColumns(book, sheet, ColumnTypes{}, OleDateTime::Now());
    PrintEscaped(stdout, "Columns%s: %s\n", given ? "" : " (guessed)",
                 FormatColumnSpec(types).empty() ? "(none)" : FormatColumnSpec(types).c_str());
    PrintEscaped(stdout, "First data row: %d\n", FindFirstDataRow(book, sheet, types) + 1);

    // The database is held as a window holds it, so that neither saves over the other.
    const std::string folder = Paths::FindProgramFolder();
    std::string folderError;
    if (!commandLine.dryRun && !Paths::EnsureFolder(folder, &folderError))
        return FailCommand("cannot use the program folder: " + folderError);
    InstanceLock folderLock;
    InstanceLock databaseLock;
    std::string lockError;
    if (!commandLine.dryRun) {
        switch (folderLock.TryAcquire(folder + CWorkspace::kLockFileName, &lockError)) {
        case InstanceLock::Result::Acquired:
            break;
        case InstanceLock::Result::HeldElsewhere:
            return FailCommand("another Orvex is running on this folder (" + folder +
                               "); close its window first, or try with --dry-run");
        case InstanceLock::Result::Failed:
            return FailCommand(lockError);
        }
    }
    std::string settingsError;
    const std::string databasePath = StoredDatabasePath(folder, &settingsError);
    if (!settingsError.empty())
        return FailCommand(settingsError);
    if (!commandLine.dryRun &&
        databaseLock.TryAcquire(DatabaseLockPath(databasePath)) == InstanceLock::Result::HeldElsewhere)
        return FailCommand("the database \"" + databasePath + "\" is in use by another running Orvex");

    // A new user's first import makes the database; one that exists must load completely.
    CORXDatabase database;
    const bool existed = FileExists(databasePath);
    if (!database.Load(databasePath) && existed)
        return FailCommand("the database \"" + databasePath + "\" could not be read (" + database.GetLastError() +
                           "); nothing was imported");
    if (!database.IsUsable())
        return FailCommand("the database \"" + databasePath + "\" could not be read; nothing was imported");

    const ImportResult result = ImportRows(book, sheet, types, *database.GetPartners(), *database.GetLinks());
    if (!result.refusal.empty())
        return FailCommand(ImportSummary(result, book.SheetName(sheet)));
    PrintEscaped(stdout, "%s\n", ImportSummary(result, book.SheetName(sheet)).c_str());
    if (!result.skipped.empty())
        PrintEscaped(stdout, "Skipped:\n%s", SkippedRowsList(result).c_str());
    if (commandLine.dryRun) {
        PrintEscaped(stdout, "Nothing was saved (--dry-run).\n");
        return 0;
    }
    if (!database.Save())
        return FailCommand("the database could not be saved: " + database.GetLastError() + "; nothing was imported");
    return 0;
}

} // namespace

// Running out of memory ends the command with a message, before anything was written.
int RunExportCommand(const CommandLine& commandLine)
{
    try {
        return Export(commandLine);
    } catch (const std::bad_alloc&) {
        return FailCommand("Can not export to \"" + commandLine.file + "\": there is not enough memory");
    }
}

int RunImportCommand(const CommandLine& commandLine)
{
    try {
        return Import(commandLine);
    } catch (const std::bad_alloc&) {
        return FailCommand("Can not import \"" + commandLine.file +
                           "\": there is not enough memory; nothing was imported");
    }
}
