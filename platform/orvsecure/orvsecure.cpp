// String-encryption library: contexts made from a key-aliases file, AES-256 in CBC (with an
// HMAC-SHA-256 over IV and cipher text) or GCM through OpenSSL EVP, and the printable cipher-text
// form "!<cipher alias>@<key alias>!<Base64 of IV | cipher text | tag>".
#include "orvsecure.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kLibVersion = "ORVSECURE 1.0.0";
constexpr const char* kFailVariable = "APPBRIDGE_ORVSECURE_FAIL";
constexpr size_t kKeySize = 32;  // AES-256
constexpr size_t kCbcIvSize = 16;
constexpr size_t kGcmIvSize = 12;
constexpr size_t kTagSize = 16;           // GCM tag
constexpr size_t kMacSize = 32;           // HMAC-SHA-256 over CBC text
constexpr size_t kMaxKeyFileSize = 4096;  // key material longer than this is refused

enum class Mode { CBC, GCM };

struct CipherInfo {
    const char* alias;
    Mode mode;
    int bits;
};

// The ciphers this library offers, by alias.
constexpr CipherInfo kCiphers[] = {
    {"AES256CBC", Mode::CBC, 256},
    {"AES256GCM", Mode::GCM, 256},
};

const CipherInfo* find_cipher(std::string_view alias) {
    for (const auto& c : kCiphers)
        if (alias == c.alias) return &c;
    return nullptr;
}

using Key = std::vector<unsigned char>;

// Any key material becomes an AES-256 key through SHA-256.
Key derive_key(const void* material, size_t len) {
    Key key(kKeySize);
    SHA256(static_cast<const unsigned char*>(material), len, key.data());
    return key;
}

// The key of the HMAC that authenticates CBC text, derived from a cipher key.
Key derive_mac_key(const Key& key) {
    static constexpr char kLabel[] = "orvsecure-integrity";
    std::string data(reinterpret_cast<const char*>(key.data()), key.size());
    data += kLabel;
    return derive_key(data.data(), data.size());
}

void wipe(Key& key) { OPENSSL_cleanse(key.data(), key.size()); }

// Failure of one operation: its code and the text that goes into error_msg.
struct Failure {
    int code = ORVSECU_OK;
    std::string text;
    explicit operator bool() const { return code != ORVSECU_OK; }
};

Failure fail(int code, const char* format, ...) __attribute__((format(printf, 2, 3)));
Failure fail(int code, const char* format, ...) {
    char buf[ORVSECU_ERROR_MSG_SIZE];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    return Failure{code, buf};
}

// Stores the failure's text in the context (when there is one) and returns its code.
int report(ORVSECU_ctx* ctx, const Failure& f) {
    if (ctx) {
        if (f)
            std::snprintf(ctx->error_msg, sizeof ctx->error_msg, "%s", f.text.c_str());
        else
            ctx->error_msg[0] = '\0';
    }
    return f.code;
}

