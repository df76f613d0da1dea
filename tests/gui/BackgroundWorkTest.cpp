// Work behind a dialog: Cancel reaches the work and the dialog waits for its end, the result and
// an exception come back to the caller, reports reach the bar without flooding the window's
// events, no end of a work is lost however fast it comes, and a value comes back with the end;
// a quit from a signal closes every dialog, the work's too.
#include "gui/widgets/BackgroundWork.h"
#include "DialogTesting.h"
#include "gui/widgets/DialogsOnQuit.h"
#include "gui/widgets/MessageBox.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

// Waits as the blocking code of a real work would, but never past the test's patience.
void WaitFor(const std::function<bool()>& condition)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

} // namespace

class BackgroundWorkTest : public QObject
{
    Q_OBJECT

private slots:
    void cancelReachesTheWorkAndTheDialogWaitsForItsEnd()
    {
        std::atomic<bool> workEnded{false};
        bool driven = false;
        WhenShown<QDialog>([&](QDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Reading"));
            QCOMPARE(dialog->accessibleName(), QStringLiteral("Reading"));
            auto* bar = Child<QProgressBar>(dialog, "progressBar");
            QCOMPARE(bar->maximum(), CBackgroundWork::kSteps);
            QTRY_VERIFY(bar->value() > 0);
            QTest::keyClick(dialog, Qt::Key_Escape);
            // Escape only asked: the work goes on, and so does the dialog, with nothing left to press.
            QVERIFY(dialog->isVisible());
            QCOMPARE(dialog->findChild<QLabel*>()->text(), QStringLiteral("Cancelling..."));
            QVERIFY(!Child<QPushButton>(dialog, "cancelButton")->isEnabled());
            driven = true;
        });
        const WorkOutcome<bool> outcome = RunWork(nullptr,
                                                  {.text = QStringLiteral("Reading rows..."),
                                                   .title = QStringLiteral("Reading"),
                                                   .bar = WorkBar::Determinate},
                                                  [&](CWorkToken& token) {
                                                      for (int i = 0; i < 2000 && token.Report(i / 2000.0); ++i)
                                                          std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                                      // Both shapes of the flag, as blocking code is handed them.
                                                      const bool heard =
                                                          token.CancelFlag().load() && token.AbortFlag()->load() != 0;
                                                      // Still using what the caller holds after the Cancel.
                                                      std::this_thread::sleep_for(std::chrono::milliseconds(200));
                                                      workEnded.store(true);
                                                      return heard;
                                                  });
        QVERIFY(driven);
        QVERIFY(outcome.cancelled);
        QVERIFY2(outcome.value, "the work did not hear of the Cancel");
        QVERIFY(workEnded.load());
        QVERIFY(!QApplication::activeModalWidget());
    }

