// The stand-in OCI client, driven through the OCI calls the way the plug-in drives them: session
// start and close, statements on one reused statement handle, binds, defines, fetch loops,
// programmed answers and errors, the journal (in memory and as a file) and handle accounting.
// Built only against the stand-in; with a real client these tests compile to nothing.
#if __has_include("standin.h")

#include "standin.h"

#include "testbed.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using oci_standin::Answer;
using oci_standin::Cell;
using oci_standin::Failure;
using oci_standin::Row;
using oci_standin::Rule;
using oci_standin::Step;

const OraText* sql_text(const std::string& s) { return reinterpret_cast<const OraText*>(s.c_str()); }

// One database session opened and closed with the calls, order and arguments the plug-in uses.
struct Session {
    OCIEnv* envhp = nullptr;
    OCIError* errhp = nullptr;
    OCIServer* srvhp = nullptr;
    OCISvcCtx* svchp = nullptr;
    OCISession* userhp = nullptr;
    OCIStmt* stmthp = nullptr;
    sword attach_status = OCI_SUCCESS;
    sword logon_status = OCI_SUCCESS;
    std::string logon_error;  // error text right after the session begin

    Session(const std::string& connect = "VIS", const std::string& user = "APPS",
            const std::string& password = "apps") {
        EXPECT_EQ(OCIInitialize(OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr), OCI_SUCCESS);
        EXPECT_EQ(OCIEnvInit(&envhp, OCI_DEFAULT, 0, nullptr), OCI_SUCCESS);
        EXPECT_EQ(OCIHandleAlloc(envhp, reinterpret_cast<dvoid**>(&errhp), OCI_HTYPE_ERROR, 0, nullptr), OCI_SUCCESS);
        EXPECT_EQ(OCIHandleAlloc(envhp, reinterpret_cast<dvoid**>(&srvhp), OCI_HTYPE_SERVER, 0, nullptr), OCI_SUCCESS);
        attach_status = OCIServerAttach(srvhp, errhp, sql_text(connect), static_cast<sb4>(connect.size()), OCI_DEFAULT);
        EXPECT_EQ(OCIHandleAlloc(envhp, reinterpret_cast<dvoid**>(&svchp), OCI_HTYPE_SVCCTX, 0, nullptr), OCI_SUCCESS);
        EXPECT_EQ(OCIHandleAlloc(envhp, reinterpret_cast<dvoid**>(&userhp), OCI_HTYPE_SESSION, 0, nullptr),
                  OCI_SUCCESS);
        EXPECT_EQ(OCIAttrSet(svchp, OCI_HTYPE_SVCCTX, srvhp, 0, OCI_ATTR_SERVER, errhp), OCI_SUCCESS);
        EXPECT_EQ(OCIAttrSet(userhp, OCI_HTYPE_SESSION, const_cast<char*>(user.c_str()), static_cast<ub4>(user.size()),
                             OCI_ATTR_USERNAME, errhp),
                  OCI_SUCCESS);
        EXPECT_EQ(OCIAttrSet(userhp, OCI_HTYPE_SESSION, const_cast<char*>(password.c_str()),
                             static_cast<ub4>(password.size()), OCI_ATTR_PASSWORD, errhp),
                  OCI_SUCCESS);
        logon_status = OCISessionBegin(svchp, errhp, userhp, OCI_CRED_RDBMS, OCI_DEFAULT);
        logon_error = error().second;
        EXPECT_EQ(OCIAttrSet(svchp, OCI_HTYPE_SVCCTX, userhp, 0, OCI_ATTR_SESSION, errhp), OCI_SUCCESS);
        EXPECT_EQ(OCIHandleAlloc(envhp, reinterpret_cast<dvoid**>(&stmthp), OCI_HTYPE_STMT, 0, nullptr), OCI_SUCCESS);
    }
    ~Session() {
        OCIHandleFree(stmthp, OCI_HTYPE_STMT);
        OCISessionEnd(svchp, errhp, userhp, OCI_DEFAULT);
        OCIServerDetach(srvhp, errhp, OCI_DEFAULT);
        OCIHandleFree(svchp, OCI_HTYPE_SVCCTX);
        OCIHandleFree(srvhp, OCI_HTYPE_SERVER);
        OCIHandleFree(userhp, OCI_HTYPE_SESSION);
        OCIHandleFree(errhp, OCI_HTYPE_ERROR);
        OCIHandleFree(envhp, OCI_HTYPE_ENV);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    sword prepare(const std::string& sql) {
        return OCIStmtPrepare(stmthp, errhp, sql_text(sql), static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT);
    }
    sword bind_str(const char* name, char* value, sb4 size, sb2* ind = nullptr) {
        OCIBind* bind = nullptr;
        return OCIBindByName(stmthp, &bind, errhp, sql_text(name), -1, value, size, SQLT_STR, ind, nullptr, nullptr, 0,
                             nullptr, OCI_DEFAULT);
    }
    sword bind_int(const char* name, int* value) {
        OCIBind* bind = nullptr;
        return OCIBindByName(stmthp, &bind, errhp, sql_text(name), -1, value, sizeof *value, SQLT_INT, nullptr, nullptr,
                             nullptr, 0, nullptr, OCI_DEFAULT);
    }
    sword define(ub4 position, void* value, sb4 size, ub2 type, sb2* ind = nullptr, ub2* rlen = nullptr) {
        OCIDefine* def = nullptr;
        return OCIDefineByPos(stmthp, &def, errhp, position, value, size, type, ind, rlen, nullptr, OCI_DEFAULT);
    }
    sword execute(ub4 iters = 1) {
        return OCIStmtExecute(svchp, stmthp, errhp, iters, 0, nullptr, nullptr, OCI_DEFAULT);
    }
    sword fetch() { return OCIStmtFetch(stmthp, errhp, 1, OCI_FETCH_NEXT, OCI_DEFAULT); }
    ub4 attr(ub4 attribute) {
        ub4 value = 0;
        EXPECT_EQ(OCIAttrGet(stmthp, OCI_HTYPE_STMT, &value, nullptr, attribute, errhp), OCI_SUCCESS);
        return value;
    }
    // The error as the plug-in reads it: record 1 into a 512-byte buffer.
    std::pair<sb4, std::string> error() {
        sb4 code = 0;
        OraText buffer[512] = {0};
        if (OCIErrorGet(errhp, 1, nullptr, &code, buffer, sizeof buffer, OCI_HTYPE_ERROR) != OCI_SUCCESS)
            return {0, ""};
        return {code, reinterpret_cast<char*>(buffer)};
    }
};

class OciStandinTest : public ::testing::Test {
protected:
    void SetUp() override { oci_standin::reset(); }
    void TearDown() override { EXPECT_EQ(oci_standin::live_handles(), 0u) << "a handle was not freed"; }
};

using oci_standin::answer_failure;
using oci_standin::answer_rows;
using oci_standin::failure_at;
using oci_standin::substring_rule;

Rule rows_rule(const std::string& match, std::vector<Row> rows) {
    return substring_rule(match, {answer_rows(std::move(rows))});
}

Failure failure_with(Failure failure, const std::string& bind, unsigned position, unsigned row) {
    failure.bind = bind;
    failure.position = position;
    failure.row = row;
    return failure;
}

TEST_F(OciStandinTest, SessionStartAndCloseAreJournalledAndFreeEveryHandle) {
    setenv("ORACLE_HOME", "/u01/oracle/client", 1);
    setenv("TNS_ADMIN", "/u01/oracle/network", 1);
    unsetenv("NLS_LANG");
    oci_standin::add_logon(oci_standin::logon("VIS", "APPS", "s3cret"));
    {
        Session s("VIS", "apps", "s3cret");
        EXPECT_EQ(s.attach_status, OCI_SUCCESS);
        EXPECT_EQ(s.logon_status, OCI_SUCCESS);
    }
    auto j = oci_standin::journal();
    ASSERT_EQ(j.environments.size(), 1u);
    EXPECT_EQ(j.environments[0].oracle_home, "/u01/oracle/client");
    EXPECT_EQ(j.environments[0].tns_admin, "/u01/oracle/network");
    EXPECT_FALSE(j.environments[0].nls_lang.has_value());
    EXPECT_EQ(j.attaches, std::vector<std::string>{"VIS"});
    ASSERT_EQ(j.logons.size(), 1u);
    EXPECT_EQ(j.logons[0].user, "apps");
    EXPECT_EQ(j.logons[0].password, "s3cret");
    for (ub4 type :
         {OCI_HTYPE_ENV, OCI_HTYPE_ERROR, OCI_HTYPE_SERVER, OCI_HTYPE_SVCCTX, OCI_HTYPE_SESSION, OCI_HTYPE_STMT}) {
        EXPECT_EQ(j.allocated[type], 1u) << "type " << type;
        EXPECT_EQ(j.freed[type], 1u) << "type " << type;
    }
    // Every call succeeded; the error look-up after the logon found no error.
    for (const auto& call : j.calls)
        EXPECT_EQ(call.status, call.name == "OCIErrorGet" ? OCI_NO_DATA : OCI_SUCCESS) << call.name;
}

TEST_F(OciStandinTest, LogonRulesDecideAttachAndSessionBegin) {
    oci_standin::add_logon(oci_standin::logon("VIS", "APPS", "apps"));
    oci_standin::add_logon(
        oci_standin::logon("VIS", "LOCKED", "x", failure_at(Step::SessionBegin, 28000, "the account is locked")));
    oci_standin::add_logon(
        oci_standin::logon("DOWN", "APPS", "apps", failure_at(Step::Attach, 12541, "TNS:no listener")));
    struct Case {
        const char* connect;
        const char* user;
        const char* password;
        sword attach;
        sword logon;
        const char* text;
    };
    const Case cases[] = {
        {"vis", "apps", "apps", OCI_SUCCESS, OCI_SUCCESS, ""},
        {"VIS", "APPS", "APPS", OCI_SUCCESS, OCI_ERROR, "ORA-01017: invalid username/password; logon denied\n"},
        {"VIS", "LOCKED", "x", OCI_SUCCESS, OCI_ERROR, "ORA-28000: the account is locked\n"},
        {"PROD", "APPS", "apps", OCI_ERROR, OCI_ERROR,
         "ORA-24327: need explicit attach before authenticating a user\n"},
        {"DOWN", "APPS", "apps", OCI_ERROR, OCI_ERROR,
         "ORA-24327: need explicit attach before authenticating a user\n"},
    };
    for (const Case& c : cases) {
        Session s(c.connect, c.user, c.password);
        EXPECT_EQ(s.attach_status, c.attach) << c.connect << "/" << c.user;
        EXPECT_EQ(s.logon_status, c.logon) << c.connect << "/" << c.user;
        EXPECT_EQ(s.logon_error, c.text);
    }
    auto logons = oci_standin::journal().logons;
    ASSERT_EQ(logons.size(), 5u);
    EXPECT_EQ(logons[2].status, OCI_ERROR);
}

TEST_F(OciStandinTest, AttachErrorsNameTheirCause) {
    oci_standin::add_logon(oci_standin::logon("VIS", "APPS", "apps"));
    oci_standin::add_logon(
        oci_standin::logon("DOWN", "APPS", "apps", failure_at(Step::Attach, 12541, "TNS:no listener")));
    OCIEnv* env = nullptr;
    OCIError* err = nullptr;
    OCIServer* srv = nullptr;
    ASSERT_EQ(OCIEnvInit(&env, OCI_DEFAULT, 0, nullptr), OCI_SUCCESS);
    OCIHandleAlloc(env, reinterpret_cast<dvoid**>(&err), OCI_HTYPE_ERROR, 0, nullptr);
    OCIHandleAlloc(env, reinterpret_cast<dvoid**>(&srv), OCI_HTYPE_SERVER, 0, nullptr);
    const std::pair<std::string, std::string> cases[] = {
        {"PROD", "ORA-12154: TNS:could not resolve the connect identifier specified\n"},
        {"DOWN", "ORA-12541: TNS:no listener\n"},
    };
    for (const auto& [connect, text] : cases) {
        EXPECT_EQ(OCIServerAttach(srv, err, sql_text(connect), static_cast<sb4>(connect.size()), OCI_DEFAULT),
                  OCI_ERROR);
        OraText buffer[512];
        sb4 code = 0;
        ASSERT_EQ(OCIErrorGet(err, 1, nullptr, &code, buffer, sizeof buffer, OCI_HTYPE_ERROR), OCI_SUCCESS);
        EXPECT_EQ(reinterpret_cast<char*>(buffer), text);
    }
    // A detach of a server that never attached fails; the environment frees what is left.
    EXPECT_EQ(OCIServerDetach(srv, err, OCI_DEFAULT), OCI_ERROR);
    EXPECT_EQ(OCIHandleFree(env, OCI_HTYPE_ENV), OCI_SUCCESS);
}

TEST_F(OciStandinTest, WrongNullOrFreedHandlesAreInvalid) {
    Session s;
    OCIStmt* freed = nullptr;
    ASSERT_EQ(OCIHandleAlloc(s.envhp, reinterpret_cast<dvoid**>(&freed), OCI_HTYPE_STMT, 0, nullptr), OCI_SUCCESS);
    ASSERT_EQ(OCIHandleFree(freed, OCI_HTYPE_STMT), OCI_SUCCESS);
    const std::string sql = "select 1 from dual";
    auto prepare_on = [&](OCIStmt* stmt, OCIError* err) {
        return OCIStmtPrepare(stmt, err, sql_text(sql), static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT);
    };
    struct Case {
        const char* what;
        sword status;
    };
    const Case cases[] = {
        {"null statement", prepare_on(nullptr, s.errhp)},
        {"error handle as statement", prepare_on(reinterpret_cast<OCIStmt*>(s.errhp), s.errhp)},
        {"statement as error handle", prepare_on(s.stmthp, reinterpret_cast<OCIError*>(s.stmthp))},
        {"freed statement", prepare_on(freed, s.errhp)},
        {"free with the wrong type", OCIHandleFree(s.stmthp, OCI_HTYPE_SERVER)},
        {"alloc under a non-environment",
         OCIHandleAlloc(s.errhp, reinterpret_cast<dvoid**>(&freed), OCI_HTYPE_STMT, 0, nullptr)},
        {"execute on a statement as service", OCIStmtExecute(reinterpret_cast<OCISvcCtx*>(s.stmthp), s.stmthp, s.errhp,
                                                             1, 0, nullptr, nullptr, OCI_DEFAULT)},
        {"error get on a statement", OCIErrorGet(s.stmthp, 1, nullptr, nullptr, nullptr, 0, OCI_HTYPE_ERROR)},
        {"fetch on null", OCIStmtFetch(nullptr, s.errhp, 1, OCI_FETCH_NEXT, OCI_DEFAULT)},
    };
    for (const Case& c : cases) EXPECT_EQ(c.status, OCI_INVALID_HANDLE) << c.what;
}

TEST_F(OciStandinTest, ExecuteOnceFetchesTheFirstRowAndReportsNoDataWhenThereIsNone) {
    oci_standin::add_rule(rows_rule("select FND_GLOBAL.ORG_ID() from dual", {{204}}));
    oci_standin::add_rule(rows_rule("from hr_all_organization_units", {}));
    Session s;
    int org_id = 0;
    ASSERT_EQ(s.prepare("select FND_GLOBAL.ORG_ID() from dual"), OCI_SUCCESS);
    ASSERT_EQ(s.define(1, &org_id, sizeof org_id, SQLT_INT), OCI_SUCCESS);
    EXPECT_EQ(s.execute(1), OCI_SUCCESS);
    EXPECT_EQ(org_id, 204);

    char name[2000] = "untouched";
    ASSERT_EQ(s.prepare("SELECT Distinct otl.name FROM hr_all_organization_units o WHERE o.organization_id = :org_id"),
              OCI_SUCCESS);
    ASSERT_EQ(s.bind_int(":org_id", &org_id), OCI_SUCCESS);
    ASSERT_EQ(s.define(1, name, sizeof name, SQLT_STR), OCI_SUCCESS);
    EXPECT_EQ(s.execute(1), OCI_NO_DATA);
    EXPECT_STREQ(name, "untouched");
    EXPECT_EQ(s.error().first, 1403);
}

TEST_F(OciStandinTest, ListQueryExecutesWithoutFetchingThenFetchesOneRowPerCall) {
    oci_standin::add_rule(rows_rule("from fnd_responsibility_vl", {{"System Administrator", "SYSADMIN", "Standard"},
                                                                   {"Payables Manager", "SQLAP", "Standard"}}));
    Session s;
    char user[64] = "SYSADMIN";
    char cols[3][1024];
    ASSERT_EQ(s.prepare("select r.responsibility_name, a.application_short_name, g.security_group_name "
                        "from fnd_responsibility_vl r where u.user_name = :user_name"),
              OCI_SUCCESS);
    ASSERT_EQ(s.bind_str(":user_name", user, static_cast<sb4>(std::strlen(user) + 1)), OCI_SUCCESS);
    for (ub4 i = 0; i < 3; ++i) ASSERT_EQ(s.define(i + 1, cols[i], 1024, SQLT_STR), OCI_SUCCESS);
    ASSERT_EQ(s.execute(0), OCI_SUCCESS);
    EXPECT_EQ(s.attr(OCI_ATTR_PARAM_COUNT), 3u);
    ub4 prefetch = 20;
    ASSERT_EQ(OCIAttrSet(s.stmthp, OCI_HTYPE_STMT, &prefetch, 0, OCI_ATTR_PREFETCH_ROWS, s.errhp), OCI_SUCCESS);
    EXPECT_EQ(s.attr(OCI_ATTR_PREFETCH_ROWS), 20u);

    std::vector<std::string> got;
    while (s.fetch() == OCI_SUCCESS) got.push_back(std::string(cols[0]) + "|" + cols[1] + "|" + cols[2]);
    EXPECT_EQ(got,
              (std::vector<std::string>{"System Administrator|SYSADMIN|Standard", "Payables Manager|SQLAP|Standard"}));
    EXPECT_EQ(s.attr(OCI_ATTR_ROW_COUNT), 2u);

    auto j = oci_standin::journal();
    ASSERT_EQ(j.executions.size(), 1u);
    const auto& e = j.executions[0];
    EXPECT_EQ(e.iters, 0u);
    EXPECT_EQ(e.fetch_calls, 3u);
    EXPECT_EQ(e.rows, 2u);
    EXPECT_EQ(e.prefetch, 20u);
    ASSERT_EQ(e.binds.size(), 1u);
    EXPECT_EQ(e.binds[0].name, "USER_NAME");
    EXPECT_EQ(e.binds[0].type, SQLT_STR);
    EXPECT_EQ(e.binds[0].size, 9);
    EXPECT_EQ(e.binds[0].value, Cell("SYSADMIN"));
    ASSERT_EQ(e.defines.size(), 3u);
    EXPECT_EQ(e.defines[2].position, 3u);
    EXPECT_EQ(e.defines[2].size, 1024);
}

TEST_F(OciStandinTest, OneBindServesEveryOccurrenceWhateverItsCaseAndOutBindsAreComputed) {
    Answer answer;
    answer.outs["new_value"] = oci_standin::out_template("[{PVALUE}]");
    oci_standin::add_rule(substring_rule("FND_PROFILE.PUT", {answer}, "profile"));
    Session s;
    char pname[82] = "CONC_COPIES", pvalue[241] = "2", new_value[241] = "";
    ASSERT_EQ(s.prepare("BEGIN FND_PROFILE.PUT(:pname, :pvalue); FND_PROFILE.GET(:pname, :new_value); END;"),
              OCI_SUCCESS);
    ASSERT_EQ(s.bind_str(":PNAME", pname, sizeof pname), OCI_SUCCESS);
    ASSERT_EQ(s.bind_str(":pvalue", pvalue, sizeof pvalue), OCI_SUCCESS);
    ASSERT_EQ(s.bind_str(":New_Value", new_value, sizeof new_value), OCI_SUCCESS);
    EXPECT_EQ(s.execute(1), OCI_SUCCESS);
    EXPECT_STREQ(new_value, "[2]");
    // The same prepared block runs again with new values in the same buffers.
    std::strcpy(pvalue, "3");
    EXPECT_EQ(s.execute(1), OCI_SUCCESS);
    EXPECT_STREQ(new_value, "[3]");
    auto j = oci_standin::journal();
    ASSERT_EQ(j.executions.size(), 2u);
    EXPECT_EQ(j.executions[1].rule, "profile");
    EXPECT_EQ(j.executions[1].binds[1].value, Cell("3"));
}

TEST_F(OciStandinTest, PlaceholdersAreCheckedAgainstTheStatement) {
    oci_standin::add_rule(rows_rule("from fnd_concurrent_requests", {{"X"}}));
    Session s;
    int id = 7;
    ASSERT_EQ(s.prepare("select to_char(req.actual_start_date, 'HH24:MI:SS') from fnd_concurrent_requests req "
                        "where req.request_id = :req_id -- :not_a_bind"),
              OCI_SUCCESS);
    EXPECT_EQ(s.bind_int(":other", &id), OCI_ERROR);
    EXPECT_EQ(s.error().second, "ORA-01036: illegal variable name/number\n");
    EXPECT_EQ(s.bind_int(":MI", &id), OCI_ERROR) << "a placeholder inside a literal is no placeholder";
    EXPECT_EQ(s.execute(1), OCI_ERROR);
    EXPECT_EQ(s.error().second, "ORA-01008: not all variables bound\n");
    ASSERT_EQ(s.bind_int("req_id", &id), OCI_SUCCESS);
    EXPECT_EQ(s.execute(0), OCI_SUCCESS);
}

TEST_F(OciStandinTest, FetchedValuesAreConvertedCutAndFlaggedLikeTheClient) {
    oci_standin::add_rule(rows_rule("from values_table", {{"12.2.9", Cell(), 42, "42", "abc"}}));
    struct Case {
        const char* what;
        ub4 position;
        ub2 type;
        sb4 size;
        bool with_indicator;
        sword status;
        int code;
        std::string value;  // bytes of the buffer that the case looks at
        sb2 indicator;
    };
    const Case cases[] = {
        {"text that fits", 1, SQLT_STR, 10, true, OCI_SUCCESS, 0, std::string("12.2.9\0", 7), 0},
        {"text cut to size - 1 plus NUL", 1, SQLT_STR, 5, true, OCI_SUCCESS_WITH_INFO, 1406, std::string("12.2\0", 5),
         6},
        {"fixed characters without terminator", 1, SQLT_CHR, 4, false, OCI_SUCCESS_WITH_INFO, 1406, "12.2", 0},
        {"NULL with an indicator", 2, SQLT_STR, 10, true, OCI_SUCCESS, 0, "", -1},
        {"NULL without an indicator", 2, SQLT_STR, 10, false, OCI_ERROR, 1405, "", 0},
        {"integer into text", 3, SQLT_STR, 10, true, OCI_SUCCESS, 0, std::string("42\0", 3), 0},
        {"number text into integer", 4, SQLT_INT, 4, true, OCI_SUCCESS, 0, "", 0},
        {"letters into integer", 5, SQLT_INT, 4, true, OCI_ERROR, 1722, "", 0},
    };
    for (const Case& c : cases) {
        Session s;
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        sb2 ind = 99;
        ASSERT_EQ(s.prepare("select a, b, c, d, e from values_table"), OCI_SUCCESS);
        ASSERT_EQ(s.define(c.position, buffer, c.size, c.type, c.with_indicator ? &ind : nullptr), OCI_SUCCESS);
        EXPECT_EQ(s.execute(1), c.status) << c.what;
        EXPECT_EQ(s.error().first, c.code) << c.what;
        if (!c.value.empty()) {
            EXPECT_EQ(std::string(buffer, c.value.size()), c.value) << c.what;
        }
        if (c.with_indicator && c.status != OCI_ERROR) {
            EXPECT_EQ(ind, c.indicator) << c.what;
        }
        if (c.type == SQLT_INT && c.status == OCI_SUCCESS) {
            int number = 0;
            std::memcpy(&number, buffer, sizeof number);
            EXPECT_EQ(number, 42) << c.what;
        }
        if (c.type == SQLT_CHR) {
            EXPECT_EQ(buffer[4], '#') << "nothing written after the value";
        }
    }
}

TEST_F(OciStandinTest, InBindValuesAreReadAtExecutionWithTheirIndicators) {
    oci_standin::add_rule(substring_rule("INSERT INTO MO_GLOB_ORG_ACCESS_TMP", {}));
    Session s;
    int org_id = 81;
    char name[2000] = "Vision Operations";
    char fixed[8] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'};
    sb2 null_ind = -1;
    ASSERT_EQ(s.prepare("INSERT INTO MO_GLOB_ORG_ACCESS_TMP (ORGANIZATION_ID , ORGANIZATION_NAME, X, Y) "
                        "VALUES (:org_id , :ou_name, :fixed, :nothing )"),
              OCI_SUCCESS);
    ASSERT_EQ(s.bind_int(":org_id", &org_id), OCI_SUCCESS);
    ASSERT_EQ(s.bind_str(":ou_name", name, static_cast<sb4>(std::strlen(name) + 1)), OCI_SUCCESS);
    OCIBind* bind = nullptr;
    ASSERT_EQ(OCIBindByName(s.stmthp, &bind, s.errhp, sql_text(":fixed"), 6, fixed, 3, SQLT_CHR, nullptr, nullptr,
                            nullptr, 0, nullptr, OCI_DEFAULT),
              OCI_SUCCESS);
    ASSERT_EQ(s.bind_str(":nothing", name, sizeof name, &null_ind), OCI_SUCCESS);
    EXPECT_EQ(s.execute(0), OCI_ERROR) << "a statement that is not a query needs an iteration";
    EXPECT_EQ(s.error().first, 24333);
    org_id = 82;
    EXPECT_EQ(s.execute(1), OCI_SUCCESS);
    auto binds = oci_standin::journal().executions.back().binds;
    ASSERT_EQ(binds.size(), 4u);
    EXPECT_EQ(binds[0].value, Cell(82));
    EXPECT_EQ(binds[0].size, 4);
    EXPECT_EQ(binds[1].value, Cell("Vision Operations"));
    EXPECT_EQ(binds[2].value, Cell("ABC"));
    EXPECT_TRUE(binds[3].value.is_null());
}

TEST_F(OciStandinTest, PrepareDropsThePreviousBindsDefinesAndCursor) {
    oci_standin::add_rule(rows_rule("from first_table", {{1}, {2}}));
    oci_standin::add_rule(rows_rule("from second_table", {{"x"}}));
    Session s;
    int id = 5, value = 0;
    ASSERT_EQ(s.prepare("select v from first_table where id = :id"), OCI_SUCCESS);
    ASSERT_EQ(s.bind_int(":id", &id), OCI_SUCCESS);
    ASSERT_EQ(s.define(1, &value, sizeof value, SQLT_INT), OCI_SUCCESS);
    ASSERT_EQ(s.execute(1), OCI_SUCCESS);
    EXPECT_EQ(value, 1);

    ASSERT_EQ(s.prepare("select w from second_table"), OCI_SUCCESS);
    EXPECT_EQ(s.fetch(), OCI_ERROR) << "the old cursor is gone";
    EXPECT_EQ(s.error().first, 24338);
    EXPECT_EQ(s.execute(1), OCI_SUCCESS);
    EXPECT_EQ(value, 1) << "the old define no longer receives rows";
    auto j = oci_standin::journal();
    ASSERT_EQ(j.executions.size(), 2u);
    EXPECT_TRUE(j.executions[1].binds.empty());
    EXPECT_TRUE(j.executions[1].defines.empty());
    EXPECT_EQ(j.prepared,
              (std::vector<std::string>{"select v from first_table where id = :id", "select w from second_table"}));
}

TEST_F(OciStandinTest, ProgrammedErrorsArriveAtTheirStep) {
    struct Case {
        const char* what;
        Failure failure;
        sword prepare, bind, define, execute, fetch;
    };
    const Case cases[] = {
        {"prepare", failure_at(Step::Prepare, 900, "invalid SQL statement"), OCI_ERROR, OCI_ERROR, OCI_ERROR, OCI_ERROR,
         OCI_ERROR},
        {"bind of another name", failure_with(failure_at(Step::Bind, 1036, "bad"), "other", 0, 1), OCI_SUCCESS,
         OCI_SUCCESS, OCI_SUCCESS, OCI_SUCCESS, OCI_SUCCESS},
        {"bind of :id", failure_with(failure_at(Step::Bind, 1036, "bad"), ":ID", 0, 1), OCI_SUCCESS, OCI_ERROR,
         OCI_SUCCESS, OCI_ERROR, OCI_ERROR},
        {"define", failure_with(failure_at(Step::Define, 1007, "bad"), "", 1, 1), OCI_SUCCESS, OCI_SUCCESS, OCI_ERROR,
         OCI_SUCCESS, OCI_SUCCESS},
        {"execute", failure_at(Step::Execute, 942, "table or view does not exist"), OCI_SUCCESS, OCI_SUCCESS,
         OCI_SUCCESS, OCI_ERROR, OCI_ERROR},
        {"fetch of row 2", failure_with(failure_at(Step::Fetch, 1555, "snapshot too old"), "", 0, 2), OCI_SUCCESS,
         OCI_SUCCESS, OCI_SUCCESS, OCI_SUCCESS, OCI_ERROR},
        {"fetch of row 1", failure_at(Step::Fetch, 1555, "snapshot too old"), OCI_SUCCESS, OCI_SUCCESS, OCI_SUCCESS,
         OCI_ERROR, OCI_ERROR},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        oci_standin::add_rule(substring_rule("from t", {answer_failure(c.failure, {{1}, {2}, {3}})}));
        Session s;
        int id = 1, value = 0;
        EXPECT_EQ(s.prepare("select v from t where id = :id"), c.prepare) << c.what;
        EXPECT_EQ(s.bind_int(":id", &id), c.bind) << c.what;
        EXPECT_EQ(s.define(1, &value, sizeof value, SQLT_INT), c.define) << c.what;
        EXPECT_EQ(s.execute(1), c.execute) << c.what;
        sword fetched = s.fetch();
        EXPECT_EQ(fetched, c.fetch) << c.what;
        if (c.execute == OCI_SUCCESS && c.fetch == OCI_ERROR) {
            EXPECT_EQ(s.error(), std::make_pair(sb4{1555}, std::string("ORA-01555: snapshot too old\n")));
        }
    }
}

TEST_F(OciStandinTest, UnmatchedStatementFailsNamingItsText) {
    Session s;
    ASSERT_EQ(s.prepare("select   user_id\n  from fnd_user"), OCI_SUCCESS);
    EXPECT_EQ(s.execute(1), OCI_ERROR);
    auto [code, message] = s.error();
    EXPECT_EQ(code, oci_standin::kNoRuleCode);
    EXPECT_NE(message.find("select user_id from fnd_user"), std::string::npos) << message;
}

TEST_F(OciStandinTest, RulesMatchOnFoldedTextBySubstringOrRegexIgnoringCase) {
    oci_standin::add_rule(substring_rule("where otl.name = :ou_name", {answer_rows({{"by substring"}})}));
    oci_standin::add_rule(oci_standin::regex_rule(R"(multi_org_category = '([MS])')", {answer_rows({{"by regex"}})}));
    const std::pair<std::string, std::string> cases[] = {
        {"SELECT o.organization_id FROM x otl WHERE  otl.name\n\t= :ou_name", "by substring"},
        {" select  count(MULTI_ORG_CATEGORY)  from fnd_concurrent_programs  where CONCURRENT_PROGRAM_NAME = :prog_name "
         "and  MULTI_ORG_CATEGORY = 'S'",
         "by regex"},
    };
    for (const auto& [sql, expected] : cases) {
        Session s;
        char out[32] = "", in[8] = "X";
        ASSERT_EQ(s.prepare(sql), OCI_SUCCESS);
        s.bind_str(":ou_name", in, sizeof in);
        s.bind_str(":prog_name", in, sizeof in);
        ASSERT_EQ(s.define(1, out, sizeof out, SQLT_STR), OCI_SUCCESS);
        EXPECT_EQ(s.execute(1), OCI_SUCCESS) << sql;
        EXPECT_STREQ(out, expected.c_str());
    }
}

TEST_F(OciStandinTest, AnswerSequenceMovesOnPerExecutionAndRepeatsItsLast) {
    oci_standin::add_rule(
        substring_rule("from fnd_concurrent_requests",
                       {answer_rows({{"P", "I"}}), answer_rows({{"R", "R"}}), answer_rows({{"C", "C"}})}));
    Session s;
    std::vector<std::string> seen;
    for (int call = 0; call < 4; ++call) {
        char phase[2], status[2];
        int id = 1234;
        ASSERT_EQ(s.prepare("select phase_code, status_code from fnd_concurrent_requests where request_id = :id"),
                  OCI_SUCCESS);
        s.bind_int(":id", &id);
        s.define(1, phase, sizeof phase, SQLT_STR);
        s.define(2, status, sizeof status, SQLT_STR);
        ASSERT_EQ(s.execute(1), OCI_SUCCESS);
        seen.push_back(std::string(phase) + status);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"PI", "RR", "CC", "CC"}));
}

