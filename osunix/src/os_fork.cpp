/* Fork safety of the library's process-wide locks: one set of pthread_atfork handlers takes every
 * registered lock by rank before a fork, releases them in the parent and in the child (renewing
 * the recursive ones there), so no lock is ever held in the child by a thread it does not have. */
#include "os_fork_internal.h"

#include <pthread.h>

#include <new>

namespace os_fork {

namespace {

struct Slot {
    std::mutex* plain = nullptr;
    std::recursive_mutex* recursive = nullptr;
};

constexpr int kRanks = static_cast<int>(Rank::count);
constexpr int kRenewedMax = 8;

// Filled while the library is loaded (single-threaded) and only read afterwards.
Slot slots[kRanks];
std::mutex* renewed[kRenewedMax] = {};

void prepare() {
    for (Slot& slot : slots) {
        if (slot.plain) slot.plain->lock();
        if (slot.recursive) slot.recursive->lock();
    }
}

void parent() {
    for (int i = kRanks - 1; i >= 0; --i) {
        if (slots[i].recursive) slots[i].recursive->unlock();
        if (slots[i].plain) slots[i].plain->unlock();
    }
}

// The child's one thread is the thread that took the ranked locks in prepare(), so it releases them
// as the parent does (no other thread held them at the fork), and every checker of lock order sees
// them released. A recursive lock knows its owner by thread id, which the child's thread no longer
// has, so it refuses that release (an unlock by a thread that does not own a recursive lock is an
// error, never a change): it is made anew after it, as are the locks that the forking thread may
// have held itself.
void child() {
    for (int i = kRanks - 1; i >= 0; --i) {
        if (slots[i].recursive) {
            slots[i].recursive->unlock();
            new (slots[i].recursive) std::recursive_mutex;
        }
        if (slots[i].plain) slots[i].plain->unlock();
    }
    for (std::mutex* lock : renewed)
        if (lock) new (lock) std::mutex;
}

bool install() {
    static const bool installed = pthread_atfork(prepare, parent, child) == 0;
    return installed;
}

}  // namespace

bool hold_across_fork(Rank rank, std::mutex& lock) {
    slots[static_cast<int>(rank)].plain = &lock;
    return install();
}

bool hold_across_fork(Rank rank, std::recursive_mutex& lock) {
    slots[static_cast<int>(rank)].recursive = &lock;
    return install();
}

bool renew_in_child(std::mutex& lock) {
    for (std::mutex*& slot : renewed) {
        if (!slot || slot == &lock) {
            slot = &lock;
            return install();
        }
    }
    return false;
}

}  // namespace os_fork
