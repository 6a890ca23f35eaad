// Job definitions of discovered requests, and the hold and cancel of a taken-over request, on the
// stand-in database: the attributes in their order with their "%%" prefixes, what a gone request
// gives, the set's programs, and the outcomes of both PL/SQL blocks.
#include "be_session_fixture.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using betest::lines_of;
using betest::OwnedList;
using oci_standin::answer_failure;
using oci_standin::answer_rows;
using oci_standin::Cell;
using oci_standin::failure_at;
using oci_standin::Row;
using oci_standin::Step;
using oci_standin::substring_rule;

constexpr const char* kHoldBlock =
    "DECLARE cursor req_cur is     select hold_flag, phase_code, status_code     from fnd_concurrent_requests     where request_id = :req_id FOR UPDATE;     req_rec req_cur%ROWTYPE; BEGIN     open req_cur;     LOOP         fetch req_cur INTO req_rec;        exit when req_cur%NOTFOUND;        if req_rec.phase_code in ('P', 'I') then           update fnd_concurrent_requests           set hold_flag = 'Y'           where request_id = :req_id;          :rc_code := 0;        else            :rc_code := 2;        end if;     END LOOP;     if req_cur%ROWCOUNT > 1 then        rollback;        :rc_code := 1;     elsif req_cur%ROWCOUNT <= 0 then        :rc_code := 3;     else        commit;     end if;     close req_cur;     EXCEPTION        WHEN OTHERS then           rollback;           IF req_cur%ISOPEN THEN close req_cur; END IF;           :rc_code := -1; END; ";
constexpr const char* kCancelBlock =
    "DECLARE cursor req_cur is    SELECT request_id, phase_code, status_code    FROM FND_CONCURRENT_REQUESTS    connect by prior request_id = parent_request_id    start with request_id = :req_id FOR UPDATE; req_rec req_cur%ROWTYPE; BEGIN    open req_cur;    LOOP       fetch req_cur INTO req_rec;       exit when req_cur%NOTFOUND;       if req_rec.phase_code = 'R' AND req_rec.status_code = 'W' then          update fnd_concurrent_requests          set status_code = 'X', phase_code = 'C'          where request_id = req_rec.request_id;       elsif req_rec.phase_code = 'R' then           update fnd_concurrent_requests          set status_code = 'T'          where request_id = req_rec.request_id;       elsif req_rec.phase_code != 'C' then           update fnd_concurrent_requests           set status_code = 'D',              phase_code = 'C',              completion_text = 'Request was calcelled by CONCURRENT MANAGER'          where request_id = req_rec.request_id;       end if;     END LOOP;    close req_cur;    commit;    EXCEPTION         WHEN OTHERS THEN              rollback;              IF req_cur%ISOPEN THEN close req_cur; END IF;             :rc_code := 1; END;";

class JobDefinitionTest : public betest::ConnectedSessionTest {
protected:
    void TearDown() override {
        ZPAAPI_utils_release_attr(&out);
        ConnectedSessionTest::TearDown();
    }
    static void parameter_names(std::vector<oci_standin::Answer> answers) {
        oci_standin::add_rule(substring_rule("'$SRS$.'", std::move(answers), "names"));
    }
    // A program's request 1234 by "John Smith": no printer but a style, arguments 1 and 3.
    static void program_request(int multi_org, std::vector<Row> rows) {
        oci_standin::add_rule(substring_rule("MULTI_ORG_CATEGORY = 'S'", {answer_rows({{multi_org}})}));
        oci_standin::add_rule(
            substring_rule("fnd_conc_request_arguments arg", {answer_rows(std::move(rows))}, "request"));
        parameter_names({answer_rows({{"Report Date"}, {"Ledger"}, {"Currency"}})});
    }
    static Row request_row(bool multi_org) {
        Row row{"John Smith"};
        if (multi_org) row.push_back("Vision Operations");
        for (Cell c :
             std::vector<Cell>{"System Administrator", "SYSADMIN", "FND", "FNDSCURS", "Active Users", "20250314093000",
                               "NULL", "PORTRAIT", 1, "NULL", Cell(), Cell(), "Standard", "P001", Cell(), "P003"})
            row.push_back(c);
        return row;
    }

    OwnedList in{{"EXTRACT_MODE", "ORVDEFINE"}};
    ZPAAttrList out{0, nullptr, 0};
    ZPAError error{};
};

