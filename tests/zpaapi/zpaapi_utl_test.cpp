// Attribute lists of the plug-in interface: lookups, result slots, appends, conversions, release,
// printing, the one-text form and the error record.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "gm_param.h"
#include "os_diag.h"
#include "testbed.h"
#include "zpaapi.h"

using testbed::AgentHomeTest;

// The agent compiles against these layouts.
static_assert(offsetof(ZPAAttr, Name) == 0 && offsetof(ZPAAttr, ValueLen) == 8 && offsetof(ZPAAttr, Value) == 16);
static_assert(sizeof(ZPAAttr) == 24 && sizeof(unsigned short) == 2);
static_assert(offsetof(ZPAAttrList, Count) == 0 && offsetof(ZPAAttrList, Attributes) == 8 &&
              offsetof(ZPAAttrList, Curr) == 16);
static_assert(sizeof(ZPAErrorCode) == 4 && sizeof(ZPAErrorText) == 999);
static_assert(offsetof(ZPAError, code) == 0 && offsetof(ZPAError, text) == 4);

namespace {

// A list the way the agent owns one: names and values in storage of the test, slots sized at will.
class AgentList {
public:
    // value_room 0 means "value length + 1".
    void add(const char* name, const std::string& value, unsigned short value_room = 0) {
        names_.push_back(name ? std::string(name) : std::string());
        has_name_.push_back(name != nullptr);
        unsigned short room = value_room ? value_room : static_cast<unsigned short>(value.size() + 1);
        std::string storage(room, '\0');
        std::memcpy(storage.data(), value.data(), std::min<size_t>(value.size(), room));
        values_.push_back(storage);
        rooms_.push_back(room);
    }
    ZPAAttrList* list() {
        attrs_.clear();
        for (size_t i = 0; i < names_.size(); ++i)
            attrs_.push_back({has_name_[i] ? names_[i].data() : nullptr, rooms_[i], values_[i].data()});
        list_ = {static_cast<int>(attrs_.size()), attrs_.data(), 0};
        return &list_;
    }
    ZPAAttr* array() { return attrs_.data(); }

private:
    std::vector<std::string> names_, values_;
    std::vector<bool> has_name_;
    std::vector<unsigned short> rooms_;
    std::vector<ZPAAttr> attrs_;
    ZPAAttrList list_{};
};

char* cs(const char* text) { return const_cast<char*>(text); }

using Lookup = std::function<ZPARC(ZPAAttrList*, char*, char**, char**)>;

Lookup plain(ZPARC (*f)(ZPAAttrList*, char*, char**)) {
    return [f](ZPAAttrList* l, char* w, char** n, char** v) {
        *n = nullptr;
        return f(l, w, v);
    };
}

struct LookupCase {
    const char* label;
    Lookup fn;
    const char* wanted;
    int curr_before;
    ZPARC rc;
    const char* value;  // expected value on a hit
    const char* name;   // expected stored name (members that return it), else null
    int curr_after;
};

}  // namespace

