// Process start-up and exit: levels, names and their signal dispositions, registration with lock
// and pid files, failures before the log, locale and globalization, shutdown by signal, and the
// accessors before and after start-up. Start-up changes process-wide state for good, so every
// case runs in a forked child of its own inside a temporary agent home.
#include "os_proc.h"

#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ag_admin.h"
#include "dsect_appl.h"
#include "gm_param.h"
#include "joined.h"
#include "os_diag.h"
#include "os_lib.h"
#include "os_spv.h"
#include "process_probe.h"
#include "testbed.h"
#include "zpaapi.h"

extern char** environ;

namespace {

using process_probe::ChildOutcome;
using process_probe::in_child;
using process_probe::tell;

class StartupTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        unsetenv("ORV_PROC_DIR");
        unsetenv("ORVANTA_DBGLVL");
        mkdir(path("locks").c_str(), 0755);
    }
    void TearDown() override { EXPECT_TRUE(process_probe::no_children_left()); }

    std::string path(const std::string& relative) const { return home.path() + "/" + relative; }
    void config(const std::string& rows) const { home.write_file("data/CONFIG.dat", rows); }
    std::string log_of(const std::string& name, pid_t pid) const {
        return testbed::read_whole_file(path("proclog/" + name + "_" + std::to_string(pid) + ".log"));
    }
    bool exists(const std::string& relative) const { return access(path(relative).c_str(), F_OK) == 0; }
    void touch(const std::string& relative) const { home.write_file(relative, ""); }
};

// The value a child told as "key=value" ("" when it did not).
std::string told(const ChildOutcome& outcome, const std::string& key) {
    for (const std::string& line : outcome.lines)
        if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    return "";
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

/* ---- levels ---- */

TEST_F(StartupTest, DebugLevelIsTheLargerOfEnvironmentAndTableAndBufferedLevelDefaultsToFive) {
    struct Case {
        const char* environment;  // ORVANTA_DBGLVL, null for unset
        const char* rows;         // CONFIG rows
        int debug;
        int buffered;
        const char* logged;  // the chosen text in the start line (written only from level 4 on)
    } cases[] = {
        {"3", "DBGLVL 5\n", 5, 5, nullptr},
        {"5", "DBGLVL 3\n", 5, 5, nullptr},
        {"4", "DBGLVL 04\n", 4, 5, "04"},  // a tie takes the table's text
        {"2", "DBGLVL x\n", 2, 5, nullptr},
        {"x", "DBGLVL 3\n", 3, 5, nullptr},
        {nullptr, "OTHER 1\n", 0, 5, nullptr},
        {"1", "BUFFERED_DBGLVL 3\n", 1, 3, nullptr},
        {"1", "BUFFERED_DBGLVL x\n", 1, 5, nullptr},
        {"6", "BUFFERED_DBGLVL 2\n", 6, 2, "6"},
    };
    // With locale data the globalization library starts without an error line, which at debug
    // level 0 would raise the level to the buffered one.
    home.install_locale_data();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.environment ? c.environment : "(unset)") + " / " + c.rows);
        config(c.rows);
        const ChildOutcome outcome = in_child([&](int out) {
            if (c.environment) setenv("ORVANTA_DBGLVL", c.environment, 1);
            tell(out, "rc=" + std::to_string(OS_PROC_init(const_cast<char*>("lvl"), 0, nullptr)));
            tell(out, "debug=" + std::to_string(DIAG_debug_level()));
            tell(out, "buffered=" + std::to_string(DIAG_buffered_level()));
        });
        ASSERT_TRUE(outcome.exited);
        EXPECT_EQ(told(outcome, "rc"), "1");
        EXPECT_EQ(told(outcome, "debug"), std::to_string(c.debug));
        EXPECT_EQ(told(outcome, "buffered"), std::to_string(c.buffered));
        if (c.logged) {
            EXPECT_NE(log_of("lvl", outcome.pid)
                          .find(std::string("lvl:Log file for lvl Initialized with debug level ") + c.logged + "\n"),
                      std::string::npos);
        }
    }
}

/* ---- names and signal dispositions ---- */

std::string disposition(int signal_number) {
    const auto handler = process_probe::handler_of(signal_number);
    if (handler == SIG_DFL) return "dfl";
    if (handler == SIG_IGN) return "ign";
    if (handler == OS_proc_shutdown_signal) return "shutdown";
    return "other";
}

