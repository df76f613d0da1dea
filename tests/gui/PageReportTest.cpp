// The page report dialogs: made on a worker while the window goes on, cancelled from the keyboard,
// and opened from the main window's list.
#include "DialogTesting.h"
#include "TestProgram.h"
#include "core/records/Link.h"
#include "fakes/FakeServers.h"
#include "gui/mainwnd/LinksView.h"
#include "gui/mainwnd/MainFrame.h"
#include "gui/reports/PageReportDlg.h"
#include "unit/TestSupport.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <memory>

class PageReportTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::NoProxyEnvironment> m_env;
    std::unique_ptr<fakes::TempDirectory> m_dir;
    fakes::FakeHttpServer m_server;

    void Put(const std::string& rel, const std::string& bytes)
    {
        const std::string path = m_dir->File("www/" + rel);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        testsupport::WriteBytes(path, bytes);
    }
    std::string Url(const std::string& path) const { return m_server.Url("partner.localhost", path); }

    static CLink MakeLink(const std::string& fromPage, const std::string& toPage)
    {
        CLink link;
        link.SetFromPage(fromPage);
        link.SetToPage(toPage);
        return link;
    }

private slots:
    void initTestCase()
    {
        m_env = std::make_unique<testsupport::NoProxyEnvironment>();
        m_dir = std::make_unique<fakes::TempDirectory>("orvex-pagereport");
        Put("partner.localhost/page.html", "<a href=\"http://mysite.localhost/\">My site</a>\n"
                                           "<a href=\"http://other.localhost/\" rel=\"nofollow\">other</a>\n");
        m_server.Start(m_dir->File("www"));
    }

    void reportArrivesWhileTheWindowGoesOn()
    {
        CExternalLinksInfoDlg dialog(Url("/_slow?ms=1500&path=/page.html"));
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
        timer.start(50);
        dialog.show();
        QVERIFY(!dialog.IsReady());
        QVERIFY(dialog.findChild<QProgressBar*>(QStringLiteral("busyBar"))->isVisible());
        QVERIFY(!dialog.findChild<QPlainTextEdit*>(QStringLiteral("reportEdit"))->isEnabled());
        QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("closeButton"))->text(), QStringLiteral("Cancel"));
        QTRY_VERIFY_WITH_TIMEOUT(dialog.IsReady(), 15000);
        // The events went on while the page was on its way.
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
        QVERIFY(dialog.Succeeded());
        const QString report = dialog.GetReportText();
        QVERIFY2(report.startsWith(QStringLiteral("URL : ") + QString::fromStdString(Url("/_slow"))),
                 qPrintable(report));
        QVERIFY2(report.contains(QStringLiteral("\nTotal External Unique Links - 2\n")), qPrintable(report));
        QVERIFY(!report.contains(QLatin1Char('\r')));
        QVERIFY(!dialog.findChild<QProgressBar*>(QStringLiteral("busyBar"))->isVisible());
        QCOMPARE(dialog.GetStatusText(), QString());
        QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("closeButton"))->text(), QStringLiteral("OK"));
    }

    void escapeCancelsASlowPageAndClosesTheDialog()
    {
        // Far slower than any wait below: only the cancel can end it in time.
        CViewLinkSourceDlg dialog(MakeLink(Url("/_slow?ms=60000&path=/page.html"), "http://mysite.localhost/"));
        dialog.show();
        dialog.activateWindow();
        QTRY_VERIFY(dialog.isActiveWindow());
        QTest::qWait(300);
        QVERIFY(!dialog.IsReady());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible()); // until the worker has let go
        QCOMPARE(dialog.GetStatusText(), QStringLiteral("Cancelling ..."));
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), 10000);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.GetReportText(), QString());
    }

    void linkSourceSaysWhatAnEmptyTextMeans_data()
    {
        QTest::addColumn<QString>("fromPage");
        QTest::addColumn<QString>("toPage");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("hasText");
        QTest::newRow("found") << "/page.html"
                               << "mysite.localhost"
                               << "" << true;
        QTest::newRow("no anchor") << "/page.html"
                                   << "http://nobody.localhost/"
                                   << "No anchor on the page names the To Page." << false;
        QTest::newRow("404") << "/_status/404"
                             << "mysite.localhost"
                             << "The page could not be read." << false;
    }
    void linkSourceSaysWhatAnEmptyTextMeans()
    {
        QFETCH(QString, fromPage);
        QFETCH(QString, toPage);
        QFETCH(QString, status);
        QFETCH(bool, hasText);
        CViewLinkSourceDlg dialog(MakeLink(Url(fromPage.toStdString()), toPage.toStdString()));
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.IsReady(), 15000);
        QCOMPARE(dialog.GetStatusText(), status);
        QCOMPARE(!dialog.GetReportText().isEmpty(), hasText);
        if (hasText)
            QVERIFY(
                dialog.GetReportText().startsWith(QStringLiteral("Raw link : <a href=\"http://mysite.localhost/\">")));
    }

    void theListOpensBothReportsOfTheSelectedLink()
    {
        TestProgram program;
        QVERIFY(program.app);
        CMainFrame& frame = program.Frame();
        CLink* link = program.Links().AddNewLink();
        // Stored without a scheme: the reports read the page the check reads.
        link->SetFromPage(m_server.Url("partner.localhost", "/page.html").substr(7));
        link->SetToPage("mysite.localhost");
        frame.AttachDatabase();
        CLinksListCtrl* list = frame.GetView()->GetList();
        frame.GetView()->SelectOnly(0);
        Activate(&frame);
        list->setFocus();

        // The list's menu from the menu key, "View Link Source..." by its mnemonic.
        QString source;
        WhenShown<CViewLinkSourceDlg>([&](CViewLinkSourceDlg* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Link Source"));
            QTRY_VERIFY_WITH_TIMEOUT(dialog->IsReady(), 15000);
            source = dialog->GetReportText();
            Activate(dialog);
            Press(Qt::Key_Escape);
        });
        WhenMenuOpen([](QMenu* menu) { QTest::keyClick(menu, Qt::Key_S); });
        // What a desktop's platform plugin makes of the menu key; the offscreen one makes nothing.
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(0, 0), list->mapToGlobal(QPoint(0, 0)));
        QApplication::sendEvent(list, &menuKey);
        QTRY_VERIFY(source.startsWith(QStringLiteral("Raw link : <a href=\"http://mysite.localhost/\">My site</a>\n")));

        QString report;
        WhenShown<CExternalLinksInfoDlg>([&](CExternalLinksInfoDlg* dialog) {
            QTRY_VERIFY_WITH_TIMEOUT(dialog->IsReady(), 15000);
            report = dialog->GetReportText();
            Activate(dialog);
            Press(Qt::Key_Return);
        });
        // Opened while a filter box has the focus, the report hands it to the list when it closes.
        frame.findChild<QComboBox*>()->setFocus();
        QTRY_VERIFY(frame.focusWidget() != list);
        frame.GetAction(CMainFrame::Command::ExternalLinks)->trigger();
        QTRY_COMPARE(frame.focusWidget(), static_cast<QWidget*>(list));
        QVERIFY2(report.startsWith(QStringLiteral("URL : ") + QString::fromStdString(Url("/page.html")) +
                                   QStringLiteral("\n")),
                 qPrintable(report));
    }
};

QTEST_MAIN(PageReportTest)
#include "PageReportTest.moc"
