#include "CommandSupport.h"

#include "core/platform/Paths.h"
#include "core/platform/TerminalText.h"
#include "core/storage/DatabasePath.h"
#include "core/storage/ORXDatabase.h"
#include "core/storage/SafeFile.h"
#include "core/workspace/Workspace.h"

#include <cstdio>

int FailCommand(const std::string& reason)
{
    PrintEscaped(stderr, "orvex: %s\n", reason.c_str());
    return 1;
}

std::string StoredDatabasePath(const std::string& folder, std::string* error)
{
    const COptions options = CWorkspace::ReadStoredOptions(folder, error);
    return ResolveDatabasePath(options.GetDatabasePath(), folder);
}

int ReadStoredDatabase(CORXDatabase& database)
{
    const std::string folder = Paths::FindProgramFolder();
    std::string settingsError;
    const std::string databasePath = StoredDatabasePath(folder, &settingsError);
    if (!settingsError.empty())
        return FailCommand(settingsError);
    // Saves are atomic, so reading while a window runs sees the last saved state, never half of one.
    if (!FileExists(databasePath))
        return FailCommand("there is no database at \"" + databasePath + "\"");
    if (!database.Load(databasePath) || !database.IsUsable())
        return FailCommand("the database \"" + databasePath + "\" could not be read: " + database.GetLastError());
    return 0;
}
