// Discovery as the agent drives it: zpahost loads libappbridge.so, connects, opens the job-data
// interface, reads each request (in define mode with a WRITE after each read that holds and cancels
// it in OEBS) and closes, with the stand-in database answering from a script file. Monitor mode
// runs as two processes that share the submitted-requests file.
#include "e2e_journal.h"
#include "testbed.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

const char* kScript = R"({
  "logons": [{"connect": "VIS", "user": "APPS", "password": "apps"}],
  "rules": [
    {"name": "programs", "match": "(prog.concurrent_program_name <> 'FNDRSSUB') and", "rows": [[101, "FNDSCURS"], [102, "FNDSCRSP"]]},
    {"name": "sets", "match": "req.argument1 = to_char(reqs.application_id) and", "rows": []},
    {"name": "category", "match": "MULTI_ORG_CATEGORY = 'S'", "rows": [[0]]},
    {"name": "request", "match": "fnd_conc_request_arguments arg",
     "answers": [{"rows": [["SYSADMIN", "System Administrator", "SYSADMIN", "FND", "FNDSCURS", "Active Users",
                            "20250314093000", "NULL", "NULL", 0, "NULL", null, null, "Standard", "A1"]]},
                 {"rows": [["SYSADMIN", "System Administrator", "SYSADMIN", "FND", "FNDSCRSP", "Responsibilities",
                            "20250314100000", "NULL", "NULL", 0, "NULL", "P", "1:D:S", "Standard"]]}]},
    {"name": "names", "match": "'$SRS$.'", "rows": [["Day"]]},
    {"name": "hold", "match": "select hold_flag", "outs": {"rc_code": 0}},
    {"name": "cancel", "match": "connect by prior request_id"},
    {"name": "monitor", "match": "nvl(reqs.request_set_name,'NULL'),  usr.user_name",
     "answers": [{"rows": [[11, 0, 31, "FND", "FNDSCURS", "SYSADMIN", "R&D Managers", "NULL", "SYSADMIN"],
                           [12, 0, 32, "FND", "FNDSCRSP", "SYSADMIN", "System Administrator", "NULL", "SYSADMIN"]]},
                 {"rows": []}]}
  ]
})";

class JobDataRun : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\n");
        home.write_file("oci/script.json", kScript);
        std::filesystem::copy_file(APPBRIDGE_QELOS_LIBRARY, home.path() + "/cm/lib_DUZ.so");
        std::filesystem::create_directories(home.path() + "/exe");
        std::filesystem::copy_file(APPBRIDGE_QELOS_LIBRARY, home.path() + "/exe/libQELOS.so");
        home.write_file("host/connection.txt", "CM_LIB_NAME=DUZ\nCM_DIR=" + home.path() +
                                                   "/cm\nORACLE_HOME=/opt/oracle/client\nVERSION=9.0.21\n");
        home.write_file("host/out.txt", "");
    }

    std::string run(const std::string& process, const std::string& steps) {
        const std::string command = "APPBRIDGE_PROC_NAME=" + process + " ORV_OCI_STANDIN_SCRIPT='" + home.path() +
                                    "/oci/script.json' ORV_OCI_STANDIN_STATE='" + home.path() +
                                    "/oci/state.json' ORV_OCI_STANDIN_JOURNAL='" + home.path() +
                                    "/oci/journal.jsonl' '" + APPBRIDGE_ZPAHOST + "' -l '" + APPBRIDGE_LIBRARY +
                                    "' -c host/connection.txt connect host/connect.txt " + steps;
        FILE* pipe = popen(command.c_str(), "r");
        std::string out;
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        EXPECT_EQ(pclose(pipe), 0) << out;
        return out;
    }

    // The request ids bound to the executions of a rule, in journal order.
    std::vector<long long> bound_ids(const std::string& rule) {
        std::vector<long long> ids;
        for (const auto& call : e2e::journal_calls(home.path() + "/oci/journal.jsonl")) {
            if (call["call"] != "OCIStmtExecute" || call.value("rule", "") != rule) continue;
            for (const auto& bind : call["binds"])
                if (bind["name"] == "REQ_ID") ids.push_back(bind["value"].get<long long>());
        }
        return ids;
    }

    std::map<int, int> unfreed() { return e2e::unfreed_handles(home.path() + "/oci/journal.jsonl"); }
};

