// The options of a request or of a request-set program on the stand-in database: profiles, print
// options, notifications, output language and numeric characters, e-mail delivery; and the extra
// printers and layouts. What reaches the database is read from the journal.
#include "be_job_fixture.h"
#include "gm_param.h"
#include "testbed.h"

#include <string>
#include <vector>

namespace {

using betest::Pairs;
using oci_standin::answer_failure;
using oci_standin::answer_rows;
using oci_standin::Cell;
using oci_standin::failure_at;
using oci_standin::Step;
using oci_standin::substring_rule;

constexpr const char* kRequestPrint =
    "BEGIN IF (FND_REQUEST.set_print_options(:printer, :style, :copies, TRUE, 'N')) THEN     :rc_code := 0; "
    "ELSE     :rc_code := 1; END IF; END;";
constexpr const char* kSetPrint =
    "BEGIN IF (FND_SUBMIT.set_print_options(:printer, :style, :copies, TRUE, 'N')) THEN     :rc_code := 0; "
    "ELSE     :rc_code := 1; END IF; END;";
constexpr const char* kStyle =
    "select distinct PRINTER_STYLE_NAME from fnd_printer_styles_view where USER_PRINTER_STYLE_NAME = :user_style "
    "or PRINTER_STYLE_NAME = :user_style";
constexpr const char* kProfile = "BEGIN FND_PROFILE.PUT(:pname, :pvalue); FND_PROFILE.GET(:pname, :new_value); END;";
constexpr const char* kNotification =
    "BEGIN IF (:ora_type = 'REQUEST_SET') THEN    IF (FND_SUBMIT.add_notification(:name)) THEN            "
    ":rc_code := 0;         ELSE            :rc_code := 1;         END IF; ELSE     IF "
    "(FND_REQUEST.add_notification(:name)) THEN            :rc_code := 0;         ELSE            :rc_code := 1;"
    "         END IF; END IF; END;";
constexpr const char* kRequestLangChars =
    "BEGIN IF (FND_REQUEST.set_options(NULL, NULL, :lang, :terr, NULL, :nlschars)) THEN :rc_code :=0;ELSE   "
    ":rc_code := 1; END IF; END;";
constexpr const char* kRequestLang =
    "BEGIN IF (FND_REQUEST.set_options(NULL, NULL, :lang, :terr)) THEN :rc_code :=0;ELSE   :rc_code := 1; END IF; "
    "END;";
constexpr const char* kSetLangChars =
    "BEGIN IF (FND_SUBMIT.SET_NLS_OPTIONS(:lang, :terr, :nlschars)) THEN :rc_code :=0;ELSE   :rc_code := 1; END IF; "
    "END;";
constexpr const char* kSetLang =
    "BEGIN IF (FND_SUBMIT.SET_NLS_OPTIONS(:lang, :terr)) THEN :rc_code :=0;ELSE   :rc_code := 1; END IF; END;";
// The recipient's language is passed by name: by position it would land in the fifth argument of
// the delivery option, and the mail would go out for every language.
constexpr const char* kRequestDelivery =
    "BEGIN IF (FND_REQUEST.add_delivery_option(:option_type, :arg1, :arg2, :arg3, :arg4, nls_language => "
    ":nls_lang)) THEN :rc_code :=0;ELSE   :rc_code := 1; END IF; END;";
constexpr const char* kSetDelivery =
    "BEGIN IF (FND_SUBMIT.add_delivery_option(:option_type, :arg1, :arg2, :arg3, :arg4, nls_language => "
    ":nls_lang)) THEN :rc_code :=0;ELSE   :rc_code := 1; END IF; END;";
constexpr const char* kRequestPrinter =
    "BEGIN IF (FND_REQUEST.ADD_PRINTER(:printer,:copies)) THEN     :rc_code := 0; ELSE     :rc_code := 1; END IF; "
    "END;";
constexpr const char* kSetPrinter =
    "BEGIN IF (FND_SUBMIT.ADD_PRINTER(:printer,:copies)) THEN     :rc_code := 0; ELSE     :rc_code := 1; END IF; "
    "END;";
constexpr const char* kXdoCheck =
    " BEGIN   SELECT COUNT(*) INTO :is_exist FROM all_views where view_name ='XDO_TEMPLATES_VL'; END; ";

class RequestOptions : public betest::JobTest {
protected:
    // A section list of one program, as the set submission builds it.
    ZPALIST_handle_typ* section(const Pairs& rows) {
        ZPALIST_init(&section_);
        for (auto& [key, value] : rows) GM_PARAM_list_append(&section_, key.c_str(), value.c_str());
        return &section_;
    }
    void TearDown() override {
        GM_PARAM_list_clear(&section_);
        betest::JobTest::TearDown();
    }
    // The database: the given rules first, then every FND option block running and answering true.
    static void database(std::vector<oci_standin::Rule> rules = {}) {
        oci_standin::reset();
        for (auto& rule : rules) oci_standin::add_rule(std::move(rule));
        for (const char* block : {"BEGIN IF (", "DECLARE template_code", "FND_PROFILE.PUT"})
            oci_standin::add_rule(betest::block_rule(block));
    }
    void SetUp() override {
        betest::JobTest::SetUp();
        database();
    }
    static oci_standin::Rule styles_known() {
        return substring_rule("from fnd_printer_styles_view", {answer_rows({{"LANDWIDE"}})});
    }
    static oci_standin::Rule layouts_installed(int count = 1) {
        oci_standin::Answer answer;
        answer.outs["is_exist"] = oci_standin::out_value(Cell(count));
        return substring_rule("FROM all_views", {answer});
    }
    static oci_standin::Rule answers_false(const char* match) {
        oci_standin::Answer no;
        no.outs["rc_code"] = oci_standin::out_value(Cell(1));
        return substring_rule(match, {no});
    }
    static oci_standin::Rule fails(const char* match, int code, const char* message) {
        return substring_rule(match, {answer_failure(failure_at(Step::Execute, code, message))});
    }
    ZPALIST_handle_typ section_{};
};

TEST_F(RequestOptions, PrintCopiesThatAreNoUnsignedNumberBecomeOneWithTheWarningLine) {
    struct Case {
        const char* copies;  // null: no DUZ-PRINTCOPIES
        int bound;
        const char* warning;
    } cases[] = {
        {"-2", 1, "-2 is not a positive number\nprint copies will be set to 1\n"},
        {"two", 1, "two is not valid number\nprint copies will be set to 1\n"},
        {"", 1, ""},
        {"3", 3, ""},
        {nullptr, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.copies ? c.copies : "(absent)");
        database();
        Pairs pairs{{"DUZ-PRINTERNAME", "LP01"}};
        if (c.copies) pairs.emplace_back("DUZ-PRINTCOPIES", c.copies);
        ZPAError error{};
        testbed::StderrCapture capture;
        EXPECT_EQ(BE_DUZ_set_print_options(session, BE_DUZ_REQUEST_TYPE, job(pairs), nullptr, &error), 0) << error.text;
        EXPECT_EQ(capture.text(), c.warning);
        auto runs = executions_of("set_print_options");
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(binds_of(runs[0]),
                  (Pairs{{"PRINTER", "LP01"}, {"STYLE", ""}, {"COPIES", std::to_string(c.bound)}, {"RC_CODE", "0"}}));
    }
}

TEST_F(RequestOptions, PrintOptionsNeedAPrinterAndAKnownStyle) {
    ZPAError error{};
    // A style without a printer: nothing at all is set.
    EXPECT_EQ(
        BE_DUZ_set_print_options(session, BE_DUZ_REQUEST_TYPE, job({{"DUZ-PRINTSTYLE", "Landscape"}}), nullptr, &error),
        0);
    EXPECT_TRUE(prepared().empty());

    // A style the printer tables do not know stops the print options.
    database({substring_rule("from fnd_printer_styles_view", {answer_rows({})})});
    EXPECT_NE(
        BE_DUZ_set_print_options(session, BE_DUZ_REQUEST_TYPE,
                                 job({{"DUZ-PRINTERNAME", "LP01"}, {"DUZ-PRINTSTYLE", "Nonesuch"}}), nullptr, &error),
        0);
    EXPECT_EQ(prepared(), std::vector<std::string>{kStyle});
    EXPECT_EQ(std::string(error.text).rfind("CM for OEBS: Fail to execute BE_DUZ_TRANSFORM_PRINTER_STYLE_NAME. ", 0),
              0u)
        << error.text;

    // A known user style is passed under its printer-table name; the first printer wins.
    database({styles_known()});
    EXPECT_EQ(BE_DUZ_set_print_options(session, BE_DUZ_REQUEST_TYPE,
                                       job({{"DUZ-PRINTERS-P001-NAME", "LP02"},
                                            {"DUZ-PRINTERS-P001-VALUE", "2"},
                                            {"DUZ-PRINTERNAME", "LP01"},
                                            {"DUZ-PRINTSTYLE", "Landscape"}}),
                                       nullptr, &error),
              0);
    EXPECT_EQ(prepared(), (std::vector<std::string>{kStyle, kRequestPrint}));
    auto runs = executions_of("set_print_options");
    EXPECT_EQ(binds_of(runs.at(0)),
              (Pairs{{"PRINTER", "LP02"}, {"STYLE", "LANDWIDE"}, {"COPIES", "2"}, {"RC_CODE", "0"}}));

    // The package answering false fails the option.
    database({answers_false("set_print_options")});
    EXPECT_EQ(
        BE_DUZ_set_print_options(session, BE_DUZ_REQUEST_TYPE, job({{"DUZ-PRINTERNAME", "LP01"}}), nullptr, &error), 1);
    EXPECT_STREQ(error.text, "CM for OEBS: Fail to set print options.");
}

TEST_F(RequestOptions, SetProgramPrintOptionsComeFromItsSection) {
    ZPAError error{};
    {
        // A program without a section only writes its copies line.
        testbed::StderrCapture capture;
        EXPECT_EQ(BE_DUZ_set_print_options(session, BE_DUZ_REQUEST_SET_TYPE, job({{"DUZ-PRINTERNAME", "LP01"}}),
                                           nullptr, &error),
                  0);
        EXPECT_EQ(capture.text(), "print copies will be set to 1\n");
        EXPECT_TRUE(prepared().empty());
    }
    EXPECT_EQ(BE_DUZ_set_print_options(session, BE_DUZ_REQUEST_SET_TYPE, job({}),
                                       section({{"PRINTERNAME", "LP09"}, {"PRINTCOPIES", "4"}}), &error),
              0);
    EXPECT_EQ(prepared(), std::vector<std::string>{kSetPrint});
    EXPECT_EQ(binds_of(executions_of("set_print_options").at(0)),
              (Pairs{{"PRINTER", "LP09"}, {"STYLE", ""}, {"COPIES", "4"}, {"RC_CODE", "0"}}));
}

TEST_F(RequestOptions, OutputLanguageAndNumericCharacters) {
    struct Case {
        const char* name;
        const char* nls_char;  // the account's NLS_CHAR; null: none
        const char* req_type;
        const char* language;  // DUZ-LANGUAGE (request) or LANGUAGE (section); null: none
        ZPARC rc;
        std::vector<std::string> texts;
        Pairs binds;
    } cases[] = {
        {"language and territory",
         nullptr,
         BE_DUZ_REQUEST_TYPE,
         "AMERICAN_AMERICA.UTF8",
         0,
         {kRequestLang},
         {{"LANG", "AMERICAN"}, {"TERR", "AMERICA"}, {"RC_CODE", "0"}}},
        {"language without territory", nullptr, BE_DUZ_REQUEST_TYPE, "AMERICAN", 1, {}, {}},
        {"no language at all", nullptr, BE_DUZ_REQUEST_TYPE, nullptr, 0, {}, {}},
        {"quoted numeric characters",
         "\".,\"",
         BE_DUZ_REQUEST_TYPE,
         "FRENCH_FRANCE",
         0,
         {kRequestLangChars},
         {{"LANG", "FRENCH"}, {"TERR", "FRANCE"}, {"NLSCHARS", ".,"}, {"RC_CODE", "0"}}},
        {"unquoted numeric characters are ignored",
         ".,",
         BE_DUZ_REQUEST_TYPE,
         "FRENCH_FRANCE",
         0,
         {kRequestLang},
         {{"LANG", "FRENCH"}, {"TERR", "FRANCE"}, {"RC_CODE", "0"}}},
        {"numeric characters without language",
         "\".,\"",
         BE_DUZ_REQUEST_TYPE,
         nullptr,
         0,
         {kRequestLangChars},
         {{"LANG", ""}, {"TERR", ""}, {"NLSCHARS", ".,"}, {"RC_CODE", "0"}}},
        {"set program",
         "\".,\"",
         BE_DUZ_REQUEST_SET_TYPE,
         "GERMAN_GERMANY",
         0,
         {kSetLangChars},
         {{"LANG", "GERMAN"}, {"TERR", "GERMANY"}, {"NLSCHARS", ".,"}, {"RC_CODE", "0"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        database();
        std::string account = "[VIS]\nDB_SID VIS\n";
        if (c.nls_char) account += std::string("NLS_CHAR ") + c.nls_char + "\n";
        home.write_file("data/DUZ_inst.dat", account);
        Pairs pairs{{"DUZ-INSTANCE", "VIS"}};
        Pairs rows;
        if (c.language && std::string(c.req_type) == BE_DUZ_REQUEST_TYPE)
            pairs.emplace_back("DUZ-LANGUAGE", c.language);
        if (c.language) rows.emplace_back("LANGUAGE", c.language);
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_set_options(session, c.req_type, job(pairs), section(rows), &error), c.rc) << error.text;
        GM_PARAM_list_clear(&section_);
        EXPECT_EQ(prepared(), c.texts);
        if (!c.texts.empty()) {
            EXPECT_EQ(binds_of(oci_standin::journal().executions.back()), c.binds);
        }
    }
}

TEST_F(RequestOptions, SetProgramFallsBackToTheTwoArgumentLanguageCall) {
    home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\nNLS_CHAR \".,\"\n");
    database({fails(":nlschars", 6550, "wrong number of arguments")});
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_set_options(session, BE_DUZ_REQUEST_SET_TYPE, job({{"DUZ-INSTANCE", "VIS"}}),
                                 section({{"LANGUAGE", "GERMAN_GERMANY"}}), &error),
              0)
        << error.text;
    EXPECT_EQ(prepared(), (std::vector<std::string>{kSetLangChars, kSetLang}));
    EXPECT_EQ(binds_of(oci_standin::journal().executions.back()),
              (Pairs{{"LANG", "GERMAN"}, {"TERR", "GERMANY"}, {"RC_CODE", "0"}}));
}

TEST_F(RequestOptions, ProfilesEndAtTheFirstMissingNumber) {
    oci_standin::Answer echo;
    echo.outs["new_value"] = oci_standin::out_template("{pvalue}");
    database({substring_rule("FND_PROFILE.PUT", {echo})});
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_set_profiles(session,
                                  job({{"DUZ-PROFILES-P001-NAME", "PRINTER"},
                                       {"DUZ-PROFILES-P001-VALUE", "LP01"},
                                       {"DUZ-PROFILES-P003-NAME", "CONC_COPIES"},
                                       {"DUZ-PROFILES-P003-VALUE", "2"}}),
                                  &error),
              0);
    EXPECT_EQ(prepared(), std::vector<std::string>{kProfile});
    auto runs = executions_of("FND_PROFILE.PUT");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(bind_named(runs[0], "PNAME")->value, Cell("PRINTER"));
    EXPECT_EQ(bind_named(runs[0], "PVALUE")->value, Cell("LP01"));

