// Office Open XML workbooks through liborcus: orcus parses the package (the sheet list, styles and
// shared strings; the worksheets themselves are read into the same interfaces by ReadSheetPart),
// and these import interfaces keep only what the reader needs (values, cached formula results,
// texts and the number format of each cell) in the compact store.

#include "WorkbookPackage.h"

#include "NumberFormat.h"
#include "core/records/OleDateTime.h"

#include <orcus/exception.hpp>
#include <orcus/orcus_xlsx.hpp>
#include <orcus/spreadsheet/import_interface.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace workbook {
namespace {

namespace ss = orcus::spreadsheet;
namespace iface = orcus::spreadsheet::iface;

constexpr uint32_t kNoXf = std::numeric_limits<uint32_t>::max();

class SharedStrings final : public iface::import_shared_strings
{
public:
    explicit SharedStrings(Store& store) : m_store(store) {}

    size_t append(std::string_view s) override
    {
        m_ids.push_back(m_store.strings.Append(s));
        return m_ids.size() - 1;
    }
    size_t add(std::string_view s) override
    {
        m_ids.push_back(m_store.strings.Intern(s));
        return m_ids.size() - 1;
    }
    void set_segment_font(size_t) override {}
    void set_segment_bold(bool) override {}
    void set_segment_italic(bool) override {}
    void set_segment_font_name(std::string_view) override {}
    void set_segment_font_size(double) override {}
    void set_segment_font_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    void append_segment(std::string_view s) override
    {
        // Rich text arrives in runs; a hostile file must not grow one text without bound.
        if (m_segments.size() < ActiveLimits().maxTextBytes)
            m_segments.append(CutUtf8(s, ActiveLimits().maxTextBytes - m_segments.size()));
    }
    size_t commit_segments() override
    {
        const size_t id = append(m_segments);
        m_segments.clear();
        return id;
    }

    const std::vector<uint32_t>& Ids() const { return m_ids; }

private:
    Store& m_store;
    std::vector<uint32_t> m_ids; // shared index -> pool index
    std::string m_segments;
};

// Only the number format of a cell format matters here; fonts, fills and borders are skipped.
class Styles final : public iface::import_styles
{
public:
    void set_font_count(size_t) override {}
    void set_font_bold(bool) override {}
    void set_font_italic(bool) override {}
    void set_font_name(std::string_view) override {}
    void set_font_size(double) override {}
    void set_font_underline(ss::underline_t) override {}
    void set_font_underline_width(ss::underline_width_t) override {}
    void set_font_underline_mode(ss::underline_mode_t) override {}
    void set_font_underline_type(ss::underline_type_t) override {}
    void set_font_underline_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    void set_font_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    void set_strikethrough_style(ss::strikethrough_style_t) override {}
    void set_strikethrough_type(ss::strikethrough_type_t) override {}
    void set_strikethrough_width(ss::strikethrough_width_t) override {}
    void set_strikethrough_text(ss::strikethrough_text_t) override {}
    size_t commit_font() override { return m_fonts++; }

    void set_fill_count(size_t) override {}
    void set_fill_pattern_type(ss::fill_pattern_t) override {}
    void set_fill_fg_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    void set_fill_bg_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t) override {}
    size_t commit_fill() override { return m_fills++; }

    void set_border_count(size_t) override {}
    void set_border_style(ss::border_direction_t, ss::border_style_t) override {}
    void set_border_color(ss::border_direction_t, ss::color_elem_t, ss::color_elem_t, ss::color_elem_t,
                          ss::color_elem_t) override
    {
    }
    void set_border_width(ss::border_direction_t, double, orcus::length_unit_t) override {}
    size_t commit_border() override { return m_borders++; }

    void set_cell_hidden(bool) override {}
    void set_cell_locked(bool) override {}
    void set_cell_print_content(bool) override {}
    void set_cell_formula_hidden(bool) override {}
    size_t commit_cell_protection() override { return m_protections++; }

