#include "WorkbookBiff.h"

#include "NumberFormat.h"
#include "core/platform/TextEncoding.h"

#include <algorithm>
#include <cstring>

namespace workbook {
namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;

uint16_t U16(std::string_view data, size_t at)
{
    if (at + 2 > data.size())
        return 0;
    return static_cast<uint16_t>(static_cast<unsigned char>(data[at]) |
                                 (static_cast<unsigned char>(data[at + 1]) << 8));
}

uint32_t U32(std::string_view data, size_t at)
{
    if (at + 4 > data.size())
        return 0;
    return static_cast<uint32_t>(U16(data, at)) | (static_cast<uint32_t>(U16(data, at + 2)) << 16);
}

class CompoundFile
{
public:
    explicit CompoundFile(std::string_view file) : m_file(file) {}

    bool Open()
    {
        static const unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        if (m_file.size() < 512 || std::memcmp(m_file.data(), kSignature, 8) != 0)
            return false;
        const uint16_t shift = U16(m_file, 0x1E);
        const uint16_t miniShift = U16(m_file, 0x20);
        if ((shift != 9 && shift != 12) || miniShift != 6)
            return false;
        m_sectorSize = size_t{1} << shift;
        m_miniSectorSize = size_t{1} << miniShift;
        m_miniCutoff = U32(m_file, 0x38);
        m_sectorCount = m_file.size() / m_sectorSize; // a bound for every chain walk

        // The FAT sectors: 109 in the header, the rest in the DIFAT chain.
        const uint32_t fatSectors = U32(m_file, 0x2C);
        if (fatSectors > m_sectorCount)
            return false;
        std::vector<uint32_t> fatList;
        for (uint32_t i = 0; i < 109 && fatList.size() < fatSectors; ++i)
            fatList.push_back(U32(m_file, 0x4C + 4 * i));
        uint32_t difat = U32(m_file, 0x44);
        size_t guard = 0;
        while (fatList.size() < fatSectors && difat < kEndOfChain && guard++ < m_sectorCount) {
            const std::string_view sector = Sector(difat);
            if (sector.empty())
                return false;
            const size_t perSector = m_sectorSize / 4 - 1;
            for (size_t i = 0; i < perSector && fatList.size() < fatSectors; ++i)
                fatList.push_back(U32(sector, 4 * i));
            difat = U32(sector, m_sectorSize - 4);
        }
        for (const uint32_t s : fatList) {
            const std::string_view sector = Sector(s);
            if (sector.empty())
                return false;
            for (size_t i = 0; i < m_sectorSize / 4; ++i)
                m_fat.push_back(U32(sector, 4 * i));
        }

        m_directory = Chain(
            m_fat, U32(m_file, 0x30), [this](uint32_t s) { return Sector(s); }, m_sectorSize);
        if (m_directory.size() < 128)
            return false;
        const uint32_t miniFatStart = U32(m_file, 0x3C);
        const std::string miniFat = Chain(
            m_fat, miniFatStart, [this](uint32_t s) { return Sector(s); }, m_sectorSize);
        for (size_t i = 0; i + 4 <= miniFat.size(); i += 4)
            m_miniFat.push_back(U32(miniFat, i));
        // The root entry's stream holds the small streams.
        m_miniStream = Chain(
            m_fat, U32(m_directory, 0x74), [this](uint32_t s) { return Sector(s); }, m_sectorSize);
        for (uint32_t s = U32(m_directory, 0x74); s < m_fat.size() && m_miniStreamSectors.size() <= m_sectorCount;
             s = m_fat[s])
            m_miniStreamSectors.push_back((static_cast<uint64_t>(s) + 1) * m_sectorSize);
        return true;
    }

