/* The agent daily log: reads message texts from table MSGTBL, formats them, and appends one line
 * per message to the day's file under its append lock, never through a link at the file's name.
 * Owns the whole-or-nothing append that every log file of the product uses. */
#include "gm_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "gm_log_internal.h"
#include "gm_param.h"
#include "gm_str.h"
#include "gm_time.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_file_nofollow.h"
#include "os_fork_internal.h"

namespace {

constexpr char kLogDir[] = "dailylog";
constexpr char kMsgTable[] = "MSGTBL";
constexpr int kFormatRoom = 1024;  // message text as read from the table
constexpr int kTextRoom = 4096;    // formatted message
constexpr int kLineRoom = 5000;    // the whole line
constexpr int kOpenAttempts = 3;
constexpr mode_t kLogMode = 0764;

// The appenders' turns (gm_log::appender_turn).
std::mutex appending;
[[maybe_unused]] const bool appending_fork_safe = os_fork::renew_in_child(appending);

// Whether the daily log is on: CONFIG AG_LOG_ON, default "Y"; off when it begins with "N".
bool log_is_on() {
    GM_PARAM_VALUE_typ value = "Y";
    if (GM_PARAM_get("CONFIG", "AG_LOG_ON", value) != CM_RC_OK) std::strcpy(value, "Y");
    return std::toupper(static_cast<unsigned char>(value[0])) != 'N';
}

// The id as written in the line: "%3d" when it reads as a non-zero decimal number, else as given.
void format_id(const char* msg_id, char* out, std::size_t room) {
    const long number = std::strtol(msg_id, nullptr, 10);
    if (number != 0)
        std::snprintf(out, room, "%3ld", number);
    else
        std::snprintf(out, room, "%s", msg_id);
}

// The day's file opened as OS_FILE_open appends (created, locked whole, bits 0764), but never
// through a link at its foreseeable name: a link there, or anything but a regular file with one
// name, fails the open.
CM_RC open_daily_log(const char* path, OS_FD_typ* out) {
    const int fd = os_file::open_regular(path, O_WRONLY | O_CREAT | O_APPEND, kLogMode);
    if (fd < 0) {
        DIAG_ERROR("OS_FILE_open: open file(%s) - errno=%d", path, errno);
        return CM_RC_OPEN_FAILED;
    }
    if (lockf(fd, F_LOCK, 0) != 0) {
        DIAG_ERROR("OS_FILE_open: lockf - errno=%d", errno);
        close(fd);
        return CM_RC_LOCKED;
    }
    fchmod(fd, kLogMode);
    *out = fd;
    return CM_RC_OK;
}

}  // namespace

namespace gm_log {

std::unique_lock<std::mutex> appender_turn() { return std::unique_lock<std::mutex>(appending); }

CM_RC append_whole(int fd, std::string_view entry) {
    bool cut_left = false;
    if (os_file::append_whole(fd, entry, &cut_left)) return CM_RC_OK;
    if (cut_left) {
        const int why = errno;
        DIAG_ERROR("append: a cut entry stays at the end of the file");
        errno = why;
    }
    return CM_RC_FAIL;
}

}  // namespace gm_log

extern "C" {

CM_RC GM_LOG_read_msgfrmt(const char* msg_id, char* msg_frmt, int msgfrmt_len) {
    if (!msg_id || !msg_frmt || msgfrmt_len <= 0) return CM_RC_FAIL;
    GM_PARAM_VALUE_typ value = {};
    const CM_RC rc = GM_PARAM_get(kMsgTable, msg_id, value);
    if (rc != CM_RC_OK) return rc;
    const std::size_t length = std::strlen(value);
    const std::size_t room = static_cast<std::size_t>(msgfrmt_len) - 1;
    const std::size_t n = length < room ? length : room;
    std::memcpy(msg_frmt, value, n);
    msg_frmt[n] = '\0';
    return length > room ? GM_LOG_RC_TRUNCATED : CM_RC_OK;
}

CM_RC GM_LOG_write_msg(const char* msg_id, ...) {
    static const char fn[] = "GM_LOG_write_msg";
    DIAG_TRACE(2, "%s: message '%s'", fn, msg_id ? msg_id : "");
    if (!msg_id || !*msg_id) return CM_RC_FAIL;
    if (!log_is_on()) return CM_RC_OK;

    char format[kFormatRoom];
    const CM_RC read = GM_LOG_read_msgfrmt(msg_id, format, sizeof format);
    if (read != CM_RC_OK && read != GM_LOG_RC_TRUNCATED) return CM_RC_FAIL;
    GM_STR_unpad(format);
    char text[kTextRoom];
    va_list args;
    va_start(args, msg_id);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);

    // One reading of the clock for the file name and the line, so both name the same day.
    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    DATETIME_D_typ mmdd = {}, hhmmss = {}, day = {};
    GM_TIME_fmt_to_ascii(GM_TIME_FMT_MMDD, now, mmdd);
    GM_TIME_fmt_to_ascii(GM_TIME_FMT_HHMMSS, now, hhmmss);
    GM_TIME_fmt_to_ascii(GM_TIME_FMT_YYYYMMDD, now, day);
    char path[sizeof(PATHNAME_D_typ)];
    std::snprintf(path, sizeof path, "./%s/daily_orvag_%s.log", kLogDir, day);

    const auto turn = gm_log::appender_turn();
    OS_FD_typ fd = -1;
    CM_RC rc = CM_RC_FAIL;
    for (int left = kOpenAttempts; left > 0; --left) {
        rc = open_daily_log(path, &fd);
        if (rc != CM_RC_LOCKED) break;
        DIAG_TRACE(2, "%s: File is locked. Retries left %d ...", fn, left - 1);
    }
    if (rc != CM_RC_OK) {
        DIAG_TRACE(1, "%s: Failed to write log message '%s'", fn, text);
        if (rc == CM_RC_LOCKED)
            DIAG_TRACE(1, "%s: Failed to open file %s due to locks", fn, path);
        else
            DIAG_TRACE(1, "%s: Failed to open file %s with return code %d", fn, path, rc);
        return CM_RC_FAIL;
    }

    char id[64];
    format_id(msg_id, id, sizeof id);
    char line[kLineRoom];
    int length = std::snprintf(line, sizeof line, "%s %s %s %s\n", mmdd, hhmmss, id, text);
    if (length >= static_cast<int>(sizeof line)) {
        length = static_cast<int>(sizeof line) - 1;
        line[length - 1] = '\n';  // a cut line still ends the line
    }
    const CM_RC written = gm_log::append_whole(fd, std::string_view(line, static_cast<std::size_t>(length)));
    const int why = errno;
    OS_FILE_close(fd);
    if (written != CM_RC_OK) {
        DIAG_TRACE(1, "%s: Failed to write log message '%s'", fn, text);
        DIAG_TRACE(1, "%s: Failed to write file %s: %s", fn, path, std::strerror(why));
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

}  // extern "C"