// Round trips a real client needs: the execution brings up to max(iters, prefetch) rows, a fetch
// beyond them brings up to prefetch more, and a round trip that came back short has met the end.
TEST_F(OciStandinTest, RoundTripsFollowThePrefetch) {
    struct Case {
        ub4 prefetch;
        int rows;
        ub4 iters;
        unsigned round_trips;
    } cases[] = {
        {0, 0, 1, 1},  {0, 1, 1, 2},  {0, 45, 1, 46}, {1, 0, 1, 1},  {1, 1, 1, 2},  {1, 45, 1, 46},
        {20, 0, 1, 1}, {20, 1, 1, 1}, {20, 45, 1, 3}, {0, 0, 0, 2},  {0, 1, 0, 3},  {0, 45, 0, 47},
        {1, 0, 0, 1},  {1, 1, 0, 2},  {1, 45, 0, 46}, {20, 0, 0, 1}, {20, 1, 0, 1}, {20, 45, 0, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("prefetch " + std::to_string(c.prefetch) + ", rows " + std::to_string(c.rows) + ", iters " +
                     std::to_string(c.iters));
        oci_standin::reset();
        std::vector<Row> rows;
        for (int id = 1; id <= c.rows; ++id) rows.push_back({id});
        oci_standin::add_rule(rows_rule("from fnd_concurrent_requests", rows));
        Session s;
        int id = 0;
        ASSERT_EQ(s.prepare("select request_id from fnd_concurrent_requests"), OCI_SUCCESS);
        ASSERT_EQ(
            OCIAttrSet(s.stmthp, OCI_HTYPE_STMT, const_cast<ub4*>(&c.prefetch), 0, OCI_ATTR_PREFETCH_ROWS, s.errhp),
            OCI_SUCCESS);
        ASSERT_EQ(s.define(1, &id, sizeof id, SQLT_INT), OCI_SUCCESS);
        int got = 0;
        sword status = s.execute(c.iters);
        if (c.iters > 0 && status == OCI_SUCCESS) ++got;
        while (status == OCI_SUCCESS && (status = s.fetch()) == OCI_SUCCESS) ++got;
        EXPECT_EQ(status, OCI_NO_DATA);
        EXPECT_EQ(got, c.rows);
        const auto journal = oci_standin::journal();
        ASSERT_EQ(journal.executions.size(), 1u);
        EXPECT_EQ(journal.executions[0].round_trips, c.round_trips);
        EXPECT_EQ(journal.round_trips(), c.round_trips);
    }
    // A failing row comes back with the round trip that meets it: 20 rows with the execution, 9 and
    // the error with the next round trip.
    oci_standin::reset();
    std::vector<Row> rows(45, Row{7});
    oci_standin::add_rule(substring_rule(
        "from fnd_concurrent_requests",
        {answer_failure(failure_with(failure_at(Step::Fetch, 1555, "snapshot too old"), "", 0, 30), rows)}));
    Session s;
    int id = 0;
    ub4 prefetch = 20;
    ASSERT_EQ(s.prepare("select request_id from fnd_concurrent_requests"), OCI_SUCCESS);
    ASSERT_EQ(OCIAttrSet(s.stmthp, OCI_HTYPE_STMT, &prefetch, 0, OCI_ATTR_PREFETCH_ROWS, s.errhp), OCI_SUCCESS);
    ASSERT_EQ(s.define(1, &id, sizeof id, SQLT_INT), OCI_SUCCESS);
    sword status = s.execute(0);
    int got = 0;
    while (status == OCI_SUCCESS && (status = s.fetch()) == OCI_SUCCESS) ++got;
    EXPECT_EQ(got, 29);
    EXPECT_EQ(s.error().first, 1555);
    EXPECT_EQ(oci_standin::journal().round_trips(), 2u);
}

TEST_F(OciStandinTest, JournalTurnedOffKeepsNoStatementsButTheyStillAnswer) {
    oci_standin::add_rule(rows_rule("from dual", {{5}}));
    oci_standin::keep_journal(false);
    Session s;
    int value = 0;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(s.prepare("select 5 from dual"), OCI_SUCCESS);
        ASSERT_EQ(s.define(1, &value, sizeof value, SQLT_INT), OCI_SUCCESS);
        ASSERT_EQ(s.execute(1), OCI_SUCCESS);
        EXPECT_EQ(value, 5);
    }
    auto journal = oci_standin::journal();
    EXPECT_TRUE(journal.calls.empty());
    EXPECT_TRUE(journal.prepared.empty());
    EXPECT_TRUE(journal.executions.empty());
    // A reset keeps the journal again.
    oci_standin::reset();
    oci_standin::add_rule(rows_rule("from dual", {{5}}));
    ASSERT_EQ(s.prepare("select 5 from dual"), OCI_SUCCESS);
    ASSERT_EQ(s.execute(1), OCI_SUCCESS);
    EXPECT_EQ(oci_standin::journal().executions.size(), 1u);
}

