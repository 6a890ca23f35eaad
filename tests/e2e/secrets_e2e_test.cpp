// Passwords and keys as a whole agent run handles them at debug level 6: stored passwords of a
// local account, of an account in the old obfuscated form (converted on the first connection) and
// of a central profile, and the key material of a key change. None of them, in plain or stored
// form, reaches a log, the database journal (but for the logon itself) or an error text.
#include "agent_utilities.h"
#include "be_def.h"
#include "e2e_journal.h"
#include "gm_param.h"
#include "testbed.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kLocalPassword = "Zq7Pw-local-9931";
constexpr const char* kOldFormPassword = "Zq7Pw-oldform-2208";
constexpr const char* kCentralPassword = "Zq7Pw-central-4417";
constexpr const char* kLocalKey = "Zq7Key-local-3321";
constexpr const char* kNewKey = "Zq7Key-new-5150";

class SecretsRun : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        testbed::use_agent_utilities(home);
        home.write_file("keys/aliases.txt", "local = local.key\nglobal = global.key\n");
        home.write_file("keys/local.key", kLocalKey);
        home.write_file("keys/global.key", "Zq7Key-global-8080");
        home.write_file("data/OEBS.dat", "CM_DIR " + home.path() + "/cm\n");
        home.write_file("ccp_cache/.keep", "");
        agent_fixture("");
        std::filesystem::copy_file(APPBRIDGE_QELOS_LIBRARY, home.path() + "/cm/lib_DUZ.so");
        home.write_file("host/connection.txt",
                        "CM_LIB_NAME=DUZ\nCM_DIR=" + home.path() + "/cm\nORACLE_HOME=/opt/oracle/client\n");
    }
    void TearDown() override {
        ZPAError error{};
        BE_DUZ_clean_encyption_info(&error);
    }

    void agent_fixture(const std::string& more) {
        testbed::use_agent_fixture(
            home, "[orvagcpk]\nout: Encryption type : aes\nout: Key aliases file name : " + home.path() +
                      "/keys/aliases.txt\n[orvagenv SaaS]\nout: SaaS : off\n" + more);
    }

    // Runs zpahost; returns what it printed (standard output and error).
    std::string run(const std::string& steps) {
        const std::string command = std::string("ORV_OCI_STANDIN_SCRIPT='") + home.path() + "/oci/script.json' " +
                                    "ORV_OCI_STANDIN_JOURNAL='" + home.path() + "/oci/journal.jsonl' '" +
                                    APPBRIDGE_ZPAHOST + "' -l '" + APPBRIDGE_LIBRARY + "' -c host/connection.txt " +
                                    steps + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        std::string out;
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        pclose(pipe);
        return out;
    }

    std::string stored(const std::string& plain, EncryptionKey key) {
        char buffer[BE_DUZ_PASSWORD_SIZE] = {};
        std::snprintf(buffer, sizeof buffer, "%s", plain.c_str());
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_PKM_encrypt(buffer, sizeof buffer, key, &error), 0) << error.text;
        return buffer;
    }

    // Every file of a folder of the home, one after the other.
    std::string folder_text(const std::string& relative) {
        std::string text;
        for (const auto& entry : std::filesystem::directory_iterator(home.path() + "/" + relative))
            text += testbed::read_whole_file(entry.path().string());
        return text;
    }
};

