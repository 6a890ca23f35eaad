// Job-script view: the text built from a job's program or request-set definition, read back piece
// by piece, and the failures of the open, read and close, in-process against the stand-in database.
#include <dirent.h>

#include <cstdio>
#include <cstring>

#include <functional>
#include <string>
#include <vector>

#include "be_session_fixture.h"
#include "jcl_text.h"

namespace {

using testbed::program_lines;

using betest::OwnedList;
using oci_standin::Cell;
using oci_standin::Row;

constexpr const char* kProgramMatch = "from fnd_concurrent_programs prog";
constexpr const char* kSetMatch = "from fnd_request_set_stages RSS";

int open_descriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir)) ++count;
        closedir(dir);
    }
    return count;
}

// Attributes over the caller's texts (read-only use by the plug-in).
std::vector<ZPAAttr> as_attrs(const std::vector<std::pair<const char*, const char*>>& items) {
    std::vector<ZPAAttr> attrs;
    for (auto& [name, value] : items)
        attrs.push_back(ZPAAttr{const_cast<char*>(name), static_cast<unsigned short>(std::strlen(value) + 1),
                                const_cast<char*>(value)});
    return attrs;
}

struct ReadBack {
    std::string text;
    int pieces = 0;
    ZPARC last = ZPA_FAIL;
};

class JclTest : public betest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        session_ = open_session();
        connection_.UserData = session_;
    }
    void TearDown() override {
        close_session(session_);
        SessionTest::TearDown();
    }

    void program_job(const char* procid = "procid/ORD1_1.DAT") {
        home.write_file(procid, "DUZ-TASKTYPE REQUEST\nDUZ-APPID 20003\nDUZ-PROGID 31\nDUZ-INSTANCE VIS\n");
    }
    void set_job(const char* task_type = "REQUEST_SET") {
        home.write_file("procid/ORD1_1.DAT",
                        std::string("DUZ-TASKTYPE ") + task_type + "\nDUZ-APPID 0\nDUZ-REQSETID 4411\n");
    }
    static void program_rows(std::vector<Row> rows) {
        oci_standin::add_rule(oci_standin::substring_rule(kProgramMatch, {oci_standin::answer_rows(std::move(rows))}));
    }
    static void set_rows(std::vector<Row> rows) {
        oci_standin::add_rule(oci_standin::substring_rule(kSetMatch, {oci_standin::answer_rows(std::move(rows))}));
    }

    ZPARC open(void** handle, std::initializer_list<std::pair<const char*, const char*>> request = {{"ORDERNO", "ORD1"},
                                                                                                    {"RUNNO", "1"}}) {
        OwnedList in(request);
        return ZPAAPI_JCL_DATA_OPEN(&connection_, handle, in.list(), &error_);
    }
    // Reads the whole text in pieces of piece_size characters until the end or a failure.
    ReadBack read_all(void* handle, std::size_t piece_size) {
        ReadBack back;
        OwnedList in{{"NAVIGATE", "NEXT"}};
        std::string slot(piece_size, '#');
        OwnedList out{{"TEXT", slot.c_str()}};
        ZPAAttrList* out_list = out.list();
        ZPAAttrList* in_list = in.list();
        for (int guard = 0; guard < 10000; ++guard) {
            back.last = ZPAAPI_JCL_DATA_READ(&connection_, handle, in_list, out_list, &error_);
            if (back.last == ZPA_SUCCESS) {
                back.text.append(out_list->Attributes[0].Value, piece_size);
                ++back.pieces;
                continue;
            }
            if (back.last == ZPA_EOS) back.text.append(out_list->Attributes[0].Value);
            break;
        }
        return back;
    }
    std::string open_and_read(std::size_t piece_size) {
        void* handle = nullptr;
        EXPECT_EQ(open(&handle), ZPA_SUCCESS) << error_.text;
        ReadBack back = read_all(handle, piece_size);
        EXPECT_EQ(back.last, ZPA_EOS) << error_.text;
        EXPECT_EQ(ZPAAPI_JCL_DATA_CLOSE(&connection_, handle, nullptr, &error_), ZPA_SUCCESS);
        return back.text;
    }

    BE_DUZ_Handles* session_ = nullptr;
    ZPAConnHandle connection_{};
    ZPAError error_{};
};

