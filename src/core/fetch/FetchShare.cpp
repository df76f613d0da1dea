#include "FetchShare.h"

#include <array>
#include <mutex>

namespace {

struct Share
{
    CURLSH* handle = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
};

void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user)
{
    static_cast<Share*>(user)->locks[static_cast<std::size_t>(data)].lock();
}

void Unlock(CURL*, curl_lock_data data, void* user)
{
    static_cast<Share*>(user)->locks[static_cast<std::size_t>(data)].unlock();
}

Share* MakeShare()
{
    // Kept for the life of the process: easy handles of threads still running may use it at exit.
    auto* share = new Share;
    share->handle = curl_share_init();
    if (!share->handle)
        return share;
    const bool ok = curl_share_setopt(share->handle, CURLSHOPT_LOCKFUNC, &Lock) == CURLSHE_OK &&
                    curl_share_setopt(share->handle, CURLSHOPT_UNLOCKFUNC, &Unlock) == CURLSHE_OK &&
                    curl_share_setopt(share->handle, CURLSHOPT_USERDATA, share) == CURLSHE_OK &&
                    curl_share_setopt(share->handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) == CURLSHE_OK &&
                    curl_share_setopt(share->handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK;
    if (!ok) {
        curl_share_cleanup(share->handle);
        share->handle = nullptr;
    }
    return share;
}

} // namespace

CURLSH* SharedFetchCaches()
{
    static Share* share = MakeShare();
    return share->handle;
}
