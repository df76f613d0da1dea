#pragma once

#include "core/fetch/CheckSettings.h"
#include "core/platform/InstanceLock.h"
#include "core/platform/SettingsStore.h"
#include "core/records/OleDateTime.h"
#include "core/storage/ORXDatabase.h"
#include "core/storage/Options.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct MailSettings;
class CCheckRun;
class CHistoryStore;
class CLink;

/// What an unattended run did, for its caller (exit code, summary).
struct ScheduledCheckReport
{
    int checked = 0;
    bool cancelled = false;
    int stopSignal = 0; ///< SIGINT or SIGTERM when one stopped the run
    std::size_t changed = 0;
    std::size_t expiring = 0;
    int mailResult = -1;     ///< -1 no letter was due; else SendNotification's 0, 1 or 2
    std::string mailProblem; ///< why the letter did not go out, on one line (server reply included)
    /// Why the run changed nothing and sent nothing, the user's own network being down; "" when it
    /// counts.
    std::string nothingReached;
};

/// What one program folder holds for a running Orvex: the settings of "ORX.cfg", the database
/// they name (with its lock), the check history beside it, the stored update values, and the
/// unattended run over its links. The window and "/check" both work through one of these; it
/// shows nothing and asks nothing, so either can say what went wrong in its own way.
class CWorkspace
{
public:
    static constexpr const char* kConfigFileName = "ORX.cfg";
    static constexpr const char* kLockFileName = ".orvex.lock";
    static constexpr const char* kUpdatePath = "/downloads/orx21.exe";
    static constexpr const char* kUpdateFileName = "orx21.exe";

    explicit CWorkspace(std::string programFolder);
    ~CWorkspace();
    CWorkspace(const CWorkspace&) = delete;
    CWorkspace& operator=(const CWorkspace&) = delete;

    const std::string& GetProgramFolder() const { return m_programFolder; }
    COptions& GetOptions() { return m_options; }
    CORXDatabase& GetDatabase() { return m_database; }
    ISettingsStore& GetSettingsStore() { return *m_settingsStore; }
    int32_t GetImportHintPending() const { return m_importHintPending; }
    void SetImportHintPending(int32_t pending) { m_importHintPending = pending; }

    /// Reads "ORX.cfg"; false when it is missing or could not be read (IsConfigUnreadable tells which).
    bool LoadConfig();
    /// Refuses while "ORX.cfg" holds a file that could not be read; GetLastConfigError says why.
    bool SaveConfig();
    bool IsConfigUnreadable() const { return m_configUnreadable; }
    const std::string& GetLastConfigError() const { return m_configError; }
    std::string GetConfigPath() const { return m_programFolder + kConfigFileName; }
    /// Renames an unreadable "ORX.cfg" out of the way so that the defaults may be saved: the new
    /// name, or "" and `error` says why.
    std::string SetUnreadableConfigAside(std::string* error);

    /// Makes the path absolute (relative paths lie in the program folder), takes the database's
    /// lock and loads it. When another Orvex holds the lock nothing changes, IsDatabaseInUse() is
    /// true and GetLastDatabaseError() says so.
    bool LoadDatabase(const std::string& path);
    bool SaveDatabase();
    bool IsDatabaseInUse() const { return m_databaseInUse; }
    /// Why the last load, switch or save of the database failed.
    std::string GetLastDatabaseError() const;
    /// Saves the current database, then loads the new one; on failure the old one comes back.
    bool SwitchDatabase(const std::string& newPath);
    /// Switches to the settings' database path when it differs from the open one.
    bool ApplyDatabasePath();
    /// Saves the current database, then opens a new, empty one at `newPath` (a file that does not
    /// exist yet) and writes it at once; on failure the old one comes back and `error` says why.
    bool CreateDatabase(const std::string& newPath, std::string* error = nullptr);
    /// Lets go of the database's lock (at exit, after the last save).
    void ReleaseDatabase();

    /// The check history beside the open database; null while none is open.
    std::shared_ptr<CHistoryStore> GetHistory() const { return m_history; }
    /// What went wrong with the history, the first time it is asked after it went wrong; "" else.
    /// `flush` waits for the checks still queued, so that their fate is known.
    std::string TakeHistoryProblem(bool flush);
    /// "Keep check history for N months": 0 keeps every check.
    int GetHistoryMonths() const;
    /// Stores the setting and, when it limits the history, has the older checks removed in the
    /// background.
    void SetHistoryMonths(int months);
    /// Moves a link's history after the link dialog changed its addresses or project.
    void LinkKeyChanged(const CLink& before, const CLink& after);
    /// Stops keeping checks; a run still going writes what it holds and lets go of the file.
    void CloseHistory();