TEST(AttrListLookup, FollowTheJobVariableRuleScanDirectionAndCursorTable) {
    AgentList agent;
    agent.add("%%JOBNAME", "A");     // 0
    agent.add("ORDERNO", "1");       // 1
    agent.add("NODEID", "n1");       // 2
    agent.add("%%PARM1", "p1");      // 3
    agent.add("%%PARM2", "p2");      // 4
    agent.add("ORDERNO", "2");       // 5
    agent.add("NODE_GROUP", "g");    // 6
    agent.add(nullptr, "nameless");  // 7: never matches
    const std::vector<LookupCase> cases = {
        {"plain name finds job variable", plain(ZPAAPI_UTILS_AttrListValueGet), "JOBNAME", 5, 0, "A", nullptr, 5},
        {"prefixed name finds job variable", plain(ZPAAPI_UTILS_AttrListValueGet), "%%JOBNAME", 5, 0, "A", nullptr, 5},
        {"prefixed name misses plain name", plain(ZPAAPI_UTILS_AttrListValueGet), "%%ORDERNO", 5, 2, nullptr, nullptr,
         5},
        {"no-autoedits misses job variable", plain(ZPAAPI_UTILS_AttrListValueGetNoAutoedits), "JOBNAME", 0, 2, nullptr,
         nullptr, 0},
        {"no-autoedits exact prefixed", plain(ZPAAPI_UTILS_AttrListValueGetNoAutoedits), "%%JOBNAME", 0, 0, "A",
         nullptr, 0},
        {"first occurrence wins", plain(ZPAAPI_UTILS_AttrListValueGet), "ORDERNO", 0, 0, "1", nullptr, 0},
        {"last scans downward", plain(ZPAAPI_UTILS_AttrListValueGetLast), "ORDERNO", 3, 0, "2", nullptr, 3},
        {"reset index hit", plain(ZPAAPI_UTILS_AttrListResetIndex), "ORDERNO", 4, 0, "1", nullptr, 1},
        {"reset index miss leaves 0", plain(ZPAAPI_UTILS_AttrListResetIndex), "MISSING", 4, 2, nullptr, nullptr, 0},
        {"next after cursor", plain(ZPAAPI_UTILS_AttrListValueGetNext), "ORDERNO", 1, 0, "2", nullptr, 5},
        {"next miss keeps cursor", plain(ZPAAPI_UTILS_AttrListValueGetNext), "ORDERNO", 5, 2, nullptr, nullptr, 5},
        {"next from last index", plain(ZPAAPI_UTILS_AttrListValueGetNext), "NODEID", 7, 2, nullptr, nullptr, 7},
        {"prev before cursor", plain(ZPAAPI_UTILS_AttrListValueGetPrev), "ORDERNO", 5, 0, "1", nullptr, 1},
        {"prev from 0", plain(ZPAAPI_UTILS_AttrListValueGetPrev), "JOBNAME", 0, 2, nullptr, nullptr, 0},
        {"prev from past the end", plain(ZPAAPI_UTILS_AttrListValueGetPrev), "ORDERNO", 99, 0, "2", nullptr, 5},
        {"substring under the rule", ZPAAPI_UTILS_AttrListValueGetSubname, "PARM", 6, 0, "p1", "%%PARM1", 6},
        {"substring of stripped name", ZPAAPI_UTILS_AttrListValueGetSubname, "%JOB", 0, 2, nullptr, nullptr, 0},
        {"substring with prefix unchanged", ZPAAPI_UTILS_AttrListValueGetSubname, "%%PAR", 0, 0, "p1", "%%PARM1", 0},
        {"substring reset", ZPAAPI_UTILS_AttrListResetIndexSubname, "PARM", 6, 0, "p1", "%%PARM1", 3},
        {"substring next", ZPAAPI_UTILS_AttrListValueGetNextSubname, "NODE", 2, 0, "g", "NODE_GROUP", 6},
        {"substring prev", ZPAAPI_UTILS_AttrListValueGetPrevSubname, "PARM", 6, 0, "p2", "%%PARM2", 4},
        {"prefix", ZPAAPI_UTILS_AttrListValueGetPrefix, "NODE", 6, 0, "n1", "NODEID", 6},
        {"prefix has no job-variable rule", ZPAAPI_UTILS_AttrListValueGetPrefix, "PARM", 0, 2, nullptr, nullptr, 0},
        {"prefix with %%", ZPAAPI_UTILS_AttrListValueGetPrefix, "%%P", 0, 0, "p1", "%%PARM1", 0},
        {"prefix next", ZPAAPI_UTILS_AttrListValueGetNextPrefix, "%%P", 3, 0, "p2", "%%PARM2", 4},
        {"prefix prev", ZPAAPI_UTILS_AttrListValueGetPrevPrefix, "NODE", 6, 0, "n1", "NODEID", 2},
        {"prefix reset miss", ZPAAPI_UTILS_AttrListResetIndexPrefix, "X", 6, 2, nullptr, nullptr, 0},
    };
    for (const LookupCase& c : cases) {
        SCOPED_TRACE(c.label);
        ZPAAttrList* list = agent.list();
        list->Curr = c.curr_before;
        char* name = cs("untouched");
        char* value = cs("untouched");
        EXPECT_EQ(c.fn(list, cs(c.wanted), &name, &value), c.rc);
        EXPECT_EQ(list->Curr, c.curr_after);
        EXPECT_STREQ(value, c.rc == 0 ? c.value : "untouched");
        if (c.name) {
            EXPECT_STREQ(name, c.name);
        }
    }
}

