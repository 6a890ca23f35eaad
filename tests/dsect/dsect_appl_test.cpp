// Record-type layouts: the job-end record by protocol version (with its job variables as nested
// records), mandatory rows and capped numbers, the submission reader with its in-stream file, the
// ping and admin readers that take the records following theirs, and lying input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dsect_appl.h"
#include "dsect_list.h"
#include "dsect_wire.h"
#include "gm_36.h"
#include "gm_param.h"
#include "os_diag.h"
#include "os_workfile.h"
#include "testbed.h"

namespace {

using testbed::AgentHomeTest;
using wire::record;
using wire::var2;
using wire::var3;
using wire::var4;
using wire::var5;

struct Rows {
    ZPALIST_handle_typ list{};
    Rows(std::initializer_list<std::pair<const char*, std::string>> rows) {
        for (const auto& r : rows) GM_PARAM_list_append(&list, r.first, r.second.c_str());
    }
    ~Rows() { GM_PARAM_list_clear(&list); }
    void remove(const char* key) { GM_PARAM_list_delete(&list, key); }
    void set(const char* key, const char* value) { GM_PARAM_list_set(&list, key, value); }
};

Rows job_end_rows() {
    return Rows{{"DSECT_TYPE", "7"},   {"PROCID", "12345"}, {"TASKTYPE", "J"},
                {"ORDERNO", "0000a"},  {"RUNNO", "1"},      {"JOBSTATUS", "E"},
                {"EXITSTATUS", "Y"},   {"EXITCODE", "3"},   {"EXITMSG", "done"},
                {"SYSOUTSIZE", "100"}, {"CPUUSED", "7"},    {"ELAPSEDTIME", "12"},
                {"%%A", "1"},          {"%%B", ""},         {"END_TIME", "20260102030405"},
                {"%%C", "three"},      {"CM_STATUS", "OK"}};
}

std::string packed(DSECT_ONE_handle_typ& rec) {
    int length = 0;
    EXPECT_EQ(DSECT_ONE_evallen(&rec, &length), CM_RC_OK);
    std::string buffer(static_cast<std::size_t>(length) + 1, '\0');
    EXPECT_EQ(DSECT_ONE_pack(&rec, buffer.data(), length + 1), CM_RC_OK);
    buffer.resize(static_cast<std::size_t>(length));
    return buffer;
}

std::string field(DSECT_ONE_handle_typ& rec, const char* name) {
    char* value = nullptr;
    return DSECT_ONE_get_key_value(&rec, name, &value) == CM_RC_OK ? value : "<absent>";
}

std::string fields_of(DSECT_ONE_handle_typ& rec) {
    std::string all;
    char* name = nullptr;
    char* value = nullptr;
    DSECT_ONE_reset(&rec);
    while (DSECT_ONE_get_next_var(&rec, &name, &value) == CM_RC_OK) all += std::string(name) + "=" + value + ";";
    return all;
}

TEST_F(AgentHomeTest, JobEndRecordByVersion) {
    const std::string head01 = "12345 J0000a00001EY13";
    const std::string head = "0512345J0000a00001EY13";
    const std::string tail =
        "3100"
        "17"
        "212"
        "0000";
    const std::string vars06 = "002" + record(14, var3("%%A") + var3("1")) + record(14, var3("%%C") + var3("three"));
    const std::string vars08 = "002" + record(14, var3("%%A") + var4("1")) + record(14, var3("%%C") + var4("three"));
    const std::string vars10 = "0" + vars08;
    const struct {
        std::string version;
        bool variables;
        std::string body;
    } cases[] = {
        {"01", true, head01 + var2("done") + tail},
        {"05", true, head + var2("done") + tail + "20260102030405"},
        {"06", false, head + var2("done") + tail + "20260102030405" + "000"},
        {"06", true, head + var2("done") + tail + "20260102030405" + vars06},
        {"07", true, head + var3("done") + tail + "20260102030405" + vars06},
        {"08", true, head + var3("done") + tail + "20260102030405" + vars08},
        {"10", true, head + var3("done") + tail + "20260102030405" + vars10 + var2("OK")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version + (c.variables ? " with variables" : ""));
        Rows rows = job_end_rows();
        if (!c.variables) {
            rows.remove("%%A");
            rows.remove("%%C");
        }
        DSECT_ONE_handle_typ rec;
        ASSERT_EQ(DSECT_APPL_create(c.version.c_str(), &rows.list, &rec), CM_RC_OK);
        std::string text = packed(rec);
        EXPECT_EQ(text, record(7, c.body));
        DSECT_ONE_delete(&rec);

        DSECT_ONE_handle_typ back;
        ASSERT_EQ(DSECT_ONE_unpack(c.version.c_str(), &back, text.data()), CM_RC_OK);
        EXPECT_EQ(field(back, "PROCID"), c.version == "01" ? "12345 " : "12345");
        EXPECT_EQ(field(back, "EXITCODE"), "3");
        EXPECT_EQ(field(back, "END_TIME"), c.version == "01" ? "<absent>" : "20260102030405");
        const bool carried = c.variables && c.version >= "06";
        EXPECT_EQ(field(back, "%%A"), carried ? "1" : "<absent>");
        EXPECT_EQ(field(back, "%%C"), carried ? "three" : "<absent>");
        EXPECT_EQ(field(back, "%%B"), "<absent>");
        EXPECT_EQ(field(back, "CM_STATUS"), c.version == "10" ? "OK" : "<absent>");
        DSECT_ONE_delete(&back);
    }
}

TEST_F(AgentHomeTest, JobEndAndStartRecordsNeedTheirMandatoryRows) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    const struct {
        const char* type;
        const char* missing;
        const char* message;
        const char* version;
    } cases[] = {
        {"7", "TASKTYPE", "TASKTYPE not found.", "06"},
        {"7", "ORDERNO", "ORDERNO not found.", "06"},
        {"7", "RUNNO", "RUNNO not found", "06"},
        {"7", "JOBSTATUS", "JOBSTATUS not found.", "06"},
        {"7", "END_TIME", "END_TIME not found.", "02"},
        {"11", "PROCID", "PROCID not found.", "06"},
        {"11", "START_TIME", "START_TIME not found.", "06"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.missing);
        Rows rows = job_end_rows();
        rows.set("DSECT_TYPE", c.type);
        rows.set("START_TIME", "20260102030000");
        rows.remove(c.missing);
        DSECT_ONE_handle_typ rec;
        EXPECT_EQ(DSECT_APPL_create(c.version, &rows.list, &rec), CM_RC_FAIL);
        EXPECT_EQ(DSECT_ONE_count(&rec), 0);
        EXPECT_NE(testbed::read_diag_log("Oebs_CM").find(c.message), std::string::npos);
    }
    Rows rows = job_end_rows();
    rows.remove("END_TIME");
    DSECT_ONE_handle_typ rec;
    EXPECT_EQ(DSECT_APPL_create("01", &rows.list, &rec), CM_RC_OK);
    DSECT_ONE_delete(&rec);
    rows.remove("DSECT_TYPE");
    EXPECT_EQ(DSECT_APPL_create("06", &rows.list, &rec), CM_RC_FAIL);
    rows.set("DSECT_TYPE", "4");
    EXPECT_EQ(DSECT_APPL_create("06", &rows.list, &rec), CM_RC_FAIL);
}