    void LoadUpdateInfo();
    void SaveUpdateInfo();
    /// "http://<UpdateHost>/downloads/orx21.exe", or "" when no update host is configured.
    std::string GetUpdateUrl() const;
    /// No newer version known yet and the last look is more than ten days old.
    bool IsUpdateLookDue() const;
    /// A newer version was found and the user was last asked about it more than ten days ago.
    bool IsUpdateOfferDue(const OleDateTime& now) const;
    /// Asks the update server (HEAD) whether a newer version is there; runs on a thread of its
    /// own beside a check run. Sets UpdateFound on a 2xx answer and UpdateLastLook always.
    void LookForUpdate();
    /// Starts LookForUpdate on a thread of its own when a look is due and none runs: the
    /// interactive check run does this beside its workers.
    void StartUpdateLookupIfDue();
    /// Returns when a look-up started by StartUpdateLookupIfDue has ended (after Stop, and at exit).
    void WaitForUpdateLookup();

    /// The stored settings of the program folder, read without creating or changing anything: the
    /// command-line tools use them. Defaults when there is no (readable) "ORX.cfg"; `error` gets
    /// the reason when the file is there but could not be read.
    static COptions ReadStoredOptions(const std::string& programFolder, std::string* error = nullptr);
    /// The checking code's view of the settings: proxy and warning period from "ORX.cfg", the
    /// PageRank endpoint from $ORVEX_PAGERANK_HOST or the stored "PageRankHost".
    static CheckSettings BuildCheckSettings(const COptions& options, const ISettingsStore& store);
    /// The mail part of the settings, as the letters read it.
    static MailSettings BuildMailSettings(const COptions& options, const ISettingsStore& store);
    /// Hands the current settings to the checking code; after start-up and after every change.
    void ApplyCheckSettings();
    /// --check-workers N: this run's pages in flight, whatever the settings say.
    void SetCheckWorkersOverride(int workers) { m_checkWorkersOverride = workers; }
    /// Has the notification letters read the mail settings and records from here, as they are
    /// when a letter is written (the options and a database switch change them).
    void FeedNotifications();

    /// Checks every link once and mails the letter when links changed; does nothing when
    /// notifications are off. Blocks until the run has ended. `stopSignal`, when given, is watched:
    /// once it holds a signal number the workers finish the links they hold, a letter being sent
    /// is abandoned, and the report names the signal. `verbose` prints a line per changed link and
    /// a summary on stdout.
    ScheduledCheckReport RunScheduledCheck(bool verbose = false, const std::atomic<int>* stopSignal = nullptr);
    /// Asks a running RunScheduledCheck (on another thread) to stop taking links.
    void StopScheduledCheck();

    std::atomic<int> UpdateFound{0};
    OleDateTime UpdateLastLook; ///< guarded by m_updateMutex once a look-up thread may run
    OleDateTime UpdateLastShow;

private:
    /// Opens the history beside the database now open (when it moved) and has every check kept there.
    void FollowDatabaseWithHistory();
    /// Tells the history how much room the next save of the database takes.
    void LeaveRoomForTheSave();

    std::string m_programFolder;
    COptions m_options;
    int32_t m_importHintPending = 0;
    CORXDatabase m_database;
    std::unique_ptr<ISettingsStore> m_settingsStore;
    InstanceLock m_databaseLock;
    std::string m_databaseLockPath;
    bool m_databaseInUse = false;
    std::string m_databaseInUseError;
    bool m_configUnreadable = false; ///< "ORX.cfg" exists but did not load: never saved over
    std::string m_configError;
    std::shared_ptr<CHistoryStore> m_history;
    bool m_historyProblemTold = false;
    int m_checkWorkersOverride = 0;
    mutable std::mutex m_updateMutex;
    std::thread m_updateThread;
    std::mutex m_runMutex;
    CCheckRun* m_run = nullptr; ///< the running unattended run; guarded by m_runMutex
};
