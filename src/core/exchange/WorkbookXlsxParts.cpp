// The parts of an Office Open XML workbook read here rather than by orcus_xlsx: the workbook part
// for the 1904 date system, which orcus ignores, and the worksheet parts. orcus's worksheet import
// leaves out every cell whose value is written in the cell itself (inline strings, as openpyxl
// and streaming writers write every text), error cells, plain string cells and ISO date cells,
// and takes twice as long as reading the parts here with orcus's plain SAX parser into the same
// import interfaces.

#include "WorkbookPackage.h"

#include "core/records/OleDateTime.h"

#include <orcus/sax_ns_parser.hpp>
#include <orcus/spreadsheet/import_interface.hpp>
#include <orcus/xml_namespace.hpp>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace workbook {
namespace {

namespace ss = orcus::spreadsheet;
namespace iface = orcus::spreadsheet::iface;

bool IsRelationshipsNs(orcus::xmlns_id_t ns)
{
    // Transitional and strict spellings both end so.
    return ns && std::string_view(ns).ends_with("relationships");
}

std::string FolderOf(std::string_view part)
{
    const size_t slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

// The relationships part describing `part`: "xl/workbook.xml" -> "xl/_rels/workbook.xml.rels".
std::string RelsOf(std::string_view part)
{
    const std::string folder = FolderOf(part);
    return folder + "_rels/" + std::string(part.substr(folder.size())) + ".rels";
}

template <typename Parser> void Run(Parser& parser)
{
    ReadingAs("the workbook is damaged: ", [&] { parser.parse(); });
}

template <typename Handler> void ParseXml(std::string_view xml, Handler& handler)
{
    orcus::xmlns_repository repository;
    orcus::xmlns_context context = repository.create_context();
    orcus::sax_ns_parser<Handler> parser(xml.data(), xml.size(), context, handler);
    Run(parser);
}

template <typename Handler> void ParsePlainXml(std::string_view xml, Handler& handler)
{
    orcus::sax_parser<Handler> parser(xml.data(), xml.size(), handler);
    Run(parser);
}

struct HandlerBase
{
    void doctype(const orcus::sax::doctype_declaration&) {}
    void start_declaration(std::string_view) {}
    void end_declaration(std::string_view) {}
    void attribute(std::string_view, std::string_view) {}
    void characters(std::string_view, bool) {}
};

// Relationship ids and targets of one .rels part.
struct RelsHandler : HandlerBase
{
    using HandlerBase::attribute;
    void attribute(const orcus::sax_ns_parser_attribute& attr)
    {
        if (attr.name == "Id")
            id.assign(attr.value);
        else if (attr.name == "Target")
            target.assign(attr.value);
        else if (attr.name == "Type")
            type.assign(attr.value);
    }
    void start_element(const orcus::sax_ns_parser_element& elem)
    {
        if (elem.name == "Relationship")
            relations.push_back({id, target, type});
        id.clear();
        target.clear();
        type.clear();
    }
    void end_element(const orcus::sax_ns_parser_element&) {}

    struct Relation
    {
        std::string id, target, type;
    };
    std::vector<Relation> relations;
    std::string id, target, type;
};

struct WorkbookHandler : HandlerBase
{
    using HandlerBase::attribute;
    void attribute(const orcus::sax_ns_parser_attribute& attr)
    {
        if (attr.name == "date1904")
            date1904Value.assign(attr.value);
        else if (attr.name == "name" && !IsRelationshipsNs(attr.ns))
            name.assign(attr.value);
        else if (attr.name == "id" && IsRelationshipsNs(attr.ns))
            id.assign(attr.value);
    }
    void start_element(const orcus::sax_ns_parser_element& elem)
    {
        if (elem.name == "workbookPr")
            date1904 = date1904Value == "1" || date1904Value == "true";
        else if (elem.name == "sheet")
            sheets.emplace_back(name, id);
        date1904Value.clear();
        name.clear();
        id.clear();
    }
    void end_element(const orcus::sax_ns_parser_element&) {}

    bool date1904 = false;
    std::vector<std::pair<std::string, std::string>> sheets; // name, relationship id
    std::string date1904Value, name, id;
};

// A whole sheet part, fed to the import interfaces as orcus would. Sheet parts are large and their
// element names are unambiguous, so the plain parser serves.
class SheetPartHandler : public HandlerBase
{
public:
    SheetPartHandler(iface::import_sheet& sheet, iface::import_shared_strings& strings)
        : m_sheet(sheet), m_strings(strings)
    {
    }

    void attribute(const orcus::sax::parser_attribute& attr)
    {
        if (!attr.ns.empty())
            return;
        if (attr.name == "r")
            m_r.assign(attr.value);
        else if (attr.name == "t")
            m_t.assign(attr.value);
        else if (attr.name == "s")
            m_s.assign(attr.value);
    }

    void start_element(const orcus::sax::parser_element& elem)
    {
        const std::string_view name = elem.name;
        if (name == "row") {
            if (!m_r.empty()) {
                // A row out of range leaves its cells out.
                const long long number = std::strtoll(m_r.c_str(), nullptr, 10);
                m_row = number > 0 && number <= INT32_MAX ? number - 1 : -1;
            } else
                ++m_row;
            m_column = -1;
        } else if (name == "c") {
            int64_t row = m_row;
            if (!m_r.empty() && ParseCellReference(m_r, row, m_column))
                m_row = row;
            else
                ++m_column;
            m_type = m_t;
            const unsigned long xf = std::strtoul(m_s.c_str(), nullptr, 10);
            m_xf = xf < UINT32_MAX ? xf : 0;
            m_text.clear();
            m_value.clear();
            m_inCell = true;
        } else if (m_inCell) {
            if (name == "rPh")
                ++m_phoneticDepth; // reading aids for East Asian text, not the text
            else if (name == "t" || name == "v")
                m_collecting = name == "v" ? &m_value : (m_phoneticDepth == 0 ? &m_text : nullptr);
        }
        m_r.clear();
        m_t.clear();
        m_s.clear();
    }

    void end_element(const orcus::sax::parser_element& elem)
    {
        const std::string_view name = elem.name;
        if (name == "t" || name == "v")
            m_collecting = nullptr;
        else if (name == "rPh")
            --m_phoneticDepth;
        else if (name == "c" && m_inCell) {
            m_inCell = false;
            EndCell();
        }
    }

    void characters(std::string_view value, bool)
    {
        const size_t room = ActiveLimits().maxTextBytes;
        if (m_collecting && m_collecting->size() < room)
            m_collecting->append(CutUtf8(value, room - m_collecting->size()));
    }

private:
    void EndCell()
    {
        if (m_row < 0 || m_column < 0 || m_row > INT32_MAX || m_column > INT32_MAX)
            return;
        const auto row = static_cast<ss::row_t>(m_row);
        const auto column = static_cast<ss::col_t>(m_column);
        bool stored = true;
        if (m_type == "s") {
            char* end = nullptr;
            const unsigned long index = std::strtoul(m_value.c_str(), &end, 10);
            stored = !m_value.empty() && *end == '\0' && index < UINT32_MAX;
            if (stored)
                m_sheet.set_string(row, column, static_cast<ss::string_id_t>(index));
        } else if (m_type == "inlineStr" || m_type == "str" || m_type == "e") {
            // Formula texts and errors ("#N/A") show as the text they hold.
            const std::string& text = m_type == "inlineStr" ? m_text : m_value;
            stored = !text.empty();
            if (stored)
                m_sheet.set_string(row, column, static_cast<ss::string_id_t>(m_strings.append(text)));
        } else if (m_type == "b") {
            stored = !m_value.empty();
            if (stored)
                m_sheet.set_bool(row, column, m_value != "0" && m_value != "false");
        } else if (m_type == "d") {
            const auto serial = LooseDate(m_value);
            const DateParts parts = serial ? OleDateTime(*serial).GetParts() : DateParts{};
            stored = parts.year > 0;
            if (stored)
                m_sheet.set_date_time(row, column, parts.year, parts.month, parts.day, parts.hour, parts.minute,
                                      parts.second);
        } else {
            char* end = nullptr;
            const double number = std::strtod(m_value.c_str(), &end);
            stored = !m_value.empty() && *end == '\0' && std::isfinite(number);
            if (stored)
                m_sheet.set_value(row, column, number);
        }
        // Formatted empty cells carry nothing to read.
        if (stored && m_xf != 0)
            m_sheet.set_format(row, column, m_xf);
    }

    iface::import_sheet& m_sheet;
    iface::import_shared_strings& m_strings;
    std::string m_r, m_t, m_s;
    int64_t m_row = -1;
    int64_t m_column = -1;
    size_t m_xf = 0;
    bool m_inCell = false;
    int m_phoneticDepth = 0;
    std::string m_type, m_text, m_value;
    std::string* m_collecting = nullptr;
};

} // namespace

bool ParseCellReference(std::string_view ref, int64_t& row, int64_t& column)
{
    const size_t sheetEnd = ref.find_last_of("!.");
    if (sheetEnd != std::string_view::npos)
        ref.remove_prefix(sheetEnd + 1);
    size_t i = 0;
    if (i < ref.size() && ref[i] == '$')
        ++i;
    int64_t c = 0;
    const size_t lettersStart = i;
    while (i < ref.size() && ((ref[i] >= 'A' && ref[i] <= 'Z') || (ref[i] >= 'a' && ref[i] <= 'z'))) {
        c = c * 26 + ((ref[i] | 0x20) - 'a' + 1);
        if (c > (1 << 20))
            return false;
        ++i;
    }
    if (i < ref.size() && ref[i] == '$')
        ++i;
    const size_t digitsStart = i;
    int64_t r = 0;
    while (i < ref.size() && ref[i] >= '0' && ref[i] <= '9') {
        r = r * 10 + (ref[i] - '0');
        if (r > (1 << 24))
            return false;
        ++i;
    }
    if (i != ref.size() || i == lettersStart || i == digitsStart || c == 0 || r == 0)
        return false;
    row = r - 1;
    column = c - 1;
    return true;
}

std::string ResolvePartPath(std::string_view sourcePart, std::string_view target)
{
    std::string joined = !target.empty() && target.front() == '/' ? std::string(target.substr(1))
                                                                  : FolderOf(sourcePart) + std::string(target);
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= joined.size()) {
        const size_t slash = joined.find('/', start);
        const std::string piece = joined.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (piece == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!piece.empty() && piece != ".")
            parts.push_back(piece);
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    std::string out;
    for (const std::string& piece : parts)
        out += (out.empty() ? "" : "/") + piece;
    return out;
}

XlsxLayout ReadXlsxLayout(const PartReader& readPart)
{
    XlsxLayout layout;
    const auto rootRels = readPart("_rels/.rels");
    if (!rootRels)
        return layout;
    RelsHandler root;
    ParseXml(*rootRels, root);
    std::string workbookPart;
    for (const auto& relation : root.relations)
        if (std::string_view(relation.type).ends_with("/officeDocument"))
            workbookPart = ResolvePartPath("", relation.target);
    const auto workbookXml = workbookPart.empty() ? std::nullopt : readPart(workbookPart);
    if (!workbookXml)
        return layout;
    WorkbookHandler workbook;
    ParseXml(*workbookXml, workbook);
    layout.date1904 = workbook.date1904;

    RelsHandler rels;
    if (const auto relsXml = readPart(RelsOf(workbookPart)))
        ParseXml(*relsXml, rels);
    // Chart sheets have no cells to read.
    for (const auto& [name, id] : workbook.sheets)
        for (const auto& relation : rels.relations)
            if (relation.id == id && std::string_view(relation.type).ends_with("/worksheet"))
                layout.sheets.emplace_back(name, ResolvePartPath(workbookPart, relation.target));
    return layout;
}

void ReadSheetPart(std::string_view sheetXml, iface::import_sheet& sheet, iface::import_shared_strings& strings)
{
    SheetPartHandler handler(sheet, strings);
    ParsePlainXml(sheetXml, handler);
}

} // namespace workbook
