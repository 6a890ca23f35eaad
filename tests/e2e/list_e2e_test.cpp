// The job-definition form's lists as the agent drives them: zpahost loads libappbridge.so, opens a
// list, reads it to its end and closes it, runs a list action, with the stand-in database answering
// from a script file. Among the lists: the programs a user may submit and a program's parameters.
#include "e2e_journal.h"
#include "testbed.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using e2e::texts_after;

const char* kScript = R"json({
  "logons": [{"connect": "VIS", "user": "APPS", "password": "apps"}],
  "rules": [
    {"name": "responsibilities", "match": "from fnd_user_resp_groups",
     "rows": [["General Ledger", "SQLGL", "Standard"], ["Payables & Receivables", "SQLAP", "Standard"]]},
    {"name": "hold", "match": "set hold_flag = 'Y'", "outs": {"rc_code": 0}},
    {"name": "web agent", "match": "fnd_profile.value('APPS_WEB_AGENT')", "rows": [["http://ebs:8000/pls/VIS"]]},
    {"name": "output file", "match": "OFILE_SIZE FROM fnd_concurrent_requests",
     "rows": [["/u01/out/o4711.out", "APPNODE", "PDF", "2048"]]},
    {"name": "node", "match": "GET_FS_SVC_NAME", "outs": {"node": "SVC_"}},
    {"name": "file id", "match": "FND_WEBFILE.CREATE_ID", "outs": {"id": "88421"}},
    {"name": "ids", "match": "into :user_id from fnd_user",
     "outs": {"user_id": 1318, "grp_app_id": 101, "grp_id": 55}},
    {"name": "programs", "match": "from FND_CONCURRENT_PROGRAMS_VL P",
     "rows": [["Trial Balance", "GLTRBAL", "SQLGL", "General Ledger"],
              ["Journals & Entries", "GLJRNL", "SQLGL", "General Ledger"]]},
    {"name": "parameters", "match": "from fnd_descr_flex_column_usages a",
     "rows": [["P_LEDGER", "Calculated During Submission", "F", "Ledger", "Y"],
              ["P_PERIOD", " ", "I", "Period", "Y"]]}
  ]
})json";

constexpr const char* kPrologue = "<?xml version='1.0' encoding='iso-8859-1'?><UVSCM>";

std::string question(const std::string& action, const std::string& body) {
    return "<UVSCM><HEADER><ACTION>" + action + "</ACTION></HEADER><BODY>" + body + "</BODY></UVSCM>";
}

class ListRun : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        home.write_file("data/DUZ_inst.dat",
                        "[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\n[PROD]\nDB_SID PROD\n[TEST]\nDB_SID T\n");
        home.write_file("oci/script.json", kScript);
        std::filesystem::copy_file(APPBRIDGE_QELOS_LIBRARY, home.path() + "/cm/lib_DUZ.so");
        home.write_file("host/connection.txt", "CM_LIB_NAME=DUZ\nCM_DIR=" + home.path() +
                                                   "/cm\nORACLE_HOME=/opt/oracle/client\nCM_VERSION=9.0.21\n");
        home.write_file("host/out.txt", "TEXT:4096=\n");
    }

    std::string run(const std::vector<std::string>& steps) {
        int status = 0;
        const std::string out = e2e::run_zpahost("ORV_OCI_STANDIN_SCRIPT='" + home.path() + "/oci/script.json' " +
                                                     "ORV_OCI_STANDIN_JOURNAL='" + home.path() + "/oci/journal.jsonl'",
                                                 steps, &status);
        EXPECT_EQ(status, 0) << out;
        return out;
    }
    // Binds of the journal's executions of the rule, by name.
    std::map<std::string, std::string> binds_of(const std::string& rule) const {
        std::map<std::string, std::string> binds;
        for (const auto& call : e2e::journal_calls(home.path() + "/oci/journal.jsonl")) {
            if (call["call"] != "OCIStmtExecute" || call.value("rule", "") != rule) continue;
            for (const auto& bind : call["binds"]) binds[bind["name"]] = bind["value"].dump();
        }
        return binds;
    }
};

