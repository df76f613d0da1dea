// robots.txt rules on arbitrary bytes: the first input line is the page path, the rest are the
// file's lines. Besides crashes and hangs, a one-rule file built from the second line is checked
// against a plain dynamic-programming matcher, so the linear matcher may not drift from "*"/"$".
#include "core/page/Robots.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool ReferenceMatch(std::string_view path, std::string pattern)
{
    const bool anchored = !pattern.empty() && pattern.back() == '$';
    if (anchored)
        pattern.pop_back();
    else
        pattern += '*'; // a rule is a prefix unless anchored
    // prev[j]: the pattern read so far matches the first j characters of the path.
    std::vector<char> prev(path.size() + 1, 0);
    std::vector<char> cur(path.size() + 1, 0);
    prev[0] = 1;
    for (char p : pattern) {
        cur[0] = p == '*' ? prev[0] : 0;
        for (std::size_t j = 1; j <= path.size(); ++j)
            cur[j] = p == '*' ? (prev[j] || cur[j - 1]) : (prev[j - 1] && path[j - 1] == p);
        prev.swap(cur);
    }
    return prev[path.size()] != 0;
}

bool Plain(std::string_view text)
{
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || c == '%' || c == '#' || c == '\r' || c == '\n')
            return false;
    }
    return true;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= input.size()) {
        const std::size_t end = input.find('\n', start);
        lines.emplace_back(input.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    const std::string path = lines.front();
    lines.erase(lines.begin());

    const bool allowed = RobotsAllows(lines, path);
    if (allowed != CRobotsRules::Parse(lines).Allows(path))
        std::abort();
    (void)RobotsAllows(lines, path, "otherbot");

    // The oracle: "User-agent: *" and "Disallow: <second line>" on a plain path.
    if (!lines.empty()) {
        const std::string& pattern = lines.front();
        if (!pattern.empty() && (pattern[0] == '/' || pattern[0] == '*') && !IsBlank(pattern.back()) &&
            Plain(pattern) && Plain(path) && !path.empty() && path[0] == '/' && path != "/robots.txt" &&
            !path.starts_with("/robots.txt?") && pattern.size() * path.size() < 1000000) {
            const bool blocked = !RobotsAllows({"User-agent: *", "Disallow: " + pattern}, path);
            if (blocked != ReferenceMatch(path, pattern))
                std::abort();
        }
    }
    return 0;
}