TEST(AttrListLookup, NullListIsInvalidForEveryMember) {
    char* name = nullptr;
    char* value = nullptr;
    int size = 0;
    EXPECT_EQ(ZPAAPI_UTILS_AttrListValueGet(nullptr, cs("A"), &value), 1);
    EXPECT_EQ(ZPAAPI_UTILS_AttrListValueGetNextPrefix(nullptr, cs("A"), &name, &value), 1);
    EXPECT_EQ(ZPAAPI_UTILS_AttrListValueSizeGet(nullptr, cs("A"), &size), 1);
    EXPECT_EQ(ZPAAPI_UTILS_AttrListReset(nullptr), 1);
    EXPECT_EQ(ZPAAPI_UTILS_AttrListNext(nullptr, &name, &value), 1);
    EXPECT_EQ(ZPAAPI_UTILS_AttrListValueSet(nullptr, cs("A"), cs("v")), 1);
}

TEST(AttrListSlot, WriteIsCutToTheSlotsRoomAndPaddedWithNuls) {
    AgentList agent;
    agent.add("%%JOBNAME", "x");
    agent.add("STATUS", "", 5);
    agent.add("EMPTY", "", 1);
    ZPAAttrList* list = agent.list();
    ZPAAttr* slot = &list->Attributes[1];

    EXPECT_EQ(ZPAAPI_UTILS_AttrListValueSet(list, cs("STATUS"), cs("ABCDEFG")), 0);
    EXPECT_EQ(std::string(slot->Value, 5), std::string("ABCD\0", 5));
    int size = -1;
    EXPECT_EQ(ZPAAPI_UTILS_AttrListValueSizeGet(list, cs("STATUS"), &size), 0);
    EXPECT_EQ(size, 4);

    EXPECT_EQ(ZPAAPI_UTILS_AttrListValueSet(list, cs("STATUS"), cs("AB")), 0);
    EXPECT_EQ(std::string(slot->Value, 5), std::string("AB\0\0\0", 5));

    EXPECT_EQ(ZPAAPI_UTILS_AttrListValueSet(list, cs("EMPTY"), cs("Z")), 0);
    EXPECT_EQ(list->Attributes[2].Value[0], '\0');

    // The write has no job-variable rule and never appends.
    EXPECT_EQ(ZPAAPI_UTILS_AttrListValueSet(list, cs("JOBNAME"), cs("y")), 2);
    EXPECT_EQ(list->Count, 3);
    EXPECT_STREQ(list->Attributes[0].Value, "x");
}

TEST(AttrListSlot, SizeOfASlotWithoutRoomIsZero) {
    AgentList agent;
    agent.add("NOROOM", "", 1);
    ZPAAttrList* list = agent.list();
    list->Attributes[0].ValueLen = 0;
    int size = -1;
    EXPECT_EQ(ZPAAPI_UTILS_AttrListValueSizeGet(list, cs("NOROOM"), &size), 0);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(ZPAAPI_UTILS_AttrListValueSet(list, cs("NOROOM"), cs("abc")), 0);
    EXPECT_EQ(list->Attributes[0].Value[0], '\0');
}

TEST(AttrListWalk, NextPastTheEndStillMovesTheCursorAndResetBringsItBack) {
    AgentList agent;
    agent.add("A", "1");
    agent.add("B", "2");
    ZPAAttrList* list = agent.list();
    char* name = nullptr;
    char* value = nullptr;
    EXPECT_EQ(ZPAAPI_UTILS_AttrListNext(list, &name, &value), 0);
    EXPECT_STREQ(name, "A");
    EXPECT_EQ(ZPAAPI_UTILS_AttrListNext(list, &name, &value), 0);
    EXPECT_STREQ(value, "2");
    EXPECT_EQ(ZPAAPI_UTILS_AttrListNext(list, &name, &value), 2);
    EXPECT_EQ(list->Curr, 3);
    EXPECT_EQ(ZPAAPI_UTILS_AttrListReset(list), 0);
    EXPECT_EQ(list->Curr, 0);
}

