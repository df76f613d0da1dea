#include "LinkCells.h"

#include "LinkColumn.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/records/PartnersManager.h"

#include <array>
#include <bit>
#include <cmath>

namespace {

// The status names are a tiny fixed set; sorting compares them as bytes without building strings.
std::string_view StatusNameView(uint32_t status)
{
    static const std::array<std::string, 8> names = [] {
        std::array<std::string, 8> n;
        for (int bit = 0; bit < 8; ++bit)
            n[static_cast<std::size_t>(bit)] = GetStatusName(1u << bit);
        return n;
    }();
    if (status == 0 || (status & (status - 1)) != 0 || status > 0x80)
        return {};
    return names[static_cast<std::size_t>(std::countr_zero(status))];
}

} // namespace

namespace LinkCells {

// Sorting and fingerprinting 100,000 rows cannot afford a linear partner search per row.
PartnerNames MapPartnerNames(const CPartnersManager* partners)
{
    PartnerNames names;
    if (!partners)
        return names;
    const std::vector<CPartner*> all = partners->GetPartners();
    names.reserve(all.size());
    for (const CPartner* p : all)
        names.emplace(p->GetId(), p->GetName()); // the first partner of an id wins, as FindById does
    return names;
}

std::string_view NameOf(const PartnerNames& names, int32_t id)
{
    if (id == -1)
        return {};
    const auto it = names.find(id);
    return it == names.end() ? std::string_view() : it->second;
}

KeyType KeyTypeOf(int kind)
{
    switch (kind) {
    case ColumnFirstStart:
    case ColumnStart:
    case ColumnEnd:
        return KeyType::Date;
    case ColumnFullCost:
    case ColumnPrice:
    case ColumnStartingPR:
    case ColumnCurrentPR:
    case ColumnExternalLinks:
        return KeyType::Integer;
    default:
        return KeyType::Text;
    }
}

std::string_view TextKey(const CLink& link, int kind, const PartnerNames& names)
{
    switch (kind) {
    case ColumnStatus:
        return StatusNameView(link.GetStatus());
    case ColumnProject:
        return link.GetProject();
    case ColumnPartner:
        return NameOf(names, link.GetPartnerId());
    case ColumnAnchor:
        return link.GetAnchor();
    case ColumnFromPage:
        return link.GetFromPage();
    case ColumnToPage:
        return link.GetToPage();
    case ColumnComment:
        return link.GetComment();
    default:
        return {};
    }
}

int64_t IntegerKey(const CLink& link, int kind)
{
    switch (kind) {
    case ColumnFullCost:
        return link.GetCostPerPeriod();
    case ColumnPrice:
        return link.GetCostPerMonth();
    case ColumnStartingPR:
        return link.GetStartingPR();
    case ColumnCurrentPR:
        return link.GetStatus() == 0 ? -1 : link.GetCurrentPR();
    case ColumnExternalLinks:
        return link.GetStatus() == 0 ? -1 : link.GetExternalLinks();
    default:
        return 0;
    }
}

OleDateTime DateOf(const CLink& link, int kind)
{
    switch (kind) {
    case ColumnFirstStart:
        return link.GetFirstPaymentDate();
    case ColumnStart:
        return link.GetLastPaymentDate();
    default:
        return link.GetExpiryDate();
    }
}

// Before 30 December 1899 the fraction of an OLE date counts forward from the negative day, so the
// raw value does not order; this day count does.
double LinearDays(const OleDateTime& date)
{
    const double v = date.GetValue();
    if (v >= 0)
        return v;
    const double day = std::ceil(v);
    return day + (day - v);
}

std::string_view ShownText(const CLink& link, int kind, std::string_view partnerName, std::string& scratch)
{
    const uint32_t status = link.GetStatus();
    const auto number = [&scratch](int64_t value) -> std::string_view {
        scratch = std::to_string(value);
        return scratch;
    };
    switch (kind) {
    case ColumnStatus:
        if (status == 0)
            return "?";
        return StatusNameView(status);
    case ColumnPartner:
        return partnerName;
    case ColumnFirstStart:
    case ColumnStart:
    case ColumnEnd:
        scratch = FormatDate(DateOf(link, kind));
        return scratch;
    case ColumnFullCost:
    case ColumnPrice:
    case ColumnStartingPR:
        return number(IntegerKey(link, kind));
    case ColumnCurrentPR:
    case ColumnExternalLinks:
        return status == 0 ? std::string_view("-") : number(IntegerKey(link, kind));
    default:
        return TextKey(link, kind, {});
    }
}

bool KindCanShow(int kind, std::string_view text, bool upperCased)
{
    // What ShownText writes for them: "MM/DD/YY", "Invalid DateTime" or nothing; a number or "-".
    const auto madeOf = [text](std::string_view characters, std::size_t longest) {
        return text.size() <= longest && text.find_first_not_of(characters) == std::string_view::npos;
    };
    switch (KeyTypeOf(kind)) {
    case KeyType::Date:
        return madeOf("0123456789/", 8) ||
               std::string_view(upperCased ? "INVALID DATETIME" : "Invalid DateTime").find(text) !=
                   std::string_view::npos;
    case KeyType::Integer:
        return madeOf("0123456789-", 20);
    case KeyType::Text:
        break;
    }
    return true;
}

} // namespace LinkCells
