#include "EditingSupport.h"

#include "core/records/PartnersManager.h"

#include <QDateEdit>

#include <climits>

CPartner* AddPartnerFromDialog(CPartnersManager& partners, const std::function<void()>& addPartner)
{
    const std::size_t before = partners.GetCount();
    if (addPartner)
        addPartner();
    return partners.GetCount() > before ? partners.GetPartners().back() : nullptr;
}

bool CWholeAmountValidator::HasSeparator(const QString& text)
{
    return text.contains(QLatin1Char('.')) || text.contains(QLatin1Char(','));
}

QValidator::State CWholeAmountValidator::validate(QString& input, int&) const
{
    if (input.isEmpty())
        return Intermediate;
    for (const QChar c : input)
        if (!c.isDigit() && c != QLatin1Char('.') && c != QLatin1Char(','))
            return Invalid;
    if (HasSeparator(input))
        return Intermediate;
    // The record keeps a signed 32-bit figure; a longer one could not be stored as typed.
    bool ok = false;
    const qulonglong value = input.toULongLong(&ok);
    return ok && value <= static_cast<qulonglong>(INT_MAX) ? Acceptable : Invalid;
}

void PrepareEndDate(QDateEdit* end)
{
    end->setMinimumDate(kNeverShown);
    end->setSpecialValueText(QDateEdit::tr("Never"));
}

void ShowEndDate(QDateEdit* end, bool permanent, const QDate& date)
{
    end->setDate(permanent ? kNeverShown : date);
}
