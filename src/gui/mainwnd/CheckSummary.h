#pragma once

#include <QString>

#include <cstdint>
#include <map>
#include <vector>

class CLink;
class CLinksView;
struct LinkCheckOutcome;

/// What an interactive check run did, read once every worker has ended.
struct CheckRunSummary
{
    int total = 0;   ///< links given to the run
    int checked = 0; ///< links a worker took and checked
    bool stopped = false;
    /// Checked links by the status they have now; 0 collects any that were left without one.
    std::map<uint32_t, int> statusCounts;
    /// Checked links whose status is not the one they had before, in the order of the run.
    std::vector<CLink*> changedLinks;
};

/// Counts a finished run: `links` and `outcomes` by place, as the run keeps them.
CheckRunSummary SummarizeCheckRun(const std::vector<CLink*>& links, const std::vector<LinkCheckOutcome>& outcomes,
                                  bool stopped);

/// One line for the status bar: "Checked 38 of 40 links: 30 Ok, 5 Not present, 3 Can't open page",
/// the statuses in the order of their names' table, those no link has left out.
QString CheckSummaryText(const CheckRunSummary& summary);

/// The summary box of a long run: the line above and where the changed links are, `shownChanged`
/// of them being rows of the list (selected there).
QString CheckSummaryBoxText(const CheckRunSummary& summary, int shownChanged);

/// Selects the rows of `links` that the list shows (nothing else) and brings the first into
/// view; with no such row the selection stays as it was. Returns the number of rows selected.
int SelectLinksInList(CLinksView& view, const std::vector<CLink*>& links);
