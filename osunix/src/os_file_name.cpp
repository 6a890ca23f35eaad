/* File layer, files by name: status and existence, creating, deleting, renaming and copying,
 * owners and permission bits, the longest-line measure and the PC/Unix line-end translations.
 * Whatever is opened, made, changed or removed by name is reached through the home's folders as
 * open_parent_folder allows and never through a link at the file's own name. */
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "os_diag.h"
#include "os_file.h"
#include "os_file_internal.h"
#include "os_file_nofollow.h"
#include "os_shared_file_internal.h"

namespace {

constexpr size_t kCopyBlock = 2048;
constexpr int kWidthChunk = 500;  // fgets buffer: chunks of up to 499 characters
constexpr char kPcEndOfFile = 26;

void fill_dates(const struct stat& status, char* creation, char* modification) {
    if (creation) os_file::format_date14(status.st_mtime, creation);
    if (modification) os_file::format_date14(status.st_mtime, modification);
}

// Builds one owner/group/other triple from a read 1, write 2, execute 4 permission set.
mode_t permission_bits(OS_FILE_PERMISSION_typ set, int shift) {
    mode_t bits = 0;
    if (set & OS_FILE_READ_PERMISSION) bits |= 04;
    if (set & OS_FILE_WRITE_PERMISSION) bits |= 02;
    if (set & OS_FILE_EXEC_PERMISSION) bits |= 01;
    return bits << shift;
}

// The file or folder whose owner or bits a call changes by its name: never a link at the name
// (the call would change what it points at), nor a file of another kind or with a second name, and
// reached through the home's folders as open_parent_folder allows. An O_PATH descriptor, or -1 with
// errno.
int open_to_change(const char* path) {
    const os_file::ParentFolder folder(path);
    if (!folder.usable()) return -1;
    const int fd = openat(folder.fd(), folder.name(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat status;
    int refusal = 0;
    if (fstat(fd, &status) != 0)
        refusal = errno;
    else if (S_ISLNK(status.st_mode))
        refusal = ELOOP;
    else if (S_ISREG(status.st_mode) && status.st_nlink > 1)
        refusal = EMLINK;
    else if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode))
        refusal = EINVAL;
    if (refusal == 0) return fd;
    close(fd);
    errno = refusal;
    return -1;
}

// Copies all bytes of one descriptor into another; false on a read error or a short write.
bool copy_contents(int from, int to) {
    char block[kCopyBlock];
    for (;;) {
        ssize_t got = read(from, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        if (OS_FILE_write(to, block, static_cast<int>(got)) != CM_RC_OK) return false;
    }
}

}  // namespace

CM_EXTERN_C_BEGIN

CM_RC OS_FILE_stat(const char* file_name, long* size, long* lines, char* creation_date, char* modification_date) {
    struct stat status;
    if (!file_name || stat(file_name, &status) != 0) {
        int err = file_name ? errno : EINVAL;
        DIAG_TRACE(4, "OS_FILE_stat failed. errno: %d (%s)", err, strerror(err));
        return CM_RC_FAIL;
    }
    if (size) *size = static_cast<long>(status.st_size);
    if (lines) *lines = 0;
    fill_dates(status, creation_date, modification_date);
    return CM_RC_OK;
}

CM_RC OS_FILE_stat64(const char* file_name, int64_t* size, long* lines, char* creation_date, char* modification_date) {
    if (!file_name) return CM_RC_FAIL;
    struct stat status;
    errno = 0;
    if (stat(file_name, &status) != 0) {
        int err = errno;
        DIAG_TRACE(4, "OS_FILE_stat failed. errno: %d (%s)", err, strerror(err));
        errno = err;
        return CM_RC_FAIL;
    }
    if (size) *size = static_cast<int64_t>(status.st_size);
    if (lines) *lines = 0;
    fill_dates(status, creation_date, modification_date);
    return CM_RC_OK;
}

CM_RC OS_FILE_stat_short(const char* file_name, struct stat* status) {
    if (!file_name || !status) return CM_RC_FAIL;
    return stat(file_name, status) == 0 ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_FILE_check_existence(const char* file_name, OS_FILE_ACCESS_typ access_kind) {
    static constexpr const char* fn = "OS_FILE_check_existence";
    if (static_cast<unsigned>(access_kind) > OS_FILE_ACCESS_READ) {
        DIAG_TRACE(4, "%s: Invalid mode - '%d'", fn, static_cast<int>(access_kind));
        return CM_RC_FAIL;
    }
    if (!file_name) return CM_RC_FAIL;
    struct stat status;
    if (stat(file_name, &status) == 0) return CM_RC_OK;
    int err = errno;
    if (err == ENOENT) return CM_RC_FAIL;
    if (err == EACCES) return CM_RC_NOT_PERMITTED;
    DIAG_ERROR("%s: stat() failed on file '%s'. Error: %s [%d]", fn, file_name, strerror(err), err);
    return CM_RC_STAT_FAILED;
}

int OS_FILE_is_dir(const char* path) {
    struct stat status;
    return path && stat(path, &status) == 0 && S_ISDIR(status.st_mode) ? 1 : 0;
}

CM_RC OS_FILE_is_exist(const char*) { return CM_RC_OK; }
CM_RC OS_FILE_create(const char*) { return CM_RC_OK; }
CM_RC OS_FILE_dir_entry_add(const char*) { return CM_RC_OK; }
CM_RC OS_FILE_dir_entry_delete(const char*) { return CM_RC_OK; }

CM_RC OS_FILE_create_empty(const char* file_name) {
    if (!file_name) return CM_RC_FAIL;
    int fd = os_file::open_regular(file_name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) {
        os_file::note_refusal("OS_FILE_create_empty", file_name);
        return CM_RC_FAIL;
    }
    return close(fd) == 0 ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_FILE_delete(const char* file_name) {
    bool done = false;
    if (file_name) {
        const os_file::ParentFolder folder(file_name);
        done = folder.usable() && unlinkat(folder.fd(), folder.name(), 0) == 0;
    }
    DIAG_TRACE(4, "OS_FILE_delete %s", done ? "ended successfully" : "FAILED");
    return done ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_FILE_rename(const char* old_name, const char* new_name) {
    if (!old_name || !new_name) return CM_RC_FAIL;
    const os_file::ParentFolder from(old_name);
    const os_file::ParentFolder to(new_name);
    if (!from.usable() || !to.usable() || renameat(from.fd(), from.name(), to.fd(), to.name()) != 0) {
        DIAG_ERROR("OS_FILE_rename : cannot rename %s to %s : %s", old_name, new_name, os_file::failure_text(errno));
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

// Copies a file. A destination that is the source itself is refused: emptying it for the copy
// would lose the data (and a caller that moves a file would then delete the only copy). The source
// is read as a regular file, never through a link at its name; the copy replaces the destination
// whole through the shared-file facility (a temporary file renamed over it, never through a link
// at its name), so a copy cut short leaves the old destination, and an existing destination keeps
// its bits and owner while a new one gets exactly the source's bits.
CM_RC OS_FILE_copy(const char* source, const char* destination, OS_FILE_MODE_typ) {
    static constexpr const char* fn = "OS_FILE_copy";
    if (!source || !destination) return CM_RC_FAIL;
    const int from = os_file::open_regular(source, O_RDONLY);
    struct stat from_status;
    if (from < 0 || fstat(from, &from_status) != 0) {
        os_file::note_refusal(fn, source);
        if (from >= 0) close(from);
        return CM_RC_FAIL;
    }
    CM_RC rc = CM_RC_FAIL;
    try {
        const os_file::ParentFolder folder(destination);
        struct stat to_status;
        if (folder.usable() && fstatat(folder.fd(), folder.name(), &to_status, AT_SYMLINK_NOFOLLOW) == 0 &&
            to_status.st_dev == from_status.st_dev && to_status.st_ino == from_status.st_ino) {
            DIAG_ERROR("%s: cannot copy %s onto itself", fn, source);
        } else {
            os_shared::Options options;
            options.new_mode = from_status.st_mode & 07777;
            os_shared::FileLock lock(destination, options);
            if (lock) rc = lock.rewrite_with([from](int to) { return copy_contents(from, to); });
        }
    } catch (...) {
        rc = CM_RC_FAIL;
    }
    close(from);
    return rc;
}

CM_RC OS_FILE_get_file_owner(const char* path, uid_t* uid, gid_t* gid) {
    struct stat status;
    if (!path || !uid || !gid || stat(path, &status) != 0) return CM_RC_FAIL;
    *uid = status.st_uid;
    *gid = status.st_gid;
    return CM_RC_OK;
}

CM_RC OS_FILE_set_file_owner(const char* path, uid_t uid, gid_t gid) {
    const int fd = path ? open_to_change(path) : -1;
    if (fd < 0) {
        os_file::note_refusal("OS_FILE_set_file_owner", path);
        return CM_RC_FAIL;
    }
    const bool changed = fchownat(fd, "", uid, gid, AT_EMPTY_PATH) == 0;
    close(fd);
    return changed ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_FILE_set_agent_owner(const char* path) {
    uid_t uid;
    gid_t gid;
    if (OS_FILE_get_file_owner(".", &uid, &gid) != CM_RC_OK) return CM_RC_FAIL;
    return OS_FILE_set_file_owner(path, uid, gid);
}

CM_RC OS_FILE_chown(const char*, const char*) { return CM_RC_OK; }

CM_RC OS_FILE_set_permission(const char* path, OS_FILE_PERMISSION_typ owner, OS_FILE_PERMISSION_typ group,
                             OS_FILE_PERMISSION_typ general) {
    mode_t bits = permission_bits(owner, 6) | permission_bits(group, 3) | permission_bits(general, 0);
    const int fd = path ? open_to_change(path) : -1;
    // An O_PATH descriptor takes no fchmod; its /proc name leads to the very file it holds.
    const bool changed = fd >= 0 && chmod(("/proc/self/fd/" + std::to_string(fd)).c_str(), bits) == 0;
    int err = path ? errno : EINVAL;
    if (fd >= 0) close(fd);
    if (!changed) {
        DIAG_TRACE(1, "%s: Failed to set permission %o for file '%s'. Error (%d) %s", "OS_FILE_set_permission",
                   static_cast<unsigned>(bits), path ? path : "", err, os_file::failure_text(err));
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC OS_FILE_width(const char* file_name, long* longest, long max_supported) {
    if (!file_name || !longest) return CM_RC_FAIL;
    *longest = 0;
    const int fd = os_file::open_regular(file_name, O_RDONLY);
    FILE* file = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (!file) {
        os_file::note_refusal("OS_FILE_width", file_name);
        if (fd >= 0) close(fd);
        return CM_RC_FAIL;
    }
    char chunk[kWidthChunk];
    CM_RC rc = CM_RC_OK;
    while (fgets(chunk, sizeof chunk, file)) {
        long length = static_cast<long>(strlen(chunk));
        if (length > *longest) *longest = length;
        if (max_supported > 0 && length >= max_supported) {
            rc = CM_RC_FAIL;
            break;
        }
    }
    fclose(file);
    return rc;
}

CM_RC OS_FILE_translate_pc_to_unix(char* buf, int* length) {
    if (!buf || !length || *length <= 0) return CM_RC_OK;
    int out = 0;
    for (int in = 0; in < *length; ++in) {
        if (buf[in] == '\r') continue;
        buf[out++] = buf[in] == kPcEndOfFile ? '\n' : buf[in];
    }
    *length = out;
    return CM_RC_OK;
}

CM_RC OS_FILE_translate_unix_to_pc(char* buf, int* length) {
    if (!buf || !length || *length <= 0) return CM_RC_OK;
    std::string work;
    try {
        work.reserve(static_cast<size_t>(*length) * 2);
    } catch (...) {
        return CM_RC_OK;
    }
    for (int in = 0; in < *length; ++in) {
        if (buf[in] == '\n') work.push_back('\r');
        work.push_back(buf[in]);
    }
    memcpy(buf, work.data(), work.size());
    *length = static_cast<int>(work.size());
    return CM_RC_OK;
}

CM_EXTERN_C_END
