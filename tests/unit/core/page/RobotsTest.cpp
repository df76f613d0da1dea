// robots.txt rules as RFC 9309 and the major search engine's matcher read them.
#include "core/page/Robots.h"

#include "fakes/FakeServers.h"
#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

/// Robots lines written on one line, separated by " | ".
Lines L(std::string_view text)
{
    Lines lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = text.find(" | ", start);
        lines.emplace_back(text.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
        if (bar == std::string_view::npos)
            break;
        start = bar + 3;
    }
    return lines;
}

struct RobotsCase
{
    const char* name;
    Lines lines;
    const char* path;
    bool allowed;
};

void PrintTo(const RobotsCase& c, std::ostream* os)
{
    *os << c.name;
}

class RobotsTableTest : public testing::TestWithParam<RobotsCase>
{
};

TEST_P(RobotsTableTest, Decides)
{
    const RobotsCase& c = GetParam();
    EXPECT_EQ(RobotsAllows(c.lines, c.path), c.allowed) << c.name << " path " << c.path;
}

// Files that older link checkers read differently, with the answer RFC 9309 gives.
const RobotsCase kClassicCases[] = {
    {"AllDisallowed", L("User-agent: * | Disallow: /"), "/any/page.html", false},
    {"AllDisallowedRoot", L("User-agent: * | Disallow: /"), "/", false},
    {"PrefixBlocks", L("User-agent: * | Disallow: /private"), "/private/page.html", false},
    // RFC: paths compare case-sensitively; a case-blind reading would block /PRIVATE too.
    {"PrefixIsCaseSensitive", L("User-agent: * | Disallow: /private"), "/PRIVATE", true},
    {"OtherPathAllowed", L("User-agent: * | Disallow: /private"), "/public.html", true},
    {"LongerAllowWins", L("User-agent: * | Disallow: /private | Allow: /private/open.html"), "/private/open.html",
     true},
    {"AllowDoesNotCoverOthers", L("User-agent: * | Disallow: /private | Allow: /private/open.html"),
     "/private/other.html", false},
    {"GooglebotGroup", L("User-agent: Googlebot | Disallow: /"), "/page.html", false},
    // RFC: "User-agent:*" counts without a blank; a reading that wants a blank before "*" ignores it.
    {"StarWithoutBlank", L("User-agent:* | Disallow: /"), "/page.html", false},
    {"OtherBotOnly", L("User-agent: otherbot | Disallow: /"), "/page.html", true},
    {"EmptyLineKeepsGroup", L("User-agent: * |  | Disallow: /"), "/page.html", false},
    {"EmptyDisallow", L("User-agent: * | Disallow:"), "/page.html", true},
    // RFC: a line without ":" is not a rule at all; a prefix reading would make it match every page.
    {"NoColonIgnored", L("User-agent: * | Disallow /private"), "/private/page.html", true},
    {"NoColonIgnoredElsewhere", L("User-agent: * | Disallow /private"), "/page.html", true},
    // RFC: "#" starts a comment, so the rule is "/a"; a plain prefix reading keeps " # old" in the path.
    {"CommentStripped", L("User-agent: * | Disallow: /a # old"), "/a/b.html", false},
    // CR LF files: the fetcher drops the CRs; a stray CR left over is blank space too.
    {"CrLfDropped", L("User-agent: * | Disallow: /private"), "/private/page.html", false},
    {"StrayCrIsBlank", Lines{"User-agent: *\r", "Disallow: /private\r"}, "/private/page.html", false},
    {"CrOnlyLineEnds", Lines{"User-agent: *\rDisallow: /private\r"}, "/private/page.html", false},
    {"NoFile", Lines{}, "/page.html", true},
};
INSTANTIATE_TEST_SUITE_P(RobotsClassic, RobotsTableTest, testing::ValuesIn(kClassicCases),
                         [](const auto& info) { return std::string(info.param.name); });

