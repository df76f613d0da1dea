#include "ORXApp.h"

#include "InstanceChannel.h"
#include "ProductInfo.h"
#include "QuitSignals.h"
#include "core/fetch/Fetch.h"
#include "core/mail/Notifications.h"
#include "core/platform/Paths.h"
#include "core/records/TextUtil.h"
#include "core/storage/ConfigFile.h"
#include "core/storage/DatabasePath.h"
#include "core/storage/SafeFile.h"
#include "gui/mainwnd/MainFrame.h"
#include "gui/widgets/MessageBox.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

CORXApp* g_app = nullptr;

constexpr double kUpdateIntervalDays = 10.0;
constexpr double kNeverLookedDays = 11.0;

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

CORXApp::CORXApp(bool checkMode, bool verbose)
    : m_checkMode(checkMode), m_verbose(verbose), m_programFolder(Paths::FindProgramFolder()),
      m_options(m_programFolder), m_settingsStore(OpenSettingsStore())
{
    g_app = this;
}

CORXApp::~CORXApp()
{
    WaitForUpdateLookup();
    CloseHistory();
    m_quitSignals.reset();
    m_mainFrame.reset();
    m_channel.reset();
    if (g_app == this)
        g_app = nullptr;
}

CORXApp& CORXApp::Instance()
{
    return *g_app;
}

void CORXApp::ReportError(const std::string& text) const
{
    if (m_checkMode)
        std::fprintf(stderr, "orvex: %s\n", text.c_str());
    else
        MessageBox::Warn(m_mainFrame.get(), Q(text));
}

bool CORXApp::InitInstance()
{
    LoadUpdateInfo();
    if (!PrepareProgramFolder() || !TakeInstanceLock())
        return false;

    const bool cfgLoaded = LoadConfig();
    if (m_configUnreadable && !HandleUnreadableConfig())
        return false;
    ApplyCheckSettings();
    // Functions rather than copies: the options dialog and a database switch change what a later
    // letter must use.
    if (CNotificationsManager* notifications = GetNotificationsManager())
        notifications->SetSources({[this] { return BuildMailSettings(m_options, *m_settingsStore); },
                                   [this]() -> const CPartnersManager* { return m_database.GetPartners(); },
                                   [this]() -> const CLinksManager* { return m_database.GetLinks(); }});
    const bool dbLoaded = LoadDatabase(m_options.GetDatabasePath());
    if (!dbLoaded) {
        if (m_databaseInUse) {
            ReportError(m_databaseInUseError);
            m_exitCode = 1;
            return false;
        }
        if (m_database.HoldsUnreadableFile()) {
            if (!HandleUnreadableDatabase())
                return false;
        } else if (!m_checkMode && cfgLoaded) {
            MessageBox::Warn(nullptr, QStringLiteral("Database file is corrupted."));
        }
    }

    if (!m_checkMode) {
        CreateMainWindow();
        OfferUpdate();
        HandleFirstStart(cfgLoaded);
    }
    m_initialised = true;
    return true;
}

bool CORXApp::PrepareProgramFolder()
{
    std::string error;
    if (Paths::EnsureFolder(m_programFolder, &error))
        return true;
    ReportError("cannot use the program folder: " + error);
    m_exitCode = 1;
    return false;
}

bool CORXApp::TakeInstanceLock()
{
    std::string error;
    switch (m_lock.TryAcquire(m_programFolder + kLockFileName, &error)) {
    case InstanceLock::Result::Acquired:
        // We are the only copy on this folder now: what a killed save left here is nobody's.
        RemoveStaleTemporaries(m_programFolder + kConfigFileName);
        return true;
    case InstanceLock::Result::HeldElsewhere:
        // Another copy runs on this program folder: a window checks (or comes to the front)
        // instead. Only its answer counts; another "/check" or a busy window takes nothing over.
        if (CInstanceChannel::Send(m_programFolder,
                                   m_checkMode ? CInstanceChannel::kCheckRequest : CInstanceChannel::kShowRequest)) {
            if (m_checkMode && m_verbose)
                std::printf("the Orvex window running on this folder took the check over\n");
            m_exitCode = 0;
            return false;
        }
        ReportError("another Orvex is running on this folder (" + m_programFolder + ")" +
                    (m_checkMode ? " and did not take the check over" : ""));
        m_exitCode = 1;
        return false;
    case InstanceLock::Result::Failed:
        break;
    }
    ReportError(error);
    m_exitCode = 1;
    return false;
}

