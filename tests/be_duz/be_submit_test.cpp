// Request submission on the stand-in database: the task types, the user's identity, the program's
// arguments in the submission block, the procid file and the submitted-requests file, and request
// sets with their program sections, operating units and FND_SUBMIT steps.
#include "be_job_fixture.h"
#include "gm_param.h"
#include "gm_time.h"
#include "os_diag.h"
#include "testbed.h"

#include <sys/stat.h>

#include <ctime>
#include <string>
#include <vector>

namespace {

using betest::OwnedList;
using betest::Pairs;
using oci_standin::answer_failure;
using oci_standin::answer_rows;
using oci_standin::Cell;
using oci_standin::failure_at;
using oci_standin::out_value;
using oci_standin::Row;
using oci_standin::Rule;
using oci_standin::Step;
using oci_standin::substring_rule;

constexpr const char* kProcid = "procid/ORD5_1.DAT";
constexpr const char* kReqs = "data/DUZ_reqs.dat";

using betest::outs;
using betest::program_parameter;

Row set_parameter(const char* name) {
    return {"N", Cell(), Cell(), name, name, Cell(), 1000, "VS", 240, "N", "C", Cell(), Cell(), "N", "Y", Cell()};
}

class Submission : public betest::JobTest {
protected:
    void SetUp() override {
        betest::JobTest::SetUp();
        home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\n");
    }
    static void database(std::vector<Rule> rules = {}, std::vector<Row> parameters = {}) {
        betest::submission_database(std::move(rules), std::move(parameters));
    }
    // The job of a single request by names.
    static Pairs request_job(Pairs extra = {}) {
        Pairs pairs{{"ORDERNO", "ORD5"},          {"RUNNO", "1"},
                    {"DUZ-INSTANCE", "VIS"},      {"DUZ-TASKTYPE", "REQUEST"},
                    {"DUZ-USERNAME", "SYSADMIN"}, {"DUZ-RESPNAME", "System Administrator"},
                    {"DUZ-RESPAPP", "SYSADMIN"},  {"DUZ-PROGNAME", "XXREPORT"},
                    {"DUZ-APPNAME", "XXCUST"}};
        for (auto& [name, value] : extra) {
            bool replaced = false;
            for (auto& pair : pairs)
                if (pair.first == name) pair.second = value, replaced = true;
            if (!replaced) pairs.emplace_back(name, value);
        }
        return pairs;
    }
    ZPARC submit(const Pairs& in, ZPAError& error, const Pairs& connection_attrs = {}) {
        out_ = std::make_unique<betest::OwnedList>(
            std::initializer_list<std::pair<const char*, const char*>>{{"PROCID", "                "}});
        return BE_action_submit(session, job(connection_attrs), job(in), out_->list(), &error);
    }
    std::string procid_out() { return out_->list()->Attributes[0].Value; }
    // The rows of a procid or requests file as key -> value.
    std::vector<std::pair<std::string, std::string>> rows_of(const char* file) {
        std::vector<std::pair<std::string, std::string>> rows;
        for (const std::string& line : testbed::lines_of(home.read_file(file))) {
            if (line.empty()) continue;
            const std::size_t blank = line.find(' ');
            rows.emplace_back(line.substr(0, blank), line.substr(line.find_first_not_of(' ', blank)));
        }
        return rows;
    }

