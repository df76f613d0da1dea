#include "core/exchange/ExcelWorkbook.h"
#include "core/exchange/WorkbookBiff.h"
#include "core/exchange/WorkbookPackage.h"
#include "core/exchange/WorkbookStore.h"

#include "unit/TestSupport.h"
#include "unit/core/records/DateTestUtil.h"

#include <gtest/gtest.h>
#include <xlsxwriter.h>

#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

using testsupport::DataFile;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

namespace {

std::string Fixture(const std::string& name)
{
    return DataFile("spreadsheets/" + name);
}

/// Lowers the reader's bounds for one test.
class ScopedLimits
{
public:
    ScopedLimits() : m_saved(workbook::ActiveLimits()) {}
    ~ScopedLimits() { workbook::ActiveLimits() = m_saved; }
    workbook::Limits* operator->() { return &workbook::ActiveLimits(); }

private:
    workbook::Limits m_saved;
};

using records_test::Date;

// ---------------------------------------------------------------------------------------------
// Zip packages built byte by byte, so a test can make the directory claim what it likes.

uint32_t Crc32(std::string_view data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : data) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void Put16(std::string& out, uint32_t v)
{
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

struct ZipEntry
{
    std::string name;
    std::string data;
    uint32_t claimedSize = 0; // what the directory says it unpacks to; 0: the truth
    bool wrongChecksum = false;
};

// Stored (uncompressed) entries, which is all a package needs to be valid.
std::string MakeZip(const std::vector<ZipEntry>& entries)
{
    std::string out;
    std::string directory;
    for (const ZipEntry& e : entries) {
        const uint32_t offset = static_cast<uint32_t>(out.size());
        const uint32_t crc = Crc32(e.data) ^ (e.wrongChecksum ? 1u : 0u);
        const uint32_t size = static_cast<uint32_t>(e.data.size());
        const uint32_t claimed = e.claimedSize ? e.claimedSize : size;
        auto header = [&](std::string& to, bool central) {
            Put32(to, central ? 0x02014b50 : 0x04034b50);
            if (central)
                Put16(to, 20);
            Put16(to, 20);
            Put16(to, 0);    // flags
            Put16(to, 0);    // stored
            Put16(to, 0);    // time
            Put16(to, 0x21); // 1 January 1980
            Put32(to, crc);
            Put32(to, size);
            Put32(to, claimed);
            Put16(to, static_cast<uint32_t>(e.name.size()));
            Put16(to, 0);
            if (central) {
                Put16(to, 0);
                Put16(to, 0);
                Put16(to, 0);
                Put32(to, 0);
                Put32(to, offset);
            }
            to += e.name;
        };
        header(out, false);
        out += e.data;
        header(directory, true);
    }
    const uint32_t directoryOffset = static_cast<uint32_t>(out.size());
    out += directory;
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put32(out, static_cast<uint32_t>(directory.size()));
    Put32(out, directoryOffset);
    Put16(out, 0);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Excel 97 workbooks built record by record: one compound file of 512-byte sectors holding a
// "Workbook" stream of the globals (one BOUNDSHEET a sheet) and one substream for each sheet.

struct BiffRecord
{
    uint16_t type;
    std::string data;
};

BiffRecord Dimension(uint32_t firstRow, uint32_t endRow, uint16_t firstColumn, uint16_t endColumn)
{
    std::string d;
    Put32(d, firstRow);
    Put32(d, endRow);
    Put16(d, firstColumn);
    Put16(d, endColumn);
    Put16(d, 0);
    return {0x0200, d};
}

BiffRecord Number(uint16_t row, uint16_t column, double value)
{
    std::string d;
    Put16(d, row);
    Put16(d, column);
    Put16(d, 0);
    d.append(reinterpret_cast<const char*>(&value), sizeof value);
    return {0x0203, d};
}

std::string BiffStream(const std::vector<BiffRecord>& records)
{
    std::string out;
    for (const BiffRecord& r : records) {
        Put16(out, r.type);
        Put16(out, static_cast<uint32_t>(r.data.size()));
        out += r.data;
    }
    return out;
}

std::string MakeXls(const std::vector<std::vector<BiffRecord>>& sheets)
{
    const auto bof = [](uint16_t kind) {
        std::string d;
        for (const uint32_t v : {0x0600u, uint32_t{kind}, 0x0DBBu, 0x07CCu})
            Put16(d, v);
        Put32(d, 0);
        Put32(d, 0x06);
        return BiffRecord{0x0809, d};
    };
    // Records no reader knows, so that the stream is too long for the compound file's mini stream.
    const std::string filler = BiffStream(std::vector<BiffRecord>(48, BiffRecord{0x1234, std::string(100, 'x')}));
    const size_t sheetRecordSize = 4 + 14;
    size_t offset = BiffStream({bof(0x0005)}).size() + filler.size() + sheets.size() * sheetRecordSize + 4;
    std::string globals = BiffStream({bof(0x0005)}) + filler;
    std::string substreams;
    for (size_t i = 0; i < sheets.size(); ++i) {
        std::string d;
        Put32(d, static_cast<uint32_t>(offset + substreams.size()));
        d += std::string("\0\0\x06\0", 4) + "Sheet" + static_cast<char>('1' + i); // a worksheet, 6 characters
        globals += BiffStream({{0x0085, d}});
        substreams += BiffStream({bof(0x0010)}) + BiffStream(sheets[i]) + BiffStream({{0x000A, ""}});
    }
    globals += BiffStream({{0x000A, ""}});
    const std::string stream = globals + substreams;

    const uint32_t streamSectors = static_cast<uint32_t>((stream.size() + 511) / 512);
    std::string header;
    header += std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(16, '\0');
    for (const uint32_t v : {0x003Eu, 0x0003u, 0xFFFEu, 9u, 6u})
        Put16(header, v);
    header += std::string(6, '\0');
    for (const uint32_t v : {0u, 1u, 1u, 0u, 4096u, 0xFFFFFFFEu, 0u, 0xFFFFFFFEu, 0u, 0u})
        Put32(header, v); // directory sectors, FAT sectors, directory start, ..., the FAT in sector 0
    while (header.size() < 512)
        Put32(header, 0xFFFFFFFFu);

    std::string fat;
    Put32(fat, 0xFFFFFFFDu); // the FAT itself
    Put32(fat, 0xFFFFFFFEu); // the directory
    for (uint32_t s = 0; s < streamSectors; ++s)
        Put32(fat, s + 1 == streamSectors ? 0xFFFFFFFEu : s + 3);
    while (fat.size() < 512)
        Put32(fat, 0xFFFFFFFFu);

    const auto entry = [](std::u16string_view name, uint8_t type, uint32_t child, uint32_t start, uint32_t size) {
        std::string e;
        for (const char16_t c : name)
            Put16(e, c);
        e.resize(64, '\0');
        Put16(e, static_cast<uint32_t>((name.size() + 1) * 2));
        e.push_back(static_cast<char>(type));
        e.push_back(1);
        Put32(e, 0xFFFFFFFFu);
        Put32(e, 0xFFFFFFFFu);
        Put32(e, child);
        e.resize(0x74, '\0');
        Put32(e, start);
        Put32(e, size);
        e.resize(128, '\0');
        return e;
    };
    std::string directory = entry(u"Root Entry", 5, 1, 0xFFFFFFFEu, 0) +
                            entry(u"Workbook", 2, 0xFFFFFFFFu, 2, static_cast<uint32_t>(stream.size()));
    directory.resize(512, '\0');
    std::string body = stream;
    body.resize(streamSectors * 512, '\0');
    return header + fat + directory + body;
}

struct Opened
{
    bool ok = false;
    std::string error;
};

Opened Open(CExcelWorkbook& book, const std::string& path, const ProgressFn& progress = {})
{
    Opened result;
    result.ok = book.OpenForImport(path, &result.error, progress);
    return result;
}

// ---------------------------------------------------------------------------------------------
// One source sheet converted by LibreOffice into every format: the readings must agree.

class SameSheetInEveryFormat : public ::testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        const Opened opened = Open(m_book, Fixture(GetParam()));
        ASSERT_TRUE(opened.ok) << opened.error;
    }

    CExcelWorkbook m_book;
};

TEST_P(SameSheetInEveryFormat, SheetsAndRows)
{
    ASSERT_EQ(m_book.SheetCount(), 2);
    EXPECT_EQ(m_book.SheetName(0), "Link deals");
    EXPECT_EQ(m_book.SheetName(1), "Partners");
    EXPECT_EQ(m_book.RowCount(0), 7);
    EXPECT_EQ(m_book.RowCount(1), 2);
    EXPECT_EQ(m_book.SheetName(2), "");
    EXPECT_EQ(m_book.RowCount(-1), 0);
}

TEST_P(SameSheetInEveryFormat, TextsAsTheCellsShowThem)
{
    const struct
    {
        int row, column;
        const char* text;
    } expected[] = {
        {0, 0, "Link deals, spring 2024"},
        {1, 0, "Prices in US dollars"},
        {2, 0, "Project"},
        {2, 1, "Anchor"},
        {2, 3, "To Page"},
        {3, 2, "http://www.partner-one.example/links.html"},
        {3, 4, "01/01/2024"},
        {3, 5, "31-Jan-24"},
        {3, 6, "$30.00"},
        {3, 7, "4"},
        {3, 8, "John Smith (john@example.com)"},
        {3, 9, "PayPal"},
        {3, 11, "12.50%"},
        {3, 12, "1,234,567"},
        {3, 13, "3.14159"},
        {3, 14, "2024-01-31 14:30"},
        {4, 6, "$12.75"},
        {4, 10, ""},
        {4, 13, "-7.9"},
        {5, 0, ""},
        {6, 4, "12/31/2023"},
        {6, 6, "$1,234.50"},
        {6, 8, "mary@example.com"},
    };
    for (const auto& e : expected)
        EXPECT_EQ(m_book.CellText(0, e.row, e.column), e.text) << "row " << e.row << ", column " << e.column;
    EXPECT_EQ(m_book.CellText(1, 1, 0), "Acme Ltd");
    EXPECT_EQ(m_book.CellText(1, 1, 1), "sales@acme.example");
    EXPECT_EQ(m_book.CellText(0, 3, 200), "");
    EXPECT_EQ(m_book.CellText(7, 0, 0), "");
}

TEST_P(SameSheetInEveryFormat, DatesAreDatesAndNothingElseIs)
{
    EXPECT_EQ(m_book.CellDate(0, 3, 4), Date(2024, 1, 1));
    EXPECT_EQ(m_book.CellDate(0, 3, 5), Date(2024, 1, 31));
    EXPECT_EQ(m_book.CellDate(0, 4, 5), Date(2024, 3, 14));
    EXPECT_EQ(m_book.CellDate(0, 6, 4), Date(2023, 12, 31));
    const auto withTime = m_book.CellDate(0, 3, 14);
    ASSERT_TRUE(withTime.has_value());
    EXPECT_NEAR(withTime->GetValue(), Date(2024, 1, 31, 14, 30).GetValue(), 1e-6);

    EXPECT_FALSE(m_book.CellDate(0, 3, 6).has_value()); // a price
    EXPECT_FALSE(m_book.CellDate(0, 3, 7).has_value()); // a plain number
    EXPECT_FALSE(m_book.CellDate(0, 2, 4).has_value()); // the header text "Start date"
    EXPECT_FALSE(m_book.CellDate(0, 5, 4).has_value()); // the empty row
}

TEST_P(SameSheetInEveryFormat, IntegersAreTruncatedNumbers)
{
    EXPECT_EQ(m_book.CellInteger(0, 3, 6), 30);
    EXPECT_EQ(m_book.CellInteger(0, 4, 6), 12);   // 12.75
    EXPECT_EQ(m_book.CellInteger(0, 6, 6), 1234); // 1234.5
    EXPECT_EQ(m_book.CellInteger(0, 4, 13), -7);  // -7.9 toward zero
    EXPECT_EQ(m_book.CellInteger(0, 3, 7), 4);
    EXPECT_EQ(m_book.CellInteger(0, 4, 7), 0);
    EXPECT_EQ(m_book.CellInteger(0, 6, 7), 10);
    EXPECT_EQ(m_book.CellInteger(0, 3, 11), 0);    // 12.5 %
    EXPECT_EQ(m_book.CellInteger(0, 3, 5), 45322); // a date is its serial
    EXPECT_FALSE(m_book.CellInteger(0, 3, 0).has_value());
    EXPECT_FALSE(m_book.CellInteger(0, 2, 7).has_value());
    EXPECT_FALSE(m_book.CellInteger(0, 5, 7).has_value());
}

INSTANTIATE_TEST_SUITE_P(ExcelWorkbook, SameSheetInEveryFormat,
                         ::testing::Values("links.xlsx", "links.xls", "links.ods", "links.fods", "links-absolute.xlsx"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '.' || c == '-')
                                     c = '_';
                             return name;
                         });