    std::optional<std::string> Stream(std::u16string_view wanted) const
    {
        const auto entry = FindEntry(wanted);
        if (!entry)
            return std::nullopt;
        std::string data;
        if (entry->size < m_miniCutoff)
            data = Chain(
                m_miniFat, entry->start, [this](uint32_t s) { return MiniSector(s); }, m_miniSectorSize);
        else
            data = Chain(
                m_fat, entry->start, [this](uint32_t s) { return Sector(s); }, m_sectorSize);
        if (data.size() < entry->size)
            return std::nullopt;
        data.resize(static_cast<size_t>(entry->size));
        return data;
    }

    /// Where a stream lies in the file: the file offset of each of its blocks, in order, and the
    /// block size (a sector, or a mini sector for streams kept in the mini stream).
    std::optional<std::pair<size_t, std::vector<uint64_t>>> StreamBlocks(std::u16string_view wanted) const
    {
        const auto entry = FindEntry(wanted);
        if (!entry)
            return std::nullopt;
        const bool mini = entry->size < m_miniCutoff;
        const std::vector<uint32_t>& table = mini ? m_miniFat : m_fat;
        std::vector<uint64_t> offsets;
        uint32_t current = entry->start;
        while (current < table.size() && offsets.size() <= m_sectorCount * (mini ? 64 : 1)) {
            uint64_t at = 0;
            if (mini) {
                const uint64_t inMiniStream = static_cast<uint64_t>(current) * m_miniSectorSize;
                const uint64_t rootIndex = inMiniStream / m_sectorSize;
                if (rootIndex >= m_miniStreamSectors.size())
                    return std::nullopt;
                at = m_miniStreamSectors[static_cast<size_t>(rootIndex)] + inMiniStream % m_sectorSize;
            } else {
                if (Sector(current).empty())
                    return std::nullopt;
                at = (static_cast<uint64_t>(current) + 1) * m_sectorSize;
            }
            offsets.push_back(at);
            current = table[current];
        }
        return std::make_pair(mini ? m_miniSectorSize : m_sectorSize, std::move(offsets));
    }

private:
    struct DirectoryEntry
    {
        uint32_t start;
        uint64_t size;
    };

    std::optional<DirectoryEntry> FindEntry(std::u16string_view wanted) const
    {
        for (size_t at = 0; at + 128 <= m_directory.size(); at += 128) {
            const std::string_view entry(m_directory.data() + at, 128);
            const uint16_t nameBytes = U16(entry, 0x40);
            if (static_cast<unsigned char>(entry[0x42]) != 2 || nameBytes < 2 || nameBytes > 64)
                continue;
            std::u16string name;
            for (size_t i = 0; i + 2 < nameBytes; i += 2)
                name.push_back(static_cast<char16_t>(U16(entry, i)));
            if (name == wanted)
                return DirectoryEntry{U32(entry, 0x74), U32(entry, 0x78)}; // xls streams stay below 4 GiB
        }
        return std::nullopt;
    }

    std::string_view Sector(uint32_t index) const
    {
        const uint64_t offset = (static_cast<uint64_t>(index) + 1) * m_sectorSize;
        if (index >= kEndOfChain || offset + m_sectorSize > m_file.size())
            return {};
        return m_file.substr(static_cast<size_t>(offset), m_sectorSize);
    }

    std::string_view MiniSector(uint32_t index) const
    {
        const uint64_t offset = static_cast<uint64_t>(index) * m_miniSectorSize;
        if (offset + m_miniSectorSize > m_miniStream.size())
            return {};
        return std::string_view(m_miniStream).substr(static_cast<size_t>(offset), m_miniSectorSize);
    }

    // A chain of sectors; a loop or a link out of the table ends it.
    template <typename SectorFn>
    std::string Chain(const std::vector<uint32_t>& table, uint32_t start, SectorFn sector, size_t sectorSize) const
    {
        std::string data;
        uint32_t current = start;
        size_t steps = 0;
        const size_t maxSteps = std::min(table.size(), m_file.size() / sectorSize + 1);
        while (current != kEndOfChain && current != kFreeSector && current < table.size() && steps++ <= maxSteps) {
            const std::string_view bytes = sector(current);
            if (bytes.empty())
                break;
            data.append(bytes);
            current = table[current];
        }
        return data;
    }

