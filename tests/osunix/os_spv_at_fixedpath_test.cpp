// Commands handed to the at scheduler: the submission script (at a fixed path under /tmp) passes
// the program and its parameters as words that no shell expands, at submission or in the job.
#include "os_spv.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "os_diag.h"
#include "process_probe.h"
#include "testbed.h"

namespace {

class AtSchedulerTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        script_ = "/tmp/AT_SCRIPT." + std::to_string(getpid());
        unlink(script_.c_str());
        mkdir(bin().c_str(), 0755);
        // A recording at, first on PATH: its arguments and the job text it reads.
        process_probe::write_program(bin() + "/at",
                                     "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\ncat > \"$0.stdin\"\n"
                                     "[ -f \"$0.status\" ] && exit \"$(cat \"$0.status\")\"\nexit 0\n");
        process_probe::write_recorder(bin() + "/show");
        const char* path = std::getenv("PATH");
        saved_path_ = path ? path : "";
        setenv("PATH", (bin() + ":" + saved_path_).c_str(), 1);
        OS_DIAG_initialize(nullptr, "at");
        DIAG_set_debug_level(4);
    }
    void TearDown() override {
        setenv("PATH", saved_path_.c_str(), 1);
        unlink(script_.c_str());
        EXPECT_TRUE(process_probe::no_children_left());
    }
    std::string bin() const { return home.path() + "/bin"; }

    std::string script_;
    std::string saved_path_;
};

TEST_F(AtSchedulerTest, ParametersReachTheJobAsTheirWordsAndNothingRunsOnTheWay) {
    PARAM_D_typ params[3] = {" $(touch x) ", "`touch y` it's", "a|b;c>z"};
    ASSERT_EQ(OS_SPV_run_params_at_time((bin() + "  ").c_str(), "ORV", " show ", "now + 1 minute", 3, params),
              CM_RC_OK);
    EXPECT_EQ(testbed::lines_of(testbed::read_whole_file(bin() + "/at.args")),
              (std::vector<std::string>{"now", "+", "1", "minute"}));

    // The job, run later by at's shell, starts the program with the words of the plain line.
    const std::string words = "'" + bin() + "/show' '$(touch' 'x)' '`touch' 'y`' 'it'\\''s' 'a|b;c>z'";
    EXPECT_EQ(testbed::read_whole_file(bin() + "/at.stdin"), words + "\n");
    ASSERT_EQ(system(("/bin/sh " + bin() + "/at.stdin").c_str()), 0);
    EXPECT_EQ(process_probe::recorded(bin() + "/show"),
              (std::vector<std::string>{"6", "$(touch", "x)", "`touch", "y`", "it's", "a|b;c>z"}));
    for (const char* made : {"x", "y", "z", "bin/x", "bin/y"}) EXPECT_FALSE(home.exists(made)) << made;

    // The script stays, usable only by its owner, with a delimiter that stops expansion.
    struct stat status = {};
    ASSERT_EQ(lstat(script_.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(testbed::read_whole_file(script_), "at now + 1 minute <<'EOF_EOF'\n" + words + "\nEOF_EOF\n");
    EXPECT_NE(
        testbed::read_diag_log("at").find("Submitting job '" + bin() + "/show $(touch x) `touch y` it's a|b;c>z' at"),
        std::string::npos);
}

TEST_F(AtSchedulerTest, BadTimeLongLineOrFailingSubmissionGiveFailure) {
    PARAM_D_typ params[1] = {"p"};
    for (const char* time : {"now; touch x", "$(touch x)", "noon\n", "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(OS_SPV_run_params_at_time(bin().c_str(), "", "show", time, 1, params), CM_RC_FAIL)
            << (time ? time : "");
    }
    EXPECT_FALSE(home.exists("bin/at.args"));
    EXPECT_FALSE(home.exists("x"));

    PARAM_D_typ line_end[1] = {"a\nEOF_EOF\ntouch x"};
    EXPECT_EQ(OS_SPV_run_params_at_time(bin().c_str(), "", "show", "now", 1, line_end), CM_RC_FAIL);
    PARAM_D_typ many[5];
    for (PARAM_D_typ& p : many) std::snprintf(p, sizeof p, "%s", std::string(250, 'w').c_str());
    EXPECT_EQ(OS_SPV_run_params_at_time(bin().c_str(), "", "show", "now", 5, many), CM_RC_FAIL);
    EXPECT_FALSE(home.exists("bin/at.args"));
    // At most 1024 characters pass, never cut.
    const size_t fits = 1024 - (bin() + "/show").size() - 3 * 251 - 1;
    ASSERT_LT(fits, sizeof many[3]);
    std::snprintf(many[3], sizeof many[3], "%s", std::string(fits + 1, 'v').c_str());
    EXPECT_EQ(OS_SPV_run_params_at_time(bin().c_str(), "", "show", "now", 4, many), CM_RC_FAIL);
    EXPECT_FALSE(home.exists("bin/at.args"));
    many[3][fits] = '\0';
    EXPECT_EQ(OS_SPV_run_params_at_time(bin().c_str(), "", "show", "now", 4, many), CM_RC_OK);
    EXPECT_TRUE(home.exists("bin/at.args"));

    home.write_file("bin/at.status", "1\n");
    EXPECT_EQ(OS_SPV_run_params_at_time(bin().c_str(), "", "show", "now", 1, params), CM_RC_FAIL);
}

TEST_F(AtSchedulerTest, ALinkLeftAtTheScriptPathIsReplacedNotFollowed) {
    home.write_file("victim", "keep\n");
    ASSERT_EQ(symlink((home.path() + "/victim").c_str(), script_.c_str()), 0);
    PARAM_D_typ params[1] = {"p"};
    EXPECT_EQ(OS_SPV_run_params_at_time(bin().c_str(), "", "show", "now", 1, params), CM_RC_OK);
    EXPECT_EQ(home.read_file("victim"), "keep\n");
    struct stat status = {};
    ASSERT_EQ(lstat(script_.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
}

}  // namespace
