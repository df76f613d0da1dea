#include "LinkPropertiesDlg.h"

#include "EditingSupport.h"
#include "core/fetch/Fetch.h"
#include "core/fetch/Url.h"
#include "core/pagerank/PageRank.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "gui/widgets/BackgroundWork.h"
#include "gui/widgets/DialogFields.h"
#include "gui/widgets/MessageBox.h"
#include "ui_LinkPropertiesDlg.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>

#include <algorithm>
#include <climits>
#include <optional>
#include <set>

namespace {

QString FromStd(const std::string& text)
{
    return QString::fromStdString(text);
}

// Sorted as a list box sorts: letter case aside, then exactly, so equal-looking entries keep an order.
void SortEntries(QStringList& entries)
{
    std::stable_sort(entries.begin(), entries.end(), [](const QString& a, const QString& b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
}

// Selects the entry that names `value`, the same letters first, and keeps `value` as the text: an
// entry that differs only in case must not change the record when it is saved unchanged.
void ShowValue(QComboBox* box, const QString& value)
{
    int index = box->findText(value, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (index < 0)
        index = box->findText(value, Qt::MatchFixedString);
    box->setCurrentIndex(index);
    box->setEditText(value);
}

void FillSorted(QComboBox* box, const std::vector<std::string>& values, const QString& value)
{
    QStringList entries;
    for (const std::string& v : values)
        entries << FromStd(v);
    SortEntries(entries);
    const QSignalBlocker block(box);
    box->clear();
    box->addItems(entries);
    ShowValue(box, value);
}

std::optional<int> ReadInt(const QLineEdit* edit)
{
    bool ok = false;
    const int value = edit->text().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

// A cost is an unsigned figure that the record keeps in a signed 32-bit field.
std::optional<int> ReadCost(const QLineEdit* edit)
{
    bool ok = false;
    const uint value = edit->text().toUInt(&ok);
    return ok && value <= static_cast<uint>(INT_MAX) ? std::optional<int>(static_cast<int>(value)) : std::nullopt;
}

} // namespace

CLinksPropertiesDlg::CLinksPropertiesDlg(CPartnersManager& partners, CLinksManager& links, CLink* edited, bool packMode,
                                         std::function<void()> addPartner, QWidget* parent)
    : QDialog(parent), m_partners(partners), m_links(links), m_edited(edited), m_packMode(packMode),
      m_addPartner(std::move(addPartner)), m_ui(std::make_unique<Ui::LinkPropertiesDlg>())
{
    m_ui->setupUi(this);
    NameFieldsByTheirLabels(this);

    // Typed text stays as typed: completing a URL to one of the list would save another page.
    for (QComboBox* box : {m_ui->cboProject, m_ui->cboFromPage, m_ui->cboToPage, m_ui->cboAnchor, m_ui->cboPartner})
        box->setCompleter(nullptr);
    m_ui->edtStartingPR->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_ui->edtStartingPR));
    for (QLineEdit* edit : {m_ui->edtCostPerMonth, m_ui->edtCostPerPeriod}) {
        edit->setValidator(new CWholeAmountValidator(edit));
        edit->setToolTip(tr("Whole amounts only"));
        connect(edit, &QLineEdit::textChanged, this, &CLinksPropertiesDlg::ShowCostHint);
    }
    m_ui->lblWholeAmounts->hide();
    PrepareEndDate(m_ui->dteEnd);

    const bool fullForm = !m_packMode;
    for (QWidget* w : std::initializer_list<QWidget*>{
             m_ui->lblStartDate, m_ui->dteStart, m_ui->lblEndDate, m_ui->dteEnd, m_ui->lblMonths, m_ui->spnMonths,
             m_ui->chkNeverExpires, m_ui->lblPartner, m_ui->cboPartner, m_ui->btnAddPartner, m_ui->lblEmail,
             m_ui->edtEmail, m_ui->btnSaveAndCheck})
        w->setVisible(fullForm);
    m_ui->lblMonthsInfo->setVisible(!fullForm);
    if (m_packMode)
        m_ui->btnSave->setText(tr("OK"));

    LoadValues();
    FillLists();
    UpdateStep();

    connect(m_ui->cboProject, &QComboBox::editTextChanged, this, [this] {
        RefillAnchors();
        UpdateStep();
    });
    for (QComboBox* box : {m_ui->cboFromPage, m_ui->cboToPage, m_ui->cboAnchor, m_ui->cboPartner})
        connect(box, &QComboBox::editTextChanged, this, &CLinksPropertiesDlg::UpdateStep);
    connect(m_ui->cboPartner, &QComboBox::currentIndexChanged, this, &CLinksPropertiesDlg::UpdateStep);
    connect(m_ui->radCostPerMonth, &QRadioButton::toggled, this, &CLinksPropertiesDlg::UpdateStep);
    connect(m_ui->spnMonths, &QSpinBox::valueChanged, this, &CLinksPropertiesDlg::OnMonthsOrStartChanged);
    connect(m_ui->dteStart, &QDateEdit::dateChanged, this, &CLinksPropertiesDlg::OnMonthsOrStartChanged);
    connect(m_ui->chkNeverExpires, &QCheckBox::toggled, this, &CLinksPropertiesDlg::OnNeverExpiresToggled);
    connect(m_ui->btnCheckNow, &QPushButton::clicked, this, &CLinksPropertiesDlg::OnCheckNow);
    connect(m_ui->btnAddPartner, &QPushButton::clicked, this, &CLinksPropertiesDlg::OnAddPartner);
    connect(m_ui->btnSave, &QPushButton::clicked, this, [this] { OnSave(QDialog::Accepted); });
    connect(m_ui->btnSaveAndCheck, &QPushButton::clicked, this, [this] { OnSave(kSaveAndCheck); });
    connect(m_ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    m_ui->cboProject->setFocus();
    m_initialised = true;
}

CLinksPropertiesDlg::~CLinksPropertiesDlg() = default;

void CLinksPropertiesDlg::LoadValues()
{
    const QDate today = QDate::currentDate();
    QDate start = today;
    QDate end = today;
    const bool permanent = m_edited && m_edited->IsPermanent();
    if (m_edited) {
        start = ToQDate(m_edited->GetLastPaymentDate());
        end = ToQDate(m_edited->GetExpiryDate());
        m_ui->edtStartingPR->setText(QString::number(m_edited->GetStartingPR()));
        m_ui->edtComment->setPlainText(CommentForEditing(m_edited->GetComment()));
        // A permanent deal's one payment is its full cost, whichever figure holds it.
        const bool perPeriod = m_edited->GetCostMode() == 1 || permanent;
        m_ui->radCostPerPeriod->setChecked(perPeriod);
        m_ui->radCostPerMonth->setChecked(!perPeriod);
        m_ui->edtCostPerMonth->setText(QString::number(perPeriod ? 0 : m_edited->GetCostPerMonth()));
        m_ui->edtCostPerPeriod->setText(QString::number(perPeriod ? m_edited->GetCostPerPeriod() : 0));
        m_previousFrom = FromStd(m_edited->GetFromPage());
        m_previousTo = FromStd(m_edited->GetToPage());
        m_previousAnchor = FromStd(m_edited->GetAnchor());
    } else {
        m_ui->edtStartingPR->setText(QStringLiteral("0"));
        m_ui->radCostPerMonth->setChecked(true);
        m_ui->edtCostPerMonth->setText(QStringLiteral("0"));
        m_ui->edtCostPerPeriod->setText(QStringLiteral("0"));
    }
    m_ui->chkNeverExpires->setChecked(permanent);
    m_ui->dteStart->setDate(start);
    ShowEndDate(m_ui->dteEnd, permanent, end);
    m_shownStart = m_ui->dteStart->date();
    m_shownEnd = m_ui->dteEnd->date();
}

void CLinksPropertiesDlg::FillLists()
{
    FillSorted(m_ui->cboProject, m_links.GetProjects(), m_edited ? FromStd(m_edited->GetProject()) : QString());
    FillSorted(m_ui->cboFromPage, m_links.GetFromPages(), m_previousFrom);
    FillSorted(m_ui->cboToPage, m_links.GetToPages(), m_previousTo);
    if (!m_packMode)
        RefillPartners(m_edited ? m_partners.FindById(m_edited->GetPartnerId()) : nullptr);
    {
        const QSignalBlocker block(m_ui->cboAnchor);
        m_ui->cboAnchor->setEditText(m_previousAnchor);
    }
    RefillAnchors();
}

void CLinksPropertiesDlg::RefillAnchors()
{
    const QString project = m_ui->cboProject->currentText();
    std::vector<std::string> anchors;
    if (!project.isEmpty()) {
        anchors = m_links.GetAnchors(project.toStdString());
    } else {
        std::set<std::string> seen;
        for (const CLink* link : m_links.GetLinks())
            if (seen.insert(link->GetAnchor()).second)
                anchors.push_back(link->GetAnchor());
    }
    FillSorted(m_ui->cboAnchor, anchors, m_ui->cboAnchor->currentText());
}

void CLinksPropertiesDlg::RefillPartners(const CPartner* select)
{
    QComboBox* box = m_ui->cboPartner;
    const QSignalBlocker block(box);
    const QString typed = box->currentText();
    m_partnerEntries = m_partners.GetPartners();
    box->clear();
    int chosen = -1;
    for (std::size_t i = 0; i < m_partnerEntries.size(); ++i) {
        box->addItem(FromStd(m_partnerEntries[i]->GetName()));
        if (m_partnerEntries[i] == select)
            chosen = static_cast<int>(i);
    }
    box->setCurrentIndex(chosen);
    box->setEditText(chosen >= 0 ? box->itemText(chosen) : typed);
}

CPartner* CLinksPropertiesDlg::ChosenPartner() const
{
    if (m_packMode)
        return nullptr;
    const QComboBox* box = m_ui->cboPartner;
    const QString text = box->currentText();
    if (text.isEmpty())
        return nullptr;
    // A name typed in full chooses its entry, as picking it from the list would.
    int index = box->currentIndex();
    if (index < 0 || box->itemText(index) != text)
        index = box->findText(text, Qt::MatchFixedString);
    return index >= 0 && static_cast<std::size_t>(index) < m_partnerEntries.size() ? m_partnerEntries[index] : nullptr;
}

void CLinksPropertiesDlg::DetectChanges()
{
    if (!m_edited)
        return;
    const QString from = m_ui->cboFromPage->currentText();
    const QString to = m_ui->cboToPage->currentText();
    const QString anchor = m_ui->cboAnchor->currentText();
    if (from != m_previousFrom || to != m_previousTo || anchor != m_previousAnchor)
        m_needsRecheck = true;
    m_previousFrom = from;
    m_previousTo = to;
    m_previousAnchor = anchor;
}

void CLinksPropertiesDlg::UpdateStep()
{
    if (m_updating)
        return;
    m_updating = true;
    DetectChanges();

    m_ui->edtStartingPR->setEnabled(ReadInt(m_ui->edtStartingPR).value_or(0) == 0);
    // The change resets the status only when the dialog is accepted, so it counts here by itself.
    m_ui->btnSaveAndCheck->setEnabled(!m_packMode && (!m_edited || m_edited->GetStatus() == 0 || m_needsRecheck));
    // A deal bought for good has no month to price: its cost is the one payment.
    const bool permanent = m_ui->chkNeverExpires->isChecked();
    if (permanent)
        m_ui->radCostPerPeriod->setChecked(true);
    m_ui->radCostPerMonth->setEnabled(!permanent);
    m_ui->spnMonths->setEnabled(!permanent);
    const bool perMonth = m_ui->radCostPerMonth->isChecked();
    m_ui->edtCostPerMonth->setEnabled(perMonth);
    m_ui->edtCostPerPeriod->setEnabled(!perMonth);

    const std::string href = NormalizeUrl(m_ui->cboToPage->currentText().toStdString());
    m_ui->edtRawLink->setText(QStringLiteral("<a href=\"") + FromStd(href) + QStringLiteral("\">") +
                              m_ui->cboAnchor->currentText() + QStringLiteral("</a>"));

    if (permanent) {
        m_ui->lblMonthsInfo->setText(tr("never expires"));
    } else {
        const int months = MonthsBetween(ToOleDate(m_ui->dteEnd->date()), ToOleDate(m_ui->dteStart->date()), false);
        if (m_ui->spnMonths->value() != months) {
            const QSignalBlocker block(m_ui->spnMonths);
            m_ui->spnMonths->setValue(months);
        }
        m_ui->lblMonthsInfo->setText(tr("%1 months").arg(months));
    }

    const CPartner* partner = ChosenPartner();
    m_ui->edtEmail->setText(partner ? FromStd(partner->GetEmail()) : QString());
    m_updating = false;
}

void CLinksPropertiesDlg::OnMonthsOrStartChanged()
{
    if (!m_initialised)
        return;
    if (!m_ui->chkNeverExpires->isChecked()) {
        const OleDateTime end = AddMonths(ToOleDate(m_ui->dteStart->date()), m_ui->spnMonths->value());
        m_ui->dteEnd->setDate(ToQDate(end));
    }
    UpdateStep();
}

void CLinksPropertiesDlg::OnNeverExpiresToggled(bool permanent)
{
    if (!m_initialised)
        return;
    if (permanent) {
        ShowEndDate(m_ui->dteEnd, true, {});
        UpdateStep();
        return;
    }
    // Back to an ordinary period: the months shown before (a year for a deal that opened
    // permanent), counted from the start as always.
    if (m_ui->spnMonths->value() == 0 && m_edited && m_edited->IsPermanent()) {
        const QSignalBlocker block(m_ui->spnMonths);
        m_ui->spnMonths->setValue(12);
    }
    OnMonthsOrStartChanged();
}

void CLinksPropertiesDlg::ShowCostHint()
{
    m_ui->lblWholeAmounts->setVisible(CWholeAmountValidator::HasSeparator(m_ui->edtCostPerMonth->text()) ||
                                      CWholeAmountValidator::HasSeparator(m_ui->edtCostPerPeriod->text()));
}

void CLinksPropertiesDlg::OnCheckNow()
{
    const QString from = m_ui->cboFromPage->currentText();
    if (from.isEmpty())
        return;
    const std::string url = NormalizeUrl(from.toStdString());
    const WorkOutcome<int> rank =
        RunWork(this, {.text = tr("Asking the PageRank of %1 ...").arg(FromStd(url))}, [&url](CWorkToken& token) {
            const CFetchCancelScope scope(token.CancelFlag());
            return QueryPageRank(url);
        });
    // A cancelled look-up would read as "no rank"; the field keeps what it had.
    if (!rank.cancelled)
        m_ui->edtStartingPR->setText(QString::number(rank.value));
}

void CLinksPropertiesDlg::OnAddPartner()
{
    if (CPartner* added = AddPartnerFromDialog(m_partners, m_addPartner)) {
        RefillPartners(added);
        UpdateStep();
    }
}

void CLinksPropertiesDlg::Refuse(QWidget* field, const QString& message)
{
    MessageBox::Warn(this, message);
    field->setFocus();
    if (auto* box = qobject_cast<QComboBox*>(field); box && box->lineEdit())
        box->lineEdit()->selectAll();
    else if (auto* edit = qobject_cast<QLineEdit*>(field))
        edit->selectAll();
}

bool CLinksPropertiesDlg::ValidateNumbers()
{
    if (!ReadInt(m_ui->edtStartingPR)) {
        Refuse(m_ui->edtStartingPR, tr("Enter an integer."));
        return false;
    }
    // Only the figure of the chosen mode is stored; the other one may hold anything meanwhile.
    QLineEdit* cost = m_ui->radCostPerMonth->isChecked() ? m_ui->edtCostPerMonth : m_ui->edtCostPerPeriod;
    if (!ReadCost(cost)) {
        // Rounding "12.50" either way would store an amount the user did not type.
        Refuse(cost, CWholeAmountValidator::HasSeparator(cost->text())
                         ? tr("Costs are kept as whole amounts: \"%1\" has a fraction. Enter the amount without it.")
                               .arg(cost->text())
                         : tr("Enter a positive integer."));
        return false;
    }
    return true;
}

void CLinksPropertiesDlg::OnSave(int result)
{
    if (!ValidateNumbers())
        return;
    UpdateStep();
    if (!m_packMode && m_ui->cboPartner->currentText().isEmpty()) {
        Refuse(m_ui->cboPartner, tr("Please select partner"));
        return;
    }
    if (m_ui->cboAnchor->currentText().isEmpty()) {
        Refuse(m_ui->cboAnchor, tr("Please specify anchor"));
        return;
    }
    // Only now, when nothing can refuse the dialog any more: a partner made before a refusal
    // would be made again at the next try.
    if (!m_packMode && !ChosenPartner()) {
        CPartner* partner = m_partners.AddPartner(m_ui->cboPartner->currentText().toStdString());
        RefillPartners(partner);
    }
    if (m_edited && m_needsRecheck)
        m_edited->SetStatus(0);
    done(result);
}

void CLinksPropertiesDlg::StoreInto(CLink& link) const
{
    const CPartner* partner = ChosenPartner();
    link.SetPartnerId(partner ? partner->GetId() : -1);
    link.SetProject(m_ui->cboProject->currentText().toStdString());
    link.SetFromPage(m_ui->cboFromPage->currentText().toStdString());
    link.SetToPage(m_ui->cboToPage->currentText().toStdString());
    link.SetAnchor(m_ui->cboAnchor->currentText().toStdString());
    link.SetComment(CommentForStoring(m_ui->edtComment->toPlainText()));
    if (const std::optional<int> pr = ReadInt(m_ui->edtStartingPR))
        link.SetStartingPR(*pr);

    // The shown start of an edited link is its last payment; comparing it with the first payment
    // would move the first payment of every renewed link that is saved.
    const QDate start = m_ui->dteStart->date();
    const QDate end = m_ui->dteEnd->date();
    // Ticking or unticking "Never expires" changes the end shown, so it counts as a change.
    if (&link != m_edited || start != m_shownStart || end != m_shownEnd) {
        const OleDateTime startDate = ToOleDate(start);
        link.SetFirstPaymentDate(startDate);
        link.SetLastPaymentDate(startDate);
        if (m_ui->chkNeverExpires->isChecked())
            link.MakePermanent();
        else
            link.SetPeriod(ToOleDate(end) - startDate);
    }

    const bool perPeriod = m_ui->radCostPerPeriod->isChecked();
    link.SetCostMode(perPeriod ? 1 : 0);
    if (perPeriod) {
        if (const std::optional<int> cost = ReadCost(m_ui->edtCostPerPeriod))
            link.SetCostPerPeriodValue(*cost);
    } else if (const std::optional<int> cost = ReadCost(m_ui->edtCostPerMonth)) {
        link.SetCostPerMonthValue(*cost);
    }
}
