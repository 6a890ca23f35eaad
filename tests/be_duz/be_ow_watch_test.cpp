// The watcher's account pass against the stand-in database: a new account's first pass, the window
// of later passes, matching of alerts to rules (as a table), an unreachable database, a failed save
// of the watching time after the enqueue, a lower-case account name, and a queue save cut short by
// a kill.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "agent_peer.h"
#include "be_ow.h"
#include "be_session_fixture.h"

namespace {

using oci_standin::Cell;
using oci_standin::Row;

const char* const kTimes = "cm/DUZ/data/event_watch_times.dat";
const char* const kQueue = "cm/DUZ/data/ew_actions_to_execute.dat";
const char* const kAlerts = "from ALR_ALERT_HISTORY_VIEW v";
const char* const kOutputs = "from ALR_ALERT_HISTORY_VIEW where";
const char* const kSysdate = "to_char(sysdate";

const std::string kRules =
    "[CONDITION]\nOEBS_ACCOUNT VIS\nOEBS_APP_NAME General*\nOEBS_ALERT_NAME Big*\nOEBS_DO_ACTION E\n"
    "[ORVORDER]\nJOBNAME J1\nSCHEDTAB T1\nODATE ODAT\nINGROUPORDERID NONE\n";

class PassTest : public betest::SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\n");
        home.write_file(kQueue, "");
        home.write_file(kTimes, "");
        ZPALIST_init(&rules);
        ZPALIST_init(&accounts);
        config.action_max_retry = 3;
        config.alert_max_output = 20;
    }
    void TearDown() override {
        EW_clean_event_rule_list(&rules);
        ZPALIST_clear(&accounts);
        SessionTest::TearDown();
    }
    void use_rules(const std::string& text) {
        home.write_file("cm/DUZ/data/event_rules.dat", text);
        DATETIME_D_typ mark = "";
        ZPAError error{};
        ASSERT_EQ(EW_load_event_watcher_rules(&rules, &accounts, mark, &error), 0) << error.text;
    }
    void start_peer() {
        peer = std::make_unique<agent_peer::Peer>(agent_peer::Options{});
        home.write_file("data/CONFIG.dat",
                        "PROTOCOL_VERSION 10\nLOGICAL_AGENT_NAME agt1\nDBGLVL 0\nUTTIMEOUT 2\n"
                        "COMMRETSLP 0\nORVSHOST 127.0.0.1\nUTCMNDATA " +
                            std::to_string(peer->port()) + "\n");
        GM_PARAM_clear();
    }
    static void database(const std::string& now, std::vector<Row> alerts, std::vector<Row> outputs = {}) {
        oci_standin::add_rule(oci_standin::substring_rule(kSysdate, {oci_standin::answer_rows({{now}})}));
        oci_standin::add_rule(oci_standin::substring_rule(kAlerts, {oci_standin::answer_rows(std::move(alerts))}));
        oci_standin::add_rule(oci_standin::substring_rule(kOutputs, {oci_standin::answer_rows(std::move(outputs))}));
    }
    int pass(ZPAError* out = nullptr) {
        ZPAError error{};
        const int rc = EW_event_watcher_loop(&rules, &accounts, &config, &error);
        if (out) *out = error;
        return rc;
    }
    std::string times(const char* account, const char* key) const {
        ZPALIST_handle_typ sections{};
        GM_PARAM_subtable_load_file(&sections, kTimes);
        char value[64] = "<missing>";
        GM_PARAM_subtable_list_get(&sections, account, key, value, sizeof value);
        GM_PARAM_subtable_list_clear(&sections);
        return value;
    }
    int queued() const {
        ZPALIST_handle_typ sections{};
        GM_PARAM_subtable_load_file(&sections, kQueue);
        const int n = ZPALIST_count(&sections);
        GM_PARAM_subtable_list_clear(&sections);
        return n;
    }
    ZPALIST_handle_typ rules{};
    ZPALIST_handle_typ accounts{};
    EW_cfg_file_params_type config{};
    std::unique_ptr<agent_peer::Peer> peer;
};

