// The date shift of recurring jobs with the test clock frozen: a date argument moves by as many days
// from today as it lay after the job's first run date, keeping its time of day; what is not a date
// of the form YYYY/MM/DD HH:MM:SS is left alone.
#include "be_def.h"
#include "be_job_fixture.h"
#include "be_job_internal.h"
#include "gm_time.h"
#include "test_clock.h"

#include <cstring>
#include <string>

namespace {

using testbed::TestClockTest;

void freeze_at(const char* when) {
    ASSERT_EQ(OS_TIME_set_factor("0"), CM_RC_OK);
    ASSERT_EQ(OS_TIME_set_odate(when), CM_RC_OK);
}

constexpr const char* kFirstRun = "2025/01/10 00:00:00";

TEST_F(TestClockTest, DateArgumentMovesToTheCurrentRunKeepingItsTimeOfDay) {
    freeze_at("20250201120000");
    char shifted[BE_JOB_ORACLE_DATE_SIZE] = "";
    EXPECT_EQ(BE_job_increment_date(kFirstRun, "2025/01/13 08:30:00", shifted), 0);
    EXPECT_STREQ(shifted, "2025/02/04 08:30:00");
    // A date before the first run moves back as far; the first run's own time plays no part.
    EXPECT_EQ(BE_job_increment_date("2025/01/10 23:59:59", "2024/12/31 00:00:01", shifted), 0);
    EXPECT_STREQ(shifted, "2025/01/22 00:00:01");
}

TEST_F(TestClockTest, OnlyWellFormedDatesOfDateFormatsAreShifted) {
    freeze_at("20250201120000");
    struct Case {
        const char* name;
        const char* format;
        const char* type;  // default type
        const char* displayed;
        const char* value;
        const char* first_run;
        bool increment;
        const char* expected;
    } cases[] = {
        {"standard date", "X", "C", "Y", "2025/01/13 08:30:00", kFirstRun, true, "2025/02/04 08:30:00"},
        {"standard date-time", "Y", "C", "Y", "2025/01/11 00:00:00", kFirstRun, true, "2025/02/02 00:00:00"},
        {"time", "T", "C", "Y", "2025/01/10 07:00:00", kFirstRun, true, "2025/02/01 07:00:00"},
        {"character format", "C", "C", "Y", "2025/01/13 08:30:00", kFirstRun, true, "2025/01/13 08:30:00"},
        {"hidden current-date default", "X", "D", "N", "2025/01/13 08:30:00", kFirstRun, true, "2025/01/13 08:30:00"},
        {"displayed current-date default", "X", "D", "Y", "2025/01/13 08:30:00", kFirstRun, true,
         "2025/02/04 08:30:00"},
        {"increment off", "X", "C", "Y", "2025/01/13 08:30:00", kFirstRun, false, "2025/01/13 08:30:00"},
        {"short text", "X", "C", "Y", "2025/01/13", kFirstRun, true, "2025/01/13"},
        {"other separators", "X", "C", "Y", "2025-01-13 08:30:00", kFirstRun, true, "2025-01-13 08:30:00"},
        {"longer text", "X", "C", "Y", "2025/01/13 08:30:00.5", kFirstRun, true, "2025/01/13 08:30:00.5"},
        {"malformed first run", "X", "C", "Y", "2025/01/13 08:30:00", "10-JAN-2025", true, "2025/01/13 08:30:00"},
        {"empty value", "X", "C", "Y", "", kFirstRun, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BE_DUZ_report_parm rec{};
        BE_DUZ_init_report_parm(&rec);
        std::strcpy(rec.formatype, c.format);
        std::strcpy(rec.parm_type, c.type);
        std::strcpy(rec.displayed, c.displayed);
        std::strcpy(rec.report_value, c.value);
        EXPECT_EQ(be_job::argument_value(&rec, c.increment, c.first_run), c.expected);
    }
}

TEST_F(TestClockTest, SubmissionBindsTheShiftedDateArgument) {
    freeze_at("20250201120000");
    betest::submission_database({}, {betest::program_parameter("AS_OF", "X"), betest::program_parameter("NOTE")});
    betest::OwnedList account{{"DB_LOGIN", "APPS"}, {"DB_PASSWD", "apps"}, {"DB_SID", "VIS"}};
    auto* session = static_cast<BE_DUZ_Handles*>(std::malloc(sizeof(BE_DUZ_Handles)));
    BE_DUZ_OCI_Init_Handle(session);
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_OCI_START_Session(account.list(), session, &error), 0) << error.text;
    betest::OwnedList connection{{"X", ""}};
    betest::OwnedList job{{"DUZ-INCREMENT_DATE", "Y"},
                          {"DUZ-FIRST_RUN_DATE", kFirstRun},
                          {"DUZ-PARMS-P001-VALUE", "2025/01/13 08:30:00"},
                          {"DUZ-PARMS-P002-VALUE", "2025/01/13 08:30:00"}};
    betest::OwnedList out{{"PROCID", "            "}};
    EXPECT_EQ(
        BE_DUZ_Submit_request(1, 2, 3, 0, const_cast<char*>("XXCUST"), 222, const_cast<char*>("XXREPORT"),
                              const_cast<char*>(""), 0, session, connection.list(), job.list(), out.list(), &error),
        0)
        << error.text;
    std::map<std::string, oci_standin::Cell> args;
    for (auto& e : oci_standin::journal().executions)
        if (e.text.find("submit_request") != std::string::npos)
            for (auto& b : e.binds) args[b.name] = b.value;
    EXPECT_EQ(args["ARG1"], oci_standin::Cell("2025/02/04 08:30:00"));
    EXPECT_EQ(args["ARG2"], oci_standin::Cell("2025/01/13 08:30:00"));
    BE_DUZ_OCI_CLOSE_Session(session, 'Y', &error);
    oci_standin::reset();
}

}  // namespace
