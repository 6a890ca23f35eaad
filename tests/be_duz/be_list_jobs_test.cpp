// The programs and request sets a user may submit under a responsibility, on the stand-in
// database: the ids block, the request-group and menu ways with their binds, the bound name
// filter and the user or responsibility that is not found.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "be_list_fixture.h"

namespace {

using namespace betest;
using Inputs = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kIdsBlock = "into :user_id from fnd_user";
constexpr const char* kRow[] = {"Trial Balance", "GLTRBAL", "SQLGL", "General Ledger"};

class JobListTest : public ListTest {
protected:
    static void ids_found() {
        oci_standin::Answer ids;
        ids.outs["user_id"] = oci_standin::out_value(Cell(1318));
        ids.outs["grp_app_id"] = oci_standin::out_value(Cell(101));
        ids.outs["grp_id"] = oci_standin::out_value(Cell(55));
        oci_standin::add_rule(oci_standin::substring_rule(kIdsBlock, {ids}));
    }
    static Inputs inputs(const char* task_type, const char* use_menu, const char* filter = nullptr) {
        Inputs in = {{"DUZ-USERNAME", "operations"},
                     {"DUZ-RESPNAME", "General Ledger Super User"},
                     {"DUZ-RESPAPP", "SQLGL"},
                     {"DUZ-TASKTYPE", task_type}};
        if (use_menu != nullptr) in.emplace_back("DUZ-USE_MENU_FUNCTION", use_menu);
        if (filter != nullptr)
            in.emplace_back(std::string(task_type) == "REQUEST" ? "DUZ-PROGDESP" : "DUZ-SETDESP", filter);
        return in;
    }
    // The binds of the last execution of the statement holding part, by name.
    static std::vector<std::pair<std::string, std::string>> binds_of(const std::string& part) {
        const auto executions = oci_standin::journal().executions;
        for (auto it = executions.rbegin(); it != executions.rend(); ++it) {
            if (it->text.find(part) == std::string::npos) continue;
            std::vector<std::pair<std::string, std::string>> binds;
            for (const auto& b : it->binds) binds.emplace_back(b.name, b.value.to_string());
            return binds;
        }
        return {};
    }
};

TEST_F(JobListTest, ProgramsOrSetsByRequestGroupOrByMenu) {
    using Binds = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* task_type;
        const char* use_menu;  // nullptr: absent
        const char* match;
        const char* fields[2];
        Binds binds;
    };
    const Case cases[] = {
        {"REQUEST",
         nullptr,
         "from FND_CONCURRENT_PROGRAMS_VL P",
         {"DUZ-PROGDESP", "DUZ-PROGNAME"},
         {{"GRP_APP_ID", "101"}, {"GRP_ID", "55"}}},
        {"REQUEST_SET",
         "N",
         "from FND_REQUEST_SETS_VL S",
         {"DUZ-SETDESP", "DUZ-SETNAME"},
         {{"GRP_APP_ID", "101"}, {"GRP_ID", "55"}, {"USER_ID", "1318"}}},
        {"REQUEST",
         "Y",
         "from fnd_concurrent_programs_vl P, fnd_application_vl A where",
         {"DUZ-PROGDESP", "DUZ-PROGNAME"},
         {{"RESP_NAME", "General Ledger Super User"}}},
        {"SET",
         "Y",
         "from fnd_request_sets_vl S, fnd_application_vl A where",
         {"DUZ-SETDESP", "DUZ-SETNAME"},
         {{"RESP_NAME", "General Ledger Super User"}}},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.task_type) + (c.use_menu ? c.use_menu : "-");
        oci_standin::reset();
        ids_found();
        rows_for(c.match, {{kRow[0], kRow[1], kRow[2], kRow[3]}});
        const std::string answer = list(question("GetJob", inputs(c.task_type, c.use_menu)));
        EXPECT_EQ(answer, prologue(header("GetJob")) + "<DUZ-JOB><" + c.fields[0] + ">Trial Balance</" + c.fields[0] +
                              "><" + c.fields[1] + ">GLTRBAL</" + c.fields[1] +
                              "><DUZ-APPNAME>SQLGL</DUZ-APPNAME><DUZ-APPDESP>General Ledger</DUZ-APPDESP></DUZ-JOB>" +
                              kEpilogue)
            << what;
        Binds binds = binds_of(c.match);
        std::sort(binds.begin(), binds.end());
        EXPECT_EQ(binds, c.binds) << what;
        EXPECT_EQ(bound(kIdsBlock, "USER_NAME"), Cell("OPERATIONS")) << what;
        EXPECT_EQ(bound(kIdsBlock, "APP_NAME"), Cell("SQLGL")) << what;
    }
    // The menu way reads names from the parameters of the menu tree's form functions.
    const std::string menu = last_text("from fnd_request_sets_vl S");
    EXPECT_NE(menu.find("CONNECT BY PRIOR sub_menu_id = menu_id"), std::string::npos) << menu;
    EXPECT_NE(menu.find("'REQUEST_SET_NAME=\"'"), std::string::npos) << menu;
    EXPECT_NE(menu.find("'Request_Group_Code=\"'"), std::string::npos) << menu;
}

