// C++ helpers of the agent's record conversions (not exported): appending general-parameter
// records to a message in a loop at a constant cost a record.
#pragma once

#include "dsect_list.h"
#include "zpalist_internal.h"

namespace ag_dsect {

// AG_dsect_create_and_append_general_param, the record appended through `records` (a builder of
// out_list's records) when given.
CM_RC append_general_param(const char* version, DSECT_LIST_handle_typ* out_list, zpalist::Builder* records,
                           DSECT_ONE_handle_typ* record, const char* name, const char* value, const char* func_name);

}  // namespace ag_dsect
