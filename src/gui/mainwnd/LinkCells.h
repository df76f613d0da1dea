#pragma once

// What a link shows in each column kind of the links list, and the keys the list sorts it by. The
// list's cells and Find both read these, so they cannot disagree about what is shown.

#include "LinkColumn.h"
#include "core/records/OleDateTime.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

class CLink;
class CPartnersManager;

namespace LinkCells {

/// Partner names by identifier, for walks over many rows.
using PartnerNames = std::unordered_map<int32_t, std::string_view>;
/// Every partner's name by identifier; empty for no collection.
PartnerNames MapPartnerNames(const CPartnersManager* partners);
/// The name of partner `id`; "" for none (-1) or an unknown one.
std::string_view NameOf(const PartnerNames& names, int32_t id);

/// How a kind sorts.
enum class KeyType
{
    Text,
    Integer,
    Date,
};
KeyType KeyTypeOf(LinkColumn kind);

/// The sort key of a text kind (partner names from `names`); "" for other kinds.
std::string_view TextKey(const CLink& link, LinkColumn kind, const PartnerNames& names);
/// The sort key of a number kind; -1 for the check results of an unchecked link, the smallest
/// key for the monthly price a permanent deal does not have.
int64_t IntegerKey(const CLink& link, LinkColumn kind);
/// The date of a date kind.
OleDateTime DateOf(const CLink& link, LinkColumn kind);
/// The sort key of a date kind: null and invalid dates before every date, a permanent deal's End
/// ("Never") after every date.
double DateKey(const CLink& link, LinkColumn kind);
/// A day count that orders dates before 30 December 1899 too.
double LinearDays(const OleDateTime& date);

/// The text a cell shows, in the bytes the records hold (UTF-8); formatted cells are written into
/// `scratch`.
std::string_view ShownText(const CLink& link, LinkColumn kind, std::string_view partnerName, std::string& scratch);

/// Whether a cell of `kind` can show `text` (UTF-8) at all, as it is or, with `upperCased`, in
/// upper case. Dates and numbers show digits and a sign or two, so a search for most texts need
/// not work them out row by row.
bool KindCanShow(LinkColumn kind, std::string_view text, bool upperCased);

} // namespace LinkCells
