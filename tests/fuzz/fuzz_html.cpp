// Any bytes as a partner page: the walk must neither crash nor hang, and walking the page in the
// smallest pieces it can be cut into must give the verdict the whole page gives. The first two
// bytes pick the To Page and the anchor text so that the matching paths run too. The page reports
// run on it as well: every anchor source they show is a piece of the page that opens a tag.
#include "core/page/LinkCheck.h"
#include "core/page/PageAnalysis.h"
#include "core/page/PageScan.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string Verdict(const PageFindings& f)
{
    std::vector<std::string> matches;
    for (const MatchingAnchor& m : f.matches)
        matches.push_back(m.href + '\1' + m.rel + '\1' + m.text);
    std::sort(matches.begin(), matches.end());
    std::string out = std::to_string(f.found) + std::to_string(f.nofollowSeen) + std::to_string(f.textOk) + ' ' +
                      std::to_string(f.externalLinks);
    for (const std::string& m : matches)
        out += '\2' + m;
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const char* const kTargets[] = {"mysite.example", "mysite.example/*", "https://mysite.example/a?b", "", "x"};
    static const char* const kAnchors[] = {"*", "my site", "", " Привет "};
    std::size_t target = 0;
    std::size_t anchor = 0;
    if (size >= 2) {
        target = data[0] % (sizeof(kTargets) / sizeof(kTargets[0]));
        anchor = data[1] % (sizeof(kAnchors) / sizeof(kAnchors[0]));
        data += 2;
        size -= 2;
    }
    const std::string page(reinterpret_cast<const char*>(data), size);
    const std::string url = "http://partner.example/page.html";
    const std::string headers = "X-Robots-Tag: googlebot: nofollow\r\n";
    std::string report;
    ExternalLinksOfPage(url, page, report);
    std::string source;
    std::string limited; // a page cut down to its nesting limit is no longer the page's own text
    if (LinkSourceOfPage(url, page, kTargets[target], source) && !pagescan::LimitNesting(page, limited)) {
        constexpr std::string_view kRaw = "Raw link : ";
        for (std::size_t at = source.find(kRaw); at != std::string::npos; at = source.find(kRaw, at + 1)) {
            const std::size_t start = at + kRaw.size();
            const std::size_t end = source.find("\r\nAnchor : \"", start);
            if (end == std::string::npos || end == start || source[start] != '<' ||
                page.find(source.substr(start, end - start)) == std::string::npos)
                std::abort(); // a source that is not the page's own markup
        }
    }
    PageFindings whole;
    if (!ScanPage(url, page, headers, kTargets[target], kAnchors[anchor], whole))
        return 0;
    PageFindings pieces;
    if (!pagescan::ScanPageInPieces(url, page, headers, kTargets[target], kAnchors[anchor], pieces, 1, 1) ||
        Verdict(pieces) != Verdict(whole))
        std::abort(); // a cut changed what the walk sees
    return 0;
}