TEST_F(AgentHomeTest, NumbersTooWideForTheirFieldsAreCappedOrRefused) {
    Rows rows = job_end_rows();
    rows.set("EXITCODE", "1234567890");
    rows.set("SYSOUTSIZE", "99999999999");
    rows.set("CPUUSED", "1234567890");
    rows.set("ELAPSEDTIME", "-123456789");
    DSECT_ONE_handle_typ rec;
    ASSERT_EQ(DSECT_APPL_create("05", &rows.list, &rec), CM_RC_OK);
    EXPECT_EQ(packed(rec), record(7,
                                  "0512345J0000a00001EY"
                                  "9999999999"
                                  "04done"
                                  "9999999999"
                                  "10"
                                  "10"
                                  "0000"
                                  "20260102030405"));
    DSECT_ONE_delete(&rec);
    rows.set("RUNNO", "123456");
    EXPECT_EQ(DSECT_APPL_create("05", &rows.list, &rec), CM_RC_FAIL);
}

TEST_F(AgentHomeTest, JobStartRecordCarriesItsStartTimeAndVariables) {
    Rows rows{{"DSECT_TYPE", "11"},
              {"PROCID", "77"},
              {"TASKTYPE", "J"},
              {"ORDERNO", "0000a"},
              {"RUNNO", "2"},
              {"JOBSTATUS", "R"},
              {"START_TIME", "20260102030000"},
              {"%%X", "y"}};
    DSECT_ONE_handle_typ rec;
    ASSERT_EQ(DSECT_APPL_create("09", &rows.list, &rec), CM_RC_OK);
    EXPECT_EQ(packed(rec), record(11,
                                  "0277J0000a00002R20260102030000"
                                  "001" +
                                      record(14, var3("%%X") + var4("y")) + "00"));
    DSECT_ONE_delete(&rec);
}