TEST_F(ListRun, AccountListNeedsNoSessionAndIsGoneAfterClose) {
    const std::string text = question("GetCMInstance",
                                      "<DUZ-FORM_VERSION>1</DUZ-FORM_VERSION><APPLICATION_TYPE>OEBS</APPLICATION_TYPE>"
                                      "<DUZ-INSTANCE>*</DUZ-INSTANCE>");
    home.write_file("host/request.txt", "TEXT=" + text + "\n");
    home.write_file("host/in.txt", "TEXT=" + text + "\nNAVIGATE=NEXT\n");
    const std::string out =
        run({"connect", "host/request.txt", "data", "ZPAAPI_LIST_DATA", "host/in.txt", "host/out.txt"});
    EXPECT_NE(out.find("ZPAAPI_Connect rc=0 userdata=none\nZPAAPI_LIST_DATA_OPEN rc=0\n"), std::string::npos) << out;
    EXPECT_EQ(texts_after(out, "ZPAAPI_LIST_DATA_READ"),
              std::string(kPrologue) +
                  "<HEADER><ACTION>GetCMInstance</ACTION></HEADER><BODY>"
                  "<DUZ-INSTANCE>VIS</DUZ-INSTANCE><DUZ-INSTANCE>PROD</DUZ-INSTANCE>"
                  "<DUZ-INSTANCE>TEST</DUZ-INSTANCE></BODY></UVSCM>")
        << out;
    EXPECT_NE(out.find("ZPAAPI_LIST_DATA_CLOSE rc=0\nZPAAPI_Disconnect rc=0 userdata=none\n"), std::string::npos)
        << out;
}

