/* A locale's conventions kept up to date: filled from its territory except where the application
 * set them, re-encoded when the code page changes, and changed all-or-nothing. */
#include <algorithm>
#include <cstring>

#include "gcloc_internal.h"

namespace gc {

uint16_t section_word(const GCObjEntry* object, size_t index) {
    if (!object || !object->sect[0] || 2 * index + 2 > section_size(object, 0)) return 0;
    return read_u16(object->sect[0], 2 * index);
}

std::u16string territory_text(const GCObjEntry* territory, unsigned index) {
    std::u16string text;
    if (!territory || !territory->sect[0] || index > 10) return text;
    const uint32_t size = section_size(territory, 0);
    if (size < GC_TERR_FIXED_SIZE) return text;
    const uint32_t from = read_u16(territory->sect[0], 22 + 2 * index);
    uint32_t to = read_u16(territory->sect[0], 24 + 2 * index);
    if (to > size || to < from) to = size;
    for (uint32_t at = from; at + 2 <= to; at += 2) {
        const uint16_t u = read_u16(territory->sect[0], at);
        if (u == 0) break;
        text.push_back(static_cast<char16_t>(u));
    }
    return text;
}

std::string encode_text(const CodePage& cp, const std::u16string& text) {
    std::string out;
    bool dbl = false;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t value = text[i];
        if (value >= 0xD800 && value <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            value = (value << 16) | text[++i];
        uint8_t bytes[4];
        const uint32_t n =
            value >= 0xD800 && value <= 0xDFFF ? (bytes[0] = cp.repl(), 1) : cp.encode(value, bytes, cp.repl());
        if (cp.stateful() && (n > 1) != dbl) {
            out.push_back(static_cast<char>(n > 1 ? cp.cp().so : cp.cp().si));
            dbl = n > 1;
        }
        out.append(reinterpret_cast<const char*>(bytes), n);
    }
    if (cp.stateful() && dbl) out.push_back(static_cast<char>(cp.cp().si));
    return out;
}

std::string convert_text(const CodePage& from, const CodePage& to, const char* text) {
    std::u16string units;
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    const size_t len = std::strlen(text);
    bool dbl = false;
    for (size_t i = 0; i < len;) {
        size_t n;
        if (from.stateful()) {
            if (const size_t run = shift_run(p + i, len - i, from.cp().si, from.cp().so)) {
                dbl = p[i + run - 1] != from.cp().si;
                i += run;
                continue;
            }
            n = dbl ? from.maxlen() : 1;
        } else {
            n = from.char_len(p + i, len - i);
        }
        if (i + n > len) break;
        const uint32_t value = from.decode(p + i, static_cast<uint32_t>(n));
        if (value > 0xFFFF) {
            units.push_back(static_cast<char16_t>(value >> 16));
            units.push_back(static_cast<char16_t>(value & 0xFFFF));
        } else {
            units.push_back(static_cast<char16_t>(value));
        }
        i += n;
    }
    return encode_text(to, units);
}

char* new_text(const std::string& text) {
    auto* block = static_cast<char*>(allocate(text.size() + 1));
    if (block) std::memcpy(block, text.c_str(), text.size() + 1);
    return block;
}

GCUchar* new_units(const std::u16string& text) {
    auto* block = static_cast<GCUchar*>(allocate(2 * (text.size() + 1)));
    if (block) {
        std::memcpy(block, text.data(), 2 * text.size());
        block[text.size()] = 0;
    }
    return block;
}

std::u16string units_of(const GCUchar* text) {
    std::u16string s;
    for (size_t i = 0; text && text[i]; ++i) s.push_back(static_cast<char16_t>(text[i]));
    return s;
}

bool replace_text(GCLocale* locale, unsigned i, const std::string& text, const std::u16string& units) {
    char* block = new_text(text);
    GCUchar* ublock = new_units(units);
    if (!block || !ublock) {
        release(block);
        release(ublock);
        return false;
    }
    release(locale->text[i]);
    release(locale->utext[i]);
    locale->text[i] = block;
    locale->utext[i] = ublock;
    return true;
}

}  // namespace gc

namespace {

// The territory text behind each of the locale's eight texts.
constexpr unsigned kTerritoryText[8] = {2, 4, 3, 6, 7, 8, 9, 10};

bool modified(const GCLocale* loc, uint32_t bit) { return (loc->modified >> bit) & 1; }

}  // namespace

