// The window side of start-up and exit, in the build with the window.
#include "AppWindow.h"

#include "InstanceChannel.h"
#include "ProductInfo.h"
#include "QuitSignals.h"
#include "core/fetch/Fetch.h"
#include "core/workspace/Workspace.h"
#include "gui/crash/ExceptionHandlerDlg.h"
#include "gui/mainwnd/MainFrame.h"
#include "gui/widgets/DialogsOnQuit.h"
#include "gui/widgets/MessageBox.h"
#include "gui/widgets/TestHooks.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <cstdio>

namespace {

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

class CAppWindow final : public IAppWindow
{
public:
    explicit CAppWindow(CWorkspace& workspace) : m_workspace(workspace) {}
    ~CAppWindow() override { CAppWindow::Close(); }

    void Warn(const std::string& text) override { MessageBox::Warn(m_mainFrame.get(), Q(text)); }
    bool AskYesNo(const std::string& text) override
    {
        return MessageBox::AskYesNo(m_mainFrame.get(), Q(text), QMessageBox::Warning);
    }
    void Open() override;
    void OfferUpdate() override;
    void HandleFirstStart(bool cfgLoaded) override;
    // A signal during a question asked before the loop (the first start's) has already ended the
    // program's business; entering the loop now would wait for a quit that came and went.
    int Exec() override { return m_dialogsOnQuit.Begun() ? 0 : QApplication::exec(); }
    void Close() override
    {
        m_quitSignals.reset();
        m_mainFrame.reset();
        m_channel.reset();
    }
    CMainFrame* MainFrame() const override { return m_mainFrame.get(); }

private:
    CWorkspace& m_workspace;
    std::unique_ptr<CMainFrame> m_mainFrame;
    std::unique_ptr<CInstanceChannel> m_channel;
    std::unique_ptr<CQuitSignals> m_quitSignals;
    CDialogsOnQuit m_dialogsOnQuit;
};

void CAppWindow::Open()
{
    // The desktop groups the windows under the launcher of this name (the Wayland app id; on X11
    // the window class "Orvex", from the application name, matches the entry's StartupWMClass).
    QGuiApplication::setDesktopFileName(QStringLiteral(ORVEX_APP_ID));
    m_mainFrame = std::make_unique<CMainFrame>(m_workspace);
    m_mainFrame->show();
    TestHooks::PhotographWhenAsked(*m_mainFrame);

    m_channel = std::make_unique<CInstanceChannel>(m_workspace.GetProgramFolder());
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

    // Closing the window ends the event loop, and exit then saves as after File > Exit. An open
    // question or dialog is answered No or Cancel first, or the quit would wait on it.
    m_quitSignals = std::make_unique<CQuitSignals>([this] {
        m_dialogsOnQuit.Begin();
        if (m_mainFrame)
            m_mainFrame->close();
        QCoreApplication::quit();
    });
}

void CAppWindow::OfferUpdate()
{
    const OleDateTime now = OleDateTime::Now();
    if (!m_workspace.IsUpdateOfferDue(now))
        return;
    if (!MessageBox::AskYesNo(m_mainFrame.get(),
                              QStringLiteral("The new version of Orvex is available. Update now?"))) {
        m_workspace.UpdateLastShow = now;
        return;
    }
    // The update is fetched into the program folder but never started from here: the user's browser
    // shows the download page, and the user decides what to run.
    const std::string url = m_workspace.GetUpdateUrl();
    if (!url.empty() && DownloadToFile(url, m_workspace.GetProgramFolder() + CWorkspace::kUpdateFileName)) {
        QDesktopServices::openUrl(QUrl(Q(url)));
        m_workspace.UpdateLastShow = now;
    } else {
        MessageBox::Warn(m_mainFrame.get(), QStringLiteral("Downloading ORX update failed."));
    }
}

void CAppWindow::HandleFirstStart(bool cfgLoaded)
{
    if (!cfgLoaded) {
        if (MessageBox::AskYesNo(m_mainFrame.get(),
                                 QStringLiteral("Would you like to import your data from Excel document?")))
            m_mainFrame->PostCommand(CMainFrame::kImportFromExcelCommand);
        else
            m_workspace.SetImportHintPending(1);
    } else if (m_workspace.GetImportHintPending() == 1) {
        m_mainFrame->ShowImportHint();
        m_workspace.SetImportHintPending(0);
    }
}

void NameTheApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tessel Development"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvex"));
}

} // namespace

std::unique_ptr<IAppWindow> MakeAppWindow(CWorkspace& workspace)
{
    return std::make_unique<CAppWindow>(workspace);
}

std::unique_ptr<QCoreApplication> MakeQtApplication(int& argc, char** argv, bool window)
{
    std::unique_ptr<QCoreApplication> app;
    if (window)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    NameTheApplication();
    return app;
}

int RunCrashDialog(int& argc, char** argv, const std::string& reportPath)
{
    QApplication qtApp(argc, argv);
    NameTheApplication();
    CExceptionHandlerDlg dialog(QString::fromStdString(reportPath));
    TestHooks::DescribeCrashDialogWhenAsked(dialog, QString::fromStdString(reportPath));
    dialog.exec();
    return 0;
}
