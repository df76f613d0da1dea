#include "PartnerColumn.h"

#include "core/records/Partner.h"

namespace {

QString FromStd(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

QString PartnerColumnTitle(int kind)
{
    switch (kind) {
    case PartnerColumnName:
        return QStringLiteral("Name");
    case PartnerColumnOrganization:
        return QStringLiteral("Organization");
    case PartnerColumnEmail:
        return QStringLiteral("E-mail");
    case PartnerColumnIcq:
        return QStringLiteral("ICQ");
    case PartnerColumnPhone:
        return QStringLiteral("Phone");
    case PartnerColumnPaymentType1:
        return QStringLiteral("Payment type 1");
    case PartnerColumnPaymentId1:
        return QStringLiteral("Payment id 1");
    case PartnerColumnPaymentType2:
        return QStringLiteral("Payment type 2");
    case PartnerColumnPaymentId2:
        return QStringLiteral("Payment id 2");
    case PartnerColumnComment:
        return QStringLiteral("Comment");
    default:
        return {};
    }
}

std::string PartnerField(const CPartner& partner, int kind)
{
    switch (kind) {
    case PartnerColumnName:
        return partner.GetName();
    case PartnerColumnOrganization:
        return partner.GetOrganization();
    case PartnerColumnEmail:
        return partner.GetEmail();
    case PartnerColumnIcq:
        return partner.GetIcq();
    case PartnerColumnPhone:
        return partner.GetPhone();
    case PartnerColumnPaymentType1:
        return partner.GetPaymentType(0);
    case PartnerColumnPaymentId1:
        return partner.GetPaymentId(0);
    case PartnerColumnPaymentType2:
        return partner.GetPaymentType(1);
    case PartnerColumnPaymentId2:
        return partner.GetPaymentId(1);
    case PartnerColumnComment:
        return partner.GetComments();
    default:
        return {};
    }
}

QString PartnerCellText(const CPartner& partner, int kind)
{
    QString text = FromStd(PartnerField(partner, kind));
    if (kind == PartnerColumnComment)
        text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    return text;
}
