/* Command execution: shell commands, fork-and-exec of an argument vector waited for with or
 * without a time-out, and the command layer's temporary scripts. Owns the process-wide state of
 * the fork-and-exec call in progress (one at a time) and the alarm flag. */
#include "os_cli.h"
#include "os_cli_internal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gm_time.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_file_nofollow.h"
#include "os_fork_internal.h"
#include "os_spv.h"
#include "os_spv_internal.h"

namespace {

constexpr char kTmpDir[] = "/tmp/orv";
constexpr char kShell[] = "/bin/sh";
constexpr int kCollectTries = 5;
constexpr int kExecFailedExit = -4;

// One fork-and-exec call at a time: the call holds this lock across its fork, so the child only
// gets a fresh one.
std::mutex cli_mutex;
[[maybe_unused]] const bool cli_fork_safe = os_fork::renew_in_child(cli_mutex);

volatile sig_atomic_t alarm_fired = 0;

using Clock = std::chrono::steady_clock;

// Runs /bin/sh -c text and waits: the exit status, the signal that ended it, or -1.
int run_shell(const std::string& text) {
    std::string shell = kShell, option = "-c", command = text;
    char* argv[] = {shell.data(), option.data(), command.data(), nullptr};
    return OS_SPV_run_cmd(argv, -1);
}

// The program path, then its argument texts, then a null.
struct ArgumentVector {
    std::vector<std::string> texts;
    std::vector<char*> pointers;

    // The path without trailing blanks and up to 32 texts of an argument array.
    ArgumentVector(const std::string& path, CMDLINE_D_typ* args, int count) {
        texts.push_back(path);
        for (int i = 0; args && i < count && i < OS_CLI_MAX_ARGS; ++i)
            texts.emplace_back(args[i], strnlen(args[i], sizeof(CMDLINE_D_typ) - 1));
        point();
    }
    explicit ArgumentVector(const std::vector<std::string>& argv) : texts(argv) { point(); }

private:
    void point() {
        for (std::string& text : texts) pointers.push_back(text.data());
        pointers.push_back(nullptr);
    }
};

// A descriptor moved above standard error, so that placing one stream cannot close another.
int above_standard_streams(int fd) { return fd < 0 || fd > STDERR_FILENO ? fd : fcntl(fd, F_DUPFD_CLOEXEC, 3); }

[[noreturn]] void exec_child(const char* fn, ArgumentVector& vector, const os_cli::Streams& streams) {
    os_spv::reset_child_signals();
    if (setpgid(0, 0) != 0) DIAG_ERROR("%s: Failed in setpgid %d", fn, errno);
    const int null_fd = above_standard_streams(open("/dev/null", O_WRONLY | O_CLOEXEC));
    const int input = above_standard_streams(streams.input);
    const int output = above_standard_streams(streams.output >= 0 ? streams.output : null_fd);
    const int error = above_standard_streams(streams.error >= 0 ? streams.error : null_fd);
    if (input >= 0) dup2(input, STDIN_FILENO);
    if (output >= 0) dup2(output, STDOUT_FILENO);
    if (error >= 0) dup2(error, STDERR_FILENO);
    execvp(vector.pointers[0], vector.pointers.data());
    const int err = errno;
    DIAG_ERROR("%s: ERROR: execvp failed, rc: %d, error: '%s'", fn, -1, std::strerror(err));
    _exit(kExecFailedExit & 0xff);
}

int decode(pid_t pid, int status, int* exit_code) {
    int rc = OS_CLI_NO_STATUS, code = OS_CLI_NO_STATUS;
    if (WIFEXITED(status)) {
        rc = CM_RC_OK;
        code = WEXITSTATUS(status);
        DIAG_TRACE(4, "WEXITSTATUS = %d", code);
    } else if (WIFSIGNALED(status)) {
        rc = OS_CLI_KILLED;
        code = WTERMSIG(status);
        DIAG_TRACE(4, "WTERMSIG = %d", code);
    } else if (WIFSTOPPED(status)) {
        rc = OS_CLI_STOPPED;
        code = WSTOPSIG(status);
        DIAG_TRACE(4, "WSTOPSIG = %d", code);
        // Nobody else knows this child: it is not left stopped for ever.
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        os_spv::wait_child(pid, nullptr, 0);
    }
    if (exit_code) *exit_code = code;
    return rc;
}

// The time-out expired: the child's group is asked to end, killed when it does not, and the
// child collected (it may already have been, by the group kill).
void end_timed_out_child(const char* fn, pid_t pid) {
    DIAG_TRACE(4, "%s: child signaled by alarm", fn);
    const std::string id = std::to_string(pid);
    int err = 0;
    CM_RC rc = OS_SPV_kill_process_group("", "", id.c_str(), 0, &err);
    if (rc == CM_RC_LOCK_HELD) rc = OS_SPV_kill_process_group("", "", id.c_str(), 1, &err);
    if (rc == CM_RC_OK)
        DIAG_TRACE(4, "%s: Process (id %d) was killed after Timeout Period", fn, static_cast<int>(pid));
    else
        DIAG_ERROR("%s: Process (%s) was not terminated", fn, id.c_str());
    for (int attempt = 0; attempt < kCollectTries; ++attempt) {
        const pid_t done = os_spv::wait_child(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD)) return;
        DIAG_TRACE(4, "%s: Checking for zombie", fn);
        OS_TIME_sleep(1);
    }
}

