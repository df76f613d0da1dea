#pragma once

#include <QMessageBox>
#include <QString>

/// Every message box of the program goes through here: the caption is the program's name, and
/// tests can answer the next questions without a user (TestHooks.h).
namespace MessageBox {

/// OK with the exclamation icon: failures and validation errors.
void Warn(QWidget* parent, const QString& text);
/// OK with the information icon: what a finished command did.
void Inform(QWidget* parent, const QString& text);
/// Yes/No; true for Yes.
bool AskYesNo(QWidget* parent, const QString& text, QMessageBox::Icon icon = QMessageBox::Question);

} // namespace MessageBox
