// The list entry points in-process against the stand-in database: paging of row lists and of
// whole-text answers, the name rules, escaping, the fetch rule, the list actions, the account,
// responsibility and profile lists with their bound filters, and the output address.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "be_list_fixture.h"

namespace {

using namespace betest;
constexpr const char* kRespMatch = "from fnd_user_resp_groups";

// ------------------------------------------------------------------------------------------------
// Paging

TEST_F(ListTest, RowListHandsOutPrologueWithFirstRowThenOneRowPerReadThenEpilogue) {
    rows_for(kRespMatch, {{"General Ledger", "SQLGL", "Standard"}, {"Payables", "SQLAP", "Standard"}});
    void* handle = nullptr;
    ASSERT_EQ(open(question("GetRESP", {{"DUZ-USERNAME", "SYSADMIN"}}), &handle), ZPA_SUCCESS) << error.text;
    const Reads reads = read(handle);
    ASSERT_EQ(reads.results, (std::vector<ZPARC>{0, 0, 2}));
    const std::string row1 =
        "<DUZ-RESP><DUZ-RESPNAME>General Ledger</DUZ-RESPNAME><DUZ-RESPAPP>SQLGL</DUZ-RESPAPP>"
        "<DUZ-SECURITY_GROUPNAME>Standard</DUZ-SECURITY_GROUPNAME></DUZ-RESP>";
    EXPECT_EQ(reads.pieces[0], prologue(header("GetRESP")) + row1);
    EXPECT_EQ(reads.pieces[1],
              "<DUZ-RESP><DUZ-RESPNAME>Payables</DUZ-RESPNAME><DUZ-RESPAPP>SQLAP</DUZ-RESPAPP>"
              "<DUZ-SECURITY_GROUPNAME>Standard</DUZ-SECURITY_GROUPNAME></DUZ-RESP>");
    EXPECT_EQ(reads.pieces[2], kEpilogue);
    // A READ after the end repeats the end.
    const Reads again = read(handle);
    EXPECT_EQ(again.results, std::vector<ZPARC>{2});
    EXPECT_EQ(again.pieces[0], kEpilogue);
    EXPECT_EQ(close(handle), ZPA_SUCCESS);

    const auto executions = oci_standin::journal().executions;
    ASSERT_FALSE(executions.empty());
    EXPECT_EQ(executions.back().iters, 0u);
    EXPECT_EQ(executions.back().prefetch, static_cast<ub4>(BE_DUZ_LIST_PREFETCH_ROWS));
}

// Rows of a list whose row element is numbered: 0, 1 and 2 rows inside one outer element.
TEST_F(ListTest, NumberedRowElementsInsideOneOuterElement) {
    struct Case {
        std::vector<Row> rows;
        std::string body;
    };
    const std::vector<Case> cases = {
        {{}, "<DUZ-PARMS></DUZ-PARMS>"},
        {{{"A"}}, "<DUZ-PARMS><DUZ-P001><DUZ-NAME>A</DUZ-NAME></DUZ-P001></DUZ-PARMS>"},
        {{{"A"}, {"B"}},
         "<DUZ-PARMS><DUZ-P001><DUZ-NAME>A</DUZ-NAME></DUZ-P001><DUZ-P002><DUZ-NAME>B</DUZ-NAME></DUZ-P002></DUZ-PARMS>"},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        rows_for("from parms", c.rows);
        auto* handle = static_cast<BE_DUZ_xmldata_handle*>(std::calloc(1, sizeof(BE_DUZ_xmldata_handle)));
        ZPALIST_init(&handle->datalist);
        be_list::set_shape(handle, {"DUZ-PARMS", "DUZ-P%.3d"}, {"DUZ-NAME"});
        ASSERT_EQ(be_list::open_rows(handle, session, "select name from parms", {}, &error), ZPA_SUCCESS) << error.text;
        const Reads reads = read(handle);
        EXPECT_EQ(reads.results.size(), c.rows.size() + 1);
        EXPECT_EQ(reads.results.back(), ZPA_EOS);
        EXPECT_EQ(reads.whole(), prologue("") + c.body + kEpilogue) << c.rows.size() << " rows";
        EXPECT_EQ(close(handle), ZPA_SUCCESS);
    }
}

TEST_F(ListTest, HandlerThatPreparesNothingGivesAnEmptyListNotAnOlderStatementsRows) {
    // Another list leaves unread rows on the session's statement handle.
    rows_for(kRespMatch, {{"General Ledger", "SQLGL", "Standard"}, {"Payables", "SQLAP", "Standard"}});
    void* first = nullptr;
    ASSERT_EQ(open(question("GetRESP", {{"DUZ-USERNAME", "SYSADMIN"}}), &first), ZPA_SUCCESS);
    ASSERT_EQ(close(first), ZPA_SUCCESS);

    auto* handle = static_cast<BE_DUZ_xmldata_handle*>(std::calloc(1, sizeof(BE_DUZ_xmldata_handle)));
    ZPALIST_init(&handle->datalist);
    be_list::set_shape(handle, {"DUZ-VALSET"}, {"DUZ-VALUE", "DUZ-MEANING"});
    const Reads reads = read(handle);
    EXPECT_EQ(reads.results, std::vector<ZPARC>{ZPA_EOS});
    EXPECT_EQ(reads.whole(), prologue("") + kEpilogue);
    EXPECT_EQ(close(handle), ZPA_SUCCESS);
}

TEST_F(ListTest, FetchErrorFailsTheReadWithTheOracleTextAfterTheRowsBeforeIt) {
    oci_standin::Answer answer = oci_standin::answer_rows({{"A", "SQLGL", "S"}, {"B", "SQLAP", "S"}});
    oci_standin::Failure failure = oci_standin::failure_at(oci_standin::Step::Fetch, 1555, "snapshot too old");
    failure.row = 2;
    answer.failure = failure;
    oci_standin::add_rule(oci_standin::substring_rule(kRespMatch, {answer}));
    void* handle = nullptr;
    ASSERT_EQ(open(question("GetRESP", {{"DUZ-USERNAME", "SYSADMIN"}}), &handle), ZPA_SUCCESS);
    const Reads reads = read(handle);
    EXPECT_EQ(reads.results, (std::vector<ZPARC>{0, 1}));
    EXPECT_NE(reads.pieces[0].find("<DUZ-RESPNAME>A</DUZ-RESPNAME>"), std::string::npos);
    EXPECT_NE(std::string(error.text).find("ORA-01555: snapshot too old"), std::string::npos) << error.text;
    EXPECT_EQ(close(handle), ZPA_SUCCESS);
}

TEST_F(ListTest, ValueCutByItsBufferKeepsItsRowAndTheRowsAfterIt) {
    const std::string long_name(1500, 'n');
    rows_for(kRespMatch, {{long_name, "SQLGL", "S"}, {"Payables", "SQLAP", "S"}});
    const std::string answer = list(question("GetRESP", {{"DUZ-USERNAME", "SYSADMIN"}}));
    EXPECT_NE(answer.find("<DUZ-RESPNAME>" + std::string(1023, 'n') + "</DUZ-RESPNAME>"), std::string::npos);
    EXPECT_NE(answer.find("<DUZ-RESPNAME>Payables</DUZ-RESPNAME>"), std::string::npos);
}

TEST_F(ListTest, ValuesAreEscapedTheApostropheKeptAndByteTwoDropped) {
    rows_for(kRespMatch, {{"a&b<c>d\"e\tf\ng\x02h'i", "X", "Y"}});
    const std::string answer = list(question("GetRESP", {{"DUZ-USERNAME", "SYSADMIN"}}));
    EXPECT_NE(answer.find("<DUZ-RESPNAME>a&amp;b&lt;c&gt;d&quot;e&#9;f&#10;gh'i</DUZ-RESPNAME>"), std::string::npos)
        << answer;
}

// A whole-text answer goes out in pieces of 1000 characters; a READ after the end repeats the last.
TEST_F(ListTest, WholeTextAnswerIsHandedOutInPiecesOfAThousand) {
    struct Case {
        std::size_t length;
        std::vector<std::size_t> pieces;
    };
    for (const Case& c : std::vector<Case>{{0, {0}}, {1000, {1000}}, {1001, {1000, 1}}, {2500, {1000, 1000, 500}}}) {
        auto* handle = static_cast<BE_DUZ_xmldata_handle*>(std::calloc(1, sizeof(BE_DUZ_xmldata_handle)));
        ZPALIST_init(&handle->datalist);
        std::string text;
        for (std::size_t i = 0; i < c.length; ++i) text += static_cast<char>('a' + i % 26);
        handle->xmlResponse = be_list::copy_text(text);
        handle->isPKM = 1;
        const Reads reads = read(handle, 1000);
        ASSERT_EQ(reads.pieces.size(), c.pieces.size()) << c.length;
        for (std::size_t i = 0; i < c.pieces.size(); ++i) {
            EXPECT_EQ(reads.pieces[i].size(), c.pieces[i]) << c.length;
            EXPECT_EQ(reads.results[i], i + 1 == c.pieces.size() ? ZPA_EOS : ZPA_SUCCESS) << c.length;
        }
        EXPECT_EQ(reads.whole(), text);
        const Reads again = read(handle, 1000);
        EXPECT_EQ(again.results, std::vector<ZPARC>{ZPA_EOS});
        EXPECT_EQ(again.pieces[0], reads.pieces.back());
        EXPECT_EQ(close(handle), ZPA_SUCCESS);
    }
}

TEST_F(ListTest, TextThatDoesNotFitTheOutputSlotFailsTheReadUncut) {
    rows_for(kRespMatch, {{"General Ledger", "SQLGL", "Standard"}});
    void* handle = nullptr;
    ASSERT_EQ(open(question("GetRESP", {{"DUZ-USERNAME", "SYSADMIN"}}), &handle), ZPA_SUCCESS);
    const Reads reads = read(handle, 40);
    EXPECT_EQ(reads.results, std::vector<ZPARC>{ZPA_FAIL});
    EXPECT_NE(std::string(error.text).find("does not fit the output TEXT value (40 characters)"), std::string::npos)
        << error.text;
    EXPECT_EQ(close(handle), ZPA_SUCCESS);
}

// ------------------------------------------------------------------------------------------------
// Names, inputs and headers

TEST_F(ListTest, NameAndInputRules) {
    struct Case {
        const char* what;
        std::string text;
        ZPARC rc;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"list name in lower case", question("getresp", {{"DUZ-USERNAME", "X"}}), ZPA_FAIL,
         "CM for OEBS: Value getresp is invalid for key ACTION"},
        {"no ACTION", "<UVSCM><HEADER><X>1</X></HEADER></UVSCM>", ZPA_FAIL,
         "CM for OEBS: the xml_attrList 'ACTION' is mandatory"},
        {"empty ACTION", question(""), ZPA_FAIL, "CM for OEBS: No action found. It is mandatory"},
        {"ACTION over 63 characters", question(std::string(64, 'G')), ZPA_FAIL, nullptr},
        {"no TEXT", "", ZPA_FAIL, "CM for OEBS: keyword TEXT not found"},
        {"configuration-manager name in lower case", question("orvcm_get_accounts_request"), ZPA_FAIL,
         "CM for OEBS: Unknown request: orvcm_get_accounts_request "},
        {"missing mandatory input", question("GetRESP"), ZPA_FAIL, "CM for OEBS: keyword DUZ-USERNAME not found"},
    };
    for (const Case& c : cases) {
        error = ZPAError{};
        void* handle = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(open(c.text, &handle), c.rc) << c.what;
        EXPECT_EQ(handle, nullptr) << c.what;
        if (c.message != nullptr) {
            EXPECT_STREQ(error.text, c.message) << c.what;
        }
    }
}

