#include "Url.h"
#include "core/records/TextUtil.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>

namespace {

ServiceType ServiceOf(std::string_view scheme)
{
    if (scheme == "http")
        return ServiceType::Http;
    if (scheme == "https")
        return ServiceType::Https;
    if (scheme == "ftp")
        return ServiceType::Ftp;
    if (scheme == "file")
        return ServiceType::File;
    if (scheme == "gopher")
        return ServiceType::Gopher;
    if (scheme == "news")
        return ServiceType::News;
    if (scheme == "mailto")
        return ServiceType::Mailto;
    return ServiceType::Other;
}

/// Defaults for the schemes the URL API does not know itself.
int DefaultPort(ServiceType service)
{
    switch (service) {
    case ServiceType::Http:
        return 80;
    case ServiceType::Https:
        return 443;
    case ServiceType::Ftp:
        return 21;
    case ServiceType::Gopher:
        return 70;
    case ServiceType::News:
        return 119;
    default:
        return 0;
    }
}

struct CurlUrlDeleter
{
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};

struct CurlFree
{
    void operator()(char* text) const { curl_free(text); }
};
using CurlString = std::unique_ptr<char, CurlFree>;

CurlString GetPart(CURLU* handle, CURLUPart part, unsigned flags = 0)
{
    char* text = nullptr;
    if (curl_url_get(handle, part, &text, flags) != CURLUE_OK)
        return nullptr;
    return CurlString(text);
}

// ---- Href reading ---------------------------------------------------------------------------

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsAsciiAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
}

bool IsSlash(char c)
{
    return c == '/' || c == '\\';
}

// The first byte from `from` on that `pred` accepts, or npos. Hrefs are read by the thousand per
// page, and find_first_of costs a library call per byte.
template <typename Pred> std::size_t FindIf(std::string_view text, Pred pred, std::size_t from = 0)
{
    for (std::size_t i = from; i < text.size(); ++i) {
        if (pred(text[i]))
            return i;
    }
    return std::string_view::npos;
}

bool EndsAuthority(char c)
{
    return c == '/' || c == '\\' || c == '?' || c == '#';
}

bool IsTabOrNewline(char c)
{
    return c == '\t' || c == '\n' || c == '\r';
}

void AppendEscaped(std::string& out, unsigned char b)
{
    out += '%';
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 15];
}

// The bytes browsers percent-encode in a path and in the query of an http(s) address.
bool EscapedInPath(unsigned char b)
{
    return b <= 0x20 || b >= 0x7F || b == '"' || b == '#' || b == '<' || b == '>' || b == '?' || b == '`' || b == '{' ||
           b == '}';
}

bool EscapedInQuery(unsigned char b)
{
    return b <= 0x20 || b >= 0x7F || b == '"' || b == '#' || b == '<' || b == '>' || b == '\'';
}

// Runs that need no escape go in whole: most paths and queries are nothing but such a run.
void AppendEscapedWhere(std::string& out, std::string_view text, bool (*escaped)(unsigned char))
{
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (escaped(b)) {
            out.append(text.data() + run, i - run);
            AppendEscaped(out, b);
            run = i + 1;
        }
    }
    out.append(text.data() + run, text.size() - run);
}

bool ForbiddenInDomain(unsigned char b)
{
    switch (b) {
    case '#':
    case '%':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '@':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '|':
    case 0x7F:
        return true;
    default:
        return b <= 0x20;
    }
}

// 1 for ".", 2 for "..", also with the dots percent-encoded; 0 for any other segment.
int DotSegment(std::string_view segment)
{
    int dots = 0;
    std::size_t i = 0;
    while (i < segment.size()) {
        if (segment[i] == '.') {
            ++i;
        } else if (segment.size() - i >= 3 && EqualsIgnoringCase(segment.substr(i, 3), "%2e")) {
            i += 3;
        } else {
            return 0;
        }
        if (++dots > 2)
            return 0;
    }
    return dots;
}

// ---- IPv4 and IPv6 hosts

bool ParseIpv4Number(std::string_view text, uint64_t& value)
{
    if (text.empty())
        return false;
    unsigned radix = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        radix = 16;
    } else if (text.size() >= 2 && text[0] == '0') {
        text.remove_prefix(1);
        radix = 8;
    }
    value = 0;
    for (const char c : text) {
        const int digit = HexValue(c);
        if (digit < 0 || static_cast<unsigned>(digit) >= radix)
            return false;
        // Anything past 2^32 is refused later; stopping here keeps long digit runs from wrapping.
        if (value <= (uint64_t{1} << 40))
            value = value * radix + static_cast<unsigned>(digit);
    }
    return true;
}

