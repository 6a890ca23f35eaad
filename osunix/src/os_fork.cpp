/* Fork safety of the library's process-wide locks: one set of pthread_atfork handlers takes every
 * registered lock by rank before a fork, releases them in the parent and renews them in the child
 * (a lock held by a thread that the child does not have could never be released there). */
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

void child() {
    for (Slot& slot : slots) {
        if (slot.plain) new (slot.plain) std::mutex;
        if (slot.recursive) new (slot.recursive) std::recursive_mutex;
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
