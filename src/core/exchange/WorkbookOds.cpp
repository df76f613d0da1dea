// OpenDocument spreadsheet content, read with liborcus's SAX parser. An OpenDocument cell carries
// both its value (office:value, office:date-value, ...) and the text it shows (text:p), so no
// number format has to be applied: the shown text is kept as the file gives it. (orcus's own
// OpenDocument import leaves currency and percentage cells out, prices among them.)

#include "WorkbookPackage.h"

#include "core/records/OleDateTime.h"

#include <orcus/sax_parser.hpp>

#include <cmath>
#include <cstdlib>

namespace workbook {
namespace {

constexpr std::string_view kOfficeNs = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr std::string_view kTableNs = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr std::string_view kTextNs = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";

enum class Ns
{
    Other,
    Office,
    Table,
    Text,
};

int64_t Repeat(std::string_view value)
{
    const long long n = std::atoll(std::string(value.substr(0, 12)).c_str());
    return n < 1 ? 1 : n;
}

// "PT14H30M00S" (a time cell's value) as a fraction of a day.
std::optional<double> Duration(std::string_view text)
{
    if (text.size() < 3 || text.substr(0, 2) != "PT")
        return std::nullopt;
    double days = 0.0;
    std::string number;
    for (const char c : text.substr(2)) {
        if ((c >= '0' && c <= '9') || c == '.')
            number.push_back(c);
        else if (c == 'H' || c == 'M' || c == 'S') {
            const double v = std::strtod(number.c_str(), nullptr);
            days += c == 'H' ? v / 24.0 : c == 'M' ? v / 1440.0 : v / 86400.0;
            number.clear();
        } else
            return std::nullopt;
    }
    return days;
}

class ContentHandler
{
public:
    explicit ContentHandler(Store& store) : m_store(store) {}

    void doctype(const orcus::sax::doctype_declaration&) {}
    void start_declaration(std::string_view) {}
    void end_declaration(std::string_view) {}

    void attribute(const orcus::sax::parser_attribute& attr)
    {
        if (attr.ns == "xmlns" || (attr.ns.empty() && attr.name == "xmlns")) {
            Declare(attr.ns.empty() ? std::string_view() : attr.name, attr.value);
            return;
        }
        switch (attr.ns.empty() ? Ns::Other : Classify(attr.ns)) {
        case Ns::Table:
            if (attr.name == "name")
                m_attrName.assign(attr.value);
            else if (attr.name == "number-rows-repeated")
                m_attrRowsRepeated = Repeat(attr.value);
            else if (attr.name == "number-columns-repeated")
                m_attrColumnsRepeated = Repeat(attr.value);
            break;
        case Ns::Office:
            if (attr.name == "value-type")
                m_attrValueType.assign(attr.value);
            else if (attr.name == "value")
                m_attrValue.assign(attr.value);
            else if (attr.name == "date-value")
                m_attrDate.assign(attr.value);
            else if (attr.name == "time-value")
                m_attrTime.assign(attr.value);
            else if (attr.name == "boolean-value")
                m_attrBool.assign(attr.value);
            else if (attr.name == "string-value")
                m_attrString.assign(CutUtf8(attr.value, ActiveLimits().maxTextBytes));
            break;
        case Ns::Text:
            if (attr.name == "c")
                m_attrSpaces = Repeat(attr.value);
            break;
        case Ns::Other:
            break;
        }
    }

    void start_element(const orcus::sax::parser_element& elem)
    {
        ++m_depth;
        const Ns ns = Classify(elem.ns);
        if (m_skipFrom == 0 && m_inCell && ns != Ns::Text) {
            // Inside a cell only the paragraphs are its text: comments, drawings and tables
            // anchored to it are left out with everything in them.
            m_skipFrom = m_depth;
        }
        if (m_skipFrom == 0) {
            if (ns == Ns::Table)
                StartTableElement(elem.name);
            else if (ns == Ns::Text && m_inCell)
                StartTextElement(elem.name);
        }
        ClearAttributes();
    }

    void end_element(const orcus::sax::parser_element& elem)
    {
        const int depth = m_depth--;
        if (m_skipFrom != 0) {
            if (depth == m_skipFrom)
                m_skipFrom = 0;
            return;
        }
        const Ns ns = Classify(elem.ns);
        if (ns == Ns::Table)
            EndTableElement(elem.name);
        else if (ns == Ns::Text && (elem.name == "p" || elem.name == "h"))
            --m_paragraphDepth;
    }