std::string submit_body(const std::string& instream) {
    return var2("m1") + var2("j1") + "C" + var3("cmd") + var3("lib") + var3("") + var2("user") + "0000b" + "00002" +
           "L" + var3("") + "00022" + "N" + var5("") + var3("") + var2("") + "N" + "Y" + var4("") + var2("") + "Y" +
           instream + "001" + record(13, "01" + var3("on1") + var3("cd1")) + "001" +
           record(14, var3("%%V") + var4("vv"));
}

std::string instream_file() {
    PATHNAME_D_typ full = {}, name = {};
    OS_FILE_build_filetype("0000b", 2, full, name, OS_FILE_INSTREAM);
    return full;
}

TEST_F(AgentHomeTest, SubmissionWritesItsInStreamScriptWithoutCarriageReturns) {
    std::string text = record(12, submit_body(var5("echo\r\nhi\r\n")));
    DSECT_ONE_handle_typ rec;
    ASSERT_EQ(DSECT_ONE_unpack("08", &rec, text.data()), CM_RC_OK);
    EXPECT_EQ(testbed::read_whole_file(instream_file()), "echo\nhi\n");
    EXPECT_EQ(field(rec, "INSTREAM_SCRIPT"), "echo\r\nhi\r\n");
    EXPECT_EQ(field(rec, "DSECT_ON_COUNT"), "001");
    EXPECT_EQ(field(rec, "DSECT_ON_BUFFER"), record(13, "01" + var3("on1") + var3("cd1")));
    EXPECT_EQ(field(rec, "%%V"), "vv");
    EXPECT_EQ(field(rec, "ORDERNO"), "0000b");
    DSECT_ONE_delete(&rec);

    std::remove(instream_file().c_str());
    std::string big = record(12, "");
    const std::string over(65537, 's');
    std::string body = submit_body(var5(over));
    char size[5];
    GM_36_int_to_base_26(body.size(), size, 4);
    big = "12" + std::string(size, 4) + body;
    ASSERT_EQ(DSECT_ONE_unpack("08", &rec, big.data()), CM_RC_FAIL);
    EXPECT_FALSE(home.exists(instream_file().substr(2)));
    DSECT_ONE_delete(&rec);
    EXPECT_EQ(dsect_appl_instream2file("x", "a/b", 1, 1), CM_RC_FAIL);
}

TEST_F(AgentHomeTest, PingTakesTheGeneralParametersThatFollowItInAMessage) {
    const std::string param = record(28, var4("Agent version") + var4("1.2"));
    const std::string text = wire::header("03") + record(9, "") + param + record(28, var4("K") + var4("V")) +
                             record(17, var4("stop")) + record(28, var4("late") + var4("x"));
    wire::Msg msg(text);
    DSECT_HEADER_typ header;
    DSECT_ONE_handle_typ ping;
    ASSERT_EQ(DSECT_LIST_msg_get_dsect(&msg.msg, &header, &ping), CM_RC_OK);
    EXPECT_EQ(ping.type, DSECT_TYP_PING);
    EXPECT_EQ(fields_of(ping), "Agent version=1.2;K=V;");
    DSECT_ONE_delete(&ping);

    std::string alone = record(9, "");
    ASSERT_EQ(DSECT_ONE_unpack("03", &ping, alone.data()), CM_RC_OK);
    EXPECT_EQ(DSECT_ONE_count(&ping), 0);
    std::string old = record(9, "") + param;
    ASSERT_EQ(DSECT_ONE_unpack("02", &ping, old.data()), CM_RC_OK);
    EXPECT_EQ(DSECT_ONE_count(&ping), 0);
}

std::string admin_record(const std::string& count) {
    return record(30, var4("PARAM") + var4("be1") + var4("ACTION") + var4("DISPLAY") + count);
}

TEST_F(AgentHomeTest, AdminRecordTakesItsParameters) {
    const std::string text = wire::header("06") + admin_record("0002") + record(28, var4("K1") + var4("V1")) +
                             record(17, var5("skipped")) + record(28, var4("K2") + var4("V2"));
    wire::Msg msg(text);
    DSECT_HEADER_typ header;
    DSECT_ONE_handle_typ rec;
    ASSERT_EQ(DSECT_LIST_msg_get_dsect(&msg.msg, &header, &rec), CM_RC_OK);
    EXPECT_EQ(fields_of(rec),
              "DSECT_OBJECT_TYPE=PARAM;DSECT_BE_NAME=be1;DSECT_OBJECT_MODE=ACTION;"
              "DSECT_OBJECT_ACTION=DISPLAY;K1=V1;");
    DSECT_ONE_delete(&rec);

    DSECT_ONE_handle_typ written;
    ASSERT_EQ(DSECT_APPL_create_admin("06", &written, "PARAM", "be1", "ACTION", "DISPLAY", 2), CM_RC_OK);
    EXPECT_EQ(packed(written), admin_record("0002"));
    DSECT_ONE_delete(&written);
}