// Splits on "." without the one empty label a trailing dot leaves.
int Ipv4Parts(std::string_view host, std::string_view (&parts)[5])
{
    if (!host.empty() && host.back() == '.' && host.size() > 1)
        host.remove_suffix(1);
    int count = 0;
    while (true) {
        const std::size_t dot = host.find('.');
        if (count == 5)
            return 6; // too many in any case
        parts[count++] = host.substr(0, dot);
        if (dot == std::string_view::npos)
            return count;
        host.remove_prefix(dot + 1);
    }
}

// The host is an IPv4 address (or an invalid one) when its last label is a number.
bool EndsInNumber(std::string_view host)
{
    if (!host.empty() && host.back() == '.' && host.size() > 1)
        host.remove_suffix(1);
    const std::size_t dot = host.rfind('.');
    const std::string_view last = dot == std::string_view::npos ? host : host.substr(dot + 1);
    if (last.empty())
        return false;
    bool digits = true;
    for (const char c : last)
        digits = digits && IsAsciiDigit(c);
    if (digits)
        return true;
    if (last.size() < 2 || last[0] != '0' || (last[1] != 'x' && last[1] != 'X'))
        return false;
    for (const char c : last.substr(2)) {
        if (HexValue(c) < 0)
            return false;
    }
    return true;
}

// "0x7f.1" and "2130706433" are 127.0.0.1 to a browser.
bool ParseIpv4(std::string_view host, std::string& out)
{
    std::string_view parts[5];
    const int count = Ipv4Parts(host, parts);
    if (count > 4)
        return false;
    uint64_t numbers[4] = {};
    for (int i = 0; i < count; ++i) {
        if (!ParseIpv4Number(parts[i], numbers[i]))
            return false;
    }
    for (int i = 0; i + 1 < count; ++i) {
        if (numbers[i] > 255)
            return false;
    }
    if (numbers[count - 1] >= (uint64_t{1} << (8 * (5 - count))))
        return false;
    uint64_t address = numbers[count - 1];
    for (int i = 0; i + 1 < count; ++i)
        address += numbers[i] << (8 * (3 - i));
    out.clear();
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += std::to_string((address >> shift) & 255);
        if (shift)
            out += '.';
    }
    return true;
}

bool ParseIpv6(std::string_view in, uint16_t (&address)[8])
{
    for (uint16_t& piece : address)
        piece = 0;
    int pieceIndex = 0;
    int compress = -1;
    std::size_t p = 0;
    const auto at = [&](std::size_t i) { return i < in.size() ? in[i] : '\0'; };
    if (at(p) == ':') {
        if (at(p + 1) != ':')
            return false;
        p += 2;
        compress = ++pieceIndex;
    }
    while (p < in.size()) {
        if (pieceIndex == 8)
            return false;
        if (in[p] == ':') {
            if (compress != -1)
                return false;
            ++p;
            compress = ++pieceIndex;
            continue;
        }
        unsigned value = 0;
        int length = 0;
        while (length < 4 && HexValue(at(p)) >= 0) {
            value = value * 16 + static_cast<unsigned>(HexValue(at(p)));
            ++p;
            ++length;
        }
        if (at(p) == '.') {
            // An IPv4 address in the last 32 bits.
            if (length == 0 || pieceIndex > 6)
                return false;
            p -= static_cast<std::size_t>(length);
            int numbersSeen = 0;
            while (p < in.size()) {
                if (numbersSeen > 0) {
                    if (in[p] != '.' || numbersSeen >= 4)
                        return false;
                    ++p;
                }
                if (!IsAsciiDigit(at(p)))
                    return false;
                int piece = -1;
                while (IsAsciiDigit(at(p))) {
                    const int number = at(p) - '0';
                    if (piece == -1)
                        piece = number;
                    else if (piece == 0)
                        return false;
                    else
                        piece = piece * 10 + number;
                    if (piece > 255)
                        return false;
                    ++p;
                }
                address[pieceIndex] = static_cast<uint16_t>(address[pieceIndex] * 0x100 + piece);
                ++numbersSeen;
                if (numbersSeen == 2 || numbersSeen == 4)
                    ++pieceIndex;
            }
            if (numbersSeen != 4)
                return false;
            break;
        }
        if (at(p) == ':') {
            ++p;
            if (p >= in.size())
                return false;
        } else if (p < in.size()) {
            return false;
        }
        address[pieceIndex++] = static_cast<uint16_t>(value);
    }
    if (compress != -1) {
        int swaps = pieceIndex - compress;
        pieceIndex = 7;
        while (pieceIndex != 0 && swaps > 0) {
            std::swap(address[pieceIndex], address[compress + swaps - 1]);
            --pieceIndex;
            --swaps;
        }
    } else if (pieceIndex != 8) {
        return false;
    }
    return true;
}

