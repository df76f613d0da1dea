#pragma once

#include <cstddef>
#include <string>
#include <vector>

class CLink;

/// Placed on the same From page (NormalizeUrl, then UrlsMatch with `ignoreWww`) and either
/// pointing to the same To Page (www counts there) or, with `oneLinkPerProject`, of the same
/// project (case-sensitive).
bool LinksAreDuplicates(const CLink& a, const CLink& b, bool ignoreWww, bool oneLinkPerProject);

/// Each group is a link A (the first link not yet reported) followed by every later link that is
/// its duplicate, as indexes into `links` in list order. A link reported in one group can still
/// join a later group as somebody else's duplicate.
std::vector<std::vector<std::size_t>> FindDuplicateGroups(const std::vector<const CLink*>& links, bool ignoreWww,
                                                          bool oneLinkPerProject);

/// The groups as the duplicate search shows them ("\r\n" line ends), or "No duplicates found".
std::string DuplicatesReport(const std::vector<const CLink*>& links, bool ignoreWww, bool oneLinkPerProject);
