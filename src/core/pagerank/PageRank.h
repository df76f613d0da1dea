#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class CLink;

/// Bob Jenkins' 1996 lookup2 hash of `length` bytes, the one the toolbar query's checksum uses.
uint32_t Lookup2Hash(const uint8_t* data, std::size_t length, uint32_t initval);

/// "6" and the decimal lookup2 hash (initial value 0x6B1D4E37) of "info:" + url.
std::string PageRankChecksum(const std::string& url);

/// The rank in the service's answer: its first 10 characters read as "Rank_1:<n>:<rank>", the rank
/// 0..10; -1 for a shorter answer, one without the pattern or a rank out of range.
int ParsePageRankAnswer(std::string_view answer);

/// The rank 0..10 of a normalised URL, or -1 (no endpoint configured, no answer, no pattern).
int QueryPageRank(const std::string& url);

/// Moves currentPR to previousPR, stores a new rank when there is one; `changed` when a known rank
/// became another. False only without a link.
bool CheckPageRank(CLink* link, bool& changed);
