// A single request's parameters on the stand-in database: the program's definitions read into the
// records, and the values worked out from the job's attributes (numbering around hidden
// parameters, defaults, SQL values, validation and its fallback).
#include "be_parm_fixture.h"
#include "testbed.h"

#include <string>
#include <vector>

namespace {

using betest::OwnedList;
using oci_standin::Cell;
using oci_standin::Row;
using oci_standin::Step;

constexpr const char* kDefinitions = "FROM fnd_descr_flex_column_usages a";

struct Parameter {
    const char* name;
    const char* default_type = "";
    const char* default_value = "";
    const char* displayed = "Y";
    const char* validation = "N";
    const char* format = "C";
    int size = 20;
    const char* required = "N";

    Row row() const {
        auto text = [](const char* t) { return *t ? Cell(t) : Cell(); };
        return {text(required),
                text(default_type),
                text(default_value),
                name,
                name,
                1000,
                std::string("VS_") + name,
                std::string("VS_") + name,
                size,
                validation,
                format,
                "N",
                displayed};
    }
};

class ProgramParmTest : public betest::ParmTest {
protected:
    static void program(const std::vector<Parameter>& parameters) {
        std::vector<Row> rows;
        for (const Parameter& p : parameters) rows.push_back(p.row());
        oci_standin::add_rule(oci_standin::substring_rule(kDefinitions, {oci_standin::answer_rows(rows)}));
    }
    ZPARC submit_values(OwnedList& connection, OwnedList& job, int& count, ZPAError& error) {
        return BE_DUZ_request_default_parms(session, 20003, "XXREPORT", recs, &count, connection.list(), job.list(),
                                            &error);
    }
    std::vector<std::string> values(int count) const {
        std::vector<std::string> v;
        for (int i = 0; i <= count; ++i) v.push_back(recs[i]->report_value);
        return v;
    }
};

TEST_F(ProgramParmTest, ValidationOffPassesTheJobValuesAsGivenWithoutTheDatabase) {
    oci_standin::reset();
    struct Case {
        OwnedList job;
        int count;
        std::vector<std::string> values;
    };
    Case cases[] = {
        {{{"DUZ-PARAM_VALIDATION", "No"},
          {"DUZ-PARMS-P001-VALUE", "a  "},
          {"DUZ-PARMS-P002-VALUE", "b"},
          {"DUZ-PARMS-P005-VALUE", "e"}},
         4,
         {"a", "b", "", "", "e"}},
        {{{"DUZ-PARAM_VALIDATION", "N"},
          {"DUZ-PARMS-P003-VALUE", "Calculated During Submission"},
          {"DUZ-PARMS-P004-VALUE", "   "}},
         2,
         {"", "", ""}},
        {{{"DUZ-PARAM_VALIDATION", "N"}}, -1, {}},
    };
    for (Case& c : cases) {
        for (int i = 0; i < 5; ++i) std::snprintf(recs[i]->report_value, sizeof recs[i]->report_value, "stale");
        OwnedList connection{{"ENABLE_OLD_FORMS_PARAM", "Y"}};
        int count = 99;
        ZPAError error{};
        EXPECT_EQ(submit_values(connection, c.job, count, error), 0);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(values(count), c.values);
        EXPECT_STREQ(recs[4]->value, c.count == 4 ? "e" : "");
    }
    EXPECT_TRUE(oci_standin::journal().calls.empty());
}

TEST_F(ProgramParmTest, HiddenParameterTakesAJobNumberOnlyWhenTheJobListsIt) {
    Parameter b{"B"};
    b.displayed = "N";
    b.default_type = "C";
    b.default_value = "b-default";
    struct Case {
        const char* name_at_2;  // nullptr: no name attribute
        std::vector<std::string> values;
    };
    const Case cases[] = {
        {"C", {"v1", "b-default", "v2"}},
        {"*B", {"v1", "v2", "v3"}},
        {"B", {"v1", "v2", "v3"}},
        {nullptr, {"v1", "b-default", "v3"}},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        program({{"A"}, b, {"C"}});
        OwnedList connection{};
        OwnedList job{{"DUZ-PARMS-P001-VALUE", "v1"},
                      {"DUZ-PARMS-P002-VALUE", "v2"},
                      {"DUZ-PARMS-P003-VALUE", "v3"},
                      {"DUZ-PARMS-P002-NAME", c.name_at_2 ? c.name_at_2 : ""}};
        int count = 0;
        ZPAError error{};
        ASSERT_EQ(submit_values(connection, job, count, error), 0) << error.text;
        EXPECT_EQ(count, 2);
        EXPECT_EQ(values(count), c.values) << (c.name_at_2 ? c.name_at_2 : "none");
    }
}

TEST_F(ProgramParmTest, EmptyDefaultRequestAndSqlValuesFollowTheOldFormsOption) {
    Parameter constant{"P_CONST"};
    constant.default_type = "C";
    constant.default_value = "dflt";
    Parameter today{"P_DATE"};
    today.default_type = "D";
    today.size = 11;
    struct Case {
        const char* old_forms;  // nullptr: absent
        const char* job_value;
        std::vector<std::string> values;
        bool date_query;
    };
    const Case cases[] = {
        {nullptr, "", {"", ""}, false},
        {"Y", "", {"dflt", "15-JAN-2024"}, true},
        {nullptr, "Calculated During Submission", {"dflt", "15-JAN-2024"}, true},
        {"Y", "Calculated During Submission", {"dflt", "15-JAN-2024"}, true},
        {nullptr, "select x from dual;", {"from-sql", "from-sql"}, false},
        {"Y", "SELECT x from dual;", {"from-sql", "from-sql"}, false},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        program({constant, today});
        oci_standin::add_rule(
            oci_standin::substring_rule("to_char(SYSDATE, :fmt)", {oci_standin::answer_rows({{"15-JAN-2024"}})}));
        oci_standin::add_rule(
            oci_standin::regex_rule("^select x from dual$", {oci_standin::answer_rows({{"from-sql"}})}));
        OwnedList with{{"ENABLE_OLD_FORMS_PARAM", c.old_forms ? c.old_forms : ""}};
        OwnedList without{};
        OwnedList job{{"DUZ-PARMS-P001-VALUE", c.job_value}, {"DUZ-PARMS-P002-VALUE", c.job_value}};
        int count = 0;
        ZPAError error{};
        ASSERT_EQ(submit_values(c.old_forms ? with : without, job, count, error), 0) << error.text;
        EXPECT_EQ(values(count), c.values) << c.job_value << " " << (c.old_forms ? "Y" : "-");
        EXPECT_EQ(count_prepared("to_char(SYSDATE"), c.date_query ? 1 : 0) << c.job_value;
        if (c.date_query) {
            EXPECT_EQ(bound("to_char(SYSDATE", "FMT"), Cell("DD-MON-YYYY"));
        }
        for (auto& text : prepared()) EXPECT_EQ(text.find(';'), std::string::npos) << text;
    }
}

TEST_F(ProgramParmTest, FailedValueSetCheckWarnsAndEmptiesOrKeepsTheJobsValue) {
    Parameter vendor{"P_VENDOR"};
    vendor.validation = "F";
    for (const char* use_job_value : {"", "Y"}) {
        oci_standin::reset();
        program({vendor});
        oci_standin::add_rule(
            oci_standin::substring_rule("FROM FND_FLEX_VALIDATION_TABLES",
                                        {oci_standin::answer_rows({{"PO_VENDORS", Cell(), Cell(), 0, "VENDOR_NAME", "C",
                                                                    240, Cell(), Cell(), Cell(), Cell(), Cell()}})}));
        oci_standin::add_rule(
            oci_standin::substring_rule("FROM FND_SESSIONS", {oci_standin::answer_rows({{"1", "x"}})}));
        oci_standin::add_rule(oci_standin::substring_rule("select * from (", {oci_standin::answer_rows({})}));
        OwnedList connection{{"USE_AE_VALUE_IF_VALIDATION_FAILED", use_job_value}};
        OwnedList job{{"DUZ-PARMS-P001-VALUE", "O'Brien"}, {"DUZ-PARMS-P001-MEANING", "Mr O'Brien"}};
        int count = 0;
        ZPAError error{};
        testbed::StderrCapture capture;
        ASSERT_EQ(submit_values(connection, job, count, error), 0) << error.text;
        EXPECT_EQ(capture.text(),
                  "Warning: Fail to validate parameter 'P_VENDOR' in value_set\nPARM1 'P_VENDOR' value is NULL\n");
        const std::string kept = *use_job_value ? "O'Brien" : "";
        EXPECT_EQ(std::string(recs[0]->value), kept);
        EXPECT_EQ(std::string(recs[0]->report_value), kept);
        const auto check = last_execution("select * from (");
        EXPECT_EQ(check.text.find("O'B"), std::string::npos);
        EXPECT_EQ(binds_of(check),
                  (std::vector<std::pair<std::string, std::string>>{{"BV1", "O'Brien"}, {"BV2", "Mr O'Brien"}}));
    }
}

// A job made by discovery carries the request's stored arguments: they are texts, never
// statements or default requests; the same values written by the job's author keep their meaning.
TEST_F(ProgramParmTest, StoredValuesAreTextWrittenOnesMayBeStatementsOrDefaultRequests) {
    const std::string harvest =
        "select user_name||'/'||encrypted_user_password from fnd_user where user_name = 'SYSADMIN'";
    Parameter note{"P_NOTE"};
    note.default_type = "C";
    note.default_value = "dflt";
    struct Case {
        const char* as_stored;  // nullptr: absent
        std::string job_value;
        const char* value;
        bool statement_runs;
    };
    const Case cases[] = {
        {nullptr, "SELECT name FROM dual;", "from-sql", true},
        {"N", "SELECT name FROM dual", "from-sql", true},
        {"Y", "SELECT name FROM dual;", "SELECT name FROM dual;", false},
        {"Y", harvest, harvest.c_str(), false},
        {"Y", "Select all open items", "Select all open items", false},
        {nullptr, "Calculated During Submission", "dflt", false},
        {"Y", "Calculated During Submission", "Calculated During Submission", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.job_value + " " + (c.as_stored ? c.as_stored : "-"));
        oci_standin::reset();
        program({note});
        oci_standin::add_rule(
            oci_standin::regex_rule("^select name from dual$", {oci_standin::answer_rows({{"from-sql"}})}));
        OwnedList connection{};
        OwnedList job{{"DUZ-PARMS-P001-VALUE", c.job_value.c_str()},
                      {"DUZ-PARAM_AS_STORED", c.as_stored ? c.as_stored : ""}};
        int count = 0;
        ZPAError error{};
        ASSERT_EQ(submit_values(connection, job, count, error), 0) << error.text;
        EXPECT_EQ(values(count), std::vector<std::string>{c.value});
        EXPECT_EQ(count_prepared("name FROM dual"), c.statement_runs ? 1 : 0);
        EXPECT_EQ(count_prepared("fnd_user"), 0);
        EXPECT_EQ(count_prepared("open items"), 0);
    }
}

// The E-Business Suite stores a table value set's ID where the set has an ID column: a stored
// value is looked up there only, never traded for the ID of a row whose VALUE reads like it, and
// one that no row holds keeps its text instead of being emptied. A written value is looked up by
// VALUE. A set without an ID column looks any value up by VALUE.
TEST_F(ProgramParmTest, StoredValueIsCheckedByItsIdOnlyAndNeverEmptied) {
    Parameter org{"P_ORG"};
    org.validation = "F";
    const Row vision{"204", Cell(), "Vision Operations"};
    const Row reads_like_204{"999", Cell(), "204"};  // another row, whose VALUE is the stored ID's text
    const Row without_id{Cell(), Cell(), "VISION OPERATIONS"};
    const std::string kept =
        "Warning: Fail to validate parameter 'P_ORG' in value_set\nPARM1 'P_ORG' keeps its stored value\n";
    struct Case {
        const char* as_stored;
        const char* job_value;
        bool id_column;
        std::vector<Row> by_id;
        std::vector<Row> by_value;
        const char* report_value;
        const char* checked;  // the comparison of the one check: "ID" or "VALUE"
        std::string warning;
    };
    const Case cases[] = {
        {"Y", "204", true, {vision}, {}, "204", "ID", ""},
        {"Y", "204", true, {}, {reads_like_204}, "204", "ID", kept},
        {"Y", "Vision Operations", true, {}, {vision}, "Vision Operations", "ID", kept},
        {"Y", "999", true, {}, {}, "999", "ID", kept},
        {"Y", "Vision Operations", false, {}, {without_id}, "Vision Operations", "VALUE", ""},
        {"",
         "204",
         true,
         {vision},
         {},
         "",
         "VALUE",
         "Warning: Fail to validate parameter 'P_ORG' in value_set\nPARM1 'P_ORG' value is NULL\n"},
        {"", "Vision Operations", true, {}, {vision}, "204", "VALUE", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.job_value) + " " + c.as_stored + (c.id_column ? "" : " without ID column"));
        oci_standin::reset();
        program({org});
        oci_standin::add_rule(oci_standin::substring_rule(
            "FROM FND_FLEX_VALIDATION_TABLES",
            {oci_standin::answer_rows({{"HR_OPERATING_UNITS", c.id_column ? Cell("ORGANIZATION_ID") : Cell(), "N", 15,
                                        "NAME", "C", 240, Cell(), Cell(), Cell(), Cell(), Cell()}})}));
        oci_standin::add_rule(
            oci_standin::substring_rule("FROM FND_SESSIONS", {oci_standin::answer_rows({{"1", "x"}})}));
        oci_standin::add_rule(oci_standin::substring_rule("where ID = :bv1", {oci_standin::answer_rows(c.by_id)}));
        oci_standin::add_rule(
            oci_standin::substring_rule("where upper(VALUE)", {oci_standin::answer_rows(c.by_value)}));
        OwnedList connection{};
        OwnedList job{{"DUZ-PARMS-P001-VALUE", c.job_value}, {"DUZ-PARAM_AS_STORED", c.as_stored}};
        int count = 0;
        ZPAError error{};
        testbed::StderrCapture capture;
        ASSERT_EQ(submit_values(connection, job, count, error), 0) << error.text;
        EXPECT_EQ(values(count), std::vector<std::string>{c.report_value});
        EXPECT_EQ(count_prepared("select * from ("), 1);
        EXPECT_EQ(count_prepared(std::string(c.checked) == "ID" ? "where ID = :bv1" : "where upper(VALUE)"), 1);
        EXPECT_EQ(capture.text(), c.warning);
        EXPECT_EQ(binds_of(last_execution("select * from (")),
                  (std::vector<std::pair<std::string, std::string>>{{"BV1", c.job_value}}));
    }
}

