#include "ConfigFile.h"

#include "Archive.h"
#include "SafeFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace {

// "ORX.cfg" is a few hundred bytes; anything beyond this is not ours.
constexpr long kMaxConfigSize = 16L * 1024 * 1024;

std::string ReadSmallFile(const std::string& path)
{
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rbe"), &std::fclose);
    if (!f)
        throw CArchiveException("cannot open \"" + path + "\": " + std::strerror(errno));
    struct stat st = {};
    if (::fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxConfigSize)
        throw CArchiveException("\"" + path + "\" is not a settings file");
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f.get()));
    return bytes;
}

} // namespace

ConfigLoadResult LoadConfigFile(const std::string& path, COptions& options, int32_t& importHintPending,
                                std::string* error)
{
    bool applied = false;
    try {
        const std::string bytes = ReadSmallFile(path);
        CArchive ar = CArchive::ForLoading(bytes);
        std::unique_ptr<COptions> read = ar.ReadObject<COptions>();
        if (!read)
            throw CArchiveException("\"" + path + "\" holds no settings");
        // A file that ends right after the settings (or inside the flag) is an older, shorter
        // form: its settings count. Anything after the flag is damage.
        if (ar.Remaining() < sizeof(int32_t)) {
            options = *read;
            applied = true;
            throw CArchiveException("\"" + path + "\" ends before the import flag");
        }
        int32_t flag = 0;
        ar.Io(flag);
        if (ar.Remaining() != 0)
            throw CArchiveException(std::to_string(ar.Remaining()) + " bytes follow the settings in \"" + path +
                                    "\": the file is damaged");
        options = *read;
        importHintPending = flag;
        return ConfigLoadResult::Loaded;
    } catch (const CArchiveException& e) {
        if (error)
            *error = e.what();
    } catch (const std::bad_alloc&) {
        if (error)
            *error = "not enough memory";
    }
    if (applied)
        return ConfigLoadResult::SettingsOnly;
    return FileExists(path) ? ConfigLoadResult::Unreadable : ConfigLoadResult::Missing;
}

bool SaveConfigFile(const std::string& path, const COptions& options, int32_t importHintPending, std::string* error)
{
    try {
        SafeFileWriter file(path);
        file.Open();
        CArchive ar = CArchive::ForStoring([&file](const uint8_t* data, std::size_t size) { file.Write(data, size); });
        ar.WriteObject(&options);
        ar.Io(importHintPending);
        ar.Flush();
        file.Commit(true);
        return true;
    } catch (const CArchiveException& e) {
        if (error)
            *error = e.what();
    }
    return false;
}
