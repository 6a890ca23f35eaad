/* Per-character conversion between code pages and UTF-16: decoding through the code page's trie
 * (UTF-8 computed, the lead-byte path of page 938), encoding through its rows, character types
 * and case through its type trie, half-width and full-width forms, wide codes, and the UTF-8
 * rules used throughout the library (a code point above the BMP travels as a surrogate pair
 * packed into a u32, high unit first). Every index read from the data is checked. */
#include <cstring>
#include <mutex>
#include <new>

#include "gc_internal.h"
#include "gccp_internal.h"

namespace gc {

uint32_t wide_to_bytes(uint32_t wide, uint8_t* out) {
    uint32_t n = 0;
    for (int shift = 24; shift > 0; shift -= 8)
        if (n || (wide >> shift) & 0xFF) out[n++] = static_cast<uint8_t>(wide >> shift);
    out[n++] = static_cast<uint8_t>(wide);
    return n;
}

uint32_t bytes_to_wide(const uint8_t* p, uint32_t n) {
    uint32_t wide = 0;
    for (uint32_t i = 0; i < n && i < 4; ++i) wide = (wide << 8) | p[i];
    return wide;
}

bool lengths_fit(const GCCp& cp) {
    if (cp.maxlen < 1 || cp.maxlen > kMaxCharBytes) return false;
    if ((cp.flags & GC_CP_LEADBYTE) && cp.maxlen < 2) return false;
    for (const uint8_t n : cp.len)
        if (n > cp.maxlen) return false;
    return true;
}

CodePage::CodePage(const GCObjEntry* entry) {
    if (!entry || entry->type != GC_OBJ_CODEPAGE || !entry->sect[0] || section_size(entry, 0) < GC_CP_FIXED_SIZE)
        return;
    cp_ = static_cast<const GCCp*>(entry->sect[0]);
    file_ = entry->file;
    id_ = entry->id;
    s1_ = static_cast<const uint8_t*>(entry->sect[0]);
    n1_ = section_size(entry, 0);
    s2_ = static_cast<const uint8_t*>(entry->sect[1]);
    n2_ = section_size(entry, 1);
    s3_ = static_cast<const uint8_t*>(entry->sect[2]);
    n3_ = section_size(entry, 2);
    s4_ = static_cast<const uint8_t*>(entry->sect[3]);
    n4_ = section_size(entry, 3);
}

bool CodePage::node(uint32_t index, GCCpNode& out) const {
    if (!s2_ || static_cast<uint64_t>(index) * sizeof(GCCpNode) + sizeof(GCCpNode) > n2_) return false;
    std::memcpy(&out, s2_ + static_cast<size_t>(index) * sizeof(GCCpNode), sizeof out);
    return true;
}

uint32_t CodePage::value(uint32_t index) const {
    const uint64_t at = static_cast<uint64_t>(cp_->valoff) + 2ull * index;
    if (!s2_ || at + 2 > n2_) return kReplacementChar;
    return read_u16(s2_, static_cast<size_t>(at));
}

bool CodePage::type_node(uint32_t index, GCCpTypeNode& out) const {
    const uint64_t at = static_cast<uint64_t>(cp_->trieoff) + 4ull * index;
    if (cp_->trieoff == 0 || !in_s1(at, sizeof out)) return false;
    std::memcpy(&out, s1_ + at, sizeof out);
    return true;
}

namespace {

bool in_range(const GCCpNode& n, uint8_t b) { return b >= n.low && b <= n.high; }

}  // namespace

uint32_t CodePage::walk(const uint8_t* p, uint32_t n) const {
    GCCpNode root;
    if (!node(0, root)) return kReplacementChar;
    if (id_ == kLeadByteCodePage && n == 2) {
        GCCpNode a;
        GCCpNode b;
        if (!node(root.base + (p[0] & root.mask), a) || a.leaf) return kReplacementChar;
        if (!node(a.base + (a.mask & 0x40), b) || !in_range(b, p[1])) return kReplacementChar;
        return value(b.base + (p[1] & b.mask));
    }
    if (root.leaf) return in_range(root, p[0]) ? value(root.base + (p[0] & root.mask)) : kReplacementChar;
    GCCpNode current = root;
    for (uint32_t i = 0; i + 1 < n; ++i) {
        GCCpNode next;
        if (!in_range(current, p[i]) || !node(current.base + (p[i] & current.mask), next)) return kReplacementChar;
        if (next.leaf) return in_range(next, p[i + 1]) ? value(next.base + (p[i + 1] & next.mask)) : kReplacementChar;
        current = next;
    }
    return kReplacementChar;
}

uint32_t CodePage::decode(const uint8_t* p, uint32_t n) const {
    if (utf8()) return decode_utf8(p, n);
    if (n <= 1) return cp_->uni[p[0]];
    return walk(p, n);
}

uint32_t CodePage::encode(uint32_t u, uint8_t* out, uint32_t fallback) const {
    if (utf8()) {
        if (u <= 0xFFFF && u >= 0xD800 && u <= 0xDFFF) u = kReplacementChar;
        return GCUnicodeToUTF8(u, out);
    }
    auto replacement = [&] {
        out[0] = cp_->repl;
        return 1u;
    };
    if (u > 0xFFFF) return replacement();
    const GCCpEncRow& row = cp_->enc[u >> 8];
    const uint8_t lo = static_cast<uint8_t>(u & 0xFF);
    if (lo < row.low || lo > row.high) return replacement();
    const uint32_t i = lo & row.mask;
    auto byte3 = [&](uint32_t& v) {
        if (!s3_ || row.off3 + i >= n3_) return false;
        v = s3_[row.off3 + i];
        return true;
    };
    auto word3 = [&](uint32_t& v) {
        if (!s3_ || row.off3 + 2 * i + 2 > n3_) return false;
        v = read_u16(s3_, row.off3 + 2 * i);
        return true;
    };
    auto byte4 = [&](uint32_t& v) {
        if (!s4_ || row.off4 + i >= n4_) return false;
        v = s4_[row.off4 + i];
        return true;
    };
    auto word4 = [&](uint32_t& v) {
        if (!s4_ || row.off4 + 2 * i + 2 > n4_) return false;
        v = read_u16(s4_, row.off4 + 2 * i);
        return true;
    };
    uint32_t low = 0;
    uint32_t high = 0;
    switch (row.kind) {
    case 0:
        if (!byte3(low)) return replacement();
        out[0] = static_cast<uint8_t>(low);
        return 1;
    case 1:
        if (!word3(low)) return replacement();
        return wide_to_bytes(low, out);
    case 2:
        if (!word3(low) || !byte4(high)) return replacement();
        return wide_to_bytes(low | (high << 16), out);
    case 3:
        if (!word3(low) || !word4(high)) return replacement();
        return wide_to_bytes(low | (high << 16), out);
    case 4:
        if (!byte3(low) || !byte4(high)) return replacement();
        return wide_to_bytes(low | (high << 8), out);
    default: return wide_to_bytes(fallback, out);
    }
}

void PageTablesFree::operator()(PageTables* tables) const { delete tables; }

const PageTables* CodePage::tables() const {
    if (!file_ || utf8() || maxlen() < 2) return nullptr;
    std::call_once(file_->tables_once, [this] {
        auto* t = new (std::nothrow) PageTables;
        if (!t) return;
        try {
            t->two_byte.resize(0x10000);
            uint8_t pair[2];
            for (uint32_t i = 0; i < 0x10000; ++i) {
                pair[0] = static_cast<uint8_t>(i >> 8);
                pair[1] = static_cast<uint8_t>(i);
                t->two_byte[i] = static_cast<uint16_t>(walk(pair, 2));
            }
            t->bmp.resize(0x10000);
            uint8_t bytes[kMaxCharBytes];
            for (uint32_t u = 0; u < 0x10000 && !t->bmp.empty(); ++u) {
                const uint32_t n = u == kReplacementChar ? 1 : encode(u, bytes, repl());
                if (n > 2)
                    t->bmp.clear();
                else
                    t->bmp[u] = static_cast<uint16_t>(n == 1 ? (u == kReplacementChar ? repl() : bytes[0])
                                                             : (bytes[0] << 8) | bytes[1]);
            }
        } catch (const std::bad_alloc&) {
            // Whatever did not fit stays empty: the conversions take the per-character path.
        }
        file_->tables.reset(t);
    });
    return file_->tables.get();
}

bool CodePage::decodes_ascii_as_itself(bool one_byte) const {
    bool same = true;
    for (uint32_t b = 0; b < 0x80; ++b) same &= (one_byte || cp_->len[b] <= 1) && (utf8() || cp_->uni[b] == b);
    return same;
}

bool CodePage::encodes_ascii_as_itself() const {
    if (utf8()) return true;
    const GCCpEncRow& row = cp_->enc[0];
    if (row.kind != 0 || row.low != 0 || row.high < 0x7F || (row.mask & 0x7F) != 0x7F || !s3_ || row.off3 + 0x80u > n3_)
        return false;
    bool same = true;
    for (uint32_t b = 0; b < 0x80; ++b) same &= s3_[row.off3 + b] == b;
    return same;
}

GCCpTypeRec CodePage::type(const uint8_t* p, uint32_t n) const {
    GCCpTypeRec rec{0, 0};
    if (cp_->trieoff == 0 || (n <= 1 && stateful())) {
        // A page without a type trie, and the single-byte state of a stateful page: the
        // single-byte tables.
        const uint8_t b = p[0];
        rec.flags = cp_->ctype[b];
        if (rec.flags & GC_CT_LOWER)
            rec.delta = cp_->upper[b] - b;
        else if (rec.flags & GC_CT_UPPER)
            rec.delta = cp_->lower[b] - b;
        return rec;
    }
    auto byte = [&](uint32_t i) -> uint8_t { return i < n ? p[i] : 0; };
    GCCpTypeNode node;
    if (!type_node(0, node)) return rec;
    uint32_t index;
    if (id_ == kLeadByteCodePage && n == 2) {
        GCCpTypeNode a;
        if (!type_node(node.base + (byte(0) & node.mask), a)) return rec;
        if (!a.leaf && !type_node(a.base + (a.mask & 0x40), a)) return rec;
        index = a.base + (byte(1) & a.mask);
    } else {
        uint32_t i = 0;
        while (!node.leaf) {
            if (i >= 4 || !type_node(node.base + (byte(i) & node.mask), node)) return rec;
            ++i;
        }
        index = node.base + (byte(i) & node.mask);
    }
    const uint64_t at = static_cast<uint64_t>(cp_->recoff) + 8ull * index;
    if (cp_->recoff != 0 && in_s1(at, sizeof rec)) std::memcpy(&rec, s1_ + at, sizeof rec);
    return rec;
}

uint32_t CodePage::half_to_full(uint32_t code) const {
    if (cp_->npairs == 0 || !in_s1(cp_->pairoff, 8ull * cp_->npairs)) return 0;
    uint32_t low = 0;
    uint32_t high = cp_->npairs;
    while (low < high) {
        const uint32_t mid = (low + high) / 2;
        const uint32_t half = read_u32(s1_, cp_->pairoff + 8 * mid);
        if (half == code) return read_u32(s1_, cp_->pairoff + 8 * mid + 4);
        if (half < code)
            low = mid + 1;
        else
            high = mid;
    }
    return 0;
}

uint32_t CodePage::full_to_half(uint32_t code) const {
    if (code == 0) return 0;
    if (cp_->mboff != 0 && in_s1(cp_->mboff, 1024))
        for (uint32_t b = 0; b < 256; ++b)
            if (read_u32(s1_, cp_->mboff + 4 * b) == code) return b;
    if (cp_->npairs == 0 || !in_s1(cp_->pairoff, 8ull * cp_->npairs)) return 0;
    for (uint32_t i = 0; i < cp_->npairs; ++i)
        if (read_u32(s1_, cp_->pairoff + 8 * i + 4) == code) return read_u32(s1_, cp_->pairoff + 8 * i);
    return 0;
}

size_t shift_run(const uint8_t* p, size_t avail, uint8_t si, uint8_t so) {
    size_t n = 0;
    while (n < avail && (p[n] == si || p[n] == so)) ++n;
    return n;
}

uint32_t count_chars(const CodePage& cp, const uint8_t* p, size_t limit, bool start_in_double) {
    if (cp.stateful()) {
        bool dbl = start_in_double;
        uint32_t count = 0;
        for (size_t i = 0; i < limit;) {
            if (const size_t run = shift_run(p + i, limit - i, cp.cp().si, cp.cp().so)) {
                dbl = p[i + run - 1] != cp.cp().si;
                i += run;
                continue;
            }
            const size_t n = dbl ? cp.maxlen() : 1;
            if (i + n > limit) break;
            ++count;
            i += n;
        }
        return count;
    }
    if (cp.maxlen() == 1) return static_cast<uint32_t>(limit);
    uint32_t count = 0;
    for (size_t i = 0; i < limit;) {
        const uint32_t n = cp.char_len(p + i, limit - i);
        if (i + n > limit) break;
        ++count;
        i += n;
    }
    return count;
}

uint32_t chars_to_bytes(const CodePage& cp, const uint8_t* p, size_t limit, bool start_in_double, uint32_t chars) {
    bool dbl = start_in_double;
    size_t i = 0;
    for (uint32_t count = 0; count < chars && i < limit;) {
        if (cp.stateful()) {
            if (const size_t run = shift_run(p + i, limit - i, cp.cp().si, cp.cp().so)) {
                dbl = p[i + run - 1] != cp.cp().si;
                i += run;
                continue;
            }
        }
        const size_t n = cp.stateful() ? (dbl ? cp.maxlen() : 1) : cp.char_len(p + i, limit - i);
        if (i + n > limit) break;
        i += n;
        ++count;
    }
    return static_cast<uint32_t>(i);
}

}  // namespace gc

