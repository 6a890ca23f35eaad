// Helpers for the process-layer tests: recording programs, collecting orphans, waiting for files,
// and checks that a test leaves no child behind.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

}  // namespace process_probe
