// Process supervision: liveness tests and signals by id text, group kills, detached starts with
// pid files, argument vectors run to their end (also through the switch-user program), and the
// locks a forked child relies on.
#include "os_spv.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "file_probe.h"
#include "gm_param.h"
#include "joined.h"
#include "os_diag.h"
#include "os_file.h"
#include "process_probe.h"
#include "testbed.h"

namespace {

using process_probe::Clock;
using process_probe::seconds_since;

// A user id with no account and no process, so that a signal sent as that user can reach nothing
// but the sender itself.
constexpr uid_t kLoneUid = 61999;

// Runs /bin/sh -c script as the leader of a new process group; returns its id.
pid_t start_group(const char* script) {
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        execl("/bin/sh", "sh", "-c", script, static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(pid, pid);
    return pid;
}

std::string id_text(pid_t pid) { return std::to_string(pid); }

// Waits up to `seconds` for a child; its status, or -1 when it did not end.
int wait_exit(pid_t pid, double seconds) {
    const auto start = Clock::now();
    int status = 0;
    while (seconds_since(start) < seconds) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return status;
        if (done < 0) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

TEST(SupervisionCheck, ProcessIdTextsTheirLifeAndPrivilege) {
    struct Case {
        const char* id;
        CM_RC rc;
    } cases[] = {
        {"abc", CM_RC_LOCK_FREE},         {"0", CM_RC_LOCK_FREE}, {"-1", CM_RC_LOCK_FREE},
        {" 12x", CM_RC_LOCK_FREE},        {"", CM_RC_LOCK_FREE},  {nullptr, CM_RC_LOCK_FREE},
        {"99999999999", CM_RC_LOCK_FREE},
    };
    for (const Case& c : cases) EXPECT_EQ(OS_SPV_check("job", "user", c.id), c.rc) << (c.id ? c.id : "(null)");
    EXPECT_EQ(OS_SPV_check("", "", id_text(getpid()).c_str()), CM_RC_LOCK_HELD);
    EXPECT_EQ(OS_SPV_check("", "", testbed::joined(" ", id_text(getpid()), "\n").c_str()), CM_RC_LOCK_HELD);

    // A finished child is not alive: it is collected and reported as gone.
    const pid_t child = fork();
    if (child == 0) _exit(0);
    siginfo_t info = {};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
    EXPECT_EQ(OS_SPV_check("", "", id_text(child).c_str()), CM_RC_LOCK_FREE);
    EXPECT_TRUE(process_probe::no_children_left());

    EXPECT_EQ(file_probe::as_nobody([] { return OS_SPV_check("", "", "1"); }), CM_RC_NOT_PERMITTED);

    char self[OS_SPV_PROCID_ROOM] = "";
    EXPECT_EQ(OS_SPV_get_selfid(self), CM_RC_OK);
    EXPECT_EQ(self, id_text(getpid()));
    EXPECT_EQ(OS_SPV_get_selfid(nullptr), CM_RC_FAIL);
}

TEST(SupervisionKill, IdsBelowOneAndGroupOneSignalNothing) {
    // Tried in a child of a session of its own under an id that owns no other process: a missing
    // check could signal only that child, which would then not report back.
    const int result = file_probe::in_child([] {
        if (setsid() < 0 || setgid(kLoneUid) != 0 || setuid(kLoneUid) != 0) return 100;
        for (const char* id : {"0", "-1", "1", "abc", ""}) {
            if (OS_SPV_kill("", "", id) != CM_RC_FAIL) return 101;
            if (OS_SPV_kill_minus_9("", "", id) != CM_RC_FAIL) return 102;
        }
        for (const char* id : {"0", "-1", "1", "abc", static_cast<const char*>(nullptr)}) {
            int err = 0;
            if (OS_SPV_kill_process_group("", "", id, 0, &err) != CM_RC_FAIL || err != EINVAL) return 103;
            if (OS_SPV_kill_process_group("", "", id, 1, nullptr) != CM_RC_FAIL) return 104;
        }
        return 0;
    });
    EXPECT_EQ(result, 0);
}

volatile sig_atomic_t first_process_signalled = 0;

// Run as root, where sending to process 1 would succeed: in a namespace of process ids of its own
// the test's child is process 1, alone in its group and catching SIGTERM, so whatever "1", "0" or
// "-1" could reach is that child (or nothing) and a signal sent would show.
TEST(SupervisionKill, TheFirstProcessIsNeverSignalled) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a namespace of process ids";
    const int result = file_probe::in_child([] {
        if (unshare(CLONE_NEWPID) != 0) return 200;
        const pid_t first = fork();
        if (first == 0) {
            setpgid(0, 0);
            struct sigaction note = {};
            note.sa_handler = [](int) { first_process_signalled = 1; };
            sigaction(SIGTERM, &note, nullptr);
            for (const char* id : {"1", "0", "-1", " 1 "}) {
                if (OS_SPV_kill("", "", id) != CM_RC_FAIL) _exit(101);
                if (OS_SPV_kill_minus_9("", "", id) != CM_RC_FAIL) _exit(102);
            }
            _exit(getpid() != 1 ? 103 : first_process_signalled ? 104 : 0);
        }
        int status = 0;
        waitpid(first, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 105;
    });
    if (result == 200) GTEST_SKIP() << "no namespace of process ids here";
    EXPECT_EQ(result, 0);
}

TEST(SupervisionKill, SingleProcessesGetTermOrKill) {
    const struct {
        CM_RC (*kill)(const char*, const char*, const char*);
        int signal_number;
    } cases[] = {{OS_SPV_kill, SIGTERM}, {OS_SPV_kill_minus_9, SIGKILL}};
    for (const auto& c : cases) {
        const pid_t child = fork();
        if (child == 0) {
            pause();
            _exit(0);
        }
        EXPECT_EQ(c.kill("", "", id_text(child).c_str()), CM_RC_OK);
        const int status = wait_exit(child, 5);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal_number) << status;
    }
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    EXPECT_EQ(OS_SPV_kill("", "", id_text(gone).c_str()), CM_RC_FAIL);
}

class GroupKillTest : public ::testing::Test {
protected:
    void SetUp() override { process_probe::become_subreaper(); }
    void TearDown() override {
        process_probe::clean_up_group(group_);
        EXPECT_TRUE(process_probe::no_children_left());
    }
    pid_t group_ = -1;
};

TEST_F(GroupKillTest, GroupEndingOnTermIsGoneWithinASecond) {
    group_ = start_group("sleep 30 & sleep 30");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the background sleep has started
    const auto start = Clock::now();
    int err = -1;
    EXPECT_EQ(OS_SPV_kill_process_group("job", "user", id_text(group_).c_str(), 0, &err), CM_RC_OK);
    EXPECT_LT(seconds_since(start), 3.0);  // far from the 5 seconds of a group that stays
    EXPECT_EQ(err, -1);
    // The leader (the test's own child) and the orphaned sleep were collected on the way.
    EXPECT_TRUE(process_probe::no_children_left());
}

TEST_F(GroupKillTest, GroupIgnoringTermStaysAliveUntilTheBrutalKill) {
    group_ = start_group("trap '' TERM; sleep 30 & sleep 30");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto start = Clock::now();
    EXPECT_EQ(OS_SPV_kill_process_group("", "", id_text(group_).c_str(), 0, nullptr), CM_RC_LOCK_HELD);
    EXPECT_GT(seconds_since(start), 4.5);
    EXPECT_LT(seconds_since(start), 8.0);
    start = Clock::now();
    EXPECT_EQ(OS_SPV_kill_process_group("", "", id_text(group_).c_str(), 1, nullptr), CM_RC_OK);
    EXPECT_LT(seconds_since(start), 3.0);
}

TEST_F(GroupKillTest, GroupThatIsGoneCannotBeSignalled) {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    int err = 0;
    EXPECT_EQ(OS_SPV_kill_process_group("", "", id_text(child).c_str(), 0, &err), CM_RC_FAIL);
    EXPECT_EQ(err, ESRCH);
}

class RunProgramTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        unsetenv("ORV_PROC_DIR");
        OS_DIAG_initialize(nullptr, "spv");
        DIAG_set_debug_level(4);
    }
    std::string path(const std::string& relative) const { return home.path() + "/" + relative; }
};