    // A failing put fails the call.
    database({fails("FND_PROFILE.PUT", 20001, "bad profile")});
    EXPECT_EQ(
        BE_DUZ_set_profiles(session, job({{"DUZ-PROFILES-P001-NAME", "X"}, {"DUZ-PROFILES-P001-VALUE", "1"}}), &error),
        1);
}

TEST_F(RequestOptions, NotificationsRunForEachNameAndWarnWhenRefused) {
    oci_standin::Answer yes, no;
    no.outs["rc_code"] = oci_standin::out_value(Cell(1));
    database({substring_rule("add_notification", {yes, no})});
    ZPAError error{};
    testbed::StderrCapture capture;
    EXPECT_EQ(BE_DUZ_add_notifications(session, BE_DUZ_REQUEST_TYPE,
                                       job({{"DUZ-NOTIFICATIONS-N001-NAME", "SYSADMIN"},
                                            {"DUZ-NOTIFICATIONS-N002-NAME", "OPERATIONS"},
                                            {"DUZ-NOTIFICATIONS-N004-NAME", "NOBODY"}}),
                                       nullptr, &error),
              0);
    EXPECT_EQ(capture.text(), "Warning: Fail to add notification 'OPERATIONS'.\n");
    auto runs = executions_of("add_notification");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(binds_of(runs[0]), (Pairs{{"NAME", "SYSADMIN"}, {"ORA_TYPE", "REQUEST"}, {"RC_CODE", "0"}}));
    EXPECT_EQ(prepared(), (std::vector<std::string>{kNotification, kNotification}));
}

