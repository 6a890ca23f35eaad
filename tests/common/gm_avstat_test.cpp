// Availability status of application accounts: the status files across an account becoming
// unavailable and available again, and the lists of unavailable types and accounts.
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "gm_avstat.h"
#include "gm_param.h"
#include "testbed.h"

namespace {

class AvailabilityTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override { std::filesystem::create_directories(home.path() + "/data/av_status"); }
    void TearDown() override { GM_PARAM_clear(); }

    static CM_ACCOUNT_INFO_typ account(const char* type, const char* name, const char* code, const char* msg) {
        CM_ACCOUNT_INFO_typ info{};
        std::strcpy(info.applType, type);
        std::strcpy(info.account, name);
        std::strcpy(info.errorCode, code);
        std::strcpy(info.errorMsg, msg);
        return info;
    }

    std::set<std::string> status_files() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(home.path() + "/data/av_status"))
            names.insert(e.path().filename().string());
        return names;
    }

    static std::vector<CM_ACCOUNT_INFO_typ> unavailable(const char* type, CM_INFO_typ info, CM_RC* rc = nullptr) {
        ZPALIST_handle_typ list{};
        const CM_RC result = GM_AVSTAT_get_unavailable_account(type, &list, info);
        if (rc) *rc = result;
        std::vector<CM_ACCOUNT_INFO_typ> out;
        void* p = nullptr;
        unsigned int size = 0;
        ZPALIST_reset(&list);
        while (ZPALIST_next_ptr(&list, &p, &size) == CM_RC_OK) out.push_back(*static_cast<CM_ACCOUNT_INFO_typ*>(p));
        ZPALIST_clear(&list);
        return out;
    }
};

}  // namespace

TEST_F(AvailabilityTest, AccountBecomesUnavailableAndAvailableAgain) {
    auto info = account("OEBS", "prod1", "-12", "ORA-12154: cannot resolve\nthe connect identifier");
    ASSERT_EQ(GM_AVSTAT_set_account_status(&info, GM_ACCOUNT_UNAVAILABLE), CM_RC_OK);
    EXPECT_STREQ(info.errorCode, "OEBS0012");
    EXPECT_EQ(home.read_file("data/av_status/OEBS_prod1.unav"),
              "AV_ERRCDE OEBS0012\nAV_ERRMSG ORA-12154: cannot resolve the connect identifier\n");

    // Still unavailable with another reason: the file is replaced whole, no temporary file stays.
    info = account("OEBS", "prod1", "3113", "");
    ASSERT_EQ(GM_AVSTAT_set_account_status(&info, GM_ACCOUNT_UNAVAILABLE), CM_RC_OK);
    EXPECT_EQ(home.read_file("data/av_status/OEBS_prod1.unav"), "AV_ERRCDE OEBS3113\n");
    EXPECT_EQ(status_files(), std::set<std::string>{"OEBS_prod1.unav"});

    ASSERT_EQ(GM_AVSTAT_set_account_status(&info, GM_ACCOUNT_AVAILABLE), CM_RC_OK);
    EXPECT_TRUE(status_files().empty());
    // Available again while already available: nothing to do.
    EXPECT_EQ(GM_AVSTAT_set_account_status(&info, GM_ACCOUNT_AVAILABLE), CM_RC_OK);
}

TEST_F(AvailabilityTest, DisabledAndNotFoundRemoveTheStatusFile) {
    for (const auto status : {GM_ACCOUNT_DISABLED, GM_ACCOUNT_NOT_FOUND}) {
        auto info = account("OEBS", "acc", "1", "down");
        ASSERT_EQ(GM_AVSTAT_set_account_status(&info, GM_ACCOUNT_UNAVAILABLE), CM_RC_OK);
        ASSERT_EQ(GM_AVSTAT_set_account_status(&info, status), CM_RC_OK);
        EXPECT_TRUE(status_files().empty()) << status;
    }
}

TEST_F(AvailabilityTest, RefusedRequestsWriteNothing) {
    auto wrong = account("OEBS", "acc", "1", "x");
    EXPECT_EQ(GM_AVSTAT_set_account_status(&wrong, static_cast<CM_ACCOUNT_STATUS_typ>(3 + 1)), CM_RC_FAIL);
    auto escaping = account("OEBS", "../../escape", "1", "x");
    EXPECT_EQ(GM_AVSTAT_set_account_status(&escaping, GM_ACCOUNT_UNAVAILABLE), CM_RC_FAIL);
    EXPECT_TRUE(status_files().empty());
    EXPECT_FALSE(home.exists("escape.unav"));

    std::filesystem::remove_all(home.path() + "/data/av_status");
    auto info = account("OEBS", "acc", "1", "x");
    EXPECT_EQ(GM_AVSTAT_set_account_status(&info, GM_ACCOUNT_UNAVAILABLE), CM_RC_FAIL);
    ZPALIST_handle_typ list{};
    EXPECT_EQ(GM_AVSTAT_get_unavailable_cmlist(&list), CM_RC_FAIL);
}