// Lower-case hex, the first longest run of two or more zero pieces written as "::".
void SerializeIpv6(const uint16_t (&address)[8], std::string& out)
{
    int compress = -1;
    int bestLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && address[j] == 0)
            ++j;
        if (j - i > bestLength) {
            bestLength = j - i;
            compress = i;
        }
        i = j == i ? i + 1 : j;
    }
    static constexpr char kLowerHex[] = "0123456789abcdef";
    out = "[";
    for (int i = 0; i < 8; ++i) {
        if (i == compress) {
            out += i == 0 ? "::" : ":";
            i += bestLength - 1;
            continue;
        }
        const unsigned piece = address[i];
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (piece >> shift) & 15;
            if (digit || started || shift == 0) {
                out += kLowerHex[digit];
                started = true;
            }
        }
        if (i != 7)
            out += ':';
    }
    out += ']';
}

// The host of an http(s) address as a browser keeps it; false where the browser gives up.
bool ParseWebHost(std::string_view input, std::string& host)
{
    if (input.empty())
        return false;
    if (input.front() == '[') {
        uint16_t address[8];
        if (input.size() < 2 || input.back() != ']' || !ParseIpv6(input.substr(1, input.size() - 2), address))
            return false;
        SerializeIpv6(address, host);
        return true;
    }
    host.assign(input);
    if (host.find('%') != std::string::npos) {
        std::size_t to = 0;
        for (std::size_t i = 0; i < host.size(); ++i, ++to) {
            char c = host[i];
            if (c == '%' && i + 2 < host.size() && HexValue(host[i + 1]) >= 0 && HexValue(host[i + 2]) >= 0) {
                c = static_cast<char>(HexValue(host[i + 1]) * 16 + HexValue(host[i + 2]));
                i += 2;
            }
            host[to] = c;
        }
        host.resize(to);
    }
    bool plain = true; // ASCII without a punycode label: lower-casing is all IDNA would do
    for (char& c : host) {
        plain = plain && static_cast<unsigned char>(c) < 0x80;
        c = AsciiLower(c);
    }
    if (plain) {
        for (std::size_t label = 0; label != std::string::npos && plain;) {
            plain = host.compare(label, 4, "xn--") != 0;
            label = host.find('.', label);
            if (label != std::string::npos)
                ++label;
        }
    }
    if (!plain) {
        std::string ascii;
        if (!HostToAscii(host, ascii))
            return false;
        host.swap(ascii);
    }
    if (host.empty())
        return false;
    for (const char c : host) {
        if (ForbiddenInDomain(static_cast<unsigned char>(c)))
            return false;
    }
    if (EndsInNumber(host)) {
        std::string address;
        if (!ParseIpv4(host, address))
            return false;
        host.swap(address);
    }
    return true;
}

// Path segments on "/" or "\", dot segments resolved, unsafe bytes escaped; "/" when empty.
void AppendWebPath(std::string_view path, std::string& object)
{
    const std::size_t start = object.size();
    if (!path.empty()) {
        path.remove_prefix(1); // the slash that ended the authority
        while (true) {
            std::size_t end = 0;
            while (end < path.size() && !IsSlash(path[end]))
                ++end;
            const std::string_view segment = path.substr(0, end);
            const bool last = end == path.size();
            const int dots = DotSegment(segment);
            if (dots == 2) {
                if (object.size() > start)
                    object.resize(object.rfind('/'));
                if (last)
                    object += '/';
            } else if (dots == 1) {
                if (last)
                    object += '/';
            } else {
                object += '/';
                AppendEscapedWhere(object, segment, EscapedInPath);
            }
            if (last)
                break;
            path.remove_prefix(end + 1);
        }
    }
    if (object.size() == start)
        object += '/';
}