TEST_F(OciStandinTest, FreeingTheEnvironmentFreesWhatIsLeftUnderIt) {
    OCIEnv* env = nullptr;
    OCIStmt* stmt = nullptr;
    OCIError* err = nullptr;
    ASSERT_EQ(OCIEnvInit(&env, OCI_DEFAULT, 0, nullptr), OCI_SUCCESS);
    OCIHandleAlloc(env, reinterpret_cast<dvoid**>(&err), OCI_HTYPE_ERROR, 0, nullptr);
    OCIHandleAlloc(env, reinterpret_cast<dvoid**>(&stmt), OCI_HTYPE_STMT, 0, nullptr);
    EXPECT_EQ(oci_standin::live_handles(), 3u);
    EXPECT_EQ(OCIHandleFree(env, OCI_HTYPE_ENV), OCI_SUCCESS);
    EXPECT_EQ(oci_standin::live_handles(), 0u);
    EXPECT_EQ(OCIHandleFree(stmt, OCI_HTYPE_STMT), OCI_INVALID_HANDLE);
}

// ---- script mode --------------------------------------------------------------------------

class OciStandinScriptTest : public OciStandinTest {
protected:
    testbed::AgentHome home;
    void SetUp() override {
        OciStandinTest::SetUp();
        setenv(oci_standin::kJournalVariable, (home.path() + "/oci-journal.jsonl").c_str(), 1);
        setenv(oci_standin::kStateVariable, (home.path() + "/oci-state.json").c_str(), 1);
    }
    void TearDown() override {
        unsetenv(oci_standin::kScriptVariable);
        unsetenv(oci_standin::kJournalVariable);
        unsetenv(oci_standin::kStateVariable);
        OciStandinTest::TearDown();
    }
    void use_script(const std::string& content) {
        home.write_file("oci-script.json", content);
        setenv(oci_standin::kScriptVariable, (home.path() + "/oci-script.json").c_str(), 1);
    }
    std::vector<nlohmann::json> journal_lines() {
        std::vector<nlohmann::json> lines;
        for (const auto& line : testbed::lines_of(home.read_file("oci-journal.jsonl")))
            lines.push_back(nlohmann::json::parse(line));
        return lines;
    }
};