TEST(AttrListAppend, ValueAppendKeepsEarlierValuePointersValid) {
    AgentList agent;
    agent.add("A", "1");
    agent.add("SLOT", "ab", 10);
    agent.add("C", "3");
    ZPAAttrList* list = agent.list();
    ZPAAttr* old_array = list->Attributes;
    list->Curr = 2;
    char* before = nullptr;
    ASSERT_EQ(ZPAAPI_UTILS_AttrListValueGet(list, cs("A"), &before), 0);

    ASSERT_EQ(ZPAAPI_UTILS_AttrListAppend_Value2Attr(list, cs("%%NEW"), cs("value")), 0);
    EXPECT_EQ(list->Count, 4);
    EXPECT_EQ(list->Curr, 0);
    EXPECT_NE(list->Attributes, old_array);
    EXPECT_STREQ(list->Attributes[3].Name, "%%NEW");
    EXPECT_STREQ(list->Attributes[3].Value, "value");
    EXPECT_EQ(list->Attributes[3].ValueLen, 6);
    // The copy of a result slot keeps its room, so a later write can still fill it.
    EXPECT_EQ(list->Attributes[1].ValueLen, 10);
    EXPECT_EQ(ZPAAPI_UTILS_AttrListValueSet(list, cs("SLOT"), cs("123456789xyz")), 0);
    EXPECT_STREQ(list->Attributes[1].Value, "123456789");
    // The agent's array and values are neither freed nor changed.
    EXPECT_STREQ(before, "1");
    EXPECT_STREQ(old_array[1].Value, "ab");
    EXPECT_EQ(ZPAAPI_utils_release_attr(list), 0);
    EXPECT_EQ(list->Count, 0);
    EXPECT_EQ(list->Attributes, nullptr);
}

TEST(AttrListAppend, ListAppendPutsTheTargetsAttributesFirst) {
    AgentList to, from;
    to.add("T1", "a");
    to.add("T2", "b");
    to.add("T3", "c");
    from.add("F1", "x");
    from.add("F2", "y");
    ZPAAttrList* target = to.list();
    ZPAAttrList* source = from.list();
    ZPAAttr* source_array = source->Attributes;
    ASSERT_EQ(ZPAAPI_UTILS_AttrListAppend_Attr2Attr(source, target), 0);
    ASSERT_EQ(target->Count, 5);
    const char* names[] = {"T1", "T2", "T3", "F1", "F2"};
    for (int i = 0; i < 5; ++i) EXPECT_STREQ(target->Attributes[i].Name, names[i]);
    EXPECT_EQ(source->Count, 2);
    EXPECT_EQ(source->Attributes, source_array);
    EXPECT_EQ(ZPAAPI_UTILS_AttrListAppend_Attr2Attr(nullptr, target), 1);
    ZPAAPI_utils_release_attr(target);
}

TEST(AttrListConvert, KeyValueListBecomesAttributesWithoutMovingTheCallersCursor) {
    ZPALIST_handle_typ rows{};
    ASSERT_EQ(GM_PARAM_list_append(&rows, "ALPHA", "1"), 1);
    ASSERT_EQ(GM_PARAM_list_append(&rows, "BETA", "two words"), 1);
    char* key = nullptr;
    void* value = nullptr;
    ASSERT_EQ(GM_PARAM_list_next(&rows, &key, &value), 1);  // caller's cursor on ALPHA
    ZPAAttrList list{0, nullptr, 7};
    ASSERT_EQ(ZPAAPI_UTILS_list2attr(&rows, &list), 0);
    ASSERT_EQ(list.Count, 2);
    EXPECT_EQ(list.Curr, 7);
    EXPECT_STREQ(list.Attributes[1].Name, "BETA");
    EXPECT_STREQ(list.Attributes[1].Value, "two words");
    EXPECT_EQ(list.Attributes[1].ValueLen, 10);
    EXPECT_EQ(rows.curr, rows.first);
    ZPAAPI_utils_release_attr(&list);
    ZPALIST_clear(&rows);

    ZPALIST_handle_typ empty{};
    ZPAAttrList none{};
    EXPECT_EQ(ZPAAPI_UTILS_list2attr(&empty, &none), 0);
    EXPECT_EQ(none.Count, 0);
}

