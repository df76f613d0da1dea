#pragma once

#include <string>
#include <string_view>

// Which addresses belong to the user's own network, where a partner page must not send us.

/// Whether a numeric IPv4 or IPv6 address lies in the user's own network: loopback, private
/// (10/8, 172.16/12, 192.168/16, fc00::/7), link-local (169.254/16, fe80::/10), the unspecified
/// address and 0/8 (which reach this machine), and the IPv4-mapped forms of these. Text that is no
/// address counts as own network, so it can never pass for a public site.
bool IsOwnNetworkAddress(std::string_view address);
