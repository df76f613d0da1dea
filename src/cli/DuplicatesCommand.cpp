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
    CORXDatabase database;
    if (const int failed = ReadStoredDatabase(database))
        return failed;

    const std::vector<CLink*> links = database.GetLinks()->GetLinks();
    const std::vector<const CLink*> list(links.begin(), links.end());
    const std::string report = DuplicatesReport(list, !commandLine.exactWww, commandLine.onePerProject);
    PrintReport(report);
    return 0;
}
