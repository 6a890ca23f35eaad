/* Inter-process exclusion of the agent library: the named semaphore (whose operations succeed at
 * once and exclude nothing), System V semaphores keyed by a file, and lock files whose existence
 * is the lock. */
#ifndef OS_IPC_H
#define OS_IPC_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

typedef int OSSemObject; /* semaphore identifier (the System V id for the "2" operations) */
typedef int OS_CS_typ;   /* critical-section handle */

/* Named semaphore and critical section: every operation returns 1 and does nothing. */
CM_RC OS_IPC_sem_create(OSSemObject* sem, const char* name, int max_sec_wait);
CM_RC OS_IPC_sem_lock(OSSemObject sem, int wait_ms);
CM_RC OS_IPC_sem_unlock(OSSemObject sem);
CM_RC OS_IPC_sem_delete(OSSemObject sem);
CM_RC OS_IPC_init_cs(OS_CS_typ* cs);
CM_RC OS_IPC_enter_cs(OS_CS_typ* cs, int wait);
CM_RC OS_IPC_leave_cs(OS_CS_typ* cs);
CM_RC OS_IPC_delete_cs(OS_CS_typ* cs);

/* System V semaphore sets of one semaphore used as a lock (1 free, 0 held), released by the
 * kernel when the holder dies. 1 success, 2 failure. */
CM_RC OS_IPC_sem_create2(OSSemObject* sem_id, const char* filename, int max_sec_wait, int token_id);
CM_RC OS_IPC_sem_lock2(OSSemObject sem_id, int wait);
CM_RC OS_IPC_sem_unlock2(OSSemObject sem_id);
CM_RC OS_IPC_sem_delete2(OSSemObject sem_id);
int OS_IPC_sem_check_pending(OSSemObject sem_id);
/* name receives "./locks/sem_<process>_<owner of .>"; it must hold 4097 bytes. */
CM_RC OS_IPC_sem_make_name(const char* proc_name, char* name, int* owner_id);
CM_RC OS_IPC_sem_save_id(const char* filename, OSSemObject sem_id);
CM_RC OS_IPC_sem_remove(OSSemObject sem_id, const char* filename);

/* Lock files. */
int OS_IPC_old(const char* filename);
CM_RC OS_IPC_lock(const char* filename, int timeout);
CM_RC OS_IPC_trylock(const char* filename);
CM_RC OS_IPC_unlock(const char* filename);

CM_EXTERN_C_END

#endif
