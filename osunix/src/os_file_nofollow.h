// Files and folders at names that the owner of the agent home can foresee, while this process may
// run as root (not exported): a link planted at such a name is never followed, a file of another
// kind (a FIFO that would block, a device) or with a second hard link is never taken, and modes and
// owners are set on the descriptor, never by name.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <string>
#include <string_view>

namespace os_file {

// An existing or new regular file opened without following a link at its name: flags as for
// open(2) (O_NOFOLLOW, O_NONBLOCK and O_CLOEXEC are added; a new file gets `mode` less the umask).
// A relative path is taken in the folder that open_parent_folder gives (a link among the home's
// folders only to a folder of the home's owner); an absolute path (a configured folder) is opened
// as it stands. O_NONBLOCK only keeps a FIFO from holding the open and is cleared again; O_TRUNC
// empties the file only once it is known to be a regular file of one name. -1 with errno ELOOP for
// a link (at the name or, refused, among the folders), EINVAL for a file of another kind, EMLINK
// for a file with more than one name.
int open_regular(const char* path, int flags, mode_t mode = 0);

// open_regular of `name` in the folder open at dir_fd (a name without a slash).
int open_regular_at(int dir_fd, const char* name, int flags, mode_t mode = 0);

// A data file that an installation may keep behind links (the locale data): links are followed,
// but the open never waits on a FIFO and anything but a regular file is refused (EINVAL). Blocking
// is cleared once the file is known to be regular.
int open_data_file(const char* path, int flags, mode_t mode = 0);

// A new file of this process: whatever stands at the name is removed first (a link itself, never
// its target) and the file is created exclusively, so that a name that reappears in between is
// refused. Write only, `mode` set on the descriptor. -1 with errno on failure. `dir_fd` is the
// folder a relative path is taken in; with AT_FDCWD that folder is the one open_parent_folder
// gives.
int create_fresh(const char* path, mode_t mode, int dir_fd = AT_FDCWD);

// create_fresh with the whole content written; a file that could not be written whole is removed.
bool write_fresh(const char* path, std::string_view content, mode_t mode);

// Appends bytes to the file open at fd for appending, whole or not at all: a write cut short (a
// full disk, the file-size limit) is taken back, when the file still ends where that write left
// it (no other writer came after), so the next entry starts a line of its own. False when the
// bytes are not in the file, with errno of the refused write; *cut_left (when given) says that a
// cut piece could not be taken back.
bool append_whole(int fd, std::string_view bytes, bool* cut_left = nullptr);

// Gives the file open at fd the owner and group of the agent home "."; false when they cannot be
// told or set.
bool give_to_agent_owner(int fd);

// Makes a folder and sets its owner and its whole mode, which the umask does not narrow, on the
// new folder's own descriptor. The owner is left as it is when it is -1 or cannot be given (a
// process that is not root). False when the folder cannot be made (errno EEXIST when the name is
// taken, by anything) or its mode cannot be set.
bool make_dir(const char* path, mode_t mode, uid_t owner);

// Opens a folder in which this process reads or makes files at foreseeable names. Inside the agent
// home (a relative path, taken from the working directory, which is the home) the path is walked one
// folder at a time, and a link on the way is followed only when the folder it leads to belongs to
// the home's owner, or when the home is root's own: a folder linked on purpose to a bigger disk keeps
// working, a link to someone else's folder is refused. An absolute path is opened as it stands.
// Returns an O_DIRECTORY descriptor, or -1 with errno (ELOOP for a refused link, ENOTDIR for a name
// that is no folder).
int open_home_folder(const char* path);

// Opens the folder that holds `path` as open_home_folder does and gives the last name in `name`; the
// file is then reached with openat(folder, name, ...). -1 with errno as above, EINVAL for an empty
// path or one that ends in a slash.
int open_parent_folder(const char* path, std::string& name);

// The folder a path is taken in and its last name, for the *at() calls that make, change, rename or
// remove a file there: for a relative path the folder that open_parent_folder gives (closed again,
// keeping errno, when this goes); for an absolute one (a configured folder) AT_FDCWD and the whole
// path, as it stands.
class ParentFolder {
public:
    explicit ParentFolder(const char* path);
    ~ParentFolder();
    ParentFolder(const ParentFolder&) = delete;
    ParentFolder& operator=(const ParentFolder&) = delete;
    // False, with errno as open_parent_folder leaves it, when the folder cannot be used.
    bool usable() const { return fd_ >= 0 || fd_ == AT_FDCWD; }
    int fd() const { return fd_; }
    const char* name() const { return name_.c_str(); }

private:
    int fd_ = -1;
    std::string name_;
};

// Why a call of open_home_folder or open_parent_folder failed, for a message: the errno's text, or
// for a refused link "a link to a folder that is not the agent owner's".
const char* folder_failure_text(int error);

// Why a call of open_regular, create_fresh or write_fresh (or a file-layer call built on them)
// failed, for a message: for ELOOP whether a folder on the way or the file's own name was the
// link, else the errno's text. Call it on the thread that made the call, before the next one.
const char* failure_text(int error);

}  // namespace os_file
