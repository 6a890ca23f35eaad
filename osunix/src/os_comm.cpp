/* TCP lines and sessions of the agent messaging layer: setting up a connecting, listening or inetd
 * line, opening sessions on it, exact and one-shot reads and whole writes on non-blocking sockets with
 * waits bounded by the line's time-out, liveness checks, ports and names, the trace file, the child
 * process of a server, and the process's recorded open socket and session descriptor. */
#include "os_comm.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <resolv.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bca_api.h"
#include "gm_param.h"
#include "gm_time.h"
#include "os_comm_internal.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_file_nofollow.h"
#include "os_proc.h"

namespace {

/* The socket of the last line set up and the descriptor of the last session opened, -1 when none;
 * signal handlers read and write them, so they are lock-free atomics. */
std::atomic<int> open_socket{-1};
std::atomic<int> open_fd{-1};

constexpr int kHostTextMax = 63;
constexpr int kConnectAttempts = 5;
constexpr int kConnectWaitSeconds = 10;
constexpr int kListenBacklog = 128;
constexpr int kSocketRetrySleep = 2;
constexpr int kSndbufReserve = 256;
constexpr int kSndbufDefault = 4096;
constexpr int kMegabyte = 1024 * 1024;
constexpr char kAnyInterface[] = "*ANY";
constexpr char kLoopback[] = "127.0.0.1";
constexpr char kValidateFailed[] = "Failed to set Orvanta/Agent configuration parameter";

std::string errno_text(int err) { return std::strerror(err); }

/* Forgets a descriptor that is being closed wherever it was recorded, so that a signal handler never
 * closes a number that has been reused since. */
void forget(int fd) {
    int expected = fd;
    open_fd.compare_exchange_strong(expected, -1);
    expected = fd;
    open_socket.compare_exchange_strong(expected, -1);
}

void install_sigpipe_handler(const char* op) {
    struct sigaction action {};
    action.sa_handler = OS_COMM_sigpipe_handler;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGPIPE, &action, nullptr) != 0) DIAG_ERROR("%s: cannot establish SIGPIPE handler", op);
}

bool keepalive_on(int fd) {
    const int on = 1;
    return setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0;
}

bool set_nonblocking(int fd) {
    int on = 1;
    return ioctl(fd, FIONBIO, &on) == 0;
}

/* The line's time-out: UTTIMEOUT for utility lines, TCP_IP_TIMEOUT for the others. */
int line_timeout(OS_COMM_proc_typ proc) {
    const char* key = proc == OS_COMM_PROC_UT ? "UTTIMEOUT" : "TCP_IP_TIMEOUT";
    const auto value = os_comm::config_value(key);
    if (!value) return OS_COMM_DEFAULT_TIMEOUT;
    const int seconds = std::atoi(value->c_str());
    if (seconds > 0) return seconds;
    DIAG_ERROR("TCP/IP timeout value %s is invalid. using default %d", value->c_str(), OS_COMM_DEFAULT_TIMEOUT);
    return OS_COMM_DEFAULT_TIMEOUT;
}

enum class Lookup { found, again, not_found };

Lookup lookup_host(const char* host, struct in_addr* out) {
    if (inet_aton(host, out)) return Lookup::found;
    struct addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* found = nullptr;
    const int rc = getaddrinfo(host, nullptr, &hints, &found);
    if (rc == EAI_AGAIN) return Lookup::again;
    if (rc != 0 || !found) return Lookup::not_found;
    *out = reinterpret_cast<struct sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return Lookup::found;
}

/* Resolves the line's host, trying again at once while the name service asks for it and the
 * processor time used stays within the time-out. */
bool resolve(const std::string& host, int timeout, struct in_addr* out) {
    const std::clock_t start = std::clock();
    for (;;) {
        const Lookup result = lookup_host(host.c_str(), out);
        if (result == Lookup::found) return true;
        if (result == Lookup::not_found) {
            DIAG_ERROR("Host '%s' not found", host.c_str());
            return false;
        }
        DIAG_TRACE(2, "Nameserver is not responding");
        if ((std::clock() - start) / CLOCKS_PER_SEC > timeout) {
            DIAG_ERROR("Timeout %d expired", timeout);
            DIAG_ERROR("Cannot get host %s", host.c_str());
            return false;
        }
        DIAG_TRACE(2, "Retrying..");
    }
}

