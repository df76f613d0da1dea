#pragma once

#include <array>
#include <type_traits>

// The kinds of a list's columns are an enumeration numbered as their header sections, which is
// also their place in per-kind arrays and in the stored layouts: the order never changes.

/// The header section of `kind`, and its place in per-kind arrays.
template <typename Kind>
requires std::is_enum_v<Kind>
constexpr int ColumnIndex(Kind kind)
{
    return static_cast<int>(kind);
}

/// Every kind of a list of `Count` columns, in kind order.
template <typename Kind, int Count>
requires std::is_enum_v<Kind>
inline constexpr std::array<Kind, Count> kAllColumnKinds = [] {
    std::array<Kind, Count> kinds{};
    for (int section = 0; section < Count; ++section)
        kinds[static_cast<std::size_t>(section)] = static_cast<Kind>(section);
    return kinds;
}();
