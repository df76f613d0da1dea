#include "ScheduleCommand.h"

#include "CommandLine.h"
#include "CommandSupport.h"
#include "core/platform/Paths.h"
#include "core/platform/TaskScheduler.h"
#include "core/platform/TerminalText.h"

#include <cstdio>
#include <filesystem>

int RunScheduleCommand(const CommandLine& commandLine)
{
    // The line must start this very program file, wherever the user starts it from.
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return FailCommand("cannot find the program's own file: " + ec.message());
    const std::string folder = Paths::FindProgramFolder();
    CTaskScheduler scheduler(program.string(), folder, IsDefaultProgramFolder(folder));

    if (commandLine.scheduleOff) {
        if (!scheduler.DeleteScheduledTask())
            return FailCommand(scheduler.LastError());
    } else if (commandLine.scheduleDays != 0) {
        if (!scheduler.CreateScheduledTask() ||
            !scheduler.SetWeeklyTrigger(commandLine.scheduleDays, commandLine.scheduleHour, commandLine.scheduleMinute))
            return FailCommand(scheduler.LastError());
    }

    // ScheduleSummary cannot tell a failed read from no task, so the parts are read here.
    if (!scheduler.ScheduledTaskExists()) {
        if (!scheduler.LastError().empty())
            return FailCommand(scheduler.LastError());
        PrintEscaped(stdout, "Not configured\n");
        return 0;
    }
    const auto trigger = scheduler.GetWeeklyTrigger();
    if (!trigger)
        return FailCommand(scheduler.LastError());
    PrintEscaped(stdout, "%s\n", ScheduleSummary(*trigger, CurrentUserName()).c_str());
    return 0;
}
