/* Semaphores and lock files: the empty named-semaphore operations that the parameter caches call,
 * System V semaphore sets keyed by a file (ftok), and lock files created exclusively. The files
 * at foreseeable names are never opened, changed or given away through a link, and lock files are
 * made and removed by name in their folder as walked for the agent home. */
#include "os_ipc.h"
#include "os_diag.h"
#include "os_file_dir_internal.h"
#include "os_file_nofollow.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

constexpr int kStaleSeconds = 1200;     // a lock file not accessed for 20 minutes is stale
constexpr mode_t kLockFileMode = 0644;  // bits of a lock file created here
constexpr int kNameSize = 4097;         // PATHNAME_D_typ

union semun {
    int val;
    struct semid_ds* buf;
    unsigned short* array;
};

CM_RC sem_step(int sem_id, short delta, short flags) {
    struct sembuf op {};
    op.sem_num = 0;
    op.sem_op = delta;
    op.sem_flg = flags;
    return ::semop(sem_id, &op, 1) == 0 ? CM_RC_OK : CM_RC_FAIL;
}

// Gives a semaphore's key file to the agent owner through its descriptor: a link at the name, or
// anything but a plain file, is left alone.
void give_key_file_away(const char* op, const char* filename) {
    const int fd = os_file::open_regular(filename, O_RDONLY);
    if (fd < 0 || !os_file::give_to_agent_owner(fd))
        DIAG_TRACE(2, "%s: chown %s: %s", op, filename, std::strerror(errno));
    if (fd >= 0) ::close(fd);
}

// Runs step(folder, name) in the folder that holds `filename`, walked as a folder of the agent home
// (a link on the way leads only to a folder of the home's owner); -1 with errno when that folder
// cannot be opened.
template <typename Step>
int in_holding_folder(const char* filename, Step step) {
    std::string name;
    const os_file::Descriptor folder(os_file::open_parent_folder(filename, name));
    return folder.fd < 0 ? -1 : step(folder.fd, name.c_str());
}

CM_RC create_exclusive(const char* filename) {
    const int fd = in_holding_folder(filename, [](int folder, const char* name) {
        return ::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kLockFileMode);
    });
    if (fd < 0) return CM_RC_FAIL;
    ::close(fd);
    return CM_RC_OK;
}

// Removes the file's name (a link itself, never what it points at) from its folder.
int remove_name(const char* filename) {
    return in_holding_folder(filename, [](int folder, const char* name) { return ::unlinkat(folder, name, 0); });
}

}  // namespace

extern "C" {

CM_RC OS_IPC_sem_create(OSSemObject*, const char*, int) { return CM_RC_OK; }
CM_RC OS_IPC_sem_lock(OSSemObject, int) { return CM_RC_OK; }
CM_RC OS_IPC_sem_unlock(OSSemObject) { return CM_RC_OK; }
CM_RC OS_IPC_sem_delete(OSSemObject) { return CM_RC_OK; }
CM_RC OS_IPC_init_cs(OS_CS_typ*) { return CM_RC_OK; }
CM_RC OS_IPC_enter_cs(OS_CS_typ*, int) { return CM_RC_OK; }
CM_RC OS_IPC_leave_cs(OS_CS_typ*) { return CM_RC_OK; }
CM_RC OS_IPC_delete_cs(OS_CS_typ*) { return CM_RC_OK; }

CM_RC OS_IPC_sem_create2(OSSemObject* sem_id, const char* filename, int max_sec_wait, int token_id) {
    static const char* op = "OS_IPC_sem_create2";
    if (!sem_id || !filename) return CM_RC_FAIL;
    DIAG_TRACE(2, "%s: filename - '%s'  max wait - '%d'  token id - '%d'", op, filename, max_sec_wait, token_id);
    if (::geteuid() == 0) give_key_file_away(op, filename);
    const key_t key = ::ftok(filename, token_id);
    int id = ::semget(key, 1, IPC_CREAT | IPC_EXCL | 0600);
    if (id >= 0) {
        // Raising the value with an operation (not a plain set) also stamps the set's last
        // operation time, which is how other processes see that it is ready.
        if (sem_step(id, 1, 0) != CM_RC_OK) {
            DIAG_ERROR("%s: semctl: %s", op, std::strerror(errno));
            // A set that never became ready would keep every later opener waiting: remove it.
            ::semctl(id, 0, IPC_RMID);
            return CM_RC_FAIL;
        }
        DIAG_TRACE(4, "%s: new semaphore %d created", op, id);
        *sem_id = id;
        return CM_RC_OK;
    }
    if (errno == ENOSPC) {
        DIAG_ERROR("Error - system semaphore limit was reached. encrease the semmni and semmns kernel parameters.");
        return CM_RC_FAIL;
    }
    if (errno != EEXIST) {
        DIAG_ERROR("%s: semget failed [%s]", op, std::strerror(errno));
        return CM_RC_FAIL;
    }
    id = ::semget(key, 1, 0600);
    if (id < 0) {
        DIAG_ERROR("%s: semget on existing semaphore failed [%s]", op, std::strerror(errno));
        return CM_RC_FAIL;
    }
    for (int tries = 0;;) {
        struct semid_ds status {};
        semun arg{};
        arg.buf = &status;
        if (::semctl(id, 0, IPC_STAT, arg) == 0 && status.sem_otime != 0) break;
        if (max_sec_wait != 0 && ++tries > max_sec_wait) return CM_RC_FAIL;
        ::sleep(1);
    }
    *sem_id = id;
    return CM_RC_OK;
}

CM_RC OS_IPC_sem_lock2(OSSemObject sem_id, int wait) {
    static const char* op = "OS_IPC_sem_lock2";
    for (;;) {
        if (sem_step(sem_id, -1, static_cast<short>(SEM_UNDO | (wait == 0 ? IPC_NOWAIT : 0))) == CM_RC_OK) break;
        const int err = errno;
        if (err == EINTR) {
            DIAG_TRACE(4, "%s: caught signal for semaphore '%d'", op, sem_id);
            continue;
        }
        if (err == ENOSPC) {
            DIAG_ERROR(
                "Error - system semaphore limit for undo action was reached. encrease the semmnu kernel parameter.");
        } else {
            DIAG_TRACE(2, "%s: semaphore '%d' lock failed. error: %s [%d]", op, sem_id, std::strerror(err), err);
        }
        return CM_RC_FAIL;
    }
    DIAG_TRACE(4, "%s: semaphore '%d' locked successfully", op, sem_id);
    return CM_RC_OK;
}

CM_RC OS_IPC_sem_unlock2(OSSemObject sem_id) { return sem_step(sem_id, 1, SEM_UNDO); }

CM_RC OS_IPC_sem_delete2(OSSemObject sem_id) { return ::semctl(sem_id, 0, IPC_RMID) == 0 ? CM_RC_OK : CM_RC_FAIL; }

int OS_IPC_sem_check_pending(OSSemObject sem_id) { return ::semctl(sem_id, 0, GETNCNT); }

CM_RC OS_IPC_sem_make_name(const char* proc_name, char* name, int* owner_id) {
    if (!proc_name || !name) return CM_RC_FAIL;
    struct stat home {};
    if (::stat(".", &home) != 0) {
        DIAG_TRACE(4, "OS_IPC_make_sem_name: stat() failed");
        return CM_RC_FAIL;
    }
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(home.st_uid, &entry, buffer, sizeof buffer, &found) != 0 || !found) {
        DIAG_ERROR("OS_IPC_make_sem_name: unable to get user name for uid '%d'", static_cast<int>(home.st_uid));
        return CM_RC_FAIL;
    }
    std::snprintf(name, kNameSize, "./locks/sem_%s_%s", proc_name, found->pw_name);
    const int fd = os_file::open_regular(name, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0 || ::fchmod(fd, 0644) != 0) {
        if (fd >= 0) ::close(fd);
        DIAG_ERROR("OS_IPC_make_sem_name: OS_FILE_open (%s) failed", name);
        return CM_RC_FAIL;
    }
    ::close(fd);
    if (owner_id) *owner_id = static_cast<int>(home.st_uid);
    return CM_RC_OK;
}

