#include "LinksModel.h"

#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPalette>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <functional>
#include <string_view>
#include <unordered_map>

namespace {

const QColor kProblemBackground(255, 0, 0);
const QColor kExpiringBackground(255, 180, 7);
const QColor kSelectedPlain(182, 202, 234);
const QColor kSelectedProblem(182, 37, 68);
const QColor kSelectedExpiring(182, 136, 68);

using PartnerNames = std::unordered_map<int32_t, std::string_view>;

// Sorting and fingerprinting 100,000 rows cannot afford a linear partner search per row.
PartnerNames MapPartnerNames(const CPartnersManager* partners)
{
    PartnerNames names;
    if (!partners)
        return names;
    const std::vector<CPartner*> all = partners->GetPartners();
    names.reserve(all.size());
    for (const CPartner* p : all)
        names.emplace(p->GetId(), p->GetName()); // the first partner of an id wins, as FindById does
    return names;
}

std::string_view NameOf(const PartnerNames& names, int32_t id)
{
    if (id == -1)
        return {};
    const auto it = names.find(id);
    return it == names.end() ? std::string_view() : it->second;
}

// The status names are a tiny fixed set; sorting compares them as bytes without building strings.
std::string_view StatusNameView(uint32_t status)
{
    static const std::array<std::string, 8> names = [] {
        std::array<std::string, 8> n;
        for (int bit = 0; bit < 8; ++bit)
            n[static_cast<std::size_t>(bit)] = GetStatusName(1u << bit);
        return n;
    }();
    if (status == 0 || (status & (status - 1)) != 0 || status > 0x80)
        return {};
    return names[static_cast<std::size_t>(std::countr_zero(status))];
}

enum class KeyType
{
    Text,
    Integer,
    Date,
};

KeyType KeyTypeOf(int kind)
{
    switch (kind) {
    case ColumnFirstStart:
    case ColumnStart:
    case ColumnEnd:
        return KeyType::Date;
    case ColumnFullCost:
    case ColumnPrice:
    case ColumnStartingPR:
    case ColumnCurrentPR:
    case ColumnExternalLinks:
        return KeyType::Integer;
    default:
        return KeyType::Text;
    }
}

std::string_view TextKey(const CLink& link, int kind, const PartnerNames& names)
{
    switch (kind) {
    case ColumnStatus:
        return StatusNameView(link.GetStatus());
    case ColumnProject:
        return link.GetProject();
    case ColumnPartner:
        return NameOf(names, link.GetPartnerId());
    case ColumnAnchor:
        return link.GetAnchor();
    case ColumnFromPage:
        return link.GetFromPage();
    case ColumnToPage:
        return link.GetToPage();
    case ColumnComment:
        return link.GetComment();
    default:
        return {};
    }
}

int64_t IntegerKey(const CLink& link, int kind)
{
    switch (kind) {
    case ColumnFullCost:
        return link.GetCostPerPeriod();
    case ColumnPrice:
        return link.GetCostPerMonth();
    case ColumnStartingPR:
        return link.GetStartingPR();
    case ColumnCurrentPR:
        return link.GetStatus() == 0 ? -1 : link.GetCurrentPR();
    case ColumnExternalLinks:
        return link.GetStatus() == 0 ? -1 : link.GetExternalLinks();
    default:
        return 0;
    }
}

OleDateTime DateOf(const CLink& link, int kind)
{
    switch (kind) {
    case ColumnFirstStart:
        return link.GetFirstPaymentDate();
    case ColumnStart:
        return link.GetLastPaymentDate();
    default:
        return link.GetExpiryDate();
    }
}

// Before 30 December 1899 the fraction of an OLE date counts forward from the negative day, so the
// raw value does not order; this day count does.
double LinearDays(const OleDateTime& date)
{
    const double v = date.GetValue();
    if (v >= 0)
        return v;
    const double day = std::ceil(v);
    return day + (day - v);
}

inline void Mix(uint64_t& h, uint64_t v)
{
    h ^= v + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
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

// The text a cell shows, in the bytes the records hold (UTF-8); formatted cells are written into
// `scratch`. The list's cells and Find both read it, so they cannot disagree about what is shown.
std::string_view ShownText(const CLink& link, int kind, std::string_view partnerName, std::string& scratch)
{
    const uint32_t status = link.GetStatus();
    const auto number = [&scratch](int64_t value) -> std::string_view {
        scratch = std::to_string(value);
        return scratch;
    };
    switch (kind) {
    case ColumnStatus:
        if (status == 0)
            return "?";
        return StatusNameView(status);
    case ColumnPartner:
        return partnerName;
    case ColumnFirstStart:
    case ColumnStart:
    case ColumnEnd:
        scratch = FormatDate(DateOf(link, kind));
        return scratch;
    case ColumnFullCost:
    case ColumnPrice:
    case ColumnStartingPR:
        return number(IntegerKey(link, kind));
    case ColumnCurrentPR:
    case ColumnExternalLinks:
        return status == 0 ? std::string_view("-") : number(IntegerKey(link, kind));
    default:
        return TextKey(link, kind, {});
    }
}

} // namespace

bool KindCanShow(int kind, std::string_view text, bool upperCased)
{
    // What ShownText writes for them: "MM/DD/YY", "Invalid DateTime" or nothing; a number or "-".
    const auto madeOf = [text](std::string_view characters, std::size_t longest) {
        return text.size() <= longest && text.find_first_not_of(characters) == std::string_view::npos;
    };
    switch (KeyTypeOf(kind)) {
    case KeyType::Date:
        return madeOf("0123456789/", 8) ||
               std::string_view(upperCased ? "INVALID DATETIME" : "Invalid DateTime").find(text) !=
                   std::string_view::npos;
    case KeyType::Integer:
        return madeOf("0123456789-", 20);
    case KeyType::Text:
        break;
    }
    return true;
}

QString LinkColumnName(int kind)
{
    static const std::array<const char*, kLinkColumnCount> names = {
        "Status", "Project",     "Partner",    "Anchor",    "First Start", "Start",          "End",    "Full cost",
        "Price",  "Starting PR", "Current PR", "From page", "To Page",     "External links", "Comment"};
    if (kind < 0 || kind >= kLinkColumnCount)
        return {};
    return QString::fromLatin1(names[static_cast<std::size_t>(kind)]);
}

LinkRowColors GetLinkRowColors(uint32_t status, bool selected, bool focused, const QPalette& palette)
{
    if (selected && !focused)
        return {palette.color(QPalette::Button), palette.color(QPalette::ButtonText)};
    LinkRowColors colors;
    bool plain = false;
    if (status & StatusProblematicMask)
        colors = {kProblemBackground, Qt::white};
    else if (status & StatusExpiring)
        colors = {kExpiringBackground, Qt::black};
    else {
        colors = {palette.color(QPalette::Base), palette.color(QPalette::Text)};
        plain = true;
    }
    if (!selected)
        return colors;
    if (plain)
        colors.background = kSelectedPlain; // the text keeps the window colour on light blue
    else {
        colors.background = colors.background == kProblemBackground ? kSelectedProblem : kSelectedExpiring;
        colors.text = palette.color(QPalette::HighlightedText);
    }
    return colors;
}

QString ShortenText(const QString& text, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    const QString dots = QStringLiteral("...");
    // The width of a prefix plus "..." grows with the prefix, so the longest prefix that fits is
    // found by halving instead of by dropping one character at a time.
    qsizetype lo = 0;
    qsizetype hi = text.size() - 1;
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (metrics.horizontalAdvance(text.left(mid) + dots) <= width)
            lo = mid;
        else
            hi = mid - 1;
    }
    return text.left(lo) + dots;
}