TEST_F(JclTest, SingleProgramReadInPiecesGivesFiveLinesWithNullsEmptyAndLongNamesCut) {
    program_job();
    // A name of 40 characters is cut to 31; NULL columns read as empty text.
    program_rows(
        {{"SQLAP", "APXXTR_INVOICE_REGISTER_DETAILS_REPORT", "APXXTR", "P", "Oracle Reports", Cell(), Cell()}});
    const std::string expected =
        program_lines("APXXTR_INVOICE_REGISTER_DETAILS", "SQLAP", "APXXTR", "Oracle Reports", "", "");
    for (std::size_t piece : {1u, 7u, 64u, 4000u}) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(open_and_read(piece), expected);
    }

    const auto executions = oci_standin::journal().executions;
    ASSERT_FALSE(executions.empty());
    const auto& run = executions.back();
    EXPECT_EQ(run.iters, 0u);
    EXPECT_EQ(bound(kProgramMatch, "APPID"), Cell(20003));
    EXPECT_EQ(bound(kProgramMatch, "PROGID"), Cell(31));
    for (const auto& bind : run.binds) {
        EXPECT_EQ(bind.type, SQLT_INT);
        EXPECT_EQ(bind.size, 4);
    }
    ASSERT_EQ(run.defines.size(), 7u);
    for (const auto& define : run.defines) {
        EXPECT_EQ(define.type, SQLT_STR);
        EXPECT_EQ(define.size, 32);
    }
}

TEST_F(JclTest, RequestSetWritesEachStageLineOnceBeforeTheFirstProgramOfItsStage) {
    set_job();
    // Stage "AB" followed by stage "A": a prefix of the previous stage is still a new stage.
    set_rows({{"FND", "PROG1", "EX1", "P", "Oracle Reports", "F1", "S1", "AB"},
              {"FND", "PROG2", "EX2", "H", "Host", "F2", Cell(), "AB"},
              {"AR", "PROG3", "EX3", "I", "PL/SQL Stored Procedure", Cell(), "run", "A"},
              {"AR", "PROG4", "EX4", "I", "PL/SQL Stored Procedure", "F4", "S4", "A"}});
    const std::string expected = "STAGE NAME  = AB\n" +
                                 program_lines("PROG1", "FND", "EX1", "Oracle Reports", "F1", "S1") +
                                 program_lines("PROG2", "FND", "EX2", "Host", "F2", "") + "STAGE NAME  = A\n" +
                                 program_lines("PROG3", "AR", "EX3", "PL/SQL Stored Procedure", "", "run") +
                                 program_lines("PROG4", "AR", "EX4", "PL/SQL Stored Procedure", "F4", "S4");
    EXPECT_EQ(open_and_read(13), expected);
    EXPECT_EQ(bound("fnd_request_set_stages RSS", "APPID"), Cell(0));
    EXPECT_EQ(bound("fnd_request_set_stages RSS", "SETID"), Cell(4411));
    EXPECT_EQ(oci_standin::journal().executions.back().defines.size(), 8u);
}

TEST_F(JclTest, OtherSetTaskTypeListsProgramsWithoutStageLines) {
    set_job("REQUEST_SET_RUN");
    set_rows({{"FND", "PROG1", "EX1", "P", "Oracle Reports", "F1", "S1", "AB"}});
    EXPECT_EQ(open_and_read(50), program_lines("PROG1", "FND", "EX1", "Oracle Reports", "F1", "S1"));
}

TEST_F(JclTest, BackupFileServesWhenTheProcidFileIsGone) {
    // Run 37 is "11" in two base-36 digits; the order number keeps its case.
    home.write_file("backup/Ord1_11.dsect", "DUZ-TASKTYPE REQUEST\nDUZ-APPID 7\nDUZ-PROGID 8\n");
    program_rows({{"FND", "PROGX", "EXX", "Q", "SQL*Plus", "FX", "SX"}});
    void* handle = nullptr;
    ASSERT_EQ(open(&handle, {{"ORDERNO", "Ord1"}, {"RUNNO", "37"}}), ZPA_SUCCESS) << error_.text;
    EXPECT_EQ(read_all(handle, 1000).text, program_lines("PROGX", "FND", "EXX", "SQL*Plus", "FX", "SX"));
    EXPECT_EQ(ZPAAPI_JCL_DATA_CLOSE(&connection_, handle, nullptr, &error_), ZPA_SUCCESS);
    EXPECT_EQ(bound(kProgramMatch, "PROGID"), Cell(8));
}

