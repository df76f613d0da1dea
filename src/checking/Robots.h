#pragma once

#include <string>
#include <string_view>
#include <vector>

/// The robots.txt address of a page: its scheme, host and port with "/robots.txt"; "" when the
/// page URL cannot be split.
std::string RobotsTxtUrl(const std::string& pageUrl);

/// Whether robots.txt `lines` let the crawler `userAgent` (a product token such as "googlebot")
/// fetch `pathAndQuery`, read as the major search engine reads it: the most specific matching
/// group (else "*"), "*" and "$" patterns, the longest match wins, Allow wins a tie.
bool RobotsAllows(const std::vector<std::string>& lines, std::string_view pathAndQuery,
                  std::string_view userAgent = "googlebot");

/// Fetches the page's robots.txt and asks RobotsAllows for the page. A missing, unreachable or
/// unreadable file blocks nothing.
bool IsBlockedByRobots(const std::string& pageUrl);
