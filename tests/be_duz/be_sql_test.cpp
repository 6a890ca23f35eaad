// SQL session and entity helpers against the stand-in database: NLS settings (and the refusal of
// anything that is not a plain NLS word), date conversion, profile options, table and view checks,
// the OEBS release; and the text tests and edits that prepare values for SQL.
#include "be_session_fixture.h"
#include "testbed.h"

#include <cstring>
#include <string>

namespace {

using betest::OwnedList;
using oci_standin::Answer;
using oci_standin::Cell;
using oci_standin::Step;

class SqlHelperTest : public betest::OpenSessionTest {};

std::vector<std::string> alter_texts() {
    std::vector<std::string> texts;
    for (auto& text : oci_standin::journal().prepared)
        if (text.rfind("ALTER SESSION", 0) == 0) texts.push_back(text);
    return texts;
}

TEST_F(SqlHelperTest, NlsLangSetsLanguageAndTerritoryTheSameWayEveryTime) {
    oci_standin::add_rule(betest::block_rule("ALTER SESSION"));
    OwnedList job{{"PARM_NLS_LANG", "AMERICAN_AMERICA"}, {"NLS_DATE_LANGUAGE", "GERMAN"}};
    ZPAAttrList* list = job.list();
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_set_parameter_SQL_session(session, list, &error), 0) << error.text;
    EXPECT_EQ(BE_DUZ_set_parameter_SQL_session(session, list, &error), 0) << error.text;
    const std::vector<std::string> once = {"ALTER SESSION SET NLS_LANGUAGE=AMERICAN",
                                           "ALTER SESSION SET NLS_TERRITORY=AMERICA",
                                           "ALTER SESSION SET NLS_DATE_LANGUAGE=GERMAN"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(alter_texts(), twice);
    EXPECT_STREQ(list->Attributes[0].Value, "AMERICAN_AMERICA");
}

TEST_F(SqlHelperTest, NlsValuesThatAreNoPlainWordNeverReachTheDatabase) {
    oci_standin::add_rule(betest::block_rule("ALTER SESSION"));
    struct Case {
        const char* name;
        const char* value;
    };
    const Case refused[] = {
        {"PARM_NLS_LANG", "AMERICAN X=BINARY_AMERICA"},  // '=' would set a second parameter
        {"PARM_NLS_LANG", "AMERICAN;DROP TABLE X_Y"},       {"PARM_NLS_LANG", "AMERICAN'_AMERICA"},
        {"NLS_DATE_LANGUAGE", "GERMAN CURRENT_SCHEMA=SYS"}, {"NLS_DATE_LANGUAGE", ""},
    };
    for (const Case& c : refused) {
        OwnedList job{{c.name, c.value}};
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_set_parameter_SQL_session(session, job.list(), &error), 1) << c.value;
        EXPECT_EQ(error.code, 1u);
        EXPECT_NE(std::string(error.text).find("not a plain NLS name and value"), std::string::npos) << error.text;
    }
    EXPECT_TRUE(alter_texts().empty());

    // Two-word names are quoted; a missing '_' is reported and the date language still set.
    OwnedList two_words{{"PARM_NLS_LANG", "SIMPLIFIED CHINESE_CHINA"}};
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_set_parameter_SQL_session(session, two_words.list(), &error), 0) << error.text;
    OwnedList no_territory{{"PARM_NLS_LANG", "AMERICAN"}, {"NLS_DATE_LANGUAGE", "FRENCH"}};
    EXPECT_EQ(BE_DUZ_set_parameter_SQL_session(session, no_territory.list(), &error), 0);
    EXPECT_STREQ(error.text, "CM for OEBS: The value for PARM_NLS_LANG is not the correct format");
    EXPECT_EQ(alter_texts(), (std::vector<std::string>{"ALTER SESSION SET NLS_LANGUAGE='SIMPLIFIED CHINESE'",
                                                       "ALTER SESSION SET NLS_TERRITORY=CHINA",
                                                       "ALTER SESSION SET NLS_DATE_LANGUAGE=FRENCH"}));
}

