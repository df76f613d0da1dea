#include "ColumnLayout.h"

#include <QFontMetrics>
#include <QHeaderView>

#include <algorithm>

namespace ColumnLayout {

void PutInt32(std::vector<uint8_t>& out, int32_t value)
{
    const auto u = static_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(u >> shift));
}

int32_t GetInt32(const std::vector<uint8_t>& in, std::size_t& pos)
{
    uint32_t u = 0;
    for (std::size_t i = 0; i < 4; ++i)
        u |= static_cast<uint32_t>(in[pos + i]) << (8 * i);
    pos += 4;
    return static_cast<int32_t>(u);
}

std::vector<int> ShownKinds(std::span<const int32_t> visible)
{
    std::vector<int> shown;
    for (std::size_t kind = 0; kind < visible.size(); ++kind)
        if (visible[kind] != 0)
            shown.push_back(static_cast<int>(kind));
    return shown;
}

int HeaderIndexOf(const std::vector<int>& shown, int kind)
{
    const auto it = std::find(shown.begin(), shown.end(), kind);
    return it == shown.end() ? -1 : static_cast<int>(it - shown.begin());
}

void ApplyToHeader(QHeaderView& header, int32_t count, std::span<const int32_t> order, std::span<const int32_t> visible,
                   std::span<const int32_t> width)
{
    const std::vector<int> shown = ShownKinds(visible);
    const auto shownCount = static_cast<int>(shown.size());

    std::vector<int> display(shown.size());
    bool valid = count == shownCount && order.size() >= shown.size();
    std::vector<char> seen(shown.size(), 0);
    for (int i = 0; valid && i < shownCount; ++i) {
        const int h = order[static_cast<std::size_t>(i)];
        valid = h >= 0 && h < shownCount && !seen[static_cast<std::size_t>(h)];
        if (valid) {
            seen[static_cast<std::size_t>(h)] = 1;
            display[static_cast<std::size_t>(i)] = h;
        }
    }
    if (!valid)
        for (int i = 0; i < shownCount; ++i)
            display[static_cast<std::size_t>(i)] = i;

    for (std::size_t kind = 0; kind < visible.size(); ++kind) {
        const int section = static_cast<int>(kind);
        header.setSectionHidden(section, visible[kind] == 0);
        header.resizeSection(section, std::clamp<int>(width[kind], 0, kMaxWidth));
    }
    for (int i = 0; i < shownCount; ++i) {
        const int kind = shown[static_cast<std::size_t>(display[static_cast<std::size_t>(i)])];
        header.moveSection(header.visualIndex(kind), i);
    }
}

void ReadFromHeader(const QHeaderView& header, int32_t& count, std::span<int32_t> order, std::span<int32_t> visible,
                    std::span<int32_t> width)
{
    const int kinds = static_cast<int>(visible.size());
    std::vector<int> shown;
    for (int kind = 0; kind < kinds; ++kind) {
        const bool isShown = !header.isSectionHidden(kind);
        visible[static_cast<std::size_t>(kind)] = isShown ? 1 : 0;
        if (isShown) {
            shown.push_back(kind);
            width[static_cast<std::size_t>(kind)] = header.sectionSize(kind);
        }
    }
    count = static_cast<int32_t>(shown.size());
    std::size_t i = 0;
    for (int visual = 0; visual < kinds; ++visual) {
        const int kind = header.logicalIndex(visual);
        if (kind >= 0 && kind < kinds && !header.isSectionHidden(kind))
            order[i++] = HeaderIndexOf(shown, kind);
    }
    for (; i < order.size(); ++i)
        order[i] = static_cast<int32_t>(i);
}

void ToggleKind(int kind, int32_t& count, std::span<int32_t> order, std::span<int32_t> visible)
{
    if (kind < 0 || static_cast<std::size_t>(kind) >= visible.size())
        return;
    std::vector<int> display(order.begin(), order.begin() + std::clamp<int32_t>(count, 0, int32_t(order.size())));
    int32_t& isShown = visible[static_cast<std::size_t>(kind)];
    if (isShown) {
        const int h = HeaderIndexOf(ShownKinds(visible), kind);
        display.erase(std::remove(display.begin(), display.end(), h), display.end());
        for (int& v : display)
            if (v > h)
                --v;
        isShown = 0;
    } else {
        isShown = 1;
        const int h = HeaderIndexOf(ShownKinds(visible), kind);
        for (int& v : display)
            if (v >= h)
                ++v;
        display.insert(display.begin() + std::min<int>(h, static_cast<int>(display.size())), h);
    }
    count = static_cast<int32_t>(display.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i < display.size() ? display[i] : static_cast<int32_t>(i);
}

int FittedWidth(const QHeaderView& header, int section, const QFontMetrics& metrics, int rows, int padding,
                int maxWidth, const CellTextFn& cellText)
{
    int cells = 0;
    for (int row = 0; row < rows && cells < maxWidth; ++row)
        cells = std::max(cells, metrics.horizontalAdvance(cellText(row, section)) + padding);
    // The header's hint holds its text, margins and the room of the sort arrow.
    return std::max(header.sectionSizeHint(section), std::min(cells, maxWidth));
}

} // namespace ColumnLayout
