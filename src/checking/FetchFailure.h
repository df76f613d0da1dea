#pragma once

#include <curl/curl.h>

#include <string>

/// Why a transfer failed, in words a user can act on ("time-out", "DNS", "TLS", "connection
/// refused", ...) followed by curl's `detail` in brackets. `headersComplete` tells a cut-off
/// header block from a cut-off body when curl itself saw no error; `ownNetworkRefused` that the
/// redirect guard ended the transfer.
std::string DescribeFetchFailure(CURLcode rc, const char* detail, bool headersComplete, bool ownNetworkRefused);