// ---------------------------------------------------------------------------------------------

TEST(ExcelWorkbook, AbsoluteRelationshipTargetsAreMadeRelative)
{
    EXPECT_EQ(workbook::RelativeTarget("xl/", "/xl/worksheets/sheet1.xml"), "worksheets/sheet1.xml");
    EXPECT_EQ(workbook::RelativeTarget("", "/xl/workbook.xml"), "xl/workbook.xml");
    EXPECT_EQ(workbook::RelativeTarget("xl/worksheets/", "/xl/drawings/drawing1.xml"), "../drawings/drawing1.xml");
    EXPECT_EQ(workbook::RelativeTarget("xl/", "/docProps/core.xml"), "../docProps/core.xml");

    bool changed = false;
    const std::string rels =
        R"(<Relationships><Relationship Id="rId1" Target="/xl/worksheets/sheet1.xml" Type="w"/>)"
        R"(<Relationship Id="rId2" Target='styles.xml'/>)"
        R"(<Relationship Id="rId3" TargetMode="External" Target="/srv/share/prices.xlsx"/></Relationships>)";
    const std::string fixed = workbook::RelativeRelationships("xl/_rels/workbook.xml.rels", rels, changed);
    EXPECT_TRUE(changed);
    EXPECT_NE(fixed.find(R"(Target="worksheets/sheet1.xml")"), std::string::npos) << fixed;
    EXPECT_NE(fixed.find("Target='styles.xml'"), std::string::npos);
    EXPECT_NE(fixed.find(R"(Target="/srv/share/prices.xlsx")"), std::string::npos);

    workbook::RelativeRelationships("_rels/.rels", R"(<Relationship Target="xl/workbook.xml"/>)", changed);
    EXPECT_FALSE(changed);

    // The fixture really holds the absolute form the repair exists for.
    ASSERT_NE(ReadBytes(Fixture("links-absolute.xlsx")).find("/xl/worksheets/sheet1.xml"), std::string::npos);
}

