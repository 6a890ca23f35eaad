/* File layer, files by name: status and existence, creating, deleting, renaming and copying,
 * owners and permission bits, the longest-line measure and the PC/Unix line-end translations. */
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "os_diag.h"
#include "os_file.h"
#include "os_file_internal.h"

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
    int fd = open(file_name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) return CM_RC_FAIL;
    return close(fd) == 0 ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_FILE_delete(const char* file_name) {
    bool done = file_name && unlink(file_name) == 0;
    DIAG_TRACE(4, "OS_FILE_delete %s", done ? "ended successfully" : "FAILED");
    return done ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_FILE_rename(const char* old_name, const char* new_name) {
    if (!old_name || !new_name) return CM_RC_FAIL;
    if (rename(old_name, new_name) != 0) {
        DIAG_ERROR("OS_FILE_rename : cannot rename %s to %s : %s", old_name, new_name, strerror(errno));
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

// Copies a file. A destination that is the source itself is refused: emptying it for the copy
// would lose the data (and a caller that moves a file would then delete the only copy).
CM_RC OS_FILE_copy(const char* source, const char* destination, OS_FILE_MODE_typ) {
    static constexpr const char* fn = "OS_FILE_copy";
    if (!source || !destination) return CM_RC_FAIL;
    struct stat from_status;
    if (stat(source, &from_status) != 0) return CM_RC_FAIL;
    struct stat to_status;
    bool existed = stat(destination, &to_status) == 0;
    if (existed && to_status.st_dev == from_status.st_dev && to_status.st_ino == from_status.st_ino) {
        DIAG_ERROR("%s: cannot copy %s onto itself", fn, source);
        return CM_RC_FAIL;
    }
    mode_t bits = from_status.st_mode & 07777;
    int from = open(source, O_RDONLY);
    if (from < 0) return CM_RC_FAIL;
    int to = open(destination, O_WRONLY | O_CREAT | O_TRUNC, bits);
    if (to < 0) {
        close(from);
        return CM_RC_FAIL;
    }
    bool copied = copy_contents(from, to);
    close(from);
    if (close(to) != 0) copied = false;
    if (!copied) return CM_RC_FAIL;
    if (!existed && chmod(destination, bits) != 0)
        DIAG_ERROR("%s: chmod %s to %o failed : %s", fn, destination, static_cast<unsigned>(bits), strerror(errno));
    return CM_RC_OK;
}

CM_RC OS_FILE_get_file_owner(const char* path, uid_t* uid, gid_t* gid) {
    struct stat status;
    if (!path || !uid || !gid || stat(path, &status) != 0) return CM_RC_FAIL;
    *uid = status.st_uid;
    *gid = status.st_gid;
    return CM_RC_OK;
}

CM_RC OS_FILE_set_file_owner(const char* path, uid_t uid, gid_t gid) {
    return path && chown(path, uid, gid) == 0 ? CM_RC_OK : CM_RC_FAIL;
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
    if (!path || chmod(path, bits) != 0) {
        int err = path ? errno : EINVAL;
        DIAG_TRACE(1, "%s: Failed to set permission %o for file '%s'. Error (%d) %s", "OS_FILE_set_permission",
                   static_cast<unsigned>(bits), path ? path : "", err, strerror(err));
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC OS_FILE_width(const char* file_name, long* longest, long max_supported) {
    if (!file_name || !longest) return CM_RC_FAIL;
    *longest = 0;
    FILE* file = fopen(file_name, "r");
    if (!file) return CM_RC_FAIL;
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
