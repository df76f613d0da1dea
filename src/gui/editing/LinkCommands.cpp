#include "LinkCommands.h"

#include "EditingSupport.h"
#include "LinkPropertiesDlg.h"
#include "LinksPackDlg.h"
#include "core/fetch/Fetch.h"
#include "core/page/LinkCheck.h"
#include "core/records/LinksManager.h"
#include "core/runs/CheckRuns.h"
#include "gui/widgets/BackgroundWork.h"
#include "gui/widgets/MessageBox.h"

#include <QCoreApplication>

#include <memory>
#include <optional>

namespace {

QString Text(const char* text)
{
    return QCoreApplication::translate("LinkCommands", text);
}

} // namespace

void CheckLinkNow(QWidget* parent, CLink* link)
{
    // The check works on a copy that replaces the link only when the user let it end: a page cut
    // short by Cancel would otherwise be stored as one that cannot be opened. A run of its own
    // keeps the date refresh off the links from the copy until it is back.
    CLink checked = *link;
    // The user waits for this one answer: it is given now, not after a wait for a second try.
    CheckRunOptions options{.retryFailures = false};
    // The history hears of the check once it counts, and of the link as stored.
    const std::shared_ptr<const CheckRecorder> recorder = options.recorder;
    std::optional<CheckEvidence> evidence;
    if (recorder)
        options.recorder = std::make_shared<const CheckRecorder>([&evidence](const CLink&, const CheckEvidence* seen) {
            if (seen)
                evidence = *seen;
        });
    CCheckRun run({&checked}, options);
    const QString page = QString::fromStdString(link->GetFromPage());
    const WorkOutcome<void> outcome = RunWork(parent, {.text = Text("Checking %1 ...").arg(page), .bar = WorkBar::Busy},
                                              [&run](CWorkToken& token) {
                                                  const CFetchCancelScope scope(token.CancelFlag());
                                                  run.CheckOnThisThread();
                                              });
    if (outcome.cancelled)
        return;
    run.Wait(); // settles the run: a page that could not be asked for at all is told only now
    // The proxy could not be reached: the link stays as it was, and the user hears why.
    if (const std::string& why = run.NothingReached(); !why.empty()) {
        MessageBox::Warn(parent, QString::fromStdString(why));
        return;
    }
    *link = checked;
    if (recorder && evidence)
        (*recorder)(*link, &*evidence);
}

bool AddLink(const LinkCommandContext& ctx)
{
    CLinksPropertiesDlg dialog(ctx.partners, ctx.links, nullptr, false, ctx.addPartner, ctx.parent);
    const int result = dialog.exec();
    if (result != QDialog::Accepted && result != CLinksPropertiesDlg::kSaveAndCheck)
        return false;
    CLink* link = ctx.links.AddNewLink();
    dialog.StoreInto(*link);
    if (result == CLinksPropertiesDlg::kSaveAndCheck)
        CheckLinkNow(ctx.parent, link);
    return true;
}

bool AddPack(const LinkCommandContext& ctx)
{
    CLinksPackDlg dialog(ctx.partners, ctx.links, {}, ctx.addPartner, ctx.parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    ctx.links.CopyAllFrom(dialog.PackLinks());
    return true;
}

bool EditLinks(const LinkCommandContext& ctx, const std::vector<CLink*>& selected)
{
    if (selected.empty())
        return false;
    if (selected.size() > 1) {
        if (!MessageBox::AskYesNo(ctx.parent,
                                  Text("You can change only seller info and timelines for group of links. After "
                                       "changing these field will be the same for all selected links. Do you want "
                                       "to continue?"),
                                  QMessageBox::Warning))
            return false;
        CLinksPackDlg dialog(ctx.partners, ctx.links, selected, ctx.addPartner, ctx.parent);
        return dialog.exec() == QDialog::Accepted;
    }

    CLink* link = selected.front();
    CLinksPropertiesDlg dialog(ctx.partners, ctx.links, link, false, ctx.addPartner, ctx.parent);
    const int result = dialog.exec();
    if (result != QDialog::Accepted && result != CLinksPropertiesDlg::kSaveAndCheck)
        return false;
    {
        const CDateRefreshHold hold;
        const CLink before = *link;
        dialog.StoreInto(*link);
        if (ctx.linkSaved)
            ctx.linkSaved(before, *link);
        // A link whose page, target or anchor changed was set back to "never checked" by the
        // dialog; any other keeps its verdict, with the dates looked at again.
        if (result == QDialog::Accepted && !dialog.NeedsRecheck()) {
            bool changed = false;
            CheckLinkDates(link, changed);
        }
    }
    if (result == CLinksPropertiesDlg::kSaveAndCheck)
        CheckLinkNow(ctx.parent, link);
    return true;
}

bool DuplicateLinks(const LinkCommandContext& ctx, const std::vector<CLink*>& selected)
{
    if (selected.empty() ||
        !MessageBox::AskYesNo(ctx.parent, Text("Are you sure you want to duplicate selected link(s)?"),
                              QMessageBox::Warning))
        return false;
    // Copying reads every field, the status the refresh may be writing included.
    const CDateRefreshHold hold;
    CLinksManager copies;
    for (const CLink* link : selected)
        copies.AddLinkCopy(*link);
    ctx.links.CopyAllFrom(copies);
    return true;
}

bool RenewLinks(const LinkCommandContext& ctx, const std::vector<CLink*>& selected)
{
    if (selected.empty() ||
        !MessageBox::AskYesNo(ctx.parent,
                              Text("Are you sure you want to extend time for the selected links by the same time as "
                                   "before?"),
                              QMessageBox::NoIcon))
        return false;
    const CDateRefreshHold hold;
    for (CLink* link : selected) {
        link->Renew();
        bool changed = false;
        CheckLinkDates(link, changed);
    }
    return true;
}
