// Encryption key change of the accounts file: backup, re-encryption from the old local key to the
// new one, restore and clean-up.
#include <thread>

#include "passwords_fixture.h"

namespace {

using pwtest::Attrs;
using pwtest::PasswordsTest;
using pwtest::Sections;

constexpr const char* kNewKey = "brand new local key";

class KeyChangeTest : public PasswordsTest {
protected:
    ZPARC action(const char* name, ZPAAttrList* in = nullptr) {
        std::string text = name;
        ZPAAttrList empty{};
        return ZPAAPI_PASSWORDKEY_ACTION(nullptr, text.data(), in ? in : &empty, &empty, &err);
    }
    // Reads a stored password with the key now in the key file (a fresh context on a new thread).
    std::string read_with_key_file(const std::string& stored) {
        std::string plain;
        std::thread([&] {
            plain = decrypted(stored, LOCAL);
            BE_DUZ_clean_encyption_info(&err);
        }).join();
        return plain;
    }
};

TEST_F(KeyChangeTest, DeployReencryptsEveryPasswordUnderTheNewKey) {
    const std::string a = encrypted("alpha", LOCAL);
    const std::string b = encrypted("beta", LOCAL);
    home.write_file("data/DUZ_inst.dat", "[A]\nDB_SID S1\nDB_PASSWD " + a + "\n[B]\nDB_PASSWD " + b + "\n");
    ASSERT_EQ(action("BackUp"), 0);
    EXPECT_EQ(home.read_file("data/DUZ_inst_bkp.dat"), home.read_file("data/DUZ_inst.dat"));

    // Announced lengths longer than the values are clamped to them.
    Attrs keys{{"NEW_KEY", kNewKey},
               {"NEW_KEY_LEN", "500"},
               {"OLD_KEY", pwtest::kLocalKey},
               {"OLD_KEY_LEN", std::to_string(std::strlen(pwtest::kLocalKey))}};
    ASSERT_EQ(action("Deploy", &keys.list), 0) << err.text;
    Sections file;
    ASSERT_TRUE(file.load("./data/DUZ_inst.dat"));
    EXPECT_EQ(file.get("A", "DB_SID"), "S1");
    EXPECT_EQ(file.get("A", "DB_PASSWD").rfind(BE_DUZ_LOCAL_PREFIX, 0), 0u);
    EXPECT_EQ(read_with_key_file(file.get("A", "DB_PASSWD")).rfind("<fails", 0), 0u);  // old key no longer reads it
    home.write_file("keys/local.key", kNewKey);
    EXPECT_EQ(read_with_key_file(file.get("A", "DB_PASSWD")), "alpha");
    EXPECT_EQ(read_with_key_file(file.get("B", "DB_PASSWD")), "beta");

    ASSERT_EQ(action("CleanUp"), 0);
    EXPECT_FALSE(home.exists("data/DUZ_inst_bkp.dat"));
}

TEST_F(KeyChangeTest, PasswordTheOldKeyCannotReadKeepsItsTextAndTheBackupRestoresTheFile) {
    const std::string good = encrypted("good", LOCAL);
    const std::string foreign = encrypted("foreign", GLOBAL);
    home.write_file("data/DUZ_inst.dat",
                    "[A]\nDB_PASSWD " + good + "\n[B]\nDB_PASSWD " + foreign + "\n[C]\nDB_PASSWD " + good + "\n");
    const std::string original = home.read_file("data/DUZ_inst.dat");
    ASSERT_EQ(action("BackUp"), 0);
    Attrs keys{{"NEW_KEY", kNewKey},
               {"NEW_KEY_LEN", std::to_string(std::strlen(kNewKey))},
               {"OLD_KEY", pwtest::kLocalKey},
               {"OLD_KEY_LEN", std::to_string(std::strlen(pwtest::kLocalKey))}};
    EXPECT_EQ(action("Deploy", &keys.list), 1);
    Sections file;
    ASSERT_TRUE(file.load("./data/DUZ_inst.dat"));
    EXPECT_EQ(file.get("B", "DB_PASSWD"), foreign);
    EXPECT_NE(file.get("A", "DB_PASSWD"), good);
    EXPECT_NE(file.get("C", "DB_PASSWD"), good);

    ASSERT_EQ(action("Restore"), 0);
    EXPECT_EQ(home.read_file("data/DUZ_inst.dat"), original);
    EXPECT_FALSE(home.exists("data/DUZ_inst_bkp.dat"));
    // A second restore has no backup: it fails and leaves the file alone.
    EXPECT_EQ(action("Restore"), 1);
    EXPECT_EQ(home.read_file("data/DUZ_inst.dat"), original);
}

TEST_F(KeyChangeTest, DeployWithoutWorkOrWithoutKeysChangesNothing) {
    Attrs no_old_len{{"NEW_KEY", kNewKey}, {"NEW_KEY_LEN", "19"}, {"OLD_KEY", pwtest::kLocalKey}};
    EXPECT_EQ(action("Deploy", &no_old_len.list), 0);  // no accounts file: nothing to do
    home.write_file("data/DUZ_inst.dat", "");
    EXPECT_EQ(action("Deploy", &no_old_len.list), 0);
    home.write_file("data/DUZ_inst.dat", "[A]\nDB_PASSWD " + encrypted("pw", LOCAL) + "\n");
    const std::string before = home.read_file("data/DUZ_inst.dat");
    EXPECT_EQ(action("Deploy", &no_old_len.list), 1);
    EXPECT_EQ(home.read_file("data/DUZ_inst.dat"), before);
    for (const char* other : {"backup", "", "DEPLOY"}) EXPECT_EQ(action(other, &no_old_len.list), 0) << other;
    EXPECT_FALSE(home.exists("data/DUZ_inst_bkp.dat"));
}

// A list that counts attributes it does not hold is an invalid argument: refused before anything
// reads it, also where the debug level traces the input's names.
TEST_F(KeyChangeTest, DeployRefusesAListThatCountsAttributesItDoesNotHold) {
    home.write_file("data/DUZ_inst.dat", "[A]\nDB_PASSWD " + encrypted("pw", LOCAL) + "\n");
    const std::string before = home.read_file("data/DUZ_inst.dat");
    for (const int level : {0, 4}) {
        for (const int count : {3, -1}) {
            SCOPED_TRACE("debug level " + std::to_string(level) + ", count " + std::to_string(count));
            DIAG_set_debug_level(level);
            ZPAAttrList broken{count, nullptr, 0};
            err = ZPAError{};
            EXPECT_EQ(action("Deploy", &broken), 1);
            EXPECT_NE(std::string(err.text).find("Invalid attribute list"), std::string::npos) << err.text;
            EXPECT_EQ(home.read_file("data/DUZ_inst.dat"), before);
        }
    }
    DIAG_set_debug_level(0);
}

TEST_F(KeyChangeTest, KeyLengthsAreClampedToTheirValues) {
    Attrs keys{{"NEW_KEY", "abc"}, {"NEW_KEY_LEN", "9999"}, {"OLD_KEY", "xy"}, {"OLD_KEY_LEN", "-4"}};
    char* nk = nullptr;
    char* ok = nullptr;
    int nl = 0, ol = 0;
    ASSERT_EQ(BE_DUZ_get_keys_info(&keys.list, &nk, &nl, &ok, &ol), 0);
    EXPECT_STREQ(nk, "abc");
    EXPECT_EQ(nl, 3);
    EXPECT_STREQ(ok, "xy");
    EXPECT_EQ(ol, 0);
}

}  // namespace
