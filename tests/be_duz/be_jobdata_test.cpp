// The job-data entry points on an open stand-in session: define mode (discovery, reads in order,
// gone requests passed over, hold and cancel by WRITE), monitor mode (the submitted-requests file,
// preset placeholders) and intercept mode, and the refusals of all four calls. The agent's process
// name is learnt once per process, so each test runs one mode.
#include "be_discovery_internal.h"
#include "be_session_fixture.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using betest::lines_of;
using betest::OwnedList;
using oci_standin::Answer;
using oci_standin::answer_failure;
using oci_standin::answer_rows;
using oci_standin::Cell;
using oci_standin::failure_at;
using oci_standin::Row;
using oci_standin::Step;
using oci_standin::substring_rule;

constexpr const char* kDefineProgram = "(prog.concurrent_program_name <> 'FNDRSSUB') and";
constexpr const char* kDefineSet = "req.argument1 = to_char(reqs.application_id) and";
constexpr const char* kMonitor = "nvl(reqs.request_set_name,'NULL'),  usr.user_name";
constexpr const char* kIntercept = "req_cls.request_class_id (+)";
constexpr const char* kHold = "select hold_flag";
constexpr const char* kCancel = "connect by prior request_id";

bool has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A WRITE list allocated the way the plug-in releases it.
ZPAAttrList* write_list(std::initializer_list<std::pair<const char*, const char*>> items) {
    static ZPAAttrList list;
    list = ZPAAttrList{0, nullptr, 0};
    for (const auto& [name, value] : items) {
        ZPAAttrList before = list;
        EXPECT_EQ(ZPAAPI_UTILS_AttrListAppend_Value2Attr(&list, const_cast<char*>(name), const_cast<char*>(value)), 0);
        if (before.Attributes) ZPAAPI_utils_release_attr(&before);
    }
    return &list;
}

class JobDataTest : public betest::ConnectedSessionTest {
protected:
    void TearDown() override {
        release_out();
        ConnectedSessionTest::TearDown();
    }
    // The agent's process name, answered by its OS-services library.
    void process(const char* name) {
        setenv("APPBRIDGE_PROC_NAME", name, 1);
        std::filesystem::create_directories(home.path() + "/exe");
        std::filesystem::copy_file(APPBRIDGE_QELOS_LIBRARY, home.path() + "/exe/libQELOS.so");
    }
    ZPARC open(OwnedList& in) { return ZPAAPI_JOB_DATA_OPEN(&connection, &handle, in.list(), &error); }
    // One READ into a fresh output list (the agent's, here empty or with the given presets).
    ZPARC read(OwnedList& in, OwnedList* presets = nullptr) {
        release_out();
        out = presets ? *presets->list() : ZPAAttrList{0, nullptr, 0};
        agents_array = out.Attributes;
        error = ZPAError{};
        return ZPAAPI_JOB_DATA_READ(&connection, handle, in.list(), &out, &error);
    }
    ZPARC close(OwnedList& in) {
        const ZPARC rc = ZPAAPI_JOB_DATA_CLOSE(&connection, handle, in.list(), &error);
        handle = nullptr;
        return rc;
    }
    void release_out() {
        if (out.Attributes && out.Attributes != agents_array) ZPAAPI_utils_release_attr(&out);
        out = ZPAAttrList{0, nullptr, 0};
    }
    // Texts prepared that hold part.
    static std::vector<std::string> prepared_with(const std::string& part) {
        std::vector<std::string> texts;
        for (const std::string& text : prepared())
            if (text.find(part) != std::string::npos) texts.push_back(text);
        return texts;
    }

    void* handle = nullptr;
    ZPAAttrList out{0, nullptr, 0};
    const ZPAAttr* agents_array = nullptr;
    ZPAError error{};
};

// ------------------------------------------------------------------------------------------------
// Define mode

