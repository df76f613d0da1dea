#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

class QFontMetrics;
class QHeaderView;
class QString;

/// The stored column layout of a list whose header holds one logical section per column kind:
/// a count of header items, their display order as header indexes (counting shown kinds in kind
/// order), and per kind its visibility and width. The links list and the partners list store
/// theirs in this shape, as little-endian 32-bit words.
namespace ColumnLayout {

/// Wider than any screen; a stored width beyond it came from a damaged value.
inline constexpr int32_t kMaxWidth = 4000;

void PutInt32(std::vector<uint8_t>& out, int32_t value);
/// Reads the word at `pos` and moves past it; the caller checks the length first.
int32_t GetInt32(const std::vector<uint8_t>& in, std::size_t& pos);

/// The shown kinds in kind order: element h is the kind of header index h.
std::vector<int> ShownKinds(std::span<const int32_t> visible);
/// The header index of `kind` among `shown`, or -1 when it is hidden.
int HeaderIndexOf(const std::vector<int>& shown, int kind);

/// Hides, sizes and orders the header's sections. An order that is not a permutation of the
/// header indexes (a layout written by another version) leaves the kinds in kind order.
void ApplyToHeader(QHeaderView& header, int32_t count, std::span<const int32_t> order, std::span<const int32_t> visible,
                   std::span<const int32_t> width);
/// The header as it is now; hidden kinds keep the width they had in `width`.
void ReadFromHeader(const QHeaderView& header, int32_t& count, std::span<int32_t> order, std::span<int32_t> visible,
                    std::span<int32_t> width);
/// Shows a hidden kind or hides a shown one, keeping the display order of the others; a kind
/// that appears takes its header index as its display position.
void ToggleKind(int kind, int32_t& count, std::span<int32_t> order, std::span<int32_t> visible);

/// The texts a fit measures: the cell of `row` in the column of `section`.
using CellTextFn = std::function<QString(int row, int section)>;

/// The width that shows `section`'s header item whole and the cells of rows 0 to `rows` - 1,
/// drawn in `metrics` with `padding` pixels beside the text; the cells count for at most
/// `maxWidth`, the header text always. Only the rows given are measured, so that fitting a list
/// costs the same however long it is.
int FittedWidth(const QHeaderView& header, int section, const QFontMetrics& metrics, int rows, int padding,
                int maxWidth, const CellTextFn& cellText);

} // namespace ColumnLayout
