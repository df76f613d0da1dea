#include "MemorySheet.h"

#include "core/exchange/ExcelImport.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "core/storage/Archive.h"
#include "unit/core/records/DateTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <new>
#include <string>
#include <vector>

using namespace exchange_test;

namespace {

using Texts = std::vector<std::string>;
using Rows = std::vector<MemoryBook::Row>;

/// Columns A, B, C, ... get the types in the order given.
ColumnTypes Types(std::initializer_list<int> types)
{
    ColumnTypes result{};
    std::copy(types.begin(), types.end(), result.begin());
    return result;
}

using records_test::Date;

const OleDateTime kNow = Date(2012, 6, 1);

ColumnTypes Guess(const Rows& rows, const ColumnTypes& current = {})
{
    return AutoDetectColumns(MemoryBook(rows), 0, current, kNow);
}

std::string Stored(CSerializable& object)
{
    std::string bytes;
    CArchive ar = CArchive::ForStoring(
        [&](const uint8_t* data, std::size_t size) { bytes.append(reinterpret_cast<const char*>(data), size); });
    object.Serialize(ar);
    ar.Flush();
    return bytes;
}

struct Database
{
    CPartnersManager partners;
    CLinksManager links;

    ImportResult Import(const Rows& rows, const ColumnTypes& types, const ProgressFn& progress = {})
    {
        return ImportRows(MemoryBook(rows), 0, types, partners, links, progress);
    }
    const CPartner& Partner(std::size_t index) const { return *partners.GetPartners().at(index); }
    const CLink& Link(std::size_t index) const { return *links.GetLinks().at(index); }
    Texts Projects() const
    {
        Texts result;
        for (const CLink* link : links.GetLinks())
            result.push_back(link->GetProject());
        return result;
    }
};

} // namespace

TEST(ExcelImportColumns, EveryTypeNameBothWays)
{
    const Texts names = {"Skip",           "Project name", "Anchor",        "To Page",      "From page", "Comment",
                         "Starting PR",    "Start date",   "Expiry date",   "Price",        "Full cost", "Partner name",
                         "Partner e-mail", "Partner ICQ",  "Partner phone", "Payment type", "Payment ID"};
    ASSERT_EQ(static_cast<std::size_t>(kImportColumnTypes), names.size());
    for (int type = 0; type < kImportColumnTypes; ++type) {
        std::string upper = names[type];
        std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
        EXPECT_EQ(names[type], ImportColumnName(type));
        EXPECT_EQ(type, ImportColumnFromName(names[type]));
        EXPECT_EQ(type, ImportColumnFromName(upper));
    }
    EXPECT_EQ(ColPaymentId, ImportColumnFromName("Payment ID")); // the enumeration keeps the menu's order
    EXPECT_FALSE(ImportColumnFromName("Project"));
    EXPECT_EQ("", ImportColumnName(kImportColumnTypes));
}

TEST(ExcelImportColumns, TypeMovesToTheColumnLastGivenIt)
{
    ColumnTypes types{};
    SetColumnType(types, 0, ColAnchor);
    SetColumnType(types, 2, ColAnchor);
    EXPECT_EQ(Types({ColSkip, ColSkip, ColAnchor}), types);
    SetColumnType(types, 4, ColSkip); // the one type many columns share
    EXPECT_EQ(2, ColumnForType(types, ColAnchor));
    SetColumnType(types, 2, ColPrice);
    EXPECT_EQ(-1, ColumnForType(types, ColAnchor));
    SetColumnType(types, kImportSheetColumns, ColComment);
    SetColumnType(types, 3, kImportColumnTypes);
    EXPECT_EQ(Types({ColSkip, ColSkip, ColPrice}), types);
}

