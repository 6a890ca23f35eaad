// Lookup lists on the stand-in database: every name filter bound (never placed in the statement),
// the printer style that a printer list needs, the layout row limit, layouts without XML
// Publisher, the two forms of the role list, the operating units of a responsibility and the
// territory check.
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "be_list_fixture.h"
#include "joined.h"

namespace {

using namespace betest;
using Inputs = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kEntityCheck = "INTO :is_exist";
constexpr const char* kLayoutMatch = "from xdo_templates_vl template, fnd_concurrent_programs cc_prog";
constexpr const char* kValidateUser = "INTO :userID, :respID";
constexpr const char* kAppsInit = "FND_GLOBAL.APPS_INITIALIZE";
constexpr const char* kUnitsMatch = "FROM PER_ORGANIZATION_LIST PER";
const std::string kHostile = "x' or 'a'='a";

void entity_exists(bool exists) {
    oci_standin::Answer answer;
    answer.outs["is_exist"] = oci_standin::out_value(Cell(exists ? 1 : 0));
    oci_standin::add_rule(oci_standin::substring_rule(kEntityCheck, {answer}));
}

void user_found() {
    oci_standin::Answer ids;
    ids.outs["userID"] = oci_standin::out_value(Cell(1318));
    ids.outs["respID"] = oci_standin::out_value(Cell(50559));
    ids.outs["resp_appID"] = oci_standin::out_value(Cell(222));
    ids.outs["groupID"] = oci_standin::out_value(Cell(0));
    oci_standin::add_rule(oci_standin::substring_rule(kValidateUser, {ids}));
    oci_standin::add_rule(block_rule(kAppsInit));
}

const Inputs kUnitInputs = {{"DUZ-USERNAME", "OPERATIONS"},
                            {"DUZ-RESPNAME", "Receivables Manager"},
                            {"DUZ-RESPAPP", "AR"},
                            {"DUZ-SECURITY_GROUPNAME", "Standard"}};

// One list with a name filter: how to call it and where its condition stands.
struct FilteredList {
    const char* action;
    Inputs inputs;  // besides the filter
    const char* filter_key;
    const char* match;                 // a part of the list's statement
    std::vector<std::string> columns;  // the compared expressions, in the statement's order
    void (*setup)();
};

class LookupListTest : public ListTest {
protected:
    // The last execution of the statement holding match.
    static oci_standin::ExecutionRecord last_execution(const std::string& match) {
        const auto executions = oci_standin::journal().executions;
        for (auto it = executions.rbegin(); it != executions.rend(); ++it)
            if (it->text.find(match) != std::string::npos) return *it;
        ADD_FAILURE() << "no execution of " << match;
        return {};
    }
    static std::vector<std::string> numbered_bind_values(const oci_standin::ExecutionRecord& e) {
        std::vector<std::string> values;
        for (const auto& b : e.binds)
            if (b.name.rfind("BV", 0) == 0) values.push_back(b.value.to_string());
        return values;
    }
};

TEST_F(LookupListTest, EveryNameFilterIsBoundAndComparedWithLikeOnlyForAWildcard) {
    const std::vector<FilteredList> lists = {
        {"GetPrinter",
         {{"DUZ-PRINTSTYLE", "LANDSCAPE"}},
         "DUZ-PRINTERNAME",
         "fnd_printer_vl prt,",
         {"prt.printer_name"},
         nullptr},
        {"GetPrinterStyle",
         {},
         "DUZ-PRINTSTYLE",
         "select distinct sty.user_printer_style_name",
         {"sty.user_printer_style_name", "sty.printer_style_name"},
         nullptr},
        {"GetLanguage", {}, "DUZ-LANGUAGE", "FROM FND_LANGUAGES", {"NLS_LANGUAGE"}, nullptr},
        {"GetLayout",
         {{"DUZ-PROGNAME", "XXREPORT"}, {"DUZ-APPNAME", "XXCUST"}, {"DUZ-AMOUNT", "*"}},
         "DUZ-LAYOUT_NAME",
         kLayoutMatch,
         {"template.template_name"},
         [] { entity_exists(true); }},
        {"GetLayoutLang",
         {{"DUZ-APPNAME", "XXCUST"}, {"DUZ-LAYOUT_NAME", "Invoice"}},
         "DUZ-LAYOUT_LANG",
         "from xdo_lobs template",
         {"nvl(lang.name,' ')||': '||nvl(terr.territory_short_name,' ')", "nvl(lang.name,' ')"},
         nullptr},
        {"GetOperatingUnit", kUnitInputs, "DUZ-OPERATING_NAME", kUnitsMatch, {"NAME", "NAME"}, user_found},
    };
    struct Filter {
        const char* value;    // nullptr: absent
        const char* compare;  // "": no condition
        const char* bound;
    };
    const std::vector<Filter> filters = {{nullptr, "", ""},     {"", "", ""},
                                         {"*", "", ""},         {"AB*", " LIKE ", "AB%"},
                                         {"ABC", " = ", "ABC"}, {kHostile.c_str(), " = ", kHostile.c_str()}};
    for (const FilteredList& l : lists) {
        for (const Filter& f : filters) {
            const std::string what =
                testbed::joined(l.action, " with ", f.value ? testbed::joined("'", f.value, "'") : "none");
            oci_standin::reset();
            if (l.setup != nullptr) l.setup();
            rows_for(l.match, {{"R1", "R2", "R3"}});
            Inputs inputs = l.inputs;
            if (f.value != nullptr) inputs.emplace_back(l.filter_key, f.value);
            const std::string answer = list(question(l.action, inputs));
            EXPECT_NE(answer.find(">R1<"), std::string::npos) << what;
            const oci_standin::ExecutionRecord e = last_execution(l.match);
            EXPECT_EQ(e.text.find("x'"), std::string::npos) << what << ": " << e.text;
            const std::vector<std::string> values = numbered_bind_values(e);
            if (*f.compare == '\0') {
                EXPECT_TRUE(values.empty()) << what;
                EXPECT_EQ(e.text.find(":bv"), std::string::npos) << what << ": " << e.text;
                continue;
            }
            ASSERT_EQ(values, std::vector<std::string>{f.bound}) << what;
            // The one placeholder stands after every compared expression, in order.
            std::size_t at = 0;
            for (const std::string& column : l.columns) {
                const std::regex condition(std::regex_replace(column, std::regex(R"([|.()'*+?^$\[\]{}\\])"), R"(\$&)") +
                                           f.compare + ":bv[0-9]+");
                std::smatch found;
                const std::string rest = e.text.substr(at);
                ASSERT_TRUE(std::regex_search(rest, found, condition)) << what << ": " << e.text;
                at += static_cast<std::size_t>(found.position(0) + found.length(0));
            }
        }
    }
}

TEST_F(LookupListTest, NotificationRolesMatchTheFilterWithQuotesAsWildcardsInEitherForm) {
    struct Case {
        bool role_view;
        const char* filter;  // nullptr: absent
        const char* bound;
    };
    const Case cases[] = {{true, nullptr, "%"},  {false, "", "%"},     {true, "*", "%"},
                          {false, "AB*", "AB%"}, {true, "ABC", "ABC"}, {false, kHostile.c_str(), "x% or %a%=%a"}};
    for (const Case& c : cases) {
        oci_standin::reset();
        entity_exists(c.role_view);
        const char* match = c.role_view ? "wf_role_lov_vl wfr," : "from wf_roles wf";
        rows_for(match, {{"Sales Managers", "Responsibilities", "All sales managers", "FND_RESP|AR|SM"}});
        Inputs inputs;
        if (c.filter != nullptr) inputs.emplace_back("DUZ-NOTIFICATION", c.filter);
        const std::string answer = list(question("GetNotification", inputs));
        const std::string fields =
            c.role_view ? "<DUZ-NOTIFY_NAME>Sales Managers</DUZ-NOTIFY_NAME><DUZ-ORIG_SYSTEM_NAME>Responsibilities"
                          "</DUZ-ORIG_SYSTEM_NAME><DUZ-NOTIFY_DESCRIPTION>All sales managers</DUZ-NOTIFY_DESCRIPTION>"
                          "<DUZ-NOTIFY_SHORT_NAME>FND_RESP|AR|SM</DUZ-NOTIFY_SHORT_NAME>"
                        : "<DUZ-NOTIFY_NAME>Sales Managers</DUZ-NOTIFY_NAME><DUZ-NOTIFY_DESCRIPTION>Responsibilities"
                          "</DUZ-NOTIFY_DESCRIPTION><DUZ-NOTIFY_SHORT_NAME>All sales managers</DUZ-NOTIFY_SHORT_NAME>";
        EXPECT_EQ(answer, prologue(header("GetNotification")) + "<DUZ-NOTIFICATIONS>" + fields +
                              "</DUZ-NOTIFICATIONS>" + kEpilogue);
        const oci_standin::ExecutionRecord e = last_execution(match);
        EXPECT_NE(e.text.find("LIKE UPPER(:bv1)"), std::string::npos) << e.text;
        EXPECT_EQ(numbered_bind_values(e), std::vector<std::string>{c.bound}) << (c.filter ? c.filter : "none");
    }
}

TEST_F(LookupListTest, PrintersNeedAPrintStyleWhichIsBoundForBothStyleNames) {
    for (const char* style : {static_cast<const char*>(nullptr), "", "*"}) {
        Inputs inputs;
        if (style != nullptr) inputs.emplace_back("DUZ-PRINTSTYLE", style);
        void* handle = nullptr;
        EXPECT_EQ(open(question("GetPrinter", inputs), &handle), ZPA_FAIL);
        EXPECT_STREQ(error.text, "CM for OEBS: no printer style was found");
    }
    EXPECT_TRUE(prepared().empty());
    rows_for("fnd_printer_vl prt,", {{"lp01", "HP", "First floor"}});
    list(question("GetPrinter", {{"DUZ-PRINTSTYLE", "Landscape"}}));
    EXPECT_NE(last_text("fnd_printer_vl").find("sty.USER_PRINTER_STYLE_NAME =:style or sty.PRINTER_STYLE_NAME =:style"),
              std::string::npos);
    EXPECT_EQ(bound("fnd_printer_vl", "STYLE"), Cell("Landscape"));
}

TEST_F(LookupListTest, LayoutRowLimitIsABoundWholeNumberAndAnythingElseIsRefused) {
    const Inputs program = {{"DUZ-PROGNAME", "XXREPORT"}, {"DUZ-APPNAME", "XXCUST"}};
    entity_exists(true);
    rows_for(kLayoutMatch, {{"Invoice", "English: United States", "RTF"}});
    Inputs one = program;
    one.emplace_back("DUZ-AMOUNT", "1");
    const std::string answer = list(question("GetLayout", one));
    EXPECT_NE(answer.find("<DUZ-LOUT><DUZ-Layout_Name>Invoice</DUZ-Layout_Name><DUZ-Layout_Language>English: United "
                          "States</DUZ-Layout_Language><DUZ-Layout_Format>RTF</DUZ-Layout_Format></DUZ-LOUT>"),
              std::string::npos)
        << answer;
    const std::string text = last_text(kLayoutMatch);
    EXPECT_NE(text.find("ROWNUM <= :amount"), std::string::npos) << text;
    EXPECT_NE(text.find("group by Template_Name  order by Template_Name"), std::string::npos) << text;
    EXPECT_EQ(bound(kLayoutMatch, "AMOUNT"), Cell(1));
    EXPECT_EQ(bound(kLayoutMatch, "APP_NAME"), Cell("XXCUST"));
    EXPECT_EQ(bound(kLayoutMatch, "PROG_NAME"), Cell("XXREPORT"));

    // A program of a request set names its own application.
    Inputs set_program = one;
    set_program.emplace_back("DUZ-SETPROG_APPNAME", "SQLGL");
    list(question("GetLayout", set_program));
    EXPECT_EQ(bound(kLayoutMatch, "APP_NAME"), Cell("SQLGL"));

    for (const char* amount : {"1 or 1=1", "abc", "", " 1", "99999999999"}) {
        oci_standin::reset();
        entity_exists(true);
        Inputs inputs = program;
        inputs.emplace_back("DUZ-AMOUNT", amount);
        void* handle = nullptr;
        EXPECT_EQ(open(question("GetLayout", inputs), &handle), ZPA_FAIL) << amount;
        EXPECT_EQ(std::string(error.text),
                  std::string("CM for OEBS: Value ") + amount + " is invalid for key DUZ-AMOUNT");
        EXPECT_EQ(last_text(kLayoutMatch), "") << amount;
    }

    struct Missing {
        Inputs inputs;
        const char* message;
    };
    const Missing missing[] = {
        {{{"DUZ-APPNAME", "XXCUST"}, {"DUZ-AMOUNT", "1"}}, "CM for OEBS: Program short name is missing"},
        {{{"DUZ-PROGNAME", "XXREPORT"}, {"DUZ-AMOUNT", "1"}}, "CM for OEBS: Application short name is missing"},
        {program, "CM for OEBS: the xml_attrList 'DUZ-AMOUNT' is mandatory"},
    };
    for (const Missing& m : missing) {
        void* handle = nullptr;
        EXPECT_NE(open(question("GetLayout", m.inputs), &handle), ZPA_SUCCESS) << m.message;
        EXPECT_STREQ(error.text, m.message);
    }
}

TEST_F(LookupListTest, LayoutsWithoutXmlPublisherAreAnEmptyListEvenAfterAnotherListsUnreadRows) {
    rows_for("FROM FND_LANGUAGES", {{"AMERICAN_AMERICA"}, {"FRENCH_FRANCE"}});
    void* other = nullptr;
    ASSERT_EQ(open(question("GetLanguage"), &other), ZPA_SUCCESS) << error.text;
    ASSERT_EQ(read(other, 8192, 1).results, std::vector<ZPARC>{ZPA_SUCCESS});
    ASSERT_EQ(close(other), ZPA_SUCCESS);

    entity_exists(false);
    void* handle = nullptr;
    ASSERT_EQ(
        open(question("GetLayout", {{"DUZ-PROGNAME", "XXREPORT"}, {"DUZ-APPNAME", "XXCUST"}, {"DUZ-AMOUNT", "1"}}),
             &handle),
        ZPA_SUCCESS)
        << error.text;
    const Reads reads = read(handle);
    EXPECT_EQ(reads.results, std::vector<ZPARC>{ZPA_EOS});
    EXPECT_EQ(reads.whole(), prologue(header("GetLayout")) + kEpilogue);
    EXPECT_EQ(close(handle), ZPA_SUCCESS);
    EXPECT_EQ(last_text(kLayoutMatch), "");

    oci_standin::reset();
    oci_standin::add_rule(oci_standin::substring_rule(
        kEntityCheck,
        {oci_standin::answer_failure(oci_standin::failure_at(oci_standin::Step::Execute, 942, "no table"))}));
    EXPECT_EQ(open(question("GetLayout", {{"DUZ-AMOUNT", "1"}}), &handle), ZPA_FAIL);
    EXPECT_STREQ(error.text, "CM for OEBS: Unable to check if XML Publisher is installed");
}

TEST_F(LookupListTest, OperatingUnitsSetTheSessionContextFirstAndNameAMissingInput) {
    user_found();
    rows_for(kUnitsMatch, {{"Vision Operations"}});
    const std::string answer = list(question("GetOperatingUnit", kUnitInputs));
    EXPECT_EQ(answer, prologue(header("GetOperatingUnit")) +
                          "<DUZ-OPERATING_NAME>Vision Operations</DUZ-OPERATING_NAME>" + kEpilogue);
    const auto texts = prepared();
    auto position = [&](const std::string& part) {
        for (std::size_t i = 0; i < texts.size(); ++i)
            if (texts[i].find(part) != std::string::npos) return static_cast<int>(i);
        return -1;
    };
    ASSERT_GE(position(kAppsInit), 0);
    EXPECT_LT(position(kValidateUser), position(kAppsInit));
    EXPECT_LT(position(kAppsInit), position(kUnitsMatch));
    EXPECT_EQ(bound(kAppsInit, "USER_ID"), Cell(1318));
    EXPECT_EQ(bound(kUnitsMatch, "RESP_NAME"), Cell("RECEIVABLES MANAGER"));
    EXPECT_NE(last_text(kUnitsMatch).find("\tand upper(fr.responsibility_name) like :resp_name"), std::string::npos);

    for (const char* left_out : {"DUZ-USERNAME", "DUZ-RESPNAME", "DUZ-RESPAPP", "DUZ-SECURITY_GROUPNAME"}) {
        oci_standin::reset();
        Inputs inputs;
        for (const auto& input : kUnitInputs)
            if (input.first != left_out) inputs.push_back(input);
        void* handle = nullptr;
        EXPECT_EQ(open(question("GetOperatingUnit", inputs), &handle), ZPA_FAIL) << left_out;
        EXPECT_EQ(std::string(error.text), std::string("CM for OEBS: keyword ") + left_out + " not found");
        EXPECT_TRUE(prepared().empty()) << left_out;
    }

    // A user that is not found: no session context, no list.
    oci_standin::reset();
    oci_standin::add_rule(oci_standin::substring_rule(
        kValidateUser,
        {oci_standin::answer_failure(oci_standin::failure_at(oci_standin::Step::Execute, 1403, "no data found"))}));
    void* handle = nullptr;
    EXPECT_EQ(open(question("GetOperatingUnit", kUnitInputs), &handle), ZPA_FAIL);
    EXPECT_EQ(last_text(kAppsInit), "");
    EXPECT_EQ(last_text(kUnitsMatch), "");
}

TEST_F(LookupListTest, TerritoryCheckCountsTheProgramsLayoutsWithADefaultTerritory) {
    rows_for("select count(template.template_name)", {{2}});
    int has_territory = -1;
    char prog[] = "XXREPORT";
    char app[] = "XXCUST";
    ASSERT_EQ(BE_DUZ_check_if_territory_exist(prog, app, &has_territory, session, &error), ZPA_SUCCESS) << error.text;
    EXPECT_EQ(has_territory, 2);
    const oci_standin::ExecutionRecord e = last_execution("select count(template.template_name)");
    EXPECT_EQ(e.iters, 1u);
    EXPECT_NE(e.text.find("template.default_territory = terr.territory_code"), std::string::npos);
    EXPECT_EQ(bound("select count(template.template_name)", "PROG_NAME"), Cell("XXREPORT"));

    oci_standin::reset();
    oci_standin::add_rule(
        oci_standin::substring_rule("select count(template.template_name)",
                                    {oci_standin::answer_failure(oci_standin::failure_at(
                                        oci_standin::Step::Execute, 942, "table or view does not exist"))}));
    EXPECT_NE(BE_DUZ_check_if_territory_exist(prog, app, &has_territory, session, &error), ZPA_SUCCESS);
    EXPECT_NE(std::string(error.text).find("ORA-00942"), std::string::npos) << error.text;
}

}  // namespace
