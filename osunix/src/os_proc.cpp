/* Process state of the agent runtime library: the configuration table name, the exit-request flag
 * (written by signal handlers, so a sig_atomic_t) and the name of the user the process runs as. */
#include "os_proc.h"

#include <pwd.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <mutex>

#include "os_diag.h"
#include "os_file.h"

namespace {

constexpr char kDefaultConfigTable[] = "CONFIG";

char config_table[256] = {};
std::once_flag config_once;

volatile std::sig_atomic_t exit_request = 0;

char process_name[33] = {};

USERNAME_D_typ user_name = {};
std::once_flag user_once;

void find_user() {
    const uid_t uid = getuid();
    if (uid == 0) {
        std::strncpy(user_name, "root", sizeof user_name - 1);
        return;
    }
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        std::strncpy(user_name, found->pw_name, sizeof user_name - 1);
}

}  // namespace

extern "C" {

char* OS_PROC_config_file(void) {
    std::call_once(config_once, [] { std::strncpy(config_table, kDefaultConfigTable, sizeof config_table - 1); });
    DIAG_TRACE(4, "OS_PROC_config_file: %s", config_table);
    return config_table;
}

int OS_PROC_exit_request_get(void) { return exit_request ? 1 : 0; }

void OS_PROC_exit_request_set(int value) { exit_request = value ? 1 : 0; }

char* OS_PROC_name(void) { return process_name; }

char* OS_PROC_get_curr_user(void) {
    std::call_once(user_once, find_user);
    return user_name;
}

}  // extern "C"