// True when the operation is named in APPBRIDGE_ORVSECURE_FAIL (a comma-separated list).
bool provoked(std::string_view operation) {
    const char* list = std::getenv(kFailVariable);
    if (!list) return false;
    std::string_view rest(list);
    while (!rest.empty()) {
        size_t comma = rest.find(',');
        std::string_view item = rest.substr(0, comma);
        if (item == operation) return true;
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return false;
}

Failure provoked_failure(const char* operation) {
    return fail(ORVSECU_ERR_PROVOKED, "%s failed as asked by %s", operation, kFailVariable);
}

// ---------------------------------------------------------------------------------------------
// Base64 (RFC 4648 alphabet, padded)

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64_encode(const std::vector<unsigned char>& in) {
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    for (size_t i = 0; i < in.size(); i += 3) {
        unsigned v = in[i] << 16;
        if (i + 1 < in.size()) v |= in[i + 1] << 8;
        if (i + 2 < in.size()) v |= in[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < in.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += i + 2 < in.size() ? kAlphabet[v & 63] : '=';
    }
    return out;
}

int base64_value(char c) {
    const char* p = std::strchr(kAlphabet, c);
    return (c != '\0' && p) ? static_cast<int>(p - kAlphabet) : -1;
}

// Strict decoding: whole groups of four, padding only at the end. False on any other text.
bool base64_decode(std::string_view in, std::vector<unsigned char>& out) {
    if (in.size() % 4 != 0) return false;
    out.clear();
    for (size_t i = 0; i < in.size(); i += 4) {
        bool last = i + 4 == in.size();
        int pad = 0;
        unsigned v = 0;
        for (size_t j = 0; j < 4; ++j) {
            char c = in[i + j];
            int d;
            if (c == '=' && last && j >= 2) {
                d = 0;
                ++pad;
            } else {
                if (pad) return false;  // data after padding
                d = base64_value(c);
                if (d < 0) return false;
            }
            v = (v << 6) | static_cast<unsigned>(d);
        }
        out.push_back(static_cast<unsigned char>(v >> 16));
        if (pad < 2) out.push_back(static_cast<unsigned char>(v >> 8));
        if (pad < 1) out.push_back(static_cast<unsigned char>(v));
    }
    return true;
}

std::string hex(const unsigned char* data, size_t len) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < len; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// AES through EVP

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

Key hmac(const Key& mac_key, std::string_view aad, const std::vector<unsigned char>& data) {
    std::vector<unsigned char> input(aad.begin(), aad.end());
    input.insert(input.end(), data.begin(), data.end());
    Key mac(kMacSize);
    unsigned int len = 0;
    HMAC(EVP_sha256(), mac_key.data(), static_cast<int>(mac_key.size()), input.data(), input.size(), mac.data(), &len);
    return mac;
}

// Encrypts into the blob IV | cipher text | tag (GCM) or IV | cipher text | HMAC (CBC). The
// cipher alias is authenticated with the text, so a text cannot be relabelled.
Failure seal(const CipherInfo& cipher, const Key& key, const Key& mac_key, const std::vector<unsigned char>& iv,
             const unsigned char* plain, size_t plain_len, std::vector<unsigned char>& blob) {
    CipherCtx c(EVP_CIPHER_CTX_new());
    if (!c) return fail(ORVSECU_ERR_CRYPTO, "cannot make a cipher context");
    std::string_view aad(cipher.alias);
    const EVP_CIPHER* evp = cipher.mode == Mode::GCM ? EVP_aes_256_gcm() : EVP_aes_256_cbc();
    std::vector<unsigned char> out(plain_len + 32);
    int len = 0, total = 0;
    bool ok = EVP_EncryptInit_ex(c.get(), evp, nullptr, nullptr, nullptr) == 1;
    if (ok && cipher.mode == Mode::GCM)
        ok = EVP_CIPHER_CTX_ctrl(c.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(iv.size()), nullptr) == 1;
    ok = ok && EVP_EncryptInit_ex(c.get(), nullptr, nullptr, key.data(), iv.data()) == 1;
    if (ok && cipher.mode == Mode::GCM)
        ok = EVP_EncryptUpdate(c.get(), nullptr, &len, reinterpret_cast<const unsigned char*>(aad.data()),
                               static_cast<int>(aad.size())) == 1;
    ok = ok && EVP_EncryptUpdate(c.get(), out.data(), &len, plain, static_cast<int>(plain_len)) == 1;
    total = len;
    ok = ok && EVP_EncryptFinal_ex(c.get(), out.data() + total, &len) == 1;
    if (!ok) return fail(ORVSECU_ERR_CRYPTO, "%s encryption failed", cipher.alias);
    total += len;
    out.resize(static_cast<size_t>(total));
    blob = iv;
    blob.insert(blob.end(), out.begin(), out.end());
    if (cipher.mode == Mode::GCM) {
        unsigned char tag[kTagSize];
        if (EVP_CIPHER_CTX_ctrl(c.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, tag) != 1)
            return fail(ORVSECU_ERR_CRYPTO, "%s encryption failed", cipher.alias);
        blob.insert(blob.end(), tag, tag + kTagSize);
    } else {
        Key mac = hmac(mac_key, aad, blob);
        blob.insert(blob.end(), mac.begin(), mac.end());
    }
    return {};
}

// Checks and decrypts a blob made by seal. A wrong key or an altered text fails with
// ORVSECU_ERR_AUTH, never with garbage.
Failure open_blob(const CipherInfo& cipher, const Key& key, const Key& mac_key, const std::vector<unsigned char>& blob,
                  const char* key_name, std::vector<unsigned char>& iv, std::string& plain) {
    bool gcm = cipher.mode == Mode::GCM;
    size_t iv_size = gcm ? kGcmIvSize : kCbcIvSize;
    size_t trailer = gcm ? kTagSize : kMacSize;
    size_t min_body = gcm ? 0 : 16;
    if (blob.size() < iv_size + trailer + min_body || (!gcm && (blob.size() - iv_size - trailer) % 16))
        return fail(ORVSECU_ERR_FORMAT, "cipher text is too short or cut for %s", cipher.alias);
    iv.assign(blob.begin(), blob.begin() + static_cast<long>(iv_size));
    const unsigned char* body = blob.data() + iv_size;
    size_t body_len = blob.size() - iv_size - trailer;
    const unsigned char* tail = body + body_len;
    std::string_view aad(cipher.alias);
    Failure not_this_key = fail(ORVSECU_ERR_AUTH, "cipher text was not made with key %s (or was altered)", key_name);
    if (!gcm) {
        std::vector<unsigned char> covered(blob.begin(), blob.begin() + static_cast<long>(iv_size + body_len));
        Key mac = hmac(mac_key, aad, covered);
        if (CRYPTO_memcmp(mac.data(), tail, kMacSize) != 0) return not_this_key;
    }
    CipherCtx c(EVP_CIPHER_CTX_new());
    if (!c) return fail(ORVSECU_ERR_CRYPTO, "cannot make a cipher context");
    const EVP_CIPHER* evp = gcm ? EVP_aes_256_gcm() : EVP_aes_256_cbc();
    std::vector<unsigned char> out(body_len + 32);
    int len = 0, total = 0;
    bool ok = EVP_DecryptInit_ex(c.get(), evp, nullptr, nullptr, nullptr) == 1;
    if (ok && gcm) ok = EVP_CIPHER_CTX_ctrl(c.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(iv_size), nullptr) == 1;
    ok = ok && EVP_DecryptInit_ex(c.get(), nullptr, nullptr, key.data(), iv.data()) == 1;
    if (ok && gcm)
        ok = EVP_DecryptUpdate(c.get(), nullptr, &len, reinterpret_cast<const unsigned char*>(aad.data()),
                               static_cast<int>(aad.size())) == 1;
    ok = ok && EVP_DecryptUpdate(c.get(), out.data(), &len, body, static_cast<int>(body_len)) == 1;
    if (!ok) return fail(ORVSECU_ERR_CRYPTO, "%s decryption failed", cipher.alias);
    total = len;
    if (gcm && EVP_CIPHER_CTX_ctrl(c.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, const_cast<unsigned char*>(tail)) != 1)
        return fail(ORVSECU_ERR_CRYPTO, "%s decryption failed", cipher.alias);
    if (EVP_DecryptFinal_ex(c.get(), out.data() + total, &len) != 1) {
        OPENSSL_cleanse(out.data(), out.size());
        return not_this_key;
    }
    total += len;
    plain.assign(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(total));
    OPENSSL_cleanse(out.data(), out.size());
    return {};
}

// ---------------------------------------------------------------------------------------------
// Text form

bool valid_key_alias(std::string_view alias) {
    if (alias.empty() || alias.size() >= sizeof(ORVSECU_key_alias{}.alias)) return false;
    for (char c : alias)
        if (c <= ' ' || c > '~' || c == '!' || c == '@' || c == '=') return false;
    return true;
}

std::string prefix_of(const char* cipher_alias, const char* key_alias) {
    return std::string("!") + cipher_alias + "@" + key_alias + "!";
}

// Copies a NUL-terminated result into the caller's buffer of *out_len bytes.
Failure deliver(const std::string& text, char* out, int* out_len) {
    if (text.size() + 1 > static_cast<size_t>(*out_len))
        return fail(ORVSECU_ERR_BUFFER, "output needs %zu bytes, buffer has %d", text.size() + 1, *out_len);
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    *out_len = static_cast<int>(text.size());
    return {};
}

// Splits a cipher text into its prefix aliases (empty when it carries none) and Base64 body.
Failure split_text(std::string_view text, std::string& cipher_alias, std::string& key_alias, std::string_view& body) {
    cipher_alias.clear();
    key_alias.clear();
    body = text;
    if (text.empty() || text[0] != '!') return {};
    size_t end = text.find('!', 1);
    if (end == std::string_view::npos) return fail(ORVSECU_ERR_FORMAT, "cipher text prefix has no end");
    std::string_view inner = text.substr(1, end - 1);
    size_t at = inner.find('@');
    if (at == std::string_view::npos) return fail(ORVSECU_ERR_FORMAT, "cipher text prefix has no '@'");
    cipher_alias = inner.substr(0, at);
    key_alias = inner.substr(at + 1);
    body = text.substr(end + 1);
    return {};
}

struct KeyPair {
    Key key;
    Key mac_key;
    ~KeyPair() {
        wipe(key);
        wipe(mac_key);
    }
};

Failure encrypt_text(ORVSECU_ctx* ctx, const CipherInfo& cipher, const KeyPair& keys, const char* plain, int plain_len,
                     const char* key_alias, bool with_prefix, const char* iv, int iv_len, char* out, int* out_len) {
    size_t iv_size = cipher.mode == Mode::GCM ? kGcmIvSize : kCbcIvSize;
    std::vector<unsigned char> ivb(iv_size);
    if (iv && iv_len > 0) {
        if (static_cast<size_t>(iv_len) != iv_size)
            return fail(ORVSECU_ERR_ARGUMENT, "%s takes an IV of %zu bytes, not %d", cipher.alias, iv_size, iv_len);
        std::memcpy(ivb.data(), iv, iv_size);
    } else if (RAND_bytes(ivb.data(), static_cast<int>(iv_size)) != 1) {
        return fail(ORVSECU_ERR_CRYPTO, "cannot draw a random IV");
    }
    std::vector<unsigned char> blob;
    if (Failure f = seal(cipher, keys.key, keys.mac_key, ivb, reinterpret_cast<const unsigned char*>(plain),
                         static_cast<size_t>(plain_len), blob))
        return f;
    std::string text = with_prefix ? prefix_of(cipher.alias, key_alias) : std::string();
    text += base64_encode(blob);
    if (Failure f = deliver(text, out, out_len)) return f;
    std::snprintf(ctx->last_iv, sizeof ctx->last_iv, "%s", hex(ivb.data(), ivb.size()).c_str());
    return {};
}

// Decrypts a text whose prefix (when it has one) must name the cipher asked for and, when
// key_alias is given, that key alias.
Failure decrypt_text(ORVSECU_ctx* ctx, const CipherInfo& cipher, const KeyPair& keys, const char* key_alias,
                     const char* text, int text_len, const char* iv, int iv_len, char* out, int* out_len) {
    std::string copy(text, static_cast<size_t>(text_len));
    std::string p_cipher, p_key;
    std::string_view body;
    if (Failure f = split_text(copy, p_cipher, p_key, body)) return f;
    if (!p_cipher.empty() && p_cipher != cipher.alias)
        return fail(ORVSECU_ERR_AUTH, "cipher text was made with cipher %.40s, not %s", p_cipher.c_str(), cipher.alias);
    if (key_alias && !p_key.empty() && p_key != key_alias)
        return fail(ORVSECU_ERR_AUTH, "cipher text was made with key %.32s, not %s", p_key.c_str(), key_alias);
    std::vector<unsigned char> blob;
    if (!base64_decode(body, blob)) return fail(ORVSECU_ERR_FORMAT, "cipher text is not Base64");
    std::vector<unsigned char> used_iv;
    std::string plain;
    const char* key_name = key_alias ? key_alias : "given";
    if (Failure f = open_blob(cipher, keys.key, keys.mac_key, blob, key_name, used_iv, plain)) return f;
    if (iv && iv_len > 0 &&
        (static_cast<size_t>(iv_len) != used_iv.size() || std::memcmp(iv, used_iv.data(), used_iv.size()) != 0))
        return fail(ORVSECU_ERR_AUTH, "cipher text was not made with the given IV");
    Failure f = deliver(plain, out, out_len);
    OPENSSL_cleanse(plain.data(), plain.size());
    if (f) return f;
    std::snprintf(ctx->last_iv, sizeof ctx->last_iv, "%s", hex(used_iv.data(), used_iv.size()).c_str());
    return {};
}

// ---------------------------------------------------------------------------------------------
// Key-aliases file: lines "<alias> = <key file>" ('#' comments, blank lines skipped); a relative
// key file is taken from the key-aliases file's folder. A key file's bytes, less one trailing
// line end, are the key material.

std::string trim(std::string_view s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(b, e - b + 1));
}

Failure read_key_file(const std::string& path, Key& key) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail(ORVSECU_ERR_KEY_FILE, "cannot open key file %.200s: %s", path.c_str(), std::strerror(errno));
    std::string material((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (material.size() > kMaxKeyFileSize)
        return fail(ORVSECU_ERR_KEY_FILE, "key file %.200s is longer than %zu bytes", path.c_str(), kMaxKeyFileSize);
    if (!material.empty() && material.back() == '\n') material.pop_back();
    if (!material.empty() && material.back() == '\r') material.pop_back();
    if (material.empty()) return fail(ORVSECU_ERR_KEY_FILE, "key file %.200s is empty", path.c_str());
    key = derive_key(material.data(), material.size());
    OPENSSL_cleanse(material.data(), material.size());
    return {};
}

Failure load_key_aliases(ORVSECU_ctx* ctx, const char* file) {
    std::ifstream in(file);
    if (!in) return fail(ORVSECU_ERR_KEY_FILE, "cannot open key-aliases file %.200s: %s", file, std::strerror(errno));
    std::string dir(file);
    size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash == 0 ? 1 : slash);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string text = trim(line);
        if (text.empty() || text[0] == '#') continue;
        size_t eq = text.find('=');
        std::string alias = trim(std::string_view(text).substr(0, eq == std::string::npos ? text.size() : eq));
        std::string path = eq == std::string::npos ? std::string() : trim(std::string_view(text).substr(eq + 1));
        if (!valid_key_alias(alias) || path.empty())
            return fail(ORVSECU_ERR_KEY_FILE, "key-aliases file line %d is not '<alias> = <key file>'", number);
        if (path[0] != '/') path = dir + "/" + path;
        if (path.size() >= sizeof(ORVSECU_key_alias{}.path))
            return fail(ORVSECU_ERR_KEY_FILE, "key file path of alias %s is too long", alias.c_str());
        for (int i = 0; i < ctx->key_aliases_num; ++i)
            if (alias == ctx->key_aliases_list[i].alias)
                return fail(ORVSECU_ERR_KEY_FILE, "key alias %s is defined twice", alias.c_str());
        if (ctx->key_aliases_num == ORVSECU_MAX_KEY_ALIASES)
            return fail(ORVSECU_ERR_KEY_FILE, "more than %d key aliases", ORVSECU_MAX_KEY_ALIASES);
        Key key;
        if (Failure f = read_key_file(path, key)) return f;
        ORVSECU_key_alias& entry = ctx->key_aliases_list[ctx->key_aliases_num++];
        std::snprintf(entry.alias, sizeof entry.alias, "%s", alias.c_str());
        std::snprintf(entry.path, sizeof entry.path, "%s", path.c_str());
        std::memcpy(entry.key, key.data(), kKeySize);
        wipe(key);
    }
    return {};
}

