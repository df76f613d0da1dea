#pragma once
// The memory figures of this process, as the memory benchmarks read them.

#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

/// Kilobytes of one "VmXXX:" line of /proc/self/status; -1 when it is missing.
inline long StatusKiB(std::string_view key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(key) && line.size() > key.size() && line[key.size()] == ':')
            return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
    return -1;
}

/// Since Linux 4.0 writing 5 to clear_refs restarts the high-water mark at the current RSS.
inline bool ResetPeakRss()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}
