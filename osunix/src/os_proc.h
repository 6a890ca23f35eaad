/* The process's own state as start-up records it: the configuration table name, the exit-request
 * flag and the user the process runs as. Start-up fills the rest of this module; before it has run
 * the accessors still answer ("CONFIG", no exit request, the real user's passwd name). */
#ifndef OS_PROC_H
#define OS_PROC_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

/* The name of the process's configuration table: "CONFIG" unless another was stored. */
char* OS_PROC_config_file(void);
/* The exit-request flag: 0 until a shutdown request raises it to 1. */
int OS_PROC_exit_request_get(void);
void OS_PROC_exit_request_set(int value);
/* The passwd name of the real user ("root" for user id 0), at most 30 characters. */
char* OS_PROC_get_curr_user(void);

CM_EXTERN_C_END

#endif
