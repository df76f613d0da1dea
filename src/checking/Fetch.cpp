#include "Fetch.h"

#include "CheckSettings.h"
#include "Url.h"
#include "platform/TextEncoding.h"
#include "storage/SafeFile.h"

#include <curl/curl.h>
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <mutex>

/// One libcurl easy handle per thread, configured afresh for every fetch. curl_easy_reset keeps
/// the handle's connection, DNS and TLS session caches, so consecutive fetches of one thread reuse
/// kept-alive connections while each fetch still starts from the current settings.
class CInternetClient
{
public:
    CInternetClient() = default;
    ~CInternetClient()
    {
        if (m_handle)
            curl_easy_cleanup(m_handle);
    }
    CInternetClient(const CInternetClient&) = delete;
    CInternetClient& operator=(const CInternetClient&) = delete;

    /// Resets and configures the handle; false when the settings allow no client.
    bool Configure(const CheckSettings& settings);
    CURL* Handle() const { return m_handle; }

private:
    CURL* m_handle = nullptr;
    std::string m_proxy; // kept alive while the handle may read it
};

namespace {

/// A line that never ends is cut after this many bytes beyond the caller's limit, so a body
/// without line feeds cannot grow without bound until the time-out.
constexpr std::size_t kLongLineSlack = 1024 * 1024;

std::once_flag g_globalInit;

void EnsureGlobalInit()
{
    std::call_once(g_globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// ---------------------------------------------------------------------------------------------
// Headers and status of the final response

struct HeaderSink
{
    std::string raw;

    static size_t Callback(char* data, size_t size, size_t count, void* user)
    {
        auto* self = static_cast<HeaderSink*>(user);
        const size_t n = size * count;
        try {
            std::string_view line(data, n);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.remove_suffix(1);
            // A new status line starts the headers of the next response (after a redirect or
            // an interim 1xx answer); only the final response's headers are kept.
            if (line.size() >= 5 && line.substr(0, 5) == "HTTP/")
                self->raw.clear();
            if (!line.empty()) {
                self->raw += line;
                self->raw += "\r\n";
            }
        } catch (...) {
            return 0;
        }
        return n;
    }
};

// ---------------------------------------------------------------------------------------------
// Line splitting: lines end at LF, every CR is dropped.

class LineReader
{
public:
    /// Feeds body bytes; `onLine(line)` returns false to stop. Returns false once stopped.
    template <typename OnLine> bool Feed(const char* data, std::size_t size, std::size_t cutAt, OnLine&& onLine)
    {
        const char* p = data;
        const char* end = data + size;
        while (p < end) {
            const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            const char* segmentEnd = lf ? lf : end;
            AppendWithoutCr(p, segmentEnd);
            if (lf) {
                if (!onLine(m_partial))
                    return false;
                m_partial.clear();
                p = lf + 1;
            } else {
                p = end;
            }
            if (m_partial.size() > cutAt) {
                // A line without end: take what came as the last line and stop.
                onLine(m_partial);
                m_partial.clear();
                return false;
            }
        }
        return true;
    }

    /// The last line when the body did not end with LF.
    template <typename OnLine> void Finish(OnLine&& onLine)
    {
        if (!m_partial.empty())
            onLine(m_partial);
        m_partial.clear();
    }

private:
    void AppendWithoutCr(const char* from, const char* to)
    {
        while (from < to) {
            const char* cr = static_cast<const char*>(std::memchr(from, '\r', static_cast<std::size_t>(to - from)));
            const char* stop = cr ? cr : to;
            m_partial.append(from, stop);
            from = cr ? cr + 1 : to;
        }
    }

    std::string m_partial;
};

// ---------------------------------------------------------------------------------------------
// Character sets

/// Valid UTF-8 as it is; every invalid sequence becomes U+FFFD.
std::string SanitizeUtf8(const std::string& line)
{
    if (TextEncoding::IsValidUtf8(line))
        return line;
    return TextEncoding::Utf16ToUtf8(TextEncoding::Utf8ToUtf16(line));
}

bool IsCharsetNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':';
}

/// The name after "charset=" at `pos` of lower-case `text`, quotes (and, in the line, blanks)
/// before it skipped; it ends at the first character that cannot be part of a name.
std::string NameAt(const std::string& text, std::size_t pos)
{
    while (pos < text.size() && (text[pos] == '"' || text[pos] == '\'' || text[pos] == ' '))
        ++pos;
    std::string name;
    while (pos < text.size() && name.size() < 40 && IsCharsetNameChar(text[pos]))
        name += text[pos++];
    return name;
}

/// The charset a meta line names: the name after "charset=" taken from the probe (lower case, no
/// spaces), quotes removed. When the line itself has "charset" "=" with only blanks between, the
/// name is read there instead, so that a blank ends it ("charset=koi8-r for" names koi8-r, where
/// the probe would run on into "koi8-rfor").
std::string CharsetName(const std::string& line, const std::string& probe)
{
    std::string lower = line;
    for (char& c : lower)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (std::size_t at = lower.find("charset"); at != std::string::npos; at = lower.find("charset", at + 1)) {
        std::size_t i = at + 7;
        while (i < lower.size() && lower[i] == ' ')
            ++i;
        if (i < lower.size() && lower[i] == '=') {
            std::string name = NameAt(lower, i + 1);
            if (!name.empty())
                return name;
        }
    }
    const std::size_t at = probe.find("charset=");
    return at == std::string::npos ? std::string() : NameAt(probe, at + 8);
}

/// A converter from one charset to UTF-8, opened when a meta line names that charset.
class CharsetConverter
{
public:
    ~CharsetConverter() { Close(); }

    void Select(const std::string& charset)
    {
        if (m_cd != kNone && charset == m_name)
            return;
        Close();
        m_name = charset;
        if (!charset.empty())
            m_cd = iconv_open("UTF-8", charset.c_str());
        if (m_cd == kNone)
            m_cd = iconv_open("UTF-8", "WINDOWS-1252"); // an unknown name
    }

    std::string Convert(const std::string& line)
    {
        if (m_cd == kNone)
            return SanitizeUtf8(line);
        return TextEncoding::ConvertToUtf8(m_cd, line);
    }

private:
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

    void Close()
    {
        if (m_cd != kNone)
            iconv_close(m_cd);
        m_cd = kNone;
    }

    iconv_t m_cd = kNone;
    std::string m_name;
};

// ---------------------------------------------------------------------------------------------
// Transfers

/// Body consumer: gets the bytes, returns false to stop reading (which is not an error).
struct BodySink
{
    virtual ~BodySink() = default;
    virtual bool Write(const char* data, std::size_t size) = 0;
    bool stopped = false; // the sink ended the transfer on purpose
    bool failed = false;  // the sink could not take the bytes
};

size_t WriteCallback(char* data, size_t size, size_t count, void* user)
{
    auto* sink = static_cast<BodySink*>(user);
    const size_t n = size * count;
    try {
        if (sink->Write(data, n))
            return n;
        sink->stopped = true;
    } catch (...) {
        sink->failed = true;
    }
    return n == 0 ? 1 : 0; // anything but n aborts the transfer
}

struct TransferResult
{
    bool ok = false;
    uint32_t status = 0;
};

/// Runs one request with the thread's client. `sink` null means HEAD.
TransferResult Transfer(const std::string& url, BodySink* sink, HeaderSink* headers)
{
    TransferResult result;
    CInternetClient* client = OpenInternetClient();
    if (!client)
        return result;
    CURL* h = client->Handle();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    if (sink) {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteCallback);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, sink);
    } else {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    }
    if (headers) {
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &HeaderSink::Callback);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, headers);
    }
    const CURLcode rc = curl_easy_perform(h);
    long code = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK && code > 0)
        result.status = static_cast<uint32_t>(code);
    result.ok = rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && sink && sink->stopped && !sink->failed);
    // Drop the pointers into this call's stack before the handle is used again.
    curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, nullptr);
    return result;
}

