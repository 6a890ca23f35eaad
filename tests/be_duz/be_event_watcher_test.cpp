// Alert data and the watcher's files: the settings reader, the watch-times changes and their locks
// under threads and processes at once, the alert window, the outputs of a check and the name lists,
// in-process against the stand-in database.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "be_event_watcher.h"
#include "be_session_fixture.h"
#include "joined.h"

namespace {

using oci_standin::Cell;
using oci_standin::Row;

constexpr const char* kSettingsPath = "cm/DUZ/data/event_cfg.dat";
constexpr const char* kTimesPath = "cm/DUZ/data/event_watch_times.dat";
constexpr const char* kFullSettings =
    "[GEN_EVENT_PARAMS]\nACTIVATE_EVENT_WATCHER Y\nACTION_MAX_RETRY 3\nACTION_LOG N\nWATCHING_INTERVAL_TIME 60\n"
    "ALERT_MAX_OUTPUT 7\n";

struct Loaded {
    ZPALIST_handle_typ list{};
    Loaded(const char* path) {
        ZPALIST_init(&list);
        GM_PARAM_subtable_load_file(&list, path);
    }
    ~Loaded() { GM_PARAM_subtable_list_clear(&list); }
    std::string get(const char* section, const char* key) {
        char value[256] = "<missing>";
        GM_PARAM_subtable_list_get(&list, section, key, value, sizeof value);
        return value;
    }
    int count() { return ZPALIST_count(&list); }
};

class WatcherFilesTest : public betest::HomeTest {
protected:
    ZPAError error{};
};

TEST_F(WatcherFilesTest, SettingsFileReadsEveryKeyOrStopsAtTheFirstMissingOne) {
    struct Case {
        const char* what;
        std::string file;  // empty: no file
        ZPARC rc;
        EW_cfg_file_params_type expected;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"full", kFullSettings, 0, {"Y", "N", 3, 60, 7}, ""},
        {"no ALERT_MAX_OUTPUT",
         "[GEN_EVENT_PARAMS]\nACTIVATE_EVENT_WATCHER Y\nACTION_MAX_RETRY 3\nACTION_LOG Y\nWATCHING_INTERVAL_TIME 60\n",
         1,
         {"Y", "Y", 3, 60, 20},
         "CM for OEBS: Cannot find ALERT_MAX_OUTPUT parameter"},
        {"no ACTION_MAX_RETRY",
         "[GEN_EVENT_PARAMS]\nACTIVATE_EVENT_WATCHER Y\nACTION_LOG Y\nWATCHING_INTERVAL_TIME 60\n",
         1,
         {"Y", "", 0, 0, 0},
         "CM for OEBS: Cannot find ACTION_MAX_RETRY parameter"},
        {"letters",
         "[GEN_EVENT_PARAMS]\nACTIVATE_EVENT_WATCHER N\nACTION_MAX_RETRY x\nACTION_LOG Y\nWATCHING_INTERVAL_TIME abc\n"
         "ALERT_MAX_OUTPUT 2\n",
         0,
         {"N", "Y", 0, 0, 2},
         ""},
        {"missing file", "", 1, {"", "", 0, 0, 0}, "CM for OEBS: Cannot load event configuration section list"},
    };
    for (const Case& c : cases) {
        std::remove(kSettingsPath);
        if (!c.file.empty()) home.write_file(kSettingsPath, c.file);
        error = ZPAError{};
        EW_cfg_file_params_type read{};
        EXPECT_EQ(EW_load_new_event_config(&read, &error), c.rc) << c.what;
        EXPECT_STREQ(read.activate_event_watcher, c.expected.activate_event_watcher) << c.what;
        EXPECT_STREQ(read.create_log, c.expected.create_log) << c.what;
        EXPECT_EQ(read.action_max_retry, c.expected.action_max_retry) << c.what;
        EXPECT_EQ(read.watching_interval_time, c.expected.watching_interval_time) << c.what;
        EXPECT_EQ(read.alert_max_output, c.expected.alert_max_output) << c.what;
        EXPECT_STREQ(error.text, c.message) << c.what;
    }
}

