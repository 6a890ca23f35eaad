/* Fixed-width number fields of work-file names and message records: base 36 (normal and reversed
 * alphabets), base 26 and signed base 10. Fields are written right-aligned, filled on the left and
 * never terminated: the caller owns the terminator. */
#ifndef GM_36_H
#define GM_36_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

/* Encoders: the lowest `width` digits of |n|, filled on the left ("0"; "A" for the reversed base-36
 * alphabet, "a" for base 26). 1; 2 only for a null buffer. */
CM_RC GM_36_int_to_base_36(int n, char* buffer, int width, int reverse);
CM_RC GM_36_long_to_base_36(long n, char* buffer, int width, int reverse);
CM_RC GM_36_int_to_base_26(unsigned long n, char* buffer, int width);
/* A negative n puts "-" in the leftmost fill position (none when the digits take the whole width). */
CM_RC GM_36_int_to_base_10(long n, char* buffer, int width);

/* Decoders: `width` characters from the left (stopping at the text's end), blanks skipped.
 * 1; 2 only for a null text or result. */
CM_RC GM_36_base_36_to_int(const char* text, int width, int* n, int reverse);
CM_RC GM_36_base_26_to_int(const char* text, int width, unsigned* n);

/* One digit each way. Out-of-range values and illegal characters write an error line to the
 * diagnostic log and stand for the highest digit / the character "0". */
char GM_36_digit_to_base_36(unsigned d, int reverse);
int GM_36_base_36_to_digit(char c, int reverse);
char GM_36_digit_to_base_26(unsigned long d);
int GM_36_base_26_to_digit(char c);
char GM_36_digit_to_base_10(long d);

CM_EXTERN_C_END

#endif