class DefineModeTest : public JobDataTest {
protected:
    // Program requests 101 (P1) and 102 (P2) and set submission 201. Each program request's detail
    // query answers in turn with the given rows (one row each by default).
    static void database(std::vector<Answer> details = {answer_rows({detail("P1")}), answer_rows({detail("P2")})}) {
        oci_standin::add_rule(substring_rule(kDefineProgram, {answer_rows({{101, "P1"}, {102, "P2"}})}, "programs"));
        oci_standin::add_rule(substring_rule(kDefineSet, {answer_rows({{201}})}, "sets"));
        oci_standin::add_rule(substring_rule("MULTI_ORG_CATEGORY = 'S'", {answer_rows({{0}})}));
        oci_standin::add_rule(substring_rule("fnd_conc_request_arguments arg", details, "request"));
        oci_standin::add_rule(substring_rule("'$SRS$.'", {answer_rows({{"Day"}})}));
        oci_standin::add_rule(substring_rule(
            "fnd_request_sets_vl", {answer_rows({{"U", "R", "RA", "FND", "SET1", "Set one", "20250314093000", "NULL",
                                                  "NULL", 0, "NULL", Cell(), Cell(), "Standard"}})}));
        Answer no_programs;
        no_programs.columns = 105;
        oci_standin::add_rule(substring_rule("fnd_run_requests run", {no_programs}));
        oci_standin::add_rule(substring_rule(kHold, {Answer{}}));
        oci_standin::add_rule(substring_rule(kCancel, {Answer{}}));
    }
    static Row detail(const char* program) {
        return Row{"SYSADMIN",
                   "System Administrator",
                   "SYSADMIN",
                   "FND",
                   program,
                   "Program",
                   "20250314093000",
                   "NULL",
                   "NULL",
                   0,
                   "NULL",
                   Cell(),
                   Cell(),
                   "Standard",
                   "A1"};
    }
    ZPARC write(std::initializer_list<std::pair<const char*, const char*>> items) {
        error = ZPAError{};
        return ZPAAPI_JOB_DATA_WRITE(&connection, handle, write_list(items), &error);
    }
    OwnedList in{{"EXTRACT_MODE", "ORVDEFINE"}, {"DUZ-INSTANCE", "VIS"}};
};

TEST_F(DefineModeTest, ProgramRequestsThenSetSubmissionsThenTheEnd) {
    database();
    ASSERT_EQ(open(in), 0) << error.text;
    ASSERT_NE(handle, nullptr);
    const char* expected[] = {"%%DUZ-PROGNAME=P1", "%%DUZ-PROGNAME=P2", "%%DUZ-SETNAME=SET1"};
    for (const char* line : expected) {
        ASSERT_EQ(read(in), 0) << error.text;
        const auto lines = lines_of(out);
        EXPECT_TRUE(has(lines, line)) << line;
        EXPECT_EQ(lines.back(), "%%DUZ-INSTANCE=VIS");
    }
    EXPECT_EQ(read(in), 2);
    EXPECT_EQ(close(in), 0);
    // Without a rule key both discoveries run with the set clause: the define-mode default only.
    // Each comes whole with its execution (the prefetch), not in a round trip a row.
    for (const char* query : {kDefineProgram, kDefineSet}) {
        const auto texts = prepared_with(query);
        ASSERT_EQ(texts.size(), 1u) << query;
        EXPECT_TRUE(texts[0].ends_with(" AND req.status_code = 'I' ")) << texts[0];
        EXPECT_EQ(betest::round_trips_of(query), std::vector<unsigned>{1}) << query;
    }
    const auto binds = oci_standin::journal().executions;
    std::vector<Cell> detail_ids;
    for (const auto& execution : binds)
        if (execution.rule == "request") detail_ids.push_back(execution.binds.at(0).value);
    EXPECT_EQ(detail_ids, (std::vector<Cell>{101, 102}));
}

TEST_F(DefineModeTest, OnlyASetRuleDiscoversNoProgramRequests) {
    database();
    OwnedList set_rule{{"EXTRACT_MODE", "ORVDEFINE"}, {"DUZ-SETNAME", "SET*"}, {"DUZ-PROGNAME", "P9"}};
    ASSERT_EQ(open(set_rule), 0) << error.text;
    EXPECT_EQ(close(set_rule), 0);
    ASSERT_EQ(prepared_with(kDefineProgram).size(), 1u);
    oci_standin::reset();
    database();
    OwnedList only_set{{"EXTRACT_MODE", "ORVDEFINE"}, {"DUZ-SETNAME", "SET*"}};
    ASSERT_EQ(open(only_set), 0) << error.text;
    EXPECT_TRUE(prepared_with(kDefineProgram).empty());
    EXPECT_EQ(bound(kDefineSet, "BV1"), Cell("SET%"));
    ASSERT_EQ(read(only_set), 0) << error.text;
    EXPECT_TRUE(has(lines_of(out), "%%DUZ-SETNAME=SET1"));
    EXPECT_EQ(read(only_set), 2);
    EXPECT_EQ(close(only_set), 0);
}

