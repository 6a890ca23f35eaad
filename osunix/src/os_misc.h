/* Reading job shell scripts line by line: the interpreter line and its shell, tokens found and
 * replaced outside embedded awk programs (zones), the start of a ksh function; and a few system
 * utilities: a user's home directory, system-error texts, a pointer probe, clearing the terminal. */
#ifndef OS_MISC_H
#define OS_MISC_H

#include "cmpltfrm.h"
#include "zpalist.h"

/* Location codes: 0 or more is a character position in the line. */
enum {
    OS_MISC_NEXT_LINE = -3, /* the construct continues on the next line */
    OS_MISC_NOT_FOUND = -5,
    OS_MISC_INSIDE = -6 /* inside a zone, or a function start found */
};

/* Shell types of OS_MISC_determine_shell. */
enum {
    OS_MISC_SH = 0,
    OS_MISC_KSH = 1,
    OS_MISC_BASH = 2,
    OS_MISC_CSH = 3,
    OS_MISC_TCSH = 4,
    OS_MISC_NOT_INTERPRETER = 5,
    OS_MISC_RXX = 6,
    OS_MISC_POSIX_SH = 7,
    OS_MISC_NCRX = 8,
    OS_MISC_POSIX_KSH = 9,
    OS_MISC_RKSH = 10
};

/* Zone pairs of OS_MISC_recogniz_tokens and OS_MISC_get_zone_str. */
enum { OS_MISC_ZONE_OPENING = 1, OS_MISC_ZONE_CLOSING = 2 };

/* The zone column that stands for the end of the line as an end, and for no zone as a start. */
#define OS_MISC_ZONE_EDGE 9999
/* Room of each zone text (at most 31 characters). */
#define OS_MISC_ZONE_STR_ROOM 32
/* Room of the shell-token output of OS_MISC_determine_shell (longer tokens are cut). */
#define OS_MISC_SHELL_TOKEN_ROOM 256
/* A replaced line is written back only when it is shorter than this; the line's buffer must hold
 * this many bytes. */
#define OS_MISC_LINE_ROOM 1024
/* Room of the output of OS_MISC_sys_err_str. */
#define OS_MISC_SYS_ERR_STR_ROOM 256

CM_EXTERN_C_BEGIN

/* Shell type of an interpreter line: 0 for a line beginning with ":", 5 for a line without "#!",
 * else the type whose path's last part begins the line's last part (0 when none does); the
 * interpreter path goes into shell_token (may be null). */
int OS_MISC_determine_shell(const char* liner, char* shell_token);
/* Interpreter path of a shell type, null for a type without one. */
const char* OS_MISC_get_shell_path(int shell_type);
/* 1 when the interpreter line asks for -x tracing of ksh (or sh), else 2. */
int OS_MISC_shell_x_option(const char* liner);

/* 1 when the token occurs in the line (and, with first_token, only white space precedes it),
 * else 2. find_token tries once more on the line with its letters' case swapped. */
CM_RC OS_MISC_find_token(const char* line, const char* token, int switch_case_also, int first_token);
CM_RC OS_MISC_look_for_token(const char* line, const char* token, int first_token);
CM_RC OS_MISC_does_the_first_token(const char* line, int position);

/* Replaces every occurrence of the token outside the current zone (an occurrence of "$0" behind a
 * backslash stays). The line buffer must hold OS_MISC_LINE_ROOM bytes; a result that would not
 * be shorter than that leaves the line unchanged and gives 2. */
CM_RC OS_MISC_replace_token(char* line, const char* token, const char* repl);
/* Start of the last occurrence whose last character lies at or before till_location, or -5. */
int OS_MISC_find_last_str(const char* line, const char* token, int till_location);
/* Start of the first occurrence at or after from_location, or -5. */
int OS_MISC_find_str_loc(const char* line, const char* token, int from_location);

/* The zone scan: hand every line of a script to OS_MISC_zone_handle_line in order, starting with
 * line number 1, before looking at its tokens. */
void OS_MISC_zone_handle_line(const char* line, int line_num);
/* Zone state: -5 outside a zone, -6 inside one, -3 waiting on this line for a pair's second text. */
void OS_MISC_set_zone(int zone_state);
int OS_MISC_get_zone(void);
void OS_MISC_mark_zone_range(int start, int end);
/* Starts a line: a zone open from the line before covers it from column 0 to the end. */
void OS_MISC_new_line(void);
int OS_MISC_decide_if_inside_zone(int loc);
/* Position of the pair's second text at or after from_loc, -3 when the pair continues on the next
 * line, -5 when it is not found (or the pair is not set). act: 1 opening pair, 2 closing pair. */
int OS_MISC_recogniz_tokens(const char* line, int act, int from_loc);
/* Each pair: first text, second text, optional text between them; each cut to 31 characters. */
void OS_MISC_set_zone_str(const char* open_first, const char* open_second, const char* open_optional,
                          const char* close_first, const char* close_second, const char* close_optional);
/* Copies a pair's texts into OS_MISC_ZONE_STR_ROOM-byte outputs; 2 when the pair is not set. */
CM_RC OS_MISC_get_zone_str(int act, char* first, char* second, char* optional);

/* -6 when the line starts a function (start receives the brace's position), -3 when the brace
 * is still to come on the next line, -5 otherwise. status: -5 outside a function, -3 when the
 * line before gave -3. */
int OS_MISC_in_ksh_func(const char* line, int status, int* start);
/* 1 at an end of line: a line feed, the end of the text, or a backslash before either; else 2. */
int OS_MISC_is_newline(const char* c);
/* 1 when the line holds only white space and ends of line, else 2. */
int OS_MISC_empty_line(const char* str);
/* Swaps the case of the ASCII letters in place. */
void OS_MISC_switch_case(char* text);

/* Home directory of a user (trimmed name) into home_dir (a PATHNAME_D_typ). */
CM_RC OS_MISC_get_home_dir(const char* user_name, char* home_dir);
/* Logs "<func>: <msg> - errno = <n>, msg = <text>" at the caller's active level. */
void OS_MISC_sys_err(const char* func, const char* msg);
/* "(<system text for errno>)", "(errno = <n>)" without a text, "" for errno 0; into a buffer of
 * OS_MISC_SYS_ERR_STR_ROOM bytes. Returns msgstr. */
char* OS_MISC_sys_err_str(char* msgstr);
/* 1 when 10 bytes from the pointer can be read, 2 when not. */
CM_RC OS_MISC_is_pointer_valid(const void* ptr);
void OS_MISC_clear_screen(void);
/* The process's list of disappeared jobs (nothing in this library fills it). */
ZPALIST_handle_typ* OS_MISC_get_disapp_list(void);

CM_EXTERN_C_END

#endif
