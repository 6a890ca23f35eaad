// Table-validated value sets on the stand-in database: the statements built from a value set's
// definition, the values they bind, the chosen row kept in the parameter's list, and the values
// query left open for a list answer and read row by row.
#include "be_parm_fixture.h"
#include "be_sql_internal.h"

#include <memory>
#include <string>
#include <vector>

namespace {

using oci_standin::Cell;
using oci_standin::Row;
using oci_standin::Step;

constexpr const char* kDefinitionTable = "FROM FND_FLEX_VALIDATION_TABLES";

struct Definition {
    const char* table = "T";
    const char* id_column = "";
    const char* id_type = "";
    const char* value_column = "V";
    const char* value_type = "C";
    const char* where = "";
    const char* quick_picks = "";
    const char* meaning_column = "";
    const char* meaning_type = "";
};

Cell text_or_null(const char* text) { return *text ? Cell(text) : Cell(); }

class ValueSetTest : public betest::ParmTest {
protected:
    void SetUp() override {
        ParmTest::SetUp();
        current = parm(1, "P_USER", "XX_USERS", "F");
        current->value_set_id = 1001;
        std::snprintf(current->formatype, sizeof current->formatype, "C");
        current->maxsize = 20;
    }
    // The database: the value set's definition, the session's FND_SESSIONS row (missing at first,
    // there afterwards) and the answer of the built statement.
    static void database(const Definition& d, std::vector<Row> rows) {
        oci_standin::add_rule(oci_standin::substring_rule(
            kDefinitionTable,
            {oci_standin::answer_rows({{text_or_null(d.table), text_or_null(d.id_column), text_or_null(d.id_type), 10,
                                        text_or_null(d.value_column), text_or_null(d.value_type), 20,
                                        text_or_null(d.where), text_or_null(d.quick_picks),
                                        text_or_null(d.meaning_column), text_or_null(d.meaning_type), Cell()}})}));
        oci_standin::add_rule(oci_standin::substring_rule(
            "FROM FND_SESSIONS", {oci_standin::answer_rows({}), oci_standin::answer_rows({{"4711", "15-JAN-24"}})}));
        oci_standin::add_rule(betest::block_rule("INSERT INTO FND_SESSIONS"));
        oci_standin::add_rule(oci_standin::regex_rule("^ ?select", {oci_standin::answer_rows(std::move(rows))}));
    }
    ZPARC check(const char* value, const char* meaning, int check_id, ZPAError& error) {
        std::string v = value;
        std::string m = meaning ? meaning : "";
        return BE_DUZ_retrieve_valuset_fields(session, &current->list, current, recs, 1, 1, check_id, v.data(),
                                              meaning ? m.data() : nullptr, &error);
    }
    static std::string last_prepared() { return prepared().back(); }

