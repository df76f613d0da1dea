#pragma once

#include "gui/widgets/RowListView.h"

/// The list of links: one column per kind, the kinds the user does not want hidden.
class CLinksListCtrl : public CRowListView
{
    Q_OBJECT

public:
    explicit CLinksListCtrl(QWidget* parent = nullptr);
    void keyboardSearch(const QString& search) override;

signals:
    void EditRequested();
    void DeleteRequested();
    /// A typed character the list does not use; the main window gets it instead.
    void TextTyped(const QString& text);
    /// Right-click or menu key on the rows, at a global position.
    void RowMenuRequested(const QPoint& globalPos);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};
