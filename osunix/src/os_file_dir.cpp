/* File layer, directories: listing a directory and deleting its entries (all, by pattern, by
 * age, or the whole tree).
 * Deletions walk by descriptor from a folder opened as an agent folder, so they never leave the
 * folder they were given, not even through a link swapped in while they run. */
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gm_time.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_file_dir_internal.h"
#include "os_file_nofollow.h"

namespace {

using os_file::Descriptor;

bool is_dot_entry(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

std::string without_trailing_slashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// Calls `each` with the name of every entry of the folder open at dir_fd except "." and ".."
// (the listing has a descriptor of its own; dir_fd stays open). False when it cannot be listed.
template <typename Each>
bool for_each_entry_at(int dir_fd, Each each) {
    const int listing_fd = openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = listing_fd < 0 ? nullptr : fdopendir(listing_fd);
    if (!listing) {
        if (listing_fd >= 0) close(listing_fd);
        return false;
    }
    while (struct dirent* entry = readdir(listing))
        if (!is_dot_entry(entry->d_name)) each(entry->d_name);
    closedir(listing);
    return true;
}

// Empties the folder open at dir_fd: files and links are removed as names, subfolders emptied
// and removed, none of them ever followed. The first failure stops, with its errno.
CM_RC delete_tree_at(int dir_fd) {
    CM_RC rc = CM_RC_OK;
    const bool listed = for_each_entry_at(dir_fd, [&](const char* name) {
        if (rc != CM_RC_OK) return;
        struct stat status;
        if (fstatat(dir_fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
            rc = CM_RC_FAIL;
        } else if (S_ISDIR(status.st_mode)) {
            // A folder swapped for a link meanwhile is refused here, never entered.
            const Descriptor sub(openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (sub.fd < 0 || delete_tree_at(sub.fd) != CM_RC_OK || unlinkat(dir_fd, name, AT_REMOVEDIR) != 0)
                rc = CM_RC_FAIL;
        } else if (unlinkat(dir_fd, name, 0) != 0) {
            rc = CM_RC_FAIL;
        }
    });
    return listed ? rc : CM_RC_FAIL;
}

// The folder that holds `path` (its last name stripped), as an agent folder.
int open_holding_folder(const std::string& path, std::string& name) {
    const size_t slash = path.rfind('/');
    name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::string holder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    return os_file::open_agent_folder(holder, true);
}

// Removes every entry of a folder opened as an agent folder that `wanted` accepts (given the
// folder's descriptor and the entry's name), as a name: a link goes, never what it points at.
// False when the folder cannot be opened or listed.
template <typename Wanted>
bool unlink_entries(const char* dir_name, Wanted wanted) {
    if (!dir_name || !*dir_name) return false;
    const Descriptor dir(os_file::open_agent_folder(dir_name, false));
    if (dir.fd < 0) return false;
    return for_each_entry_at(dir.fd, [&](const char* name) {
        if (wanted(dir.fd, name)) unlinkat(dir.fd, name, 0);
    });
}

}  // namespace

namespace os_file {

int open_agent_folder(const std::string& given, bool follow_last_link) {
    const std::string path = without_trailing_slashes(given);
    if (path.empty()) {
        errno = EINVAL;
        return -1;
    }
    if (path[0] != '/') return open_home_folder(path.c_str());
    const char* home_variable = std::getenv("ORVANTA");
    const std::string home = without_trailing_slashes(home_variable ? home_variable : "");
    const bool below_home = home.size() > 1 && home[0] == '/' && path.compare(0, home.size(), home) == 0 &&
                            (path.size() == home.size() || path[home.size()] == '/');
    struct stat home_status, working_status;
    if (below_home && stat(home.c_str(), &home_status) == 0 && stat(".", &working_status) == 0 &&
        home_status.st_dev == working_status.st_dev && home_status.st_ino == working_status.st_ino) {
        const std::string rest = path.size() == home.size() ? "." : path.substr(home.size() + 1);
        return open_home_folder(rest.c_str());
    }
    return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow_last_link ? 0 : O_NOFOLLOW));
}

}  // namespace os_file

CM_EXTERN_C_BEGIN

CM_RC OS_FILE_dir_open(OS_FILE_LIST_typ* list, const char* dir_name) {
    if (!list) return CM_RC_FAIL;
    *list = dir_name ? opendir(dir_name) : nullptr;
    if (!*list) {
        DIAG_TRACE(2, "error: %s", strerror(dir_name ? errno : EINVAL));
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC OS_FILE_dir_next(OS_FILE_LIST_typ* list, char* name) {
    if (!list || !*list || !name) return CM_RC_FAIL;
    while (struct dirent* entry = readdir(*list)) {
        if (is_dot_entry(entry->d_name)) continue;
        strcpy(name, entry->d_name);  // d_name holds at most NAME_MAX (255) characters
        return CM_RC_OK;
    }
    return CM_RC_DIR_END;
}

CM_RC OS_FILE_dir_close(OS_FILE_LIST_typ* list) {
    if (!list || !*list) return CM_RC_FAIL;
    closedir(*list);
    *list = nullptr;
    return CM_RC_OK;
}

long OS_FILE_dir_telldir(OS_FILE_LIST_typ* list) {
    if (!list || !*list) return -1;
    return telldir(*list);
}

CM_RC OS_FILE_dir_seekdir(OS_FILE_LIST_typ* list, long position) {
    if (!list || !*list) return CM_RC_FAIL;
    seekdir(*list, position);
    return CM_RC_OK;
}

// Deletes the entries of the listed directory itself ("dir/" and "dir" alike).
CM_RC OS_FILE_delete_files(const char* path) {
    unlink_entries(path, [](int, const char*) { return true; });
    return CM_RC_OK;
}

CM_RC OS_FILE_delete_pattern(const char* dir_name, const char* pattern) {
    if (!pattern) return CM_RC_OK;
    unlink_entries(dir_name, [&](int, const char* name) {
        if (fnmatch(pattern, name, 0) != 0) return false;
        DIAG_TRACE(4, "OS_FILE_delete_pattern: file '%s' matches pattern '%s'", name, pattern);
        return true;
    });
    return CM_RC_OK;
}

CM_RC OS_FILE_dir_rm_old_files(const char* dir_name, int keep_days) {
    DATETIME_D_typ today;
    GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDD, today);
    const bool listed = unlink_entries(dir_name, [&](int dir_fd, const char* name) {
        struct stat status;
        if (fstatat(dir_fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
        DATETIME_D_typ modified;
        GM_TIME_fmt_to_ascii(GM_TIME_FMT_YYYYMMDD, status.st_mtime, modified);
        return GM_TIME_fmt_compare_dates(today, modified) > keep_days;
    });
    return listed ? CM_RC_OK : CM_RC_FAIL;
}

// The tree is emptied through descriptors, then its own name removed from the folder holding it
// (a link that led to a folder of the home's owner is removed as the link).
CM_RC OS_FILE_dir_delete(const char* dir_name) {
    if (!dir_name || !*dir_name) return CM_RC_FAIL;
    const std::string path = without_trailing_slashes(dir_name);
    {
        const Descriptor top(os_file::open_agent_folder(path, false));
        if (top.fd < 0 || delete_tree_at(top.fd) != CM_RC_OK) return CM_RC_FAIL;
    }
    std::string name;
    const Descriptor holder(open_holding_folder(path, name));
    struct stat status;
    if (holder.fd < 0 || fstatat(holder.fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return CM_RC_FAIL;
    return unlinkat(holder.fd, name.c_str(), S_ISLNK(status.st_mode) ? 0 : AT_REMOVEDIR) == 0 ? CM_RC_OK : CM_RC_FAIL;
}

CM_EXTERN_C_END