TEST_F(ListTest, ReadNavigationRules) {
    rows_for(kRespMatch, {{"A", "B", "C"}});
    void* handle = nullptr;
    ASSERT_EQ(open(question("GetRESP", {{"DUZ-USERNAME", "X"}}), &handle), ZPA_SUCCESS);
    EXPECT_EQ(read(handle, 8192, 1, "next").results, std::vector<ZPARC>{ZPA_FAIL});
    EXPECT_STREQ(error.text, "CM for OEBS: 'NAVIGATE' value 'next' is invalid");

    std::string slot(100, '#');
    OwnedList out{{"TEXT", slot.c_str()}};
    OwnedList no_navigate{{"OTHER", "1"}};
    EXPECT_EQ(ZPAAPI_LIST_DATA_READ(&connection, handle, no_navigate.list(), out.list(), &error), ZPA_FAIL);
    EXPECT_STREQ(error.text, "CM for OEBS: keyword NAVIGATE not found");

    OwnedList navigate{{"NAVIGATE", "NEXT"}};
    OwnedList no_text{{"OTHER", "1"}};
    EXPECT_EQ(ZPAAPI_LIST_DATA_READ(&connection, handle, navigate.list(), no_text.list(), &error), ZPA_FAIL);
    EXPECT_STREQ(error.text, "CM for OEBS: keyword TEXT not found");

    EXPECT_EQ(ZPAAPI_LIST_DATA_READ(&connection, nullptr, navigate.list(), out.list(), &error), ZPA_FAIL);
    EXPECT_EQ(close(handle), ZPA_SUCCESS);
    EXPECT_EQ(close(nullptr), ZPA_FAIL);
    EXPECT_STREQ(error.text, "CM for OEBS: Handle is NULL.");
}

