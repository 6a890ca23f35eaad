// The job's sysout on the stand-in database: the tree table and the log and output files read
// through the package, the directory objects, and the entry points that open, read, close, move,
// copy and clear the sysout.
#include "be_job_fixture.h"
#include "gm_param.h"
#include "testbed.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using betest::Pairs;
using oci_standin::Answer;
using oci_standin::answer_rows;
using oci_standin::Cell;
using oci_standin::out_value;
using oci_standin::Row;
using oci_standin::Rule;
using oci_standin::substring_rule;

constexpr const char* kSysout = "sysout/ORDX_1.DAT";
constexpr const char* kHeader =
    " PROGRAM NAME  |   APP NAME    |  REQUEST ID   |PARENT REQUEST |   START TIME   |    END TIME    |    STATUS     "
    "|MESSAGE\n";
constexpr const char* kRoot =
    "Month End Close|SQLGL          |2000           |2000           |2025/01/01 10:00|2025/01/01 10:05|NORMAL         "
    "|Normal completion\n";
constexpr const char* kImport =
    "Journal Import |SQLGL          |2001           |2000           |                |2025/01/01 10:03|WARNING        "
    "|Some lines rejected\n";
constexpr const char* kBalance =
    "Trial Balance  |SQLGL          |2002           |2000           |2025/01/01 10:03|2025/01/01 10:05|NORMAL         |\n";

// A tree row of the output query (13 columns).
Row output_row(int id, const char* parent, const char* status, const char* message, const char* start, const char* end,
               const char* program, const char* out_file, const char* log_file, const char* node = "apphost1") {
    return {id,
            std::string("PARENT:") + parent,
            "C",
            status,
            std::string("MSG:") + message,
            std::string("NULL=") + start,
            std::string("NULL=") + end,
            "SQLGL",
            program,
            std::string("NULL=") + out_file,
            std::string("NULL=") + log_file,
            "N",
            node};
}

Answer line(int rc, const char* value = nullptr) {
    Answer answer;
    answer.outs["rc"] = out_value(Cell(rc));
    if (value != nullptr) answer.outs["pvalue"] = out_value(Cell(value));
    return answer;
}

// Whether a build left a temporary file beside the sysout.
bool temporary_file_left() {
    for (const auto& entry : std::filesystem::directory_iterator("sysout"))
        if (entry.path().filename().string().rfind(".ORDX_1.DAT.tmp", 0) == 0) return true;
    return false;
}

std::string read_all(void* handle) {
    std::string content;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, static_cast<FILE*>(handle))) > 0;)
        content.append(buffer, n);
    return content;
}

class Sysout : public betest::JobTest {
protected:
    void SetUp() override {
        betest::JobTest::SetUp();
        home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\nDUZ-LOAD_DBPKG Y\n");
        home.write_file("procid/ORDX_1.DAT", "PROCID  2000\nDUZ-INSTANCE  VIS\n");
        connection_.UserData = session;
    }
    // The three requests, the database host, the package and the directory block; rules given
    // first answer first.
    static void database(std::vector<Rule> rules = {}, const char* log_of_root = "/u01/log/l2000.req",
                         const char* node = "apphost1") {
        oci_standin::reset();
        for (auto& rule : rules) oci_standin::add_rule(std::move(rule));
        oci_standin::add_rule(substring_rule(
            "FROM fnd_concurrent_requests WHERE",
            {answer_rows({output_row(2000, "", "C", "Normal completion", "2025/01/01 10:00", "2025/01/01 10:05",
                                     "Month End Close", "/u01/out/o2000.out", log_of_root, node),
                          output_row(2001, "2000", "G", "Some lines rejected", "", "2025/01/01 10:03", "Journal Import",
                                     "", "", node),
                          output_row(2002, "2000", "C", "", "2025/01/01 10:03", "2025/01/01 10:05", "Trial Balance", "",
                                     "", node)})}));
        oci_standin::add_rule(substring_rule("from v$instance", {answer_rows({{"dbhost"}})}));
        oci_standin::add_rule(substring_rule("QEL_file.init", {line(0)}));
        oci_standin::add_rule(substring_rule(
            "QEL_file.read_line", {line(0, "log line one"), line(3), line(7), line(0, std::string(1000, 'x').c_str()),
                                   line(1), line(0, "output line"), line(2)}));
        for (const char* block : {"QEL_FILE.close", "DECLARE v_exist"})
            oci_standin::add_rule(betest::block_rule(block));
    }
    ZPARC open(const Pairs& extra, ZPAError& error, void** handle) {
        Pairs pairs{{"ORDERNO", "ORDX"}, {"RUNNO", "1"}};
        pairs.insert(pairs.end(), extra.begin(), extra.end());
        return ZPAAPI_SYSOUT_DATA_OPEN(&connection_, handle, job(pairs), &error);
    }
    // Opens, closes and returns the sysout file's content.
    std::string build(const Pairs& extra = {{"DUZ-DISPLAY_OUTPUT", "Y"}}) {
        ZPAError error{};
        void* handle = nullptr;
        EXPECT_EQ(open(extra, error, &handle), 0) << error.text;
        if (handle != nullptr) ZPAAPI_SYSOUT_DATA_CLOSE(&connection_, handle, nullptr, &error);
        last_error_ = error.text;
        return home.exists(kSysout) ? home.read_file(kSysout) : "";
    }
    static std::vector<std::string> directories() {
        std::vector<std::string> found;
        for (auto& e : oci_standin::journal().executions)
            if (e.text.find("DECLARE v_exist") != std::string::npos)
                for (auto& b : e.binds) found.push_back(b.value.to_string());
        return found;
    }