TEST_F(RequestOptions, DeliveryStopsAtTheFirstRecipientWithoutAnAddress) {
    ZPAError error{};
    EXPECT_EQ(BE_DUZ_set_delivery_opts(session, BE_DUZ_REQUEST_TYPE, 0,
                                       job({{"DUZ-DE_OP_EMAIL_FROM", "ops@example.com"},
                                            {"DUZ-DE_OP_EMAIL-P001-TO", "a@example.com"},
                                            {"DUZ-DE_OP_EMAIL-P001-CC", "b@example.com"},
                                            {"DUZ-DE_OP_EMAIL-P002-TO", ""},
                                            {"DUZ-DE_OP_EMAIL-P003-TO", "c@example.com"}}),
                                       &error),
              0);
    auto runs = executions_of("add_delivery_option");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].text, kRequestDelivery);
    EXPECT_EQ(binds_of(runs[0]), (Pairs{{"OPTION_TYPE", "E"},
                                        {"ARG1", ""},
                                        {"ARG2", "ops@example.com"},
                                        {"ARG3", "a@example.com"},
                                        {"ARG4", "b@example.com"},
                                        {"NLS_LANG", ""},
                                        {"RC_CODE", "0"}}));
    // Without a sender there is no delivery.
    database();
    EXPECT_EQ(
        BE_DUZ_set_delivery_opts(session, BE_DUZ_REQUEST_TYPE, 0, job({{"DUZ-DE_OP_EMAIL-P001-TO", "a@x"}}), &error),
        0);
    EXPECT_TRUE(prepared().empty());
    // A set program reads its own attributes.
    EXPECT_EQ(BE_DUZ_set_delivery_opts(session, BE_DUZ_REQUEST_SET_TYPE, 2,
                                       job({{"DUZ-SETPROG-P002-DE_OP_EMAIL_FROM", "ops@x"},
                                            {"DUZ-SETPROG-P002-DE_OP_EMAIL_SUBJECT", "Aging"},
                                            {"DUZ-SETPROG-P002-DE_OP_EMAIL-P001-TO", "a@x"},
                                            {"DUZ-SETPROG-P002-DE_OP_EMAIL-P001-LANG", "US"}}),
                                       &error),
              0);
    auto set_runs = executions_of("FND_SUBMIT.add_delivery_option");
    ASSERT_EQ(set_runs.size(), 1u);
    EXPECT_EQ(set_runs[0].text, kSetDelivery);
    EXPECT_EQ(bind_named(set_runs[0], "ARG1")->value, Cell("Aging"));
    EXPECT_EQ(bind_named(set_runs[0], "NLS_LANG")->value, Cell("US"));
}