CM_RC OS_IPC_sem_save_id(const char* filename, OSSemObject sem_id) {
    const int fd = filename ? os_file::open_regular(filename, O_RDWR) : -1;
    if (fd < 0 || ::lockf(fd, F_LOCK, 0) != 0) {
        if (fd >= 0) ::close(fd);
        DIAG_ERROR("Unable to open semaphore file");
        return CM_RC_FAIL;
    }
    const std::string text = std::to_string(sem_id);
    const bool ok =
        ::ftruncate(fd, 0) == 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_IPC_sem_remove(OSSemObject sem_id, const char* filename) {
    static const char* op = "OS_IPC_sem_remove";
    if (OS_IPC_sem_delete2(sem_id) != CM_RC_OK) {
        DIAG_ERROR("%s: syncronization semaphore delete failed", op);
        return CM_RC_FAIL;
    }
    DIAG_TRACE(4, "%s: syncronization semaphore deleted successfuly", op);
    if (!filename || remove_name(filename) != 0) {
        DIAG_ERROR("%s: syncronization semaphore file delete failed", op);
        return CM_RC_FAIL;
    }
    DIAG_TRACE(4, "%s: syncronization semaphore file deleted successfuly", op);
    return CM_RC_OK;
}

int OS_IPC_old(const char* filename) {
    if (!filename) return 0;
    const int rc = in_holding_folder(filename, [](int folder, const char* name) {
        struct stat status {};
        if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return 0;
        if (std::time(nullptr) - status.st_atime < kStaleSeconds) return 0;
        return ::unlinkat(folder, name, 0) == 0 ? 1 : -1;
    });
    if (rc < 0) DIAG_ERROR("OS_IPC_old : unlink : %s", std::strerror(errno));
    return rc > 0 ? 1 : 0;
}

CM_RC OS_IPC_lock(const char* filename, int timeout) {
    if (!filename) return CM_RC_FAIL;
    for (int tries = 0;;) {
        if (create_exclusive(filename) == CM_RC_OK) return CM_RC_OK;
        if (errno != EEXIST) {
            DIAG_ERROR("OS_IPC_lock : %s  : %s", filename, std::strerror(errno));
            return CM_RC_FAIL;
        }
        if (timeout >= 0 && ++tries > timeout) {
            if (OS_IPC_old(filename)) continue;  // a stale lock is taken over
            DIAG_TRACE(4, "OS_IPC_lock : timed out");
            return CM_RC_FAIL;
        }
        ::sleep(1);
    }
}

CM_RC OS_IPC_trylock(const char* filename) {
    return filename && create_exclusive(filename) == CM_RC_OK ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_IPC_unlock(const char* filename) { return filename && remove_name(filename) == 0 ? CM_RC_OK : CM_RC_FAIL; }

}  // extern "C"
