#include "PartnersListDlg.h"

#include "PartnerCommands.h"
#include "PartnerPropertiesDlg.h"
#include "core/platform/SettingsStore.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "gui/widgets/ColumnLayout.h"
#include "gui/widgets/Icons.h"
#include "gui/widgets/MessageBox.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <unordered_set>

namespace {

// Rows a new dialog shows before the user gives it a size of their own.
constexpr int kDefaultVisibleRows = 16;

QByteArray ToQByteArray(const std::vector<uint8_t>& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

} // namespace

CPartnersListDlg::CPartnersListDlg(CPartnersManager& partners, const CLinksManager& links, ISettingsStore& store,
                                   std::function<void()> addPartner, QWidget* parent)
    : QDialog(parent), m_partners(partners), m_links(links), m_store(store), m_addPartner(std::move(addPartner))
{
    setWindowTitle(tr("Partners"));
    setAccessibleName(windowTitle());
    setWindowIcon(OrvexIcon(QStringLiteral("orvex")));
    setSizeGripEnabled(true);

    auto* label = new QLabel(tr("&Manage your partners list"), this);
    m_model = new CPartnersModel(this);
    m_list = new CPartnersListCtrl(this);
    m_list->setObjectName(QStringLiteral("partnersList"));
    m_list->setModel(m_model);
    label->setBuddy(m_list);
    // Item views speak only their own accessible name, not their label's.
    m_list->setAccessibleName(QString(label->text()).remove(QLatin1Char('&')));

    m_addButton = new QPushButton(tr("&Add..."), this);
    m_editButton = new QPushButton(tr("&Edit..."), this);
    m_deleteButton = new QPushButton(tr("&Delete..."), this);
    m_closeButton = new QPushButton(tr("&Close"), this);
    m_addButton->setObjectName(QStringLiteral("addButton"));
    m_editButton->setObjectName(QStringLiteral("editButton"));
    m_deleteButton->setObjectName(QStringLiteral("deleteButton"));
    m_closeButton->setObjectName(QStringLiteral("closeButton"));
    m_closeButton->setDefault(true);
    m_editButton->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_editButton);
    buttons->addWidget(m_deleteButton);
    buttons->addStretch(1);
    buttons->addWidget(m_closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    setTabOrder(m_list, m_addButton);
    setTabOrder(m_addButton, m_editButton);
    setTabOrder(m_editButton, m_deleteButton);
    setTabOrder(m_deleteButton, m_closeButton);

    m_rowMenu = new QMenu(this);
    m_addAction = m_rowMenu->addAction(OrvexIcon(QStringLiteral("partner-add")), tr("&Add"));
    m_editAction = m_rowMenu->addAction(OrvexIcon(QStringLiteral("edit")), tr("&Edit..."));
    m_deleteAction = m_rowMenu->addAction(OrvexIcon(QStringLiteral("delete")), tr("&Delete"));

    const auto stored = m_store.GetBinary(SettingsNames::kGuiSection, SettingsNames::kPartnersListSettings);
    ApplyLayout(stored ? PartnersListLayout::FromBytes(*stored) : PartnersListLayout::Defaults());

    connect(m_addButton, &QPushButton::clicked, this, &CPartnersListDlg::OnAdd);
    connect(m_editButton, &QPushButton::clicked, this, &CPartnersListDlg::OnEdit);
    connect(m_deleteButton, &QPushButton::clicked, this, &CPartnersListDlg::OnDelete);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_addAction, &QAction::triggered, this, &CPartnersListDlg::OnAdd);
    connect(m_editAction, &QAction::triggered, this, &CPartnersListDlg::OnEdit);
    connect(m_deleteAction, &QAction::triggered, this, [this] {
        if (!GetSelectedRows().empty())
            OnDelete();
    });

    QHeaderView* header = m_list->horizontalHeader();
    connect(header, &QHeaderView::sectionClicked, this,
            [this](int section) { OnHeaderClicked(PartnerColumnAt(section)); });
    connect(header, &QWidget::customContextMenuRequested, this, &CPartnersListDlg::ShowColumnMenu);
    connect(m_list, &CPartnersListCtrl::EditRequested, this, &CPartnersListDlg::OnEdit);
    connect(m_list, &CPartnersListCtrl::DeleteRequested, this, [this] {
        if (!GetSelectedRows().empty())
            OnDelete();
    });
    connect(m_list, &CPartnersListCtrl::RowActivated, this, [this](int row) {
        SelectOnly(row);
        EditPartner(m_model->GetPartner(row));
    });
    connect(m_list, &CPartnersListCtrl::EmptyAreaActivated, this, &CPartnersListDlg::OnAdd);
    connect(m_list, &CPartnersListCtrl::RowMenuRequested, this, &CPartnersListDlg::ShowRowMenu);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CPartnersListDlg::UpdateCommandStates);

    FillList();

    const auto placement = m_store.GetBinary(SettingsNames::kGuiSection, SettingsNames::kPartnersListDialog);
    if (!placement || !restoreGeometry(ToQByteArray(*placement))) {
        const QMargins margins = layout->contentsMargins();
        const int width = header->length() + m_list->frameWidth() * 2 + margins.left() + margins.right();
        const int height = m_list->verticalHeader()->defaultSectionSize() * kDefaultVisibleRows;
        resize(sizeHint().expandedTo(QSize(width, height)));
    }
    m_list->setFocus();
}

CPartnersListDlg::~CPartnersListDlg() = default;

void CPartnersListDlg::FillList()
{
    // Widths and order the user changed since survive the rebuild.
    m_layout = ReadLayout();
    m_model->FillList(m_partners);
    m_list->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    UpdateCommandStates();
}

std::vector<int> CPartnersListDlg::GetSelectedRows() const
{
    return m_list->SelectedRows();
}

