/* Shared work files: the process-wide lock of each file (one thread at a time), the lockf lock
 * that keeps agent processes apart, whole-file rewrites through a temporary file renamed over the
 * old one, and reads that never wait for a writer. Every step works in the file's folder through
 * one descriptor of it, opened as the home's folders allow (os_file::open_parent_folder), so no
 * name is walked again between a check and its use. Owns the process's table of files in use. */
#include "os_shared_file_internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <random>
#include <unordered_map>
#include <vector>

#include "os_diag.h"
#include "os_file_nofollow.h"

namespace os_shared {

namespace {

constexpr mode_t kLockFileMode = 0744;    // bits of a lock file made by Options::lock_file
constexpr mode_t kSecretMode = 0600;      // bits of a file of passwords or keys (Options::secret)
constexpr char kTempSuffix[] = "XXXXXX";  // a temporary file's name ends in six letters or digits

// What the process knows of the data file's descriptor while a thread holds the file's lock.
// lockf locks belong to the process and any close of a descriptor of the file drops them, so while
// a holder has the data file open no other thread of the process opens it: readers read through
// the holder's descriptor instead (state open), or wait the moment it takes to open it.
enum class DataFd {
    none,     // no holder, or the holder keeps processes apart by a lock file
    waiting,  // the holder waits for readers to close their own descriptors
    opening,  // the holder is opening the file
    open,     // the holder's descriptor is `fd`
    missing,  // the holder found no file; readers open (and miss) it themselves
};

struct Entry {
    std::mutex m;  // guards the fields below; never held while waiting for another lock or logging
    std::condition_variable cv;
    int users = 0;  // references from holders and readers (guarded by registry_mutex)
    bool writer = false;
    bool lock_file_mode = false;
    DataFd state = DataFd::none;
    int fd = -1;
    int readers = 0;  // readers with a descriptor of their own
};

std::mutex registry_mutex;
// Files in use in this process, by folder and name (Place::key). Never destroyed: threads may still use it
// while the process exits.
std::unordered_map<std::string, Entry>& registry() {
    static auto* files = new std::unordered_map<std::string, Entry>();
    return *files;
}

// A reference to a file's entry; the entry goes when its last user does.
class EntryRef {
public:
    explicit EntryRef(const std::string& key) : key_(key) {
        std::lock_guard<std::mutex> guard(registry_mutex);
        entry_ = &registry().try_emplace(key).first->second;
        ++entry_->users;
    }
    ~EntryRef() {
        if (!entry_) return;
        std::lock_guard<std::mutex> guard(registry_mutex);
        if (--entry_->users == 0) registry().erase(key_);
    }
    EntryRef(const EntryRef&) = delete;
    EntryRef& operator=(const EntryRef&) = delete;
    Entry& operator*() const { return *entry_; }
    Entry* operator->() const { return entry_; }

private:
    std::string key_;
    Entry* entry_ = nullptr;
};

// Where a file is: a descriptor of its folder (walked as the home's folders allow), its own name,
// and the key it is known by in the process, the folder's device and inode with the name, so that
// every spelling of a path ("./data/x.dat", "data/x.dat", the absolute path) shares one lock. A
// link at the name itself is never followed: the facility refuses it rather than read, lock or
// replace what it points at.
struct Place {
    int dir_fd = -1;
    std::string name;
    std::string key;
    std::string folder_key;  // the folder's device and inode

    Place() = default;
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;
    ~Place() {
        if (dir_fd >= 0) ::close(dir_fd);
    }