TEST_F(RequestOptions, ExtraPrintersFromTheSecondUpToTheFirstGap) {
    ZPAError error{};
    testbed::StderrCapture capture;
    EXPECT_EQ(BE_DUZ_add_printers(session,
                                  job({{"DUZ-PRINTERS-P001-NAME", "MAIN"},
                                       {"DUZ-PRINTERS-P001-VALUE", "1"},
                                       {"DUZ-PRINTERS-P002-NAME", std::string(35, 'P')},
                                       {"DUZ-PRINTERS-P002-VALUE", "2"},
                                       {"DUZ-PRINTERS-P003-NAME", "LP03"},
                                       {"DUZ-PRINTERS-P003-VALUE", "abc"},
                                       {"DUZ-PRINTERS-P005-NAME", "LP05"},
                                       {"DUZ-PRINTERS-P005-VALUE", "1"}}),
                                  &error),
              0);
    EXPECT_EQ(capture.text(), "abc is not valid number\nabc is not a positive number\nprint copies will be set to 1\n");
    auto runs = executions_of("ADD_PRINTER");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].text, kRequestPrinter);
    EXPECT_EQ(bind_named(runs[0], "PRINTER")->value, Cell(std::string(30, 'P')));
    EXPECT_EQ(bind_named(runs[0], "PRINTER")->size, 31);
    EXPECT_EQ(bind_named(runs[0], "COPIES")->value, Cell(2));
    EXPECT_EQ(binds_of(runs[1]), (Pairs{{"PRINTER", "LP03"}, {"COPIES", "1"}, {"RC_CODE", "0"}}));

    // The set variant reads the program's own printers and calls FND_SUBMIT.
    database();
    EXPECT_EQ(BE_DUZ_set_add_printers(session,
                                      job({{"DUZ-SETPROG-P002-PRINTERS-P002-NAME", "LP22"},
                                           {"DUZ-SETPROG-P002-PRINTERS-P002-VALUE", "3"},
                                           {"DUZ-PRINTERS-P002-NAME", "NOT-MINE"},
                                           {"DUZ-PRINTERS-P002-VALUE", "1"}}),
                                      2, &error),
              0);
    EXPECT_EQ(prepared(), std::vector<std::string>{kSetPrinter});
    EXPECT_EQ(bind_named(executions_of("ADD_PRINTER").at(0), "PRINTER")->value, Cell("LP22"));
}