    void set_number_format_count(size_t) override {}
    void set_number_format_identifier(size_t id) override
    {
        m_numberFormat.id = id;
        m_numberFormat.hasId = true;
    }
    void set_number_format_code(std::string_view s) override { m_numberFormat.code = std::string(CutUtf8(s, 1024)); }
    size_t commit_number_format() override
    {
        Guard(m_numberFormats.size());
        m_numberFormats.push_back(std::move(m_numberFormat));
        m_numberFormat = {};
        return m_numberFormats.size() - 1;
    }

    void set_cell_xf_count(size_t) override {}
    void set_cell_style_xf_count(size_t) override {}
    void set_dxf_count(size_t) override {}
    void set_xf_font(size_t) override {}
    void set_xf_fill(size_t) override {}
    void set_xf_border(size_t) override {}
    void set_xf_protection(size_t) override {}
    void set_xf_number_format(size_t index) override
    {
        m_xf.numberFormat = index;
        m_xf.hasNumberFormat = true;
    }
    void set_xf_style_xf(size_t index) override { m_xf.parent = index; }
    void set_xf_apply_alignment(bool) override {}
    void set_xf_horizontal_alignment(ss::hor_alignment_t) override {}
    void set_xf_vertical_alignment(ss::ver_alignment_t) override {}
    size_t commit_cell_xf() override { return Commit(m_cellXfs); }
    size_t commit_cell_style_xf() override { return Commit(m_styleXfs); }
    size_t commit_dxf() override
    {
        m_xf = {};
        return m_dxfs++;
    }

    void set_cell_style_count(size_t) override {}
    void set_cell_style_name(std::string_view) override {}
    void set_cell_style_xf(size_t) override {}
    void set_cell_style_builtin(size_t) override {}
    void set_cell_style_parent_name(std::string_view) override {}
    size_t commit_cell_style() override { return m_cellStyles++; }

    /// The store's format index of a cell format.
    uint32_t Resolve(Store& store, uint32_t xfIndex)
    {
        if (xfIndex >= m_cellXfs.size())
            return 0;
        if (m_resolved.size() != m_cellXfs.size())
            m_resolved.assign(m_cellXfs.size(), kNoXf);
        uint32_t& resolved = m_resolved[xfIndex];
        if (resolved != kNoXf)
            return resolved;

        Xf xf = m_cellXfs[xfIndex];
        if (!xf.hasNumberFormat && xf.parent < m_styleXfs.size())
            xf = m_styleXfs[xf.parent];
        resolved = 0;
        if (xf.hasNumberFormat)
            resolved = store.FormatIndex(Code(xf.numberFormat));
        return resolved;
    }

private:
    struct NumFmt
    {
        size_t id = 0;
        bool hasId = false;
        std::string code;
    };
    struct Xf
    {
        size_t numberFormat = 0;
        bool hasNumberFormat = false;
        size_t parent = std::numeric_limits<size_t>::max();
    };

    static void Guard(size_t count)
    {
        // Style tables are small in real files; a huge one is an attack on memory.
        if (count >= 1'000'000)
            throw ReadError("the workbook holds more than 1000000 styles");
    }

    size_t Commit(std::vector<Xf>& table)
    {
        Guard(table.size());
        table.push_back(m_xf);
        m_xf = {};
        return table.size() - 1;
    }

    // A format reference is the numFmtId of the file when the formats came with ids (xlsx), else
    // the position of the committed format.
    std::string Code(size_t reference) const
    {
        bool anyId = false;
        for (const NumFmt& f : m_numberFormats) {
            if (f.hasId && f.id == reference)
                return f.code;
            anyId = anyId || f.hasId;
        }
        if (!anyId && reference < m_numberFormats.size())
            return m_numberFormats[reference].code;
        return std::string(NumberFormat::BuiltInCode(static_cast<unsigned>(std::min<size_t>(reference, 0xFFFF))));
    }

