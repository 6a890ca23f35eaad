/* The object manager: reads the control file of the data directory into the object table, finds
 * objects by identifier or by name, loads an object's data file (mapped read-only, older versions
 * converted, every section checked against the file and its own offsets) on first use, and falls
 * back to the built-in objects when the data cannot be used. */
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "gc_internal.h"

namespace {

void set_rc(uint32_t* rc, uint32_t value) {
    if (rc) *rc = value;
}

// The header of an open data file, mapped, and converted when the file is older than version 3.
struct Header {
    const void* mapped = nullptr;
    GCFileHdr* converted = nullptr;
    const GCFileHdr* hdr = nullptr;
    uint32_t major = 0;
    uint32_t minor = 0;

    uint32_t map(GCFile* file) {
        const uint32_t file_size = GCFileSize(file);
        if (file_size == 0xFFFFFFFFu) return GC_ERR_IO;
        if (file_size < 4) return GC_ERR_NOTLOCALE;
        uint32_t rc = GC_OK;
        mapped = GCLoadFile(file, 0, std::min<uint32_t>(file_size, sizeof(GCFileHdr)), &rc);
        if (!mapped) return rc != GC_OK ? rc : GC_ERR_IO;
        if (gc::read_u32(mapped, 0) != GC_MAGIC) return GC_ERR_NOTLOCALE;
        const uint32_t version = gc::read_u32(mapped, 4);
        major = GC_VERSION_MAJOR(version);
        minor = GC_VERSION_MINOR(version);
        if (major < 3) {
            if (file_size < sizeof(GCFileHdrV2)) return GC_ERR_IO;
            converted = GCFileHdrV2toV3(static_cast<const GCFileHdrV2*>(mapped));
            if (!converted) return GC_ERR_NOMEM;
            hdr = converted;
        } else {
            if (file_size < sizeof(GCFileHdr)) return GC_ERR_IO;
            hdr = static_cast<const GCFileHdr*>(mapped);
        }
        return GC_OK;
    }

    void release() {
        if (converted) gc::release(converted);
        if (mapped) GCUnloadFile(mapped);
        *this = Header{};
    }
};

uint16_t range_end(const GCObjManager* m, uint16_t type) { return type < GC_OBJ_SORT ? m->first[type + 1] : m->end; }

// First index of each type, for a table sorted by type (a table that is not stays within bounds).
void compute_ranges(GCObjManager* m) {
    uint16_t i = 0;
    for (uint8_t t = GC_OBJ_LANGUAGE; t <= GC_OBJ_SORT; ++t) {
        while (i < m->count && m->table[i].type < t) ++i;
        m->first[t] = i;
    }
    while (i < m->count && m->table[i].type <= GC_OBJ_SORT) ++i;
    m->end = i;
}

GCObjManager* enter_fallback(GCObjManager* m, uint32_t* rc) {
    m->table = static_cast<GCObjEntry*>(gc::allocate(sizeof gc::builtin_rows));
    if (!m->table) {
        gc::release(m);
        set_rc(rc, GC_ERR_NOMEM);
        return nullptr;
    }
    std::memcpy(static_cast<void*>(m->table), gc::builtin_rows, sizeof gc::builtin_rows);
    m->count = 3;
    for (uint16_t i = 0; i < m->count; ++i) GCLoadDefaultObj(m, &m->table[i]);
    m->first[GC_OBJ_LANGUAGE] = 0;
    m->first[GC_OBJ_TERRITORY] = 1;
    m->first[GC_OBJ_CODEPAGE] = 2;
    m->first[GC_OBJ_SORT] = 3;
    m->end = 3;
    m->nofallback = 1;
    m->dir[0] = '\0';
    return m;
}

// Opens the control file of a directory; on success the directory becomes the manager's.
// A directory whose control-file path does not fit sets too_long.
GCFile* open_control(GCObjManager* m, const char* dir, uint32_t* rc, bool* too_long) {
    char path[256];
    if (!GCGetControlFileName(dir, path, sizeof path)) {
        set_rc(rc, GC_ERR_IO);
        *too_long = true;
        return nullptr;
    }
    GCFile* file = GCOpenFile(gc::state().fcx, path, GC_FILE_READ, 1, rc);
    if (file) std::snprintf(m->dir, sizeof m->dir, "%s", dir);
    return file;
}

// Reads the control table of an open control file into the manager.
uint32_t read_control(GCObjManager* m, GCFile* file) {
    Header header;
    uint32_t rc = header.map(file);
    if (rc == GC_OK) {
        const GCSectDesc table = header.hdr->sect[0];
        const uint32_t file_size = GCFileSize(file);
        if (static_cast<uint64_t>(table.offset) + table.size > file_size) {
            rc = GC_ERR_IO;
        } else if (!(m->table = static_cast<GCObjEntry*>(gc::allocate(std::max<uint32_t>(table.size, 1))))) {
            rc = GC_ERR_NOMEM;
        } else if (GCSeekFile(file, table.offset, GC_SEEK_SET) != 0) {
            rc = GC_ERR_IO;
        } else if (GCReadFile(file, m->table, table.size, &rc) != table.size) {
            if (rc == GC_OK) rc = GC_ERR_IO;
        } else {
            m->count = static_cast<uint16_t>(std::min<uint32_t>(table.size / GC_CTL_ROW_SIZE, 0xFFFF));
            for (uint16_t i = 0; i < m->count; ++i) {
                GCObjEntry& e = m->table[i];
                // Run-time fields start empty whatever the file holds; names end by the 36th byte.
                e.flags = 0;
                e.file = nullptr;
                for (void*& s : e.sect) s = nullptr;
                e.name[sizeof e.name - 1] = '\0';
            }
            compute_ranges(m);
        }
    }
    header.release();
    return rc;
}

}  // namespace

