// Agent utilities run through a pipe, the process name from the agent's OS-services library, and
// the OEBS accounts loaded from the accounts file or a central profile's cache file.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "agent_utilities.h"
#include "be_def.h"
#include "be_fixture.h"
#include "gm_param.h"
#include "os_diag.h"
#include "testbed.h"

namespace {

using betest::OwnedList;

class AgentUtilityTest : public betest::HomeTest {
protected:
    void SetUp() override { testbed::use_agent_utilities(home); }
    void use_fixture(const std::string& content) { testbed::use_agent_fixture(home, content); }
    std::string calls() { return testbed::agent_calls(home); }
};

constexpr const char* kFixture = R"(
[orvagcpk -p]
out: Encryption type :   aes
err: Key aliases file name : /agent/keys/aliases.txt
out: Encryption type : second
[orvagenv NOCOLON]
out: SaaS on
[orvagenv QUIET]
[orvgetccp]
out: "data" : "QUJDRA==",
)";

TEST_F(AgentUtilityTest, ValueIsTakenFromTheFirstLineHoldingTheKey) {
    use_fixture(kFixture);
    struct Case {
        const char* command;
        const char* args;
        const char* key;
        int rc;
        const char* value;  // outBuf afterwards
    } cases[] = {
        {"orvagcpk ", "-p 2>& 1", "Encryption type", 0, "aes"},
        {"orvagcpk ", "-p 2>& 1", "Key aliases file name", 0, "/agent/keys/aliases.txt"},
        {"orvagcpk ", "-p 2>&1", "Key aliases file name", 0, "/agent/keys/aliases.txt"},
        {"orvagcpk ", "-p", "Key aliases file name", 3, "untouched"},  // only on the error output
        {"orvagenv", "NOCOLON", "SaaS", 0, ""},
        {"orvagenv", "QUIET", "SaaS", 3, "untouched"},
        {"orvgetccp", "-name ACC1 -type OEBS", "data", 0, "\"QUJDRA==\","},
    };
    for (const Case& c : cases) {
        char out[BE_DUZ_UTIL_VALUE_SIZE] = "untouched";
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_get_agent_util_info(c.command, c.args, c.key, out, &error), c.rc) << c.args << " " << c.key;
        EXPECT_STREQ(out, c.value) << c.args << " " << c.key;
        if (c.rc == 3) {
            EXPECT_EQ(error.code, 1u);
            EXPECT_EQ(std::string(error.text),
                      std::string("CM for OEBS: Could not find key '") + c.key + "' in " + c.command + " output");
        }
    }
}

TEST_F(AgentUtilityTest, MissingUtilityCannotBeStarted) {
    use_fixture(kFixture);
    char out[BE_DUZ_UTIL_VALUE_SIZE] = "untouched";
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_get_agent_util_info("orvnosuchutility", "-p 2>& 1", "x", out, &error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Error opening pipe for command orvnosuchutility -p 2>& 1");
    EXPECT_STREQ(out, "untouched");
}

TEST_F(AgentUtilityTest, ShellCharactersInArgumentsReachTheUtilityAsPlainText) {
    use_fixture(kFixture);
    const char* hostile[] = {
        "ACC;touch${IFS}pwned1", "ACC|touch${IFS}pwned2",  "`touch${IFS}pwned3`",
        "$(touch${IFS}pwned4)",  "ACC&&touch${IFS}pwned5", "'\"ACC\"'>pwned6",
    };
    for (const char* name : hostile) {
        std::string args = std::string("-name ") + name + " -type OEBS";
        char out[BE_DUZ_UTIL_VALUE_SIZE] = "";
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_get_agent_util_info("orvgetccp", args.c_str(), "data", out, &error), 0) << name;
        EXPECT_NE(calls().find(std::string("orvgetccp -name ") + name + " -type OEBS\n"), std::string::npos) << name;
    }
    for (int i = 1; i <= 6; ++i) EXPECT_FALSE(home.exists("pwned" + std::to_string(i))) << i;

    // Given one by one, a name with blanks stays one argument.
    const char* argv[] = {"-name", "MY ACC; rm -rf x", "-type", "OEBS", nullptr};
    char out[BE_DUZ_UTIL_VALUE_SIZE] = "";
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_get_agent_util_info_argv("orvgetccp", argv, 1, "data", out, &error), 0);
    EXPECT_STREQ(out, "\"QUJDRA==\",");
    EXPECT_NE(calls().find("orvgetccp -name MY ACC; rm -rf x -type OEBS\n"), std::string::npos);
}