    NumFmt m_numberFormat;
    std::vector<NumFmt> m_numberFormats;
    Xf m_xf;
    std::vector<Xf> m_cellXfs;
    std::vector<Xf> m_styleXfs;
    std::vector<uint32_t> m_resolved;
    size_t m_fonts = 0, m_fills = 0, m_borders = 0, m_protections = 0, m_dxfs = 0, m_cellStyles = 0;
};

class GlobalSettings final : public iface::import_global_settings
{
public:
    void set_origin_date(int year, int month, int day) override
    {
        m_origin1904 = (year == 1904 && month == 1 && day == 1);
    }
    void set_default_formula_grammar(ss::formula_grammar_t grammar) override { m_grammar = grammar; }
    ss::formula_grammar_t get_default_formula_grammar() const override { return m_grammar; }
    void set_character_set(orcus::character_set_t) override {}

    bool Origin1904() const { return m_origin1904; }

private:
    bool m_origin1904 = false;
    ss::formula_grammar_t m_grammar = ss::formula_grammar_t::unknown;
};

class SheetImport;

class FormulaImport final : public iface::import_formula
{
public:
    explicit FormulaImport(SheetImport& sheet) : m_sheet(sheet) {}

    void set_position(ss::row_t row, ss::col_t col) override
    {
        m_row = row;
        m_col = col;
        m_kind = Result::None;
    }
    void set_formula(ss::formula_grammar_t, std::string_view) override {}
    void set_shared_formula_index(size_t) override {}
    void set_result_string(std::string_view value) override
    {
        m_kind = Result::String;
        m_text.assign(CutUtf8(value, ActiveLimits().maxTextBytes));
    }
    void set_result_value(double value) override
    {
        m_kind = Result::Number;
        m_number = value;
    }
    void set_result_bool(bool value) override
    {
        m_kind = Result::Bool;
        m_number = value ? 1.0 : 0.0;
    }
    void set_result_empty() override { m_kind = Result::None; }
    void commit() override;

private:
    enum class Result
    {
        None,
        Number,
        String,
        Bool,
    };
    SheetImport& m_sheet;
    ss::row_t m_row = 0;
    ss::col_t m_col = 0;
    Result m_kind = Result::None;
    double m_number = 0.0;
    std::string m_text;
};

class SheetImport final : public iface::import_sheet
{
public:
    SheetImport(Store& store, size_t index) : m_store(store), m_index(index), m_formula(*this) {}

    iface::import_formula* get_formula() override { return &m_formula; }

    void set_auto(ss::row_t row, ss::col_t col, std::string_view s) override
    {
        Add(row, col, CellKind::LooseText, m_store.strings.Append(s));
    }
    void set_string(ss::row_t row, ss::col_t col, ss::string_id_t sindex) override
    {
        Add(row, col, CellKind::SharedText, sindex);
    }
    void set_value(ss::row_t row, ss::col_t col, double value) override { Add(row, col, CellKind::Number, value); }
    void set_bool(ss::row_t row, ss::col_t col, bool value) override
    {
        Add(row, col, CellKind::Bool, value ? 1.0 : 0.0);
    }
    void set_date_time(ss::row_t row, ss::col_t col, int year, int month, int day, int hour, int minute,
                       double second) override
    {
        const double whole = std::floor(second);
        const OleDateTime date = OleDateTime::FromParts(year, month, day, hour, minute, static_cast<int>(whole));
        if (date.IsValid())
            Add(row, col, CellKind::Date, date.GetValue() + (second - whole) / 86400.0);
    }
    void set_format(ss::row_t row, ss::col_t col, size_t xf_index) override
    {
        const auto xf = static_cast<uint32_t>(std::min<size_t>(xf_index, kNoXf - 1));
        auto& cells = Cells();
        if (!cells.empty() && cells.back().row == static_cast<uint32_t>(row) &&
            cells.back().column == static_cast<uint32_t>(col))
            m_xfs.back() = xf;
        else if (row >= 0 && col >= 0) {
            // A formatted empty cell, or a formula cell whose value orcus hands over at the end.
            m_store.CountCell();
            m_laterFormats.emplace_back(Key(row, col), xf);
        }
    }
    void set_format(ss::row_t, ss::col_t, ss::row_t, ss::col_t, size_t) override
    {
        // Row and column formats decorate empty cells; every stored cell carries its own.
    }
    void fill_down_cells(ss::row_t src_row, ss::col_t src_col, ss::row_t range_size) override
    {
        auto& cells = Cells();
        if (cells.empty() || cells.back().row != static_cast<uint32_t>(src_row) ||
            cells.back().column != static_cast<uint32_t>(src_col))
            return;
        const Cell source = cells.back();
        const uint32_t xf = m_xfs.back();
        for (ss::row_t k = 1; k <= range_size; ++k) {
            Add(static_cast<int64_t>(src_row) + k, src_col, source.Kind(), source.value);
            if (m_xfs.size() == cells.size())
                m_xfs.back() = xf;
        }
    }
    ss::range_size_t get_sheet_size() const override { return {1048576, 16384}; }

