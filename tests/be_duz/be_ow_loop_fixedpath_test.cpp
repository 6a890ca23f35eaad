// The watcher's main loop run in-process over stages of the test's own: once-a-day shouts per
// stage (days from the frozen test clock), the rules read again after a failed account pass and
// after a pass without the rules file or with one the reader refuses, the not-activated pass, a
// missing debug level, and the slices of the sleep.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "be_ow.h"
#include "be_ow_internal.h"
#include "gm_param.h"
#include "os_diag.h"
#include "os_proc.h"
#include "test_clock.h"

namespace {

using testbed::TestClockTest;

// A loop over scripted stages: pass n (from 0) takes results[n] of each script (the last repeats);
// the sleep ends the loop after `passes` passes and moves the clock to the next pass's day.
struct Harness {
    int passes = 1;
    std::vector<int> account_results{0};
    std::vector<std::string> days{"20261208120000"};
    bool activated = true;
    std::vector<std::string> shouts;
    std::vector<int> sleeps;
    int pass = 0;
    int rules_loads = 0;
    int account_passes = 0;
    std::vector<int> rules_seen;     // rules in the list when the account pass ran
    std::vector<int> rules_results;  // of each rules load (1: read and failed)
    int queue_loads = 0;
    std::function<void(int next_pass)> between;  // runs in each sleep that a pass follows

    static int at(const std::vector<int>& v, int i) { return v[std::min<std::size_t>(i, v.size() - 1)]; }
    const std::string& day(int i) const { return days[std::min<std::size_t>(i, days.size() - 1)]; }