void fill_library_facts(ORVSECU_ctx* ctx) {
    std::snprintf(ctx->ssl_version, sizeof ctx->ssl_version, "%s", OpenSSL_version(OPENSSL_VERSION));
    std::snprintf(ctx->ssl_platform, sizeof ctx->ssl_platform, "%s", OpenSSL_version(OPENSSL_PLATFORM));
    std::snprintf(ctx->ssl_built_on, sizeof ctx->ssl_built_on, "%s", OpenSSL_version(OPENSSL_BUILT_ON));
    ctx->ssl_fips_mode = EVP_default_properties_is_fips_enabled(nullptr);
    std::snprintf(ctx->orvsecure_lib_version, sizeof ctx->orvsecure_lib_version, "%s", kLibVersion);
    for (const auto& c : kCiphers) {
        ORVSECU_cipher_alias& entry = ctx->cipher_alias_list[ctx->cipher_alias_num++];
        std::snprintf(entry.cipher, sizeof entry.cipher, "%s", c.alias);
        entry.strenth = c.bits;
    }
}

// Finds the cipher and the key alias's key in the context.
Failure keys_of_alias(const ORVSECU_ctx* ctx, const char* cipher_alias, const char* key_alias,
                      const CipherInfo*& cipher, KeyPair& keys) {
    cipher = find_cipher(cipher_alias);
    if (!cipher) return fail(ORVSECU_ERR_UNKNOWN_ALIAS, "unknown cipher alias %.40s", cipher_alias);
    int n = ctx->key_aliases_num < 0 ? 0 : std::min(ctx->key_aliases_num, ORVSECU_MAX_KEY_ALIASES);
    for (int i = 0; i < n; ++i) {
        const ORVSECU_key_alias& entry = ctx->key_aliases_list[i];
        if (std::strncmp(entry.alias, key_alias, sizeof entry.alias) == 0) {
            keys.key.assign(entry.key, entry.key + kKeySize);
            keys.mac_key = derive_mac_key(keys.key);
            return {};
        }
    }
    return fail(ORVSECU_ERR_UNKNOWN_ALIAS, "unknown key alias %.32s", key_alias);
}

