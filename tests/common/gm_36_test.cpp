// Fixed-width number fields: base 36 in both alphabets, base 26 and signed base 10, written and
// read back, with the error lines of out-of-range digits.
#include "gm_36.h"

#include <climits>
#include <string>

#include "os_diag.h"
#include "testbed.h"

using testbed::AgentHomeTest;

namespace {

// Runs an encoder into a field surrounded by guard bytes and returns the field; the guards must
// stay untouched (the field is never terminated and never overrun).
template <typename F>
std::string field_of(int width, F encode) {
    std::string buf(static_cast<size_t>(width) + 2, '#');
    EXPECT_EQ(encode(&buf[1]), CM_RC_OK);
    EXPECT_EQ(buf.front(), '#');
    EXPECT_EQ(buf.back(), '#');
    return buf.substr(1, static_cast<size_t>(width));
}

}  // namespace

TEST(Gm36, Base36FieldsKeepTheLowestDigitsRightAligned) {
    struct Case {
        long n;
        int width;
        int reverse;
        const char* want;
    };
    const Case cases[] = {
        {35, 4, 0, "000z"},
        {35, 4, 1, "AAA9"},
        {0, 4, 1, "AAAA"},
        {0, 4, 0, "0000"},
        {-35, 4, 0, "000z"},
        {36, 4, 0, "0010"},
        {36, 4, 1, "AAba"},
        {1679615, 4, 0, "zzzz"},
        {1679616, 4, 0, "0000"},  // 36^4: only the four lowest digits remain
        {46655 + 36 * 36 * 36 * 10, 3, 0, "zzz"},
        {INT_MIN, 7, 0, "0zik0zk"},
    };
    for (const auto& c : cases) {
        if (c.n >= INT_MIN && c.n <= INT_MAX) {
            EXPECT_EQ(
                field_of(c.width,
                         [&](char* b) { return GM_36_int_to_base_36(static_cast<int>(c.n), b, c.width, c.reverse); }),
                c.want)
                << c.n;
        }
        EXPECT_EQ(field_of(c.width, [&](char* b) { return GM_36_long_to_base_36(c.n, b, c.width, c.reverse); }), c.want)
            << c.n;
    }
    EXPECT_EQ(field_of(13, [](char* b) { return GM_36_long_to_base_36(LONG_MIN, b, 13, 0); }), "1y2p0ij32e8e8");
}

TEST(Gm36, Base36TextsReadBackSkippingBlanksInEitherCase) {
    struct Case {
        const char* text;
        int width;
        int reverse;
        int want;
    };
    const Case cases[] = {
        {"000z", 4, 0, 35}, {"AAA9", 4, 1, 35}, {"AAAA", 4, 1, 0}, {"00Z0", 4, 0, 35 * 36},
        {" 1 0", 4, 0, 36}, {"10zz", 2, 0, 36}, {"1", 4, 0, 1},    {"AAba", 4, 1, 36},
    };
    for (const auto& c : cases) {
        int n = -1;
        EXPECT_EQ(GM_36_base_36_to_int(c.text, c.width, &n, c.reverse), CM_RC_OK);
        EXPECT_EQ(n, c.want) << c.text;
    }
    for (int reverse : {0, 1})
        for (int v : {0, 1, 35, 36, 1295, 46655, 1000000}) {
            char buf[6];
            GM_36_int_to_base_36(v, buf, 5, reverse);
            int back = -1;
            GM_36_base_36_to_int(buf, 5, &back, reverse);
            EXPECT_EQ(back, v) << std::string(buf, 5);
        }
}

