// The column guess on sheets as people and backlink tools write them: the heading row decides the
// columns it names, the content rules the rest, and a content rule never takes a type a heading gave.
#include "MemorySheet.h"

#include "core/exchange/ColumnGuess.h"
#include "unit/core/records/DateTestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace exchange_test;

namespace column_guess_test {

using Rows = std::vector<MemoryBook::Row>;
using Names = std::vector<std::string>;

const OleDateTime kToday = records_test::Date(2026, 6, 1);

// The guess as the dialog's headers show it: a type name per column, "" for "Skip", trailing
// skipped columns left off.
Names GuessedNames(const Rows& rows)
{
    const ColumnTypes types = AutoDetectColumns(MemoryBook(rows), 0, ColumnTypes{}, kToday);
    Names names;
    for (const int type : types)
        names.emplace_back(type == ColSkip ? "" : ImportColumnName(type));
    while (!names.empty() && names.back().empty())
        names.pop_back();
    return names;
}

// A heading row and four rows of data built by `row(i)`.
template <typename RowOf> Rows Sheet(MemoryBook::Row heading, RowOf row)
{
    Rows rows;
    if (!heading.empty())
        rows.push_back(std::move(heading));
    for (int i = 1; i <= 4; ++i)
        rows.push_back(row(i));
    return rows;
}

std::string N(int i)
{
    return std::to_string(i);
}

} // namespace column_guess_test

using namespace column_guess_test;

