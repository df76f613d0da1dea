#include "WorkbookStore.h"

#include "NumberFormat.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace workbook {

Limits& ActiveLimits()
{
    static Limits limits;
    return limits;
}

std::string_view CutUtf8(std::string_view text, size_t limit)
{
    if (text.size() <= limit)
        return text;
    size_t end = limit;
    // Step back over continuation bytes to the start of the sequence that does not fit.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

// ---------------------------------------------------------------------------------------------

std::string_view StringPool::Copy(std::string_view text)
{
    const Limits& limits = ActiveLimits();
    text = CutUtf8(text, limits.maxTextBytes);
    if (m_entries.size() >= limits.maxStrings)
        throw ReadError("the workbook holds more than " + std::to_string(limits.maxStrings) + " texts");
    m_bytes += text.size();
    if (m_bytes > limits.maxStringBytes)
        throw ReadError("the workbook's texts take more than " + std::to_string(limits.maxStringBytes) + " bytes");
    if (text.empty())
        return {};
    if (m_blocks.empty() || m_blockSize - m_blockUsed < text.size()) {
        m_blockSize = std::max<size_t>(1 << 20, text.size());
        m_blocks.push_back(std::make_unique<char[]>(m_blockSize));
        m_blockUsed = 0;
    }
    char* at = m_blocks.back().get() + m_blockUsed;
    std::memcpy(at, text.data(), text.size());
    m_blockUsed += text.size();
    return {at, text.size()};
}

uint32_t StringPool::Append(std::string_view text)
{
    const std::string_view stored = Copy(text);
    m_entries.push_back(stored);
    return static_cast<uint32_t>(m_entries.size() - 1);
}

uint32_t StringPool::Intern(std::string_view text)
{
    const std::string_view cut = CutUtf8(text, ActiveLimits().maxTextBytes);
    if (auto it = m_interned.find(cut); it != m_interned.end())
        return it->second;
    const uint32_t index = Append(cut);
    m_interned.emplace(m_entries[index], index);
    return index;
}

std::string_view StringPool::Get(uint32_t index) const
{
    return index < m_entries.size() ? m_entries[index] : std::string_view();
}

// ---------------------------------------------------------------------------------------------

Store::Store(ProgressFn progress) : m_progress(std::move(progress))
{
    m_formatCodes.emplace_back("General");
    m_formatIsDate.push_back(false);
    m_formatIndex.emplace("General", 0);
}

Sheet& Store::AddSheet(std::string_view name)
{
    if (sheets.size() >= ActiveLimits().maxSheets)
        throw ReadError("the workbook holds more than " + std::to_string(ActiveLimits().maxSheets) + " sheets");
    sheets.emplace_back();
    sheets.back().name = std::string(CutUtf8(name, 1024));
    return sheets.back();
}

void Store::AddCell(Sheet& sheet, int64_t row, int64_t column, CellKind kind, double value, uint32_t format)
{
    const Limits& limits = ActiveLimits();
    if (row < 0 || column < 0 || row >= limits.maxRows || column >= limits.maxColumns)
        return;
    CountCell();
    Cell cell;
    cell.value = value;
    cell.row = static_cast<uint32_t>(row);
    cell.column = static_cast<uint32_t>(column);
    cell.kind = static_cast<uint32_t>(kind);
    cell.format = format < (1u << 14) ? format : 0;
    sheet.cells.push_back(cell);
}

void Store::CountCell()
{
    const Limits& limits = ActiveLimits();
    if (++m_cellCount > limits.maxCells)
        throw ReadError("the workbook holds more than " + std::to_string(limits.maxCells) + " cells");
    if ((m_cellCount & 0xFFFF) == 0 && m_expectedCells > 0)
        Progress(std::min(0.95, static_cast<double>(m_cellCount) / static_cast<double>(m_expectedCells)));
}

void Store::ExpectRoomFor(uint64_t cells) const
{
    const Limits& limits = ActiveLimits();
    if (cells > limits.maxCells || m_cellCount + cells > limits.maxCells)
        throw ReadError("the workbook holds more than " + std::to_string(limits.maxCells) + " cells");
}

void Store::AddShownCell(Sheet& sheet, int64_t row, int64_t column, CellKind kind, double value, uint32_t shown)
{
    const size_t before = sheet.cells.size();
    AddCell(sheet, row, column, kind, value);
    if (sheet.cells.size() == before)
        return;
    if (sheet.shown.size() < before)
        sheet.shown.resize(before, kNoText);
    sheet.shown.push_back(shown);
}

uint32_t Store::FormatIndex(std::string_view code)
{
    if (code.empty())
        return 0;
    const std::string key(code);
    if (auto it = m_formatIndex.find(key); it != m_formatIndex.end())
        return it->second;
    // The cell keeps 14 bits of format; a file with more distinct codes shows the rest as General.
    if (m_formatCodes.size() >= (1u << 14))
        return 0;
    const auto index = static_cast<uint32_t>(m_formatCodes.size());
    m_formatCodes.push_back(key);
    m_formatIsDate.push_back(NumberFormat::IsDateCode(key));
    m_formatIndex.emplace(key, index);
    return index;
}

std::string_view Store::FormatCode(uint32_t index) const
{
    return index < m_formatCodes.size() ? std::string_view(m_formatCodes[index]) : std::string_view("General");
}

bool Store::FormatIsDate(uint32_t index) const
{
    return index < m_formatIsDate.size() && m_formatIsDate[index];
}

void Store::Progress(double fraction)
{
    if (m_progress && !m_progress(std::clamp(fraction, 0.0, 1.0)))
        throw ReadError("cancelled");
}

void Store::Finish(const std::vector<uint32_t>& sharedIds)
{
    for (Sheet& sheet : sheets) {
        auto& cells = sheet.cells;
        auto& shown = sheet.shown;
        if (!shown.empty())
            shown.resize(cells.size(), kNoText);
        const auto byKey = [](const Cell& a, const Cell& b) { return a.Key() < b.Key(); };
        if (!std::is_sorted(cells.begin(), cells.end(), byKey)) {
            if (shown.empty())
                std::stable_sort(cells.begin(), cells.end(), byKey);
            else {
                std::vector<uint32_t> order(cells.size());
                for (size_t i = 0; i < order.size(); ++i)
                    order[i] = static_cast<uint32_t>(i);
                std::stable_sort(order.begin(), order.end(),
                                 [&](uint32_t a, uint32_t b) { return cells[a].Key() < cells[b].Key(); });
                std::vector<Cell> sortedCells(cells.size());
                std::vector<uint32_t> sortedShown(cells.size());
                for (size_t i = 0; i < order.size(); ++i) {
                    sortedCells[i] = cells[order[i]];
                    sortedShown[i] = shown[order[i]];
                }
                cells = std::move(sortedCells);
                shown = std::move(sortedShown);
            }
        }
        // A position given twice keeps its last value.
        size_t out = 0;
        for (size_t i = 0; i < cells.size(); ++i) {
            const bool repeat = out > 0 && cells[out - 1].Key() == cells[i].Key();
            const size_t to = repeat ? out - 1 : out++;
            cells[to] = cells[i];
            if (!shown.empty())
                shown[to] = shown[i];
        }
        cells.resize(out);
        cells.shrink_to_fit();
        if (!shown.empty()) {
            shown.resize(out);
            shown.shrink_to_fit();
        }

        sheet.rowCount = 0;
        for (Cell& cell : cells) {
            if (cell.Kind() == CellKind::SharedText) {
                const auto shared = static_cast<size_t>(cell.value);
                cell.kind = static_cast<uint32_t>(CellKind::Text);
                cell.value = shared < sharedIds.size() ? sharedIds[shared] : static_cast<double>(UINT32_MAX);
            }
        }
        for (auto it = cells.rbegin(); it != cells.rend(); ++it) {
            const bool text = it->Kind() == CellKind::Text || it->Kind() == CellKind::LooseText;
            if (text && strings.Get(static_cast<uint32_t>(it->value)).empty())
                continue;
            sheet.rowCount = static_cast<int32_t>(it->row) + 1;
            break;
        }
    }
}

const Cell* Store::Find(int sheet, int row, int column) const
{
    if (sheet < 0 || static_cast<size_t>(sheet) >= sheets.size() || row < 0 || column < 0 || column >= (1 << 15))
        return nullptr;
    const auto& cells = sheets[static_cast<size_t>(sheet)].cells;
    const uint64_t key = (static_cast<uint64_t>(row) << 16) | static_cast<uint64_t>(column);
    const auto it =
        std::lower_bound(cells.begin(), cells.end(), key, [](const Cell& c, uint64_t k) { return c.Key() < k; });
    return (it != cells.end() && it->Key() == key) ? &*it : nullptr;
}

std::string Store::TextOf(int sheet, const Cell& cell) const
{
    const Sheet& owner = sheets[static_cast<size_t>(sheet)];
    if (!owner.shown.empty() && cell.Kind() != CellKind::Bool) {
        const auto index = static_cast<size_t>(&cell - owner.cells.data());
        if (index < owner.shown.size() && owner.shown[index] != kNoText)
            return std::string(strings.Get(owner.shown[index]));
    }
    switch (cell.Kind()) {
    case CellKind::Number:
        return NumberFormat::Format(cell.value, FormatCode(cell.format));
    case CellKind::Date: {
        if (FormatIsDate(cell.format))
            return NumberFormat::Format(cell.value, FormatCode(cell.format));
        // A date the file gives without a date format (an xls read without its formats, an ods
        // date-time cell without a style) shows in the short date form.
        const bool withTime = cell.value != std::floor(cell.value);
        return NumberFormat::Format(cell.value, withTime ? "m/d/yyyy h:mm" : "m/d/yyyy");
    }
    case CellKind::Bool:
        return cell.value != 0.0 ? "TRUE" : "FALSE";
    case CellKind::Text:
    case CellKind::Error:
    case CellKind::LooseText:
        return std::string(strings.Get(static_cast<uint32_t>(cell.value)));
    case CellKind::SharedText:
        break;
    }
    return {};
}

TempFile::TempFile()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "orvex-workbook-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        throw ReadError(std::string("cannot create a temporary file: ") + std::strerror(errno));
    ::close(fd);
    m_path = pattern;
}

TempFile::~TempFile()
{
    ::unlink(m_path.c_str());
}

void TempFile::Write(std::string_view bytes) const
{
    std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw ReadError("cannot write a temporary file in " + std::filesystem::temp_directory_path().string());
}

std::string ReadWholeFile(const std::string& path)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
        throw ReadError("cannot open " + path + ": " + std::strerror(errno));
    const uint64_t limit = ActiveLimits().maxFileBytes;
    if (static_cast<uint64_t>(st.st_size) > limit)
        throw ReadError("the file is larger than " + std::to_string(limit) + " bytes");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ReadError("cannot open " + path + ": " + std::strerror(errno));
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

} // namespace workbook