    std::unique_ptr<betest::OwnedList> out_;
};

TEST_F(Submission, ProgramWithThreeParametersEndsItsArgumentsWithTheMarker) {
    database({}, {program_parameter("P1"), program_parameter("P2"), program_parameter("P3")});
    ZPAError error{};
    ASSERT_EQ(submit(request_job({{"DUZ-PARMS-P001-VALUE", "a"},
                                  {"DUZ-PARMS-P002-VALUE", "b'; drop table x; --"},
                                  {"DUZ-PARMS-P003-VALUE", "c"},
                                  {"DUZ-DESCRIPTION", "'; drop table x; --"}}),
                     error),
              0)
        << error.text;
    EXPECT_EQ(procid_out(), "4711");
    auto runs = executions_of("FND_REQUEST.submit_request");
    ASSERT_EQ(runs.size(), 1u);
    const auto& binds = runs[0].binds;
    ASSERT_EQ(binds.size(), 105u);
    EXPECT_EQ(binds_of(runs[0]).front(), (std::pair<std::string, std::string>{"APP_NAME", "XXCUST"}));
    EXPECT_EQ(bind_named(runs[0], "DESP")->value, Cell("'; drop table x; --"));
    EXPECT_EQ(bind_named(runs[0], "START_TIME")->value, Cell(""));
    EXPECT_EQ(bind_named(runs[0], "ARG1")->value, Cell("a"));
    EXPECT_EQ(bind_named(runs[0], "ARG2")->value, Cell("b'; drop table x; --"));
    EXPECT_EQ(bind_named(runs[0], "ARG3")->value, Cell("c"));
    for (int i = 4; i <= 100; ++i) {
        const auto* marker = bind_named(runs[0], "ARG" + std::to_string(i));
        ASSERT_NE(marker, nullptr);
        EXPECT_EQ(marker->type, SQLT_CHR);
        EXPECT_EQ(marker->size, 1);
        EXPECT_EQ(marker->value, Cell(std::string(1, '\0')));
    }
    for (const std::string& text : prepared()) EXPECT_EQ(text.find("drop table"), std::string::npos) << text;
    // The procid file and the submitted-requests file.
    EXPECT_EQ(rows_of(kProcid), (std::vector<std::pair<std::string, std::string>>{{"PROCID", "4711"},
                                                                                  {"DUZ-INSTANCE", "VIS"},
                                                                                  {"DUZ-TASKTYPE", "REQUEST"},
                                                                                  {"DUZ-PROGID", "31"},
                                                                                  {"DUZ-APPID", "222"}}));
    EXPECT_EQ(rows_of(kReqs).at(0).first, "4711");
}

TEST_F(Submission, LongApplicationShortNameReachesTheBlockWhole) {
    database();
    const std::string name(30, 'A');
    ZPAError error{};
    ASSERT_EQ(submit(request_job({{"DUZ-APPNAME", name}}), error), 0) << error.text;
    EXPECT_EQ(bind_named(executions_of("FND_REQUEST.submit_request").at(0), "APP_NAME")->value, Cell(name));
}

TEST_F(Submission, HumanResourcesProgramGetsItsSessionRowBeforeTheBlock) {
    database();
    ZPAError error{};
    ASSERT_EQ(submit(request_job({{"DUZ-APPNAME", "PER"}}), error), 0) << error.text;
    auto texts = prepared();
    const auto insert = std::find(texts.begin(), texts.end(),
                                  "insert into FND_SESSIONS (SESSION_ID, EFFECTIVE_DATE) VALUES "
                                  "(userenv('sessionid'),trunc(sysdate))");
    ASSERT_NE(insert, texts.end());
    const auto block = std::find_if(texts.begin(), texts.end(),
                                    [](const std::string& t) { return t.find("submit_request") != std::string::npos; });
    EXPECT_LT(insert - texts.begin(), block - texts.begin());

    database({substring_rule("insert into FND_SESSIONS",
                             {answer_failure(failure_at(Step::Execute, 1031, "insufficient privileges"))})});
    EXPECT_EQ(submit(request_job({{"DUZ-APPNAME", "PAY"}}), error), 1);
    EXPECT_STREQ(error.text,
                 "CM for OEBS: Fail to insert into FND_SESSIONS table. ORA-01031: insufficient privileges\n");
    EXPECT_TRUE(executions_of("submit_request").empty());
}

TEST_F(Submission, FailingPrintOptionIsAWarningAndTheRequestIsSubmitted) {
    database({substring_rule("from fnd_printer_styles_view", {answer_rows({})})});
    ZPAError error{};
    testbed::StderrCapture capture;
    ASSERT_EQ(submit(request_job({{"DUZ-PRINTERNAME", "LP01"}, {"DUZ-PRINTSTYLE", "Nonesuch"}}), error), 0);
    EXPECT_EQ(capture.text(),
              "Warning: Fail to set print options.\nCheck printer name, printer style and print copies are valid\n");
    EXPECT_EQ(procid_out(), "4711");
    EXPECT_STREQ(
        error.text,
        "CM for OEBS: Fail to set print options. Check printer name, printer style and print copies are valid");
}

TEST_F(Submission, IdentityByIdsOrByNames) {
    ZPAError error{};
    // All four ids: no name query, no responsibility names needed.
    database();
    ASSERT_EQ(submit({{"ORDERNO", "ORD5"},
                      {"RUNNO", "1"},
                      {"DUZ-INSTANCE", "VIS"},
                      {"DUZ-TASKTYPE", "REQUEST"},
                      {"DUZ-USERNAME", "SYSADMIN"},
                      {"DUZ-USERID", "7"},
                      {"DUZ-RESPID", "8"},
                      {"DUZ-RESPAPPID", "9"},
                      {"DUZ-SECURITY_GROUPID", "0"},
                      {"DUZ-PROGNAME", "XXREPORT"},
                      {"DUZ-APPNAME", "XXCUST"}},
                     error),
              0)
        << error.text;
    EXPECT_TRUE(executions_of("fnd_user_resp_groups").empty());
    EXPECT_EQ(bound("APPS_INITIALIZE", "USER_ID"), Cell(7));

    // The group id missing alone: all four by name, group "Standard".
    database();
    ASSERT_EQ(submit(request_job(), error), 0) << error.text;
    auto run = executions_of("fnd_user_resp_groups").at(0);
    // Out-binds show what went in (0); the ids that came back reach the applications context.
    EXPECT_EQ(binds_of(run), (Pairs{{"USERID", "0"},
                                    {"RESPID", "0"},
                                    {"RESP_APPID", "0"},
                                    {"USER_NAME", "SYSADMIN"},
                                    {"RESP_NAME", "System Administrator"},
                                    {"RESP_APP_NAME", "SYSADMIN"},
                                    {"GROUPID", "0"},
                                    {"GROUP_NAME", "Standard"}}));
    EXPECT_EQ(bound("APPS_INITIALIZE", "RESP_ID"), Cell(50559));

    // Names missing when they are needed.
    Pairs without_resp = request_job();
    std::erase_if(without_resp, [](auto& p) { return p.first == "DUZ-RESPAPP"; });
    database();
    EXPECT_EQ(submit(without_resp, error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: keyword DUZ-RESPAPP not found");
    EXPECT_TRUE(prepared().empty());
}

TEST_F(Submission, WrongCombinationIsRecordedAsAFailedSubmissionThroughTheDispatch) {
    database(
        {substring_rule("fnd_user_resp_groups", {answer_failure(failure_at(Step::Execute, 1403, "no data found"))})});
    betest::OwnedList out{{"PROCID", "                "}};
    ZPAConnHandle connection{};
    connection.UserData = session;
    ZPAError error{};
    char action[] = "SUBMIT";
    EXPECT_EQ(ZPAAPI_JOB_ACTION(&connection, action, job(request_job()), out.list(), &error), 0);
    EXPECT_STREQ(out.list()->Attributes[0].Value, "0");
    EXPECT_EQ(error.code, 1403u);
    EXPECT_EQ(rows_of(kProcid).at(0), (std::pair<std::string, std::string>{"PROCID", "0"}));
    char message[BE_JOB_FAILURE_MSG_SIZE] = "";
    ASSERT_EQ(be_job_find_in_jobs_failure_file("ORD5", "1", message), 0);
    EXPECT_EQ(std::string(message),
              "1403 - CM for OEBS: DUZ_USERNAME 'SYSADMIN', DUZ_RESPNAME 'System Administrator', DUZ_RESPAPP "
              "'SYSADMIN', and DUZ_SECURITY_GROUPNAME 'Standard' are not the correct combination");
    EXPECT_TRUE(executions_of("submit_request").empty());
}

TEST_F(Submission, TakenOverAndWatchedRequests) {
    ZPAError error{};
    database();
    ASSERT_EQ(submit(request_job({{"DUZ-TASKTYPE", "intercept"}, {"DUZ-REQUEST_ID", "9001"}}), error), 0) << error.text;
    EXPECT_EQ(procid_out(), "9001");
    EXPECT_EQ(prepared(), std::vector<std::string>{
                              "BEGIN update FND_CONCURRENT_REQUESTS set HOLD_FLAG = 'N' where REQUEST_ID = :req_id; "
                              "commit; END;"});
    EXPECT_EQ(bound("HOLD_FLAG", "REQ_ID"), Cell(9001));
    EXPECT_EQ(rows_of(kProcid), (std::vector<std::pair<std::string, std::string>>{{"PROCID", "9001"},
                                                                                  {"DUZ-INSTANCE", "VIS"},
                                                                                  {"DUZ-TASKTYPE", "REQUEST"},
                                                                                  {"DUZ-PROGID", "1"},
                                                                                  {"DUZ-APPID", "0"}}));
    EXPECT_EQ(rows_of(kReqs).at(0).first, "9001");

    for (const char* bad : {"0", "abc", "12abc", "-4"}) {
        SCOPED_TRACE(bad);
        database();
        EXPECT_EQ(submit(request_job({{"DUZ-TASKTYPE", "INTERCEPT"}, {"DUZ-REQUEST_ID", bad}}), error), 1);
        EXPECT_EQ(std::string(error.text), std::string("CM for OEBS: Request_id ") + bad + " has wrong format");
        EXPECT_TRUE(prepared().empty());
    }

    std::remove(kProcid);
    std::remove(kReqs);
    database();
    ASSERT_EQ(submit(request_job({{"DUZ-TASKTYPE", "MONITOR"}, {"DUZ-REQUEST_ID", "9002"}}), error), 0);
    EXPECT_EQ(procid_out(), "9002");
    EXPECT_TRUE(prepared().empty());
    EXPECT_EQ(rows_of(kProcid).at(2), (std::pair<std::string, std::string>{"DUZ-TASKTYPE", "MONITOR"}));
    EXPECT_FALSE(home.exists(kReqs));

    database();
    EXPECT_EQ(submit(request_job({{"DUZ-TASKTYPE", "MONITOR"}}), error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: key DUZ-REQUEST_ID not found");
    EXPECT_EQ(submit(request_job({{"DUZ-TASKTYPE", "BATCH"}}), error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Invalid DUZ tasktype: 'BATCH'");
    EXPECT_TRUE(executions_of("submit_request").empty());
}

TEST_F(Submission, ProcidFileOfARerunAndTheRequestsFileKeepsADayOfRows) {
    database();
    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    home.write_file(kReqs, "100  " + std::to_string(now - 86401) + "\n200  " + std::to_string(now - 86000) + "\n");
    ZPAError error{};
    ASSERT_EQ(submit(request_job({{"RUNNO", "2"}, {"DUZ-DISPLAY_OUTPUT", "Y"}}), error), 0) << error.text;
    char key[70];
    std::snprintf(key, sizeof key, "%-64s  ", "PROCID");
    const std::string procid = home.read_file("procid/ORD5_2.DAT");
    EXPECT_EQ(procid, std::string(key) + "4711\n" + std::string(key).replace(0, 12, "DUZ-INSTANCE") + "VIS\n" +
                          std::string(key).replace(0, 12, "DUZ-TASKTYPE") + "REQUEST\n" +
                          std::string(key).replace(0, 10, "DUZ-PROGID") + "31\n" +
                          std::string(key).replace(0, 9, "DUZ-APPID") + "222\n" +
                          std::string(key).replace(0, 18, "DUZ-DISPLAY_OUTPUT") + "Y\n" +
                          std::string(key).replace(0, 12, "CLEAR_ACTIVE") + "Y\n");
    auto reqs = rows_of(kReqs);
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].first, "200");
    EXPECT_EQ(reqs[1].first, "4711");
}

// The request runs once it is submitted, whatever becomes of the submitted-requests file: a row no
// reader can take is dropped (and logged) as the file is rewritten, and a file that cannot be
// written at all is logged; neither makes the job fail while its request runs (a rerun would submit
// it again).
TEST_F(Submission, TheRequestsFileNeverFailsASubmittedRequest) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    const std::string fresh = std::to_string(now);
    const std::string damaged_key(70, '7');
    home.write_file(kReqs, "200  " + fresh + "\n\n" + damaged_key + "  " + fresh + "\n\n300  " + fresh + "\n\n");
    database();
    ZPAError error{};
    ASSERT_EQ(submit(request_job(), error), 0) << error.text;
    EXPECT_EQ(procid_out(), "4711");
    EXPECT_EQ(rows_of(kReqs), (std::vector<std::pair<std::string, std::string>>{
                                  {"200", fresh}, {"300", fresh}, {"4711", rows_of(kReqs).at(2).second}}));
    const std::string log = testbed::read_diag_log_texts("Oebs_CM");
    EXPECT_NE(log.find("Unreadable line dropped from the requests file: " + damaged_key), std::string::npos) << log;

    // A folder where the file should be: the request is submitted, the log says it is not recorded.
    std::remove(kReqs);
    ASSERT_EQ(mkdir(kReqs, 0755), 0);
    database();
    ASSERT_EQ(submit(request_job({{"RUNNO", "2"}}), error), 0) << error.text;
    EXPECT_EQ(procid_out(), "4711");
    EXPECT_EQ(rows_of("procid/ORD5_2.DAT").at(0), (std::pair<std::string, std::string>{"PROCID", "4711"}));
    EXPECT_NE(testbed::read_diag_log_texts("Oebs_CM").find("Request 4711 is submitted but not recorded in "),
              std::string::npos);
}

TEST_F(Submission, FirstRunDateMustBeThereAndWellFormed) {
    for (const char* first_run : {"", "2025-01-10"}) {
        SCOPED_TRACE(first_run);
        database();
        ZPAError error{};
        EXPECT_EQ(submit(request_job({{"DUZ-INCREMENT_DATE", "Y"}, {"DUZ-FIRST_RUN_DATE", first_run}}), error), 2);
        EXPECT_EQ(error.code, 2u);
        EXPECT_TRUE(executions_of("submit_request").empty());
    }
}

// ---- request sets -------------------------------------------------------------------------------

class SetSubmission : public Submission {
protected:
    // A set of two programs: stage "Aging" (display sequence 1) with ARXAGE (sequence 10) and
    // ARXCOL (sequence 20), each with two parameters.
    static std::vector<Rule> two_programs() {
        return {
            substring_rule("FROM fnd_request_sets RS", {answer_rows({{"AR", 222, "ARXAGE", 7001, 10, "Aging", 1},
                                                                     {"AR", 222, "ARXCOL", 7002, 20, "Aging", 1}})}),
            substring_rule("FROM FND_REQUEST_SET_PROGRAM_ARGS",
                           {answer_rows({set_parameter("P1"), set_parameter("P2")})})};
    }
    static Pairs set_job(Pairs extra = {}) {
        Pairs pairs = request_job({{"DUZ-TASKTYPE", "REQUEST_SET"}, {"DUZ-SETNAME", "XXAGING"}, {"DUZ-APPNAME", "AR"}});
        pairs.insert(pairs.end(), extra.begin(), extra.end());
        return pairs;
    }
    // The arguments bound to each FND_SUBMIT.submit_program, :arg1 and :arg2.
    static std::vector<Pairs> program_arguments() {
        std::vector<Pairs> found;
        for (auto& run : executions_of("FND_SUBMIT.submit_program"))
            found.push_back({{"PROG", bind_named(run, "PROGNAME")->value.to_string()},
                             {"ARG1", bind_named(run, "ARG1")->value.to_string()},
                             {"ARG2", bind_named(run, "ARG2")->value.to_string()}});
        return found;
    }
};

TEST_F(SetSubmission, ProgramAttributesByStageNameAndSequenceReachTheirProgram) {
    database(two_programs());
    ZPAError error{};
    ASSERT_EQ(submit(set_job({{"DUZ-SETPROG-P001-STAGENAME", "Aging"},
                              {"DUZ-SETPROG-P001-PROGSEQ", "10"},
                              {"DUZ-SETPROG-P001-PARMS-P001-VALUE", "first"},
                              {"DUZ-SETPROG-P004-STAGENAME", "Aging"},
                              {"DUZ-SETPROG-P004-PROGSEQ", "10"},
                              {"DUZ-SETPROG-P004-PARMS-P002-VALUE", "later"},
                              {"DUZ-SETPROG-P002-STAGENAME", "Aging"},
                              {"DUZ-SETPROG-P002-PROGNAME", "ARXCOL"},
                              {"DUZ-SETPROG-P002-PARMS-P001-VALUE", "never"}}),
                     error),
              0)
        << error.text;
    EXPECT_EQ(procid_out(), "5000");
    EXPECT_EQ(program_arguments(), (std::vector<Pairs>{{{"PROG", "ARXAGE"}, {"ARG1", "first"}, {"ARG2", "later"}},
                                                       {{"PROG", "ARXCOL"}, {"ARG1", ""}, {"ARG2", ""}}}));
    // Arguments are bound before the named placeholders.
    auto run = executions_of("FND_SUBMIT.submit_program").at(0);
    EXPECT_EQ(run.binds.at(0).name, "ARG1");
    EXPECT_EQ(run.binds.at(100).name, "APPNAME");
    EXPECT_EQ(run.binds.at(103).name, "RC_CODE");
    EXPECT_EQ(bound("set_request_set", "SETNAME"), Cell("XXAGING"));
    EXPECT_EQ(rows_of(kProcid).at(3), (std::pair<std::string, std::string>{"DUZ-REQSETID", "90"}));
}

TEST_F(SetSubmission, OperatingUnitOrderFollowsNoOverrideOfDefault) {
    struct Case {
        const char* no_override;
        std::vector<std::string> order;  // set_org_id (unit) and the definitions (parms), as they ran
    } cases[] = {
        {"N", {"unit", "parms", "unit", "unit", "parms", "unit"}},
        {"Y", {"parms", "unit", "parms", "unit", "unit", "unit"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.no_override);
        auto rules = two_programs();
        rules.push_back(substring_rule("MULTI_ORG_CATEGORY = 'S'", {answer_rows({{1}})}));
        rules.push_back(substring_rule("otl.name from", {answer_rows({{"Vision Operations"}})}));
        rules.push_back(betest::block_rule("MO_GLOB_ORG_ACCESS_TMP"));
        database(rules);
        ZPAError error{};
        ASSERT_EQ(submit(set_job(), error, {{"NO_OU_OVER_DFLT", c.no_override}}), 0) << error.text;
        std::vector<std::string> order;
        for (const std::string& text : prepared()) {
            if (text.find("FND_SUBMIT.set_org_id") != std::string::npos) order.push_back("unit");
            if (text.find("FND_REQUEST_SET_PROGRAM_ARGS") != std::string::npos) order.push_back("parms");
        }
        EXPECT_EQ(order, c.order);
    }
}

TEST_F(SetSubmission, FailuresOfTheSetSteps) {
    ZPAError error{};
    // No programs: nothing is opened or submitted.
    database({substring_rule("FROM fnd_request_sets RS", {answer_rows({})})});
    EXPECT_EQ(submit(set_job(), error), 1);
    EXPECT_EQ(error.code, static_cast<ZPAErrorCode>(OCI_NO_DATA));
    EXPECT_TRUE(executions_of("FND_SUBMIT").empty());

    // The set refused by FND_SUBMIT.set_request_set.
    auto rules = two_programs();
    rules.insert(rules.begin(), substring_rule("set_request_set", {outs({{"rc_code", 1}, {"errbuf", "not allowed"}})}));
    database(rules);
    EXPECT_EQ(submit(set_job(), error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Fail to set request_set 'XXAGING'");
    EXPECT_TRUE(executions_of("submit_program").empty());

    // A program refused by FND_SUBMIT.submit_program.
    rules = two_programs();
    rules.insert(rules.begin(), substring_rule("submit_program", {outs({{"rc_code", 1}})}));
    database(rules);
    EXPECT_EQ(submit(set_job(), error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Fail to submit program 'ARXAGE'");
    EXPECT_TRUE(executions_of("submit_set").empty());

    // submit_set giving no request.
    rules = two_programs();
    rules.insert(rules.begin(), substring_rule("FND_SUBMIT.submit_set", {outs({{"start_t", "0"}})}));
    database(rules);
    EXPECT_EQ(submit(set_job(), error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Failure: Request_id is not a valid value");
    EXPECT_FALSE(home.exists(kProcid));
}

TEST_F(SetSubmission, HostileSetAndProgramValuesAreOnlyBound) {
    const std::string hostile = "S'; drop table x; --";
    auto rules = two_programs();
    database(rules);
    ZPAError error{};
    ASSERT_EQ(submit(set_job({{"DUZ-SETNAME", hostile},
                              {"DUZ-SETPROG-P001-STAGENAME", "Aging"},
                              {"DUZ-SETPROG-P001-PROGSEQ", "10"},
                              {"DUZ-SETPROG-P001-PARMS-P001-VALUE", hostile}}),
                     error),
              0)
        << error.text;
    for (const std::string& text : prepared()) EXPECT_EQ(text.find("drop table"), std::string::npos) << text;
    EXPECT_EQ(program_arguments().at(0).at(1).second, hostile);
}

// ---- jobs made by discovery ---------------------------------------------------------------------

// What OEBS users typed into free-text parameters of their requests.
constexpr const char* kHarvest =
    "select user_name||'/'||encrypted_user_password from fnd_user where user_name = 'SYSADMIN'";
constexpr const char* kFreeText = "Select all open items";

class DiscoveredJob : public SetSubmission {
protected:
    // Programs that are not multi-org, and the organisations' value set: ID column
    // ORGANIZATION_ID, VALUE column NAME, answering a look-up by ID with by_id and one by VALUE
    // with by_value. By default 204 is the ID of "Vision Operations" and no organisation is
    // named "204".
    static std::vector<Rule> organisations(std::vector<Row> by_id = {{"204", Cell(), "Vision Operations"}},
                                           std::vector<Row> by_value = {}) {
        return {substring_rule("MULTI_ORG_CATEGORY = 'S'", {answer_rows({{0}})}),
                substring_rule("FROM FND_FLEX_VALIDATION_TABLES",
                               {answer_rows({{"HR_OPERATING_UNITS", "ORGANIZATION_ID", "N", 15, "NAME", "C", 240,
                                              Cell(), Cell(), Cell(), Cell(), Cell()}})}),
                substring_rule("FROM FND_SESSIONS", {answer_rows({{"1", "x"}})}),
                substring_rule("where ID = :bv1", {answer_rows(std::move(by_id))}),
                substring_rule("where upper(VALUE)", {answer_rows(std::move(by_value))})};
    }
    static Rule parameter_names(std::vector<Row> names) {
        return substring_rule("a.end_user_column_name name", {answer_rows(std::move(names))});
    }
    // The job that discovery hands over for the first request the rule finds, as the agent keeps
    // it, with the order and run number the agent gives it.
    Pairs discovered(const char* rule_key) {
        OwnedList in{{"EXTRACT_MODE", "ORVDEFINE"}, {"DUZ-INSTANCE", "VIS"}, {rule_key, "XX*"}};
        void* handle = nullptr;
        ZPAError error{};
        EXPECT_EQ(ZPAAPI_JOB_DATA_OPEN(connection(), &handle, in.list(), &error), 0) << error.text;
        ZPAAttrList out{0, nullptr, 0};
        EXPECT_EQ(ZPAAPI_JOB_DATA_READ(connection(), handle, in.list(), &out, &error), 0) << error.text;
        Pairs job{{"ORDERNO", "ORD5"}, {"RUNNO", "1"}};
        for (int i = 0; i < out.Count; ++i) job.emplace_back(out.Attributes[i].Name, out.Attributes[i].Value);
        if (out.Attributes) ZPAAPI_utils_release_attr(&out);
        EXPECT_EQ(ZPAAPI_JOB_DATA_CLOSE(connection(), handle, in.list(), &error), 0);
        return job;
    }
    // "SUBMIT" as the agent asks for it; the request id given.
    std::string submit_job(const Pairs& pairs) {
        OwnedList out{{"PROCID", "                "}};
        ZPAError error{};
        char action[] = "SUBMIT";
        EXPECT_EQ(ZPAAPI_JOB_ACTION(connection(), action, job(pairs), out.list(), &error), 0) << error.text;
        return out.list()->Attributes[0].Value;
    }
    // No statement holds a text that OEBS users typed.
    static void expect_no_typed_statement() {
        for (const std::string& text : prepared()) {
            EXPECT_EQ(text.find("encrypted_user_password"), std::string::npos) << text;
            EXPECT_EQ(text.find("open items"), std::string::npos) << text;
        }
    }

private:
    ZPAConnHandle* connection() {
        connection_.UserData = session;
        return &connection_;
    }
    ZPAConnHandle connection_{};
};

TEST_F(DiscoveredJob, RequestIsSubmittedWithItsStoredArgumentsWhileAnAuthorsStatementStillRuns) {
    const Row org{Cell(), Cell(), Cell(), "P_ORG", "P_ORG", 1000, "VS", "VS", 240, "F", "C", "N", "Y"};
    auto rules = organisations();
    rules.push_back(
        substring_rule("(prog.concurrent_program_name <> 'FNDRSSUB') and", {answer_rows({{101, "XXREPORT"}})}));
    rules.push_back(substring_rule(
        "fnd_conc_request_arguments arg",
        {answer_rows({{"SYSADMIN", "System Administrator", "SYSADMIN", "XXCUST", "XXREPORT", "Report", "20250314093000",
                       "NULL", "NULL", 0, "NULL", Cell(), Cell(), "Standard", kHarvest, "204", kFreeText}})}));
    rules.push_back(parameter_names({{"P_NOTE"}, {"P_ORG"}, {"P_TEXT"}}));
    rules.push_back(substring_rule("'x' FROM dual", {answer_rows({{"from-sql"}})}));
    database(rules, {program_parameter("P_NOTE"), org, program_parameter("P_TEXT")});

    EXPECT_EQ(submit_job(discovered("DUZ-PROGNAME")), "4711");
    EXPECT_EQ(submit_job(request_job({{"DUZ-PARMS-P001-VALUE", "SELECT 'x' FROM dual"}})), "4711");

    const auto runs = executions_of("FND_REQUEST.submit_request");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(bind_named(runs[0], "ARG1")->value, Cell(kHarvest));
    EXPECT_EQ(bind_named(runs[0], "ARG2")->value, Cell("204"));
    EXPECT_EQ(bind_named(runs[0], "ARG3")->value, Cell(kFreeText));
    EXPECT_EQ(bind_named(runs[0], "ARG4")->size, 1);
    EXPECT_EQ(bind_named(runs[1], "ARG1")->value, Cell("from-sql"));
    expect_no_typed_statement();
    EXPECT_EQ(executions_of("'x' FROM dual").size(), 1u);
}

// The stored ID 204 is no longer in the value set's ID column (its row removed, disabled or
// filtered out since), and another organisation, ID 999, is named "204": the request gets 204 as
// stored, never 999.
TEST_F(DiscoveredJob, StoredIdGoneFromItsValueSetIsSubmittedAsStoredNotAsAnotherRowsId) {
    const Row org{Cell(), Cell(), Cell(), "P_ORG", "P_ORG", 1000, "VS", "VS", 240, "F", "C", "N", "Y"};
    auto rules = organisations({}, {{"999", Cell(), "204"}});
    rules.push_back(
        substring_rule("(prog.concurrent_program_name <> 'FNDRSSUB') and", {answer_rows({{101, "XXREPORT"}})}));
    rules.push_back(substring_rule(
        "fnd_conc_request_arguments arg",
        {answer_rows({{"SYSADMIN", "System Administrator", "SYSADMIN", "XXCUST", "XXREPORT", "Report", "20250314093000",
                       "NULL", "NULL", 0, "NULL", Cell(), Cell(), "Standard", "204"}})}));
    rules.push_back(parameter_names({{"P_ORG"}}));
    database(rules, {org});

    testbed::StderrCapture capture;
    EXPECT_EQ(submit_job(discovered("DUZ-PROGNAME")), "4711");
    const auto runs = executions_of("FND_REQUEST.submit_request");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(bind_named(runs[0], "ARG1")->value, Cell("204"));
    EXPECT_EQ(executions_of("where ID = :bv1").size(), 1u);
    EXPECT_TRUE(executions_of("where upper(VALUE)").empty());
    EXPECT_NE(capture.text().find("PARM1 'P_ORG' keeps its stored value"), std::string::npos) << capture.text();
}

TEST_F(DiscoveredJob, RequestSetProgramsAreSubmittedWithTheirStoredArguments) {
    auto rules = organisations();
    rules.push_back(substring_rule("req.argument1 = to_char(reqs.application_id) and", {answer_rows({{201}})}));
    rules.push_back(
        substring_rule("fnd_request_sets_vl",
                       {answer_rows({{"SYSADMIN", "System Administrator", "SYSADMIN", "AR", "XXAGING", "Aging set",
                                      "20250314093000", "NULL", "NULL", 0, "NULL", Cell(), Cell(), "Standard"}})}));
    oci_standin::Answer set_programs = answer_rows({{"Aging", 10, "ARXAGE", "Aging report", "AR", kHarvest, "204"}});
    set_programs.columns = 105;
    rules.push_back(substring_rule("fnd_run_requests run", {set_programs}));
    rules.push_back(parameter_names({{"P_NOTE"}, {"P_ORG"}}));
    rules.push_back(
        substring_rule("FROM fnd_request_sets RS", {answer_rows({{"AR", 222, "ARXAGE", 7001, 10, "Aging", 1}})}));
    rules.push_back(substring_rule("FROM FND_REQUEST_SET_PROGRAM_ARGS",
                                   {answer_rows({set_parameter("P_NOTE"),
                                                 {"N", Cell(), Cell(), "P_ORG", "P_ORG", Cell(), 1000, "VS", 240, "F",
                                                  "C", Cell(), Cell(), "N", "Y", Cell()}})}));
    database(rules);

    EXPECT_EQ(submit_job(discovered("DUZ-SETNAME")), "5000");
    EXPECT_EQ(program_arguments(), (std::vector<Pairs>{{{"PROG", "ARXAGE"}, {"ARG1", kHarvest}, {"ARG2", "204"}}}));
    expect_no_typed_statement();
}

}  // namespace
