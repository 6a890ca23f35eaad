// Messages: starting one (agent name and server host), packing it, parsing a received one, and the
// runs of records that the readers of nested records measure and cut.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "dsect_appl.h"
#include "dsect_list.h"
#include "dsect_wire.h"
#include "gm_param.h"
#include "testbed.h"

namespace {

using testbed::AgentHomeTest;

std::string text_of(const DSECT_MSG_typ& msg) { return std::string(msg.message, msg.size); }

DSECT_LIST_handle_typ started(const char* agent = "agent1", const char* host = "server1", int new_siid = 0) {
    DSECT_LIST_handle_typ list;
    EXPECT_EQ(
        DSECT_LIST_create(&list, new_siid, "10", "CM", "U ", "R", "T", "100000100001", 1, agent, host, "", "", ""),
        CM_RC_OK);
    std::memcpy(list.header.timestmp, "20260102030405", 15);
    return list;
}

TEST_F(AgentHomeTest, HeaderOnlyMessagePacksToTheHeaderAndParsesWithoutRecords) {
    DSECT_LIST_handle_typ list = started();
    DSECT_MSG_typ msg{};
    ASSERT_EQ(DSECT_LIST_mk_msg(&list, &msg), CM_RC_OK);
    EXPECT_EQ(text_of(msg), wire::header("10"));
    EXPECT_EQ(msg.message[msg.size], '\0');

    DSECT_LIST_handle_typ back;
    ASSERT_EQ(DSECT_LIST_mk_from_msg(&back, &msg), CM_RC_OK);
    int count = -1;
    DSECT_LIST_count(&back, &count);
    EXPECT_EQ(count, 0);
    EXPECT_STREQ(back.header.agent_name, "agent1");
    EXPECT_STREQ(back.header.appl_type, "OS");
    DSECT_HEADER_typ header;
    DSECT_ONE_handle_typ record;
    ASSERT_EQ(DSECT_LIST_msg_get_dsect(&msg, &header, &record), CM_RC_OK);
    EXPECT_EQ(DSECT_ONE_count(&record), 0);
    EXPECT_EQ(DSECT_LIST_delete_message(&msg), CM_RC_OK);
    EXPECT_EQ(msg.size, 0u);
    EXPECT_EQ(DSECT_LIST_delete_message(&msg), CM_RC_FAIL);
    DSECT_LIST_delete(&list);
}

TEST_F(AgentHomeTest, RecordsComeBackInOrder) {
    DSECT_LIST_handle_typ list = started();
    const char* texts[] = {"first", "second", "third"};
    for (const char* t : texts) {
        DSECT_ONE_handle_typ record;
        ASSERT_EQ(DSECT_APPL_create_text("10", &record, t), CM_RC_OK);
        ASSERT_EQ(DSECT_LIST_append(&list, &record), CM_RC_OK);
        DSECT_ONE_delete(&record);
    }
    DSECT_MSG_typ msg{};
    ASSERT_EQ(DSECT_LIST_mk_msg(&list, &msg), CM_RC_OK);
    EXPECT_EQ(text_of(msg), wire::header("10") + wire::record(17, wire::var5("first")) +
                                wire::record(17, wire::var5("second")) + wire::record(17, wire::var5("third")));
    DSECT_LIST_handle_typ back;
    ASSERT_EQ(DSECT_LIST_mk_from_msg(&back, &msg), CM_RC_OK);
    std::string seen;
    DSECT_ONE_handle_typ record;
    while (DSECT_LIST_getnext(&back, &record) == CM_RC_OK) {
        char* value = nullptr;
        DSECT_ONE_get_key_value(&record, "TEXT", &value);
        seen += std::string(value) + ";";
        DSECT_ONE_delete(&record);
    }
    EXPECT_EQ(seen, "first;second;third;");
    DSECT_LIST_delete(&back);
    DSECT_LIST_delete(&list);
    DSECT_LIST_delete_message(&msg);
}

TEST_F(AgentHomeTest, TenThousandRecordsParseAndUnpackInOrder) {
    constexpr int kRecords = 10000;
    std::string records;
    for (int i = 0; i < kRecords; ++i) records += wire::record(17, wire::var5(std::to_string(i)));
    auto in_order = [&](DSECT_LIST_handle_typ& list) {
        int count = -1;
        DSECT_LIST_count(&list, &count);
        if (count != kRecords || list.handle.curr != nullptr) return false;
        DSECT_ONE_handle_typ record;
        for (int i = 0; i < kRecords; ++i) {
            if (DSECT_LIST_getnext(&list, &record) != CM_RC_OK) return false;
            char* value = nullptr;
            DSECT_ONE_get_key_value(&record, "TEXT", &value);
            const bool same = value && std::to_string(i) == value;
            DSECT_ONE_delete(&record);
            if (!same) return false;
        }
        return true;
    };
    wire::Msg msg(wire::header("10") + records);
    DSECT_LIST_handle_typ list;
    ASSERT_EQ(DSECT_LIST_mk_from_msg(&list, &msg.msg), CM_RC_OK);
    EXPECT_TRUE(in_order(list));
    DSECT_LIST_delete(&list);

    char* pos = msg.msg.message + wire::header("10").size();
    ASSERT_EQ(DSECT_LIST_unpack("10", &pos, &list, kRecords), CM_RC_OK);
    EXPECT_EQ(pos, msg.msg.message + msg.msg.size);
    EXPECT_TRUE(in_order(list));
    DSECT_LIST_delete(&list);
}

TEST_F(AgentHomeTest, OneStrayByteAfterTheLastRecordParsesMoreDoNot) {
    const std::string base = wire::header("06") + wire::record(17, wire::var5("x"));
    for (int stray = 0; stray <= 5; ++stray) {
        SCOPED_TRACE(stray);
        wire::Msg msg(base + std::string(static_cast<std::size_t>(stray), '0'));
        DSECT_LIST_handle_typ list;
        EXPECT_EQ(DSECT_LIST_mk_from_msg(&list, &msg.msg), stray <= 1 ? CM_RC_OK : CM_RC_FAIL);
        int count = -1;
        DSECT_LIST_count(&list, &count);
        EXPECT_EQ(count, stray <= 1 ? 1 : 0);
        DSECT_LIST_delete(&list);
    }
}

TEST_F(AgentHomeTest, ARecordSizePastTheEndFailsTheParse) {
    for (const std::string& last :
         {std::string("170099") + "00005abc", std::string("17aaaz00005abc"), std::string("17-00100005abc")}) {
        wire::Msg msg(wire::header("06") + last);
        DSECT_LIST_handle_typ list;
        EXPECT_EQ(DSECT_LIST_mk_from_msg(&list, &msg.msg), CM_RC_FAIL) << last;
        EXPECT_EQ(DSECT_LIST_unpack_msg(&list, &msg.msg), CM_RC_FAIL) << last;
    }
    // A NUL inside the message ends its text where the size says more.
    std::string text = wire::header("06") + wire::record(17, wire::var5("abc"));
    text[text.size() - 2] = '\0';
    wire::Msg msg(text);
    DSECT_LIST_handle_typ list;
    EXPECT_EQ(DSECT_LIST_mk_from_msg(&list, &msg.msg), CM_RC_FAIL);
}

TEST_F(AgentHomeTest, ServerHostFallsBackToTheAgentName) {
    const struct {
        std::string config;
        const char* agent;
        int new_siid;
        std::string agent_name;
        std::string host;
    } cases[] = {
        {"X 1\n", "agent1", 0, "agent1", "agent1"},
        {"X 1\n", "agent1", 1, "agent1", "agent1"},
        {"ORVSHOST srv9\n", "agent1", 0, "agent1", "srv9"},
        {"LOGICAL_AGENT_NAME logical\n", "", 1, "logical", "logical"},
    };
    for (const auto& c : cases) {
        GM_PARAM_clear();
        home.write_file("data/CONFIG.dat", c.config);
        DSECT_LIST_handle_typ list;
        ASSERT_EQ(
            DSECT_LIST_create(&list, c.new_siid, "06", "CM", "U ", "R", "T", "OLDSIID", 1, c.agent, "", "", "", ""),
            CM_RC_OK);
        EXPECT_EQ(list.header.agent_name, c.agent_name);
        EXPECT_EQ(list.header.orvhost, c.host);
        EXPECT_EQ(std::string(list.header.siid) == "OLDSIID", c.new_siid == 0);
    }
    GM_PARAM_clear();
    home.write_file("data/CONFIG.dat", "X 1\n");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    DSECT_LIST_handle_typ list;
    ASSERT_EQ(DSECT_LIST_create(&list, 0, "06", "CM", "U ", "R", "T", "", 1, "", nullptr, "", "", ""), CM_RC_OK);
    EXPECT_STREQ(list.header.agent_name, host);
    EXPECT_STREQ(list.header.orvhost, host);
}

TEST_F(AgentHomeTest, RunsStopAtTheNulAndMeasureLongRecordsByTheirBase26Size) {
    DSECT_ONE_handle_typ big;
    ASSERT_EQ(DSECT_APPL_create_setvar("10", &big, "%%BIG", std::string(9990, 'v').c_str()), CM_RC_OK);
    int big_len = 0;
    ASSERT_EQ(DSECT_ONE_evallen(&big, &big_len), CM_RC_OK);
    std::string packed(static_cast<std::size_t>(big_len) + 1, '\0');
    ASSERT_EQ(DSECT_ONE_pack(&big, packed.data(), big_len + 1), CM_RC_OK);
    packed.resize(static_cast<std::size_t>(big_len));
    EXPECT_GT(big_len, 10006);
    EXPECT_NE(packed[2], '0');  // a base-26 size
    DSECT_ONE_delete(&big);

    const std::string small = wire::record(17, wire::var5("x"));
    std::string run = small + packed + small;
    int size = 0;
    ASSERT_EQ(DSECT_LIST_msg_get_size(run.data(), 999, &size), CM_RC_OK);
    EXPECT_EQ(size, static_cast<int>(run.size()));
    ASSERT_EQ(DSECT_LIST_msg_get_size(run.data(), 2, &size), CM_RC_OK);
    EXPECT_EQ(size, static_cast<int>(small.size() + packed.size()));

    char* pos = run.data();
    DSECT_LIST_handle_typ list;
    ASSERT_EQ(DSECT_LIST_unpack("10", &pos, &list, 999), CM_RC_OK);
    EXPECT_EQ(pos, run.data() + run.size());
    EXPECT_STREQ(list.header.version, "10");
    int count = 0;
    DSECT_LIST_count(&list, &count);
    EXPECT_EQ(count, 3);
    DSECT_LIST_delete(&list);

    std::string cut = small + packed.substr(0, 100);
    pos = cut.data();
    EXPECT_EQ(DSECT_LIST_msg_get_size(cut.data(), 999, &size), CM_RC_FAIL);
    EXPECT_EQ(DSECT_LIST_unpack("10", &pos, &list, 999), CM_RC_FAIL);
    EXPECT_EQ(pos, cut.data());
    DSECT_LIST_count(&list, &count);
    EXPECT_EQ(count, 0);
}

}  // namespace