    BE_DUZ_report_parm* current = nullptr;
};

TEST_F(ValueSetTest, CheckedRowWithQuickPickColumnsIsKeptInTheParametersList) {
    Definition d;
    d.table = "FND_USER";
    d.id_column = "USER_ID";
    d.id_type = "N";
    d.value_column = "USER_NAME";
    d.meaning_column = "DESCRIPTION";
    d.meaning_type = "C";
    d.where = "where end_date is null";
    d.quick_picks = "description(40) INTO desc, attribute1 into attr1, meaning";
    database(d, {{"0", "System administrator", "SYSADMIN", "Sys desc", "a1"}});
    ZPAError error{};
    ASSERT_EQ(check("SYSADMIN", nullptr, 0, error), 0) << error.text;
    EXPECT_EQ(
        last_prepared(),
        "select * from ( SELECT TO_CHAR(USER_ID) ID, DESCRIPTION MEANING, USER_NAME VALUE, description,  attribute1 "
        "FROM  FND_USER where end_date is null  ) where upper(VALUE) = upper(:bv1)");
    EXPECT_EQ(bound(kDefinitionTable, "VALSETID"), Cell(1001));
    EXPECT_EQ(last_execution(kDefinitionTable).iters, 0u);
    const std::vector<std::pair<const char*, const char*>> expected = {
        {"HAS_ID", "YES"},     {"ID", "0"},          {"MEANING", "System administrator"},
        {"VALUE", "SYSADMIN"}, {"DESC", "Sys desc"}, {"ATTR1", "a1"}};
    for (auto& [key, value] : expected) EXPECT_EQ(list_value(current, key), value) << key;
    EXPECT_EQ(ZPALIST_count(&current->list), 6);
}

TEST_F(ValueSetTest, CheckComparesTheIdOrTheValueAndMeaningAsBinds) {
    struct Case {
        const char* id_column;
        int check_id;
        const char* meaning;
        const char* comparison;
        std::vector<std::pair<std::string, std::string>> binds;
        const char* has_id;
    };
    const Case cases[] = {
        {"ID_COL", 1, nullptr, "ID = :bv1", {{"BV1", "O'Brien"}}, "YES"},
        {"", 1, nullptr, "upper(VALUE) = upper(:bv1)", {{"BV1", "O'Brien"}}, "NO"},
        {"ID_COL",
         0,
         "O'Brien & Sons",
         "upper(VALUE) = upper(:bv1) and upper(MEANING) = upper(:bv2)",
         {{"BV1", "O'Brien"}, {"BV2", "O'Brien & Sons"}},
         "YES"},
        {"ID_COL", 0, "", "upper(VALUE) = upper(:bv1)", {{"BV1", "O'Brien"}}, "YES"},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        Definition d;
        d.id_column = c.id_column;
        d.id_type = "C";
        database(d, {{Cell(), Cell(), "O'Brien"}});
        GM_PARAM_list_clear(&current->list);
        ZPAError error{};
        ASSERT_EQ(check("O'Brien", c.meaning, c.check_id, error), 0) << error.text;
        const auto run = last_execution("select * from");
        EXPECT_EQ(run.text.substr(run.text.find(" ) where ") + 9), c.comparison);
        EXPECT_EQ(run.text.find("O'B"), std::string::npos);
        EXPECT_EQ(binds_of(run), c.binds);
        EXPECT_EQ(list_value(current, "HAS_ID"), c.has_id);
        EXPECT_EQ(list_value(current, "ID"), "");  // a NULL column reads empty
        EXPECT_EQ(list_value(current, "MEANING"), "");
    }
}

TEST_F(ValueSetTest, CheckClauseIsPlacedAfterTheTableWithoutItsOrderByOrLeadingAnd) {
    struct Case {
        const char* where;
        const char* from;  // between the column list and " ) where"
    };
    const Case cases[] = {
        {"", " FROM  T "},
        {"WHERE a = 1 ORDER BY 2", " FROM  T WHERE a = 1  "},
        {" and Enabled_Flag = 'Y'", " FROM  T WHERE  Enabled_Flag = 'Y' "},
        {"OR x = 'a'", " FROM  T WHERE  x = 'a' "},
        {"orbit = 1", " FROM  T WHERE orbit = 1 "},
        {"name = 'x ORDER BY y' order by 2", " FROM  T WHERE name = 'x ORDER BY y'  "},
        {"order by 1", " FROM  T  "},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        Definition d;
        d.where = c.where;
        database(d, {{Cell(), Cell(), "a"}});
        ZPAError error{};
        ASSERT_EQ(check("a", nullptr, 0, error), 0) << c.where << ": " << error.text;
        EXPECT_EQ(last_prepared(), std::string("select * from ( SELECT NULL ID, NULL MEANING, V VALUE") + c.from +
                                       " ) where upper(VALUE) = upper(:bv1)")
            << c.where;
    }
}

TEST_F(ValueSetTest, CheckOfAValueNotInTheSetFailsWithTheReason) {
    database(Definition{}, {});
    ZPAError error{};
    EXPECT_EQ(check("nobody", nullptr, 0, error), 1);
    EXPECT_STREQ(error.text,
                 "CM for OEBS: For parameter 'P_USER', fail to find value 'nobody' in value_set 'XX_USERS'");
    EXPECT_EQ(ZPALIST_count(&current->list), 0);
}

TEST_F(ValueSetTest, ValueSetWithoutDefinitionGivesOneAndRunsNothingElse) {
    oci_standin::add_rule(oci_standin::substring_rule(kDefinitionTable, {oci_standin::answer_rows({})}));
    ZPAError error{};
    BE_DUZ_UpdateErrorSet(&error, 7, "earlier");
    EXPECT_EQ(check("a", nullptr, 0, error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: earlier");
    BE_DUZ_xmldata_handle handle{};
    char filter[] = "";
    EXPECT_EQ(BE_DUZ_retrieve_valuset_values(session, nullptr, current, recs, &handle, 1, 1, 0, filter, &error), 1);
    EXPECT_EQ(prepared().size(), 2u);
}

TEST_F(ValueSetTest, SessionRowIsInsertedOnceForManyChecks) {
    database(Definition{}, {{Cell(), Cell(), "a"}});
    ZPAError error{};
    ASSERT_EQ(check("a", nullptr, 0, error), 0) << error.text;
    ASSERT_EQ(check("a", nullptr, 0, error), 0) << error.text;
    EXPECT_EQ(count_prepared("FROM FND_SESSIONS"), 2);
    EXPECT_EQ(count_prepared("INSERT INTO FND_SESSIONS"), 1);
}

TEST_F(ValueSetTest, ReferencesOfTheClauseAreBoundAndAnOverlongOneStopsTheCheck) {
    parm(0, "P_ORG", "ORGS", "I", "O'Hare");
    Definition d;
    d.where = "where org = :$FLEX$.ORGS order by decode(x, :$FLEX$.ORGS, 1)";
    database(d, {{Cell(), Cell(), "a"}});
    ZPAError error{};
    ASSERT_EQ(check("a", nullptr, 0, error), 0) << error.text;
    const auto run = last_execution("select * from");
    EXPECT_EQ(
        run.text,
        "select * from ( SELECT NULL ID, NULL MEANING, V VALUE FROM  T where org = :bv1    ) where upper(VALUE) = "
        "upper(:bv3)");
    EXPECT_EQ(binds_of(run), (std::vector<std::pair<std::string, std::string>>{{"BV1", "O'Hare"}, {"BV3", "a"}}));

    oci_standin::reset();
    const std::string overlong = "where org = :$FLEX$." + std::string(60, 'X');
    d.where = overlong.c_str();
    database(d, {{Cell(), Cell(), "a"}});
    EXPECT_EQ(check("a", nullptr, 0, error), 1);
    EXPECT_NE(std::string(error.text).find("longer than 59"), std::string::npos) << error.text;
    EXPECT_EQ(count_prepared("select * from"), 0);
}

TEST_F(ValueSetTest, ValuesQueryIsLeftOpenForTheListWithItsFilterBound) {
    Definition d;
    d.meaning_column = "M";
    d.meaning_type = "C";
    d.where = " and enabled_flag = 'Y' order by 1";
    struct Case {
        const char* filter;
        const char* statement;
        const char* bound;    // the filter's value, nullptr: none
        const char* changed;  // the caller's filter afterwards
    };
    const Case cases[] = {
        {"", " SELECT V VALUE , M MEANING FROM  T  WHERE  enabled_flag = 'Y' order by 1 ", nullptr, ""},
        {"A*",
         "SELECT VALUE, MEANING FROM (SELECT V VALUE , M MEANING FROM  T  WHERE  enabled_flag = 'Y'  ) where VALUE like :bv1",
         "A%", "A%"},
        {"O'B*",
         "SELECT VALUE, MEANING FROM (SELECT V VALUE , M MEANING FROM  T  WHERE  enabled_flag = 'Y'  ) where VALUE like :bv1",
         "O'B%", "O'B%"},
        {"O'Brien",
         "SELECT VALUE, MEANING FROM (SELECT V VALUE , M MEANING FROM  T  WHERE  enabled_flag = 'Y'  ) where VALUE = :bv1",
         "O'Brien", "O'Brien"},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        database(d, {{"A1", "First"}, {"A2", Cell()}, {"A3", "Third"}});
        auto handle = std::make_unique<BE_DUZ_xmldata_handle>();
        char filter[32];
        std::snprintf(filter, sizeof filter, "%s", c.filter);
        ZPAError error{};
        ASSERT_EQ(
            BE_DUZ_retrieve_valuset_values(session, nullptr, current, recs, handle.get(), 1, 1, 0, filter, &error), 0)
            << error.text;
        EXPECT_EQ(last_prepared(), c.statement);
        EXPECT_STREQ(filter, c.changed);
        const auto run = last_execution("VALUE");
        EXPECT_EQ(run.iters, 0u);
        if (c.bound) {
            EXPECT_EQ(binds_of(run), (std::vector<std::pair<std::string, std::string>>{{"BV1", c.bound}}));
        } else {
            EXPECT_TRUE(run.binds.empty());
        }

        // The list reads the open query row by row.
        be_sql::Statement reader(session, &error);
        reader.follow_text(handle->row_data[0], BE_DUZ_PARM_VALUE_SIZE, &handle->DUZ_ind[0]);
        reader.follow_text(handle->row_data[1], BE_DUZ_PARM_VALUE_SIZE, &handle->DUZ_ind[1]);
        std::vector<std::pair<std::string, std::string>> rows;
        while (reader.fetch() == be_sql::Fetch::Row) rows.emplace_back(handle->row_data[0], handle->row_data[1]);
        EXPECT_EQ(rows,
                  (std::vector<std::pair<std::string, std::string>>{{"A1", "First"}, {"A2", ""}, {"A3", "Third"}}));
        EXPECT_NE(handle->DUZ_def[0], nullptr);
        EXPECT_NE(handle->DUZ_def[1], nullptr);
    }
}

TEST_F(ValueSetTest, ValuesWithoutMeaningOrValueColumnUseNullAndTheIdColumn) {
    Definition d;
    d.id_column = "ID_COL";
    d.id_type = "N";
    d.value_column = "";
    database(d, {{"7"}});
    auto handle = std::make_unique<BE_DUZ_xmldata_handle>();
    std::snprintf(handle->row_data[1], sizeof handle->row_data[1], "stale");
    char filter[] = "";
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_retrieve_valuset_values(session, nullptr, current, recs, handle.get(), 1, 1, 0, filter, &error), 0)
        << error.text;
    EXPECT_EQ(last_prepared(), " SELECT TO_CHAR(ID_COL) VALUE , NULL MEANING FROM  T  ");
    EXPECT_STREQ(handle->row_data[1], "");
    EXPECT_EQ(last_execution("VALUE").defines.size(), 1u);
}

TEST_F(ValueSetTest, SelectExpressionFormatsNumberAndDateColumns) {
    struct Case {
        char format;
        char type;
        const char* expression;
    };
    const Case cases[] = {
        {'X', 'N', "TO_CHAR(COL, 'YYYY/MM/DD HH24:MI:SS')"},
        {'Y', 'D', "TO_CHAR(COL, 'YYYY/MM/DD HH24:MI:SS')"},
        {'N', 'N', "TO_CHAR(COL)"},
        {'X', 'C', "COL"},
    };
    for (const Case& c : cases) {
        char clause[BE_DUZ_SELECT_CLAUSE_SIZE];
        EXPECT_EQ(BE_DUZ_construct_select_clause(c.format, "COL", c.type, 20, clause), 0);
        EXPECT_STREQ(clause, c.expression) << c.format << c.type;
    }
}

}  // namespace