TEST(ExcelWorkbook, SemicolonCsvInUtf8WithByteOrderMark)
{
    CExcelWorkbook book;
    const Opened opened = Open(book, Fixture("semicolons.csv"));
    ASSERT_TRUE(opened.ok) << opened.error;
    ASSERT_EQ(book.SheetCount(), 1);
    EXPECT_EQ(book.SheetName(0), "semicolons");
    EXPECT_EQ(book.RowCount(0), 6);
    EXPECT_EQ(book.CellText(0, 0, 0), "Link deals exported from the tracker"); // no BOM before it
    EXPECT_EQ(book.CellText(0, 1, 6), "Partner");
    EXPECT_EQ(book.CellText(0, 2, 1), "cheap; fast links");
    EXPECT_EQ(book.CellText(0, 2, 6), "John Smith (john@example.com)");
    EXPECT_EQ(book.CellText(0, 3, 0), "Проект");
    EXPECT_EQ(book.CellText(0, 3, 1), "say \"hi\"");
    EXPECT_EQ(book.CellText(0, 3, 6), "Jürgen Müller"); // no carriage return kept
    EXPECT_EQ(book.CellText(0, 4, 0), "");

    EXPECT_EQ(book.CellDate(0, 2, 2), Date(2024, 1, 1));
    EXPECT_EQ(book.CellDate(0, 2, 3), Date(2024, 1, 31)); // 01/31/2024
    EXPECT_NEAR(book.CellDate(0, 3, 2).value_or(OleDateTime()).GetValue(), Date(2024, 2, 15, 10, 30).GetValue(), 1e-6);
    EXPECT_FALSE(book.CellDate(0, 2, 4).has_value());
    EXPECT_FALSE(book.CellDate(0, 1, 2).has_value());

    EXPECT_EQ(book.CellInteger(0, 2, 4), 30);
    EXPECT_EQ(book.CellInteger(0, 3, 4), 12);   // 12,50
    EXPECT_EQ(book.CellInteger(0, 5, 4), 1234); // $1,234.50
    EXPECT_EQ(book.CellInteger(0, 5, 5), 10);
    EXPECT_FALSE(book.CellInteger(0, 2, 0).has_value());
}

TEST(ExcelWorkbook, TabCsvInWindows1252)
{
    CExcelWorkbook book;
    const Opened opened = Open(book, Fixture("tabs-cp1252.csv"));
    ASSERT_TRUE(opened.ok) << opened.error;
    EXPECT_EQ(book.RowCount(0), 3);
    EXPECT_EQ(book.CellText(0, 1, 0), "Café");
    EXPECT_EQ(book.CellText(0, 1, 1), "crème brûlée"); // quoted, before a tab
    EXPECT_EQ(book.CellText(0, 1, 3), "José");
    EXPECT_EQ(book.CellText(0, 2, 1), "links for 5 €");
    EXPECT_EQ(book.CellText(0, 2, 3), "Smith, John");
    EXPECT_EQ(book.CellInteger(0, 2, 2), -7);
}