const Row kBigJournal = {"Big Journal", "General Ledger", 101, 1, 0, "20261210120050", 7, 900};

TEST_F(PassTest, NewAccountStartsAtTheDatabaseTimeThenReadsTheWindowAfterIt) {
    use_rules(kRules);
    database("20261210120000", {kBigJournal}, {{"LINE", "total 42", "1"}});
    ZPAError error{};
    ASSERT_EQ(pass(&error), 0) << error.text;
    EXPECT_EQ(times("VIS", "LAST_WATCHING_TIME"), "20261210120000");
    EXPECT_EQ(times("VIS", "START_WATCHING_TIME"), "20261210120000");
    EXPECT_EQ(queued(), 0);
    for (const auto& text : prepared()) EXPECT_EQ(text.find(kAlerts), std::string::npos);

    oci_standin::reset();
    database("20261210120100", {kBigJournal}, {{"LINE", "total 42", "1"}});
    ASSERT_EQ(pass(&error), 0) << error.text;
    EXPECT_EQ(bound(kAlerts, "LW"), Cell("20261210120000"));
    EXPECT_EQ(bound(kAlerts, "NLW"), Cell("20261210120058"));
    EXPECT_EQ(times("VIS", "LAST_WATCHING_TIME"), "20261210120058");
    EXPECT_EQ(times("VIS", "START_WATCHING_TIME"), "20261210120000");
    ASSERT_EQ(queued(), 1);
    const std::string queue = home.read_file(kQueue);
    EXPECT_NE(queue.find("%%LINE_1"), std::string::npos);
    EXPECT_NE(queue.find("%%ALERT-CHECK-DATE"), std::string::npos);
    EXPECT_EQ(queue.find("INGROUPORDERID"), std::string::npos);
    const auto journal = oci_standin::journal();
    int begins = 0, ends = 0;
    for (const auto& call : journal.calls) {
        begins += call.name == "OCISessionBegin";
        ends += call.name == "OCISessionEnd";
    }
    EXPECT_EQ(begins, ends);
}

struct MatchCase {
    const char* name;
    std::string rules;
    Row alert;
    std::vector<std::string> actions;  // "ORD <job>" or "CND <condition name>"
};

