/* The process's leveled diagnostic log ./proclog/<process>_<pid>.log: levels, the in-memory ring of
 * two 32 KB halves written out by the critical-error report, the raised level and its reset, log
 * rotation, the proclog housekeeping functions and the one-line standard-error channel. */
#include "os_diag.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "gm_param.h"
#include "gm_param_internal.h"
#include "gm_time.h"
#include "os_file.h"
#include "os_file_nofollow.h"
#include "os_fork_internal.h"
#include "os_workfile.h"

namespace {

constexpr int kLevelMax = 6;
constexpr int kSlots = 32;
constexpr size_t kTextMax = 32768;   // formatted text, terminator included
constexpr size_t kHalfSize = 32768;  // one half of the ring, terminator included
constexpr size_t kProcNameMax = 99;
constexpr int kDefaultBufferedLevel = 5;
constexpr int kDefaultResetInterval = 600;
constexpr long kDefaultLogFileSize = 10485760;
constexpr long kMegabyte = 1048576;
constexpr int kDefaultLogVersions = 10;
constexpr int kLinesBetweenSizeChecks = 99;  // the size check runs when the count exceeds this
constexpr mode_t kDefaultLogMode = 0644;
constexpr size_t kMsgErrMax = 5119;
constexpr size_t kVersionsLineMax = 1024;

// Levels. The active level is the level of the line the calling thread is about to write, so it
// is kept per thread: two threads tracing at once cannot give each other's lines a wrong level.
std::atomic<int> diag_debug_level[kSlots];
thread_local int diag_active_level = 0;
std::atomic<int> diag_buffered_level{kDefaultBufferedLevel};

// Set while this thread is inside the log: lines produced by the log's own calls (clock, table
// lookups, file-owner look-ups, rotation) are dropped, so the log never recurses.
thread_local bool recursive = false;

struct RecursionGuard {
    RecursionGuard() { recursive = true; }
    ~RecursionGuard() { recursive = false; }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
};

// Everything else is guarded by diag_mutex.
struct DiagState {
    char debug_buff[2][kHalfSize] = {};
    size_t half_length[2] = {0, 0};  // bytes used in each half; half_length[active_buff] is the write position
    unsigned active_buff = 0;        // the half being written: 0 or 1
    time_t start_time = 0;
    int reset_interval = kDefaultResetInterval;
    std::string os_diag_file_name;
    std::string os_diag_proc_name;
    bool is_log_versions_enabled = false;
    int skip_checks_counter = 0;
    long limit_log_file_size = 0;
    int limit_log_versions = 0;
    int last_log_file_version = 0;
    mode_t new_log_mode = kDefaultLogMode;  // mode given to the last log file created
    char dump_msg[4200] = {};               // stays in place: callers may keep the pointer
};

std::mutex diag_mutex;
[[maybe_unused]] const bool diag_fork_safe = os_fork::hold_across_fork(os_fork::Rank::diag_log, diag_mutex);
DiagState state;

// Reads one configuration key from the parameter tables (GM_PARAM_get); absent keys leave the
// documented defaults in force. The lines the look-up itself logs are dropped (recursive is set).
std::optional<std::string> config_value(const char* table, const char* key) {
    return gm_param::config_lookup(table, key);
}

int checked_level(int level, const char* which) {
    if (level >= 0 && level <= kLevelMax) return level;
    OS_MSGERR_display("Warning: %sdebug level %d is not in the range of 0-6.", which, level);
    OS_MSGERR_display("It will be set to 0 by default.");
    return 0;
}

// The line time, "MMDD HH:MM:SS:mmm" (GM_TIME_FMT_MMDD_HH_MM_SS_CCC, through the test clock). Its
// text up to the seconds is formatted once a second on each thread; only the milliseconds change
// between the lines of one second.
constexpr size_t kStampLength = 17;
constexpr size_t kMillisLength = 3;

struct LineTime {
    char text[sizeof(DATETIME_D_typ)] = "";
    time_t second = 0;
    bool known = false;
};

std::string_view line_time() {
    thread_local LineTime cached;
    time_t now = 0;
    unsigned short milliseconds = 0;
    OS_TIME_bin_get_timer2(&now, &milliseconds);
    if (!cached.known || cached.second != now) {
        GM_TIME_fmt_to_ascii2(GM_TIME_FMT_MMDD_HH_MM_SS_CCC, now, 0, cached.text);
        cached.second = now;
        cached.known = std::strlen(cached.text) == kStampLength;
        if (!cached.known) return cached.text;
    }
    char* millis = cached.text + kStampLength - kMillisLength;
    millis[0] = static_cast<char>('0' + milliseconds / 100 % 10);
    millis[1] = static_cast<char>('0' + milliseconds / 10 % 10);
    millis[2] = static_cast<char>('0' + milliseconds % 10);
    return {cached.text, kStampLength};
}

time_t now_time() {
    time_t now = 0;
    GM_TIME_bin_get_timer(&now);
    return now;
}

// Formats into `small` when the text fits there (most lines do), else into `large`, cut to
// size - 1 characters. Returns the text as a C text: up to a NUL that a "%c" may have put in.
constexpr size_t kSmallText = 512;

std::string_view c_text(const char* text, size_t length) { return {text, strnlen(text, length)}; }

std::string_view format_text(char (&small)[kSmallText], std::string& large, size_t size, const char* format,
                             va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof small) return c_text(small, static_cast<size_t>(n));
    const size_t length = std::min(static_cast<size_t>(n), size - 1);
    large.resize(length + 1);
    va_copy(copy, args);
    std::vsnprintf(large.data(), length + 1, format, copy);
    va_end(copy);
    large.resize(length);
    return c_text(large.data(), length);
}