TEST_F(ListTest, EachListEchoesItsOwnRequestsHeader) {
    rows_for(kRespMatch, {});
    const std::string first = list(question("GetRESP", {{"DUZ-USERNAME", "X"}}, "<ID>first</ID>"));
    const std::string second = list(question("GetRESP", {{"DUZ-USERNAME", "X"}}, "<ID>second</ID>"));
    // No rows: the row element "DUZ-RESP" never appears.
    EXPECT_EQ(first, prologue(header("GetRESP", "<ID>first</ID>")) + kEpilogue);
    EXPECT_EQ(second, prologue(header("GetRESP", "<ID>second</ID>")) + kEpilogue);
}

TEST_F(ListTest, QueryListNeedsTheConnectionsSession) {
    connection.UserData = nullptr;
    void* handle = nullptr;
    EXPECT_EQ(open(question("GetRESP", {{"DUZ-USERNAME", "X"}}), &handle), ZPA_FAIL);
    EXPECT_STREQ(error.text, "CM for OEBS: UserData pointer is NULL");
}

// ------------------------------------------------------------------------------------------------
// List actions

TEST_F(ListTest, ListActionAnswersMessageAndResultForEveryOutcome) {
    struct Case {
        const char* action;
        const char* update;
        int rc_code;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"SETJOBPRIORITY", "set priority = :prio_num", 0, "Successfully updated the priority!"},
        {"SETJOBPRIORITY", "set priority = :prio_num", 1, "Fail to update priority. Request id '4711' is not unique!"},
        {"SETJOBPRIORITY", "set priority = :prio_num", 2, "Fail to update priority. Request is not pending!"},
        {"SETJOBPRIORITY", "set priority = :prio_num", 3,
         "Fail to update priority. Can't find request with request_id '4711'."},
        {"SETJOBPRIORITY", "set priority = :prio_num", -1, "Fail to update priority. Unidentified error occured!"},
        {"holdjob", "set hold_flag = 'Y'", 0, "Successfully hold the request!"},
        {"HOLDJOB", "set hold_flag = 'Y'", 1, "Fail to hold request. Request id '4711' is not unique!"},
        {"HOLDJOB", "set hold_flag = 'Y'", 2, "Fail to hold request. Request is not pending!"},
        {"HOLDJOB", "set hold_flag = 'Y'", 3, "Fail to hold request. Can't find request with request_id '4711'."},
        {"HOLDJOB", "set hold_flag = 'Y'", -1, "Fail to hold request. Unidentified error occured!"},
        {"UNHOLDJOB", "set hold_flag = 'N'", 0, "Successfully unhold the request!"},
        {"UNHOLDJOB", "set hold_flag = 'N'", 1, "Fail to unhold request. Request id '4711' is not unique!"},
        {"UNHOLDJOB", "set hold_flag = 'N'", 2, "Fail to unhold request. Request is not on hold!"},
        {"UNHOLDJOB", "set hold_flag = 'N'", 3, "Fail to unhold request. Can't find request with request_id '4711'."},
        {"UNHOLDJOB", "set hold_flag = 'N'", -1, "Fail to unhold request. Unidentified error occurred!"},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        oci_standin::Answer answer;
        answer.outs["rc_code"] = oci_standin::out_value(c.rc_code);
        oci_standin::add_rule(oci_standin::substring_rule(c.update, {answer}));
        error = ZPAError{};
        ZPARC rc = ZPA_FAIL;
        const std::string text = action(question(c.action, {{"DUZ-REQUEST_ID", "4711"}, {"DUZ-PRIORITY", "40"}}), &rc);
        EXPECT_EQ(rc, ZPA_SUCCESS) << c.action << " " << c.rc_code;
        const std::string message = c.rc_code == 0 ? c.message : std::string("CM for OEBS: ") + c.message;
        EXPECT_EQ(text, prologue(header(c.action)) + "<DUZ-MESSAGE>" + message + "</DUZ-MESSAGE><DUZ-RESULT>" +
                            (c.rc_code == 0 ? "OK" : "NOTOK") + "</DUZ-RESULT>" + kEpilogue)
            << c.action << " " << c.rc_code;
        EXPECT_EQ(bound(c.update, "REQ_ID"), Cell(4711));
        if (std::string(c.action) == "SETJOBPRIORITY") {
            EXPECT_EQ(bound(c.update, "PRIO_NUM"), Cell(40));
        }
    }
}