TEST_F(WatcherFilesTest, WatchTimesChanges) {
    home.write_file(kTimesPath,
                    "[VIS]\nLAST_WATCHING_TIME 20260101000000\nSTART_WATCHING_TIME 20250101000000\n"
                    "[PROD]\nLAST_WATCHING_TIME 20260101000000\nSTART_WATCHING_TIME 20250101000000\n"
                    "[TEST]\nLAST_WATCHING_TIME 20260101000000\nSTART_WATCHING_TIME 20250101000000\n");
    ASSERT_EQ(EW_save_activation_time(const_cast<char*>("ACTIVATION"), &error), 0) << error.text;
    {
        Loaded file(kTimesPath);
        EXPECT_EQ(file.count(), 3);
        for (const char* account : {"VIS", "PROD", "TEST"}) {
            EXPECT_EQ(file.get(account, "LAST_WATCHING_TIME"), "ACTIVATION");
            EXPECT_EQ(file.get(account, "START_WATCHING_TIME"), "ACTIVATION");
        }
        EXPECT_NE(home.read_file(kTimesPath).find("[VIS]"), std::string::npos);
        EXPECT_LT(home.read_file(kTimesPath).find("[VIS]"), home.read_file(kTimesPath).find("[TEST]"));
    }
    // An added account keeps its lower-case letters until the file is loaded again.
    ASSERT_EQ(
        EW_update_event_watch_times_file(const_cast<char*>("ADD_ACCOUNT"), const_cast<char*>("dev1"), nullptr, &error),
        CM_RC_OK);
    EXPECT_NE(home.read_file(kTimesPath).find("[dev1]"), std::string::npos);
    EXPECT_GT(home.read_file(kTimesPath).find("[dev1]"), home.read_file(kTimesPath).find("[TEST]"));
    // The reload upper-cases it: a delete by the lower-case name finds nothing, by the upper-case one removes it.
    const std::string before = home.read_file(kTimesPath);
    ASSERT_EQ(EW_update_event_watch_times_file(const_cast<char*>("DELETE_ACCOUNT"), const_cast<char*>("dev1"), nullptr,
                                               &error),
              CM_RC_OK);
    EXPECT_NE(home.read_file(kTimesPath).find("[DEV1]"), std::string::npos);
    ASSERT_EQ(EW_update_event_watch_times_file(const_cast<char*>("DELETE_ACCOUNT"), const_cast<char*>("DEV1"), nullptr,
                                               &error),
              CM_RC_OK);
    EXPECT_EQ(home.read_file(kTimesPath).find("DEV1"), std::string::npos);
    // Rename of an absent account and an unknown action change nothing and succeed.
    const std::string unchanged = home.read_file(kTimesPath);
    EXPECT_EQ(EW_update_event_watch_times_file(const_cast<char*>("RENAME_ACCOUNT_NAME"), const_cast<char*>("NEW"),
                                               const_cast<char*>("NONE"), &error),
              CM_RC_OK);
    EXPECT_EQ(EW_update_event_watch_times_file(const_cast<char*>("MOVE"), const_cast<char*>("VIS"), nullptr, &error),
              CM_RC_OK);
    EXPECT_EQ(home.read_file(kTimesPath), unchanged);
    EXPECT_EQ(EW_update_event_watch_times_file(const_cast<char*>("RENAME_ACCOUNT_NAME"), const_cast<char*>("LIVE"),
                                               const_cast<char*>("PROD"), &error),
              CM_RC_OK);
    Loaded file(kTimesPath);
    EXPECT_EQ(file.get("LIVE", "LAST_WATCHING_TIME"), "ACTIVATION");
    EXPECT_EQ(file.get("PROD", "LAST_WATCHING_TIME"), "<missing>");
}

