#pragma once

#include "Options.h"

#include <string>

/// What reading "ORX.cfg" gave.
enum class ConfigLoadResult
{
    Loaded,       ///< settings and the import flag
    SettingsOnly, ///< the settings were read and applied, the file ended before the import flag
    Missing,      ///< there is no such file: the settings keep what they had
    Unreadable,   ///< the file is there but damaged, unreadable or of another kind: the settings keep
                  ///< what they had, and the file must not be saved over
};

/// Reads the settings object and `importHintPending`; a settings object read whole is applied
/// even when the flag after it is missing.
ConfigLoadResult LoadConfigFile(const std::string& path, COptions& options, int32_t& importHintPending,
                                std::string* error = nullptr);

/// Writes both, keeping the previous file as path + ".bak".
bool SaveConfigFile(const std::string& path, const COptions& options, int32_t importHintPending,
                    std::string* error = nullptr);
