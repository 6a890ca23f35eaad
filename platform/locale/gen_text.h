// Language and territory objects for the locale-data generator, their texts and conventions taken
// from ICU.
#pragma once

#include <string>

#include "gen_catalog.h"
#include "gen_file.h"

namespace gen {

Object make_language(const LanguageDef& def);
Object make_territory(const TerritoryDef& def);

// An ICU date or time pattern as the library's format text ("h:mm:ss a" -> "%#I:%M:%S %p").
std::u16string strftime_pattern(const std::u16string& icu_pattern);

}  // namespace gen
