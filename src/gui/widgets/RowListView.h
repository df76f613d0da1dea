#pragma once

#include <QTableView>

#include <vector>

/// A table whose rows are the items, as in the list controls users know: whole rows are selected,
/// several with Shift and Ctrl, and Home and End go to the first and last row (a plain table keeps
/// them inside the row, which means nothing when rows are the only thing one can select).
class CRowListView : public QTableView
{
    Q_OBJECT

public:
    explicit CRowListView(QWidget* parent = nullptr);

    /// The selected rows, ascending, each once.
    std::vector<int> SelectedRows() const;
    /// Selects `row` alone and gives it the focus rectangle; false when there is no such row.
    bool SelectOnly(int row);

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
};
