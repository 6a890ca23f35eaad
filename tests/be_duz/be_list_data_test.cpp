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
    static std::string account(const std::string& name) {
        return question("GetAccountData", {{"DUZ-INSTANCE", name}});
    }
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
        if (c.ok) EXPECT_EQ(values, c.values) << c.text;
        else EXPECT_EQ(bad, c.values[0]) << c.text;
    }
}

constexpr const char* kValueQuery = " MEANING FROM";
constexpr const char* kSetPrograms = "FROM fnd_request_sets RS";

// A parameter definition row (13 columns): validation type, displayed flag, default type and value.
Row parameter(const std::string& name, const char* type, const char* displayed = "Y", Cell default_type = Cell(),
              Cell default_value = Cell()) {
    return {"N", default_type, default_value, name, name, 1000, "VS_" + name, "VS_" + name, 240, type, "C", "N",
            displayed};
}
// The same parameter as a request-set program's definition (16 columns).
Row set_parameter(const std::string& name, const char* type) {
    return {"N", Cell(), Cell(), name, "Prompt " + name, Cell(), 1000, "VS_" + name, 240, type, "C", Cell(), Cell(),
            "N", "Y", Cell()};
}

class ValueSetListTest : public ListTest {
protected:
    // The submission's context, the program's parameters, a table value set (T, values V, meanings
    // M) whose checks find every value, and the values of the asked parameter.
    static void database(std::vector<Row> parameters, std::vector<Row> values = {{"A1", "First"}, {"A2", "Second"}}) {
        submission_database({}, std::move(parameters));
        oci_standin::add_rule(substring_rule("FROM FND_FLEX_VALIDATION_TABLES",
                                             {answer_rows({{"T", Cell(), Cell(), 10, "V", "C", 20, Cell(), Cell(), "M",
                                                            "C", Cell()}})}));
        oci_standin::add_rule(substring_rule("select * from (", {answer_rows({{Cell(), "First", "A1"}})}));
        oci_standin::add_rule(substring_rule(kValueQuery, {answer_rows(std::move(values))}, "values"));
    }
    static std::vector<std::pair<std::string, std::string>> inputs(const std::string& asked,
                                                                   std::vector<std::pair<std::string, std::string>> more) {
        std::vector<std::pair<std::string, std::string>> all = {
            {"DUZ-USERNAME", "SYSADMIN"},        {"DUZ-RESPNAME", "System Administrator"}, {"DUZ-RESPAPP", "SYSADMIN"},
            {"DUZ-SECURITY_GROUPNAME", "Standard"}, {"DUZ-PROGNAME", "XXREP"},            {"DUZ-APPNAME", "FND"},
            {"DUZ-PARMINX", asked},              {"DUZ-PARMVAL", ""}};
        for (auto& [name, value] : more) {
            auto it = std::find_if(all.begin(), all.end(), [&](auto& p) { return p.first == name; });
            if (it != all.end()) it->second = value;
            else all.emplace_back(name, value);
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
