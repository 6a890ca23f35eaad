// The parameters of request-set programs on the stand-in database: the set's overrides of default
// and display, shared parameters carried from program to program, empty job values, the
// operating unit of "p_org_id", and a set program found by its names.
#include "be_parm_fixture.h"
#include "testbed.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using betest::OwnedList;
using oci_standin::Cell;
using oci_standin::Row;
using oci_standin::Step;

constexpr const char* kSetDefinitions = "FROM FND_REQUEST_SET_PROGRAM_ARGS";

struct SetParameter {
    const char* name;
    const char* default_type = "";
    const char* default_value = "";
    const char* shared = "";
    const char* set_default_type = "";
    const char* set_default_value = "";
    const char* displayed = "Y";
    const char* set_displayed = "";
    const char* validation = "N";

    Row row() const {
        auto text = [](const char* t) { return *t ? Cell(t) : Cell(); };
        return {"N",
                text(set_default_type),
                text(set_default_value),
                name,
                std::string("Prompt ") + name,
                text(shared),
                1000,
                std::string("VS_") + name,
                20,
                validation,
                "C",
                text(default_type),
                text(default_value),
                "N",
                displayed,
                text(set_displayed)};
    }
};

Row rows_of(const SetParameter& p) { return p.row(); }

class SetParmTest : public betest::ParmTest {
protected:
    void TearDown() override {
        GM_PARAM_list_clear(&shared_list);
        ParmTest::TearDown();
    }
    // One answer of the set definition query per program, in the order the programs are read.
    static void programs(const std::vector<std::vector<SetParameter>>& per_program) {
        std::vector<oci_standin::Answer> answers;
        for (auto& parameters : per_program) {
            std::vector<Row> rows;
            std::transform(parameters.begin(), parameters.end(), std::back_inserter(rows), rows_of);
            answers.push_back(oci_standin::answer_rows(rows));
        }
        oci_standin::add_rule(oci_standin::substring_rule(kSetDefinitions, answers));
    }
    // Works out program prog_index of the set with the job values of list (null: none).
    ZPARC program_values(int prog_index, ZPALIST_handle_typ* job_values, OwnedList& connection, OwnedList& job,
                         int& count, ZPAError& error) {
        return BE_DUZ_request_set_default_parms(session, 10, 5001, 20003, "XXREPORT", 7001 + prog_index, recs, &count,
                                                &shared_list, job_values, prog_index, connection.list(), job.list(),
                                                &error);
    }
    static ZPALIST_handle_typ values_list(std::vector<std::pair<std::string, std::string>> values) {
        ZPALIST_handle_typ list{};
        for (auto& [key, value] : values) GM_PARAM_list_set(&list, key.c_str(), value.c_str());
        return list;
    }
    std::string shared(const char* name) {
        char value[BE_DUZ_PARM_VALUE_SIZE] = "";
        return GM_PARAM_list_get(&shared_list, name, value, sizeof value) == CM_RC_OK ? value : "<none>";
    }

    ZPALIST_handle_typ shared_list{};
};

TEST_F(SetParmTest, SharedParameterCarriesTheFirstProgramsValueToTheNext) {
    SetParameter first{"P_PERIOD"};
    first.shared = "PERIOD";
    SetParameter second{"P_GL_PERIOD"};
    second.shared = "PERIOD";
    struct Case {
        const char* first_value;  // nullptr: the job gives none
        const char* second_value;
        const char* second_gets;
        const char* stored;
    };
    const Case cases[] = {
        {"JAN-24", nullptr, "JAN-24", "JAN-24"},
        {"", "FEB-24", "FEB-24", "FEB-24"},
        {nullptr, nullptr, "", "<none>"},
        {"JAN-24", "FEB-24", "FEB-24", "JAN-24"},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        GM_PARAM_list_clear(&shared_list);
        programs({{first}, {second}});
        OwnedList connection{};
        OwnedList job{};
        ZPALIST_handle_typ values1 =
            values_list(c.first_value ? std::vector<std::pair<std::string, std::string>>{{"PARM1", c.first_value}}
                                      : std::vector<std::pair<std::string, std::string>>{});
        ZPALIST_handle_typ values2 =
            values_list(c.second_value ? std::vector<std::pair<std::string, std::string>>{{"PARM1", c.second_value}}
                                       : std::vector<std::pair<std::string, std::string>>{});
        int count = 0;
        ZPAError error{};
        ASSERT_EQ(program_values(0, &values1, connection, job, count, error), 0) << error.text;
        ASSERT_EQ(program_values(1, &values2, connection, job, count, error), 0) << error.text;
        EXPECT_STREQ(recs[0]->report_value, c.second_gets) << (c.first_value ? c.first_value : "-");
        EXPECT_EQ(shared("PERIOD"), c.stored);
        EXPECT_EQ(bound(kSetDefinitions, "RSETPROGID"), Cell(7002));
        GM_PARAM_list_clear(&values1);
        GM_PARAM_list_clear(&values2);
    }
}