TEST_F(ListRun, ResponsibilitiesHoldAndOutputAddressOnOneSession) {
    home.write_file("host/request.txt", "DUZ-INSTANCE=VIS\n");
    home.write_file("host/resp.txt",
                    "TEXT=" + question("GetRESP", "<DUZ-USERNAME>SYSADMIN</DUZ-USERNAME>") + "\nNAVIGATE=NEXT\n");
    home.write_file("host/hold.txt", "TEXT=" + question("HOLDJOB", "<DUZ-REQUEST_ID>4711</DUZ-REQUEST_ID>") + "\n");
    home.write_file("host/url.txt",
                    "TEXT=" + question("ViewOutputUrl", "<DUZ-REQUEST_ID>4711</DUZ-REQUEST_ID>") + "\nNAVIGATE=NEXT\n");
    const std::string out = run({"connect", "host/request.txt", "data", "ZPAAPI_LIST_DATA", "host/resp.txt",
                                 "host/out.txt", "action", "ZPAAPI_LIST_ACTION", "LIST", "host/hold.txt",
                                 "host/out.txt", "data", "ZPAAPI_LIST_DATA", "host/url.txt", "host/out.txt"});
    EXPECT_NE(out.find("ZPAAPI_Connect rc=0 userdata=session\n"), std::string::npos) << out;
    const std::string header = "<HEADER><ACTION>GetRESP</ACTION></HEADER>";
    const std::size_t hold = out.find("ZPAAPI_LIST_ACTION");
    ASSERT_NE(hold, std::string::npos) << out;
    EXPECT_EQ(texts_after(out.substr(0, hold), "ZPAAPI_LIST_DATA_READ"),
              std::string(kPrologue) + header +
                  "<BODY><DUZ-RESP><DUZ-RESPNAME>General Ledger</DUZ-RESPNAME><DUZ-RESPAPP>SQLGL</DUZ-RESPAPP>"
                  "<DUZ-SECURITY_GROUPNAME>Standard</DUZ-SECURITY_GROUPNAME></DUZ-RESP>"
                  "<DUZ-RESP><DUZ-RESPNAME>Payables &amp; Receivables</DUZ-RESPNAME><DUZ-RESPAPP>SQLAP</DUZ-RESPAPP>"
                  "<DUZ-SECURITY_GROUPNAME>Standard</DUZ-SECURITY_GROUPNAME></DUZ-RESP></BODY></UVSCM>")
        << out;
    EXPECT_NE(out.find("ZPAAPI_LIST_ACTION(LIST) rc=0\n  out TEXT=" + std::string(kPrologue) +
                       "<HEADER><ACTION>HOLDJOB</ACTION></HEADER><BODY><DUZ-MESSAGE>Successfully hold the request!"
                       "</DUZ-MESSAGE><DUZ-RESULT>OK</DUZ-RESULT></BODY></UVSCM>\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(texts_after(out.substr(hold), "ZPAAPI_LIST_DATA_READ"),
              std::string(kPrologue) +
                  "<HEADER><ACTION>ViewOutputUrl</ACTION></HEADER><BODY><DUZ-OUTURL>"
                  "http://ebs:8000/OA_CGI/FNDWRR.exe?temp_id=88421</DUZ-OUTURL></BODY></UVSCM>")
        << out;
    EXPECT_NE(out.find("ZPAAPI_Disconnect rc=0 userdata=none\n"), std::string::npos) << out;
    EXPECT_TRUE(e2e::unfreed_handles(home.path() + "/oci/journal.jsonl").empty());
}

TEST_F(ListRun, ProgramListAndParameterListReadToTheirEnd) {
    home.write_file("host/request.txt", "DUZ-INSTANCE=VIS\n");
    home.write_file("host/jobs.txt", "TEXT=" +
                                         question("GetJob",
                                                  "<DUZ-USERNAME>operations</DUZ-USERNAME><DUZ-RESPNAME>GL "
                                                  "Super User</DUZ-RESPNAME><DUZ-RESPAPP>SQLGL</DUZ-RESPAPP>"
                                                  "<DUZ-TASKTYPE>REQUEST</DUZ-TASKTYPE>") +
                                         "\nNAVIGATE=NEXT\n");
    home.write_file(
        "host/parms.txt",
        "TEXT=" + question("GetREQPARAM", "<DUZ-PROGNAME>GLTRBAL</DUZ-PROGNAME><DUZ-APPNAME>SQLGL</DUZ-APPNAME>") +
            "\nNAVIGATE=NEXT\n");
    const std::string out = run({"connect", "host/request.txt", "data", "ZPAAPI_LIST_DATA", "host/jobs.txt",
                                 "host/out.txt", "data", "ZPAAPI_LIST_DATA", "host/parms.txt", "host/out.txt"});
    const std::size_t second = out.find("ZPAAPI_LIST_DATA_OPEN", out.find("ZPAAPI_LIST_DATA_CLOSE"));
    ASSERT_NE(second, std::string::npos) << out;
    EXPECT_EQ(texts_after(out.substr(0, second), "ZPAAPI_LIST_DATA_READ"),
              std::string(kPrologue) +
                  "<HEADER><ACTION>GetJob</ACTION></HEADER><BODY><DUZ-JOB><DUZ-PROGDESP>Trial Balance</DUZ-PROGDESP>"
                  "<DUZ-PROGNAME>GLTRBAL</DUZ-PROGNAME><DUZ-APPNAME>SQLGL</DUZ-APPNAME><DUZ-APPDESP>General Ledger"
                  "</DUZ-APPDESP></DUZ-JOB><DUZ-JOB><DUZ-PROGDESP>Journals &amp; Entries</DUZ-PROGDESP>"
                  "<DUZ-PROGNAME>GLJRNL</DUZ-PROGNAME><DUZ-APPNAME>SQLGL</DUZ-APPNAME><DUZ-APPDESP>General Ledger"
                  "</DUZ-APPDESP></DUZ-JOB></BODY></UVSCM>")
        << out;
    EXPECT_EQ(texts_after(out.substr(second), "ZPAAPI_LIST_DATA_READ"),
              std::string(kPrologue) +
                  "<HEADER><ACTION>GetREQPARAM</ACTION></HEADER><BODY><DUZ-PARMS><DUZ-P001><DUZ-NAME>P_LEDGER"
                  "</DUZ-NAME><DUZ-VALUE>Calculated During Submission</DUZ-VALUE><DUZ-VALSETTYP>F</DUZ-VALSETTYP>"
                  "<DUZ-DISPLAY>Ledger</DUZ-DISPLAY></DUZ-P001><DUZ-P002><DUZ-NAME>P_PERIOD</DUZ-NAME><DUZ-VALUE> "
                  "</DUZ-VALUE><DUZ-VALSETTYP>I</DUZ-VALSETTYP><DUZ-DISPLAY>Period</DUZ-DISPLAY></DUZ-P002>"
                  "</DUZ-PARMS></BODY></UVSCM>")
        << out;
    EXPECT_EQ(binds_of("ids").at("USER_NAME"), "\"OPERATIONS\"");
    EXPECT_EQ(binds_of("programs"), (std::map<std::string, std::string>{{"GRP_APP_ID", "101"}, {"GRP_ID", "55"}}));
    EXPECT_EQ(binds_of("parameters"),
              (std::map<std::string, std::string>{{"APP", "\"SQLGL\""}, {"PROG", "\"GLTRBAL\""}}));
    EXPECT_NE(out.find("ZPAAPI_Disconnect rc=0 userdata=none\n"), std::string::npos) << out;
    EXPECT_TRUE(e2e::unfreed_handles(home.path() + "/oci/journal.jsonl").empty());
}

}  // namespace
