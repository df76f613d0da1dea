#include "SafeFile.h"

#include "Archive.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path)
{
    throw CArchiveException(what + " \"" + path + "\": " + std::strerror(errno));
}

std::string DirectoryOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void SyncDirectory(const std::string& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool FileExists(const std::string& path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string ResolveSaveTarget(const std::string& path)
{
    // Saving through a symbolic link replaces the file it points to, not the link; a link whose
    // target is missing gets that target created, never a regular file in its own place.
    namespace fs = std::filesystem;
    fs::path current(path);
    for (int depth = 0; depth < 40; ++depth) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(current, ec)) || ec)
            break;
        fs::path next = fs::read_symlink(current, ec);
        if (ec)
            break;
        if (next.is_relative())
            next = current.parent_path() / next;
        current = next.lexically_normal();
    }
    return current.string();
}

SafeFileWriter::SafeFileWriter(std::string target) : m_target(ResolveSaveTarget(target))
{
    if (m_target != target)
        m_linkName = std::move(target);
}

SafeFileWriter::~SafeFileWriter()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(m_temp.c_str());
    }
}

void SafeFileWriter::Open()
{
    m_temp = m_target + ".tmp-XXXXXX";
    m_fd = ::mkostemp(m_temp.data(), O_CLOEXEC);
    if (m_fd < 0) {
        if (errno == ENOENT && !m_linkName.empty())
            throw CArchiveException("cannot save \"" + m_linkName + "\": it is a link to \"" + m_target +
                                    "\", whose folder does not exist");
        Fail("cannot create a file beside", m_target);
    }
    struct stat st = {};
    const mode_t mode = ::stat(m_target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600;
    ::fchmod(m_fd, mode);
}

void SafeFileWriter::Write(const void* data, std::size_t size)
{
    if (!WriteAll(m_fd, data, size))
        Fail("cannot write", m_temp);
}

void SafeFileWriter::Commit(bool keepBackup)
{
    if (::fsync(m_fd) != 0)
        Fail("cannot write", m_temp);
    if (::close(m_fd) != 0) {
        m_fd = -1;
        ::unlink(m_temp.c_str());
        Fail("cannot write", m_temp);
    }
    m_fd = -1;

    if (keepBackup && FileExists(m_target)) {
        // A hard link keeps the old file as it is without copying a byte; filesystems without
        // links get a copy.
        const std::string backup = m_target + ".bak";
        const std::string linkTemp = backup + ".tmp";
        ::unlink(linkTemp.c_str());
        if (::link(m_target.c_str(), linkTemp.c_str()) == 0) {
            if (::rename(linkTemp.c_str(), backup.c_str()) != 0)
                ::unlink(linkTemp.c_str());
        } else {
            CopyFileReplacing(m_target, backup);
        }
    }

    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        const int saved = errno;
        ::unlink(m_temp.c_str());
        errno = saved;
        Fail("cannot replace", m_target);
    }
    SyncDirectory(DirectoryOf(m_target));
}

std::string SetFileAside(const std::string& path, std::string* error)
{
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    std::string candidate = path + ".damaged-" + stamp;
    for (int i = 2; FileExists(candidate) && i < 100; ++i)
        candidate = path + ".damaged-" + stamp + "-" + std::to_string(i);
    if (FileExists(candidate))
        errno = EEXIST;
    if (FileExists(candidate) || ::rename(path.c_str(), candidate.c_str()) != 0) {
        if (error)
            *error = "cannot rename \"" + path + "\": " + std::strerror(errno);
        return {};
    }
    return candidate;
}

namespace {

// mkostemp's six characters.
bool IsTempSuffix(std::string_view s)
{
    if (s.size() != 6)
        return false;
    for (const char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

bool IsTemporaryOf(std::string_view name, std::string_view base)
{
    if (name.substr(0, base.size()) != base)
        return false;
    const std::string_view rest = name.substr(base.size());
    if (rest == ".bak.tmp")
        return true;
    for (const std::string_view prefix : {std::string_view(".tmp-"), std::string_view(".bak.tmp-")})
        if (rest.substr(0, prefix.size()) == prefix && IsTempSuffix(rest.substr(prefix.size())))
            return true;
    return false;
}

} // namespace

int RemoveStaleTemporaries(const std::string& path)
{
    const std::string target = ResolveSaveTarget(path);
    const std::string dir = DirectoryOf(target);
    const auto slash = target.find_last_of('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty())
        return 0;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(d)) {
        const std::string name = entry->d_name;
        if (!IsTemporaryOf(name, base))
            continue;
        const std::string full = dir + "/" + name;
        struct stat st = {};
        // Only plain files of our own: a link or another user's file is not a temporary we made.
        if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::unlink(full.c_str()) == 0)
            ++removed;
    }
    ::closedir(d);
    return removed;
}

bool CopyFileReplacing(const std::string& from, const std::string& to)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    bool ok = false;
    try {
        SafeFileWriter out(to);
        out.Open();
        char buffer[64 * 1024];
        for (;;) {
            const ssize_t n = ::read(in, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throw CArchiveException("read failed");
            if (n == 0)
                break;
            out.Write(buffer, static_cast<std::size_t>(n));
        }
        out.Commit(false);
        ok = true;
    } catch (const CArchiveException&) {
    }
    ::close(in);
    return ok;
}

bool WriteAll(int fd, const void* data, std::size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}