// The part after "http:" or "https:" and the slashes that follow it.
bool ParseWebAddress(ServiceType service, std::string_view rest, CUrlParts& out)
{
    const std::size_t end = FindIf(rest, EndsAuthority);
    const std::string_view authority = rest.substr(0, end);
    // Whatever stands before the last "@" is a user name and password, never the host.
    const std::size_t at = authority.rfind('@');
    const std::string_view hostPort = at == std::string_view::npos ? authority : authority.substr(at + 1);

    std::size_t colon = std::string_view::npos;
    bool inBrackets = false;
    for (std::size_t i = 0; i < hostPort.size(); ++i) {
        if (hostPort[i] == '[') {
            inBrackets = true;
        } else if (hostPort[i] == ']') {
            inBrackets = false;
        } else if (hostPort[i] == ':' && !inBrackets) {
            colon = i;
            break;
        }
    }
    int port = DefaultPort(service);
    if (colon != std::string_view::npos && colon + 1 < hostPort.size()) {
        uint32_t value = 0;
        for (const char c : hostPort.substr(colon + 1)) {
            if (!IsAsciiDigit(c))
                return false;
            value = value * 10 + static_cast<uint32_t>(c - '0');
            if (value > 65535)
                return false;
        }
        port = static_cast<int>(value);
    }
    if (!ParseWebHost(hostPort.substr(0, colon), out.host))
        return false;
    out.service = service;
    out.port = port;

    const std::string_view tail = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    const std::size_t mark = FindIf(tail, [](char c) { return c == '?' || c == '#'; });
    out.object.clear();
    AppendWebPath(tail.substr(0, mark), out.object);
    if (mark != std::string_view::npos && tail[mark] == '?') {
        std::string_view query = tail.substr(mark + 1);
        query = query.substr(0, query.find('#'));
        out.object += '?';
        AppendEscapedWhere(out.object, query, EscapedInQuery);
    }
    return true;
}

bool IsWeb(ServiceType service)
{
    return service == ServiceType::Http || service == ServiceType::Https;
}

std::string_view SchemeName(ServiceType service)
{
    switch (service) {
    case ServiceType::Http:
        return "http";
    case ServiceType::Https:
        return "https";
    case ServiceType::Ftp:
        return "ftp";
    case ServiceType::File:
        return "file";
    case ServiceType::Gopher:
        return "gopher";
    case ServiceType::News:
        return "news";
    case ServiceType::Mailto:
        return "mailto";
    default:
        return "other";
    }
}

} // namespace

