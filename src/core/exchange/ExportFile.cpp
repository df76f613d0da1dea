#include "ExportFile.h"

#include "core/storage/SafeFile.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error)
{
    throw std::runtime_error(what + " \"" + path + "\": " + std::strerror(error));
}

std::string DirectoryOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void Sync(const std::string& path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        Fail("cannot reopen", path, errno);
    const int result = ::fsync(fd);
    const int saved = errno;
    ::close(fd);
    // A folder that cannot be synced is no reason to call the export failed.
    if (result != 0 && (flags & O_DIRECTORY) == 0)
        Fail("cannot write", path, saved);
}

// mkstemp would make the file 0600 and leave the mode to a chmod that has to guess the umask; a
// plain create with 0666 gets what every other new file of the user gets.
int CreateBeside(const std::string& target, std::string& temp)
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    auto seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                (static_cast<uint64_t>(::getpid()) << 32);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = target + ".tmp-";
        for (int i = 0; i < 6; ++i) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            temp.push_back(kLetters[(seed >> 33) % (sizeof kLetters - 1)]);
        }
        const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

CExportFile::CExportFile(const std::string& path) : m_target(ResolveSaveTarget(path))
{
    struct stat st = {};
    if (::stat(m_target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw std::runtime_error("\"" + m_target + "\" is a folder");
        if (!S_ISREG(st.st_mode))
            throw std::runtime_error("\"" + m_target + "\" is not a plain file");
        // Renaming over it needs only the folder's permission: the file's own is asked here.
        if (::access(m_target.c_str(), W_OK) != 0)
            Fail("cannot write", m_target, errno);
    }
    m_fd = CreateBeside(m_target, m_temp);
    if (m_fd < 0)
        Fail("cannot create a file beside", m_target, errno);
    m_registration.emplace(m_temp);
}

CExportFile::~CExportFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_temp.empty())
        ::unlink(m_temp.c_str());
}

void CExportFile::Write(const void* data, std::size_t size)
{
    if (!WriteAll(m_fd, data, size))
        Fail("cannot write", m_temp, errno);
}

void CExportFile::Commit()
{
    const int fd = m_fd;
    m_fd = -1;
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    if (::close(fd) != 0 || !synced)
        Fail("cannot write", m_temp, synced ? errno : syncError);
    // A writer that opened the temporary by name wrote through a descriptor of its own.
    Sync(m_temp, O_RDONLY);
    struct stat st = {};
    if (::stat(m_target.c_str(), &st) == 0)
        ::chmod(m_temp.c_str(), st.st_mode & 07777);
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0)
        Fail("cannot replace", m_target, errno);
    m_temp.clear();
    m_registration.reset();
    Sync(DirectoryOf(m_target), O_RDONLY | O_DIRECTORY);
}
