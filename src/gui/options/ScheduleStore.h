#pragma once

#include <cstdint>
#include <optional>
#include <string>

/// What the options dialogs need of the weekly unattended check, so that they can be driven
/// against the system's scheduler or an in-memory one alike.
class IScheduleStore
{
public:
    struct WeeklyTrigger
    {
        uint8_t days = 0; ///< Sunday 0x01, Monday 0x02, ... Saturday 0x40
        int hour = 0;
        int minute = 0;
    };

    virtual ~IScheduleStore() = default;

    virtual bool ScheduledTaskExists() = 0;
    virtual bool CreateScheduledTask() = 0;
    virtual bool DeleteScheduledTask() = 0;
    virtual std::optional<std::string> GetTaskAccount() = 0;
    virtual std::optional<WeeklyTrigger> GetWeeklyTrigger() = 0;
    virtual bool SetWeeklyTrigger(uint8_t days, int hour, int minute) = 0;
    /// Why the last failed call failed, for the user.
    virtual std::string LastError() const = 0;
    /// The account a new task runs as.
    virtual std::string CurrentUser() const = 0;
};

/// "Not configured" (followed by the reason when the scheduler could not be read), or the ticked days, the start time
/// and the account: "Mon, Fri,  at 07:05 as [user]".
std::string DescribeSchedule(IScheduleStore& store);
