// The submitted-requests file: row format, reading, ageing, locking, and concurrent writers.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <thread>

#include "be_def.h"
#include "be_fixture.h"
#include "be_internal.h"
#include "gm_param.h"
#include "joined.h"
#include "os_diag.h"

namespace {

using RequestsFileTest = betest::HomeTest;
using namespace std::string_literals;

constexpr const char* kReqs = "./data/DUZ_reqs.dat";

std::string value_of(ZPALIST_handle_typ* list, const char* key) {
    char value[4096] = "";
    return GM_PARAM_list_get(list, key, value, sizeof value) == CM_RC_OK ? value : "<missing>";
}

TEST_F(RequestsFileTest, RowIsPaddedTo64ColumnsAndFollowedByAnEmptyLine) {
    ZPALIST_handle_typ list{};
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_read_reqs_file(kReqs, &list, &error), CM_RC_OK);
    GM_PARAM_list_set(&list, "12345", "99");
    ASSERT_EQ(BE_DUZ_write_reqs_file(kReqs, &list, &error), CM_RC_OK);
    GM_PARAM_list_clear(&list);
    EXPECT_EQ(home.read_file("data/DUZ_reqs.dat"), "12345" + std::string(59, ' ') + "  99\n\n");

    ASSERT_EQ(BE_DUZ_read_reqs_file(kReqs, &list, &error), CM_RC_OK);
    EXPECT_EQ(ZPALIST_count(&list), 1);
    EXPECT_EQ(value_of(&list, "12345"), "99");
    GM_PARAM_list_clear(&list);
}

TEST_F(RequestsFileTest, MissingFileIsCreatedEmptyWithMode0764) {
    ZPALIST_handle_typ list{};
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_read_reqs_file(kReqs, &list, &error), CM_RC_OK);
    EXPECT_EQ(ZPALIST_count(&list), 0);
    struct stat st;
    ASSERT_EQ(stat(kReqs, &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0764u);
}

TEST_F(RequestsFileTest, ReaderKeepsEachLineFromItsFirstDigit) {
    struct Case {
        std::string content;
        CM_RC rc;
        std::vector<std::pair<const char*, const char*>> rows;
    } cases[] = {
        {"  # 4711  17\n", CM_RC_OK, {{"4711", "17"}}},
        {"no digits here\n12 5\n", CM_RC_OK, {{"12", "5"}}},
        {"12 5\nlast line without newline 7", CM_RC_OK, {{"12", "5"}}},
        {"1[2] 5\n", CM_RC_FAIL, {}},
        {std::string(63, '1') + " 1\n",
         CM_RC_OK,
         {{"111111111111111111111111111111111111111111111111111111111111111", "1"}}},
        {std::string(64, '1') + " 1\n", CM_RC_FAIL, {}},
        {"7 " + std::string(3000, 'v') + "\n", CM_RC_OK, {{"7", nullptr}}},
        {"12\t \t  \t            5\n12ab=6\n", CM_RC_OK, {{"12", "5"}, {"12AB", "6"}}},
        // A NUL ends the line's text; one before the first digit is dropped with the other characters.
        {"12 5\0 7\n\0"
         "34 6\n56 7\0\n78 8\n"s,
         CM_RC_OK,
         {{"12", "5"}, {"34", "6"}, {"56", "7"}, {"78", "8"}}},
    };
    for (const Case& c : cases) {
        home.write_file("data/DUZ_reqs.dat", c.content);
        ZPALIST_handle_typ list{};
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_read_reqs_file(kReqs, &list, &error), c.rc) << c.content.substr(0, 80);
        if (c.rc == CM_RC_OK) {
            EXPECT_EQ(ZPALIST_count(&list), static_cast<int>(c.rows.size()));
            for (auto& [key, value] : c.rows) {
                if (value)
                    EXPECT_EQ(value_of(&list, key), value);
                else
                    EXPECT_EQ(value_of(&list, key).size(), static_cast<std::size_t>(BE_DUZ_REQS_LINE_MAX - 1 - 2));
            }
        } else {
            EXPECT_EQ(error.code, 1u);
        }
        GM_PARAM_list_clear(&list);
    }
}

