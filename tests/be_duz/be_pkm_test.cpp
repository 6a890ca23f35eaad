// Configuration-manager requests through the list entry points: the dispatch and answer forms, the
// external request manager, the account requests with their passwords and the watch-times file,
// the watcher settings requests, the name lists, and the database package install.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "be_event_watcher.h"
#include "passwords_fixture.h"
#include "standin.h"

namespace {

constexpr const char* kTimesPath = "cm/DUZ/data/event_watch_times.dat";
constexpr const char* kSettingsPath = "cm/DUZ/data/event_cfg.dat";

std::string question(const std::string& action, const std::string& body) {
    return "<?xml version='1.0'?><UVSCM><HEADER><ACTION>" + action + "</ACTION></HEADER><BODY>" + body +
           "</BODY></UVSCM>";
}

std::string account_body(const std::string& name, const std::string& password, const std::string& login = "APPS",
                         const std::string& load_dbpkg = "N") {
    std::string body = "<AccountName>" + name + "</AccountName><DBServiceName>VIS</DBServiceName>";
    if (!login.empty()) body += "<APPSLoginName>" + login + "</APPSLoginName>";
    return body + "<APPSPassword>" + password + "</APPSPassword><NLSLanguage>AMERICAN</NLSLanguage>" +
           "<EnableLogOutput>" + load_dbpkg + "</EnableLogOutput><AppendLog>Y</AppendLog>" +
           "<AppendOutput>N</AppendOutput><ConvertWarningToOK>N</ConvertWarningToOK>" +
           "<MonitorChildReq>Y</MonitorChildReq><JobCompDependChild>N</JobCompDependChild>";
}

// The text between <tag> and </tag>.
std::string inner(const std::string& text, const std::string& tag) {
    const std::size_t open = text.find("<" + tag + ">");
    const std::size_t close = text.find("</" + tag + ">");
    if (open == std::string::npos || close == std::string::npos) return "<none>";
    return text.substr(open + tag.size() + 2, close - open - tag.size() - 2);
}

class PkmTest : public pwtest::PasswordsTest {
protected:
    void SetUp() override {
        PasswordsTest::SetUp();
        oci_standin::reset();
        home.write_file(kTimesPath, "");
        home.write_file("data/CONFIG.dat", "AGENT_DIR " + home.path() + "\n");
        home.write_file("data/OEBS.dat", "CM_DIR " + home.path() + "/cm/DUZ/bin\nORACLE_HOME " + home.path() +
                                             "/oracle\nTNS_ADMIN /opt/tns\n");
    }
    void TearDown() override {
        PasswordsTest::TearDown();
        GM_PARAM_subtable_clear();
        oci_standin::reset();
    }

    // Opens the request through the list entry point and reads its whole answer.
    std::string ask(const std::string& action, const std::string& body, ZPARC* rc = nullptr) {
        err = ZPAError{};
        const std::string text = question(action, body);
        pwtest::Attrs in{{"TEXT", text}};
        void* handle = nullptr;
        ZPAConnHandle connection{};
        const ZPARC opened = ZPAAPI_LIST_DATA_OPEN(&connection, &handle, &in.list, &err);
        if (rc != nullptr) *rc = opened;
        if (opened != ZPA_SUCCESS) return "<open failed: " + std::string(err.text) + ">";
        std::string answer;
        std::string slot(1000, '#');
        pwtest::Attrs out{{"TEXT", slot}};
        pwtest::Attrs navigate{{"NAVIGATE", "NEXT"}};
        ZPAError read_error{};
        for (ZPARC r = ZPA_SUCCESS; r == ZPA_SUCCESS;) {
            r = ZPAAPI_LIST_DATA_READ(&connection, handle, &navigate.list, &out.list, &read_error);
            if (r == ZPA_FAIL) return "<read failed: " + std::string(read_error.text) + ">";
            answer += out.list.Attributes[0].Value;
        }
        ZPAAPI_LIST_DATA_CLOSE(&connection, handle, nullptr, &read_error);
        return answer;
    }

    // A password as the configuration manager sends it: global-key cipher text without the prefix.
    std::string sent_password(const std::string& plain) {
        std::string text = encrypted(plain, GLOBAL);
        char buffer[BE_DUZ_PASSWORD_SIZE] = {};
        std::snprintf(buffer, sizeof buffer, "%s", text.c_str());
        BE_DUZ_remove_prefix(buffer);
        return buffer;
    }

