#include "FetchFailure.h"

#include "Fetch.h"
#include "core/records/TextUtil.h"

#include <string_view>

// The kinds a user can act on come first (the site is down, the name is wrong, the certificate
// is bad); curl's own words follow for the details.
std::string DescribeFetchFailure(CURLcode rc, const char* detail, bool headersComplete, bool ownNetworkRefused)
{
    std::string kind;
    switch (rc) {
    case CURLE_OK:
        kind = headersComplete ? "the page was cut off" : "the response headers were cut off";
        break;
    case CURLE_OPERATION_TIMEDOUT:
        kind = "time-out";
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        kind = "DNS";
        break;
    case CURLE_COULDNT_CONNECT:
        kind = "connection refused";
        break;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
        kind = "connection reset";
        break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        kind = "TLS";
        break;
    case CURLE_PARTIAL_FILE:
        kind = "the page was cut off";
        break;
    case CURLE_TOO_MANY_REDIRECTS:
        kind = "too many redirects";
        break;
    case CURLE_ABORTED_BY_CALLBACK:
        kind = ownNetworkRefused ? "redirect into the own network refused" : "cancelled";
        break;
    default:
        kind = "fetch failed";
        break;
    }
    const std::string words = detail && *detail ? detail : (rc == CURLE_OK ? "" : curl_easy_strerror(rc));
    return words.empty() ? kind : kind + " (" + words + ")";
}

int TransferWatch::Callback(void* user, curl_off_t, curl_off_t now, curl_off_t, curl_off_t)
{
    auto* self = static_cast<TransferWatch*>(user);
    if (self->cancelled && self->cancelled->load())
        return 1;
    if (self->lease && self->limit.count() > 0 &&
        std::chrono::steady_clock::now() - self->start - self->lease->Waited() > self->limit) {
        self->timedOut = true;
        self->received = now;
        return 1;
    }
    return 0;
}

std::string TransferWatch::TimeOutText() const
{
    const auto waited = lease ? lease->Waited() : std::chrono::steady_clock::duration{};
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start - waited);
    return "Operation timed out after " + std::to_string(spent.count()) + " milliseconds with " +
           std::to_string(received) + " bytes received";
}

int RetryAfterSeconds(std::string_view headers)
{
    std::size_t start = 0;
    while (start < headers.size()) {
        std::size_t end = headers.find("\r\n", start);
        if (end == std::string_view::npos)
            end = headers.size();
        const std::string_view line = headers.substr(start, end - start);
        start = end + 2;
        constexpr std::string_view kName = "retry-after:";
        if (line.size() < kName.size() || !EqualsIgnoringCase(line.substr(0, kName.size()), kName))
            continue;
        std::string_view value = line.substr(kName.size());
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        // Seconds only; a date is rare from servers that ask for patience, and the minimum wait holds.
        if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string_view::npos)
            return -1;
        return std::stoi(std::string(value));
    }
    return -1;
}