    void resultAndFailureComeBackToTheCaller()
    {
        std::atomic<bool> seen{false};
        WhenShown<QDialog>([&](QDialog* dialog) {
            // Without a title the dialog bears the program's name and says what goes on.
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Orvex"));
            QCOMPARE(dialog->accessibleName(), QStringLiteral("Looking..."));
            QCOMPARE(Child<QProgressBar>(dialog, "progressBar")->maximum(), 0);
            seen.store(true);
        });
        const WorkOutcome<std::unique_ptr<std::thread::id>> outcome =
            RunWork(nullptr, {.text = QStringLiteral("Looking...")}, [&](CWorkToken&) {
                WaitFor([&] { return seen.load(); });
                return std::make_unique<std::thread::id>(std::this_thread::get_id());
            });
        QVERIFY(seen.load());
        QVERIFY(!outcome.cancelled);
        QVERIFY(outcome.value);
        QVERIFY(*outcome.value != std::this_thread::get_id());

        std::string caught;
        try {
            RunWork(nullptr, {.text = QStringLiteral("Failing")},
                    [](CWorkToken&) -> int { throw std::runtime_error("disk gone"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        QCOMPARE(caught, std::string("disk gone"));
        QVERIFY(!QApplication::activeModalWidget());
    }

    void worksThatEndAtOnceLeaveNoDialogWaiting()
    {
        // A work may end before the dialog's loop has begun; its end must still close the dialog.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [] { qFatal("a dialog kept waiting for a work that had ended"); });
        watchdog.start(20000);
        int sum = 0;
        for (int i = 0; i < 30; ++i)
            sum += RunWork(nullptr, {.text = QStringLiteral("Quick")}, [i](CWorkToken&) { return i; }).value;
        watchdog.stop();
        QCOMPARE(sum, 435);
    }

    void reportsReachTheBarWithoutFloodingIt()
    {
        CBackgroundWork work;
        QSignalSpy progressed(&work, &CBackgroundWork::Progressed);
        QSignalSpy finished(&work, &CBackgroundWork::Finished);
        constexpr int kReports = 1000000;
        work.Start([](CWorkToken& token) {
            for (int i = 0; i <= kReports; ++i)
                token.Report(static_cast<double>(i) / kReports);
        });
        QVERIFY(finished.wait(20000));
        QVERIFY(!work.IsRunning());
        // At most one delivery for each step the bar can show, and the last report among them.
        QVERIFY2(progressed.count() >= 1 && progressed.count() <= CBackgroundWork::kSteps,
                 qPrintable(QString::number(progressed.count())));
        QCOMPARE(progressed.last().at(0).toInt(), CBackgroundWork::kSteps);
        QCOMPARE(finished.count(), 1);

        // An owner that goes while its work runs stops the work and waits for it.
        std::atomic<bool> heard{false};
        {
            CBackgroundWork leaving;
            leaving.Start([&heard](CWorkToken& token) {
                WaitFor([&token] { return token.IsCancelled(); });
                heard.store(token.IsCancelled());
            });
        }
        QVERIFY(heard.load());
    }

    void aWorksValueIsTheOwnersOnceItHasEnded()
    {
        CBackgroundTask<std::unique_ptr<int>> task;
        QSignalSpy finished(&task, &CBackgroundWork::Finished);
        std::atomic<bool> go{false};
        task.Start([&go](CWorkToken&) {
            WaitFor([&go] { return go.load(); });
            return std::make_unique<int>(7);
        });
        QVERIFY(!task.TakeResult()); // not while the work runs
        go.store(true);
        QVERIFY(finished.wait(10000));
        std::optional<std::unique_ptr<int>> value = task.TakeResult();
        QVERIFY(value && *value && **value == 7);
        QVERIFY2(!task.TakeResult(), "a value was handed over twice");

        // A work that threw leaves no value, and none of the work before.
        task.Start([](CWorkToken&) -> std::unique_ptr<int> { return std::make_unique<int>(1); });
        QVERIFY(finished.wait(10000));
        task.Start([](CWorkToken&) -> std::unique_ptr<int> { throw std::runtime_error("no value"); });
        QVERIFY(finished.wait(10000));
        QVERIFY(task.Failure());
        QVERIFY(!task.TakeResult());

        // An owner that waits takes the value at once, and hears of that end no more.
        task.Start([](CWorkToken&) { return std::make_unique<int>(3); });
        task.Wait();
        value = task.TakeResult();
        QVERIFY(value && *value && **value == 3);
        const int heard = finished.count();
        QTest::qWait(50);
        QCOMPARE(finished.count(), heard);
    }

    // A logout's SIGTERM while a question waits: the question is answered No (its default button
    // is Yes), a dialog opened after closes at once, and a work behind a dialog hears Cancel.
    void aQuitClosesTheOpenQuestionAndEveryDialogAfter()
    {
        CDialogsOnQuit onQuit;
        WhenShown<QMessageBox>([&](QMessageBox*) { onQuit.Begin(); });
        QVERIFY(!MessageBox::AskYesNo(nullptr, QStringLiteral("Would you like to import your data?")));
        QVERIFY(onQuit.Begun());
        QDialog later;
        QCOMPARE(later.exec(), int(QDialog::Rejected));
        const WorkOutcome<bool> outcome = RunWork(nullptr, {.text = QStringLiteral("Checking")}, [](CWorkToken& token) {
            WaitFor([&] { return token.IsCancelled(); });
            return token.IsCancelled();
        });
        QVERIFY(outcome.cancelled);
        QVERIFY(outcome.value);
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(BackgroundWorkTest)
#include "BackgroundWorkTest.moc"
