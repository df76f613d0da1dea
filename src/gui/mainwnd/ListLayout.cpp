#include "ListLayout.h"

#include "gui/widgets/ColumnLayout.h"

namespace {

constexpr int kDefaultWidth = 70;

using ColumnLayout::GetInt32;
using ColumnLayout::PutInt32;

} // namespace

ListLayout ListLayout::Defaults()
{
    ListLayout layout;
    for (int i = 0; i < kLinkColumnCount; ++i) {
        layout.columnOrder[static_cast<std::size_t>(i)] = i;
        layout.columnVisible[static_cast<std::size_t>(i)] = i == ColumnIndex(LinkColumn::FirstStart) ? 0 : 1;
        layout.columnWidth[static_cast<std::size_t>(i)] = kDefaultWidth;
    }
    return layout;
}

ListLayout ListLayout::FromBytes(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() != kBytes)
        return Defaults();
    ListLayout layout;
    std::size_t pos = 0;
    layout.columnCount = GetInt32(bytes, pos);
    for (auto& v : layout.columnOrder)
        v = GetInt32(bytes, pos);
    for (auto& v : layout.columnVisible)
        v = GetInt32(bytes, pos);
    for (auto& v : layout.columnWidth)
        v = GetInt32(bytes, pos);
    layout.sortColumn = GetInt32(bytes, pos);
    layout.sortDescending = GetInt32(bytes, pos);
    return layout;
}

std::vector<uint8_t> ListLayout::ToBytes() const
{
    std::vector<uint8_t> out;
    out.reserve(kBytes);
    PutInt32(out, columnCount);
    for (int32_t v : columnOrder)
        PutInt32(out, v);
    for (int32_t v : columnVisible)
        PutInt32(out, v);
    for (int32_t v : columnWidth)
        PutInt32(out, v);
    PutInt32(out, sortColumn);
    PutInt32(out, sortDescending);
    return out;
}

std::vector<LinkColumn> ListLayout::ShownKinds() const
{
    std::vector<LinkColumn> kinds;
    for (int section : ColumnLayout::ShownKinds(columnVisible))
        kinds.push_back(LinkColumnAt(section));
    return kinds;
}

int ListLayout::HeaderIndexOf(LinkColumn kind) const
{
    return ColumnLayout::HeaderIndexOf(ColumnLayout::ShownKinds(columnVisible), ColumnIndex(kind));
}
