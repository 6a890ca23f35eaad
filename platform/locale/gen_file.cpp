// Writes locale data files: the header, the sections, and the older layouts of code pages and
// sorts when an older version is asked for.
#include "gen_file.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "gc.h"

namespace gen {
namespace {

template <typename T>
void put(Bytes& b, size_t at, T v) {
    if (at + sizeof v > b.size()) b.resize(at + sizeof v);
    std::memcpy(b.data() + at, &v, sizeof v);
}

template <typename T>
T get(const Bytes& b, size_t at) {
    T v;
    std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}

uint16_t narrow16(uint32_t v, const char* what) {
    if (v > 0xFFFF) throw std::runtime_error(std::string(what) + " does not fit 16 bits in an older format");
    return static_cast<uint16_t>(v);
}

const char* kPrefix[4] = {"la", "te", "cp", "so"};

// A version 3 code page's section 1 in the version 2 layout.
Bytes cp_v2(const Bytes& v3) {
    const uint8_t maxlen = v3[offsetof(GCCp, maxlen)];
    Bytes v2(sizeof(GCCpV2), 0);
    std::memcpy(v2.data(), v3.data(), offsetof(GCCp, flags));
    put<uint16_t>(v2, offsetof(GCCpV2, flags), get<uint16_t>(v3, offsetof(GCCp, flags)));
    if (maxlen >= 2) {
        const uint32_t mboff = get<uint32_t>(v3, offsetof(GCCp, mboff));
        const uint32_t at = sizeof(GCCpV2);
        v2.insert(v2.end(), v3.begin() + mboff, v3.end());
        auto moved = [&](size_t field) {
            return narrow16(get<uint32_t>(v3, field) - mboff + at, "a sub-table offset");
        };
        put<uint16_t>(v2, offsetof(GCCpV2, mboff), static_cast<uint16_t>(at));
        put<uint16_t>(v2, offsetof(GCCpV2, suboff), moved(offsetof(GCCp, pairoff)));
        put<uint16_t>(v2, offsetof(GCCpV2, suboff) + 2, moved(offsetof(GCCp, trieoff)));
        put<uint16_t>(v2, offsetof(GCCpV2, suboff) + 4, moved(offsetof(GCCp, recoff)));
        put<uint16_t>(v2, offsetof(GCCpV2, valoff),
                      narrow16(get<uint32_t>(v3, offsetof(GCCp, valoff)), "the value array"));
    }
    return v2;
}

// A version 3 code page's section 1 in the version 1 layout; a multi-byte page takes its version 1
// section 2 from the object.
Bytes cp_v1(const Object& object, Bytes* section2) {
    const Bytes& v3 = object.sections[0];
    Bytes v1(sizeof(GCCpV1), 0);
    std::memcpy(v1.data(), v3.data(), offsetof(GCCp, so));
    auto copy = [&](size_t to, size_t from, size_t n) { std::memcpy(v1.data() + to, v3.data() + from, n); };
    copy(offsetof(GCCpV1, len), offsetof(GCCp, len), 256);
    copy(offsetof(GCCpV1, upper), offsetof(GCCp, upper), 256);
    copy(offsetof(GCCpV1, lower), offsetof(GCCp, lower), 256);
    copy(offsetof(GCCpV1, uni), offsetof(GCCp, uni), 512);
    copy(offsetof(GCCpV1, ctype), offsetof(GCCp, ctype), 1024);
    copy(offsetof(GCCpV1, enc), offsetof(GCCp, enc), 2048);
    copy(offsetof(GCCpV1, flags), offsetof(GCCp, flags), 2);
    if (v3[offsetof(GCCp, maxlen)] < 2) return v1;
    if (object.v1_section2.empty()) throw std::runtime_error("this code page has no version 1 form");
    const uint32_t mboff = get<uint32_t>(v3, offsetof(GCCp, mboff));
    const uint32_t at = sizeof(GCCpV1);
    v1.insert(v1.end(), v3.begin() + mboff, v3.end());
    auto moved = [&](size_t field) { return narrow16(get<uint32_t>(v3, field) - mboff + at, "a sub-table offset"); };
    put<uint16_t>(v1, offsetof(GCCpV1, mboff), static_cast<uint16_t>(at));
    put<uint16_t>(v1, offsetof(GCCpV1, suboff), moved(offsetof(GCCp, pairoff)));
    put<uint16_t>(v1, offsetof(GCCpV1, suboff) + 2, moved(offsetof(GCCp, trieoff)));
    put<uint16_t>(v1, offsetof(GCCpV1, suboff) + 4, moved(offsetof(GCCp, recoff)));
    put<uint16_t>(v1, offsetof(GCCpV1, nodesize), narrow16(object.v1_nodesize, "the node array"));
    *section2 = object.v1_section2;
    return v1;
}

// A version 3 sort in the version 1 layout.
Bytes sort_v1(const Bytes& v3) {
    Bytes v1(sizeof(GCSortV1), 0);
    std::memcpy(v1.data(), v3.data(), 6);
    for (size_t i = 0; i < 256; ++i) {
        const size_t from = offsetof(GCSort, row) + 8 * i;
        const size_t to = offsetof(GCSortV1, row) + 4 * i;
        v1[to] = v3[from];
        v1[to + 1] = v3[from + 1];
        put<uint16_t>(v1, to + 2, narrow16(get<uint32_t>(v3, from + 4), "a sort row base"));
    }
    const uint32_t wtoff = get<uint32_t>(v3, offsetof(GCSort, wtoff));
    const uint32_t at = sizeof(GCSortV1);
    auto moved = [&](size_t field) { return narrow16(get<uint32_t>(v3, field) - wtoff + at, "a sort offset"); };
    put<uint16_t>(v1, offsetof(GCSortV1, wtoff), static_cast<uint16_t>(at));
    put<uint16_t>(v1, offsetof(GCSortV1, expoff), moved(offsetof(GCSort, expoff)));
    put<uint16_t>(v1, offsetof(GCSortV1, comboff), moved(offsetof(GCSort, comboff)));
    v1.insert(v1.end(), v3.begin() + wtoff, v3.end());
    return v1;
}

size_t align8(size_t n) { return (n + 7) & ~size_t{7}; }

void write_bytes(const std::string& path, const Bytes& content) {
    std::filesystem::remove(path);  // a link to another copy of the data is replaced, not written through
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void write_file(const std::string& path, const std::vector<Bytes>& sections, Format format) {
    const bool old = format.major < 3;
    const size_t header_size = old ? sizeof(GCFileHdrV2) : sizeof(GCFileHdr);
    Bytes file(header_size, 0);
    put<uint32_t>(file, 0, GC_MAGIC);
    put<uint32_t>(file, 4, GC_VERSION_WORD(format.major, format.minor));
    put<uint16_t>(file, 8, static_cast<uint16_t>(sections.size()));
    for (size_t i = 0; i < sections.size(); ++i) {
        const Bytes& s = sections[i];
        const size_t offset = s.empty() ? 0 : align8(file.size());
        if (!s.empty()) {
            file.resize(offset, 0);
            file.insert(file.end(), s.begin(), s.end());
        }
        if (!old) {
            put<uint32_t>(file, offsetof(GCFileHdr, sect) + 8 * i, static_cast<uint32_t>(s.size()));
            put<uint32_t>(file, offsetof(GCFileHdr, sect) + 8 * i + 4, static_cast<uint32_t>(offset));
        } else if (i == 0) {
            put<uint16_t>(file, offsetof(GCFileHdrV2, size1), narrow16(static_cast<uint32_t>(s.size()), "section 1"));
            put<uint32_t>(file, offsetof(GCFileHdrV2, offset1), static_cast<uint32_t>(offset));
        } else {
            const size_t at = offsetof(GCFileHdrV2, sect) + 8 * (i - 1);
            put<uint16_t>(file, at, narrow16(static_cast<uint32_t>(s.size()), "a section"));
            put<uint32_t>(file, at + 4, static_cast<uint32_t>(offset));
        }
    }
    write_bytes(path, file);
}

}  // namespace

std::string file_name(const std::string& dir, const Object& object) {
    char name[32];
    std::snprintf(name, sizeof name, "/%s_%04d.nls", kPrefix[object.type], object.id);
    return dir + name;
}

void write_object(const std::string& dir, const Object& object, Format format) {
    std::vector<Bytes> sections = object.sections;
    if (object.type == GC_OBJ_CODEPAGE && format.major == 1)
        sections[0] = cp_v1(object, &sections[1]);
    else if (object.type == GC_OBJ_CODEPAGE && format.minor < 3)
        sections[0] = cp_v2(sections[0]);
    if (object.type == GC_OBJ_SORT && format.major < 3) sections[0] = sort_v1(sections[0]);
    write_file(file_name(dir, object), sections, format);
}

void write_control(const std::string& dir, std::vector<Object> objects, Format format) {
    std::sort(objects.begin(), objects.end(),
              [](const Object& a, const Object& b) { return a.type != b.type ? a.type < b.type : a.id < b.id; });
    Bytes table;
    for (const Object& o : objects) {
        Bytes row(GC_CTL_ROW_SIZE, 0);
        put<uint16_t>(row, 0, o.id);
        row[2] = o.type;
        if (o.name.size() > 35) throw std::runtime_error("object name too long: " + o.name);
        std::memcpy(row.data() + 4, o.name.data(), o.name.size());
        table.insert(table.end(), row.begin(), row.end());
    }
    write_file(dir + "/control.nls", {table}, format);
}

}  // namespace gen