TEST(ExcelImportFirstRow, TitleRowsSkippedOnlyWhenTheMappingRulesThemOut)
{
    const Rows rows = {
        {"Link deals 2012"},
        {"Partner", "Project", "Paid", "Site"},
        {"Acme", "shop", Day(2012, 1, 1), "http://acme.example/"},
        {"Bolt", "shop", Day(2012, 2, 1), "http://bolt.example/"},
    };
    Database db;
    const ImportResult result = db.Import(rows, Types({ColPartnerName, ColProjectName, ColStartDate}));
    EXPECT_EQ(2, result.firstRow);
    EXPECT_EQ(3, result.lastRow);
    EXPECT_EQ((Texts{"shop", "shop"}), db.Projects());
    EXPECT_EQ(Date(2012, 2, 1), db.Link(1).GetFirstPaymentDate());
    EXPECT_EQ(2, FindFirstDataRow(MemoryBook(rows), 0, Types({ColSkip, ColSkip, ColSkip, ColFromPage})));

    // Nothing tells a title from data here: the first row with text is taken.
    Database titles;
    titles.Import(rows, Types({ColComment, ColProjectName}));
    EXPECT_EQ((Texts{"Project", "shop", "shop"}), titles.Projects());

    const MemoryBook checks({
        {"x", "", "no at", Num(11), "nodot"},
        {"x", "", "a@b", Num(11), "nodot"},
        {"x", "", "a@b", Num(10), "nodot"},
        {"x", "", "a@b", Num(10), "a.b"},
    });
    // The header is the fullest row above the first good value; below it a row with a bad value is
    // data still, to be reported rather than taken for a title.
    EXPECT_EQ(1, FindFirstDataRow(checks, 0, Types({ColSkip, ColSkip, ColPartnerEmail})));
    EXPECT_EQ(1, FindFirstDataRow(checks, 0, Types({ColSkip, ColSkip, ColPartnerEmail, ColStartingPR})));
    EXPECT_EQ(1, FindFirstDataRow(checks, 0, Types({ColSkip, ColSkip, ColPartnerEmail, ColStartingPR, ColToPage})));
    EXPECT_EQ(0, FindFirstDataRow(checks, 0, Types({ColSkip, ColStartDate}))); // an empty column
    const MemoryBook titled({{"Deals"}, {"Partner", "Price"}, {"Acme", "n/a"}, {"Bolt", "$5"}});
    EXPECT_EQ(2, FindFirstDataRow(titled, 0, Types({ColPartnerName, ColPrice})));
}

TEST(ExcelImportPartners, EmailTakenOutOfTheName)
{
    struct Case
    {
        std::string nameCell, emailCell, name, email;
    };
    const Case cases[] = {
        {"Jane Doe (jane.doe@example.com)", "", "Jane Doe", "jane.doe@example.com"},
        {"Иван Петров [иван@пример.рф]", "", "Иван Петров", "иван@пример.рф"},
        {"Max Mustermann, max-m@web.example", "", "Max Mustermann,", "max-m@web.example"},
        // A bare address is all the name there is, brackets or blanks around it or not.
        {"  bob@example.com\t", "", "bob@example.com", ""},
        {"(solo@example.com)", "", "(solo@example.com)", ""},
        {"Jane (jane@example.com)", "work@example.com", "Jane (jane@example.com)", "work@example.com"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nameCell);
        Database db;
        db.Import({{c.nameCell, c.emailCell, "p"}}, Types({ColPartnerName, ColPartnerEmail, ColProjectName}));
        ASSERT_EQ(1u, db.partners.GetCount());
        EXPECT_EQ(c.name, db.Partner(0).GetName());
        EXPECT_EQ(c.email, db.Partner(0).GetEmail());
    }
}

