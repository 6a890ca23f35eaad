#include "os_diag.h"

#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <utime.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "concurrency.h"
#include "joined.h"
#include "os_diag_internal.h"
#include "testbed.h"

using testbed::AgentHomeTest;

namespace {

// The text between two markers of a critical-error report.
std::string section(const std::string& log, const std::string& start, const std::string& end) {
    const size_t from = log.find(start);
    const size_t to = log.find(end, from);
    if (from == std::string::npos || to == std::string::npos) return "<missing>";
    return log.substr(from + start.size(), to - from - start.size());
}

std::string active_half(const std::string& log) {
    return section(log, ">>> Start dump active buffer\n", ">>> End dump active buffer\n");
}

std::string other_half(const std::string& log) {
    return section(log, ">>> Start dump non active buffer\n", ">>> End dump non active buffer\n");
}

size_t count_of(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

void grow_to_rotation_size(const std::string& path) { ASSERT_EQ(truncate(path.c_str(), 10485760 + 1), 0) << path; }

}  // namespace

TEST_F(AgentHomeTest, LinesAtOrBelowTheDebugLevelReachTheProcessLog) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    DIAG_TRACE(4, "written %d", 4);
    DIAG_TRACE(5, "dropped %d", 5);
    std::string log = testbed::read_diag_log("Oebs_CM");
    EXPECT_NE(log.find("Oebs_CM:written 4"), std::string::npos);
    EXPECT_EQ(log.find("dropped"), std::string::npos);
}

TEST_F(AgentHomeTest, OutOfRangeDebugLevelWarnsOnStandardErrorAndBecomesZero) {
    testbed::StderrCapture err;
    DIAG_set_debug_level(7);
    EXPECT_EQ(DIAG_debug_level(), 0);
    EXPECT_EQ(err.text(), "Warning: debug level 7 is not in the range of 0-6.\nIt will be set to 0 by default.\n");
}

TEST_F(AgentHomeTest, EachLevelSetterNamesItsLevelWhenRefusingAValue) {
    struct Case {
        void (*set)(int);
        int (*get)();
        int value;
        const char* warning;
    } cases[] = {
        {DIAG_set_active_level, DIAG_active_level, -1, "Warning: active debug level -1 is not in the range of 0-6.\n"},
        {DIAG_set_buffered_level, DIAG_buffered_level, 9,
         "Warning: buffered debug level 9 is not in the range of 0-6.\n"},
        {DIAG_set_debug_level, DIAG_debug_level, 6, ""},
        {DIAG_set_buffered_level, DIAG_buffered_level, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.warning);
        c.set(3);
        testbed::StderrCapture err;
        c.set(c.value);
        const bool refused = *c.warning != '\0';
        EXPECT_EQ(c.get(), refused ? 0 : c.value);
        EXPECT_EQ(err.text(), refused ? std::string(c.warning) + "It will be set to 0 by default.\n" : "");
    }
}

TEST_F(AgentHomeTest, SlotZeroOfTheSecondSetterSetsEverySlot) {
    DIAG_set_debug_level2(3, 0);
    for (int slot : {0, 1, 31}) EXPECT_EQ(DIAG_debug_level2(slot), 3);
    DIAG_set_debug_level2(5, 7);
    EXPECT_EQ(DIAG_debug_level2(7), 5);
    EXPECT_EQ(DIAG_debug_level(), 3);
    DIAG_set_debug_level2(6, 32);
    EXPECT_EQ(DIAG_debug_level2(32), 0);
    EXPECT_EQ(DIAG_debug_level2(-1), 0);
}