TEST_F(WatcherFilesTest, OverLongValuesAreRefusedWithTheFilesUnchanged) {
    home.write_file(kTimesPath, "[VIS]\nLAST_WATCHING_TIME 20260101000000\nSTART_WATCHING_TIME 20250101000000\n");
    const std::string before = home.read_file(kTimesPath);
    // So are names that cannot be a section as they are: one whose header "[name]" is longer than
    // the 63 characters the reader takes, one that would close its section and open another.
    for (std::string name : {std::string(62, 'A'), std::string("NEW]\n[PROD"), std::string("MY ACC")}) {
        EXPECT_EQ(EW_update_event_watch_times_file(const_cast<char*>("ADD_ACCOUNT"), name.data(), nullptr, &error),
                  CM_RC_FAIL);
        EXPECT_EQ(EW_update_event_watch_times_file(const_cast<char*>("RENAME_ACCOUNT_NAME"), name.data(),
                                                   const_cast<char*>("VIS"), &error),
                  CM_RC_FAIL);
    }
    EXPECT_EQ(EW_save_activation_time(const_cast<char*>("ACTIVATION_AND_MORE"), &error), ZPA_FAIL);
    EXPECT_EQ(home.read_file(kTimesPath), before);
    // A missing watch-times file is a failure; nothing creates it.
    std::remove(kTimesPath);
    EXPECT_EQ(
        EW_update_event_watch_times_file(const_cast<char*>("ADD_ACCOUNT"), const_cast<char*>("VIS"), nullptr, &error),
        CM_RC_FAIL);
    EXPECT_FALSE(home.exists(kTimesPath));
}

// Processes and their threads add accounts, activate and update the settings at once.
TEST_F(WatcherFilesTest, ChangesAtOnceFromThreadsAndProcessesLoseNothing) {
    home.write_file(kTimesPath, "[VIS]\nLAST_WATCHING_TIME 20260101000000\nSTART_WATCHING_TIME 20250101000000\n");
    home.write_file(kSettingsPath, kFullSettings);
    constexpr int kProcesses = 3, kThreads = 2, kAccounts = 6;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid != 0) {
            children.push_back(pid);
            continue;
        }
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([p, t] {
                for (int a = 0; a < kAccounts; ++a) {
                    ZPAError e{};
                    std::string name = testbed::joined("A", p, "_", t, "_", a);
                    if (EW_update_event_watch_times_file(const_cast<char*>("ADD_ACCOUNT"), name.data(), nullptr, &e) !=
                        CM_RC_OK)
                        std::fprintf(stderr, "add %s failed: %d %s\n", name.c_str(), static_cast<int>(e.code), e.text);
                    EW_save_activation_time(const_cast<char*>("ACTIVATION"), &e);
                    std::string request = "<ACTIVATE_EVENT_WATCHER>Y</ACTIVATE_EVENT_WATCHER><WATCHING_INTERVAL_TIME>" +
                                          std::to_string(10 + a) + "</WATCHING_INTERVAL_TIME>";
                    auto* handle = static_cast<BE_DUZ_xmldata_handle*>(std::calloc(1, sizeof(BE_DUZ_xmldata_handle)));
                    BE_DUZ_PKM_update_ew_config_req(request.data(), handle, &e);
                    std::free(handle->xmlResponse);
                    std::free(handle);
                }
            });
        }
        for (auto& thread : threads) thread.join();
        _exit(0);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Loaded times(kTimesPath);
    EXPECT_EQ(times.count(), 1 + kProcesses * kThreads * kAccounts);
    for (int p = 0; p < kProcesses; ++p)
        for (int t = 0; t < kThreads; ++t)
            for (int a = 0; a < kAccounts; ++a)
                EXPECT_EQ(times.get(testbed::joined("A", p, "_", t, "_", a).c_str(), "LAST_WATCHING_TIME"),
                          "ACTIVATION");
    EW_cfg_file_params_type settings{};
    EXPECT_EQ(EW_load_new_event_config(&settings, &error), 0) << error.text;
    EXPECT_EQ(settings.action_max_retry, 3);
    EXPECT_EQ(settings.alert_max_output, 7);
    EXPECT_EQ(settings.watching_interval_time, 10 + kAccounts - 1);
}