CM_RC restore_flags(const char* op, int fd, int flags) {
    if (fcntl(fd, F_SETFL, flags) != 0) {
        DIAG_ERROR("%s: ERROR: fcntl failed to restore original flags: %s", op, errno_text(errno).c_str());
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

/* Connects without blocking for longer than kConnectWaitSeconds. */
CM_RC non_block_connect(int fd, struct sockaddr_in* addr, OS_COMM_line_typ* line) {
    static const char* op = "os_comm_nonBlockConnect";
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return CM_RC_FAIL;
    if (connect(fd, reinterpret_cast<struct sockaddr*>(addr), sizeof *addr) == 0) {
        if (restore_flags(op, fd, flags) != CM_RC_OK) return CM_RC_FAIL;
        line->addr = *addr;
        return CM_RC_OK;
    }
    if (errno != EINPROGRESS) {
        DIAG_ERROR("%s: ERROR: connect failed: %s", op, errno_text(errno).c_str());
        restore_flags(op, fd, flags);
        return CM_RC_FAIL;
    }
    const os_comm::Waited waited = os_comm::wait_bounded(fd, POLLIN | POLLOUT, kConnectWaitSeconds * 1000, op);
    if (waited != os_comm::Waited::Ready) {
        if (waited != os_comm::Waited::Ended)
            DIAG_ERROR("%s: ERROR: select (1) failed, res = %d: %s", op, waited == os_comm::Waited::Failed ? -1 : 0,
                       waited == os_comm::Waited::Failed ? errno_text(errno).c_str() : "timed out");
        restore_flags(op, fd, flags);
        return CM_RC_FAIL;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        DIAG_ERROR("%s: ERROR: getsockopt failed: %s", op, errno_text(error ? error : errno).c_str());
        restore_flags(op, fd, flags);
        return CM_RC_FAIL;
    }
    if (restore_flags(op, fd, flags) != CM_RC_OK) return CM_RC_FAIL;
    line->addr = *addr;
    return CM_RC_OK;
}

CM_RC start_client(OS_COMM_line_typ* line, const struct sockaddr_in& target) {
    for (int attempt = 1; attempt <= kConnectAttempts; ++attempt) {
        if (attempt > 1) sleep(1);
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) {
            DIAG_ERROR("open socket error: %s", errno_text(errno).c_str());
            return CM_RC_FAIL;
        }
        struct sockaddr_in addr = target;
        if (non_block_connect(fd, &addr, line) == CM_RC_OK) {
            line->fd = fd;
            return CM_RC_OK;
        }
        DIAG_ERROR("connect 1 to server: %s", errno_text(errno).c_str());
        close(fd);
        line->fd = -1;
    }
    return CM_RC_FAIL;
}

CM_RC start_server(OS_COMM_line_typ* line, struct sockaddr_in addr, char* port_s) {
    const int port = ntohs(addr.sin_port);
    for (int attempt = 1; attempt <= kConnectAttempts; ++attempt) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) {
            DIAG_ERROR("open socket error: %s", errno_text(errno).c_str());
            sleep(kSocketRetrySleep);
            continue;
        }
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        line->fd = fd;
        line->addr = addr;
        if (bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0) {
            const int err = errno;
            if (err == EADDRINUSE && line->who == OS_COMM_SERVER_FIND_PORT) {
                DIAG_TRACE(2, "bind failed, port '%d' is busy. try to find free port", port);
                const int found = OS_COMM_find_free_port(line);
                if (found < 0) {
                    close(fd);
                    line->fd = -1;
                    return CM_RC_FAIL;
                }
                /* port_s holds a port's text: at most five digits and the terminator. */
                const std::string text = std::to_string(found);
                if (port_s) std::memcpy(port_s, text.c_str(), text.size() + 1);
            } else {
                DIAG_ERROR("bind to port '%d' failed: %s", port, errno_text(err).c_str());
                close(fd);
                line->fd = -1;
                return CM_RC_FAIL;
            }
        }
        if (listen(fd, kListenBacklog) != 0) {
            DIAG_ERROR("listen failed: %s", errno_text(errno).c_str());
            close(fd);
            line->fd = -1;
            return CM_RC_FAIL;
        }
        return CM_RC_OK;
    }
    return CM_RC_FAIL;
}

CM_RC start_inetd(OS_COMM_line_typ* line, bool ssl_wanted) {
    socklen_t length = sizeof line->addr;
    if (getpeername(0, reinterpret_cast<struct sockaddr*>(&line->addr), &length) != 0) {
        DIAG_ERROR("ERROR getpeername: (%d) %s", errno, errno_text(errno).c_str());
        return CM_RC_FAIL;
    }
    line->fd = dup(0);
    if (line->fd < 0) return CM_RC_FAIL;
    close(0);
    close(1);
    if (ssl_wanted && OS_COMM_ssl_init(line) != CM_RC_OK) {
        DIAG_ERROR("Failed to load SSL library.");
        DIAG_ERROR("(-AS-) Exitting...");
        OS_PROC_exit(1);
    }
    return CM_RC_OK;
}

