// The main window as a user drives it: which commands are offered for a selection, Delete, Check
// Link through the progress dialog, copying rows and the totals panes, a run handed over by a
// second "/check" start, and the date refresh's end.
#include "gui/mainwnd/MainFrame.h"
#include "DialogTesting.h"
#include "TestProgram.h"
#include "app/ORXApp.h"
#include "core/records/LinkStatus.h"
#include "gui/mainwnd/LinksView.h"
#include "gui/partners/PartnersListCtrl.h"
#include "gui/partners/PartnersListDlg.h"
#include "gui/widgets/Icons.h"
#include "gui/widgets/MessageBox.h"
#include "gui/widgets/TestHooks.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCompleter>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHostAddress>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QWidgetAction>
#include <vector>

class MainFrameTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<CORXApp> m_app;

    CMainFrame& Frame() { return *m_app->GetMainFrame(); }

    // Links whose pages nobody serves: a check ends at once with "Can't open page".
    void AddLinks(int count)
    {
        CLinksManager* links = m_app->GetWorkspace().GetDatabase().GetLinks();
        for (int i = 0; i < count; ++i) {
            CLink* link = links->AddNewLink();
            link->SetProject("Shop");
            link->SetFromPage("http://127.0.0.1:9/page" + std::to_string(i) + ".html");
            link->SetToPage("http://mine.localhost/");
            link->SetCostMode(0);
            link->SetCostPerMonthValue(10 * (i + 1));
            link->SetStatus(StatusOk);
        }
        Frame().AttachDatabase();
    }

    void Select(const std::vector<int>& rows)
    {
        CLinksListCtrl* list = Frame().GetView()->GetList();
        list->clearSelection();
        for (int row : rows)
            list->selectionModel()->select(list->model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    // The program's icon an action shows, by name; "" for none, "?" for one of no known name.
    static QString IconName(const QIcon& icon)
    {
        if (icon.isNull())
            return {};
        static const QStringList names = {
            QStringLiteral("about"),          QStringLiteral("add-pack"),     QStringLiteral("add"),
            QStringLiteral("check-all"),      QStringLiteral("check"),        QStringLiteral("copy"),
            QStringLiteral("delete"),         QStringLiteral("duplicate"),    QStringLiteral("edit"),
            QStringLiteral("email-support"),  QStringLiteral("export-excel"), QStringLiteral("export-text"),
            QStringLiteral("external-links"), QStringLiteral("find"),         QStringLiteral("help"),
            QStringLiteral("import-excel"),   QStringLiteral("open-browser"), QStringLiteral("options"),
            QStringLiteral("partner-add"),    QStringLiteral("partner-list"), QStringLiteral("renew"),
            QStringLiteral("view-source"),    QStringLiteral("website")};
        const QImage image = icon.pixmap(QSize(32, 32)).toImage();
        for (const QString& name : names)
            if (OrvexIcon(name).pixmap(QSize(32, 32)).toImage() == image)
                return name;
        return QStringLiteral("?");
    }

    // One line per entry: "-" for a separator; else text, key, icon and whether it is a toggle,
    // with a submenu's entries indented under it.
    static QStringList Describe(const QList<QAction*>& actions, const QString& indent = {})
    {
        QStringList lines;
        for (const QAction* action : actions) {
            if (action->isSeparator()) {
                lines << indent + QStringLiteral("-");
                continue;
            }
            QString line = indent + action->text();
            if (!action->shortcut().isEmpty())
                line += QStringLiteral(" [%1%2]").arg(
                    action->shortcut().toString(),
                    action->shortcutContext() == Qt::WindowShortcut ? QString() : QStringLiteral(" local"));
            if (const QString icon = IconName(action->icon()); !icon.isEmpty())
                line += QStringLiteral(" <%1>").arg(icon);
            if (action->isCheckable())
                line += QStringLiteral(" toggle");
            lines << line;
            if (action->menu())
                lines << Describe(action->menu()->actions(), indent + QStringLiteral("  "));
        }
        return lines;
    }

    static void CompareLines(const QStringList& actual, const QStringList& expected)
    {
        for (qsizetype i = 0; i < std::min(actual.size(), expected.size()); ++i)
            QVERIFY2(
                actual[i] == expected[i],
                qPrintable(QStringLiteral("entry %1: \"%2\", expected \"%3\"").arg(i).arg(actual[i], expected[i])));
        QVERIFY2(actual.size() == expected.size(), qPrintable(actual.join(QLatin1Char('|'))));
    }

private slots:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        m_app = StartTestProgram(*m_home);
        QVERIFY(m_app);
    }

    void cleanup()
    {
        m_app->ExitInstance();
        m_app.reset();
    }

    void commandsFollowTheSelection()
    {
        AddLinks(3);
        CMainFrame& f = Frame();
        // Every command with a rule of its own, enabled with no, one and two rows selected.
        struct Rule
        {
            CMainFrame::Command command;
            bool none, one, two;
        };
        const Rule rules[] = {
            {CMainFrame::Command::Add, true, true, true},
            {CMainFrame::Command::AddPack, true, true, true},
            {CMainFrame::Command::Duplicate, false, true, true},
            {CMainFrame::Command::Edit, false, true, true},
            {CMainFrame::Command::Delete, false, true, true},
            {CMainFrame::Command::CheckLink, false, true, true},
            {CMainFrame::Command::CheckAll, true, true, true},
            {CMainFrame::Command::Renew, false, true, true},
            {CMainFrame::Command::AddPartner, true, true, true},
            {CMainFrame::Command::PartnerList, true, true, true},
            {CMainFrame::Command::Copy, false, true, true},
            {CMainFrame::Command::OpenInBrowser, false, true, false},
            {CMainFrame::Command::About, true, true, true},
            {CMainFrame::Command::Options, true, true, true},
            {CMainFrame::Command::Find, true, true, true},
            {CMainFrame::Command::FindDuplicates, true, true, true},
            {CMainFrame::Command::ViewSource, false, true, true},
            {CMainFrame::Command::ExternalLinks, false, true, false},
            {CMainFrame::Command::FindNext, true, true, true},
            {CMainFrame::Command::ImportExcel, true, true, true},
            {CMainFrame::Command::ExportText, true, true, true},
            {CMainFrame::Command::ExportExcel, true, true, true},
            {CMainFrame::Command::Help, true, true, true},
            {CMainFrame::Command::WebSite, true, true, true},
            {CMainFrame::Command::EmailSupport, true, true, true},
            {CMainFrame::Command::HistoryPane, true, true, true},
            {CMainFrame::Command::Exit, true, true, true},
        };
        const std::pair<std::vector<int>, bool Rule::*> selections[] = {
            {{}, &Rule::none}, {{1}, &Rule::one}, {{0, 2}, &Rule::two}};
        for (const auto& [rows, expected] : selections) {
            Select(rows);
            for (const Rule& rule : rules)
                QVERIFY2(f.GetAction(rule.command)->isEnabled() == rule.*expected,
                         qPrintable(QStringLiteral("%1 with %2 rows")
                                        .arg(QVariant::fromValue(rule.command).toString())
                                        .arg(rows.size())));
        }
    }

    // Every entry of the menu bar, the list's menu, the toolbar and the window's own keys, in its
    // place, with its text, key and icon.
    void theMenusToolbarAndKeysOfferEveryCommandInItsPlace()
    {
        CMainFrame& f = Frame();
        QStringList bar;
        for (const QAction* menu : f.menuBar()->actions())
            bar << menu->text();
        QCOMPARE(bar, (QStringList{QStringLiteral("&File"), QStringLiteral("&View"), QStringLiteral("&Help")}));

        CompareLines(Describe(f.menuBar()->actions()),
                     {QStringLiteral("&File"),
                      QStringLiteral("  &Add... [Ctrl+N] <add>"),
                      QStringLiteral("  Add &Pack... <add-pack>"),
                      QStringLiteral("  &Duplicate <duplicate>"),
                      QStringLiteral("  &Edit... [F2] <edit>"),
                      QStringLiteral("  &Delete <delete>"),
                      QStringLiteral("  -"),
                      QStringLiteral("  &Check Link [F5] <check>"),
                      QStringLiteral("  Check A&ll Links <check-all>"),
                      QStringLiteral("  &Renew Links <renew>"),
                      QStringLiteral("  Add New &Partner... [Ctrl+T] <partner-add>"),
                      QStringLiteral("  Find duplicates... <find>"),
                      QStringLiteral("  -"),
                      QStringLiteral("  Import &from Excel... [Ctrl+I] <import-excel>"),
                      QStringLiteral("  Export &to ..."),
                      QStringLiteral("    &Text file... <export-text>"),
                      QStringLiteral("    &Excel workbook... <export-excel>"),
                      QStringLiteral("  -"),
                      QStringLiteral("  E&xit"),
                      QStringLiteral("&View"),
                      QStringLiteral("  &Partner List... [F8] <partner-list>"),
                      QStringLiteral("  &Options... [Alt+F7] <options>"),
                      QStringLiteral("  -"),
                      QStringLiteral("  &History Pane toggle"),
                      QStringLiteral("&Help"),
                      QStringLiteral("  &Help [F1] <help>"),
                      QStringLiteral("  Product &Web Site <website>"),
                      QStringLiteral("  Email to &Support <email-support>"),
                      QStringLiteral("  -"),
                      QStringLiteral("  &About <about>")});

        // The rows' menu is the window's own popup, not one of the menu bar's.
        const QList<QMenu*> popups = f.findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly);
        QCOMPARE(popups.size(), 1);
        CompareLines(Describe(popups.front()->actions()),
                     {QStringLiteral("&Add... [Ctrl+N] <add>"), QStringLiteral("Add &Pack... <add-pack>"),
                      QStringLiteral("&Duplicate <duplicate>"), QStringLiteral("&Edit... [F2] <edit>"),
                      QStringLiteral("&Delete <delete>"), QStringLiteral("-"),
                      QStringLiteral("&Check Link [F5] <check>"), QStringLiteral("Check A&ll Links <check-all>"),
                      QStringLiteral("&Renew Links <renew>"), QStringLiteral("-"),
                      QStringLiteral("View Link &Source... <view-source>"), QStringLiteral("Copy to Clipboard <copy>"),
                      QStringLiteral("External Links Info... <external-links>"), QStringLiteral("-"),
                      QStringLiteral("Open in browser <open-browser>")});

        // Find and Find Next are in no menu: the window holds them for their keys.
        CompareLines(Describe(f.actions()),
                     {QStringLiteral("Find... [Ctrl+F] <find>"), QStringLiteral("Find Next [F3]")});

        const QToolBar* toolBar = f.findChild<QToolBar*>(QStringLiteral("MainToolBar"));
        QVERIFY(toolBar);
        QStringList tools;
        for (QAction* action : toolBar->actions()) {
            if (action->isSeparator())
                tools << QStringLiteral("-");
            else if (auto* box = qobject_cast<QWidgetAction*>(action))
                tools << QStringLiteral("[%1]").arg(box->defaultWidget()->accessibleName());
            else
                tools << QStringLiteral("%1 <%2>").arg(action->iconText(), IconName(action->icon()));
        }
        QCOMPARE(tools, (QStringList{QStringLiteral("Add <add>"), QStringLiteral("Add Pack <add-pack>"),
                                     QStringLiteral("-"), QStringLiteral("Edit <edit>"), QStringLiteral("-"),
                                     QStringLiteral("Check <check>"), QStringLiteral("Check All <check-all>"),
                                     QStringLiteral("-"), QStringLiteral("Options <options>"), QStringLiteral("-"),
                                     QStringLiteral("[Project filter]"), QStringLiteral("-"),
                                     QStringLiteral("[Status filter]"), QStringLiteral("[Partner filter]")}));
    }

    void deleteAsksFirst()
    {
        AddLinks(3);
        Select({0, 2});
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
        Frame().RunCommand(CMainFrame::Command::Delete);
        QCOMPARE(TestHooks::TakeMessageBoxTexts(),
                 QStringList{QStringLiteral("Are you sure you want to delete selected link(s)?\n\n"
                                            "2 links will be deleted.")});
        QCOMPARE(m_app->GetWorkspace().GetDatabase().GetLinks()->GetCount(), std::size_t(3));

        Select({0, 2});
        const std::string kept = Frame().GetView()->GetLink(1)->GetFromPage();
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        Frame().RunCommand(CMainFrame::Command::Delete);
        QCOMPARE(m_app->GetWorkspace().GetDatabase().GetLinks()->GetCount(), std::size_t(1));
        QCOMPARE(Frame().GetView()->GetRowCount(), 1);
        QCOMPARE(m_app->GetWorkspace().GetDatabase().GetLinks()->GetLinks()[0]->GetFromPage(), kept);
    }

    void checkLinkRunsTheSelectedLinksOnly()
    {
        AddLinks(3);
        Select({1});
        const CLink* chosen = Frame().GetView()->GetLink(1);
        Frame().RunCommand(CMainFrame::Command::CheckLink); // the progress dialog closes by itself
        for (const CLink* link : m_app->GetWorkspace().GetDatabase().GetLinks()->GetLinks())
            QCOMPARE(link->GetStatus(), uint32_t(link == chosen ? StatusCantOpen : StatusOk));
    }

    void checkAllAsksFirst()
    {
        AddLinks(2);
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
        Frame().RunCommand(CMainFrame::Command::CheckAll);
        for (CLink* link : m_app->GetWorkspace().GetDatabase().GetLinks()->GetLinks())
            QCOMPARE(link->GetStatus(), uint32_t(StatusOk));
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        Frame().RunCommand(CMainFrame::Command::CheckAll);
        for (CLink* link : m_app->GetWorkspace().GetDatabase().GetLinks()->GetLinks())
            QCOMPARE(link->GetStatus(), uint32_t(StatusCantOpen));
    }

    void copyAndTotalsFollowTheRows()
    {
        AddLinks(3);
        Select({0, 1});
        const CLink* a = Frame().GetView()->GetLink(0);
        const CLink* b = Frame().GetView()->GetLink(1);
        const CLink* other = Frame().GetView()->GetLink(2);
        Frame().RunCommand(CMainFrame::Command::Copy);
        const QString copied = QGuiApplication::clipboard()->text();
        QVERIFY2(copied.contains(QString::fromStdString(a->GetFromPage())) &&
                     copied.contains(QString::fromStdString(b->GetFromPage())) &&
                     !copied.contains(QString::fromStdString(other->GetFromPage())),
                 qPrintable(copied));
        QCOMPARE(copied.count(QLatin1Char('\n')), 2);
        QVERIFY2(Frame().GetTotalPaneText().startsWith(QStringLiteral("Total number of links : 3     Total cost : ")),
                 qPrintable(Frame().GetTotalPaneText()));
        const int cost = a->GetCostPerPeriod() + b->GetCostPerPeriod();
        const int price = a->GetCostPerMonth() + b->GetCostPerMonth();
        QCOMPARE(Frame().GetSelectedPaneText(), QStringLiteral("Selected links : 2     Selected cost : %1     "
                                                               "Selected price : %2")
                                                    .arg(cost)
                                                    .arg(price));
    }

    void aHandedOverRunKeepsChecksAndTheRefreshOut()
    {
        // Takes every request and never answers: the run lasts until the server goes away.
        auto silent = std::make_unique<QTcpServer>();
        QVERIFY(silent->listen(QHostAddress::LocalHost));
        const std::string site = "http://127.0.0.1:" + std::to_string(silent->serverPort());
        CLinksManager* links = m_app->GetWorkspace().GetDatabase().GetLinks();
        for (int i = 0; i < 3; ++i) {
            CLink* link = links->AddNewLink();
            link->SetFromPage(site + "/page" + std::to_string(i) + ".html");
            link->SetToPage("http://mine.localhost/");
            link->SetStatus(StatusCantOpen); // what the run will find again: no letter to send
        }
        Frame().AttachDatabase();
        m_app->GetWorkspace().GetOptions().SetNotifyStatusChanges(true); // else the run does nothing
        QTRY_VERIFY(!Frame().IsDateRefreshRunning());                    // the one of the start
        Select({0});
        QAction* checkAll = Frame().GetAction(CMainFrame::Command::CheckAll);
        QAction* checkLink = Frame().GetAction(CMainFrame::Command::CheckLink);
        QVERIFY(checkAll->isEnabled() && checkLink->isEnabled());

        Frame().OnCheckAllRequested();
        QVERIFY(Frame().IsScheduledRunActive());
        QVERIFY(!checkAll->isEnabled());
        QVERIFY(!checkLink->isEnabled());
        // Its workers read the records: nothing may change them meanwhile.
        for (CMainFrame::Command id :
             {CMainFrame::Command::Add, CMainFrame::Command::AddPack, CMainFrame::Command::Edit,
              CMainFrame::Command::Duplicate, CMainFrame::Command::Renew, CMainFrame::Command::AddPartner,
              CMainFrame::Command::PartnerList})
            QVERIFY2(!Frame().GetAction(id)->isEnabled(), qPrintable(QVariant::fromValue(id).toString()));
        QTRY_VERIFY(IsCheckRunActive()); // its workers are at the silent server
        Frame().StartDateRefresh();      // as timer 4 would
        QVERIFY(!Frame().IsDateRefreshRunning());
        Frame().RunCommand(CMainFrame::Command::CheckAll); // ignored: no question asked
        QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList());

        silent.reset(); // every fetch fails now
        QTRY_VERIFY_WITH_TIMEOUT(!Frame().IsScheduledRunActive(), 20000);
        QVERIFY(checkAll->isEnabled());
        Select({0}); // the list was filled again
        QVERIFY(checkLink->isEnabled());
        for (const CLink* link : links->GetLinks())
            QCOMPARE(link->GetStatus(), uint32_t(StatusCantOpen));
        Frame().StartDateRefresh();
        QVERIFY(Frame().IsDateRefreshRunning());
        QTRY_VERIFY(!Frame().IsDateRefreshRunning());
    }

    // The date refresh's end reaches the window on its own: the list shows what the dates changed
    // and the change is mailed. Closing abandons a letter the server keeps waiting at once.
    void theDateRefreshShowsAndMailsItsChangesAndClosingAbandonsTheLetter()
    {
        // Takes the connection and never greets: the letter waits for the reply time-out.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        COptions& options = m_app->GetWorkspace().GetOptions();
        options.SetNotifyStatusChanges(true);
        options.SetSmtpServer("127.0.0.1");
        options.SetSmtpPort(silent.serverPort());
        options.SetMailTo("me@example.com");
        options.SetMailFrom("orvex@example.com");
        QTRY_VERIFY(!Frame().IsDateRefreshRunning()); // the one of the start
        AddLinks(2);
        CLink* lapsed = m_app->GetWorkspace().GetDatabase().GetLinks()->GetLinks().front();
        lapsed->SetLastPaymentDate(OleDateTime::Today() - OleDateTimeSpan(400.0));
        lapsed->SetPeriod(OleDateTimeSpan(365.0));
        QSignalSpy shown(Frame().GetView()->GetList()->model(), &QAbstractItemModel::dataChanged);

        Frame().StartDateRefresh(); // as timer 4 would
        QVERIFY(Frame().IsDateRefreshRunning());
        QTRY_VERIFY(!Frame().IsDateRefreshRunning());
        QCOMPARE(lapsed->GetStatus(), uint32_t(StatusExpired));
        QVERIFY2(!shown.isEmpty(), "the list was not told of the refreshed dates");
        QVERIFY2(QTest::qWaitFor([&] { return silent.hasPendingConnections(); }, 10000), "the change was not mailed");

        QElapsedTimer clock;
        clock.start();
        QVERIFY(Frame().close());
        QVERIFY2(clock.elapsed() < 10000, "closing waited for the silent mail server");
    }

    // The partner the list is narrowed to is deleted in the Partners dialog: the filter box falls
    // back to every partner, and the partner's links stay, showing no partner.
    void deletingTheFilteredPartnerShowsEveryLinkAgain()
    {
        AddLinks(3);
        CPartnersManager* partners = m_app->GetWorkspace().GetDatabase().GetPartners();
        const CPartner* acme = partners->AddPartner("Acme");
        const CPartner* globex = partners->AddPartner("Globex");
        const int32_t acmeId = acme->GetId();
        const std::vector<CLink*> links = m_app->GetWorkspace().GetDatabase().GetLinks()->GetLinks();
        links[0]->SetPartnerId(acmeId);
        links[1]->SetPartnerId(acmeId);
        links[2]->SetPartnerId(globex->GetId());
        Frame().RefreshFilters();
        QComboBox* box = nullptr;
        for (QComboBox* candidate : Frame().findChildren<QComboBox*>())
            if (candidate->accessibleName() == QStringLiteral("Partner filter"))
                box = candidate;
        QVERIFY(box);
        const int acmeEntry = box->findText(QStringLiteral("Acme"));
        QVERIFY(acmeEntry > 0);
        box->setCurrentIndex(acmeEntry);
        emit box->activated(acmeEntry);
        QCOMPARE(Frame().GetView()->GetRowCount(), 2);

        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<CPartnersListDlg*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            for (int row = 0; row < dialog->GetModel()->rowCount(); ++row)
                if (dialog->GetModel()->GetPartner(row)->GetId() == acmeId)
                    dialog->GetList()->SelectOnly(row);
            TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
            QTest::keyClick(dialog->GetList(), Qt::Key_Delete);
            dialog->close();
        });
        Frame().RunCommand(CMainFrame::Command::PartnerList);
        const QStringList asked = TestHooks::TakeMessageBoxTexts();
        QVERIFY2(asked.size() == 1 && asked[0].contains(QStringLiteral(" 2 links name the selected partner(s)")),
                 qPrintable(asked.join(QLatin1Char('|'))));
        QCOMPARE(partners->GetCount(), std::size_t(1));
        QCOMPARE(box->currentIndex(), 0);
        QCOMPARE(box->findText(QStringLiteral("Acme")), -1);
        QCOMPARE(Frame().GetView()->GetRowCount(), 3);
        QCOMPARE(links[0]->GetPartnerId(), acmeId);
    }

    // A second "/check" arriving while a dialog changes links is taken on, but its run waits for
    // the dialog; and no date refresh starts under an open dialog.
    void aHandOverDuringADialogRunsWhenItCloses()
    {
        AddLinks(2);
        m_app->GetWorkspace().GetOptions().SetNotifyStatusChanges(true);
        QTRY_VERIFY(!Frame().IsDateRefreshRunning());
        bool seen = false;
        QTimer::singleShot(0, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            QVERIFY(dialog);
            QVERIFY(Frame().OnCheckAllRequested()); // answered "ok"
            QVERIFY(!Frame().IsScheduledRunActive());
            Frame().StartDateRefresh(); // as timer 4 would
            QVERIFY(!Frame().IsDateRefreshRunning());
            seen = true;
            dialog->close();
        });
        Frame().RunCommand(CMainFrame::Command::PartnerList);
        QVERIFY(seen);
        QVERIFY(Frame().IsScheduledRunActive());
        QTRY_VERIFY_WITH_TIMEOUT(!Frame().IsScheduledRunActive(), 20000);
    }

    // A partner picked from the completion of a typed part of its name narrows the list as an
    // entry chosen from the box's list does.
    void aCompletedPartnerNarrowsTheList()
    {
        AddLinks(3);
        CPartnersManager* partners = m_app->GetWorkspace().GetDatabase().GetPartners();
        const CPartner* globex = partners->AddPartner("Globex Corporation");
        partners->AddPartner("Acme");
        const std::vector<CLink*> links = m_app->GetWorkspace().GetDatabase().GetLinks()->GetLinks();
        links[1]->SetPartnerId(globex->GetId());
        Frame().RefreshFilters();
        QComboBox* box = nullptr;
        for (QComboBox* candidate : Frame().findChildren<QComboBox*>())
            if (candidate->accessibleName() == QStringLiteral("Partner filter"))
                box = candidate;
        QVERIFY(box && box->lineEdit() && box->completer());
        Frame().resize(1400, 700); // room for the whole toolbar
        Activate(&Frame());
        box->setFocus();
        QTRY_VERIFY(box->lineEdit()->hasFocus());
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), QStringLiteral("corp"));
        QCompleter* completer = box->completer();
        QTRY_VERIFY(completer->popup()->isVisible());
        QCOMPARE(completer->completionCount(), 1);
        completer->popup()->setCurrentIndex(completer->completionModel()->index(0, 0));
        QTest::keyClick(completer->popup(), Qt::Key_Return);
        QCOMPARE(Frame().GetView()->GetRowCount(), 1);
        QCOMPARE(Frame().GetView()->GetLink(0), links[1]);
        QCOMPARE(box->currentText(), QStringLiteral("Globex Corporation"));
        QCOMPARE(partners->GetPartnerFilter(), globex->GetId());
    }

    // Made as small as it goes, the window keeps its toolbar, the list's header with a few rows and
    // the status bar with both totals whole, none over another.
    void theSmallestWindowKeepsItsBarsApart()
    {
        AddLinks(2);
        CMainFrame& f = Frame();
        const QSize before = f.minimumSize();
        AddLinks(40); // longer totals, still narrower than the screen
        QTRY_VERIFY(f.minimumWidth() > before.width());
        f.resize(1, 1);
        QCOMPARE(f.size(), f.minimumSize());
        f.layout()->activate();
        const QToolBar* bar = f.findChild<QToolBar*>(QStringLiteral("MainToolBar"));
        QVERIFY(bar);
        const QRect barRect = bar->geometry();
        const QRect listRect(f.GetView()->mapTo(&f, QPoint(0, 0)), f.GetView()->size());
        const QRect statusRect = f.statusBar()->geometry();
        QVERIFY2(barRect.bottom() < listRect.top() && listRect.bottom() < statusRect.top() &&
                     statusRect.bottom() < f.height(),
                 qPrintable(QStringLiteral("toolbar %1-%2, list %3-%4, status bar %5-%6 of %7")
                                .arg(barRect.top())
                                .arg(barRect.bottom())
                                .arg(listRect.top())
                                .arg(listRect.bottom())
                                .arg(statusRect.top())
                                .arg(statusRect.bottom())
                                .arg(f.height())));
        const CLinksListCtrl* list = f.GetView()->GetList();
        QVERIFY(list->viewport()->height() >= 2 * list->verticalHeader()->defaultSectionSize());
        for (const QLabel* pane : f.statusBar()->findChildren<QLabel*>())
            QVERIFY2(pane->width() >= pane->fontMetrics().horizontalAdvance(pane->text()), qPrintable(pane->text()));
    }
};

QTEST_MAIN(MainFrameTest)
#include "MainFrameTest.moc"