TEST(ExcelImportPartners, SameNameOtherPhoneIsAnotherPartner)
{
    Database db;
    db.partners.AddPartner("partner1"); // names compare without case: "Partner1" is taken
    const ImportResult result =
        db.Import({{"Acme", "111", "a"}, {"Acme", "222", "b"}, {"ACME", "111", "c"}, {"", "333", "d", "WMZ"}},
                  Types({ColPartnerName, ColPartnerPhone, ColProjectName, ColPaymentType}));
    EXPECT_EQ(3, result.newPartners);
    ASSERT_EQ(4u, db.partners.GetCount());
    EXPECT_EQ("Acme", db.Partner(1).GetName());
    EXPECT_EQ("Partner2", db.Partner(2).GetName());
    EXPECT_EQ("222", db.Partner(2).GetPhone());
    EXPECT_EQ("Partner3", db.Partner(3).GetName());
    EXPECT_EQ("WMZ", db.Partner(3).GetPaymentType(0));
    const int32_t owners[] = {1, 2, 1, 3};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(db.Partner(owners[i]).GetId(), db.Link(i).GetPartnerId()) << i;
}

TEST(ExcelImportPartners, ExistingPartnerFoundAndLeftAsItWas)
{
    Database db;
    CPartner* known = db.partners.AddPartner("Acme");
    known->SetEmail("Sales@Acme.example");
    known->SetPaymentType(0, "WMZ");
    // The first row needs an "@" in the e-mail column to count as data.
    db.Import(
        {{"ACME", "sales@acme.EXAMPLE", "", "a"}, {"acme", "", "PayPal", "b"}, {"Acme", "x@acme.example", "", "c"}},
        Types({ColPartnerName, ColPartnerEmail, ColPaymentType, ColProjectName}));
    EXPECT_EQ(known->GetId(), db.Link(0).GetPartnerId());
    EXPECT_EQ(known->GetId(), db.Link(1).GetPartnerId());
    EXPECT_EQ("WMZ", known->GetPaymentType(0));
    EXPECT_EQ("Sales@Acme.example", known->GetEmail());
    ASSERT_EQ(2u, db.partners.GetCount());
    EXPECT_EQ(db.Partner(1).GetId(), db.Link(2).GetPartnerId());
    EXPECT_EQ("x@acme.example", db.Partner(1).GetEmail());
}

TEST(ExcelImportPartners, NewPartnersGetTheIdentifiersAddPartnerWouldGive)
{
    // A damaged file's counter points at identifiers already taken, and -1 never names a partner.
    auto prepare = [](CPartnersManager& partners) {
        for (const int32_t id : {-3, -2}) {
            auto taken = std::make_unique<CPartner>("Old " + std::to_string(id));
            taken->SetId(id);
            partners.Append(std::move(taken));
        }
        partners.SetNextPartnerId(-3);
    };
    CPartnersManager expected;
    prepare(expected);
    Database db;
    prepare(db.partners);
    db.Import({{"a", "x"}, {"b", "y"}}, Types({ColPartnerName, ColProjectName}));
    EXPECT_EQ(expected.AddPartner("a")->GetId(), db.Partner(2).GetId());
    EXPECT_EQ(expected.AddPartner("b")->GetId(), db.Partner(3).GetId());
    EXPECT_EQ(expected.GetNextPartnerId(), db.partners.GetNextPartnerId());
}

TEST(ExcelImportLinks, ExpiryDateGivesThePeriod)
{
    Database db;
    db.Import({{Day(2012, 1, 1), Day(2012, 1, 31), "a"}, {Day(2012, 3, 5, 15, 30), Day(2012, 3, 4, 23, 59), "b"}},
              Types({ColStartDate, ColExpiryDate, ColProjectName}));
    EXPECT_EQ(Date(2012, 1, 1), db.Link(0).GetFirstPaymentDate());
    EXPECT_EQ(Date(2012, 1, 1), db.Link(0).GetLastPaymentDate());
    EXPECT_EQ(31.0, db.Link(0).GetPeriod().GetDays());
    EXPECT_EQ(Date(2012, 2, 1), db.Link(0).GetExpiryDate());
    // Times of day are dropped before the days are counted.
    EXPECT_EQ(0.0, db.Link(1).GetPeriod().GetDays());

    // Without a start date the period counts from the day of the import.
    const DateParts in9 = (OleDateTime::Today() + OleDateTimeSpan(9.0)).GetParts();
    Database noStart;
    noStart.Import({{Day(in9.year, in9.month, in9.day), "a"}}, Types({ColExpiryDate, ColProjectName}));
    EXPECT_EQ(OleDateTime::Today(), noStart.Link(0).GetLastPaymentDate());
    EXPECT_EQ(10.0, noStart.Link(0).GetPeriod().GetDays());
}

