/* Where the locale data lives: the data directory from GC_LOCALEDIR or the default one, and the
 * names of the control file and of each object's data file in it. */
#include <cstdio>
#include <cstring>
#include <string>

#include "gc_internal.h"

namespace {

constexpr const char* kDefaultDataDir = "/Temalorn/locale";
constexpr const char* kPrefix[4] = {"la", "te", "cp", "so"};

std::string& default_dir_override() {
    static std::string dir;
    return dir;
}

}  // namespace

namespace gc {

const char* default_data_dir() {
    std::lock_guard lock(library_mutex());
    const std::string& dir = default_dir_override();
    return dir.empty() ? kDefaultDataDir : dir.c_str();
}

void set_default_data_dir(const char* dir) {
    std::lock_guard lock(library_mutex());
    default_dir_override() = dir ? dir : "";
}

}  // namespace gc

extern "C" int GCGetDataLocation(char* buffer, uint32_t size, int use_default) {
    if (use_default) {
        const char* dir = gc::default_data_dir();
        const size_t needed = std::strlen(dir) + 1;
        if (!buffer || needed > size) return 0;
        std::memcpy(buffer, dir, needed);
        return static_cast<int>(needed);
    }
    const uint32_t needed = GCGetEnv("GC_LOCALEDIR", nullptr, 0);
    if (needed == 0) return -1;
    if (!buffer || needed > size) return 0;
    GCGetEnv("GC_LOCALEDIR", buffer, size);
    return static_cast<int>(needed);
}

extern "C" char* GCGetControlFileName(const char* dir, char* buffer, uint32_t size) {
    if (!dir || !buffer) return nullptr;
    const size_t n = std::strlen(dir);
    if (n > size || size - n < 13) return nullptr;
    std::snprintf(buffer, size, "%s/control.nls", dir);
    return buffer;
}

extern "C" char* GCGetDataFileName(const char* dir, uint16_t type, uint16_t id, char* buffer, uint32_t size) {
    if (!dir || !buffer || type > GC_OBJ_SORT || size == 0) return nullptr;
    const int n = std::snprintf(buffer, size, "%s%s%s_%04d%s", dir, "/", kPrefix[type], static_cast<int>(id), ".nls");
    if (n < 0 || static_cast<uint32_t>(n) >= size) return nullptr;
    return buffer;
}
