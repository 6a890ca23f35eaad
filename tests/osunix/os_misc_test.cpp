// Shell-script scanning: interpreter lines, tokens, the zone scan that keeps replacements out of
// awk programs, ksh function starts; and the small system utilities beside them.
#include "os_misc.h"
#include "os_diag.h"
#include "os_file.h"
#include "testbed.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(ShellLine, TypeTokenAndTracingOfInterpreterLines) {
    struct Case {
        const char* line;
        int type;
        const char* token;
        int x_option;
    } cases[] = {
        {"#!/bin/ksh -x", OS_MISC_KSH, "/bin/ksh", 1},
        {"#!/bin/sh -x", OS_MISC_SH, "/bin/sh", 1},
        {"#!/usr/bin/ksh93", OS_MISC_KSH, "/usr/bin/ksh93", 2},
        {"#!/bin/bash -x\n", OS_MISC_BASH, "/bin/bash", 2},
        {"#!/bin/tcsh", OS_MISC_TCSH, "/bin/tcsh", 2},
        {"#!/bin/rksh", OS_MISC_RKSH, "/bin/rksh", 2},
        {"#!/bin/ncrx", OS_MISC_RXX, "/bin/ncrx", 2},
        {"#!/bin/posix/ksh", OS_MISC_KSH, "/bin/posix/ksh", 2},  // the plain ksh path matches first
        {"#!/usr/bin/env bash", OS_MISC_SH, "", 2},              // no interpreter path of ours: sh
        {"#!/sh", OS_MISC_SH, "", 2},                            // shorter than every path
        {"#!", OS_MISC_SH, "", 2},
        {": run with sh", OS_MISC_SH, "", 2},
        {"echo hi", OS_MISC_NOT_INTERPRETER, "", 2},
        {"echo /bin/ksh -x", OS_MISC_NOT_INTERPRETER, "", 2},
    };
    for (const Case& c : cases) {
        char token[OS_MISC_SHELL_TOKEN_ROOM] = "stale";
        EXPECT_EQ(OS_MISC_determine_shell(c.line, token), c.type) << c.line;
        EXPECT_STREQ(token, c.token) << c.line;
        EXPECT_EQ(OS_MISC_shell_x_option(c.line), c.x_option) << c.line;
    }
    char token[OS_MISC_SHELL_TOKEN_ROOM] = "stale";
    EXPECT_EQ(OS_MISC_determine_shell(nullptr, token), OS_MISC_NOT_INTERPRETER);
    EXPECT_STREQ(token, "");
    EXPECT_EQ(OS_MISC_shell_x_option(nullptr), 2);

    // A token longer than its room is cut, never written past it.
    const std::string long_line = "#!/" + std::string(400, 'd') + "/ksh";
    std::vector<char> room(OS_MISC_SHELL_TOKEN_ROOM, 'x');
    EXPECT_EQ(OS_MISC_determine_shell(long_line.c_str(), room.data()), OS_MISC_KSH);
    EXPECT_EQ(std::strlen(room.data()), OS_MISC_SHELL_TOKEN_ROOM - 1u);

    EXPECT_STREQ(OS_MISC_get_shell_path(OS_MISC_POSIX_KSH), "/bin/posix/ksh");
    EXPECT_STREQ(OS_MISC_get_shell_path(OS_MISC_BASH), "/bin/bash");
    EXPECT_EQ(OS_MISC_get_shell_path(OS_MISC_NOT_INTERPRETER), nullptr);
    EXPECT_EQ(OS_MISC_get_shell_path(11), nullptr);
}

