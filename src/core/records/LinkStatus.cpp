#include "LinkStatus.h"

#include <array>

namespace {

struct StatusRow
{
    uint32_t mask;
    const char* name;
};

constexpr std::array<StatusRow, 8> kStatusNames = {{
    {StatusOk, "Ok"},
    {StatusExpiring, "Expiring"},
    {StatusExpired, "Expired"},
    {StatusNotPresent, "Not present"},
    {StatusInvalidText, "Invalid text"},
    {StatusNofollow, "nofollow"},
    {StatusRobots, "robots.txt"},
    {StatusCantOpen, "Can't open page"},
}};

} // namespace

std::string GetStatusName(uint32_t value)
{
    if (value < 1 || value > 255)
        return {};
    for (const StatusRow& row : kStatusNames)
        if (row.mask == value)
            return row.name;
    return {};
}

uint32_t StatusFilterFromName(std::string_view text)
{
    if (text == "(All links)")
        return 0;
    if (text == "(All Ok)")
        return StatusOk;
    if (text == "(All Expiring)")
        return StatusExpiring;
    if (text == "(All Problematic)")
        return StatusProblematicMask;
    for (const StatusRow& row : kStatusNames)
        if (text == row.name)
            return row.mask;
    return 0;
}
