// The submitted-requests file ./data/DUZ_reqs.dat (request id and the epoch second it was seen),
// read and rewritten through the shared-file facility, and the locked open of the plug-in's work
// files. A user's read, prune, change and write can run as one cycle under the file's locks.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <string_view>

#include "be_def.h"
#include "be_internal.h"
#include "gm_bytes_internal.h"
#include "gm_param.h"
#include "gm_str.h"
#include "os_file.h"
#include "os_file_nofollow.h"
#include "os_shared_file_internal.h"
#include "zpalist_internal.h"

namespace {

constexpr mode_t kAppendMode = 0764;  // bits of a requests file the reader creates
constexpr mode_t kCreateMode = 0744;
constexpr std::size_t kKeyMax = sizeof(GM_PARAM_KEY_typ) - 1;
constexpr std::size_t kValueMax = sizeof(GM_PARAM_ROW_VALUE_typ) - 1;

// Never through a link at the name: the caller's modes, owners and locks are for its own file. A
// regular file only, opened without waiting on a FIFO.
int open_retry(const char* path, int flags, mode_t mode) { return os_file::open_regular(path, flags, mode); }

int lock_exclusive(int fd) {
    int rc;
    do {
        rc = lockf(fd, F_LOCK, 0);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

// Read-write open with the exclusive lock; the content is left as it is.
CM_RC open_for_write(OS_FD_typ* fd, const char* file_name) {
    int d = open_retry(file_name, O_RDWR, 0);
    if (d < 0) return CM_RC_OPEN_FAILED;
    if (lock_exclusive(d) != 0) {
        DIAG_printf("BE_DUZ_FILE_open: lockf - errno=%d", errno);
        ::close(d);
        return CM_RC_LOCKED;
    }
    *fd = d;
    return CM_RC_OK;
}

// Empties a file whose exclusive lock is held and puts the offset at its start.
bool truncate_locked(int fd) { return ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0; }

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The value read as strtoll reads it. The plain decimal this module writes is read without the call.
long long seconds_of(std::string_view value) {
    constexpr std::size_t kSafeDigits = 18;  // no overflow below this many
    long long seconds = 0;
    std::size_t digits = 0;
    for (; digits < kSafeDigits && digits < value.size() && is_digit(value[digits]); ++digits)
        seconds = seconds * 10 + (value[digits] - '0');
    if (digits > 0 && (digits == value.size() || !is_digit(value[digits]))) return seconds;
    return std::strtoll(std::string(value).c_str(), nullptr, 10);
}

// Whether a row's value, its epoch second, is more than a day before `now`.
class AgeLimit {
public:
    explicit AgeLimit(std::time_t now)
        : dated_(static_cast<long long>(now) >= LLONG_MIN + BE_DUZ_REQS_MAX_AGE),
          limit_(dated_ ? static_cast<long long>(now) - BE_DUZ_REQS_MAX_AGE : LLONG_MIN) {
        if (limit_ > 0)
            digits_ = static_cast<std::size_t>(std::snprintf(limit_text_, sizeof limit_text_, "%lld", limit_));
    }

    bool old(std::string_view value) const {
        // A value of as many digits as the limit (the first no 0) and no more reads as a number of
        // the limit's length: it is older when its digits sort before the limit's.
        if (digits_ > 0 && value.size() >= digits_ && value[0] != '0' &&
            (value.size() == digits_ || !is_digit(value[digits_]))) {
            bool digits = true;
            for (std::size_t i = 0; i < digits_; ++i) digits &= is_digit(value[i]);
            if (digits) return std::memcmp(value.data(), limit_text_, digits_) < 0;
        }
        // now - seconds > the age, compared without the subtraction that a value such as
        // -9223372036854775808 would overflow.
        return dated_ && seconds_of(value) < limit_;
    }

private:
    bool dated_;       // false: now is so early that no value is older
    long long limit_;  // now less the age: a value before it is older
    char limit_text_[24] = "";
    std::size_t digits_ = 0;  // 0: every value is read as a number
};

// The requests file's line rule, one byte at a time: the line is kept from its first digit on,
// bytes past the buffer are dropped, a newline ends it (kept, then the terminator).
class ReqLine {
public:
    explicit ReqLine(char* line) : line_(line) {}
    // true when the byte ended the line
    bool take(unsigned char byte) {
        if (byte == '\n') {
            line_[pos_] = '\n';
            line_[pos_ + 1] = '\0';
            return true;
        }
        // The last two places stay free for the newline and the terminator.
        if (pos_ >= BE_DUZ_REQS_LINE_MAX - 1) return false;
        line_[pos_] = static_cast<char>(byte);
        if (std::isdigit(byte)) digit_seen_ = true;
        if (digit_seen_) ++pos_;
        return false;
    }

private:
    char* line_;
    std::size_t pos_ = 0;
    bool digit_seen_ = false;
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The position of the first character from `pos` on that is not a blank or a tab. A key's padding
// is some sixty blanks: they are passed over eight at a time.
std::size_t skip_blanks(std::string_view text, std::size_t pos) {
    constexpr char kEightBlanks[] = "        ";
    while (text.size() - pos >= 8 && std::memcmp(text.data() + pos, kEightBlanks, 8) == 0) pos += 8;
    while (pos < text.size() && is_blank(text[pos])) ++pos;
    return pos;
}

// What the key's scan needs to know of a byte, one table look-up each: whether it ends the key,
// opens a section name, or is no digit.
enum KeyByte : unsigned char { kEndsKey = 1, kOpensSection = 2, kNotDigit = 4 };
constexpr std::array<unsigned char, 256> kKeyBytes = [] {
    std::array<unsigned char, 256> classes{};
    for (int b = 0; b < 256; ++b)
        if (!is_digit(static_cast<char>(b))) classes[b] = kNotDigit;
    for (unsigned char b : {' ', '\t', '='}) classes[b] |= kEndsKey;
    classes['['] |= kOpensSection;
    return classes;
}();

// One line of the requests file (without its newline) read by BE_DUZ_param_parse_str's rule, its
// fields still in the line.
struct ReqRow {
    std::string_view key;    // as written: the row's key is its upper case
    std::string_view value;  // without the blanks around it, cut to a stored value's room
    bool key_is_digits = true;
};

// 1 (row.key empty when the line holds no row: blank or a comment), 2 for a key of more than 63
// characters, CM_RC_DIR_END for a section line.
CM_RC read_req_row(std::string_view text, ReqRow& row) {
    row = ReqRow{};
    std::size_t pos = skip_blanks(text, 0);
    if (pos == text.size()) return CM_RC_OK;
    if (text[pos] == '#') return CM_RC_OK;
    std::size_t key_end = pos;
    unsigned char seen = 0;  // the classes of the key's bytes
    for (; key_end < text.size(); ++key_end) {
        const unsigned char byte_class = kKeyBytes[static_cast<unsigned char>(text[key_end])];
        if (byte_class & kEndsKey) break;
        seen |= byte_class;
    }
    const std::string_view key = text.substr(pos, key_end - pos);
    if (key.size() > kKeyMax) {
        DIAG_printf("key too long: %d", static_cast<int>(key.size()));
        return CM_RC_FAIL;
    }
    if (key.empty()) return CM_RC_OK;
    if (seen & kOpensSection) {
        const std::size_t open = key.find('[');
        if (key.find(']', open + 1) != std::string_view::npos) return CM_RC_DIR_END;
    }

    std::string_view value;
    if (key_end < text.size()) value = text.substr(skip_blanks(text, key_end + 1));
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    if (value.size() > kValueMax) {
        BE_TRACE(4, "value too long: %d - truncated", static_cast<int>(value.size()));
        value = value.substr(0, kValueMax);
    }
    row = ReqRow{key, value, (seen & kNotDigit) == 0};
    return CM_RC_OK;
}

// The row's key as stored, written at `out` (no terminator): upper case by the locale's rules; a
// digit (all of a request id) is its own upper case in any.
void put_req_key(char* out, const ReqRow& row) {
    if (row.key_is_digits) {
        gm_bytes::put(out, row.key);
        return;
    }
    for (std::size_t i = 0; i < row.key.size(); ++i) {
        const auto c = static_cast<unsigned char>(row.key[i]);
        out[i] = is_digit(row.key[i]) ? row.key[i] : static_cast<char>(std::toupper(c));
    }
}

// What a reader does with a line that holds no row it can read (a section line, a key of more than
// 63 characters): fail the read (the file's own reader), or drop it (a rewrite of the file).
enum class Unreadable { Fail, Drop };

// A rewrite leaves out a line it cannot read, and the log says so: one damaged row never stops
// the users of the file that come after it.
CM_RC unreadable_line(std::string_view line, CM_RC rc, Unreadable unreadable) {
    if (rc == CM_RC_OK || unreadable == Unreadable::Fail) return rc;
    constexpr std::size_t kLogged = 128;
    DIAG_printf("Unreadable line dropped from the requests file: %.*s",
                static_cast<int>(std::min(line.size(), kLogged)), line.data());
    return CM_RC_OK;
}

// A line as its row, appended through the builder straight into the list's element: the key in
// its zero-filled 64-byte field, the value and its terminator.
CM_RC parse_req_row(zpalist::Builder& rows, std::string_view text, Unreadable unreadable = Unreadable::Fail) {
    ReqRow row;
    const CM_RC rc = unreadable_line(text, read_req_row(text, row), unreadable);
    if (rc != CM_RC_OK || row.key.empty()) return rc;
    return rows.append_filled(sizeof(GM_PARAM_KEY_typ) + row.value.size() + 1, [&](char* element) {
        std::memset(element, 0, sizeof(GM_PARAM_KEY_typ));
        put_req_key(element, row);
        *gm_bytes::put(element + sizeof(GM_PARAM_KEY_typ), row.value) = '\0';
    });
}

// Calls line(text) for each line of the content that can hold a row, by the rule of
// BE_DUZ_ReadReqLine: a byte 0xFF ends the file; a line keeps its text from its first digit on, at
// most the line buffer's room and up to a NUL byte in it; a last line without newline is not read.
// The first line whose call does not give 1 ends the walk with that result, the line in
// failed_line.
template <class Line>
CM_RC for_each_req_line(const std::string& content, std::string* failed_line, Line&& line) {
    const std::size_t end = std::min(content.find('\xff'), content.size());
    const std::string_view data(content.data(), end);
    // The next NUL (end: none), looked for again only once the lines have passed it.
    std::size_t next_nul = std::min(data.find('\0'), end);
    std::size_t pos = 0;
    while (pos < end) {
        if (data[pos] == '\n') {  // the empty line behind every row: no text, no row
            ++pos;
            continue;
        }
        const std::size_t newline = data.find('\n', pos);
        if (newline == std::string_view::npos) break;
        std::size_t first = pos;
        while (first < newline && !is_digit(data[first])) ++first;
        std::string_view kept = data.substr(first, std::min<std::size_t>(newline - first, BE_DUZ_REQS_LINE_MAX - 1));
        if (next_nul < first) next_nul = std::min(data.find('\0', first), end);
        if (next_nul < first + kept.size()) kept = kept.substr(0, next_nul - first);
        const CM_RC rc = line(kept);
        if (rc != CM_RC_OK) {
            if (failed_line) *failed_line = std::string(kept) + "\n";
            return rc;
        }
        pos = newline + 1;
    }
    return CM_RC_OK;
}

// Columns of a row's key in the file: the key's width and the two blanks behind it.
constexpr std::size_t kKeyColumns = BE_DUZ_REQS_KEY_WIDTH + 2;
static_assert(sizeof(GM_PARAM_KEY_typ) <= kKeyColumns, "a key fits its columns");

// The file's text written row by row: each row's key over the blanks of its columns, its value cut
// to 2048 characters, a newline and the empty line. The bytes go straight into a text made with
// room for the rows expected (short values), doubled when a row does not fit.
class RowText {
public:
    explicit RowText(std::size_t rows) : text_(rows * (kKeyColumns + 16), '\0') {}

    void add(std::string_view key, std::string_view value) {
        key = key.substr(0, std::min(key.size(), sizeof(GM_PARAM_KEY_typ)));
        value = value.substr(0, std::min<std::size_t>(value.size(), BE_DUZ_REQS_VALUE_MAX));
        const std::size_t length = kKeyColumns + value.size() + 2;
        if (text_.size() - used_ < length) text_.resize(std::max(2 * text_.size(), used_ + length));
        char* out = text_.data() + used_;
        std::memset(out, ' ', kKeyColumns);
        gm_bytes::put(out, key);
        out = gm_bytes::put(out + kKeyColumns, value);
        out[0] = '\n';
        out[1] = '\n';
        used_ += length;
    }

    std::string take() {
        text_.resize(used_);
        return std::move(text_);
    }

private:
    std::string text_;
    std::size_t used_ = 0;
};

// Rows of the file's content that the caller's list lacks and that are not old: written again so
// that a request another process added since this one read the file is kept.
void collect_missing_rows(const std::string& content, ZPALIST_handle_typ* currList, ZPALIST_handle_typ* missing) {
    std::set<std::string> known;
    ZPALIST_handle_typ walk = *currList;
    ZPALIST_reset(&walk);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walk, &element, &size) == CM_RC_OK)
        known.insert(static_cast<GM_PARAM_table_row*>(element)->key);

    ZPALIST_handle_typ on_disk{};
    be_reqs_parse_readable(content, &on_disk);
    const AgeLimit age(std::time(nullptr));
    zpalist::Builder kept(missing);
    ZPALIST_reset(&on_disk);
    while (ZPALIST_next_ptr(&on_disk, &element, &size) == CM_RC_OK) {
        auto* row = static_cast<GM_PARAM_table_row*>(element);
        if (known.count(row->key) || age.old(row->val)) continue;
        BE_TRACE(4, "keeping request %s written by another process", row->key);
        kept.append(element, size);
    }
    ZPALIST_clear(&on_disk);
}

// The requests file keeps the bits it has; the reader creates it with 0764.
os_shared::Options reqs_file_options() {
    os_shared::Options options;
    options.new_mode = kAppendMode;
    return options;
}

// One user's turn on the requests file, under its locks from start to end: no other thread or
// process writes it in between, so the rows read are the rows written back. The file is created
// when missing and read; make(content, text) gives the text that replaces it (1), or fails with its
// reason in Error and the file stays as it was.
template <class Make>
CM_RC rewrite_reqs_file(const char* path, ZPAError* Error, Make&& make) {
    os_shared::FileLock lock(path, reqs_file_options());
    if (!lock || lock.create() != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to open file: '%s' for WRITE.", path);
        return CM_RC_FAIL;
    }
    std::string content;
    if (lock.read(content) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to open file %s for READ.", path);
        return CM_RC_FAIL;
    }
    std::string text;
    if (make(content, text) != CM_RC_OK) return CM_RC_FAIL;
    if (lock.rewrite(text) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to save list into file: %s", path);
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

}  // namespace

extern "C" {

CM_RC BE_DUZ_FILE_open(OS_FD_typ* fd, const char* file_name, OS_FILE_MODE_typ mode) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_FILE_open");
    if (!fd || !file_name) {
        DIAG_printf("BE_DUZ_FILE_open - errno=%d", EINVAL);
        return CM_RC_FAIL;
    }
    switch (mode) {
    case OS_FILE_READ: {
        int d = open_retry(file_name, O_RDONLY, 0);
        if (d < 0) return CM_RC_OPEN_FAILED;
        if (lock_reg(d, F_SETLKW, F_RDLCK, 0, SEEK_SET, 0) < 0)
            DIAG_printf("BE_DUZ_FILE_open : readw_lock : %s", std::strerror(errno));
        *fd = d;
        return CM_RC_OK;
    }
    case OS_FILE_WRITE: {
        OS_FD_typ d = -1;
        CM_RC rc = open_for_write(&d, file_name);
        if (rc != CM_RC_OK) return rc;
        // Emptied only once the lock is held: a reader never sees a half-emptied file.
        if (!truncate_locked(d)) {
            DIAG_printf("BE_DUZ_FILE_open: truncate - errno=%d", errno);
            ::close(d);
            return CM_RC_OPEN_FAILED;
        }
        *fd = d;
        return CM_RC_OK;
    }
    case OS_FILE_APPEND: {
        int d = open_retry(file_name, O_WRONLY | O_CREAT | O_APPEND, kAppendMode);
        if (d < 0) {
            DIAG_printf("BE_DUZ_FILE_open: open file(%s) - errno=%d", file_name, errno);
            return CM_RC_OPEN_FAILED;
        }
        if (fchmod(d, kAppendMode) != 0) BE_TRACE(4, "BE_DUZ_FILE_open: fchmod - errno=%d", errno);
        if (lock_exclusive(d) != 0) {
            DIAG_printf("BE_DUZ_FILE_open: lockf - errno=%d", errno);
            ::close(d);
            return CM_RC_LOCKED;
        }
        *fd = d;
        return CM_RC_OK;
    }
    case OS_FILE_CREATE: {
        // Opened without O_TRUNC: the file is emptied only after its lock is taken.
        int d = open_retry(file_name, O_WRONLY | O_CREAT, kCreateMode);
        if (d < 0) {
            DIAG_printf("failed on open, fn=%s, errno=%d.", file_name, errno);
            return CM_RC_CREATE_FAILED;
        }
        if (lock_exclusive(d) != 0 || !truncate_locked(d)) {
            DIAG_printf("failed on lockf.");
            ::close(d);
            return CM_RC_CREATE_FAILED;
        }
        if (fchmod(d, kCreateMode) != 0) {
            DIAG_printf("failed on fchmod.");
            ::close(d);
            return CM_RC_CREATE_FAILED;
        }
        *fd = d;
        return CM_RC_OK;
    }
    default: DIAG_printf("BE_DUZ_FILE_open - errno=%d", errno); return CM_RC_FAIL;
    }
}

CM_RC BE_DUZ_read_reqs_file(const char* reqFilePath, ZPALIST_handle_typ* currList, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_read_reqs_file");
    if (!reqFilePath || !currList) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to open file %s for READ.", reqFilePath ? reqFilePath : "");
        return CM_RC_FAIL;
    }
    try {
        if (OS_FILE_check_existence(reqFilePath, OS_FILE_ACCESS_EXIST) != CM_RC_OK) {
            BE_TRACE(4, "File %s is not found. Creating new file.", reqFilePath);
            if (os_shared::create_file(reqFilePath, reqs_file_options()) != CM_RC_OK) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to create file: '%s'.", reqFilePath);
                return CM_RC_FAIL;
            }
            return CM_RC_OK;
        }
        // Writers replace the file whole, so it is read as one piece without a lock.
        std::string content;
        if (os_shared::read_file(reqFilePath, content) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to open file %s for READ.", reqFilePath);
            return CM_RC_FAIL;
        }
        std::string failed_line;
        if (be_reqs_parse(content, currList, &failed_line) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed adding line %s to reqs list", failed_line.c_str());
            return CM_RC_FAIL;
        }
        return CM_RC_OK;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to open file %s for READ.", reqFilePath);
        return CM_RC_FAIL;
    }
}

CM_RC BE_DUZ_ReadReqLine(OS_FD_typ fd, char* line, ZPAError* Error) {
    if (!line) return CM_RC_FAIL;
    ReqLine builder(line);
    for (;;) {
        unsigned char byte = 0;
        ssize_t n = ::read(fd, &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            char system_error[256];
            BE_DUZ_UpdateErrorSet(Error, 1, "BE_DUZ_ReadReqLine: error is: %s", BE_DUZ_get_system_error(system_error));
            return CM_RC_FAIL;
        }
        if (n == 0 || byte == 0xFF) return CM_RC_EOF;
        if (builder.take(byte)) return CM_RC_OK;
    }
}

CM_RC BE_DUZ_param_parse_str(ZPALIST_handle_typ* list, const char* String) {
    if (!list || !String) return CM_RC_FAIL;
    std::string_view text(String, strnlen(String, BE_DUZ_REQS_LINE_MAX));
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    zpalist::Builder rows(list);
    return parse_req_row(rows, text);
}

CM_RC BE_DUZ_remove_old_req(ZPALIST_handle_typ* list) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_remove_old_req");
    if (!list) return CM_RC_FAIL;
    return be_reqs_drop_old(list, std::time(nullptr));
}

