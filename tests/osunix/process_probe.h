// Helpers for the process-layer tests: parameter rows, recording programs, collecting orphans, waiting for files,
// checks that a test leaves no child behind, and bodies run in a forked child that reports back.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gm_param.h"
#include "testbed.h"

namespace process_probe {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Orphaned grandchildren of the test become its children, so the test collects them even where
// the system's first process does not.
inline void become_subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 1); }

// True when the process has no child at all, finished or running.
inline bool no_children_left() {
    errno = 0;
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

// Kills what is left of a process group and collects every child of the test.
inline void clean_up_group(pid_t pgid) {
    if (pgid > 1) kill(-pgid, SIGKILL);
    const auto start = Clock::now();
    while (seconds_since(start) < 5) {
        const pid_t done = waitpid(-1, nullptr, WNOHANG);
        if (done < 0) return;
        if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// A list of parameter rows (name, value) for a call that takes one, such as an action's attributes.
struct Rows {
    ZPALIST_handle_typ list = {};
    Rows(std::initializer_list<std::pair<const char*, std::string>> rows) {
        for (const auto& row : rows) GM_PARAM_list_append(&list, row.first, row.second.c_str());
    }
    ~Rows() { GM_PARAM_list_clear(&list); }
    Rows(const Rows&) = delete;
    Rows& operator=(const Rows&) = delete;
};

inline void write_program(const std::string& path, const std::string& body, mode_t mode = 0755) {
    testbed::write_whole_file(path, body);
    chmod(path.c_str(), mode);
}

// A shell program that writes its argument count and then each argument on a line of its own
// into <path>.args, and exits with the status in <path>.status (0 when that file is missing).
inline void write_recorder(const std::string& path) {
    write_program(path,
                  "#!/bin/sh\n"
                  "{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$0.args.tmp\"\n"
                  "mv \"$0.args.tmp\" \"$0.args\"\n"
                  "[ -f \"$0.status\" ] && exit \"$(cat \"$0.status\")\"\n"
                  "exit 0\n");
}

inline bool wait_for_file(const std::string& path, double seconds = 10) {
    const auto start = Clock::now();
    while (access(path.c_str(), F_OK) != 0) {
        if (seconds_since(start) > seconds) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The lines a recorder wrote: the count, then the arguments.
inline std::vector<std::string> recorded(const std::string& program) {
    std::vector<std::string> lines;
    if (!wait_for_file(program + ".args")) return lines;
    return testbed::lines_of(testbed::read_whole_file(program + ".args"));
}

// The disposition of a signal: its handler (SIG_DFL, SIG_IGN or a function).
inline void (*handler_of(int signal_number))(int) {
    struct sigaction current = {};
    sigaction(signal_number, nullptr, &current);
    return current.sa_handler;
}

// Writes one line back to the parent of a child started by in_child (safe to call just before
// the child ends with _exit: nothing is buffered).
inline void tell(int out, const std::string& line) {
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(out, text.data() + done, text.size() - done);
        if (wrote <= 0) return;
        done += static_cast<size_t>(wrote);
    }
}

struct ChildOutcome {
    pid_t pid = -1;
    bool exited = false;  // ended by itself within the limit
    int status = -1;      // exit status when exited
    int signal = 0;       // the killing signal otherwise
    double seconds = 0;   // from the fork to its end
    Clock::time_point ended;
    std::vector<std::string> lines;  // what it told, in order
};

// Runs body(out) in a forked child, which ends with _exit(0) unless the body ends it first. Each
// line the child tells reaches on_line(pid, line) as it comes. A child still running after
// limit_seconds is killed (and counts as not exited); it is always collected.
inline ChildOutcome in_child(const std::function<void(int out)>& body,
                             const std::function<void(pid_t, const std::string&)>& on_line = nullptr,
                             double limit_seconds = 60) {
    ChildOutcome outcome;
    int channel[2];
    if (pipe(channel) != 0) return outcome;
    std::fflush(nullptr);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        close(channel[0]);
        body(channel[1]);
        std::fflush(nullptr);
        _exit(0);
    }
    close(channel[1]);
    if (pid < 0) {
        close(channel[0]);
        return outcome;
    }
    outcome.pid = pid;
    std::string pending;
    bool open = true;
    while (open && seconds_since(start) < limit_seconds) {
        struct pollfd ready = {channel[0], POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t got = read(channel[0], buffer, sizeof buffer);
        if (got <= 0) {
            open = false;
            break;
        }
        pending.append(buffer, static_cast<size_t>(got));
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            outcome.lines.push_back(pending.substr(0, end));
            if (on_line) on_line(pid, outcome.lines.back());
        }
    }
    close(channel[0]);
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && seconds_since(start) < limit_seconds)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        outcome.signal = SIGKILL;
        return outcome;
    }
    outcome.ended = Clock::now();
    outcome.seconds = seconds_since(start);
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    return outcome;
}

}  // namespace process_probe
