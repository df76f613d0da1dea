#include "LinksPackDlg.h"

#include "EditingSupport.h"
#include "LinkPropertiesDlg.h"
#include "core/records/PartnersManager.h"
#include "core/runs/DateRefresh.h"
#include "gui/widgets/DialogFields.h"
#include "gui/widgets/MessageBox.h"
#include "ui_LinksPackDlg.h"

#include <QHeaderView>
#include <QSignalBlocker>

#include <algorithm>

namespace {

template <class Get> bool AllSame(const std::vector<CLink*>& links, Get get)
{
    return std::all_of(links.begin(), links.end(),
                       [&](const CLink* link) { return get(*link) == get(*links.front()); });
}

} // namespace

CLinksPackDlg::CLinksPackDlg(CPartnersManager& partners, CLinksManager& links, std::vector<CLink*> group,
                             std::function<void()> addPartner, QWidget* parent)
    : QDialog(parent), m_partners(partners), m_links(links), m_workLinks(std::move(group)),
      m_groupMode(!m_workLinks.empty()), m_addPartner(std::move(addPartner)), m_ui(std::make_unique<Ui::LinksPackDlg>())
{
    m_ui->setupUi(this);
    NameFieldsByTheirLabels(this);
    // Six equal columns, at least wide enough for every heading in the font in use.
    QHeaderView* header = m_ui->lstLinks->header();
    header->resizeSections(QHeaderView::ResizeToContents);
    int widest = 0;
    for (int i = 0; i < header->count(); ++i)
        widest = std::max(widest, header->sectionSize(i));
    m_ui->lstLinks->setMinimumWidth(widest * header->count() + 2 * m_ui->lstLinks->frameWidth());
    header->setSectionResizeMode(QHeaderView::Stretch);
    m_ui->lstLinks->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    PrepareEndDate(m_ui->dteEnd);
    QDate start = QDate::currentDate();
    QDate end = start;
    const CPartner* chosen = nullptr;
    bool permanent = false;
    if (m_groupMode) {
        permanent =
            std::all_of(m_workLinks.begin(), m_workLinks.end(), [](const CLink* l) { return l->IsPermanent(); });
        const CLink& first = *m_workLinks.front();
        if (AllSame(m_workLinks, [](const CLink& l) { return l.GetPartnerId(); }))
            chosen = m_partners.FindById(first.GetPartnerId());
        const bool sameStart = AllSame(m_workLinks, [](const CLink& l) { return l.GetFirstPaymentDate(); });
        if (sameStart)
            start = ToQDate(first.GetFirstPaymentDate());
        if (AllSame(m_workLinks, [](const CLink& l) { return l.GetExpiryDate(); }))
            end = ToQDate(first.GetExpiryDate());
        else if (sameStart)
            end = start;
    }
    m_ui->chkNeverExpires->setChecked(permanent);
    m_ui->dteStart->setDate(start);
    ShowEndDate(m_ui->dteEnd, permanent, end);
    RefillPartners(chosen);
    UpdateStep();
    FillList();

    connect(m_ui->cboPartner, &QComboBox::currentIndexChanged, this, &CLinksPackDlg::UpdateStep);
    connect(m_ui->spnMonths, &QSpinBox::valueChanged, this, &CLinksPackDlg::OnMonthsOrStartChanged);
    connect(m_ui->dteStart, &QDateEdit::dateChanged, this, &CLinksPackDlg::OnMonthsOrStartChanged);
    connect(m_ui->chkNeverExpires, &QCheckBox::toggled, this, [this](bool never) {
        if (never)
            ShowEndDate(m_ui->dteEnd, true, {});
        else if (m_ui->spnMonths->value() == 0)
            m_ui->spnMonths->setValue(12); // an ordinary period again: a year unless told otherwise
        OnMonthsOrStartChanged();
    });
    connect(m_ui->btnAddPartner, &QPushButton::clicked, this, &CLinksPackDlg::OnAddPartner);
    connect(m_ui->btnAddLink, &QPushButton::clicked, this, &CLinksPackDlg::OnAddLink);
    connect(m_ui->btnSave, &QPushButton::clicked, this, &CLinksPackDlg::OnSave);
    connect(m_ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    m_ui->cboPartner->setFocus();
    m_initialised = true;
}

CLinksPackDlg::~CLinksPackDlg() = default;

void CLinksPackDlg::RefillPartners(const CPartner* select)
{
    const QSignalBlocker block(m_ui->cboPartner);
    m_partnerEntries = m_partners.GetPartners();
    m_ui->cboPartner->clear();
    int chosen = -1;
    for (std::size_t i = 0; i < m_partnerEntries.size(); ++i) {
        m_ui->cboPartner->addItem(QString::fromStdString(m_partnerEntries[i]->GetName()));
        if (m_partnerEntries[i] == select)
            chosen = static_cast<int>(i);
    }
    // A list box chooses its first entry by itself; "none" must stay none.
    m_ui->cboPartner->setCurrentIndex(chosen);
}

CPartner* CLinksPackDlg::ChosenPartner() const
{
    const int index = m_ui->cboPartner->currentIndex();
    return index >= 0 && static_cast<std::size_t>(index) < m_partnerEntries.size() ? m_partnerEntries[index] : nullptr;
}

void CLinksPackDlg::UpdateStep()
{
    const bool permanent = m_ui->chkNeverExpires->isChecked();
    m_ui->spnMonths->setEnabled(!permanent);
    if (!permanent) {
        const int months = MonthsBetween(ToOleDate(m_ui->dteEnd->date()), ToOleDate(m_ui->dteStart->date()), false);
        if (m_ui->spnMonths->value() != months) {
            const QSignalBlocker block(m_ui->spnMonths);
            m_ui->spnMonths->setValue(months);
        }
    }
    const CPartner* partner = ChosenPartner();
    const QString name = partner ? QString::fromStdString(partner->GetName()) : QString();
    const QString email = partner ? QString::fromStdString(partner->GetEmail()) : QString();
    m_ui->lblPartnerInfo->setText(name.isEmpty() ? name : name + QLatin1Char(';') + email);
    m_ui->btnAddLink->setEnabled(!m_groupMode);
}

void CLinksPackDlg::OnMonthsOrStartChanged()
{
    if (!m_initialised)
        return;
    if (!m_ui->chkNeverExpires->isChecked())
        m_ui->dteEnd->setDate(ToQDate(AddMonths(ToOleDate(m_ui->dteStart->date()), m_ui->spnMonths->value())));
    UpdateStep();
}

void CLinksPackDlg::OnAddPartner()
{
    if (CPartner* added = AddPartnerFromDialog(m_partners, m_addPartner)) {
        RefillPartners(added);
        UpdateStep();
    }
}

void CLinksPackDlg::OnAddLink()
{
    if (m_groupMode)
        return;
    const CPartner* partner = ChosenPartner();
    CLink* link = m_pack.AddNewLink();
    link->SetPartnerId(partner ? partner->GetId() : -1);
    // Both payments on the pack's start, so that the short dialog counts the pack's months.
    const OleDateTime start = ToOleDate(m_ui->dteStart->date());
    link->SetFirstPaymentDate(start);
    link->SetLastPaymentDate(start);
    if (m_ui->chkNeverExpires->isChecked())
        link->MakePermanent();
    else
        link->SetPeriod(ToOleDate(m_ui->dteEnd->date()) - start);

    CLinksPropertiesDlg dialog(m_partners, m_links, link, true, m_addPartner, this);
    if (dialog.exec() != QDialog::Accepted) {
        m_pack.RemoveLink(link);
        return;
    }
    dialog.StoreInto(*link);
    m_workLinks.push_back(link);
    FillList();
}

void CLinksPackDlg::FillList()
{
    m_ui->lstLinks->clear();
    for (const CLink* link : m_workLinks) {
        auto* item = new QTreeWidgetItem(
            QStringList{QString::fromStdString(link->GetProject()), QString::fromStdString(link->GetFromPage()),
                        QString::fromStdString(link->GetToPage()), QString::fromStdString(link->GetAnchor()),
                        QString::number(link->GetStartingPR()), QString::number(link->GetCostPerPeriod())});
        // The newest link comes first.
        m_ui->lstLinks->insertTopLevelItem(0, item);
    }
}

void CLinksPackDlg::OnSave()
{
    const CPartner* partner = ChosenPartner();
    if (!m_groupMode && !partner) {
        MessageBox::Warn(this, tr("Please select partner"));
        m_ui->cboPartner->setFocus();
        return;
    }
    const OleDateTime start = ToOleDate(m_ui->dteStart->date());
    const OleDateTime end = ToOleDate(m_ui->dteEnd->date());
    const bool permanent = m_ui->chkNeverExpires->isChecked();
    // A group's links are the database's, whose dates the refresh reads meanwhile.
    const CDateRefreshHold hold;
    for (CLink* link : m_workLinks) {
        link->SetPartnerId(partner ? partner->GetId() : -1);
        if (permanent) {
            if (!link->IsPermanent() || link->GetFirstPaymentDate() != start) {
                link->SetFirstPaymentDate(start);
                link->SetLastPaymentDate(start);
                link->MakePermanent();
            }
        } else if (link->IsPermanent() || link->GetFirstPaymentDate() != start || link->GetExpiryDate() != end) {
            link->SetFirstPaymentDate(start);
            link->SetLastPaymentDate(start);
            link->SetPeriod(end - start);
        }
    }
    accept();
}
