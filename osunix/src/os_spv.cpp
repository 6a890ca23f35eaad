/* Process supervision: liveness tests and signals by process-id text, group kills that wait for
 * the group to go, detached starts of the agent's programs, argument vectors run to their end
 * (also through the switch-user program) and commands handed to the at scheduler. Also owns the
 * process layer's shared helpers (shell words, the SIGCHLD guard, the child's starting state). */
#include "os_spv.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gm_param.h"
#include "os_diag.h"
#include "os_file_nofollow.h"
#include "os_fork_internal.h"
#include "os_misc.h"
#include "os_proc.h"
#include "os_spv_internal.h"

namespace os_spv {

std::optional<pid_t> parse_id(const char* text) {
    if (!text) return std::nullopt;
    const char* c = text;
    while (*c == ' ' || *c == '\t') ++c;
    long long value = 0;
    const char* digits = c;
    while (*c >= '0' && *c <= '9') {
        value = value * 10 + (*c - '0');
        if (value > INT_MAX) return std::nullopt;
        ++c;
    }
    if (c == digits) return std::nullopt;
    while (*c == ' ' || *c == '\t' || *c == '\n' || *c == '\r') ++c;
    if (*c) return std::nullopt;
    return static_cast<pid_t>(value);
}

std::string unpad(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    return text;
}

std::string trimmed(const char* text) {
    std::string value(text ? text : "");
    const size_t first = value.find_first_not_of(" \t");
    return first == std::string::npos ? "" : unpad(value.substr(first));
}

std::string shell_quote(std::string_view word) {
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string shell_words(std::string_view text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        const size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
        if (i == start) break;
        if (!out.empty()) out += ' ';
        out += shell_quote(text.substr(start, i - start));
    }
    return out;
}

namespace {

std::mutex sigchld_mutex;
[[maybe_unused]] const bool sigchld_fork_safe = os_fork::hold_across_fork(os_fork::Rank::sigchld, sigchld_mutex);
int sigchld_users = 0;
struct sigaction sigchld_found = {};

}  // namespace

SigchldDefault::SigchldDefault() {
    std::lock_guard<std::mutex> lock(sigchld_mutex);
    if (sigchld_users++ > 0) return;
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(SIGCHLD, &dfl, &sigchld_found);
}

SigchldDefault::~SigchldDefault() {
    std::lock_guard<std::mutex> lock(sigchld_mutex);
    if (--sigchld_users == 0) sigaction(SIGCHLD, &sigchld_found, nullptr);
}

void reset_child_signals() {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGCHLD, SIG_DFL);
}

bool write_all(int fd, std::string_view text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void close_fds_except(int keep) {
    for (int fd = 3; fd <= 255; ++fd)
        if (fd != keep) close(fd);
}

pid_t wait_child(pid_t pid, int* status, int options) {
    pid_t done;
    do {
        done = waitpid(pid, status, options);
    } while (done < 0 && errno == EINTR);
    return done;
}

std::optional<int> run_capture(const std::vector<std::string>& argv, bool with_stderr, std::string& output,
                               const std::optional<Identity>& as) {
    output.clear();
    if (argv.empty()) return std::nullopt;
    std::vector<std::string> texts = argv;
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
    SigchldDefault sigchld;
    const pid_t pid = fork();
    if (pid < 0) {
        const int err = errno;
        close(ends[0]);
        close(ends[1]);
        errno = err;
        return std::nullopt;
    }
    if (pid == 0) {
        reset_child_signals();
        dup2(ends[1], STDOUT_FILENO);
        if (with_stderr) dup2(ends[1], STDERR_FILENO);
        // The group first, while the rights to change it are still there.
        if (as && (setgroups(1, &as->gid) != 0 || setgid(as->gid) != 0 || setuid(as->uid) != 0)) _exit(127);
        execvp(pointers[0], pointers.data());
        _exit(127);
    }
    close(ends[1]);
    char piece[4096];
    for (;;) {
        const ssize_t n = read(ends[0], piece, sizeof piece);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output.append(piece, static_cast<size_t>(n));
    }
    close(ends[0]);
    int status = 0;
    if (wait_child(pid, &status, 0) < 0) return std::nullopt;
    return status;
}

}  // namespace os_spv

