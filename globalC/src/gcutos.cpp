/* UTF-16 to code-page text: GCUnicodeToString (through a locale, with the string calls' flags),
 * GCCpUnicodeToStr (through a code page, with shift codes on stateful pages) and
 * GCComUnicodeToStr (through the library's code page 1, terminated). */
#include "gc_internal.h"
#include "gccp_internal.h"

extern "C" int GCUnicodeToString(GCLocale* to, char* dst, int dstlen, const GCUchar* src, int srclen, uint32_t flags) {
    if (!to) return -1;
    to->lastrc = GC_OK;
    return gc::convert_string(to, to->codepage, dst, dstlen, nullptr, false, src, srclen, flags);
}

extern "C" int GCCpUnicodeToStr(const GCObjEntry* codepage, const GCUchar* units, int start_in_double, int count,
                                unsigned char* out) {
    const gc::CodePage cp(codepage);
    if (!cp.ok() || !units || !out) return 0;
    size_t len = 0;
    if (count < 0)
        while (units[len]) ++len;
    else
        len = static_cast<size_t>(count);
    bool dbl = start_in_double != 0;
    int written = 0;
    for (size_t i = 0; i < len; ++i) {
        uint32_t value = units[i];
        if (value >= 0xD800 && value <= 0xDBFF && i + 1 < len && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF)
            value = (value << 16) | units[++i];
        else if (value >= 0xD800 && value <= 0xDFFF)
            value = gc::kReplacementChar;
        uint8_t encoded[4];
        uint32_t k;
        if (value == gc::kReplacementChar) {
            encoded[0] = cp.repl();
            k = 1;
        } else {
            k = cp.encode(value, encoded, cp.repl());
        }
        if (cp.stateful()) {
            if (k == 1 && dbl) {
                out[written++] = cp.cp().si;
                dbl = false;
            } else if (k > 1 && !dbl) {
                out[written++] = cp.cp().so;
                dbl = true;
            }
        }
        for (uint32_t b = 0; b < k; ++b) out[written++] = encoded[b];
    }
    if (cp.stateful() && dbl) out[written++] = cp.cp().si;
    return written;
}

extern "C" int GCComUnicodeToStr(const GCUchar* units, int count, unsigned char* out) {
    uint32_t rc = 0;
    const GCObjEntry* cp = GCGetObjFromID(gc::state().ocx, GC_OBJ_CODEPAGE, 1, 0, &rc);
    if (!cp || !out) return -1;
    if (count < 0 && units && units[0] == 0) return -1;
    const int n = GCCpUnicodeToStr(cp, units, 0, count, out);
    out[n] = '\0';
    return n;
}
