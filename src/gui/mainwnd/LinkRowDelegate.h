#pragma once

#include <QStyledItemDelegate>

class QFontMetrics;

/// `text` cut to `width` pixels: the last character dropped and "..." appended until it fits or
/// only "..." is left.
QString ShortenText(const QString& text, const QFontMetrics& metrics, int width);

/// Draws a row in its status colours, with the selection variants and "..." for cut-off texts.
class CLinkRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};
