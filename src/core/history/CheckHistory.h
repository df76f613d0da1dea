#pragma once

#include "HistoryStore.h"
#include "core/page/LinkCheck.h"

#include <cstdint>
#include <memory>
#include <string>

class CLink;

/// The history entry of one check of `link` at `time` (seconds since 1970): the status,
/// PageRank and external-link count the link holds now, and what the check saw; `evidence` null
/// for a date-only check, which keeps no evidence.
HistoryEntry EntryForCheck(const CLink& link, const CheckEvidence* evidence, int64_t time);

/// The key of `link`'s history.
std::string HistoryKeyOf(const CLink& link);

/// A recorder that queues every check in `store`; the store lives as long as a run holds the
/// recorder.
CheckRecorder HistoryRecorder(std::shared_ptr<CHistoryStore> store);

/// Moves a link's history to its new key when the link dialog changed its From page, To Page or
/// project (`before` is the link as it was); nothing happens when the key stayed. False when the
/// store could not do it (its Problem says why).
bool MoveLinkHistory(CHistoryStore& store, const CLink& before, const CLink& after);

/// Whether a history key belongs to the link(s) a user named by From page and, optionally, To
/// Page, read as the key reads them (case of host and path, default port, trailing slash).
bool HistoryKeyMatches(const std::string& key, const std::string& fromPage, const std::string& toPage);

/// The From page, To Page and project of a key, in that order.
struct HistoryKeyParts
{
    std::string fromPage;
    std::string toPage;
    std::string project;
};
HistoryKeyParts SplitHistoryKey(const std::string& key);

/// The longest the history may be asked to keep, in months ("Keep check history", --purge-history).
inline constexpr int kMaxHistoryMonths = 1200;

/// `time` (seconds since 1970) moved back by `months` calendar months of the local time zone; a
/// day the month lacks becomes its last ("31 March" less one month is 28 or 29 February).
int64_t MonthsBefore(int64_t time, int months);
/// MonthsBefore from now.
int64_t MonthsAgo(int months);
