#include "LinkCells.h"

#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/records/PartnersManager.h"

#include <array>
#include <bit>
#include <cmath>
#include <limits>

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

KeyType KeyTypeOf(LinkColumn kind)
{
    switch (kind) {
    case LinkColumn::FirstStart:
    case LinkColumn::Start:
    case LinkColumn::End:
        return KeyType::Date;
    case LinkColumn::FullCost:
    case LinkColumn::Price:
    case LinkColumn::StartingPR:
    case LinkColumn::CurrentPR:
    case LinkColumn::ExternalLinks:
        return KeyType::Integer;
    default:
        return KeyType::Text;
    }
}

std::string_view TextKey(const CLink& link, LinkColumn kind, const PartnerNames& names)
{
    switch (kind) {
    case LinkColumn::Status:
        return StatusNameView(link.GetStatus());
    case LinkColumn::Project:
        return link.GetProject();
    case LinkColumn::Partner:
        return NameOf(names, link.GetPartnerId());
    case LinkColumn::Anchor:
        return link.GetAnchor();
    case LinkColumn::FromPage:
        return link.GetFromPage();
    case LinkColumn::ToPage:
        return link.GetToPage();
    case LinkColumn::Comment:
        return link.GetComment();
    default:
        return {};
    }
}

int64_t IntegerKey(const CLink& link, LinkColumn kind)
{
    switch (kind) {
    case LinkColumn::FullCost:
        return link.GetCostPerPeriod();
    case LinkColumn::Price:
        // A permanent deal has no monthly price: it sorts before every amount, negative ones too.
        return link.IsPermanent() ? std::numeric_limits<int64_t>::min() : link.GetCostPerMonth();
    case LinkColumn::StartingPR:
        return link.GetStartingPR();
    case LinkColumn::CurrentPR:
        return link.GetStatus() == 0 ? -1 : link.GetCurrentPR();
    case LinkColumn::ExternalLinks:
        return link.GetStatus() == 0 ? -1 : link.GetExternalLinks();
    default:
        return 0;
    }
}

OleDateTime DateOf(const CLink& link, LinkColumn kind)
{
    switch (kind) {
    case LinkColumn::FirstStart:
        return link.GetFirstPaymentDate();
    case LinkColumn::Start:
        return link.GetLastPaymentDate();
    default:
        return link.GetExpiryDate();
    }
}

double DateKey(const CLink& link, LinkColumn kind)
{
    if (kind == LinkColumn::End && link.IsPermanent())
        return HUGE_VAL;
    const OleDateTime date = DateOf(link, kind);
    return date.IsValid() ? LinearDays(date) : -HUGE_VAL;
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

std::string_view ShownText(const CLink& link, LinkColumn kind, std::string_view partnerName, std::string& scratch)
{
    const uint32_t status = link.GetStatus();
    const auto number = [&scratch](int64_t value) -> std::string_view {
        scratch = std::to_string(value);
        return scratch;
    };
    switch (kind) {
    case LinkColumn::Status:
        if (status == 0)
            return "?";
        return StatusNameView(status);
    case LinkColumn::Partner:
        return partnerName;
    case LinkColumn::FirstStart:
    case LinkColumn::Start:
        scratch = FormatDate(DateOf(link, kind));
        return scratch;
    case LinkColumn::End:
        scratch = FormatExpiryDate(link);
        return scratch;
    case LinkColumn::Price:
        return link.IsPermanent() ? std::string_view() : number(IntegerKey(link, kind));
    case LinkColumn::FullCost:
    case LinkColumn::StartingPR:
        return number(IntegerKey(link, kind));
    case LinkColumn::CurrentPR:
    case LinkColumn::ExternalLinks:
        return status == 0 ? std::string_view("-") : number(IntegerKey(link, kind));
    default:
        return TextKey(link, kind, {});
    }
}

bool KindCanShow(LinkColumn kind, std::string_view text, bool upperCased)
{
    // What ShownText writes for them: "MM/DD/YY", "Invalid DateTime", "Never" or nothing; a number
    // or "-".
    const auto madeOf = [text](std::string_view characters, std::size_t longest) {
        return text.size() <= longest && text.find_first_not_of(characters) == std::string_view::npos;
    };
    switch (KeyTypeOf(kind)) {
    case KeyType::Date:
        return madeOf("0123456789/", 8) ||
               std::string_view(upperCased ? "INVALID DATETIME" : "Invalid DateTime").find(text) !=
                   std::string_view::npos ||
               (kind == LinkColumn::End &&
                std::string_view(upperCased ? "NEVER" : "Never").find(text) != std::string_view::npos);
    case KeyType::Integer:
        return madeOf("0123456789-", 20);
    case KeyType::Text:
        break;
    }
    return true;
}

} // namespace LinkCells
