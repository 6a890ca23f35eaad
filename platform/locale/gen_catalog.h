// The one table of the locale-data generator: every object it writes, with its identifier, its
// name in the control file and where its facts come from (an iconv character set or an ICU
// locale). Identifiers fixed by the library: US-ASCII 1, UTF-8 106, the lead-byte test page 938;
// English and UnitedStates are 1 like the built-in objects.
#pragma once

#include <cstdint>
#include <vector>

namespace gen {

enum class CpKind { SingleByte, MultiByte, Utf8, LeadByteTest, Stateful };

struct CodePageDef {
    uint16_t id;
    const char* name;     // name in the control file and in locale names
    const char* charset;  // glibc iconv name
    CpKind kind;
};

struct LanguageDef {
    uint16_t id;
    const char* name;
    const char* icu;     // ICU locale whose texts the language takes
    uint16_t territory;  // default territory id
    uint16_t codepage;   // default code-page id
    uint16_t sort;       // default sort id, 0 for the binary order
};

struct TerritoryDef {
    uint16_t id;
    const char* name;
    const char* icu;  // ICU locale whose conventions the territory takes
};

struct SortDef {
    uint16_t id;
    const char* name;
    const char* icu;  // ICU collation locale
};

const std::vector<CodePageDef>& codepages();
const std::vector<LanguageDef>& languages();
const std::vector<TerritoryDef>& territories();
const std::vector<SortDef>& sorts();

}  // namespace gen
