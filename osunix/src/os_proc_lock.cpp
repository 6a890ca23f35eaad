/* The lock check of the agent's processes (a lockf lock on ./locks/<name>.lock, held for the rest
 * of the process once taken) and the process's cpu-specs buffer. Owns the descriptors of the
 * locks this process holds. */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "os_diag.h"
#include "os_file_dir_internal.h"
#include "os_file_nofollow.h"
#include "os_fork_internal.h"
#include "os_proc.h"
#include "os_proc_internal.h"

namespace {

constexpr char kLockDir[] = "./locks/";

char cpu_specs[OS_PROC_CPU_SPECS_ROOM] = {};

// Lock files this process holds, by path. A second descriptor of such a file must never be
// closed: closing any descriptor of a file drops the process's lockf lock on it. The record
// belongs to the process that made it (a forked child holds none of its parent's locks).
std::mutex held_mutex;
[[maybe_unused]] const bool held_fork_safe = os_fork::renew_in_child(held_mutex);
std::map<std::string, int> held_locks;
pid_t held_by = 0;

std::map<std::string, int>& held() {
    if (held_by != getpid()) {
        held_locks.clear();
        held_by = getpid();
    }
    return held_locks;
}

constexpr os_proc::ProcessType kProcessTypes[] = {
    {OS_PROC_TYPE_AG, "AGENT", "ag"},  {OS_PROC_TYPE_AT, "TRACKER", "at"}, {OS_PROC_TYPE_AR, "ROUTER", "ar"},
    {OS_PROC_TYPE_WK, "WKLOAD", "wk"}, {OS_PROC_TYPE_RL, "RUTIL", "ru"},
};

// Why a lock file could not be opened: the folder walk's reason, or what stands at the name.
std::string refusal_of(const std::string& path, bool folder_refused, int error) {
    const char* why = folder_refused                      ? os_file::folder_failure_text(error)
                      : error == ELOOP                    ? "a link stands at its name"
                      : error == EINVAL || error == ENXIO ? "it is not a regular file"
                      : error == EMLINK                   ? "it has more than one name"
                                                          : std::strerror(error);
    return "the lock file " + path + " is refused: " + why;
}

// The lock file in the locks folder as walked for the home (a link there leads only to a folder of
// the home's owner), never through a link, FIFO or other kind of file planted at its name; its mode
// and owner are set on the descriptor. -1 with `refusal` saying why it cannot be used.
int open_lock_file(const char* fn, const std::string& path, std::string& refusal) {
    const os_file::Descriptor folder(os_file::open_agent_folder(kLockDir, true));
    const std::string name = path.substr(sizeof kLockDir - 1);
    const int fd = folder.fd < 0 ? -1 : os_file::open_regular_at(folder.fd, name.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0) {
        refusal = refusal_of(path, folder.fd < 0, errno);
        return -1;
    }
    if (fchmod(fd, 0644) != 0)
        DIAG_ERROR("%s: fchmod '%s' to 0644 failed : %s", fn, path.c_str(), std::strerror(errno));
    if (geteuid() == 0) {
        DIAG_TRACE(4, "%s: changing ownership of '%s' to agent owner", fn, path.c_str());
        os_file::give_to_agent_owner(fd);
    }
    return fd;
}

CM_RC check(const char* fn, const std::string& path, bool create_lock, std::string& refusal) {
    std::lock_guard<std::mutex> lock(held_mutex);
    auto& mine = held();
    const auto already = mine.find(path);
    const bool own = already != mine.end();
    const int fd = own ? already->second : open_lock_file(fn, path, refusal);
    if (fd < 0) {
        DIAG_ERROR("%s: failed to open lock file %s", fn, path.c_str());
        DIAG_TRACE(4, "%s: %s", fn, refusal.c_str());
        return CM_RC_LOCK_HELD;
    }
    CM_RC rc;
    if (lockf(fd, F_TEST, 0) == 0) {
        DIAG_TRACE(3, "%s: lock file %s is unlocked", fn, path.c_str());
        rc = CM_RC_LOCK_FREE;
        if (create_lock && !own) {
            DIAG_TRACE(4, "%s: perform real lock on %s", fn, path.c_str());
            if (lockf(fd, F_TLOCK, 0) == 0) {
                DIAG_TRACE(4, "%s: lock file locked successfullly", fn);
                mine[path] = fd;
                return CM_RC_LOCK_FREE;
            }
            const int err = errno;
            DIAG_ERROR("%s: failed to lock file %s", fn, path.c_str());
            errno = err;
            rc = CM_RC_LOCK_HELD;
        }
    } else if (errno == EACCES || errno == EAGAIN) {
        // The caller reports why the lock is not to be had: errno stays as the test left it.
        const int err = errno;
        DIAG_TRACE(4, "%s: lock file %s is locked", fn, path.c_str());
        errno = err;
        rc = CM_RC_LOCK_HELD;
    } else {
        const int err = errno;
        DIAG_ERROR(
            "%s: The file '%s' is unlocked but testing the lock on it failed with the error: '%s'. errno = %d\n"
            "\tPlease verify that the Orvanta/Agent is not installed on NFS.",
            fn, path.c_str(), std::strerror(err), err);
        rc = CM_RC_LOCK_HELD;
    }
    const int err = errno;
    if (!own) close(fd);
    errno = err;
    return rc;
}

}  // namespace

namespace os_proc {

const ProcessType* process_type(int proc_type) {
    for (const ProcessType& known : kProcessTypes)
        if (known.type == proc_type) return &known;
    return nullptr;
}

CM_RC check_lock(int proc_type, bool create_lock, const char* proc_name, std::string* refusal) {
    static const char* const fn = "OS_PROC_check_lock";
    DIAG_TRACE(4, "%s", fn);
    std::string path;
    if (proc_name) {
        // A name is a file name inside ./locks, never a path elsewhere.
        if (!*proc_name || std::strchr(proc_name, '/')) {
            DIAG_ERROR("%s: invalid process name '%s'", fn, proc_name);
            if (refusal) *refusal = std::string("invalid process name '") + proc_name + "'";
            return CM_RC_LOCK_HELD;
        }
        path = std::string(kLockDir) + proc_name + ".lock";
    } else if (proc_type == OS_PROC_TYPE_NAMED) {
        return CM_RC_OK;
    } else if (proc_type == 1 || proc_type == 3) {
        return CM_RC_NO_LOCK_TYPE;
    } else if (const os_proc::ProcessType* type = os_proc::process_type(proc_type)) {
        path = std::string(kLockDir) + type->lock_name + ".lock";
    } else {
        return CM_RC_FAIL;
    }
    DIAG_TRACE(4, "%s: checking %s", fn, path.c_str());
    std::string why;
    const CM_RC rc = check(fn, path, create_lock, why);
    const int err = errno;
    if (refusal) *refusal = why;
    DIAG_TRACE(4, "%s: exiting", fn);
    errno = err;
    return rc;
}

}  // namespace os_proc

extern "C" {

CM_RC OS_PROC_check_lock(int proc_type, orv_boolean create_lock, int, const char* proc_name) {
    return os_proc::check_lock(proc_type, create_lock != 0, proc_name, nullptr);
}

char* OS_PROC_getCpuSpecsBuffer(void) { return cpu_specs; }

}  // extern "C"
