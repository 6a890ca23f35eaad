/* UTF-8 and UTF-16 conversion of the text layer, used when no globalization table is installed:
 * sequence lengths from the lead byte, surrogates and four-byte sequences replaced, and a sequence
 * cut short by the end of the input (its length or its terminator) ending the conversion there. */
#include <cstring>

#include "globalchelper.h"

namespace {

/* Sequence length by the lead byte's upper four bits; 0 for a byte that cannot lead. */
constexpr int kSeqLen[16] = {1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 2, 2, 3, 4};
constexpr unsigned char kLeadMask[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};

int seq_len(unsigned char lead) { return kSeqLen[lead >> 4]; }

enum class Step { Unit, Skip, Stop };

/* One step of decoding at src[*i] within [0, length): a unit, a skipped byte, or the end. A
 * sequence that runs past the length ends the walk; one that runs into a zero byte gives nothing
 * and the walk goes on at that byte. */
Step decode(const unsigned char* src, int length, int* i, GCUchar* unit, bool warn) {
    const unsigned char c = src[*i];
    const int n = seq_len(c);
    if (n == 0) {
        if (warn) EssGlobalcPrintf("WARNING: invalid byte value 0x%02X in UTF-8 sequence, ignoring it!\n", c);
        ++*i;
        return Step::Skip;
    }
    for (int k = 1; k < n; ++k) {
        if (*i + k >= length) return Step::Stop;
        if (src[*i + k] == 0) {
            *i += k;
            return Step::Skip;
        }
    }
    switch (n) {
    case 1: *unit = c; break;
    case 2: *unit = static_cast<GCUchar>(((c & kLeadMask[2]) << 6) | (src[*i + 1] & 0x3F)); break;
    case 3:
        *unit = static_cast<GCUchar>(((c & kLeadMask[3]) << 12) | ((src[*i + 1] & 0x3F) << 6) | (src[*i + 2] & 0x3F));
        break;
    default:
        if (warn) EssGlobalcPrintf("WARNING: got surrogate pair; ignoring");
        *unit = '?';
        break;
    }
    *i += n;
    return Step::Unit;
}

int utf8_bytes_of(GCUchar u) { return u < 0x80 ? 1 : u < 0x800 ? 2 : 3; }

int units_length(const GCUchar* src) {
    int n = 0;
    while (src[n]) ++n;
    return n + 1;
}

}  // namespace

extern "C" {

int UTF8_mbslen_bytes(const char* str) {
    if (!str) return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(str);
    int i = 0;
    while (s[i]) {
        int n = seq_len(s[i]);
        if (n == 0 || s[i] >= 0xF8) {
            EssGlobalcPrintf("WARNING: invalid first byte value 0x%02X in UTF-8 sequence!\n", s[i]);
            n = 1;
        }
        for (int k = 1; k < n; ++k)
            if (s[i + k] == 0) return i + k + 1;
        i += n;
    }
    return i + 1;
}

int UTF8_mbslen(const char* src, int length) {
    if (!src) return 0;
    if (length == -1) length = UTF8_mbslen_bytes(src);
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    int units = 0;
    for (int i = 0; i < length;) {
        if (seq_len(s[i]) == 0) {
            EssGlobalcPrintf("WARNING: invalid byte 0x%02X in UTF-8 sequence, skipping it!\n", s[i]);
            ++i;
            continue;
        }
        const int n = seq_len(s[i]);
        GCUchar unit;
        const Step step = decode(s, length, &i, &unit, false);
        if (step == Step::Stop) break;
        if (step == Step::Unit) units += n == 4 ? 2 : 1;
    }
    return units;
}

int UTF8_wcslen(const GCUchar* units, int count) {
    if (!units) return 0;
    if (count == -1) count = units_length(units);
    int bytes = 0;
    for (int i = 0; i < count; ++i) bytes += utf8_bytes_of(units[i]);
    return bytes;
}

int UTF8_to_UTF16(GCUchar* dst, int size, const char* src, int length) {
    if (!src) return -1;
    if (size < 0) return -2;
    if (length == -1) length = UTF8_mbslen_bytes(src);
    if (length < 0) return -1;
    if (size == 0) return UTF8_mbslen(src, length);
    if (!dst) return -1;
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    int written = 0;
    for (int i = 0; i < length;) {
        GCUchar unit = 0;
        const Step step = decode(s, length, &i, &unit, true);
        if (step == Step::Stop) break;
        if (step == Step::Skip) continue;
        if (written >= size) return -2;
        dst[written++] = unit;
    }
    return written;
}

int UTF16_to_UTF8(char* dst, int size, const GCUchar* src, int length) {
    if (!src) return 0;
    if (size < 0) return -2;
    if (length == -1) length = units_length(src);
    if (length < 0) return -2;
    if (size == 0) return UTF8_wcslen(src, length);
    if (!dst) return -1;
    auto* out = reinterpret_cast<unsigned char*>(dst);
    int written = 0;
    for (int i = 0; i < length; ++i) {
        const GCUchar u = src[i];
        const int n = utf8_bytes_of(u);
        if (written + n > size) return -2;
        if (u >= 0xD800 && u <= 0xDFFF) EssGlobalcPrintf("WARNING encountered part of a surrogate pair : ignoring");
        if (n == 1) {
            out[written++] = static_cast<unsigned char>(u);
        } else if (n == 2) {
            out[written++] = static_cast<unsigned char>(0xC0 | (u >> 6));
            out[written++] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        } else {
            out[written++] = static_cast<unsigned char>(0xE0 | (u >> 12));
            out[written++] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
            out[written++] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        }
    }
    return written;
}

}  // extern "C"
