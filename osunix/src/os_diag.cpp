/* The process's leveled diagnostic log ./proclog/<process>_<pid>.log: levels, the in-memory ring of
 * two 32 KB halves written out by the critical-error report, the raised level and its reset, log
 * rotation, the proclog housekeeping functions and the one-line standard-error channel. */
#include "os_diag.h"
#include "os_diag_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

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
constexpr size_t kLogPathRoom = 4097;
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
    char os_diag_file_name[kLogPathRoom] = "";  // empty: no log file yet
    char os_diag_proc_name[kProcNameMax + 1] = "";
    bool is_log_versions_enabled = false;
    int skip_checks_counter = 0;
    long limit_log_file_size = 0;
    int limit_log_versions = 0;
    int last_log_file_version = 0;
    mode_t new_log_mode = kDefaultLogMode;  // mode given to the last log file created
    char dump_msg[4200] = {};               // stays in place: callers may keep the pointer
    // The log file, kept open from line to line (-1: none), and which file it is.
    int log_fd = -1;
    dev_t log_dev = 0;
    ino_t log_ino = 0;
    long long name_checked_ms = 0;     // when the name was last found to be this file
    bool folder_refusal_said = false;  // a refused log folder is said once on standard error
};

// The state is plain data: nothing of it is destroyed when the process ends, while other threads
// of the agent may still be logging, and nothing of it is left on the heap when the library is
// unloaded.
static_assert(std::is_trivially_destructible_v<DiagState>);

std::mutex diag_mutex;
[[maybe_unused]] const bool diag_fork_safe = os_fork::hold_across_fork(os_fork::Rank::diag_log, diag_mutex);

constinit DiagState state;

// Whether a log file is open, read without the lock: only a call that may create the file looks
// up the mode of a new one.
std::atomic<bool> log_open{false};

// How often the name of the open log is looked at, to notice that it was renamed or replaced.
constexpr long long kNameCheckMs = 1000;

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

// Real elapsed time in milliseconds, for the look at the log's name (not the test clock, which a
// test may hold still).
long long monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
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
    template <typename Out>
    void append_to(Out& out) const {
        out.append(stamp).append(" ").append(name).append(":").append(text).append("\n");
    }
};

// The bytes of one call on their way to the file: on the stack for a line or a few, on the heap
// only for more (a dump, a report).
class Pending {
public:
    Pending& append(std::string_view bytes) {
        if (!on_heap_ && size_ + bytes.size() <= sizeof small_) {
            if (!bytes.empty()) std::memcpy(small_ + size_, bytes.data(), bytes.size());
            size_ += bytes.size();
            return *this;
        }
        if (!on_heap_) large_.assign(small_, size_);
        on_heap_ = true;
        large_.append(bytes);
        return *this;
    }
    std::string_view view() const { return on_heap_ ? std::string_view(large_) : std::string_view(small_, size_); }
    void clear() {
        size_ = 0;
        on_heap_ = false;
        large_.clear();
    }

private:
    char small_[4096];
    size_t size_ = 0;
    bool on_heap_ = false;
    std::string large_;
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

void close_log() {
    if (state.log_fd >= 0) close(state.log_fd);
    state.log_fd = -1;
    log_open = false;
}

// Says once on standard error that the log's folder is refused (a link to a folder that is not
// the agent owner's): the lines it would hold are lost, and the process should be told.
void say_folder_refused(int error) {
    if (state.folder_refusal_said) return;
    state.folder_refusal_said = true;
    char home[PATH_MAX] = "";
    if (!getcwd(home, sizeof home)) std::snprintf(home, sizeof home, "%s", ".");
    const std::string_view path(state.os_diag_file_name);
    std::string folder(path.substr(0, path.rfind('/')));
    if (folder.starts_with("./")) folder.erase(0, 2);
    OS_MSGERR_display("%s: cannot write the log in %s/%s: %s", state.os_diag_proc_name, home, folder.c_str(),
                      os_file::folder_failure_text(error));
}

// Opens the log for appending and keeps it open. Its folder is reached as open_home_folder allows
// (a link only to a folder of the home's owner); a new file is created exclusively, gets its mode
// and the owner of the home.
bool open_log() {
    std::string name;
    const int folder = os_file::open_parent_folder(state.os_diag_file_name, name);
    if (folder < 0) {
        if (errno == ELOOP) say_folder_refused(errno);
        return false;
    }
    int fd =
        openat(folder, name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kDefaultLogMode);
    if (fd >= 0) {
        (void)fchmod(fd, state.new_log_mode);
        (void)os_file::give_to_agent_owner(fd);
    } else if (errno == EEXIST) {
        fd = os_file::open_regular_at(folder, name.c_str(), O_WRONLY | O_APPEND);
    }
    close(folder);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        if (fd >= 0) close(fd);
        return false;
    }
    state.log_fd = fd;
    state.log_dev = status.st_dev;
    state.log_ino = status.st_ino;
    state.name_checked_ms = monotonic_ms();
    log_open = true;
    return true;
}

