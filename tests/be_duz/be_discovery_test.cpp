// Rule filters and schedule conversion of request discovery: the condition that a rule gives, with
// every rule value bound and never in the text, the rules that are refused, and the scheduling
// rows that a release class gives.
#include "be_discovery_internal.h"
#include "be_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "gm_param.h"
#include "joined.h"

namespace {

using betest::OwnedList;

// Bound values as text; integers with a leading '#'.
std::vector<std::string> bound_values(const be_sql::BindValues& binds) {
    std::vector<std::string> out;
    for (const auto& value : binds.values())
        out.push_back(value.is_int ? testbed::joined("#", value.number) : value.text);
    return out;
}

struct ClauseCase {
    const char* what;
    std::vector<std::pair<const char*, const char*>> attributes;
    int set_flag;
    const char* clause;
    std::vector<std::string> binds;
};

TEST(RuleClauseTest, RuleValuesBecomeBoundPlaceholdersBehindTheirColumns) {
    const ClauseCase cases[] = {
        {"define default", {{"EXTRACT_MODE", "ORVDEFINE"}}, 0, " AND req.status_code = 'I' ", {}},
        {"monitor mode has no default", {{"EXTRACT_MODE", "ORVCREATE"}}, 0, "", {}},
        {"two likes",
         {{"DUZ-APPNAME", "{GL*}|{AP*}"}},
         0,
         " AND (prog_app.application_short_name Like :bv1 OR prog_app.application_short_name Like :bv2)",
         {"GL%", "AP%"}},
        {"braced and plain group",
         {{"DUZ-APPNAME", "{A} | B"}},
         0,
         " AND ( prog_app.application_short_name = :bv1  OR prog_app.application_short_name = :bv2)",
         {"A", " B"}},
        {"one program",
         {{"DUZ-PROGNAME", "XX_REPORT"}},
         0,
         " AND ( prog.concurrent_program_name = :bv1 )",
         {"XX_REPORT"}},
        {"status list replaces the default",
         {{"EXTRACT_MODE", "ORVDEFINE"}, {"DUZ-STATUS_CODE", "R|C"}},
         0,
         " AND req.status_code in (:bv1, :bv2) ",
         {"R", "C"}},
        {"status blanks and bars",
         {{"DUZ-STATUS_CODE", "R | Q|"}},
         0,
         " AND req.status_code in (:bv1, :bv2) ",
         {"R", "Q"}},
        {"one status", {{"DUZ-STATUS_CODE", "R"}}, 0, " AND req.status_code = :bv1 ", {"R"}},
        {"request id", {{"DUZ-REQUEST_ID", ">=1000"}}, 0, " AND (req.request_id >= :bv1 )", {"#1000"}},
        {"request id with blanks", {{"DUZ-REQUEST_ID", " <> -7 "}}, 0, " AND (req.request_id <> :bv1 )", {"#-7"}},
        {"set clause skips the program",
         {{"DUZ-PROGNAME", "P"}, {"DUZ-SETNAME", "S*"}},
         1,
         " AND (reqs.request_set_name Like :bv1)",
         {"S%"}},
        {"program clause skips the set", {{"DUZ-SETNAME", "S"}}, 0, "", {}},
        {"only the first star", {{"DUZ-USERNAME", "A*B*"}}, 0, " AND (usr.USER_NAME Like :bv1)", {"A%B*"}},
        {"no columns", {{"DUZ-TASKTYPE", "REQUEST"}, {"HOLD_JOB", "Y"}, {"DUZ-APPNAME", ""}}, 0, "", {}},
        {"hostile name stays a value",
         {{"DUZ-USERNAME", "O'Brien'); delete from x --"}},
         0,
         " AND ( usr.USER_NAME = :bv1 )",
         {"O'Brien'); delete from x --"}},
        {"every key in order",
         {{"DUZ-RESPNAME", "R"}, {"DUZ-RESPAPP", "RA"}, {"DUZ-REQTYPE", "T"}},
         0,
         " AND ( resp.responsibility_name = :bv1 ) AND ( resp_app.application_short_name = :bv2 ) AND "
         "( req_cls.request_class_name = :bv3 )",
         {"R", "RA", "T"}},
    };
    for (const ClauseCase& c : cases) {
        OwnedList attributes(c.attributes.begin(), c.attributes.end());
        std::string clause = "stale";
        be_sql::BindValues binds;
        ASSERT_EQ(be_discovery::BE_DUZ_AttributesToSQLstr(attributes.list(), clause, c.set_flag, binds), 0) << c.what;
        EXPECT_EQ(clause, c.clause) << c.what;
        EXPECT_EQ(bound_values(binds), c.binds) << c.what;
    }
}

TEST(RuleClauseTest, InvalidValuesRefuseTheWholeRule) {
    const std::string long_group(500, 'A');
    const std::pair<const char*, std::string> cases[] = {
        {"DUZ-STATUS_CODE", "r"},    {"DUZ-STATUS_CODE", ""},
        {"DUZ-STATUS_CODE", " R"},   {"DUZ-STATUS_CODE", "R|c"},
        {"DUZ-REQUEST_ID", "1000"},  {"DUZ-REQUEST_ID", "> 1 or 1=1"},
        {"DUZ-REQUEST_ID", ">"},     {"DUZ-REQUEST_ID", ">99999999999"},
        {"DUZ-APPNAME", "{A}x"},     {"DUZ-APPNAME", "{A}{B}"},
        {"DUZ-APPNAME", "{A}|{B}x"}, {"DUZ-APPNAME", long_group},
    };
    for (const auto& [key, value] : cases) {
        OwnedList attributes{{"DUZ-USERNAME", "U"}, {key, value.c_str()}};
        std::string clause = "stale";
        be_sql::BindValues binds;
        EXPECT_EQ(be_discovery::BE_DUZ_AttributesToSQLstr(attributes.list(), clause, 0, binds), 1)
            << key << "=" << value;
        EXPECT_EQ(clause, "") << value;
        EXPECT_TRUE(binds.empty()) << value;
    }
    std::string clause;
    be_sql::BindValues binds;
    EXPECT_EQ(be_discovery::BE_DUZ_AttributesToSQLstr(nullptr, clause, 0, binds), 1);
}

TEST(RuleClauseTest, ClauseLongerThanItsRoomIsRefusedNotCut) {
    // 40 groups fit the clause's room; three keys of 40 groups do not.
    std::string groups;
    for (int i = 0; i < 40; ++i) groups += "{G" + std::to_string(i) + "}|";
    OwnedList one{{"DUZ-APPNAME", groups.c_str()}};
    std::string clause;
    be_sql::BindValues binds;
    ASSERT_EQ(be_discovery::BE_DUZ_AttributesToSQLstr(one.list(), clause, 0, binds), 0);
    EXPECT_EQ(binds.size(), 40u);
    EXPECT_LT(clause.size(), static_cast<std::size_t>(BE_DUZ_RULE_CLAUSE_SIZE));
    OwnedList three{
        {"DUZ-APPNAME", groups.c_str()}, {"DUZ-PROGNAME", groups.c_str()}, {"DUZ-RESPNAME", groups.c_str()}};
    EXPECT_EQ(be_discovery::BE_DUZ_AttributesToSQLstr(three.list(), clause, 0, binds), 1);
    EXPECT_TRUE(binds.empty());
}

TEST(RuleClauseTest, TwoBuildsFromOneListGiveTheSameValuesAndLeaveTheAgentsValues) {
    OwnedList attributes{{"DUZ-APPNAME", "{A}|{B}"}, {"DUZ-PROGNAME", "{P}"}, {"DUZ-SETNAME", "{S}"}};
    ZPAAttrList* list = attributes.list();
    std::string program, set;
    be_sql::BindValues program_binds, set_binds;
    ASSERT_EQ(be_discovery::BE_DUZ_AttributesToSQLstr(list, program, 0, program_binds), 0);
    ASSERT_EQ(be_discovery::BE_DUZ_AttributesToSQLstr(list, set, 1, set_binds), 0);
    EXPECT_EQ(bound_values(program_binds), (std::vector<std::string>{"A", "B", "P"}));
    EXPECT_EQ(bound_values(set_binds), (std::vector<std::string>{"A", "B", "S"}));
    EXPECT_STREQ(list->Attributes[0].Value, "{A}|{B}");
    EXPECT_STREQ(list->Attributes[1].Value, "{P}");
    EXPECT_STREQ(list->Attributes[2].Value, "{S}");
}

TEST(RuleClauseTest, GroupScanAndKeyColumns) {
    char value[] = "{A} |{B}\t|C";
    char* rest = value;
    char* group = nullptr;
    ASSERT_EQ(BE_DUZ_getNextCondition(&rest, &group), 0);
    EXPECT_STREQ(group, "A");
    ASSERT_EQ(BE_DUZ_getNextCondition(&rest, &group), 0);
    EXPECT_STREQ(group, "B");
    ASSERT_EQ(BE_DUZ_getNextCondition(&rest, &group), 0);
    EXPECT_STREQ(group, "C");
    EXPECT_EQ(BE_DUZ_getNextCondition(&rest, &group), 2);
    EXPECT_EQ(group, nullptr);
    char reversed[] = "a}b{c";
    rest = reversed;
    ASSERT_EQ(BE_DUZ_getNextCondition(&rest, &group), 0);
    EXPECT_STREQ(group, "a}b{c");

    const char* column = "stale";
    BE_DUZ_ConvertKey2DBColumn("DUZ-REQTYPE", &column);
    EXPECT_STREQ(column, "req_cls.request_class_name");
    BE_DUZ_ConvertKey2DBColumn("DUZ-TASKTYPE", &column);
    EXPECT_EQ(column, nullptr);
}

// Scheduling rows as "KEY=VALUE" in list order.
std::vector<std::string> rows_of(ZPALIST_handle_typ* list) {
    std::vector<std::string> rows;
    GM_PARAM_list_reset(list);
    char* key = nullptr;
    void* value = nullptr;
    while (GM_PARAM_list_next(list, &key, &value) == CM_RC_OK)
        rows.push_back(std::string(key) + "=" + static_cast<char*>(value));
    return rows;
}

class ScheduleTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override { GM_PARAM_list_clear(&list); }
    std::vector<std::string> convert(const char* start, const char* end, const char* type, const char* info) {
        GM_PARAM_list_clear(&list);
        BE_DUZ11_ConvertDUZSchedule2ORVSchedule(&list, start, end, type, info);
        return rows_of(&list);
    }
    ZPALIST_handle_typ list{};
};

