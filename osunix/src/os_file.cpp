/* File layer, descriptors: OS_FILE_open with its eighteen named modes (flags, lock, permission
 * bits, owner; every mode opens only a regular file, never through a link at its name and never
 * waiting on a FIFO), closing and unlocking, raw reads and writes, seeking and line reads. Also owns the
 * small helpers the other file-layer modules share (owner user, date texts, path joining). */
#include "os_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "gm_time.h"
#include "os_diag.h"
#include "os_file_internal.h"
#include "os_file_nofollow.h"
#include "os_logical.h"

namespace os_file {

std::optional<UserIds> lookup_user(const std::string& name) {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd pw;
    struct passwd* found = nullptr;
    if (name.empty() || getpwnam_r(name.c_str(), &pw, buf.data(), buf.size(), &found) != 0 || !found)
        return std::nullopt;
    return UserIds{found->pw_uid, found->pw_gid};
}

// The process's user name: the user database's name of the real user id, "root" for id 0.
static std::string process_user_name() {
    uid_t uid = getuid();
    if (uid == 0) return "root";
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd pw;
    struct passwd* found = nullptr;
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found) return "";
    return std::string(found->pw_name).substr(0, sizeof(USERNAME_D_typ) - 1);
}

std::string owner_user() {
    LOGICALNAME_D_typ logname = "";
    if (OS_LOGICAL_get("LOGNAME", "", logname) == CM_RC_OK) return logname;
    std::string user = process_user_name();
    DIAG_TRACE(1, "getenv LOGNAME not defined, using %s.", user.c_str());
    return user;
}

bool give_to_owner_user(int fd, const char* name, bool with_group) {
    const std::string user = owner_user();
    const auto ids = lookup_user(user);
    if (!ids) {
        DIAG_ERROR("failed to get passwd entry for user '%s'", user.c_str());
        return false;
    }
    if (fchown(fd, ids->uid, with_group ? ids->gid : static_cast<gid_t>(-1)) != 0)
        DIAG_ERROR("failed to chown file '%s' for user '%s'", name, user.c_str());
    return true;
}

void note_refusal(const char* fn, const char* path) {
    const int err = errno;
    if (err == ELOOP || err == EINVAL || err == EMLINK || err == ENOTDIR)
        DIAG_ERROR("%s: '%s' refused: %s", fn, path ? path : "", failure_text(err));
    errno = err;
}

void format_date14(time_t when, char* out) { GM_TIME_fmt_to_ascii(GM_TIME_FMT_YYYYMMDDHHMMSS, when, out); }

std::string join_path(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

}  // namespace os_file

