// Conversions between records, key/value lists and attribute lists, the agent table as attributes,
// and the job-end message built from a key/value list with its unavailability records.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ag_dsect.h"
#include "dsect_appl.h"
#include "dsect_wire.h"
#include "gm_param.h"
#include "os_diag.h"
#include "testbed.h"

namespace {

using testbed::AgentHomeTest;
using wire::record;
using wire::var2;
using wire::var3;
using wire::var4;

struct Rows {
    ZPALIST_handle_typ list{};
    Rows(std::initializer_list<std::pair<const char*, std::string>> rows) {
        for (const auto& r : rows) GM_PARAM_list_append(&list, r.first, r.second.c_str());
    }
    ~Rows() { GM_PARAM_list_clear(&list); }
    std::string all() {
        std::string text;
        char* key = nullptr;
        void* value = nullptr;
        GM_PARAM_list_reset(&list);
        while (GM_PARAM_list_next(&list, &key, &value) == CM_RC_OK)
            text += std::string(key) + "=" + static_cast<char*>(value) + ";";
        return text;
    }
};

std::string attributes(const ZPAAttrList& attrs) {
    std::string text;
    for (int i = 0; i < attrs.Count; ++i)
        text += std::string(attrs.Attributes[i].Name) + "=" + attrs.Attributes[i].Value + "(" +
                std::to_string(attrs.Attributes[i].ValueLen) + ");";
    return text;
}

DSECT_ONE_handle_typ record_of(DSECT_TYPE_typ type, std::vector<std::pair<const char*, const char*>> fields) {
    DSECT_ONE_handle_typ rec;
    DSECT_ONE_init(&rec);
    rec.type = type;
    for (const auto& [name, value] : fields) DSECT_ONE_append_dsect_var(&rec, name, value, DF_VAR4);
    return rec;
}

TEST_F(AgentHomeTest, RecordsBecomeListsAndAttributes) {
    const struct {
        const char* what;
        std::vector<std::pair<const char*, const char*>> fields;
        std::string attrs;
        std::string rows;
    } cases[] = {
        {"only protocol fields", {{"DSECT_A", "1"}, {"DSECT_B", "2"}}, "", "DSECT_TYPE=7;DSECT_A=1;DSECT_B=2;"},
        {"two job variables of one name",
         {{"%%X", "1"}, {"%%X", "2"}},
         "%%X=1(2);%%X=2(2);",
         "DSECT_TYPE=7;%%X=1;%%X=2;"},
        {"two fields of one name", {{"A", "first"}, {"A", "later"}}, "A=first(6);A=later(6);", "DSECT_TYPE=7;A=later;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DSECT_ONE_handle_typ rec = record_of(DSECT_TYP_LONGEX, c.fields);
        ZPAAttrList attrs{};
        ASSERT_EQ(AG_DSECT_dsect2attr(&rec, &attrs), CM_RC_OK);
        EXPECT_EQ(attributes(attrs), c.attrs);
        if (c.attrs.empty()) {
            EXPECT_EQ(attrs.Count, 0);
        }
        AG_DSECT_release_attr(&attrs);
        Rows rows{};
        ASSERT_EQ(AG_DSECT_dsect2list(&rec, &rows.list), CM_RC_OK);
        EXPECT_EQ(rows.all(), c.rows);
        EXPECT_EQ(AG_DSECT_get_dsect_type(&rows.list), 7);
        DSECT_ONE_delete(&rec);
    }
}

TEST_F(AgentHomeTest, ListsAndAttributesGoBothWays) {
    Rows rows{{"A", "1"}, {"DSECT_TYPE", "7"}, {"PASSWORD", "secret"}, {"B", ""}};
    ZPAAttrList attrs{};
    ASSERT_EQ(AG_DSECT_list2attr(&rows.list, &attrs), CM_RC_OK);
    EXPECT_EQ(attributes(attrs), "A=1(2);PASSWORD=secret(7);B=(1);");
    Rows back{{"A", "old"}, {"C", "3"}};
    ASSERT_EQ(AG_DSECT_attr2list(&attrs, &back.list), CM_RC_OK);
    EXPECT_EQ(back.all(), "A=1;C=3;PASSWORD=secret;B=;");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_active_level(0);
    AG_DSECT_print_attr(&attrs);
    const std::string log = testbed::read_diag_log("Oebs_CM");
    EXPECT_NE(log.find("\t'PASSWORD' = 'Private Data'"), std::string::npos);
    EXPECT_NE(log.find("\t'A       ' = '1'"), std::string::npos);
    EXPECT_EQ(log.find("secret"), std::string::npos);
    EXPECT_EQ(AG_DSECT_release_attr(&attrs), CM_RC_OK);

    Rows filtered{};
    ASSERT_EQ(AG_DSECT_delete_entry_prefix(&rows.list, &filtered.list, "DSECT_XYZ", 6), CM_RC_OK);
    EXPECT_EQ(filtered.all(), "A=1;PASSWORD=secret;B=;");
    Rows typed{};
    EXPECT_EQ(AG_DSECT_get_dsect_type(&typed.list), 0);
    AG_DSECT_set_dsect_type(&typed.list, 11);
    EXPECT_EQ(typed.all(), "DSECT_TYPE=11;");
}

// Conversions that build a list a row at a time, with ten thousand rows: all there, in order, the
// rows that were already there set in place.
TEST_F(AgentHomeTest, TenThousandRowsGoThroughEachConversionInOrder) {
    constexpr int kRows = 10000;
    auto key = [](const char* prefix, int i) {
        char text[32];
        std::snprintf(text, sizeof text, "%s%05d", prefix, i);
        return std::string(text);
    };
    Rows source{};
    for (int i = 0; i < kRows; ++i)
        GM_PARAM_list_append(&source.list, key("%%V", i).c_str(), std::to_string(i).c_str());
    auto in_order = [&](ZPALIST_handle_typ& list, int first_row) {
        int i = 0;
        for (ZPALIST_entry_typ* e = list.first; e; e = e->next, ++i) {
            if (i < first_row) continue;
            const auto* row = static_cast<const GM_PARAM_table_row*>(e->ptr);
            if (key("%%V", i - first_row) != row->key || std::to_string(i - first_row) != row->val) return false;
        }
        return i == kRows + first_row && list.count == i;
    };

    ZPAAttrList attrs{};
    ASSERT_EQ(AG_DSECT_list2attr(&source.list, &attrs), CM_RC_OK);
    Rows back{{"FIRST", "f"}, {"%%V00000", "old"}};
    ASSERT_EQ(AG_DSECT_attr2list(&attrs, &back.list), CM_RC_OK);
    EXPECT_TRUE(in_order(back.list, 1));
    ASSERT_NE(back.list.curr, nullptr);  // a set leaves the cursor before the row it added
    EXPECT_EQ(back.list.curr->next->next, nullptr);
    AG_DSECT_release_attr(&attrs);

    DSECT_ONE_handle_typ rec;
    ASSERT_EQ(DSECT_ONE_param2dsect(&source.list, &rec), CM_RC_OK);
    EXPECT_EQ(DSECT_ONE_count(&rec), kRows);
    rec.type = DSECT_TYP_LONGEX;
    Rows fields{};
    ASSERT_EQ(AG_DSECT_dsect2list(&rec, &fields.list), CM_RC_OK);
    EXPECT_TRUE(in_order(fields.list, 1));  // behind the record type's row
    DSECT_ONE_delete(&rec);

    Rows kept{};
    ASSERT_EQ(AG_DSECT_delete_entry_prefix(&fields.list, &kept.list, "DSECT_", 6), CM_RC_OK);
    EXPECT_TRUE(in_order(kept.list, 0));
    EXPECT_EQ(kept.list.curr, nullptr);
}

TEST_F(AgentHomeTest, AgentTableAsAttributesCarriesACodeVersion) {
    const struct {
        std::string table, config, expected;
    } cases[] = {
        {"CODE_VERSION 300\nX 1\n", "CODE_VERSION 400\n", "CODE_VERSION=300(4);X=1(2);"},
        {"X 1\n", "CODE_VERSION 400\n", "X=1(2);CODE_VERSION=400(4);"},
        {"X 1\n", "OTHER 1\n", "X=1(2);CODE_VERSION=225(4);"},
    };
    for (const auto& c : cases) {
        GM_PARAM_clear();
        home.write_file("data/BE1.dat", c.table);
        home.write_file("data/CONFIG.dat", c.config);
        ZPAAttrList attrs{};
        ASSERT_EQ(AG_DSECT_param2attr("BE1", &attrs), CM_RC_OK);
        EXPECT_EQ(attributes(attrs), c.expected);
        AG_DSECT_release_attr(&attrs);
    }
    home.write_file("x.dat", "SECRET 1\n");
    ZPAAttrList attrs{};
    EXPECT_EQ(AG_DSECT_param2attr("../x", &attrs), CM_RC_FAIL);
    EXPECT_EQ(AG_DSECT_param2attr("", &attrs), CM_RC_FAIL);
    EXPECT_EQ(AG_DSECT_param2attr("MISSING", &attrs), CM_RC_FAIL);
}

Rows job_end(const char* type, const char* version) {
    return Rows{{"DSECT_TYPE", type},
                {DSECT_HEADER_KEY_VERSION, version},
                {DSECT_HEADER_KEY_APPID, "CM"},
                {DSECT_HEADER_KEY_SID, "U "},
                {DSECT_HEADER_KEY_MID, "D"},
                {DSECT_HEADER_KEY_LAST, "T"},
                {DSECT_HEADER_KEY_SIID, "100000100001"},
                {DSECT_HEADER_KEY_SEQ, "4"},
                {DSECT_HEADER_KEY_AGENT_NAME, "ag1"},
                {DSECT_HEADER_KEY_ORVS_HOSTNAME, "srv1"},
                {DSECT_HEADER_KEY_APPL_TYPE, "OEBS"},
                {"PROCID", "77"},
                {"TASKTYPE", "J"},
                {"ORDERNO", "0000a"},
                {"RUNNO", "1"},
                {"JOBSTATUS", "E"},
                {"END_TIME", "20260102030405"},
                {"START_TIME", "20260102030000"}};
}

std::string packed(Rows& rows, int new_siid = 0, ZPAUnavError* unav = nullptr, CM_RC expected = CM_RC_OK) {
    DSECT_MSG_typ msg{};
    EXPECT_EQ(AG_DSECT_pack_dsect(&rows.list, &msg, new_siid, unav), expected);
    if (expected != CM_RC_OK) {
        EXPECT_EQ(msg.message, nullptr);
        return "";
    }
    std::string text(msg.message, msg.size);
    DSECT_LIST_delete_message(&msg);
    return text;
}

TEST_F(AgentHomeTest, JobEndMessageTakesItsHeaderFromTheList) {
    const std::string longex05 =
        "0277J0000a00001EN"
        "10" +
        var2("") +
        "10"
        "10"
        "10"
        "0000"
        "20260102030405";
    {
        Rows rows = job_end("7", "05");
        EXPECT_EQ(wire::masked(packed(rows)),
                  wire::header("05", "D", "T", "ag1", "srv1", "", "", "", "U ", "100000100001", "000005") +
                      record(7, longex05));
        const std::string fresh = packed(rows, 1);
        EXPECT_NE(fresh.substr(28, 12), "100000100001");
        EXPECT_EQ(wire::masked(fresh, true), wire::masked(packed(rows)));
    }
    {
        Rows rows = job_end("7", "10");
        GM_PARAM_list_delete(&rows.list, DSECT_HEADER_KEY_SEQ);
        const std::string text = wire::masked(packed(rows));
        EXPECT_EQ(
            text.substr(0, 40 + 6),
            wire::header("10", "D", "T", "ag1", "srv1", "", "OEBS", "", "U ", "100000100001", "000001").substr(0, 46));
    }
    Rows untyped = job_end("7", "05");
    GM_PARAM_list_delete(&untyped.list, "DSECT_TYPE");
    packed(untyped, 0, nullptr, CM_RC_FAIL);
    Rows wrong = job_end("4", "05");
    packed(wrong, 0, nullptr, CM_RC_FAIL);
}

TEST_F(AgentHomeTest, JobStartMessageReportsWhatIsUnavailable) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    std::filesystem::create_directories("data/av_status");
    const std::string shexit = record(11, "0277J0000a00001E20260102030000");
    const std::string rh = record(32, var2("RH_AV_STAT") + "002") + record(28, var4("NAME") + var4("host9")) +
                           record(28, var4("AV_STAT") + var4("U"));
    const std::string cm = record(32, var2("CM_AV_STAT") + "005") + record(28, var4("APPLIC_TYPE") + var4("OEBS")) +
                           record(28, var4("ACC_NAME") + var4("acc1")) + record(28, var4("AV_STAT") + var4("U")) +
                           record(28, var4("ERRID") + var4("12")) + record(28, var4("ERRMSG") + var4("gone"));
    const struct {
        const char* what;
        int context;
        const char* target;
        const char* owner;
        std::string after;
    } cases[] = {
        {"remote host", 1, "host9", nullptr, rh},    {"remote host unknown", 2, nullptr, nullptr, ""},
        {"account", 3, nullptr, "acc1", cm},         {"account unknown", 4, nullptr, nullptr, ""},
        {"invalid context", 5, "host9", "acc1", ""},
    };
    const std::string head = wire::header("05", "D", "T", "ag1", "srv1", "", "", "", "U ", "100000100001", "000005");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rows rows = job_end("11", "05");
        if (c.target) GM_PARAM_list_set(&rows.list, "TARGET_MACHINE", c.target);
        if (c.owner) GM_PARAM_list_set(&rows.list, "OWNER", c.owner);
        ZPAUnavError unav{12, "gone", c.context};
        EXPECT_EQ(wire::masked(packed(rows, 0, &unav)), head + shexit + c.after);
    }
    EXPECT_TRUE(home.exists("data/av_status/OEBS_acc1.unav"));
    EXPECT_NE(testbed::read_diag_log("Oebs_CM").find("Invalid value for UnavError->unavContext: 5"), std::string::npos);
    // A job-end record carries no unavailability records.
    Rows rows = job_end("7", "05");
    GM_PARAM_list_set(&rows.list, "TARGET_MACHINE", "host9");
    ZPAUnavError unav{12, "gone", 1};
    EXPECT_EQ(packed(rows, 0, &unav).find("RH_AV_STAT"), std::string::npos);
}

}  // namespace
