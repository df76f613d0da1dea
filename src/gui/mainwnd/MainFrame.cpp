#include "MainFrame.h"

#include "CheckSummary.h"
#include "ClipboardCopy.h"
#include "Filters.h"
#include "LinksCheckProgressDlg.h"
#include "LinksView.h"
#include "ListSearch.h"
#include "core/fetch/Url.h"
#include "core/mail/Notifications.h"
#include "core/page/LinkCheck.h"
#include "core/platform/SettingsStore.h"
#include "gui/editing/LinkCommands.h"
#include "gui/exchange/ImportExportCommands.h"
#include "gui/help/DesktopLinks.h"
#include "gui/help/HelpWindow.h"
#include "gui/options/SystemScheduleStore.h"
#include "gui/partners/PartnerCommands.h"
#include "gui/partners/PartnersListDlg.h"
#include "gui/reports/PageReportDlg.h"
#include "gui/search/SearchCommands.h"
#include "gui/widgets/Icons.h"
#include "gui/widgets/MessageBox.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <utility>

namespace {

constexpr int kSaveIntervalMs = 30000;
constexpr int kRefreshIntervalMs = 60000;
constexpr int kSummaryBoxAfterMs = 3000;
constexpr int kSummaryShownMs = 60000; ///< the totals panes come back afterwards

QByteArray ToQByteArray(const std::vector<uint8_t>& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

} // namespace

CMainFrame::CMainFrame(CWorkspace& workspace, QWidget* parent) : QMainWindow(parent), m_workspace(workspace)
{
    setWindowTitle(QStringLiteral("Orvex " ORVEX_VERSION));
    setWindowIcon(OrvexIcon(QStringLiteral("orvex")));

    m_view = new CLinksView(m_workspace.GetSettingsStore(), this);
    setCentralWidget(BuildListWithHistoryPane());
    m_search = std::make_unique<CListSearch>(*m_view);
    BuildMenus();
    BuildToolBar();

    m_totalPane = new QLabel(this);
    m_selectedPane = new QLabel(this);
    statusBar()->addWidget(m_totalPane, 1);
    statusBar()->addWidget(m_selectedPane, 1);

    connect(m_view, &CLinksView::EditRequested, this, [this] { RunCommand(Command::Edit); });
    connect(m_view, &CLinksView::DeleteRequested, this, [this] { RunCommand(Command::Delete); });
    connect(m_view->GetList(), &CLinksListCtrl::RowMenuRequested, this, &CMainFrame::ShowListMenu);
    connect(m_view->GetList()->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        UpdateCommandStates();
        UpdateStatusPanes();
        UpdateHistoryPane();
    });
    connect(m_filters, &CLinkFilters::FiltersChanged, this, [this] { FillList(true); });

    AttachDatabase();
    SetMinimumFromBars();

    m_saveTimer = new QTimer(this);
    m_saveTimer->setInterval(kSaveIntervalMs);
    connect(m_saveTimer, &QTimer::timeout, this, &CMainFrame::OnSaveTimer);
    m_saveTimer->start();
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setInterval(kRefreshIntervalMs);
    m_refreshTimer->setSingleShot(true);
    connect(m_refreshTimer, &QTimer::timeout, this, &CMainFrame::StartDateRefresh);
    connect(&m_refresh, &CBackgroundWork::Finished, this, &CMainFrame::OnDateRefreshEnded);
    connect(&m_scheduledRun, &CBackgroundWork::Finished, this, &CMainFrame::OnScheduledRunEnded);
    // Set once for the window's life: the letters of the refresh are stopped through it at close.
    if (CNotificationsManager* mailer = GetNotificationsManager())
        mailer->SetAbortFlag(&m_stopMailing);
    StartDateRefresh();

    const auto saved = m_workspace.GetSettingsStore().GetBinary(SettingsNames::kGuiSection, SettingsNames::kMainFrame);
    if (!saved || !restoreGeometry(ToQByteArray(*saved))) {
        // The middle three quarters of the work area.
        const QRect area = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry()
                                                            : QRect(0, 0, 1024, 768);
        setGeometry(QRect(area.x() + area.width() / 8, area.y() + area.height() / 8, area.width() * 3 / 4,
                          area.height() * 3 / 4));
    }
}