// Whether the open log is still the file at the log's name, looked at once a second (a look costs
// as much as the write of a line): a file removed, or renamed away by a rotation of another writer
// of the log (a forked process), is closed, and the next line opens the file at the name. A
// descriptor that is no longer this file (closed behind the log's back, its number taken by another
// file) is forgotten without being closed.
bool log_still_there() {
    const long long now = monotonic_ms();
    if (now - state.name_checked_ms < kNameCheckMs) return true;
    state.name_checked_ms = now;
    struct stat status;
    if (fstat(state.log_fd, &status) != 0 || status.st_dev != state.log_dev || status.st_ino != state.log_ino) {
        state.log_fd = -1;
        log_open = false;
        return false;
    }
    struct stat named;
    const bool there = status.st_nlink > 0 && lstat(state.os_diag_file_name, &named) == 0 &&
                       named.st_dev == state.log_dev && named.st_ino == state.log_ino;
    if (!there) close_log();
    return there;
}

bool log_ready() {
    if (state.log_fd >= 0 && log_still_there()) return true;
    return open_log();
}

// Writes what a call gathered to the log. A descriptor closed behind the log's back is forgotten,
// and the file at the name takes the lines.
void flush(Pending& out) {
    if (state.log_fd >= 0 && !os_file::append_whole(state.log_fd, out.view()) && errno == EBADF) {
        state.log_fd = -1;
        log_open = false;
        if (open_log()) os_file::append_whole(state.log_fd, out.view());
    }
    out.clear();
}

// The contents of <agent home>/installed-versions.txt for the report, or why they are missing. The
// file lies in a folder of the home's owner: it is read only when it is a regular file, never
// through a link at its name, and a FIFO there does not hold the open.
std::string installed_versions() {
    // The agent home is the home directory of the owner of the current directory.
    PATHNAME_D_typ home;
    if (OS_FILE_get_agent_home_dir(home) != CM_RC_OK) return "failed to get agent directory\n";
    const std::string path = std::string(home) + "/installed-versions.txt";
    const int fd = os_file::open_regular(path.c_str(), O_RDONLY);
    FILE* in = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (!in) {
        if (fd >= 0) close(fd);
        return "failed to open input file '" + path + "'\n";
    }
    std::string content;
    char line[kVersionsLineMax];
    while (std::fgets(line, sizeof line, in)) content += line;
    std::fclose(in);
    return content;
}

// The critical-error report: the error line, the installed versions and both halves of the ring,
// older half first; then the ring is cleared and the debug level raised to the buffered level.
void append_critical_error_report(Pending& out, const Line& line, int buffered,
                                  const std::optional<std::string>& interval) {
    out.append(line.stamp).append(": Orvanta/Agent has encountered the following critical error:\n\n");
    line.append_to(out);
    out.append("\n").append(installed_versions());
    out.append("\nFull debug log containing the error:\n\n");
    out.append(">>> Start dump non active buffer\n").append(state.debug_buff[1 - state.active_buff]);
    out.append(">>> End dump non active buffer\n");
    out.append(">>> Start dump active buffer\n").append(state.debug_buff[state.active_buff]);
    out.append(">>> End dump active buffer\n");
    ring_clear();
    diag_debug_level[0] = buffered;
    state.start_time = now_time();
    if (interval && std::atoi(interval->c_str()) > 0) state.reset_interval = std::atoi(interval->c_str());
    out.append("\nContinue generating debug information. Debug level will reset in " +
               std::to_string(state.reset_interval) + " seconds.\n\n");
}

