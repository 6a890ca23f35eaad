/* Encoders and decoders of the fixed-width number fields: base 36 in two alphabets, base 26 and
 * signed base 10. Owns the alphabets and their fill characters. */
#include "gm_36.h"

#include "os_diag.h"

namespace {

constexpr char kNormal36[] = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr char kReversed36[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr char kFillNormal36 = '0';
constexpr char kFillReversed36 = 'A'; /* an upper-case letter, which reads back as 0 */
constexpr char kFill26 = 'a';
constexpr char kFill10 = '0';

/* |n| without overflow for the most negative value. */
unsigned long magnitude(long n) { return n < 0 ? 0UL - static_cast<unsigned long>(n) : static_cast<unsigned long>(n); }

/* Writes the lowest `width` digits of value from the right end of the field, then the fill;
 * returns the number of fill positions left of the digits. */
int write_field(unsigned long value, unsigned long base, char (*digit)(unsigned long), char fill, char* buffer,
                int width) {
    int i = width - 1;
    for (; i >= 0 && value > 0; --i, value /= base) buffer[i] = digit(value % base);
    const int fill_count = i + 1;
    for (; i >= 0; --i) buffer[i] = fill;
    return fill_count;
}

char normal36(unsigned long d) { return GM_36_digit_to_base_36(static_cast<unsigned>(d), 0); }
char reversed36(unsigned long d) { return GM_36_digit_to_base_36(static_cast<unsigned>(d), 1); }
char base10(unsigned long d) { return GM_36_digit_to_base_10(static_cast<long>(d)); }

CM_RC long_to_base_36(long n, char* buffer, int width, int reverse) {
    if (buffer == nullptr) return CM_RC_FAIL;
    write_field(magnitude(n), 36, reverse ? reversed36 : normal36, reverse ? kFillReversed36 : kFillNormal36, buffer,
                width);
    return CM_RC_OK;
}

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
int letter_value(char c) { return c >= 'a' ? c - 'a' : c - 'A'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

extern "C" {

char GM_36_digit_to_base_36(unsigned d, int reverse) {
    if (d > 35) {
        DIAG_ERROR("GM_36: input (%u) too big.", d);
        d = 35;
    }
    return reverse ? kReversed36[d] : kNormal36[d];
}

int GM_36_base_36_to_digit(char c, int reverse) {
    if (!is_digit(c) && !is_letter(c)) {
        DIAG_ERROR("GM_36_base_36_to_digit: Illegal input(%c).", c);
        c = '0';
    }
    if (is_digit(c)) return reverse ? 26 + (c - '0') : c - '0';
    return reverse ? letter_value(c) : 10 + letter_value(c);
}

CM_RC GM_36_int_to_base_36(int n, char* buffer, int width, int reverse) {
    return long_to_base_36(n, buffer, width, reverse);
}

CM_RC GM_36_long_to_base_36(long n, char* buffer, int width, int reverse) {
    return long_to_base_36(n, buffer, width, reverse);
}

CM_RC GM_36_base_36_to_int(const char* text, int width, int* n, int reverse) {
    if (text == nullptr || n == nullptr) return CM_RC_FAIL;
    /* Unsigned arithmetic: a field too wide for an int wraps instead of overflowing. */
    unsigned value = 0;
    for (int i = 0; i < width && text[i] != '\0'; ++i) {
        if (text[i] == ' ') continue;
        value = value * 36u + static_cast<unsigned>(GM_36_base_36_to_digit(text[i], reverse));
    }
    *n = static_cast<int>(value);
    return CM_RC_OK;
}

char GM_36_digit_to_base_26(unsigned long d) {
    if (d > 25) {
        DIAG_ERROR("GM_26: input (%lu) too big.", d);
        d = 25;
    }
    return static_cast<char>('a' + d);
}

int GM_36_base_26_to_digit(char c) {
    if (!is_digit(c) && !is_letter(c)) {
        DIAG_ERROR("GM_26_base_26_to_digit: Illegal input(%c).", c);
        c = '0';
    }
    if (is_digit(c)) return 26 + (c - '0');
    return letter_value(c);
}

CM_RC GM_36_int_to_base_26(unsigned long n, char* buffer, int width) {
    if (buffer == nullptr) return CM_RC_FAIL;
    write_field(n, 26, GM_36_digit_to_base_26, kFill26, buffer, width);
    return CM_RC_OK;
}

CM_RC GM_36_base_26_to_int(const char* text, int width, unsigned* n) {
    if (text == nullptr || n == nullptr) return CM_RC_FAIL;
    unsigned value = 0;
    for (int i = 0; i < width && text[i] != '\0'; ++i) {
        if (text[i] == ' ') continue;
        value = value * 26u + static_cast<unsigned>(GM_36_base_26_to_digit(text[i]));
    }
    *n = value;
    return CM_RC_OK;
}

char GM_36_digit_to_base_10(long d) {
    unsigned long m = magnitude(d);
    if (m > 9) {
        DIAG_ERROR("GM_36: input (%ld) too big.", d);
        m = 9;
    }
    return static_cast<char>('0' + m);
}

CM_RC GM_36_int_to_base_10(long n, char* buffer, int width) {
    if (buffer == nullptr) return CM_RC_FAIL;
    const int fill_count = write_field(magnitude(n), 10, base10, kFill10, buffer, width);
    if (n < 0 && fill_count > 0) buffer[0] = '-';
    return CM_RC_OK;
}

}  // extern "C"
