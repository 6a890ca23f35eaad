// The code-page reader shared by the conversion modules: a view of a loaded code-page object
// whose every table, node, value, row and record index is checked against its section (outside,
// a character decodes to U+FFFD, encodes to the replacement byte and has no type), the character
// lengths with the lead-byte rule and the loader's check that they fit the conversions' buffers,
// and the wide-code helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "gc.h"

namespace gc {

constexpr uint16_t kUtf8CodePage = 106;
constexpr uint16_t kLeadByteCodePage = 938;
constexpr uint32_t kReplacementChar = 0xFFFD;
// The longest character the conversions hold: a wide code, the pending bytes of a conversion
// handle and a case-converted character take four bytes at most.
constexpr uint8_t kMaxCharBytes = 4;

// Whether a code page's lengths fit the conversions: a maximum of 1 to kMaxCharBytes bytes, no
// length entry above it, and two-byte characters by the lead-byte rule only on a multi-byte page.
// The loader refuses a page that fails this, so that no length read from a file overruns a buffer.
bool lengths_fit(const GCCp& cp);

// Validated UTF-8 of one character of n bytes: a malformed sequence (bad continuation, overlong
// form, surrogate, beyond U+10FFFF) is U+FFFD, never an arbitrary character.
inline uint32_t decode_utf8(const uint8_t* p, uint32_t n) {
    auto cont = [&](uint32_t i) { return (p[i] & 0xC0) == 0x80; };
    const uint32_t b0 = p[0];
    if (n == 1) return b0 < 0x80 ? b0 : kReplacementChar;
    if (n == 2) return b0 >= 0xC2 && b0 <= 0xDF && cont(1) ? ((b0 & 0x1F) << 6) | (p[1] & 0x3F) : kReplacementChar;
    if (n == 3) {
        if (b0 < 0xE0 || b0 > 0xEF || !cont(1) || !cont(2)) return kReplacementChar;
        if ((b0 == 0xE0 && p[1] < 0xA0) || (b0 == 0xED && p[1] > 0x9F)) return kReplacementChar;
        return ((b0 & 0x0F) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3F);
    }
    if (n == 4) {
        if (b0 < 0xF0 || b0 > 0xF4 || !cont(1) || !cont(2) || !cont(3)) return kReplacementChar;
        if ((b0 == 0xF0 && p[1] < 0x90) || (b0 == 0xF4 && p[1] > 0x8F)) return kReplacementChar;
        return GCUTF8ToUnicode(p, nullptr);
    }
    return kReplacementChar;
}

// Bytes of a wide code, big-endian without leading zero bytes (at least one); the count.
uint32_t wide_to_bytes(uint32_t wide, uint8_t* out);
// The wide code of n bytes.
uint32_t bytes_to_wide(const uint8_t* p, uint32_t n);

// Direct tables of a multi-byte page for whole-string conversion, each empty where the page's
// shape does not allow it:
// - two_byte: lead byte x second byte -> the value of that two-byte character (always a
//   single unit: the trie holds no pairs);
// - bmp: a BMP value -> its wide code, when every BMP value encodes to at most two bytes (the
//   byte count follows from the code: two above 0xFF); U+FFFD holds the replacement byte, as the
//   conversions write it.
struct PageTables {
    std::vector<uint16_t> two_byte;
    std::vector<uint16_t> bmp;
};

class CodePage {
public:
    explicit CodePage(const GCObjEntry* entry);

    bool ok() const { return cp_ != nullptr; }
    const GCCp& cp() const { return *cp_; }
    bool utf8() const { return id_ == kUtf8CodePage; }
    bool stateful() const { return (cp_->flags & GC_CP_STATEFUL) != 0; }
    bool ascii_based() const { return (cp_->flags & GC_CP_ASCII) != 0; }
    uint8_t maxlen() const {
        return cp_->maxlen == 0 ? 1 : (cp_->maxlen > kMaxCharBytes ? kMaxCharBytes : cp_->maxlen);
    }
    uint8_t repl() const { return cp_->repl; }