std::string log_version_name(const std::string& base, int version) {
    if (version == 0) return base + ".log";
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%02d.log", version);
    return base + suffix;
}

// Rotates the log once it is larger than the limit, counting the lines of the call not written
// yet, which then go to the log before it is rotated: version k becomes k+1 up to the number of
// kept versions, the oldest beyond it is deleted, and the next line starts a new log. The versions
// are renamed and deleted in the log's folder, reached as the log itself is. 1 when checked, 2 when
// the file cannot be examined.
int check_log_file_size(Pending& out) {
    struct stat status;
    if (state.log_fd < 0 || fstat(state.log_fd, &status) != 0) return CM_RC_FAIL;
    if (status.st_size + static_cast<off_t>(out.view().size()) <= state.limit_log_file_size) return CM_RC_OK;
    flush(out);
    std::string name;
    const int folder = os_file::open_parent_folder(state.os_diag_file_name, name);
    if (folder < 0) return CM_RC_FAIL;
    const size_t dot = name.rfind('.');
    const std::string base = dot != std::string::npos ? name.substr(0, dot) : name;
    for (int v = state.last_log_file_version; v >= 0; --v) {
        if (v + 1 <= state.limit_log_versions)
            (void)renameat(folder, log_version_name(base, v).c_str(), folder, log_version_name(base, v + 1).c_str());
        else
            (void)unlinkat(folder, log_version_name(base, state.last_log_file_version).c_str(), 0);
    }
    close(folder);
    if (state.last_log_file_version < state.limit_log_versions) ++state.last_log_file_version;
    close_log();
    return CM_RC_OK;
}

bool is_rotating_process(const std::string& name) {
    if (name == "AG" || name == "AT" || name == "AR" || name == "WK") return true;
    return name.size() > 3 && name.compare(0, 3, "ATW") == 0 && name[3] >= '0' && name[3] <= '9';
}

// The settings a call may need, looked up before the log's lock is taken, so that a module that
// logs while holding a lock of its own cannot deadlock with the log; and only when they matter (a
// log file about to be created, a critical-error report), as the table code itself may be what is
// logging.
struct Settings {
    std::optional<mode_t> new_log_mode;
    std::optional<std::string> interval;
};

Settings settings_for(int debug, int active) {
    Settings settings;
    if (debug < 1 && active != 0) return settings;  // nothing reaches the file
    if (!log_open) {
        std::string path;
        {
            std::lock_guard<std::mutex> lock(diag_mutex);
            path = state.os_diag_file_name;
        }
        if (!path.empty() && access(path.c_str(), F_OK) != 0) {
            const std::optional<std::string> value = config_value("OS", "PROCLOG_MODE");
            settings.new_log_mode = value && std::atoi(value->c_str()) > 0
                                        ? static_cast<mode_t>(std::strtol(value->c_str(), nullptr, 8))
                                        : kDefaultLogMode;
        }
    }
    if (debug == 0) settings.interval = config_value("CONFIG", "DBG_RESET_INTERVAL");
    return settings;
}

