// Sort objects for the locale-data generator: collation weights of every BMP character from an
// ICU collator (the root order, or a language's tailoring).
#pragma once

#include "gen_catalog.h"
#include "gen_file.h"

namespace gen {

Object make_sort(const SortDef& def);

}  // namespace gen
