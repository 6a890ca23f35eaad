// Helpers shared by the file layer's modules (not exported to the agent): the owner user of new
// files, modification-date texts, and the seam through which tests feed the disk-space check.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <functional>
#include <optional>
#include <string>

namespace os_file {

// The user that files created by OS_FILE_CREATE / OS_FILE_CREATE_777 are given to: LOGNAME, or
// the process's own user name when LOGNAME is not set.
std::string owner_user();

// User and group ids of a user name from the user database; nothing when the user is unknown.
struct UserIds {
    uid_t uid;
    gid_t gid;
};
std::optional<UserIds> lookup_user(const std::string& name);
// Gives the file open at fd to owner_user(): its user id and, with `with_group`, its group. False
// when the user is unknown; a change refused by the system is logged with `name` and passes.
bool give_to_owner_user(int fd, const char* name, bool with_group);
// Logs why an open at `path` was refused (a link, a file of another kind, a second name, a folder
// that is not the agent owner's), from errno, which it keeps; other failures log nothing here.
void note_refusal(const char* fn, const char* path);
// Home directory of a user from the user database; false when the user is unknown.
bool home_of(const std::string& user, std::string& home);

// A time as the 14-digit local text YYYYMMDDHHMMSS, written into a buffer of 18 bytes.
void format_date14(time_t when, char* out);

// Joins a directory and an entry name with one "/".
std::string join_path(const std::string& dir, const std::string& name);

// What the disk-space check measures and how it waits; tests replace both.
struct DiskProbe {
    // Free megabytes of the file system holding the path; nothing when the figures are unreadable.
    std::function<std::optional<unsigned long>(const char* path)> free_megabytes;
    std::function<void(unsigned seconds)> sleep;
    // Reads a CONFIG key into a 2048-byte buffer; false when it is absent.
    std::function<bool(const char* key, char* value)> config;
};
DiskProbe current_disk_probe();  // a copy of the probe in force (guarded)
void set_disk_probe(const DiskProbe& probe);
void reset_disk_probe();  // back to statvfs, sleep and the CONFIG table

}  // namespace os_file
