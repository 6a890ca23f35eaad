// The globalization wrapper: the multi-byte mode test (CONFIG key I18N must be exactly "CJK") and
// the library's start and end for the process.
#include "gc_wrapper.h"

#include <string>

#include "gc_data.h"
#include "gm_param.h"
#include "os_diag.h"
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

namespace {

class WrapperStart : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        OS_DIAG_initialize(nullptr, "GC");
        unsetenv("GC_LOCALEDIR");
        gc::set_default_data_dir("/nonexistent/appbridge-locale");
    }
    void TearDown() override {
        while (gc::state().count) GC_release();
        gc::set_default_data_dir(nullptr);
    }
    std::string log() { return testbed::read_diag_log("GC"); }
};

}  // namespace

TEST_F(WrapperStart, GeneratedDataUnderTheHomeStartsTheLibrary) {
    home.install_locale_data();
    std::string dir = home.path();
    EXPECT_EQ(GC_init(dir.data()), CM_RC_OK);
    EXPECT_NE(gc::state().ocx, nullptr);
    EXPECT_EQ(std::string(gc::state().ocx->dir), home.path() + "/exe/locale");
    GC_release();
    EXPECT_EQ(gc::state().ocx, nullptr);
}

TEST_F(WrapperStart, HomeWithoutDataOrTooLongFailsWithTheErrorLine) {
    std::string dir = home.path();
    EXPECT_EQ(GC_init(dir.data()), CM_RC_FAIL);
    EXPECT_NE(log().find("GC_init: Failed to initialize GC library. searched for locales at: '" + dir + "/exe/locale'"),
              std::string::npos);
    // 233 characters: "<home>/exe/locale/control.nls" needs 257 bytes.
    std::string long_home = home.path() + "/" + std::string(232 - home.path().size(), 'h');
    ASSERT_EQ(long_home.size(), 233u);
    gctest::fs::create_directories(long_home + "/exe");
    gctest::fs::create_directory_symlink(APPBRIDGE_LOCALE_DATA_DIR, long_home + "/exe/locale");
    EXPECT_EQ(GC_init(long_home.data()), CM_RC_FAIL);
    long_home.pop_back();
    gctest::fs::create_directories(long_home + "/exe");
    gctest::fs::create_directory_symlink(APPBRIDGE_LOCALE_DATA_DIR, long_home + "/exe/locale");
    EXPECT_EQ(GC_init(long_home.data()), CM_RC_OK);
    EXPECT_EQ(gc::state().count, 1);
}

TEST_F(WrapperStart, ReleaseAfterAFailedStartLeavesTheNextStartWorking) {
    std::string dir = home.path();
    EXPECT_EQ(GC_init(dir.data()), CM_RC_FAIL);
    GC_release();
    home.install_locale_data();
    EXPECT_EQ(GC_init(dir.data()), CM_RC_OK);
    EXPECT_EQ(gc::state().count, 1);
    GC_release();
    EXPECT_EQ(gc::state().count, 0);
}