const std::vector<std::string> kRunOptions = {
    "%%DUZ-PARAM_VALIDATION=Y",   "%%DUZ-PARAM_AS_STORED=Y", "%%DUZ-DISPLAY_LOGFILE=Y", "%%DUZ-DISPLAY_OUTPUT=N",
    "%%DUZ-CONVERT_WARNING2OK=N", "%%DUZ-WAITCHILD=Y",       "%%DUZ-SUBSTATUS=N"};

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(JobDefinitionTest, ProgramRequestBecomesTheWholeOrderedDefinition) {
    setenv("TZ", "UTC", 1);
    program_request(0, {request_row(false)});
    ASSERT_EQ(BE_DUZ_JOBDATA_extract_request_read(&connection, "1234", "FNDSCURS", session, in.list(), &out, &error), 0)
        << error.text;
    const auto expected = joined({
        {"%%DUZ-USERNAME=John Smith", "%%DUZ-FORM_VERSION=9.0.21", "%%DUZ-RESPNAME=System Administrator",
         "%%DUZ-RESPAPP=SYSADMIN", "%%DUZ-APPNAME=FND", "%%DUZ-PROGNAME=FNDSCURS", "%%DUZ-PROGDESP=Active Users"},
        kRunOptions,
        {"%%DUZ-PARMS-P001-VALUE=P001", "%%DUZ-PARMS-P003-VALUE=P003", "OWNER=\"John Smith\"", "%%DUZ-TASKTYPE=REQUEST",
         "TIMEFROM=0930", "DAYS=14", "MONTH=ALL N", "MONTH=MAR Y", "%%DUZ-SECURITY_GROUPNAME=Standard",
         "%%DUZ-PARMS-P001-NAME=Report Date", "%%DUZ-PARMS-P002-NAME=Ledger", "%%DUZ-PARMS-P003-NAME=Currency",
         "APPLTYPE=DUZ", "APPLVER=12.2", "CMVER=9.0.21", "APPLFORM=DUZ11I"},
    });
    EXPECT_EQ(lines_of(out), expected);
    EXPECT_EQ(bound("fnd_conc_request_arguments", "REQ_ID"), Cell(1234));
    EXPECT_EQ(bound("'$SRS$.'", "APP"), Cell("FND"));
    EXPECT_EQ(bound("'$SRS$.'", "PROG"), Cell("FNDSCURS"));
    const auto executions = oci_standin::journal().executions;
    for (const auto& execution : executions) {
        if (execution.rule == "names" || execution.rule == "request") {
            EXPECT_EQ(execution.iters, 0u) << execution.text;
        }
        if (execution.rule == "names") {
            EXPECT_EQ(execution.prefetch, 20u);
        }
    }
    const std::string text = prepared()[1];
    EXPECT_NE(text.find("nvl(grp.security_group_name, 'Standard')"), std::string::npos);
    EXPECT_EQ(text.find("hr_all_organization_units"), std::string::npos);
    EXPECT_NE(text.find("Argument1, Argument2"), std::string::npos);
    EXPECT_NE(text.find("Argument100 from"), std::string::npos);
}

TEST_F(JobDefinitionTest, MultiOrgRequestNamesItsOperatingUnitAndPrinterNeedsBoth) {
    Row row = request_row(true);
    row[8] = "LP1";  // printer, with the style PORTRAIT and one copy
    program_request(1, {row});
    ASSERT_EQ(BE_DUZ_JOBDATA_extract_request_read(&connection, "1234", "FNDSCURS", session, in.list(), &out, &error), 0)
        << error.text;
    const auto lines = lines_of(out);
    ASSERT_GT(lines.size(), 2u);
    EXPECT_EQ(lines[1], "%%DUZ-OPERATING_UNIT=Vision Operations");
    for (const char* print : {"%%DUZ-PRINTERNAME=LP1", "%%DUZ-PRINTSTYLE=PORTRAIT", "%%DUZ-PRINTCOPIES=1",
                              "%%DUZ-PARMS-P001-VALUE=P001", "%%DUZ-PARMS-P003-VALUE=P003"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), print), lines.end()) << print;
    const std::string text = prepared()[1];
    EXPECT_NE(text.find("select usr.user_name, org.name, resp.responsibility_name"), std::string::npos) << text;
    EXPECT_NE(text.find("fnd_conc_request_arguments arg, hr_all_organization_units org where"), std::string::npos);
    EXPECT_NE(text.find("resp_app.application_id and req.org_id = org.organization_id and"), std::string::npos);
}

