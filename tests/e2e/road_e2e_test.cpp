// The whole job road as the agent drives it through zpahost on the stand-in database: SUBMIT,
// TRACK until the tree has ended, STATISTICS, the sysout read back, then KILL of another running
// tree and DELETE of the jobs' files; and DELETE of one job while another process records its
// own failure.
#include "e2e_host.h"
#include "e2e_journal.h"

#include <string>
#include <thread>
#include <vector>

namespace {

const char* kScript = R"json({
  "logons": [{"connect": "VIS", "user": "APPS", "password": "apps"}],
  "rules": [
    {"name": "request", "match": "FND_REQUEST.submit_request",
     "answers": [{"outs": {"rc_code": 4711}}, {"outs": {"rc_code": 4712}}]},
    {"match": "fnd_user_resp_groups", "outs": {"userID": 1318, "respID": 50559, "resp_appID": 222, "groupID": 0}},
    {"match": "from FND_APPLICATION WHERE", "outs": {"app_id": 222}},
    {"match": "from FND_CONCURRENT_PROGRAMS WHERE", "outs": {"prog_id": 31}},
    {"match": "fnd_concurrent_queues", "rows": []},
    {"match": "FROM fnd_descr_flex_column_usages a", "rows": []},
    {"match": "MULTI_ORG_CATEGORY", "rows": [[0]]},
    {"match": "FND_GLOBAL.ORG_ID()", "rows": [[204]]},
    {"match": "FROM all_views", "outs": {"is_exist": 0}},
    {"match": "APPS_INITIALIZE"}, {"match": "mo_global"}, {"match": "BEGIN IF ("},
    {"name": "tree", "match": "FROM fnd_concurrent_requests f", "answers": [
      {"rows": [[4711, "Report", " ", "P", "I", 0, 50, "N", " ", "NA"]]},
      {"rows": [[4711, "Report", " ", "R", "R", 0, 50, "N", " ", "NA"],
                [4713, "Child", " ", "P", "I", 4711, 50, "N", " ", "NA"]]},
      {"rows": [[4711, "Report", " ", "C", "C", 0, 50, "N", " ", "01/01/2025"],
                [4713, "Child", " ", "C", "C", 4711, 50, "N", " ", "01/01/2025"]]}]},
    {"name": "kill", "match": "FND_CONCURRENT_REQUESTS SET", "outs": {"rc_code": 0}},
    {"match": "FROM FND_CONCURRENT_REQUESTS connect by", "rows": [
      [4711, "C", "C", "MSG:Normal completion", "->", "NULL=20250101100000", "NULL=20250101100500"],
      [4713, "C", "C", "MSG:Normal completion", "--->", "NULL=20250101100100", "NULL=20250101100400"]]},
    {"match": "fnd_application a", "rows": [
      [4711, "PARENT:", "C", "C", "MSG:Normal completion", "NULL=2025/01/01 10:00", "NULL=2025/01/01 10:05",
       "XXCUST", "Report", "NULL=", "NULL=/u01/log/l4711.req", "N", "apphost1"]]},
    {"match": "from v$instance", "rows": [["dbhost"]]},
    {"match": "QEL_file.init", "outs": {"rc": 0}},
    {"match": "QEL_file.read_line", "answers": [{"outs": {"rc": 0, "pvalue": "report log line"}}, {"outs": {"rc": 1}}]},
    {"match": "QEL_FILE.close"}, {"match": "DECLARE v_exist"}
  ]
})json";

const char* kAccounts =
    "[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\nDUZ-LOAD_DBPKG Y\n"
    "[BAD]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD wrong\n";

class JobRoad : public e2e::PluginHomeTest {
protected:
    void SetUp() override {
        prepare_home(kScript);
        home.write_file("data/DUZ_inst.dat", kAccounts);
        home.write_file("host/track.txt", "REQTYPE=TRACK\nDUZ-INSTANCE=VIS\n");
        home.write_file("host/submit-out.txt", "PROCID:16=\n");
        home.write_file("host/track-out.txt", "JOBSTATUS:8=\nCMRTPROP:16=\n");
        home.write_file("host/stats-out.txt",
                        "EXITSTATUS:4=\nEXITCODE:8=\nEXITMSG:128=\nEND_TIME:16=\nELAPSEDTIME:16=\nSYSOUTSIZE:16=\n");
        home.write_file("host/lines.txt", "ONSTMT:64=\nONCODE:256=\n");
        home.write_file("host/none.txt", "SYSOUTSIZE:16=\n");
    }
    // The job's connect and action attributes.
    void job(const std::string& orderno, const std::string& account = "VIS") {
        home.write_file("host/" + orderno + "-connect.txt",
                        "REQTYPE=SUBMIT\nDUZ-INSTANCE=" + account + "\nORDERNO=" + orderno + "\nRUNNO=1\n");
        home.write_file("host/" + orderno + ".txt",
                        "ORDERNO=" + orderno + "\nRUNNO=1\nDUZ-INSTANCE=" + account +
                            "\nDUZ-USERNAME=SYSADMIN\nDUZ-RESPNAME=System Administrator\nDUZ-RESPAPP=SYSADMIN\n"
                            "DUZ-TASKTYPE=REQUEST\nDUZ-PROGNAME=XXREPORT\nDUZ-APPNAME=XXCUST\nPROCID=4711\n"
                            "NAVIGATE=NEXT\n");
    }
    // The steps on a connection for the job; the answer counters are shared by the processes.
    std::string on_job(const std::string& orderno, const std::string& steps) {
        return run("connect host/" + orderno + "-connect.txt " + steps, state());
    }
    std::string state() const { return "ORV_OCI_STANDIN_STATE='" + home.path() + "/oci/state'"; }
    static std::string action(const std::string& name, const std::string& orderno, const std::string& out) {
        return "action ZPAAPI_JOB_ACTION " + name + " host/" + orderno + ".txt host/" + out + " ";
    }
};

