#include "CheckHistory.h"

#include "core/records/Link.h"

#include <algorithm>
#include <chrono>
#include <ctime>

HistoryEntry EntryForCheck(const CLink& link, const CheckEvidence* evidence, int64_t time)
{
    HistoryEntry entry;
    entry.time = time;
    entry.status = link.GetStatus();
    entry.pageRank = link.GetCurrentPR();
    entry.externalLinks = link.GetExternalLinks();
    if (evidence) {
        entry.httpStatus = evidence->httpStatus;
        entry.finalUrl = evidence->finalUrl;
        entry.evidence = evidence->Text(entry.status);
    }
    return entry;
}

std::string HistoryKeyOf(const CLink& link)
{
    return HistoryKey(link.GetFromPage(), link.GetToPage(), link.GetProject());
}

CheckRecorder HistoryRecorder(std::shared_ptr<CHistoryStore> store)
{
    return [store = std::move(store)](const CLink& link, const CheckEvidence* evidence) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(now).count();
        store->Record(HistoryKeyOf(link), EntryForCheck(link, evidence, seconds));
    };
}

bool MoveLinkHistory(CHistoryStore& store, const CLink& before, const CLink& after)
{
    const std::string oldKey = HistoryKeyOf(before);
    const std::string newKey = HistoryKeyOf(after);
    return oldKey == newKey || store.Rekey(oldKey, newKey);
}

HistoryKeyParts SplitHistoryKey(const std::string& key)
{
    HistoryKeyParts parts;
    const std::size_t first = key.find('\t');
    const std::size_t second = first == std::string::npos ? std::string::npos : key.find('\t', first + 1);
    if (second == std::string::npos) {
        parts.fromPage = key;
        return parts;
    }
    parts.fromPage = key.substr(0, first);
    parts.toPage = key.substr(first + 1, second - first - 1);
    parts.project = key.substr(second + 1);
    return parts;
}

bool HistoryKeyMatches(const std::string& key, const std::string& fromPage, const std::string& toPage)
{
    // The project is left out of the comparison, so HistoryKey of an empty project gives the
    // two address parts as the key writes them.
    const HistoryKeyParts wanted = SplitHistoryKey(HistoryKey(fromPage, toPage.empty() ? "x" : toPage, ""));
    const HistoryKeyParts parts = SplitHistoryKey(key);
    return parts.fromPage == wanted.fromPage && (toPage.empty() || parts.toPage == wanted.toPage);
}

int64_t MonthsAgo(int months)
{
    return MonthsBefore(static_cast<int64_t>(std::time(nullptr)), months);
}

int64_t MonthsBefore(int64_t time, int months)
{
    const auto seconds = static_cast<std::time_t>(time);
    std::tm local = {};
    if (!localtime_r(&seconds, &local))
        return time - static_cast<int64_t>(months) * 31 * 86400;
    const int month = local.tm_year * 12 + local.tm_mon - months;
    local.tm_year = month >= 0 ? month / 12 : -((-month + 11) / 12);
    local.tm_mon = month - local.tm_year * 12;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int year = local.tm_year + 1900;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    local.tm_mday = std::min(local.tm_mday, kDays[local.tm_mon] + (local.tm_mon == 1 && leap ? 1 : 0));
    local.tm_isdst = -1; // the other side of a clock change keeps the same wall time
    return static_cast<int64_t>(std::mktime(&local));
}