TEST(ExcelWorkbook, UnicodeTextAsSpreadsheetsSaveIt)
{
    // "Unicode text": UTF-16 little-endian with a byte order mark, tab separated.
    const std::u16string text = u"Name\tPrice\r\nMüller 🙂\t5\r\n";
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    testsupport::TempDir dir;
    WriteBytes(dir.Path() + "/unicode.txt", bytes);
    CExcelWorkbook book;
    const Opened opened = Open(book, dir.Path() + "/unicode.txt");
    ASSERT_TRUE(opened.ok) << opened.error;
    EXPECT_EQ(book.RowCount(0), 2);
    EXPECT_EQ(book.CellText(0, 1, 0), "Müller 🙂");
    EXPECT_EQ(book.CellInteger(0, 1, 1), 5);
}

TEST(ExcelWorkbook, PackagePathsAndCellReferences)
{
    EXPECT_EQ(workbook::ResolvePartPath("xl/workbook.xml", "worksheets/sheet1.xml"), "xl/worksheets/sheet1.xml");
    EXPECT_EQ(workbook::ResolvePartPath("xl/workbook.xml", "/xl/worksheets/sheet1.xml"), "xl/worksheets/sheet1.xml");
    EXPECT_EQ(workbook::ResolvePartPath("xl/worksheets/sheet1.xml", "../drawings/./d1.xml"), "xl/drawings/d1.xml");
    EXPECT_EQ(workbook::ResolvePartPath("", "xl/workbook.xml"), "xl/workbook.xml");

    int64_t row = -1;
    int64_t column = -1;
    ASSERT_TRUE(workbook::ParseCellReference("B7", row, column));
    EXPECT_EQ(row, 6);
    EXPECT_EQ(column, 1);
    ASSERT_TRUE(workbook::ParseCellReference("'Link deals'!$AA$10", row, column));
    EXPECT_EQ(row, 9);
    EXPECT_EQ(column, 26);
    ASSERT_TRUE(workbook::ParseCellReference("XFD1048576", row, column));
    EXPECT_EQ(column, 16383);
    EXPECT_FALSE(workbook::ParseCellReference("A0", row, column));
    EXPECT_FALSE(workbook::ParseCellReference("7B", row, column));
    EXPECT_FALSE(workbook::ParseCellReference("A99999999999", row, column));
    EXPECT_FALSE(workbook::ParseCellReference("", row, column));
}

TEST(ExcelWorkbook, CsvDelimiterIsTheOneThatSplitsLinesAlike)
{
    testsupport::TempDir dir;
    const std::string path = dir.Path() + "/deals.txt";
    // Commas occur in every line, but only semicolons split all of them into the same columns.
    WriteBytes(path, "Smith, John;30;links, cheap\nDoe, Jane;40;more, links, here\n\"A;B\";\"multi\nline\";x\n");
    CExcelWorkbook book;
    ASSERT_TRUE(Open(book, path).ok);
    EXPECT_EQ(book.SheetName(0), "deals");
    EXPECT_EQ(book.CellText(0, 1, 2), "more, links, here");
    EXPECT_EQ(book.CellText(0, 2, 0), "A;B");
    EXPECT_EQ(book.CellText(0, 2, 1), "multi\nline");
    EXPECT_EQ(book.RowCount(0), 3);
}

TEST(ExcelWorkbook, CsvReadsOnlyWellFormedNumbersAndDates)
{
    EXPECT_EQ(workbook::LooseNumber("1,234,567.5"), 1234567.5);
    EXPECT_EQ(workbook::LooseNumber(" -$30 "), -30.0);
    EXPECT_EQ(workbook::LooseNumber("12,5"), 12.5);
    EXPECT_EQ(workbook::LooseNumber(".5"), 0.5);
    EXPECT_FALSE(workbook::LooseNumber("1,2345").has_value());
    EXPECT_FALSE(workbook::LooseNumber("12 apples").has_value());
    EXPECT_FALSE(workbook::LooseNumber("$").has_value());
    EXPECT_FALSE(workbook::LooseNumber("2024-01-31").has_value());

    EXPECT_EQ(workbook::LooseDate("2024-01-31"), Date(2024, 1, 31).GetValue());
    EXPECT_EQ(workbook::LooseDate("1/31/2024"), Date(2024, 1, 31).GetValue());
    EXPECT_EQ(workbook::LooseDate("2024-01-31T14:30:00Z"), Date(2024, 1, 31, 14, 30).GetValue());
    EXPECT_FALSE(workbook::LooseDate("2024-02-30").has_value());
    EXPECT_FALSE(workbook::LooseDate("31/01/2024").has_value());
    EXPECT_FALSE(workbook::LooseDate("2024-01-31 25:00").has_value());
    EXPECT_FALSE(workbook::LooseDate("2024-1-31").has_value());
}

