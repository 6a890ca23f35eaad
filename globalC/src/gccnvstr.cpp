/* String conversion: the one algorithm behind GCConvertString, GCStringToUnicode and
 * GCUnicodeToString (flags 0, 8 = terminate, +0x4000 = lengths in characters), and the counting
 * of characters and bytes in code-page text. */
#include <cstring>

#include "gc_internal.h"
#include "gccp_internal.h"

namespace {

constexpr uint32_t kTerminate = 8;
constexpr uint32_t kCharMode = 0x4000;

size_t units_length(const GCUchar* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

bool high_surrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool low_surrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The next character of UTF-16 text: a unit, a packed pair, or U+FFFD for a lone surrogate.
uint32_t next_unit_char(const GCUchar* s, size_t i, size_t len, size_t* n) {
    const uint32_t u = s[i];
    *n = 1;
    if (high_surrogate(u) && i + 1 < len && low_surrogate(s[i + 1])) {
        *n = 2;
        return (u << 16) | s[i + 1];
    }
    return high_surrogate(u) || low_surrogate(u) ? gc::kReplacementChar : u;
}

}  // namespace

namespace gc {

int convert_string(GCLocale* result, const GCObjEntry* to_entry, void* dst, int dstlen, const GCObjEntry* from_entry,
                   bool from_single, const void* src, int srclen, uint32_t flags) {
    const bool chars = (flags & kCharMode) != 0;
    const uint32_t base = flags & ~kCharMode;
    if (base != 0 && base != kTerminate) {
        if (result) result->lastrc = GC_ERR_OPTION;
        return -1;
    }
    const bool term = base == kTerminate;
    const CodePage from(from_entry);
    const CodePage to(to_entry);
    const bool src_units = from_entry == nullptr;
    const bool dst_units = to_entry == nullptr;
    if ((!src_units && !from.ok()) || (!dst_units && !to.ok()) || !dst || dstlen < 0) {
        if (result) result->lastrc = GC_ERR_CODEPAGE;
        return -1;
    }
    const auto* bytes = static_cast<const uint8_t*>(src);
    const auto* units = static_cast<const GCUchar*>(src);

    int64_t len = srclen;
    if (chars && len > 0 && src) {
        if (src_units) {
            size_t i = 0;
            for (int64_t c = 0; c < len && units[i]; ++c)
                i += high_surrogate(units[i]) && low_surrogate(units[i + 1]) ? 2 : 1;
            len = static_cast<int64_t>(i);
        } else {
            const size_t limit =
                strnlen(static_cast<const char*>(src), static_cast<size_t>(len) * (from.maxlen() + 2u));
            len = chars_to_bytes(from, bytes, limit, false, static_cast<uint32_t>(len));
        }
    }
    auto put_terminator = [&](size_t at) {
        if (dst_units)
            static_cast<GCUchar*>(dst)[at] = 0;
        else
            static_cast<char*>(dst)[at] = '\0';
    };
    if (result) result->lastrc = GC_OK;
    if (dstlen == 0 || len == 0 || !src) {
        if (term && dstlen != 0) {
            put_terminator(0);
            return 1;
        }
        return 0;
    }
    bool terminated = false;
    if (len < 0) {
        len = static_cast<int64_t>(src_units ? units_length(units) : std::strlen(static_cast<const char*>(src)));
        terminated = true;
    }

    const size_t room = static_cast<size_t>(dstlen) - (term ? 1 : 0);
    const uint8_t repl = dst_units ? 0 : to.repl();
    const uint32_t repl_value = dst_units ? 0 : to.decode(&repl, 1);
    uint32_t rc = GC_OK;
    size_t i = 0;
    size_t out = 0;
    size_t count = 0;
    while (i < static_cast<size_t>(len)) {
        size_t n;
        uint32_t value;
        if (src_units) {
            value = next_unit_char(units, i, static_cast<size_t>(len), &n);
        } else {
            n = from_single ? 1 : from.char_len(bytes + i, static_cast<size_t>(len) - i);
            if (i + n > static_cast<size_t>(len)) break;
            value = from.decode(bytes + i, static_cast<uint32_t>(n));
        }
        uint8_t encoded[4];
        uint32_t k;
        if (dst_units) {
            k = value > 0xFFFF ? 2 : 1;
        } else if (value == kReplacementChar) {
            encoded[0] = repl;
            k = 1;
        } else {
            k = to.encode(value, encoded, repl);
        }
        if (out + k > room || (chars && count + 1 > room)) break;
        if (dst_units) {
            auto* d = static_cast<GCUchar*>(dst) + out;
            if (k == 2) {
                d[0] = static_cast<GCUchar>(value >> 16);
                d[1] = static_cast<GCUchar>(value & 0xFFFF);
            } else {
                d[0] = static_cast<GCUchar>(value);
            }
        } else {
            std::memcpy(static_cast<char*>(dst) + out, encoded, k);
            if (k == 1 && encoded[0] == repl && value != repl_value) rc = GC_REPLACED;
        }
        out += k;
        ++count;
        i += n;
    }
    size_t written = chars ? count : out;
    if (term) {
        put_terminator(out);
        ++written;
    } else if (terminated && i >= static_cast<size_t>(len) && out < static_cast<size_t>(dstlen)) {
        put_terminator(out);
    }
    if (result) result->lastrc = rc;
    return static_cast<int>(written);
}

}  // namespace gc

extern "C" int GCConvertString(GCLocale* to, char* dst, int dstlen, GCLocale* from, const char* src, int srclen,
                               uint32_t flags) {
    if (!to || !from) return -1;
    return gc::convert_string(to, to->codepage, dst, dstlen, from->codepage, (from->flags & GC_LOC_SINGLEBYTE) != 0,
                              src, srclen, flags);
}

extern "C" uint32_t GCCpStrByteToCharLen(const GCObjEntry* codepage, const unsigned char* bytes, int start_in_double,
                                         int length) {
    const gc::CodePage cp(codepage);
    if (!cp.ok() || !bytes) return 0;
    const size_t limit = length < 0 ? std::strlen(reinterpret_cast<const char*>(bytes)) : static_cast<size_t>(length);
    return gc::count_chars(cp, bytes, limit, start_in_double != 0);
}

extern "C" uint32_t GCCpStrCharToByteLen(const GCObjEntry* codepage, const unsigned char* bytes, int start_in_double,
                                         int characters) {
    const gc::CodePage cp(codepage);
    if (!cp.ok() || !bytes || characters <= 0) return 0;
    // The text ends at its terminator at the latest.
    const size_t limit = std::strlen(reinterpret_cast<const char*>(bytes));
    return gc::chars_to_bytes(cp, bytes, limit, start_in_double != 0, static_cast<uint32_t>(characters));
}

extern "C" uint32_t GCOffsetOfLastShftCodeEx(const unsigned char* bytes, uint8_t shift_in, uint8_t shift_out) {
    if (!bytes || bytes[0] == 0) return 0;
    const size_t run = gc::shift_run(bytes, std::strlen(reinterpret_cast<const char*>(bytes)), shift_in, shift_out);
    return run == 0 ? 0 : static_cast<uint32_t>(run - 1);
}
