#pragma once

struct CommandLine;

/// `orvex --check-link`: checks one link with the user's settings (proxy, warning period,
/// PageRank endpoint) and prints what the check saw. Touches no database.
/// Returns 0 for Ok, Expiring or Expired, 1 for any other status.
int RunCheckLinkCommand(const CommandLine& commandLine);

/// `orvex --link-info PAGE` prints the External Links Info report of the page, `orvex
/// --link-source FROM TO` the Link Source text of the link. 0 when the page was read and parsed,
/// 1 otherwise (what was reached is printed all the same).
int RunPageReportCommand(const CommandLine& commandLine);