TEST_F(RequestsFileTest, RowsOlderThanOneDayAreDropped) {
    const long now = static_cast<long>(std::time(nullptr));
    ZPALIST_handle_typ list{};
    GM_PARAM_list_set(&list, "1", std::to_string(now - 86400 + 5).c_str());
    GM_PARAM_list_set(&list, "2", std::to_string(now - 86401 - 5).c_str());
    GM_PARAM_list_set(&list, "3", std::to_string(now).c_str());
    GM_PARAM_list_set(&list, "4", std::to_string(now - 200000).c_str());
    ASSERT_EQ(BE_DUZ_remove_old_req(&list), CM_RC_OK);
    EXPECT_EQ(ZPALIST_count(&list), 2);
    EXPECT_NE(value_of(&list, "1"), "<missing>");
    EXPECT_EQ(value_of(&list, "2"), "<missing>");
    EXPECT_NE(value_of(&list, "3"), "<missing>");
    EXPECT_EQ(value_of(&list, "4"), "<missing>");
    GM_PARAM_list_clear(&list);
}

// A row's age reads its value as a decimal number the way strtoll does: leading text that is no
// number reads as 0, a sign is taken, reading stops at the first character that is no digit, and a
// number too large for the type reads as its largest value. A row of exactly one day is kept.
TEST_F(RequestsFileTest, AgeReadsTheValueAsStrtollDoes) {
    const long long now = static_cast<long long>(std::time(nullptr));
    const std::string day = std::to_string(now - 86400), older = std::to_string(now - 86401);
    const std::pair<std::string, bool> cases[] = {
        {std::to_string(now), true},
        {std::to_string(now) + "x", true},
        {testbed::joined("+", now), true},
        {"abc", false},
        {"-5", false},
        {"0012345", false},
        {"99999999999999999999999", true},
        {"1000000000000000000", true},
        {older, false},
        {day, true},
        {day + " 7", true},
        {older + "9", true},
        {older + "x", false},
        {"0" + day, true},
        {"0" + older, false},
        {"999999999", false},
        {"10000000000", true},
        {" " + day, true},
        {"-9223372036854775808", false},  // the smallest number: no overflow, the oldest row
        {"-99999999999999999999999", false},
    };
    ZPALIST_handle_typ list{};
    for (std::size_t i = 0; i < std::size(cases); ++i)
        GM_PARAM_list_set(&list, std::to_string(i).c_str(), cases[i].first.c_str());
    ASSERT_EQ(be_reqs_drop_old(&list, static_cast<std::time_t>(now)), CM_RC_OK);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(value_of(&list, std::to_string(i).c_str()) != "<missing>", cases[i].second) << cases[i].first;
    GM_PARAM_list_clear(&list);
}

TEST_F(RequestsFileTest, WritingAnEmptyListDropsOldRows) {
    home.write_file("data/DUZ_reqs.dat", "5 100\n\n");
    ZPALIST_handle_typ list{};
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_write_reqs_file(kReqs, &list, &error), CM_RC_OK);
    EXPECT_EQ(home.read_file("data/DUZ_reqs.dat"), "");
}

// Adds one request the way job submission does: read, prune, add, write.
bool add_request(const std::string& id) {
    ZPALIST_handle_typ list{};
    ZPAError error{};
    bool ok = BE_DUZ_read_reqs_file(kReqs, &list, &error) == CM_RC_OK && BE_DUZ_remove_old_req(&list) == CM_RC_OK &&
              GM_PARAM_list_set(&list, id.c_str(), std::to_string(std::time(nullptr)).c_str()) == CM_RC_OK &&
              BE_DUZ_write_reqs_file(kReqs, &list, &error) == CM_RC_OK;
    GM_PARAM_list_clear(&list);
    return ok;
}

TEST_F(RequestsFileTest, ConcurrentWritersLoseNoRequest) {
    constexpr int kWriters = 6;
    constexpr int kPerWriter = 15;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            for (int i = 0; i < kPerWriter; ++i) ok = add_request(std::to_string((w + 1) * 1000 + i)) && ok;
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ZPALIST_handle_typ list{};
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_read_reqs_file(kReqs, &list, &error), CM_RC_OK);
    EXPECT_EQ(ZPALIST_count(&list), kWriters * kPerWriter);
    for (int w = 0; w < kWriters; ++w)
        for (int i = 0; i < kPerWriter; ++i)
            EXPECT_NE(value_of(&list, std::to_string((w + 1) * 1000 + i).c_str()), "<missing>");
    GM_PARAM_list_clear(&list);
}