TEST_F(AgentHomeTest, LineCarriesTimeProcessNameAndTheTextUnchanged) {
    OS_DIAG_initialize("ignored.log", "Oebs_CM");
    DIAG_set_debug_level(1);
    DIAG_print_text("100%s done %d");
    DIAG_printf("%s=%d", "rc", 2);
    const std::string log = testbed::read_diag_log("Oebs_CM");
    EXPECT_TRUE(std::regex_match(log, std::regex(R"(\d{4} \d\d:\d\d:\d\d:\d{3} Oebs_CM:100%s done %d
\d{4} \d\d:\d\d:\d\d:\d{3} Oebs_CM:rc=2
)"))) << log;
    EXPECT_FALSE(home.exists("ignored.log"));
}

// A formatted text is kept whole up to 32767 characters, whether it is short or long, and as a
// C text it ends at a NUL that a "%c" put in.
TEST_F(AgentHomeTest, FormattedTextIsWholeUpToItsLimitAndEndsAtANul) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(1);
    std::string expected;
    for (size_t length : {511, 512, 513, 32767, 40000}) {
        const std::string text(length, 't');
        DIAG_printf("%s", text.c_str());
        expected += "Oebs_CM:" + text.substr(0, 32767) + "\n";
    }
    DIAG_printf("a%cb", 0);
    expected += "Oebs_CM:a\n";
    EXPECT_EQ(testbed::read_diag_log_texts("Oebs_CM"), expected);
}

// The time of a line is read for every line: a line of a new second does not carry the last one's.
TEST_F(AgentHomeTest, LineOfANewSecondCarriesItsTime) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(1);
    auto second_text = [](time_t when) {
        struct tm parts {};
        localtime_r(&when, &parts);
        char text[32];
        std::strftime(text, sizeof text, "%m%d %H:%M:%S", &parts);
        return std::string(text);
    };
    // time() reads the coarse clock, which can stay on the last second for a few milliseconds after the
    // line's clock has moved on: read the clock the line reads.
    auto now = [] {
        timespec reading{};
        clock_gettime(CLOCK_REALTIME, &reading);
        return reading.tv_sec;
    };
    std::vector<std::string> allowed;
    for (int line = 0; line < 2; ++line) {
        const time_t start = now();
        while (line > 0 && now() == start) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const time_t before = now();
        DIAG_printf("line %d", line);
        const time_t after = now();
        allowed.push_back(second_text(before) + "|" + second_text(after));
    }
    const std::vector<std::string> lines = testbed::lines_of(testbed::read_diag_log("Oebs_CM"));
    ASSERT_EQ(lines.size(), 2u);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string stamp = lines[i].substr(0, 13);
        EXPECT_NE(allowed[i].find(stamp), std::string::npos) << lines[i] << " / " << allowed[i];
    }
}

TEST_F(AgentHomeTest, NothingIsWrittenBeforeTheLogIsInitialised) {
    DIAG_set_debug_level(4);
    DIAG_ERROR("early error");
    DIAG_TRACE(4, "early trace");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_ERROR("late error");
    EXPECT_EQ(testbed::read_diag_log_texts("Oebs_CM"), "Oebs_CM:late error\n");
}

TEST_F(AgentHomeTest, ErrorLineAtATraceLevelIsAnOrdinaryLine) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    DIAG_ERROR("failed %d", 7);
    EXPECT_EQ(testbed::read_diag_log_texts("Oebs_CM"), "Oebs_CM:failed 7\n");
    EXPECT_EQ(DIAG_debug_level(), 4);
}

