#include "BusyWork.h"

#include <QCloseEvent>
#include <QProgressDialog>

#include <atomic>
#include <exception>
#include <thread>

namespace {

// The work cannot be interrupted (a page fetch runs to its time-out), so neither Escape nor the
// close box may end the wait before it does.
class CBusyDlg : public QProgressDialog
{
public:
    CBusyDlg(const QString& text, QWidget* parent) : QProgressDialog(text, QString(), 0, 0, parent)
    {
        setWindowTitle(QStringLiteral("Orvex"));
        setAccessibleName(text);
        setCancelButton(nullptr);
        setWindowModality(Qt::ApplicationModal);
        setMinimumDuration(0);
        setAutoClose(false);
        setAutoReset(false);
    }

    void Finish()
    {
        m_finished = true;
        done(QDialog::Accepted);
    }

    void reject() override
    {
        if (m_finished)
            QProgressDialog::reject();
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        if (m_finished)
            QProgressDialog::closeEvent(event);
        else
            event->ignore();
    }

private:
    bool m_finished = false;
};

} // namespace

void RunBusyWork(QWidget* parent, const QString& text, const std::function<void()>& work)
{
    CBusyDlg dialog(text, parent);
    std::exception_ptr failure;
    std::atomic<bool> ended{false};
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        ended.store(true);
        // Queued: the dialog lives on the calling thread, and its loop picks this up even when
        // the work ends before the loop has begun.
        QMetaObject::invokeMethod(
            &dialog, [&dialog] { dialog.Finish(); }, Qt::QueuedConnection);
    });
    // Only the work's end closes the dialog; a loop ended from outside (the program quitting)
    // still waits below, for the work uses what the caller holds.
    if (!ended.load())
        dialog.exec();
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}
