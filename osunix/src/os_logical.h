/* Logical names: the process's environment variables, read and set by name. */
#ifndef OS_LOGICAL_H
#define OS_LOGICAL_H

#include "cmpltfrm.h"

/* Room of a logical name's value, terminator included. */
typedef char LOGICALNAME_D_typ[256];

CM_EXTERN_C_BEGIN

/* Copies the variable's value into value (a LOGICALNAME_D_typ; longer values are cut to 255
 * characters). CM_RC_FAIL when the name is null or empty or the variable is not set. The table
 * is not used; callers pass "". */
CM_RC OS_LOGICAL_get(const char* name, const char* table, char* value);
/* Sets the variable and writes "%s=%s" into text (a buffer of OS_LOGICAL_TEXT_LEN bytes).
 * CM_RC_FAIL when the name or the value is null or empty or the environment refuses it. */
CM_RC OS_LOGICAL_set(const char* name, const char* value, char* text);

CM_EXTERN_C_END

/* Room of OS_LOGICAL_set's text buffer. */
#define OS_LOGICAL_TEXT_LEN 4097

#endif