TEST_F(AgentHomeTest, ParameterTableBecomesAttributesAndAMissingFileLeavesTheListAlone) {
    home.write_file("data/MYTAB.dat", "# comment\nalpha=1\nBeta two words\n");
    ZPAAttrList list{};
    ASSERT_EQ(ZPAAPI_UTILS_param2attr(cs("MYTAB"), &list), 0);
    ASSERT_EQ(list.Count, 2);
    EXPECT_STREQ(list.Attributes[0].Name, "ALPHA");
    EXPECT_STREQ(list.Attributes[1].Value, "two words");
    ZPAAPI_utils_release_attr(&list);

    ZPAAttr marker{};
    ZPAAttrList untouched{1, &marker, 0};
    EXPECT_EQ(ZPAAPI_UTILS_param2attr(cs("NOSUCH"), &untouched), 0);
    EXPECT_EQ(untouched.Count, 1);
    EXPECT_EQ(untouched.Attributes, &marker);
    EXPECT_EQ(ZPAAPI_UTILS_param2attr(cs("MYTAB"), nullptr), 1);
}

TEST(AttrListConvert, XmlLeavesUnderTheParentBecomeAttributes) {
    const char* xml =
        "<?xml version='1.0'?><UVSCM><HEADER><ACTION>GetPrinters</ACTION></HEADER>"
        "<BODY><DUZ-ACCOUNT>acc1</DUZ-ACCOUNT><FILTER><NAME>p*</NAME></FILTER><EMPTY/></BODY></UVSCM>";
    ZPAAttrList list{};
    ASSERT_EQ(ZPAAPI_UTILS_xmlBuff2attr(cs(xml), cs("UVSCM"), &list), 0);
    ASSERT_EQ(list.Count, 4);
    const char* expected[][2] = {{"ACTION", "GetPrinters"}, {"DUZ-ACCOUNT", "acc1"}, {"NAME", "p*"}, {"EMPTY", ""}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(list.Attributes[i].Name, expected[i][0]);
        EXPECT_STREQ(list.Attributes[i].Value, expected[i][1]);
    }
    ZPAAPI_utils_release_attr(&list);

    // No children under the parent: an empty list and 1; a malformed text: 1.
    EXPECT_EQ(ZPAAPI_UTILS_xmlBuff2attr(cs("<UVSCM></UVSCM>"), cs("UVSCM"), &list), 1);
    EXPECT_EQ(list.Count, 0);
    EXPECT_EQ(ZPAAPI_UTILS_xmlBuff2attr(cs("<UVSCM><A>1</B></UVSCM>"), cs("UVSCM"), &list), 1);
    EXPECT_EQ(list.Count, 0);
}

TEST(AttrListRelease, EmptyNullAndArraylessListsAreHandledWithoutFreeing) {
    ZPAAttrList empty{0, nullptr, 3};
    EXPECT_EQ(ZPAAPI_utils_release_attr(&empty), 0);
    EXPECT_EQ(empty.Curr, 3);
    EXPECT_EQ(ZPAAPI_utils_release_attr(nullptr), 1);
    EXPECT_EQ(ZPAAPI_utils_release_whole_attr(nullptr), 1);
    ZPAAttrList broken{2, nullptr, 0};
    EXPECT_EQ(ZPAAPI_utils_release_attr(&broken), 1);
    EXPECT_EQ(ZPAAPI_utils_release_whole_attr(&broken), 1);
}

TEST_F(AgentHomeTest, PrintedListHidesSecretValuesAndCutsLongOnes) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    AgentList agent;
    agent.add("PASSWORD", "secret1");
    agent.add("INSTREAM_SCRIPT", "secret2");
    agent.add("DB_PASSWD", "secret3");
    agent.add("APPSPassword", "secret4");
    agent.add("NEW_KEY", "secret5");  // key material
    agent.add("CP_DATA", "secret6");  // a central profile: an account with its password
    agent.add("A", std::string(600, 'v'));
    DIAG_set_active_level(4);
    EXPECT_EQ(ZPAAPI_utils_print_attr(agent.list()), 0);
    DIAG_set_active_level(0);
    const std::string log = testbed::read_diag_log("Oebs_CM");
    EXPECT_EQ(log.find("secret"), std::string::npos);
    EXPECT_NE(log.find("Attributes begin\n"), std::string::npos);
    EXPECT_NE(log.find("\tPASSWORD = Private Data\n"), std::string::npos);
    EXPECT_NE(log.find("\tA        = " + std::string(500, 'v') + "\n"), std::string::npos);
    EXPECT_NE(log.find("Attributes end\n"), std::string::npos);

    // Turning a table's rows into attributes traces each row at level 6, secrets masked.
    DIAG_set_debug_level(6);
    ZPALIST_handle_typ rows{};
    GM_PARAM_list_append(&rows, "DB_PASSWD", "secret7");
    GM_PARAM_list_append(&rows, "DB_SID", "VIS");
    ZPAAttrList attrs{0, nullptr, 0};
    ASSERT_EQ(ZPAAPI_UTILS_list2attr(&rows, &attrs), 0);
    ZPAAPI_utils_release_attr(&attrs);
    GM_PARAM_list_clear(&rows);
    const std::string traced = testbed::read_diag_log("Oebs_CM");
    EXPECT_EQ(traced.find("secret"), std::string::npos);
    EXPECT_NE(traced.find("Parameter -> Key:'DB_PASSWD', Value:'Private Data'"), std::string::npos);
    EXPECT_NE(traced.find("Parameter -> Key:'DB_SID', Value:'VIS'"), std::string::npos);
}

