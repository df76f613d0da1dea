#include "Fetch.h"

#include "BodySinks.h"
#include "PageTextSink.h"

#include "CheckSettings.h"
#include "FetchFailure.h"
#include "FetchShare.h"
#include "PageBudget.h"
#include "PageEncoding.h"
#include "Url.h"
#include "core/platform/TestHooks.h"
#include "core/platform/TextEncoding.h"
#include "core/records/TextUtil.h"
#include "core/storage/SafeFile.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>

/// One libcurl easy handle per thread, configured afresh for every fetch. curl_easy_reset keeps
/// the handle's connections, so consecutive fetches of one thread reuse kept-alive connections
/// while each fetch still starts from the current settings; DNS answers and TLS sessions are the
/// process's (SharedFetchCaches).
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
    long RequestTimeoutSeconds() const { return m_requestTimeout; }
    /// "host:port" of the proxy every request goes through; "" without one.
    const std::string& Proxy() const { return m_proxy; }
    bool ViaProxy() const { return !m_proxy.empty(); }

private:
    CURL* m_handle = nullptr;
    std::string m_proxy; // kept alive while the handle may read it
    long m_requestTimeout = 0;
};

namespace {

using namespace fetchsink;

std::once_flag g_globalInit;

void EnsureGlobalInit()
{
    std::call_once(g_globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// ---------------------------------------------------------------------------------------------
// Headers and status of the final response

} // namespace

namespace fetchsink {

struct HeaderSink
{
    std::string raw;
    bool keep = false;     // gather `raw` (only when the caller asked for the headers)
    bool complete = false; // the empty line that ends the current response's headers arrived
    bool redirect = false; // the current response is a 3xx that names where to go (known once complete)
    long code = 0;         // of the current response's status line
    std::string location;  // the current response's Location value, as sent

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
            if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
                self->raw.clear();
                self->complete = false;
                self->redirect = false;
                self->location.clear();
                const std::size_t blank = line.find(' ');
                self->code = blank != std::string_view::npos && line.size() >= blank + 4
                                 ? std::strtol(std::string(line.substr(blank + 1, 3)).c_str(), nullptr, 10)
                                 : 0;
            } else if (line.size() >= 9 && EqualsIgnoringCase(line.substr(0, 9), "location:")) {
                std::string_view value = line.substr(9);
                while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
                    value.remove_prefix(1);
                while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
                    value.remove_suffix(1);
                if (self->location.empty())
                    self->location = value;
            }
            // curl reports a connection closed in the middle of the headers as a success with
            // what came so far: only the empty line shows that they arrived whole.
            if (line.empty()) {
                self->complete = true;
                self->redirect = !self->location.empty() && self->code >= 300 && self->code < 400 && self->code != 304;
            } else if (self->keep) {
                self->raw += line;
                self->raw += "\r\n";
            }
        } catch (...) {
            return 0;
        }
        return n;
    }
};

} // namespace fetchsink

namespace {

// ---------------------------------------------------------------------------------------------
// Redirects into the user's own network

/// Sees the address of every connection a transfer uses, the redirects' included, before the
/// request goes out. A partner page must not make us send requests into the user's own network,
/// so once a hop has been on a public address no later hop may be on a private one. A page that
/// the user named on a private address is fetched as asked, and so are its redirects until one
/// leaves for a public address. Through a proxy every connection goes to the proxy, so all hops
/// look alike and nothing is refused: only the proxy knows where it connects.
struct RedirectGuard
{
    std::shared_ptr<const std::vector<std::string>> publicForTests;
    bool publicSeen = false;
    bool refused = false;

    bool CountsAsOwnNetwork(const char* address) const
    {
        if (publicForTests &&
            std::find(publicForTests->begin(), publicForTests->end(), address) != publicForTests->end())
            return false;
        return IsOwnNetworkAddress(address);
    }

