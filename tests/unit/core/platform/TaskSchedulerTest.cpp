// The weekly check as a line of the user's crontab, against a fake `crontab` that keeps the table
// in a file.
#include "core/platform/TaskScheduler.h"

#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using testsupport::ReadBytes;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

constexpr const char* kProgram = "/opt/orvex/bin/orvex";
constexpr const char* kMarker = " # Orvex weekly check";

void WriteScript(const std::string& path, const std::string& body)
{
    WriteBytes(path, "#!/bin/sh\n" + body);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

int RunShell(const std::string& command)
{
    std::string arg0 = "sh", arg1 = "-c", arg2 = command;
    char* argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What cron hands to /bin/sh -c: the text after the five time fields, "\%" turned back into "%".
std::string CronCommand(std::string line)
{
    std::size_t pos = 0;
    for (int field = 0; field < 5; ++field) {
        pos = line.find_first_not_of(' ', pos);
        pos = line.find(' ', pos);
    }
    std::string command = line.substr(pos + 1);
    const std::size_t marker = command.rfind(kMarker);
    EXPECT_NE(marker, std::string::npos) << line;
    command = command.substr(0, marker);
    std::string unescaped;
    for (std::size_t i = 0; i < command.size(); ++i) {
        if (command[i] == '\\' && i + 1 < command.size() && command[i + 1] == '%') {
            unescaped += '%';
            ++i;
            continue;
        }
        EXPECT_NE(command[i], '%') << "cron would cut the command at an unescaped %: " << command;
        unescaped += command[i];
    }
    return unescaped;
}

class TaskSchedulerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_bin = m_tmp.Path() + "/bin";
        std::filesystem::create_directory(m_bin);
        m_table = m_tmp.Path() + "/table";
        m_failWrite = m_tmp.Path() + "/fail-write";
        m_failRead = m_tmp.Path() + "/fail-read";
        // The two failure files make it fail the way a real crontab does, with its own message.
        WriteScript(m_bin + "/crontab",
                    "table='" + m_table + "'\nfailRead='" + m_failRead + "'\nfailWrite='" + m_failWrite + "'\n" + R"(
case "$1" in
-l) if [ -f "$failRead" ]; then cat "$failRead" >&2; exit 1; fi
    if [ -f "$table" ]; then cat "$table"; exit 0; fi
    echo 'no crontab for x' >&2; exit 1;;
-) if [ -f "$failWrite" ]; then cat "$failWrite" >&2; exit 1; fi
   cat > "$table.new" && mv "$table.new" "$table";;
*) echo "unexpected: $*" >&2; exit 2;;
esac
)");
        m_path.emplace("PATH", (m_bin + ":/usr/bin:/bin").c_str());
    }

    std::string Table() const { return ReadBytes(m_table); }
    bool TableExists() const { return std::filesystem::exists(m_table); }

    static std::string Line(const std::string& when,
                            const std::string& command = "\"" + std::string(kProgram) + "\" /check")
    {
        return when + " " + command + kMarker;
    }

    TempDir m_tmp;
    std::string m_bin, m_table, m_failWrite, m_failRead;
    std::optional<ScopedEnv> m_path;
};

} // namespace

TEST_F(TaskSchedulerTest, OtherLinesAreKeptByteForByte)
{
    // Variables, comments, blank and blank-looking lines, CRLF, and a last line without a line break.
    const std::string before = "SHELL=/bin/sh\nMAILTO=\"\"\n\n# backups\n0 3 * * * /usr/bin/backup --all\n  \t\n";
    const std::string last = "# no line break after this";
    WriteBytes(m_table, before + "x=1\r\n" + last);
    CTaskScheduler scheduler(kProgram, "/srv/orvex/", true);

    ASSERT_TRUE(scheduler.CreateScheduledTask()) << scheduler.LastError();
    ASSERT_TRUE(scheduler.SetWeeklyTrigger(CTaskScheduler::Monday | CTaskScheduler::Friday, 7, 5))
        << scheduler.LastError();
    EXPECT_EQ(Table(), before + "x=1\r\n" + Line("5 7 * * 1,5") + "\n" + last);

    // Replaced where it stands, one line only.
    ASSERT_TRUE(scheduler.SetWeeklyTrigger(CTaskScheduler::Sunday | CTaskScheduler::Saturday, 23, 59));
    EXPECT_EQ(Table(), before + "x=1\r\n" + Line("59 23 * * 0,6") + "\n" + last);

    ASSERT_TRUE(scheduler.DeleteScheduledTask()) << scheduler.LastError();
    EXPECT_EQ(Table(), before + "x=1\r\n" + last);
    EXPECT_FALSE(scheduler.ScheduledTaskExists());

    // With a final line break the line goes last; deleting it again gives back the table.
    WriteBytes(m_table, before);
    ASSERT_TRUE(scheduler.CreateScheduledTask());
    ASSERT_TRUE(scheduler.SetWeeklyTrigger(CTaskScheduler::Wednesday, 0, 0));
    EXPECT_EQ(Table(), before + Line("0 0 * * 3") + "\n");
    ASSERT_TRUE(scheduler.DeleteScheduledTask());
    EXPECT_EQ(Table(), before);
}