/* The host a line connects to or listens on; empty for every interface. */
std::string line_host(OS_COMM_who_typ who, const char* node) {
    std::string host = node ? std::string(node).substr(0, kHostTextMax) : "";
    while (!host.empty() && host.back() == ' ') host.pop_back();
    const bool server = who == OS_COMM_SERVER || who == OS_COMM_SERVER_FIND_PORT;
    if (server && host != kLoopback) {
        const auto interface = os_comm::config_value("LISTEN_INTERFACE");
        if (interface && *interface != kAnyInterface && !interface->empty()) {
            DIAG_TRACE(3, "%s: listen only on '%s' interface in server mode", "OS_COMM_init", interface->c_str());
            return *interface;
        }
        return "";
    }
    if (host.empty()) {
        char name[256] = {};
        if (OS_COMM_hostname(name, sizeof name) == CM_RC_OK) host = name;
    }
    return host;
}

/* One receive on a session: through the SSL session when it has a profile (its would-block answer
 * becomes EAGAIN, a fatal answer a closed connection), else recv. */
ssize_t receive(OS_COMM_sess_typ* sess, void* buffer, int size, const char* op) {
    if (!sess->ssl_profile) return recv(sess->fd, buffer, static_cast<size_t>(size), 0);
    const int n = BCA_Read(sess->ssl_profile, sess, static_cast<char*>(buffer), size);
    if (n == ESS_WOULD_BLOCK) {
        errno = EAGAIN;
        return -1;
    }
    if (n < 0) {
        DIAG_ERROR("%s: BCA_Read returned fatal error : %d", op, n);
        return 0;
    }
    return n;
}

/* One send on a session, through the SSL session when it has a profile. */
ssize_t transmit(OS_COMM_sess_typ* sess, const char* buffer, int size) {
    if (!sess->ssl_profile) return send(sess->fd, buffer, static_cast<size_t>(size), MSG_NOSIGNAL);
    const int n = BCA_Write(sess->ssl_profile, sess, const_cast<char*>(buffer), size);
    if (n == ESS_WOULD_BLOCK) {
        errno = EAGAIN;
        return -1;
    }
    if (n < 0) errno = EPIPE;
    return n < 0 ? -1 : n;
}