TEST_F(JobDefinitionTest, GoneRequestAppendsNothing) {
    oci_standin::Answer none;
    none.columns = 114;
    oci_standin::add_rule(substring_rule("fnd_conc_request_arguments arg", {none}));
    program_request(0, {});
    EXPECT_EQ(BE_DUZ_JOBDATA_extract_request_read(&connection, "1234", "FNDSCURS", session, in.list(), &out, &error),
              0);
    EXPECT_EQ(out.Count, 0);
    EXPECT_EQ(out.Attributes, nullptr);
}

TEST_F(JobDefinitionTest, FailuresLeaveTheOutputAsItWas) {
    struct Case {
        const char* what;
        const char* rule;
        oci_standin::Failure failure;
        const char* text;
    };
    const Case cases[] = {
        {"detail query", "fnd_conc_request_arguments arg",
         failure_at(Step::Execute, 942, "table or view does not exist"),
         "CM for OEBS: ORA-00942: table or view does not exist\n"},
        {"detail fetch", "fnd_conc_request_arguments arg", failure_at(Step::Fetch, 1013, "user requested cancel"),
         "CM for OEBS: ORA-01013: user requested cancel\n"},
        {"parameter names", "'$SRS$.'", failure_at(Step::Execute, 904, "invalid identifier"),
         "CM for OEBS: Fail to retrieve job parameter name to AttributesOut: ORA-00904: invalid identifier\n"},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        oci_standin::add_rule(substring_rule(c.rule, {answer_failure(c.failure, {request_row(false)})}));
        program_request(0, {request_row(false)});
        error = ZPAError{};
        EXPECT_EQ(
            BE_DUZ_JOBDATA_extract_request_read(&connection, "1234", "FNDSCURS", session, in.list(), &out, &error), 1)
            << c.what;
        EXPECT_STREQ(error.text, c.text) << c.what;
        EXPECT_EQ(out.Count, 0) << c.what;
    }
}

TEST_F(JobDefinitionTest, RequestSetListsItsProgramsWithArgumentsThenTheirNames) {
    setenv("TZ", "UTC", 1);
    oci_standin::add_rule(
        substring_rule("fnd_request_sets_vl",
                       {answer_rows({{"SYSADMIN", "System Administrator", "SYSADMIN", "FND", "FNDRSSET", "Users Set",
                                      "20250314093000", "NULL", "NULL", 0, "NULL", "P", "1:D:S", "Standard"}})}));
    oci_standin::add_rule(substring_rule(
        "fnd_run_requests run", {answer_rows({{"Users", 10, "FNDSCURS", "Active Users", "FND", "A1", Cell(), "A3"},
                                              {"Users", 20, "FNDSCRSP", "Responsibilities", "FND"},
                                              {"Aging", 10, "ARXAGE", "Aging", "AR", "X"}})}));
    // The second program's names cannot be read: only logged.
    parameter_names({answer_rows({{"Day"}}), answer_failure(failure_at(Step::Execute, 904, "invalid identifier")),
                     answer_rows({{"As of"}, {"Level"}})});
    ASSERT_EQ(BE_DUZ_JOBDATA_extract_request_set_read(&connection, "555", session, in.list(), &out, &error), 0)
        << error.text;
    const auto expected = joined({
        {"%%DUZ-FORM_VERSION=9.0.21", "%%DUZ-USERNAME=SYSADMIN", "%%DUZ-RESPNAME=System Administrator",
         "%%DUZ-RESPAPP=SYSADMIN", "%%DUZ-APPNAME=FND", "%%DUZ-SETNAME=FNDRSSET", "%%DUZ-SETDESP=Users Set"},
        kRunOptions,
        {"OWNER=SYSADMIN", "%%DUZ-TASKTYPE=REQUEST_SET", "TIMEFROM=0930", "CYCLIC=Y", "INTERVALFROM=START",
         "INTERVAL=1D", "MONTH=ALL Y", "%%DUZ-SECURITY_GROUPNAME=Standard"},
        {"%%DUZ-SETPROG-P001-APPNAME=FND", "%%DUZ-SETPROG-P001-PROGNAME=FNDSCURS",
         "%%DUZ-SETPROG-P001-PROGDESP=Active Users", "%%DUZ-SETPROG-P001-STAGENAME=Users",
         "%%DUZ-SETPROG-P001-PROGSEQ=10", "%%DUZ-SETPROG-P001-PARMS-P001-VALUE=A1",
         "%%DUZ-SETPROG-P001-PARMS-P003-VALUE=A3"},
        {"%%DUZ-SETPROG-P002-APPNAME=FND", "%%DUZ-SETPROG-P002-PROGNAME=FNDSCRSP",
         "%%DUZ-SETPROG-P002-PROGDESP=Responsibilities", "%%DUZ-SETPROG-P002-STAGENAME=Users",
         "%%DUZ-SETPROG-P002-PROGSEQ=20"},
        {"%%DUZ-SETPROG-P003-APPNAME=AR", "%%DUZ-SETPROG-P003-PROGNAME=ARXAGE", "%%DUZ-SETPROG-P003-PROGDESP=Aging",
         "%%DUZ-SETPROG-P003-STAGENAME=Aging", "%%DUZ-SETPROG-P003-PROGSEQ=10",
         "%%DUZ-SETPROG-P003-PARMS-P001-VALUE=X"},
        {"%%DUZ-SETPROG-P001-PARMS-P001-NAME=Day", "%%DUZ-SETPROG-P003-PARMS-P001-NAME=As of",
         "%%DUZ-SETPROG-P003-PARMS-P002-NAME=Level"},
        {"APPLTYPE=DUZ", "APPLVER=12.2", "CMVER=9.0.21", "APPLFORM=DUZ11I"},
    });
    EXPECT_EQ(lines_of(out), expected);
    EXPECT_EQ(bound("fnd_run_requests run", "REQ_ID"), Cell(555));
    EXPECT_EQ(bound("'$SRS$.'", "PROG"), Cell("ARXAGE"));
}