namespace {

constexpr const char* kOpen = "OS_FILE_open";

// How OS_FILE_open treats the owner of a newly created file.
enum class OwnerChange { user_and_group, user_only };

CM_RC open_failed(int err, bool quiet_on_denial) {
    if (quiet_on_denial && err == EACCES)
        DIAG_TRACE(1, "OS_FILE_open failed - errno=%d", err);
    else
        DIAG_ERROR("OS_FILE_open failed - errno=%d", err);
    return CM_RC_FAIL;
}

// Every lock of OS_FILE_open covers the whole file: from offset 0 (where a fresh descriptor
// stands) to the end and beyond.
int lock_whole_file(int fd, int command) { return lockf(fd, command, 0); }

// OS_FILE_CREATE and OS_FILE_CREATE_777: created or emptied, locked, given fixed bits and an owner.
// The file is emptied only once the lock is held, so a writer still busy with it is not cut short.
CM_RC open_for_creation(OS_FD_typ* out, const char* name, mode_t bits, OwnerChange owner) {
    int fd = os_file::open_regular(name, O_WRONLY | O_CREAT, bits);
    if (fd < 0) {
        os_file::note_refusal(kOpen, name);
        DIAG_TRACE(1, "failed on open, fn=%s, errno=%d.", name, errno);
        return CM_RC_CREATE_FAILED;
    }
    if (lock_whole_file(fd, F_LOCK) != 0) {
        DIAG_TRACE(1, "failed on lockf.");
        close(fd);
        return CM_RC_CREATE_FAILED;
    }
    if (ftruncate(fd, 0) != 0) {
        DIAG_TRACE(1, "failed on ftruncate.");
        close(fd);
        return CM_RC_CREATE_FAILED;
    }
    if (fchmod(fd, bits) != 0) {
        DIAG_TRACE(1, "failed on fchmod.");
        close(fd);
        return CM_RC_CREATE_FAILED;
    }
    const bool with_group = owner == OwnerChange::user_and_group;
    if (!os_file::give_to_owner_user(fd, name, with_group) && with_group) {
        close(fd);
        return open_failed(ENOENT, false);
    }
    *out = fd;
    return CM_RC_OK;
}

// OS_FILE_LOCK, OS_FILE_WRITE, OS_FILE_TRUNC, OS_FILE_WRITE_BINARY: an existing file, locked, then
// emptied.
CM_RC open_for_rewrite(OS_FD_typ* out, const char* name) {
    int fd = os_file::open_regular(name, O_RDWR);
    if (fd < 0) {
        os_file::note_refusal(kOpen, name);
        return CM_RC_OPEN_FAILED;
    }
    if (lock_whole_file(fd, F_LOCK) != 0) {
        close(fd);
        return CM_RC_LOCKED;
    }
    if (ftruncate(fd, 0) != 0) {
        close(fd);
        return CM_RC_OPEN_FAILED;
    }
    *out = fd;
    return CM_RC_OK;
}

CM_RC open_lock_nowait(OS_FD_typ* out, const char* name) {
    bool created = false;
    int fd = os_file::open_regular(name, O_RDWR);
    if (fd < 0 && errno == ENOENT) {
        fd = os_file::open_regular(name, O_RDWR | O_CREAT | O_EXCL, 0777);
        created = true;
    }
    if (fd < 0) {
        os_file::note_refusal(kOpen, name);
        return CM_RC_LOCKED;
    }
    if (lock_whole_file(fd, F_TLOCK) != 0) {
        close(fd);
        return CM_RC_LOCKED;
    }
    if (created) fchmod(fd, 0777);
    *out = fd;
    return CM_RC_OK;
}

CM_RC open_for_reading(OS_FD_typ* out, const char* name, bool shared_lock) {
    // Without waiting on a FIFO and only a regular file: anything else is unreadable.
    int fd = os_file::open_regular(name, O_RDONLY);
    if (fd < 0) {
        os_file::note_refusal(kOpen, name);
        return CM_RC_OPEN_FAILED;
    }
    if (shared_lock && lock_reg(fd, F_SETLKW, F_RDLCK, 0, SEEK_SET, 0) < 0)
        DIAG_ERROR("OS_FILE_open : readw_lock : %s", strerror(errno));
    *out = fd;
    return CM_RC_OK;
}

CM_RC open_for_append(OS_FD_typ* out, const char* name) {
    int fd = os_file::open_regular(name, O_WRONLY | O_CREAT | O_APPEND, 0764);
    if (fd < 0) {
        os_file::note_refusal(kOpen, name);
        DIAG_ERROR("OS_FILE_open: open file(%s) - errno=%d", name, errno);
        return CM_RC_OPEN_FAILED;
    }
    if (lock_whole_file(fd, F_LOCK) != 0) {
        DIAG_ERROR("OS_FILE_open: lockf - errno=%d", errno);
        close(fd);
        return CM_RC_LOCKED;
    }
    fchmod(fd, 0764);
    *out = fd;
    return CM_RC_OK;
}

// OS_FILE_WRITE_NOLOCK and OS_FILE_WRITE_CHECK_DISKSPACE: private files without a lock.
CM_RC open_private(OS_FD_typ* out, const char* name, bool truncate, bool quiet_on_denial) {
    int fd = os_file::open_regular(name, O_RDWR | O_CREAT | (truncate ? O_TRUNC : 0), 0600);
    if (fd < 0) {
        os_file::note_refusal(kOpen, name);
        return open_failed(errno, quiet_on_denial);
    }
    fchmod(fd, 0600);
    *out = fd;
    return CM_RC_OK;
}

CM_RC open_by_mode(OS_FD_typ* out, const char* name, OS_FILE_MODE_typ mode) {
    switch (mode) {
    case OS_FILE_CREATE: return open_for_creation(out, name, 0744, OwnerChange::user_and_group);
    case OS_FILE_CREATE_777: return open_for_creation(out, name, 0777, OwnerChange::user_only);
    case OS_FILE_LOCK:
    case OS_FILE_WRITE:
    case OS_FILE_TRUNC:
    case OS_FILE_WRITE_BINARY: return open_for_rewrite(out, name);
    case OS_FILE_LOCK_NOWAIT: return open_lock_nowait(out, name);
    case OS_FILE_NOLOCK:
    case OS_FILE_READ_NOLOCK:
    case OS_FILE_READ_BINARY_NOLOCK: return open_for_reading(out, name, false);
    case OS_FILE_READ:
    case OS_FILE_READ_BINARY: return open_for_reading(out, name, true);
    case OS_FILE_APPEND:
    case OS_FILE_APPEND_BINARY: return open_for_append(out, name);
    case OS_FILE_WRITE_NOLOCK: return open_private(out, name, true, false);
    case OS_FILE_WRITE_CHECK_DISKSPACE: return open_private(out, name, false, true);
    case OS_FILE_UPDATE:
    case OS_FILE_CREATE_CHECK_DISKSPACE:
    default: return open_failed(EINVAL, false);
    }
}

}  // namespace

CM_EXTERN_C_BEGIN

