#pragma once

#include <string>

/// Pages a run has in flight at once, and requests at once to one partner host: the defaults and
/// the largest numbers a setting or the command line may ask for (the smallest is 1).
inline constexpr int kDefaultCheckWorkers = 5;
inline constexpr int kMaxCheckWorkers = 64;
inline constexpr int kDefaultCheckPerSite = 2;
inline constexpr int kMaxCheckPerSite = 8;

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

    /// Pages a run has in flight at once, and requests at once to one partner host; the PageRank
    /// service is no partner and is not held to the second.
    int workers = kDefaultCheckWorkers;
    int perSite = kDefaultCheckPerSite;

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
