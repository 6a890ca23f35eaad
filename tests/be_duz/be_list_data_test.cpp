// The whole-text lists in-process against the stand-in database: the account data from the
// accounts file, the program data and the request-set programs data with their builders, and the
// value-set list with the chosen values it reads.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "be_job_fixture.h"
#include "be_list_data_internal.h"
#include "be_list_fixture.h"
#include "joined.h"

namespace {

using namespace betest;
using oci_standin::answer_rows;
using oci_standin::Cell;
using oci_standin::substring_rule;

// Executions whose text holds part.
std::vector<oci_standin::ExecutionRecord> executions_of(const std::string& part) {
    std::vector<oci_standin::ExecutionRecord> found;
    for (auto& e : oci_standin::journal().executions)
        if (e.text.find(part) != std::string::npos) found.push_back(e);
    return found;
}

// ------------------------------------------------------------------------------------------------
// Account data

class AccountDataTest : public ListTest {
protected:
    void SetUp() override {
        ListTest::SetUp();
        home.write_file("data/DUZ_inst.dat",
                        "[VIS]\nDB_SID VIS\nDUZ-CONFIG_DISPLAYLOG N\nDUZ-CONFIG_DISPLAYOUTPUT Y\n"
                        "CONVERT_WARNING2OK Y\nDUZ-DEPENDCHILD Y\n[PROD]\nDB_SID PROD\nDUZ-WAITCHILD N\n");
    }
    static std::string account(const std::string& name) { return question("GetAccountData", {{"DUZ-INSTANCE", name}}); }
};

TEST_F(AccountDataTest, SettingsOfTheSectionWithDefaultsForWhatItLacks) {
    EXPECT_EQ(list(account("VIS")),
              prologue(header("GetAccountData")) +
                  "<DUZ-DISPLAY_LOGFILE>N</DUZ-DISPLAY_LOGFILE><DUZ-DISPLAY_OUTPUT>Y</DUZ-DISPLAY_OUTPUT>"
                  "<DUZ-CONVERT_WARNING2OK>Y</DUZ-CONVERT_WARNING2OK><DUZ-WAITCHILD>Y</DUZ-WAITCHILD>"
                  "<DUZ-SUBSTATUS>Y</DUZ-SUBSTATUS>" +
                  kEpilogue);
    EXPECT_EQ(list(account("PROD")),
              prologue(header("GetAccountData")) +
                  "<DUZ-DISPLAY_LOGFILE>Y</DUZ-DISPLAY_LOGFILE><DUZ-DISPLAY_OUTPUT>N</DUZ-DISPLAY_OUTPUT>"
                  "<DUZ-CONVERT_WARNING2OK>N</DUZ-CONVERT_WARNING2OK><DUZ-WAITCHILD>N</DUZ-WAITCHILD>"
                  "<DUZ-SUBSTATUS>N</DUZ-SUBSTATUS>" +
                  kEpilogue);
}

TEST_F(AccountDataTest, FailuresLeaveNoList) {
    struct Case {
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases = {
        {question("GetAccountData"), "Account name is missing"},
        {account(""), "Account name is missing"},
        {account("vis"), "Failed to find account vis in accounts file"},
    };
    for (const Case& c : cases) {
        void* handle = nullptr;
        error = ZPAError{};
        EXPECT_EQ(open(c.text, &handle), ZPA_FAIL) << c.text;
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(std::string(error.text), std::string(BE_DUZ_ERROR_PREFIX) + c.message);
        EXPECT_EQ(error.code, 1u);
    }
    std::remove((home.path() + "/data/DUZ_inst.dat").c_str());
    void* handle = nullptr;
    EXPECT_EQ(open(account("VIS"), &handle), ZPA_FAIL);
    EXPECT_EQ(std::string(error.text),
              std::string(BE_DUZ_ERROR_PREFIX) + "Failed to load account file ./data/DUZ_inst.dat");
}

// ------------------------------------------------------------------------------------------------
// Program data

constexpr const char* kParmList = "decode(a.default_type";
constexpr const char* kProfileParms = "fnd_profile_options_tl t";
constexpr const char* kLayouts = "xdo_templates_vl template";
constexpr const char* kOperatingUnit = "MULTI_ORG_CATEGORY";

class ProgramDataTest : public ListTest {
protected:
    void TearDown() override {
        connection.Attributes = ZPAAttrList{0, nullptr, 0};
        ListTest::TearDown();
    }
    // The builders' rows (parameter list: name, value, value-set type, prompt), the program's
    // definitions for defaults given as SQL, and the rest of a submission's database.
    static void database(std::vector<Row> parameters, std::vector<Row> definitions = {},
                         std::vector<oci_standin::Rule> more = {}) {
        more.push_back(substring_rule(kParmList, {answer_rows(std::move(parameters))}, "parameters"));
        more.push_back(substring_rule(kProfileParms, {answer_rows({{"Printer", "PRINTER"}})}, "profiles"));
        more.push_back(substring_rule(kOperatingUnit, {answer_rows({{"0"}})}, "operating unit"));
        more.push_back(substring_rule("FROM all_views", {betest::outs({{"is_exist", 1}})}));
        more.push_back(substring_rule(kLayouts, {answer_rows({{"XXREP_LAYOUT", "English", "RTF"}})}, "layouts"));
        submission_database(std::move(more), std::move(definitions));
    }
    std::string program_data(std::vector<std::pair<std::string, std::string>> more = {}) {
        std::vector<std::pair<std::string, std::string>> inputs = {
            {"DUZ-PROGNAME", "XXREP"}, {"DUZ-APPNAME", "FND"}, {"DUZ-AMOUNT", "*"}};
        inputs.insert(inputs.end(), more.begin(), more.end());
        return list(question("GetProgramData", inputs));
    }
    static std::string answer(const std::string& parameters, bool profiles = true) {
        return prologue(header("GetProgramData")) + "<DUZ-PARMS>" + parameters + "</DUZ-PARMS>" +
               "<DUZ-HASOPUNIT><DUZ-VALUE>0</DUZ-VALUE></DUZ-HASOPUNIT>"
               "<DUZ-LOUT><DUZ-Layout_Name>XXREP_LAYOUT</DUZ-Layout_Name><DUZ-Layout_Language>English"
               "</DUZ-Layout_Language><DUZ-Layout_Format>RTF</DUZ-Layout_Format></DUZ-LOUT>" +
               (profiles ? "<DUZ-PRMPROF><DUZ-P001><DUZ-NAME>Printer</DUZ-NAME><DUZ-VALUE>PRINTER</DUZ-VALUE>"
                           "</DUZ-P001></DUZ-PRMPROF>"
                         : "") +
               "<DUZ-FILLER>X</DUZ-FILLER>" + kEpilogue;
    }
    static std::string parameter_xml(int number, const std::string& name, const std::string& value,
                                     const char* type = "N", const std::string& prompt = "") {
        char tag[16];
        std::snprintf(tag, sizeof tag, "DUZ-P%.3d", number);
        return std::string("<") + tag + "><DUZ-NAME>" + name + "</DUZ-NAME><DUZ-VALUE>" + value +
               "</DUZ-VALUE><DUZ-VALSETTYP>" + type + "</DUZ-VALSETTYP><DUZ-DISPLAY>" +
               (prompt.empty() ? "Prompt " + name : prompt) + "</DUZ-DISPLAY></" + tag + ">";
    }
    static Row parameter_row(const std::string& name, const std::string& value) {
        return {name, value, "N", "Prompt " + name};
    }
};

TEST_F(ProgramDataTest, BuildersInOrderParametersNumberedFromZeroAndEveryQueryReadToItsEnd) {
    database({parameter_row("P_FROM", "A"), parameter_row("P_TO", "Calculated During Submission")});
    EXPECT_EQ(program_data(),
              answer(parameter_xml(0, "P_FROM", "A") + parameter_xml(1, "P_TO", "Calculated During Submission")));
    std::vector<std::string> order;
    for (auto& e : oci_standin::journal().executions)
        for (const char* part : {kParmList, kOperatingUnit, kLayouts, kProfileParms})
            if (e.text.find(part) != std::string::npos) {
                order.push_back(part);
                EXPECT_EQ(e.rows + 1, e.fetch_calls) << part << ": not read to its end";
            }
    EXPECT_EQ(order, (std::vector<std::string>{kParmList, kOperatingUnit, kLayouts, kProfileParms}));
}

TEST_F(ProgramDataTest, ProgramWithoutParametersHasAnEmptyParameterBlock) {
    database({});
    EXPECT_EQ(program_data(), answer(""));
}

TEST_F(ProgramDataTest, HiddenProfileBlockFollowsTheConnectionsSetting) {
    struct Case {
        const char* setting;  // null: the connection has no such attribute
        bool profiles;
    };
    for (const Case& c : {Case{"Y", false}, Case{"N", true}, Case{nullptr, true}}) {
        database({});
        OwnedList attributes{{"CM_VERSION", "9"}, {"DISABLE_HIDDEN_PROFILE", c.setting ? c.setting : ""}};
        connection.Attributes = *attributes.list();
        if (c.setting == nullptr) connection.Attributes.Count = 1;
        EXPECT_EQ(program_data(), answer("", c.profiles)) << (c.setting ? c.setting : "absent");
        EXPECT_EQ(executions_of(kProfileParms).size(), c.profiles ? 1u : 0u);
    }
}

// Defaults given as SQL: the trailing ';' dropped, the result cut to 240 characters; one that
// fails becomes empty and the answer is still built. Hidden parameters count among the program's
// definitions, so a default may refer to a parameter that comes after a hidden one.
TEST_F(ProgramDataTest, SqlDefaultsAreWorkedOutAndAFailingOneBecomesEmpty) {
    const std::string long_result(300, 'r');
    oci_standin::Answer failing = oci_standin::answer_failure(
        oci_standin::failure_at(oci_standin::Step::Execute, 942, "table or view does not exist"));
    database({parameter_row("P_LONG", "SELECT long_value FROM xx_defaults;"),
              parameter_row("P_BAD", "select x from xx_missing"),
              parameter_row("P_AFTER", "SELECT :$FLEX$.P_BAD || 'z' FROM xx_after")},
             {betest::program_parameter("P_LONG"), betest::program_parameter("P_HIDDEN"),
              betest::program_parameter("P_BAD"), betest::program_parameter("P_AFTER")},
             {substring_rule("long_value FROM xx_defaults", {answer_rows({{long_result}})}, "long"),
              substring_rule("xx_missing", {failing}, "missing"),
              substring_rule("FROM xx_after", {answer_rows({{"z"}})}, "after")});
    EXPECT_EQ(program_data(), answer(parameter_xml(0, "P_LONG", std::string(240, 'r')) + parameter_xml(1, "P_BAD", "") +
                                     parameter_xml(2, "P_AFTER", "z")));
    const auto runs = executions_of("long_value FROM xx_defaults");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].text.find(';'), std::string::npos) << runs[0].text;
    EXPECT_EQ(executions_of("xx_missing").size(), 1u);
    // P_BAD stands before P_AFTER among the definitions (behind the hidden one): its reference is
    // bound, not replaced by NULL as a reference to no earlier parameter would be.
    const auto after = executions_of("FROM xx_after");
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].binds.size(), 1u) << after[0].text;
}

