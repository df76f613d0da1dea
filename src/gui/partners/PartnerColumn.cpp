#include "PartnerColumn.h"

#include "core/records/Partner.h"

namespace {

QString FromStd(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

QString PartnerColumnTitle(PartnerColumn kind)
{
    switch (kind) {
    case PartnerColumn::Name:
        return QStringLiteral("Name");
    case PartnerColumn::Organization:
        return QStringLiteral("Organization");
    case PartnerColumn::Email:
        return QStringLiteral("E-mail");
    case PartnerColumn::Icq:
        return QStringLiteral("ICQ");
    case PartnerColumn::Phone:
        return QStringLiteral("Phone");
    case PartnerColumn::PaymentType1:
        return QStringLiteral("Payment type 1");
    case PartnerColumn::PaymentId1:
        return QStringLiteral("Payment id 1");
    case PartnerColumn::PaymentType2:
        return QStringLiteral("Payment type 2");
    case PartnerColumn::PaymentId2:
        return QStringLiteral("Payment id 2");
    case PartnerColumn::Comment:
        return QStringLiteral("Comment");
    default:
        return {};
    }
}

std::string PartnerField(const CPartner& partner, PartnerColumn kind)
{
    switch (kind) {
    case PartnerColumn::Name:
        return partner.GetName();
    case PartnerColumn::Organization:
        return partner.GetOrganization();
    case PartnerColumn::Email:
        return partner.GetEmail();
    case PartnerColumn::Icq:
        return partner.GetIcq();
    case PartnerColumn::Phone:
        return partner.GetPhone();
    case PartnerColumn::PaymentType1:
        return partner.GetPaymentType(0);
    case PartnerColumn::PaymentId1:
        return partner.GetPaymentId(0);
    case PartnerColumn::PaymentType2:
        return partner.GetPaymentType(1);
    case PartnerColumn::PaymentId2:
        return partner.GetPaymentId(1);
    case PartnerColumn::Comment:
        return partner.GetComments();
    default:
        return {};
    }
}

QString PartnerCellText(const CPartner& partner, PartnerColumn kind)
{
    QString text = FromStd(PartnerField(partner, kind));
    if (kind == PartnerColumn::Comment)
        text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    return text;
}