TEST_F(PassTest, AlertsMatchTheFirstRuleAndTheRulesRightAfterItThatShareItsCondition) {
    const auto cond = [](const std::string& app, const std::string& alert, const std::string& how) {
        return "[CONDITION]\nOEBS_ACCOUNT VIS\nOEBS_APP_NAME " + app + "\nOEBS_ALERT_NAME " + alert +
               "\nOEBS_DO_ACTION " + how + "\n";
    };
    const auto order = [](const std::string& job) { return "[ORVORDER]\nJOBNAME " + job + "\n"; };
    const std::string long_app(240, 'A');
    const std::vector<MatchCase> cases = {
        {"rules 1 and 2 share the condition, rule 3 does not match, rule 4 matches",
         cond("General*", "Big*", "E") + order("j1") + order("j2") + cond("Payables", "*", "E") + order("j3") +
             cond("General*", "Big*", "E") + order("j4"),
         kBigJournal,
         {"ORD j1", "ORD j2"}},
        {"two matching rules with different conditions",
         cond("General*", "Big*", "E") + order("j1") + cond("Gen*", "Big*", "E") + order("j2"),
         kBigJournal,
         {"ORD j1"}},
        {"a pattern with $ matches nothing",
         cond("GL$", "*", "E") + order("j1") + cond("G*", "*", "E") + order("j2"),
         {"X", "GL", 1, 1, 0, "20261210120050"},
         {"ORD j2"}},
        {"G* matches GMS", cond("G*", "*", "E") + order("j1"), {"X", "GMS", 1, 1, 0, "20261210120050"}, {"ORD j1"}},
        {"O: actions performed alone",
         cond("*", "*", "O") + order("j1"),
         {"X", "GL", 1, 0, 2, "20261210120050"},
         {"ORD j1"}},
        {"N: exceptions without actions",
         cond("*", "*", "N") + order("j1"),
         {"X", "GL", 1, 1, 0, "20261210120050"},
         {}},
        {"another account",
         "[CONDITION]\nOEBS_ACCOUNT HR\nOEBS_DO_ACTION E\nOEBS_APP_NAME *\nOEBS_ALERT_NAME *\n" + order("j1"),
         kBigJournal,
         {}},
        {"derived condition name",
         cond("*", "*", "E") + "[ORVCONTB]\nCOND_DATE ODAT\nCOND_ACTION ADD\n",
         kBigJournal,
         {"CND OEBS_General_Ledger_Big_Journal"}},
        {"derived condition name cut at 255",
         cond("*", "*", "E") + "[ORVCONTB]\nCOND_ACTION ADD\n",
         {"Big Journal", long_app, 101, 1, 0, "20261210120050"},
         {"CND OEBS_" + long_app + "_" + std::string("Big_Journal").substr(0, 255 - 6 - 240)}},
    };
    BE_DUZ_Handles* session = open_session();
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        EW_clean_event_rule_list(&rules);
        ZPALIST_clear(&accounts);
        use_rules(c.rules);
        oci_standin::add_rule(oci_standin::substring_rule(kOutputs, {oci_standin::answer_rows({})}));
        EW_alert_type alert;
        EW_init_alert_type(&alert);
        std::snprintf(alert.alert_name, sizeof alert.alert_name, "%s", c.alert[0].as_text().c_str());
        std::snprintf(alert.application_name, sizeof alert.application_name, "%s", c.alert[1].as_text().c_str());
        alert.application_id = static_cast<int>(c.alert[2].as_int());
        alert.num_of_exception = static_cast<int>(c.alert[3].as_int());
        alert.actions_performed = static_cast<int>(c.alert[4].as_int());
        std::snprintf(alert.alert_check_time, sizeof alert.alert_check_time, "%s", c.alert[5].as_text().c_str());
        ZPALIST_handle_typ alerts{}, actions{};
        ZPALIST_append(&alerts, &alert, sizeof alert);
        ZPAError error{};
        ASSERT_EQ(EW_create_actions_to_excute_list(&rules, &alerts, const_cast<char*>("VIS"), &actions, session,
                                                   &config, &error),
                  0)
            << error.text;
        std::vector<std::string> got;
        ZPALIST_handle_typ walker = actions;
        ZPALIST_reset(&walker);
        void* element = nullptr;
        unsigned size = 0;
        while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) {
            const auto* a = static_cast<EW_actions_to_excute_type*>(element);
            got.push_back(std::string(a->action_type) + " " +
                          (a->action_type[0] == 'O' ? a->orv_jobname : a->orv_cond_name));
        }
        EXPECT_EQ(got, c.actions);
        EW_clean_event_watcher_loop_lists(&alerts, &actions, &error);
    }
    close_session(session);
}

TEST_F(PassTest, UnreachableDatabaseShoutsEveryPassAndKeepsTheWatchingTime) {
    start_peer();
    use_rules(kRules);
    home.write_file(kTimes, "[VIS]\nLAST_WATCHING_TIME 20261210110000\nSTART_WATCHING_TIME 20261210110000\n");
    oci_standin::add_logon(oci_standin::logon(
        "VIS", "APPS", "apps", oci_standin::failure_at(oci_standin::Step::Attach, 12541, "TNS:no listener")));
    for (int i = 0; i < 2; ++i) EXPECT_EQ(pass(), 0);
    EXPECT_EQ(times("VIS", "LAST_WATCHING_TIME"), "20261210110000");
    ASSERT_EQ(peer->journal().size(), 2u);
    for (const auto& entry : peer->journal())
        EXPECT_EQ(entry["args"].back(),
                  "Agent name: agt1. ORVANTA OEBS Watcher: Event Watcher was unable to connect to "
                  "OEBS server, check the logs for more details.");
    oci_standin::reset();
    database("20261210120100", {kBigJournal});
    EXPECT_EQ(pass(), 0);
    EXPECT_EQ(bound(kAlerts, "LW"), Cell("20261210110000"));
    EXPECT_EQ(queued(), 1);
    EXPECT_EQ(oci_standin::live_handles(), 0u);
}