    static int Callback(void* user, char* primaryIp, char* /*localIp*/, int /*primaryPort*/, int /*localPort*/)
    {
        auto* self = static_cast<RedirectGuard*>(user);
        const bool own = self->CountsAsOwnNetwork(primaryIp ? primaryIp : "");
        if (own && self->publicSeen) {
            self->refused = true;
            return CURL_PREREQFUNC_ABORT;
        }
        if (!own)
            self->publicSeen = true;
        return CURL_PREREQFUNC_OK;
    }
};

// ---------------------------------------------------------------------------------------------
// Line splitting: lines end at LF, every CR is dropped.

thread_local const std::atomic<bool>* t_cancelled = nullptr;

} // namespace

namespace fetchsink {

/// Makes room for `extra` bytes in `s` within the lease; a wait given up because the fetch was
/// cancelled fails the page, which must not pass for a page read to its end.
void FitInLease(CPageLease* lease, std::string& s, std::size_t extra)
{
    if (lease && !lease->Fit(s, extra, t_cancelled))
        throw std::runtime_error("cancelled while waiting for memory");
}

} // namespace fetchsink

namespace {

// ---------------------------------------------------------------------------------------------
// Transfers

size_t WriteCallback(char* data, size_t size, size_t count, void* user)
{
    auto* sink = static_cast<BodySink*>(user);
    const size_t n = size * count;
    // A redirect's body is no page; the connection is given up rather than read to an end that a
    // hostile server need never send.
    if (sink->headers && sink->headers->redirect) {
        sink->redirect = true;
        return n == 0 ? 1 : 0;
    }
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
    std::string finalUrl;
    std::string error;
    bool transient = false; ///< the transfer broke off in a way that may pass
    FetchReach reach = FetchReach::NotSent;
};

thread_local IHostSlots* t_hostSlots = nullptr;

/// Where a Location value leads from `base`, as curl itself would follow it.
bool ResolveLocation(const char* base, const std::string& location, std::string& target)
{
    CURLU* url = curl_url();
    if (!url)
        return false;
    char* joined = nullptr;
    const bool ok = curl_url_set(url, CURLUPART_URL, base, 0) == CURLUE_OK &&
                    curl_url_set(url, CURLUPART_URL, location.c_str(),
                                 CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE | CURLU_URLENCODE) == CURLUE_OK &&
                    curl_url_get(url, CURLUPART_URL, &joined, 0) == CURLUE_OK && joined;
    bool taken = false;
    if (ok) {
        try {
            target = joined;
            taken = true;
        } catch (...) {
        }
    }
    curl_free(joined);
    curl_url_cleanup(url);
    return taken;
}

constexpr int kMaxRedirects = 10;

/// How far a failed request got; `answered` when an earlier hop had an answer.
FetchReach ReachOf(CURLcode rc, bool viaProxy, bool answered)
{
    if (answered)
        return FetchReach::Reached;
    switch (rc) {
    case CURLE_COULDNT_RESOLVE_PROXY:
        return FetchReach::NoProxy;
    case CURLE_COULDNT_CONNECT:
        // Through a proxy every connection goes to the proxy.
        return viaProxy ? FetchReach::NoProxy : FetchReach::NoSite;
    case CURLE_COULDNT_RESOLVE_HOST:
        return FetchReach::NoSite;
    case CURLE_ABORTED_BY_CALLBACK: // stopped by the user before anything answered
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_FAILED_INIT:
    case CURLE_OUT_OF_MEMORY:
        return FetchReach::NotSent;
    default:
        return FetchReach::Reached;
    }
}

/// Runs one request with the thread's client, following redirects one hop at a time so that each
/// hop can wait for a slot of its own host. `sink` null means HEAD.
TransferResult Transfer(const std::string& url, BodySink* sink, HeaderSink& headers)
{
    TransferResult result;
    if (t_cancelled && t_cancelled->load()) {
        result.error = "cancelled";
        return result;
    }
    CInternetClient* client = OpenInternetClient();
    if (!client) {
        result.error = "the proxy setting names no usable proxy (check its host and port)";
        result.reach = FetchReach::NoProxy;
        return result;
    }
    CURL* h = client->Handle();
    TransferWatch watch;
    watch.cancelled = t_cancelled;
    watch.lease = sink ? sink->Lease() : nullptr;
    const std::chrono::milliseconds limit = std::chrono::seconds(client->RequestTimeoutSeconds());
    if (watch.lease) {
        // curl's own limit would count the waits for memory too.
        watch.limit = std::chrono::seconds(client->RequestTimeoutSeconds());
        curl_easy_setopt(h, CURLOPT_TIMEOUT, 0L);
    }
    if (watch.cancelled || watch.lease) {
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &TransferWatch::Callback);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &watch);
    }
    RedirectGuard guard;
    guard.publicForTests = TestHooks::PublicAddresses();
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    if (sink) {
        sink->handle = h;
        sink->headers = &headers;
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteCallback);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, sink);
    } else {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    }
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &HeaderSink::Callback);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &headers);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &RedirectGuard::Callback);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, &guard);
    std::string target = url;
    CURLcode rc = CURLE_OK;
    bool answered = false;
    for (int redirects = 0;; ++redirects) {
        if (t_hostSlots) {
            const auto asked = std::chrono::steady_clock::now();
            t_hostSlots->Enter(RequestHost(target));
            // The wait for a host's slot is not the site's slowness.
            watch.start += std::chrono::steady_clock::now() - asked;
        }
        if (!watch.lease && limit.count() > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                limit - (std::chrono::steady_clock::now() - watch.start));
            curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max<long long>(1, left.count())));
        }
        curl_easy_setopt(h, CURLOPT_URL, target.c_str());
        if (sink)
            sink->redirect = false;
        rc = curl_easy_perform(h);
        const bool cutRedirect = rc == CURLE_WRITE_ERROR && sink && sink->redirect;
        if ((rc != CURLE_OK || !headers.complete) && !cutRedirect)
            break;
        if (!headers.redirect)
            break;
        answered = true;
        if (redirects == kMaxRedirects) {
            rc = CURLE_TOO_MANY_REDIRECTS;
            std::snprintf(errorText, sizeof errorText, "Maximum (%d) redirects followed", kMaxRedirects);
            break;
        }
        const char* current = nullptr;
        if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &current) != CURLE_OK || !current ||
            !ResolveLocation(current, headers.location, target)) {
            rc = CURLE_URL_MALFORMAT;
            std::snprintf(errorText, sizeof errorText, "a redirect to an address that cannot be read");
            break;
        }
        errorText[0] = '\0';
    }
    if (rc == CURLE_ABORTED_BY_CALLBACK && watch.timedOut) {
        rc = CURLE_OPERATION_TIMEDOUT;
        try {
            const std::string text = watch.TimeOutText();
            std::snprintf(errorText, sizeof errorText, "%s", text.c_str());
        } catch (...) {
            errorText[0] = '\0';
        }
    }
    long code = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK && code > 0)
        result.status = static_cast<uint32_t>(code);
    // A body shorter than its Content-Length or a chunked body without its last chunk is
    // CURLE_PARTIAL_FILE; headers cut off pass as CURLE_OK and are caught by the header sink.
    result.ok =
        (rc == CURLE_OK && headers.complete) || (rc == CURLE_WRITE_ERROR && sink && sink->stopped && !sink->failed);
    if (result.ok && sink) {
        try {
            sink->Finish();
        } catch (...) {
            result.ok = false;
        }
    }
    const bool viaProxy = client->ViaProxy();
    result.reach = result.ok || result.status != 0 ? FetchReach::Reached : ReachOf(rc, viaProxy, answered);
    try {
        const char* effective = nullptr;
        if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
            result.finalUrl = effective;
        result.transient = !result.ok && (rc == CURLE_OPERATION_TIMEDOUT || rc == CURLE_RECV_ERROR ||
                                          rc == CURLE_SEND_ERROR || rc == CURLE_GOT_NOTHING);
        if (!result.ok) {
            result.error = sink && sink->failed ? std::string("the page could not be read")
                                                : DescribeFetchFailure(rc, errorText, headers.complete, guard.refused);
            // The user's proxy, not the partner, is what could not be reached: say which.
            if (result.reach == FetchReach::NoProxy)
                result.error = "the proxy " + client->Proxy() +
                               (rc == CURLE_COULDNT_RESOLVE_PROXY ? " could not be found" : " refused the connection") +
                               " (" + (errorText[0] ? std::string(errorText) : curl_easy_strerror(rc)) + ")";
        }
    } catch (...) {
        // Only the explanation is lost; the outcome stands.
    }
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
    // Drop the pointers into this call's stack before the handle is used again.
    if (sink) {
        sink->handle = nullptr;
        sink->headers = nullptr;
    }
    curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, nullptr);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
    return result;
}

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

    void Finish() override
    {
        Begin();
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

CHostSlotScope::CHostSlotScope(IHostSlots* slots) : m_outer(t_hostSlots)
{
    t_hostSlots = slots;
}

CHostSlotScope::~CHostSlotScope()
{
    t_hostSlots = m_outer;
}

std::string RequestHost(const std::string& url)
{
    CUrlParts parts;
    if (!ParseHref(nullptr, url, parts))
        return {};
    std::string host = parts.host;
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return host;
}

CFetchCancelScope::CFetchCancelScope(const std::atomic<bool>& cancelled) : m_outer(t_cancelled)
{
    t_cancelled = &cancelled;
}

CFetchCancelScope::~CFetchCancelScope()
{
    t_cancelled = m_outer;
}

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
    m_requestTimeout = settings.requestTimeoutSeconds;
    bool ok = true;
    auto set = [&ok](CURLcode rc) { ok = ok && rc == CURLE_OK; };
    set(curl_easy_setopt(h, CURLOPT_USERAGENT, "Orvex"));
    set(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
    if (CURLSH* share = SharedFetchCaches())
        set(curl_easy_setopt(h, CURLOPT_SHARE, share));
    set(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, settings.connectTimeoutSeconds));
    set(curl_easy_setopt(h, CURLOPT_TIMEOUT, settings.requestTimeoutSeconds));
    // Redirects are followed by Transfer, one hop at a time.
    set(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L));
    set(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L));
    // CAINFO replaces only the bundle file; the system's certificate directory (CAPATH) stays.
    if (!settings.caFile.empty())
        set(curl_easy_setopt(h, CURLOPT_CAINFO, settings.caFile.c_str()));
    m_proxy.clear();
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
                   std::size_t maxLength, FetchOutcome* outcome, CPageLease* lease)
{
    status = 0;
    try {
        PageTextSink sink(maxLength, lease != nullptr);
        HeaderSink headerSink;
        headerSink.keep = headers != nullptr || outcome != nullptr;
        TransferResult result = Transfer(url, &sink, headerSink);
        status = result.status;
        if (outcome) {
            outcome->finalUrl = std::move(result.finalUrl);
            outcome->error = std::move(result.error);
            outcome->transient = result.transient ||
                                 (result.ok && (result.status == 429 || (result.status >= 500 && result.status < 600)));
            outcome->retryAfter = RetryAfterSeconds(headerSink.raw);
            outcome->reach = result.reach;
        }
        if (headers && result.status != 0)
            *headers = std::move(headerSink.raw);
        if (!result.ok)
            return false;
        if (lease)
            *lease = sink.TakeLease();
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
        headerSink.keep = headers != nullptr;
        const TransferResult result = Transfer(url, &sink, headerSink);
        status = result.status;
        if (headers && result.status != 0)
            *headers = std::move(headerSink.raw);
        if (result.status != 0)
            sink.Begin();
        return result.ok;
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
        HeaderSink headerSink;
        const TransferResult result = Transfer(url, nullptr, headerSink);
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
        HeaderSink headerSink;
        const TransferResult result = Transfer(url, &sink, headerSink);
        // An error page saved under the download's name would pass for the file itself.
        if (!result.ok || !IsHttpSuccess(result.status))
            return false; // the writer removes its temporary file
        writer.Commit(false);
        return true;
    } catch (...) {
        return false;
    }
}
