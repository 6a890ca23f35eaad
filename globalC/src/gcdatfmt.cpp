/* Locale data file formats: the checks that a section holds its fixed part and that its offsets
 * stay inside it, and the up-conversion of version 1 and 2 headers, code pages and sorts to the
 * version 3 layout that the rest of the library reads. */
#include <cstddef>
#include <cstring>

#include "gc_internal.h"
#include "gccp_internal.h"

namespace {

constexpr uint32_t kCpV2Fixed = sizeof(GCCpV2);
constexpr uint32_t kCpV1Fixed = sizeof(GCCpV1);
constexpr uint32_t kSortV1Fixed = sizeof(GCSortV1);

bool fits(uint64_t offset, uint64_t length, uint64_t size) { return offset <= size && length <= size - offset; }

// The three sub-table offsets of an older code page, moved with its multi-byte part to 8776.
uint32_t moved_offset(uint32_t old_value, uint32_t old_mboff) {
    const int64_t moved = static_cast<int64_t>(old_value) + GC_CP_MB_OFFSET - old_mboff;
    return moved < 0 || moved > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(moved);
}

uint32_t round_up4(uint32_t n) { return (n + 3u) & ~3u; }

// Copies an older code page's multi-byte part to 8776 and moves its three sub-table offsets with it.
void move_mb_part(GCCp* cp, const void* section1, uint32_t size, uint32_t old_mboff, const uint16_t suboff[3]) {
    std::memcpy(reinterpret_cast<char*>(cp) + GC_CP_MB_OFFSET, static_cast<const char*>(section1) + old_mboff,
                size - old_mboff);
    cp->mboff = GC_CP_MB_OFFSET;
    cp->pairoff = moved_offset(suboff[0], old_mboff);
    cp->trieoff = moved_offset(suboff[1], old_mboff);
    cp->recoff = moved_offset(suboff[2], old_mboff);
}

}  // namespace

namespace gc {

uint32_t cp_v3_size(uint8_t maxlen, uint32_t old_size, uint32_t old_mboff) {
    return maxlen < 2 ? GC_CP_FIXED_SIZE : old_size - old_mboff + GC_CP_MB_OFFSET;
}

uint32_t cp_v1_section2_size(uint32_t size2, uint32_t nodesize) {
    const uint32_t n = nodesize / 4;
    return size2 - nodesize + round_up4(6 * n) + 6 * n;
}

uint32_t check_cp_v2(const void* s1, uint32_t size) {
    if (!s1 || size < kCpV2Fixed) return GC_ERR_NOTLOCALE;
    const auto* cp = static_cast<const GCCpV2*>(s1);
    if (cp->head[offsetof(GCCp, maxlen)] >= 2 && cp->mboff > size) return GC_ERR_NOTLOCALE;
    return GC_OK;
}

uint32_t check_cp_v1(const void* s1, uint32_t size1, uint32_t size2) {
    if (!s1 || size1 < kCpV1Fixed) return GC_ERR_NOTLOCALE;
    const auto* cp = static_cast<const GCCpV1*>(s1);
    if (cp->maxlen >= 2 && (cp->mboff > size1 || (size2 > 0 && cp->nodesize > size2))) return GC_ERR_NOTLOCALE;
    return GC_OK;
}

uint32_t check_sort_v1(const void* s1, uint32_t size) {
    if (!s1 || size < kSortV1Fixed) return GC_ERR_NOTLOCALE;
    return static_cast<const GCSortV1*>(s1)->wtoff > size ? GC_ERR_NOTLOCALE : GC_OK;
}

uint32_t check_object(const GCObjEntry* entry) {
    const void* s1 = entry->sect[0];
    const uint32_t size = section_size(entry, 0);
    if (!s1) return GC_ERR_NOTLOCALE;
    switch (entry->type) {
    case GC_OBJ_LANGUAGE:
        if (size < GC_LANG_FIXED_SIZE) return GC_ERR_NOTLOCALE;
        for (uint32_t item = 0; item < GC_LANG_ITEMS; ++item)
            if (read_u16(s1, 2 * (5 + item)) > size) return GC_ERR_NOTLOCALE;
        return GC_OK;
    case GC_OBJ_TERRITORY:
        if (size < GC_TERR_FIXED_SIZE) return GC_ERR_NOTLOCALE;
        for (uint32_t at = 22; at <= 44; at += 2)
            if (read_u16(s1, at) > size) return GC_ERR_NOTLOCALE;
        return GC_OK;
    case GC_OBJ_CODEPAGE: {
        if (size < GC_CP_FIXED_SIZE) return GC_ERR_NOTLOCALE;
        const auto* cp = static_cast<const GCCp*>(s1);
        if (!lengths_fit(*cp)) return GC_ERR_NOTLOCALE;
        if (cp->mboff != 0 && !fits(cp->mboff, 256 * 4, size)) return GC_ERR_NOTLOCALE;
        if (cp->npairs != 0 && !fits(cp->pairoff, 8ull * cp->npairs, size)) return GC_ERR_NOTLOCALE;
        if (cp->pairoff > size || cp->trieoff > size || cp->recoff > size) return GC_ERR_NOTLOCALE;
        if (cp->valoff > section_size(entry, 1)) return GC_ERR_NOTLOCALE;
        return GC_OK;
    }
    case GC_OBJ_SORT: {
        if (size < GC_SORT_FIXED_SIZE) return GC_ERR_NOTLOCALE;
        const auto* so = static_cast<const GCSort*>(s1);
        if (so->wtoff > size || !fits(so->expoff, 14ull * so->nexp, size) ||
            !fits(so->comboff, 10ull * so->ncomb, size))
            return GC_ERR_NOTLOCALE;
        return GC_OK;
    }
    default: return GC_ERR_NOTLOCALE;
    }
}

}  // namespace gc

