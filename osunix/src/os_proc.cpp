/* Process state of the agent runtime library as start-up records it and every module reads it: the
 * process name, ids, user, arguments and start directory, the configuration table name, the
 * exit-request flag with its shutdown handler, and the main multi-tracker flag. Before start-up
 * (the plug-in inside the agent never runs it) the accessors still answer. */
#include "os_proc.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "os_diag.h"
#include "os_file.h"
#include "os_fork_internal.h"
#include "os_proc_internal.h"
#include "os_spv.h"

extern char** environ;

namespace {

constexpr char kDefaultConfigTable[] = "CONFIG";
std::mutex config_mutex;
char config_table[OS_PROC_CONFIG_NAME_ROOM] = {};

// Written by the shutdown handler, on whichever thread the signal lands, and read by the others: the
// flag and the signal still to be reported. Both are lock-free atomics, which a handler may touch.
std::atomic<int> exit_request{0};
std::atomic<int> pending_shutdown_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// The user: looked up on first use before start-up, recorded again by start-up.
std::mutex user_mutex;
USERNAME_D_typ user_name = {};
bool user_known = false;

// The process and parent process ids as decimal text, made for the process that asks (a forked
// child gets its own), and recorded afresh by start-up.
std::mutex ids_mutex;
[[maybe_unused]] const bool ids_fork_safe = os_fork::renew_in_child(ids_mutex);
pid_t ids_for = 0;
char pid_text[OS_SPV_PROCID_ROOM] = {};
char ppid_text[OS_SPV_PROCID_ROOM] = {};

// Written once by start-up, read for the rest of the process.
char proc_name[OS_PROC_NAME_ROOM] = {};
int proc_argc = 0;
char** proc_argv = nullptr;
char start_dir[OS_PROC_START_DIR_ROOM] = {};
int main_mtrack = 0;

void refresh_ids_locked(bool force) {
    const pid_t now = getpid();
    if (!force && ids_for == now) return;
    std::snprintf(pid_text, sizeof pid_text, "%ld", static_cast<long>(now));
    std::snprintf(ppid_text, sizeof ppid_text, "%ld", static_cast<long>(getppid()));
    ids_for = now;
}

char* id_text(bool parent) {
    std::lock_guard<std::mutex> lock(ids_mutex);
    refresh_ids_locked(false);
    return parent ? ppid_text : pid_text;
}

// The passwd name of the real user cut to 30 characters, "root" for user id 0; false when the
// user has no entry.
bool look_up_user(USERNAME_D_typ out) {
    const uid_t uid = getuid();
    if (uid == 0) {
        std::snprintf(out, sizeof(USERNAME_D_typ), "%s", "root");
        return true;
    }
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) != 0 || !found || !found->pw_name) return false;
    std::snprintf(out, sizeof(USERNAME_D_typ), "%s", found->pw_name);
    return true;
}

void store_config_table_locked(const char* name) { std::snprintf(config_table, sizeof config_table, "%s", name); }

}  // namespace

namespace os_proc {

std::string name_with_pid(const char* p_proc, long pid) {
    std::string name = p_proc ? p_proc : "";
    const size_t at = name.find("%s");
    if (at != std::string::npos) name.replace(at, 2, std::to_string(pid));
    if (name.size() > OS_PROC_NAME_ROOM - 1) name.resize(OS_PROC_NAME_ROOM - 1);
    return name;
}

void record_start(const char* p_proc, int argc, char** argv) {
    {
        std::lock_guard<std::mutex> lock(ids_mutex);
        refresh_ids_locked(true);
    }
    std::snprintf(proc_name, sizeof proc_name, "%s", name_with_pid(p_proc, getpid()).c_str());
    proc_argc = argc;
    proc_argv = argv;
}

bool record_user() {
    std::lock_guard<std::mutex> lock(user_mutex);
    USERNAME_D_typ found = {};
    if (!look_up_user(found)) return false;
    std::memcpy(user_name, found, sizeof user_name);
    user_known = true;
    return true;
}

void record_start_dir() {
    if (!getcwd(start_dir, sizeof start_dir)) start_dir[0] = '\0';
}

const char* start_directory() { return start_dir; }

void clear_main_mtrack() { main_mtrack = 0; }

}  // namespace os_proc

