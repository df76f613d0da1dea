#include "LinkRowDelegate.h"

#include "LinkRowColors.h"
#include "LinksModel.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace {

const QColor kGridLine(241, 241, 241);

} // namespace

QString ShortenText(const QString& text, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    const QString dots = QStringLiteral("...");
    // The width of a prefix plus "..." grows with the prefix, so the longest prefix that fits is
    // found by halving instead of by dropping one character at a time.
    qsizetype lo = 0;
    qsizetype hi = text.size() - 1;
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (metrics.horizontalAdvance(text.left(mid) + dots) <= width)
            lo = mid;
        else
            hi = mid - 1;
    }
    return text.left(lo) + dots;
}

void CLinkRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const bool selected = option.state & QStyle::State_Selected;
    const bool focused = option.state & QStyle::State_Active;
    const LinkRowColors colors =
        GetLinkRowColors(index.data(CLinksModel::StatusRole).toUInt(), selected, focused, option.palette);
    const QRect r = option.rect;
    painter->save();
    painter->fillRect(r, colors.background);
    painter->setPen(kGridLine);
    painter->drawLine(r.topLeft(), r.topRight());
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    const QRect cell = r.adjusted(0, 1, -1, -1);
    painter->setPen(selected ? QColor(Qt::black) : colors.background);
    painter->drawRect(cell.adjusted(0, 0, -1, -1));
    const QRect textRect = cell.adjusted(2, 0, -2, 0);
    painter->setPen(colors.text);
    painter->setFont(option.font);
    const QString text = ShortenText(index.data(Qt::DisplayRole).toString(), option.fontMetrics, textRect.width());
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter->restore();
}

bool CLinkRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                 const QModelIndex& index)
{
    // Tips only for texts the cell cuts off.
    if (event->type() == QEvent::ToolTip && index.isValid()) {
        const QString text = index.data(Qt::DisplayRole).toString();
        if (option.fontMetrics.horizontalAdvance(text) > option.rect.width() - 4) {
            QToolTip::showText(event->globalPos(), text, view, option.rect);
            return true;
        }
        QToolTip::hideText();
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}