CMainFrame::~CMainFrame()
{
    m_stopMailing.store(1);
    for (const QPointer<CBackgroundWork>& letter : m_letters)
        if (letter)
            letter->Wait();
    if (CNotificationsManager* mailer = GetNotificationsManager())
        mailer->SetAbortFlag(nullptr);
    m_refresh.Wait();
    m_scheduledRun.Wait();
}

bool CMainFrame::IsAttached() const
{
    return m_workspace.GetDatabase().IsUsable();
}

void CMainFrame::AttachDatabase()
{
    CORXDatabase& db = m_workspace.GetDatabase();
    m_view->Attach(db.GetLinks(), db.GetPartners());
    m_filters->Attach(db.GetLinks(), db.GetPartners());
    RefreshFilters();
    FillList(true);
}

void CMainFrame::RefreshFilters()
{
    m_filters->RefreshFilters();
}

void CMainFrame::FillList(bool full)
{
    m_view->FillList(full);
    UpdateCommandStates();
    UpdateStatusPanes();
    UpdateHistoryPane();
}

std::vector<CLink*> CMainFrame::SelectedLinks() const
{
    std::vector<CLink*> links;
    for (int row : m_view->GetSelectedRows())
        if (CLink* link = m_view->GetLink(row))
            links.push_back(link);
    return links;
}

bool CMainFrame::IsCommandEnabled(Command command) const
{
    return IsEnabled(Spec(command).enabledWhen);
}

bool CMainFrame::IsEnabled(EnabledWhen rule) const
{
    const std::size_t selected = m_view->GetSelectedRows().size();
    // A handed-over run is checking every link: a second run would only check them again, and its
    // workers read the records that editing would change under them.
    const bool runFree = !m_scheduledRun.IsRunning();
    switch (rule) {
    case EnabledWhen::Always:
        return true;
    case EnabledWhen::Free:
        return IsAttached() && runFree;
    case EnabledWhen::FreeSelection:
        return IsAttached() && selected >= 1 && runFree;
    case EnabledWhen::Selection:
        return IsAttached() && selected >= 1;
    case EnabledWhen::OneRow:
        return IsAttached() && selected == 1;
    case EnabledWhen::TwoLinks:
        return IsAttached() && m_workspace.GetDatabase().GetLinks()->GetCount() > 1;
    }
    return true;
}

void CMainFrame::UpdateCommandStates()
{
    for (std::size_t i = 0; i < kCommandCount; ++i)
        m_actions[i]->setEnabled(IsCommandEnabled(static_cast<Command>(i)));
}

QString CMainFrame::GetTotalPaneText() const
{
    return tr("Total number of links : %1     Total cost : %2     Total price : %3")
        .arg(m_view->GetRowCount())
        .arg(m_view->GetTotalCost())
        .arg(m_view->GetTotalPrice());
}

QString CMainFrame::GetSelectedPaneText() const
{
    int64_t cost = 0;
    int64_t price = 0;
    const std::vector<CLink*> links = SelectedLinks();
    for (const CLink* link : links) {
        cost += link->GetCostPerPeriod();
        price += link->GetCostPerMonth();
    }
    return tr("Selected links : %1     Selected cost : %2     Selected price : %3")
        .arg(links.size())
        .arg(cost)
        .arg(price);
}

void CMainFrame::UpdateStatusPanes()
{
    m_totalPane->setText(GetTotalPaneText());
    m_selectedPane->setText(GetSelectedPaneText());
}

void CMainFrame::ShowListMenu(const QPoint& globalPos)
{
    UpdateCommandStates();
    m_view->SetMenuOpen(true);
    m_listMenu->exec(globalPos);
    m_view->SetMenuOpen(false);
}

void CMainFrame::RunCommand(Command command)
{
    const CommandSpec& spec = Spec(command);
    if (IsEnabled(spec.enabledWhen))
        (this->*spec.handler)();
}

void CMainFrame::PostCommand(Command command)
{
    QTimer::singleShot(0, this, [this, command] { RunCommand(command); });
}

void CMainFrame::OnAddPartner()
{
    WhileEditing([this] {
        RunNewPartnerFlow(*m_workspace.GetDatabase().GetPartners(), this);
        RefreshFilters();
    });
}

void CMainFrame::OnExportText()
{
    RunExport(&ExportToTextFile);
}

void CMainFrame::OnExportExcel()
{
    RunExport(&ExportToWorkbook);
}

void CMainFrame::RunExport(void (*exportTo)(const ExchangeContext&))
{
    WhileEditing([this, exportTo] {
        CORXDatabase& database = m_workspace.GetDatabase();
        exportTo({*database.GetPartners(), *database.GetLinks(), m_workspace.GetSettingsStore(), this});
    });
}