TEST_F(ProgramDataTest, MoreParametersThanRecordsFailClearly) {
    std::vector<Row> rows;
    for (int i = 0; i <= BE_DUZ_MAX_REPORT_PARMS; ++i) rows.push_back(parameter_row(testbed::joined("P", i), "v"));
    database(rows);
    void* handle = nullptr;
    EXPECT_EQ(open(question("GetProgramData", {{"DUZ-PROGNAME", "XXREP"}, {"DUZ-APPNAME", "FND"}, {"DUZ-AMOUNT", "*"}}),
                   &handle),
              ZPA_FAIL);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(std::string(error.text), std::string(BE_DUZ_ERROR_PREFIX) + "Program XXREP has more than 100 parameters");
}

TEST_F(ProgramDataTest, BuilderFailureEndsTheListWithItsError) {
    database({}, {},
             {substring_rule(kOperatingUnit, {answer_rows({})}),
              substring_rule(kLayouts, {oci_standin::answer_failure(oci_standin::failure_at(
                                           oci_standin::Step::Execute, 904, "invalid identifier"))})});
    void* handle = nullptr;
    EXPECT_EQ(open(question("GetProgramData", {{"DUZ-PROGNAME", "XXREP"}, {"DUZ-APPNAME", "FND"}, {"DUZ-AMOUNT", "*"}}),
                   &handle),
              ZPA_FAIL);
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(std::string(error.text).find("ORA-00904: invalid identifier"), std::string::npos) << error.text;
    EXPECT_TRUE(executions_of(kProfileParms).empty());
}