Failure keys_of_material(const CipherInfo*& cipher, const char* cipher_alias, const char* key, int key_len,
                         const char* integrity_key, int integrity_len, KeyPair& keys) {
    cipher = find_cipher(cipher_alias);
    if (!cipher) return fail(ORVSECU_ERR_UNKNOWN_ALIAS, "unknown cipher alias %.40s", cipher_alias);
    if (!key || key_len <= 0 || !integrity_key || integrity_len <= 0)
        return fail(ORVSECU_ERR_ARGUMENT, "key material is missing");
    keys.key = derive_key(key, static_cast<size_t>(key_len));
    Key integrity = derive_key(integrity_key, static_cast<size_t>(integrity_len));
    keys.mac_key = derive_mac_key(integrity);
    wipe(integrity);
    return {};
}

bool bad_buffer(const char* buf, int len, const char* out, const int* out_len) {
    return !buf || len < 0 || !out || !out_len || *out_len <= 0;
}

}  // namespace

CM_EXTERN_C_BEGIN

int OrvStringEncryptors_init(ORVSECU_ctx** ctx, int options, const char* key_aliases_file) {
    (void)options;  // reserved
    if (!ctx) return ORVSECU_ERR_ARGUMENT;
    try {
        *ctx = static_cast<ORVSECU_ctx*>(std::calloc(1, sizeof(ORVSECU_ctx)));
        if (!*ctx) return ORVSECU_ERR_CRYPTO;
        fill_library_facts(*ctx);
        if (provoked("init")) return report(*ctx, provoked_failure("init"));
        if (!key_aliases_file || !*key_aliases_file)
            return report(*ctx, fail(ORVSECU_ERR_ARGUMENT, "no key-aliases file given"));
        return report(*ctx, load_key_aliases(*ctx, key_aliases_file));
    } catch (...) {
        return report(*ctx, fail(ORVSECU_ERR_CRYPTO, "out of memory"));
    }
}