void CMainFrame::OnOptions()
{
    WhileEditing([this] {
        // A new database replaces the records the list points into.
        if (RunOptionsCommand(m_workspace, this, [this] { m_view->Attach(nullptr, nullptr); }))
            AttachDatabase();
    });
}

void CMainFrame::OnCheckLink()
{
    OnCheckLinks(SelectedLinks());
}

void CMainFrame::OnFindNext()
{
    m_search->FindNext(this);
}

void CMainFrame::OnFindDuplicates()
{
    RunDuplicatesSearch(m_workspace.GetDatabase().GetLinks()->GetLinks(), this);
}

void CMainFrame::OnHistoryPane()
{
    ShowHistoryPane(GetAction(Command::HistoryPane)->isChecked());
}

void CMainFrame::OnWebSite()
{
    OpenOnDesktop(this, QUrl(QString::fromLatin1(kProductWebSite)));
}

void CMainFrame::OnEmailSupport()
{
    OpenOnDesktop(this, QUrl(QStringLiteral("mailto:") + QString::fromLatin1(kSupportAddress)));
}

void CMainFrame::OnExit()
{
    close();
}

void CMainFrame::WhileEditing(const std::function<void()>& command)
{
    // Editing changes records on this thread: a date refresh walking them finishes first, and
    // none starts while a dialog is open (its timer runs on); a scheduled check handed over
    // meanwhile waits for the dialog. Check runs of the window cannot start under a modal dialog.
    FinishDateRefresh();
    ++m_editing;
    command();
    --m_editing;
    m_view->GetList()->setFocus();
    if (m_editing == 0) {
        if (!m_refresh.IsRunning() && !m_refreshTimer->isActive())
            m_refreshTimer->start(kRefreshIntervalMs);
        if (std::exchange(m_checkAllPending, false))
            StartScheduledRun();
    }
}

void CMainFrame::RunLinkCommand(
    const std::function<void(const LinkCommandContext&, const std::vector<CLink*>&)>& command)
{
    CORXDatabase& database = m_workspace.GetDatabase();
    // The new-partner flow of "Add new partner" belongs over the dialog that asked for it.
    const LinkCommandContext context{
        *database.GetPartners(), *database.GetLinks(), this,
        [this] {
            if (RunNewPartnerFlow(*m_workspace.GetDatabase().GetPartners(), QApplication::activeModalWidget()))
                RefreshFilters();
        },
        [this](const CLink& before, const CLink& after) { m_workspace.LinkKeyChanged(before, after); }};
    const std::vector<CLink*> selected = SelectedLinks();
    WhileEditing([&] { command(context, selected); });
}

void CMainFrame::OnAdd()
{
    RunLinkCommand([this](const LinkCommandContext& context, const std::vector<CLink*>&) {
        if (AddLink(context)) {
            RefreshFilters();
            FillList(true);
        }
    });
}

void CMainFrame::OnAddPack()
{
    RunLinkCommand([this](const LinkCommandContext& context, const std::vector<CLink*>&) {
        if (AddPack(context)) {
            RefreshFilters();
            FillList(true);
        }
    });
}

void CMainFrame::OnEdit()
{
    RunLinkCommand([this](const LinkCommandContext& context, const std::vector<CLink*>& selected) {
        if (EditLinks(context, selected)) {
            RefreshFilters();
            FillList(false);
        }
    });
}

void CMainFrame::OnDuplicate()
{
    RunLinkCommand([this](const LinkCommandContext& context, const std::vector<CLink*>& selected) {
        if (DuplicateLinks(context, selected))
            FillList(true);
    });
}

void CMainFrame::OnRenew()
{
    RunLinkCommand([this](const LinkCommandContext& context, const std::vector<CLink*>& selected) {
        if (RenewLinks(context, selected)) {
            RefreshFilters();
            FillList(true);
        }
    });
}

void CMainFrame::OnPartnerList()
{
    WhileEditing([this] {
        CORXDatabase& database = m_workspace.GetDatabase();
        CPartnersListDlg dialog(
            *database.GetPartners(), *database.GetLinks(), m_workspace.GetSettingsStore(),
            [this] {
                RunNewPartnerFlow(*m_workspace.GetDatabase().GetPartners(), this);
                RefreshFilters();
            },
            this);
        dialog.exec();
        RefreshFilters();
        // Partner cells of links whose partner was renamed or removed show the change.
        FillList(true);
    });
}

