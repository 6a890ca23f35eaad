/* System utilities beside the script scanner: a user's home directory, the system-error log line
 * and text, the pointer probe, clearing the terminal, and the process's list of disappeared jobs. */
#include "os_misc.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "os_diag.h"
#include "os_file.h"
#include "os_file_internal.h"
#include "os_spv_internal.h"

namespace {

constexpr int kProbeBytes = 10;

ZPALIST_handle_typ disapp_list = {};

}  // namespace

extern "C" {

CM_RC OS_MISC_get_home_dir(const char* user_name, char* home_dir) {
    if (!user_name || !home_dir) return CM_RC_FAIL;
    const std::string user = os_spv::trimmed(user_name);
    std::string home;
    if (!os_file::home_of(user, home)) {
        DIAG_TRACE(4, "failed to get password entry for user '%s'\n", user.c_str());
        return CM_RC_FAIL;
    }
    std::snprintf(home_dir, sizeof(PATHNAME_D_typ), "%s", home.c_str());
    return CM_RC_OK;
}

void OS_MISC_sys_err(const char* func, const char* msg) {
    const int err = errno;
    const char* text = strerrordesc_np(err);
    char line[1024];
    if (text)
        std::snprintf(line, sizeof line, "%s: %s - errno = %d, msg = %s", func ? func : "", msg ? msg : "", err, text);
    else
        std::snprintf(line, sizeof line, "%s: %s - errno = %d", func ? func : "", msg ? msg : "", err);
    DIAG_print_text(line);
    errno = err;
}

char* OS_MISC_sys_err_str(char* msgstr) {
    if (!msgstr) return msgstr;
    const int err = errno;
    const char* text = err ? strerrordesc_np(err) : nullptr;
    if (err == 0)
        msgstr[0] = '\0';
    else if (text)
        std::snprintf(msgstr, OS_MISC_SYS_ERR_STR_ROOM, "(%s)", text);
    else
        std::snprintf(msgstr, OS_MISC_SYS_ERR_STR_ROOM, "(errno = %d)", err);
    return msgstr;
}

CM_RC OS_MISC_is_pointer_valid(const void* ptr) {
    if (!ptr) return CM_RC_FAIL;
    // The bytes are copied into a pipe, which reads them (the null device would not look at
    // them). The write goes straight to the kernel so that no checker reads them first.
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return CM_RC_OK;
    const long written = syscall(SYS_write, ends[1], ptr, kProbeBytes);
    const int err = errno;
    close(ends[0]);
    close(ends[1]);
    return written < 0 && err == EFAULT ? CM_RC_FAIL : CM_RC_OK;
}

void OS_MISC_clear_screen(void) {
    std::printf("%c[2J%c[0;0H", 27, 27);
    std::fflush(stdout);
}

ZPALIST_handle_typ* OS_MISC_get_disapp_list(void) { return &disapp_list; }

}  // extern "C"