    void characters(std::string_view value, bool)
    {
        if (m_inCell && m_paragraphDepth > 0 && m_skipFrom == 0)
            AppendText(value);
    }

private:
    // The plain parser is a good deal faster than the namespace-aware one on content of a few
    // hundred megabytes; the prefixes are learned from the declarations instead. Every writer
    // declares them once on the root element.
    void Declare(std::string_view prefix, std::string_view uri)
    {
        if (uri == kOfficeNs)
            m_officePrefix.assign(prefix);
        else if (uri == kTableNs)
            m_tablePrefix.assign(prefix);
        else if (uri == kTextNs)
            m_textPrefix.assign(prefix);
    }

    Ns Classify(std::string_view prefix) const
    {
        if (prefix == m_tablePrefix)
            return Ns::Table;
        if (prefix == m_textPrefix)
            return Ns::Text;
        if (prefix == m_officePrefix)
            return Ns::Office;
        return Ns::Other;
    }

    void ClearAttributes()
    {
        m_attrName.clear();
        m_attrValueType.clear();
        m_attrValue.clear();
        m_attrDate.clear();
        m_attrTime.clear();
        m_attrBool.clear();
        m_attrString.clear();
        m_attrRowsRepeated = 1;
        m_attrColumnsRepeated = 1;
        m_attrSpaces = 1;
    }

    void StartTableElement(std::string_view name)
    {
        if (name == "table") {
            if (m_tableDepth++ == 0) {
                m_sheet = &m_store.AddSheet(m_attrName);
                m_row = 0;
            }
            return;
        }
        if (m_tableDepth != 1)
            return;
        if (name == "table-row") {
            m_column = 0;
            m_rowRepeat = m_attrRowsRepeated;
            m_rowFirstCell = m_sheet->cells.size();
        } else if (name == "table-cell" || name == "covered-table-cell") {
            m_inCell = true;
            m_cellText.clear();
            m_paragraphs = 0;
            m_columnRepeat = m_attrColumnsRepeated;
            m_valueType = m_attrValueType;
            m_value = m_attrValue;
            m_date = m_attrDate;
            m_time = m_attrTime;
            m_bool = m_attrBool;
            m_string = m_attrString;
        }
    }

    void StartTextElement(std::string_view name)
    {
        if (name == "p" || name == "h") {
            if (m_paragraphs++ > 0)
                AppendText("\n");
            ++m_paragraphDepth;
        } else if (m_paragraphDepth > 0 && name == "s")
            AppendText(std::string(static_cast<size_t>(std::min<int64_t>(m_attrSpaces, 1024)), ' '));
        else if (m_paragraphDepth > 0 && name == "tab")
            AppendText("\t");
        else if (m_paragraphDepth > 0 && name == "line-break")
            AppendText("\n");
    }

    void EndTableElement(std::string_view name)
    {
        if (name == "table") {
            if (--m_tableDepth == 0)
                m_sheet = nullptr;
            return;
        }
        if (m_tableDepth != 1 || !m_sheet)
            return;
        if (name == "table-cell" || name == "covered-table-cell") {
            EndCell();
            m_inCell = false;
        } else if (name == "table-row")
            EndRow();
    }

    void AppendText(std::string_view text)
    {
        const size_t room = ActiveLimits().maxTextBytes;
        if (m_cellText.size() < room)
            m_cellText.append(CutUtf8(text, room - m_cellText.size()));
    }

