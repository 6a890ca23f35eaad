// Shared by the parameter-table fuzz targets: the input bytes as a file, a file's bytes, the rows
// of a key/value list and the sections of a sectioned list, and a value as a saved file gives it
// back (cut to 2048 characters, without the blanks and tabs in front and the blanks behind, which
// the reader skips: the writers refuse a value that has them, but the cut can leave blanks at the
// end of what is kept).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "gm_param.h"

namespace fuzz_param {

using Rows = std::vector<std::pair<std::string, std::string>>;

inline void write_bytes(const char* path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path, "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

// Walks a copy of the handle, so the list's own cursor stays where it was.
inline Rows rows_of(const ZPALIST_handle_typ& list) {
    Rows rows;
    ZPALIST_handle_typ walker = list;
    GM_PARAM_list_reset(&walker);
    char* key = nullptr;
    void* value = nullptr;
    while (GM_PARAM_list_next(&walker, &key, &value) == CM_RC_OK) rows.emplace_back(key, static_cast<char*>(value));
    return rows;
}

inline std::string read_bytes(const char* path) {
    std::string bytes;
    FILE* f = std::fopen(path, "rb");
    if (!f) return "<missing>";
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
}

using Sections = std::vector<std::pair<std::string, Rows>>;

inline Sections sections_of(ZPALIST_handle_typ* list) {
    Sections out;
    ZPALIST_handle_typ walker = *list;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) {
        auto* section = static_cast<GM_PARAM_subtable_row*>(element);
        out.emplace_back(section->key, rows_of(section->list));
    }
    return out;
}

inline std::string as_saved(std::string value) {
    if (value.size() > 2048) value.resize(2048);
    const std::size_t start = value.find_first_not_of(" \t");
    value.erase(0, start == std::string::npos ? value.size() : start);
    while (!value.empty() && value.back() == ' ') value.pop_back();
    return value;
}

// The one row a reader gives that a flat table cannot be saved with: a 63-character key and a value
// of 2048 characters or more make a line longer than the reader of option 1 takes at once.
inline bool too_long_for_a_flat_line(const Rows& rows) {
    for (const auto& [key, value] : rows)
        if (std::max<std::size_t>(key.size(), 35) + 1 + std::min<std::size_t>(value.size(), 2048) > 2111) return true;
    return false;
}

// A save that is refused must leave the file as it was.
inline void expect_untouched(const char* path, const std::string& before) {
    if (read_bytes(path) != before) std::abort();
}

}  // namespace fuzz_param