TEST_F(AgentHomeTest, RingIsWrittenOutOnFirstErrorLine) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(0);
    DIAG_set_buffered_level(5);
    for (int level = 1; level <= 6; ++level) DIAG_TRACE(level, "trace at %d", level);
    EXPECT_FALSE(home.exists(testbed::diag_log_path("Oebs_CM")));

    DIAG_ERROR("boom %d", 1);
    const std::string log = testbed::read_diag_log_texts("Oebs_CM");
    EXPECT_NE(log.find(": Orvanta/Agent has encountered the following critical error:\n\nOebs_CM:boom 1\n\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(active_half(log),
              "Oebs_CM:trace at 1\nOebs_CM:trace at 2\nOebs_CM:trace at 3\nOebs_CM:trace at 4\n"
              "Oebs_CM:trace at 5\nOebs_CM:boom 1\n");
    EXPECT_EQ(other_half(log), "");
    EXPECT_NE(log.find("\nFull debug log containing the error:\n\n"), std::string::npos);
    EXPECT_TRUE(
        log.ends_with(">>> End dump active buffer\n\nContinue generating debug information. "
                      "Debug level will reset in 600 seconds.\n\n"))
        << log;
    EXPECT_EQ(DIAG_debug_level(), 5);

    // At the raised level lines are written as they come, and a further error makes no report.
    DIAG_TRACE(5, "after");
    DIAG_ERROR("boom %d", 2);
    const std::string later = testbed::read_diag_log_texts("Oebs_CM");
    EXPECT_TRUE(later.ends_with("seconds.\n\nOebs_CM:after\nOebs_CM:boom 2\n")) << later;
    EXPECT_EQ(count_of(later, "critical error"), 1u);
}

TEST_F(AgentHomeTest, BufferedLevelZeroProducesNoTraceButErrorsStillReport) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(0);
    DIAG_set_buffered_level(0);
    DIAG_TRACE(1, "not produced");
    DIAG_ERROR("alone");
    const std::string log = testbed::read_diag_log_texts("Oebs_CM");
    EXPECT_EQ(active_half(log), "Oebs_CM:alone\n");
    EXPECT_EQ(log.find("not produced"), std::string::npos);
    EXPECT_EQ(DIAG_debug_level(), 0);
    // Still at level 0: the next error writes a second report with a fresh ring.
    DIAG_ERROR("again");
    const std::string twice = testbed::read_diag_log_texts("Oebs_CM");
    EXPECT_EQ(count_of(twice, "critical error"), 2u);
    EXPECT_EQ(active_half(twice.substr(twice.rfind("critical error"))), "Oebs_CM:again\n");
}

TEST_F(AgentHomeTest, RingSwitchesHalvesAndTheReportShowsTheOlderHalfFirst) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(0);
    const std::string pad(200, '.');
    for (int i = 0; i < 400; ++i) DIAG_TRACE(4, "line %04d %s", i, pad.c_str());
    DIAG_ERROR("the error");
    const std::string raw = testbed::read_diag_log("Oebs_CM");
    ASSERT_LE(other_half(raw).size(), 32767u);
    ASSERT_LE(active_half(raw).size(), 32767u);
    // The older half was filled until the next line no longer fitted.
    EXPECT_GT(other_half(raw).size(), 32767u - 300);
    const std::string log = testbed::strip_diag_times(raw);
    const std::string older = other_half(log), newer = active_half(log);
    // Both halves hold whole lines; numbers rise from the older half through the newer one and
    // the error is the last line; the earliest lines were overwritten.
    std::vector<int> numbers;
    for (const std::string& line : testbed::lines_of(older + newer)) {
        if (line == "Oebs_CM:the error") continue;
        ASSERT_EQ(line.substr(line.size() - pad.size()), pad);
        numbers.push_back(std::stoi(line.substr(line.find("line ") + 5, 4)));
    }
    ASSERT_FALSE(numbers.empty());
    EXPECT_GT(numbers.front(), 0);
    EXPECT_EQ(numbers.back(), 399);
    for (size_t i = 1; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], numbers[i - 1] + 1);
    EXPECT_TRUE(newer.ends_with("Oebs_CM:the error\n"));
}

TEST_F(AgentHomeTest, LineLongerThanAHalfIsCutToFitIt) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(0);
    const std::string huge(40000, 'x');
    DIAG_set_active_level(4);
    DIAG_print_text(huge.c_str());
    DIAG_set_active_level(0);
    DIAG_ERROR("after the long line");
    const std::string log = testbed::read_diag_log("Oebs_CM");
    const std::string older = other_half(log);
    EXPECT_EQ(older.size(), 32767u);
    EXPECT_TRUE(older.ends_with("xxx\n"));
    EXPECT_TRUE(active_half(log).ends_with("Oebs_CM:after the long line\n"));
}

