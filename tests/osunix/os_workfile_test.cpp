// Work-file names, library paths, home-directory expansion, temporary names, pattern matches and
// the housekeeping of configuration backups and upgrade leftovers.
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "gm_param.h"
#include "os_workfile.h"
#include "testbed.h"

using testbed::AgentHomeTest;

namespace {

std::string current_user() { return getpwuid(geteuid())->pw_name; }
std::string current_home() { return getpwuid(geteuid())->pw_dir; }

// Tests that read parameter tables release the process's table cache at the end.
class WorkFileTableTest : public AgentHomeTest {
protected:
    void TearDown() override { GM_PARAM_clear(); }
};

}  // namespace

TEST_F(AgentHomeTest, WorkFileNamesFollowTypeOrderAndRunNumber) {
    struct Case {
        OS_FILE_FILETYPE type;
        const char* order;
        int run;
        const char* file;
        std::string full;
    };
    const std::string procid = home.path() + "/./procid/";
    const Case cases[] = {
        {OS_FILE_PROCID, "0001A", 3, "0001A_3.dat", procid + "0001A_3.dat"},
        {OS_FILE_PROCID, "00B2C", 1234, "00B2C_1234.dat", procid + "00B2C_1234.dat"},
        {OS_FILE_ECF, "0001A", 35, "0001A_000z.dsect", "./status/0001A_000z.dsect"},
        {OS_FILE_EXITFILE, "0001A", 36, "0001A_0010.dsect", "./backup/0001A_0010.dsect"},
        // only the four lowest base-36 digits remain: 36^4 + 1 gives 0001
        {OS_FILE_EXITFILE, "0001A", 36 * 36 * 36 * 36 + 1, "0001A_0001.dsect", "./backup/0001A_0001.dsect"},
        {OS_FILE_INSTREAM, "0001A", 2, "INSTREAM_0001A_0002", "./temp/INSTREAM_0001A_0002"},
        {OS_FILE_SSH_TMP, "0001A", 71, "0001A_001z_sshTmp.dat", "./temp/0001A_001z_sshTmp.dat"},
    };
    for (const auto& c : cases) {
        PATHNAME_D_typ full = {}, file = {};
        ASSERT_EQ(OS_FILE_build_filetype(c.order, c.run, full, file, c.type), CM_RC_OK) << c.file;
        EXPECT_STREQ(file, c.file);
        EXPECT_EQ(std::string(full), c.full);
    }
}

TEST_F(AgentHomeTest, WorkFileTypesWithoutANameLeaveTheOutputsAlone) {
    struct Case {
        OS_FILE_FILETYPE type;
        CM_RC rc;
    };
    for (const Case c :
         {Case{OS_FILE_SYSOUT, CM_RC_OK}, Case{OS_FILE_LOG, CM_RC_OK}, Case{OS_FILE_PID, CM_RC_OK},
          Case{OS_FILE_DATAFILE, CM_RC_OK}, Case{OS_FILE_TMP, CM_RC_OK}, Case{OS_FILE_BKFILE, CM_RC_FAIL},
          Case{OS_FILE_ONSTMT, CM_RC_FAIL}, Case{static_cast<OS_FILE_FILETYPE>(12), CM_RC_FAIL}}) {
        PATHNAME_D_typ full = "full", file = "file";
        EXPECT_EQ(OS_FILE_build_filetype("0001A", 1, full, file, c.type), c.rc) << c.type;
        EXPECT_STREQ(full, "full");
        EXPECT_STREQ(file, "file");
    }
}

TEST_F(AgentHomeTest, WorkFileNameFailures) {
    PATHNAME_D_typ full = "full", file = "file";
    EXPECT_EQ(OS_FILE_build_filetype("0001A", 1, nullptr, file, OS_FILE_PROCID), CM_RC_FAIL);
    EXPECT_EQ(OS_FILE_build_filetype("0001A", 1, full, nullptr, OS_FILE_PROCID), CM_RC_FAIL);
    // A name that would not fit the path buffer is refused, not cut.
    const std::string huge(5000, 'o');
    EXPECT_EQ(OS_FILE_build_filetype(huge.c_str(), 1, full, file, OS_FILE_PROCID), CM_RC_FAIL);
    EXPECT_STREQ(full, "full");
    unsetenv("ORVANTA");
    EXPECT_EQ(OS_FILE_build_filetype("0001A", 1, full, file, OS_FILE_PROCID), CM_RC_FAIL);
    EXPECT_STREQ(file, "file");
}