extern "C" GCObjManager* GCInitObjManager(const char* dir, uint32_t options, uint32_t* rc) {
    std::lock_guard lock(gc::library_mutex());
    set_rc(rc, GC_OK);
    uint32_t code = GC_OK;
    auto* m = static_cast<GCObjManager*>(gc::allocate(sizeof(GCObjManager)));
    if (!m) {
        set_rc(rc, GC_ERR_NOMEM);
        return nullptr;
    }
    std::memset(static_cast<void*>(m), 0, sizeof *m);
    m->nofallback = options == GC_INIT_STRICT ? 1 : 0;

    GCFile* file = nullptr;
    bool give_up = false;
    if (dir) file = open_control(m, dir, &code, &give_up);
    if (!file && !give_up) {
        char location[256];
        const int n = GCGetDataLocation(location, sizeof location, 0);
        if (n == 0) {
            code = GC_ERR_IO;
            give_up = true;
        } else if (n > 0) {
            file = open_control(m, location, &code, &give_up);
        }
    }
    if (!file && !give_up) {
        char location[256];
        if (GCGetDataLocation(location, sizeof location, 1) > 0)
            file = open_control(m, location, &code, &give_up);
        else
            code = GC_ERR_IO;
    }
    if (file) {
        code = read_control(m, file);
        GCCloseFile(file, 0);
        if (code == GC_OK) return m;
        if (m->table) gc::release(m->table);
        m->table = nullptr;
        m->count = 0;
    }
    set_rc(rc, code);
    if (options != GC_INIT_STRICT && code != GC_ERR_NOMEM) return enter_fallback(m, rc);
    gc::release(m);
    return nullptr;
}

extern "C" uint32_t GCTermObjManager(GCObjManager* m) {
    if (!m) return GC_OK;
    std::lock_guard lock(gc::library_mutex());
    uint32_t result = GC_OK;
    for (uint16_t i = 0; i < m->count; ++i) {
        GCObjEntry& e = m->table[i];
        if (e.sect[0] && !(e.flags & GC_OBJ_BUILTIN)) result = GCUnloadObj(m, &e);
    }
    if (m->table && !gc::release(m->table)) result = 1;
    if (!gc::release(m)) result = 1;
    return result;
}

