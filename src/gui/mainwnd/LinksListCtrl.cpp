#include "LinksListCtrl.h"

#include "LinkRowDelegate.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>

CLinksListCtrl::CLinksListCtrl(QWidget* parent) : CRowListView(parent)
{
    setMouseTracking(true);
    setFrameShape(QFrame::NoFrame);
    setItemDelegate(new CLinkRowDelegate(this));
    QHeaderView* header = horizontalHeader();
    header->setSectionsMovable(true);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    header->setMouseTracking(true);
}

void CLinksListCtrl::keyboardSearch(const QString& search)
{
    // No type-ahead: the main window decides what typed characters do.
    emit TextTyped(search);
}

void CLinksListCtrl::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_F2:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit EditRequested();
        return;
    case Qt::Key_Delete:
        emit DeleteRequested();
        return;
    default:
        QTableView::keyPressEvent(event);
    }
}

void CLinksListCtrl::contextMenuEvent(QContextMenuEvent* event)
{
    if (event->reason() == QContextMenuEvent::Keyboard)
        emit RowMenuRequested(viewport()->mapToGlobal(QPoint(0, 0)));
    else
        emit RowMenuRequested(event->globalPos());
}
