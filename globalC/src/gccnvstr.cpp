/* String conversion: the one algorithm behind GCConvertString, GCStringToUnicode and
 * GCUnicodeToString (flags 0, 8 = terminate, +0x4000 = lengths in characters), and the counting
 * of characters and bytes in code-page text. */
#include <algorithm>
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

// Where a conversion stands: source units or bytes read, output units or bytes written,
// characters written, and the result code.
struct Progress {
    size_t in = 0;
    size_t out = 0;
    size_t count = 0;
    uint32_t rc = GC_OK;
};

// Sources: each reads the character at i of a text of len units or bytes into its value and its
// length, and says false when the character runs past the end.
struct UnitSource {
    static constexpr bool kBytes = false;
    const GCUchar* text;
    bool next(size_t i, size_t len, uint32_t& value, size_t& n) const {
        value = next_unit_char(text, i, len, &n);
        return true;
    }
};

// A page read one byte a character through its single-byte table.
struct SingleByteSource {
    static constexpr bool kBytes = true;
    const gc::CodePage& page;
    const uint8_t* text;
    bool next(size_t i, size_t, uint32_t& value, size_t& n) const {
        value = page.single(text[i]);
        n = 1;
        return true;
    }
};

// UTF-8, its lengths from the page's length table.
struct Utf8Source {
    static constexpr bool kBytes = true;
    const gc::CodePage& page;
    const uint8_t* text;
    bool next(size_t i, size_t len, uint32_t& value, size_t& n) const {
        n = page.char_len(text + i, len - i);
        if (i + n > len) return false;
        value = gc::decode_utf8(text + i, static_cast<uint32_t>(n));
        return true;
    }
};

// Any other page: lengths from the length table and the lead-byte rule (one byte a character on a
// single-byte locale), single bytes through the single-byte table, longer characters by the trie.
struct PageSource {
    static constexpr bool kBytes = true;
    const gc::CodePage& page;
    const uint8_t* text;
    bool one_byte;
    bool next(size_t i, size_t len, uint32_t& value, size_t& n) const {
        n = one_byte ? 1 : page.char_len(text + i, len - i);
        if (i + n > len) return false;
        value = n == 1 && !page.utf8() ? page.single(text[i]) : page.decode(text + i, static_cast<uint32_t>(n));
        return true;
    }
};

// A multi-byte page with its table of two-byte characters: lengths as PageSource reads them.
struct TwoByteSource {
    static constexpr bool kBytes = true;
    const gc::CodePage& page;
    const uint8_t* text;
    const uint16_t* two_byte;
    bool next(size_t i, size_t len, uint32_t& value, size_t& n) const {
        n = page.char_len(text + i, len - i);
        if (i + n > len) return false;
        if (n == 1)
            value = page.single(text[i]);
        else if (n == 2)
            value = two_byte[(text[i] << 8) | text[i + 1]];
        else
            value = page.decode(text + i, static_cast<uint32_t>(n));
        return true;
    }
};

// Targets: each writes one value at `at` (room for kMaxUnits) and returns the units written.
struct UnitTarget {
    using Unit = GCUchar;
    static constexpr size_t kMaxUnits = 2;
    static constexpr bool kReports = false;
    size_t put(uint32_t value, GCUchar* at) const {
        if (value > 0xFFFF) {
            at[0] = static_cast<GCUchar>(value >> 16);
            at[1] = static_cast<GCUchar>(value & 0xFFFF);
            return 2;
        }
        at[0] = static_cast<GCUchar>(value);
        return 1;
    }
};

// Code-page targets: an undecodable character becomes the replacement byte.
struct Utf8Target {
    using Unit = uint8_t;
    static constexpr size_t kMaxUnits = gc::kMaxCharBytes;
    static constexpr bool kReports = true;
    uint8_t repl;
    size_t put(uint32_t value, uint8_t* at) const {
        if (value < 0x80) {
            at[0] = static_cast<uint8_t>(value);
            return 1;
        }
        if (value == gc::kReplacementChar) {
            at[0] = repl;
            return 1;
        }
        if (value < 0x800) {
            at[0] = static_cast<uint8_t>(0xC0 | (value >> 6));
            at[1] = static_cast<uint8_t>(0x80 | (value & 0x3F));
            return 2;
        }
        if (value <= 0xFFFF) {
            if (high_surrogate(value) || low_surrogate(value)) value = gc::kReplacementChar;
            at[0] = static_cast<uint8_t>(0xE0 | (value >> 12));
            at[1] = static_cast<uint8_t>(0x80 | ((value >> 6) & 0x3F));
            at[2] = static_cast<uint8_t>(0x80 | (value & 0x3F));
            return 3;
        }
        return GCUnicodeToUTF8(value, at);
    }
};

struct PageTarget {
    using Unit = uint8_t;
    static constexpr size_t kMaxUnits = gc::kMaxCharBytes;
    static constexpr bool kReports = true;
    const gc::CodePage& page;
    uint8_t repl;
    size_t put(uint32_t value, uint8_t* at) const {
        if (value == gc::kReplacementChar) {
            at[0] = repl;
            return 1;
        }
        return page.encode(value, at, repl);
    }
};

// A multi-byte page with its table of BMP values; other values as PageTarget writes them.
struct BmpPageTarget : PageTarget {
    const uint16_t* bmp;
    size_t put(uint32_t value, uint8_t* at) const {
        if (value > 0xFFFF) return PageTarget::put(value, at);
        const uint32_t code = bmp[value];
        if (code > 0xFF) {
            at[0] = static_cast<uint8_t>(code >> 8);
            at[1] = static_cast<uint8_t>(code);
            return 2;
        }
        at[0] = static_cast<uint8_t>(code);
        return 1;
    }
};

