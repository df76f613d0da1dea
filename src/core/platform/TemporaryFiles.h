#pragma once

#include <string>

/// Temporary files that a signal ending the program must not leave behind. A writer registers its
/// temporary while the file exists; a signal handler removes every registered one. What the handler
/// touches is a fixed table of names copied at registration, so it needs no allocation and no lock.
namespace TemporaryFiles {

/// Keeps `path` registered while it lives. A name too long for the table, or a full table, goes
/// unregistered: the writer still removes its temporary itself, only a signal would miss it.
class Registration
{
public:
    explicit Registration(const std::string& path);
    ~Registration();
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    int m_slot = -1;
};

/// Removes every registered file. Async-signal-safe.
void RemoveAll() noexcept;

/// For the span of a command-line command: SIGINT and SIGTERM remove the registered files, then
/// end the program by the same signal, so the exit status is the one the signal gives. The previous
/// handlers come back when it goes.
class RemovedOnSignals
{
public:
    RemovedOnSignals();
    ~RemovedOnSignals();
    RemovedOnSignals(const RemovedOnSignals&) = delete;
    RemovedOnSignals& operator=(const RemovedOnSignals&) = delete;
};

} // namespace TemporaryFiles