bool CORXApp::OfferToSetAside(const UnreadableFile& file)
{
    if (m_checkMode) {
        ReportError("the " + file.kind + " \"" + file.path + "\" could not be read (" + file.reason +
                    "); it was left as it is and nothing was saved.");
        m_exitCode = 1;
        return false;
    }
    const QString question = file.question.arg(Q(file.path), Q(file.reason)) +
                             QStringLiteral("\nChoose No to quit without changing anything.");
    if (!MessageBox::AskYesNo(nullptr, question, QMessageBox::Warning)) {
        m_exitCode = 0;
        return false;
    }
    std::string error;
    const std::string keptAs = file.setAside(&error);
    if (keptAs.empty()) {
        ReportError(error);
        m_exitCode = 1;
        return false;
    }
    MessageBox::Warn(nullptr, QStringLiteral("The damaged %1 was kept as \"%2\".").arg(Q(file.kind), Q(keptAs)));
    return true;
}

bool CORXApp::HandleUnreadableDatabase()
{
    return OfferToSetAside({"database file", m_database.GetPath(), m_database.GetLastError(),
                            QStringLiteral("Database file is corrupted.\n\n"
                                           "The file \"%1\" could not be read (%2).\n\n"
                                           "Start with a new empty database? The damaged file is kept under "
                                           "another name."),
                            [this](std::string* error) {
                                std::string keptAs;
                                if (!m_database.SetAsideUnreadableFile(&keptAs))
                                    *error = m_database.GetLastError();
                                return keptAs;
                            }});
}

bool CORXApp::HandleUnreadableConfig()
{
    const std::string path = m_programFolder + kConfigFileName;
    if (!OfferToSetAside({"settings file", path, m_configError,
                          QStringLiteral("The settings file \"%1\" could not be read (%2).\n\n"
                                         "Start with default settings? The damaged file is kept under another "
                                         "name, with the mail server, password and database path it holds."),
                          [&path](std::string* error) { return SetFileAside(path, error); }}))
        return false;
    m_configUnreadable = false;
    m_configError.clear();
    return true;
}

void CORXApp::CreateMainWindow()
{
    // The desktop groups the windows under the launcher of this name (the Wayland app id; on X11
    // the window class "Orvex", from the application name, matches the entry's StartupWMClass).
    QGuiApplication::setDesktopFileName(QStringLiteral(ORVEX_APP_ID));
    m_mainFrame = std::make_unique<CMainFrame>(*this);
    m_mainFrame->show();
    // For documentation: $ORVEX_SCREENSHOT names a PNG that the window writes of itself, then it closes.
    const QString screenshot = qEnvironmentVariable("ORVEX_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        m_mainFrame->resize(1180, 640);
        QTimer::singleShot(1500, m_mainFrame.get(), [this, screenshot] {
            if (!m_mainFrame->grab().save(screenshot))
                std::fprintf(stderr, "orvex: cannot write %s\n", qPrintable(screenshot));
            m_mainFrame->close();
        });
    }

    m_channel = std::make_unique<CInstanceChannel>(m_programFolder);
    QString error;
    if (!m_channel->Listen(&error))
        std::fprintf(stderr, "orvex: later starts cannot reach this window: %s\n", qPrintable(error));
    // The second start counts as handed over only on the window's own yes.
    m_channel->SetRequestHandler([this](const QByteArray& request) {
        if (!m_mainFrame)
            return false;
        if (request == CInstanceChannel::kCheckRequest)
            return m_mainFrame->OnCheckAllRequested();
        if (request == CInstanceChannel::kShowRequest) {
            m_mainFrame->BringToFront();
            return true;
        }
        return false;
    });

    // Closing the window ends the event loop, and exit then saves as after File > Exit.
    m_quitSignals = std::make_unique<CQuitSignals>([this] {
        if (m_mainFrame)
            m_mainFrame->close();
        QCoreApplication::quit();
    });
}

