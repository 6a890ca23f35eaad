// Parameter values before submission: the form of each format type and size, standard dates by
// release and configuration, defaults by default type, and the report value.
#include "be_parm_fixture.h"
#include "testbed.h"

#include <string>
#include <vector>

namespace {

using oci_standin::Cell;
using oci_standin::Step;

class ParmFormatTest : public betest::ParmTest {
protected:
    BE_DUZ_report_parm* value_of(const char* format, int size, const char* value, const char* uppercase = "") {
        BE_DUZ_report_parm* p = parm(0, "P_VALUE", "VS", "I", value);
        std::snprintf(p->formatype, sizeof p->formatype, "%s", format);
        std::snprintf(p->uppercase, sizeof p->uppercase, "%s", uppercase);
        p->maxsize = size;
        return p;
    }
    ZPARC format(BE_DUZ_report_parm* p, ZPAError& error) {
        return BE_DUZ_format_default_value(session, p, recs, 0, 0, &error);
    }
    static void release(const char* name) {
        oci_standin::add_rule(
            oci_standin::substring_rule("FROM FND_PRODUCT_GROUPS", {oci_standin::answer_rows({{name}})}));
    }
};

TEST_F(ParmFormatTest, ValuesTakeTheFormOfTheirFormatTypeWithoutTheDatabase) {
    struct Case {
        const char* format;
        int size;
        const char* in;
        const char* out;
        const char* kind;  // format named by the error record when the value is emptied
        const char* uppercase = "";
    };
    const Case cases[] = {
        {"D", 11, "5-jan-24", "05-JAN-2024", nullptr},
        {"D", 11, "5-JAN-51", "05-JAN-1951", nullptr},
        {"D", 11, "5-JAN-2024", "05-JAN-2024", nullptr},
        {"D", 9, "05-JAN-2024", "05-JAN-24", nullptr},
        {"D", 10, "5-JAN-7", "05-JAN-7", nullptr},
        {"D", 11, "5-JAN", "", "Date"},
        {"I", 5, "7", "07:00", nullptr},
        {"I", 5, "24:60", "24:60", nullptr},
        {"I", 8, "7:5", "07:05:00", nullptr},
        {"I", 6, "7:5", "7:5", nullptr},
        {"I", 5, "25:00", "", "Time"},
        {"I", 8, "10:x", "", "Time"},
        {"T", 20, "1-feb-99 10:5", "01-FEB-1999 10:05:00", nullptr},
        {"T", 15, "1-FEB-2024 7:30", "01-FEB-24 07:30", nullptr},
        {"T", 17, "1-FEB-24", "01-FEB-2024 00:00", nullptr},
        {"T", 18, "1-FEB-24 1:2:3", "01-FEB-24 01:02:03", nullptr},
        {"T", 20, "1-FEB-24 25:00", "", "DateTime"},
        {"T", 20, "1-FEB", "", "DateTime"},
        {"N", 10, "12.5", "12.5", nullptr},
        {"N", 10, "1.2.3", "", "Number"},
        {"C", 3, "abcdef", "abcdef", nullptr},
        {"C", 10, "mixed Case", "MIXED CASE", nullptr, "Y"},
        {"N", 10, "", "", nullptr},
    };
    for (const Case& c : cases) {
        BE_DUZ_report_parm* p = value_of(c.format, c.size, c.in, c.uppercase);
        ZPAError error{};
        testbed::StderrCapture capture;
        EXPECT_EQ(format(p, error), 0) << c.in;
        EXPECT_STREQ(p->value, c.out) << c.format << c.size << " " << c.in;
        if (c.kind == nullptr) {
            EXPECT_EQ(error.code, 0u) << c.in << ": " << error.text;
            continue;
        }
        EXPECT_STREQ(error.text, "CM for OEBS: Set Report parameter 'P_VALUE' value to NULL") << c.in;
        if (std::string(c.kind) == "Number") {
            EXPECT_EQ(capture.text(), std::string(c.in) + " is not valid number\n");
        }
    }
    EXPECT_TRUE(prepared().empty());
}

TEST_F(ParmFormatTest, StandardDatesFollowTheReleaseUnlessTheConfigurationSaysOtherwise) {
    struct Case {
        const char* release;   // nullptr: the release query fails
        const char* skip_key;  // nullptr: no key in the OEBS table
        const char* in;
        const char* out;
        bool through_database;
    };
    const Case cases[] = {
        {"12.2", nullptr, "15-JAN-2024", "15-JAN-2024", false},
        {"12.2", "N", "15-JAN-2024", "2024/01/15 00:00:00", true},
        {"12.2", "N", "2024/01/15", "2024/01/15 00:00:00", false},
        {"12.2", "N", "2024/01/15 10:20:30", "2024/01/15 10:20:30", false},
        {"11.5", nullptr, "15-JAN-24 10:20:30", "2024/01/15 10:20:30", true},
        {"12", "Yes", "15-JAN-2024", "15-JAN-2024", false},
        {nullptr, nullptr, "15-JAN-2024", "2024/01/15 00:00:00", true},
        {"11.5", nullptr, "JAN", "", false},
    };
    for (const Case& c : cases) {
        oci_standin::reset();
        GM_PARAM_clear();
        home.write_file("data/OEBS.dat", c.skip_key
                                             ? std::string("SKIP_CONVERT_DFLT_DATETIME_FORMAT ") + c.skip_key + "\n"
                                             : std::string("CM_DIR /x\n"));
        if (c.release) release(c.release);
        oci_standin::add_rule(
            oci_standin::substring_rule("to_date(:str, :infmt)", {oci_standin::answer_rows({{c.out}})}));
        BE_DUZ_report_parm* p = value_of("Y", 20, c.in);
        ZPAError error{};
        EXPECT_EQ(format(p, error), 0) << c.in;
        EXPECT_STREQ(p->value, c.out) << c.in << " release " << (c.release ? c.release : "-");
        EXPECT_EQ(count_prepared("to_date(:str, :infmt)"), c.through_database ? 1 : 0) << c.in;
        if (c.through_database) {
            EXPECT_EQ(bound("to_date", "STR"), Cell(c.in));
            EXPECT_EQ(bound("to_date", "INFMT"),
                      Cell(std::string(c.in).size() > 11 ? "DD-MON-RR HH24:MI:SS" : "DD-MON-YYYY"));
            EXPECT_EQ(bound("to_date", "OUTFMT"), Cell("YYYY/MM/DD HH24:MI:SS"));
        }
    }
}

TEST_F(ParmFormatTest, FailedDateConversionKeepsTheValueAndFails) {
    release("11.5");
    oci_standin::add_rule(oci_standin::substring_rule(
        "to_date", {oci_standin::answer_failure(oci_standin::failure_at(Step::Execute, 1843, "not a valid month"))}));
    BE_DUZ_report_parm* p = value_of("X", 11, "15-XYZ-2024");
    ZPAError error{};
    EXPECT_NE(format(p, error), 0);
    EXPECT_STREQ(p->value, "15-XYZ-2024");
    EXPECT_EQ(error.code, 1843u);
}

TEST_F(ParmFormatTest, DefaultsAreWorkedOutByTheirType) {
    row(parm(0, "P_ITEM", "VS1", "F", "Widget"), {{"HAS_ID", "YES"}, {"ID", "42"}, {"MEANING", "A widget"}});
    profiles({{"XX_COPIES", "3"}});
    oci_standin::add_rule(
        oci_standin::substring_rule("to_char(SYSDATE, :fmt)", {oci_standin::answer_rows({{"15-JAN-2024"}})}));
    oci_standin::add_rule(
        oci_standin::substring_rule("from items where id", {oci_standin::answer_rows({{"Widget name"}})}));
    oci_standin::add_rule(oci_standin::substring_rule("from nothing", {oci_standin::answer_rows({})}));
    struct Case {
        const char* type;
        const char* dft;
        const char* format;
        int size;
        ZPARC rc;
        const char* value;  // afterwards; the value before is "before"
        const char* error;  // the error record's text, when the default fails
    };
    const std::string long_constant(300, 'c');
    const std::string cut_constant(240, 'c');
    const Case cases[] = {
        {"C", long_constant.c_str(), "C", 300, 0, cut_constant.c_str(), nullptr},
        {"A", "VS1", "C", 10, 0, "42", nullptr},
        {"A", "VS1.MEANING", "C", 10, 0, "A widget", nullptr},
        {"A", "P_ITEM.meaning", "C", 10, 0, "A widget", nullptr},
        {"P", "xx_copies", "N", 3, 0, "3", nullptr},
        {"P", "XX_UNSET", "N", 3, 1, "before", nullptr},
        {"S", "select name from items where id = :$FLEX$.VS1", "C", 30, 0, "Widget name", nullptr},
        {"S", "select 1 from nothing", "C", 30, 1, "before", "CM for OEBS: Error - OCI_NODATA\n"},
        {"D", "", "C", 11, 0, "15-JAN-2024", nullptr},
        {"", "anything", "C", 10, 0, "before", nullptr},
    };
    for (int level : {0, 4}) {
        DIAG_set_debug_level(level);
        for (const Case& c : cases) {
            BE_DUZ_report_parm* p = parm(1, "P_DEFAULT", "VS2", "I", "before");
            std::snprintf(p->parm_type, sizeof p->parm_type, "%s", c.type);
            std::snprintf(p->dft_value, sizeof p->dft_value, "%s", c.dft);
            std::snprintf(p->formatype, sizeof p->formatype, "%s", c.format);
            p->maxsize = c.size;
            ZPAError error{};
            EXPECT_EQ(BE_DUZ_convert_default_value(session, p, recs, 1, 1, &error), c.rc) << c.type << " " << c.dft;
            EXPECT_STREQ(p->value, c.value) << c.type << " " << c.dft;
            if (c.error) {
                EXPECT_STREQ(error.text, c.error) << "debug level " << level;
            }
        }
    }
    EXPECT_EQ(bound("to_char(SYSDATE", "FMT"), Cell("DD-MON-YYYY"));
    EXPECT_EQ(bound("from items", "BV1"), Cell("42"));
}

TEST_F(ParmFormatTest, ReportValueIsTheChosenRowsIdOrTheValue) {
    struct Case {
        const char* type;
        const char* has_id;  // nullptr: the list is empty
        int check_id;
        const char* report;
    };
    const Case cases[] = {
        {"F", "YES", 0, "42"},  {"F", "NO", 0, "Widget"},  {"F", nullptr, 0, "Widget"},
        {"F", "YES", 1, "old"}, {"I", "YES", 0, "Widget"},
    };
    for (const Case& c : cases) {
        BE_DUZ_report_parm* p = parm(0, "P_ITEM", "VS1", c.type, "Widget");
        GM_PARAM_list_clear(&p->list);
        if (c.has_id) row(p, {{"HAS_ID", c.has_id}, {"ID", "42"}});
        std::snprintf(p->report_value, sizeof p->report_value, "old");
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_convert_report_value(c.check_id, p, recs, 0, 0, &error), 0);
        EXPECT_STREQ(p->report_value, c.report) << c.type << (c.has_id ? c.has_id : "-") << c.check_id;
    }
}

