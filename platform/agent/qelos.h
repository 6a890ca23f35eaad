/* The agent's OS-services library (libQELOS.so), as far as the plug-in uses it: the name under
 * which the calling process registered. This library answers the name that APPBRIDGE_PROC_NAME
 * holds, or the program's own short name when that variable is not set. */
#ifndef QELOS_H
#define QELOS_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

/* The process name; the text stays valid until the calling thread's next call. */
char* OS_PROC_name(void);

CM_EXTERN_C_END

#endif
