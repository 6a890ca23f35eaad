// Reads arbitrary bytes as a flat parameter table file, writes the rows back and reads them again:
// every row must come back with its key and its value (cut to the 2048 characters a file keeps,
// without the trailing blanks the reader removes). Only a row whose line would be too long for
// the reader of option 1 makes the writer refuse the save.
#include "param_round_trip.h"

using namespace fuzz_param;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    write_bytes("./fuzz_flat.dat", data, size);
    ZPALIST_handle_typ list{};
    if (GM_PARAM_load_file(&list, "./fuzz_flat.dat") != CM_RC_OK) std::abort();
    Rows rows = rows_of(list);
    const CM_RC saved = GM_PARAM_list_save(&list, "./fuzz_flat_out.dat");
    ZPALIST_clear(&list);
    if (saved != CM_RC_OK) {
        if (!too_long_for_a_flat_line(rows)) std::abort();
        return 0;
    }

    ZPALIST_handle_typ back{};
    if (GM_PARAM_load_file(&back, "./fuzz_flat_out.dat") != CM_RC_OK) std::abort();
    Rows reread = rows_of(back);
    ZPALIST_clear(&back);
    for (auto& row : rows) row.second = as_saved(row.second);
    if (reread != rows) std::abort();
    return 0;
}
