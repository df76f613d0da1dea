#include "TaskScheduler.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr std::string_view kMarker = "# Orvex weekly check";
constexpr const char* kNoCron = "cron is not installed: the weekly check cannot be scheduled";
// A crontab is a few lines; anything near this is not one we should rewrite.
constexpr std::size_t kMaxTable = 1 << 20;
constexpr std::size_t kMaxMessage = 4096;
constexpr int kTimeoutSeconds = 30;

std::string FindOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (dir.empty())
            dir = ".";
        const std::string candidate = dir + "/" + name;
        struct stat st = {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// crontab's stderr as one line: it is shown in a message box or on our own stderr.
std::string OneLine(const std::string& text)
{
    std::string line;
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            if (!line.empty() && line.back() != ' ')
                line += ' ';
        } else {
            line += c;
        }
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

struct RunResult
{
    int exitCode = -1;
    std::string out;
    std::string err;
};

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }
    void Reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// Runs crontab with `input` (if any) as its stdin. False with a reason when it could not be
// started, overran its bounds or its time; its exit code is left to the caller.
bool RunCrontab(const std::string& crontab, const std::vector<std::string>& args, const std::string* input,
                RunResult& result, std::string& error)
{
    // A file rather than a pipe for stdin: no SIGPIPE when crontab stops reading early, and no
    // deadlock between feeding its stdin and draining its output.
    Fd in;
    if (input) {
        std::FILE* file = std::tmpfile();
        if (!file) {
            error = std::string("cannot create a temporary file for the new crontab: ") + std::strerror(errno);
            return false;
        }
        const bool written = std::fwrite(input->data(), 1, input->size(), file) == input->size() &&
                             std::fflush(file) == 0 && ::lseek(fileno(file), 0, SEEK_SET) == 0;
        in.Reset(::dup(fileno(file)));
        std::fclose(file);
        if (!written || in.Get() < 0) {
            error = std::string("cannot write the new crontab to a temporary file: ") + std::strerror(errno);
            return false;
        }
    } else {
        in.Reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    }
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        error = std::string("cannot run crontab: ") + std::strerror(errno);
        return false;
    }
    Fd outRead(outPipe[0]), outWrite(outPipe[1]);
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        error = std::string("cannot run crontab: ") + std::strerror(errno);
        return false;
    }
    Fd errRead(errPipe[0]), errWrite(errPipe[1]);

    std::vector<std::string> argStrings{"crontab"};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argStrings)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in.Get() >= 0)
        posix_spawn_file_actions_adddup2(&actions, in.Get(), 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), 1);
    posix_spawn_file_actions_adddup2(&actions, errWrite.Get(), 2);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, crontab.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    in.Reset();
    outWrite.Reset();
    errWrite.Reset();
    if (spawned != 0) {
        error = "cannot run " + crontab + ": " + std::strerror(spawned);
        return false;
    }

    bool outOverflow = false;
    bool timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
    while (outRead.Get() >= 0 || errRead.Get() >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd fds[2] = {{outRead.Get(), POLLIN, 0}, {errRead.Get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            error = std::string("cannot read crontab's output: ") + std::strerror(errno);
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            return false;
        }
        Fd* sources[2] = {&outRead, &errRead};
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[8192];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                sources[i]->Reset();
                continue;
            }
            std::string& sink = i == 0 ? result.out : result.err;
            const std::size_t limit = i == 0 ? kMaxTable : kMaxMessage;
            const std::size_t room = limit - std::min(limit, sink.size());
            sink.append(buffer, std::min(room, static_cast<std::size_t>(got)));
            if (i == 0 && static_cast<std::size_t>(got) > room)
                outOverflow = true;
        }
    }
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) {
        error = "crontab did not finish within " + std::to_string(kTimeoutSeconds) + " seconds";
        return false;
    }
    if (outOverflow) {
        error = "the crontab is larger than " + std::to_string(kMaxTable / 1024) + " KiB";
        return false;
    }
    if (WIFSIGNALED(status)) {
        error = "crontab was ended by signal " + std::to_string(WTERMSIG(status));
        return false;
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

// The failure text of a crontab run that exited non-zero: its own words when it said any.
std::string CrontabMessage(const RunResult& run)
{
    const std::string message = OneLine(run.err);
    return message.empty() ? "crontab exited with status " + std::to_string(run.exitCode) : message;
}

// Lines keep their own terminator ("\n", or none for a last line without one), so joining them
// gives back the table byte for byte.
std::vector<std::string> SplitLines(const std::string& table)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < table.size()) {
        const std::size_t end = table.find('\n', start);
        const std::size_t next = end == std::string::npos ? table.size() : end + 1;
        lines.push_back(table.substr(start, next - start));
        start = next;
    }
    return lines;
}