TEST_F(JobRoad, SubmitTrackStatisticsOutputKillAndDelete) {
    job("ROAD");
    std::string out = on_job("ROAD", action("SUBMIT", "ROAD", "submit-out.txt"));
    ASSERT_TRUE(holds(out, "ZPAAPI_JOB_ACTION(SUBMIT) rc=0\n  out PROCID=4711\n")) << out;

    out =
        run("connect host/track.txt " + action("TRACK", "ROAD", "track-out.txt") +
                action("TRACK", "ROAD", "track-out.txt") + action("TRACK", "ROAD", "track-out.txt") +
                action("STATISTICS", "ROAD", "stats-out.txt") + "data ZPAAPI_SYSOUT_DATA host/ROAD.txt host/lines.txt",
            state());
    const std::vector<std::string> statuses{"JOBSTATUS=4", "JOBSTATUS=4", "JOBSTATUS=5"};
    std::size_t at = 0;
    for (const std::string& status : statuses) {
        at = out.find("ZPAAPI_JOB_ACTION(TRACK) rc=0\n  out " + status + "\n", at);
        ASSERT_NE(at, std::string::npos) << status << "\n" << out;
        ++at;
    }
    const std::string sysout = home.read_file("sysout/ROAD_1.DAT");
    EXPECT_TRUE(holds(out,
                      "ZPAAPI_JOB_ACTION(STATISTICS) rc=0\n  out EXITSTATUS=Y\n  out EXITCODE=0\n"
                      "  out EXITMSG=Normal Completion\n  out END_TIME=20250101100500\n  out ELAPSEDTIME=30000\n"
                      "  out SYSOUTSIZE=" +
                          std::to_string(sysout.size()) + "\n"))
        << out;
    EXPECT_TRUE(holds(out, "  out ONSTMT=Report         \n")) << out;
    EXPECT_TRUE(holds(out, "  out ONCODE=>>>>>>>>>>/u01/log/l4711.req\n")) << out;
    EXPECT_TRUE(holds(out, "  out ONCODE=report log line\n")) << out;
    EXPECT_TRUE(holds(out, "ZPAAPI_SYSOUT_DATA_READ rc=2\n")) << out;

    // Another job's tree is running: KILL cancels it; DELETE removes both jobs' procid files.
    job("KIL");
    out = on_job("KIL", action("SUBMIT", "KIL", "submit-out.txt") + action("KILL", "KIL", "none.txt") +
                            action("DELETE", "KIL", "none.txt") + action("DELETE", "ROAD", "none.txt"));
    EXPECT_TRUE(holds(out, "ZPAAPI_JOB_ACTION(SUBMIT) rc=0\n  out PROCID=4712\n")) << out;
    EXPECT_TRUE(holds(out, "ZPAAPI_JOB_ACTION(KILL) rc=0\n")) << out;
    EXPECT_TRUE(holds(out, "ZPAAPI_JOB_ACTION(DELETE) rc=0\n")) << out;
    EXPECT_FALSE(home.exists("procid/KIL_1.DAT"));
    EXPECT_FALSE(home.exists("procid/ROAD_1.DAT"));
    bool killed = false;
    for (const auto& call : e2e::journal_calls(journal_file()))
        if (call.value("rule", "") == "kill") killed = true;
    EXPECT_TRUE(killed);
    EXPECT_TRUE(e2e::unfreed_handles(journal_file()).empty());
}

TEST_F(JobRoad, DeleteKeepsTheFailureRowAnotherProcessAdds) {
    for (int round = 0; round < 3; ++round) {
        const std::string gone = "DEL" + std::to_string(round);
        const std::string failed = "BAD" + std::to_string(round);
        job(gone);
        job(failed, "BAD");
        home.write_file("procid/" + gone + "_1.DAT", "PROCID  4711\n");
        std::string first, second;
        std::thread deleting([&] { first = on_job(gone, action("DELETE", gone, "none.txt")); });
        std::thread failing([&] { second = on_job(failed, action("SUBMIT", failed, "submit-out.txt")); });
        deleting.join();
        failing.join();
        EXPECT_TRUE(holds(first, "ZPAAPI_JOB_ACTION(DELETE) rc=0\n")) << first;
        EXPECT_TRUE(holds(second, "ZPAAPI_JOB_ACTION(SUBMIT) rc=0\n  out PROCID=0\n")) << second;
        const std::string table = home.read_file("cm/DUZ/data/jobs_failure_table.dat");
        EXPECT_TRUE(holds(table, failed + "_1")) << table;
    }
}

}  // namespace
