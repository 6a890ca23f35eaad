// The process state before start-up, and child processes and commands: utility runs through a generated script, starts
// of the agent's processes and tracker workers, the lock check, restarts through the agent's scripts, forked workers,
// machine details, processor load from sar, the locale list and the core housekeeping.
#include "os_proc.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file_probe.h"
#include "gm_param.h"
#include "os_diag.h"
#include "process_probe.h"
#include "testbed.h"

namespace {

using process_probe::Clock;
using process_probe::Rows;
using process_probe::seconds_since;

TEST(ProcessState, AccessorsAnswerBeforeStartUp) {
    EXPECT_STREQ(OS_PROC_config_file(), "CONFIG");
    EXPECT_EQ(OS_PROC_exit_request_get(), 0);
    OS_PROC_exit_request_set(1);
    EXPECT_EQ(OS_PROC_exit_request_get(), 1);
    const uid_t uid = getuid();
    const struct passwd* entry = getpwuid(uid);
    const std::string expected = uid == 0 ? "root" : (entry ? entry->pw_name : "");
    EXPECT_EQ(std::string(OS_PROC_get_curr_user()), expected.substr(0, 30));
}

class ProcessLayerTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        unsetenv("ORV_PROC_DIR");
        mkdir(path("locks").c_str(), 0755);
        mkdir(path("bin").c_str(), 0755);
        const char* search = std::getenv("PATH");
        saved_path_ = search ? search : "";
        setenv("PATH", (path("bin") + ":" + saved_path_).c_str(), 1);
        OS_DIAG_initialize(nullptr, "proc");
        DIAG_set_debug_level(4);
    }
    void TearDown() override {
        setenv("PATH", saved_path_.c_str(), 1);
        process_probe::clean_up_group(-1);
        EXPECT_TRUE(process_probe::no_children_left());
    }
    std::string path(const std::string& relative) const { return home.path() + "/" + relative; }
    std::string log() const { return testbed::read_diag_log("proc"); }

    std::string saved_path_;
};

// The names in a directory, each behind a blank.
std::string entries_of(const std::string& dir) {
    std::string names;
    if (DIR* listing = opendir(dir.c_str())) {
        while (const dirent* entry = readdir(listing)) names += std::string(" ") + entry->d_name;
        closedir(listing);
    }
    return names;
}

/* ---- utility runs ---- */

// A utility that records its arguments (and its input when asked), writes to both streams and
// exits with the status in <program>.status.
void write_utility(const std::string& program) {
    process_probe::write_program(program,
                                 "#!/bin/sh\n"
                                 "{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$0.args\"\n"
                                 "[ -f \"$0.readin\" ] && cat > \"$0.stdin\"\n"
                                 "[ -f \"$0.sleep\" ] && sleep 30\n"
                                 "echo out-text; echo err-text >&2\n"
                                 "[ -f \"$0.status\" ] && exit \"$(cat \"$0.status\")\"\n"
                                 "exit 0\n");
}

class UtilityRunTest : public ProcessLayerTest {
protected:
    void SetUp() override {
        ProcessLayerTest::SetUp();
        write_utility(path("bin/util"));
    }
    std::vector<std::string> temp_files() const {
        std::vector<std::string> names;
        for (const char* kind : {"CMD", "STDIN", "STDOUT", "STDERR"})
            if (home.exists("runtime/PKM_" + std::to_string(getpid()) + ".tmp." + kind)) names.push_back(kind);
        return names;
    }
};