TEST(Gm36, Base26AndBase10Fields) {
    EXPECT_EQ(field_of(3, [](char* b) { return GM_36_int_to_base_26(27, b, 3); }), "abb");
    EXPECT_EQ(field_of(3, [](char* b) { return GM_36_int_to_base_26(0, b, 3); }), "aaa");
    EXPECT_EQ(field_of(2, [](char* b) { return GM_36_int_to_base_26(26 * 26 + 1, b, 2); }), "ab");
    unsigned n = 0;
    EXPECT_EQ(GM_36_base_26_to_int("aBb", 3, &n), CM_RC_OK);
    EXPECT_EQ(n, 27u);
    EXPECT_EQ(GM_36_base_26_to_int(" b", 2, &n), CM_RC_OK);
    EXPECT_EQ(n, 1u);

    struct Case {
        long n;
        int width;
        const char* want;
    };
    const Case cases[] = {
        {-42, 5, "-0042"},
        {-42, 2, "42"},
        {-42, 3, "-42"},
        {42, 5, "00042"},
        {0, 3, "000"},
        {12345, 3, "345"},
        {LONG_MIN, 20, "-9223372036854775808"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(field_of(c.width, [&](char* b) { return GM_36_int_to_base_10(c.n, b, c.width); }), c.want) << c.n;
}

TEST(Gm36, DigitFunctionsMapBothAlphabets) {
    EXPECT_EQ(GM_36_digit_to_base_36(10, 0), 'a');
    EXPECT_EQ(GM_36_digit_to_base_36(10, 1), 'k');
    EXPECT_EQ(GM_36_digit_to_base_36(26, 1), '0');
    EXPECT_EQ(GM_36_base_36_to_digit('7', 0), 7);
    EXPECT_EQ(GM_36_base_36_to_digit('7', 1), 33);
    EXPECT_EQ(GM_36_base_36_to_digit('K', 0), 20);
    EXPECT_EQ(GM_36_base_36_to_digit('k', 1), 10);
    EXPECT_EQ(GM_36_digit_to_base_26(25), 'z');
    EXPECT_EQ(GM_36_base_26_to_digit('C'), 2);
    EXPECT_EQ(GM_36_base_26_to_digit('3'), 29);
    EXPECT_EQ(GM_36_digit_to_base_10(-7), '7');
}

TEST_F(AgentHomeTest, OutOfRangeDigitsAreLoggedAndClamped) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(1);
    EXPECT_EQ(GM_36_digit_to_base_36(40, 0), 'z');
    EXPECT_EQ(GM_36_digit_to_base_36(40, 1), '9');
    EXPECT_EQ(GM_36_digit_to_base_26(30), 'z');
    EXPECT_EQ(GM_36_digit_to_base_10(12), '9');
    EXPECT_EQ(GM_36_base_36_to_digit('#', 0), 0);   // read as "0"
    EXPECT_EQ(GM_36_base_36_to_digit('#', 1), 26);  // "0" in the reversed alphabet
    EXPECT_EQ(GM_36_base_26_to_digit('#'), 26);
    const std::string log = testbed::read_diag_log("Oebs_CM");
    for (const char* line : {"GM_36: input (40) too big.", "GM_26: input (30) too big.", "GM_36: input (12) too big.",
                             "GM_36_base_36_to_digit: Illegal input(#).", "GM_26_base_26_to_digit: Illegal input(#)."})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

TEST(Gm36, NullBuffersAreRefused) {
    int n = 0;
    unsigned u = 0;
    EXPECT_EQ(GM_36_int_to_base_36(1, nullptr, 4, 0), CM_RC_FAIL);
    EXPECT_EQ(GM_36_int_to_base_26(1, nullptr, 4), CM_RC_FAIL);
    EXPECT_EQ(GM_36_int_to_base_10(1, nullptr, 4), CM_RC_FAIL);
    EXPECT_EQ(GM_36_base_36_to_int(nullptr, 4, &n, 0), CM_RC_FAIL);
    EXPECT_EQ(GM_36_base_36_to_int("1", 4, nullptr, 0), CM_RC_FAIL);
    EXPECT_EQ(GM_36_base_26_to_int(nullptr, 4, &u), CM_RC_FAIL);
}