const RobotsCase kGroups[] = {
    {"GooglebotBeatsStar", L("User-agent: * | Disallow: / | User-agent: Googlebot | Allow: /"), "/page", true},
    {"GooglebotBeatsStarBlocking", L("User-agent: Googlebot | Disallow: /private | User-agent: * | Disallow: /"),
     "/page", true},
    {"GooglebotOwnRules", L("User-agent: Googlebot | Disallow: /private | User-agent: * | Allow: /"), "/private/x",
     false},
    // A group naming googlebot without rules allows everything, whatever "*" says.
    {"EmptySpecificGroup", L("User-agent: * | Disallow: / | User-agent: googlebot"), "/page", true},
    {"TokenCaseInsensitive", L("User-agent: GOOGLEBOT | Disallow: /"), "/page", false},
    {"TokenWithVersion", L("User-agent: Googlebot/2.1 | Disallow: /"), "/page", false},
    {"TokenWithComment", L("User-agent: googlebot # the search engine | Disallow: /"), "/page", false},
    {"NewsBotIsNotGooglebot", L("User-agent: Googlebot-News | Disallow: /"), "/page", true},
    {"NewsBotDoesNotHideStar", L("User-agent: Googlebot-News | Allow: / | User-agent: * | Disallow: /"), "/page",
     false},
    {"GoogleIsNotGooglebot", L("User-agent: google | Disallow: /"), "/page", true},
    {"StarPrefixIsNotStar", L("User-agent: *bot | Disallow: /"), "/page", true},
    {"StarWithTrailingText", L("User-agent: * everyone | Disallow: /"), "/page", false},
    {"EmptyAgent", L("User-agent: | Disallow: /"), "/page", true},
    {"SeveralAgentLinesOneGroup", L("User-agent: otherbot | User-agent: googlebot | Disallow: /x"), "/x", false},
    {"SeveralAgentLinesFirstCounts", L("User-agent: googlebot | User-agent: otherbot | Disallow: /x"), "/x", false},
    {"AgentAfterRuleStartsGroup", L("User-agent: googlebot | Disallow: /x | User-agent: otherbot | Disallow: /y"), "/y",
     true},
    {"SpecificGroupsMergedFirst",
     L("User-agent: googlebot | Disallow: /a | User-agent: otherbot | Disallow: /b | User-agent: googlebot | "
       "Disallow: /c"),
     "/a", false},
    {"SpecificGroupsMergedLast",
     L("User-agent: googlebot | Disallow: /a | User-agent: otherbot | Disallow: /b | User-agent: googlebot | "
       "Disallow: /c"),
     "/c", false},
    {"SpecificGroupsMergedOther",
     L("User-agent: googlebot | Disallow: /a | User-agent: otherbot | Disallow: /b | User-agent: googlebot | "
       "Disallow: /c"),
     "/b", true},
    {"StarGroupsMerged",
     L("User-agent: * | Disallow: /a | User-agent: otherbot | Disallow: /b | User-agent: * | "
       "Disallow: /c"),
     "/c", false},
    // Merged groups still take the longest rule, wherever it stands.
    {"MergedLongestWins", L("User-agent: googlebot | Allow: /a/b | User-agent: googlebot | Disallow: /a"), "/a/b/c",
     true},
    {"RulesBeforeAnyAgentIgnored", L("Disallow: / | User-agent: * | Allow: /x"), "/page", true},
    // As the search engine's parser does, other keys (sitemap, crawl-delay) do not end a run of
    // user-agent lines.
    {"SitemapDoesNotSplitAgents",
     L("User-agent: googlebot | Sitemap: http://example.com/s.xml | User-agent: otherbot | Disallow: /x"), "/x", false},
    {"CrawlDelayInsideGroup", L("User-agent: * | Crawl-delay: 10 | Disallow: /x | Host: example.com"), "/x", false},
    {"CommentLinesInsideGroup", L("User-agent: * | # a comment | Disallow: /x"), "/x", false},
    {"CommentOnlyAgentLine", L("# User-agent: * | Disallow: /"), "/x", true},
};
INSTANTIATE_TEST_SUITE_P(RobotsGroups, RobotsTableTest, testing::ValuesIn(kGroups),
                         [](const auto& info) { return std::string(info.param.name); });

