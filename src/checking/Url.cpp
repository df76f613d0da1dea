#include "Url.h"

#include <curl/curl.h>

#include <cctype>
#include <cstdlib>
#include <memory>

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    return true;
}

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
    if (!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://"))
        copy = "http://";
    copy += url;
    if (url.find('/') == std::string_view::npos)
        copy += '/';
    return EscapeHighBytes(copy);
}

bool SplitUrl(std::string_view url, CUrlParts& parts)
{
    if (url.empty())
        return false;

    // "mailto:" has no authority, which the URL API refuses; the platform's splitter knows it.
    if (StartsWithNoCase(url, "mailto:")) {
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
    if (head.find("://") == std::string::npos && !StartsWithNoCase(head, "file:"))
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