TEST_F(DefineModeTest, NothingFoundOpensAndTheFirstReadEnds) {
    oci_standin::add_rule(substring_rule(kDefineProgram, {answer_rows({})}));
    oci_standin::add_rule(substring_rule(kDefineSet, {answer_rows({})}));
    ASSERT_EQ(open(in), 0) << error.text;
    EXPECT_EQ(read(in), 2);
    EXPECT_EQ(out.Count, 0);
    EXPECT_EQ(close(in), 0);
}

TEST_F(DefineModeTest, GoneRequestIsPassedOverAndWriteActsOnTheOneReturned) {
    Answer gone;
    gone.columns = 15;
    database({gone, answer_rows({detail("P2")})});
    ASSERT_EQ(open(in), 0) << error.text;
    ASSERT_EQ(read(in), 0) << error.text;
    EXPECT_TRUE(has(lines_of(out), "%%DUZ-PROGNAME=P2"));
    ASSERT_EQ(write({{"EXTRACT_MODE", "ORVDEFINE"}}), 0) << error.text;
    EXPECT_EQ(bound(kCancel, "REQ_ID"), Cell(102));
    EXPECT_EQ(close(in), 0);
}

TEST_F(DefineModeTest, HostileRuleValueIsBoundOnBothDiscoveries) {
    database();
    OwnedList hostile{{"EXTRACT_MODE", "ORVDEFINE"}, {"DUZ-USERNAME", "O'Brien"}};
    ASSERT_EQ(open(hostile), 0) << error.text;
    for (const char* query : {kDefineProgram, kDefineSet}) {
        EXPECT_EQ(bound(query, "BV1"), Cell("O'Brien")) << query;
        for (const std::string& text : prepared_with(query)) EXPECT_EQ(text.find("Brien"), std::string::npos) << text;
    }
    EXPECT_EQ(close(hostile), 0);
}

TEST_F(DefineModeTest, WriteHoldsAndCancelsAsAsked) {
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, const char*>> attributes;
        int hold_rc;  // the hold block's :rc_code
        ZPARC result;
        std::vector<std::string> blocks;
        const char* text;
    };
    const Case cases[] = {
        {"hold then cancel", {{"HOLD_JOB", "Y"}}, 0, 0, {kHold, kCancel}, ""},
        {"cancel by default", {}, 0, 0, {kCancel}, ""},
        {"nothing to do", {{"CANCEL_JOB", "N"}}, 0, 0, {}, ""},
        {"hold only", {{"HOLD_JOB", "Y"}, {"CANCEL_JOB", "N"}}, 0, 0, {kHold}, ""},
        {"failed hold without cancel",
         {{"HOLD_JOB", "Y"}, {"CANCEL_JOB", "N"}},
         2,
         1,
         {kHold},
         "CM for OEBS: Fail to hold request. Request is not pending!"},
        {"failed hold, then the cancel decides",
         {{"HOLD_JOB", "Y"}},
         3,
         0,
         {kHold, kCancel},
         "CM for OEBS: Fail to hold request. Can't find request with request_id '101'."},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        Answer hold;
        hold.outs["rc_code"] = oci_standin::out_value(c.hold_rc);
        oci_standin::add_rule(substring_rule(kHold, {hold}));
        database();
        ASSERT_EQ(open(in), 0) << error.text;
        ASSERT_EQ(read(in), 0) << error.text;
        const std::size_t before = prepared().size();
        ZPAAttrList* list = write_list({{"EXTRACT_MODE", "ORVDEFINE"}});
        for (const auto& [name, value] : c.attributes) {
            ZPAAttrList previous = *list;
            ZPAAPI_UTILS_AttrListAppend_Value2Attr(list, const_cast<char*>(name), const_cast<char*>(value));
            ZPAAPI_utils_release_attr(&previous);
        }
        error = ZPAError{};
        EXPECT_EQ(ZPAAPI_JOB_DATA_WRITE(&connection, handle, list, &error), c.result) << c.what;
        EXPECT_EQ(list->Count, 0) << c.what;  // released
        EXPECT_STREQ(error.text, c.text) << c.what;
        const auto texts = prepared();
        std::vector<std::string> blocks;
        for (std::size_t i = before; i < texts.size(); ++i)
            blocks.push_back(texts[i].find(kHold) != std::string::npos ? kHold : kCancel);
        EXPECT_EQ(blocks, c.blocks) << c.what;
        EXPECT_EQ(close(in), 0);
    }
}

