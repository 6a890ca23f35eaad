// Reads arbitrary bytes as the submitted-requests file: the whole-content reader gives the rows
// that the line reader of a descriptor (BE_DUZ_ReadReqLine and BE_DUZ_param_parse_str) gives, and
// the rows written back in the file's row format read back the same (values cut to what one line
// of the reader holds behind the key's 64 columns and two blanks, trailing blanks removed). A
// submission's row recorded straight in the text gives the text of the list's cycle, the lines that
// fail the reader dropped.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "be_def.h"
#include "be_internal.h"
#include "param_round_trip.h"

using namespace fuzz_param;

namespace {

// Characters of a value that a line written by the writer brings back to the reader.
constexpr std::size_t kValueReadBack = BE_DUZ_REQS_LINE_MAX - 1 - BE_DUZ_REQS_KEY_WIDTH - 2;

// The rows as the reader of a descriptor sees them, line by line; false when a line fails.
bool read_line_by_line(const uint8_t* data, size_t size, Rows& rows) {
    write_bytes("./fuzz_reqs.dat", data, size);
    const int fd = ::open("./fuzz_reqs.dat", O_RDONLY);
    if (fd < 0) std::abort();
    ZPALIST_handle_typ list{};
    bool ok = true;
    char line[BE_DUZ_REQS_LINE_MAX + 1];
    for (;;) {
        std::memset(line, 0, sizeof line);
        const CM_RC rc = BE_DUZ_ReadReqLine(fd, line, nullptr);
        if (rc == CM_RC_EOF) break;
        if (rc != CM_RC_OK) std::abort();
        if (BE_DUZ_param_parse_str(&list, line) != CM_RC_OK) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    rows = rows_of(list);
    GM_PARAM_list_clear(&list);
    return ok;
}

// The text a submission of a request of the content's first row (or of "1") leaves: recorded row by
// row, it is the list's cycle's (parse dropping the lines that fail the reader, drop rows older than
// a day, GM_PARAM_list_set, write). Where the reader takes every line, the rows it drops nothing of
// are the reader's.
void check_recording(const std::string& content, ZPALIST_handle_typ* parsed, bool ok) {
    const std::time_t now = std::time(nullptr);
    const std::string seen = std::to_string(now);
    const std::string key =
        parsed->first != nullptr ? static_cast<const GM_PARAM_table_row*>(parsed->first->ptr)->key : "1";
    ZPALIST_handle_typ rows{};
    if (be_reqs_parse_readable(content, &rows) != CM_RC_OK) std::abort();
    if (ok && rows_of(rows) != rows_of(*parsed)) std::abort();
    if (be_reqs_drop_old(&rows, now) != CM_RC_OK || GM_PARAM_list_set(&rows, key.c_str(), seen.c_str()) != CM_RC_OK)
        std::abort();
    const std::string expected = be_reqs_text(&rows);
    GM_PARAM_list_clear(&rows);
    if (be_reqs_record_text(content, key.c_str(), seen.c_str(), now) != expected) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    ZPALIST_handle_typ list{};
    std::string failed_line;
    const bool parsed = be_reqs_parse(content, &list, &failed_line) == CM_RC_OK;
    Rows rows = rows_of(list);
    Rows by_line;
    if (read_line_by_line(data, size, by_line) != parsed || by_line != rows) std::abort();
    check_recording(content, &list, parsed);
    if (!parsed) {
        if (failed_line.empty()) std::abort();  // a failure names the line
        GM_PARAM_list_clear(&list);
        return 0;
    }
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
