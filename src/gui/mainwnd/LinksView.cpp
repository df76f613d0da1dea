#include "LinksView.h"

#include "core/platform/SettingsStore.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"
#include "gui/widgets/ColumnLayout.h"

#include <QApplication>
#include <QCursor>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kHoverDelayMs = 1500;
constexpr int kBalloonShowMs = 3000;
// A fit measures this many rows from the top, so that it costs the same for 100,000 links.
constexpr int kFitRows = 100;
// No fitted column grows past this many average characters (about 400 pixels at common sizes):
// one long address must not push the other columns out of the window.
constexpr int kFitMaxChars = 55;
// The delegate draws the text 2 pixels in from each side of the cell; the rest is air.
constexpr int kCellPadding = 12;

} // namespace

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

CLinksView::CLinksView(ISettingsStore& store, QWidget* parent) : QWidget(parent), m_store(store)
{
    setCursor(Qt::ArrowCursor);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_model = new CLinksModel(this);
    m_list = new CLinksListCtrl(this);
    m_list->setModel(m_model);
    layout->addWidget(m_list);
    setFocusProxy(m_list);

    const auto bytes = m_store.GetBinary(SettingsNames::kGuiSection, SettingsNames::kLinksListSettings);
    ApplyLayout(bytes ? ListLayout::FromBytes(*bytes) : ListLayout::Defaults());
    // Without a stored layout (the first start, or a value of another size, which is ignored) the
    // columns take the widths of what they show: the header texts now, and the first rows at the
    // first fill that has any. An empty database at the first start is thus fitted again when its
    // first links arrive (added or imported), instead of keeping widths fitted to no rows. Later
    // fills leave the widths alone, and the last column follows the window's edge for this session.
    // The layout is stored at exit like any other, so the next start uses it exactly as stored.
    m_unstoredLayout = !bytes || bytes->size() != ListLayout::kBytes;
    if (m_unstoredLayout) {
        m_fitPending = true;
        m_list->horizontalHeader()->setStretchLastSection(true);
        FitColumns();
    }

    QHeaderView* header = m_list->horizontalHeader();
    connect(header, &QHeaderView::sectionClicked, this,
            [this](int section) { OnHeaderClicked(LinkColumnAt(section)); });
    connect(header, &QWidget::customContextMenuRequested, this, &CLinksView::ShowColumnMenu);
    connect(m_list, &CLinksListCtrl::EditRequested, this, &CLinksView::EditRequested);
    connect(m_list, &CLinksListCtrl::DeleteRequested, this, &CLinksView::DeleteRequested);
    connect(m_list, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            emit EditRequested();
    });
    connect(m_list->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { HideStatusBalloon(); });

    m_hoverTimer.setSingleShot(true);
    m_hoverTimer.setInterval(kHoverDelayMs);
    connect(&m_hoverTimer, &QTimer::timeout, this, [this] {
        if (!QApplication::focusWidget() || !window()->isActiveWindow()) {
            HideStatusBalloon();
            return;
        }
        OnHoverTimeout(m_list->rowAt(m_list->viewport()->mapFromGlobal(QCursor::pos()).y()));
    });
    m_balloonTimer.setSingleShot(true);
    m_balloonTimer.setInterval(kBalloonShowMs);
    connect(&m_balloonTimer, &QTimer::timeout, this, [this] { HideStatusBalloon(true); });

    m_list->viewport()->installEventFilter(this);
    header->installEventFilter(this);
}

CLinksView::~CLinksView()
{
    SaveLayout();
}

void CLinksView::Attach(CLinksManager* links, CPartnersManager* partners)
{
    m_model->Attach(links, partners);
    UpdateSortIndicator();
    HideStatusBalloon();
    FitColumnsIfPending();
}

void CLinksView::FillList(bool full)
{
    if (full) {
        // Column widths and order the user changed since survive a rebuild and the next save.
        m_layout = ReadLayout();
        m_model->FillList(true);
        UpdateSortIndicator();
        HideStatusBalloon();
        FitColumnsIfPending();
    } else {
        m_model->FillList(false);
    }
}

