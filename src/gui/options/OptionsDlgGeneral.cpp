#include "OptionsDlgGeneral.h"

#include "OptionsSupport.h"
#include "ProxySettingsDlg.h"
#include "ScheduleStore.h"
#include "SchedulingDlg.h"

#include "core/fetch/CheckSettings.h"
#include "core/history/CheckHistory.h"
#include "core/storage/Options.h"
#include "gui/editing/EditingSupport.h"
#include "gui/widgets/FileDialog.h"
#include "gui/widgets/MessageBox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>

using namespace OptionsSupport;

namespace {

// A number with its label on the next row of the grid.
QSpinBox* AddSpinRow(QGridLayout* grid, int& row, const QString& label, const char* objectName, int min, int max,
                     QWidget* parent)
{
    auto* caption = new QLabel(label, parent);
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QLatin1String(objectName));
    spin->setRange(min, max);
    caption->setBuddy(spin);
    grid->addWidget(caption, row, 0);
    grid->addWidget(spin, row++, 1, Qt::AlignLeft);
    return spin;
}

QPushButton* MakeButton(const QString& text, const char* objectName, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(objectName));
    // Enter belongs to the sheet's OK.
    button->setAutoDefault(false);
    return button;
}

} // namespace

COptionsDlgGeneral::COptionsDlgGeneral(COptions& options, IScheduleStore& schedule, TestMailSources testSources,
                                       QWidget* parent)
    : QWidget(parent), m_options(options), m_schedule(schedule), m_testSources(std::move(testSources))
{
    setAccessibleName(QStringLiteral("General"));
    auto* grid = new QGridLayout(this);
    int row = 0;
    m_useProxy = new QCheckBox(QStringLiteral("&Use HTTP proxy for internet connections"), this);
    m_useProxy->setObjectName(QStringLiteral("useProxyCheck"));
    m_proxyButton = MakeButton(QStringLiteral("Confi&gure"), "proxyButton", this);
    m_proxyButton->setAccessibleName(QStringLiteral("Configure proxy"));
    grid->addWidget(m_useProxy, row, 0, 1, 2);
    grid->addWidget(m_proxyButton, row++, 2);

    auto* databaseLabel = new QLabel(QStringLiteral("&Database File"), this);
    m_database = new QLineEdit(this);
    m_database->setObjectName(QStringLiteral("databaseEdit"));
    m_database->setPlaceholderText(QStringLiteral("Path to db-file"));
    databaseLabel->setBuddy(m_database);
    m_browse = MakeButton(QString(), "browseButton", this);
    m_browse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    m_browse->setIconSize(QSize(16, 16));
    m_browse->setAccessibleName(QStringLiteral("Browse"));
    m_browse->setToolTip(QStringLiteral("Browse"));
    grid->addWidget(databaseLabel, row, 0);
    grid->addWidget(m_database, row, 1);
    grid->addWidget(m_browse, row++, 2);

    auto* statusCaption = new QLabel(QStringLiteral("Scheduling status:"), this);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    m_status->setFocusPolicy(Qt::StrongFocus);
    statusCaption->setBuddy(m_status);
    grid->addWidget(statusCaption, row, 0);
    grid->addWidget(m_status, row++, 1, 1, 2);

    m_scheduled = new QCheckBox(QStringLiteral("&Establish connection and check actual link statuses"), this);
    m_scheduled->setObjectName(QStringLiteral("scheduleCheck"));
    m_scheduleButton = MakeButton(QStringLiteral("&Schedule"), "scheduleButton", this);
    grid->addWidget(m_scheduled, row, 0, 1, 2);
    grid->addWidget(m_scheduleButton, row++, 2);

    m_notify = new QCheckBox(QStringLiteral("&Notify me about all status changes"), this);
    m_notify->setObjectName(QStringLiteral("notifyCheck"));
    m_notifyButton = MakeButton(QStringLiteral("Con&figure"), "notifyButton", this);
    m_notifyButton->setAccessibleName(QStringLiteral("Configure notification"));
    grid->addWidget(m_notify, row, 0, 1, 2);
    grid->addWidget(m_notifyButton, row++, 2);

    m_historyMonths = AddSpinRow(grid, row, QStringLiteral("Keep check &history for"), "historyMonthsSpin", 0,
                                 kMaxHistoryMonths, this);
    m_historyMonths->setSuffix(QStringLiteral(" months"));
    m_historyMonths->setSpecialValueText(QStringLiteral("ever"));
    m_historyMonths->setToolTip(QStringLiteral("Checks older than this are removed from the history at each start"));
    m_checkWorkers =
        AddSpinRow(grid, row, QStringLiteral("&Pages checked at once"), "checkWorkersSpin", 1, kMaxCheckWorkers, this);
    m_checkWorkers->setValue(kDefaultCheckWorkers);
    m_checkPerSite = AddSpinRow(grid, row, QStringLiteral("Requests at once to one si&te"), "checkPerSiteSpin", 1,
                                kMaxCheckPerSite, this);
    m_checkPerSite->setValue(kDefaultCheckPerSite);
    m_checkPerSite->setToolTip(QStringLiteral("A partner's server is never asked for more pages at once"));
    grid->setRowStretch(row, 1);
    NameFieldsByTheirLabels(this);

    connect(m_useProxy, &QCheckBox::toggled, this, &COptionsDlgGeneral::UpdateButtons);
    connect(m_scheduled, &QCheckBox::toggled, this, &COptionsDlgGeneral::UpdateButtons);
    connect(m_notify, &QCheckBox::toggled, this, &COptionsDlgGeneral::UpdateButtons);
    connect(m_scheduleButton, &QPushButton::clicked, this, &COptionsDlgGeneral::OnSchedule);
    connect(m_notifyButton, &QPushButton::clicked, this, &COptionsDlgGeneral::OnConfigureNotification);
    connect(m_proxyButton, &QPushButton::clicked, this, &COptionsDlgGeneral::OnConfigureProxy);
    connect(m_browse, &QPushButton::clicked, this, &COptionsDlgGeneral::OnBrowse);

    setTabOrder(m_useProxy, m_proxyButton);
    setTabOrder(m_proxyButton, m_database);
    setTabOrder(m_database, m_browse);
    setTabOrder(m_browse, m_status);
    setTabOrder(m_status, m_scheduled);
    setTabOrder(m_scheduled, m_scheduleButton);
    setTabOrder(m_scheduleButton, m_notify);
    setTabOrder(m_notify, m_notifyButton);
    setTabOrder(m_notifyButton, m_historyMonths);
    setTabOrder(m_historyMonths, m_checkWorkers);
    setTabOrder(m_checkWorkers, m_checkPerSite);
    Load();
}