TEST_F(UtilityRunTest, ValuesArriveAsTheirWordsWithOutputErrorsAndExitCode) {
    Rows attrs{{"EXE_DEFAULT", "x"}, {"EXE_LINUX", path("bin/util")}};
    Rows params{{"P1", "a"}, {"P2", "$(touch x) | y & z > f"}, {"P3", "it's `touch y`"}};
    Rows extra{{"A1", "last"}};
    home.write_file("bin/util.status", "3\n");
    home.write_file("bin/util.readin", "");
    char out[OS_PROC_OUTPUT_ROOM] = "", err[OS_PROC_OUTPUT_ROOM] = "", code[OS_PROC_EXIT_CODE_ROOM] = "";
    ASSERT_EQ(OS_PROC_exec_util_with_params("act", &attrs.list, &params.list, "line one\nline two\n", &extra.list, out,
                                            err, code),
              CM_RC_OK);
    EXPECT_STREQ(out, "out-text\n");
    EXPECT_STREQ(err, "err-text\n");
    EXPECT_STREQ(code, "3");
    EXPECT_EQ(process_probe::recorded(path("bin/util")),
              (std::vector<std::string>{"13", "a", "$(touch", "x)", "|", "y", "&", "z", ">", "f", "it's", "`touch",
                                        "y`", "last"}));
    EXPECT_EQ(home.read_file("bin/util.stdin"), "line one\nline two\n");
    for (const char* made : {"x", "y", "f", "runtime/x", "runtime/f"}) EXPECT_FALSE(home.exists(made)) << made;
    EXPECT_TRUE(temp_files().empty());
}

TEST_F(UtilityRunTest, ScriptRunsTheMostSpecificExecutableAndNoInputWithoutText) {
    home.write_file("data/CONFIG.dat", "EXE_UTIL_TEMP_FILES N\n");  // present: the files stay
    Rows attrs{{"EXE_DEFAULT", "x"}, {"EXE_DEFAULT_UNIX", ""}, {"EXE_LINUX", "util"}};
    Rows params{{"P1", "a b"}};
    char out[OS_PROC_OUTPUT_ROOM] = "", err[OS_PROC_OUTPUT_ROOM] = "", code[OS_PROC_EXIT_CODE_ROOM] = "";
    ASSERT_EQ(OS_PROC_exec_util_with_params("act", &attrs.list, &params.list, "", nullptr, out, err, code), CM_RC_OK);
    EXPECT_STREQ(code, "0");
    const std::string stem = path("runtime/PKM_" + std::to_string(getpid()) + ".tmp.");
    EXPECT_EQ(home.read_file("runtime/PKM_" + std::to_string(getpid()) + ".tmp.CMD"),
              "#!/bin/sh\nutil 'a' 'b' 1>'" + stem + "STDOUT' 2>'" + stem + "STDERR'\n");
    EXPECT_EQ(temp_files(), (std::vector<std::string>{"CMD", "STDOUT", "STDERR"}));
    EXPECT_EQ(file_probe::bits_of(path("runtime")), 0755u);
}

TEST_F(UtilityRunTest, RefusedValuesLongLinesAndTimeOutsFailAndLeaveNoFiles) {
    Rows attrs{{"EXE_LINUX", path("bin/util")}};
    char out[OS_PROC_OUTPUT_ROOM] = "untouched", err[OS_PROC_OUTPUT_ROOM] = "", code[OS_PROC_EXIT_CODE_ROOM] = "";
    {
        Rows params{{"P1", "a"}, {"P2", "b;c"}};
        EXPECT_EQ(OS_PROC_exec_util_with_params("act", &attrs.list, &params.list, "in", nullptr, out, err, code),
                  CM_RC_FAIL);
        Rows extra{{"A1", ";"}};
        Rows fine{{"P1", "a"}};
        EXPECT_EQ(OS_PROC_exec_util_with_params("act", &attrs.list, &fine.list, "in", &extra.list, out, err, code),
                  CM_RC_FAIL);
        EXPECT_FALSE(home.exists("runtime"));  // refused before any file
        EXPECT_NE(log().find("ERROR: Invalid character was found in parameters list"), std::string::npos);
    }
    {
        Rows params{{"P1", std::string(1100, 'v')}};
        EXPECT_EQ(OS_PROC_exec_util_with_params("act", &attrs.list, &params.list, "in", nullptr, out, err, code),
                  CM_RC_FAIL);
        EXPECT_TRUE(temp_files().empty());
        EXPECT_FALSE(home.exists("bin/util.args"));
    }
    {
        Rows timed{{"EXE_LINUX", path("bin/util")}, {"TIMEOUT", "1"}};
        Rows params{{"P1", "a"}};
        home.write_file("bin/util.sleep", "");
        const auto start = Clock::now();
        EXPECT_EQ(OS_PROC_exec_util_with_params("act", &timed.list, &params.list, "in", nullptr, out, err, code),
                  CM_RC_FAIL);
        EXPECT_LT(seconds_since(start), 4.0);  // not the 30 seconds of the program
        EXPECT_TRUE(temp_files().empty());
        EXPECT_STREQ(out, "untouched");
    }
}

