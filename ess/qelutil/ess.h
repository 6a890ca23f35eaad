/* Start and end of the security library, and its security log for callers. */
#ifndef ESS_H
#define ESS_H

#include "bcm_log.h"
#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

/* Starts the library (text layer, module cache); calls nest. 0, or -1 when the cache's lock
 * cannot be made. */
int ESS_Init(void);
/* Ends one start; the last end removes the cache's lock. -1 without a start (nothing changes). */
int ESS_End(void);
/* Opens a security log with every level on; NULL with a message in error (at most len bytes)
 * when it cannot be opened or the path is a symbolic link. */
ESS_Log* ESS_SetLogFile(char* file, char* error, int len);

CM_EXTERN_C_END

#endif
