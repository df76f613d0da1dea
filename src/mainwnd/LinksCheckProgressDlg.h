#pragma once

#include <QDialog>
#include <vector>

class CLink;
class CCheckRun;
class QProgressBar;
class QTimer;

/// "Progress...": the interactive check run of the given links with the five workers, a bar that
/// follows them every 500 ms and "Stop". exec() returns when the run has ended or was stopped and
/// every worker has finished the link it held.
class CLinksCheckProgressDlg : public QDialog
{
    Q_OBJECT

public:
    CLinksCheckProgressDlg(const std::vector<CLink*>& links, QWidget* parent = nullptr);
    ~CLinksCheckProgressDlg() override;

    int exec() override;
    bool WasStopped() const { return m_stopped; }
    int GetDone() const;
    /// For tests: the run's poll interval.
    void SetTickInterval(int milliseconds);

protected:
    void reject() override; ///< "Stop", Escape and the close box

private:
    void OnTick();

    std::unique_ptr<CCheckRun> m_run;
    QProgressBar* m_bar = nullptr;
    QTimer* m_timer = nullptr;
    bool m_stopped = false;
};
