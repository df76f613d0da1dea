#include "PartnersListCtrl.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace {

// Tips only for the texts a cell cuts off.
class CCutOffTipDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        const QString text = index.data(Qt::DisplayRole).toString();
        if (option.fontMetrics.horizontalAdvance(text) > option.rect.width() - 4)
            QToolTip::showText(event->globalPos(), text, view, option.rect);
        else
            QToolTip::hideText();
        return true;
    }
};

} // namespace

CPartnersListCtrl::CPartnersListCtrl(QWidget* parent) : CRowListView(parent)
{
    setTabKeyNavigation(false);
    setItemDelegate(new CCutOffTipDelegate(this));
    QHeaderView* header = horizontalHeader();
    header->setSectionsMovable(true);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
}

void CPartnersListCtrl::keyboardSearch(const QString& /*search*/)
{
}

void CPartnersListCtrl::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        switch (event->key()) {
        case Qt::Key_F2:
            emit EditRequested();
            return;
        case Qt::Key_Delete:
            emit DeleteRequested();
            return;
        default:
            break;
        }
    }
    QTableView::keyPressEvent(event);
}

void CPartnersListCtrl::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QTableView::mouseDoubleClickEvent(event);
        return;
    }
    const int y = event->position().toPoint().y();
    const int row = rowAt(y);
    if (row >= 0)
        emit RowActivated(row);
    else if (y >= 0)
        emit EmptyAreaActivated();
    event->accept();
}

void CPartnersListCtrl::contextMenuEvent(QContextMenuEvent* event)
{
    // From the keyboard the menu opens at the rows' top-left corner, just under the header.
    if (event->reason() == QContextMenuEvent::Keyboard)
        emit RowMenuRequested(viewport()->mapToGlobal(QPoint(0, 0)));
    else
        emit RowMenuRequested(event->globalPos());
}