// A workbook from another writer (libxlsxwriter): shared strings, booleans, formula results,
// built-in number formats.
TEST(ExcelWorkbook, XlsxFromAnotherWriter)
{
    testsupport::TempDir dir;
    const std::string path = dir.Path() + "/writer.xlsx";
    {
        lxw_workbook* wb = workbook_new(path.c_str());
        lxw_worksheet* ws = workbook_add_worksheet(wb, "Data");
        lxw_format* shortDate = workbook_add_format(wb);
        format_set_num_format_index(shortDate, 14);
        lxw_format* money = workbook_add_format(wb);
        format_set_num_format(money, "$#,##0.00");
        lxw_format* quoted = workbook_add_format(wb);
        format_set_num_format(quoted, "0 \"days\"");
        lxw_datetime jan31 = {2024, 1, 31, 0, 0, 0};
        worksheet_write_datetime(ws, 0, 0, &jan31, shortDate);
        worksheet_write_number(ws, 0, 1, 1234.5, money);
        worksheet_write_number(ws, 0, 2, 30, quoted);
        worksheet_write_boolean(ws, 0, 3, 1, nullptr);
        worksheet_write_formula_num(ws, 0, 4, "=B1*2", money, 2469);
        worksheet_write_formula_num(ws, 0, 5, "=A1+1", shortDate, 45323); // formats reach orcus before results
        worksheet_write_string(ws, 1, 0, "plain", nullptr);
        worksheet_write_number(ws, 2, 0, 4e9, nullptr);
        worksheet_write_number(ws, 2, 1, -2147483648.5, nullptr);
        lxw_datetime early = {1900, 1, 1, 0, 0, 0};
        worksheet_write_datetime(ws, 3, 0, &early, shortDate);
        ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
    }
    CExcelWorkbook book;
    const Opened opened = Open(book, path);
    ASSERT_TRUE(opened.ok) << opened.error;
    EXPECT_EQ(book.CellText(0, 0, 0), "1/31/2024");
    EXPECT_EQ(book.CellDate(0, 0, 0), Date(2024, 1, 31));
    EXPECT_EQ(book.CellText(0, 0, 1), "$1,234.50");
    EXPECT_EQ(book.CellText(0, 0, 2), "30 days");
    EXPECT_FALSE(book.CellDate(0, 0, 2).has_value()); // the "d" was quoted
    EXPECT_EQ(book.CellText(0, 0, 3), "TRUE");
    EXPECT_FALSE(book.CellInteger(0, 0, 3).has_value());
    EXPECT_EQ(book.CellText(0, 0, 4), "$2,469.00");
    EXPECT_EQ(book.CellInteger(0, 0, 4), 2469);
    EXPECT_EQ(book.CellText(0, 0, 5), "2/1/2024");
    EXPECT_EQ(book.CellDate(0, 0, 5), Date(2024, 2, 1));
    EXPECT_EQ(book.CellText(0, 1, 0), "plain");

    EXPECT_EQ(book.CellText(0, 2, 0), "4000000000");
    EXPECT_FALSE(book.CellInteger(0, 2, 0).has_value()); // beyond 32 bits
    EXPECT_EQ(book.CellInteger(0, 2, 1), INT32_MIN);
    // Serial 1 of the 1900 system is 1 January 1900, one day after the OLE date 1.
    EXPECT_EQ(book.CellDate(0, 3, 0), Date(1900, 1, 1));
    EXPECT_EQ(book.RowCount(0), 4);
}

// A package written by hand the way small generators write them: absolute targets, inline and
// rich strings, an error, formula results, the 1904 date system and a text past the cut.
TEST(ExcelWorkbook, HandMadeXlsx)
{
    const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    const std::string longText = "é" + std::string(100 * 1024, 'x');
    const std::vector<ZipEntry> entries = {
        {"[Content_Types].xml",
         R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
         R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
         R"(<Default Extension="xml" ContentType="application/xml"/>)"
         R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>)"
         R"(<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)"
         R"(<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>)"
         R"(<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/></Types>)"},
        {"_rels/.rels", R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
                        R"(<Relationship Id="rId1" Type=")" +
                            rel + R"(/officeDocument" Target="/xl/workbook.xml"/></Relationships>)"},
        {"xl/workbook.xml", R"(<workbook xmlns=")" + main + R"(" xmlns:r=")" + rel +
                                R"("><workbookPr date1904="1"/>)"
                                R"(<sheets><sheet name="Hand made" sheetId="1" r:id="rId1"/></sheets></workbook>)"},
        {"xl/_rels/workbook.xml.rels",
         R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
         R"(<Relationship Id="rId1" Type=")" +
             rel +
             R"(/worksheet" Target="/xl/worksheets/sheet1.xml"/>)"
             R"(<Relationship Id="rId2" Type=")" +
             rel +
             R"(/sharedStrings" Target="/xl/sharedStrings.xml"/>)"
             R"(<Relationship Id="rId3" Type=")" +
             rel + R"(/styles" Target="styles.xml"/></Relationships>)"},
        {"xl/styles.xml", R"(<styleSheet xmlns=")" + main +
                              R"("><numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy\-mm\-dd"/></numFmts>)"
                              R"(<cellXfs count="3"><xf numFmtId="0"/><xf numFmtId="164" applyNumberFormat="1"/>)"
                              R"(<xf numFmtId="10" applyNumberFormat="1"/></cellXfs></styleSheet>)"},
        {"xl/sharedStrings.xml",
         R"(<sst xmlns=")" + main + R"(" count="2" uniqueCount="2"><si><t>)" + longText +
             R"(</t></si><si><r><t xml:space="preserve">rich </t></r><r><rPr><b/></rPr><t>text</t></r></si></sst>)"},
        {"xl/worksheets/sheet1.xml",
         R"(<worksheet xmlns=")" + main +
             R"("><sheetData>)"
             R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c><c r="C1" t="inlineStr"><is><t>inline</t></is></c></row>)"
             R"(<row r="2"><c r="A2" s="1"><v>0</v></c><c r="B2" s="2"><v>0.25</v></c><c r="C2" t="str"><f>"a"&amp;"b"</f><v>ab</v></c>)"
             R"(<c r="D2"><f>1+1</f><v>2</v></c></row>)"
             R"(<row r="9"><c r="A9" t="s"><v>7</v></c></row></sheetData></worksheet>)"},
    };
    testsupport::TempDir dir;
    const std::string path = dir.Path() + "/hand.xlsx";
    WriteBytes(path, MakeZip(entries));
    CExcelWorkbook book;
    const Opened opened = Open(book, path);
    ASSERT_TRUE(opened.ok) << opened.error;
    ASSERT_EQ(book.SheetCount(), 1);
    EXPECT_EQ(book.SheetName(0), "Hand made");

    const std::string cut = book.CellText(0, 0, 0);
    EXPECT_EQ(cut.size(), 64u * 1024u);
    EXPECT_EQ(cut.substr(0, 3), "éx");
    EXPECT_EQ(book.CellText(0, 0, 1), "rich text");
    EXPECT_EQ(book.CellText(0, 0, 2), "inline");
    EXPECT_EQ(book.CellText(0, 1, 0), "1904-01-01");
    EXPECT_EQ(book.CellDate(0, 1, 0), Date(1904, 1, 1));
    EXPECT_EQ(book.CellText(0, 1, 1), "25.00%");
    EXPECT_EQ(book.CellText(0, 1, 2), "ab");
    EXPECT_EQ(book.CellText(0, 1, 3), "2");
    EXPECT_EQ(book.CellInteger(0, 1, 3), 2);
    // A shared-string index the table does not have reads as an empty cell, and counts no row.
    EXPECT_EQ(book.CellText(0, 8, 0), "");
    EXPECT_EQ(book.RowCount(0), 2);
}

