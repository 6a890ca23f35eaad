// What the globalization library's modules share and never export: the process-wide state and its
// mutex, the memory callbacks in force, the open-file record, section sizes of loaded objects, the
// checks that make a data file safe to read, and the built-in objects.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "gc.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "locale data files are little-endian");
static_assert(sizeof(GCObjEntry) == GC_CTL_ROW_SIZE, "control rows are read straight into entries");
static_assert(sizeof(GCFileHdr) == 80 && sizeof(GCFileHdrV2) == 76);
static_assert(sizeof(GCCp) == GC_CP_FIXED_SIZE && sizeof(GCCpV2) == 4376 && sizeof(GCCpV1) == 4372);
static_assert(sizeof(GCSort) == GC_SORT_FIXED_SIZE && sizeof(GCSortV1) == 1036);
static_assert(sizeof(GCCpNode) == 6 && sizeof(GCSortWeight) == 6 && sizeof(GCSortExp) == 14 &&
              sizeof(GCSortComb) == 10);

namespace gc {
struct PageTables;
// Frees a code page's direct conversion tables (gccp.cpp).
struct PageTablesFree {
    void operator()(PageTables* tables) const;
};
}  // namespace gc

// The open-file record of the file layer. The object loader also notes here the sizes of the
// sections it mapped (or converted) from the file, so that every walk can check its indexes.
struct GCFile {
    int fd = -1;
    int mode = GC_FILE_READ;
    bool backup = false;  // mode 1 writing through "<base>.tmp"
    bool eof = false;
    std::string base;  // path up to its last '.', for the backup form
    std::string ext;   // the extension after that '.', without it
    bool has_ext = false;
    uint32_t sectsize[4] = {0, 0, 0, 0};
    // The direct conversion tables of the code page read from this file: built on first use and
    // freed with the record, when the page is unloaded.
    std::once_flag tables_once;
    std::unique_ptr<gc::PageTables, gc::PageTablesFree> tables;
};

namespace gc {

// Unaligned little-endian reads and writes inside sections.
inline uint16_t read_u16(const void* base, size_t offset) {
    uint16_t v;
    std::memcpy(&v, static_cast<const char*>(base) + offset, sizeof v);
    return v;
}
inline uint32_t read_u32(const void* base, size_t offset) {
    uint32_t v;
    std::memcpy(&v, static_cast<const char*>(base) + offset, sizeof v);
    return v;
}
inline void write_u16(void* base, size_t offset, uint16_t v) {
    std::memcpy(static_cast<char*>(base) + offset, &v, sizeof v);
}
inline void write_u32(void* base, size_t offset, uint32_t v) {
    std::memcpy(static_cast<char*>(base) + offset, &v, sizeof v);
}

// One mutex for the library: start, end and object loading run under it; locale calls that
// change the process locale take it as well. Recursive, since loading runs inside start-up.
std::recursive_mutex& library_mutex();

// Process-wide state of the library.
struct State {
    uint16_t count = 0;           // nested successful initialisations
    const char* latch = nullptr;  // set while initialised
    GCAllocFunc alloc = GCDefAlloc;
    GCFreeFunc free_fn = GCDefFree;
    void* context = nullptr;
    int fcx = 0;                  // file-layer context: 1 while initialised
    GCObjManager* ocx = nullptr;  // the object manager
    GCLocale* glocale = nullptr;  // library-wide locale: released at the end, never set here
};
State& state();

// Allocation and release through the callbacks in force.
void* allocate(size_t size);
bool release(void* block);  // false when the free callback reports a failure

// The default data directory; tests put another in its place (nullptr restores it).
const char* default_data_dir();
void set_default_data_dir(const char* dir);

// Size of section i (0-3) of a loaded object, 0 when it has none.
uint32_t section_size(const GCObjEntry* entry, int i);

// Sizes of the version 3 blocks that the up-converters make.
uint32_t cp_v3_size(uint8_t maxlen, uint32_t old_size, uint32_t old_mboff);
uint32_t cp_v1_section2_size(uint32_t size2, uint32_t nodesize);

// Checks of a section against its fixed part and offsets: GC_OK or GC_ERR_NOTLOCALE.
uint32_t check_cp_v2(const void* section1, uint32_t size);
uint32_t check_cp_v1(const void* section1, uint32_t size1, uint32_t size2);
uint32_t check_sort_v1(const void* section1, uint32_t size);
uint32_t check_object(const GCObjEntry* entry);

// The built-in objects: three control rows (language, territory, code page, id 1) and the data
// sections of each type. builtin_sections gives false for a type without a built-in object.
extern const GCObjEntry builtin_rows[3];
bool builtin_sections(uint8_t type, void* sect[4], uint32_t sizes[4]);

}  // namespace gc
