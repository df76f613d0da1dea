#include "CheckSettings.h"

#include <mutex>

namespace {

std::mutex g_mutex;
CheckSettings g_settings;

} // namespace

void SetCheckSettings(const CheckSettings& settings)
{
    std::lock_guard lock(g_mutex);
    g_settings = settings;
}

CheckSettings GetCheckSettings()
{
    std::lock_guard lock(g_mutex);
    return g_settings;
}
