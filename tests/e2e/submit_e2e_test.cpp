// "SUBMIT" as the agent calls it: zpahost connects for the job and submits a request or a request
// set on the stand-in database; the procid file and the submitted-requests file are written, also
// when two agent processes submit at the same moment.
#include "e2e_host.h"
#include "e2e_journal.h"

#include <string>
#include <thread>

namespace {

const char* kScript = R"json({
  "logons": [{"connect": "VIS", "user": "APPS", "password": "apps"}],
  "rules": [
    {"name": "request", "match": "FND_REQUEST.submit_request",
     "answers": [{"outs": {"rc_code": 4711}}, {"outs": {"rc_code": 4712}}]},
    {"match": "FND_SUBMIT.submit_set", "outs": {"start_t": "5000"}},
    {"match": "fnd_user_resp_groups", "outs": {"userID": 1318, "respID": 50559, "resp_appID": 222, "groupID": 0}},
    {"match": "from FND_APPLICATION WHERE", "outs": {"app_id": 222}},
    {"match": "from FND_CONCURRENT_PROGRAMS WHERE", "outs": {"prog_id": 31}},
    {"match": "from FND_REQUEST_SETS WHERE", "outs": {"set_id": 90, "app_id": 222}},
    {"match": "fnd_concurrent_queues", "rows": []},
    {"match": "FROM fnd_descr_flex_column_usages a",
     "rows": [[null, null, null, "P1", "P1", 1000, "VS", "VS", 240, "N", "C", "N", "Y"]]},
    {"match": "FROM fnd_request_sets RS", "rows": [["AR", 222, "ARXAGE", 7001, 10, "Aging", 1]]},
    {"match": "FROM FND_REQUEST_SET_PROGRAM_ARGS", "rows": []},
    {"match": "MULTI_ORG_CATEGORY", "rows": [[0]]},
    {"match": "FND_GLOBAL.ORG_ID()", "rows": [[204]]},
    {"match": "FROM all_views", "outs": {"is_exist": 0}},
    {"match": "APPS_INITIALIZE"}, {"match": "mo_global"}, {"match": "BEGIN IF ("}, {"match": "submit_program"}
  ]
})json";

class SubmitRun : public e2e::PluginHomeTest {
protected:
    void SetUp() override {
        prepare_home(kScript);
        home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\n");
        home.write_file("host/out.txt", "PROCID:16=\n");
    }
    // The job's connect and action attributes.
    void job(const std::string& orderno, const std::string& attributes) {
        home.write_file("host/" + orderno + "-connect.txt",
                        "REQTYPE=SUBMIT\nDUZ-INSTANCE=VIS\nORDERNO=" + orderno + "\nRUNNO=1\n");
        home.write_file("host/" + orderno + ".txt", "ORDERNO=" + orderno +
                                                        "\nRUNNO=1\nDUZ-INSTANCE=VIS\nDUZ-USERNAME=SYSADMIN\n"
                                                        "DUZ-RESPNAME=System Administrator\nDUZ-RESPAPP=SYSADMIN\n" +
                                                        attributes);
    }
    std::string submit(const std::string& orderno, const std::string& environment = "") {
        return run("connect host/" + orderno + "-connect.txt action ZPAAPI_JOB_ACTION SUBMIT host/" + orderno +
                       ".txt host/out.txt",
                   environment);
    }
};

TEST_F(SubmitRun, RequestAndRequestSet) {
    job("REQ1", "DUZ-TASKTYPE=REQUEST\nDUZ-PROGNAME=XXREPORT\nDUZ-APPNAME=XXCUST\nDUZ-PARMS-P001-VALUE=10\n");
    job("SET1", "DUZ-TASKTYPE=request_set\nDUZ-SETNAME=XXAGING\nDUZ-APPNAME=AR\n");
    std::string out = submit("REQ1");
    EXPECT_TRUE(holds(out, "ZPAAPI_JOB_ACTION(SUBMIT) rc=0\n  out PROCID=4711\n")) << out;
    EXPECT_TRUE(holds(home.read_file("procid/REQ1_1.DAT"), "DUZ-PROGID")) << out;
    out = submit("SET1");
    EXPECT_TRUE(holds(out, "ZPAAPI_JOB_ACTION(SUBMIT) rc=0\n  out PROCID=5000\n")) << out;
    EXPECT_TRUE(holds(home.read_file("procid/SET1_1.DAT"), "DUZ-REQSETID")) << out;
    const std::string reqs = home.read_file("data/DUZ_reqs.dat");
    EXPECT_TRUE(holds(reqs, "4711 ")) << reqs;
    EXPECT_TRUE(holds(reqs, "5000 ")) << reqs;
    EXPECT_TRUE(e2e::unfreed_handles(journal_file()).empty());
}

TEST_F(SubmitRun, TwoProcessesSubmittingAtOnceBothKeepTheirRequest) {
    job("ONE", "DUZ-TASKTYPE=REQUEST\nDUZ-PROGNAME=XXREPORT\nDUZ-APPNAME=XXCUST\n");
    job("TWO", "DUZ-TASKTYPE=REQUEST\nDUZ-PROGNAME=XXREPORT\nDUZ-APPNAME=XXCUST\n");
    /* The answer counters are shared, so each process gets its own request id. */
    const std::string shared = "ORV_OCI_STANDIN_STATE='" + home.path() + "/oci/state'";
    std::string first, second;
    std::thread one([&] { first = submit("ONE", shared); });
    std::thread two([&] { second = submit("TWO", shared); });
    one.join();
    two.join();
    EXPECT_TRUE(holds(first + second, "PROCID=4711")) << first << second;
    EXPECT_TRUE(holds(first + second, "PROCID=4712")) << first << second;
    const std::string reqs = home.read_file("data/DUZ_reqs.dat");
    EXPECT_TRUE(holds(reqs, "4711 ")) << reqs;
    EXPECT_TRUE(holds(reqs, "4712 ")) << reqs;
}

}  // namespace
