#pragma once

#include <string>

namespace Paths {

/// The folder of the running program file, ending with a slash.
std::string ExecutableFolder();

/// A file of the program's own data ("orx-help.html"): beside the program (a build tree or a
/// portable copy), else in the data folder of the prefix it is installed in, else in
/// /usr/local/share/orvex or /usr/share/orvex. "" when it is in none of them.
std::string FindDataFile(const std::string& name);

/// $XDG_DATA_HOME/Orvex/ (~/.local/share/Orvex/ when unset), ending with a slash.
std::string DefaultDataFolder();

/// The folder that holds "ORX.cfg" and the default database, ending with a slash: $ORVEX_HOME
/// when set; else the executable's folder when an "ORX.cfg" lies there (portable use); else the
/// default data folder.
std::string FindProgramFolder();

/// Creates the folder and its parents (owner-only for the ones it creates); false with a reason.
bool EnsureFolder(const std::string& folder, std::string* error = nullptr);

} // namespace Paths