int CLinksView::FittedWidth(LinkColumn kind) const
{
    const QFontMetrics metrics(m_list->font());
    return ColumnLayout::FittedWidth(
        *m_list->horizontalHeader(), ColumnIndex(kind), metrics, std::min(m_model->rowCount(), kFitRows), kCellPadding,
        kFitMaxChars * metrics.averageCharWidth(),
        [this](int row, int section) { return m_model->CellText(row, LinkColumnAt(section)); });
}

void CLinksView::FitColumns()
{
    QHeaderView* header = m_list->horizontalHeader();
    const bool stretch = header->stretchLastSection();
    // The stretched column is fitted like the others, then stretched again from its new width.
    header->setStretchLastSection(false);
    for (LinkColumn kind : kLinkColumns) {
        if (!header->isSectionHidden(ColumnIndex(kind))) {
            header->resizeSection(ColumnIndex(kind), FittedWidth(kind));
            m_fittedKinds.set(static_cast<std::size_t>(ColumnIndex(kind)));
        }
    }
    header->setStretchLastSection(stretch);
}

void CLinksView::FitColumnsIfPending()
{
    if (!m_fitPending)
        return;
    FitColumns();
    if (m_model->rowCount() > 0)
        m_fitPending = false;
}

ListLayout CLinksView::ReadLayout() const
{
    ListLayout layout = m_layout;
    ColumnLayout::ReadFromHeader(*m_list->horizontalHeader(), layout.columnCount, layout.columnOrder,
                                 layout.columnVisible, layout.columnWidth);
    const int sortHeader = layout.HeaderIndexOf(m_model->GetSortKind());
    if (sortHeader >= 0)
        layout.sortColumn = sortHeader;
    layout.sortDescending = m_model->IsSortDescending() ? 1 : 0;
    return layout;
}

void CLinksView::ApplyLayout(const ListLayout& stored)
{
    m_layout = stored;
    for (int32_t& width : m_layout.columnWidth)
        width = std::clamp<int32_t>(width, 0, ColumnLayout::kMaxWidth);
    ColumnLayout::ApplyToHeader(*m_list->horizontalHeader(), stored.columnCount, stored.columnOrder,
                                stored.columnVisible, m_layout.columnWidth);
    const std::vector<LinkColumn> shown = stored.ShownKinds();
    const int count = static_cast<int>(shown.size());

    LinkColumn sortKind = LinkColumn::Project;
    if (stored.sortColumn >= 0 && stored.sortColumn < count)
        sortKind = shown[static_cast<std::size_t>(stored.sortColumn)];
    else if (count > 0)
        sortKind = shown.front();
    m_model->SetSort(sortKind, stored.sortDescending != 0);
    UpdateSortIndicator();
}

void CLinksView::SaveLayout()
{
    m_layout = ReadLayout();
    m_store.SetBinary(SettingsNames::kGuiSection, SettingsNames::kLinksListSettings, m_layout.ToBytes());
}