TEST_F(ListTest, ListActionFailuresBecomeNotOkAnswers) {
    struct Case {
        const char* what;
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"missing request id", question("HOLDJOB"), "CM for OEBS: keyword DUZ-REQUEST_ID not found"},
        {"unknown action", question("KILLJOB", {{"DUZ-REQUEST_ID", "1"}}),
         "CM for OEBS: Value KILLJOB is invalid for key ACTION"},
    };
    for (const Case& c : cases) {
        const std::string text = action(c.text);
        EXPECT_NE(text.find("<DUZ-MESSAGE>" + c.message + "</DUZ-MESSAGE><DUZ-RESULT>NOTOK</DUZ-RESULT>"),
                  std::string::npos)
            << c.what << ": " << text;
        EXPECT_EQ(std::string(error.text), c.message) << c.what;
    }
    // A long Oracle error is cut to 499 characters in the answer; the record keeps it.
    oci_standin::add_rule(oci_standin::substring_rule(
        "set hold_flag = 'Y'", {oci_standin::answer_failure(
                                   oci_standin::failure_at(oci_standin::Step::Execute, 6550, std::string(600, 'x')))}));
    const std::string text = action(question("HOLDJOB", {{"DUZ-REQUEST_ID", "1"}}));
    const std::size_t start = text.find("<DUZ-MESSAGE>") + 13;
    EXPECT_EQ(text.find("</DUZ-MESSAGE>") - start, 499u) << text;
}

