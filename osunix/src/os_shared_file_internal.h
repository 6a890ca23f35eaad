// Shared work files: the one way the plug-in reads, rewrites and updates a file that other threads
// of its process and other agent processes use too (requests file, jobs failure table, procid
// files, accounts file and its backup, central-profile cache files, parameter tables, watcher
// files). A relative path is reached through the home's folders as os_file::open_parent_folder
// allows; a link at the file's own name is refused. Not exported; docs/file-layer.md describes the
// protocol.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

#include "cmpltfrm.h"

namespace os_shared {

// How a rewrite sets the file's permission bits, and what keeps processes apart.
struct Options {
    mode_t new_mode = 0644;   // bits of a file that a rewrite creates (set exactly, whatever the umask)
    mode_t add_bits = 0;      // bits added to an existing file's own bits by every rewrite
    bool force_mode = false;  // every rewrite sets new_mode, whatever bits the file had
    // When set, processes are kept apart by the lockf lock of this file (created when missing,
    // never rewritten) instead of the data file's own.
    std::string lock_file;
    // The file holds passwords or keys: every rewrite makes it 0600, whatever the bits above say,
    // and gives it to the agent owner (the owner of the home "."). A lock taken so keeps a table
    // save inside its cycle private too.
    bool secret = false;
};

// Whole content of a shared file as the last rewrite left it: never a torn or half-written one.
// Takes no lock, so it never waits for a writer's load-change-save cycle. 1; 11 when the file
// cannot be opened (missing, or refused: a link, a FIFO or another kind of file at its name, a
// folder linked to someone else's); 2 when it cannot be read. `status` (optional) gets its status.
CM_RC read_file(const std::string& path, std::string& content, struct stat* status = nullptr);

// The locks of one shared file, held from construction to release() or destruction, for a whole
// load-change-save cycle: first the process-wide lock of the file (one thread of the process at a
// time), then the lockf lock of the data file (or of Options::lock_file) for the processes. When
// the data file is locked itself, the lock checks after locking that the name still leads to the
// file it locked (a rewrite replaces the file) and locks again if not.
//
// A thread that already holds a file's lock and locks it again (a table save inside a cycle) gets
// a view of the lock it holds; reads and rewrites go through it and nothing is locked twice.
class FileLock {
public:
    explicit FileLock(const std::string& path, Options options = {});
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // 1 while held; else why the lock was not taken (8 lock refused, 11 open failed, 22 creation
    // failed, 2 any other failure). A lock that is not held reads and writes nothing.
    CM_RC result() const { return result_; }
    explicit operator bool() const { return result_ == CM_RC_OK; }
    // Whether the data file exists (as this lock last saw it).
    bool exists() const;

    // The file's whole content under the lock; 11 when it does not exist.
    CM_RC read(std::string& content, struct stat* status = nullptr);
    // Creates the file empty (bits Options::new_mode) when it is missing, so that the processes'
    // lock covers it. 1, or the failure.
    CM_RC create();
    // Replaces the whole content: a temporary file in the same folder is written, flushed to disk,
    // given the old file's bits (Options) and owner and renamed over the file, so every reader sees
    // the old or the new content. A failed write removes the temporary file, keeps the old file and
    // returns 2. A missing file is created. `written` (optional) gets the new file's status.
    CM_RC rewrite(std::string_view content, struct stat* written = nullptr);
    // Writes the new content into the temporary file's descriptor; false when the write failed.
    using Writer = std::function<bool(int fd)>;
    // As rewrite, with the content that write puts into the temporary file as it goes (a content
    // too large to hold whole); a write that returns false is a failed write.
    CM_RC rewrite_with(const Writer& write, struct stat* written = nullptr);
    // Removes the file. 1, or 2 when it cannot be removed; a missing file gives 1.
    CM_RC remove();
    // From now on this lock's rewrites treat the file as one of secrets (Options::secret).
    void keep_private();

    void release();

    struct Held;

private:
    bool is_secret() const;  // this lock's options, or the holder's for a view, say secret

    Held* held_ = nullptr;
    bool view_ = false;  // a view of a lock this thread already held
    Options options_;
    CM_RC result_ = CM_RC_FAIL;
};

// One whole-file rewrite under the file's locks. 1, or the failure of the lock or the write.
CM_RC write_file(const std::string& path, std::string_view content, const Options& options = {},
                 struct stat* written = nullptr);

// Creates the file empty when it is missing (an existing file is left as it is). 1 or the failure.
CM_RC create_file(const std::string& path, const Options& options = {});

// Removes the file under its locks. 1 (also when it was missing), or 2.
CM_RC remove_file(const std::string& path);

// Prefix of the temporary files that a rewrite of `path` makes beside it (".<name>.tmp"); a
// write cut short by the end of the process can leave one behind, which a later rewrite of the
// file removes once it is a few minutes old.
std::string temp_prefix(const std::string& path);

}  // namespace os_shared
