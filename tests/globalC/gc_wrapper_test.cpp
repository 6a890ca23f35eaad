// The multi-byte mode test of the globalization wrapper: CONFIG key I18N must be exactly "CJK".
#include "gc_wrapper.h"

#include <string>

#include "gm_param.h"
#include "testbed.h"

namespace {

struct I18nCase {
    const char* label;
    const char* config;  // content of ./data/CONFIG.dat, or null for no file
    int expected;
};

class I18nModeTest : public testbed::AgentHomeTest, public ::testing::WithParamInterface<I18nCase> {
protected:
    void TearDown() override { GM_PARAM_clear(); }
};

}  // namespace

TEST_P(I18nModeTest, OnlyTheExactValueCjkTurnsTheModeOn) {
    if (GetParam().config) home.write_file("data/CONFIG.dat", GetParam().config);
    EXPECT_EQ(isI18nDefined(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Config, I18nModeTest,
                         ::testing::Values(I18nCase{"NoConfigFile", nullptr, 0}, I18nCase{"Cjk", "I18N CJK\n", 1},
                                           I18nCase{"LowerCase", "I18N cjk\n", 0},
                                           I18nCase{"LongerValue", "I18N CJK2\n", 0},
                                           I18nCase{"OtherKey", "OTHER CJK\n", 0}),
                         [](const ::testing::TestParamInfo<I18nCase>& info) { return std::string(info.param.label); });
