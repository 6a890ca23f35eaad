/* Process start-up and exit: the agent home and the working directory, the log and its levels, the
 * configuration table, the globalization library and the locale, the signal dispositions that the
 * process name calls for, registration with a lock file and a pid file, the open-files limit and
 * the version banner. Owns the SIGCHLD reaper of the agent's processes. */
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ag_admin.h"
#include "dsect_appl.h"
#include "gc_wrapper.h"
#include "gm_param.h"
#include "os_blowf.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_file_nofollow.h"
#include "os_lib.h"
#include "os_logical_internal.h"
#include "os_proc.h"
#include "os_proc_internal.h"
#include "os_spv.h"
#include "zpaapi.h"

namespace {

// The installation file read when ORVANTA is not set, and how many of its rows reach the
// environment.
constexpr const char* kInstallParts[] = {"QELSoftware", "ORVANTA-Agent", "ORVZPAAPI"};
constexpr int kInstallRowsMax = 100;
constexpr char kHomeVariable[] = "ORVANTA";
constexpr char kLevelVariable[] = "ORVANTA_DBGLVL";
constexpr char kDefaultBufferedLevel[] = "5";
constexpr char kCpuSpecsFile[] = "./data/get_cpu_specs_encrypted.dat";
constexpr char kLogFolder[] = "proclog";

// Failures before the log is open go to standard output.
void say(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

// What the log cannot hold goes to standard error, one line each.
void say_error(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

// Why the log cannot be written into the log folder of the home; "" when it can.
std::string log_folder_problem() {
    struct stat folder {};
    if (stat(kLogFolder, &folder) != 0) return std::strerror(errno);
    if (!S_ISDIR(folder.st_mode)) return std::strerror(ENOTDIR);
    if (faccessat(AT_FDCWD, kLogFolder, W_OK | X_OK, AT_EACCESS) != 0) return std::strerror(errno);
    return "";
}

std::string install_file_path() {
    char path[256];
    std::snprintf(path, sizeof path, "/etc/%s/%s/%s", kInstallParts[0], kInstallParts[1], kInstallParts[2]);
    return path;
}

// The agent home: ORVANTA, else the ORVANTA row of the installation file, whose rows (at most 100,
// in file order) all go into the environment first.
bool find_home(std::string& home) {
    const char* set = std::getenv(kHomeVariable);
    if (set && *set) {
        home = set;
        return true;
    }
    const std::string path = install_file_path();
    ZPALIST_handle_typ rows{};
    if (GM_PARAM_load_file(&rows, path.c_str()) != CM_RC_OK) {
        GM_PARAM_list_clear(&rows);
        say(std::string("failed to locate ") + kHomeVariable + " from env variable and from " + path + "\n");
        return false;
    }
    GM_PARAM_list_reset(&rows);
    char* key = nullptr;
    void* value = nullptr;
    for (int count = 0; count < kInstallRowsMax && GM_PARAM_list_next(&rows, &key, &value) == CM_RC_OK; ++count) {
        if (!os_logical::set_variable(key, static_cast<const char*>(value))) {
            say(std::string("Failed to set environment '") + key + "=" + static_cast<const char*>(value) + "'\n");
            GM_PARAM_list_clear(&rows);
            return false;
        }
    }
    GM_PARAM_VALUE_typ found = "";
    const bool located = GM_PARAM_list_get(&rows, kHomeVariable, found, sizeof found) == CM_RC_OK && found[0];
    GM_PARAM_list_clear(&rows);
    if (!located) {
        say(std::string("failed to locate ") + kHomeVariable + " from " + path + "\n");
        return false;
    }
    home = found;
    return true;
}

bool is_unsigned_number(const char* text) {
    if (!text || !*text) return false;
    for (const char* c = text; *c; ++c)
        if (*c < '0' || *c > '9') return false;
    return true;
}

// A level text as atoi reads it, without overflowing.
int level_of(const char* text) {
    const long long value = std::strtoll(text, nullptr, 10);
    return value > INT_MAX ? INT_MAX : (value < INT_MIN ? INT_MIN : static_cast<int>(value));
}

// The debug level: the environment's value, or the table's DBGLVL when that is a number at least
// as large. Only an unsigned number counts as the environment's value; anything else is "0".
void choose_debug_level(const char* proc_name, const char* config) {
    const char* from_environment = std::getenv(kLevelVariable);
    std::string chosen = is_unsigned_number(from_environment) ? from_environment : "0";
    DIAG_set_debug_level(level_of(chosen.c_str()));
    GM_PARAM_VALUE_typ from_table = "";
    const CM_RC found = GM_PARAM_get(config, "DBGLVL", from_table);
    if ((found == CM_RC_OK || found == CM_RC_END) && is_unsigned_number(from_table) &&
        level_of(from_table) >= level_of(chosen.c_str()))
        chosen = from_table;
    DIAG_set_debug_level(level_of(chosen.c_str()));
    DIAG_TRACE(4, "Log file for %s Initialized with debug level %s", proc_name, chosen.c_str());
    if (DIAG_buffered_level() > 0 || DIAG_debug_level() > 0) OS_PROC_print_version(1);
}

void choose_buffered_level(const char* config) {
    GM_PARAM_VALUE_typ level = "";
    if (GM_PARAM_get(config, "BUFFERED_DBGLVL", level) != CM_RC_OK || !is_unsigned_number(level))
        std::snprintf(level, sizeof level, "%s", kDefaultBufferedLevel);
    DIAG_set_buffered_level(level_of(level));
    DIAG_TRACE(3, "buffered debug level set to %s", level);
}

// LC_CTYPE from the table's LOCALE, else the "C" locale for everything.
void choose_locale(const char* table) {
    GM_PARAM_VALUE_typ locale = "";
    if (GM_PARAM_get(table, "LOCALE", locale) == CM_RC_OK) {
        if (!std::setlocale(LC_ALL, ""))
            DIAG_ERROR("Cannot setlocale (LC_ALL) to  \"\" error : %s", std::strerror(errno));
        if (std::setlocale(LC_CTYPE, locale)) {
            const char* now = std::setlocale(LC_CTYPE, nullptr);
            DIAG_TRACE(4, "The locale is now : %s", now ? now : "undefined");
        } else {
            DIAG_ERROR("Cannot setlocale (LC_CTYPE) to  %s error : %s", locale, std::strerror(errno));
        }
        return;
    }
    if (!std::setlocale(LC_ALL, "C")) {
        DIAG_ERROR("Cannot setlocale (LC_ALL) to  C error : %s", std::strerror(errno));
        return;
    }
    DIAG_TRACE(4, "The locale is now : 'C'");
}

// The enciphered machine details (cpu specs) of the agent process, as it lies in its file. The file
// is read without waiting and only as a regular file: a FIFO or a link planted there is unreadable.
void read_cpu_specs() {
    char* buffer = OS_PROC_getCpuSpecsBuffer();
    const int fd = os_file::open_regular(kCpuSpecsFile, O_RDONLY);
    if (fd < 0) {
        DIAG_TRACE(4, "OS_PROC_init: cannot read %s: %s", kCpuSpecsFile, std::strerror(errno));
        return;
    }
    size_t length = 0;
    while (length < OS_PROC_CPU_SPECS_ROOM - 1) {
        const ssize_t got = read(fd, buffer + length, OS_PROC_CPU_SPECS_ROOM - 1 - length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        length += static_cast<size_t>(got);
    }
    buffer[length] = '\0';
    close(fd);
}

// Collects every finished child; keeps errno as the interrupted code had it.
void reap_children(int) {
    const int saved_errno = errno;
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    errno = saved_errno;
}

void install(int signal_number, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, nullptr);
}

bool is_agent_process(const std::string& name, bool worker) {
    return worker || name == "AT" || name == "AG" || name == "AR" || name == "RL";
}

void set_signals(const std::string& name, bool worker) {
    if (is_agent_process(name, worker)) {
        install(SIGCHLD, reap_children);
        install(SIGINT, OS_proc_shutdown_signal);
        install(SIGTERM, OS_proc_shutdown_signal);
        OS_PROC_ensure_desc_limit();
    }
    install(SIGPIPE, SIG_IGN);
    if (name.size() == 2 || worker)
        for (int signal_number : {SIGHUP, SIGTTIN, SIGTTOU, SIGTSTP}) install(signal_number, SIG_IGN);
}

CM_RC register_by_name(const std::string& name, bool worker) {
    DIAG_TRACE(4, "OS_PROC_init: registering process '%s'", name.c_str());
    if (name == "AG") return OS_PROC_register(OS_PROC_TYPE_AG, nullptr);
    if (name == "AT") return OS_PROC_register(OS_PROC_TYPE_AT, nullptr);
    if (name == "AR") return OS_PROC_register(OS_PROC_TYPE_AR, nullptr);
    if (name == "RL") return OS_PROC_register(OS_PROC_TYPE_RL, nullptr);
    if (name == "WK") {
        install(SIGCHLD, SIG_DFL);
        return OS_PROC_register(OS_PROC_TYPE_WK, nullptr);
    }
    if (worker) return OS_PROC_register(OS_PROC_TYPE_NAMED, name.c_str());
    return CM_RC_OK;
}

void report_lock_held(int proc_type, const char* proc_name, int lock_errno) {
    const char* reason = std::strerror(lock_errno);
    switch (proc_type) {
    case OS_PROC_TYPE_AG: DIAG_ERROR("Another Agent process is running , exiting errno (%s) ...", reason); return;
    case OS_PROC_TYPE_AT: DIAG_ERROR("Another Tracker process is running , exiting errno (%s) ...", reason); return;
    case OS_PROC_TYPE_AR: DIAG_ERROR("Another Router process is running , exiting errno (%s) ...", reason); return;
    case OS_PROC_TYPE_WK: DIAG_ERROR("Another WK process is running, exiting errno (%s)", reason); return;
    case OS_PROC_TYPE_RL: DIAG_ERROR("Another RU process is running, exiting errno (%s)", reason); return;
    default: DIAG_ERROR("Another '%s' process is running, exiting errno (%s)", proc_name ? proc_name : "", reason);
    }
}

// Removes the stem's pid files "<stem>_*" from the directory the pid files go to (the stem is
// matched as text, never as a pattern).
void remove_pid_files(const char* stem) {
    PATHNAME_D_typ dir = "";
    if (OS_SPV_get_full_dir_nm(dir) != CM_RC_OK) return;
    std::string pattern;
    for (const char* c = stem; *c; ++c) {
        if (std::strchr("*?[]\\", *c)) pattern += '\\';
        pattern += *c;
    }
    pattern += "_*";
    OS_FILE_delete_pattern(dir, pattern.c_str());
}

}  // namespace

extern "C" {

CM_RC OS_PROC_init(char* p_proc, int p_argc, char** p_argv) {
    static const char* const fn = "OS_PROC_init";
    if (!p_proc) {
        say(std::string(fn) + ": no process name\n");
        return CM_RC_FAIL;
    }
    umask(022);
    os_proc::clear_main_mtrack();
    os_proc::record_start_dir();

    std::string home;
    if (!find_home(home)) return CM_RC_FAIL;
    if (chdir(home.c_str()) != 0) {
        say("failed to cd " + home + "\n");
        return CM_RC_FAIL;
    }
    os_proc::record_start(p_proc, p_argc, p_argv);
    if (!os_proc::record_user()) {
        say("failed to get password entry for user " + std::to_string(getuid()) + "\n");
        return CM_RC_FAIL;
    }
    const std::string name = OS_PROC_name();
    const bool worker = OS_PROC_is_track_worker(name.c_str(), nullptr) == 1;

    OS_DIAG_initialize(nullptr, p_proc);
    // The log drops the lines it cannot write: a process whose log folder is unusable says why on
    // standard error, and says there too why its start-up fails.
    const std::string log_problem = log_folder_problem();
    if (!log_problem.empty())
        say_error(name + ": cannot write the log in " + home + "/" + kLogFolder + ": " + log_problem);
    const char* config = OS_PROC_config_file();
    const std::string config_name = config;
    const CM_RC loaded = GM_PARAM_load(config_name.c_str(), 0);
    if (loaded != CM_RC_OK && loaded != CM_RC_END) {
        if (name != "FW") {
            DIAG_ERROR("OS_PROC_init: Cannot load %s [%d]\n", config_name.c_str(), loaded);
            if (!log_problem.empty())
                say_error(name + ": OS_PROC_init: Cannot load " + config_name + " [" + std::to_string(loaded) + "]");
            return CM_RC_FAIL;
        }
        DIAG_TRACE(3, "OS_PROC_init: file watcher can't find configutation file '%s'", config_name.c_str());
    }
    choose_debug_level(name.c_str(), config_name.c_str());
    choose_buffered_level(config_name.c_str());

    // A globalization library that does not start has logged why; start-up goes on without it.
    GC_init(home.data());
    GM_PARAM_VALUE_typ i18n = "";
    if (!(GM_PARAM_get(config_name.c_str(), "I18N", i18n) == CM_RC_OK && std::strcmp(i18n, "LATIN-1") != 0))
        choose_locale(config_name.c_str());

    if (name == "AG") {
        read_cpu_specs();
        // Without a stored key the built-in default key stays in force.
        if (OS_BLOWF_LoadKey() != CM_RC_OK) DIAG_TRACE(4, "Failed to retrieve blowfish key.");
    }

    set_signals(name, worker);
    return register_by_name(name, worker);
}

void OS_PROC_exit(OS_STATUS_typ p_status) {
    const std::string name = OS_PROC_name();
    DIAG_TRACE(4, "OS_PROC_exit called for '%s' with p_status = %d", name.c_str(), p_status);
    GC_release();
    if (name == "WK")
        remove_pid_files(os_proc::process_type(OS_PROC_TYPE_WK)->pid_stem);
    else if (!name.empty() && OS_PROC_is_track_worker(name.c_str(), nullptr) == 1)
        remove_pid_files(name.c_str());
    DIAG_TRACE(4, ">>> PROCESS %s EXITING <<<", name.c_str());
    if (*os_proc::start_directory() && chdir(os_proc::start_directory()) != 0)
        DIAG_TRACE(4, "OS_PROC_exit: cannot change back to %s", os_proc::start_directory());
    // Other threads may still run: static destructors would pull their state from under them.
    std::fflush(nullptr);
    _exit(p_status);
}

CM_RC OS_PROC_register(int proc_type, const char* proc_name) {
    static const char* const fn = "OS_PROC_register";
    DIAG_TRACE(3, "%s entered", fn);
    errno = 0;
    std::string refusal;
    const CM_RC locked = os_proc::check_lock(proc_type, true, proc_name, &refusal);
    const int lock_errno = errno;
    if (locked != CM_RC_LOCK_FREE) {
        if (locked != CM_RC_LOCK_HELD) return locked;
        // A lock file that cannot be used says so; it is no sign of another process.
        if (!refusal.empty())
            DIAG_ERROR("%s: %s, exiting", fn, refusal.c_str());
        else
            report_lock_held(proc_type, proc_name, lock_errno);
        return CM_RC_FAIL;
    }
    const std::string stem = proc_name ? proc_name : os_proc::process_type(proc_type)->pid_stem;
    remove_pid_files(stem.c_str());
    if (OS_SPV_write_pid_to_dir(stem.c_str(), static_cast<long>(getpid()), 2) != CM_RC_OK) return CM_RC_FAIL;
    return CM_RC_OK;
}

CM_RC OS_PROC_ensure_desc_limit(void) {
    static const char* const fn = "OS_PROC_ensure_desc_limit";
    struct rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        DIAG_ERROR("%s : getrlimit failed :%s", fn, std::strerror(errno));
        return CM_RC_FAIL;
    }
    DIAG_TRACE(4, "%s : soft limit: %d, hard limit: %d", fn, static_cast<int>(limit.rlim_cur),
               static_cast<int>(limit.rlim_max));
    if (limit.rlim_cur >= OS_PROC_DESC_LIMIT) return CM_RC_OK;
    if (limit.rlim_max < OS_PROC_DESC_LIMIT) {
        DIAG_TRACE(3, "%s: hard limit has to be at least %d", fn, OS_PROC_DESC_LIMIT);
        limit.rlim_max = OS_PROC_DESC_LIMIT;
    }
    limit.rlim_cur = OS_PROC_DESC_LIMIT;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        DIAG_TRACE(1, "%s : setrlimit (%d,%d) failed :%s", fn, static_cast<int>(limit.rlim_cur),
                   static_cast<int>(limit.rlim_max), std::strerror(errno));
        return CM_RC_FAIL;
    }
    DIAG_TRACE(4, "%s : setrlimit (%d,%d) succeeded.", fn, static_cast<int>(limit.rlim_cur),
               static_cast<int>(limit.rlim_max));
    return CM_RC_OK;
}

void OS_PROC_set_locale(void) { choose_locale("CONFIG"); }

void OS_PROC_print_version(int toLog) {
    char info[OS_PROC_SYSTEM_INFO_ROOM] = "";
    OS_PROC_get_system_info(info);
    if (toLog)
        DIAG_TRACE(1, "Local host: %s", info);
    else
        std::printf("Local host: %s \n", info);
    void (*const layers[])(char*, int) = {AG_version, ZPA_version, DSECT_version, GLOBAL_version, OS_version};
    for (auto version : layers) {
        char text[OS_PROC_VERSION_ROOM] = "";
        version(text, sizeof text);
        if (toLog)
            DIAG_TRACE(1, "%s", text);
        else
            std::printf("%s \n", text);
    }
    if (!toLog) std::fflush(stdout);
}

}  // extern "C"
