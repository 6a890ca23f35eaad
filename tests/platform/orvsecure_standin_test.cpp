// The string-encryption library: contexts from a key-aliases file, prefixed printable cipher
// text, keys that do not open each other's text, bounded outputs, provoked failures and the
// explicit-key calls of a key change.
#include "orvsecure.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "testbed.h"

namespace {

class OrvsecureTest : public testbed::AgentHomeTest {
protected:
    void TearDown() override {
        for (ORVSECU_ctx* ctx : contexts_) std::free(ctx);
        unsetenv("APPBRIDGE_ORVSECURE_FAIL");
    }

    // Writes a key-aliases file whose aliases name key files holding the given materials.
    std::string write_keys(const std::string& name, const std::vector<std::pair<std::string, std::string>>& keys) {
        std::string aliases = "# alias = key file\n\n";
        for (const auto& [alias, material] : keys) {
            home.write_file(name + "/" + alias + ".key", material + "\n");
            aliases += alias + " = " + alias + ".key\n";
        }
        home.write_file(name + "/aliases.txt", aliases);
        return home.path() + "/" + name + "/aliases.txt";
    }

    ORVSECU_ctx* context(const std::string& aliases_file) {
        ORVSECU_ctx* ctx = nullptr;
        int rc = OrvStringEncryptors_init(&ctx, 0, aliases_file.c_str());
        contexts_.push_back(ctx);
        EXPECT_EQ(rc, 0) << (ctx ? ctx->error_msg : "no context");
        return ctx;
    }

    ORVSECU_ctx* standard_context() {
        return context(write_keys("keys", {{"local", "local material"}, {"global", "global material"}}));
    }

    static std::string encrypt(ORVSECU_ctx* ctx, const std::string& plain, const char* cipher, const char* key,
                               int with_prefix = 1) {
        std::vector<char> out(4096);
        int len = static_cast<int>(out.size());
        int rc = OrvStringEncryptors_encrypt(ctx, plain.data(), static_cast<int>(plain.size()), cipher, key, out.data(),
                                             &len, with_prefix);
        EXPECT_EQ(rc, 0) << ctx->error_msg;
        EXPECT_EQ(std::strlen(out.data()), static_cast<size_t>(len));
        return std::string(out.data(), static_cast<size_t>(len));
    }

    // Decrypts; returns the result code and puts the plain text into plain.
    static int decrypt(ORVSECU_ctx* ctx, const std::string& text, const char* cipher, const char* key,
                       std::string& plain) {
        std::vector<char> out(4096);
        int len = static_cast<int>(out.size());
        int rc =
            OrvStringEncryptors_decrypt(ctx, text.data(), static_cast<int>(text.size()), out.data(), &len, cipher, key);
        plain = rc == 0 ? std::string(out.data(), static_cast<size_t>(len)) : std::string();
        return rc;
    }

private:
    std::vector<ORVSECU_ctx*> contexts_;
};

bool printable(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x21 || c > 0x7e) return false;
    return true;
}

TEST_F(OrvsecureTest, InitReadsKeyAliasesAndDescribesTheLibrary) {
    ORVSECU_ctx* ctx = standard_context();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(ctx->key_aliases_num, 2);
    EXPECT_STREQ(ctx->key_aliases_list[0].alias, "local");
    EXPECT_EQ(std::string(ctx->key_aliases_list[0].path), home.path() + "/keys/local.key");
    EXPECT_STREQ(ctx->key_aliases_list[1].alias, "global");
    ASSERT_EQ(ctx->cipher_alias_num, 2);
    EXPECT_STREQ(ctx->cipher_alias_list[0].cipher, "AES256CBC");
    EXPECT_EQ(ctx->cipher_alias_list[0].strenth, 256);
    EXPECT_STREQ(ctx->cipher_alias_list[1].cipher, "AES256GCM");
    EXPECT_NE(std::string(ctx->ssl_version), "");
    EXPECT_STREQ(ctx->error_msg, "");
}

