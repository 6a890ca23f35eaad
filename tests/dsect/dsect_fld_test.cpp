// Fields of the agent protocol: what each type writes for a value, that the announced length is what
// is written, what the readers give back, and that no reader passes the text's terminating NUL.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "dsect_fld.h"
#include "os_diag.h"
#include "testbed.h"

namespace {

struct SetCase {
    DSECT_FLD_typ type;
    std::string value;
    std::string wire;  // "" with ok false: refused
    bool ok = true;
};

std::string written(DSECT_FLD_typ type, const std::string& value, CM_RC* rc) {
    std::string buffer(value.size() + 64, '#');
    char* pos = buffer.data();
    *rc = DSECT_FLD_set(&pos, value.c_str(), type);
    if (*rc != CM_RC_OK) {
        EXPECT_EQ(pos, buffer.data()) << "a refused field moves nothing";
        EXPECT_EQ(buffer[0], '#') << "a refused field writes nothing";
        return "";
    }
    EXPECT_EQ(*pos, '\0') << "the writer terminates behind the field";
    return std::string(buffer.data(), pos);
}

TEST(DsectField, WriterTextAndAnnouncedLengthAgreeForEveryType) {
    const std::string long120(120, 'x');
    const SetCase cases[] = {
        {DF_VAR1, "", "0"},
        {DF_VAR1, "abcdefghijk", "9abcdefghi"},
        {DF_VAR2, "", "00"},
        {DF_VAR2, long120, "99" + long120.substr(0, 99)},
        {DF_VAR3, "abc", "003abc"},
        {DF_VAR4, "abc", "0003abc"},
        {DF_VAR5, "abc", "00003abc"},
        {DF_IVAR1, "", "10"},
        {DF_IVAR1, "1234", "41234"},
        {DF_IVAR1, "-5", "2-5"},
        {DF_IVAR1, "abc", "10"},
        {DF_IVAR1, "  42xyz", "242"},
        {DF_IVAR1, "999999999", "9999999999"},
        {DF_IVAR1, "1234567890", "", false},
        {DF_IVAR1, "-123456789", "", false},
        {DF_C1, "abc", "a"},
        {DF_C6, "", "      "},
        {DF_C14, "20260102", "20260102      "},
        {DF_I1, "7", "7"},
        {DF_I3, "", "000"},
        {DF_I3, "10", "010"},
        {DF_I3, "-99", "-99"},
        {DF_I3, "1000", "", false},
        {DF_I3, "-100", "", false},
        {DF_I5, "-3", "-0003"},
        {DF_I6, "x", "000000"},
        {DF_I2, "99999999999999999999", "", false},
        {DF_B5, "zz", "zz   "},
        {DF_B5, "abcdefg", "abcde"},
        {DF_DSECT_LIST, "0700041234", "0700041234"},
    };
    for (const SetCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " '" + c.value.substr(0, 20) + "'");
        CM_RC rc = 0;
        const std::string wire = written(c.type, c.value, &rc);
        EXPECT_EQ(rc, c.ok ? CM_RC_OK : CM_RC_FAIL);
        EXPECT_EQ(wire, c.wire);
        int len = -1;
        EXPECT_EQ(DSECT_FLD_eval_len(c.type, c.value.c_str(), &len), rc);
        if (c.ok) {
            EXPECT_EQ(len, static_cast<int>(wire.size()));
        }
    }
}

TEST(DsectField, NumberWriterTable) {
    const struct {
        DSECT_FLD_typ type;
        int value;
        std::string wire;
    } cases[] = {
        {DF_B5, 36, "00010"},       {DF_B5, -36, "00010"}, {DF_B5, 60466176, "00000"}, {DF_I4, 7, "0007"},
        {DF_I6, -12, "-00012"},     {DF_IVAR1, -5, "2-5"}, {DF_IVAR1, 0, "10"},        {DF_I2, 100, ""},
        {DF_IVAR1, 1234567890, ""}, {DF_C4, 1, ""},        {DF_VAR2, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " " + std::to_string(c.value));
        char buffer[32] = "untouched";
        char* pos = buffer;
        const CM_RC rc = DSECT_FLD_set_int(&pos, c.value, c.type);
        EXPECT_EQ(rc, c.wire.empty() ? CM_RC_FAIL : CM_RC_OK);
        EXPECT_EQ(std::string(buffer, pos), c.wire);
    }
    int len = 0;
    EXPECT_EQ(DSECT_FLD_eval_varint_len(DF_IVAR1, -5, &len), CM_RC_OK);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(DSECT_FLD_eval_varint_len_noheader(DF_IVAR1, 1234, &len), CM_RC_OK);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(DSECT_FLD_eval_int_len(DF_I5, &len), CM_RC_OK);
    EXPECT_EQ(len, 5);
}

