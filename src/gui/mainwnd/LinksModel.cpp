#include "LinksModel.h"

#include "LinkCells.h"
#include "LinkRowColors.h"
#include "core/fetch/CheckSettings.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"

#include <QGuiApplication>
#include <QPalette>

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <string_view>

namespace {

using LinkCells::DateKey;
using LinkCells::IntegerKey;
using LinkCells::KeyType;
using LinkCells::KeyTypeOf;
using LinkCells::MapPartnerNames;
using LinkCells::NameOf;
using LinkCells::PartnerNames;
using LinkCells::TextKey;

inline void Mix(uint64_t& h, uint64_t v)
{
    h ^= v + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
}

// A link never checked is coloured by what its dates warn of; the warning period is the one the
// checks use.
uint32_t ListedStatus(const CLink& link)
{
    const uint32_t status = link.GetStatus();
    return status != StatusNone ? status : link.GetListedStatus(GetCheckSettings().warningDays, OleDateTime::Now());
}

uint64_t FingerprintOf(const CLink& link, std::string_view partnerName)
{
    const std::hash<std::string_view> hs;
    uint64_t h = link.GetStatus();
    Mix(h, static_cast<uint32_t>(link.GetCurrentPR()));
    Mix(h, static_cast<uint32_t>(link.GetExternalLinks()));
    Mix(h, static_cast<uint32_t>(link.GetStartingPR()));
    Mix(h, static_cast<uint32_t>(link.GetCostPerPeriod()));
    Mix(h, static_cast<uint32_t>(link.GetCostPerMonth()));
    Mix(h, std::bit_cast<uint64_t>(link.GetFirstPaymentDate().GetValue()) ^ link.GetFirstPaymentDate().GetRawStatus());
    Mix(h, std::bit_cast<uint64_t>(link.GetLastPaymentDate().GetValue()) ^ link.GetLastPaymentDate().GetRawStatus());
    Mix(h, std::bit_cast<uint64_t>(link.GetPeriod().GetDays()) ^ link.GetPeriod().GetRawStatus());
    Mix(h, hs(link.GetProject()));
    Mix(h, hs(link.GetAnchor()));
    Mix(h, hs(link.GetFromPage()));
    Mix(h, hs(link.GetToPage()));
    Mix(h, hs(link.GetComment()));
    Mix(h, hs(partnerName));
    return h;
}

} // namespace

CLinksModel::CLinksModel(QObject* parent) : QAbstractTableModel(parent)
{
}

int CLinksModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CLinksModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kLinkColumnCount;
}

QString CLinksModel::CellText(int row, LinkColumn kind) const
{
    const CLink* link = GetLink(row);
    if (!link)
        return {};
    std::string_view partnerName;
    if (kind == LinkColumn::Partner && m_partners)
        if (const CPartner* partner = m_partners->FindById(link->GetPartnerId()))
            partnerName = partner->GetName();
    std::string scratch;
    const std::string_view text = LinkCells::ShownText(*link, kind, partnerName, scratch);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant CLinksModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size()) || index.column() >= kLinkColumnCount)
        return {};
    const CLink& link = *m_rows[static_cast<std::size_t>(index.row())].link;
    const LinkColumn kind = LinkColumnAt(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return CellText(index.row(), kind);
    case SortKeyRole:
        switch (KeyTypeOf(kind)) {
        case KeyType::Text:
            if (kind == LinkColumn::Partner) {
                const CPartner* partner = m_partners ? m_partners->FindById(link.GetPartnerId()) : nullptr;
                return partner ? QByteArray::fromStdString(partner->GetName()) : QByteArray("");
            }
            return QByteArray::fromStdString(std::string(TextKey(link, kind, {})));
        case KeyType::Integer:
            return QVariant::fromValue<qlonglong>(IntegerKey(link, kind));
        case KeyType::Date: {
            const double key = DateKey(link, kind);
            return key == -HUGE_VAL ? QVariant() : QVariant(key);
        }
        }
        return {};
    case StatusRole:
        return QVariant::fromValue<uint>(ListedStatus(link));
    case Qt::BackgroundRole:
    case Qt::ForegroundRole: {
        const uint32_t status = ListedStatus(link);
        if (!(status & (StatusProblematicMask | StatusExpiring)))
            return {}; // the view's own window colours
        const LinkRowColors colors = GetLinkRowColors(status, false, false, QGuiApplication::palette());
        return role == Qt::BackgroundRole ? colors.background : colors.text;
    }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
        return {};
    }
}