TEST_F(JobListTest, NameFilterIsBoundOnceAndServesBothHalvesOfTheMenuUnion) {
    struct Case {
        const char* use_menu;
        const char* filter;
        const char* condition;  // nullptr: none
        const char* bound;
        std::size_t uses;
    };
    const std::string hostile = "x' or 'a'='a";
    const Case cases[] = {
        {"N", "*", nullptr, "", 0},
        {"N", "Trial*", "lower(P.user_concurrent_program_name) LIKE lower(:bv1)", "Trial%", 1},
        {"N", "Trial Balance", "P.user_concurrent_program_name = :bv1", "Trial Balance", 1},
        {"Y", "Trial*", "lower(P.user_concurrent_program_name) LIKE lower(:bv1)", "Trial%", 2},
        {"Y", hostile.c_str(), "P.user_concurrent_program_name = :bv1", hostile.c_str(), 2},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        ids_found();
        rows_for("P.CONCURRENT_PROGRAM_NAME", {});
        list(question("GetJob", inputs("REQUEST", c.use_menu, c.filter)));
        const std::string text = last_text("P.CONCURRENT_PROGRAM_NAME");
        EXPECT_EQ(text.find("x'"), std::string::npos) << text;
        if (c.condition == nullptr) {
            EXPECT_EQ(text.find(":bv"), std::string::npos) << text;
            continue;
        }
        std::size_t uses = 0;
        for (std::size_t at = text.find(c.condition); at != std::string::npos; at = text.find(c.condition, at + 1))
            ++uses;
        EXPECT_EQ(uses, c.uses) << c.filter << ": " << text;
        EXPECT_EQ(bound("P.CONCURRENT_PROGRAM_NAME", "BV1"), Cell(c.bound));
    }
}

TEST_F(JobListTest, UnknownUserOrResponsibilityFailsTheList) {
    oci_standin::add_rule(oci_standin::substring_rule(
        kIdsBlock,
        {oci_standin::answer_failure(oci_standin::failure_at(oci_standin::Step::Execute, 1403, "no data found"))}));
    void* handle = nullptr;
    EXPECT_EQ(open(question("GetJob", inputs("REQUEST", nullptr)), &handle), ZPA_FAIL);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(std::string(error.text).rfind("CM for OEBS: Failed to get user id. ORA-01403: no data found", 0), 0u)
        << error.text;
    EXPECT_EQ(error.code, 1403u);
    EXPECT_EQ(last_text("P.CONCURRENT_PROGRAM_NAME"), "");

    for (const char* left_out : {"DUZ-USERNAME", "DUZ-RESPNAME", "DUZ-RESPAPP", "DUZ-TASKTYPE"}) {
        oci_standin::reset();
        Inputs in;
        for (const auto& input : inputs("REQUEST", nullptr))
            if (input.first != left_out) in.push_back(input);
        EXPECT_EQ(open(question("GetJob", in), &handle), ZPA_FAIL);
        EXPECT_EQ(std::string(error.text), std::string("CM for OEBS: keyword ") + left_out + " not found");
        EXPECT_TRUE(prepared().empty());
    }
}

}  // namespace