TEST_F(UtilityRunTest, XmlRunFeedsTheTextAndReturnsStandardOutput) {
    Rows attrs{{"EXE_DEFAULT", path("bin/util")}};
    home.write_file("bin/util.readin", "");
    char out[OS_PROC_OUTPUT_ROOM] = "";
    ASSERT_EQ(OS_PROC_exec_util_with_xml("act", &attrs.list, "<UVSCM a='1'/>", out), CM_RC_OK);
    EXPECT_STREQ(out, "out-text\n");
    EXPECT_EQ(home.read_file("bin/util.stdin"), "<UVSCM a='1'/>");
    EXPECT_EQ(process_probe::recorded(path("bin/util")), std::vector<std::string>{"0"});
    EXPECT_TRUE(temp_files().empty());
}

/* ---- locks and starts ---- */

TEST_F(ProcessLayerTest, LockCheckTakesTestsAndKeepsTheLock) {
    struct Case {
        int type;
        const char* name;
        CM_RC rc;
    } cases[] = {
        {0, nullptr, CM_RC_OK},   {1, nullptr, CM_RC_NO_LOCK_TYPE}, {3, nullptr, CM_RC_NO_LOCK_TYPE},
        {7, nullptr, CM_RC_FAIL}, {0, "", CM_RC_LOCK_HELD},         {0, "../x", CM_RC_LOCK_HELD},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OS_PROC_check_lock(c.type, 1, 0, c.name), c.rc) << c.type << (c.name ? c.name : "");
    EXPECT_FALSE(home.exists("x.lock"));

    EXPECT_EQ(OS_PROC_check_lock(OS_PROC_TYPE_AG, 1, 0, nullptr), CM_RC_LOCK_FREE);  // taken now
    EXPECT_EQ(file_probe::bits_of(path("locks/AGENT.lock")), 0644u);
    EXPECT_EQ(file_probe::lock_seen_from_outside(path("locks/AGENT.lock")), F_WRLCK);
    // Testing its own lock again, with or without taking it, never lets it go.
    EXPECT_EQ(OS_PROC_check_lock(OS_PROC_TYPE_AG, 0, 0, nullptr), CM_RC_LOCK_FREE);
    EXPECT_EQ(OS_PROC_check_lock(OS_PROC_TYPE_AG, 1, 0, nullptr), CM_RC_LOCK_FREE);
    EXPECT_EQ(file_probe::lock_seen_from_outside(path("locks/AGENT.lock")), F_WRLCK);
    EXPECT_EQ(file_probe::in_child([] { return OS_PROC_check_lock(OS_PROC_TYPE_AG, 1, 0, nullptr); }), CM_RC_LOCK_HELD);
}