extern "C" {

char* OS_PROC_config_file(void) {
    std::lock_guard<std::mutex> lock(config_mutex);
    if (!config_table[0]) store_config_table_locked(kDefaultConfigTable);
    DIAG_TRACE(4, "OS_PROC_config_file: %s", config_table);
    return config_table;
}

char* OS_PROC_set_config_file(const char* filename) {
    std::lock_guard<std::mutex> lock(config_mutex);
    store_config_table_locked(filename ? filename : "");
    DIAG_TRACE(4, "OS_PROC_config_file: %s", config_table);
    return config_table;
}

int OS_PROC_exit_request_get(void) {
    // The handler only records the signal; its line is written here, outside the handler, where
    // taking the log's lock is safe.
    if (const int signal_number = pending_shutdown_signal.exchange(0))
        DIAG_TRACE(1, "Shutdown requested. signal - [%d]", signal_number);
    return exit_request.load() ? 1 : 0;
}

void OS_PROC_exit_request_set(int value) { exit_request.store(value ? 1 : 0); }

void OS_proc_shutdown_signal(int signal_number) {
    const int saved_errno = errno;
    pending_shutdown_signal.store(signal_number);
    exit_request.store(1);
    signal(signal_number, OS_proc_shutdown_signal);
    errno = saved_errno;
}

char* OS_PROC_get_curr_user(void) {
    std::lock_guard<std::mutex> lock(user_mutex);
    if (!user_known) user_known = look_up_user(user_name);
    return user_name;
}

char* OS_PROC_name(void) { return proc_name; }

char* OS_PROC_get_curr_proc_name(void) { return proc_name; }

char* OS_PROC_get_curr_proc_id(void) { return id_text(false); }

char* OS_PROC_get_curr_decimal_proc_id(void) { return id_text(false); }

char* OS_PROC_procid(void) { return id_text(false); }

char* OS_PROC_get_uniq_procid(char* pid) {
    if (!pid) return nullptr;
    std::snprintf(pid, OS_SPV_PROCID_ROOM, "%s", id_text(false));
    return pid;
}

char* OS_PROC_parent_procid(void) { return id_text(true); }

char** OS_PROC_get_env_block(void) { return environ; }

int OS_PROC_argc(void) { return proc_argc - 1; }

CM_RC OS_PROC_get_arg(int index, char* destination) {
    if (!destination) return CM_RC_FAIL;
    if (index < -1 || index + 1 >= proc_argc || !proc_argv || !proc_argv[index + 1]) {
        destination[0] = '\0';
        return CM_RC_FAIL;
    }
    std::snprintf(destination, sizeof(PARAM_D_typ), "%s", proc_argv[index + 1]);
    return CM_RC_OK;
}

char* OS_PROC_standard_output(void) {
    static char tty[] = "/tty";
    return tty;
}

CM_RC OS_PROC_epilogue(void) { return CM_RC_OK; }

void OS_PROC_set_Thread_Name(const char*) {}

void OS_PROC_set_Log_Id(void) {}

void OS_PROC_reset_Log_Id(void) {}

void OS_PROC_set_debug_level(void) {}

char* OS_PROC_get_system_info(char* destination) {
    if (!destination) return nullptr;
    struct utsname host {};
    if (uname(&host) != 0) {
        destination[0] = '\0';
        return destination;
    }
    std::snprintf(destination, OS_PROC_SYSTEM_INFO_ROOM, "%s - %s %s %s %s", host.nodename, host.sysname, host.release,
                  host.version, host.machine);
    return destination;
}

int OS_PROC_is_track_worker(const char* procname, int* WorkerNumber) {
    static const char* const fn = "OS_PROC_is_track_worker";
    if (!procname) {
        DIAG_ERROR("%s: procname is NULL", fn);
        return 0;
    }
    DIAG_TRACE(4, "%s: checking '%s'", fn, procname);
    if (std::strlen(procname) <= 3 || std::strncmp(procname, "ATW", 3) != 0 || procname[3] < '0' || procname[3] > '9')
        return 0;
    DIAG_TRACE(5, "This process is a tracker worker");
    if (WorkerNumber) {
        // The digits from the fourth character on, as atoi reads them, without overflowing.
        const long number = std::strtol(procname + 3, nullptr, 10);
        *WorkerNumber = number > INT_MAX ? INT_MAX : static_cast<int>(number);
    }
    return 1;
}

int OS_PROC_is_main_mtrack(void) {
    DIAG_TRACE(4, "OS_PROC_is_main_mtrack: %d", main_mtrack);
    return main_mtrack;
}

void OS_PROC_set_main_mtrack(int value) {
    main_mtrack = value;
    DIAG_TRACE(4, "OS_PROC_set_main_mtrack: %d", main_mtrack);
}

}  // extern "C"
