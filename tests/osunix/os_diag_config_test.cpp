// The diagnostic log's configuration keys, read from the agent's parameter tables in ./data.
// The tables are cached for the life of a process, so every configuration is its own test.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <string>

#include "gm_param.h"
#include "os_diag.h"
#include "testbed.h"

namespace {

// The table cache lives for the process; it is emptied before the leak check.
class DiagConfigTest : public testbed::AgentHomeTest {
protected:
    void TearDown() override { GM_PARAM_clear(); }
};

struct ModeCase {
    const char* value;
    mode_t mode;
    const char* name;
};

class ProclogModeTest : public DiagConfigTest, public ::testing::WithParamInterface<ModeCase> {};

}  // namespace

TEST_P(ProclogModeTest, NewLogTakesTheConfiguredOctalMode) {
    home.write_file("data/OS.dat", std::string("PROCLOG_MODE ") + GetParam().value + "\n");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    DIAG_ERROR("created");
    struct stat status;
    ASSERT_EQ(stat(testbed::diag_log_path("Oebs_CM").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, GetParam().mode);
}

INSTANTIATE_TEST_SUITE_P(Modes, ProclogModeTest,
                         ::testing::Values(ModeCase{"0600", 0600, "Octal0600"}, ModeCase{"640", 0640, "Octal640"},
                                           ModeCase{"0", 0644, "ZeroKeepsDefault"},
                                           ModeCase{"rw", 0644, "TextKeepsDefault"}),
                         [](const ::testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

TEST_F(DiagConfigTest, ConfiguredResetIntervalIsAnnouncedInTheReport) {
    home.write_file("data/CONFIG.dat", "DBG_RESET_INTERVAL 30\n");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(0);
    DIAG_ERROR("boom");
    EXPECT_TRUE(testbed::read_diag_log("Oebs_CM").ends_with("Debug level will reset in 30 seconds.\n\n"));
}

TEST_F(DiagConfigTest, ResetIntervalOfZeroKeepsTheDefault) {
    home.write_file("data/CONFIG.dat", "DBG_RESET_INTERVAL 0\n");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(0);
    DIAG_ERROR("boom");
    EXPECT_TRUE(testbed::read_diag_log("Oebs_CM").ends_with("Debug level will reset in 600 seconds.\n\n"));
}

TEST_F(DiagConfigTest, ConfiguredSizeAndVersionsBoundTheRotation) {
    home.write_file("data/CONFIG.dat", "LIMIT_LOG_FILE_SIZE 1\nLIMIT_LOG_VERSIONS 2\n");
    OS_DIAG_initialize(nullptr, "AT");
    DIAG_set_debug_level(4);
    const std::string path = testbed::diag_log_path("AT");
    const std::string base = path.substr(0, path.size() - 4);
    for (int round = 0; round < 4; ++round) {
        DIAG_ERROR("round %d", round);
        ASSERT_EQ(truncate(path.c_str(), 1048576 + 1), 0);
        for (int i = 0; i < 99; ++i) DIAG_ERROR("filler");
    }
    EXPECT_TRUE(home.exists(base + "_01.log"));
    EXPECT_TRUE(home.exists(base + "_02.log"));
    EXPECT_FALSE(home.exists(base + "_03.log"));
    EXPECT_TRUE(testbed::strip_diag_times(testbed::read_whole_file(base + "_02.log")).starts_with("AT:round 2\n"));
}

TEST_F(DiagConfigTest, SizeLimitOfZeroTurnsRotationOff) {
    home.write_file("data/CONFIG.dat", "LIMIT_LOG_FILE_SIZE 0\n");
    OS_DIAG_initialize(nullptr, "AT");
    DIAG_set_debug_level(4);
    const std::string path = testbed::diag_log_path("AT");
    DIAG_ERROR("first");
    ASSERT_EQ(truncate(path.c_str(), 10485760 + 1), 0);
    for (int i = 0; i < 150; ++i) DIAG_ERROR("more");
    EXPECT_TRUE(home.exists(path));
    EXPECT_FALSE(home.exists(path.substr(0, path.size() - 4) + "_01.log"));
}

TEST_F(DiagConfigTest, SslPolicyLogLevelFollowsTheAgentDebugLevel) {
    home.write_file("data/CONFIG.dat", "AGENT_DIR " + home.path() + "/agent\n");
    const std::string policy = "agent/data/SSL/cert/site.plc";
    struct Case {
        int level;
        const char* loglevel;
    } cases[] = {{3, "loglevel=ERROR,API,TRACE,WARNING,INFO,DATA\n"}, {2, "loglevel=ERROR\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        home.write_file(policy, "[site]\nloglevel=WARNING\nkeep=1\n  # loglevel note\n");
        ASSERT_EQ(chmod(policy.c_str(), 0640), 0);
        ASSERT_EQ(chown(policy.c_str(), 65534, 65534), 0);
        EXPECT_EQ(OS_DIAG_set_ssl_debug(c.level), CM_RC_OK);
        EXPECT_EQ(home.read_file(policy), std::string("[site]\n") + c.loglevel + "keep=1\n" + c.loglevel);
        struct stat status;
        ASSERT_EQ(stat(policy.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0640u);
        EXPECT_EQ(status.st_uid, 65534u);
        EXPECT_FALSE(home.exists(policy + ".temp"));
    }
}

TEST_F(DiagConfigTest, MissingSslPolicyIsReportedOnce) {
    home.write_file("data/CONFIG.dat", "AGENT_DIR " + home.path() + "/agent\n");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(1);
    EXPECT_EQ(OS_DIAG_set_ssl_debug(1), CM_RC_FAIL);
    EXPECT_EQ(testbed::read_diag_log_texts("Oebs_CM"),
              "Oebs_CM:ERROR: Failed to get stat of '" + home.path() +
                  "/agent/data/SSL/cert/site.plc': No such file or directory\n");
}

TEST_F(DiagConfigTest, SslPolicyWithoutAgentDirIsTheOneOfTheAgentHome) {
    const std::string policy = "data/SSL/cert/site.plc";
    home.write_file(policy, "loglevel=WARNING\n");
    EXPECT_EQ(OS_DIAG_set_ssl_debug(3), CM_RC_OK);
    EXPECT_EQ(home.read_file(policy), "loglevel=ERROR,API,TRACE,WARNING,INFO,DATA\n");
}

TEST_F(DiagConfigTest, SslPolicyIsKeptWhenItsCopyCannotBeWrittenWhole) {
    home.write_file("data/CONFIG.dat", "AGENT_DIR " + home.path() + "/agent\n");
    const std::string policy = "agent/data/SSL/cert/site.plc";
    const std::string original = "[site]\nloglevel=WARNING\n" + std::string(4000, '#') + "\n";
    home.write_file(policy, original);
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(1);
    // Lets the log's first line create the log, then caps every file of the process at 100 bytes.
    DIAG_ERROR("start");
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    struct rlimit small = old_limit;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const CM_RC rc = OS_DIAG_set_ssl_debug(3);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old_limit), 0);
    EXPECT_EQ(rc, CM_RC_FAIL);
    EXPECT_EQ(home.read_file(policy), original);
    EXPECT_FALSE(home.exists(policy + ".temp"));
}
