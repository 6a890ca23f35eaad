// OCI sessions: the status mapping, opening and closing a session against the stand-in client,
// the connection list of a tracking connection and sessions for a named account.
#include "be_session_fixture.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using betest::OwnedList;
using oci_standin::Step;

class OciSessionTest : public betest::SessionTest {};

constexpr const char* kAccounts =
    "[FIN]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\n"
    "[HR]\nDB_SID PROD\nDB_LOGIN APPS\nDB_PASSWD prodpw\n"
    "[NOSID]\nDB_LOGIN APPS\nDB_PASSWD apps\n";

std::string text_of(const ZPAError& error) { return error.text; }

TEST_F(OciSessionTest, StatusMappingGivesResultCodeAndText) {
    struct Case {
        sword status;
        ZPARC result;
        ZPAErrorCode code;
        const char* text;  // nullptr: the record is left as it was
    };
    const Case cases[] = {
        {OCI_SUCCESS, 0, 0, nullptr},
        {OCI_NEED_DATA, 1, 99, "CM for OEBS: Error - OCI_NEED_DATA\n"},
        {OCI_NO_DATA, 1, 100, "CM for OEBS: Error - OCI_NODATA\n"},
        {OCI_INVALID_HANDLE, 1, static_cast<ZPAErrorCode>(-2), "CM for OEBS: Error - OCI_INVALID_HANDLE\n"},
        {OCI_STILL_EXECUTING, 2, static_cast<ZPAErrorCode>(-3123), "CM for OEBS: Error - OCI_STILL_EXECUTE\n"},
        {OCI_CONTINUE, 2, static_cast<ZPAErrorCode>(-24200), "CM for OEBS: Error - OCI_CONTINUE\n"},
        {5, 0, 0, nullptr},
        // Without an error handle there is no message to read: the status stands for it.
        {OCI_ERROR, 1, static_cast<ZPAErrorCode>(-1), "CM for OEBS: Error - OCI_ERROR\n"},
    };
    for (const Case& c : cases) {
        ZPAError error{};
        error.code = 7;
        std::strcpy(error.text, "before");
        EXPECT_EQ(BE_DUZ_OCI_error(nullptr, c.status, &error), c.result) << c.status;
        EXPECT_EQ(error.code, c.text ? c.code : 7u) << c.status;
        EXPECT_EQ(text_of(error), c.text ? c.text : "before") << c.status;
    }
}

TEST_F(OciSessionTest, OracleErrorAndWarningCarryTheOracleNumberAndText) {
    BE_DUZ_Handles* session = open_session();
    const char* sql = "select nothing from nowhere";
    ASSERT_EQ(OCIStmtPrepare(session->stmthp, session->errhp, reinterpret_cast<const OraText*>(sql),
                             static_cast<ub4>(std::strlen(sql)), OCI_NTV_SYNTAX, OCI_DEFAULT),
              OCI_SUCCESS);
    sword status = OCIStmtExecute(session->svchp, session->stmthp, session->errhp, 1, 0, nullptr, nullptr, OCI_DEFAULT);
    ASSERT_EQ(status, OCI_ERROR);

    ZPAError error{};
    EXPECT_EQ(BE_DUZ_OCI_error(session->errhp, status, &error), 1);
    EXPECT_EQ(error.code, static_cast<ZPAErrorCode>(oci_standin::kNoRuleCode));
    EXPECT_EQ(std::string(error.text).rfind("CM for OEBS: ORA-20999: ", 0), 0u) << error.text;

    // A warning keeps the call going but still replaces the record.
    ZPAError warning{};
    EXPECT_EQ(BE_DUZ_OCI_error(session->errhp, OCI_SUCCESS_WITH_INFO, &warning), 0);
    EXPECT_EQ(warning.code, static_cast<ZPAErrorCode>(oci_standin::kNoRuleCode));
    close_session(session);
}

