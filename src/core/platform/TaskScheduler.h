#pragma once

#include <cstdint>
#include <optional>
#include <string>

/// The weekly unattended "/check" start, kept by the system's scheduler. On this platform it is
/// one marked line of the user's crontab, read and written with the `crontab` program found on
/// PATH; every other line of the table is kept as it is. Each call reads or writes the table
/// afresh, so another editor's changes are never undone. Failures leave the previous table in
/// force and say why in LastError().
class CTaskScheduler
{
public:
    /// Day bits of a weekly trigger.
    enum Day : uint8_t
    {
        Sunday = 0x01,
        Monday = 0x02,
        Tuesday = 0x04,
        Wednesday = 0x08,
        Thursday = 0x10,
        Friday = 0x20,
        Saturday = 0x40,
    };
    struct WeeklyTrigger
    {
        uint8_t days = 0; ///< Day bits
        int hour = 0;
        int minute = 0;
    };

    /// `program` is the absolute path of the program the line starts; `programFolder` goes into
    /// the line as ORVEX_HOME unless `defaultFolder`.
    CTaskScheduler(std::string program, std::string programFolder, bool defaultFolder);

    /// A marked line is in the user's table.
    bool ScheduledTaskExists();
    /// A task that has no trigger yet cannot stand in a crontab: it is kept until
    /// SetWeeklyTrigger writes its line, and dropped by DeleteScheduledTask.
    bool CreateScheduledTask();
    bool DeleteScheduledTask();
    /// cron runs the line as the table's owner, the logged-in user: the account is that user and
    /// no password is kept.
    bool SetTaskAccount(const std::string& user, const std::string& password);
    std::optional<std::string> GetTaskAccount();
    std::optional<WeeklyTrigger> GetWeeklyTrigger();
    /// Writes the line; no day, or an hour or minute out of range, fails.
    bool SetWeeklyTrigger(uint8_t days, int hour, int minute);

    const std::string& LastError() const { return m_lastError; }

private:
    /// The table as `crontab -l` gives it; empty when the user has none yet.
    std::optional<std::string> ReadTable();
    bool WriteTable(const std::string& table);
    /// The line's command part, quoted for cron's shell.
    std::optional<std::string> TaskCommand();

    std::string m_program;
    std::string m_programFolder;
    bool m_defaultFolder;
    bool m_pendingTask = false;
    std::string m_lastError;
};

/// The logged-in user's name.
std::string CurrentUserName();

/// True when `folder` is the program folder a cron run finds without ORVEX_HOME, so the line
/// need not name it.
bool IsDefaultProgramFolder(const std::string& folder);

/// The day texts, time and account of a trigger: "Mon, Fri,  at 07:05 as [user]".
std::string ScheduleSummary(const CTaskScheduler::WeeklyTrigger& trigger, const std::string& account);

/// "Not configured", or "Mon, Fri,  at 07:05 as [user]" (the day texts each end with a blank
/// and the time part begins with one).
std::string ScheduleSummary(CTaskScheduler& scheduler);
