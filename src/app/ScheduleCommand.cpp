#include "ScheduleCommand.h"

#include "CommandLine.h"
#include "platform/Paths.h"
#include "platform/TaskScheduler.h"

#include <cstdio>
#include <filesystem>

namespace {

int Fail(const std::string& reason)
{
    std::fprintf(stderr, "orvex: %s\n", reason.c_str());
    return 1;
}

} // namespace

int RunScheduleCommand(const CommandLine& commandLine)
{
    // The line must start this very program file, wherever the user starts it from.
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return Fail("cannot find the program's own file: " + ec.message());
    const std::string folder = Paths::FindProgramFolder();
    CTaskScheduler scheduler(program.string(), folder, IsDefaultProgramFolder(folder));

    if (commandLine.scheduleOff) {
        if (!scheduler.DeleteScheduledTask())
            return Fail(scheduler.LastError());
    } else if (commandLine.scheduleDays != 0) {
        if (!scheduler.CreateScheduledTask() ||
            !scheduler.SetWeeklyTrigger(commandLine.scheduleDays, commandLine.scheduleHour, commandLine.scheduleMinute))
            return Fail(scheduler.LastError());
    }

    // ScheduleSummary cannot tell a failed read from no task, so the parts are read here.
    if (!scheduler.ScheduledTaskExists()) {
        if (!scheduler.LastError().empty())
            return Fail(scheduler.LastError());
        std::puts("Not configured");
        return 0;
    }
    const auto trigger = scheduler.GetWeeklyTrigger();
    if (!trigger)
        return Fail(scheduler.LastError());
    std::puts(ScheduleSummary(*trigger, CurrentUserName()).c_str());
    return 0;
}
