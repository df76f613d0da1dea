// Find, Find Next and the duplicate search of the main window, driven from the keyboard: which row
// a text selects (shown columns only, letter case, texts beyond ASCII), how F3 goes on and wraps,
// and the duplicate report shown for each choice of options.
#include "DialogTesting.h"

#include "TestProgram.h"
#include "app/ORXApp.h"
#include "core/records/LinkStatus.h"
#include "gui/mainwnd/LinksView.h"
#include "gui/mainwnd/MainFrame.h"
#include "gui/search/CheckForDuplicatesDlg.h"
#include "gui/search/FindDlg.h"
#include "gui/widgets/MessageBox.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {

struct Deal
{
    const char* project;
    uint32_t status;
    const char* anchor;
    const char* comment = "";
    const char* partner = nullptr;
};

// Closes every Find dialog that opens while it lives, and counts them.
class CFindDialogGuard
{
public:
    CFindDialogGuard()
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto* dialog = qobject_cast<CFindDlg*>(QApplication::activeModalWidget())) {
                ++m_count;
                dialog->reject();
            }
        });
        m_timer.start();
    }
    int GetCount() const { return m_count; }

private:
    QTimer m_timer;
    int m_count = 0;
};

} // namespace

class SearchTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestProgram> m_program;

    CMainFrame& Frame() { return m_program->Frame(); }
    CLinksView& View() { return *Frame().GetView(); }
    CLinksListCtrl* List() { return View().GetList(); }

    CLink* Add(const Deal& deal)
    {
        CLink* link = m_program->Links().AddNewLink();
        link->SetProject(deal.project);
        link->SetStatus(deal.status);
        link->SetAnchor(deal.anchor);
        link->SetComment(deal.comment);
        link->SetFromPage("http://partner.example/" + std::to_string(m_program->Links().GetCount()));
        link->SetToPage("http://mine.example/");
        // Dates that agree with the status, so that the calendar refresh leaves it alone.
        const bool expired = deal.status == StatusExpired;
        link->SetLastPaymentDate(expired ? OleDateTime::FromParts(2020, 7, 4) : OleDateTime::Now());
        link->SetFirstPaymentDate(OleDateTime::FromParts(2012, 3, 29));
        link->SetPeriod(OleDateTimeSpan(expired ? 30.0 : 3650.0));
        if (deal.partner)
            link->SetPartnerId(
                m_program->app->GetWorkspace().GetDatabase().GetPartners()->AddPartner(deal.partner)->GetId());
        return link;
    }

    // Five deals; sorted by project, descending, the rows are Echo, Delta, Charlie, Bravo, Alpha.
    void AddDeals()
    {
        Add({"Alpha", StatusOk, "cheap flights"});
        Add({"Bravo", StatusExpired, "Günstige Flüge", "office in the Hauptstraße"});
        CLink* charlie = Add({"Charlie", StatusOk, "hotels", "secret word"});
        charlie->SetFirstPaymentDate(OleDateTime::Invalid());
        charlie->SetCostMode(0);
        charlie->SetCostPerMonthValue(4711);
        Add({"Delta", StatusExpired, "car hire"});
        Add({"Echo", StatusOk, "tours", "", "Globex Partners"});
        Frame().AttachDatabase();
        QCOMPARE(View().GetRowCount(), 5);
        QCOMPARE(QString::fromStdString(View().GetLink(0)->GetProject()), QStringLiteral("Echo"));
    }

    // The project of the one selected row; the projects joined with "+" for more, "" for none.
    QString Selected()
    {
        QStringList projects;
        for (int row : View().GetSelectedRows())
            projects << QString::fromStdString(View().GetLink(row)->GetProject());
        return projects.join(QLatin1Char('+'));
    }

    void SelectProject(const char* project)
    {
        for (int row = 0; row < View().GetRowCount(); ++row)
            if (View().GetLink(row)->GetProject() == project)
                View().SelectOnly(row);
        QCOMPARE(Selected(), QString::fromLatin1(project));
    }

    // A key pressed in the list, with the window active as under the user's hands.
    void PressInList(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        Activate(&Frame());
        List()->setFocus();
        QTest::keyClick(List(), key, modifiers);
    }

    // Ctrl+F in the list, then the text typed into the Find dialog, Match Case ticked with its
    // mnemonic when asked, and Enter.
    void FindFromTheList(const QString& text, bool matchCase = false)
    {
        bool typed = false;
        WhenShown<CFindDlg>([&](CFindDlg* dialog) {
            Activate(dialog);
            QCOMPARE(Focused(), QStringLiteral("findEdit"));
            // The test's key clicks spell ASCII only; other letters arrive as an input method
            // would deliver them.
            if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; }))
                Type(text);
            else
                Child<QLineEdit>(dialog, "findEdit")->insert(text);
            if (matchCase)
                QTest::keyClick(dialog, Qt::Key_C, Qt::AltModifier);
            QTRY_COMPARE(Child<QCheckBox>(dialog, "matchCaseCheck")->isChecked(), matchCase);
            Press(Qt::Key_Return);
            typed = true;
        });
        PressInList(Qt::Key_F, Qt::ControlModifier);
        QVERIFY(typed);
    }

