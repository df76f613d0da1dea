#pragma once

#include <optional>
#include <vector>

class CLink;

/// The lists a letter is made of, in the order of the links given.
struct NotificationLists
{
    std::vector<CLink*> changedLinks;
    std::vector<CLink*> expiringLinks;
};

/// Keeps the date refresh away from every link while it lives: a refresh asked for meanwhile
/// touches nothing, and a walk that has begun is waited for (it is short, being calendar
/// arithmetic only). Every check run holds one from its construction to its destruction; so does
/// an edit while it writes what the refresh reads (payment dates, statuses, new links).
class CDateRefreshHold
{
public:
    CDateRefreshHold();
    ~CDateRefreshHold();
    CDateRefreshHold(const CDateRefreshHold&) = delete;
    CDateRefreshHold& operator=(const CDateRefreshHold&) = delete;

private:
    friend class CCheckRun;
    struct ForRun
    {
    };
    /// A run's hold, which IsCheckRunActive counts as well.
    explicit CDateRefreshHold(ForRun);

    bool m_run = false;
};

/// True from the construction of any CCheckRun in the process to its destruction.
bool IsCheckRunActive();

/// The date refresh: recomputes Ok, Expiring and Expired from the dates of every checked link (a
/// link never checked keeps status 0), and returns the links whose date status changed to
/// something other than Ok, and the expiring ones, checked or not. While a
/// check run or another CDateRefreshHold exists it touches nothing and returns no lists: the run's
/// verdicts are newer than anything the dates say.
std::optional<NotificationLists> RefreshLinkDates(const std::vector<CLink*>& links, int warningDays);
