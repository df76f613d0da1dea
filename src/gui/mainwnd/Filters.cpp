#include "Filters.h"

#include "core/platform/SettingsStore.h"
#include "core/records/LinkStatus.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "core/records/TextUtil.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSortFilterProxyModel>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTimer>

#include <algorithm>

namespace {

// The boxes never get narrower than this, so that a short list does not leave a sliver of a box.
constexpr int kMinProjectWidth = 100;
constexpr int kMinStatusWidth = 100;
constexpr int kMinPartnerWidth = 145;
// Nor wider than this many average characters: the toolbar has the buttons to show as well, and
// the tip gives the whole text of the entry shown.
constexpr int kMaxBoxChars = 30;
// The drop-down lists may be wider than their boxes, up to this, so that long names read whole.
constexpr int kMaxListChars = 80;

QString FromStd(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString FromStd(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString Stored(const ISettingsStore& store, std::string_view name, std::string_view fallback)
{
    const auto value = store.GetString(SettingsNames::kGuiSection, name);
    return value ? QString::fromStdString(*value) : FromStd(fallback);
}

void PrepareBox(QComboBox* box)
{
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    QObject::connect(box, &QComboBox::currentIndexChanged, box,
                     [box](int index) { box->setToolTip(box->itemText(index)); });
}

// The box's width for a text area of `textWidth`: frame, margins and arrow as the style draws them.
int BoxWidthFor(const QComboBox& box, int textWidth)
{
    QStyleOptionComboBox option;
    option.initFrom(&box);
    option.editable = box.isEditable();
    option.frame = box.hasFrame();
    const QSize contents(textWidth, box.fontMetrics().height());
    return box.style()->sizeFromContents(QStyle::CT_ComboBox, &option, contents, &box).width();
}

void FitBox(QComboBox& box, int minimumWidth, QAbstractItemView* completions = nullptr)
{
    const QFontMetrics metrics = box.fontMetrics();
    const int listLimit = kMaxListChars * metrics.averageCharWidth();
    int longest = 0;
    for (int i = 0; i < box.count() && longest < listLimit; ++i)
        longest = std::max(longest, metrics.horizontalAdvance(box.itemText(i)));
    longest = std::min(longest, listLimit);
    box.setFixedWidth(
        std::max(minimumWidth, BoxWidthFor(box, std::min(longest, kMaxBoxChars * metrics.averageCharWidth()))));
    const int listWidth = BoxWidthFor(box, longest) + box.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    box.view()->setMinimumWidth(listWidth);
    if (completions)
        completions->setMinimumWidth(listWidth);
    box.setToolTip(box.currentText());
}

} // namespace

CLinkFilters::CLinkFilters(QComboBox* project, QComboBox* status, QComboBox* partner, ISettingsStore& store,
                           QObject* parent)
    : QObject(parent), m_projectBox(project), m_statusBox(status), m_partnerBox(partner), m_store(store)
{
    m_project = Stored(m_store, SettingsNames::kProjectFilter, SettingsNames::kDefaultProjectFilter);
    m_partner = Stored(m_store, SettingsNames::kPartnerFilter, SettingsNames::kDefaultPartnerFilter);
    m_projectBox->setEditable(false);
    m_statusBox->setEditable(false);
    PrepareBox(m_projectBox);
    PrepareBox(m_statusBox);
    PrepareBox(m_partnerBox);
    connect(m_projectBox, &QComboBox::activated, this, [this] { OnChosen(m_projectBox, m_project); });
    connect(m_statusBox, &QComboBox::activated, this, [this] { OnChosen(m_statusBox, m_status); });
    connect(m_partnerBox, &QComboBox::activated, this, [this] { OnChosen(m_partnerBox, m_partner); });

    // Two thousand partners are too many to scroll through: the box completes a typed part of a
    // name, wherever it stands in the name, from the entries in alphabetical order.
    m_partnerBox->setEditable(true);
    m_partnerBox->setInsertPolicy(QComboBox::NoInsert);
    m_partnerSorted = new QSortFilterProxyModel(this);
    m_partnerSorted->setSortCaseSensitivity(Qt::CaseInsensitive);
    m_partnerSorted->setSourceModel(m_partnerBox->model());
    m_partnerSorted->sort(0);
    m_partnerCompleter = new QCompleter(m_partnerSorted, this);
    m_partnerCompleter->setCaseSensitivity(Qt::CaseInsensitive);
    m_partnerCompleter->setFilterMode(Qt::MatchContains);
    m_partnerCompleter->setCompletionMode(QCompleter::PopupCompletion);
    m_partnerCompleter->setMaxVisibleItems(15);
    m_partnerBox->setCompleter(m_partnerCompleter);
    // A chosen completion is mapped to its entry by the box, which then reports it as activated,
    // the same as an entry chosen from the list. What is left is typed text: looked at after the
    // event, as the completion that Enter may choose comes only after the line's own Enter.
    connect(m_partnerBox->lineEdit(), &QLineEdit::editingFinished, this,
            [this] { QTimer::singleShot(0, this, &CLinkFilters::OnPartnerTextDone); });
    FitBoxes();
}

void CLinkFilters::Attach(CLinksManager* links, CPartnersManager* partners)
{
    m_links = links;
    m_partners = partners;
}

void CLinkFilters::OnChosen(QComboBox* box, QString& remembered)
{
    remembered = box->currentIndex() >= 0 ? box->currentText() : QString();
    RefreshFilters();
    emit FiltersChanged();
}

void CLinkFilters::OnPartnerTextDone()
{
    QLineEdit* edit = m_partnerBox->lineEdit();
    if (!edit || m_partnerCompleter->popup()->isVisible())
        return;
    const int current = m_partnerBox->currentIndex();
    const QString shown = current >= 0 ? m_partnerBox->itemText(current) : QString();
    const QString typed = edit->text();
    if (typed == shown)
        return;
    // A name typed whole is as good as chosen; a part of one, or no name at all, is taken back.
    const int entry = m_partnerBox->findText(typed, Qt::MatchFixedString);
    if (entry < 0) {
        edit->setText(shown);
        return;
    }
    m_partnerBox->setCurrentIndex(entry);
    OnChosen(m_partnerBox, m_partner);
}

void CLinkFilters::FitBoxes()
{
    FitBox(*m_projectBox, kMinProjectWidth);
    FitBox(*m_statusBox, kMinStatusWidth);
    FitBox(*m_partnerBox, kMinPartnerWidth, m_partnerCompleter->popup());
}

void CLinkFilters::RefreshFilters()
{
    if (!m_links || !m_partners)
        return;
    const QSignalBlocker blockProject(m_projectBox);
    const QSignalBlocker blockStatus(m_statusBox);
    const QSignalBlocker blockPartner(m_partnerBox);

    // Matching ignores ASCII letter case only, as the collections do when they compare names.
    m_projectBox->clear();
    m_projectBox->addItem(FromStd(SettingsNames::kDefaultProjectFilter));
    m_links->SetProjectFilter({});
    int projectIndex = 0;
    const std::string rememberedProject = m_project.toStdString();
    const std::vector<std::string> projects = m_links->GetProjects();
    for (std::size_t i = 0; i < projects.size(); ++i) {
        m_projectBox->addItem(FromStd(projects[i]));
        if (projectIndex == 0 && EqualsIgnoringCase(rememberedProject, projects[i])) {
            projectIndex = static_cast<int>(i) + 1;
            m_links->SetProjectFilter(projects[i]); // the project's own letter case
        }
    }
    m_projectBox->setCurrentIndex(projectIndex);

    m_statusBox->clear();
    QStringList statuses = {QStringLiteral("(All links)"), QStringLiteral("(All Ok)"), QStringLiteral("(All Expiring)"),
                            QStringLiteral("(All Problematic)")};
    for (uint32_t bit = StatusOk; bit <= StatusCantOpen; bit <<= 1)
        statuses.push_back(FromStd(GetStatusName(bit)));
    m_statusBox->addItems(statuses);
    m_links->SetStatusFilter(0);
    int statusIndex = 0;
    for (int i = 0; i < statuses.size(); ++i) {
        if (EqualsIgnoringCase(statuses[i].toStdString(), m_status.toStdString())) {
            statusIndex = i;
            m_links->SetStatusFilter(StatusFilterFromName(statuses[i].toStdString()));
            break;
        }
    }
    m_statusBox->setCurrentIndex(statusIndex);

    // The completion's order is made once for the whole list, not again for every entry added.
    m_partnerSorted->setSourceModel(nullptr);
    m_partnerBox->clear();
    m_partnerBox->addItem(FromStd(SettingsNames::kDefaultPartnerFilter), -1);
    m_partners->SetPartnerFilter(-1);
    int partnerIndex = 0;
    const std::string rememberedPartner = m_partner.toStdString();
    const std::vector<CPartner*> partners = m_partners->GetPartners();
    for (std::size_t i = 0; i < partners.size(); ++i) {
        m_partnerBox->addItem(FromStd(partners[i]->GetName()), partners[i]->GetId());
        if (partnerIndex == 0 && EqualsIgnoringCase(rememberedPartner, partners[i]->GetName())) {
            partnerIndex = static_cast<int>(i) + 1;
            m_partners->SetPartnerFilter(partners[i]->GetId());
        }
    }
    m_partnerBox->setCurrentIndex(partnerIndex);
    m_partnerSorted->setSourceModel(m_partnerBox->model());
    m_partnerSorted->sort(0);
    FitBoxes();

    m_store.SetString(SettingsNames::kGuiSection, SettingsNames::kProjectFilter, m_project.toStdString());
    m_store.SetString(SettingsNames::kGuiSection, SettingsNames::kPartnerFilter, m_partner.toStdString());
}
