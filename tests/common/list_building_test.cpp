// Lists built by the loaders row by row: ten thousand rows come out complete, in order, counted and
// with the cursor before the first row (a value list holds at most 2047 characters, so it has no
// such case); the merge of two key lists (kept with an index of the keys)
// gives what a look-up and a set per row give, down to where the cursor ends; the key index of
// loops that set rows answers as the calls do.
#include <string>
#include <vector>

#include "gm_param.h"
#include "gm_param_internal.h"
#include "gm_xml.h"
#include "joined.h"
#include "testbed.h"
#include "zpaapi.h"
#include "zpalist.h"

namespace {

using testbed::AgentHomeTest;

constexpr int kRows = 10000;

std::string key_of(int i) {
    char key[16];
    std::snprintf(key, sizeof key, "K%05d", i);
    return key;
}

// The rows of a list by walking a copy of its handle (keys of flat rows, names of XML rows).
std::vector<std::string> first_fields(const ZPALIST_handle_typ& list) {
    std::vector<std::string> fields;
    ZPALIST_handle_typ walker = list;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) fields.emplace_back(static_cast<char*>(element));
    return fields;
}

::testing::AssertionResult built_in_order(const char* what, const ZPALIST_handle_typ& list) {
    if (list.count != kRows || ZPALIST_count(const_cast<ZPALIST_handle_typ*>(&list)) != kRows)
        return ::testing::AssertionFailure() << what << ": " << list.count << " rows";
    if (list.curr != nullptr)
        return ::testing::AssertionFailure() << what << ": the cursor is not before the first row";
    const std::vector<std::string> fields = first_fields(list);
    for (int i = 0; i < kRows; ++i)
        if (fields[i] != key_of(i))
            return ::testing::AssertionFailure() << what << ": row " << i << " is " << fields[i];
    return ::testing::AssertionSuccess();
}

TEST(RowBuilder, AppendsTenThousandKeyValueRowsInOrder) {
    ZPALIST_handle_typ list{};
    gm_param::RowBuilder rows(&list);
    for (int i = 0; i < kRows; ++i) ASSERT_EQ(rows.append(key_of(i).c_str(), "v"), CM_RC_OK);
    EXPECT_TRUE(built_in_order("row builder", list));
    GM_PARAM_list_clear(&list);
}

TEST_F(AgentHomeTest, LoadersBuildTenThousandRowsInOrder) {
    std::string flat, sectioned = "[S]\n", xml = "<UVSCM><BODY><ROWS>";
    for (int i = 0; i < kRows; ++i) {
        flat += key_of(i) + " value" + std::to_string(i) + "\n";
        sectioned += key_of(i) + " value" + std::to_string(i) + "\n";
        xml += testbed::joined("<", key_of(i), ">", i, "</", key_of(i), ">");
    }
    xml += "</ROWS></BODY></UVSCM>";
    home.write_file("data/FLAT.dat", flat);
    home.write_file("data/SECTIONS.dat", sectioned);

    ZPALIST_handle_typ list{};
    ASSERT_EQ(GM_PARAM_load_file(&list, "data/FLAT.dat"), CM_RC_OK);
    EXPECT_TRUE(built_in_order("flat table", list));
    GM_PARAM_list_clear(&list);

    ZPALIST_handle_typ sections{};
    ASSERT_EQ(GM_PARAM_subtable_load_file(&sections, "data/SECTIONS.dat"), CM_RC_OK);
    ZPALIST_handle_typ* rows = nullptr;
    ASSERT_EQ(GM_PARAM_subtable_list_find(&sections, "S", &rows), CM_RC_OK);
    EXPECT_TRUE(built_in_order("section", *rows));
    GM_PARAM_subtable_list_clear(&sections);

    ASSERT_EQ(GM_XML_ParseBuf2List(xml.c_str(), "ROWS", &list), CM_RC_OK);
    EXPECT_TRUE(built_in_order("XML rows", list));
    GM_PARAM_list_clear(&list);

    ZPAAttrList attrs{0, nullptr, 0};
    ASSERT_EQ(ZPAAPI_UTILS_xmlBuff2attr(xml.data(), const_cast<char*>("ROWS"), &attrs), 0);
    ASSERT_EQ(attrs.Count, kRows);
    EXPECT_STREQ(attrs.Attributes[kRows - 1].Name, key_of(kRows - 1).c_str());
    EXPECT_STREQ(attrs.Attributes[kRows - 1].Value, std::to_string(kRows - 1).c_str());
    ZPAAPI_utils_release_attr(&attrs);
}

