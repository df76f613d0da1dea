#include "unit/TestSupport.h"

#include "core/exchange/Exports.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "unit/core/records/DateTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

const std::string kHeader = "Partner\tPartner organization\tPartner e-mail\tPartner ICQ number\tPartner phone "
                            "number\tProject\tFrom page\tTo Page\tAnchor\tFirst payment date\tLast payment "
                            "date\tExpiry date\tPrice\tFull cost\tStatus\r\n";

using records_test::Date;

struct Records
{
    CPartnersManager partners;
    CLinksManager links;

    CPartner* AddPartner(std::string name, std::string organization = {}, std::string email = {}, std::string icq = {},
                         std::string phone = {})
    {
        CPartner* partner = partners.AddPartner(std::move(name));
        partner->SetOrganization(std::move(organization));
        partner->SetEmail(std::move(email));
        partner->SetIcq(std::move(icq));
        partner->SetPhone(std::move(phone));
        return partner;
    }
    /// A link paid on `paid` for `days` days.
    CLink* AddLink(const CPartner* partner, std::string project, const OleDateTime& paid, double days,
                   uint32_t status = 0)
    {
        CLink* link = links.AddNewLink();
        link->SetPartnerId(partner ? partner->GetId() : -1);
        link->SetProject(std::move(project));
        link->SetFirstPaymentDate(paid);
        link->SetLastPaymentDate(paid);
        link->SetPeriod(OleDateTimeSpan(days));
        link->SetStatus(status);
        return link;
    }
};

std::vector<std::string> FilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

using ExportFn = bool (*)(const std::string&, const CPartnersManager&, const CLinksManager&, std::string*,
                          const ProgressFn&);

} // namespace

TEST(ExportTextLine, HeaderAndALinkWithoutPartner)
{
    Records db;
    EXPECT_EQ(kHeader, BuildExportLine(nullptr, db.partners));
    CLink* link = db.AddLink(nullptr, "shop", Date(2012, 3, 29), 0, StatusExpired);
    link->SetFromPage("http://partner.example/");
    link->SetToPage("http://my.example/");
    link->SetAnchor("buy\tnow"); // fields go out as they are
    const std::string expected = "\t\t\t\t\tshop\thttp://partner.example/\thttp://my.example/\tbuy\tnow\t03/29/12\t"
                                 "03/29/12\t03/29/12\t0\t0\tExpired\t\r\n";
    EXPECT_EQ(expected, BuildExportLine(link, db.partners));
    // A partner deleted since is the same as none.
    link->SetPartnerId(db.AddPartner("Gone")->GetId());
    db.partners.RemovePartner(db.partners.FindByName("Gone"));
    EXPECT_EQ(expected, BuildExportLine(link, db.partners));
}

TEST(ExportTextLine, PartnerColumnsDatesAndPrices)
{
    Records db;
    const CPartner* partner = db.AddPartner("Иван", "Acme Ltd", "ivan@acme.example", "12345", "+7 495");
    CLink* link = db.AddLink(partner, "проект", Date(2012, 1, 1), 91); // up to 1 April
    link->SetCostPerMonthValue(30);
    link->SetFirstPaymentDate(Date(2011, 12, 24));
    EXPECT_EQ(
        "Иван\tAcme Ltd\tivan@acme.example\t12345\t+7 495\tпроект\t\t\t\t12/24/11\t01/01/12\t04/01/12\t30\t90\t\t\r\n",
        BuildExportLine(link, db.partners));
    // A permanent deal: no expiry (what the import reads back as permanent), no monthly price,
    // the one payment as the full cost.
    link->MakePermanent();
    EXPECT_EQ("Иван\tAcme Ltd\tivan@acme.example\t12345\t+7 495\tпроект\t\t\t\t12/24/11\t01/01/12\t\t\t30\t\t\r\n",
              BuildExportLine(link, db.partners));
    link->SetPeriod(OleDateTimeSpan(91.0));

    link->SetFirstPaymentDate(OleDateTime::Null());
    link->SetLastPaymentDate(OleDateTime::Invalid());
    link->SetStatus(StatusCantOpen);
    EXPECT_EQ("Иван\tAcme Ltd\tivan@acme.example\t12345\t+7 495\tпроект\t\t\t\t\tInvalid DateTime\tInvalid "
              "DateTime\t30\t30\tCan't open page\t\r\n",
              BuildExportLine(link, db.partners));
}

