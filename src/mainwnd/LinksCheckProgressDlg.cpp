#include "LinksCheckProgressDlg.h"

#include "checking/CheckRuns.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

CLinksCheckProgressDlg::CLinksCheckProgressDlg(const std::vector<CLink*>& links, QWidget* parent)
    : QDialog(parent), m_run(std::make_unique<CCheckRun>(links))
{
    setWindowTitle(tr("Progress..."));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Checking %n link(s)...", nullptr, static_cast<int>(links.size())), this));
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, static_cast<int>(links.size()));
    m_bar->setValue(0);
    m_bar->setMinimumWidth(320);
    layout->addWidget(m_bar);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* stop = buttons->addButton(tr("Stop"), QDialogButtonBox::RejectRole);
    connect(stop, &QPushButton::clicked, this, &CLinksCheckProgressDlg::reject);
    layout->addWidget(buttons);

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
    return m_run->Progress().done.load();
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

void CLinksCheckProgressDlg::OnTick()
{
    const CheckProgress& progress = m_run->Progress();
    const int done = progress.done.load();
    m_bar->setValue(done);
    if (done >= progress.total.load() || progress.cancel.load() || m_run->IsFinished())
        accept();
}

void CLinksCheckProgressDlg::reject()
{
    m_stopped = true;
    m_run->Cancel();
    QDialog::reject();
}