TEST_F(ParmFormatTest, DefaultDirectivesSetTheDefaultTypeAndText) {
    struct Case {
        const char* value;
        ZPARC rc;
        const char* type;
        const char* dft;
    };
    const Case cases[] = {
        {"DUZ_SQL: select 1 from dual   ", 0, "S", " select 1 from dual"},
        {"DUZ_PROFILE:  GL_SET_OF_BKS_ID", 0, "P", "GL_SET_OF_BKS_ID"},
        {"DUZ_SEGMENT: VS1.MEANING", 0, "A", "VS1.MEANING"},
        {"DUZ_CONSTANT: 10", 0, "C", "10"},
        {"DUZ_CURRENT_DATE:", 0, "D", ""},
        {"DUZ_CURRENT_TIME:", 0, "T", ""},
        {"plain value", 1, "old", "old"},
    };
    for (const Case& c : cases) {
        BE_DUZ_report_parm* p = parm(3, "P_X");
        std::snprintf(p->parm_type, sizeof p->parm_type, "%s", "o");
        std::snprintf(p->dft_value, sizeof p->dft_value, "%s", "old");
        char value[100];
        std::snprintf(value, sizeof value, "%s", c.value);
        EXPECT_EQ(BE_DUZ_reset_default_parm_value(value, recs, 3), c.rc) << c.value;
        EXPECT_EQ(std::string(p->parm_type), c.rc == 0 ? c.type : "o") << c.value;
        EXPECT_STREQ(p->dft_value, c.dft) << c.value;
    }
    EXPECT_EQ(BE_DUZ_return_month_number("JAN"), 1);
    EXPECT_EQ(BE_DUZ_return_month_number("DEC"), 12);
    EXPECT_EQ(BE_DUZ_return_month_number("Jan"), 0);
}

}  // namespace