int OrvStringEncryptors_encrypt(ORVSECU_ctx* ctx, const char* plain, int plain_len, const char* cipher_alias,
                                const char* key_alias, char* out, int* out_len, int with_prefix) {
    if (!ctx) return ORVSECU_ERR_ARGUMENT;
    try {
        if (bad_buffer(plain, plain_len, out, out_len) || !cipher_alias || !key_alias)
            return report(ctx, fail(ORVSECU_ERR_ARGUMENT, "encrypt: missing or invalid argument"));
        if (provoked("encrypt")) return report(ctx, provoked_failure("encrypt"));
        const CipherInfo* cipher = nullptr;
        KeyPair keys;
        if (Failure f = keys_of_alias(ctx, cipher_alias, key_alias, cipher, keys)) return report(ctx, f);
        return report(ctx, encrypt_text(ctx, *cipher, keys, plain, plain_len, key_alias, with_prefix != 0, nullptr, 0,
                                        out, out_len));
    } catch (...) {
        return report(ctx, fail(ORVSECU_ERR_CRYPTO, "out of memory"));
    }
}

int OrvStringEncryptors_decrypt(ORVSECU_ctx* ctx, const char* cipher_text, int cipher_len, char* out, int* out_len,
                                const char* cipher_alias, const char* key_alias) {
    if (!ctx) return ORVSECU_ERR_ARGUMENT;
    try {
        if (bad_buffer(cipher_text, cipher_len, out, out_len) || !cipher_alias || !key_alias)
            return report(ctx, fail(ORVSECU_ERR_ARGUMENT, "decrypt: missing or invalid argument"));
        if (provoked("decrypt")) return report(ctx, provoked_failure("decrypt"));
        const CipherInfo* cipher = nullptr;
        KeyPair keys;
        if (Failure f = keys_of_alias(ctx, cipher_alias, key_alias, cipher, keys)) return report(ctx, f);
        return report(ctx,
                      decrypt_text(ctx, *cipher, keys, key_alias, cipher_text, cipher_len, nullptr, 0, out, out_len));
    } catch (...) {
        return report(ctx, fail(ORVSECU_ERR_CRYPTO, "out of memory"));
    }
}