class PageTextSink : public BodySink
{
public:
    explicit PageTextSink(std::size_t maxLength) : m_max(maxLength) {}

    bool Write(const char* data, std::size_t size) override
    {
        if (m_text.size() >= m_max)
            return false;
        return m_reader.Feed(data, size, m_max + kLongLineSlack,
                             [this](const std::string& line) { return OnLine(line); });
    }

    void Finish()
    {
        if (!stopped && m_text.size() < m_max)
            m_reader.Finish([this](const std::string& line) { return OnLine(line); });
    }

    std::string& Text() { return m_text; }

private:
    bool OnLine(const std::string& line)
    {
        if (m_text.size() >= m_max)
            return false;
        // The probe (lower case, blanks removed) is built only for the rare line that can hold a
        // declaration; every other line is appended as it is.
        if (ProbeCanMatch(line)) {
            m_probe.clear();
            for (const char c : line) {
                if (c != ' ')
                    m_probe += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            }
            if (m_probe.find("meta") != std::string::npos && m_probe.find("charset=") != std::string::npos) {
                m_utf8 = m_probe.find("charset=utf-8") != std::string::npos ||
                         m_probe.find("charset=\"utf-8\"") != std::string::npos;
                if (!m_utf8)
                    m_converter.Select(CharsetName(line, m_probe));
            }
        }
        if (!m_utf8)
            m_text += m_converter.Convert(line);
        else if (TextEncoding::IsValidUtf8(line))
            m_text += line;
        else
            m_text += SanitizeUtf8(line);
        m_text += '\n';
        return m_text.size() < m_max;
    }