extern "C" uint32_t GCLocaleSetModifiable(GCLocale* loc) {
    if (!loc || !loc->territory || !loc->codepage) return GC_ERR_OPTION;
    const gc::CodePage cp(loc->codepage);
    if (!cp.ok()) return GC_ERR_CODEPAGE;
    const GCObjEntry* terr = loc->territory;
    uint16_t* values[3] = {&loc->terrword5, &loc->curdigits, &loc->intcurdigits};
    for (uint32_t i = 0; i < 3; ++i)
        if (!modified(loc, gc::kModValues + i)) *values[i] = gc::section_word(terr, 5 + i);
    const uint16_t word10 = gc::section_word(terr, 10);  // bytes 20-21: the currency flags first
    const uint8_t currency = static_cast<uint8_t>(word10 & 0xFF);
    for (uint32_t i = 0; i < 6; ++i) {
        if (modified(loc, gc::kModCurrency + i)) continue;
        loc->flags = static_cast<uint16_t>((loc->flags & ~(1u << i)) | (((currency >> (i + 1)) & 1u) << i));
    }
    const uint16_t signs = gc::section_word(terr, 8);  // bytes 16-17
    if (!modified(loc, gc::kModSigns)) loc->psignpos = static_cast<uint8_t>(signs & 0xFF);
    if (!modified(loc, gc::kModSigns + 1)) loc->nsignpos = static_cast<uint8_t>(signs >> 8);
    for (uint32_t i = 0; i < 5; ++i) {
        if (modified(loc, gc::kModSeparators + i)) continue;
        loc->usep[i] = gc::section_word(terr, i);
        uint8_t bytes[4];
        if (cp.encode(loc->usep[i], bytes, cp.repl()) == 1) loc->sep[i] = bytes[0];
    }
    for (uint32_t i = 0; i < 8; ++i) {
        if (modified(loc, gc::kModTexts + i)) continue;
        const std::u16string text = gc::territory_text(terr, kTerritoryText[i]);
        // Blocks sized by what the text becomes, shift codes included.
        char* block = gc::new_text(gc::encode_text(cp, text));
        GCUchar* ublock = gc::new_units(text);
        if (!block || !ublock) {
            gc::release(block);
            gc::release(ublock);
            return GC_ERR_NOMEM;
        }
        loc->text[i] = block;
        loc->utext[i] = ublock;
    }
    return GC_OK;
}

extern "C" void GCLocaleFreeOldText(GCLocale* kept, GCLocale* other) {
    if (!kept || !other) return;
    for (int i = 0; i < 8; ++i) {
        if (kept->text[i] != other->text[i]) gc::release(kept->text[i]);
        if (kept->utext[i] != other->utext[i]) gc::release(kept->utext[i]);
    }
}

extern "C" uint32_t GCLocaleChangeTerritory(GCLocale* loc, GCObjEntry* territory) {
    if (!loc || !territory) return GC_ERR_OPTION;
    GCLocale image = *loc;
    loc->territory = territory;
    const uint32_t rc = GCLocaleSetModifiable(loc);
    if (rc != GC_OK) {
        GCLocaleFreeOldText(loc, &image);
        *loc = image;
        return GC_ERR_NOMEM;
    }
    GCLocaleFreeOldText(&image, loc);
    return GC_OK;
}

extern "C" uint32_t GCLocaleChangeCodePage(GCLocale* loc, GCObjEntry* codepage) {
    if (!loc || !codepage) return GC_ERR_OPTION;
    const gc::CodePage from(loc->codepage);
    const gc::CodePage to(codepage);
    if (!from.ok() || !to.ok()) return GC_ERR_CODEPAGE;
    GCLocale image = *loc;
    loc->codepage = codepage;
    loc->flags = static_cast<uint16_t>(loc->flags & ~(GC_LOC_SINGLEBYTE | GC_LOC_STATEFUL));
    if (to.maxlen() == 1) loc->flags |= GC_LOC_SINGLEBYTE;
    if (to.stateful()) loc->flags |= GC_LOC_STATEFUL;
    uint32_t rc = GC_OK;
    for (int i = 0; i < 5 && rc == GC_OK; ++i) {
        uint8_t bytes[4];
        const uint32_t value = from.decode(&image.sep[i], 1);
        if (to.encode(value, bytes, to.repl()) != 1)
            rc = GC_ERR_SEPARATOR;
        else
            loc->sep[i] = bytes[0];
    }
    for (int i = 0; i < 8 && rc == GC_OK; ++i) {
        if (!image.text[i]) continue;
        char* block = gc::new_text(gc::convert_text(from, to, image.text[i]));
        if (!block) rc = GC_ERR_NOMEM;
        loc->text[i] = block;
    }
    if (rc != GC_OK) {
        GCLocaleFreeOldText(loc, &image);
        *loc = image;
        return rc;
    }
    GCLocaleFreeOldText(&image, loc);
    return GC_OK;
}

extern "C" uint32_t GCLocaleCnvText(const GCObjEntry* from, const GCObjEntry* to, const char* text, char* out) {
    const gc::CodePage f(from);
    const gc::CodePage t(to);
    if (!f.ok() || !t.ok() || !text || !out) return 0;
    const std::string converted = gc::convert_text(f, t, text);
    std::memcpy(out, converted.c_str(), converted.size() + 1);
    return static_cast<uint32_t>(converted.size() + 1);
}
