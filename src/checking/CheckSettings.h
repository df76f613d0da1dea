#pragma once

#include <string>

/// What the checking code needs from the settings, as one snapshot. The application sets it at
/// start-up and after the options change; every fetch and check reads a copy, so worker threads
/// never touch the settings objects themselves.
struct CheckSettings
{
    bool useProxy = false;
    std::string proxyHost;
    int proxyPort = 8888;
    /// host[:port] of the PageRank service; "" means no lookups at all (rank -1 at once).
    std::string pageRankHost;
    /// A link counts as expiring this many days before its expiry date.
    int warningDays = 7;

    /// Pages a run has in flight at once (1 to 64), and requests at once to one partner host
    /// (1 to 8); the PageRank service is no partner and is not held to the second.
    int workers = 5;
    int perSite = 2;

    /// A page that failed in a way that may pass (time-out, reset, 429 or 5xx) is tried again
    /// once in the same run after at least the first, its Retry-After honoured up to the second.
    int retryMinSeconds = 30;
    int retryMaxSeconds = 120;

    long connectTimeoutSeconds = 30;
    long requestTimeoutSeconds = 120;
    /// Extra certificate authorities (PEM file); "" = the system's store only. Tests use it to
    /// trust a certificate they made.
    std::string caFile;
};

void SetCheckSettings(const CheckSettings& settings);
CheckSettings GetCheckSettings();
