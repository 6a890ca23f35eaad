// Exchanges with the agent peer over a utility line on 127.0.0.1: the request as the peer journals
// it, replies in several messages and in another protocol version, and the peer's misbehaviours
// (a junk block, one byte at a time, a huge announced length, a cut frame, a held reply).
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ag_dsect.h"
#include "agent_peer.h"
#include "gm_param.h"
#include "testbed.h"

namespace {

using nlohmann::json;
using testbed::AgentHomeTest;
using Clock = std::chrono::steady_clock;

agent_peer::Options scripted(const std::string& script) {
    agent_peer::Options options;
    options.script = script;
    return options;
}

// A utility line and session to the peer, configured for version `version`.
struct Line {
    OS_COMM_line_typ line{};
    OS_COMM_sess_typ sess{};
    Line(const testbed::AgentHome& home, int port, const std::string& version = "10") {
        home.write_file("data/CONFIG.dat",
                        "PROTOCOL_VERSION " + version + "\nORVSHOST 127.0.0.1\nLOGICAL_AGENT_NAME ag1\nUTTIMEOUT 2\n");
        GM_PARAM_clear();
        std::string port_text = std::to_string(port);
        char host[] = "127.0.0.1";
        EXPECT_EQ(OS_COMM_init(OS_COMM_CLIENT, OS_COMM_PROC_UT, host, port_text.data(), &line), CM_RC_OK);
        EXPECT_EQ(OS_COMM_sess_open(&line, &sess), CM_RC_OK);
    }
    ~Line() {
        OS_COMM_sess_close(&sess);
        OS_COMM_shut(&line);
    }
    CM_RC request(const std::string& command, DSECT_HEADER_typ& header, const char* last = "T", int new_siid = 1) {
        int seq = 0;
        DSECT_MSG_typ msg{};
        CM_RC rc = AG_DSECT_pack_util_dsect(&header, last, &seq, new_siid, command.c_str(), &msg);
        if (rc == CM_RC_OK) rc = AG_DSECT_comm_message_write(&sess, &msg);
        DSECT_LIST_delete_message(&msg);
        return rc;
    }
};

struct Reply {
    CM_RC rc = 0;
    DSECT_HEADER_typ header{};
    std::vector<std::string> records;  // "type:TEXT or EXITSTATUS"
};

Reply read_reply(OS_COMM_sess_typ& sess) {
    Reply r;
    DSECT_MSG_typ msg{};
    r.rc = AG_DSECT_comm_message_read(&sess, &msg);
    if (r.rc != CM_RC_OK) return r;
    DSECT_LIST_handle_typ list;
    r.rc = DSECT_LIST_mk_from_msg(&list, &msg);
    r.header = list.header;
    DSECT_ONE_handle_typ rec;
    DSECT_ONE_init(&rec);
    while (DSECT_LIST_getnext(&list, &rec) == CM_RC_OK) {
        char* value = nullptr;
        std::string shown = std::to_string(rec.type) + ":";
        if (DSECT_ONE_get_key_value(&rec, "TEXT", &value) == CM_RC_OK ||
            DSECT_ONE_get_key_value(&rec, "EXITSTATUS", &value) == CM_RC_OK)
            shown += value;
        r.records.push_back(shown);
        DSECT_ONE_delete(&rec);
    }
    DSECT_LIST_delete(&list);
    AG_DSECT_message_delete(&msg);
    return r;
}

TEST_F(AgentHomeTest, PeerJournalsTheExactCommandLine) {
    agent_peer::Peer peer({});
    Line line(home, peer.port());
    DSECT_HEADER_typ header{};
    const std::string command = R"(ORVORDER "-folder" "a\"b" "" "c\\")";
    ASSERT_EQ(line.request(command, header), CM_RC_OK);
    const Reply reply = read_reply(line.sess);
    ASSERT_EQ(reply.rc, CM_RC_OK);
    EXPECT_EQ(reply.records, (std::vector<std::string>{"17:ok", "20:Y"}));
    ASSERT_TRUE(peer.wait_for_journal(1, 5));
    const json entry = peer.journal()[0];
    EXPECT_EQ(entry["command"], command);
    EXPECT_EQ(entry["args"], json::array({"ORVORDER", "-folder", "a\"b", "", "c\\"}));
    EXPECT_EQ(entry["utility"], "ORVORDER");
    EXPECT_EQ(entry["siid"], std::string(header.siid));
    EXPECT_EQ(entry["seq"], 1);
    EXPECT_EQ(entry["version"], "10");
    EXPECT_EQ(entry["hostname"], "ag1");
    EXPECT_EQ(entry["last"], json::array({"T"}));
    EXPECT_STREQ(reply.header.siid, header.siid);
    EXPECT_EQ(reply.header.seq, 2);
}

TEST_F(AgentHomeTest, RequestInChunksKeepsItsSessionInstanceId) {
    agent_peer::Peer peer({});
    Line line(home, peer.port());
    DSECT_HEADER_typ header{};
    ASSERT_EQ(line.request(R"(ORVCREATE "-INPUT_FILE")", header, " "), CM_RC_OK);
    const std::string siid = header.siid;
    ASSERT_EQ(line.request("A 1\nB 2\n", header, " ", 0), CM_RC_OK);
    ASSERT_EQ(line.request("", header, "L", 0), CM_RC_OK);
    EXPECT_EQ(read_reply(line.sess).rc, CM_RC_OK);
    ASSERT_TRUE(peer.wait_for_journal(1, 5));
    const json entry = peer.journal()[0];
    EXPECT_EQ(entry["last"], json::array({" ", " ", "L"}));
    EXPECT_EQ(entry["chunks"], json::array({"A 1\nB 2\n", ""}));
    EXPECT_EQ(entry["siid"], siid);
}