TEST_F(OciSessionTest, SessionOpensWithTheAccountsLogonAndCloseFreesEveryHandle) {
    oci_standin::add_logon(oci_standin::logon("VIS", "APPS", "apps"));
    BE_DUZ_Handles* session = open_session();
    ASSERT_NE(session->stmthp, nullptr);
    auto journal = oci_standin::journal();
    ASSERT_EQ(journal.logons.size(), 1u);
    EXPECT_EQ(journal.logons[0].connect, "VIS");
    EXPECT_EQ(journal.logons[0].user, "APPS");
    EXPECT_EQ(journal.logons[0].password, "apps");

    ZPAError error{};
    BE_DUZ_OCI_CLOSE_Session(session, 'Y', &error);
    EXPECT_EQ(error.code, 0u) << error.text;
    journal = oci_standin::journal();
    EXPECT_EQ(oci_standin::live_handles(), 0u);
    EXPECT_EQ(journal.allocated, journal.freed);
}

TEST_F(OciSessionTest, FailedLogonKeepsTheOracleErrorThroughTheCleanUpClose) {
    struct Case {
        const char* connect;
        const char* password;
        ZPAErrorCode code;
        const char* ora;
    };
    const Case cases[] = {
        {"VIS", "wrong", 1017, "ORA-01017"},      // wrong password: refused at the session begin
        {"NOWHERE", "apps", 12154, "ORA-12154"},  // unknown connect string: refused at the attach
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        oci_standin::add_logon(oci_standin::logon("VIS", "APPS", "apps"));
        OwnedList account{{"DB_LOGIN", "APPS"}, {"DB_PASSWD", c.password}, {"DB_SID", c.connect}};
        auto* handle = static_cast<BE_DUZ_Handles*>(std::malloc(sizeof(BE_DUZ_Handles)));
        BE_DUZ_OCI_Init_Handle(handle);
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_OCI_START_Session(account.list(), handle, &error), 1) << c.connect;
        BE_DUZ_OCI_CLOSE_Session(handle, 'N', &error);
        EXPECT_EQ(error.code, c.code) << c.connect;
        EXPECT_NE(std::string(error.text).find(c.ora), std::string::npos) << error.text;
        auto journal = oci_standin::journal();
        EXPECT_EQ(oci_standin::live_handles(), 0u) << c.connect;
        EXPECT_EQ(journal.allocated, journal.freed) << c.connect;
    }
}

TEST_F(OciSessionTest, MissingAccountKeyFailsWithCodeOneBeforeAnyOciCall) {
    struct Case {
        OwnedList account;
        const char* text;
    };
    Case cases[] = {
        {OwnedList{{"DB_PASSWD", "apps"}, {"DB_SID", "VIS"}}, "CM for OEBS: username not found"},
        {OwnedList{{"DB_LOGIN", "APPS"}, {"DB_SID", "VIS"}}, "CM for OEBS: password not found"},
        {OwnedList{{"DB_LOGIN", "APPS"}, {"DB_PASSWD", "apps"}}, "CM for OEBS: DB_SID not found"},
    };
    for (Case& c : cases) {
        BE_DUZ_Handles handle;
        BE_DUZ_OCI_Init_Handle(&handle);
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_OCI_START_Session(c.account.list(), &handle, &error), 1);
        EXPECT_EQ(error.code, 1u);
        EXPECT_STREQ(error.text, c.text);
    }
    EXPECT_TRUE(oci_standin::journal().calls.empty());
}

TEST_F(OciSessionTest, ClosingANullRecordReportsItWithCodeZero) {
    ZPAError error{};
    error.code = 5;
    BE_DUZ_OCI_CLOSE_Session(nullptr, 'Y', &error);
    EXPECT_EQ(error.code, 0u);
    EXPECT_STREQ(error.text, "CM for OEBS: Handle is null");
}

