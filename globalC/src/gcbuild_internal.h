// Builders of language and territory sections and of the single-byte code page's tables: the
// library makes its built-in objects with them, the locale-data generator its data files.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gc.h"

namespace gc::build {

using Bytes = std::vector<uint8_t>;

inline void put_u16(Bytes& b, size_t at, uint16_t v) { std::memcpy(b.data() + at, &v, 2); }

// Appends a UTF-16 text and its terminator; returns the byte offset where it starts.
inline uint16_t append_text(Bytes& b, const std::u16string& text) {
    const size_t at = b.size();
    for (char16_t c : text) {
        b.push_back(static_cast<uint8_t>(c & 0xFF));
        b.push_back(static_cast<uint8_t>(c >> 8));
    }
    b.push_back(0);
    b.push_back(0);
    return static_cast<uint16_t>(at);
}

// A language section: words 0-2 default territory, code page, sort; items 0-43 texts; items 44
// and 45 the special pair tables (records of four units: c1, c2, r1, r2).
struct Language {
    uint16_t territory = 1;
    uint16_t codepage = 1;
    uint16_t sort = 0;
    std::u16string texts[44];
    std::vector<uint16_t> special[2];  // 4 units per record
};

inline Bytes language_section(const Language& lang) {
    Bytes b(GC_LANG_FIXED_SIZE, 0);
    put_u16(b, 0, lang.territory);
    put_u16(b, 2, lang.codepage);
    put_u16(b, 4, lang.sort);
    put_u16(b, 6, static_cast<uint16_t>(lang.special[0].size() / 4));
    put_u16(b, 8, static_cast<uint16_t>(lang.special[1].size() / 4));
    for (unsigned item = 0; item < 44; ++item) put_u16(b, 2 * (5 + item), append_text(b, lang.texts[item]));
    for (unsigned t = 0; t < 2; ++t) {
        put_u16(b, 2 * (5 + 44 + t), static_cast<uint16_t>(b.size()));
        for (uint16_t unit : lang.special[t]) {
            b.push_back(static_cast<uint8_t>(unit & 0xFF));
            b.push_back(static_cast<uint8_t>(unit >> 8));
        }
    }
    return b;
}

// A territory section: separators, three values, sign positions, currency flags and the texts
// abbreviation, name, grouping, monetary grouping, currency symbol, international currency symbol,
// positive sign, negative sign, time format, short date format, long date format.
struct Territory {
    char16_t separators[5] = {'.', ',', '/', '.', ','};
    uint16_t values[3] = {0, 2, 2};
    uint8_t positive_position = 1;
    uint8_t negative_position = 1;
    uint8_t currency_flags = 0;  // bit 1 precedes positive, 2 space, 3 precedes negative, 4 space
    std::u16string texts[11];
};

inline Bytes territory_section(const Territory& terr) {
    Bytes b(GC_TERR_FIXED_SIZE, 0);
    for (unsigned i = 0; i < 5; ++i) put_u16(b, 2 * i, terr.separators[i]);
    for (unsigned i = 0; i < 3; ++i) put_u16(b, 10 + 2 * i, terr.values[i]);
    b[16] = terr.positive_position;
    b[17] = terr.negative_position;
    b[20] = terr.currency_flags;
    for (unsigned i = 0; i < 11; ++i) put_u16(b, 22 + 2 * i, append_text(b, terr.texts[i]));
    put_u16(b, 44, static_cast<uint16_t>(b.size()));
    return b;
}

// The head of a single-byte code page: replacement '?', control bytes LF CR LF LF, one byte per
// character, shift-out 0x0E and shift-in 0x0F; everything else zero.
inline void single_byte_head(GCCp& cp) {
    std::memset(&cp, 0, sizeof cp);
    cp.repl = '?';
    cp.ctl[0] = '\n';
    cp.ctl[1] = '\r';
    cp.ctl[2] = '\n';
    cp.ctl[3] = '\n';
    cp.maxlen = 1;
    cp.so = 0x0E;
    cp.si = 0x0F;
}

// An encoding row that takes no character.
constexpr GCCpEncRow kEmptyRow{0, 0, 0xFF, 0x00, 0, 0};

}  // namespace gc::build