QString StatusBalloonText(const CLink& link, const OleDateTime& now)
{
    switch (link.GetStatus()) {
    case StatusNone:
        return QStringLiteral("Unknown status");
    case StatusExpiring: {
        const double days = (link.GetExpiryDate() - now).GetDays();
        // Rounded like a stored period, so that "3 days and a few hours" counts as 3.
        const double whole = std::trunc(days + (days < 0 ? -1.0 / 172800.0 : 1.0 / 172800.0));
        return QStringLiteral("The item(s) will be expired in %1 days").arg(static_cast<long long>(whole) + 1);
    }
    case StatusExpired:
        return QStringLiteral("This item has expired!");
    case StatusNotPresent:
        return QStringLiteral("This item is not present on \"From page\".");
    case StatusInvalidText:
        return QStringLiteral("This item was found with invalid text.");
    case StatusNofollow:
        return QStringLiteral("The link is blocked by \"nofollow\" flag");
    case StatusRobots:
        return QStringLiteral("The page is blocked by robots.txt");
    case StatusCantOpen:
        return QStringLiteral("\"From page\" is inaccessible");
    default:
        return {};
    }
}

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

QString CLinksModel::CellText(int row, int kind) const
{
    const CLink* link = GetLink(row);
    if (!link)
        return {};
    std::string_view partnerName;
    if (kind == ColumnPartner && m_partners)
        if (const CPartner* partner = m_partners->FindById(link->GetPartnerId()))
            partnerName = partner->GetName();
    std::string scratch;
    const std::string_view text = ShownText(*link, kind, partnerName, scratch);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

CCellTextReader::CCellTextReader(const CLinksModel& model)
    : m_model(model), m_partnerNames(MapPartnerNames(model.m_partners))
{
}

std::string_view CCellTextReader::Text(int row, int kind)
{
    if (row != m_row) {
        m_row = row;
        ReadAhead(row);
    }
    const CLink* link = m_model.GetLink(row);
    if (!link)
        return {};
    const std::string_view partnerName = kind == ColumnPartner ? NameOf(m_partnerNames, link->GetPartnerId()) : "";
    return ShownText(*link, kind, partnerName, m_scratch);
}

void CCellTextReader::ReadAhead(int row) const
{
    // The rows run in the list's order while their links lie in the order they were made, so
    // without this nearly every row waits for its link, and then for its texts, to come from
    // memory: the links some rows down are asked for now, the texts of those asked for before.
    constexpr int kLinkLead = 16;
    constexpr int kTextLead = 8;
    constexpr std::size_t kCacheLine = 64;
    if (const CLink* link = m_model.GetLink(row + kLinkLead))
        for (std::size_t offset = 0; offset < sizeof(CLink); offset += kCacheLine)
            __builtin_prefetch(reinterpret_cast<const char*>(link) + offset);
    if (const CLink* link = m_model.GetLink(row + kTextLead))
        for (const std::string* text :
             {&link->GetProject(), &link->GetAnchor(), &link->GetFromPage(), &link->GetToPage(), &link->GetComment()})
            __builtin_prefetch(text->data());
}

QVariant CLinksModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size()) || index.column() >= kLinkColumnCount)
        return {};
    const CLink& link = *m_rows[static_cast<std::size_t>(index.row())].link;
    const int kind = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return CellText(index.row(), kind);
    case SortKeyRole:
        switch (KeyTypeOf(kind)) {
        case KeyType::Text:
            if (kind == ColumnPartner) {
                const CPartner* partner = m_partners ? m_partners->FindById(link.GetPartnerId()) : nullptr;
                return partner ? QByteArray::fromStdString(partner->GetName()) : QByteArray("");
            }
            return QByteArray::fromStdString(std::string(TextKey(link, kind, {})));
        case KeyType::Integer:
            return QVariant::fromValue<qlonglong>(IntegerKey(link, kind));
        case KeyType::Date: {
            const OleDateTime date = DateOf(link, kind);
            return date.IsValid() ? QVariant(LinearDays(date)) : QVariant();
        }
        }
        return {};
    case StatusRole:
        return QVariant::fromValue<uint>(link.GetStatus());
    case Qt::BackgroundRole:
    case Qt::ForegroundRole: {
        const uint32_t status = link.GetStatus();
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
        return LinkColumnName(section);
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

void CLinksModel::SetSort(int kind, bool descending)
{
    m_sortKind = std::clamp(kind, 0, kLinkColumnCount - 1);
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

    if (full) {
        m_rows.reserve(links.size());
        for (CLink* link : links) {
            if (!m_partners->MatchesPartner(link->GetPartnerId()) || !m_links->Matches(*link))
                continue;
            m_rows.push_back({link, FingerprintOf(*link, NameOf(names, link->GetPartnerId()))});
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
        if (!m_partners->MatchesPartner(link->GetPartnerId()) || !m_links->Matches(*link))
            continue;
        m_totalCost += link->GetCostPerPeriod();
        m_totalPrice += link->GetCostPerMonth();
        const auto it = std::lower_bound(byLink.begin(), byLink.end(), std::pair<const CLink*, int>(link, -1));
        if (it == byLink.end() || it->first != link)
            continue;
        Row& row = m_rows[static_cast<std::size_t>(it->second)];
        const uint64_t fingerprint = FingerprintOf(*link, NameOf(names, link->GetPartnerId()));
        if (fingerprint != row.fingerprint) {
            row.fingerprint = fingerprint;
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
    SetSort(column, order == Qt::DescendingOrder);
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
    const int kind = m_sortKind;
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
    const PartnerNames names = kind == ColumnPartner ? MapPartnerNames(m_partners) : PartnerNames();
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
        case KeyType::Date: {
            const OleDateTime date = DateOf(*r.link, kind);
            // Null and invalid dates go before every real date.
            item.date = date.IsValid() ? LinearDays(date) : -HUGE_VAL;
            break;
        }
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

QString CLinksModel::CopyRowsAsText(const std::vector<int>& rows, const std::vector<int>& kinds) const
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
