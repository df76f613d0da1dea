#pragma once

#include <QString>

#include <string>

class CPartner;

/// The ten column kinds of the partners list, in their fixed order.
enum PartnerColumnKind : int
{
    PartnerColumnName = 0,
    PartnerColumnOrganization,
    PartnerColumnEmail,
    PartnerColumnIcq,
    PartnerColumnPhone,
    PartnerColumnPaymentType1,
    PartnerColumnPaymentId1,
    PartnerColumnPaymentType2,
    PartnerColumnPaymentId2,
    PartnerColumnComment,
};
inline constexpr int kPartnerColumnCount = 10;

/// Header text of a kind, also its name in the column menu.
QString PartnerColumnTitle(int kind);
/// The stored field a kind shows; it is also the kind's sort key.
std::string PartnerField(const CPartner& partner, int kind);
/// The cell text of a kind: the field, with the comment's line breaks shown as blanks.
QString PartnerCellText(const CPartner& partner, int kind);
