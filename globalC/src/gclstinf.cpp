/* Single conventions of a locale set by the application: its language, territory, code page or
 * sort by name, a separator, or one of its eight texts. A convention set here stays as set across
 * later territory changes. */
#include <cstring>
#include <string>

#include "gcloc_internal.h"

namespace {

struct Separator {
    int item;
    int index;    // 0-4: decimal point, thousands, third, monetary decimal, monetary thousands
    int partner;  // index of the separator it must differ from, -1 for none
};
constexpr Separator kSeparators[] = {{59, 0, 1}, {60, 1, 0}, {61, 2, -1}, {66, 3, 4}, {67, 4, 3}};
constexpr int kTextItems[8] = {62, 64, 68, 71, 72, 79, 80, 81};

uint32_t finish(GCLocale* loc, uint32_t code) {
    loc->lastrc = code;
    return code == GC_OK ? 1 : 0;
}

bool digit(const gc::CodePage& cp, uint8_t b) {
    return cp.ascii_based() ? b >= '0' && b <= '9' : b >= 0xF0 && b <= 0xF9;
}

// An object named in the locale's code page; names of a page that is not ASCII-based are read
// through code page 1 first.
uint32_t named_object(const GCLocale* loc, uint16_t type, const char* text, size_t length, GCObjEntry** out) {
    const gc::CodePage cp(loc->codepage);
    std::string name(text, std::min<size_t>(length, 32));
    if (!cp.ascii_based()) {
        const gc::CodePage ascii(GCGetObjFromID(gc::state().ocx, GC_OBJ_CODEPAGE, 1, 0, nullptr));
        if (!ascii.ok()) return GC_ERR_NOTFOUND;
        std::string converted;
        for (unsigned char b : name) {
            if (cp.char_len(&b, 1) != 1 || cp.lead_byte_char(&b, 1)) return GC_ERR_NOTFOUND;
            uint8_t bytes[4];
            if (ascii.encode(cp.single(b), bytes, ascii.repl()) != 1) return GC_ERR_NOTFOUND;
            converted.push_back(static_cast<char>(bytes[0]));
        }
        name = converted;
    }
    uint32_t rc = GC_OK;
    *out = GCGetObjFromName(gc::state().ocx, type, name.data(), static_cast<uint32_t>(name.size()), 0, &rc);
    if (type == GC_OBJ_SORT && !*out && rc == GC_OK) return GC_OK;  // the binary order
    if (!*out) return rc == GC_ERR_NOMEM ? GC_ERR_NOMEM : GC_ERR_NOTFOUND;
    return GC_OK;
}

}  // namespace

extern "C" int GCSetLocaleTextInfo(GCLocale* loc, int item, const char* text, long length, long flags) {
    if (!loc) loc = gc::state().glocale;
    if (!loc) return 0;
    if (flags != 0 && flags != GC_STR_CHARS) return static_cast<int>(finish(loc, GC_ERR_OPTION));
    const gc::CodePage cp(loc->codepage);
    if (!cp.ok()) return static_cast<int>(finish(loc, GC_ERR_CODEPAGE));
    if (!text) return static_cast<int>(finish(loc, GC_ERR_NOTFOUND));
    size_t len;
    if (length < 0)
        len = std::strlen(text);
    else if (flags == GC_STR_CHARS && length > 0)
        len = gc::chars_to_bytes(cp, reinterpret_cast<const uint8_t*>(text),
                                 strnlen(text, static_cast<size_t>(length) * 8), false, static_cast<uint32_t>(length));
    else
        len = static_cast<size_t>(length);
    if (len == 0) return static_cast<int>(finish(loc, GC_OK));
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);

    if (item == 2 || item == 6 || item == 10 || item == 12) {
        static const uint16_t types[13] = {0, 0, GC_OBJ_LANGUAGE, 0, 0,          0, GC_OBJ_TERRITORY, 0,
                                           0, 0, GC_OBJ_CODEPAGE, 0, GC_OBJ_SORT};
        GCObjEntry* object = nullptr;
        const uint32_t rc = named_object(loc, types[item], text, len, &object);
        if (rc != GC_OK) return static_cast<int>(finish(loc, rc));
        uint32_t result = GC_OK;
        if (item == 2) loc->language = object;
        if (item == 6) result = GCLocaleChangeTerritory(loc, object);
        if (item == 10 && object != loc->codepage) result = GCLocaleChangeCodePage(loc, object);
        if (item == 12) {
            loc->sort = object;
            loc->flags = static_cast<uint16_t>(object ? loc->flags & ~GC_LOC_BINARY : loc->flags | GC_LOC_BINARY);
        }
        return static_cast<int>(finish(loc, result));
    }

    for (const Separator& s : kSeparators) {
        if (s.item != item) continue;
        const uint8_t b = bytes[0];
        if (cp.char_len(bytes, len) != 1 || (cp.stateful() && (b == cp.cp().so || b == cp.cp().si)))
            return static_cast<int>(finish(loc, GC_ERR_NOTFOUND));
        if (s.partner >= 0 && (digit(cp, b) || b == loc->sep[s.partner]))
            return static_cast<int>(finish(loc, GC_ERR_NOTFOUND));
        loc->sep[s.index] = b;
        loc->usep[s.index] = static_cast<GCUchar>(cp.single(b));
        loc->modified |= 1u << (gc::kModSeparators + s.index);
        loc->setbits = static_cast<uint16_t>(loc->setbits | (1u << s.index));
        return static_cast<int>(finish(loc, GC_OK));
    }

    for (unsigned t = 0; t < 8; ++t) {
        if (kTextItems[t] != item) continue;
        // Whole characters only; the UTF-16 copy is sized from the text.
        const size_t whole = gc::chars_to_bytes(cp, bytes, len, false, static_cast<uint32_t>(len));
        const std::string value(text, whole);
        std::u16string units(value.size() + 1, u'\0');
        const int n = value.empty()
                          ? 0
                          : GCCpStrToUnicode(loc->codepage, reinterpret_cast<const unsigned char*>(value.data()),
                                             static_cast<int>(value.size()), reinterpret_cast<GCUchar*>(units.data()));
        units.resize(n > 0 ? static_cast<size_t>(n) : 0);
        if (!gc::replace_text(loc, t, value, units)) return static_cast<int>(finish(loc, GC_ERR_NOMEM));
        loc->modified |= 1u << (gc::kModTexts + t);
        loc->setbits = static_cast<uint16_t>(loc->setbits | (1u << (gc::kSetTexts + t)));
        return static_cast<int>(finish(loc, GC_OK));
    }
    return static_cast<int>(finish(loc, GC_ERR_ITEM));
}
