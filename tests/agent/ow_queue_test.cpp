// The watcher's action queue run against the agent peer: the queue file after a run with retries,
// the retry limit with its note and shout, the command lines made from queued actions (as a table),
// and the action log.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_peer.h"
#include "be_ow.h"
#include "gm_param.h"
#include "joined.h"
#include "testbed.h"

namespace {

using nlohmann::json;

const char* const kQueue = "cm/DUZ/data/ew_actions_to_execute.dat";
const std::string kFailure =
    R"({"messages":[{"records":[{"type":"TEXT","text":"job not found"},{"type":"UTILRESP","status":"N","code":1}]}]})";
const std::string kSuccess =
    R"({"messages":[{"records":[{"type":"TEXT","text":"ordered"},{"type":"UTILRESP","status":"Y","code":0}]}]})";

struct Action {
    std::string type = "ORD";
    std::string job = "J1", table = "T1", odate = "ODAT", group = "NONE";
    std::vector<std::pair<std::string, std::string>> variables, outputs;
    std::string cond_name, cond_date, cond_action;
    std::string alert = "Big Journal";
};

ZPAAttrList* attrs(const std::vector<std::pair<std::string, std::string>>& items) {
    if (items.empty()) return nullptr;
    auto* list = static_cast<ZPAAttrList*>(std::calloc(1, sizeof(ZPAAttrList)));
    ZPALIST_handle_typ rows{};
    for (const auto& [n, v] : items) GM_PARAM_list_append(&rows, n.c_str(), v.c_str());
    ZPAAPI_UTILS_list2attr(&rows, list);
    GM_PARAM_list_clear(&rows);
    return list;
}

class QueueTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        home.write_file(kQueue, "");
        settings("Y");
    }
    void TearDown() override { GM_PARAM_clear(); }
    void start(const std::string& script = "") {
        agent_peer::Options options;
        options.script = script;
        peer = std::make_unique<agent_peer::Peer>(options);
        home.write_file("data/CONFIG.dat",
                        "PROTOCOL_VERSION 10\nLOGICAL_AGENT_NAME agt1\nDBGLVL 0\nUTTIMEOUT 2\n"
                        "COMMRETSLP 0\nORVSHOST 127.0.0.1\nUTCMNDATA " +
                            std::to_string(peer->port()) + "\n");
        GM_PARAM_clear();
    }
    void settings(const char* log) {
        home.write_file("cm/DUZ/data/event_cfg.dat",
                        std::string("[GEN_EVENT_PARAMS]\nACTIVATE_EVENT_WATCHER Y\nACTION_MAX_RETRY 3\nACTION_LOG ") +
                            log + "\nWATCHING_INTERVAL_TIME 6\nALERT_MAX_OUTPUT 20\n");
        EW_cfg_file_params_type config{};
        DATETIME_D_typ mark = "";
        ZPAError error{};
        ASSERT_EQ(EW_load_event_config(&config, mark, &error), 0) << error.text;
    }
    static CM_RC enqueue(const std::vector<Action>& actions) {
        ZPALIST_handle_typ list{};
        for (const Action& a : actions) {
            EW_actions_to_excute_type r{};
            std::snprintf(r.action_type, sizeof r.action_type, "%s", a.type.c_str());
            std::snprintf(r.orv_jobname, sizeof r.orv_jobname, "%s", a.job.c_str());
            std::snprintf(r.orv_schedtab, sizeof r.orv_schedtab, "%s", a.table.c_str());
            std::snprintf(r.orv_order_date, sizeof r.orv_order_date, "%s", a.odate.c_str());
            std::snprintf(r.group_order_id, sizeof r.group_order_id, "%s", a.group.c_str());
            std::snprintf(r.orv_cond_name, sizeof r.orv_cond_name, "%s", a.cond_name.c_str());
            std::snprintf(r.orv_cond_date, sizeof r.orv_cond_date, "%s", a.cond_date.c_str());
            std::snprintf(r.orv_cond_action, sizeof r.orv_cond_action, "%s", a.cond_action.c_str());
            std::snprintf(r.account_name, sizeof r.account_name, "VIS");
            std::snprintf(r.application_name, sizeof r.application_name, "General Ledger");
            r.applicattion_id = 101;
            std::snprintf(r.alert_name, sizeof r.alert_name, "%s", a.alert.c_str());
            std::snprintf(r.alert_check_time, sizeof r.alert_check_time, "20261208101500");
            r.autoedits = attrs(a.variables);
            r.alert_outputs = attrs(a.outputs);
            ZPALIST_append(&list, &r, sizeof r);
        }
        ZPAError error{};
        const CM_RC rc = EW_save_actions_to_excute_to_file(&list, &error);
        EW_clean_actions_to_execute_list(&list);
        return rc;
    }
    // One pass of the queue stage: load and run.
    static CM_RC run_queue(int max_retry = 3, ZPAError* error_out = nullptr) {
        ZPALIST_handle_typ queue{};
        ZPAError error{};
        CM_RC rc = EW_load_actions_to_excute_from_file(&queue, &error);
        EW_cfg_file_params_type config{};
        config.action_max_retry = max_retry;
        if (rc == CM_RC_OK && ZPALIST_count(&queue) > 0) rc = EW_execute_actions(&queue, &config, &error);
        GM_PARAM_subtable_list_clear(&queue);
        if (error_out) *error_out = error;
        return rc;
    }
    // Sections of the queue file with their counters: "JOBNAME=J2 counter=1".
    std::vector<std::string> queued() const {
        ZPALIST_handle_typ sections{};
        GM_PARAM_subtable_load_file(&sections, kQueue);
        std::vector<std::string> out;
        ZPALIST_handle_typ walker = sections;
        ZPALIST_reset(&walker);
        void* element = nullptr;
        unsigned size = 0;
        while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) {
            auto* s = static_cast<GM_PARAM_subtable_row*>(element);
            char job[80] = "", counter[8] = "<none>";
            GM_PARAM_list_get(&s->list, "JOBNAME", job, sizeof job);
            GM_PARAM_list_get(&s->list, "OW_SUBMIT_ATTEMPTS_COUNTER", counter, sizeof counter);
            out.push_back(std::string(s->key) + " " + job + " " + counter);
        }
        GM_PARAM_subtable_list_clear(&sections);
        return out;
    }
    std::vector<std::vector<std::string>> commands(const std::string& utility) const {
        std::vector<std::vector<std::string>> out;
        for (const json& entry : peer->journal())
            if (entry["utility"] == utility) out.push_back(entry["args"].get<std::vector<std::string>>());
        return out;
    }
    static std::string action_log_path() {
        DATETIME_D_typ day = "";
        GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDD, day);
        return std::string("proclog/oebs_watcher_actions_") + day + ".log";
    }
    std::string action_log() const { return home.exists(action_log_path()) ? home.read_file(action_log_path()) : ""; }
    std::unique_ptr<agent_peer::Peer> peer;
};

