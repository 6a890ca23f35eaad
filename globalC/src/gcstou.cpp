/* Code-page text to UTF-16: GCStringToUnicode (through a locale, with the string calls' flags),
 * GCCpStrToUnicode (through a code page, following shift codes on stateful pages) and
 * GCComStrToUnicode (through the library's code page 1). */
#include <cstring>

#include "gc_internal.h"
#include "gccp_internal.h"

extern "C" int GCStringToUnicode(GCUchar* dst, int dstlen, GCLocale* from, const char* src, int srclen,
                                 uint32_t flags) {
    if (!from) return -1;
    from->lastrc = GC_OK;
    return gc::convert_string(from, nullptr, dst, dstlen, from->codepage, (from->flags & GC_LOC_SINGLEBYTE) != 0, src,
                              srclen, flags);
}

extern "C" int GCCpStrToUnicode(const GCObjEntry* codepage, const unsigned char* bytes, int length, GCUchar* out) {
    const gc::CodePage cp(codepage);
    if (!cp.ok() || !bytes || !out) return -1;
    if (length < 0 && bytes[0] == 0) return -1;
    const size_t len = length < 0 ? std::strlen(reinterpret_cast<const char*>(bytes)) : static_cast<size_t>(length);
    bool dbl = false;
    int units = 0;
    for (size_t i = 0; i < len;) {
        size_t n;
        if (cp.stateful()) {
            if (const size_t run = gc::shift_run(bytes + i, len - i, cp.cp().si, cp.cp().so)) {
                dbl = bytes[i + run - 1] != cp.cp().si;
                i += run;
                continue;
            }
            n = dbl ? cp.maxlen() : 1;
        } else {
            n = cp.char_len(bytes + i, len - i);
        }
        if (i + n > len) break;
        const uint32_t value = cp.decode(bytes + i, static_cast<uint32_t>(n));
        if (value > 0xFFFF) {
            out[units++] = static_cast<GCUchar>(value >> 16);
            out[units++] = static_cast<GCUchar>(value & 0xFFFF);
        } else {
            out[units++] = static_cast<GCUchar>(value);
        }
        i += n;
    }
    return units;
}

extern "C" int GCComStrToUnicode(const unsigned char* bytes, int length, GCUchar* out) {
    uint32_t rc = 0;
    const GCObjEntry* cp = GCGetObjFromID(gc::state().ocx, GC_OBJ_CODEPAGE, 1, 0, &rc);
    if (!cp) return -1;
    return GCCpStrToUnicode(cp, bytes, length, out);
}
