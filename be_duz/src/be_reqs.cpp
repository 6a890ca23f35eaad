// The submitted-requests file ./data/DUZ_reqs.dat (request id and the epoch second it was seen)
// and the locked open of the plug-in's work files: readers share a read lock, writers hold an
// exclusive lock from open to close and merge what other processes wrote in the meantime.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>

#include "be_def.h"
#include "gm_param.h"
#include "gm_str.h"
#include "os_file.h"

namespace {

constexpr mode_t kAppendMode = 0764;
constexpr mode_t kCreateMode = 0744;
constexpr std::size_t kKeyMax = sizeof(GM_PARAM_KEY_typ) - 1;
constexpr std::size_t kValueMax = sizeof(GM_PARAM_ROW_VALUE_typ) - 1;

int open_retry(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

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

bool row_is_old(const char* value, std::time_t now) {
    return static_cast<long long>(now) - std::strtoll(value, nullptr, 10) > BE_DUZ_REQS_MAX_AGE;
}

// Rows of the file open on fd (offset at its start) that the caller's list lacks and that are not
// old: written again so that a request added by another process since this one read the file is
// kept. Unreadable lines are skipped; a full read of the file would have refused them.
void collect_missing_rows(OS_FD_typ fd, ZPALIST_handle_typ* currList, ZPALIST_handle_typ* missing) {
    std::set<std::string> known;
    ZPALIST_handle_typ walk = *currList;
    ZPALIST_reset(&walk);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walk, &element, &size) == CM_RC_OK)
        known.insert(static_cast<GM_PARAM_table_row*>(element)->key);

    ZPALIST_handle_typ on_disk{};
    char line[BE_DUZ_REQS_LINE_MAX + 1];
    for (;;) {
        std::memset(line, 0, sizeof line);
        if (BE_DUZ_ReadReqLine(fd, line, nullptr) != CM_RC_OK) break;
        if (BE_DUZ_param_parse_str(&on_disk, line) != CM_RC_OK) BE_TRACE(4, "skipping line %s", line);
    }
    const std::time_t now = std::time(nullptr);
    ZPALIST_reset(&on_disk);
    while (ZPALIST_next_ptr(&on_disk, &element, &size) == CM_RC_OK) {
        auto* row = static_cast<GM_PARAM_table_row*>(element);
        if (known.count(row->key) || row_is_old(row->val, now)) continue;
        BE_TRACE(4, "keeping request %s written by another process", row->key);
        ZPALIST_append(missing, element, size);
    }
    ZPALIST_clear(&on_disk);
}

CM_RC write_rows(OS_FD_typ fd, ZPALIST_handle_typ* list) {
    GM_PARAM_list_reset(list);
    char* key = nullptr;
    void* value = nullptr;
    CM_RC rc;
    while ((rc = GM_PARAM_list_next(list, &key, &value)) == CM_RC_OK) {
        char line[BE_DUZ_REQS_KEY_WIDTH + BE_DUZ_REQS_VALUE_MAX + sizeof(GM_PARAM_KEY_typ) + 8];
        int n = std::snprintf(line, sizeof line, "%-*s  %.*s\n\n", BE_DUZ_REQS_KEY_WIDTH, key,
                              BE_DUZ_REQS_VALUE_MAX, static_cast<const char*>(value));
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof line) return CM_RC_FAIL;
        if (OS_FILE_write(fd, line, n) != CM_RC_OK) return CM_RC_FAIL;
    }
    return rc;
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
    default:
        DIAG_printf("BE_DUZ_FILE_open - errno=%d", errno);
        return CM_RC_FAIL;
    }
}

CM_RC BE_DUZ_read_reqs_file(const char* reqFilePath, ZPALIST_handle_typ* currList, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_read_reqs_file");
    if (!reqFilePath || !currList) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to open file %s for READ.", reqFilePath ? reqFilePath : "");
        return CM_RC_FAIL;
    }
    OS_FD_typ fd = -1;
    if (OS_FILE_check_existence(reqFilePath, OS_FILE_ACCESS_EXIST) != CM_RC_OK) {
        BE_TRACE(4, "File %s is not found. Creating new file.", reqFilePath);
        if (BE_DUZ_FILE_open(&fd, reqFilePath, OS_FILE_APPEND) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to create file: '%s'.", reqFilePath);
            return CM_RC_FAIL;
        }
        if (OS_FILE_close(fd) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to close file: '%s' for CREATE NEW.", reqFilePath);
            return CM_RC_FAIL;
        }
        return CM_RC_OK;
    }
    if (BE_DUZ_FILE_open(&fd, reqFilePath, OS_FILE_READ) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to open file %s for READ.", reqFilePath);
        return CM_RC_FAIL;
    }
    if (lock_reg(fd, F_SETLKW, F_RDLCK, 0, SEEK_SET, 0) < 0) {
        char system_error[256];
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed in locking for READ file %s.", reqFilePath);
        BE_TRACE(2, "error is: %s", BE_DUZ_get_system_error(system_error));
        ::close(fd);
        return CM_RC_FAIL;
    }
    char line[BE_DUZ_REQS_LINE_MAX + 1];
    for (;;) {
        std::memset(line, 0, sizeof line);
        CM_RC rc = BE_DUZ_ReadReqLine(fd, line, Error);
        if (rc == CM_RC_EOF) break;
        if (rc != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to read from file");
            BE_DUZ_unlock_close_reqs_file(fd, reqFilePath, currList, Error);
            return CM_RC_FAIL;
        }
        if (BE_DUZ_param_parse_str(currList, line) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed adding line %s to reqs list", line);
            BE_DUZ_unlock_close_reqs_file(fd, reqFilePath, currList, Error);
            return CM_RC_FAIL;
        }
    }
    return BE_DUZ_unlock_close_reqs_file(fd, reqFilePath, currList, Error);
}

