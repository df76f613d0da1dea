#pragma once

#include <string>
#include <string_view>

enum class ServiceType
{
    Http,
    Https,
    Ftp,
    File,
    Gopher,
    News,
    Mailto,
    Other,
};

/// A URL taken apart: the object is the path with its query ("/" for an empty path); the port
/// is the scheme's default when the URL names none.
struct CUrlParts
{
    ServiceType service = ServiceType::Other;
    std::string host;
    std::string object;
    int port = 0;
};

/// "http://" in front of an address with neither "http://" nor "https://" (any case), "/" after
/// an address with no slash at all, a host written in Unicode turned into punycode, then
/// EscapeHighBytes.
std::string NormalizeUrl(std::string_view url);

/// Each byte 0x80 and above becomes "%" and two upper-case hex digits.
std::string EscapeHighBytes(std::string_view text);

/// False for an empty or relative URL and for anything the URL parser refuses. Dot segments are
/// resolved and spaces percent-encoded; the query is kept as written, the fragment dropped.
bool SplitUrl(std::string_view url, CUrlParts& parts);

/// Reads a href the way browsers and crawlers do (the WHATWG URL standard), without resolving it
/// against the page's path: leading and trailing C0 controls and blanks are trimmed and tabs and
/// line feeds inside dropped; in http and https "\" is "/", the host is what follows the last
/// "@" of the authority, percent-decoded, lower-cased, in punycode, with IPv4 and IPv6 numbers in
/// their canonical form; the port is the scheme's default when none is named; dot segments are
/// resolved, path and query percent-encoded and the fragment dropped. A protocol-relative href
/// ("//host/x") takes the scheme of `page` when that is http or https. Hrefs of other schemes go
/// through SplitUrl. False for a relative href (a path, query or fragment on the page's site)
/// and for anything the standard refuses; `out` is then unspecified.
bool ParseHref(const CUrlParts* page, std::string_view href, CUrlParts& out);

/// The href without the leading and trailing C0 controls and blanks a browser ignores.
std::string_view TrimHref(std::string_view href);

/// A host turned into the ASCII form names are looked up and compared in: labels written in
/// Unicode become punycode (IDNA, non-transitional), ASCII is lower-cased. False when a label is
/// no valid international name.
bool HostToAscii(std::string_view host, std::string& out);

/// Replaces `key` with one text per distinct address of a parse: scheme, host, port and object,
/// lower-cased, so that hrefs a browser reads as the same address give the same key.
void UrlKey(const CUrlParts& parts, std::string& key);