QVariant CLinksModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kLinkColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return LinkColumnName(LinkColumnAt(section));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

void CLinksModel::Attach(CLinksManager* links, CPartnersManager* partners)
{
    m_links = links;
    m_partners = partners;
    FillList(true);
}

CLink* CLinksModel::GetLink(int row) const
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return nullptr;
    return m_rows[static_cast<std::size_t>(row)].link;
}

int CLinksModel::RowOf(const CLink* link) const
{
    const auto it = std::find_if(m_rows.begin(), m_rows.end(), [&](const Row& r) { return r.link == link; });
    return it == m_rows.end() ? -1 : static_cast<int>(it - m_rows.begin());
}

void CLinksModel::SetSort(LinkColumn kind, bool descending)
{
    m_sortKind = LinkColumnAt(std::clamp(ColumnIndex(kind), 0, kLinkColumnCount - 1));
    m_sortDescending = descending;
}

void CLinksModel::FillList(bool full)
{
    if (full) {
        beginResetModel();
        m_rows.clear();
    }
    m_totalCost = 0;
    m_totalPrice = 0;
    if (!m_links || !m_partners) {
        if (full)
            endResetModel();
        return;
    }

    const PartnerNames names = MapPartnerNames(m_partners);
    const std::vector<CLink*> links = m_links->GetLinks();
    const int warningDays = GetCheckSettings().warningDays;
    const OleDateTime now = OleDateTime::Now();
    const auto passes = [&](const CLink& link) {
        return m_partners->MatchesPartner(link.GetPartnerId()) && m_links->Matches(link, warningDays, now);
    };
    // The colour a link never checked takes from its dates is left out: working it out for every
    // row would cost more than the whole update, and the window repaints after each date refresh.
    const auto fingerprint = [&](const CLink& link) { return FingerprintOf(link, NameOf(names, link.GetPartnerId())); };

    if (full) {
        m_rows.reserve(links.size());
        for (CLink* link : links) {
            if (!passes(*link))
                continue;
            m_rows.push_back({link, fingerprint(*link)});
            m_totalCost += link->GetCostPerPeriod();
            m_totalPrice += link->GetCostPerMonth();
        }
        // Each row went in at the top of the list, so unsorted rows run against collection order.
        std::reverse(m_rows.begin(), m_rows.end());
        SortRows();
        endResetModel();
        return;
    }

    // Rows are found by their link; a link the list does not show gets no row, and rows whose
    // links no longer pass the filters stay as they are.
    std::vector<std::pair<const CLink*, int>> byLink;
    byLink.reserve(m_rows.size());
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        byLink.emplace_back(m_rows[i].link, static_cast<int>(i));
    std::sort(byLink.begin(), byLink.end());

    std::vector<char> changed(m_rows.size(), 0);
    std::size_t changedCount = 0;
    for (CLink* link : links) {
        if (!passes(*link))
            continue;
        m_totalCost += link->GetCostPerPeriod();
        m_totalPrice += link->GetCostPerMonth();
        const auto it = std::lower_bound(byLink.begin(), byLink.end(), std::pair<const CLink*, int>(link, -1));
        if (it == byLink.end() || it->first != link)
            continue;
        Row& row = m_rows[static_cast<std::size_t>(it->second)];
        const uint64_t print = fingerprint(*link);
        if (print != row.fingerprint) {
            row.fingerprint = print;
            changed[static_cast<std::size_t>(it->second)] = 1;
            ++changedCount;
        }
    }
    if (changedCount == 0)
        return;
    const int last = kLinkColumnCount - 1;
    // Past half the rows, one signal is cheaper for every view than hundreds of small ones.
    if (changedCount * 2 > m_rows.size()) {
        emit dataChanged(index(0, 0), index(static_cast<int>(m_rows.size()) - 1, last));
        return;
    }
    for (std::size_t i = 0; i < changed.size();) {
        if (!changed[i]) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end + 1 < changed.size() && changed[end + 1])
            ++end;
        emit dataChanged(index(static_cast<int>(i), 0), index(static_cast<int>(end), last));
        i = end + 1;
    }
}

void CLinksModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= kLinkColumnCount)
        return;
    SetSort(LinkColumnAt(column), order == Qt::DescendingOrder);
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<CLink*> before;
    before.reserve(m_rows.size());
    for (const Row& r : m_rows)
        before.push_back(r.link);
    SortRows();

    // Selections and the current row follow their links to their new places.
    const QModelIndexList persistent = persistentIndexList();
    if (!persistent.isEmpty()) {
        std::vector<std::pair<const CLink*, int>> newRow;
        newRow.reserve(m_rows.size());
        for (std::size_t i = 0; i < m_rows.size(); ++i)
            newRow.emplace_back(m_rows[i].link, static_cast<int>(i));
        std::sort(newRow.begin(), newRow.end());
        QModelIndexList to;
        to.reserve(persistent.size());
        for (const QModelIndex& from : persistent) {
            const CLink* link = before[static_cast<std::size_t>(from.row())];
            const auto it = std::lower_bound(newRow.begin(), newRow.end(), std::pair<const CLink*, int>(link, -1));
            to.push_back(index(it->second, from.column()));
        }
        changePersistentIndexList(persistent, to);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CLinksModel::SortRows()
{
    if (m_rows.size() < 2)
        return;
    const LinkColumn kind = m_sortKind;
    const KeyType type = KeyTypeOf(kind);
    const bool descending = m_sortDescending;

    // Keys are taken once per row; comparing links directly would repeat cost and partner
    // look-ups some two million times for a large list.
    struct Item
    {
        Row row;
        std::string_view text;
        int64_t number;
        double date;
    };
    const PartnerNames names = kind == LinkColumn::Partner ? MapPartnerNames(m_partners) : PartnerNames();
    std::vector<Item> items;
    items.reserve(m_rows.size());
    for (const Row& r : m_rows) {
        Item item{r, {}, 0, 0.0};
        switch (type) {
        case KeyType::Text:
            item.text = TextKey(*r.link, kind, names);
            break;
        case KeyType::Integer:
            item.number = IntegerKey(*r.link, kind);
            break;
        case KeyType::Date:
            item.date = DateKey(*r.link, kind);
            break;
        }
        items.push_back(item);
    }

    auto sortBy = [&](auto less) {
        if (descending)
            std::stable_sort(items.begin(), items.end(), [&](const Item& a, const Item& b) { return less(b, a); });
        else
            std::stable_sort(items.begin(), items.end(), less);
    };
    switch (type) {
    case KeyType::Text:
        // std::string_view compares through char_traits<char>, which orders bytes as unsigned.
        sortBy([](const Item& a, const Item& b) { return a.text < b.text; });
        break;
    case KeyType::Integer:
        sortBy([](const Item& a, const Item& b) { return a.number < b.number; });
        break;
    case KeyType::Date:
        sortBy([](const Item& a, const Item& b) { return a.date < b.date; });
        break;
    }
    for (std::size_t i = 0; i < items.size(); ++i)
        m_rows[i] = items[i].row;
}

QString CLinksModel::CopyRowsAsText(const std::vector<int>& rows, const std::vector<LinkColumn>& kinds) const
{
    QString text;
    for (int row : rows) {
        if (!GetLink(row))
            continue;
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            if (i > 0)
                text += QStringLiteral("\t\t");
            text += CellText(row, kinds[i]);
        }
        text += QStringLiteral("\r\n");
    }
    return text;
}
