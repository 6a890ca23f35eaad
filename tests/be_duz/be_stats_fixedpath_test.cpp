// Statistics on the stand-in database with the test clock frozen: the exit status by the tree's
// statuses and the warning rule, the elapsed time from the dated rows only, a cancelled root, a job
// of the jobs failure table (no statement), and an output download that fails with an Oracle error.
#include "be_def.h"
#include "be_fixture.h"
#include "be_job_fixture.h"
#include "gm_time.h"
#include "standin.h"
#include "test_clock.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using betest::Pairs;
using oci_standin::answer_failure;
using oci_standin::answer_rows;
using oci_standin::failure_at;
using oci_standin::Row;
using oci_standin::Step;
using oci_standin::substring_rule;

constexpr const char* kNow = "20250201120000";
constexpr const char* kStats = "FROM FND_CONCURRENT_REQUESTS connect by";
constexpr const char* kOutputTree = "fnd_application a";

// A statistics row: id, phase, status, dates as YYYYMMDDHHMMSS ("" for none).
Row request(int id, const char* status, const char* start = "", const char* end = "") {
    return {id, "C", status, "MSG:done", "->", std::string("NULL=") + start, std::string("NULL=") + end};
}

class Statistics : public testbed::TestClockTest {
protected:
    void SetUp() override {
        TestClockTest::SetUp();
        ASSERT_EQ(OS_TIME_set_factor("0"), CM_RC_OK);
        ASSERT_EQ(OS_TIME_set_odate(kNow), CM_RC_OK);
        oci_standin::reset();
        home->write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\n");
        home->write_file("procid/ORD5_1.DAT", "PROCID  1000\nDUZ-INSTANCE  VIS\n");
        betest::OwnedList account{{"DB_LOGIN", "APPS"}, {"DB_PASSWD", "apps"}, {"DB_SID", "VIS"}};
        session_ = static_cast<BE_DUZ_Handles*>(std::malloc(sizeof(BE_DUZ_Handles)));
        BE_DUZ_OCI_Init_Handle(session_);
        ZPAError error{};
        ASSERT_EQ(BE_DUZ_OCI_START_Session(account.list(), session_, &error), 0) << error.text;
        connection_.UserData = session_;
    }
    void TearDown() override {
        ZPAError error{};
        if (session_ != nullptr) BE_DUZ_OCI_CLOSE_Session(session_, 'Y', &error);
        GM_PARAM_clear();
        GM_PARAM_subtable_clear();
        oci_standin::reset();
        TestClockTest::TearDown();
    }
    // The statistics query answers rows; the output's tree answers one row without files.
    static void database(std::vector<Row> rows) {
        oci_standin::add_rule(substring_rule(kStats, {answer_rows(std::move(rows))}));
        oci_standin::add_rule(
            substring_rule(kOutputTree, {answer_rows({{1000, "PARENT:", "C", "C", "MSG:done", "NULL=", "NULL=", "FND",
                                                       "Report", "NULL=", "NULL=", "N", ""}})}));
    }
    // STATISTICS with the job's attributes; the result slots as the agent reads them.
    ZPARC stats(const Pairs& extra, std::map<std::string, std::string>& out, ZPAError& error) {
        Pairs in{{"ORDERNO", "ORD5"}, {"RUNNO", "1"}, {"PROCID", "1000"}, {"DUZ-INSTANCE", "VIS"}};
        in.insert(in.end(), extra.begin(), extra.end());
        betest::OwnedList job(in.begin(), in.end());
        betest::OwnedList slots{{"EXITSTATUS", "  "},
                                {"EXITCODE", "          "},
                                {"EXITMSG", std::string(200, ' ').c_str()},
                                {"END_TIME", "                "},
                                {"ELAPSEDTIME", "                    "},
                                {"SYSOUTSIZE", "          "}};
        ZPAAttrList* list = slots.list();
        const ZPARC rc = BE_action_stats(&connection_, session_, job.list(), list, &error);
        out.clear();
        for (int i = 0; i < list->Count; ++i) out[list->Attributes[i].Name] = list->Attributes[i].Value;
        return rc;
    }
    static std::size_t statements() { return oci_standin::journal().prepared.size(); }

    BE_DUZ_Handles* session_ = nullptr;
    ZPAConnHandle connection_{};
};