// One log line, "%s %s:%s\n" of the time, the process name and the text, kept in its parts.
struct Line {
    std::string_view stamp, name, text;
    size_t size() const { return stamp.size() + 1 + name.size() + 1 + text.size() + 1; }
    std::string joined() const {
        std::string line;
        line.reserve(size());
        line.append(stamp).append(" ").append(name).append(":").append(text).append("\n");
        return line;
    }
};

// Appends a line to the ring. A line that does not fit into the rest of the active half goes to
// the start of the other half, which is refilled from there. A line longer than a whole half
// keeps its head and its newline.
void ring_append(const Line& line) {
    const size_t length = std::min(line.size(), kHalfSize - 1);
    if (state.half_length[state.active_buff] + length > kHalfSize - 1) {
        state.active_buff = 1 - state.active_buff;
        state.half_length[state.active_buff] = 0;
    }
    char* half = state.debug_buff[state.active_buff];
    size_t& index = state.half_length[state.active_buff];
    char* out = half + index;
    size_t room = length - 1;  // the newline comes last
    const std::string_view pieces[] = {line.stamp, " ", line.name, ":", line.text};
    for (std::string_view piece : pieces) {
        const size_t n = std::min(piece.size(), room);
        std::memcpy(out, piece.data(), n);
        out += n;
        room -= n;
    }
    *out = '\n';
    index += length;
    half[index] = '\0';
}

void ring_clear() {
    for (int h = 0; h < 2; ++h) {
        state.half_length[h] = 0;
        state.debug_buff[h][0] = '\0';
    }
}

void write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data.remove_prefix(static_cast<size_t>(n));
    }
}

// Opens the log for appending; a new file gets its mode and the owner of the current directory.
int open_log(const std::string& path, mode_t mode) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, kDefaultLogMode);
    if (fd >= 0) {
        (void)fchmod(fd, mode);
        uid_t uid;
        gid_t gid;
        if (OS_FILE_get_file_owner(".", &uid, &gid) == CM_RC_OK) (void)fchown(fd, uid, gid);
        return fd;
    }
    if (errno != EEXIST) return -1;
    return os_file::open_regular(path.c_str(), O_WRONLY | O_APPEND);  // never appended through a link
}

std::string installed_versions() {
    // The agent home is the home directory of the owner of the current directory.
    PATHNAME_D_typ home;
    if (OS_FILE_get_agent_home_dir(home) != CM_RC_OK) return "failed to get agent directory\n";
    const std::string path = std::string(home) + "/installed-versions.txt";
    FILE* in = std::fopen(path.c_str(), "r");
    if (!in) return "failed to open input file '" + path + "'\n";
    std::string content;
    char line[kVersionsLineMax];
    while (std::fgets(line, sizeof line, in)) content += line;
    std::fclose(in);
    return content;
}

