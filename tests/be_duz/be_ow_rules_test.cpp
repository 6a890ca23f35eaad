// The watcher's rules file read into rules and accounts (one table of files), the change test of
// its modification time, and the settings reload with the action-log switch.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "be_ow.h"
#include "testbed.h"

namespace {

const char* const kRules = "cm/DUZ/data/event_rules.dat";

struct Loaded {
    int rc = 0;
    std::vector<std::string> rules;  // "account|app|alert|do|type|job|table|odate|group|vars|cond|date|action"
    std::vector<std::string> accounts;
    std::string error;
};

std::string summary(const EW_cond_action_typ& r) {
    std::string vars;
    for (int i = 0; r.autoedits && i < r.autoedits->Count; ++i)
        vars += std::string(i ? "," : "") + r.autoedits->Attributes[i].Name + "=" + r.autoedits->Attributes[i].Value;
    return std::string(r.account_name) + "|" + r.app_name + "|" + r.alert_name + "|" + r.do_action + "|" +
           r.action_type + "|" + r.orv_jobname + "|" + r.orv_schedtable + "|" + r.orv_order_date + "|" +
           r.group_order_id + "|" + vars + "|" + r.orv_condName + "|" + r.orv_condDate + "|" + r.orv_cond_action;
}

class RulesTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        ZPALIST_init(&rules);
        ZPALIST_init(&accounts);
    }
    void TearDown() override {
        EW_clean_event_rule_list(&rules);
        ZPALIST_clear(&accounts);
    }
    Loaded load() {
        Loaded out;
        ZPAError error{};
        out.rc = EW_load_event_watcher_rules(&rules, &accounts, mark, &error);
        out.error = error.text;
        ZPALIST_handle_typ walker = rules;
        ZPALIST_reset(&walker);
        void* element = nullptr;
        unsigned int size = 0;
        while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK)
            out.rules.push_back(summary(*static_cast<EW_cond_action_typ*>(element)));
        walker = accounts;
        ZPALIST_reset(&walker);
        while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK)
            out.accounts.push_back(static_cast<const char*>(element));
        return out;
    }
    // Sets the file's modification time (seconds since the epoch).
    void touch(time_t when) {
        const std::string path = home.path() + "/" + kRules;
        utimbuf times{when, when};
        ASSERT_EQ(utime(path.c_str(), &times), 0);
    }
    ZPALIST_handle_typ rules{};
    ZPALIST_handle_typ accounts{};
    DATETIME_D_typ mark = "";
};

struct RulesCase {
    const char* name;
    std::string file;
    int rc;
    std::vector<std::string> rules;
    std::vector<std::string> accounts;
    std::string error;  // part of the error text when rc is 1
};

const std::string kCondition =
    "[CONDITION]\nOEBS_ACCOUNT acc1\nOEBS_APP_NAME General Ledger\nOEBS_ALERT_NAME Big*\nOEBS_DO_ACTION E\n";

