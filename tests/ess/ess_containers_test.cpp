// Containers and string helpers of the security library: wildcard matching, the typed parameter
// list, the hash set, the linked list, the byte and string arrays and the string utilities.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ess_arrays.h"
#include "ess_list.h"
#include "ess_paramlist.h"
#include "ess_set.h"
#include "ess_str_utils.h"

namespace {

TEST(EssWild, MatchesByStarsAndSingleCharacters) {
    struct Case {
        const char* text;
        const char* pattern;
        int rc;
    };
    const Case cases[] = {
        {"", "*", 0},        {"abc", "a?c", 0},         {"abc", "a$c", 0},    {"axc", "a?c", 0},  {"a", "ab*", -1},
        {"ab", "ab*", 0},    {"aXb", "a**b", 0},        {"aXb", "a*b", 0},    {"ab", "a**b", 0},  {"a", "a*a", -1},
        {"aa", "a*a", 0},    {"abab", "*ab*ab", 0},     {"ab", "*ab*ab", -1}, {"abc", "ABC", -1}, {"abc", "abc", 0},
        {"abcd", "abc", -1}, {"xabyabz", "*ab*ab*", 0}, {"abc", "*c", 0},     {"abc", "*b", -1},  {"", "", 0},
        {"", "?", -1},       {"aab", "*ab", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ESS_WILD_match(c.text, c.pattern), c.rc) << c.text << " ~ " << c.pattern;
    EXPECT_EQ(ESS_WILD_match(nullptr, "*"), -1);
    EXPECT_EQ(ESS_WILD_match("a", nullptr), -1);
}

struct ParamListDeleter {
    void operator()(ESS_ParamList* l) const { ESS_ParamList_Delete(&l); }
};

TEST(EssParamList, NameAndTypeTogetherIdentifyAnEntry) {
    std::unique_ptr<ESS_ParamList, ParamListDeleter> list(ESS_ParamList_New());
    ASSERT_TRUE(list);
    ESS_ParamList* l = list.get();
    ASSERT_EQ(ESS_ParamList_SetString(l, "name", "first"), 0);
    ASSERT_EQ(ESS_ParamList_SetInt(l, "name", 42), 0);
    ASSERT_EQ(ESS_ParamList_SetString(l, "NAME", "second"), 0);  // replaces the string only

    char* text = nullptr;
    int value = 0;
    ASSERT_EQ(ESS_ParamList_GetString(l, "Name", &text), 0);
    EXPECT_STREQ(text, "second");
    ASSERT_EQ(ESS_ParamList_GetInt(l, "name", &value), 0);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(ESS_SET_GetNumberOfElements(l->m_pEss_Set), 2);

    void* block = nullptr;
    EXPECT_EQ(ESS_ParamList_GetObject(l, "name", &block, nullptr), -1);
    EXPECT_EQ(ESS_ParamList_SetString(l, "", "x"), -1);
    EXPECT_EQ(ESS_ParamList_SetString(l, "x", nullptr), -1);
}

TEST(EssParamList, ListsAndBlocksAreOwnedCopies) {
    std::unique_ptr<ESS_ParamList, ParamListDeleter> list(ESS_ParamList_New());
    ESS_ParamList* l = list.get();
    char a[] = "alpha";
    char b[] = "beta";
    char* texts[] = {a, b, nullptr, a};
    ASSERT_EQ(ESS_ParamList_SetStringList(l, "texts", texts, 4), 0);
    a[0] = 'X';
    char** stored = nullptr;
    int count = 0;
    ASSERT_EQ(ESS_ParamList_GetStringList(l, "texts", &stored, &count), 0);
    ASSERT_EQ(count, 2);  // copying stops at the first NULL text
    EXPECT_STREQ(stored[0], "alpha");

    int x = 1, y = 2;
    void* blocks[] = {&x, &y};
    ASSERT_EQ(ESS_ParamList_SetObjectList(l, "ints", blocks, 2, sizeof(int)), 0);
    void** got = nullptr;
    int each = 0;
    ASSERT_EQ(ESS_ParamList_GetObjectList(l, "ints", &got, &count, &each), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(each, static_cast<int>(sizeof(int)));
    EXPECT_EQ(*static_cast<int*>(got[1]), 2);
    EXPECT_NE(got[1], static_cast<void*>(&y));
}

TEST(EssParamList, WalkCutsIntoShortBuffersAndEnds) {
    std::unique_ptr<ESS_ParamList, ParamListDeleter> list(ESS_ParamList_New());
    ESS_ParamList* l = list.get();
    ASSERT_EQ(ESS_ParamList_SetString(l, "longname", "longvalue"), 0);
    char* texts[] = {const_cast<char*>("t")};
    ASSERT_EQ(ESS_ParamList_SetStringList(l, "list", texts, 1), 0);

    std::set<std::string> seen;
    int lists = 0;
    char name[5];
    char value[4];
    int size = sizeof value;
    int rc = ESS_ParamList_GetFirst(l, name, sizeof name, value, &size);
    for (int guard = 0; rc != ESS_END_OF_WALK && guard < 10; ++guard) {
        if (rc == -1) {
            ++lists;
        } else {
            ASSERT_EQ(rc, 0);
            EXPECT_STREQ(name, "long");
            EXPECT_EQ(size, 4);
            EXPECT_EQ(std::string(value, 4), "long");
            seen.insert(name);
        }
        size = sizeof value;
        rc = ESS_ParamList_GetNext(l, name, sizeof name, value, &size);
    }
    EXPECT_EQ(lists, 1);
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(ESS_ParamList_GetNext(l, name, sizeof name, value, &size), ESS_END_OF_WALK);
}

// A set of C strings, for the set's own operations.
int str_cmp(const void* a, const void* b) {
    return std::strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
}
void* str_cpy(const void* e) { return strdup(static_cast<const char*>(e)); }
char* str_lbl(const void* e) { return strdup(static_cast<const char*>(e)); }
void str_fre(void* e) { std::free(e); }

Ess_Set string_set(int buckets, std::initializer_list<const char*> items) {
    Ess_Set s = ESS_SET_Create(str_cmp, str_cpy, str_lbl, str_fre, buckets, 0);
    for (const char* i : items) EXPECT_EQ(ESS_SET_Add(s, i), 0);
    return s;
}

std::set<std::string> contents(Ess_Set s) {
    std::set<std::string> out;
    for (void* e = ESS_SET_First_Ptr(s); e; e = ESS_SET_Next_Ptr(s)) out.insert(static_cast<char*>(e));
    return out;
}

TEST(EssSet, KeepsOneCopyAndCombines) {
    Ess_Set a = string_set(3, {"x", "y", "z", "x"});
    Ess_Set b = string_set(7, {"y", "z", "w"});
    EXPECT_EQ(ESS_SET_GetNumberOfElements(a), 3);
    Ess_Set both = ESS_SET_Intersection(a, b);
    Ess_Set any = ESS_SET_Union(a, b);
    EXPECT_EQ(contents(both), (std::set<std::string>{"y", "z"}));
    EXPECT_EQ(contents(any), (std::set<std::string>{"w", "x", "y", "z"}));
    EXPECT_EQ(both->N_HASH, 7);

    EXPECT_EQ(ESS_SET_Remove(a, "y"), 0);
    EXPECT_EQ(ESS_SET_Remove(a, "y"), -1);
    EXPECT_EQ(ESS_SET_IsIn(a, "y"), 0);
    EXPECT_EQ(ESS_SET_Update(a, "x", "v"), 0);
    EXPECT_EQ(contents(a), (std::set<std::string>{"v", "z"}));
    for (Ess_Set* s : {&a, &b, &both, &any}) {
        ESS_SET_Destroy(s);
        EXPECT_EQ(*s, nullptr);
    }
}

TEST(EssSet, RemovingTheWalkedElementKeepsTheWalkSafe) {
    Ess_Set s = string_set(1, {"a", "b", "c"});  // one chain: c, b, a
    ASSERT_STREQ(static_cast<char*>(ESS_SET_First_Ptr(s)), "c");
    ASSERT_STREQ(static_cast<char*>(ESS_SET_Next_Ptr(s)), "b");
    ESS_SET_Remove(s, "b");
    EXPECT_STREQ(static_cast<char*>(ESS_SET_Next_Ptr(s)), "a");
    EXPECT_EQ(ESS_SET_Next_Ptr(s), nullptr);
    ESS_SET_Destroy(&s);
}

std::vector<std::string> walk(ESS_LIST_typ* list) {
    std::vector<std::string> out;
    ESS_LIST_reset(list);
    void* p = nullptr;
    int size = 0;
    while (ESS_LIST_next_ptr(list, &p, &size) == 0) out.emplace_back(static_cast<char*>(p));
    return out;
}

TEST(EssList, InsertsAroundTheCursorAndFreesItselfWhenEmpty) {
    ESS_LIST_typ* list = nullptr;
    EXPECT_EQ(ESS_LIST_next_ptr(list, nullptr, nullptr), ESS_LIST_END);
    ASSERT_EQ(ESS_LIST_insert(&list, "b", 2), 0);  // no cursor: at the head
    ASSERT_EQ(ESS_LIST_add_tail(&list, "d", 2), 0);
    ASSERT_EQ(ESS_LIST_add_head(&list, "a", 2), 0);
    EXPECT_EQ(walk(list), (std::vector<std::string>{"a", "b", "d"}));

    ESS_LIST_reset(list);
    ASSERT_EQ(ESS_LIST_insert(&list, "0", 2), 0);  // reset: no cursor, so at the head
    void* p;
    int size;
    ESS_LIST_reset(list);
    ESS_LIST_next_ptr(list, &p, &size);
    ESS_LIST_next_ptr(list, &p, &size);
    ESS_LIST_next_ptr(list, &p, &size);
    ASSERT_STREQ(static_cast<char*>(p), "b");
    ASSERT_EQ(ESS_LIST_insert(&list, "a2", 3), 0);  // before the cursor node
    EXPECT_EQ(walk(list), (std::vector<std::string>{"0", "a", "a2", "b", "d"}));
    EXPECT_EQ(ESS_LIST_count(list), 5);
    EXPECT_EQ(ESS_LIST_add_ptr_tail(&list, p), -1);  // a copying list takes no pointers

    char buf[2];
    size = sizeof buf;
    ESS_LIST_reset(list);
    ASSERT_EQ(ESS_LIST_next(list, buf, &size), 0);
    EXPECT_EQ(size, 2);
    size = 1;
    ASSERT_EQ(ESS_LIST_curr(list, buf, &size), 0);
    EXPECT_EQ(size, 1);  // cut to the room given
    ESS_LIST_clear(&list);
    EXPECT_EQ(list, nullptr);

    ASSERT_EQ(ESS_LIST_add_ptr_tail(&list, const_cast<char*>("only")), 0);
    ASSERT_EQ(ESS_LIST_next_ptr(list, &p, &size), 0);
    EXPECT_EQ(size, ESS_LIST_PTR_SIZE);
    ASSERT_EQ(ESS_LIST_delete_curr(&list), 0);
    EXPECT_EQ(list, nullptr);
}

TEST(EssArrays, CharArrayGrowsKeepingItsBytes) {
    struct Case {
        int initial;
        int first;
        int second;
    };
    const Case cases[] = {{8, 3, 5}, {8, 8, 1}, {0, 0, 4}, {4, 2, 1500}};
    for (const auto& c : cases) {
        ESS_CharArray* arr = ESS_NewCharArray(c.initial);
        std::string a(static_cast<size_t>(c.first), 'a');
        std::string b(static_cast<size_t>(c.second), 'b');
        ASSERT_NE(ESS_Add2CharArray(arr, a.data(), c.first), nullptr);
        const char* data = ESS_Add2CharArray(arr, b.data(), c.second);
        ASSERT_NE(data, nullptr);
        ASSERT_EQ(ESS_GetCharArrayLength(arr), c.first + c.second);
        EXPECT_EQ(std::string(data, static_cast<size_t>(c.first + c.second)), a + b) << c.initial;
        EXPECT_EQ(data[c.first + c.second], '\0');
        EXPECT_GT(arr->spacelen, 0);
        ESS_DeleteCharArray(arr);
    }
}

TEST(EssArrays, StringArrayGrowsPastItsStepAndSorts) {
    ESS_StringArray* arr = ESS_NewStringArray(2);
    for (int i = 45; i > 0; --i) ASSERT_EQ(ESS_Add2StringArray(arr, std::to_string(i).c_str()), 0);
    EXPECT_EQ(arr->cur, 45);
    EXPECT_EQ(arr->size, 82);
    EXPECT_EQ(ESS_GetArgvStringArray(arr)[45], nullptr);
    EXPECT_EQ(ESS_GetStrStringArray(arr, 45), nullptr);
    EXPECT_EQ(ESS_UpdateStringArray(arr, 45, "x"), -1);
    ASSERT_EQ(ESS_UpdateStringArray(arr, 0, "zz"), 0);
    ASSERT_EQ(ESS_SortStringArray(arr), 0);
    EXPECT_STREQ(ESS_GetStrStringArray(arr, 0), "1");
    EXPECT_STREQ(ESS_GetStrStringArray(arr, 44), "zz");
    ESS_StringArrayDelete(arr);
}

TEST(EssStrUtils, TrimSplitAndCompare) {
    char blanks[] = "   ";
    EXPECT_STREQ(ess_strUnpad(blanks), " ");
    char both[] = "  a b  ";
    EXPECT_STREQ(ess_strLeftRight_Unpad(both), "a b");

    int count = 0;
    char** items = nullptr;
    ASSERT_EQ(ess_strSplitItems("a,, b ", &count, &items, ','), 0);
    ASSERT_EQ(count, 3);
    EXPECT_STREQ(items[0], "a");
    EXPECT_STREQ(items[1], "");
    EXPECT_STREQ(items[2], "b");
    ess_strFreeArgv(count, items);

    char* value = nullptr;
    char* name = ess_strSplit2Name_Value(" key = a = b ", &value);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "key");
    EXPECT_STREQ(value, "a = b");
    std::free(name);
    EXPECT_EQ(ess_strSplit2Name_Value("novalue", &value), nullptr);

    EXPECT_EQ(ess_stricmp(nullptr, "a"), -1);
    EXPECT_EQ(ess_stricmp("a", nullptr), 1);
    EXPECT_EQ(ess_stricmp("ABC", "abc"), 0);
    EXPECT_EQ(ess_strincmp("ABCx", "abcy", 3), 0);
    const char* table[] = {"one", "Two"};
    EXPECT_EQ(ess_strWhichAttribute("TWO", table, 2), 1);
    EXPECT_EQ(ess_strWhichAttribute("three", table, 2), -1);
    EXPECT_EQ(ess_strIsDigit("0123"), 1);
    EXPECT_EQ(ess_strIsDigit(""), 0);
}

TEST(EssStrUtils, BoundedCopiesAndReplacements) {
    char out[8];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(ess_strncpy(out, "abcdefghij", 0), out);
    EXPECT_EQ(out[0], 'x');  // a length below 1 writes nothing
    EXPECT_STREQ(ess_strncpy(out, "abcdefghij", 4), "abc");
    EXPECT_EQ(ess_strncpy(nullptr, "a", 4), nullptr);

    struct Case {
        const char* input;
        const char* from;
        const char* to;
        int size;
        int rc;
        const char* out;
    };
    const Case cases[] = {
        {"a-b-c", "-", "+-", 16, 0, "a+-b+-c"},   {"a-b-c", "-", "", 16, 0, "a-b-c"},
        {"a-b-c", "-", nullptr, 16, 0, "a-b-c"},  {"a-b-c", "-", "+++", 8, -1, "a+++b++"},
        {"abcdefgh", "x", "y", 8, -1, "abcdefg"}, {"abcdefg", "x", "y", 8, 0, "abcdefg"},
    };
    for (const auto& c : cases) {
        char buf[16];
        EXPECT_EQ(ess_strReplacePattern(c.input, c.from, c.to, buf, c.size), c.rc) << c.input;
        EXPECT_STREQ(buf, c.out);
    }
    char s[] = "a.b.c";
    EXPECT_STREQ(ess_strReplaceChar(s, '.', '/'), "a/b/c");
    EXPECT_STREQ(ess_strRemoveChar(s, '/'), "abc");
    void* dup = nullptr;
    EXPECT_EQ(ess_bufdup("xy", 0, &dup), -1);
}

}  // namespace