// ------------------------------------------------------------------------------------------------
// Request-set programs data

class SetProgramsDataTest : public ProgramDataTest {
protected:
    // Three programs, each with `parameters` parameters whose defaults are `value`.
    static void set_database(int parameters, const std::string& value, std::vector<oci_standin::Rule> more = {}) {
        std::vector<Row> definitions;
        for (int i = 1; i <= parameters; ++i)
            definitions.push_back({"N", Cell(), Cell(), testbed::joined("P", i), testbed::joined("Prompt ", i), Cell(),
                                   1000, "VS", 2000, "N", "C", "C", value, "N", "Y", Cell()});
        more.push_back(
            substring_rule("fnd_request_set_stages_vl RSS",
                           {answer_rows({{"XXA", "Program A", "FND", "Foundation", "10", "Stage 1", "1"},
                                         {"XXB", "Program B & more", "SQLGL", "General Ledger", "20", "Stage 1", "1"},
                                         {"XXC", "Program C", "FND", "Foundation", "10", "Stage 2", "2"}})},
                           "set programs"));
        more.push_back(substring_rule("SELECT setprog.set_application_id", {answer_rows({{222, 90, 801}})}));
        more.push_back(substring_rule("FROM FND_REQUEST_SET_PROGRAM_ARGS", {answer_rows(definitions)}, "set parms"));
        database({}, {}, std::move(more));
    }
    static std::string program_xml(int number, const std::string& program, const std::string& fields,
                                   const std::string& parameters, bool profiles = true) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "DUZ-P%.3d", number);
        return std::string("<") + tag + "><DUZ-PROGNAME>" + program + "</DUZ-PROGNAME>" + fields + "<DUZ-PARMS>" +
               parameters + "</DUZ-PARMS>" +
               "<DUZ-LOUT><DUZ-P001><DUZ-Layout_Name>XXREP_LAYOUT</DUZ-Layout_Name><DUZ-Layout_Language>English"
               "</DUZ-Layout_Language><DUZ-Layout_Format>RTF</DUZ-Layout_Format></DUZ-P001></DUZ-LOUT>" +
               (profiles ? "<DUZ-PRMPROF><DUZ-P001><DUZ-NAME>Printer</DUZ-NAME><DUZ-VALUE>PRINTER</DUZ-VALUE>"
                           "</DUZ-P001></DUZ-PRMPROF>"
                         : "") +
               "<DUZ-HASOPUNIT><DUZ-VALUE>0</DUZ-VALUE></DUZ-HASOPUNIT></" + tag + ">";
    }
    static std::string set_question() {
        return question("GetReqsetProgramsData",
                        {{"DUZ-SETNAME", "XXSET"}, {"DUZ-APPNAME", "FND"}, {"DUZ-AMOUNT", "1"}});
    }
};

