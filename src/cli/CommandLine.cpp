#include "CommandLine.h"

#include "ProductInfo.h"
#include "core/fetch/CheckSettings.h"
#include "core/history/CheckHistory.h"
#include "core/platform/Paths.h"
#include "core/platform/TaskScheduler.h"
#include "core/platform/TerminalText.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// __DATE__ reads "Dec  7 2026"; users and scripts read ISO dates more easily.
std::string BuildDate()
{
    static constexpr const char* kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char* date = __DATE__;
    const char* found = std::strstr(kMonths, std::string(date, 3).c_str());
    const int month = found ? static_cast<int>(found - kMonths) / 3 + 1 : 0;
    const int day = std::atoi(date + 4);
    char text[48];
    std::snprintf(text, sizeof text, "%.4s-%02d-%02d", date + 7, month % 100, day % 100);
    return text;
}

// "mon,Friday": English day names, three letters or in full, any letter case.
bool ParseDays(const std::string& text, uint8_t& days)
{
    static constexpr const char* kNames[] = {"sunday",   "monday", "tuesday", "wednesday",
                                             "thursday", "friday", "saturday"};
    days = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        const std::string name = Lower(text.substr(start, end - start));
        int found = -1;
        for (int day = 0; day < 7; ++day) {
            if (name.size() >= 3 && (name == kNames[day] || name == std::string(kNames[day], 3)))
                found = day;
        }
        if (found < 0)
            return false;
        days |= static_cast<uint8_t>(1u << found);
        start = end + 1;
    }
    return true;
}

