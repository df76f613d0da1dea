#include "LinksCheckProgressDlg.h"

#include "core/runs/CheckRuns.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kPageWidth = 420;

} // namespace

CLinksCheckProgressDlg::CLinksCheckProgressDlg(const std::vector<CLink*>& links, QWidget* parent)
    : QDialog(parent), m_run(std::make_unique<CCheckRun>(links))
{
    setWindowTitle(tr("Progress..."));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    m_checkedLabel = new QLabel(this);
    m_checkedLabel->setObjectName(QStringLiteral("checkedCount"));
    layout->addWidget(m_checkedLabel);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, static_cast<int>(links.size()));
    m_bar->setValue(0);
    m_bar->setMinimumWidth(320);
    layout->addWidget(m_bar);
    // A long address is shortened in its middle: its site and its last part tell it apart.
    m_pageLabel = new QLabel(this);
    m_pageLabel->setObjectName(QStringLiteral("pageBeingChecked"));
    m_pageLabel->setTextFormat(Qt::PlainText);
    m_pageLabel->setMinimumWidth(kPageWidth);
    m_pageLabel->setMinimumHeight(m_pageLabel->fontMetrics().height());
    layout->addWidget(m_pageLabel);
    m_problemsLabel = new QLabel(this);
    m_problemsLabel->setObjectName(QStringLiteral("problemCount"));
    layout->addWidget(m_problemsLabel);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* stop = buttons->addButton(tr("Stop"), QDialogButtonBox::RejectRole);
    connect(stop, &QPushButton::clicked, this, &CLinksCheckProgressDlg::reject);
    layout->addWidget(buttons);
    ShowProgress();

    m_timer = new QTimer(this);
    m_timer->setInterval(500);
    connect(m_timer, &QTimer::timeout, this, &CLinksCheckProgressDlg::OnTick);
}

CLinksCheckProgressDlg::~CLinksCheckProgressDlg() = default;

void CLinksCheckProgressDlg::SetTickInterval(int milliseconds)
{
    m_timer->setInterval(milliseconds);
}

int CLinksCheckProgressDlg::GetDone() const
{
    return m_run->Progress().Done();
}

CheckRunSummary CLinksCheckProgressDlg::GetSummary() const
{
    return SummarizeCheckRun(m_run->Links(), m_run->Progress().Outcomes(), m_stopped);
}

QString CLinksCheckProgressDlg::NothingReached() const
{
    return QString::fromStdString(m_run->NothingReached());
}

QString CLinksCheckProgressDlg::GetCheckedText() const
{
    return m_checkedLabel->text();
}

QString CLinksCheckProgressDlg::GetPageText() const
{
    return m_page;
}

QString CLinksCheckProgressDlg::GetProblemsText() const
{
    return m_problemsLabel->text();
}

int CLinksCheckProgressDlg::exec()
{
    // Without workers nothing is checked; the dialog still closes at its first tick.
    m_run->Start();
    m_timer->start();
    const int result = QDialog::exec();
    m_timer->stop();
    if (m_stopped)
        m_run->Cancel();
    m_run->Wait();
    return result;
}

void CLinksCheckProgressDlg::ShowProgress()
{
    const CheckProgress& progress = m_run->Progress();
    const int done = progress.Done();
    m_bar->setValue(done);
    m_checkedLabel->setText(tr("%1 of %2 checked").arg(done).arg(progress.Total()));
    // Between two links no worker may hold one: the last page stays rather than a blank flicker.
    const QString page = QString::fromStdString(progress.PageBeingChecked());
    if (!page.isEmpty() && page != m_page) {
        m_page = page;
        m_pageLabel->setText(
            tr("Fetching %1").arg(m_pageLabel->fontMetrics().elidedText(page, Qt::ElideMiddle, kPageWidth)));
        m_pageLabel->setToolTip(page);
    } else if (const int waiting = progress.WaitingForRetry(); page.isEmpty() && waiting > 0) {
        // Only pages to try again are left, and their wait may be long: say so rather than stand still.
        m_page.clear();
        m_pageLabel->setText(waiting == 1 ? tr("Waiting to try 1 page again")
                                          : tr("Waiting to try %1 pages again").arg(waiting));
        m_pageLabel->setToolTip(QString());
    }
    const int problems = progress.Problems();
    m_problemsLabel->setText(problems == 0 ? tr("No problems found so far") : tr("Problems found: %1").arg(problems));
}

void CLinksCheckProgressDlg::OnTick()
{
    ShowProgress();
    const CheckProgress& progress = m_run->Progress();
    if (progress.Done() >= progress.Total() || progress.IsCancelled() || m_run->IsFinished())
        accept();
}

void CLinksCheckProgressDlg::reject()
{
    m_stopped = true;
    m_run->Cancel();
    QDialog::reject();
}
