#include "OptionsCommand.h"

#include "OptionsDlgGeneral.h"
#include "OptionsSheet.h"
#include "OptionsSupport.h"

#include "core/fetch/CheckSettings.h"
#include "core/platform/SettingsStore.h"
#include "core/records/TextUtil.h"
#include "core/storage/DatabasePath.h"
#include "core/workspace/Workspace.h"
#include "gui/widgets/MessageBox.h"

#include <filesystem>

using namespace OptionsSupport;

namespace {

// Follows the settings' database path; on any refusal the settings name the open database
// again, so that "ORX.cfg" never points at a file the window does not show.
void FollowDatabasePath(CWorkspace& workspace, const std::string& previousPath, QWidget* parent,
                        const std::function<void()>& releaseRecords)
{
    COptions& options = workspace.GetOptions();
    const std::string wanted = ResolveDatabasePath(options.GetDatabasePath(), workspace.GetProgramFolder());
    if (EqualsIgnoringCase(wanted, workspace.GetDatabase().GetPath()))
        return;
    std::error_code error;
    if (!std::filesystem::exists(wanted, error)) {
        if (!MessageBox::AskYesNo(parent, QStringLiteral("Create a new, empty database at %1?").arg(FromStd(wanted)))) {
            options.SetDatabasePath(previousPath);
            return;
        }
        if (releaseRecords)
            releaseRecords();
        std::string why;
        if (!workspace.CreateDatabase(wanted, &why)) {
            MessageBox::Warn(parent, QStringLiteral("The database could not be created: %1").arg(FromStd(why)));
            options.SetDatabasePath(previousPath);
        }
        return;
    }
    if (releaseRecords)
        releaseRecords();
    if (!workspace.ApplyDatabasePath()) {
        MessageBox::Warn(
            parent,
            QStringLiteral("The database could not be opened: %1").arg(FromStd(workspace.GetLastDatabaseError())));
        options.SetDatabasePath(previousPath);
    }
}

} // namespace

bool RunOptionsCommand(CWorkspace& workspace, IScheduleStore& schedule, QWidget* parent,
                       const std::function<void()>& releaseRecords)
{
    TestMailSources testSources;
    // Functions, not pointers: the letter reads whatever database is open when it is sent.
    testSources.sources.partners = [&workspace]() -> const CPartnersManager* {
        return workspace.GetDatabase().GetPartners();
    };
    testSources.sources.links = [&workspace]() -> const CLinksManager* { return workspace.GetDatabase().GetLinks(); };
    testSources.allowUnencryptedPassword =
        CWorkspace::BuildMailSettings(workspace.GetOptions(), workspace.GetSettingsStore()).allowUnencryptedPassword;

    COptionsSheet sheet(workspace.GetOptions(), schedule, std::move(testSources), parent);
    COptionsDlgGeneral* general = sheet.GetGeneralPage();
    general->SetHistoryMonths(workspace.GetHistoryMonths());
    const CheckSettings stored = CWorkspace::BuildCheckSettings(workspace.GetOptions(), workspace.GetSettingsStore());
    general->SetCheckConcurrency(stored.workers, stored.perSite);
    if (sheet.exec() != QDialog::Accepted)
        return false;
    workspace.SetHistoryMonths(general->GetHistoryMonths());
    ISettingsStore& store = workspace.GetSettingsStore();
    store.SetInt(SettingsNames::kRootSection, SettingsNames::kCheckWorkers, general->GetCheckWorkers());
    store.SetInt(SettingsNames::kRootSection, SettingsNames::kCheckPerSite, general->GetCheckPerSite());
    const std::string previousPath = workspace.GetOptions().GetDatabasePath();
    workspace.GetOptions() = sheet.GetOptions();
    FollowDatabasePath(workspace, previousPath, parent, releaseRecords);
    workspace.ApplyCheckSettings();
    if (!workspace.SaveConfig())
        MessageBox::Warn(
            parent, QStringLiteral("The settings could not be saved: %1").arg(FromStd(workspace.GetLastConfigError())));
    return true;
}