TEST_F(RequestsFileTest, TenThousandRowsReadInOrderAndOneSubmissionKeepsThemAll) {
    constexpr int kRows = 10000;
    const long now = static_cast<long>(std::time(nullptr));
    std::string content;
    for (int i = 0; i < kRows; ++i) content += std::to_string(100000 + i) + "  " + std::to_string(now) + "\n\n";
    home.write_file("data/DUZ_reqs.dat", content);
    ZPALIST_handle_typ list{};
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_read_reqs_file(kReqs, &list, &error), CM_RC_OK);
    EXPECT_EQ(list.count, kRows);
    EXPECT_EQ(ZPALIST_count(&list), kRows);
    EXPECT_EQ(list.curr, nullptr);
    int i = 0;
    for (ZPALIST_entry_typ* e = list.first; e; e = e->next, ++i)
        ASSERT_STREQ(static_cast<char*>(e->ptr), std::to_string(100000 + i).c_str());
    GM_PARAM_list_clear(&list);

    ASSERT_EQ(be_reqs_update(
                  kReqs,
                  [&](ZPALIST_handle_typ* rows) {
                      return GM_PARAM_list_set(rows, "999999", std::to_string(now).c_str()) == CM_RC_OK;
                  },
                  &error),
              CM_RC_OK);
    ASSERT_EQ(BE_DUZ_read_reqs_file(kReqs, &list, &error), CM_RC_OK);
    EXPECT_EQ(list.count, kRows + 1);
    EXPECT_EQ(value_of(&list, "999999"), std::to_string(now));
    GM_PARAM_list_clear(&list);
}

// A submission's row is recorded by reading and writing the text row by row: the file it leaves is
// the one the list's cycle (parse dropping unreadable lines, drop old rows, GM_PARAM_list_set,
// write) leaves, whatever the file held.
TEST_F(RequestsFileTest, RecordingARowWritesWhatTheListCycleWrites) {
    const std::time_t now = std::time(nullptr);
    const std::string fresh = std::to_string(now - 10), old = std::to_string(now - 86401 - 60);
    const std::string long_value(2100, '7');
    struct Case {
        std::string content, key;
    };
    const Case cases[] = {
        {"", "42"},
        {"1  " + fresh + "\n\n2  " + old + "\n\n3  " + fresh + "\n\n", "9"},
        {"5  " + fresh + "\n\n5  " + fresh + "x\n\n", "5"},      // first row of the key takes it
        {"5  " + old + "\n\n5  " + fresh + "\n\n", "5"},         // an old row of the key is dropped first
        {"# comment\n  \n7a  " + fresh + "   \n\n", "7A"},       // keys are stored upper case
        {"7a  " + fresh + "\n\n", "7a"},                         // ... the given key as given
        {"x8\tvalue with  blanks  \n8=" + fresh + "\n\n", "8"},  // from the first digit; tab and '='
        {"9  " + long_value + "\n\n", "10"},                     // values cut to 2048 when written
        {"11  " + fresh + "\n12  " + fresh, "13"},               // a last line without newline
        {"14  " + fresh +
             "\n\xff"
             "15  " +
             fresh + "\n",
         "16"},                                                              // 0xFF ends the file
        {"17  "s + fresh + '\0' + "junk\n\n", "18"},                         // a NUL ends the line
        {"19  " + fresh + "\n\n" + std::string(70, '1') + "  1\n\n", "20"},  // a key too long is dropped
        {"21  " + fresh + "\n\n1[a]  2\n\n", "22"},                          // a section line is dropped
        {"23  " + fresh + "\n\n", std::string(80, '4')},                     // the new key cut to 63
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.content.substr(0, 120)) + " key " + c.key);
        ZPALIST_handle_typ rows{};
        ASSERT_EQ(be_reqs_parse_readable(c.content, &rows), CM_RC_OK);
        ASSERT_EQ(be_reqs_drop_old(&rows, now), CM_RC_OK);
        ASSERT_EQ(GM_PARAM_list_set(&rows, c.key.c_str(), fresh.c_str()), CM_RC_OK);
        const std::string expected = be_reqs_text(&rows);
        GM_PARAM_list_clear(&rows);
        EXPECT_EQ(be_reqs_record_text(c.content, c.key.c_str(), fresh.c_str(), now), expected);
    }

    home.write_file("data/DUZ_reqs.dat", "1  " + old + "\n\n");
    ZPAError error{};
    ASSERT_EQ(be_reqs_record(kReqs, "3", fresh.c_str(), &error), CM_RC_OK);
    EXPECT_EQ(home.read_file("data/DUZ_reqs.dat"), testbed::joined("3", std::string(65, ' '), fresh, "\n\n"));
}