TEST_F(AgentHomeTest, PathTranslationExpandsHomeReferences) {
    const std::string user = current_user(), h = current_home();
    const std::string slash = (!h.empty() && h.back() == '/') ? "" : "/";
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"$HOME", h},
        {"$HOME/logs/a.log", h + slash + "logs/a.log"},
        {"~", h + slash},
        {"~/", h + slash},
        {"~/a b", h + slash + "a b"},
        {"~   ", h + slash},
        {"~" + user + "/x y", h + slash + "x"},  // a named user's path ends at the first blank
        {"~" + user, h + slash},
        {"/abs/path", "/abs/path"},
        {"rel/path", "rel/path"},
    };
    for (const auto& c : cases) {
        char path[256];
        std::snprintf(path, sizeof path, "%s", c.in.c_str());
        ASSERT_EQ(OS_FILE_path_trans(path, (user + "  ").c_str()), CM_RC_OK) << c.in;
        EXPECT_EQ(std::string(path), c.out) << c.in;
    }
}

TEST_F(AgentHomeTest, PathTranslationRefusalsLeaveThePathUnchanged) {
    const std::string user = current_user();
    const std::string too_long = "$HOME/" + std::string(254, 'x');
    for (const std::string& in : {too_long, std::string("~appbridge_no_such_user/x")}) {
        char path[512];
        std::snprintf(path, sizeof path, "%s", in.c_str());
        EXPECT_EQ(OS_FILE_path_trans(path, user.c_str()), CM_RC_FAIL) << in;
        EXPECT_EQ(std::string(path), in);
    }
    char path[64] = "$HOME/x";
    EXPECT_EQ(OS_FILE_path_trans(path, "appbridge_no_such_user"), CM_RC_FAIL);
}

TEST_F(AgentHomeTest, HomeDirectoriesComeFromTheUserDatabase) {
    PATHNAME_D_typ dir = {};
    ASSERT_EQ(os_file_get_home_dir((current_user() + " ").c_str(), dir), CM_RC_OK);
    EXPECT_EQ(std::string(dir), current_home());
    EXPECT_EQ(os_file_get_home_dir("appbridge_no_such_user", dir), CM_RC_FAIL);
    ASSERT_EQ(OS_FILE_get_agent_home_dir(dir), CM_RC_OK);  // the owner of the temporary home
    EXPECT_EQ(std::string(dir), current_home());
}

TEST_F(AgentHomeTest, TemporaryNamesCountUpWithinTheProcess) {
    PATHNAME_D_typ full1, full2;
    MEMBER_D_typ member1, member2;
    OS_FILE_create_tmp_filename("/var/tmp   ", full1, member1);
    OS_FILE_create_tmp_filename("", full2, member2);
    const std::string prefix = "TMP" + std::to_string(getpid());
    const std::string m1 = member1, m2 = member2;
    ASSERT_EQ(m1.rfind(prefix, 0), 0u);
    ASSERT_EQ(m2.rfind(prefix, 0), 0u);
    EXPECT_EQ(std::stoi(m2.substr(prefix.size())), std::stoi(m1.substr(prefix.size())) + 1);
    EXPECT_EQ(std::string(full1), "/var/tmp/" + m1);
    EXPECT_EQ(std::string(full2), "./TEMP/" + m2);
}

TEST_F(AgentHomeTest, OverrideLibraryIsChosenOnlyWhenItHoldsTheMember) {
    home.write_file("over/job.sh", "echo\n");
    struct Case {
        const char* over;
        const char* member;
        const char* lib;
        const char* path;
    };
    const Case cases[] = {
        {"over/", "job.sh", "over/", "over//job.sh"},
        {"over", "job.sh  ", "lib", "lib/job.sh"},  // the member as given is not in the override
        {"over", "other.sh", "lib", "lib/other.sh"},
        {"   ", "job.sh", "lib", "lib/job.sh"},
    };
    for (const auto& c : cases) {
        LIBRARY_D_typ chosen = {};
        EXPECT_EQ(OS_FILE_setlib("lib  ", c.over, c.member, chosen), CM_RC_OK);
        EXPECT_EQ(std::string(chosen), std::string(c.lib) == "lib" ? "lib  " : c.lib) << c.over << c.member;
        PATHNAME_D_typ path = {};
        EXPECT_EQ(OS_FILE_build_filename(path, "lib  ", c.over, c.member, "", ""), CM_RC_OK);
        EXPECT_STREQ(path, c.path);
    }
}