TEST_F(RunProgramTest, DetachedStartPassesTheFirst32NonNullParametersAndWritesThePidFile) {
    mkdir(path("bin").c_str(), 0755);
    process_probe::write_recorder(path("bin/prog"));
    std::vector<std::string> texts;
    std::vector<char*> params;
    for (int i = 0; i < 40; ++i) texts.push_back(testbed::joined("p", i, " with blanks"));
    for (int i = 0; i < 40; ++i) params.push_back(i % 5 == 1 ? nullptr : texts[i].data());

    char pid_text[OS_SPV_PROCID_ROOM] = "";
    ASSERT_EQ(OS_SPV_run_params((path("bin/prog") + "  ").c_str(), "ORV", "x", 40, params.data(), pid_text, 1),
              CM_RC_OK);
    const pid_t pid = static_cast<pid_t>(std::atol(pid_text));
    ASSERT_GT(pid, 0);
    const int status = wait_exit(pid, 10);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::vector<std::string> expected = {"32"};
    for (int i = 0; i < 40 && expected.size() < 33; ++i)
        if (params[i]) expected.push_back(texts[i]);
    EXPECT_EQ(process_probe::recorded(path("bin/prog")), expected);
    // The pid file's stem is the program's last two characters.
    EXPECT_TRUE(home.exists("pid/og_" + std::string(pid_text)));
    EXPECT_EQ(file_probe::bits_of(path("pid")), 0700u);
}