TEST_F(OrvsecureTest, TextsRoundTripWithTheirKeyPrefixAndStayPrintable) {
    ORVSECU_ctx* ctx = standard_context();
    struct Case {
        const char* cipher;
        const char* key;
        const char* prefix;
    };
    const Case cases[] = {{"AES256GCM", "local", "!AES256GCM@local!"}, {"AES256CBC", "global", "!AES256CBC@global!"}};
    const std::string plains[] = {"", "x", "sixteen chars!!!", "p@ss w0rd! with = and \"quotes\"",
                                  std::string(1500, 'L')};
    for (const Case& c : cases) {
        for (const std::string& plain : plains) {
            SCOPED_TRACE(std::string(c.cipher) + " plain of " + std::to_string(plain.size()));
            std::string text = encrypt(ctx, plain, c.cipher, c.key);
            EXPECT_EQ(text.rfind(c.prefix, 0), 0u) << text;
            EXPECT_TRUE(printable(text)) << text;
            EXPECT_NE(encrypt(ctx, plain, c.cipher, c.key), text) << "a fresh IV for each text";
            std::string back;
            ASSERT_EQ(decrypt(ctx, text, c.cipher, c.key, back), 0) << ctx->error_msg;
            EXPECT_EQ(back, plain);
            std::string bare = encrypt(ctx, plain, c.cipher, c.key, 0);
            EXPECT_EQ(bare.find('!'), std::string::npos);
            ASSERT_EQ(decrypt(ctx, bare, c.cipher, c.key, back), 0) << ctx->error_msg;
            EXPECT_EQ(back, plain);
        }
    }
}

TEST_F(OrvsecureTest, EncryptAndDecryptWorkInPlaceInOneBuffer) {
    ORVSECU_ctx* ctx = standard_context();
    char buf[2048] = "secret password";
    int len = sizeof buf;
    ASSERT_EQ(
        OrvStringEncryptors_encrypt(ctx, buf, static_cast<int>(std::strlen(buf)), "AES256GCM", "local", buf, &len, 1),
        0)
        << ctx->error_msg;
    EXPECT_EQ(std::string(buf, 17), "!AES256GCM@local!");
    int text_len = len;
    len = sizeof buf;
    ASSERT_EQ(OrvStringEncryptors_decrypt(ctx, buf, text_len, buf, &len, "AES256GCM", "local"), 0) << ctx->error_msg;
    EXPECT_EQ(len, 15);
    EXPECT_STREQ(buf, "secret password");
}

TEST_F(OrvsecureTest, TextMadeUnderOneKeyDoesNotDecryptUnderAnother) {
    ORVSECU_ctx* ctx = standard_context();
    ORVSECU_ctx* other = context(write_keys("other", {{"local", "another local"}, {"global", "another global"}}));
    struct Case {
        const char* name;
        ORVSECU_ctx* decrypting;
        const char* cipher;
        const char* key;
        const char* made_cipher;
        const char* made_key;
    };
    const Case cases[] = {
        {"GCM text, other material for the same alias", other, "AES256GCM", "local", "AES256GCM", "local"},
        {"CBC text, other material for the same alias", other, "AES256CBC", "global", "AES256CBC", "global"},
        {"global text asked for with the local key", ctx, "AES256CBC", "local", "AES256CBC", "global"},
        {"GCM text asked for as CBC", ctx, "AES256CBC", "local", "AES256GCM", "local"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int with_prefix : {1, 0}) {
            std::string text = encrypt(ctx, "the password", c.made_cipher, c.made_key, with_prefix);
            std::string plain;
            int rc = decrypt(c.decrypting, text, c.cipher, c.key, plain);
            EXPECT_NE(rc, 0) << "with_prefix " << with_prefix;
            EXPECT_EQ(plain, "");
            EXPECT_NE(std::string(c.decrypting->error_msg), "");
        }
    }
}

