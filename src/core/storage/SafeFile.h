#pragma once

#include <cstddef>
#include <string>

/// Writes a file so that a crash or a full disk never leaves it half-written: the bytes go to a
/// temporary file beside the target, which is synced and then renamed over the target.
/// New files are readable by the owner only; a replaced file keeps its permissions.
class SafeFileWriter
{
public:
    explicit SafeFileWriter(std::string target);
    ~SafeFileWriter();
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    /// Each throws CArchiveException with the system's reason.
    void Open();
    void Write(const void* data, std::size_t size);
    /// Syncs the new file, keeps the old one as target + ".bak" when asked (a missing or
    /// uncopyable old file is no reason to fail), then puts the new file in place.
    void Commit(bool keepBackup);

private:
    std::string m_target;
    std::string m_linkName; ///< the symbolic link the target was reached through, if any
    std::string m_temp;
    int m_fd = -1;
};

/// Copies `from` to `to` through a temporary file, replacing `to`; false when it could not.
/// Writes every byte, going on after interrupted writes; false with errno set (ENOSPC for a write
/// that took nothing).
bool WriteAll(int fd, const void* data, std::size_t size);

bool CopyFileReplacing(const std::string& from, const std::string& to);

bool FileExists(const std::string& path);

/// The file a save of `path` writes: the path itself, or the end of its chain of symbolic links
/// (which need not exist yet). Relative link targets count from the link's own folder.
std::string ResolveSaveTarget(const std::string& path);

/// Renames a file that must not be saved over to "<path>.damaged-<date and time>" (with a number
/// when that exists too). Returns the new name, or "" with the reason in `error`.
std::string SetFileAside(const std::string& path, std::string* error);

/// Removes the temporary files that a save of `path` left behind when it was killed half-way
/// ("<name>.tmp-XXXXXX" and the backup's own temporaries). Only the holder of the lock that
/// guards the file may call this: another writer's temporary would look the same. Returns how
/// many were removed.
int RemoveStaleTemporaries(const std::string& path);