    // Places a copy of a stand-in program with its fixture beside it.
    void place_program(const std::string& name, const std::string& relative, const std::string& fixture) {
        const std::string target = home.path() + "/" + relative;
        std::filesystem::create_directories(std::filesystem::path(target).parent_path());
        std::filesystem::copy_file(std::string(APPBRIDGE_AGENT_UTIL_DIR) + "/" + name, target,
                                   std::filesystem::copy_options::overwrite_existing);
        home.write_file(relative + ".fixture", fixture);
    }
    std::string program_log(const std::string& relative) {
        return home.exists(relative + ".log") ? home.read_file(relative + ".log") : "";
    }
};

// ------------------------------------------------------------------------------------------------
// Dispatch and forms

TEST_F(PkmTest, NamesAreComparedExactlyAndAnswerFormsFollowTheErrorRecord) {
    ZPARC rc = ZPA_SUCCESS;
    EXPECT_EQ(ask("orvcm_get_accounts_request", "", &rc),
              "<open failed: CM for OEBS: Unknown request: orvcm_get_accounts_request >");
    EXPECT_EQ(rc, ZPA_FAIL);

    char response[BE_DUZ_PKM_NAME_SIZE] = "";
    BE_DUZ_PKM_request_to_response(const_cast<char*>("Orvcm_add_account_request"), response);
    EXPECT_STREQ(response, "Orvcm_add_account_response");

    BE_DUZ_xmldata_handle handle{};
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_PKM_prepare_xml_response(&handle, const_cast<char*>("<X>1</X>"), &error, const_cast<char*>("m"),
                                              const_cast<char*>("OEBS7000"), const_cast<char*>("Orvoebs_x_request")),
              0);
    EXPECT_STREQ(handle.xmlResponse, "<Orvoebs_x_response><X>1</X></Orvoebs_x_response>");
    // A text already in the record makes any answer the failure form (escaped).
    ZPAAPI_UTILS_ErrorSet(&error, 5, "%s", "earlier <failure> & more");
    ASSERT_EQ(BE_DUZ_PKM_prepare_xml_response(&handle, const_cast<char*>("<X>1</X>"), &error,
                                              const_cast<char*>("Add a<b Failed."), const_cast<char*>("OEBS7012"),
                                              const_cast<char*>("Orvcm_add_account_request")),
              0);
    EXPECT_STREQ(handle.xmlResponse,
                 "<Error><Code>OEBS7012</Code><Message>Add a&lt;b Failed.</Message><Source>CM_OEBS</Source>"
                 "<Severity>E</Severity><ExtendedMessage>earlier &lt;failure&gt; &amp; more</ExtendedMessage></Error>");
    std::free(handle.xmlResponse);
}

TEST_F(PkmTest, PluginVersionCheck) {
    struct Case {
        const char* request;
        int valid;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"<x><PluginVersion>9021</PluginVersion></x>", 1, ""},
        {"<PLUGINVERSION>9100.5</PLUGINVERSION>", 1, ""},
        {"<PLUGINVERSION>9000.5</PLUGINVERSION>", 0,
         "CM for OEBS: PKM CM for OEBS Plugin version, 9000.500, is not compatible with CM for OEBS version, 9021.000."},
        {"<PLUGINVERSION>abc</PLUGINVERSION>", 0,
         "CM for OEBS: PKM CM for OEBS Plugin version, 6401.000, is not compatible with CM for OEBS version, 9021.000."},
        {"<NONE/>", 0,
         "CM for OEBS: PKM CM for OEBS Plugin version, 6401.000, is not compatible with CM for OEBS version, 9021.000."},
    };
    for (const Case& c : cases) {
        ZPAError error{};
        std::string request = c.request;
        EXPECT_EQ(BE_DUZ_PKM_checkIfPluginVersionIsValid(request.data(), &error), c.valid) << c.request;
        EXPECT_STREQ(error.text, c.message) << c.request;
    }
}

// ------------------------------------------------------------------------------------------------
// External request manager