namespace {

// Text lengths of the C interface: a character's bytes are trusted to be there; other lengths
// stop at the terminator.
constexpr size_t kOneChar = 4;

}  // namespace

extern "C" uint32_t GCCpMbToUnicode(const GCObjEntry* codepage, const unsigned char* bytes) {
    const gc::CodePage cp(codepage);
    if (!cp.ok() || !bytes) return gc::kReplacementChar;
    return cp.decode(bytes, cp.char_len(bytes, kOneChar));
}

extern "C" uint32_t GCCpMbToUnicodeW(const GCObjEntry* codepage, uint32_t wide) {
    const gc::CodePage cp(codepage);
    if (!cp.ok()) return gc::kReplacementChar;
    uint8_t bytes[4];
    const uint32_t n = gc::wide_to_bytes(wide, bytes);
    return cp.decode(bytes, n);
}

extern "C" uint32_t GCCpUnicodeToChar(const GCObjEntry* codepage, uint32_t value, unsigned char* out,
                                      uint32_t fallback) {
    const gc::CodePage cp(codepage);
    if (!cp.ok() || !out) return 0;
    return cp.encode(value, out, fallback);
}

extern "C" uint32_t GCCpUnicodeToCharW(const GCObjEntry* codepage, uint32_t value) {
    const gc::CodePage cp(codepage);
    if (!cp.ok()) return 0;
    uint8_t bytes[4];
    return gc::bytes_to_wide(bytes, cp.encode(value, bytes, cp.repl()));
}

