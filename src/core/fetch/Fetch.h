#pragma once

#include "OwnNetwork.h"
#include "PageBudget.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

/// Partner pages and robots.txt files are read up to this many characters (plus one line).
constexpr std::size_t kMaxPageLength = 5242880;

/// One HTTP client configured from the current CheckSettings (proxy, time-outs, CA file). Each
/// thread keeps one and reuses its connections between fetches; fetches stay independent.
class CInternetClient;

/// A client for this thread, or null when one cannot be made (a malformed proxy setting).
CInternetClient* OpenInternetClient();

/// While one lives, the fetches of its thread end, and fail, within about a second after
/// `cancelled` turns true: one under way too, so a user can give up on a slow page.
class CFetchCancelScope
{
public:
    explicit CFetchCancelScope(const std::atomic<bool>& cancelled);
    ~CFetchCancelScope();
    CFetchCancelScope(const CFetchCancelScope&) = delete;
    CFetchCancelScope& operator=(const CFetchCancelScope&) = delete;

private:
    const std::atomic<bool>* m_outer;
};

/// Keeps the requests at once to one host within bounds across the fetches of a run. A fetch asks
/// it before every request it sends, each redirect's included, so a request counts against the
/// host it really goes to. Set for a thread with CHostSlotScope.
class IHostSlots
{
public:
    virtual ~IHostSlots() = default;
    /// Returns when a request to `host` (as RequestHost gives it) may go. The slot the fetch held
    /// for an earlier request, on another host, is given back before any wait: whoever waits holds
    /// no slot, so two fetches redirected into each other's host cannot wait for each other.
    virtual void Enter(const std::string& host) = 0;
};

/// While one lives, the fetches of its thread ask `slots` (null: nobody) before each request.
class CHostSlotScope
{
public:
    explicit CHostSlotScope(IHostSlots* slots);
    ~CHostSlotScope();
    CHostSlotScope(const CHostSlotScope&) = delete;
    CHostSlotScope& operator=(const CHostSlotScope&) = delete;

private:
    IHostSlots* m_outer;
};

/// The host a request to `url` goes to, lower case, without the port; "" when it has none.
std::string RequestHost(const std::string& url);

/// How far a request got, which alone tells a partner's fault from the user's side only in bulk:
/// one partner's name may be gone, but when no site of a run can be reached the network is down.
enum class FetchReach
{
    NotSent, ///< nothing went out: an address that cannot be asked for, or the fetch was stopped
    Reached, ///< a server answered, or a connection to it was made
    NoSite,  ///< the site's name did not resolve, or no connection to it could be made
    NoProxy, ///< the proxy could not be reached (its name, its port, or a proxy setting that is no address)
};

/// How one request went, for whoever must explain a verdict.
struct FetchOutcome
{
    std::string finalUrl; ///< the address the last response came from, after redirects
    std::string error;    ///< why the page did not arrive ("time-out: ...", "DNS: ..."); "" when it did
    /// The failure may pass by itself: a time-out, a connection reset or closed without an answer,
    /// or an answer 429 or 5xx.
    bool transient = false;
    /// The final answer's Retry-After in seconds; -1 when it gave none (or a date).
    int retryAfter = -1;
    FetchReach reach = FetchReach::NotSent;
};

/// The seconds a Retry-After line of raw response headers asks for; -1 without one, or for a date.
int RetryAfterSeconds(std::string_view headers);

/// GET following redirects (at most 10). The text is read line by line: every CR dropped, each
/// line ending in "\n", converted to UTF-8 from the encoding a browser picks: a byte order mark,
/// else the charset of the Content-Type header, else the one a meta line declares (from that line
/// on; UTF-8 until one does). Reading stops at the first line end at or after `maxLength`
/// characters. The status is not judged here. `headers`, when given, gets the final response's
/// raw header lines, the status line first, each followed by CR LF (no empty line at the end). The
/// limit counts the UTF-8 text gathered; a line still without end 1 MiB past the limit is cut
/// there and ends the reading. A response that does not arrive whole (headers or body cut off)
/// fails, and so does a redirect from a public address into the user's own network. On failure
/// `text` keeps its old value. `outcome`, when given, says where the page came from or why not.
/// `lease`, when given, makes the text count against the pages' memory budget: the reading waits
/// for room there (without that wait counting towards the time-out), and on success the lease
/// holds the text's share until the caller drops it.
bool FetchPageText(const std::string& url, std::string& text, uint32_t& status, std::string* headers,
                   std::size_t maxLength, FetchOutcome* outcome = nullptr, CPageLease* lease = nullptr);

/// The same request; the body as lines without conversion, while their total length is below
/// `maxLength`. On failure the lines read so far stay.
bool FetchLines(const std::string& url, std::vector<std::string>& lines, uint32_t& status, std::string* headers,
                std::size_t maxLength);

/// HEAD; true only for a 2xx answer.
bool UrlExists(const std::string& url);

/// GET into a file; the file appears only when the whole body of a 2xx answer arrived (an error
/// page is no download). Written beside the target and renamed into place.
bool DownloadToFile(const std::string& url, const std::string& path);

inline bool IsHttpSuccess(uint32_t status)
{
    return status >= 200 && status < 300;
}