TEST_F(SetProgramsDataTest, EveryProgramHasItsBlocksAndTheGrowingAnswerComesInPieces) {
    const std::string value(1000, 'v');
    set_database(6, value);
    std::string parameters;
    for (int i = 1; i <= 6; ++i) {
        const std::string n = std::to_string(i);
        parameters += "<DUZ-P00" + n + "><DUZ-NAME>P" + n + "</DUZ-NAME><DUZ-VALUE>" + value +
                      "</DUZ-VALUE><DUZ-VALSETTYP>N</DUZ-VALSETTYP><DUZ-DISPLAY>Prompt " + n +
                      "</DUZ-DISPLAY></DUZ-P00" + n + ">";
    }
    const std::string expected =
        prologue(header("GetReqsetProgramsData")) + "<DUZ-SETPROG>" +
        program_xml(1, "XXA",
                    "<DUZ-PROGDESP>Program A</DUZ-PROGDESP><DUZ-APPNAME>FND</DUZ-APPNAME><DUZ-APPDESP>Foundation"
                    "</DUZ-APPDESP><DUZ-PROGSEQ>10</DUZ-PROGSEQ><DUZ-STAGENAME>Stage 1</DUZ-STAGENAME>"
                    "<DUZ-STAGESEQ>1</DUZ-STAGESEQ>",
                    parameters) +
        program_xml(2, "XXB",
                    "<DUZ-PROGDESP>Program B &amp; more</DUZ-PROGDESP><DUZ-APPNAME>SQLGL</DUZ-APPNAME><DUZ-APPDESP>"
                    "General Ledger</DUZ-APPDESP><DUZ-PROGSEQ>20</DUZ-PROGSEQ><DUZ-STAGENAME>Stage 1</DUZ-STAGENAME>"
                    "<DUZ-STAGESEQ>1</DUZ-STAGESEQ>",
                    parameters) +
        program_xml(3, "XXC",
                    "<DUZ-PROGDESP>Program C</DUZ-PROGDESP><DUZ-APPNAME>FND</DUZ-APPNAME><DUZ-APPDESP>Foundation"
                    "</DUZ-APPDESP><DUZ-PROGSEQ>10</DUZ-PROGSEQ><DUZ-STAGENAME>Stage 2</DUZ-STAGENAME>"
                    "<DUZ-STAGESEQ>2</DUZ-STAGESEQ>",
                    parameters) +
        "</DUZ-SETPROG>" + kEpilogue;
    ASSERT_GT(expected.size(), 16384u);

    void* handle = nullptr;
    ASSERT_EQ(open(set_question(), &handle), ZPA_SUCCESS) << error.text;
    const Reads reads = read(handle, 1000);
    EXPECT_EQ(reads.pieces.size(), (expected.size() + 999) / 1000);
    EXPECT_EQ(reads.results.back(), ZPA_EOS);
    EXPECT_EQ(reads.whole(), expected);
    EXPECT_EQ(close(handle), ZPA_SUCCESS);

    // Each program's builders ran with its own names: the second program's layouts and profile
    // parameters are those of its own application.
    const auto layouts = executions_of(kLayouts);
    ASSERT_EQ(layouts.size(), 3u);
    const auto profiles = executions_of(kProfileParms);
    ASSERT_EQ(profiles.size(), 3u);
    std::vector<std::string> bound;
    for (auto& bind : profiles[1].binds) bound.push_back(bind.name + "=" + bind.value.to_string());
    EXPECT_EQ(bound, (std::vector<std::string>{"APP=SQLGL", "PROG=XXB"}));
}

