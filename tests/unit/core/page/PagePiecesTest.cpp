// A page parsed in pieces must give the verdict the whole page gives. Random documents made of
// what partner pages hold (lists, tables, formatting, NOINDEX sections, templates, scripts,
// unclosed and stray tags) are walked whole and in the smallest pieces the cuts allow, and every
// finding must agree.
#include "core/page/LinkCheck.h"
#include "core/page/PageScan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

const std::string kPiecesPage = "http://partner.example/links.html";
const std::string kPiecesMine = "http://mine.example/";

class CDocumentMaker
{
public:
    explicit CDocumentMaker(uint32_t seed) : m_rng(seed) {}

    std::string Make(int parts)
    {
        std::string html = Below(3) == 0 ? "<html><head><title>t</title></head><body>" : "";
        for (int i = 0; i < parts; ++i)
            html += Part();
        return html;
    }

private:
    std::string Part()
    {
        static const char* kOpen[] = {"<div>",
                                      "<p>",
                                      "<ul>",
                                      "<li>",
                                      "<table>",
                                      "<tr>",
                                      "<td>",
                                      "<span>",
                                      "<b>",
                                      "<i>",
                                      "<noindex>",
                                      "<template>",
                                      "<ol>",
                                      "<dl><dt>",
                                      "<section>",
                                      "<font color=\"red\">",
                                      "<h2>",
                                      "<pre>",
                                      "<form>",
                                      "<em>",
                                      "<select><option>",
                                      "<svg>",
                                      "<object>",
                                      "<caption>"};
        static const char* kClose[] = {"</div>",    "</p>",    "</ul>",     "</li>", "</table>",   "</tr>",
                                       "</td>",     "</span>", "</b>",      "</i>",  "</noindex>", "</template>",
                                       "</ol>",     "</a>",    "</font>",   "</h2>", "</form>",    "</em>",
                                       "</select>", "</svg>",  "</object>", "</pre>"};
        static const char* kText[] = {"my anchor", "my&nbsp;anchor", "  my\n anchor ", "other", "x", "&amp;"};
        switch (Below(9)) {
        case 0:
        case 1:
            return kOpen[Below(std::size(kOpen))];
        case 2:
            return kClose[Below(std::size(kClose))];
        case 3:
        case 4:
            return Anchor(true);
        case 5:
            return Anchor(false);
        case 6:
            return kText[Below(std::size(kText))];
        case 7:
            return Below(2) ? "<script>var s = '<a href=\"" + kPiecesMine + "\">my anchor</a>';</script>"
                            : "<!-- <a> -->";
        default:
            return Below(2) ? "<meta name=\"robots\" content=\"index\">" : "<br>";
        }
    }

    std::string Anchor(bool closed)
    {
        static const char* kHrefs[] = {"http://mine.example/", "https://mine.example/", "/internal",
                                       "http://partner.example/x", "#top"};
        std::string href = Below(3) == 0 ? "http://site" + std::to_string(Below(40)) + ".example/"
                                         : std::string(kHrefs[Below(std::size(kHrefs))]);
        std::string a = "<a href=\"" + href + "\"" + (Below(5) == 0 ? " rel=\"nofollow\"" : "") + ">";
        a += Below(2) ? "my anchor" : "<b>my</b> anchor";
        return closed ? a + "</a>" : a;
    }

    std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(m_rng); }

    std::mt19937 m_rng;
};

// The findings, with the matching anchors in a fixed order: content a table pushes out before
// itself comes before the whole table when the page is parsed whole, but before the rest of the
// table in its piece. Which anchors there are, and what each says, must be the same.
std::string Describe(const PageFindings& f)
{
    std::string out = "found " + std::to_string(f.found) + " nofollow " + std::to_string(f.nofollowSeen) + " text " +
                      std::to_string(f.textOk) + " external " + std::to_string(f.externalLinks) + " matches";
    std::vector<std::string> matches;
    for (const MatchingAnchor& m : f.matches)
        matches.push_back(" [" + m.href + "|" + m.rel + "|" + m.text + "]");
    std::sort(matches.begin(), matches.end());
    for (const std::string& m : matches)
        out += m;
    return out;
}

} // namespace

TEST(PagePieces, EveryPieceSizeGivesTheWholePageVerdict)
{
    CDocumentMaker maker(20261207);
    int cut = 0;
    for (int doc = 0; doc < 1500; ++doc) {
        const std::string html = maker.Make(150);
        PageFindings whole;
        ASSERT_TRUE(pagescan::ScanPageInPieces(kPiecesPage, html, {}, kPiecesMine, "my anchor", whole, SIZE_MAX, 1));
        for (const std::size_t maxTags : {std::size_t{1}, std::size_t{7}}) {
            PageFindings pieces;
            std::size_t walked = 0;
            ASSERT_TRUE(pagescan::ScanPageInPieces(kPiecesPage, html, {}, kPiecesMine, "my anchor", pieces, maxTags, 1,
                                                   &walked));
            ASSERT_EQ(Describe(pieces), Describe(whole))
                << "document " << doc << ", pieces of " << maxTags << " tags:\n"
                << html;
            cut += walked > 1 ? 1 : 0;
        }
    }
    // The documents must really have been walked in pieces, or the comparison proves nothing.
    EXPECT_GT(cut, 2000);
}

// What a page hides must stay hidden however it is cut: a link in a template or in a NOINDEX
// section a thousand anchors long, on a page big enough to be walked in pieces.
TEST(PagePieces, HiddenAndNoindexLinksStaySoAcrossCuts)
{
    std::string filler;
    for (int i = 0; i < 2000; ++i)
        filler += "<li><a href=\"http://site" + std::to_string(i) + ".example/\">x</a>";
    const std::string mine = "<a href=\"" + kPiecesMine + "\">my anchor</a>";
    struct Case
    {
        const char* what;
        std::string html;
        bool found;
        bool nofollow;
    };
    const Case cases[] = {
        {"in a template", "<ul>" + filler + "<template><ul>" + filler + mine + filler + "</ul></template>" + filler,
         false, false},
        {"in a NOINDEX section", "<div><noindex><ul>" + filler + mine + filler + "</ul></noindex>" + filler, true,
         true},
        {"after a NOINDEX section", "<div><noindex><ul>" + filler + "</ul></noindex>" + filler + mine, true, false},
        {"in a list in a table", "<table><tr><td><ul>" + filler + mine + filler + "</ul></td></tr></table>", true,
         false},
    };
    for (const Case& c : cases) {
        PageFindings findings;
        std::size_t walked = 0;
        ASSERT_TRUE(
            pagescan::ScanPageInPieces(kPiecesPage, c.html, {}, kPiecesMine, "my anchor", findings, 300, 50, &walked));
        EXPECT_GT(walked, 5u) << c.what;
        EXPECT_EQ(findings.found, c.found) << c.what;
        EXPECT_EQ(findings.nofollowSeen, c.nofollow) << c.what;
        EXPECT_EQ(findings.textOk, c.found) << c.what;
    }
}
