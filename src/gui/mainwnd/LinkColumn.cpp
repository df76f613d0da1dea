#include "LinkColumn.h"

#include <array>

QString LinkColumnName(int kind)
{
    static const std::array<const char*, kLinkColumnCount> names = {
        "Status", "Project",     "Partner",    "Anchor",    "First Start", "Start",          "End",    "Full cost",
        "Price",  "Starting PR", "Current PR", "From page", "To Page",     "External links", "Comment"};
    if (kind < 0 || kind >= kLinkColumnCount)
        return {};
    return QString::fromLatin1(names[static_cast<std::size_t>(kind)]);
}