TEST_F(AgentHomeTest, NewLogGetsMode0644AndTheOwnerOfTheHome) {
    ASSERT_EQ(chown(".", 65534, 65534), 0);
    const mode_t old_mask = umask(077);
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    DIAG_ERROR("created");
    umask(old_mask);
    struct stat status;
    ASSERT_EQ(stat(testbed::diag_log_path("Oebs_CM").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
    EXPECT_EQ(status.st_uid, 65534u);
    EXPECT_EQ(status.st_gid, 65534u);
}

TEST_F(AgentHomeTest, ExistingLogKeepsItsMode) {
    const std::string path = testbed::diag_log_path("Oebs_CM");
    testbed::write_whole_file(path, "old\n");
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    DIAG_ERROR("appended");
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(testbed::read_diag_log_texts("Oebs_CM"), "old\nOebs_CM:appended\n");
}

TEST_F(AgentHomeTest, ReportSaysWhyTheInstalledVersionsAreMissing) {
    struct passwd* nobody = getpwuid(65534);
    ASSERT_NE(nobody, nullptr);
    const std::string nobody_file = std::string(nobody->pw_dir) + "/installed-versions.txt";
    ASSERT_NE(access(nobody_file.c_str(), F_OK), 0);
    struct Case {
        uid_t owner;
        std::string reason;
    } cases[] = {
        {65534, "failed to open input file '" + nobody_file + "'\n"},
        {54321, "failed to get agent directory\n"},  // a user id without an entry
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.owner);
        ASSERT_EQ(getpwuid(54321), nullptr);
        ASSERT_EQ(chown(".", c.owner, 0), 0);
        std::remove(testbed::diag_log_path("Oebs_CM").c_str());
        OS_DIAG_initialize(nullptr, "Oebs_CM");
        DIAG_set_debug_level(0);
        DIAG_ERROR("boom");
        const std::string log = testbed::read_diag_log_texts("Oebs_CM");
        EXPECT_NE(log.find("Oebs_CM:boom\n\n" + c.reason + "\nFull debug log containing the error:\n\n"),
                  std::string::npos)
            << log;
    }
}

TEST_F(AgentHomeTest, ConcurrentThreadsLoseAndTearNoLines) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    constexpr int kThreads = 4, kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            const std::string payload(100 + 37 * t, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                DIAG_TRACE(4, "thread %d line %d %s", t, i, payload.c_str());
                DIAG_TRACE(5, "never");
            }
        });
    for (std::thread& thread : threads) thread.join();
    int next[kThreads] = {};
    for (const std::string& line : testbed::lines_of(testbed::read_diag_log_texts("Oebs_CM"))) {
        int t = -1, i = -1;
        char rest[512] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "Oebs_CM:thread %d line %d %511s", &t, &i, rest), 3) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        EXPECT_EQ(i, next[t]++) << line;
        EXPECT_EQ(std::string(rest), std::string(100 + 37 * t, static_cast<char>('a' + t)));
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines);
}

TEST_F(AgentHomeTest, ConcurrentThreadsFillTheRingWithWholeLines) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) DIAG_TRACE(4, "thread %d line %d end", t, i);
        });
    for (std::thread& thread : threads) thread.join();
    DIAG_ERROR("done");
    const std::string log = testbed::read_diag_log_texts("Oebs_CM");
    for (const std::string& line : testbed::lines_of(other_half(log) + active_half(log)))
        EXPECT_TRUE(std::regex_match(line, std::regex("Oebs_CM:(thread [0-3] line \\d+ end|done)"))) << line;
}

