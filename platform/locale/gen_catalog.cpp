// The generator's table of objects and identifiers.
#include "gen_catalog.h"

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
    };
    return table;
}

const std::vector<LanguageDef>& languages() {
    static const std::vector<LanguageDef> table = {
        {1, "English", "en", 1, 1, 0},
    };
    return table;
}

const std::vector<TerritoryDef>& territories() {
    static const std::vector<TerritoryDef> table = {
        {1, "UnitedStates", "en_US"},
    };
    return table;
}

const std::vector<SortDef>& sorts() {
    static const std::vector<SortDef> table = {};
    return table;
}

}  // namespace gen