    ow::Stages stages(bool real_rules = false) {
        ow::Stages s;
        s.debug_level = [](int*, ZPAError*) { return CM_RC_OK; };
        s.load_config = [this](EW_cfg_file_params_type* config, char*, ZPAError*) {
            ow_main_set_default_config(config);
            if (!activated) std::strcpy(config->activate_event_watcher, "N");
            return 0;
        };
        if (real_rules) {
            s.load_rules = [this](ZPALIST_handle_typ* rules, ZPALIST_handle_typ* accounts, char* mark, ZPAError* e) {
                ++rules_loads;
                rules_results.push_back(EW_load_event_watcher_rules(rules, accounts, mark, e));
                return rules_results.back();
            };
        } else {
            s.load_rules = [this](ZPALIST_handle_typ*, ZPALIST_handle_typ*, char*, ZPAError*) {
                ++rules_loads;
                return 0;
            };
        }
        s.account_pass = [this, real_rules](ZPALIST_handle_typ* rules, ZPALIST_handle_typ*, EW_cfg_file_params_type*,
                                            ZPAError*) {
            rules_seen.push_back(ZPALIST_count(rules));
            if (real_rules && ZPALIST_count(rules) == 0) return 1;  // as the product's pass: no rules, a failure
            return at(account_results, account_passes++);
        };
        s.load_queue = [this](ZPALIST_handle_typ*, ZPAError*) {
            ++queue_loads;
            return CM_RC_OK;
        };
        s.shout = [this](const char* message, ZPAError*) {
            shouts.push_back(message);
            return 0;
        };
        s.sleep = [this](int seconds) {
            sleeps.push_back(seconds);
            if (++pass >= passes) {
                OS_PROC_exit_request_set(1);
                return 1;
            }
            OS_TIME_set_odate(day(pass).c_str());
            if (between) between(pass);
            return 0;
        };
        return s;
    }
    CM_RC run(bool real_rules = false) {
        OS_TIME_set_factor("0");
        OS_TIME_set_odate(day(0).c_str());
        OS_PROC_exit_request_set(0);
        ZPAError error{};
        return ow::watching_loop(0, &error, stages(real_rules));
    }
};

const char* const kLoopShout =
    "ORVANTA OEBS Watcher: Failure occurred during Event Watcher loop . check the logs for more details.";

TEST_F(TestClockTest, StageFailureShoutsOncePerDayAndAgainAfterASuccess) {
    struct Case {
        const char* name;
        std::vector<int> results;
        std::vector<std::string> days;
        std::size_t shouts;
    } cases[] = {
        {"failing on two days", {1}, {"20261208120000", "20261208180000", "20261209000100"}, 2},
        {"fail, succeed, fail on one day", {1, 0, 1}, {"20261208120000"}, 2},
        {"fail, fail on one day", {1, 1}, {"20261208120000"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.passes = static_cast<int>(std::max(c.results.size(), c.days.size()));
        h.account_results = c.results;
        h.days = c.days;
        EXPECT_EQ(h.run(), CM_RC_END);  // ended in the sleep after clearing an empty queue
        EXPECT_EQ(h.shouts, std::vector<std::string>(c.shouts, kLoopShout));
        EXPECT_EQ(h.sleeps, std::vector<int>(h.passes, 120));
    }
}

TEST_F(TestClockTest, EachStageOnTheRulesReportsItsOwnFailureAndShoutsItOnceADay) {
    // The stage fails in the first and third pass of one day and succeeds in the second: its error
    // text and code reach the record, and its own shout goes out twice.
    using Script = std::function<void(ow::Stages&, const Harness&)>;
    auto fails = [](const Harness& h) { return h.pass != 1; };
    auto one_action = [](ZPALIST_handle_typ* queue, ZPAError*) {
        return GM_PARAM_subtable_list_set(queue, "ACTION1", "ACTION_TYPE", "ORDER");
    };
    struct Case {
        const char* error;
        const char* shout;
        ZPAErrorCode code;
        Script script;
    } cases[] = {
        {"Failed loading event watcher rules file.",
         "ORVANTA OEBS Watcher: Failed loading event watcher rules file. check the logs for more details.", CM_RC_FAIL,
         [&](ow::Stages& s, const Harness& h) {
             s.load_rules = [&](ZPALIST_handle_typ*, ZPALIST_handle_typ*, char*, ZPAError*) {
                 return fails(h) ? 1 : 0;
             };
         }},
        {"ORVANTA OEBS Watcher: Failure occurred inside EW_event_watcher_loop.", kLoopShout, CM_RC_FAIL,
         [&](ow::Stages& s, const Harness& h) {
             s.account_pass = [&](ZPALIST_handle_typ*, ZPALIST_handle_typ*, EW_cfg_file_params_type*, ZPAError*) {
                 return fails(h) ? 1 : 0;
             };
         }},
        {"ORVANTA OEBS Watcher: Failure occurred inside EW_load_actions_to_excute_from_file.",
         "ORVANTA OEBS Watcher: Failed to load actions to execute from file. check the logs for more details.",
         CM_RC_END,
         [&](ow::Stages& s, const Harness& h) {
             s.load_queue = [&](ZPALIST_handle_typ*, ZPAError*) { return fails(h) ? CM_RC_END : CM_RC_OK; };
         }},
        {"ORVANTA OEBS Watcher: Failure occurred inside EW_execute_actions.",
         "ORVANTA OEBS Watcher: Failed to execute Event Watcher action. check the logs for more details.", CM_RC_EOF,
         [&](ow::Stages& s, const Harness& h) {
             s.load_queue = one_action;
             s.run_queue = [&](ZPALIST_handle_typ*, EW_cfg_file_params_type*, ZPAError*) {
                 return fails(h) ? CM_RC_EOF : CM_RC_OK;
             };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        Harness h;
        h.passes = 3;
        ow::Stages stages = h.stages();
        c.script(stages, h);
        OS_TIME_set_factor("0");
        OS_TIME_set_odate(h.day(0).c_str());
        OS_PROC_exit_request_set(0);
        ZPAError error{};
        ow::watching_loop(0, &error, stages);
        EXPECT_EQ(h.shouts, std::vector<std::string>(2, c.shout));
        EXPECT_NE(std::string(error.text).find(c.error), std::string::npos) << error.text;
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(h.sleeps.size(), 3u);
    }
}

TEST_F(TestClockTest, FailedAccountPassMakesTheNextPassReadTheRulesAgain) {
    home->write_file("cm/DUZ/data/event_rules.dat",
                     "[CONDITION]\nOEBS_ACCOUNT acc1\nOEBS_DO_ACTION E\n[ORVORDER]\nJOBNAME j\n");
    Harness h;
    h.passes = 3;
    h.account_results = {1, 0};
    h.run(true);
    EXPECT_EQ(h.rules_seen, (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(h.shouts.size(), 1u);
    EXPECT_EQ(h.queue_loads, 3);
}

TEST_F(TestClockTest, RulesFileThatFailsToParseIsNotReadAgainUntilItChanges) {
    home->write_file("cm/DUZ/data/event_rules.dat", "[CONDITION]\nOEBS_ACCOUNT acc1\n[ORVORDER]\nBAD x\n");
    Harness h;
    h.passes = 4;
    h.run(true);
    // Read and failed once; the account passes that fail on the empty lists do not make it read again.
    EXPECT_EQ(h.rules_results, (std::vector<int>{1, 0, 0, 0}));
    EXPECT_EQ(h.shouts.size(), 2u);  // the rules stage and the account pass, once each on this day
}

TEST_F(TestClockTest, RulesFileAwayForAPassIsReadAgainWhenItComesBackUnchanged) {
    const std::string rules = home->path() + "/cm/DUZ/data/event_rules.dat";
    home->write_file("cm/DUZ/data/event_rules.dat",
                     "[CONDITION]\nOEBS_ACCOUNT acc1\nOEBS_DO_ACTION E\n[ORVORDER]\nJOBNAME j\n");
    Harness h;
    h.passes = 4;
    h.between = [&](int next_pass) {  // moved away and back keeps its modification time
        if (next_pass == 1) std::rename(rules.c_str(), (rules + ".away").c_str());
        if (next_pass == 2) std::rename((rules + ".away").c_str(), rules.c_str());
    };
    h.run(true);
    EXPECT_EQ(h.rules_results, (std::vector<int>{0, 1, 0, 0}));
    EXPECT_EQ(h.rules_seen, (std::vector<int>{1, 1, 1}));  // the pass without the file runs no account pass
    EXPECT_EQ(h.shouts.size(), 1u);
}

// A new rules file that the reader refuses for a pass (here a FIFO; a file it cannot read) and then
// stands readable with the same modification time is read: the watcher does not go on with no rules.
TEST_F(TestClockTest, RulesFileUnreadableForAPassIsReadWhenItCanBeAtTheSameTime) {
    const std::string rules = home->path() + "/cm/DUZ/data/event_rules.dat";
    const auto set_time = [&rules](time_t when) {
        struct timespec times[2] = {{when, 0}, {when, 0}};
        utimensat(AT_FDCWD, rules.c_str(), times, 0);
    };
    home->write_file("cm/DUZ/data/event_rules.dat",
                     "[CONDITION]\nOEBS_ACCOUNT acc1\nOEBS_DO_ACTION E\n[ORVORDER]\nJOBNAME j\n");
    set_time(1700000000);
    Harness h;
    h.passes = 4;
    h.between = [&](int next_pass) {
        if (next_pass == 1) {  // the new file arrives, but the reader refuses it
            std::remove(rules.c_str());
            mkfifo(rules.c_str(), 0644);
            set_time(1700000100);
        }
        if (next_pass == 2) {  // the same file made readable: its time stays
            std::remove(rules.c_str());
            home->write_file("cm/DUZ/data/event_rules.dat",
                             "[CONDITION]\nOEBS_ACCOUNT acc1\nOEBS_DO_ACTION E\n[ORVORDER]\nJOBNAME k\n"
                             "[ORVORDER]\nJOBNAME l\n");
            set_time(1700000100);
        }
    };
    h.run(true);
    EXPECT_EQ(h.rules_results, (std::vector<int>{0, 1, 0, 0}));
    EXPECT_EQ(h.rules_seen, (std::vector<int>{1, 2, 2}));  // the pass without readable rules runs no account pass
    EXPECT_EQ(h.shouts.size(), 1u);
}

TEST_F(TestClockTest, NotActivatedWatcherShoutsOnceADayTouchesNothingAndSleeps) {
    Harness h;
    h.passes = 3;
    h.activated = false;
    h.days = {"20261208120000", "20261208130000", "20261209120000"};
    h.run();
    EXPECT_EQ(h.shouts, std::vector<std::string>(2,
                                                 "ORVANTA OEBS Watcher is running, but the Event Watcher is not "
                                                 "activated."));
    EXPECT_EQ(h.rules_loads, 0);
    EXPECT_EQ(h.account_passes, 0);
    EXPECT_EQ(h.queue_loads, 0);
    EXPECT_EQ(h.sleeps.size(), 3u);
}

TEST_F(TestClockTest, MissingDebugLevelSetsLevelZeroReportsAndThePassGoesOn) {
    home->write_file("data/CONFIG.dat", "LOGICAL_AGENT_NAME agt1\n");
    GM_PARAM_clear();
    DIAG_set_debug_level(3);
    Harness h;
    ow::Stages stages = h.stages();
    stages.debug_level = OW_MAIN_set_process_debug_level;
    OS_TIME_set_factor("0");
    OS_TIME_set_odate("20261208120000");
    OS_PROC_exit_request_set(0);
    ZPAError error{};
    EXPECT_EQ(ow::watching_loop(3, &error, stages), CM_RC_FAIL);
    EXPECT_EQ(DIAG_debug_level(), 0);
    EXPECT_EQ(h.account_passes, 1);
    EXPECT_NE(std::string(error.text).find("OW_MAIN_set_process_debug_level failed, set OW debug to 0"),
              std::string::npos)
        << error.text;
}

TEST_F(TestClockTest, SleepGoesInSixSecondSlicesAndEndsAtAnExitRequest) {
    OS_PROC_exit_request_set(0);
    for (const auto& [total, slices] :
         std::vector<std::pair<int, int>>{{120, 20}, {125, 20}, {0, 1}, {5, 1}, {11, 1}}) {
        SCOPED_TRACE(total);
        int naps = 0;
        EXPECT_EQ(ow::sleep_in_slices(total,
                                      [&](int seconds) {
                                          EXPECT_EQ(seconds, 6);
                                          ++naps;
                                      }),
                  0);
        EXPECT_EQ(naps, slices);
    }
    int naps = 0;
    EXPECT_EQ(ow::sleep_in_slices(120,
                                  [&](int) {
                                      if (++naps == 3) OS_PROC_exit_request_set(1);
                                  }),
              1);
    EXPECT_EQ(naps, 3);
}

}  // namespace