    void EndCell()
    {
        const Limits& limits = ActiveLimits();
        const int64_t repeat = std::min<int64_t>(m_columnRepeat, std::max<int64_t>(limits.maxColumns - m_column, 0));
        bool stored = false;
        CellKind kind = CellKind::Text;
        double value = 0.0;
        if (m_valueType == "float" || m_valueType == "percentage" || m_valueType == "currency") {
            kind = CellKind::Number;
            value = std::strtod(m_value.c_str(), nullptr);
            stored = !m_value.empty() && std::isfinite(value);
        } else if (m_valueType == "date") {
            if (auto serial = LooseDate(m_date)) {
                kind = CellKind::Date;
                value = *serial;
                stored = true;
            }
        } else if (m_valueType == "time") {
            if (auto days = Duration(m_time)) {
                kind = CellKind::Date;
                value = *days;
                stored = true;
            }
        } else if (m_valueType == "boolean") {
            kind = CellKind::Bool;
            value = (m_bool == "true") ? 1.0 : 0.0;
            stored = true;
        }

        if (repeat > 1)
            m_store.ExpectRoomFor(static_cast<uint64_t>(repeat));
        if (stored) {
            const uint32_t shown = m_cellText.empty() ? kNoText : m_store.strings.Append(m_cellText);
            for (int64_t k = 0; k < repeat; ++k)
                m_store.AddShownCell(*m_sheet, m_row, m_column + k, kind, value, shown);
        } else {
            const std::string& text = m_valueType == "string" && !m_string.empty() ? m_string : m_cellText;
            if (!text.empty()) {
                const uint32_t index = m_store.strings.Append(text);
                for (int64_t k = 0; k < repeat; ++k)
                    m_store.AddShownCell(*m_sheet, m_row, m_column + k, CellKind::Text, index, kNoText);
            }
        }
        m_column += m_columnRepeat;
    }

    void EndRow()
    {
        // A repeated row with cells in it stands for that many equal rows.
        const Limits& limits = ActiveLimits();
        const size_t first = m_rowFirstCell;
        const size_t last = m_sheet->cells.size();
        const int64_t repeat = std::min<int64_t>(m_rowRepeat, std::max<int64_t>(limits.maxRows - m_row, 0));
        // The copies count against the cell limit before they are made, and get their room at once.
        if (repeat > 1 && last > first) {
            const uint64_t copies = static_cast<uint64_t>(last - first) * static_cast<uint64_t>(repeat - 1);
            m_store.ExpectRoomFor(copies);
            m_sheet->cells.reserve(last + copies);
            if (!m_sheet->shown.empty())
                m_sheet->shown.reserve(last + copies);
        }
        for (int64_t k = 1; k < repeat && last > first; ++k) {
            for (size_t i = first; i < last; ++i) {
                const Cell cell = m_sheet->cells[i];
                const uint32_t shown = i < m_sheet->shown.size() ? m_sheet->shown[i] : kNoText;
                m_store.AddShownCell(*m_sheet, m_row + k, cell.column, cell.Kind(), cell.value, shown);
            }
        }
        m_row += m_rowRepeat;
    }

    Store& m_store;
    std::string m_officePrefix = "office";
    std::string m_tablePrefix = "table";
    std::string m_textPrefix = "text";
    Sheet* m_sheet = nullptr;
    int m_tableDepth = 0;
    int m_depth = 0;
    int m_skipFrom = 0; // the element depth where a left-out part began; 0 when reading
    int64_t m_row = 0;
    int64_t m_column = 0;
    int64_t m_rowRepeat = 1;
    size_t m_rowFirstCell = 0;

    bool m_inCell = false;
    int m_paragraphDepth = 0;
    int m_paragraphs = 0;
    int64_t m_columnRepeat = 1;
    std::string m_cellText;
    std::string m_valueType, m_value, m_date, m_time, m_bool, m_string;

    // Attributes arrive before the element they belong to.
    std::string m_attrName, m_attrValueType, m_attrValue, m_attrDate, m_attrTime, m_attrBool, m_attrString;
    int64_t m_attrRowsRepeated = 1;
    int64_t m_attrColumnsRepeated = 1;
    int64_t m_attrSpaces = 1;
};

} // namespace

void ReadOdsContent(std::string_view xml, Store& store)
{
    store.ExpectCells(std::max<uint64_t>(xml.size() / 60, 1));
    ContentHandler handler(store);
    orcus::sax_parser<ContentHandler> parser(xml.data(), xml.size(), handler);
    ReadingAs("the spreadsheet content is damaged: ", [&] { parser.parse(); });
    if (store.sheets.empty())
        throw ReadError("the OpenDocument file holds no sheet");
    store.Finish();
}

void ReadFlatOds(const std::string& path, Store& store)
{
    const std::string xml = ReadWholeFile(path);
    ReadOdsContent(xml, store);
}

} // namespace workbook
