#pragma once

#include "SMTPSettingsDlg.h"

#include <QWidget>

#include <memory>

class COptions;
class IScheduleStore;

namespace Ui {
class OptionsDlgGeneral;
}

/// The "General" page of the options: proxy, database file, the weekly check and the letters.
class COptionsDlgGeneral : public QWidget
{
    Q_OBJECT

public:
    COptionsDlgGeneral(COptions& options, IScheduleStore& schedule, TestMailSources testSources,
                       QWidget* parent = nullptr);
    ~COptionsDlgGeneral() override;

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

    std::unique_ptr<Ui::OptionsDlgGeneral> m_ui;
    COptions& m_options;
    IScheduleStore& m_schedule;
    TestMailSources m_testSources;
};
