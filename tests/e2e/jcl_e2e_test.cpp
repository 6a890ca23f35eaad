// A job's script as the agent reads it: zpahost loads libappbridge.so, connects for a "JCLDOC"
// request, opens the job-script text, reads it piece by piece and closes it, with the stand-in
// database answering from a script file.
#include "e2e_host.h"
#include "e2e_journal.h"
#include "jcl_text.h"
#include "testbed.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using testbed::program_lines;

const char* kScript = R"({
  "logons": [{"connect": "VIS", "user": "APPS", "password": "apps"}],
  "rules": [
    {"name": "program", "match": "from fnd_concurrent_programs prog",
     "rows": [["SQLAP", "APXXTR", "APXXTR", "P", "Oracle Reports", null, null]]},
    {"name": "set", "match": "from fnd_request_set_stages RSS",
     "rows": [["FND", "FNDSCURS", "FNDSCURS", "P", "Oracle Reports", "FNDSCURS", null, "Users"],
              ["FND", "FNDSCRSP", "FNDSCRSP", "P", "Oracle Reports", "FNDSCRSP", null, "Users"],
              ["AR", "ARXAGE", "ARXAGE", "P", "Oracle Reports", "ARXAGE", null, "Aging"],
              ["AR", "ARXCOL", "ARXCOL", "I", "PL/SQL Stored Procedure", null, "AR_COLL.RUN", "Aging"]]}
  ]
})";

using e2e::printable;

class JobScriptRun : public e2e::PluginHomeTest {
protected:
    void SetUp() override {
        prepare_home(kScript);
        home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\n");
        home.write_file("host/job.txt", "REQTYPE=JCLDOC\nDUZ-INSTANCE=VIS\nORDERNO=ORD1\nRUNNO=2\n");
        home.write_file("host/in.txt", "ORDERNO=ORD1\nRUNNO=2\nNAVIGATE=NEXT\n");
        home.write_file("host/out.txt", "TEXT:17=\n");
    }

    std::string run() {
        return PluginHomeTest::run("connect host/job.txt data ZPAAPI_JCL_DATA host/in.txt host/out.txt");
    }

    // The pieces of "TEXT" joined, the read results in order, and what followed the reads.
    struct Reads {
        std::string text;
        std::vector<int> results;
    };
    static Reads reads_of(const std::string& out) {
        Reads reads;
        for (const std::string& line : testbed::lines_of(out)) {
            int rc = 0;
            if (std::sscanf(line.c_str(), "ZPAAPI_JCL_DATA_READ rc=%d", &rc) == 1) reads.results.push_back(rc);
            if (line.rfind("  out TEXT=", 0) == 0) reads.text += line.substr(11);
        }
        return reads;
    }

    std::map<int, int> unfreed() { return e2e::unfreed_handles(home.path() + "/oci/journal.jsonl"); }
};

TEST_F(JobScriptRun, ProgramTextComesBackWholeInPiecesOfTheSlotsRoom) {
    home.write_file("procid/ORD1_2.DAT", "DUZ-TASKTYPE REQUEST\nDUZ-APPID 200\nDUZ-PROGID 31\n");
    const std::string out = run();
    EXPECT_NE(out.find("ZPAAPI_Connect rc=0 userdata=session\nZPAAPI_JCL_DATA_OPEN rc=0\n"), std::string::npos) << out;
    const Reads reads = reads_of(out);
    EXPECT_EQ(reads.text, printable(program_lines("APXXTR", "SQLAP", "APXXTR", "Oracle Reports", "", ""))) << out;
    ASSERT_FALSE(reads.results.empty());
    EXPECT_EQ(reads.results.back(), 2);
    EXPECT_NE(out.find("ZPAAPI_JCL_DATA_CLOSE rc=0\nZPAAPI_Disconnect rc=0 userdata=none\n"), std::string::npos) << out;
    EXPECT_TRUE(unfreed().empty());
}

TEST_F(JobScriptRun, RequestSetFromTheBackupFileListsEachStageOnce) {
    // No procid file: run 2 is "02" in the backup file's two base-36 digits.
    home.write_file("backup/ORD1_02.dsect", "DUZ-TASKTYPE REQUEST_SET\nDUZ-APPID 0\nDUZ-REQSETID 90\n");
    const std::string out = run();
    const std::string expected =
        "STAGE NAME  = Users\n" + program_lines("FNDSCURS", "FND", "FNDSCURS", "Oracle Reports", "FNDSCURS", "") +
        program_lines("FNDSCRSP", "FND", "FNDSCRSP", "Oracle Reports", "FNDSCRSP", "") + "STAGE NAME  = Aging\n" +
        program_lines("ARXAGE", "AR", "ARXAGE", "Oracle Reports", "ARXAGE", "") +
        program_lines("ARXCOL", "AR", "ARXCOL", "PL/SQL Stored Procedure", "", "AR_COLL.RUN");
    EXPECT_EQ(reads_of(out).text, printable(expected)) << out;
    EXPECT_TRUE(unfreed().empty());
}

TEST_F(JobScriptRun, JobWithoutSavedAttributesFailsTheOpenAndReadsNothing) {
    const std::string out = run();
    EXPECT_NE(out.find("ZPAAPI_JCL_DATA_OPEN rc=1\n  error: code=1 text=CM for OEBS: JCL cannot be retrieved. "
                       "Failed to load file './backup/ORD1_02.dsect'.\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("ZPAAPI_JCL_DATA_READ"), std::string::npos) << out;
    EXPECT_TRUE(unfreed().empty());
}

}  // namespace
