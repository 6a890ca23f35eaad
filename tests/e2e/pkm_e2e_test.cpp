// The configuration manager's account requests as the agent passes them: zpahost loads
// libappbridge.so, connects for a configuration-manager request (no database session), adds an
// account and lists the accounts through the list entry points.
#include "e2e_journal.h"
#include "testbed.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

class ConfigurationRun : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        home.write_file("data/DUZ_inst.dat", "");
        home.write_file("cm/DUZ/data/event_watch_times.dat", "");
        home.write_file("host/fixture.txt",
                        "[orvagcpk]\nout: Encryption type : blowfish\n\n[orvagenv SaaS]\nout: SaaS : off\n");
        std::filesystem::copy_file(APPBRIDGE_QELOS_LIBRARY, home.path() + "/cm/lib_DUZ.so");
        home.write_file("host/connection.txt",
                        "CM_LIB_NAME=DUZ\nCM_DIR=" + home.path() + "/cm\nORACLE_HOME=/opt/oracle\n");
        home.write_file("host/out.txt", "TEXT:1001=\n");
    }

    static std::string request(const std::string& action, const std::string& body) {
        return "<UVSCM><HEADER><ACTION>" + action + "</ACTION></HEADER><BODY>" + body + "</BODY></UVSCM>";
    }

    // environment: extra NAME='value' words for the host.
    std::string run(const std::vector<std::string>& steps, const std::string& environment = "") {
        int status = 0;
        const std::string out =
            e2e::run_zpahost(environment + " PATH='" + std::string(APPBRIDGE_AGENT_UTIL_DIR) +
                                 "':\"$PATH\" APPBRIDGE_AGENT_FIXTURE='" + home.path() + "/host/fixture.txt'",
                             steps, &status);
        EXPECT_EQ(status, 0) << out;
        return out;
    }
};

TEST_F(ConfigurationRun, AddedAccountIsListed) {
    const std::string add = request(
        "Orvcm_add_account_request",
        "<AccountName>PROD</AccountName><DBServiceName>PRODDB</DBServiceName><APPSLoginName>APPS</APPSLoginName>"
        "<APPSPassword>apps</APPSPassword><EnableLogOutput>N</EnableLogOutput><AppendLog>Y</AppendLog>"
        "<AppendOutput>Y</AppendOutput><ConvertWarningToOK>N</ConvertWarningToOK><MonitorChildReq>Y</MonitorChildReq>"
        "<JobCompDependChild>N</JobCompDependChild>");
    home.write_file("host/add.txt", "TEXT=" + add + "\nNAVIGATE=NEXT\n");
    home.write_file("host/list.txt", "TEXT=" + request("Orvcm_get_accounts_request", "") + "\nNAVIGATE=NEXT\n");
    const std::string out = run({"connect", "host/add.txt", "data", "ZPAAPI_LIST_DATA", "host/add.txt", "host/out.txt",
                                 "data", "ZPAAPI_LIST_DATA", "host/list.txt", "host/out.txt"});
    EXPECT_NE(out.find("ZPAAPI_Connect rc=0 userdata=none\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  out TEXT=<Orvcm_add_account_response></Orvcm_add_account_response>\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("<Orvcm_get_accounts_response><Accounts><AccountName>PROD</AccountName><DBServiceName>PRODDB"
                       "</DBServiceName><APPSLoginName>APPS</APPSLoginName>"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("<CMVersion>9021.000</CMVersion><SecureAlg>blowfish</SecureAlg></Orvcm_get_accounts_response>"),
              std::string::npos)
        << out;
    EXPECT_NE(home.read_file("cm/DUZ/data/event_watch_times.dat").find("[PROD]"), std::string::npos);
}

// The tables a connection reads (CONFIG, OEBS) stay cached, and reachable, for the whole process:
// under the leak checker the host ends cleanly.
TEST_F(ConfigurationRun, TablesReadByAConnectionPassTheLeakCheckWhenTheProcessEnds) {
    home.write_file("data/CONFIG.dat", "AGENT_DIR " + home.path() + "\nDBGLVL 0\n");
    home.write_file("data/OEBS.dat", "ORACLE_HOME /opt/oracle\nTNS_ADMIN /opt/tns\n");
    home.write_file("host/list.txt", "TEXT=" + request("Orvcm_get_accounts_request", "") + "\nNAVIGATE=NEXT\n");
    const std::string out =
        run({"connect", "host/list.txt", "data", "ZPAAPI_LIST_DATA", "host/list.txt", "host/out.txt"},
            "ASAN_OPTIONS=detect_leaks=1");
    EXPECT_NE(out.find("<CMVersion>9021.000</CMVersion>"), std::string::npos) << out;
}

}  // namespace
