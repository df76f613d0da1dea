// The duplicate search: which links count as duplicates, how groups are formed (a link may be in
// more than one), the report text, and that the grouped search agrees with the plain pairwise one.
#include "core/search/Duplicates.h"
#include "core/records/Link.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

class Links
{
public:
    Links& Add(const std::string& project, const std::string& from, const std::string& to)
    {
        auto link = std::make_unique<CLink>();
        link->SetProject(project);
        link->SetFromPage(from);
        link->SetToPage(to);
        m_links.push_back(std::move(link));
        return *this;
    }
    std::vector<const CLink*> List() const
    {
        std::vector<const CLink*> out;
        for (const auto& link : m_links)
            out.push_back(link.get());
        return out;
    }

private:
    std::vector<std::unique_ptr<CLink>> m_links;
};

std::string Line(const std::string& project, const std::string& from, const std::string& to)
{
    return "        " + project + "\t" + from + "\t" + to + "\r\n";
}

const std::string kRule = std::string(92, '-') + "\r\n";

// The search as described: every later link B against every A not yet reported.
std::vector<std::vector<std::size_t>> PairwiseGroups(const std::vector<const CLink*>& links, bool ignoreWww,
                                                     bool oneLinkPerProject)
{
    std::vector<std::vector<std::size_t>> groups;
    std::set<std::size_t> reported;
    for (std::size_t a = 0; a < links.size(); ++a) {
        if (reported.count(a))
            continue;
        std::set<std::size_t> group;
        for (std::size_t b = a + 1; b < links.size(); ++b) {
            if (LinksAreDuplicates(*links[a], *links[b], ignoreWww, oneLinkPerProject)) {
                group.insert(a);
                group.insert(b);
                reported.insert(a);
                reported.insert(b);
            }
        }
        if (!group.empty())
            groups.emplace_back(group.begin(), group.end());
    }
    return groups;
}

TEST(DuplicatesTest, WwwCountsOnTheFromPageOnlyWhenAsked)
{
    Links links;
    links.Add("P", "http://www.site.com/page.html", "http://mine.com/")
        .Add("P", "http://site.com/page.html", "http://mine.com/");
    EXPECT_EQ(DuplicatesReport(links.List(), true, false),
              "Found set of 2 duplicates\r\n" + Line("P", "http://www.site.com/page.html", "http://mine.com/") +
                  Line("P", "http://site.com/page.html", "http://mine.com/") + kRule);
    EXPECT_EQ(DuplicatesReport(links.List(), false, false), "No duplicates found");

    // The To Page keeps its www either way.
    Links to;
    to.Add("P", "http://site.com/a", "http://www.mine.com/").Add("P", "http://site.com/a", "http://mine.com/");
    EXPECT_EQ(DuplicatesReport(to.List(), true, false), "No duplicates found");
}

TEST(DuplicatesTest, OneLinkPerProjectComparesProjectsInsteadOfTargets)
{
    Links links;
    links.Add("Shop", "http://site.com/a", "http://mine.com/1")
        .Add("Shop", "http://site.com/a", "http://mine.com/2")
        .Add("shop", "http://site.com/a", "http://mine.com/3");
    EXPECT_EQ(DuplicatesReport(links.List(), true, false), "No duplicates found");
    EXPECT_EQ(FindDuplicateGroups(links.List(), true, true), (std::vector<std::vector<std::size_t>>{{0, 1}}));
}

TEST(DuplicatesTest, PathCaseAndThreeOnOnePage)
{
    Links links;
    links.Add("P", "http://site.com/Page.HTML", "http://mine.com/x")
        .Add("Q", "http://site.com/page.html", "http://mine.com/x")
        .Add("R", "site.com/PAGE.html", "http://MINE.com/x");
    EXPECT_EQ(DuplicatesReport(links.List(), false, false),
              "Found set of 3 duplicates\r\n" + Line("P", "http://site.com/Page.HTML", "http://mine.com/x") +
                  Line("Q", "http://site.com/page.html", "http://mine.com/x") +
                  Line("R", "site.com/PAGE.html", "http://MINE.com/x") + kRule);
}