// GM_PARAM_list_merge as its definition reads: a look-up and, unless found, a set for each row.
void merge_row_by_row(ZPALIST_handle_typ* dest, ZPALIST_handle_typ* source, int force) {
    ZPALIST_handle_typ walker = *source;
    ZPALIST_reset(&walker);
    char* key = nullptr;
    void* value = nullptr;
    while (GM_PARAM_list_next(&walker, &key, &value) == CM_RC_OK) {
        char* existing = nullptr;
        if (!force && GM_PARAM_list_get_ptr(dest, key, &existing) == CM_RC_OK) continue;
        GM_PARAM_list_set(dest, key, static_cast<char*>(value));
    }
}

std::vector<std::pair<std::string, std::string>> rows_and_cursor(const ZPALIST_handle_typ& list, std::string* cursor) {
    std::vector<std::pair<std::string, std::string>> rows;
    for (ZPALIST_entry_typ* e = list.first; e; e = e->next)
        rows.emplace_back(static_cast<char*>(e->ptr), static_cast<char*>(e->ptr) + sizeof(GM_PARAM_KEY_typ));
    *cursor = list.curr ? static_cast<char*>(list.curr->ptr) + std::string("=") +
                              (static_cast<char*>(list.curr->ptr) + sizeof(GM_PARAM_KEY_typ))
                        : "<before the first row>";
    return rows;
}

TEST(ListMerge, GivesWhatALookUpAndASetPerRowGive) {
    using Rows = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* what;
        Rows dest, source;
        int force;
    } cases[] = {
        {"new keys appended, known kept", {{"A", "1"}, {"B", "2"}}, {{"B", "x"}, {"C", "3"}, {"C", "4"}}, 0},
        {"forced: known set in place", {{"A", "1"}, {"B", "2"}, {"C", "9"}}, {{"B", "x"}, {"A", "y"}, {"D", "4"}}, 1},
        {"a DEFAULT row keeps everything", {{"DEFAULT", "d"}, {"A", "1"}}, {{"Z", "z"}, {"A", "a"}}, 0},
        {"a DEFAULT from the source stops the rest", {{"A", "1"}}, {{"DEFAULT", "d"}, {"Q", "q"}}, 0},
        {"duplicate keys: the first row counts", {{"A", "1"}, {"A", "2"}}, {{"A", "x"}, {"A", "y"}}, 1},
        {"into an empty list", {}, {{"A", "1"}, {"A", "2"}}, 1},
        {"from an empty list", {{"A", "1"}}, {}, 0},
    };
    for (const Case& c : cases) {
        ZPALIST_handle_typ expected{}, merged{}, source{};
        for (const auto& [k, v] : c.dest) {
            GM_PARAM_list_append(&expected, k.c_str(), v.c_str());
            GM_PARAM_list_append(&merged, k.c_str(), v.c_str());
        }
        for (const auto& [k, v] : c.source) GM_PARAM_list_append(&source, k.c_str(), v.c_str());
        // The same cursor on both lists before the merge: on the first row.
        expected.curr = expected.first;
        merged.curr = merged.first;
        merge_row_by_row(&expected, &source, c.force);
        EXPECT_EQ(GM_PARAM_list_merge(&merged, &source, c.force), CM_RC_OK);
        std::string expected_cursor, merged_cursor;
        EXPECT_EQ(rows_and_cursor(merged, &merged_cursor), rows_and_cursor(expected, &expected_cursor)) << c.what;
        EXPECT_EQ(merged_cursor, expected_cursor) << c.what;
        EXPECT_EQ(merged.count, expected.count) << c.what;
        for (ZPALIST_handle_typ* l : {&expected, &merged, &source}) GM_PARAM_list_clear(l);
    }
}

