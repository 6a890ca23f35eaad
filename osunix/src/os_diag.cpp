/* The diagnostic log. This first form keeps the levels and writes each line to the process's log
 * file; the ring, the critical-error report and rotation come with the full log module. */
#include "os_diag.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {

std::mutex diag_mutex;
int diag_debug_level[32];
int diag_active_level = 0;
int diag_buffered_level = 5;
std::string os_diag_file_name;
std::string os_diag_proc_name;

int checked_level(int level, const char* which) {
    if (level >= 0 && level <= 6) return level;
    OS_MSGERR_display("Warning: %sdebug level %d is not in the range of 0-6.", which, level);
    OS_MSGERR_display("It will be set to 0 by default.");
    return 0;
}

void diag_print_line(const char* text) {
    std::lock_guard<std::mutex> lock(diag_mutex);
    const int debug = diag_debug_level[0];
    if (debug == 0 || debug < diag_active_level || os_diag_file_name.empty()) return;
    FILE* f = std::fopen(os_diag_file_name.c_str(), "a");
    if (!f) return;
    std::fprintf(f, "%s:%s\n", os_diag_proc_name.c_str(), text);
    std::fclose(f);
}

}  // namespace

extern "C" {

void DIAG_printf(const char* format, ...) {
    char text[32768];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
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

int DIAG_debug_level2(int slot) { return slot >= 0 && slot < 32 ? diag_debug_level[slot] : 0; }
void DIAG_set_debug_level2(int level, int slot) {
    if (slot == 0) {
        for (int& l : diag_debug_level) l = level;
    } else if (slot > 0 && slot < 32) {
        diag_debug_level[slot] = level;
    }
}

void DIAG_fnc_enter(const char*) {}
void DIAG_fnc_exit(void) {}

void OS_DIAG_initialize(const char*, const char* process_name) {
    std::lock_guard<std::mutex> lock(diag_mutex);
    os_diag_proc_name = std::string(process_name ? process_name : "").substr(0, 99);
    os_diag_file_name = "./proclog/" + os_diag_proc_name + "_" + std::to_string(getpid()) + ".log";
}

CM_RC OS_DIAG_delete_proclogs(int, int) { return CM_RC_FAIL; }
CM_RC OS_DIAG_truncate_logs(void) { return CM_RC_FAIL; }
const char* OS_DIAG_dump_msg(void) { return ""; }
CM_RC OS_DIAG_set_ssl_debug(int) { return CM_RC_FAIL; }

void replaceChar(char* text, char from, char to) {
    for (; text && *text; ++text)
        if (*text == from) *text = to;
}

void OS_MSGERR_display(const char* format, ...) {
    char text[5120];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "%.*s\n", 5119, text);
}

}  // extern "C"