TEST_F(DefineModeTest, WriteRefusalsAndTheCasesWithoutWork) {
    database();
    ASSERT_EQ(open(in), 0) << error.text;
    // No READ yet: no request to act on.
    EXPECT_EQ(write({{"EXTRACT_MODE", "ORVDEFINE"}}), 1);
    const std::size_t statements = prepared().size();
    // The other mode's WRITE and a failed connection do nothing.
    ZPAAttrList* given = write_list({{"EXTRACT_MODE", "ORVCREATE"}, {"HOLD_JOB", "Y"}});
    EXPECT_EQ(ZPAAPI_JOB_DATA_WRITE(&connection, handle, given, &error), 0);
    EXPECT_EQ(given->Count, 0);  // released
    EXPECT_EQ(given->Attributes, nullptr);
    connection.result = 1;
    EXPECT_EQ(write({{"EXTRACT_MODE", "ORVDEFINE"}, {"HOLD_JOB", "Y"}}), 0);
    connection.result = 0;
    EXPECT_EQ(prepared().size(), statements);
    EXPECT_EQ(write({{"HOLD_JOB", "Y"}}), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: parameter EXTRACT_MODE not found");
    EXPECT_EQ(ZPAAPI_JOB_DATA_WRITE(&connection, nullptr, write_list({{"EXTRACT_MODE", "ORVDEFINE"}}), &error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: File Handle is Null");
    EXPECT_EQ(close(in), 0);
}

TEST_F(DefineModeTest, RefusalsOfTheEntryPoints) {
    database();
    OwnedList no_mode{{"DUZ-INSTANCE", "VIS"}};
    ZPAConnHandle no_session{};
    EXPECT_EQ(ZPAAPI_JOB_DATA_OPEN(&no_session, &handle, in.list(), &error), 1);
    EXPECT_EQ(handle, nullptr);
    EXPECT_STREQ(error.text, "CM for OEBS: Connection Userdata is Null");
    error = ZPAError{};
    EXPECT_EQ(open(no_mode), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: parameter EXTRACT_MODE not found");
    OwnedList bad_rule{{"EXTRACT_MODE", "ORVDEFINE"}, {"DUZ-APPNAME", "{A}x"}};
    error = ZPAError{};
    EXPECT_EQ(open(bad_rule), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Fail to convert rule attributes to SQL");
    EXPECT_EQ(handle, nullptr);
    OwnedList other{{"EXTRACT_MODE", "LIST"}};
    EXPECT_EQ(open(other), 0);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(read(in), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: File Handle is Null");

    oci_standin::reset();
    oci_standin::add_rule(
        substring_rule(kDefineProgram, {answer_failure(failure_at(Step::Prepare, 911, "invalid character"))}));
    error = ZPAError{};
    EXPECT_EQ(open(in), 1);
    EXPECT_EQ(error.code, 911u);
    EXPECT_EQ(handle, nullptr);

    // A define handle read in the other mode is refused; closed in the other mode it is freed as
    // what it is.
    oci_standin::reset();
    database();
    ASSERT_EQ(open(in), 0);
    EXPECT_EQ(read(no_mode), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: parameter EXTRACT_MODE not found");
    OwnedList unknown{{"EXTRACT_MODE", "ORVLIST"}};
    EXPECT_EQ(read(unknown), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: EXTRACT_MODE 'ORVLIST' is not supported");
    void* kept = handle;
    EXPECT_EQ(ZPAAPI_JOB_DATA_CLOSE(&connection, handle, no_mode.list(), &error), 1);
    EXPECT_EQ(handle, kept);
    OwnedList create{{"EXTRACT_MODE", "ORVCREATE"}};
    EXPECT_EQ(close(create), 0);
    EXPECT_EQ(ZPAAPI_JOB_DATA_CLOSE(&connection, nullptr, in.list(), &error), 1);
}

// ------------------------------------------------------------------------------------------------
// Monitor mode

class MonitorModeTest : public JobDataTest {
protected:
    void SetUp() override {
        JobDataTest::SetUp();
        process("orvextract");  // compared upper-cased
    }
    static Row request(int id, const char* resp_name = "System Administrator") {
        return Row{id, 0, 31, "FND", "FNDSCURS", "SYSADMIN", resp_name, "NULL", "SYSADMIN"};
    }
    std::string seen_file() { return home.read_file("data/DUZ_reqs.dat"); }
    OwnedList in{{"EXTRACT_MODE", "ORVCREATE"}, {"DUZ-INSTANCE", "VIS"}, {"DUZ-USERNAME", "O'Brien"}};
};

TEST_F(MonitorModeTest, ReportsEachRequestOnceADayAndRecordsItFirst) {
    const long long now = std::time(nullptr);
    home.write_file("data/DUZ_reqs.dat",
                    "11 " + std::to_string(now - 1000) + "\n12 " + std::to_string(now - 90000) + "\n");
    // 13 twice in one answer: reported once.
    oci_standin::add_rule(
        substring_rule(kMonitor, {answer_rows({request(11), request(12), request(13), request(13)})}, "monitor"));
    ASSERT_EQ(open(in), 0) << error.text;
    // Recorded before anything is read.
    std::istringstream seen(seen_file());
    std::map<std::string, long long> recorded;
    for (std::string key; seen >> key;) seen >> recorded[key];
    ASSERT_EQ(recorded.size(), 3u) << seen_file();
    EXPECT_EQ(recorded["11"], now - 1000);
    EXPECT_GE(recorded["12"], now);
    EXPECT_GE(recorded["13"], now);
    for (const char* id : {"12", "13"}) {
        ASSERT_EQ(read(in), 0) << error.text;
        const auto lines = lines_of(out);
        EXPECT_EQ(lines, (std::vector<std::string>{std::string("%%DUZ-REQUEST_ID=") + id, "%%DUZ-APPID=0",
                                                   "%%DUZ-PROGID=31", "%%DUZ-TASKTYPE=MONITOR",
                                                   std::string("JOBNAME=DUZ_") + id, "%%DUZ-INSTANCE=VIS"}));
    }
    EXPECT_EQ(read(in), 2);
    EXPECT_EQ(close(in), 0);
    // The program query, then the set query (no program or set rule: both with the same clause),
    // the rule value bound on both.
    const auto texts = prepared_with(kMonitor);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_TRUE(texts[0].ends_with(" and prog.concurrent_program_name <> 'FNDRSSUB' ")) << texts[0];
    EXPECT_TRUE(texts[1].ends_with(" and prog.concurrent_program_name = 'FNDRSSUB' ")) << texts[1];
    EXPECT_EQ(betest::round_trips_of(kMonitor), (std::vector<unsigned>{1, 1}));  // the prefetch
    for (const auto& execution : oci_standin::journal().executions) {
        if (execution.rule != "monitor") continue;
        EXPECT_EQ(execution.text.find("Brien"), std::string::npos);
        EXPECT_EQ(execution.binds.at(0).value, Cell("O'Brien"));
    }

    // A second poll finds nothing new: 2, with a handle to close.
    ASSERT_EQ(open(in), 2) << error.text;
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(read(in), 2);
    EXPECT_EQ(close(in), 0);
}

TEST_F(MonitorModeTest, TwoMonitorsPollingAtOnceReportEachRequestOnce) {
    oci_standin::add_rule(substring_rule(kMonitor, {answer_rows({request(11), request(12), request(13)})}));
    struct Poll {
        BE_DUZ_Handles* session;
        OwnedList in{{"EXTRACT_MODE", "ORVCREATE"}};
        void* handle = nullptr;
        ZPAError error{};
        ZPARC rc = -1;
    };
    Poll polls[2] = {{open_session()}, {open_session()}};
    std::vector<std::thread> threads;
    for (Poll& poll : polls)
        threads.emplace_back([&poll] {
            poll.rc = BE_DUZ_JOB_monitor(nullptr, &poll.handle, poll.session, poll.in.list(), &poll.error);
        });
    for (std::thread& thread : threads) thread.join();
    std::vector<std::string> reported;
    for (Poll& poll : polls) {
        EXPECT_TRUE(poll.rc == 0 || poll.rc == 2) << poll.error.text;
        ASSERT_NE(poll.handle, nullptr);
        auto* requests = static_cast<be_discovery::BE_DUZ_request_list_type*>(poll.handle);
        GM_PARAM_list_reset(&requests->list);
        char* key = nullptr;
        while (GM_PARAM_list_next(&requests->list, &key, nullptr) == CM_RC_OK) reported.push_back(key);
        be_discovery::free_handle(poll.handle);
        close_session(poll.session);
    }
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(reported, (std::vector<std::string>{"11", "12", "13"}));
}

TEST_F(MonitorModeTest, PresetValuesGetTheirPlaceholdersFilled) {
    oci_standin::add_rule(substring_rule(kMonitor, {answer_rows({request(12, "R&D Managers")}), answer_rows({})}));
    ASSERT_EQ(open(in), 0) << error.text;
    OwnedList presets{{"%%OUT_PROG", "DUZ_$duz-progname$"},
                      {"%%OUT_RESP", "[$DUZ-RESPNAME$] of $DUZ-USERNAME$"},
                      {"%%OUT_ONE", "cost $5"},
                      {"%%OUT_THREE", "$DUZ-APPNAME$ and $"},
                      {"%%OUT_UNKNOWN", "$DUZ-NOSUCH$"},
                      {"%%OUT_CUT", "$DUZ-RESPNAME$"},
                      {"%%OUT_RESPNAME", "$DUZ-RESPNAME$  padding"},
                      {"%%OUT_USER", "by $DUZ-USERNAME$"},
                      {"JOBNAME", "J_$DUZ-REQUEST_ID$_"}};
    ASSERT_EQ(read(in, &presets), 0) << error.text;
    const auto lines = lines_of(out);
    const std::vector<std::string> expected = {
        "%%OUT_PROG=DUZ_FNDSCURS",
        "%%OUT_RESP=[$DUZ-RESPNAME$] of $DUZ-USERNAME$",  // four '$'
        "%%OUT_ONE=cost $5",
        "%%OUT_THREE=$DUZ-APPNAME$ and $",
        "%%OUT_UNKNOWN=$DUZ-NOSUCH$",
        "%%OUT_CUT=R&D Managers",
        "%%OUT_RESPNAME=R&D Managers  padding",
        "%%OUT_USER=by SYSADMIN",
        "JOBNAME=J_12_",
        "%%DUZ-REQUEST_ID=12",
        "%%DUZ-APPID=0",
        "%%DUZ-PROGID=31",
        "%%DUZ-TASKTYPE=MONITOR",
        "%%DUZ-INSTANCE=VIS",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(close(in), 0);
}

TEST_F(MonitorModeTest, ReplacementIsCutToTheValuesRoomAndAPlainJobNameDoesNotCount) {
    oci_standin::add_rule(substring_rule(kMonitor, {answer_rows({request(12)}), answer_rows({})}));
    ASSERT_EQ(open(in), 0) << error.text;
    OwnedList presets{{"%%OUT_CUT", "$DUZ-RESPNAME$"}, {"JOBNAME", "MYJOB"}};
    ASSERT_EQ(read(in, &presets), 0) << error.text;
    const auto lines = lines_of(out);
    EXPECT_EQ(lines[0], "%%OUT_CUT=System Adminis");  // 14 characters of room
    EXPECT_EQ(lines[1], "JOBNAME=MYJOB");
    EXPECT_TRUE(has(lines, "JOBNAME=DUZ_12"));
    EXPECT_EQ(close(in), 0);
}

TEST_F(MonitorModeTest, FailuresLeaveNoHandle) {
    oci_standin::add_rule(
        substring_rule(kMonitor, {answer_failure(failure_at(Step::Execute, 942, "table or view does not exist"))}));
    ASSERT_EQ(open(in), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Failed to retrieve requests: ORA-00942: table or view does not exist\n");
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(seen_file(), "");

    oci_standin::reset();
    oci_standin::add_rule(substring_rule(kMonitor, {answer_rows({request(12)})}));
    // The submitted-requests file cannot be read: no handle.
    std::filesystem::remove(home.path() + "/data/DUZ_reqs.dat");
    std::filesystem::create_directory(home.path() + "/data/DUZ_reqs.dat");
    error = ZPAError{};
    EXPECT_EQ(open(in), 1);
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(std::string(error.text).find("DUZ_reqs.dat"), std::string::npos) << error.text;
}

TEST(MonitorRowTest, NamesWithAmpersandsKeepTheirFields) {
    const std::string texts[6] = {"FND", "FNDSCURS", "SYSADMIN", "R&D \\ Managers", "NULL", "A&B"};
    const std::string row = be_discovery::BE_DUZ_monitor_row(12, 0, 31, texts);
    std::string fields[9];
    ASSERT_TRUE(be_discovery::BE_DUZ_monitor_fields(row.c_str(), fields));
    EXPECT_EQ(fields[0], "12");
    EXPECT_EQ(fields[6], "R&D \\ Managers");
    EXPECT_EQ(fields[8], "A&B");
    EXPECT_FALSE(be_discovery::BE_DUZ_monitor_fields("1&2&3", fields));
    ZPALIST_handle_typ list{};
    GM_PARAM_list_append(&list, "12", "x");
    int found = -1;
    EXPECT_EQ(BE_DUZ_is_req_in_list(&list, "12", &found), CM_RC_OK);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(BE_DUZ_is_req_in_list(&list, "1", &found), CM_RC_OK);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(BE_DUZ_is_req_in_list(nullptr, "1", &found), CM_RC_FAIL);
    GM_PARAM_list_clear(&list);
}

// ------------------------------------------------------------------------------------------------
// Intercept mode and the process name

class InterceptModeTest : public JobDataTest {
protected:
    void SetUp() override {
        JobDataTest::SetUp();
        process("ORVINTERCEPT");
    }
    OwnedList in{{"EXTRACT_MODE", "ORVCREATE"}, {"DUZ-PROGNAME", "XX*"}, {"DUZ-USERNAME", "O'Brien"}};
};

TEST_F(InterceptModeTest, HeldRequestsBecomeInterceptingJobs) {
    oci_standin::add_rule(substring_rule(kIntercept, {answer_rows({{301, 0, 31}, {302, 20003, 44}})}, "intercept"));
    ASSERT_EQ(open(in), 0) << error.text;
    ASSERT_EQ(read(in), 0) << error.text;
    EXPECT_EQ(lines_of(out), (std::vector<std::string>{"JOBNAME=DUZ_301", "%%DUZ-REQUEST_ID=301", "%%DUZ-APPID=0",
                                                       "%%DUZ-PROGID=31", "%%DUZ-TASKTYPE=INTERCEPT"}));
    ASSERT_EQ(read(in), 0) << error.text;
    EXPECT_EQ(lines_of(out)[0], "JOBNAME=DUZ_302");
    EXPECT_EQ(read(in), 2);
    EXPECT_EQ(close(in), 0);
    // Only the program query (a program rule without a set rule), its values bound.
    const auto texts = prepared_with(kIntercept);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("req.hold_flag = 'Y'"), std::string::npos);
    EXPECT_EQ(texts[0].find("Brien"), std::string::npos);
    EXPECT_EQ(betest::round_trips_of(kIntercept), std::vector<unsigned>{1});  // the prefetch
    EXPECT_EQ(bound(kIntercept, "BV1"), Cell("XX%"));
    EXPECT_EQ(bound(kIntercept, "BV2"), Cell("O'Brien"));
}

TEST_F(InterceptModeTest, NothingHeldOpensAndReadEnds) {
    oci_standin::add_rule(substring_rule(kIntercept, {answer_rows({})}));
    ASSERT_EQ(open(in), 0) << error.text;
    EXPECT_EQ(read(in), 2);
    OwnedList define{{"EXTRACT_MODE", "ORVDEFINE"}};
    EXPECT_EQ(read(define), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: EXTRACT_MODE 'ORVDEFINE' does not match the open job-data handle");
    EXPECT_EQ(close(define), 0);  // freed as the list it is
    oci_standin::reset();
    oci_standin::add_rule(substring_rule(kIntercept, {answer_failure(failure_at(Step::Execute, 942, "no table"))}));
    EXPECT_EQ(open(in), 1);
    EXPECT_EQ(handle, nullptr);
    EXPECT_STREQ(error.text, "CM for OEBS: Failed to retrieve requests: ORA-00942: no table\n");
}

class UnknownProcessTest : public JobDataTest {};

TEST_F(UnknownProcessTest, CreateModeNeedsAMonitorOrInterceptProcess) {
    process("orvagent");
    OwnedList in{{"EXTRACT_MODE", "ORVCREATE"}};
    EXPECT_EQ(open(in), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Error: Process name 'ORVAGENT' is not recognized");
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(prepared().empty());
}

}  // namespace