TEST(ShellToken, FoundAnywhereOrAsTheFirstTokenWithAnOptionalCaseSwap) {
    struct Case {
        const char* line;
        const char* token;
        int switch_case;
        int first_token;
        CM_RC found;
    } cases[] = {
        {"  exit 1", "exit", 0, 1, CM_RC_OK},    {"\t\r\f\n exit", "exit", 0, 1, CM_RC_OK},
        {"echo exit", "exit", 0, 1, CM_RC_FAIL}, {"echo exit", "exit", 0, 0, CM_RC_OK},
        {"  EXIT 1", "exit", 1, 1, CM_RC_OK},                                     // the swapped line reads "  exit 1"
        {"  Exit 1", "exit", 1, 1, CM_RC_FAIL},                                   // ... but this one "  eXIT 1"
        {"  EXIT 1", "exit", 0, 1, CM_RC_FAIL},  {"echo", "", 1, 0, CM_RC_FAIL},  // an empty token is never found
        {nullptr, "exit", 1, 0, CM_RC_FAIL},     {"exit", nullptr, 1, 0, CM_RC_FAIL},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OS_MISC_find_token(c.line, c.token, c.switch_case, c.first_token), c.found)
            << (c.line ? c.line : "(null)") << " / " << (c.token ? c.token : "(null)");
        if (!c.switch_case) {
            EXPECT_EQ(OS_MISC_look_for_token(c.line, c.token, c.first_token), c.found) << c.line;
        }
    }
    EXPECT_EQ(OS_MISC_does_the_first_token("  x", 2), CM_RC_OK);
    EXPECT_EQ(OS_MISC_does_the_first_token(" ax", 2), CM_RC_FAIL);
    EXPECT_EQ(OS_MISC_does_the_first_token("  ", 9), CM_RC_FAIL);
    EXPECT_EQ(OS_MISC_does_the_first_token(nullptr, 0), CM_RC_FAIL);

    char text[] = "Ab1-z\xc3\xa9";
    OS_MISC_switch_case(text);
    EXPECT_STREQ(text, "aB1-Z\xc3\xa9");
}

TEST(ShellToken, LastAndFirstOccurrenceAroundALimit) {
    struct Case {
        const char* line;
        const char* token;
        int limit;
        int last;
        int first;
    } cases[] = {
        {"abcabc", "abc", 6, 3, -5},  // first: from 6, past the end
        {"abcabc", "abc", 5, 3, -5},   {"abcabc", "abc", 4, 0, -5}, {"abcabc", "abc", 2, 0, 3},
        {"abcabc", "abc", 1, -5, 3},   {"abcabc", "abc", 0, -5, 0}, {"abcabc", "", 6, -5, -5},
        {"abcabc", "abc", -1, -5, -5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OS_MISC_find_last_str(c.line, c.token, c.limit), c.last) << c.token << " till " << c.limit;
        EXPECT_EQ(OS_MISC_find_str_loc(c.line, c.token, c.limit), c.first) << c.token << " from " << c.limit;
    }
    EXPECT_EQ(OS_MISC_find_last_str(nullptr, "a", 3), -5);
    EXPECT_EQ(OS_MISC_find_str_loc("a", nullptr, 0), -5);
}

// Hands a script to the zone scan line by line and replaces a token in each line.
std::vector<std::string> replaced(const std::vector<std::string>& script, const char* token, const char* repl) {
    std::vector<std::string> out;
    int number = 0;
    for (const std::string& line : script) {
        OS_MISC_zone_handle_line(line.c_str(), ++number);
        char buffer[OS_MISC_LINE_ROOM];
        std::snprintf(buffer, sizeof buffer, "%s", line.c_str());
        EXPECT_EQ(OS_MISC_replace_token(buffer, token, repl), CM_RC_OK) << line;
        out.push_back(buffer);
    }
    return out;
}

TEST(ShellZone, ReplacementsStayOutOfAwkProgramsAcrossLines) {
    const std::vector<std::string> script = {
        "echo $1 $1$1",         // every occurrence, also side by side
        "awk '{print $1}' $1",  // the zone runs from the first quote to the last
        "awk '{",               // a program over three lines
        "  print $1",
        "  }",  // the closing quote comes on the next line
        "' $1",
        "echo \"$1\" >&2",
    };
    const std::vector<std::string> expected = {
        "echo X XX", "awk '{print $1}' X", "awk '{", "  print $1", "  }", "' X", "echo \"X\" >&2",
    };
    EXPECT_EQ(replaced(script, "$1", "X"), expected);

    // $0 behind a backslash stays; a fresh scan starts outside any zone.
    EXPECT_EQ(replaced({"echo \\$0 $0", "awk '{print $0}'"}, "$0", "sh"),
              (std::vector<std::string>{"echo \\$0 sh", "awk '{print $0}'"}));
}

