// Central connection profiles: fetched through the profile utility or the job's CP_DATA,
// decrypted with the global key, written into their cache file and read from it later; the
// account-section writer and reader they share with the configuration manager.
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "passwords_fixture.h"

namespace {

using pwtest::Attrs;
using pwtest::PasswordsTest;
using pwtest::Sections;

std::string account_xml(const std::string& password, const std::string& login = "<APPSLoginName>apps</APPSLoginName>") {
    return "<DBServiceName>VIS</DBServiceName>" + login + "<APPSPassword>" + password +
           "</APPSPassword><NLSLanguage>AMERICAN</NLSLanguage><EnableLogOutput>N</EnableLogOutput>"
           "<AppendLog>Y</AppendLog><AppendOutput>Y</AppendOutput><ConvertWarningToOK>N</ConvertWarningToOK>"
           "<MonitorChildReq>Y</MonitorChildReq><JobCompDependChild>N</JobCompDependChild>";
}

class CcpTest : public PasswordsTest {
protected:
    // The profile as the server hands it out: the account's XML under the global key, in Base64.
    std::string profile_data(const std::string& xml) {
        char cipher[4096] = {};
        int len = sizeof cipher;
        EXPECT_EQ(BE_DUZ_encrypt_aes_global(xml.c_str(), cipher, &len, &err), 0) << err.text;
        int n = 0;
        std::unique_ptr<char, decltype(&std::free)> text(
            base64_encode(reinterpret_cast<unsigned char*>(cipher), len, &n), &std::free);
        return std::string(text.get(), static_cast<std::size_t>(n));
    }
    std::string cache(const std::string& name) const { return "cm/DUZ/ccp_cache/" + name + ".dat"; }
    std::string cache_path(const std::string& name) const { return home.path() + "/" + cache(name); }
};

TEST_F(CcpTest, ProfileIsFetchedCachedAndThenReadFromTheCacheWithoutTheUtility) {
    const std::string data = profile_data(account_xml("pw1"));
    use_agent("aes", "[orvgetccp -name ACC1 -type OEBS]\nout: \"data\" : \"" + data + "\",\n");
    Attrs job{{"ORDERNO", "0001A"}, {"RUNNO", "26"}, {"CP_DATA", data}};
    char name[BE_DUZ_CCP_NAME_SIZE] = "";

    ASSERT_EQ(BE_DUZ_load_ccp_data_to_file("ACC1", name, "UNDEFINED", nullptr, &err), 0) << err.text;
    EXPECT_STREQ(name, "ACC1_cache");
    Sections cached;
    ASSERT_TRUE(cached.load(cache_path("ACC1_cache")));
    EXPECT_EQ(cached.get("ACC1", "DB_SID"), "VIS");
    EXPECT_EQ(cached.get("ACC1", "CM_APPL_TYPE"), "OEBS");
    EXPECT_EQ(cached.get("ACC1", "DUZ-WAITCHILD"), "Y");
    const std::string stored = cached.get("ACC1", "DB_PASSWD");
    EXPECT_EQ(stored.rfind(BE_DUZ_LOCAL_PREFIX, 0), 0u);
    EXPECT_EQ(decrypted(stored), "pw1");
    EXPECT_NE(calls().find("orvgetccp -name ACC1 -type OEBS"), std::string::npos);

    // The submission caches under the job; its tracking uses that cache and asks nobody.
    ASSERT_EQ(BE_DUZ_load_ccp_data_to_file("ACC1", name, "SUBMIT", &job.list, &err), 0) << err.text;
    EXPECT_STREQ(name, "0001A_1a_cache");
    EXPECT_TRUE(home.exists(cache("0001A_1a_cache")));
    const std::string before = calls();
    for (const char* type : {"TRACK", "TRACK_INIT", "STATISTICS"}) {
        ASSERT_EQ(BE_DUZ_load_ccp_data_to_file("ACC1", name, type, &job.list, &err), 0) << type;
        EXPECT_STREQ(name, "0001A_1a_cache");
    }
    EXPECT_EQ(calls(), before);
    ZPALIST_handle_typ all{};
    ZPALIST_handle_typ* account = nullptr;
    ZPALIST_init(&all);
    ASSERT_EQ(BE_DUZ_load_CCP_from_file(&all, &account, "ACC1", &job.list, "TRACK", &err), 0);
    char sid[64] = "";
    EXPECT_EQ(GM_PARAM_list_get(account, "DB_SID", sid, sizeof sid), CM_RC_OK);
    EXPECT_STREQ(sid, "VIS");
    BE_DUZ_subtable_list_clear(&all);
}

TEST_F(CcpTest, LocalAccountIsNeverFetched) {
    // Section names are upper-cased when the file is read: an account given in lower case is local too.
    home.write_file("data/DUZ_inst.dat", "[ACC1]\nDB_SID LOCALDB\n");
    use_agent("aes", "[orvagenv SaaS]\nout: SaaS : on\n");
    for (const char* account : {"ACC1", "acc1"}) {
        SCOPED_TRACE(account);
        char name[BE_DUZ_CCP_NAME_SIZE] = "";
        EXPECT_EQ(BE_DUZ_is_account_lcp(account, &err), 0);
        EXPECT_EQ(BE_DUZ_load_ccp_data_to_file(account, name, "UNDEFINED", nullptr, &err), 3);
    }
    EXPECT_EQ(calls().find("orvgetccp"), std::string::npos);
    EXPECT_EQ(calls().find("orvagenv"), std::string::npos);
}

TEST_F(CcpTest, MissingProfileFallsBackToTheAccountsFile) {
    use_agent("aes", "[orvgetccp]\nerr: profile not found\nexit: 3\n");
    Attrs job{{"ORDERNO", "A1"}, {"RUNNO", "1"}};
    char name[BE_DUZ_CCP_NAME_SIZE] = "";
    EXPECT_EQ(BE_DUZ_load_ccp_data_to_file("NOPE", name, "UNDEFINED", nullptr, &err), 3);
    EXPECT_NE(std::string(err.text).find("Could not get CCP 'NOPE' from ccp utility"), std::string::npos) << err.text;
    EXPECT_EQ(BE_DUZ_load_ccp_data_to_file("NOPE", name, "SUBMIT", &job.list, &err), 3);
    EXPECT_NE(std::string(err.text).find("Could not get CP_DATA job attributes"), std::string::npos) << err.text;
    EXPECT_EQ(err.code, 3u);
}

TEST_F(CcpTest, ProfileNamesThatCouldLeaveTheCacheFolderOrReachAShellAreRefused) {
    use_agent("aes", "[orvgetccp]\nout: \"data\" : \"" + profile_data(account_xml("pw")) + "\",\n");
    for (const char* bad : {"../../data/DUZ_inst", "a/b", "..", "x\ny"}) {
        char name[BE_DUZ_CCP_NAME_SIZE] = "";
        EXPECT_EQ(BE_DUZ_load_ccp_data_to_file(bad, name, "UNDEFINED", nullptr, &err), 1) << bad;
    }
    EXPECT_FALSE(home.exists("data/DUZ_inst.dat"));
    EXPECT_EQ(calls().find("orvgetccp"), std::string::npos);

    // Shell characters are plain characters of one argument: nothing runs, the name arrives whole.
    // (A blank is no shell character here: a name holding one cannot be a section of the cache.)
    const std::string shelly = "p;touch${IFS}pwned;$(touch${IFS}pwned2)";
    char name[BE_DUZ_CCP_NAME_SIZE] = "";
    EXPECT_EQ(BE_DUZ_load_ccp_data_to_file(shelly.c_str(), name, "UNDEFINED", nullptr, &err), 0) << err.text;
    EXPECT_FALSE(home.exists("pwned"));
    EXPECT_FALSE(home.exists("pwned2"));
    EXPECT_NE(calls().find("orvgetccp -name " + shelly + " -type OEBS"), std::string::npos) << calls();
    EXPECT_TRUE(home.exists(cache(shelly + "_cache")));
}

TEST_F(CcpTest, ServiceHostedAgentPassesTheTokenEncryptedWithTheLocalKey) {
    use_agent("aes", "[orvagenv SaaS]\nout: SaaS : on\n[orvgetccp]\nout: \"data\" : \"" +
                         profile_data(account_xml("pw")) + "\",\n");
    EXPECT_EQ(BE_DUZ_is_Agent_SaaS(&err), 1);
    char data[BE_DUZ_CCP_DATA_SIZE] = "";
    ASSERT_EQ(BE_DUZ_get_ccp_from_util("ACC2", data, &err), 0) << err.text;
    const std::string log = calls();
    const std::size_t at = log.find("-TOKEN ");
    ASSERT_NE(at, std::string::npos) << log;
    std::string token = log.substr(at + 7, log.find('\n', at) - at - 7);
    EXPECT_EQ(token.rfind(BE_DUZ_LOCAL_PREFIX, 0), 0u);
    EXPECT_EQ(decrypted(token).size(), 16u);

    use_agent("aes", "[orvagenv SaaS]\nout: SaaS : On\n");
    EXPECT_EQ(BE_DUZ_is_Agent_SaaS(&err), 0);
}

TEST_F(CcpTest, UtilityValueIsCleanedAndBadProfileDataIsRefused) {
    char out[64];
    const struct {
        const char* value;
        const char* cleaned;
    } cases[] = {{"\"abc\",", "abc"}, {"ab", ""}, {"\"\",", ""}};
    for (const auto& c : cases) {
        BE_DUZ_clean_ccp_encrypted_data(c.value, out);
        EXPECT_STREQ(out, c.cleaned);
    }
    char plain[BE_DUZ_CCP_DATA_SIZE];
    int len = sizeof plain;
    EXPECT_EQ(BE_DUZ_decrypt_ccp("abc", plain, &len, &err), 1);
    EXPECT_STREQ(err.text, "CM for OEBS: Decode CCP error");
    const std::string huge(5464, 'A');  // decodes to 4098 bytes: more than the cipher buffer holds
    len = sizeof plain;
    EXPECT_EQ(BE_DUZ_decrypt_ccp(huge.c_str(), plain, &len, &err), 1);
}

TEST_F(CcpTest, CacheNeedsCmDir) {
    home.write_file("data/OEBS.dat", "OTHER x\n");
    use_agent("aes", "[orvgetccp]\nout: \"data\" : \"" + profile_data(account_xml("pw")) + "\",\n");
    char name[BE_DUZ_CCP_NAME_SIZE] = "";
    EXPECT_EQ(BE_DUZ_load_ccp_data_to_file("ACC1", name, "UNDEFINED", nullptr, &err), 1);
    EXPECT_NE(std::string(err.text).find("Could not create ccp file"), std::string::npos);
}

TEST_F(CcpTest, AccountWriterStoresTheGlobalPasswordUnderTheLocalKey) {
    home.write_file("data/DUZ_inst.dat", "[OLD]\nDB_SID X\n[KEEP]\nDB_SID K\n");
    std::string xml = account_xml(encrypted("secret", GLOBAL));
    char old_name[] = "OLD";
    char new_name[] = "NEW";
    ASSERT_EQ(BE_DUZ_PKM_populate_account_data(old_name, new_name, xml.data(), nullptr, nullptr, nullptr, nullptr,
                                               nullptr, &err),
              0)
        << err.text;
    EXPECT_STREQ(err.text, "");
    Sections file;
    ASSERT_TRUE(file.load("./data/DUZ_inst.dat"));
    EXPECT_EQ(file.get("OLD", "DB_SID"), "<missing>");
    EXPECT_EQ(file.get("KEEP", "DB_SID"), "K");
    EXPECT_EQ(file.get("NEW", "NLS_LANG"), "AMERICAN");
    EXPECT_EQ(file.get("NEW", "NLS_CHAR"), "");
    EXPECT_EQ(decrypted(file.get("NEW", "DB_PASSWD"), LOCAL), "secret");

    // A missing required element fails naming its key and leaves the file as it was.
    const std::string before = home.read_file("data/DUZ_inst.dat");
    std::string no_login = account_xml("x", "");
    char other[] = "OTHER";
    EXPECT_EQ(BE_DUZ_PKM_populate_account_data(nullptr, other, no_login.data(), nullptr, nullptr, nullptr, nullptr,
                                               nullptr, &err),
              1);
    EXPECT_STREQ(err.text, "CM for OEBS: Failed to set key DB_LOGIN for account OTHER table");
    char missing[] = "MISSING";
    EXPECT_EQ(
        BE_DUZ_PKM_populate_account_data(missing, other, xml.data(), nullptr, nullptr, nullptr, nullptr, nullptr, &err),
        1);
    EXPECT_STREQ(err.text, "CM for OEBS: Delete of MISSING sublist failed");
    EXPECT_EQ(home.read_file("data/DUZ_inst.dat"), before);
}

TEST_F(CcpTest, AccountValueReaderTreatsOnlyTheNlsKeysAsOptional) {
    home.write_file("data/DUZ_inst.dat", "[A]\nDB_SID VIS\n");
    Sections file;
    ASSERT_TRUE(file.load("./data/DUZ_inst.dat"));
    char value[8] = "stale";
    EXPECT_EQ(BE_DUZ_PKM_get_accounts_value(&file.h, "A", "DB_SID", value, 3, &err), 0);
    EXPECT_STREQ(value, "VI");
    for (const char* key : {"NLS_LANG", "NLS_CHAR"}) {
        std::strcpy(value, "stale");
        EXPECT_EQ(BE_DUZ_PKM_get_accounts_value(&file.h, "A", key, value, sizeof value, &err), 0);
        EXPECT_STREQ(value, "");
    }
    EXPECT_EQ(BE_DUZ_PKM_get_accounts_value(&file.h, "A", "DB_PASSWD", value, sizeof value, &err), 1);
    EXPECT_STREQ(err.text, "CM for OEBS: Failed to get value for DB_PASSWD for account A table");
    EXPECT_EQ(BE_DUZ_PKM_get_accounts_value(&file.h, "B", "DB_SID", value, sizeof value, &err), 1);
}

}  // namespace