void CMainFrame::OnDelete()
{
    const std::vector<CLink*> links = SelectedLinks();
    const QString count =
        links.size() == 1 ? tr("1 link will be deleted.") : tr("%1 links will be deleted.").arg(links.size());
    if (links.empty() ||
        !MessageBox::AskYesNo(this,
                              tr("Are you sure you want to delete selected link(s)?") + QStringLiteral("\n\n") + count,
                              QMessageBox::Warning))
        return;
    // Background work holds the records it walks: none may go while it runs.
    if (m_scheduledRun.IsRunning()) {
        MessageBox::Warn(this, tr("A check of all links is running; delete the links when it has ended."));
        return;
    }
    FinishDateRefresh();
    CLinksManager* collection = m_workspace.GetDatabase().GetLinks();
    // The list refers to the records: empty it before they go.
    m_view->Attach(nullptr, nullptr);
    for (CLink* link : links)
        collection->RemoveLink(link);
    AttachDatabase();
}

void CMainFrame::OnCheckLinks(const std::vector<CLink*>& links)
{
    // No save while the workers write the records; the lock tells closing that a run is on.
    std::unique_lock lock(m_checkRunLock);
    m_saveTimer->stop();
    m_workspace.StartUpdateLookupIfDue();
    // The dialog's run waits for a date refresh that is walking the links, and keeps the next
    // one out until it ends.
    CLinksCheckProgressDlg dialog(links, this);
    QElapsedTimer clock;
    clock.start();
    dialog.exec();
    // A short run is seen in the list and the status bar; after a long one the user may have
    // looked away, so a box says what happened.
    const bool longRun = clock.elapsed() >= kSummaryBoxAfterMs;
    if (dialog.WasStopped())
        m_workspace.WaitForUpdateLookup();
    m_saveTimer->start(kSaveIntervalMs);
    lock.unlock();
    // A refresh due during the run did not start: its minute begins again now.
    if (!m_refresh.IsRunning() && !m_refreshTimer->isActive())
        m_refreshTimer->start(kRefreshIntervalMs);
    RefreshFilters();
    FillList(false);
    // Every link was put back as it was: the run says why rather than what it found.
    if (const QString why = dialog.NothingReached(); !why.isEmpty()) {
        statusBar()->showMessage(why, kSummaryShownMs);
        MessageBox::Warn(this, why);
        m_view->GetList()->setFocus();
        return;
    }
    const CheckRunSummary summary = dialog.GetSummary();
    const int shownChanged = SelectLinksInList(*m_view, summary.changedLinks);
    QString message = CheckSummaryText(summary);
    // Said once, where the user looks after a run; checks go on without the history.
    if (const std::string problem = m_workspace.TakeHistoryProblem(false); !problem.empty())
        message += QStringLiteral("  ") + QString::fromStdString(problem);
    statusBar()->showMessage(message, kSummaryShownMs);
    if (longRun)
        MessageBox::Inform(this, CheckSummaryBoxText(summary, shownChanged));
    m_view->GetList()->setFocus();
}

void CMainFrame::OnCheckAll()
{
    const std::size_t count = m_workspace.GetDatabase().GetLinks()->GetCount();
    if (count == 0) {
        MessageBox::Inform(this, tr("There is nothing to check: the database holds no links."));
        return;
    }
    // The filters narrow what the list shows, not what this command checks.
    const QString what = count == 1
                             ? tr("The one link of the database is checked, whatever the filters show.")
                             : tr("All %1 links of the database are checked, whatever the filters show.").arg(count);
    if (!MessageBox::AskYesNo(this, tr("Are you sure you want to check all links?") + QStringLiteral("\n\n") + what))
        return;
    OnCheckLinks(m_workspace.GetDatabase().GetLinks()->GetLinks());
}

void CMainFrame::FindInList()
{
    m_search->Find(this);
}

void CMainFrame::OnCopy()
{
    QGuiApplication::clipboard()->setMimeData(MakeSelectionClipboardData(*m_view));
}

void CMainFrame::OnViewSource()
{
    const std::vector<CLink*> links = SelectedLinks();
    if (links.empty())
        return;
    // The page dialogs take copies of the addresses: their workers never touch the record.
    CViewLinkSourceDlg dialog(*links.front(), this);
    dialog.exec();
    m_view->GetList()->setFocus();
}

