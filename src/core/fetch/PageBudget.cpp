#include "PageBudget.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

struct WalkTask
{
    const std::function<void()>* walk = nullptr;
    std::size_t cost = 0;
    bool done = false;
    std::exception_ptr error;
};

struct Budget
{
    std::mutex mutex;
    std::condition_variable textFreed;
    std::condition_variable walkEnded;
    PageBudgetLimits limits;
    std::size_t textHeld = 0;
    std::size_t textPeak = 0;
    /// Held by pages that are read to their end: their walks give it back without needing more.
    std::size_t textEnded = 0;
    bool beyondTaken = false;
    /// Readers waiting for room, the first come first: a page half read is served before new
    /// pages take the room it waits for, so that pages get to their end and their walk.
    std::list<const CPageLease*> waiting;
    std::size_t walkHeld = 0;
    int walksRunning = 0;
    int walksPeak = 0;
    // Walks start in the order they were asked for, so a big page is not passed for ever by
    // small ones.
    std::list<WalkTask*> walkQueue;
    int walkers = 0;
};

Budget& TheBudget()
{
    static Budget& budget = *[] {
#ifdef __GLIBC__
        // glibc raises its threshold for mapping big blocks each time one is freed, after which
        // pages come from the heap of the thread that read them and stay there when freed: with
        // 64 readers that keeps many pages' worth beyond the budget. A fixed threshold gives
        // every page back when it goes.
        mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
        return new Budget;
    }();
    return budget;
}

// A string's heap block; the few bytes kept inside the string object itself are no block.
std::size_t Counted(const std::string& s)
{
    static const std::size_t inPlace = std::string().capacity();
    return s.capacity() > inPlace ? s.capacity() : 0;
}

// What a walk is counted for: its tree is up to this many times its text (6.3 measured on pages
// stuffed with anchors).
constexpr std::size_t kWalkTreeRatio = 7;

// Growth is asked for in steps at least this big, so that a page does not wait once per line.
constexpr std::size_t kMinGrowth = 64 * 1024;