TEST_F(AgentUtilityTest, TokenArgumentReachesTheUtilityButNeitherTheLogNorTheErrorText) {
    use_fixture(kFixture);
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    const char* argv[] = {"-name", "ACC", "-type", "OEBS", "-TOKEN", "S3cr3tT0k3n", nullptr};
    char out[BE_DUZ_UTIL_VALUE_SIZE] = "";
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_get_agent_util_info_argv("orvgetccp", argv, 0, "data", out, &error), 0);
    EXPECT_NE(calls().find("-TOKEN S3cr3tT0k3n"), std::string::npos);
    EXPECT_EQ(BE_DUZ_get_agent_util_info_argv("orvnosuchutility", argv, 0, "data", out, &error), 1);
    EXPECT_STREQ(error.text,
                 "CM for OEBS: Error opening pipe for command orvnosuchutility -name ACC -type OEBS -TOKEN ********");
    const std::string log = testbed::read_diag_log("Oebs_CM");
    EXPECT_NE(log.find("-TOKEN ********"), std::string::npos);
    EXPECT_EQ(log.find("S3cr3tT0k3n"), std::string::npos);
}

TEST_F(AgentUtilityTest, OutputLinesCarryingSecretsAreNotTraced) {
    use_fixture(R"(
[orvagcpk -p]
out: Encryption type : aes
out: Password : s3cret-one
out: Key aliases file name : /agent/keys/aliases.txt
[orvgetccp -name ACC -type OEBS]
out: "name" : "ACC",
out: "data" : "UFJPRklMRS1EQVRB",
)");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(5);
    char out[BE_DUZ_UTIL_VALUE_SIZE] = "";
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_get_agent_util_info("orvagcpk ", "-p 2>& 1", "Key aliases file name", out, &error), 0);
    ASSERT_EQ(BE_DUZ_get_agent_util_info("orvgetccp", "-name ACC -type OEBS", "data", out, &error), 0);
    EXPECT_STREQ(out, "\"UFJPRklMRS1EQVRB\",");
    const std::string log = testbed::read_diag_log("Oebs_CM");
    EXPECT_NE(log.find("Encryption type : aes"), std::string::npos) << log;
    EXPECT_EQ(log.find("s3cret-one"), std::string::npos) << log;
    EXPECT_EQ(log.find("UFJPRklMRS1EQVRB"), std::string::npos) << log;  // the profile utility's output
    EXPECT_EQ(log.find("\"name\""), std::string::npos) << log;
}

TEST_F(AgentUtilityTest, ProcessNameComesFromTheAgentsLibraryOnceItIsThere) {
    setenv("APPBRIDGE_PROC_NAME", "ORVEXTRACT", 1);
    char name[BE_DUZ_PROC_NAME_SIZE] = "stale";
    BE_DUZ_get_proc_name(name);
    EXPECT_STREQ(name, "");  // ./exe/libQELOS.so is missing: unknown, asked again next time
    std::filesystem::create_directories(home.path() + "/exe");
    std::filesystem::copy_file(APPBRIDGE_QELOS_LIBRARY, home.path() + "/exe/libQELOS.so");
    BE_DUZ_get_proc_name(name);
    EXPECT_STREQ(name, "ORVEXTRACT");
    setenv("APPBRIDGE_PROC_NAME", "OTHER", 1);
    BE_DUZ_get_proc_name(name);
    EXPECT_STREQ(name, "ORVEXTRACT");  // learnt once per process
}

