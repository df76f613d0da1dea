#include "ORXApp.h"

#include "AppWindow.h"
#include "InstanceChannel.h"
#include "cli/CheckCommand.h"
#include "core/platform/TerminalText.h"
#include "core/mail/Notifications.h"
#include "core/platform/Paths.h"
#include "core/storage/SafeFile.h"

#include <cstdio>
#include <utility>

namespace {

// "%1" and "%2" of a question, as the path and the reason.
std::string Fill(std::string text, const std::string& first, const std::string& second)
{
    for (const auto& [mark, value] : {std::pair{"%1", &first}, std::pair{"%2", &second}})
        if (const auto at = text.find(mark); at != std::string::npos)
            text.replace(at, 2, *value);
    return text;
}

} // namespace

CORXApp::CORXApp(bool checkMode, bool verbose)
    : m_checkMode(checkMode), m_verbose(verbose), m_workspace(Paths::FindProgramFolder())
{
}

CORXApp::~CORXApp()
{
    m_workspace.WaitForUpdateLookup();
    m_workspace.CloseHistory();
    if (m_window)
        m_window->Close();
}

CMainFrame* CORXApp::GetMainFrame() const
{
    return m_window ? m_window->MainFrame() : nullptr;
}

void CORXApp::ReportError(const std::string& text) const
{
    if (m_window)
        m_window->Warn(text);
    else
        PrintEscaped(stderr, "orvex: %s\n", text.c_str());
}

bool CORXApp::InitInstance()
{
    if (!m_checkMode) {
        m_window = MakeAppWindow(m_workspace);
        if (!m_window) {
            ReportError("this Orvex was built without its window: \"/check\" and the command-line forms work "
                        "(orvex --help lists them)");
            m_exitCode = 2;
            return false;
        }
    }
    m_workspace.LoadUpdateInfo();
    if (!PrepareProgramFolder() || !TakeInstanceLock())
        return false;

    const bool cfgLoaded = m_workspace.LoadConfig();
    if (m_workspace.IsConfigUnreadable() && !HandleUnreadableConfig())
        return false;
    m_workspace.ApplyCheckSettings();
    m_workspace.FeedNotifications();
    CWorkspace& ws = m_workspace;
    const bool dbLoaded = ws.LoadDatabase(ws.GetOptions().GetDatabasePath());
    if (!dbLoaded) {
        if (ws.IsDatabaseInUse()) {
            ReportError(ws.GetLastDatabaseError());
            m_exitCode = 1;
            return false;
        }
        if (ws.GetDatabase().HoldsUnreadableFile()) {
            if (!HandleUnreadableDatabase())
                return false;
        } else if (m_window && cfgLoaded) {
            m_window->Warn("Database file is corrupted.");
        }
    }

    if (m_window) {
        m_window->Open();
        m_window->OfferUpdate();
        m_window->HandleFirstStart(cfgLoaded);
    }
    m_initialised = true;
    return true;
}

bool CORXApp::PrepareProgramFolder()
{
    std::string error;
    if (Paths::EnsureFolder(m_workspace.GetProgramFolder(), &error))
        return true;
    ReportError("cannot use the program folder: " + error);
    m_exitCode = 1;
    return false;
}

bool CORXApp::TakeInstanceLock()
{
    const std::string& folder = m_workspace.GetProgramFolder();
    std::string error;
    switch (m_lock.TryAcquire(folder + CWorkspace::kLockFileName, &error)) {
    case InstanceLock::Result::Acquired:
        // We are the only copy on this folder now: what a killed save left here is nobody's.
        RemoveStaleTemporaries(m_workspace.GetConfigPath());
        return true;
    case InstanceLock::Result::HeldElsewhere:
        // Another copy runs on this program folder: a window checks (or comes to the front)
        // instead. Only its answer counts; another "/check" or a busy window takes nothing over.
        if (CInstanceChannel::Send(folder,
                                   m_checkMode ? CInstanceChannel::kCheckRequest : CInstanceChannel::kShowRequest)) {
            if (m_checkMode && m_verbose)
                std::printf("the Orvex window running on this folder took the check over\n");
            m_exitCode = 0;
            return false;
        }
        ReportError("another Orvex is running on this folder (" + folder + ")" +
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
    if (!m_window) {
        ReportError("the " + file.kind + " \"" + file.path + "\" could not be read (" + file.reason +
                    "); it was left as it is and nothing was saved.");
        m_exitCode = 1;
        return false;
    }
    if (!m_window->AskYesNo(Fill(file.question, file.path, file.reason) +
                            "\nChoose No to quit without changing anything.")) {
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
    m_window->Warn("The damaged " + file.kind + " was kept as \"" + keptAs + "\".");
    return true;
}

bool CORXApp::HandleUnreadableDatabase()
{
    CORXDatabase& database = m_workspace.GetDatabase();
    return OfferToSetAside({"database file", database.GetPath(), database.GetLastError(),
                            "Database file is corrupted.\n\n"
                            "The file \"%1\" could not be read (%2).\n\n"
                            "Start with a new empty database? The damaged file is kept under another name.",
                            [&database](std::string* error) {
                                std::string keptAs;
                                if (!database.SetAsideUnreadableFile(&keptAs))
                                    *error = database.GetLastError();
                                return keptAs;
                            }});
}

bool CORXApp::HandleUnreadableConfig()
{
    return OfferToSetAside({"settings file", m_workspace.GetConfigPath(), m_workspace.GetLastConfigError(),
                            "The settings file \"%1\" could not be read (%2).\n\n"
                            "Start with default settings? The damaged file is kept under another "
                            "name, with the mail server, password and database path it holds.",
                            [this](std::string* error) { return m_workspace.SetUnreadableConfigAside(error); }});
}

int CORXApp::Run()
{
    if (m_checkMode)
        return RunCheckCommand(m_workspace, m_verbose, [this] { return ExitInstance(); });
    const int rc = m_window->Exec();
    const int exitCode = ExitInstance();
    return rc != 0 ? rc : exitCode;
}

int CORXApp::ExitInstance()
{
    if (m_exited)
        return m_exitCode;
    m_exited = true;
    m_workspace.WaitForUpdateLookup();
    if (m_initialised) {
        if (!m_workspace.SaveConfig()) {
            ReportError("the settings could not be saved: " + m_workspace.GetLastConfigError());
            m_exitCode = 1;
        }
        if (!m_workspace.SaveDatabase()) {
            // Whatever was changed since the last save would be gone: never let that pass quietly.
            ReportError("the database could not be saved: " + m_workspace.GetDatabase().GetLastError());
            m_exitCode = 1;
        }
        m_workspace.SaveUpdateInfo();
    }
    m_workspace.CloseHistory();
    // The window lets go of the mailer (its letters end at its close) before the mailer goes.
    if (m_window)
        m_window->Close();
    FreeNotificationsManager();
    m_workspace.ReleaseDatabase();
    m_lock.Release();
    return m_exitCode;
}
