#include "CrashReporter.h"

#include "ProductInfo.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <ucontext.h>
#include <unistd.h>
#include <unwind.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <typeinfo>

extern char** environ;

namespace {

// Everything the handler reads is made here, before any fault: a handler may not allocate.
constexpr std::size_t kPathSize = 4096;
char g_reportPath[kPathSize];
char g_exePath[kPathSize];
char g_os[512];
char g_builtOn[32];
char g_escaped[1024]; ///< an exception that escaped: "std::runtime_error: its what()"
CrashReporter::Notice g_notice = CrashReporter::Notice::Stderr;
int g_probe[2] = {-1, -1}; ///< a pipe to read memory through when process_vm_readv is refused
volatile sig_atomic_t g_handling = 0;

// Room for the handler when the fault is the stack running out.
alignas(16) char g_altStack[256 * 1024];
// /proc/self/maps as it is at the fault: the modules and their places.
char g_maps[512 * 1024];
std::size_t g_mapsLength = 0;

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kMaxFrames = 200;
constexpr int kDumpWords = 50;

void CopyText(char* to, std::size_t size, const char* from)
{
    std::size_t n = std::strlen(from);
    if (n >= size)
        n = size - 1;
    std::memcpy(to, from, n);
    to[n] = '\0';
}

// Formats without stdio and writes in pieces of at most its buffer.
class CWriter
{
public:
    explicit CWriter(int fd) : m_fd(fd) {}
    ~CWriter() { Flush(); }
    CWriter(const CWriter&) = delete;
    CWriter& operator=(const CWriter&) = delete;