TEST_F(SetProgramsDataTest, HiddenProfilesLeftOutWhenTheConnectionSaysSo) {
    set_database(0, "");
    OwnedList attributes{{"DISABLE_HIDDEN_PROFILE", "Y"}};
    connection.Attributes = *attributes.list();
    const std::string text = list(set_question());
    EXPECT_EQ(text.find("DUZ-PRMPROF"), std::string::npos);
    EXPECT_NE(text.find("<DUZ-P003><DUZ-PROGNAME>XXC</DUZ-PROGNAME>"), std::string::npos) << text;
    EXPECT_TRUE(executions_of(kProfileParms).empty());
}

TEST_F(SetProgramsDataTest, FailuresEndTheListWithTheStepThatFailed) {
    struct Case {
        std::string match;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"fnd_request_set_stages_vl RSS", "BE_DUZ_get_setprog_list failed. ORA-00942"},
        {"FROM FND_REQUEST_SET_PROGRAM_ARGS", "BE_DUZ_get_ReqSetParm_list failed. ORA-00942"},
        {kLayouts, "BE_DUZ_get_layout_list failed. ORA-00942"},
        {kProfileParms, "BE_DUZ_get_reqparmprofiles_list failed. ORA-00942"},
    };
    for (const Case& c : cases) {
        set_database(1, "v",
                     {substring_rule(c.match, {oci_standin::answer_failure(oci_standin::failure_at(
                                                  oci_standin::Step::Execute, 942, "table or view does not exist"))})});
        void* handle = nullptr;
        error = ZPAError{};
        EXPECT_EQ(open(set_question(), &handle), ZPA_FAIL) << c.match;
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(std::string(error.text).rfind(std::string(BE_DUZ_ERROR_PREFIX) + c.message, 0), 0u) << error.text;
    }
}

