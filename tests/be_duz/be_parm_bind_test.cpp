// Bind references in SQL texts against the stand-in database: each value becomes a numbered
// placeholder bound beside the text, a value that cannot be found a bare NULL; the default
// statement's value; the session's FND_SESSIONS row.
#include "be_parm_fixture.h"
#include "be_parm_internal.h"

#include <string>
#include <vector>

namespace {

using oci_standin::Cell;
using oci_standin::Step;
using Binds = std::vector<std::string>;

class BindResolutionTest : public betest::ParmTest {
protected:
    // Records before the current one (index 6): a plain value, two table-validated choices (with
    // and without an id column), an empty value, and a value that is itself a reference.
    void earlier_parameters() {
        parm(0, "P_LEDGER", "VS", "I", "abc");
        row(parm(1, "P_ITEM", "ITEMS", "F", "Widget"),
            {{"HAS_ID", "YES"}, {"ID", "42"}, {"VALUE", "Widget"}, {"MEANING", "A widget"}});
        row(parm(2, "P_CAT", "CATS", "F", "Tools"),
            {{"HAS_ID", "NO"}, {"ID", ""}, {"VALUE", "Tools"}, {"MEANING", "Hand tools"}});
        parm(3, "P_EMPTY", "EMPTYVS", "N", "");
        parm(4, "P_SELF", "SELFVS", "I", ":$FLEX$.SELFVS");
        row(parm(5, "P_ROW", "ROWS", "F", ""), {{"HAS_ID", "YES"}});
        parm(kCurrent, "P_CUR", "CURVS", "F");
    }
    static constexpr int kCurrent = 6;

