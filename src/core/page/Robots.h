#pragma once

#include <cstddef>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

/// The robots.txt address of a page: its scheme, host and port with "/robots.txt" (a default port
/// is not written); "" when the page URL cannot be split or is neither http nor https.
std::string RobotsTxtUrl(const std::string& pageUrl);

/// The Allow and Disallow rules of one robots.txt file that apply to one crawler: the groups
/// naming its product token, else the "*" groups, else none (which allows everything). Patterns
/// are stored percent-normalised, longest first.
class CRobotsRules
{
public:
    /// Parses robots.txt `lines` (line ends already removed) for the crawler `userAgent`.
    static CRobotsRules Parse(const std::vector<std::string>& lines, std::string_view userAgent = "googlebot");

    /// The rules of a robots.txt that could not be read (5xx, unreachable): every path but
    /// "/robots.txt" itself is disallowed. `reason` says why, for Blocker.
    static CRobotsRules DisallowAll(std::string reason = {});

    /// Whether the rules let the crawler fetch `pathAndQuery`: the longest matching pattern wins,
    /// Allow wins a tie, no match allows, "/robots.txt" is always allowed. Percent-escapes of
    /// unreserved characters compare equal to the characters ("%7E" is "~").
    bool Allows(std::string_view pathAndQuery) const;

    /// What shuts `pathAndQuery` out, for the user: the group and line of the deciding
    /// Disallow rule ("User-agent: *, line 3: Disallow: /private"), or why the whole site is;
    /// "" when the path is allowed.
    std::string Blocker(std::string_view pathAndQuery) const;

    bool AllowsEverything() const { return m_rules.empty() && !m_disallowAll; }
    std::size_t RuleCount() const { return m_rules.size(); }

private:
    struct Rule
    {
        bool allow = false;
        std::string pattern;      // normalised, as written (for the priority)
        std::size_t literals = 0; // characters other than '*' and a final '$'
        std::size_t line = 0;     // 1-based, in the file
        std::string agent;        // the user-agent the rule's group was taken for
    };
    /// The rule that decides for `pathAndQuery`, null when none does; `always` when the path is
    /// robots.txt itself, which every crawler may read.
    const Rule* Deciding(std::string_view pathAndQuery, bool& always) const;

    std::vector<Rule> m_rules;
    bool m_disallowAll = false;
    std::string m_disallowReason;
};

/// Whether robots.txt `lines` let the crawler `userAgent` (a product token such as "googlebot")
/// fetch `pathAndQuery`, read as the major search engine reads it: the most specific matching
/// group (else "*"), "*" and "$" patterns, the longest match wins, Allow wins a tie.
bool RobotsAllows(const std::vector<std::string>& lines, std::string_view pathAndQuery,
                  std::string_view userAgent = "googlebot");

/// The parsed robots.txt rules of each site within one run, keyed by the robots.txt URL, so a
/// file is fetched once per scheme, host and port. Safe to share between threads: the first
/// caller for a URL fetches it, later callers for the same URL wait for that outcome.
class CRobotsCache
{
public:
    using RulesPtr = std::shared_ptr<const CRobotsRules>;
    using Loader = std::function<RulesPtr(const std::string& robotsUrl)>;

    /// The rules for `robotsUrl`, made with `load` (default: fetch and parse for "googlebot")
    /// on the first request, and kept for the run whatever they are. A loader that returns nothing
    /// or throws counts as "allow all"; the default loader itself answers "disallow all" for a
    /// file the site could not serve (5xx) or that could not be fetched whole.
    RulesPtr Get(const std::string& robotsUrl, const Loader& load = {});

    std::size_t Size() const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::shared_future<RulesPtr>> m_entries;
};

/// Fetches the page's robots.txt (through `cache` when given) and asks the rules for the page.
/// A missing file (4xx) or an empty one blocks nothing; a file answering 5xx, or one that cannot
/// be fetched whole (no connection, a cut transfer, a refused redirect), blocks every page.
/// `why`, when given and the page is blocked, gets CRobotsRules::Blocker's explanation.
bool IsBlockedByRobots(const std::string& pageUrl, CRobotsCache* cache = nullptr, std::string* why = nullptr);