void CORXApp::OfferUpdate()
{
    const OleDateTime now = OleDateTime::Now();
    if (UpdateFound == 0 || !((now - UpdateLastShow).GetDays() > kUpdateIntervalDays))
        return;
    if (!MessageBox::AskYesNo(m_mainFrame.get(),
                              QStringLiteral("The new version of Orvex is available. Update now?"))) {
        UpdateLastShow = now;
        return;
    }
    // The update is fetched into the program folder but never started from here: the user's browser
    // shows the download page, and the user decides what to run.
    const std::string url = GetUpdateUrl();
    if (!url.empty() && DownloadToFile(url, m_programFolder + kUpdateFileName)) {
        QDesktopServices::openUrl(QUrl(Q(url)));
        UpdateLastShow = now;
    } else {
        MessageBox::Warn(m_mainFrame.get(), QStringLiteral("Downloading ORX update failed."));
    }
}

void CORXApp::HandleFirstStart(bool cfgLoaded)
{
    if (!cfgLoaded) {
        if (MessageBox::AskYesNo(m_mainFrame.get(),
                                 QStringLiteral("Would you like to import your data from Excel document?")))
            m_mainFrame->PostCommand(CMainFrame::kImportFromExcelCommand);
        else
            m_importHintPending = 1;
    } else if (m_importHintPending == 1) {
        m_mainFrame->ShowImportHint();
        m_importHintPending = 0;
    }
}

int CORXApp::Run()
{
    if (m_checkMode)
        return RunCheckMode();
    const int rc = QApplication::exec();
    const int exitCode = ExitInstance();
    return rc != 0 ? rc : exitCode;
}

int CORXApp::ExitInstance()
{
    if (m_exited)
        return m_exitCode;
    m_exited = true;
    WaitForUpdateLookup();
    if (m_initialised) {
        if (!SaveConfig()) {
            ReportError("the settings could not be saved: " + m_configError);
            m_exitCode = 1;
        }
        if (!SaveDatabase()) {
            // Whatever was changed since the last save would be gone: never let that pass quietly.
            ReportError("the database could not be saved: " + m_database.GetLastError());
            m_exitCode = 1;
        }
        SaveUpdateInfo();
    }
    CloseHistory();
    FreeNotificationsManager();
    m_quitSignals.reset();
    m_mainFrame.reset();
    m_channel.reset();
    m_databaseLock.Release();
    m_lock.Release();
    return m_exitCode;
}

bool CORXApp::LoadConfig()
{
    m_configError.clear();
    const ConfigLoadResult result =
        LoadConfigFile(m_programFolder + kConfigFileName, m_options, m_importHintPending, &m_configError);
    m_configUnreadable = result == ConfigLoadResult::Unreadable;
    return result == ConfigLoadResult::Loaded;
}

bool CORXApp::SaveConfig()
{
    const std::string path = m_programFolder + kConfigFileName;
    if (m_configUnreadable) {
        m_configError = "\"" + path + "\" could not be read, so it is not saved over";
        return false;
    }
    m_configError.clear();
    return SaveConfigFile(path, m_options, m_importHintPending, &m_configError);
}

bool CORXApp::LoadDatabase(const std::string& path)
{
    const std::string resolved = ResolveDatabasePath(path, m_programFolder);
    const std::string lockPath = DatabaseLockPath(resolved);
    m_databaseInUse = false;
    InstanceLock lock;
    if (lockPath == m_databaseLockPath && m_databaseLock.IsHeld()) {
        lock = std::move(m_databaseLock);
    } else {
        // Two program folders may name the same database: one writer at a time, or the later save
        // silently undoes the other's. A lock that cannot be made (no such folder, read-only) guards
        // nothing to write anyway, and the save reports that itself.
        const InstanceLock::Result taken = lock.TryAcquire(lockPath);
        if (taken == InstanceLock::Result::HeldElsewhere) {
            m_databaseInUse = true;
            m_databaseInUseError = "the database \"" + resolved +
                                   "\" is in use by another running Orvex; close that one first, or use another "
                                   "database";
            return false;
        }
        if (taken == InstanceLock::Result::Acquired)
            RemoveStaleTemporaries(resolved);
    }
    m_databaseLock = std::move(lock);
    m_databaseLockPath = lockPath;
    const bool loaded = m_database.Load(resolved);
    FollowDatabaseWithHistory();
    return loaded;
}

bool CORXApp::SaveDatabase()
{
    return m_database.Save();
}

