// Attribute-list helpers for the plug-in's own code, beside the exported utilities (not exported).
#pragma once

#include "zpaapi.h"

namespace zpaapi {

// ZPAAPI_UTILS_AttrListAppend_Attr2Attr for a source list whose name blocks the caller gives up:
// the target's attributes are copied as that function copies them, and the source's blocks are
// moved into the new array behind them instead of being copied. The source keeps its array and
// count with every Name set to null, so that releasing it frees the array alone. 0, or 1 with
// both lists unchanged.
ZPARC append_moving(ZPAAttrList* source, ZPAAttrList* target);

}  // namespace zpaapi
