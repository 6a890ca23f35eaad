// The job-action entry point in-process: the order of its checks (identity, the jobs failure
// table's short cut, the session by the kind of UserData), the dispatch, and the failure notice in
// the job's sysout after a failed action; and the event entry point.
#include "be_job_fixture.h"
#include "gm_param.h"
#include "testbed.h"

#include <cstring>
#include <string>

namespace {

using betest::Pairs;

constexpr const char* kSysout = "sysout/ORD7_3.DAT";
constexpr const char* kProcid = "procid/ORD7_3.DAT";
constexpr const char* kTable = "cm/DUZ/data/jobs_failure_table.dat";

enum class Kind { None, Session, ListWithoutAccount, Unknown };

class JobAction : public betest::JobTest {
protected:
    void SetUp() override {
        betest::JobTest::SetUp();
        home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\n");
    }
    void TearDown() override {
        if (list_ != nullptr) BE_DUZ_delete_connection_list(list_);
        betest::JobTest::TearDown();
    }
    ZPAConnHandle* connection(Kind kind) {
        connection_ = ZPAConnHandle{};
        switch (kind) {
        case Kind::None: break;
        case Kind::Session: connection_.UserData = session; break;
        case Kind::ListWithoutAccount:
            if (list_ == nullptr) list_ = BE_DUZ_create_connection_list();
            connection_.UserData = list_;
            break;
        case Kind::Unknown: connection_.UserData = &unknown_; break;
        }
        return &connection_;
    }
    bool failure_row() {
        char message[BE_JOB_FAILURE_MSG_SIZE] = "";
        return be_job_find_in_jobs_failure_file("ORD7", "3", message) == 0;
    }

