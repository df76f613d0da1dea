#include "Duplicates.h"

#include "core/fetch/Url.h"
#include "core/page/LinkCheck.h"
#include "core/page/PageScan.h"
#include "core/records/Link.h"
#include "core/records/TextUtil.h"

#include <algorithm>
#include <unordered_map>

namespace {

struct ParsedLink
{
    CUrlParts from;
    CUrlParts to;
    bool fromOk = false;
    bool toOk = false;
    bool toRead = false;
};

// Most links share their From page with no other, so their To Page is read only when needed.
void ReadToPage(ParsedLink& p, const CLink& link)
{
    if (p.toRead)
        return;
    p.toRead = true;
    p.toOk = ParseHref(nullptr, NormalizeUrl(link.GetToPage()), p.to);
}

std::string_view WithoutWww(std::string_view host)
{
    return host.size() >= 4 && EqualsIgnoringCase(host.substr(0, 4), "www.") ? host.substr(4) : host;
}

bool ParsedDuplicates(const ParsedLink& a, const ParsedLink& b, const CLink& linkA, const CLink& linkB, bool ignoreWww,
                      bool oneLinkPerProject)
{
    if (!a.fromOk || !b.fromOk || !pagescan::PartsMatch(a.from, b.from, ignoreWww))
        return false;
    if (oneLinkPerProject)
        return linkA.GetProject() == linkB.GetProject();
    return a.toOk && b.toOk && pagescan::PartsMatch(a.to, b.to, false);
}

} // namespace

bool LinksAreDuplicates(const CLink& a, const CLink& b, bool ignoreWww, bool oneLinkPerProject)
{
    if (!UrlsMatch(NormalizeUrl(a.GetFromPage()), NormalizeUrl(b.GetFromPage()), ignoreWww))
        return false;
    if (oneLinkPerProject)
        return a.GetProject() == b.GetProject();
    return UrlsMatch(NormalizeUrl(a.GetToPage()), NormalizeUrl(b.GetToPage()), false);
}

std::vector<std::vector<std::size_t>> FindDuplicateGroups(const std::vector<const CLink*>& links, bool ignoreWww,
                                                          bool oneLinkPerProject)
{
    const std::size_t count = links.size();
    std::vector<ParsedLink> parsed(count);
    for (std::size_t i = 0; i < count; ++i) {
        ParsedLink& p = parsed[i];
        p.fromOk = ParseHref(nullptr, NormalizeUrl(links[i]->GetFromPage()), p.from);
    }

    // Pages match only on the same host (without case, and without "www." when asked), so the
    // host is a safe first key. Within a host, the object decides too, except that "/*" stands for
    // every page of the site: those links are compared with every link of their host. Ports and
    // schemes are left to the exact comparison, because http and https are not a plain key.
    struct HostBucket
    {
        std::unordered_map<std::string, std::vector<std::size_t>> byObject;
        std::vector<std::size_t> all;
        std::vector<std::size_t> wildcards;
    };
    std::unordered_map<std::string, HostBucket> hosts;
    std::vector<HostBucket*> hostOf(count, nullptr);
    std::vector<const std::vector<std::size_t>*> pageOf(count, nullptr);
    std::string key;
    for (std::size_t i = 0; i < count; ++i) {
        if (!parsed[i].fromOk)
            continue;
        std::string_view host = parsed[i].from.host;
        if (ignoreWww)
            host = WithoutWww(host);
        key = AsciiLowerCase(host);
        HostBucket& bucket = hosts[key];
        bucket.all.push_back(i);
        hostOf[i] = &bucket;
        if (parsed[i].from.object == "/*")
            bucket.wildcards.push_back(i);
        key = AsciiLowerCase(parsed[i].from.object);
        // Map nodes stay where they are when the map grows, so the pointer stays good.
        std::vector<std::size_t>& page = bucket.byObject[key];
        page.push_back(i);
        pageOf[i] = &page;
    }

    std::vector<std::vector<std::size_t>> groups;
    std::vector<char> reported(count, 0);
    std::vector<std::size_t> candidates;
    for (std::size_t a = 0; a < count; ++a) {
        if (reported[a] || !hostOf[a])
            continue;
        const HostBucket& bucket = *hostOf[a];
        candidates.clear();
        const std::vector<std::size_t>& pool = parsed[a].from.object == "/*" ? bucket.all : *pageOf[a];
        // The lists hold indexes in ascending order, so the later links are a suffix.
        candidates.insert(candidates.end(), std::upper_bound(pool.begin(), pool.end(), a), pool.end());
        if (&pool != &bucket.all && !bucket.wildcards.empty()) {
            candidates.insert(candidates.end(), std::upper_bound(bucket.wildcards.begin(), bucket.wildcards.end(), a),
                              bucket.wildcards.end());
            std::sort(candidates.begin(), candidates.end());
            candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
        }
        std::vector<std::size_t> group;
        for (const std::size_t b : candidates) {
            if (!oneLinkPerProject) {
                ReadToPage(parsed[a], *links[a]);
                ReadToPage(parsed[b], *links[b]);
            }
            if (!ParsedDuplicates(parsed[a], parsed[b], *links[a], *links[b], ignoreWww, oneLinkPerProject))
                continue;
            if (group.empty())
                group.push_back(a);
            group.push_back(b);
            reported[b] = 1;
        }
        if (!group.empty()) {
            reported[a] = 1;
            groups.push_back(std::move(group));
        }
    }
    return groups;
}

std::string DuplicatesReport(const std::vector<const CLink*>& links, bool ignoreWww, bool oneLinkPerProject)
{
    const auto groups = FindDuplicateGroups(links, ignoreWww, oneLinkPerProject);
    if (groups.empty())
        return "No duplicates found";
    std::string report;
    for (const auto& group : groups) {
        report += "Found set of " + std::to_string(group.size()) + " duplicates\r\n";
        for (const std::size_t i : group) {
            const CLink& link = *links[i];
            report += "        " + link.GetProject() + '\t' + link.GetFromPage() + '\t' + link.GetToPage() + "\r\n";
        }
        report += std::string(92, '-') + "\r\n";
    }
    return report;
}
