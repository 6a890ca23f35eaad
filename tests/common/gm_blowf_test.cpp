// Blowfish: the cipher against the published vectors and an independent implementation, the
// decimal text form, and the value routines with their limits and failure guarantees.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "gm_blowf.h"
#include "os_blowf.h"
#include "testbed.h"

namespace {

std::vector<unsigned char> from_hex(const std::string& hex) {
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::uint32_t be32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::vector<unsigned char> random_bytes(std::mt19937& rng, std::size_t n) {
    std::vector<unsigned char> v(n);
    for (auto& b : v) b = static_cast<unsigned char>(rng());
    return v;
}

std::string encrypted(const std::string& value, int max_len = 2048) {
    std::vector<char> buf(static_cast<std::size_t>(max_len), '\0');
    std::memcpy(buf.data(), value.c_str(), value.size() + 1);
    EXPECT_EQ(GM_BLOWF_encrypt(buf.data(), max_len), CM_RC_OK) << value;
    return buf.data();
}

// The text form of a value under a key, made through the cipher layer's own context pair (no key
// schedule kept between calls): what the value routines must give.
std::string through_contexts(const std::string& value, const unsigned char* key) {
    std::vector<unsigned char> bytes((value.size() + 7) / 8 * 8, 0);
    std::memcpy(bytes.data(), value.data(), value.size());
    void* pair = blowfish_ssh1_make_context();
    blowfish_sesskey(pair, key);
    blowfish_ssh1_encrypt_blk(pair, bytes.data(), static_cast<int>(bytes.size()));
    blowfish_free_context(pair);
    std::vector<char> text(4 * bytes.size() + 1, '\0');
    EXPECT_EQ(blowfish_tostr(bytes.data(), static_cast<int>(bytes.size()), text.data(), static_cast<int>(text.size())),
              0);
    return text.data();
}

struct KeyBuffer {
    unsigned char* key = GM_BLOWF_init_key();
    ~KeyBuffer() { std::free(key); }
};

}  // namespace

// Published test vectors: key, plain block, cipher block (each block as two big-endian words).
TEST(BlowfishCipher, EncryptsThePublishedVectors) {
    struct Vector {
        const char* key;
        const char* plain;
        const char* cipher;
    };
    const Vector vectors[] = {
        {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
        {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
        {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
        {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
        {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
        {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
        {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
        {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
        // variable key length: the key bytes are taken cyclically
        {"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
        {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080"},
    };
    BlowfishContext ctx;
    for (const auto& v : vectors) {
        const auto key = from_hex(v.key), plain = from_hex(v.plain), cipher = from_hex(v.cipher);
        blowfish_setkey(&ctx, key.data(), static_cast<short>(key.size()));
        std::uint32_t out[2], back[2];
        blowfish_encrypt(be32(plain.data()), be32(plain.data() + 4), out, &ctx);
        EXPECT_EQ(out[0], be32(cipher.data())) << v.key;
        EXPECT_EQ(out[1], be32(cipher.data() + 4)) << v.key;
        blowfish_decrypt(out[0], out[1], back, &ctx);
        EXPECT_EQ(back[0], be32(plain.data())) << v.key;
        EXPECT_EQ(back[1], be32(plain.data() + 4)) << v.key;
    }
}

// The big-endian CBC of a single context (16-byte key, chaining value from 8 bytes) is plain
// Blowfish-CBC and must agree with an independent implementation on random data.
TEST(BlowfishCipher, BigEndianCbcAgreesWithAnIndependentImplementation) {
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        const auto key = random_bytes(rng, 16), iv = random_bytes(rng, 8);
        const auto plain = random_bytes(rng, 8 * (1 + round));

        void* ctx = blowfish_make_context();
        ASSERT_NE(ctx, nullptr);
        blowfish_key(ctx, key.data());
        blowfish_iv(ctx, iv.data());
        auto ours = plain;
        blowfish_ssh2_encrypt_blk(ctx, ours.data(), static_cast<int>(ours.size()));

        BF_KEY ref_key;
        BF_set_key(&ref_key, 16, key.data());
        auto ref_iv = iv;
        std::vector<unsigned char> ref(plain.size());
        BF_cbc_encrypt(plain.data(), ref.data(), static_cast<long>(plain.size()), &ref_key, ref_iv.data(), BF_ENCRYPT);
        EXPECT_EQ(ours, ref);

        blowfish_iv(ctx, iv.data());
        blowfish_ssh2_decrypt_blk(ctx, ours.data(), static_cast<int>(ours.size()));
        EXPECT_EQ(ours, plain);
        blowfish_free_context(ctx);
    }
}

// The value form reads each 32-bit word least significant byte first: the same as the
// big-endian CBC over data whose words are byte-reversed. Chaining starts at zero.
TEST(BlowfishCipher, LittleEndianCbcIsBigEndianCbcOverByteReversedWords) {
    std::mt19937 rng(11);
    const auto key = random_bytes(rng, 32);
    const auto plain = random_bytes(rng, 64);
    auto swapped = [](std::vector<unsigned char> v) {
        for (std::size_t i = 0; i < v.size(); i += 4) std::swap(v[i], v[i + 3]), std::swap(v[i + 1], v[i + 2]);
        return v;
    };

    BlowfishContext lsb, msb;
    blowfish_setkey(&lsb, key.data(), 32);
    lsb.iv0 = lsb.iv1 = 0;
    msb = lsb;
    auto a = plain, b = swapped(plain);
    blowfish_lsb_encrypt_cbc(a.data(), 64, &lsb);
    blowfish_msb_encrypt_cbc(b.data(), 64, &msb);
    EXPECT_EQ(a, swapped(b));
    EXPECT_NE(std::vector<unsigned char>(a.begin(), a.begin() + 8),
              std::vector<unsigned char>(a.begin() + 8, a.begin() + 16));

    void* pair = blowfish_ssh1_make_context();
    blowfish_sesskey(pair, key.data());
    auto c = plain;
    blowfish_ssh1_encrypt_blk(pair, c.data(), 64);
    EXPECT_EQ(c, a);
    blowfish_ssh1_decrypt_blk(pair, c.data(), 64);
    EXPECT_EQ(c, plain);
    blowfish_free_context(pair);
}

TEST(BlowfishText, EachByteIsFourCharactersOfItsSignedValue) {
    const unsigned char bytes[] = {0x41, 0xF4, 0x80, 0x00, 0x7F, 0xFF};
    char text[64] = {};
    ASSERT_EQ(blowfish_tostr(bytes, 6, text, sizeof text), 0);
    EXPECT_STREQ(text, "00650-12-1280000012700-1");

    unsigned char back[6] = {};
    ASSERT_EQ(blowfish_fromstr(text, back, sizeof back), 0);
    EXPECT_EQ(std::memcmp(back, bytes, 6), 0);
}

TEST(BlowfishText, RefusesOutputsThatAreTooSmall) {
    const unsigned char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    char text[33];
    EXPECT_EQ(blowfish_tostr(bytes, 8, text, 32), 1);  // 32 characters leave no room for the end
    EXPECT_EQ(blowfish_tostr(bytes, 8, text, 33), 0);
    unsigned char out[2];
    EXPECT_EQ(blowfish_fromstr("000100020003", out, 2), 1);
}

TEST(BlowfishValue, RoundTripsValuesOfEveryLengthClass) {
    const std::string values[] = {"",
                                  "a",
                                  "12345678",
                                  "123456789",
                                  "pass word with blanks & ; $HOME",
                                  std::string(200, 'x'),
                                  std::string(511, 'y')};
    for (const auto& value : values) {
        std::vector<char> buf(4096, '\0');
        std::memcpy(buf.data(), value.c_str(), value.size() + 1);
        ASSERT_EQ(GM_BLOWF_encrypt(buf.data(), 4096), CM_RC_OK) << value.size();
        const std::size_t blocks = value.empty() ? 2 : (value.size() + 7) / 8;
        EXPECT_EQ(std::strlen(buf.data()), 32 * blocks) << value.size();
        EXPECT_NE(std::string(buf.data()), value);
        ASSERT_EQ(GM_BLOWF_decrypt(buf.data(), 4096), CM_RC_OK) << value.size();
        EXPECT_EQ(std::string(buf.data()), value);
    }
}

TEST(BlowfishValue, SameValueGivesSameTextAndDefaultKeyTextIsStable) {
    EXPECT_EQ(encrypted("secret"), encrypted("secret"));
    // Stored values depend on the built-in key and the text form never changing.
    EXPECT_EQ(encrypted(""), encrypted(GM_BLOWF_EMPTY_MARKER));
    EXPECT_EQ(encrypted("").size(), 64u);
    EXPECT_EQ(encrypted("secret"), "0108009600020-3601110-360-820016");
}

TEST(BlowfishValue, EncryptLimitsFollowTheBufferSize) {
    struct Case {
        std::size_t length;
        int max_len;
        CM_RC rc;
    };
    const Case cases[] = {
        {0, 2048, CM_RC_OK},      {0, 64, CM_RC_FAIL},      // marker: 64 characters and the terminator
        {16, 64, CM_RC_FAIL},     {16, 65, CM_RC_OK},       // 64 characters fit only with room for the end
        {17, 64, CM_RC_FAIL},     {17, 68, CM_RC_FAIL},     // longer than max_len / 4; then 96 characters
        {512, 4096, CM_RC_OK},    {513, 4096, CM_RC_FAIL},  // 2048 characters is the most text made
        {1500, 8192, CM_RC_FAIL},
    };
    for (const auto& c : cases) {
        const std::string value(c.length, 'v');
        std::vector<char> buf(static_cast<std::size_t>(std::max(c.max_len, 2048)), '\0');
        std::memcpy(buf.data(), value.c_str(), value.size() + 1);
        EXPECT_EQ(GM_BLOWF_encrypt(buf.data(), c.max_len), c.rc) << c.length << "/" << c.max_len;
        if (c.rc == CM_RC_FAIL) {
            EXPECT_EQ(std::string(buf.data()), value) << c.length << "/" << c.max_len;
        }
    }
}

TEST(BlowfishValue, FailedEncryptOfEmptyValueLeavesItEmpty) {
    char buf[64] = "";
    EXPECT_EQ(GM_BLOWF_encrypt(buf, sizeof buf), CM_RC_FAIL);
    EXPECT_STREQ(buf, "");
}

TEST(BlowfishValue, TextThatDoesNotDecryptLeavesTheBufferUnchanged) {
    const std::string good = encrypted("0123456789abcdefXY");  // 24 bytes, 96 characters
    struct Case {
        std::string text;
        int size;
        const char* why;
    };
    const Case cases[] = {
        {std::string(40, '1'), 128, "ten bytes are not whole blocks"},
        {good.substr(0, 95), 128, "a character short"},
        {std::string(8196, '0'), 8200, "longer than the working buffer"},
    };
    for (const auto& c : cases) {
        std::vector<char> buf(static_cast<std::size_t>(c.size), '\0');
        std::memcpy(buf.data(), c.text.data(), std::min(c.text.size(), buf.size() - 1));
        const std::vector<char> before = buf;
        EXPECT_EQ(GM_BLOWF_decrypt(buf.data(), c.size), CM_RC_FAIL) << c.why;
        EXPECT_EQ(buf, before) << c.why;
        EXPECT_EQ(blowfish_decrypt_str(buf.data(), c.size), 1) << c.why;
    }
    std::vector<char> fits(good.begin(), good.end());
    fits.resize(97, '\0');
    EXPECT_EQ(blowfish_decrypt_str(fits.data(), 97), 0);
    EXPECT_STREQ(fits.data(), "0123456789abcdefXY");
}

TEST(BlowfishValue, UnterminatedBufferIsRefusedNotOverread) {
    std::vector<char> buf(64, '1');  // no terminator inside the stated size
    EXPECT_EQ(GM_BLOWF_decrypt(buf.data(), 64), CM_RC_FAIL);
    EXPECT_EQ(GM_BLOWF_encrypt(buf.data(), 64), CM_RC_FAIL);
    EXPECT_EQ(std::string(buf.begin(), buf.end()), std::string(64, '1'));
}

TEST(BlowfishValue, ExplicitKeyDiffersFromDefaultAndRoundTrips) {
    unsigned char key[GM_BLOWF_KEY_LEN];
    std::memset(key, 'k', sizeof key);
    char buf[256] = "value";
    ASSERT_EQ(GM_BLOWF_encrypt_with_key(buf, sizeof buf, key), CM_RC_OK);
    EXPECT_NE(std::string(buf), encrypted("value"));
    char copy[256];
    std::memcpy(copy, buf, sizeof buf);
    EXPECT_EQ(GM_BLOWF_decrypt(copy, sizeof copy), CM_RC_OK);  // decrypts, but to other bytes
    EXPECT_STRNE(copy, "value");
    ASSERT_EQ(GM_BLOWF_decrypt_with_key(buf, sizeof buf, key), CM_RC_OK);
    EXPECT_STREQ(buf, "value");
}

// Keys taken in turn, the built-in one among them: each value is encrypted under the key it is
// given, whatever key came before.
TEST(BlowfishValue, KeysTakenInTurnEachGiveTheirOwnText) {
    KeyBuffer def;
    unsigned char first[GM_BLOWF_KEY_LEN], second[GM_BLOWF_KEY_LEN];
    std::memset(first, 'a', sizeof first);
    std::memset(second, 'a', sizeof second);
    second[GM_BLOWF_KEY_LEN - 1] = 'b';  // differs in its last byte only
    const unsigned char* turns[] = {first, second, first, def.key, second, def.key, first};
    for (const unsigned char* key : turns) {
        char buf[256] = "0123456789abcdefXY";
        ASSERT_EQ(GM_BLOWF_encrypt_with_key(buf, sizeof buf, key), CM_RC_OK);
        EXPECT_EQ(std::string(buf), through_contexts("0123456789abcdefXY", key));
        ASSERT_EQ(GM_BLOWF_decrypt_with_key(buf, sizeof buf, key), CM_RC_OK);
        EXPECT_STREQ(buf, "0123456789abcdefXY");
    }
}

// Threads of the plug-in encrypt and decrypt at once, each changing between two keys, so that the
// key schedules kept for them are replaced while others use them.
TEST(BlowfishValue, ThreadsChangingKeysAtOnceEachGetTheirOwnText) {
    KeyBuffer def;
    unsigned char keys[3][GM_BLOWF_KEY_LEN];
    for (int k = 0; k < 3; ++k) std::memset(keys[k], 'k' + k, GM_BLOWF_KEY_LEN);
    const unsigned char* all[] = {keys[0], keys[1], keys[2], def.key};
    std::vector<std::string> expected;
    for (const unsigned char* key : all) expected.push_back(through_contexts("threaded value", key));
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                const int k = (t + i) % 4;
                char buf[256] = "threaded value";
                if (GM_BLOWF_encrypt_with_key(buf, sizeof buf, all[k]) != CM_RC_OK || buf != expected[k] ||
                    GM_BLOWF_decrypt_with_key(buf, sizeof buf, all[k]) != CM_RC_OK ||
                    std::strcmp(buf, "threaded value") != 0)
                    ++wrong[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(BlowfishKey, DefaultKeyIsInForceUntilAKeyIsLoaded) {
    KeyBuffer def;
    ASSERT_NE(def.key, nullptr);
    unsigned char current[GM_BLOWF_KEY_LEN];
    ASSERT_EQ(OS_BLOWF_GetCurrentKey(current, GM_BLOWF_KEY_LEN), CM_RC_OK);
    EXPECT_EQ(std::memcmp(current, def.key, GM_BLOWF_KEY_LEN), 0);
    EXPECT_EQ(GM_BLOWF_is_default_key(), 1);

    char buf[256] = "pw";
    ASSERT_EQ(GM_BLOWF_encrypt_password(buf, sizeof buf), CM_RC_OK);
    EXPECT_EQ(std::string(buf), encrypted("pw"));
}

TEST(BlowfishKey, LoadedKeyReplacesTheDefaultForPasswords) {
    // A stored secret of 10 characters: the key is its text, a zero byte and 21 blanks.
    unsigned char loaded[GM_BLOWF_KEY_LEN];
    std::memset(loaded, ' ', sizeof loaded);
    std::memcpy(loaded, "0123456789", 11);
    os_blowf_set_current_key(loaded);
    EXPECT_EQ(GM_BLOWF_is_default_key(), 0);

    unsigned char current[GM_BLOWF_KEY_LEN];
    ASSERT_EQ(OS_BLOWF_GetCurrentKey(current, GM_BLOWF_KEY_LEN), CM_RC_OK);
    EXPECT_EQ(std::memcmp(current, loaded, GM_BLOWF_KEY_LEN), 0);

    char buf[256] = "pw";
    ASSERT_EQ(GM_BLOWF_encrypt_password(buf, sizeof buf), CM_RC_OK);
    char with_key[256] = "pw";
    ASSERT_EQ(GM_BLOWF_encrypt_with_key(with_key, sizeof with_key, loaded), CM_RC_OK);
    EXPECT_STREQ(buf, with_key);
    EXPECT_NE(std::string(buf), encrypted("pw"));
    ASSERT_EQ(GM_BLOWF_decrypt_password(buf, sizeof buf), CM_RC_OK);
    EXPECT_STREQ(buf, "pw");
}

using BlowfishFileTest = testbed::AgentHomeTest;

TEST_F(BlowfishFileTest, EncryptedFileIsReadLineByLine) {
    home.write_file("data/secrets.dat",
                    encrypted("first") + "\n" + encrypted("") + "\n" + encrypted("third value") + "\n");
    char out[256] = {};
    ASSERT_EQ(GM_BLOWF_readEncryptedFile("data/secrets.dat", out, sizeof out), CM_RC_OK);
    EXPECT_STREQ(out, "first\n\nthird value\n");

    // "first\n\nthird value\n" is 19 characters: the buffer must keep 5 to spare.
    char small[23] = {};
    EXPECT_EQ(GM_BLOWF_readEncryptedFile("data/secrets.dat", small, sizeof small), CM_RC_FAIL);
    EXPECT_STREQ(small, "first\n\n");
    char exact[24] = {};
    EXPECT_EQ(GM_BLOWF_readEncryptedFile("data/secrets.dat", exact, sizeof exact), CM_RC_OK);

    home.write_file("data/broken.dat",
                    encrypted("ok") + "\n" + std::string(40, '1') + "\n" + encrypted("never") + "\n");
    char out2[256] = {};
    EXPECT_EQ(GM_BLOWF_readEncryptedFile("data/broken.dat", out2, sizeof out2), CM_RC_FAIL);
    EXPECT_STREQ(out2, "ok\n");
    EXPECT_EQ(GM_BLOWF_readEncryptedFile("data/missing.dat", out2, sizeof out2), CM_RC_FAIL);
}
