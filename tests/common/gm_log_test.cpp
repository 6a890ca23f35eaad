// The agent daily log: one file a day, one line per message with its table text.
#include <filesystem>
#include <regex>
#include <string>

#include "gm_log.h"
#include "gm_param.h"
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