TEST_F(OrvsecureTest, AlteredOrForeignTextIsRefused) {
    ORVSECU_ctx* ctx = standard_context();
    std::string gcm = encrypt(ctx, "the password", "AES256GCM", "local");
    std::string cbc = encrypt(ctx, "the password", "AES256CBC", "global");
    auto flip = [](std::string text, size_t pos) {
        text[pos] = text[pos] == 'A' ? 'B' : 'A';
        return text;
    };
    struct Case {
        const char* name;
        std::string text;
        const char* cipher;
        const char* key;
        int code;
    };
    const Case cases[] = {
        {"GCM body changed", flip(gcm, 30), "AES256GCM", "local", ORVSECU_ERR_AUTH},
        {"CBC body changed", flip(cbc, 40), "AES256CBC", "global", ORVSECU_ERR_AUTH},
        // An IV change alone would only change the first plain bytes: the text's check finds it.
        {"GCM IV changed", flip(gcm, 19), "AES256GCM", "local", ORVSECU_ERR_AUTH},
        {"CBC IV changed", flip(cbc, 20), "AES256CBC", "global", ORVSECU_ERR_AUTH},
        {"CBC cut short", cbc.substr(0, cbc.size() - 4), "AES256CBC", "global", ORVSECU_ERR_FORMAT},
        {"plain text", "not encrypted", "AES256GCM", "local", ORVSECU_ERR_FORMAT},
        {"prefix without end", "!AES256GCM@local", "AES256GCM", "local", ORVSECU_ERR_FORMAT},
        {"prefix only", "!AES256GCM@local!", "AES256GCM", "local", ORVSECU_ERR_FORMAT},
        {"unknown key alias", gcm, "AES256GCM", "remote", ORVSECU_ERR_UNKNOWN_ALIAS},
        {"unknown cipher alias", gcm, "AES128GCM", "local", ORVSECU_ERR_UNKNOWN_ALIAS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string plain;
        EXPECT_EQ(decrypt(ctx, c.text, c.cipher, c.key, plain), c.code) << ctx->error_msg;
        EXPECT_NE(std::string(ctx->error_msg), "");
    }
}

TEST_F(OrvsecureTest, OutputsNeverPassTheirBuffer) {
    ORVSECU_ctx* ctx = standard_context();
    const std::string plain = "0123456789abcdef0123";
    std::string text = encrypt(ctx, plain, "AES256GCM", "local");
    const char canary = '#';

    // Encryption needs the text and its terminator; one byte less fails untouched.
    std::vector<char> out(text.size() + 8, canary);
    int len = static_cast<int>(text.size());
    EXPECT_EQ(OrvStringEncryptors_encrypt(ctx, plain.data(), static_cast<int>(plain.size()), "AES256GCM", "local",
                                          out.data(), &len, 1),
              ORVSECU_ERR_BUFFER);
    EXPECT_EQ(out[0], canary);
    len = static_cast<int>(text.size()) + 1;
    EXPECT_EQ(OrvStringEncryptors_encrypt(ctx, plain.data(), static_cast<int>(plain.size()), "AES256GCM", "local",
                                          out.data(), &len, 1),
              0);
    EXPECT_EQ(out[text.size() + 1], canary);

    // Decryption needs room for the plain bytes and a terminator.
    std::vector<char> back(plain.size() + 8, canary);
    len = static_cast<int>(plain.size());
    EXPECT_EQ(OrvStringEncryptors_decrypt(ctx, text.data(), static_cast<int>(text.size()), back.data(), &len,
                                          "AES256GCM", "local"),
              ORVSECU_ERR_BUFFER);
    EXPECT_EQ(back[0], canary);
    len = static_cast<int>(plain.size()) + 1;
    ASSERT_EQ(OrvStringEncryptors_decrypt(ctx, text.data(), static_cast<int>(text.size()), back.data(), &len,
                                          "AES256GCM", "local"),
              0);
    EXPECT_EQ(std::string(back.data()), plain);
    EXPECT_EQ(back[plain.size() + 1], canary);
}

TEST_F(OrvsecureTest, FailedInitLeavesAContextThatSaysWhy) {
    home.write_file("k/good.key", "material\n");
    home.write_file("k/empty.key", "\n");
    struct Case {
        const char* name;
        const char* aliases;  // content of k/aliases.txt, or null for no file
        const char* reason;   // part of error_msg
    };
    const Case cases[] = {
        {"missing file", nullptr, "cannot open key-aliases file"},
        {"line without key file", "local\n", "line 1"},
        {"alias with a bang", "lo!cal = good.key\n", "line 1"},
        {"key file missing", "local = good.key\nglobal = none.key\n", "none.key"},
        {"empty key file", "local = empty.key\n", "is empty"},
        {"alias twice", "local = good.key\nlocal = good.key\n", "twice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove((home.path() + "/k/aliases.txt").c_str());
        if (c.aliases) home.write_file("k/aliases.txt", c.aliases);
        ORVSECU_ctx* ctx = nullptr;
        EXPECT_NE(OrvStringEncryptors_init(&ctx, 0, (home.path() + "/k/aliases.txt").c_str()), 0);
        ASSERT_NE(ctx, nullptr);
        EXPECT_NE(std::string(ctx->error_msg).find(c.reason), std::string::npos) << ctx->error_msg;
        EXPECT_EQ(std::string(ctx->error_msg).find("material"), std::string::npos);
        std::free(ctx);  // the plug-in releases a failed context with free
    }
}

TEST_F(OrvsecureTest, ProvokedFailuresAffectOnlyTheNamedOperations) {
    ORVSECU_ctx* ctx = nullptr;
    std::string aliases = write_keys("keys", {{"local", "m"}});
    setenv("APPBRIDGE_ORVSECURE_FAIL", "init", 1);
    EXPECT_EQ(OrvStringEncryptors_init(&ctx, 0, aliases.c_str()), ORVSECU_ERR_PROVOKED);
    ASSERT_NE(ctx, nullptr);
    EXPECT_NE(std::string(ctx->error_msg), "");
    std::free(ctx);
    ctx = nullptr;

    setenv("APPBRIDGE_ORVSECURE_FAIL", "encrypt,cleanup", 1);
    ASSERT_EQ(OrvStringEncryptors_init(&ctx, 0, aliases.c_str()), 0);
    char out[512];
    int len = sizeof out;
    EXPECT_EQ(OrvStringEncryptors_encrypt(ctx, "pw", 2, "AES256GCM", "local", out, &len, 1), ORVSECU_ERR_PROVOKED);
    EXPECT_NE(std::string(ctx->error_msg).find("APPBRIDGE_ORVSECURE_FAIL"), std::string::npos);
    unsetenv("APPBRIDGE_ORVSECURE_FAIL");
    std::string text = encrypt(ctx, "pw", "AES256GCM", "local");
    setenv("APPBRIDGE_ORVSECURE_FAIL", "encrypt,cleanup", 1);
    std::string plain;
    EXPECT_EQ(decrypt(ctx, text, "AES256GCM", "local", plain), 0);
    EXPECT_EQ(plain, "pw");
    // A failed clean-up still releases the context, so a caller that drops its pointer leaks nothing.
    EXPECT_EQ(OrvStringEncryptors_cleanup(&ctx), ORVSECU_ERR_PROVOKED);
    EXPECT_EQ(ctx, nullptr);
}

TEST_F(OrvsecureTest, CleanupReleasesTheContextAndClearsThePointer) {
    ORVSECU_ctx* ctx = nullptr;
    ASSERT_EQ(OrvStringEncryptors_init(&ctx, 0, write_keys("keys", {{"local", "m"}}).c_str()), 0);
    EXPECT_EQ(OrvStringEncryptors_cleanup(&ctx), 0);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_NE(OrvStringEncryptors_cleanup(&ctx), 0);
    EXPECT_NE(OrvStringEncryptors_cleanup(nullptr), 0);
}

TEST_F(OrvsecureTest, KeyChangeMovesATextFromTheOldKeyMaterialToTheNew) {
    const std::string old_key = "old local key material";
    const std::string new_key = "new local key material";
    ORVSECU_ctx* before = context(write_keys("before", {{"local", old_key}}));
    ORVSECU_ctx* after = context(write_keys("after", {{"local", new_key}}));
    std::string stored = encrypt(before, "db password", "AES256GCM", "local");

    char plain[2048] = {};
    int plain_len = sizeof plain;
    ASSERT_EQ(OrvStringEncryptors_decrypt_with_iv_and_key(
                  before, stored.data(), static_cast<int>(stored.size()), plain, &plain_len, nullptr, 0, "AES256GCM",
                  old_key.data(), static_cast<int>(old_key.size()), old_key.data(), static_cast<int>(old_key.size())),
              0)
        << before->error_msg;
    EXPECT_EQ(std::string(plain, static_cast<size_t>(plain_len)), "db password");

    char text[2048] = {};
    int text_len = sizeof text;
    ASSERT_EQ(OrvStringEncryptors_encrypt_with_iv_and_key(before, plain, plain_len, "AES256GCM", new_key.data(),
                                                          static_cast<int>(new_key.size()), text, &text_len, nullptr, 0,
                                                          "local"),
              0)
        << before->error_msg;
    EXPECT_EQ(std::string(text).rfind("!AES256GCM@local!", 0), 0u);
    std::string back;
    ASSERT_EQ(decrypt(after, text, "AES256GCM", "local", back), 0) << after->error_msg;
    EXPECT_EQ(back, "db password");
    EXPECT_NE(decrypt(before, text, "AES256GCM", "local", back), 0);

    // The wrong old key, or CBC text checked with another integrity key, is refused.
    plain_len = sizeof plain;
    EXPECT_EQ(OrvStringEncryptors_decrypt_with_iv_and_key(
                  before, stored.data(), static_cast<int>(stored.size()), plain, &plain_len, nullptr, 0, "AES256GCM",
                  new_key.data(), static_cast<int>(new_key.size()), new_key.data(), static_cast<int>(new_key.size())),
              ORVSECU_ERR_AUTH);
    text_len = sizeof text;
    ASSERT_EQ(OrvStringEncryptors_encrypt_with_iv_and_key(before, "pw", 2, "AES256CBC", old_key.data(),
                                                          static_cast<int>(old_key.size()), text, &text_len, nullptr, 0,
                                                          "global"),
              0);
    plain_len = sizeof plain;
    EXPECT_EQ(OrvStringEncryptors_decrypt_with_iv_and_key(before, text, text_len, plain, &plain_len, nullptr, 0,
                                                          "AES256CBC", old_key.data(), static_cast<int>(old_key.size()),
                                                          new_key.data(), static_cast<int>(new_key.size())),
              ORVSECU_ERR_AUTH);
}

TEST_F(OrvsecureTest, GivenIvIsUsedAndChecked) {
    ORVSECU_ctx* ctx = standard_context();
    const std::string key = "k";
    const char iv[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    char text[512];
    int text_len = sizeof text;
    ASSERT_EQ(OrvStringEncryptors_encrypt_with_iv_and_key(ctx, "pw", 2, "AES256GCM", key.data(), 1, text, &text_len, iv,
                                                          12, "local"),
              0);
    EXPECT_STREQ(ctx->last_iv, "0102030405060708090a0b0c");
    char plain[64];
    int plain_len = sizeof plain;
    EXPECT_EQ(OrvStringEncryptors_decrypt_with_iv_and_key(ctx, text, text_len, plain, &plain_len, iv, 12, "AES256GCM",
                                                          key.data(), 1, key.data(), 1),
              0);
    const char other_iv[12] = {};
    plain_len = sizeof plain;
    EXPECT_NE(OrvStringEncryptors_decrypt_with_iv_and_key(ctx, text, text_len, plain, &plain_len, other_iv, 12,
                                                          "AES256GCM", key.data(), 1, key.data(), 1),
              0);
    text_len = sizeof text;
    EXPECT_EQ(OrvStringEncryptors_encrypt_with_iv_and_key(ctx, "pw", 2, "AES256GCM", key.data(), 1, text, &text_len, iv,
                                                          8, "local"),
              ORVSECU_ERR_ARGUMENT);
}

}  // namespace