TEST_F(ListTest, ListActionWithoutOutputSlotOrSessionFailsWithOne) {
    OwnedList in{{"TEXT", question("HOLDJOB", {{"DUZ-REQUEST_ID", "1"}}).c_str()}};
    OwnedList no_slot{{"OTHER", "x"}};
    EXPECT_EQ(ZPAAPI_LIST_ACTION(&connection, nullptr, in.list(), no_slot.list(), &error), ZPA_FAIL);
    EXPECT_STREQ(error.text, "CM for OEBS: keyword TEXT not found in AttributesOut");
    connection.UserData = nullptr;
    std::string slot(100, '#');
    OwnedList out{{"TEXT", slot.c_str()}};
    EXPECT_EQ(ZPAAPI_LIST_ACTION(&connection, nullptr, in.list(), out.list(), &error), ZPA_FAIL);
    EXPECT_STREQ(error.text, "CM for OEBS: UserData pointer is NULL");
}

// ------------------------------------------------------------------------------------------------
// Accounts, responsibilities, profiles

TEST_F(ListTest, AccountListMatchesThePatternWithoutASessionAndLivesOnTheConnectionUntilClose) {
    home.write_file("data/DUZ_inst.dat",
                    "[PROD1]\nDB_SID P1\n[TEST]\nDB_SID T\n[PRODUCTION]\nDB_SID P\n[prod1]\nX 1\n");
    ZPAConnHandle bare{};
    OwnedList attributes{{"CM_VERSION", "9.0.21"}};
    bare.Attributes = *attributes.list();
    const std::string text =
        question("GetCMInstance", {{"DUZ-FORM_VERSION", "1"}, {"APPLICATION_TYPE", "OEBS"}, {"DUZ-INSTANCE", "prod*"}});
    OwnedList in{{"TEXT", text.c_str()}};
    void* handle = nullptr;
    ASSERT_EQ(ZPAAPI_LIST_DATA_OPEN(&bare, &handle, in.list(), &error), ZPA_SUCCESS) << error.text;
    ASSERT_NE(bare.UserData, nullptr);
    EXPECT_EQ(static_cast<BE_DUZ_data_type*>(bare.UserData)->dataType, BE_DUZ_ACCOUNT_NAME_LIST);

    std::swap(connection, bare);
    const Reads reads = read(handle);
    std::swap(connection, bare);
    EXPECT_EQ(reads.whole(), prologue(header("GetCMInstance")) +
                                 "<DUZ-INSTANCE>PROD1</DUZ-INSTANCE><DUZ-INSTANCE>PRODUCTION</DUZ-INSTANCE>" +
                                 kEpilogue);
    EXPECT_EQ(ZPAAPI_LIST_DATA_CLOSE(&bare, handle, nullptr, &error), ZPA_SUCCESS);
    EXPECT_EQ(bare.UserData, nullptr);

    // Disconnect with the list still open frees it (the sanitizer's leak check watches).
    ASSERT_EQ(ZPAAPI_LIST_DATA_OPEN(&bare, &handle, in.list(), &error), ZPA_SUCCESS);
    EXPECT_EQ(ZPAAPI_Disconnect(&bare, &error), ZPA_SUCCESS);
    EXPECT_EQ(bare.UserData, nullptr);
    EXPECT_EQ(ZPAAPI_LIST_DATA_CLOSE(&bare, handle, nullptr, &error), ZPA_SUCCESS);
}