extern "C" uint32_t GCMbToW(const GCObjEntry* codepage, const unsigned char* bytes) {
    const gc::CodePage cp(codepage);
    if (!cp.ok() || !bytes) return 0;
    if (!cp.lead_byte_char(bytes, kOneChar) && cp.cp().len[bytes[0]] == 0) return 0;
    return gc::bytes_to_wide(bytes, cp.char_len(bytes, kOneChar));
}

extern "C" uint32_t GCMbToWS(const GCObjEntry* codepage, const unsigned char* bytes, int use_maxlen) {
    const gc::CodePage cp(codepage);
    if (!cp.ok() || !bytes) return 0;
    return gc::bytes_to_wide(bytes, use_maxlen ? cp.maxlen() : 1);
}

extern "C" uint32_t GCWToMb(unsigned char* out, uint32_t wide) { return gc::wide_to_bytes(wide, out); }

extern "C" GCCpTypeRec GCGetMbCtype(const GCObjEntry* codepage, const unsigned char* bytes) {
    const gc::CodePage cp(codepage);
    if (!cp.ok() || !bytes) return GCCpTypeRec{0, 0};
    return cp.type(bytes, cp.char_len(bytes, kOneChar));
}

extern "C" GCCpTypeRec GCGetMbCtypeW(const GCObjEntry* codepage, uint32_t wide) {
    const gc::CodePage cp(codepage);
    if (!cp.ok()) return GCCpTypeRec{0, 0};
    uint8_t bytes[4];
    return cp.type(bytes, gc::wide_to_bytes(wide, bytes));
}

