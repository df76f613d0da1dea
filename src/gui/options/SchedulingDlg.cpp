#include "SchedulingDlg.h"

#include "OptionsSupport.h"
#include "ScheduleStore.h"

#include "gui/widgets/DialogFields.h"
#include "gui/widgets/MessageBox.h"
#include "ui_SchedulingDlg.h"

using namespace OptionsSupport;

CSchedulingDlg::CSchedulingDlg(IScheduleStore& store, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::SchedulingDlg>()), m_store(store)
{
    m_ui->setupUi(this);
    // The form shows the week Monday first, as a week reads; the day bits go Sunday first.
    m_days = {m_ui->day0, m_ui->day1, m_ui->day2, m_ui->day3, m_ui->day4, m_ui->day5, m_ui->day6};
    m_ui->timeEdit->setTime(QTime::currentTime());
    QPalette palette = m_ui->noteLabel->palette();
    palette.setColor(QPalette::Window, QColor(0xCC, 0xFF, 0xFF));
    m_ui->noteLabel->setPalette(palette);
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &CSchedulingDlg::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &CSchedulingDlg::reject);
    NameFieldsByTheirLabels(this);

    std::string user = store.CurrentUser();
    if (store.ScheduledTaskExists()) {
        if (const auto account = store.GetTaskAccount())
            user = *account;
    }
    m_ui->userEdit->setText(FromStd(user));
    if (const auto trigger = store.GetWeeklyTrigger()) {
        for (int day = 0; day < 7; ++day)
            m_days[day]->setChecked((trigger->days & (1u << day)) != 0);
        m_ui->timeEdit->setTime(QTime(trigger->hour, trigger->minute));
    }
    m_ui->day1->setFocus();
}

CSchedulingDlg::~CSchedulingDlg() = default;

void CSchedulingDlg::accept()
{
    uint8_t days = 0;
    for (int day = 0; day < 7; ++day)
        if (m_days[day]->isChecked())
            days = static_cast<uint8_t>(days | (1u << day));
    const QTime time = m_ui->timeEdit->time();
    const bool exists = m_store.ScheduledTaskExists();
    if (exists && !m_store.GetTaskAccount()) {
        // The task is there but cannot be read: changing it blindly could undo someone else's edit.
        const std::string why = m_store.LastError();
        MessageBox::Warn(this,
                         why.empty() ? QStringLiteral("Please specify a valid username and password.") : FromStd(why));
        return;
    }
    if (!exists && !m_store.CreateScheduledTask()) {
        MessageBox::Warn(this, FromStd(m_store.LastError()));
        return QDialog::accept();
    }
    if (!m_store.SetWeeklyTrigger(days, time.isValid() ? time.hour() : -1, time.isValid() ? time.minute() : -1)) {
        // A task without a trigger would never run, and would still read as scheduled.
        MessageBox::Warn(this, FromStd(m_store.LastError()));
        if (!m_store.DeleteScheduledTask())
            MessageBox::Warn(this, FromStd(m_store.LastError()));
    }
    QDialog::accept();
}
