#pragma once

#include <QString>
#include <functional>

class QWidget;

/// What the work is told to report through: how far it got (0..1); false once the user cancelled.
using WorkProgress = std::function<bool(double done)>;

/// Runs `work` on a thread of its own behind a modal progress dialog with Cancel, while the
/// program's events go on (windows repaint, timers fire). Cancel, Escape and the close box only
/// ask the work to stop through its progress function: the dialog stays until the work has
/// ended, for the work may use whatever the caller holds. Returns false when the user cancelled,
/// whatever the work made of it. An exception thrown by the work is raised again here, on the
/// calling thread. `title` is the dialog's title, `text` says what is going on.
bool RunProgressWork(QWidget* parent, const QString& title, const QString& text,
                     const std::function<void(const WorkProgress& progress)>& work);
