// Shared by the fuzz targets whose runs are about parsers, not the log: trace lines are not
// formatted (only error lines are), which keeps each run fast.
#pragma once

#include "os_diag.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    DIAG_set_buffered_level(0);
    DIAG_set_debug_level(0);
    return 0;
}
