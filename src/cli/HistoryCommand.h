#pragma once

struct CommandLine;

/// `orvex --history FROM_PAGE [TO_PAGE] [--csv]`: the timeline of every link on FROM_PAGE (to
/// TO_PAGE when given) kept in the history beside the settings' database, as text or CSV. 0 when
/// printed (also when there is nothing to print), 1 with the reason when the history or the
/// settings cannot be read.
int RunHistoryCommand(const CommandLine& commandLine);

/// `orvex --purge-history MONTHS`: removes the checks older than MONTHS calendar months from the
/// history beside the settings' database. 0 when done (also without a history file), 1 with the
/// reason when the history or the settings cannot be read or written.
int RunPurgeHistoryCommand(const CommandLine& commandLine);