TEST_F(ProgramParmTest, DefinitionsAreReadWholeOrNotAtAll) {
    struct Case {
        const char* what;
        oci_standin::Answer answer;
        ZPARC rc;
        int count;  // afterwards; 77 is the count before
    };
    std::vector<Row> many;
    for (int i = 0; i < 101; ++i) many.push_back(Parameter{"P"}.row());
    std::vector<Row> hundred(many.begin(), many.end() - 1);
    oci_standin::Failure at_row_2 = oci_standin::failure_at(Step::Fetch, 1555, "snapshot too old");
    at_row_2.row = 2;
    Case cases[] = {
        {"none", oci_standin::answer_rows({}), 0, -1},
        {"two, one with NULL columns", oci_standin::answer_rows({Parameter{"A"}.row(), {Cell(), Cell(), Cell(), "B"}}),
         0, 1},
        {"a hundred", oci_standin::answer_rows(hundred), 0, 99},
        {"a hundred and one", oci_standin::answer_rows(many), 1, 77},
        {"fetch fails at row 2", oci_standin::answer_failure(at_row_2, {Parameter{"A"}.row(), Parameter{"B"}.row()}), 1,
         77},
        {"query fails",
         oci_standin::answer_failure(oci_standin::failure_at(Step::Execute, 942, "table or view does not exist")), 1,
         77},
    };
    for (Case& c : cases) {
        oci_standin::reset();
        oci_standin::add_rule(oci_standin::substring_rule(kDefinitions, {c.answer}));
        std::snprintf(recs[0]->parm_name, sizeof recs[0]->parm_name, "old");
        int count = 77;
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_retrieve_default_parms(session, BE_DUZ_RETRIEVE_PARM_SQL, -1, 20003, "", "XXREPORT", -1, recs,
                                                &count, &error),
                  c.rc)
            << c.what;
        EXPECT_EQ(count, c.count) << c.what;
        if (c.rc != 0) {
            EXPECT_STREQ(recs[0]->parm_name, "old") << c.what;
        }
        if (c.count == 1) {
            EXPECT_STREQ(recs[1]->parm_name, "B");
            EXPECT_STREQ(recs[1]->dft_value, "");
            EXPECT_STREQ(recs[1]->value_set_name, "");
            EXPECT_EQ(recs[1]->maxsize, 0);
            EXPECT_EQ(recs[1]->seq_number, 1);
            EXPECT_STREQ(recs[0]->sharedparm_name, "A");
            EXPECT_STREQ(recs[0]->value_set_type, "N");
        }
    }
    const auto run = last_execution(kDefinitions);
    EXPECT_EQ(run.iters, 0u);
    EXPECT_EQ(binds_of(run),
              (std::vector<std::pair<std::string, std::string>>{{"APP_ID", "20003"}, {"PROG_NAME", "XXREPORT"}}));
}

