#include "OwnNetwork.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>

namespace {

bool IsOwnNetworkIpv4(uint32_t a)
{
    const uint32_t top = a >> 24;
    return top == 0 || top == 10 || top == 127 || (a & 0xFFF00000u) == 0xAC100000u ||
           (a & 0xFFFF0000u) == 0xC0A80000u || (a & 0xFFFF0000u) == 0xA9FE0000u;
}

} // namespace

bool IsOwnNetworkAddress(std::string_view address)
{
    // A zone index ("fe80::1%eth0") is no part of the address.
    const std::string text(address.substr(0, address.find('%')));
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1)
        return IsOwnNetworkIpv4(ntohl(v4.s_addr));
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.c_str(), &v6) != 1)
        return true;
    const unsigned char* b = v6.s6_addr;
    const bool first10Zero = std::all_of(b, b + 10, [](unsigned char x) { return x == 0; });
    if (first10Zero && b[10] == 0xFF && b[11] == 0xFF) // ::ffff:a.b.c.d reaches a.b.c.d
        return IsOwnNetworkIpv4((uint32_t(b[12]) << 24) | (uint32_t(b[13]) << 16) | (uint32_t(b[14]) << 8) | b[15]);
    const bool first15Zero = first10Zero && std::all_of(b + 10, b + 15, [](unsigned char x) { return x == 0; });
    if (first15Zero && (b[15] == 0 || b[15] == 1)) // :: and ::1
        return true;
    return (b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && (b[1] & 0xC0) == 0x80);
}
