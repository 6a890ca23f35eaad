// The plug-in's life cycle: which requests get a session, where the account comes from, the
// session or tracking list on UserData, a database refusal recorded for the job, disconnect, the
// account-name search, the log name, the version banner and the child-reaping handler.
#include "be_def.h"
#include "be_session_fixture.h"
#include "standin.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using betest::OwnedList;

const char* kAccounts =
    "[VIS]\nCM_APPL_TYPE OEBS\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\n"
    "[PROD]\nDB_SID PROD\nDB_LOGIN APPS\nDB_PASSWD apps\nNLS_LANG AMERICAN_AMERICA.UTF8\n"
    "[LOCKED]\nDB_SID VIS\nDB_LOGIN LOCKED\nDB_PASSWD apps\n"
    "[NOSID]\nDB_LOGIN APPS\n";

class Lifecycle : public betest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        home.write_file("data/DUZ_inst.dat", kAccounts);
        std::filesystem::copy_file(APPBRIDGE_QELOS_LIBRARY, home.path() + "/cm/lib_DUZ.so");
        oci_standin::add_logon(oci_standin::logon("VIS", "APPS", "apps"));
        oci_standin::add_logon(oci_standin::logon("PROD", "APPS", "apps"));
        oci_standin::add_logon(oci_standin::logon(
            "VIS", "LOCKED", "apps",
            oci_standin::failure_at(oci_standin::Step::SessionBegin, 28000, "the account is locked")));
        cm_dir_ = home.path() + "/cm";
        connection_attrs_.emplace(
            std::initializer_list<std::pair<const char*, const char*>>{{"CM_LIB_NAME", "DUZ"},
                                                                       {"CM_DIR", cm_dir_.c_str()},
                                                                       {"ORACLE_HOME", "/opt/oracle/client"},
                                                                       {"TNS_ADMIN", "/opt/oracle/tns"}});
        connection_.Attributes = *connection_attrs_->list();
    }
    void TearDown() override {
        ZPAError error{};
        ZPAAPI_Disconnect(&connection_, &error);
        SessionTest::TearDown();
    }

    ZPARC connect(OwnedList& request, bool agent = true) {
        error_ = ZPAError{};
        return ZPAAPI_Connect(agent ? &backend_ : nullptr, &connection_, request.list(), &error_);
    }
    int user_data_type() const {
        return connection_.UserData ? static_cast<BE_DUZ_data_type*>(connection_.UserData)->dataType : 0;
    }
    static std::size_t logons() { return oci_standin::journal().logons.size(); }

    std::string cm_dir_;
    std::optional<OwnedList> connection_attrs_;
    ZPABeHandle backend_{};
    ZPAConnHandle connection_{};
    ZPAError error_{};
};