TEST_F(PkmTest, RequestManagerAnswerIsTheDocumentBetweenTheMarkers) {
    struct Case {
        const char* fixture;
        std::string answer;  // empty: the request fails
    };
    const std::vector<Case> cases = {
        {"[pkmreqmanager]\nout: junk before <?xml version='1.0'?><UVSCM><R>ok</R></UVSCM> junk after\nexit: 3\n",
         "<?xml version='1.0'?><UVSCM><R>ok</R></UVSCM>"},
        {"[pkmreqmanager]\nout: no document at all\n", ""},
    };
    for (const Case& c : cases) {
        place_program("pkmreqmanager", "cm/DUZ/bin/pkmreqmanager", c.fixture);
        ZPARC rc = ZPA_SUCCESS;
        const std::string answer = ask("Orvoebs_get_ew_rules_request", "<AccountName>VIS</AccountName>", &rc);
        if (c.answer.empty()) {
            EXPECT_EQ(rc, ZPA_FAIL) << c.fixture << answer;
        } else {
            EXPECT_EQ(answer, c.answer) << c.fixture;
        }
    }
    // The request file holds the whole request; both files stay in proclog.
    const std::string pid = std::to_string(getpid());
    EXPECT_EQ(home.read_file("proclog/Orvoebs_get_ew_rules_request_" + pid + ".xml"),
              question("Orvoebs_get_ew_rules_request", "<AccountName>VIS</AccountName>"));
    EXPECT_TRUE(home.exists("proclog/Orvoebs_get_ew_rules_request_response_" + pid + ".xml"));
    // Run as root (as these tests are), the manager goes through su with the request file as its argument.
    const std::string calls = program_log("cm/DUZ/bin/pkmreqmanager");
    EXPECT_NE(calls.find("pkmreqmanager " + home.path() + "/proclog/Orvoebs_get_ew_rules_request_" + pid + ".xml"),
              std::string::npos)
        << calls;
}

TEST_F(PkmTest, RequestManagerRunsDirectlyWhenNotRoot) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to drop privileges in a child";
    place_program("pkmreqmanager", "cm/DUZ/bin/pkmreqmanager",
                  "[pkmreqmanager]\nout: <?xml version='1.0'?><UVSCM><R>direct</R></UVSCM>\n");
    // A manager ended by a signal fails the request (through su its end would be an exit code).
    place_program("pkmreqmanager", "killed/pkmreqmanager",
                  "[pkmreqmanager]\nout: <?xml version='1.0'?><UVSCM></UVSCM>\nsignal: 9\n");
    for (const char* dir : {"", "/cm", "/cm/DUZ", "/cm/DUZ/bin", "/proclog", "/killed"})
        ::chmod((home.path() + dir).c_str(), 0777);
    home.write_file("proclog/request.xml", "<x/>");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
        const std::string script = home.path() + "/cm/DUZ/bin/pkmreqmanager";
        const std::string request = home.path() + "/proclog/request.xml";
        const std::string response = home.path() + "/proclog/response.xml";
        const std::string killed = home.path() + "/killed/pkmreqmanager";
        const std::string killed_response = home.path() + "/proclog/killed.xml";
        char failure[BE_DUZ_PKM_ERROR_SIZE] = "";
        int outcome =
            BE_DUZ_PKM_handle_java_process(const_cast<char*>(script.c_str()), const_cast<char*>(request.c_str()),
                                           const_cast<char*>(response.c_str()), failure) == 0
                ? 0
                : 1;
        if (BE_DUZ_PKM_handle_java_process(const_cast<char*>(killed.c_str()), const_cast<char*>(request.c_str()),
                                           const_cast<char*>(killed_response.c_str()), failure) != 1)
            outcome |= 2;
        _exit(outcome);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(home.read_file("proclog/response.xml"), "<?xml version='1.0'?><UVSCM><R>direct</R></UVSCM>\n");
    EXPECT_NE(program_log("cm/DUZ/bin/pkmreqmanager").find("pkmreqmanager " + home.path() + "/proclog/request.xml"),
              std::string::npos);
}

