// Process-wide locks that a forked child may need: they are taken, in a fixed order, around every
// fork, and the child gets them fresh, so a child can log and read parameter tables even when
// another thread of the parent held one of them at the moment of the fork.
#pragma once

#include <mutex>

namespace os_fork {

// The order in which the locks are taken: code holding a lock may go on to take the locks of
// later ranks only (the script scanner logs, the parameter caches log, the log reads the clock).
enum class Rank { script_zone = 0, param_cache, diag_log, clock, sigchld, count };

// Registers the lock of a rank; called once by the module that owns it, while the library loads.
bool hold_across_fork(Rank rank, std::mutex& lock);
bool hold_across_fork(Rank rank, std::recursive_mutex& lock);

// A lock that may be held across a fork by the forking thread itself (a call that forks while
// holding it): not taken around the fork, only renewed in the child.
bool renew_in_child(std::mutex& lock);

}  // namespace os_fork
