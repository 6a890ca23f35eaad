/* Blowfish value encryption: the cipher (64-bit block, 16 rounds, key schedule over the pi-derived
 * initial state), its CBC modes in little- and big-endian word order, the decimal text form of
 * cipher bytes, and the value routines built on them. Owns the built-in default key and the key
 * schedules the value routines keep: the default key's, made once, and the last other key's. */
#include "gm_blowf.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include "os_blowf.h"
#include "os_diag.h"
#include "os_file.h"

namespace {

#include "gm_blowf_tables.inc"

// Sizes of the value routines' working buffers.
constexpr int kPlainBufLen = 2048;  // padded plain text, decrypted bytes
constexpr int kTextBufLen = 2048;   // produced text, in characters
constexpr int kMaxTextLen = 4 * kPlainBufLen;
constexpr int kFileLineLen = 2048;  // longest line of an encrypted file

// The built-in default key, kept masked so that it stands nowhere whole in the program's data:
// byte i of the key is kDefaultKeyMasked[i] ^ (0xA7 + 29 * i). This is the one place that knows it.
constexpr unsigned char kDefaultKeyMasked[GM_BLOWF_KEY_LEN] = {
    0xe6, 0x9e, 0x96, 0xdb, 0x41, 0x0a, 0x64, 0x19, 0xb7, 0xe1, 0x84, 0xcd, 0x72, 0x7a, 0x72, 0x0f,
    0x31, 0xed, 0xfc, 0xbf, 0xbc, 0x47, 0x57, 0x3a, 0x28, 0x3e, 0xd6, 0xd0, 0x92, 0xc7, 0x4d, 0x58};

void build_default_key(unsigned char* out) {
    for (int i = 0; i < GM_BLOWF_KEY_LEN; ++i)
        out[i] = static_cast<unsigned char>(kDefaultKeyMasked[i] ^ ((0xA7 + 29 * i) & 0xFF));
}

void wipe(void* p, std::size_t n) {
    volatile unsigned char* bytes = static_cast<unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = 0;
}

// A key (or other secret) on the stack that is wiped when it goes out of scope.
struct SecretBuf {
    unsigned char bytes[GM_BLOWF_KEY_LEN] = {};
    ~SecretBuf() { wipe(bytes, sizeof bytes); }
};

// The encryption/decryption pair of blowfish_ssh1_make_context.
struct ContextPair {
    BlowfishContext enc;
    BlowfishContext dec;
};

inline std::uint32_t F(const BlowfishContext* c, std::uint32_t x) {
    return ((c->S0[x >> 24] + c->S1[(x >> 16) & 0xFF]) ^ c->S2[(x >> 8) & 0xFF]) + c->S3[x & 0xFF];
}

// One block through the rounds; the key schedule is only read.
inline void encrypt_block(std::uint32_t xL, std::uint32_t xR, std::uint32_t* output, const BlowfishContext* ctx) {
    const std::uint32_t* P = ctx->P;
    for (int i = 0; i < 16; i += 2) {
        xL ^= P[i];
        xR ^= F(ctx, xL);
        xR ^= P[i + 1];
        xL ^= F(ctx, xR);
    }
    xL ^= P[16];
    xR ^= P[17];
    output[0] = xR;
    output[1] = xL;
}

inline void decrypt_block(std::uint32_t xL, std::uint32_t xR, std::uint32_t* output, const BlowfishContext* ctx) {
    const std::uint32_t* P = ctx->P;
    for (int i = 17; i > 1; i -= 2) {
        xL ^= P[i];
        xR ^= F(ctx, xL);
        xR ^= P[i - 1];
        xL ^= F(ctx, xR);
    }
    xL ^= P[1];
    xR ^= P[0];
    output[0] = xR;
    output[1] = xL;
}

inline std::uint32_t get_le(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
inline void put_le(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}
inline std::uint32_t get_be(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}
inline void put_be(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

using WordGet = std::uint32_t (*)(const unsigned char*);
using WordPut = void (*)(unsigned char*, std::uint32_t);

// CBC over whole blocks with the chaining value in `chain` (two words), which it leaves at the
// last cipher block. The key schedule is only read, so threads may share it.
template <WordGet get, WordPut put>
void cbc_encrypt(unsigned char* blk, int len, const BlowfishContext* ctx, std::uint32_t* chain) {
    std::uint32_t out[2];
    for (int off = 0; off + 8 <= len; off += 8) {
        encrypt_block(get(blk + off) ^ chain[0], get(blk + off + 4) ^ chain[1], out, ctx);
        chain[0] = out[0];
        chain[1] = out[1];
        put(blk + off, out[0]);
        put(blk + off + 4, out[1]);
    }
}

template <WordGet get, WordPut put>
void cbc_decrypt(unsigned char* blk, int len, const BlowfishContext* ctx, std::uint32_t* chain) {
    std::uint32_t out[2];
    for (int off = 0; off + 8 <= len; off += 8) {
        const std::uint32_t l = get(blk + off), r = get(blk + off + 4);
        decrypt_block(l, r, out, ctx);
        put(blk + off, out[0] ^ chain[0]);
        put(blk + off + 4, out[1] ^ chain[1]);
        chain[0] = l;
        chain[1] = r;
    }
}

// The CBC calls of the cipher layer: the chaining value lives in the context.
template <WordGet get, WordPut put>
void context_encrypt(unsigned char* blk, int len, BlowfishContext* ctx) {
    if (!blk || !ctx) return;
    std::uint32_t chain[2] = {ctx->iv0, ctx->iv1};
    cbc_encrypt<get, put>(blk, len, ctx, chain);
    ctx->iv0 = chain[0];
    ctx->iv1 = chain[1];
}

template <WordGet get, WordPut put>
void context_decrypt(unsigned char* blk, int len, BlowfishContext* ctx) {
    if (!blk || !ctx) return;
    std::uint32_t chain[2] = {ctx->iv0, ctx->iv1};
    cbc_decrypt<get, put>(blk, len, ctx, chain);
    ctx->iv0 = chain[0];
    ctx->iv1 = chain[1];
}

// ---- key schedules of the value routines ------------------------------------------------------
// A key schedule costs some five hundred block encryptions; a value a few. The default key's
// schedule is made once for the process; the schedule of another key (the agent's configured key)
// is kept with that key and used again while the key it is asked for is the same.

bool same_key(const unsigned char* a, const unsigned char* b) {
    unsigned char differ = 0;
    for (int i = 0; i < GM_BLOWF_KEY_LEN; ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

struct KeySchedule {
    unsigned char key[GM_BLOWF_KEY_LEN];
    BlowfishContext context;
    explicit KeySchedule(const unsigned char* k) {
        std::memcpy(key, k, sizeof key);
        blowfish_setkey(&context, key, GM_BLOWF_KEY_LEN);
        context.iv0 = context.iv1 = 0;
    }
    ~KeySchedule() { wipe(this, sizeof *this); }
    KeySchedule(const KeySchedule&) = delete;
    KeySchedule& operator=(const KeySchedule&) = delete;
};

using Schedule = std::shared_ptr<const KeySchedule>;

// Made on first use (by one thread; the others wait for it).
const Schedule& default_schedule() {
    static const Schedule schedule = [] {
        SecretBuf key;
        build_default_key(key.bytes);
        return std::make_shared<const KeySchedule>(key.bytes);
    }();
    return schedule;
}

std::mutex other_mutex;
Schedule other_schedule;  // the last key other than the default key, with its schedule

// The schedule of a 32-byte key: the default key's, or the kept one when the key is the same,
// else a new one that is kept in its place. Throws std::bad_alloc.
Schedule schedule_of(const unsigned char* key) {
    {
        SecretBuf def;
        build_default_key(def.bytes);
        if (same_key(key, def.bytes)) return default_schedule();
    }
    std::lock_guard<std::mutex> lock(other_mutex);
    if (!other_schedule || !same_key(other_schedule->key, key))
        other_schedule = std::make_shared<const KeySchedule>(key);
    return other_schedule;
}

// ---- text form --------------------------------------------------------------------------------

// The 4 characters of each byte value: its signed decimal value left-padded with "0".
using Group = std::array<char, 4>;
constexpr std::array<Group, 256> make_groups() {
    std::array<Group, 256> groups{};
    for (int b = 0; b < 256; ++b) {
        const int value = b < 128 ? b : b - 256;
        unsigned magnitude = static_cast<unsigned>(value < 0 ? -value : value);
        Group g = {'0', '0', '0', '0'};
        int pos = 3;
        do {
            g[static_cast<std::size_t>(pos--)] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) g[static_cast<std::size_t>(pos)] = '-';
        groups[static_cast<std::size_t>(b)] = g;
    }
    return groups;
}
constexpr std::array<Group, 256> kGroups = make_groups();

// Parses one 4-character group of the text form: leading "0"s skipped, the rest a signed decimal.
unsigned char parse_group(const char* g) {
    int i = 0;
    while (i < 4 && g[i] == '0') ++i;
    char digits[5] = {};
    std::memcpy(digits, g + i, static_cast<std::size_t>(4 - i));
    return static_cast<unsigned char>(std::strtol(digits, nullptr, 10));
}

// The work of GM_BLOWF_encrypt_with_key with a key's schedule; traces only when asked to.
CM_RC encrypt_value(char* value, int max_len, const Schedule& schedule, bool trace) {
    static const char fn[] = "GM_BLOWF_encrypt_with_key";
    if (trace) DIAG_TRACE(5, "%s enter", fn);
    if (!value || max_len <= 0) return CM_RC_FAIL;

    // The caller's buffer is changed only on success, so the empty-value marker stands in for an
    // empty value only in the work.
    std::string_view plain(value, strnlen(value, static_cast<std::size_t>(max_len)));
    if (plain.empty()) plain = GM_BLOWF_EMPTY_MARKER;
    if (plain.size() > static_cast<std::size_t>(max_len / 4)) {
        if (trace) DIAG_TRACE(5, "ERROR: input value length (%d) > %d characters", int(plain.size()), max_len / 4);
        return CM_RC_FAIL;
    }
    const int count = static_cast<int>((plain.size() + 7) / 8 * 8);
    if (count > kTextBufLen / 4) {
        if (trace) DIAG_TRACE(4, "blowfish_tostr failed");
        return CM_RC_FAIL;
    }
    const std::size_t text_len = 4 * static_cast<std::size_t>(count);
    if (text_len + 1 > static_cast<std::size_t>(max_len)) {
        if (trace) DIAG_TRACE(5, "ERROR: out string is too long (more than %d characters)", max_len);
        return CM_RC_FAIL;
    }

    unsigned char buf[kPlainBufLen];
    std::memcpy(buf, plain.data(), plain.size());
    std::memset(buf + plain.size(), 0, static_cast<std::size_t>(count) - plain.size());
    std::uint32_t chain[2] = {0, 0};
    cbc_encrypt<get_le, put_le>(buf, count, &schedule->context, chain);
    blowfish_tostr(buf, count, value, static_cast<int>(text_len + 1));
    return CM_RC_OK;
}

// The work of GM_BLOWF_decrypt_with_key with a key's schedule; traces only when asked to.
CM_RC decrypt_value(char* value, int val_size, const Schedule& schedule, bool trace) {
    static const char fn[] = "GM_BLOWF_decrypt_with_key";
    if (!value || val_size <= 0) return CM_RC_FAIL;

    // Text that is not terminated within the caller's buffer is not text of this form.
    const std::size_t text_len = strnlen(value, static_cast<std::size_t>(val_size));
    unsigned char buf[kPlainBufLen] = {};
    if (text_len == static_cast<std::size_t>(val_size) || text_len > static_cast<std::size_t>(kMaxTextLen) ||
        (text_len / 4) % 8 != 0 || blowfish_fromstr(value, buf, sizeof buf) != 0) {
        if (trace) DIAG_TRACE(5, "%s blowfish_fromstr failed", fn);
        return CM_RC_FAIL;
    }
    std::uint32_t chain[2] = {0, 0};
    cbc_decrypt<get_le, put_le>(buf, static_cast<int>(text_len / 4), &schedule->context, chain);

    const std::size_t plain_len = strnlen(reinterpret_cast<const char*>(buf), sizeof buf);
    if (plain_len + 1 > static_cast<std::size_t>(val_size)) {
        if (trace) DIAG_TRACE(5, "%s out string is too long", fn);
        wipe(buf, sizeof buf);
        return CM_RC_FAIL;
    }
    if (plain_len == std::strlen(GM_BLOWF_EMPTY_MARKER) && std::memcmp(buf, GM_BLOWF_EMPTY_MARKER, plain_len) == 0) {
        value[0] = '\0';
    } else {
        std::memcpy(value, buf, plain_len);
        value[plain_len] = '\0';
    }
    wipe(buf, sizeof buf);
    return CM_RC_OK;
}

// The value routines with a key the caller gives (or the current key): its schedule, kept.
CM_RC encrypt_with(char* value, int max_len, const unsigned char* key, bool trace) {
    if (!key) {
        if (trace) DIAG_TRACE(5, "%s enter", "GM_BLOWF_encrypt_with_key");
        return CM_RC_FAIL;
    }
    try {
        return encrypt_value(value, max_len, schedule_of(key), trace);
    } catch (const std::bad_alloc&) {
        if (trace) DIAG_TRACE(5, "ERROR: cannot obtain BLOWF handle");
        return CM_RC_FAIL;
    }
}

CM_RC decrypt_with(char* value, int val_size, const unsigned char* key, bool trace) {
    if (!key) return CM_RC_FAIL;
    try {
        return decrypt_value(value, val_size, schedule_of(key), trace);
    } catch (const std::bad_alloc&) {
        if (trace) DIAG_TRACE(5, "%s failed to allocate handle", "GM_BLOWF_decrypt_with_key");
        return CM_RC_FAIL;
    }
}

}  // namespace

extern "C" {

/* ---- cipher ---------------------------------------------------------------------------------- */

void blowfish_encrypt(uint32_t xL, uint32_t xR, uint32_t* output, BlowfishContext* ctx) {
    if (!output || !ctx) return;
    encrypt_block(xL, xR, output, ctx);
}

void blowfish_decrypt(uint32_t xL, uint32_t xR, uint32_t* output, BlowfishContext* ctx) {
    if (!output || !ctx) return;
    decrypt_block(xL, xR, output, ctx);
}

void blowfish_setkey(BlowfishContext* ctx, const unsigned char* key, short keybytes) {
    if (!ctx || !key || keybytes <= 0) return;
    std::memcpy(ctx->P, kInitP, sizeof ctx->P);
    std::memcpy(ctx->S0, kInitS[0], sizeof ctx->S0);
    std::memcpy(ctx->S1, kInitS[1], sizeof ctx->S1);
    std::memcpy(ctx->S2, kInitS[2], sizeof ctx->S2);
    std::memcpy(ctx->S3, kInitS[3], sizeof ctx->S3);

    int k = 0;
    for (int i = 0; i < 18; ++i) {
        uint32_t word = 0;
        for (int j = 0; j < 4; ++j) {
            word = word << 8 | key[k];
            k = (k + 1) % keybytes;
        }
        ctx->P[i] ^= word;
    }

    uint32_t lr[2] = {0, 0};
    auto fill = [&](uint32_t* table, int n) {
        for (int i = 0; i < n; i += 2) {
            blowfish_encrypt(lr[0], lr[1], lr, ctx);
            table[i] = lr[0];
            table[i + 1] = lr[1];
        }
    };
    fill(ctx->P, 18);
    fill(ctx->S0, 256);
    fill(ctx->S1, 256);
    fill(ctx->S2, 256);
    fill(ctx->S3, 256);
}

void blowfish_lsb_encrypt_cbc(unsigned char* blk, int len, BlowfishContext* ctx) {
    context_encrypt<get_le, put_le>(blk, len, ctx);
}
void blowfish_lsb_decrypt_cbc(unsigned char* blk, int len, BlowfishContext* ctx) {
    context_decrypt<get_le, put_le>(blk, len, ctx);
}
void blowfish_msb_encrypt_cbc(unsigned char* blk, int len, BlowfishContext* ctx) {
    context_encrypt<get_be, put_be>(blk, len, ctx);
}
void blowfish_msb_decrypt_cbc(unsigned char* blk, int len, BlowfishContext* ctx) {
    context_decrypt<get_be, put_be>(blk, len, ctx);
}

/* ---- contexts -------------------------------------------------------------------------------- */

// Both kinds get the room of a pair, so that blowfish_free_context can wipe either whole.
void* blowfish_make_context(void) { return std::calloc(1, sizeof(ContextPair)); }
void* blowfish_ssh1_make_context(void) { return std::calloc(1, sizeof(ContextPair)); }
void blowfish_free_context(void* handle) {
    if (!handle) return;
    volatile unsigned char* p = static_cast<unsigned char*>(handle);
    for (std::size_t i = 0; i < sizeof(ContextPair); ++i) p[i] = 0;
    std::free(handle);
}

void blowfish_sesskey(void* handle, const unsigned char* key) {
    if (!handle || !key) return;
    auto* pair = static_cast<ContextPair*>(handle);
    blowfish_setkey(&pair->enc, key, GM_BLOWF_KEY_LEN);
    pair->enc.iv0 = pair->enc.iv1 = 0;
    pair->dec = pair->enc;
}

void blowfish_key(void* handle, const unsigned char* key) {
    if (!handle || !key) return;
    blowfish_setkey(static_cast<BlowfishContext*>(handle), key, 16);
}

void blowfish_iv(void* handle, const unsigned char* iv) {
    if (!handle || !iv) return;
    auto* ctx = static_cast<BlowfishContext*>(handle);
    ctx->iv0 = get_be(iv);
    ctx->iv1 = get_be(iv + 4);
}

void blowfish_ssh1_encrypt_blk(void* handle, unsigned char* blk, int len) {
    if (handle) blowfish_lsb_encrypt_cbc(blk, len, &static_cast<ContextPair*>(handle)->enc);
}
void blowfish_ssh1_decrypt_blk(void* handle, unsigned char* blk, int len) {
    if (handle) blowfish_lsb_decrypt_cbc(blk, len, &static_cast<ContextPair*>(handle)->dec);
}
void blowfish_ssh2_encrypt_blk(void* handle, unsigned char* blk, int len) {
    blowfish_msb_encrypt_cbc(blk, len, static_cast<BlowfishContext*>(handle));
}
void blowfish_ssh2_decrypt_blk(void* handle, unsigned char* blk, int len) {
    blowfish_msb_decrypt_cbc(blk, len, static_cast<BlowfishContext*>(handle));
}

/* ---- text form ------------------------------------------------------------------------------- */

int blowfish_tostr(const unsigned char* bytes, int count, char* text, int textsize) {
    if (!bytes || !text || count < 0 || textsize <= 0) return 1;
    // Four characters per byte and the terminator must fit.
    if (static_cast<long>(textsize) < 4L * count + 1) return 1;
    char* out = text;
    for (int i = 0; i < count; ++i, out += 4) std::memcpy(out, kGroups[bytes[i]].data(), 4);
    *out = '\0';
    return 0;
}

int blowfish_fromstr(const char* text, unsigned char* out, int outsize) {
    if (!text || !out || outsize < 0) return 1;
    const std::size_t len = strnlen(text, static_cast<std::size_t>(outsize) * 4 + 1);
    if (len > static_cast<std::size_t>(outsize) * 4) return 1;
    for (std::size_t i = 0; i < len / 4; ++i) out[i] = parse_group(text + 4 * i);
    return 0;
}

/* ---- value routines -------------------------------------------------------------------------- */

CM_RC GM_BLOWF_encrypt_with_key(char* value, int max_len, const unsigned char* key) {
    return encrypt_with(value, max_len, key, true);
}

CM_RC GM_BLOWF_decrypt_with_key(char* value, int val_size, const unsigned char* key) {
    return decrypt_with(value, val_size, key, true);
}

CM_RC GM_BLOWF_encrypt(char* value, int max_len) {
    try {
        return encrypt_value(value, max_len, default_schedule(), true);
    } catch (const std::bad_alloc&) {
        DIAG_TRACE(5, "ERROR: cannot obtain BLOWF handle");
        return CM_RC_FAIL;
    }
}

CM_RC GM_BLOWF_decrypt(char* value, int val_size) {
    try {
        return decrypt_value(value, val_size, default_schedule(), true);
    } catch (const std::bad_alloc&) {
        DIAG_TRACE(5, "%s failed to allocate handle", "GM_BLOWF_decrypt_with_key");
        return CM_RC_FAIL;
    }
}

int blowfish_decrypt_str(char* value, int val_size) {
    try {
        return decrypt_value(value, val_size, default_schedule(), false) == CM_RC_OK ? 0 : 1;
    } catch (const std::bad_alloc&) {
        return 1;
    }
}

CM_RC GM_BLOWF_encrypt_password(char* value, int max_len) {
    SecretBuf key;
    const CM_RC rc = OS_BLOWF_GetCurrentKey(key.bytes, GM_BLOWF_KEY_LEN);
    if (rc != CM_RC_OK) {
        DIAG_TRACE(4, "%s: failed to obtain current blowfish key", "GM_BLOWF_encrypt_password");
        return rc;
    }
    return encrypt_with(value, max_len, key.bytes, true);
}

CM_RC GM_BLOWF_decrypt_password(char* value, int val_size) {
    SecretBuf key;
    const CM_RC rc = OS_BLOWF_GetCurrentKey(key.bytes, GM_BLOWF_KEY_LEN);
    if (rc != CM_RC_OK) {
        DIAG_TRACE(4, "%s: failed to obtain current blowfish key", "GM_BLOWF_decrypt_password");
        return rc;
    }
    return decrypt_with(value, val_size, key.bytes, true);
}

unsigned char* GM_BLOWF_init_key(void) {
    auto* key = static_cast<unsigned char*>(std::malloc(GM_BLOWF_KEY_LEN));
    if (key) build_default_key(key);
    return key;
}

int GM_BLOWF_is_default_key(void) {
    static const char fn[] = "GM_BLOWF_is_default_key";
    SecretBuf current, def;
    if (OS_BLOWF_GetCurrentKey(current.bytes, GM_BLOWF_KEY_LEN) != CM_RC_OK) return 1;
    build_default_key(def.bytes);
    const bool same = std::strncmp(reinterpret_cast<const char*>(current.bytes),
                                   reinterpret_cast<const char*>(def.bytes), GM_BLOWF_KEY_LEN) == 0;
    if (same)
        DIAG_TRACE(4, "%s: Current blowfish key is default key.", fn);
    else
        DIAG_TRACE(4, "%s: Current blowfish key is not default key.", fn);
    return same ? 1 : 0;
}

CM_RC GM_BLOWF_readEncryptedFile(const char* fileName, char* outBuffer, int outBufferSize) {
    static const char fn[] = "GM_BLOWF_readEncryptedFile";
    if (!fileName || !outBuffer || outBufferSize <= 0) return CM_RC_FAIL;
    FILE* file = nullptr;
    if (OS_FILE_fopen(fileName, &file, OS_FILE_READ) != CM_RC_OK || !file) return CM_RC_FAIL;
    DIAG_TRACE(4, "%s start reading the file", fn);

    CM_RC rc = CM_RC_OK;
    std::size_t used = strnlen(outBuffer, static_cast<std::size_t>(outBufferSize));
    char line[kFileLineLen];
    while (std::fgets(line, sizeof line, file)) {
        line[std::strcspn(line, "\n")] = '\0';
        if (GM_BLOWF_decrypt(line, sizeof line) != CM_RC_OK) {
            rc = CM_RC_FAIL;
            break;
        }
        // Count what is really written, the line feed included, so the output always fits.
        const std::size_t need = used + std::strlen(line) + 1;
        if (outBufferSize < 5 || need > static_cast<std::size_t>(outBufferSize - 5)) {
            DIAG_TRACE(4, "%s the provided buffer: %d is smaller than the file: %d", fn, outBufferSize,
                       static_cast<int>(need));
            rc = CM_RC_FAIL;
            break;
        }
        std::snprintf(outBuffer + used, static_cast<std::size_t>(outBufferSize) - used, "%s\n", line);
        used = need;
    }
    OS_FILE_fclose(file);
    return rc;
}

}  // extern "C"
