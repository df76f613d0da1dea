#include "TemporaryFiles.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <iterator>
#include <unistd.h>

namespace TemporaryFiles {
namespace {

enum State : int
{
    Free,
    Filling,
    Ready,
    Removing,
};

struct Slot
{
    std::atomic<int> state{Free};
    char path[PATH_MAX] = {};
};
static_assert(std::atomic<int>::is_always_lock_free, "read by a signal handler");

// A few writers at most run at once.
Slot g_slots[8];

constexpr int kSignals[] = {SIGINT, SIGTERM};
struct sigaction g_previous[std::size(kSignals)] = {};

void RemoveAndEnd(int sig)
{
    RemoveAll();
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(sig, &action, nullptr);
    // Blocked while this handler runs; delivered, with its default end, as soon as it returns.
    ::raise(sig);
}

} // namespace

Registration::Registration(const std::string& path)
{
    if (path.empty() || path.size() >= PATH_MAX)
        return;
    for (int i = 0; i < static_cast<int>(std::size(g_slots)); ++i) {
        int expected = Free;
        if (!g_slots[i].state.compare_exchange_strong(expected, Filling))
            continue;
        std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
        g_slots[i].state.store(Ready);
        m_slot = i;
        return;
    }
}

Registration::~Registration()
{
    if (m_slot < 0)
        return;
    // A handler on another thread may be removing the file right now; that takes a moment.
    std::atomic<int>& state = g_slots[m_slot].state;
    for (int expected = Ready; !state.compare_exchange_weak(expected, Free); expected = Ready) {
    }
}

void RemoveAll() noexcept
{
    for (Slot& slot : g_slots) {
        int expected = Ready;
        if (!slot.state.compare_exchange_strong(expected, Removing))
            continue;
        ::unlink(slot.path);
        slot.state.store(Ready);
    }
}

RemovedOnSignals::RemovedOnSignals()
{
    struct sigaction action = {};
    action.sa_handler = RemoveAndEnd;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &g_previous[i]);
}

RemovedOnSignals::~RemovedOnSignals()
{
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
}

} // namespace TemporaryFiles
