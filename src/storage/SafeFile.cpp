#include "SafeFile.h"

#include "Archive.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

bool WriteAll(int fd, const void* data, std::size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
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

SafeFileWriter::SafeFileWriter(std::string target) : m_target(std::move(target))
{
    // Saving through a symbolic link replaces the file it points to, not the link.
    std::error_code ec;
    if (std::filesystem::is_symlink(m_target, ec)) {
        const auto resolved = std::filesystem::canonical(m_target, ec);
        if (!ec)
            m_target = resolved.string();
    }
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
    if (m_fd < 0)
        Fail("cannot create a file beside", m_target);
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