TEST_F(RunProgramTest, ProgramThatCannotRunGivesFailureWithoutPidFileOrZombie) {
    process_probe::write_program(path("broken"), "#!/nonexistent\necho never\n");
    process_probe::write_program(path("plain"), "#!/bin/sh\n", 0644);
    char pid_text[OS_SPV_PROCID_ROOM] = "untouched";
    EXPECT_EQ(OS_SPV_run_params(path("broken").c_str(), "", "", 0, nullptr, pid_text, 1), CM_RC_FAIL);
    EXPECT_TRUE(process_probe::no_children_left());
    EXPECT_FALSE(home.exists("pid/en_" + std::string(pid_text)));
    EXPECT_STREQ(pid_text, "untouched");
    EXPECT_FALSE(home.exists("pid"));
    // The child's own line about the failed exec reached the log before the call returned.
    EXPECT_NE(testbed::read_diag_log("spv").find("OS_SPV_run_params: execv - errno = 2"), std::string::npos);

    EXPECT_EQ(OS_SPV_run_params(path("plain").c_str(), "", "", 0, nullptr, pid_text, 1), CM_RC_FAIL);
    EXPECT_EQ(OS_SPV_run_params(nullptr, "", "", 0, nullptr, pid_text, 1), CM_RC_FAIL);
    EXPECT_TRUE(process_probe::no_children_left());
}

TEST_F(RunProgramTest, AgentProgramByApplicationAndCode) {
    EXPECT_EQ(OS_SPV_run("AG", "ORV", nullptr), CM_RC_FAIL);  // no AGENT_DIR
    home.write_file("data/CONFIG.dat", "AGENT_DIR " + path("agent") + "\n");
    mkdir(path("agent").c_str(), 0755);
    mkdir(path("agent/exe").c_str(), 0755);
    process_probe::write_recorder(path("agent/exe/p_orvag"));
    char pid_text[OS_SPV_PROCID_ROOM] = "";
    ASSERT_EQ(OS_SPV_run("AG", "ORV", pid_text), CM_RC_OK);
    wait_exit(static_cast<pid_t>(std::atol(pid_text)), 10);
    EXPECT_EQ(process_probe::recorded(path("agent/exe/p_orvag")), std::vector<std::string>{"0"});
    EXPECT_TRUE(home.exists("pid/ag_" + std::string(pid_text)));
    EXPECT_NE(testbed::read_diag_log("spv").find("OS_SPV_run: about to execute " + path("agent/exe/p_orvag")),
              std::string::npos);
}