const std::pair<int, const char*> kWatched[] = {{SIGPIPE, "PIPE"}, {SIGHUP, "HUP"},   {SIGTTIN, "TTIN"},
                                                {SIGTTOU, "TTOU"}, {SIGTSTP, "TSTP"}, {SIGINT, "INT"},
                                                {SIGTERM, "TERM"}, {SIGCHLD, "CHLD"}};

TEST_F(StartupTest, NameDecidesSignalsLimitAndRegistration) {
    struct Case {
        const char* name;
        bool quiet;        // ignores HUP, TTIN, TTOU and TSTP
        bool agent;        // reaper, shutdown handler, open-files limit
        const char* lock;  // lock file taken, null for none
        const char* stem;  // pid-file stem, null for none
        bool chld_ignored_before = false;
    } cases[] = {
        {"orvoebs", false, false, nullptr, nullptr}, {"AB", true, false, nullptr, nullptr},
        {"AT", true, true, "TRACKER", "at"},         {"ATW7x", true, true, "ATW7x", "ATW7x"},
        {"ATW", false, false, nullptr, nullptr},     {"ATWx", false, false, nullptr, nullptr},
        {"WK", true, false, "WKLOAD", "wk", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        config("OTHER 1\n");
        const ChildOutcome outcome = in_child([&](int out) {
            struct rlimit files {};
            getrlimit(RLIMIT_NOFILE, &files);
            files.rlim_cur = 256;
            setrlimit(RLIMIT_NOFILE, &files);
            if (c.chld_ignored_before) signal(SIGCHLD, SIG_IGN);
            tell(out, "rc=" + std::to_string(OS_PROC_init(const_cast<char*>(c.name), 0, nullptr)));
            std::string dispositions;
            for (const auto& [number, label] : kWatched)
                dispositions += std::string(label) + "=" + disposition(number) + " ";
            tell(out, "dispositions=" + dispositions);
            getrlimit(RLIMIT_NOFILE, &files);
            tell(out, "soft=" + std::to_string(files.rlim_cur));
            tell(out, "argc=" + std::to_string(OS_PROC_argc()));
            if (c.agent) {
                // A finished child is collected by the reaper, without anyone waiting for it.
                const pid_t finished = fork();
                if (finished == 0) _exit(0);
                const auto start = process_probe::Clock::now();
                while (kill(finished, 0) == 0 && process_probe::seconds_since(start) < 30)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                tell(out, std::string("reaped=") + (kill(finished, 0) != 0 ? "yes" : "no"));
            }
        });
        ASSERT_TRUE(outcome.exited);
        EXPECT_EQ(told(outcome, "rc"), "1");
        std::string expected;
        for (const auto& [number, label] : kWatched) {
            std::string state = "dfl";
            if (number == SIGPIPE) state = "ign";
            if (c.quiet && (number == SIGHUP || number == SIGTTIN || number == SIGTTOU || number == SIGTSTP))
                state = "ign";
            if (c.agent && (number == SIGINT || number == SIGTERM)) state = "shutdown";
            if (c.agent && number == SIGCHLD) state = "other";
            expected += std::string(label) + "=" + state + " ";
        }
        EXPECT_EQ(told(outcome, "dispositions"), expected);
        EXPECT_EQ(told(outcome, "soft"), c.agent ? "1024" : "256");
        EXPECT_EQ(told(outcome, "argc"), "-1");
        if (c.agent) {
            EXPECT_EQ(told(outcome, "reaped"), "yes");
        }
        if (c.lock) {
            EXPECT_TRUE(exists(std::string("locks/") + c.lock + ".lock"));
            EXPECT_TRUE(exists(std::string("pid/") + c.stem + "_" + std::to_string(outcome.pid)));
        } else {
            EXPECT_FALSE(exists("pid"));
        }
        std::filesystem::remove_all(path("pid"));
    }
}

TEST_F(StartupTest, PercentSInTheNameStandsForThePidAndNothingElseIsInterpreted) {
    config("OTHER 1\n");
    const ChildOutcome outcome = in_child([](int out) {
        tell(out, "rc=" + std::to_string(OS_PROC_init(const_cast<char*>("P%s%d%s%n"), 0, nullptr)));
        tell(out, std::string("name=") + OS_PROC_name());
        tell(out, std::string("same=") + (OS_PROC_get_curr_proc_name() == OS_PROC_name() ? "yes" : "no"));
    });
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(told(outcome, "rc"), "1");
    EXPECT_EQ(told(outcome, "name"), "P" + std::to_string(outcome.pid) + "%d%s%n");
    EXPECT_EQ(told(outcome, "same"), "yes");
}

/* ---- registration ---- */

// A child that holds a lock until released.
class LockHolder {
public:
    explicit LockHolder(int proc_type) {
        int ready[2];
        int release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release[1]);
            const CM_RC rc = OS_PROC_check_lock(proc_type, 1, 0, nullptr);
            tell(ready[1], std::to_string(rc));
            char byte;
            while (read(release[0], &byte, 1) < 0 && errno == EINTR) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_ = release[1];
        char answer[8] = {};
        if (read(ready[0], answer, sizeof answer - 1) > 0) held_ = std::atoi(answer) == CM_RC_LOCK_FREE;
        close(ready[0]);
    }
    ~LockHolder() {
        if (release_ >= 0) close(release_);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    bool held() const { return held_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool held_ = false;
};

TEST_F(StartupTest, RegistrationRefusedWhileAnotherProcessHoldsTheLock) {
    LockHolder holder(OS_PROC_TYPE_AG);
    ASSERT_TRUE(holder.held());
    const ChildOutcome outcome = in_child([](int out) {
        OS_DIAG_initialize(nullptr, "reg");
        DIAG_set_debug_level(4);
        tell(out, "rc=" + std::to_string(OS_PROC_register(OS_PROC_TYPE_AG, nullptr)));
    });
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(told(outcome, "rc"), "2");
    const std::regex refused(
        R"(reg:Another Agent process is running , exiting errno \((Resource temporarily unavailable|Permission denied)\) \.\.\.\n)");
    EXPECT_TRUE(std::regex_search(log_of("reg", outcome.pid), refused)) << log_of("reg", outcome.pid);
    EXPECT_FALSE(exists("pid"));
}

TEST_F(StartupTest, RegistrationReplacesTheStemsPidFilesWhereThePidFileGoes) {
    struct Case {
        const char* proc_dir;  // ORV_PROC_DIR below the home, null for <home>/pid
        int type;
        const char* name;
        const char* stem;
        std::vector<std::string> removed;
        std::vector<std::string> kept;
    } cases[] = {
        {nullptr, OS_PROC_TYPE_AG, nullptr, "ag", {"ag_1"}, {"at_5", "agx_2"}},
        {"run/pids", OS_PROC_TYPE_AG, nullptr, "ag", {"ag_1"}, {"at_5"}},
        {nullptr, OS_PROC_TYPE_RL, nullptr, "ru", {"ru_7"}, {"rl_7"}},
        // A name is matched as text: its brackets are no pattern.
        {nullptr, OS_PROC_TYPE_NAMED, "W[1]", "W[1]", {"W[1]_4"}, {"W1_4", "W[1]x_2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stem + std::string(c.proc_dir ? " in ORV_PROC_DIR" : ""));
        const std::string dir = c.proc_dir ? c.proc_dir : "pid";
        for (const std::string& file : c.removed) touch(dir + "/" + file);
        for (const std::string& file : c.kept) touch(dir + "/" + file);
        if (c.proc_dir) {
            touch("pid/ag_1");
            setenv("ORV_PROC_DIR", path(c.proc_dir).c_str(), 1);
        }
        const ChildOutcome outcome =
            in_child([&](int out) { tell(out, "rc=" + std::to_string(OS_PROC_register(c.type, c.name))); });
        unsetenv("ORV_PROC_DIR");
        ASSERT_TRUE(outcome.exited);
        EXPECT_EQ(told(outcome, "rc"), "1");
        for (const std::string& file : c.removed) EXPECT_FALSE(exists(dir + "/" + file)) << file;
        for (const std::string& file : c.kept) EXPECT_TRUE(exists(dir + "/" + file)) << file;
        EXPECT_TRUE(exists(dir + "/" + c.stem + "_" + std::to_string(outcome.pid)));
        if (c.proc_dir) {
            EXPECT_TRUE(exists("pid/ag_1"));
        }  // another directory is not touched
        std::filesystem::remove_all(path(dir));
    }
}

TEST_F(StartupTest, RegistrationFailsWhenThePidFileCannotBeWritten) {
    touch("pid");  // a file where the pid directory belongs
    const ChildOutcome outcome =
        in_child([](int out) { tell(out, "rc=" + std::to_string(OS_PROC_register(OS_PROC_TYPE_AT, nullptr))); });
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(told(outcome, "rc"), "2");
}

TEST_F(StartupTest, RegistrationOfTypesWithoutALock) {
    EXPECT_EQ(OS_PROC_register(OS_PROC_TYPE_NAMED, nullptr), CM_RC_OK);
    EXPECT_EQ(OS_PROC_register(1, nullptr), CM_RC_NO_LOCK_TYPE);
    EXPECT_EQ(OS_PROC_register(3, nullptr), CM_RC_NO_LOCK_TYPE);
    EXPECT_EQ(OS_PROC_register(7, nullptr), CM_RC_FAIL);
    EXPECT_FALSE(exists("pid"));
}

TEST_F(StartupTest, ExitRemovesThePidFilesOfWorkloadAndTrackerWorkersAndEndsWithTheStatus) {
    struct Case {
        const char* name;
        const char* proc_dir;
        const char* stem;  // the own pid file
        std::vector<std::string> removed;
        std::vector<std::string> kept;
    } cases[] = {
        {"WK", nullptr, "wk", {"wk_1"}, {"at_5"}},
        {"ATW7x", "run/pids", "ATW7x", {"ATW7x_1"}, {"ATW7_1", "ATW7xy_1"}},
        {"AT", nullptr, "at", {}, {"at_5"}},  // the tracker leaves its pid file
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        config("DBGLVL 4\n");
        const std::string dir = c.proc_dir ? c.proc_dir : "pid";
        std::filesystem::create_directories(path(dir));
        if (c.proc_dir) setenv("ORV_PROC_DIR", path(c.proc_dir).c_str(), 1);
        const ChildOutcome outcome = in_child([&](int out) {
            const CM_RC rc = OS_PROC_init(const_cast<char*>(c.name), 0, nullptr);
            for (const std::string& file : c.removed) touch(dir + "/" + file);
            for (const std::string& file : c.kept) touch(dir + "/" + file);
            tell(out, "rc=" + std::to_string(rc));
            OS_PROC_exit(3);
        });
        unsetenv("ORV_PROC_DIR");
        ASSERT_TRUE(outcome.exited);
        EXPECT_EQ(outcome.status, 3);
        EXPECT_EQ(told(outcome, "rc"), "1");
        for (const std::string& file : c.removed) EXPECT_FALSE(exists(dir + "/" + file)) << file;
        for (const std::string& file : c.kept) EXPECT_TRUE(exists(dir + "/" + file)) << file;
        const bool own_kept = std::string(c.name) == "AT";
        EXPECT_EQ(exists(dir + "/" + c.stem + "_" + std::to_string(outcome.pid)), own_kept);
        const std::string log = log_of(c.name, outcome.pid);
        EXPECT_NE(log.find(std::string(c.name) + ":OS_PROC_exit called for '" + c.name + "' with p_status = 3\n"),
                  std::string::npos);
        EXPECT_NE(log.find(std::string(c.name) + ":>>> PROCESS " + c.name + " EXITING <<<\n"), std::string::npos);
        std::filesystem::remove_all(path(dir));
    }
}

/* ---- failures before the log, the configuration table ---- */

TEST_F(StartupTest, MissingConfigurationFailsStartUpExceptForTheFileWatcher) {
    struct Case {
        const char* name;
        const char* table;  // stored as the configuration table name first, null for CONFIG
        const char* file;   // table file present, null for none
        const char* rc;
    } cases[] = {
        {"AB", nullptr, nullptr, "2"},
        {"FW", nullptr, nullptr, "1"},
        {"AB", "ALT", "data/ALT.dat", "1"},
        {"AB", "ALT", "data/CONFIG.dat", "2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + (c.table ? c.table : "CONFIG"));
        if (c.file) touch(c.file);
        const ChildOutcome outcome = in_child([&](int out) {
            if (c.table) OS_PROC_set_config_file(c.table);
            tell(out, "rc=" + std::to_string(OS_PROC_init(const_cast<char*>(c.name), 0, nullptr)));
        });
        if (c.file) unlink(path(c.file).c_str());
        ASSERT_TRUE(outcome.exited);
        EXPECT_EQ(told(outcome, "rc"), c.rc);
        if (std::string(c.rc) == "2") {
            EXPECT_NE(log_of(c.name, outcome.pid)
                          .find(std::string(c.name) + ":OS_PROC_init: Cannot load " + (c.table ? c.table : "CONFIG") +
                                " [2]\n"),
                      std::string::npos);
        }
    }
}

TEST_F(StartupTest, HomeThatCannotBeEnteredFailsOnStandardOutput) {
    config("OTHER 1\n");
    const std::string missing = path("no-such-home");
    const ChildOutcome outcome = in_child([&](int out) {
        setenv("ORVANTA", missing.c_str(), 1);
        testbed::StdoutCapture captured;
        const CM_RC rc = OS_PROC_init(const_cast<char*>("AB"), 0, nullptr);
        tell(out, "stdout=" + captured.text());
        tell(out, "rc=" + std::to_string(rc));
    });
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(told(outcome, "rc"), "2");
    EXPECT_EQ(told(outcome, "stdout"), "failed to cd " + missing);
    EXPECT_FALSE(exists("proclog/AB_" + std::to_string(outcome.pid) + ".log"));
}

TEST_F(StartupTest, LogFolderThatCannotTakeTheLogIsReportedOnStandardErrorWithTheFailureItLoses) {
    struct Case {
        const char* folder;  // what stands at proclog: "folder", "file" or "nothing"
        bool table;          // CONFIG present
        const char* rc;
        const char* reason;  // why the log cannot be written, null when it can
    } cases[] = {
        {"nothing", false, "2", "No such file or directory"},
        {"nothing", true, "1", "No such file or directory"},
        {"file", false, "2", "Not a directory"},
        {"folder", false, "2", nullptr},
        {"folder", true, "1", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.folder) + (c.table ? " with CONFIG" : " without CONFIG"));
        std::filesystem::remove_all(path("proclog"));
        if (std::string(c.folder) == "folder") std::filesystem::create_directory(path("proclog"));
        if (std::string(c.folder) == "file") touch("proclog");
        if (c.table) config("OTHER 1\n");
        const ChildOutcome outcome = in_child([&](int out) {
            testbed::StderrCapture captured;
            const CM_RC rc = OS_PROC_init(const_cast<char*>("AB"), 0, nullptr);
            std::string said = captured.text();  // its lines joined by '|'
            std::replace(said.begin(), said.end(), '\n', '|');
            tell(out, "stderr=" + said);
            tell(out, "rc=" + std::to_string(rc));
        });
        unlink(path("data/CONFIG.dat").c_str());
        ASSERT_TRUE(outcome.exited);
        EXPECT_EQ(told(outcome, "rc"), c.rc);
        std::string expected;
        if (c.reason) {
            expected = "AB: cannot write the log in " + home.path() + "/proclog: " + c.reason + "|";
            if (!c.table) expected += "AB: OS_PROC_init: Cannot load CONFIG [2]|";
        }
        EXPECT_EQ(told(outcome, "stderr"), expected);
        if (!c.reason && !c.table) {
            EXPECT_NE(log_of("AB", outcome.pid).find("AB:OS_PROC_init: Cannot load CONFIG [2]\n"), std::string::npos);
        }
    }
}

/* ---- locale and globalization ---- */

TEST_F(StartupTest, LocaleFollowsI18NAndLocaleOfTheConfiguration) {
    struct Case {
        const char* rows;
        const char* before;  // LC_CTYPE set before start-up
        const char* after;   // LC_CTYPE after start-up, null when it depends on the environment
        const char* logged;  // a line of the log, null for none
        bool then_set_locale = false;
        const char* after_set = nullptr;
    } cases[] = {
        {"I18N CJK\nLOCALE C\n", "C.UTF-8", "C.UTF-8", nullptr},
        {"OTHER 1\n", "C.UTF-8", "C", "The locale is now : 'C'"},
        {"I18N LATIN-1\n", "C.UTF-8", "C", "The locale is now : 'C'"},
        {"LOCALE C.UTF-8\n", "C", "C.UTF-8", "The locale is now : C.UTF-8"},
        {"LOCALE xx_BOGUS\n", "C", nullptr, "Cannot setlocale (LC_CTYPE) to  xx_BOGUS error : "},
        // The locale alone, without the I18N test.
        {"I18N CJK\nLOCALE C.UTF-8\n", "C", "C", nullptr, true, "C.UTF-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows);
        config(std::string("DBGLVL 4\n") + c.rows);
        const ChildOutcome outcome = in_child([&](int out) {
            std::setlocale(LC_CTYPE, c.before);
            tell(out, "rc=" + std::to_string(OS_PROC_init(const_cast<char*>("loc"), 0, nullptr)));
            tell(out, std::string("ctype=") + std::setlocale(LC_CTYPE, nullptr));
            if (c.then_set_locale) {
                OS_PROC_set_locale();
                tell(out, std::string("ctype_set=") + std::setlocale(LC_CTYPE, nullptr));
            }
        });
        ASSERT_TRUE(outcome.exited);
        EXPECT_EQ(told(outcome, "rc"), "1");
        if (c.after) {
            EXPECT_EQ(told(outcome, "ctype"), c.after);
        }
        if (c.logged) {
            EXPECT_NE(log_of("loc", outcome.pid).find(std::string("loc:") + c.logged), std::string::npos);
        }
        if (c.then_set_locale) {
            EXPECT_EQ(told(outcome, "ctype_set"), c.after_set);
        }
    }
}

TEST_F(StartupTest, GlobalizationLibraryStartsFromTheHomesLocaleDataOrStartUpGoesOnWithout) {
    for (const bool installed : {true, false}) {
        SCOPED_TRACE(installed ? "with locale data" : "without");
        if (installed) home.install_locale_data();
        config("DBGLVL 4\n");
        const ChildOutcome outcome = in_child(
            [](int out) { tell(out, "rc=" + std::to_string(OS_PROC_init(const_cast<char*>("gc"), 0, nullptr))); });
        if (installed) std::filesystem::remove_all(path("exe"));
        ASSERT_TRUE(outcome.exited);
        EXPECT_EQ(told(outcome, "rc"), "1");
        const std::string log = log_of("gc", outcome.pid);
        EXPECT_EQ(log.find("gc:GC_init: GC library was initialized\n") != std::string::npos, installed) << log;
        EXPECT_EQ(
            log.find("gc:GC_init: Failed to initialize GC library. searched for locales at: '") != std::string::npos,
            !installed);
    }
}

/* ---- shutdown ---- */

TEST_F(StartupTest, ShutdownSignalEndsABusyAgentProcessThroughItsExit) {
    // A second thread logs without pause and SIGTERM interrupts it: the handler must not write to
    // the log, and the request is logged once, by the loop that sees it.
    config("DBGLVL 6\n");
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        process_probe::Clock::time_point sent{};
        const ChildOutcome outcome = in_child(
            [](int out) {
                if (OS_PROC_init(const_cast<char*>("AT"), 0, nullptr) != CM_RC_OK) _exit(9);
                std::thread([] {
                    for (long line = 0;; ++line) DIAG_TRACE(6, "busy %ld", line);
                }).detach();
                // The signal goes to the logging thread: the main thread blocks it.
                sigset_t term;
                sigemptyset(&term);
                sigaddset(&term, SIGTERM);
                pthread_sigmask(SIG_BLOCK, &term, nullptr);
                tell(out, "ready");
                while (!OS_PROC_exit_request_get()) usleep(1000);
                OS_PROC_exit(0);
            },
            [&](pid_t pid, const std::string& line) {
                if (line != "ready") return;
                std::this_thread::sleep_for(std::chrono::milliseconds(run % 5));
                sent = process_probe::Clock::now();
                kill(pid, SIGTERM);
            });
        ASSERT_TRUE(outcome.exited) << "signal " << outcome.signal;
        EXPECT_EQ(outcome.status, 0);
        EXPECT_LT(std::chrono::duration<double>(outcome.ended - sent).count(), 10.0);
        const std::string log = log_of("AT", outcome.pid);
        EXPECT_EQ(occurrences(log, "AT:Shutdown requested. signal - [15]\n"), 1u);
        EXPECT_NE(log.find("AT:>>> PROCESS AT EXITING <<<\n"), std::string::npos);
        unlink(path("proclog/AT_" + std::to_string(outcome.pid) + ".log").c_str());
    }
}

TEST_F(StartupTest, WatcherInstallsTheShutdownHandlerItselfAndExitsCleanly) {
    config("DBGLVL 4\n");
    const ChildOutcome outcome = in_child(
        [](int out) {
            const CM_RC rc = OS_PROC_init(const_cast<char*>("orvoebs"), 0, nullptr);
            tell(out, "rc=" + std::to_string(rc));
            tell(out, std::string("term=") + disposition(SIGTERM));
            signal(SIGTERM, OS_proc_shutdown_signal);
            tell(out, "ready");
            while (!OS_PROC_exit_request_get()) usleep(1000);
            OS_PROC_exit(0);
        },
        [](pid_t pid, const std::string& line) {
            if (line == "ready") kill(pid, SIGTERM);
        });
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(told(outcome, "rc"), "1");
    EXPECT_EQ(told(outcome, "term"), "dfl");
    const std::string log = log_of("orvoebs", outcome.pid);
    char agent_version[OS_PROC_VERSION_ROOM] = "";
    AG_version(agent_version, sizeof agent_version);
    EXPECT_NE(log.find("orvoebs:Local host: "), std::string::npos);  // the banner, with a level above 0
    EXPECT_NE(log.find(std::string("orvoebs:") + agent_version + "\n"), std::string::npos);
    EXPECT_NE(log.find("orvoebs:Shutdown requested. signal - [15]\n"), std::string::npos);
    EXPECT_NE(log.find("orvoebs:>>> PROCESS orvoebs EXITING <<<\n"), std::string::npos);
    EXPECT_FALSE(exists("pid"));
    EXPECT_FALSE(exists("locks/orvoebs.lock"));
}

/* ---- accessors ---- */

TEST_F(StartupTest, AccessorsAfterStartUpGiveTheRecordedProcess) {
    config("OTHER 1\n");
    std::vector<std::string> arguments = {"p_test"};
    for (int i = 1; i < 40; ++i) arguments.push_back(testbed::joined("a", i));
    arguments[5] = std::string(300, 'L');
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    const ChildOutcome outcome = in_child([&](int out) {
        tell(out, "rc=" + std::to_string(OS_PROC_init(const_cast<char*>("orvoebs"), 40, argv.data())));
        tell(out, "argc=" + std::to_string(OS_PROC_argc()));
        for (int index : {-2, 0, 4, 38, 39}) {
            PARAM_D_typ arg = "junk";
            const CM_RC rc = OS_PROC_get_arg(index, arg);
            tell(out, "arg" + std::to_string(index) + "=" + std::to_string(rc) + ":" +
                          std::to_string(std::strlen(arg)) + ":" + std::string(arg).substr(0, 4));
        }
        PARAM_D_typ params[OS_SPV_MAX_PARAMS + 1];
        std::strcpy(params[OS_SPV_MAX_PARAMS], "untouched");
        int count = -1;
        tell(out, "params_rc=" + std::to_string(OS_SPV_get_params(&count, params)));
        tell(out, "params=" + std::to_string(count) + ":" + params[0] + ":" + params[31] + ":" + params[32]);
        char unique[OS_SPV_PROCID_ROOM] = "";
        tell(out, std::string("ids=") + OS_PROC_get_curr_proc_id() + " " + OS_PROC_get_curr_decimal_proc_id() + " " +
                      OS_PROC_procid() + " " + OS_PROC_get_uniq_procid(unique) + " " + OS_PROC_parent_procid());
        tell(out, std::string("user=") + OS_PROC_get_curr_user());
        tell(out, std::string("env=") + (OS_PROC_get_env_block() == environ ? "yes" : "no"));
    });
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(told(outcome, "rc"), "1");
    EXPECT_EQ(told(outcome, "argc"), "39");
    EXPECT_EQ(told(outcome, "arg-2"), "2:0:");
    EXPECT_EQ(told(outcome, "arg0"), "1:2:a1");
    EXPECT_EQ(told(outcome, "arg4"), "1:255:LLLL");  // cut to the room of a parameter
    EXPECT_EQ(told(outcome, "arg38"), "1:3:a39");
    EXPECT_EQ(told(outcome, "arg39"), "2:0:");
    EXPECT_EQ(told(outcome, "params_rc"), "1");
    EXPECT_EQ(told(outcome, "params"), "32:a1:a32:untouched");  // at most 32 slots
    const std::string id = std::to_string(outcome.pid);
    EXPECT_EQ(told(outcome, "ids"), id + " " + id + " " + id + " " + id + " " + std::to_string(getpid()));
    const struct passwd* entry = getpwuid(getuid());
    EXPECT_EQ(told(outcome, "user"), getuid() == 0 ? "root" : std::string(entry ? entry->pw_name : "").substr(0, 30));
    EXPECT_EQ(told(outcome, "env"), "yes");
}

TEST(ProcessStateBeforeStartUp, IdsAreTheCallersAndTheNameIsEmpty) {
    EXPECT_STREQ(OS_PROC_name(), "");
    EXPECT_STREQ(OS_PROC_get_curr_proc_name(), "");
    EXPECT_EQ(std::string(OS_PROC_get_curr_proc_id()), std::to_string(getpid()));
    EXPECT_EQ(std::string(OS_PROC_parent_procid()), std::to_string(getppid()));
    EXPECT_EQ(OS_PROC_argc(), -1);
    PARAM_D_typ arg = "junk";
    EXPECT_EQ(OS_PROC_get_arg(0, arg), CM_RC_FAIL);
    EXPECT_STREQ(arg, "");
    int count = -1;
    PARAM_D_typ params[2];
    EXPECT_EQ(OS_SPV_get_params(&count, params), CM_RC_OK);
    EXPECT_EQ(count, 0);
    // A forked child asks for its own id, not the one its parent was given.
    const ChildOutcome outcome = in_child([](int out) {
        tell(out, std::string("id=") + OS_PROC_get_curr_proc_id());
        tell(out, std::string("parent=") + OS_PROC_parent_procid());
    });
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(told(outcome, "id"), std::to_string(outcome.pid));
    EXPECT_EQ(told(outcome, "parent"), std::to_string(getpid()));
    EXPECT_STREQ(OS_PROC_standard_output(), "/tty");
    EXPECT_EQ(OS_PROC_epilogue(), CM_RC_OK);
}

TEST(ProcessState, TrackWorkerNames) {
    struct Case {
        const char* name;
        int worker;
        int number;  // -1: left as it was
    } cases[] = {
        {"ATW7x", 1, 7}, {"ATW12", 1, 12}, {"ATW0", 1, 0},  {"ATW", 0, -1},
        {"ATWx", 0, -1}, {"ATWx7", 0, -1}, {"atw1", 0, -1}, {nullptr, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        int number = -1;
        EXPECT_EQ(OS_PROC_is_track_worker(c.name, &number), c.worker);
        EXPECT_EQ(number, c.number);
    }
    EXPECT_EQ(OS_PROC_is_track_worker("ATW5", nullptr), 1);
}

TEST(ProcessState, ConfigurationTableNameIsStoredCut) {
    EXPECT_STREQ(OS_PROC_set_config_file("MYCONF"), "MYCONF");
    EXPECT_STREQ(OS_PROC_config_file(), "MYCONF");
    const std::string long_name(300, 'T');
    EXPECT_EQ(std::string(OS_PROC_set_config_file(long_name.c_str())), long_name.substr(0, 255));
}

TEST(ProcessState, SystemInformationAndVersionBanner) {
    struct utsname host {};
    ASSERT_EQ(uname(&host), 0);
    char info[OS_PROC_SYSTEM_INFO_ROOM];
    const std::string expected = std::string(host.nodename) + " - " + host.sysname + " " + host.release + " " +
                                 host.version + " " + host.machine;
    EXPECT_EQ(std::string(OS_PROC_get_system_info(info)), expected);

    std::string printed;
    {
        testbed::StdoutCapture captured;
        OS_PROC_print_version(0);
        printed = captured.text();
    }
    std::string banner = "Local host: " + expected + " \n";
    for (auto version : {AG_version, ZPA_version, DSECT_version, GLOBAL_version, OS_version}) {
        char text[OS_PROC_VERSION_ROOM] = "";
        version(text, sizeof text);
        banner += std::string(text) + " \n";
    }
    EXPECT_EQ(printed, banner);
}

TEST(ProcessState, MainMultiTrackerFlag) {
    EXPECT_EQ(OS_PROC_is_main_mtrack(), 0);
    OS_PROC_set_main_mtrack(1);
    EXPECT_EQ(OS_PROC_is_main_mtrack(), 1);
}

}  // namespace