TEST(AttrListSerialize, TextsOfListsTable) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> attrs;
        const char* text;
    };
    const std::vector<Case> cases = {
        {{{"A", "1"}, {"B", "x"}}, "2ATTR_DELIMA^#^1ATTR_DELIMB^#^x"},
        {{}, "0ATTR_DELIM"},
        {{{"INSTREAM_SCRIPT", "abc"}}, "1ATTR_DELIMINSTREAM_SCRIPT^#^Private Data"},
        {{{"%%PARM1", ""}, {"PASSWORD", "pw"}}, "2ATTR_DELIM%%PARM1^#^ATTR_DELIMPASSWORD^#^pw"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        AgentList agent;
        for (auto& [n, v] : c.attrs) agent.add(n, v);
        ZPAAttrList* list = agent.list();
        ZPAAttr dummy{};
        if (c.attrs.empty()) list->Attributes = &dummy;
        list->Curr = 5;
        char* text = nullptr;
        ASSERT_EQ(ZPAPI_UTILS_serialize_attr_list(list, &text), 0);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(list->Curr, 0);
        std::free(text);
    }
    ZPAAttrList arrayless{0, nullptr, 0};
    char* text = nullptr;
    EXPECT_EQ(ZPAPI_UTILS_serialize_attr_list(&arrayless, &text), 1);
}

TEST(AttrListSerialize, TextReadsBackIntoSeparatelyAllocatedAttributes) {
    AgentList agent;
    agent.add("%%ORDERNO", "0001x");
    agent.add("INSTREAM_SCRIPT", "echo hi");
    agent.add("EMPTY", "");
    char* text = nullptr;
    ASSERT_EQ(ZPAPI_UTILS_serialize_attr_list(agent.list(), &text), 0);
    ZPAAttrList back{};
    ASSERT_EQ(ZPAPI_UTILS_deserialize_attr_list(text, &back), 0);
    std::free(text);
    ASSERT_EQ(back.Count, 3);
    EXPECT_STREQ(back.Attributes[0].Name, "%%ORDERNO");
    EXPECT_STREQ(back.Attributes[0].Value, "0001x");
    EXPECT_EQ(back.Attributes[0].ValueLen, 6);
    EXPECT_STREQ(back.Attributes[1].Value, "Private Data");
    EXPECT_STREQ(back.Attributes[2].Value, "");
    EXPECT_EQ(ZPAAPI_utils_release_whole_attr(&back), 0);
}

TEST(AttrListSerialize, RefusedTextsLeaveAnEmptyList) {
    const std::vector<std::string> refused = {
        "",
        "0ATTR_DELIM",
        "no delimiter at all",
        "2ATTR_DELIMA^#^1ATTR_DELIMB",
        "xATTR_DELIMA^#^1",
        "-1ATTR_DELIMA^#^1",
        "1234567890123456ATTR_DELIMA^#^1",
        "8888888888888888888888888ATTR_DELIMA^#^1",
        "1ATTR_DELIM" + std::string(4200, 'n') + "^#^v",  // the delimiter lies beyond one piece
    };
    for (const std::string& text : refused) {
        SCOPED_TRACE(text.substr(0, 40));
        ZPAAttrList list{};
        EXPECT_EQ(ZPAPI_UTILS_deserialize_attr_list(const_cast<char*>(text.c_str()), &list), 1);
        EXPECT_EQ(list.Count, 0);
        EXPECT_EQ(list.Attributes, nullptr);
    }
    EXPECT_EQ(ZPAPI_UTILS_deserialize_attr_list(nullptr, nullptr), 1);
}

