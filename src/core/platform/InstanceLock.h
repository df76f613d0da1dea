#pragma once

#include <string>

/// An exclusive lock on a file, which the system releases when the process ends, however it ends:
/// one running copy per program folder, one writer per database.
class InstanceLock
{
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    InstanceLock(InstanceLock&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    /// Releases the lock held before, then takes over the other's.
    InstanceLock& operator=(InstanceLock&& other) noexcept;

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
