#pragma once

#include <QString>

/// The fifteen column kinds of the links list, in their fixed order.
enum LinkColumnKind : int
{
    ColumnStatus = 0,
    ColumnProject,
    ColumnPartner,
    ColumnAnchor,
    ColumnFirstStart,
    ColumnStart,
    ColumnEnd,
    ColumnFullCost,
    ColumnPrice,
    ColumnStartingPR,
    ColumnCurrentPR,
    ColumnFromPage,
    ColumnToPage,
    ColumnExternalLinks,
    ColumnComment,
};
inline constexpr int kLinkColumnCount = 15;

/// Header text of a kind, also its name in the column menu.
QString LinkColumnName(int kind);