    ZPARC resolve(const char* mode, const std::string& text, std::string& out, Binds& values, ZPAError& error) {
        char buffer[BE_DUZ_SQL_TEXT_SIZE] = "unchanged";
        be_sql::BindValues binds;
        ZPARC rc =
            BE_DUZ_resolve_bind_vars(session, mode, text.c_str(), buffer, recs, kCurrent, kCurrent, &binds, &error);
        out = buffer;
        values.clear();
        for (std::size_t i = 0; i < binds.size(); ++i) {
            EXPECT_EQ(binds.values()[i].name, ":bv" + std::to_string(i + 1));
            values.push_back(binds.values()[i].text);
        }
        return rc;
    }
};

TEST_F(BindResolutionTest, ReferencesBecomePlaceholdersWithTheirValuesBeside) {
    struct Case {
        const char* what;
        const char* mode;
        const char* text;
        const char* resolved;
        Binds bound;
        const char* required;   // of the current record afterwards
        bool planning = false;  // the database has a planning instance (12)
    };
    const Case cases[] = {
        {"no reference", "SQL", "select 1 from dual", "select 1 from dual", {}, ""},
        {"value in a pad function",
         "SQL",
         "select rpad(:$FLEX$.VS, 10) from dual",
         "select rpad(nvl(:bv1 ,' '), 10) from dual",
         {"abc"},
         ""},
        {"unknown value set with :NULL", "SQL", "where x = :$FLEX$.NOSUCH:NULL", "where x = NULL ", {}, ""},
        {"field MEANING", "SQL", "where m = :$FLEX$.ITEMS.MEANING", "where m = :bv1 ", {"A widget"}, ""},
        {"id column: ID", "SQL", "where i = :$FLEX$.ITEMS", "where i = :bv1 ", {"42"}, ""},
        {"no id column: VALUE", "SQL", "where v = :$FLEX$.CATS:ID)", "where v = :bv1 )", {"Tools"}, ""},
        {"by parameter name", "SQL", "where v = :$FLEX$.P_LEDGER", "where v = :bv1 ", {"abc"}, ""},
        {"empty value in a value set", "VALUE_SET", "where v = :$FLEX$.EMPTYVS", "where v = :bv1 ", {""}, "D"},
        {"empty value in SQL", "SQL", "where v = :$FLEX$.EMPTYVS", "where v = :bv1 ", {""}, ""},
        {"missing row column in a value set", "VALUE_SET", "where v = :$FLEX$.ROWS", "where v = NULL ", {}, "D"},
        {"one profile twice",
         "SQL",
         "where a = :$PROFILES$.GL_SET_OF_BKS_ID and b = :$PROFILES$.gl_set_of_bks_id",
         "where a = :bv1  and b = :bv2 ",
         {"1", "1"},
         ""},
        {"profile with suffix", "SQL", "where a = :$PROFILES$.ORG_ID:NULL", "where a = :bv1 ", {"204"}, ""},
        {"profile not set", "SQL", "where a = :$PROFILES$.XX_UNSET", "where a = NULL ", {}, ""},
        {"global as profile", "SQL", "where o = :GLOBAL.ORG_ID", "where o = :bv1 ", {"204"}, ""},
        {"planning instance", "SQL", "where s = :GLOBAL.MSC_INSTANCE_ID", "where s = :bv1 ", {"12"}, "", true},
        {"planning instance from its profile",
         "SQL",
         "where s = :GLOBAL.MSC_INSTANCE_ID",
         "where s = :bv1 ",
         {"7"},
         ""},
        {"profiles first",
         "SQL",
         "x = :$FLEX$.VS and y = :$PROFILES$.ORG_ID",
         "x = :bv2  and y = :bv1 ",
         {"204", "abc"},
         ""},
        {"self reference", "SQL", "v = :$FLEX$.SELFVS", "v = :bv1 ", {":$FLEX$.SELFVS"}, ""},
        {"profile naming itself", "SQL", "v = :$PROFILES$.XX_REF", "v = :bv1 ", {":$PROFILES$.XX_REF"}, ""},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        earlier_parameters();
        recs[kCurrent]->required[0] = '\0';
        profiles(
            {{"GL_SET_OF_BKS_ID", "1"}, {"ORG_ID", "204"}, {"MSC_INSTANCE_ID", "7"}, {"XX_REF", ":$PROFILES$.XX_REF"}});
        oci_standin::add_rule(oci_standin::substring_rule(
            "FROM MSC_ORG_ACCESS", {oci_standin::answer_rows(c.planning ? std::vector<oci_standin::Row>{{12}}
                                                                        : std::vector<oci_standin::Row>{})}));
        std::string out;
        Binds values;
        ZPAError error{};
        EXPECT_EQ(resolve(c.mode, c.text, out, values, error), 0) << c.what;
        EXPECT_EQ(out, c.resolved) << c.what;
        EXPECT_EQ(values, c.bound) << c.what;
        EXPECT_STREQ(recs[kCurrent]->required, c.required) << c.what;
    }
}

TEST_F(BindResolutionTest, UnresolvableReferenceKeepsItsReasonButTheResolutionSucceeds) {
    earlier_parameters();
    parm(0, "P_ODD", "ODDVS", "X", "1");
    struct Case {
        const char* text;
        const char* reason;
    };
    const Case cases[] = {
        {"v = :$FLEX$.NOSUCH", "Unable to find default parameter P_CUR with default_type = , default_value = "},
        {"v = :$FLEX$.ODDVS", "Unsupported value_set validation type X."},
        {"v = :$FLEX$.ITEMS.DESCRIPTION", "Failed to get DESCRIPTION."},
    };
    for (const Case& c : cases) {
        std::string out;
        Binds values;
        ZPAError error{};
        EXPECT_EQ(resolve("SQL", c.text, out, values, error), 0) << c.text;
        EXPECT_EQ(out, "v = NULL ") << c.text;
        EXPECT_EQ(std::string(error.text), std::string("CM for OEBS: ") + c.reason);
    }
}

TEST_F(BindResolutionTest, OverlongTextOrNameIsRefusedNotCut) {
    earlier_parameters();
    const std::string long_name = "where v = :$FLEX$." + std::string(60, 'N');
    const std::string name_59 = "where v = :$FLEX$." + std::string(59, 'N');
    const std::string text_8000(8000, ' ');
    const std::string text_7999 = "select 1 from dual" + std::string(7999 - 18, ' ');
    struct Case {
        const std::string* text;
        ZPARC rc;
    };
    const Case cases[] = {{&long_name, 1}, {&name_59, 0}, {&text_8000, 1}, {&text_7999, 0}};
    for (const Case& c : cases) {
        std::string out;
        Binds values;
        ZPAError error{};
        EXPECT_EQ(resolve("SQL", *c.text, out, values, error), c.rc) << c.text->size();
        if (c.rc != 0) {
            EXPECT_EQ(out, "");
            EXPECT_NE(std::string(error.text).find("longer than"), std::string::npos) << error.text;
        }
    }
}

TEST_F(BindResolutionTest, PadFunctionWrapsOnlyTheFirstTopLevelArgumentOfItsFirstCall) {
    struct Case {
        const char* text;
        const char* pad;
        const char* wrapped;
    };
    const Case cases[] = {
        {"select rpad(X, 10) from dual", "rpad", "select rpad(nvl(X,' '), 10) from dual"},
        {"rpad(substr(a, 1, 2), 10) || rpad(b, 3)", "rpad", "rpad(nvl(substr(a, 1, 2),' '), 10) || rpad(b, 3)"},
        {"lpad(x)", "lpad", "lpad(x)"},
        {"lpad(x), y", "lpad", "lpad(x), y"},
        {"rpad x", "rpad", "rpad x"},
        {"lpad(a,2)", "rpad", "lpad(a,2)"},
    };
    for (const Case& c : cases) {
        char text[BE_DUZ_SQL_TEXT_SIZE];
        std::snprintf(text, sizeof text, "%s", c.text);
        BE_DUZ_resolve_pad_func(text, c.pad);
        EXPECT_STREQ(text, c.wrapped) << c.text;
    }
}

TEST_F(BindResolutionTest, HostileValuesNeverEnterTheStatementText) {
    earlier_parameters();
    parm(0, "P_LEDGER", "VS", "I", "O'Brien");
    profiles({{"XX_NAME", "O'Brien'); delete from fnd_user; --"}});
    oci_standin::add_rule(oci_standin::substring_rule("from people", {oci_standin::answer_rows({{"found"}})}));
    char value[BE_DUZ_PARM_VALUE_SIZE] = "";
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_reslove_sql(session, "select x from people where a = :$FLEX$.VS and b = :$PROFILES$.XX_NAME", recs,
                                 kCurrent, kCurrent, value, &error),
              0)
        << error.text;
    EXPECT_STREQ(value, "found");
    const auto run = last_execution("from people");
    EXPECT_EQ(run.text, "select x from people where a = :bv2  and b = :bv1 ");
    EXPECT_EQ(run.text.find("O'B"), std::string::npos);
    EXPECT_EQ(binds_of(run), (std::vector<std::pair<std::string, std::string>>{
                                 {"BV1", "O'Brien'); delete from fnd_user; --"}, {"BV2", "O'Brien"}}));
}