namespace {

bool title_digraph(uint32_t wide) { return wide == 0xC785 || wide == 0xC788 || wide == 0xC78B || wide == 0xC7B2; }

// Case conversion of one character of n bytes (its wide code w): the converted wide code.
uint32_t case_wide(const gc::CodePage& cp, const uint8_t* p, uint32_t n, uint32_t w, uint32_t mask, bool* changed) {
    *changed = true;
    if (cp.utf8() && title_digraph(w)) return (mask & GC_CT_LOWER) ? w - 1 : w + 1;
    const GCCpTypeRec rec = cp.type(p, n);
    if (rec.flags & mask) return static_cast<uint32_t>(static_cast<int64_t>(w) + rec.delta);
    *changed = false;
    return w;
}

}  // namespace

extern "C" uint32_t GCCpMbCaseConv(const GCObjEntry* codepage, const unsigned char* in, unsigned char* out,
                                   uint32_t mask) {
    const gc::CodePage cp(codepage);
    if (!cp.ok() || !in || !out) return 0;
    const uint32_t n = cp.char_len(in, kOneChar);
    bool changed;
    const uint32_t w = case_wide(cp, in, n, gc::bytes_to_wide(in, n), mask, &changed);
    if (changed) return gc::wide_to_bytes(w, out);
    std::memmove(out, in, n);
    return n;
}