    /// Whether the line, read without blanks and case, contains "charset=": a pass without copies.
    static bool ProbeCanMatch(const std::string& line)
    {
        static constexpr std::string_view kWord = "charset=";
        if (line.find('=') == std::string::npos)
            return false;
        std::size_t matched = 0;
        for (const char raw : line) {
            if (raw == ' ')
                continue;
            const char c = raw >= 'A' && raw <= 'Z' ? static_cast<char>(raw - 'A' + 'a') : raw;
            if (c == kWord[matched]) {
                if (++matched == kWord.size())
                    return true;
            } else {
                // "charset=" repeats no prefix of itself, so a mismatch restarts at this character.
                matched = c == kWord[0] ? 1 : 0;
            }
        }
        return false;
    }

    std::size_t m_max;
    std::string m_text;
    std::string m_probe;
    bool m_utf8 = true;
    CharsetConverter m_converter;
    LineReader m_reader;
};

class LinesSink : public BodySink
{
public:
    LinesSink(std::vector<std::string>& lines, std::size_t maxLength) : m_lines(lines), m_max(maxLength) {}

    bool Write(const char* data, std::size_t size) override
    {
        Begin();
        if (m_total >= m_max)
            return false;
        return m_reader.Feed(data, size, m_max + kLongLineSlack,
                             [this](const std::string& line) { return OnLine(line); });
    }

    /// The response was opened: the caller's list is emptied once.
    void Begin()
    {
        if (!m_begun) {
            m_lines.clear();
            m_begun = true;
        }
    }

    void Finish()
    {
        if (!stopped && m_total < m_max)
            m_reader.Finish([this](const std::string& line) { return OnLine(line); });
    }

private:
    bool OnLine(const std::string& line)
    {
        if (m_total >= m_max)
            return false;
        m_lines.push_back(line);
        m_total += line.size();
        return m_total < m_max;
    }

    std::vector<std::string>& m_lines;
    std::size_t m_max;
    std::size_t m_total = 0;
    bool m_begun = false;
    LineReader m_reader;
};

class FileSink : public BodySink
{
public:
    explicit FileSink(SafeFileWriter& writer) : m_writer(writer) {}
    bool Write(const char* data, std::size_t size) override
    {
        m_writer.Write(data, size);
        return true;
    }

private:
    SafeFileWriter& m_writer;
};

} // namespace