TEST_F(BindResolutionTest, DefaultStatementGivesItsFirstColumnOrFails) {
    earlier_parameters();
    oci_standin::add_rule(
        oci_standin::substring_rule("from items where id", {oci_standin::answer_rows({{"Widget name", "x"}})}));
    oci_standin::add_rule(oci_standin::substring_rule("from nothing", {oci_standin::answer_rows({})}));
    char value[BE_DUZ_PARM_VALUE_SIZE] = "stale";
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_reslove_sql(session, "select name, y from items where id = :$FLEX$.ITEMS", recs, kCurrent,
                                 kCurrent, value, &error),
              0)
        << error.text;
    EXPECT_STREQ(value, "Widget name");
    EXPECT_EQ(bound("from items", "BV1"), Cell("42"));

    std::snprintf(value, sizeof value, "stale");
    EXPECT_NE(BE_DUZ_reslove_sql(session, "select 1 from nothing", recs, kCurrent, kCurrent, value, &error), 0);
    EXPECT_STREQ(value, "");
    EXPECT_EQ(error.code, 100u) << error.text;

    const std::size_t before = prepared().size();
    std::snprintf(value, sizeof value, "stale");
    const std::string overlong = "select :$FLEX$." + std::string(60, 'N') + " from dual";
    EXPECT_NE(BE_DUZ_reslove_sql(session, overlong.c_str(), recs, kCurrent, kCurrent, value, &error), 0);
    EXPECT_STREQ(value, "");
    EXPECT_STREQ(error.text, "CM for OEBS: Fail to resolve binding vars in SQL");
    EXPECT_EQ(prepared().size(), before);
}

TEST_F(BindResolutionTest, SessionRowIsInsertedOnlyWhenMissingAndAFailureIsReported) {
    struct Case {
        const char* what;
        oci_standin::Answer select;
        ZPARC rc;
        int inserts;
    };
    const Case cases[] = {
        {"no row", oci_standin::answer_rows({}), 0, 1},
        {"row", oci_standin::answer_rows({{"4711", "15-JAN-24"}}), 0, 0},
        {"failed query",
         oci_standin::answer_failure(oci_standin::failure_at(Step::Execute, 942, "table or view does not exist")), 1,
         0},
        {"failed fetch",
         oci_standin::answer_failure(oci_standin::failure_at(Step::Fetch, 1013, "user requested cancel"), {{"1", "x"}}),
         1, 0},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        oci_standin::add_rule(oci_standin::substring_rule("FROM FND_SESSIONS", {c.select}));
        oci_standin::add_rule(betest::block_rule("INSERT INTO FND_SESSIONS"));
        ZPAError error{};
        EXPECT_EQ(BE_parm_check_add_fnd_sessions_row(session, &error), c.rc) << c.what;
        EXPECT_EQ(count_prepared("INSERT INTO FND_SESSIONS"), c.inserts) << c.what;
    }
}

TEST_F(BindResolutionTest, LeadingWhiteSpaceIsMovedOffTheQuery) {
    char query[] = " \t\r\n select 1";
    BE_parm_remove_leading_spaces(query);
    EXPECT_STREQ(query, "select 1");
    EXPECT_EQ(std::string(query, sizeof query), std::string("select 1\0\0\0\0\0\0", sizeof query));
}

}  // namespace