// OpenDocument content the LibreOffice fixtures do not show: repeated cells with values, comments,
// spaces and several paragraphs in one cell, booleans, times, a table inside a cell.
TEST(ExcelWorkbook, OpenDocumentCellsAsWritten)
{
    const std::string fods =
        R"(<?xml version="1.0" encoding="UTF-8"?>)"
        R"(<o:document xmlns:o="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
        R"(xmlns:t="urn:oasis:names:tc:opendocument:xmlns:table:1.0" )"
        R"(xmlns:x="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:office="urn:example:not-office">)"
        R"(<o:body><o:spreadsheet><t:table t:name="Odd">)"
        R"(<t:table-row t:number-rows-repeated="2">)"
        R"(<t:table-cell t:number-columns-repeated="3" o:value-type="float" o:value="7"><x:p>7.00</x:p></t:table-cell>)"
        R"(</t:table-row>)"
        R"(<t:table-row>)"
        R"(<t:table-cell o:value-type="string"><o:annotation><x:p>a comment</x:p></o:annotation>)"
        R"(<x:p>two<x:s x:c="3"/>spaces</x:p><x:p>second line</x:p></t:table-cell>)"
        R"(<t:table-cell o:value-type="boolean" o:boolean-value="true"><x:p>WAHR</x:p></t:table-cell>)"
        R"(<t:table-cell o:value-type="time" o:time-value="PT14H30M00S"><x:p>02:30 PM</x:p></t:table-cell>)"
        R"(<t:covered-table-cell/>)"
        R"(<t:table-cell office:value-type="float" office:value="9"><x:p>nine</x:p></t:table-cell>)"
        R"(<t:table-cell o:value-type="string"><t:table t:name="inner"><t:table-row><t:table-cell o:value-type="string">)"
        R"(<x:p>inner</x:p></t:table-cell></t:table-row></t:table><x:p>outer</x:p></t:table-cell>)"
        R"(</t:table-row></t:table></o:spreadsheet></o:body></o:document>)";
    testsupport::TempDir dir;
    const std::string path = dir.Path() + "/odd.fods";
    WriteBytes(path, fods);
    CExcelWorkbook book;
    const Opened opened = Open(book, path);
    ASSERT_TRUE(opened.ok) << opened.error;
    ASSERT_EQ(book.SheetCount(), 1); // the table inside a cell is no sheet
    EXPECT_EQ(book.SheetName(0), "Odd");
    EXPECT_EQ(book.RowCount(0), 3);
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 3; ++column) {
            EXPECT_EQ(book.CellText(0, row, column), "7.00") << row << "," << column;
            EXPECT_EQ(book.CellInteger(0, row, column), 7);
        }
    EXPECT_EQ(book.CellText(0, 0, 3), "");
    EXPECT_EQ(book.CellText(0, 2, 0), "two   spaces\nsecond line");
    EXPECT_EQ(book.CellText(0, 2, 1), "TRUE");
    EXPECT_EQ(book.CellText(0, 2, 2), "02:30 PM");
    EXPECT_NEAR(book.CellDate(0, 2, 2).value_or(OleDateTime()).GetValue(), 14.5 / 24, 1e-9);
    // "office" names another namespace in this file: its value-type means nothing here.
    EXPECT_EQ(book.CellText(0, 2, 4), "nine");
    EXPECT_FALSE(book.CellInteger(0, 2, 4).has_value());
    EXPECT_EQ(book.CellText(0, 2, 5), "outer");
}

TEST(ExcelWorkbook, CellTextsAreCutAtACharacterBoundary)
{
    EXPECT_EQ(workbook::CutUtf8("aé", 2), "a");
    EXPECT_EQ(workbook::CutUtf8("aé", 3), "aé");
    EXPECT_EQ(workbook::CutUtf8("€€", 4), "€");

    testsupport::TempDir dir;
    const std::string path = dir.Path() + "/long.csv";
    std::string field;
    while (field.size() < 100 * 1024)
        field += "€";
    WriteBytes(path, "short;" + field + "\n");
    CExcelWorkbook book;
    ASSERT_TRUE(Open(book, path).ok);
    const std::string text = book.CellText(0, 0, 1);
    EXPECT_LE(text.size(), 64u * 1024u);
    EXPECT_GT(text.size(), 64u * 1024u - 3);
    EXPECT_EQ(text.size() % 3, 0u) << "a euro sign was split";
}

TEST(ExcelWorkbook, XlsReaderSeesTheFormatsFreexlKeepsToItself)
{
    const std::string file = ReadBytes(Fixture("links.xls"));
    const auto layout = workbook::ReadBiffLayout(file, 1000, 10);
    ASSERT_TRUE(layout.has_value());
    ASSERT_EQ(layout->sheets.size(), 2u);
    EXPECT_EQ(layout->sheets[0].name, "Link deals");
    EXPECT_GE(layout->sheets[0].claimedCells, 7u * 15u);

    // freexl gets a copy without date formats; the copy must still be the same workbook.
    const auto general = workbook::WithGeneralFormats(file, *layout);
    ASSERT_TRUE(general.has_value());
    ASSERT_EQ(general->size(), file.size());
    const auto patched = workbook::ReadBiffLayout(*general, 1000, 10);
    ASSERT_TRUE(patched.has_value());
    EXPECT_EQ(patched->xfFormats.size(), layout->xfFormats.size());
    for (const uint16_t id : patched->xfFormats)
        EXPECT_EQ(id, 0);
    EXPECT_EQ(patched->sheets[0].cells.size(), layout->sheets[0].cells.size());

    // The walk over the records is bounded like the rest of the reader.
    const auto fewCells = workbook::ReadBiffLayout(file, 5, 10);
    ASSERT_TRUE(fewCells.has_value());
    EXPECT_TRUE(fewCells->tooManyCells);
    EXPECT_FALSE(layout->tooManyCells);
    EXPECT_FALSE(workbook::ReadBiffLayout(file, 1000, 1).has_value());
}

