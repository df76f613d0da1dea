#pragma once

#include <cstdint>
#include <string>
#include <string_view>

/// Result of a link's last check: exactly one bit, or 0 for a link never checked.
/// Filters combine bits into masks.
enum LinkStatus : uint32_t
{
    StatusNone = 0x00,
    StatusOk = 0x01,
    StatusExpiring = 0x02,
    StatusExpired = 0x04,
    StatusNotPresent = 0x08,
    StatusInvalidText = 0x10,
    StatusNofollow = 0x20,
    StatusRobots = 0x40,
    StatusCantOpen = 0x80,
};

/// Every status from Expired upward: the links that need the user's attention.
constexpr uint32_t StatusProblematicMask = 0x1FC;

/// The display name of a single status ("Ok", "Can't open page"); "" for 0 or a combination.
std::string GetStatusName(uint32_t value);

/// The mask a status filter box entry selects ("(All Problematic)", a display name); 0 = everything.
uint32_t StatusFilterFromName(std::string_view text);