TEST_F(ProcessLayerTest, AgentProcessesStartOnlyWhileTheirLockIsFree) {
    home.write_file("data/CONFIG.dat", "AGENT_DIR " + home.path() + "\n");
    mkdir(path("exe").c_str(), 0755);
    for (const char* program : {"p_orvag", "p_orvru", "p_orvatw"})
        process_probe::write_recorder(path("exe/") + program);

    home.write_file("locks/AGENT.lock", "");
    {
        file_probe::LockHolder holder(path("locks/AGENT.lock"));
        ASSERT_TRUE(holder.locked());
        EXPECT_EQ(OS_PROC_start_process(OS_PROC_TYPE_AG), CM_RC_LOCK_HELD);
        EXPECT_NE(log().find("OS_PROC_start_process: AG process already running."), std::string::npos);
    }
    EXPECT_FALSE(home.exists("exe/p_orvag.args"));
    EXPECT_EQ(OS_PROC_start_process(OS_PROC_TYPE_AG), CM_RC_OK);
    EXPECT_EQ(process_probe::recorded(path("exe/p_orvag")), std::vector<std::string>{"0"});
    EXPECT_EQ(OS_PROC_start_process(OS_PROC_TYPE_RL), CM_RC_OK);
    EXPECT_EQ(process_probe::recorded(path("exe/p_orvru")), std::vector<std::string>{"0"});
    const std::string pid_files = entries_of(path("pid"));
    EXPECT_NE(pid_files.find(" ag_"), std::string::npos) << pid_files;
    EXPECT_NE(pid_files.find(" ru_"), std::string::npos) << pid_files;
    EXPECT_EQ(OS_PROC_start_process(OS_PROC_TYPE_NAMED), CM_RC_OK);
    EXPECT_EQ(OS_PROC_start_process(1), CM_RC_NO_LOCK_TYPE);
    EXPECT_EQ(OS_PROC_start_process(OS_PROC_TYPE_WK), CM_RC_FAIL);

    // Tracker workers: a name that is no file name is refused before any file is touched.
    EXPECT_EQ(OS_PROC_start_tracker_worker("../x"), CM_RC_FAIL);
    EXPECT_EQ(OS_PROC_start_tracker_worker(""), CM_RC_FAIL);
    EXPECT_FALSE(home.exists("x.lock"));
    home.write_file("locks/ATW1a.lock", "");
    {
        file_probe::LockHolder holder(path("locks/ATW1a.lock"));
        EXPECT_EQ(OS_PROC_start_tracker_worker("ATW1a"), CM_RC_LOCK_HELD);
    }
    EXPECT_EQ(OS_PROC_start_tracker_worker("ATW1a"), CM_RC_OK);
    EXPECT_EQ(process_probe::recorded(path("exe/p_orvatw")), (std::vector<std::string>{"2", "-ATW_NAME", "ATW1a"}));

    home.write_file("locks/WKLOAD.lock", "");
    EXPECT_EQ(OS_PROC_is_running(OS_PROC_TYPE_WK), 0);
    {
        file_probe::LockHolder holder(path("locks/WKLOAD.lock"));
        EXPECT_EQ(OS_PROC_is_running(OS_PROC_TYPE_WK), 1);
    }
    EXPECT_EQ(OS_PROC_is_running(OS_PROC_TYPE_AG), -1);
    EXPECT_EQ(OS_PROC_stop_process(OS_PROC_TYPE_AG), CM_RC_OK);
}

TEST_F(ProcessLayerTest, AgentScriptsGetUserAndCodeAsWords) {
    mkdir(path("scripts").c_str(), 0755);
    process_probe::write_recorder(path("scripts/shut-ag"));
    EXPECT_EQ(os_proc_shut_by_name("AG", "bob $(touch x)"), CM_RC_OK);
    EXPECT_EQ(process_probe::recorded(path("scripts/shut-ag")),
              (std::vector<std::string>{"4", "-u", "bob $(touch x)", "-p", "AG"}));
    EXPECT_FALSE(home.exists("x"));

    // A stop shuts the tracker, then the agent, as the owner of the home.
    unlink(path("scripts/shut-ag.args").c_str());
    EXPECT_EQ(OS_PROC_autorestart(0, nullptr), CM_RC_OK);
    EXPECT_EQ(process_probe::recorded(path("scripts/shut-ag")),
              (std::vector<std::string>{"4", "-u", "root", "-p", "AG"}));
    home.write_file("scripts/shut-ag.status", "1\n");
    EXPECT_EQ(OS_PROC_autorestart(0, nullptr), CM_RC_FAIL);
    EXPECT_EQ(OS_PROC_autorestart(1, nullptr), CM_RC_FAIL);  // the router does not stop: no start
    EXPECT_NE(log().find("os_proc_shut_by_name: system for SHUT-AG has failed with 1"), std::string::npos);
}

/* ---- forked workers, machine details, owner, locales, housekeeping ---- */

void write_block(OS_PROC_FORK_DATA* data) {
    sleep(1);  // the parent has gone on and changed its own block meanwhile
    const std::string path = data->cmName;
    testbed::write_whole_file(path + ".tmp", reinterpret_cast<const char*>(data->alert_data.record));
    rename((path + ".tmp").c_str(), path.c_str());
}