extern "C" GCFileHdr* GCFileHdrV2toV3(const GCFileHdrV2* old) {
    if (!old) return nullptr;
    auto* hdr = static_cast<GCFileHdr*>(gc::allocate(sizeof(GCFileHdr)));
    if (!hdr) return nullptr;
    std::memset(hdr, 0, sizeof *hdr);
    hdr->magic = old->magic;
    hdr->version = GC_VERSION_CURRENT;
    hdr->nsect = old->nsect;
    hdr->sect[0] = GCSectDesc{old->size1, old->offset1};
    for (int i = 0; i < 3; ++i) hdr->sect[i + 1] = GCSectDesc{old->sect[i].size, old->sect[i].offset};
    std::memcpy(hdr->reserved, old->reserved, sizeof hdr->reserved);
    hdr->reserved2 = old->reserved2;
    return hdr;
}

extern "C" void* GCCpV2toV3(const void* section1, uint32_t size) {
    if (gc::check_cp_v2(section1, size) != GC_OK) return nullptr;
    const auto* old = static_cast<const GCCpV2*>(section1);
    const uint8_t maxlen = old->head[offsetof(GCCp, maxlen)];
    const uint32_t new_size = gc::cp_v3_size(maxlen, size, old->mboff);
    auto* cp = static_cast<GCCp*>(gc::allocate(new_size));
    if (!cp) return nullptr;
    std::memset(cp, 0, maxlen < 2 ? new_size : GC_CP_MB_OFFSET);
    std::memcpy(cp, old->head, sizeof old->head);
    cp->pad1[0] = cp->pad1[1] = 0;
    cp->flags = old->flags;
    if (maxlen >= 2) {
        const uint16_t suboff[3] = {old->suboff[0], old->suboff[1], old->suboff[2]};
        move_mb_part(cp, section1, size, old->mboff, suboff);
        cp->valoff = old->valoff;
    }
    return cp;
}

