#pragma once

#include "ScheduleStore.h"

#include "core/platform/TaskScheduler.h"

#include <functional>

class CWorkspace;
class QWidget;

/// The options dialogs' view of the system's scheduler: the weekly "/check" line of the user's
/// crontab that starts this program for this program folder.
class CSystemScheduleStore final : public IScheduleStore
{
public:
    /// `programFolder` ends with a slash.
    explicit CSystemScheduleStore(const std::string& programFolder);

    bool ScheduledTaskExists() override { return m_scheduler.ScheduledTaskExists(); }
    bool CreateScheduledTask() override { return m_scheduler.CreateScheduledTask(); }
    bool DeleteScheduledTask() override { return m_scheduler.DeleteScheduledTask(); }
    std::optional<std::string> GetTaskAccount() override { return m_scheduler.GetTaskAccount(); }
    std::optional<WeeklyTrigger> GetWeeklyTrigger() override;
    bool SetWeeklyTrigger(uint8_t days, int hour, int minute) override
    {
        return m_scheduler.SetWeeklyTrigger(days, hour, minute);
    }
    std::string LastError() const override { return m_scheduler.LastError(); }
    std::string CurrentUser() const override { return CurrentUserName(); }

private:
    CTaskScheduler m_scheduler;
};

/// The options command of the main window, with the system's scheduler.
bool RunOptionsCommand(CWorkspace& workspace, QWidget* parent, const std::function<void()>& releaseRecords);
