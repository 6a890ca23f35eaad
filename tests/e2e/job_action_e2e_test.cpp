// The job-action and event entry points as the agent calls them: zpahost loads libappbridge.so,
// connects for the job and drives the actions, with the stand-in database answering from a script.
#include "e2e_host.h"
#include "e2e_journal.h"

#include <string>

namespace {

const char* kScript = R"({"logons": [{"connect": "VIS", "user": "APPS", "password": "apps"}], "rules": []})";

class JobActionRun : public e2e::PluginHomeTest {
protected:
    void SetUp() override {
        prepare_home(kScript);
        home.write_file("host/job.txt", "REQTYPE=SUBMIT\nDUZ-INSTANCE=VIS\nORDERNO=ORD1\nRUNNO=1\n");
        home.write_file("host/in.txt", "ORDERNO=ORD1\nRUNNO=1\nDUZ-INSTANCE=VIS\nDUZ-TASKTYPE=REQUEST\n");
        home.write_file("host/out.txt", "PROCID:16=\nSYSOUTSIZE:16=\n");
    }
    void account(const char* password) {
        home.write_file("data/DUZ_inst.dat",
                        std::string("[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD ") + password + "\n");
    }
};

TEST_F(JobActionRun, AccountRefusedAtConnectIsAnsweredFromTheFailureTable) {
    account("wrong");
    const std::string out =
        run("connect host/job.txt action ZPAAPI_JOB_ACTION SUBMIT host/in.txt host/out.txt "
            "action ZPAAPI_JOB_ACTION KILL host/in.txt host/out.txt");
    EXPECT_TRUE(holds(out, "ZPAAPI_Connect rc=0 userdata=none\n")) << out;
    EXPECT_TRUE(holds(out, "ZPAAPI_JOB_ACTION(SUBMIT) rc=0\n  out PROCID=0\n")) << out;
    EXPECT_TRUE(holds(out, "ZPAAPI_JOB_ACTION(KILL) rc=0\n")) << out;
    EXPECT_TRUE(holds(home.read_file("cm/DUZ/data/jobs_failure_table.dat"), "ORD1_1")) << out;
    EXPECT_TRUE(holds(home.read_file("procid/ORD1_1.DAT"), "PROCID")) << out;
    EXPECT_TRUE(e2e::unfreed_handles(journal_file()).empty());
}

TEST_F(JobActionRun, UnknownActionIsRefusedWithItsNoticeInTheSysout) {
    account("apps");
    const std::string out = run("connect host/job.txt action ZPAAPI_JOB_ACTION RESUBMIT host/in.txt host/out.txt");
    EXPECT_TRUE(holds(out, "ZPAAPI_Connect rc=0 userdata=session\n")) << out;
    EXPECT_TRUE(holds(out, "ZPAAPI_JOB_ACTION(RESUBMIT) rc=4\n")) << out;
    EXPECT_TRUE(holds(out, "error: code=4 text=CM for OEBS: Unsupported Action:'RESUBMIT'")) << out;
    const std::string sysout = home.read_file("sysout/ORD1_1.DAT");
    EXPECT_TRUE(holds(sysout, "Error message: CM for OEBS: Unsupported Action:'RESUBMIT'\n\nError code: 4\n"))
        << sysout;
    EXPECT_TRUE(holds(out, "out SYSOUTSIZE=" + std::to_string(sysout.size()) + "\n")) << out;
}

TEST_F(JobActionRun, EventActionWaitsOrNamesTheMissingTimeout) {
    account("apps");
    home.write_file("host/event.txt", "EVENT_TIMEOUT=0\n");
    home.write_file("host/no-event.txt", "ORDERNO=ORD1\n");
    home.write_file("host/event-out.txt", "X=\n");
    const std::string out =
        run("action ZPAAPI_EVENT_ACTION WAIT host/event.txt host/event-out.txt "
            "action ZPAAPI_EVENT_ACTION WAIT host/no-event.txt host/event-out.txt");
    EXPECT_TRUE(holds(out, "ZPAAPI_EVENT_ACTION(WAIT) rc=0\n")) << out;
    EXPECT_TRUE(holds(out, "ZPAAPI_EVENT_ACTION(WAIT) rc=1\n")) << out;
}

}  // namespace
