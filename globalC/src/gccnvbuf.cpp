/* Conversion handles: text converted between two locales in pieces of any size, partial
 * characters and shift states kept between calls (GCOpenConversion, GCConvertBuffer,
 * GCCloseConversion). */
#include <cstring>

#include "gc_internal.h"
#include "gccp_internal.h"

extern "C" GCCnvDesc* GCOpenConversion(GCLocale* to, GCLocale* from) {
    if (!to || !from) return nullptr;
    auto* h = static_cast<GCCnvDesc*>(gc::allocate(sizeof(GCCnvDesc)));
    if (!h) {
        to->lastrc = GC_ERR_NOMEM;
        return nullptr;
    }
    std::memset(static_cast<void*>(h), 0, sizeof *h);
    h->from = from;
    h->to = to;
    return h;
}

extern "C" uint32_t GCCloseConversion(GCCnvDesc* h) {
    if (!h) return GC_OK;
    return gc::release(h) ? GC_OK : GC_ERR_NOTFREED;
}

namespace {

void deliver(unsigned char** out, uint32_t* out_left, const uint8_t* bytes, uint32_t n) {
    std::memcpy(*out, bytes, n);
    *out += n;
    *out_left -= n;
}

}  // namespace

extern "C" uint32_t GCConvertBuffer(GCCnvDesc* h, unsigned char** out, uint32_t* out_left, const unsigned char** in,
                                    uint32_t* in_left) {
    if (!h || !out || !out_left || !in || !in_left || !h->from || !h->to) return GC_ERR_OPTION;
    const gc::CodePage from(h->from->codepage);
    const gc::CodePage to(h->to->codepage);
    if (!from.ok() || !to.ok()) return GC_ERR_CODEPAGE;
    const bool from_single = (h->from->flags & GC_LOC_SINGLEBYTE) != 0;

    // Output converted before and not yet delivered goes first.
    if (h->noutpend) {
        const uint32_t n = h->noutpend < *out_left ? h->noutpend : *out_left;
        deliver(out, out_left, h->outpend, n);
        std::memmove(h->outpend, h->outpend + n, h->noutpend - n);
        h->noutpend = static_cast<uint8_t>(h->noutpend - n);
        if (h->noutpend) return GC_BUFFER_FULL;
    }
    for (;;) {
        uint32_t value;
        if (h->ninpend) {
            // Complete the character begun in an earlier call.
            uint8_t bytes[8];
            std::memcpy(bytes, h->inpend, h->ninpend);
            const uint32_t extra = *in_left < 4 ? *in_left : 4;
            std::memcpy(bytes + h->ninpend, *in, extra);
            const uint32_t n = from.stateful() ? (h->instate ? from.maxlen() : 1)
                                               : (from_single ? 1 : from.char_len(bytes, h->ninpend + extra));
            if (h->ninpend + *in_left < n) {
                std::memcpy(h->inpend + h->ninpend, *in, *in_left);
                h->ninpend = static_cast<uint8_t>(h->ninpend + *in_left);
                *in += *in_left;
                *in_left = 0;
                return GC_INCOMPLETE;
            }
            const uint32_t take = n - h->ninpend;
            *in += take;
            *in_left -= take;
            h->ninpend = 0;
            value = from.decode(bytes, n);
        } else {
            if (*in_left == 0) return GC_OK;
            uint32_t n;
            if (from.stateful()) {
                if (const size_t run = gc::shift_run(*in, *in_left, from.cp().si, from.cp().so)) {
                    h->instate = (*in)[run - 1] != from.cp().si;
                    *in += run;
                    *in_left -= static_cast<uint32_t>(run);
                    continue;
                }
                n = h->instate ? from.maxlen() : 1;
            } else {
                n = from_single ? 1 : from.char_len(*in, *in_left);
            }
            if (*in_left < n) {
                std::memcpy(h->inpend, *in, *in_left);
                h->ninpend = static_cast<uint8_t>(*in_left);
                *in += *in_left;
                *in_left = 0;
                return GC_INCOMPLETE;
            }
            value = from.decode(*in, n);
            *in += n;
            *in_left -= n;
        }

        uint8_t encoded[5];
        uint32_t k = 0;
        uint8_t scratch[4];
        const uint32_t bytes = to.encode(value, scratch, to.repl());
        if (to.stateful()) {
            if (bytes == 1 && h->outstate) {
                encoded[k++] = to.cp().si;
                h->outstate = 0;
            } else if (bytes > 1 && !h->outstate) {
                encoded[k++] = to.cp().so;
                h->outstate = 1;
            }
        }
        std::memcpy(encoded + k, scratch, bytes);
        k += bytes;
        if (k <= *out_left) {
            deliver(out, out_left, encoded, k);
            continue;
        }
        const uint32_t n = *out_left;
        deliver(out, out_left, encoded, n);
        std::memcpy(h->outpend, encoded + n, k - n);
        h->noutpend = static_cast<uint8_t>(k - n);
        return GC_BUFFER_FULL;
    }
}