std::string EscapeHighBytes(std::string_view text)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80) {
            out += '%';
            out += kDigits[b >> 4];
            out += kDigits[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string NormalizeUrl(std::string_view url)
{
    std::string copy;
    copy.reserve(url.size() + 8);
    // Platform deviation 1: an https address keeps its scheme; only an address with neither
    // scheme gets "http://" in front.
    if (!StartsWithIgnoringCase(url, "http://") && !StartsWithIgnoringCase(url, "https://"))
        copy = "http://";
    copy += url;
    if (url.find('/') == std::string_view::npos)
        copy += '/';

    // A host written in Unicode is asked for by its punycode name; escaping its bytes like a
    // path's would name no host at all.
    const std::size_t hostStart = copy.find("://") + 3;
    const std::size_t authorityEnd = std::min(copy.find_first_of("/\\?#", hostStart), copy.size());
    std::size_t hostBegin = copy.rfind('@', authorityEnd);
    hostBegin = hostBegin == std::string::npos || hostBegin < hostStart ? hostStart : hostBegin + 1;
    const std::size_t hostEnd = std::min(copy.find(':', hostBegin), authorityEnd);
    const std::string_view host = std::string_view(copy).substr(hostBegin, hostEnd - hostBegin);
    bool unicode = false;
    for (const char c : host)
        unicode = unicode || static_cast<unsigned char>(c) >= 0x80;
    std::string ascii;
    if (unicode && HostToAscii(host, ascii))
        copy.replace(hostBegin, hostEnd - hostBegin, ascii);
    return EscapeHighBytes(copy);
}

bool SplitUrl(std::string_view url, CUrlParts& parts)
{
    if (url.empty())
        return false;

    // "mailto:" has no authority, which the URL API refuses; the platform's splitter knows it.
    if (StartsWithIgnoringCase(url, "mailto:")) {
        parts.service = ServiceType::Mailto;
        parts.host.clear();
        parts.object = std::string(url.substr(7));
        parts.port = 0;
        return true;
    }

    // The query is kept exactly as written and the fragment dropped, so only the part before
    // them goes through the parser (which would otherwise re-encode the query).
    const std::size_t cut = url.find_first_of("?#");
    std::string_view query;
    if (cut != std::string_view::npos && url[cut] == '?') {
        query = url.substr(cut);
        const std::size_t hash = query.find('#');
        if (hash != std::string_view::npos)
            query = query.substr(0, hash);
    }
    const std::string head(url.substr(0, cut));
    if (head.find("://") == std::string::npos && !StartsWithIgnoringCase(head, "file:"))
        return false; // relative: a bare name, "/path", "#frag", "?query", "host/path"

    std::unique_ptr<CURLU, CurlUrlDeleter> handle(curl_url());
    if (!handle)
        return false;
    if (curl_url_set(handle.get(), CURLUPART_URL, head.c_str(),
                     CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE | CURLU_URLENCODE) != CURLUE_OK)
        return false;

    const CurlString scheme = GetPart(handle.get(), CURLUPART_SCHEME);
    const CurlString host = GetPart(handle.get(), CURLUPART_HOST);
    const CurlString path = GetPart(handle.get(), CURLUPART_PATH);
    const CurlString port = GetPart(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!scheme)
        return false;

    parts.service = ServiceOf(scheme.get());
    parts.host = host ? host.get() : "";
    parts.object = path && *path ? path.get() : "/";
    parts.object += query;
    parts.port = port ? std::atoi(port.get()) : DefaultPort(parts.service);
    return true;
}

std::string_view TrimHref(std::string_view href)
{
    while (!href.empty() && static_cast<unsigned char>(href.front()) <= 0x20)
        href.remove_prefix(1);
    while (!href.empty() && static_cast<unsigned char>(href.back()) <= 0x20)
        href.remove_suffix(1);
    return href;
}

bool ParseHref(const CUrlParts* page, std::string_view href, CUrlParts& out)
{
    std::string_view input = TrimHref(href);
    std::string cleaned;
    if (FindIf(input, IsTabOrNewline) != std::string_view::npos) {
        cleaned.reserve(input.size());
        for (const char c : input) {
            if (!IsTabOrNewline(c))
                cleaned += c;
        }
        input = cleaned;
    }

    std::size_t schemeEnd = 0;
    if (!input.empty() && IsAsciiAlpha(input[0])) {
        schemeEnd = 1;
        while (schemeEnd < input.size() &&
               (IsAsciiAlpha(input[schemeEnd]) || IsAsciiDigit(input[schemeEnd]) || input[schemeEnd] == '+' ||
                input[schemeEnd] == '-' || input[schemeEnd] == '.'))
            ++schemeEnd;
        if (schemeEnd == input.size() || input[schemeEnd] != ':')
            schemeEnd = 0;
    }

    ServiceType service;
    std::string_view rest;
    if (schemeEnd > 0) {
        const std::string_view scheme = input.substr(0, schemeEnd);
        rest = input.substr(schemeEnd + 1);
        if (EqualsIgnoringCase(scheme, "http")) {
            service = ServiceType::Http;
        } else if (EqualsIgnoringCase(scheme, "https")) {
            service = ServiceType::Https;
        } else {
            // Only addresses with an authority name another site; "javascript:" and the like
            // stay on the page.
            if (!rest.starts_with("//") && !EqualsIgnoringCase(scheme, "file"))
                return false;
            return SplitUrl(input, out);
        }
        std::size_t slashes = 0;
        while (slashes < rest.size() && IsSlash(rest[slashes]))
            ++slashes;
        // "http:page.html" on an http page is a path on that page's site.
        if (page && page->service == service && slashes < 2)
            return false;
        rest.remove_prefix(slashes);
    } else {
        // "//host/x" (with either slash) takes the page's scheme; any other relative href stays
        // on the page's site.
        if (!page || !IsWeb(page->service) || input.size() < 2 || !IsSlash(input[0]) || !IsSlash(input[1]))
            return false;
        service = page->service;
        rest = input;
        while (!rest.empty() && IsSlash(rest.front()))
            rest.remove_prefix(1);
    }
    return ParseWebAddress(service, rest, out);
}

void UrlKey(const CUrlParts& parts, std::string& key)
{
    key.assign(SchemeName(parts.service));
    key += "://";
    key += parts.host;
    key += ':';
    key += std::to_string(parts.port);
    key += parts.object;
    for (char& c : key)
        c = AsciiLower(c);
}
