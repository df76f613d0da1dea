#include "OwnNetwork.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex g_publicForTestsMutex;
std::shared_ptr<const std::vector<std::string>> g_publicForTests;
std::once_flag g_publicForTestsFromEnvironment;

void LoadPublicAddressesFromEnvironment()
{
    std::call_once(g_publicForTestsFromEnvironment, [] {
        const char* value = std::getenv("ORVEX_TEST_PUBLIC_ADDRESSES");
        if (!value || !*value)
            return;
        auto addresses = std::make_shared<std::vector<std::string>>();
        std::string_view rest = value;
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            std::string_view item = rest.substr(0, comma);
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            while (!item.empty() && item.front() == ' ')
                item.remove_prefix(1);
            while (!item.empty() && item.back() == ' ')
                item.remove_suffix(1);
            if (!item.empty())
                addresses->emplace_back(item);
        }
        std::lock_guard lock(g_publicForTestsMutex);
        g_publicForTests = std::move(addresses);
    });
}

bool IsOwnNetworkIpv4(uint32_t a)
{
    const uint32_t top = a >> 24;
    return top == 0 || top == 10 || top == 127 || (a & 0xFFF00000u) == 0xAC100000u ||
           (a & 0xFFFF0000u) == 0xC0A80000u || (a & 0xFFFF0000u) == 0xA9FE0000u;
}

} // namespace

std::shared_ptr<const std::vector<std::string>> PublicAddressesForTests()
{
    LoadPublicAddressesFromEnvironment();
    std::lock_guard lock(g_publicForTestsMutex);
    return g_publicForTests;
}

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

void SetPublicAddressesForTesting(std::vector<std::string> addresses)
{
    LoadPublicAddressesFromEnvironment(); // so that the environment cannot override it later
    auto list = std::make_shared<const std::vector<std::string>>(std::move(addresses));
    std::lock_guard lock(g_publicForTestsMutex);
    g_publicForTests = list->empty() ? nullptr : std::move(list);
}
