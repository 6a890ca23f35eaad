// Reads arbitrary bytes as a sectioned parameter table file; when it reads, writes the sections
// back and reads them again: every section and row must come back (values cut to the 2048
// characters a file keeps, without the trailing blanks the reader removes).
#include "param_round_trip.h"

using fuzz_param::Sections;
using fuzz_param::sections_of;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_param::write_bytes("./fuzz_sect.dat", data, size);
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
        for (auto& row : section.second) row.second = fuzz_param::as_saved(row.second);
    }
    if (reread != sections) std::abort();
    return 0;
}