    ZPAConnHandle connection_{};
    std::string last_error_;
};

TEST_F(Sysout, TreeTableThenTheLogAndOutputFiles) {
    database();
    const std::string sysout = build();
    EXPECT_EQ(sysout, std::string(kHeader) + kRoot + kImport + kBalance + ">>>>>>>>>>/u01/log/l2000.req\n" +
                          "log line one\n\n......\n" + std::string(1000, 'x') + "\n" +
                          ">>>>>>>>>>/u01/out/o2000.out\noutput line\n");
    EXPECT_EQ(directories(), (std::vector<std::string>{"/u01/log", "/u01/out"}));
    auto inits = executions_of("QEL_file.init");
    ASSERT_EQ(inits.size(), 2u);
    EXPECT_EQ(bind_named(inits[0], "PDIR")->value, Cell("QEL_LOG_DIR"));
    EXPECT_EQ(bind_named(inits[0], "PNAME")->value, Cell("l2000.req"));
    EXPECT_EQ(bind_named(inits[1], "PDIR")->value, Cell("QEL_OUT_DIR"));
    EXPECT_EQ(betest::round_trips_of("FROM fnd_concurrent_requests WHERE"), std::vector<unsigned>{1});  // the prefetch
    // The sysout is built once: a second open runs no statement.
    oci_standin::reset();
    EXPECT_EQ(build(), sysout);
    EXPECT_TRUE(prepared().empty());
}

