// The OEBS session context against the stand-in database: applications initialisation with the
// multi-org mode of the program, and the operating unit of a submission.
#include "be_session_fixture.h"

#include <string>

namespace {

using betest::OwnedList;
using oci_standin::Cell;
using oci_standin::Step;

constexpr const char* kMoInit = "BEGIN mo_global.init(:multy_org_flag); END;";
constexpr const char* kAppsInit = "BEGIN FND_GLOBAL.APPS_INITIALIZE(:user_id, :resp_id, :resp_app_id, :group_id); END;";
constexpr const char* kOrgId = "select FND_GLOBAL.ORG_ID() from dual";
constexpr const char* kPolicy = "BEGIN mo_global.set_policy_context('S',:org_id); END;";
constexpr const char* kDelete = "DELETE FROM MO_GLOB_ORG_ACCESS_TMP";
constexpr const char* kInsert =
    "INSERT INTO MO_GLOB_ORG_ACCESS_TMP (ORGANIZATION_ID , ORGANIZATION_NAME) VALUES (:org_id , :ou_name )";
constexpr const char* kServerPolicy = "BEGIN mo_global_server.set_policy_context_server('S',:org_id); END;";
constexpr const char* kRequestOrg = "BEGIN fnd_request.set_org_id(:org_id); END;";
constexpr const char* kSetOrg = "BEGIN FND_SUBMIT.set_org_id(:org_id); END;";

class SessionContextTest : public betest::OpenSessionTest {
protected:
    // The database of a program: its 'M' and 'S' category counts, the session's organization 204
    // ("Vision Operations"), and operating unit "Vision Services" with id 458.
    static void program_database(int multi_count, int single_count) {
        using oci_standin::answer_rows;
        using oci_standin::substring_rule;
        oci_standin::add_rule(substring_rule("MULTI_ORG_CATEGORY = 'M'", {answer_rows({{multi_count}})}));
        oci_standin::add_rule(substring_rule("MULTI_ORG_CATEGORY = 'S'", {answer_rows({{single_count}})}));
        oci_standin::add_rule(substring_rule("FND_GLOBAL.ORG_ID()", {answer_rows({{204}})}));
        oci_standin::add_rule(oci_standin::regex_rule("otl\\.name = :ou_name", {answer_rows({})}, "unit by name"));
        oci_standin::add_rule(substring_rule("otl.name from", {answer_rows({{"Vision Operations"}})}));
        for (const char* block :
             {"APPS_INITIALIZE", "mo_global.init", "set_policy_context", "MO_GLOB_ORG_ACCESS_TMP", "set_org_id"})
            oci_standin::add_rule(betest::block_rule(block));
    }
    static void unit_exists() {
        oci_standin::reset();
        oci_standin::add_rule(oci_standin::regex_rule("otl\\.name = :ou_name", {oci_standin::answer_rows({{458}})}));
    }
};

TEST_F(SessionContextTest, MultiOrgProgramInitialisesMultipleAccess) {
    program_database(1, 0);
    OwnedList job{{"DUZ-PROGNAME", "XXGLREP"}};
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_init_profile(1318, 50559, 101, 0, session, job.list(), &error), 0) << error.text;
    auto texts = prepared();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], kAppsInit);
    EXPECT_EQ(texts[2], kMoInit);
    EXPECT_EQ(bound("APPS_INITIALIZE", "USER_ID"), Cell(1318));
    EXPECT_EQ(bound("APPS_INITIALIZE", "RESP_ID"), Cell(50559));
    EXPECT_EQ(bound("APPS_INITIALIZE", "RESP_APP_ID"), Cell(101));
    EXPECT_EQ(bound("APPS_INITIALIZE", "GROUP_ID"), Cell(0));
    EXPECT_EQ(bound("MULTI_ORG_CATEGORY", "PROG_NAME"), Cell("XXGLREP"));
    EXPECT_EQ(bound("mo_global.init", "MULTY_ORG_FLAG"), Cell("M"));
}

TEST_F(SessionContextTest, ProgramWithoutNameOrMultiOrgRunsForTheSessionsOrganization) {
    for (auto* job_name : {"", "XXSINGLE"}) {
        oci_standin::reset();
        program_database(0, 0);
        OwnedList with_name{{"DUZ-PROGNAME", job_name}};
        OwnedList without_name{{"REQTYPE", "SUBMIT"}};
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_init_profile(1, 2, 3, 0, session, *job_name ? with_name.list() : without_name.list(), &error),
                  0);
        auto texts = prepared();
        ASSERT_GE(texts.size(), 4u);
        EXPECT_EQ(std::vector<std::string>(texts.end() - 3, texts.end()),
                  (std::vector<std::string>{kMoInit, kOrgId, kPolicy}))
            << job_name;
        EXPECT_EQ(bound("mo_global.init", "MULTY_ORG_FLAG"), Cell("S"));
        EXPECT_EQ(bound("set_policy_context", "ORG_ID"), Cell(204));
    }
}

