/* Read/write locks of the security library: lock records over replaceable function tables (the
 * tsw_pf_rwl* variables, which the ess_pf_rwl* pointers refer to, so a function stored into one
 * acts at once for every lock), the POSIX back end, and the small allocator table beneath it. */
#ifndef BCM_LOCK_H
#define BCM_LOCK_H

#include <stddef.h>

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

typedef struct BCM_LockType {
    void* m_handle; /* the back end's lock object */
} BCM_LockType;

/* Back-end operations: create stores the new lock object through its argument; the tests return
 * 1 when the lock is busy and 0 when it was taken; all others 0 on success, -1 on failure. */
typedef int (*TSW_RwlCreateFunc)(void** lock);
typedef int (*TSW_RwlFunc)(void* lock);

extern TSW_RwlCreateFunc tsw_pf_rwlCreate;
extern TSW_RwlFunc tsw_pf_rwlDestroy;
extern TSW_RwlFunc tsw_pf_rwlReadLock;
extern TSW_RwlFunc tsw_pf_rwlWriteLock;
extern TSW_RwlFunc tsw_pf_rwlReadTest;
extern TSW_RwlFunc tsw_pf_rwlWriteTest;
extern TSW_RwlFunc tsw_pf_rwlReadUnlock;
extern TSW_RwlFunc tsw_pf_rwlWriteUnlock;
extern TSW_RwlFunc tsw_pf_rwlDowngrade;

extern TSW_RwlCreateFunc* ess_pf_rwlCreate;
extern TSW_RwlFunc* ess_pf_rwlDestroy;
extern TSW_RwlFunc* ess_pf_rwlReadLock;
extern TSW_RwlFunc* ess_pf_rwlWriteLock;
extern TSW_RwlFunc* ess_pf_rwlReadUnlock;
extern TSW_RwlFunc* ess_pf_rwlWriteUnlock;

int posix_rwlCreate(void** lock);
int posix_rwlDestroy(void* lock);
int posix_rwlReadLock(void* lock);
int posix_rwlWriteLock(void* lock);
int posix_rwlReadTest(void* lock);
int posix_rwlWriteTest(void* lock);
int posix_rwlReadUnlock(void* lock);
int posix_rwlWriteUnlock(void* lock);
int posix_rwlDowngrade(void* lock);

/* Lock records. The lock type, resource id and time-outs are not used (waits are unbounded). A
 * NULL lock prints its message and gives -1; otherwise 0, whatever the back end answered. */
BCM_LockType* BCM_NewLock(int lockType, void* resourceId);
int BCM_DeleteLock(BCM_LockType* lock);
int BCM_ReadLock(BCM_LockType* lock, int timeout);
int BCM_WriteLock(BCM_LockType* lock, int timeout);
int BCM_ReadUnLock(BCM_LockType* lock);
int BCM_WriteUnLock(BCM_LockType* lock);
int BCM_Lock(BCM_LockType* lock, int timeout);
int BCM_UnLock(BCM_LockType* lock);

/* Allocator: a context of a function table and an opaque heap handle passed to each member. */
typedef struct TSW_AllocVtbl {
    void* (*calloc)(void* heap, size_t count, size_t size);
    void (*free)(void* heap, void* block);
    void* (*malloc)(void* heap, size_t size);
    void* (*realloc)(void* heap, void* block, size_t size);
    int (*deleteContext)(void* heap);
} TSW_AllocVtbl;

typedef struct TSW_AllocCtx {
    const TSW_AllocVtbl* vtbl;
    void* heap;
} TSW_AllocCtx;

extern TSW_AllocCtx* TSW_standard_heap;

#define TSW_ALLOC_OK 0
#define TSW_ALLOC_NO_MEMORY 8
#define TSW_ALLOC_BAD_ARGUMENT 10

/* A new context with its own table of the standard members, in one block the caller frees with
 * free(). 10 for a NULL out-argument, 8 when memory runs out, 0 on success. */
int TSW_CreateAllocCtxStandard(TSW_AllocCtx** ctx);
int TSW_DeleteAllocCtxStandard(void);

CM_EXTERN_C_END

#endif
