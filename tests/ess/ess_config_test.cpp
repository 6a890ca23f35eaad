// Configuration store over INI files: the line rules of the reader, sections and attributes through
// the store's facade, walks and their ends, deletion, and saving (exact bytes, a failed save that
// leaves the old file).
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bcc_da.h"
#include "ess_config.h"
#include "testbed.h"

namespace {

using Attributes = std::vector<std::pair<std::string, std::string>>;

class ConfigTest : public testbed::AgentHomeTest {
protected:
    // Result of opening path (file/section) the way the facade does, with the context's error text.
    int open_rc(const std::string& path, unsigned int mode, std::string* error = nullptr) {
        auto* ctx = static_cast<ESS_Config_Context*>(std::calloc(1, sizeof(ESS_Config_Context)));
        snprintf(ctx->m_PathStr, sizeof ctx->m_PathStr, "%s", path.c_str());
        ctx->m_mode = mode;
        const int rc = ess_config_Ini_Context_New(ctx);
        if (error) *error = ctx->m_error;
        ESS_Config_Delete(&ctx);
        return rc;
    }
};

Attributes attributes(ESS_Config_Context* ctx) {
    Attributes out;
    char* name = nullptr;
    char* value = nullptr;
    for (int rc = ESS_Config_GetFirstAttribute(ctx, &name, &value); rc == 0;
         rc = ESS_Config_GetNextAttribute(ctx, &name, &value)) {
        out.emplace_back(name ? name : "(null)", value ? value : "(null)");
        std::free(name);
        std::free(value);
    }
    return out;
}

Attributes section(const std::string& path) {
    ESS_Config_Context* ctx = ESS_Config_New(ESS_CONFIG_TYPE_INI, path.c_str(), ESS_CONFIG_MODE_READ);
    if (!ctx) return {{"", "not opened"}};
    Attributes out = attributes(ctx);
    ESS_Config_Delete(&ctx);
    return out;
}

TEST_F(ConfigTest, LineShapes) {
    struct Case {
        std::string content;
        std::string section;
        Attributes expected;
        std::string syntax_error;  // what standard error shows
    };
    const std::string long_value(20000, 'x');
    const Case cases[] = {
        {"# comment\n; comment\n\n[ sec ]\n a = b c \n\tk\t=\tv\t\n", "sec", {{"a", "b c"}, {"k", "v"}}, ""},
        {"[s]\nv = [x]\nk = 1\n", "x", {{"k", "1"}}, ""},
        {"[s]\nv = [x]\nk = 1\n", "s", {}, ""},
        {"[s]\n=x\nk=v\n", "s", {{"k", "v"}}, "Syntax error f.ini/=x\n"},
        {"[s]\njunk\nmore junk\n", "s", {}, "Syntax error f.ini/junk\nSyntax error f.ini/more junk\n"},
        {"REGEDIT4\n[s]\nk=v\n", "s", {{"k", "v"}}, ""},
        {"[s]\r\nk = v\r\n", "s", {{"k", "v"}}, ""},
        {"[s]\n\r=2\n", "s", {{"\r", "2"}}, ""},  // a name keeps what is not a blank or a tab
        {"[s]\nk=1\n[s]\nk=2\n", "s", {{"k", "1"}}, ""},
        {"[s]\nk=" + long_value + "\n",
         "s",
         {{"k", std::string(16381, 'x')}},
         "Syntax error f.ini/" + std::string(20000 - 16381, 'x') + "\n"},
    };
    for (const auto& c : cases) {
        home.write_file("f.ini", c.content);
        testbed::StderrCapture err;
        EXPECT_EQ(section("f.ini/" + c.section), c.expected) << c.content.substr(0, 40);
        EXPECT_EQ(err.text(), c.syntax_error);
    }
    home.write_file("f.ini", "a = b\n[s]\n");
    std::string error;
    EXPECT_EQ(open_rc("f.ini/s", ESS_CONFIG_MODE_READ, &error), ESS_CONFIG_UNREADABLE);
    EXPECT_EQ(error, "BCC_IniAccess failure for file: f.ini, using defaults");
    EXPECT_EQ(ESS_Config_New(ESS_CONFIG_TYPE_INI, "f.ini/s", ESS_CONFIG_MODE_READ), nullptr);
    EXPECT_EQ(open_rc("missing.ini/s", ESS_CONFIG_MODE_READ), ESS_CONFIG_UNREADABLE);
}

TEST_F(ConfigTest, SectionsAreFoundAddedAndWalked) {
    home.write_file("f.ini", "[one]\na=1\nb=2\n[two]\nc=3\n");
    std::string error;
    EXPECT_EQ(open_rc("f.ini/three", ESS_CONFIG_MODE_READ, &error), ESS_CONFIG_NOT_FOUND);
    EXPECT_EQ(error, "entry three not found in f.ini");
    EXPECT_EQ(open_rc("f.ini/three", ESS_CONFIG_MODE_UPDATE), ESS_CONFIG_OK);

    ESS_Config_Context* ctx = ESS_Config_New(ESS_CONFIG_TYPE_INI, "f.ini/*", ESS_CONFIG_MODE_READ);
    ASSERT_NE(ctx, nullptr);
    std::vector<std::string> names;
    char* name = nullptr;
    for (int rc = ESS_Config_GetFirstSubKey(ctx, &name); rc == 0; rc = ESS_Config_GetNextSubKey(ctx, &name)) {
        names.emplace_back(name);
        std::free(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(ESS_Config_GetNextSubKey(ctx, &name), ESS_CONFIG_NOT_FOUND);
    EXPECT_EQ(attributes(ctx), (Attributes{{"c", "3"}}));  // the walk left "two" current
    char* value = nullptr;
    EXPECT_EQ(ESS_Config_GetNextAttribute(ctx, &name, &value), ESS_CONFIG_NO_ATTRIBUTE);
    EXPECT_EQ(ESS_Config_GetAttribute(ctx, "a", &value), ESS_CONFIG_NO_ATTRIBUTE);
    EXPECT_EQ(value, nullptr);
    EXPECT_STREQ(ESS_Config_LastError(ctx), "a not found in f.ini/*");
    ESS_Config_Delete(&ctx);
    EXPECT_EQ(ctx, nullptr);

    const std::string long_path = std::string(300, 'p') + "/s";
    EXPECT_EQ(ESS_Config_New(ESS_CONFIG_TYPE_INI, long_path.c_str(), ESS_CONFIG_MODE_UPDATE), nullptr);
    EXPECT_EQ(ESS_Config_New(ESS_CONFIG_TYPE_INI, "", ESS_CONFIG_MODE_READ), nullptr);
    EXPECT_EQ(ESS_Config_New(1, "f.ini/one", ESS_CONFIG_MODE_READ), nullptr);
    EXPECT_EQ(ESS_Config_GetAttribute(nullptr, "a", &value), ESS_CONFIG_FAIL);
}

TEST_F(ConfigTest, AttributesChangeAndDeleteByWildcard) {
    home.write_file("f.ini", "[s]\nkey1=a\nkey2=b\nother=c\n");
    ESS_Config_Context* ctx = ESS_Config_New(ESS_CONFIG_TYPE_INI, "f.ini/s", ESS_CONFIG_MODE_UPDATE);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(ESS_Config_SetAttribute(ctx, "other", "C"), 0);
    EXPECT_EQ(ESS_Config_SetAttribute(ctx, "new", "n"), 0);
    EXPECT_EQ(ESS_Config_DeleteAttribute(ctx, "key*"), 0);
    EXPECT_EQ(ESS_Config_DeleteAttribute(ctx, "key*"), ESS_CONFIG_NOT_FOUND);
    EXPECT_EQ(ESS_Config_DeleteAttribute(ctx, "none"), ESS_CONFIG_NOT_FOUND);
    EXPECT_EQ(attributes(ctx), (Attributes{{"other", "C"}, {"new", "n"}}));
    char* value = nullptr;
    int number = 0;
    EXPECT_EQ(ESS_Config_SetOptionStr(ctx, "x", "y"), 0);
    EXPECT_EQ(ESS_Config_GetOptionStr(ctx, "x", &value), 0);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(ESS_Config_GetOptionInt(ctx, "x", &number), 0);
    EXPECT_EQ(number, -1);
    ESS_Config_Delete(&ctx);  // unsaved changes are dropped
    EXPECT_EQ(home.read_file("f.ini"), "[s]\nkey1=a\nkey2=b\nother=c\n");
}

TEST_F(ConfigTest, SaveWritesThePreambleAndSectionsOnly) {
    home.write_file("f.ini", "; a comment that goes\n[a]\nx=1\n[b]\n# another\ny = 2\n");
    ESS_Config_Context* ctx =
        ESS_Config_NewBySubkey(ESS_CONFIG_TYPE_INI, "f.ini", "a", ";my preamble\n", ESS_CONFIG_MODE_UPDATE);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(ESS_Config_Save(ctx), 0);
    EXPECT_EQ(home.read_file("f.ini"), ";my preamble\n\n[a]\nx = 1\n\n[b]\ny = 2\n");
    ESS_Config_Delete(&ctx);

    ctx = ESS_Config_New(ESS_CONFIG_TYPE_INI, "new.ini/c", ESS_CONFIG_MODE_CREATE);
    ASSERT_NE(ctx, nullptr);
    ESS_Config_SetAttribute(ctx, "z", "3");
    ASSERT_EQ(ESS_Config_Save(ctx), 0);
    const std::string preamble = BCC_IniAccess_DefaultPreamble();
    EXPECT_EQ(home.read_file("new.ini"), preamble + "\n[c]\nz = 3\n");
    EXPECT_EQ(preamble.substr(0, 74), std::string(73, ';') + "\n");
    EXPECT_NE(preamble.find("\n;      EDITING THIS FILE DIRECTLY IS NOT RECOMMENDED\n"), std::string::npos);
    ESS_Config_Delete(&ctx);
}

// The new content cannot be written whole (a file-size limit, which binds the superuser too, as a
// read-only folder would not): the save fails and the old file stays as it was.
TEST_F(ConfigTest, AFailedSaveLeavesTheOldFile) {
    home.write_file("f.ini", "[a]\nx=1\n");
    ESS_Config_Context* ctx = ESS_Config_New(ESS_CONFIG_TYPE_INI, "f.ini/a", ESS_CONFIG_MODE_UPDATE);
    ASSERT_NE(ctx, nullptr);
    ESS_Config_SetAttribute(ctx, "x", "2");
    signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_EQ(ESS_Config_Save(ctx), ESS_CONFIG_UNWRITABLE);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(home.read_file("f.ini"), "[a]\nx=1\n");
    ESS_Config_Delete(&ctx);
}

TEST(BccIni, DocumentModel) {
    EXPECT_EQ(New_BCC_IniStanza(""), nullptr);
    BCC_IniStanza* s = New_BCC_IniStanza("s");
    ASSERT_EQ(BCC_IniStanza_AddAttribute(s, "a", "1"), 0);
    BCC_IniAttribute* copy = BCC_IniStanza_FindAttribute(s, "a");
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, BCC_IniStanza_FindAttributePtr(s, "a"));
    EXPECT_STREQ(BCC_IniAttribute_GetValue(copy), "1");
    Free_BCC_IniAttribute(copy);
    EXPECT_EQ(BCC_IniStanza_DeleteAttribute(s, "a"), 0);
    EXPECT_EQ(BCC_IniStanza_DeleteAttribute(s, "a"), ESS_CONFIG_NOT_FOUND);
    Free_BCC_IniStanza(s);

    char dn[] = "dir/file.ini/section";
    EXPECT_STREQ(BCM_Profile_SplitDnEntry(dn), "section");
    EXPECT_STREQ(BCM_Profile_SplitDnPath(dn), "dir/file.ini");
    char bare[] = "plain";
    EXPECT_STREQ(BCM_Profile_SplitDnEntry(bare), "plain");
}

TEST_F(ConfigTest, StanzasAddedFromItemsAndDeleted) {
    home.write_file("f.ini", "[a]\n");
    int rc = 0;
    BCC_IniAccess* acc = New_BCC_IniAccess(nullptr, 0, "f.ini", BCC_INI_MODE_UPDATE, &rc);
    ASSERT_NE(acc, nullptr);
    ESS_StringArray* items = ESS_NewStringArray(2);
    ESS_Add2StringArray(items, "k = v");
    ESS_Add2StringArray(items, "");
    EXPECT_EQ(BCC_IniAccess_AddStanza(acc, "b", items), 0);
    ESS_Add2StringArray(items, "no equals sign");
    EXPECT_EQ(BCC_IniAccess_AddStanza(acc, "c", items), -1);
    EXPECT_EQ(BCC_IniAccess_FindStanza(acc, "c", &rc), nullptr);
    EXPECT_EQ(rc, ESS_CONFIG_NOT_FOUND);
    BCC_IniStanza* b = BCC_IniAccess_FindStanza(acc, "b", &rc);
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(BCC_IniAttribute_GetValue(BCC_IniStanza_FindAttributePtr(b, "k")), "v");
    EXPECT_EQ(BCC_IniAccess_DeleteStanza(acc, "a"), 0);
    EXPECT_EQ(BCC_IniAccess_DeleteStanza(acc, "a"), ESS_CONFIG_NO_STANZA);
    EXPECT_EQ(BCC_IniAccess_GetFirstStanza(acc), b);
    ESS_StringArrayDelete(items);
    Free_BCC_IniAccess(acc);
}

}  // namespace
