// Shared by the fuzz targets that convert through a code page: a locale made around the page, with
// what the conversions read of a locale (the page, its single-byte and stateful flags).
#pragma once

#include "gc.h"

inline GCLocale locale_of(GCObjEntry* cp) {
    GCLocale loc{};
    loc.codepage = cp;
    const auto* page = static_cast<const GCCp*>(cp->sect[0]);
    if (page->maxlen <= 1) loc.flags |= GC_LOC_SINGLEBYTE;
    if (page->flags & GC_CP_STATEFUL) loc.flags |= GC_LOC_STATEFUL;
    return loc;
}