TEST(RowBuilder, PassesOverRowsOtherCallsAppended) {
    ZPALIST_handle_typ list{};
    zpalist::Builder rows(&list);  // on the empty list
    ASSERT_EQ(ZPALIST_append(&list, const_cast<char*>("a"), 2), CM_RC_OK);
    ASSERT_EQ(rows.append("b", 2), CM_RC_OK);
    ASSERT_EQ(ZPALIST_append(&list, const_cast<char*>("c"), 2), CM_RC_OK);
    ASSERT_EQ(ZPALIST_append(&list, const_cast<char*>("d"), 2), CM_RC_OK);
    ASSERT_EQ(rows.append("e", 2), CM_RC_OK);
    EXPECT_EQ(first_fields(list), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(list.count, 5);
    ZPALIST_clear(&list);
}

// The bytes and size of every element of a list, in order.
std::vector<std::string> elements(const ZPALIST_handle_typ& list) {
    std::vector<std::string> out;
    for (const ZPALIST_entry_typ* e = list.first; e != nullptr; e = e->next)
        out.emplace_back(static_cast<const char*>(e->ptr),
                         static_cast<std::size_t>(e->size) + 1);  // with the zero byte behind
    return out;
}

// An element given in pieces is the element of their bytes joined, zero byte behind included.
TEST(RowBuilder, PiecesMakeTheElementOfTheirJoinedBytes) {
    const std::vector<std::vector<std::string>> cases = {{},
                                                         {""},
                                                         {"a"},
                                                         {"ab", "", "cd"},
                                                         {std::string("k\0\0", 3), "value", std::string(1, '\0')},
                                                         {std::string(5000, 'x'), "y"}};
    ZPALIST_handle_typ pieced{}, joined{};
    zpalist::Builder rows(&pieced);
    for (const auto& pieces : cases) {
        std::string all;
        for (const std::string& p : pieces) all += p;
        switch (pieces.size()) {
        case 0: ASSERT_EQ(rows.append({}), CM_RC_OK); break;
        case 1: ASSERT_EQ(rows.append({pieces[0]}), CM_RC_OK); break;
        case 2: ASSERT_EQ(rows.append({pieces[0], pieces[1]}), CM_RC_OK); break;
        default: ASSERT_EQ(rows.append({pieces[0], pieces[1], pieces[2]}), CM_RC_OK); break;
        }
        ASSERT_EQ(ZPALIST_append(&joined, all.data(), static_cast<unsigned int>(all.size())), CM_RC_OK);
    }
    EXPECT_EQ(elements(pieced), elements(joined));
    EXPECT_EQ(pieced.count, joined.count);
    ZPALIST_clear(&pieced);
    ZPALIST_clear(&joined);
}

// The builder's rows are those of GM_PARAM_list_append: key cut to 63 characters in its 64-byte
// field, value cut to 4095 characters.
TEST(RowBuilder, RowsAreThoseOfTheListAppend) {
    const std::vector<std::pair<std::string, std::string>> cases = {{"KEY", "value"},
                                                                    {"", ""},
                                                                    {std::string(63, 'k'), "v"},
                                                                    {std::string(70, 'k'), "v"},
                                                                    {"LONG", std::string(4095, 'v')},
                                                                    {"LONGER", std::string(5000, 'v')}};
    ZPALIST_handle_typ built{}, appended{};
    gm_param::RowBuilder rows(&built);
    for (const auto& [key, value] : cases) {
        ASSERT_EQ(rows.append(key.c_str(), value.c_str()), CM_RC_OK);
        ASSERT_EQ(GM_PARAM_list_append(&appended, key.c_str(), value.c_str()), CM_RC_OK);
    }
    EXPECT_EQ(elements(built), elements(appended));
    GM_PARAM_list_clear(&built);
    GM_PARAM_list_clear(&appended);
}

// The index that loops keep for their look-ups and sets answers, step by step, as the calls do:
// same results, same rows, same cursor.
TEST(KeyedRows, AnswersAsGetSetAndAppendDo) {
    using Rows = std::vector<std::pair<std::string, std::string>>;
    enum class Op { find, set, append };
    struct Step {
        Op op;
        std::string key;
        const char* value;
    };
    const std::string long_key(70, 'L');
    const struct {
        const char* what;
        Rows start;
        std::vector<Step> steps;
    } cases[] = {
        {"sets in place and at the end",
         {{"A", "1"}, {"B", "2"}, {"A", "3"}},
         {{Op::set, "A", "x"},
          {Op::set, "C", "y"},
          {Op::set, "B", "z"},
          {Op::find, "A", nullptr},
          {Op::find, "Q", nullptr}}},
        {"the last DEFAULT row answers for a missing key",
         {{"DEFAULT", "d1"}, {"A", "1"}},
         {{Op::find, "Z", nullptr},
          {Op::append, "DEFAULT", "d2"},
          {Op::find, "Z", nullptr},
          {Op::set, "DEFAULT", "d3"},
          {Op::find, "Z", nullptr},
          {Op::find, "DEFAULT", nullptr}}},
        {"appends keep the first row of a key",
         {},
         {{Op::find, "K", nullptr},
          {Op::append, "K", "1"},
          {Op::append, "K", "2"},
          {Op::find, "K", nullptr},
          {Op::set, "K", "3"},
          {Op::set, "K", "4"},
          {Op::find, "K", nullptr}}},
        {"keys cut to 63 characters as the calls cut them",
         {},
         {{Op::set, long_key, "1"},
          {Op::set, long_key, "2"},
          {Op::find, long_key, nullptr},
          {Op::find, long_key.substr(0, 63), nullptr},
          {Op::append, long_key, "3"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ZPALIST_handle_typ expected{}, indexed{};
        for (const auto& [k, v] : c.start) {
            GM_PARAM_list_append(&expected, k.c_str(), v.c_str());
            GM_PARAM_list_append(&indexed, k.c_str(), v.c_str());
        }
        gm_param::KeyedRows rows(&indexed);
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            SCOPED_TRACE(i);
            if (step.op == Op::find) {
                char* want = nullptr;
                const CM_RC rc = GM_PARAM_list_get_ptr(&expected, step.key.c_str(), &want);
                char* got = rows.find(step.key.c_str());
                EXPECT_EQ(got != nullptr, rc == CM_RC_OK);
                if (got && want) {
                    EXPECT_STREQ(got, want);
                }
            } else if (step.op == Op::set) {
                EXPECT_EQ(rows.set(step.key.c_str(), step.value),
                          GM_PARAM_list_set(&expected, step.key.c_str(), step.value));
            } else {
                EXPECT_EQ(rows.append(step.key.c_str(), step.value),
                          GM_PARAM_list_append(&expected, step.key.c_str(), step.value));
            }
            std::string expected_cursor, indexed_cursor;
            EXPECT_EQ(rows_and_cursor(indexed, &indexed_cursor), rows_and_cursor(expected, &expected_cursor));
            EXPECT_EQ(indexed_cursor, expected_cursor);
            EXPECT_EQ(indexed.count, expected.count);
        }
        GM_PARAM_list_clear(&expected);
        GM_PARAM_list_clear(&indexed);
    }
}

TEST(ListMerge, TenThousandRowsIntoTenThousand) {
    ZPALIST_handle_typ dest{}, source{};
    for (int i = 0; i < kRows; ++i) GM_PARAM_list_append(&dest, key_of(2 * i).c_str(), "old");
    for (int i = 0; i < kRows; ++i) GM_PARAM_list_append(&source, key_of(i).c_str(), "new");
    ASSERT_EQ(GM_PARAM_list_merge(&dest, &source, 0), CM_RC_OK);
    EXPECT_EQ(dest.count, kRows + kRows / 2);  // the odd keys below 2 * kRows are new
    char value[8] = "";
    ASSERT_EQ(GM_PARAM_list_get(&dest, key_of(2).c_str(), value, sizeof value), CM_RC_OK);
    EXPECT_STREQ(value, "old");
    ASSERT_EQ(GM_PARAM_list_get(&dest, key_of(kRows - 1).c_str(), value, sizeof value), CM_RC_OK);
    EXPECT_STREQ(value, "new");
    GM_PARAM_list_clear(&dest);
    GM_PARAM_list_clear(&source);
}

}  // namespace