TEST_F(AgentHomeTest, WritersOfTheRepliesMatchTheirLayouts) {
    const struct {
        std::string wire;
        std::string expected;
    } cases[] = {
        {[] {
             DSECT_ONE_handle_typ r;
             DSECT_APPL_create_utilact("04", &r, "root", "cmd -x", "host1");
             std::string t = packed(r);
             DSECT_ONE_delete(&r);
             return t;
         }(),
         record(19, var2("root") + var2("host1") + var4("cmd -x"))},
        {[] {
             DSECT_ONE_handle_typ r;
             DSECT_APPL_create_utilresp("10", &r, "Y", 12);
             std::string t = packed(r);
             DSECT_ONE_delete(&r);
             return t;
         }(),
         record(20, "Y212")},
        {[] {
             DSECT_ONE_handle_typ r;
             DSECT_APPL_create_orvlog("10", &r, "20260102", "030405", "orvoebs", "0000a", "MSG12345", "hello");
             std::string t = packed(r);
             DSECT_ONE_delete(&r);
             return t;
         }(),
         record(22,
                "2026"
                "0304"
                "or"
                "0000a"
                "MSG1" +
                    var3("hello"))},
        {[] {
             DSECT_ONE_handle_typ r;
             DSECT_APPL_create_general_response("10", &r, 1, "bad", 0);
             std::string t = packed(r);
             DSECT_ONE_delete(&r);
             return t;
         }(),
         record(27, "0001" + var4("bad") + "0000")},
        {[] {
             DSECT_ONE_handle_typ r;
             DSECT_APPL_create_gnrldta("10", &r, "RH_AV_STAT", 2);
             std::string t = packed(r);
             DSECT_ONE_delete(&r);
             return t;
         }(),
         record(32, var2("RH_AV_STAT") + "002")},
    };
    for (const auto& c : cases) EXPECT_EQ(c.wire, c.expected);
}

TEST_F(AgentHomeTest, LyingInputIsRefusedOrStoppedAtTheEnd) {
    const std::string setvar = record(14, var3("%%V") + var4("vv"));
    const std::string job_end_08 = "0512345J0000a00001EY13" + var3("done") +
                                   "3100"
                                   "17"
                                   "212"
                                   "0000"
                                   "20260102030405";
    const struct {
        const char* what;
        std::string text;
        bool ok;
        std::string fields;  // of the first record, when ok
    } cases[] = {
        {"DF_VAR4 count past the end", wire::header("04") + "170007" + "0100abc", false, ""},
        {"record size past the end", wire::header("06") + "170099" + var5("abc"), false, ""},
        {"ping followed by a cut record", wire::header("03") + record(9, "") + "280099" + var4("K"), false, ""},
        {"SETVAR count of 999 with one record", wire::header("08") + record(7, job_end_08 + "999" + setvar), true,
         "%%V=vv"},
        {"admin parameter count of 50 with two",
         wire::header("06") + admin_record("0050") + record(28, var4("K1") + var4("V1")) +
             record(28, var4("K2") + var4("V2")),
         true, "K2=V2"},
        {"track list taken whole", wire::header("06") + record(16, "F00002" + std::string("0900abcdef")), true,
         "DSECT_TRACK_LIST=0900abcdef"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        wire::Msg msg(c.text);
        DSECT_HEADER_typ header;
        DSECT_ONE_handle_typ rec;
        EXPECT_EQ(DSECT_LIST_msg_get_dsect(&msg.msg, &header, &rec), c.ok ? CM_RC_OK : CM_RC_FAIL);
        if (c.ok) {
            EXPECT_NE(fields_of(rec).find(c.fields + ";"), std::string::npos) << fields_of(rec);
        }
        DSECT_ONE_delete(&rec);
    }
}

TEST(DsectVersion, BuiltInText) {
    char text[20];
    DSECT_version(text, sizeof text);
    EXPECT_STREQ(text, "DSECT dll 8.0.00 - ");
}

}  // namespace
