// Reads arbitrary text as the output of sar: the idle percentage found, if any, lies between 0
// and 100.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "os_proc_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<int> idle =
        os_proc::sar_idle(std::string_view(reinterpret_cast<const char*>(data), size), false);
    if (idle && (*idle < 0 || *idle > 100)) std::abort();
    return 0;
}