TEST(AttrListSerialize, ReadStaysWithinTheCountAndTheNameAndValueLimits) {
    struct Case {
        std::string text;
        int count;
        size_t name_len, value_len;  // of the first attribute
    };
    const std::vector<Case> cases = {
        {"1ATTR_DELIMA^#^1ATTR_DELIMB^#^2", 1, 1, 1},
        {"9ATTR_DELIMA^#^1ATTR_DELIMB^#^2", 2, 1, 1},
        {"1ATTR_DELIM" + std::string(70, 'N') + "^#^v", 1, 63, 1},
        {"1ATTR_DELIMN^#^" + std::string(4100, 'v'), 1, 1, 4095},
        {"999999999999999ATTR_DELIMA^#^1", 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        ZPAAttrList list{};
        ASSERT_EQ(ZPAPI_UTILS_deserialize_attr_list(const_cast<char*>(c.text.c_str()), &list), 0);
        EXPECT_EQ(list.Count, c.count);
        EXPECT_EQ(std::strlen(list.Attributes[0].Name), c.name_len);
        EXPECT_EQ(std::strlen(list.Attributes[0].Value), c.value_len);
        EXPECT_EQ(list.Attributes[0].ValueLen, c.value_len + 1);
        ZPAAPI_utils_release_whole_attr(&list);
    }
}

TEST(AttrListSerialize, ReadingIntoABuiltListReleasesItsPreviousAttributes) {
    ZPAAttrList list{};
    ASSERT_EQ(ZPAAPI_UTILS_AttrListAppend_Value2Attr(&list, cs("OLD"), cs("1")), 0);
    ASSERT_EQ(ZPAPI_UTILS_deserialize_attr_list(cs("1ATTR_DELIMNEW^#^2"), &list), 0);
    ASSERT_EQ(list.Count, 1);
    EXPECT_STREQ(list.Attributes[0].Name, "NEW");
    ZPAAPI_utils_release_whole_attr(&list);  // the leak checker sees whether OLD was freed
}

TEST(ErrorRecord, StoresCodeAndFormattedTextCutTo998Characters) {
    ZPAError error{};
    const std::string long_text(1500, 'e');
    EXPECT_EQ(ZPAAPI_UTILS_ErrorSet(&error, 1, "%s", long_text.c_str()), 0);
    EXPECT_EQ(ZPAAPI_UTILS_ErrorCodeGet(&error), 1u);
    EXPECT_EQ(std::string(error.text), long_text.substr(0, 998));
    EXPECT_EQ(ZPAAPI_UTILS_ErrorSet(&error, 1405, "ORA-%05d: %s", 1405, "fetched column value is NULL"), 0);
    EXPECT_STREQ(error.text, "ORA-01405: fetched column value is NULL");
    EXPECT_EQ(ZPAAPI_UTILS_ErrorCodeGet(&error), 1405u);
}

TEST_F(AgentHomeTest, DiagPrintfWritesTheTextUnchangedOnlyUpToTheDebugLevel) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(3);
    EXPECT_EQ(ZPAAPI_UTILS_DiagPrintf(3, "rate %d%% of %s", 50, "jobs"), 0);
    EXPECT_EQ(ZPAAPI_UTILS_DiagPrintf(4, "too detailed"), 0);
    const std::string log = testbed::read_diag_log("Oebs_CM");
    EXPECT_NE(log.find("Oebs_CM:rate 50% of jobs\n"), std::string::npos);
    EXPECT_EQ(log.find("too detailed"), std::string::npos);
}

TEST(Version, TextIsCutToTheBufferAndTerminated) {
    char full[128];
    ZPA_version(full, sizeof full);
    EXPECT_STREQ(full, "ZPA dll 8.0.00 - folders 2451, 2452 - Wed Sep 12 14:50:52 2012");
    char small[4] = {'x', 'x', 'x', 'x'};
    ZPA_version(small, sizeof small);
    EXPECT_STREQ(small, "ZPA");
}