TEST(ShellZone, StateRangeAndPairsOfTheScan) {
    OS_MISC_zone_handle_line("awk '{print $1}'", 1);
    EXPECT_EQ(OS_MISC_get_zone(), OS_MISC_NOT_FOUND);
    EXPECT_EQ(OS_MISC_decide_if_inside_zone(3), OS_MISC_NOT_FOUND);
    EXPECT_EQ(OS_MISC_decide_if_inside_zone(4), OS_MISC_INSIDE);
    EXPECT_EQ(OS_MISC_decide_if_inside_zone(15), OS_MISC_INSIDE);
    EXPECT_EQ(OS_MISC_decide_if_inside_zone(16), OS_MISC_NOT_FOUND);
    EXPECT_EQ(OS_MISC_decide_if_inside_zone(-1), OS_MISC_NOT_FOUND);

    OS_MISC_zone_handle_line("cat f | awk", 2);  // the opening quote is still to come
    EXPECT_EQ(OS_MISC_get_zone(), OS_MISC_NEXT_LINE);
    OS_MISC_zone_handle_line("   '{ x = $2", 3);
    EXPECT_EQ(OS_MISC_get_zone(), OS_MISC_INSIDE);
    EXPECT_EQ(OS_MISC_decide_if_inside_zone(2), OS_MISC_NOT_FOUND);
    EXPECT_EQ(OS_MISC_decide_if_inside_zone(3), OS_MISC_INSIDE);
    OS_MISC_zone_handle_line("echo $2", 4);  // inside the program from column 0
    EXPECT_EQ(OS_MISC_decide_if_inside_zone(0), OS_MISC_INSIDE);
    EXPECT_EQ(OS_MISC_decide_if_inside_zone(900), OS_MISC_INSIDE);

    OS_MISC_mark_zone_range(OS_MISC_ZONE_EDGE, OS_MISC_ZONE_EDGE);
    EXPECT_EQ(OS_MISC_decide_if_inside_zone(0), OS_MISC_NOT_FOUND);
    OS_MISC_set_zone(OS_MISC_INSIDE);
    OS_MISC_new_line();
    EXPECT_EQ(OS_MISC_decide_if_inside_zone(7), OS_MISC_INSIDE);
    OS_MISC_set_zone(OS_MISC_NOT_FOUND);
    OS_MISC_new_line();
    EXPECT_EQ(OS_MISC_decide_if_inside_zone(7), OS_MISC_NOT_FOUND);

    struct Case {
        const char* line;
        int act;
        int from;
        int result;
    } cases[] = {
        {"awk  '{print}'", OS_MISC_ZONE_OPENING, 0, 5},
        {"gawk -v x=1 '{print}'", OS_MISC_ZONE_OPENING, 0, -5},  // another word before the quote
        {"x | awk", OS_MISC_ZONE_OPENING, 0, -3},
        {"x | awk \\", OS_MISC_ZONE_OPENING, 0, -3},
        {"awk '{print}'", OS_MISC_ZONE_OPENING, 6, -5},
        {"awk '{print}'", OS_MISC_ZONE_CLOSING, 0, 12},
        {"   ", OS_MISC_ZONE_OPENING, 0, -5},
        {"awk '", OS_MISC_ZONE_OPENING, 5, -5},
        {"awk '", 3, 0, -5},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OS_MISC_recogniz_tokens(c.line, c.act, c.from), c.result) << c.line << " from " << c.from;

    // Pairs of the caller's own, each text cut to 31 characters; an optional text between them.
    const std::string long_text(40, 'q');
    OS_MISC_set_zone_str("awk", "'", "-F:", "}", long_text.c_str(), "");
    char first[OS_MISC_ZONE_STR_ROOM], second[OS_MISC_ZONE_STR_ROOM], optional[OS_MISC_ZONE_STR_ROOM];
    ASSERT_EQ(OS_MISC_get_zone_str(OS_MISC_ZONE_CLOSING, first, second, optional), CM_RC_OK);
    EXPECT_EQ(std::string(second), std::string(31, 'q'));
    ASSERT_EQ(OS_MISC_get_zone_str(OS_MISC_ZONE_OPENING, first, second, optional), CM_RC_OK);
    EXPECT_STREQ(optional, "-F:");
    EXPECT_EQ(OS_MISC_recogniz_tokens("awk -F: '{", OS_MISC_ZONE_OPENING, 0), 8);

    OS_MISC_set_zone_str("", "'", nullptr, "}", "'", nullptr);
    EXPECT_EQ(OS_MISC_get_zone_str(OS_MISC_ZONE_OPENING, first, second, optional), CM_RC_FAIL);
    EXPECT_EQ(OS_MISC_recogniz_tokens("awk '{", OS_MISC_ZONE_OPENING, 0), -5);
    EXPECT_EQ(OS_MISC_get_zone_str(7, first, second, optional), CM_RC_FAIL);
}

