#include "SystemScheduleStore.h"

#include "OptionsCommand.h"

#include "core/workspace/Workspace.h"

#include <QCoreApplication>

CSystemScheduleStore::CSystemScheduleStore(const std::string& programFolder)
    // The line must start this very program file, wherever the user started it from.
    : m_scheduler(QCoreApplication::applicationFilePath().toStdString(), programFolder,
                  IsDefaultProgramFolder(programFolder))
{
}

std::optional<IScheduleStore::WeeklyTrigger> CSystemScheduleStore::GetWeeklyTrigger()
{
    const auto trigger = m_scheduler.GetWeeklyTrigger();
    if (!trigger)
        return std::nullopt;
    return WeeklyTrigger{trigger->days, trigger->hour, trigger->minute};
}

bool RunOptionsCommand(CWorkspace& workspace, QWidget* parent, const std::function<void()>& releaseRecords)
{
    CSystemScheduleStore schedule(workspace.GetProgramFolder());
    return RunOptionsCommand(workspace, schedule, parent, releaseRecords);
}