// Lines logged together are, line by line, what single lines would be: written at or below the
// debug level, kept in the ring at debug level 0; as error lines at debug level 0 the first writes
// the critical-error report and raises the level, and the rest follow it as ordinary lines.
TEST_F(AgentHomeTest, LinesLoggedTogetherFollowTheRulesOfSingleLines) {
    struct Case {
        int debug, active;
        const char* file;  // the log's texts after the lines, nullptr: no log file
        const char* ring;  // the active half of the report of a following error line, or nullptr
        int level_after;
    } const cases[] = {
        {4, 4, "Oebs_CM:one\nOebs_CM:\ttwo\n", nullptr, 4},
        {3, 4, nullptr, nullptr, 3},
        {0, 4, nullptr, "Oebs_CM:one\nOebs_CM:\ttwo\nOebs_CM:error\n", 5},
        {0, 0, nullptr, nullptr, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.debug) + "/" + std::to_string(c.active));
        std::remove(testbed::diag_log_path("Oebs_CM").c_str());
        OS_DIAG_initialize(nullptr, "Oebs_CM");
        DIAG_set_debug_level(c.debug);
        DIAG_set_buffered_level(5);
        DIAG_set_active_level(c.active);
        os_diag::Lines lines;
        lines.add("one");
        lines.add({"\t", "tw", "o"});
        lines.print();
        DIAG_set_active_level(0);
        const std::string log = testbed::read_diag_log_texts("Oebs_CM");
        if (c.debug == 0 && c.active == 0) {
            EXPECT_NE(log.find("critical error:\n\nOebs_CM:one\n\n"), std::string::npos) << log;
            EXPECT_EQ(active_half(log), "Oebs_CM:one\n");
            EXPECT_TRUE(log.ends_with("seconds.\n\nOebs_CM:\ttwo\n")) << log;
        } else if (c.file) {
            EXPECT_EQ(log, c.file);
        } else {
            EXPECT_FALSE(home.exists(testbed::diag_log_path("Oebs_CM")));
        }
        if (c.ring) {
            DIAG_ERROR("error");
            EXPECT_EQ(active_half(testbed::read_diag_log_texts("Oebs_CM")), c.ring);
        }
        EXPECT_EQ(DIAG_debug_level(), c.level_after);
    }
}

// The size check falls among lines logged together where it would fall among single lines: the
// hundredth written line is the last one of the rotated log.
TEST_F(AgentHomeTest, TheSizeCheckFallsAmongLinesLoggedTogether) {
    OS_DIAG_initialize(nullptr, "AT");
    DIAG_set_debug_level(4);
    const std::string path = testbed::diag_log_path("AT");
    DIAG_ERROR("first");
    grow_to_rotation_size(path);
    os_diag::Lines lines;
    std::string expected_after;
    for (int i = 0; i < 150; ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "line %03d", i);
        lines.add(text);
        if (i >= 99) expected_after += std::string("AT:") + text + "\n";
    }
    lines.print();
    const std::string rotated = testbed::read_whole_file(path.substr(0, path.size() - 4) + "_01.log");
    EXPECT_TRUE(testbed::strip_diag_times(rotated.substr(rotated.rfind('\0') + 1)).ends_with("AT:line 098\n"));
    EXPECT_EQ(testbed::read_diag_log_texts("AT"), expected_after);
}