std::string CORXApp::GetLastDatabaseError() const
{
    return m_databaseInUse ? m_databaseInUseError : m_database.GetLastError();
}

bool CORXApp::SwitchDatabase(const std::string& newPath)
{
    if (newPath.empty())
        return false;
    SaveDatabase();
    const std::string previous = m_database.GetPath();
    if (DatabaseLockPath(ResolveDatabasePath(newPath, m_programFolder)) == m_databaseLockPath) {
        // The same file under another name: the lock already held covers it.
        if (LoadDatabase(newPath))
            return true;
        m_database.Load(previous);
        FollowDatabaseWithHistory();
        return false;
    }
    // The old database stays locked until the new one has loaded, so that going back is safe.
    InstanceLock previousLock = std::move(m_databaseLock);
    const std::string previousLockPath = std::exchange(m_databaseLockPath, std::string());
    if (LoadDatabase(newPath))
        return true;
    const bool inUse = m_databaseInUse;
    m_databaseLock = std::move(previousLock);
    m_databaseLockPath = previousLockPath;
    if (!inUse)
        m_database.Load(previous);
    FollowDatabaseWithHistory();
    m_databaseInUse = inUse;
    return false;
}

bool CORXApp::ApplyDatabasePath()
{
    // Compared after resolving, so a relative path naming the open file switches nothing.
    const std::string wanted = ResolveDatabasePath(m_options.GetDatabasePath(), m_programFolder);
    if (EqualsIgnoringCase(wanted, m_database.GetPath()))
        return true;
    return SwitchDatabase(wanted);
}

bool CORXApp::CreateDatabase(const std::string& newPath, std::string* error)
{
    auto fail = [error](std::string why) {
        if (error)
            *error = std::move(why);
        return false;
    };
    const std::string resolved = ResolveDatabasePath(newPath, m_programFolder);
    if (newPath.empty() || DatabaseLockPath(resolved) == m_databaseLockPath)
        return fail("\"" + resolved + "\" is the database already open");
    SaveDatabase();
    const std::string previous = m_database.GetPath();
    InstanceLock previousLock = std::move(m_databaseLock);
    const std::string previousLockPath = std::exchange(m_databaseLockPath, std::string());
    // A missing file loads as an empty database; anything else there is not ours to replace.
    const bool loaded = LoadDatabase(resolved);
    std::string why;
    if (m_databaseInUse)
        why = m_databaseInUseError;
    else if (loaded || m_database.HoldsUnreadableFile())
        why = "\"" + resolved + "\" already exists";
    else if (m_database.Save())
        return true;
    else
        why = m_database.GetLastError();
    // A database in use elsewhere was never loaded, so the old one is still in memory.
    if (!std::exchange(m_databaseInUse, false))
        m_database.Load(previous);
    FollowDatabaseWithHistory();
    m_databaseLock = std::move(previousLock);
    m_databaseLockPath = previousLockPath;
    return fail(why);
}

void CORXApp::LoadUpdateInfo()
{
    UpdateFound = m_settingsStore->GetInt(SettingsNames::kRootSection, SettingsNames::kUpdateFound).value_or(0);
    const OleDateTime longAgo = OleDateTime::Now() - OleDateTimeSpan(kNeverLookedDays);
    UpdateLastLook = longAgo;
    UpdateLastShow = longAgo;
    auto load = [this](std::string_view name, OleDateTime& date) {
        const auto bytes = m_settingsStore->GetBinary(SettingsNames::kRootSection, name);
        if (bytes && bytes->size() == 16)
            date = FromSystemTimeBytes(bytes->data(), bytes->size());
    };
    load(SettingsNames::kUpdateLastLook, UpdateLastLook);
    load(SettingsNames::kUpdateLastShow, UpdateLastShow);
}

