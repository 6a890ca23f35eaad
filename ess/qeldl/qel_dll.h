/* Dynamic-loader wrappers of the security library: load, unload and symbol lookup with a reason
 * text (256 bytes, cleared first, the loader's error on failure). */
#ifndef QEL_DLL_H
#define QEL_DLL_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

typedef void* QEL_DLL_SHL;

typedef struct qel_dll_handle_tag {
    QEL_DLL_SHL m_handle;
} QEL_DllHandle;

#define QEL_DLL_REASON_ROOM 256

QEL_DLL_SHL DLL_LOAD(const char* path, int flags, char* reason);
int DLL_UNLOAD(QEL_DLL_SHL shl, char* reason);
void* DLL_SYM(QEL_DLL_SHL shl, const char* symbol, char* reason);

/* A new handle record, or NULL when the load fails. */
QEL_DllHandle* QEL_DllLoad(const char* path, char* reason, int flags);
/* Closes the library and frees the record; the close result. */
int QEL_DllUnload(QEL_DllHandle* handle, char* reason);
void* QEL_DllSym(QEL_DllHandle* handle, const char* symbol, char* reason);

CM_EXTERN_C_END

#endif