// The log stays open from line to line and follows its name, looked at once a second: after the
// file was removed the next line makes a new one (never writing through a link planted in its
// place); after it was renamed away (another writer's rotation) lines go to the file at the name,
// not to the renamed one.
TEST_F(AgentHomeTest, LinesFollowTheLogsNameWhenTheFileIsRemovedOrRenamed) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    const std::string path = testbed::diag_log_path("Oebs_CM");
    const auto a_second_later = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1100)); };
    DIAG_ERROR("first");
    ASSERT_EQ(std::remove(path.c_str()), 0);
    home.write_file("proclog/target", "kept\n");
    ASSERT_EQ(symlink("target", path.c_str()), 0);
    a_second_later();
    DIAG_ERROR("through the link");
    EXPECT_EQ(home.read_file("proclog/target"), "kept\n");
    ASSERT_EQ(std::remove(path.c_str()), 0);
    DIAG_ERROR("after the removal");
    EXPECT_EQ(testbed::read_diag_log_texts("Oebs_CM"), "Oebs_CM:after the removal\n");

    ASSERT_EQ(std::rename(path.c_str(), "proclog/moved.log"), 0);
    a_second_later();
    DIAG_ERROR("after the rename");
    EXPECT_EQ(testbed::read_diag_log_texts("Oebs_CM"), "Oebs_CM:after the rename\n");
    EXPECT_EQ(testbed::strip_diag_times(home.read_file("proclog/moved.log")), "Oebs_CM:after the removal\n");
}

// A forked process writes to the log of the name the log was given, its parent's, until it names
// its own (as a process does at its start-up); the parent's log stays open for the parent.
TEST_F(AgentHomeTest, AForkedProcessWritesItsParentsLogUntilItNamesItsOwn) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    DIAG_ERROR("parent before");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        DIAG_ERROR("child in the parent's log");
        OS_DIAG_initialize(nullptr, "Oebs_CM");
        DIAG_ERROR("child in its own log");
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    DIAG_ERROR("parent after");
    EXPECT_EQ(testbed::read_diag_log_texts("Oebs_CM"),
              "Oebs_CM:parent before\nOebs_CM:child in the parent's log\nOebs_CM:parent after\n");
    EXPECT_EQ(testbed::strip_diag_times(home.read_file("proclog/Oebs_CM_" + std::to_string(child) + ".log")),
              "Oebs_CM:child in its own log\n");
}

// A line that the file cannot take whole (here the file-size limit of the process) leaves no part
// of itself: the file ends with the last whole line, and a later line that fits follows it.
TEST_F(AgentHomeTest, ALineTheFileCannotTakeWholeLeavesNoPartOfItself) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    DIAG_ERROR("before");
    const std::string path = testbed::diag_log_path("Oebs_CM");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct stat status {};
        if (stat(path.c_str(), &status) != 0) _exit(2);
        const rlim_t limit = static_cast<rlim_t>(status.st_size) + 200;
        const struct rlimit size_limit { limit, limit };
        if (setrlimit(RLIMIT_FSIZE, &size_limit) != 0) _exit(3);
        DIAG_ERROR("%s", std::string(500, 'x').c_str());
        DIAG_ERROR("fits");
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(testbed::read_diag_log_texts("Oebs_CM"), "Oebs_CM:before\nOebs_CM:fits\n");
}

