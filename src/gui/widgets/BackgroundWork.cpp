#include "BackgroundWork.h"

#include <QCloseEvent>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

bool CWorkToken::Report(double done)
{
    // Anything not a number counts as no progress rather than an undefined conversion.
    const int steps = static_cast<int>((done > 0.0 ? std::min(done, 1.0) : 0.0) * CBackgroundWork::kSteps);
    // One delivery waits at a time and takes the latest value: a work that reports every row
    // must not bury the window's events under its own.
    if (m_steps.exchange(steps) != steps && !m_reportQueued.exchange(true))
        QMetaObject::invokeMethod(
            &m_owner, [owner = &m_owner] { owner->DeliverProgress(); }, Qt::QueuedConnection);
    return !IsCancelled();
}

std::function<bool(double)> CWorkToken::Progress()
{
    return [this](double done) { return Report(done); };
}

void CWorkToken::Cancel()
{
    m_abort.store(1);
    m_cancelled.store(true);
}

CBackgroundWork::CBackgroundWork(QObject* parent) : QObject(parent)
{
}

CBackgroundWork::~CBackgroundWork()
{
    Cancel();
    Wait();
}

void CBackgroundWork::Start(std::function<void(CWorkToken& token)> work)
{
    Wait();
    m_token.reset(new CWorkToken(*this));
    m_failure = nullptr;
    const unsigned run = ++m_run;
    m_worker = std::thread([this, run, work = std::move(work)] {
        try {
            work(*m_token);
        } catch (...) {
            m_failure = std::current_exception();
        }
        // Queued: heard on this object's thread once its loop runs, even when the work ends
        // before a dialog has begun to wait; not at all once the object is gone.
        QMetaObject::invokeMethod(
            this, [this, run] { OnWorkerEnded(run); }, Qt::QueuedConnection);
    });
}

void CBackgroundWork::Cancel()
{
    if (m_token)
        m_token->Cancel();
}

void CBackgroundWork::Wait()
{
    if (m_worker.joinable())
        m_worker.join();
}

void CBackgroundWork::DeliverProgress()
{
    if (!m_token)
        return;
    // Cleared before the value is read, so that a report made meanwhile is delivered too.
    m_token->m_reportQueued.store(false);
    emit Progressed(m_token->m_steps.load());
}

void CBackgroundWork::OnWorkerEnded(unsigned run)
{
    // An earlier work that Wait has already seen off says nothing.
    if (run != m_run || !m_worker.joinable())
        return;
    m_worker.join();
    emit Finished();
}

namespace {

// The dialog of RunWork. Only the work's end closes it: Cancel, Escape and the close box ask the
// work to stop and leave it waiting for that.
class CWorkDlg : public QDialog
{
public:
    CWorkDlg(const WorkDialog& how, CBackgroundWork& work, QWidget* parent) : QDialog(parent), m_work(work)
    {
        setWindowTitle(how.title.isEmpty() ? QStringLiteral("Orvex") : how.title);
        setAccessibleName(how.title.isEmpty() ? how.text : how.title);
        setWindowModality(Qt::ApplicationModal);
        m_label = new QLabel(how.text, this);
        m_label->setWordWrap(true);
        auto* bar = new QProgressBar(this);
        bar->setObjectName(QStringLiteral("progressBar"));
        bar->setAccessibleName(how.text);
        if (how.bar == WorkBar::Busy) {
            bar->setRange(0, 0);
            bar->setTextVisible(false);
        } else {
            bar->setRange(0, CBackgroundWork::kSteps);
            bar->setValue(0);
        }
        m_button = new QPushButton(tr("Cancel"), this);
        m_button->setObjectName(QStringLiteral("cancelButton"));
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(m_label);
        layout->addWidget(bar);
        layout->addWidget(m_button, 0, Qt::AlignHCenter);
        setMinimumWidth(360);
        connect(m_button, &QPushButton::clicked, this, &CWorkDlg::RequestCancel);
        connect(&work, &CBackgroundWork::Progressed, bar, &QProgressBar::setValue);
        connect(&work, &CBackgroundWork::Finished, this, [this] {
            m_finished = true;
            done(QDialog::Accepted);
        });
        m_button->setFocus();
    }

    void reject() override
    {
        if (m_finished)
            QDialog::reject();
        else
            RequestCancel();
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        if (m_finished) {
            QDialog::closeEvent(event);
            return;
        }
        event->ignore();
        RequestCancel();
    }

private:
    void RequestCancel()
    {
        if (m_work.IsCancelled())
            return;
        m_work.Cancel();
        m_label->setText(tr("Cancelling..."));
        m_button->setEnabled(false);
    }

    CBackgroundWork& m_work;
    QLabel* m_label = nullptr;
    QPushButton* m_button = nullptr;
    bool m_finished = false;
};

} // namespace

bool detail::RunWorkBehindDialog(QWidget* parent, const WorkDialog& dialog, std::function<void(CWorkToken& token)> work)
{
    CBackgroundWork background;
    CWorkDlg shown(dialog, background, parent);
    background.Start(std::move(work));
    shown.exec();
    // The loop can also end from outside (the program quitting); the work still uses what the
    // caller holds, so it is waited for all the same.
    background.Wait();
    if (const std::exception_ptr failure = background.Failure())
        std::rethrow_exception(failure);
    return background.IsCancelled();
}