TEST(ExportTextFile, HeaderThenEveryLinkInListOrder)
{
    TempDir dir;
    Records db;
    ASSERT_TRUE(ExportText(dir.File("empty.txt"), db.partners, db.links));
    EXPECT_EQ(kHeader, ReadBytes(dir.File("empty.txt")));

    const CPartner* partner = db.AddPartner("Acme");
    for (int i = 0; i < 10000; ++i)
        db.AddLink(i % 3 ? partner : nullptr, "p" + std::to_string(i), Date(2012, 1, 1 + i % 28), 30 + i % 400);
    std::string expected = kHeader;
    for (const CLink* link : db.links.GetLinks())
        expected += BuildExportLine(link, db.partners);
    WriteBytes(dir.File("links.txt"), "old contents");
    std::vector<double> seen;
    std::string error;
    ASSERT_TRUE(ExportText(dir.File("links.txt"), db.partners, db.links, &error, [&](double done) {
        seen.push_back(done);
        return true;
    })) << error;
    EXPECT_EQ(expected, ReadBytes(dir.File("links.txt")));
    EXPECT_EQ((std::vector<std::string>{"empty.txt", "links.txt"}), FilesIn(dir.Path()));
    EXPECT_GE(seen.size(), 2u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

namespace {

/// Every way this machine lets us make a save fail, each leaving `target` as it was written.
void ExpectFailuresLeaveTheOldFile(ExportFn exportFn)
{
    TempDir dir;
    Records db;
    db.AddLink(db.AddPartner("Acme"), "shop", Date(2012, 1, 1), 30);
    const std::string old = "the previous export";
    const std::size_t openFiles = FilesIn("/proc/self/fd").size();

    // The target's name is short enough, the temporary beside it is not.
    const std::string longName = dir.File(std::string(250, 'n'));
    WriteBytes(longName, old);
    std::string error;
    EXPECT_FALSE(exportFn(longName, db.partners, db.links, &error, {}));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(old, ReadBytes(longName));

    // A folder in the target's place is never replaced.
    std::filesystem::create_directory(dir.File("folder.out"));
    WriteBytes(dir.File("folder.out/inside"), old);
    error.clear();
    EXPECT_FALSE(exportFn(dir.File("folder.out"), db.partners, db.links, &error, {}));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(old, ReadBytes(dir.File("folder.out/inside")));

    EXPECT_FALSE(exportFn(dir.File("missing/links.out"), db.partners, db.links, nullptr, {}));

    // Permissions do not stop the superuser; everyone else is stopped by a read-only folder.
    if (::geteuid() != 0) {
        std::filesystem::create_directory(dir.File("locked"));
        WriteBytes(dir.File("locked/links.out"), old);
        ::chmod(dir.File("locked").c_str(), 0500);
        EXPECT_FALSE(exportFn(dir.File("locked/links.out"), db.partners, db.links, nullptr, {}));
        ::chmod(dir.File("locked").c_str(), 0700);
        EXPECT_EQ(old, ReadBytes(dir.File("locked/links.out")));
    }

    // Cancelling leaves no file and no temporary.
    WriteBytes(dir.File("kept.out"), old);
    for (const std::string name : {"kept.out", "new.out"}) {
        error.clear();
        EXPECT_FALSE(exportFn(dir.File(name), db.partners, db.links, &error, [](double) { return false; }));
        EXPECT_EQ("cancelled", error);
    }
    EXPECT_EQ(old, ReadBytes(dir.File("kept.out")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("new.out")));
    for (const std::string& name : FilesIn(dir.Path()))
        EXPECT_EQ(std::string::npos, name.find(".tmp")) << name;
    // Nor a temporary held open where nobody sees it.
    EXPECT_EQ(openFiles, FilesIn("/proc/self/fd").size());
}

} // namespace

TEST(ExportTextFile, FailedOrCancelledExportLeavesTheOldFile)
{
    ExpectFailuresLeaveTheOldFile(&ExportText);
}

TEST(ExportExcelFile, FailedOrCancelledExportLeavesTheOldFile)
{
    ExpectFailuresLeaveTheOldFile(&ExportExcel);
}

namespace {

using Table = std::vector<std::vector<std::string>>;

/// Comma-separated values as LibreOffice writes them: quoted fields may hold commas, doubled
/// quotes and line breaks.
Table ParseCsv(const std::string& text)
{
    Table rows(1);
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field += text[++i];
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(std::move(field));
            field.clear();
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            rows.back().push_back(std::move(field));
            field.clear();
            rows.emplace_back();
        } else {
            field += c;
        }
    }
    if (!field.empty() || !rows.back().empty())
        rows.back().push_back(std::move(field));
    else
        rows.pop_back();
    return rows;
}

/// LibreOffice's own reading of a workbook, as the cells show: runs soffice headless with a
/// profile of its own in `dir`.
bool ConvertWithLibreOffice(const TempDir& dir, const std::string& file, const std::string& format)
{
    const std::string command = "timeout 180 soffice --headless -env:UserInstallation=file://" + dir.Path() +
                                "/lo-profile --convert-to '" + format + "' --outdir '" + dir.Path() + "' '" + file +
                                "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

using testsupport::Repeat;

} // namespace

TEST(ExportExcelFile, LibreOfficeReadsBackEveryCell)
{
    TempDir dir;
    Records db;
    const CPartner* acme = db.AddPartner("Acme, \"Ltd\"", "Acme Org", "sales@acme.example", "12345", "+1 555 0100");
    const CPartner* ivan = db.AddPartner("Иван Петров", "", "иван@пример.рф", "", "");

    CLink* first = db.AddLink(acme, "Shop", Date(2012, 1, 1), 91, StatusOk);
    first->SetFromPage("http://partner.example/links.html");
    first->SetToPage("http://my.example/");
    first->SetAnchor("two\nlines and a\ttab");
    first->SetCostPerMonthValue(30);
    first->SetFirstPaymentDate(Date(2011, 12, 24));

    CLink* second = db.AddLink(nullptr, "=1+1", Date(2012, 3, 29), 0, StatusExpired);
    second->SetCostMode(1);
    second->SetCostPerPeriodValue(2147483647);
    second->SetLastPaymentDate(OleDateTime::Invalid());
    second->SetFirstPaymentDate(OleDateTime::Null());

    // Cells hold at most 32767 characters; Cyrillic ones take two bytes each and still fit.
    // Before March 1900 spreadsheets disagree on day numbers, so such dates go out as text.
    CLink* third = db.AddLink(ivan, "Блог", Date(1900, 1, 15), 31);
    third->SetAnchor(std::string(40000, 'a'));
    third->SetFromPage(Repeat("я", 20000));
    third->SetToPage(Repeat("😀", 20000));
    db.AddLink(nullptr, "leap", Date(1900, 3, 1), 31);
    CLink* fourth = db.AddLink(ivan, "old", OleDateTime(0.0), 0);
    fourth->SetAnchor("  padded  ");
    fourth->SetFromPage("bell\x07 and bad \xff byte"); // escaped and replaced, or the sheet would not open

    const std::string file = dir.File("links.xlsx");
    std::string error;
    ASSERT_TRUE(ExportExcel(file, db.partners, db.links, &error)) << error;
    ASSERT_TRUE(ConvertWithLibreOffice(dir, file, "csv:Text - txt - csv (StarCalc):44,34,76,1"));
    Table cells = ParseCsv(ReadBytes(dir.File("links.csv")));

    const Table expected = {
        {"Partner", "Partner organization", "Partner e-mail", "Partner ICQ number", "Partner phone number", "Project",
         "From Page", "To Page", "Anchor", "First payment date", "Last payment date", "Expiry date", "Price",
         "Full cost", "Status"},
        {"Acme, \"Ltd\"", "Acme Org", "sales@acme.example", "12345", "+1 555 0100", "Shop",
         "http://partner.example/links.html", "http://my.example/", "two\nlines and a\ttab", "2011-12-24", "2012-01-01",
         "2012-04-01", "30", "90", "Ok"},
        {"", "", "", "", "", "=1+1", "", "", "", "", "Invalid DateTime", "Invalid DateTime", "2147483647", "2147483647",
         "Expired"},
        {"Иван Петров", "", "иван@пример.рф", "", "", "Блог", Repeat("я", 20000), Repeat("😀", 16383),
         std::string(32767, 'a'), "1900-01-15", "1900-01-15", "1900-02-15", "0", "0", ""},
        {"", "", "", "", "", "leap", "", "", "", "1900-03-01", "1900-03-01", "1900-04-01", "0", "0", ""},
        {"Иван Петров", "", "иван@пример.рф", "", "", "old", "bell\x07 and bad \uFFFD byte", "", "  padded  ",
         "1899-12-30", "1899-12-30", "1899-12-30", "0", "0", ""},
    };
    ASSERT_EQ(expected.size(), cells.size());
    for (std::size_t row = 0; row < expected.size(); ++row) {
        cells[row].resize(expected[row].size()); // trailing empty cells may be left out
        for (std::size_t column = 0; column < expected[row].size(); ++column)
            EXPECT_EQ(expected[row][column], cells[row][column]) << "row " << row << ", column " << column;
    }
}

TEST(ExportExcelFile, OpenpyxlSeesDateCellsNumbersAndABoldFrozenHeader)
{
    // The reader of the benchmarks, from the system's Python, as a second opinion on the cell types.
    TempDir dir;
    Records db;
    CLink* link = db.AddLink(db.AddPartner("Acme"), "Shop", Date(2012, 1, 1), 91, StatusOk);
    link->SetCostPerMonthValue(30);
    link->SetAnchor("a long anchor text that needs a wide column");
    const std::string file = dir.File("links.xlsx");
    ASSERT_TRUE(ExportExcel(file, db.partners, db.links));

    WriteBytes(dir.File("look_at_cells.py"), R"(import openpyxl, sys
ws = openpyxl.load_workbook(sys.argv[1]).active
print("frozen", ws.freeze_panes)
print("bold", all(c.font.b for c in ws[1]), any(c.font.b for c in ws[2]))
for c in ws[2]:
    kind = "date " + c.number_format if c.is_date else type(c.value).__name__
    print(c.column_letter, kind)
for c in ws[1]:
    width = ws.column_dimensions[c.column_letter].width
    cell = ws.cell(2, c.column)
    shown = cell.value.strftime("%Y-%m-%d") if cell.is_date else str(cell.value or "")
    print("wide", c.column_letter, width >= len(c.value), width >= len(shown))
)");
    const std::string command =
        "/usr/bin/python3 '" + dir.File("look_at_cells.py") + "' '" + file + "' > '" + dir.File("seen.txt") + "' 2>&1";
    ASSERT_EQ(0, std::system(command.c_str())) << ReadBytes(dir.File("seen.txt"));

    std::string expected = "frozen A2\nbold True False\nA str\nB NoneType\nC NoneType\nD NoneType\nE NoneType\nF str\n"
                           "G NoneType\nH NoneType\nI str\nJ date yyyy-mm-dd\nK date yyyy-mm-dd\nL date yyyy-mm-dd\n"
                           "M int\nN int\nO str\n";
    for (const char column : std::string("ABCDEFGHIJKLMNO"))
        expected += std::string("wide ") + column + " True True\n";
    EXPECT_EQ(expected, ReadBytes(dir.File("seen.txt")));
}