private slots:
    void init()
    {
        m_program = std::make_unique<TestProgram>();
        QVERIFY(m_program->app);
    }

    void cleanup() { m_program.reset(); }

    void theFindDialogOpensEmpty()
    {
        AddDeals();
        SelectProject("Alpha");
        bool seen = false;
        WhenShown<CFindDlg>([&](CFindDlg* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Find"));
            QCOMPARE(dialog->accessibleName(), QStringLiteral("Find"));
            auto* edit = Child<QLineEdit>(dialog, "findEdit");
            QCOMPARE(edit->text(), QString());
            QCOMPARE(edit->accessibleName(), QStringLiteral("Find What:"));
            QVERIFY(!Child<QCheckBox>(dialog, "matchCaseCheck")->isChecked());
            Activate(dialog);
            // Escape is Cancel: no search, even with a text typed.
            Type(QStringLiteral("Echo"));
            Press(Qt::Key_Escape);
            seen = true;
        });
        PressInList(Qt::Key_F, Qt::ControlModifier);
        QVERIFY(seen);
        QCOMPARE(Selected(), QStringLiteral("Alpha"));
    }

    void find_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("matchCase");
        QTest::addColumn<int>("toggledColumn");
        QTest::addColumn<QString>("selected");
        // Alpha is selected before each search and matches none of these texts: "Alpha" means
        // that nothing was found and the selection stayed.
        QTest::newRow("status name in lower case") << "expired" << false << -1 << "Delta";
        QTest::newRow("status name in lower case, Match Case") << "expired" << true << -1 << "Alpha";
        QTest::newRow("status name as shown, Match Case") << "Expired" << true << -1 << "Delta";
        QTest::newRow("partner name") << "GLOBEX" << false << -1 << "Echo";
        QTest::newRow("a shown date") << "07/04/20" << false << -1 << "Delta";
        QTest::newRow("a comment") << "secret" << false << -1 << "Charlie";
        QTest::newRow("a comment, its column hidden")
            << "secret" << false << ColumnIndex(LinkColumn::Comment) << "Alpha";
        QTest::newRow("a price") << "4711" << false << -1 << "Charlie";
        QTest::newRow("First Start, hidden by default") << "invalid datetime" << false << -1 << "Alpha";
        QTest::newRow("First Start, shown")
            << "invalid datetime" << false << ColumnIndex(LinkColumn::FirstStart) << "Charlie";
        QTest::newRow("beyond ASCII") << "flüge" << false << -1 << "Bravo";
        QTest::newRow("beyond ASCII, Match Case") << "flüge" << true << -1 << "Alpha";
        QTest::newRow("ß upper-cased to SS") << "STRASSE" << false << -1 << "Bravo";
        QTest::newRow("found nowhere") << "nowhere" << false << -1 << "Alpha";
        QTest::newRow("empty text: the first row") << "" << false << -1 << "Echo";
    }

    void find()
    {
        QFETCH(QString, text);
        QFETCH(bool, matchCase);
        QFETCH(int, toggledColumn);
        QFETCH(QString, selected);
        AddDeals();
        if (toggledColumn >= 0)
            View().ToggleColumn(LinkColumnAt(toggledColumn));
        SelectProject("Alpha");
        FindFromTheList(text, matchCase);
        QCOMPARE(Selected(), selected);
    }

    // F3 before any search asks for one (a cancelled dialog is none) and searches from the top,
    // as Find does; then it goes on downwards from the selected row, wraps round once, finds the
    // only row again from itself, and repeats Match Case.
    void findNextGoesOnAndWrapsOnce()
    {
        AddDeals();
        SelectProject("Alpha");
        for (int i = 0; i < 2; ++i) {
            CFindDialogGuard guard;
            PressInList(Qt::Key_F3);
            QCOMPARE(guard.GetCount(), 1);
        }
        bool typed = false;
        WhenShown<CFindDlg>([&](CFindDlg* dialog) {
            Activate(dialog);
            Type(QStringLiteral("EXPIRED"));
            Press(Qt::Key_Return);
            typed = true;
        });
        PressInList(Qt::Key_F3);
        QVERIFY(typed);
        QCOMPARE(Selected(), QStringLiteral("Delta"));
        auto guard = std::make_unique<CFindDialogGuard>();
        const std::pair<const char*, const char*> steps[] = {
            {nullptr, "Bravo"},   // the next one down
            {nullptr, "Delta"},   // round to the top
            {"Alpha", "Delta"},   // from the last row: round to the top
            {"Charlie", "Bravo"}, // from a row the user chose
        };
        for (const auto& [chosen, expected] : steps) {
            if (chosen)
                SelectProject(chosen);
            PressInList(Qt::Key_F3);
            QCOMPARE(Selected(), QString::fromLatin1(expected));
        }
        QCOMPARE(guard->GetCount(), 0);
        guard.reset();
        FindFromTheList(QStringLiteral("secret"));
        QCOMPARE(Selected(), QStringLiteral("Charlie"));
        guard = std::make_unique<CFindDialogGuard>();
        PressInList(Qt::Key_F3);
        QCOMPARE(Selected(), QStringLiteral("Charlie"));
        QCOMPARE(guard->GetCount(), 0);
        guard.reset();
        // Match Case goes on with F3: "Tours" is found nowhere, and the selection stays.
        FindFromTheList(QStringLiteral("Tours"), true);
        QCOMPARE(Selected(), QStringLiteral("Charlie"));
        guard = std::make_unique<CFindDialogGuard>();
        PressInList(Qt::Key_F3);
        QCOMPARE(Selected(), QStringLiteral("Charlie"));
        QCOMPARE(guard->GetCount(), 0);
    }

    void theFoundRowIsScrolledIntoView()
    {
        for (int i = 0; i < 300; ++i)
            Add({"Bulk", StatusOk, "plain"});
        Add({"Aardvark", StatusOk, "needle"}); // the last row
        Frame().AttachDatabase();
        // The first column hidden: the list still scrolls down to the row.
        View().ToggleColumn(LinkColumn::Status);
        Frame().resize(800, 400);
        SelectProject("Bulk");
        List()->scrollToTop();
        FindFromTheList(QStringLiteral("needle"));
        QCOMPARE(Selected(), QStringLiteral("Aardvark"));
        const int row = View().GetRowCount() - 1;
        const int top = List()->rowViewportPosition(row);
        QVERIFY2(top >= 0 && top + List()->rowHeight(row) <= List()->viewport()->height(),
                 qPrintable(QStringLiteral("row at %1 of %2").arg(top).arg(List()->viewport()->height())));
    }

    void duplicatesFromTheKeyboard()
    {
        CLinksManager& links = m_program->Links();
        const auto add = [&](const char* project, const char* from, const char* to) {
            CLink* link = links.AddNewLink();
            link->SetProject(project);
            link->SetFromPage(from);
            link->SetToPage(to);
        };
        add("Shop", "http://www.blog.example/links", "http://shop.example/");
        Frame().AttachDatabase();
        QAction* command = Frame().GetAction(CMainFrame::Command::FindDuplicates);
        QVERIFY(!command->isEnabled()); // one link cannot have a duplicate
        add("Shop", "http://blog.example/links", "http://shop.example/");
        add("Shop", "http://www.blog.example/links", "http://shop.example/offers");
        add("News", "http://other.example/", "http://news.example/");
        Frame().AttachDatabase();
        QVERIFY(command->isEnabled());
        // The list shows the News link alone; the search still covers every link.
        auto* projects = Announced<QComboBox>(&Frame(), QStringLiteral("Project filter"));
        QVERIFY(projects);
        const int news = projects->findText(QStringLiteral("News"));
        QVERIFY(news > 0);
        projects->setCurrentIndex(news);
        emit projects->activated(news);
        QCOMPARE(View().GetRowCount(), 1);

        const QString line = QString(92, QLatin1Char('-')) + QLatin1Char('\n');
        const QString first = QStringLiteral("        Shop\thttp://www.blog.example/links\thttp://shop.example/\n");
        const QString second = QStringLiteral("        Shop\thttp://blog.example/links\thttp://shop.example/\n");
        const QString third =
            QStringLiteral("        Shop\thttp://www.blog.example/links\thttp://shop.example/offers\n");
        QStringList reports;
        WhenShown<CCheckForDuplicatesDlg>([&](CCheckForDuplicatesDlg* dialog) {
            QCOMPARE(dialog->accessibleName(), QStringLiteral("Find duplicates..."));
            auto* www = Child<QCheckBox>(dialog, "ignoreWwwCheck");
            auto* perProject = Child<QCheckBox>(dialog, "oneLinkPerProjectCheck");
            QVERIFY(www->isChecked());
            QVERIFY(!perProject->isChecked());
            QCOMPARE(dialog->GetReport(), QString());
            // Enter is "Find"; the dialog stays open for another search.
            Activate(dialog);
            Press(Qt::Key_Return);
            reports << dialog->GetReport();
            Activate(dialog);
            QTest::keyClick(dialog, Qt::Key_W, Qt::AltModifier);
            QTRY_VERIFY(!www->isChecked());
            Press(Qt::Key_Return);
            reports << dialog->GetReport();
            Activate(dialog);
            QTest::keyClick(dialog, Qt::Key_P, Qt::AltModifier);
            QTRY_VERIFY(perProject->isChecked());
            Press(Qt::Key_Return);
            reports << dialog->GetReport();
            Activate(dialog);
            Press(Qt::Key_Escape);
        });
        command->trigger();
        QCOMPARE(reports.size(), 3);
        // www.blog.example and blog.example are one site; the page of other offers is another.
        QCOMPARE(reports[0], QStringLiteral("Found set of 2 duplicates\n") + first + second + line);
        QCOMPARE(reports[1], QStringLiteral("No duplicates found"));
        // One link of a project per page: the offers link joins the first.
        QCOMPARE(reports[2], QStringLiteral("Found set of 2 duplicates\n") + first + third + line);
        QCOMPARE(links.GetCount(), std::size_t(4));
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(SearchTest)
#include "SearchTest.moc"
