/* Lock records of the security library over the replaceable back-end table, the POSIX read/write
 * lock back end, and the standard allocator it allocates through. */
#include "bcm_lock.h"

#include <pthread.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "ess_catalog_internal.h"
#include "globalchelper.h"

namespace {

constexpr const char* kModule = "bcm_lock";

void* std_calloc(void*, size_t count, size_t size) { return std::calloc(count, size); }
void std_free(void*, void* block) { std::free(block); }
void* std_malloc(void*, size_t size) { return std::malloc(size); }
void* std_realloc(void*, void* block, size_t size) { return std::realloc(block, size); }
int std_delete_context(void*) { return 0; }

int null_lock(const char* text, int line) {
    EssGlobalcUtf8Printf(ess_catalog::kNullLockId, text, kModule, line);
    return -1;
}

const TSW_AllocVtbl standard_heap_vtbl__ = {std_calloc, std_free, std_malloc, std_realloc, std_delete_context};
TSW_AllocCtx standard_heap_ctx__ = {&standard_heap_vtbl__, nullptr};

pthread_rwlock_t* rwl(void* lock) { return static_cast<pthread_rwlock_t*>(lock); }

int posix_result(int rc) { return rc == 0 ? 0 : -1; }

int posix_test(int rc) { return rc == 0 ? 0 : rc == EBUSY ? 1 : -1; }

}  // namespace

extern "C" {

TSW_AllocCtx* TSW_standard_heap = &standard_heap_ctx__;

int TSW_CreateAllocCtxStandard(TSW_AllocCtx** ctx) {
    if (!ctx) return TSW_ALLOC_BAD_ARGUMENT;
    struct Block {
        TSW_AllocCtx ctx;
        TSW_AllocVtbl vtbl;
    };
    auto* block = static_cast<Block*>(std::malloc(sizeof(Block)));
    if (!block) return TSW_ALLOC_NO_MEMORY;
    block->vtbl = standard_heap_vtbl__;
    block->ctx.vtbl = &block->vtbl;
    block->ctx.heap = nullptr;
    *ctx = &block->ctx;
    return TSW_ALLOC_OK;
}

int TSW_DeleteAllocCtxStandard(void) { return 0; }

int posix_rwlCreate(void** lock) {
    if (!lock) return -1;
    auto* l = static_cast<pthread_rwlock_t*>(
        TSW_standard_heap->vtbl->malloc(TSW_standard_heap->heap, sizeof(pthread_rwlock_t)));
    if (!l) return -1;
    if (pthread_rwlock_init(l, nullptr) != 0) {
        TSW_standard_heap->vtbl->free(TSW_standard_heap->heap, l);
        return -1;
    }
    *lock = l;
    return 0;
}

int posix_rwlDestroy(void* lock) {
    if (!lock) return -1;
    const int rc = pthread_rwlock_destroy(rwl(lock));
    TSW_standard_heap->vtbl->free(TSW_standard_heap->heap, lock);
    return posix_result(rc);
}

int posix_rwlReadLock(void* lock) { return lock ? posix_result(pthread_rwlock_rdlock(rwl(lock))) : -1; }
int posix_rwlWriteLock(void* lock) { return lock ? posix_result(pthread_rwlock_wrlock(rwl(lock))) : -1; }
int posix_rwlReadTest(void* lock) { return lock ? posix_test(pthread_rwlock_tryrdlock(rwl(lock))) : -1; }
int posix_rwlWriteTest(void* lock) { return lock ? posix_test(pthread_rwlock_trywrlock(rwl(lock))) : -1; }
int posix_rwlReadUnlock(void* lock) { return lock ? posix_result(pthread_rwlock_unlock(rwl(lock))) : -1; }
int posix_rwlWriteUnlock(void* lock) { return lock ? posix_result(pthread_rwlock_unlock(rwl(lock))) : -1; }

/* Not atomic: another writer may take the lock between the two steps. */
int posix_rwlDowngrade(void* lock) {
    if (!lock) return -1;
    pthread_rwlock_unlock(rwl(lock));
    pthread_rwlock_rdlock(rwl(lock));
    return 0;
}

TSW_RwlCreateFunc tsw_pf_rwlCreate = posix_rwlCreate;
TSW_RwlFunc tsw_pf_rwlDestroy = posix_rwlDestroy;
TSW_RwlFunc tsw_pf_rwlReadLock = posix_rwlReadLock;
TSW_RwlFunc tsw_pf_rwlWriteLock = posix_rwlWriteLock;
TSW_RwlFunc tsw_pf_rwlReadTest = posix_rwlReadTest;
TSW_RwlFunc tsw_pf_rwlWriteTest = posix_rwlWriteTest;
TSW_RwlFunc tsw_pf_rwlReadUnlock = posix_rwlReadUnlock;
TSW_RwlFunc tsw_pf_rwlWriteUnlock = posix_rwlWriteUnlock;
TSW_RwlFunc tsw_pf_rwlDowngrade = posix_rwlDowngrade;

TSW_RwlCreateFunc* ess_pf_rwlCreate = &tsw_pf_rwlCreate;
TSW_RwlFunc* ess_pf_rwlDestroy = &tsw_pf_rwlDestroy;
TSW_RwlFunc* ess_pf_rwlReadLock = &tsw_pf_rwlReadLock;
TSW_RwlFunc* ess_pf_rwlWriteLock = &tsw_pf_rwlWriteLock;
TSW_RwlFunc* ess_pf_rwlReadUnlock = &tsw_pf_rwlReadUnlock;
TSW_RwlFunc* ess_pf_rwlWriteUnlock = &tsw_pf_rwlWriteUnlock;

BCM_LockType* BCM_NewLock(int, void*) {
    auto* lock = static_cast<BCM_LockType*>(std::calloc(1, sizeof(BCM_LockType)));
    if (!lock) return nullptr;
    if ((*ess_pf_rwlCreate)(&lock->m_handle) != 0) {
        std::free(lock);
        return nullptr;
    }
    return lock;
}

int BCM_DeleteLock(BCM_LockType* lock) {
    if (!lock) return null_lock("ESS BCM_DeleteLock Null lock address, %s, %d\n", __LINE__);
    (*ess_pf_rwlDestroy)(lock->m_handle);
    std::free(lock);
    return 0;
}

int BCM_ReadLock(BCM_LockType* lock, int) {
    if (!lock) return null_lock("ESS BCM_ReadLock Null lock address, %s, %d\n", __LINE__);
    (*ess_pf_rwlReadLock)(lock->m_handle);
    return 0;
}

int BCM_WriteLock(BCM_LockType* lock, int) {
    if (!lock) return null_lock("ESS BCM_WriteLock Null lock address, %s, %d\n", __LINE__);
    (*ess_pf_rwlWriteLock)(lock->m_handle);
    return 0;
}

int BCM_ReadUnLock(BCM_LockType* lock) {
    if (!lock) return null_lock("ESS BCM_ReadUnLock Null lock address, %s, %d\n", __LINE__);
    (*ess_pf_rwlReadUnlock)(lock->m_handle);
    return 0;
}

int BCM_WriteUnLock(BCM_LockType* lock) {
    if (!lock) return null_lock("ESS BCM_WriteUnLock Null lock address, %s, %d\n", __LINE__);
    (*ess_pf_rwlWriteUnlock)(lock->m_handle);
    return 0;
}

int BCM_Lock(BCM_LockType*, int) { return 0; }

int BCM_UnLock(BCM_LockType* lock) {
    if (!lock) return null_lock("ESS BCM_UnLock Null lock address, %s, %d\n", __LINE__);
    return 0;
}

}  // extern "C"
