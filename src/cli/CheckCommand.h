#pragma once

#include <functional>

class CWorkspace;

/// "/check" exited with everything checked and saved, but the letter could not be mailed.
inline constexpr int kExitLetterNotSent = 3;

/// "/check": every link of the workspace checked once, the letter mailed when links changed, then
/// `finish` (which saves everything and gives the exit code of the saving). Ctrl+C or SIGTERM at
/// any moment ends the run in order: the workers finish the links they hold, a letter being sent
/// is abandoned, everything is saved, and the exit code is 128 + the signal. Problems go to
/// stderr for the cron job's mail. `verbose` prints a line per changed link and a summary.
int RunCheckCommand(CWorkspace& workspace, bool verbose, const std::function<int()>& finish);
