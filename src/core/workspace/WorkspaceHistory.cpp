// The check history that goes with the open database: every check of the program is kept there
// while the database is open, and a history that cannot be used is told once, never in the way.
#include "Workspace.h"

#include "core/history/CheckHistory.h"
#include "core/history/HistoryStore.h"
#include "core/platform/SettingsStore.h"

#include <algorithm>
#include <filesystem>

namespace {

// Beyond the new file and the backup's temporary: the settings' save, and a margin.
constexpr uint64_t kRoomBesideTheSave = 1 << 20;

void PurgeOldChecks(CHistoryStore& store, int months)
{
    if (months <= 0)
        return;
    store.PurgeLater(MonthsAgo(months));
}

} // namespace

void CWorkspace::LeaveRoomForTheSave()
{
    // A save writes the whole database beside the old file, and its backup's copy as well: the
    // history, on the same disk more often than not, keeps that much free.
    if (!m_history)
        return;
    std::error_code error;
    const auto size = std::filesystem::file_size(m_database.GetPath(), error);
    m_history->SetRoomToLeave((error ? 0 : 2 * static_cast<uint64_t>(size)) + kRoomBesideTheSave);
}

void CWorkspace::FollowDatabaseWithHistory()
{
    const std::string& database = m_database.GetPath();
    const std::string path = database.empty() ? std::string() : CHistoryStore::PathFor(database);
    if (m_history && m_history->Path() == path)
        return;
    CloseHistory();
    if (path.empty())
        return;
    // Nothing touches the disk yet: the file is made at the first check kept.
    m_history = std::make_shared<CHistoryStore>(path);
    m_historyProblemTold = false;
    LeaveRoomForTheSave();
    SetCheckRecorder(HistoryRecorder(m_history));
    PurgeOldChecks(*m_history, GetHistoryMonths());
}

int CWorkspace::GetHistoryMonths() const
{
    const int months = m_settingsStore->GetInt(SettingsNames::kRootSection, SettingsNames::kHistoryMonths).value_or(0);
    return std::clamp(months, 0, kMaxHistoryMonths);
}

void CWorkspace::SetHistoryMonths(int months)
{
    months = std::clamp(months, 0, kMaxHistoryMonths);
    if (months == GetHistoryMonths())
        return;
    m_settingsStore->SetInt(SettingsNames::kRootSection, SettingsNames::kHistoryMonths, months);
    if (m_history)
        PurgeOldChecks(*m_history, months);
}

void CWorkspace::CloseHistory()
{
    // A run still going holds the store through its recorder; it is written and closed when the
    // last of them lets go.
    SetCheckRecorder({});
    m_history.reset();
}

std::string CWorkspace::TakeHistoryProblem(bool flush)
{
    if (!m_history || m_historyProblemTold)
        return {};
    if (flush)
        m_history->Flush();
    std::string problem = m_history->Problem();
    m_historyProblemTold = !problem.empty();
    return problem;
}

void CWorkspace::LinkKeyChanged(const CLink& before, const CLink& after)
{
    if (m_history)
        MoveLinkHistory(*m_history, before, after);
}
