/* The built-in objects: the control rows of English, UnitedStates and US-ASCII (id 1 each) and
 * their data, used in fallback mode and in place of a data file that cannot be loaded. */
#include <cctype>

#include "gc_internal.h"
#include "gcbuild_internal.h"

namespace {

using gc::build::Bytes;

const Bytes& language() {
    static const Bytes section = [] {
        gc::build::Language lang;
        const char16_t* texts[44] = {
            u"EN",        u"English",  u"Sunday",   u"Monday",   u"Tuesday", u"Wednesday", u"Thursday", u"Friday",
            u"Saturday",  u"Sun",      u"Mon",      u"Tue",      u"Wed",     u"Thu",       u"Fri",      u"Sat",
            u"January",   u"February", u"March",    u"April",    u"May",     u"June",      u"July",     u"August",
            u"September", u"October",  u"November", u"December", u"",        u"Jan",       u"Feb",      u"Mar",
            u"Apr",       u"May",      u"Jun",      u"Jul",      u"Aug",     u"Sep",       u"Oct",      u"Nov",
            u"Dec",       u"",         u"AM",       u"PM"};
        for (int i = 0; i < 44; ++i) lang.texts[i] = texts[i];
        return gc::build::language_section(lang);
    }();
    return section;
}

const Bytes& territory() {
    static const Bytes section = [] {
        gc::build::Territory terr;
        terr.values[0] = 1;
        terr.currency_flags = 0x02 | 0x08;
        const char16_t* texts[11] = {u"USA", u"United States", u"3;0",        u"3;0",          u"$", u"USD", u"",
                                     u"-",   u"%#I:%M:%S %p",  u"%#m/%#d/%y", u"%A, %B %d, %Y"};
        for (int i = 0; i < 11; ++i) terr.texts[i] = texts[i];
        return gc::build::territory_section(terr);
    }();
    return section;
}

uint32_t ascii_type(int c) {
    uint32_t t = 0;
    if (std::isupper(c)) t |= GC_CT_UPPER | GC_CT_ALPHA;
    if (std::islower(c)) t |= GC_CT_LOWER | GC_CT_ALPHA;
    if (std::isdigit(c)) t |= GC_CT_DIGIT;
    if (std::isxdigit(c)) t |= GC_CT_XDIGIT;
    if (std::isspace(c)) t |= GC_CT_SPACE;
    if (std::ispunct(c)) t |= GC_CT_PUNCT;
    if (std::iscntrl(c)) t |= GC_CT_CNTRL;
    return t;
}

const GCCp& codepage() {
    static const GCCp cp = [] {
        GCCp p;
        gc::build::single_byte_head(p);
        for (int b = 0; b < 256; ++b) {
            const bool ascii = b < 0x80;
            p.len[b] = 1;
            p.upper[b] = static_cast<uint8_t>(b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b);
            p.lower[b] = static_cast<uint8_t>(b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
            p.uni[b] = ascii ? static_cast<uint16_t>(b) : 0xFFFD;
            p.ctype[b] = ascii ? ascii_type(b) : 0;
            p.enc[b] = gc::build::kEmptyRow;
        }
        p.enc[0] = GCCpEncRow{0, 0xFF, 0x00, 0x7F, 0, 0};
        p.flags = GC_CP_ASCII;
        return p;
    }();
    return cp;
}

const Bytes& codepage_section3() {
    static const Bytes section = [] {
        Bytes b(128);
        for (int i = 0; i < 128; ++i) b[i] = static_cast<uint8_t>(i);
        return b;
    }();
    return section;
}

constexpr GCObjEntry row(uint8_t type, const char* name) {
    GCObjEntry e{};
    e.id = 1;
    e.type = type;
    e.flags = GC_OBJ_BUILTIN;
    for (int i = 0; name[i] && i < 35; ++i) e.name[i] = name[i];
    return e;
}

}  // namespace

namespace gc {

const GCObjEntry builtin_rows[3] = {row(GC_OBJ_LANGUAGE, "English"), row(GC_OBJ_TERRITORY, "UnitedStates"),
                                    row(GC_OBJ_CODEPAGE, "US-ASCII")};

bool builtin_sections(uint8_t type, void* sect[4], uint32_t sizes[4]) {
    for (int i = 0; i < 4; ++i) {
        sect[i] = nullptr;
        sizes[i] = 0;
    }
    switch (type) {
    case GC_OBJ_LANGUAGE:
        sect[0] = const_cast<uint8_t*>(language().data());
        sizes[0] = static_cast<uint32_t>(language().size());
        return true;
    case GC_OBJ_TERRITORY:
        sect[0] = const_cast<uint8_t*>(territory().data());
        sizes[0] = static_cast<uint32_t>(territory().size());
        return true;
    case GC_OBJ_CODEPAGE:
        sect[0] = const_cast<GCCp*>(&codepage());
        sizes[0] = sizeof(GCCp);
        sect[2] = const_cast<uint8_t*>(codepage_section3().data());
        sizes[2] = static_cast<uint32_t>(codepage_section3().size());
        return true;
    default: return false;
    }
}

uint32_t section_size(const GCObjEntry* entry, int i) {
    if (!entry || i < 0 || i > 3 || !entry->sect[i]) return 0;
    if (entry->file) return entry->file->sectsize[i];
    if (entry->flags & GC_OBJ_BUILTIN) {
        void* sect[4];
        uint32_t sizes[4];
        builtin_sections(entry->type, sect, sizes);
        return sect[i] == entry->sect[i] ? sizes[i] : 0;
    }
    return 0;
}

}  // namespace gc
