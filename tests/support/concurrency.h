// Running one piece of work at once on several threads of several processes, the way agent
// processes and their threads share work files.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace testbed {

// Runs work(process, thread) on `threads` threads in each of `processes` forked processes, all
// started before any of them ends. True when every call returned true and every process ended
// cleanly.
inline bool run_in_threads_and_processes(int processes, int threads, const std::function<bool(int, int)>& work) {
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t pid = fork();
        if (pid < 0) return false;
        if (pid == 0) {
            std::atomic<bool> ok{true};
            std::vector<std::thread> pool;
            for (int t = 0; t < threads; ++t)
                pool.emplace_back([&, t] {
                    if (!work(p, t)) ok = false;
                });
            for (std::thread& th : pool) th.join();
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    bool ok = true;
    for (pid_t pid : children) {
        int status = 0;
        ok = waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ok;
    }
    return ok;
}

}  // namespace testbed