TEST_F(ListTest, AccountListInputs) {
    home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID V\n");
    struct Case {
        const char* cm_version;
        std::vector<std::pair<std::string, std::string>> inputs;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"",
         {{"DUZ-FORM_VERSION", "1"}, {"APPLICATION_TYPE", "OEBS"}},
         "CM for OEBS: CM_VERSION attribute not found. Check configuration file"},
        {"9.0.21",
         {{"APPLICATION_TYPE", "OEBS"}},
         "CM for OEBS: 9.0.21 version. Forms version not found. Check Ovik forms version."},
        {"9.0.21", {{"DUZ-FORM_VERSION", "1"}}, "CM for OEBS: keyword APPLICATION_TYPE not found"},
    };
    for (const Case& c : cases) {
        ZPAConnHandle bare{};
        OwnedList attributes{{"CM_VERSION", c.cm_version}};
        bare.Attributes = *attributes.list();
        OwnedList in{{"TEXT", question("GetCMInstance", c.inputs).c_str()}};
        void* handle = nullptr;
        EXPECT_EQ(ZPAAPI_LIST_DATA_OPEN(&bare, &handle, in.list(), &error), ZPA_FAIL);
        EXPECT_STREQ(error.text, c.message);
        EXPECT_EQ(bare.UserData, nullptr);
    }
}

