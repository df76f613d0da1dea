#pragma once

#include <cstdint>
#include <string>

/// The last word of a program that faults: "CrashReport.txt" in the program folder, written from
/// the fault's signal handler with async-signal-safe calls only, then either a fresh copy of the
/// program showing the offer to mail it, or the report's path on stderr. The process then ends
/// by the signal's own default action, so the exit status and a core dump stay as they were.
namespace CrashReporter {

enum class Notice
{
    Dialog, ///< start "orvex --crash-dialog REPORT" (the window's case)
    Stderr, ///< name the report on stderr ("/check", the command-line forms)
};

/// Installs the handlers of SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT on an alternate stack,
/// and the terminate handler for an exception that escapes everything. Call first thing in
/// main: everything the handler needs (paths, the system's name) is gathered here.
void Install(const std::string& reportFolder, Notice notice);

/// The code and name a signal is reported with, as the report has them: SIGSEGV "C0000005
/// ACCESS_VIOLATION", SIGFPE by its si_code, SIGABRT "E06D7363", and so on. `stackOverflow`
/// for a SIGSEGV on the guard page below the stack.
struct ExceptionKind
{
    uint32_t code;
    const char* name;
};
ExceptionKind KindOf(int signal, int siCode, bool stackOverflow);

/// Whether a SIGSEGV at `faultAddress`, with the stack pointer at `sp`, ran into the stack's
/// guard: a push just below the stack pointer, or a frame's own store above it once the frame
/// has been reserved (a function moves the stack pointer first and writes its locals after).
bool FaultsOnStack(uintptr_t faultAddress, uintptr_t sp);

/// The private option that faults on purpose, for the tests: "null", "divide", "abort",
/// "exception", "recursion". Returns only for an unknown kind.
void FaultOnPurpose(const std::string& kind);

} // namespace CrashReporter
