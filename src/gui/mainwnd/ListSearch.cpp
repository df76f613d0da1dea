#include "ListSearch.h"

#include "CellTextReader.h"
#include "LinkCells.h"
#include "LinksView.h"
#include "core/search/TextMatch.h"
#include "gui/search/FindDlg.h"

#include <QHeaderView>

#include <algorithm>

namespace {

// The header's sections are the kinds; their logical order is the kinds' order, whatever order
// the user dragged them into.
std::vector<LinkColumn> ShownKinds(const CLinksView& view)
{
    const QHeaderView* header = view.GetList()->horizontalHeader();
    std::vector<LinkColumn> kinds;
    for (int section = 0; section < header->count(); ++section)
        if (!header->isSectionHidden(section))
            kinds.push_back(LinkColumnAt(section));
    return kinds;
}

// The first row in [first, end) where one of the cells of `kinds` shows the text; -1 for none.
int FindRowShowing(const CLinksModel& model, const std::vector<LinkColumn>& kinds, const FindRequest& request,
                   int first, int end)
{
    first = std::max(first, 0);
    end = std::min(end, model.rowCount());
    if (first >= end || kinds.empty())
        return -1;
    const CTextMatcher matcher(request.text, request.matchCase);
    std::vector<LinkColumn> searched;
    for (LinkColumn kind : kinds)
        if (LinkCells::KindCanShow(kind, matcher.Needle(), matcher.IgnoresCase()))
            searched.push_back(kind);
    CCellTextReader cells(model);
    for (int row = first; row < end; ++row)
        for (LinkColumn kind : searched)
            if (matcher.Matches(cells.Text(row, kind)))
                return row;
    return -1;
}

} // namespace

void CListSearch::Find(QWidget* parent)
{
    CFindDlg dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    FindText({dialog.GetText(), dialog.IsMatchCase()});
}

bool CListSearch::FindText(const FindRequest& request)
{
    m_last = request;
    return SelectFrom(0);
}

void CListSearch::FindNext(QWidget* parent)
{
    if (!m_last)
        return Find(parent);
    const std::vector<int> selected = m_view.GetSelectedRows();
    int from = -1;
    if (!selected.empty())
        from = selected.front();
    else if (const QModelIndex current = m_view.GetList()->currentIndex(); current.isValid())
        from = current.row();
    // Round to the top the selected row is looked at again: it may be the only one that matches.
    SelectFrom(from + 1);
}

bool CListSearch::SelectFrom(int first)
{
    const std::vector<LinkColumn> kinds = ShownKinds(m_view);
    const CLinksModel& model = *m_view.GetModel();
    int row = FindRowShowing(model, kinds, *m_last, first, model.rowCount());
    if (row < 0)
        row = FindRowShowing(model, kinds, *m_last, 0, first);
    if (row < 0)
        return false;
    m_view.SelectOnly(row);
    return true;
}
