// Helpers shared by the TCP-session modules: configuration values of the process's table, the
// bounded wait on one descriptor, and the session's peer address as text.
#pragma once

#include <optional>
#include <string>

#include "os_comm.h"

namespace os_comm {

// A value of the process's configuration table (OS_PROC_config_file), when the key is there.
std::optional<std::string> config_value(const char* key);

// Waits up to `milliseconds` (0: just looks) for fd to become readable (POLLIN) or writable
// (POLLOUT). >0 ready, 0 time-out, -1 failure with errno set (EINTR for an interrupted wait).
// poll has no descriptor-number limit, unlike select's fd_set.
int wait_ready(int fd, short events, int milliseconds);

// How a bounded wait ended.
enum class Waited { Ready, TimedOut, Ended, Failed };

// Waits up to `milliseconds` for fd to become ready for `events`, in slices of at most a second. A
// wait that a signal interrupts goes on for the time that remains, never from the start again; a
// wait in a process that was asked to exit ends at once (Ended), so a stop is never held up by a
// silent peer. Failed leaves errno as the wait set it. `op` names the caller in the log.
Waited wait_bounded(int fd, short events, int milliseconds, const char* op);

// The dotted IPv4 text of an address; empty when it cannot be formed.
std::string dotted(const struct sockaddr_in& addr);

}  // namespace os_comm
