// Any bytes as a partner page: the walk must neither crash nor hang. The first two bytes pick
// the To Page and the anchor text so that the matching paths run too.
#include "checking/LinkCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>

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
    PageFindings findings;
    ScanPage("http://partner.example/page.html", page, "X-Robots-Tag: googlebot: nofollow\r\n", kTargets[target],
             kAnchors[anchor], findings);
    return 0;
}
