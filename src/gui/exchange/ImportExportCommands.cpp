#include "ImportExportCommands.h"

#include "ExcelImportDlg.h"
#include "core/exchange/ExcelImport.h"
#include "core/exchange/ExcelWorkbook.h"
#include "core/exchange/Exports.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "core/runs/DateRefresh.h"
#include "gui/widgets/BackgroundWork.h"
#include "gui/widgets/FileDialog.h"
#include "gui/widgets/MessageBox.h"

#include <QCoreApplication>

#include <exception>
#include <memory>
#include <new>
#include <vector>

namespace {

// The message box has to fit on the screen; beyond this many rows it says how many more.
constexpr std::size_t kSkippedRowsShown = 30;

QString Text(const char* text)
{
    return QCoreApplication::translate("ImportExportCommands", text);
}

// The message, with the reason on a line of its own when there is one.
QString WithReason(const QString& message, const std::string& reason)
{
    return reason.empty() ? message : message + QLatin1Char('\n') + QString::fromStdString(reason);
}

template <class Write>
void RunExport(const ExchangeContext& ctx, const QString& title, const QString& path, Write write)
{
    bool written = false;
    std::string error;
    bool cancelled = false;
    try {
        cancelled =
            RunWork(ctx.parent, {.text = Text("Writing the links..."), .title = title, .bar = WorkBar::Determinate},
                    [&](CWorkToken& token) {
                        written = write(path.toStdString(), ctx.partners, ctx.links, &error, token.Progress());
                    })
                .cancelled;
    } catch (const std::exception& e) {
        error = e.what();
    }
    // A cancelled export leaves no file behind, and the user knows why.
    if (!written && !cancelled)
        MessageBox::Warn(ctx.parent, WithReason(Text("Can not export to specified file."), error));
}

} // namespace

bool ImportFromSpreadsheet(const ExchangeContext& ctx)
{
    const QString path =
        FileDialog::AskOpenFile(ctx.parent, Text("Import from Excel"),
                                {Text("Spreadsheets (*.xlsx *.xls *.ods *.csv)"), Text("All Files (*)")});
    if (path.isEmpty())
        return false;

    // A workbook of a hundred thousand rows takes a second or two to read.
    CExcelWorkbook book;
    bool opened = false;
    std::string error;
    bool cancelled = false;
    try {
        cancelled = RunWork(ctx.parent,
                            {.text = Text("Reading the workbook..."),
                             .title = Text("Import from Excel"),
                             .bar = WorkBar::Determinate},
                            [&](CWorkToken& token) {
                                opened = book.OpenForImport(path.toStdString(), &error, token.Progress());
                            })
                        .cancelled;
    } catch (const std::exception& e) {
        opened = false;
        error = e.what();
    }
    if (cancelled)
        return false;
    if (opened && book.SheetCount() <= 0) {
        opened = false;
        error = Text("The workbook holds no worksheet.").toStdString();
    }
    if (!opened) {
        MessageBox::Warn(ctx.parent, WithReason(Text("Can not load file"), error));
        return false;
    }
    return ImportWorkbook(ctx, book);
}

