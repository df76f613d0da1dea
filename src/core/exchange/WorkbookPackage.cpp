// Zip packages (.xlsx, .ods) are checked before anything is unpacked: the central directory tells
// what the package would cost, and a package that claims too much is refused. An .xlsx package is
// handed to liborcus rewritten: relationships that name their parts with absolute paths, as
// openpyxl and other generators write them, made relative (the only form orcus follows; it gives
// up on the package otherwise), and the worksheets emptied, as they are read here.

#include "WorkbookPackage.h"

#include <unzip.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace workbook {
namespace {

enum class PackageKind
{
    Xlsx,
    Ods,
};

constexpr uint64_t kMaxEntries = 100'000;
constexpr uint64_t kMaxRelsBytes = 8u << 20;
constexpr uint64_t kRatioFloor = 1u << 20; // small entries may compress as well as they like
constexpr std::string_view kEmptySheet =
    R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData/></worksheet>)";

struct Entry
{
    std::string name;
    unz_file_info64 info{};
};

class ZipReader
{
public:
    explicit ZipReader(const std::string& path) : m_zip(unzOpen64(path.c_str())) {}
    ~ZipReader()
    {
        if (m_zip)
            unzClose(m_zip);
    }
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    unzFile Get() const { return m_zip; }

private:
    unzFile m_zip;
};

std::vector<Entry> ListEntries(unzFile zip)
{
    std::vector<Entry> entries;
    int rc = unzGoToFirstFile(zip);
    while (rc == UNZ_OK) {
        if (entries.size() >= kMaxEntries)
            throw ReadError("the package holds more than " + std::to_string(kMaxEntries) + " entries");
        Entry entry;
        char name[1024] = {};
        if (unzGetCurrentFileInfo64(zip, &entry.info, name, sizeof name - 1, nullptr, 0, nullptr, 0) != UNZ_OK)
            throw ReadError("the package's directory is damaged");
        entry.name = name;
        entries.push_back(std::move(entry));
        rc = unzGoToNextFile(zip);
    }
    if (rc != UNZ_END_OF_LIST_OF_FILE)
        throw ReadError("the package's directory is damaged");
    return entries;
}

void CheckCosts(const std::vector<Entry>& entries)
{
    const Limits& limits = ActiveLimits();
    uint64_t total = 0;
    for (const Entry& entry : entries) {
        const uint64_t unpacked = entry.info.uncompressed_size;
        const uint64_t packed = entry.info.compressed_size;
        if (unpacked > limits.maxPackageBytes || total + unpacked > limits.maxPackageBytes)
            throw ReadError("the package would unpack to more than " + std::to_string(limits.maxPackageBytes) +
                            " bytes");
        total += unpacked;
        if (unpacked > kRatioFloor && unpacked / std::max<uint64_t>(packed, 1) > limits.maxCompressionRatio)
            throw ReadError("the package entry " + entry.name + " is compressed more than " +
                            std::to_string(limits.maxCompressionRatio) + " to 1");
    }
}

const Entry* FindEntry(const std::vector<Entry>& entries, std::string_view name)
{
    for (const Entry& entry : entries)
        if (entry.name == name)
            return &entry;
    return nullptr;
}

// Unpacks the current entry chunk by chunk, refused past `limit` whatever the directory claimed;
// minizip checks the checksum once the whole entry has been read.
template <typename Sink> void UnpackCurrent(unzFile zip, const std::string& name, uint64_t limit, Sink&& sink)
{
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        throw ReadError("the package entry " + name + " cannot be unpacked");
    uint64_t total = 0;
    char buffer[64 * 1024];
    int got = 0;
    while ((got = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0) {
        total += static_cast<uint64_t>(got);
        if (total > limit) {
            unzCloseCurrentFile(zip);
            throw ReadError("the package entry " + name + " is larger than " + std::to_string(limit) + " bytes");
        }
        sink(std::string_view(buffer, static_cast<size_t>(got)));
    }
    const int closed = unzCloseCurrentFile(zip);
    if (got < 0 || closed != UNZ_OK)
        throw ReadError("the package entry " + name + " is damaged");
}

void Locate(unzFile zip, const std::string& name)
{
    if (unzLocateFile(zip, name.c_str(), 1) != UNZ_OK)
        throw ReadError("the package entry " + name + " is missing");
}

std::string ReadEntry(unzFile zip, const std::string& name, uint64_t limit)
{
    Locate(zip, name);
    unz_file_info64 info{};
    std::string out;
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) == UNZ_OK)
        out.reserve(static_cast<size_t>(std::min<uint64_t>(info.uncompressed_size, limit)));
    UnpackCurrent(zip, name, limit, [&](std::string_view chunk) { out.append(chunk); });
    return out;
}

// Checks an entry's checksum by unpacking it into nothing.
void VerifyEntry(unzFile zip, const std::string& name)
{
    Locate(zip, name);
    UnpackCurrent(zip, name, ActiveLimits().maxPackageBytes, [](std::string_view) {});
}

