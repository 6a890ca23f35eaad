// Reads arbitrary bytes as a flat parameter table file, writes the rows back and reads them again:
// every row must come back with its key and its value (cut to the 2048 characters a file keeps,
// without the trailing blanks the reader removes).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "gm_param.h"

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

Rows rows_of(ZPALIST_handle_typ* list) {
    Rows rows;
    GM_PARAM_list_reset(list);
    char* key = nullptr;
    void* value = nullptr;
    while (GM_PARAM_list_next(list, &key, &value) == CM_RC_OK) rows.emplace_back(key, static_cast<char*>(value));
    return rows;
}

std::string as_saved(std::string value) {
    if (value.size() > 2048) value.resize(2048);
    while (!value.empty() && value.back() == ' ') value.pop_back();
    return value;
}

void write_bytes(const char* path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path, "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    write_bytes("./fuzz_flat.dat", data, size);
    ZPALIST_handle_typ list{};
    if (GM_PARAM_load_file(&list, "./fuzz_flat.dat") != CM_RC_OK) std::abort();
    Rows rows = rows_of(&list);
    if (GM_PARAM_list_save(&list, "./fuzz_flat_out.dat") != CM_RC_OK) std::abort();
    ZPALIST_clear(&list);

    ZPALIST_handle_typ back{};
    if (GM_PARAM_load_file(&back, "./fuzz_flat_out.dat") != CM_RC_OK) std::abort();
    Rows reread = rows_of(&back);
    ZPALIST_clear(&back);
    for (auto& row : rows) row.second = as_saved(row.second);
    if (reread != rows) std::abort();
    return 0;
}
