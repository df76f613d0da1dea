#include "TestHooks.h"

#include <cstdlib>
#include <mutex>
#include <string_view>

namespace {

std::mutex g_publicMutex;
std::shared_ptr<const std::vector<std::string>> g_public;
std::once_flag g_publicFromEnvironment;

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

void LoadPublicAddressesFromEnvironment()
{
    std::call_once(g_publicFromEnvironment, [] {
        const std::string value = Environment("ORVEX_TEST_PUBLIC_ADDRESSES");
        if (value.empty())
            return;
        auto addresses = std::make_shared<std::vector<std::string>>();
        std::string_view rest = value;
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            std::string_view item = rest.substr(0, comma);
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            while (!item.empty() && item.front() == ' ')
                item.remove_prefix(1);
            while (!item.empty() && item.back() == ' ')
                item.remove_suffix(1);
            if (!item.empty())
                addresses->emplace_back(item);
        }
        std::lock_guard lock(g_publicMutex);
        g_public = std::move(addresses);
    });
}

} // namespace

namespace TestHooks {

void SetPublicAddresses(std::vector<std::string> addresses)
{
    LoadPublicAddressesFromEnvironment(); // so that the environment cannot override it later
    auto list = std::make_shared<const std::vector<std::string>>(std::move(addresses));
    std::lock_guard lock(g_publicMutex);
    g_public = list->empty() ? nullptr : std::move(list);
}

std::shared_ptr<const std::vector<std::string>> PublicAddresses()
{
    LoadPublicAddressesFromEnvironment();
    std::lock_guard lock(g_publicMutex);
    return g_public;
}

std::string CrashDialogProbe()
{
    return Environment("ORVEX_TEST_CRASH_DIALOG_PROBE");
}

std::string ScreenshotPath()
{
    return Environment("ORVEX_SCREENSHOT");
}

} // namespace TestHooks