TEST_F(ListTest, ResponsibilityFilterIsBoundAndChoosesLikeOrEquals) {
    struct Case {
        const char* filter;  // null: absent
        const char* condition;
        const char* bound;
    };
    const std::vector<Case> cases = {
        {nullptr, nullptr, nullptr},
        {"*", nullptr, nullptr},
        {"gen*", "and upper(resp.responsibility_name) LIKE :bv2", "GEN%"},
        {"General Ledger", "and upper(resp.responsibility_name) = :bv2", "GENERAL LEDGER"},
        {"x' or '1'='1", "and upper(resp.responsibility_name) = :bv2", "X' OR '1'='1"},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        rows_for(kRespMatch, {});
        std::vector<std::pair<std::string, std::string>> inputs = {{"DUZ-USERNAME", "SysAdmin"}};
        if (c.filter != nullptr) inputs.emplace_back("DUZ-RESPNAME", c.filter);
        list(question("GetRESP", inputs));
        const std::string text = last_text(kRespMatch);
        EXPECT_EQ(bound(kRespMatch, "USER_NAME"), Cell("SysAdmin"));
        EXPECT_NE(text.find("order by respname"), std::string::npos);
        if (c.condition == nullptr) {
            EXPECT_EQ(text.find("responsibility_name) "), std::string::npos) << text;
            continue;
        }
        EXPECT_NE(text.find(c.condition), std::string::npos) << text;
        EXPECT_EQ(text.find("'1'='1"), std::string::npos) << text;
        EXPECT_EQ(bound(kRespMatch, "BV2"), Cell(c.bound));
    }
}

TEST_F(ListTest, ProfileFilterIsBound) {
    constexpr const char* kMatch = "applsys.fnd_profile_options_tl";
    struct Case {
        const char* filter;
        const char* condition;
        const char* bound;
    };
    const std::vector<Case> cases = {
        {"", "user_profile_option_name LIKE :bv1", "%"},
        {"FND*", "user_profile_option_name LIKE :bv1", "FND%"},
        {"x' or '1'='1", "user_profile_option_name = :bv1", "x' or '1'='1"},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        rows_for(kMatch, {{"Debug Log", "AFLOG_ENABLED"}});
        const std::string answer = list(question("GetProfileName", {{"DUZ-PROFILE_NAME", c.filter}}));
        EXPECT_NE(answer.find("<DUZ-PROFILES><DUZ-Profile_Name>Debug Log</DUZ-Profile_Name>"
                              "<DUZ-Technical_Profile_Name>AFLOG_ENABLED</DUZ-Technical_Profile_Name></DUZ-PROFILES>"),
                  std::string::npos)
            << answer;
        const std::string text = last_text(kMatch);
        EXPECT_NE(text.find(c.condition), std::string::npos) << text;
        EXPECT_EQ(text.find("'1'='1"), std::string::npos) << text;
        EXPECT_EQ(bound(kMatch, "BV1"), Cell(c.bound));
    }
    void* handle = nullptr;
    EXPECT_EQ(open(question("GetProfileName"), &handle), ZPA_FAIL);
    EXPECT_STREQ(error.text, "CM for OEBS: keyword DUZ-PROFILE_NAME not found");
}

// ------------------------------------------------------------------------------------------------
// Output address

class OutputUrlTest : public ListTest {
protected:
    static void web_agent(const char* value) { rows_for("fnd_profile.value('APPS_WEB_AGENT')", {{value}}); }
    static void out_file(Row row) { rows_for("from fnd_concurrent_requests", {std::move(row)}); }
    static void registration() {
        oci_standin::Answer node;
        node.outs["node"] = oci_standin::out_value("SVC_");
        oci_standin::add_rule(oci_standin::substring_rule("GET_FS_SVC_NAME", {node}));
        oci_standin::Answer id;
        id.outs["id"] = oci_standin::out_value("88421");
        oci_standin::add_rule(oci_standin::substring_rule("FND_WEBFILE.CREATE_ID", {id}));
    }
    std::string answer_for(const char* request_id = "4711") {
        return list(question("ViewOutputUrl", {{"DUZ-REQUEST_ID", request_id}}));
    }
    static std::string body(const std::string& element) {
        return prologue(header("ViewOutputUrl")) + element + kEpilogue;
    }
};

TEST_F(OutputUrlTest, PdfOutputIsRegisteredAndTheAddressKeepsOnlySchemeHostAndPort) {
    web_agent("http://ebs.example.com:8000/pls/VIS");
    out_file({"/u01/out/o4711.out", "APPNODE", "PDF", "2048"});
    registration();
    EXPECT_EQ(answer_for(),
              body("<DUZ-OUTURL>http://ebs.example.com:8000/OA_CGI/FNDWRR.exe?temp_id=88421</DUZ-OUTURL>"));
    EXPECT_EQ(bound("OFILE_SIZE", "REQ_ID"), Cell("4711"));
    EXPECT_EQ(bound("CREATE_ID", "OUT_FILE"), Cell("/u01/out/o4711.out"));
    EXPECT_EQ(bound("CREATE_ID", "NODE_STR"), Cell("SVC_APPNODE"));
    EXPECT_EQ(bound("CREATE_ID", "TYPE"), Cell("application/pdf"));
    EXPECT_EQ(bound("CREATE_ID", "X_MODE"), Cell("BINARY"));
    EXPECT_EQ(bound("CREATE_ID", "REQ_ID"), Cell("4711"));
}

