#include "ProgressWork.h"

#include <QCloseEvent>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

namespace {

constexpr int kSteps = 1000;

class CProgressWorkDlg : public QDialog
{
public:
    CProgressWorkDlg(const QString& title, const QString& text, std::atomic<int>& done, std::atomic<bool>& cancel,
                     QWidget* parent)
        : QDialog(parent), m_done(done), m_cancel(cancel)
    {
        setWindowTitle(title);
        setAccessibleName(title);
        setWindowModality(Qt::ApplicationModal);
        m_label = new QLabel(text, this);
        m_bar = new QProgressBar(this);
        m_bar->setObjectName(QStringLiteral("progressBar"));
        m_bar->setRange(0, kSteps);
        m_bar->setAccessibleName(text);
        m_button = new QPushButton(tr("Cancel"), this);
        m_button->setObjectName(QStringLiteral("cancelButton"));
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(m_label);
        layout->addWidget(m_bar);
        layout->addWidget(m_button, 0, Qt::AlignHCenter);
        setMinimumWidth(360);
        connect(m_button, &QPushButton::clicked, this, &CProgressWorkDlg::RequestCancel);
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] { m_bar->setValue(m_done.load()); });
        timer->start(100);
        m_button->setFocus();
    }

    void Finish()
    {
        m_finished = true;
        done(QDialog::Accepted);
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
        if (m_cancel.exchange(true))
            return;
        m_label->setText(tr("Cancelling..."));
        m_button->setEnabled(false);
    }

    std::atomic<int>& m_done;
    std::atomic<bool>& m_cancel;
    QLabel* m_label = nullptr;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_button = nullptr;
    bool m_finished = false;
};

} // namespace

bool RunProgressWork(QWidget* parent, const QString& title, const QString& text,
                     const std::function<void(const WorkProgress& progress)>& work)
{
    std::atomic<int> done{0};
    std::atomic<bool> cancel{false};
    CProgressWorkDlg dialog(title, text, done, cancel, parent);
    const WorkProgress progress = [&done, &cancel](double fraction) {
        // Anything not a number counts as no progress rather than an undefined conversion.
        done.store(static_cast<int>((fraction > 0.0 ? std::min(fraction, 1.0) : 0.0) * kSteps));
        return !cancel.load();
    };
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work(progress);
        } catch (...) {
            failure = std::current_exception();
        }
        // Queued: the dialog lives on the calling thread, and its loop picks this up even when
        // the work ends before the loop has begun.
        QMetaObject::invokeMethod(
            &dialog, [&dialog] { dialog.Finish(); }, Qt::QueuedConnection);
    });
    // Only the work's end closes the dialog; should its loop be ended from outside (the program
    // quitting), the join still waits, for the work uses what the caller holds.
    dialog.exec();
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
    return !cancel.load();
}