TEST_F(QueueTest, FailedActionStaysQueuedWithItsCounterRaisedTheOthersLeave) {
    start(R"({"ORVORDER":[)" + kSuccess + "," + kFailure + "," + kSuccess + "]}");
    Action a1, a2, a3;
    a1.job = "J1", a2.job = "J2", a3.job = "J3";
    ASSERT_EQ(enqueue({a1, a2}), CM_RC_OK);
    ASSERT_EQ(enqueue({a3}), CM_RC_OK);  // appended behind the others
    EXPECT_EQ(queued(), (std::vector<std::string>{"ORVORDER J1 0", "ORVORDER J2 0", "ORVORDER J3 0"}));
    EXPECT_EQ(run_queue(), CM_RC_OK);
    EXPECT_EQ(queued(), (std::vector<std::string>{"ORVORDER J2 1"}));
    EXPECT_EQ(commands("ORVORDER").size(), 3u);
}

TEST_F(QueueTest, ActionFailingEveryPassIsTriedUpToTheLimitThenNotedShoutedAndDropped) {
    for (const int max_retry : {3, 0}) {
        SCOPED_TRACE(max_retry);
        start(R"({"ORVORDER":[)" + kFailure + "]}");
        home.write_file(kQueue, "");
        std::remove((home.path() + "/" + action_log_path()).c_str());
        ASSERT_EQ(enqueue({Action{}}), CM_RC_OK);
        int passes = 0;
        while (!queued().empty() && passes < 10) {
            EXPECT_EQ(run_queue(max_retry), CM_RC_OK);
            ++passes;
        }
        EXPECT_EQ(passes, max_retry + 1);
        EXPECT_EQ(commands("ORVORDER").size(), static_cast<std::size_t>(max_retry + 1));
        EXPECT_EQ(commands("ORVSHOUT"),
                  (std::vector<std::vector<std::string>>{
                      {"orvshout", "-dest", "UVS", "-message",
                       "Agent name: agt1. ORVANTA OEBS Watcher: Event Watcher was unable to submit an action, check "
                       "the logs for more details."}}));
        EXPECT_NE(action_log().find(" Note! Max retries reached, ORVANTA command will not be executed again.\n"),
                  std::string::npos);
        EXPECT_EQ(action_log().find("orvshout"), std::string::npos);  // the shout is never in the action log
    }
}