PackageKind KindOf(unzFile zip, const std::vector<Entry>& entries)
{
    if (const Entry* mimetype = FindEntry(entries, "mimetype")) {
        const std::string type = ReadEntry(zip, mimetype->name, 256);
        if (type.rfind("application/vnd.oasis.opendocument.spreadsheet", 0) == 0)
            return PackageKind::Ods;
        throw ReadError("the package is an OpenDocument file but not a spreadsheet (" + type + ")");
    }
    if (FindEntry(entries, "[Content_Types].xml"))
        return PackageKind::Xlsx;
    if (FindEntry(entries, "content.xml"))
        return PackageKind::Ods;
    throw ReadError("the file is a zip archive but not a workbook");
}

// Copies the package entry by entry, the compressed data untouched except for the rewritten parts.
void WriteRepaired(unzFile source, const std::vector<Entry>& entries,
                   const std::vector<std::pair<std::string, std::string>>& replaced, const std::string& target)
{
    zipFile out = zipOpen64(target.c_str(), APPEND_STATUS_CREATE);
    if (!out)
        throw ReadError("cannot write the repaired package");
    bool ok = true;
    for (const Entry& entry : entries) {
        if (!ok)
            break;
        zip_fileinfo info{};
        info.dosDate = entry.info.dosDate;
        info.external_fa = entry.info.external_fa;
        info.internal_fa = entry.info.internal_fa;
        const int zip64 = entry.info.uncompressed_size >= 0xFFFFFFFFull ? 1 : 0;
        const auto it =
            std::find_if(replaced.begin(), replaced.end(), [&](const auto& r) { return r.first == entry.name; });
        if (it != replaced.end()) {
            ok = zipOpenNewFileInZip64(out, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                       Z_DEFAULT_COMPRESSION, 0) == ZIP_OK &&
                 zipWriteInFileInZip(out, it->second.data(), static_cast<unsigned>(it->second.size())) == ZIP_OK &&
                 zipCloseFileInZip(out) == ZIP_OK;
            continue;
        }
        if (unzLocateFile(source, entry.name.c_str(), 1) != UNZ_OK) {
            ok = false;
            break;
        }
        int method = 0;
        int level = 0;
        if (unzOpenCurrentFile2(source, &method, &level, 1) != UNZ_OK) {
            ok = false;
            break;
        }
        ok = zipOpenNewFileInZip2_64(out, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method, level, 1,
                                     zip64) == ZIP_OK;
        char buffer[64 * 1024];
        int got = 0;
        while (ok && (got = unzReadCurrentFile(source, buffer, sizeof buffer)) > 0)
            ok = zipWriteInFileInZip(out, buffer, static_cast<unsigned>(got)) == ZIP_OK;
        ok = ok && got == 0;
        unzCloseCurrentFile(source);
        ok = ok && zipCloseFileInZipRaw64(out, entry.info.uncompressed_size, entry.info.crc) == ZIP_OK;
    }
    if (zipClose(out, nullptr) != ZIP_OK)
        ok = false;
    if (!ok)
        throw ReadError("the package cannot be repaired: an entry is damaged");
}

void ReadXlsxPackage(const std::string& path, unzFile zip, const std::vector<Entry>& entries, Store& store)
{
    std::vector<std::pair<std::string, std::string>> replaced;
    for (const Entry& entry : entries) {
        if (!std::string_view(entry.name).ends_with(".rels"))
            continue;
        const std::string xml = ReadEntry(zip, entry.name, kMaxRelsBytes);
        bool changed = false;
        std::string fixed = RelativeRelationships(entry.name, xml, changed);
        if (changed)
            replaced.emplace_back(entry.name, std::move(fixed));
    }

    const PartReader readPart = [&](const std::string& name) -> std::optional<std::string> {
        if (!FindEntry(entries, name))
            return std::nullopt;
        return ReadEntry(zip, name, ActiveLimits().maxPackageBytes);
    };
    const XlsxLayout layout = ReadXlsxLayout(readPart);

    // orcus gets the worksheets empty: they are read after it (see WorkbookXlsxParts.cpp). Every
    // part it still reads is unpacked once before, as it checks no checksums and would parse a
    // damaged part's garbage.
    std::vector<std::pair<std::string, std::string>> ownSheets; // sheet name, part path
    for (const Entry& entry : entries) {
        const auto sheet = std::find_if(layout.sheets.begin(), layout.sheets.end(),
                                        [&](const auto& s) { return s.second == entry.name; });
        if (sheet != layout.sheets.end()) {
            ownSheets.push_back(*sheet);
            replaced.emplace_back(entry.name, std::string(kEmptySheet));
        } else if (std::string_view(entry.name).ends_with(".xml") || std::string_view(entry.name).ends_with(".rels"))
            VerifyEntry(zip, entry.name);
    }

    if (replaced.empty())
        ReadXlsxWithOrcus(path, store, layout.date1904, ownSheets, readPart);
    else {
        TempFile repaired;
        WriteRepaired(zip, entries, replaced, repaired.Path());
        ReadXlsxWithOrcus(repaired.Path(), store, layout.date1904, ownSheets, readPart);
    }
}

} // namespace

