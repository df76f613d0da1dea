#pragma once

#include "core/records/OleDateTime.h"

#include <cstdint>
#include <string>
#include <vector>

struct CommandLine
{
    enum class Action
    {
        Run,
        Help,
        Version,
        CheckLink,    ///< check one link and print why it has its status
        TestMail,     ///< send the test letter with the stored mail settings
        Export,       ///< write every link to a workbook or text file
        Import,       ///< read links and partners from a spreadsheet into the database
        Schedule,     ///< show, set or remove the weekly check
        Duplicates,   ///< print the sets of links placed twice on one page
        LinkInfo,     ///< print the External Links Info report of a page
        LinkSource,   ///< print the anchors of a page that name a To Page
        History,      ///< print the check history of the links on a From page
        PurgeHistory, ///< remove the history's entries older than some months
        CrashDialog,  ///< private: the offer to mail a crash report, started by the fault handler
        CrashTest,    ///< private: fault on purpose, for the tests of the crash report
        Error,        ///< usage on stderr, exit 2
    };

    Action action = Action::Run;
    /// "/check" in any letter case anywhere on the command line: the unattended run.
    bool checkMode = false;
    /// With "/check": a line per changed link and a summary.
    bool verbose = false;
    /// --check-workers N: pages in flight for this run; 0 = the setting's.
    int checkWorkers = 0;
    std::string error;
    /// --check-link [--expires YYYY-MM-DD] FROM_PAGE TO_PAGE [ANCHOR]; the anchor defaults to "*".
    /// --link-info PAGE (in fromPage); --link-source FROM_PAGE TO_PAGE.
    std::string fromPage;
    std::string toPage;
    std::string anchor = "*";
    /// The paid period's end for --check-link; invalid when not given (a year ahead is used).
    OleDateTime expires = OleDateTime::Invalid();
    /// --export FILE / --import FILE
    std::string file;
    /// --import: the worksheet as its 1-based number or its name ("" = the first).
    std::string sheet;
    /// --import: "A=From page,B=To Page,..."; empty = the program's guess.
    std::string columns;
    bool dryRun = false;
    /// --schedule off
    bool scheduleOff = false;
    /// --schedule DAYS TIME: the day bits of CTaskScheduler; 0 with neither = show the schedule.
    uint8_t scheduleDays = 0;
    int scheduleHour = 0;
    int scheduleMinute = 0;
    /// --duplicates: "www." on the From page's host counts; one link per project and page.
    bool exactWww = false;
    bool onePerProject = false;
    /// --history FROM_PAGE [TO_PAGE] [--csv] (in fromPage and toPage; toPage "" = any).
    bool csv = false;
    /// --purge-history MONTHS
    int months = 0;
};

/// `args` without the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText();
/// What --help prints: the usage and where the help page lies.
std::string HelpText();
/// "Orvex <version>" and the build date.
std::string VersionText();

/// Writes a report to stdout with LF line ends (the window's reports keep CR LF, which terminals
/// and the tools scripts pipe into do not want), ending in a line end unless it is empty.
void PrintReport(const std::string& report);