// H:MM or HH:MM, 24-hour.
bool ParseTime(const std::string& text, int& hour, int& minute)
{
    const std::size_t colon = text.find(':');
    if (colon < 1 || colon > 2 || text.size() != colon + 3)
        return false;
    if (!std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) || c == ':'; }))
        return false;
    if (text.find(':', colon + 1) != std::string::npos)
        return false;
    hour = std::stoi(text.substr(0, colon));
    minute = std::stoi(text.substr(colon + 1));
    return hour <= 23 && minute <= 59;
}

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    CommandLine result;
    // Its arguments are addresses that may well contain "/check", so it is taken apart first.
    if (!args.empty() && args[0] == "--check-link") {
        std::size_t first = 1;
        if (args.size() > 2 && args[1] == "--expires") {
            int y = 0, m = 0, d = 0;
            char tail = 0;
            if (std::sscanf(args[2].c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) == 3)
                result.expires = OleDateTime::FromParts(y, m, d);
            if (!result.expires.IsValid()) {
                result.action = CommandLine::Action::Error;
                result.error = "--expires takes a date as YYYY-MM-DD";
                return result;
            }
            first = 3;
        }
        const std::size_t count = args.size() - first;
        if (count < 2 || count > 3) {
            result.action = CommandLine::Action::Error;
            result.error = "--check-link takes [--expires YYYY-MM-DD] FROM_PAGE TO_PAGE [ANCHOR]";
            return result;
        }
        result.action = CommandLine::Action::CheckLink;
        result.fromPage = args[first];
        result.toPage = args[first + 1];
        if (count == 3)
            result.anchor = args[first + 2];
        return result;
    }
    if (!args.empty() && (args[0] == "--link-info" || args[0] == "--link-source")) {
        const bool info = args[0] == "--link-info";
        const std::size_t wanted = info ? 2 : 3;
        if (args.size() != wanted ||
            std::any_of(args.begin() + 1, args.end(), [](const std::string& a) { return a.empty() || a[0] == '-'; })) {
            result.action = CommandLine::Action::Error;
            result.error = info ? "--link-info takes one PAGE address" : "--link-source takes FROM_PAGE TO_PAGE";
            return result;
        }
        result.action = info ? CommandLine::Action::LinkInfo : CommandLine::Action::LinkSource;
        result.fromPage = args[1];
        if (!info)
            result.toPage = args[2];
        return result;
    }
    if (!args.empty() && args[0] == "--history") {
        std::vector<std::string> pages;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--csv")
                result.csv = true;
            else if (!args[i].empty() && args[i][0] != '-')
                pages.push_back(args[i]);
            else
                pages.assign(3, std::string()); // anything else is a mistake
        }
        if (pages.empty() || pages.size() > 2) {
            result.action = CommandLine::Action::Error;
            result.error = "--history takes FROM_PAGE, optionally TO_PAGE, and --csv";
            return result;
        }
        result.action = CommandLine::Action::History;
        result.fromPage = pages[0];
        if (pages.size() == 2)
            result.toPage = pages[1];
        return result;
    }
    // Private options, not in the usage: the fault handler starts the first, tests use the second.
    if (!args.empty() && args[0] == "--crash-dialog" && args.size() == 2) {
        result.action = CommandLine::Action::CrashDialog;
        result.file = args[1];
        return result;
    }
    if (!args.empty() && args[0] == "--crash-test" && (args.size() == 2 || args.size() == 3)) {
        result.action = CommandLine::Action::CrashTest;
        result.file = args[1];
        result.checkMode = args.size() == 3 && Lower(args[2]) == "/check";
        return result;
    }
    if (!args.empty() && args[0] == "--purge-history") {
        const std::string value = args.size() == 2 ? args[1] : std::string();
        if (value.empty() || value.size() > 4 || value.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(value) < 1 || std::stoi(value) > kMaxHistoryMonths) {
            result.action = CommandLine::Action::Error;
            result.error = "--purge-history takes a number of months from 1 to " + std::to_string(kMaxHistoryMonths);
            return result;
        }
        result.action = CommandLine::Action::PurgeHistory;
        result.months = std::stoi(value);
        return result;
    }
    if (!args.empty() && args[0] == "--test-mail") {
        if (args.size() > 1) {
            result.action = CommandLine::Action::Error;
            result.error = "--test-mail takes no arguments";
            return result;
        }
        result.action = CommandLine::Action::TestMail;
        return result;
    }
    if (!args.empty() && args[0] == "--schedule") {
        result.action = CommandLine::Action::Schedule;
        if (args.size() == 1)
            return result;
        if (args.size() == 2 && Lower(args[1]) == "off") {
            result.scheduleOff = true;
            return result;
        }
        if (args.size() == 3 && ParseDays(args[1], result.scheduleDays) &&
            ParseTime(args[2], result.scheduleHour, result.scheduleMinute))
            return result;
        result.action = CommandLine::Action::Error;
        result.error = "--schedule takes nothing, \"off\", or DAYS (for example mon,fri) and a time HH:MM";
        return result;
    }
    if (!args.empty() && args[0] == "--export") {
        if (args.size() != 2 || args[1].empty() || args[1][0] == '-') {
            result.action = CommandLine::Action::Error;
            result.error = "--export takes one FILE ending in .xlsx or .txt";
            return result;
        }
        result.action = CommandLine::Action::Export;
        result.file = args[1];
        return result;
    }
    if (!args.empty() && args[0] == "--duplicates") {
        result.action = CommandLine::Action::Duplicates;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--exact-www")
                result.exactWww = true;
            else if (args[i] == "--one-per-project")
                result.onePerProject = true;
            else {
                result.action = CommandLine::Action::Error;
                result.error = "--duplicates takes [--exact-www] [--one-per-project]; not: " + args[i];
                return result;
            }
        }
        return result;
    }
    if (!args.empty() && args[0] == "--import") {
        result.action = CommandLine::Action::Import;
        for (std::size_t i = 1; i < args.size(); ++i) {
            const std::string& arg = args[i];
            const bool takesValue = arg == "--sheet" || arg == "--columns";
            if (takesValue && i + 1 >= args.size()) {
                result.action = CommandLine::Action::Error;
                result.error = arg + " needs a value";
                return result;
            }
            if (arg == "--sheet")
                result.sheet = args[++i];
            else if (arg == "--columns")
                result.columns = args[++i];
            else if (arg == "--dry-run")
                result.dryRun = true;
            else if (!arg.empty() && arg[0] != '-' && result.file.empty())
                result.file = arg;
            else {
                result.action = CommandLine::Action::Error;
                result.error = "--import takes FILE [--sheet N] [--columns SPEC] [--dry-run]; not: " + arg;
                return result;
            }
        }
        if (result.file.empty()) {
            result.action = CommandLine::Action::Error;
            result.error = "--import takes FILE [--sheet N] [--columns SPEC] [--dry-run]";
        }
        return result;
    }
    std::string joined;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--check-workers") {
            const std::string value = i + 1 < args.size() ? args[++i] : std::string();
            const bool digits =
                !value.empty() && value.size() <= 2 && value.find_first_not_of("0123456789") == std::string::npos;
            if (!digits || std::stoi(value) < 1 || std::stoi(value) > kMaxCheckWorkers) {
                result.action = CommandLine::Action::Error;
                result.error = "--check-workers takes a number of pages from 1 to " + std::to_string(kMaxCheckWorkers);
                return result;
            }
            result.checkWorkers = std::stoi(value);
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            result.action = CommandLine::Action::Help;
            return result;
        }
        if (arg == "--version") {
            result.action = CommandLine::Action::Version;
            return result;
        }
        if (arg == "--verbose") {
            result.verbose = true;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            result.action = CommandLine::Action::Error;
            result.error = "unknown option: " + arg;
            return result;
        }
        joined += ' ';
        joined += arg;
    }
    // The scheduler's command line may carry the switch in any case and among other words.
    result.checkMode = Lower(joined).find("/check") != std::string::npos;
    return result;
}