// The program path without trailing blanks, or "" when it is not executable.
std::string executable_path(const char* fn, const char* fullpath) {
    DIAG_TRACE(3, ">>> %s, executing '%s'", fn, fullpath ? fullpath : "");
    std::string path = fullpath ? fullpath : "";
    while (!path.empty() && (path.back() == ' ' || path.back() == '\t')) path.pop_back();
    if (path.empty() || access(path.c_str(), X_OK) != 0) return "";
    return path;
}

int run_vector(const char* fn, ArgumentVector& vector, int timeout, const os_cli::Streams& streams, int* p_exit_code) {
    std::lock_guard<std::mutex> one_call(cli_mutex);
    const bool timed = timeout > 0;
    if (timed) {
        struct sigaction action = {};
        action.sa_handler = Sig_Alrm;
        sigemptyset(&action.sa_mask);
        if (sigaction(SIGALRM, &action, nullptr) != 0) {
            DIAG_ERROR("%s: ERROR: Failed to set alarm signal", fn);
            return OS_CLI_FORK_FAILED;
        }
    }
    os_spv::SigchldDefault sigchld;
    const pid_t pid = fork();
    // The child goes straight to its exec: nothing on its way allocates (a lock of the memory
    // allocator held by another thread at the fork would stop it).
    if (pid == 0) exec_child(fn, vector, streams);
    DIAG_TRACE(4, "%s: %s - fork return: %d. errno: %d", fn, "parent", static_cast<int>(pid), pid < 0 ? errno : 0);
    if (pid < 0) {
        DIAG_ERROR("%s: ERROR: fork failed", fn);
        return OS_CLI_FORK_FAILED;
    }
    setpgid(pid, pid);  // also from this side, so that a time-out never finds the group missing

    int status = 0;
    int rc;
    if (!timed) {
        if (os_spv::wait_child(pid, &status, WUNTRACED) < 0) {
            DIAG_ERROR("%s : waitpid : %s", fn, std::strerror(errno));
            if (p_exit_code) *p_exit_code = OS_CLI_NO_STATUS;
            return OS_CLI_NO_STATUS;
        }
        rc = decode(pid, status, p_exit_code);
    } else {
        alarm(0);
        alarm_fired = 0;
        alarm(static_cast<unsigned>(timeout));
        // The expiry is seen here, whichever thread the alarm reached (if any did).
        const auto deadline = Clock::now() + std::chrono::seconds(timeout);
        auto pause = std::chrono::milliseconds(5);
        for (;;) {
            const pid_t done = os_spv::wait_child(pid, &status, WUNTRACED | WNOHANG);
            if (done == pid) {
                alarm(0);
                rc = decode(pid, status, p_exit_code);
                break;
            }
            if (done < 0) {
                alarm(0);
                DIAG_ERROR("%s : waitpid : %s", fn, std::strerror(errno));
                if (p_exit_code) *p_exit_code = OS_CLI_NO_STATUS;
                return OS_CLI_NO_STATUS;
            }
            if (alarm_fired || Clock::now() >= deadline) {
                end_timed_out_child(fn, pid);
                alarm(0);
                rc = OS_CLI_TIMED_OUT;
                break;
            }
            std::this_thread::sleep_for(pause);
            if (pause < std::chrono::milliseconds(100)) pause *= 2;
        }
    }
    DIAG_TRACE(3, "<<< %s, rc = %d, p_exit_code = %d", fn, rc, p_exit_code ? *p_exit_code : 0);
    return rc;
}

int run_program(const char* fn, const char* fullpath, CMDLINE_D_typ* p_cmd, int timeout, int param_num,
                int* p_exit_code) {
    const std::string path = executable_path(fn, fullpath);
    if (path.empty()) return OS_CLI_NOT_EXECUTABLE;
    ArgumentVector vector(path, p_cmd, param_num);
    return run_vector(fn, vector, timeout, {}, p_exit_code);
}

