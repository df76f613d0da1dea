// What the window tells about a check run: the progress dialog while the workers are at a local
// site, the status bar line and the selection afterwards, Stop, a run that could not reach its
// proxy, the question of Check All, and the summary line for every status it can name.
#include "DialogTesting.h"
#include "TestProgram.h"
#include "core/fetch/CheckSettings.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/records/OleDateTime.h"
#include "core/runs/CheckRuns.h"
#include "fakes/FakeServers.h"
#include "gui/mainwnd/CheckSummary.h"
#include "gui/mainwnd/LinksCheckProgressDlg.h"
#include "gui/mainwnd/LinksView.h"
#include "gui/mainwnd/MainFrame.h"
#include "gui/widgets/MessageBox.h"
#include "gui/widgets/TestHooks.h"
#include "unit/TestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <memory>
#include <set>
#include <vector>

class CheckRunWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::NoProxyEnvironment> m_env;
    std::unique_ptr<fakes::TempDirectory> m_dir;
    fakes::FakeHttpServer m_server;
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<CORXApp> m_app;

    void Put(const std::string& rel, const std::string& bytes)
    {
        const std::string path = m_dir->File("www/" + rel);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        testsupport::WriteBytes(path, bytes);
    }
    std::string Url(const std::string& path) const { return m_server.Url("partner.localhost", path); }
    std::string Slow(int ms, const std::string& page) const
    {
        return Url("/_slow?ms=" + std::to_string(ms) + "&path=" + page);
    }

    void StartProgram()
    {
        m_home = std::make_unique<QTemporaryDir>();
        m_app = StartTestProgram(*m_home);
        QVERIFY(m_app);
        QTRY_VERIFY(!Frame().IsDateRefreshRunning()); // the one of the start
    }
    CMainFrame& Frame() { return *m_app->GetMainFrame(); }

    // A link to my site with any anchor text, paid today for a year: a page that carries it is Ok.
    CLink* AddLink(const std::string& fromPage, uint32_t status)
    {
        CLink* link = m_app->GetWorkspace().GetDatabase().GetLinks()->AddNewLink();
        link->SetProject("Shop");
        link->SetFromPage(fromPage);
        link->SetToPage("http://mine.localhost/");
        link->SetAnchor("*");
        link->SetLastPaymentDate(OleDateTime::Today());
        link->SetPeriod(OleDateTimeSpan(365.0));
        link->SetStatus(status);
        return link;
    }

    std::set<const CLink*> SelectedLinks()
    {
        std::set<const CLink*> links;
        for (int row : Frame().GetView()->GetSelectedRows())
            links.insert(Frame().GetView()->GetLink(row));
        return links;
    }

    QString StatusBarText() { return Frame().statusBar()->currentMessage(); }

