#include "ScheduleStore.h"

#include <cstdio>

std::string DescribeSchedule(IScheduleStore& store)
{
    if (!store.ScheduledTaskExists()) {
        // A table that cannot be read is not the same as no schedule: the user is told why.
        const std::string why = store.LastError();
        return why.empty() ? "Not configured" : "Not configured: " + why;
    }
    const std::string account = store.GetTaskAccount().value_or(std::string());
    std::string text;
    // An unreadable trigger still says who runs the task; its time then reads 00:00.
    const IScheduleStore::WeeklyTrigger trigger = store.GetWeeklyTrigger().value_or(IScheduleStore::WeeklyTrigger{});
    static const char* const kDays[] = {"Sun, ", "Mon, ", "Tue, ", "Wed, ", "Thu, ", "Fri, ", "Sat, "};
    for (int day = 0; day < 7; ++day)
        if (trigger.days & (1u << day))
            text += kDays[day];
    char time[32];
    std::snprintf(time, sizeof time, " at %02i:%02i as [", trigger.hour, trigger.minute);
    return text + time + account + "]";
}
