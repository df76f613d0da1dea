#pragma once

struct CommandLine;

/// `orvex --schedule [off | DAYS HH:MM]`: shows, sets or removes the weekly "/check" line of the
/// user's crontab and prints the schedule. Returns 0 when done, 1 with the reason on stderr.
int RunScheduleCommand(const CommandLine& commandLine);