TEST_F(AgentUtilityTest, AgentDirIsTheOrvantaVariable) {
    PATHNAME_D_typ dir = "";
    EXPECT_EQ(BE_DUZ_get_agent_dir(dir), CM_RC_OK);
    EXPECT_EQ(std::string(dir), home.path());
    unsetenv("ORVANTA");
    EXPECT_EQ(BE_DUZ_get_agent_dir(dir), CM_RC_FAIL);
}

using AccountSourceTest = betest::HomeTest;

constexpr const char* kAccounts = "[PROD]\nDB_SID PRD\nDB_LOGIN apps\n[TEST]\nDB_SID TST\n";

std::string sid_of(ZPALIST_handle_typ* account) {
    char value[64] = "";
    return GM_PARAM_list_get(account, "DB_SID", value, sizeof value) == CM_RC_OK ? value : "<none>";
}

TEST_F(AccountSourceTest, LocalProfileComesFromTheAccountsFile) {
    home.write_file("data/DUZ_inst.dat", kAccounts);
    ZPALIST_handle_typ all{};
    ZPALIST_handle_typ* account = nullptr;
    ASSERT_EQ(BE_DUZ_load_LCP_from_File(&all, &account, "TEST"), 0);
    EXPECT_EQ(sid_of(account), "TST");
    // The same list serves the next load; a miss leaves it empty.
    EXPECT_EQ(BE_DUZ_load_LCP_from_File(&all, &account, "NONE"), 3);
    EXPECT_EQ(all.first, nullptr);
    std::remove("data/DUZ_inst.dat");
    EXPECT_EQ(BE_DUZ_load_LCP_from_File(&all, &account, "PROD"), 1);
    EXPECT_EQ(all.first, nullptr);
}

TEST_F(AccountSourceTest, CentralProfileComesFromTheJobsCacheFile) {
    home.write_file("data/OEBS.dat", "CM_DIR " + home.path() + "/cm/DUZ\n");
    home.write_file("cm/ccp_cache/0001A_1a_cache.dat", "[CENTRAL]\nDB_SID CEN\n");
    home.write_file("cm/ccp_cache/CENTRAL_cache.dat", "[CENTRAL]\nDB_SID WATCH\n");
    OwnedList job{{"ORDERNO", "0001A"}, {"RUNNO", "26"}};
    ZPALIST_handle_typ all{};
    ZPALIST_handle_typ* account = nullptr;
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_load_CCP_from_file(&all, &account, "CENTRAL", job.list(), "TRACK", &error), 0);
    EXPECT_EQ(sid_of(account), "CEN");
    ASSERT_EQ(BE_DUZ_load_CCP_from_file(&all, &account, "CENTRAL", nullptr, "TUNNEL", &error), 0);
    EXPECT_EQ(sid_of(account), "WATCH");
    EXPECT_EQ(BE_DUZ_load_CCP_from_file(&all, &account, "OTHER", nullptr, "TUNNEL", &error), 1);
    EXPECT_EQ(BE_DUZ_load_CCP_from_file(&all, &account, "PROD", job.list(), "STATISTICS", &error), 3);
    OwnedList no_run{{"ORDERNO", "0001A"}};
    EXPECT_NE(BE_DUZ_load_CCP_from_file(&all, &account, "CENTRAL", no_run.list(), "TRACK", &error), 0);
    BE_DUZ_subtable_list_clear(&all);
}

TEST_F(AccountSourceTest, CleaningTheTrackingCacheReportsZeroOnlyWhenDeleted) {
    home.write_file("data/OEBS.dat", "CM_DIR " + home.path() + "/cm/DUZ\n");
    home.write_file("cm/ccp_cache/0001A_a_cache.dat", "[X]\n");
    OwnedList job{{"ORDERNO", "0001A"}, {"RUNNO", "10"}};
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_clean_ccp_cache_file(job.list(), &error), 0);
    EXPECT_FALSE(home.exists("cm/ccp_cache/0001A_a_cache.dat"));
    EXPECT_NE(BE_DUZ_clean_ccp_cache_file(job.list(), &error), 0);  // nothing left to delete
    OwnedList no_order{{"RUNNO", "10"}};
    EXPECT_NE(BE_DUZ_clean_ccp_cache_file(no_order.list(), &error), 0);
    std::remove("data/OEBS.dat");
    GM_PARAM_clear();
    EXPECT_NE(BE_DUZ_clean_ccp_cache_file(job.list(), &error), 0);  // no CM_DIR: no path
}