void CLinksView::UpdateSortIndicator()
{
    m_list->horizontalHeader()->setSortIndicator(
        ColumnIndex(m_model->GetSortKind()), m_model->IsSortDescending() ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void CLinksView::OnHeaderClicked(LinkColumn kind)
{
    const bool descending = kind == m_model->GetSortKind() ? !m_model->IsSortDescending() : false;
    m_model->sort(ColumnIndex(kind), descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    UpdateSortIndicator();
}

void CLinksView::ToggleColumn(LinkColumn kind)
{
    const int section = ColumnIndex(kind);
    if (section < 0 || section >= kLinkColumnCount)
        return;
    // A stretched last column gives its own width back first: read with the stretch, it would keep
    // that width when another column takes its place, or when it stretches again.
    QHeaderView* header = m_list->horizontalHeader();
    const bool stretch = header->stretchLastSection();
    header->setStretchLastSection(false);
    ListLayout layout = ReadLayout();
    ColumnLayout::ToggleKind(section, layout.columnCount, layout.columnOrder, layout.columnVisible);
    // The sort stays on its kind while it is shown; a hidden sort kind passes its header index on.
    const int sortHeader = layout.HeaderIndexOf(m_model->GetSortKind());
    if (sortHeader >= 0)
        layout.sortColumn = sortHeader;
    ApplyLayout(layout);
    FillList(true);
    // A column that was hidden at every fit so far is fitted when it appears; one that was fitted
    // before comes back with the width it had.
    if (m_unstoredLayout && !header->isSectionHidden(section) &&
        !m_fittedKinds.test(static_cast<std::size_t>(section))) {
        header->resizeSection(section, FittedWidth(kind));
        m_fittedKinds.set(static_cast<std::size_t>(section));
    }
    header->setStretchLastSection(stretch);
}

void CLinksView::ShowColumnMenu(const QPoint& pos)
{
    QMenu menu(this);
    const QHeaderView* header = m_list->horizontalHeader();
    for (LinkColumn kind : kLinkColumns) {
        QAction* action = menu.addAction(LinkColumnName(kind));
        action->setCheckable(true);
        action->setChecked(!header->isSectionHidden(ColumnIndex(kind)));
        action->setData(ColumnIndex(kind));
    }
    m_menuOpen = true;
    HideStatusBalloon();
    QAction* chosen = menu.exec(header->viewport()->mapToGlobal(pos));
    m_menuOpen = false;
    if (chosen)
        ToggleColumn(LinkColumnAt(chosen->data().toInt()));
}

std::vector<int> CLinksView::GetSelectedRows() const
{
    return m_list->SelectedRows();
}

void CLinksView::SelectOnly(int row)
{
    if (!m_list->SelectOnly(row))
        return;
    // The table does not scroll to a cell of a hidden column, and the first kind may be hidden:
    // the column at the left edge keeps the sideways position as it is.
    int column = m_list->columnAt(0);
    if (column < 0)
        column = m_list->horizontalHeader()->logicalIndex(0);
    m_list->scrollTo(m_model->index(row, std::max(column, 0)));
}

QString CLinksView::CopySelectionAsText() const
{
    const ListLayout layout = ReadLayout();
    const std::vector<LinkColumn> shown = layout.ShownKinds();
    std::vector<LinkColumn> kinds;
    for (int i = 0; i < layout.columnCount; ++i)
        kinds.push_back(shown[static_cast<std::size_t>(layout.columnOrder[static_cast<std::size_t>(i)])]);
    return m_model->CopyRowsAsText(GetSelectedRows(), kinds);
}

void CLinksView::SetMenuOpen(bool open)
{
    m_menuOpen = open;
    if (open)
        HideStatusBalloon();
}

void CLinksView::HideStatusBalloon(bool keepLink)
{
    m_hoverTimer.stop();
    m_balloonTimer.stop();
    if (m_balloonVisible)
        QToolTip::hideText();
    m_balloonVisible = false;
    if (!keepLink)
        m_balloonLink = nullptr;
}

void CLinksView::OnHotRow(int row)
{
    const CLink* link = m_model->GetLink(row);
    if (!link || m_menuOpen) {
        HideStatusBalloon();
        return;
    }
    if (link == m_balloonLink)
        return;
    HideStatusBalloon();
    if (link->GetStatus() != StatusOk)
        m_hoverTimer.start();
}

void CLinksView::OnHoverTimeout(int row)
{
    const CLink* link = m_model->GetLink(row);
    if (link && !m_menuOpen)
        ShowStatusBalloon(link);
    else
        HideStatusBalloon();
}

void CLinksView::ShowStatusBalloon(const CLink* link)
{
    if (m_balloonVisible && m_balloonLink == link)
        return;
    QToolTip::showText(QCursor::pos(), StatusBalloonText(*link, OleDateTime::Now()), m_list->viewport(), QRect(),
                       kBalloonShowMs);
    m_balloonVisible = true;
    m_balloonLink = link;
    m_balloonTimer.start();
}

bool CLinksView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list->viewport()) {
        if (event->type() == QEvent::MouseMove)
            OnHotRow(m_list->rowAt(static_cast<QMouseEvent*>(event)->position().toPoint().y()));
        else if (event->type() == QEvent::Leave || event->type() == QEvent::Wheel)
            HideStatusBalloon();
    } else if (watched == m_list->horizontalHeader()) {
        if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter)
            HideStatusBalloon();
    }
    return QWidget::eventFilter(watched, event);
}