// ------------------------------------------------------------------------------------------------
// Alert queries

class AlertDataTest : public betest::OpenSessionTest {
protected:
    static void rows_for(const std::string& match, std::vector<Row> rows) {
        oci_standin::add_rule(oci_standin::substring_rule(match, {oci_standin::answer_rows(std::move(rows))}));
    }
    ZPAError error{};
};

constexpr const char* kNewAlerts = "from ALR_ALERT_HISTORY_VIEW v";

TEST_F(AlertDataTest, WindowEndsTwoSecondsBeforeTheDatabaseTimeAndRepeatsChecksPerCheckId) {
    rows_for("to_char(sysdate", {{"20261210120100"}});
    rows_for(kNewAlerts, {{"LOW_STOCK", "Inventory", 401, 2, 1, "20261210120058", 11, 900},
                          {"LOW_STOCK", "Inventory", 401, 2, 1, "20261210120058", 12, 900}});
    char last[] = "20261210115900";
    DB_DATETIME_typ next = "";
    ZPALIST_handle_typ alerts{};
    ASSERT_EQ(DB_get_all_new_alerts_from_oebs(session, last, next, &alerts, &error), 0) << error.text;
    EXPECT_STREQ(next, "20261210120058");
    EXPECT_EQ(bound(kNewAlerts, "LW"), Cell("20261210115900"));
    EXPECT_EQ(bound(kNewAlerts, "NLW"), Cell("20261210120058"));
    std::string text;
    for (const auto& t : prepared())
        if (t.find(kNewAlerts) != std::string::npos) text = t;
    EXPECT_NE(text.find("to_char(v.ALERT_CHECK_DATE,'YYYYMMDDHH24MISS') > :LW"), std::string::npos);
    EXPECT_NE(text.find("to_char(v.ALERT_CHECK_DATE,'YYYYMMDDHH24MISS') <= :NLW"), std::string::npos);
    ASSERT_EQ(ZPALIST_count(&alerts), 2);
    ZPALIST_reset(&alerts);
    void* element = nullptr;
    unsigned size = 0;
    ASSERT_EQ(ZPALIST_next_ptr(&alerts, &element, &size), CM_RC_OK);
    ASSERT_EQ(size, sizeof(EW_alert_type));
    const auto* alert = static_cast<EW_alert_type*>(element);
    EXPECT_STREQ(alert->alert_name, "LOW_STOCK");
    EXPECT_STREQ(alert->application_name, "Inventory");
    EXPECT_EQ(alert->application_id, 401);
    EXPECT_EQ(alert->num_of_exception, 2);
    EXPECT_EQ(alert->actions_performed, 1);
    EXPECT_STREQ(alert->alert_check_time, "20261210120058");
    EXPECT_EQ(alert->alert_outputs, nullptr);
    ZPALIST_clear(&alerts);
}

TEST_F(AlertDataTest, FetchErrorKeepsTheChecksReadBeforeIt) {
    rows_for("to_char(sysdate", {{"20261210120100"}});
    oci_standin::Answer answer = oci_standin::answer_rows({{"A", "X", 1, 1, 1, "20261210120000"},
                                                           {"B", "X", 1, 1, 1, "20261210120001"},
                                                           {"C", "X", 1, 1, 1, "20261210120002"}});
    oci_standin::Failure failure =
        oci_standin::failure_at(oci_standin::Step::Fetch, 3113, "end-of-file on communication channel");
    failure.row = 3;
    answer.failure = failure;
    oci_standin::add_rule(oci_standin::substring_rule(kNewAlerts, {answer}));
    char last[] = "20261210110000";
    DB_DATETIME_typ next = "";
    ZPALIST_handle_typ alerts{};
    EXPECT_NE(DB_get_all_new_alerts_from_oebs(session, last, next, &alerts, &error), 0);
    EXPECT_EQ(ZPALIST_count(&alerts), 2);
    EXPECT_NE(std::string(error.text).find("ORA-03113"), std::string::npos) << error.text;
    ZPALIST_clear(&alerts);
}