TEST_F(RequestOptions, LayoutsNeedXmlPublisherAndPickTheirBlock) {
    ZPAError error{};
    // Without the view nothing is added and nothing is reported.
    database({layouts_installed(0)});
    EXPECT_EQ(BE_DUZ_add_layouts(
                  session,
                  job({{"DUZ-LOUT-P001-NAME", "T"}, {"DUZ-LOUT-P001-LANG", "English"}, {"DUZ-LOUT-P001-TYPE", "PDF"}}),
                  &error, "AR", 0),
              0);
    EXPECT_EQ(prepared(), std::vector<std::string>{kXdoCheck});
    EXPECT_STREQ(error.text, "");

    database({layouts_installed()});
    EXPECT_EQ(BE_DUZ_add_layouts(session,
                                 job({{"DUZ-LOUT-P001-NAME", "Aging"},
                                      {"DUZ-LOUT-P001-LANG", "English: United States"},
                                      {"DUZ-LOUT-P001-TYPE", "PDF"},
                                      {"DUZ-LOUT-P002-NAME", "Aging2"},
                                      {"DUZ-LOUT-P002-LANG", "English"},
                                      {"DUZ-LOUT-P002-TYPE", "RTF"}}),
                                 &error, "AR", 0),
              0);
    auto runs = executions_of("ADD_LAYOUT");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_NE(runs[0].text.find("fnd_territories_tl"), std::string::npos);
    EXPECT_NE(runs[0].text.find("FND_REQUEST.ADD_LAYOUT"), std::string::npos);
    EXPECT_NE(runs[1].text.find("xdo_lobs"), std::string::npos);
    EXPECT_EQ(binds_of(runs[0]), (Pairs{{"APP_NAME", "AR"},
                                        {"TEMPLATE_NAME", "Aging"},
                                        {"LOCALIZATION", "English: United States"},
                                        {"TEMPLATE_TYPE", "PDF"},
                                        {"RC_CODE", "0"}}));

    // Set program 2 reads its own layouts and calls FND_SUBMIT; a template not found ends the loop.
    database({layouts_installed(), fails("ADD_LAYOUT", 1403, "no data found")});
    EXPECT_EQ(BE_DUZ_add_layouts(session,
                                 job({{"DUZ-SETPROG-P002-LOUT-P001-NAME", "Gone"},
                                      {"DUZ-SETPROG-P002-LOUT-P001-LANG", "English"},
                                      {"DUZ-SETPROG-P002-LOUT-P001-TYPE", "PDF"},
                                      {"DUZ-SETPROG-P002-LOUT-P002-NAME", "X"},
                                      {"DUZ-SETPROG-P002-LOUT-P002-LANG", "English"},
                                      {"DUZ-SETPROG-P002-LOUT-P002-TYPE", "PDF"},
                                      {"DUZ-LOUT-P001-NAME", "NotMine"}}),
                                 &error, "GL", 2),
              0);
    runs = executions_of("ADD_LAYOUT");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_NE(runs[0].text.find("FND_SUBMIT.ADD_LAYOUT"), std::string::npos);
    EXPECT_EQ(bind_named(runs[0], "TEMPLATE_NAME")->value, Cell("Gone"));
    EXPECT_STREQ(error.text, "CM for OEBS: Fail to execute BE_DUZ_REQUEST_ADD_LAYOUT. ORA-01403: no data found\n");
}