extern "C" void* GCCpV1toV3(const void* section1, uint32_t size1, const void* section2, uint32_t size2,
                            void** new_section2) {
    if (new_section2) *new_section2 = nullptr;
    if (!section2) size2 = 0;
    if (gc::check_cp_v1(section1, size1, size2) != GC_OK) return nullptr;
    const auto* old = static_cast<const GCCpV1*>(section1);
    const uint32_t new_size = gc::cp_v3_size(old->maxlen, size1, old->mboff);
    auto* cp = static_cast<GCCp*>(gc::allocate(new_size));
    if (!cp) return nullptr;
    std::memset(cp, 0, old->maxlen < 2 ? new_size : GC_CP_MB_OFFSET);
    cp->repl = old->repl;
    std::memcpy(cp->ctl, old->ctl, sizeof cp->ctl);
    cp->maxlen = old->maxlen;
    cp->npairs = old->npairs;
    // Version 1 has no shift bytes; a stateful page of that age used the usual ones.
    cp->so = 0x0E;
    cp->si = 0x0F;
    std::memcpy(cp->len, old->len, sizeof cp->len);
    std::memcpy(cp->upper, old->upper, sizeof cp->upper);
    std::memcpy(cp->lower, old->lower, sizeof cp->lower);
    std::memcpy(cp->uni, old->uni, sizeof cp->uni);
    std::memcpy(cp->ctype, old->ctype, sizeof cp->ctype);
    std::memcpy(cp->enc, old->enc, sizeof cp->enc);
    cp->flags = old->flags;
    if (old->maxlen < 2) return cp;

    const uint16_t suboff[3] = {old->suboff[0], old->suboff[1], old->suboff[2]};
    move_mb_part(cp, section1, size1, old->mboff, suboff);
    cp->valoff = 0;
    if (size2 == 0) return cp;

    const uint32_t n = old->nodesize / 4;
    const uint32_t values_at = round_up4(6 * n) + 6 * n;
    const uint32_t s2_size = gc::cp_v1_section2_size(size2, old->nodesize);
    auto* s2 = static_cast<unsigned char*>(gc::allocate(s2_size));
    if (!s2) {
        gc::release(cp);
        return nullptr;
    }
    std::memset(s2, 0, values_at);
    const auto* nodes = static_cast<const unsigned char*>(section2);
    for (uint32_t i = 0; i < n; ++i) {
        GCCpNodeV1 v1;
        std::memcpy(&v1, nodes + 4 * i, sizeof v1);
        const GCCpNode v3{v1.leaf, v1.mask, 0, 255, v1.base};
        std::memcpy(s2 + 6 * i, &v3, sizeof v3);
    }
    std::memcpy(s2 + values_at, nodes + old->nodesize, size2 - old->nodesize);
    cp->valoff = values_at;
    if (new_section2) *new_section2 = s2;
    return cp;
}

extern "C" void* GCSortV1toV3(const void* section1, uint32_t size) {
    if (gc::check_sort_v1(section1, size) != GC_OK) return nullptr;
    const auto* old = static_cast<const GCSortV1*>(section1);
    const uint32_t new_size = size - old->wtoff + GC_SORT_FIXED_SIZE;
    auto* so = static_cast<GCSort*>(gc::allocate(new_size));
    if (!so) return nullptr;
    std::memset(so, 0, GC_SORT_FIXED_SIZE);
    std::memcpy(so->head, old->head, sizeof so->head);
    so->nexp = old->nexp;
    so->ncomb = old->ncomb;
    for (int i = 0; i < 256; ++i) {
        so->row[i].flags = old->row[i].flags;
        so->row[i].cls = old->row[i].cls;
        so->row[i].base = old->row[i].base;
    }
    auto moved = [&](uint32_t v) {
        const int64_t m = static_cast<int64_t>(v) + GC_SORT_FIXED_SIZE - old->wtoff;
        return m < 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(m);
    };
    so->wtoff = GC_SORT_FIXED_SIZE;
    so->expoff = moved(old->expoff);
    so->comboff = moved(old->comboff);
    std::memcpy(reinterpret_cast<char*>(so) + GC_SORT_FIXED_SIZE, static_cast<const char*>(section1) + old->wtoff,
                size - old->wtoff);
    return so;
}