int OrvStringEncryptors_cleanup(ORVSECU_ctx** ctx) {
    if (!ctx || !*ctx) return ORVSECU_ERR_ARGUMENT;
    // The context is released even when a failure is provoked, so that callers that forget
    // their pointer after a failed clean-up leak nothing.
    int rc = provoked("cleanup") ? ORVSECU_ERR_PROVOKED : ORVSECU_OK;
    OPENSSL_cleanse(*ctx, sizeof(ORVSECU_ctx));
    std::free(*ctx);
    *ctx = nullptr;
    return rc;
}

int OrvStringEncryptors_encrypt_with_iv_and_key(ORVSECU_ctx* ctx, const char* plain, int plain_len,
                                                const char* cipher_alias, const char* key, int key_len, char* out,
                                                int* out_len, const char* iv, int iv_len, const char* key_alias) {
    if (!ctx) return ORVSECU_ERR_ARGUMENT;
    try {
        if (bad_buffer(plain, plain_len, out, out_len) || !cipher_alias || !key_alias || !valid_key_alias(key_alias) ||
            iv_len < 0)
            return report(ctx, fail(ORVSECU_ERR_ARGUMENT, "encrypt_with_iv_and_key: missing or invalid argument"));
        if (provoked("encrypt_with_iv_and_key")) return report(ctx, provoked_failure("encrypt_with_iv_and_key"));
        const CipherInfo* cipher = nullptr;
        KeyPair keys;
        if (Failure f = keys_of_material(cipher, cipher_alias, key, key_len, key, key_len, keys)) return report(ctx, f);
        return report(ctx,
                      encrypt_text(ctx, *cipher, keys, plain, plain_len, key_alias, true, iv, iv_len, out, out_len));
    } catch (...) {
        return report(ctx, fail(ORVSECU_ERR_CRYPTO, "out of memory"));
    }
}