// Several threads of several processes write one log at once, over and over, the processes forked
// with the log open or not yet open: every line is whole and in its writer's order, and the lines
// of a dump logged together stay together.
TEST_F(AgentHomeTest, ThreadsOfSeveralProcessesWritingOneLogLeaveOnlyWholeLines) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    constexpr int kProcesses = 3, kThreads = 4, kLines = 150, kDumpLines = 20;
    auto payload = [](int p, int t) { return std::string(1 + (p * kThreads + t) * 97 % 700, 'a' + t); };
    for (int round = 0; round < 4; ++round) {
        const bool open_at_fork = round % 2 == 0;
        SCOPED_TRACE(round);
        std::remove(testbed::diag_log_path("Oebs_CM").c_str());
        OS_DIAG_initialize(nullptr, "Oebs_CM");  // the log of the last round is closed
        if (open_at_fork) DIAG_ERROR("opened");
        ASSERT_TRUE(testbed::run_in_threads_and_processes(kProcesses, kThreads, [&](int p, int t) {
            const std::string text = payload(p, t);
            for (int i = 0; i < kLines; ++i) {
                DIAG_TRACE(4, "p%d t%d line %d %s", p, t, i, text.c_str());
                if (i % 50 != 0) continue;
                os_diag::Lines dump;
                for (int k = 0; k < kDumpLines; ++k) dump.add(testbed::joined("p", p, " t", t, " dump ", k));
                DIAG_set_active_level(4);
                dump.print();
                DIAG_set_active_level(0);
            }
            return true;
        }));
        int next[kProcesses][kThreads] = {};
        int dumped[kProcesses][kThreads] = {};
        int in_dump = -1;  // the writer of the dump being read, as p * kThreads + t
        int dump_line = 0;
        for (const std::string& line : testbed::lines_of(testbed::read_diag_log_texts("Oebs_CM"))) {
            if (line == "Oebs_CM:opened") continue;
            int p = -1, t = -1, n = -1, consumed = 0;
            if (std::sscanf(line.c_str(), "Oebs_CM:p%d t%d dump %d%n", &p, &t, &n, &consumed) == 3 &&
                static_cast<size_t>(consumed) == line.size()) {
                ASSERT_TRUE(p >= 0 && p < kProcesses && t >= 0 && t < kThreads) << line;
                if (n == 0) {
                    ASSERT_EQ(in_dump, -1) << "a dump cut into by another: " << line;
                    in_dump = p * kThreads + t;
                    dump_line = 0;
                }
                ASSERT_EQ(in_dump, p * kThreads + t) << line;
                ASSERT_EQ(n, dump_line++) << line;
                if (dump_line == kDumpLines) {
                    in_dump = -1;
                    ++dumped[p][t];
                }
                continue;
            }
            ASSERT_EQ(in_dump, -1) << "a dump cut into by another: " << line;
            ASSERT_EQ(std::sscanf(line.c_str(), "Oebs_CM:p%d t%d line %d %n", &p, &t, &n, &consumed), 3) << line;
            ASSERT_TRUE(p >= 0 && p < kProcesses && t >= 0 && t < kThreads) << line;
            ASSERT_EQ(line.substr(static_cast<size_t>(consumed)), payload(p, t)) << "p" << p << " t" << t;
            ASSERT_EQ(n, next[p][t]++) << line;
        }
        for (int p = 0; p < kProcesses; ++p)
            for (int t = 0; t < kThreads; ++t) {
                EXPECT_EQ(next[p][t], kLines);
                EXPECT_EQ(dumped[p][t], kLines / 50);
            }
    }
}

TEST_F(AgentHomeTest, OnlyAgentProcessesRotateTheirLog) {
    struct Case {
        const char* name;
        bool rotates;
    } cases[] = {{"AG", true},       {"AT", true},   {"AR", true},    {"WK", true},  {"ATW7x", true},
                 {"Oebs_CM", false}, {"ATW", false}, {"ATWx", false}, {"ag", false}, {"RL", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OS_DIAG_initialize(nullptr, c.name);
        DIAG_set_debug_level(4);
        const std::string path = testbed::diag_log_path(c.name);
        DIAG_ERROR("first");
        grow_to_rotation_size(path);
        for (int i = 0; i < 98; ++i) DIAG_ERROR("more");
        EXPECT_FALSE(home.exists(path.substr(0, path.size() - 4) + "_01.log"));  // 99 lines: not yet
        DIAG_ERROR("hundredth");
        EXPECT_EQ(home.exists(path.substr(0, path.size() - 4) + "_01.log"), c.rotates);
        EXPECT_EQ(home.exists(path), !c.rotates);
    }
}

TEST_F(AgentHomeTest, RotationKeepsTenVersionsNewestFirst) {
    OS_DIAG_initialize(nullptr, "AT");
    DIAG_set_debug_level(4);
    const std::string path = testbed::diag_log_path("AT");
    const std::string base = path.substr(0, path.size() - 4);
    for (int round = 0; round < 12; ++round) {
        DIAG_ERROR("round %02d", round);
        grow_to_rotation_size(path);
        for (int i = 0; i < 99; ++i) DIAG_ERROR("filler");
    }
    auto first_line = [](const std::string& file) {
        const std::string content = testbed::read_whole_file(file);
        return testbed::strip_diag_times(content.substr(0, content.find('\n') + 1));
    };
    EXPECT_FALSE(home.exists(path));
    EXPECT_EQ(first_line(base + "_01.log"), "AT:round 11\n");
    EXPECT_EQ(first_line(base + "_10.log"), "AT:round 02\n");
    EXPECT_FALSE(home.exists(base + "_11.log"));
    DIAG_ERROR("fresh");
    EXPECT_EQ(testbed::read_diag_log_texts("AT"), "AT:fresh\n");
}

TEST_F(AgentHomeTest, DumpMessageNamesTheLogAndWritesTheReport) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(0);
    const char* msg = OS_DIAG_dump_msg();
    EXPECT_EQ(std::string(msg),
              "For more information, see Agent diagnostics dump file " + testbed::diag_log_path("Oebs_CM"));
    const std::string log = testbed::read_diag_log_texts("Oebs_CM");
    EXPECT_EQ(active_half(log), "Oebs_CM:*** QEL Orvanta/Agent diagnostic messages dump ***\n");
}