extern "C" uint32_t GCCpMbCaseConvS(const GCObjEntry* codepage, const unsigned char* in, unsigned char* out,
                                    uint32_t mask) {
    const gc::CodePage cp(codepage);
    if (!cp.ok() || !in || !out) return 0;
    const uint32_t n = cp.maxlen();
    bool changed;
    const uint32_t w = case_wide(cp, in, n, gc::bytes_to_wide(in, n), mask, &changed);
    if (changed) return gc::wide_to_bytes(w, out);
    std::memmove(out, in, n);
    return n;
}

extern "C" uint32_t GCCpMbCaseConvW(const GCObjEntry* codepage, uint32_t wide, uint32_t mask) {
    const gc::CodePage cp(codepage);
    if (!cp.ok()) return wide;
    uint8_t bytes[4];
    const uint32_t n = gc::wide_to_bytes(wide, bytes);
    bool changed;
    return case_wide(cp, bytes, n, wide, mask, &changed);
}

extern "C" uint32_t GCCpMbHalfToFullW(const GCObjEntry* codepage, uint32_t code) {
    const gc::CodePage cp(codepage);
    return cp.ok() ? cp.half_to_full(code) : 0;
}

extern "C" uint32_t GCCpFullToHalfW(const GCObjEntry* codepage, uint32_t code) {
    const gc::CodePage cp(codepage);
    return cp.ok() ? cp.full_to_half(code) : 0;
}

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
