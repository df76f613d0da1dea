#pragma once

#include "PageBudget.h"

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <string>

/// Why a transfer failed, in words a user can act on ("time-out", "DNS", "TLS", "connection
/// refused", ...) followed by curl's `detail` in brackets. `headersComplete` tells a cut-off
/// header block from a cut-off body when curl itself saw no error; `ownNetworkRefused` that the
/// redirect guard ended the transfer.
std::string DescribeFetchFailure(CURLcode rc, const char* detail, bool headersComplete, bool ownNetworkRefused);

/// Watches a transfer as it runs: ends it when the thread's fetches are cancelled, and, for a
/// page that may wait for memory, when its time is up; the time it waited is not counted, since
/// the site was not slow meanwhile.
struct TransferWatch
{
    const std::atomic<bool>* cancelled = nullptr;
    const CPageLease* lease = nullptr;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::seconds limit{0};
    bool timedOut = false;
    curl_off_t received = 0;

    /// A CURLOPT_XFERINFOFUNCTION; `user` is the watch.
    static int Callback(void* user, curl_off_t, curl_off_t now, curl_off_t, curl_off_t);
    /// What curl would have said of the time-out.
    std::string TimeOutText() const;
};