int lock_reg(int fd, int cmd, int type, off_t offset, int whence, off_t len) {
    struct flock lock;
    memset(&lock, 0, sizeof lock);
    lock.l_type = static_cast<short>(type);
    lock.l_whence = static_cast<short>(whence);
    lock.l_start = offset;
    lock.l_len = len;
    return fcntl(fd, cmd, &lock);
}

CM_RC OS_FILE_open(OS_FD_typ* fd, const char* file_name, OS_FILE_MODE_typ mode) {
    DIAG_TRACE(4, "OS_FILE_open");
    DIAG_TRACE(4, "file_name='%s'", file_name ? file_name : "");
    if (!fd || !file_name || !*file_name) return open_failed(EINVAL, false);
    CM_RC rc = open_by_mode(fd, file_name, mode);
    if (rc == CM_RC_OK) DIAG_TRACE(4, "OS_FILE_open succeeded: opened descriptor %d", *fd);
    return rc;
}

CM_RC OS_FILE_close(OS_FD_typ fd) { return close(fd) == 0 ? CM_RC_OK : CM_RC_FAIL; }

// Drops every lock this process holds on the file, whatever the current offset.
CM_RC OS_FILE_release(OS_FD_typ fd) {
    if (lock_reg(fd, F_SETLK, F_UNLCK, 0, SEEK_SET, 0) < 0) {
        DIAG_ERROR("OS_FILE_release - errno = %d", errno);
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC OS_FILE_lock(const char* file_name, OS_FD_typ fd, int mode) {
    static constexpr int commands[] = {F_ULOCK, F_LOCK, F_TLOCK, F_TEST};
    if (mode < 0 || mode > 3) {
        DIAG_ERROR("OS_FILE_lock: invalid mode %d", mode);
        return CM_RC_FAIL;
    }
    DIAG_TRACE(4, "OS_FILE_lock: file '%s' mode %d", file_name ? file_name : "", mode);
    if (lockf(fd, commands[mode], 0) != 0) {
        int err = errno;
        DIAG_TRACE(4, "OS_FILE_lock: Unable to perform action - error: %d (%s)", err, strerror(err));
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC OS_FILE_read(OS_FD_typ fd, char* buf, int* size) {
    if (!buf || !size || *size < 0) return CM_RC_FAIL;
    int wanted = *size;
    ssize_t got;
    do got = read(fd, buf, static_cast<size_t>(wanted));
    while (got < 0 && errno == EINTR);
    if (got < 0) {  // a failed read reads as no byte at all
        DIAG_TRACE(4, "OS_FILE_read: read failed: %s", strerror(errno));
        got = 0;
    }
    buf[got] = '\0';
    *size = static_cast<int>(got) + 1;
    if (got == wanted) return CM_RC_OK;
    return got > 0 ? CM_RC_EOF : CM_RC_FAIL;
}

CM_RC OS_FILE_write(OS_FD_typ fd, const char* buf, int length) {
    if (!buf || length < 0) return CM_RC_FAIL;
    size_t done = 0;
    int err = 0;
    while (done < static_cast<size_t>(length)) {
        ssize_t n = write(fd, buf + done, static_cast<size_t>(length) - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (done == static_cast<size_t>(length)) return CM_RC_OK;
    if (done == 0) DIAG_ERROR("OS_FILE_write : error: %d. %s", err, strerror(err));
    return CM_RC_FAIL;
}

long OS_FILE_lseek(OS_FD_typ fd, long offset, OS_FILE_DIRECTION_typ direction) {
    int whence;
    switch (direction) {
    case OS_FILE_BEGIN: whence = SEEK_SET; break;
    case OS_FILE_CURR: whence = SEEK_CUR; break;
    case OS_FILE_END: whence = SEEK_END; break;
    default: return -1;
    }
    return static_cast<long>(lseek(fd, offset, whence));
}

CM_RC OS_FILE_gets(char* line, int max, OS_FD_typ fd) {
    if (!line || max < 1) return CM_RC_FAIL;
    line[0] = '\0';
    ssize_t got;
    do got = read(fd, line, static_cast<size_t>(max - 1));
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        DIAG_ERROR("OS_FILE_gets: problem reading file : %s", strerror(errno));
        line[0] = '\0';
        return CM_RC_FAIL;
    }
    if (got == 0) {
        DIAG_TRACE(4, "OS_FILE_gets: reached EOF");
        return CM_RC_FAIL;
    }
    const char* eol = static_cast<const char*>(memchr(line, '\n', static_cast<size_t>(got)));
    if (!eol) {
        line[got] = '\0';
        DIAG_TRACE(4, "OS_FILE_gets: can't find EOL in the line");
        return CM_RC_OK;
    }
    ssize_t used = eol - line + 1;
    line[used - 1] = '\0';
    if (used < got && lseek(fd, used - got, SEEK_CUR) < 0) {
        DIAG_ERROR("OS_FILE_gets: lseek : %s", strerror(errno));
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_EXTERN_C_END