std::string_view TrimRight(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool IsTaskLine(std::string_view line)
{
    line = TrimRight(line);
    const std::size_t first = line.find_first_not_of(" \t");
    // A commented-out line is a switched-off job, not a task.
    if (first == std::string_view::npos || line[first] == '#')
        return false;
    if (line.size() <= kMarker.size() || line.substr(line.size() - kMarker.size()) != kMarker)
        return false;
    const char before = line[line.size() - kMarker.size() - 1];
    return before == ' ' || before == '\t';
}

std::vector<std::string> Fields(std::string_view line, std::size_t count)
{
    std::vector<std::string> fields;
    std::size_t pos = 0;
    while (fields.size() < count) {
        pos = line.find_first_not_of(" \t", pos);
        if (pos == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find_first_of(" \t", pos), line.size());
        fields.emplace_back(line.substr(pos, end - pos));
        pos = end;
    }
    return fields;
}

std::optional<int> Number(const std::string& text, int low, int high)
{
    if (text.empty() || text.size() > 2 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    const int value = std::stoi(text);
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<int> CronDay(const std::string& text)
{
    static constexpr const char* kNames[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (int day = 0; day < 7; ++day) {
        if (lower == kNames[day])
            return day;
    }
    if (const auto number = Number(text, 0, 7))
        return *number % 7;
    return std::nullopt;
}

// The day-of-week field as day bits: lists, ranges, names and "*" as a hand-edited line may hold
// them; steps are not a weekly schedule this program can show.
std::optional<uint8_t> DayBits(const std::string& field)
{
    if (field == "*")
        return static_cast<uint8_t>(0x7F);
    uint8_t bits = 0;
    std::size_t start = 0;
    while (start <= field.size()) {
        const std::size_t end = std::min(field.find(',', start), field.size());
        const std::string item = field.substr(start, end - start);
        const std::size_t dash = item.find('-');
        const auto first = CronDay(item.substr(0, dash));
        const auto last = dash == std::string::npos ? first : CronDay(item.substr(dash + 1));
        if (!first || !last)
            return std::nullopt;
        // "5-7" names Friday to Sunday: 7 is Sunday again.
        const int lastDay = dash != std::string::npos && item.substr(dash + 1) == "7" ? 7 : *last;
        if (lastDay < *first)
            return std::nullopt;
        for (int day = *first; day <= lastDay; ++day)
            bits |= static_cast<uint8_t>(1u << (day % 7));
        start = end + 1;
    }
    return bits;
}

// Double quotes for cron's /bin/sh: inside them only these four characters are special.
std::string ShellQuote(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\' || c == '$' || c == '`')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// cron turns an unescaped "%" into a line break and feeds the rest to the command's stdin.
std::string CronEscape(const std::string& command)
{
    std::string escaped;
    for (const char c : command) {
        if (c == '%')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

bool HasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos || text.find('\0') != std::string::npos;
}

std::optional<passwd> PasswdEntry(std::vector<char>& buffer)
{
    passwd entry = {};
    passwd* found = nullptr;
    buffer.resize(16384);
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return std::nullopt;
    return entry;
}

std::string WithSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

bool SameFolder(const std::string& a, const std::string& b)
{
    std::error_code ec;
    const auto left = std::filesystem::weakly_canonical(a, ec);
    if (ec)
        return WithSlash(a) == WithSlash(b);
    const auto right = std::filesystem::weakly_canonical(b, ec);
    if (ec)
        return WithSlash(a) == WithSlash(b);
    return WithSlash(left.string()) == WithSlash(right.string());
}

} // namespace

CTaskScheduler::CTaskScheduler(std::string program, std::string programFolder, bool defaultFolder)
    : m_program(std::move(program)), m_programFolder(std::move(programFolder)), m_defaultFolder(defaultFolder)
{
}

std::optional<std::string> CTaskScheduler::ReadTable()
{
    const std::string crontab = FindOnPath("crontab");
    if (crontab.empty()) {
        m_lastError = kNoCron;
        return std::nullopt;
    }
    RunResult run;
    if (!RunCrontab(crontab, {"-l"}, nullptr, run, m_lastError))
        return std::nullopt;
    if (run.exitCode == 0)
        return run.out;
    // A user who never had a table: the first line written creates it.
    if (run.exitCode == 1 && run.err.rfind("no crontab for ", 0) == 0)
        return std::string();
    m_lastError = CrontabMessage(run);
    return std::nullopt;
}

bool CTaskScheduler::WriteTable(const std::string& table)
{
    const std::string crontab = FindOnPath("crontab");
    if (crontab.empty()) {
        m_lastError = kNoCron;
        return false;
    }
    // crontab replaces the installed table only once it has read and checked the whole new one.
    RunResult run;
    if (!RunCrontab(crontab, {"-"}, &table, run, m_lastError))
        return false;
    if (run.exitCode != 0) {
        m_lastError = CrontabMessage(run);
        return false;
    }
    return true;
}

std::optional<std::string> CTaskScheduler::TaskCommand()
{
    if (m_program.empty() || m_program[0] != '/') {
        m_lastError = "the program path \"" + m_program + "\" is not absolute";
        return std::nullopt;
    }
    if (HasLineBreak(m_program) || (!m_defaultFolder && HasLineBreak(m_programFolder))) {
        m_lastError = "the program path or folder holds a line break, which a crontab line cannot carry";
        return std::nullopt;
    }
    std::string command;
    if (!m_defaultFolder)
        command = "ORVEX_HOME=" + ShellQuote(m_programFolder) + " ";
    command += ShellQuote(m_program) + " /check";
    return CronEscape(command);
}

bool CTaskScheduler::ScheduledTaskExists()
{
    m_lastError.clear();
    const auto table = ReadTable();
    if (!table)
        return false;
    if (m_pendingTask)
        return true;
    const auto lines = SplitLines(*table);
    return std::any_of(lines.begin(), lines.end(), [](const std::string& line) { return IsTaskLine(line); });
}

bool CTaskScheduler::CreateScheduledTask()
{
    // Reading the table first makes a missing or broken cron fail here, before the caller asks for days.
    if (!ScheduledTaskExists() && !m_lastError.empty())
        return false;
    m_pendingTask = true;
    return true;
}

bool CTaskScheduler::DeleteScheduledTask()
{
    m_lastError.clear();
    m_pendingTask = false;
    const auto table = ReadTable();
    if (!table)
        return false;
    std::string kept;
    bool removed = false;
    for (const std::string& line : SplitLines(*table)) {
        if (IsTaskLine(line))
            removed = true;
        else
            kept += line;
    }
    return !removed || WriteTable(kept);
}

bool CTaskScheduler::SetTaskAccount(const std::string& /*user*/, const std::string& /*password*/)
{
    m_lastError.clear();
    return true;
}

std::optional<std::string> CTaskScheduler::GetTaskAccount()
{
    if (!ScheduledTaskExists()) {
        if (m_lastError.empty())
            m_lastError = "no weekly check is scheduled";
        return std::nullopt;
    }
    return CurrentUserName();
}

std::optional<CTaskScheduler::WeeklyTrigger> CTaskScheduler::GetWeeklyTrigger()
{
    m_lastError.clear();
    const auto table = ReadTable();
    if (!table)
        return std::nullopt;
    for (const std::string& line : SplitLines(*table)) {
        if (!IsTaskLine(line))
            continue;
        const auto fields = Fields(line, 5);
        const auto minute = fields.size() == 5 ? Number(fields[0], 0, 59) : std::nullopt;
        const auto hour = fields.size() == 5 ? Number(fields[1], 0, 23) : std::nullopt;
        const auto days = fields.size() == 5 ? DayBits(fields[4]) : std::nullopt;
        if (!minute || !hour || !days || fields[2] != "*" || fields[3] != "*") {
            m_lastError = "the crontab line of the weekly check is not a weekly time: " + std::string(TrimRight(line));
            return std::nullopt;
        }
        return WeeklyTrigger{*days, *hour, *minute};
    }
    m_lastError = "no weekly check is scheduled";
    return std::nullopt;
}

bool CTaskScheduler::SetWeeklyTrigger(uint8_t days, int hour, int minute)
{
    m_lastError.clear();
    if ((days & 0x7F) == 0 || (days & ~0x7F) != 0) {
        m_lastError = "the weekly check needs at least one day of the week";
        return false;
    }
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) {
        m_lastError = "the start time must lie between 00:00 and 23:59";
        return false;
    }
    const auto command = TaskCommand();
    if (!command)
        return false;
    const auto table = ReadTable();
    if (!table)
        return false;

    std::string dayList;
    for (int day = 0; day < 7; ++day) {
        if (days & (1u << day))
            dayList += (dayList.empty() ? "" : ",") + std::to_string(day);
    }
    const std::string taskLine = std::to_string(minute) + " " + std::to_string(hour) + " * * " + dayList + " " +
                                 *command + " " + std::string(kMarker);

    std::vector<std::string> lines = SplitLines(*table);
    std::string updated;
    bool placed = false;
    for (const std::string& line : lines) {
        if (!IsTaskLine(line)) {
            updated += line;
        } else if (!placed) {
            // In place, so the variables set above it still apply.
            updated += taskLine + "\n";
            placed = true;
        }
    }
    if (!placed && !m_pendingTask) {
        m_lastError = "no weekly check is scheduled";
        return false;
    }
    if (!placed) {
        // A last line without a line break stays last and unchanged; the new line goes before it.
        if (!lines.empty() && lines.back().back() != '\n')
            updated.insert(updated.size() - lines.back().size(), taskLine + "\n");
        else
            updated += taskLine + "\n";
    }
    if (updated != *table && !WriteTable(updated))
        return false;
    m_pendingTask = false;
    return true;
}

std::string CurrentUserName()
{
    std::vector<char> buffer;
    if (const auto entry = PasswdEntry(buffer); entry && entry->pw_name && *entry->pw_name)
        return entry->pw_name;
    if (const char* user = std::getenv("USER"); user && *user)
        return user;
    return std::to_string(::geteuid());
}

bool IsDefaultProgramFolder(const std::string& folder)
{
    // cron starts the job with HOME from the password file and without XDG_DATA_HOME, so the
    // folder it finds may differ from the one this session finds without ORVEX_HOME.
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::string exeFolder = WithSlash(exe.parent_path().string());
        struct stat st = {};
        if (::stat((exeFolder + "ORX.cfg").c_str(), &st) == 0)
            return SameFolder(folder, exeFolder);
    }
    std::vector<char> buffer;
    const auto entry = PasswdEntry(buffer);
    const char* home = entry && entry->pw_dir && *entry->pw_dir ? entry->pw_dir : std::getenv("HOME");
    if (!home || !*home)
        return false;
    return SameFolder(folder, WithSlash(home) + ".local/share/Orvex/");
}

std::string ScheduleSummary(const CTaskScheduler::WeeklyTrigger& trigger, const std::string& account)
{
    static constexpr const char* kDays[] = {"Sun, ", "Mon, ", "Tue, ", "Wed, ", "Thu, ", "Fri, ", "Sat, "};
    std::string summary;
    for (int day = 0; day < 7; ++day) {
        if (trigger.days & (1u << day))
            summary += kDays[day];
    }
    char time[32];
    std::snprintf(time, sizeof time, " at %02i:%02i as [", trigger.hour % 100, trigger.minute % 100);
    return summary + time + account + "]";
}

std::string ScheduleSummary(CTaskScheduler& scheduler)
{
    if (!scheduler.ScheduledTaskExists())
        return "Not configured";
    const std::string account = scheduler.GetTaskAccount().value_or(std::string());
    // A line whose time cannot be read still shows that a task exists.
    return ScheduleSummary(scheduler.GetWeeklyTrigger().value_or(CTaskScheduler::WeeklyTrigger{}), account);
}
