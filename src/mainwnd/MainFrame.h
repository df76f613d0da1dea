#pragma once

#include "app/ORXApp.h"

#include <QMainWindow>
#include <future>

class QLabel;
class QTimer;

/// The main window. For now it shows what the database holds; the links list, the toolbar and
/// the commands take their places here.
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int kImportFromExcelCommand = 32780;

    explicit CMainFrame(CORXApp& app, QWidget* parent = nullptr);
    ~CMainFrame() override;

    /// Refreshes the summary of links and partners.
    void RefreshSummary();
    /// The one-time balloon at the main menu after the first start declined the import.
    void ShowImportHint();
    /// Runs a menu command after the current event (start-up posts the import this way).
    void PostCommand(int command);
    /// A second "/check" start asked this copy to check every link: the unattended run goes on in
    /// the background, and the window shows its result and saves when it ends.
    void OnCheckAllRequested();
    bool IsScheduledRunActive() const { return m_scheduledRun.valid(); }
    /// A second start asked this copy to come to the front.
    void BringToFront();

    bool WasImportHintShown() const { return m_importHintShown; }
    int GetCheckAllRequests() const { return m_checkAllRequests; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void PollScheduledRun();
    void OnImportFromExcel();
    void OnAbout();

    CORXApp& m_app;
    QLabel* m_summary = nullptr;
    bool m_importHintShown = false;
    int m_checkAllRequests = 0;
    std::future<ScheduledCheckReport> m_scheduledRun;
    QTimer* m_runPoll = nullptr;
};