private slots:
    void initTestCase()
    {
        m_env = std::make_unique<testsupport::NoProxyEnvironment>();
        m_dir = std::make_unique<fakes::TempDirectory>("orvex-checkrun");
        Put("partner.localhost/good.html", "<a href=\"http://mine.localhost/\">mine</a>\n");
        Put("partner.localhost/bad.html", "<p>The link was taken down.</p>\n");
        m_server.Start(m_dir->File("www"));
    }

    void cleanup()
    {
        if (m_app)
            m_app->ExitInstance();
        m_app.reset();
        m_home.reset();
    }

    void progressFollowsTheRunAndTheEndIsSummed()
    {
        StartProgram();
        CLink* fixed = AddLink(Url("/good.html"), StatusNotPresent);
        CLink* lost = AddLink(Url("/bad.html"), StatusOk);
        CLink* same = AddLink(Url("/good.html"), StatusOk);
        const std::string slowPage = Slow(5000, "/good.html");
        CLink* slow = AddLink(slowPage, StatusOk);
        CLink* gone = AddLink("http://127.0.0.1:9/page.html", StatusOk); // nobody listens there
        Frame().AttachDatabase();

        bool seen = false;
        WhenShown<CLinksCheckProgressDlg>([&](CLinksCheckProgressDlg* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Progress..."));
            // Four links end at once; the slow page keeps its worker for seconds.
            QTRY_COMPARE_WITH_TIMEOUT(dialog->GetCheckedText(), QStringLiteral("4 of 5 checked"), 4000);
            QCOMPARE(dialog->GetPageText(), QString::fromStdString(slowPage));
            const auto* pageLabel = dialog->findChild<QLabel*>(QStringLiteral("pageBeingChecked"));
            QVERIFY(pageLabel && pageLabel->text().contains(QStringLiteral("partner.localhost")));
            QCOMPARE(dialog->GetProblemsText(), QStringLiteral("Problems found: 2"));
            QVERIFY(m_server.CountRequests("/_slow?ms=5000&path=/good.html") == 1);
            seen = true;
        });
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        Frame().RunCommand(CMainFrame::Command::CheckAll);
        QVERIFY(seen);

        QCOMPARE(fixed->GetStatus(), uint32_t(StatusOk));
        QCOMPARE(lost->GetStatus(), uint32_t(StatusNotPresent));
        QCOMPARE(same->GetStatus(), uint32_t(StatusOk));
        QCOMPARE(slow->GetStatus(), uint32_t(StatusOk));
        QCOMPARE(gone->GetStatus(), uint32_t(StatusCantOpen));
        QCOMPARE(StatusBarText(), QStringLiteral("Checked 5 of 5 links: 3 Ok, 1 Not present, 1 Can't open page"));
        QCOMPARE(SelectedLinks(), (std::set<const CLink*>{fixed, lost, gone}));
        // The run lasted seconds: a box says the same, and where the changed links are.
        const QStringList shown = TestHooks::TakeMessageBoxTexts();
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown[0].startsWith(QStringLiteral("Are you sure you want to check all links?")),
                 qPrintable(shown[0]));
        QCOMPARE(shown[1], QStringLiteral("Checked 5 of 5 links: 3 Ok, 1 Not present, 1 Can't open page\n\n"
                                          "3 links changed their status; they are selected in the list."));
    }

    // Only pages to try again are left: the dialog says it waits for them instead of standing still.
    void theWaitForASecondTryIsSaid()
    {
        StartProgram();
        CheckSettings settings = GetCheckSettings();
        settings.retryMinSeconds = 2;
        SetCheckSettings(settings);
        CLink* busy = AddLink(Url("/_status/503"), StatusOk);
        Frame().AttachDatabase();

        bool seen = false;
        WhenShown<CLinksCheckProgressDlg>([&](CLinksCheckProgressDlg* dialog) {
            const auto* pageLabel = dialog->findChild<QLabel*>(QStringLiteral("pageBeingChecked"));
            QVERIFY(pageLabel);
            QTRY_COMPARE_WITH_TIMEOUT(pageLabel->text(), QStringLiteral("Waiting to try 1 page again"), 1500);
            QCOMPARE(dialog->GetCheckedText(), QStringLiteral("0 of 1 checked"));
            seen = true;
        });
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        Frame().RunCommand(CMainFrame::Command::CheckAll);
        QVERIFY(seen);
        QCOMPARE(busy->GetStatus(), uint32_t(StatusCantOpen));
        QCOMPARE(m_server.CountRequests("/_status/503"), 2);
        TestHooks::TakeMessageBoxTexts();
    }

    void aShortRunSaysItInTheStatusBarOnly()
    {
        StartProgram();
        AddLink(Url("/good.html"), StatusOk);
        CLink* lost = AddLink(Url("/bad.html"), StatusOk);
        Frame().AttachDatabase();
        Frame().GetView()->SelectOnly(Frame().GetView()->GetModel()->RowOf(lost));
        Frame().RunCommand(CMainFrame::Command::CheckLink);
        QCOMPARE(lost->GetStatus(), uint32_t(StatusNotPresent));
        QCOMPARE(StatusBarText(), QStringLiteral("Checked 1 of 1 link: 1 Not present"));
        QCOMPARE(SelectedLinks(), (std::set<const CLink*>{lost}));
        QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList());
    }

    // The user's own proxy refuses every connection: the list stays as it was and the window says
    // why, in the status bar and in a box, instead of a summary of pages nobody could open.
    void aRunThatCannotReachItsProxyChangesNothingAndSaysWhy()
    {
        StartProgram();
        const int port = fakes::FreePort();
        CheckSettings settings = GetCheckSettings();
        settings.useProxy = true;
        settings.proxyHost = "127.0.0.1";
        settings.proxyPort = port;
        SetCheckSettings(settings);
        CLink* ok = AddLink(Url("/good.html"), StatusOk);
        CLink* missing = AddLink(Url("/bad.html"), StatusNotPresent);
        Frame().AttachDatabase();
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        Frame().RunCommand(CMainFrame::Command::CheckAll);

        QCOMPARE(ok->GetStatus(), uint32_t(StatusOk));
        QCOMPARE(missing->GetStatus(), uint32_t(StatusNotPresent));
        const QString why =
            QStringLiteral("The proxy 127.0.0.1:%1 refused the connection; nothing was changed").arg(port);
        QCOMPARE(StatusBarText(), why);
        const QStringList shown = TestHooks::TakeMessageBoxTexts();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[1], why);
    }

    void stopSaysHowManyWereChecked()
    {
        StartProgram();
        // Five workers on the one test site at once, more than a partner is asked for by default.
        CheckSettings settings = GetCheckSettings();
        settings.perSite = 5;
        SetCheckSettings(settings);
        std::vector<CLink*> links;
        for (int i = 0; i < 2; ++i)
            links.push_back(AddLink(Url("/good.html"), StatusNotPresent));
        for (int i = 0; i < 10; ++i)
            links.push_back(AddLink(Slow(4000, "/good.html"), StatusNotPresent));
        Frame().AttachDatabase();

        WhenShown<CLinksCheckProgressDlg>([&](CLinksCheckProgressDlg* dialog) {
            QTRY_COMPARE_WITH_TIMEOUT(dialog->GetCheckedText(), QStringLiteral("2 of 12 checked"), 3000);
            Press(Qt::Key_Escape); // Stop
        });
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        Frame().RunCommand(CMainFrame::Command::CheckAll);

        // The workers finished the five slow links they held and took no more.
        std::set<const CLink*> checked;
        for (const CLink* link : links)
            if (link->GetStatus() == StatusOk)
                checked.insert(link);
        QCOMPARE(checked.size(), std::size_t(7));
        QCOMPARE(StatusBarText(), QStringLiteral("Checked 7 of 12 links (stopped): 7 Ok"));
        QCOMPARE(SelectedLinks(), checked);
        const QStringList shown = TestHooks::TakeMessageBoxTexts();
        QCOMPARE(shown.size(), 2); // the question and, after seconds of waiting, the summary box
        QVERIFY2(shown[1].startsWith(QStringLiteral("Checked 7 of 12 links (stopped): 7 Ok\n\n")),
                 qPrintable(shown[1]));
    }

    void checkAllNamesTheWholeDatabase()
    {
        StartProgram();
        CPartnersManager* partners = m_app->GetWorkspace().GetDatabase().GetPartners();
        const int32_t acme = partners->AddPartner("Acme")->GetId();
        const int32_t globex = partners->AddPartner("Globex")->GetId();
        for (int i = 0; i < 3; ++i)
            AddLink(Url("/good.html"), StatusOk)->SetPartnerId(i == 0 ? acme : globex);
        Frame().AttachDatabase();
        // The list shows one link; the command checks all three.
        QComboBox* box = nullptr;
        for (QComboBox* candidate : Frame().findChildren<QComboBox*>())
            if (candidate->accessibleName() == QStringLiteral("Partner filter"))
                box = candidate;
        QVERIFY(box);
        const int entry = box->findText(QStringLiteral("Acme"));
        QVERIFY(entry > 0);
        box->setCurrentIndex(entry);
        emit box->activated(entry);
        QCOMPARE(Frame().GetView()->GetRowCount(), 1);

        TestHooks::SetNextMessageBoxAnswer(QMessageBox::No);
        Frame().RunCommand(CMainFrame::Command::CheckAll);
        QCOMPARE(TestHooks::TakeMessageBoxTexts(),
                 QStringList{QStringLiteral("Are you sure you want to check all links?\n\n"
                                            "All 3 links of the database are checked, whatever the filters show.")});
        QVERIFY(!StatusBarText().startsWith(QStringLiteral("Checked"))); // No: nothing ran
    }

    void checkAllOnAnEmptyDatabaseSaysSo()
    {
        StartProgram();
        QVERIFY(Frame().GetAction(CMainFrame::Command::CheckAll)->isEnabled());
        Frame().RunCommand(CMainFrame::Command::CheckAll); // no question, no progress dialog
        QCOMPARE(TestHooks::TakeMessageBoxTexts(),
                 QStringList{QStringLiteral("There is nothing to check: the database holds no links.")});
        QVERIFY(!StatusBarText().startsWith(QStringLiteral("Checked")));
    }

    // Every status the summary names, alone and all together in their fixed order.
    void summaryNamesEachStatus_data()
    {
        QTest::addColumn<QList<uint>>("statuses"); // the new statuses of the checked links
        QTest::addColumn<int>("total");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<QString>("expected");
        const std::pair<uint32_t, const char*> names[] = {
            {StatusOk, "Ok"},
            {StatusExpiring, "Expiring"},
            {StatusExpired, "Expired"},
            {StatusNotPresent, "Not present"},
            {StatusInvalidText, "Invalid text"},
            {StatusNofollow, "nofollow"},
            {StatusRobots, "robots.txt"},
            {StatusCantOpen, "Can't open page"},
        };
        for (const auto& [status, name] : names)
            QTest::newRow(name) << QList<uint>{status} << 1 << false
                                << QStringLiteral("Checked 1 of 1 link: 1 %1").arg(QString::fromLatin1(name));
        QTest::newRow("every status, given backwards")
            << QList<uint>{StatusCantOpen, StatusRobots,   StatusNofollow, StatusInvalidText, StatusNotPresent,
                           StatusExpired,  StatusExpiring, StatusOk,       StatusOk,          StatusCantOpen}
            << 10 << false
            << QStringLiteral("Checked 10 of 10 links: 2 Ok, 1 Expiring, 1 Expired, 1 Not present, 1 Invalid text, "
                              "1 nofollow, 1 robots.txt, 2 Can't open page");
        QTest::newRow("left without a status")
            << QList<uint>{StatusOk, StatusNone, StatusOk | StatusNofollow} << 3 << false
            << QStringLiteral("Checked 3 of 3 links: 1 Ok, 2 without a status");
        QTest::newRow("stopped before the first")
            << QList<uint>{} << 40 << true << QStringLiteral("Checked 0 of 40 links (stopped).");
        QTest::newRow("stopped") << QList<uint>{StatusNotPresent, StatusOk} << 40 << true
                                 << QStringLiteral("Checked 2 of 40 links (stopped): 1 Ok, 1 Not present");
        QTest::newRow("nothing to check") << QList<uint>{} << 0 << false << QStringLiteral("Checked 0 of 0 links.");
    }

    void summaryNamesEachStatus()
    {
        QFETCH(QList<uint>, statuses);
        QFETCH(int, total);
        QFETCH(bool, stopped);
        QFETCH(QString, expected);
        // The checked links come first, the ones the run did not reach after them.
        std::vector<std::unique_ptr<CLink>> owned;
        std::vector<CLink*> links;
        std::vector<LinkCheckOutcome> outcomes(static_cast<std::size_t>(total));
        for (int i = 0; i < total; ++i) {
            owned.push_back(std::make_unique<CLink>());
            links.push_back(owned.back().get());
            if (i < statuses.size()) {
                owned.back()->SetStatus(statuses[i]);
                outcomes[static_cast<std::size_t>(i)].checked = true;
                outcomes[static_cast<std::size_t>(i)].oldStatus = StatusOk;
            } else {
                owned.back()->SetStatus(StatusExpired); // untouched: no count
            }
        }
        const CheckRunSummary summary = SummarizeCheckRun(links, outcomes, stopped);
        QCOMPARE(CheckSummaryText(summary), expected);
        // Changed are the checked links whose status is not the Ok they had.
        std::size_t changed = 0;
        for (uint status : statuses)
            changed += status != StatusOk;
        QCOMPARE(summary.changedLinks.size(), changed);
    }

    // The box says where the changed links went when the filters hide some of them.
    void summaryBoxSaysWhereTheChangedLinksAre()
    {
        CLink a, b;
        CheckRunSummary summary;
        summary.total = summary.checked = 2;
        summary.statusCounts = {{StatusNotPresent, 2}};
        summary.changedLinks = {&a, &b};
        const QString head = QStringLiteral("Checked 2 of 2 links: 2 Not present\n\n");
        QCOMPARE(CheckSummaryBoxText(summary, 1),
                 head +
                     QStringLiteral("2 links changed their status; the 1 the filters show are selected in the list."));
        QCOMPARE(CheckSummaryBoxText(summary, 0),
                 head + QStringLiteral("2 links changed their status; the filters hide them."));
        summary.changedLinks.clear();
        QCOMPARE(CheckSummaryBoxText(summary, 0), head + QStringLiteral("No link changed its status."));
    }
};

QTEST_MAIN(CheckRunWindowTest)
#include "CheckRunWindowTest.moc"
