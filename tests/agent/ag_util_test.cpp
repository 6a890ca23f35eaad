// The agent-utility client against the agent peer: the command line as the receiver splits it, the
// input file in chunks, the choice of host and the backup switch, and what each kind of reply
// gives as result and reply text.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ag_util.h"
#include "agent_peer.h"
#include "gm_param.h"
#include "os_proc.h"
#include "testbed.h"

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

class AgentUtilityTest : public testbed::AgentHomeTest {
protected:
    void start(const std::string& script = "") {
        agent_peer::Options options;
        options.script = script;
        peer = std::make_unique<agent_peer::Peer>(options);
        configure("ORVSHOST 127.0.0.1\nUTCMNDATA " + std::to_string(peer->port()) + "\n");
    }
    void configure(const std::string& rows) {
        home.write_file("data/CONFIG.dat",
                        "PROTOCOL_VERSION 10\nLOGICAL_AGENT_NAME agt1\nUTTIMEOUT 1\nDBGLVL 0\n" + rows);
        GM_PARAM_clear();
    }
    struct Outcome {
        CM_RC rc;
        std::string text;
    };
    static Outcome run(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        char message[2048];
        const CM_RC rc = AG_UTIL_main(static_cast<int>(argv.size()), argv.data(), message, sizeof message);
        return {rc, message};
    }
    std::unique_ptr<agent_peer::Peer> peer;
};

TEST_F(AgentUtilityTest, ArgumentsReachTheReceiverAsTheyWereGiven) {
    start();
    const std::vector<std::string> args = {"orvorder", "a\"b", "", "C:\\temp\\", "a\\\"b", "C:\\x", "\\\\"};
    ASSERT_EQ(run(args).rc, CM_RC_OK);
    const json entry = peer->journal().at(0);
    EXPECT_EQ(entry["args"].get<std::vector<std::string>>(), args);
    EXPECT_EQ(entry["command"], "orvorder \"a\\\"b\" \"\" \"C:\\temp\\\\\" \"a\\\\\\\"b\" \"C:\\x\" \"\\\\\\\\\"");
    EXPECT_EQ(entry["last"], json::array({"T"}));
}

TEST_F(AgentUtilityTest, CommandLineLongerThanItsRoomIsRefusedUnsent) {
    start();
    const Outcome longest = run({"orvorder", std::string(2047, 'x')});
    EXPECT_EQ(longest.rc, CM_RC_OK);
    std::vector<std::string> args{"orvorder"};
    for (int i = 0; i < 17; ++i) args.push_back(std::string(2000, 'y'));
    const Outcome refused = run(args);
    EXPECT_EQ(refused.rc, CM_RC_FAIL);
    EXPECT_EQ(refused.text, "The length of arguments exceeds 32768 bytes\n");
    const Outcome wide = run({"orvorder", std::string(2047, '"')});
    EXPECT_EQ(wide.rc, CM_RC_FAIL);
    EXPECT_EQ(wide.text, "The length of argument 1 exceeds 2047 bytes\n");
    EXPECT_EQ(peer->journal().size(), 1u);
}