TEST_F(RunProgramTest, PidFilesByStemInTheirDirectory) {
    struct Case {
        const char* name;
        int length;
        const char* expected;  // relative to the home; null: refused
    } cases[] = {
        {"/opt/agent/exe/p_orvat", 1, "pid/at_77"},
        {"wk", 2, "pid/wk_77"},
        {"x", 1, nullptr},
        {"../x", 2, nullptr},
        {"", 2, nullptr},
        {"wk", 3, nullptr},
        {nullptr, 2, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OS_SPV_write_pid_to_dir(c.name, 77, c.length), c.expected ? CM_RC_OK : CM_RC_FAIL)
            << (c.name ? c.name : "(null)");
        if (c.expected) {
            EXPECT_TRUE(home.exists(c.expected)) << c.expected;
        }
    }
    EXPECT_FALSE(home.exists("x_77"));

    // A pid directory its owner may not use is repaired.
    chmod(path("pid").c_str(), 0500);
    EXPECT_EQ(OS_SPV_write_pid_to_dir("ar", 5, 2), CM_RC_OK);
    EXPECT_EQ(file_probe::bits_of(path("pid")), 0700u);

    // ORV_PROC_DIR wins, trailing blanks trimmed; a file in its place is refused.
    setenv("ORV_PROC_DIR", (path("own") + "  ").c_str(), 1);
    EXPECT_EQ(OS_SPV_write_pid_to_dir("ar", 6, 2), CM_RC_OK);
    EXPECT_TRUE(home.exists("own/ar_6"));
    home.write_file("notdir", "");
    setenv("ORV_PROC_DIR", path("notdir").c_str(), 1);
    EXPECT_EQ(OS_SPV_write_pid_to_dir("ar", 7, 2), CM_RC_FAIL);
    EXPECT_NE(testbed::read_diag_log("spv").find(path("notdir") + " is not a directory - can't create files ."),
              std::string::npos);

    unsetenv("ORV_PROC_DIR");
    PATHNAME_D_typ dir = "";
    EXPECT_EQ(OS_SPV_get_full_dir_nm(dir), CM_RC_OK);
    EXPECT_EQ(std::string(dir), path("pid"));
    unsetenv("ORVANTA");
    EXPECT_EQ(OS_SPV_get_full_dir_nm(dir), CM_RC_FAIL);
    EXPECT_EQ(OS_SPV_write_pid_to_dir("ar", 8, 2), CM_RC_FAIL);
    EXPECT_NE(
        testbed::read_diag_log("spv").find("OS_SPV_get_dir_from_env: failed reading LOGICAL_ORVANTA env variable"),
        std::string::npos);
}

void count_sigchld(int) {}

