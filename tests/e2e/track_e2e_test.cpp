// Tracking and the job's output as the agent drives them: zpahost runs TRACK on a tracking
// connection while the stand-in database's answers move the request tree from pending to complete
// (answer counters shared between the processes), then reads the sysout line by line and in pieces,
// also from two processes at once.
#include "e2e_host.h"
#include "e2e_journal.h"

#include <string>
#include <thread>
#include <vector>

namespace {

const char* kScript = R"json({
  "logons": [{"connect": "VIS", "user": "APPS", "password": "apps"}],
  "rules": [
    {"name": "tree", "match": "FROM fnd_concurrent_requests f", "answers": [
      {"rows": [[3000, "Month End", " ", "P", "I", 0, 50, "N", " ", "NA"]]},
      {"rows": [[3000, "Month End", " ", "R", "R", 0, 50, "N", " ", "NA"],
                [3001, "Import", " ", "P", "I", 3000, 50, "N", " ", "NA"]]},
      {"rows": [[3000, "Month End", " ", "C", "C", 0, 50, "N", " ", "01/02/2025"],
                [3001, "Import", " ", "C", "C", 3000, 50, "N", " ", "01/02/2025"]]}]},
    {"match": "FROM fnd_concurrent_requests WHERE", "rows": [
      [3000, "PARENT:", "C", "C", "MSG:Normal completion", "NULL=2025/01/01 10:00", "NULL=2025/01/01 10:05", "SQLGL",
       "Month End", "NULL=", "NULL=/u01/log/l3000.req", "N", "apphost1"],
      [3001, "PARENT:3000", "C", "C", "MSG:", "NULL=2025/01/01 10:01", "NULL=2025/01/01 10:04", "SQLGL",
       "Import", "NULL=", "NULL=", "N", "apphost1"]]},
    {"match": "from v$instance", "rows": [["dbhost"]]},
    {"match": "QEL_file.init", "outs": {"rc": 0}},
    {"name": "lines", "match": "QEL_file.read_line", "answers": [
      {"outs": {"rc": 0, "pvalue": "log line one"}}, {"outs": {"rc": 0, "pvalue": "log line two"}}, {"outs": {"rc": 1}},
      {"outs": {"rc": 0, "pvalue": "log line one"}}, {"outs": {"rc": 0, "pvalue": "log line two"}}, {"outs": {"rc": 1}}]},
    {"match": "QEL_FILE.close"}, {"match": "DECLARE v_exist"}
  ]
})json";

class TrackRun : public e2e::PluginHomeTest {
protected:
    void SetUp() override {
        prepare_home(kScript);
        home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\nDUZ-LOAD_DBPKG Y\n");
        home.write_file("procid/ORD3_1.DAT", "PROCID  3000\nDUZ-INSTANCE  VIS\nDUZ-TASKTYPE  REQUEST\n");
        home.write_file("host/track.txt", "REQTYPE=TRACK\nDUZ-INSTANCE=VIS\n");
        home.write_file("host/in.txt", "ORDERNO=ORD3\nRUNNO=1\nPROCID=3000\nDUZ-INSTANCE=VIS\nNAVIGATE=NEXT\n");
        home.write_file("host/out.txt", "JOBSTATUS:8=\nCMRTPROP:16=\n");
        home.write_file("host/lines.txt", "ONSTMT:64=\nONCODE:256=\n");
        home.write_file("host/pieces.txt", "TEXT:40=\n");
        home.write_file("host/output.txt", "REQTYPE=DWNSYS\nORDERNO=ORD3\nRUNNO=1\n");
    }
    std::string state() const { return "ORV_OCI_STANDIN_STATE='" + home.path() + "/oci/state'"; }
    std::string track() {
        return run("connect host/track.txt action ZPAAPI_JOB_ACTION TRACK host/in.txt host/out.txt", state());
    }
    std::string read(const char* slots) {
        return run(std::string("connect host/output.txt data ZPAAPI_SYSOUT_DATA host/in.txt host/") + slots);
    }
    static std::string joined(const std::string& out, const std::string& prefix) {
        std::string text;
        for (const std::string& line : testbed::lines_of(out))
            if (line.rfind(prefix, 0) == 0) text += line.substr(prefix.size());
        return text;
    }
};

TEST_F(TrackRun, TreeMovesFromPendingToCompleteAndItsOutputIsRead) {
    const std::vector<std::pair<std::string, std::string>> expected{
        {"JOBSTATUS=4", "%%DUZ-ACTIVE-ATTR001-PHASE=PENDING"},
        {"JOBSTATUS=4", "%%DUZ-ACTIVE-ATTR001-PHASE=RUNNING"},
        {"JOBSTATUS=5", "%%DUZ-ACTIVE-ATTR002-PHASE=COMPLETE"}};
    for (const auto& [status, active] : expected) {
        const std::string out = track();
        EXPECT_TRUE(holds(out, "ZPAAPI_Connect rc=0 userdata=session list\n")) << out;
        EXPECT_TRUE(holds(out, "ZPAAPI_JOB_ACTION(TRACK) rc=0\n  out " + status + "\n")) << out;
        EXPECT_TRUE(holds(out, "  out " + active + "\n")) << out;
        EXPECT_TRUE(holds(out, "  out DUZ-TASKTYPE=REQUEST\n")) << out;
    }

    const std::string table_row = "Month End      |SQLGL          |3000           |3000           |2025/01/01 10:00|";
    std::string out = read("lines.txt");
    EXPECT_TRUE(holds(out, "ZPAAPI_SYSOUT_DATA_OPEN rc=0\n")) << out;
    EXPECT_TRUE(holds(out, "  out ONSTMT=Month End      \n")) << out;
    EXPECT_TRUE(holds(out, "  out ONCODE=>>>>>>>>>>/u01/log/l3000.req\n")) << out;
    EXPECT_TRUE(holds(out, "  out ONCODE=log line two\n")) << out;
    EXPECT_TRUE(holds(out, "ZPAAPI_SYSOUT_DATA_READ rc=2\n")) << out;
    const std::string sysout = home.read_file("sysout/ORD3_1.DAT");
    EXPECT_TRUE(holds(sysout, table_row)) << sysout;
    // In pieces of 40 bytes, the sysout comes back whole and no statement runs again.
    out = read("pieces.txt");
    EXPECT_EQ(joined(out, "  out TEXT="), e2e::printable(sysout)) << out;
    EXPECT_TRUE(e2e::unfreed_handles(journal_file()).empty());
}

TEST_F(TrackRun, TwoProcessesOpeningAtOnceBothReadTheSysoutWhole) {
    std::string first, second;
    std::thread one([&] { first = read("pieces.txt"); });
    std::thread two([&] { second = read("pieces.txt"); });
    one.join();
    two.join();
    const std::string sysout = home.read_file("sysout/ORD3_1.DAT");
    EXPECT_TRUE(holds(sysout, "log line two\n")) << sysout;
    EXPECT_EQ(joined(first, "  out TEXT="), e2e::printable(sysout)) << first;
    EXPECT_EQ(joined(second, "  out TEXT="), e2e::printable(sysout)) << second;
}

}  // namespace
