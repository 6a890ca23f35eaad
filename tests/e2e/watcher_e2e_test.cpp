// The whole watcher as a process: alerts in the stand-in database become a job order and a
// condition change at the agent peer, with the action log, an empty queue and the watching time
// moved to the database time less 2 seconds; an order in flight when the watcher is killed arrives
// again after the restart, and one in flight at SIGTERM stays queued while the watcher leaves; a
// queue file missing for a pass keeps the alerts for the next one; alert outputs that look like
// rows or options reach the order as its variables.
#include <algorithm>
#include <filesystem>

#include "gm_param.h"
#include "gm_time.h"
#include "watcher_process.h"

namespace {

using nlohmann::json;

const char* const kQueue = "cm/DUZ/data/ew_actions_to_execute.dat";
const char* const kTimes = "cm/DUZ/data/event_watch_times.dat";

json alert_row(const std::string& name, const std::string& when) {
    return json::array({name, "General Ledger", 101, 1, 0, when, 7, 900});
}

class WatcherEndToEnd : public e2e::WatcherProcessTest {
protected:
    // alerts: the rows of each pass's alert query (the last repeats); outputs: the rows of every
    // output query (name, value, sequence).
    void prepare(const std::vector<json>& alerts, const std::string& peer_script = "",
                 const json& outputs = json::array({json::array({"LINE", "total 42", "1"})})) {
        start_peer(peer_script);
        home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\n");
        home.write_file("cm/DUZ/data/event_cfg.dat",
                        "[GEN_EVENT_PARAMS]\nACTIVATE_EVENT_WATCHER Y\nACTION_MAX_RETRY 3\nACTION_LOG Y\n"
                        "WATCHING_INTERVAL_TIME 6\nALERT_MAX_OUTPUT 20\n");
        home.write_file("cm/DUZ/data/event_rules.dat",
                        "[CONDITION]\nOEBS_ACCOUNT VIS\nOEBS_APP_NAME General*\nOEBS_ALERT_NAME *\nOEBS_DO_ACTION E\n"
                        "[ORVORDER]\nJOBNAME JOB1\nSCHEDTAB TAB1\nODATE ODAT\nINGROUPORDERID NONE\n"
                        "[ORVCONTB]\nCOND_NAME C1\nCOND_DATE ODAT\nCOND_ACTION ADD\n");
        home.write_file(kTimes, "[VIS]\nLAST_WATCHING_TIME 20261210110000\nSTART_WATCHING_TIME 20261210110000\n");
        home.write_file(kQueue, "");
        json answers = json::array();
        for (const json& rows : alerts) answers.push_back({{"rows", rows}});
        json times = json::array();
        for (int i = 0; i < 10; ++i)
            times.push_back({{"rows", json::array({json::array({"2026121012" + std::to_string(10 + i) + "00"})})}});
        const json script = {
            {"rules",
             json::array({{{"name", "time"}, {"match", "to_char(sysdate"}, {"answers", times}},
                          {{"name", "alerts"}, {"match", "from ALR_ALERT_HISTORY_VIEW v"}, {"answers", answers}},
                          {{"name", "outputs"}, {"match", "from ALR_ALERT_HISTORY_VIEW where"}, {"rows", outputs}}})}};
        home.write_file("oci/script.json", script.dump());
        environment = {{"ORV_OCI_STANDIN_SCRIPT", home.path() + "/oci/script.json"},
                       {"ORV_OCI_STANDIN_STATE", home.path() + "/oci/state.json"},
                       {"ORV_OCI_STANDIN_JOURNAL", home.path() + "/oci/journal.jsonl"}};
    }
    std::vector<std::vector<std::string>> sent(const std::string& utility) const {
        std::vector<std::vector<std::string>> out;
        for (const json& entry : peer->journal())
            if (entry["utility"] == utility) out.push_back(entry["args"].get<std::vector<std::string>>());
        return out;
    }
    std::string watching_time() const {
        ZPALIST_handle_typ sections{};
        GM_PARAM_subtable_load_file(&sections, kTimes);
        char value[32] = "";
        GM_PARAM_subtable_list_get(&sections, "VIS", "LAST_WATCHING_TIME", value, sizeof value);
        GM_PARAM_subtable_list_clear(&sections);
        return value;
    }
    static bool contains(const std::vector<std::string>& args, const std::vector<std::string>& run) {
        return std::search(args.begin(), args.end(), run.begin(), run.end()) != args.end();
    }
    std::string action_log() const {
        DATETIME_D_typ day = "";
        GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDD, day);
        return home.read_file(std::string("proclog/oebs_watcher_actions_") + day + ".log");
    }
};