TEST_F(JobDefinitionTest, GoneSetSubmissionAppendsNothing) {
    oci_standin::add_rule(substring_rule("fnd_request_sets_vl", {answer_rows({})}));
    EXPECT_EQ(BE_DUZ_JOBDATA_extract_request_set_read(&connection, "555", session, in.list(), &out, &error), 0);
    EXPECT_EQ(out.Count, 0);
}

TEST_F(JobDefinitionTest, SetStopsAtItsMostPrograms) {
    std::vector<Row> rows(BE_DUZ_MAX_SET_PROGRAMS + 2, Row{"S", 1, "P", "D", "A"});
    oci_standin::add_rule(substring_rule("fnd_run_requests run", {answer_rows(rows)}));
    parameter_names({answer_rows({})});
    ZPALIST_handle_typ list{};
    ASSERT_EQ(BE_DUZ_READ_requestSet_Params(session, &list, 7, &error), 0) << error.text;
    char value[64] = "";
    EXPECT_EQ(GM_PARAM_list_get(&list, "%%DUZ-SETPROG-P499-PROGNAME", value, sizeof value), CM_RC_OK);
    EXPECT_NE(GM_PARAM_list_get(&list, "%%DUZ-SETPROG-P500-PROGNAME", value, sizeof value), CM_RC_OK);
    GM_PARAM_list_clear(&list);
}

TEST_F(JobDefinitionTest, EnvironmentAttributesFromTheConnection) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> attributes;
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {{{"CM_LIB_NAME", "DUZ_11"}, {"APPLICATION_VERSION", "12.1"}, {"VERSION", "9"}},
         {"APPLTYPE=DUZ_11", "APPLVER=12.1", "CMVER=9", "APPLFORM=DUZ11"}},
        {{{"CM_LIB_NAME", "DUZ_10"}, {"VERSION", "9"}}, {"APPLTYPE=DUZ_10", "CMVER=9", "APPLFORM=DUZ11I"}},
        {{{"CM_LIB_NAME", "DUZ"}}, {"APPLTYPE=DUZ", "APPLFORM=DUZ11I"}},
    };
    for (const Case& c : cases) {
        OwnedList attributes(c.attributes.begin(), c.attributes.end());
        ZPAConnHandle conn{};
        conn.Attributes = *attributes.list();
        ZPALIST_handle_typ list{};
        BE_DUZ_insert_OvikAttrs(&conn, &list);
        std::vector<std::string> rows;
        GM_PARAM_list_reset(&list);
        char* key = nullptr;
        void* value = nullptr;
        while (GM_PARAM_list_next(&list, &key, &value) == CM_RC_OK)
            rows.push_back(std::string(key) + "=" + static_cast<char*>(value));
        EXPECT_EQ(rows, c.rows);
        GM_PARAM_list_clear(&list);
    }
}

class HoldCancelTest : public betest::OpenSessionTest {};

