// The agent's road into the plug-in as a whole process: zpahost loads libappbridge.so, connects it
// for a request and disconnects, with the stand-in database answering from a script file.
#include "e2e_journal.h"
#include "testbed.h"

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

const char* kScript = R"({
  "logons": [
    {"connect": "VIS", "user": "APPS", "password": "apps"},
    {"connect": "PROD", "user": "APPS", "password": "apps"},
    {"connect": "VIS", "user": "LOCKED", "password": "apps",
     "error": {"step": "session", "code": 28000, "message": "the account is locked"}}
  ],
  "rules": []
})";

class AgentHostRun : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        home.install_locale_data();
        home.write_file("data/DUZ_inst.dat",
                        "[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\n"
                        "[PROD]\nDB_SID PROD\nDB_LOGIN APPS\nDB_PASSWD apps\n"
                        "[LOCKED]\nDB_SID VIS\nDB_LOGIN LOCKED\nDB_PASSWD apps\n");
        home.write_file("oci/script.json", kScript);
        std::filesystem::copy_file(APPBRIDGE_QELOS_LIBRARY, home.path() + "/cm/lib_DUZ.so");
        home.write_file("host/connection.txt",
                        "CM_LIB_NAME=DUZ\nCM_DIR=" + home.path() + "/cm\nORACLE_HOME=/opt/oracle/client\n");
    }

    // Runs zpahost with the given steps in the agent home; returns its standard output.
    std::string run(const std::vector<std::string>& steps, int* status = nullptr) {
        std::string command = std::string("ORV_OCI_STANDIN_SCRIPT='") + home.path() + "/oci/script.json' " +
                              "ORV_OCI_STANDIN_JOURNAL='" + home.path() + "/oci/journal.jsonl' '" + APPBRIDGE_ZPAHOST +
                              "' -l '" + APPBRIDGE_LIBRARY + "' -c host/connection.txt";
        for (const std::string& step : steps) command += " '" + step + "'";
        FILE* pipe = popen(command.c_str(), "r");
        std::string out;
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        const int rc = pclose(pipe);
        if (status)
            *status = rc;
        else
            EXPECT_EQ(rc, 0) << out;
        return out;
    }

    std::vector<nlohmann::json> journal() { return e2e::journal_calls(home.path() + "/oci/journal.jsonl"); }
    std::map<int, int> unfreed() { return e2e::unfreed_handles(home.path() + "/oci/journal.jsonl"); }
    std::vector<std::string> logons() {
        std::vector<std::string> out;
        for (const auto& call : journal())
            if (call["call"] == "OCISessionBegin")
                out.push_back(call["connect"].get<std::string>() + "/" + call["user"].get<std::string>());
        return out;
    }
};

TEST_F(AgentHostRun, JobOnALocalAccountConnectsAndDisconnectsCleanly) {
    home.write_file("host/job.txt", "REQTYPE=SUBMIT\nDUZ-INSTANCE=VIS\nORDERNO=0001A\nRUNNO=1\n");
    const std::string out = run({"connect", "host/job.txt"});
    EXPECT_EQ(out,
              "ZPAAPI_Init rc=0\n"
              "ZPAAPI_Connect rc=0 userdata=session\n"
              "ZPAAPI_Disconnect rc=0 userdata=none\n"
              "ZPAAPI_Term rc=0\n");
    EXPECT_EQ(logons(), std::vector<std::string>{"VIS/APPS"});
    EXPECT_TRUE(unfreed().empty());
}

TEST_F(AgentHostRun, TrackingConnectionGrowsByReconnection) {
    home.write_file("host/vis.txt", "REQTYPE=TRACK\nDUZ-INSTANCE=VIS\n");
    home.write_file("host/prod.txt", "REQTYPE=TRACK\nDUZ-INSTANCE=PROD\n");
    const std::string out = run({"connect", "host/vis.txt", "reconnect", "host/prod.txt", "reconnect", "host/vis.txt"});
    EXPECT_NE(out.find("ZPAAPI_Connect rc=0 userdata=session list\n"
                       "ZPAAPI_Connect (reconnect) rc=0 userdata=session list\n"
                       "ZPAAPI_Connect (reconnect) rc=0 userdata=session list\n"
                       "ZPAAPI_Disconnect rc=0 userdata=none\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(logons(), (std::vector<std::string>{"VIS/APPS", "PROD/APPS"}));
    EXPECT_TRUE(unfreed().empty());
}

TEST_F(AgentHostRun, RefusedLogonSucceedsAndIsRecordedForTheJob) {
    home.write_file("host/job.txt", "REQTYPE=SUBMIT\nDUZ-INSTANCE=LOCKED\nORDERNO=0001a\nRUNNO=26\n");
    const std::string out = run({"connect", "host/job.txt"});
    EXPECT_NE(
        out.find(
            "ZPAAPI_Connect rc=0 userdata=none\n  error: code=28000 text=CM for OEBS: ORA-28000: the account is locked"),
        std::string::npos)
        << out;
    const std::string table = home.read_file("cm/DUZ/data/jobs_failure_table.dat");
    EXPECT_EQ(table.rfind("0001A_1A ", 0), 0u) << table;
    EXPECT_NE(table.find(" 28000 - CM for OEBS: ORA-28000: the account is locked"), std::string::npos) << table;
    EXPECT_TRUE(unfreed().empty());
}

TEST_F(AgentHostRun, UnknownAccountFailsTheConnection) {
    home.write_file("host/job.txt", "DUZ-INSTANCE=NOPE\n");
    const std::string out = run({"connect", "host/job.txt"});
    EXPECT_NE(
        out.find("ZPAAPI_Connect rc=1 userdata=none\n"
                 "  error: code=1 text=CM for OEBS: Failed to load account 'NOPE' from file ./data/DUZ_inst.dat\n"),
        std::string::npos)
        << out;
    EXPECT_TRUE(logons().empty());
}

TEST_F(AgentHostRun, ActionStepHandsOverItsListsAndPrintsTheSlots) {
    home.write_file("host/job.txt", "DUZ-INSTANCE=VIS\n");
    home.write_file("host/in.txt", "ORDERNO=ORD7\nRUNNO=3\n");
    home.write_file("host/out.txt", "SYSOUTSIZE:4=\n");
    home.write_file("sysout/ORD7_3.DAT", "0123456789\n");
    // The key-change entry point answers an unknown action through the error record: enough to show
    // that an action's input, output slots and error record reach the plug-in and come back.
    int status = 0;
    const std::string out = run(
        {"connect", "host/job.txt", "action", "ZPAAPI_PASSWORDKEY_ACTION", "Unknown", "host/in.txt", "host/out.txt"},
        &status);
    EXPECT_NE(out.find("ZPAAPI_PASSWORDKEY_ACTION(Unknown) rc="), std::string::npos) << out;
    EXPECT_NE(out.find("  out SYSOUTSIZE=\n"), std::string::npos) << out;
    EXPECT_NE(out.find("ZPAAPI_Term rc=0\n"), std::string::npos) << out;
}

}  // namespace
