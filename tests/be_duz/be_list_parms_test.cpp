// Parameter lists on the stand-in database: a program's parameters (hidden ones by the agent's
// key), the programs of a request set, one set program's parameters prepared in memory with the
// profile text applied first, the operating-unit flag and the set parameter names.
#include <string>
#include <utility>
#include <vector>

#include "be_list_fixture.h"

namespace {

using namespace betest;

constexpr const char* kParmMatch = "from fnd_descr_flex_column_usages a";
constexpr const char* kDisplayedOnly = "a.display_flag = 'Y'";

std::vector<std::pair<std::string, std::string>> profile_puts() {
    std::vector<std::pair<std::string, std::string>> puts;
    for (const auto& e : oci_standin::journal().executions) {
        if (e.text.find("FND_PROFILE.PUT") == std::string::npos) continue;
        std::string name, value;
        for (const auto& b : e.binds) {
            if (b.name == "PNAME") name = b.value.to_string();
            if (b.name == "PVALUE") value = b.value.to_string();
        }
        puts.emplace_back(name, value);
    }
    return puts;
}

class ParmListTest : public ListTest {
protected:
    // A set program's parameter as the set's display query gives it (16 columns).
    static Row set_parameter(const std::string& name, const std::string& shown_default, const char* validation = "F") {
        return {"N", Cell(),     Cell(), name, "Prompt " + name, Cell(), 1000, "VS_" + name,
                20,  validation, "C",    "C",  shown_default,    "N",    "Y",  Cell()};
    }
    static void set_program(std::vector<Row> parameters) {
        oci_standin::add_rule(oci_standin::substring_rule("fnd_request_set_programs setprog",
                                                          {oci_standin::answer_rows({{20003, 5001, 7009}})}));
        rows_for("DECODE(U.DEFAULT_TYPE", std::move(parameters));
        oci_standin::add_rule(block_rule("FND_PROFILE.PUT"));
    }
    static std::string set_param_question(const std::string& profile_text = "") {
        std::vector<std::pair<std::string, std::string>> inputs = {{"DUZ-SETNAME", "MONTH_END"},
                                                                   {"DUZ-APPNAME", "XXCUST"},
                                                                   {"DUZ-SETPROG_PROGNAME", "XXREPORT"},
                                                                   {"DUZ-SETPROG_PROGSEQ", "2"},
                                                                   {"DUZ-SETPROG_STAGENAME", "Stage 1"}};
        if (!profile_text.empty()) inputs.emplace_back("DUZ-PROFILETEXT", profile_text);
        return question("GetSetPARAM", inputs);
    }
};

TEST_F(ParmListTest, ProgramParametersAreNumberedRowsAndHiddenOnesFollowTheAgentsKey) {
    struct Case {
        const char* key;  // GET_PARMS_INCLUDING_HIDDEN of table OEBS; nullptr: none
        bool displayed_only;
    };
    for (const Case& c : {Case{nullptr, true}, Case{"N", true}, Case{"Y", false}}) {
        oci_standin::reset();
        GM_PARAM_clear();
        home.write_file("data/OEBS.dat",
                        c.key ? std::string("GET_PARMS_INCLUDING_HIDDEN ") + c.key + "\n" : "CM_DIR /x\n");
        rows_for(kParmMatch, {{"P_FROM", "Calculated During Submission", "F", "From", "Y"},
                              {"P_TO", "select sysdate from dual", "N", "To", "Y"},
                              {"P_MODE", " ", "I", "Mode", "N"}});
        const std::string answer =
            list(question("GetREQPARAM", {{"DUZ-PROGNAME", "XXREPORT"}, {"DUZ-APPNAME", "XXCUST"}}));
        EXPECT_EQ(answer,
                  prologue(header("GetREQPARAM")) +
                      "<DUZ-PARMS><DUZ-P001><DUZ-NAME>P_FROM</DUZ-NAME><DUZ-VALUE>Calculated During Submission"
                      "</DUZ-VALUE><DUZ-VALSETTYP>F</DUZ-VALSETTYP><DUZ-DISPLAY>From</DUZ-DISPLAY></DUZ-P001>"
                      "<DUZ-P002><DUZ-NAME>P_TO</DUZ-NAME><DUZ-VALUE>select sysdate from dual</DUZ-VALUE>"
                      "<DUZ-VALSETTYP>N</DUZ-VALSETTYP><DUZ-DISPLAY>To</DUZ-DISPLAY></DUZ-P002>"
                      "<DUZ-P003><DUZ-NAME>P_MODE</DUZ-NAME><DUZ-VALUE> </DUZ-VALUE><DUZ-VALSETTYP>I</DUZ-VALSETTYP>"
                      "<DUZ-DISPLAY>Mode</DUZ-DISPLAY></DUZ-P003></DUZ-PARMS>" +
                      kEpilogue);
        const std::string text = last_text(kParmMatch);
        EXPECT_EQ(text.find(kDisplayedOnly) != std::string::npos, c.displayed_only) << (c.key ? c.key : "none");
        EXPECT_NE(text.find("'A', 'Calculated During Submission'"), std::string::npos);
        EXPECT_EQ(bound(kParmMatch, "APP"), Cell("XXCUST"));
        EXPECT_EQ(bound(kParmMatch, "PROG"), Cell("XXREPORT"));
    }
}

TEST_F(ParmListTest, SetProgramsListEveryProgramOfTheSetInStageOrder) {
    rows_for("fnd_request_set_programs RSP", {{"XXREPORT", "Report", "XXCUST", "Custom", "10", "Stage 1", "1"}});
    const std::string answer = list(question("GetSetPROG", {{"DUZ-SETNAME", "MONTH_END"}, {"DUZ-APPNAME", "XXCUST"}}));
    EXPECT_NE(answer.find("<DUZ-SETPROG><DUZ-P001><DUZ-PROGNAME>XXREPORT</DUZ-PROGNAME><DUZ-PROGDESP>Report"
                          "</DUZ-PROGDESP><DUZ-APPNAME>XXCUST</DUZ-APPNAME><DUZ-APPDESP>Custom</DUZ-APPDESP>"
                          "<DUZ-PROGSEQ>10</DUZ-PROGSEQ><DUZ-STAGENAME>Stage 1</DUZ-STAGENAME><DUZ-STAGESEQ>1"
                          "</DUZ-STAGESEQ></DUZ-P001></DUZ-SETPROG>"),
              std::string::npos)
        << answer;
    EXPECT_EQ(bound("fnd_request_set_programs RSP", "SET_NAME"), Cell("MONTH_END"));
    EXPECT_EQ(bound("fnd_request_set_programs RSP", "APP"), Cell("XXCUST"));
    EXPECT_NE(last_text("fnd_request_set_programs RSP").find("order by RSS.display_sequence, RSP.sequence"),
              std::string::npos);
}

TEST_F(ParmListTest, SetProgramParametersComeFromMemoryAfterTheProfileTextIsApplied) {
    struct Case {
        const char* profile_text;
        std::vector<std::pair<std::string, std::string>> puts;
    };
    const Case cases[] = {
        {"A.1|B.2;C.3", {{"A", "1"}, {"B", "2"}, {"C", "3"}}},
        {"A.1|B.2|C.3", {{"A", "1"}, {"B", "2|C.3"}}},
        {"A.1|NODOT;C.;D.4", {{"A", "1"}, {"D", "4"}}},
        {"", {}},
    };
    const std::string long_default(2000, 'd');
    for (const Case& c : cases) {
        oci_standin::reset();
        set_program({set_parameter("P_FROM", "JAN-24"), set_parameter("P_LONG", long_default, "N")});
        const std::string answer = list(set_param_question(c.profile_text));
        EXPECT_EQ(profile_puts(), c.puts) << c.profile_text;
        // The profile pairs are set before the parameters are read.
        const auto texts = prepared();
        ASSERT_FALSE(texts.empty());
        EXPECT_NE(texts.back().find("DECODE(U.DEFAULT_TYPE"), std::string::npos);
        EXPECT_EQ(answer, prologue(header("GetSetPARAM")) +
                              "<DUZ-PARMS><DUZ-P001><DUZ-NAME>P_FROM</DUZ-NAME><DUZ-VALUE>JAN-24</DUZ-VALUE>"
                              "<DUZ-VALSETTYP>F</DUZ-VALSETTYP><DUZ-DISPLAY>Prompt P_FROM</DUZ-DISPLAY></DUZ-P001>"
                              "<DUZ-P002><DUZ-NAME>P_LONG</DUZ-NAME><DUZ-VALUE>" +
                              std::string(1023, 'd') +
                              "</DUZ-VALUE><DUZ-VALSETTYP>N</DUZ-VALSETTYP><DUZ-DISPLAY>Prompt P_LONG</DUZ-DISPLAY>"
                              "</DUZ-P002></DUZ-PARMS>" +
                              kEpilogue)
            << c.profile_text;
    }
}

TEST_F(ParmListTest, SetProgramWithoutParametersGivesTheEmptyList) {
    set_program({});
    EXPECT_EQ(list(set_param_question()), prologue(header("GetSetPARAM")) + "<DUZ-PARMS></DUZ-PARMS>" + kEpilogue);
}

TEST_F(ParmListTest, SetProgramBuilderReplacesTheRowsOfAnEarlierUseOfTheHandle) {
    auto* handle = static_cast<BE_DUZ_xmldata_handle*>(std::calloc(1, sizeof(BE_DUZ_xmldata_handle)));
    ZPALIST_init(&handle->datalist);
    OwnedList in{{"DUZ-SETNAME", "MONTH_END"},
                 {"DUZ-APPNAME", "XXCUST"},
                 {"DUZ-SETPROG_PROGNAME", "XXREPORT"},
                 {"DUZ-SETPROG_PROGSEQ", "2"},
                 {"DUZ-SETPROG_STAGENAME", "Stage 1"}};
    set_program({set_parameter("A", "1"), set_parameter("B", "2"), set_parameter("C", "3")});
    ASSERT_EQ(BE_DUZ_get_ReqSetParm_list(session, handle, in.list(), &error), ZPA_SUCCESS) << error.text;
    oci_standin::reset();
    set_program({set_parameter("X", "9")});
    ASSERT_EQ(BE_DUZ_get_ReqSetParm_list(session, handle, in.list(), &error), ZPA_SUCCESS) << error.text;
    ZPALIST_handle_typ* rows = nullptr;
    EXPECT_EQ(GM_PARAM_subtable_list_find(&handle->datalist, "P001", &rows), CM_RC_OK);
    EXPECT_NE(GM_PARAM_subtable_list_find(&handle->datalist, "P002", &rows), CM_RC_OK);
    EXPECT_EQ(close(handle), ZPA_SUCCESS);
}

TEST_F(ParmListTest, OperatingUnitFlagReadsZeroWhenProgramsHaveNoMultiOrgCategory) {
    struct Case {
        bool column_exists;
        const char* flag;
    };
    for (const Case& c : {Case{true, "1"}, Case{false, "0"}}) {
        oci_standin::reset();
        if (c.column_exists)
            rows_for("count(MULTI_ORG_CATEGORY)", {{1}});
        else
            oci_standin::add_rule(oci_standin::substring_rule(
                "count(MULTI_ORG_CATEGORY)",
                {oci_standin::answer_failure(oci_standin::failure_at(oci_standin::Step::Execute, 904,
                                                                     "\"MULTI_ORG_CATEGORY\": invalid identifier"))}));
        rows_for("select 0 from dual", {{0}});
        auto* handle = static_cast<BE_DUZ_xmldata_handle*>(std::calloc(1, sizeof(BE_DUZ_xmldata_handle)));
        ZPALIST_init(&handle->datalist);
        OwnedList in{{"DUZ-PROGNAME", "XXREPORT"}};
        ASSERT_EQ(BE_DUZ_check_if_operating_unit_exist(session, handle, in.list(), &error), ZPA_SUCCESS) << error.text;
        EXPECT_EQ(read(handle).whole(),
                  prologue("") + "<DUZ-HASOPUNIT><DUZ-VALUE>" + c.flag + "</DUZ-VALUE></DUZ-HASOPUNIT>" + kEpilogue);
        EXPECT_EQ(bound("count(MULTI_ORG_CATEGORY)", "PROG_NAME"), Cell("XXREPORT"));
        EXPECT_EQ(close(handle), ZPA_SUCCESS);
    }
}

TEST_F(ParmListTest, HiddenProfileParametersAndSetParameterNames) {
    rows_for("a.default_type = 'P' and a.display_flag != 'Y'", {{"MO: Operating Unit", "ORG_ID"}});
    auto* handle = static_cast<BE_DUZ_xmldata_handle*>(std::calloc(1, sizeof(BE_DUZ_xmldata_handle)));
    ZPALIST_init(&handle->datalist);
    OwnedList in{{"DUZ-PROGNAME", "XXREPORT"}, {"DUZ-APPNAME", "XXCUST"}};
    ASSERT_EQ(BE_DUZ_get_reqparmprofiles_list(session, handle, in.list(), &error), ZPA_SUCCESS) << error.text;
    EXPECT_EQ(read(handle).whole(), prologue("") +
                                        "<DUZ-PRMPROF><DUZ-P001><DUZ-NAME>MO: Operating Unit</DUZ-NAME><DUZ-VALUE>"
                                        "ORG_ID</DUZ-VALUE></DUZ-P001></DUZ-PRMPROF>" +
                                        kEpilogue);
    EXPECT_EQ(bound("a.default_type = 'P'", "PROG"), Cell("XXREPORT"));

    rows_for(kDisplayedOnly, {{"P_FROM"}, {"P_TO"}});
    OwnedList set_in{
        {"DUZ-SETPROG_SEQUENCE", "20"}, {"DUZ-SETPROG_APPNAME", "XXCUST"}, {"DUZ-SETPROG_PROGNAME", "XXREPORT"}};
    ASSERT_EQ(BE_DUZ_get_setparam_list(session, handle, set_in.list(), &error), ZPA_SUCCESS) << error.text;
    EXPECT_EQ(read(handle).whole(), prologue("") +
                                        "<DUZ-SETPROG><DUZ-20><DUZ-PARMS><DUZ-PARM001><DUZ-NAME>P_FROM</DUZ-NAME>"
                                        "</DUZ-PARM001><DUZ-PARM002><DUZ-NAME>P_TO</DUZ-NAME></DUZ-PARM002>"
                                        "</DUZ-PARMS></DUZ-20></DUZ-SETPROG>" +
                                        kEpilogue);
    OwnedList bad_sequence{
        {"DUZ-SETPROG_SEQUENCE", "2><x"}, {"DUZ-SETPROG_APPNAME", "XXCUST"}, {"DUZ-SETPROG_PROGNAME", "XXREPORT"}};
    EXPECT_EQ(BE_DUZ_get_setparam_list(session, handle, bad_sequence.list(), &error), ZPA_FAIL);
    EXPECT_STREQ(error.text, "CM for OEBS: Value 2><x is invalid for key DUZ-SETPROG_SEQUENCE");
    EXPECT_EQ(close(handle), ZPA_SUCCESS);
}

TEST_F(ParmListTest, MissingInputsAreNamed) {
    struct Case {
        std::string text;
        const char* missing;
    };
    const Case cases[] = {
        {question("GetREQPARAM", {{"DUZ-APPNAME", "XXCUST"}}), "DUZ-PROGNAME"},
        {question("GetREQPARAM", {{"DUZ-PROGNAME", "XXREPORT"}}), "DUZ-APPNAME"},
        {question("GetSetPROG", {{"DUZ-APPNAME", "XXCUST"}}), "DUZ-SETNAME"},
        {question(
             "GetSetPARAM",
             {{"DUZ-SETNAME", "S"}, {"DUZ-APPNAME", "A"}, {"DUZ-SETPROG_PROGNAME", "P"}, {"DUZ-SETPROG_PROGSEQ", "1"}}),
         "DUZ-SETPROG_STAGENAME"},
    };
    for (const Case& c : cases) {
        void* handle = nullptr;
        EXPECT_EQ(open(c.text, &handle), ZPA_FAIL) << c.missing;
        EXPECT_EQ(std::string(error.text), std::string("CM for OEBS: keyword ") + c.missing + " not found");
        EXPECT_TRUE(prepared().empty()) << c.missing;
    }
}

}  // namespace
