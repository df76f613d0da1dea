#include "PartnersListCtrl.h"

#include "core/records/PartnersManager.h"
#include "gui/widgets/ColumnLayout.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>
#include <unordered_map>

namespace {

constexpr int kDefaultWidth = 70;

QString FromStd(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Tips only for the texts a cell cuts off.
class CCutOffTipDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        const QString text = index.data(Qt::DisplayRole).toString();
        if (option.fontMetrics.horizontalAdvance(text) > option.rect.width() - 4)
            QToolTip::showText(event->globalPos(), text, view, option.rect);
        else
            QToolTip::hideText();
        return true;
    }
};

} // namespace

QString PartnerColumnTitle(int kind)
{
    switch (kind) {
    case PartnerColumnName:
        return QStringLiteral("Name");
    case PartnerColumnOrganization:
        return QStringLiteral("Organization");
    case PartnerColumnEmail:
        return QStringLiteral("E-mail");
    case PartnerColumnIcq:
        return QStringLiteral("ICQ");
    case PartnerColumnPhone:
        return QStringLiteral("Phone");
    case PartnerColumnPaymentType1:
        return QStringLiteral("Payment type 1");
    case PartnerColumnPaymentId1:
        return QStringLiteral("Payment id 1");
    case PartnerColumnPaymentType2:
        return QStringLiteral("Payment type 2");
    case PartnerColumnPaymentId2:
        return QStringLiteral("Payment id 2");
    case PartnerColumnComment:
        return QStringLiteral("Comment");
    default:
        return {};
    }
}

std::string PartnerField(const CPartner& partner, int kind)
{
    switch (kind) {
    case PartnerColumnName:
        return partner.GetName();
    case PartnerColumnOrganization:
        return partner.GetOrganization();
    case PartnerColumnEmail:
        return partner.GetEmail();
    case PartnerColumnIcq:
        return partner.GetIcq();
    case PartnerColumnPhone:
        return partner.GetPhone();
    case PartnerColumnPaymentType1:
        return partner.GetPaymentType(0);
    case PartnerColumnPaymentId1:
        return partner.GetPaymentId(0);
    case PartnerColumnPaymentType2:
        return partner.GetPaymentType(1);
    case PartnerColumnPaymentId2:
        return partner.GetPaymentId(1);
    case PartnerColumnComment:
        return partner.GetComments();
    default:
        return {};
    }
}

QString PartnerCellText(const CPartner& partner, int kind)
{
    QString text = FromStd(PartnerField(partner, kind));
    if (kind == PartnerColumnComment)
        text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    return text;
}

PartnersListLayout PartnersListLayout::Defaults()
{
    PartnersListLayout layout;
    for (std::size_t i = 0; i < kPartnerColumnCount; ++i) {
        layout.columnOrder[i] = static_cast<int32_t>(i);
        layout.columnVisible[i] = 1;
        layout.columnWidth[i] = kDefaultWidth;
    }
    return layout;
}

PartnersListLayout PartnersListLayout::FromBytes(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() != kBytes)
        return Defaults();
    PartnersListLayout layout;
    std::size_t pos = 0;
    layout.columnCount = ColumnLayout::GetInt32(bytes, pos);
    for (auto& v : layout.columnOrder)
        v = ColumnLayout::GetInt32(bytes, pos);
    for (auto& v : layout.columnVisible)
        v = ColumnLayout::GetInt32(bytes, pos);
    for (auto& v : layout.columnWidth)
        v = ColumnLayout::GetInt32(bytes, pos);
    return layout;
}

std::vector<uint8_t> PartnersListLayout::ToBytes() const
{
    std::vector<uint8_t> out;
    out.reserve(kBytes);
    ColumnLayout::PutInt32(out, columnCount);
    for (int32_t v : columnOrder)
        ColumnLayout::PutInt32(out, v);
    for (int32_t v : columnVisible)
        ColumnLayout::PutInt32(out, v);
    for (int32_t v : columnWidth)
        ColumnLayout::PutInt32(out, v);
    return out;
}

std::vector<int> PartnersListLayout::ShownKinds() const
{
    return ColumnLayout::ShownKinds(columnVisible);
}

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
        return CellText(index.row(), index.column());
    return {};
}

QVariant CPartnersModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kPartnerColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return PartnerColumnTitle(section);
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
    m_sortKind = -1;
    m_sortDescending = false;
    endResetModel();
}

void CPartnersModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= kPartnerColumnCount)
        return;
    m_sortKind = column;
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
        items.push_back({p, PartnerField(*p, column)});
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

QString CPartnersModel::CellText(int row, int kind) const
{
    const CPartner* partner = GetPartner(row);
    return partner ? PartnerCellText(*partner, kind) : QString();
}

CPartnersListCtrl::CPartnersListCtrl(QWidget* parent) : CRowListView(parent)
{
    setTabKeyNavigation(false);
    setItemDelegate(new CCutOffTipDelegate(this));
    QHeaderView* header = horizontalHeader();
    header->setSectionsMovable(true);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
}

void CPartnersListCtrl::keyboardSearch(const QString& /*search*/)
{
}

void CPartnersListCtrl::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        switch (event->key()) {
        case Qt::Key_F2:
            emit EditRequested();
            return;
        case Qt::Key_Delete:
            emit DeleteRequested();
            return;
        default:
            break;
        }
    }
    QTableView::keyPressEvent(event);
}

void CPartnersListCtrl::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QTableView::mouseDoubleClickEvent(event);
        return;
    }
    const int y = event->position().toPoint().y();
    const int row = rowAt(y);
    if (row >= 0)
        emit RowActivated(row);
    else if (y >= 0)
        emit EmptyAreaActivated();
    event->accept();
}

void CPartnersListCtrl::contextMenuEvent(QContextMenuEvent* event)
{
    // From the keyboard the menu opens at the rows' top-left corner, just under the header.
    if (event->reason() == QContextMenuEvent::Keyboard)
        emit RowMenuRequested(viewport()->mapToGlobal(QPoint(0, 0)));
    else
        emit RowMenuRequested(event->globalPos());
}