TEST_F(SetParmTest, SetOverridesTheDefaultAndTheDisplayOfItsProgram) {
    SetParameter overridden{"A", "C", "program-default"};
    overridden.set_default_type = "S";
    overridden.set_default_value = "select 1 from dual";
    SetParameter plain{"B", "C", "program-default"};
    SetParameter shown_by_set{"C"};
    shown_by_set.displayed = "N";
    shown_by_set.set_displayed = "Y";
    SetParameter hidden_by_set{"D"};
    hidden_by_set.set_displayed = "N";
    SetParameter hidden{"E"};
    hidden.displayed = "N";
    struct Case {
        const char* sql;
        const char* including_hidden;  // GET_PARMS_INCLUDING_HIDDEN of table OEBS, nullptr: none
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {BE_DUZ_RETRIEVE_SET_PARM_SQL, nullptr, {"A", "B", "C", "D", "E"}},
        {BE_DUZ_RETRIEVE_SET_PARM_DISPLAY_SQL, nullptr, {"A", "B", "C"}},
        {BE_DUZ_RETRIEVE_SET_PARM_DISPLAY_SQL, "N", {"A", "B", "C"}},
        {BE_DUZ_RETRIEVE_SET_PARM_DISPLAY_SQL, "Y", {"A", "B", "C", "D", "E"}},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        GM_PARAM_clear();
        home.write_file("data/OEBS.dat", c.including_hidden
                                             ? std::string("GET_PARMS_INCLUDING_HIDDEN ") + c.including_hidden + "\n"
                                             : std::string("CM_DIR /x\n"));
        programs({{overridden, plain, shown_by_set, hidden_by_set, hidden}});
        int count = 0;
        ZPAError error{};
        ASSERT_EQ(
            BE_DUZ_SET_retrieve_default_parms(session, c.sql, 5001, 20003, "XXREPORT", 7001, recs, &count, &error), 0)
            << error.text;
        std::vector<std::string> names;
        for (int i = 0; i <= count; ++i) {
            names.push_back(recs[i]->parm_name);
            EXPECT_EQ(recs[i]->seq_number, i);
        }
        EXPECT_EQ(names, c.names);
        EXPECT_STREQ(recs[0]->parm_type, "S");
        EXPECT_STREQ(recs[0]->dft_value, "select 1 from dual");
        EXPECT_STREQ(recs[0]->parm_display, "Prompt A");
        EXPECT_STREQ(recs[1]->parm_type, "C");
        EXPECT_STREQ(recs[1]->dft_value, "program-default");
        EXPECT_STREQ(recs[2]->displayed, "Y");
        if (count == 4) {
            EXPECT_STREQ(recs[3]->displayed, "N");
            EXPECT_STREQ(recs[4]->displayed, "N");
        }
    }
}

TEST_F(SetParmTest, SetDefinitionsFailingAtTheSecondRowLeaveTheCountAlone) {
    oci_standin::Failure at_row_2 = oci_standin::failure_at(Step::Fetch, 1555, "snapshot too old");
    at_row_2.row = 2;
    oci_standin::add_rule(oci_standin::substring_rule(
        kSetDefinitions, {oci_standin::answer_failure(at_row_2, {SetParameter{"A"}.row(), SetParameter{"B"}.row()})}));
    int count = 42;
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_SET_retrieve_default_parms(session, BE_DUZ_RETRIEVE_SET_PARM_SQL, 5001, 20003, "XXREPORT", 7001,
                                                recs, &count, &error),
              1);
    EXPECT_EQ(count, 42);
    EXPECT_EQ(error.code, 1555u);
}

