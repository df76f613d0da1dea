#pragma once

#include <string>

/// One running copy per program folder: an exclusive lock on a file in that folder, which the
/// system releases when the process ends, however it ends.
class InstanceLock
{
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    enum class Result
    {
        Acquired,
        HeldElsewhere, ///< another copy runs
        Failed,        ///< the lock file cannot be made; see error
    };
    Result TryAcquire(const std::string& lockFilePath, std::string* error = nullptr);
    void Release();
    bool IsHeld() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};
