// Reads arbitrary bytes as a sectioned parameter table file; when it reads, writes the sections
// back and reads them again: every section and row must come back (values cut to the 2048
// characters a file keeps, without the trailing blanks the reader removes).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "gm_param.h"

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;
using Sections = std::vector<std::pair<std::string, Rows>>;

Sections sections_of(ZPALIST_handle_typ* list) {
    Sections out;
    ZPALIST_handle_typ walker = *list;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) {
        auto* section = static_cast<GM_PARAM_subtable_row*>(element);
        Rows rows;
        ZPALIST_handle_typ r = section->list;
        GM_PARAM_list_reset(&r);
        char* key = nullptr;
        void* value = nullptr;
        while (GM_PARAM_list_next(&r, &key, &value) == CM_RC_OK) rows.emplace_back(key, static_cast<char*>(value));
        out.emplace_back(section->key, rows);
    }
    return out;
}

void write_bytes(const char* path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path, "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    write_bytes("./fuzz_sect.dat", data, size);
    ZPALIST_handle_typ list{};
    const CM_RC rc = GM_PARAM_subtable_load_file(&list, "./fuzz_sect.dat");
    if (rc != CM_RC_OK) {
        if (rc != CM_RC_FAIL) std::abort();
        GM_PARAM_subtable_list_clear(&list);
        return 0;
    }
    Sections sections = sections_of(&list);
    if (GM_PARAM_subtable_list_save(&list, "./fuzz_sect_out.dat") != CM_RC_OK) std::abort();
    GM_PARAM_subtable_list_clear(&list);

    ZPALIST_handle_typ back{};
    if (GM_PARAM_subtable_load_file(&back, "./fuzz_sect_out.dat") != CM_RC_OK) std::abort();
    Sections reread = sections_of(&back);
    GM_PARAM_subtable_list_clear(&back);
    for (auto& section : sections) {
        for (auto& row : section.second) {
            if (row.second.size() > 2048) row.second.resize(2048);
            while (!row.second.empty() && row.second.back() == ' ') row.second.pop_back();
        }
    }
    if (reread != sections) std::abort();
    return 0;
}
