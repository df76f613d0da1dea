#pragma once

struct CommandLine;

/// `orvex --check-link`: checks one link with the user's settings (proxy, warning period,
/// PageRank endpoint) and prints what the check saw. Touches no database.
/// Returns 0 for Ok, Expiring or Expired, 1 for any other status.
int RunCheckLinkCommand(const CommandLine& commandLine);

/// `orvex --link-info PAGE`: prints the External Links Info report of the page. 0 when the page
/// was read and parsed, 1 otherwise (the report printed as far as it got).
int RunLinkInfoCommand(const CommandLine& commandLine);

/// `orvex --link-source FROM TO`: prints the Link Source text of the link. 0 when the page was
/// read and parsed, 1 otherwise.
int RunLinkSourceCommand(const CommandLine& commandLine);