    std::string_view m_file;
    size_t m_sectorSize = 512;
    size_t m_miniSectorSize = 64;
    uint32_t m_miniCutoff = 4096;
    size_t m_sectorCount = 0;
    std::vector<uint32_t> m_fat;
    std::vector<uint32_t> m_miniFat;
    std::string m_directory;
    std::string m_miniStream;
    std::vector<uint64_t> m_miniStreamSectors; // file offsets of the sectors holding the mini stream
};

// A BIFF8 unicode string (16-bit length) or a BIFF5 byte string (8-bit length) at `at`.
std::string BiffString(std::string_view data, size_t at, bool biff8, bool wideLength)
{
    size_t count = wideLength ? U16(data, at) : static_cast<unsigned char>(at < data.size() ? data[at] : 0);
    at += wideLength ? 2 : 1;
    if (!biff8) {
        const std::string_view bytes = data.substr(std::min(at, data.size()), count);
        return TextEncoding::LegacyToUtf8(bytes);
    }
    if (at >= data.size())
        return {};
    const auto flags = static_cast<unsigned char>(data[at++]);
    if (flags & 0x08)
        at += 2; // rich-text run count
    if (flags & 0x04)
        at += 4; // extended data size
    if (flags & 0x01) {
        std::u16string units;
        for (size_t i = 0; i < count && at + 2 * i + 2 <= data.size(); ++i)
            units.push_back(static_cast<char16_t>(U16(data, at + 2 * i)));
        return TextEncoding::Utf16ToUtf8(units);
    }
    std::u16string units; // compressed: the low bytes of UTF-16, that is Latin-1
    for (size_t i = 0; i < count && at + i < data.size(); ++i)
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(data[at + i])));
    return TextEncoding::Utf16ToUtf8(units);
}

bool Spend(uint64_t& budget)
{
    if (budget == 0)
        return false;
    --budget;
    return true;
}

struct Record
{
    uint16_t type;
    std::string_view data;
    size_t next;
};

std::optional<Record> RecordAt(std::string_view stream, size_t at)
{
    if (at + 4 > stream.size())
        return std::nullopt;
    const uint16_t type = U16(stream, at);
    const uint16_t length = U16(stream, at + 2);
    if (at + 4 + length > stream.size())
        return std::nullopt;
    return Record{type, stream.substr(at + 4, length), at + 4 + length};
}

// One sheet's substream, which ends at its EOF record and never runs into the next sheet's.
void ReadSheet(std::string_view stream, size_t offset, bool biff8, BiffSheet& sheet, uint64_t& cellBudget)
{
    auto record = RecordAt(stream, offset);
    if (!record || record->type != 0x0809)
        return;
    int depth = 0;
    for (; record; record = RecordAt(stream, record->next)) {
        const std::string_view d = record->data;
        switch (record->type) {
        case 0x0809: // BOF: charts embedded in the sheet bring their own substreams
            ++depth;
            break;
        case 0x000A: // EOF
            if (--depth <= 0) {
                std::stable_sort(sheet.cells.begin(), sheet.cells.end(),
                                 [](const BiffCell& a, const BiffCell& b) { return a.Key() < b.Key(); });
                return;
            }
            break;
        case 0x0200: // DIMENSION
        {
            const uint64_t rows = biff8 ? static_cast<uint64_t>(U32(d, 4)) - std::min(U32(d, 0), U32(d, 4))
                                        : static_cast<uint64_t>(U16(d, 2)) - std::min(U16(d, 0), U16(d, 2));
            const size_t colAt = biff8 ? 8 : 4;
            const uint64_t columns =
                static_cast<uint64_t>(U16(d, colAt + 2)) - std::min(U16(d, colAt), U16(d, colAt + 2));
            if (depth == 1)
                sheet.claimedCells = rows * columns;
            break;
        }
        case 0x0203: // NUMBER
        case 0x027E: // RK
        case 0x0006: // FORMULA
            if (depth == 1 && d.size() >= 6 && Spend(cellBudget))
                sheet.cells.push_back({U16(d, 0), U16(d, 2), U16(d, 4), 0});
            break;
        case 0x0205: // BOOLERR
            if (depth == 1 && d.size() >= 8 && Spend(cellBudget))
                sheet.cells.push_back({U16(d, 0), U16(d, 2), U16(d, 4), static_cast<uint8_t>(d[7] ? 2 : 1)});
            break;
        case 0x00BD: // MULRK: one row, consecutive columns, each with its own format
            if (depth == 1 && d.size() >= 6) {
                const uint16_t row = U16(d, 0);
                const uint16_t first = U16(d, 2);
                const size_t count = (d.size() - 6) / 6;
                for (size_t i = 0; i < count && Spend(cellBudget); ++i)
                    sheet.cells.push_back({row, static_cast<uint16_t>(first + i), U16(d, 4 + 6 * i), 0});
            }
            break;
        default:
            break;
        }
    }
    std::stable_sort(sheet.cells.begin(), sheet.cells.end(),
                     [](const BiffCell& a, const BiffCell& b) { return a.Key() < b.Key(); });
}