// Bytes below 0x80 from p on, at most max of them.
size_t ascii_run(const uint8_t* p, size_t max) {
    size_t n = 0;
    for (; n + 8 <= max; n += 8) {
        uint64_t word;
        std::memcpy(&word, p + n, 8);
        if (word & 0x8080808080808080ull) break;
    }
    while (n < max && p[n] < 0x80) ++n;
    return n;
}

// Converts characters from p.in on until the source ends, a character would run past it, or the
// output would pass `room` (in characters with `chars`). With `ascii` (every byte below 0x80 is a
// character of that value on the source and encodes to the same byte on the target) runs of such
// bytes are copied whole. `repl` and `repl_value` are the target's replacement byte and its value:
// a lone replacement byte written for another value reports the replacement.
template <class Source, class Target>
void convert(const Source& source, const Target& target, typename Target::Unit* dst, size_t len, size_t room,
             bool chars, bool ascii, uint8_t repl, uint32_t repl_value, Progress& p) {
    while (p.in < len) {
        if constexpr (Source::kBytes) {
            if (ascii && source.text[p.in] < 0x80) {
                size_t max = std::min(len - p.in, room - p.out);
                if (chars) max = std::min(max, room - p.count);
                const size_t n = ascii_run(source.text + p.in, max);
                if (n == 0) break;
                std::copy(source.text + p.in, source.text + p.in + n, dst + p.out);
                p.in += n;
                p.out += n;
                p.count += n;
                continue;
            }
        }
        uint32_t value;
        size_t n;
        if (!source.next(p.in, len, value, n) || (chars && p.count + 1 > room)) break;
        typename Target::Unit* at = dst + p.out;
        size_t k;
        if (room - p.out >= Target::kMaxUnits) {
            k = target.put(value, at);
        } else {
            typename Target::Unit spare[Target::kMaxUnits];
            k = target.put(value, spare);
            if (p.out + k > room) break;
            std::copy(spare, spare + k, at);
        }
        if constexpr (Target::kReports)
            if (k == 1 && at[0] == repl && value != repl_value) p.rc = GC_REPLACED;
        p.out += k;
        ++p.count;
        p.in += n;
    }
}

// Below this many bytes or units a text is converted without building a page's direct tables.
constexpr size_t kTablesFrom = 64;

// The source's reader chosen for the target's writer.

template <class Target>
void convert_from(const gc::CodePage& from, bool from_single, const void* src, const Target& target,
                  typename Target::Unit* dst, size_t len, size_t room, bool chars, bool to_ascii, uint8_t repl,
                  uint32_t repl_value, Progress& p) {
    // Checking the tables costs more than a short text saves.
    constexpr size_t kAsciiRunsFrom = 16;
    const bool check = to_ascii && len >= kAsciiRunsFrom;
    const auto* bytes = static_cast<const uint8_t*>(src);
    if (!from.ok()) {
        convert(UnitSource{static_cast<const GCUchar*>(src)}, target, dst, len, room, chars, false, repl, repl_value,
                p);
    } else if (from.utf8() && !from_single) {
        const bool ascii = check && from.decodes_ascii_as_itself(false);
        convert(Utf8Source{from, bytes}, target, dst, len, room, chars, ascii, repl, repl_value, p);
    } else if (!from.utf8() && from_single) {
        const bool ascii = check && from.decodes_ascii_as_itself(true);
        convert(SingleByteSource{from, bytes}, target, dst, len, room, chars, ascii, repl, repl_value, p);
    } else {
        const bool ascii = check && from.decodes_ascii_as_itself(from_single);
        const gc::PageTables* tables = !from_single && len >= kTablesFrom ? from.tables() : nullptr;
        if (tables && !tables->two_byte.empty())
            convert(TwoByteSource{from, bytes, tables->two_byte.data()}, target, dst, len, room, chars, ascii, repl,
                    repl_value, p);
        else
            convert(PageSource{from, bytes, from_single}, target, dst, len, room, chars, ascii, repl, repl_value, p);
    }
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
    const size_t length = static_cast<size_t>(len);
    Progress p;
    if (dst_units) {
        convert_from(from, from_single, src, UnitTarget{}, static_cast<GCUchar*>(dst), length, room, chars, true, 0, 0,
                     p);
    } else {
        const uint8_t repl = to.repl();
        const uint32_t repl_value = to.decode(&repl, 1);
        // Runs of bytes below 0x80 are copied whole only where writing them can report nothing.
        const bool to_ascii = to.encodes_ascii_as_itself() && (repl >= 0x80 || repl_value == repl);
        auto* out = static_cast<uint8_t*>(dst);
        if (to.utf8())
            convert_from(from, from_single, src, Utf8Target{repl}, out, length, room, chars, to_ascii, repl, repl_value,
                         p);
        else if (const gc::PageTables* tables = length >= kTablesFrom ? to.tables() : nullptr;
                 tables && !tables->bmp.empty())
            convert_from(from, from_single, src, BmpPageTarget{{to, repl}, tables->bmp.data()}, out, length, room,
                         chars, to_ascii, repl, repl_value, p);
        else
            convert_from(from, from_single, src, PageTarget{to, repl}, out, length, room, chars, to_ascii, repl,
                         repl_value, p);
    }
    size_t written = chars ? p.count : p.out;
    if (term) {
        put_terminator(p.out);
        ++written;
    } else if (terminated && p.in >= length && p.out < static_cast<size_t>(dstlen)) {
        put_terminator(p.out);
    }
    if (result) result->lastrc = p.rc;
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