TEST_F(TaskSchedulerTest, MissingTableRoundTripAndSummary)
{
    CTaskScheduler scheduler(kProgram, "/srv/orvex/", true);
    // "no crontab for x" is an empty table, not a failure.
    EXPECT_FALSE(scheduler.ScheduledTaskExists());
    EXPECT_EQ(scheduler.LastError(), "");
    EXPECT_EQ(ScheduleSummary(scheduler), "Not configured");
    EXPECT_FALSE(scheduler.GetTaskAccount());

    // No task, no line.
    EXPECT_FALSE(scheduler.SetWeeklyTrigger(CTaskScheduler::Monday, 7, 5));
    EXPECT_FALSE(TableExists());

    // A created task without days shows as a task but writes nothing until it has its days.
    ASSERT_TRUE(scheduler.CreateScheduledTask());
    EXPECT_TRUE(scheduler.ScheduledTaskExists());
    EXPECT_EQ(ScheduleSummary(scheduler), " at 00:00 as [" + CurrentUserName() + "]");
    EXPECT_FALSE(TableExists());

    ASSERT_TRUE(scheduler.SetWeeklyTrigger(CTaskScheduler::Monday | CTaskScheduler::Friday, 7, 5));
    EXPECT_EQ(Table(), Line("5 7 * * 1,5") + "\n");

    // A fresh object sees only what the table holds.
    CTaskScheduler reader(kProgram, "/srv/orvex/", true);
    EXPECT_TRUE(reader.ScheduledTaskExists());
    const auto trigger = reader.GetWeeklyTrigger();
    ASSERT_TRUE(trigger) << reader.LastError();
    EXPECT_EQ(trigger->days, CTaskScheduler::Monday | CTaskScheduler::Friday);
    EXPECT_EQ(trigger->hour, 7);
    EXPECT_EQ(trigger->minute, 5);
    EXPECT_EQ(reader.GetTaskAccount(), CurrentUserName());
    EXPECT_TRUE(reader.SetTaskAccount("someone", "secret"));
    EXPECT_EQ(ScheduleSummary(reader), "Mon, Fri,  at 07:05 as [" + CurrentUserName() + "]");

    // A task deleted before its days were set leaves nothing behind.
    ASSERT_TRUE(reader.DeleteScheduledTask());
    ASSERT_TRUE(reader.CreateScheduledTask());
    ASSERT_TRUE(reader.DeleteScheduledTask());
    EXPECT_FALSE(reader.ScheduledTaskExists());
    EXPECT_EQ(Table(), "");
}