std::string RelativeTarget(std::string_view sourceFolder, std::string_view absoluteTarget)
{
    const auto split = [](std::string_view path) {
        std::vector<std::string_view> parts;
        size_t start = 0;
        while (start <= path.size()) {
            const size_t slash = path.find('/', start);
            const size_t end = slash == std::string_view::npos ? path.size() : slash;
            if (end > start)
                parts.push_back(path.substr(start, end - start));
            if (slash == std::string_view::npos)
                break;
            start = slash + 1;
        }
        return parts;
    };
    const auto folder = split(sourceFolder);
    const auto target = split(absoluteTarget);
    size_t common = 0;
    // The last target part is the file itself and never a folder in common.
    while (common < folder.size() && common + 1 < target.size() && folder[common] == target[common])
        ++common;
    std::string out;
    for (size_t i = common; i < folder.size(); ++i)
        out += "../";
    for (size_t i = common; i < target.size(); ++i) {
        out += target[i];
        if (i + 1 < target.size())
            out += '/';
    }
    return out;
}

std::string RelativeRelationships(std::string_view relsPath, std::string_view xml, bool& changed)
{
    // "xl/_rels/workbook.xml.rels" describes "xl/workbook.xml": its targets start from "xl/".
    const size_t relsFolder = relsPath.rfind("_rels/");
    const std::string_view folder =
        relsFolder == std::string_view::npos ? std::string_view() : relsPath.substr(0, relsFolder);

    changed = false;
    std::string out;
    out.reserve(xml.size());
    size_t copied = 0;
    size_t pos = 0;
    while ((pos = xml.find("Target", pos)) != std::string_view::npos) {
        const bool attributeStart =
            pos > 0 && (xml[pos - 1] == ' ' || xml[pos - 1] == '\t' || xml[pos - 1] == '\n' || xml[pos - 1] == '\r');
        size_t p = pos + 6;
        while (p < xml.size() && (xml[p] == ' ' || xml[p] == '\t' || xml[p] == '\n' || xml[p] == '\r'))
            ++p;
        if (!attributeStart || p >= xml.size() || xml[p] != '=') {
            pos += 6;
            continue;
        }
        ++p;
        while (p < xml.size() && (xml[p] == ' ' || xml[p] == '\t' || xml[p] == '\n' || xml[p] == '\r'))
            ++p;
        if (p >= xml.size() || (xml[p] != '"' && xml[p] != '\'')) {
            pos += 6;
            continue;
        }
        const char quote = xml[p];
        const size_t valueStart = p + 1;
        const size_t valueEnd = xml.find(quote, valueStart);
        if (valueEnd == std::string_view::npos)
            break;
        pos = valueEnd + 1;
        if (valueStart >= valueEnd || xml[valueStart] != '/')
            continue;

        // Links to other files or sites keep their form.
        const size_t elementStart = xml.rfind('<', valueStart);
        const size_t elementEnd = xml.find('>', valueEnd);
        const std::string_view element = xml.substr(elementStart == std::string_view::npos ? 0 : elementStart,
                                                    (elementEnd == std::string_view::npos ? xml.size() : elementEnd) -
                                                        (elementStart == std::string_view::npos ? 0 : elementStart));
        if (element.find("External") != std::string_view::npos)
            continue;

        out.append(xml.substr(copied, valueStart - copied));
        out.append(RelativeTarget(folder, xml.substr(valueStart, valueEnd - valueStart)));
        copied = valueEnd;
        changed = true;
    }
    out.append(xml.substr(copied));
    return out;
}

void ReadPackage(const std::string& path, Store& store)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
        throw ReadError("cannot open " + path + ": " + std::strerror(errno));
    if (static_cast<uint64_t>(st.st_size) > ActiveLimits().maxFileBytes)
        throw ReadError("the file is larger than " + std::to_string(ActiveLimits().maxFileBytes) + " bytes");

    ZipReader zip(path);
    if (!zip.Get())
        throw ReadError("the file is a damaged zip package");
    const std::vector<Entry> entries = ListEntries(zip.Get());
    CheckCosts(entries);
    const PackageKind kind = KindOf(zip.Get(), entries);

    uint64_t sheetBytes = 0;
    for (const Entry& entry : entries)
        if (entry.name.rfind("xl/worksheets/", 0) == 0 || entry.name == "content.xml")
            sheetBytes += entry.info.uncompressed_size;
    // The leanest cell markup takes some twenty bytes; the count only paces the progress reports.
    store.ExpectCells(std::max<uint64_t>(sheetBytes / 24, 1));
    store.Progress(0.0);

    if (kind == PackageKind::Ods) {
        const Entry* content = FindEntry(entries, "content.xml");
        if (!content)
            throw ReadError("the OpenDocument package holds no content");
        const std::string xml = ReadEntry(zip.Get(), content->name, ActiveLimits().maxPackageBytes);
        ReadOdsContent(xml, store);
    } else
        ReadXlsxPackage(path, zip.Get(), entries, store);
    if (store.sheets.empty())
        throw ReadError("the package holds no worksheet that can be read");
}

} // namespace workbook