TEST(DsectField, ReadersGiveTheWireTextAndMovePastTheWholeField) {
    const std::string text5000(5000, 'q');
    std::string wire = "5000" + text5000 + "0000A" + "0000a" + "41234" + "-0003" + "2-5" + "zz   ";
    char* pos = wire.data();
    std::string target(4095, '\0');
    ASSERT_EQ(DSECT_FLD_get_char(target.data(), &pos, DF_VAR4, 4095), CM_RC_OK);
    EXPECT_EQ(std::string(target.c_str()), text5000.substr(0, 4094));
    EXPECT_EQ(pos, wire.data() + 5004);
    int n = 0;
    ASSERT_EQ(DSECT_FLD_get_int(&n, &pos, DF_B5), CM_RC_OK);
    EXPECT_EQ(n, 10);
    ASSERT_EQ(DSECT_FLD_get_int(&n, &pos, DF_B5), CM_RC_OK);
    EXPECT_EQ(n, 10);
    char small[16];
    char* peek = pos;
    ASSERT_EQ(DSECT_FLD_get_char(small, &peek, DF_IVAR1, sizeof small), CM_RC_OK);
    EXPECT_STREQ(small, "1234");
    ASSERT_EQ(DSECT_FLD_get_int(&n, &pos, DF_IVAR1), CM_RC_OK);
    EXPECT_EQ(n, 1234);
    ASSERT_EQ(DSECT_FLD_get_int(&n, &pos, DF_I5), CM_RC_OK);
    EXPECT_EQ(n, -3);
    ASSERT_EQ(DSECT_FLD_get_int(&n, &pos, DF_IVAR1), CM_RC_OK);
    EXPECT_EQ(n, -5);
    char* copy = nullptr;
    ASSERT_EQ(DSECT_FLD_get_char_with_malloc(&copy, &pos, DF_C5), CM_RC_OK);
    EXPECT_STREQ(copy, "zz   ");
    std::free(copy);
    EXPECT_EQ(*pos, '\0');
}

TEST(DsectField, ReadersStopAtTheTerminatingNul) {
    const struct {
        std::string wire;
        DSECT_FLD_typ type;
    } lying[] = {
        {"0010abc", DF_VAR4},  // count past the end
        {"99", DF_VAR2},       // count, no text
        {"0", DF_VAR2},        // prefix cut
        {"0x03abc", DF_VAR4},  // prefix not a number
        {"-003abc", DF_VAR4},  // negative count
        {"abc", DF_C6},        // fixed field past the end
        {"12", DF_I5},        {"9123", DF_IVAR1},
    };
    for (const auto& c : lying) {
        SCOPED_TRACE(c.wire);
        std::string wire = c.wire;
        char* pos = wire.data();
        char target[64] = "untouched";
        EXPECT_EQ(DSECT_FLD_get_char(target, &pos, c.type, sizeof target), CM_RC_FAIL);
        EXPECT_EQ(pos, wire.data());
        EXPECT_STREQ(target, "untouched");
        if (c.type != DF_IVAR1 && c.type != DF_I5) {
            char* copy = nullptr;
            EXPECT_EQ(DSECT_FLD_get_char_with_malloc(&copy, &pos, c.type), CM_RC_FAIL);
            EXPECT_EQ(copy, nullptr);
        } else {
            int n = 77;
            EXPECT_EQ(DSECT_FLD_get_int(&n, &pos, c.type), CM_RC_FAIL);
            EXPECT_EQ(n, 77);
        }
    }
}

using testbed::AgentHomeTest;

TEST_F(AgentHomeTest, EveryOperationRefusesATypeOutsideItsSet) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    const auto outside = static_cast<DSECT_FLD_typ>(DF_NOMORETYPES);
    std::string wire = "00000";
    char* pos = wire.data();
    char target[16];
    char* copy = nullptr;
    int n = 0;
    EXPECT_EQ(DSECT_FLD_set(&pos, "x", outside), CM_RC_FAIL);
    EXPECT_EQ(DSECT_FLD_set_char(&pos, "x", DF_I1), CM_RC_FAIL);
    EXPECT_EQ(DSECT_FLD_set_int(&pos, 1, DF_VAR1), CM_RC_FAIL);
    EXPECT_EQ(DSECT_FLD_get_char(target, &pos, DF_DSECT_LIST, sizeof target), CM_RC_FAIL);
    EXPECT_EQ(DSECT_FLD_get_char_with_malloc(&copy, &pos, DF_I2), CM_RC_FAIL);
    EXPECT_EQ(DSECT_FLD_get_int(&n, &pos, DF_C1), CM_RC_FAIL);
    EXPECT_EQ(DSECT_FLD_eval_len(outside, "x", &n), CM_RC_FAIL);
    EXPECT_EQ(DSECT_FLD_eval_varint_len(DF_I3, 1, &n), CM_RC_FAIL);
    EXPECT_EQ(pos, wire.data());
    EXPECT_EQ(wire, "00000");
    EXPECT_EQ(DSECT_FLD_maxlen(outside), -1);
    EXPECT_EQ(DSECT_FLD_maxlen(DF_VAR5), 99999);
    EXPECT_EQ(DSECT_FLD_varfld_hd(DF_VAR3), DF_I3);
    EXPECT_EQ(DSECT_FLD_varfld_hd(DF_C3), DF_NOMORETYPES);
    const std::string log = testbed::read_diag_log("Oebs_CM");
    for (const char* line :
         {"DSECT_FLD_set: unknown type.", "DSECT_FLD_set_char: unknown type.", "DSECT_FLD_set_int: unknown type.",
          "DSECT_FLD_get_char: unknown type.", "DSECT_FLD_get_char_with_malloc: unknown type.",
          "DSECT_FLD_get_int: unknown type.", "DSECT_FLD_eval_varchar_len: unknown type."})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

}  // namespace
