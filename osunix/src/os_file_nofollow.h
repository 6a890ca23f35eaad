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
// -1 with errno ELOOP for a link, EINVAL for a file of another kind, EMLINK for a file with more
// than one name.
int open_regular(const char* path, int flags, mode_t mode = 0);

// A new file of this process: whatever stands at the name is removed first (a link itself, never
// its target) and the file is created exclusively, so that a name that reappears in between is
// refused. Write only, `mode` set on the descriptor. -1 with errno on failure. `dir_fd` is the
// folder a relative path is taken in.
int create_fresh(const char* path, mode_t mode, int dir_fd = AT_FDCWD);

// create_fresh with the whole content written; a file that could not be written whole is removed.
bool write_fresh(const char* path, std::string_view content, mode_t mode);

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

// Why a call of open_home_folder or open_parent_folder failed, for a message: the errno's text, or
// for a refused link "a link to a folder that is not the agent owner's".
const char* folder_failure_text(int error);

}  // namespace os_file