TEST(DuplicatesTest, OverlappingGroupsShareALink)
{
    // "/*" stands for every page of the site, so the wildcard link matches both of the others,
    // which do not match each other.
    Links links;
    links.Add("A", "http://site.com/p", "http://mine.com/1")
        .Add("B", "http://site.com/*", "http://mine.com/2")
        .Add("B", "http://site.com/p", "http://mine.com/1");
    EXPECT_EQ(FindDuplicateGroups(links.List(), false, true), (std::vector<std::vector<std::size_t>>{{1, 2}}));

    Links overlap;
    overlap.Add("A", "http://site.com/one", "http://mine.com/x")
        .Add("A", "http://site.com/two", "http://mine.com/x")
        .Add("A", "http://site.com/*", "http://mine.com/x");
    EXPECT_EQ(FindDuplicateGroups(overlap.List(), false, false),
              (std::vector<std::vector<std::size_t>>{{0, 2}, {1, 2}}));
    const std::string report = DuplicatesReport(overlap.List(), false, false);
    EXPECT_EQ(report, "Found set of 2 duplicates\r\n" + Line("A", "http://site.com/one", "http://mine.com/x") +
                          Line("A", "http://site.com/*", "http://mine.com/x") + kRule +
                          "Found set of 2 duplicates\r\n" + Line("A", "http://site.com/two", "http://mine.com/x") +
                          Line("A", "http://site.com/*", "http://mine.com/x") + kRule);
}

TEST(DuplicatesTest, UnreadableAddressesNeverMatch)
{
    Links links;
    links.Add("P", "http://exa mple.com:99999/", "http://mine.com/")
        .Add("P", "http://exa mple.com:99999/", "http://mine.com/")
        .Add("P", "", "")
        .Add("P", "", "")
        .Add("P", "http://site.com/a", "http://[bad/")
        .Add("P", "http://site.com/a", "http://[bad/");
    EXPECT_FALSE(LinksAreDuplicates(*links.List()[0], *links.List()[1], true, false));
    EXPECT_EQ(DuplicatesReport(links.List(), true, false), "No duplicates found");
    // The target does not count with one link per project, so the last two form a group.
    EXPECT_EQ(FindDuplicateGroups(links.List(), true, true), (std::vector<std::vector<std::size_t>>{{4, 5}}));
    EXPECT_EQ(DuplicatesReport({}, true, false), "No duplicates found");
}

TEST(DuplicatesTest, GroupedSearchAgreesWithPairwiseSearch)
{
    const std::vector<std::string> schemes{"http://", "https://", "", "HTTP://"};
    const std::vector<std::string> hosts{"site.com",      "www.site.com",  "WWW.Site.com", "other.org",
                                         "site.com:8080", "www.other.org", "bad host"};
    const std::vector<std::string> paths{"/", "/a", "/A", "/b", "/*", "", "/a?x=1"};
    const std::vector<std::string> projects{"P", "Q", "p"};
    std::mt19937 random(12345);
    auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    for (int round = 0; round < 3; ++round) {
        Links links;
        for (int i = 0; i < 1200; ++i) {
            links.Add(pick(projects), pick(schemes) + pick(hosts) + pick(paths),
                      pick(schemes) + pick({"mine.com", "www.mine.com", "Mine.com:443"}) + pick(paths));
        }
        const auto list = links.List();
        for (const bool www : {false, true}) {
            for (const bool perProject : {false, true}) {
                SCOPED_TRACE(testing::Message() << "round " << round << " www " << www << " project " << perProject);
                const auto expected = PairwiseGroups(list, www, perProject);
                EXPECT_FALSE(expected.empty());
                EXPECT_EQ(FindDuplicateGroups(list, www, perProject), expected);
            }
        }
    }
}

} // namespace
