#include "HistoryCommand.h"

#include "CommandLine.h"
#include "CommandSupport.h"
#include "core/history/CheckHistory.h"
#include "core/history/HistoryStore.h"
#include "core/platform/Paths.h"
#include "core/platform/TerminalText.h"
#include "core/records/LinkStatus.h"
#include "core/storage/SafeFile.h"

#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace {

// The plain listing is for a terminal: evidence past this is in the CSV.
constexpr std::size_t kSummaryLength = 200;

std::string LocalTime(int64_t seconds)
{
    const auto time = static_cast<std::time_t>(seconds);
    std::tm local = {};
    char text[32] = {};
    if (!localtime_r(&time, &local) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) == 0)
        return "?";
    return text;
}

std::string Summary(const std::string& evidence)
{
    std::string line;
    for (const char c : evidence) {
        if (c == '\n')
            line += " | ";
        else
            line += c;
    }
    if (line.size() > kSummaryLength) {
        std::size_t cut = kSummaryLength - 3;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;
        line = line.substr(0, cut) + "...";
    }
    return line;
}

std::string CsvField(const std::string& value)
{
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string HttpText(int status)
{
    return status > 0 ? std::to_string(status) : std::string();
}

// The history beside the database the settings name, in `path`. An exit code when the command is
// answered already: the settings cannot be read, or there is no history file (which neither a
// look nor a purge creates).
std::optional<int> FindHistoryFile(std::string& path)
{
    std::string settingsError;
    path = CHistoryStore::PathFor(StoredDatabasePath(Paths::FindProgramFolder(), &settingsError));
    if (!settingsError.empty())
        return FailCommand(settingsError);
    if (!FileExists(path)) {
        PrintEscaped(stdout, "No check history: \"%s\" does not exist\n", path.c_str());
        return 0;
    }
    return std::nullopt;
}

} // namespace

int RunHistoryCommand(const CommandLine& commandLine)
{
    std::string path;
    if (const std::optional<int> exitCode = FindHistoryFile(path))
        return *exitCode;

    CHistoryStore store(path, CHistoryStore::Access::ReadOnly);
    std::vector<std::string> keys;
    for (const std::string& key : store.Keys())
        if (HistoryKeyMatches(key, commandLine.fromPage, commandLine.toPage))
            keys.push_back(key);
    std::vector<std::vector<HistoryEntry>> timelines;
    for (const std::string& key : keys)
        timelines.push_back(store.Timeline(key));
    if (const std::string problem = store.Problem(); !problem.empty())
        return FailCommand(problem);

    if (commandLine.csv)
        PrintEscaped(stdout,
                     "time,from_page,to_page,project,status,http_status,final_url,pagerank,external_links,evidence\n");
    else if (keys.empty())
        PrintEscaped(stdout, "No check history for %s%s%s\n", commandLine.fromPage.c_str(),
                     commandLine.toPage.empty() ? "" : " -> ", commandLine.toPage.c_str());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const HistoryKeyParts link = SplitHistoryKey(keys[i]);
        if (!commandLine.csv)
            PrintEscaped(stdout, "%s%s -> %s%s%s\n", i == 0 ? "" : "\n", link.fromPage.c_str(), link.toPage.c_str(),
                         link.project.empty() ? "" : ", project ", link.project.c_str());
        for (const HistoryEntry& entry : timelines[i]) {
            const std::string status = GetStatusName(entry.status);
            if (commandLine.csv) {
                const std::vector<std::string> fields = {LocalTime(entry.time),
                                                         link.fromPage,
                                                         link.toPage,
                                                         link.project,
                                                         status,
                                                         HttpText(entry.httpStatus),
                                                         entry.finalUrl,
                                                         std::to_string(entry.pageRank),
                                                         std::to_string(entry.externalLinks),
                                                         entry.evidence};
                std::string row;
                for (const std::string& field : fields)
                    row += (row.empty() ? "" : ",") + CsvField(field);
                PrintEscaped(stdout, "%s\n", row.c_str());
            } else {
                const std::string http = entry.httpStatus > 0 ? "HTTP " + HttpText(entry.httpStatus) : "-";
                PrintEscaped(stdout, "  %s  %-16s %-8s %s\n", LocalTime(entry.time).c_str(), status.c_str(),
                             http.c_str(), entry.evidence.empty() ? "(dates only)" : Summary(entry.evidence).c_str());
            }
        }
    }
    return 0;
}

int RunPurgeHistoryCommand(const CommandLine& commandLine)
{
    std::string path;
    if (const std::optional<int> exitCode = FindHistoryFile(path))
        return *exitCode;
    const int64_t before = MonthsAgo(commandLine.months);
    CHistoryStore store(path);
    const int64_t removed = store.PurgeOlderThan(before);
    if (removed < 0)
        return FailCommand(store.Problem());
    PrintEscaped(stdout, "Removed %lld check%s older than %s from \"%s\"\n", static_cast<long long>(removed),
                 removed == 1 ? "" : "s", LocalTime(before).c_str(), path.c_str());
    return 0;
}
