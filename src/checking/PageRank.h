#pragma once

#include <string>

class CLink;

/// "6" and the decimal lookup2 hash (initial value 0x6B1D4E37) of "info:" + url.
std::string PageRankChecksum(const std::string& url);

/// The rank 0..10 of a normalised URL, or -1 (no endpoint configured, no answer, no pattern).
int QueryPageRank(const std::string& url);

/// Moves currentPR to previousPR, stores a new rank when there is one; `changed` when a known rank
/// became another. False only without a link.
bool CheckPageRank(CLink* link, bool& changed);