bool CInternetClient::Configure(const CheckSettings& settings)
{
    if (settings.useProxy && (settings.proxyHost.empty() || settings.proxyPort < 1 || settings.proxyPort > 65535))
        return false;
    if (!m_handle) {
        m_handle = curl_easy_init();
        if (!m_handle)
            return false;
    } else {
        curl_easy_reset(m_handle);
    }
    CURL* h = m_handle;
    bool ok = true;
    auto set = [&ok](CURLcode rc) { ok = ok && rc == CURLE_OK; };
    set(curl_easy_setopt(h, CURLOPT_USERAGENT, "Orvex"));
    set(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, settings.connectTimeoutSeconds));
    set(curl_easy_setopt(h, CURLOPT_TIMEOUT, settings.requestTimeoutSeconds));
    set(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L));
    set(curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L));
    set(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L));
    // CAINFO replaces only the bundle file; the system's certificate directory (CAPATH) stays.
    if (!settings.caFile.empty())
        set(curl_easy_setopt(h, CURLOPT_CAINFO, settings.caFile.c_str()));
    if (settings.useProxy) {
        m_proxy = settings.proxyHost + ":" + std::to_string(settings.proxyPort);
        set(curl_easy_setopt(h, CURLOPT_PROXY, m_proxy.c_str()));
        set(curl_easy_setopt(h, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP)));
        set(curl_easy_setopt(h, CURLOPT_NOPROXY, "")); // no bypass list, whatever no_proxy says
        set(curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L));
    }
    // Without the switch curl's defaults apply: the http_proxy/https_proxy/no_proxy environment
    // is this platform's "preconfigured internet access".
    return ok;
}

CInternetClient* OpenInternetClient()
{
    try {
        EnsureGlobalInit();
        thread_local CInternetClient client;
        if (!client.Configure(GetCheckSettings()))
            return nullptr;
        return &client;
    } catch (...) {
        return nullptr;
    }
}

bool FetchPageText(const std::string& url, std::string& text, uint32_t& status, std::string* headers,
                   std::size_t maxLength)
{
    status = 0;
    try {
        PageTextSink sink(maxLength);
        HeaderSink headerSink;
        const TransferResult result = Transfer(url, &sink, headers ? &headerSink : nullptr);
        status = result.status;
        if (headers && result.status != 0)
            *headers = std::move(headerSink.raw);
        if (!result.ok)
            return false;
        sink.Finish();
        text = std::move(sink.Text());
        return true;
    } catch (...) {
        return false;
    }
}

bool FetchLines(const std::string& url, std::vector<std::string>& lines, uint32_t& status, std::string* headers,
                std::size_t maxLength)
{
    status = 0;
    try {
        LinesSink sink(lines, maxLength);
        HeaderSink headerSink;
        const TransferResult result = Transfer(url, &sink, headers ? &headerSink : nullptr);
        status = result.status;
        if (headers && result.status != 0)
            *headers = std::move(headerSink.raw);
        if (result.status != 0)
            sink.Begin();
        if (!result.ok)
            return false;
        sink.Finish();
        return true;
    } catch (...) {
        return false;
    }
}

bool UrlExists(const std::string& url)
{
    try {
        CUrlParts parts;
        if (!SplitUrl(url, parts))
            return false;
        const TransferResult result = Transfer(url, nullptr, nullptr);
        return result.ok && IsHttpSuccess(result.status);
    } catch (...) {
        return false;
    }
}

bool DownloadToFile(const std::string& url, const std::string& path)
{
    try {
        SafeFileWriter writer(path);
        writer.Open();
        FileSink sink(writer);
        const TransferResult result = Transfer(url, &sink, nullptr);
        // An error page saved under the download's name would pass for the file itself.
        if (!result.ok || !IsHttpSuccess(result.status))
            return false; // the writer removes its temporary file
        writer.Commit(false);
        return true;
    } catch (...) {
        return false;
    }
}
