#pragma once

// Test hooks of the window: how tests drive its modal flows and its hand-overs to the desktop
// without a user. Nothing a user does reaches them; the list of every hook of the program is in
// core/platform/TestHooks.h, beside the core's own.

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

class QDialog;
class QWidget;

namespace TestHooks {

/// The next message box is not shown but answered with `answer` (queued, first in first out).
void SetNextMessageBoxAnswer(QMessageBox::StandardButton answer);
/// The texts of the message boxes shown or answered so far; cleared by the call.
QStringList TakeMessageBoxTexts();
/// The next file dialog is not shown but answered with `path` (queued, first in first out; ""
/// answers Cancel). Save answers still get the default extension.
void SetNextFileDialogAnswer(const QString& path);
/// The titles of the file dialogs shown or answered so far; cleared by the call.
QStringList TakeFileDialogTitles();
/// Forgets queued answers and what was shown, and from now on answers every message box and
/// file dialog that has no queued answer at once (OK, No to a question, Cancel to a file dialog)
/// instead of waiting for a user.
void AnswerDialogsWithoutUser();
/// What stands in for the desktop's programs (true = opened); an empty function restores them.
void SetDesktopOpener(std::function<bool(const QUrl&)> opener);

// What the program's wrappers ask of the hooks.

/// The answer to a message box about to show `text` when tests answer it; nothing when a user must.
std::optional<QMessageBox::StandardButton> ScriptedMessageBoxAnswer(const QString& text,
                                                                    QMessageBox::StandardButtons buttons);
/// The answer to a file dialog titled `title` when tests answer it; nothing when a user must.
std::optional<QString> ScriptedFileDialogAnswer(const QString& title);
/// The stand-in for the desktop, or an empty function.
const std::function<bool(const QUrl&)>& DesktopOpener();
/// With $ORVEX_SCREENSHOT set: `window` writes a picture of itself there once drawn, then closes.
void PhotographWhenAsked(QWidget& window);
/// With $ORVEX_TEST_CRASH_DIALOG_PROBE set: `dialog` writes its title, texts, buttons and
/// `reportPath` into that file, then closes as "Don't Send" would.
void DescribeCrashDialogWhenAsked(QDialog& dialog, const QString& reportPath);

} // namespace TestHooks
