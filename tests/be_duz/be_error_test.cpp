// The plug-in's error helper, the names of a job's work files and the small file helpers.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "be_def.h"
#include "be_fixture.h"
#include "gm_param.h"
#include "testbed.h"

namespace {

using ErrorHelperTest = betest::HomeTest;

using betest::OwnedList;

TEST(UpdateErrorSet, StoresPrefixedTextAndCodeWithoutReadingItAsAFormatAgain) {
    struct Case {
        const char* format;
        const char* arg;
        unsigned code;
        const char* stored;
    } cases[] = {
        {"Failed to load file: '%s'", "a.dat", 1, "CM for OEBS: Failed to load file: 'a.dat'"},
        {"%s", "ORA-01403: value %d of %s", 1403, "CM for OEBS: ORA-01403: value %d of %s"},
        {"plain", "", 7, "CM for OEBS: plain"},
    };
    for (const Case& c : cases) {
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_UpdateErrorSet(&error, c.code, c.format, c.arg), 0);
        EXPECT_STREQ(error.text, c.stored);
        EXPECT_EQ(error.code, c.code);
    }
}

TEST(UpdateErrorSet, TextOf999CharactersIsStoredCutAndLongerOnesOnlyLogged) {
    const std::size_t prefix = std::strlen(BE_DUZ_ERROR_PREFIX);
    ZPAError error{};
    std::string body(999 - prefix, 'x');
    BE_DUZ_UpdateErrorSet(&error, 5, "%s", body.c_str());
    EXPECT_EQ(error.code, 5u);
    EXPECT_EQ(std::strlen(error.text), 998u);
    EXPECT_EQ(std::string(error.text), (BE_DUZ_ERROR_PREFIX + body).substr(0, 998));

    BE_DUZ_UpdateErrorSet(&error, 1, "kept");
    for (std::size_t length : {1000 - prefix, 4000 - prefix, std::size_t(6000)}) {
        std::string longer(length, 'y');
        EXPECT_EQ(BE_DUZ_UpdateErrorSet(&error, 9, "%s", longer.c_str()), 0);
        EXPECT_STREQ(error.text, "CM for OEBS: kept");
        EXPECT_EQ(error.code, 1u);
    }
}

TEST(SystemError, Errno9999MeansNoSystemError) {
    char text[256] = "stale";
    errno = BE_DUZ_NO_SYSTEM_ERROR;
    EXPECT_STREQ(BE_DUZ_get_system_error(text), "");
    errno = ENOENT;
    EXPECT_STREQ(BE_DUZ_get_system_error(text), std::strerror(ENOENT));
}

TEST(WorkFileNames, ProcidNameIsUpperCasedWithTheRunNumberReadAsAnInteger) {
    struct Case {
        const char* orderno;
        const char* runno;
        const char* path;
    } cases[] = {
        {"a0b1", "002", "./procid/A0B1_2.DAT"},
        {"0001A", "003", "./procid/0001A_3.DAT"},
        {"zz", "15", "./procid/ZZ_15.DAT"},
        {"x", "junk", "./procid/X_0.DAT"},
    };
    for (const Case& c : cases) {
        PATHNAME_D_typ path = "";
        BE_DUZ_build_procid_fname(path, c.orderno, c.runno);
        EXPECT_STREQ(path, c.path) << c.orderno << " " << c.runno;
    }
}

TEST_F(ErrorHelperTest, BackupNamePrefersTheAgentsFourDigitFileAndFallsBackToTwoDigits) {
    struct Case {
        const char* orderno;
        const char* runno;
        const char* existing;  // relative to the home, or null
        const char* path;
    } cases[] = {
        {"a0B1", "37", nullptr, "./backup/a0B1_11.dsect"},
        {"a0B1", "1296", nullptr, "./backup/a0B1_00.dsect"},
        {"X", "35", nullptr, "./backup/X_0z.dsect"},
        {"X", "35", "backup/X_000z.dsect", "./backup/X_000z.dsect"},
    };
    for (const Case& c : cases) {
        if (c.existing) home.write_file(c.existing, "");
        PATHNAME_D_typ path = "stale";
        BE_DUZ_build_backup_fname(path, c.orderno, c.runno);
        EXPECT_STREQ(path, c.path) << c.orderno << " " << c.runno;
    }
}

