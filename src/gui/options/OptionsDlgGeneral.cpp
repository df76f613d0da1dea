#include "OptionsDlgGeneral.h"

#include "OptionsSupport.h"
#include "ProxySettingsDlg.h"
#include "ScheduleStore.h"
#include "SchedulingDlg.h"

#include "core/fetch/CheckSettings.h"
#include "core/history/CheckHistory.h"
#include "core/storage/Options.h"
#include "gui/widgets/DialogFields.h"
#include "gui/widgets/FileDialog.h"
#include "gui/widgets/MessageBox.h"
#include "ui_OptionsDlgGeneral.h"

#include <QStyle>

using namespace OptionsSupport;

COptionsDlgGeneral::COptionsDlgGeneral(COptions& options, IScheduleStore& schedule, TestMailSources testSources,
                                       QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::OptionsDlgGeneral>()), m_options(options), m_schedule(schedule),
      m_testSources(std::move(testSources))
{
    // The form's buttons are no default buttons: Enter belongs to the sheet's OK.
    m_ui->setupUi(this);
    m_ui->browseButton->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    // The limits and defaults are the check's own, not the form's.
    m_ui->historyMonthsSpin->setRange(0, kMaxHistoryMonths);
    m_ui->checkWorkersSpin->setRange(1, kMaxCheckWorkers);
    m_ui->checkWorkersSpin->setValue(kDefaultCheckWorkers);
    m_ui->checkPerSiteSpin->setRange(1, kMaxCheckPerSite);
    m_ui->checkPerSiteSpin->setValue(kDefaultCheckPerSite);
    NameFieldsByTheirLabels(this);

    connect(m_ui->useProxyCheck, &QCheckBox::toggled, this, &COptionsDlgGeneral::UpdateButtons);
    connect(m_ui->scheduleCheck, &QCheckBox::toggled, this, &COptionsDlgGeneral::UpdateButtons);
    connect(m_ui->notifyCheck, &QCheckBox::toggled, this, &COptionsDlgGeneral::UpdateButtons);
    connect(m_ui->scheduleButton, &QPushButton::clicked, this, &COptionsDlgGeneral::OnSchedule);
    connect(m_ui->notifyButton, &QPushButton::clicked, this, &COptionsDlgGeneral::OnConfigureNotification);
    connect(m_ui->proxyButton, &QPushButton::clicked, this, &COptionsDlgGeneral::OnConfigureProxy);
    connect(m_ui->browseButton, &QPushButton::clicked, this, &COptionsDlgGeneral::OnBrowse);
    Load();
}

COptionsDlgGeneral::~COptionsDlgGeneral() = default;

void COptionsDlgGeneral::Load()
{
    const bool exists = m_schedule.ScheduledTaskExists();
    m_ui->scheduleCheck->setChecked(exists);
    m_ui->statusLabel->setText(FromStd(DescribeSchedule(m_schedule)));
    m_ui->notifyCheck->setChecked(m_options.GetNotifyStatusChanges());
    m_ui->useProxyCheck->setChecked(m_options.GetUseProxy());
    m_ui->databaseEdit->setText(FromStd(m_options.GetDatabasePath()));
    UpdateButtons();
}

void COptionsDlgGeneral::SetHistoryMonths(int months)
{
    m_ui->historyMonthsSpin->setValue(months);
}

int COptionsDlgGeneral::GetHistoryMonths() const
{
    return m_ui->historyMonthsSpin->value();
}

void COptionsDlgGeneral::SetCheckConcurrency(int workers, int perSite)
{
    m_ui->checkWorkersSpin->setValue(workers);
    m_ui->checkPerSiteSpin->setValue(perSite);
}

int COptionsDlgGeneral::GetCheckWorkers() const
{
    return m_ui->checkWorkersSpin->value();
}

int COptionsDlgGeneral::GetCheckPerSite() const
{
    return m_ui->checkPerSiteSpin->value();
}

void COptionsDlgGeneral::UpdateButtons()
{
    m_ui->proxyButton->setEnabled(m_ui->useProxyCheck->isChecked());
    m_ui->scheduleButton->setEnabled(m_ui->scheduleCheck->isChecked());
    m_ui->notifyButton->setEnabled(m_ui->notifyCheck->isChecked());
}

bool COptionsDlgGeneral::OnOK()
{
    auto refuse = [this](QPushButton* button, const QString& text) {
        MessageBox::Warn(this, text);
        button->setFocus();
        return false;
    };
    if (m_ui->scheduleCheck->isChecked() && !m_schedule.ScheduledTaskExists())
        return refuse(m_ui->scheduleButton, QStringLiteral("Please configure scheduling settings"));
    if (m_ui->notifyCheck->isChecked() &&
        (m_options.GetSmtpServer().empty() || m_options.GetMailFrom().empty() || m_options.GetMailTo().empty()))
        return refuse(m_ui->notifyButton, QStringLiteral("Please configure E-mail Notification settings"));
    if (m_ui->useProxyCheck->isChecked() && m_options.GetProxyHost().empty())
        return refuse(m_ui->proxyButton, QStringLiteral("Please configure Proxy settings"));
    Store();
    return true;
}

void COptionsDlgGeneral::Store()
{
    m_options.SetNotifyStatusChanges(m_ui->notifyCheck->isChecked());
    if (!m_ui->scheduleCheck->isChecked() && m_schedule.ScheduledTaskExists() && !m_schedule.DeleteScheduledTask())
        MessageBox::Warn(this, FromStd(m_schedule.LastError()));
    m_options.SetUseProxy(m_ui->useProxyCheck->isChecked());
    m_options.SetDatabasePath(ToStd(m_ui->databaseEdit->text().trimmed()));
    m_options.SetRealMonitoring(m_ui->scheduleCheck->isChecked());
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
    const QString path =
        FileDialog::AskOpenFile(this, QStringLiteral("Database File"),
                                {QStringLiteral("Orvex databases (*.orx)"), QStringLiteral("All files (*)")},
                                m_ui->databaseEdit->text().trimmed());
    if (!path.isEmpty())
        m_ui->databaseEdit->setText(path);
}
