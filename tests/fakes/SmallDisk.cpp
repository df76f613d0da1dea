// A small disk for a whole-program test, without mounting one: preloaded into the program
// (LD_PRELOAD), it makes the files of one folder share $SMALL_DISK_BYTES as a filesystem of that
// size would. A write that would grow them past it writes what fits and then fails with ENOSPC,
// and statvfs of the folder tells the room left. Removing or truncating a file gives its room
// back, since the room is counted from the files' sizes at each write.
//
//     SMALL_DISK_DIR=/abs/folder SMALL_DISK_BYTES=4194304 LD_PRELOAD=liborvex-small-disk.so orvex ...
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

template <typename F> F Real(const char* name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

const char* Folder()
{
    const char* dir = std::getenv("SMALL_DISK_DIR");
    return dir && *dir ? dir : nullptr;
}

long long DiskBytes()
{
    const char* bytes = std::getenv("SMALL_DISK_BYTES");
    return bytes ? std::atoll(bytes) : 0;
}

bool InFolder(const char* path)
{
    const char* dir = Folder();
    const std::size_t n = dir ? std::strlen(dir) : 0;
    return dir && std::strncmp(path, dir, n) == 0 && (path[n] == '/' || path[n] == '\0');
}

bool FdInFolder(int fd)
{
    char link[64];
    char path[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return false;
    path[n] = '\0';
    return InFolder(path);
}

// What the folder's files take now.
long long Used()
{
    long long used = 0;
    DIR* dir = ::opendir(Folder());
    if (!dir)
        return 0;
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st = {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            used += st.st_size;
    }
    ::closedir(dir);
    return used;
}

long long Room()
{
    const long long room = DiskBytes() - Used();
    return room > 0 ? room : 0;
}

// How many of `size` bytes written at `offset` fit; -1 with ENOSPC when none do. The lock is held.
ssize_t Fitting(int fd, off_t offset, size_t size)
{
    struct stat st = {};
    if (!Folder() || size == 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !FdInFolder(fd))
        return static_cast<ssize_t>(size);
    const long long end = static_cast<long long>(offset) + static_cast<long long>(size);
    const long long limit = static_cast<long long>(st.st_size) + Room();
    if (end <= limit)
        return static_cast<ssize_t>(size);
    if (offset >= limit) {
        errno = ENOSPC;
        return -1;
    }
    return static_cast<ssize_t>(limit - offset);
}

template <typename Stat> void Shrink(const char* path, Stat* st)
{
    if (!Folder() || st->f_frsize == 0)
        return;
    char full[PATH_MAX];
    if (!::realpath(path, full) || !InFolder(full))
        return;
    st->f_blocks = static_cast<fsblkcnt_t>(DiskBytes()) / st->f_frsize;
    st->f_bfree = st->f_bavail = static_cast<fsblkcnt_t>(Room()) / st->f_frsize;
}

class Locked
{
public:
    Locked() { pthread_mutex_lock(&g_lock); }
    ~Locked() { pthread_mutex_unlock(&g_lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

} // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t size)
{
    static const auto real = Real<ssize_t (*)(int, const void*, size_t)>("write");
    const Locked locked;
    const int flags = ::fcntl(fd, F_GETFL);
    struct stat st = {};
    const off_t at = flags >= 0 && (flags & O_APPEND) && ::fstat(fd, &st) == 0 ? st.st_size : ::lseek(fd, 0, SEEK_CUR);
    const ssize_t fitting = at < 0 ? static_cast<ssize_t>(size) : Fitting(fd, at, size);
    return fitting < 0 ? -1 : real(fd, data, static_cast<size_t>(fitting));
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset)
{
    static const auto real = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    const Locked locked;
    const ssize_t fitting = Fitting(fd, offset, size);
    return fitting < 0 ? -1 : real(fd, data, static_cast<size_t>(fitting), offset);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off64_t offset)
{
    static const auto real = Real<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
    const Locked locked;
    const ssize_t fitting = Fitting(fd, offset, size);
    return fitting < 0 ? -1 : real(fd, data, static_cast<size_t>(fitting), offset);
}

int statvfs(const char* path, struct statvfs* st) noexcept
{
    static const auto real = Real<int (*)(const char*, struct statvfs*)>("statvfs");
    const int result = real(path, st);
    if (result == 0) {
        const Locked locked;
        Shrink(path, st);
    }
    return result;
}

int statvfs64(const char* path, struct statvfs64* st) noexcept
{
    static const auto real = Real<int (*)(const char*, struct statvfs64*)>("statvfs64");
    const int result = real(path, st);
    if (result == 0) {
        const Locked locked;
        Shrink(path, st);
    }
    return result;
}

} // extern "C"