TEST(ExcelImportLinks, RowWithOnlyACommentMakesNoLink)
{
    Database db;
    EXPECT_EQ(1, db.Import({{"", "call back in May"}, {"shop", "ok"}}, Types({ColProjectName, ColComment})).links);
    EXPECT_EQ("ok", db.Link(0).GetComment());
    EXPECT_EQ(0, db.Import({{"", "note"}}, Types({ColSkip, ColComment})).links);
}

TEST(ExcelImportLinks, AnchorsAndPrices)
{
    Database db;
    const ImportResult result = db.Import(
        {
            {"#a#Blue widgets#/a#", Num(30, "$30"), Num(90), Num(4), "a"},
            {"see #a#cheap#/a# here #a#x#/a#", Num(30), "", Num(11), "b"},
            {"#a#never closed", "", Num(0), Num(-1), "c"},
            {"#/a##a#", Num(-5), Num(-1), Num(10), "d"}, // no price can be negative
            {"#a##/a#", "n/a", "n/a", "n/a", "e"},
            {"#a##/a#", Num(1), Num(1), Num(1), ""}, // nothing left of the link
        },
        Types({ColAnchor, ColPrice, ColFullCost, ColStartingPR, ColProjectName}));
    struct Expected
    {
        std::string anchor;
        int mode, perMonth, perPeriod, pr;
    };
    const Expected expected[] = {
        {"Blue widgets", 1, 30, 90, 4}, {"cheap", 0, 30, 0, 0}, {"#a#never closed", 1, 0, 0, 0}};
    ASSERT_EQ(3u, db.links.GetCount());
    for (int i = 0; i < 3; ++i) {
        const CLink& link = db.Link(i);
        SCOPED_TRACE(link.GetProject());
        EXPECT_EQ(expected[i].anchor, link.GetAnchor());
        EXPECT_EQ(expected[i].mode, link.GetCostMode());
        EXPECT_EQ(expected[i].perMonth, link.GetCostPerMonthValue());
        EXPECT_EQ(expected[i].perPeriod, link.GetCostPerPeriodValue());
        EXPECT_EQ(expected[i].pr, link.GetStartingPR());
        EXPECT_FALSE(link.IsPermanent()); // no expiry column: no deal for good
    }
    EXPECT_EQ("row 4: price '-5' not read\nrow 5: price 'n/a' not read\nrow 6: no link data\n",
              SkippedRowsList(result));
}

