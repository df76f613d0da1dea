#include "Filters.h"

#include "platform/SettingsStore.h"
#include "records/LinkStatus.h"
#include "records/LinksManager.h"
#include "records/PartnersManager.h"
#include "records/TextUtil.h"

#include <QComboBox>
#include <QSignalBlocker>

namespace {

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

// Matching ignores ASCII letter case only, as the collections do when they compare names.
bool SameText(const QString& a, const std::string& b)
{
    return EqualsIgnoringCase(a.toStdString(), b);
}

void PrepareBox(QComboBox* box, int width)
{
    box->setEditable(false);
    box->setFixedWidth(width);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
}

} // namespace

CLinkFilters::CLinkFilters(QComboBox* project, QComboBox* status, QComboBox* partner, ISettingsStore& store,
                           QObject* parent)
    : QObject(parent), m_projectBox(project), m_statusBox(status), m_partnerBox(partner), m_store(store)
{
    m_project = Stored(m_store, SettingsNames::kProjectFilter, SettingsNames::kDefaultProjectFilter);
    m_partner = Stored(m_store, SettingsNames::kPartnerFilter, SettingsNames::kDefaultPartnerFilter);
    PrepareBox(m_projectBox, 100);
    PrepareBox(m_statusBox, 100);
    PrepareBox(m_partnerBox, 145);
    connect(m_projectBox, &QComboBox::activated, this, [this] { OnChosen(m_projectBox, m_project); });
    connect(m_statusBox, &QComboBox::activated, this, [this] { OnChosen(m_statusBox, m_status); });
    connect(m_partnerBox, &QComboBox::activated, this, [this] { OnChosen(m_partnerBox, m_partner); });
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

void CLinkFilters::RefreshFilters()
{
    if (!m_links || !m_partners)
        return;
    const QSignalBlocker blockProject(m_projectBox);
    const QSignalBlocker blockStatus(m_statusBox);
    const QSignalBlocker blockPartner(m_partnerBox);

    m_projectBox->clear();
    m_projectBox->addItem(FromStd(SettingsNames::kDefaultProjectFilter));
    m_links->SetProjectFilter({});
    int projectIndex = 0;
    const std::vector<std::string> projects = m_links->GetProjects();
    for (std::size_t i = 0; i < projects.size(); ++i) {
        m_projectBox->addItem(FromStd(projects[i]));
        if (projectIndex == 0 && SameText(m_project, projects[i])) {
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

    m_partnerBox->clear();
    m_partnerBox->addItem(FromStd(SettingsNames::kDefaultPartnerFilter), -1);
    m_partners->SetPartnerFilter(-1);
    int partnerIndex = 0;
    const std::vector<CPartner*> partners = m_partners->GetPartners();
    for (std::size_t i = 0; i < partners.size(); ++i) {
        m_partnerBox->addItem(FromStd(partners[i]->GetName()), partners[i]->GetId());
        if (partnerIndex == 0 && SameText(m_partner, partners[i]->GetName())) {
            partnerIndex = static_cast<int>(i) + 1;
            m_partners->SetPartnerFilter(partners[i]->GetId());
        }
    }
    m_partnerBox->setCurrentIndex(partnerIndex);

    m_store.SetString(SettingsNames::kGuiSection, SettingsNames::kProjectFilter, m_project.toStdString());
    m_store.SetString(SettingsNames::kGuiSection, SettingsNames::kPartnerFilter, m_partner.toStdString());
}