// The critical-error report: the error line, the installed versions and both halves of the ring,
// older half first; then the ring is cleared and the debug level raised to the buffered level.
std::string critical_error_report(std::string_view stamp, const std::string& line, int buffered,
                                  const std::optional<std::string>& interval) {
    std::string out(stamp);
    out += ": Orvanta/Agent has encountered the following critical error:\n\n" + line + "\n";
    out += installed_versions();
    out += "\nFull debug log containing the error:\n\n";
    out += ">>> Start dump non active buffer\n";
    out += state.debug_buff[1 - state.active_buff];
    out += ">>> End dump non active buffer\n";
    out += ">>> Start dump active buffer\n";
    out += state.debug_buff[state.active_buff];
    out += ">>> End dump active buffer\n";
    ring_clear();
    diag_debug_level[0] = buffered;
    state.start_time = now_time();
    if (interval && std::atoi(interval->c_str()) > 0) state.reset_interval = std::atoi(interval->c_str());
    out += "\nContinue generating debug information. Debug level will reset in " +
           std::to_string(state.reset_interval) + " seconds.\n\n";
    return out;
}

std::string log_version_name(const std::string& base, int version) {
    if (version == 0) return base + ".log";
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%02d.log", version);
    return base + suffix;
}

// Rotates the log once it is larger than the limit: version k becomes k+1 up to the number of
// kept versions, the oldest beyond it is deleted. 1 when checked, 2 when the file cannot be examined.
int check_log_file_size() {
    struct stat status;
    if (stat(state.os_diag_file_name.c_str(), &status) != 0) return CM_RC_FAIL;
    if (status.st_size > state.limit_log_file_size) {
        const std::string& path = state.os_diag_file_name;
        const size_t slash = path.rfind('/');
        const size_t dot = path.rfind('.');
        const std::string base =
            dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
        for (int v = state.last_log_file_version; v >= 0; --v) {
            if (v + 1 <= state.limit_log_versions)
                OS_FILE_rename(log_version_name(base, v).c_str(), log_version_name(base, v + 1).c_str());
            else
                unlink(log_version_name(base, state.last_log_file_version).c_str());
        }
        if (state.last_log_file_version < state.limit_log_versions) ++state.last_log_file_version;
    }
    return CM_RC_OK;
}

bool is_rotating_process(const std::string& name) {
    if (name == "AG" || name == "AT" || name == "AR" || name == "WK") return true;
    return name.size() > 3 && name.compare(0, 3, "ATW") == 0 && name[3] >= '0' && name[3] <= '9';
}

void diag_print_line(std::string_view text) {
    if (recursive) return;
    RecursionGuard guard;
    const int debug = diag_debug_level[0];
    const int active = diag_active_level;
    const int buffered = diag_buffered_level;
    if (debug > 0 && debug < active) return;

    const std::string_view stamp = line_time();
    // Table look-ups happen before the log's lock is taken, so a module that logs while holding a
    // lock of its own cannot deadlock with the log; and only when they matter (a log file about to
    // be created, a critical-error report), as the table code itself may be what is logging.
    const bool reaches_file = debug >= 1 || active == 0;
    std::optional<mode_t> new_log_mode;
    std::optional<std::string> interval_value;
    if (reaches_file) {
        std::string path;
        {
            std::lock_guard<std::mutex> lock(diag_mutex);
            path = state.os_diag_file_name;
        }
        if (!path.empty() && access(path.c_str(), F_OK) != 0) {
            const std::optional<std::string> value = config_value("OS", "PROCLOG_MODE");
            new_log_mode = value && std::atoi(value->c_str()) > 0
                               ? static_cast<mode_t>(std::strtol(value->c_str(), nullptr, 8))
                               : kDefaultLogMode;
        }
        if (debug == 0) interval_value = config_value("CONFIG", "DBG_RESET_INTERVAL");
    }

    std::lock_guard<std::mutex> lock(diag_mutex);
    const Line parts{stamp, state.os_diag_proc_name, text};
    if (debug == 0) {
        ring_append(parts);
        if (active > 0) return;
    }
    if (state.os_diag_file_name.empty()) return;
    const std::string line = parts.joined();
    // A log removed since the look-up above (rotation by another thread) gets the last mode read.
    if (new_log_mode) state.new_log_mode = *new_log_mode;
    const mode_t mode = state.new_log_mode;
    const int fd = open_log(state.os_diag_file_name, mode);
    if (fd < 0) return;

    if (debug == 0) {
        write_all(fd, critical_error_report(stamp, line, buffered, interval_value));
    } else {
        write_all(fd, line);
        if (state.start_time > 0 && now_time() - state.start_time > state.reset_interval) {
            const std::string reset =
                "Reseting debug level to 0 after " + std::to_string(state.reset_interval) + " seconds";
            write_all(fd, Line{stamp, state.os_diag_proc_name, reset}.joined());
            diag_debug_level[0] = 0;
            state.start_time = 0;
        }
    }
    close(fd);

    if (state.is_log_versions_enabled && ++state.skip_checks_counter > kLinesBetweenSizeChecks) {
        if (check_log_file_size() == CM_RC_OK) state.skip_checks_counter = 0;
    }
}