TEST(ColumnGuess, RealHeadingRowsMapEveryColumn)
{
    const struct
    {
        const char* what;
        Rows rows;
        Names expected;
    } cases[] = {
        {"the trial's sheet: the site's bare domains would be partners' pages, but Page URL names that "
         "column; prices and dates are text the content rules could not read",
         Sheet({"Site", "Page URL", "Target", "Anchor", "Price", "Paid on", "Expires", "Contact e-mail"},
               [](int i) -> MemoryBook::Row {
                   return {"partner" + N(i) + ".com",
                           "https://partner" + N(i) + ".com/links",
                           "https://mine.example/p" + N(i),
                           "anchor " + N(i),
                           i % 2 ? "$75" : "90 USD",
                           i % 2 ? Day(2026, 3, i) : Cell("2026-03-1" + N(i)),
                           Day(2027, 3, i),
                           "seller" + N(i) + "@partner.com"};
               }),
         {"", "From page", "To Page", "Anchor", "Price", "Start date", "Expiry date", "Partner e-mail"}},
        {"a link tool's export: small numbers under their own headings are no PageRank, and the "
         "crawler's dates are no deal's start and expiry",
         Sheet({"Referring page title", "Referring page URL", "Domain rating", "UR", "External links", "Target URL",
                "Anchor", "First seen", "Last seen"},
               [](int i) -> MemoryBook::Row {
                   return {"Post " + N(i),   "https://blog" + N(i) + ".example/post",
                           Num(i),           Num(i + 1),
                           Num(2 * i),       "https://mine.example/",
                           "anchor " + N(i), Day(2025, 1, i),
                           Day(2026, 5, i)};
               }),
         {"", "From page", "", "", "", "To Page", "Anchor"}},
        {"another tool's export, the addresses in lower case and no repeated target",
         Sheet({"Page ascore", "Source title", "Source url", "Target url", "Anchor", "External links", "Nofollow",
                "First seen", "Last seen"},
               [](int i) -> MemoryBook::Row {
                   return {Num(i),
                           "Title " + N(i),
                           "https://site" + N(i) + ".example/",
                           "https://mine.example/" + N(i),
                           "anchor",
                           Num(i),
                           "false",
                           Day(2025, 2, i),
                           Day(2026, 4, i)};
               }),
         {"", "", "From page", "To Page", "Anchor"}},
        {"headings run together or split by punctuation",
         Sheet({"SourceURL", "AnchorText", "TargetURL", "SourceTrustFlow", "FirstIndexedDate", "LastSeenDate"},
               [](int i) -> MemoryBook::Row {
                   return {"http://s" + N(i) + ".example/",
                           "a",
                           "http://mine.example/" + N(i),
                           Num(i),
                           Day(2025, 1, i),
                           Day(2026, 1, i)};
               }),
         {"From page", "Anchor", "To Page"}},
        {"any letter case, hyphens and underscores",
         Sheet({"REFERRING PAGE URL", "target-url", "Anchor_Text", "E-MAIL", "Paid On", "EXPIRES", "Site Owner",
                "notes", "pr", "COST"},
               [](int) -> MemoryBook::Row { return {"", "", "", "", "", "", "", "", "", ""}; }),
         {"From page", "To Page", "Anchor", "Partner e-mail", "Start date", "Expiry date", "Partner name", "Comment",
          "Starting PR", "Price"}},
        {"the other words for the same columns",
         Sheet({"Linking page", "Landing page", "Link text", "Seller", "Email", "Start", "End", "Comment", "Project"},
               [](int i) -> MemoryBook::Row { return {"x", "y", "z", "s", "e", "", "", "", "p" + N(i)}; }),
         {"From page", "To Page", "Anchor", "Partner name", "Partner e-mail", "Start date", "Expiry date", "Comment",
          "Project name"}},
        {"a Russian sheet, ё written as е and in any case",
         Sheet({"проект", "ДОНОР", "Акцептор", "Анкор", "Стоимость", "Дата оплаты", "Оплачено до", "Партнер",
                "Эл. почта", "Примечание"},
               [](int i) -> MemoryBook::Row {
                   return {"Сад",
                           "https://донор" + N(i) + ".рф/",
                           "https://мой.рф/",
                           "анкор",
                           "1 500 ₽",
                           Day(2026, 1, i),
                           Day(2027, 1, i),
                           "Иван",
                           "ivan@mail.example",
                           ""};
               }),
         {"Project name", "From page", "To Page", "Anchor", "Price", "Start date", "Expiry date", "Partner name",
          "Partner e-mail", "Comment"}},
        {"the program's own export reads back",
         Sheet({"Partner", "Partner organization", "Partner e-mail", "Partner ICQ number", "Partner phone number",
                "Project", "From Page", "To Page", "Anchor", "First payment date", "Last payment date", "Expiry date",
                "Price", "Full cost", "Status"},
               [](int i) -> MemoryBook::Row {
                   return {"P",
                           "Org",
                           "p@x.example",
                           "",
                           "",
                           "Shop",
                           "http://p" + N(i) + ".example/",
                           "http://mine.example/",
                           "a",
                           Day(2025, 1, 1),
                           Day(2026, 1, i),
                           Day(2026, 2, i),
                           Num(10),
                           Num(10),
                           "Ok"};
               }),
         {"Partner name", "", "Partner e-mail", "Partner ICQ", "Partner phone", "Project name", "From page", "To Page",
          "Anchor", "", "Start date", "Expiry date", "Price", "Full cost"}},
        {"no heading: the content decides, a data cell that is a heading word included",
         Sheet({},
               [](int i) -> MemoryBook::Row {
                   return {i == 2 ? "Date" : "buy " + N(i),
                           "http://partner" + N(i) + ".example/",
                           "https://mine.example/",
                           Day(2026, 1, i),
                           Day(2026, 12, i),
                           Num(30 * i, "$" + N(30 * i)),
                           Num(i),
                           "PayPal"};
               }),
         {"", "From page", "To Page", "Start date", "Expiry date", "Price", "Starting PR", "Payment type"}},
        {"https and bare domains in both address columns and no page repeated: the column whose pages "
         "share a host is the user's own",
         Sheet({},
               [](int i) -> MemoryBook::Row {
                   return {"https://www.mine.example/page" + N(i), "partner" + N(i) + ".com/links", "x"};
               }),
         {"To Page", "From page"}},
        {"both address columns under headings the program does not know, nothing to tell them apart: "
         "the partner's page comes first",
         Sheet({"Their page", "Our page"},
               [](int i) -> MemoryBook::Row {
                   return {"https://a" + N(i) + ".example/", "https://b" + N(i) + ".example/"};
               }),
         {"From page", "To Page"}},
        {"titles above the heading and a blank row under it",
         [] {
             Rows rows = {{"Link deals"}, {"2026"}, {"Project", "Page", "Our page", "Since", "Until"}, {}};
             for (int i = 1; i <= 4; ++i)
                 rows.push_back({"Shop", "https://p" + N(i) + ".example/", "https://mine.example/", Day(2026, 2, i),
                                 Day(2026, 8, i)});
             return rows;
         }(),
         {"Project name", "From page", "To Page", "Start date", "Expiry date"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, GuessedNames(c.rows)) << c.what;
}

TEST(ColumnGuess, WhatCountsAsAWebAddress)
{
    for (const char* address : {"http://a.example", "HTTPS://A.EXAMPLE/x", "www.example", "example.com",
                                "www.example.com/page", " shop.example.co.uk/a?b=1 ", "xn--80ak6aa92e.com", "сайт.рф",
                                "partner.de:8080/links", "https://medium.com/@writer/post"})
        EXPECT_TRUE(LooksLikeWebAddress(address)) << address;
    for (const char* text : {"", "example", "seller@partner.com", "J.Smith", "report.pdf", "1.200,50", "02.09.2026",
                             "90.00", "ftp://files.example/", "buy now.com", "a..com", "$1.200", "И.Иванов"})
        EXPECT_FALSE(LooksLikeWebAddress(text)) << text;
}

TEST(ColumnGuess, HeadingWordsAndTheRowTheyAreOn)
{
    EXPECT_EQ(ColToPage, HeadingColumnType("Target URL"));
    EXPECT_EQ(ColFromPage, HeadingColumnType("  Referring page URL "));
    EXPECT_EQ(ColPartnerName, HeadingColumnType("ПАРТНЁР"));
    EXPECT_EQ(ColStartingPR, HeadingColumnType("Google PR"));
    EXPECT_EQ(ColSkip, HeadingColumnType("Last seen"));
    // A heading that only begins like one names something else.
    EXPECT_EQ(std::nullopt, HeadingColumnType("Referring page title"));
    EXPECT_EQ(std::nullopt, HeadingColumnType("URL"));
    EXPECT_EQ(std::nullopt, HeadingColumnType("Projects"));

    // Titles fill one cell; the first row filling two ends the search, heading or not.
    EXPECT_EQ(2, FindHeadingRow(MemoryBook({{"Deals"}, {}, {"Site", "Anchor"}}), 0));
    EXPECT_EQ(-1, FindHeadingRow(MemoryBook({{"Deals"}, {"a", "b"}, {"Site", "Anchor"}}), 0));
    EXPECT_EQ(0, FindHeadingRow(MemoryBook({{"Anchor"}, {"buy now"}}), 0));
}
