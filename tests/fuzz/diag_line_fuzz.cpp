// Feeds arbitrary texts to the diagnostic log at debug level 0, where every line goes into the
// in-memory ring.
#include <cstddef>
#include <cstdint>
#include <string>

#include "os_diag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    DIAG_set_debug_level(0);
    DIAG_set_active_level(5);
    DIAG_print_text(text.c_str());
    DIAG_set_active_level(0);
    return 0;
}