TEST_F(AgentHomeTest, ReplyInThreeMessagesAndInItsOwnVersion) {
    agent_peer::Peer peer(scripted(R"({
        "ORVWHY": [{"messages": [
            {"records": [{"type": "TEXT", "text": "one"}]},
            {"records": [{"type": "TEXT", "text": "two"}]},
            {"records": [{"type": "TEXT", "text": "three"}, {"type": "UTILRESP", "status": "Y", "code": 0}]}]}],
        "ORVVAR": [{"messages": [{"version": "04", "mid": "C",
            "records": [{"type": "TEXT", "text": "old layout"}, {"type": "GENERAL_PARAM", "name": "K", "value": "V"}]}]}]
    })"));
    Line line(home, peer.port());
    DSECT_HEADER_typ header{};
    ASSERT_EQ(line.request("ORVWHY", header), CM_RC_OK);
    std::string lasts, texts;
    for (int i = 0; i < 3; ++i) {
        const Reply r = read_reply(line.sess);
        ASSERT_EQ(r.rc, CM_RC_OK);
        lasts += r.header.last;
        texts += r.records[0] + ";";
        EXPECT_EQ(r.header.seq, 2 + i);
    }
    EXPECT_EQ(lasts, "  L");
    EXPECT_EQ(texts, "17:one;17:two;17:three;");

    ASSERT_EQ(line.request("ORVVAR", header), CM_RC_OK);
    const Reply old = read_reply(line.sess);
    ASSERT_EQ(old.rc, CM_RC_OK);
    EXPECT_STREQ(old.header.version, "04");
    EXPECT_STREQ(old.header.mid, "C");
    EXPECT_EQ(old.records, (std::vector<std::string>{"17:old layout", "28:"}));
}

TEST_F(AgentHomeTest, ReadsSurviveThePeersMisbehaviour) {
    const struct {
        const char* what;
        std::string answer;
        CM_RC rc;
        double at_most;  // seconds
    } cases[] = {
        {"junk block first", R"({"junk": true})", CM_RC_OK, 1.0},
        {"one byte at a time", R"({"pieces": 1})", CM_RC_OK, 2.0},
        {"length 0xffffffff", R"({"announce": "ffffffff"})", CM_RC_FAIL, 0.5},
        {"frame cut", R"({"close": "mid_frame"})", CM_RC_FAIL, 0.5},
        {"closed at once", R"({"close": "at_once"})", CM_RC_FAIL, 0.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        agent_peer::Peer peer(scripted(R"({"*": [)" + c.answer + "]}"));
        Line line(home, peer.port());
        DSECT_HEADER_typ header{};
        ASSERT_EQ(line.request("ORVSHOUT", header), CM_RC_OK);
        const auto start = Clock::now();
        EXPECT_EQ(read_reply(line.sess).rc, c.rc);
        EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), c.at_most);
    }
}

TEST_F(AgentHomeTest, HeldReplyTimesOutThenTheNextRequestIsAnswered) {
    agent_peer::Peer peer(scripted(R"({"ORVLOG": [{"hold": true}, {}]})"));
    Line line(home, peer.port());
    DSECT_HEADER_typ header{};
    ASSERT_EQ(line.request("ORVLOG", header), CM_RC_OK);
    const Reply held = read_reply(line.sess);
    EXPECT_EQ(held.rc, CM_RC_FAIL);
    EXPECT_EQ(OS_COMM_sess_error(&line.sess), 46);
    peer.release();
    EXPECT_EQ(read_reply(line.sess).rc, CM_RC_OK);
    ASSERT_EQ(line.request("ORVLOG", header), CM_RC_OK);
    EXPECT_EQ(read_reply(line.sess).rc, CM_RC_OK);
    EXPECT_EQ(peer.journal().back()["call"], 2);
}

TEST_F(AgentHomeTest, PingIsAnsweredAndJournalled) {
    agent_peer::Peer peer({});
    Line line(home, peer.port());
    home.write_file("data/CONFIG.dat", "PROTOCOL_VERSION 10\nORVSHOST 127.0.0.1\nFD_NUMBER 9.0.21\n");
    GM_PARAM_clear();
    DSECT_HEADER_typ header{};
    DSECT_MSG_typ msg{};
    ASSERT_EQ(AG_DSECT_pack_ping_dsect(&header, &msg), CM_RC_OK);
    ASSERT_EQ(AG_DSECT_comm_message_write(&line.sess, &msg), CM_RC_OK);
    DSECT_LIST_delete_message(&msg);
    const Reply reply = read_reply(line.sess);
    ASSERT_EQ(reply.rc, CM_RC_OK);
    EXPECT_EQ(reply.records, (std::vector<std::string>{"9:"}));
    ASSERT_TRUE(peer.wait_for_journal(1, 5));
    EXPECT_EQ(peer.journal()[0]["kind"], "ping");
    EXPECT_EQ(peer.journal()[0]["agent_version"], "0.21");
}

TEST(AgentPeerCommandLine, SplitsAsAReceiverDoes) {
    const struct {
        std::string line;
        std::vector<std::string> words;
    } cases[] = {
        {R"(ORVORDER "a\"b")", {"ORVORDER", "a\"b"}},
        {R"(X "" "c\\")", {"X", "", "c\\"}},
        {R"(X "a\b" "d\\\"e")", {"X", "a\\b", "d\\\"e"}},
        {"X  plain  words", {"X", "plain", "words"}},
    };
    for (const auto& c : cases) EXPECT_EQ(agent_peer::split_command_line(c.line), c.words) << c.line;
}

}  // namespace
