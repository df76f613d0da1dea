#pragma once

// The window side of the program. A build without the window (ORVEX_GUI=OFF, for a server that
// runs the weekly check) leaves it out: AppWindow.cpp makes it, NoWindow.cpp stands in for it.

#include <memory>
#include <string>

class CMainFrame;
class CWorkspace;
class QCoreApplication;

/// The window's part of start-up and exit: its questions and messages (before the main window
/// exists too), the main window, and the channel through which later starts reach it.
class IAppWindow
{
public:
    virtual ~IAppWindow() = default;

    /// A warning with OK, over the main window once there is one.
    virtual void Warn(const std::string& text) = 0;
    /// A Yes/No question with the warning icon; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    /// Makes and shows the main window over the workspace, and listens for later starts.
    virtual void Open() = 0;
    /// The update found earlier, when it is due to be offered again.
    virtual void OfferUpdate() = 0;
    /// The first start's import question, or the hint after a first start declined it.
    virtual void HandleFirstStart(bool cfgLoaded) = 0;
    /// The event loop, until the main window closes or a signal ends it.
    virtual int Exec() = 0;
    /// Closes the main window and stops listening; after the last save.
    virtual void Close() = 0;
    virtual CMainFrame* MainFrame() const = 0;
};

/// Null in a build without the window.
std::unique_ptr<IAppWindow> MakeAppWindow(CWorkspace& workspace);

/// The Qt application object: one that can show windows when `window`, else one that needs no
/// display (the unattended run and a build without the window).
std::unique_ptr<QCoreApplication> MakeQtApplication(int& argc, char** argv, bool window);

/// The offer to mail a crash report, in a fresh process that the fault handler started.
int RunCrashDialog(int& argc, char** argv, const std::string& reportPath);