TEST_F(Lifecycle, RequestsThatNeedNoSessionOpenNone) {
    const char* cm_instance = "<UVSCM><HEADER><ACTION>GetCMInstance</ACTION></HEADER><BODY/></UVSCM>";
    const char* accounts = "<UVSCM><HEADER><ACTION>Orvcm_get_accounts_request</ACTION></HEADER><BODY/></UVSCM>";
    const char* watcher = "<UVSCM><HEADER><ACTION>ORVOEBS_SAVE_RULES</ACTION></HEADER><BODY/></UVSCM>";
    struct Case {
        const char* what;
        OwnedList request;
    } cases[] = {
        {"account-instance list", OwnedList{{"TEXT", cm_instance}, {"DUZ-INSTANCE", "VIS"}}},
        {"configuration-manager request", OwnedList{{"TEXT", accounts}}},
        {"watcher request", OwnedList{{"TEXT", watcher}, {"REQTYPE", "LIST"}}},
        {"housekeeping", OwnedList{{"REQTYPE", "SYSHND"}, {"DUZ-INSTANCE", "VIS"}}},
        {"new day", OwnedList{{"REQTYPE", "NEWDAY"}, {"ORDERNO", "A1"}, {"RUNNO", "1"}}},
        {"ended job's sysout",
         OwnedList{{"REQTYPE", "DWNSYS"}, {"ORDERNO", "A1"}, {"RUNNO", "1"}, {"DUZ-INSTANCE", "VIS"}}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        connection_.UserData = nullptr;
        EXPECT_EQ(connect(c.request), 0) << error_.text;
        EXPECT_EQ(connection_.UserData, nullptr);
    }
    EXPECT_EQ(logons(), 0u);
}

TEST_F(Lifecycle, JobOnLocalAccountHangsOneSessionOnTheConnection) {
    OwnedList request{{"REQTYPE", "SUBMIT"}, {"DUZ-INSTANCE", "VIS"}, {"ORDERNO", "A1"}, {"RUNNO", "1"}};
    ASSERT_EQ(connect(request), 0) << error_.text;
    EXPECT_EQ(user_data_type(), BE_DUZ_CONNECTION);
    const auto journal = oci_standin::journal();
    ASSERT_EQ(journal.logons.size(), 1u);
    EXPECT_EQ(journal.logons[0].connect, "VIS");
    EXPECT_EQ(journal.logons[0].user, "APPS");
    ASSERT_FALSE(journal.environments.empty());
    EXPECT_EQ(journal.environments.back().oracle_home, "/opt/oracle/client");
    EXPECT_EQ(journal.environments.back().tns_admin, "/opt/oracle/tns");
}

TEST_F(Lifecycle, SysoutOfARunningJobOpensASession) {
    home.write_file("procid/A1_1.DAT", "PROCID  1234\nDUZ-INSTANCE  VIS\n");
    OwnedList request{{"REQTYPE", "DWNSYS"}, {"ORDERNO", "A1"}, {"RUNNO", "1"}};
    ASSERT_EQ(connect(request), 0) << error_.text;
    EXPECT_EQ(user_data_type(), BE_DUZ_CONNECTION);
}

TEST_F(Lifecycle, AccountNlsLangWinsOverTableOebs) {
    home.write_file("data/OEBS.dat", "NLS_LANG GERMAN_GERMANY.WE8ISO8859P1\n");
    OwnedList prod{{"DUZ-INSTANCE", "PROD"}};
    ASSERT_EQ(connect(prod), 0) << error_.text;
    EXPECT_EQ(oci_standin::journal().environments.back().nls_lang, "AMERICAN_AMERICA.UTF8");
    ZPAAPI_Disconnect(&connection_, &error_);
    OwnedList vis{{"DUZ-INSTANCE", "VIS"}};
    ASSERT_EQ(connect(vis), 0) << error_.text;
    EXPECT_EQ(oci_standin::journal().environments.back().nls_lang, "GERMAN_GERMANY.WE8ISO8859P1");
}

TEST_F(Lifecycle, ThreadsConnectingToAccountsWithDifferentNlsLangEachGetTheirOwn) {
    home.write_file("data/OEBS.dat", "NLS_LANG GERMAN_GERMANY.WE8ISO8859P1\n");
    constexpr int kConnects = 25;
    auto connect_repeatedly = [&](const char* account, bool* ok) {
        ZPAConnHandle connection{};
        connection.Attributes = connection_.Attributes;
        OwnedList request{{"DUZ-INSTANCE", account}};
        ZPAAttrList* list = request.list();
        for (int i = 0; i < kConnects; ++i) {
            ZPAError error{};
            if (ZPAAPI_Connect(&backend_, &connection, list, &error) != 0 || connection.UserData == nullptr)
                *ok = false;
            ZPAAPI_Disconnect(&connection, &error);
        }
    };
    bool prod_ok = true, vis_ok = true;
    std::thread prod(connect_repeatedly, "PROD", &prod_ok);
    std::thread vis(connect_repeatedly, "VIS", &vis_ok);
    prod.join();
    vis.join();
    EXPECT_TRUE(prod_ok && vis_ok);
    const auto journal = oci_standin::journal();
    ASSERT_EQ(journal.logons.size(), 2u * kConnects);
    for (const auto& logon : journal.logons)
        EXPECT_EQ(logon.nls_lang, logon.connect == "PROD" ? "AMERICAN_AMERICA.UTF8" : "GERMAN_GERMANY.WE8ISO8859P1")
            << logon.connect;
}

TEST_F(Lifecycle, TrackingConnectionKeepsOneSessionPerDatabase) {
    OwnedList vis{{"REQTYPE", "TRACK"}, {"DUZ-INSTANCE", "VIS"}};
    OwnedList prod{{"REQTYPE", "TRACK"}, {"DUZ-INSTANCE", "PROD"}};
    ASSERT_EQ(connect(vis), 0) << error_.text;
    ASSERT_EQ(user_data_type(), BE_DUZ_CONNECTION_LIST);
    void* list = connection_.UserData;

    ASSERT_EQ(connect(prod, false), 0) << error_.text;  // the plug-in's own reconnection
    ASSERT_EQ(connect(vis, false), 0) << error_.text;   // VIS is already open
    EXPECT_EQ(connection_.UserData, list);
    EXPECT_EQ(logons(), 2u);
    auto* sessions = static_cast<BE_DUZ_ConnectionList*>(list);
    EXPECT_EQ(ZPALIST_count(sessions->connectionList), 2);
    char vis_sid[] = "VIS", prod_sid[] = "PROD";
    EXPECT_NE(BE_DUZ_find_connection(sessions, vis_sid), nullptr);
    EXPECT_NE(BE_DUZ_find_connection(sessions, prod_sid), nullptr);

    // A new connection of the agent starts afresh with its own list.
    ZPAConnHandle second = connection_;
    second.UserData = nullptr;
    ASSERT_EQ(ZPAAPI_Connect(&backend_, &second, prod.list(), &error_), 0);
    EXPECT_NE(second.UserData, list);
    EXPECT_EQ(ZPAAPI_Disconnect(&second, &error_), 0);
}

TEST_F(Lifecycle, DisconnectFreesEverythingTheConnectionHeld) {
    OwnedList vis{{"REQTYPE", "TRACK"}, {"DUZ-INSTANCE", "VIS"}};
    OwnedList prod{{"REQTYPE", "TRACK"}, {"DUZ-INSTANCE", "PROD"}};
    ASSERT_EQ(connect(vis), 0);
    ASSERT_EQ(connect(prod, false), 0);
    EXPECT_GT(oci_standin::live_handles(), 0u);
    EXPECT_EQ(ZPAAPI_Disconnect(&connection_, &error_), 0);
    EXPECT_EQ(connection_.UserData, nullptr);
    EXPECT_EQ(oci_standin::live_handles(), 0u);

    OwnedList job{{"DUZ-INSTANCE", "VIS"}};
    ASSERT_EQ(connect(job), 0);
    EXPECT_EQ(ZPAAPI_Disconnect(&connection_, &error_), 0);
    EXPECT_EQ(oci_standin::live_handles(), 0u);
    EXPECT_EQ(ZPAAPI_Disconnect(&connection_, &error_), 0);  // nothing left to close
}

TEST_F(Lifecycle, SessionRefusedByTheDatabaseIsRecordedForTheJob) {
    OwnedList job{{"REQTYPE", "SUBMIT"}, {"DUZ-INSTANCE", "LOCKED"}, {"ORDERNO", "00a1b"}, {"RUNNO", "26"}};
    ASSERT_EQ(connect(job), 0);
    EXPECT_EQ(connection_.UserData, nullptr);
    EXPECT_EQ(error_.code, 28000u);
    char message[BE_JOB_FAILURE_MSG_SIZE] = "";
    ASSERT_EQ(be_job_find_in_jobs_failure_file("00A1B", "26", message), 0);
    EXPECT_EQ(std::string(message).rfind("28000 - ", 0), 0u) << message;
    EXPECT_NE(std::string(message).find("the account is locked"), std::string::npos) << message;
    EXPECT_EQ(oci_standin::live_handles(), 0u);

    OwnedList no_job{{"DUZ-INSTANCE", "LOCKED"}};
    std::filesystem::remove("cm/DUZ/data/jobs_failure_table.dat");
    ASSERT_EQ(connect(no_job), 0);
    EXPECT_EQ(error_.code, 28000u);
    EXPECT_FALSE(home.exists("cm/DUZ/data/jobs_failure_table.dat"));
}

TEST_F(Lifecycle, ConnectFailuresOfThePluginsOwn) {
    const std::string long_name(64, 'A');
    struct Case {
        const char* what;
        const char* drop;  // connection attribute left out, or ""
        OwnedList request;
        ZPARC rc;
        ZPAErrorCode code;
        const char* text;
    } cases[] = {
        {"no library name", "CM_LIB_NAME", OwnedList{{"DUZ-INSTANCE", "VIS"}}, 1, 1, "Failed to get CM_LIB_NAME."},
        {"no library folder", "CM_DIR", OwnedList{{"DUZ-INSTANCE", "VIS"}}, 2, 2, "Failed to get CM_DIR."},
        {"no Oracle home", "ORACLE_HOME", OwnedList{{"DUZ-INSTANCE", "VIS"}}, 1, 2, "Failed to read 'ORACLE_HOME'"},
        {"documentation view", "", OwnedList{{"REQTYPE", "JCLDOC"}, {"TASKTYPE", "D"}}, 1, 1,
         "View documentation is implemented by CM OS."},
        {"no account name", "", OwnedList{{"REQTYPE", "SUBMIT"}}, 1, 1, "keyword DUZ-INSTANCE not found"},
        {"unknown account", "", OwnedList{{"DUZ-INSTANCE", "NOPE"}}, 1, 1,
         "Failed to load account 'NOPE' from file ./data/DUZ_inst.dat"},
        {"account without SID", "", OwnedList{{"DUZ-INSTANCE", "NOSID"}}, 1, 1,
         "'DB_SID value wasn't found so no tracking for this job."},
        {"account name too long", "", OwnedList{{"DUZ-INSTANCE", long_name.c_str()}}, 1, 1,
         "Account name 'AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA...' is longer than 63 characters"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        OwnedList attrs{{"CM_LIB_NAME", "DUZ"}, {"CM_DIR", cm_dir_.c_str()}, {"ORACLE_HOME", "/opt/oracle/client"}};
        ZPAAttrList* list = attrs.list();
        for (int i = 0; i < list->Count; ++i)
            if (std::strcmp(list->Attributes[i].Name, c.drop) == 0) list->Attributes[i].Name = const_cast<char*>("X");
        connection_.Attributes = *list;
        EXPECT_EQ(connect(c.request), c.rc);
        EXPECT_EQ(error_.code, c.code);
        EXPECT_EQ(std::string(error_.text), std::string("CM for OEBS: ") + c.text);
        EXPECT_EQ(connection_.UserData, nullptr);
    }
    EXPECT_EQ(logons(), 0u);
    connection_.Attributes = *connection_attrs_->list();
}

TEST_F(Lifecycle, LibraryThatCannotBeAttachedIsTriedAgainNextTime) {
    std::filesystem::rename("cm/lib_DUZ.so", "cm/lib_DUZ.so.away");
    OwnedList job{{"DUZ-INSTANCE", "VIS"}};
    EXPECT_EQ(connect(job), 1);
    EXPECT_STREQ(error_.text, "CM for OEBS: Failed to re-attach cm library.");
    std::filesystem::rename("cm/lib_DUZ.so.away", "cm/lib_DUZ.so");
    EXPECT_EQ(connect(job), 0) << error_.text;
}

TEST_F(Lifecycle, AccountNameSearchOrder) {
    home.write_file("procid/ORD3_3.DAT", std::string("DUZ-INSTANCE") + std::string(52, ' ') + "  FROMPROCID\n");
    home.write_file("data/DUZ_inst.dat", kAccounts);
    struct Case {
        OwnedList request;
        ZPARC rc;
        const char* name;
    } cases[] = {
        {OwnedList{{"DUZ-INSTANCE", "ATTR"}, {"SHOUT_DESTINATION", "S:x"}}, 0, "ATTR"},
        {OwnedList{{"TEXT", "<UVSCM><HEADER/><BODY><DUZ-INSTANCE>XMLACC</DUZ-INSTANCE></BODY></UVSCM>"}}, 0, "XMLACC"},
        {OwnedList{{"TEXT", ""}, {"SHOUT_DESTINATION", "S:x"}}, 0, ""},
        {OwnedList{{"TEXT", "<UVSCM><BODY/></UVSCM>"}, {"SHOUT_DESTINATION", "SHOUTACC:user:x"}}, 0, "SHOUTACC"},
        {OwnedList{{"SHOUT_DESTINATION", "NOCOLON"}, {"ORDERNO", "ORD3"}, {"RUNNO", "3"}}, 1, ""},
        {OwnedList{{"ORDERNO", "ORD3"}, {"RUNNO", "3"}}, 0, "FROMPROCID"},
        {OwnedList{{"ORDERNO", "X"}, {"RUNNO", "0"}, {"MEMLIB", "ORD3"}, {"MEMNAME", "3"}}, 0, "FROMPROCID"},
        {OwnedList{{"ORDERNO", "X"}, {"RUNNO", "0"}, {"MEMLIB", "ORD3"}, {"MEMNAME", "0"}}, 1, ""},
        {OwnedList{{"ORDERNO", "ORD4"}, {"RUNNO", "1"}}, 1, ""},
        {OwnedList{{"RUNNO", "1"}}, 1, ""},
    };
    int index = 0;
    for (Case& c : cases) {
        SCOPED_TRACE(index++);
        char name[BE_DUZ_INSTANCE_NAME_SIZE] = "";
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_find_instance(c.request.list(), name, &error), c.rc);
        EXPECT_STREQ(name, c.name);
    }
}

TEST_F(Lifecycle, AccountNameFromTheBackupFileOfAJob) {
    char backup[sizeof(PATHNAME_D_typ)] = "";
    BE_DUZ_build_backup_fname(backup, "ORD5", "2");
    home.write_file(backup, "%%DUZ-INSTANCE   FROMBACKUP\n");
    OwnedList request{{"ORDERNO", "ORD5"}, {"RUNNO", "2"}};
    char name[BE_DUZ_INSTANCE_NAME_SIZE] = "";
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_find_instance(request.list(), name, &error), 0);
    EXPECT_STREQ(name, "FROMBACKUP");
}

