#pragma once

#include "SMTPSettingsDlg.h"

#include <QWidget>

class COptions;
class IScheduleStore;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

/// The "General" page of the options: proxy, database file, the weekly check and the letters.
class COptionsDlgGeneral : public QWidget
{
    Q_OBJECT

public:
    COptionsDlgGeneral(COptions& options, IScheduleStore& schedule, TestMailSources testSources,
                       QWidget* parent = nullptr);

    /// The page's checks, then its values into the settings copy; false (after a message) keeps
    /// the sheet open.
    bool OnOK();

    /// "Keep check history for": months, 0 = every check. Not part of the settings copy (it is
    /// kept with the window's settings, not in "ORX.cfg").
    void SetHistoryMonths(int months);
    int GetHistoryMonths() const;
    /// Pages checked at once, and requests at once to one site (kept with the window's settings).
    void SetCheckConcurrency(int workers, int perSite);
    int GetCheckWorkers() const;
    int GetCheckPerSite() const;

private:
    void Load();
    /// The values into the settings copy as OK does after its checks; clearing the scheduling
    /// box removes the task here.
    void Store();
    void UpdateButtons();
    void OnSchedule();
    void OnConfigureNotification();
    void OnConfigureProxy();
    void OnBrowse();

    COptions& m_options;
    IScheduleStore& m_schedule;
    TestMailSources m_testSources;
    QCheckBox* m_useProxy;
    QLineEdit* m_database;
    QPushButton* m_browse;
    QLabel* m_status;
    QCheckBox* m_scheduled;
    QCheckBox* m_notify;
    QPushButton* m_scheduleButton;
    QPushButton* m_notifyButton;
    QPushButton* m_proxyButton;
    QSpinBox* m_historyMonths;
    QSpinBox* m_checkWorkers;
    QSpinBox* m_checkPerSite;
};