extern "C" GCObjEntry* GCGetObjFromID(GCObjManager* m, uint16_t type, uint16_t id, int noload, uint32_t* rc) {
    std::lock_guard lock(gc::library_mutex());
    set_rc(rc, GC_OK);
    if (type == GC_OBJ_SORT && id == 0) return nullptr;
    if (!m || type > GC_OBJ_SORT) {
        set_rc(rc, GC_ERR_NOTFOUND);
        return nullptr;
    }
    uint16_t low = m->first[type];
    uint16_t high = range_end(m, type);
    while (low < high) {
        const uint16_t mid = static_cast<uint16_t>((low + high) / 2);
        if (m->table[mid].id < id)
            low = static_cast<uint16_t>(mid + 1);
        else
            high = mid;
    }
    if (low >= range_end(m, type) || m->table[low].id != id || m->table[low].type != type) {
        set_rc(rc, GC_ERR_NOTFOUND);
        return nullptr;
    }
    GCObjEntry* e = &m->table[low];
    if (noload || e->sect[0]) return e;
    return GCLoadObj(m, e, rc);
}

extern "C" GCObjEntry* GCGetObjFromName(GCObjManager* m, uint16_t type, const char* name, uint32_t length, int noload,
                                        uint32_t* rc) {
    std::lock_guard lock(gc::library_mutex());
    set_rc(rc, GC_OK);
    if (type == GC_OBJ_SORT && name && (length == 6 || length == 7) && GCmemicmp(name, "BINARY", 6) == 0 &&
        (length == 6 || name[6] == '\0'))
        return nullptr;
    if (!m || !name || type > GC_OBJ_SORT) {
        set_rc(rc, GC_ERR_NOTFOUND);
        return nullptr;
    }
    for (uint16_t i = m->first[type]; i < range_end(m, type); ++i) {
        GCObjEntry* e = &m->table[i];
        if (e->type != type) continue;
        const uint32_t stored = static_cast<uint32_t>(strnlen(e->name, sizeof e->name));
        if ((stored == length || stored + 1 == length) && GCmemicmp(e->name, name, length) == 0) {
            if (noload || e->sect[0]) return e;
            return GCLoadObj(m, e, rc);
        }
    }
    set_rc(rc, GC_ERR_NOTFOUND);
    return nullptr;
}

extern "C" GCObjEntry* GCGetObjFromNameW(GCObjManager* m, uint16_t type, const uint32_t* name, uint32_t length,
                                         int noload, uint32_t* rc) {
    auto* narrow = static_cast<char*>(gc::allocate(std::max<uint32_t>(length, 1)));
    if (!narrow) {
        set_rc(rc, GC_ERR_NOMEM);
        return nullptr;
    }
    for (uint32_t i = 0; i < length; ++i) narrow[i] = static_cast<char>(name[i] & 0xFF);
    GCObjEntry* e = GCGetObjFromName(m, type, narrow, length, noload, rc);
    gc::release(narrow);
    return e;
}

