#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

/// Every message box of the program goes through here: the caption is the program's name, and
/// tests can answer the next questions without a user.
namespace MessageBox {

/// OK with the exclamation icon: failures and validation errors.
void Warn(QWidget* parent, const QString& text);
/// OK with the information icon: what a finished command did.
void Inform(QWidget* parent, const QString& text);
/// Yes/No; true for Yes.
bool AskYesNo(QWidget* parent, const QString& text, QMessageBox::Icon icon = QMessageBox::Question);

/// Test hook: the next box is not shown but answered with `answer` (queued, first in first out).
void SetNextAnswer(QMessageBox::StandardButton answer);
/// Test hook: the texts of the boxes shown or answered so far; cleared by the call.
QStringList TakeShownTexts();
/// Test hook: forgets queued answers and shown texts, and from now on answers every box that
/// has no queued answer at once (OK, or No for questions) instead of waiting for a user.
void ResetTestHooks();

} // namespace MessageBox
