#include "DateRefresh.h"

#include "core/page/LinkCheck.h"
#include "core/records/Link.h"
#include "core/records/LinkStatus.h"

#include <condition_variable>
#include <mutex>

namespace {

// Keeps check runs (and edits) and the date refresh apart. A worker's verdict must not be
// overwritten by the refresh's date-only status, and the refresh reads a status before it writes
// one: letting both walk the same record loses the worker's result. The refresh gives way to
// holds (it comes back a minute later), while a hold waits for a walk that has begun.
class CRefreshGate
{
public:
    void EnterHold(bool run)
    {
        std::unique_lock lock(m_mutex);
        // Counted before waiting, so that no new walk begins meanwhile.
        ++m_holds;
        if (run)
            ++m_runs;
        m_noRefresh.wait(lock, [this] { return m_refreshes == 0; });
    }
    void LeaveHold(bool run)
    {
        std::lock_guard lock(m_mutex);
        --m_holds;
        if (run)
            --m_runs;
    }
    bool TryEnterRefresh()
    {
        std::lock_guard lock(m_mutex);
        if (m_holds > 0)
            return false;
        ++m_refreshes;
        return true;
    }
    void LeaveRefresh()
    {
        {
            std::lock_guard lock(m_mutex);
            --m_refreshes;
        }
        m_noRefresh.notify_all();
    }
    bool AnyRun()
    {
        std::lock_guard lock(m_mutex);
        return m_runs > 0;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_noRefresh;
    int m_holds = 0;     ///< holds alive or waiting to begin, runs included; guarded by m_mutex
    int m_runs = 0;      ///< guarded by m_mutex
    int m_refreshes = 0; ///< guarded by m_mutex
};

CRefreshGate& Gate()
{
    static CRefreshGate gate;
    return gate;
}

class CRefreshWalk
{
public:
    CRefreshWalk() : m_entered(Gate().TryEnterRefresh()) {}
    ~CRefreshWalk()
    {
        if (m_entered)
            Gate().LeaveRefresh();
    }
    CRefreshWalk(const CRefreshWalk&) = delete;
    CRefreshWalk& operator=(const CRefreshWalk&) = delete;
    bool Entered() const { return m_entered; }

private:
    bool m_entered;
};

} // namespace

CDateRefreshHold::CDateRefreshHold()
{
    Gate().EnterHold(m_run);
}

CDateRefreshHold::CDateRefreshHold(ForRun) : m_run(true)
{
    Gate().EnterHold(m_run);
}

CDateRefreshHold::~CDateRefreshHold()
{
    Gate().LeaveHold(m_run);
}

bool IsCheckRunActive()
{
    return Gate().AnyRun();
}

std::optional<NotificationLists> RefreshLinkDates(const std::vector<CLink*>& links, int warningDays)
{
    const CRefreshWalk walk;
    if (!walk.Entered())
        return std::nullopt;
    NotificationLists lists;
    for (CLink* link : links) {
        bool changed = false;
        CheckLinkDates(link, changed);
        if (changed && link->GetStatus() != StatusOk)
            lists.changedLinks.push_back(link);
        if (link->IsExpiring(warningDays))
            lists.expiringLinks.push_back(link);
    }
    return lists;
}