// A deal sheet as people keep one: a header, values typed as text, expiries left empty for deals
// bought for good, and a few rows no link can be made of, each of which is told with its reason.
TEST(ExcelImportLinks, DealSheetValuesAsWrittenAndEverySkippedRowWithItsReason)
{
    const Rows rows = {
        {"Page URL", "Anchor", "Price", "Paid on", "Expires"},
        {"http://a.example/", "a", "$75", "2026-03-10", Day(2027, 3, 10)},
        {"http://b.example/", "b", "1.200,50 €", Day(2026, 5, 31), "31 May 2027"},
        {"http://c.example/", "c", "90 USD", "03/10/2026", ""},
        {"", "d", "$10", "01.01.2026", "01.02.2026"},
        {"http://e.example/", "e", "n/a", "25/12/2026", "25/12/2027"}, // the start column's order shows here
        {"http://f.example/", "f", "£150.50", "2026-01-01", std::string(39, 'x') + "дата"}, // quoted short
        {"http://g.example/", "g", Num(40), "31.01.2026", "28.02.2026"},
    };
    const ColumnTypes types = Types({ColFromPage, ColAnchor, ColPrice, ColStartDate, ColExpiryDate});
    Database db;
    const ImportResult result = db.Import(rows, types);
    EXPECT_EQ(1, result.firstRow); // a text date in the first data row does not make it a title
    ASSERT_EQ(4u, db.links.GetCount());

    // The values themselves are compared cell by cell on the 300-row sheet end to end; here the
    // two that decide the rest: an empty expiry under an expiry column, and a month-end expiry kept.
    EXPECT_TRUE(db.Link(2).IsPermanent());
    EXPECT_EQ(Date(2026, 2, 28), db.Link(3).GetExpiryDate());

    ASSERT_EQ(3u, result.skipped.size());
    EXPECT_EQ("Imported 4 links and 0 new partners from rows 2 to 8 of sheet Sheet1; 3 rows skipped; 1 amount "
              "rounded to whole units",
              ImportSummary(result, "Sheet1"));
    EXPECT_EQ("row 5: no From page\nrow 6: price 'n/a' not read\nrow 7: expiry date '" + std::string(39, 'x') +
                  "...' not read\n",
              SkippedRowsList(result));
    EXPECT_EQ("row 5: no From page\nand 2 more\n", SkippedRowsList(result, 1));

    // The preview's notes are the import's own verdicts, row by row.
    const std::vector<std::string> notes = ImportRowNotes(MemoryBook(rows), 0, types, 10);
    const std::vector<std::string> expectedNotes = {"above the first data row: not imported",
                                                    "",
                                                    "",
                                                    "",
                                                    "not imported: no From page",
                                                    "not imported: price 'n/a' not read",
                                                    "not imported: expiry date '" + std::string(39, 'x') +
                                                        "...' not read",
                                                    "",
                                                    "",
                                                    ""};
    EXPECT_EQ(expectedNotes, notes);

    // Slashed dates no value of their column decides are read as the locale writes dates, and the
    // summary says which way.
    Database either;
    const ImportResult byLocale =
        either.Import({{"http://a.example/", "03/10/2026"}}, Types({ColFromPage, ColStartDate}));
    const bool dayFirst = byLocale.slashedDates == "day";
    EXPECT_TRUE(dayFirst || byLocale.slashedDates == "month");
    EXPECT_EQ(dayFirst ? Date(2026, 10, 3) : Date(2026, 3, 10), either.Link(0).GetFirstPaymentDate());
    EXPECT_NE(
        std::string::npos,
        ImportSummary(byLocale, "Sheet1").find("; dates such as 03/10/2027 read " + byLocale.slashedDates + " first"));
    EXPECT_EQ("", result.slashedDates); // the sheet above showed its own order

    // Without an expiry column no deal is taken for a permanent one.
    Database noExpiry;
    noExpiry.Import({{"http://a.example/", "2026-03-10"}}, Types({ColFromPage, ColStartDate}));
    EXPECT_FALSE(noExpiry.Link(0).IsPermanent());
}