int WalkLimit(const PageBudgetLimits& limits)
{
    if (limits.walks > 0)
        return limits.walks;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

// Walks run on a few threads of their own, at most as many as the limit: the trees of a walk are
// many small blocks, which the allocator keeps per thread after they are freed, so 64 readers
// each walking their own page would each keep a page's tree.
[[noreturn]] void Walker()
{
    Budget& b = TheBudget();
    std::unique_lock lock(b.mutex);
    for (;;) {
        b.walkEnded.wait(lock, [&b] {
            if (b.walkQueue.empty())
                return false;
            const WalkTask* next = b.walkQueue.front();
            return b.walksRunning == 0 ||
                   (b.walksRunning < WalkLimit(b.limits) && b.walkHeld + next->cost <= b.limits.walkBytes);
        });
        WalkTask* task = b.walkQueue.front();
        b.walkQueue.pop_front();
        ++b.walksRunning;
        b.walksPeak = std::max(b.walksPeak, b.walksRunning);
        b.walkHeld += task->cost;
        lock.unlock();
        // The next in line may fit beside this one.
        b.walkEnded.notify_all();
        std::exception_ptr error;
        try {
            (*task->walk)();
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        --b.walksRunning;
        b.walkHeld -= std::min(task->cost, b.walkHeld);
        task->error = error;
        task->done = true;
        b.walkEnded.notify_all();
    }
}

} // namespace

void SetPageBudgetLimits(const PageBudgetLimits& limits)
{
    Budget& b = TheBudget();
    {
        std::lock_guard lock(b.mutex);
        b.limits = limits;
    }
    b.textFreed.notify_all();
    b.walkEnded.notify_all();
}

PageBudgetLimits GetPageBudgetLimits()
{
    Budget& b = TheBudget();
    std::lock_guard lock(b.mutex);
    return b.limits;
}

std::size_t PageTextHeld()
{
    Budget& b = TheBudget();
    std::lock_guard lock(b.mutex);
    return b.textHeld;
}

std::size_t TakePageTextPeak()
{
    Budget& b = TheBudget();
    std::lock_guard lock(b.mutex);
    return std::exchange(b.textPeak, b.textHeld);
}

int TakeWalksPeak()
{
    Budget& b = TheBudget();
    std::lock_guard lock(b.mutex);
    return std::exchange(b.walksPeak, b.walksRunning);
}

CPageLease::~CPageLease()
{
    Release(m_bytes);
    if (m_beyond)
        EndGrowth();
}

CPageLease::CPageLease(CPageLease&& other) noexcept
    : m_bytes(std::exchange(other.m_bytes, 0)), m_beyond(std::exchange(other.m_beyond, false)),
      m_ended(std::exchange(other.m_ended, false)), m_waited(std::exchange(other.m_waited, {}))
{
}

CPageLease& CPageLease::operator=(CPageLease&& other) noexcept
{
    if (this != &other) {
        Release(m_bytes);
        if (m_beyond)
            EndGrowth();
        m_bytes = std::exchange(other.m_bytes, 0);
        m_beyond = std::exchange(other.m_beyond, false);
        m_ended = std::exchange(other.m_ended, false);
        m_waited = std::exchange(other.m_waited, {});
    }
    return *this;
}

bool CPageLease::Acquire(std::size_t bytes, const std::atomic<bool>* cancelled)
{
    Budget& b = TheBudget();
    std::unique_lock lock(b.mutex);
    std::chrono::steady_clock::time_point waitStart{};
    bool waited = false;
    const auto countWait = [&] {
        if (waited) {
            m_waited += std::chrono::steady_clock::now() - waitStart;
            b.waiting.remove(this);
            b.textFreed.notify_all();
        }
    };
    for (;;) {
        const bool first = waited ? b.waiting.front() == this : b.waiting.empty();
        if (m_beyond || (first && b.textHeld + bytes <= b.limits.textBytes))
            break;
        if (first && !b.beyondTaken && b.textEnded == 0) {
            // Every reader may be waiting with part of the budget in hand, and no walk is to
            // give any back: this one goes on, and the next one after it has read its page.
            b.beyondTaken = true;
            m_beyond = true;
            break;
        }
        if (cancelled && cancelled->load()) {
            countWait();
            return false;
        }
        if (!waited) {
            waited = true;
            waitStart = std::chrono::steady_clock::now();
            b.waiting.push_back(this);
        }
        // Every change that may make room notifies; only a cancel flag has to be looked at.
        if (cancelled)
            b.textFreed.wait_for(lock, std::chrono::milliseconds(100));
        else
            b.textFreed.wait(lock);
    }
    countWait();
    if (m_ended) {
        m_ended = false;
        b.textEnded -= std::min(m_bytes, b.textEnded);
    }
    b.textHeld += bytes;
    b.textPeak = std::max(b.textPeak, b.textHeld);
    m_bytes += bytes;
    return true;
}

void CPageLease::Release(std::size_t bytes)
{
    if (bytes == 0)
        return;
    Budget& b = TheBudget();
    {
        std::lock_guard lock(b.mutex);
        bytes = std::min(bytes, m_bytes);
        b.textHeld -= std::min(bytes, b.textHeld);
        if (m_ended)
            b.textEnded -= std::min(bytes, b.textEnded);
        m_bytes -= bytes;
    }
    b.textFreed.notify_all();
}

void CPageLease::Adjust(std::size_t expected, std::size_t actual)
{
    if (actual < expected) {
        Release(expected - actual);
    } else if (actual > expected) {
        // The string took a little more than asked for: it has it already, so it is only counted.
        Budget& b = TheBudget();
        std::lock_guard lock(b.mutex);
        b.textHeld += actual - expected;
        if (m_ended)
            b.textEnded += actual - expected;
        b.textPeak = std::max(b.textPeak, b.textHeld);
        m_bytes += actual - expected;
    }
}

bool CPageLease::Fit(std::string& s, std::size_t extra, const std::atomic<bool>* cancelled)
{
    const std::size_t need = s.size() + extra;
    if (need <= s.capacity())
        return true;
    const std::size_t before = Counted(s);
    // As the string itself would grow, so that a page is not copied once per line.
    const std::size_t grown = std::max({need, 2 * s.capacity(), kMinGrowth});
    if (!Acquire(grown - before, cancelled))
        return false;
    try {
        s.reserve(grown);
    } catch (...) {
        Release(grown - before);
        throw;
    }
    Adjust(grown, Counted(s));
    return true;
}

void CPageLease::Drop(std::string& s)
{
    Release(Counted(s));
    std::string().swap(s);
}

void CPageLease::Shrink(std::string& s)
{
    const std::size_t before = Counted(s);
    s.shrink_to_fit();
    Adjust(before, Counted(s));
}

void CPageLease::EndGrowth()
{
    if (m_ended && !m_beyond)
        return;
    Budget& b = TheBudget();
    {
        std::lock_guard lock(b.mutex);
        if (!m_ended) {
            m_ended = true;
            b.textEnded += m_bytes;
        }
        if (m_beyond) {
            b.beyondTaken = false;
            m_beyond = false;
        }
    }
    b.textFreed.notify_all();
}

void WalkInTurn(std::size_t textBytes, const std::function<void()>& walk)
{
    Budget& b = TheBudget();
    WalkTask task;
    task.walk = &walk;
    std::unique_lock lock(b.mutex);
    // A page bigger than the whole walk budget walks alone.
    task.cost = std::min(textBytes * kWalkTreeRatio, b.limits.walkBytes);
    b.walkQueue.push_back(&task);
    if (b.walkers < WalkLimit(b.limits)) {
        try {
            std::thread(&Walker).detach();
            ++b.walkers;
        } catch (const std::system_error&) {
            // With no walker to be had, any walker at all will do; with none, the caller walks.
            if (b.walkers == 0) {
                b.walkQueue.remove(&task);
                lock.unlock();
                walk();
                return;
            }
        }
    }
    b.walkEnded.notify_all();
    b.walkEnded.wait(lock, [&task] { return task.done; });
    if (task.error)
        std::rethrow_exception(task.error);
}