TEST_F(AgentHomeTest, OldProcessLogsAreDeleted) {
    home.write_file("proclog/old.log", "old");
    home.write_file("proclog/recent.log", "recent");
    struct utimbuf times;
    times.actime = times.modtime = time(nullptr) - 10 * 86400;
    ASSERT_EQ(utime("proclog/old.log", &times), 0);
    EXPECT_EQ(OS_DIAG_delete_proclogs(5, 0), CM_RC_OK);
    EXPECT_FALSE(home.exists("proclog/old.log"));
    EXPECT_TRUE(home.exists("proclog/recent.log"));
    ASSERT_EQ(system("rm -rf proclog"), 0);
    EXPECT_EQ(OS_DIAG_delete_proclogs(5, 0), CM_RC_FAIL);
}

TEST_F(AgentHomeTest, SslTraceLogsAreMovedAsideWithTheTimeOfTheCall) {
    EXPECT_EQ(OS_DIAG_truncate_logs(), CM_RC_DIR_END);  // none there
    home.write_file("proclog/ssl_ag_client.log", "client");
    home.write_file("proclog/ssl_ag_keystore.log", "keystore");
    home.write_file("proclog/ssl_ag_other.log", "other");
    EXPECT_EQ(OS_DIAG_truncate_logs(), CM_RC_OK);
    for (const char* name : {"ssl_ag_client", "ssl_ag_keystore"}) {
        EXPECT_FALSE(home.exists(std::string("proclog/") + name + ".log"));
        bool found = false;
        DIR* dir = opendir("proclog");
        while (struct dirent* e = readdir(dir))
            if (std::regex_match(e->d_name, std::regex(std::string(name) + "_\\d{14}\\.log"))) found = true;
        closedir(dir);
        EXPECT_TRUE(found) << name;
    }
    EXPECT_TRUE(home.exists("proclog/ssl_ag_other.log"));
    ASSERT_EQ(system("rm -rf proclog"), 0);
    EXPECT_EQ(OS_DIAG_truncate_logs(), CM_RC_FAIL);
}

TEST(OsDiag, ReplaceCharChangesEveryOccurrence) {
    char text[] = "a/b/c";
    replaceChar(text, '/', '_');
    EXPECT_STREQ(text, "a_b_c");
    replaceChar(nullptr, '/', '_');
}

TEST(OsDiag, StandardErrorMessageIsOneLineOfAtMost5119Characters) {
    testbed::StderrCapture err;
    OS_MSGERR_display("%s %d", "value", 5);
    const std::string long_text(6000, 'm');
    OS_MSGERR_display("%s", long_text.c_str());
    EXPECT_EQ(err.text(), "value 5\n" + std::string(5119, 'm') + "\n");
}