namespace {

using os_spv::parse_id;
using os_spv::trimmed;
using os_spv::unpad;

constexpr int kGroupTests = 50;
constexpr auto kGroupTestPause = std::chrono::milliseconds(100);
constexpr size_t kPathMax = 4096;
constexpr char kAtScript[] = "/tmp/AT_SCRIPT.%ld";
constexpr char kAtTimeCharacters[] = " :+-./,";

// The CONFIG value AGENT_DIR without trailing blanks; "" when absent or empty.
std::string agent_dir() {
    GM_PARAM_VALUE_typ value = "";
    if (GM_PARAM_get("CONFIG", "AGENT_DIR", value) != CM_RC_OK) return "";
    return unpad(value);
}

std::string with_slash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

// A single process, never process 1 (the system's first) nor what 0 and -1 would reach (the
// caller's group, every process it may signal).
CM_RC send_signal(const char* fn, const char* proc_id, int signal_number) {
    const std::optional<pid_t> pid = parse_id(proc_id);
    if (!pid || *pid < 2) {
        DIAG_TRACE(4, "%s: invalid procid %s", fn, proc_id ? proc_id : "(null)");
        return CM_RC_FAIL;
    }
    if (kill(*pid, signal_number) != 0) {
        OS_MISC_sys_err(fn, "kill");
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

// The whole text of a submission time is made of letters, digits, blanks and ":+-./,".
bool valid_at_time(const char* text) {
    if (!text || !*text) return false;
    for (const char* c = text; *c; ++c)
        if (!std::isalnum(static_cast<unsigned char>(*c)) && !std::strchr(kAtTimeCharacters, *c)) return false;
    return true;
}

}  // namespace

extern "C" {

CM_RC OS_SPV_check(const char*, const char*, const char* proc_id) {
    static const char* const fn = "OS_SPV_check";
    const std::optional<pid_t> pid = parse_id(proc_id);
    if (!pid || *pid < 1) {
        DIAG_TRACE(4, "%s: non-numeric procid %s", fn, proc_id ? proc_id : "(null)");
        return CM_RC_LOCK_FREE;
    }
    // A finished child of the caller with this id is collected, so that it is not taken for alive.
    waitpid(*pid, nullptr, WNOHANG);
    if (kill(*pid, 0) == 0) {
        DIAG_TRACE(4, "%s: process '%s' exists", fn, proc_id);
        return CM_RC_LOCK_HELD;
    }
    if (errno == ESRCH) {
        DIAG_TRACE(4, "%s: process '%s' doesn't exist", fn, proc_id);
        return CM_RC_LOCK_FREE;
    }
    if (errno == EPERM) {
        DIAG_TRACE(4, "%s: Not privileged to signal process '%s'", fn, proc_id);
        return CM_RC_NOT_PERMITTED;
    }
    OS_MISC_sys_err(fn, "kill");
    return CM_RC_FAIL;
}

CM_RC OS_SPV_get_selfid(char* output) {
    if (!output) return CM_RC_FAIL;
    std::snprintf(output, OS_SPV_PROCID_ROOM, "%ld", static_cast<long>(getpid()));
    return CM_RC_OK;
}

CM_RC OS_SPV_kill(const char*, const char*, const char* proc_id) {
    return send_signal("OS_SPV_kill", proc_id, SIGTERM);
}

CM_RC OS_SPV_kill_minus_9(const char*, const char*, const char* proc_id) {
    return send_signal("OS_SPV_kill_minus_9", proc_id, SIGKILL);
}

CM_RC OS_SPV_kill_process_group(const char*, const char*, const char* proc_id, CM_boolean brutal_kill, int* errno_id) {
    static const char* const fn = "OS_SPV_kill_process_group";
    const std::optional<pid_t> pgid = parse_id(proc_id);
    // Group 1 would become kill(-1): every process the caller may signal.
    if (!pgid || *pgid < 2) errno = EINVAL;
    if (!pgid || *pgid < 2 || kill(-*pgid, brutal_kill ? SIGKILL : SIGTERM) != 0) {
        if (errno_id) *errno_id = errno;
        OS_MISC_sys_err(fn, "Failed to kill process group");
        return CM_RC_FAIL;
    }
    for (int test = 1; test <= kGroupTests; ++test) {
        std::this_thread::sleep_for(kGroupTestPause);
        // The caller's own finished children of the group answer signal 0 until collected.
        while (waitpid(-*pgid, nullptr, WNOHANG) > 0) {
        }
        if (kill(-*pgid, 0) != 0 && errno == ESRCH) {
            DIAG_TRACE(4, "%s: Process %s was killed successfully", fn, proc_id);
            return CM_RC_OK;
        }
        if (test >= 2)
            DIAG_TRACE(4, "%s: Process %s is still alive after %d.%d seconds", fn, proc_id, test / 10, test % 10);
    }
    DIAG_TRACE(4, "%s: Process %s is still alive after %d seconds. aborting", fn, proc_id, 5);
    return CM_RC_LOCK_HELD;
}

void close_all_fds(void) { os_spv::close_fds_except(-1); }

CM_RC OS_SPV_run_params(const char* path, const char*, const char*, PARAMNUMBER_D_typ param_count, char** params,
                        char* proc_id, int write_pid_file) {
    static const char* const fn = "OS_SPV_run_params";
    if (!path) return CM_RC_FAIL;
    std::string program = unpad(std::string(path).substr(0, kPathMax));
    if (access(program.c_str(), X_OK) != 0) {
        OS_MISC_sys_err(fn, "access");
        return CM_RC_FAIL;
    }
    std::vector<char*> argv{program.data()};
    for (int i = 0; params && i < param_count && argv.size() <= OS_SPV_MAX_PARAMS; ++i)
        if (params[i]) argv.push_back(params[i]);
    argv.push_back(nullptr);

    // The child reports a failed exec through a pipe that the exec itself closes.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        OS_MISC_sys_err(fn, "pipe");
        return CM_RC_FAIL;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        OS_MISC_sys_err(fn, "fork");
        close(report[0]);
        close(report[1]);
        return CM_RC_FAIL;
    }
    if (pid == 0) {
        close(report[0]);
        os_spv::reset_child_signals();
        os_spv::close_fds_except(report[1]);
        execv(argv[0], argv.data());
        const int err = errno;
        OS_MISC_sys_err(fn, "execv");
        [[maybe_unused]] const ssize_t sent = write(report[1], &err, sizeof err);
        _exit(1);
    }
    close(report[1]);
    int exec_errno = 0;
    ssize_t got;
    do {
        got = read(report[0], &exec_errno, sizeof exec_errno);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof exec_errno)) {
        os_spv::wait_child(pid, nullptr, 0);
        DIAG_ERROR("%s: '%s' could not be started: %s", fn, program.c_str(), std::strerror(exec_errno));
        return CM_RC_FAIL;
    }
    DIAG_TRACE(4, "%s: fork OK, pid = %ld", fn, static_cast<long>(pid));
    if (write_pid_file && OS_SPV_write_pid_to_dir(program.c_str(), pid, 1) != CM_RC_OK)
        DIAG_ERROR("%s: OS_SPV_write_pid_to_dir failed.", fn);
    if (proc_id) std::snprintf(proc_id, OS_SPV_PROCID_ROOM, "%ld", static_cast<long>(pid));
    return CM_RC_OK;
}

CM_RC OS_SPV_run(const char* proc_code, const char* application, char* proc_id) {
    static const char* const fn = "OS_SPV_run";
    const std::string dir = agent_dir();
    if (dir.empty()) {
        DIAG_ERROR("%s: Failed to get agent directory from configuration", fn);
        return CM_RC_FAIL;
    }
    if (!proc_code || !application) return CM_RC_FAIL;
    std::string name = std::string(application) + proc_code;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string program = with_slash(dir) + "exe/p_" + name;
    DIAG_TRACE(4, "%s: about to execute %s", fn, program.c_str());
    return OS_SPV_run_params(program.c_str(), application, proc_code, 0, nullptr, proc_id, 1);
}

CM_RC OS_SPV_run_params_at_time(const char* directory, const char*, const char* program, const char* at_time,
                                PARAMNUMBER_D_typ param_count, PARAM_D_typ* params) {
    static const char* const fn = "OS_SPV_run_params_at_time";
    if (!directory || !program || !valid_at_time(at_time)) {
        DIAG_ERROR("%s: invalid submission time '%s'", fn, at_time ? at_time : "(null)");
        return CM_RC_FAIL;
    }
    std::string cmdline = trimmed(directory) + "/" + trimmed(program);
    for (int i = 0; params && i < param_count; ++i) cmdline.append(" ").append(trimmed(params[i]));
    // The command goes into a here-document: a line end in it would end the document early.
    if (cmdline.size() > OS_SPV_AT_CMDLINE_MAX || cmdline.find_first_of("\r\n") != std::string::npos) {
        DIAG_ERROR("%s: command line refused (longer than %d characters or holding a line end)", fn,
                   OS_SPV_AT_CMDLINE_MAX);
        return CM_RC_FAIL;
    }
    char script[64];
    std::snprintf(script, sizeof script, kAtScript, static_cast<long>(getpid()));
    const std::string text =
        std::string("at ") + at_time + " <<'EOF_EOF'\n" + os_spv::shell_words(cmdline) + "\nEOF_EOF\n";
    if (!os_file::write_fresh(script, text, 0700)) {
        DIAG_ERROR("Error while creating file.");
        return CM_RC_FAIL;
    }
    DIAG_TRACE(3, "Submitting job '%s' at '%s'", cmdline.c_str(), at_time);
    char shell[] = "/bin/sh";
    char* argv[] = {shell, script, nullptr};
    return OS_SPV_run_cmd(argv, -1) == 0 ? CM_RC_OK : CM_RC_FAIL;
}

int OS_SPV_run_cmd(char** cmd, int private_data_index) {
    static const char* const fn = "OS_SPV_run_cmd";
    if (!cmd || !cmd[0]) return -1;
    for (int i = 0; cmd[i]; ++i) {
        if (i == private_data_index)
            DIAG_TRACE(4, "%s: cmd[%d] - ( Private Data )", fn, i);
        else
            DIAG_TRACE(4, "%s: cmd[%d] - ( %s )", fn, i, cmd[i]);
    }
    os_spv::SigchldDefault sigchld;
    const pid_t pid = fork();
    if (pid < 0) {
        DIAG_ERROR("Failed to fork. errno: %d", errno);
        return -1;
    }
    if (pid == 0) {
        os_spv::reset_child_signals();
        execv(cmd[0], cmd);
        const int err = errno;
        DIAG_ERROR("execv : %s[%d], exit_status=%d", std::strerror(err), err, err);
        _exit(err);
    }
    int status = 0;
    if (os_spv::wait_child(pid, &status, 0) < 0) {
        DIAG_ERROR("%s : waitpid : %s", fn, std::strerror(errno));
        return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return WTERMSIG(status);
    if (WIFSTOPPED(status)) return WSTOPSIG(status);
    return -1;
}

CM_RC OS_SPV_run_non_root_cmd(const char* owner, const char* password, const char* cmdline) {
    static const char* const fn = "OS_SPV_run_non_root_cmd";
    const std::string dir = agent_dir();
    if (dir.empty()) {
        DIAG_ERROR("Failed to get %s configuration parameter", "AGENT_DIR");
        return CM_RC_FAIL;
    }
    if (!owner || !password || !cmdline) return CM_RC_FAIL;
    GM_PARAM_VALUE_typ pam = "";
    const bool pam_off = GM_PARAM_get("OS", "ENABLE_PAM", pam) == CM_RC_OK && std::strcmp(pam, "N") == 0;

    std::string su = with_slash(dir) + "exe/vault/su_qel";
    std::string dash = "-", user = owner, secret = password, c_option = "-c", command = cmdline, zero = "0";
    std::string use_pam = pam_off ? "N" : "Y";
    char* argv[] = {su.data(),      dash.data(), user.data(),    secret.data(), c_option.data(),
                    command.data(), zero.data(), use_pam.data(), nullptr};
    const int rc = OS_SPV_run_cmd(argv, 3);
    DIAG_TRACE(4, "%s: rc - '%d'", fn, rc);
    return rc == 0 ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_SPV_get_params(int* count, PARAM_D_typ* params) {
    if (!count || !params) return CM_RC_FAIL;
    int filled = 0;
    while (filled < OS_SPV_MAX_PARAMS && OS_PROC_get_arg(filled, params[filled]) == CM_RC_OK) ++filled;
    *count = filled;
    return CM_RC_OK;
}

}  // extern "C"
