// Framed messages: the frame's bytes, reads that skip junk, take a reply in pieces and refuse
// announced lengths that are too long before waiting or allocating, files; and the builders of the
// utility request, the ping and the replies as the bytes they put on the wire.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ag_dsect.h"
#include "dsect_wire.h"
#include "gm_param.h"
#include "os_proc.h"
#include "testbed.h"

namespace {

using testbed::AgentHomeTest;
using wire::record;
using wire::var2;
using wire::var4;
using wire::var5;
using Clock = std::chrono::steady_clock;

// Two sessions joined by a socket pair, non-blocking as sessions are.
struct Pair {
    OS_COMM_sess_typ a{}, b{};
    explicit Pair(int timeout = 2) {
        int fds[2];
        socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
        for (int fd : fds) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        a.fd = fds[0];
        b.fd = fds[1];
        a.timeout_interval = b.timeout_interval = timeout;
    }
    ~Pair() {
        close(a.fd);
        close(b.fd);
    }
    void raw(const std::string& bytes) const {
        ASSERT_EQ(write(b.fd, bytes.data(), bytes.size()), (ssize_t)bytes.size());
    }
};

std::string frame_of(unsigned size) {
    char buffer[AG_DSECT_FRAME_LEN + 1];
    AG_DSECT_build_gds(buffer, size);
    EXPECT_EQ(buffer[AG_DSECT_FRAME_LEN], '\0');
    return std::string(buffer, AG_DSECT_FRAME_LEN);
}

std::string text_of(const DSECT_MSG_typ& m) { return m.message ? std::string(m.message, m.size) : "<none>"; }

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

TEST(AgentFrame, BytesOfTheFrameAndItsLength) {
    EXPECT_EQ(frame_of(419), std::string("a 01a3\0   ", 10));
    EXPECT_EQ(frame_of(65536), std::string("a 10000\0  ", 10));
    EXPECT_EQ(frame_of(0), std::string("a 0000\0   ", 10));
    EXPECT_EQ(frame_of(0xffffffffu), "a ffffffff");
    const struct {
        std::string frame;
        CM_RC rc;
        unsigned size;
    } cases[] = {{std::string("a 01a3\0   ", 10), CM_RC_OK, 419},
                 {"a 1g23    ", CM_RC_OK, 1},
                 {"a 00FF    ", CM_RC_OK, 255},
                 {"a 123456789", CM_RC_OK, 0x12345678},
                 {"a zz      ", CM_RC_FAIL, 7}};
    for (const auto& c : cases) {
        unsigned size = 7;
        EXPECT_EQ(AG_dsect_parse_gds(c.frame.c_str(), &size), c.rc) << c.frame;
        EXPECT_EQ(size, c.size) << c.frame;
    }
}

TEST_F(AgentHomeTest, ReadSkipsJunkAndTakesAReplyInPieces) {
    Pair pair;
    pair.raw("junkjunk!!" + frame_of(5) + "hello");
    DSECT_MSG_typ msg{};
    ASSERT_EQ(AG_DSECT_comm_message_read(&pair.a, &msg), CM_RC_OK);
    EXPECT_EQ(text_of(msg), "hello");
    EXPECT_EQ(msg.message[msg.size], '\0');
    AG_DSECT_message_delete(&msg);

    const std::string whole = frame_of(11) + "hello world";
    std::thread writer([&] {
        for (char c : whole) {
            pair.raw(std::string(1, c));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    ASSERT_EQ(AG_DSECT_comm_message_read(&pair.a, &msg), CM_RC_OK);
    writer.join();
    EXPECT_EQ(text_of(msg), "hello world");
    AG_DSECT_message_delete(&msg);
    EXPECT_EQ(AG_DSECT_message_delete(&msg), CM_RC_FAIL);
}

TEST_F(AgentHomeTest, ReadsRefuseLengthsTooLongAtOnce) {
    const struct {
        bool keep_frame;
        std::string frame;
    } cases[] = {{false, "a 1000001"}, {false, "a ffffffff"}, {true, "a 7ff8\0   "}, {true, "a ffffffff"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frame);
        Pair pair;
        pair.raw(std::string(c.frame.c_str(), c.frame.size() < 10 ? c.frame.size() : 10) +
                 std::string(10 - std::min<std::size_t>(c.frame.size(), 10), ' ') + "some bytes");
        DSECT_MSG_typ msg{reinterpret_cast<char*>(1), 99};
        const auto start = Clock::now();
        const CM_RC rc =
            c.keep_frame ? AG_DSECT_comm_message_read_all(&pair.a, &msg) : AG_DSECT_comm_message_read(&pair.a, &msg);
        EXPECT_EQ(rc, CM_RC_FAIL);
        EXPECT_LT(seconds_since(start), 0.5);
        EXPECT_EQ(msg.message, nullptr);
        EXPECT_EQ(msg.size, 0u);
    }
}

TEST_F(AgentHomeTest, ReadAllKeepsTheFrameUpToItsBuffer) {
    Pair pair;
    const std::string body(0x7ff7, 'b');
    std::thread writer([&] { pair.raw(frame_of(0x7ff7) + body); });
    DSECT_MSG_typ msg{};
    ASSERT_EQ(AG_DSECT_comm_message_read_all(&pair.a, &msg), CM_RC_OK);
    writer.join();
    EXPECT_EQ(msg.size, 32769u);
    EXPECT_EQ(text_of(msg), frame_of(0x7ff7) + body);
    AG_DSECT_message_delete(&msg);

    // A peer that sends less than it announced: the read waits out the time-out and fails.
    Pair short_pair(1);
    short_pair.raw(frame_of(20) + "short");
    EXPECT_EQ(AG_DSECT_comm_message_read_all(&short_pair.a, &msg), CM_RC_FAIL);
    EXPECT_EQ(AG_DSECT_comm_message_read(&short_pair.a, &msg), CM_RC_FAIL);
    EXPECT_EQ(msg.message, nullptr);
}

TEST_F(AgentHomeTest, FramedMessageInAFile) {
    std::string body = "payload";
    DSECT_MSG_typ out{body.data(), static_cast<unsigned>(body.size())};
    ASSERT_EQ(AG_DSECT_file_write("data/msg.dat", &out), CM_RC_OK);
    EXPECT_EQ(home.read_file("data/msg.dat"), frame_of(7) + "payload");
    DSECT_MSG_typ in{};
    ASSERT_EQ(AG_DSECT_file_read("data/msg.dat", &in), CM_RC_OK);
    EXPECT_EQ(text_of(in), "payload");
    AG_DSECT_message_delete(&in);

    // A cut file gives the bytes that are there.
    home.write_file("data/cut.dat", frame_of(100) + std::string(50, 'c'));
    ASSERT_EQ(AG_DSECT_file_read("data/cut.dat", &in), CM_RC_OK);
    EXPECT_EQ(text_of(in), std::string(50, 'c'));
    AG_DSECT_message_delete(&in);
    for (const std::string& bad : {std::string("a 00"), std::string("a ffffffff") + "x", std::string("zzzzzzzzzzzz")}) {
        home.write_file("data/bad.dat", bad);
        EXPECT_EQ(AG_DSECT_file_read("data/bad.dat", &in), CM_RC_FAIL) << bad;
        EXPECT_EQ(in.message, nullptr);
    }
    EXPECT_EQ(AG_DSECT_file_read("data/none.dat", &in), CM_RC_FAIL);
}

std::string user() { return OS_PROC_get_curr_user(); }

TEST_F(AgentHomeTest, UtilityRequestBytesByVersion) {
    const std::string command = "ORVORDER \"-folder\" \"F1\"";
    const struct {
        std::string version;
        std::string expected;
    } cases[] = {
        {"04", wire::header("04", "R", "T", "ag1", "srv1") + record(19, var2(user()) + var2("ag1") + var4(command))},
        {"10", wire::header("10", "R", "T", "ag1", "srv1") + record(19, var2(user()) + var2("ag1") + var5(command))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        GM_PARAM_clear();
        home.write_file("data/CONFIG.dat",
                        "PROTOCOL_VERSION " + c.version + "\nORVSHOST srv1\nLOGICAL_AGENT_NAME ag1\n");
        DSECT_HEADER_typ header{};
        std::strcpy(header.siid, "100000100001");
        header.seq = 9;
        int seq = 5;
        DSECT_MSG_typ msg{};
        ASSERT_EQ(AG_DSECT_pack_util_dsect(&header, "T", &seq, 0, command.c_str(), &msg), CM_RC_OK);
        EXPECT_EQ(wire::masked(text_of(msg)), c.expected);
        EXPECT_EQ(seq, 6);
        EXPECT_EQ(header.seq, 1);
        EXPECT_STREQ(header.siid, "100000100001");
        DSECT_LIST_delete_message(&msg);
    }

    // Two requests, each with a new session instance id: different ids, both seq 1, counter + 2.
    DSECT_HEADER_typ header{};
    int seq = 0;
    DSECT_MSG_typ first{}, second{};
    ASSERT_EQ(AG_DSECT_pack_util_dsect(&header, "T", &seq, 1, "ORVWHY", &first), CM_RC_OK);
    const std::string first_siid = header.siid;
    ASSERT_EQ(AG_DSECT_pack_util_dsect(&header, "T", &seq, 1, "ORVWHY", &second), CM_RC_OK);
    EXPECT_NE(first_siid, header.siid);
    EXPECT_EQ(text_of(first).substr(40, 6), "000001");
    EXPECT_EQ(text_of(second).substr(40, 6), "000001");
    EXPECT_EQ(seq, 2);
    DSECT_LIST_delete_message(&first);
    DSECT_LIST_delete_message(&second);

    GM_PARAM_clear();
    home.write_file("data/CONFIG.dat", "PROTOCOL_VERSION 10\n");
    DSECT_MSG_typ none{};
    EXPECT_NE(AG_DSECT_pack_util_dsect(&header, "T", &seq, 1, "ORVWHY", &none), CM_RC_OK);
    EXPECT_EQ(none.message, nullptr);
    EXPECT_NE(AG_DSECT_pack_ping_dsect(&header, &none), CM_RC_OK);
    EXPECT_EQ(seq, 2);
}

TEST_F(AgentHomeTest, PingAnnouncesTheAgentVersion) {
    const struct {
        std::string keys;
        std::string version;
    } cases[] = {
        {"FIX_NUMBER 0\nFD_NUMBER 9.0.21\n", "0.21"},
        {"FIX_NUMBER 1.2.3.4\nFD_NUMBER 9.0.21\n", "2.3.4"},
        {"FD_NUMBER 900\n", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        GM_PARAM_clear();
        home.write_file("data/CONFIG.dat", "PROTOCOL_VERSION 06\nORVSHOST srv1\nLOGICAL_AGENT_NAME ag1\n" + c.keys);
        DSECT_HEADER_typ header{};
        header.seq = 7;
        DSECT_MSG_typ msg{};
        ASSERT_EQ(AG_DSECT_pack_ping_dsect(&header, &msg), CM_RC_OK);
        EXPECT_EQ(header.seq, 1);
        EXPECT_EQ(wire::masked(text_of(msg), true), wire::header("06", "R", "T", "ag1", "srv1", "", "", "", "P ") +
                                                        record(9, "") +
                                                        record(28, var4("Agent version") + var4(c.version)));
        DSECT_LIST_delete_message(&msg);
    }
}

// The header of a received message, decoded from its wire form.
DSECT_HEADER_typ received(const std::string& version = "10") {
    std::string text = wire::header(version, "R", "T", "ag1", "srv1", "", "AT", "AV");
    DSECT_HEADER_typ header;
    EXPECT_EQ(DSECT_ONE_unpack_header(&header, text.data()), CM_RC_OK);
    return header;
}

struct Parsed {
    DSECT_HEADER_typ header{};
    std::string first_record;
    std::string field;  // the first record's TEXT or DSECT_ERROR_MESSAGE
};

Parsed parse(DSECT_MSG_typ& msg) {
    Parsed p;
    DSECT_LIST_handle_typ list;
    EXPECT_EQ(DSECT_LIST_mk_from_msg(&list, &msg), CM_RC_OK);
    p.header = list.header;
    DSECT_ONE_handle_typ rec;
    DSECT_ONE_init(&rec);
    if (DSECT_LIST_getnext(&list, &rec) == CM_RC_OK) {
        p.first_record = std::to_string(rec.type);
        char* value = nullptr;
        if (DSECT_ONE_get_key_value(&rec, "TEXT", &value) == CM_RC_OK ||
            DSECT_ONE_get_key_value(&rec, "DSECT_ERROR_MESSAGE", &value) == CM_RC_OK)
            p.field = value;
    }
    DSECT_ONE_delete(&rec);
    DSECT_LIST_delete(&list);
    DSECT_LIST_delete_message(&msg);
    return p;
}

TEST_F(AgentHomeTest, RepliesRaiseTheSequenceAndFlagTheirKind) {
    DSECT_HEADER_typ h = received();
    int seq = 0;
    DSECT_MSG_typ msg{};
    const struct {
        std::string mid, last, record, field;
        int seq;
        std::function<CM_RC()> build;
    } cases[] = {
        {"D", " ", "17", "part", 2, [&] { return AG_DSECT_pack_text_dsect(&h, 0, &seq, "part", &msg); }},
        {"D", "L", "17", "end", 3, [&] { return AG_DSECT_pack_text_dsect(&h, 1, &seq, "end", &msg); }},
        {"C", "L", "", "", 4, [&] { return AG_DSECT_pack_confirm_dsect(&h, &msg); }},
        {"E", "L", "4", "failed 7 " + std::string(990, 'x'), 5,  // the message field keeps 999
         [&] { return AG_DSECT_pack_error_dsect(&h, &msg, 12, "failed %d %s", 7, std::string(2000, 'x').c_str()); }},
        {"D", "L", "22", "", 6, [&] { return AG_DSECT_pack_orvlog_dsect(&h, "0000a", "M001", "hello", &msg); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mid + c.record);
        ASSERT_EQ(c.build(), CM_RC_OK);
        EXPECT_EQ(h.seq, c.seq);
        const Parsed p = parse(msg);
        EXPECT_STREQ(p.header.mid, c.mid.c_str());
        EXPECT_STREQ(p.header.last, c.last.c_str());
        EXPECT_EQ(p.header.seq, c.seq);
        EXPECT_STREQ(p.header.siid, "100000100001");
        EXPECT_STREQ(p.header.agent_name, "ag1");
        EXPECT_STREQ(p.header.orvhost, "srv1");
        EXPECT_EQ(p.first_record, c.record);
        if (!c.field.empty()) {
            EXPECT_EQ(p.field, c.field);
        }
    }
    EXPECT_EQ(seq, 2);
}

TEST_F(AgentHomeTest, UtilityResponseIsANewMessageWithStatusAndText) {
    home.write_file("data/CONFIG.dat", "PROTOCOL_VERSION 10\nORVSHOST srv1\nLOGICAL_AGENT_NAME ag1\n");
    DSECT_HEADER_typ h = received();
    DSECT_MSG_typ msg{};
    ASSERT_EQ(AG_DSECT_pack_utilresp_dsect(&h, &msg, "Y", 3, "done"), CM_RC_OK);
    EXPECT_EQ(h.seq, 1);
    EXPECT_EQ(wire::masked(text_of(msg), true), wire::header("10", "R", "T", "ag1", "srv1", "", "", "", "P ") +
                                                    record(20, "Y13") + record(17, var5("done")));
    DSECT_LIST_delete_message(&msg);
}

TEST_F(AgentHomeTest, LongTextGoesInChunksFlaggedUntilTheLast) {
    Pair pair;
    DSECT_HEADER_typ h = received();
    int seq = 0;
    const std::string text(5000, 't');
    ASSERT_EQ(AG_DSECT_send_text_dsect_in_chunks(&pair.a, &h, &seq, text.c_str(), 2046), CM_RC_OK);
    EXPECT_EQ(seq, 3);
    std::string lasts, joined;
    for (int i = 0; i < 3; ++i) {
        DSECT_MSG_typ msg{};
        ASSERT_EQ(AG_DSECT_comm_message_read(&pair.b, &msg), CM_RC_OK);
        const Parsed p = parse(msg);
        lasts += p.header.last;
        joined += p.field;
    }
    EXPECT_EQ(lasts, "  L");
    EXPECT_EQ(joined, text);
    EXPECT_EQ(AG_DSECT_send_text_dsect_in_chunks(&pair.a, &h, &seq, "", 2046), CM_RC_OK);
    EXPECT_EQ(AG_DSECT_send_text_dsect_in_chunks(&pair.a, &h, &seq, "x", 0), CM_RC_FAIL);
    EXPECT_EQ(AG_DSECT_send_text_dsect_in_chunks(&pair.a, &h, &seq, "x", 32768), CM_RC_FAIL);
    EXPECT_EQ(seq, 3);
}

TEST_F(AgentHomeTest, SendWithConfirmationAcceptsOnlyAConfirmation) {
    // The framed send writes a message that carries its own frame and keeps the reply's frame.
    for (const auto& [framed, confirm] : {std::pair{false, true}, {false, false}, {true, true}, {true, false}}) {
        SCOPED_TRACE(std::string(framed ? "framed" : "plain") + (confirm ? ", confirmed" : ", not confirmed"));
        Pair pair;
        std::thread peer([&] {
            DSECT_MSG_typ request{};
            if (AG_DSECT_comm_message_read(&pair.b, &request) != CM_RC_OK) return;
            DSECT_HEADER_typ h;
            DSECT_ONE_handle_typ r;
            const CM_RC decoded = DSECT_LIST_msg_get_dsect(&request, &h, &r);
            DSECT_ONE_delete(&r);
            AG_DSECT_message_delete(&request);
            if (decoded != CM_RC_OK) return;  // a request the peer cannot read gets no answer
            int seq = 0;
            if (confirm)
                AG_DSECT_send_confirm_dsect(&pair.b, &h);
            else
                AG_DSECT_send_text_dsect(&pair.b, &h, 1, &seq, "not a confirmation");
        });
        DSECT_HEADER_typ h = received();
        DSECT_MSG_typ msg{};
        int seq = 0;
        ASSERT_EQ(AG_DSECT_pack_text_dsect(&h, 1, &seq, "hello", &msg), CM_RC_OK);
        if (framed) {
            const std::string whole = frame_of(msg.size) + text_of(msg);
            DSECT_LIST_delete_message(&msg);
            msg.message = static_cast<char*>(std::malloc(whole.size()));
            std::memcpy(msg.message, whole.data(), whole.size());
            msg.size = whole.size();
        }
        EXPECT_EQ(framed ? AG_DSECT_send_message_all(&pair.a, &msg, 1) : AG_DSECT_send_message(&pair.a, &msg, 1),
                  confirm ? CM_RC_OK : CM_RC_FAIL);
        peer.join();
        DSECT_LIST_delete_message(&msg);
    }
}

TEST_F(AgentHomeTest, MessageTextsComeFromTheMessageTable) {
    home.write_file("data/MSGTBL.dat", "AB01 Job %s ended with %d   \nLONG %s\n");
    char text[AG_DSECT_FORMATTED_MSG_ROOM];
    EXPECT_EQ(AG_DSECT_formated_msg(text, "AB01", "J1", 3), CM_RC_OK);
    EXPECT_STREQ(text, "Job J1 ended with 3");
    EXPECT_EQ(AG_DSECT_formated_msg(text, "LONG", std::string(3000, 'l').c_str()), CM_RC_OK);
    EXPECT_EQ(std::strlen(text), 1023u);
    EXPECT_EQ(AG_DSECT_formated_msg(text, "ZZ99"), CM_RC_FAIL);
    EXPECT_STREQ(text, "Read Message Failed. msgid: ZZ99");
}

}  // namespace
