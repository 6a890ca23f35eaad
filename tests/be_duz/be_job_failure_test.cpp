// The jobs failure table, its row key and value, the failure notice in the sysout, the record of a
// failed submission and the sysout's permission bits.
#include "be_def.h"
#include "be_fixture.h"
#include "gm_param.h"
#include "joined.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

const char* kTable = "cm/DUZ/data/jobs_failure_table.dat";

class JobFailureTable : public betest::HomeTest {
protected:
    std::string find(const char* orderno, const char* runno, ZPARC expected = 0) {
        char message[BE_JOB_FAILURE_MSG_SIZE] = "";
        EXPECT_EQ(be_job_find_in_jobs_failure_file(orderno, runno, message), expected);
        return message;
    }
    std::string table() { return home.exists(kTable) ? home.read_file(kTable) : ""; }
    // The table's rows (the file writer puts an empty line after each).
    std::vector<std::string> rows() {
        std::vector<std::string> rows;
        for (std::string& line : testbed::lines_of(table()))
            if (!line.empty()) rows.push_back(std::move(line));
        return rows;
    }
};

std::string first_word(const std::string& line) { return line.substr(0, line.find(' ')); }

TEST_F(JobFailureTable, RowKeyIsOrderNumberAndRunNumberInHexUpperCased) {
    struct Case {
        const char* orderno;
        const char* runno;
        const char* key;
    } cases[] = {
        {"00a1b", "26", "00A1B_1A"}, {"abc", "10", "ABC_A"},    {"abc", "007", "ABC_7"},
        {"x", "junk", "X_0"},        {"x", "-1", "X_FFFFFFFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        ASSERT_EQ(BE_JOB_write_jobs_failure_file(c.orderno, c.runno, "1 - failed"), 0);
        bool found = false;
        for (const std::string& line : rows()) found |= first_word(line) == c.key;
        EXPECT_TRUE(found) << table();
        EXPECT_EQ(find(c.orderno, c.runno), "1 - failed");
    }
}

TEST_F(JobFailureTable, SecondAddOfTheSameRunKeepsTheFirstFailure) {
    ASSERT_EQ(BE_JOB_write_jobs_failure_file("ORD1", "1", "12154 - could not resolve"), 0);
    EXPECT_EQ(BE_JOB_write_jobs_failure_file("ord1", "1", "1017 - invalid password"), 0);
    EXPECT_EQ(find("ORD1", "1"), "12154 - could not resolve");
    EXPECT_EQ(rows().size(), 1u);
}

TEST_F(JobFailureTable, LineBreaksOfTheFailureTextDoNotSplitTheRow) {
    ASSERT_EQ(BE_JOB_write_jobs_failure_file("ORD1", "2", "3113 - end-of-file\non channel\r\n"), 0);
    EXPECT_EQ(rows().size(), 1u);
    EXPECT_EQ(find("ORD1", "2"), "3113 - end-of-file on channel");
}

TEST_F(JobFailureTable, MissingTableOrRowIsNotListed) {
    find("ORD1", "1", 1);
    EXPECT_FALSE(home.exists(kTable));
    ASSERT_EQ(BE_JOB_write_jobs_failure_file("ORD1", "1", "1 - x"), 0);
    find("ORD1", "2", 1);
    find("ORD2", "1", 1);
}

TEST_F(JobFailureTable, ADefaultRowDoesNotStandInForAJob) {
    home.write_file(kTable, "DEFAULT                             1 - any\n");
    find("ORD1", "1", 1);
    EXPECT_EQ(BE_JOB_write_jobs_failure_file("ORD1", "1", "2 - mine"), 0);
    EXPECT_EQ(find("ORD1", "1"), "2 - mine");
}

TEST_F(JobFailureTable, DeleteRemovesOnlyThatRunsRow) {
    ASSERT_EQ(BE_JOB_write_jobs_failure_file("ORD1", "1", "1 - a"), 0);
    ASSERT_EQ(BE_JOB_write_jobs_failure_file("ORD1", "2", "1 - b"), 0);
    EXPECT_EQ(be_job_delete_line_from_jobs_failure_file("ORD1", "1"), 0);
    find("ORD1", "1", 1);
    EXPECT_EQ(find("ORD1", "2"), "1 - b");

    const std::string before = table();
    EXPECT_EQ(be_job_delete_line_from_jobs_failure_file("ORD9", "9"), 1);
    EXPECT_EQ(table(), before);
}

TEST_F(JobFailureTable, TwoProcessesAddingAtOnceLoseNoRow) {
    constexpr int kRows = 40;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            bool ok = true;
            for (int i = 0; i < kRows; ++i) {
                const std::string orderno = "P" + std::to_string(c);
                ok &= BE_JOB_write_jobs_failure_file(orderno.c_str(), std::to_string(i + 1).c_str(), "1 - x") == 0;
            }
            _exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(rows().size(), 2u * kRows);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kRows; ++i) find(testbed::joined("P", c).c_str(), std::to_string(i + 1).c_str());
}

