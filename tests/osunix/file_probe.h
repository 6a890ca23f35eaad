// Helpers for the file-layer tests that need a second process: seeing a lock from outside,
// holding a lock for a while, and running a check as an unprivileged user.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace file_probe {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

// Runs `check` in a forked child and returns its result as the child's exit code (255 when the
// child did not exit normally).
inline int in_child(const std::function<int()>& check) {
    pid_t pid = fork();
    if (pid == 0) _exit(check());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

// The kind of lock another process sees on the whole file: F_UNLCK, F_RDLCK or F_WRLCK.
inline int lock_seen_from_outside(const std::string& path) {
    return in_child([&] {
        int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) return 100;
        struct flock probe = {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        if (fcntl(fd, F_GETLK, &probe) != 0) return 101;
        return static_cast<int>(probe.l_type);
    });
}

// Runs `check` in a child that has dropped root for nobody/nogroup.
inline int as_nobody(const std::function<int()>& check) {
    return in_child([&] {
        if (setgid(kNogroup) != 0 || setuid(kNobody) != 0) return 102;
        return check();
    });
}

inline mode_t bits_of(const std::string& path) {
    struct stat status = {};
    stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// A child process that holds an exclusive lockf lock on a file until released (or until its
// own limit of ten seconds runs out, so that a failing test never hangs).
class LockHolder {
public:
    explicit LockHolder(const std::string& path) {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release[1]);
            int fd = open(path.c_str(), O_RDWR);
            char ok = (fd >= 0 && lockf(fd, F_LOCK, 0) == 0) ? 'y' : 'n';
            if (write(ready[1], &ok, 1) != 1) _exit(1);
            struct timeval limit = {10, 0};
            fd_set set;
            FD_ZERO(&set);
            FD_SET(release[0], &set);
            select(release[0] + 1, &set, nullptr, nullptr, &limit);
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_fd_ = release[1];
        char ok = 'n';
        locked_ = read(ready[0], &ok, 1) == 1 && ok == 'y';
        close(ready[0]);
    }
    ~LockHolder() { release(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    bool locked() const { return locked_; }
    void release() {
        if (release_fd_ >= 0) {
            close(release_fd_);
            release_fd_ = -1;
        }
        if (pid_ > 0) {
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    // Lets go after a delay, from a background thread of the test process.
    std::thread release_after(std::chrono::milliseconds delay) {
        return std::thread([this, delay] {
            std::this_thread::sleep_for(delay);
            release();
        });
    }

private:
    pid_t pid_ = -1;
    int release_fd_ = -1;
    bool locked_ = false;
};

}  // namespace file_probe
