// The job-definition form's lists as the agent drives them: zpahost loads libappbridge.so, opens a
// list, reads it to its end and closes it, runs a list action, with the stand-in database answering
// from a script file.
#include "e2e_journal.h"
#include "testbed.h"

#include <cstdio>
#include <filesystem>
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
    {"name": "file id", "match": "FND_WEBFILE.CREATE_ID", "outs": {"id": "88421"}}
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
};

TEST_F(ListRun, AccountListNeedsNoSessionAndIsGoneAfterClose) {
    const std::string text =
        question("GetCMInstance", "<DUZ-FORM_VERSION>1</DUZ-FORM_VERSION><APPLICATION_TYPE>OEBS</APPLICATION_TYPE>"
                                  "<DUZ-INSTANCE>*</DUZ-INSTANCE>");
    home.write_file("host/request.txt", "TEXT=" + text + "\n");
    home.write_file("host/in.txt", "TEXT=" + text + "\nNAVIGATE=NEXT\n");
    const std::string out = run({"connect", "host/request.txt", "data", "ZPAAPI_LIST_DATA", "host/in.txt", "host/out.txt"});
    EXPECT_NE(out.find("ZPAAPI_Connect rc=0 userdata=none\nZPAAPI_LIST_DATA_OPEN rc=0\n"), std::string::npos) << out;
    EXPECT_EQ(texts_after(out, "ZPAAPI_LIST_DATA_READ"),
              std::string(kPrologue) + "<HEADER><ACTION>GetCMInstance</ACTION></HEADER><BODY>"
                                       "<DUZ-INSTANCE>VIS</DUZ-INSTANCE><DUZ-INSTANCE>PROD</DUZ-INSTANCE>"
                                       "<DUZ-INSTANCE>TEST</DUZ-INSTANCE></BODY></UVSCM>")
        << out;
    EXPECT_NE(out.find("ZPAAPI_LIST_DATA_CLOSE rc=0\nZPAAPI_Disconnect rc=0 userdata=none\n"), std::string::npos) << out;
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

}  // namespace
