/* String helpers of the security library (NULL-safe copies, trimming, splitting, case-insensitive
 * compares, pattern replacement), its bounded formatting and its wildcard matcher. */
#ifndef ESS_STR_UTILS_H
#define ESS_STR_UTILS_H

#include <stdarg.h>
#include <stddef.h>

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

/* Copies at most len-1 bytes and terminates; NULL for a NULL argument, nothing written for len < 1. */
char* ess_strncpy(char* target, const char* source, int len);
char* ess_strdup(const char* str);
int ess_strlen(const char* str);
int ess_strIsDigit(const char* str);
char* ess_strUnpad(char* str);
char* ess_strLeftRight_Unpad(char* str);
char* ess_strToupper(char* str);
char* ess_strSplit2Name_Value(const char* text, char** value);
int ess_stricmp(const char* a, const char* b);
int ess_strincmp(const char* a, const char* b, int n);
int ess_strSplitItems(const char* text, int* count, char*** items, char separator);
void ess_strFreeArgv(int count, char** items);
int ess_strWhichAttribute(const char* name, const char* const* table, int size);
int ess_bufdup(const void* buf, int len, void** out);
char* ess_strRemoveChar(char* str, char ch);
char* ess_strReplaceChar(char* str, char oldCh, char newCh);
int ess_strReplacePattern(const char* input, const char* oldPattern, const char* newPattern, char* output,
                          int outputSize);
int ess_snprintf(char* buf, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
int ess_vsnprintf(char* buf, size_t size, const char* format, va_list args) __attribute__((format(printf, 3, 0)));

/* 0 when text matches pattern ('*' any run, '?' and '$' one character), else -1. */
int ESS_WILD_match(const char* text, const char* pattern);

CM_EXTERN_C_END

#endif
