/* Per-character conversion: the UTF-8 rules used throughout the library (a code point above the
 * BMP travels as a surrogate pair packed into a u32, high unit first). */
#include "gc_internal.h"

extern "C" uint32_t GCUnicodeToUTF8(uint32_t value, unsigned char* out) {
    if (value > 0xFFFF) {
        const uint32_t cp = 0x10000 + ((((value >> 16) & 0x3FF) << 10) | (value & 0x3FF));
        out[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
        out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 4;
    }
    if (value < 0x80) {
        out[0] = static_cast<unsigned char>(value);
        return 1;
    }
    if (value < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (value >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (value & 0x3F));
        return 2;
    }
    out[0] = static_cast<unsigned char>(0xE0 | (value >> 12));
    out[1] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (value & 0x3F));
    return 3;
}

extern "C" uint32_t GCUTF8ToUnicode(const unsigned char* in, uint16_t* length) {
    const uint32_t b0 = in[0];
    uint16_t n;
    uint32_t value;
    if (b0 < 0x80) {
        n = 1;
        value = b0;
    } else if (b0 <= 0xDF) {
        n = 2;
        value = ((b0 & 0x1F) << 6) | (in[1] & 0x3F);
    } else if (b0 <= 0xEF) {
        n = 3;
        value = ((b0 & 0x0F) << 12) | ((in[1] & 0x3Fu) << 6) | (in[2] & 0x3F);
    } else {
        n = 4;
        const uint32_t cp = ((b0 & 0x07) << 18) | ((in[1] & 0x3Fu) << 12) | ((in[2] & 0x3Fu) << 6) | (in[3] & 0x3F);
        const uint32_t v = cp - 0x10000;
        value = ((0xD800 + ((v >> 10) & 0x3FF)) << 16) | (0xDC00 + (v & 0x3FF));
    }
    if (length) *length = n;
    return value;
}