TEST_F(ProcessLayerTest, ForkedWorkerRunsOnACopyOfTheBlock) {
    auto data = std::make_unique<OS_PROC_FORK_DATA>();
    std::snprintf(data->cmName, sizeof data->cmName, "%s", path("forked").c_str());
    std::snprintf(reinterpret_cast<char*>(data->alert_data.record), sizeof data->alert_data.record, "alert one");
    const auto start = Clock::now();
    ASSERT_EQ(OS_PROC_fork(data.get(), write_block, "worker"), CM_RC_OK);
    EXPECT_LT(seconds_since(start), 0.8);
    std::snprintf(reinterpret_cast<char*>(data->alert_data.record), sizeof data->alert_data.record, "changed");
    ASSERT_TRUE(process_probe::wait_for_file(path("forked")));
    EXPECT_EQ(home.read_file("forked"), "alert one");
    EXPECT_NE(log().find("OS_PROC_fork: child calling function"), std::string::npos);
}

TEST_F(ProcessLayerTest, MachineDetailsFromTheCpuSpecsScript) {
    char* specs = OS_PROC_getCpuSpecsBuffer();
    ASSERT_NE(specs, nullptr);
    EXPECT_STREQ(specs, "");  // empty until start-up fills it
    std::snprintf(
        specs, OS_PROC_CPU_SPECS_ROOM, "%s",
        ("echo 'OS = Linux'\necho 'VERSION = 6.1 " + std::string(200, 'v') +
         "'\necho 'CPU = x86_64'\necho 'Number of CPUs = 8'\necho 'Number of CPU Sockets = 2'\necho 'Other = 1'\n")
            .c_str());
    home.write_file("data/CONFIG.dat", "LOGICAL_AGENT_NAME agent-one\n");
    ORV_MACHINE_INFO_typ info = {};
    ASSERT_EQ(OS_PROC_gather_machine_details(&info), CM_RC_OK);
    specs[0] = '\0';
    EXPECT_STREQ(info.platform, "Unix");
    EXPECT_STREQ(info.osType, "Linux");
    EXPECT_EQ(std::string(info.osVersion), ("6.1 " + std::string(200, 'v')).substr(0, 127));
    EXPECT_STREQ(info.cpuArcType, "x86_64");
    EXPECT_EQ(info.numOfProcessors, 8);
    EXPECT_EQ(info.numOfProcessorSockets, 2);
    EXPECT_STREQ(info.host, "agent-one");
    EXPECT_FALSE(home.exists("temp/get_cpu_specs_" + std::to_string(getpid()) + ".sh"));
}

TEST_F(ProcessLayerTest, OwnerLocalesAndCoreFiles) {
    char owner[sizeof(USERNAME_D_typ)] = "";
    OS_PROC_getAgentOwner(owner);
    EXPECT_STREQ(owner, "root");

    process_probe::write_program(path("bin/locale"),
                                 "#!/bin/sh\nprintf 'C.UTF-8\\nen_US.iso88591\\nfrench\\nPOSIX\\nxx_YY\\n'\n");
    char xml[OS_PROC_OUTPUT_ROOM] = "<list>";
    ASSERT_EQ(OS_PROC_get_locale_list(xml), CM_RC_OK);
    EXPECT_STREQ(xml,
                 "<list><locale>C</locale><locale>en_US.iso88591</locale><locale>french</locale>"
                 "<locale>POSIX</locale>");
    // Elements that would not fit whole into the buffer are left out.
    std::string nearly_full(OS_PROC_OUTPUT_ROOM - 40, 'f');
    std::snprintf(xml, sizeof xml, "%s", nearly_full.c_str());
    ASSERT_EQ(OS_PROC_get_locale_list(xml), CM_RC_OK);
    EXPECT_EQ(std::string(xml), nearly_full + "<locale>C</locale>");

    home.write_file("data/CONFIG.dat", "AGENT_DIR " + home.path() + "\n");
    home.write_file("core", "dump");
    OS_PROC_housekeeping();
    EXPECT_FALSE(home.exists("core"));
    EXPECT_NE(entries_of(path("proclog")).find(" core_"), std::string::npos);
    OS_PROC_newday_clean_up();
    EXPECT_NE(log().find("OS_PROC_newday_clean_up exit with: 2"), std::string::npos);
}

/* ---- processor load ---- */