TEST_F(Lifecycle, LogNameFollowsTheRequest) {
    struct Case {
        OwnedList request;
        const char* name;
    } cases[] = {
        {OwnedList{{"REQTYPE", "TRACK"}}, "AT"},
        {OwnedList{{"REQTYPE", "EVENT"}}, "AT"},
        {OwnedList{{"REQTYPE", "TRACK_INIT"}}, "AT"},
        {OwnedList{{"REQTYPE", "TRACK"}, {"SYSKEEPDAYS", "3"}}, "Oebs_CM"},
        {OwnedList{{"REQTYPE", "SUBMIT"}}, "Oebs_CM"},
        {OwnedList{{"REQTYPE", "track"}}, "Oebs_CM"},
        {OwnedList{{"ORDERNO", "A"}}, "Oebs_CM"},
    };
    for (Case& c : cases) {
        const char* name = nullptr;
        BE_DUZ_get_logname(c.request.list(), &name);
        EXPECT_STREQ(name, c.name);
    }
}

TEST_F(Lifecycle, FirstConnectionFixesTheProcessLog) {
    home.write_file("data/CONFIG.dat", "DBGLVL 4\n");
    OwnedList track{{"REQTYPE", "TRACK"}, {"DUZ-INSTANCE", "VIS"}};
    ASSERT_EQ(connect(track), 0);
    OwnedList submit{{"REQTYPE", "SUBMIT"}, {"DUZ-INSTANCE", "VIS"}};
    ZPAAPI_Disconnect(&connection_, &error_);
    ASSERT_EQ(connect(submit), 0);
    EXPECT_EQ(DIAG_debug_level(), 4);
    EXPECT_NE(testbed::read_diag_log("AT").find("Starting: 'ZPAAPI_Connect'"), std::string::npos);
    EXPECT_EQ(testbed::read_diag_log("Oebs_CM"), "");
}

