// Help in a window of its own, addresses handed to the desktop (and what happens when it has no
// program for them), and the copied rows as a spreadsheet reads them.
#include "DialogTesting.h"
#include "TestProgram.h"
#include "cli/CommandLine.h"
#include "gui/help/DesktopLinks.h"
#include "gui/help/HelpWindow.h"
#include "gui/mainwnd/ClipboardCopy.h"
#include "gui/mainwnd/LinksView.h"
#include "gui/mainwnd/MainFrame.h"
#include "gui/widgets/TestHooks.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMimeData>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextTable>
#include <QtTest>

#include <memory>
#include <vector>

class HelpAndClipboardTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestProgram> m_program;
    std::vector<QUrl> m_opened;
    bool m_desktopOpens = true;

    CMainFrame& Frame() { return m_program->Frame(); }

    // The cells of the first table of an HTML text, as a rich-text reader takes them apart.
    static std::vector<QStringList> TableCells(const QString& html)
    {
        QTextDocument document;
        document.setHtml(html);
        std::vector<QStringList> rows;
        for (QTextFrame* frame : document.rootFrame()->childFrames()) {
            auto* table = qobject_cast<QTextTable*>(frame);
            if (!table)
                continue;
            for (int row = 0; row < table->rows(); ++row) {
                QStringList cells;
                for (int column = 0; column < table->columns(); ++column) {
                    QTextCursor cursor = table->cellAt(row, column).firstCursorPosition();
                    cursor.setPosition(table->cellAt(row, column).lastCursorPosition().position(),
                                       QTextCursor::KeepAnchor);
                    cells << cursor.selectedText().replace(QChar::LineSeparator, QLatin1Char('\n'));
                }
                rows.push_back(cells);
            }
            break;
        }
        return rows;
    }

