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

    const std::string& GetTarget() const { return m_target; }

private:
    std::string m_target;
    std::string m_temp;
    int m_fd = -1;
};

/// Copies `from` to `to` through a temporary file, replacing `to`; false when it could not.
bool CopyFileReplacing(const std::string& from, const std::string& to);

bool FileExists(const std::string& path);