TEST_F(RulesTest, RulesFilesGiveTheirRulesAndAccounts) {
    std::string ten = kCondition;
    for (int i = 0; i < 10; ++i) ten += "[ORVORDER]\nJOBNAME j" + std::to_string(i) + "\n";
    const std::vector<RulesCase> cases = {
        {"condition, order and condition change",
         kCondition + "[ORVORDER]\nJOBNAME job1\nSCHEDTAB tab1\nODATE ODAT\nINGROUPORDERID NONE\n%%ABCDEF one\n"
                      "[ORVCONTB]\nCOND_NAME c1\nCOND_DATE ODAT\nCOND_ACTION ADD\n",
         0,
         {"acc1|General Ledger|Big*|E|ORD|job1|tab1|ODAT|NONE|ABCDEF=one|||",
          "acc1|General Ledger|Big*|E|CND||||||c1|ODAT|ADD"},
         {"acc1"},
         ""},
        {"section names are upper-cased; ORVORDER_CONDITION is a condition",
         "[condition_1]\nOEBS_ACCOUNT a\nOEBS_DO_ACTION O\n[ORVORDER_CONDITION]\nOEBS_ACCOUNT b\n[orvorder]\nJOBNAME j\n",
         0,
         {"b|||O|ORD|j|||||||"},  // keys a condition section leaves out keep the earlier values
         {"b"},
         ""},
        {"job variables of two orders",
         kCondition + "[ORVORDER]\n%%ABCDEF x\n[ORVORDER]\n%%XY y\n",
         0,
         {"acc1|General Ledger|Big*|E|ORD|||||ABCDEF=x|||", "acc1|General Ledger|Big*|E|ORD|||||XY=y|||"},
         {"acc1"},
         ""},
        {"a key in lower case",
         kCondition + "[ORVORDER]\njobname j\n",
         1,
         {},
         {},
         "Processing event rule file failed in section ORVORDER. Invalid parameter: 'jobname'."},
        {"conditions only",
         kCondition + "[CONDITION2]\nOEBS_ACCOUNT x\n",
         1,
         {},
         {},
         "No rules were found in event_rules.dat file ."},
        {"one account in ten rules", ten, 0, {}, {"acc1"}, ""},
        {"a job name of 65 characters",
         kCondition + "[ORVORDER]\nJOBNAME " + std::string(65, 'j') + "\n",
         1,
         {},
         {},
         "Value of 'JOBNAME' is longer than 64 characters."},
        {"an unknown condition key",
         "[CONDITION]\nOEBS_ACCOUNTS a\n[X]\nCOND_NAME c\n",
         1,
         {},
         {},
         "failed in section CONDITION, the rule file is not well formatted. Invalid parameter: 'OEBS_ACCOUNTS'."},
        {"a rule after a failing section is not kept",
         kCondition + "[ORVORDER]\nJOBNAME a\n[ORVCONTB]\nX 1\n",
         1,
         {"acc1|General Ledger|Big*|E|ORD|a|||||||"},
         {"acc1"},
         "failed in section ORVCONTB, the rule file is not well formatted."},
    };
    for (const RulesCase& c : cases) {
        SCOPED_TRACE(c.name);
        home.write_file(kRules, c.file);
        mark[0] = '\0';
        EW_clean_event_rule_list(&rules);
        ZPALIST_clear(&accounts);
        const Loaded got = load();
        EXPECT_EQ(got.rc, c.rc);
        if (!c.rules.empty() || c.rc == 1) {
            EXPECT_EQ(got.rules, c.rules);
        }
        EXPECT_EQ(got.accounts, c.accounts);
        if (c.rc == 1) {
            EXPECT_NE(got.error.find(c.error), std::string::npos) << got.error;
        }
    }
    EXPECT_EQ(load().rules.size(), 1u);  // unchanged file: nothing read, the lists as they were
}

TEST_F(RulesTest, FileIsReadAgainOnlyWhenItsModificationTimeChanges) {
    home.write_file(kRules, kCondition + "[ORVORDER]\nJOBNAME first\n");
    touch(1700000000);
    ASSERT_EQ(load().rc, 0);
    // Rewritten within the same second: the same mark, not read.
    home.write_file(kRules, kCondition + "[ORVORDER]\nJOBNAME second\n");
    touch(1700000000);
    Loaded got = load();
    EXPECT_EQ(got.rc, 0);
    ASSERT_EQ(got.rules.size(), 1u);
    EXPECT_NE(got.rules[0].find("|first|"), std::string::npos);
    // A file that fails to parse fails once and is not read again until it changes.
    home.write_file(kRules, kCondition + "[ORVORDER]\nBAD x\n");
    touch(1700000100);
    EXPECT_EQ(load().rc, 1);
    got = load();
    EXPECT_EQ(got.rc, 0);
    touch(1700000200);
    EXPECT_EQ(load().rc, 1);
    home.write_file(kRules, kCondition + "[ORVORDER]\nJOBNAME third\n");
    touch(1700000300);
    got = load();
    EXPECT_EQ(got.rc, 0);
    ASSERT_EQ(got.rules.size(), 1u);
    EXPECT_NE(got.rules[0].find("|third|"), std::string::npos);
    // A missing file: failure, lists and mark untouched.
    std::remove((home.path() + "/" + kRules).c_str());
    ZPAError error{};
    EXPECT_EQ(EW_load_event_watcher_rules(&rules, &accounts, mark, &error), 1);
    EXPECT_NE(std::string(error.text).find("Could not find cm/DUZ/data/event_rules.dat"), std::string::npos);
    EXPECT_EQ(ZPALIST_count(&rules), 1);
}