TEST_F(HoldCancelTest, HoldReportsEachOutcomeOfItsBlock) {
    struct Case {
        int rc_code;
        ZPARC result;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, ""},
        {1, 1, "CM for OEBS: Fail to hold request. Request id '1234' is not unique!"},
        {2, 1, "CM for OEBS: Fail to hold request. Request is not pending!"},
        {3, 1, "CM for OEBS: Fail to hold request. Can't find request with request_id '1234'."},
        {-1, 1, "CM for OEBS: Fail to hold request. Unidentified error occured!"},
        {7, 1, "CM for OEBS: Fail to hold request. Unidentified error occured!"},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        oci_standin::Answer answer;
        answer.outs["rc_code"] = oci_standin::out_value(c.rc_code);
        oci_standin::add_rule(substring_rule("select hold_flag", {answer}));
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_JOBDATA_hold_request(session, 1234, &error), c.result) << c.rc_code;
        EXPECT_STREQ(error.text, c.text) << c.rc_code;
    }
    EXPECT_EQ(prepared().back(), kHoldBlock);
    const auto execution = oci_standin::journal().executions.back();
    ASSERT_EQ(execution.binds.size(), 2u);
    EXPECT_EQ(execution.binds[0].name, "REQ_ID");
    EXPECT_EQ(execution.binds[0].type, SQLT_INT);
    EXPECT_EQ(execution.binds[0].size, 4);
    EXPECT_EQ(execution.binds[0].value, Cell(1234));
    EXPECT_EQ(execution.binds[1].name, "RC_CODE");
    EXPECT_EQ(execution.binds[1].value, Cell(0));
}

TEST_F(HoldCancelTest, HoldFailuresBeforeAndDuringTheBlock) {
    struct Case {
        oci_standin::Failure failure;
        const char* text;
    };
    oci_standin::Failure bind_rc = failure_at(Step::Bind, 1036, "illegal variable name/number");
    bind_rc.bind = "rc_code";
    const Case cases[] = {
        {failure_at(Step::Prepare, 900, "invalid SQL statement"), "CM for OEBS: Fail to prepare SQL statement"},
        {failure_at(Step::Bind, 1036, "illegal variable name/number"), "CM for OEBS: Fail to bind request_id"},
        {bind_rc, "CM for OEBS: Fail to bind return code"},
        {failure_at(Step::Execute, 20001, "hold 100% refused"), "CM for OEBS: ORA-20001: hold 100% refused\n"},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        oci_standin::add_rule(substring_rule("select hold_flag", {answer_failure(c.failure)}));
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_JOBDATA_hold_request(session, 1234, &error), 1) << c.text;
        EXPECT_STREQ(error.text, c.text);
    }
}

TEST_F(HoldCancelTest, CancelEndsTheRequestTreeOrReportsTheBlocksError) {
    oci_standin::add_rule(substring_rule("connect by prior request_id", {oci_standin::Answer{}}));
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_JOBDATA_cancel_request(session, 77, &error), 0) << error.text;
    EXPECT_EQ(prepared().back(), kCancelBlock);
    EXPECT_EQ(bound("connect by prior", "REQ_ID"), Cell(77));
    EXPECT_EQ(bound("connect by prior", "RC_CODE"), Cell(0));
    EXPECT_EQ(oci_standin::journal().executions.back().iters, 1u);

    struct Case {
        oci_standin::Answer answer;
        ZPAErrorCode code;
        const char* text;
    };
    oci_standin::Answer raised;
    raised.outs["rc_code"] = oci_standin::out_value(1);
    oci_standin::Failure bind_rc = failure_at(Step::Bind, 1036, "illegal variable name/number");
    bind_rc.bind = "rc_code";
    const Case cases[] = {
        {raised, 1, "CM for OEBS: Error encountered during the cancel job."},
        {answer_failure(failure_at(Step::Prepare, 900, "invalid SQL statement")), 900,
         "CM for OEBS: ORA-00900: invalid SQL statement\n"},
        {answer_failure(bind_rc), 1036, "CM for OEBS: ORA-01036: illegal variable name/number\n"},
        {answer_failure(failure_at(Step::Execute, 54, "resource busy")), 54, "CM for OEBS: ORA-00054: resource busy\n"},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        oci_standin::add_rule(substring_rule("connect by prior request_id", {c.answer}));
        error = ZPAError{};
        EXPECT_EQ(BE_DUZ_JOBDATA_cancel_request(session, 77, &error), 1) << c.text;
        EXPECT_EQ(error.code, c.code) << c.text;
        EXPECT_STREQ(error.text, c.text);
    }
}

}  // namespace
