#include "Workspace.h"

#include "core/fetch/Fetch.h"
#include "core/history/HistoryStore.h"
#include "core/mail/Notifications.h"
#include "core/platform/Paths.h"
#include "core/records/TextUtil.h"
#include "core/storage/ConfigFile.h"
#include "core/storage/DatabasePath.h"
#include "core/storage/SafeFile.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

constexpr double kUpdateIntervalDays = 10.0;
constexpr double kNeverLookedDays = 11.0;

} // namespace

CWorkspace::CWorkspace(std::string programFolder)
    : m_programFolder(std::move(programFolder)), m_options(m_programFolder), m_settingsStore(OpenSettingsStore())
{
}

CWorkspace::~CWorkspace()
{
    WaitForUpdateLookup();
    CloseHistory();
}

std::string CWorkspace::SetUnreadableConfigAside(std::string* error)
{
    std::string keptAs = SetFileAside(GetConfigPath(), error);
    if (!keptAs.empty()) {
        m_configUnreadable = false;
        m_configError.clear();
    }
    return keptAs;
}

void CWorkspace::ReleaseDatabase()
{
    m_databaseLock.Release();
    m_databaseLockPath.clear();
}

bool CWorkspace::IsUpdateOfferDue(const OleDateTime& now) const
{
    return UpdateFound != 0 && (now - UpdateLastShow).GetDays() > kUpdateIntervalDays;
}

void CWorkspace::FeedNotifications()
{
    if (CNotificationsManager* notifications = GetNotificationsManager())
        notifications->SetSources({[this] { return BuildMailSettings(m_options, *m_settingsStore); },
                                   [this]() -> const CPartnersManager* { return m_database.GetPartners(); },
                                   [this]() -> const CLinksManager* { return m_database.GetLinks(); }});
}

bool CWorkspace::LoadConfig()
{
    m_configError.clear();
    const ConfigLoadResult result =
        LoadConfigFile(m_programFolder + kConfigFileName, m_options, m_importHintPending, &m_configError);
    m_configUnreadable = result == ConfigLoadResult::Unreadable;
    return result == ConfigLoadResult::Loaded;
}

bool CWorkspace::SaveConfig()
{
    const std::string path = m_programFolder + kConfigFileName;
    if (m_configUnreadable) {
        m_configError = "\"" + path + "\" could not be read, so it is not saved over";
        return false;
    }
    m_configError.clear();
    return SaveConfigFile(path, m_options, m_importHintPending, &m_configError);
}

bool CWorkspace::LoadDatabase(const std::string& path)
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

bool CWorkspace::SaveDatabase()
{
    const bool saved = m_database.Save();
    LeaveRoomForTheSave();
    return saved;
}

std::string CWorkspace::GetLastDatabaseError() const
{
    return m_databaseInUse ? m_databaseInUseError : m_database.GetLastError();
}

bool CWorkspace::SwitchDatabase(const std::string& newPath)
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

bool CWorkspace::ApplyDatabasePath()
{
    // Compared after resolving, so a relative path naming the open file switches nothing.
    const std::string wanted = ResolveDatabasePath(m_options.GetDatabasePath(), m_programFolder);
    if (EqualsIgnoringCase(wanted, m_database.GetPath()))
        return true;
    return SwitchDatabase(wanted);
}

bool CWorkspace::CreateDatabase(const std::string& newPath, std::string* error)
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

void CWorkspace::LoadUpdateInfo()
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

void CWorkspace::SaveUpdateInfo()
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

std::string CWorkspace::GetUpdateUrl() const
{
    const std::string host =
        m_settingsStore->GetString(SettingsNames::kRootSection, SettingsNames::kUpdateHost).value_or(std::string());
    if (host.empty())
        return {};
    return (host.find("://") == std::string::npos ? "http://" + host : host) + kUpdatePath;
}

bool CWorkspace::IsUpdateLookDue() const
{
    std::lock_guard lock(m_updateMutex);
    return UpdateFound == 0 && (OleDateTime::Now() - UpdateLastLook).GetDays() > kUpdateIntervalDays;
}

void CWorkspace::StartUpdateLookupIfDue()
{
    if (m_updateThread.joinable() || !IsUpdateLookDue())
        return;
    m_updateThread = std::thread([this] { LookForUpdate(); });
}

void CWorkspace::WaitForUpdateLookup()
{
    if (m_updateThread.joinable())
        m_updateThread.join();
}

void CWorkspace::LookForUpdate()
{
    const std::string url = GetUpdateUrl();
    const bool found = !url.empty() && UrlExists(url);
    std::lock_guard lock(m_updateMutex);
    if (found)
        UpdateFound = 1;
    UpdateLastLook = OleDateTime::Now();
}

COptions CWorkspace::ReadStoredOptions(const std::string& programFolder, std::string* error)
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

CheckSettings CWorkspace::BuildCheckSettings(const COptions& options, const ISettingsStore& store)
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

MailSettings CWorkspace::BuildMailSettings(const COptions& options, const ISettingsStore& store)
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

void CWorkspace::ApplyCheckSettings()
{
    CheckSettings settings = BuildCheckSettings(m_options, *m_settingsStore);
    if (m_checkWorkersOverride > 0)
        settings.workers = m_checkWorkersOverride;
    SetCheckSettings(settings);
}
