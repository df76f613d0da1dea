#pragma once

#include "PartnerColumn.h"

#include <QAbstractTableModel>

#include <optional>
#include <vector>

class CPartner;
class CPartnersManager;

/// One row per partner, one column per kind (the view hides the kinds the user does not want).
class CPartnersModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit CPartnersModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    /// Sorts the rows by the stored text of the kind of header section `column`, byte by byte.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    /// Rebuilds the rows from the collection, the last created partner first, and forgets the
    /// sort: the rows stand unsorted until the next header click.
    void FillList(const CPartnersManager& partners);

    /// None while the rows are unsorted.
    std::optional<PartnerColumn> GetSortKind() const { return m_sortKind; }
    bool IsSortDescending() const { return m_sortDescending; }

    CPartner* GetPartner(int row) const;
    QString CellText(int row, PartnerColumn kind) const;

private:
    std::vector<CPartner*> m_rows;
    std::optional<PartnerColumn> m_sortKind;
    bool m_sortDescending = false;
};
