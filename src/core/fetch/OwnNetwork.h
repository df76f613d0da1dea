#pragma once

#include <string>
#include <string_view>

// Which addresses belong to the user's own network, where a partner page must not send us.

/// Whether a numeric IPv4 or IPv6 address lies where no public site can be: the user's own network
/// or this machine. That is every special-purpose block not reachable from the whole Internet
/// (loopback, private, shared carrier-grade NAT, link-local, unique local and site-local,
/// benchmarking, documentation, protocol assignments, "this network", multicast and reserved),
/// and any IPv6 address carrying an IPv4 address of these (IPv4-mapped, NAT64, 6to4). Text that is no address
/// counts as own network, so it can never pass for a public site.
bool IsOwnNetworkAddress(std::string_view address);