TEST_F(AvailabilityTest, UnavailableTypesAreListedOnceEachByWholeName) {
    // Types that hold one another as substrings: whatever the directory order, each is listed.
    for (const char* type : {"OEBSX", "OEBS", "OEBSX", "S", "BS", "EBS", "XOEBSX"}) {
        static int n = 0;
        auto info = account(type, ("acc" + std::to_string(n++)).c_str(), "1", "down");
        ASSERT_EQ(GM_AVSTAT_set_account_status(&info, GM_ACCOUNT_UNAVAILABLE), CM_RC_OK);
    }
    ZPALIST_handle_typ list{};
    ASSERT_EQ(GM_AVSTAT_get_unavailable_cmlist(&list), CM_RC_OK);
    std::multiset<std::string> types;
    void* p = nullptr;
    unsigned int size = 0;
    ZPALIST_reset(&list);
    while (ZPALIST_next_ptr(&list, &p, &size) == CM_RC_OK) types.insert(static_cast<GM_PARAM_table_row*>(p)->key);
    GM_PARAM_list_clear(&list);
    EXPECT_EQ(types, (std::multiset<std::string>{"BS", "EBS", "OEBS", "OEBSX", "S", "XOEBSX"}));
}

TEST_F(AvailabilityTest, UnavailableAccountsByTypeWithOrWithoutDetails) {
    for (const auto& [type, name] :
         std::vector<std::pair<const char*, const char*>>{{"OEBS", "prod_eu"}, {"OEBS", "test"}, {"OEBSX", "other"}}) {
        auto info = account(type, name, "-28000", "account is locked");
        ASSERT_EQ(GM_AVSTAT_set_account_status(&info, GM_ACCOUNT_UNAVAILABLE), CM_RC_OK);
    }
    home.write_file("data/av_status/OEBS_notes.txt", "not a status file");

    CM_RC rc = 0;
    auto full = unavailable("OEBS", GM_INFO_FULL, &rc);
    EXPECT_EQ(rc, CM_RC_OK);
    std::set<std::string> names;
    for (const auto& a : full) {
        names.insert(a.account);
        EXPECT_STREQ(a.applType, "OEBS");
        EXPECT_STREQ(a.errorCode, "OEBS28000");
        EXPECT_STREQ(a.errorMsg, "account is locked");
    }
    EXPECT_EQ(names, (std::set<std::string>{"prod_eu", "test"}));

    auto all = unavailable("All", GM_INFO_SHORT);
    EXPECT_EQ(all.size(), 3u);
    for (const auto& a : all) EXPECT_STREQ(a.errorCode, "");
    EXPECT_TRUE(unavailable("SAP", GM_INFO_FULL).empty());
}

TEST_F(AvailabilityTest, IntervalsOutsideTheirRangeFallBackToDefaults) {
    struct Case {
        const char* config;
        int available;
        int unavailable;
    };
    const Case cases[] = {
        {"", 3600, 90},
        {"CMACC_AV_INTERVAL 600\nCMACC_UNAV_INTERVAL 5\n", 600, 90},
        {"CMACC_AV_INTERVAL 36001\nCMACC_UNAV_INTERVAL 900\n", 3600, 900},
        {"CMACC_AV_INTERVAL 599\nCMACC_UNAV_INTERVAL 10\n", 3600, 10},
        {"CMACC_AV_INTERVAL 36000\nCMACC_UNAV_INTERVAL 901\n", 36000, 90},
    };
    for (const auto& c : cases) {
        GM_PARAM_clear();
        home.write_file("data/CONFIG.dat", c.config);
        int available = 0, unavailable_s = 0;
        EXPECT_EQ(GM_AVSTAT_getAvailabilityIntervals(&available, &unavailable_s), CM_RC_OK);
        EXPECT_EQ(available, c.available) << c.config;
        EXPECT_EQ(unavailable_s, c.unavailable) << c.config;
    }
}