const RobotsCase kKeys[] = {
    {"UpperCaseKeys", L("USER-AGENT: * | DISALLOW: /x"), "/x", false},
    {"UserAgentNoDash", L("useragent: * | Disallow: /x"), "/x", false},
    {"UserAgentBlank", L("user agent: * | Disallow: /x"), "/x", false},
    {"Dissallow", L("User-agent: * | dissallow: /x"), "/x", false},
    {"Dissalow", L("User-agent: * | dissalow: /x"), "/x", false},
    {"Disalow", L("User-agent: * | disalow: /x"), "/x", false},
    {"Diasllow", L("User-agent: * | diasllow: /x"), "/x", false},
    {"Disallaw", L("User-agent: * | disallaw: /x"), "/x", false},
    {"UnknownKey", L("User-agent: * | Forbid: /x"), "/x", true},
    {"BlanksAroundKeyAndValue", L("  User-agent  :  *   | \tDisallow\t:\t/x\t "), "/x", false},
    {"ValueTrimmed", L("User-agent: * | Disallow: /x   "), "/x", false},
    {"CommentOnlyValue", L("User-agent: * | Disallow: # nothing"), "/x", true},
    // A path that starts with neither "/" nor "*" never matches (paths start with "/"), so it is dropped.
    {"RelativeRuleIgnored", L("User-agent: * | Disallow: private"), "/private", true},
    {"RelativeAllowIgnored", L("User-agent: * | Disallow: / | Allow: page"), "/page", false},
    {"BomAtStart", Lines{"\xEF\xBB\xBFUser-agent: *", "Disallow: /"}, "/page", false},
    {"BomOnOwnLine", Lines{"\xEF\xBB\xBF", "User-agent: *", "Disallow: /"}, "/page", false},
    {"RobotsTxtAlwaysAllowed", L("User-agent: * | Disallow: /"), "/robots.txt", true},
    {"RobotsTxtWithQueryAllowed", L("User-agent: * | Disallow: /"), "/robots.txt?x=1", true},
    {"RobotsTxtSimilarNameBlocked", L("User-agent: * | Disallow: /"), "/robots.txt.bak", false},
    {"EmptyPathIsRoot", L("User-agent: * | Disallow: /$"), "", false},
    {"QueryOnlyPath", L("User-agent: * | Disallow: /?"), "?a=b", false},
};
INSTANTIATE_TEST_SUITE_P(RobotsKeys, RobotsTableTest, testing::ValuesIn(kKeys),
                         [](const auto& info) { return std::string(info.param.name); });

const RobotsCase kMatching[] = {
    {"LongerDisallowWins", L("User-agent: * | Allow: /p | Disallow: /p/q"), "/p/q/r", false},
    {"LongerAllowWins", L("User-agent: * | Disallow: /p | Allow: /p/q"), "/p/q/r", true},
    {"OrderPlaysNoPart", L("User-agent: * | Allow: /p/q | Disallow: /p"), "/p/q/r", true},
    {"TieGoesToAllow", L("User-agent: * | Disallow: /page | Allow: /page"), "/page.html", true},
    {"TieGoesToAllowReversed", L("User-agent: * | Allow: /page | Disallow: /page"), "/page.html", true},
    {"TieCountsWildcards", L("User-agent: * | Disallow: /a* | Allow: /ab"), "/abc", true},
    // The length of the pattern as written counts, not the text it covers.
    {"WildcardPatternLengthCounts", L("User-agent: * | Allow: /dir/ | Disallow: /*.php"), "/dir/x.php", false},
    {"LongerAllowBeatsWildcard", L("User-agent: * | Allow: /dir/x. | Disallow: /*.php"), "/dir/x.php", true},
    {"EqualLengthWildcardTie", L("User-agent: * | Allow: /dir/x | Disallow: /*.php"), "/dir/x.php", true},
    {"AllowRootAndDisallowAll", L("User-agent: * | Allow: / | Disallow: /"), "/x", true},
    {"AllowAnchoredRoot", L("User-agent: * | Allow: /$ | Disallow: /"), "/", true},
    {"AllowAnchoredRootOnlyRoot", L("User-agent: * | Allow: /$ | Disallow: /"), "/page", false},
    {"StarSuffix", L("User-agent: * | Disallow: /*.gif$"), "/a/b.gif", false},
    {"StarSuffixQuery", L("User-agent: * | Disallow: /*.gif$"), "/a/b.gif?x=1", true},
    {"StarSuffixLonger", L("User-agent: * | Disallow: /*.gif$"), "/a.gifs", true},
    {"StarMiddle", L("User-agent: * | Disallow: /a*/c"), "/ab/b/c/d", false},
    {"StarMiddleNoMatch", L("User-agent: * | Disallow: /a*/c"), "/ab/b/d", true},
    {"StarQuery", L("User-agent: * | Disallow: /*?"), "/page?x", false},
    {"StarQueryNone", L("User-agent: * | Disallow: /*?"), "/page", true},
    {"QueryParameter", L("User-agent: * | Disallow: /*?sessionid="), "/shop/item?sessionid=12", false},
    {"TrailingStarSameAsPrefix", L("User-agent: * | Disallow: /fish*"), "/fishheads/yummy.html", false},
    {"StarAtStart", L("User-agent: * | Disallow: *.pdf"), "/docs/a.pdf", false},
    {"StarAlone", L("User-agent: * | Disallow: *"), "/anything", false},
    {"DoubleStar", L("User-agent: * | Disallow: /x**y"), "/x-and-y", false},
    {"DollarAnchors", L("User-agent: * | Disallow: /exact$"), "/exact", false},
    {"DollarAnchorsNotLonger", L("User-agent: * | Disallow: /exact$"), "/exact/more", true},
    {"DollarInsideIsLiteral", L("User-agent: * | Disallow: /a$b"), "/a$b/c", false},
    {"DollarInsideIsLiteralNoMatch", L("User-agent: * | Disallow: /a$b"), "/a", true},
    {"StarThenDollar", L("User-agent: * | Disallow: /a*$"), "/abc", false},
    {"AnchoredPieceAfterStar", L("User-agent: * | Disallow: /*ab$"), "/abab", false},
    {"AnchoredPieceAfterStarNeedsEnd", L("User-agent: * | Disallow: /*ab$"), "/abc", true},
    {"AnchoredPieceMayNotOverlap", L("User-agent: * | Disallow: /*aba*ba$"), "/xaba", true},
    {"GreedyPiecesBacktrackFree", L("User-agent: * | Disallow: /*aab*b"), "/aaaab-b", false},
    {"MatchesFromStart", L("User-agent: * | Disallow: /b"), "/a/b", true},
    {"QueryIsPartOfPath", L("User-agent: * | Disallow: /page?print"), "/page?print=1", false},
};
INSTANTIATE_TEST_SUITE_P(RobotsMatching, RobotsTableTest, testing::ValuesIn(kMatching),
                         [](const auto& info) { return std::string(info.param.name); });

