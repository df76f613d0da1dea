#pragma once

#include <QString>
#include <functional>

class QWidget;

/// Runs `work` on a thread of its own while a modal busy indicator (no Cancel) keeps the
/// program's events going: windows repaint, timers fire, local servers answer. Returns when the
/// work has ended, never earlier, so the work may use whatever the caller holds. An exception
/// thrown by the work is raised again here, on the calling thread.
void RunBusyWork(QWidget* parent, const QString& text, const std::function<void()>& work);