TEST_F(JobFailureTable, FailureTextIsCodeDashText) {
    ZPAError error{12154, "ORA-12154: TNS:could not resolve the connect identifier specified"};
    char message[BE_JOB_FAILURE_MSG_SIZE];
    BE_SYSOUT_create_job_failure_msg(&error, message);
    EXPECT_STREQ(message, "12154 - ORA-12154: TNS:could not resolve the connect identifier specified");

    ZPAError negative{static_cast<ZPAErrorCode>(-3123), "OCI_STILL_EXECUTING"};
    BE_SYSOUT_create_job_failure_msg(&negative, message);
    EXPECT_STREQ(message, "-3123 - OCI_STILL_EXECUTING");

    ZPAError full{1, {}};
    std::memset(full.text, 'x', sizeof full.text);  // no terminator: read within the record only
    BE_SYSOUT_create_job_failure_msg(&full, message);
    EXPECT_EQ(std::strlen(message), 4 + sizeof full.text);
}

std::string notice(const std::string& message, const std::string& code) {
    return "\nORVANTA/CM for Oracle E-Business Suite has detected the following error:\n\nError message: " + message +
           "\n\nError code: " + code + "\n";
}

TEST_F(JobFailureTable, NoticeTakesTheCodeFromAStoredRowValue) {
    struct Case {
        const char* message;
        int code;
        std::string expected;
        int code_from_message;
    } cases[] = {
        {"ORA-01017: invalid username/password", 1017, notice("ORA-01017: invalid username/password", "1017"), 0},
        {"12154 - ORA-12154: could not resolve", -9999, notice("ORA-12154: could not resolve", "12154"), 12154},
        {"-3123 - still executing", -9999, notice("still executing", "-3123"), -3123},
        {"failed to submit - reason", -9999, notice("failed to submit - reason", "1"), 1},
        {"1234567890 - ten digits", -9999, notice("1234567890 - ten digits", "1"), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        char buffer[BE_JOB_FAILURE_MSG_SIZE] = "";
        std::strcpy(buffer, c.message);
        int from_message = -1;
        BE_JOB_format_error_message(buffer, c.code, &from_message);
        EXPECT_EQ(buffer, c.expected);
        EXPECT_EQ(from_message, c.code_from_message);
    }
}

TEST_F(JobFailureTable, NoticeCutsTheMessageAndStaysWithinItsBuffer) {
    char buffer[BE_JOB_FAILURE_MSG_SIZE];
    std::memset(buffer, 'm', sizeof buffer - 1);
    buffer[sizeof buffer - 1] = '\0';
    BE_JOB_format_error_message(buffer, 12154, nullptr);
    std::string text = buffer;
    EXPECT_EQ(text.find(std::string(913, 'm')), text.find("Error message: ") + 15);
    EXPECT_EQ(text.find(std::string(914, 'm')), std::string::npos);
    EXPECT_EQ(text.size(), 1023u);
    EXPECT_EQ(text.back(), '\n');

    std::memset(buffer, 'm', sizeof buffer - 1);
    BE_JOB_format_error_message(buffer, 123456, nullptr);
    text = buffer;
    EXPECT_EQ(text.size(), 1023u);  // the notice's own line end is what is cut
    EXPECT_EQ(text.substr(text.size() - 18), "Error code: 123456");
}

TEST_F(JobFailureTable, SysoutNoticeIsAppendedAndItsSizeReported) {
    home.write_file("sysout/ORD7_3.DAT", "earlier output\n");
    char sysoutsize[16] = "xxxxxxxxxxxxxxx";
    ZPAAttr out_attr{const_cast<char*>("SYSOUTSIZE"), sizeof sysoutsize, sysoutsize};
    ZPAAttrList out{1, &out_attr, 0};
    betest::OwnedList in{{"ORDERNO", "ORD7"}, {"RUNNO", "3"}};
    ZPAError error{};
    int code = 0;
    ASSERT_EQ(BE_SYSOUT_handle_update_sysout(in.list(), &out, "ORD7", "3", "12154 - no listener", -9999, &code, &error),
              0);
    const std::string expected = "earlier output\n" + notice("no listener", "12154");
    EXPECT_EQ(home.read_file("sysout/ORD7_3.DAT"), expected);
    EXPECT_EQ(std::string(sysoutsize), std::to_string(expected.size()));
    EXPECT_EQ(code, 12154);
}

TEST_F(JobFailureTable, SysoutModeIsReadAsOctalDigitsOnly) {
    struct Case {
        const char* oebs;    // "" leaves the key out of table OEBS
        const char* config;  // "" leaves the key out of table CONFIG
        mode_t expected;
    } cases[] = {
        {"640", "", 0640}, {"", "600", 0600}, {"604", "600", 0604}, {"", "", 0644},
        {"680", "", 0644}, {"-1", "", 0644},  {"rw", "", 0644},     {"77777", "", 0644},
    };
    betest::OwnedList in{{"ORDERNO", "ORD7"}, {"RUNNO", "3"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.oebs) + "/" + c.config);
        home.write_file("sysout/ORD7_3.DAT", "output\n");
        ASSERT_EQ(chmod("sysout/ORD7_3.DAT", 0644), 0);
        home.write_file("data/OEBS.dat", *c.oebs ? std::string("SYSOUT_MODE ") + c.oebs + "\n" : "X 1\n");
        home.write_file("data/CONFIG.dat", *c.config ? std::string("SYSOUT_MODE ") + c.config + "\n" : "X 1\n");
        GM_PARAM_clear();
        ZPAError error{};
        EXPECT_EQ(BE_SYSOUT_chmod_sysout(in.list(), &error), CM_RC_OK);
        struct stat status {};
        ASSERT_EQ(stat("sysout/ORD7_3.DAT", &status), 0);
        EXPECT_EQ(status.st_mode & 07777, c.expected);
    }
}

