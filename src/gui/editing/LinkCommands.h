#pragma once

#include <QWidget>

#include <functional>
#include <vector>

class CLink;
class CLinksManager;
class CPartnersManager;

/// What the link commands work on: the open database's collections, the window their dialogs
/// belong to, and the main window's new-partner flow for the dialogs' "Add new partner".
struct LinkCommandContext
{
    CPartnersManager& partners;
    CLinksManager& links;
    QWidget* parent;
    std::function<void()> addPartner;
    /// Told when Edit saved a link (`before` as it was), so that what is kept under the link's
    /// From page, To Page and project follows it.
    std::function<void(const CLink& before, const CLink& after)> linkSaved = {};
};

// Each command returns whether it changed anything; the main window then brings its list up to
// date as noted, and gives the focus back to the list in every case.

/// Add (Ctrl+N): a new link at the end of the collection, checked at once for "S&ave&&Check".
/// After true: RefreshFilters(), FillList(full).
bool AddLink(const LinkCommandContext& ctx);

/// Add Pack: the pack's links appended in the order they were entered.
/// After true: RefreshFilters(), FillList(full).
bool AddPack(const LinkCommandContext& ctx);

/// Edit (F2, Enter, double-click): one link in the link dialog; several, after a question, in the
/// group dialog (partner and period only). A single link saved with OK gets its status from its
/// dates, or 0 when what a check looks at changed; "S&ave&&Check" checks it at once.
/// After true: RefreshFilters(), FillList(update).
bool EditLinks(const LinkCommandContext& ctx, const std::vector<CLink*>& selected);

/// Duplicate: after a question, copies of the selected links (every field) at the end.
/// After true: FillList(full).
bool DuplicateLinks(const LinkCommandContext& ctx, const std::vector<CLink*>& selected);

/// Renew Links: after a question, each selected link's paid period starts again at its expiry
/// date, and its status follows the new dates. After true: RefreshFilters(), FillList(full).
bool RenewLinks(const LinkCommandContext& ctx, const std::vector<CLink*>& selected);

/// The full check of one link (its page, robots.txt and PageRank) on a worker thread, while a busy
/// dialog with Cancel keeps the window running; returns when the check has ended. A cancelled
/// check leaves the link as it was.
void CheckLinkNow(QWidget* parent, CLink* link);
