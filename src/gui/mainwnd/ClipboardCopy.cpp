#include "ClipboardCopy.h"

#include "LinksModel.h"
#include "LinksView.h"

#include <QHeaderView>
#include <QMimeData>

QString CellsAsHtmlTable(const std::vector<QStringList>& rows)
{
    // The charset travels with the fragment: without it some programs read UTF-8 as Latin-1.
    QString html = QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body><table>\n");
    for (const QStringList& cells : rows) {
        html += QStringLiteral("<tr>");
        for (const QString& cell : cells) {
            QString text = cell.toHtmlEscaped();
            text.replace(QStringLiteral("\r\n"), QStringLiteral("<br>"));
            text.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
            html += QStringLiteral("<td>") + text + QStringLiteral("</td>");
        }
        html += QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</table></body></html>\n");
}

QMimeData* MakeSelectionClipboardData(const CLinksView& view)
{
    // The columns as the user sees them: shown ones only, in the order they were dragged into.
    const QHeaderView* header = view.GetList()->horizontalHeader();
    std::vector<LinkColumn> kinds;
    for (int visual = 0; visual < header->count(); ++visual) {
        const int section = header->logicalIndex(visual);
        if (!header->isSectionHidden(section))
            kinds.push_back(LinkColumnAt(section));
    }
    const CLinksModel& model = *view.GetModel();
    std::vector<QStringList> rows;
    for (int row : view.GetSelectedRows()) {
        if (!model.GetLink(row))
            continue;
        QStringList cells;
        for (LinkColumn kind : kinds)
            cells << model.CellText(row, kind);
        rows.push_back(std::move(cells));
    }
    auto* data = new QMimeData;
    data->setText(view.CopySelectionAsText());
    data->setHtml(CellsAsHtmlTable(rows));
    return data;
}
