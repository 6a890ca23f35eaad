/* The globalization library's process-wide state: the nesting count, the latch, the memory
 * callbacks and their context, the file-layer context and the object manager, with the one
 * library mutex that guards them. */
#include <cstdlib>

#include "gc_internal.h"

namespace gc {

std::recursive_mutex& library_mutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

State& state() {
    static State s;
    return s;
}

void* allocate(size_t size) {
    const State& s = state();
    return s.alloc(s.context, size);
}

bool release(void* block) {
    if (!block) return true;
    const State& s = state();
    return s.free_fn(s.context, block) != 0;
}

}  // namespace gc

extern "C" void* GCDefAlloc(void* /*context*/, size_t size) { return std::malloc(size); }

extern "C" int GCDefFree(void* /*context*/, void* block) {
    std::free(block);
    return 1;
}
