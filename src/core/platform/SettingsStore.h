#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// The per-user store of window, list and update values (the registry's place on Windows).
/// Section "" is the program's own key; `kGuiSection` holds window and list layouts.
class ISettingsStore
{
public:
    virtual ~ISettingsStore() = default;
    virtual std::optional<int32_t> GetInt(std::string_view section, std::string_view name) const = 0;
    virtual void SetInt(std::string_view section, std::string_view name, int32_t value) = 0;
    virtual std::optional<std::string> GetString(std::string_view section, std::string_view name) const = 0;
    virtual void SetString(std::string_view section, std::string_view name, const std::string& value) = 0;
    virtual std::optional<std::vector<uint8_t>> GetBinary(std::string_view section, std::string_view name) const = 0;
    virtual void SetBinary(std::string_view section, std::string_view name, const std::vector<uint8_t>& value) = 0;
    /// Writes pending values out; false when the store could not be written.
    virtual bool Sync() = 0;
};

/// The user's store: organization "Tessel Development", application "Orvex".
std::unique_ptr<ISettingsStore> OpenSettingsStore();

/// Names and defaults of the stored values.
namespace SettingsNames {
inline constexpr std::string_view kRootSection = "";
inline constexpr std::string_view kGuiSection = "GUI Settings";

inline constexpr std::string_view kUpdateFound = "UpdateFound";       // int, 0
inline constexpr std::string_view kUpdateLastLook = "UpdateLastLook"; // 16-byte SYSTEMTIME, now - 11 days
inline constexpr std::string_view kUpdateLastShow = "UpdateLastShow"; // 16-byte SYSTEMTIME, now - 11 days
inline constexpr std::string_view kUpdateHost = "UpdateHost";         // text, "" = never look for updates
inline constexpr std::string_view kPageRankHost = "PageRankHost";     // text, "" = no PageRank lookups
inline constexpr std::string_view kAllowUnencryptedPassword = "AllowUnencryptedPassword"; // int, 0
inline constexpr std::string_view kCheckWorkers = "CheckWorkers";         // int, 5: pages in flight (1-64)
inline constexpr std::string_view kCheckPerSite = "CheckPerSite";         // int, 2: requests at once to one host (1-8)
inline constexpr std::string_view kHistoryMonths = "HistoryMonths";       // int, 0 = keep every check
inline constexpr std::string_view kRetryWaitSeconds = "RetryWaitSeconds"; // int, 30: least wait before a retry

inline constexpr std::string_view kMainFrame = "mainframe";                         // window geometry
inline constexpr std::string_view kLinksListSettings = "settings";                  // 192-byte column layout
inline constexpr std::string_view kProjectFilter = "Project filter";                // text
inline constexpr std::string_view kPartnerFilter = "Partner filter";                // text
inline constexpr std::string_view kPartnersListSettings = "Partners List Settings"; // 124-byte column layout
inline constexpr std::string_view kPartnersListDialog = "Partners List Dialog";     // window geometry
inline constexpr std::string_view kImportDialog = "Import Dialog";                  // window geometry

inline constexpr std::string_view kDefaultProjectFilter = "(All projects)";
inline constexpr std::string_view kDefaultPartnerFilter = "(All partners)";
} // namespace SettingsNames