// A line that reaches its room of 32767 characters exactly goes out whole; an argument still to
// come after it, or one character more, refuses the whole order: it is never sent without them.
TEST_F(AgentUtilityTest, CommandLineFillingItsRoomGoesWholeAndNothingIsDroppedPastIt) {
    start();
    // "orvorder" and fifteen arguments of 2047 characters and one of 2006, each with its blank and
    // its two quotes: 8 + 15 * 2050 + 2009 = 32767.
    std::vector<std::string> full{"orvorder"};
    for (int i = 0; i < 15; ++i) full.push_back(std::string(2047, 'x'));
    full.push_back(std::string(2006, 'y'));
    auto with = [&full](std::initializer_list<std::string> more, int change_last = 0) {
        std::vector<std::string> args = full;
        args.back().resize(args.back().size() + change_last, 'y');
        args.insert(args.end(), more);
        return args;
    };
    struct Case {
        const char* name;
        std::vector<std::string> args;
        bool sent;
    };
    const std::vector<Case> cases = {
        {"exactly full", full, true},
        {"exactly full, then an option", with({"-FORCE", "Y"}), false},
        {"one short, then an option", with({"-FORCE", "Y"}, -1), false},
        {"one character over", with({}, 1), false},
        {"a name over the room alone", {std::string(32768, 'o')}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = peer->journal().size();
        const Outcome outcome = run(c.args);
        if (c.sent) {
            EXPECT_EQ(outcome.rc, CM_RC_OK) << outcome.text;
            ASSERT_EQ(peer->journal().size(), before + 1);
            const json entry = peer->journal().back();
            EXPECT_EQ(entry["command"].get<std::string>().size(), 32767u);
            EXPECT_EQ(entry["args"].get<std::vector<std::string>>(), c.args);
        } else {
            EXPECT_EQ(outcome.rc, CM_RC_FAIL);
            EXPECT_EQ(outcome.text, "The length of arguments exceeds 32768 bytes\n");
            EXPECT_EQ(peer->journal().size(), before);
        }
    }
}

TEST_F(AgentUtilityTest, ProcessAskedToExitSendsNothing) {
    start();
    OS_PROC_exit_request_set(1);
    const Outcome outcome = run({"orvorder", "-jobname", "J"});
    OS_PROC_exit_request_set(0);
    EXPECT_EQ(outcome.rc, CM_RC_FAIL);
    EXPECT_EQ(outcome.text, "The request was not sent: the process is ending.");
    EXPECT_TRUE(peer->journal().empty());
}

TEST_F(AgentUtilityTest, InputFileGoesInChunksUnderTheFirstRequestsInstance) {
    start();
    std::string rows;
    for (int i = 0; i < 60; ++i) rows += "KEY" + std::to_string(i) + " " + std::string(70, 'v') + "\n";
    home.write_file("temp/order.txt", rows);
    const std::string path = home.path() + "/temp/order.txt";
    ASSERT_EQ(run({"orvorder", "-jobname", "ignored", "-input_file", path, "-after", "x"}).rc, CM_RC_OK);
    const json entry = peer->journal().at(0);
    EXPECT_EQ(entry["command"], "orvorder \"-INPUT_FILE\"\n");
    const auto last = entry["last"].get<std::vector<std::string>>();
    ASSERT_EQ(last.size(), 4u);  // the request, two full chunks, the last chunk
    EXPECT_EQ(last, (std::vector<std::string>{" ", " ", " ", "L"}));
    std::string joined;
    for (const auto& chunk : entry["chunks"]) {
        EXPECT_LE(chunk.get<std::string>().size(), 2046u);
        joined += chunk.get<std::string>();
    }
    EXPECT_EQ(joined, rows);
    for (const auto& siid : entry["siids"]) EXPECT_EQ(siid, entry["siid"]);

    // An input file that is missing or not named sends nothing, rather than the line cut before it.
    const Outcome missing = run({"orvorder", "-a", "b", "-INPUT_FILE", home.path() + "/temp/none.txt", "-c", "d"});
    EXPECT_EQ(missing.rc, CM_RC_FAIL);
    EXPECT_EQ(missing.text, "Failed to load or open file '" + home.path() + "/temp/none.txt'.");
    const Outcome unnamed = run({"orvorder", "-a", "b", "-input_file"});
    EXPECT_EQ(unnamed.rc, CM_RC_FAIL);
    EXPECT_EQ(unnamed.text, "Failed to load or open file ''.");
    EXPECT_EQ(peer->journal().size(), 1u);
}

TEST_F(AgentUtilityTest, InputFileOptionCountsOnlyWhereAKeywordStands) {
    start();
    home.write_file("temp/order.txt", "JOBNAME FROM_FILE\n");
    const std::string path = home.path() + "/temp/order.txt";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        bool from_file;
    };
    const std::vector<Case> cases = {
        {"a keyword's value", {"orvorder", "-JOBNAME", "-input_file", path, "-FORCE", "Y"}, false},
        {"a job variable's value", {"orvorder", "-AUTOEDIT", "%%LINE_1", "-INPUT_FILE", path, "-FORCE", "Y"}, false},
        {"a job variable's name", {"orvorder", "-AUTOEDIT", "-Input_File", path, "-FORCE", "Y"}, false},
        {"a condition's name", {"orvcontb", "-ADD", "-input_file", path}, false},
        {"the first keyword", {"orvorder", "-input_file", path}, true},
        {"the keyword after a job variable",
         {"orvorder", "-AUTOEDIT", "%%A", "v", "-Input_File", path, "-x", "y"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = peer->journal().size();
        ASSERT_EQ(run(c.args).rc, CM_RC_OK);
        ASSERT_EQ(peer->journal().size(), before + 1);
        const json entry = peer->journal().back();
        if (c.from_file) {
            EXPECT_EQ(entry["command"], c.args[0] + " \"-INPUT_FILE\"\n");
            EXPECT_EQ(entry["chunks"], json::array({"JOBNAME FROM_FILE\n"}));
        } else {
            EXPECT_EQ(entry["args"].get<std::vector<std::string>>(), c.args);
            EXPECT_EQ(entry["last"], json::array({"T"}));
        }
    }
}

TEST_F(AgentUtilityTest, SlowBackupHostTakesOverAfterThePrimaryAttemptsAndBecomesThePrimary) {
    start();
    configure("ORVSHOST 127.0.0.2\nORVPERMHOSTS 127.0.0.2|127.0.0.1\nCOMMRETCNT 2\nCOMMRETSLP 0\nUTCMNDATA " +
              std::to_string(peer->port()) + "\n");
    const Outcome ordered = run({"orvorder", "-jobname", "J"});
    EXPECT_EQ(ordered.rc, CM_RC_OK) << ordered.text;
    EXPECT_EQ(peer->journal().size(), 1u);
    ZPALIST_handle_typ config{};
    ASSERT_EQ(GM_PARAM_load_file(&config, "data/CONFIG.dat"), CM_RC_OK);
    char host[64] = {};
    EXPECT_EQ(GM_PARAM_list_get(&config, "ORVSHOST", host, sizeof host), CM_RC_OK);
    EXPECT_STREQ(host, "127.0.0.1");
    GM_PARAM_list_clear(&config);

    configure("ORVSHOST 127.0.0.2\nORVPERMHOSTS 127.0.0.1\nCOMMRETSLP 0\nUTCMNDATA " + std::to_string(peer->port()) +
              "\n");
    const Outcome ping = run({"ag_ping"});
    EXPECT_EQ(ping.rc, AG_UTIL_RC_NO_CONNECTION);
    EXPECT_EQ(ping.text, "Failed to initialize communication.");
    EXPECT_EQ(peer->journal().size(), 1u);
}

TEST_F(AgentUtilityTest, PersistentConnectionWithoutItsPortTriesNothing) {
    start();
    configure("PERSISTENT_CONNECTION Y\nORVSHOST 127.0.0.1\n");
    const Outcome outcome = run({"orvshout", "-dest", "UVS"});
    EXPECT_NE(outcome.rc, CM_RC_OK);
    EXPECT_EQ(outcome.text, "Can not retrieve value of AR_UT_COMM_PORT parameter from CONFIG table");
    configure("PERSISTENT_CONNECTION Y\nORVSHOST 10.255.255.1\nAR_UT_COMM_PORT " + std::to_string(peer->port()) + "\n");
    EXPECT_EQ(run({"orvshout", "-dest", "UVS"}).rc, CM_RC_OK);
    EXPECT_EQ(peer->journal().size(), 1u);
}

struct ReplyCase {
    const char* name;
    std::string script;  // the peer's answer to ORVORDER
    CM_RC rc;
    std::string text;
};

TEST_F(AgentUtilityTest, RepliesGiveTheirResultAndText) {
    const std::vector<ReplyCase> cases = {
        {"text and exit status Y", R"([{"messages":[{"records":[{"type":"TEXT","text":"ordered"},
            {"type":"UTILRESP","status":"Y","code":0}]}]}])",
         CM_RC_OK, "ordered"},
        {"usage with exit status N", R"([{"messages":[{"records":[{"type":"TEXT","text":"usage: orvorder -jobname"},
            {"type":"UTILRESP","status":"N","code":1}]}]}])",
         AG_UTIL_RC_USAGE, "usage: orvorder -jobname"},
        {"text over three messages", R"([{"messages":[{"records":[{"type":"TEXT","text":"one "},
            {"type":"UTILRESP","status":"Y","code":0}]},{"records":[{"type":"TEXT","text":"two "}]},
            {"records":[{"type":"TEXT","text":"three"}]}]}])",
         CM_RC_OK, "one two three"},
        {"error record", R"([{"messages":[{"mid":"E","records":[{"type":"ERRCD","code":7,"message":"job not found"},
            {"type":"UTILRESP","status":"Y","code":0}]}]}])",
         CM_RC_FAIL, "job not found"},
        {"general parameters", R"([{"messages":[{"records":[{"type":"GENERAL_PARAM","name":"ORDERID","value":"0a1"},
            {"type":"GNRLDTA","subject":"x","count":0}]}]}])",
         CM_RC_OK, "ORDERID=0a1\n"},
        {"older protocol version", R"([{"messages":[{"version":"04","records":[{"type":"TEXT","text":"old"},
            {"type":"UTILRESP","status":"Y","code":0}]}]}])",
         CM_RC_OK, "old"},
        {"exit status without text", R"([{"messages":[{"records":[{"type":"UTILRESP","status":"N","code":3}]}]}])",
         CM_RC_FAIL, ""},
        {"connection closed mid-reply", R"([{"close":"mid_frame"}])", CM_RC_FAIL, ""},
        {"absurd announced length", R"([{"announce":"ffffffff"}])", CM_RC_FAIL, ""},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        start(std::string(R"({"ORVORDER":)") + c.script + "}");
        const auto began = Clock::now();
        const Outcome outcome = run({"orvorder", "-jobname", "J"});
        EXPECT_EQ(outcome.rc, c.rc);
        EXPECT_EQ(outcome.text, c.text);
        EXPECT_LT(Clock::now() - began, std::chrono::seconds(1));
        peer.reset();
    }
}

