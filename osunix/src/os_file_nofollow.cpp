/* File layer, files at foreseeable names: regular files opened without following a link,
 * new files created exclusively after whatever stood at the name is removed, the agent owner and
 * folder modes given through descriptors. */
#include "os_file_nofollow.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "os_file.h"

namespace {

/* Closes a descriptor, keeping the errno of the failure being reported. */
int close_keeping_errno(int fd) {
    const int err = errno;
    close(fd);
    errno = err;
    return -1;
}

/* Opens one folder of a walk: the name itself when it is a folder, the folder a link leads to when
 * that folder belongs to `owner` or the home is root's own. */
int open_step(int dir_fd, const std::string& step, uid_t owner) {
    const int fd = openat(dir_fd, step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 || (errno != ELOOP && errno != ENOTDIR)) return fd;
    struct stat name_status;
    if (fstatat(dir_fd, step.c_str(), &name_status, AT_SYMLINK_NOFOLLOW) != 0) return -1;
    if (!S_ISLNK(name_status.st_mode)) {
        errno = ENOTDIR;
        return -1;
    }
    /* Whatever the link leads to now is what is checked and used: the descriptor, not the name. */
    const int target = openat(dir_fd, step.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (target < 0) return -1;
    struct stat target_status;
    if (fstat(target, &target_status) != 0) return close_keeping_errno(target);
    if (owner != 0 && target_status.st_uid != owner) {
        errno = ELOOP;
        return close_keeping_errno(target);
    }
    return target;
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

int open_home_folder(const char* path) {
    if (!path || !*path) {
        errno = EINVAL;
        return -1;
    }
    if (*path == '/') return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat home;
    if (fstat(fd, &home) != 0) return close_keeping_errno(fd);
    const std::string_view rest(path);
    for (size_t start = 0; start < rest.size();) {
        size_t end = rest.find('/', start);
        if (end == std::string_view::npos) end = rest.size();
        const std::string step(rest.substr(start, end - start));
        start = end + 1;
        if (step.empty() || step == ".") continue;
        const int next = open_step(fd, step, home.st_uid);
        if (next < 0) return close_keeping_errno(fd);
        close(fd);
        fd = next;
    }
    return fd;
}

int open_parent_folder(const char* path, std::string& name) {
    const std::string_view whole(path ? path : "");
    const size_t slash = whole.rfind('/');
    name = whole.substr(slash == std::string_view::npos ? 0 : slash + 1);
    if (name.empty()) {
        errno = EINVAL;
        return -1;
    }
    if (slash == std::string_view::npos) return open_home_folder(".");
    if (slash == 0) return open_home_folder("/");
    return open_home_folder(std::string(whole.substr(0, slash)).c_str());
}

const char* folder_failure_text(int error) {
    return error == ELOOP ? "a link to a folder that is not the agent owner's" : std::strerror(error);
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
