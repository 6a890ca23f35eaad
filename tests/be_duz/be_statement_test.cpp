// The one statement wrapper of the plug-in: numbered values bound beside the text they left,
// many columns, queries executed without fetching and read row by row, and the fetch rule (a cut
// value is still a row, a failing fetch is a failure with the Oracle text, never a silent end).
#include "be_session_fixture.h"
#include "be_sql_internal.h"
#include "joined.h"

#include <array>
#include <string>
#include <vector>

namespace {

using oci_standin::Cell;
using oci_standin::Step;

class StatementTest : public betest::OpenSessionTest {};

TEST_F(StatementTest, NumberedValuesAreBoundByTheirPlaceholdersAndOutliveTheBuilder) {
    oci_standin::add_rule(betest::block_rule("update t set c"));
    ZPAError error{};
    be_sql::Statement stmt(session, &error);
    std::string text = "update t set c = 1 where a = ";
    {
        be_sql::BindValues values;
        text += values.add_text("O'Brien'); delete from x --");
        text += " and b = " + values.add_int(-7);
        EXPECT_EQ(values.size(), 2u);
        ASSERT_EQ(stmt.prepare(text.c_str()), 0) << error.text;
        ASSERT_EQ(stmt.bind_values(values), 0) << error.text;
    }
    ASSERT_EQ(stmt.execute(), 0) << error.text;
    EXPECT_EQ(prepared().back(), "update t set c = 1 where a = :bv1 and b = :bv2");
    EXPECT_EQ(bound("update t set c", "BV1"), Cell("O'Brien'); delete from x --"));
    EXPECT_EQ(bound("update t set c", "BV2"), Cell(-7));
}

TEST_F(StatementTest, QueryWithoutFetchGivesEveryRowThroughFetchAndManyColumns) {
    constexpr int kColumns = 120;
    std::vector<oci_standin::Row> rows;
    for (int r = 0; r < 3; ++r) {
        oci_standin::Row row;
        for (int c = 0; c < kColumns; ++c)
            row.push_back(c == 5 && r == 1 ? Cell() : Cell(testbed::joined("r", r, "c", c)));
        rows.push_back(row);
    }
    oci_standin::add_rule(oci_standin::substring_rule("select_wide", {oci_standin::answer_rows(rows)}));
    ZPAError error{};
    be_sql::Statement stmt(session, &error);
    std::vector<std::array<char, 16>> cells(kColumns);
    ASSERT_EQ(stmt.prepare("select_wide"), 0);
    for (int c = 0; c < kColumns; ++c) ASSERT_EQ(stmt.define_text(c + 1, cells[c].data(), 16), 0) << error.text;
    ASSERT_EQ(stmt.set_prefetch(20), 0);
    ASSERT_EQ(stmt.execute_no_fetch(), 0) << error.text;
    EXPECT_EQ(stmt.column_count(), static_cast<ub4>(kColumns));
    for (int r = 0; r < 3; ++r) {
        ASSERT_EQ(stmt.fetch(), be_sql::Fetch::Row) << r;
        EXPECT_STREQ(cells[0].data(), ("r" + std::to_string(r) + "c0").c_str());
        EXPECT_STREQ(cells[5].data(), r == 1 ? "" : ("r" + std::to_string(r) + "c5").c_str());
        EXPECT_STREQ(cells[kColumns - 1].data(), ("r" + std::to_string(r) + "c119").c_str());
    }
    EXPECT_EQ(stmt.fetch(), be_sql::Fetch::End);
    const auto execution = oci_standin::journal().executions.back();
    EXPECT_EQ(execution.iters, 0u);
    EXPECT_EQ(execution.prefetch, 20u);
}

TEST_F(StatementTest, CutValueIsStillARowAndAFailingFetchIsAFailure) {
    oci_standin::Failure failure = oci_standin::failure_at(Step::Fetch, 1013, "user requested cancel");
    failure.row = 3;
    oci_standin::add_rule(oci_standin::substring_rule(
        "select_rows",
        {oci_standin::answer_failure(failure, {{Cell("a much longer value")}, {Cell("b")}, {Cell("c")}})}));
    ZPAError error{};
    be_sql::Statement stmt(session, &error);
    char value[6] = "";
    ASSERT_EQ(stmt.prepare("select_rows"), 0);
    ASSERT_EQ(stmt.define_text(1, value, sizeof value), 0);
    ASSERT_EQ(stmt.execute_no_fetch(), 0) << error.text;
    ASSERT_EQ(stmt.fetch(), be_sql::Fetch::Row);
    EXPECT_STREQ(value, "a muc");
    ASSERT_EQ(stmt.fetch(), be_sql::Fetch::Row);
    EXPECT_STREQ(value, "b");
    EXPECT_EQ(stmt.fetch(), be_sql::Fetch::Error);
    EXPECT_EQ(error.code, 1013u);
    EXPECT_NE(std::string(error.text).find("ORA-01013"), std::string::npos) << error.text;
}

}  // namespace
