// Parameter tables: the flat file format as reader and writer agree on it, the key/value list
// operations, and the process cache with its reload rule and its save.
#include "gm_param.h"
#include "gm_param_internal.h"
#include "os_diag.h"
#include "testbed.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

struct KeyList {
    ZPALIST_handle_typ h{};
    ~KeyList() { ZPALIST_clear(&h); }
    Rows rows() {
        Rows out;
        GM_PARAM_list_reset(&h);
        char* key = nullptr;
        void* value = nullptr;
        while (GM_PARAM_list_next(&h, &key, &value) == CM_RC_OK) out.emplace_back(key, static_cast<char*>(value));
        return out;
    }
};

std::string get(const char* table, const char* key, CM_RC* rc = nullptr) {
    char value[2048] = "<untouched>";
    CM_RC r = GM_PARAM_get(table, key, value);
    if (rc) *rc = r;
    return value;
}

void set_mtime(const std::string& path, time_t when) {
    struct timeval times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimes(path.c_str(), times), 0);
}

class ParamTableTest : public testbed::AgentHomeTest {
protected:
    void TearDown() override {
        GM_PARAM_clear();
        GM_PARAM_subtable_clear();
    }
};

struct ReaderCase {
    const char* name;
    std::string content;
    Rows rows;
};

