#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Which addresses belong to the user's own network, where a partner page must not send us.

/// Whether a numeric IPv4 or IPv6 address lies in the user's own network: loopback, private
/// (10/8, 172.16/12, 192.168/16, fc00::/7), link-local (169.254/16, fe80::/10), the unspecified
/// address and 0/8 (which reach this machine), and the IPv4-mapped forms of these. Text that is no
/// address counts as own network, so it can never pass for a public site.
bool IsOwnNetworkAddress(std::string_view address);

/// Test hook: these addresses (as a connection reports them, e.g. "127.0.0.1") count as public
/// whatever their range, so a test on one machine can play a public site against an address of
/// the user's own network (127.0.0.2). Empty by default. Whole-program tests set it through
/// $ORVEX_TEST_PUBLIC_ADDRESSES (comma-separated), read once at the first fetch.
void SetPublicAddressesForTesting(std::vector<std::string> addresses);

/// The addresses SetPublicAddressesForTesting (or the environment) made public; null for none.
std::shared_ptr<const std::vector<std::string>> PublicAddressesForTests();
