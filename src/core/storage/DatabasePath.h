#pragma once

#include <string>

/// An absolute path, or one starting with "~/", is used as it is (the "~" expanded); any other
/// path lies in the program folder (which ends with a slash).
std::string ResolveDatabasePath(const std::string& path, const std::string& programFolder);

/// The lock file that guards a database against a second writer: ".<name>.lock" beside the file a
/// save of the path writes (the end of its symbolic links), so every way of naming one file meets
/// the same lock.
std::string DatabaseLockPath(const std::string& databasePath);
