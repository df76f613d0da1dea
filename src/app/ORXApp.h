#pragma once

#include "core/platform/InstanceLock.h"
#include "core/workspace/Workspace.h"

#include <functional>
#include <memory>
#include <string>

class CMainFrame;
class IAppWindow;

/// The application object: the run mode, the single running copy of a program folder, start-up
/// and exit. One per process. The program folder's settings, database and history live in its
/// workspace, which the window and "/check" are given.
class CORXApp
{
public:
    explicit CORXApp(bool checkMode, bool verbose = false);
    ~CORXApp();
    CORXApp(const CORXApp&) = delete;
    CORXApp& operator=(const CORXApp&) = delete;

    /// Start-up; false ends the process at once with GetExitCode(), saving nothing.
    bool InitInstance();
    /// The event loop in interactive mode; in check mode the unattended run. Ends with ExitInstance.
    int Run();
    /// Saves settings, database and update values when start-up reached its end; returns the exit code.
    int ExitInstance();
    int GetExitCode() const { return m_exitCode; }

    CWorkspace& GetWorkspace() { return m_workspace; }
    /// The main window once start-up has made it; null in check mode.
    CMainFrame* GetMainFrame() const;
    /// --check-workers N: this run's pages in flight, whatever the settings say.
    void SetCheckWorkersOverride(int workers) { m_workspace.SetCheckWorkersOverride(workers); }

private:
    bool PrepareProgramFolder();
    bool TakeInstanceLock();
    /// A file that exists but did not load: "/check" reports it and ends; the window asks whether to
    /// set it aside and go on without it.
    struct UnreadableFile
    {
        std::string kind; ///< "database file", "settings file"
        std::string path;
        std::string reason;
        std::string question;                                    ///< %1 the path, %2 the reason
        std::function<std::string(std::string* error)> setAside; ///< the new name, or "" and why
    };
    bool OfferToSetAside(const UnreadableFile& file);
    bool HandleUnreadableDatabase();
    bool HandleUnreadableConfig();
    void ReportError(const std::string& text) const;

    bool m_checkMode;
    bool m_verbose = false;
    CWorkspace m_workspace;
    InstanceLock m_lock;
    std::unique_ptr<IAppWindow> m_window; ///< made at start-up in interactive mode
    bool m_initialised = false;
    bool m_exited = false;
    int m_exitCode = 0;
};
