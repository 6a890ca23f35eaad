/* The process's current Blowfish key: a process-wide cache that the key store fills once at
 * start-up, read by every Blowfish operation that asks for the current key, and falling back to
 * the built-in default key while nothing was loaded. */
#ifndef OS_BLOWF_H
#define OS_BLOWF_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

/* Copies max_len bytes (at most 32) of the current key into blowfish_key: the loaded key, else
 * the built-in default key. CM_RC_OK, or CM_RC_FAIL when the default key cannot be built or an
 * argument is missing. */
CM_RC OS_BLOWF_GetCurrentKey(unsigned char* blowfish_key, int max_len);

/* Puts a 32-byte key into the cache and marks it loaded; the key store's load step uses it. */
void os_blowf_set_current_key(const unsigned char* key);

CM_EXTERN_C_END

#endif