TEST_F(SqlHelperTest, RefusedAlterByTheDatabaseNamesTheParameter) {
    oci_standin::add_rule(oci_standin::substring_rule(
        "NLS_TERRITORY", {oci_standin::answer_failure(oci_standin::failure_at(Step::Execute, 12705, "invalid NLS"))}));
    oci_standin::add_rule(betest::block_rule("ALTER SESSION"));
    OwnedList job{{"PARM_NLS_LANG", "AMERICAN_NOWHERE"}};
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_set_parameter_SQL_session(session, job.list(), &error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Failed to alter session for NLS_TERRITORY='NOWHERE'");
}

TEST_F(SqlHelperTest, SessionSettingsDisplayReportsAFetchThatFails) {
    oci_standin::Failure snapshot = oci_standin::failure_at(Step::Fetch, 1555, "snapshot too old");
    snapshot.row = 2;
    oci_standin::add_rule(oci_standin::substring_rule(
        "from nls_session_parameters",
        {oci_standin::answer_rows({{"NLS_LANGUAGE", "AMERICAN"}, {"NLS_TERRITORY", "AMERICA"}}),
         oci_standin::answer_failure(snapshot, {{"NLS_LANGUAGE", "AMERICAN"}, {"NLS_TERRITORY", "AMERICA"}})}));
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_display_SQL_session(session, &error), 0) << error.text;
    EXPECT_NE(BE_DUZ_display_SQL_session(session, &error), 0);
    EXPECT_EQ(error.code, 1555u);
}

TEST_F(SqlHelperTest, DateIsConvertedThroughTheDatabaseWithBoundTexts) {
    oci_standin::add_rule(oci_standin::substring_rule(
        "to_char(to_date", {oci_standin::answer_rows({{"2024/03/05"}}), oci_standin::answer_rows({{nullptr}})}));
    char out[BE_DUZ_DATE_OUT_SIZE] = "stale";
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_convert_date_format(session, const_cast<char*>("05-MAR-2024"), const_cast<char*>("DD-MON-YYYY"),
                                         out, const_cast<char*>("YYYY/MM/DD"), &error),
              0)
        << error.text;
    EXPECT_STREQ(out, "2024/03/05");
    EXPECT_EQ(bound("to_char", "STR"), Cell("05-MAR-2024"));
    EXPECT_EQ(bound("to_char", "INFMT"), Cell("DD-MON-YYYY"));
    EXPECT_EQ(bound("to_char", "OUTFMT"), Cell("YYYY/MM/DD"));
    // A NULL answer is an empty text, not a failure.
    EXPECT_EQ(BE_DUZ_convert_date_format(session, const_cast<char*>(""), const_cast<char*>("DD-MON-YYYY"), out,
                                         const_cast<char*>("YYYY/MM/DD"), &error),
              0)
        << error.text;
    EXPECT_STREQ(out, "");
}

TEST_F(SqlHelperTest, ProfileOptionFailureDoesNotFailTheCall) {
    Answer read_back;
    read_back.outs["new_value"] = oci_standin::out_template("{pvalue}");
    Answer null_back;
    null_back.outs["new_value"] = oci_standin::out_value(Cell());
    oci_standin::add_rule(oci_standin::substring_rule(
        "FND_PROFILE.PUT",
        {read_back, null_back,
         oci_standin::answer_failure(oci_standin::failure_at(Step::Execute, 6550, "PLS-00201 identifier"))}));
    std::string long_value(300, 'v');
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_set_profile_pair(session, const_cast<char*>("ORG_ID"), long_value.data(), &error), 0);
    EXPECT_EQ(bound("FND_PROFILE", "PVALUE"), Cell(std::string(240, 'v')));  // cut to 240 characters
    EXPECT_EQ(BE_DUZ_set_profile_pair(session, const_cast<char*>("ORG_ID"), const_cast<char*>("81"), &error), 0);
    EXPECT_EQ(error.code, 0u) << error.text;
    EXPECT_EQ(BE_DUZ_set_profile_pair(session, const_cast<char*>("ORG_ID"), const_cast<char*>("81"), &error), 0);
    EXPECT_EQ(error.code, 6550u);
}

