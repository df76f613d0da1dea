#include "Paths.h"

#include "ProductInfo.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace Paths {

namespace {

std::string WithSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

} // namespace

std::string ExecutableFolder()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "./";
    return WithSlash(exe.parent_path().string());
}

std::string FindDataFile(const std::string& name)
{
    const std::string exeFolder = ExecutableFolder();
    for (const std::string& folder : {exeFolder, exeFolder + ORVEX_DATA_FROM_BINARY "/",
                                      std::string("/usr/local/share/orvex/"), std::string("/usr/share/orvex/")}) {
        std::error_code ec;
        const std::string path = std::filesystem::weakly_canonical(folder + name, ec).string();
        struct stat st = {};
        if (!ec && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return path;
    }
    return {};
}

std::string DefaultDataFolder()
{
    std::string base = Env("XDG_DATA_HOME");
    if (base.empty() || base[0] != '/')
        base = Env("HOME") + "/.local/share";
    return WithSlash(base) + "Orvex/";
}

std::string FindProgramFolder()
{
    const std::string home = Env("ORVEX_HOME");
    if (!home.empty()) {
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(home, ec);
        return WithSlash(ec ? home : absolute.string());
    }
    const std::string exeFolder = ExecutableFolder();
    struct stat st = {};
    if (::stat((exeFolder + "ORX.cfg").c_str(), &st) == 0)
        return exeFolder;
    return DefaultDataFolder();
}

bool EnsureFolder(const std::string& folder, std::string* error)
{
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = folder.find('/', pos + 1);
        partial = folder.substr(0, pos);
        if (partial.empty())
            continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            if (error)
                *error = "cannot create \"" + partial + "\": " + std::strerror(errno);
            return false;
        }
    }
    struct stat st = {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (error)
            *error = "\"" + folder + "\" is not a folder";
        return false;
    }
    return true;
}

} // namespace Paths
