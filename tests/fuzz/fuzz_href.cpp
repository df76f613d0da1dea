// Any bytes as a href: the reader must neither crash nor hang, and what it gives back must be an
// address a browser would read the same way again. The first byte picks the page the href stands
// on (http, https, none). A parse of an http(s) href is written out as "scheme://host:port/object"
// and read again: the second reading must give the same parts and the same key, so no spelling
// survives the first reading that a second one would still change (a host not yet lower-cased or
// in punycode, a dot segment, a blank left in the path).
#include "core/fetch/Url.h"
#include "core/page/LinkCheck.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

CUrlParts PageParts(const char* url)
{
    CUrlParts parts;
    if (!ParseHref(nullptr, url, parts))
        std::abort();
    return parts;
}

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckWebParts(const CUrlParts& parts)
{
    Require(!parts.host.empty());
    Require(parts.port >= 0 && parts.port <= 65535);
    for (const char c : parts.host) {
        const auto b = static_cast<unsigned char>(c);
        Require(b > 0x20 && b < 0x7F && !(c >= 'A' && c <= 'Z'));
        Require(c != '/' && c != '\\' && c != '?' && c != '#' && c != '@' && c != '%');
    }
    Require(!parts.object.empty() && parts.object[0] == '/');
    for (const char c : parts.object) {
        const auto b = static_cast<unsigned char>(c);
        Require(b > 0x20 && b < 0x7F && c != '#');
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const CUrlParts kHttpPage = PageParts("http://partner.example/links.html");
    static const CUrlParts kHttpsPage = PageParts("https://partner.example/links.html");
    const CUrlParts* page = nullptr;
    if (size >= 1) {
        page = data[0] % 3 == 0 ? &kHttpPage : data[0] % 3 == 1 ? &kHttpsPage : nullptr;
        ++data;
        --size;
    }
    const std::string href(reinterpret_cast<const char*>(data), size);

    CUrlParts parts;
    if (ParseHref(page, href, parts) && (parts.service == ServiceType::Http || parts.service == ServiceType::Https)) {
        CheckWebParts(parts);
        const std::string written = std::string(parts.service == ServiceType::Http ? "http://" : "https://") +
                                    parts.host + ":" + std::to_string(parts.port) + parts.object;
        CUrlParts again;
        Require(ParseHref(nullptr, written, again));
        Require(again.service == parts.service && again.host == parts.host && again.port == parts.port &&
                again.object == parts.object);
        std::string key;
        std::string keyAgain;
        UrlKey(parts, key);
        UrlKey(again, keyAgain);
        Require(key == keyAgain);
        Require(UrlsMatch(written, written, false));
    }

    std::string ascii;
    if (HostToAscii(href, ascii)) {
        for (const char c : ascii)
            Require(static_cast<unsigned char>(c) < 0x80);
    }
    const std::string normalized = NormalizeUrl(href);
    for (const char c : normalized)
        Require(static_cast<unsigned char>(c) < 0x80);
    IsInternalLink("http://partner.example/links.html", href);
    return 0;
}
