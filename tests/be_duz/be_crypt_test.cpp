// Stored-password encryption: Base64, key prefixes, the choice between AES and Blowfish by the
// agent's encryption type, the global and local keys, and the per-thread library context.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <thread>

#include "passwords_fixture.h"

namespace {

using pwtest::PasswordsTest;

std::string b64(const std::string& bytes) {
    int n = -1;
    std::unique_ptr<char, decltype(&std::free)> out(
        base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()), &n),
        &std::free);
    return out ? std::string(out.get(), static_cast<std::size_t>(n)) : "<none>";
}

std::string unb64(const std::string& text) {
    int n = -1;
    std::unique_ptr<unsigned char, decltype(&std::free)> out(
        base64_decode(text.data(), static_cast<int>(text.size()), &n), &std::free);
    return out ? std::string(reinterpret_cast<char*>(out.get()), static_cast<std::size_t>(n)) : "<none>";
}

TEST(Base64, EncodesAndDecodesWithPadding) {
    const struct {
        std::string bytes, text;
    } cases[] = {
        {"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
        {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {std::string("\0\xff\x10", 3), "AP8Q"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(b64(c.bytes), c.text);
        if (!c.text.empty()) {
            EXPECT_EQ(unb64(c.text), c.bytes) << c.text;
        }
    }
}

TEST(Base64, RefusesTextsItCannotDecode) {
    // Lengths that are not a multiple of four, and the empty text (nothing before its end to read).
    for (const std::string text : {"Zm9vY", "Zg=", "", "A"}) EXPECT_EQ(unb64(text), "<none>") << '"' << text << '"';
    // An exactly sized heap copy: decoding reads nothing outside it.
    auto exact = std::make_unique<char[]>(4);
    std::memcpy(exact.get(), "Zg==", 4);
    int n = 0;
    unsigned char* out = base64_decode(exact.get(), 4, &n);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(n, 1);
    std::free(out);
    EXPECT_EQ(base64_decode(exact.get(), 0, &n), nullptr);
}

TEST(KeyPrefix, KeyIsTakenFromThePrefix) {
    EXPECT_EQ(BE_DUZ_AES_get_key_from_prefix("!AES256CBC@global!abc"), GLOBAL);
    EXPECT_EQ(BE_DUZ_AES_get_key_from_prefix("!AES256GCM@local!abc"), LOCAL);
    EXPECT_EQ(BE_DUZ_AES_get_key_from_prefix("no prefix"), MAX_SCOPES);
    EXPECT_EQ(BE_DUZ_AES_get_key_from_prefix("a@x"), MAX_SCOPES);
}

TEST(KeyPrefix, AddAndRemoveLeaveTextsTheyDoNotApplyTo) {
    const struct {
        std::string text;
        int room;
        EncryptionKey scope;
        std::string added;
    } adds[] = {
        {"abc", 64, GLOBAL, "!AES256CBC@global!abc"},
        {"abc", 64, LOCAL, "!AES256GCM@local!abc"},
        {"a!bc", 64, GLOBAL, "a!bc"},
        {"", 64, GLOBAL, ""},
        {"abc", 21, LOCAL, "abc"},  // the global prefix's room is required for both scopes
        {"abc", 22, LOCAL, "!AES256GCM@local!abc"},
    };
    for (const auto& c : adds) {
        std::vector<char> buf(static_cast<std::size_t>(c.room), '\0');
        std::memcpy(buf.data(), c.text.c_str(), c.text.size() + 1);
        BE_DUZ_add_prefix(buf.data(), c.room, c.scope);
        EXPECT_EQ(std::string(buf.data()), c.added) << c.text << " in " << c.room;
    }
    const struct {
        std::string text, removed;
    } removes[] = {
        {"!AES256GCM@local!cipher", "cipher"},
        {"plain", "plain"},
        {"!open", "!open"},
        {"", ""},
    };
    for (const auto& c : removes) {
        std::string buf = c.text;
        BE_DUZ_remove_prefix(buf.data());
        EXPECT_EQ(std::string(buf.c_str()), c.removed);
    }
    char path[] = "a\\b\\c\nrest";
    EXPECT_STREQ(BE_DUZ_process_path(path), "a/b/c");
}

TEST_F(PasswordsTest, EncryptThenDecryptUnderEitherType) {
    for (const std::string type : {"aes", "AES", ""}) {
        use_agent(type);
        std::thread([&] {  // a fresh thread asks the agent for its type again
            for (const EncryptionKey key : {LOCAL, GLOBAL}) {
                const std::string stored = encrypted("s3cret pass", key);
                EXPECT_NE(stored, "s3cret pass");
                if (type == "aes") {
                    EXPECT_EQ(stored.rfind(key == GLOBAL ? BE_DUZ_GLOBAL_PREFIX : BE_DUZ_LOCAL_PREFIX, 0), 0u);
                } else {
                    EXPECT_EQ(stored.find('!'), std::string::npos) << "Blowfish text expected for '" << type << "'";
                }
                EXPECT_EQ(decrypted(stored, key), "s3cret pass");
                EXPECT_EQ(decrypted(stored, CHECK_PREFIX), "s3cret pass");
            }
            BE_DUZ_clean_encyption_info(&err);
        })
            .join();
    }
}

TEST_F(PasswordsTest, GlobalTextIsReadWithTheGlobalKeyOnlyAndRestoredUnderTheLocalOne) {
    const std::string global = encrypted("pw", GLOBAL);
    EXPECT_EQ(decrypted(global, LOCAL).rfind("<fails", 0), 0u);
    std::string text = decrypted(global, GLOBAL);
    ASSERT_EQ(text, "pw");
    ASSERT_EQ(encrypt(text, LOCAL), 0);
    EXPECT_EQ(text.rfind(BE_DUZ_LOCAL_PREFIX, 0), 0u);
    EXPECT_EQ(decrypted(text), "pw");
}

TEST_F(PasswordsTest, TypeIsAskedAgainUntilTheAgentAnswersThenKept) {
    home.write_file("temp/fixture.txt", "[orvagcpk]\nerr: not ready\nexit: 1\n");
    EXPECT_STREQ(BE_DUZ_get_encyption_type(&err), "");
    const std::string blowfish = encrypted("pw", LOCAL);
    EXPECT_EQ(blowfish.find('!'), std::string::npos);
    use_agent("aes");
    EXPECT_STREQ(BE_DUZ_get_encyption_type(&err), "aes");
    home.write_file("temp/fixture.txt", "[orvagcpk]\nout: Encryption type : blowfish\n");
    EXPECT_STREQ(BE_DUZ_get_encyption_type(&err), "aes");
    const std::string log = calls();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
}

TEST_F(PasswordsTest, EncryptionWithoutContextFailsAndKeepsTheContextError) {
    setenv("APPBRIDGE_ORVSECURE_FAIL", "init", 1);
    std::string text = "pw";
    EXPECT_NE(encrypt(text, LOCAL), 0);
    EXPECT_EQ(text, "pw");
    EXPECT_NE(std::string(err.text).find("Error result from OrvStringEncryptors_init"), std::string::npos) << err.text;
    EXPECT_EQ(err.code, 8u);
    EXPECT_EQ(BE_DUZ_get_encyption_module(1, &err), nullptr);
    unsetenv("APPBRIDGE_ORVSECURE_FAIL");
    EXPECT_EQ(encrypt(text, LOCAL), 0);  // the next call tries again
}

TEST_F(PasswordsTest, LibraryFailureCarriesItsCodeAndText) {
    const std::string stored = encrypted("pw", LOCAL);
    std::string tampered = stored;
    tampered[tampered.size() - 3] = tampered[tampered.size() - 3] == 'A' ? 'B' : 'A';
    EXPECT_EQ(decrypted(tampered).rfind("<fails: CM for OEBS: ", 0), 0u);
    EXPECT_EQ(err.code, 6u);
    EXPECT_NE(std::string(err.text).find("Encryption lib error msg : "), std::string::npos);
    int len = 10;
    EXPECT_EQ(BE_DUZ_encrypt_aes(nullptr, "AES256GCM", "local", tampered.data(), &len, &err), -1);
    EXPECT_EQ(BE_DUZ_decrypt_aes(stored.c_str(), "AES256GCM", "local", nullptr, &len, &err), -1);
}

TEST_F(PasswordsTest, DecryptionNeverWritesPastTheOutput) {
    const std::string stored = encrypted("12345678", LOCAL);
    for (const int room : {8, 9}) {  // 8: no room for the terminator
        auto out = std::make_unique<char[]>(static_cast<std::size_t>(room));
        int len = room;
        const ZPARC rc = BE_DUZ_decrypt_aes_local(stored.c_str(), out.get(), &len, &err);
        if (room == 8) {
            EXPECT_NE(rc, 0);
        } else {
            ASSERT_EQ(rc, 0) << err.text;
            EXPECT_STREQ(out.get(), "12345678");
            EXPECT_EQ(len, 8);
        }
    }
}

TEST_F(PasswordsTest, TermReleasesTheThreadContextAndALaterUseMakesANewOne) {
    EXPECT_EQ(BE_DUZ_clean_encyption_info(&err), 0);  // nothing to clean yet
    const std::string stored = encrypted("pw", LOCAL);
    ORVSECU_ctx* first = BE_DUZ_get_encyption_module(1, &err);
    ASSERT_NE(first, nullptr);
    ORVSECU_ctx* other_thread = first;
    std::thread([&] { other_thread = BE_DUZ_get_encyption_module(1, &err); }).join();
    EXPECT_EQ(other_thread, nullptr);
    EXPECT_EQ(BE_DUZ_clean_encyption_info(&err), 0);
    EXPECT_EQ(BE_DUZ_get_encyption_module(1, &err), nullptr);
    EXPECT_EQ(decrypted(stored), "pw");
    EXPECT_NE(BE_DUZ_get_encyption_module(1, &err), nullptr);
}

}  // namespace