TEST(ExcelImportStop, ThreeAndThreeInTotalEndTheImport)
{
    const Rows rows = {
        {"P1", "a"}, {"", "b"},                                       // no partner: 1
        {"P2", ""},                                                   // no link: 1
        {"", "c"},   {"P3", ""},  {"", "d"}, {"P4", "e"}, {"P5", ""}, // no link: 3, and three without a partner already
        {"P6", "f"}, {"P7", "g"},
    };
    Database db;
    const ImportResult result = db.Import(rows, Types({ColPartnerName, ColProjectName}));
    EXPECT_EQ((Texts{"a", "b", "c", "d", "e"}), db.Projects());
    EXPECT_EQ(5, result.newPartners);
    EXPECT_EQ(7, result.lastRow);
    EXPECT_EQ(8, result.stoppedAtRow);
    EXPECT_EQ("Imported 5 links and 5 new partners from rows 1 to 8 of sheet Sheet1 (stopped at row 9: three rows "
              "without partner data and three without link data); 3 rows skipped",
              ImportSummary(result, "Sheet1"));

    // Ending on the sheet's last row is no stop; two of one kind never stop it.
    const ImportResult atEnd =
        Database().Import(Rows(rows.begin(), rows.begin() + 8), Types({ColPartnerName, ColProjectName}));
    EXPECT_EQ(-1, atEnd.stoppedAtRow);
    const ImportResult twoGaps =
        Database().Import({{"", "a"}, {"", "b"}, {"", "c"}, {"P1", ""}, {"P2", ""}, {"P3", "e"}},
                          Types({ColPartnerName, ColProjectName}));
    EXPECT_EQ(4, twoGaps.links);
    EXPECT_EQ(-1, twoGaps.stoppedAtRow);

    // Without partner columns every row lacks partner data: three without a link end it.
    Database projectsOnly;
    const ImportResult counted = projectsOnly.Import({{"a"}, {""}, {"b"}, {""}, {""}, {"c"}}, Types({ColProjectName}));
    EXPECT_EQ((Texts{"a", "b"}), projectsOnly.Projects());
    EXPECT_EQ(5, counted.stoppedAtRow);
    EXPECT_EQ("five rows without partner data and three without link data", counted.stopReason);
}

// A sheet whose reading runs out of memory at one row.
class StarvedBook : public MemoryBook
{
public:
    StarvedBook(Rows rows, int failAt) : MemoryBook(std::move(rows)), m_failAt(failAt) {}
    std::string CellText(int sheet, int row, int column) const override
    {
        if (row == m_failAt)
            throw std::bad_alloc();
        return MemoryBook::CellText(sheet, row, column);
    }

private:
    int m_failAt;
};

