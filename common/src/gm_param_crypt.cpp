/* The reversible hexadecimal form in which older agent files keep some values (stored database
 * passwords among them): each byte XORed with two built-in key strings, written as two lower-case
 * hexadecimal digits. It hides a value from a casual reader; it is not encryption. */
#include "gm_param.h"

#include <cstdio>
#include <cstring>

namespace {

// The two key strings. Values hidden by another build reveal correctly only with the same pair.
constexpr char kKey1[] = "VOLCANO";      // 7 upper-case letters
constexpr char kKey2[] = "MERIDIANUS4";  // 10 upper-case letters and a digit
static_assert(sizeof kKey1 - 1 == 7 && sizeof kKey2 - 1 == 11);

constexpr int kWorkText = 2048;   // bytes of the working text
constexpr int kFieldLength = 64;  // bytes of the field of GM_PARAM_encrypt / GM_PARAM_decrypt

unsigned char mask(int i) { return static_cast<unsigned char>(kKey1[i % 7] ^ kKey2[i % 11]); }

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void hide(char* value, int len) {
    static const char digits[] = "0123456789abcdef";
    char work[kWorkText];
    for (int i = 0; i < len; ++i) {
        const unsigned char b = static_cast<unsigned char>(value[i]) ^ mask(i);
        work[2 * i] = digits[b >> 4];
        work[2 * i + 1] = digits[b & 0x0f];
    }
    work[2 * len] = '\0';
    std::memcpy(value, work, 2 * static_cast<std::size_t>(len) + 1);
}

// Reads up to len digit pairs, stopping at the end of the text or at the first pair that is not
// two hexadecimal digits, so that a short or plain text is never read beyond its end.
void reveal(char* value, int len) {
    char work[kWorkText + 1];
    int n = 0;
    for (; n < len; ++n) {
        const int high = hex_digit(value[2 * n]);
        if (high < 0) break;
        const int low = hex_digit(value[2 * n + 1]);
        if (low < 0) break;
        work[n] = static_cast<char>((high << 4 | low) ^ mask(n));
    }
    work[n] = '\0';
    std::size_t end = std::strlen(work);
    while (end > 0 && work[end - 1] == ' ') --end;  // trailing blanks removed
    work[end] = '\0';
    std::memcpy(value, work, end + 1);
}

}  // namespace

extern "C" {

CM_RC GM_PARAM_encrypt(char* value) {
    if (value) hide(value, kFieldLength);
    return CM_RC_OK;
}

CM_RC GM_PARAM_decrypt(char* value) {
    if (value) reveal(value, kFieldLength);
    return CM_RC_OK;
}

CM_RC GM_PARAM_encryptEx(char* value, int len) {
    if (value && len > 0) hide(value, len < (kWorkText - 1) / 2 ? len : (kWorkText - 1) / 2);
    return CM_RC_OK;
}

CM_RC GM_PARAM_decryptEx(char* value, int len) {
    if (value && len > 0) reveal(value, len < kWorkText - 1 ? len : kWorkText - 1);
    return CM_RC_OK;
}

}  // extern "C"
