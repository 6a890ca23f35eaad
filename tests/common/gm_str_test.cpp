// Text functions: number checks with their standard-error lines, field and word splitting, the
// arithmetic text, cut and padding rules, trimming.
#include "gm_str.h"

#include <cstdio>
#include <string>
#include <thread>

#include "os_diag.h"
#include "testbed.h"

using testbed::AgentHomeTest;
using testbed::StderrCapture;

TEST(GmStr, IsNumberAcceptsAnOptionalSignFollowedByDigits) {
    struct Case {
        const char* text;
        CM_RC rc;
    };
    const Case cases[] = {
        {"123", 1}, {"+7", 1},  {"-0042", 1}, {"-", 1},  {"+", 1},   {"", 2},
        {" 1", 2},  {"1.5", 2}, {"12a", 2},   {"1 ", 2}, {"--1", 2},
    };
    for (const auto& c : cases) {
        StderrCapture err;
        EXPECT_EQ(GM_STR_isnumber(c.text), c.rc) << "'" << c.text << "'";
        std::string want = c.rc == 1 ? "" : std::string(c.text) + " is not valid number\n";
        EXPECT_EQ(err.text(), want) << "'" << c.text << "'";
    }
}

TEST(GmStr, IsUnsignedNumberRefusesNegativeValuesWithItsOwnLine) {
    struct Case {
        const char* text;
        CM_RC rc;
        const char* err;
    };
    const Case cases[] = {
        {"0", 1, ""},
        {"-0", 1, ""},
        {"-000", 1, ""},
        {"42", 1, ""},
        {"99999999999999999999999", 1, ""},  // too large for any integer, still not negative
        {"-5", 2, "-5 is not a positive number\n"},
        {"-99999999999999999999999", 2, "-99999999999999999999999 is not a positive number\n"},
        {"x", 2, "x is not valid number\nx is not a positive number\n"},
    };
    for (const auto& c : cases) {
        StderrCapture err;
        EXPECT_EQ(GM_STR_isunsignednumber(c.text), c.rc) << c.text;
        EXPECT_EQ(err.text(), c.err) << c.text;
    }
}

TEST(GmStr, NthFieldTreatsARunOfDelimitersAsOne) {
    struct Case {
        const char* line;
        int field;
        char delimiter;
        int room;
        CM_RC rc;
        const char* want;
    };
    const Case cases[] = {
        {"a,,b", 2, ',', 10, 1, "b"},   {",a", 1, ',', 10, 1, ""},
        {",a", 2, ',', 10, 1, "a"},     {"a,b", 3, ',', 10, 2, ""},
        {"a,", 2, ',', 10, 1, ""},  // a trailing delimiter leaves an empty last field
        {"", 1, ',', 10, 1, ""},        {"one\\two\\three", 3, '\\', 10, 1, "three"},
        {"abcd,e", 1, ',', 4, 2, ""},  // a field as long as the room does not fit its terminator
        {"abc,e", 1, ',', 4, 1, "abc"}, {"a,b", 0, ',', 10, 2, ""},
        {"a,b", -1, ',', 10, 2, ""},    {"a,b", 1, '\0', 10, 1, "a,b"},
        {"a,b", 2, '\0', 10, 2, ""},
    };
    for (const auto& c : cases) {
        char out[16] = "garbage";
        EXPECT_EQ(GM_STR_get_nth_field(c.line, c.field, c.delimiter, out, c.room), c.rc) << c.line << " #" << c.field;
        EXPECT_STREQ(out, c.want) << c.line << " #" << c.field;
    }
    char out[4];
    EXPECT_EQ(GM_STR_get_nth_field(nullptr, 1, ',', out, 4), CM_RC_FAIL);
    EXPECT_EQ(GM_STR_get_nth_field("a", 1, ',', nullptr, 4), CM_RC_FAIL);
    EXPECT_EQ(GM_STR_get_nth_field("a", 1, ',', out, 0), CM_RC_FAIL);
}

TEST_F(AgentHomeTest, MissingFieldIsTracedWithTheNumberOfFieldsThereAre) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    char out[8];
    EXPECT_EQ(GM_STR_get_nth_field("a,b", 3, ',', out, sizeof out), CM_RC_FAIL);
    std::string log = testbed::read_diag_log("Oebs_CM");
    EXPECT_NE(log.find("field 3 doesn't exist. there are only 2 fields\n\tLine - 'a,b'"), std::string::npos) << log;
}

