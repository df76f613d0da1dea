#include "DatabasePath.h"

#include "SafeFile.h"

#include <cstdlib>

std::string ResolveDatabasePath(const std::string& path, const std::string& programFolder)
{
    if (!path.empty() && path[0] == '/')
        return path;
    if (path.size() >= 2 && path[0] == '~' && path[1] == '/') {
        const char* home = std::getenv("HOME");
        if (home && *home)
            return std::string(home) + path.substr(1);
    }
    return programFolder + path;
}

std::string DatabaseLockPath(const std::string& databasePath)
{
    const std::string target = ResolveSaveTarget(databasePath);
    const auto slash = target.find_last_of('/');
    if (slash == std::string::npos)
        return "." + target + ".lock";
    return target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".lock";
}