TEST_F(AgentUtilityTest, SilentServerTimesOutWithTheHint) {
    start(R"({"ORVORDER":[{"hold":true}]})");
    testbed::StdoutCapture out;
    const Outcome outcome = run({"orvorder", "-jobname", "J"});
    EXPECT_EQ(outcome.rc, AG_UTIL_RC_TIMEOUT);
    EXPECT_NE(out.text().find("Timeout occured before Server responded."), std::string::npos);
    peer->release();
}

TEST_F(AgentUtilityTest, PingAndUnknownUtilities) {
    start();
    const Outcome ping = run({"AG_PING"});
    EXPECT_EQ(ping.rc, CM_RC_OK);
    EXPECT_EQ(ping.text, "Server is alive.");
    EXPECT_EQ(peer->journal().at(0)["kind"], "ping");
    const Outcome unknown = run({"orvnothing", "-x"});
    EXPECT_EQ(unknown.rc, CM_RC_FAIL);
    EXPECT_EQ(unknown.text, "Unsupported utility: 'orvnothing'.");
    EXPECT_EQ(peer->journal().size(), 1u);
    EXPECT_EQ(AG_UTIL_translate_param(const_cast<char*>("orvHostGrp  ")), AG_ORVHOSTGRP);
}

}  // namespace
