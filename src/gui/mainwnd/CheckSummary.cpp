#include "CheckSummary.h"

#include "LinksView.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/runs/CheckRuns.h"

#include <QCoreApplication>
#include <QItemSelection>
#include <QStringList>

#include <algorithm>
#include <unordered_set>

namespace {

QString Tr(const char* text)
{
    return QCoreApplication::translate("CheckSummary", text);
}

} // namespace

CheckRunSummary SummarizeCheckRun(const std::vector<CLink*>& links, const std::vector<LinkCheckOutcome>& outcomes,
                                  bool stopped)
{
    CheckRunSummary summary;
    summary.total = static_cast<int>(links.size());
    summary.stopped = stopped;
    for (std::size_t i = 0; i < links.size() && i < outcomes.size(); ++i) {
        if (!outcomes[i].checked)
            continue;
        const uint32_t status = links[i]->GetStatus();
        ++summary.checked;
        // Anything that is not one status (a check that failed before it stored one) has no name.
        ++summary.statusCounts[GetStatusName(status).empty() ? 0u : status];
        if (status != outcomes[i].oldStatus)
            summary.changedLinks.push_back(links[i]);
    }
    return summary;
}

QString CheckSummaryText(const CheckRunSummary& summary)
{
    QString text = summary.total == 1 ? Tr("Checked %1 of 1 link").arg(summary.checked)
                                      : Tr("Checked %1 of %2 links").arg(summary.checked).arg(summary.total);
    if (summary.stopped)
        text += Tr(" (stopped)");
    // The map runs in bit order: Ok, the date statuses, then the troubles, as the filter lists them.
    QStringList parts;
    int unnamed = 0;
    for (const auto& [status, count] : summary.statusCounts) {
        if (count <= 0)
            continue;
        if (status == 0)
            unnamed += count;
        else
            parts << QStringLiteral("%1 %2").arg(count).arg(QString::fromStdString(GetStatusName(status)));
    }
    if (unnamed > 0)
        parts << Tr("%1 without a status").arg(unnamed);
    if (parts.isEmpty())
        return text + QLatin1Char('.');
    return text + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
}

QString CheckSummaryBoxText(const CheckRunSummary& summary, int shownChanged)
{
    const int changed = static_cast<int>(summary.changedLinks.size());
    QString where;
    if (changed == 0)
        where = Tr("No link changed its status.");
    else if (changed == 1)
        where = shownChanged > 0 ? Tr("1 link changed its status; it is selected in the list.")
                                 : Tr("1 link changed its status; the filters hide it.");
    else if (shownChanged >= changed)
        where = Tr("%1 links changed their status; they are selected in the list.").arg(changed);
    else if (shownChanged == 0)
        where = Tr("%1 links changed their status; the filters hide them.").arg(changed);
    else
        where = Tr("%1 links changed their status; the %2 the filters show are selected in the list.")
                    .arg(changed)
                    .arg(shownChanged);
    return CheckSummaryText(summary) + QStringLiteral("\n\n") + where;
}

int SelectLinksInList(CLinksView& view, const std::vector<CLink*>& links)
{
    // One pass over the rows: a run over the whole database may change thousands of links.
    const std::unordered_set<const CLink*> wanted(links.begin(), links.end());
    CLinksListCtrl* list = view.GetList();
    QAbstractItemModel* model = list->model();
    const int lastColumn = std::max(0, model->columnCount() - 1);
    QItemSelection selection;
    int selected = 0;
    int first = -1;
    int rangeStart = -1;
    const int rows = view.GetRowCount();
    for (int row = 0; row <= rows; ++row) {
        const bool take = row < rows && wanted.count(view.GetLink(row)) > 0;
        if (take) {
            ++selected;
            if (first < 0)
                first = row;
            if (rangeStart < 0)
                rangeStart = row;
        } else if (rangeStart >= 0) {
            selection.select(model->index(rangeStart, 0), model->index(row - 1, lastColumn));
            rangeStart = -1;
        }
    }
    if (selected == 0)
        return 0;
    // The first one gets the focus rectangle and is scrolled to, as Find shows a row.
    view.SelectOnly(first);
    list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    return selected;
}
