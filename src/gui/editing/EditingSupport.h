#pragma once

#include <QValidator>

#include <functional>

class CPartner;
class CPartnersManager;
class QDateEdit;

/// Runs the new-partner command of a link dialog: the partner it added, or null when the user
/// cancelled it.
CPartner* AddPartnerFromDialog(CPartnersManager& partners, const std::function<void()>& addPartner);

/// A cost field: whole amounts up to the largest the record keeps. A decimal point or comma is let
/// through, so nothing typed silently vanishes ("12.50" must never become 1250), but such a text is
/// not acceptable: the dialog shows its hint and refuses to save it.
class CWholeAmountValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
    /// The text holds a decimal point or comma.
    static bool HasSeparator(const QString& text);
};

/// The end-date box of a deal, able to show "Never" for a permanent one; it then holds
/// kNeverShown, which no real date of a deal is.
inline const QDate kNeverShown(100, 1, 1);
void PrepareEndDate(QDateEdit* end);
/// Shows `date`, or "Never" when `permanent`.
void ShowEndDate(QDateEdit* end, bool permanent, const QDate& date);
