// The watcher's shout through the utility client at the agent peer: the agent name before the
// message, the message alone when the two would reach 1024 characters; the reply text of a run.
#include <string>

#include <gtest/gtest.h>

#include "agent_peer.h"
#include "be_ow.h"
#include "gm_param.h"
#include "testbed.h"

namespace {

TEST(WatcherShout, CarriesTheAgentNameUnlessTheTextWouldBeTooLong) {
    testbed::AgentHome home;
    agent_peer::Peer peer(agent_peer::Options{});
    home.write_file("data/CONFIG.dat",
                    "PROTOCOL_VERSION 10\nLOGICAL_AGENT_NAME agt1\nDBGLVL 0\nUTTIMEOUT 2\n"
                    "ORVSHOST 127.0.0.1\nUTCMNDATA " +
                        std::to_string(peer.port()) + "\n");
    GM_PARAM_clear();
    ZPAError error{};
    const std::string prefix = "Agent name: agt1. ";
    const std::string fits(1023 - prefix.size(), 'm'), too_long(1024 - prefix.size(), 'n');
    for (const std::string& message : {std::string("X"), fits, too_long})
        EXPECT_EQ(OW_send_alert_shout_to_uvs(const_cast<char*>(message.c_str()), &error), 0) << error.text;
    const auto journal = peer.journal();
    ASSERT_EQ(journal.size(), 3u);
    const auto sent = [&](int i) { return journal[i]["args"].get<std::vector<std::string>>(); };
    EXPECT_EQ(sent(0), (std::vector<std::string>{"orvshout", "-dest", "UVS", "-message", "Agent name: agt1. X"}));
    EXPECT_EQ(sent(1).back(), prefix + fits);
    EXPECT_EQ(sent(2).back(), too_long);

    peer.set_script(R"({"ORVSHOUT":[{"messages":[{"records":[{"type":"TEXT","text":"no such user"},
        {"type":"UTILRESP","status":"N","code":1}]}]}]})");
    EXPECT_EQ(OW_send_alert_shout_to_uvs(const_cast<char*>("Y"), &error), 1);
    EXPECT_NE(std::string(error.text).find("orvshout failed with the following error message: no such user"),
              std::string::npos)
        << error.text;
}

}  // namespace
