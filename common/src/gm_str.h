/* Small text functions of the agent library (GM_STR_): trailing blanks, comparisons, case, number
 * checks, field and word splitting, trimming. They work in place on the caller's NUL-terminated
 * buffers; GM_STR_substr and GM_STR_get_word return a buffer of their own, one per thread. */
#ifndef GM_STR_H
#define GM_STR_H

#include <stdio.h>

#include "cmpltfrm.h"

typedef unsigned char flag;

/* Room of the buffers that GM_STR_substr and GM_STR_get_word return. */
#define GM_STR_SUBSTR_ROOM 300
#define GM_STR_SUBSTR_MAX 290
#define GM_STR_WORD_ROOM 1000
/* GM_STR_math writes at most this many characters (and the terminator) back into its text. */
#define GM_STR_MATH_MAX 99

CM_EXTERN_C_BEGIN

char* GM_STR_unpad(char* text);
int GM_STRlen(const char* text);
int GM_STRcmp(const char* text1, const char* text2);
flag GM_STR_all_blanks(const char* text);
flag GM_STR_contain_blank(const char* text);
char* GM_STR_toupper(char* text);
char* GM_STR_tolower(char* text);

CM_RC GM_STR_isnumber(const char* text);
CM_RC GM_STR_isunsignednumber(const char* text);

char* GM_STR_substr(const char* source, unsigned int start, unsigned int end);
CM_RC GM_STR_fgets_line(FILE* stream, char* buffer, int size);
char* GM_STR_get_word(const char* text, int count, const char* separators);
CM_RC GM_STR_get_nth_field(const char* line, int field, char delimiter, char* result, int result_len);
void GM_STR_get_extention(const char* file_name, char* extension, unsigned int size);

/* The target must have room for twice the source's length plus one. */
char* GM_STR_bckslsh_blnk(const char* source, char* target);
/* Appends to target; it must have room for its own text, the source and two more characters per
 * backslash-separated field of the source. */
char* GM_STR_bckslsh_2double(const char* source, char* target);

/* "<number> <operator> <number>" in text is replaced by the result; text must have room for
 * GM_STR_MATH_MAX + 1 bytes. Returns 0.0. */
double GM_STR_math(char* text);

CM_RC GM_STR_trim_leading_spaces(char* text);
CM_RC GM_STR_trim_leading_until_char(char* to_trim, const char* stop);
CM_RC GM_STR_trim_trailing_until_char(char* to_trim, const char* stop);

CM_EXTERN_C_END

#endif
