/* Communication lines of the agent messaging layer: shutting a line and the process's recorded
 * open socket, and this host's name. */
#include "os_comm.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "os_diag.h"

namespace {

/* The socket of the last line set up, -1 when none; signal handlers read and write it, so it is
 * a lock-free atomic. */
std::atomic<int> open_socket{-1};

}  // namespace

extern "C" {

CM_RC OS_COMM_shut(OS_COMM_line_typ* line_id) {
    if (!line_id) {
        const int fd = open_socket.exchange(-1);
        if (fd >= 0) close(fd);
        return CM_RC_OK;
    }
    if (line_id->fd >= 0) {
        const int fd = line_id->fd;
        line_id->fd = -1;
        /* Forget the recorded socket only when it is this line's: another line's stays recorded. */
        int recorded = fd;
        open_socket.compare_exchange_strong(recorded, -1);
        close(fd);
    }
    return CM_RC_OK;
}

CM_RC OS_COMM_hostname(char* node, int size) {
    if (!node || size < 1) return CM_RC_FAIL;
    int failed = gethostname(node, static_cast<size_t>(size)) != 0 ? errno : 0;
    if (!failed && !std::memchr(node, '\0', static_cast<size_t>(size))) failed = ENAMETOOLONG;
    if (failed) {
        node[0] = '\0';
        DIAG_TRACE(4, "gethostname failed. error: %s", std::strerror(failed));
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

}  // extern "C"
