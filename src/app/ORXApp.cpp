#include "ORXApp.h"

#include "InstanceChannel.h"
#include "QuitSignals.h"
#include "checking/Fetch.h"
#include "mail/Notifications.h"
#include "mainwnd/MainFrame.h"
#include "platform/Paths.h"
#include "records/TextUtil.h"
#include "storage/ConfigFile.h"
#include "storage/DatabasePath.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QDesktopServices>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

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
    ApplyCheckSettings();
    // Functions rather than copies: the options dialog and a database switch change what a later
    // letter must use.
    if (CNotificationsManager* notifications = GetNotificationsManager())
        notifications->SetSources({[this] { return BuildMailSettings(m_options, *m_settingsStore); },
                                   [this]() -> const CPartnersManager* { return m_database.GetPartners(); },
                                   [this]() -> const CLinksManager* { return m_database.GetLinks(); }});
    const bool dbLoaded = LoadDatabase(m_options.GetDatabasePath());
    if (!dbLoaded) {
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
        return true;
    case InstanceLock::Result::HeldElsewhere:
        // Another copy runs on this program folder: it checks (or comes to the front) instead.
        CInstanceChannel::Send(m_programFolder,
                               m_checkMode ? CInstanceChannel::kCheckRequest : CInstanceChannel::kShowRequest);
        m_exitCode = 0;
        return false;
    case InstanceLock::Result::Failed:
        break;
    }
    ReportError(error);
    m_exitCode = 1;
    return false;
}

bool CORXApp::HandleUnreadableDatabase()
{
    const std::string path = m_database.GetPath();
    const std::string reason = m_database.GetLastError();
    if (m_checkMode) {
        ReportError("the database file \"" + path + "\" could not be read (" + reason +
                    "); it was left as it is and nothing was saved.");
        m_exitCode = 1;
        return false;
    }
    const QString question =
        QStringLiteral("Database file is corrupted.\n\n"
                       "The file \"%1\" could not be read (%2).\n\n"
                       "Start with a new empty database? The damaged file is kept under another name.\n"
                       "Choose No to quit without changing anything.")
            .arg(Q(path), Q(reason));
    if (!MessageBox::AskYesNo(nullptr, question, QMessageBox::Warning)) {
        m_exitCode = 0;
        return false;
    }
    std::string keptAs;
    if (!m_database.SetAsideUnreadableFile(&keptAs)) {
        ReportError(m_database.GetLastError());
        m_exitCode = 1;
        return false;
    }
    MessageBox::Warn(nullptr, QStringLiteral("The damaged database file was kept as \"%1\".").arg(Q(keptAs)));
    return true;
}

void CORXApp::CreateMainWindow()
{
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
    QObject::connect(m_channel.get(), &CInstanceChannel::CheckAllRequested, m_mainFrame.get(),
                     &CMainFrame::OnCheckAllRequested);
    QObject::connect(m_channel.get(), &CInstanceChannel::ShowRequested, m_mainFrame.get(), &CMainFrame::BringToFront);

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
    if (m_checkMode) {
        const ScheduledCheckReport report = RunScheduledCheck(m_verbose, true);
        // A letter that did not go out must not pass for a quiet success in the cron job's mail.
        if (report.mailResult == 1)
            std::fprintf(stderr,
                         "orvex: the notification letter was not sent: no connection to the mail server "
                         "\"%s\"\n",
                         m_options.GetSmtpServer().c_str());
        else if (report.mailResult == 2)
            std::fprintf(stderr, "orvex: the notification letter was not sent: the mail server \"%s\" refused it\n",
                         m_options.GetSmtpServer().c_str());
        const int exitCode = ExitInstance();
        // Stopped by a signal: what was checked is saved, and the exit says the run is not whole.
        if (report.stopSignal != 0)
            return 128 + report.stopSignal;
        if (exitCode == 0 && report.mailResult > 0)
            return kExitLetterNotSent;
        return exitCode;
    }
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
        if (!SaveConfig() && m_checkMode)
            ReportError("cannot save \"" + m_programFolder + kConfigFileName + "\"");
        if (!SaveDatabase()) {
            // Whatever was changed since the last save would be gone: never let that pass quietly.
            ReportError("the database could not be saved: " + m_database.GetLastError());
            m_exitCode = 1;
        }
        SaveUpdateInfo();
    }
    FreeNotificationsManager();
    m_quitSignals.reset();
    m_mainFrame.reset();
    m_channel.reset();
    m_lock.Release();
    return m_exitCode;
}

bool CORXApp::LoadConfig()
{
    return LoadConfigFile(m_programFolder + kConfigFileName, m_options, m_importHintPending) ==
           ConfigLoadResult::Loaded;
}

bool CORXApp::SaveConfig()
{
    return SaveConfigFile(m_programFolder + kConfigFileName, m_options, m_importHintPending);
}

bool CORXApp::LoadDatabase(const std::string& path)
{
    return m_database.Load(ResolveDatabasePath(path, m_programFolder));
}

bool CORXApp::SaveDatabase()
{
    return m_database.Save();
}

bool CORXApp::SwitchDatabase(const std::string& newPath)
{
    if (newPath.empty())
        return false;
    SaveDatabase();
    const std::string previous = m_database.GetPath();
    if (LoadDatabase(newPath))
        return true;
    m_database.Load(previous);
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

COptions CORXApp::ReadStoredOptions(const std::string& programFolder)
{
    COptions options(programFolder);
    int32_t importHintPending = 0;
    LoadConfigFile(programFolder + kConfigFileName, options, importHintPending);
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
    SetCheckSettings(BuildCheckSettings(m_options, *m_settingsStore));
}