TEST(ShellZone, ReplacedLineThatWouldNotFitLeavesTheLineAsItWas) {
    std::string line(500, ' ');
    line += "$1 $1";
    char buffer[OS_MISC_LINE_ROOM];
    std::snprintf(buffer, sizeof buffer, "%s", line.c_str());
    OS_MISC_zone_handle_line(buffer, 1);
    const std::string wide(300, 'w');
    EXPECT_EQ(OS_MISC_replace_token(buffer, "$1", wide.c_str()), CM_RC_FAIL);
    EXPECT_EQ(std::string(buffer), line);
    EXPECT_EQ(OS_MISC_replace_token(buffer, "", "x"), CM_RC_FAIL);
    EXPECT_EQ(OS_MISC_replace_token(nullptr, "$1", "x"), CM_RC_FAIL);
    EXPECT_EQ(OS_MISC_replace_token(buffer, "$1", nullptr), CM_RC_FAIL);
}

TEST(ShellFunction, KshAndPosixFunctionStarts) {
    struct Case {
        const char* line;
        int status;
        int result;
        int start;
    } cases[] = {
        {"function my_func {", -5, -6, 17},
        {"  function my-func{ # note", -5, -6, 18},
        {"function f # brace below", -5, -3, -1},
        {"function f", -5, -3, -1},
        {"function a b {", -5, -5, -1},
        {"my func() {", -5, -5, -1},
        {"f()", -5, -3, -1},
        {"{", -3, -6, 0},
        {"  {", -3, -6, 2},
        {"  echo", -3, -5, -1},
        {"f() \\", -5, -3, -1},
        {" f_1 ( ) {", -5, -5, -1},
        {" f_1() {", -5, -6, 7},
        {"function_x() {", -5, -6, 13},  // a name that begins with the keyword
        {"f() echo", -5, -5, -1},
        {"echo hi", -5, -5, -1},
        {"{", 7, -3, -1},
        {nullptr, -5, -5, -1},
    };
    for (const Case& c : cases) {
        int start = -1;
        EXPECT_EQ(OS_MISC_in_ksh_func(c.line, c.status, &start), c.result) << (c.line ? c.line : "(null)");
        EXPECT_EQ(start, c.start) << (c.line ? c.line : "(null)");
    }
}

TEST(ShellLine, LineEndsAndBlankLines) {
    struct Case {
        const char* text;
        int newline;
        int empty;
    } cases[] = {
        {"\n", 1, 1}, {"", 1, 1},    {"\\\n", 1, 1}, {"\\", 1, 1},    {" \t\r\f", 2, 1},
        {"a", 2, 2},  {"\\a", 2, 2}, {" a ", 2, 2},  {" \\ x", 2, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OS_MISC_is_newline(c.text), c.newline) << '"' << c.text << '"';
        EXPECT_EQ(OS_MISC_empty_line(c.text), c.empty) << '"' << c.text << '"';
    }
    EXPECT_EQ(OS_MISC_is_newline(nullptr), 2);
    EXPECT_EQ(OS_MISC_empty_line(nullptr), 2);
}

