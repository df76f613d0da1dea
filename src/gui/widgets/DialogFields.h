#pragma once

#include "core/records/OleDateTime.h"

#include <QDate>
#include <QString>

#include <string>

class QWidget;

// What every dialog's fields share: their accessible names, dates in pickers, comments in edit boxes.

/// Gives every field the text of the label whose buddy it is, without the mnemonic's "&", as its
/// accessible name: the .ui declares each pairing once and screen readers announce the label.
void NameFieldsByTheirLabels(QWidget* dialog);

/// The day a date picker shows for a stored date; today for a date without calendar parts.
QDate ToQDate(const OleDateTime& date);
/// A picker's day as a stored date (midnight).
OleDateTime ToOleDate(const QDate& date);

/// A stored multi-line comment for an edit box, and back: the records keep the "\r\n" line
/// breaks of the edit controls that older versions wrote, so a comment saved untouched comes back
/// byte for byte.
QString CommentForEditing(const std::string& stored);
std::string CommentForStoring(const QString& edited);
