#pragma once

#include "LinkCheck.h"
#include "core/fetch/Url.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct GumboInternalNode;

// Pieces of the page walk that the link check shares; not a public API of the core.
namespace pagescan {

/// UrlsMatch for URLs that are already split.
bool PartsMatch(const CUrlParts& a, const CUrlParts& b, bool ignoreWww);

/// The host part of IsInternalLink: the same host, with or without a leading "www." on either.
bool SameSite(const CUrlParts& page, const CUrlParts& href);

/// Whether raw response header lines carry an X-Robots-Tag that tells every crawler, or
/// googlebot, not to follow the page's links ("nofollow" or "none"). `line`, when given, gets
/// the header line that says so.
bool HeadersSayNofollow(std::string_view headers, std::string_view* line = nullptr);

/// An element's markup as the page has it, from its start tag to the end of its end tag (or of
/// its content, when the page never closed it); "" for an element the parser made up. `piece` is
/// the text the node was parsed from.
std::string_view OuterSource(std::string_view piece, const GumboInternalNode* element);

/// Whether a robots meta content (already lower-cased) says nofollow or none.
bool RobotsContentSaysNofollow(std::string_view content);

/// Elements nested deeper than this are left out of the parse (anchors are kept): the tree
/// builder spends time in proportion to the depth on every tag, and no real page comes close.
constexpr int kMaxNesting = 512;

/// Places where a page may be parsed in separate pieces, in the order of the text: anchor start
/// tags at least `spacing` start tags apart.
struct CPageCuts
{
    struct Point
    {
        std::size_t offset;     ///< of the '<' in the text the walk parses
        std::size_t tagsBefore; ///< start tags before it
    };
    std::vector<Point> points;
    std::size_t startTags = 0; ///< in the whole text
    std::size_t spacing = 256; ///< start tags at least between two points
};

/// Copies `text` into `out` without the start tags that would open elements deeper than
/// kMaxNesting, estimating the nesting the way an HTML tree builder closes elements. False
/// (and `out` untouched) when nothing had to be left out. `cuts`, when given, receives the
/// places where the text (or `out`, when true) may be cut into pieces.
bool LimitNesting(std::string_view text, std::string& out, CPageCuts* cuts = nullptr);

/// Elements a piece of a page may begin inside (see ScanPageInPieces), and how deep at most.
bool IsReopenable(std::string_view name);
constexpr std::size_t kMaxReopenDepth = 64;

/// A walk builds the tree of at most max(kMinTreeBudget, kTreeBudgetPerByte × page size) bytes
/// at once (as estimated from its start tags), where the page offers cuts that allow it.
constexpr std::size_t kMinTreeBudget = 4u << 20;
constexpr std::size_t kTreeBudgetPerByte = 4;

/// Receives each parsed piece of a page in the order of the text: the piece as parsed (source
/// positions of its nodes point into it), its document, and the node where the page's part of it
/// ends (null in the last piece): that node and whatever follows it belong to the next piece.
using PieceVisitor =
    std::function<void(std::string_view piece, const GumboInternalNode* document, const GumboInternalNode* stopAt)>;

/// Parses the page as HTML (no script runs) in pieces of about `maxTagsPerPiece` start tags, with
/// the nesting limited, cut only where the parser shows that a cut changes nothing a walk in
/// document order sees. False when a piece could not be parsed.
bool ParseInPieces(const std::string& pageText, std::size_t maxTagsPerPiece, std::size_t cutSpacing,
                   const PieceVisitor& visit, std::size_t* piecesWalked = nullptr);

/// The piece size that keeps the tree of a page of `pageSize` bytes within its budget.
std::size_t PieceTagsFor(std::size_t pageSize);

/// An element's descendant text as a reader sees it: scripts and styles left out, runs of white
/// space collapsed to one blank, none at either end.
std::string InnerText(const GumboInternalNode* element);

/// ScanPage with pieces of about `maxTagsPerPiece` start tags, cut only where the parser shows
/// that a cut changes nothing the walk sees (ScanPage picks the size from the page's).
bool ScanPageInPieces(const std::string& pageUrl, const std::string& pageText, const std::string& headers,
                      const std::string& toPage, const std::string& anchor, PageFindings& findings,
                      std::size_t maxTagsPerPiece, std::size_t cutSpacing, std::size_t* piecesWalked = nullptr);

} // namespace pagescan
