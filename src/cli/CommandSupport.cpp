#include "CommandSupport.h"

#include "core/storage/DatabasePath.h"
#include "core/workspace/Workspace.h"

#include <cstdio>

int FailCommand(const std::string& reason)
{
    std::fprintf(stderr, "orvex: %s\n", reason.c_str());
    return 1;
}

std::string StoredDatabasePath(const std::string& folder, std::string* error)
{
    const COptions options = CWorkspace::ReadStoredOptions(folder, error);
    return ResolveDatabasePath(options.GetDatabasePath(), folder);
}