TEST_F(SetParmTest, EmptyJobValueTakesTheDefaultOnlyWhenTheOptionSaysSo) {
    SetParameter constant{"P_CONST", "C", "dflt"};
    SetParameter hidden{"P_HIDDEN", "C", "hidden-dflt"};
    hidden.displayed = "N";
    SetParameter no_default{"P_NONE"};
    struct Case {
        const char* option;  // USE_DEFAULT_WHEN_AE_IS_EMPTY, nullptr: absent
        const char* value;   // PARM1, nullptr: missing
        std::vector<std::string> values;
    };
    const Case cases[] = {
        {nullptr, "", {"", "hidden-dflt", ""}},           {nullptr, nullptr, {"", "hidden-dflt", ""}},
        {"Y", "  ", {"dflt", "hidden-dflt", ""}},         {"Y", nullptr, {"dflt", "hidden-dflt", ""}},
        {nullptr, "given", {"given", "hidden-dflt", ""}},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        programs({{constant, hidden, no_default}});
        OwnedList with{{"USE_DEFAULT_WHEN_AE_IS_EMPTY", c.option ? c.option : ""}};
        OwnedList without{};
        OwnedList job{};
        ZPALIST_handle_typ values =
            values_list(c.value ? std::vector<std::pair<std::string, std::string>>{{"PARM1", c.value}}
                                : std::vector<std::pair<std::string, std::string>>{});
        int count = 0;
        ZPAError error{};
        ASSERT_EQ(program_values(0, &values, c.option ? with : without, job, count, error), 0) << error.text;
        std::vector<std::string> got;
        for (int i = 0; i <= count; ++i) got.push_back(recs[i]->report_value);
        EXPECT_EQ(got, c.values) << (c.option ? "Y" : "-") << " " << (c.value ? c.value : "missing");
        GM_PARAM_list_clear(&values);
    }
}

TEST_F(SetParmTest, ValidationOffTakesTheProgramsValuesOrNothing) {
    oci_standin::reset();
    OwnedList connection{};
    OwnedList job{{"DUZ-PARAM_VALIDATION", "N"}};
    ZPALIST_handle_typ values = values_list({{"PARM1", "a"}, {"PARM3", "Calculated During Submission"}});
    int count = 0;
    ZPAError error{};
    EXPECT_EQ(program_values(0, &values, connection, job, count, error), 0);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(recs[0]->report_value, "a");
    EXPECT_STREQ(recs[2]->report_value, "");
    EXPECT_EQ(program_values(0, nullptr, connection, job, count, error), 0);
    EXPECT_EQ(count, -1);
    EXPECT_TRUE(oci_standin::journal().calls.empty());
    GM_PARAM_list_clear(&values);
}

TEST_F(SetParmTest, OrgIdParameterSetsTheOperatingUnitByIdOrName) {
    SetParameter org{"p_org_id"};
    org.validation = "F";
    struct Case {
        const char* value;
        const char* option;     // NO_OU_OVER_DFLT, nullptr: absent
        bool unit_known;        // an organisation has the id
        const char* unit_name;  // the name the operating unit is set with, nullptr: not set
        bool id_looked_up;
    };
    const Case cases[] = {
        {"204", nullptr, true, "Vision Operations", true},
        {"Vision Services", "N", true, "Vision Services", false},
        {"204", "Y", true, nullptr, false},
        {"999", nullptr, false, nullptr, true},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        OS_DIAG_initialize(nullptr, "Oebs_CM");
        DIAG_set_debug_level(2);
        programs({{org}});
        using oci_standin::answer_rows;
        oci_standin::add_rule(oci_standin::substring_rule("MULTI_ORG_CATEGORY = 'S'", {answer_rows({{0}})}));
        oci_standin::add_rule(oci_standin::substring_rule(
            "o.organization_id = :org_id",
            {answer_rows(c.unit_known ? std::vector<Row>{{"Vision Operations"}} : std::vector<Row>{})}));
        oci_standin::add_rule(oci_standin::substring_rule("otl.name = :ou_name", {answer_rows({{458}})}));
        for (const char* block : {"MO_GLOB_ORG_ACCESS_TMP", "set_policy_context", "set_org_id"})
            oci_standin::add_rule(betest::block_rule(block));
        oci_standin::add_rule(oci_standin::substring_rule(
            "FROM FND_FLEX_VALIDATION_TABLES", {answer_rows({{"HR_OPERATING_UNITS", "ORGANIZATION_ID", "N", 15, "NAME",
                                                              "C", 240, Cell(), Cell(), Cell(), Cell(), Cell()}})}));
        oci_standin::add_rule(oci_standin::substring_rule("FROM FND_SESSIONS", {answer_rows({{"1", "x"}})}));
        oci_standin::add_rule(
            oci_standin::substring_rule("select * from (", {answer_rows({{"204", Cell(), c.value}})}));
        OwnedList with{{"NO_OU_OVER_DFLT", c.option ? c.option : ""}};
        OwnedList without{};
        OwnedList job{};
        ZPALIST_handle_typ values = values_list({{"PARM1", c.value}});
        int count = 0;
        ZPAError error{};
        ASSERT_EQ(program_values(0, &values, c.option ? with : without, job, count, error), 0) << error.text;
        GM_PARAM_list_clear(&values);

        const auto texts = prepared();
        auto position = [&](const char* part) {
            return std::find_if(texts.begin(), texts.end(),
                                [&](const std::string& t) { return t.find(part) != std::string::npos; }) -
                   texts.begin();
        };
        EXPECT_EQ(count_prepared("o.organization_id = :org_id"), c.id_looked_up ? 1 : 0) << c.value;
        if (c.id_looked_up) {
            EXPECT_EQ(bound("o.organization_id = :org_id", "ORG_ID"), Cell(std::stoi(c.value)));
        }
        if (c.unit_name) {
            EXPECT_EQ(bound("INSERT INTO MO_GLOB_ORG_ACCESS_TMP", "OU_NAME"), Cell(c.unit_name));
            EXPECT_EQ(bound("otl.name = :ou_name", "OU_NAME"), Cell(c.unit_name));
            EXPECT_EQ(count_prepared("FND_SUBMIT.set_org_id"), 1);
            EXPECT_LT(position("FND_SUBMIT.set_org_id"), position("FROM FND_FLEX_VALIDATION_TABLES"));
        } else {
            EXPECT_EQ(count_prepared("MO_GLOB_ORG_ACCESS_TMP"), 0) << c.value;
        }
        const bool logged = testbed::read_diag_log("Oebs_CM").find("Fail to set Operating Unit") != std::string::npos;
        EXPECT_EQ(logged, !c.unit_known) << c.value;
        EXPECT_STREQ(recs[0]->report_value, "204");  // the chosen row's id
    }
}

