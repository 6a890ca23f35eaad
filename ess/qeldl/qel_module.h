/* Provider modules of the security library: shared libraries outside the system, loaded only
 * after the DSA signature appended to the file verifies, their entry symbols checked, and kept in
 * a process-wide cache of 64 reference-counted entries. */
#ifndef QEL_MODULE_H
#define QEL_MODULE_H

#include "cmpltfrm.h"
#include "qel_dll.h"

CM_EXTERN_C_BEGIN

/* Entry symbols of a provider module. */
#define QEL_SYM_VERSION_COMPATIBILITY "QEL_DllVersionCompatibilityFunc"
#define QEL_SYM_GET_CAPS "QEL_DllGetCaps"
#define QEL_SYM_API_HANDLE "QEL_DllAPIHandle"
#define QEL_SYM_PUT_ENVIRONMENT "EssGlobalcPutEnvironment"
#define QEL_SYM_CRYPTO_CLEANUP "CRYPTO_cleanup_all_ex_data"

/* Bits of the load mask: the steps of loading after the library is opened. */
#define QEL_LOAD_VERSION_CHECK 0x01u /* look up and call the compatibility function */
#define QEL_LOAD_CAPS 0x02u          /* look up the capabilities function */
#define QEL_LOAD_API_HANDLE 0x04u    /* look up and call the API-handle function */
#define QEL_LOAD_ENVIRONMENT 0x08u   /* share the text layer's state with the module */
#define QEL_LOAD_DEFAULT_MASK 0x0Fu

#define QEL_MODULE_CACHE_SIZE 64
#define QEL_LOAD_ERROR_ROOM 1024
#define QEL_LOADED_BY_ROOM 16
#define QEL_LOADED_BY_USER "loaded by user"

typedef int (*QEL_VersionCompatibilityFunc)(char* version);
typedef void* (*QEL_GetCapsFunc)(void);
typedef void* (*QEL_APIHandleFunc)(void);

typedef struct QEL_ModuleHandle {
    char loadedBy[QEL_LOADED_BY_ROOM];
    QEL_DllHandle* shobj;
    void* APIHandle; /* the provider's table of entry points */
    QEL_VersionCompatibilityFunc pvcf;
    QEL_GetCapsFunc pcapf;
} QEL_ModuleHandle;

typedef struct DllTableEntry {
    char* dll_path;
    QEL_ModuleHandle* qel_module_handle_ptr;
    int reference_count;
} DllTableEntry;

int QEL_Module_Init(void);
int QEL_Module_End(void);

/* Loads a module (or takes it from the cache). *rc 0 and the module, or *rc -1 and NULL with the
 * message in QEL_LoadError(). flags go to the dynamic loader (0: RTLD_NOW), version to the module's
 * compatibility function. */
QEL_ModuleHandle* QEL_LoadModule(const char* path, int* rc, int flags, char* version);
/* Releases one reference; the library is closed with the last. 0, the close result, or -1. */
int QEL_UnloadModule(QEL_ModuleHandle* module);
/* 0 when the file carries a valid signature, else -1 (flags are not used). */
int QEL_VerifyModuleSignature(const char* path, int flags);
char* QEL_ModuleError(void);
char* QEL_LoadError(void);
void QEL_LoadModuleMask(unsigned int mask);

CM_EXTERN_C_END

#endif