const RobotsCase kEncoding[] = {
    {"LowerHexInRule", L("User-agent: * | Disallow: /%e4"), "/%E4x", false},
    {"LowerHexInPath", L("User-agent: * | Disallow: /%E4"), "/%e4x", false},
    {"RawUtf8RuleEncodedPath", L("User-agent: * | Disallow: /foo/bar/ツ"), "/foo/bar/%E3%83%84", false},
    {"RawUtf8RuleLowerEncodedPath", L("User-agent: * | Disallow: /foo/bar/ツ"), "/foo/bar/%e3%83%84", false},
    {"EncodedRuleRawPath", L("User-agent: * | Disallow: /foo/bar/%E3%83%84"), "/foo/bar/ツ", false},
    {"RawBothSides", L("User-agent: * | Disallow: /ä"), "/ä/x", false},
    {"NonUtf8Byte", Lines{"User-agent: *", "Disallow: /\xE4"}, "/%E4.html", false},
    {"OtherNonAsciiAllowed", L("User-agent: * | Disallow: /ä"), "/ö", true},
    // Normalised length decides: "/ä" is 7 characters as "/%C3%A4", longer than "/%C3%A".
    {"NormalisedLengthDecides", L("User-agent: * | Disallow: /%C3%A | Allow: /ä"), "/%C3%A4", true},
    // An encoded slash stays an octet inside a segment, never a separator.
    {"EncodedSlashNotDecoded", L("User-agent: * | Disallow: /a/b"), "/a%2Fb", true},
    // An escaped unreserved character (letter, digit, "-", ".", "_", "~") is the character itself.
    {"EscapedTildeInPath", L("User-agent: * | Disallow: /~joe/"), "/%7Ejoe/page.html", false},
    {"EscapedTildeLowerHexInPath", L("User-agent: * | Disallow: /~joe/"), "/%7ejoe/page.html", false},
    {"EscapedTildeInRule", L("User-agent: * | Disallow: /%7Ejoe/"), "/~joe/page.html", false},
    {"EscapedTildeInRuleOtherPath", L("User-agent: * | Disallow: /%7Ejoe/"), "/~ann/page.html", true},
    {"EscapedLettersInRule", L("User-agent: * | Disallow: /foo/bar/%62%61%7A"), "/foo/bar/baz", false},
    {"EscapedLetterInPath", L("User-agent: * | Disallow: /A"), "/%41", false},
    {"EscapedDigitDashDotUnderscore", L("User-agent: * | Disallow: /a1-._"), "/%61%31%2D%2E%5F", false},
    // Decoded letters keep their case: "%41" is "A", not "a".
    {"EscapedLetterKeepsCase", L("User-agent: * | Disallow: /a"), "/%41", true},
    // Reserved characters stay escaped: "%2A" is no wildcard, "%24" no anchor, "%3F" no query.
    {"EscapedStarIsNoWildcard", L("User-agent: * | Disallow: /a%2Ac"), "/abc", true},
    {"EscapedStarMatchesEscapedStar", L("User-agent: * | Disallow: /a%2ac"), "/a%2Ac", false},
    {"EscapedDollarIsNoAnchor", L("User-agent: * | Disallow: /a%24"), "/a", true},
    {"EscapedQuestionMarkIsNoQuery", L("User-agent: * | Disallow: /a?b"), "/a%3Fb", true},
    // The decoded length decides the longest match: "/%7Ejoe" is as long as "/~joe".
    {"DecodedLengthDecides", L("User-agent: * | Allow: /%7Ejoe | Disallow: /~jo"), "/~joe/x", true},
    // A "%" without two hex digits is a plain character (here the start of "%25").
    {"PercentWithoutHexLiteral", L("User-agent: * | Disallow: /100%"), "/100%25", false},
    {"PercentWithoutHexLiteralMatch", L("User-agent: * | Disallow: /100%zz"), "/100%zz", false},
    {"NonAsciiAgentIgnored", L("User-agent: Ünïcodebot | Disallow: / | User-agent: * | Allow: /"), "/x", true},
};
INSTANTIATE_TEST_SUITE_P(RobotsEncoding, RobotsTableTest, testing::ValuesIn(kEncoding),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RobotsAgent, OtherCrawlerTokens)
{
    const Lines lines = L("User-agent: otherbot | Disallow: /o | User-agent: * | Disallow: /s");
    EXPECT_FALSE(RobotsAllows(lines, "/o", "OtherBot"));
    EXPECT_TRUE(RobotsAllows(lines, "/s", "otherbot"));
    EXPECT_FALSE(RobotsAllows(lines, "/s", "thirdbot"));
    EXPECT_FALSE(RobotsAllows(lines, "/s", ""));
    EXPECT_FALSE(RobotsAllows(lines, "/o", "otherbot/1.0 (+http://example.com)"));
}

