#pragma once

#include <QDialog>

class IScheduleStore;
class QCheckBox;
class QLineEdit;
class QTimeEdit;

/// "Schedule": the days and the time of the weekly unattended check. Changes go to the
/// scheduler at OK, at once; cancelling the options afterwards does not undo them.
class CSchedulingDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CSchedulingDlg(IScheduleStore& store, QWidget* parent = nullptr);

public slots:
    void accept() override;

private:
    IScheduleStore& m_store;
    QCheckBox* m_days[7]; ///< Sunday first, as the day bits go
    QTimeEdit* m_time;
    QLineEdit* m_user;
};