TEST_F(RequestOptions, HostileValuesReachTheDatabaseOnlyAsBinds) {
    const std::string hostile = "x'; drop table x; --\"";
    home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\nNLS_CHAR \"'; drop table x; --\"\n");
    database({styles_known(), layouts_installed()});
    ZPAAttrList* attrs = job({{"DUZ-INSTANCE", "VIS"},
                              {"DUZ-PROFILES-P001-NAME", hostile},
                              {"DUZ-PROFILES-P001-VALUE", hostile},
                              {"DUZ-PRINTERNAME", hostile},
                              {"DUZ-PRINTSTYLE", hostile},
                              {"DUZ-PRINTERS-P002-NAME", hostile},
                              {"DUZ-PRINTERS-P002-VALUE", "1"},
                              {"DUZ-NOTIFICATIONS-N001-NAME", hostile},
                              {"DUZ-LANGUAGE", hostile + "_" + hostile},
                              {"DUZ-DE_OP_EMAIL_FROM", hostile},
                              {"DUZ-DE_OP_EMAIL_SUBJECT", hostile},
                              {"DUZ-DE_OP_EMAIL-P001-TO", hostile},
                              {"DUZ-DE_OP_EMAIL-P001-CC", hostile},
                              {"DUZ-DE_OP_EMAIL-P001-LANG", hostile},
                              {"DUZ-LOUT-P001-NAME", hostile},
                              {"DUZ-LOUT-P001-LANG", hostile},
                              {"DUZ-LOUT-P001-TYPE", hostile}});
    ZPAError error{};
    BE_DUZ_set_profiles(session, attrs, &error);
    BE_DUZ_set_print_options(session, BE_DUZ_REQUEST_TYPE, attrs, nullptr, &error);
    BE_DUZ_add_printers(session, attrs, &error);
    BE_DUZ_add_notifications(session, BE_DUZ_REQUEST_TYPE, attrs, nullptr, &error);
    BE_DUZ_set_options(session, BE_DUZ_REQUEST_TYPE, attrs, nullptr, &error);
    BE_DUZ_set_delivery_opts(session, BE_DUZ_REQUEST_TYPE, 0, attrs, &error);
    BE_DUZ_add_layouts(session, attrs, &error, hostile.c_str(), 0);
    ASSERT_GE(prepared().size(), 9u);
    for (const std::string& text : prepared()) EXPECT_EQ(text.find("drop table"), std::string::npos) << text;
    bool bound_whole = false;
    for (auto& e : oci_standin::journal().executions)
        for (auto& b : e.binds) bound_whole |= b.value == Cell(hostile);
    EXPECT_TRUE(bound_whole);
}

}  // namespace
