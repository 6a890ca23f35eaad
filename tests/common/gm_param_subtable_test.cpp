// Sectioned tables (files of [NAME] sections), their cache and save, value lists, and rows from
// the environment and the command line.
#include "gm_param.h"
#include "os_diag.h"
#include "testbed.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;
using Sections = std::vector<std::pair<std::string, Rows>>;

Rows rows_of(ZPALIST_handle_typ* list) {
    Rows out;
    ZPALIST_handle_typ walker = *list;
    GM_PARAM_list_reset(&walker);
    char* key = nullptr;
    void* value = nullptr;
    while (GM_PARAM_list_next(&walker, &key, &value) == CM_RC_OK) out.emplace_back(key, static_cast<char*>(value));
    return out;
}

struct SectionList {
    ZPALIST_handle_typ h{};
    ~SectionList() { GM_PARAM_subtable_list_clear(&h); }
    Sections sections() {
        Sections out;
        ZPALIST_handle_typ walker = h;
        ZPALIST_reset(&walker);
        void* element = nullptr;
        unsigned int size = 0;
        while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) {
            auto* s = static_cast<GM_PARAM_subtable_row*>(element);
            out.emplace_back(s->key, rows_of(&s->list));
        }
        return out;
    }
};

struct KeyList {
    ZPALIST_handle_typ h{};
    ~KeyList() { ZPALIST_clear(&h); }
};

class SectionedTableTest : public testbed::AgentHomeTest {
protected:
    void TearDown() override {
        GM_PARAM_clear();
        GM_PARAM_subtable_clear();
    }
};

