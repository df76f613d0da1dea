#include "AppWindow.h"
#include "ORXApp.h"
#include "cli/CheckLinkCommand.h"
#include "cli/CommandLine.h"
#include "cli/DuplicatesCommand.h"
#include "cli/ExchangeCommands.h"
#include "cli/HistoryCommand.h"
#include "cli/ScheduleCommand.h"
#include "cli/TestMailCommand.h"
#include "core/crash/CrashReporter.h"
#include "core/platform/Paths.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    // A file-size limit (ulimit -f) must make a save fail with "File too large", which is
    // reported and leaves the old file in place, instead of killing the process mid-way.
    std::signal(SIGXFSZ, SIG_IGN);
    const CommandLine commandLine = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    // Before anything else can fault. Only the window's user is offered the dialog; "/check" and
    // the command-line forms name the report on stderr for whoever reads their output.
    const bool window =
        (commandLine.action == CommandLine::Action::Run || commandLine.action == CommandLine::Action::CrashTest) &&
        !commandLine.checkMode;
    CrashReporter::Install(Paths::FindProgramFolder(),
                           window ? CrashReporter::Notice::Dialog : CrashReporter::Notice::Stderr);
    switch (commandLine.action) {
    case CommandLine::Action::Help:
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::fputs(VersionText().c_str(), stdout);
        return 0;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "orvex: %s\n\n%s", commandLine.error.c_str(), UsageText().c_str());
        return 2;
    case CommandLine::Action::CheckLink:
        return RunCheckLinkCommand(commandLine);
    case CommandLine::Action::TestMail:
        return RunTestMailCommand(commandLine);
    case CommandLine::Action::Export:
        return RunExportCommand(commandLine);
    case CommandLine::Action::Import:
        return RunImportCommand(commandLine);
    case CommandLine::Action::Duplicates:
        return RunDuplicatesCommand(commandLine);
    case CommandLine::Action::LinkInfo:
    case CommandLine::Action::LinkSource:
        return RunPageReportCommand(commandLine);
    case CommandLine::Action::History:
        return RunHistoryCommand(commandLine);
    case CommandLine::Action::PurgeHistory:
        return RunPurgeHistoryCommand(commandLine);
    case CommandLine::Action::Schedule:
        return RunScheduleCommand(commandLine);
    case CommandLine::Action::CrashTest:
        CrashReporter::FaultOnPurpose(commandLine.file);
        std::fprintf(stderr, "orvex: no such fault: %s\n", commandLine.file.c_str());
        return 2;
    case CommandLine::Action::CrashDialog:
        return RunCrashDialog(argc, argv, commandLine.file);
    case CommandLine::Action::Run:
        break;
    }

    // The unattended run must work with no display at all, so it never builds a QApplication.
    const std::unique_ptr<QCoreApplication> qtApp = MakeQtApplication(argc, argv, !commandLine.checkMode);

    CORXApp app(commandLine.checkMode, commandLine.verbose);
    app.SetCheckWorkersOverride(commandLine.checkWorkers);
    if (!app.InitInstance())
        return app.GetExitCode();
    return app.Run();
}