TEST(RobotsRules, ParseOnceAskMany)
{
    const CRobotsRules rules = CRobotsRules::Parse(L("User-agent: * | Disallow: /a | Allow: /a/b | Sitemap: /s"));
    EXPECT_EQ(rules.RuleCount(), 2u);
    EXPECT_FALSE(rules.Allows("/a"));
    EXPECT_TRUE(rules.Allows("/a/b"));
    EXPECT_TRUE(rules.Allows("/c"));
    EXPECT_TRUE(CRobotsRules::Parse(L("User-agent: otherbot | Disallow: /")).AllowsEverything());
    EXPECT_TRUE(CRobotsRules().Allows("/anything"));
}

TEST(RobotsRules, BlockerNamesTheDecidingGroupAndLine)
{
    // Line numbers count every line of the file, the blank and comment ones and a BOM'd first.
    const std::vector<std::string> lines = {"\xEF\xBB\xBFUser-agent: *",
                                            "Disallow: /",
                                            "",
                                            "# ours",
                                            "User-agent: Googlebot/2.1",
                                            "Disallow: /private",
                                            "Allow: /private/open",
                                            "Disallow: /*.pdf$"};
    const CRobotsRules rules = CRobotsRules::Parse(lines);
    EXPECT_EQ(rules.Blocker("/private/x"), "User-agent: Googlebot, line 6: Disallow: /private");
    EXPECT_EQ(rules.Blocker("/a/b.pdf"), "User-agent: Googlebot, line 8: Disallow: /*.pdf$");
    EXPECT_EQ(rules.Blocker("/private/open/x"), ""); // the longer Allow wins
    EXPECT_EQ(rules.Blocker("/public"), "");
    const CRobotsRules star = CRobotsRules::Parse(lines, "otherbot");
    EXPECT_EQ(star.Blocker("/public"), "User-agent: *, line 2: Disallow: /");
    EXPECT_EQ(CRobotsRules::DisallowAll("it answered 503").Blocker("/x"), "it answered 503");
    EXPECT_EQ(CRobotsRules::DisallowAll("it answered 503").Blocker("/robots.txt"), "");
}

// Robustness: nothing may crash, and hostile files must finish. They cost a quadratic matcher 10^11
// steps or more, hours rather than seconds, so a regression shows as the test's time-out in ctest.

TEST(RobotsRobustness, RandomBytes)
{
    std::mt19937 rng(9309);
    const std::string alphabet = "Uu-ser:agent*$/#%aAdDiIlLowW \t\r\n\x80\xC3\xA4\xEF\xBB\xBF?.0123456789Ee";
    for (int round = 0; round < 300; ++round) {
        Lines lines(rng() % 40);
        for (std::string& line : lines) {
            const std::size_t size = rng() % 60;
            for (std::size_t i = 0; i < size; ++i)
                line += (rng() % 4 == 0) ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
        }
        if (round % 3 == 0)
            lines.insert(lines.begin(), "User-agent: *");
        std::string path;
        const std::size_t size = rng() % 40;
        for (std::size_t i = 0; i < size; ++i)
            path += (rng() % 4 == 0) ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
        (void)RobotsAllows(lines, path);
    }
}