TEST_F(JclTest, MemberNamesNameTheJobWhenTheRunNumberIsBelowOne) {
    program_job("procid/LIB7_3.DAT");
    program_rows({{"FND", "PROGM", "EXM", "Q", "SQL*Plus", "FM", "SM"}});
    void* handle = nullptr;
    ASSERT_EQ(open(&handle, {{"ORDERNO", "ORD1"}, {"RUNNO", "0"}, {"MEMLIB", "lib7"}, {"MEMNAME", "003"}}), ZPA_SUCCESS)
        << error_.text;
    EXPECT_EQ(read_all(handle, 1000).text, program_lines("PROGM", "FND", "EXM", "SQL*Plus", "FM", "SM"));
    ZPAAPI_JCL_DATA_CLOSE(&connection_, handle, nullptr, &error_);
}

// Every failing open reports once, hands out no handle and leaves no descriptor open.
TEST_F(JclTest, FailedOpenHandsOutNothingAndLeaksNoDescriptor) {
    using oci_standin::answer_failure;
    using oci_standin::failure_at;
    using oci_standin::Step;
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::vector<std::pair<const char*, const char*>> request;
        ZPARC rc;
        ZPAErrorCode code;
        std::string text;
    };
    const std::vector<std::pair<const char*, const char*>> job{{"ORDERNO", "ORD1"}, {"RUNNO", "1"}};
    auto fail_program = [](Step step, int code, const char* message, unsigned position = 0) {
        auto failure = failure_at(step, code, message);
        failure.position = position;
        oci_standin::add_rule(oci_standin::substring_rule(kProgramMatch, {answer_failure(failure)}));
    };
    const std::vector<Case> cases = {
        {"no session", [this] { connection_.UserData = nullptr; }, job, 1, 1, "Connection is NULL"},
        {"no ORDERNO", [] {}, {{"RUNNO", "1"}}, 1, 1, "the attribute 'ORDERNO' is mandatory"},
        {"no RUNNO", [] {}, {{"ORDERNO", "ORD1"}}, 1, 1, "the attribute 'RUNNO' is mandatory"},
        {"no MEMNAME",
         [] {},
         {{"ORDERNO", "ORD1"}, {"RUNNO", "0"}, {"MEMLIB", "L"}},
         1,
         1,
         "the attribute 'MEMNAME' is mandatory"},
        {"neither file", [] {}, job, 1, 1, "JCL cannot be retrieved. Failed to load file './backup/ORD1_01.dsect'."},
        {"no task type", [this] { home.write_file("procid/ORD1_1.DAT", "DUZ-APPID 1\n"); }, job, 2, 2,
         "keyword DUZ-TASKTYPE not found from './procid/ORD1_1.DAT'"},
        {"no program id", [this] { home.write_file("procid/ORD1_1.DAT", "DUZ-TASKTYPE REQUEST\nDUZ-APPID 1\n"); }, job,
         2, 2, "keyword DUZ-PROGID not found from './procid/ORD1_1.DAT'"},
        {"no set id", [this] { home.write_file("procid/ORD1_1.DAT", "DUZ-TASKTYPE REQUEST_SET\nDUZ-APPID 1\n"); }, job,
         2, 2, "keyword DUZ-REQSETID not found from './procid/ORD1_1.DAT'"},
        {"prepare",
         [&] {
             program_job();
             fail_program(Step::Prepare, 900, "invalid SQL statement");
         },
         job, 1, 900, "ORA-00900: invalid SQL statement\n"},
        {"define",
         [&] {
             program_job();
             fail_program(Step::Define, 1007, "variable not in select list", 6);
         },
         job, 1, 1007, "ORA-01007: variable not in select list\n"},
        {"execute",
         [&] {
             program_job();
             fail_program(Step::Execute, 942, "table or view does not exist");
         },
         job, 1, 942, "ORA-00942: table or view does not exist\n"},
        {"fetch of row 2",
         [this] {
             program_job();
             auto failure = failure_at(Step::Fetch, 1555, "snapshot too old");
             failure.row = 2;
             oci_standin::add_rule(oci_standin::substring_rule(
                 kProgramMatch, {answer_failure(failure, {{"A", "P", "E", "M", "Meaning", "F", "S"},
                                                          {"A", "Q", "E", "M", "Meaning", "F", "S"}})}));
         },
         job, 1, 1555, "ORA-01555: snapshot too old\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        oci_standin::reset();
        std::remove("procid/ORD1_1.DAT");
        connection_.UserData = session_;
        c.arrange();
        const int before = open_descriptors();
        error_ = ZPAError{};
        void* handle = &error_;  // must come back null
        std::vector<ZPAAttr> attrs = as_attrs(c.request);
        ZPAAttrList request{static_cast<int>(attrs.size()), attrs.data(), 0};
        EXPECT_EQ(ZPAAPI_JCL_DATA_OPEN(&connection_, &handle, &request, &error_), c.rc);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(error_.code, c.code);
        EXPECT_EQ(std::string(error_.text), "CM for OEBS: " + c.text);
        EXPECT_EQ(open_descriptors(), before);
    }
}

