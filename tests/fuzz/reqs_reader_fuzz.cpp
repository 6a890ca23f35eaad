// Reads arbitrary bytes as the submitted-requests file, writes the rows back in the file's row
// format and reads them again: every row comes back with its key and its value (cut to what one
// line of the reader holds behind the key's 64 columns and two blanks, trailing blanks removed).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "be_def.h"
#include "be_internal.h"
#include "param_round_trip.h"

using namespace fuzz_param;

namespace {

// Characters of a value that a line written by the writer brings back to the reader.
constexpr std::size_t kValueReadBack = BE_DUZ_REQS_LINE_MAX - 1 - BE_DUZ_REQS_KEY_WIDTH - 2;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    ZPALIST_handle_typ list{};
    std::string failed_line;
    if (be_reqs_parse(content, &list, &failed_line) != CM_RC_OK) {
        if (failed_line.empty()) std::abort();  // a failure names the line
        GM_PARAM_list_clear(&list);
        return 0;
    }
    Rows rows = rows_of(list);
    const std::string text = be_reqs_text(&list);
    GM_PARAM_list_clear(&list);

    ZPALIST_handle_typ back{};
    if (be_reqs_parse(text, &back, nullptr) != CM_RC_OK) std::abort();
    const Rows reread = rows_of(back);
    GM_PARAM_list_clear(&back);
    for (auto& row : rows) {
        if (row.second.size() > kValueReadBack) row.second.resize(kValueReadBack);
        row.second = as_saved(row.second);
    }
    if (reread != rows) std::abort();
    return 0;
}