    // Whether the bytes at p (avail of them) start a two-byte character by the lead-byte rule.
    bool lead_byte_char(const uint8_t* p, size_t avail) const {
        return (cp_->flags & GC_CP_LEADBYTE) && avail >= 2 && p[0] >= 0x81 && p[0] <= 0x84 && p[1] >= 0x40;
    }
    // Bytes of the character starting at p: the lead-byte rule first, then the length table; a
    // length of 0 (a byte that starts no character) counts as 1.
    uint32_t char_len(const uint8_t* p, size_t avail) const {
        if (lead_byte_char(p, avail)) return 2;
        const uint32_t n = cp_->len[p[0]];
        return n == 0 ? 1 : n;
    }
    // Decodes the n bytes of one character: a UTF-16 unit, a packed surrogate pair, or U+FFFD.
    uint32_t decode(const uint8_t* p, uint32_t n) const;
    // Encodes a unit or packed pair; returns the bytes written to out (1-4).
    uint32_t encode(uint32_t value, uint8_t* out, uint32_t fallback) const;
    // Type record of the n bytes of one character (zero when the data has none).
    GCCpTypeRec type(const uint8_t* p, uint32_t n) const;
    // The value of one byte decoded through the single-byte table.
    uint32_t single(uint8_t b) const { return cp_->uni[b]; }
    // Whether every byte below 0x80 is a character of one byte that decodes to its own value
    // (read one byte a character when `one_byte`, else by the length table).
    bool decodes_ascii_as_itself(bool one_byte) const;
    // Whether every value below 0x80 encodes to the one byte of that value.
    bool encodes_ascii_as_itself() const;

    // The page's direct tables, built on the first call and kept while the page is loaded; null
    // for a page of one byte a character, UTF-8, or a built-in page.
    const PageTables* tables() const;

    // Half-width and full-width forms (wide codes); 0 when none.
    uint32_t half_to_full(uint32_t code) const;
    uint32_t full_to_half(uint32_t code) const;

private:
    bool node(uint32_t index, GCCpNode& out) const;
    uint32_t value(uint32_t index) const;
    bool type_node(uint32_t index, GCCpTypeNode& out) const;
    bool in_s1(uint64_t offset, uint64_t length) const { return offset <= n1_ && length <= n1_ - offset; }
    uint32_t walk(const uint8_t* p, uint32_t n) const;

    const GCCp* cp_ = nullptr;
    GCFile* file_ = nullptr;
    uint16_t id_ = 0;
    const uint8_t* s1_ = nullptr;
    uint32_t n1_ = 0;
    const uint8_t* s2_ = nullptr;
    uint32_t n2_ = 0;
    const uint8_t* s3_ = nullptr;
    uint32_t n3_ = 0;
    const uint8_t* s4_ = nullptr;
    uint32_t n4_ = 0;
};

// Characters in at most `limit` bytes of text, counted on the code page (stateful pages follow
// their shift codes from the given state); a character running past the end is not counted.
uint32_t count_chars(const CodePage& cp, const uint8_t* p, size_t limit, bool start_in_double);
// Bytes that `chars` characters occupy, never more than `limit`.
uint32_t chars_to_bytes(const CodePage& cp, const uint8_t* p, size_t limit, bool start_in_double, uint32_t chars);
// Length of a run of shift codes at p (0 when none starts there).
size_t shift_run(const uint8_t* p, size_t avail, uint8_t si, uint8_t so);

}  // namespace gc

namespace gc {

// The string calls' one algorithm. A null code-page object stands for UTF-16 on that side; the
// result code goes to `result` (last-result field). Returns the count written, -1 on invalid flags.
int convert_string(GCLocale* result, const GCObjEntry* to, void* dst, int dstlen, const GCObjEntry* from,
                   bool from_single, const void* src, int srclen, uint32_t flags);

}  // namespace gc
