/* File layer, files at foreseeable names: regular files opened without following a link,
 * new files created exclusively after whatever stood at the name is removed, the agent owner and
 * folder modes given through descriptors. */
#include "os_file_nofollow.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "os_file.h"

namespace {

/* Closes a descriptor, keeping the errno of the failure being reported. */
int close_keeping_errno(int fd) {
    const int err = errno;
    close(fd);
    errno = err;
    return -1;
}

}  // namespace

namespace os_file {

int open_regular(const char* path, int flags, mode_t mode) {
    if (!path || !*path) {
        errno = EINVAL;
        return -1;
    }
    /* O_NONBLOCK keeps a FIFO from holding the open; it changes nothing for a regular file. */
    const int fd = open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    struct stat status;
    if (fstat(fd, &status) != 0) return close_keeping_errno(fd);
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        return close_keeping_errno(fd);
    }
    if (status.st_nlink > 1) {
        errno = EMLINK;
        return close_keeping_errno(fd);
    }
    return fd;
}

int create_fresh(const char* path, mode_t mode, int dir_fd) {
    if (!path || !*path) {
        errno = EINVAL;
        return -1;
    }
    if (unlinkat(dir_fd, path, 0) != 0 && errno != ENOENT) return -1;
    const int fd = openat(dir_fd, path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    if (fchmod(fd, mode) != 0) return close_keeping_errno(fd);
    return fd;
}

bool write_fresh(const char* path, std::string_view content, mode_t mode) {
    const int fd = create_fresh(path, mode);
    if (fd < 0) return false;
    const bool written =
        content.empty() || OS_FILE_write(fd, content.data(), static_cast<int>(content.size())) == CM_RC_OK;
    if (close(fd) == 0 && written) return true;
    unlink(path);
    return false;
}

bool give_to_agent_owner(int fd) {
    uid_t uid;
    gid_t gid;
    return OS_FILE_get_file_owner(".", &uid, &gid) == CM_RC_OK && fchown(fd, uid, gid) == 0;
}

bool make_dir(const char* path, mode_t mode, uid_t owner) {
    if (!path || mkdir(path, mode) != 0) return false;
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    [[maybe_unused]] const int owned = owner == static_cast<uid_t>(-1) ? 0 : fchown(fd, owner, static_cast<gid_t>(-1));
    const bool set = fchmod(fd, mode) == 0;
    close_keeping_errno(fd);
    return set;
}

}  // namespace os_file