TEST_F(Statistics, ExitStatusByTheTreeAndTheWarningRule) {
    struct Case {
        const char* name;
        std::vector<Row> rows;
        Pairs extra;
        const char* account_key;  // the account's CONVERT_WARNING2OK, "" for none
        const char* status;
        const char* code;
    } cases[] = {
        {"normal root, warning child", {request(1000, "C"), request(1001, "G")}, {}, "", "N", "1"},
        {"warnings convert by the job",
         {request(1000, "C"), request(1001, "G")},
         {{"DUZ-CONVERT_WARNING2OK", "y"}},
         "",
         "Y",
         "0"},
        {"warnings convert by the account", {request(1000, "C"), request(1001, "G")}, {}, "Y", "Y", "0"},
        {"the job's empty value leaves it to the account",
         {request(1000, "C"), request(1001, "G")},
         {{"DUZ-CONVERT_WARNING2OK", ""}},
         "yes",
         "Y",
         "0"},
        {"a child in error, children waited for", {request(1000, "C"), request(1001, "E")}, {}, "", "N", "1"},
        {"a child in error, root only",
         {request(1000, "C"), request(1001, "E")},
         {{"DUZ-WAITCHILD", "N"}},
         "",
         "Y",
         "0"},
        {"a child in error, no substatus",
         {request(1000, "C"), request(1001, "E")},
         {{"DUZ-SUBSTATUS", "no"}},
         "",
         "Y",
         "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        oci_standin::reset();
        database(c.rows);
        home->write_file("data/DUZ_inst.dat",
                         std::string("[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\n") +
                             (*c.account_key ? std::string("CONVERT_WARNING2OK ") + c.account_key + "\n" : ""));
        std::map<std::string, std::string> out;
        ZPAError error{};
        ASSERT_EQ(stats(c.extra, out, error), 0) << error.text;
        EXPECT_EQ(out["EXITSTATUS"], c.status);
        EXPECT_EQ(out["EXITCODE"], c.code);
        EXPECT_EQ(out["EXITMSG"],
                  *c.status == 'Y' ? "Normal Completion" : "Job or child job completed with Warning or Error");
    }
}

TEST_F(Statistics, ElapsedTimeCountsOnlyRowsWithBothDates) {
    struct Case {
        const char* name;
        std::vector<Row> rows;
        const char* elapsed;
        const char* end;
    } cases[] = {
        {"ninety seconds", {request(1000, "C", "20250201100000", "20250201100130")}, "9000", "20250201100130"},
        {"a first row without dates",
         {request(1000, "C"), request(1001, "C", "20250201100000", "20250201100010")},
         "1000",
         "20250201100010"},
        {"no row with dates", {request(1000, "C", "20250201100000"), request(1001, "C")}, "0", kNow},
        {"a year does not overflow",
         {request(1000, "C", "20240101000000", "20250101000000")},
         "3162240000",
         "20250101000000"},
        {"a cancelled root", {request(1000, "D")}, "1", kNow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        oci_standin::reset();
        database(c.rows);
        std::map<std::string, std::string> out;
        ZPAError error{};
        ASSERT_EQ(stats({}, out, error), 0) << error.text;
        EXPECT_EQ(out["ELAPSEDTIME"], c.elapsed);
        EXPECT_EQ(out["END_TIME"], c.end);
    }
    // The output was built again: the sysout holds the tree's table.
    EXPECT_NE(home->read_file("sysout/ORD5_1.DAT").find("Report"), std::string::npos);
}

TEST_F(Statistics, FailedJobIsAnsweredFromTheFailureTable) {
    struct Case {
        const char* name;
        const char* start;  // START_TIME, nullptr for none
        const char* elapsed;
    } cases[] = {
        {"with its start time", "20250201115900", "6000"},
        {"without a start time", nullptr, "0"},
        {"a start time after now", "20250201130000", "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove("sysout/ORD5_1.DAT");
        ASSERT_EQ(BE_JOB_write_jobs_failure_file("ORD5", "1", "12154 - could not resolve"), 0);
        std::map<std::string, std::string> out;
        ZPAError error{};
        Pairs extra;
        if (c.start != nullptr) extra.emplace_back("START_TIME", c.start);
        ASSERT_EQ(stats(extra, out, error), 0);
        EXPECT_EQ(out["EXITSTATUS"], "N");
        EXPECT_EQ(out["EXITCODE"], "12154");
        EXPECT_EQ(out["EXITMSG"], "12154 - could not resolve");
        EXPECT_EQ(out["END_TIME"], kNow);
        EXPECT_EQ(out["ELAPSEDTIME"], c.elapsed);
        const std::string sysout = home->read_file("sysout/ORD5_1.DAT");
        const std::string notice = "could not resolve";
        EXPECT_NE(sysout.find(notice), std::string::npos) << sysout;
        EXPECT_EQ(sysout.find(notice), sysout.rfind(notice)) << "the notice once: " << sysout;
    }
    EXPECT_EQ(statements(), 0u);
}

TEST_F(Statistics, FailuresOfTheQueryAndOfTheOutput) {
    // A PROCID without rows fails the call with the Oracle reason.
    oci_standin::add_rule(substring_rule(kStats, {answer_rows({})}));
    std::map<std::string, std::string> out;
    ZPAError error{};
    EXPECT_NE(stats({}, out, error), 0);
    // A missing PROCID runs nothing.
    oci_standin::reset();
    betest::OwnedList job{{"ORDERNO", "ORD5"}, {"RUNNO", "1"}, {"DUZ-INSTANCE", "VIS"}};
    betest::OwnedList slots{{"EXITSTATUS", "  "}};
    EXPECT_EQ(BE_action_stats(&connection_, session_, job.list(), slots.list(), &error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: keyword PROCID not found");
    EXPECT_EQ(statements(), 0u);

    // The output's tree query fails with an Oracle error: the exit status stands, the sysout
    // holds the download's notice.
    oci_standin::reset();
    oci_standin::add_rule(
        substring_rule(kStats, {answer_rows({request(1000, "C", "20250201100000", "20250201100130")})}));
    oci_standin::add_rule(
        substring_rule(kOutputTree, {answer_failure(failure_at(Step::Execute, 942, "table or view does not exist"))}));
    error = ZPAError{};
    ASSERT_EQ(stats({}, out, error), 0);
    EXPECT_EQ(out["EXITSTATUS"], "Y");
    EXPECT_EQ(out["ELAPSEDTIME"], "9000");
    const std::string sysout = home->read_file("sysout/ORD5_1.DAT");
    EXPECT_NE(sysout.find("Failed to download job's Sysout. ORA-00942: table or view does not exist"),
              std::string::npos)
        << sysout;
    EXPECT_EQ(out["SYSOUTSIZE"], std::to_string(sysout.size()));
}

// A tree of 45 requests: the statistics query and the output's tree each come in three round trips
// (the prefetch), not in one a row.
TEST_F(Statistics, TreeOfFortyFiveRequestsComesInAFewRoundTrips) {
    std::vector<Row> stats_rows;
    std::vector<Row> output_rows;
    for (int id = 1000; id < 1045; ++id) {
        stats_rows.push_back(request(id, "C", "20250201100000", "20250201100130"));
        output_rows.push_back(
            {id, "PARENT:1000", "C", "C", "MSG:done", "NULL=", "NULL=", "FND", "Report", "NULL=", "NULL=", "N", ""});
    }
    oci_standin::add_rule(substring_rule(kStats, {answer_rows(stats_rows)}));
    oci_standin::add_rule(substring_rule(kOutputTree, {answer_rows(output_rows)}));
    std::map<std::string, std::string> out;
    ZPAError error{};
    ASSERT_EQ(stats({}, out, error), 0) << error.text;
    EXPECT_EQ(out["EXITSTATUS"], "Y");
    EXPECT_EQ(betest::round_trips_of(kStats), std::vector<unsigned>{3});
    EXPECT_EQ(betest::round_trips_of(kOutputTree), std::vector<unsigned>{3});
    const std::string sysout = home->read_file("sysout/ORD5_1.DAT");
    EXPECT_EQ(std::count(sysout.begin(), sysout.end(), '\n'), 46);  // the header and 45 rows
}

// A fetch that fails inside a tree is no end of the tree: neither the statistics nor the output may
// stand on the rows read before it.
TEST_F(Statistics, FetchErrorInsideTheTreeFailsTheQueryItBelongsTo) {
    oci_standin::Failure snapshot = failure_at(Step::Fetch, 1555, "snapshot too old");
    snapshot.row = 2;
    const Row output_root = {
        1000, "PARENT:", "C", "C", "MSG:done", "NULL=", "NULL=", "FND", "Report", "NULL=", "NULL=", "N", ""};
    const Row output_child = {
        1001, "PARENT:1000", "C", "E", "MSG:failed", "NULL=", "NULL=", "FND", "Posting", "NULL=", "NULL=", "N", ""};
    struct Case {
        const char* name;
        bool statistics_fail;  // else the output's tree fails
    } cases[] = {{"the statistics query", true}, {"the output's tree", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        oci_standin::reset();
        std::remove("sysout/ORD5_1.DAT");
        const std::vector<Row> stats_rows = {request(1000, "C", "20250201100000", "20250201100130"),
                                             request(1001, "E")};
        oci_standin::add_rule(substring_rule(
            kStats, {c.statistics_fail ? answer_failure(snapshot, stats_rows) : answer_rows({stats_rows[0]})}));
        oci_standin::add_rule(substring_rule(kOutputTree, {answer_failure(snapshot, {output_root, output_child})}));
        std::map<std::string, std::string> out;
        ZPAError error{};
        const ZPARC rc = stats({}, out, error);
        if (c.statistics_fail) {
            // The call fails with the Oracle reason, which the job action reports as the job's failure.
            EXPECT_NE(rc, 0);
            EXPECT_EQ(error.code, 1555u);
            EXPECT_NE(std::string(error.text).find("ORA-01555: snapshot too old"), std::string::npos) << error.text;
            EXPECT_NE(out["EXITSTATUS"], "Y");
            EXPECT_FALSE(home->exists("sysout/ORD5_1.DAT"));
        } else {
            // The exit status stands; the sysout holds the download's notice, not a table cut short.
            ASSERT_EQ(rc, 0) << error.text;
            EXPECT_EQ(out["EXITSTATUS"], "Y");
            const std::string sysout = home->read_file("sysout/ORD5_1.DAT");
            EXPECT_NE(sysout.find("Failed to download job's Sysout. ORA-01555: snapshot too old"), std::string::npos)
                << sysout;
            EXPECT_EQ(sysout.find("PROGRAM NAME"), std::string::npos) << sysout;
        }
    }
}

}  // namespace