TEST_F(SecretsRun, NoPasswordOrKeyReachesALogTheJournalOrAnErrorText) {
    // A central profile: the account's XML under the global key, in Base64, from the profile utility.
    const std::string central_stored = stored(kCentralPassword, GLOBAL);
    const std::string xml = "<DBServiceName>CCPDB</DBServiceName><APPSLoginName>APPS</APPSLoginName><APPSPassword>" +
                            central_stored +
                            "</APPSPassword><NLSLanguage>AMERICAN</NLSLanguage><EnableLogOutput>N</EnableLogOutput>"
                            "<AppendLog>Y</AppendLog><AppendOutput>Y</AppendOutput><ConvertWarningToOK>N"
                            "</ConvertWarningToOK><MonitorChildReq>Y</MonitorChildReq><JobCompDependChild>N"
                            "</JobCompDependChild>";
    char cipher[4096] = {};
    int cipher_len = sizeof cipher;
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_encrypt_aes_global(xml.c_str(), cipher, &cipher_len, &error), 0) << error.text;
    int data_len = 0;
    std::unique_ptr<char, decltype(&std::free)> data(
        base64_encode(reinterpret_cast<unsigned char*>(cipher), cipher_len, &data_len), &std::free);
    const std::string profile_data(data.get(), static_cast<std::size_t>(data_len));
    agent_fixture("[orvgetccp -name CENTRAL -type OEBS]\nout: \"data\" : \"" + profile_data + "\",\n");

    // The old obfuscated form: 64 bytes, two hexadecimal digits each.
    char old_form[129] = {};
    std::snprintf(old_form, sizeof old_form, "%s", kOldFormPassword);
    GM_PARAM_encrypt(old_form);
    const std::string local_stored = stored(kLocalPassword, LOCAL);
    home.write_file("data/DUZ_inst.dat", std::string("[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD ") + local_stored +
                                             "\n[OLDFORM]\nDB_SID OLDDB\nDB_LOGIN APPS\nDB_PASSWD " + old_form + "\n");
    home.write_file("data/DUZ_enc_ind.dat", "");
    home.write_file("data/CONFIG.dat", "DBGLVL 6\n");
    home.write_file("oci/script.json",
                    std::string(R"({"logons": [)") + R"({"connect": "VIS", "user": "APPS", "password": ")" +
                        kLocalPassword + R"("},)" + R"({"connect": "OLDDB", "user": "APPS", "password": ")" +
                        kOldFormPassword + R"("},)" + R"({"connect": "CCPDB", "user": "APPS", "password": ")" +
                        kCentralPassword + R"("}],)" + R"("rules": []})");
    home.write_file("host/vis.txt", "REQTYPE=SUBMIT\nDUZ-INSTANCE=VIS\nORDERNO=0001A\nRUNNO=1\n");
    home.write_file("host/old.txt", "DUZ-INSTANCE=OLDFORM\n");
    home.write_file("host/central.txt", "DUZ-INSTANCE=CENTRAL\n");
    home.write_file("host/none.txt", "REQTYPE=SYSHND\n");
    home.write_file("host/keys.txt",
                    std::string("NEW_KEY=") + kNewKey + "\nNEW_KEY_LEN=" + std::to_string(std::strlen(kNewKey)) +
                        "\nOLD_KEY=" + kLocalKey + "\nOLD_KEY_LEN=" + std::to_string(std::strlen(kLocalKey)) + "\n");
    home.write_file("host/out.txt", "RESULT=\n");

    std::string printed;
    for (const char* in : {"host/vis.txt", "host/old.txt", "host/central.txt"})
        printed += run(std::string("connect ") + in);
    const std::string converted = home.read_file("data/DUZ_inst.dat");
    const std::string cached = home.read_file("ccp_cache/CENTRAL_cache.dat");
    printed += run("connect host/none.txt action ZPAAPI_PASSWORDKEY_ACTION Deploy host/keys.txt host/out.txt");
    const std::string deployed = home.read_file("data/DUZ_inst.dat");

    // Every account logged on with its own password: the run went the whole way.
    int logons = 0;
    std::string journal;
    for (auto& call : e2e::journal_calls(home.path() + "/oci/journal.jsonl")) {
        if (call["call"] == "OCISessionBegin" && call.value("status", -1) == 0) {
            ++logons;
            call.erase("password");  // the logon itself carries the password to the database
        }
        journal += call.dump() + "\n";
    }
    EXPECT_EQ(logons, 3) << printed;
    EXPECT_EQ(deployed.find(local_stored), std::string::npos) << "the key change did not run";

    // The stored forms: whatever the accounts file and the profile cache held, and the profile data.
    std::vector<std::string> secrets = {kLocalPassword, kOldFormPassword, kCentralPassword,          kLocalKey,
                                        kNewKey,        old_form,         profile_data.substr(0, 40)};
    for (const std::string& file : {converted, cached, deployed})
        for (const std::string& line : testbed::lines_of(file))
            if (line.rfind("DB_PASSWD", 0) == 0) {
                const std::string value = line.substr(line.find_last_of(' ') + 1);
                secrets.push_back(value.substr(value.rfind('!') + 1, 40));  // the cipher text after its key prefix
            }
    secrets.push_back(central_stored.substr(central_stored.rfind('!') + 1, 40));

    const std::string logs = folder_text("proclog") + folder_text("dailylog");
    ASSERT_NE(logs.find("Parameter -> Key:'DB_PASSWD', Value:'Private Data'"), std::string::npos)
        << "the run did not trace at level 6";
    for (const std::string& secret : secrets) {
        EXPECT_EQ(logs.find(secret), std::string::npos) << "in a log: " << secret;
        EXPECT_EQ(journal.find(secret), std::string::npos) << "in the journal: " << secret;
        EXPECT_EQ(printed.find(secret), std::string::npos) << "in what the agent got: " << secret;
    }
}

}  // namespace