TEST(GmStr, MathReplacesTheTextByTheResult) {
    struct Case {
        const char* text;
        const char* want;
    };
    const Case cases[] = {
        {"7 / 2", "3.500000"},
        {"6 * 7", "42"},
        {"5 - 8", "-3"},
        {"0.25 + 0.5", "0.750000"},
        {"1 / 0", "DIV BY ZERO"},
        {"1e19 * 2", "OVER FLOW"},
        {"2 * 1e19", "OVER FLOW"},
        {"1e300 + 1", "OVER FLOW"},  // its digits would not fit the text's room
        {"1e19 + 1", "10000000000000000000.000000"},
        {"1 % 2", "1 % 2"},  // unknown operator: the text stays
        {"7", "7"},          // not three words: the text stays
        {"4 +plus 4", "8"},  // the operator's first character selects it
    };
    for (const auto& c : cases) {
        char text[GM_STR_MATH_MAX + 1];
        std::snprintf(text, sizeof text, "%s", c.text);
        EXPECT_EQ(GM_STR_math(text), 0.0);
        EXPECT_STREQ(text, c.want) << c.text;
    }
}

TEST(GmStr, TrailingBlanksAreIgnoredByLengthAndComparison) {
    char padded[] = "ab c   ";
    EXPECT_STREQ(GM_STR_unpad(padded), "ab c");
    char blanks[] = "   ";
    EXPECT_STREQ(GM_STR_unpad(blanks), "");
    char tab[] = "a\t";
    EXPECT_STREQ(GM_STR_unpad(tab), "a\t");  // a blank is the space character only
    EXPECT_EQ(GM_STR_unpad(nullptr), nullptr);
    EXPECT_EQ(GM_STRlen("abc  "), 3);
    EXPECT_EQ(GM_STRlen(nullptr), 0);

    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const Case cases[] = {
        {"ab", "abc", -1}, {"abc", "ab", 1}, {"abc  ", "abc", 0}, {"abc", "abd", -1},
        {"b", "abc", 1},   {"", "  ", 0},    {"\xe9", "a", 1},    {"a ", "a\t", -1},
    };
    for (const auto& c : cases) {
        int r = GM_STRcmp(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << "'" << c.a << "' vs '" << c.b << "'";
    }
}

TEST(GmStr, BlankTestsCountOnlyTheSpaceCharacter) {
    EXPECT_EQ(GM_STR_all_blanks(""), 1);
    EXPECT_EQ(GM_STR_all_blanks("   "), 1);
    EXPECT_EQ(GM_STR_all_blanks(" \t"), 0);
    EXPECT_EQ(GM_STR_all_blanks(nullptr), 0);
    EXPECT_EQ(GM_STR_contain_blank("a b"), 1);
    EXPECT_EQ(GM_STR_contain_blank("a\tb"), 0);
    EXPECT_EQ(GM_STR_contain_blank(nullptr), 0);
}

TEST(GmStr, CaseConversionIsInPlaceAndLeavesOtherBytes) {
    char text[] = "Ab1_z\xe9";
    EXPECT_STREQ(GM_STR_toupper(text), "AB1_Z\xe9");
    EXPECT_STREQ(GM_STR_tolower(text), "ab1_z\xe9");
}

TEST(GmStr, SubstrCutsBetweenIndexesUpTo290Characters) {
    struct Case {
        const char* source;
        unsigned start, end;
        std::string want;
    };
    const std::string long_text(400, 'x');
    const Case cases[] = {
        {"abcdef", 1, 3, "bc"},
        {"abcdef", 2, 100, "cdef"},
        {"abcdef", 6, 9, ""},
        {"abcdef", 7, 9, ""},
        {"abcdef", 4, 2, ""},
        {"abcdef", 0, 6, "abcdef"},
        {long_text.c_str(), 0, 400, std::string(290, 'x')},
    };
    for (const auto& c : cases) EXPECT_EQ(GM_STR_substr(c.source, c.start, c.end), c.want) << c.start << ".." << c.end;
}

TEST(GmStr, GetWordSkipsEmptyWordsAndGivesEmptyTextBeyondTheLast) {
    struct Case {
        const char* text;
        int count;
        const char* seps;
        std::string want;
    };
    const Case cases[] = {
        {"  one  two,three", 1, " ,", "one"},
        {"  one  two,three", 2, " ,", "two"},
        {"  one  two,three", 3, " ,", "three"},
        {"  one  two,three", 4, " ,", ""},
        {"one", 0, " ", ""},
        {"one two", 1, "", "one two"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GM_STR_get_word(c.text, c.count, c.seps), c.want) << c.text << " #" << c.count;
    // Only the first 999 characters of the text are split.
    std::string text = std::string(997, 'a') + " bcdef";
    EXPECT_STREQ(GM_STR_get_word(text.c_str(), 2, " "), "b");
}

TEST(GmStr, ResultBuffersBelongToTheCallingThread) {
    const char* mine = GM_STR_substr("mine", 0, 4);
    const char* word = GM_STR_get_word("my word", 2, " ");
    std::thread other([] {
        GM_STR_substr("theirs", 0, 6);
        GM_STR_get_word("their text", 2, " ");
    });
    other.join();
    EXPECT_STREQ(mine, "mine");
    EXPECT_STREQ(word, "word");
}

TEST(GmStr, ExtensionIsCutToTheBufferSize) {
    struct Case {
        const char* name;
        unsigned size;
        const char* want;
    };
    const Case cases[] = {
        {"job.script.sh", 10, "sh"}, {"report.text", 3, "te"}, {"noext", 10, ""}, {"trailing.", 10, ""}, {"a.b", 1, ""},
    };
    for (const auto& c : cases) {
        char ext[16] = "untouched";
        GM_STR_get_extention(c.name, ext, c.size);
        EXPECT_STREQ(ext, c.want) << c.name << " size " << c.size;
    }
    char ext[4] = "abc";
    GM_STR_get_extention("x.yz", ext, 0);
    EXPECT_STREQ(ext, "abc");
}

TEST(GmStr, BackslashHelpersEscapeBlanksAndDoubleSeparators) {
    char target[64];
    EXPECT_STREQ(GM_STR_bckslsh_blnk("a b  ", target), "a\\ b");
    EXPECT_EQ(GM_STR_bckslsh_blnk(nullptr, target), nullptr);
    EXPECT_EQ(GM_STR_bckslsh_blnk("a", nullptr), nullptr);

    struct Case {
        const char* source;
        const char* want;
    };
    const Case cases[] = {
        {"dir\\sub\\file", "dir\\\\sub\\\\file\\\\"},
        {"dir\\\\file", "dir\\\\file\\\\"},
        {"plain", "plain\\\\"},
    };
    for (const auto& c : cases) {
        target[0] = '\0';
        EXPECT_STREQ(GM_STR_bckslsh_2double(c.source, target), c.want) << c.source;
    }
    // A first field too long to copy leaves the target empty, so it receives the source itself.
    std::string huge = std::string(3000, 'q') + "\\x";
    std::string room(huge.size() + 1, '\0');
    EXPECT_EQ(std::string(GM_STR_bckslsh_2double(huge.c_str(), room.data())), huge);
}

TEST(GmStr, TrimFunctionsShiftOrCutInPlace) {
    struct Case {
        CM_RC (*fn)(char*, const char*);
        const char* text;
        const char* stop;
        CM_RC rc;
        const char* want;
    };
    const Case cases[] = {
        {GM_STR_trim_leading_until_char, "xx=value", "=:", 1, "=value"},
        {GM_STR_trim_leading_until_char, "xx:a=b", "=:", 1, ":a=b"},
        {GM_STR_trim_leading_until_char, "nothing", "=", 1, "nothing"},
        {GM_STR_trim_leading_until_char, "a=b", "", 1, "a=b"},
        {GM_STR_trim_trailing_until_char, "path/to/file", "/", 1, "path/to/"},
        {GM_STR_trim_trailing_until_char, "nothing", "/", 1, "nothing"},
        {GM_STR_trim_trailing_until_char, "a/b", "", 1, "a/b"},
    };
    for (const auto& c : cases) {
        char text[32];
        std::snprintf(text, sizeof text, "%s", c.text);
        EXPECT_EQ(c.fn(text, c.stop), c.rc) << c.text;
        EXPECT_STREQ(text, c.want) << c.text;
    }
    char text[] = "a";
    EXPECT_EQ(GM_STR_trim_leading_until_char(nullptr, "="), CM_RC_FAIL);
    EXPECT_EQ(GM_STR_trim_leading_until_char(text, nullptr), CM_RC_FAIL);
    EXPECT_EQ(GM_STR_trim_trailing_until_char(nullptr, "="), CM_RC_FAIL);
    EXPECT_EQ(GM_STR_trim_trailing_until_char(text, nullptr), CM_RC_FAIL);

    char spaced[] = " \t\n\r\v\fword ";
    EXPECT_EQ(GM_STR_trim_leading_spaces(spaced), CM_RC_OK);
    EXPECT_STREQ(spaced, "word ");
    EXPECT_EQ(GM_STR_trim_leading_spaces(nullptr), CM_RC_FAIL);
}

TEST(GmStr, FgetsLineEndsEachLineAtItsNewline) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fputs("first\nsecond", f);
    std::rewind(f);
    char line[32];
    EXPECT_EQ(GM_STR_fgets_line(f, line, sizeof line), CM_RC_OK);
    EXPECT_STREQ(line, "first");
    EXPECT_EQ(GM_STR_fgets_line(f, line, sizeof line), CM_RC_OK);
    EXPECT_STREQ(line, "second");
    EXPECT_EQ(GM_STR_fgets_line(f, line, sizeof line), CM_RC_FAIL);
    EXPECT_EQ(GM_STR_fgets_line(f, line, 1), CM_RC_FAIL);
    std::fclose(f);
}
