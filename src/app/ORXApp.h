#pragma once

#include "core/fetch/CheckSettings.h"
#include "core/platform/InstanceLock.h"
#include "core/platform/SettingsStore.h"
#include "core/records/OleDateTime.h"
#include "core/storage/ORXDatabase.h"
#include "core/storage/Options.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct MailSettings;
class CHistoryStore;
class CLink;
class CInstanceChannel;

/// What an unattended run did, for its caller (exit code, summary).
struct ScheduledCheckReport
{
    int checked = 0;
    bool cancelled = false;
    int stopSignal = 0; ///< SIGINT or SIGTERM when one stopped the run
    std::size_t changed = 0;
    std::size_t expiring = 0;
    int mailResult = -1; ///< -1 no letter was due; else SendNotification's 0, 1 or 2
};
class CMainFrame;
class CQuitSignals;

/// The application object: run mode, the single running copy, settings, database, update values,
/// start-up and exit. One per process; everything else reaches settings and database through it.
class CORXApp
{
public:
    static constexpr const char* kConfigFileName = "ORX.cfg";
    static constexpr const char* kLockFileName = ".orvex.lock";
    static constexpr const char* kUpdatePath = "/downloads/orx21.exe";
    static constexpr const char* kUpdateFileName = "orx21.exe";
    /// "/check" checked and saved everything, but the letter could not be mailed.
    static constexpr int kExitLetterNotSent = 3;

    explicit CORXApp(bool checkMode, bool verbose = false);
    ~CORXApp();
    CORXApp(const CORXApp&) = delete;
    CORXApp& operator=(const CORXApp&) = delete;

    static CORXApp& Instance();

    /// Start-up; false ends the process at once with GetExitCode(), saving nothing.
    bool InitInstance();
    /// The event loop in interactive mode; in check mode the unattended run. Ends with ExitInstance.
    int Run();
    /// Saves settings, database and update values when start-up reached its end; returns the exit code.
    int ExitInstance();

    /// Checks every link once with the five workers and mails the letter when links changed; does
    /// nothing when notifications are off. `handleSignals`: SIGINT/SIGTERM stop the run (the
    /// workers finish the links they hold). Blocks until the run has ended.
    ScheduledCheckReport RunScheduledCheck(bool verbose = false, bool handleSignals = false);
    /// Asks a running RunScheduledCheck (on another thread) to stop taking links.
    void StopScheduledCheck();
    int GetExitCode() const { return m_exitCode; }

    bool IsCheckMode() const { return m_checkMode; }
    bool IsInitialised() const { return m_initialised; }
    const std::string& GetProgramFolder() const { return m_programFolder; }
    COptions& GetOptions() { return m_options; }
    CORXDatabase& GetDatabase() { return m_database; }
    ISettingsStore& GetSettingsStore() { return *m_settingsStore; }
    CMainFrame* GetMainFrame() const { return m_mainFrame.get(); }
    int32_t GetImportHintPending() const { return m_importHintPending; }

    bool LoadConfig();
    /// Refuses while "ORX.cfg" holds a file that could not be read; GetLastConfigError says why.
    bool SaveConfig();
    const std::string& GetLastConfigError() const { return m_configError; }
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

    void LoadUpdateInfo();
    void SaveUpdateInfo();
    /// "http://<UpdateHost>/downloads/orx21.exe", or "" when no update host is configured.
    std::string GetUpdateUrl() const;
    /// No newer version known yet and the last look is more than ten days old.
    bool IsUpdateLookDue() const;
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

    std::atomic<int> UpdateFound{0};
    OleDateTime UpdateLastLook; ///< guarded by m_updateMutex once a look-up thread may run
    OleDateTime UpdateLastShow;

private:
    /// The unattended run with its signals, the exit and the exit code.
    int RunCheckMode();
    bool PrepareProgramFolder();
    bool TakeInstanceLock();
    /// A file that exists but did not load: "/check" reports it and ends; the window asks whether to
    /// set it aside and go on without it.
    struct UnreadableFile
    {
        std::string kind; ///< "database file", "settings file"
        std::string path;
        std::string reason;
        QString question;                                        ///< %1 the path, %2 the reason
        std::function<std::string(std::string* error)> setAside; ///< the new name, or "" and why
    };
    bool OfferToSetAside(const UnreadableFile& file);
    bool HandleUnreadableDatabase();
    bool HandleUnreadableConfig();
    void CreateMainWindow();
    void OfferUpdate();
    void HandleFirstStart(bool cfgLoaded);
    void ReportError(const std::string& text) const;
    /// Opens the history beside the database now open (when it moved) and has every check kept there.
    void FollowDatabaseWithHistory();
    void CloseHistory();

    bool m_checkMode;
    bool m_verbose = false;
    std::string m_programFolder;
    COptions m_options;
    int32_t m_importHintPending = 0;
    CORXDatabase m_database;
    std::unique_ptr<ISettingsStore> m_settingsStore;
    InstanceLock m_lock;
    InstanceLock m_databaseLock;
    std::string m_databaseLockPath;
    bool m_databaseInUse = false;
    std::string m_databaseInUseError;
    bool m_configUnreadable = false; ///< "ORX.cfg" exists but did not load: never saved over
    std::string m_configError;
    std::unique_ptr<CInstanceChannel> m_channel;
    std::unique_ptr<CMainFrame> m_mainFrame;
    std::unique_ptr<CQuitSignals> m_quitSignals;
    std::shared_ptr<CHistoryStore> m_history;
    bool m_historyProblemTold = false;
    int m_checkWorkersOverride = 0;
    mutable std::mutex m_updateMutex;
    std::thread m_updateThread;
    std::mutex m_runMutex;
    std::atomic<int>* m_runCancel = nullptr; ///< the running unattended run's flag; guarded by m_runMutex
    bool m_initialised = false;
    bool m_exited = false;
    int m_exitCode = 0;
};
