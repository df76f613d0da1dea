#pragma once

#include "gui/widgets/ColumnKinds.h"

#include <QString>

/// The fifteen column kinds of the links list, in their fixed order. A kind's number is its
/// section in the list's header (its logical index) and its place in the stored layout's per-kind
/// arrays, so the order is part of what is stored.
enum class LinkColumn
{
    Status,
    Project,
    Partner,
    Anchor,
    FirstStart,
    Start,
    End,
    FullCost,
    Price,
    StartingPR,
    CurrentPR,
    FromPage,
    ToPage,
    ExternalLinks,
    Comment,
};
inline constexpr int kLinkColumnCount = 15;

/// The kind shown in header section `section`, which the caller has checked is one.
constexpr LinkColumn LinkColumnAt(int section)
{
    return static_cast<LinkColumn>(section);
}
static_assert(ColumnIndex(LinkColumn::Comment) == kLinkColumnCount - 1);

/// Every kind, in kind order.
inline constexpr const auto& kLinkColumns = kAllColumnKinds<LinkColumn, kLinkColumnCount>;

/// Header text of a kind, also its name in the column menu.
QString LinkColumnName(LinkColumn kind);
