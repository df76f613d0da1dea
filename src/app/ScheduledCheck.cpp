// The unattended run: every link checked once by the five workers, the letter mailed when
// something changed. Used by "/check" and by a window that a second "/check" start asked.
#include "ORXApp.h"

#include "core/mail/Notifications.h"
#include "core/records/LinkStatus.h"
#include "core/runs/CheckRuns.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

namespace {

// The signal that asked the unattended run to stop, 0 while none did. The workers, the mail
// client and the exit all read it, so a signal at any moment ends the run in order.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "read and written by a signal handler");

void OnStopSignal(int sig)
{
    g_stopSignal.store(sig);
}

// Installed for the whole unattended run, mailing and saving included: the default action would
// end the process with nothing saved.
class StopSignals
{
public:
    StopSignals()
    {
        g_stopSignal.store(0);
        struct sigaction action = {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        // No SA_RESTART: a wait in the mail client returns at once and sees the flag.
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            ::sigaction(kSignals[i], &action, &m_old[i]);
    }
    ~StopSignals()
    {
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            ::sigaction(kSignals[i], &m_old[i], nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM};
    struct sigaction m_old[std::size(kSignals)] = {};
};

// Waits for the workers, stopping them when a signal came.
void WaitWatchingSignals(CCheckRun& run)
{
    const CheckProgress& progress = run.Progress();
    while (progress.done.load() < progress.total.load() && !progress.cancel.load()) {
        if (g_stopSignal.load() != 0) {
            run.Cancel();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    run.Wait();
}

std::string PrText(int pr)
{
    return pr < 0 ? std::string("none") : std::to_string(pr);
}

} // namespace

ScheduledCheckReport CORXApp::RunScheduledCheck(bool verbose, bool handleSignals)
{
    ScheduledCheckReport report;
    CLinksManager* links = m_database.GetLinks();
    if (!m_options.GetNotifyStatusChanges() || !m_database.IsUsable() || !links)
        return report;

    const std::vector<CLink*> all = links->GetLinks();
    CCheckRun run(all);
    {
        std::lock_guard lock(m_runMutex);
        m_runCancel = &run.Progress().cancel;
    }
    if (!run.Start())
        CheckWorker(run.Progress()); // no threads to be had: the same work on this one
    if (handleSignals)
        WaitWatchingSignals(run);
    else
        run.Wait();
    {
        std::lock_guard lock(m_runMutex);
        m_runCancel = nullptr;
    }
    report.checked = run.Progress().done.load();
    report.cancelled = run.Progress().cancel.load() != 0;

    const NotificationLists lists = CollectScheduledResults(all, run.Progress().outcomes, m_options.GetWarningDays());
    report.changed = lists.changedLinks.size();
    report.expiring = lists.expiringLinks.size();

    if (verbose) {
        const auto& outcomes = run.Progress().outcomes;
        for (std::size_t i = 0; i < all.size(); ++i) {
            const LinkCheckOutcome& o = outcomes[i];
            const CLink& link = *all[i];
            if (o.checked && o.retried && link.GetStatus() != StatusCantOpen)
                std::printf("%s -> %s: answered when tried again (first try: %s)\n", link.GetFromPage().c_str(),
                            link.GetToPage().c_str(), o.firstFailure.c_str());
            if (!o.checked || (!o.statusChanged && o.oldPR == link.GetCurrentPR()))
                continue;
            std::printf("%s -> %s: %s -> %s, PageRank %s -> %s\n", link.GetFromPage().c_str(), link.GetToPage().c_str(),
                        GetStatusName(o.oldStatus).c_str(), GetStatusName(link.GetStatus()).c_str(),
                        PrText(o.oldPR).c_str(), PrText(link.GetCurrentPR()).c_str());
        }
    }

    // A stopped run mails nothing: the user asked it to end, not to report half a run.
    if (!report.cancelled && !lists.changedLinks.empty() && !(handleSignals && g_stopSignal.load())) {
        CNotificationsManager* mailer = GetNotificationsManager();
        if (!mailer) {
            report.mailResult = 1;
        } else {
            // A signal while the letter goes out abandons it at once; the results are still saved.
            if (handleSignals)
                mailer->SetAbortFlag(&g_stopSignal);
            report.mailResult = mailer->SendNotification(lists.changedLinks, lists.expiringLinks);
            mailer->SetAbortFlag(nullptr);
        }
    }
    if (handleSignals) {
        report.stopSignal = g_stopSignal.load();
        report.cancelled = report.cancelled || report.stopSignal != 0;
    }

    if (verbose) {
        const char* letter = report.stopSignal != 0 && report.mailResult > 0 ? "stopped while mailing, letter abandoned"
                             : report.mailResult == 0                        ? "letter sent"
                             : report.mailResult == 1 ? "letter not sent: no connection to the mail server"
                             : report.mailResult == 2 ? "letter not sent: the mail server refused it"
                             : report.cancelled       ? "stopped, no letter"
                                                      : "no letter needed";
        std::printf("checked %d of %zu links: %zu changed, %zu expiring; %s\n", report.checked, all.size(),
                    report.changed, report.expiring, letter);
    }
    return report;
}

int CORXApp::RunCheckMode()
{
    // Kept until the files are saved: Ctrl+C or SIGTERM at any moment ends the run in order.
    const StopSignals stopSignals;
    const ScheduledCheckReport report = RunScheduledCheck(m_verbose, true);
    // The run and the save go on without a history; the cron mail says once that it is missing.
    if (const std::string problem = TakeHistoryProblem(true); !problem.empty())
        std::fprintf(stderr, "orvex: %s\n", problem.c_str());
    // A letter that did not go out must not pass for a quiet success in the cron job's mail.
    if (report.stopSignal != 0 && report.mailResult > 0)
        std::fprintf(stderr,
                     "orvex: stopped by signal %d while the notification letter was being sent; the "
                     "letter was abandoned\n",
                     report.stopSignal);
    else if (report.mailResult == 1)
        std::fprintf(stderr, "orvex: the notification letter was not sent: no connection to the mail server \"%s\"\n",
                     m_options.GetSmtpServer().c_str());
    else if (report.mailResult == 2)
        std::fprintf(stderr, "orvex: the notification letter was not sent: the mail server \"%s\" refused it\n",
                     m_options.GetSmtpServer().c_str());
    const int exitCode = ExitInstance();
    // Stopped by a signal: what was checked is saved, and the exit says the run is not whole.
    if (const int sig = g_stopSignal.load(); sig != 0)
        return 128 + sig;
    if (exitCode == 0 && report.mailResult > 0)
        return kExitLetterNotSent;
    return exitCode;
}

void CORXApp::StopScheduledCheck()
{
    std::lock_guard lock(m_runMutex);
    if (m_runCancel)
        m_runCancel->store(1);
}