    // False, with errno, when the folder cannot be opened or is refused.
    bool open(const std::string& path) {
        dir_fd = os_file::open_parent_folder(path.c_str(), name);
        if (dir_fd < 0) return false;
        struct stat folder {};
        if (::fstat(dir_fd, &folder) != 0) return false;
        folder_key = std::to_string(folder.st_dev) + ":" + std::to_string(folder.st_ino);
        key = folder_key + "/" + name;
        return true;
    }
};

// lockf locks belong to processes, so the kernel's deadlock check answers EDEADLK when a thread of
// one process waits for a file that another process holds while that process has a thread waiting
// for a file this process holds, though the threads wait for nothing of their own: two agents that
// each change two files at once from two threads. Such a refusal is waited out, within a bound.
constexpr int kDeadlockRetries = 30000;  // ~30 s in steps of 1 ms
constexpr useconds_t kDeadlockPause = 1000;

bool lock_whole(int fd) {
    for (int refused = 0;;) {
        if (::lockf(fd, F_LOCK, 0) == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EDEADLK || ++refused > kDeadlockRetries) return false;
        ::usleep(kDeadlockPause);
    }
}

// Whether the name in the folder leads to the file open on fd (a link at the name leads nowhere).
bool same_file(int fd, int dir_fd, const std::string& name) {
    struct stat open_file {};
    struct stat named {};
    return ::fstat(fd, &open_file) == 0 && ::fstatat(dir_fd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

// Opens a data or lock file in its folder without following a link at its name and without
// waiting on a FIFO; anything but a regular file of one name is refused (ELOOP for a link, EINVAL
// for another kind, EMLINK for a second name). Reads and locks then wait as they always did.
int open_at_name(int dir_fd, const std::string& name, int flags, mode_t mode = 0) {
    return os_file::open_regular_at(dir_fd, name.c_str(), flags, mode);
}

bool write_all(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The whole file, read straight into the string: as many bytes as its status gives and one more,
// so that the read which finds the end needs no room of its own; a file that grew meanwhile is
// read on to its end.
CM_RC read_descriptor(int fd, std::string& content, struct stat* status) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return CM_RC_FAIL;
    std::string text;
    text.resize(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)) + 1);
    std::size_t done = 0;
    for (;;) {
        if (done == text.size()) text.resize(2 * done);
        const ssize_t n = ::pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return CM_RC_FAIL;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    text.resize(done);
    content.swap(text);
    if (status) *status = st;
    return CM_RC_OK;
}

CM_RC read_path(int dir_fd, const std::string& name, std::string& content, struct stat* status) {
    const int fd = open_at_name(dir_fd, name, O_RDONLY);
    if (fd < 0) return CM_RC_OPEN_FAILED;
    CM_RC rc = CM_RC_FAIL;
    try {
        rc = read_descriptor(fd, content, status);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    return rc;
}

// A new description of the folder open at dir_fd (its own flock, its own directory stream).
int reopen_folder(int dir_fd) {
    int fd;
    do fd = ::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// A temporary file beside the data file, ".<name>.tmp" and six letters or digits, made exclusively
// in the folder (never through a link); its name goes into `temp`. -1 with errno.
int make_temp(int dir_fd, const std::string& prefix, std::string& temp) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 draw{std::random_device{}() ^ static_cast<std::uint64_t>(::getpid())};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = prefix;
        for (std::size_t i = 0; i + 1 < sizeof kTempSuffix; ++i) temp += kLetters[draw() % (sizeof kLetters - 1)];
        const int fd = ::openat(dir_fd, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

struct FileLock::Held {
    std::string key;    // the data file's folder (device and inode) and name
    std::string shown;  // the path as the caller gave it, for messages
    int dir_fd;         // the data file's folder; every step works in it
    std::string name;
    std::string folder_key;
    EntryRef entry;
    bool data_locked;      // processes are kept apart by the data file's own lock
    bool secret = false;   // the holder's file holds passwords or keys (Options::secret)
    int lock_fd = -1;      // the descriptor that carries the lockf lock
    int lock_dir_fd = -1;  // the lock file's folder (Options::lock_file)
    std::string lock_name;
    bool exists = false;
    bool folder_locked = false;  // holds its folder's lock while the file is missing
    int views = 0;

    Held(Place& place, const std::string& path, bool data)
        : key(place.key),
          shown(path),
          dir_fd(place.dir_fd),
          name(place.name),
          folder_key(place.folder_key),
          entry(place.key),
          data_locked(data) {
        place.dir_fd = -1;  // the descriptor is the lock's now
    }
    ~Held() {
        if (dir_fd >= 0) ::close(dir_fd);
        if (lock_dir_fd >= 0) ::close(lock_dir_fd);
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
};

namespace {

thread_local std::vector<FileLock::Held*> held_here;  // locks this thread holds

FileLock::Held* held_by_this_thread(const std::string& key) {
    for (FileLock::Held* h : held_here)
        if (h->key == key) return h;
    return nullptr;
}

// While a file is missing there is no file whose lock could keep processes apart, so its folder's
// lock (flock, which threads of one process hold apart too) stands in for it: whoever finds the
// file missing holds the folder's lock until it has created the file and locked it, or until it
// lets go, and no one creates the file without it. A thread holds a folder's lock once, however many
// of its locks need it.
struct FolderLock {
    std::string folder;
    int fd;
    int users;
};
thread_local std::vector<FolderLock> folders_here;

bool lock_folder(FileLock::Held& h) {
    if (h.folder_locked) return true;
    const std::string& folder = h.folder_key;
    for (FolderLock& held : folders_here) {
        if (held.folder == folder) {
            ++held.users;
            h.folder_locked = true;
            return true;
        }
    }
    const int fd = reopen_folder(h.dir_fd);
    if (fd < 0) return false;
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return false;
        }
    }
    folders_here.push_back({folder, fd, 1});
    h.folder_locked = true;
    return true;
}

void unlock_folder(FileLock::Held& h) {
    if (!h.folder_locked) return;
    h.folder_locked = false;
    const std::string& folder = h.folder_key;
    for (auto it = folders_here.begin(); it != folders_here.end(); ++it) {
        if (it->folder != folder) continue;
        if (--it->users == 0) {
            ::close(it->fd);
            folders_here.erase(it);
        }
        return;
    }
}

// Keeps the process's readers from opening the data file themselves until publish(): new ones wait,
// and those that have it open already are waited for. Logs nothing: readers may be waiting.
void hold_off_readers(FileLock::Held& h) {
    Entry& e = *h.entry;
    std::unique_lock<std::mutex> lk(e.m);
    e.state = DataFd::waiting;
    e.cv.wait(lk, [&] { return e.readers == 0; });
    e.state = DataFd::opening;
}

// Makes fd the holder's descriptor, through which the process's readers read from now on (-1: the
// file is missing and readers open, and miss, it themselves). The descriptor it replaces (a file the
// name no longer leads to) is closed.
void publish(FileLock::Held& h, int fd) {
    Entry& e = *h.entry;
    {
        std::lock_guard<std::mutex> lk(e.m);
        if (h.lock_fd >= 0 && h.lock_fd != fd) ::close(h.lock_fd);
        h.lock_fd = fd;
        e.fd = fd;
        e.state = fd >= 0 ? DataFd::open : DataFd::missing;
    }
    e.cv.notify_all();
}

// Opens the data file as the holder's descriptor (lockf needs a writable one). -1 with errno when
// the open fails.
int open_held(FileLock::Held& h) {
    hold_off_readers(h);
    const int fd = open_at_name(h.dir_fd, h.name, O_RDWR);
    const int open_error = errno;
    publish(h, fd);
    errno = open_error;
    return fd;
}

// Opens and locks the data file (a holder's first lock, or again once the name leads elsewhere).
// The descriptor is published before lockf waits, so readers of the process read through it and
// never open the file themselves while the process holds its lock. A missing file stays missing:
// the holder keeps the folder's lock until its first rewrite puts the file in place.
CM_RC lock_data(FileLock::Held& h) {
    for (;;) {
        const int fd = open_held(h);
        if (fd < 0 && errno == ENOENT) {
            // Missing: under the folder's lock no one else creates it; look again under it.
            if (h.folder_locked) {
                h.exists = false;
                return CM_RC_OK;
            }
            if (!lock_folder(h)) return CM_RC_FAIL;
            continue;
        }
        if (fd < 0) {
            const int open_error = errno;
            unlock_folder(h);
            errno = open_error;
            return CM_RC_OPEN_FAILED;
        }
        if (!lock_whole(fd)) {
            const int lock_error = errno;
            publish(h, -1);
            h.exists = false;
            unlock_folder(h);
            errno = lock_error;
            return CM_RC_LOCKED;
        }
        if (same_file(fd, h.dir_fd, h.name)) {
            h.exists = true;
            unlock_folder(h);  // the file's own lock keeps the processes apart from now on
            return CM_RC_OK;
        }
        // A rewrite replaced the file (or it was removed) while this holder waited: lock again.
    }
}

// Locks the lock file that keeps processes apart for this data file.
CM_RC lock_lock_file(FileLock::Held& h, const std::string& lock_path) {
    Place lock_place;
    if (!lock_place.open(lock_path)) return CM_RC_CREATE_FAILED;
    h.lock_name = lock_place.name;
    h.lock_dir_fd = lock_place.dir_fd;
    lock_place.dir_fd = -1;
    for (;;) {
        const int fd = open_at_name(h.lock_dir_fd, h.lock_name, O_RDWR | O_CREAT, kLockFileMode);
        if (fd < 0) return CM_RC_CREATE_FAILED;
        if (!lock_whole(fd)) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return CM_RC_LOCKED;
        }
        if (same_file(fd, h.lock_dir_fd, h.lock_name)) {
            h.lock_fd = fd;
            return CM_RC_OK;
        }
        ::close(fd);
    }
}

// Gives up the process lock and the thread lock. The descriptor is closed before another thread
// may take the file: its close would drop that thread's lock.
void drop_locks(FileLock::Held& h) {
    unlock_folder(h);
    Entry& e = *h.entry;
    {
        std::lock_guard<std::mutex> lk(e.m);
        if (h.lock_fd >= 0) ::close(h.lock_fd);
        h.lock_fd = -1;
        e.fd = -1;
        e.state = DataFd::none;
        e.writer = false;
        e.lock_file_mode = false;
    }
    e.cv.notify_all();
}

// A writer killed in the middle of a rewrite leaves its temporary file beside the data file, with
// what it was writing (passwords, in the accounts file). A later writer, holding the file's lock,
// removes those older than a few minutes; a fresh one may still belong to a writer at work. Looking
// for them reads the whole folder, so a process does it for a file at its first rewrite and then
// at most once every kStaleTempAge: a temporary file left behind goes within twice that time.
constexpr time_t kStaleTempAge = 5 * 60;
constexpr std::size_t kSweptFilesKept = 64;  // beyond this, files not swept for a while are forgotten

std::mutex sweeps_mutex;
// When this process last looked for each file's stale temporary files (monotonic seconds). Never
// destroyed: threads may still rewrite files while the process exits.
std::unordered_map<std::string, time_t>& last_sweeps() {
    static auto* sweeps = new std::unordered_map<std::string, time_t>();
    return *sweeps;
}

bool sweep_due(const std::string& key) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    std::lock_guard<std::mutex> guard(sweeps_mutex);
    auto& sweeps = last_sweeps();
    const auto [swept, first] = sweeps.try_emplace(key, now.tv_sec);
    if (!first && now.tv_sec - swept->second < kStaleTempAge) return false;
    swept->second = now.tv_sec;
    if (first && sweeps.size() > kSweptFilesKept) {
        // A file whose last sweep is that old is due anyway: forgetting it changes nothing.
        std::erase_if(sweeps, [&](const auto& entry) { return now.tv_sec - entry.second >= kStaleTempAge; });
    }
    return true;
}

void remove_stale_temps(const FileLock::Held& h) {
    if (!sweep_due(h.key)) return;
    const std::string prefix = temp_prefix(h.name);
    const int fd = reopen_folder(h.dir_fd);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0) ::close(fd);
        return;
    }
    const time_t now = ::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.size() != prefix.size() + sizeof kTempSuffix - 1 || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            now - st.st_mtime < kStaleTempAge)
            continue;
        if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
            DIAG_TRACE(4, "%s: removed '%s', left beside '%s' by a writer that ended in the middle of a rewrite",
                       "os_shared", entry->d_name, h.shown.c_str());
    }
    ::closedir(dir);
}

