#pragma once

#include "LinkColumn.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <vector>

class CLink;
class CLinksManager;
class CPartnersManager;

/// The model behind `CLinksListCtrl`: one row per link that passes the filters, one column per
/// kind (the view hides the kinds the user does not want). Rows hold only the link pointer and a
/// fingerprint of what the cells showed, so that 100,000 rows stay small and `FillList(update)`
/// can tell which rows need repainting.
class CLinksModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Role
    {
        /// Text keys as QByteArray (compared byte-wise), integers as qlonglong, dates as the
        /// day count (double) or an invalid QVariant for a null or invalid date.
        SortKeyRole = Qt::UserRole + 1,
        /// The status bits (uint) of the row's link, for the delegate's colours.
        StatusRole,
    };

    explicit CLinksModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    /// Sorts the rows by the kind of header section `column`; the view calls it for header clicks.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    /// Keeps both collections (either may be null) and rebuilds the rows.
    void Attach(CLinksManager* links, CPartnersManager* partners);
    /// `full`: rebuild the rows from the collections through the filters and sort them.
    /// Otherwise rewrite the rows that are there and recompute the totals.
    void FillList(bool full);

    LinkColumn GetSortKind() const { return m_sortKind; }
    bool IsSortDescending() const { return m_sortDescending; }
    /// Takes the sort over without re-sorting (the next fill sorts).
    void SetSort(LinkColumn kind, bool descending);

    CLink* GetLink(int row) const;
    /// The row showing `link`, or -1.
    int RowOf(const CLink* link) const;
    QString CellText(int row, LinkColumn kind) const;
    /// Rows given in list order, cells of `kinds` in that order, "\t\t" between cells, "\r\n"
    /// after each row.
    QString CopyRowsAsText(const std::vector<int>& rows, const std::vector<LinkColumn>& kinds) const;

    int64_t GetTotalCost() const { return m_totalCost; }
    int64_t GetTotalPrice() const { return m_totalPrice; }

private:
    friend class CCellTextReader;

    struct Row
    {
        CLink* link;
        uint64_t fingerprint;
    };

    void SortRows();

    CLinksManager* m_links = nullptr;
    CPartnersManager* m_partners = nullptr;
    std::vector<Row> m_rows;
    LinkColumn m_sortKind = LinkColumn::Project;
    bool m_sortDescending = true;
    int64_t m_totalCost = 0;
    int64_t m_totalPrice = 0;
};