// Writes the lines of one call, each as the log's rules say: into the ring at debug level 0, into
// the file (with the critical-error report, the reset of a raised level and the size check) when
// it reaches it. What goes to the file is gathered and written at once, before a size check and
// at the end: a line is in the file when the call returns.
void print_lines_of_call(const std::string_view* texts, size_t count) {
    RecursionGuard guard;
    const int active = diag_active_level;
    const int buffered = diag_buffered_level;
    const int debug = diag_debug_level[0];
    if (debug > 0 && debug < active) return;

    const std::string_view stamp = line_time();
    const Settings settings = settings_for(debug, active);
    Pending out;
    std::lock_guard<std::mutex> lock(diag_mutex);
    // A log removed since the look-up above (rotation by another thread) gets the last mode read.
    if (settings.new_log_mode) state.new_log_mode = *settings.new_log_mode;
    bool tried = false, ready = false;
    for (size_t i = 0; i < count; ++i) {
        // An error line at debug level 0 raises the level: the lines after it are written as such.
        const int level = diag_debug_level[0];
        if (level > 0 && level < active) continue;
        const Line line{stamp, state.os_diag_proc_name, texts[i]};
        if (level == 0) {
            ring_append(line);
            if (active > 0) continue;
        }
        if (!*state.os_diag_file_name) continue;
        if (!tried) {
            tried = true;
            ready = log_ready();
        }
        if (!ready) continue;

        if (level == 0) {
            append_critical_error_report(out, line, buffered, settings.interval);
        } else {
            line.append_to(out);
            if (state.start_time > 0 && now_time() - state.start_time > state.reset_interval) {
                const std::string reset =
                    "Reseting debug level to 0 after " + std::to_string(state.reset_interval) + " seconds";
                Line{stamp, state.os_diag_proc_name, reset}.append_to(out);
                diag_debug_level[0] = 0;
                state.start_time = 0;
            }
        }
        if (state.is_log_versions_enabled && ++state.skip_checks_counter > kLinesBetweenSizeChecks) {
            if (check_log_file_size(out) == CM_RC_OK) state.skip_checks_counter = 0;
            tried = state.log_fd >= 0;  // after a rotation the next line opens the new log
        }
    }
    if (ready) flush(out);
}

void print_lines(const std::string_view* texts, size_t count) {
    if (recursive || count == 0) return;
    try {
        print_lines_of_call(texts, count);
    } catch (...) {
        // Out of memory: the lines are lost, as lines the log cannot open its file for.
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
    // The policy lies in the agent home, whose owner may plant a link or a FIFO at its name: it is
    // read only as a regular file, never through a link, and its owner and mode are taken from
    // the file opened.
    const int in_fd = os_file::open_regular(path.c_str(), O_RDONLY);
    struct stat status;
    if (in_fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
        DIAG_ERROR("ERROR: Failed to get stat of '%s': %s", path.c_str(), strerror(errno));
        return CM_RC_FAIL;
    }
    FILE* in = in_fd >= 0 && fstat(in_fd, &status) == 0 ? fdopen(in_fd, "r") : nullptr;
    if (in_fd >= 0 && !in) close(in_fd);
    FILE* out = nullptr;
    // The copy's name is foreseeable: it is made anew, never written through a link planted there.
    const int out_fd = in ? os_file::create_fresh(temp.c_str(), status.st_mode & 07777) : -1;
    if (out_fd >= 0 && !(out = fdopen(out_fd, "w"))) close(out_fd);
    if (!out) {
        if (in) std::fclose(in);
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
    std::fclose(in);
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
    print_lines(&text, 1);
}

void DIAG_print_text(const char* text) {
    const std::string_view line = text ? text : "";
    print_lines(&line, 1);
}

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
    close_log();  // a log opened under another name (or by the parent of a forked process)
    std::snprintf(state.os_diag_proc_name, sizeof state.os_diag_proc_name, "%s", name.c_str());
    std::snprintf(state.os_diag_file_name, sizeof state.os_diag_file_name, "./proclog/%s_%d.log", name.c_str(),
                  static_cast<int>(getpid()));
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
                  state.os_diag_file_name);
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

namespace os_diag {

void Lines::add(std::initializer_list<std::string_view> pieces) {
    const size_t start = text_.size();
    for (std::string_view piece : pieces) text_.append(piece);
    if (text_.size() - start > kTextMax - 1) text_.resize(start + kTextMax - 1);
    ends_.push_back(text_.size());
}

void Lines::print() {
    std::vector<std::string_view> texts;
    texts.reserve(ends_.size());
    size_t start = 0;
    for (size_t end : ends_) {
        texts.emplace_back(text_.data() + start, end - start);
        start = end;
    }
    print_lines(texts.data(), texts.size());
    text_.clear();
    ends_.clear();
}

}  // namespace os_diag