// A set program whose row cannot be kept fails the list instead of answering with fewer programs.
TEST_F(SetProgramsDataTest, ProgramRowThatCannotBeKeptFailsTheList) {
    set_database(0, "",
                 {substring_rule("fnd_request_set_stages_vl RSS",
                                 {answer_rows({{"XXA", std::string(241, 'd'), "FND", "F", "10", "S", "1"}})})});
    void* handle = nullptr;
    EXPECT_EQ(open(set_question(), &handle), ZPA_FAIL);
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(std::string(error.text).find("DUZ-PROGDESP of 241 characters is longer than 240"), std::string::npos)
        << error.text;
}

// ------------------------------------------------------------------------------------------------
// Value-set list

TEST(ChosenValues, ItemsNumbersAndContinuations) {
    struct Case {
        const char* text;
        std::size_t count;
        bool ok;
        std::vector<std::string> values;  // or the refused item
    };
    const std::vector<Case> cases = {
        {"1=A|2=B|C", 2, true, {"A", "B;C"}},
        {"1=|2=X", 2, true, {"", "X"}},
        {"", 3, true, {"", "", ""}},
        {"2=a=b||1=x|y|z|", 2, true, {"x;y;z", "a=b"}},
        {"1=A|3=X", 2, false, {"3=X"}},
        {"0=X", 2, false, {"0=X"}},
        {"C|1=A", 2, false, {"C"}},
        {"x=1", 2, false, {"x=1"}},
        {"1=12345678901", 1, false, {"1=12345678901"}},
        {"1=123456789|0", 1, false, {"0"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> values;
        std::string bad;
        ASSERT_EQ(be_list::parse_chosen_values(c.text, c.count, 10, values, bad), c.ok) << c.text;
        if (c.ok)
            EXPECT_EQ(values, c.values) << c.text;
        else
            EXPECT_EQ(bad, c.values[0]) << c.text;
    }
}

constexpr const char* kValueQuery = " MEANING FROM";
constexpr const char* kSetPrograms = "FROM fnd_request_sets RS";

// A parameter definition row (13 columns): validation type, displayed flag, default type and value.
Row parameter(const std::string& name, const char* type, const char* displayed = "Y", Cell default_type = Cell(),
              Cell default_value = Cell()) {
    return {"N",          default_type, default_value, name, name, 1000,     "VS_" + name,
            "VS_" + name, 240,          type,          "C",  "N",  displayed};
}
// The same parameter as a request-set program's definition (16 columns).
Row set_parameter(const std::string& name, const char* type) {
    return {"N", Cell(), Cell(), name,   "Prompt " + name, Cell(), 1000, "VS_" + name,
            240, type,   "C",    Cell(), Cell(),           "N",    "Y",  Cell()};
}

class ValueSetListTest : public ListTest {
protected:
    // The submission's context, the program's parameters, a table value set (T, values V, meanings
    // M) whose checks find every value, and the values of the asked parameter.
    static void database(std::vector<Row> parameters, std::vector<Row> values = {{"A1", "First"}, {"A2", "Second"}}) {
        submission_database({}, std::move(parameters));
        oci_standin::add_rule(
            substring_rule("FROM FND_FLEX_VALIDATION_TABLES",
                           {answer_rows({{"T", Cell(), Cell(), 10, "V", "C", 20, Cell(), Cell(), "M", "C", Cell()}})}));
        oci_standin::add_rule(substring_rule("select * from (", {answer_rows({{Cell(), "First", "A1"}})}));
        oci_standin::add_rule(substring_rule(kValueQuery, {answer_rows(std::move(values))}, "values"));
    }
    static std::vector<std::pair<std::string, std::string>> inputs(
        const std::string& asked, std::vector<std::pair<std::string, std::string>> more) {
        std::vector<std::pair<std::string, std::string>> all = {
            {"DUZ-USERNAME", "SYSADMIN"}, {"DUZ-RESPNAME", "System Administrator"},
            {"DUZ-RESPAPP", "SYSADMIN"},  {"DUZ-SECURITY_GROUPNAME", "Standard"},
            {"DUZ-PROGNAME", "XXREP"},    {"DUZ-APPNAME", "FND"},
            {"DUZ-PARMINX", asked},       {"DUZ-PARMVAL", ""}};
        for (auto& [name, value] : more) {
            auto it = std::find_if(all.begin(), all.end(), [&](auto& p) { return p.first == name; });
            if (it != all.end())
                it->second = value;
            else
                all.emplace_back(name, value);
        }
        return all;
    }
    static std::string values_answer(const std::string& body) {
        return prologue(header("GetValueSet")) + body + kEpilogue;
    }
};

// The parameters: P1 chosen, a hidden one whose SQL default is worked out, P2 asked (table value
// set); the filter reaches the value query as a bind.
TEST_F(ValueSetListTest, AskedParameterCountsOnlyDisplayedOnesAndEarlierDefaultsAreWorkedOut) {
    database({parameter("P1", "I"), parameter("HIDDEN", "I", "N", "S", "select 'H' from dual"), parameter("P2", "F"),
              parameter("P3", "F")},
             {{"O'Brien", "Irish"}});
    oci_standin::add_rule(substring_rule("select 'H' from dual", {answer_rows({{"H"}})}, "default"));
    const std::string answer =
        list(question("GetValueSet", inputs("2", {{"DUZ-PARMSTR", "1=A"}, {"DUZ-PARMVAL", "O'B*"}})));
    EXPECT_EQ(answer, values_answer("<DUZ-VALSET><DUZ-VALUE>O'Brien</DUZ-VALUE><DUZ-MEANING>Irish</DUZ-MEANING>"
                                    "</DUZ-VALSET>"));
    EXPECT_EQ(executions_of("select 'H' from dual").size(), 1u);
    const auto values = executions_of(kValueQuery);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].text.find("O'B"), std::string::npos) << values[0].text;
    ASSERT_EQ(values[0].binds.size(), 1u);
    EXPECT_EQ(values[0].binds[0].value.to_string(), "O'B%");
    EXPECT_EQ(values[0].iters, 0u);
    EXPECT_EQ(values[0].prefetch, static_cast<ub4>(BE_DUZ_LIST_PREFETCH_ROWS));
    // The context was set up as for a submission, the values chosen before the asked one checked.
    EXPECT_EQ(executions_of("APPS_INITIALIZE").size(), 1u);
    EXPECT_EQ(executions_of("select * from (").size(), 0u);  // P1 is not table-validated
}

