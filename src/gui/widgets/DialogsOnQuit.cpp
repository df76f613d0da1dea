#include "DialogsOnQuit.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPointer>

namespace {

// Queued: a dialog being shown from exec() has not entered its loop yet, and a reject now would
// leave that loop waiting for an end that already happened. Rejected even when hidden by then
// (its window closed under it): its loop may still be waiting.
void RejectSoon(QDialog* dialog)
{
    QMetaObject::invokeMethod(
        dialog,
        [dialog = QPointer<QDialog>(dialog)] {
            if (dialog)
                dialog->reject();
        },
        Qt::QueuedConnection);
}

} // namespace

void CDialogsOnQuit::Begin()
{
    if (m_begun)
        return;
    m_begun = true;
    qApp->installEventFilter(this);
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible())
            RejectSoon(dialog);
}

bool CDialogsOnQuit::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show)
        if (auto* dialog = qobject_cast<QDialog*>(watched); dialog && dialog->isWindow())
            RejectSoon(dialog);
    return QObject::eventFilter(watched, event);
}
