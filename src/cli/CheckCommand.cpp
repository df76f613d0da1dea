// The unattended run as a cron job starts it: signals end it in order, and what went wrong is
// said on stderr and in the exit code.
#include "CheckCommand.h"

#include "core/platform/TerminalText.h"

#include "core/workspace/Workspace.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <string>

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

} // namespace

int RunCheckCommand(CWorkspace& workspace, bool verbose, const std::function<int()>& finish)
{
    // Kept until the files are saved: Ctrl+C or SIGTERM at any moment ends the run in order.
    const StopSignals stopSignals;
    const ScheduledCheckReport report = workspace.RunScheduledCheck(verbose, &g_stopSignal);
    // The run and the save go on without a history; the cron mail says once that it is missing.
    if (const std::string problem = workspace.TakeHistoryProblem(true); !problem.empty())
        PrintEscaped(stderr, "orvex: %s\n", problem.c_str());
    // A letter that did not go out must not pass for a quiet success in the cron job's mail.
    if (report.stopSignal != 0 && report.mailResult > 0)
        std::fprintf(stderr,
                     "orvex: stopped by signal %d while the notification letter was being sent; the "
                     "letter was abandoned\n",
                     report.stopSignal);
    else if (report.mailResult > 0)
        // Whether the server was reached and which step it refused decide what the user must fix.
        PrintEscaped(stderr, "orvex: the notification letter was not sent. %s\n", report.mailProblem.c_str());
    // The user's own network was down: nothing is held against the partners, and the cron job's
    // mail says why.
    if (!report.nothingReached.empty())
        PrintEscaped(stderr, "orvex: %s\n", report.nothingReached.c_str());
    const int exitCode = finish();
    // Stopped by a signal: what was checked is saved, and the exit says the run is not whole.
    if (const int sig = g_stopSignal.load(); sig != 0)
        return 128 + sig;
    if (exitCode == 0 && report.mailResult > 0)
        return kExitLetterNotSent;
    if (exitCode == 0 && !report.nothingReached.empty())
        return 1;
    return exitCode;
}
