// Shouts in-process: the checks of the shout's attributes in their order (none of them reaches the
// database), the receiver and the priority as bound, the Workflow message created once, and the
// send block's answers.
#include "be_job_fixture.h"
#include "testbed.h"

#include <string>

namespace {

using betest::outs;
using betest::Pairs;
using oci_standin::answer_rows;
using oci_standin::substring_rule;

constexpr const char* kExists = "from sys.dual where exists";
constexpr const char* kCreate = "INSERT INTO WF_MESSAGES ";
constexpr const char* kSend = "WF_NOTIFICATION.send";

class Shout : public betest::JobTest {
protected:
    ZPARC shout(const Pairs& in, ZPAError& error, const char* action = "SEND", void* user_data = nullptr) {
        connection_ = ZPAConnHandle{};
        connection_.UserData = user_data != nullptr ? user_data : session;
        std::string name = action;
        betest::OwnedList out{};
        return ZPAAPI_SHOUT_ACTION(&connection_, name.data(), job(in), out.list(), &error);
    }
    static Pairs shout_of(const char* destination, const char* urgency = "R", const char* type = "U",
                          const char* message = "Job ended") {
        return {
            {"MESSAGE", message}, {"SHOUT_TYPE", type}, {"SHOUT_DESTINATION", destination}, {"SHOUT_URGENCY", urgency}};
    }
    ZPAConnHandle connection_{};
};

TEST_F(Shout, BadInputIsRefusedBeforeTheDatabase) {
    BE_DUZ_ConnectionList* list = BE_DUZ_create_connection_list();
    struct Case {
        const char* name;
        Pairs in;
        const char* action;
        void* user_data;
        ZPARC rc;
        const char* error;
    } cases[] = {
        {"a tracking connection's list", shout_of("PROD:sysadmin"), "SEND", list, 1,
         "CM for OEBS: UserData pointer is NULL"},
        {"another action", shout_of("PROD:sysadmin"), "SENDX", nullptr, 4,
         "CM for OEBS: Action SENDX is not supported"},
        {"no message", {{"SHOUT_TYPE", "U"}}, "SEND", nullptr, 1, "CM for OEBS: the attribute 'MESSAGE' is mandatory"},
        {"no urgency",
         {{"MESSAGE", "m"}, {"SHOUT_TYPE", "U"}, {"SHOUT_DESTINATION", "P:u"}},
         "SEND",
         nullptr,
         1,
         "CM for OEBS: the attribute 'SHOUT_URGENCY' is mandatory"},
        {"no colon", shout_of("PROD"), "SEND", nullptr, 1,
         "CM for OEBS: SHOUT Destination format must be <DUZ-INSTANCE name>:<DUZ USER NAME>"},
        {"nothing after the colon", shout_of("PROD:"), "SEND", nullptr, 1,
         "CM for OEBS: SHOUT Destination format must be <DUZ-INSTANCE name>:<DUZ USER NAME>"},
        {"a group", shout_of("PROD:sysadmin", "R", "G"), "SEND", nullptr, 1,
         "CM for OEBS: Invalid Destination Type 'G'."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZPAError error{};
        EXPECT_EQ(shout(c.in, error, c.action, c.user_data), c.rc);
        EXPECT_STREQ(error.text, c.error);
    }
    EXPECT_TRUE(prepared().empty());
    BE_DUZ_delete_connection_list(list);
}

TEST_F(Shout, FirstShoutCreatesTheMessageThenSends) {
    oci_standin::add_rule(substring_rule(kExists, {answer_rows({}), answer_rows({{1}})}));
    oci_standin::add_rule(substring_rule(kCreate, {oci_standin::Answer{}}));
    oci_standin::add_rule(substring_rule(kSend, {outs({{"rc_code", 0}, {"nid", 77}})}));
    const char* message = "it's done'); DROP TABLE fnd_user; --";
    ZPAError error{};
    ASSERT_EQ(shout(shout_of("PROD:sysadmin", "R", "U", message), error), 0) << error.text;
    ASSERT_EQ(executions_of(kCreate).size(), 1u);
    for (const char* part :
         {"WF_MESSAGES_TL", "WF_MESSAGE_ATTRIBUTES ", "WF_MESSAGE_ATTRIBUTES_TL", "INSTALLED_FLAG = 'Y'",
          "'Orvanta Shout Message'", "'&'||'BODY'", "'QEL:MSG_Attribute'", "COMMIT"})
        EXPECT_NE(executions_of(kCreate)[0].text.find(part), std::string::npos) << part;
    const auto sent = executions_of(kSend);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(bound(kSend, "RECEIVER").to_string(), "SYSADMIN");
    EXPECT_EQ(bound(kSend, "PRIORITY").to_string(), "50");
    EXPECT_EQ(bound(kSend, "MSG").to_string(), message);
    EXPECT_EQ(sent[0].text.find("DROP TABLE"), std::string::npos);

    // The message is there now: no second creation; a numeric urgency is the priority.
    ASSERT_EQ(shout(shout_of("PROD:sysadmin", "7"), error), 0);
    EXPECT_EQ(executions_of(kCreate).size(), 1u);
    EXPECT_EQ(bound(kSend, "PRIORITY").to_string(), "7");
}

TEST_F(Shout, AnswersOfTheSendBlock) {
    oci_standin::add_rule(substring_rule(kExists, {answer_rows({{1}})}));
    oci_standin::add_rule(
        substring_rule(kSend, {outs({{"rc_code", 1}}), outs({{"rc_code", 2}}), outs({{"rc_code", 9}})}));
    for (const char* expected : {"CM for OEBS: The destination 'NOBODY' is invalide.",
                                 "CM for OEBS: Fail to send a notification.", "CM for OEBS: Unknown error"}) {
        ZPAError error{};
        EXPECT_EQ(shout(shout_of("PROD:nobody"), error), 1);
        EXPECT_STREQ(error.text, expected);
    }
}

}  // namespace
