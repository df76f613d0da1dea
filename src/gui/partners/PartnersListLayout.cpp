#include "PartnersListLayout.h"

#include "gui/widgets/ColumnLayout.h"

namespace {

constexpr int kDefaultWidth = 70;

} // namespace

PartnersListLayout PartnersListLayout::Defaults()
{
    PartnersListLayout layout;
    for (std::size_t i = 0; i < kPartnerColumnCount; ++i) {
        layout.columnOrder[i] = static_cast<int32_t>(i);
        layout.columnVisible[i] = 1;
        layout.columnWidth[i] = kDefaultWidth;
    }
    return layout;
}

PartnersListLayout PartnersListLayout::FromBytes(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() != kBytes)
        return Defaults();
    PartnersListLayout layout;
    std::size_t pos = 0;
    layout.columnCount = ColumnLayout::GetInt32(bytes, pos);
    for (auto& v : layout.columnOrder)
        v = ColumnLayout::GetInt32(bytes, pos);
    for (auto& v : layout.columnVisible)
        v = ColumnLayout::GetInt32(bytes, pos);
    for (auto& v : layout.columnWidth)
        v = ColumnLayout::GetInt32(bytes, pos);
    return layout;
}

std::vector<uint8_t> PartnersListLayout::ToBytes() const
{
    std::vector<uint8_t> out;
    out.reserve(kBytes);
    ColumnLayout::PutInt32(out, columnCount);
    for (int32_t v : columnOrder)
        ColumnLayout::PutInt32(out, v);
    for (int32_t v : columnVisible)
        ColumnLayout::PutInt32(out, v);
    for (int32_t v : columnWidth)
        ColumnLayout::PutInt32(out, v);
    return out;
}

std::vector<PartnerColumn> PartnersListLayout::ShownKinds() const
{
    std::vector<PartnerColumn> kinds;
    for (int section : ColumnLayout::ShownKinds(columnVisible))
        kinds.push_back(PartnerColumnAt(section));
    return kinds;
}
