/* The library's environment reader: a variable's value copied only when it fits. */
#include <cstdlib>
#include <cstring>

#include "gc.h"

extern "C" uint32_t GCGetEnv(const char* name, char* buffer, uint32_t size) {
    const char* value = name ? std::getenv(name) : nullptr;
    if (!value) return 0;
    const size_t needed = std::strlen(value) + 1;
    if (needed > UINT32_MAX) return UINT32_MAX;
    if (buffer && needed <= size) std::memcpy(buffer, value, needed);
    return static_cast<uint32_t>(needed);
}