TEST(RobotsRobustness, MegabyteLines)
{
    const std::string longPath = "/" + std::string(1 << 20, 'a');
    Lines lines = {"User-agent: *", "Disallow: /" + std::string(1 << 20, 'a') + "b",
                   "Allow: /" + std::string(1 << 20, 'a'), std::string(1 << 20, ':'), std::string(1 << 20, ' ')};
    EXPECT_TRUE(RobotsAllows(lines, longPath));
    EXPECT_FALSE(RobotsAllows(lines, longPath + "b"));
}

TEST(RobotsRobustness, LongLiteralPieceAgainstRepetitivePath)
{
    // A naive substring search would compare ~10^11 characters here.
    const std::string path = "/" + std::string(1 << 20, 'a');
    const Lines lines = {"User-agent: *", "Disallow: /*" + std::string(100000, 'a') + "b"};
    EXPECT_TRUE(RobotsAllows(lines, path));
    EXPECT_FALSE(RobotsAllows(lines, path + "b"));
}

TEST(RobotsRobustness, OneHugeWildcardPattern)
{
    std::string pattern = "/";
    for (int i = 0; i < 1 << 20; ++i)
        pattern += "*a";
    const Lines lines = {"User-agent: *", "Disallow: " + pattern + "*b$"};
    const std::string path = "/" + std::string(1 << 20, 'a');
    EXPECT_FALSE(RobotsAllows(lines, path + "b"));
    EXPECT_TRUE(RobotsAllows(lines, path));
    EXPECT_TRUE(RobotsAllows(lines, path.substr(0, path.size() - 1) + "b"));
}

TEST(RobotsRobustness, FiveMebibytesOfWildcards)
{
    // 5 MiB of rules, each a run of wildcards that keeps matching until its very end.
    Lines lines = {"User-agent: *"};
    std::string rule = "Disallow: /";
    for (int i = 0; i < 500; ++i)
        rule += "*a";
    rule += "*b";
    std::size_t total = 0;
    for (int n = 0; total < 5u << 20; ++n) {
        lines.push_back(rule + std::to_string(n));
        total += lines.back().size() + 1;
    }
    const std::string path = "/" + std::string(20000, 'a');
    EXPECT_TRUE(RobotsAllows(lines, path));
    EXPECT_FALSE(RobotsAllows(lines, path + "b7"));
}

TEST(RobotsRobustness, ManyTinyRules)
{
    Lines lines = {"User-agent: *"};
    for (int n = 0; n < 200000; ++n)
        lines.push_back("Disallow: /*x" + std::to_string(n % 1000));
    const std::string path = "/" + std::string(5000, 'y');
    EXPECT_TRUE(RobotsAllows(lines, path));
}

// RobotsTxtUrl: the page's scheme, host and port are kept, so https sites are asked over https.

struct UrlCase
{
    const char* page;
    const char* robots;
};

const UrlCase kUrls[] = {
    {"http://example.com/a/b.html", "http://example.com/robots.txt"},
    {"http://example.com/", "http://example.com/robots.txt"},
    {"http://example.com/a?b=c#d", "http://example.com/robots.txt"},
    {"https://example.com/secure/page.html", "https://example.com/robots.txt"},
    {"http://example.com:8080/x", "http://example.com:8080/robots.txt"},
    {"https://example.com:8443/x", "https://example.com:8443/robots.txt"},
    {"http://example.com:80/x", "http://example.com/robots.txt"},
    {"https://example.com:443/x", "https://example.com/robots.txt"},
    {"https://example.com:80/x", "https://example.com:80/robots.txt"},
    {"http://example.com:443/x", "http://example.com:443/robots.txt"},
    {"http://127.0.0.1:5000/page", "http://127.0.0.1:5000/robots.txt"},
    {"", ""},
    {"/relative/page.html", ""},
};
TEST(RobotsTxtUrl, KeepsSchemeHostAndPort)
{
    for (const UrlCase& c : kUrls)
        EXPECT_EQ(RobotsTxtUrl(c.page), c.robots) << c.page;
}

// The cache seam: one load per robots.txt URL within a run.