CM_RC finish_open(int fd, const char* op) {
    open_fd = fd;
    install_sigpipe_handler(op);
    if (!keepalive_on(fd)) {
        DIAG_ERROR("%s: setsockopt: %s", op, errno_text(errno).c_str());
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

/* Waits for a connection on a listening line while no exit is requested. 1 ready, 46, 2. */
CM_RC wait_for_connection(OS_COMM_line_typ* line) {
    switch (os_comm::wait_bounded(line->fd, POLLIN, line->timeout_interval * 1000, "OS_COMM_sess_open")) {
    case os_comm::Waited::Ready: return CM_RC_OK;
    case os_comm::Waited::Failed: DIAG_ERROR("select failed, error: %s", errno_text(errno).c_str()); return CM_RC_FAIL;
    case os_comm::Waited::TimedOut:
    case os_comm::Waited::Ended: break;
    }
    DIAG_TRACE(2, "select timed out, interval: %d", line->timeout_interval);
    return OS_COMM_ERR_TIMEOUT;
}

CM_RC open_server_session(OS_COMM_line_typ* line, OS_COMM_sess_typ* sess) {
    const CM_RC waited = wait_for_connection(line);
    if (waited != CM_RC_OK) return waited;
    socklen_t length = sizeof sess->addr;
    const int fd = accept(line->fd, reinterpret_cast<struct sockaddr*>(&sess->addr), &length);
    if (fd < 0) {
        DIAG_ERROR("Accept failes, error:%s", errno_text(errno).c_str());
        OS_COMM_shut(line);
        return CM_RC_FAIL;
    }
    sess->fd = fd;
    if (!set_nonblocking(fd)) {
        DIAG_ERROR("setting server socket to non blocking failed, error: %s", errno_text(errno).c_str());
        return CM_RC_FAIL;
    }
    if (sess->ssl_profile && OS_COMM_sess_ssl_accept(sess) != CM_RC_OK) {
        DIAG_ERROR("Failed in SSL accept.");
        BCA_Terminate(sess->ssl_profile, sess);
        OS_COMM_sess_close(sess);
        return CM_RC_FAIL;
    }
    if (sess->proc == OS_COMM_PROC_RU) return CM_RC_OK;
    return OS_COMM_check_IP_authorized(sess);
}

/* A session of a client or inetd line works on its own duplicate of the line's socket, so closing
 * the session and shutting the line each close their own descriptor. */
CM_RC open_duplicate_session(OS_COMM_line_typ* line, OS_COMM_sess_typ* sess, const char* side) {
    sess->addr = line->addr;
    sess->fd = line->fd >= 0 ? dup(line->fd) : -1;
    if (sess->fd < 0 || !set_nonblocking(sess->fd)) {
        DIAG_ERROR("setting %s socket to non blocking failed, error: %s", side, errno_text(errno).c_str());
        if (sess->fd >= 0) close(sess->fd);
        sess->fd = -1;
        OS_COMM_shut(line);
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

}  // namespace

namespace os_comm {

std::optional<std::string> config_value(const char* key) {
    GM_PARAM_VALUE_typ value = {};
    if (GM_PARAM_get(OS_PROC_config_file(), key, value) != CM_RC_OK) return std::nullopt;
    return std::string(value);
}

Waited wait_bounded(int fd, short events, int milliseconds, const char* op) {
    using Clock = std::chrono::steady_clock;
    constexpr int kSliceMs = 1000;
    const auto until = Clock::now() + std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 0);
    for (;;) {
        if (OS_PROC_exit_request_get()) {
            DIAG_TRACE(2, "%s: wait ended: the process is asked to exit", op);
            return Waited::Ended;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        const int slice = static_cast<int>(std::clamp<decltype(left)>(left, 0, kSliceMs));
        const int rc = wait_ready(fd, events, slice);
        if (rc > 0) return Waited::Ready;
        if (rc < 0) {
            if (errno != EINTR) return Waited::Failed;
            DIAG_TRACE(2, "%s: wait interrupted by a signal, waiting on for the time that remains", op);
        }
        if (Clock::now() >= until) return Waited::TimedOut;
    }
}

int wait_ready(int fd, short events, int milliseconds) {
    struct pollfd one {};
    one.fd = fd;
    one.events = events;
    const int rc = poll(&one, 1, milliseconds);
    if (rc > 0 && (one.revents & POLLNVAL)) {
        errno = EBADF;
        return -1;
    }
    /* An error or a hang-up counts as ready: the next call on the socket reports it. */
    return rc;
}

std::string dotted(const struct sockaddr_in& addr) {
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text)) return "";
    return text;
}

}  // namespace os_comm

extern "C" {

CM_RC OS_COMM_init(OS_COMM_who_typ who, OS_COMM_proc_typ proc, char* node, char* port_s, OS_COMM_line_typ* line_id) {
    if (!line_id) return CM_RC_FAIL;
    std::memset(line_id, 0, sizeof *line_id);
    line_id->fd = -1;
    line_id->fd_init = -1;
    line_id->who = who;
    line_id->proc = proc;
    const int port = port_s ? std::atoi(port_s) : 0;
    line_id->timeout_interval = line_timeout(proc);
    const bool ssl_wanted = OS_COMM_get_current_ssl_mode(proc) != 0;
    OS_COMM_trace_initialize(1, line_id);

    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    CM_RC rc = CM_RC_FAIL;
    if (who == OS_COMM_INETD) {
        rc = start_inetd(line_id, ssl_wanted);
    } else if (who == OS_COMM_CLIENT || who == OS_COMM_SERVER || who == OS_COMM_SERVER_FIND_PORT) {
        const std::string host = line_host(who, node);
        /* A name that cannot be resolved fails here: an unset address would reach this host. */
        if (!host.empty() && !resolve(host, line_id->timeout_interval, &addr.sin_addr)) return CM_RC_FAIL;
        if (ssl_wanted && OS_COMM_ssl_init(line_id) != CM_RC_OK) return CM_RC_FAIL;
        rc = who == OS_COMM_CLIENT ? start_client(line_id, addr) : start_server(line_id, addr, port_s);
    } else {
        DIAG_ERROR("Unknown mode %d", static_cast<int>(who));
    }
    if (rc != CM_RC_OK) return rc;
    open_socket = line_id->fd;
    return finish_open(line_id->fd, "OS_COMM_init");
}

CM_RC OS_COMM_sess_open(OS_COMM_line_typ* line_id, OS_COMM_sess_typ* sess_id) {
    if (!line_id || !sess_id) return CM_RC_FAIL;
    std::memset(sess_id, 0, sizeof *sess_id);
    sess_id->fd = -1;
    sess_id->who = line_id->who;
    sess_id->proc = line_id->proc;
    sess_id->timeout_interval = line_id->timeout_interval;
    sess_id->ssl_profile = line_id->ssl_profile;
    std::memcpy(sess_id->trace_file, line_id->trace_file, sizeof sess_id->trace_file);
    sess_id->trace_active = line_id->trace_active;
    sess_id->trace_initialized = line_id->trace_initialized;
    sess_id->trace_use_lock = line_id->trace_use_lock;
    sess_id->error = 0;
    CM_RC rc = CM_RC_FAIL;
    switch (line_id->who) {
    case OS_COMM_CLIENT:
        rc = open_duplicate_session(line_id, sess_id, "client");
        if (rc == CM_RC_OK && sess_id->ssl_profile && os_comm_sess_ssl_connect(sess_id) != CM_RC_OK) {
            DIAG_ERROR("%s: Failed in SSL connect.", "OS_COMM_sess_open");
            BCA_Terminate(sess_id->ssl_profile, sess_id);
            OS_COMM_sess_close(sess_id);
            return CM_RC_FAIL;
        }
        break;
    case OS_COMM_SERVER:
    case OS_COMM_SERVER_FIND_PORT: rc = open_server_session(line_id, sess_id); break;
    case OS_COMM_INETD:
        rc = open_duplicate_session(line_id, sess_id, "server");
        if (rc == CM_RC_OK && sess_id->ssl_profile && OS_COMM_sess_ssl_accept(sess_id) != CM_RC_OK) {
            DIAG_ERROR("(-AG-) Exitting...");
            OS_PROC_exit(1);
        }
        break;
    default: DIAG_ERROR("Unknown mode %d", static_cast<int>(line_id->who)); return CM_RC_FAIL;
    }
    if (rc != CM_RC_OK && rc != OS_COMM_ERR_NOT_AUTHORIZED) return rc;
    if (finish_open(sess_id->fd, "OS_COMM_sess_open") != CM_RC_OK) return CM_RC_FAIL;
    return rc;
}

int OS_COMM_sess_read(OS_COMM_sess_typ* sess_id, void* message, int size) {
    static const char* op = "OS_COMM_sess_read";
    if (!sess_id || !message || size <= 0) return 0;
    sess_id->error = 0;
    char* buffer = static_cast<char*>(message);
    int got = 0;
    while (got < size) {
        const ssize_t n = receive(sess_id, buffer + got, size - got, op);
        if (n > 0) {
            got += static_cast<int>(n);
            continue;
        }
        if (n == 0) {
            DIAG_TRACE(3, "%s: Connection closed by peer", op);
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            DIAG_TRACE(2, "%s: recv failed: %s", op, errno_text(errno).c_str());
            return got;
        }
        sess_id->error = OS_COMM_ERR_WAITING;
        DIAG_TRACE(5, "entering select with timeout of %d seconds", sess_id->timeout_interval);
        const os_comm::Waited waited = os_comm::wait_bounded(sess_id->fd, POLLIN, sess_id->timeout_interval * 1000, op);
        if (waited == os_comm::Waited::TimedOut) {
            sess_id->error = OS_COMM_ERR_TIMEOUT;
            DIAG_TRACE(2, "recv timeout. Returning fewer chars than expected");
            return got;
        }
        if (waited == os_comm::Waited::Ended) return got; /* an unfinished wait: error stays 47 */
        sess_id->error = 0;
    }
    return got;
}

int OS_COMM_sess_read_all(OS_COMM_sess_typ* sess_id, void* message, int size) {
    static const char* op = "OS_COMM_sess_read_all";
    if (!sess_id || !message || size <= 0) return -1;
    sess_id->error = 0;
    for (;;) {
        const ssize_t n = receive(sess_id, message, size, op);
        if (n >= 0) {
            if (n > 0 && (DIAG_debug_level() >= 4 || DIAG_buffered_level() >= 4)) {
                const char* text = static_cast<const char*>(message);
                DIAG_TRACE(4, "%s: header - '%.*s'", op, static_cast<int>(n < 10 ? n : 10), text);
                if (n > 10) DIAG_TRACE(4, "%s: message - '%.*s'", op, static_cast<int>(n - 10), text + 10);
            }
            return static_cast<int>(n);
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return static_cast<int>(n);
        sess_id->error = OS_COMM_ERR_WAITING;
        const os_comm::Waited waited = os_comm::wait_bounded(sess_id->fd, POLLIN, sess_id->timeout_interval * 1000, op);
        if (waited == os_comm::Waited::TimedOut) sess_id->error = OS_COMM_ERR_TIMEOUT;
        if (waited == os_comm::Waited::TimedOut || waited == os_comm::Waited::Ended) return static_cast<int>(n);
        sess_id->error = 0;
    }
}

CM_RC OS_COMM_sess_write(OS_COMM_sess_typ* sess_id, void* message, int size) {
    static const char* op = "OS_COMM_sess_write";
    if (!sess_id || (!message && size > 0) || size < 0) return CM_RC_FAIL;
    const int sndbuf = OS_COMM_get_sndbuf(sess_id->fd);
    if (sndbuf < 0) {
        DIAG_ERROR("%s: Error : cannot get SNDBUF", op);
        return CM_RC_FAIL;
    }
    const int chunk = sndbuf > kSndbufReserve ? sndbuf - kSndbufReserve : sndbuf;
    const char* buffer = static_cast<const char*>(message);
    int sent = 0;
    while (sent < size) {
        const int piece = size - sent < chunk ? size - sent : chunk;
        const ssize_t n = transmit(sess_id, buffer + sent, piece);
        if (n >= 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINPROGRESS) {
            DIAG_ERROR("%s: write error: %s", op, errno_text(errno).c_str());
            return CM_RC_FAIL;
        }
        const os_comm::Waited waited =
            os_comm::wait_bounded(sess_id->fd, POLLOUT, sess_id->timeout_interval * 1000, op);
        if (waited == os_comm::Waited::TimedOut) {
            DIAG_ERROR("%s: write timeout", op);
            return CM_RC_END;
        }
        if (waited != os_comm::Waited::Ready) return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC OS_COMM_sess_close(OS_COMM_sess_typ* sess_id) {
    if (!sess_id) return CM_RC_OK;
    if (sess_id->ssl_profile && sess_id->ssl_is_established) {
        if (BCA_Terminate(sess_id->ssl_profile, sess_id) != 0)
            DIAG_ERROR("%s: BCA_Terminate: Unable to close session %d", "OS_COMM_sess_close",
                       BCA_GetSid(sess_id->ssl_profile, sess_id));
        sess_id->ssl_is_established = 0;
    }
    if (sess_id->fd >= 0) {
        forget(sess_id->fd);
        close(sess_id->fd);
        sess_id->fd = -1;
    }
    return CM_RC_OK;
}

CM_RC OS_COMM_shut(OS_COMM_line_typ* line_id) {
    if (!line_id) {
        const int fd = open_socket.exchange(-1);
        if (fd >= 0) {
            int expected = fd;
            open_fd.compare_exchange_strong(expected, -1);
            close(fd);
        }
        return CM_RC_OK;
    }
    if (line_id->fd >= 0) {
        const int fd = line_id->fd;
        line_id->fd = -1;
        /* Forget the recorded socket only when it is this line's: another line's stays recorded. */
        forget(fd);
        close(fd);
    }
    return CM_RC_OK;
}

CM_RC OS_COMM_sess_error(OS_COMM_sess_typ* sess_id) {
    if (!sess_id) return CM_RC_FAIL;
    const int error = sess_id->error;
    if (error < 0) return CM_RC_FAIL;
    if (error == 0 || error == 1) return CM_RC_OK;
    if (error == OS_COMM_ERR_TIMEOUT || error == OS_COMM_ERR_WAITING) return error;
    return CM_RC_FAIL;
}

CM_RC OS_COMM_line_active(OS_COMM_line_typ* line_id) {
    if (!line_id) return CM_RC_FAIL;
    if (line_id->ssl_profile) return CM_RC_OK;
    return OS_COMM_connection_active(line_id->fd, line_id->buff, sizeof line_id->buff);
}

CM_RC OS_COMM_sess_active(OS_COMM_sess_typ* sess_id) {
    if (!sess_id) return CM_RC_FAIL;
    if (sess_id->ssl_profile) return CM_RC_OK;
    return OS_COMM_connection_active(sess_id->fd, sess_id->buff, sizeof sess_id->buff);
}

CM_RC OS_COMM_connection_active(int sock_fd, char* buff, int buff_len) {
    if (!buff || buff_len < 2 || sock_fd < 0) return CM_RC_FAIL;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(sock_fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
        (error == ECONNRESET || error == ETIMEDOUT || error == EHOSTUNREACH))
        return CM_RC_FAIL;
    const int ready = os_comm::wait_ready(sock_fd, POLLIN, 0);
    if (ready < 0) return CM_RC_FAIL;
    if (ready == 0) return CM_RC_OK;
    const ssize_t n = recv(sock_fd, buff, static_cast<size_t>(buff_len - 1), MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) return CM_RC_FAIL;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return CM_RC_FAIL;
    return CM_RC_OK;
}

int OS_COMM_get_sndbuf(int sd) {
    int size = 0;
    socklen_t length = sizeof size;
    if (getsockopt(sd, SOL_SOCKET, SO_SNDBUF, &size, &length) != 0) {
        DIAG_ERROR("os_comm_get_sndbuf : getsockopt : %s", errno_text(errno).c_str());
        return -1;
    }
    return size < 1 ? kSndbufDefault : size;
}

int OS_COMM_find_free_port(OS_COMM_line_typ* line_id) {
    if (!line_id || line_id->fd < 0) return -1;
    struct sockaddr_in addr = line_id->addr;
    for (int port = ntohs(addr.sin_port) + 1; port <= 65535; ++port) {
        addr.sin_port = htons(static_cast<uint16_t>(port));
        if (bind(line_id->fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) == 0) {
            line_id->addr = addr;
            return port;
        }
        if (errno != EADDRINUSE) return -1;
    }
    return -1;
}

CM_RC OS_COMM_is_port_free(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return CM_RC_FAIL;
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound =
        port > 0 && port <= 65535 && bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return bound ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_COMM_is_socket_ready(int sock_fd, OS_COMM_SOCK_typ mode) {
    if (mode != SOCK_READ && mode != SOCK_WRITE) return CM_RC_FAIL;
    return os_comm::wait_ready(sock_fd, mode == SOCK_READ ? POLLIN : POLLOUT, 0) > 0 ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_COMM_gethostbyname(char* host_name, struct in_addr* sin_addr) {
    if (!host_name || !sin_addr) return CM_RC_FAIL;
    return lookup_host(host_name, sin_addr) == Lookup::found ? CM_RC_OK : CM_RC_FAIL;
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

CM_RC OS_COMM_gethostbyname_cmdb(char* nodeId, int nodeIdSize, char* nodeType, char* hostName, int hostNameSize,
                                 char* domainName, int domainNameSize) {
    if (!nodeId || !nodeType || !hostName || !domainName || nodeIdSize < 1 || hostNameSize < 1 || domainNameSize < 1)
        return CM_RC_FAIL;
    auto put = [](char* target, int room, const std::string& text) {
        std::snprintf(target, static_cast<std::size_t>(room), "%s", text.c_str());
    };
    if (std::strcmp(nodeType, "REGULAR") == 0) {
        char name[256] = {};
        if (OS_COMM_hostname(name, sizeof name) != CM_RC_OK) return CM_RC_FAIL;
        put(nodeId, nodeIdSize, name);
        put(hostName, hostNameSize, name);
        struct __res_state state {};
        const bool resolved = res_ninit(&state) == 0;
        put(domainName, domainNameSize, resolved ? state.defdname : "");
        if (resolved) res_nclose(&state);
        return CM_RC_OK;
    }
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    if (lookup_host(nodeId, &addr.sin_addr) != Lookup::found) return CM_RC_FAIL;
    char full[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<struct sockaddr*>(&addr), sizeof addr, full, sizeof full, nullptr, 0,
                    NI_NAMEREQD) != 0)
        return CM_RC_FAIL;
    const std::string name = full;
    const std::size_t dot = name.find('.');
    put(hostName, hostNameSize, name.substr(0, dot));
    put(domainName, domainNameSize, dot == std::string::npos ? "" : name.substr(dot + 1));
    return CM_RC_OK;
}

CM_RC OS_COMM_validate(char* validation, char* name, char* value, char* message, char* code) {
    if (!validation || !name || !value || !message || !code) return CM_RC_FAIL;
    auto failed = [&](const char* text_code, const char* format, const char* argument) {
        std::snprintf(message, OS_COMM_VALIDATE_MESSAGE_ROOM, format, kValidateFailed, argument);
        std::snprintf(code, 8, "%s", text_code);
        return CM_RC_FAIL;
    };
    const std::string shown = std::string(value).substr(0, 256);
    if (std::strcmp(validation, "6") == 0) {
        const char* current = std::setlocale(LC_ALL, nullptr);
        const std::string saved = current ? current : "C";
        const bool accepted = std::setlocale(LC_ALL, value) != nullptr;
        std::setlocale(LC_ALL, saved.c_str());
        return accepted ? CM_RC_OK : failed("AGT7907", "%s. Cannot set locale: %s.", shown.c_str());
    }
    if (std::strcmp(validation, "11") == 0 && std::strcmp(name, "AGCMNDATA") == 0) {
        return OS_COMM_is_port_free(std::atoi(value)) == CM_RC_OK
                   ? CM_RC_OK
                   : failed("AGT7906", "%s. Verify that the port: %s is free.", shown.c_str());
    }
    if (std::strcmp(validation, "11") == 0 && std::strcmp(name, "MIN_FREE_SPACE") == 0) {
        struct statvfs disk {};
        if (statvfs(".", &disk) != 0)
            return failed("AGT7907", "%s. Unable to obtain free disk space amount for validation.%s", "");
        const unsigned long block = disk.f_frsize ? disk.f_frsize : disk.f_bsize;
        const unsigned long free_mb =
            static_cast<unsigned long>((static_cast<unsigned long long>(disk.f_bavail) * block) / kMegabyte);
        if (free_mb >= std::strtoul(value, nullptr, 10)) return CM_RC_OK;
        std::snprintf(message, OS_COMM_VALIDATE_MESSAGE_ROOM,
                      "%s. Free disk space is %lu MB which is lower than the %s MB requested.", kValidateFailed,
                      free_mb, shown.c_str());
        std::snprintf(code, 8, "%s", "AGT7907");
        return CM_RC_FAIL;
    }
    DIAG_TRACE(4, "OS_COMM_validate: no check of type '%s' for '%s'", validation, name);
    return CM_RC_OK;
}

CM_RC OS_COMM_fork(OS_COMM_sess_func_typ func_ptr, OS_COMM_line_typ* line_id, OS_COMM_sess_typ* sess_id, void*) {
    const pid_t pid = fork();
    if (pid < 0) {
        DIAG_ERROR("OS_COMM_fork: fork failed: %s", errno_text(errno).c_str());
        return CM_RC_FAIL;
    }
    if (pid == 0) {
        OS_COMM_shut(line_id);
        if (func_ptr) func_ptr(sess_id);
        /* The child never returns into the caller's accept loop. */
        _exit(0);
    }
    return CM_RC_OK;
}

CM_RC OS_COMM_copy_identifier(OS_COMM_identifier* target, OS_COMM_identifier* source) {
    if (!target || !source) return CM_RC_FAIL;
    target->socket = source->socket;
    return CM_RC_OK;
}

CM_RC OS_COMM_disconnect_client(OS_COMM_identifier* identifier) {
    if (!identifier) return CM_RC_FAIL;
    forget(identifier->socket);
    return close(identifier->socket) == 0 ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_COMM_trace_initialize(int lock_flag, OS_COMM_line_typ* line_id) {
    if (!line_id || line_id->trace_initialized) return CM_RC_OK;
    if (const auto value = os_comm::config_value("COMM_TRACE"))
        line_id->trace_active = static_cast<orv_boolean>(std::atoi(value->c_str()) != 0);
    std::snprintf(line_id->trace_file, sizeof line_id->trace_file, "./proclog/%s_%d", "trace",
                  static_cast<int>(getpid()));
    line_id->trace_initialized = 1;
    line_id->trace_use_lock = static_cast<orv_boolean>(lock_flag != 0);
    return CM_RC_OK;
}

void OS_COMM_trace_write(OS_COMM_sess_typ* sess_id, const char* format, ...) {
    if (!sess_id || !format || !sess_id->trace_active || !sess_id->trace_initialized) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    // The trace's name is foreseeable: a link planted there is refused, the mode is set on the
    // descriptor, and each entry goes out in one append so that entries of forked children stay whole.
    const int fd = os_file::open_regular(sess_id->trace_file, O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (fd < 0) {
        DIAG_ERROR("Unable to open trace file (%s)", sess_id->trace_file);
        return;
    }
    fchmod(fd, 0666);
    DATETIME_D_typ date = {};
    DATETIME_D_typ clock_text = {};
    GM_TIME_fmt_get_time(GM_TIME_FMT_MMDD, date);
    GM_TIME_fmt_get_time(GM_TIME_FMT_HH_MM_SS, clock_text);
    const std::string entry = std::string(date) + " " + clock_text + "\n" + text + "\n";
    OS_FILE_write(fd, entry.data(), static_cast<int>(entry.size()));
    close(fd);
}

void OS_COMM_sigpipe_handler(int) {
    open_fd = -1;
    struct sigaction action {};
    action.sa_handler = OS_COMM_sigpipe_handler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

void OS_comm_sighandler(int) {
    const int fd = open_fd.exchange(-1);
    if (fd >= 0) close(fd);
}

}  // extern "C"
