#include "FetchFailure.h"

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