TEST_F(ValueSetListTest, EarlierTableValidatedChoiceIsCheckedBeforeTheValueQuery) {
    database({parameter("P1", "F"), parameter("P2", "F")});
    list(question("GetValueSet", inputs("2", {{"DUZ-PARMSTR", "1=First|2=ignored"}})));
    const auto checks = executions_of("select * from (");
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0].binds.back().value.to_string(), "First");
    EXPECT_EQ(executions_of(kValueQuery).size(), 1u);
}

TEST_F(ValueSetListTest, ParameterWithoutTableValueSetGivesOneEmptyReadAndNoValueQuery) {
    database({parameter("P1", "I"), parameter("P2", "F")});
    void* handle = nullptr;
    ASSERT_EQ(open(question("GetValueSet", inputs("1", {})), &handle), ZPA_SUCCESS) << error.text;
    const Reads reads = read(handle);
    EXPECT_EQ(reads.results, std::vector<ZPARC>{ZPA_EOS});
    EXPECT_EQ(reads.whole(), prologue(header("GetValueSet")) + kEpilogue);
    EXPECT_EQ(close(handle), ZPA_SUCCESS);
    EXPECT_TRUE(executions_of(kValueQuery).empty());
}

TEST_F(ValueSetListTest, RefusedInputsPrepareNoValueQuery) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> inputs;
        std::string message;
    };
    const std::vector<Case> cases = {
        {inputs("0", {}), "Value 0 is invalid for key DUZ-PARMINX"},
        {inputs("two", {}), "Value two is invalid for key DUZ-PARMINX"},
        {inputs("3", {{"DUZ-PARMSTR", ""}}), "Value 3 is invalid for key DUZ-PARMINX"},
        {inputs("2", {{"DUZ-PARMSTR", "1=A|3=X"}}), "Value 3=X is invalid for key DUZ-PARMSTR"},
        {inputs("2", {}), "keyword DUZ-PARMSTR not found"},
        {inputs("1", {{"DUZ-TASKTYPE", "REQUEST_SET"}}), "(BE_DUZ_ATTR_REQSETNAME) keyword DUZ-SETNAME not found"},
    };
    for (const Case& c : cases) {
        database({parameter("P1", "F"), parameter("HIDDEN", "F", "N"), parameter("P2", "F")});
        void* handle = nullptr;
        error = ZPAError{};
        EXPECT_EQ(open(question("GetValueSet", c.inputs), &handle), ZPA_FAIL) << c.message;
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(std::string(error.text), std::string(BE_DUZ_ERROR_PREFIX) + c.message);
        EXPECT_TRUE(executions_of(kValueQuery).empty()) << c.message;
    }
}