const char* kScript = R"({
  "logons": [ {"connect": "VIS", "user": "APPS", "password": "apps"} ],
  "rules": [
    { "name": "phase", "match": "from fnd_concurrent_requests",
      "answers": [ {"rows": [["P"]]}, {"rows": [["R"]]}, {"rows": [["C"]]} ] },
    { "match": "FND_PROFILE.PUT", "outs": {"new_value": "{pvalue}!", "count": 3} },
    { "regex": "^select .* from fnd_user$", "rows": [["SYSADMIN", 0], ["GUEST", null]] },
    { "match": "from fnd_application", "error": {"step": "fetch", "row": 1, "code": 1555, "message": "snapshot too old"} }
  ]
})";

// One run of the product: a session, the phase query, closed.
std::string run_phase_query() {
    Session s;
    char phase[2] = "";
    int id = 1;
    s.prepare("select phase_code from fnd_concurrent_requests where request_id = :id");
    s.bind_int(":id", &id);
    s.define(1, phase, sizeof phase, SQLT_STR);
    return s.execute(1) == OCI_SUCCESS ? phase : "failed";
}

TEST_F(OciStandinScriptTest, ScriptAnswersAndItsSequenceContinuesAcrossProcesses) {
    use_script(kScript);
    std::vector<std::string> phases;
    for (int run = 0; run < 4; ++run) {
        oci_standin::reset();  // what a new process starts with; the state file carries the counters
        phases.push_back(run_phase_query());
    }
    EXPECT_EQ(phases, (std::vector<std::string>{"P", "R", "C", "C"}));

    Session s;
    char pvalue[8] = "7", new_value[8] = "";
    int count = 0;
    s.prepare("BEGIN FND_PROFILE.PUT(:pname, :pvalue); FND_PROFILE.GET(:pname, :new_value); :count := 1; END;");
    s.bind_str(":pname", pvalue, sizeof pvalue);
    s.bind_str(":pvalue", pvalue, sizeof pvalue);
    s.bind_str(":new_value", new_value, sizeof new_value);
    s.bind_int(":count", &count);
    EXPECT_EQ(s.execute(1), OCI_SUCCESS);
    EXPECT_STREQ(new_value, "7!");
    EXPECT_EQ(count, 3);

    char user[16];
    sb2 ind = 0;
    int flag = 0;
    s.prepare("select user_name, flag from fnd_user");
    s.define(1, user, sizeof user, SQLT_STR);
    s.define(2, &flag, sizeof flag, SQLT_INT, &ind);
    EXPECT_EQ(s.execute(1), OCI_SUCCESS);
    EXPECT_EQ(s.fetch(), OCI_SUCCESS);
    EXPECT_STREQ(user, "GUEST");
    EXPECT_EQ(ind, -1);

    s.prepare("select name from fnd_application");
    s.define(1, user, sizeof user, SQLT_STR);
    EXPECT_EQ(s.execute(1), OCI_ERROR);
    EXPECT_EQ(s.error().first, 1555);
}

