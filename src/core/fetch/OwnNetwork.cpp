#include "OwnNetwork.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

using Address = std::array<unsigned char, 16>;

struct Block
{
    const char* prefix;
    int bits;
};

// Blocks where no public site can be: they are not reachable from the whole Internet, so an
// address there is one the user's own network (or this machine) answers. IPv4 blocks are written
// in their IPv4-mapped form, which is how every IPv4 address is compared here.
constexpr Block kOwnNetworkBlocks[] = {
    {"::ffff:0.0.0.0", 96 + 8},       // "this network": connecting to it reaches this machine
    {"::ffff:10.0.0.0", 96 + 8},      // private
    {"::ffff:100.64.0.0", 96 + 10},   // carrier-grade NAT, also what mesh VPNs give the user's devices
    {"::ffff:127.0.0.0", 96 + 8},     // loopback
    {"::ffff:169.254.0.0", 96 + 16},  // link-local, cloud metadata services among them
    {"::ffff:172.16.0.0", 96 + 12},   // private
    {"::ffff:192.0.0.0", 96 + 24},    // protocol assignments; its anycast service addresses answer
                                      // from the nearest box, the user's own router for port control
    {"::ffff:192.0.2.0", 96 + 24},    // documentation
    {"::ffff:192.168.0.0", 96 + 16},  // private
    {"::ffff:198.18.0.0", 96 + 15},   // benchmarking, used inside labs and appliances
    {"::ffff:198.51.100.0", 96 + 24}, // documentation
    {"::ffff:203.0.113.0", 96 + 24},  // documentation
    {"::ffff:224.0.0.0", 96 + 4},     // multicast
    {"::ffff:240.0.0.0", 96 + 4},     // reserved, and the limited broadcast at its end
    {"::", 128},                      // unspecified: reaches this machine
    {"::1", 128},                     // loopback
    {"64:ff9b:1::", 48},              // translation prefixes of a network's own choosing
    {"100::", 64},                    // discard-only
    {"100:0:0:1::", 64},              // dummy prefix
    {"2001::", 23},                   // protocol assignments (the globally routed ones below excepted)
    {"2001:db8::", 32},               // documentation
    {"3fff::", 20},                   // documentation
    {"5f00::", 16},                   // segment routing identifiers
    {"fc00::", 7},                    // unique local
    {"fe80::", 10},                   // link-local
    {"fec0::", 10},                   // site-local: deprecated, still routed inside older networks
    {"ff00::", 8},                    // multicast
};

// Globally routed blocks inside the protocol assignments above.
constexpr Block kPublicInsideOwnBlocks[] = {
    {"2001:3::", 32},     // multicast tunnelling relays
    {"2001:4:112::", 48}, // the reverse-lookup sink servers
    {"2001:20::", 28},    // hash identifiers
    {"2001:30::", 28},    // drone identifiers
};

struct ParsedBlock
{
    Address prefix{};
    int bits = 0;
};

std::vector<ParsedBlock> Parse(const Block* blocks, std::size_t count)
{
    std::vector<ParsedBlock> parsed(count);
    for (std::size_t i = 0; i < count; ++i) {
        inet_pton(AF_INET6, blocks[i].prefix, parsed[i].prefix.data());
        parsed[i].bits = blocks[i].bits;
    }
    return parsed;
}

bool InBlock(const Address& a, const ParsedBlock& block)
{
    const int whole = block.bits / 8;
    if (std::memcmp(a.data(), block.prefix.data(), static_cast<std::size_t>(whole)) != 0)
        return false;
    const int rest = block.bits % 8;
    if (rest == 0)
        return true;
    const auto mask = static_cast<unsigned char>(0xFF << (8 - rest));
    return (a[static_cast<std::size_t>(whole)] & mask) == (block.prefix[static_cast<std::size_t>(whole)] & mask);
}

bool InAny(const Address& a, const std::vector<ParsedBlock>& blocks)
{
    return std::any_of(blocks.begin(), blocks.end(), [&](const ParsedBlock& b) { return InBlock(a, b); });
}

Address Mapped(const unsigned char* ipv4)
{
    Address a{};
    a[10] = 0xFF;
    a[11] = 0xFF;
    std::memcpy(a.data() + 12, ipv4, 4);
    return a;
}

// An IPv6 address that carries an IPv4 address is sent where that IPv4 address is: a NAT64
// translator in the user's network forwards its well-known prefix there, a 6to4 address
// tunnels to it. Compared as the IPv4 address it carries.
Address Embedded(const Address& a)
{
    static const Address kNat64 = [] {
        Address p{};
        inet_pton(AF_INET6, "64:ff9b::", p.data());
        return p;
    }();
    if (std::equal(a.begin(), a.begin() + 12, kNat64.begin()))
        return Mapped(a.data() + 12);
    if (a[0] == 0x20 && a[1] == 0x02)
        return Mapped(a.data() + 2);
    return a;
}

} // namespace

bool IsOwnNetworkAddress(std::string_view address)
{
    static const std::vector<ParsedBlock> own = Parse(kOwnNetworkBlocks, std::size(kOwnNetworkBlocks));
    static const std::vector<ParsedBlock> publicInside =
        Parse(kPublicInsideOwnBlocks, std::size(kPublicInsideOwnBlocks));

    // A zone index ("fe80::1%eth0") is no part of the address.
    const std::string text(address.substr(0, address.find('%')));
    Address a{};
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1)
        a = Mapped(reinterpret_cast<const unsigned char*>(&v4.s_addr));
    else if (inet_pton(AF_INET6, text.c_str(), a.data()) != 1)
        return true;
    a = Embedded(a);
    return InAny(a, own) && !InAny(a, publicInside);
}