class SetValueSetListTest : public ValueSetListTest {
protected:
    // A set of three programs (request-set program ids 801 to 803); the asked program's parameters.
    static void set_database() {
        database({});
        oci_standin::add_rule(substring_rule(kSetPrograms, {answer_rows({{"FND", 0, "XXFIRST", 801, 10, "S1", 1},
                                                                         {"FND", 0, "XXREP", 802, 20, "S1", 1},
                                                                         {"FND", 0, "XXLAST", 803, 10, "S2", 2}})}));
        oci_standin::add_rule(substring_rule("FROM FND_REQUEST_SET_PROGRAM_ARGS",
                                             {answer_rows({set_parameter("P1", "F"), set_parameter("P2", "F")})}));
    }
    static std::vector<std::pair<std::string, std::string>> set_inputs(const char* program) {
        return inputs("2", {{"DUZ-TASKTYPE", "REQUEST_SET"},
                            {"DUZ-SETNAME", "XXSET"},
                            {"DUZ-PROGNAME", program},
                            {"DUZ-PARMSTR", "1=First"}});
    }
};

TEST_F(SetValueSetListTest, ProgramIsFoundAmongTheSetsPrograms) {
    set_database();
    EXPECT_EQ(list(question("GetValueSet", set_inputs("XXREP"))),
              values_answer("<DUZ-VALSET><DUZ-VALUE>A1</DUZ-VALUE><DUZ-MEANING>First</DUZ-MEANING></DUZ-VALSET>"
                            "<DUZ-VALSET><DUZ-VALUE>A2</DUZ-VALUE><DUZ-MEANING>Second</DUZ-MEANING></DUZ-VALSET>"));
    const auto programs = executions_of(kSetPrograms);
    ASSERT_EQ(programs.size(), 1u);
    EXPECT_EQ(programs[0].binds[0].value.to_string(), "90");
    EXPECT_EQ(programs[0].binds[1].value.to_string(), "222");
    const auto definitions = executions_of("FROM FND_REQUEST_SET_PROGRAM_ARGS");
    ASSERT_EQ(definitions.size(), 1u);
    bool bound = false;
    for (auto& bind : definitions[0].binds)
        if (bind.name == "RSETPROGID") bound = bind.value.to_string() == "802";
    EXPECT_TRUE(bound);
}

TEST_F(SetValueSetListTest, ProgramNotInTheSetIsRefusedWithoutAValueQuery) {
    set_database();
    void* handle = nullptr;
    EXPECT_EQ(open(question("GetValueSet", set_inputs("XXOTHER")), &handle), ZPA_FAIL);
    EXPECT_EQ(std::string(error.text),
              std::string(BE_DUZ_ERROR_PREFIX) + "Program XXOTHER not found in request set XXSET");
    EXPECT_EQ(error.code, 1u);
    EXPECT_TRUE(executions_of("FROM FND_REQUEST_SET_PROGRAM_ARGS").empty());
    EXPECT_TRUE(executions_of(kValueQuery).empty());
}

}  // namespace