    void Add(int64_t row, int64_t col, CellKind kind, double value)
    {
        auto& cells = Cells();
        const size_t before = cells.size();
        m_store.AddCell(m_store.sheets[m_index], row, col, kind, value);
        if (cells.size() == before)
            return;
        m_xfs.push_back(kNoXf);
    }

    void AddFormulaText(int64_t row, int64_t col, std::string_view text)
    {
        Add(row, col, CellKind::Text, m_store.strings.Append(text));
    }

    /// Turns cell formats into the store's format indices; numbers in a date format become dates.
    void ResolveFormats(Styles& styles, bool origin1904)
    {
        std::stable_sort(m_laterFormats.begin(), m_laterFormats.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        auto& cells = Cells();
        for (size_t i = 0; i < cells.size(); ++i) {
            Cell& cell = cells[i];
            uint32_t xf = m_xfs[i];
            if (xf == kNoXf && !m_laterFormats.empty()) {
                const uint64_t key = cell.Key();
                auto it = std::upper_bound(m_laterFormats.begin(), m_laterFormats.end(), key,
                                           [](uint64_t k, const auto& f) { return k < f.first; });
                if (it != m_laterFormats.begin() && (--it)->first == key)
                    xf = it->second;
            }
            const uint32_t format = xf == kNoXf ? 0 : styles.Resolve(m_store, xf);
            cell.format = format;
            if (cell.Kind() != CellKind::Number || !m_store.FormatIsDate(format))
                continue;
            double serial = cell.value;
            if (origin1904)
                serial += 1462.0;
            else if (serial > 0.0 && serial < 60.0)
                serial += 1.0; // the 1900 system counts a 29 February 1900 that never was
            cell.value = serial;
            cell.kind = static_cast<uint32_t>(CellKind::Date);
        }
        m_xfs.clear();
        m_xfs.shrink_to_fit();
        m_laterFormats.clear();
        m_laterFormats.shrink_to_fit();
    }

private:
    std::vector<Cell>& Cells() { return m_store.sheets[m_index].cells; }

    Store& m_store;
    size_t m_index;
    FormulaImport m_formula;
    static uint64_t Key(int64_t row, int64_t col)
    {
        return (static_cast<uint64_t>(row) << 16) | static_cast<uint64_t>(col);
    }

    std::vector<uint32_t> m_xfs;                               // cell format of each cell while reading
    std::vector<std::pair<uint64_t, uint32_t>> m_laterFormats; // formats given before their cell
};

void FormulaImport::commit()
{
    switch (m_kind) {
    case Result::None:
        break;
    case Result::Number:
        m_sheet.Add(m_row, m_col, CellKind::Number, m_number);
        break;
    case Result::Bool:
        m_sheet.Add(m_row, m_col, CellKind::Bool, m_number);
        break;
    case Result::String:
        m_sheet.AddFormulaText(m_row, m_col, m_text);
        break;
    }
    m_kind = Result::None;
}

// Cell references in sheet parts ("B7", "$A$1:$C$9", "Sheet2!A1"); the sheet is not needed here.
class ReferenceResolver final : public iface::import_reference_resolver
{
public:
    ss::src_address_t resolve_address(std::string_view address) override
    {
        int64_t row = 0;
        int64_t column = 0;
        if (!ParseCellReference(address, row, column))
            throw orcus::invalid_arg_error("not a cell address: " + std::string(CutUtf8(address, 64)));
        return {0, static_cast<ss::row_t>(row), static_cast<ss::col_t>(column)};
    }

