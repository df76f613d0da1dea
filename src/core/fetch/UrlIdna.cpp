#include "Url.h"
#include "core/records/TextUtil.h"

#include <idn2.h>

#include <algorithm>
#include <string>

// Hosts written in Unicode, turned into the punycode that DNS and comparisons need; kept apart
// from the URL parser, which only calls it.
bool HostToAscii(std::string_view host, std::string& out)
{
    out.clear();
    std::string label;
    std::size_t pos = 0;
    while (true) {
        // The ideographic and full-width full stops separate labels like ".".
        std::size_t end = pos;
        std::size_t separator = 0;
        for (; end < host.size(); ++end) {
            if (host[end] == '.') {
                separator = 1;
                break;
            }
            const std::string_view rest = host.substr(end);
            if (rest.starts_with("\xE3\x80\x82") || rest.starts_with("\xEF\xBC\x8E") ||
                rest.starts_with("\xEF\xBD\xA1")) {
                separator = 3;
                break;
            }
        }
        label = AsciiLowerCase(host.substr(pos, end - pos));
        const bool ascii =
            std::all_of(label.begin(), label.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (ascii && label.compare(0, 4, "xn--") != 0) {
            out += label;
        } else {
            // Non-transitional, as browsers map: "ß" stays "ß" rather than becoming "ss".
            char* converted = nullptr;
            const int rc = idn2_to_ascii_8z(label.c_str(), &converted, IDN2_NONTRANSITIONAL);
            if (rc != IDN2_OK || !converted) {
                idn2_free(converted);
                return false;
            }
            out += AsciiLowerCase(converted);
            idn2_free(converted);
        }
        if (separator == 0)
            return true;
        out += '.';
        pos = end + separator;
    }
}