// The reader takes only a regular file opened at its name (root reads any mode, so "unreadable"
// here is what the reader refuses): such a file counts as missing and moves no mark, so the file is
// read once it can be, although its time never changes.
TEST_F(RulesTest, UnreadableFileMovesNoMarkAndIsReadOnceItCanBeAtTheSameTime) {
    const std::string path = home.path() + "/" + kRules;
    const struct {
        const char* name;
        std::function<void()> plant;
    } cases[] = {
        {"a FIFO", [&] { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); }},
        {"a link to a readable file",
         [&] {
             home.write_file("temp/other_rules.dat", kCondition + "[ORVORDER]\nJOBNAME linked\n");
             ASSERT_EQ(symlink((home.path() + "/temp/other_rules.dat").c_str(), path.c_str()), 0);
         }},
        {"a folder", [&] { ASSERT_EQ(mkdir(path.c_str(), 0755), 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EW_clean_event_rule_list(&rules);
        ZPALIST_clear(&accounts);
        mark[0] = '\0';
        home.write_file(kRules, kCondition + "[ORVORDER]\nJOBNAME first\n");
        touch(1700000000);
        ASSERT_EQ(load().rc, 0);
        const std::string loaded_mark = mark;

        std::filesystem::remove(path);
        c.plant();
        struct timespec times[2] = {{1700000100, 0}, {1700000100, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        for (int pass = 0; pass < 2; ++pass) {
            const Loaded got = load();
            EXPECT_EQ(got.rc, 1);
            EXPECT_NE(got.error.find("Could not read cm/DUZ/data/event_rules.dat"), std::string::npos) << got.error;
            EXPECT_EQ(std::string(mark), loaded_mark);
            EXPECT_EQ(got.rules.size(), 1u);  // as for a missing file: the loop empties the lists
        }

        std::filesystem::remove(path);
        home.write_file(kRules, kCondition + "[ORVORDER]\nJOBNAME second\n");
        touch(1700000100);
        const Loaded got = load();
        EXPECT_EQ(got.rc, 0) << got.error;
        ASSERT_EQ(got.rules.size(), 1u);
        EXPECT_NE(got.rules[0].find("|second|"), std::string::npos);
        EXPECT_NE(std::string(mark), loaded_mark);
        EXPECT_EQ(load().rc, 0);  // and then unchanged
        std::filesystem::remove(path);
    }
}

TEST_F(RulesTest, SettingsLoadSetsTheActionLogSwitchUnreadableSettingsLeaveIt) {
    const std::string cfg = "cm/DUZ/data/event_cfg.dat";
    const auto settings = [](const char* log) {
        return std::string("[GEN_EVENT_PARAMS]\nACTIVATE_EVENT_WATCHER Y\nACTION_MAX_RETRY 2\nACTION_LOG ") + log +
               "\nWATCHING_INTERVAL_TIME 30\nALERT_MAX_OUTPUT 5\n";
    };
    EW_cfg_file_params_type config{};
    DATETIME_D_typ cfg_mark = "";
    ZPAError error{};
    EXPECT_EQ(EW_action_log_enabled(), 0);  // off at start
    home.write_file(cfg, settings("Y"));
    ASSERT_EQ(EW_load_event_config(&config, cfg_mark, &error), 0);
    EXPECT_EQ(EW_action_log_enabled(), 1);
    EXPECT_EQ(config.watching_interval_time, 30);
    EXPECT_EQ(config.action_max_retry, 2);
    home.write_file(cfg, settings("N"));
    utimbuf later{1800000000, 1800000000};
    utime((home.path() + "/" + cfg).c_str(), &later);
    ASSERT_EQ(EW_load_event_config(&config, cfg_mark, &error), 0);
    EXPECT_EQ(EW_action_log_enabled(), 0);
    home.write_file(cfg, "[GEN_EVENT_PARAMS]\nACTION_LOG Y\n");  // first key missing: not loaded
    utimbuf latest{1800000100, 1800000100};
    utime((home.path() + "/" + cfg).c_str(), &latest);
    EXPECT_EQ(EW_load_event_config(&config, cfg_mark, &error), 1);
    EXPECT_EQ(EW_action_log_enabled(), 0);
    EXPECT_EQ(EW_load_event_config(&config, cfg_mark, &error), 0);  // same file: not read again
}

TEST_F(RulesTest, UnreadableSettingsAreReadAgainOnceTheyCanBeWhateverTheirTime) {
    const std::string cfg = "cm/DUZ/data/event_cfg.dat";
    const std::string whole = home.path() + "/" + cfg;
    EW_cfg_file_params_type config{};
    DATETIME_D_typ cfg_mark = "";
    ZPAError error{};
    ASSERT_EQ(mkfifo(whole.c_str(), 0644), 0);  // unreadable even for root, and never blocks the watcher
    const utimbuf same{1800000000, 1800000000};
    utime(whole.c_str(), &same);
    EXPECT_EQ(EW_load_event_config(&config, cfg_mark, &error), 1);
    EXPECT_EQ(EW_load_event_config(&config, cfg_mark, &error), 1);  // still unreadable: still a failure
    EXPECT_STREQ(cfg_mark, "");
    std::filesystem::remove(whole);
    home.write_file(cfg,
                    "[GEN_EVENT_PARAMS]\nACTIVATE_EVENT_WATCHER Y\nACTION_MAX_RETRY 2\nACTION_LOG N\n"
                    "WATCHING_INTERVAL_TIME 45\nALERT_MAX_OUTPUT 5\n");
    utime(whole.c_str(), &same);
    ASSERT_EQ(EW_load_event_config(&config, cfg_mark, &error), 0);
    EXPECT_EQ(config.watching_interval_time, 45);
}

}  // namespace
