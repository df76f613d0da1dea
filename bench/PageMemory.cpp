// How much memory checking one link on a link-stuffed page takes at its peak: the page is fetched
// from a local server and walked, in a process that does nothing else, and the peak resident size
// the check added is set against the page's size. Usage:
//   orvex-bench-page-memory [distinct|short|listed]
//     distinct  5 MiB of anchors to distinct external sites (the set of external links at its largest)
//     short     5 MiB of the shortest anchors there are (the most elements per byte)
//     listed    5 MiB of list items with an anchor each, inside a table cell and a list, as link
//               directories lay them out
#include "ProcessMemory.h"
#include "StuffedPage.h"
#include "fakes/LocalHttpServer.h"

#include "core/fetch/CheckSettings.h"
#include "core/fetch/Fetch.h"
#include "core/page/LinkCheck.h"
#include "core/records/Link.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

int main(int argc, char** argv)
{
    const std::string kind = argc > 1 ? argv[1] : "distinct";
    if (!IsStuffedPageKind(kind)) {
        std::fprintf(stderr, "usage: orvex-bench-page-memory [distinct|short|listed]\n");
        return 2;
    }
    std::size_t anchors = 0;
    const auto page = std::make_shared<const std::string>(MakeStuffedPage(kind, &anchors));
    CLocalHttpServer server([page](const LocalHttpRequest&) {
        LocalHttpResponse response;
        response.body = page;
        return response;
    });
    std::string error;
    if (!server.Start(&error)) {
        std::fprintf(stderr, "cannot start the local server: %s\n", error.c_str());
        return 1;
    }
    CLink link;
    link.SetFromPage("http://" + server.HostPort() + "/links.html");
    link.SetToPage("http://mine.example/");
    link.SetAnchor("mine");
    link.SetLastPaymentDate(OleDateTime::Today());
    link.SetPeriod(OleDateTimeSpan(365));

    // One warm-up check, so that libcurl's and the server's own buffers are in place before the
    // peak is measured; the page itself is held by the server all along and counts for neither.
    bool changed = false;
    CheckLink(&link, changed);
    const long before = StatusKiB("VmRSS");
    if (!ResetPeakRss()) {
        std::fprintf(stderr, "cannot reset the peak RSS (/proc/self/clear_refs)\n");
        return 1;
    }
    CheckEvidence evidence;
    CheckLink(&link, changed, false, &evidence);
    const PageFindings& findings = evidence.findings;
    const long peak = StatusKiB("VmHWM");
    const double added = static_cast<double>(peak - before) * 1024.0;
    std::printf("page: %zu bytes, %zu anchors (%s)\n", page->size(), anchors, kind.c_str());
    std::printf("status: %u, external links: %d, found: %d\n", link.GetStatus(), link.GetExternalLinks(),
                findings.found ? 1 : 0);
    std::printf("peak_added_MB=%.1f\n", added / 1e6);
    std::printf("peak_ratio=%.2f\n", added / static_cast<double>(page->size()));
    return findings.found ? 0 : 1;
}