TEST_F(AlertDataTest, OutputsUpToTheLimitAndTheLaterValueOfARepeatedKey) {
    struct Case {
        int max_output;
        std::vector<Row> rows;
        std::vector<std::pair<std::string, std::string>> expected;
    };
    const std::vector<Row> five = {
        {"ITEM", "bolt", "1"}, {"QTY", "3", "1"}, {"ITEM", "nut", "2"}, {"QTY", "9", "2"}, {"ITEM", "gear", "3"}};
    const std::vector<Case> cases = {
        {3, five, {{"ITEM_1", "bolt"}, {"QTY_1", "3"}, {"ITEM_2", "nut"}}},
        {0, five, {{"ITEM_1", "bolt"}, {"QTY_1", "3"}, {"ITEM_2", "nut"}, {"QTY_2", "9"}, {"ITEM_3", "gear"}}},
        {0, {{"ITEM", "old", "1"}, {"ITEM", "new", "1"}}, {{"ITEM_1", "new"}}},
        {0, {}, {}},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        rows_for("from ALR_ALERT_HISTORY_VIEW where", c.rows);
        EW_alert_type alert;
        EW_init_alert_type(&alert);
        std::snprintf(alert.alert_name, sizeof alert.alert_name, "LOW_STOCK");
        alert.application_id = 401;
        std::snprintf(alert.alert_check_time, sizeof alert.alert_check_time, "20261210120058");
        ASSERT_EQ(DB_get_alert_outputs_from_oebs(session, &alert, c.max_output, &error), 0) << error.text;
        EXPECT_EQ(bound("from ALR_ALERT_HISTORY_VIEW where", "APPID"), Cell(401));
        EXPECT_EQ(bound("from ALR_ALERT_HISTORY_VIEW where", "ALERT_DATE"), Cell("20261210120058"));
        if (c.expected.empty()) {
            EXPECT_EQ(alert.alert_outputs, nullptr);
            continue;
        }
        ASSERT_NE(alert.alert_outputs, nullptr);
        ASSERT_EQ(alert.alert_outputs->Count, static_cast<int>(c.expected.size())) << c.max_output;
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_STREQ(alert.alert_outputs->Attributes[i].Name, c.expected[i].first.c_str());
            EXPECT_STREQ(alert.alert_outputs->Attributes[i].Value, c.expected[i].second.c_str());
        }
        EW_Free_Alert(&alert);
        EXPECT_EQ(alert.alert_outputs, nullptr);
    }
}

TEST_F(AlertDataTest, WindowOfTenThousandChecksAndTheirOutputsKeepsTheirOrder) {
    constexpr int kRows = 10000;
    rows_for("to_char(sysdate", {{"20261210120100"}});
    std::vector<Row> checks, outputs;
    for (int i = 0; i < kRows; ++i) {
        checks.push_back({"ALERT" + std::to_string(i), "Inventory", 401, 1, 0, "20261210120058"});
        outputs.push_back({"OUT" + std::to_string(i), std::to_string(i), "1"});
    }
    rows_for(kNewAlerts, checks);
    rows_for("from ALR_ALERT_HISTORY_VIEW where", outputs);
    char last[] = "20261210115900";
    DB_DATETIME_typ next = "";
    ZPALIST_handle_typ alerts{};
    ASSERT_EQ(DB_get_all_new_alerts_from_oebs(session, last, next, &alerts, &error), 0) << error.text;
    ASSERT_EQ(alerts.count, kRows);
    EXPECT_EQ(alerts.curr, nullptr);
    int i = 0;
    for (ZPALIST_entry_typ* e = alerts.first; e; e = e->next, ++i)
        ASSERT_STREQ(static_cast<EW_alert_type*>(e->ptr)->alert_name, ("ALERT" + std::to_string(i)).c_str());
    EXPECT_EQ(i, kRows);

    auto* alert = static_cast<EW_alert_type*>(alerts.first->ptr);
    ASSERT_EQ(DB_get_alert_outputs_from_oebs(session, alert, 0, &error), 0) << error.text;
    ASSERT_NE(alert->alert_outputs, nullptr);
    ASSERT_EQ(alert->alert_outputs->Count, kRows);
    for (int k = 0; k < kRows; ++k) {
        ASSERT_STREQ(alert->alert_outputs->Attributes[k].Name, ("OUT" + std::to_string(k) + "_1").c_str());
        ASSERT_STREQ(alert->alert_outputs->Attributes[k].Value, std::to_string(k).c_str());
    }
    EW_Free_Alert(alert);
    ZPALIST_clear(&alerts);
}

