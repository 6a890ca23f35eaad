// One-time re-encryption of the accounts file: old obfuscated passwords become the local-key
// form once, accounts without a password stay as they are, and a second run changes nothing.
#include <thread>

#include "passwords_fixture.h"

namespace {

using pwtest::PasswordsTest;
using pwtest::Sections;

// A password in the old form: the 64-byte field hidden as 128 hexadecimal digits.
std::string old_form(const std::string& plain) {
    char field[2048] = {};
    std::memcpy(field, plain.data(), plain.size());
    GM_PARAM_encrypt(field);
    return field;
}

class ReencryptionTest : public PasswordsTest {
protected:
    void write_accounts() {
        home.write_file("data/DUZ_inst.dat", "[FIRST]\nDB_SID ONE\nDB_PASSWD " + old_form("first-pw") +
                                                 "\n[NOPASS]\nDB_SID TWO\nDB_LOGIN apps\n[THIRD]\nDB_PASSWD " +
                                                 old_form("third pw") + "\nNLS_LANG AMERICAN\n");
        home.write_file("data/DUZ_enc_ind.dat", "");
    }
};

TEST_F(ReencryptionTest, PasswordsAreConvertedOnceAndSurviveASecondRun) {
    for (const std::string type : {"aes", "blowfish"}) {
        use_agent(type);
        std::thread([&] {
            write_accounts();
            ASSERT_EQ(BE_ENV_update_encryption(&err), 0) << err.text;
            EXPECT_FALSE(home.exists("data/DUZ_enc_ind.dat"));
            const std::string converted = home.read_file("data/DUZ_inst.dat");
            Sections file;
            ASSERT_TRUE(file.load("./data/DUZ_inst.dat"));
            EXPECT_EQ(decrypted(file.get("FIRST", "DB_PASSWD")), "first-pw") << type;
            EXPECT_EQ(decrypted(file.get("THIRD", "DB_PASSWD")), "third pw") << type;
            EXPECT_EQ(file.get("NOPASS", "DB_PASSWD"), "<missing>");  // nothing inherited
            EXPECT_EQ(file.get("NOPASS", "DB_LOGIN"), "apps");
            EXPECT_EQ(file.get("THIRD", "NLS_LANG"), "AMERICAN");

            // The indicator is back (say its removal had failed): converted passwords stay as they are.
            home.write_file("data/DUZ_enc_ind.dat", "");
            ASSERT_EQ(BE_ENV_update_encryption(&err), 0) << err.text;
            EXPECT_EQ(home.read_file("data/DUZ_inst.dat"), converted) << type;
            BE_DUZ_clean_encyption_info(&err);
        }).join();
    }
}

TEST_F(ReencryptionTest, NothingHappensWithoutTheIndicator) {
    home.write_file("data/DUZ_inst.dat", "[A]\nDB_PASSWD " + old_form("pw") + "\n");
    const std::string before = home.read_file("data/DUZ_inst.dat");
    EXPECT_EQ(BE_ENV_update_encryption(&err), 0);
    EXPECT_EQ(home.read_file("data/DUZ_inst.dat"), before);
    EXPECT_EQ(calls(), "");
}

TEST_F(ReencryptionTest, EmptyFileIsSavedAndMissingFileFails) {
    home.write_file("data/DUZ_enc_ind.dat", "");
    EXPECT_EQ(BE_ENV_update_encryption(&err), 1);
    EXPECT_NE(std::string(err.text).find("Could not find old accounts file. No accounts to update"), std::string::npos);
    EXPECT_TRUE(home.exists("data/DUZ_enc_ind.dat"));
    home.write_file("data/DUZ_inst.dat", "");
    EXPECT_EQ(BE_ENV_update_encryption(&err), 0);
    EXPECT_FALSE(home.exists("data/DUZ_enc_ind.dat"));
}

TEST_F(ReencryptionTest, EncryptionFailureLeavesFileAndIndicator) {
    write_accounts();
    const std::string before = home.read_file("data/DUZ_inst.dat");
    setenv("APPBRIDGE_ORVSECURE_FAIL", "encrypt", 1);
    EXPECT_EQ(BE_ENV_update_encryption(&err), 1);
    EXPECT_NE(std::string(err.text).find("Error- could not encrypt password (account FIRST)"), std::string::npos);
    EXPECT_EQ(home.read_file("data/DUZ_inst.dat"), before);
    EXPECT_TRUE(home.exists("data/DUZ_enc_ind.dat"));
}

}  // namespace
