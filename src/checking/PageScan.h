#pragma once

#include "Url.h"

#include <string_view>

// Pieces of the page walk that the link check shares; not a public API of the core.
namespace pagescan {

/// UrlsMatch for URLs that are already split.
bool PartsMatch(const CUrlParts& a, const CUrlParts& b, bool ignoreWww);

/// The host part of IsInternalLink: the same host, with or without a leading "www." on either.
bool SameSite(const CUrlParts& page, const CUrlParts& href);

/// Whether raw response header lines carry an X-Robots-Tag that tells every crawler, or
/// googlebot, not to follow the page's links ("nofollow" or "none").
bool HeadersSayNofollow(std::string_view headers);

/// Whether a robots meta content (already lower-cased) says nofollow or none.
bool RobotsContentSaysNofollow(std::string_view content);

/// Elements nested deeper than this are left out of the parse (anchors are kept): the tree
/// builder spends time in proportion to the depth on every tag, and no real page comes close.
constexpr int kMaxNesting = 512;

/// Copies `text` into `out` without the start tags that would open elements deeper than
/// kMaxNesting, estimating the nesting the way an HTML tree builder closes elements. False
/// (and `out` untouched) when nothing had to be left out.
bool LimitNesting(std::string_view text, std::string& out);

} // namespace pagescan