constexpr char kSarHeading[] = "12:00:01 AM     CPU     %user     %nice   %system   %iowait    %steal     %idle\n";

TEST_F(ProcessLayerTest, ProcessorLoadFromSarSummary) {
    struct Case {
        const char* name;
        std::string output;
        const char* end;  // how the stand-in ends
        CM_RC rc;
        int usage;
    } cases[] = {
        {"normal",
         std::string(kSarHeading) +
             "12:00:02 AM     all      1.00      0.00      0.50      0.00      0.00     98.50\n\n"
             "Average:        all      0.75      0.00      0.25      0.00      0.00     99.00\n",
         "exit 0", CM_RC_OK, 1},
        {"busy",
         std::string(kSarHeading) + "Average:        all     95.00      0.00      0.00      0.00      0.00      5.00\n",
         "exit 0", CM_RC_OK, 95},
        {"no average",
         std::string(kSarHeading) + "12:00:02 AM     all      1.00      0.00      0.50      0.00      0.00     98.50\n",
         "exit 0", CM_RC_FAIL, -1},
        {"idle 101",
         std::string(kSarHeading) + "Average:        all      0.00      0.00      0.00      0.00      0.00    101.00\n",
         "exit 0", CM_RC_FAIL, -1},
        {"short average", std::string(kSarHeading) + "Average:        all\n", "exit 0", CM_RC_FAIL, -1},
        {"no digit",
         std::string(kSarHeading) + "Average:        all      0.75      0.00      0.25      0.00      0.00        -\n",
         "exit 0", CM_RC_FAIL, -1},
        {"no heading", "Average:        all      0.75      0.00      0.25      0.00      0.00     99.00\n", "exit 0",
         CM_RC_FAIL, -1},
        {"exit 1",
         std::string(kSarHeading) + "Average:        all      0.75      0.00      0.25      0.00      0.00     99.00\n",
         "exit 1", CM_RC_FAIL, -1},
        {"killed",
         std::string(kSarHeading) + "Average:        all      0.75      0.00      0.25      0.00      0.00     99.00\n",
         "kill -9 $$", CM_RC_FAIL, -1},
    };
    for (const Case& c : cases) {
        home.write_file("bin/sar.out", c.output);
        process_probe::write_program(
            path("bin/sar"),
            "#!/bin/sh\necho \"$@\" > \"$0.args\"\ncat \"$0.out\"\necho 'a warning' >&2\n" + std::string(c.end) + "\n");
        int usage = -1;
        EXPECT_EQ(OS_PROC_collect_cpu_sar(&usage, 1, 2, 0), c.rc) << c.name;
        EXPECT_EQ(usage, c.usage) << c.name;
        EXPECT_EQ(home.read_file("bin/sar.args"), "1 2\n");
    }
    EXPECT_NE(log().find("Command aborted. Unable to calculate CPU usage"), std::string::npos);
    EXPECT_NE(log().find("Unable to calculate CPU usage from sar utility"), std::string::npos);

    // The workload figure: intervals from the configuration, the failure text cut to the buffer.
    home.write_file("data/CONFIG.dat", "WKL_CPU_SAMPLE_INTERVAL 2\nWKL_CPU_SAMPLE_NUM 4\n");
    char message[16] = "";
    int usage = -1;
    EXPECT_EQ(OS_PROC_collect_workload_cpu(&usage, message, sizeof message), CM_RC_FAIL);
    EXPECT_STREQ(message, "Unable to calcu");
    EXPECT_EQ(home.read_file("bin/sar.args"), "2 4\n");
}

TEST_F(ProcessLayerTest, InteractiveSarRunPrintsItsLines) {
    home.write_file(
        "bin/sar.out",
        std::string(kSarHeading) + "Average:        all      0.75      0.00      0.25      0.00      0.00     99.00\n");
    process_probe::write_program(path("bin/sar"), "#!/bin/sh\ncat \"$0.out\"\n");
    testing::internal::CaptureStdout();
    int usage = -1;
    EXPECT_EQ(OS_PROC_collect_cpu_sar(&usage, 1, 1, 1), CM_RC_OK);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Idle cpu numeric value: 99\nSuccessfully calculated CPU usage = 1\n");
}

}  // namespace
