#pragma once

#include <QString>
#include <QStringList>

class QWidget;

/// Every file dialog of the program goes through here, so that tests can answer them without a
/// user. An empty path means the user cancelled.
namespace FileDialog {

/// An existing file to read. `filters` as QFileDialog takes them ("Text Files (*.txt)"); the
/// dialog starts at `start` (a file or folder) when it is given.
QString AskOpenFile(QWidget* parent, const QString& title, const QStringList& filters, const QString& start = {});
/// A file to write. A name without an extension gets `extension` (".txt") before the question
/// about overwriting, which is asked only with `confirmOverwrite`.
QString AskSaveFile(QWidget* parent, const QString& title, const QStringList& filters, const QString& extension,
                    bool confirmOverwrite);

/// Test hook: the next dialog is not shown but answered with `path` (queued, first in first out;
/// "" answers Cancel). Save answers still get the default extension.
void SetNextAnswer(const QString& path);
/// Test hook: the titles of the dialogs shown or answered so far; cleared by the call.
QStringList TakeShownTitles();
/// Test hook: forgets queued answers and shown titles, and from now on answers every dialog that
/// has no queued answer with Cancel instead of waiting for a user.
void ResetTestHooks();

} // namespace FileDialog