TEST(SupervisionRunCmd, ExitStatusSignalAndTheCallersSigchldHandlerBack) {
    struct sigaction mine = {};
    mine.sa_handler = count_sigchld;
    sigemptyset(&mine.sa_mask);
    ASSERT_EQ(sigaction(SIGCHLD, &mine, nullptr), 0);

    struct Case {
        std::vector<std::string> argv;
        int result;
    } cases[] = {
        {{"/bin/sh", "-c", "exit 3"}, 3},
        {{"/bin/sh", "-c", "kill -9 $$"}, 9},
        {{"/bin/true"}, 0},
        {{"/nonexistent/program"}, ENOENT},  // the child ends with the exec's errno
    };
    for (Case& c : cases) {
        std::vector<char*> argv;
        for (std::string& arg : c.argv) argv.push_back(arg.data());
        argv.push_back(nullptr);
        EXPECT_EQ(OS_SPV_run_cmd(argv.data(), -1), c.result) << c.argv.back();
    }
    EXPECT_EQ(OS_SPV_run_cmd(nullptr, 0), -1);
    EXPECT_EQ(process_probe::handler_of(SIGCHLD), &count_sigchld);

    // A wait interrupted by a signal handler (installed without restart) is resumed.
    struct sigaction poke = {};
    poke.sa_handler = count_sigchld;
    sigemptyset(&poke.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &poke, nullptr), 0);
    std::atomic<bool> waited{false};
    const pthread_t caller = pthread_self();
    std::thread poker([&] {
        while (!waited) {
            pthread_kill(caller, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::string shell = "/bin/sh", c = "-c", script = "sleep 0.5; exit 4";
    char* slow[] = {shell.data(), c.data(), script.data(), nullptr};
    EXPECT_EQ(OS_SPV_run_cmd(slow, -1), 4);
    waited = true;
    poker.join();

    // Calls of several threads at once each get their own child's status, and the handler found
    // on entry is back once the last of them is done.
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 10; ++i) {
                std::string shell = "/bin/sh", c = "-c", script = "exit " + std::to_string(10 + t);
                char* argv[] = {shell.data(), c.data(), script.data(), nullptr};
                if (OS_SPV_run_cmd(argv, -1) != 10 + t) ++wrong;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(process_probe::handler_of(SIGCHLD), &count_sigchld);
    EXPECT_TRUE(process_probe::no_children_left());
}

class SwitchUserTest : public RunProgramTest {
protected:
    std::string su() const { return path("exe/vault/su_qel"); }
    void install_su() {
        home.write_file("data/CONFIG.dat", "AGENT_DIR " + home.path() + "/\n");
        mkdir(path("exe").c_str(), 0755);
        mkdir(path("exe/vault").c_str(), 0755);
        process_probe::write_recorder(su());
    }
};

TEST_F(SwitchUserTest, CommandRunsThroughTheSwitchUserProgramWithoutLoggingThePassword) {
    DIAG_set_debug_level(6);
    EXPECT_EQ(OS_SPV_run_non_root_cmd("bob", "s3cret-pw", "ls -l"), CM_RC_FAIL);
    EXPECT_NE(testbed::read_diag_log("spv").find("Failed to get AGENT_DIR configuration parameter"), std::string::npos);

    install_su();
    home.write_file("data/OS.dat", "ENABLE_PAM N\n");
    EXPECT_EQ(OS_SPV_run_non_root_cmd("bob", "s3cret-pw", "ls -l $HOME"), CM_RC_OK);
    EXPECT_EQ(process_probe::recorded(su()),
              (std::vector<std::string>{"7", "-", "bob", "s3cret-pw", "-c", "ls -l $HOME", "0", "N"}));

    unlink((su() + ".args").c_str());
    GM_PARAM_set("OS", "ENABLE_PAM", "n");  // only "N" turns it off
    home.write_file("exe/vault/su_qel.status", "3\n");
    EXPECT_EQ(OS_SPV_run_non_root_cmd("bob", "s3cret-pw", "true"), CM_RC_FAIL);
    EXPECT_EQ(process_probe::recorded(su()).back(), "Y");

    const std::string log = testbed::read_diag_log("spv");
    EXPECT_NE(log.find("cmd[3] - ( Private Data )"), std::string::npos);
    EXPECT_NE(log.find("OS_SPV_run_non_root_cmd: rc - '3'"), std::string::npos);
    EXPECT_EQ(log.find("s3cret-pw"), std::string::npos);
}

// A thread blocked inside the log or a table load holds that lock while the main thread forks:
// the fork waits for the lock, so the child never starts with a lock that nobody can release.
TEST(ForkSafety, ChildLogsAndReadsTablesThatAnotherThreadHeldAtTheFork) {
    testbed::AgentHome home;
    home.write_file("data/CONFIG.dat", "SOME_KEY some value\n");
    OS_DIAG_initialize(nullptr, "forks");
    DIAG_set_debug_level(1);
    // Opening a FIFO waits for the other end: the log file is one. A table file that is a FIFO is
    // refused at once (it is no regular file), so its loader comes and goes around the fork.
    const std::string log_path = testbed::diag_log_path("forks");
    ASSERT_EQ(mkfifo(log_path.c_str(), 0644), 0);
    ASSERT_EQ(mkfifo("data/SLOW.dat", 0644), 0);
    std::thread logger([] { DIAG_TRACE(1, "line that waits for a reader"); });
    std::thread loader([] {
        GM_PARAM_VALUE_typ value = "";
        GM_PARAM_get("SLOW", "k", value);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // both wait, holding their lock

    std::atomic<bool> stop{false};
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const int reader = open(log_path.c_str(), O_RDWR | O_NONBLOCK);
        close(open("data/SLOW.dat", O_WRONLY | O_NONBLOCK));  // a load that still waits may go on
        char drain[4096];
        while (!stop) {
            if (read(reader, drain, sizeof drain) <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        close(reader);
    });
    const pid_t child = fork();
    if (child == 0) {
        DIAG_TRACE(1, "child line");
        GM_PARAM_VALUE_typ value = "";
        _exit(GM_PARAM_get("CONFIG", "SOME_KEY", value) == CM_RC_OK && std::strcmp(value, "some value") == 0 ? 0 : 1);
    }
    const int status = wait_exit(child, 10);
    if (status == -1) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    logger.join();
    loader.join();
    stop = true;
    releaser.join();
}

}  // namespace
