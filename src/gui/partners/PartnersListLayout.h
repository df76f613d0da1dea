#pragma once

#include "PartnerColumn.h"

#include <array>
#include <cstdint>
#include <vector>

/// The stored layout of the partners list: 31 little-endian 32-bit integers. The order holds
/// header indexes (counting shown kinds in kind order); visibility and width are per kind. The
/// sort is not stored.
struct PartnersListLayout
{
    static constexpr std::size_t kBytes = 124;

    int32_t columnCount = kPartnerColumnCount;
    std::array<int32_t, kPartnerColumnCount> columnOrder{};
    std::array<int32_t, kPartnerColumnCount> columnVisible{};
    std::array<int32_t, kPartnerColumnCount> columnWidth{};

    static PartnersListLayout Defaults();
    /// Anything but exactly 124 bytes gives the defaults.
    static PartnersListLayout FromBytes(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> ToBytes() const;

    /// The shown kinds in kind order: element h is the kind of header index h.
    std::vector<PartnerColumn> ShownKinds() const;
};
