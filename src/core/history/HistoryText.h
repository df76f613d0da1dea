#pragma once

#include "HistoryStore.h"

#include <cstdint>
#include <string>
#include <vector>

/// A stretch of time a link spent in one status.
struct StatusSpan
{
    int64_t begin = 0; ///< seconds since 1970, UTC
    int64_t end = 0;
    uint32_t status = 0;

    bool operator==(const StatusSpan&) const = default;
};

/// The stretches between `from` and `to` that a link's entries (oldest first) give: each lasts
/// from one status change to the next; the time before the first entry within the window takes
/// the status of the last entry before it, and none (status 0) when there is none.
std::vector<StatusSpan> StatusSpans(const std::vector<HistoryEntry>& entries, int64_t from, int64_t to);

/// When the link entered the status of its last entry: the first entry of the run of equal
/// statuses at the end. 0 without entries.
int64_t StatusSince(const std::vector<HistoryEntry>& entries);

/// "3 days", "5 weeks", "4 months": how long a span of seconds is, in the largest unit that fits.
std::string DurationText(int64_t seconds);

/// "Not present since 2026-11-02 (5 weeks)"; "Never checked" without entries. Dates are local.
std::string SinceText(const std::vector<HistoryEntry>& entries, int64_t now);

/// The last entry whose check found the link on the page (its evidence names an anchor), when a
/// later check that read the page did not: what the page carried before the link went missing.
/// Null when the last check that read the page found it, or none ever did.
const HistoryEntry* LastFoundBeforeLoss(const std::vector<HistoryEntry>& entries);

/// What a link's history says, for a seller who must be shown why a paid link does not count:
/// the link, its status and since when, the evidence of the last check that read the page (and of
/// the last one that found the link, when that is another), and every change of status with its
/// date. Dated `now`; lines end in LF.
std::string EvidenceReport(const std::string& fromPage, const std::string& toPage, const std::string& project,
                           const std::vector<HistoryEntry>& entries, int64_t now);

/// A moment as the user's clock shows it: "2026-12-07 19:58".
std::string LocalTimeText(int64_t time);
