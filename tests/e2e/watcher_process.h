// The watcher p_orvoebs run as a whole process in a temporary agent home, talking to the agent peer:
// start, wait for a line of its diagnostic log, signal, and wait for its exit status.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "agent_peer.h"
#include "testbed.h"

namespace e2e {

class WatcherProcessTest : public testbed::AgentHomeTest {
protected:
    void start_peer(const std::string& script = "") {
        agent_peer::Options options;
        options.script = script;
        peer = std::make_unique<agent_peer::Peer>(options);
        home.write_file("data/CONFIG.dat",
                        "PROTOCOL_VERSION 10\nLOGICAL_AGENT_NAME agt1\nDBGLVL 1\nUTTIMEOUT 5\n"
                        "COMMRETSLP 0\nORVSHOST 127.0.0.1\nUTCMNDATA " +
                            std::to_string(peer->port()) + "\n");
    }
    void TearDown() override {
        for (pid_t pid : started)
            if (kill(pid, 0) == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
    }
    // Starts the watcher with the arguments `args`, its standard output going to the file `output`
    // and its standard error to `errors` (to `output` as well when empty).
    pid_t start_watcher(const std::string& output = "/dev/null", const std::vector<std::string>& args = {},
                        const std::string& errors = "") {
        std::vector<char*> argv{const_cast<char*>("p_orvoebs")};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
            const int sink = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int error_sink = errors.empty() ? sink : open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(sink, 1);
            dup2(error_sink, 2);
            execv(APPBRIDGE_ORVOEBS, argv.data());
            _exit(127);
        }
        started.push_back(pid);
        return pid;
    }
    std::string log_of(pid_t pid) const {
        return testbed::strip_diag_times(
            testbed::read_whole_file(home.path() + "/proclog/orvoebs_" + std::to_string(pid) + ".log"));
    }
    // Waits up to `seconds` until the process's log holds `text`.
    bool wait_for_log(pid_t pid, const std::string& text, int seconds) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            if (log_of(pid).find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    // The exit status, or -1 when the process did not end normally within `seconds`.
    static int wait_exit(pid_t pid, int seconds) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    std::unique_ptr<agent_peer::Peer> peer;
    std::vector<pid_t> started;
    std::vector<std::pair<std::string, std::string>> environment;  // set in the watcher's process
};

}  // namespace e2e
