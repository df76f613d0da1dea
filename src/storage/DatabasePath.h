#pragma once

#include <string>

/// An absolute path, or one starting with "~/", is used as it is (the "~" expanded); any other
/// path lies in the program folder (which ends with a slash).
std::string ResolveDatabasePath(const std::string& path, const std::string& programFolder);
