#pragma once

#include <QDialog>

#include <array>
#include <memory>

class IScheduleStore;
class QCheckBox;

namespace Ui {
class SchedulingDlg;
}

/// "Schedule": the days and the time of the weekly unattended check. Changes go to the
/// scheduler at OK, at once; cancelling the options afterwards does not undo them.
class CSchedulingDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CSchedulingDlg(IScheduleStore& store, QWidget* parent = nullptr);
    ~CSchedulingDlg() override;

public slots:
    void accept() override;

private:
    std::unique_ptr<Ui::SchedulingDlg> m_ui;
    IScheduleStore& m_store;
    std::array<QCheckBox*, 7> m_days; ///< Sunday first, as the day bits go
};
