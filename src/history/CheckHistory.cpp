#include "CheckHistory.h"

#include "records/Link.h"

#include <chrono>

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