extern "C" GCObjEntry* GCLoadObj(GCObjManager* m, GCObjEntry* e, uint32_t* rc) {
    std::lock_guard lock(gc::library_mutex());
    set_rc(rc, GC_OK);
    if (!m || !e) {
        set_rc(rc, GC_ERR_NOTFOUND);
        return nullptr;
    }
    if (e->sect[0]) return e;

    uint32_t code = GC_OK;
    Header header;
    char path[256];
    e->flags = 0;
    if (e->type > GC_OBJ_SORT) {
        code = GC_ERR_NOTLOCALE;
    } else if (!GCGetDataFileName(m->dir, e->type, e->id, path, sizeof path)) {
        code = GC_ERR_IO;
    } else if ((e->file = GCOpenFile(gc::state().fcx, path, GC_FILE_READ, 1, &code)) != nullptr) {
        code = header.map(e->file);
    }
    uint32_t* sizes = e->file ? e->file->sectsize : nullptr;
    for (int i = 0; code == GC_OK && i < 4; ++i) {
        if (i > 0 && header.hdr->nsect <= i) break;
        const GCSectDesc sect = header.hdr->sect[i];
        const void* view = GCLoadFile(e->file, sect.offset, sect.size, &code);
        e->sect[i] = const_cast<void*>(view);
        if (view) sizes[i] = sect.size;
    }
    // Older code pages and sorts become version 3 heap copies.
    if (code == GC_OK && e->type == GC_OBJ_CODEPAGE && (header.major < 3 || header.minor < 3)) {
        if (header.major == 1) {
            code = gc::check_cp_v1(e->sect[0], sizes[0], e->sect[1] ? sizes[1] : 0);
            void* s2 = nullptr;
            void* s1 = code == GC_OK ? GCCpV1toV3(e->sect[0], sizes[0], e->sect[1], sizes[1], &s2) : nullptr;
            if (code == GC_OK && !s1) code = GC_ERR_NOMEM;
            if (s1) {
                const auto* old = static_cast<const GCCpV1*>(e->sect[0]);
                const uint32_t s1_size = gc::cp_v3_size(old->maxlen, sizes[0], old->mboff);
                const uint32_t s2_size = s2 ? gc::cp_v1_section2_size(sizes[1], old->nodesize) : 0;
                GCUnloadFile(e->sect[0]);
                if (e->sect[1]) GCUnloadFile(e->sect[1]);
                e->sect[0] = s1;
                sizes[0] = s1_size;
                e->sect[1] = s2;
                sizes[1] = s2_size;
                e->flags |= GC_OBJ_HEAP(1) | (s2 ? GC_OBJ_HEAP(2) : 0);
            }
        } else {
            code = gc::check_cp_v2(e->sect[0], sizes[0]);
            void* s1 = code == GC_OK ? GCCpV2toV3(e->sect[0], sizes[0]) : nullptr;
            if (code == GC_OK && !s1) code = GC_ERR_NOMEM;
            if (s1) {
                const auto* old = static_cast<const GCCpV2*>(e->sect[0]);
                const uint32_t s1_size = gc::cp_v3_size(old->head[offsetof(GCCp, maxlen)], sizes[0], old->mboff);
                GCUnloadFile(e->sect[0]);
                e->sect[0] = s1;
                sizes[0] = s1_size;
                e->flags |= GC_OBJ_HEAP(1);
            }
        }
    } else if (code == GC_OK && e->type == GC_OBJ_SORT && header.major < 3) {
        code = gc::check_sort_v1(e->sect[0], sizes[0]);
        void* s1 = code == GC_OK ? GCSortV1toV3(e->sect[0], sizes[0]) : nullptr;
        if (code == GC_OK && !s1) code = GC_ERR_NOMEM;
        if (s1) {
            const uint32_t s1_size = sizes[0] - static_cast<const GCSortV1*>(e->sect[0])->wtoff + GC_SORT_FIXED_SIZE;
            GCUnloadFile(e->sect[0]);
            e->sect[0] = s1;
            sizes[0] = s1_size;
            e->flags |= GC_OBJ_HEAP(1);
        }
    }
    if (code == GC_OK) code = gc::check_object(e);
    header.release();
    if (code == GC_OK) return e;

    set_rc(rc, code);
    if (e->file) GCUnloadObj(m, e);
    if (!m->nofallback && GCLoadDefaultObj(m, e) == 0) return e;
    return nullptr;
}

extern "C" uint32_t GCUnloadObj(GCObjManager* /*manager*/, GCObjEntry* e) {
    if (!e || (e->flags & GC_OBJ_BUILTIN)) return GC_OK;
    std::lock_guard lock(gc::library_mutex());
    uint32_t result = GC_OK;
    for (int i = 3; i >= 0; --i) {
        if (!e->sect[i]) continue;
        if (e->flags & GC_OBJ_HEAP(i + 1)) {
            if (!gc::release(e->sect[i])) result = GC_ERR_NOTFREED;
        } else if (const uint32_t r = GCUnloadFile(e->sect[i]); r != GC_OK) {
            result = r;
        }
        e->sect[i] = nullptr;
    }
    if (e->file && GCCloseFile(e->file, 0) != 0) result = GC_ERR_OS;
    e->file = nullptr;
    e->flags = 0;
    return result;
}

extern "C" uint32_t GCLoadDefaultObj(GCObjManager* /*manager*/, GCObjEntry* e) {
    void* sect[4];
    uint32_t sizes[4];
    if (!e || !gc::builtin_sections(e->type, sect, sizes)) return 1;
    std::memcpy(e->sect, sect, sizeof sect);
    e->file = nullptr;
    e->flags = GC_OBJ_BUILTIN;
    return GC_OK;
}
