// The report parameter record's initialisation and the recognition of configuration-manager
// request names.
#include "be_def.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ReportParm, InitEmptiesTheRecordButKeepsMeaningAndDisplayFlag) {
    BE_DUZ_report_parm parm;
    std::memset(&parm, 'z', sizeof parm);
    std::strcpy(parm.report_meaning, "Meaning");
    std::strcpy(parm.displayed, "N");
    EXPECT_EQ(BE_DUZ_init_report_parm(&parm), 0);
    for (const char* text :
         {parm.parm_name, parm.parm_display, parm.parm_type, parm.required, parm.value_set_name, parm.value_set_type,
          parm.dft_value, parm.formatype, parm.report_value, parm.value, parm.uppercase, parm.sharedparm_name})
        EXPECT_STREQ(text, "");
    EXPECT_EQ(parm.value_set_id, 0);
    EXPECT_EQ(parm.seq_number, 0);
    EXPECT_EQ(parm.maxsize, 0);
    EXPECT_EQ(parm.list.count, 0u);
    EXPECT_EQ(parm.list.first, nullptr);
    EXPECT_STREQ(parm.report_meaning, "Meaning");
    EXPECT_STREQ(parm.displayed, "N");
}

TEST(PkmRequest, ConfigurationManagerNamesAreRecognisedInAnyCase) {
    struct Case {
        const char* action;
        int expected;
    } cases[] = {
        {"Orvcm_get_accounts_request", 1},
        {"ORVCM", 1},
        {"orvoebs_save_rules", 1},
        {"ORVOEBSX", 1},
        {"GetCMInstance", 0},
        {"ORVC", 0},
        {"xORVCM", 0},
        {"", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(BE_DUZ_PKM_isPKMrequest(c.action), c.expected) << c.action;
    EXPECT_EQ(BE_DUZ_PKM_isPKMrequest(nullptr), 0);
}

}  // namespace
