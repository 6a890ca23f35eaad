/* Case-insensitive byte comparison of the object manager's name look-ups. */
#include <cctype>

#include "gc.h"

extern "C" int GCmemicmp(const void* a, const void* b, uint32_t length) {
    const auto* p = static_cast<const unsigned char*>(a);
    const auto* q = static_cast<const unsigned char*>(b);
    for (uint32_t i = 0; i < length; ++i) {
        if (p[i] == q[i]) continue;
        const int x = std::tolower(p[i]);
        const int y = std::tolower(q[i]);
        if (x != y) return x - y;
    }
    return 0;
}
