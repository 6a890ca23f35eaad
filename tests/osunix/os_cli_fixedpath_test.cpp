// The command layer's temporary scripts in the fixed folder /tmp/orv.
#include "os_cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "file_probe.h"
#include "os_file.h"
#include "testbed.h"

namespace {

class TmpScriptTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        struct stat status;
        made_dir_ = lstat("/tmp/orv", &status) != 0;
        script_ = "/tmp/orv/CMD." + std::to_string(order_);
    }
    void TearDown() override {
        unlink(script_.c_str());
        if (made_dir_) rmdir("/tmp/orv");
    }
    const long order_ = 900000000L + getpid();
    std::string script_;
    bool made_dir_ = false;
};

TEST_F(TmpScriptTest, ScriptWithTheCommandLineInItsFolder) {
    PATHNAME_D_typ dir = "", name = "";
    ASSERT_EQ(OS_CLI_create_tmp_script(order_, "echo hi | tr h H", dir, name), CM_RC_OK);
    EXPECT_STREQ(dir, "/tmp/orv");
    EXPECT_EQ(std::string(name), "CMD." + std::to_string(order_));
    EXPECT_EQ(testbed::read_whole_file(script_), "#!/bin/sh\necho hi | tr h H\n");
    EXPECT_EQ(file_probe::bits_of(script_), 0755u);
    if (made_dir_) {
        EXPECT_EQ(file_probe::bits_of("/tmp/orv"), 0755u);
        // A folder that others may write into is not used.
        chmod("/tmp/orv", 0777);
        EXPECT_EQ(OS_CLI_create_tmp_script(order_, "echo again", dir, name), CM_RC_FAIL);
        chmod("/tmp/orv", 0755);
    }
    EXPECT_EQ(OS_CLI_create_tmp_script(order_, nullptr, dir, name), CM_RC_FAIL);
}

TEST_F(TmpScriptTest, ALinkAtTheScriptNameIsNotFollowed) {
    PATHNAME_D_typ dir = "", name = "";
    ASSERT_EQ(OS_CLI_create_tmp_script(order_, "true", dir, name), CM_RC_OK);  // the folder exists
    unlink(script_.c_str());
    home.write_file("victim", "keep\n");
    ASSERT_EQ(symlink((home.path() + "/victim").c_str(), script_.c_str()), 0);
    EXPECT_EQ(OS_CLI_create_tmp_script(order_, "echo overwritten", dir, name), CM_RC_FAIL);
    EXPECT_EQ(home.read_file("victim"), "keep\n");
}

}  // namespace