TEST_F(OutputUrlTest, XmlPublisherRequestRegistersItsFinalDocument) {
    web_agent("https://ebs:443");
    out_file({"/u01/out/o4711.xml", "APPNODE", "XML", "100"});
    rows_for("SELECT COUNT(1) FROM FND_CONC_REQ_OUTPUTS", {{"1"}});
    rows_for("FROM FND_CONC_REQ_OUTPUTS WHERE CONCURRENT_REQUEST_ID",
             {{"/u01/out/o4711_1.pdf", "PUBNODE", "PDF", "9"}});
    registration();
    EXPECT_EQ(answer_for(), body("<DUZ-OUTURL>https://ebs:443/OA_CGI/FNDWRR.exe?temp_id=88421</DUZ-OUTURL>"));
    EXPECT_EQ(bound("CREATE_ID", "OUT_FILE"), Cell("/u01/out/o4711_1.pdf"));
    EXPECT_EQ(bound("CREATE_ID", "NODE_STR"), Cell("SVC_PUBNODE"));
    EXPECT_EQ(bound("CREATE_ID", "TYPE"), Cell("application/pdf"));
}

TEST_F(OutputUrlTest, LookupFailuresAnswerWithTheReason) {
    struct Case {
        const char* web_agent;
        Row file;
        std::string element;
    };
    const std::vector<Case> cases = {
        {"http://ebs:8000", {"/o.out", "N", "PDF", "0"}, "<DUZ-ERROR>Output File is empty</DUZ-ERROR>"},
        {"http://ebs:8000",
         {"/o.out", "N", "PDF", Cell()},
         "<DUZ-ERROR>The concurrent request did not create an output file.</DUZ-ERROR>"},
        {"ebs:8000",
         {"/o.out", "N", "PDF", "1"},
         "<DUZ-ERROR>CM for OEBS: The profile APPS_WEB_AGENT value 'ebs:8000' is not a web address</DUZ-ERROR>"},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        web_agent(c.web_agent);
        out_file(c.file);
        registration();
        EXPECT_EQ(answer_for(), body(c.element)) << c.element;
    }
}

TEST_F(OutputUrlTest, UnknownOutputTypeRegistersWithEmptyTypeAndMode) {
    web_agent("http://ebs:8000/");
    out_file({"/o.out", "N", "ZIP", "5"});
    registration();
    EXPECT_EQ(answer_for(), body("<DUZ-OUTURL>http://ebs:8000/OA_CGI/FNDWRR.exe?temp_id=88421</DUZ-OUTURL>"));
    EXPECT_EQ(bound("CREATE_ID", "TYPE"), Cell(""));
    EXPECT_EQ(bound("CREATE_ID", "X_MODE"), Cell(""));
}

TEST_F(OutputUrlTest, OutputViewersFileDecidesAndAMissingAccountIsNotAuthorised) {
    home.write_file("data/CONFIG.dat", "AGENT_DIR " + home.path() + "\n");
    home.write_file("data/OutViewUsers.xml", "<USERS><NAME>Vis</NAME></USERS>");
    OwnedList named{{"DUZ-INSTANCE", "vis"}};
    EXPECT_EQ(Is_User_Authorized_For_Output_Url(named.list(), &error), 1);
    OwnedList other{{"DUZ-INSTANCE", "PROD"}};
    EXPECT_EQ(Is_User_Authorized_For_Output_Url(other.list(), &error), 0);
    OwnedList none{{"OTHER", "x"}};
    EXPECT_EQ(Is_User_Authorized_For_Output_Url(none.list(), &error), 0);
    EXPECT_STREQ(error.text, "CM for OEBS: keyword DUZ-INSTANCE not found");
}

}  // namespace
