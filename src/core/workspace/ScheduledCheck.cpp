// The unattended run: every link checked once by the five workers, the letter mailed when
// something changed. Used by "/check" and by a window that a second "/check" start asked.
#include "Workspace.h"

#include "core/mail/Notifications.h"
#include "core/platform/TerminalText.h"
#include "core/records/LinkStatus.h"
#include "core/runs/CheckRuns.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

// Waits for the workers, stopping them when a signal came.
void WaitWatchingSignals(CCheckRun& run, const std::atomic<int>& stopSignal)
{
    const CheckProgress& progress = run.Progress();
    while (progress.Done() < progress.Total() && !progress.IsCancelled()) {
        if (stopSignal.load() != 0) {
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

ScheduledCheckReport CWorkspace::RunScheduledCheck(bool verbose, const std::atomic<int>* stopSignal)
{
    ScheduledCheckReport report;
    CLinksManager* links = m_database.GetLinks();
    if (!m_options.GetNotifyStatusChanges() || !m_database.IsUsable() || !links)
        return report;

    const std::vector<CLink*> all = links->GetLinks();
    CCheckRun run(all);
    {
        std::lock_guard lock(m_runMutex);
        m_run = &run;
    }
    if (!run.Start())
        run.CheckOnThisThread(); // no threads to be had: the same work on this one
    if (stopSignal)
        WaitWatchingSignals(run, *stopSignal);
    else
        run.Wait();
    {
        std::lock_guard lock(m_runMutex);
        m_run = nullptr;
    }
    const CheckProgress& progress = run.Progress();
    report.nothingReached = run.NothingReached();
    // A run whose checks were all taken back checked nothing; its links count as not reached.
    report.checked = report.nothingReached.empty() ? progress.Done() : 0;
    report.cancelled = progress.IsCancelled();

    const NotificationLists lists = CollectScheduledResults(all, progress.Outcomes(), m_options.GetWarningDays());
    report.changed = lists.changedLinks.size();
    report.expiring = lists.expiringLinks.size();

    if (verbose) {
        const std::vector<LinkCheckOutcome>& outcomes = progress.Outcomes();
        for (std::size_t i = 0; i < all.size(); ++i) {
            const LinkCheckOutcome& o = outcomes[i];
            const CLink& link = *all[i];
            if (o.checked && o.retried && link.GetStatus() != StatusCantOpen)
                PrintEscaped(stdout, "%s -> %s: answered when tried again (first try: %s)\n",
                             link.GetFromPage().c_str(), link.GetToPage().c_str(), o.firstFailure.c_str());
            if (!o.checked || (!o.statusChanged && o.oldPR == link.GetCurrentPR()))
                continue;
            PrintEscaped(
                stdout, "%s -> %s: %s -> %s, PageRank %s -> %s\n", link.GetFromPage().c_str(), link.GetToPage().c_str(),
                o.oldStatus == StatusNone ? "Not checked" : GetStatusName(o.oldStatus).c_str(),
                GetStatusName(link.GetStatus()).c_str(), PrText(o.oldPR).c_str(), PrText(link.GetCurrentPR()).c_str());
        }
    }

    // A stopped run mails nothing: the user asked it to end, not to report half a run.
    if (!report.cancelled && !lists.changedLinks.empty() && !(stopSignal && stopSignal->load())) {
        CNotificationsManager* mailer = GetNotificationsManager();
        if (!mailer) {
            report.mailResult = 1;
            report.mailProblem = "There was not enough memory to prepare the letter.";
        } else {
            // A signal while the letter goes out abandons it at once; the results are still saved.
            if (stopSignal)
                mailer->SetAbortFlag(stopSignal);
            MailOutcome outcome;
            report.mailResult = mailer->SendNotification(lists.changedLinks, lists.expiringLinks, &outcome);
            mailer->SetAbortFlag(nullptr);
            if (report.mailResult != 0)
                report.mailProblem = outcome.OneLine();
        }
    }
    if (stopSignal) {
        report.stopSignal = stopSignal->load();
        report.cancelled = report.cancelled || report.stopSignal != 0;
    }

    if (verbose) {
        const char* letter = report.stopSignal != 0 && report.mailResult > 0 ? "stopped while mailing, letter abandoned"
                             : report.mailResult == 0                        ? "letter sent"
                             : report.mailResult > 0                         ? "letter not sent"
                             : report.cancelled                              ? "stopped, no letter"
                                                                             : "no letter needed";
        if (!report.nothingReached.empty())
            PrintEscaped(stdout, "checked none of %zu links: %s\n", all.size(), report.nothingReached.c_str());
        else
            PrintEscaped(stdout, "checked %d of %zu links: %zu changed, %zu expiring; %s\n", report.checked, all.size(),
                         report.changed, report.expiring, letter);
    }
    return report;
}

void CWorkspace::StopScheduledCheck()
{
    std::lock_guard lock(m_runMutex);
    if (m_run)
        m_run->Cancel();
}
