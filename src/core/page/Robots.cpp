#include "Robots.h"

#include "core/fetch/Fetch.h"
#include "core/fetch/Url.h"

#include <algorithm>
#include <exception>

// robots.txt is read as RFC 9309 says and as the major search engine's own matcher reads it: a
// partner page that this engine may crawl is what the user paid for, whatever a simpler reading says.

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsUnreserved(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

int HexDigit(char c)
{
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

/// Bytes 0x80 and above become "%XX"; an existing "%xx" naming an unreserved character (letter,
/// digit, "-", ".", "_", "~") becomes that character, any other keeps its escape with upper-case
/// hex digits. Both rule patterns and page paths go through this, so "/ä", "/%c3%a4" and
/// "/%C3%A4" compare equal, and so do "/~joe" and "/%7Ejoe"; "%2F" stays apart from "/".
std::string NormalizePercent(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else if (c == '%' && i + 2 < text.size() && IsHexDigit(text[i + 1]) && IsHexDigit(text[i + 2])) {
            const char decoded = static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            if (IsUnreserved(decoded)) {
                out += decoded;
            } else {
                out += '%';
                out += UpperAscii(text[i + 1]);
                out += UpperAscii(text[i + 2]);
            }
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

/// The product token of a user-agent value as the search engine reads it: the leading run of
/// letters, "-" and "_", so "Googlebot/2.1" is "Googlebot" and "Googlebot-News" stays whole.
std::string_view ProductToken(std::string_view value)
{
    std::size_t n = 0;
    while (n < value.size()) {
        const char c = value[n];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_'))
            break;
        ++n;
    }
    return value.substr(0, n);
}

enum class Key
{
    UserAgent,
    Allow,
    Disallow,
    Other,
};

Key ClassifyKey(std::string_view key)
{
    // The misspellings are the ones the search engine's parser accepts.
    static constexpr std::string_view kUserAgent[] = {"user-agent", "useragent", "user agent"};
    static constexpr std::string_view kDisallow[] = {"disallow", "dissallow", "dissalow",
                                                     "disalow",  "diasllow",  "disallaw"};
    for (std::string_view k : kUserAgent)
        if (EqualsNoCase(key, k))
            return Key::UserAgent;
    for (std::string_view k : kDisallow)
        if (EqualsNoCase(key, k))
            return Key::Disallow;
    if (EqualsNoCase(key, "allow"))
        return Key::Allow;
    return Key::Other;
}

/// Finds `needle` in `hay` from `from` in O(|hay| + |needle|); short needles use the library's
/// search, which is fast and at most a small factor worse.
std::size_t FindLinear(std::string_view hay, std::string_view needle, std::size_t from)
{
    if (needle.size() <= 16)
        return hay.find(needle, from);
    if (from > hay.size() || hay.size() - from < needle.size())
        return std::string_view::npos;
    // Knuth-Morris-Pratt: no byte of the haystack is looked at more than twice.
    std::vector<std::size_t> fail(needle.size(), 0);
    for (std::size_t i = 1, k = 0; i < needle.size(); ++i) {
        while (k > 0 && needle[i] != needle[k])
            k = fail[k - 1];
        if (needle[i] == needle[k])
            ++k;
        fail[i] = k;
    }
    for (std::size_t i = from, k = 0; i < hay.size(); ++i) {
        while (k > 0 && hay[i] != needle[k])
            k = fail[k - 1];
        if (hay[i] == needle[k])
            ++k;
        if (k == needle.size())
            return i + 1 - needle.size();
    }
    return std::string_view::npos;
}

/// Whether `pattern` matches `path` from its start: "*" is any run of characters, a final "$"
/// anchors at the end (a "$" anywhere else is a plain character). With "*" alone as the
/// wildcard, taking the leftmost place for each literal piece in turn never loses a match, so
/// this runs in O(|path| + |pattern|) whatever the pattern holds.
bool PatternMatches(std::string_view path, std::string_view pattern)
{
    const bool anchored = !pattern.empty() && pattern.back() == '$';
    if (anchored)
        pattern.remove_suffix(1);

    std::size_t star = pattern.find('*');
    const std::string_view head = pattern.substr(0, star);
    if (!path.starts_with(head))
        return false;
    if (star == std::string_view::npos)
        return !anchored || path.size() == head.size();

    std::size_t pos = head.size();
    pattern.remove_prefix(star + 1);
    for (;;) {
        star = pattern.find('*');
        if (star == std::string_view::npos) {
            if (anchored)
                return path.size() - pos >= pattern.size() && path.ends_with(pattern);
            return FindLinear(path, pattern, pos) != std::string_view::npos;
        }
        const std::string_view piece = pattern.substr(0, star);
        pattern.remove_prefix(star + 1);
        if (piece.empty())
            continue;
        const std::size_t found = FindLinear(path, piece, pos);
        if (found == std::string_view::npos)
            return false;
        pos = found + piece.size();
    }
}

std::string RobotsTxtUrlFromParts(const CUrlParts& parts)
{
    std::string url;
    int defaultPort = 0;
    switch (parts.service) {
    case ServiceType::Http:
        url = "http://";
        defaultPort = 80;
        break;
    case ServiceType::Https:
        url = "https://";
        defaultPort = 443;
        break;
    default:
        return {}; // robots.txt is an HTTP matter; other schemes have none to honour
    }
    if (parts.host.empty())
        return {};
    const bool bareIpv6 = parts.host.find(':') != std::string::npos && parts.host.front() != '[';
    url += bareIpv6 ? "[" + parts.host + "]" : parts.host;
    if (parts.port > 0 && parts.port != defaultPort) {
        url += ':';
        url += std::to_string(parts.port);
    }
    url += "/robots.txt";
    return url;
}

CRobotsCache::RulesPtr AllowAll()
{
    static const CRobotsCache::RulesPtr allowAll = std::make_shared<const CRobotsRules>();
    return allowAll;
}

CRobotsCache::RulesPtr DisallowAll(std::string reason)
{
    return std::make_shared<const CRobotsRules>(CRobotsRules::DisallowAll(std::move(reason)));
}

/// Fetches and parses one robots.txt. A file that is not there (4xx, or a 3xx answer with nowhere
/// to go) allows everything; one the site could not serve (5xx) or that did not arrive whole (no
/// connection, a cut transfer, endless redirects) leaves the rules unknown, and unknown rules
/// forbid everything.
CRobotsCache::RulesPtr LoadRobotsRules(const std::string& robotsUrl)
{
    std::vector<std::string> lines;
    uint32_t status = 0;
    if (!FetchLines(robotsUrl, lines, status, nullptr, kMaxPageLength))
        return DisallowAll(robotsUrl + " could not be fetched whole, so every page of the site counts as shut out");
    if (status >= 500 && status <= 599)
        return DisallowAll(robotsUrl + " answered HTTP " + std::to_string(status) +
                           ", so every page of the site counts as shut out");
    if (!IsHttpSuccess(status) || lines.empty())
        return AllowAll();
    auto rules = std::make_shared<const CRobotsRules>(CRobotsRules::Parse(lines, "googlebot"));
    return rules->AllowsEverything() ? AllowAll() : rules;
}

} // namespace

CRobotsRules CRobotsRules::Parse(const std::vector<std::string>& lines, std::string_view userAgent)
{
    const std::string_view crawler = ProductToken(TrimBlanks(userAgent));
    std::vector<Rule> specific;
    std::vector<Rule> global;
    bool anySpecificGroup = false;

    // A group is a run of user-agent lines and the rules after it; the next user-agent line after
    // a rule starts a new group. Blank lines, comments and other keys do not end a group.
    bool inAgentRun = false;
    bool groupIsSpecific = false;
    bool groupIsGlobal = false;
    std::string specificAgent; // as the group wrote it
    std::size_t lineNumber = 0;

    auto handleLine = [&](std::string_view line) {
        const std::size_t hash = line.find('#');
        if (hash != std::string_view::npos)
            line = line.substr(0, hash);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return; // no key-value separator: not a line of the protocol
        const Key key = ClassifyKey(TrimBlanks(line.substr(0, colon)));
        const std::string_view value = TrimBlanks(line.substr(colon + 1));
        switch (key) {
        case Key::UserAgent:
            if (!inAgentRun) {
                groupIsSpecific = groupIsGlobal = false;
                inAgentRun = true;
            }
            if (!value.empty() && value[0] == '*' && (value.size() == 1 || IsBlank(value[1]))) {
                groupIsGlobal = true;
            } else {
                const std::string_view token = ProductToken(value);
                if (!token.empty() && EqualsNoCase(token, crawler)) {
                    groupIsSpecific = true;
                    specificAgent = token;
                    anySpecificGroup = true;
                }
            }
            break;
        case Key::Allow:
        case Key::Disallow: {
            inAgentRun = false;
            if (!groupIsSpecific && !groupIsGlobal)
                break;
            // An empty value matches nothing. A value starting with neither "/" nor "*" could
            // never match a path (which starts with "/"), so it is dropped here.
            if (value.empty() || (value[0] != '/' && value[0] != '*'))
                break;
            Rule rule;
            rule.allow = key == Key::Allow;
            rule.pattern = NormalizePercent(value);
            rule.literals = static_cast<std::size_t>(
                std::count_if(rule.pattern.begin(), rule.pattern.end(), [](char c) { return c != '*'; }));
            if (rule.pattern.back() == '$')
                --rule.literals;
            rule.line = lineNumber;
            if (groupIsSpecific) {
                rule.agent = specificAgent;
                specific.push_back(rule);
            }
            if (groupIsGlobal) {
                rule.agent = "*";
                global.push_back(std::move(rule));
            }
            break;
        }
        case Key::Other:
            break; // sitemap, crawl-delay, host and the unknown
        }
    };

    bool first = true;
    for (const std::string& raw : lines) {
        std::string_view text = raw;
        if (first && text.starts_with(kBom))
            text.remove_prefix(kBom.size());
        first = false;
        // The fetcher already split the lines; a stray CR or LF still ends one.
        ++lineNumber;
        while (!text.empty()) {
            const std::size_t end = text.find_first_of("\r\n");
            handleLine(text.substr(0, end));
            if (end == std::string_view::npos)
                break;
            text.remove_prefix(end + 1);
        }
    }

    CRobotsRules result;
    result.m_rules = anySpecificGroup ? std::move(specific) : std::move(global);
    // Longest pattern first and Allow before Disallow of the same length: the first match decides.
    // Rules equal in both keys decide alike, so their order does not matter.
    std::sort(result.m_rules.begin(), result.m_rules.end(), [](const Rule& a, const Rule& b) {
        if (a.pattern.size() != b.pattern.size())
            return a.pattern.size() > b.pattern.size();
        return a.allow && !b.allow;
    });
    return result;
}

CRobotsRules CRobotsRules::DisallowAll(std::string reason)
{
    CRobotsRules rules;
    rules.m_disallowAll = true;
    rules.m_disallowReason = std::move(reason);
    return rules;
}

const CRobotsRules::Rule* CRobotsRules::Deciding(std::string_view pathAndQuery, bool& always) const
{
    always = false;
    std::string path = NormalizePercent(pathAndQuery);
    if (path.empty() || path.front() != '/')
        path.insert(path.begin(), '/');
    if (path == "/robots.txt" || path.starts_with("/robots.txt?")) {
        always = true;
        return nullptr;
    }
    for (const Rule& rule : m_rules) {
        if (rule.literals > path.size())
            continue;
        if (PatternMatches(path, rule.pattern))
            return &rule;
    }
    return nullptr;
}

bool CRobotsRules::Allows(std::string_view pathAndQuery) const
{
    if (m_rules.empty() && !m_disallowAll)
        return true;
    bool always = false;
    const Rule* rule = Deciding(pathAndQuery, always);
    if (always)
        return true;
    if (m_disallowAll)
        return false;
    return !rule || rule->allow;
}

std::string CRobotsRules::Blocker(std::string_view pathAndQuery) const
{
    if (Allows(pathAndQuery))
        return {};
    if (m_disallowAll)
        return m_disallowReason.empty() ? std::string("robots.txt could not be read: every page is shut out")
                                        : m_disallowReason;
    bool always = false;
    const Rule* rule = Deciding(pathAndQuery, always);
    if (!rule)
        return {};
    return "User-agent: " + rule->agent + ", line " + std::to_string(rule->line) + ": Disallow: " + rule->pattern;
}

bool RobotsAllows(const std::vector<std::string>& lines, std::string_view pathAndQuery, std::string_view userAgent)
{
    return CRobotsRules::Parse(lines, userAgent).Allows(pathAndQuery);
}

std::string RobotsTxtUrl(const std::string& pageUrl)
{
    CUrlParts parts;
    if (!SplitUrl(pageUrl, parts))
        return {};
    return RobotsTxtUrlFromParts(parts);
}

CRobotsCache::RulesPtr CRobotsCache::Get(const std::string& robotsUrl, const Loader& load)
{
    std::promise<RulesPtr> promise;
    std::shared_future<RulesPtr> future;
    bool owner = false;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_entries.find(robotsUrl);
        if (it != m_entries.end()) {
            future = it->second;
        } else {
            future = promise.get_future().share();
            m_entries.emplace(robotsUrl, future);
            owner = true;
        }
    }
    if (owner) {
        // The fetch runs outside the lock; other sites' lookups go on meanwhile.
        RulesPtr rules;
        try {
            rules = load ? load(robotsUrl) : LoadRobotsRules(robotsUrl);
        } catch (const std::exception&) {
            rules = nullptr;
        }
        promise.set_value(rules ? rules : AllowAll());
    }
    return future.get();
}

std::size_t CRobotsCache::Size() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

void CRobotsCache::Clear()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
}

bool IsBlockedByRobots(const std::string& pageUrl, CRobotsCache* cache, std::string* why)
{
    try {
        CUrlParts parts;
        if (!SplitUrl(pageUrl, parts))
            return false;
        const std::string robotsUrl = RobotsTxtUrlFromParts(parts);
        if (robotsUrl.empty())
            return false;
        const CRobotsCache::RulesPtr rules = cache ? cache->Get(robotsUrl) : LoadRobotsRules(robotsUrl);
        if (!rules || rules->Allows(parts.object))
            return false;
        if (why)
            *why = rules->Blocker(parts.object);
        return true;
    } catch (const std::exception&) {
        return false; // our own failure (memory), not the site's: it is not held against the link
    }
}
