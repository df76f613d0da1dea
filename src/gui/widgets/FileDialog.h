#pragma once

#include <QString>
#include <QStringList>

class QWidget;

/// Every file dialog of the program goes through here, so that tests can answer them without a
/// user (TestHooks.h). An empty path means the user cancelled.
namespace FileDialog {

/// An existing file to read. `filters` as QFileDialog takes them ("Text Files (*.txt)"); the
/// dialog starts at `start` (a file or folder) when it is given.
QString AskOpenFile(QWidget* parent, const QString& title, const QStringList& filters, const QString& start = {});
/// A file to write. A name without an extension gets `extension` (".txt") before the question
/// about overwriting, which is asked only with `confirmOverwrite`.
QString AskSaveFile(QWidget* parent, const QString& title, const QStringList& filters, const QString& extension,
                    bool confirmOverwrite);

} // namespace FileDialog