TEST_F(WatcherEndToEnd, AlertsBecomeAnOrderAndAConditionChange) {
    prepare({json::array({alert_row("Big Journal", "20261210115000")}),
             json::array({alert_row("Bigger Journal", "20261210120500")}), json::array()});
    const pid_t pid = start_watcher();
    ASSERT_TRUE(peer->wait_for_journal(2, 30)) << log_of(pid);
    ASSERT_TRUE(wait_for_log(pid, "Going to sleep for: 6 seconds.", 20));
    auto orders = sent("ORVORDER");
    ASSERT_EQ(orders.size(), 1u);
    const std::vector<std::string> head = {"orvorder", "-JOBNAME", "JOB1",      "-SCHEDTAB", "TAB1",
                                           "-ODATE",   "ODAT",     "-AUTOEDIT", "%%LINE_1",  "total 42"};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), orders[0].begin())) << json(orders[0]).dump();
    EXPECT_TRUE(contains(orders[0], {"-AUTOEDIT", "%%ALERT-NAME", "Big Journal"}));
    EXPECT_EQ(std::vector<std::string>(orders[0].end() - 2, orders[0].end()),
              (std::vector<std::string>{"-FORCE", "Y"}));
    EXPECT_EQ(sent("ORVCONTB"), (std::vector<std::vector<std::string>>{{"orvcontb", "-ADD", "C1", "ODAT"}}));
    EXPECT_EQ(home.read_file(kQueue), "");
    EXPECT_EQ(watching_time(), "20261210120958");  // the database time of the pass less 2 s
    const std::string log = action_log();
    EXPECT_NE(log.find(" ORV Command Exit Status       SUCCESS\n"), std::string::npos);
    EXPECT_NE(log.find(" Alert Name                    Big Journal\n"), std::string::npos);
    // The next pass brings the next alert.
    ASSERT_TRUE(peer->wait_for_journal(4, 20));
    orders = sent("ORVORDER");
    ASSERT_EQ(orders.size(), 2u);
    EXPECT_TRUE(contains(orders[1], {"-AUTOEDIT", "%%ALERT-NAME", "Bigger Journal"}));
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_exit(pid, 15), 0);
    EXPECT_NE(log_of(pid).find(">>> ORVANTA OEBS Watcher ended with rc = "), std::string::npos);
}

