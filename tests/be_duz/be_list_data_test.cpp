// The whole-text lists in-process against the stand-in database: the account data from the
// accounts file, the program data and the request-set programs data with their builders, and the
// value-set list with the chosen values it reads.
#include <cstdio>
#include <string>
#include <vector>

#include "be_list_fixture.h"

namespace {

using namespace betest;

// ------------------------------------------------------------------------------------------------
// Account data

class AccountDataTest : public ListTest {
protected:
    void SetUp() override {
        ListTest::SetUp();
        home.write_file("data/DUZ_inst.dat",
                        "[VIS]\nDB_SID VIS\nDUZ-CONFIG_DISPLAYLOG N\nDUZ-CONFIG_DISPLAYOUTPUT Y\n"
                        "CONVERT_WARNING2OK Y\nDUZ-DEPENDCHILD Y\n[PROD]\nDB_SID PROD\nDUZ-WAITCHILD N\n");
    }
    static std::string account(const std::string& name) {
        return question("GetAccountData", {{"DUZ-INSTANCE", name}});
    }
};

TEST_F(AccountDataTest, SettingsOfTheSectionWithDefaultsForWhatItLacks) {
    EXPECT_EQ(list(account("VIS")),
              prologue(header("GetAccountData")) +
                  "<DUZ-DISPLAY_LOGFILE>N</DUZ-DISPLAY_LOGFILE><DUZ-DISPLAY_OUTPUT>Y</DUZ-DISPLAY_OUTPUT>"
                  "<DUZ-CONVERT_WARNING2OK>Y</DUZ-CONVERT_WARNING2OK><DUZ-WAITCHILD>Y</DUZ-WAITCHILD>"
                  "<DUZ-SUBSTATUS>Y</DUZ-SUBSTATUS>" +
                  kEpilogue);
    EXPECT_EQ(list(account("PROD")),
              prologue(header("GetAccountData")) +
                  "<DUZ-DISPLAY_LOGFILE>Y</DUZ-DISPLAY_LOGFILE><DUZ-DISPLAY_OUTPUT>N</DUZ-DISPLAY_OUTPUT>"
                  "<DUZ-CONVERT_WARNING2OK>N</DUZ-CONVERT_WARNING2OK><DUZ-WAITCHILD>N</DUZ-WAITCHILD>"
                  "<DUZ-SUBSTATUS>N</DUZ-SUBSTATUS>" +
                  kEpilogue);
}

TEST_F(AccountDataTest, FailuresLeaveNoList) {
    struct Case {
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases = {
        {question("GetAccountData"), "Account name is missing"},
        {account(""), "Account name is missing"},
        {account("vis"), "Failed to find account vis in accounts file"},
    };
    for (const Case& c : cases) {
        void* handle = nullptr;
        error = ZPAError{};
        EXPECT_EQ(open(c.text, &handle), ZPA_FAIL) << c.text;
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(std::string(error.text), std::string(BE_DUZ_ERROR_PREFIX) + c.message);
        EXPECT_EQ(error.code, 1u);
    }
    std::remove((home.path() + "/data/DUZ_inst.dat").c_str());
    void* handle = nullptr;
    EXPECT_EQ(open(account("VIS"), &handle), ZPA_FAIL);
    EXPECT_EQ(std::string(error.text),
              std::string(BE_DUZ_ERROR_PREFIX) + "Failed to load account file ./data/DUZ_inst.dat");
}

}  // namespace
