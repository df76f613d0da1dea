#pragma once

struct CommandLine;

/// `orvex --test-mail`: sends the test letter with the mail settings of "ORX.cfg" and the links of
/// the settings' database, as the "Test" button of the SMTP settings does, and prints the outcome.
/// Reads both files only. Returns 0 when the server took the letter, 1 otherwise.
int RunTestMailCommand(const CommandLine& commandLine);