TEST_F(JobFailureTable, FailedSubmissionWritesProcidFileAndRow) {
    char procid[8] = "1234567";
    ZPAAttr out_attr{const_cast<char*>("PROCID"), sizeof procid, procid};
    ZPAAttrList out{1, &out_attr, 0};
    betest::OwnedList in{{"ORDERNO", "ORD5"},
                         {"RUNNO", "2"},
                         {"DUZ-INSTANCE", "VIS"},
                         {"DUZ-TASKTYPE", "R"},
                         {"DUZ-DISPLAY_OUTPUT", "Y"}};
    ZPAError error{1017, "ORA-01017: invalid username/password"};
    ASSERT_EQ(be_job_handle_submit_failure(&out, in.list(), &error), 0);
    EXPECT_STREQ(procid, "0");
    const auto rows = testbed::lines_of(home.read_file("procid/ORD5_2.DAT"));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], std::string("PROCID") + std::string(58, ' ') + "  0");
    EXPECT_EQ(rows[1], std::string("DUZ-INSTANCE") + std::string(52, ' ') + "  VIS");
    EXPECT_EQ(first_word(rows[3]), "DUZ-DISPLAY_OUTPUT");
    EXPECT_EQ(find("ORD5", "2"), "1017 - ORA-01017: invalid username/password");
}

TEST_F(JobFailureTable, FailedSubmissionNeedsItsAttributes) {
    betest::OwnedList in{{"ORDERNO", "ORD5"}, {"RUNNO", "2"}, {"DUZ-INSTANCE", "VIS"}};
    ZPAError error{1017, "ORA-01017"};
    EXPECT_EQ(be_job_handle_submit_failure(nullptr, in.list(), &error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: The attribute 'DUZ-TASKTYPE' is mandatory");
    EXPECT_FALSE(home.exists(kTable));
}

}  // namespace