TEST_F(WatcherEndToEnd, AlertOutputsReachTheConfiguredOrderWholeAsItsVariables) {
    // One output whose line feeds would open a section of the queue file and another that reads as
    // the utilities' input-file option: each stays one variable of the one configured order.
    const std::string forged = "total 42\n[ORVORDER]\nJOBNAME EVIL_JOB\nSCHEDTAB PAYROLL\nODATE ODAT";
    prepare({json::array({alert_row("Big Journal", "20261210115000")}), json::array()}, "",
            json::array({json::array({"LINE", forged, "1"}), json::array({"LINE", "-input_file", "2"})}));
    const pid_t pid = start_watcher();
    ASSERT_TRUE(peer->wait_for_journal(2, 30)) << log_of(pid);
    ASSERT_TRUE(wait_for_log(pid, "Going to sleep for: 6 seconds.", 20));
    const std::vector<std::string> order = {"orvorder",
                                            "-JOBNAME",
                                            "JOB1",
                                            "-SCHEDTAB",
                                            "TAB1",
                                            "-ODATE",
                                            "ODAT",
                                            "-AUTOEDIT",
                                            "%%LINE_1",
                                            "total 42 [ORVORDER] JOBNAME EVIL_JOB SCHEDTAB PAYROLL ODATE ODAT",
                                            "-AUTOEDIT",
                                            "%%LINE_2",
                                            "-input_file",
                                            "-AUTOEDIT",
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
                                            "20261210115000",
                                            "-FORCE",
                                            "Y"};
    EXPECT_EQ(sent("ORVORDER"), std::vector<std::vector<std::string>>{order});
    EXPECT_EQ(sent("ORVCONTB").size(), 1u);
    EXPECT_EQ(peer->journal().size(), 2u);
    EXPECT_EQ(home.read_file(kQueue), "");
    std::string logged;
    for (const std::string& argument : order) logged += argument + " ";
    const std::string log = action_log();
    EXPECT_NE(log.find(" ORV Command to Execute        " + logged + "\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("FAILURE"), std::string::npos) << log;
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_exit(pid, 15), 0);
}

TEST_F(WatcherEndToEnd, OrderInFlightAtAKillArrivesAgainAfterTheRestart) {
    prepare({json::array({alert_row("Big Journal", "20261210115000")}), json::array()},
            R"({"ORVORDER":[{"hold":true},{}]})");
    std::string config = home.read_file("data/CONFIG.dat");
    config.replace(config.find("UTTIMEOUT 5"), 11, "UTTIMEOUT 60");
    home.write_file("data/CONFIG.dat", config);
    const pid_t first = start_watcher();
    ASSERT_TRUE(peer->wait_for_journal(1, 30)) << log_of(first);
    kill(first, SIGKILL);
    EXPECT_EQ(wait_exit(first, 10), -1);
    peer->release();
    EXPECT_NE(home.read_file(kQueue).find("[ORVORDER]"), std::string::npos);  // still queued
    const pid_t second = start_watcher();
    ASSERT_TRUE(wait_for_log(second, "Going to sleep for: 6 seconds.", 30)) << log_of(second);
    EXPECT_EQ(sent("ORVORDER").size(), 2u);
    EXPECT_EQ(sent("ORVCONTB").size(), 1u);
    EXPECT_EQ(home.read_file(kQueue), "");
    kill(second, SIGTERM);
    EXPECT_EQ(wait_exit(second, 15), 0);
}

// SIGTERM while an order waits on a peer that never answers, at the default utility time-out of
// 60 seconds: the wait ends at the exit request and the watcher leaves within 10 seconds; the
// order stays queued, and the condition change after it is not sent but queued too.
TEST_F(WatcherEndToEnd, TermWithAnOrderInFlightAtASilentPeerEndsWithinTenSecondsAndKeepsTheQueue) {
    prepare({json::array({alert_row("Big Journal", "20261210115000")}), json::array()},
            R"({"ORVORDER":[{"hold":true}]})");
    std::string config = home.read_file("data/CONFIG.dat");
    config.erase(config.find("UTTIMEOUT 5\n"), 12);
    home.write_file("data/CONFIG.dat", config);
    const pid_t pid = start_watcher();
    ASSERT_TRUE(peer->wait_for_journal(1, 30)) << log_of(pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the watcher waits on the reply
    const auto signalled = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_exit(pid, 30), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(10));
    peer->release();
    const std::string queue = home.read_file(kQueue);
    EXPECT_NE(queue.find("[ORVORDER]"), std::string::npos) << queue;
    EXPECT_NE(queue.find("[ORVCONTB]"), std::string::npos) << queue;
    EXPECT_EQ(peer->journal().size(), 1u);
    EXPECT_NE(log_of(pid).find(">>> ORVANTA OEBS Watcher ended with rc = "), std::string::npos);
}

TEST_F(WatcherEndToEnd, QueueFileMissingForAPassKeepsTheAlertsForTheNext) {
    prepare({json::array({alert_row("Big Journal", "20261210115000")}),
             json::array({alert_row("Big Journal", "20261210115000")}), json::array()});
    std::filesystem::remove(home.path() + "/" + kQueue);
    const pid_t pid = start_watcher();
    ASSERT_TRUE(wait_for_log(pid, "Going to sleep for: 6 seconds.", 30)) << log_of(pid);
    EXPECT_EQ(watching_time(), "20261210110000");
    EXPECT_TRUE(sent("ORVORDER").empty());
    home.write_file(kQueue, "");
    // The first pass shouted its failures; the next one orders the alert it kept.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (sent("ORVCONTB").empty() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::string utilities;
    for (const json& entry : peer->journal()) utilities += entry["utility"].get<std::string>() + " ";
    EXPECT_EQ(utilities, "ORVSHOUT ORVSHOUT ORVORDER ORVCONTB ");
    EXPECT_EQ(sent("ORVORDER").size(), 1u);
    EXPECT_EQ(sent("ORVCONTB").size(), 1u);
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_exit(pid, 15), 0);
}

}  // namespace
