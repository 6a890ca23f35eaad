// The globalization wrapper: the multi-byte mode test (CONFIG key I18N must be exactly "CJK") and
// the library's start and end for the process.
#include "gc_wrapper.h"

#include <cstring>
#include <string>
#include <vector>

#include "gc_data.h"
#include "gc_iconv.h"
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

namespace {

class WrapperEncoding : public WrapperStart {
protected:
    void SetUp() override {
        WrapperStart::SetUp();
        home.install_locale_data();
        std::string dir = home.path();
        ASSERT_EQ(GC_init(dir.data()), CM_RC_OK);
        DIAG_set_debug_level(4);
    }
    void TearDown() override {
        GC_releaseEncodingInfo(&info);
        GM_PARAM_clear();
        WrapperStart::TearDown();
    }
    ENCODING_INFO info{};
};

}  // namespace

TEST_F(WrapperEncoding, LatinModeLeavesEveryFieldNull) {
    for (const char* config : {"", "I18N cjk\n"}) {
        GM_PARAM_clear();
        home.write_file("data/CONFIG.dat", config);
        char table[] = "OEBS";
        EXPECT_EQ(GC_getEncodingInfo(&info, table), 1);
        EXPECT_EQ(info.orvLocale, nullptr);
        EXPECT_EQ(info.appLocale, nullptr);
        EXPECT_EQ(info.currLocale, nullptr);
    }
}

TEST_F(WrapperEncoding, ApplicationLocaleComesThroughGcLocaleOrIsTakenAsItStands) {
    home.write_file("data/CONFIG.dat", "I18N CJK\nORV_LOCALE Japanese_Japan.UTF-8\n");
    home.write_file("data/GC_LOCALE.dat", "JA Japanese_Japan.JapanEUC\nUNICODE .UTF-16\n");
    home.write_file("data/OEBS.dat", "APPLICATION_LOCALE JA\n");
    char table[] = "OEBS";
    ASSERT_EQ(GC_getEncodingInfo(&info, table), 1);
    ASSERT_NE(info.orvLocale, nullptr);
    EXPECT_STREQ(info.orvLocale->codepage->name, "UTF-8");
    ASSERT_NE(info.appLocale, nullptr);
    EXPECT_STREQ(info.appLocale->codepage->name, "JapanEUC");
    EXPECT_NE(info.currLocale, nullptr);
    GC_releaseEncodingInfo(&info);
    GC_releaseEncodingInfo(&info);  // the fields were cleared: nothing is released twice
    EXPECT_EQ(info.orvLocale, nullptr);

    GM_PARAM_clear();
    home.write_file("data/OEBS.dat", "APPLICATION_LOCALE UNICODE\n");
    ASSERT_EQ(GC_getEncodingInfo(&info, table), 1);
    EXPECT_EQ(info.appLocale, nullptr);
    GC_releaseEncodingInfo(&info);

    GM_PARAM_clear();
    home.write_file("data/OEBS.dat", "APPLICATION_LOCALE German_Germany.Latin1\n");
    ASSERT_EQ(GC_getEncodingInfo(&info, table), 1);
    ASSERT_NE(info.appLocale, nullptr);
    EXPECT_STREQ(info.appLocale->language->name, "German");
    EXPECT_NE(log().find("GC_getEncodingInfo: Failed to find key 'German_Germany.Latin1' in table 'GC_LOCALE', locale "
                         "'German_Germany.Latin1' will be used"),
              std::string::npos);
    GC_releaseEncodingInfo(&info);

    GM_PARAM_clear();
    home.write_file("data/OEBS.dat", "APPLICATION_LOCALE Klingon\n");
    EXPECT_EQ(GC_getEncodingInfo(&info, table), 0);
    EXPECT_NE(log().find("createLocaleByName: GCGetLocale failed - Invalid language specified."), std::string::npos);
}

TEST_F(WrapperEncoding, Utf16OutputStaysInsideItsBufferWhateverItsAlignment) {
    uint32_t rc = 0;
    GCLocale* utf8 = GCGetLocale("English_UnitedStates.UTF-8", 0, &rc);
    ASSERT_NE(utf8, nullptr);
    std::vector<char> storage(9);  // 8 bytes of room at an odd address: ASan fences the end
    char* dst = storage.data() + 1;
    char text[] = "abc\xC3\xA9xyz";
    EXPECT_EQ(GC_convertString(nullptr, dst, 8, text, utf8), 1);
    GCUchar units[4];
    std::memcpy(units, dst, 8);
    EXPECT_EQ(units[0], u'a');
    EXPECT_EQ(units[2], u'c');
    EXPECT_EQ(units[3], 0);
    char back[16];
    EXPECT_EQ(GC_convertString(utf8, back, sizeof back, dst, nullptr), 1);
    EXPECT_STREQ(back, "abc");
    char small[4];
    EXPECT_EQ(GC_convertString(nullptr, small, sizeof small, text, nullptr), 0);
    EXPECT_STREQ(small, "abc");
    GCReleaseLocale(utf8);
}

TEST_F(WrapperEncoding, FilesConvertWholeLinesBothWaysAndRefuseWhatTheyCannotOpen) {
    uint32_t rc = 0;
    info.orvLocale = GCGetLocale("Japanese_Japan.UTF-8", 0, &rc);
    info.appLocale = GCGetLocale("Japanese_Japan.JapanEUC", 0, &rc);
    ASSERT_NE(info.orvLocale, nullptr);
    ASSERT_NE(info.appLocale, nullptr);
    // Lines of 1500 bytes of two-byte characters: pieces of 1023 bytes end inside one.
    std::string script;
    for (int i = 0; i < 5; ++i) {
        std::string line = i % 2 ? "echo " : "echo x";
        while (line.size() < 1495) line += "\xC6\xFC\xCB\xDC";
        script += line + "\n";
    }
    home.write_file("script.euc", script);
    std::string in = home.path() + "/script.euc";
    std::string out = home.path() + "/script.utf8";
    std::string back = home.path() + "/script.back";
    EXPECT_EQ(GC_convertFile(&info, in.data(), out.data(), GC_APP_TO_ORV), CM_RC_OK);
    gctest::Iconv iconv("UTF-8", "EUC-JP");
    EXPECT_EQ(home.read_file("script.utf8"), iconv.run(script.data(), script.size()).value_or("?"));
    EXPECT_EQ(GC_convertFile(&info, out.data(), back.data(), GC_ORV_TO_APP), CM_RC_OK);
    EXPECT_EQ(home.read_file("script.back"), script);

    std::string missing = home.path() + "/missing";
    std::string never = home.path() + "/never";
    EXPECT_EQ(GC_convertFile(&info, missing.data(), never.data(), GC_ORV_TO_APP), CM_RC_FAIL);
    EXPECT_FALSE(home.exists("never"));
    std::string bad = home.path() + "/bad";
    EXPECT_EQ(GC_convertFile(&info, in.data(), bad.data(), static_cast<GC_CONV_typ>(7)), CM_RC_FAIL);
    EXPECT_EQ(home.read_file("bad"), "");
    EXPECT_NE(log().find("GC_convertFile: Invalid conversion type '7'"), std::string::npos);
}