TEST_F(SqlHelperTest, EntityCheckReadsTheDictionaryViewOfItsScopeWithTheNameAsOneLiteral) {
    Answer exists;
    exists.outs["is_exist"] = oci_standin::out_value(Cell(3));
    Answer missing;
    missing.outs["is_exist"] = oci_standin::out_value(Cell(0));
    oci_standin::add_rule(oci_standin::substring_rule("INTO :is_exist", {exists, missing}));
    int flag = -1;
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_check_entity_exist(session, const_cast<char*>("XX_VIEW"), VIEW_ENTITY_TYPE, USER_SEARCH_SCOPE,
                                        &flag, &error),
              0)
        << error.text;
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(BE_DUZ_check_entity_exist(session, const_cast<char*>("O'Neil"), TABLE_ENTITY_TYPE, DBA_SEARCH_SCOPE,
                                        &flag, &error),
              0);
    EXPECT_EQ(flag, 0);
    auto texts = prepared();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], " BEGIN   SELECT COUNT(*) INTO :is_exist FROM user_views where view_name ='XX_VIEW'; END; ");
    EXPECT_EQ(texts[1], " BEGIN   SELECT COUNT(*) INTO :is_exist FROM dba_tables where table_name ='O''Neil'; END; ");

    EXPECT_EQ(BE_DUZ_check_entity_exist(session, const_cast<char*>("T"), static_cast<BE_DUZ_entity_types>(7),
                                        ALL_SEARCH_SCOPE, &flag, &error),
              1);
}

TEST_F(SqlHelperTest, EntityCheckExecutionFailureRestoresTheRecordTextWithASecondPrefix) {
    oci_standin::add_rule(oci_standin::substring_rule(
        "INTO :is_exist", {oci_standin::answer_failure(oci_standin::failure_at(Step::Execute, 942, "no table"))}));
    int flag = -1;
    ZPAError error{};
    EXPECT_EQ(
        BE_DUZ_check_entity_exist(session, const_cast<char*>("T"), TABLE_ENTITY_TYPE, ALL_SEARCH_SCOPE, &flag, &error),
        1);
    EXPECT_EQ(error.code, 1u);
    EXPECT_EQ(std::string(error.text).rfind("CM for OEBS: CM for OEBS: ORA-00942", 0), 0u) << error.text;
}

TEST_F(SqlHelperTest, OebsVersionIsTheFirstFourCharactersOfTheRelease) {
    oci_standin::add_rule(oci_standin::substring_rule(
        "FND_PRODUCT_GROUPS", {oci_standin::answer_rows({{"12.2.9"}}), oci_standin::answer_rows({{nullptr}})}));
    char version[12] = {};
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_get_oebs_version(version, session, &error), 0);
    EXPECT_STREQ(version, "12.2");
    char empty[12] = {};
    EXPECT_EQ(BE_DUZ_get_oebs_version(empty, session, &error), 0) << error.text;
    EXPECT_STREQ(empty, "");
}

TEST(SqlTextHelpers, NumberTestAcceptsPlainDecimalsOnly) {
    struct Case {
        const char* text;
        CM_RC rc;
    };
    const Case cases[] = {{"12.5", CM_RC_OK}, {"-3", CM_RC_OK},      {"+", CM_RC_OK},     {".", CM_RC_OK},
                          {".5", CM_RC_OK},   {"1.2.3", CM_RC_FAIL}, {"12a", CM_RC_FAIL}, {" 1", CM_RC_FAIL},
                          {"", CM_RC_FAIL},   {"..", CM_RC_FAIL}};
    testbed::StderrCapture capture;
    for (const Case& c : cases) EXPECT_EQ(BE_DUZ_isNumber(const_cast<char*>(c.text)), c.rc) << c.text;
    EXPECT_NE(capture.text().find("12a is not valid number"), std::string::npos);
}

TEST(SqlTextHelpers, QueryTestNeedsSelectAndABlankAtTheStart) {
    struct Case {
        const char* text;
        int is_query;
    };
    const Case cases[] = {{"select 1 from dual", 1}, {"SeLeCt x", 1}, {"SELECTX from", 0},
                          {" SELECT 1", 0},          {"SELECT", 0},   {"", 0}};
    for (const Case& c : cases) EXPECT_EQ(BE_DUZ_isSQLCommand(const_cast<char*>(c.text)), c.is_query) << c.text;
    EXPECT_EQ(BE_DUZ_isSQLCommand(nullptr), 0);
}

TEST(SqlTextHelpers, QuotesDoubledBlanksTrimmedCharactersReplaced) {
    char escaped[32];
    BE_DUZ_replace_esc_char(escaped, const_cast<char*>("O'Neil''s"));
    EXPECT_STREQ(escaped, "O''Neil''''s");

    char padded[] = "  \tvalue  ";
    EXPECT_STREQ(BE_DUZ_STR_remove_blanks(padded), "\tvalue");

    char path[] = "a/b/c";
    EXPECT_EQ(BE_DUZ_replace_chars(path, '/', '_'), 0);
    EXPECT_STREQ(path, "a_b_c");
}

}  // namespace
