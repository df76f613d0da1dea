#pragma once

#include <string>

/// What the command-line forms share.

/// Says `reason` on stderr as "orvex: reason" and gives the exit code of a command that failed.
int FailCommand(const std::string& reason);

/// The database the settings of the program folder `folder` name, as a window would open it.
/// `error` receives why the settings could not be read ("" when they could).
std::string StoredDatabasePath(const std::string& folder, std::string* error);
