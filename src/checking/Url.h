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
/// an address with no slash at all, then EscapeHighBytes.
std::string NormalizeUrl(std::string_view url);

/// Each byte 0x80 and above becomes "%" and two upper-case hex digits.
std::string EscapeHighBytes(std::string_view text);

/// False for an empty or relative URL and for anything the URL parser refuses. Dot segments are
/// resolved and spaces percent-encoded; the query is kept as written, the fragment dropped.
bool SplitUrl(std::string_view url, CUrlParts& parts);
