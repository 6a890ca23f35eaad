// Command execution: fork-and-exec with and without a time-out and the codes it reports, shell
// commands fired off or waited for, and the temporary script names.
#include "os_cli.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "os_diag.h"
#include "os_file.h"
#include "process_probe.h"
#include "testbed.h"

namespace {

using process_probe::Clock;
using process_probe::seconds_since;

void on_sigchld(int) {}

class CommandTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        process_probe::become_subreaper();
        struct sigaction mine = {};
        mine.sa_handler = on_sigchld;
        sigemptyset(&mine.sa_mask);
        sigaction(SIGCHLD, &mine, nullptr);
        OS_DIAG_initialize(nullptr, "cli");
        DIAG_set_debug_level(4);
    }
    void TearDown() override {
        EXPECT_EQ(process_probe::handler_of(SIGCHLD), &on_sigchld);
        EXPECT_TRUE(process_probe::no_children_left());
    }
    std::string path(const std::string& relative) const { return home.path() + "/" + relative; }
    std::string script(const std::string& name, const std::string& body, mode_t mode = 0755) const {
        process_probe::write_program(path(name), "#!/bin/sh\n" + body + "\n", mode);
        return path(name);
    }
};

TEST_F(CommandTest, ForkAndExecReportsHowTheProgramEnded) {
    struct Case {
        const char* name;
        std::string body;
        mode_t mode;
        int rc;
        int exit_code;  // 77: untouched
        bool runs;
    } cases[] = {
        {"no_x", "echo ran > " + path("no_x.ran"), 0644, OS_CLI_NOT_EXECUTABLE, 77, false},
        {"exit3", "echo ran > " + path("exit3.ran") + "; exit 3", 0755, CM_RC_OK, 3, true},
        {"killed", "echo ran > " + path("killed.ran") + "; kill -9 $$", 0755, OS_CLI_KILLED, SIGKILL, true},
        {"stopped", "echo ran > " + path("stopped.ran") + "; kill -STOP $$", 0755, OS_CLI_STOPPED, SIGSTOP, true},
        {"args", "echo $# > " + path("args.ran"), 0755, CM_RC_OK, 0, true},
    };
    static CMDLINE_D_typ args[40];
    for (int i = 0; i < 40; ++i) std::snprintf(args[i], sizeof args[i], "arg %d", i);
    for (const bool timed : {false, true}) {
        for (const Case& c : cases) {
            const std::string program = script(c.name, c.body, c.mode);
            unlink((program + ".ran").c_str());
            int exit_code = 77;
            const int rc = timed ? OS_CLI_exec_wait_timeout(program.c_str(), args, 20, 40, &exit_code)
                                 : OS_CLI_exec_wait_rc(program.c_str(), args, 40, &exit_code);
            EXPECT_EQ(rc, c.rc) << c.name << (timed ? " timed" : "");
            EXPECT_EQ(exit_code, c.exit_code) << c.name;
            EXPECT_EQ(home.exists(std::string(c.name) + ".ran"), c.runs) << c.name;
        }
        EXPECT_EQ(home.read_file("args.ran"), "32\n");
        // The program exists and may be executed, but its interpreter does not.
        const std::string broken = path("broken");
        process_probe::write_program(broken, "#!/nonexistent\n");
        int exit_code = 77;
        EXPECT_EQ(timed ? OS_CLI_exec_wait_timeout(broken.c_str(), nullptr, 20, 3, &exit_code)
                        : OS_CLI_exec_wait_rc(broken.c_str(), nullptr, 3, &exit_code),
                  CM_RC_OK);
        EXPECT_EQ(exit_code, OS_CLI_EXEC_FAILED_STATUS);
    }
    int exit_code = 77;
    EXPECT_EQ(OS_CLI_exec_wait_rc(nullptr, nullptr, 0, &exit_code), OS_CLI_NOT_EXECUTABLE);
    EXPECT_EQ(OS_CLI_exec_wait_rc("", nullptr, 0, &exit_code), OS_CLI_NOT_EXECUTABLE);
    EXPECT_EQ(OS_CLI_exec_wait_rc((script("blank", "exit 4") + "   ").c_str(), nullptr, -1, nullptr), CM_RC_OK);
    EXPECT_EQ(exit_code, 77);
}