void CORXApp::SaveUpdateInfo()
{
    std::lock_guard lock(m_updateMutex);
    m_settingsStore->SetInt(SettingsNames::kRootSection, SettingsNames::kUpdateFound, UpdateFound);
    auto save = [this](std::string_view name, const OleDateTime& date) {
        const auto bytes = ToSystemTimeBytes(date);
        m_settingsStore->SetBinary(SettingsNames::kRootSection, name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    };
    save(SettingsNames::kUpdateLastLook, UpdateLastLook);
    save(SettingsNames::kUpdateLastShow, UpdateLastShow);
    m_settingsStore->Sync();
}

std::string CORXApp::GetUpdateUrl() const
{
    const std::string host =
        m_settingsStore->GetString(SettingsNames::kRootSection, SettingsNames::kUpdateHost).value_or(std::string());
    if (host.empty())
        return {};
    return (host.find("://") == std::string::npos ? "http://" + host : host) + kUpdatePath;
}

bool CORXApp::IsUpdateLookDue() const
{
    std::lock_guard lock(m_updateMutex);
    return UpdateFound == 0 && (OleDateTime::Now() - UpdateLastLook).GetDays() > kUpdateIntervalDays;
}

void CORXApp::StartUpdateLookupIfDue()
{
    if (m_updateThread.joinable() || !IsUpdateLookDue())
        return;
    m_updateThread = std::thread([this] { LookForUpdate(); });
}

void CORXApp::WaitForUpdateLookup()
{
    if (m_updateThread.joinable())
        m_updateThread.join();
}

void CORXApp::LookForUpdate()
{
    const std::string url = GetUpdateUrl();
    const bool found = !url.empty() && UrlExists(url);
    std::lock_guard lock(m_updateMutex);
    if (found)
        UpdateFound = 1;
    UpdateLastLook = OleDateTime::Now();
}

COptions CORXApp::ReadStoredOptions(const std::string& programFolder, std::string* error)
{
    COptions options(programFolder);
    int32_t importHintPending = 0;
    std::string reason;
    if (LoadConfigFile(programFolder + kConfigFileName, options, importHintPending, &reason) ==
            ConfigLoadResult::Unreadable &&
        error)
        *error = "the settings file \"" + programFolder + kConfigFileName + "\" could not be read (" + reason + ")";
    return options;
}

CheckSettings CORXApp::BuildCheckSettings(const COptions& options, const ISettingsStore& store)
{
    CheckSettings settings;
    settings.useProxy = options.GetUseProxy();
    settings.proxyHost = options.GetProxyHost();
    settings.proxyPort = options.GetProxyPort();
    settings.warningDays = options.GetWarningDays();
    if (const char* host = std::getenv("ORVEX_PAGERANK_HOST"))
        settings.pageRankHost = host;
    else
        settings.pageRankHost =
            store.GetString(SettingsNames::kRootSection, SettingsNames::kPageRankHost).value_or(std::string());
    // Not in the options dialog: scripts and tests shorten the wait, a user behind a slow proxy
    // may lengthen it. A Retry-After may always ask for up to four times the wait.
    const int wait =
        store.GetInt(SettingsNames::kRootSection, SettingsNames::kRetryWaitSeconds).value_or(settings.retryMinSeconds);
    settings.retryMinSeconds = std::clamp(wait, 0, 3600);
    settings.retryMaxSeconds = 4 * settings.retryMinSeconds;
    settings.workers =
        std::clamp(store.GetInt(SettingsNames::kRootSection, SettingsNames::kCheckWorkers).value_or(settings.workers),
                   1, kMaxCheckWorkers);
    settings.perSite =
        std::clamp(store.GetInt(SettingsNames::kRootSection, SettingsNames::kCheckPerSite).value_or(settings.perSite),
                   1, kMaxCheckPerSite);
    return settings;
}

MailSettings CORXApp::BuildMailSettings(const COptions& options, const ISettingsStore& store)
{
    MailSettings settings;
    settings.smtpServer = options.GetSmtpServer();
    settings.smtpPort = options.GetSmtpPort();
    settings.smtpAuth = options.GetSmtpAuth();
    settings.smtpUser = options.GetSmtpUser();
    settings.smtpPassword = options.GetSmtpPassword();
    settings.mailTo = options.GetMailTo();
    settings.mailFrom = options.GetMailFrom();
    settings.allowUnencryptedPassword =
        store.GetInt(SettingsNames::kRootSection, SettingsNames::kAllowUnencryptedPassword).value_or(0) != 0;
    return settings;
}

void CORXApp::ApplyCheckSettings()
{
    CheckSettings settings = BuildCheckSettings(m_options, *m_settingsStore);
    if (m_checkWorkersOverride > 0)
        settings.workers = m_checkWorkersOverride;
    SetCheckSettings(settings);
}
