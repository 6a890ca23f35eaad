/* Collation weights from a sort object: the weights of one character (computed rows, table
 * entries, expansions), of a two-character combination, the list of combinations, and every
 * character sharing a primary weight with a given one. Every index into the sort is checked. */
#include <cstring>

#include "gc_internal.h"

namespace {

constexpr uint16_t kAlternative = 0x8000;
constexpr uint16_t kExpansion = 0x4000;

uint8_t info_class(uint16_t info) { return static_cast<uint8_t>((info >> 10) & 0x0F); }

// A checked view of a loaded sort section.
class Sort {
public:
    explicit Sort(const GCObjEntry* e) {
        if (!e || e->type != GC_OBJ_SORT || !e->sect[0] || gc::section_size(e, 0) < GC_SORT_FIXED_SIZE) return;
        s_ = static_cast<const GCSort*>(e->sect[0]);
        base_ = static_cast<const uint8_t*>(e->sect[0]);
        size_ = gc::section_size(e, 0);
    }
    bool ok() const { return s_ != nullptr; }
    const GCSortRow& row(unsigned i) const { return s_->row[i]; }
    bool weight(uint64_t index, GCSortWeight& w) const { return read(s_->wtoff + 6 * index, w); }
    uint16_t nexp() const { return s_->nexp; }
    uint16_t ncomb() const { return s_->ncomb; }
    bool expansion(uint32_t i, GCSortExp& x) const { return read(s_->expoff + 14ull * i, x); }
    bool combination(uint32_t i, GCSortComb& c) const { return read(s_->comboff + 10ull * i, c); }

private:
    template <typename T>
    bool read(uint64_t at, T& out) const {
        if (at + sizeof out > size_) return false;
        std::memcpy(&out, base_ + at, sizeof out);
        return true;
    }
    const GCSort* s_ = nullptr;
    const uint8_t* base_ = nullptr;
    uint32_t size_ = 0;
};

void set(GCWeightSet* w, uint16_t p, uint8_t s, uint8_t t, uint16_t a) {
    if (w) *w = GCWeightSet{p, s, t, a};
}

// The weight set of a table entry or combination: an alternative weight stands alone.
void from_entry(GCWeightSet* w, uint16_t weight, uint8_t secondary, uint8_t tertiary, uint16_t info) {
    if (info & kAlternative)
        set(w, 0, 0, 0, weight);
    else
        set(w, weight, secondary, tertiary, 0);
}

}  // namespace

extern "C" uint32_t GCSortGetWeights(const GCObjEntry* sort, uint16_t c, GCWeightSet* first, GCWeightSet* second,
                                     uint8_t* cls) {
    const Sort s(sort);
    if (!s.ok()) return 0;
    const GCSortRow& row = s.row(c >> 8);
    const uint8_t low = static_cast<uint8_t>(c & 0xFF);
    if (row.flags & 1) return 0;
    if (row.flags & 2) {
        set(first, static_cast<uint16_t>((row.base & 0xFFFF) + low), 0, 0, 0);
        if (cls) *cls = row.cls;
        return 1;
    }
    if (row.flags & 4) {
        set(first, 0, 0, 0, static_cast<uint16_t>((row.base & 0xFFFF) + low));
        if (cls) *cls = row.cls;
        return 1;
    }
    GCSortWeight w;
    if (!s.weight(static_cast<uint64_t>(row.base) + low, w)) return 0;
    if (cls) *cls = info_class(w.info);
    if (!(w.info & kExpansion)) {
        from_entry(first, w.primary, w.secondary, w.tertiary, w.info);
        return 1;
    }
    for (uint32_t i = 0; i < s.nexp(); ++i) {
        GCSortExp x;
        if (!s.expansion(i, x)) break;
        if (x.ch != c) continue;
        set(first, x.p1, x.s1, x.t1, 0);
        set(second, x.p2, x.s2, x.t2, 0);
        return 2;
    }
    return 0;
}

extern "C" uint32_t GCSortGetCombination(const GCObjEntry* sort, uint16_t c1, uint16_t c2, GCWeightSet* weights,
                                         uint8_t* cls) {
    const Sort s(sort);
    if (!s.ok()) return 0;
    for (uint32_t i = 0; i < s.ncomb(); ++i) {
        GCSortComb comb;
        if (!s.combination(i, comb)) break;
        if (comb.first != c1 || comb.second != c2) continue;
        from_entry(weights, comb.weight, comb.secondary, comb.tertiary, comb.info);
        if (cls) *cls = info_class(comb.info);
        return 1;
    }
    return 0;
}

extern "C" void GCSortGetAllCombinations(const GCObjEntry* sort, GCUchar* out) {
    const Sort s(sort);
    if (!s.ok() || !out) return;
    for (uint32_t i = 0; i < s.ncomb(); ++i) {
        GCSortComb comb;
        if (!s.combination(i, comb)) break;
        *out++ = comb.first;
        *out++ = comb.second;
        *out++ = 0;
    }
}

extern "C" uint32_t GCSortGetSamePrimaryWeight(const GCObjEntry* sort, uint16_t c1, uint16_t c2, GCUchar* out,
                                               uint16_t* ncomb, GCUchar* comb_out) {
    if (ncomb) *ncomb = 0;
    if (!sort) {
        if (c2 != 0) return 0;
        if (out) out[0] = c1;
        return 1;
    }
    const Sort s(sort);
    if (!s.ok()) return 0;
    GCWeightSet first{};
    GCWeightSet second{};
    uint32_t sets;
    if (c2 != 0) {
        if (!GCSortGetCombination(sort, c1, c2, &first, nullptr)) return 0;
        sets = 1;
    } else {
        sets = GCSortGetWeights(sort, c1, &first, &second, nullptr);
        if (sets == 0) return 0;
    }
    uint32_t n = 0;
    if (sets == 2) {
        for (uint32_t i = 0; i < s.nexp(); ++i) {
            GCSortExp x;
            if (!s.expansion(i, x)) break;
            if (x.p1 == first.primary && x.p2 == second.primary && out) out[n++] = x.ch;
        }
        return n;
    }
    const uint32_t p = first.primary;
    for (unsigned r = 0; r < 256; ++r) {
        const GCSortRow& row = s.row(r);
        if (row.flags & 1) continue;
        const uint32_t base = row.base & 0xFFFF;
        if (row.flags & 2) {
            if (base <= p && p <= base + 255 && out) out[n++] = static_cast<GCUchar>((r << 8) + (p - base));
            continue;
        }
        if (row.flags & 4) {
            for (unsigned lo = 0; lo < 256 && p == 0 && out; ++lo) out[n++] = static_cast<GCUchar>((r << 8) | lo);
            continue;
        }
        for (unsigned lo = 0; lo < 256; ++lo) {
            GCSortWeight w;
            if (!s.weight(static_cast<uint64_t>(row.base) + lo, w)) break;
            if (w.info & kExpansion) continue;
            const bool match = (w.info & kAlternative) ? p == 0 : w.primary == p;
            if (match && out) out[n++] = static_cast<GCUchar>((r << 8) | lo);
        }
    }
    for (uint32_t i = 0; i < s.ncomb(); ++i) {
        GCSortComb comb;
        if (!s.combination(i, comb)) break;
        const bool match = (comb.info & kAlternative) ? p == 0 : comb.weight == p;
        if (!match) continue;
        if (comb_out) {
            *comb_out++ = comb.first;
            *comb_out++ = comb.second;
            *comb_out++ = 0;
        }
        if (ncomb) ++*ncomb;
    }
    return n;
}
