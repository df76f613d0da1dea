#include "SchedulingDlg.h"

#include "OptionsSupport.h"
#include "ScheduleStore.h"

#include "gui/widgets/MessageBox.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimeEdit>
#include <QVBoxLayout>

using namespace OptionsSupport;

CSchedulingDlg::CSchedulingDlg(IScheduleStore& store, QWidget* parent) : QDialog(parent), m_store(store)
{
    auto* layout = new QVBoxLayout(this);
    auto* dayRow = new QHBoxLayout;
    layout->addLayout(dayRow);
    // Shown Monday first, as a week reads; held Sunday first.
    static const char* const kNames[] = {"Sun", "&Mon", "Tu&e", "&Wed", "T&hu", "&Fri", "S&at"};
    for (int day = 0; day < 7; ++day) {
        m_days[day] = new QCheckBox(QLatin1String(kNames[day]), this);
        m_days[day]->setObjectName(QStringLiteral("day%1").arg(day));
    }
    m_days[0]->setText(QStringLiteral("Su&n"));
    for (int i = 1; i <= 7; ++i)
        dayRow->addWidget(m_days[i % 7]);

    auto* form = new QFormLayout;
    layout->addLayout(form);
    m_time = new QTimeEdit(QTime::currentTime(), this);
    m_time->setObjectName(QStringLiteral("timeEdit"));
    m_time->setDisplayFormat(QStringLiteral("HH:mm"));
    auto* timeLabel = new QLabel(QStringLiteral("&Start time"), this);
    timeLabel->setBuddy(m_time);
    form->addRow(timeLabel, m_time);
    m_user = AddField(form, QStringLiteral("&UserName"), QString(), "userEdit");
    m_user->setReadOnly(true);

    auto* note =
        new QLabel(QStringLiteral("cron starts the check as this user; the computer must be on at that time."), this);
    note->setWordWrap(true);
    note->setAutoFillBackground(true);
    QPalette palette = note->palette();
    palette.setColor(QPalette::Window, QColor(0xCC, 0xFF, 0xFF));
    note->setPalette(palette);
    layout->addWidget(note);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSchedulingDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSchedulingDlg::reject);
    FinishDialog(this, QStringLiteral("Schedule"));

    std::string user = store.CurrentUser();
    if (store.ScheduledTaskExists()) {
        if (const auto account = store.GetTaskAccount())
            user = *account;
    }
    m_user->setText(FromStd(user));
    if (const auto trigger = store.GetWeeklyTrigger()) {
        for (int day = 0; day < 7; ++day)
            m_days[day]->setChecked((trigger->days & (1u << day)) != 0);
        m_time->setTime(QTime(trigger->hour, trigger->minute));
    }
    m_days[1]->setFocus();
}

void CSchedulingDlg::accept()
{
    uint8_t days = 0;
    for (int day = 0; day < 7; ++day)
        if (m_days[day]->isChecked())
            days = static_cast<uint8_t>(days | (1u << day));
    const QTime time = m_time->time();
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