TEST_F(AccountSourceTest, OrderNumberCannotLeadTheCacheFileOutOfItsFolder) {
    // The order number is part of the cache file's name: one that holds a path must neither
    // delete nor read a file outside ccp_cache.
    home.write_file("data/OEBS.dat", "CM_DIR " + home.path() + "/cm/DUZ\n");
    home.write_file("data/victim_1_cache.dat", "[CENTRAL]\nDB_SID OUTSIDE\n");
    struct Case {
        const char* orderno;
    } cases[] = {{"../../data/victim"}, {"../../data/../data/victim"}, {"/tmp/../x"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.orderno);
        OwnedList job{{"ORDERNO", c.orderno}, {"RUNNO", "1"}};
        ZPAError error{};
        EXPECT_NE(BE_DUZ_clean_ccp_cache_file(job.list(), &error), 0);
        EXPECT_TRUE(home.exists("data/victim_1_cache.dat"));
        ZPALIST_handle_typ all{};
        ZPALIST_handle_typ* account = nullptr;
        EXPECT_EQ(BE_DUZ_load_CCP_from_file(&all, &account, "CENTRAL", job.list(), "TRACK", &error), 1);
        EXPECT_EQ(all.first, nullptr);
    }
    PATHNAME_D_typ path = "";
    EXPECT_EQ(BE_DUZ_full_ccp_file_path("../x_cache", path), 1);
    EXPECT_EQ(BE_DUZ_full_ccp_file_path("..", path), 1);
}

TEST_F(AccountSourceTest, CacheFileNameThatWouldBeCutIsRefused) {
    // Cut to 63 characters, the name would lose its suffix or run number and could be another
    // profile's or another run's cache file.
    const std::string long_profile(60, 'P');
    const std::string long_order(58, 'O');
    OwnedList job{{"ORDERNO", long_order.c_str()}, {"RUNNO", "26"}};
    struct Case {
        const char* type;
        const char* profile;
    } cases[] = {{"TUNNEL", long_profile.c_str()}, {"TRACK", "ACC"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        char name[BE_DUZ_CCP_NAME_SIZE] = "x";
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_create_ccp_cache_file_name(c.type, c.profile, name, job.list(), &error), 1);
        EXPECT_STREQ(name, "");
        EXPECT_NE(std::string(error.text).find("longer than 63"), std::string::npos) << error.text;
    }
    char name[BE_DUZ_CCP_NAME_SIZE] = "";
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_create_ccp_cache_file_name("TUNNEL", std::string(57, 'P').c_str(), name, nullptr, &error), 0);
    EXPECT_EQ(std::string(name), std::string(57, 'P') + "_cache");
}

TEST(AccountHelpers, SpecialCharactersAndClearing) {
    struct Case {
        std::string in, out;
    } cases[] = {{"A\x02"
                  "B\x02",
                  "AB"},
                 {"\x02\x02", ""},
                 {"plain", "plain"},
                 {"", ""}};
    for (Case& c : cases) {
        RemoveSpecialChars(c.in.data());
        EXPECT_STREQ(c.in.c_str(), c.out.c_str());
    }
    RemoveSpecialChars(nullptr);
    ZPALIST_handle_typ empty{};
    EXPECT_EQ(BE_DUZ_subtable_list_clear(nullptr), CM_RC_OK);
    EXPECT_EQ(BE_DUZ_subtable_list_clear(&empty), CM_RC_OK);
}

}  // namespace