TEST(ShellZone, ConcurrentScansNeverTearTheZoneTexts) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 2000; ++i) {
                if (t % 2)
                    OS_MISC_set_zone_str("awk", "'", "", "}", "'", "");
                else
                    OS_MISC_set_zone_str("nawk", "\"", "-f", "}", "\"", "");
                char first[OS_MISC_ZONE_STR_ROOM], second[OS_MISC_ZONE_STR_ROOM], optional[OS_MISC_ZONE_STR_ROOM];
                ASSERT_EQ(OS_MISC_get_zone_str(OS_MISC_ZONE_OPENING, first, second, optional), CM_RC_OK);
                const bool plain = std::strcmp(first, "awk") == 0 && std::strcmp(second, "'") == 0 && !*optional;
                const bool other = std::strcmp(first, "nawk") == 0 && std::strcmp(second, "\"") == 0 &&
                                   std::strcmp(optional, "-f") == 0;
                ASSERT_TRUE(plain || other) << first << second << optional;
                OS_MISC_zone_handle_line("awk '{print $1}'", 1 + i % 3);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
}

class MiscUtilityTest : public testbed::AgentHomeTest {};

TEST_F(MiscUtilityTest, HomeDirectoryOfATrimmedUserName) {
    OS_DIAG_initialize(nullptr, "misc");
    DIAG_set_debug_level(4);
    PATHNAME_D_typ home_dir = "";
    ASSERT_EQ(OS_MISC_get_home_dir("  root ", home_dir), CM_RC_OK);
    EXPECT_STREQ(home_dir, "/root");
    EXPECT_EQ(OS_MISC_get_home_dir("no_such_user_x", home_dir), CM_RC_FAIL);
    EXPECT_NE(testbed::read_diag_log("misc").find("failed to get password entry for user 'no_such_user_x'"),
              std::string::npos);
    EXPECT_EQ(OS_MISC_get_home_dir(nullptr, home_dir), CM_RC_FAIL);
}

TEST_F(MiscUtilityTest, SystemErrorLineAndText) {
    OS_DIAG_initialize(nullptr, "misc");
    DIAG_set_debug_level(1);
    errno = ENOENT;
    OS_MISC_sys_err("OS_SPV_run_params", "access");
    EXPECT_EQ(errno, ENOENT);
    errno = 9999;
    OS_MISC_sys_err("f", "kill");
    const std::string log = testbed::read_diag_log_texts("misc");
    EXPECT_NE(log.find("misc:OS_SPV_run_params: access - errno = 2, msg = No such file or directory\n"),
              std::string::npos);
    EXPECT_NE(log.find("misc:f: kill - errno = 9999\n"), std::string::npos);

    char text[OS_MISC_SYS_ERR_STR_ROOM] = "stale";
    errno = 0;
    EXPECT_STREQ(OS_MISC_sys_err_str(text), "");
    errno = EACCES;
    EXPECT_STREQ(OS_MISC_sys_err_str(text), "(Permission denied)");
    errno = 9999;
    EXPECT_STREQ(OS_MISC_sys_err_str(text), "(errno = 9999)");
    EXPECT_EQ(OS_MISC_sys_err_str(nullptr), nullptr);
}

TEST(MiscUtility, PointerProbeReadsTheBytes) {
    const char readable[16] = "0123456789";
    EXPECT_EQ(OS_MISC_is_pointer_valid(readable), CM_RC_OK);
    EXPECT_EQ(OS_MISC_is_pointer_valid(nullptr), CM_RC_FAIL);
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    EXPECT_EQ(OS_MISC_is_pointer_valid(page), CM_RC_FAIL);
    munmap(page, 4096);
}

TEST(MiscUtility, ClearScreenAndTheListOfDisappearedJobs) {
    testing::internal::CaptureStdout();
    OS_MISC_clear_screen();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\x1b[2J\x1b[0;0H");
    ZPALIST_handle_typ* list = OS_MISC_get_disapp_list();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list, OS_MISC_get_disapp_list());
    EXPECT_EQ(ZPALIST_count(list), 0);
}

}  // namespace
