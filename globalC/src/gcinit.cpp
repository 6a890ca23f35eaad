/* Start and end of the globalization library for the process: nested initialisation counted,
 * the memory callbacks installed, the object manager built from the data directory, and all of it
 * released by the last matching termination. */
#include <cstring>

#include "gc_internal.h"

namespace {

constexpr const char* kLatchName = "gclatch";

}  // namespace

extern "C" uint32_t GCInit(const char* dir, GCAllocFunc alloc, GCFreeFunc free_fn, void* context, uint32_t options) {
    std::lock_guard lock(gc::library_mutex());
    gc::State& s = gc::state();
    if (s.count != 0) {
        if (s.count < 0xFFFF) ++s.count;
        return GC_OK;
    }
    s.latch = kLatchName;
    s.alloc = alloc ? alloc : GCDefAlloc;
    s.free_fn = free_fn ? free_fn : GCDefFree;
    if (context) s.context = context;
    s.fcx = 1;
    uint32_t rc = GC_OK;
    GCObjManager* manager = GCInitObjManager(dir, options, &rc);
    if (!manager) {
        s.fcx = 0;
        s.latch = nullptr;
        return GC_ERR_DATA;
    }
    s.ocx = manager;
    ++s.count;
    return rc != GC_OK ? GC_WARN_FALLBACK : GC_OK;
}

extern "C" uint32_t GCInitU(const GCUchar* dir, GCAllocFunc alloc, GCFreeFunc free_fn, void* context,
                            uint32_t options) {
    std::lock_guard lock(gc::library_mutex());
    gc::State& s = gc::state();
    if (s.count != 0 || !dir) return GCInit(nullptr, alloc, free_fn, context, options);
    size_t units = 0;
    while (dir[units]) ++units;
    GCAllocFunc allocate = alloc ? alloc : GCDefAlloc;
    GCFreeFunc release = free_fn ? free_fn : GCDefFree;
    void* ctx = context ? context : s.context;
    auto* utf8 = static_cast<unsigned char*>(allocate(ctx, 3 * units + 1));
    if (!utf8) return GC_ERR_NOMEM;
    size_t n = 0;
    for (size_t i = 0; i < units; ++i) {
        uint32_t value = dir[i];
        if (value >= 0xD800 && value <= 0xDBFF && dir[i + 1] >= 0xDC00 && dir[i + 1] <= 0xDFFF)
            value = (value << 16) | dir[++i];
        n += GCUnicodeToUTF8(value, utf8 + n);
    }
    utf8[n] = 0;
    const uint32_t rc = GCInit(reinterpret_cast<const char*>(utf8), alloc, free_fn, context, options);
    release(ctx, utf8);
    return rc;
}

extern "C" uint32_t GCTerm(void) {
    std::lock_guard lock(gc::library_mutex());
    gc::State& s = gc::state();
    // A termination without a matching initialisation changes nothing.
    if (s.count == 0) return GC_OK;
    if (--s.count != 0) return GC_OK;
    uint32_t locale_rc = GC_OK;
    if (s.glocale) {
        locale_rc = GCReleaseLocale(s.glocale);
        s.glocale = nullptr;
    }
    GCObjManager* manager = s.ocx;
    s.ocx = nullptr;
    const uint32_t rc = manager ? GCTermObjManager(manager) : GC_OK;
    s.fcx = 0;
    s.latch = nullptr;
    return locale_rc != GC_OK ? locale_rc : rc;
}
