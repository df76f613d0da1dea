#pragma once

#include <string>
#include <vector>

struct CommandLine
{
    enum class Action
    {
        Run,
        Help,
        Version,
        Error, ///< usage on stderr, exit 2
    };

    Action action = Action::Run;
    /// "/check" in any letter case anywhere on the command line: the unattended run.
    bool checkMode = false;
    std::string error;
};

/// `args` without the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText();
/// "Orvex 2.0" and the build date.
std::string VersionText();
