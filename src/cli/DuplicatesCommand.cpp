#include "DuplicatesCommand.h"

#include "CommandLine.h"
#include "CommandSupport.h"
#include "core/platform/Paths.h"
#include "core/search/Duplicates.h"
#include "core/storage/ORXDatabase.h"
#include "core/storage/SafeFile.h"

#include <cstdio>
#include <string>
#include <vector>

int RunDuplicatesCommand(const CommandLine& commandLine)
{
    const std::string folder = Paths::FindProgramFolder();
    std::string settingsError;
    const std::string databasePath = StoredDatabasePath(folder, &settingsError);
    if (!settingsError.empty())
        return FailCommand(settingsError);
    // Saves are atomic, so reading while a window runs sees the last saved state.
    if (!FileExists(databasePath))
        return FailCommand("there is no database at \"" + databasePath + "\"");
    CORXDatabase database;
    if (!database.Load(databasePath) || !database.IsUsable())
        return FailCommand("the database \"" + databasePath + "\" could not be read: " + database.GetLastError());

    const std::vector<CLink*> links = database.GetLinks()->GetLinks();
    const std::vector<const CLink*> list(links.begin(), links.end());
    const std::string report = DuplicatesReport(list, !commandLine.exactWww, commandLine.onePerProject);
    PrintReport(report);
    return 0;
}