bool IsCellRecord(uint16_t type)
{
    switch (type) {
    case 0x0006: // FORMULA
    case 0x00BD: // MULRK
    case 0x00BE: // MULBLANK
    case 0x00D6: // RSTRING
    case 0x00FD: // LABELSST
    case 0x0201: // BLANK
    case 0x0203: // NUMBER
    case 0x0204: // LABEL
    case 0x0205: // BOOLERR
    case 0x027E: // RK
        return true;
    default:
        return false;
    }
}

// libfreexl keeps every sheet as a dense grid of the end row times the end column a DIMENSION record
// gives, not the span between first and last. It allocates one at every such record it meets, the
// earlier grid kept, in whatever substream the record stands. A substream without one gets the grid
// its farthest cell needs. Every record of the stream counts here, also past where the library
// would give up: more than it allocates, never less.
uint64_t FreeXlGridCells(std::string_view stream, bool biff8, bool& repeatedDimension)
{
    // Each grid stays below 2^48 cells; a sum of a few million of them is kept from wrapping.
    constexpr uint64_t kCeiling = uint64_t{1} << 62;
    uint64_t total = 0;
    const auto add = [&](uint64_t cells) { total = std::min(kCeiling, total + cells); };
    bool declared = false;
    bool anyCell = false;
    uint64_t farRow = 0;
    uint64_t farColumn = 0;
    const auto endSubstream = [&] {
        if (!declared && anyCell)
            add((farRow + 1) * (farColumn + 1));
        declared = anyCell = false;
        farRow = farColumn = 0;
    };
    for (auto record = RecordAt(stream, 0); record; record = RecordAt(stream, record->next)) {
        const std::string_view d = record->data;
        if (record->type == 0x000A)
            endSubstream();
        else if (record->type == 0x0200) {
            const uint64_t rows = biff8 ? U32(d, 4) : U16(d, 2);
            const uint64_t columns = U16(d, biff8 ? 10 : 6);
            add(rows * columns);
            // libfreexl makes a new grid for each and never frees the one before.
            repeatedDimension = repeatedDimension || declared;
            declared = true;
        } else if (IsCellRecord(record->type) && d.size() >= 4) {
            anyCell = true;
            farRow = std::max<uint64_t>(farRow, U16(d, 0));
            farColumn = std::max<uint64_t>(farColumn, U16(d, 2));
        }
    }
    endSubstream();
    return total;
}

} // namespace

std::string BiffLayout::CodeOfXf(uint16_t xf) const
{
    if (xf >= xfFormats.size())
        return {};
    const uint16_t id = xfFormats[xf];
    for (const auto& [formatId, code] : formats)
        if (formatId == id)
            return code;
    return std::string(NumberFormat::BuiltInCode(id));
}

