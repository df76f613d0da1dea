#include "PartnersModel.h"

#include "core/records/PartnersManager.h"

#include <algorithm>
#include <string>
#include <unordered_map>

CPartnersModel::CPartnersModel(QObject* parent) : QAbstractTableModel(parent)
{
}

int CPartnersModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CPartnersModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kPartnerColumnCount;
}

QVariant CPartnersModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kPartnerColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return CellText(index.row(), PartnerColumnAt(index.column()));
    return {};
}

QVariant CPartnersModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kPartnerColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return PartnerColumnTitle(PartnerColumnAt(section));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

void CPartnersModel::FillList(const CPartnersManager& partners)
{
    beginResetModel();
    // Each partner went in at the top of the list, so the newest stands first.
    m_rows = partners.GetPartners();
    std::reverse(m_rows.begin(), m_rows.end());
    m_sortKind.reset();
    m_sortDescending = false;
    endResetModel();
}

void CPartnersModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= kPartnerColumnCount)
        return;
    const PartnerColumn kind = PartnerColumnAt(column);
    m_sortKind = kind;
    m_sortDescending = order == Qt::DescendingOrder;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<CPartner*> before = m_rows;

    struct Item
    {
        CPartner* partner;
        std::string key;
    };
    std::vector<Item> items;
    items.reserve(m_rows.size());
    for (CPartner* p : m_rows)
        items.push_back({p, PartnerField(*p, kind)});
    // std::string compares through char_traits<char>, which orders bytes as unsigned.
    if (m_sortDescending)
        std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return b.key < a.key; });
    else
        std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.key < b.key; });
    std::unordered_map<const CPartner*, int> newRow;
    for (std::size_t i = 0; i < items.size(); ++i) {
        m_rows[i] = items[i].partner;
        newRow.emplace(items[i].partner, static_cast<int>(i));
    }

    // Selections and the current row follow their partners to their new places.
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& index : from)
        to.push_back(this->index(newRow.at(before[static_cast<std::size_t>(index.row())]), index.column()));
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

CPartner* CPartnersModel::GetPartner(int row) const
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    return m_rows[static_cast<std::size_t>(row)];
}

QString CPartnersModel::CellText(int row, PartnerColumn kind) const
{
    const CPartner* partner = GetPartner(row);
    return partner ? PartnerCellText(*partner, kind) : QString();
}
