/* The process's leveled diagnostic log (./proclog/<process>_<pid>.log) with its in-memory ring,
 * and the one-line standard-error channel OS_MSGERR_display. */
#ifndef OS_DIAG_H
#define OS_DIAG_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

void DIAG_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void DIAG_print_text(const char* text);

int DIAG_debug_level(void);
void DIAG_set_debug_level(int level);
int DIAG_active_level(void);
void DIAG_set_active_level(int level);
int DIAG_buffered_level(void);
void DIAG_set_buffered_level(int level);
int DIAG_debug_level2(int slot);
void DIAG_set_debug_level2(int level, int slot);

void DIAG_fnc_enter(const char* function_name);
void DIAG_fnc_exit(void);

void OS_DIAG_initialize(const char* file_name, const char* process_name);
CM_RC OS_DIAG_delete_proclogs(int keep_days, int process_type);
CM_RC OS_DIAG_truncate_logs(void);
const char* OS_DIAG_dump_msg(void);
CM_RC OS_DIAG_set_ssl_debug(int agent_debug_level);

void replaceChar(char* text, char from, char to);
void OS_MSGERR_display(const char* format, ...) __attribute__((format(printf, 1, 2)));

CM_EXTERN_C_END

/* The agent library's line idiom: a line of level N (1..6) is formatted only when the buffered or
 * the debug level reaches N, and is written with the active level set to N. */
#define DIAG_TRACE(level, ...)                                                   \
    do {                                                                         \
        if (DIAG_buffered_level() >= (level) || DIAG_debug_level() >= (level)) { \
            DIAG_set_active_level(level);                                        \
            DIAG_printf(__VA_ARGS__);                                            \
            DIAG_set_active_level(0);                                            \
        }                                                                        \
    } while (0)

/* An error line: written at active level 0. */
#define DIAG_ERROR(...) DIAG_printf(__VA_ARGS__)

#endif