TEST(RobotsCache, LoadsOncePerUrl)
{
    std::atomic<int> loads = 0;
    const auto loader = [&](const std::string& url) {
        ++loads;
        return std::make_shared<const CRobotsRules>(
            CRobotsRules::Parse(url.find("closed") != std::string::npos ? L("User-agent: * | Disallow: /") : Lines{}));
    };
    CRobotsCache cache;
    EXPECT_FALSE(cache.Get("http://closed.example/robots.txt", loader)->Allows("/x"));
    EXPECT_FALSE(cache.Get("http://closed.example/robots.txt", loader)->Allows("/y"));
    EXPECT_TRUE(cache.Get("http://open.example/robots.txt", loader)->Allows("/x"));
    EXPECT_EQ(loads, 2);
    EXPECT_EQ(cache.Size(), 2u);
    cache.Clear();
    EXPECT_EQ(cache.Size(), 0u);
    cache.Get("http://open.example/robots.txt", loader);
    EXPECT_EQ(loads, 3);
}

TEST(RobotsCache, ConcurrentCallersShareOneLoad)
{
    std::atomic<int> loads = 0;
    const auto loader = [&](const std::string&) {
        ++loads;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return std::make_shared<const CRobotsRules>(CRobotsRules::Parse(L("User-agent: * | Disallow: /x")));
    };
    CRobotsCache cache;
    std::atomic<int> blocked = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            if (!cache.Get("http://example.com/robots.txt", loader)->Allows("/x"))
                ++blocked;
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(loads, 1);
    EXPECT_EQ(blocked, 8);
}

TEST(RobotsCache, FailedLoadAllowsEverything)
{
    CRobotsCache cache;
    EXPECT_TRUE(cache.Get("http://a.example/robots.txt", [](const std::string&) { return CRobotsCache::RulesPtr(); })
                    ->Allows("/x"));
    EXPECT_TRUE(cache
                    .Get("http://b.example/robots.txt",
                         [](const std::string&) -> CRobotsCache::RulesPtr { throw std::runtime_error("boom"); })
                    ->Allows("/x"));
}

TEST(RobotsBlocked, UnsplittablePageIsNotBlocked)
{
    EXPECT_FALSE(IsBlockedByRobots(""));
    EXPECT_FALSE(IsBlockedByRobots("/relative"));
    CRobotsCache cache;
    EXPECT_FALSE(IsBlockedByRobots("", &cache));
    EXPECT_EQ(cache.Size(), 0u);
}

// IsBlockedByRobots over real HTTP: the fake server serves ROOT/<host>/robots.txt.

class RobotsHttpTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = std::make_unique<testsupport::FakeSite>("orvex-robots");
        // No robots.txt in the default folder: 404.
        const auto put = [](const std::string& host, const std::string& bytes) {
            s_server->Put(host + "/robots.txt", bytes);
        };
        put("partner.localhost", "User-agent: *\nDisallow: /private\n");
        put("crlf.localhost", "User-agent: *\r\nDisallow: /private\r\n");
        put("googlebot.localhost", "User-agent: *\nDisallow: /\n\nUser-agent: Googlebot\nAllow: /\n");
        put("bom.localhost", "\xEF\xBB\xBFUser-agent:*\nDisallow: /a # old\n");
        put("empty.localhost", "");
        put("tilde.localhost", "User-agent: *\nDisallow: /~joe/\n");
        // Answers the server gives instead of the file (see http_server.py, "P.fault").
        for (const std::string kind : {"500", "503", "599", "403", "410"})
            s_server->Put("status" + kind + ".localhost/robots.txt.fault", kind + "\n");
        s_server->Put("closed.localhost/robots.txt.fault", "close\n");
        s_server->Put("cutheaders.localhost/robots.txt.fault", "headers\n");
        s_server->Put("cutbody.localhost/robots.txt.fault", "body\n");
        s_server->Start();
    }
    static void TearDownTestSuite() { s_server.reset(); }

    static std::string Url(const std::string& host, const std::string& path) { return s_server->Url(host, path); }

    static inline std::unique_ptr<testsupport::FakeSite> s_server;
};