void CMainFrame::OnExternalLinks()
{
    const std::vector<CLink*> links = SelectedLinks();
    if (links.empty())
        return;
    CExternalLinksInfoDlg dialog(NormalizeUrl(links.front()->GetFromPage()), this);
    dialog.exec();
    m_view->GetList()->setFocus();
}

void CMainFrame::OnOpenInBrowser()
{
    const std::vector<CLink*> links = SelectedLinks();
    if (links.size() == 1)
        OpenOnDesktop(this, QUrl(QString::fromStdString(NormalizeUrl(links.front()->GetFromPage()))));
}

void CMainFrame::OnHelp()
{
    if (!m_help) {
        const QString file = CHelpWindow::FindHelpFile();
        if (file.isEmpty()) {
            MessageBox::Warn(this, tr("The help file \"orx-help.html\" was not found beside the program."));
            return;
        }
        m_help = new CHelpWindow(file, this);
    }
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void CMainFrame::OnAbout()
{
    QMessageBox::about(
        this, tr("About Orvex %1").arg(QStringLiteral(ORVEX_VERSION)),
        tr("<b>Orvex %3</b> Built on %1<p>Keeps your link exchanges and paid links, checks that "
           "every partner page still carries the link you paid for, and tells you when one "
           "changes.</p><p><a href=\"%2\">%2</a></p>")
            .arg(QStringLiteral(__DATE__), QString::fromLatin1(kProductWebSite), QStringLiteral(ORVEX_VERSION)));
}

void CMainFrame::OnImportFromExcel()
{
    WhileEditing([this] {
        CORXDatabase& database = m_workspace.GetDatabase();
        if (ImportFromSpreadsheet(
                {*database.GetPartners(), *database.GetLinks(), m_workspace.GetSettingsStore(), this})) {
            RefreshFilters();
            FillList(true);
        }
    });
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

void CMainFrame::OnSaveTimer()
{
    // Every 30 seconds: a message box each time would be worse than the fault, the status bar
    // says it until a save works again (and exit reports it in a box).
    if (m_workspace.SaveDatabase()) {
        if (m_saveFailed)
            statusBar()->clearMessage();
        m_saveFailed = false;
        // Checks outside a run (Save and Check, the date refresh) keep history too: a history
        // gone wrong there is said here, once.
        if (const std::string problem = m_workspace.TakeHistoryProblem(false); !problem.empty())
            statusBar()->showMessage(QString::fromStdString(problem), kSummaryShownMs);
        return;
    }
    m_saveFailed = true;
    statusBar()->showMessage(
        tr("The database could not be saved: %1").arg(QString::fromStdString(m_workspace.GetLastDatabaseError())));
}

void CMainFrame::StartDateRefresh()
{
    // The run's verdicts are newer than the dates; the end of the run arms the timer again.
    // (The handed-over run is checked by its work: its run object may not exist yet.)
    if (m_refresh.IsRunning() || !IsAttached() || m_scheduledRun.IsRunning() || IsCheckRunActive() || m_editing > 0)
        return;
    m_refreshTimer->stop();
    const std::vector<CLink*> links = m_workspace.GetDatabase().GetLinks()->GetLinks();
    const int warningDays = m_workspace.GetOptions().GetWarningDays();
    const bool notify = m_workspace.GetOptions().GetNotifyStatusChanges();
    // Only the walk runs on the thread; the letter is written here, on the window's thread, when
    // the walk is done, because the user may be changing links by then.
    m_refresh.Start([links, warningDays](CWorkToken&) {
        // A run that began since then keeps the links: nothing was refreshed.
        std::optional<NotificationLists> lists = RefreshLinkDates(links, warningDays);
        return lists ? std::move(*lists) : NotificationLists{};
    });
    m_refreshNotifies = notify;
}

void CMainFrame::FinishDateRefresh()
{
    if (!m_refresh.IsRunning())
        return;
    // Its Finished is not heard after Wait: the end is taken here, at once.
    m_refresh.Wait();
    OnDateRefreshEnded();
}

void CMainFrame::OnDateRefreshEnded()
{
    // A walk that threw is taken as one that found nothing to show or mail.
    const NotificationLists lists = m_refresh.TakeResult().value_or(NotificationLists{});
    if (m_refreshNotifies && !lists.changedLinks.empty())
        MailLetter(lists);
    if (!lists.changedLinks.empty())
        FillList(false);
    // A link never checked takes its colour from the dates, which move without any status change.
    m_view->GetList()->viewport()->update();
    m_refreshTimer->start(kRefreshIntervalMs);
}

bool CMainFrame::OnCheckAllRequested()
{
    ++m_checkAllRequests;
    if (m_scheduledRun.IsRunning()) {
        statusBar()->showMessage(tr("A check of all links is already running."));
        return true;
    }
    // The user's own check holds the links; the scheduled run is told so and reports it.
    if (IsCheckRunActive() || !IsAttached()) {
        statusBar()->showMessage(tr("The scheduled check could not start: another check is running."));
        return false;
    }
    // A dialog changing links is open: the run is taken on, and starts when the dialog closes.
    if (m_editing > 0) {
        m_checkAllPending = true;
        statusBar()->showMessage(tr("The scheduled check starts when the open dialog is closed."));
        return true;
    }
    StartScheduledRun();
    return true;
}

void CMainFrame::StartScheduledRun()
{
    if (m_scheduledRun.IsRunning() || !IsAttached())
        return;
    statusBar()->showMessage(tr("Checking all links for the scheduled run..."));
    // As during an interactive run, no save while the workers write the records; the run's end
    // saves its results.
    m_saveTimer->stop();
    m_scheduledRun.Start([this](CWorkToken&) { return m_workspace.RunScheduledCheck(); });
    UpdateCommandStates();
}

void CMainFrame::OnScheduledRunEnded()
{
    const std::optional<ScheduledCheckReport> report = m_scheduledRun.TakeResult();
    RefreshFilters();
    FillList(true); // offers the check commands again
    // The statuses and ranks the run found are the user's data: keep them at once. A run that
    // failed may have written some before it did.
    if (!report || report->checked > 0)
        m_workspace.SaveDatabase();
    m_saveTimer->start(kSaveIntervalMs);
    if (!m_refresh.IsRunning() && !m_refreshTimer->isActive())
        m_refreshTimer->start(kRefreshIntervalMs);
    if (!report)
        statusBar()->showMessage(tr("The scheduled check stopped with an error."));
    else if (!m_workspace.GetOptions().GetNotifyStatusChanges())
        statusBar()->showMessage(tr("The scheduled check did nothing: notifications are switched off."));
    else
        statusBar()->showMessage(
            tr("Scheduled check: %1 links checked, %2 changed.").arg(report->checked).arg(report->changed));
}

void CMainFrame::MailLetter(const NotificationLists& lists)
{
    CNotificationsManager* mailer = GetNotificationsManager();
    if (!mailer)
        return;
    // The letter is made of the records now; the thread only talks to the mail server.
    std::string letter = mailer->BuildLetter(lists.changedLinks, lists.expiringLinks);
    auto* sending = new CBackgroundWork(this);
    connect(sending, &CBackgroundWork::Finished, sending, &QObject::deleteLater);
    // What the server answered is nobody's business here: the letter only goes out or not.
    sending->Start([mailer, letter = std::move(letter)](CWorkToken&) { mailer->SendLetter(letter); });
    std::erase_if(m_letters, [](const QPointer<CBackgroundWork>& gone) { return gone.isNull(); });
    m_letters.push_back(sending);
}

void CMainFrame::BringToFront()
{
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

void CMainFrame::moveEvent(QMoveEvent* event)
{
    m_view->HideStatusBalloon();
    QMainWindow::moveEvent(event);
}

void CMainFrame::resizeEvent(QResizeEvent* event)
{
    m_view->HideStatusBalloon();
    QMainWindow::resizeEvent(event);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // A letter still going out is abandoned at once rather than holding the window open.
    m_stopMailing.store(1);
    if (m_scheduledRun.IsRunning()) {
        // The workers finish the links they hold; the results are saved at exit.
        m_workspace.StopScheduledCheck();
        m_scheduledRun.Wait();
    }
    m_refreshTimer->stop();
    // Waited for without their ends: a closed window neither fills its list nor mails again.
    m_refresh.Wait();
    for (const QPointer<CBackgroundWork>& letter : m_letters)
        if (letter)
            letter->Wait();
    m_view->SaveLayout();
    const QByteArray geometry = saveGeometry();
    m_workspace.GetSettingsStore().SetBinary(SettingsNames::kGuiSection, SettingsNames::kMainFrame,
                                             std::vector<uint8_t>(geometry.begin(), geometry.end()));
    event->accept();
}