TEST_F(OciStandinScriptTest, JournalFileHoldsEveryCallAsOneJsonLine) {
    use_script(kScript);
    setenv("NLS_LANG", "AMERICAN_AMERICA.UTF8", 1);
    EXPECT_EQ(run_phase_query(), "P");
    auto lines = journal_lines();
    ASSERT_FALSE(lines.empty());
    std::map<std::string, int> balance;
    const nlohmann::json* execute = nullptr;
    for (const auto& line : lines) {
        std::string call = line.at("call");
        EXPECT_EQ(line.at("status"), call == "OCIErrorGet" ? OCI_NO_DATA : OCI_SUCCESS) << line.dump();
        if (call == "OCIEnvInit") {
            EXPECT_EQ(line.at("NLS_LANG"), "AMERICAN_AMERICA.UTF8");
        }
        if (call == "OCISessionBegin") {
            EXPECT_EQ(line.at("user"), "APPS");
            EXPECT_EQ(line.at("password"), "apps");
            EXPECT_EQ(line.at("connect"), "VIS");
        }
        if (call == "OCIEnvInit" || call == "OCIHandleAlloc") ++balance[line.at("type").dump()];
        if (call == "OCIHandleFree") --balance[line.at("type").dump()];
        if (call == "OCIStmtExecute") execute = &line;
    }
    for (const auto& [type, count] : balance) EXPECT_EQ(count, 0) << "handle type " << type;
    ASSERT_NE(execute, nullptr);
    EXPECT_EQ(execute->at("rule"), "phase");
    EXPECT_EQ(execute->at("iters"), 1);
    EXPECT_EQ(execute->at("binds"), nlohmann::json::parse(R"([{"name":"ID","type":3,"size":4,"value":1}])"));
    EXPECT_EQ(execute->at("defines"), nlohmann::json::parse(R"([{"position":1,"type":5,"size":2}])"));
}

TEST_F(OciStandinScriptTest, BadScriptFailsTheClientStartWithItsReason) {
    const std::pair<std::string, std::string> cases[] = {
        {"{ not json", "parse error"},
        {R"({"rules": [{"match": "x", "rowz": []}]})", "unknown key \"rowz\""},
        {R"({"rules": [{"regex": "("}]})", "bad regular expression"},
        {R"({"rules": [{"match": "x", "error": {"step": "later", "code": 1}}]})", "unknown step \"later\""},
    };
    for (const auto& [script, reason] : cases) {
        use_script(script);
        oci_standin::reset();
        testbed::StderrCapture err;
        EXPECT_EQ(OCIInitialize(OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr), OCI_ERROR) << script;
        OCIEnv* env = nullptr;
        EXPECT_EQ(OCIEnvInit(&env, OCI_DEFAULT, 0, nullptr), OCI_ERROR) << script;
        EXPECT_EQ(env, nullptr);
        EXPECT_NE(err.text().find(reason), std::string::npos) << err.text();
    }
}

}  // namespace

#endif
