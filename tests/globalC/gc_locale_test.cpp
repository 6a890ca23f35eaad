// Locales from names and from the user's environment, their text items and code-page changes,
// and the collation weights of the generated sorts.
#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

#include "gc_data.h"

namespace {

class Locales : public gctest::Library {
protected:
    void TearDown() override {
        for (GCLocale* l : made) GCReleaseLocale(l);
        gctest::Library::TearDown();
    }
    GCLocale* get(const char* name, uint32_t options, uint32_t* rc) {
        GCLocale* l = GCGetLocale(name, options, rc);
        if (l) made.push_back(l);
        return l;
    }
    std::vector<GCLocale*> made;
};

struct NameCase {
    const char* label;
    const char* name;
    uint32_t options;
    uint32_t rc;
    const char* language;  // expected objects when made
    const char* territory;
    const char* codepage;
    bool binary;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

class LocaleNames : public Locales, public ::testing::WithParamInterface<NameCase> {};

}  // namespace

TEST_P(LocaleNames, NameGivesItsObjectsOrTheCodeOfThePartThatFailed) {
    const NameCase& c = GetParam();
    uint32_t rc = 99;
    GCLocale* l = get(c.name, c.options, &rc);
    EXPECT_EQ(rc, c.rc);
    if (!c.language) {
        EXPECT_EQ(l, nullptr);
        return;
    }
    ASSERT_NE(l, nullptr);
    EXPECT_STREQ(l->language->name, c.language);
    EXPECT_STREQ(l->territory->name, c.territory);
    EXPECT_STREQ(l->codepage->name, c.codepage);
    EXPECT_EQ(l->sort == nullptr, c.binary);
    EXPECT_EQ((l->flags & GC_LOC_BINARY) != 0, c.binary);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LocaleNames,
    ::testing::Values(
        NameCase{"Empty", "", 0, GC_OK, "English", "UnitedStates", "US-ASCII", true},
        NameCase{"UnknownLanguage", "Klingon", 0, GC_ERR_LANGUAGE, nullptr, nullptr, nullptr, false},
        NameCase{"UnknownLanguageDefaults", "Klingon_Germany", 4, GC_OK, "English", "Germany", "US-ASCII", true},
        NameCase{"BinarySort", "English_UnitedStates.US-ASCII@BINARY", 0, GC_OK, "English", "UnitedStates", "US-ASCII",
                 true},
        NameCase{"Full", "german_germany.utf-8@default", 0, GC_OK, "German", "Germany", "UTF-8", false},
        NameCase{"LanguageDefaults", "Japanese", 0, GC_OK, "Japanese", "Japan", "JapanEUC", true},
        NameCase{"InvalidOption", "", 1, GC_ERR_OPTION, nullptr, nullptr, nullptr, false},
        NameCase{"UnknownTerritory", "German_Atlantis", 0, GC_ERR_TERRITORY, nullptr, nullptr, nullptr, false},
        NameCase{"UnknownTerritoryDefaults", "German_Atlantis", 4, GC_OK, "German", "Germany", "Latin1", false},
        NameCase{"UnknownCodePage", "German_Germany.EBCDIC", 0, GC_ERR_CODEPAGE, nullptr, nullptr, nullptr, false},
        NameCase{"GB18030IsLeftOut", "SimplifiedChinese_China.GB18030", 0, GC_ERR_CODEPAGE, nullptr, nullptr, nullptr,
                 false},
        NameCase{"UnknownSort", "German_Germany.Latin1@Klingon", 0, GC_ERR_SORT, nullptr, nullptr, nullptr, false}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

TEST_F(Locales, EveryRowOfTheNativeMapGivesALocale) {
    for (const GCNativeLocale& row : GCPlocaleMap) {
        char name[200];
        GCMapNativeLocale(row.native, name, sizeof name);
        uint32_t rc = 99;
        GCLocale* l = GCGetLocale(name, 0, &rc);
        EXPECT_NE(l, nullptr) << row.native << " -> " << name << " rc " << rc;
        GCReleaseLocale(l);
    }
    char name[64];
    EXPECT_STREQ(GCMapNativeLocale("C", name, sizeof name), "English_UnitedStates.US-ASCII@Binary");
    EXPECT_STREQ(GCMapNativeLocale("xx_YY.nothing", name, sizeof name), "Unknown");
    EXPECT_STREQ(GCMapNativeLocale("/C/de_DE/ja_JP.ujis/nowhere/", name, sizeof name),
                 "Japanese_Germany.US-ASCII@Unknown");
    EXPECT_STREQ(GCMapNativeLocale("C", name, 8), "English");
}

TEST_F(Locales, GcLangNamesTheUserLocaleWithoutNativeConventions) {
    setenv("GC_LANG", "German_Germany.Latin1", 1);
    setenv("LC_ALL", "C", 1);
    uint32_t rc = 99;
    GCLocale* l = get("ignored", 2, &rc);
    unsetenv("GC_LANG");
    ASSERT_NE(l, nullptr) << rc;
    EXPECT_STREQ(l->language->name, "German");
    EXPECT_EQ(l->modified, 0u);
    EXPECT_EQ(l->sep[0], ',');
}

TEST_F(Locales, NativeLocaleBringsItsConventionsAndIsPutBack) {
    char tmpl[] = "/tmp/appbridge-locales-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string locales = tmpl;
    struct Remove {
        std::string dir;
        ~Remove() {
            std::error_code ec;
            gctest::fs::remove_all(dir, ec);
        }
    } remove{locales};
    const std::string command = "localedef -i de_DE -f UTF-8 '" + locales + "/de_DE.UTF-8' 2>/dev/null";
    if (std::system(command.c_str()) != 0 || !gctest::fs::exists(locales + "/de_DE.UTF-8"))
        GTEST_SKIP() << "localedef cannot build de_DE.UTF-8 here";
    setenv("LOCPATH", locales.c_str(), 1);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    unsetenv("GC_LANG");
    ASSERT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
    uint32_t rc = 99;
    GCLocale* l = get("", 2, &rc);
    ASSERT_NE(l, nullptr) << rc;
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
    EXPECT_STREQ(l->language->name, "German");
    EXPECT_STREQ(l->codepage->name, "UTF-8");
    EXPECT_EQ(l->sep[0], ',');
    EXPECT_EQ(l->sep[1], '.');
    EXPECT_STREQ(l->text[0], "3;3;0");  // the C library's grouping, not the territory's "3;0"
    EXPECT_STREQ(l->text[1], "\xE2\x82\xAC");
    EXPECT_NE(l->modified, 0u);
    unsetenv("LC_ALL");
    unsetenv("LOCPATH");
}

TEST_F(Locales, SeparatorsMustDifferFromTheirPartnerAndTextsSurviveTerritoryChanges) {
    uint32_t rc = 0;
    GCLocale* l = get("English_UnitedStates.Latin1", 0, &rc);
    ASSERT_NE(l, nullptr);
    ASSERT_EQ(l->sep[1], ',');
    const GCLocale before = *l;
    EXPECT_EQ(GCSetLocaleTextInfo(l, 59, ",", -1, 0), 0);
    EXPECT_EQ(l->lastrc, GC_ERR_NOTFOUND);
    EXPECT_EQ(l->sep[0], before.sep[0]);
    EXPECT_EQ(l->modified, 0u);
    EXPECT_EQ(GCSetLocaleTextInfo(l, 59, "7", -1, 0), 0);
    EXPECT_EQ(GCSetLocaleTextInfo(l, 99, "x", -1, 0), 0);
    EXPECT_EQ(l->lastrc, GC_ERR_ITEM);
    EXPECT_EQ(GCSetLocaleTextInfo(l, 59, "abc", -1, 3), 0);
    EXPECT_EQ(l->lastrc, GC_ERR_OPTION);

    const std::string format(80, 'H');
    ASSERT_EQ(GCSetLocaleTextInfo(l, 79, format.c_str(), -1, 0), 1);
    EXPECT_EQ(std::string(l->text[5]), format);
    EXPECT_EQ(gctest::units_text(l->utext[5]), std::u16string(80, u'H'));
    ASSERT_EQ(GCSetLocaleTextInfo(l, 6, "Germany", -1, 0), 1);
    EXPECT_STREQ(l->territory->name, "Germany");
    EXPECT_EQ(std::string(l->text[5]), format);  // set by the application: kept
    EXPECT_EQ(l->sep[0], ',');                   // the territory's
    ASSERT_EQ(GCSetLocaleTextInfo(l, 12, "BINARY", -1, 0), 1);
    EXPECT_EQ(l->sort, nullptr);
    EXPECT_TRUE(l->flags & GC_LOC_BINARY);
}

TEST_F(Locales, TextsOnAStatefulPageSurviveACodePageChange) {
    uint32_t rc = 0;
    GCLocale* l = get("Japanese_Japan.IBM939", 0, &rc);
    ASSERT_NE(l, nullptr) << rc;
    EXPECT_TRUE(l->flags & GC_LOC_STATEFUL);
    // Alternating single- and double-byte characters: every one changes the shift state.
    const std::u16string text = u"a\u65E5b\u672Cc\u8A9Ed\u5E74e\u6708f";
    GCLocale* utf8 = get("Japanese_Japan.UTF-8", 0, &rc);
    ASSERT_NE(utf8, nullptr);
    std::vector<char> bytes(64);
    const int n = GCUnicodeToString(utf8, bytes.data(), 64, reinterpret_cast<const GCUchar*>(text.c_str()), -1, 8);
    ASSERT_GT(n, 0);
    ASSERT_EQ(GCSetLocaleTextInfo(utf8, 79, bytes.data(), -1, 0), 1);
    ASSERT_EQ(GCSetLocaleTextInfo(utf8, 10, "IBM939", -1, 0), 1);
    EXPECT_STREQ(utf8->codepage->name, "IBM939");
    // Names come in the locale's code page: on this page that is not ASCII-based, EBCDIC.
    unsigned char name[16] = {};
    const std::u16string utf8_name = u"UTF-8";
    GCCpUnicodeToStr(utf8->codepage, reinterpret_cast<const GCUchar*>(utf8_name.c_str()), 0, 5, name);
    EXPECT_EQ(GCSetLocaleTextInfo(utf8, 10, "UTF-8", -1, 0), 0);
    ASSERT_EQ(GCSetLocaleTextInfo(utf8, 10, reinterpret_cast<char*>(name), -1, 0), 1);
    EXPECT_STREQ(utf8->text[5], bytes.data());
    // The territory's texts on the stateful page are whole as well.
    ASSERT_EQ(GCLocaleChangeTerritory(l, l->territory), GC_OK);
    GCUchar units[64];
    EXPECT_GT(GCCpStrToUnicode(l->codepage, reinterpret_cast<unsigned char*>(l->text[7]), -1, units), 0);
}

namespace {

class Collation : public Locales {
protected:
    GCObjEntry* sort(const char* name) {
        uint32_t rc = 0;
        return GCGetObjFromName(gc::state().ocx, GC_OBJ_SORT, name, static_cast<uint32_t>(strlen(name)), 0, &rc);
    }
};

}  // namespace

TEST_F(Collation, RowsTableEntriesExpansionsAndCombinations) {
    GCObjEntry* root = sort("Default");
    ASSERT_NE(root, nullptr);
    GCWeightSet a{}, b{};
    uint8_t cls = 0;
    EXPECT_EQ(GCSortGetWeights(root, 0xD800, &a, &b, &cls), 0u);  // an ignorable row
    ASSERT_EQ(GCSortGetWeights(root, 0x4E05, &a, &b, &cls), 1u);  // a computed row
    GCWeightSet prev{};
    ASSERT_EQ(GCSortGetWeights(root, 0x4E04, &prev, &b, &cls), 1u);
    EXPECT_EQ(a.primary, prev.primary + 1);
    EXPECT_EQ(cls, 1);
    EXPECT_EQ(GCSortGetWeights(root, 0xAC00, &a, &b, &cls), 2u);  // a syllable: two elements
    EXPECT_GT(b.primary, 0);
    GCWeightSet lower{}, upper{}, d{};
    ASSERT_EQ(GCSortGetWeights(root, u'a', &lower, &b, &cls), 1u);
    ASSERT_EQ(GCSortGetWeights(root, u'A', &upper, &b, &cls), 1u);
    ASSERT_EQ(GCSortGetWeights(root, u'd', &d, &b, &cls), 1u);
    EXPECT_EQ(lower.primary, upper.primary);
    EXPECT_NE(lower.tertiary, upper.tertiary);
    EXPECT_LT(lower.primary, d.primary);

    std::vector<GCUchar> same(0x10000);
    uint16_t ncomb = 0;
    std::vector<GCUchar> combs(3 * 4096);
    const uint32_t n = GCSortGetSamePrimaryWeight(root, u'a', 0, same.data(), &ncomb, combs.data());
    same.resize(n);
    EXPECT_NE(std::find(same.begin(), same.end(), u'a'), same.end());
    EXPECT_NE(std::find(same.begin(), same.end(), u'A'), same.end());

    GCObjEntry* spanish = sort("Spanish");
    ASSERT_NE(spanish, nullptr);
    GCWeightSet ch{}, c{};
    ASSERT_EQ(GCSortGetCombination(spanish, u'c', u'h', &ch, &cls), 1u);
    ASSERT_EQ(GCSortGetWeights(spanish, u'c', &c, &b, &cls), 1u);
    ASSERT_EQ(GCSortGetWeights(spanish, u'd', &d, &b, &cls), 1u);
    EXPECT_GT(ch.primary, c.primary);
    EXPECT_LT(ch.primary, d.primary);
    EXPECT_EQ(GCSortGetCombination(root, u'c', u'h', &ch, &cls), 0u);
    const uint32_t with_ch = GCSortGetSamePrimaryWeight(spanish, u'c', u'h', same.data(), &ncomb, combs.data());
    EXPECT_EQ(with_ch, 0u);
    EXPECT_GE(ncomb, 2);  // "ch", "Ch", "CH"...

    GCUchar one[2];
    EXPECT_EQ(GCSortGetSamePrimaryWeight(nullptr, u'x', 0, one, &ncomb, nullptr), 1u);
    EXPECT_EQ(one[0], u'x');
    EXPECT_EQ(GCSortGetSamePrimaryWeight(nullptr, u'c', u'h', one, &ncomb, nullptr), 0u);
}

TEST(CollationData, ExpansionWithoutItsRecordHasNoWeights) {
    gctest::DataDir data;
    std::string file = data.read("so_0001.nls");
    std::string s = gctest::section_of(file, 0);
    gctest::put16(s, 2, 0);  // no expansion records
    data.write("so_0001.nls", gctest::data_file({s}));
    ASSERT_EQ(GCInit(data.path.c_str(), nullptr, nullptr, nullptr, GC_INIT_STRICT), GC_OK);
    uint32_t rc = 0;
    GCObjEntry* root = GCGetObjFromID(gc::state().ocx, GC_OBJ_SORT, 1, 0, &rc);
    ASSERT_NE(root, nullptr);
    GCWeightSet a{}, b{};
    uint8_t cls = 0;
    EXPECT_EQ(GCSortGetWeights(root, 0xAC00, &a, &b, &cls), 0u);
    EXPECT_EQ(GCSortGetWeights(root, u'a', &a, &b, &cls), 1u);
    GCTerm();
}