// Renames an SSL trace log of ./proclog aside with the time of the call; 1 or 2.
CM_RC move_ssl_log(const char* name, const char* stamp, std::string& new_name) {
    std::string moved = name;
    moved.replace(moved.rfind(".log"), 4, std::string("_") + stamp + ".log");
    const CM_RC rc = OS_FILE_rename((std::string("proclog/") + name).c_str(), ("proclog/" + moved).c_str());
    if (rc == CM_RC_OK) new_name = moved;
    return rc;
}

CM_RC rewrite_ssl_policy(int agent_debug_level) {
    // Without AGENT_DIR the policy of the agent home (the working directory) is meant; an empty
    // directory would name a file at the root of the file system.
    const std::optional<std::string> configured = config_value("CONFIG", "AGENT_DIR");
    const std::string agent_dir = configured && !configured->empty() ? *configured : std::string(".");
    const std::string path = agent_dir + "/" + "data/SSL/cert/site.plc";
    const std::string temp = path + ".temp";
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        DIAG_ERROR("ERROR: Failed to get stat of '%s': %s", path.c_str(), strerror(errno));
        return CM_RC_FAIL;
    }
    FILE* in = nullptr;
    FILE* out = nullptr;
    // The copy's name is foreseeable: it is made anew, never written through a link planted there.
    const int out_fd = OS_FILE_fopen(path.c_str(), &in, OS_FILE_READ) == CM_RC_OK
                           ? os_file::create_fresh(temp.c_str(), status.st_mode & 07777)
                           : -1;
    if (out_fd >= 0 && !(out = fdopen(out_fd, "w"))) close(out_fd);
    if (!out) {
        if (in) OS_FILE_fclose(in);
        DIAG_ERROR("ERROR: Failed to open file '%s'.", path.c_str());
        return CM_RC_FAIL;
    }
    const char* levels = agent_debug_level > 2 ? "ERROR,API,TRACE,WARNING,INFO,DATA" : "ERROR";
    char line[1024];
    while (std::fgets(line, sizeof line, in)) {
        if (std::strstr(line, "loglevel"))
            std::fprintf(out, "%s=%s\n", "loglevel", levels);
        else
            std::fputs(line, out);
    }
    // A short copy (a full disk, a read error) must not take the policy's place.
    const bool copied = !std::ferror(in) && std::fflush(out) == 0 && !std::ferror(out);
    OS_FILE_fclose(in);
    const auto discard = [&](const char* what) {
        if (what)
            DIAG_ERROR("ERROR: Failed to %s '%s': %s", what, temp.c_str(), strerror(errno));
        else
            DIAG_ERROR("ERROR: Failed to write '%s'.", temp.c_str());
        if (out) std::fclose(out);
        unlink(temp.c_str());
        return CM_RC_FAIL;
    };
    if (!copied) return discard(nullptr);
    // Owner and mode of the policy go to the copy through its descriptor.
    if (fchown(fileno(out), status.st_uid, status.st_gid) != 0) return discard("chown");
    if (fchmod(fileno(out), status.st_mode & 07777) != 0) return discard("chmod");
    if (std::fclose(std::exchange(out, nullptr)) != 0) return discard(nullptr);
    return OS_FILE_rename(temp.c_str(), path.c_str());
}

}  // namespace

