#pragma once

struct CommandLine;

/// `orvex --check-link`: checks one link with the user's settings (proxy, warning period,
/// PageRank endpoint) and prints what the check saw. Touches no database.
/// Returns 0 for Ok, Expiring or Expired, 1 for any other status.
int RunCheckLinkCommand(const CommandLine& commandLine);