    ss::src_range_t resolve_range(std::string_view range) override
    {
        const size_t colon = range.find(':');
        if (colon == std::string_view::npos) {
            const ss::src_address_t single = resolve_address(range);
            return {single, single};
        }
        return {resolve_address(range.substr(0, colon)), resolve_address(range.substr(colon + 1))};
    }
};

class Factory final : public iface::import_factory
{
public:
    explicit Factory(Store& store) : m_store(store), m_strings(store) {}

    iface::import_global_settings* get_global_settings() override { return &m_settings; }
    iface::import_shared_strings* get_shared_strings() override { return &m_strings; }
    iface::import_styles* get_styles() override { return &m_styles; }
    iface::import_reference_resolver* get_reference_resolver(ss::formula_ref_context_t) override { return &m_resolver; }

    iface::import_sheet* append_sheet(ss::sheet_t sheet_index, std::string_view name) override
    {
        if (sheet_index < 0 || static_cast<size_t>(sheet_index) != m_sheets.size())
            return nullptr;
        m_store.AddSheet(name);
        m_names.emplace_back(name);
        m_sheets.push_back(std::make_unique<SheetImport>(m_store, m_sheets.size()));
        return m_sheets.back().get();
    }
    iface::import_sheet* get_sheet(std::string_view name) override
    {
        for (size_t i = 0; i < m_names.size(); ++i)
            if (m_names[i] == name)
                return m_sheets[i].get();
        return nullptr;
    }
    iface::import_sheet* get_sheet(ss::sheet_t sheet_index) override
    {
        if (sheet_index < 0 || static_cast<size_t>(sheet_index) >= m_sheets.size())
            return nullptr;
        return m_sheets[static_cast<size_t>(sheet_index)].get();
    }
    void finalize() override {}

    /// Settles the cell formats; the shared-string indices of the text cells are left for
    /// Store::Finish with the returned table.
    std::vector<uint32_t> Finish(bool date1904)
    {
        for (auto& sheet : m_sheets)
            sheet->ResolveFormats(m_styles, date1904 || m_settings.Origin1904());
        return m_strings.Ids();
    }

private:
    Store& m_store;
    SharedStrings m_strings;
    Styles m_styles;
    GlobalSettings m_settings;
    ReferenceResolver m_resolver;
    std::vector<std::unique_ptr<SheetImport>> m_sheets;
    std::vector<std::string> m_names;
};

} // namespace

void ReadXlsxWithOrcus(const std::string& path, Store& store, bool date1904,
                       const std::vector<std::pair<std::string, std::string>>& ownSheets,
                       const std::function<std::optional<std::string>(const std::string&)>& readPart)
{
    Factory factory(store);
    ReadingAs("the workbook is damaged: ", [&] {
        orcus::orcus_xlsx filter(&factory);
        filter.read_file(path);
    });
    for (const auto& [name, part] : ownSheets) {
        iface::import_sheet* sheet = factory.get_sheet(name);
        const auto xml = sheet ? readPart(part) : std::nullopt;
        if (xml)
            ReadSheetPart(*xml, *sheet, *factory.get_shared_strings());
    }
    store.Finish(factory.Finish(date1904));
}

} // namespace workbook
