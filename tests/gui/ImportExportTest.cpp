// Spreadsheet import and export as a user meets them: the column dialog's guesses, its header
// menu and worksheet choice, its names and the keyboard alone, its stored placement; the import
// run with its summary and its Cancel; and the three commands of the main window against real
// files.
#include "DialogTesting.h"
#include "TestProgram.h"
#include "app/ORXApp.h"
#include "core/exchange/ExcelImport.h"
#include "core/platform/SettingsStore.h"
#include "core/records/LinkStatus.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "gui/exchange/ExcelImportDlg.h"
#include "gui/exchange/ImportExportCommands.h"
#include "gui/mainwnd/LinksView.h"
#include "gui/mainwnd/MainFrame.h"
#include "gui/widgets/FileDialog.h"
#include "gui/widgets/MessageBox.h"
#include "gui/widgets/TestHooks.h"
#include "unit/core/exchange/MemorySheet.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

namespace {

using exchange_test::MemoryBook;

// A workbook of named sheets, each held in memory as the unit tests' one-sheet book.
class CMemoryBook : public ISpreadsheet
{
public:
    std::vector<std::pair<std::string, MemoryBook>> sheets;

    int SheetCount() const override { return static_cast<int>(sheets.size()); }
    std::string SheetName(int sheet) const override { return Has(sheet) ? At(sheet).first : std::string(); }
    int RowCount(int sheet) const override { return Has(sheet) ? At(sheet).second.RowCount(0) : 0; }
    std::string CellText(int sheet, int row, int column) const override
    {
        return Has(sheet) ? At(sheet).second.CellText(0, row, column) : std::string();
    }
    std::optional<OleDateTime> CellDate(int sheet, int row, int column) const override
    {
        return Has(sheet) ? At(sheet).second.CellDate(0, row, column) : std::nullopt;
    }
    std::optional<int32_t> CellInteger(int sheet, int row, int column) const override
    {
        return Has(sheet) ? At(sheet).second.CellInteger(0, row, column) : std::nullopt;
    }

private:
    bool Has(int sheet) const { return sheet >= 0 && sheet < SheetCount(); }
    const std::pair<std::string, MemoryBook>& At(int sheet) const { return sheets[static_cast<std::size_t>(sheet)]; }
};

// "Deals": a header row, then four deals whose columns the program can guess: the header words
// name A and B, C holds different partner pages, D the same own page, E and F start and expiry
// dates. "Partners": a payment column and two the program cannot guess.
void MakeDeals(CMemoryBook& book)
{
    std::vector<MemoryBook::Row> deals = {{"Anchor", "Project", "Page", "Target", "Since", "Until", "Note"}};
    for (int i = 1; i <= 4; ++i) {
        const std::string n = std::to_string(i);
        deals.push_back({"cheap links " + n, "Shop", "http://www.partner" + n + ".example/links.html",
                         "http://www.mine.example/", exchange_test::Day(2020, 1, i), exchange_test::Day(2020, 6, i),
                         "note"});
    }
    book.sheets = {{"Deals", MemoryBook(deals)},
                   {"Partners", MemoryBook({{"Name", "Mail", "Pay"},
                                            {"Acme", "sales@acme.example", "PayPal"},
                                            {"Bolt", "bolt@bolt.example", "PayPal"},
                                            {"Cord", "cord@cord.example", "WMZ"}})}};
}

QStringList Headers(const CExcelImportDlg& dialog)
{
    QStringList headers;
    for (int column = 0; column < kImportSheetColumns; ++column)
        headers << dialog.GetPreview()->horizontalHeaderItem(column)->text();
    return headers;
}

// The sixteen header texts: the named ones as given, every other column empty ("Skip").
QStringList Expected(std::initializer_list<const char*> named)
{
    QStringList headers;
    for (const char* name : named)
        headers << QString::fromUtf8(name);
    while (headers.size() < kImportSheetColumns)
        headers << QString();
    return headers;
}

QStringList CheckedEntries(const QMenu* menu)
{
    QStringList checked;
    for (const QAction* action : menu->actions())
        if (action->isChecked())
            checked << action->text();
    return checked;
}

// A progress dialog is every modal dialog that has a Cancel button and no worksheet box.
bool IsProgress(QDialog* dialog)
{
    return !qobject_cast<CExcelImportDlg*>(dialog) && dialog->findChild<QPushButton*>(QStringLiteral("cancelButton"));
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class ImportExportTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ISettingsStore> m_store;
    CPartnersManager m_partners;
    CLinksManager m_links;
    CMemoryBook m_book;

    ExchangeContext Ctx() { return {m_partners, m_links, *m_store, nullptr}; }

private slots:
    void init()
    {
        QSettings(QStringLiteral("Tessel Development"), QStringLiteral("Orvex")).clear();
        m_store = OpenSettingsStore();
        m_partners.Clear();
        m_partners.SetNextPartnerId(0);
        m_links.Clear();
        m_book = CMemoryBook();
        MakeDeals(m_book);
        TestHooks::AnswerDialogsWithoutUser();
    }

    // --- The column dialog -------------------------------------------------------------------

    void guessesShowInTheHeadersOverThePreview()
    {
        CExcelImportDlg dialog(m_book, *m_store);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Import from Excel"));
        QCOMPARE(Headers(dialog),
                 Expected({"Anchor", "Project name", "From page", "To Page", "Start date", "Expiry date"}));
        const ColumnTypes types = dialog.GetColumnTypes();
        QCOMPARE(types[0], int(ColAnchor));
        QCOMPARE(types[5], int(ColExpiryDate));
        QCOMPARE(types[6], int(ColSkip));

        QTableWidget* preview = dialog.GetPreview();
        QCOMPARE(preview->rowCount(), kImportPreviewRows);
        QCOMPARE(preview->columnCount(), kImportSheetColumns);
        // From the sheet's first row on, the header row included.
        QCOMPARE(preview->item(0, 0)->text(), QStringLiteral("Anchor"));
        QCOMPARE(preview->item(2, 2)->text(), QStringLiteral("http://www.partner2.example/links.html"));
        QCOMPARE(preview->item(19, 0)->text(), QString());

        // Rows the import leaves out are greyed, the reason in their tips, at every change of type.
        const QColor greyed = dialog.palette().color(QPalette::Disabled, QPalette::Text);
        QCOMPARE(preview->item(0, 3)->foreground().color(), greyed);
        QCOMPARE(preview->item(0, 3)->toolTip(), QStringLiteral("above the first data row: not imported"));
        QCOMPARE(preview->item(1, 3)->toolTip(), QString());
        dialog.SetColumnType(6, ColPrice);
        QCOMPARE(preview->item(2, 0)->toolTip(), QStringLiteral("not imported: price 'note' not read"));
        QCOMPARE(preview->item(2, 0)->foreground().color(), greyed);
        dialog.SetColumnType(6, ColSkip);
        QCOMPARE(preview->item(2, 0)->toolTip(), QString());
        QVERIFY(preview->item(2, 0)->foreground().color() != greyed);

        auto* worksheets = dialog.findChild<QComboBox*>(QStringLiteral("worksheetCombo"));
        QCOMPARE(worksheets->count(), 2);
        QCOMPARE(worksheets->itemText(1), QStringLiteral("Partners"));
        QCOMPARE(dialog.GetWorksheet(), 0);
    }

    void aTypeGoesToOneColumnOnly()
    {
        CExcelImportDlg dialog(m_book, *m_store);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QStringList names;
        QList<int> separatorsAfter;
        QStringList checked;
        bool menuSeen = false;
        WhenMenuOpen([&](QMenu* menu) {
            menuSeen = true;
            checked = CheckedEntries(menu);
            for (QAction* action : menu->actions()) {
                if (action->isSeparator())
                    separatorsAfter << names.size() - 1;
                else
                    names << action->text();
            }
            // The menu starts at the column's own type.
            QCOMPARE(menu->activeAction()->text(), QStringLiteral("From page"));
            QAction* anchor = menu->actions().at(3);
            QCOMPARE(anchor->text(), QStringLiteral("Anchor"));
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(anchor).center());
        });
        // A click on column C's header.
        QHeaderView* header = dialog.GetPreview()->horizontalHeader();
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(2) + header->sectionSize(2) / 2, header->height() / 2));
        QTRY_VERIFY(menuSeen);
        QCOMPARE(names.size(), kImportColumnTypes);
        for (int type = 0; type < kImportColumnTypes; ++type)
            QCOMPARE(names[type], QString::fromUtf8(ImportColumnName(type)));
        QCOMPARE(separatorsAfter, (QList<int>{ColSkip, ColComment, ColFullCost}));
        // The column's type, and it alone, carries the check mark.
        QCOMPARE(checked, QStringList{QStringLiteral("From page")});

        // Column A had "Anchor": it is "Skip" now, and From page is gone with C's old type.
        QCOMPARE(Headers(dialog), Expected({"", "Project name", "Anchor", "To Page", "Start date", "Expiry date"}));
        QCOMPARE(dialog.GetColumnTypes()[0], int(ColSkip));
        QCOMPARE(ColumnForType(dialog.GetColumnTypes(), ColFromPage), -1);

        // Skip is the one type many columns may have.
        dialog.SetColumnType(1, ColSkip);
        dialog.SetColumnType(3, ColSkip);
        QCOMPARE(Headers(dialog), Expected({"", "", "Anchor", "", "Start date", "Expiry date"}));

        // The menu shows the type the column has now, "Skip" for a column with an empty header.
        for (const auto& [column, type] : {std::pair{2, "Anchor"}, std::pair{3, "Skip"}}) {
            checked.clear();
            WhenMenuOpen([&](QMenu* menu) {
                checked = CheckedEntries(menu);
                QTest::keyClick(menu, Qt::Key_Escape);
            });
            dialog.ShowColumnMenu(column);
            QCOMPARE(checked, QStringList{QString::fromUtf8(type)});
        }
    }

    void anotherWorksheetIsGuessedAgain()
    {
        CExcelImportDlg dialog(m_book, *m_store);
        dialog.SetColumnType(6, ColComment);
        auto* worksheets = dialog.findChild<QComboBox*>(QStringLiteral("worksheetCombo"));
        worksheets->setCurrentIndex(1);
        QCOMPARE(dialog.GetWorksheet(), 1);
        QCOMPARE(Headers(dialog), Expected({"", "", "Payment type"}));
        QCOMPARE(dialog.GetPreview()->item(1, 0)->text(), QStringLiteral("Acme"));
        QCOMPARE(dialog.GetPreview()->item(4, 0)->text(), QString());

        // Back on the first sheet the user's own choice is gone too: it was a guess over again.
        worksheets->setCurrentIndex(0);
        QCOMPARE(Headers(dialog),
                 Expected({"Anchor", "Project name", "From page", "To Page", "Start date", "Expiry date"}));
        QCOMPARE(dialog.GetPreview()->item(1, 0)->text(), QStringLiteral("cheap links 1"));
    }

    void fieldsAreNamedByTheirLabels()
    {
        CExcelImportDlg dialog(m_book, *m_store);
        QCOMPARE(dialog.accessibleName(), dialog.windowTitle());
        QStringList fields = LabelledFields(&dialog);
        fields.sort();
        QCOMPARE(fields, Strs({"previewList", "worksheetCombo"}));
        QCOMPARE(Child(&dialog, "worksheetCombo")->accessibleName(), QStringLiteral("Use worksheet:"));

        auto* hint = dialog.findChild<QLabel*>(QStringLiteral("hintLabel"));
        QCOMPARE(hint->textFormat(), Qt::RichText);
        QCOMPARE(hint->text(), QStringLiteral("<b>Hint: Click the header to change column name</b>"));
    }

    void worksWithTheKeyboardAlone()
    {
        // Down in the worksheet box and back up, round the tab chain and back to the preview,
        // right to column C, the menu key, up two entries to "Anchor", Enter; Shift+F10 on D and
        // Escape leave D alone; Enter on the preview imports.
        QStringList chain;
        ColumnTypes types{};
        QStringList afterSheetChange;
        WhenShown<CExcelImportDlg>([&](CExcelImportDlg* dialog) {
            // Where the focus starts once the dialog has the keyboard, however soon this runs.
            Activate(dialog);
            QTRY_VERIFY(!Focused().isEmpty());
            chain << Focused();
            Press(Qt::Key_Down);
            afterSheetChange = Headers(*dialog);
            Press(Qt::Key_Up);
            for (int i = 0; i < 3; ++i) {
                Press(Qt::Key_Tab);
                chain << Focused();
            }
            Press(Qt::Key_Backtab);
            Press(Qt::Key_Backtab);
            chain << Focused();
            Press(Qt::Key_Right);
            Press(Qt::Key_Right);
            WhenMenuOpen([](QMenu* menu) {
                QTest::keyClick(menu, Qt::Key_Up);
                QTest::keyClick(menu, Qt::Key_Up);
                QTest::keyClick(menu, Qt::Key_Return);
            });
            Press(Qt::Key_Menu);
            QTRY_VERIFY(!QApplication::activePopupWidget());
            Press(Qt::Key_Right);
            WhenMenuOpen([](QMenu* menu) { QTest::keyClick(menu, Qt::Key_Escape); });
            Press(Qt::Key_F10, Qt::ShiftModifier);
            QTRY_VERIFY(!QApplication::activePopupWidget());
            // The menu's Escape did not close the dialog.
            QVERIFY(dialog->isVisible());
            types = dialog->GetColumnTypes();
            QTRY_COMPARE(Focused(), QStringLiteral("previewList"));
            Press(Qt::Key_Return);
        });
        CExcelImportDlg dialog(m_book, *m_store);
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(afterSheetChange, Expected({"", "", "Payment type"}));
        QCOMPARE(chain, (QStringList{QStringLiteral("worksheetCombo"), QStringLiteral("previewList"),
                                     QStringLiteral("importButton"), QStringLiteral("cancelButton"),
                                     QStringLiteral("previewList")}));
        QCOMPARE(types[0], int(ColSkip));
        QCOMPARE(types[2], int(ColAnchor));
        QCOMPARE(types[3], int(ColToPage));
        QCOMPARE(dialog.GetColumnTypes(), types);
        QCOMPARE(dialog.GetWorksheet(), 0);

        WhenShown<CExcelImportDlg>([](CExcelImportDlg*) { Press(Qt::Key_Escape); });
        CExcelImportDlg again(m_book, *m_store);
        QCOMPARE(again.exec(), int(QDialog::Rejected));
    }

    void placementIsStoredAndColumnsAreAsWideAsTheirText()
    {
        const std::string longAnchor(300, 'w');
        m_book.sheets.front().second =
            MemoryBook({{"Anchor", "Project", "Page", "Target"},
                        {longAnchor, "Shop", "http://www.partner1.example/links.html", "http://www.mine.example/"},
                        {"short", "Shop", "http://www.partner2.example/links.html", "http://www.mine.example/"}});
        QSize chosen;
        {
            CExcelImportDlg dialog(m_book, *m_store);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            const QTableWidget* preview = dialog.GetPreview();
            const QFontMetrics metrics = preview->fontMetrics();
            const QList<int> widths = [&] {
                QList<int> result;
                for (int column = 0; column < kImportSheetColumns; ++column)
                    result << preview->columnWidth(column);
                return result;
            }();
            // An address fits whole, and so does the type name over a short column.
            QVERIFY(widths[2] >= metrics.horizontalAdvance(QStringLiteral("http://www.partner1.example/links.html")));
            QVERIFY(widths[1] >= metrics.horizontalAdvance(QStringLiteral("Project name")));
            QVERIFY(widths[1] < widths[2]);
            // A long text is cut, not given the width of a screen; an empty column is still there to click.
            QVERIFY(widths[0] > widths[2]);
            QVERIFY(widths[0] < metrics.horizontalAdvance(QString::fromStdString(longAnchor)) / 4);
            QVERIFY(widths[15] >= metrics.horizontalAdvance(QStringLiteral("Skip")));
            QVERIFY(widths[15] < widths[1]);

            // The widths follow the text, not the window; a longer type name widens its column.
            chosen = dialog.size() + QSize(85, 40);
            dialog.resize(chosen);
            QTRY_COMPARE(dialog.size(), chosen);
            QCOMPARE(preview->columnWidth(2), widths[2]);
            dialog.SetColumnType(15, ColPartnerEmail);
            QVERIFY(preview->columnWidth(15) >= metrics.horizontalAdvance(QStringLiteral("Partner e-mail")));
            dialog.reject();
        }
        QVERIFY(m_store->GetBinary(SettingsNames::kGuiSection, SettingsNames::kImportDialog));
        CExcelImportDlg dialog(m_book, *m_store);
        QCOMPARE(dialog.size(), chosen);
    }

    // --- The import run ----------------------------------------------------------------------

    void importAddsTheRowsAndSaysWhatItDid()
    {
        CPartner* acme = m_partners.AddPartner("Acme");
        m_partners.SetNextPartnerId(40);
        CMemoryBook book;
        book.sheets = {{"Links", MemoryBook({{"Shop", "http://one.example/page.html", "Acme"},
                                             {"Shop", "http://two.example/page.html", "Newcomer"}})}};
        const int sheet = 0;
        const ColumnTypes types = [] {
            ColumnTypes t{};
            t[0] = ColProjectName;
            t[1] = ColFromPage;
            t[2] = ColPartnerName;
            return t;
        }();
        // What the import itself makes of these rows, on collections of the same start.
        CPartnersManager referencePartners;
        referencePartners.AddPartner("Acme");
        referencePartners.SetNextPartnerId(40);
        CLinksManager referenceLinks;
        const std::string expected =
            ImportSummary(ImportRows(book, sheet, types, referencePartners, referenceLinks), "Links");

        WhenShown<CExcelImportDlg>([](CExcelImportDlg* dialog) {
            for (int column = 0; column < kImportSheetColumns; ++column)
                dialog->SetColumnType(column, ColSkip);
            dialog->SetColumnType(0, ColProjectName);
            dialog->SetColumnType(1, ColFromPage);
            dialog->SetColumnType(2, ColPartnerName);
            dialog->accept();
        });
        QVERIFY(ImportWorkbook(Ctx(), book));
        QCOMPARE(TestHooks::TakeMessageBoxTexts(), QStringList{QString::fromStdString(expected)});

        QCOMPARE(m_links.GetCount(), std::size_t(2));
        QCOMPARE(m_partners.GetCount(), std::size_t(2));
        const std::vector<CLink*> links = m_links.GetLinks();
        QCOMPARE(links[0]->GetFromPage(), std::string("http://one.example/page.html"));
        QCOMPARE(links[0]->GetPartnerId(), acme->GetId());
        // The new partner came over with the identifier its link names, and the counter moved on.
        const CPartner* newcomer = m_partners.FindById(links[1]->GetPartnerId());
        QVERIFY(newcomer);
        QCOMPARE(newcomer->GetName(), std::string("Newcomer"));
        QCOMPARE(newcomer->GetId(), 40);
        QCOMPARE(m_partners.GetNextPartnerId(), 41);

        // Cancel in the column dialog: nothing read, nothing said.
        WhenShown<CExcelImportDlg>([](CExcelImportDlg* dialog) { dialog->reject(); });
        QVERIFY(!ImportWorkbook(Ctx(), book));
        QCOMPARE(m_links.GetCount(), std::size_t(2));
        QVERIFY(TestHooks::TakeMessageBoxTexts().isEmpty());
    }

    void cancelledOrStarvedImportAddsNothing()
    {
        // A long sheet of partner pages in column A, whose reading waits past the rows the dialog
        // shows until the test has pressed Cancel.
        class CSlowBook : public CMemoryBook
        {
        public:
            std::atomic<bool> released{false};
            // Should the test fail before it releases the rows, they go on by themselves.
            const std::chrono::steady_clock::time_point until =
                std::chrono::steady_clock::now() + std::chrono::seconds(20);
            int RowCount(int) const override { return 5000; }
            std::string CellText(int, int row, int column) const override
            {
                if (column != 0)
                    return {};
                while (row >= kImportPreviewRows && !released.load() && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                return "http://site" + std::to_string(row) + ".example/";
            }
        } book;
        book.sheets = {{"Long", MemoryBook()}};

        bool cancelled = false;
        WhenShown<CExcelImportDlg>([&](CExcelImportDlg* dialog) {
            dialog->SetColumnType(0, ColFromPage);
            dialog->accept();
            WhenShown<QDialog>(
                [&](QDialog* progress) {
                    QTest::mouseClick(progress->findChild<QPushButton*>(QStringLiteral("cancelButton")),
                                      Qt::LeftButton);
                    cancelled = true;
                    book.released.store(true);
                },
                IsProgress);
        });
        QVERIFY(!ImportWorkbook(Ctx(), book));
        QVERIFY(cancelled);
        QCOMPARE(m_links.GetCount(), std::size_t(0));
        QCOMPARE(TestHooks::TakeMessageBoxTexts(),
                 QStringList{QStringLiteral("Import from sheet Long cancelled: nothing was added")});

        // Out of memory while the dialog guesses and shows the sheet: a message, nothing added.
        class CStarvedBook : public CMemoryBook
        {
        public:
            std::string CellText(int, int, int) const override { throw std::bad_alloc(); }
        } starved;
        starved.sheets = {{"Starved", MemoryBook({{"http://a.example/"}})}};
        QVERIFY(!ImportWorkbook(Ctx(), starved));
        QCOMPARE(m_links.GetCount(), std::size_t(0));
        QCOMPARE(TestHooks::TakeMessageBoxTexts(),
                 QStringList{QStringLiteral("There is not enough memory to import the rows; nothing was added.")});
    }

    // --- The window's commands against real files ---------------------------------------------

    // One sheet that LibreOffice saved as .xlsx, .xls and .ods, and its .csv: through the
    // window's command each opens with the same guess and adds the same five deals, which the list
    // and its filter boxes show at once. Both exports write what was imported, and the workbook
    // they wrote reads back through the import.
    void theWindowsCommandsAgainstRealFiles()
    {
        TestProgram program;
        QVERIFY(program.app);
        CMainFrame& frame = program.Frame();
        const QStringList guess =
            Expected({"Project name", "Anchor", "From page", "To Page", "Start date", "Expiry date", "Price",
                      "Starting PR", "Partner name", "Payment type", "Comment"});
        std::size_t links = 0;
        for (const char* format : {"xlsx", "xls", "ods", "csv"}) {
            QStringList headers;
            bool refreshStarted = true;
            WhenShown<CExcelImportDlg>([&](CExcelImportDlg* dialog) {
                headers = Headers(*dialog);
                // The records are the import's until it ends: timer 4 finds them taken.
                frame.StartDateRefresh();
                refreshStarted = frame.IsDateRefreshRunning();
                Press(Qt::Key_Return);
            });
            TestHooks::SetNextFileDialogAnswer(QStringLiteral(ORVEX_TEST_DATA "/spreadsheets/deals.") +
                                               QLatin1String(format));
            frame.RunCommand(CMainFrame::Command::ImportExcel);
            QCOMPARE(TestHooks::TakeFileDialogTitles(), QStringList{QStringLiteral("Import from Excel")});
            QCOMPARE(headers, guess);
            QVERIFY(!refreshStarted);
            const QStringList summary = TestHooks::TakeMessageBoxTexts();
            QCOMPARE(summary.size(), 1);
            // The partners are new to the first import only.
            const QString partners = links == 0 ? QStringLiteral("4 new partners") : QStringLiteral("0 new partners");
            QVERIFY2(summary[0].startsWith(QStringLiteral("Imported 5 links and ") + partners +
                                           QStringLiteral(" from rows 2 to 6 of sheet ")),
                     qPrintable(QLatin1String(format) + QLatin1Char(' ') + summary[0]));
            links += 5;
            QCOMPARE(program.Links().GetCount(), links);
            QCOMPARE(frame.GetView()->GetRowCount(), static_cast<int>(links));
        }
        QVERIFY(Announced<QComboBox>(&frame, QStringLiteral("Project filter"))->findText(QStringLiteral("Blog")) >= 0);
        // Each format read the same cells: every deal came in four times over, alike.
        const std::vector<CLink*> all = program.Links().GetLinks();
        for (std::size_t i = 5; i < all.size(); ++i) {
            const CLink& a = *all[i % 5];
            const CLink& b = *all[i];
            QCOMPARE(b.GetAnchor() + "|" + b.GetFromPage() + "|" + std::to_string(b.GetCostPerMonthValue()) + "|" +
                         std::to_string(b.GetStartingPR()) + "|" + std::to_string(b.GetPartnerId()),
                     a.GetAnchor() + "|" + a.GetFromPage() + "|" + std::to_string(a.GetCostPerMonthValue()) + "|" +
                         std::to_string(a.GetStartingPR()) + "|" + std::to_string(a.GetPartnerId()));
            QVERIFY(b.GetFirstPaymentDate() == a.GetFirstPaymentDate() && b.GetPeriod() == a.GetPeriod());
        }
        QCOMPARE(all[0]->GetCostPerMonthValue(), 30);

        // Both exports, named without an extension, get theirs (a dot in the folder's name does
        // not count); nothing to say when they work.
        QVERIFY(QDir(program.home.path()).mkdir(QStringLiteral("v1.2")));
        TestHooks::SetNextFileDialogAnswer(program.home.filePath(QStringLiteral("v1.2/out")));
        frame.RunCommand(CMainFrame::Command::ExportText);
        const QByteArray text = ReadFile(program.home.filePath(QStringLiteral("v1.2/out.txt")));
        QVERIFY(text.startsWith("Partner\tPartner organization\t"));
        QCOMPARE(text.count("\r\n"), 21);
        TestHooks::SetNextFileDialogAnswer(program.home.filePath(QStringLiteral("out")));
        frame.RunCommand(CMainFrame::Command::ExportExcel);
        QVERIFY(ReadFile(program.home.filePath(QStringLiteral("out.xlsx"))).startsWith("PK"));
        QVERIFY(TestHooks::TakeMessageBoxTexts().isEmpty());

        // Failures name the file's trouble on a line of their own.
        TestHooks::SetNextFileDialogAnswer(program.home.filePath(QStringLiteral("missing/out.txt")));
        frame.RunCommand(CMainFrame::Command::ExportText);
        QStringList texts = TestHooks::TakeMessageBoxTexts();
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts[0].startsWith(QStringLiteral("Can not export to specified file.\n")), qPrintable(texts[0]));
        TestHooks::SetNextFileDialogAnswer(program.home.filePath(QStringLiteral("missing.xlsx")));
        frame.RunCommand(CMainFrame::Command::ImportExcel);
        texts = TestHooks::TakeMessageBoxTexts();
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts[0].startsWith(QStringLiteral("Can not load file\n")), qPrintable(texts[0]));
        QCOMPARE(program.Links().GetCount(), links);

        // Cancel in the file dialog does nothing at all.
        frame.RunCommand(CMainFrame::Command::ExportExcel);
        frame.RunCommand(CMainFrame::Command::ImportExcel);
        QCOMPARE(TestHooks::TakeFileDialogTitles().size(), 6);
        QVERIFY(TestHooks::TakeMessageBoxTexts().isEmpty());

        WhenShown<CExcelImportDlg>([](CExcelImportDlg*) { Press(Qt::Key_Return); });
        TestHooks::SetNextFileDialogAnswer(program.home.filePath(QStringLiteral("out.xlsx")));
        frame.RunCommand(CMainFrame::Command::ImportExcel);
        const QStringList again = TestHooks::TakeMessageBoxTexts();
        QCOMPARE(again.size(), 1);
        QVERIFY2(program.Links().GetCount() == 2 * links, qPrintable(again[0]));
        QCOMPARE(frame.GetView()->GetRowCount(), static_cast<int>(2 * links));
        QVERIFY(frame.close());
    }

    void aHandedOverRunKeepsTheCommandsOut()
    {
        TestProgram program;
        QVERIFY(program.app);
        CMainFrame& frame = program.Frame();
        // Takes every request and never answers: the run lasts until the server goes away.
        auto silent = std::make_unique<QTcpServer>();
        QVERIFY(silent->listen(QHostAddress::LocalHost));
        CLink* link = program.Links().AddNewLink();
        link->SetFromPage("http://127.0.0.1:" + std::to_string(silent->serverPort()) + "/page.html");
        link->SetToPage("http://mine.localhost/");
        link->SetStatus(StatusCantOpen);
        frame.AttachDatabase();
        program.app->GetWorkspace().GetOptions().SetNotifyStatusChanges(true); // else the run does nothing
        QTRY_VERIFY(!frame.IsDateRefreshRunning());

        QVERIFY(frame.OnCheckAllRequested());
        QVERIFY(frame.IsScheduledRunActive());
        // Its workers write the records the import adds to and the exports read.
        const CMainFrame::Command commands[] = {CMainFrame::Command::ImportExcel, CMainFrame::Command::ExportText,
                                                CMainFrame::Command::ExportExcel};
        for (CMainFrame::Command command : commands) {
            QVERIFY2(!frame.GetAction(command)->isEnabled(), qPrintable(QVariant::fromValue(command).toString()));
            frame.RunCommand(command);
        }
        QVERIFY(TestHooks::TakeFileDialogTitles().isEmpty());

        silent.reset(); // every fetch fails now
        QTRY_VERIFY_WITH_TIMEOUT(!frame.IsScheduledRunActive(), 20000);
        for (CMainFrame::Command command : commands)
            QVERIFY2(frame.GetAction(command)->isEnabled(), qPrintable(QVariant::fromValue(command).toString()));
    }

    void firstStartYesOpensTheImport()
    {
        QTemporaryDir home;
        qputenv("ORVEX_HOME", QFile::encodeName(home.path() + QStringLiteral("/home/")));
        TestHooks::SetNextMessageBoxAnswer(QMessageBox::Yes);
        CORXApp app(false);
        QVERIFY(app.InitInstance());
        // The question's Yes posts the command: the file dialog follows once start-up is through.
        QStringList titles;
        QTRY_VERIFY((titles << TestHooks::TakeFileDialogTitles(), !titles.isEmpty()));
        QCOMPARE(titles, QStringList{QStringLiteral("Import from Excel")});
        app.ExitInstance();
    }
};

QTEST_MAIN(ImportExportTest)
#include "ImportExportTest.moc"