TEST_F(TaskSchedulerTest, HandEditedLinesAndBadArguments)
{
    CTaskScheduler scheduler(kProgram, "/srv/orvex/", true);
    WriteBytes(m_table, "30 6 * * sun,Mon-wed /usr/bin/orvex /check # Orvex weekly check\n");
    auto trigger = scheduler.GetWeeklyTrigger();
    ASSERT_TRUE(trigger) << scheduler.LastError();
    EXPECT_EQ(trigger->days,
              CTaskScheduler::Sunday | CTaskScheduler::Monday | CTaskScheduler::Tuesday | CTaskScheduler::Wednesday);
    EXPECT_EQ(trigger->hour, 6);
    EXPECT_EQ(trigger->minute, 30);

    WriteBytes(m_table, "0 9 * * 5-7 x # Orvex weekly check\n");
    trigger = scheduler.GetWeeklyTrigger();
    ASSERT_TRUE(trigger);
    EXPECT_EQ(trigger->days, CTaskScheduler::Friday | CTaskScheduler::Saturday | CTaskScheduler::Sunday);

    // A step, or a day of the month or a month of its own, is no weekly time this program can show.
    for (const std::string when : {"*/5 9 * * 1", "0 9 1 * 1", "0 9 * 6 1"}) {
        WriteBytes(m_table, when + " x # Orvex weekly check\n");
        EXPECT_TRUE(scheduler.ScheduledTaskExists()) << when;
        EXPECT_FALSE(scheduler.GetWeeklyTrigger()) << when;
        EXPECT_EQ(scheduler.LastError(),
                  "the crontab line of the weekly check is not a weekly time: " + when + " x # Orvex weekly check");
        EXPECT_EQ(ScheduleSummary(scheduler), " at 00:00 as [" + CurrentUserName() + "]") << when;
    }

    // Two marked lines (a copy made by hand): the new time replaces the first, the copy goes.
    WriteBytes(m_table, "A=1\n" + Line("5 7 * * 1") + "\n# between\n" + Line("0 9 * * 2") + "\n");
    ASSERT_TRUE(scheduler.SetWeeklyTrigger(CTaskScheduler::Friday, 8, 0)) << scheduler.LastError();
    EXPECT_EQ(Table(), "A=1\n" + Line("0 8 * * 5") + "\n# between\n");

    // A commented-out line is a switched-off job.
    const std::string off = "#5 7 * * 1 x # Orvex weekly check\n";
    WriteBytes(m_table, off);
    EXPECT_FALSE(scheduler.ScheduledTaskExists());
    ASSERT_TRUE(scheduler.CreateScheduledTask());
    EXPECT_FALSE(scheduler.SetWeeklyTrigger(0, 7, 5));
    EXPECT_FALSE(scheduler.SetWeeklyTrigger(0x80, 7, 5));
    EXPECT_FALSE(scheduler.SetWeeklyTrigger(CTaskScheduler::Monday, 24, 0));
    EXPECT_FALSE(scheduler.SetWeeklyTrigger(CTaskScheduler::Monday, 7, 60));
    EXPECT_FALSE(scheduler.SetWeeklyTrigger(CTaskScheduler::Monday, -1, -1));
    EXPECT_FALSE(scheduler.LastError().empty());
    EXPECT_EQ(Table(), off);

    CTaskScheduler relative("orvex", "/srv/orvex/", true);
    ASSERT_TRUE(relative.CreateScheduledTask());
    EXPECT_FALSE(relative.SetWeeklyTrigger(CTaskScheduler::Monday, 7, 5));
    EXPECT_EQ(Table(), off);
}

TEST_F(TaskSchedulerTest, FailuresLeaveTheTableAsItWas)
{
    const std::string table = "MAILTO=me\n" + Line("5 7 * * 1") + "\n";
    WriteBytes(m_table, table);
    CTaskScheduler scheduler(kProgram, "/srv/orvex/", true);

    WriteBytes(m_failWrite, "crontab: installing new crontab failed: No space left on device\n");
    EXPECT_FALSE(scheduler.SetWeeklyTrigger(CTaskScheduler::Friday, 8, 0));
    EXPECT_EQ(scheduler.LastError(), "crontab: installing new crontab failed: No space left on device");
    EXPECT_FALSE(scheduler.DeleteScheduledTask());
    EXPECT_EQ(scheduler.LastError(), "crontab: installing new crontab failed: No space left on device");
    EXPECT_EQ(Table(), table);
    std::filesystem::remove(m_failWrite);

    // A table that cannot be read is never taken for an empty one and written over.
    WriteBytes(m_failRead, "crontab: cannot open your crontab: Permission denied\n");
    EXPECT_FALSE(scheduler.ScheduledTaskExists());
    EXPECT_EQ(scheduler.LastError(), "crontab: cannot open your crontab: Permission denied");
    EXPECT_FALSE(scheduler.CreateScheduledTask());
    EXPECT_FALSE(scheduler.DeleteScheduledTask());
    EXPECT_FALSE(scheduler.SetWeeklyTrigger(CTaskScheduler::Friday, 8, 0));
    EXPECT_FALSE(scheduler.GetWeeklyTrigger());
    EXPECT_EQ(Table(), table);
    std::filesystem::remove(m_failRead);

    // A huge message is cut to a bounded one.
    WriteBytes(m_failWrite, std::string(100000, 'e'));
    EXPECT_FALSE(scheduler.DeleteScheduledTask());
    EXPECT_LE(scheduler.LastError().size(), 4096u);
    EXPECT_EQ(Table(), table);
    std::filesystem::remove(m_failWrite);

    ScopedEnv noCron("PATH", (m_tmp.Path() + "/nowhere").c_str());
    const std::string message = "cron is not installed: the weekly check cannot be scheduled";
    EXPECT_FALSE(scheduler.ScheduledTaskExists());
    EXPECT_EQ(scheduler.LastError(), message);
    EXPECT_FALSE(scheduler.CreateScheduledTask());
    EXPECT_EQ(scheduler.LastError(), message);
    EXPECT_FALSE(scheduler.DeleteScheduledTask());
    EXPECT_EQ(scheduler.LastError(), message);
    EXPECT_EQ(Table(), table);
}