// Puts the whole content in place of the file: a temporary file beside it is written, flushed to
// disk, given `mode` and its owner (the agent owner for a file of secrets, else the old file's when
// there is one), locked when the data file keeps the processes apart, and renamed over the name. A
// file that is missing is created this way too, under its folder's lock and only while it is still
// missing, so that no one ever finds an empty file at the name and no cycle's content replaces a
// file it was not computed from.
CM_RC put_in_place(FileLock::Held& h, const FileLock::Writer& write, mode_t mode, bool secret, const struct stat* old,
                   struct stat* written) {
    const bool creating = !h.exists;
    if (creating && h.data_locked) {
        // The holder has the folder's lock since it found the file missing, unless it removed the
        // file itself; then someone may have made it anew meanwhile.
        struct stat there {};
        if (!lock_folder(h)) {
            DIAG_ERROR("%s: cannot lock the folder of '%s': %s", "os_shared", h.shown.c_str(), std::strerror(errno));
            return CM_RC_FAIL;
        }
        if (::fstatat(h.dir_fd, h.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) {
            DIAG_ERROR("%s: cannot create '%s': another writer made it meanwhile", "os_shared", h.shown.c_str());
            return CM_RC_CREATE_FAILED;
        }
    }
    std::string temp;
    int fd = -1;
    try {
        remove_stale_temps(h);
        fd = make_temp(h.dir_fd, temp_prefix(h.name), temp);
    } catch (...) {
        return CM_RC_FAIL;
    }
    if (fd < 0) {
        DIAG_ERROR("%s: cannot make a temporary file beside '%s': %s", "os_shared", h.shown.c_str(),
                   std::strerror(errno));
        return CM_RC_FAIL;
    }
    struct stat now {};
    bool ok = write(fd) && ::fsync(fd) == 0 && ::fchmod(fd, mode) == 0 && ::fstat(fd, &now) == 0;
    if (ok && secret) {
        // A file of passwords or keys belongs to the agent owner (a process that is not root
        // cannot give it away and stays its owner).
        if (os_file::give_to_agent_owner(fd)) (void)::fstat(fd, &now);
    } else if (ok && old && (now.st_uid != old->st_uid || now.st_gid != old->st_gid)) {
        // Without the right to give the file its old owner, the writer stays its owner.
        if (::fchown(fd, old->st_uid, old->st_gid) == 0) (void)::fstat(fd, &now);
    }
    // The new file is locked before it takes the name: a process that opens the name from then on
    // waits for this holder. Readers of this process that would open a new file themselves wait
    // until it is the holder's descriptor: their close would drop the lock.
    if (ok && h.data_locked) ok = lock_whole(fd);
    const bool readers_held_off = ok && creating && h.data_locked;
    if (readers_held_off) hold_off_readers(h);
    if (ok) ok = ::renameat(h.dir_fd, temp.c_str(), h.dir_fd, h.name.c_str()) == 0;
    const int err = errno;
    if (h.data_locked && (ok || readers_held_off)) publish(h, ok ? fd : -1);
    if (!ok) {
        ::unlinkat(h.dir_fd, temp.c_str(), 0);
        ::close(fd);
        DIAG_ERROR("%s: cannot rewrite '%s', the file is kept as it was: %s", "os_shared", h.shown.c_str(),
                   std::strerror(err));
        return CM_RC_FAIL;
    }
    if (!h.data_locked) ::close(fd);
    (void)::fsync(h.dir_fd);  // the rename survives a power cut once the folder is on disk
    h.exists = true;
    unlock_folder(h);  // the new file's own lock keeps the processes apart from now on
    if (written) *written = now;
    return CM_RC_OK;
}

}  // namespace