TEST_F(JobDataRun, DefineModeHandsOverEachRequestAndHoldsAndCancelsIt) {
    home.write_file("host/connect.txt", "DUZ-INSTANCE=VIS\nEXTRACT_MODE=ORVDEFINE\n");
    home.write_file("host/in.txt", "EXTRACT_MODE=ORVDEFINE\nDUZ-INSTANCE=VIS\nDUZ-PROGNAME=FNDSC*\n");
    home.write_file("host/write.txt", "EXTRACT_MODE=ORVDEFINE\nHOLD_JOB=Y\n");
    const std::string out = run("ORVAGENT", "datawrite ZPAAPI_JOB_DATA host/in.txt host/out.txt host/write.txt");
    for (const char* expected :
         {"ZPAAPI_JOB_DATA_OPEN rc=0\nZPAAPI_JOB_DATA_READ rc=0\n  out %%DUZ-USERNAME=SYSADMIN\n",
          "  out %%DUZ-PROGNAME=FNDSCURS\n", "  out %%DUZ-PARMS-P001-VALUE=A1\n",
          "  out OWNER=SYSADMIN\n  out %%DUZ-TASKTYPE=REQUEST\n  out TIMEFROM=0930\n",
          "  out CMVER=9.0.21\n  out APPLFORM=DUZ11I\n  out %%DUZ-INSTANCE=VIS\nZPAAPI_JOB_DATA_WRITE rc=0\n",
          "  out %%DUZ-PROGNAME=FNDSCRSP\n",
          "  out TIMEFROM=1000\n  out CYCLIC=Y\n  out INTERVALFROM=START\n  out INTERVAL=1D\n",
          "ZPAAPI_JOB_DATA_WRITE rc=0\nZPAAPI_JOB_DATA_READ rc=2\nZPAAPI_JOB_DATA_CLOSE rc=0\n"}) {
        EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n---\n" << out;
    }
    EXPECT_EQ(bound_ids("hold"), (std::vector<long long>{101, 102}));
    EXPECT_EQ(bound_ids("cancel"), (std::vector<long long>{101, 102}));
    // Each request is held before it is cancelled.
    std::vector<std::string> blocks;
    for (const auto& call : e2e::journal_calls(home.path() + "/oci/journal.jsonl"))
        if (call["call"] == "OCIStmtExecute" &&
            (call.value("rule", "") == "hold" || call.value("rule", "") == "cancel"))
            blocks.push_back(call["rule"]);
    EXPECT_EQ(blocks, (std::vector<std::string>{"hold", "cancel", "hold", "cancel"}));
    EXPECT_TRUE(unfreed().empty());
}

TEST_F(JobDataRun, MonitorModeReportsARequestOnceAcrossTwoProcesses) {
    home.write_file("host/connect.txt", "DUZ-INSTANCE=VIS\nEXTRACT_MODE=ORVCREATE\n");
    home.write_file("host/in.txt", "EXTRACT_MODE=ORVCREATE\nDUZ-INSTANCE=VIS\n");
    home.write_file("host/out.txt", "DUZ-OUT_RESP:64=resp $DUZ-RESPNAME$\n");
    const std::string first = run("ORVEXTRACT", "data ZPAAPI_JOB_DATA host/in.txt host/out.txt");
    for (const char* expected :
         {"ZPAAPI_JOB_DATA_OPEN rc=0\n", "  out DUZ-OUT_RESP=resp R&D Managers\n  out %%DUZ-REQUEST_ID=11\n",
          "  out JOBNAME=DUZ_11\n  out %%DUZ-INSTANCE=VIS\n",
          "  out DUZ-OUT_RESP=resp System Administrator\n  out %%DUZ-REQUEST_ID=12\n",
          "ZPAAPI_JOB_DATA_READ rc=2\n  out DUZ-OUT_RESP=resp $DUZ-RESPNAME$\n"
          "ZPAAPI_JOB_DATA_CLOSE rc=0\n"}) {
        EXPECT_NE(first.find(expected), std::string::npos) << expected << "\n---\n" << first;
    }
    const std::string seen = home.read_file("data/DUZ_reqs.dat");
    EXPECT_NE(seen.find("11"), std::string::npos) << seen;
    EXPECT_NE(seen.find("12"), std::string::npos) << seen;

    const std::string second = run("ORVEXTRACT", "data ZPAAPI_JOB_DATA host/in.txt host/out.txt");
    EXPECT_NE(
        second.find("ZPAAPI_JOB_DATA_OPEN rc=2\nZPAAPI_JOB_DATA_READ rc=2\n  out DUZ-OUT_RESP=resp $DUZ-RESPNAME$\n"
                    "ZPAAPI_JOB_DATA_CLOSE rc=0\n"),
        std::string::npos)
        << second;
    EXPECT_TRUE(unfreed().empty());
}

}  // namespace