TEST_F(JclTest, ReadRefusesWhatItCannotServe) {
    program_job();
    program_rows({{"FND", "P", "E", "M", "Meaning", "F", "S"}});
    void* handle = nullptr;
    ASSERT_EQ(open(&handle), ZPA_SUCCESS) << error_.text;
    struct Case {
        const char* name;
        void* handle;
        std::vector<std::pair<const char*, const char*>> in, out;
        ZPARC rc;
        ZPAErrorCode code;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"null handle", nullptr, {{"NAVIGATE", "NEXT"}}, {{"TEXT", "xxxx"}}, 1, 1, "JCL_handle Pointer is NULL."},
        // A missing attribute fails the read (the code keeps the look-up's 2): never the end of the text.
        {"no NAVIGATE", handle, {}, {{"TEXT", "xxxx"}}, 1, 2, "keyword NAVIGATE not found"},
        {"lower-case next",
         handle,
         {{"NAVIGATE", "next"}},
         {{"TEXT", "xxxx"}},
         1,
         1,
         "'NAVIGATE' value 'next' is invalid"},
        {"no TEXT slot", handle, {{"NAVIGATE", "NEXT"}}, {{"OTHER", "xxxx"}}, 1, 2, "keyword TEXT not found"},
        {"slot without room", handle, {{"NAVIGATE", "NEXT"}}, {{"TEXT", ""}}, 1, 1, "keyword TEXT size not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> values;
        for (auto& [n, v] : c.out) values.emplace_back(v);
        std::vector<ZPAAttr> in_attrs = as_attrs(c.in), out_attrs;
        for (std::size_t i = 0; i < c.out.size(); ++i)
            out_attrs.push_back(ZPAAttr{const_cast<char*>(c.out[i].first),
                                        static_cast<unsigned short>(values[i].size() + 1), values[i].data()});
        ZPAAttrList in{static_cast<int>(in_attrs.size()), in_attrs.empty() ? nullptr : in_attrs.data(), 0};
        ZPAAttrList out{static_cast<int>(out_attrs.size()), out_attrs.data(), 0};
        error_ = ZPAError{};
        EXPECT_EQ(ZPAAPI_JCL_DATA_READ(&connection_, c.handle, &in, &out, &error_), c.rc);
        EXPECT_EQ(error_.code, c.code);
        EXPECT_EQ(std::string(error_.text), std::string("CM for OEBS: ") + c.text);
    }
    // None of the refusals moved the text: it is still read whole, and reading past its end gives 2.
    EXPECT_EQ(read_all(handle, 500).text, program_lines("P", "FND", "E", "Meaning", "F", "S"));
    ReadBack after = read_all(handle, 500);
    EXPECT_EQ(after.last, ZPA_EOS);
    EXPECT_EQ(after.text, "");
    EXPECT_EQ(ZPAAPI_JCL_DATA_CLOSE(&connection_, handle, nullptr, &error_), ZPA_SUCCESS);
}

TEST_F(JclTest, ActionWriteAndCloseAnswerAsTheInterfaceRequires) {
    OwnedList none{};
    EXPECT_EQ(ZPAAPI_JCL_ACTION(&connection_, const_cast<char*>("RUN"), none.list(), none.list(), &error_),
              ZPA_NOT_FOUND);
    EXPECT_EQ(error_.code, 3u);
    EXPECT_STREQ(error_.text, "CM for OEBS: JCL action RUN is not implemented yet");

    error_ = ZPAError{};
    EXPECT_EQ(ZPAAPI_JCL_DATA_WRITE(&connection_, nullptr, none.list(), &error_), ZPA_SUCCESS);
    EXPECT_EQ(error_.code, 0u);

    EXPECT_EQ(ZPAAPI_JCL_DATA_CLOSE(&connection_, nullptr, none.list(), &error_), ZPA_FAIL);
    EXPECT_EQ(error_.code, 1u);
    EXPECT_STREQ(error_.text, "CM for OEBS: JCL_handle Pointer is NULL.");
}

TEST_F(JclTest, EmptyDefinitionGivesAnEmptyText) {
    program_job();
    program_rows({});
    EXPECT_EQ(open_and_read(10), "");
}

}  // namespace