TEST_F(AgentHomeTest, WildCardListGivesTheFirstMatchWithoutAShell) {
    home.write_file("w/b.dat", "");
    home.write_file("w/a.dat", "");
    home.write_file("w/c.txt", "");
    PATHNAME_D_typ first = {};
    ASSERT_EQ(OS_FILE_open_wild_card_list(nullptr, "w/*.dat", first), CM_RC_OK);
    EXPECT_STREQ(first, "w/a.dat");
    EXPECT_EQ(OS_FILE_open_wild_card_list(nullptr, "w/*.none", first), CM_RC_FAIL);
    // Shell syntax in a pattern is only text: nothing runs.
    EXPECT_EQ(OS_FILE_open_wild_card_list(nullptr, "w/*.dat; touch injected", first), CM_RC_FAIL);
    EXPECT_EQ(OS_FILE_open_wild_card_list(nullptr, "$(touch injected)", first), CM_RC_FAIL);
    EXPECT_FALSE(home.exists("injected"));
    EXPECT_FALSE(home.exists("OS_FILE_open_wild_card_list_fn"));
}

TEST_F(WorkFileTableTest, ConfigBackupSavesTheLoadedTable) {
    home.write_file("data/CONFIG.dat", "AG_LOG_ON Y\nDBGLVL 3\n");
    home.write_file("data/cfg_backup/.keep", "");
    GM_PARAM_VALUE_typ value;
    ASSERT_EQ(GM_PARAM_get("CONFIG", "DBGLVL", value), CM_RC_OK);
    ASSERT_EQ(OS_FILE_save_config_backup("CONFIG"), CM_RC_OK);
    const std::string saved = home.read_file("data/cfg_backup/CONFIG.bak");
    EXPECT_NE(saved.find("AG_LOG_ON"), std::string::npos);
    EXPECT_NE(saved.find("DBGLVL"), std::string::npos);
    EXPECT_NE(OS_FILE_save_config_backup("NO_SUCH_TABLE"), CM_RC_OK);
}

TEST_F(WorkFileTableTest, UpgradeLeftoversAreRemovedOnlyWhenNoOldJobRuns) {
    home.write_file("data/MSGTBL.dat", "0041 Upgrade clean-up of %s %s\n");
    home.write_file("exe_old/bin/old_prog", "x");
    home.write_file("data/upgrade_running_jobs.dat", "JOB1_0001.dsect\n\nJOB2_0001.dsect\n");
    home.write_file("status/JOB2_0001.dsect", "running");

    EXPECT_EQ(OS_FILE_clean_upgrade_files(), CM_RC_OK);
    EXPECT_TRUE(home.exists("exe_old/bin/old_prog"));
    EXPECT_TRUE(home.exists("data/upgrade_running_jobs.dat"));

    std::remove("status/JOB2_0001.dsect");
    EXPECT_EQ(OS_FILE_clean_upgrade_files(), CM_RC_OK);
    EXPECT_FALSE(home.exists("exe_old"));
    EXPECT_FALSE(home.exists("data/upgrade_running_jobs.dat"));

    // The daily log tells both outcomes.
    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(home.path() + "/dailylog"))
        log += testbed::read_whole_file(entry.path().string());
    EXPECT_NE(log.find(" 41 Upgrade clean-up of "), std::string::npos) << log;
    EXPECT_NE(log.find("WAS NOT PERFORMED. OLD JOBS ARE STILL RUNNING."), std::string::npos) << log;
    EXPECT_NE(log.find("HAS COMPLETED SUCCESSFULY."), std::string::npos) << log;

    EXPECT_EQ(OS_FILE_clean_upgrade_files(), CM_RC_FAIL);  // no list: not an upgrade
}