TEST_F(PassTest, FailedSaveOfTheWatchingTimeAfterTheEnqueueQueuesTheAlertsAgain) {
    use_rules(kRules);
    // Other accounts make the watch-times file larger than the queue file, so that a file-size
    // limit between the two lets the enqueue through and stops the time save.
    std::string file = "[VIS]\nLAST_WATCHING_TIME 20261210110000\nSTART_WATCHING_TIME 20261210110000\n";
    for (int i = 0; i < 60; ++i)
        file += "[ACC" + std::to_string(i) + "]\nLAST_WATCHING_TIME ACTIVATION\nSTART_WATCHING_TIME ACTIVATION\n";
    home.write_file(kTimes, file);
    database("20261210120100", {kBigJournal});
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{8192, 8192};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(pass());
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(queued(), 1);
    EXPECT_EQ(times("VIS", "LAST_WATCHING_TIME"), "20261210110000");
    EXPECT_EQ(pass(), 0);
    EXPECT_EQ(queued(), 2);  // the same alert once more: nothing lost
    EXPECT_EQ(times("VIS", "LAST_WATCHING_TIME"), "20261210120058");
}

TEST_F(PassTest, LowerCaseAccountKeepsOneSectionAndItsWatchingTime) {
    // The file's loader upper-cases section names: the times are kept under the upper-cased name,
    // so the second pass finds the time the first one saved instead of adding a section again.
    char account[] = "vis";
    DB_DATETIME_typ last = "";
    ZPAError error{};
    ASSERT_EQ(EW_get_last_watching_time(account, last, &error), 0) << error.text;
    EXPECT_STREQ(last, "ACTIVATION");
    char now[] = "20261210120000";
    ASSERT_EQ(EW_save_last_watching_time(account, now, 1, &error), 0) << error.text;
    ASSERT_EQ(EW_get_last_watching_time(account, last, &error), 0) << error.text;
    EXPECT_STREQ(last, "20261210120000");
    ZPALIST_handle_typ sections{};
    GM_PARAM_subtable_load_file(&sections, kTimes);
    EXPECT_EQ(ZPALIST_count(&sections), 1);
    GM_PARAM_subtable_list_clear(&sections);
    EXPECT_EQ(times("VIS", "START_WATCHING_TIME"), "20261210120000");
    // A hand-edited time that is neither 14 digits nor ACTIVATION is refused like a missing one.
    home.write_file(kTimes, "[VIS]\nLAST_WATCHING_TIME 2026121012000099\n");
    EXPECT_EQ(EW_get_last_watching_time(account, last, &error), 1);
    EXPECT_NE(std::string(error.text).find("Failed to get LAST_WATCHING_TIME parameter"), std::string::npos);
}

TEST_F(PassTest, QueueSaveKilledAnywhereLeavesTheOldOrTheNewQueue) {
    const std::string old_queue = "[ORVORDER]\nJOBNAME OLD\nOW_SUBMIT_ATTEMPTS_COUNTER 0\n";
    home.write_file(kQueue, old_queue);
    const auto save_in_child = [] {
        const pid_t child = fork();
        if (child == 0) {
            ZPALIST_handle_typ list{};
            for (int i = 0; i < 5000; ++i) {
                EW_actions_to_excute_type a{};
                std::strcpy(a.action_type, "ORD");
                std::snprintf(a.orv_jobname, sizeof a.orv_jobname, "J%d", i);
                ZPALIST_append(&list, &a, sizeof a);
            }
            ZPAError error{};
            _exit(EW_save_actions_to_excute_to_file(&list, &error) == CM_RC_OK ? 0 : 1);
        }
        return child;
    };
    // How long one save takes here, to spread the kills over it.
    const auto began = std::chrono::steady_clock::now();
    pid_t child = save_in_child();
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - began);
    ASSERT_EQ(queued(), 5001);
    std::mt19937 random(20261210);
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE(run);
        home.write_file(kQueue, old_queue);
        child = save_in_child();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % (took.count() + 1)));
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        const int after = queued();
        EXPECT_TRUE(after == 1 || after == 5001) << after;
    }
}

}  // namespace