TEST_F(CommandTest, TimeOutKillsTheWholeGroupAndCollectsIt) {
    // The caller blocks SIGALRM: the call sees the expiry by itself.
    sigset_t alarm_set;
    sigemptyset(&alarm_set);
    sigaddset(&alarm_set, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm_set, nullptr);

    const std::string quick = script("quick", "echo $$ > " + path("quick.pid") + "; sleep 30 & sleep 30");
    int exit_code = 77;
    auto start = Clock::now();
    EXPECT_EQ(OS_CLI_exec_wait_timeout(quick.c_str(), nullptr, 1, 0, &exit_code), OS_CLI_TIMED_OUT);
    EXPECT_LT(seconds_since(start), 4.0);  // neither the 30 seconds nor the 6 of a stubborn group
    EXPECT_EQ(exit_code, 77);
    const pid_t group = static_cast<pid_t>(std::atol(home.read_file("quick.pid").c_str()));
    ASSERT_GT(group, 1);
    EXPECT_EQ(kill(-group, 0), -1);
    EXPECT_TRUE(process_probe::no_children_left());

    // A program that ignores SIGTERM is killed once the group kill gives up on it.
    const std::string stubborn = script("stubborn", "trap '' TERM; sleep 30 & sleep 30");
    start = Clock::now();
    EXPECT_EQ(OS_CLI_exec_wait_timeout(stubborn.c_str(), nullptr, 1, 0, &exit_code), OS_CLI_TIMED_OUT);
    EXPECT_GT(seconds_since(start), 5.5);
    EXPECT_LT(seconds_since(start), 9.0);
    EXPECT_EQ(exit_code, 77);

    // A program done in time is reported as usual.
    const std::string fast = script("fast", "sleep 0.2; exit 5");
    EXPECT_EQ(OS_CLI_exec_wait_timeout(fast.c_str(), nullptr, 5, 0, &exit_code), CM_RC_OK);
    EXPECT_EQ(exit_code, 5);
    pthread_sigmask(SIG_UNBLOCK, &alarm_set, nullptr);
}

TEST_F(CommandTest, OneCallAtATimeEachWithItsOwnChild) {
    const std::string slow = script("slow", "sleep 0.3; exit 5");
    const std::string quick = script("quick", "exit 6");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 3; ++i) {
                int exit_code = 0;
                const bool odd = t % 2;
                const int rc = odd ? OS_CLI_exec_wait_timeout(slow.c_str(), nullptr, 10, 0, &exit_code)
                                   : OS_CLI_exec_wait_rc(quick.c_str(), nullptr, 0, &exit_code);
                if (rc != CM_RC_OK || exit_code != (odd ? 5 : 6)) ++wrong;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
}

TEST_F(CommandTest, ShellCommandsFiredOffOrWaitedFor) {
    struct Case {
        const char* command;
        CM_RC waited;
    } cases[] = {
        {"true", CM_RC_OK}, {"exit 1", CM_RC_FAIL}, {"kill -9 $$", CM_RC_FAIL},  // ended by a signal: no success
        {"", CM_RC_FAIL},   {nullptr, CM_RC_FAIL},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OS_CLI_exec_wait(c.command, "node"), c.waited) << (c.command ? c.command : "(null)");

    EXPECT_EQ(OS_CLI_exec_nowait("", "node"), CM_RC_FAIL);
    EXPECT_EQ(OS_CLI_exec_nowait(nullptr, "node"), CM_RC_FAIL);
    const auto start = Clock::now();
    EXPECT_EQ(OS_CLI_exec_nowait(("sleep 2 && touch " + path("fired")).c_str(), "node"), CM_RC_OK);
    EXPECT_LT(seconds_since(start), 1.5);
    EXPECT_TRUE(process_probe::wait_for_file(path("fired")));
    process_probe::clean_up_group(-1);  // the fired command was orphaned to this process
}

TEST(CommandNames, TemporaryScriptNamesAndFixedTexts) {
    PATHNAME_D_typ full = "", last = "";
    EXPECT_EQ(OS_CLI_get_tmp_script(4711, 3, full, last), CM_RC_OK);
    EXPECT_STREQ(full, "/tmp/CMD.4711_3");
    EXPECT_STREQ(last, "CMD.4711_3");
    EXPECT_EQ(access(full, F_OK), -1);  // nothing is created
    EXPECT_STREQ(OS_CLI_get_def_tmp_dir(), "/tmp/orv");
    EXPECT_STREQ(OS_CLI_sharch(), "Linux");
}

}  // namespace
