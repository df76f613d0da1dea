#pragma once

#include <QString>

#include <string>

class QFormLayout;
class QLineEdit;
class QWidget;

namespace OptionsSupport {

QString FromStd(const std::string& s);
std::string ToStd(const QString& s);

/// Adds a row of a label and its edit field (the label's buddy) named `objectName`.
QLineEdit* AddField(QFormLayout* form, const QString& label, const QString& hint, const char* objectName);
/// Dialog chores every options dialog shares: the title doubles as the accessible name, and each
/// field is named after its label.
void FinishDialog(QWidget* dialog, const QString& title);

/// A field whose trimmed text is empty.
bool IsBlank(const QLineEdit* field);
/// Shows `text` as a warning over `dialog`, then puts the focus on `field` with its text selected,
/// so that the user can type the correction at once.
void RefuseField(QWidget* dialog, QLineEdit* field, const QString& text);
/// A port field for the range check: digits only, at most five of them.
void MakePortField(QLineEdit* field);
/// The port the field holds; refuses anything outside 1..65535 with the range message.
bool ReadPortField(QWidget* dialog, QLineEdit* field, int* port);

} // namespace OptionsSupport
