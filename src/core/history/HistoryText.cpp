#include "HistoryText.h"

#include "core/records/LinkStatus.h"

#include <algorithm>
#include <ctime>

namespace {

std::string StatusText(uint32_t status)
{
    const std::string name = GetStatusName(status);
    return name.empty() ? std::string("Not checked") : name;
}

std::string LocalDate(int64_t time)
{
    return LocalTimeText(time).substr(0, 10);
}

} // namespace

std::string LocalTimeText(int64_t time)
{
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm parts{};
    localtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &parts);
    return text;
}

std::vector<StatusSpan> StatusSpans(const std::vector<HistoryEntry>& entries, int64_t from, int64_t to)
{
    std::vector<StatusSpan> spans;
    if (to <= from)
        return spans;
    uint32_t status = 0;
    int64_t begin = from;
    for (const HistoryEntry& entry : entries) {
        if (entry.time >= to)
            break;
        if (entry.time <= from) {
            status = entry.status; // what the link was when the window opens
            continue;
        }
        if (entry.status == status)
            continue;
        spans.push_back({begin, entry.time, status});
        begin = entry.time;
        status = entry.status;
    }
    spans.push_back({begin, to, status});
    return spans;
}

int64_t StatusSince(const std::vector<HistoryEntry>& entries)
{
    if (entries.empty())
        return 0;
    std::size_t first = entries.size() - 1;
    while (first > 0 && entries[first - 1].status == entries.back().status)
        --first;
    return entries[first].time;
}

std::string DurationText(int64_t seconds)
{
    struct Unit
    {
        int64_t seconds;
        const char* one;
        const char* many;
    };
    static constexpr Unit kUnits[] = {
        {365 * 86400, "year", "years"}, {30 * 86400, "month", "months"}, {7 * 86400, "week", "weeks"},
        {86400, "day", "days"},         {3600, "hour", "hours"},         {60, "minute", "minutes"},
    };
    seconds = std::max<int64_t>(seconds, 0);
    for (const Unit& unit : kUnits) {
        const int64_t count = seconds / unit.seconds;
        if (count >= 1)
            return std::to_string(count) + ' ' + (count == 1 ? unit.one : unit.many);
    }
    return "less than a minute";
}

std::string SinceText(const std::vector<HistoryEntry>& entries, int64_t now)
{
    if (entries.empty())
        return "Never checked";
    const int64_t since = StatusSince(entries);
    return StatusText(entries.back().status) + " since " + LocalDate(since) + " (" + DurationText(now - since) + ")";
}

const HistoryEntry* LastFoundBeforeLoss(const std::vector<HistoryEntry>& entries)
{
    const auto found = [](const HistoryEntry& entry) {
        return entry.evidence.starts_with("anchor: ") || entry.evidence.find("\nanchor: ") != std::string::npos;
    };
    bool lastRead = true; // looking at the last entry that read the page
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->evidence.empty())
            continue;
        if (found(*it))
            return lastRead ? nullptr : &*it;
        lastRead = false;
    }
    return nullptr;
}

std::string EvidenceReport(const std::string& fromPage, const std::string& toPage, const std::string& project,
                           const std::vector<HistoryEntry>& entries, int64_t now)
{
    std::string report = "Link report of " + LocalTimeText(now) + "\n\n";
    report += "Page:      " + fromPage + "\n";
    report += "Links to:  " + toPage + "\n";
    if (!project.empty())
        report += "Project:   " + project + "\n";
    report += "Status:    " + SinceText(entries, now) + "\n";
    const auto withEvidence = std::find_if(entries.rbegin(), entries.rend(),
                                           [](const HistoryEntry& entry) { return !entry.evidence.empty(); });
    if (withEvidence != entries.rend()) {
        const HistoryEntry& last = *withEvidence;
        report += "\nLast check of the page: " + LocalTimeText(last.time);
        if (last.httpStatus > 0)
            report += ", HTTP " + std::to_string(last.httpStatus);
        report += "\n";
        if (!last.finalUrl.empty())
            report += "Answered from: " + last.finalUrl + "\n";
        report += last.evidence + "\n";
    }
    if (const HistoryEntry* found = LastFoundBeforeLoss(entries)) {
        report += "\nLast found on the page: " + LocalTimeText(found->time) + "\n";
        report += found->evidence + "\n";
    }
    if (!entries.empty()) {
        report += "\nChanges of status:\n";
        uint32_t previous = 0;
        bool first = true;
        for (const HistoryEntry& entry : entries) {
            if (!first && entry.status == previous)
                continue;
            report += "  " + LocalTimeText(entry.time) + "  " + StatusText(entry.status) + "\n";
            previous = entry.status;
            first = false;
        }
    }
    return report;
}