TEST_F(ParamTableTest, ReaderTurnsLinesIntoRows) {
    const std::string key63(63, 'k'), key64(64, 'k');
    const std::vector<ReaderCase> cases = {
        {"comments blanks separators and trailing blanks",
         "# comment\n\nalpha=1\nBeta  two words  \ngamma\n",
         {{"ALPHA", "1"}, {"BETA", "two words"}, {"GAMMA", ""}}},
        {"one separator only", "key = value\nk2\tv2\n", {{"KEY", "= value"}, {"K2", "v2"}}},
        {"indented comment and tab before value", "  \t# x\n\tk\t \tv\n", {{"K", "v"}}},
        {"trailing tab and carriage return stay", "a 1\t\nb 2\r\n", {{"A", "1\t"}, {"B", "2\r"}}},
        {"section headers are skipped, rows of all sections kept", "[S1]\na 1\n[S2]\nb 2\n", {{"A", "1"}, {"B", "2"}}},
        {"key of 63 characters kept", key63 + " v\n", {{std::string(63, 'K'), "v"}}},
        {"key of 64 characters ends the read", "a 1\nb 2\n" + key64 + " v\nc 3\n", {{"A", "1"}, {"B", "2"}}},
        {"duplicates kept in file order", "a 1\nA 2\n", {{"A", "1"}, {"A", "2"}}},
        {"last line without newline", "a 1\nb 2", {{"A", "1"}, {"B", "2"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        home.write_file("data/T.dat", c.content);
        KeyList list;
        EXPECT_EQ(GM_PARAM_load_file(&list.h, "./data/T.dat"), CM_RC_OK);
        EXPECT_EQ(list.rows(), c.rows);
    }
}

TEST_F(ParamTableTest, ReaderCutsLongLinesIntoPiecesOfTheirOwn) {
    // A line longer than 2120 characters arrives in pieces, each read as a line.
    home.write_file("data/T.dat", "a " + std::string(2118, 'x') + "tail 9\n");
    KeyList list;
    ASSERT_EQ(GM_PARAM_load_file(&list.h, "./data/T.dat"), CM_RC_OK);
    Rows rows = list.rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].second.size(), 2110u);  // the parser looks at 2112 characters
    EXPECT_EQ(rows[1], (Rows::value_type{"TAIL", "9"}));
}

TEST_F(ParamTableTest, MissingFileFailsWithoutTouchingTheList) {
    KeyList list;
    GM_PARAM_list_append(&list.h, "kept", "1");
    EXPECT_EQ(GM_PARAM_load_file(&list.h, "./data/NONE.dat"), CM_RC_FAIL);
    EXPECT_EQ(list.rows(), (Rows{{"kept", "1"}}));
}

TEST_F(ParamTableTest, WriterPadsKeysAndFollowsEveryRowWithAnEmptyLine) {
    KeyList list;
    GM_PARAM_list_append(&list.h, "abc", "value");
    GM_PARAM_list_append(&list.h, std::string(40, 'L').c_str(), "v");
    GM_PARAM_list_append(&list.h, "big", std::string(3000, 'x').c_str());
    ASSERT_EQ(GM_PARAM_list_save(&list.h, "./data/W.dat"), CM_RC_OK);
    const std::string expected = "abc" + std::string(32, ' ') + " value\n\n" + std::string(40, 'L') + " v\n\n" + "big" +
                                 std::string(32, ' ') + " " + std::string(2048, 'x') + "\n\n";
    EXPECT_EQ(home.read_file("data/W.dat"), expected);

    KeyList back;
    ASSERT_EQ(GM_PARAM_load_file(&back.h, "./data/W.dat"), CM_RC_OK);
    EXPECT_EQ(back.rows(), (Rows{{"ABC", "value"}, {std::string(40, 'L'), "v"}, {"BIG", std::string(2048, 'x')}}));
}

TEST_F(ParamTableTest, WriterReplacesTheWholeFileAndWidensItsBits) {
    home.write_file("data/W.dat", std::string(5000, '#'));
    ASSERT_EQ(chmod("data/W.dat", 0600), 0);
    KeyList list;
    GM_PARAM_list_append(&list.h, "A", "1");
    ASSERT_EQ(GM_PARAM_list_save(&list.h, "./data/W.dat"), CM_RC_OK);
    EXPECT_EQ(home.read_file("data/W.dat"), "A" + std::string(34, ' ') + " 1\n\n");
    struct stat st {};
    ASSERT_EQ(stat("data/W.dat", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(ParamTableTest, WriterRefusesARowThatWouldNotReadBackAndLeavesTheFile) {
    const struct {
        const char* name;
        std::string key, value;
    } cases[] = {
        {"line feed in a value", "NLS", "AMERICAN\nDB_SID EVIL"},
        {"empty key", "", "value becomes a key"},
        {"blank in a key", "A B", "1"},
        {"tab in a key", "A\tB", "1"},
        {"equals sign in a key", "A=B", "1"},
        {"line feed in a key", "A\nB", "1"},
        {"key that is a comment", "#A", "1"},
        {"key that is a section header", "[S]", "1"},
        {"key that holds a section header", "x[S]y", "1"},
        {"blank before a value", "A", " 1"},
        {"tab before a value", "A", "\t1"},
        {"blank behind a value", "A", "1 "},
        {"longest key with the longest value: a line longer than the reader's piece", std::string(63, 'K'),
         std::string(2048, 'v')},
    };
    const std::string before = "OLD 1\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        home.write_file("data/W.dat", before);
        KeyList list;
        GM_PARAM_list_append(&list.h, "GOOD", "1");
        GM_PARAM_list_append(&list.h, c.key.c_str(), c.value.c_str());
        EXPECT_EQ(GM_PARAM_list_save(&list.h, "./data/W.dat"), CM_RC_FAIL);
        EXPECT_EQ(home.read_file("data/W.dat"), before);

        // The cache's save refuses the same row, and the table file stays as it was.
        home.write_file("data/T.dat", before);
        ASSERT_EQ(GM_PARAM_set("T", c.key.c_str(), c.value.c_str()), CM_RC_OK);
        EXPECT_EQ(GM_PARAM_save("T"), CM_RC_FAIL);
        EXPECT_EQ(home.read_file("data/T.dat"), before);
        GM_PARAM_clear();
    }
}

TEST_F(ParamTableTest, WriterRoundTripsWhatAFileCanHold) {
    // Keys come back upper-cased, values whole: blanks and tabs inside them, a tab at their end. A
    // carriage return is an ordinary character: a line ends at its line feed. The longest lines a
    // save writes come back as one row from both readers, the one of option 1 taking the fewest
    // characters at once.
    const std::string longest_key(63, 'K');
    const Rows saved = {{"alpha", "two words"},
                        {"%%VAR-1.X", "a=b # not a comment [S]"},
                        {"[OPEN", "x"},
                        {"A]B", "tail tab\t"},
                        {"EMPTY", ""},
                        {"INSIDE", "in \t side"},
                        {"C", "\x01\x7f\xc3\xa9"},
                        {"CR\r", "a\rb\r"},
                        {longest_key, std::string(2047, 'v')},
                        {std::string(62, 'L'), std::string(2048, 'w')}};
    KeyList list;
    for (const auto& [key, value] : saved) GM_PARAM_list_append(&list.h, key.c_str(), value.c_str());
    ASSERT_EQ(GM_PARAM_list_save(&list.h, "./data/W.dat"), CM_RC_OK);
    Rows expected = saved;
    expected[0].first = "ALPHA";
    KeyList back;
    ASSERT_EQ(GM_PARAM_load_file(&back.h, "./data/W.dat"), CM_RC_OK);
    EXPECT_EQ(back.rows(), expected);
    KeyList option1;
    ASSERT_EQ(GM_PARAM_load_file_option1(&option1.h, "./data/W.dat", 1), CM_RC_OK);
    EXPECT_EQ(option1.rows(), expected);
}

TEST_F(ParamTableTest, LookupUsesOwnRowElseDefaultAndCutsToBufferSize) {
    KeyList list;
    GM_PARAM_list_append(&list.h, "DEFAULT", "x");
    GM_PARAM_list_append(&list.h, "A", "abcdef");
    char value[16] = "";
    EXPECT_EQ(GM_PARAM_list_get(&list.h, "A", value, sizeof value), CM_RC_OK);
    EXPECT_STREQ(value, "abcdef");  // the key's own row wins over a DEFAULT row before it
    EXPECT_EQ(GM_PARAM_list_get(&list.h, "B", value, sizeof value), CM_RC_OK);
    EXPECT_STREQ(value, "x");
    EXPECT_EQ(GM_PARAM_list_get(&list.h, "A", value, 4), CM_RC_OK);
    EXPECT_STREQ(value, "abc");
    EXPECT_EQ(GM_PARAM_list_get(&list.h, "a", value, sizeof value), CM_RC_OK);  // case counts: DEFAULT
    EXPECT_STREQ(value, "x");

    KeyList no_default;
    GM_PARAM_list_append(&no_default.h, "A", "1");
    strcpy(value, "keep");
    EXPECT_EQ(GM_PARAM_list_get(&no_default.h, "B", value, sizeof value), CM_RC_END);
    EXPECT_STREQ(value, "keep");
    EXPECT_EQ(GM_PARAM_list_get(nullptr, "B", value, sizeof value), CM_RC_FAIL);
}

TEST_F(ParamTableTest, SetReplacesInPlaceOrAppendsAndCutsKeyAndValue) {
    KeyList list;
    GM_PARAM_list_append(&list.h, "A", "1");
    GM_PARAM_list_append(&list.h, "B", "2");
    GM_PARAM_list_append(&list.h, "C", "3");
    EXPECT_EQ(GM_PARAM_list_set(&list.h, "B", "two"), CM_RC_OK);
    EXPECT_STREQ(static_cast<char*>(list.h.curr->ptr), "A");  // the cursor stands before the new row
    EXPECT_EQ(GM_PARAM_list_set(&list.h, "d", "4"), CM_RC_OK);
    EXPECT_STREQ(static_cast<char*>(list.h.curr->ptr), "C");  // where the walk ended, the new row behind it
    EXPECT_EQ(list.rows(), (Rows{{"A", "1"}, {"B", "two"}, {"C", "3"}, {"d", "4"}}));

    GM_PARAM_list_set(&list.h, std::string(70, 'K').c_str(), std::string(5000, 'v').c_str());
    char* value = nullptr;
    ASSERT_EQ(GM_PARAM_list_get_ptr(&list.h, std::string(63, 'K').c_str(), &value), CM_RC_OK);
    EXPECT_EQ(strlen(value), 4095u);

    EXPECT_EQ(GM_PARAM_list_delete(&list.h, "A"), CM_RC_OK);
    EXPECT_EQ(GM_PARAM_list_delete(&list.h, "A"), CM_RC_END);
    GM_PARAM_list_reset(&list.h);
    GM_PARAM_list_insert(&list.h, "HEAD", "h");
    EXPECT_EQ(list.rows().front(), (Rows::value_type{"HEAD", "h"}));
}

// Values of these names never reach the log: the agent's list by exact name, and names that speak
// of a password, a passphrase, a token or key material in any case.
TEST(ParamSecrets, NamesOfPasswordsTokensAndKeysAreSecretInAnyCase) {
    const std::pair<const char*, bool> cases[] = {
        {"PASSWORD", true},
        {"DB_PASSWD", true},
        {"APPSPassword", true},
        {"pAsSw", true},
        {"PASS", false},
        {"PASSPORT", false},
        {"KEY_PASSPHRASE", true},
        {"key_Passphrase", true},
        {"INSTREAM_SCRIPT", true},
        {"instream_script", false},
        {"KEY", true},
        {"key", true},
        {"NEW_KEY", true},
        {"old_Key", true},
        {"_KEY", false},
        {"KEYS", false},
        {"MONKEY", false},
        {"CP_DATA", true},
        {"cp_data", true},
        {"CP_DATA2", false},
        {"api_token", true},
        {"TOKE", false},
        {"\xf0"
         "ASSW",
         false},
        {"", false},
        {"P", false},
        {"%%DUZ-ACTIVE-ATTR012-PRIORITY", false},
        {"%%DUZ-ACTIVE-ATTR012-STATUS", false},
    };
    for (const auto& [name, secret] : cases) EXPECT_EQ(gm_param::is_secret_key(name), secret) << name;
    EXPECT_FALSE(gm_param::is_secret_key(nullptr));
}

TEST_F(ParamTableTest, MergeKeepsExistingKeysUnlessForcedAndFilterDropsHiddenKeys) {
    KeyList dest, source;
    GM_PARAM_list_append(&dest.h, "A", "dest");
    GM_PARAM_list_append(&source.h, "A", "source");
    GM_PARAM_list_append(&source.h, "B", "new");
    GM_PARAM_list_merge(&dest.h, &source.h, 0);
    EXPECT_EQ(dest.rows(), (Rows{{"A", "dest"}, {"B", "new"}}));
    GM_PARAM_list_merge(&dest.h, &source.h, 1);
    EXPECT_EQ(dest.rows(), (Rows{{"A", "source"}, {"B", "new"}}));

    KeyList orig, filtered;
    GM_PARAM_list_append(&orig.h, "USER", "u");
    GM_PARAM_list_append(&orig.h, "PASSWORD", "secret");
    GM_PARAM_list_append(&orig.h, "INSTREAM_SCRIPT", "s");
    EXPECT_EQ(GM_PARAM_list_filter(&orig.h, &filtered.h, GM_PARAM_get_keysToRemove_list()), CM_RC_OK);
    EXPECT_EQ(filtered.rows(), (Rows{{"USER", "u"}}));
    EXPECT_EQ(GM_PARAM_is_printable("KEY_PASSPHRASE", GM_PARAM_get_keysToRemove_list()), CM_RC_FAIL);
    EXPECT_EQ(GM_PARAM_is_printable("USER", GM_PARAM_get_keysToRemove_list()), CM_RC_OK);
}

TEST_F(ParamTableTest, OptionOneReaderStopsAtSectionAndUpperCasesOnlyWhenAsked) {
    home.write_file("data/T.dat", "lower 1\n[S]\nafter 2\n");
    KeyList kept, upper;
    ASSERT_EQ(GM_PARAM_load_file_option1(&kept.h, "./data/T.dat", 0), CM_RC_OK);
    EXPECT_EQ(kept.rows(), (Rows{{"lower", "1"}}));
    ASSERT_EQ(GM_PARAM_load_file_option1(&upper.h, "./data/T.dat", 1), CM_RC_OK);
    EXPECT_EQ(upper.rows(), (Rows{{"LOWER", "1"}}));
    KeyList parsed;
    EXPECT_EQ(GM_param_parse_str_option1(&parsed.h, "[S]", 0), CM_RC_DIR_END);
    EXPECT_EQ(GM_param_parse_str(&parsed.h, std::string(64, 'k').c_str()), CM_RC_FAIL);
}

TEST_F(ParamTableTest, GetReadsTableOnFirstUseAndLeavesBufferOnMiss) {
    home.write_file("data/CONFIG.dat", "dbglvl 3\nname agent one\n");
    CM_RC rc = 0;
    EXPECT_EQ(get("CONFIG", "NAME", &rc), "agent one");
    EXPECT_EQ(rc, CM_RC_OK);
    EXPECT_EQ(get("CONFIG", "MISSING", &rc), "<untouched>");
    EXPECT_EQ(rc, CM_RC_END);
    EXPECT_EQ(get("NOFILE", "X", &rc), "<untouched>");
    EXPECT_EQ(rc, CM_RC_FAIL);
}

TEST_F(ParamTableTest, CacheReloadsOnlyWhenModificationTimeChanges) {
    home.write_file("data/T.dat", "k old\n");
    set_mtime("data/T.dat", 1700000000);
    EXPECT_EQ(get("T", "K"), "old");

    home.write_file("data/T.dat", "k new\n");
    set_mtime("data/T.dat", 1700000000);  // same time: the cached copy stays
    EXPECT_EQ(GM_PARAM_load("T", 0), CM_RC_END);
    EXPECT_EQ(get("T", "K"), "old");

    EXPECT_EQ(GM_PARAM_load("T", 1), CM_RC_OK);  // p_flag 1 always rereads
    EXPECT_EQ(get("T", "K"), "new");

    home.write_file("data/T.dat", "k newer\n");
    set_mtime("data/T.dat", 1700000100);
    EXPECT_EQ(get("T", "K"), "new");  // lookups never look at the file
    EXPECT_EQ(GM_PARAM_load("T", 0), CM_RC_OK);
    EXPECT_EQ(get("T", "K"), "newer");

    ASSERT_EQ(unlink("data/T.dat"), 0);
    EXPECT_EQ(GM_PARAM_load("T", 0), CM_RC_FAIL);  // the cached table is dropped
    CM_RC rc = 0;
    EXPECT_EQ(get("T", "K", &rc), "<untouched>");
    EXPECT_EQ(rc, CM_RC_FAIL);
}

TEST_F(ParamTableTest, TableFindGivesTheCachedRecord) {
    home.write_file("data/T.dat", "a 1\nb 2\n");
    set_mtime("data/T.dat", 1700000000);
    GM_PARAM_table_list* table = nullptr;
    ASSERT_EQ(GM_PARAM_table_find(&table, "T"), CM_RC_OK);
    EXPECT_STREQ(table->table_name, "T");
    char expected_time[32];
    time_t when = 1700000000;
    strftime(expected_time, sizeof expected_time, "%Y%m%d%H%M%S", localtime(&when));
    EXPECT_STREQ(table->load_timestmp, expected_time);
    EXPECT_EQ(GM_PARAM_table_count(table), 2);
    EXPECT_EQ(GM_PARAM_load(std::string(65, 'T').c_str(), 0), CM_RC_FAIL);
}

TEST_F(ParamTableTest, SetOnMissingTableCreatesItAndSaveWritesTheFile) {
    EXPECT_EQ(GM_PARAM_set("NEWTAB", "Key1", "v1"), CM_RC_OK);
    EXPECT_EQ(get("NEWTAB", "Key1"), "v1");
    EXPECT_FALSE(home.exists("data/NEWTAB.dat"));
    ASSERT_EQ(GM_PARAM_save("NEWTAB"), CM_RC_OK);
    EXPECT_EQ(home.read_file("data/NEWTAB.dat"), "Key1" + std::string(31, ' ') + " v1\n\n");
    EXPECT_EQ(GM_PARAM_load("NEWTAB", 0), CM_RC_END);  // the save recorded the new time
    EXPECT_EQ(GM_PARAM_delete("NEWTAB", "Key1"), CM_RC_OK);
    EXPECT_EQ(GM_PARAM_delete("NEWTAB", "Key1"), CM_RC_END);
    EXPECT_EQ(GM_PARAM_set(std::string(65, 'T').c_str(), "K", "v"), CM_RC_FAIL);
    EXPECT_EQ(GM_PARAM_save("NOSUCH"), CM_RC_FAIL);
}

TEST_F(ParamTableTest, SaveKeepsWhatAnotherWriterChangedMeanwhile) {
    home.write_file("data/T.dat", "A 1\nB 2\nC 3\n");
    EXPECT_EQ(get("T", "A"), "1");
    GM_PARAM_set("T", "B", "mine");
    GM_PARAM_set("T", "NEW", "n");
    GM_PARAM_delete("T", "C");
    // Another process rewrites the file between our load and our save.
    home.write_file("data/T.dat", "A other\nB 2\nC 3\nD theirs\n");
    ASSERT_EQ(GM_PARAM_save("T"), CM_RC_OK);
    KeyList back;
    ASSERT_EQ(GM_PARAM_load_file(&back.h, "./data/T.dat"), CM_RC_OK);
    EXPECT_EQ(back.rows(), (Rows{{"A", "other"}, {"B", "mine"}, {"D", "theirs"}, {"NEW", "n"}}));
    EXPECT_EQ(get("T", "D"), "theirs");  // the cache holds what was written
}

TEST_F(ParamTableTest, SaveWithoutForeignChangesWritesTheCachedCopyAsItIs) {
    home.write_file("data/T.dat", "A 1\n");
    GM_PARAM_set("T", "lower", "x");
    ASSERT_EQ(GM_PARAM_save("T"), CM_RC_OK);
    GM_PARAM_set("T", "A", "2");
    ASSERT_EQ(GM_PARAM_save("T"), CM_RC_OK);
    EXPECT_EQ(get("T", "lower"), "x");  // keys set from code keep their case until reloaded
    EXPECT_EQ(home.read_file("data/T.dat"),
              "A" + std::string(34, ' ') + " 2\n\n" + "lower" + std::string(30, ' ') + " x\n\n");
}

TEST_F(ParamTableTest, IntAndAgentVersionReadConfig) {
    home.write_file("data/CONFIG.dat", "N 42\nNEG -5\nFIX_NUMBER 0\nFD_NUMBER 9.0.21\n");
    EXPECT_EQ(GM_PARAM_get_int_by_name("CONFIG", "N", 7), 42);
    EXPECT_EQ(GM_PARAM_get_int_by_name("CONFIG", "NEG", 7), 7);
    EXPECT_EQ(GM_PARAM_get_int_by_name("CONFIG", "NONE", 7), 7);
    char version[2048] = "";
    EXPECT_EQ(GM_PARAM_get_agent_version(version), CM_RC_OK);
    EXPECT_STREQ(version, "0.21");

    GM_PARAM_set("CONFIG", "FIX_NUMBER", "8.1");
    EXPECT_EQ(GM_PARAM_get_agent_version(version), CM_RC_OK);
    EXPECT_STREQ(version, "1");
    GM_PARAM_set("CONFIG", "FIX_NUMBER", "801");
    EXPECT_EQ(GM_PARAM_get_agent_version(version), CM_RC_FAIL);

    char text[8];
    GLOBAL_version(text, sizeof text);
    EXPECT_STREQ(text, "GLOBAL ");
}

// The cached tables stay with the process to its end: a process that reads tables and ends
// normally passes the leak checker (the suites run with detect_leaks=1).
TEST_F(ParamTableTest, TablesCachedByAProcessPassTheLeakCheckAtItsEnd) {
    home.write_file("data/CONFIG.dat", "AGENT_DIR /x\nDBGLVL 0\n");
    home.write_file("data/S.dat", "[ACC]\nDB_SID VIS\n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char value[2048] = "";
        const bool read = GM_PARAM_get("CONFIG", "AGENT_DIR", value) == CM_RC_OK &&
                          GM_PARAM_subtable_get("S", "ACC", "DB_SID", value) == CM_RC_OK &&
                          GM_PARAM_set("NEWTAB", "K", "v") == CM_RC_OK;
        std::exit(read ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A process of the agent may end while its other threads still read tables and log: nothing they
// use is destroyed under them by the exit, and the process still ends clean under the leak checker.
// Run many times, as the exit meets the threads at a different point each time.
TEST_F(ParamTableTest, AProcessEndsCleanlyWhileOtherThreadsReadTablesAndLog) {
    home.write_file("data/CONFIG.dat", "AGENT_DIR /x\nDBGLVL 4\n");
    home.write_file("data/S.dat", "[ACC]\nDB_SID VIS\n");
#if defined(__SANITIZE_THREAD__)
    constexpr int kRuns = 8;  // the race detector sees a destruction under a thread in any run
#else
    constexpr int kRuns = 20;
#endif
    constexpr int kThreads = 4;
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE(run);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            OS_DIAG_initialize(nullptr, "Oebs_CM");
            DIAG_set_debug_level(4);
            std::atomic<int> started{0};
            for (int t = 0; t < kThreads; ++t)
                std::thread([&started, t] {
                    char value[2048] = "";
                    for (int i = 0;; ++i) {
                        GM_PARAM_get("CONFIG", "AGENT_DIR", value);
                        GM_PARAM_subtable_get("S", "ACC", "DB_SID", value);
                        DIAG_TRACE(4, "thread %d line %d", t, i);
                        if (i == 10) ++started;
                    }
                }).detach();
            while (started < kThreads) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::microseconds(50 * run));
            std::exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

TEST_F(ParamTableTest, TwoThreadsReadAndReloadAtOnce) {
    home.write_file("data/T.dat", "K v\n");
    auto reader = [] {
        for (int i = 0; i < 300; ++i) {
            char value[2048] = "";
            if (GM_PARAM_get("T", "K", value) == CM_RC_OK) {
                EXPECT_STREQ(value, "v");
            }
        }
    };
    auto reloader = [] {
        for (int i = 0; i < 300; ++i) GM_PARAM_load("T", 1);
    };
    std::thread a(reader), b(reloader), c(reader);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(get("T", "K"), "v");
}

}  // namespace
