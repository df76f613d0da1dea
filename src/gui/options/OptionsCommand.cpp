#include "OptionsCommand.h"

#include "OptionsDlgGeneral.h"
#include "OptionsSheet.h"
#include "OptionsSupport.h"

#include "app/ORXApp.h"
#include "core/fetch/CheckSettings.h"
#include "core/platform/SettingsStore.h"
#include "core/records/TextUtil.h"
#include "core/storage/DatabasePath.h"
#include "gui/widgets/MessageBox.h"

#include <filesystem>

using namespace OptionsSupport;

namespace {

// Follows the settings' database path; on any refusal the settings name the open database
// again, so that "ORX.cfg" never points at a file the window does not show.
void FollowDatabasePath(CORXApp& app, const std::string& previousPath, QWidget* parent,
                        const std::function<void()>& releaseRecords)
{
    COptions& options = app.GetOptions();
    const std::string wanted = ResolveDatabasePath(options.GetDatabasePath(), app.GetProgramFolder());
    if (EqualsIgnoringCase(wanted, app.GetDatabase().GetPath()))
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
        if (!app.CreateDatabase(wanted, &why)) {
            MessageBox::Warn(parent, QStringLiteral("The database could not be created: %1").arg(FromStd(why)));
            options.SetDatabasePath(previousPath);
        }
        return;
    }
    if (releaseRecords)
        releaseRecords();
    if (!app.ApplyDatabasePath()) {
        MessageBox::Warn(
            parent, QStringLiteral("The database could not be opened: %1").arg(FromStd(app.GetLastDatabaseError())));
        options.SetDatabasePath(previousPath);
    }
}

} // namespace

bool RunOptionsCommand(CORXApp& app, IScheduleStore& schedule, QWidget* parent,
                       const std::function<void()>& releaseRecords)
{
    TestMailSources testSources;
    // Functions, not pointers: the letter reads whatever database is open when it is sent.
    testSources.sources.partners = [&app]() -> const CPartnersManager* { return app.GetDatabase().GetPartners(); };
    testSources.sources.links = [&app]() -> const CLinksManager* { return app.GetDatabase().GetLinks(); };
    testSources.allowUnencryptedPassword =
        CORXApp::BuildMailSettings(app.GetOptions(), app.GetSettingsStore()).allowUnencryptedPassword;

    COptionsSheet sheet(app.GetOptions(), schedule, std::move(testSources), parent);
    COptionsDlgGeneral* general = sheet.GetGeneralPage();
    general->SetHistoryMonths(app.GetHistoryMonths());
    const CheckSettings stored = CORXApp::BuildCheckSettings(app.GetOptions(), app.GetSettingsStore());
    general->SetCheckConcurrency(stored.workers, stored.perSite);
    if (sheet.exec() != QDialog::Accepted)
        return false;
    app.SetHistoryMonths(general->GetHistoryMonths());
    ISettingsStore& store = app.GetSettingsStore();
    store.SetInt(SettingsNames::kRootSection, SettingsNames::kCheckWorkers, general->GetCheckWorkers());
    store.SetInt(SettingsNames::kRootSection, SettingsNames::kCheckPerSite, general->GetCheckPerSite());
    const std::string previousPath = app.GetOptions().GetDatabasePath();
    app.GetOptions() = sheet.GetOptions();
    FollowDatabasePath(app, previousPath, parent, releaseRecords);
    app.ApplyCheckSettings();
    if (!app.SaveConfig())
        MessageBox::Warn(parent,
                         QStringLiteral("The settings could not be saved: %1").arg(FromStd(app.GetLastConfigError())));
    return true;
}
