/* File layer, files at foreseeable names: regular files opened without following a link and
 * without waiting on a FIFO, new files created exclusively after whatever stood at the name is
 * removed, folders of the home walked one step at a time, the agent owner and folder modes given
 * through descriptors. */
#include "os_file_nofollow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "os_file.h"

namespace {

/* Whether the last folder walk of this thread failed on a link it refused (for failure_text). */
thread_local bool folder_refused = false;

/* A path or name that is missing or empty: errno EINVAL. */
bool no_text(const char* text) {
    if (text && *text) return false;
    errno = EINVAL;
    return true;
}

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
        folder_refused = true;
        errno = ELOOP;
        return close_keeping_errno(target);
    }
    return target;
}

int openat_retry(int dir_fd, const char* name, int flags, mode_t mode) {
    int fd;
    do fd = openat(dir_fd, name, flags | O_NONBLOCK | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

/* A descriptor just opened without blocking, kept only when it is a regular file (of one name when
 * `one_name`); then emptied when asked, and blocking again. */
int regular_only(int fd, bool one_name, bool truncate) {
    if (fd < 0) return -1;
    struct stat status;
    if (fstat(fd, &status) != 0) return close_keeping_errno(fd);
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        return close_keeping_errno(fd);
    }
    if (one_name && status.st_nlink > 1) {
        errno = EMLINK;
        return close_keeping_errno(fd);
    }
    if (truncate && ftruncate(fd, 0) != 0) return close_keeping_errno(fd);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return close_keeping_errno(fd);
    return fd;
}

/* create_fresh of a name in the folder open at dir_fd. */
int fresh_in(int dir_fd, const char* name, mode_t mode) {
    if (unlinkat(dir_fd, name, 0) != 0 && errno != ENOENT) return -1;
    const int fd = openat(dir_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    if (fchmod(fd, mode) != 0) return close_keeping_errno(fd);
    return fd;
}

}  // namespace

namespace os_file {

int open_regular_at(int dir_fd, const char* name, int flags, mode_t mode) {
    if (no_text(name)) return -1;
    /* O_TRUNC waits until the file is known to be a regular file of one name. */
    const int fd = openat_retry(dir_fd, name, (flags & ~O_TRUNC) | O_NOFOLLOW, mode);
    return regular_only(fd, true, (flags & O_TRUNC) != 0);
}

int open_regular(const char* path, int flags, mode_t mode) {
    folder_refused = false;
    if (no_text(path)) return -1;
    const ParentFolder folder(path);
    return folder.usable() ? open_regular_at(folder.fd(), folder.name(), flags, mode) : -1;
}

int open_data_file(const char* path, int flags, mode_t mode) {
    if (no_text(path)) return -1;
    const int fd = openat_retry(AT_FDCWD, path, flags & ~O_TRUNC, mode);
    return regular_only(fd, false, (flags & O_TRUNC) != 0);
}

int create_fresh(const char* path, mode_t mode, int dir_fd) {
    folder_refused = false;
    if (no_text(path)) return -1;
    if (dir_fd != AT_FDCWD) return fresh_in(dir_fd, path, mode);
    const ParentFolder folder(path);
    return folder.usable() ? fresh_in(folder.fd(), folder.name(), mode) : -1;
}

bool write_fresh(const char* path, std::string_view content, mode_t mode) {
    folder_refused = false;
    if (no_text(path)) return false;
    const ParentFolder folder(path);
    const int fd = folder.usable() ? fresh_in(folder.fd(), folder.name(), mode) : -1;
    if (fd < 0) return false;
    const bool written =
        content.empty() || OS_FILE_write(fd, content.data(), static_cast<int>(content.size())) == CM_RC_OK;
    if (close(fd) == 0 && written) return true;
    const int err = errno;
    unlinkat(folder.fd(), folder.name(), 0);
    errno = err;
    return false;
}

bool append_whole(int fd, std::string_view bytes, bool* cut_left) {
    if (cut_left) *cut_left = false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int why = n < 0 ? errno : EIO;
            if (done > 0) {
                // Appending left the offset at the end of what went in; the file ends there
                // unless another writer came after, whose lines must stay.
                const off_t end = lseek(fd, 0, SEEK_CUR);
                struct stat status;
                const bool taken_back = end >= static_cast<off_t>(done) && fstat(fd, &status) == 0 &&
                                        status.st_size == end && ftruncate(fd, end - static_cast<off_t>(done)) == 0;
                if (cut_left) *cut_left = !taken_back;
            }
            errno = why;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int open_home_folder(const char* path) {
    folder_refused = false;
    if (no_text(path)) return -1;
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
        folder_refused = false;
        errno = EINVAL;
        return -1;
    }
    if (slash == std::string_view::npos) return open_home_folder(".");
    if (slash == 0) return open_home_folder("/");
    return open_home_folder(std::string(whole.substr(0, slash)).c_str());
}

ParentFolder::ParentFolder(const char* path) {
    if (path && *path == '/') {
        name_ = path;
        fd_ = AT_FDCWD;
    } else {
        fd_ = open_parent_folder(path, name_);
    }
}

ParentFolder::~ParentFolder() {
    if (fd_ >= 0) close_keeping_errno(fd_);
}

const char* folder_failure_text(int error) {
    return error == ELOOP ? "a link to a folder that is not the agent owner's" : std::strerror(error);
}

const char* failure_text(int error) {
    if (error != ELOOP) return std::strerror(error);
    return folder_refused ? folder_failure_text(error) : "a link at the file's own name";
}

bool give_to_agent_owner(int fd) {
    uid_t uid;
    gid_t gid;
    return OS_FILE_get_file_owner(".", &uid, &gid) == CM_RC_OK && fchown(fd, uid, gid) == 0;
}

bool make_dir(const char* path, mode_t mode, uid_t owner) {
    if (no_text(path)) return false;
    const ParentFolder folder(path);
    if (!folder.usable() || mkdirat(folder.fd(), folder.name(), mode) != 0) return false;
    const int fd = openat(folder.fd(), folder.name(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    [[maybe_unused]] const int owned_by =
        owner == static_cast<uid_t>(-1) ? 0 : fchown(fd, owner, static_cast<gid_t>(-1));
    const bool set = fchmod(fd, mode) == 0;
    close_keeping_errno(fd);
    return set;
}

}  // namespace os_file