int OrvStringEncryptors_decrypt_with_iv_and_key(ORVSECU_ctx* ctx, const char* cipher_text, int cipher_len, char* out,
                                                int* out_len, const char* iv, int iv_len, const char* cipher_alias,
                                                const char* key, int key_len, const char* integrity_key,
                                                int integrity_key_len) {
    if (!ctx) return ORVSECU_ERR_ARGUMENT;
    try {
        if (bad_buffer(cipher_text, cipher_len, out, out_len) || !cipher_alias || iv_len < 0)
            return report(ctx, fail(ORVSECU_ERR_ARGUMENT, "decrypt_with_iv_and_key: missing or invalid argument"));
        if (provoked("decrypt_with_iv_and_key")) return report(ctx, provoked_failure("decrypt_with_iv_and_key"));
        const CipherInfo* cipher = nullptr;
        KeyPair keys;
        if (Failure f = keys_of_material(cipher, cipher_alias, key, key_len, integrity_key, integrity_key_len, keys))
            return report(ctx, f);
        return report(ctx,
                      decrypt_text(ctx, *cipher, keys, nullptr, cipher_text, cipher_len, iv, iv_len, out, out_len));
    } catch (...) {
        return report(ctx, fail(ORVSECU_ERR_CRYPTO, "out of memory"));
    }
}

CM_EXTERN_C_END
