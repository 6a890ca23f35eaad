// The agent daily log: one file a day, one line per message with its table text, whole or not at
// all.
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>

#include "concurrency.h"
#include "gm_log.h"
#include "gm_param.h"
#include "joined.h"
#include "testbed.h"

namespace {

class DailyLogTest : public testbed::AgentHomeTest {
protected:
    void TearDown() override { GM_PARAM_clear(); }

    // Name and content of the one daily-log file ("" when there is none).
    std::pair<std::string, std::string> daily_log() const {
        for (const auto& entry : std::filesystem::directory_iterator(home.path() + "/dailylog"))
            return {entry.path().filename().string(), testbed::read_whole_file(entry.path().string())};
        return {"", ""};
    }
};

}  // namespace

TEST_F(DailyLogTest, LineHoldsDateTimeIdAndFormattedText) {
    home.write_file("data/MSGTBL.dat", "7 Job %s ended with code %d   \n");
    ASSERT_EQ(GM_LOG_write_msg("7", "PAYROLL", 3), CM_RC_OK);
    ASSERT_EQ(GM_LOG_write_msg("7", "BILLING", 0), CM_RC_OK);

    const auto [name, content] = daily_log();
    std::smatch file;
    ASSERT_TRUE(std::regex_match(name, file, std::regex(R"(daily_orvag_\d{4}(\d{4})\.log)"))) << name;
    const std::string mmdd = file[1];
    const auto lines = testbed::lines_of(content);
    ASSERT_EQ(lines.size(), 2u) << content;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(mmdd + R"( \d{6}   7 Job PAYROLL ended with code 3)")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(mmdd + R"( \d{6}   7 Job BILLING ended with code 0)")))
        << lines[1];
}

TEST_F(DailyLogTest, NumericIdsAreRightAlignedOthersWrittenAsGiven) {
    home.write_file("data/MSGTBL.dat", "7 seven\nABC letters\n0041 upgrade\n1234 wide\n");
    struct Case {
        const char* id;
        const char* written;
    };
    for (const Case c :
         {Case{"7", "  7 seven"}, Case{"ABC", "ABC letters"}, Case{"0041", " 41 upgrade"}, Case{"1234", "1234 wide"}}) {
        ASSERT_EQ(GM_LOG_write_msg(c.id), CM_RC_OK) << c.id;
        const std::string last = testbed::lines_of(daily_log().second).back();
        EXPECT_EQ(last.substr(12), c.written) << c.id;
    }
}

TEST_F(DailyLogTest, SwitchedOffOrUnknownMessageWritesNothing) {
    home.write_file("data/MSGTBL.dat", "7 seven\n");
    EXPECT_EQ(GM_LOG_write_msg("8"), CM_RC_FAIL);
    EXPECT_EQ(daily_log().first, "");

    home.write_file("data/CONFIG.dat", "AG_LOG_ON no\n");
    EXPECT_EQ(GM_LOG_write_msg("7"), CM_RC_OK);
    EXPECT_EQ(daily_log().first, "");
}

TEST_F(DailyLogTest, LongMessageTextIsCutAndReportedAsCut) {
    home.write_file("data/MSGTBL.dat", "9 " + std::string(1500, 'm') + "\n");
    char format[1024];
    EXPECT_EQ(GM_LOG_read_msgfrmt("9", format, sizeof format), GM_LOG_RC_TRUNCATED);
    EXPECT_EQ(std::string(format), std::string(1023, 'm'));
    EXPECT_EQ(GM_LOG_read_msgfrmt("nope", format, sizeof format), CM_RC_END);

    ASSERT_EQ(GM_LOG_write_msg("9"), CM_RC_OK);
    EXPECT_EQ(testbed::lines_of(daily_log().second).back().substr(12), "  9 " + std::string(1023, 'm'));
}

// Writers of several processes and threads at once, up to a file-size limit that cuts some of their
// lines short: the file holds whole lines only, and exactly as many as the writers were told went
// in (a line cut back is never one another thread wrote meanwhile).
TEST_F(DailyLogTest, WritersAtOnceUpToAFileSizeLimitLeaveExactlyTheLinesTheyWereToldWentIn) {
    home.write_file("data/MSGTBL.dat", "7 Job %s ended with code %d\n");
    constexpr int kProcesses = 4, kThreads = 4, kMessages = 60;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        std::filesystem::remove_all("dailylog");
        std::filesystem::create_directory("dailylog");
        std::once_flag limited;
        ASSERT_TRUE(testbed::run_in_threads_and_processes(kProcesses, kThreads, [&](int p, int t) {
            std::call_once(limited, [] {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{16000, 16000};
                setrlimit(RLIMIT_FSIZE, &limit);
            });
            int written = 0;
            for (int i = 0; i < kMessages; ++i) {
                // Lines of different lengths, so that short ones still fit where long ones are cut.
                const std::string job = testbed::joined("P", p, "T", t, std::string(i % 7, 'x'));
                if (GM_LOG_write_msg("7", job.c_str(), i) == CM_RC_OK) ++written;
            }
            std::ofstream(testbed::joined("temp/written_", p, "_", t)) << written;
            return true;
        }));
        int told = 0;
        for (int p = 0; p < kProcesses; ++p)
            for (int t = 0; t < kThreads; ++t)
                told += std::stoi(home.read_file("temp/written_" + std::to_string(p) + "_" + std::to_string(t)));
        const std::string content = daily_log().second;
        ASSERT_FALSE(content.empty());
        EXPECT_EQ(content.back(), '\n');
        const auto lines = testbed::lines_of(content);
        EXPECT_EQ(static_cast<int>(lines.size()), told);
        EXPECT_LT(told, kProcesses * kThreads * kMessages);  // the limit cut some short
        const std::regex whole(R"(\d{4} \d{6}   7 Job P\dT\dx* ended with code \d+)");
        for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, whole)) << line;
    }
}