TEST_F(ErrorHelperTest, SysoutNameTakesItsPrefixFromTheOebsTable) {
    struct Case {
        const char* table;  // content of ./data/OEBS.dat, null for none
        const char* jobname;
        const char* memname;
        const char* path;
    } cases[] = {
        {nullptr, "Pay", "Mem", "./sysout/A0B1_2.DAT"},
        {"SYSOUT_NAME JOBNAME\n", "", "Mem", "./sysout/job_A0B1_2.DAT"},
        {"SYSOUT_NAME JOBNAME\n", nullptr, "Mem", "./sysout/job_A0B1_2.DAT"},
        {"SYSOUT_NAME JOBNAME\n", "Nightly_Pay", "Mem", "./sysout/Nightly_Pay_A0B1_2.DAT"},
        {"SYSOUT_NAME MEMNAME\n", "Job", "Pay_Run", "./sysout/Pay_Run_A0B1_2.DAT"},
        {"SYSOUT_NAME MEMNAME\n", "Job", "", "./sysout/mem_A0B1_2.DAT"},
        {"SYSOUT_NAME OTHER\n", "Job", "Mem", "./sysout/A0B1_2.DAT"},
    };
    for (const Case& c : cases) {
        GM_PARAM_clear();
        std::remove("data/OEBS.dat");
        if (c.table) home.write_file("data/OEBS.dat", c.table);
        OwnedList with_names{
            {"%%ORDERNO", "a0b1"}, {"RUNNO", "002"}, {"JOBNAME", c.jobname ? c.jobname : ""}, {"MEMNAME", c.memname}};
        OwnedList without_names{{"%%ORDERNO", "a0b1"}, {"RUNNO", "002"}};
        PATHNAME_D_typ path = "";
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_build_sysout_fname(c.jobname ? with_names.list() : without_names.list(), path, &error), 0);
        EXPECT_STREQ(path, c.path) << (c.table ? c.table : "no table");
    }
}

TEST(WorkFileNames, SysoutNameNeedsOrderAndRunNumber) {
    OwnedList no_order{{"RUNNO", "1"}};
    OwnedList no_run{{"ORDERNO", "A"}};
    struct Case {
        OwnedList* in;
        const char* text;
    } cases[] = {
        {&no_order, "CM for OEBS: the attribute 'ORDERNO' is mandatory"},
        {&no_run, "CM for OEBS: the attribute 'RUNNO' is mandatory"},
    };
    for (Case& c : cases) {
        PATHNAME_D_typ path = "untouched";
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_build_sysout_fname(c.in->list(), path, &error), 2);
        EXPECT_EQ(error.code, 2u);
        EXPECT_STREQ(error.text, c.text);
        EXPECT_STREQ(path, "untouched");
    }
}

TEST_F(ErrorHelperTest, WorkFileNamesNeverLeaveTheirFolder) {
    // Order numbers and job names are joined to ./procid, ./sysout and ./backup: one holding a
    // '/' gives no path (procid, backup) or a refusal (sysout), never a file elsewhere.
    home.write_file("data/OEBS.dat", "SYSOUT_NAME JOBNAME\n");
    struct Case {
        const char* orderno;
        const char* jobname;
        bool order_refused;
    } cases[] = {
        {"../../data/x", "Pay", true},
        {"/tmp/x", "Pay", true},
        {"A0B1", "../../data/Pay", false},
        {"A0B1", "a/b", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.orderno) + " " + c.jobname);
        PATHNAME_D_typ path = "untouched";
        BE_DUZ_build_procid_fname(path, c.orderno, "1");
        EXPECT_EQ(path[0] == '\0', c.order_refused) << path;
        std::strcpy(path, "untouched");
        BE_DUZ_build_backup_fname(path, c.orderno, "1");
        EXPECT_EQ(path[0] == '\0', c.order_refused) << path;
        OwnedList job{{"ORDERNO", c.orderno}, {"RUNNO", "1"}, {"JOBNAME", c.jobname}};
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_build_sysout_fname(job.list(), path, &error), 1);
        EXPECT_NE(std::string(error.text).find("would leave ./sysout"), std::string::npos) << error.text;
    }
}

TEST_F(ErrorHelperTest, ProcidFileIsFoundByOrderNumberAlone) {
    home.write_file("procid/0001B_1.DAT", "x 1\n");
    PATHNAME_D_typ path = "untouched";
    BE_DUZ_build_procid_fname2(path, "0001A");
    EXPECT_STREQ(path, "untouched");
    home.write_file("procid/0001A_7.DAT", "x 1\n");
    BE_DUZ_build_procid_fname2(path, "0001A");
    EXPECT_STREQ(path, "./procid/0001A_7.DAT");
}

