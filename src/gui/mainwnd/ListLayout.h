#pragma once

#include "LinkColumn.h"

#include <array>
#include <cstdint>
#include <vector>

/// The stored layout of the links list: 48 little-endian 32-bit integers. Order and sort column
/// are header indexes (counting shown kinds in kind order); visibility and width are per kind.
struct ListLayout
{
    static constexpr std::size_t kBytes = 192;

    int32_t columnCount = kLinkColumnCount;
    std::array<int32_t, kLinkColumnCount> columnOrder{};
    std::array<int32_t, kLinkColumnCount> columnVisible{};
    std::array<int32_t, kLinkColumnCount> columnWidth{};
    int32_t sortColumn = 1;
    int32_t sortDescending = 1;

    static ListLayout Defaults();
    /// Anything but exactly 192 bytes gives the defaults.
    static ListLayout FromBytes(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> ToBytes() const;

    /// The shown kinds in kind order: element h is the kind of header index h.
    std::vector<LinkColumn> ShownKinds() const;
    /// The header index of `kind`, or -1 when it is hidden.
    int HeaderIndexOf(LinkColumn kind) const;
};