CM_RC BE_DUZ_ReadReqLine(OS_FD_typ fd, char* line, ZPAError* Error) {
    if (!line) return CM_RC_FAIL;
    std::size_t pos = 0;
    bool digit_seen = false;
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
        if (byte == '\n') {
            line[pos] = '\n';
            line[pos + 1] = '\0';
            return CM_RC_OK;
        }
        // Everything before the line's first digit is dropped; bytes past the buffer too, but the
        // last two places stay free for the newline and the terminator.
        if (pos >= BE_DUZ_REQS_LINE_MAX - 1) continue;
        line[pos] = static_cast<char>(byte);
        if (std::isdigit(byte)) digit_seen = true;
        if (digit_seen) ++pos;
    }
}

CM_RC BE_DUZ_param_parse_str(ZPALIST_handle_typ* list, const char* String) {
    if (!list || !String) return CM_RC_FAIL;
    std::string text(String, strnlen(String, BE_DUZ_REQS_LINE_MAX));
    if (!text.empty() && text.back() == '\n') text.pop_back();
    std::size_t pos = text.find_first_not_of(" \t");
    if (pos == std::string::npos) return CM_RC_OK;
    if (text[pos] == '#') return CM_RC_OK;
    std::size_t key_end = text.find_first_of(" =\t", pos);
    if (key_end == std::string::npos) key_end = text.size();
    std::string key = text.substr(pos, key_end - pos);
    if (key.size() > kKeyMax) {
        DIAG_printf("key too long: %d", static_cast<int>(key.size()));
        return CM_RC_FAIL;
    }
    if (key.empty()) return CM_RC_OK;
    std::size_t open = key.find('[');
    if (open != std::string::npos && key.find(']', open + 1) != std::string::npos) return CM_RC_DIR_END;

    std::string value;
    if (key_end < text.size()) {
        std::size_t value_start = text.find_first_not_of(" \t", key_end + 1);
        if (value_start != std::string::npos) value = text.substr(value_start);
    }
    while (!value.empty() && value.back() == ' ') value.pop_back();
    if (value.size() > kValueMax) {
        BE_TRACE(4, "value too long: %d - truncated", static_cast<int>(value.size()));
        value.resize(kValueMax);
    }
    GM_PARAM_table_row row;
    std::memset(row.key, 0, sizeof row.key);
    for (std::size_t i = 0; i < key.size(); ++i)
        row.key[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(key[i])));
    std::memcpy(row.val, value.c_str(), value.size() + 1);
    return ZPALIST_append(list, &row, static_cast<unsigned int>(sizeof row.key + value.size() + 1));
}

CM_RC BE_DUZ_remove_old_req(ZPALIST_handle_typ* list) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_remove_old_req");
    if (!list) return CM_RC_FAIL;
    const std::time_t now = std::time(nullptr);
    GM_PARAM_list_reset(list);
    void* element = nullptr;
    unsigned int size = 0;
    CM_RC rc;
    while ((rc = ZPALIST_next_ptr(list, &element, &size)) == CM_RC_OK) {
        auto* row = static_cast<GM_PARAM_table_row*>(element);
        if (!row_is_old(row->val, now)) continue;
        BE_TRACE(4, "removing old request %s", row->key);
        rc = ZPALIST_delete(list);
        if (rc != CM_RC_OK) break;
    }
    if (rc == CM_RC_END || rc == CM_RC_OK) return CM_RC_OK;
    return rc == CM_RC_FAIL ? CM_RC_FAIL : CM_RC_OK;
}

CM_RC BE_DUZ_write_reqs_file(const char* reqFilePath, ZPALIST_handle_typ* currList, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_write_reqs_file");
    OS_FD_typ fd = -1;
    if (!reqFilePath || !currList || open_for_write(&fd, reqFilePath) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to open file: '%s' for WRITE.", reqFilePath ? reqFilePath : "");
        return CM_RC_FAIL;
    }
    // The caller read the file in an earlier, separate step; another process may have added rows
    // since. They are read under this exclusive lock and written out with the caller's rows.
    ZPALIST_handle_typ missing{};
    collect_missing_rows(fd, currList, &missing);
    CM_RC rc = truncate_locked(fd) ? write_rows(fd, currList) : CM_RC_FAIL;
    if (rc == CM_RC_END && missing.count > 0) rc = write_rows(fd, &missing);
    ZPALIST_clear(&missing);
    if (rc != CM_RC_END) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to save list into file: %s", reqFilePath);
        ::close(fd);
        return CM_RC_FAIL;
    }
    if (OS_FILE_close(fd) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to close file: '%s' for BE_DUZ_WRITE.", reqFilePath);
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC BE_DUZ_unlock_close_reqs_file(OS_FD_typ fd, const char* reqFilePath, ZPALIST_handle_typ* currList, ZPAError* Error) {
    const char* path = reqFilePath ? reqFilePath : "";
    if (lock_reg(fd, F_SETLK, F_UNLCK, 0, SEEK_SET, 0) < 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed in Un-locking for READ file %s.", path);
        ::close(fd);
        if (currList) GM_PARAM_list_clear(currList);
        return CM_RC_FAIL;
    }
    if (OS_FILE_close(fd) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to close file: '%s' for READ.", path);
        if (currList) GM_PARAM_list_clear(currList);
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

}  // extern "C"