TEST_F(ErrorHelperTest, FileGetReadsOneKeyOfAProcidFile) {
    home.write_file("procid/A_1.DAT", "DUZ-INSTANCE PROD\nPROCID 4711\n");
    char value[11] = "";
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_file_get("./procid/A_1.DAT", "DUZ-INSTANCE", 10, value, &error), 0);
    EXPECT_STREQ(value, "PROD");
    EXPECT_EQ(BE_DUZ_file_get("./procid/A_1.DAT", "PROCID", 2, value, &error), 0);
    EXPECT_STREQ(value, "47");

    EXPECT_EQ(BE_DUZ_file_get("./procid/A_1.DAT", "NOPE", 10, value, &error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Can not retrive value of attribute 'NOPE' from ./procid/A_1.DAT file");
    EXPECT_EQ(BE_DUZ_file_get("./procid/missing.DAT", "PROCID", 10, value, &error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Failed to load file: './procid/missing.DAT'");
    EXPECT_EQ(error.code, 1u);
}

TEST_F(ErrorHelperTest, AppendFileLeavesTheAgentsArrayAloneAndFreesOnlyItsOwn) {
    home.write_file("procid/A_1.DAT", "PROCID 4711\nDUZ-TASKTYPE REQUEST\n");
    home.write_file("procid/B_1.DAT", "DUZ-APPID 20003\n");
    // The agent's output list: its array lives on the stack here, so freeing it would be caught.
    OwnedList agent_output{{"PROCID", "          "}};
    ZPAAttrList& out = *agent_output.list();
    ZPAAttr* agents_array = out.Attributes;
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_append_file2Attr(&out, "./procid/A_1.DAT", &error), 0);
    ASSERT_EQ(out.Count, 3);
    EXPECT_NE(out.Attributes, agents_array);
    EXPECT_STREQ(agents_array[0].Name, "PROCID");  // untouched, still the agent's
    EXPECT_STREQ(out.Attributes[1].Name, "PROCID");
    EXPECT_STREQ(out.Attributes[1].Value, "4711");
    EXPECT_STREQ(out.Attributes[2].Name, "DUZ-TASKTYPE");

    // Growing the plug-in's own array again releases it (leak detection sees the rest).
    ASSERT_EQ(BE_DUZ_append_file2Attr(&out, "./procid/B_1.DAT", &error), 0);
    ASSERT_EQ(out.Count, 4);
    EXPECT_STREQ(out.Attributes[3].Value, "20003");

    EXPECT_EQ(BE_DUZ_append_file2Attr(&out, "./procid/none.DAT", &error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Failed to load file: './procid/none.DAT'");
    EXPECT_EQ(out.Count, 4);
    ZPAAPI_utils_release_attr(&out);
}

TEST_F(ErrorHelperTest, AppendFileBuildsATemporaryListFromNothing) {
    home.write_file("procid/A_1.DAT", "PROCID 4711\n");
    ZPAAttrList tmp{0, nullptr, 0};
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_append_file2Attr(&tmp, "./procid/A_1.DAT", &error), 0);
    char* value = nullptr;
    ASSERT_EQ(ZPAAPI_UTILS_AttrListValueGet(&tmp, const_cast<char*>("PROCID"), &value), 0);
    EXPECT_STREQ(value, "4711");
    ZPAAPI_utils_release_attr(&tmp);
}

TEST_F(ErrorHelperTest, ReadLineReportsTheEndInsteadOfAStaleLine) {
    struct Step {
        int rc;
        std::string line;
    };
    struct Case {
        std::string content;
        std::vector<Step> steps;
    } cases[] = {
        {"abc\ndef", {{0, "abc"}, {2, "def"}, {2, ""}, {2, ""}}},
        {"abc\n", {{0, "abc"}, {2, ""}}},
        {"\n\nx\n", {{0, ""}, {0, ""}, {0, "x"}, {2, ""}}},
        {"", {{2, ""}}},
        // A line longer than the buffer comes in pieces; nothing is lost, no empty line added.
        {std::string(BE_DUZ_LINE_SIZE - 1, 'a') + "\n" + std::string(BE_DUZ_LINE_SIZE, 'b') + "\nz\n",
         {{0, std::string(BE_DUZ_LINE_SIZE - 1, 'a')},
          {0, std::string(BE_DUZ_LINE_SIZE - 1, 'b')},
          {0, "b"},
          {0, "z"},
          {2, ""}}},
    };
    for (const Case& c : cases) {
        home.write_file("temp/lines.txt", c.content);
        FILE* f = std::fopen("temp/lines.txt", "r");
        ASSERT_NE(f, nullptr);
        std::vector<char> line(BE_DUZ_LINE_SIZE, 'S');
        line[BE_DUZ_LINE_SIZE - 1] = '\0';
        for (const Step& s : c.steps) {
            EXPECT_EQ(BE_DUZ_file_read_line(f, line.data()), s.rc);
            EXPECT_EQ(std::string(line.data()), s.line);
        }
        std::fclose(f);
    }
}

TEST_F(ErrorHelperTest, FileSizeIsDecimalTextAndZeroForAMissingFile) {
    home.write_file("temp/f.txt", std::string(1234, 'x'));
    char size[32] = "";
    EXPECT_EQ(BE_DUZ_get_file_size("temp/f.txt", size), 0);
    EXPECT_STREQ(size, "1234");
    EXPECT_EQ(BE_DUZ_get_file_size("temp/none.txt", size), 1);
    EXPECT_STREQ(size, "0");
}

TEST_F(ErrorHelperTest, AttributeDumpHidesPasswords) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    OwnedList list{{"DB_LOGIN", "apps"}, {"PASSWORD", "s3cret"}};
    BE_DUZ_print_attr(list.list());
    std::string log = testbed::read_diag_log("Oebs_CM");
    EXPECT_NE(log.find("Attributes begin"), std::string::npos);
    EXPECT_NE(log.find("'DB_LOGIN' = 'apps'"), std::string::npos);
    EXPECT_EQ(log.find("s3cret"), std::string::npos);
    EXPECT_NE(log.find("Attributes end"), std::string::npos);
}

}  // namespace