void CPartnersListDlg::SelectOnly(int row)
{
    m_list->SelectOnly(row);
}

PartnersListLayout CPartnersListDlg::ReadLayout() const
{
    PartnersListLayout layout = m_layout;
    ColumnLayout::ReadFromHeader(*m_list->horizontalHeader(), layout.columnCount, layout.columnOrder,
                                 layout.columnVisible, layout.columnWidth);
    return layout;
}

void CPartnersListDlg::ApplyLayout(const PartnersListLayout& layout)
{
    m_layout = layout;
    for (int32_t& width : m_layout.columnWidth)
        width = std::clamp(width, 0, ColumnLayout::kMaxWidth);
    ColumnLayout::ApplyToHeader(*m_list->horizontalHeader(), layout.columnCount, layout.columnOrder,
                                layout.columnVisible, layout.columnWidth);
}

void CPartnersListDlg::SaveLayout()
{
    m_layout = ReadLayout();
    m_store.SetBinary(SettingsNames::kGuiSection, SettingsNames::kPartnersListSettings, m_layout.ToBytes());
}

void CPartnersListDlg::OnHeaderClicked(PartnerColumn kind)
{
    const bool descending = kind == m_model->GetSortKind() ? !m_model->IsSortDescending() : false;
    const Qt::SortOrder order = descending ? Qt::DescendingOrder : Qt::AscendingOrder;
    m_model->sort(ColumnIndex(kind), order);
    m_list->horizontalHeader()->setSortIndicator(ColumnIndex(kind), order);
}

void CPartnersListDlg::ToggleColumn(PartnerColumn kind)
{
    const int section = ColumnIndex(kind);
    if (section < 0 || section >= kPartnerColumnCount)
        return;
    PartnersListLayout layout = ReadLayout();
    ColumnLayout::ToggleKind(section, layout.columnCount, layout.columnOrder, layout.columnVisible);
    ApplyLayout(layout);
    FillList();
}

void CPartnersListDlg::ShowColumnMenu(const QPoint& pos)
{
    QMenu menu(this);
    const QHeaderView* header = m_list->horizontalHeader();
    const int shownCount = header->count() - header->hiddenSectionCount();
    for (PartnerColumn kind : kPartnerColumns) {
        const int section = ColumnIndex(kind);
        QAction* action = menu.addAction(PartnerColumnTitle(kind));
        action->setCheckable(true);
        action->setChecked(!header->isSectionHidden(section));
        action->setData(section);
        // Without any header item there would be nothing left to right-click to get one back.
        action->setEnabled(header->isSectionHidden(section) || shownCount > 1);
    }
    if (QAction* chosen = menu.exec(header->viewport()->mapToGlobal(pos)))
        ToggleColumn(PartnerColumnAt(chosen->data().toInt()));
}

void CPartnersListDlg::ShowRowMenu(const QPoint& globalPos)
{
    UpdateCommandStates();
    m_rowMenu->exec(globalPos);
}

void CPartnersListDlg::UpdateCommandStates()
{
    const std::size_t selected = GetSelectedRows().size();
    m_editButton->setEnabled(selected == 1);
    m_editAction->setEnabled(selected == 1);
    m_deleteAction->setEnabled(selected >= 1);
}

void CPartnersListDlg::OnAdd()
{
    const std::size_t before = m_partners.GetCount();
    if (m_addPartner)
        m_addPartner();
    else
        RunNewPartnerFlow(m_partners, this);
    if (m_partners.GetCount() > before)
        FillList();
}

void CPartnersListDlg::OnEdit()
{
    const std::vector<int> rows = GetSelectedRows();
    if (rows.size() == 1)
        EditPartner(m_model->GetPartner(rows.front()));
}

void CPartnersListDlg::EditPartner(CPartner* partner)
{
    if (!partner)
        return;
    CPartnersPropertiesDlg dialog(partner, this);
    if (dialog.exec() == QDialog::Accepted)
        FillList();
}

QString CPartnersListDlg::DeleteQuestion(const std::vector<const CPartner*>& selected) const
{
    QString question = tr("Are you sure you want to delete selected partner(s)?");
    std::unordered_set<int32_t> ids;
    for (const CPartner* partner : selected)
        ids.insert(partner->GetId());
    // The links stay and keep naming the partner's identifier, so they lose their partner
    // without a word unless the question says so.
    const std::vector<CLink*> links = m_links.GetLinks();
    const auto named = std::count_if(links.begin(), links.end(),
                                     [&](const CLink* link) { return ids.count(link->GetPartnerId()) > 0; });
    if (named == 1)
        question += tr(" 1 link names the selected partner(s) and will then show no partner.");
    else if (named > 1)
        question += tr(" %1 links name the selected partner(s) and will then show no partner.").arg(named);
    return question;
}

void CPartnersListDlg::OnDelete()
{
    const std::vector<int> rows = GetSelectedRows();
    if (rows.empty()) {
        FillList();
        return;
    }
    std::vector<const CPartner*> selected;
    for (int row : rows)
        selected.push_back(m_model->GetPartner(row));
    if (!MessageBox::AskYesNo(this, DeleteQuestion(selected), QMessageBox::NoIcon))
        return;
    for (const CPartner* partner : selected)
        m_partners.RemovePartner(partner);
    FillList();
}

void CPartnersListDlg::done(int result)
{
    SaveState();
    QDialog::done(result);
}

void CPartnersListDlg::SaveState()
{
    SaveLayout();
    const QByteArray geometry = saveGeometry();
    m_store.SetBinary(SettingsNames::kGuiSection, SettingsNames::kPartnersListDialog,
                      std::vector<uint8_t>(geometry.begin(), geometry.end()));
}