TEST_F(AlertDataTest, NameListsBindTheirFiltersEscapeAndGrow) {
    constexpr const char* kApps = "from FND_APPLICATION_TL where";
    struct Case {
        const char* filter;
        std::vector<Row> rows;
        const char* bound;
        std::string answer;
    };
    const std::vector<Case> cases = {
        {"*",
         {{"General Ledger"}, {"R&D"}},
         "%",
         "<ApplicationsList><Name>General Ledger</Name><Name>R&amp;D</Name></ApplicationsList>"},
        {"gen*", {}, "gen%", "<ApplicationsList></ApplicationsList>"},
        {"x') or ('1'='1", {}, "x') or ('1'='1", "<ApplicationsList></ApplicationsList>"},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        rows_for(kApps, c.rows);
        std::string filter = c.filter;
        BE_DUZ_xmldata_handle handle{};
        ASSERT_EQ(DB_get_applications_list(session, filter.data(), &handle, &error), 0) << error.text;
        EXPECT_EQ(std::string(handle.xmlResponse), c.answer);
        EXPECT_EQ(bound(kApps, "BV1"), Cell(c.bound));
        for (const auto& text : prepared()) EXPECT_EQ(text.find("'1'='1"), std::string::npos) << text;
        std::free(handle.xmlResponse);
    }
    // More than 16384 bytes of answer: the whole list comes back.
    oci_standin::reset();
    std::vector<Row> many;
    for (int i = 0; i < 400; ++i)
        many.push_back({std::string(100, static_cast<char>('a' + i % 26)) + std::to_string(i)});
    rows_for(kApps, many);
    std::string filter = "*";
    BE_DUZ_xmldata_handle handle{};
    ASSERT_EQ(DB_get_applications_list(session, filter.data(), &handle, &error), 0);
    const std::string answer = handle.xmlResponse;
    EXPECT_GT(answer.size(), 16384u * 2);
    EXPECT_NE(answer.find(std::string(100, 'j') + "399</Name></ApplicationsList>"), std::string::npos);
    std::free(handle.xmlResponse);

    // The alerts list binds the application's whole name.
    const std::string application(240, 'P');
    rows_for("from ALR_ALERTS alr", {{"LOW_STOCK"}});
    std::string app = application;
    std::string alert_filter = "low*";
    BE_DUZ_xmldata_handle alerts{};
    ASSERT_EQ(DB_get_alerts_list(session, app.data(), alert_filter.data(), &alerts, &error), 0) << error.text;
    EXPECT_EQ(std::string(alerts.xmlResponse), "<AlertsList><Name>LOW_STOCK</Name></AlertsList>");
    EXPECT_EQ(bound("from ALR_ALERTS alr", "APP_NAME"), Cell(application));
    EXPECT_EQ(bound("from ALR_ALERTS alr", "BV2"), Cell("low%"));
    std::free(alerts.xmlResponse);
}

}  // namespace
