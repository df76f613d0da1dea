#pragma once

#include <string>

class CORXDatabase;

/// What the command-line forms share.

/// Says `reason` on stderr as "orvex: reason" and gives the exit code of a command that failed.
int FailCommand(const std::string& reason);

/// The database the settings of the program folder `folder` name, as a window would open it.
/// `error` receives why the settings could not be read ("" when they could).
std::string StoredDatabasePath(const std::string& folder, std::string* error);

/// Loads the database the settings of this program folder name, for a report: nothing is locked
/// or written. 0 when it loaded; else the failure is said on stderr and its exit code returned.
int ReadStoredDatabase(CORXDatabase& database);