TEST_F(Lifecycle, SessionForANamedAccountTakesItsEnvironmentFromTableOebs) {
    home.write_file("data/OEBS.dat", "ORACLE_HOME /u01/client\nNLS_LANG AMERICAN_AMERICA.AL32UTF8\n");
    BE_DUZ_Handles* session = nullptr;
    ZPAError error{};
    char prod[] = "PROD";
    ASSERT_EQ(BE_DUZ_connect_to_OEBS(prod, &session, &error), 0) << error.text;
    ASSERT_NE(session, nullptr);
    const auto environment = oci_standin::journal().environments.back();
    EXPECT_EQ(environment.oracle_home, "/u01/client");
    EXPECT_EQ(environment.tns_admin, "");
    EXPECT_EQ(environment.nls_lang, "AMERICAN_AMERICA.AL32UTF8");  // not the account's own

    char missing[] = "NOPE";
    EXPECT_NE(BE_DUZ_connect_to_OEBS(missing, &session, &error), 0);
    EXPECT_EQ(session, nullptr);  // the earlier session was closed first
    EXPECT_STREQ(error.text, "CM for OEBS: Failed to load account 'NOPE' from file ./data/DUZ_inst.dat");
    EXPECT_EQ(oci_standin::live_handles(), 0u);
}

TEST_F(Lifecycle, VersionBannerIsCutToTheBuffer) {
    char small[10];
    OEBS_version(small, sizeof small);
    EXPECT_STREQ(small, "ORV for O");
    char whole[128];
    OEBS_version(whole, sizeof whole);
    EXPECT_STREQ(whole, "ORV for Oracle E-Business Suite 9.0.21.000 - Patch 1 - December 2025 ");
    EXPECT_EQ(std::strlen(whole), 69u);
    ZPAError error{};
    EXPECT_EQ(ZPAAPI_Init(&backend_, nullptr, &error), ZPA_SUCCESS);
}

TEST_F(Lifecycle, ChildReapingHandlerLogsEachChildAtLevelFour) {
    DIAG_set_debug_level(4);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(0);
    for (int i = 0; i < 200 && home.read_file("proclog/signal").empty(); ++i) {
        sigChldHandler(SIGCHLD);
        usleep(10000);
    }
    EXPECT_EQ(home.read_file("proclog/signal"), "Child " + std::to_string(child) + " has terminated\n");
    EXPECT_EQ(waitpid(child, nullptr, WNOHANG), -1);  // already reaped
}

}  // namespace