std::optional<BiffLayout> ReadBiffLayout(std::string_view file, uint64_t maxCells, uint64_t maxSheets)
{
    CompoundFile compound(file);
    if (!compound.Open())
        return std::nullopt;
    std::u16string streamName = u"Workbook";
    std::optional<std::string> stream = compound.Stream(streamName);
    if (!stream)
        stream = compound.Stream(streamName = u"Book");
    if (!stream)
        return std::nullopt;

    auto first = RecordAt(*stream, 0);
    if (!first || first->type != 0x0809)
        return std::nullopt;
    const uint16_t version = U16(first->data, 0);
    if (version != 0x0600 && version != 0x0500)
        return std::nullopt;
    const bool biff8 = version == 0x0600;

    BiffLayout layout;
    layout.streamName = streamName;
    layout.gridCells = FreeXlGridCells(*stream, biff8, layout.repeatedDimension);
    std::vector<std::pair<size_t, std::string>> sheetOffsets;
    for (auto record = RecordAt(*stream, first->next); record; record = RecordAt(*stream, record->next)) {
        const std::string_view d = record->data;
        if (record->type == 0x000A)
            break;
        switch (record->type) {
        case 0x0022: // DATEMODE
            layout.date1904 = U16(d, 0) == 1;
            break;
        case 0x041E: // FORMAT
            layout.formats.emplace_back(U16(d, 0), BiffString(d, 2, biff8, biff8));
            break;
        case 0x00E0: // XF
            layout.xfFormats.push_back(U16(d, 2));
            layout.xfFormatOffsets.push_back(static_cast<size_t>(d.data() - stream->data()) + 2);
            break;
        case 0x0085: // BOUNDSHEET: worksheets only, in the order the workbook lists them
            if (d.size() >= 8 && static_cast<unsigned char>(d[5]) == 0)
                sheetOffsets.emplace_back(U32(d, 0), BiffString(d, 6, biff8, false));
            break;
        default:
            break;
        }
    }
    // A crafted list could send every sheet through the same records, or through all of them:
    // each sheet reads only up to where the next one starts.
    if (sheetOffsets.size() > maxSheets)
        return std::nullopt;
    std::vector<size_t> starts;
    for (const auto& entry : sheetOffsets)
        starts.push_back(entry.first);
    std::sort(starts.begin(), starts.end());
    if (std::adjacent_find(starts.begin(), starts.end()) != starts.end())
        return std::nullopt;
    uint64_t cellBudget = maxCells;
    for (auto& [offset, name] : sheetOffsets) {
        const auto next = std::upper_bound(starts.begin(), starts.end(), offset);
        const size_t end = next == starts.end() ? stream->size() : *next;
        BiffSheet sheet;
        sheet.name = std::move(name);
        ReadSheet(std::string_view(*stream).substr(0, end), offset, biff8, sheet, cellBudget);
        layout.sheets.push_back(std::move(sheet));
    }
    layout.tooManyCells = cellBudget == 0;
    return layout;
}

std::optional<std::string> WithGeneralFormats(std::string_view file, const BiffLayout& layout)
{
    CompoundFile compound(file);
    if (!compound.Open())
        return std::nullopt;
    const auto blocks = compound.StreamBlocks(layout.streamName);
    if (!blocks)
        return std::nullopt;
    const auto& [blockSize, offsets] = *blocks;
    std::string patched(file);
    for (const size_t offset : layout.xfFormatOffsets) {
        for (size_t byte = offset; byte < offset + 2; ++byte) {
            const size_t block = byte / blockSize;
            if (block >= offsets.size())
                return std::nullopt;
            const uint64_t at = offsets[block] + byte % blockSize;
            if (at >= patched.size())
                return std::nullopt;
            patched[static_cast<size_t>(at)] = 0;
        }
    }
    return patched;
}

} // namespace workbook