std::string UsageText()
{
    return "Usage: orvex [/check [--verbose] [--check-workers N]]\n"
           "       orvex --check-link [--expires YYYY-MM-DD] FROM_PAGE TO_PAGE [ANCHOR]\n"
           "       orvex --test-mail\n"
           "       orvex --export FILE.xlsx|FILE.txt\n"
           "       orvex --import FILE [--sheet N] [--columns SPEC] [--dry-run]\n"
           "       orvex --schedule [off | DAYS HH:MM]\n"
           "       orvex --duplicates [--exact-www] [--one-per-project]\n"
           "       orvex --link-info PAGE\n"
           "       orvex --link-source FROM_PAGE TO_PAGE\n"
           "       orvex --history FROM_PAGE [TO_PAGE] [--csv]\n"
           "       orvex --purge-history MONTHS\n"
           "       orvex --help | --version\n"
           "\n"
           "Keeps your link exchanges and paid links and checks that every partner page\n"
           "still carries the link you paid for.\n"
           "\n"
           "Run modes:\n"
           "  (none)       open the main window\n"
           "  /check       check every link once, mail the notification letter and exit,\n"
           "               without a window (any letter case; this is what the weekly task runs).\n"
           "               When a copy with a window is running, that copy checks instead;\n"
           "               when anything else holds the folder, exit 1. Nothing is printed on\n"
           "               success; Ctrl+C or SIGTERM stops taking new links (or abandons the\n"
           "               letter being mailed), saves what was checked and exits 128 + the\n"
           "               signal; a letter that could not be mailed is reported on stderr with\n"
           "               exit code 3; a database or \"ORX.cfg\" that cannot be read, or a\n"
           "               database in use by another Orvex, exits 1 and is left as it is.\n"
           "  --check-workers N\n"
           "               check N pages at once in this run (1 to 64) instead of the\n"
           "               \"CheckWorkers\" setting (5 unless changed); one site still gets no\n"
           "               more than \"CheckPerSite\" requests at once (2 unless changed)\n"
           "  /check --verbose\n"
           "               also print a line for each link whose status or PageRank changed,\n"
           "               and a summary\n"
           "  --check-link [--expires YYYY-MM-DD] FROM_PAGE TO_PAGE [ANCHOR]\n"
           "               check one link as a check run would (ANCHOR defaults to \"*\", any\n"
           "               text; the paid period ends a year from today unless --expires says\n"
           "               otherwise) and print its status, the page's external links, its\n"
           "               PageRank, every anchor that names TO_PAGE and the evidence behind the\n"
           "               status (\"evidence: ...\" lines); no database is touched.\n"
           "               Exit 0 for Ok, Expiring or Expired, 1 for any other status, 2 for\n"
           "               bad arguments\n"
           "  --test-mail  send the test letter (the signature and a table of every link of\n"
           "               the database) to the recipients of \"ORX.cfg\" through its SMTP\n"
           "               server, as the \"Test\" button of the SMTP settings does, and print\n"
           "               the outcome and, on failure, the server's last reply. Nothing is\n"
           "               written. Exit 0 when the server took the letter, 1 otherwise\n"
           "  --export FILE\n"
           "               write every link with its partner's contact data to FILE: an Excel\n"
           "               workbook when it ends in .xlsx, tab-separated text when it ends in\n"
           "               .txt (what the window's Export commands write). The file is replaced\n"
           "               only when complete. Prints \"Exported N links to FILE\"; exit 0, or 1\n"
           "               with the reason\n"
           "  --import FILE [--sheet N] [--columns SPEC] [--dry-run]\n"
           "               read links and partners from a spreadsheet (.xlsx, .xls, .ods or\n"
           "               .csv) into the database, as the window's Import from Excel does.\n"
           "               --sheet picks the worksheet by number (1 = the first) or name;\n"
           "               --columns says what the columns A to P hold, for example\n"
           "               \"A=From page,B=To Page,C=Anchor,D=Partner name\" (the names of the\n"
           "               import dialog's menu, in any letter case; columns not named are\n"
           "               skipped); without it the program's guess is used. Prints the columns,\n"
           "               the first data row and what was imported, then saves the database\n"
           "               (not with --dry-run). Exit 1 with nothing changed when the file cannot\n"
           "               be read, the database cannot be read or saved, or a window holds the\n"
           "               program folder\n"
           "  --schedule [off | DAYS HH:MM]\n"
           "               show the weekly check (\"Mon, Fri,  at 07:05 as [user]\" or \"Not\n"
           "               configured\"), set it, or remove it, for machines without a desktop.\n"
           "               It is one line of your crontab that runs this program with \"/check\"\n"
           "               (and ORVEX_HOME when the program folder is not the default one);\n"
           "               the other lines are kept as they are. DAYS are English day names,\n"
           "               three letters or in full, separated by commas (mon,fri); HH:MM is\n"
           "               24-hour. Prints the schedule after a change. Exit 0 when done, 1 with\n"
           "               the reason when cron is missing or the table cannot be read or written\n"
           "  --duplicates [--exact-www] [--one-per-project]\n"
           "               print the sets of links of the database placed on the same From page\n"
           "               that point to the same To Page, as the window's Find duplicates does\n"
           "               (\"No duplicates found\" when there are none). A host with and without\n"
           "               a leading \"www.\" is one site unless --exact-www; with\n"
           "               --one-per-project, links of the same project on one page are\n"
           "               duplicates whatever they point to. Reads the database only. Exit 0\n"
           "               when the report was made, 1 with the reason when the database cannot\n"
           "               be read\n"
           "  --link-info PAGE\n"
           "               fetch PAGE and print what the window's External Links Info shows:\n"
           "               its PageRank, its site's robots.txt, the numbers of distinct internal\n"
           "               and external links, the external links (and the nofollow ones among\n"
           "               them) and the response headers\n"
           "  --link-source FROM_PAGE TO_PAGE\n"
           "               fetch FROM_PAGE and print, as the window's View Link Source does,\n"
           "               every anchor on it that names TO_PAGE: its source as the page has it\n"
           "               and its text (nothing when there is none)\n"
           "               Both use the proxy of \"ORX.cfg\" and write nothing. Exit 0 when the\n"
           "               page was read, 1 when it could not be read or parsed (what was\n"
           "               reached is still printed, the reason on stderr)\n"
           "  --history FROM_PAGE [TO_PAGE] [--csv]\n"
           "               print the check history of the links on FROM_PAGE (to TO_PAGE when\n"
           "               given), kept beside the database (\"data.orx.history\"): for each\n"
           "               check its local time, status, HTTP status and the evidence behind\n"
           "               the status. --csv prints CSV with a header row instead. Reads only;\n"
           "               exit 0 when printed (\"No check history\" when there is none), 1\n"
           "               when the history cannot be read\n"
           "  --purge-history MONTHS\n"
           "               remove from the check history every check older than MONTHS months\n"
           "               (1 to 1200) and print how many went, as the options' \"Keep check\n"
           "               history\" setting does at each start. Exit 0 when done (also when\n"
           "               there is no history), 1 when the history cannot be written\n"
           "  --help       show this text\n"
           "  --version    show the version and build date\n"
           "\n"
           "Environment:\n"
           "  ORVEX_HOME           the program folder holding \"ORX.cfg\" and the default\n"
           "                       database \"data.orx\" (default: the program's own folder when\n"
           "                       an \"ORX.cfg\" lies there, else $XDG_DATA_HOME/Orvex, that is\n"
           "                       ~/.local/share/Orvex)\n"
           "  ORVEX_CODEPAGE       code page of 8-bit texts written by older versions that are not\n"
           "                       UTF-8 (default CP1252; for example CP1251)\n"
           "  ORVEX_PAGERANK_HOST  host[:port] of the PageRank service; overrides the stored\n"
           "                       \"PageRankHost\" setting (empty: no PageRank lookups)\n"
           "\n"
           "Window and list settings are kept in ~/.config/Tessel Development/Orvex.conf.\n";
}

std::string HelpText()
{
    const std::string page = Paths::FindDataFile("orx-help.html");
    return UsageText() + "The manual: \"man orvex\"; the help page: " +
           (page.empty() ? std::string("not found beside the program") : page) + "\n";
}

std::string VersionText()
{
    return "Orvex " ORVEX_VERSION " (built " + BuildDate() + ")\n";
}

void PrintReport(const std::string& report)
{
    std::string out;
    out.reserve(report.size() + 1);
    for (std::size_t i = 0; i < report.size(); ++i) {
        if (report[i] == '\r' && i + 1 < report.size() && report[i + 1] == '\n')
            continue;
        out += report[i];
    }
    if (!out.empty() && out.back() != '\n')
        out += '\n';
    out = EscapeControls(out);
    std::fwrite(out.data(), 1, out.size(), stdout);
}
