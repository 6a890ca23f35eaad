// The generator's table of objects and identifiers: code pages and sorts here, the languages and
// territories of the native-locale map in gen_names.inc.
#include "gen_catalog.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace gen {

const std::vector<CodePageDef>& codepages() {
    static const std::vector<CodePageDef> table = {
        {1, "US-ASCII", "ASCII", CpKind::SingleByte},
        {2, "Latin1", "ISO-8859-1", CpKind::SingleByte},
        {3, "ISO-8859-2", "ISO-8859-2", CpKind::SingleByte},
        {4, "ISO-8859-4", "ISO-8859-4", CpKind::SingleByte},
        {5, "ISO-8859-5", "ISO-8859-5", CpKind::SingleByte},
        {6, "ISO-8859-6", "ISO-8859-6", CpKind::SingleByte},
        {7, "ISO-8859-7", "ISO-8859-7", CpKind::SingleByte},
        {8, "ISO-8859-8", "ISO-8859-8", CpKind::SingleByte},
        {9, "ISO-8859-9", "ISO-8859-9", CpKind::SingleByte},
        {14, "ISO-8859-14", "ISO-8859-14", CpKind::SingleByte},
        {15, "ISO-8859-15", "ISO-8859-15", CpKind::SingleByte},
        {20, "KOI8-R", "KOI8-R", CpKind::SingleByte},
        {21, "MS1251", "CP1251", CpKind::SingleByte},
        {22, "MS874", "CP874", CpKind::SingleByte},
        {23, "BALTIC", "BALTIC", CpKind::SingleByte},
        {30, "JapanEUC", "EUC-JP", CpKind::MultiByte},
        {31, "Shift_JIS", "SHIFT_JIS", CpKind::MultiByte},
        {32, "MS936", "CP936", CpKind::MultiByte},
        {33, "MS949", "CP949", CpKind::MultiByte},
        {34, "MS950", "CP950", CpKind::MultiByte},
        {35, "EUC-TW", "EUC-TW", CpKind::MultiByte},
        {36, "GB18030", "GB18030", CpKind::MultiByte},
        {106, "UTF-8", "UTF-8", CpKind::Utf8},
        // Test pages: the lead-byte path (two- and four-byte decoding, four-byte only after 0x81
        // and 0x82; two-byte encoding) and a stateful page.
        {938, "GB938", "GB18030", CpKind::LeadByteTest},
        {939, "IBM939", "IBM939", CpKind::Stateful},
    };
    return table;
}

namespace {

uint16_t codepage_id(const char* name) {
    for (const CodePageDef& d : codepages())
        if (std::strcmp(d.name, name) == 0) return d.id;
    throw std::runtime_error(std::string("no code page ") + name);
}

uint16_t sort_id(const char* name) {
    if (std::strcmp(name, "Binary") == 0) return 0;
    for (const SortDef& d : sorts())
        if (std::strcmp(d.name, name) == 0) return d.id;
    throw std::runtime_error(std::string("no sort ") + name);
}

uint16_t territory_id(const char* name) {
    for (const TerritoryDef& d : territories())
        if (std::strcmp(d.name, name) == 0) return d.id;
    throw std::runtime_error(std::string("no territory ") + name);
}

}  // namespace

const std::vector<LanguageDef>& languages() {
    static const std::vector<LanguageDef> table = [] {
        std::vector<LanguageDef> t;
#define GEN_LANGUAGE(id, name, icu, territory, codepage, sort) \
    t.push_back({id, name, icu, territory_id(territory), codepage_id(codepage), sort_id(sort)});
#include "gen_names.inc"
#undef GEN_LANGUAGE
        return t;
    }();
    return table;
}

const std::vector<TerritoryDef>& territories() {
    static const std::vector<TerritoryDef> table = {
#define GEN_TERRITORY(id, name, icu) {id, name, icu},
#include "gen_names.inc"
#undef GEN_TERRITORY
    };
    return table;
}

const std::vector<SortDef>& sorts() {
    static const std::vector<SortDef> table = {
        {1, "Default", "root"},
        {2, "Spanish", "es@collation=traditional"},
        {3, "Danish", "da"},
        {4, "Swedish", "sv"},
    };
    return table;
}

}  // namespace gen