TEST_F(SectionedTableTest, ReaderOpensSectionsAndKeepsRowKeysAsWritten) {
    const std::string long_value(3000, 'v');
    const struct {
        const char* name;
        std::string content;
        Sections sections;
    } cases[] = {
        {"rows before the first header are dropped",
         "x 1\n[acc1]\nDB_SID ORCL\n[Acc2]\ndb_sid TEST\n",
         {{"ACC1", {{"DB_SID", "ORCL"}}}, {"ACC2", {{"db_sid", "TEST"}}}}},
        {"comments, empty lines, separators",
         "# c\n\n[a]\n\tk1=v 1  \nk2 = x\n",
         {{"A", {{"k1", "v 1"}, {"k2", "= x"}}}}},
        {"repeated and empty sections", "[s]\n[s]\nk v\n", {{"S", {}}, {"S", {{"k", "v"}}}}},
        {"a header word ends at a blank", "[s]\n[my acc]\n", {{"S", {{"[my", "acc]"}}}}},
        {"a long line is one row", "[s]\nk " + long_value + "\n", {{"S", {{"k", long_value}}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        home.write_file("data/S.dat", c.content);
        SectionList list;
        ASSERT_EQ(GM_PARAM_subtable_load_file(&list.h, "./data/S.dat"), CM_RC_OK);
        EXPECT_EQ(list.sections(), c.sections);
    }
}

TEST_F(SectionedTableTest, KeyTooLongFailsTheWholeRead) {
    home.write_file("data/S.dat", "[a]\nk v\n[b]\n" + std::string(64, 'k') + " v\n");
    SectionList list;
    EXPECT_EQ(GM_PARAM_subtable_load_file(&list.h, "./data/S.dat"), CM_RC_FAIL);
    EXPECT_EQ(list.sections(), (Sections{{"A", {{"k", "v"}}}}));
    SectionList missing;
    EXPECT_EQ(GM_PARAM_subtable_load_file(&missing.h, "./data/NONE.dat"), CM_RC_FAIL);
}

TEST_F(SectionedTableTest, WriterGoldenOutputAndRoundTripWithLongestValue) {
    SectionList list;
    const std::string value2048(2048, 'p');
    ASSERT_EQ(GM_PARAM_subtable_list_set(&list.h, "acc3", "DB_SID", "ORCL"), CM_RC_OK);
    ASSERT_EQ(GM_PARAM_subtable_list_set(&list.h, "acc3", "DB_PASSWD", value2048.c_str()), CM_RC_OK);
    ASSERT_EQ(GM_PARAM_subtable_list_set(&list.h, "acc3", "TOOLONG", std::string(2100, 'q').c_str()), CM_RC_OK);
    ASSERT_EQ(GM_PARAM_subtable_list_save(&list.h, "./data/S.dat"), CM_RC_OK);
    EXPECT_EQ(home.read_file("data/S.dat"), "[acc3]\n\n" + ("DB_SID" + std::string(58, ' ')) + "  ORCL\n\n" +
                                                ("DB_PASSWD" + std::string(55, ' ')) + "  " + value2048 + "\n\n" +
                                                ("TOOLONG" + std::string(57, ' ')) + "  " + std::string(2048, 'q') +
                                                "\n\n");

    SectionList back;
    ASSERT_EQ(GM_PARAM_subtable_load_file(&back.h, "./data/S.dat"), CM_RC_OK);
    EXPECT_EQ(
        back.sections(),
        (Sections{{"ACC3", {{"DB_SID", "ORCL"}, {"DB_PASSWD", value2048}, {"TOOLONG", std::string(2048, 'q')}}}}));
}

TEST_F(SectionedTableTest, WriterRefusesSectionsThatWouldNotReadBackAndLeavesTheFile) {
    const struct {
        const char* name;
        std::string section, key, value;
    } cases[] = {
        {"value that opens a section", "TEST", "NLS_LANG", "AMERICAN\n[PROD]\nDB_SID EVIL"},
        {"name that closes and opens a section", "NEW]\n[PROD", "DB_SID", "X"},
        {"blank in a name", "MY ACC", "DB_SID", "X"},
        {"tab in a name", "MY\tACC", "DB_SID", "X"},
        {"equals sign in a name", "A=B", "DB_SID", "X"},
        {"name whose header is longer than a word the reader takes", std::string(62, 'N'), "DB_SID", "X"},
        {"key that is a section header", "TEST", "[PROD]", "X"},
        {"key that is a comment", "TEST", "#DB_SID", "X"},
        {"blank in a key", "TEST", "DB SID", "X"},
        {"empty key", "TEST", "", "DB_SID EVIL"},
        {"blanks around a value", "TEST", "%%ALERT-NAME", "  low stock  "},
    };
    const std::string before = "[TEST]\nDB_SID TEST\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        home.write_file("data/S.dat", before);
        SectionList list;
        ASSERT_EQ(GM_PARAM_subtable_load_file(&list.h, "./data/S.dat"), CM_RC_OK);
        ASSERT_EQ(GM_PARAM_subtable_list_set(&list.h, c.section.c_str(), c.key.c_str(), c.value.c_str()), CM_RC_OK);
        EXPECT_EQ(GM_PARAM_subtable_list_save(&list.h, "./data/S.dat"), CM_RC_FAIL);
        EXPECT_EQ(home.read_file("data/S.dat"), before);

        ASSERT_EQ(GM_PARAM_subtable_set("S", c.section.c_str(), c.key.c_str(), c.value.c_str()), CM_RC_OK);
        EXPECT_EQ(GM_PARAM_subtable_save("S"), CM_RC_FAIL);
        EXPECT_EQ(home.read_file("data/S.dat"), before);
        GM_PARAM_subtable_clear();
    }
}

TEST_F(SectionedTableTest, WriterRoundTripsWhatAFileCanHold) {
    // Section names come back upper-cased and row keys as written; values whole, as in flat tables.
    // A name ends at the header's last ']', so brackets inside it come back.
    SectionList list;
    ASSERT_EQ(GM_PARAM_subtable_list_set(&list.h, "acc-1.x", "db_sid", "a=b [S] #c"), CM_RC_OK);
    ASSERT_EQ(GM_PARAM_subtable_list_set(&list.h, "acc-1.x", "%%ALERT-NAME", "low \t stock"), CM_RC_OK);
    ASSERT_EQ(GM_PARAM_subtable_list_set(&list.h, "ORVORDER", "A]B", "tab\t"), CM_RC_OK);
    ASSERT_EQ(GM_PARAM_subtable_list_set(&list.h, std::string(61, 'n').c_str(), std::string(63, 'k').c_str(), "v"),
              CM_RC_OK);
    ASSERT_EQ(GM_PARAM_subtable_list_set(&list.h, "a]b[c\r", "k", "cr\r"), CM_RC_OK);
    ASSERT_EQ(GM_PARAM_subtable_list_save(&list.h, "./data/S.dat"), CM_RC_OK);
    SectionList back;
    ASSERT_EQ(GM_PARAM_subtable_load_file(&back.h, "./data/S.dat"), CM_RC_OK);
    EXPECT_EQ(back.sections(), (Sections{{"ACC-1.X", {{"db_sid", "a=b [S] #c"}, {"%%ALERT-NAME", "low \t stock"}}},
                                         {"ORVORDER", {{"A]B", "tab\t"}}},
                                         {std::string(61, 'N'), {{std::string(63, 'k'), "v"}}},
                                         {"A]B[C\r", {{"k", "cr\r"}}}}));
}

TEST_F(SectionedTableTest, FindGetDeleteFollowExactSectionNames) {
    home.write_file("data/S.dat", "[acc1]\nK 1\nDEFAULT d\n[acc2]\nK 2\n");
    SectionList list;
    ASSERT_EQ(GM_PARAM_subtable_load_file(&list.h, "./data/S.dat"), CM_RC_OK);
    ZPALIST_handle_typ* rows = nullptr;
    EXPECT_EQ(GM_PARAM_subtable_list_find(&list.h, "acc1", &rows), CM_RC_END);
    EXPECT_EQ(GM_PARAM_subtable_list_find(&list.h, "ACC1", &rows), CM_RC_OK);
    char value[64] = "";
    EXPECT_EQ(GM_PARAM_subtable_list_get(&list.h, "ACC1", "OTHER", value, sizeof value), CM_RC_OK);
    EXPECT_STREQ(value, "d");
    // The entry delete walks on from the rows' cursor, which the find resets and a lookup moves.
    EXPECT_EQ(GM_PARAM_subtable_list_delete_entry(rows, "ACC1", "K"), CM_RC_END);
    ASSERT_EQ(GM_PARAM_subtable_list_find(&list.h, "ACC1", &rows), CM_RC_OK);
    EXPECT_EQ(GM_PARAM_subtable_list_delete_entry(rows, "ACC1", "K"), CM_RC_OK);
    EXPECT_EQ(GM_PARAM_subtable_list_delete_entry(rows, "ACC1", "K"), CM_RC_END);
    EXPECT_EQ(GM_PARAM_subtable_list_delete(&list.h, "ACC9"), CM_RC_END);
    EXPECT_EQ(GM_PARAM_subtable_list_delete(&list.h, "ACC1"), CM_RC_OK);
    EXPECT_EQ(list.sections(), (Sections{{"ACC2", {{"K", "2"}}}}));
    EXPECT_EQ(GM_PARAM_subtable_list_set(&list.h, std::string(65, 's').c_str(), "K", "v"), CM_RC_FAIL);
    EXPECT_EQ(GM_PARAM_subtable_list_find(nullptr, "ACC2", &rows), CM_RC_FAIL);
}

TEST_F(SectionedTableTest, SubtableNameHelpers) {
    EXPECT_EQ(GM_PARAM_IsSubtable("[a]"), CM_RC_OK);
    EXPECT_EQ(GM_PARAM_IsSubtable("x[a"), CM_RC_FAIL);
    EXPECT_EQ(GM_PARAM_IsSubtable("]a["), CM_RC_FAIL);
    EXPECT_EQ(GM_PARAM_IsSubtable(nullptr), CM_RC_FAIL);
    char text[] = "x[ab]c]d";
    EXPECT_STREQ(GM_PARAM_Get_SubtableName(text), "ab]c");
    char reversed[] = "]a[";
    EXPECT_EQ(GM_PARAM_Get_SubtableName(reversed), nullptr);
}

TEST_F(SectionedTableTest, CacheGetSetSaveAndReload) {
    char value[2048] = "<untouched>";
    EXPECT_EQ(GM_PARAM_subtable_get("DUZ_inst", "ACC1", "DB_SID", value), CM_RC_FAIL);
    EXPECT_STREQ(value, "<untouched>");
    EXPECT_EQ(GM_PARAM_subtable_set("DUZ_inst", "ACC1", "DB_SID", "ORCL"), CM_RC_OK);
    EXPECT_EQ(GM_PARAM_subtable_get("DUZ_inst", "ACC1", "DB_SID", value), CM_RC_OK);
    EXPECT_STREQ(value, "ORCL");
    ASSERT_EQ(GM_PARAM_subtable_save("DUZ_inst"), CM_RC_OK);
    EXPECT_EQ(GM_PARAM_subtable_load("DUZ_inst", 0), CM_RC_END);
    EXPECT_EQ(GM_PARAM_subtable_load("DUZ_inst", 1), CM_RC_OK);
    EXPECT_EQ(GM_PARAM_subtable_get("DUZ_inst", "ACC1", "DB_SID", value), CM_RC_OK);
    EXPECT_EQ(GM_PARAM_subtable_delete_entry("DUZ_inst", "ACC9", "DB_SID"), CM_RC_END);
    EXPECT_EQ(GM_PARAM_subtable_delete_entry("DUZ_inst", "ACC1", "DB_SID"), CM_RC_OK);
    EXPECT_EQ(GM_PARAM_subtable_delete("DUZ_inst", "ACC1"), CM_RC_OK);
    EXPECT_EQ(GM_PARAM_subtable_delete("DUZ_inst", "ACC1"), CM_RC_END);
}

TEST_F(SectionedTableTest, SaveKeepsSectionsAnotherWriterChangedMeanwhile) {
    home.write_file("data/DUZ_inst.dat", "[A]\nK a\n[B]\nK b\n[C]\nK c\n");
    char value[2048];
    ASSERT_EQ(GM_PARAM_subtable_get("DUZ_inst", "A", "K", value), CM_RC_OK);
    GM_PARAM_subtable_set("DUZ_inst", "A", "K", "mine");
    GM_PARAM_subtable_set("DUZ_inst", "NEW", "K", "n");
    GM_PARAM_subtable_delete("DUZ_inst", "C");
    home.write_file("data/DUZ_inst.dat", "[A]\nK a\nX theirs\n[B]\nK b2\n[C]\nK c\n[D]\nK d\n");
    ASSERT_EQ(GM_PARAM_subtable_save("DUZ_inst"), CM_RC_OK);
    SectionList back;
    ASSERT_EQ(GM_PARAM_subtable_load_file(&back.h, "./data/DUZ_inst.dat"), CM_RC_OK);
    EXPECT_EQ(back.sections(), (Sections{{"A", {{"K", "mine"}, {"X", "theirs"}}},
                                         {"B", {{"K", "b2"}}},
                                         {"D", {{"K", "d"}}},
                                         {"NEW", {{"K", "n"}}}}));
}

TEST_F(SectionedTableTest, ValueListsSplitAndJoin) {
    const struct {
        const char* value;
        const char* separator;
        Rows rows;
    } cases[] = {
        {",,a,,b,", ",", {{"A", ""}, {"B", ""}}},
        {"X=1;Y=2", ";", {{"X", "1"}, {"Y", "2"}}},
        {"a b,c", ", ", {{"A", ""}, {"B", ""}, {"C", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        KeyList list;
        ASSERT_EQ(GM_PARAM_load_valuelist(&list.h, c.value, c.separator), CM_RC_OK);
        EXPECT_EQ(rows_of(&list.h), c.rows);
    }
    KeyList list;
    EXPECT_EQ(GM_PARAM_load_valuelist(&list.h, nullptr, ","), CM_RC_FAIL);
    EXPECT_EQ(GM_PARAM_load_valuelist(&list.h, "a", ""), CM_RC_FAIL);

    ASSERT_EQ(GM_PARAM_load_valuelist(&list.h, "A,B,C", ","), CM_RC_OK);
    char joined[2048] = "";
    EXPECT_EQ(GM_PARAM_save_valuelist(&list.h, joined, ","), CM_RC_OK);
    EXPECT_STREQ(joined, "A,B,C");

    KeyList many;
    for (int i = 0; i < 40; ++i) GM_PARAM_list_append(&many.h, (std::string(60, 'K') + std::to_string(i)).c_str(), "");
    strcpy(joined, "untouched");
    EXPECT_EQ(GM_PARAM_save_valuelist(&many.h, joined, ","), CM_RC_FAIL);
    EXPECT_STREQ(joined, "untouched");
}

TEST_F(SectionedTableTest, EnvironmentRowsTakeTheConfiguredPrefix) {
    home.write_file("data/CONFIG.dat", "ORVENV_PREFIX ORVTEST_\n");
    setenv("ORVTEST_DBGLVL", "5", 1);
    setenv("OTHER_ORVTEST_X", "1", 1);
    KeyList list;
    EXPECT_EQ(GM_PARAM_load_env(&list.h), CM_RC_OK);
    EXPECT_EQ(rows_of(&list.h), (Rows{{"DBGLVL", "5"}}));
    unsetenv("ORVTEST_DBGLVL");
    unsetenv("OTHER_ORVTEST_X");
}

TEST_F(SectionedTableTest, CommandLineRowsInputFileAndDebugLevel) {
    home.write_file("data/CONFIG.dat", "DBGLVL 2\n");
    home.write_file("in.dat", "NAME from_file\nEXTRA e\n");
    {
        const char* argv[] = {"prog", "-dbglvl", "3", "-name", "x", "-input_file", "in.dat", "y", "-late", "z"};
        KeyList list;
        ASSERT_EQ(GM_PARAM_load_args(&list.h, 10, const_cast<char**>(argv)), CM_RC_OK);
        EXPECT_EQ(rows_of(&list.h), (Rows{{"DBGLVL", "3"}, {"NAME", "x"}, {"EXTRA", "e"}}));
        EXPECT_EQ(DIAG_debug_level(), 3);
    }
    {
        const char* argv[] = {"prog", "-DBGLVL", "9"};
        KeyList list;
        testbed::StderrCapture err;
        ASSERT_EQ(GM_PARAM_load_args(&list.h, 3, const_cast<char**>(argv)), CM_RC_OK);
        EXPECT_NE(err.text().find("-DBGLVL Value '9' is not in a valid range of 0 to 6. Retrieve from config table."),
                  std::string::npos);
        EXPECT_EQ(DIAG_debug_level(), 2);
    }
    {
        const char* argv[] = {"prog", "-input_file", "missing.dat"};
        KeyList list;
        EXPECT_EQ(GM_PARAM_load_args(&list.h, 3, const_cast<char**>(argv)), CM_RC_FAIL);
        EXPECT_EQ(rows_of(&list.h), Rows{});
    }
}

struct ObfuscationCase {
    std::string clear;
    std::string revealed;
};

TEST(ParamValueObfuscation, HidesAndRevealsA64ByteField) {
    const std::vector<ObfuscationCase> cases = {
        {"", ""},
        {"secret", "secret"},
        {"padded   " + std::string(55, ' '), "padded"},
        {"\x80\xff\x90high", "\x80\xff\x90high"},
    };
    for (const auto& c : cases) {
        char field[129] = {};
        memcpy(field, c.clear.data(), c.clear.size());
        ASSERT_EQ(GM_PARAM_encrypt(field), CM_RC_OK);
        EXPECT_EQ(strlen(field), 128u);
        EXPECT_EQ(strspn(field, "0123456789abcdef"), 128u);
        ASSERT_EQ(GM_PARAM_decrypt(field), CM_RC_OK);
        EXPECT_EQ(std::string(field), c.revealed);
    }
}

TEST(ParamValueObfuscation, ExFormsAndShortTextsStayInBounds) {
    char field[16] = "abc";
    ASSERT_EQ(GM_PARAM_encryptEx(field, 3), CM_RC_OK);
    EXPECT_EQ(strlen(field), 6u);
    ASSERT_EQ(GM_PARAM_decryptEx(field, 3), CM_RC_OK);
    EXPECT_STREQ(field, "abc");

    // A short or plain text is read only up to its end (the sanitizer checks the bounds).
    char* shortText = static_cast<char*>(malloc(5));
    memcpy(shortText, "abcd", 5);
    ASSERT_EQ(GM_PARAM_decrypt(shortText), CM_RC_OK);
    EXPECT_EQ(strlen(shortText), 2u);
    free(shortText);
    char plain[] = "plain text";
    ASSERT_EQ(GM_PARAM_decrypt(plain), CM_RC_OK);
    EXPECT_STREQ(plain, "");
}

}  // namespace

// Stored passwords (encrypted or not) and the agent's secret keys stay out of the diagnostic log
// on every path a table value is traced: reading a file, a lookup, a dump.
TEST_F(SectionedTableTest, SecretValuesNeverReachTheDiagnosticLog) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(6);
    testbed::write_whole_file("sections.dat", "[ACC1]\nDB_SID ORCL\nDB_PASSWD secret1\nAPPSPassword secret2\n");
    testbed::write_whole_file("flat.dat", "PASSWORD secret3\nKEY_PASSPHRASE secret4\nHOST h1\n");
    SectionList sections;
    ASSERT_EQ(GM_PARAM_subtable_load_file(&sections.h, "sections.dat"), CM_RC_OK);
    KeyList flat;
    ASSERT_EQ(GM_PARAM_load_file(&flat.h, "flat.dat"), CM_RC_OK);
    GM_PARAM_subtable_list_print(&sections.h);
    GM_PARAM_list_print(&flat.h);
    char value[2048] = "";
    ASSERT_EQ(GM_PARAM_subtable_set("DUZ_inst", "ACC1", "DB_PASSWD", "secret5"), CM_RC_OK);
    ASSERT_EQ(GM_PARAM_subtable_get("DUZ_inst", "ACC1", "DB_PASSWD", value), CM_RC_OK);
    EXPECT_STREQ(value, "secret5");
    ASSERT_EQ(GM_PARAM_set("CONFIG", "PASSWORD", "secret6"), CM_RC_OK);
    ASSERT_EQ(GM_PARAM_get("CONFIG", "PASSWORD", value), CM_RC_OK);
    EXPECT_STREQ(value, "secret6");
    ASSERT_EQ(GM_PARAM_set("CONFIG", "HOST", "h2"), CM_RC_OK);
    ASSERT_EQ(GM_PARAM_get("CONFIG", "HOST", value), CM_RC_OK);
    // Value lists: the text, each entry and the joined keys.
    KeyList entries;
    ASSERT_EQ(GM_PARAM_load_valuelist(&entries.h, const_cast<char*>("DB_PASSWD=secret7;NEW_KEY=secret8;PORT=1521"),
                                      const_cast<char*>(";")),
              CM_RC_OK);
    char joined[2048] = "";
    ASSERT_EQ(GM_PARAM_save_valuelist(&entries.h, joined, ";"), CM_RC_OK);

    const std::string log = testbed::read_diag_log("Oebs_CM");
    EXPECT_EQ(log.find("secret"), std::string::npos) << log;
    EXPECT_NE(log.find("DB_PASSWD = 'Private Data'"), std::string::npos);
    EXPECT_NE(log.find("line: 'PASSWORD Private Data'"), std::string::npos);
    // Other values are traced as before.
    EXPECT_NE(log.find("line: 'DB_SID ORCL'"), std::string::npos);
    EXPECT_NE(log.find("HOST = 'h1'"), std::string::npos);
    EXPECT_NE(log.find("key:'HOST', value:'h2'"), std::string::npos);
    EXPECT_NE(log.find("Value: 'PORT=1521'"), std::string::npos);
    EXPECT_NE(log.find("Value:'DB_PASSWD Private Data;NEW_KEY Private Data;PORT=1521'"), std::string::npos) << log;
}
