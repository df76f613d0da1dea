#pragma once

#include "gui/widgets/ColumnKinds.h"

#include <QString>

#include <string>

class CPartner;

/// The ten column kinds of the partners list, in their fixed order. A kind's number is its section
/// in the list's header (its logical index) and its place in the stored layout's per-kind arrays,
/// so the order is part of what is stored.
enum class PartnerColumn
{
    Name,
    Organization,
    Email,
    Icq,
    Phone,
    PaymentType1,
    PaymentId1,
    PaymentType2,
    PaymentId2,
    Comment,
};
inline constexpr int kPartnerColumnCount = 10;

/// The kind shown in header section `section`, which the caller has checked is one.
constexpr PartnerColumn PartnerColumnAt(int section)
{
    return static_cast<PartnerColumn>(section);
}
static_assert(ColumnIndex(PartnerColumn::Comment) == kPartnerColumnCount - 1);

/// Every kind, in kind order.
inline constexpr const auto& kPartnerColumns = kAllColumnKinds<PartnerColumn, kPartnerColumnCount>;

/// Header text of a kind, also its name in the column menu.
QString PartnerColumnTitle(PartnerColumn kind);
/// The stored field a kind shows; it is also the kind's sort key.
std::string PartnerField(const CPartner& partner, PartnerColumn kind);
/// The cell text of a kind: the field, with the comment's line breaks shown as blanks.
QString PartnerCellText(const CPartner& partner, PartnerColumn kind);
