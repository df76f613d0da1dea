#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

/// The memory the partner pages of this process may take at once, so that a run with 64 pages in
/// flight on link-stuffed pages stays within a few hundred megabytes:
/// - the text of pages being read or waiting for their walk (a reader that would go beyond it
///   waits for a walk to end, and the time it waits does not count against its request time-out);
/// - the walks themselves: a walk's tree takes several times its text, and no more walks run at
///   once than the machine has cores.
/// One reader at a time may go beyond the text budget, so readers that each hold part of it never
/// wait for one another for ever.
struct PageBudgetLimits
{
    std::size_t textBytes = 192u << 20;
    std::size_t walkBytes = 96u << 20;
    int walks = 0; ///< 0: the machine's cores
};

/// Changes the limits (tests make them small); pages already held keep what they hold.
void SetPageBudgetLimits(const PageBudgetLimits& limits);
PageBudgetLimits GetPageBudgetLimits();
/// Text bytes held by all leases now, and the most held at once since the last call.
std::size_t PageTextHeld();
std::size_t TakePageTextPeak();

/// The share of the text budget one page holds, given back when it ends.
class CPageLease
{
public:
    CPageLease() = default;
    ~CPageLease();
    CPageLease(CPageLease&& other) noexcept;
    CPageLease& operator=(CPageLease&& other) noexcept;
    CPageLease(const CPageLease&) = delete;
    CPageLease& operator=(const CPageLease&) = delete;

    /// Makes room in `s` for `extra` more bytes, taking what its growth needs from the budget
    /// first; waits while the budget is spent. False when `cancelled` turned true meanwhile (then
    /// `s` is left as it was).
    bool Fit(std::string& s, std::size_t extra, const std::atomic<bool>* cancelled);
    /// Frees `s` and gives its share back.
    void Drop(std::string& s);
    /// Frees what `s` holds beyond its length.
    void Shrink(std::string& s);
    /// The reading is over: what the lease holds will go back without it asking for more, and a
    /// reader that was let beyond the budget makes way for the next one.
    void EndGrowth();

    std::size_t Bytes() const { return m_bytes; }
    /// How long this lease waited for the budget in all.
    std::chrono::steady_clock::duration Waited() const { return m_waited; }

private:
    bool Acquire(std::size_t bytes, const std::atomic<bool>* cancelled);
    void Release(std::size_t bytes);
    void Adjust(std::size_t before, std::size_t after);

    std::size_t m_bytes = 0;
    bool m_beyond = false; ///< this lease holds the one permission to go beyond the budget
    bool m_ended = false;  ///< its page is read: what it holds goes back without asking for more
    std::chrono::steady_clock::duration m_waited{};
};

/// Runs `walk`, the walk of a page of `textBytes`, on one of the walkers when its turn comes and
/// the walk budget has room, and returns when it has ended (with its exception, if it threw).
void WalkInTurn(std::size_t textBytes, const std::function<void()>& walk);

/// The most walks that ran at once since the last call.
int TakeWalksPeak();
