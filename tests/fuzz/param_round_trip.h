// Shared by the parameter-table fuzz targets: the input bytes as a file, the rows of a key/value
// list, and a value as a saved file keeps it (cut to 2048 characters, trailing blanks removed by
// the reader).
#pragma once

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

inline std::string as_saved(std::string value) {
    if (value.size() > 2048) value.resize(2048);
    while (!value.empty() && value.back() == ' ') value.pop_back();
    return value;
}

}  // namespace fuzz_param
