// Tracking on the stand-in database: the phase and status words, the job status of a request tree,
// the active-request attributes (40 rows at most), the rerun's blanked rows, and the answers that
// need no query.
#include <sys/stat.h>

#include "be_job_fixture.h"
#include "gm_param.h"
#include "testbed.h"

#include <map>
#include <string>
#include <vector>

namespace {

using betest::Pairs;
using oci_standin::answer_failure;
using oci_standin::answer_rows;
using oci_standin::Cell;
using oci_standin::failure_at;
using oci_standin::Row;
using oci_standin::Step;
using oci_standin::substring_rule;

constexpr const char* kTree = "FROM fnd_concurrent_requests f";

TEST(StatusWords, PhaseAndStatusWithTheHoldFlagAndTheEndedRule) {
    struct Case {
        const char* phase;
        const char* status;
        const char* hold;
        const char* phase_word;
        const char* status_word;
    } cases[] = {
        {"P", "I", "Y", "INACTIVE", "ON_HOLD"},
        {"R", "R", "Y", "INACTIVE", "SUSPENDED"},
        {"R", "Q", "N", "RUNNING", "RESUMING"},
        {"R", "I", "N", "RUNNING", "RESUMING"},
        {"P", "Q", "N", "PENDING", "STANDBY"},
        {"P", "M", "N", "INACTIVE", "NO_MANAGER"},
        {"I", "U", "N", "INACTIVE", "DISABLED"},
        {"C", "C", "N", "COMPLETE", "NORMAL"},
        {"C", "G", "N", "COMPLETE", "WARNING"},
        {"C", "E", "N", "COMPLETE", "ERROR"},
        {"C", "X", "N", "COMPLETE", "TERMINATED"},
        {"C", "D", "N", "COMPLETE", "DELETED"},
        {"R", "T", "N", "RUNNING", "TERMINATING"},
        {"R", "W", "N", "RUNNING", "PAUSED"},
        {"P", "F", "N", "PENDING", "SCHEDULED"},
        {"P", "A", "N", "PENDING", "WAITING"},
        {"Z", "Z", "N", "", ""},
        {"RX", "RY", "N", "RUNNING", "NORMAL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.phase) + "/" + c.status + "/" + c.hold);
        char phase[BE_DUZ_STATUS_WORD_SIZE] = "";
        char status[BE_DUZ_STATUS_WORD_SIZE] = "";
        std::snprintf(phase, sizeof phase, "%s", c.phase);
        std::snprintf(status, sizeof status, "%s", c.status);
        char hold[2] = "";
        std::snprintf(hold, sizeof hold, "%s", c.hold);
        EXPECT_EQ(BE_DUZ_req_status(phase, status, hold), 0);
        EXPECT_EQ(BE_DUZ_interpret_status(phase, status), 0);
        EXPECT_STREQ(phase, c.phase_word);
        EXPECT_STREQ(status, c.status_word);
    }
    struct Ended {
        const char* phase;
        const char* status;
        const char* completed;
        int ended;
    } rows[] = {
        {"C", "C", "01/02/2025", 1}, {"C", "C", "NA", 0}, {"C", "E", "NA", 1},
        {"C", "X", "NA", 1},         {"C", "D", "NA", 1}, {"R", "R", "01/02/2025", 0},
    };
    for (const Ended& r : rows) {
        char phase[BE_DUZ_STATUS_WORD_SIZE] = "";
        char status[BE_DUZ_STATUS_WORD_SIZE] = "";
        char word[BE_DUZ_STATUS_WORD_SIZE] = "";
        std::snprintf(phase, sizeof phase, "%s", r.phase);
        std::snprintf(status, sizeof status, "%s", r.status);
        int ended = -1;
        BE_DUZ_track_req(nullptr, 50, 0, 7, const_cast<char*>("P"), const_cast<char*>(" "), phase, word, status,
                         const_cast<char*>("N"), const_cast<char*>(r.completed), nullptr, 1, &ended, nullptr);
        EXPECT_EQ(ended, r.ended) << r.phase << r.status << r.completed;
    }
}

// A tree row: id, program name, description, phase, status, parent, priority, hold, type, completed.
Row request(int id, int parent, const char* phase, const char* status, const char* completed = "NA",
            const char* type = " ", const char* description = " ") {
    return {id, "Program " + std::to_string(id), description, phase, status, parent, 50, "N", type, completed};
}

class Tracking : public betest::JobTest {
protected:
    void SetUp() override {
        betest::JobTest::SetUp();
        home.write_file("procid/ORD9_1.DAT", "PROCID  1000\nDUZ-INSTANCE  VIS\nDUZ-TASKTYPE  REQUEST\n");
    }
    // TRACK with the given job attributes; the output list as the agent sees it afterwards.
    ZPARC track(const Pairs& in, std::map<std::string, std::string>& out, ZPAError& error,
                std::vector<std::string>* order = nullptr) {
        betest::OwnedList slots{{"JOBSTATUS", "     "}, {"CMRTPROP", "                "}};
        ZPAAttrList* list = slots.list();
        const ZPAAttrList before = *list;
        const ZPARC rc = BE_action_track(session, job({}), job(in), list, &error);
        out.clear();
        for (int i = 0; i < list->Count; ++i) {
            out[list->Attributes[i].Name] = list->Attributes[i].Value;
            if (order != nullptr) order->push_back(list->Attributes[i].Name);
        }
        if (list->Attributes != before.Attributes) ZPAAPI_ReleaseAttr(list);
        return rc;
    }
    static Pairs job_of(Pairs extra = {}) {
        Pairs pairs{{"ORDERNO", "ORD9"}, {"RUNNO", "1"}, {"PROCID", "1000"}};
        pairs.insert(pairs.end(), extra.begin(), extra.end());
        return pairs;
    }
};

TEST_F(Tracking, TreeOfFortyFiveRequestsReportsFortyAndWaitsForAll) {
    std::vector<Row> rows{request(1000, 0, "C", "C", "01/02/2025", " ", "Month end")};
    for (int id = 1001; id <= 1043; ++id) rows.push_back(request(id, 1000, "C", "C", "01/02/2025"));
    rows.push_back(request(1044, 1000, "R", "R"));
    oci_standin::add_rule(substring_rule(kTree, {answer_rows(rows)}));
    std::map<std::string, std::string> out;
    ZPAError error{};
    std::vector<std::string> order;
    ASSERT_EQ(track(job_of(), out, error, &order), 0) << error.text;
    EXPECT_EQ(out["JOBSTATUS"], "4");
    EXPECT_EQ(out["%%DUZ-ACTIVE-ATTR001-REQ_NAME"], "Month end (Program 1000)");
    EXPECT_EQ(out["%%DUZ-ACTIVE-ATTR001-PARENT"], "");
    EXPECT_EQ(out["%%DUZ-ACTIVE-ATTR040-REQUEST_ID"], "1039");
    EXPECT_EQ(out["%%DUZ-ACTIVE-ATTR040-PARENT"], "1000");
    EXPECT_EQ(out["%%DUZ-ACTIVE-ATTR040-PHASE"], "COMPLETE");
    EXPECT_EQ(out["%%DUZ-ACTIVE-ATTR040-STATUS"], "NORMAL");
    EXPECT_EQ(out["%%DUZ-ACTIVE-ATTR040-PRIORITY"], "50");
    EXPECT_EQ(out.count("%%DUZ-ACTIVE-ATTR041-REQUEST_ID"), 0u);
    // Six attributes per row in their order, then the procid file's pairs.
    const std::vector<std::string> first_row(order.begin() + 2, order.begin() + 8);
    EXPECT_EQ(first_row, (std::vector<std::string>{"%%DUZ-ACTIVE-ATTR001-REQUEST_ID", "%%DUZ-ACTIVE-ATTR001-PARENT",
                                                   "%%DUZ-ACTIVE-ATTR001-REQ_NAME", "%%DUZ-ACTIVE-ATTR001-PHASE",
                                                   "%%DUZ-ACTIVE-ATTR001-STATUS", "%%DUZ-ACTIVE-ATTR001-PRIORITY"}));
    EXPECT_EQ(order.size(), 2u + 240u + 3u);
    EXPECT_EQ(out["DUZ-TASKTYPE"], "REQUEST");
    EXPECT_GT(std::atol(out["CMRTPROP"].c_str()), 1700000000L);
    // The tree comes with the prefetch: three round trips, not one a row.
    EXPECT_EQ(betest::round_trips_of(kTree), std::vector<unsigned>{3});

    // Only the root is waited for with DUZ-WAITCHILD "no" (any case).
    ASSERT_EQ(track(job_of({{"DUZ-WAITCHILD", "no"}}), out, error), 0);
    EXPECT_EQ(out["JOBSTATUS"], "5");
    EXPECT_EQ(out.count("%%DUZ-ACTIVE-ATTR002-REQUEST_ID"), 0u);
}

TEST_F(Tracking, SetStageChildIsReportedUnderTheRoot) {
    oci_standin::add_rule(
        substring_rule(kTree, {answer_rows({request(1000, 0, "R", "R"), request(1001, 999, "P", "I", "NA", "P")})}));
    std::map<std::string, std::string> out;
    ZPAError error{};
    ASSERT_EQ(track(job_of(), out, error), 0);
    EXPECT_EQ(out["%%DUZ-ACTIVE-ATTR002-PARENT"], "1000");
    EXPECT_EQ(out["%%DUZ-ACTIVE-ATTR002-PHASE"], "PENDING");
    EXPECT_EQ(out["%%DUZ-ACTIVE-ATTR002-STATUS"], "NORMAL");
}

TEST_F(Tracking, RerunBlanksTheEarlierRunsRowsOnce) {
    home.write_file("procid/ORD9_2.DAT", "PROCID  1000\nDUZ-INSTANCE  VIS\nCLEAR_ACTIVE  Y\n");
    oci_standin::add_rule(substring_rule(kTree, {answer_rows({request(1000, 0, "R", "R"), request(1001, 1000, "P", "Q"),
                                                              request(1002, 1000, "P", "Q")})}));
    Pairs in{{"ORDERNO", "ORD9"}, {"RUNNO", "2"}, {"PROCID", "1000"}};
    for (int row = 1; row <= 5; ++row)
        in.emplace_back("%%DUZ-ACTIVE-ATTR00" + std::to_string(row) + "-REQUEST_ID", "1");
    std::map<std::string, std::string> out;
    ZPAError error{};
    ASSERT_EQ(track(in, out, error), 0) << error.text;
    for (int row : {4, 5})
        for (const char* field : {"REQUEST_ID", "PARENT", "REQ_NAME", "PHASE", "STATUS", "PRIORITY"})
            EXPECT_EQ(out["%%DUZ-ACTIVE-ATTR00" + std::to_string(row) + "-" + field], "no data") << row << field;
    EXPECT_EQ(out["CLEAR_ACTIVE"], "N");
    EXPECT_NE(home.read_file("procid/ORD9_2.DAT").find("CLEAR_ACTIVE"), std::string::npos);
    ASSERT_EQ(track(in, out, error), 0);
    EXPECT_EQ(out.count("%%DUZ-ACTIVE-ATTR004-PHASE"), 0u);
}

// After the tree's rows come the procid file's pairs: of the job's own file, or for run number 0
// of MEMLIB and MEMNAME's; without them the rows still come back and the call says why.
TEST_F(Tracking, ProcidPairsFollowTheActiveRowsOrTheCallSaysWhyNot) {
    oci_standin::add_rule(substring_rule(kTree, {answer_rows({request(1000, 0, "R", "R")})}));
    struct Case {
        const char* what;
        Pairs in;
        ZPARC rc;
        bool pairs;
        const char* error;  // the start of the error text, "" for none set
    } cases[] = {
        {"own file", job_of(), 0, true, ""},
        {"MEMLIB and MEMNAME",
         {{"ORDERNO", "X"}, {"RUNNO", "0"}, {"PROCID", "1000"}, {"MEMLIB", "ORD9"}, {"MEMNAME", "1"}},
         0,
         true,
         ""},
        {"no MEMNAME",
         {{"ORDERNO", "X"}, {"RUNNO", "0"}, {"PROCID", "1000"}, {"MEMLIB", "ORD9"}},
         1,
         false,
         "CM for OEBS: the attribute 'MEMNAME' is mandatory"},
        {"MEMNAME 0",
         {{"ORDERNO", "X"}, {"RUNNO", "0"}, {"PROCID", "1000"}, {"MEMLIB", "ORD9"}, {"MEMNAME", "0"}},
         0,
         false,
         "CM for OEBS: No valid orderno and runno are found. JCL won't be available"},
        {"no procid file",
         {{"ORDERNO", "ORD8"}, {"RUNNO", "1"}, {"PROCID", "1000"}},
         1,
         false,
         "CM for OEBS: Fail to load file "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::map<std::string, std::string> out;
        ZPAError error{};
        std::vector<std::string> order;
        EXPECT_EQ(track(c.in, out, error, &order), c.rc);
        EXPECT_EQ(std::string(error.text).rfind(c.error, 0), 0u) << error.text;
        ASSERT_GE(order.size(), 8u);
        EXPECT_EQ(order[2], "%%DUZ-ACTIVE-ATTR001-REQUEST_ID");
        EXPECT_EQ(order.size(), c.pairs ? 2u + 6u + 3u : 2u + 6u);
        if (c.pairs) {
            EXPECT_EQ(order.back(), "DUZ-TASKTYPE");
        }
    }
    // A procid file without CLEAR_ACTIVE is only read, never written.
    struct stat before {
    }, after{};
    ASSERT_EQ(stat("procid/ORD9_1.DAT", &before), 0);
    std::map<std::string, std::string> out;
    ZPAError error{};
    ASSERT_EQ(track(job_of(), out, error), 0);
    ASSERT_EQ(stat("procid/ORD9_1.DAT", &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(home.read_file("procid/ORD9_1.DAT"), "PROCID  1000\nDUZ-INSTANCE  VIS\nDUZ-TASKTYPE  REQUEST\n");
}

TEST_F(Tracking, AnswersWithoutAQuery) {
    std::map<std::string, std::string> out;
    ZPAError error{};
    // A request id that is not a positive number.
    EXPECT_EQ(track({{"ORDERNO", "ORD9"}, {"RUNNO", "1"}, {"PROCID", "0"}}, out, error), 0);
    EXPECT_EQ(out["JOBSTATUS"], "7");
    // A job in the failure table.
    ASSERT_EQ(BE_JOB_write_jobs_failure_file("ORD9", "1", "1017 - refused"), 0);
    EXPECT_EQ(track(job_of(), out, error), 0);
    EXPECT_EQ(out["JOBSTATUS"], "5");
    EXPECT_TRUE(prepared().empty());
    // No session.
    ASSERT_EQ(be_job_delete_line_from_jobs_failure_file("ORD9", "1"), 0);
    betest::OwnedList slots{{"JOBSTATUS", "   "}};
    EXPECT_EQ(BE_action_track(nullptr, nullptr, job(job_of()), slots.list(), &error), 1);
    EXPECT_STREQ(slots.list()->Attributes[0].Value, "5");
    EXPECT_STREQ(error.text, "CM for OEBS: The connection object is NULL, can't track.");
}

TEST_F(Tracking, QueryFailureEndsTheJobAndRecordsIt) {
    // A fetch that fails after a completed root is no end of the tree: the job is not finished well.
    oci_standin::Failure at_row_2 = failure_at(Step::Fetch, 1555, "snapshot too old");
    at_row_2.row = 2;
    const std::vector<Row> tree = {request(1000, 0, "C", "C", "01/02/2025"),
                                   request(1001, 1000, "C", "E", "01/02/2025")};
    struct Case {
        const char* name;
        oci_standin::Answer answer;
        const char* message;
    } cases[] = {
        {"the execution", answer_failure(failure_at(Step::Execute, 942, "table or view does not exist")),
         "942 - CM for OEBS: ORA-00942: table or view does not exist"},
        {"a fetch inside the tree", answer_failure(at_row_2, tree), "1555 - CM for OEBS: ORA-01555: snapshot too old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        oci_standin::reset();
        be_job_delete_line_from_jobs_failure_file("ORD9", "1");
        oci_standin::add_rule(substring_rule(kTree, {c.answer}));
        std::map<std::string, std::string> out;
        ZPAError error{};
        EXPECT_EQ(track(job_of(), out, error), 0);
        EXPECT_EQ(out["JOBSTATUS"], "5");
        char message[BE_JOB_FAILURE_MSG_SIZE] = "";
        ASSERT_EQ(be_job_find_in_jobs_failure_file("ORD9", "1", message), 0);
        EXPECT_EQ(std::string(message), c.message);
    }
}

}  // namespace