namespace {

bool ImportWorkbookSteps(const ExchangeContext& ctx, const ISpreadsheet& book)
{
    CExcelImportDlg dialog(book, ctx.settings, ctx.parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const int sheet = dialog.GetWorksheet();
    const ColumnTypes types = dialog.GetColumnTypes();

    // The rows are turned into records on a worker, but against copies: the window goes on
    // painting the list from the real collections meanwhile, and they change only here, on the
    // window's thread, once the user has not cancelled. The copies keep the partners' identifiers
    // and the next free one, so the new links name the right partners.
    CPartnersManager partners;
    for (const CPartner* partner : ctx.partners.GetPartners())
        partners.Append(std::make_unique<CPartner>(*partner));
    partners.SetNextPartnerId(ctx.partners.GetNextPartnerId());
    const std::size_t knownPartners = partners.GetCount();
    CLinksManager links;

    ImportResult result;
    std::string error;
    bool finished = false;
    try {
        finished = !RunWork(ctx.parent,
                            {.text = Text("Importing the rows..."),
                             .title = Text("Import from Excel"),
                             .bar = WorkBar::Determinate},
                            [&](CWorkToken& token) {
                                result = ImportRows(book, sheet, types, partners, links, token.Progress());
                            })
                        .cancelled;
    } catch (const std::exception& e) {
        MessageBox::Warn(ctx.parent, WithReason(Text("Can not load file"), e.what()));
        return false;
    }
    if (!finished || result.cancelled) {
        // Whatever the worker got done, the user said stop: nothing is added, and the box says so.
        result.cancelled = true;
        MessageBox::Inform(ctx.parent, QString::fromStdString(ImportSummary(result, book.SheetName(sheet))));
        return false;
    }

    if (!result.refusal.empty()) {
        MessageBox::Warn(ctx.parent, QString::fromStdString(ImportSummary(result, book.SheetName(sheet))));
        return false;
    }

    // The copies and the room for them first: the window's collections take all of them or none.
    std::vector<std::unique_ptr<CPartner>> newPartners;
    std::vector<std::unique_ptr<CLink>> newLinks;
    try {
        const std::vector<CPartner*> all = partners.GetPartners();
        for (std::size_t i = knownPartners; i < all.size(); ++i)
            newPartners.push_back(std::make_unique<CPartner>(*all[i]));
        for (const CLink* link : links.GetLinks())
            newLinks.push_back(std::make_unique<CLink>(*link));
        ctx.partners.Reserve(ctx.partners.GetCount() + newPartners.size());
        ctx.links.Reserve(ctx.links.GetCount() + newLinks.size());
    } catch (const std::bad_alloc&) {
        MessageBox::Warn(ctx.parent, Text("There is not enough memory to import the rows; nothing was added."));
        return false;
    }
    {
        // The refresh reads every link's dates; these are added all at once, out of its way.
        const CDateRefreshHold hold;
        for (auto& partner : newPartners)
            ctx.partners.Append(std::move(partner));
        ctx.partners.SetNextPartnerId(partners.GetNextPartnerId());
        for (auto& link : newLinks)
            ctx.links.Append(std::move(link));
    }
    std::string summary = ImportSummary(result, book.SheetName(sheet));
    if (!result.skipped.empty())
        summary += ".\n\nSkipped:\n" + SkippedRowsList(result, kSkippedRowsShown);
    MessageBox::Inform(ctx.parent, QString::fromStdString(summary));
    return true;
}

} // namespace

bool ImportWorkbook(const ExchangeContext& ctx, const ISpreadsheet& book)
{
    // The guess and the preview read the sheet too, before any worker: running out of memory
    // there ends the import with a message like anywhere else, with nothing added.
    try {
        return ImportWorkbookSteps(ctx, book);
    } catch (const std::bad_alloc&) {
        MessageBox::Warn(ctx.parent, Text("There is not enough memory to import the rows; nothing was added."));
        return false;
    }
}

void ExportToTextFile(const ExchangeContext& ctx)
{
    const QString title = Text("Export to Text file");
    const QString path = FileDialog::AskSaveFile(ctx.parent, title, {Text("Text Files (*.txt)"), Text("All Files (*)")},
                                                 QStringLiteral(".txt"), true);
    if (!path.isEmpty())
        RunExport(ctx, title, path, ExportText);
}

void ExportToWorkbook(const ExchangeContext& ctx)
{
    const QString title = Text("Export to Excel workbook");
    const QString path = FileDialog::AskSaveFile(
        ctx.parent, title, {Text("Excel Workbook (*.xlsx)"), Text("All Files (*)")}, QStringLiteral(".xlsx"), false);
    if (!path.isEmpty())
        RunExport(ctx, title, path, ExportExcel);
}
