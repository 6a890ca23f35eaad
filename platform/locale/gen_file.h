// Locale data files as the generator writes them: an object's sections in the current (version 3)
// layout, written as version 3, or in an older version on request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gen {

using Bytes = std::vector<uint8_t>;

struct Object {
    uint8_t type = 0;
    uint16_t id = 0;
    std::string name;
    std::vector<Bytes> sections;  // 1 to 4, version 3 layouts; an empty one is absent
    // A multi-byte code page's section 2 in the version 1 form (4-byte nodes covering every byte,
    // then the values) and the size of its nodes; empty when the page has no version 1 form.
    Bytes v1_section2;
    uint32_t v1_nodesize = 0;
};

// Format of a written file: major version 1, 2 or 3, and the minor version of a version 3 file
// (below 3, a code page keeps the version 2 layout).
struct Format {
    unsigned major = 3;
    unsigned minor = 3;
};

// "<dir>/<prefix>_<id>.nls"
std::string file_name(const std::string& dir, const Object& object);
// Writes an object's data file; throws std::runtime_error when it cannot be written in that format.
void write_object(const std::string& dir, const Object& object, Format format);
// Writes "control.nls" listing the objects (sorted by type and identifier).
void write_control(const std::string& dir, std::vector<Object> objects, Format format);

}  // namespace gen
