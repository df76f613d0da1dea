#include "MainFrame.h"

#include "platform/SettingsStore.h"
#include "widgets/MessageBox.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolTip>

namespace {

QByteArray ToQByteArray(const std::vector<uint8_t>& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

} // namespace

CMainFrame::CMainFrame(CORXApp& app, QWidget* parent) : QMainWindow(parent), m_app(app)
{
    setWindowTitle(QStringLiteral("Orvex 2.0"));

    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* exit = file->addAction(tr("E&xit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    QAction* about = help->addAction(tr("&About Orvex..."));
    connect(about, &QAction::triggered, this, &CMainFrame::OnAbout);

    m_runPoll = new QTimer(this);
    m_runPoll->setInterval(500);
    connect(m_runPoll, &QTimer::timeout, this, &CMainFrame::PollScheduledRun);

    m_summary = new QLabel(this);
    m_summary->setAlignment(Qt::AlignCenter);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setCentralWidget(m_summary);
    statusBar()->showMessage(tr("Ready"));
    RefreshSummary();

    const auto saved = m_app.GetSettingsStore().GetBinary(SettingsNames::kGuiSection, SettingsNames::kMainFrame);
    if (!saved || !restoreGeometry(ToQByteArray(*saved))) {
        // A centred window of three quarters of the work area.
        const QRect area = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry()
                                                            : QRect(0, 0, 1024, 768);
        const QSize size(area.width() * 3 / 4, area.height() * 3 / 4);
        setGeometry(QRect(area.center() - QPoint(size.width() / 2, size.height() / 2), size));
    }
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::RefreshSummary()
{
    const CORXDatabase& db = m_app.GetDatabase();
    const std::size_t links = db.GetLinks() ? db.GetLinks()->GetCount() : 0;
    const std::size_t partners = db.GetPartners() ? db.GetPartners()->GetCount() : 0;
    m_summary->setText(
        tr("%1 links and %2 partners\nin %3").arg(links).arg(partners).arg(QString::fromStdString(db.GetPath())));
}

void CMainFrame::ShowImportHint()
{
    m_importHintShown = true;
    const QString text = tr("You can import existing data from Microsoft Excel file.");
    statusBar()->showMessage(text, 15000);
    QTimer::singleShot(0, this, [this, text] {
        QToolTip::showText(menuBar()->mapToGlobal(QPoint(16, menuBar()->height())), text, menuBar(), {}, 15000);
    });
}

void CMainFrame::PostCommand(int command)
{
    QTimer::singleShot(0, this, [this, command] {
        if (command == kImportFromExcelCommand)
            OnImportFromExcel();
    });
}

void CMainFrame::OnImportFromExcel()
{
    MessageBox::Warn(this, tr("Import from Excel is not available in this version yet."));
}

void CMainFrame::OnCheckAllRequested()
{
    ++m_checkAllRequests;
    if (m_scheduledRun.valid()) {
        statusBar()->showMessage(tr("A check of all links is already running."));
        return;
    }
    statusBar()->showMessage(tr("Checking all links for the scheduled run..."));
    m_scheduledRun = std::async(std::launch::async, [this] { return m_app.RunScheduledCheck(); });
    m_runPoll->start();
}

void CMainFrame::PollScheduledRun()
{
    if (!m_scheduledRun.valid() || m_scheduledRun.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    m_runPoll->stop();
    const ScheduledCheckReport report = m_scheduledRun.get();
    RefreshSummary();
    // The statuses and ranks the run found are the user's data: keep them at once.
    if (report.checked > 0)
        m_app.SaveDatabase();
    if (!m_app.GetOptions().GetNotifyStatusChanges())
        statusBar()->showMessage(tr("The scheduled check did nothing: notifications are switched off."));
    else
        statusBar()->showMessage(
            tr("Scheduled check: %1 links checked, %2 changed.").arg(report.checked).arg(report.changed));
}

void CMainFrame::BringToFront()
{
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

void CMainFrame::OnAbout()
{
    QMessageBox::about(this, tr("About Orvex"),
                       tr("<b>Orvex 2.0</b><p>Keeps your link exchanges and paid links, checks that every "
                          "partner page still carries the link you paid for, and tells you when one changes.</p>"));
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_scheduledRun.valid()) {
        // The workers finish the links they hold; the results are saved at exit.
        m_app.StopScheduledCheck();
        m_scheduledRun.wait();
        m_scheduledRun.get();
        m_runPoll->stop();
    }
    const QByteArray geometry = saveGeometry();
    m_app.GetSettingsStore().SetBinary(SettingsNames::kGuiSection, SettingsNames::kMainFrame,
                                       std::vector<uint8_t>(geometry.begin(), geometry.end()));
    event->accept();
}