// The rules read over HTTP as from the lines: CR LF files, the Googlebot group, a byte order
// mark, "*" without a blank and a comment, an escaped "~" in the page's address; no file (404)
// or an empty one blocks nothing.
TEST_F(RobotsHttpTest, PagesAreBlockedAsTheFileSays)
{
    const struct
    {
        const char* host;
        const char* path;
        bool blocked;
    } cases[] = {
        {"partner.localhost", "/private/page.html", true}, {"partner.localhost", "/public.html", false},
        {"partner.localhost", "/PRIVATE", false},          {"crlf.localhost", "/private/page.html", true},
        {"googlebot.localhost", "/page.html", false},      {"bom.localhost", "/a/b.html", true},
        {"open.localhost", "/private/page.html", false},   {"empty.localhost", "/private/page.html", false},
        {"tilde.localhost", "/%7Ejoe/page.html", true},    {"tilde.localhost", "/~joe/page.html", true},
        {"tilde.localhost", "/%7Eann/page.html", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsBlockedByRobots(Url(c.host, c.path)), c.blocked) << c.host << c.path;
}

/// What a robots.txt answer other than a file means: a client error (4xx) says there are no rules,
/// a server error (5xx) or a file that never arrives whole leaves the rules unknown, which
/// disallows everything.
struct RobotsFaultCase
{
    const char* host;
    const char* fault; // what the fake server was told to answer
    bool blocked;
};

TEST_F(RobotsHttpTest, ServerErrorsAndUnreachableFilesBlockEverything)
{
    const RobotsFaultCase cases[] = {
        {"status500.localhost", "500", true},      {"status503.localhost", "503", true},
        {"status599.localhost", "599", true},      {"status403.localhost", "403", false},
        {"status410.localhost", "410", false},     {"closed.localhost", "close", true},
        {"cutheaders.localhost", "headers", true}, {"cutbody.localhost", "body", true},
    };
    for (const RobotsFaultCase& c : cases) {
        s_server->ClearLog();
        std::string why;
        EXPECT_EQ(IsBlockedByRobots(Url(c.host, "/page.html"), nullptr, &why), c.blocked) << c.host;
        // Whoever reads the verdict learns that the file, not a rule, shut the site out.
        if (c.blocked) {
            EXPECT_NE(why.find("robots.txt"), std::string::npos) << why;
            EXPECT_NE(why.find(std::isdigit(c.fault[0]) ? std::string("answered HTTP ") + c.fault
                                                        : std::string("could not be fetched whole")),
                      std::string::npos)
                << why;
        }
        EXPECT_EQ(IsBlockedByRobots(Url(c.host, "/")), c.blocked) << c.host;
        // The server really answered robots.txt with that fault.
        const auto requests = s_server->Requests();
        ASSERT_EQ(requests.size(), 2u) << c.host;
        const std::string logged = fakes::ReadWholeFile(s_server->LogFile());
        EXPECT_EQ(requests[0].path, "/robots.txt") << c.host;
        EXPECT_EQ(requests[0].host, c.host);
        EXPECT_NE(logged.find(std::string("\"fault\":\"") + c.fault + "\""), std::string::npos) << logged;
    }

    // No server at all on the site's port.
    const int closed = fakes::FreePort();
    EXPECT_TRUE(IsBlockedByRobots("http://partner.localhost:" + std::to_string(closed) + "/public.html"));
}

TEST_F(RobotsHttpTest, CacheKeepsAnUnreadableFileForTheRun)
{
    s_server->ClearLog();
    CRobotsCache cache;
    EXPECT_TRUE(IsBlockedByRobots(Url("status503.localhost", "/a.html"), &cache));
    EXPECT_TRUE(IsBlockedByRobots(Url("status503.localhost", "/b.html"), &cache));
    EXPECT_EQ(s_server->CountRequests("/robots.txt", "status503.localhost"), 1u);
}

TEST_F(RobotsHttpTest, CacheFetchesOncePerSite)
{
    s_server->ClearLog();
    CRobotsCache cache;
    EXPECT_TRUE(IsBlockedByRobots(Url("partner.localhost", "/private/a.html"), &cache));
    EXPECT_TRUE(IsBlockedByRobots(Url("partner.localhost", "/private/b.html"), &cache));
    EXPECT_FALSE(IsBlockedByRobots(Url("partner.localhost", "/c.html"), &cache));
    EXPECT_FALSE(IsBlockedByRobots(Url("open.localhost", "/private/a.html"), &cache));
    EXPECT_FALSE(IsBlockedByRobots(Url("open.localhost", "/private/b.html"), &cache));
    EXPECT_EQ(s_server->CountRequests("/robots.txt"), 2u);
    EXPECT_EQ(cache.Size(), 2u);

    // Without a cache every call fetches again.
    s_server->ClearLog();
    IsBlockedByRobots(Url("partner.localhost", "/private/a.html"));
    IsBlockedByRobots(Url("partner.localhost", "/private/b.html"));
    EXPECT_EQ(s_server->CountRequests("/robots.txt"), 2u);
}

} // namespace