CM_RC BE_DUZ_write_reqs_file(const char* reqFilePath, ZPALIST_handle_typ* currList, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_write_reqs_file");
    if (!reqFilePath || !currList) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to open file: '%s' for WRITE.", reqFilePath ? reqFilePath : "");
        return CM_RC_FAIL;
    }
    try {
        os_shared::FileLock lock(reqFilePath, reqs_file_options());
        if (!lock || !lock.exists()) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to open file: '%s' for WRITE.", reqFilePath);
            return CM_RC_FAIL;
        }
        // A caller that read the file in an earlier, separate step may have missed rows another
        // process added since; they are read under the lock and written out with the caller's.
        std::string current;
        ZPALIST_handle_typ missing{};
        if (lock.read(current) == CM_RC_OK) collect_missing_rows(current, currList, &missing);
        std::string text = be_reqs_text(currList);
        text += be_reqs_text(&missing);
        ZPALIST_clear(&missing);
        if (lock.rewrite(text) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to save list into file: %s", reqFilePath);
            return CM_RC_FAIL;
        }
        return CM_RC_OK;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to save list into file: %s", reqFilePath);
        return CM_RC_FAIL;
    }
}

}  // extern "C"

CM_RC be_reqs_parse(const std::string& content, ZPALIST_handle_typ* list, std::string* failed_line) {
    zpalist::Builder rows(list);
    const CM_RC rc =
        for_each_req_line(content, failed_line, [&](std::string_view line) { return parse_req_row(rows, line); });
    return rc == CM_RC_OK ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC be_reqs_parse_readable(const std::string& content, ZPALIST_handle_typ* list) {
    zpalist::Builder rows(list);
    const CM_RC rc = for_each_req_line(
        content, nullptr, [&](std::string_view line) { return parse_req_row(rows, line, Unreadable::Drop); });
    return rc == CM_RC_OK ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC be_reqs_drop_old(ZPALIST_handle_typ* list, std::time_t now) {
    // The walk of ZPALIST_next_ptr from the list's start, its cursor kept here and left where that
    // walk leaves it: on the last row, or on an element without a copy (2).
    const AgeLimit age(now);
    ZPALIST_entry_typ* at = nullptr;
    for (ZPALIST_entry_typ* next = list->first; next != nullptr; next = at != nullptr ? at->next : list->first) {
        at = next;
        if (at->ptr == nullptr) break;
        auto* row = static_cast<GM_PARAM_table_row*>(at->ptr);
        if (!age.old(row->val)) continue;
        BE_TRACE(4, "removing old request %s", row->key);
        // Removed without ZPALIST_delete's look-up walk; the cursor steps back to the previous row
        // as with ZPALIST_delete.
        list->curr = at;
        zpalist::erase(list, at);
        at = list->curr;
    }
    list->curr = at;
    return at != nullptr && at->ptr == nullptr ? CM_RC_FAIL : CM_RC_OK;
}

std::string be_reqs_text(ZPALIST_handle_typ* list) {
    RowText text(static_cast<std::size_t>(std::max(list->count, 0)));
    for (ZPALIST_entry_typ* e = list->first; e != nullptr; e = e->next) {
        const auto* row = static_cast<const GM_PARAM_table_row*>(e->ptr);
        text.add(std::string_view(row->key, strnlen(row->key, sizeof row->key)),
                 std::string_view(row->val, strnlen(row->val, BE_DUZ_REQS_VALUE_MAX)));
    }
    return text.take();
}

std::string be_reqs_record_text(const std::string& content, const char* key, const char* value, std::time_t now) {
    // The new row as GM_PARAM_list_set stores it: the key cut to 63 characters, as it is given.
    const std::string_view new_key(key ? key : "", key ? strnlen(key, kKeyMax) : 0);
    const std::string_view new_value(value ? value : "", value ? strnlen(value, BE_DUZ_REQS_VALUE_MAX) : 0);
    // Rows as this module writes them take some eighty bytes each.
    RowText out(content.size() / (kKeyColumns + 12) + 1);
    const AgeLimit age(now);
    bool placed = false;
    for_each_req_line(content, nullptr, [&](std::string_view line) -> CM_RC {
        ReqRow row;
        const CM_RC read = unreadable_line(line, read_req_row(line, row), Unreadable::Drop);
        if (read != CM_RC_OK || row.key.empty()) return read;
        char stored[sizeof(GM_PARAM_KEY_typ)] = {};
        put_req_key(stored, row);
        const std::string_view stored_key(stored, row.key.size());
        if (age.old(row.value)) {
            BE_TRACE(4, "removing old request %s", stored);
            return CM_RC_OK;
        }
        // The first row of the key left takes the new value in its place.
        if (!placed && stored_key == new_key) {
            out.add(new_key, new_value);
            placed = true;
        } else {
            out.add(stored_key, row.value);
        }
        return CM_RC_OK;
    });
    if (!placed) out.add(new_key, new_value);
    return out.take();
}

CM_RC be_reqs_record(const char* path, const char* key, const char* value, ZPAError* Error) {
    if (!path) return CM_RC_FAIL;
    try {
        return rewrite_reqs_file(path, Error, [&](const std::string& content, std::string& text) {
            text = be_reqs_record_text(content, key, value, std::time(nullptr));
            return CM_RC_OK;
        });
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to append new request to %s", path);
        return CM_RC_FAIL;
    }
}

CM_RC be_reqs_update(const char* path, const std::function<bool(ZPALIST_handle_typ*)>& change, ZPAError* Error) {
    if (!path) return CM_RC_FAIL;
    ZPALIST_handle_typ rows{};
    try {
        const CM_RC rc = rewrite_reqs_file(path, Error, [&](const std::string& content, std::string& text) {
            if (be_reqs_parse_readable(content, &rows) != CM_RC_OK) {
                BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "be_reqs_update");
                return CM_RC_FAIL;
            }
            if (BE_DUZ_remove_old_req(&rows) != CM_RC_OK || !change(&rows)) return CM_RC_FAIL;
            text = be_reqs_text(&rows);
            return CM_RC_OK;
        });
        GM_PARAM_list_clear(&rows);
        return rc;
    } catch (...) {
        GM_PARAM_list_clear(&rows);
        return CM_RC_FAIL;
    }
}
