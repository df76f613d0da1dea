// The code and name a fault is reported with, for every signal and floating-point cause the
// handler takes.
#include "core/crash/CrashReporter.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

TEST(CrashReporter, EverySignalHasItsCodeAndName)
{
    const struct
    {
        int signal;
        int siCode;
        bool overflow;
        uint32_t code;
        const char* name;
    } cases[] = {
        {SIGSEGV, SEGV_MAPERR, false, 0xC0000005, "ACCESS_VIOLATION"},
        {SIGSEGV, SEGV_ACCERR, false, 0xC0000005, "ACCESS_VIOLATION"},
        {SIGBUS, BUS_ADRERR, false, 0xC0000005, "ACCESS_VIOLATION"},
        {SIGSEGV, SEGV_MAPERR, true, 0xC00000FD, "STACK_OVERFLOW"},
        {SIGILL, ILL_ILLOPC, false, 0xC000001D, "ILLEGAL_INSTRUCTION"},
        {SIGFPE, FPE_INTDIV, false, 0xC0000094, "INT_DIVIDE_BY_ZERO"},
        {SIGFPE, FPE_INTOVF, false, 0xC0000095, "INT_OVERFLOW"},
        {SIGFPE, FPE_FLTDIV, false, 0xC000008E, "FLT_DIVIDE_BY_ZERO"},
        {SIGFPE, FPE_FLTOVF, false, 0xC0000091, "FLT_OVERFLOW"},
        {SIGFPE, FPE_FLTUND, false, 0xC0000093, "FLT_UNDERFLOW"},
        {SIGFPE, FPE_FLTRES, false, 0xC000008F, "FLT_INEXACT_RESULT"},
        {SIGFPE, FPE_FLTINV, false, 0xC0000090, "FLT_INVALID_OPERATION"},
        {SIGFPE, FPE_FLTSUB, false, 0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
        {SIGABRT, SI_TKILL, false, 0xE06D7363, "ABORT"},
    };
    for (const auto& c : cases) {
        const CrashReporter::ExceptionKind kind = CrashReporter::KindOf(c.signal, c.siCode, c.overflow);
        EXPECT_EQ(kind.code, c.code) << c.name;
        EXPECT_EQ(std::string(kind.name), c.name);
    }
}

// The recursion's frame faults either on the call's push (below the stack pointer) or on its own
// store above it after reserving the frame; both are the guard page, a wild pointer is not.
TEST(CrashReporter, StackOverflowIsAFaultNearTheStackPointerOnEitherSide)
{
    const uintptr_t sp = 0x7ffc'0000'0000;
    const struct
    {
        uintptr_t fault;
        bool overflow;
    } cases[] = {
        {sp - 8, true},
        {sp, true},
        {sp + 0x108, true},
        {sp + (uintptr_t{64} << 10) - 1, true},
        {sp + (uintptr_t{64} << 10), false},
        {sp - (uintptr_t{1} << 20), true},
        {sp - (uintptr_t{1} << 20) - 1, false},
        {0, false},
        {0x10, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CrashReporter::FaultsOnStack(c.fault, sp), c.overflow) << std::hex << c.fault;
}
