#include "DuplicatesCommand.h"

#include "CommandLine.h"
#include "ORXApp.h"
#include "checking/Duplicates.h"
#include "platform/Paths.h"
#include "storage/DatabasePath.h"
#include "storage/ORXDatabase.h"
#include "storage/SafeFile.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

int Fail(const std::string& reason)
{
    std::fprintf(stderr, "orvex: %s\n", reason.c_str());
    return 1;
}

} // namespace

int RunDuplicatesCommand(const CommandLine& commandLine)
{
    const std::string folder = Paths::FindProgramFolder();
    std::string settingsError;
    const COptions options = CORXApp::ReadStoredOptions(folder, &settingsError);
    if (!settingsError.empty())
        return Fail(settingsError);
    const std::string databasePath = ResolveDatabasePath(options.GetDatabasePath(), folder);
    // Saves are atomic, so reading while a window runs sees the last saved state.
    if (!FileExists(databasePath))
        return Fail("there is no database at \"" + databasePath + "\"");
    CORXDatabase database;
    if (!database.Load(databasePath) || !database.IsUsable())
        return Fail("the database \"" + databasePath + "\" could not be read: " + database.GetLastError());

    const std::vector<CLink*> links = database.GetLinks()->GetLinks();
    const std::vector<const CLink*> list(links.begin(), links.end());
    const std::string report = DuplicatesReport(list, !commandLine.exactWww, commandLine.onePerProject);
    PrintReport(report);
    return 0;
}