std::string flags(std::initializer_list<int> positions) {
    std::string text(39, '0');
    for (int p : positions) text[p - 1] = '1';
    return text;
}

TEST_F(ScheduleTest, ReleaseClassesGiveTheirRowsInOrder) {
    using Rows = std::vector<std::string>;
    struct Case {
        const char* start;
        const char* end;
        const char* type;
        std::string info;
        Rows rows;
    };
    const Case cases[] = {
        {"20250314093000", "NULL", "", "", {"TIMEFROM=0930", "DAYS=14", "MONTH=ALL N", "MONTH=MAR Y"}},
        {"20250314070500", "NULL", "O", "", {"TIMEFROM=0705", "DAYS=14", "MONTH=ALL N", "MONTH=MAR Y"}},
        {"20250314093000",
         "NULL",
         "P",
         "15:N:S",
         {"TIMEFROM=0930", "CYCLIC=Y", "INTERVALFROM=START", "INTERVAL=15M", "DAYS=ALL"}},
        {"20250314093000", "NULL", "P", "2:H:X", {"TIMEFROM=0930", "CYCLIC=Y", "INTERVAL=2H", "DAYS=ALL"}},
        {"20250314093000",
         "NULL",
         "P",
         "3:D:S",
         {"TIMEFROM=0930", "CYCLIC=Y", "INTERVALFROM=START", "INTERVAL=3D", "MONTH=ALL Y"}},
        {"20250314093000",
         "20250401000000",
         "P",
         "2:W:C",
         {"TIMEFROM=0930", "CYCLIC=Y", "INTERVALFROM=END", "INTERVAL=14D", "MONTH=ALL Y"}},
        {"20250314093000", "NULL", "P", "1:W:S", {"TIMEFROM=0930", "MONTH=ALL Y", "WEEKDAYS=6"}},
        {"20250314093000", "NULL", "P", "1:M:S", {"TIMEFROM=0930", "MONTH=ALL Y", "DAYS=14"}},
        {"20251120080000",
         "NULL",
         "P",
         "3:M:S",
         {"TIMEFROM=0800", "MONTH=ALL N", "MONTH=NOV Y", "MONTH=FEB Y", "MONTH=MAY Y", "MONTH=AUG Y", "DAYS=20"}},
        {"20250320080000",
         "NULL",
         "P",
         "5:M:S",
         {"TIMEFROM=0800", "MONTH=ALL N", "MONTH=MAR Y", "MONTH=AUG Y", "DAYS=20"}},
        {"20250320080000", "NULL", "P", "0:M:S", {"TIMEFROM=0800"}},
        {"20250320080000", "NULL", "P", "x:M:S", {"TIMEFROM=0800"}},
        {"20250320080000", "NULL", "P", "15:N", {"TIMEFROM=0800"}},
        {"20250320080000", "NULL", "P", "", {"TIMEFROM=0800"}},
        {"20250320080000", "NULL", "P", "4:Y:S", {"TIMEFROM=0800"}},
        {"20250320080000", "NULL", "S", flags({32}), {"TIMEFROM=0800", "DAYS=L1", "MONTH=ALL Y"}},
        {"20250320080000",
         "NULL",
         "S",
         flags({1, 15, 32, 33, 35}),
         {"TIMEFROM=0800", "DAYS=1,15,L1", "WEEKDAYS=1,3", "CAL_ANDOR=AND", "MONTH=ALL Y"}},
        {"20250320080000", "NULL", "S", flags({39}), {"TIMEFROM=0800", "WEEKDAYS=0", "MONTH=ALL Y"}},
        {"20250320080000", "20240101000000", "S", flags({2}), {"TIMEFROM=0800", "DAYS=2", "MONTH=ALL N"}},
        {"20250320080000", "20250201000000", "S", flags({2}), {"TIMEFROM=0800", "DAYS=2", "MONTH=ALL N"}},
        {"20250320080000",
         "20250520000000",
         "S",
         flags({2}),
         {"TIMEFROM=0800", "DAYS=2", "MONTH=ALL N", "MONTH=MAR Y", "MONTH=APR Y", "MONTH=MAY Y", "DATEFROM=20250320",
          "DATEUNTIL=20250520"}},
        {"20250320080000",
         "20260101000000",
         "S",
         "",
         {"TIMEFROM=0800", "MONTH=ALL Y", "DATEFROM=20250320", "DATEUNTIL=20260101"}},
        {"20250320080000", "NULL", "X", "", {"TIMEFROM=0800"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(convert(c.start, c.end, c.type, c.info.c_str()), c.rows) << c.type << " " << c.info << " " << c.end;
}

TEST_F(ScheduleTest, OlderConversionFromResubmissionFields) {
    using Rows = std::vector<std::string>;
    struct Case {
        const char* end;
        int interval;
        const char* unit;
        const char* from;
        const char* resubmit;
        Rows rows;
    };
    const Case cases[] = {
        {"NULL", 0, "DAYS", "START", "", {"TIMEFROM=0930", "MONTH=ALL N", "MONTH=MAR Y", "DAYS=14"}},
        {"NULL", 0, "", "", "09:30", {"TIMEFROM=0930", "DAYS=ALL", "MONTH=ALL Y"}},
        {"20250316000000", 0, "", "", "09:30", {"TIMEFROM=0930", "MONTH=ALL N", "MONTH=MAR Y", "DAYS=14,15,16"}},
        {"20250416000000",
         0,
         "",
         "",
         "09:30",
         {"TIMEFROM=0930", "MONTH=ALL N", "MONTH=MAR Y", "MONTH=APR Y", "DAYS=ALL"}},
        {"20240101000000", 0, "", "", "09:30", {"TIMEFROM=0930"}},
        {"NULL", 15, "MINUTES", "END", "", {"TIMEFROM=0930", "CYCLIC=Y", "INTERVALFROM=END", "INTERVAL=15M"}},
        {"20260101000000",
         2,
         "HOURS",
         "START",
         "",
         {"TIMEFROM=0930", "MONTH=ALL Y", "DAYS=ALL", "CYCLIC=Y", "INTERVALFROM=START", "INTERVAL=2H"}},
        {"20250315000000",
         1,
         "DAYS",
         "X",
         "",
         {"TIMEFROM=0930", "MONTH=ALL N", "MONTH=MAR Y", "DAYS=14,15", "CYCLIC=Y", "INTERVALFROM=START",
          "INTERVAL=1D"}},
        {"20250315000000",
         4,
         "MONTHS",
         "",
         "",
         {"TIMEFROM=0930", "MONTH=ALL N", "MONTH=MAR Y", "MONTH=JUL Y", "MONTH=NOV Y", "DAYS=14"}},
    };
    for (const Case& c : cases) {
        GM_PARAM_list_clear(&list);
        BE_DUZ10_ConvertDUZSchedule2ORVSchedule(&list, "20250314093000", c.end, c.interval, c.unit, c.from, c.resubmit);
        EXPECT_EQ(rows_of(&list), c.rows) << c.unit << " " << c.end << " " << c.resubmit;
    }
    EXPECT_EQ(BE_DUZ_fmt_get_year_number("20250314"), 2025);
}

}  // namespace