extern "C" {

void DIAG_printf(const char* format, ...) {
    if (!format || recursive) return;
    char small[kSmallText];
    std::string large;
    va_list args;
    va_start(args, format);
    const std::string_view text = format_text(small, large, kTextMax, format, args);
    va_end(args);
    diag_print_line(text);
}

void DIAG_print_text(const char* text) { diag_print_line(text ? text : ""); }

int DIAG_debug_level(void) { return diag_debug_level[0]; }
void DIAG_set_debug_level(int level) { diag_debug_level[0] = checked_level(level, ""); }
int DIAG_active_level(void) { return diag_active_level; }
void DIAG_set_active_level(int level) { diag_active_level = checked_level(level, "active "); }
int DIAG_buffered_level(void) { return diag_buffered_level; }
void DIAG_set_buffered_level(int level) { diag_buffered_level = checked_level(level, "buffered "); }

int DIAG_debug_level2(int slot) { return slot >= 0 && slot < kSlots ? diag_debug_level[slot].load() : 0; }

void DIAG_set_debug_level2(int level, int slot) {
    if (slot == 0) {
        for (auto& l : diag_debug_level) l = level;
    } else if (slot > 0 && slot < kSlots) {
        diag_debug_level[slot] = level;
    }
}

void DIAG_fnc_enter(const char*) {}
void DIAG_fnc_exit(void) {}

void OS_DIAG_initialize(const char*, const char* process_name) {
    const std::string name = std::string(process_name ? process_name : "").substr(0, kProcNameMax);
    const bool rotating = is_rotating_process(name);
    long size_limit = kDefaultLogFileSize;
    int versions = kDefaultLogVersions;
    if (rotating) {
        if (auto size = config_value("CONFIG", "LIMIT_LOG_FILE_SIZE"))
            size_limit = std::atol(size->c_str()) * kMegabyte;
        if (auto count = config_value("CONFIG", "LIMIT_LOG_VERSIONS")) versions = std::atoi(count->c_str());
    }
    std::lock_guard<std::mutex> lock(diag_mutex);
    state.os_diag_proc_name = name;
    state.os_diag_file_name = "./proclog/" + name + "_" + std::to_string(getpid()) + ".log";
    ring_clear();
    state.active_buff = 0;
    state.is_log_versions_enabled = false;
    if (rotating) {
        state.skip_checks_counter = 0;
        state.last_log_file_version = 0;
        state.limit_log_file_size = size_limit;
        state.limit_log_versions = versions;
        state.is_log_versions_enabled = size_limit > 0 && versions > 0;
    }
}

CM_RC OS_DIAG_delete_proclogs(int keep_days, int) { return OS_FILE_dir_rm_old_files("proclog", keep_days); }

CM_RC OS_DIAG_truncate_logs(void) {
    static const char* const fn = "OS_DIAG_truncate_logs";
    struct SslLog {
        const char* name;
        const char* what;
        std::string moved;
    } logs[] = {{"ssl_ag_client.log", "SSL client log", {}},
                {"ssl_ag_server.log", "SSL server log", {}},
                {"ssl_ag_keystore.log", "SSL keystore log", {}}};
    DIR* dir = opendir("proclog");
    if (!dir) return CM_RC_FAIL;
    DATETIME_D_typ stamp;
    GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDDHHMMSS, stamp);
    CM_RC rc = CM_RC_DIR_END;
    while (const struct dirent* entry = readdir(dir)) {
        for (SslLog& log : logs) {
            if (std::strcmp(entry->d_name, log.name) != 0) continue;
            struct stat status;
            const std::string path = std::string("proclog/") + log.name;
            if (stat(path.c_str(), &status) != 0 || status.st_mtime <= 0) continue;
            rc = move_ssl_log(log.name, stamp, log.moved);
            DIAG_TRACE(4, "%s: found %s. ret - %d   modify old - '%ld'   modify new '%ld'", fn, log.what, rc,
                       static_cast<long>(status.st_mtime), static_cast<long>(now_time()));
        }
    }
    closedir(dir);
    DIAG_TRACE(4, "%s: ended dir loop.\n\tSSL client log - '%s'\n\tSSL server log - '%s'\n\tSSL keystore log - '%s'",
               fn, logs[0].moved.c_str(), logs[1].moved.c_str(), logs[2].moved.c_str());
    return rc;
}

const char* OS_DIAG_dump_msg(void) {
    DIAG_ERROR("*** QEL Orvanta/Agent diagnostic messages dump ***");
    std::lock_guard<std::mutex> lock(diag_mutex);
    std::snprintf(state.dump_msg, sizeof state.dump_msg, "For more information, see Agent diagnostics dump file %s",
                  state.os_diag_file_name.c_str());
    return state.dump_msg;
}

CM_RC OS_DIAG_set_ssl_debug(int agent_debug_level) {
    static const char* const fn = "OS_DIAG_set_ssl_debug";
    DIAG_TRACE(3, ">>> %s, Agent's debug level = %d", fn, agent_debug_level);
    const CM_RC rc = rewrite_ssl_policy(agent_debug_level);
    DIAG_TRACE(3, "<<< %s, rc = %d", fn, rc);
    return rc;
}

void replaceChar(char* text, char from, char to) {
    for (; text && *text; ++text)
        if (*text == from) *text = to;
}

void OS_MSGERR_display(const char* format, ...) {
    if (!format) return;
    char small[kSmallText];
    std::string large;
    va_list args;
    va_start(args, format);
    const std::string_view text = format_text(small, large, kMsgErrMax + 1, format, args);
    va_end(args);
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
}

}  // extern "C"