TEST_F(Sysout, WhichFilesAreCopied) {
    struct Case {
        const char* name;
        Pairs job;
        const char* account_key;  // DUZ-CONFIG_DISPLAYOUTPUT of the account, or null
        bool log;
        bool output;
    } cases[] = {
        {"output asked for", {{"DUZ-DISPLAY_OUTPUT", "yes"}}, nullptr, true, true},
        {"output refused", {{"DUZ-DISPLAY_OUTPUT", "N"}}, "Y", true, false},
        {"account's choice", {}, "Y", true, true},
        {"account's choice with a form version", {{"DUZ-FORM_VERSION", "9.0.21"}}, "Y", true, false},
        {"account says no", {}, "N", true, false},
        {"no log", {{"DUZ-DISPLAY_LOGFILE", "n"}, {"DUZ-DISPLAY_OUTPUT", "Y"}}, nullptr, false, true},
        {"only the root", {{"DUZ-WAITCHILD", "no"}}, nullptr, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(kSysout);
        std::string account = "[VIS]\nDB_SID VIS\nDUZ-LOAD_DBPKG Y\n";
        if (c.account_key) account += std::string("DUZ-CONFIG_DISPLAYOUTPUT ") + c.account_key + "\n";
        home.write_file("data/DUZ_inst.dat", account);
        database();
        const std::string sysout = build(c.job);
        EXPECT_EQ(sysout.find(">>>>>>>>>>/u01/log/") != std::string::npos, c.log) << sysout;
        EXPECT_EQ(sysout.find(">>>>>>>>>>/u01/out/") != std::string::npos, c.output) << sysout;
        EXPECT_EQ(sysout.find("User has requested not to copy Log file into Sysout.") != std::string::npos, !c.log);
        if (c.job.size() == 1 && c.job[0].first == "DUZ-WAITCHILD") {
            EXPECT_EQ(sysout.find("Journal Import"), std::string::npos);
        }
    }
}

TEST_F(Sysout, DirectoriesOfUnixAndWindowsNodes) {
    struct Case {
        const char* log;
        const char* node;
        const char* directory;
    } cases[] = {
        {"/u01/log/l2000.req", "apphost1", "/u01/log"},
        {"C:\\oracle\\log\\l2000.req", "dbhost", "C:\\oracle\\log"},
        {"C:\\oracle\\log\\l2000.req", "127.0.0.1", "////127.0.0.1\\QelLog"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directory);
        std::remove(kSysout);
        database({}, c.log, c.node);
        build({});
        EXPECT_EQ(directories(), std::vector<std::string>{c.directory});
        EXPECT_EQ(bind_named(executions_of("QEL_file.init").at(0), "PNAME")->value, Cell("l2000.req"));
    }
    // Directory objects kept by hand: no block runs.
    std::remove(kSysout);
    home.write_file("data/OEBS.dat", "QEL_UPDATE_MANUALLY_OUT_AND_LOG_DIR Y\n");
    database();
    build({});
    EXPECT_TRUE(directories().empty());
    EXPECT_EQ(executions_of("QEL_file.init").size(), 1u);
}

TEST_F(Sysout, FilesThatCannotBeReadLeaveTheirHeaderOnly) {
    // A directory holding a quote is never pasted into the block; the next file follows.
    database({}, "/u01/lo'g/l2000.req");
    std::string sysout = build();
    EXPECT_NE(sysout.find(">>>>>>>>>>/u01/lo'g/l2000.req\n>>>>>>>>>>/u01/out/o2000.out\nlog line one\n"),
              std::string::npos)
        << sysout;
    EXPECT_EQ(directories(), std::vector<std::string>{"/u01/out"});
    // The error names the file; a later step may have replaced it.
    // A file the package cannot open.
    std::remove(kSysout);
    database({substring_rule("QEL_file.init", {line(1)})});
    sysout = build();
    EXPECT_NE(sysout.find(">>>>>>>>>>/u01/log/l2000.req\n>>>>>>>>>>/u01/out/o2000.out\n"), std::string::npos) << sysout;
    EXPECT_EQ(last_error_, "CM for OEBS: Fail to open outputfile 'o2000.out'");
    // An account without the package: the table only.
    std::remove(kSysout);
    home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\n");
    database();
    sysout = build();
    EXPECT_EQ(sysout, std::string(kHeader) + kRoot + kImport + kBalance);
}

TEST_F(Sysout, QuoteInALogDirectoryIsReportedWithTheFile) {
    database({}, "/u01/lo'g/l2000.req");
    build({});
    EXPECT_EQ(last_error_,
              "CM for OEBS: The directory of file '/u01/lo'g/l2000.req' holds a quote: the file is not read");
}

TEST_F(Sysout, FailedBuildLeavesNoFile) {
    database({substring_rule(
        "FROM fnd_concurrent_requests WHERE",
        {oci_standin::answer_failure(oci_standin::failure_at(oci_standin::Step::Execute, 942, "no table"))})});
    ZPAError error{};
    void* handle = nullptr;
    EXPECT_NE(open({}, error, &handle), 0);
    EXPECT_EQ(handle, nullptr);
    EXPECT_FALSE(home.exists(kSysout));
    // No session: a clear error, no file.
    connection_.UserData = nullptr;
    EXPECT_EQ(open({}, error, &handle), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: No open database session for account 'VIS': the sysout cannot be built");
    EXPECT_FALSE(home.exists(kSysout));
    // An empty sysout (what a build shows for a moment while it creates the file) is no sysout:
    // the open builds it; a build that fails removes it.
    home.write_file(kSysout, "");
    EXPECT_EQ(open({}, error, &handle), 1);
    EXPECT_FALSE(home.exists(kSysout));
    connection_.UserData = session;
    database();
    home.write_file(kSysout, "");
    EXPECT_NE(build().find(kRoot), std::string::npos);
    // No procid file.
    std::remove(kSysout);
    std::remove("procid/ORDX_1.DAT");
    EXPECT_EQ(open({}, error, &handle), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: the attribute 'PROCID' is mandatory");
}

TEST_F(Sysout, FetchErrorInTheTreeFailsTheBuildAndTheNextOpenBuildsAgain) {
    oci_standin::Failure snapshot = oci_standin::failure_at(oci_standin::Step::Fetch, 1555, "snapshot too old");
    snapshot.row = 2;
    const Row root = output_row(2000, "", "C", "Normal completion", "2025/01/01 10:00", "2025/01/01 10:05",
                                "Month End Close", "/u01/out/o2000.out", "/u01/log/l2000.req");
    database(
        {substring_rule("FROM fnd_concurrent_requests WHERE", {oci_standin::answer_failure(snapshot, {root, root})})});
    ZPAError error{};
    void* handle = nullptr;
    EXPECT_NE(open({}, error, &handle), 0);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(error.code, 1555u);
    EXPECT_FALSE(home.exists(kSysout));
    EXPECT_FALSE(temporary_file_left());
    database();
    EXPECT_NE(build().find(kImport), std::string::npos);
}

// A build writes beside the sysout and puts it in place whole: while it reads the files, a reader
// finds no sysout (the first build) or the earlier one whole (a rebuild); a handle opened before a
// rebuild goes on reading what it opened; no temporary file stays behind.
TEST_F(Sysout, ReadersNeverSeeABuildInProgress) {
    std::vector<std::string> seen;
    auto watched = [&](const char* text) {
        Answer answer = line(0, text);
        answer.outs["rc"] = [&](const oci_standin::InBinds&) {
            seen.push_back(home.exists(kSysout) ? home.read_file(kSysout) : "no sysout");
            return Cell(0);
        };
        return substring_rule("QEL_file.read_line", {answer, line(1)});
    };
    database({watched("first")});
    const std::string first = build({});
    EXPECT_NE(first.find(">>>>>>>>>>/u01/log/l2000.req\nfirst\n"), std::string::npos) << first;
    EXPECT_EQ(seen, std::vector<std::string>{"no sysout"});

    ZPAError error{};
    void* before = nullptr;
    ASSERT_EQ(open({}, error, &before), 0) << error.text;
    seen.clear();
    database({watched("second")});
    void* rebuilt = nullptr;
    ASSERT_EQ(BE_DUZ_HndlSysoutWhenDone(&connection_, &rebuilt, job({{"ORDERNO", "ORDX"}, {"RUNNO", "1"}}), 1, &error),
              0)
        << error.text;
    EXPECT_EQ(seen, std::vector<std::string>{first});
    const std::string second = home.read_file(kSysout);
    EXPECT_NE(second.find(">>>>>>>>>>/u01/log/l2000.req\nsecond\n"), std::string::npos) << second;
    EXPECT_EQ(read_all(rebuilt), second);
    EXPECT_EQ(read_all(before), first);
    ZPAAPI_SYSOUT_DATA_CLOSE(&connection_, before, nullptr, &error);
    ZPAAPI_SYSOUT_DATA_CLOSE(&connection_, rebuilt, nullptr, &error);
    EXPECT_FALSE(temporary_file_left());
}

// A link planted at the sysout's name is never read through: the open refuses it, and what the
// link points at stays as it was.
TEST_F(Sysout, LinkAtTheSysoutsNameIsNeverFollowed) {
    home.write_file("secret.txt", "not for the agent\n");
    ASSERT_EQ(::symlink((home.path() + "/secret.txt").c_str(), kSysout), 0);
    database();
    ZPAError error{};
    void* handle = nullptr;
    EXPECT_EQ(open({}, error, &handle), 1);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(home.read_file("secret.txt"), "not for the agent\n");
    EXPECT_TRUE(prepared().empty());
}

// Openers that find no sysout at once: one builds, the others wait for it and read its result whole.
TEST_F(Sysout, OpenersAtOnceShareOneBuild) {
    ZPAAttrList* attributes = job({{"ORDERNO", "ORDX"}, {"RUNNO", "1"}, {"DUZ-DISPLAY_OUTPUT", "Y"}});
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::remove(kSysout);
        database();
        std::vector<std::string> got(8);
        std::vector<std::thread> openers;
        for (std::string& content : got) {
            openers.emplace_back([&] {
                ZPAError error{};
                void* handle = nullptr;
                if (ZPAAPI_SYSOUT_DATA_OPEN(&connection_, &handle, attributes, &error) != 0) {
                    content = error.text;
                    return;
                }
                content = read_all(handle);
                ZPAAPI_SYSOUT_DATA_CLOSE(&connection_, handle, nullptr, &error);
            });
        }
        for (std::thread& opener : openers) opener.join();
        EXPECT_EQ(executions_of("FROM fnd_concurrent_requests WHERE").size(), 1u);
        const std::string sysout = home.read_file(kSysout);
        EXPECT_NE(sysout.find(">>>>>>>>>>/u01/out/o2000.out\noutput line\n"), std::string::npos);
        for (const std::string& content : got) EXPECT_EQ(content, sysout);
    }
    EXPECT_FALSE(temporary_file_left());
}

// ---- reading and the sysout actions ---------------------------------------------------------

class SysoutReading : public Sysout {
protected:
    void* opened(const std::string& content) {
        home.write_file(kSysout, content);
        ZPAError error{};
        void* handle = nullptr;
        EXPECT_EQ(open({}, error, &handle), 0) << error.text;
        return handle;
    }
    ZPARC read(void* handle, betest::OwnedList& out, const char* navigate = "NEXT") {
        ZPAError error{};
        const ZPARC rc =
            ZPAAPI_SYSOUT_DATA_READ(&connection_, handle, job({{"NAVIGATE", navigate}}), out.list(), &error);
        last_error_ = error.text;
        return rc;
    }
};

TEST_F(SysoutReading, LineModeSplitsTreeRowsAndKeepsOtherLinesWhole) {
    const std::string notice = "\nORVANTA/CM for Oracle E-Business Suite has detected the following error:\n";
    void* handle = opened(std::string(kRoot) + "a|b|c\n" + std::string(5000, 'y') + "\n" + notice);
    EXPECT_TRUE(prepared().empty());
    betest::OwnedList out{{"ONSTMT", "..............................."}, {"ONCODE", std::string(5000, '.').c_str()}};
    ZPAAttrList* list = out.list();
    auto value = [&](int i) { return std::string(list->Attributes[i].Value); };
    ASSERT_EQ(ZPAAPI_SYSOUT_DATA_READ(&connection_, handle, job({{"NAVIGATE", "NEXT"}}), list, nullptr), 0);
    EXPECT_EQ(value(0), "Month End Close");
    EXPECT_EQ(value(1), std::string(kRoot).substr(16, std::string(kRoot).size() - 17));
    ASSERT_EQ(ZPAAPI_SYSOUT_DATA_READ(&connection_, handle, job({{"NAVIGATE", "NEXT"}}), list, nullptr), 0);
    EXPECT_EQ(value(0), "Month End Close");  // unchanged
    EXPECT_EQ(value(1), "a|b|c");
    // A line over 4095 characters comes in pieces; nothing is dropped.
    ASSERT_EQ(ZPAAPI_SYSOUT_DATA_READ(&connection_, handle, job({{"NAVIGATE", "NEXT"}}), list, nullptr), 0);
    EXPECT_EQ(value(1), std::string(4095, 'y'));
    ASSERT_EQ(ZPAAPI_SYSOUT_DATA_READ(&connection_, handle, job({{"NAVIGATE", "NEXT"}}), list, nullptr), 0);
    EXPECT_EQ(value(1), std::string(905, 'y'));
    ASSERT_EQ(ZPAAPI_SYSOUT_DATA_READ(&connection_, handle, job({{"NAVIGATE", "NEXT"}}), list, nullptr), 0);
    ASSERT_EQ(ZPAAPI_SYSOUT_DATA_READ(&connection_, handle, job({{"NAVIGATE", "NEXT"}}), list, nullptr), 0);
    EXPECT_EQ(value(1), "ORVANTA/CM for Oracle E-Business Suite has detected the following error:");
    EXPECT_EQ(ZPAAPI_SYSOUT_DATA_READ(&connection_, handle, job({{"NAVIGATE", "NEXT"}}), list, nullptr), 2);
    EXPECT_EQ(ZPAAPI_SYSOUT_DATA_READ(&connection_, handle, job({{"NAVIGATE", "NEXT"}}), list, nullptr), 2);
    ZPAError error{};
    EXPECT_EQ(ZPAAPI_SYSOUT_DATA_CLOSE(&connection_, handle, nullptr, &error), 0);
    EXPECT_EQ(ZPAAPI_SYSOUT_DATA_CLOSE(&connection_, nullptr, nullptr, &error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: File Pointer is NULL.");
}

TEST_F(SysoutReading, ValuesAreCutToTheirSlotsAndBadReadsMoveNothing) {
    void* handle = opened(std::string(kRoot));
    betest::OwnedList small{{"ONCODE", "     "}};
    {
        // Slots of 6 bytes hold 5 characters.
        std::string room(5, ' ');
        betest::OwnedList out{{"ONSTMT", room.c_str()}, {"ONCODE", room.c_str()}};
        EXPECT_EQ(read(handle, out, "PREV"), 1);
        EXPECT_EQ(last_error_, "CM for OEBS: 'NAVIGATE' value 'PREV' is invalid");
        ZPAError error{};
        EXPECT_EQ(ZPAAPI_SYSOUT_DATA_READ(&connection_, handle, job({}), out.list(), &error), 1);  // never the end
        EXPECT_STREQ(error.text, "CM for OEBS: keyword NAVIGATE not found");
        EXPECT_EQ(read(handle, small), 1);
        EXPECT_EQ(last_error_, "CM for OEBS: keyword ONSTMT not found");
        EXPECT_EQ(read(handle, out), 0);
        EXPECT_STREQ(out.list()->Attributes[0].Value, "Month");
        EXPECT_STREQ(out.list()->Attributes[1].Value, "SQLGL");
    }
    ZPAError error{};
    ZPAAPI_SYSOUT_DATA_CLOSE(&connection_, handle, nullptr, &error);
}

TEST_F(SysoutReading, ChunkModeHandsOutFullPiecesAndTerminatesTheLast) {
    void* handle = opened(std::string(25, 'z'));
    std::vector<ZPARC> results;
    std::string text;
    for (int i = 0; i < 3; ++i) {
        betest::OwnedList out{{"TEXT", "          "}};
        results.push_back(read(handle, out));
        text += out.list()->Attributes[0].Value;
    }
    EXPECT_EQ(results, (std::vector<ZPARC>{0, 0, 2}));
    EXPECT_EQ(text, std::string(25, 'z'));
    ZPAError error{};
    ZPAAPI_SYSOUT_DATA_CLOSE(&connection_, handle, nullptr, &error);
}

TEST_F(SysoutReading, ActionsMoveCopyAndClear) {
    home.write_file(kSysout, "output\n");
    ZPAError error{};
    auto act = [&](const char* action, Pairs extra) {
        Pairs pairs{{"ORDERNO", "ORDX"}, {"RUNNO", "1"}};
        pairs.insert(pairs.end(), extra.begin(), extra.end());
        betest::OwnedList out{{"X", ""}};
        std::string name = action;
        error = ZPAError{};
        return ZPAAPI_SYSOUT_ACTION(&connection_, name.data(), job(pairs), out.list(), &error);
    };
    ASSERT_EQ(::mkdir((home.path() + "/saved").c_str(), 0755), 0);
    EXPECT_EQ(act("F", {{"SYSOUT_ACTION_PARAM", home.path() + "/saved"}}), 0) << error.text;
    EXPECT_EQ(home.read_file("saved/ORDX_1.DAT"), "output\n");
    EXPECT_TRUE(home.exists(kSysout));
    EXPECT_EQ(act("N", {{"SYSOUT_ACTION_PARAM", home.path() + "/moved.txt"}}), 0) << error.text;
    EXPECT_EQ(home.read_file("moved.txt"), "output\n");
    EXPECT_FALSE(home.exists(kSysout));
    EXPECT_EQ(act("CLEAR", {}), 1);
    EXPECT_EQ(act("N", {}), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: ZPAAPI_ACTION_SYSOUT_NEWDEST: Can not determine sysprm");
    EXPECT_EQ(act("Z", {}), 4);
    EXPECT_STREQ(error.text, "CM for OEBS: Action 'Z' is not supported");
    unsetenv("ORVANTA");
    EXPECT_EQ(act("D", {}), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Cannot retrieve Product Directory");
}

}  // namespace