// libfreexl allocates the end row times the end column of every DIMENSION record it meets, keeping
// the earlier grids (never freed), and for a sheet without one the grid up to its farthest cell: the
// sum is refused before the library opens the file, and so is a sheet with a second DIMENSION, even
// a small one. Hand-made workbooks, so the first cases show they read.
TEST(ExcelWorkbook, XlsGridsAreBoundedOverEveryDimensionRecord)
{
    const auto grids = [](int count) {
        std::vector<BiffRecord> records(static_cast<size_t>(count), Dimension(0, 300, 0, 100)); // 30,000 cells
        records.push_back(Number(2, 1, 42));
        return records;
    };
    enum Outcome
    {
        Opens,
        TooLarge,
        SizedTwice
    };
    const struct
    {
        const char* what;
        std::vector<std::vector<BiffRecord>> sheets;
        uint64_t gridLimit; // 0: the default
        Outcome outcome;
    } cases[] = {
        {"a small sheet", {{Dimension(0, 3, 0, 2), Number(2, 1, 42)}}, 0, Opens},
        {"one row by one column at the far end",
         {{Dimension(65535, 65536, 239, 240), Number(65535, 239, 1)}},
         0,
         TooLarge},
        {"one grid in each of three sheets within the bound", {grids(1), grids(1), grids(1)}, 100'000, Opens},
        {"four sheets' grids beyond it", {grids(1), grids(1), grids(1), grids(1)}, 100'000, TooLarge},
        {"two small grids in one sheet", {grids(2)}, 0, SizedTwice},
        {"no DIMENSION and one far cell", {{Number(65535, 255, 1)}}, 0, TooLarge},
    };
    testsupport::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedLimits limits;
        if (c.gridLimit)
            limits->maxXlsGridCells = c.gridLimit;
        WriteBytes(dir.File("grid.xls"), MakeXls(c.sheets));
        CExcelWorkbook book;
        const Opened opened = Open(book, dir.File("grid.xls"));
        EXPECT_EQ(opened.ok, c.outcome == Opens) << opened.error;
        if (c.outcome == Opens)
            EXPECT_EQ(book.CellInteger(0, 2, 1), 42);
        else if (c.outcome == SizedTwice)
            EXPECT_EQ(opened.error,
                      "the xls file declares a sheet's size more than once (saved as .xlsx it can be read)");
        else
            EXPECT_EQ(opened.error, "the xls file's sheets span more than " +
                                        std::to_string(workbook::ActiveLimits().maxXlsGridCells) +
                                        " cells (saved as .xlsx it can be read)");
    }
}

// ---------------------------------------------------------------------------------------------
// Hostile and broken files end with a reason, never a crash and never a half-read workbook.

// Each refusal names its reason (matched whole when `exact`, else by a part) and leaves no sheet;
// a package claiming too much is refused before anything is unpacked, and orcus, which checks no
// checksums, never parses a damaged part.
TEST(ExcelWorkbook, HostileAndBrokenFilesFailWithAReason)
{
    const auto half = [](const char* name) {
        const std::string whole = ReadBytes(Fixture(name));
        return whole.substr(0, whole.size() / 2);
    };
    const std::string types = "[Content_Types].xml";
    const struct
    {
        const char* file;
        std::optional<std::string> bytes; ///< nullopt: no such file
        const char* error;
        bool exact;
    } cases[] = {
        {"huge.xlsx", MakeZip({{types, "<Types/>"}, {"xl/worksheets/sheet1.xml", "<x/>", 0x80000000u}}),
         "would unpack to more than", false},
        {"bomb.xlsx", MakeZip({{types, "<Types/>"}, {"xl/sharedStrings.xml", "0123456789", 50u << 20}}),
         "xl/sharedStrings.xml is compressed more than 1000 to 1", false},
        {"photos.zip", MakeZip({{"hello.txt", "hello"}}), "not a workbook", false},
        {"damaged.xlsx", MakeZip({{types, "<Types/>"}, {"xl/styles.xml", "<styleSheet/>", 0, true}}),
         "the package entry xl/styles.xml is damaged", true},
        {"empty.xlsx", MakeZip({{types, "<Types/>"}}), "", false},
        {"missing.xlsx", std::nullopt, "cannot open", false},
        // Made below: opening a named pipe for reading waits for a writer that never comes.
        {"pipe.xlsx", std::nullopt, "pipe.xlsx\" is a named pipe, not a workbook file", false},
        {"folder.xls", std::nullopt, "folder.xls\" is a folder, not a workbook file", false},
        {"binary.xls", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "the file is neither a workbook nor text",
         true},
        {"ole.xls", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\0'), "", false},
        {"empty.csv", "\r\n \n", "the file is empty", true},
        {"junk.csv", "\"a\"b;c\n", "text file cannot be read", false},
        {"broken.fods", ReadBytes(Fixture("links.fods")).substr(0, 3000) + "<<<", "damaged", false},
        {"half-xlsx", half("links.xlsx"), "", false},
        {"half-xls", half("links.xls"), "", false},
        {"half-ods", half("links.ods"), "", false},
    };
    testsupport::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("pipe.xlsx").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(dir.File("folder.xls").c_str(), 0700), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        if (c.bytes)
            WriteBytes(dir.File(c.file), *c.bytes);
        CExcelWorkbook book;
        const Opened opened = Open(book, dir.File(c.file));
        EXPECT_FALSE(opened.ok);
        EXPECT_FALSE(opened.error.empty());
        if (c.exact)
            EXPECT_EQ(opened.error, c.error);
        else
            EXPECT_NE(opened.error.find(c.error), std::string::npos) << opened.error;
        EXPECT_EQ(book.SheetCount(), 0);
    }
}

// Every bound ends the opening in every format it applies to, with a reason that names it; a
// repeated row with content multiplies, and the bound holds there too.
TEST(ExcelWorkbook, TooManyCellsOrTextsAndTooLargeFilesAreRefused)
{
    testsupport::TempDir dir;
    std::string fods = ReadBytes(Fixture("links.fods"));
    const std::string row = "<table:table-row>\n     <table:table-cell office:value-type=\"string\"><text:p>Link";
    const size_t at = fods.find(row);
    ASSERT_NE(at, std::string::npos);
    fods.insert(at + std::string("<table:table-row").size(), " table:number-rows-repeated=\"1000000\"");
    WriteBytes(dir.File("repeated.fods"), fods);

    const struct
    {
        uint64_t workbook::Limits::*bound;
        uint64_t value;
        std::vector<std::string> files;
        const char* error;
    } cases[] = {
        // The link sheets hold some sixty cells, the csv file 29.
        {&workbook::Limits::maxCells,
         20,
         {Fixture("links.xlsx"), Fixture("links.xls"), Fixture("links.ods"), Fixture("links.fods"),
          Fixture("semicolons.csv")},
         "the workbook holds more than 20 cells"},
        {&workbook::Limits::maxStrings, 10, {Fixture("links.xlsx")}, "the workbook holds more than 10 texts"},
        {&workbook::Limits::maxStringBytes,
         100,
         {Fixture("links.ods")},
         "the workbook's texts take more than 100 bytes"},
        {&workbook::Limits::maxFileBytes,
         1000,
         {Fixture("links.xlsx"), Fixture("links.xls"), Fixture("links.fods")},
         "the file is larger than 1000 bytes"},
        {&workbook::Limits::maxCells, 1000, {dir.File("repeated.fods")}, "the workbook holds more than 1000 cells"},
    };
    for (const auto& c : cases) {
        const ScopedLimits limits;
        workbook::ActiveLimits().*c.bound = c.value;
        for (const std::string& file : c.files) {
            SCOPED_TRACE(file);
            CExcelWorkbook book;
            const Opened opened = Open(book, file);
            EXPECT_FALSE(opened.ok);
            EXPECT_EQ(opened.error, c.error);
            EXPECT_EQ(book.SheetCount(), 0);
        }
    }
}

// Cut and scrambled copies of each fixture: whatever they read as, the opening returns, and a
// refusal comes with a reason.
TEST(ExcelWorkbook, ScrambledFilesNeverCrash)
{
    testsupport::TempDir dir;
    const std::string path = dir.Path() + "/scrambled";
    for (const char* name : {"links.xlsx", "links.xls", "links.ods", "links-absolute.xlsx"}) {
        const std::string whole = ReadBytes(Fixture(name));
        uint32_t seed = 12345;
        for (int round = 0; round < 40; ++round) {
            std::string bytes = whole;
            if (round % 4 == 0)
                bytes.resize(bytes.size() * static_cast<size_t>(round + 1) / 42);
            for (int k = 0; k < 1 + round % 5 && !bytes.empty(); ++k) {
                seed = seed * 1103515245u + 12345u;
                bytes[(seed >> 8) % bytes.size()] = static_cast<char>(seed >> 24);
            }
            WriteBytes(path, bytes);
            CExcelWorkbook book;
            std::string error;
            const bool ok = book.OpenForImport(path, &error);
            if (!ok)
                EXPECT_FALSE(error.empty()) << name << " round " << round;
            else
                for (int s = 0; s < book.SheetCount(); ++s)
                    for (int r = 0; r < std::min(book.RowCount(s), 50); ++r)
                        (void)book.CellText(s, r, 0);
        }
    }
}

TEST(ExcelWorkbook, ProgressIsReportedAndCanCancel)
{
    testsupport::TempDir dir;
    const std::string path = dir.Path() + "/many.csv";
    std::string csv;
    for (int i = 0; i < 20000; ++i)
        csv += "Project " + std::to_string(i) + ",anchor text,http://site.example/" + std::to_string(i) + "\n";
    WriteBytes(path, csv);

    std::vector<double> seen;
    CExcelWorkbook book;
    ASSERT_TRUE(Open(book, path, [&](double done) {
                    seen.push_back(done);
                    return true;
                }).ok);
    ASSERT_GE(seen.size(), 5u);
    for (size_t i = 1; i < seen.size(); ++i)
        EXPECT_LE(seen[i - 1], seen[i]);
    EXPECT_EQ(seen.back(), 1.0);
    EXPECT_EQ(book.RowCount(0), 20000);

    for (const std::string& file : {path, Fixture("links.xlsx"), Fixture("links.ods")}) {
        int calls = 0;
        const Opened cancelled = Open(book, file, [&](double) { return ++calls < 2; });
        EXPECT_FALSE(cancelled.ok) << file;
        EXPECT_EQ(cancelled.error, "cancelled") << file;
        EXPECT_EQ(book.SheetCount(), 0) << file;
    }
}

TEST(ExcelWorkbook, LargeSheetKeepsEveryCell)
{
    testsupport::TempDir dir;
    const std::string path = dir.Path() + "/large.xlsx";
    constexpr int kRows = 20000;
    {
        lxw_workbook* wb = workbook_new(path.c_str());
        lxw_worksheet* ws = workbook_add_worksheet(wb, "Large");
        lxw_format* money = workbook_add_format(wb);
        format_set_num_format(money, "[$$-409]#,##0.00");
        for (int r = 0; r < kRows; ++r) {
            worksheet_write_string(ws, r, 0, ("Project " + std::to_string(r % 97)).c_str(), nullptr);
            worksheet_write_number(ws, r, 1, r + 0.5, money);
            for (int c = 2; c < 15; ++c)
                worksheet_write_number(ws, r, static_cast<lxw_col_t>(c), r * 15 + c, nullptr);
        }
        ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
    }
    int reports = 0;
    CExcelWorkbook book;
    const Opened opened = Open(book, path, [&](double) {
        ++reports;
        return true;
    });
    ASSERT_TRUE(opened.ok) << opened.error;
    EXPECT_EQ(book.RowCount(0), kRows);
    EXPECT_GE(reports, 4);
    EXPECT_EQ(book.CellText(0, kRows - 1, 0), "Project " + std::to_string((kRows - 1) % 97));
    EXPECT_EQ(book.CellText(0, 12345, 1), "$12,345.50");
    EXPECT_EQ(book.CellInteger(0, kRows - 1, 14), (kRows - 1) * 15 + 14);
    EXPECT_EQ(book.CellInteger(0, 777, 2), 777 * 15 + 2);
}

} // namespace