TEST_F(OciSessionTest, ConnectionListReusesTheSessionOfASidAndFindsNoneForAnother) {
    home.write_file("data/DUZ_inst.dat", kAccounts);
    BE_DUZ_Handles* vis = open_session("VIS");
    BE_DUZ_ConnectionList* list = BE_DUZ_create_connection_list();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(BE_DUZ_insert_connection_list_item(list, vis, const_cast<char*>("VIS")), CM_RC_OK);
    ZPAConnHandle connection{};
    connection.UserData = list;

    ZPAError error{};
    OwnedList fin_job{{"DUZ-INSTANCE", "FIN"}};
    EXPECT_EQ(BE_DUZ_find_connection_from_list(&connection, fin_job.list(), const_cast<char*>("TRACK"), &error), vis);

    // The second account's SID has no session yet: the caller opens one and adds it.
    OwnedList hr_job{{"DUZ-INSTANCE", "HR"}};
    EXPECT_EQ(BE_DUZ_find_connection_from_list(&connection, hr_job.list(), const_cast<char*>("TRACK"), &error),
              nullptr);
    BE_DUZ_Handles* prod = open_session("PROD", "APPS", "prodpw");
    ASSERT_EQ(BE_DUZ_insert_connection_list_item(list, prod, const_cast<char*>("PROD")), CM_RC_OK);
    EXPECT_EQ(BE_DUZ_find_connection_from_list(&connection, hr_job.list(), const_cast<char*>("TRACK"), &error), prod);
    EXPECT_EQ(BE_DUZ_find_connection_from_list(&connection, fin_job.list(), const_cast<char*>("TRACK"), &error), vis);
    EXPECT_EQ(oci_standin::journal().logons.size(), 2u);

    // SIDs match exactly, case included.
    EXPECT_EQ(BE_DUZ_find_connection(list, const_cast<char*>("vis")), nullptr);

    // Deleting the list leaves its sessions open; they are closed on their own.
    BE_DUZ_delete_connection_list(list);
    EXPECT_GT(oci_standin::live_handles(), 0u);
    close_session(vis);
    close_session(prod);
    EXPECT_EQ(oci_standin::live_handles(), 0u);
}

TEST_F(OciSessionTest, ConnectionListLookupRefusesUserDataOfAnotherKind) {
    home.write_file("data/DUZ_inst.dat", kAccounts);
    OwnedList job{{"DUZ-INSTANCE", "FIN"}};
    BE_DUZ_Handles single;
    BE_DUZ_OCI_Init_Handle(&single);
    ZPALIST_handle_typ names{};  // the account-name list of an open list answer, two names long
    names.count = 2;
    for (void* data : {static_cast<void*>(&single), static_cast<void*>(&names), static_cast<void*>(nullptr)}) {
        ZPAConnHandle connection{};
        connection.UserData = data;
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_find_connection_from_list(&connection, job.list(), const_cast<char*>("TRACK"), &error),
                  nullptr);
        EXPECT_EQ(error.code, 1u);
    }
}

TEST_F(OciSessionTest, ConnectionListLookupReportsAMissingAccountOrSid) {
    home.write_file("data/DUZ_inst.dat", kAccounts);
    BE_DUZ_ConnectionList* list = BE_DUZ_create_connection_list();
    ZPAConnHandle connection{};
    connection.UserData = list;
    struct Case {
        const char* account;
        const char* text_part;
        ZPAErrorCode code;
    };
    const Case cases[] = {
        {"GONE", "Could not find account GONE (LCP or CCP)", 1},
        {"NOSID", "DB_SID not found", 0},
    };
    for (const Case& c : cases) {
        OwnedList job{{"DUZ-INSTANCE", c.account}};
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_find_connection_from_list(&connection, job.list(), const_cast<char*>("TRACK"), &error),
                  nullptr);
        EXPECT_NE(std::string(error.text).find(c.text_part), std::string::npos) << error.text;
        EXPECT_EQ(error.code, c.code) << c.account;
    }
    OwnedList no_account{{"REQTYPE", "TRACK"}};
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_find_connection_from_list(&connection, no_account.list(), const_cast<char*>("TRACK"), &error),
              nullptr);
    EXPECT_STREQ(error.text, "CM for OEBS: keyword DUZ-INSTANCE not found");
    BE_DUZ_delete_connection_list(list);
}

