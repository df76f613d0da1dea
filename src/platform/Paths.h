#pragma once

#include <string>

namespace Paths {

/// The folder of the running program file, ending with a slash.
std::string ExecutableFolder();

/// $XDG_DATA_HOME/Orvex/ (~/.local/share/Orvex/ when unset), ending with a slash.
std::string DefaultDataFolder();

/// The folder that holds "ORX.cfg" and the default database, ending with a slash: $ORVEX_HOME
/// when set; else the executable's folder when an "ORX.cfg" lies there (portable use); else the
/// default data folder.
std::string FindProgramFolder();

/// Creates the folder and its parents (owner-only for the ones it creates); false with a reason.
bool EnsureFolder(const std::string& folder, std::string* error = nullptr);

} // namespace Paths
