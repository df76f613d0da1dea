#include "LinkColumn.h"

#include <array>

QString LinkColumnName(LinkColumn kind)
{
    static const std::array<const char*, kLinkColumnCount> names = {
        "Status", "Project",     "Partner",    "Anchor",    "First Start", "Start",          "End",    "Full cost",
        "Price",  "Starting PR", "Current PR", "From page", "To Page",     "External links", "Comment"};
    const int index = ColumnIndex(kind);
    if (index < 0 || index >= kLinkColumnCount)
        return {};
    return QString::fromLatin1(names[static_cast<std::size_t>(index)]);
}
