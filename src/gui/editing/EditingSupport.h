#pragma once

#include <QString>

#include <functional>
#include <string>

#include "core/records/OleDateTime.h"

#include <QDate>

class CPartner;
class CPartnersManager;
class QWidget;

/// The day a date picker shows for a stored date; today for a date without calendar parts.
QDate ToQDate(const OleDateTime& date);
/// A picker's day as a stored date (midnight).
OleDateTime ToOleDate(const QDate& date);

/// Gives every field the text of the label whose buddy it is, without the mnemonic's "&", as its
/// accessible name: the .ui declares each pairing once and screen readers announce the label.
void NameFieldsByTheirLabels(QWidget* dialog);

/// Runs the new-partner command of a link dialog: the partner it added, or null when the user
/// cancelled it.
CPartner* AddPartnerFromDialog(CPartnersManager& partners, const std::function<void()>& addPartner);

/// A stored multi-line comment for an edit box, and back: the records keep the "\r\n" line
/// breaks of the edit controls that older versions wrote, so a comment saved untouched comes back
/// byte for byte.
QString CommentForEditing(const std::string& stored);
std::string CommentForStoring(const QString& edited);