FileLock::FileLock(const std::string& path, Options options) : options_(std::move(options)) {
    std::unique_ptr<Held> held;
    try {
        Place place;
        if (!place.open(path)) {
            const int err = errno;
            result_ = CM_RC_OPEN_FAILED;
            DIAG_ERROR("%s: cannot lock '%s' (%d): %s", "os_shared", path.c_str(), result_,
                       os_file::folder_failure_text(err));
            return;
        }
        if (Held* h = held_by_this_thread(place.key)) {
            ++h->views;
            held_ = h;
            view_ = true;
            result_ = CM_RC_OK;
            return;
        }
        held = std::make_unique<Held>(place, path, options_.lock_file.empty());
        held->secret = options_.secret;
        held_here.reserve(held_here.size() + 1);
    } catch (...) {
        result_ = CM_RC_FAIL;
        return;
    }
    Entry& e = *held->entry;
    {
        std::unique_lock<std::mutex> lk(e.m);
        e.cv.wait(lk, [&] { return !e.writer; });
        e.writer = true;
        e.lock_file_mode = !held->data_locked;
    }
    CM_RC rc;
    if (held->data_locked) {
        rc = lock_data(*held);
    } else {
        rc = lock_lock_file(*held, options_.lock_file);
        struct stat st {};
        held->exists = ::fstatat(held->dir_fd, held->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (rc == CM_RC_OK && held->exists && !S_ISREG(st.st_mode)) {
            errno = S_ISLNK(st.st_mode) ? ELOOP : EINVAL;  // never read, locked or replaced through
            rc = CM_RC_OPEN_FAILED;
        }
    }
    if (rc != CM_RC_OK) {
        const int err = errno;
        drop_locks(*held);
        result_ = rc;
        DIAG_ERROR("%s: cannot lock '%s' (%d): %s", "os_shared", path.c_str(), rc, os_file::failure_text(err));
        return;
    }
    held_here.push_back(held.get());
    held_ = held.release();
    result_ = CM_RC_OK;
}

FileLock::~FileLock() { release(); }

void FileLock::release() {
    Held* h = held_;
    held_ = nullptr;
    result_ = CM_RC_FAIL;
    if (!h) return;
    if (view_) {
        --h->views;
        return;
    }
    held_here.erase(std::remove(held_here.begin(), held_here.end(), h), held_here.end());
    drop_locks(*h);
    delete h;
}

bool FileLock::exists() const { return held_ && held_->exists; }

CM_RC FileLock::read(std::string& content, struct stat* status) {
    if (!held_) return CM_RC_FAIL;
    if (!held_->exists) return CM_RC_OPEN_FAILED;
    try {
        if (held_->data_locked) return read_descriptor(held_->lock_fd, content, status);
        return read_path(held_->dir_fd, held_->name, content, status);
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC FileLock::create() {
    if (!held_) return CM_RC_FAIL;
    if (held_->exists) return CM_RC_OK;
    const bool secret = is_secret();
    return put_in_place(
        *held_, [](int) { return true; }, secret ? kSecretMode : options_.new_mode, secret, nullptr, nullptr);
}

CM_RC FileLock::rewrite(std::string_view content, struct stat* written) {
    return rewrite_with([content](int fd) { return write_all(fd, content); }, written);
}

CM_RC FileLock::rewrite_with(const Writer& write, struct stat* written) {
    if (!held_) return CM_RC_FAIL;
    Held& h = *held_;
    const bool secret = is_secret();
    if (!h.exists) {
        const mode_t mode = options_.force_mode ? options_.new_mode : options_.new_mode | options_.add_bits;
        return put_in_place(h, write, secret ? kSecretMode : mode, secret, nullptr, written);
    }
    struct stat old {};
    const int stat_rc =
        h.data_locked ? ::fstat(h.lock_fd, &old) : ::fstatat(h.dir_fd, h.name.c_str(), &old, AT_SYMLINK_NOFOLLOW);
    if (stat_rc != 0) {
        DIAG_ERROR("%s: cannot read the status of '%s': %s", "os_shared", h.shown.c_str(), std::strerror(errno));
        return CM_RC_FAIL;
    }
    const mode_t mode = options_.force_mode ? options_.new_mode : ((old.st_mode & 07777) | options_.add_bits);
    return put_in_place(h, write, secret ? kSecretMode : mode, secret, &old, written);
}

CM_RC FileLock::remove() {
    if (!held_) return CM_RC_FAIL;
    Held& h = *held_;
    if (!h.exists) return CM_RC_OK;
    if (::unlinkat(h.dir_fd, h.name.c_str(), 0) != 0 && errno != ENOENT) {
        DIAG_ERROR("%s: cannot remove '%s': %s", "os_shared", h.shown.c_str(), std::strerror(errno));
        return CM_RC_FAIL;
    }
    h.exists = false;
    if (h.data_locked) {
        // The lock stays on the removed file until release; readers now find no file.
        Entry& e = *h.entry;
        std::lock_guard<std::mutex> lk(e.m);
        e.state = DataFd::missing;
    }
    return CM_RC_OK;
}

CM_RC read_file(const std::string& path, std::string& content, struct stat* status) {
    try {
        Place place;
        if (!place.open(path)) return CM_RC_OPEN_FAILED;
        const std::string& key = place.key;
        if (FileLock::Held* h = held_by_this_thread(key)) {
            if (!h->exists) return CM_RC_OPEN_FAILED;
            return h->data_locked ? read_descriptor(h->lock_fd, content, status)
                                  : read_path(h->dir_fd, h->name, content, status);
        }
        EntryRef e(key);
        {
            std::unique_lock<std::mutex> lk(e->m);
            auto holder_opening = [&] {
                return e->writer && !e->lock_file_mode && (e->state == DataFd::waiting || e->state == DataFd::opening);
            };
            e->cv.wait(lk, [&] { return !holder_opening(); });
            if (e->writer && !e->lock_file_mode && e->state == DataFd::open)
                return read_descriptor(e->fd, content, status);
            ++e->readers;
        }
        CM_RC rc = CM_RC_FAIL;
        try {
            rc = read_path(place.dir_fd, place.name, content, status);
        } catch (...) {
        }
        {
            std::lock_guard<std::mutex> lk(e->m);
            --e->readers;
        }
        e->cv.notify_all();
        return rc;
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC write_file(const std::string& path, std::string_view content, const Options& options, struct stat* written) {
    FileLock lock(path, options);
    if (!lock) return lock.result();
    return lock.rewrite(content, written);
}

CM_RC create_file(const std::string& path, const Options& options) {
    FileLock lock(path, options);
    if (!lock) return lock.result();
    return lock.create();
}

CM_RC remove_file(const std::string& path) {
    FileLock lock(path);
    if (!lock) return lock.result();
    return lock.remove();
}

std::string temp_prefix(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    std::string prefix(1, '.');
    prefix += slash == std::string::npos ? path : path.substr(slash + 1);
    prefix += ".tmp";
    return prefix;
}

bool FileLock::is_secret() const { return options_.secret || (held_ && held_->secret); }

void FileLock::keep_private() { options_.secret = true; }

}  // namespace os_shared