TEST_F(SetParmTest, SetProgramIsFoundByItsNamesAndItsParametersShownAsTheSetShowsThem) {
    oci_standin::add_rule(
        oci_standin::substring_rule("fnd_request_set_programs setprog",
                                    {oci_standin::answer_rows({{20003, 5001, 7009}}), oci_standin::answer_rows({})}));
    SetParameter a{"A", "C", "program-default"};
    oci_standin::add_rule(oci_standin::substring_rule("DECODE(U.DEFAULT_TYPE", {oci_standin::answer_rows({a.row()})}));
    std::snprintf(recs[0]->value, sizeof recs[0]->value, "stale");
    int count = 0;
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_retrieve_ReqSetParmList(session, "XXCUST", "Month End", "Stage 1", "XXREPORT", "2", recs, &count,
                                             &error),
              0)
        << error.text;
    EXPECT_EQ(count, 0);
    EXPECT_STREQ(recs[0]->value, "");
    EXPECT_STREQ(recs[0]->dft_value, "program-default");
    EXPECT_EQ(binds_of(last_execution("fnd_request_set_programs setprog")),
              (std::vector<std::pair<std::string, std::string>>{
                  {"SET_NAME", "Month End"}, {"APP_NAME", "XXCUST"}, {"STAGE_NAME", "Stage 1"}, {"PROG_SEQ", "2"}}));
    EXPECT_TRUE(last_execution("fnd_request_set_programs setprog").binds.back().value.is_int());
    EXPECT_EQ(bound("DECODE(U.DEFAULT_TYPE", "RSETPROGID"), Cell(7009));

    testbed::StderrCapture capture;
    EXPECT_NE(BE_DUZ_retrieve_ReqSetParmList(session, "XXCUST", "No Such Set", "Stage 1", "XXREPORT", "2", recs, &count,
                                             &error),
              0);
    EXPECT_EQ(error.code, 100u);
    const std::string long_name(240, 'S');
    EXPECT_EQ(BE_DUZ_retrieve_ReqSetParmList(session, "XXCUST", long_name.c_str(), "Stage 1", "XXREPORT", "2", recs,
                                             &count, &error),
              1);
    EXPECT_NE(std::string(error.text).find("request set name of 240 characters is longer than 239"), std::string::npos)
        << error.text;
    EXPECT_EQ(count, 0);
}

TEST_F(SetParmTest, SharedValuesAreCollectedInAdvanceFromDefaultsOrTheJob) {
    SetParameter with_default{"A", "C", "from-default"};
    with_default.shared = "S_A";
    SetParameter from_job{"B"};
    from_job.shared = "S_B";
    SetParameter held{"C", "C", "ignored"};
    held.shared = "S_HELD";
    programs({{with_default, from_job, held}});
    GM_PARAM_list_set(&shared_list, "S_HELD", "kept");
    OwnedList job{{"10_XXREPORT_PARM2", "from-job"}};
    int count = 0;
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_request_set_shared_parms(session, 10, 5001, 20003, "XXREPORT", 7001, recs, &count, &shared_list,
                                              job.list(), &error),
              0)
        << error.text;
    EXPECT_EQ(shared("S_A"), "from-default");
    EXPECT_EQ(shared("S_B"), "from-job");
    EXPECT_EQ(shared("S_HELD"), "kept");
}

}  // namespace
