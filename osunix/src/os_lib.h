/* Shared libraries attached at run time (load, resolve a function, unload) and the OS layer's
 * version text. Library errors come back as text in the caller's buffer of OS_LIB_ERROR_LEN bytes. */
#ifndef OS_LIB_H
#define OS_LIB_H

#include "cmpltfrm.h"

/* Room of the error-text buffers of the OS_LIB_ calls, terminator included. */
#define OS_LIB_ERROR_LEN 2048

/* A function of a loaded library; cast to its real type before calling. */
typedef void (*OS_LIB_funcptr_typ)(void);

CM_EXTERN_C_BEGIN

/* Loads a library with immediate binding, its symbols available to libraries loaded later. */
CM_RC OS_LIB_attach(void** handle, const char* path, char* error_text);
CM_RC OS_LIB_resolve_function(void* handle, const char* function_name, OS_LIB_funcptr_typ* function, char* error_text);
CM_RC OS_LIB_detach(void* handle, char* error_text);
/* Version text recorded for a named module: none in this system (null). */
char* OS_LIB_get_dll_version(const char* library_name);
/* Copies at most size - 1 characters of the OS layer's built-in version text. */
void OS_version(char* text, int size);

CM_EXTERN_C_END

#endif
