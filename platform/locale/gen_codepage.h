// Code pages for the locale-data generator: conversions from glibc's iconv, character facts
// (types, case) from ICU.
#pragma once

#include "gen_catalog.h"
#include "gen_file.h"

namespace gen {

// Builds a code-page object in the version 3 layout; throws std::runtime_error on a page that
// cannot be represented.
Object make_codepage(const CodePageDef& def);

}  // namespace gen