TEST_F(TaskSchedulerTest, WrittenLineRunsTheProgramWithItsFolder)
{
    const std::string odd = m_tmp.Path() + "/my \"odd\" 'dir' $HOME `false` \\ 100%";
    const std::string program = odd + "/orvex prog";
    const std::string folder = m_tmp.Path() + "/data $USER \"q\" `y` 50%\\/";
    const std::string record = m_tmp.Path() + "/record";
    std::filesystem::create_directories(odd);
    WriteScript(program, "printf '%s\\n' \"$@\" \"[$ORVEX_HOME]\" > '" + record + "'\n");

    CTaskScheduler scheduler(program, folder, false);
    ASSERT_TRUE(scheduler.CreateScheduledTask());
    ASSERT_TRUE(scheduler.SetWeeklyTrigger(CTaskScheduler::Tuesday, 12, 30)) << scheduler.LastError();
    std::string line = Table();
    ASSERT_EQ(line.back(), '\n');
    line.pop_back();
    EXPECT_EQ(line.rfind("30 12 * * 2 ORVEX_HOME=", 0), 0u) << line;

    ScopedEnv home("ORVEX_HOME", nullptr);
    {
        // cron's own PATH: the line must not depend on the user's.
        ScopedEnv path("PATH", "/usr/bin:/bin");
        ASSERT_EQ(RunShell(CronCommand(line)), 0) << CronCommand(line);
    }
    EXPECT_EQ(ReadBytes(record), "/check\n[" + folder + "]\n");

    // The program's own folder needs no ORVEX_HOME.
    CTaskScheduler plain(program, folder, true);
    ASSERT_TRUE(plain.SetWeeklyTrigger(CTaskScheduler::Tuesday, 12, 30)) << plain.LastError();
    line = Table();
    line.pop_back();
    EXPECT_EQ(line.find("ORVEX_HOME"), std::string::npos) << line;
    std::filesystem::remove(record);
    ASSERT_EQ(RunShell(CronCommand(line)), 0) << CronCommand(line);
    EXPECT_EQ(ReadBytes(record), "/check\n[]\n");
}

TEST(TaskSchedulerFolder, DefaultIsWhatCronFindsWithoutOrvexHome)
{
    // cron sets HOME from the password file and no XDG_DATA_HOME.
    const passwd* entry = ::getpwuid(::geteuid());
    ASSERT_NE(entry, nullptr);
    const std::string cronDefault = std::string(entry->pw_dir) + "/.local/share/Orvex/";
    EXPECT_TRUE(IsDefaultProgramFolder(cronDefault));
    EXPECT_TRUE(IsDefaultProgramFolder(std::string(entry->pw_dir) + "/.local/share/Orvex"));
    EXPECT_FALSE(IsDefaultProgramFolder("/elsewhere/Orvex/"));
    EXPECT_FALSE(IsDefaultProgramFolder(std::string(entry->pw_dir) + "/.local/share/Other/"));
}

TEST(TaskSchedulerSummary, DaysInWeekOrderThenTimeAndAccount)
{
    EXPECT_EQ(ScheduleSummary(CTaskScheduler::WeeklyTrigger{0x7F, 0, 0}, "bob"),
              "Sun, Mon, Tue, Wed, Thu, Fri, Sat,  at 00:00 as [bob]");
    EXPECT_EQ(ScheduleSummary(CTaskScheduler::WeeklyTrigger{CTaskScheduler::Saturday, 23, 9}, ""),
              "Sat,  at 23:09 as []");
}