private slots:
    void init()
    {
        m_program = std::make_unique<TestProgram>();
        QVERIFY(m_program->app);
        m_opened.clear();
        m_desktopOpens = true;
        TestHooks::SetDesktopOpener([this](const QUrl& url) {
            m_opened.push_back(url);
            return m_desktopOpens;
        });
    }

    void cleanup()
    {
        TestHooks::SetDesktopOpener({});
        m_program.reset();
    }

    void copiedRowsPasteAsOneCellPerField()
    {
        CLink* first = m_program->Links().AddNewLink();
        first->SetProject("Tom & Jerry <shop>");
        first->SetFromPage("http://partner.example/a?x=1&y=2");
        first->SetComment("two\r\nlines");
        CLink* second = m_program->Links().AddNewLink();
        second->SetProject("Plain");
        second->SetFromPage("http://partner.example/b");
        Frame().AttachDatabase();
        CLinksView& view = *Frame().GetView();
        // A column moved and one hidden: the copy follows what the list shows.
        QHeaderView* header = view.GetList()->horizontalHeader();
        header->moveSection(header->visualIndex(ColumnIndex(LinkColumn::FromPage)), 0);
        header->setSectionHidden(ColumnIndex(LinkColumn::Status), true);
        header->setSectionHidden(ColumnIndex(LinkColumn::Comment), false);
        view.GetList()->selectAll();

        Frame().RunCommand(CMainFrame::Command::Copy);
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        QVERIFY(data && data->hasHtml() && data->hasText());
        QCOMPARE(data->text(), view.CopySelectionAsText());
        const std::vector<QStringList> cells = TableCells(data->html());
        QCOMPARE(int(cells.size()), 2);
        for (int row = 0; row < 2; ++row) {
            QStringList expected;
            for (int visual = 0; visual < header->count(); ++visual)
                if (!header->isSectionHidden(header->logicalIndex(visual)))
                    expected << view.GetModel()->CellText(row, LinkColumnAt(header->logicalIndex(visual)));
            expected.replaceInStrings(QStringLiteral("\r\n"), QStringLiteral("\n"));
            QCOMPARE(cells[std::size_t(row)], expected);
        }
        QCOMPARE(cells[0].first(), view.GetModel()->CellText(0, LinkColumn::FromPage));
        QVERIFY(cells[0].contains(QStringLiteral("Tom & Jerry <shop>")) ||
                cells[1].contains(QStringLiteral("Tom & Jerry <shop>")));
        QVERIFY(cells[0].contains(QStringLiteral("two\nlines")) || cells[1].contains(QStringLiteral("two\nlines")));
    }

    void helpOpensInAWindowOfItsOwn()
    {
        Frame().show();
        Activate(&Frame());
        QTest::keyClick(&Frame(), Qt::Key_F1);
        auto* help = Frame().findChild<CHelpWindow*>();
        QVERIFY(help);
        QTRY_VERIFY(help->isVisible());
        QVERIFY(!help->isModal());
        QCOMPARE(help->windowTitle(), QStringLiteral("Orvex Help"));
        // Every option of the command line is explained there too.
        const QString page = help->GetBrowser()->toPlainText();
        const QRegularExpression option(QStringLiteral("--[a-z][a-z-]+"));
        int options = 0;
        for (const QRegularExpressionMatch& match : option.globalMatch(QString::fromStdString(UsageText()))) {
            QVERIFY2(page.contains(match.captured()), qPrintable(match.captured()));
            ++options;
        }
        QVERIFY(options >= 10);
        QVERIFY(m_opened.empty()); // no browser was asked
        // Escape hides it; F1 brings the same window back.
        Activate(help);
        QTest::keyClick(help->GetBrowser(), Qt::Key_Escape);
        QTRY_VERIFY(!help->isVisible());
        Activate(&Frame());
        QTest::keyClick(&Frame(), Qt::Key_F1);
        QTRY_VERIFY(help->isVisible());
        QCOMPARE(Frame().findChildren<CHelpWindow*>().size(), 1);
    }

    void helpFollowsItsOwnLinksAndHandsOthersToTheDesktop()
    {
        const QString page = m_program->home.filePath(QStringLiteral("help.html"));
        QFile file(page);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<html><head><title>Test Help</title></head><body><p><a href=\"#end\">to the end</a></p>"
                   "<p><a href=\"https://orvex.example.com/faq\">web</a></p>"
                   "<p><a href=\"mailto:support@orvex.example.com\">mail</a></p>"
                   "<h2><a name=\"end\">End</a></h2></body></html>");
        file.close();
        CHelpWindow help(page);
        QCOMPARE(help.windowTitle(), QStringLiteral("Test Help"));
        QTextBrowser* browser = help.GetBrowser();
        emit browser->anchorClicked(QUrl(QStringLiteral("#end")));
        QCOMPARE(browser->source().fragment(), QStringLiteral("end"));
        QVERIFY(m_opened.empty());
        emit browser->anchorClicked(QUrl(QStringLiteral("https://orvex.example.com/faq")));
        QCOMPARE(m_opened.size(), std::size_t(1));
        QCOMPARE(m_opened.back(), QUrl(QStringLiteral("https://orvex.example.com/faq")));
        QCOMPARE(browser->source().fragment(), QStringLiteral("end")); // the help page stays
    }

    void aDesktopWithoutAProgramForTheAddressIsNamed_data()
    {
        QTest::addColumn<CMainFrame::Command>("command");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("clipboard");
        QTest::newRow("web site") << CMainFrame::Command::WebSite
                                  << "No program is set up on this desktop to open web pages.\n\n"
                                     "The address is on the clipboard:\nhttps://orvex.example.com/"
                                  << "https://orvex.example.com/";
        QTest::newRow("support mail") << CMainFrame::Command::EmailSupport
                                      << "No program is set up on this desktop to write e-mail.\n\n"
                                         "The address is on the clipboard:\nsupport@orvex.example.com"
                                      << "support@orvex.example.com";
        QTest::newRow("open in browser") << CMainFrame::Command::OpenInBrowser
                                         << "No program is set up on this desktop to open web pages.\n\n"
                                            "The address is on the clipboard:\nhttp://partner.example/page.html"
                                         << "http://partner.example/page.html";
    }
    void aDesktopWithoutAProgramForTheAddressIsNamed()
    {
        QFETCH(CMainFrame::Command, command);
        QFETCH(QString, message);
        QFETCH(QString, clipboard);
        CLink* link = m_program->Links().AddNewLink();
        link->SetFromPage("partner.example/page.html");
        Frame().AttachDatabase();
        Frame().GetView()->SelectOnly(0);
        m_desktopOpens = false;
        TestHooks::TakeMessageBoxTexts();
        Frame().RunCommand(command);
        QCOMPARE(m_opened.size(), std::size_t(1));
        QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList{message});
        QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);

        m_desktopOpens = true;
        Frame().RunCommand(command);
        QCOMPARE(m_opened.size(), std::size_t(2));
        QVERIFY(TestHooks::TakeMessageBoxTexts().isEmpty());
    }
};

QTEST_MAIN(HelpAndClipboardTest)
#include "HelpAndClipboardTest.moc"
