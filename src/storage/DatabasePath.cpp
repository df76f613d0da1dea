#include "DatabasePath.h"

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
