#pragma once

#include "gui/widgets/RowListView.h"

/// The partners list: full-row extended selection, movable header items, tips for cut-off
/// texts; keys and double-clicks come out as requests for the dialog.
class CPartnersListCtrl : public CRowListView
{
    Q_OBJECT

public:
    explicit CPartnersListCtrl(QWidget* parent = nullptr);
    /// No type-ahead search: typed characters are not the list's business.
    void keyboardSearch(const QString& search) override;

signals:
    void EditRequested();
    void DeleteRequested();
    /// A double-click on the row `row`.
    void RowActivated(int row);
    /// A double-click below the last row.
    void EmptyAreaActivated();
    /// Right-click or menu key on the rows, at a global position.
    void RowMenuRequested(const QPoint& globalPos);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};