// A line no reader can take (a key of more than 63 characters, a section line) fails the file's
// own reader, but every rewrite drops it and logs it, so the rows around it and the users after it
// go on: the submission's record, the request monitor's turn and the C interface's writer.
TEST_F(RequestsFileTest, RewritesDropAndLogTheLinesNoReaderCanTake) {
    const std::string fresh = std::to_string(std::time(nullptr));
    const std::string long_key(70, '1');
    const std::string damaged =
        "5  " + fresh + "\n\n" + long_key + "  " + fresh + "\n\n1[a]  2\n\n6  " + fresh + "\n\n";
    const auto row = [&](const std::string& key) { return key + std::string(66 - key.size(), ' ') + fresh + "\n\n"; };
    struct Writer {
        const char* name;
        std::function<CM_RC(ZPAError*)> write;
        std::string left;
    } writers[] = {
        {"record", [&](ZPAError* e) { return be_reqs_record(kReqs, "7", fresh.c_str(), e); },
         row("5") + row("6") + row("7")},
        {"update",
         [&](ZPAError* e) {
             return be_reqs_update(
                 kReqs, [](ZPALIST_handle_typ*) { return true; }, e);
         },
         row("5") + row("6")},
        {"C writer",
         [&](ZPAError* e) {
             ZPALIST_handle_typ none{};
             return BE_DUZ_write_reqs_file(kReqs, &none, e);
         },
         row("5") + row("6")},
    };
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    for (const Writer& w : writers) {
        SCOPED_TRACE(w.name);
        home.write_file("data/DUZ_reqs.dat", damaged);
        ZPALIST_handle_typ list{};
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_read_reqs_file(kReqs, &list, &error), CM_RC_FAIL);
        GM_PARAM_list_clear(&list);
        const std::size_t logged_before = testbed::read_diag_log_texts("Oebs_CM").size();
        ASSERT_EQ(w.write(&error), CM_RC_OK) << error.text;
        EXPECT_EQ(home.read_file("data/DUZ_reqs.dat"), w.left);
        const std::string log = testbed::read_diag_log_texts("Oebs_CM").substr(logged_before);
        EXPECT_NE(log.find("Unreadable line dropped from the requests file: " + long_key + "  "), std::string::npos);
        EXPECT_NE(log.find("Unreadable line dropped from the requests file: 1[a]  2\n"), std::string::npos);
        ASSERT_EQ(BE_DUZ_read_reqs_file(kReqs, &list, &error), CM_RC_OK);
        GM_PARAM_list_clear(&list);
    }
}

TEST_F(RequestsFileTest, CreateModeEmptiesTheFileOnlyOnceItHoldsTheLock) {
    home.write_file("temp/lock.dat", "keep");
    OS_FD_typ holder = -1;
    ASSERT_EQ(BE_DUZ_FILE_open(&holder, "temp/lock.dat", OS_FILE_APPEND), CM_RC_OK);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        OS_FD_typ fd = -1;
        CM_RC rc = BE_DUZ_FILE_open(&fd, "temp/lock.dat", OS_FILE_CREATE);
        _exit(rc == CM_RC_OK ? 0 : 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(home.read_file("temp/lock.dat"), "keep");  // the opener waits for the lock
    close(holder);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(home.read_file("temp/lock.dat"), "");
    struct stat st;
    ASSERT_EQ(stat("temp/lock.dat", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0744u);
}

TEST_F(RequestsFileTest, OpenModesReportTheirOwnFailures) {
    OS_FD_typ fd = -1;
    EXPECT_EQ(BE_DUZ_FILE_open(&fd, "temp/none/x.dat", OS_FILE_READ), CM_RC_OPEN_FAILED);
    EXPECT_EQ(BE_DUZ_FILE_open(&fd, "temp/none.dat", OS_FILE_WRITE), CM_RC_OPEN_FAILED);
    EXPECT_EQ(BE_DUZ_FILE_open(&fd, "temp/none/x.dat", OS_FILE_APPEND), CM_RC_OPEN_FAILED);
    EXPECT_EQ(BE_DUZ_FILE_open(&fd, "temp/none/x.dat", OS_FILE_CREATE), CM_RC_CREATE_FAILED);
    EXPECT_EQ(BE_DUZ_FILE_open(&fd, "temp/x.dat", OS_FILE_LOCK), CM_RC_FAIL);
}

}  // namespace