TEST_F(SessionContextTest, FailedApplicationsInitialisationFailsAndSkipsMultiOrg) {
    oci_standin::add_rule(oci_standin::substring_rule(
        "APPS_INITIALIZE",
        {oci_standin::answer_failure(oci_standin::failure_at(Step::Execute, 20001, "invalid responsibility"))}));
    OwnedList job{{"DUZ-PROGNAME", "XXGLREP"}};
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_init_profile(1, 2, 3, 0, session, job.list(), &error), 1);
    EXPECT_EQ(error.code, 20001u);
    EXPECT_EQ(prepared().size(), 1u);
}

TEST_F(SessionContextTest, OperatingUnitIsSetOnlyWhenTheProgramOrTheRequestAsksForIt) {
    struct Case {
        const char* no_override;  // nullptr: attribute missing
        int single_count;
        const char* ou_name;  // nullptr: no name given
        bool unit_found;
        const char* req_type;
        int org_id;            // 0: nothing set
        const char* inserted;  // name inserted with the id
        const char* set_org;   // statement that sets the request's organization
    };
    const Case cases[] = {
        {"N", 0, nullptr, false, "REQUEST", 0, nullptr, nullptr},
        {nullptr, 0, nullptr, false, "REQUEST", 0, nullptr, nullptr},
        {"N", 0, "", false, "REQUEST", 204, "", kRequestOrg},
        {"Y", 1, "Vision Services", true, "REQUEST_SET", 458, "Vision Services", kSetOrg},
        {"Y", 0, "Vision Services", true, "REQUEST", 0, nullptr, nullptr},
        {"N", 1, nullptr, false, "REQUEST", 204, "Vision Operations", kRequestOrg},
        {"N", 0, "No Such Unit", false, "REQUEST_SET", 204, "No Such Unit", kSetOrg},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        if (c.unit_found) unit_exists();
        program_database(0, c.single_count);
        OwnedList with{{"NO_OU_OVER_DFLT", c.no_override ? c.no_override : ""}};
        OwnedList without{{"CM_DIR", "/opt/cm"}};
        ZPAAttrList* connection = c.no_override ? with.list() : without.list();
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_set_Operating_Unit(const_cast<char*>("XXPROG"), const_cast<char*>(c.ou_name),
                                            const_cast<char*>(c.req_type), session, connection, &error),
                  0)
            << error.text;
        auto texts = prepared();
        std::string trace = c.ou_name ? c.ou_name : "(none)";
        if (c.org_id == 0) {
            EXPECT_EQ(texts.size(), 1u) << trace;  // only the category count
            continue;
        }
        ASSERT_GE(texts.size(), 5u) << trace;
        EXPECT_EQ(texts[1], kDelete) << trace;
        EXPECT_EQ(texts[texts.size() - 3], kInsert) << trace;
        EXPECT_EQ(texts[texts.size() - 2], kServerPolicy) << trace;
        EXPECT_EQ(texts.back(), c.set_org) << trace;
        EXPECT_EQ(bound("INSERT INTO", "ORG_ID"), Cell(c.org_id)) << trace;
        EXPECT_EQ(bound("INSERT INTO", "OU_NAME"), Cell(c.inserted)) << trace;
        EXPECT_EQ(bound("set_org_id", "ORG_ID"), Cell(c.org_id)) << trace;
    }
}

TEST_F(SessionContextTest, OperatingUnitFailuresEndTheSetUpWithTheirResult) {
    oci_standin::add_rule(oci_standin::substring_rule(
        "MULTI_ORG_CATEGORY = 'S'",
        {oci_standin::answer_failure(oci_standin::failure_at(Step::Execute, 904, "invalid identifier"))}));
    OwnedList connection{{"NO_OU_OVER_DFLT", "N"}};
    ZPAError error{};
    error.code = 42;
    // The category count's own execution failure is 1 and leaves the record alone.
    EXPECT_EQ(BE_DUZ_set_Operating_Unit(const_cast<char*>("XXPROG"), nullptr, const_cast<char*>("REQUEST"), session,
                                        connection.list(), &error),
              1);
    EXPECT_EQ(error.code, 42u);

    // The session's organization cannot be read: that failure is the result.
    oci_standin::reset();
    oci_standin::add_rule(oci_standin::substring_rule("MULTI_ORG_CATEGORY = 'S'", {oci_standin::answer_rows({{1}})}));
    oci_standin::add_rule(betest::block_rule("MO_GLOB_ORG_ACCESS_TMP"));
    oci_standin::add_rule(oci_standin::substring_rule("FND_GLOBAL.ORG_ID()", {oci_standin::answer_rows({})}));
    EXPECT_EQ(BE_DUZ_set_Operating_Unit(const_cast<char*>("XXPROG"), nullptr, const_cast<char*>("REQUEST"), session,
                                        connection.list(), &error),
              1);
    EXPECT_EQ(error.code, 100u);
    EXPECT_STREQ(error.text, "CM for OEBS: Error - OCI_NODATA\n");
}

}  // namespace