TEST_F(OciSessionTest, AccountSessionTakesTheOracleEnvironmentFromTableOebs) {
    home.write_file("data/DUZ_inst.dat", kAccounts);
    home.write_file("data/OEBS.dat", "ORACLE_HOME /opt/oracle/client\nNLS_LANG AMERICAN_AMERICA.UTF8\n");
    setenv("TNS_ADMIN", "/earlier/value", 1);
    BE_DUZ_Handles* session = nullptr;
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_connect_to_OEBS(const_cast<char*>("FIN"), &session, &error), 0) << error.text;
    ASSERT_NE(session, nullptr);
    auto journal = oci_standin::journal();
    ASSERT_EQ(journal.environments.size(), 1u);
    EXPECT_EQ(journal.environments[0].oracle_home, "/opt/oracle/client");
    EXPECT_EQ(journal.environments[0].tns_admin, "");  // missing from the table: set empty
    EXPECT_EQ(journal.environments[0].nls_lang, "AMERICAN_AMERICA.UTF8");
    EXPECT_STREQ(session->GLBL_oraHome, "ORACLE_HOME=/opt/oracle/client");

    // A second call closes the session it is given before it opens the next. The file's section
    // names are read upper-cased, so an account given in lower case is found all the same.
    ASSERT_EQ(BE_DUZ_connect_to_OEBS(const_cast<char*>("hr"), &session, &error), 0) << error.text;
    journal = oci_standin::journal();
    EXPECT_EQ(journal.logons.back().password, "prodpw");
    EXPECT_EQ(journal.freed[OCI_HTYPE_ENV], 1u);
    close_session(session);
    EXPECT_EQ(oci_standin::live_handles(), 0u);
}

TEST_F(OciSessionTest, StoredPasswordReachesTheDatabaseDecrypted) {
    char stored[BE_DUZ_SESSION_PASSWORD_SIZE] = "s3cret";
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_PKM_encrypt(stored, sizeof stored, LOCAL, &error), 0) << error.text;
    ASSERT_STRNE(stored, "s3cret");
    home.write_file("data/DUZ_inst.dat", std::string("[ENC]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD ") + stored + "\n");
    BE_DUZ_Handles* session = nullptr;
    ASSERT_EQ(BE_DUZ_connect_to_OEBS(const_cast<char*>("ENC"), &session, &error), 0) << error.text;
    EXPECT_EQ(oci_standin::journal().logons.back().password, "s3cret");
    close_session(session);
}

TEST_F(OciSessionTest, AccountSessionFailuresStoreNoSession) {
    home.write_file("data/DUZ_inst.dat", kAccounts);
    oci_standin::add_logon(oci_standin::logon("VIS", "APPS", "other"));
    struct Case {
        const char* account;
        ZPAErrorCode code;
        const char* text_part;
    };
    const Case cases[] = {
        {"FIN", 1017, "ORA-01017"},
        {"GONE", 1, "Failed to load account 'GONE' from file ./data/DUZ_inst.dat"},
    };
    for (const Case& c : cases) {
        BE_DUZ_Handles* session = nullptr;
        ZPAError error{};
        EXPECT_NE(BE_DUZ_connect_to_OEBS(const_cast<char*>(c.account), &session, &error), 0);
        EXPECT_EQ(session, nullptr);
        EXPECT_EQ(error.code, c.code);
        EXPECT_NE(std::string(error.text).find(c.text_part), std::string::npos) << error.text;
    }
    EXPECT_EQ(oci_standin::live_handles(), 0u);
}

}  // namespace