TEST_F(PkmTest, ItsFilesAreNeverWrittenOrReadThroughALinkAtTheirNames) {
    // A root-owned file that a link at each foreseeable name points at; it holds a document, so
    // that an answer read through a link would show it.
    const std::string victim = home.path() + "/victim";
    home.write_file("victim", "<?xml version='1.0'?><UVSCM><R>root's own</R></UVSCM>\n");
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    const auto victim_state = [&] {
        struct stat status {};
        ::lstat(victim.c_str(), &status);
        return std::to_string(status.st_mode) + " " + std::to_string(status.st_uid) + " " + home.read_file("victim");
    };
    const std::string pid = std::to_string(getpid());
    const std::string request = "proclog/Orvoebs_get_ew_rules_request_" + pid + ".xml";
    const std::string response = "proclog/Orvoebs_get_ew_rules_request_response_" + pid + ".xml";
    const auto ask_rules = [&] {
        place_program("pkmreqmanager", "cm/DUZ/bin/pkmreqmanager",
                      "[pkmreqmanager]\nout: <?xml version='1.0'?><UVSCM><R>ok</R></UVSCM>\n");
        return ask("Orvoebs_get_ew_rules_request", "<AccountName>VIS</AccountName>");
    };
    // A manager that puts a link to the victim in place of its response file once it runs.
    const auto ask_swapping_manager = [&] {
        home.write_file("cm/DUZ/bin/pkmreqmanager",
                        "#!/bin/sh\nr=\"$1\"\nln -sf '" + victim +
                            "' \"${r%_*}_response_${r##*_}\"\necho \"<?xml version='1.0'?><UVSCM/>\"\n");
        ::chmod((home.path() + "/cm/DUZ/bin/pkmreqmanager").c_str(), 0755);
        return ask("Orvoebs_get_ew_rules_request", "<AccountName>VIS</AccountName>");
    };
    const auto install_package = [&] {
        place_program("sqlplus", "oracle/bin/sqlplus", "[sqlplus]\nstdin:\nout: Package created.\n");
        home.write_file("data/DUZ_inst.dat", "");
        return ask("Orvcm_add_account_request", account_body("PROD", sent_password("pw9"), "APPS", "Y"));
    };
    struct Case {
        const char* what;
        std::string name;                   // where the link is planted
        std::function<std::string()> call;  // the answer
        std::string answer_holds;
        bool made;  // the call leaves a regular file of its own at the name
    };
    const Case cases[] = {
        {"request file", request, ask_rules, "<R>ok</R>", true},
        {"response file", response, ask_rules, "<R>ok</R>", true},
        {"response file that the manager links", response, ask_swapping_manager, "<open failed", false},
        {"package log", "proclog/qel_package.log", install_package, "<Orvcm_add_account_response>", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(home.path() + "/" + c.name);
        ASSERT_EQ(::symlink(victim.c_str(), (home.path() + "/" + c.name).c_str()), 0);
        const std::string before = victim_state();
        const std::string answer = c.call();
        EXPECT_NE(answer.find(c.answer_holds), std::string::npos) << answer;
        EXPECT_EQ(answer.find("root's own"), std::string::npos) << answer;
        EXPECT_EQ(victim_state(), before);
        struct stat status {};
        EXPECT_EQ(::lstat((home.path() + "/" + c.name).c_str(), &status) == 0 && S_ISREG(status.st_mode), c.made);
        std::filesystem::remove(home.path() + "/" + c.name);
    }
}

// ------------------------------------------------------------------------------------------------
// Accounts

TEST_F(PkmTest, AddStoresTheLocalKeyAndTheListAnswersTheGlobalKeyWithoutPrefix) {
    home.write_file("data/DUZ_inst.dat", "");
    const std::string sent = sent_password("s3cret");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(6);
    const std::string answer = ask("Orvcm_add_account_request", account_body("PROD", sent));
    EXPECT_EQ(answer, "<Orvcm_add_account_response></Orvcm_add_account_response>");
    pwtest::Sections file;
    ASSERT_TRUE(file.load("data/DUZ_inst.dat"));
    const std::string stored = file.get("PROD", "DB_PASSWD");
    EXPECT_EQ(stored.rfind(BE_DUZ_LOCAL_PREFIX, 0), 0u) << stored;
    EXPECT_EQ(decrypted(stored), "s3cret");
    EXPECT_EQ(file.get("PROD", "DB_LOGIN"), "APPS");
    EXPECT_EQ(file.get("PROD", "CM_APPL_TYPE"), "OEBS");
    EXPECT_EQ(file.get("PROD", "DUZ-WAITCHILD"), "Y");
    EXPECT_NE(home.read_file(kTimesPath).find("[PROD]"), std::string::npos);

    const std::string list = ask("Orvcm_get_accounts_request", "");
    const std::string password = inner(list, "APPSPassword");
    EXPECT_NE(password.front(), '!') << list;
    EXPECT_EQ(decrypted(password, GLOBAL), "s3cret");
    EXPECT_NE(list.find("<Orvcm_get_accounts_response><Accounts><AccountName>PROD</AccountName><DBServiceName>VIS"
                        "</DBServiceName><APPSLoginName>APPS</APPSLoginName>"),
              std::string::npos)
        << list;
    EXPECT_NE(
        list.find("<NLSLanguage>AMERICAN</NLSLanguage><NLSChar></NLSChar><EnableLogOutput>N</EnableLogOutput>"
                  "<AppendLog>Y</AppendLog><AppendOutput>N</AppendOutput><ConvertWarningToOK>N</ConvertWarningToOK>"
                  "<MonitorChildReq>Y</MonitorChildReq><JobCompDependChild>N</JobCompDependChild></Accounts>"
                  "<CMVersion>9021.000</CMVersion><SecureAlg>aes</SecureAlg></Orvcm_get_accounts_response>"),
        std::string::npos)
        << list;
    // Neither the password nor its forms reach the diagnostic log, even at debug level 6.
    const std::string log = testbed::read_diag_log("Oebs_CM");
    EXPECT_NE(log.find("Orvcm_get_accounts_request"), std::string::npos);
    for (const std::string& secret : {std::string("s3cret"), sent, stored, password})
        EXPECT_EQ(log.find(secret), std::string::npos)
            << secret << log.substr(log.find(secret) > 300 ? log.find(secret) - 300 : 0, 400);
}

TEST_F(PkmTest, AccountRequestFailuresAnswerTheFailureForm) {
    home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\n");
    const std::string before = home.read_file("data/DUZ_inst.dat");
    const std::string no_login = ask("Orvcm_add_account_request", account_body("PROD", sent_password("x"), ""));
    EXPECT_EQ(inner(no_login, "Code"), "OEBS7012");
    EXPECT_EQ(inner(no_login, "Message"), "Add Connection Profile PROD Failed.");
    EXPECT_EQ(inner(no_login, "ExtendedMessage"), "CM for OEBS: Failed to set key DB_LOGIN for account PROD table");
    EXPECT_EQ(home.read_file("data/DUZ_inst.dat"), before);

    const std::string no_old = ask("Orvcm_update_account_request",
                                   "<AccountToUpdate>NONE</AccountToUpdate>" + account_body("NEW", sent_password("x")));
    EXPECT_EQ(inner(no_old, "Code"), "OEBS7015");
    EXPECT_EQ(inner(no_old, "ExtendedMessage"), "CM for OEBS: Delete of NONE sublist failed");
    EXPECT_EQ(home.read_file("data/DUZ_inst.dat"), before);

    std::remove("data/DUZ_inst.dat");
    EXPECT_EQ(inner(ask("Orvcm_get_accounts_request", ""), "Code"), "OEBS7011");
    EXPECT_EQ(inner(ask("Orvcm_add_account_request", account_body("PROD", sent_password("x"))), "Code"), "OEBS7012");
    EXPECT_FALSE(home.exists("data/DUZ_inst.dat"));
}

TEST_F(PkmTest, RenameAndDeleteKeepTheAccountsAndWatchTimesFilesInStep) {
    home.write_file("data/DUZ_inst.dat", "");
    ask("Orvcm_add_account_request", account_body("PROD", sent_password("p")));
    ask("Orvcm_add_account_request", account_body("TEST", sent_password("t")));
    EXPECT_EQ(ask("Orvcm_update_account_request",
                  "<AccountToUpdate>PROD</AccountToUpdate>" + account_body("LIVE", sent_password("p2"))),
              "<Orvcm_update_account_response></Orvcm_update_account_response>");
    {
        pwtest::Sections accounts, times;
        ASSERT_TRUE(accounts.load("data/DUZ_inst.dat"));
        ASSERT_TRUE(times.load(kTimesPath));
        EXPECT_EQ(accounts.get("PROD", "DB_SID"), "<missing>");
        EXPECT_EQ(decrypted(accounts.get("LIVE", "DB_PASSWD")), "p2");
        EXPECT_EQ(times.get("PROD", "LAST_WATCHING_TIME"), "<missing>");
        EXPECT_EQ(times.get("LIVE", "LAST_WATCHING_TIME"), "ACTIVATION");
    }
    EXPECT_EQ(ask("Orvcm_delete_account_request", "<AccountToDelete>TEST</AccountToDelete>"),
              "<Orvcm_delete_account_response></Orvcm_delete_account_response>");
    pwtest::Sections accounts, times;
    ASSERT_TRUE(accounts.load("data/DUZ_inst.dat"));
    ASSERT_TRUE(times.load(kTimesPath));
    EXPECT_EQ(accounts.get("TEST", "DB_SID"), "<missing>");
    EXPECT_EQ(times.get("TEST", "LAST_WATCHING_TIME"), "<missing>");
    EXPECT_EQ(accounts.get("LIVE", "DB_SID"), "VIS");
    const std::string absent = ask("Orvcm_delete_account_request", "<AccountToDelete>TEST</AccountToDelete>");
    EXPECT_EQ(inner(absent, "Code"), "OEBS7013");
    EXPECT_EQ(inner(absent, "Message"), "Delete Connection Profile TEST Failed.");
}

TEST_F(PkmTest, FieldsTheFilesCannotHoldAreRefusedAndChangeNoFile) {
    home.write_file("data/DUZ_inst.dat", "");
    ask("Orvcm_add_account_request", account_body("PROD", sent_password("p")));
    ask("Orvcm_add_account_request", account_body("TEST", sent_password("t")));
    const std::string accounts = home.read_file("data/DUZ_inst.dat");
    const std::string times = home.read_file(kTimesPath);
    auto with = [](std::string body, const std::string& from, const std::string& to) {
        return body.replace(body.find(from), from.size(), to);
    };
    const std::string test = account_body("TEST", sent_password("t"));
    const struct {
        const char* request;
        std::string body, code, reason;
    } cases[] = {
        {"Orvcm_add_account_request", with(test, "AMERICAN", "AMERICAN\n[PROD]\nDB_SID EVIL"), "OEBS7012",
         "NLSLanguage refused: a line break in its value"},
        {"Orvcm_add_account_request", with(test, ">VIS<", ">VIS\r<"), "OEBS7012",
         "DBServiceName refused: a line break in its value"},
        {"Orvcm_add_account_request", with(test, "<AppendLog>Y", "<AppendLog>Y\n[X]"), "OEBS7012",
         "AppendLog refused: a line break in its value"},
        {"Orvcm_add_account_request", account_body("NEW]\n[PROD", sent_password("x")), "OEBS7012",
         "AccountName refused: a bracket or line break in its name"},
        {"Orvcm_add_account_request", account_body("A]B", sent_password("x")), "OEBS7012",
         "AccountName refused: a bracket or line break in its name"},
        {"Orvcm_add_account_request", account_body("[NEW", sent_password("x")), "OEBS7012",
         "AccountName refused: a bracket or line break in its name"},
        {"Orvcm_add_account_request", account_body("MY ACC", sent_password("x")), "OEBS7012",
         "AccountName refused: a blank, tab, '=' or line feed in its name"},
        {"Orvcm_add_account_request", account_body(std::string(62, 'A'), sent_password("x")), "OEBS7012",
         "AccountName refused: a name longer than 61 characters"},
        {"Orvcm_update_account_request", "<AccountToUpdate>TEST</AccountToUpdate>" + with(test, "AMERICAN", "A\nB"),
         "OEBS7015", "NLSLanguage refused: a line break in its value"},
        {"Orvcm_update_account_request",
         "<AccountToUpdate>TEST</AccountToUpdate>" + account_body("LIVE\n[PROD", sent_password("x")), "OEBS7015",
         "AccountName refused: a bracket or line break in its name"},
        {"Orvcm_delete_account_request", "<AccountToDelete>TEST]\n[PROD</AccountToDelete>", "OEBS7013",
         "AccountToDelete refused: a bracket or line break in its name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const std::string answer = ask(c.request, c.body);
        EXPECT_EQ(inner(answer, "Code"), c.code) << answer;
        EXPECT_EQ(inner(answer, "ExtendedMessage"), "CM for OEBS: " + c.reason) << answer;
        EXPECT_EQ(home.read_file("data/DUZ_inst.dat"), accounts);
        EXPECT_EQ(home.read_file(kTimesPath), times);
    }
    const std::string list = ask("Orvcm_get_accounts_request", "");
    for (const std::string account : {"PROD", "TEST"})
        EXPECT_NE(list.find("<AccountName>" + account + "</AccountName><DBServiceName>VIS</DBServiceName>"),
                  std::string::npos)
            << list;
}

TEST_F(PkmTest, ValidateOpensASessionWithTheStoredOrTheSentAccount) {
    oci_standin::add_logon(oci_standin::logon("VIS", "APPS", "good"));
    home.write_file("data/DUZ_inst.dat", "");
    ask("Orvcm_add_account_request", account_body("PROD", sent_password("good")));
    ask("Orvcm_add_account_request", account_body("BAD", sent_password("wrong")));
    EXPECT_EQ(ask("Orvcm_validate_account_request", "<AccountName>PROD</AccountName>"),
              "<Orvcm_validate_account_response><Message>Validation for Connection Profile PROD completed "
              "successfully.</Message></Orvcm_validate_account_response>");
    const std::string refused = ask("Orvcm_validate_account_request", "<AccountName>BAD</AccountName>");
    EXPECT_EQ(inner(refused, "Code"), "OEBS7014");
    EXPECT_NE(inner(refused, "ExtendedMessage").find("ORA-01017"), std::string::npos) << refused;
    const std::string sent =
        ask("Orvcm_validate_account_request", "<AccountName>NEW</AccountName><AccountDetails>" +
                                                  account_body("NEW", sent_password("good")) + "</AccountDetails>");
    EXPECT_NE(sent.find("completed successfully"), std::string::npos) << sent;
    EXPECT_EQ(oci_standin::live_handles(), 0u);
}

// ------------------------------------------------------------------------------------------------
// Watcher settings and lists

TEST_F(PkmTest, SettingsRequests) {
    home.write_file(kSettingsPath,
                    "[GEN_EVENT_PARAMS]\nACTIVATE_EVENT_WATCHER N\nACTION_MAX_RETRY 3\nACTION_LOG Y\n"
                    "WATCHING_INTERVAL_TIME 30\n");
    const std::string failed = ask("Orvoebs_get_ew_config_request", "");
    EXPECT_EQ(inner(failed, "Code"), "OEBS7016");
    EXPECT_EQ(
        inner(failed, "ExtendedMessage"),
        "CM for OEBS: Could not load event watcher configuration parameters. Cannot find ALERT_MAX_OUTPUT parameter");

    home.write_file(kSettingsPath,
                    "[GEN_EVENT_PARAMS]\nACTIVATE_EVENT_WATCHER N\nACTION_MAX_RETRY 3\nACTION_LOG Y\n"
                    "WATCHING_INTERVAL_TIME 30\nALERT_MAX_OUTPUT 5\n");
    EXPECT_EQ(
        ask("Orvoebs_update_ew_config_request",
            "<ACTIVATE_EVENT_WATCHER>Y</ACTIVATE_EVENT_WATCHER><WATCHING_INTERVAL_TIME>60</WATCHING_INTERVAL_TIME>"),
        "<Orvoebs_update_ew_config_response></Orvoebs_update_ew_config_response>");
    EXPECT_EQ(
        ask("Orvoebs_get_ew_config_request", ""),
        "<Orvoebs_get_ew_config_response><ConfigurationParameters><ACTIVATE_EVENT_WATCHER>Y"
        "</ACTIVATE_EVENT_WATCHER><WATCHING_INTERVAL_TIME>60</WATCHING_INTERVAL_TIME><ACTION_MAX_RETRY>3"
        "</ACTION_MAX_RETRY><ACTION_LOG>Y</ACTION_LOG></ConfigurationParameters></Orvoebs_get_ew_config_response>");
    EW_cfg_file_params_type settings{};
    ZPAError error{};
    ASSERT_EQ(EW_load_new_event_config(&settings, &error), 0);
    EXPECT_EQ(settings.alert_max_output, 5);

    // Over-long values are refused with the file unchanged.
    const std::string before = home.read_file(kSettingsPath);
    EXPECT_EQ(inner(ask("Orvoebs_update_ew_config_request",
                        "<ACTIVATE_EVENT_WATCHER>YES</ACTIVATE_EVENT_WATCHER><WATCHING_INTERVAL_TIME>60"
                        "</WATCHING_INTERVAL_TIME>"),
                    "Code"),
              "OEBS7017");
    EXPECT_EQ(inner(ask("Orvoebs_update_ew_config_request",
                        "<ACTIVATE_EVENT_WATCHER>Y</ACTIVATE_EVENT_WATCHER><WATCHING_INTERVAL_TIME>12345"
                        "</WATCHING_INTERVAL_TIME>"),
                    "Code"),
              "OEBS7017");
    EXPECT_EQ(home.read_file(kSettingsPath), before);
    // So are values with a line break, which would start a row or a section of their own.
    for (const std::string& body : {std::string("<ACTIVATE_EVENT_WATCHER>\n</ACTIVATE_EVENT_WATCHER>"
                                                "<WATCHING_INTERVAL_TIME>60</WATCHING_INTERVAL_TIME>"),
                                    std::string("<ACTIVATE_EVENT_WATCHER>Y</ACTIVATE_EVENT_WATCHER>"
                                                "<WATCHING_INTERVAL_TIME>1\n[X</WATCHING_INTERVAL_TIME>")}) {
        const std::string answer = ask("Orvoebs_update_ew_config_request", body);
        EXPECT_EQ(inner(answer, "Code"), "OEBS7017") << body;
        EXPECT_NE(inner(answer, "ExtendedMessage").find("refused: a line break in its value"), std::string::npos)
            << answer;
        EXPECT_EQ(home.read_file(kSettingsPath), before);
    }

    home.write_file(kTimesPath, "[VIS]\nLAST_WATCHING_TIME 20260101000000\nSTART_WATCHING_TIME 20250101000000\n");
    const std::string times = home.read_file(kTimesPath);
    EXPECT_EQ(ask("Orvoebs_activate_ew_request", "<ActivationTime>NOW</ActivationTime>"),
              "<Orvoebs_activate_ew_response></Orvoebs_activate_ew_response>");
    EXPECT_EQ(inner(ask("Orvoebs_activate_ew_request", "<ActivationTime>ACTIVATION_LATER</ActivationTime>"), "Code"),
              "OEBS7020");
    EXPECT_EQ(home.read_file(kTimesPath), times);
    EXPECT_EQ(ask("Orvoebs_activate_ew_request", "<ActivationTime>ACTIVATION</ActivationTime>"),
              "<Orvoebs_activate_ew_response></Orvoebs_activate_ew_response>");
    EXPECT_NE(home.read_file(kTimesPath).find("ACTIVATION"), std::string::npos);
}

TEST_F(PkmTest, NameListsOpenASessionForTheAccount) {
    oci_standin::add_logon(oci_standin::logon("VIS", "APPS", "good"));
    oci_standin::add_rule(
        oci_standin::substring_rule("from FND_APPLICATION_TL where", {oci_standin::answer_rows({{"General Ledger"}})}));
    oci_standin::add_rule(
        oci_standin::substring_rule("from ALR_ALERTS alr", {oci_standin::answer_rows({{"LOW_STOCK"}})}));
    home.write_file("data/DUZ_inst.dat", "");
    ask("Orvcm_add_account_request", account_body("PROD", sent_password("good")));
    ask("Orvcm_add_account_request", account_body("BAD", sent_password("wrong")));
    EXPECT_EQ(ask("Orvoebs_get_applications_list_request",
                  "<AccountName>PROD</AccountName><ApplicationFilter>gen*</ApplicationFilter>"),
              "<Orvoebs_get_applications_list_response><ApplicationsList><Name>General Ledger</Name>"
              "</ApplicationsList></Orvoebs_get_applications_list_response>");
    EXPECT_EQ(ask("Orvoebs_get_alerts_list_request",
                  "<AccountName>PROD</AccountName><Application>Inventory</Application><AlertFilter>*</AlertFilter>"),
              "<Orvoebs_get_alerts_list_response><AlertsList><Name>LOW_STOCK</Name></AlertsList>"
              "</Orvoebs_get_alerts_list_response>");
    const std::string refused = ask("Orvoebs_get_applications_list_request",
                                    "<AccountName>BAD</AccountName><ApplicationFilter>*</ApplicationFilter>");
    EXPECT_EQ(inner(refused, "Code"), "OEBS7018");
    EXPECT_EQ(inner(refused, "ExtendedMessage"),
              "CM for OEBS: Unable to connect to OEBS using account BAD, please validate the account.");
    EXPECT_EQ(oci_standin::live_handles(), 0u);
}

// ------------------------------------------------------------------------------------------------
// Package install

TEST_F(PkmTest, PackageInstallGivesSqlplusThePasswordOnItsInputOnly) {
    place_program("sqlplus", "oracle/bin/sqlplus",
                  "[sqlplus]\nstdin:\nenv: SQLPATH ORACLE_HOME TNS_ADMIN\nout: Package created.\n");
    home.write_file("data/DUZ_inst.dat", "");
    ask("Orvcm_add_account_request", account_body("PROD", sent_password("pw9"), "APPS", "Y"));
    const std::string log = program_log("oracle/bin/sqlplus");
    EXPECT_NE(log.find("sqlplus -L APPS@VIS @inst.sql\n"), std::string::npos) << log;
    EXPECT_NE(log.find("stdin: pw9\\n\n"), std::string::npos) << log;
    EXPECT_NE(log.find("env SQLPATH=./cm/DUZ/data\n"), std::string::npos) << log;
    EXPECT_NE(log.find("env ORACLE_HOME=" + home.path() + "/oracle\n"), std::string::npos) << log;
    EXPECT_NE(log.find("env TNS_ADMIN=/opt/tns\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("pw9 "), std::string::npos);
    EXPECT_EQ(home.read_file("proclog/qel_package.log"), "Package created.\n");

    // A login that is not one plain word runs nothing.
    std::remove((home.path() + "/oracle/bin/sqlplus.log").c_str());
    ask("Orvcm_add_account_request", account_body("EVIL", sent_password("pw9"), "x;touch pwned", "Y"));
    EXPECT_EQ(program_log("oracle/bin/sqlplus"), "");
    EXPECT_FALSE(home.exists("pwned"));
    pwtest::Sections file;
    ASSERT_TRUE(file.load("data/DUZ_inst.dat"));
    EXPECT_EQ(file.get("EVIL", "DB_LOGIN"), "x;touch pwned");  // the account itself is still written
}

}  // namespace
