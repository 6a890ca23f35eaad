// C++ helpers of the agent's record conversions (not exported): appending general-parameter
// records to a message in a loop at a constant cost a record, and walking a key/value list.
#pragma once

#include "dsect_list.h"
#include "gm_param.h"
#include "zpalist_internal.h"

namespace ag_dsect {

// Walks the rows of a key/value list through a copy of its handle (the list's cursor stays where
// it is); `f(key, value)` returns false to stop.
template <typename F>
void each_row(ZPALIST_handle_typ* list, F&& f) {
    ZPALIST_handle_typ walker = *list;
    ZPALIST_reset(&walker);
    void* entry = nullptr;
    unsigned size = 0;
    while (ZPALIST_next_ptr(&walker, &entry, &size) == CM_RC_OK) {
        auto* row = static_cast<GM_PARAM_table_row*>(entry);
        if (!f(row->key, row->val)) return;
    }
}

// AG_dsect_create_and_append_general_param, the record appended through `records` (a builder of
// out_list's records) when given.
CM_RC append_general_param(const char* version, DSECT_LIST_handle_typ* out_list, zpalist::Builder* records,
                           DSECT_ONE_handle_typ* record, const char* name, const char* value, const char* func_name);

}  // namespace ag_dsect
