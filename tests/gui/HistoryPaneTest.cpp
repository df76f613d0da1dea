// The history pane under the list: what it says about the selected link for every status, and the
// report its button copies.
#include "TestProgram.h"
#include "core/history/HistoryStore.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/records/OleDateTime.h"
#include "fakes/FakeServers.h"
#include "gui/mainwnd/LinksView.h"
#include "gui/mainwnd/MainFrame.h"
#include "gui/reports/LinkHistoryPane.h"
#include "gui/widgets/MessageBox.h"
#include "gui/widgets/TestHooks.h"
#include "unit/TestSupport.h"

#include <QAction>
#include <QClipboard>
#include <QDate>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>
#include <filesystem>
#include <memory>

namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kNow = 1796644800; // 2026-12-07 12:00 UTC

CLink MakeLink()
{
    CLink link;
    link.SetFromPage("http://partner.example/links.html");
    link.SetToPage("http://mine.example/");
    link.SetProject("Shop");
    return link;
}

} // namespace

class HistoryPaneTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
    }

    void thePaneSaysWhatTheHistoryHolds_data()
    {
        QTest::addColumn<uint>("status");
        for (uint32_t status = StatusOk; status <= StatusCantOpen; status <<= 1)
            QTest::newRow(GetStatusName(status).c_str()) << uint(status);
    }
    void thePaneSaysWhatTheHistoryHolds()
    {
        QFETCH(uint, status);
        CHistoryStore store(m_dir.filePath(QStringLiteral("%1.history").arg(status)).toStdString());
        const CLink link = MakeLink();
        const std::string key = HistoryKey(link.GetFromPage(), link.GetToPage(), link.GetProject());
        HistoryEntry older;
        older.time = kNow - 20 * kDay;
        older.status = status == StatusOk ? StatusNotPresent : StatusOk;
        older.evidence = "older evidence";
        HistoryEntry last;
        last.time = kNow - 3 * kDay;
        last.status = status;
        last.httpStatus = 200;
        last.evidence = "evidence of " + GetStatusName(status);
        store.Record(key, older);
        store.Record(key, last);
        store.Flush();

        CLinkHistoryPane pane;
        pane.SetStore(&store);
        pane.ShowLink(&link, kNow);
        QCOMPARE(pane.GetSinceText(),
                 QString::fromStdString(GetStatusName(status)) + QStringLiteral(" since 2026-12-04 (3 days)"));
        QCOMPARE(pane.GetEvidenceText(), QStringLiteral("Last check of the page, 2026-12-04 12:00 (HTTP 200):\n") +
                                             QString::fromStdString(last.evidence));
        // The strip: unknown, then the older status, then this one, up to now.
        const std::vector<StatusSpan>& spans = pane.GetStrip()->GetSpans();
        QCOMPARE(int(spans.size()), 3);
        QCOMPARE(spans.back().status, uint32_t(status));
        QCOMPARE(spans.back().end, kNow);

        pane.findChild<QPushButton*>(QStringLiteral("copyReportButton"))->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), pane.GetReportText());
        QVERIFY(pane.GetReportText().contains(QString::fromStdString(last.evidence)));
    }

    void withoutHistoryThePaneSaysWhy()
    {
        CLinkHistoryPane pane;
        QVERIFY(!pane.findChild<QPushButton*>(QStringLiteral("copyReportButton"))->isEnabled());
        const CLink link = MakeLink();
        pane.ShowLink(&link, kNow);
        QCOMPARE(pane.GetSinceText(), QStringLiteral("Never checked"));
        QCOMPARE(pane.GetEvidenceText(), QStringLiteral("There is no check history."));

        const QString damaged = m_dir.filePath(QStringLiteral("damaged.history"));
        QFile file(damaged);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
        file.close();
        CHistoryStore store(damaged.toStdString());
        pane.SetStore(&store);
        pane.ShowLink(&link, kNow);
        QVERIFY2(pane.GetEvidenceText().contains(QStringLiteral("damaged.history")),
                 qPrintable(pane.GetEvidenceText()));

        CHistoryStore empty(m_dir.filePath(QStringLiteral("empty.history")).toStdString());
        pane.SetStore(&empty);
        pane.ShowLink(&link, kNow);
        QCOMPARE(pane.GetEvidenceText(), QStringLiteral("No check has read this link's page yet."));
        pane.ShowLink(nullptr, kNow);
        QCOMPARE(pane.GetSinceText(), QStringLiteral("Select one link to see its history."));
        QCOMPARE(pane.GetReportText(), QString());
    }

    // Checked from the window twice, around the partner taking the link down: the pane says since
    // when it is missing and what the last check that found it saw.
    void aLinkThatGoesMissingShowsWhenAndWhatWasLastFound()
    {
        const testsupport::NoProxyEnvironment noProxy;
        fakes::TempDirectory www("orvex-pane-www");
        const std::string page = www.File("partner.localhost/links.html");
        std::filesystem::create_directories(std::filesystem::path(page).parent_path());
        testsupport::WriteBytes(page,
                                "<p>Friends:\n<a href=\"http://mine.localhost/\"\n   class=\"x\">My shop</a></p>\n");
        fakes::FakeHttpServer server;
        server.Start(www.File(""));

        TestProgram program;
        QVERIFY(program.app);
        CMainFrame& frame = program.Frame();
        CLink* link = program.Links().AddNewLink();
        link->SetFromPage(server.Url("partner.localhost", "/links.html"));
        link->SetToPage("http://mine.localhost/");
        link->SetAnchor("*");
        link->SetLastPaymentDate(OleDateTime::Today());
        link->SetPeriod(OleDateTimeSpan(365.0));
        frame.AttachDatabase();
        frame.GetView()->SelectOnly(0);
        frame.RunCommand(CMainFrame::Command::CheckLink);
        QCOMPARE(link->GetStatus(), uint32_t(StatusOk));
        testsupport::WriteBytes(page, "<p>Friends: none any more</p>\n");
        frame.GetView()->SelectOnly(0);
        frame.RunCommand(CMainFrame::Command::CheckLink);
        QCOMPARE(link->GetStatus(), uint32_t(StatusNotPresent));
        TestHooks::TakeMessageBoxTexts();

        frame.GetAction(CMainFrame::Command::HistoryPane)->trigger();
        frame.GetView()->SelectOnly(0);
        auto* pane = frame.findChild<CLinkHistoryPane*>();
        const QString today = QDate::currentDate().toString(Qt::ISODate);
        QCOMPARE(pane->GetSinceText(), QStringLiteral("Not present since %1 (less than a minute)").arg(today));
        const QString evidence = pane->GetEvidenceText();
        QVERIFY2(evidence.startsWith(QStringLiteral("Last check of the page, %1").arg(today)), qPrintable(evidence));
        QVERIFY2(evidence.contains(QStringLiteral("not present")), qPrintable(evidence));
        QVERIFY2(evidence.contains(QStringLiteral("\n\nLast found on the page, %1").arg(today)) &&
                     evidence.endsWith(
                         QStringLiteral("\nanchor: <a href=\"http://mine.localhost/\" class=\"x\">My shop</a>")),
                 qPrintable(evidence));
    }

    void theWindowShowsThePaneAsTheUserLeftIt()
    {
        QTemporaryDir home;
        {
            const std::unique_ptr<CORXApp> app = StartTestProgram(home);
            QVERIFY(app);
            CMainFrame& frame = *app->GetMainFrame();
            auto* pane = frame.findChild<CLinkHistoryPane*>();
            QVERIFY(pane && !pane->isVisibleTo(&frame));
            CLink* link = app->GetWorkspace().GetDatabase().GetLinks()->AddNewLink();
            *link = MakeLink();
            HistoryEntry entry;
            entry.time = std::time(nullptr) - 2 * kDay;
            entry.status = StatusNotPresent;
            entry.evidence = "not present: no anchor names the To Page";
            QVERIFY(app->GetWorkspace().GetHistory());
            app->GetWorkspace().GetHistory()->Record(
                HistoryKey(link->GetFromPage(), link->GetToPage(), link->GetProject()), entry);
            frame.AttachDatabase();
            frame.GetView()->SelectOnly(0);

            QAction* toggle = frame.GetAction(CMainFrame::Command::HistoryPane);
            QVERIFY(toggle && toggle->isCheckable() && !toggle->isChecked());
            toggle->trigger();
            QVERIFY(pane->isVisibleTo(&frame));
            // What was queued a moment ago is there.
            QVERIFY2(pane->GetSinceText().startsWith(QStringLiteral("Not present since ")),
                     qPrintable(pane->GetSinceText()));
            QVERIFY(pane->GetEvidenceText().endsWith(QStringLiteral("not present: no anchor names the To Page")));
            frame.GetView()->GetList()->clearSelection();
            QCOMPARE(pane->GetSinceText(), QStringLiteral("Select one link to see its history."));
            app->ExitInstance();
        }
        const std::unique_ptr<CORXApp> again = StartTestProgram(home, false);
        QVERIFY(again);
        QVERIFY(again->GetMainFrame()->findChild<CLinkHistoryPane*>()->isVisibleTo(again->GetMainFrame()));
        QVERIFY(again->GetMainFrame()->GetAction(CMainFrame::Command::HistoryPane)->isChecked());
        again->ExitInstance();
    }
};

QTEST_MAIN(HistoryPaneTest)
#include "HistoryPaneTest.moc"
