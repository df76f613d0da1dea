#pragma once

struct CommandLine;

/// `orvex --duplicates [--exact-www] [--one-per-project]`: the duplicate search over every link
/// of the settings' database, printed as the window's report. Reads the database only. 0 when
/// the report was made, 1 with the reason when the database cannot be read.
int RunDuplicatesCommand(const CommandLine& commandLine);
