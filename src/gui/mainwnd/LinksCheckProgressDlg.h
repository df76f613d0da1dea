#pragma once

#include "CheckSummary.h"

#include <QDialog>
#include <memory>
#include <vector>

class CLink;
class CCheckRun;
class QLabel;
class QProgressBar;
class QTimer;

/// "Progress...": the interactive check run of the given links with the five workers, a bar and
/// texts that follow them every 500 ms (how many are checked, a page a worker is fetching, the
/// problems found so far) and "Stop". exec() returns when the run has ended or was stopped and
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
    /// What the run did; complete once exec() has returned.
    CheckRunSummary GetSummary() const;
    /// Once exec() has returned: why the run changed nothing (the user's own network was down), ""
    /// when it counts.
    QString NothingReached() const;
    /// For tests: the run's poll interval.
    void SetTickInterval(int milliseconds);

    /// The texts as shown: "12 of 40 checked", the page (in full) and the problems line.
    QString GetCheckedText() const;
    QString GetPageText() const;
    QString GetProblemsText() const;

protected:
    void reject() override; ///< "Stop", Escape and the close box

private:
    void OnTick();
    void ShowProgress();

    std::unique_ptr<CCheckRun> m_run;
    QProgressBar* m_bar = nullptr;
    QLabel* m_checkedLabel = nullptr;
    QLabel* m_pageLabel = nullptr;
    QLabel* m_problemsLabel = nullptr;
    QString m_page; ///< the page shown, in full (the label may shorten it)
    QTimer* m_timer = nullptr;
    bool m_stopped = false;
};