TEST_F(ProgramParmTest, ParameterListByApplicationNameComputesEachDefault) {
    Parameter constant{"P_CONST"};
    constant.default_type = "C";
    constant.default_value = "ten";
    Parameter unset{"P_PROFILE"};
    unset.default_type = "P";
    unset.default_value = "XX_UNSET";
    oci_standin::add_rule(oci_standin::substring_rule(
        "FROM fnd_descr_flex_column_usages a",
        {oci_standin::answer_rows({constant.row(), Parameter{"P_NONE"}.row(), unset.row()})}));
    profiles({});
    int count = 0;
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_retrieve_ReqParmList(session, "XXCUST", "XXREPORT", recs, &count, &error), 1);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(recs[0]->value, "ten");
    EXPECT_STREQ(recs[1]->value, "");
    const auto run = last_execution("fnd_application app");
    EXPECT_EQ(binds_of(run),
              (std::vector<std::pair<std::string, std::string>>{{"APP_NAME", "XXCUST"}, {"PROG_NAME", "XXREPORT"}}));

    const std::string long_name(32, 'X');
    EXPECT_EQ(BE_DUZ_retrieve_ReqParmList(session, "XXCUST", long_name.c_str(), recs, &count, &error), 1);
    EXPECT_NE(std::string(error.text).find("longer than 31"), std::string::npos) << error.text;
}

}  // namespace