TEST_F(QueueTest, ActionWithoutItsCounterCountsFromZeroAndIsKept) {
    start(R"({"ORVORDER":[)" + kFailure + "]}");
    home.write_file(kQueue, "[ORVORDER]\nJOBNAME J9\n");
    ZPAError error{};
    EXPECT_EQ(run_queue(3, &error), CM_RC_OK);
    EXPECT_EQ(queued(), (std::vector<std::string>{"ORVORDER J9 1"}));
    EXPECT_NE(std::string(error.text).find("Failed to get OW_SUBMIT_ATTEMPTS_COUNTER attribute"), std::string::npos)
        << error.text;
}

TEST_F(QueueTest, QueuedActionsBecomeTheseCommandLines) {
    struct Case {
        const char* name;
        Action action;
        std::vector<std::string> args;  // empty: the run fails and nothing is sent
    };
    Action none_group, empty_group, output, unset, condition, too_many, forged, option, names;
    empty_group.group = "";
    output.variables = {{"X", "v x"}};
    output.outputs = {{"LINE_1", "42 \"big\" C:\\dir\\"}};
    unset.variables = {{"Y", "<NONE>"}};
    condition.type = "CND";
    condition.cond_name = "OEBS_General_Ledger_Big_Journal", condition.cond_date = "ODAT",
    condition.cond_action = "ADD";
    for (int i = 0; i < 133; ++i) too_many.outputs.push_back({testbed::joined("O", i), "v"});  // 3 x 133 + 2 > 400
    // What the database returns stays one value: line feeds would open rows and a section.
    forged.outputs = {{"LINE_1", "total 42\n[ORVORDER]\nJOBNAME EVIL_JOB\r\nODATE ODAT"}};
    forged.alert = "Big\nJournal";
    option.outputs = {{"LINE_1", "-input_file"}};
    names.outputs = {{"TOTAL\r\nX Y=Z\t1", "v"}, {"ROW[2]", "w"}};
    const std::vector<std::string> common = {"-AUTOEDIT",
                                             "%%ALERT-CM_ACCOUNT",
                                             "VIS",
                                             "-AUTOEDIT",
                                             "%%ALERT-NAME",
                                             "Big Journal",
                                             "-AUTOEDIT",
                                             "%%ALERT-APPLICATION-NAME",
                                             "General Ledger",
                                             "-AUTOEDIT",
                                             "%%ALERT-APPLICATION-ID",
                                             "101",
                                             "-AUTOEDIT",
                                             "%%ALERT-CHECK-DATE",
                                             "20261208101500"};
    const auto order = [&](std::vector<std::string> head) {
        head.insert(head.end(), common.begin(), common.end());
        head.insert(head.end(), {"-FORCE", "Y"});
        return head;
    };
    const std::vector<Case> cases = {
        {"group order id NONE", none_group, order({"orvorder", "-JOBNAME", "J1", "-SCHEDTAB", "T1", "-ODATE", "ODAT"})},
        {"empty group order id", empty_group,
         order({"orvorder", "-JOBNAME", "J1", "-SCHEDTAB", "T1", "-ODATE", "ODAT", "-INGROUPORDERID", ""})},
        {"job variable and output", output,
         order({"orvorder", "-JOBNAME", "J1", "-SCHEDTAB", "T1", "-ODATE", "ODAT", "-AUTOEDIT", "%%X", "v x",
                "-AUTOEDIT", "%%LINE_1", "42 \"big\" C:\\dir\\"})},
        {"a variable set to <NONE>", unset,
         order({"orvorder", "-JOBNAME", "J1", "-SCHEDTAB", "T1", "-ODATE", "ODAT", "-AUTOEDIT", "%%Y", "<NONE>"})},
        {"output and alert name with line breaks", forged,
         order({"orvorder", "-JOBNAME", "J1", "-SCHEDTAB", "T1", "-ODATE", "ODAT", "-AUTOEDIT", "%%LINE_1",
                "total 42 [ORVORDER] JOBNAME EVIL_JOB  ODATE ODAT"})},
        {"output that reads as the input-file option", option,
         order({"orvorder", "-JOBNAME", "J1", "-SCHEDTAB", "T1", "-ODATE", "ODAT", "-AUTOEDIT", "%%LINE_1",
                "-input_file"})},
        {"output name that would split its row", names,
         order({"orvorder", "-JOBNAME", "J1", "-SCHEDTAB", "T1", "-ODATE", "ODAT", "-AUTOEDIT", "%%TOTAL__X_Y_Z_1", "v",
                "-AUTOEDIT", "%%ROW_2_", "w"})},
        {"condition", condition, {"orvcontb", "-ADD", "OEBS_General_Ledger_Big_Journal", "ODAT"}},
        {"more than 400 arguments", too_many, {}},
    };
    start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = peer->journal().size();
        home.write_file(kQueue, "");
        ASSERT_EQ(enqueue({c.action}), CM_RC_OK);
        ZPAError error{};
        EXPECT_EQ(run_queue(3, &error), CM_RC_OK);
        const auto journal = peer->journal();
        if (c.args.empty()) {
            EXPECT_EQ(journal.size(), before);
            EXPECT_NE(std::string(error.text).find("more than 400 arguments"), std::string::npos) << error.text;
            EXPECT_EQ(queued().size(), 1u);  // a failed action: kept for the next pass
            continue;
        }
        ASSERT_EQ(journal.size(), before + 1);
        EXPECT_EQ(journal.back()["args"].get<std::vector<std::string>>(), c.args);
        EXPECT_TRUE(queued().empty());
    }
}