// Whatever ends an import before its end, the collections stay as they were, and the summary says
// why; a sheet with exactly as many links or new partners as one import takes is taken in whole.
TEST(ExcelImportCancel, CancelledOrRefusedImportLeavesTheDatabaseAsItWas)
{
    Database db;
    db.partners.AddPartner("Acme")->SetPhone("111");
    db.partners.SetNextPartnerId(7);
    db.links.AddNewLink()->SetProject("old");
    const std::string partnersBefore = Stored(db.partners);
    const std::string linksBefore = Stored(db.links);

    Rows rows;
    for (int i = 0; i < 10000; ++i)
        rows.push_back({i % 2 ? "Acme" : "New " + std::to_string(i), i % 2 ? "111" : std::to_string(i), "p"});
    const auto types = Types({ColPartnerName, ColPartnerPhone, ColProjectName});
    const auto partnersOnly = Types({ColPartnerName, ColPartnerPhone});

    const struct
    {
        const char* what;
        double stopAt;
        std::size_t maxNew;
        ColumnTypes types;
        int failAt;
        const char* summary;
    } cases[] = {
        {"cancelled at once", 0.0, kMaxImportedRecords, types, -1, "cancelled: nothing was added"},
        {"cancelled half-way", 0.2, kMaxImportedRecords, types, -1, "cancelled: nothing was added"},
        {"cancelled with everything read", 1.0, kMaxImportedRecords, types, -1, "cancelled: nothing was added"},
        {"one link too many", 2.0, 9999, types, -1,
         "refused: the sheet holds more than 9,999 links; nothing was added"},
        {"one new partner too many", 2.0, 4999, partnersOnly, -1,
         "refused: the sheet names more than 4,999 new partners; nothing was added"},
        {"memory runs out", 2.0, kMaxImportedRecords, types, 6000,
         "refused: there is not enough memory for its rows; nothing was added"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ImportResult result = ImportRows(
            StarvedBook(rows, c.failAt), 0, c.types, db.partners, db.links,
            [&](double done) { return done < c.stopAt; }, c.maxNew);
        EXPECT_EQ(std::string("Import from sheet Sheet1 ") + c.summary, ImportSummary(result, "Sheet1"));
        EXPECT_EQ(0, result.links + result.newPartners);
        EXPECT_EQ(partnersBefore, Stored(db.partners));
        EXPECT_EQ(linksBefore, Stored(db.links));
    }

    std::vector<double> seen;
    const ImportResult done = ImportRows(
        MemoryBook(rows), 0, types, db.partners, db.links,
        [&](double fraction) {
            seen.push_back(fraction);
            return true;
        },
        10000);
    EXPECT_EQ(10000, done.links);
    EXPECT_EQ(5000, done.newPartners);
    EXPECT_EQ(10001u, db.links.GetCount());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GE(seen.size(), 3u);
    EXPECT_EQ(1.0, seen.back());
}

TEST(ExcelImportGuess, DateColumns)
{
    // Two date columns: whichever holds the earlier dates is the start.
    EXPECT_EQ(Types({ColStartDate, ColExpiryDate}),
              Guess({{Day(2012, 1, 1), Day(2012, 2, 1)}, {Day(2012, 1, 5), Day(2013, 1, 5)}, {"", Day(2013, 1, 5)}}));
    EXPECT_EQ(Types({ColExpiryDate, ColStartDate}),
              Guess({{Day(2012, 2, 1), Day(2012, 1, 1)}, {Day(2013, 1, 5), Day(2012, 1, 5)}}));
    EXPECT_EQ(ColumnTypes{}, Guess({{Day(2012, 2, 1), Day(2012, 1, 1)}, {Day(2012, 1, 5), Day(2012, 1, 5)}}));
    EXPECT_EQ(ColumnTypes{}, Guess({{Day(2012, 1, 1), Day(2012, 2, 1), Day(2012, 3, 1)},
                                    {Day(2012, 1, 1), Day(2012, 2, 1), Day(2012, 3, 1)}}));
    // One date column: by which side of now its dates lie.
    EXPECT_EQ(ColExpiryDate, Guess({{"a", Day(2012, 7, 1)}, {"b", Day(2013, 1, 1)}, {"c", "soon"}})[1]);
    EXPECT_EQ(ColStartDate, Guess({{"a", Day(2012, 5, 1)}, {"b", Day(2011, 1, 1)}})[1]);
    EXPECT_EQ(ColSkip, Guess({{"a", Day(2012, 5, 1)}, {"b", Day(2013, 1, 1)}})[1]);
    EXPECT_EQ(ColSkip, Guess({{"a", Day(2012, 5, 1)}, {"b", "x"}})[1]);
}

TEST(ExcelImportGuess, WebAddressesRankPricesAndPaymentTypes)
{
    const Rows rows = {
        {"http://partner-a.example/links.html", "http://my.example/", Num(3), Num(30, "$30"), "x", "PayPal"},
        {"www.partner-b.example", "HTTP://MY.EXAMPLE/", Num(0), Num(25, "$25"), "x", "paypal"},
        {"http://partner-c.example/", "http://my.example/", "", Num(40, "$40"), Num(12), "WMZ"},
        {"ftp://partner-d.example/", "http://other.example/", Num(10), Num(40, "$40"), Num(2), "bank"},
        {"", "", "", Num(40, "40 USD"), Num(2), ""},
    };
    EXPECT_EQ(Types({ColFromPage, ColToPage, ColStartingPR, ColPrice, ColSkip, ColPaymentType}), Guess(rows));
    // Three dollar cells of five are no price column; one payment name is no payment column.
    EXPECT_EQ(ColumnTypes{},
              Guess({{Num(30, "$30"), "PayPal"}, {Num(30, "$30"), "bank"}, {Num(30, "$30")}, {Num(30)}}));
}

// Each guess on both sides of its threshold, and which column wins when two qualify.
TEST(ExcelImportGuess, ThresholdsOnBothSides)
{
    const Cell a("http://partner-a.example/"), b("www.partner-b.example"), c("http://partner-c.example/");
    const struct
    {
        const char* what;
        Rows rows;
        ColumnTypes expected;
    } cases[] = {
        {"one web address is no column", {{a}, {"x"}}, {}},
        {"two web addresses are the partners' pages", {{a}, {b}}, Types({ColFromPage})},
        {"a partner's page twice is still a partner's page", {{a}, {a}, {c}}, Types({ColFromPage})},
        {"the same page three times is the user's own", {{a}, {c}, {a}, {a}}, Types({ColToPage})},
        {"one small integer is no PageRank", {{Num(3)}, {"x"}}, {}},
        {"two of 0 and 10 are a PageRank", {{Num(0)}, {Num(10)}}, Types({ColStartingPR})},
        {"11 is no PageRank", {{Num(0)}, {Num(11)}}, {}},
        {"-1 is no PageRank", {{Num(-1)}, {Num(5)}}, {}},
        {"of two PageRank columns the first", {{Num(1), Num(2)}, {Num(3), Num(4)}}, Types({ColStartingPR})},
        {"past a column out of range", {{Num(11), Num(2)}, {Num(3), Num(4)}}, Types({ColSkip, ColStartingPR})},
        {"two payment names are a payment type", {{"WMZ"}, {"regnow"}}, Types({ColPaymentType})},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, Guess(c.rows)) << c.what;
}

TEST(ExcelImportGuess, HeaderWordsInEnglishAndRussian)
{
    const Rows rows = {
        {"Проект", "anchor", "ПРОЕКТ", "Projects", "Site"},
        {"shop", "buy now", "blog", "x", "http://a.example/"},
        {"shop", "buy now", "blog", "x", "http://b.example/"},
    };
    // Two project columns: the later one keeps the type.
    EXPECT_EQ(Types({ColSkip, ColAnchor, ColProjectName, ColSkip, ColFromPage}), Guess(rows));
    EXPECT_EQ(ColProjectName, Guess({{"Партнёр", "пРоЕкТ"}, {"a", "b"}})[1]);

    // Five title rows above the heading: it is found below them, and the samples are the rows under
    // it, whatever the mapping the data-row search would start from.
    Rows titled = {{"Deals"}, {"2012"}, {"Q1"}, {"Q2"}, {"Q3"}, {Day(2012, 1, 1), "Project"}};
    for (int i = 0; i < 4; ++i)
        titled.push_back({Day(2011, 1, 1 + i), "shop"});
    EXPECT_EQ(Types({ColStartDate, ColProjectName}), Guess(titled, Types({ColStartDate})));
    EXPECT_EQ(Types({ColStartDate, ColProjectName}), Guess(titled));
}

TEST(ExcelImportSummary, Texts)
{
    ImportResult result;
    result.links = 12;
    result.newPartners = 3;
    result.firstRow = 1;
    result.lastRow = 12;
    EXPECT_EQ("Imported 12 links and 3 new partners from rows 2 to 13 of sheet Links", ImportSummary(result, "Links"));
    result.links = result.newPartners = 1;
    result.lastRow = 1;
    EXPECT_EQ("Imported 1 link and 1 new partner from row 2 of sheet Links", ImportSummary(result, "Links"));
    result.links = result.newPartners = 0;
    result.lastRow = -1;
    EXPECT_EQ("Imported 0 links and 0 new partners: sheet Empty has no rows to read", ImportSummary(result, "Empty"));
    result.cancelled = true;
    EXPECT_EQ("Import from sheet Links cancelled: nothing was added", ImportSummary(result, "Links"));
}
