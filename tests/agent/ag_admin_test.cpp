// Admin requests over a socket pair, the reply read with the agent peer's own reader: what each
// action does to the back end's table and what it answers.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ag_admin.h"
#include "agent_peer.h"
#include "dsect_wire.h"
#include "gm_param.h"
#include "testbed.h"

namespace {

using nlohmann::json;
using testbed::AgentHomeTest;

constexpr char kTable[] = "KEY_A  1\nKEY_B  2\nOTHER  3\n";

struct Case {
    const char* what;
    std::vector<std::pair<const char*, const char*>> fields;  // the admin record's fields
    std::string file;                                         // data/<file> checked afterwards
    std::string after;                                        // its rows afterwards ("<none>" when it must not exist)
    unsigned code;
    std::string text;
    int count;
    std::vector<std::string> params;  // "name=value" of the general parameters
};

std::string rows_of(const testbed::AgentHome& home, const std::string& file) {
    if (!home.exists("data/" + file)) return "<none>";
    ZPALIST_handle_typ list{};
    GM_PARAM_load_file(&list, ("data/" + file).c_str());
    std::string text;
    char* key = nullptr;
    void* value = nullptr;
    GM_PARAM_list_reset(&list);
    while (GM_PARAM_list_next(&list, &key, &value) == CM_RC_OK)
        text += std::string(key) + "=" + static_cast<char*>(value) + ";";
    GM_PARAM_list_clear(&list);
    return text;
}

TEST_F(AgentHomeTest, AdminActionsOnABackEndsTable) {
    using F = std::vector<std::pair<const char*, const char*>>;
    auto request = [](const char* name, const char* action, F more = {}) {
        F fields{{"DSECT_OBJECT_TYPE", "PARAM"}, {"DSECT_BE_NAME", name}, {"DSECT_OBJECT_MODE", "ACTION"}};
        if (action) fields.emplace_back("DSECT_OBJECT_ACTION", action);
        fields.insert(fields.end(), more.begin(), more.end());
        return fields;
    };
    const std::string all = "KEY_A=1;KEY_B=2;OTHER=3;";
    const Case cases[] = {
        {"display all", request("BE1", "DISPLAY"), "BE1.dat", all, 0, "", 3, {"KEY_A=1", "KEY_B=2", "OTHER=3"}},
        {"display a pattern",
         request("BE1", "DISPLAY", {{"key_*", ""}}),
         "BE1.dat",
         all,
         0,
         "",
         2,
         {"KEY_A=1", "KEY_B=2"}},
        {"update creates the file",
         request("NEW1", "UPDATE", {{"new_k", "v1"}, {"DSECT_X", "y"}}),
         "NEW1.dat",
         "NEW_K=v1;",
         0,
         "File './data/NEW1.dat' Saved",
         0,
         {}},
        {"update changes a row",
         request("BE1", "UPDATE", {{"key_b", "20"}}),
         "BE1.dat",
         "KEY_A=1;KEY_B=20;OTHER=3;",
         0,
         "File './data/BE1.dat' Saved",
         0,
         {}},
        {"update with only protocol rows",
         request("BE1", "UPDATE", {{"DSECT_X", "y"}}),
         "BE1.dat",
         all,
         1,
         "No Attribute PARAMETER provided",
         0,
         {}},
        {"update with DSECT_NULL",
         request("BE1", "UPDATE", {{"key_a", "9"}, {"key_b", "DSECT_NULL"}}),
         "BE1.dat",
         all,
         1,
         "Attribute -VALUE is not provided",
         0,
         {}},
        {"reset without rows", request("BE1", "RESET"), "BE1.dat", "", 0, "File './data/BE1.dat' Saved", 0, {}},
        {"delete matching nothing",
         request("BE1", "DELETE", {{"nothing*", ""}}),
         "BE1.dat",
         all,
         1,
         "No Attribute PARAMETER provided",
         0,
         {}},
        {"delete a pattern",
         request("BE1", "DELETE", {{"key_*", ""}}),
         "BE1.dat",
         "OTHER=3;",
         0,
         "File './data/BE1.dat' Saved",
         0,
         {}},
        {"remove", request("BE1", "REMOVE"), "BE1.dat", "<none>", 0, "File './data/BE1.dat' removed", 0, {}},
        {"timestamp", request("BE1", "TIMESTAMP"), "BE1.dat", all, 0, "", 1, {"TIMESTAMP"}},
        {"display a missing file",
         request("NONE", "DISPLAY"),
         "NONE.dat",
         "<none>",
         1,
         "Failed to load file './data/NONE.dat'",
         0,
         {}},
        {"unknown action", request("BE1", "FOO"), "BE1.dat", all, 1, "Invalid ACTION specified: FOO", 0, {}},
        {"no action", request("BE1", nullptr), "BE1.dat", all, 1, "DSECT_OBJECT_ACTION is not specified", 0, {}},
        {"mode other than ACTION",
         {{"DSECT_BE_NAME", "BE1"}, {"DSECT_OBJECT_MODE", "SHOW"}, {"DSECT_OBJECT_ACTION", "REMOVE"}},
         "BE1.dat",
         all,
         1,
         "Invalid Attribute 'DSECT_OBJECT_MODE' value: 'SHOW'",
         0,
         {}},
        {"no back-end name",
         {{"DSECT_OBJECT_MODE", "ACTION"}, {"DSECT_OBJECT_ACTION", "REMOVE"}},
         "BE1.dat",
         all,
         1,
         "Attribute DSECT_BE_NAME is mandatory",
         0,
         {}},
        {"back-end name leaving ./data",
         request("../x", "UPDATE", {{"k", "v"}}),
         "../x.dat",
         "<none>",
         1,
         "Invalid Attribute 'DSECT_BE_NAME' value: '../x'",
         0,
         {}},
        {"empty back-end name",
         request("", "REMOVE"),
         "BE1.dat",
         all,
         1,
         "Invalid Attribute 'DSECT_BE_NAME' value: ''",
         0,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        home.write_file("data/BE1.dat", kTable);
        std::remove("data/NEW1.dat");
        std::string header_text = wire::header("06");
        DSECT_HEADER_typ header;
        ASSERT_EQ(DSECT_ONE_unpack_header(&header, header_text.data()), CM_RC_OK);
        DSECT_ONE_handle_typ rec;
        DSECT_ONE_init(&rec);
        rec.type = DSECT_TYP_ADMIN;
        for (const auto& [name, value] : c.fields) DSECT_ONE_append_dsect_var(&rec, name, value, DF_VAR4);

        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
        OS_COMM_sess_typ sess{};
        sess.fd = fds[0];
        sess.timeout_interval = 2;
        ZPAError error{77, "stale"};
        const CM_RC rc = AG_ADMIN_handle_request(&header, &rec, &sess, &error);
        EXPECT_EQ(rc, c.code == 0 ? CM_RC_OK : CM_RC_FAIL);
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(std::string(error.text), c.text);
        const json reply = agent_peer::read_reply(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        DSECT_ONE_delete(&rec);
        ASSERT_FALSE(reply.is_null());
        EXPECT_EQ(reply["mid"], "D");
        EXPECT_EQ(reply["last"], "L");
        EXPECT_EQ(reply["version"], "06");
        EXPECT_EQ(reply["seq"], 1);
        ASSERT_GE(reply["records"].size(), 1u);
        const json& response = reply["records"][0];
        EXPECT_EQ(response["type"], 27);
        EXPECT_EQ(response["code"], c.code);
        EXPECT_EQ(response["message"], c.text);
        EXPECT_EQ(response["count"], c.count);
        std::vector<std::string> params;
        for (std::size_t i = 1; i < reply["records"].size(); ++i) {
            const json& p = reply["records"][i];
            EXPECT_EQ(p["type"], 28);
            const std::string name = p["name"];
            params.push_back(name == "TIMESTAMP" ? name : name + "=" + p["value"].get<std::string>());
            if (name == "TIMESTAMP") {
                EXPECT_EQ(p["value"].get<std::string>().size(), 14u);
            }
        }
        EXPECT_EQ(params, c.params);
        EXPECT_EQ(rows_of(home, c.file), c.after);
    }
}

TEST(AgentVersion, BuiltInText) {
    char text[12];
    AG_version(text, sizeof text);
    EXPECT_STREQ(text, "AGENT dll 8");
}

}  // namespace