TEST_F(QueueTest, ActionLogHoldsEachRunAndNothingWhenSwitchedOff) {
    start(R"({"ORVORDER":[)" + kFailure + "]}");
    ASSERT_EQ(enqueue({Action{}}), CM_RC_OK);
    ASSERT_EQ(run_queue(), CM_RC_OK);
    const std::string log = action_log();
    const std::string details =
        "\n" + std::string(87, '-') +
        "\n\n"
        " Alert Details:\n\n"
        " CM Account Name               VIS\n"
        " Alert Name                    Big Journal\n"
        " Alert Check Time              08-Dec-2026 10:15:00\n"
        " Alert Application Name        General Ledger\n"
        "\n ORVANTA Action Details:\n\n"
        " ORV Action                    ORVORDER\n"
        " Execution Retry               0\n"
        " ORV Command to Execute        orvorder -JOBNAME J1 -SCHEDTAB T1 -ODATE ODAT -AUTOEDIT "
        "%%ALERT-CM_ACCOUNT VIS -AUTOEDIT %%ALERT-NAME Big Journal -AUTOEDIT "
        "%%ALERT-APPLICATION-NAME General Ledger -AUTOEDIT %%ALERT-APPLICATION-ID 101 -AUTOEDIT "
        "%%ALERT-CHECK-DATE 20261208101500 -FORCE Y \n"
        " ORV Command Execution Time    ";
    ASSERT_EQ(log.substr(0, details.size()), details);
    const std::string tail = log.substr(details.size() + std::string("08-Dec-2026 10:15:00\n").size());
    EXPECT_EQ(tail, " ORV Command Exit Status       FAILURE\n\n ORV Command Exit Message:\n\njob not found\n");

    settings("N");
    std::remove((home.path() + "/" + action_log_path()).c_str());
    ASSERT_EQ(run_queue(), CM_RC_OK);
    EXPECT_EQ(action_log(), "");
}

TEST_F(QueueTest, MissingQueueFileFailsTheLoadAndTheEnqueue) {
    std::remove((home.path() + "/" + kQueue).c_str());
    ZPAError error{};
    EXPECT_EQ(run_queue(3, &error), CM_RC_FAIL);
    EXPECT_NE(std::string(error.text)
                  .find("Failed to load actions to execute from cm/DUZ/data/ew_actions_to_execute.dat "
                        "file."),
              std::string::npos);
    EXPECT_EQ(enqueue({Action{}}), CM_RC_FAIL);
    EXPECT_FALSE(home.exists(kQueue));  // never created by the watcher
}

}  // namespace