void COptionsDlgGeneral::Load()
{
    const bool exists = m_schedule.ScheduledTaskExists();
    m_scheduled->setChecked(exists);
    m_status->setText(FromStd(DescribeSchedule(m_schedule)));
    m_notify->setChecked(m_options.GetNotifyStatusChanges());
    m_useProxy->setChecked(m_options.GetUseProxy());
    m_database->setText(FromStd(m_options.GetDatabasePath()));
    UpdateButtons();
}

void COptionsDlgGeneral::SetHistoryMonths(int months)
{
    m_historyMonths->setValue(months);
}

int COptionsDlgGeneral::GetHistoryMonths() const
{
    return m_historyMonths->value();
}

void COptionsDlgGeneral::SetCheckConcurrency(int workers, int perSite)
{
    m_checkWorkers->setValue(workers);
    m_checkPerSite->setValue(perSite);
}

int COptionsDlgGeneral::GetCheckWorkers() const
{
    return m_checkWorkers->value();
}

int COptionsDlgGeneral::GetCheckPerSite() const
{
    return m_checkPerSite->value();
}

void COptionsDlgGeneral::UpdateButtons()
{
    m_proxyButton->setEnabled(m_useProxy->isChecked());
    m_scheduleButton->setEnabled(m_scheduled->isChecked());
    m_notifyButton->setEnabled(m_notify->isChecked());
}

bool COptionsDlgGeneral::OnOK()
{
    auto refuse = [this](QPushButton* button, const QString& text) {
        MessageBox::Warn(this, text);
        button->setFocus();
        return false;
    };
    if (m_scheduled->isChecked() && !m_schedule.ScheduledTaskExists())
        return refuse(m_scheduleButton, QStringLiteral("Please configure scheduling settings"));
    if (m_notify->isChecked() &&
        (m_options.GetSmtpServer().empty() || m_options.GetMailFrom().empty() || m_options.GetMailTo().empty()))
        return refuse(m_notifyButton, QStringLiteral("Please configure E-mail Notification settings"));
    if (m_useProxy->isChecked() && m_options.GetProxyHost().empty())
        return refuse(m_proxyButton, QStringLiteral("Please configure Proxy settings"));
    Store();
    return true;
}

void COptionsDlgGeneral::Store()
{
    m_options.SetNotifyStatusChanges(m_notify->isChecked());
    if (!m_scheduled->isChecked() && m_schedule.ScheduledTaskExists() && !m_schedule.DeleteScheduledTask())
        MessageBox::Warn(this, FromStd(m_schedule.LastError()));
    m_options.SetUseProxy(m_useProxy->isChecked());
    m_options.SetDatabasePath(ToStd(m_database->text().trimmed()));
    m_options.SetRealMonitoring(m_scheduled->isChecked());
}

void COptionsDlgGeneral::OnSchedule()
{
    Store();
    CSchedulingDlg dialog(m_schedule, this);
    if (dialog.exec() == QDialog::Accepted)
        Load();
}

void COptionsDlgGeneral::OnConfigureNotification()
{
    Store();
    CSMTPSettingsDlg dialog(m_options, m_testSources, this);
    if (dialog.exec() == QDialog::Accepted)
        Load();
}

void COptionsDlgGeneral::OnConfigureProxy()
{
    Store();
    CProxySettingsDlg dialog(m_options, this);
    if (dialog.exec() == QDialog::Accepted)
        Load();
}

void COptionsDlgGeneral::OnBrowse()
{
    const QString path = FileDialog::AskOpenFile(
        this, QStringLiteral("Database File"),
        {QStringLiteral("Orvex databases (*.orx)"), QStringLiteral("All files (*)")}, m_database->text().trimmed());
    if (!path.isEmpty())
        m_database->setText(path);
}