// /tmp/orv as a directory of its own: made when missing; one that is a link, no directory, or
// open to others' writes is not used.
bool prepare_tmp_dir(const char* fn) {
    struct stat status;
    if (lstat(kTmpDir, &status) != 0) {
        DIAG_TRACE(4, "%s: creating %s", fn, kTmpDir);
        // Owner and mode go to the folder made here only, never through a name taken meanwhile.
        if (!os_file::make_dir(kTmpDir, 0755, 0) && errno != EEXIST) return false;
        if (lstat(kTmpDir, &status) != 0) return false;
    }
    const bool owned = status.st_uid == geteuid() || status.st_uid == 0;
    if (!S_ISDIR(status.st_mode) || !owned || (status.st_mode & (S_IWGRP | S_IWOTH))) {
        DIAG_ERROR("%s: %s is not a directory of this user's", fn, kTmpDir);
        return false;
    }
    return true;
}

}  // namespace

namespace os_cli {

int run_with_streams(const char* fn, const std::vector<std::string>& argv, int timeout, const Streams& streams,
                     int* exit_code) {
    if (argv.empty() || executable_path(fn, argv[0].c_str()) != argv[0]) return OS_CLI_NOT_EXECUTABLE;
    ArgumentVector vector(argv);
    return run_vector(fn, vector, timeout, streams, exit_code);
}

}  // namespace os_cli

extern "C" {

void Sig_Alrm(int) { alarm_fired = 1; }

CM_RC OS_CLI_exec_nowait(const char* command, const char*) {
    if (!command || !*command) return CM_RC_FAIL;
    DIAG_TRACE(4, "%s: cmdl = %s\n", "OS_CLI_exec_nowait", command);
    run_shell(std::string(command) + " &");
    return CM_RC_OK;
}

CM_RC OS_CLI_exec_wait(const char* command, const char*) {
    if (!command || !*command) return CM_RC_FAIL;
    // A shell ended by a signal has no exit status of 0: it failed.
    return run_shell(command) == 0 ? CM_RC_OK : CM_RC_FAIL;
}

int OS_CLI_exec_wait_timeout(const char* fullpath, CMDLINE_D_typ* p_cmd, int timeout, int param_num, int* p_exit_code) {
    return run_program("OS_CLI_exec_wait_timeout", fullpath, p_cmd, timeout, param_num, p_exit_code);
}

int OS_CLI_exec_wait_rc(const char* fullpath, CMDLINE_D_typ* p_cmd, int param_num, int* p_exit_code) {
    return run_program("OS_CLI_exec_wait_rc", fullpath, p_cmd, 0, param_num, p_exit_code);
}

CM_RC OS_CLI_create_tmp_script(MAXLIMIT_D_typ p_orderno, const char* p_cmdline, char* p_dir, char* p_script_nm) {
    static const char* const fn = "OS_CLI_create_tmp_script";
    if (!p_cmdline) return CM_RC_FAIL;
    const std::string name = "CMD." + std::to_string(p_orderno);
    const std::string file = std::string(kTmpDir) + "/" + name;
    if (!prepare_tmp_dir(fn)) return CM_RC_FAIL;
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0755);
    if (fd < 0) {
        DIAG_ERROR("%s: fopen error %s", fn, file.c_str());
        return CM_RC_FAIL;
    }
    const std::string text = std::string("#!/bin/sh\n") + p_cmdline + "\n";
    bool ok = fchmod(fd, 0755) == 0 && os_spv::write_all(fd, text);
    if (close(fd) != 0) ok = false;
    if (!ok) {
        DIAG_ERROR("%s: Write to file failed. errno=%d", fn, errno);
        unlink(file.c_str());
        return CM_RC_FAIL;
    }
    if (p_dir) std::snprintf(p_dir, sizeof(PATHNAME_D_typ), "%s", kTmpDir);
    if (p_script_nm) std::snprintf(p_script_nm, sizeof(PATHNAME_D_typ), "%s", name.c_str());
    return CM_RC_OK;
}

CM_RC OS_CLI_get_tmp_script(MAXLIMIT_D_typ order_no, int run_no, char* o_full_script_nm, char* o_last_script_nm) {
    char name[64];
    std::snprintf(name, sizeof name, "CMD.%ld_%d", order_no, run_no);
    if (o_last_script_nm) std::snprintf(o_last_script_nm, sizeof(PATHNAME_D_typ), "%s", name);
    if (o_full_script_nm) std::snprintf(o_full_script_nm, sizeof(PATHNAME_D_typ), "%s/%s", "/tmp", name);
    return CM_RC_OK;
}

const char* OS_CLI_get_def_tmp_dir(void) { return kTmpDir; }

const char* OS_CLI_sharch(void) { return "Linux"; }

}  // extern "C"