    ZPAConnHandle connection_{};
    BE_DUZ_ConnectionList* list_ = nullptr;
    int unknown_ = 7;  // what no session object begins with
};

TEST_F(JobAction, DispatchTable) {
    struct Case {
        const char* name;
        const char* action;
        bool failed_job;  // the job has a row in the jobs failure table
        Kind kind;
        bool with_orderno;
        ZPARC rc;
        const char* error;  // the error record's text afterwards
        bool notice;        // the failure notice is in the job's sysout
        bool row_left;      // the job's failure row is still there
    } cases[] = {
        {"TRACK_TERM reads nothing", "TRACK_TERM", false, Kind::None, false, 0, "", false, false},
        {"TRACK_INIT needs the order number", "TRACK_INIT", false, Kind::Session, false, 1,
         "CM for OEBS: the attribute 'ORDERNO' is mandatory", false, false},
        {"KILL of a failed job does nothing", "KILL", true, Kind::None, true, 0, "", false, true},
        {"DEQUEUE of a failed job does nothing", "DEQUEUE", true, Kind::None, true, 0, "", false, true},
        {"an unknown action of a failed job does nothing", "BOGUS", true, Kind::None, true, 0, "", false, true},
        {"TRACK of a failed job needs no session", "TRACK", true, Kind::None, true, 0, "", false, true},
        {"KILL without UserData", "KILL", false, Kind::None, true, 1, "CM for OEBS: UserData pointer is NULL", false,
         false},
        {"DELETE without UserData", "DELETE", false, Kind::None, true, 1, "CM for OEBS: UserData pointer is NULL",
         false, false},
        {"KILL on an unknown UserData kind", "KILL", false, Kind::Unknown, true, 1, "", true, false},
        {"SUBMIT without the account's session", "SUBMIT", false, Kind::ListWithoutAccount, true, 1,
         "CM for OEBS: No open database session for account 'VIS': SUBMIT action not run", true, false},
        {"STATISTICS without the account's session", "STATISTICS", false, Kind::ListWithoutAccount, true, 1,
         "CM for OEBS: No open database session for account 'VIS': STATISTICS action not run", true, false},
        {"KILL without the account's session", "KILL", false, Kind::ListWithoutAccount, true, 1,
         "CM for OEBS: No open database session for account 'VIS': KILL action not run", true, false},
        {"an unknown action", "BOGUS", false, Kind::Session, true, 4, "CM for OEBS: Unsupported Action:'BOGUS'", true,
         false},
        {"TRACK_INIT", "TRACK_INIT", false, Kind::Session, true, 0, "", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(kSysout);
        std::remove(kTable);
        std::remove(kProcid);
        if (c.failed_job) {
            ASSERT_EQ(BE_JOB_write_jobs_failure_file("ORD7", "3", "12154 - could not resolve"), 0);
            home.write_file(kProcid, "PROCID  0\nDUZ-INSTANCE  VIS\n");
        }
        Pairs in{{"RUNNO", "3"}, {"DUZ-INSTANCE", "VIS"}, {"DUZ-TASKTYPE", "REQUEST"}};
        if (c.with_orderno) in.emplace_back("ORDERNO", "ORD7");
        betest::OwnedList out{{"PROCID", "          "}, {"SYSOUTSIZE", "          "}};
        ZPAAttrList* out_list = out.list();
        const ZPAAttr* slots = out_list->Attributes;
        ZPAError error{};
        std::string action = c.action;
        EXPECT_EQ(ZPAAPI_JOB_ACTION(connection(c.kind), action.data(), job(in), out_list, &error), c.rc);
        // TRACK appends the procid file's pairs: the new array is the agent's to release.
        if (out_list->Attributes != slots) ZPAAPI_ReleaseAttr(out_list);
        EXPECT_STREQ(error.text, c.error);
        EXPECT_EQ(home.exists(kSysout), c.notice);
        EXPECT_EQ(failure_row(), c.row_left);
        if (c.notice) {
            EXPECT_NE(home.read_file(kSysout).find("ORVANTA/CM for Oracle E-Business Suite has detected the following "
                                                   "error:\n\nError message: " +
                                                   std::string(c.error)),
                      std::string::npos);
        }
    }
}

TEST_F(JobAction, UnknownActionLeavesItsCodeInTheNotice) {
    betest::OwnedList out{{"SYSOUTSIZE", "          "}};
    ZPAError error{};
    char action[] = "Submit";  // actions are compared exactly
    EXPECT_EQ(ZPAAPI_JOB_ACTION(connection(Kind::Session), action, job({{"ORDERNO", "ORD7"}, {"RUNNO", "3"}}),
                                out.list(), &error),
              4);
    EXPECT_EQ(error.code, 4u);
    const std::string notice = home.read_file(kSysout);
    EXPECT_NE(notice.find("Error message: CM for OEBS: Unsupported Action:'Submit'\n\nError code: 4\n"),
              std::string::npos)
        << notice;
    EXPECT_EQ(std::string(out.list()->Attributes[0].Value), std::to_string(notice.size()));
}

TEST_F(JobAction, SubmitOfAJobWhoseSessionFailedRecordsAFailedSubmission) {
    ASSERT_EQ(BE_JOB_write_jobs_failure_file("ORD7", "3", "1017 - invalid username/password"), 0);
    betest::OwnedList out{{"PROCID", "          "}};
    ZPAError error{};
    char action[] = "SUBMIT";
    EXPECT_EQ(ZPAAPI_JOB_ACTION(
                  connection(Kind::None), action,
                  job({{"ORDERNO", "ORD7"}, {"RUNNO", "3"}, {"DUZ-INSTANCE", "VIS"}, {"DUZ-TASKTYPE", "REQUEST"}}),
                  out.list(), &error),
              0);
    EXPECT_STREQ(out.list()->Attributes[0].Value, "0");
    const std::string procid = home.read_file(kProcid);
    EXPECT_EQ(procid.substr(0, 66), std::string("PROCID") + std::string(58, ' ') + "  ");
    EXPECT_NE(procid.find("DUZ-INSTANCE"), std::string::npos);
    EXPECT_TRUE(failure_row());
}

TEST_F(JobAction, StatisticsWithAnOracleErrorIsAFailedExitStatus) {
    oci_standin::add_rule(
        oci_standin::substring_rule("FROM FND_CONCURRENT_REQUESTS connect by",
                                    {oci_standin::answer_failure(oci_standin::failure_at(
                                        oci_standin::Step::Execute, 942, "table or view does not exist"))}));
    betest::OwnedList out{{"EXITSTATUS", "  "},
                          {"EXITCODE", "      "},
                          {"EXITMSG", std::string(120, ' ').c_str()},
                          {"SYSOUTSIZE", "          "}};
    ZPAAttrList* list = out.list();
    ZPAError error{};
    char action[] = "STATISTICS";
    EXPECT_EQ(ZPAAPI_JOB_ACTION(connection(Kind::Session), action,
                                job({{"ORDERNO", "ORD7"}, {"RUNNO", "3"}, {"DUZ-INSTANCE", "VIS"}, {"PROCID", "4711"}}),
                                list, &error),
              0);
    EXPECT_STREQ(list->Attributes[0].Value, "N");
    EXPECT_STREQ(list->Attributes[1].Value, "942");
    EXPECT_EQ(std::string(list->Attributes[2].Value).rfind("CM for OEBS: ORA-00942: table or view does not exist", 0),
              0u)
        << list->Attributes[2].Value;
    EXPECT_NE(home.read_file(kSysout).find("ORA-00942: table or view does not exist"), std::string::npos);
}

TEST_F(JobAction, TrackInitReloadsTheDebugLevel) {
    home.write_file("data/CONFIG.dat", "DBGLVL 5\n");
    DIAG_set_debug_level(0);
    ZPAError error{};
    char action[] = "TRACK_INIT";
    betest::OwnedList out{{"X", ""}};
    EXPECT_EQ(ZPAAPI_JOB_ACTION(connection(Kind::Session), action, job({{"ORDERNO", "ORD7"}, {"RUNNO", "3"}}),
                                out.list(), &error),
              0);
    EXPECT_EQ(DIAG_debug_level(), 5);
    DIAG_set_debug_level(0);
}

TEST_F(JobAction, EventActionWaitsTheGivenSeconds) {
    ZPAError error{};
    char action[] = "ANY";
    betest::OwnedList out{{"X", ""}};
    EXPECT_EQ(ZPAAPI_EVENT_ACTION(connection(Kind::None), action, job({{"EVENT_TIMEOUT", "0"}}), out.list(), &error),
              0);
    EXPECT_EQ(ZPAAPI_EVENT_ACTION(connection(Kind::None), action, job({{"OTHER", "1"}}), out.list(), &error), 1);
    EXPECT_STREQ(error.text, "");
}

}  // namespace