    CWriter& Str(const char* text)
    {
        while (*text)
            Put(*text++);
        return *this;
    }
    CWriter& Str(const char* text, std::size_t length)
    {
        for (std::size_t i = 0; i < length; ++i)
            Put(text[i]);
        return *this;
    }
    CWriter& Hex(uint64_t value, int digits)
    {
        char text[16];
        for (int i = digits - 1; i >= 0; --i) {
            text[i] = "0123456789ABCDEF"[value & 15];
            value >>= 4;
        }
        return Str(text, static_cast<std::size_t>(digits));
    }
    void Flush()
    {
        std::size_t done = 0;
        while (done < m_length) {
            const ssize_t n = ::write(m_fd, m_buffer + done, m_length - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        m_length = 0;
    }

private:
    void Put(char c)
    {
        if (m_length == sizeof m_buffer)
            Flush();
        m_buffer[m_length++] = c;
    }

    int m_fd;
    char m_buffer[4096];
    std::size_t m_length = 0;
};

// Reads memory that may not be there without faulting: the kernel checks the address.
bool ReadMemory(uintptr_t address, void* out, std::size_t size)
{
    iovec local{out, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    const ssize_t n = ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0);
    if (n == static_cast<ssize_t>(size))
        return true;
    if (n >= 0 || (errno != EPERM && errno != ENOSYS) || g_probe[0] < 0)
        return false;
    // Some sandboxes refuse the call: a pipe takes the bytes, or fails with EFAULT.
    if (::write(g_probe[1], reinterpret_cast<const void*>(address), size) != static_cast<ssize_t>(size))
        return false;
    return ::read(g_probe[0], out, size) == static_cast<ssize_t>(size);
}

void ReadMaps()
{
    g_mapsLength = 0;
    const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    while (g_mapsLength < sizeof g_maps) {
        const ssize_t n = ::read(fd, g_maps + g_mapsLength, sizeof g_maps - g_mapsLength);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        g_mapsLength += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

struct Mapping
{
    uintptr_t start = 0;
    uintptr_t end = 0;
    uint64_t offset = 0;
    bool executable = false;
    const char* path = nullptr; ///< into g_maps; "" for an anonymous mapping
    std::size_t pathLength = 0;
};

uint64_t ParseHex(const char*& p, const char* end)
{
    uint64_t value = 0;
    for (; p < end; ++p) {
        const char c = *p;
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            break;
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return value;
}

// The line of g_maps starting at `at`: "start-end perms offset dev inode   path".
bool NextMapping(std::size_t& at, Mapping& m)
{
    const char* const end = g_maps + g_mapsLength;
    const char* p = g_maps + at;
    if (p >= end)
        return false;
    const char* lineEnd = p;
    while (lineEnd < end && *lineEnd != '\n')
        ++lineEnd;
    at = static_cast<std::size_t>(lineEnd - g_maps) + 1;
    m = Mapping();
    m.start = ParseHex(p, lineEnd);
    if (p < lineEnd && *p == '-')
        ++p;
    m.end = ParseHex(p, lineEnd);
    if (p < lineEnd)
        ++p;
    m.executable = p + 2 < lineEnd && p[2] == 'x';
    while (p < lineEnd && *p != ' ')
        ++p;
    while (p < lineEnd && *p == ' ')
        ++p;
    m.offset = ParseHex(p, lineEnd);
    for (int field = 0; field < 2; ++field) { // device, inode
        while (p < lineEnd && *p == ' ')
            ++p;
        while (p < lineEnd && *p != ' ')
            ++p;
    }
    while (p < lineEnd && *p == ' ')
        ++p;
    m.path = p;
    m.pathLength = static_cast<std::size_t>(lineEnd - p);
    return true;
}

bool SamePath(const Mapping& a, const Mapping& b)
{
    return a.pathLength == b.pathLength && std::memcmp(a.path, b.path, a.pathLength) == 0;
}

// The module (a file mapped in) that holds `address`: its path and where it is loaded.
struct Module
{
    const char* path = "";
    std::size_t pathLength = 0;
    uintptr_t base = 0;
    bool found = false;
};

Module ModuleOf(uintptr_t address)
{
    Module module;
    Mapping m;
    std::size_t at = 0;
    Mapping first; // the first mapping of the file the last lines belong to
    while (NextMapping(at, m)) {
        if (m.pathLength == 0 || m.path[0] != '/')
            continue;
        if (!SamePath(first, m) || m.offset == 0)
            first = m;
        if (address >= m.start && address < m.end) {
            module.path = m.path;
            module.pathLength = m.pathLength;
            module.base = first.start;
            module.found = true;
            return module;
        }
    }
    return module;
}

bool IsCode(uintptr_t address)
{
    Mapping m;
    std::size_t at = 0;
    while (NextMapping(at, m))
        if (address >= m.start && address < m.end)
            return m.executable;
    return false;
}

// "01:offset module" of an address; a module keeps one section here, the whole file from its
// load address, since an ELF program's sections are not what a debugger is asked about.
void WriteLogical(CWriter& out, uintptr_t address, int sectionDigits)
{
    const Module module = ModuleOf(address);
    out.Hex(module.found ? 1 : 0, sectionDigits).Str(":").Hex(module.found ? address - module.base : 0, 16);
    out.Str(" ").Str(module.path, module.pathLength);
}

struct Frame
{
    uintptr_t address;
    uintptr_t frame;
};

struct UnwindWalk
{
    uintptr_t faultAddress;
    bool started;
    Frame* frames;
    int count;
};

_Unwind_Reason_Code CollectFrame(_Unwind_Context* context, void* data)
{
    auto* walk = static_cast<UnwindWalk*>(data);
    const uintptr_t ip = _Unwind_GetIP(context);
    // The handler's own frames come first; the walk counts from the frame that faulted.
    if (!walk->started) {
        if (ip != walk->faultAddress)
            return _URC_NO_REASON;
        walk->started = true;
    }
    if (ip == 0) // the outermost frame says where nothing called it from
        return _URC_END_OF_STACK;
    walk->frames[walk->count++] = {ip, _Unwind_GetCFA(context)};
    return walk->count == kMaxFrames ? _URC_NORMAL_STOP : _URC_NO_REASON;
}

_Unwind_Reason_Code IgnoreFrame(_Unwind_Context*, void*)
{
    return _URC_NO_REASON;
}

// The frames by the frame pointers: each frame's pointer leads to the caller's pointer and
// return address. Code built without frame pointers breaks the chain at once; the unwinder
// (the tables the compiler leaves for exceptions) then tells the frames instead.
int WalkStack(uintptr_t pc, uintptr_t fp, Frame* frames)
{
    int count = 0;
    uintptr_t address = pc;
    uintptr_t frame = fp;
    while (count < kMaxFrames) {
        uintptr_t next[2];
        if (!IsCode(address) || !ReadMemory(frame, next, sizeof next))
            break;
        frames[count++] = {address, frame};
        if (next[0] % sizeof(uintptr_t) != 0 || next[0] <= frame)
            break;
        frame = next[0];
        address = next[1];
    }
    if (count >= 4)
        return count;
    static Frame unwound[kMaxFrames];
    UnwindWalk walk{pc, false, unwound, 0};
    _Unwind_Backtrace(&CollectFrame, &walk);
    if (walk.count <= count)
        return count;
    std::memcpy(frames, unwound, sizeof(Frame) * static_cast<std::size_t>(walk.count));
    return walk.count;
}

void WriteDump(CWriter& out, const char* title, uintptr_t from, bool codeBytes)
{
    out.Str(title);
    for (int i = 0; i < kDumpWords; ++i) {
        uint64_t word = 0;
        if (!ReadMemory(from + static_cast<uintptr_t>(i) * sizeof word, &word, sizeof word))
            break;
        if (codeBytes) // printed as a number, the word then shows its bytes in memory order
            word = __builtin_bswap64(word);
        out.Str("0x").Hex(word, 16).Str(" ");
    }
}

struct Registers
{
    uintptr_t pc = 0;
    uintptr_t sp = 0;
    uintptr_t fp = 0;
};

Registers RegistersOf(const ucontext_t* context)
{
    Registers r;
#if defined(__x86_64__)
    r.pc = static_cast<uintptr_t>(context->uc_mcontext.gregs[REG_RIP]);
    r.sp = static_cast<uintptr_t>(context->uc_mcontext.gregs[REG_RSP]);
    r.fp = static_cast<uintptr_t>(context->uc_mcontext.gregs[REG_RBP]);
#elif defined(__aarch64__)
    r.pc = context->uc_mcontext.pc;
    r.sp = context->uc_mcontext.sp;
    r.fp = context->uc_mcontext.regs[29];
#else
    (void)context;
#endif
    return r;
}

void WriteRegisters(CWriter& out, const ucontext_t* context)
{
    const Registers r = RegistersOf(context);
    out.Str("\r\nRegisters:\r\n");
#if defined(__x86_64__)
    const greg_t* g = context->uc_mcontext.gregs;
    const struct
    {
        const char* name;
        int index;
    } general[] = {{"RAX", REG_RAX}, {"RBX", REG_RBX}, {"RCX", REG_RCX}, {"RDX", REG_RDX}, {"RSI", REG_RSI},
                   {"RDI", REG_RDI}, {"R8", REG_R8},   {"R9", REG_R9},   {"R10", REG_R10}, {"R11", REG_R11},
                   {"R12", REG_R12}, {"R13", REG_R13}, {"R14", REG_R14}, {"R15", REG_R15}};
    for (const auto& reg : general)
        out.Str(reg.name).Str(":").Hex(static_cast<uint64_t>(g[reg.index]), 16).Str("\r\n");
    const uint64_t segments = static_cast<uint64_t>(g[REG_CSGSFS]);
    uint16_t ds = 0, es = 0;
    asm volatile("mov %%ds, %0" : "=r"(ds));
    asm volatile("mov %%es, %0" : "=r"(es));
    out.Str("CS:RIP:").Hex(segments & 0xFFFF, 4).Str(":").Hex(r.pc, 16).Str("\r\n");
    out.Str("SS:RSP:").Hex((segments >> 48) & 0xFFFF, 4).Str(":").Hex(r.sp, 16).Str("  RBP:").Hex(r.fp, 16);
    out.Str("\r\nDS:").Hex(ds, 4).Str("  ES:").Hex(es, 4).Str("  FS:").Hex((segments >> 32) & 0xFFFF, 4);
    out.Str("  GS:").Hex((segments >> 16) & 0xFFFF, 4).Str("\r\n");
    out.Str("Flags:").Hex(static_cast<uint64_t>(g[REG_EFL]), 16).Str("\r\n");
#elif defined(__aarch64__)
    const auto& m = context->uc_mcontext;
    for (int i = 0; i < 31; ++i) {
        const char name[4] = {'X', static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10), '\0'};
        out.Str(name).Str(":").Hex(m.regs[i], 16).Str("\r\n");
    }
    out.Str("PC:").Hex(m.pc, 16).Str("\r\nSP:").Hex(m.sp, 16).Str("\r\nPSTATE:").Hex(m.pstate, 16).Str("\r\n");
#else
    (void)context;
    out.Str("(not read on this kind of processor)\r\n");
#endif
    (void)r;
}

void WriteReport(int fd, int signal, const siginfo_t* info, const ucontext_t* context)
{
    CWriter out(fd);
    out.Str("=========================================================\r\n"
            "===============Orvex " ORVEX_VERSION " Crash Report==========\r\n"
            "=========================================================\r\n\r\n");
    out.Str("OS : ").Str(g_os).Str("\r\nModule : ").Str(g_exePath).Str("\r\n\r\nBuilt on ").Str(g_builtOn);
    out.Str("\r\n\r\n");

    const Registers r = RegistersOf(context);
    const uintptr_t faultData = reinterpret_cast<uintptr_t>(info->si_addr);
    const bool overflow = signal == SIGSEGV && CrashReporter::FaultsOnStack(faultData, r.sp);
    const CrashReporter::ExceptionKind kind = CrashReporter::KindOf(signal, info->si_code, overflow);
    out.Str("Exception code: ").Hex(kind.code, 8).Str(" ");
    out.Str(signal == SIGABRT && g_escaped[0] ? g_escaped : kind.name).Str("\r\n");
    out.Str("Fault address:  ").Hex(r.pc, 16).Str(" ");
    WriteLogical(out, r.pc, 2);
    out.Str("\r\n");

    WriteRegisters(out, context);

    WriteDump(out, "\r\nRSP dump:\r\n", r.sp, false);
    WriteDump(out, "\r\n\r\nRBP dump:\r\n", r.fp, false);
    WriteDump(out, "\r\n\r\nRIP dump:\r\n", r.pc, true);
    out.Str("\r\n");

    static Frame frames[kMaxFrames];
    const int count = WalkStack(r.pc, r.fp, frames);
    out.Str("\r\nCall stack:\r\n\tAddress           Frame             Logical addr           Module\r\n");
    for (int i = 0; i < count; ++i) {
        out.Str("\t").Hex(frames[i].address, 16).Str("  ").Hex(frames[i].frame, 16).Str("  ");
        WriteLogical(out, frames[i].address, 4);
        out.Str("\r\n");
    }
    if (count == kMaxFrames)
        out.Str("Stack Overflow.\r\n");

    out.Str("\r\nList of loaded modules:\r\n\tBase Address      \tModule Size       \tModule Name\r\n");
    Mapping m, first;
    uintptr_t end = 0;
    std::size_t at = 0;
    auto flush = [&] {
        if (first.pathLength > 0 && first.path[0] == '/')
            out.Str("\t")
                .Hex(first.start, 16)
                .Str("\t")
                .Hex(end - first.start, 16)
                .Str("\t")
                .Str(first.path, first.pathLength)
                .Str("\r\n");
    };
    while (NextMapping(at, m)) {
        if (!SamePath(first, m)) {
            flush();
            first = m;
        }
        end = m.end;
    }
    flush();
    out.Str("\r\n");
}

void SayWhereTheReportIs(bool written)
{
    CWriter err(STDERR_FILENO);
    if (written)
        err.Str("orvex: the program failed; a crash report was written to ").Str(g_reportPath).Str("\n");
    else
        err.Str("orvex: the program failed, and no crash report could be written to ").Str(g_reportPath).Str("\n");
}

void StartDialog()
{
    char option[] = "--crash-dialog";
    char* const argv[] = {g_exePath, option, g_reportPath, nullptr};
    const pid_t child = ::vfork();
    if (child == 0) {
        ::execve(g_exePath, argv, environ);
        ::_exit(127);
    }
}

// A new file each time, never what stood at the name: a symbolic link put there would have the
// report written over a file elsewhere, and an old report's mode could leave the memory dumps
// readable by others. O_EXCL refuses whatever reappears between the two calls.
int OpenNewReport()
{
    ::unlink(g_reportPath);
    return ::open(g_reportPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_SYNC, 0600);
}

void OnFault(int signal, siginfo_t* info, void* context)
{
    // A fault inside the report, or a second thread's fault meanwhile: straight to the end.
    if (g_handling) {
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    g_handling = 1;
    // Should the report itself hang, the process still ends.
    ::alarm(20);
    ReadMaps();
    const int fd = OpenNewReport();
    if (fd >= 0) {
        WriteReport(fd, signal, info, static_cast<const ucontext_t*>(context));
        ::close(fd);
    }
    if (fd >= 0 && g_notice == CrashReporter::Notice::Dialog)
        StartDialog();
    else
        SayWhereTheReportIs(fd >= 0);
    // The signal's default action: the exit status and a core dump as the system gives them.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void OnTerminate()
{
    // Not yet in a signal handler: the exception can still be asked what it was.
    if (const std::type_info* type = abi::__cxa_current_exception_type()) {
        int status = 0;
        char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
        std::string text = "C++ exception ";
        text += demangled && status == 0 ? demangled : type->name();
        std::free(demangled);
        try {
            std::rethrow_exception(std::current_exception());
        } catch (const std::exception& e) {
            text += std::string(": ") + e.what();
        } catch (...) {
        }
        CopyText(g_escaped, sizeof g_escaped, text.c_str());
    } else {
        CopyText(g_escaped, sizeof g_escaped, "C++ terminate without an exception");
    }
    std::abort();
}

std::string OsDescription()
{
    std::string text;
    utsname names = {};
    if (::uname(&names) == 0)
        text = std::string(names.sysname) + " " + names.release + " " + names.machine;
    std::ifstream release("/etc/os-release");
    std::string line;
    while (std::getline(release, line)) {
        if (line.rfind("PRETTY_NAME=", 0) != 0)
            continue;
        std::string value = line.substr(12);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\''))
            value = value.substr(1, value.size() - 2);
        text += " (" + value + ")";
    }
    return text;
}

[[gnu::noinline]] int Recurse(int depth)
{
    volatile char pad[256];
    pad[0] = static_cast<char>(depth);
    if (depth < 0) // never: the stack runs out first
        return 0;
    return Recurse(depth + 1) + pad[0];
}

} // namespace

namespace CrashReporter {

void Install(const std::string& reportFolder, Notice notice)
{
    g_notice = notice;
    CopyText(g_reportPath, sizeof g_reportPath, (reportFolder + "CrashReport.txt").c_str());
    const ssize_t n = ::readlink("/proc/self/exe", g_exePath, sizeof g_exePath - 1);
    g_exePath[n > 0 ? n : 0] = '\0';
    CopyText(g_os, sizeof g_os, OsDescription().c_str());
    // __DATE__ is "Dec  7 2026"; the report writes "Dec 7 2026".
    std::string date = __DATE__;
    if (const auto twice = date.find("  "); twice != std::string::npos)
        date.erase(twice, 1);
    CopyText(g_builtOn, sizeof g_builtOn, date.c_str());
    if (g_probe[0] < 0 && ::pipe2(g_probe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_probe[0] = g_probe[1] = -1;
    // The unwinder sets itself up on first use; that must not happen inside the handler.
    _Unwind_Backtrace(&IgnoreFrame, nullptr);

    stack_t stack = {};
    stack.ss_sp = g_altStack;
    stack.ss_size = sizeof g_altStack;
    ::sigaltstack(&stack, nullptr);
    struct sigaction action = {};
    action.sa_sigaction = &OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigset_t faults;
    sigemptyset(&faults);
    for (const int signal : kSignals) {
        ::sigaction(signal, &action, nullptr);
        sigaddset(&faults, signal);
    }
    // A dialog started from a handler inherits the fault's signal blocked; it must not stay so.
    ::sigprocmask(SIG_UNBLOCK, &faults, nullptr);
    std::set_terminate(&OnTerminate);
}

ExceptionKind KindOf(int signal, int siCode, bool stackOverflow)
{
    switch (signal) {
    case SIGSEGV:
    case SIGBUS:
        return stackOverflow ? ExceptionKind{0xC00000FD, "STACK_OVERFLOW"}
                             : ExceptionKind{0xC0000005, "ACCESS_VIOLATION"};
    case SIGILL:
        return {0xC000001D, "ILLEGAL_INSTRUCTION"};
    case SIGFPE:
        switch (siCode) {
        case FPE_INTDIV:
            return {0xC0000094, "INT_DIVIDE_BY_ZERO"};
        case FPE_INTOVF:
            return {0xC0000095, "INT_OVERFLOW"};
        case FPE_FLTDIV:
            return {0xC000008E, "FLT_DIVIDE_BY_ZERO"};
        case FPE_FLTOVF:
            return {0xC0000091, "FLT_OVERFLOW"};
        case FPE_FLTUND:
            return {0xC0000093, "FLT_UNDERFLOW"};
        case FPE_FLTRES:
            return {0xC000008F, "FLT_INEXACT_RESULT"};
        case FPE_FLTINV:
            return {0xC0000090, "FLT_INVALID_OPERATION"};
        case FPE_FLTSUB:
            return {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"};
        default:
            return {0xC0000090, "FLT_INVALID_OPERATION"};
        }
    case SIGABRT:
        return {0xE06D7363, "ABORT"};
    default:
        return {0, ""};
    }
}

bool FaultsOnStack(uintptr_t faultAddress, uintptr_t sp)
{
    // Below: how far a single push or probe reaches; above: the largest frame we expect to store
    // into after reserving it.
    constexpr uintptr_t kBelow = uintptr_t{1} << 20;
    constexpr uintptr_t kAbove = uintptr_t{64} << 10;
    return faultAddress < sp ? sp - faultAddress <= kBelow : faultAddress - sp < kAbove;
}

void FaultOnPurpose(const std::string& kind)
{
    if (kind == "null") {
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
    } else if (kind == "divide") {
        volatile int zero = 0;
        volatile int one = 1;
        one = one / zero;
    } else if (kind == "abort") {
        std::abort();
    } else if (kind == "exception") {
        throw std::runtime_error("a fault on purpose");
    } else if (kind == "recursion") {
        Recurse(0);
    }
}

} // namespace CrashReporter
