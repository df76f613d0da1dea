// The unattended run: every link checked once by the five workers, the letter mailed when
// something changed. Used by "/check" and by a window that a second "/check" start asked.
#include "ORXApp.h"

#include "checking/CheckRuns.h"
#include "mail/Notifications.h"
#include "records/LinkStatus.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

std::atomic<int>* g_cancel = nullptr;
volatile std::sig_atomic_t g_signal = 0;

// Only a lock-free atomic store: the workers see it and take no more links.
void OnStopSignal(int sig)
{
    g_signal = sig;
    if (g_cancel)
        g_cancel->store(1);
}

class StopSignals
{
public:
    explicit StopSignals(std::atomic<int>& cancel)
    {
        g_cancel = &cancel;
        g_signal = 0;
        struct sigaction action = {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        for (int sig : {SIGINT, SIGTERM})
            ::sigaction(sig, &action, &m_old[sig == SIGINT ? 0 : 1]);
    }
    ~StopSignals()
    {
        ::sigaction(SIGINT, &m_old[0], nullptr);
        ::sigaction(SIGTERM, &m_old[1], nullptr);
        g_cancel = nullptr;
    }

private:
    struct sigaction m_old[2] = {};
};

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
    {
        std::unique_ptr<StopSignals> signals;
        if (handleSignals)
            signals = std::make_unique<StopSignals>(run.Progress().cancel);
        if (!run.Start())
            CheckWorker(run.Progress()); // no threads to be had: the same work on this one
        run.Wait();
        report.stopSignal = handleSignals ? static_cast<int>(g_signal) : 0;
    }
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
            if (!o.checked || (!o.statusChanged && o.oldPR == link.GetCurrentPR()))
                continue;
            std::printf("%s -> %s: %s -> %s, PageRank %s -> %s\n", link.GetFromPage().c_str(), link.GetToPage().c_str(),
                        GetStatusName(o.oldStatus).c_str(), GetStatusName(link.GetStatus()).c_str(),
                        PrText(o.oldPR).c_str(), PrText(link.GetCurrentPR()).c_str());
        }
    }

    // A stopped run mails nothing: the user asked it to end, not to report half a run.
    if (!report.cancelled && !lists.changedLinks.empty()) {
        CNotificationsManager* mailer = GetNotificationsManager();
        report.mailResult = mailer ? mailer->SendNotification(lists.changedLinks, lists.expiringLinks) : 1;
    }

    if (verbose) {
        const char* letter = report.mailResult == 0   ? "letter sent"
                             : report.mailResult == 1 ? "letter not sent: no connection to the mail server"
                             : report.mailResult == 2 ? "letter not sent: the mail server refused it"
                             : report.cancelled       ? "stopped, no letter"
                                                      : "no letter needed";
        std::printf("checked %d of %zu links: %zu changed, %zu expiring; %s\n", report.checked, all.size(),
                    report.changed, report.expiring, letter);
    }
    return report;
}

void CORXApp::StopScheduledCheck()
{
    std::lock_guard lock(m_runMutex);
    if (m_runCancel)
        m_runCancel->store(1);
}
