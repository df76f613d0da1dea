#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

class CBackgroundWork;
class QWidget;

/// What a work is handed on its thread: the user's Cancel, and where a determinate bar hears how
/// far the work got. Every member may be called from any thread.
class CWorkToken
{
public:
    CWorkToken(const CWorkToken&) = delete;
    CWorkToken& operator=(const CWorkToken&) = delete;

    /// True once the user asked the work to stop.
    bool IsCancelled() const { return m_cancelled.load(); }
    /// The flag itself, for blocking code that watches one: CFetchCancelScope(token.CancelFlag()).
    const std::atomic<bool>& CancelFlag() const { return m_cancelled; }
    /// The same flag as the mail code takes it (signal handlers set an int): SetAbortFlag(token.AbortFlag()).
    const std::atomic<int>* AbortFlag() const { return &m_abort; }
    /// How far the work got, 0..1; false once the user cancelled. Cheap enough to call for every
    /// row: the bar hears of it only when the shown value changes.
    bool Report(double done);
    /// Report as a function, for code that takes one (the exchange's ProgressFn).
    std::function<bool(double)> Progress();

private:
    friend class CBackgroundWork;
    explicit CWorkToken(CBackgroundWork& owner) : m_owner(owner) {}
    void Cancel();

    CBackgroundWork& m_owner;
    std::atomic<bool> m_cancelled{false};
    std::atomic<int> m_abort{0};
    std::atomic<int> m_steps{0};
    std::atomic<bool> m_reportQueued{false};
};

/// One work on a thread of its own, for a dialog that shows the wait itself (RunWork below shows
/// it in a dialog of its own). Its signals come on the thread that made it, never from the work's.
class CBackgroundWork : public QObject
{
    Q_OBJECT

public:
    /// The bar's steps between nothing and done.
    static constexpr int kSteps = 1000;

    explicit CBackgroundWork(QObject* parent = nullptr);
    /// Cancels a work still running and waits for its end, for it may use what the owner holds.
    ~CBackgroundWork() override;

    /// Starts `work`; one work at a time. What it throws is kept for Failure.
    void Start(std::function<void(CWorkToken& token)> work);
    /// Tells the work the user wants it to stop; Finished still follows, once it has ended.
    void Cancel();
    /// Returns once the work has ended, without Finished; for an owner that cannot wait for it.
    void Wait();
    bool IsRunning() const { return m_worker.joinable(); }
    bool IsCancelled() const { return m_token && m_token->IsCancelled(); }
    /// What the work threw; null while it runs and when it returned.
    std::exception_ptr Failure() const { return m_worker.joinable() ? nullptr : m_failure; }

signals:
    /// How far the work got, in steps of kSteps; not each report, but always the latest.
    void Progressed(int steps);
    /// The work has ended and its thread is gone.
    void Finished();

private:
    friend class CWorkToken;
    void DeliverProgress();
    void OnWorkerEnded(unsigned run);

    std::unique_ptr<CWorkToken> m_token;
    std::thread m_worker;
    std::exception_ptr m_failure;
    /// Tells an end reported by an earlier work, left queued by Wait, from the current one's.
    unsigned m_run = 0;
};

/// A CBackgroundWork whose work returns a value, for an owner that hears of the end through
/// Finished: the value waits here for it, so the work's thread writes nothing of the owner's.
template <class R> class CBackgroundTask : public CBackgroundWork
{
public:
    using CBackgroundWork::CBackgroundWork;
    /// The base waits for the work too, but only after the value is gone, which the work may
    /// still be writing.
    ~CBackgroundTask() override
    {
        Cancel();
        Wait();
    }

    /// Starts `work(CWorkToken&)`, which returns an R; one work at a time.
    template <class Work> void Start(Work work)
    {
        Wait();
        m_result.reset();
        CBackgroundWork::Start(
            [this, work = std::move(work)](CWorkToken& token) mutable { m_result.emplace(work(token)); });
    }
    /// What the work returned, once it has ended (Finished, or after Wait); empty while it runs,
    /// when it threw (see Failure) and once taken.
    std::optional<R> TakeResult()
    {
        if (IsRunning())
            return std::nullopt;
        return std::exchange(m_result, std::nullopt);
    }

private:
    std::optional<R> m_result;
};

/// How the dialog of RunWork shows the wait.
enum class WorkBar
{
    Determinate, ///< the work reports how far it got (CWorkToken::Report)
    Busy,        ///< its length cannot be known: the bar only shows that work goes on
};

/// What the dialog of RunWork says.
struct WorkDialog
{
    QString text{};  ///< what goes on; also the bar's accessible name
    QString title{}; ///< the window's title and accessible name; "" for the program's name
    WorkBar bar = WorkBar::Busy;
};

/// What a work returned, and whether the user pressed Cancel meanwhile (whatever the work made of it).
template <class R> struct WorkOutcome
{
    R value;
    bool cancelled;
};
template <> struct WorkOutcome<void>
{
    bool cancelled;
};

namespace detail {
/// RunWork without its result type; returns whether the user cancelled.
bool RunWorkBehindDialog(QWidget* parent, const WorkDialog& dialog, std::function<void(CWorkToken& token)> work);
} // namespace detail

/// Runs `work(CWorkToken&)` on a thread of its own behind a modal dialog with Cancel, while the
/// program's events go on: windows repaint, timers fire, local servers answer. Cancel, Escape and
/// the close box only tell the work through its token; the dialog stays until the work has
/// ended, so the work may use whatever the caller holds. What the work returned comes back here,
/// on the calling thread, and so does an exception it threw, which is thrown again.
template <class Work> auto RunWork(QWidget* parent, const WorkDialog& dialog, Work&& work)
{
    using R = std::invoke_result_t<Work&, CWorkToken&>;
    if constexpr (std::is_void_v<R>) {
        return WorkOutcome<void>{detail::RunWorkBehindDialog(parent, dialog, std::forward<Work>(work))};
    } else {
        std::optional<R> value;
        const bool cancelled = detail::RunWorkBehindDialog(
            parent, dialog, [&value, &work](CWorkToken& token) { value.emplace(work(token)); });
        // The work returned, or the call above has thrown what it threw instead.
        return WorkOutcome<R>{std::move(*value), cancelled};
    }
}
