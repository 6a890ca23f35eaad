/* File layer, directories and disk space: listing a directory, deleting its entries (all, by
 * pattern, by age, or the whole tree) and checking that the file system has room before writing. */
#include <fnmatch.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "gm_time.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_file_internal.h"

namespace {

bool is_dot_entry(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

// Calls `each` with the name of every entry of an open directory except "." and "..".
template <typename Each>
void for_each_entry(DIR* dir, Each each) {
    while (struct dirent* entry = readdir(dir))
        if (!is_dot_entry(entry->d_name)) each(entry->d_name);
}

CM_RC delete_tree(const std::string& dir_name) {
    DIR* dir = opendir(dir_name.c_str());
    if (!dir) return CM_RC_FAIL;
    CM_RC rc = CM_RC_OK;
    while (struct dirent* entry = readdir(dir)) {
        if (is_dot_entry(entry->d_name)) continue;
        std::string path = os_file::join_path(dir_name, entry->d_name);
        struct stat status;
        // lstat: a link to a directory is removed as a link, never followed out of the tree.
        if (lstat(path.c_str(), &status) != 0) {
            rc = CM_RC_FAIL;
        } else if (S_ISDIR(status.st_mode)) {
            rc = delete_tree(path);
        } else if (unlink(path.c_str()) != 0) {
            rc = CM_RC_FAIL;
        }
        if (rc != CM_RC_OK) break;
    }
    closedir(dir);
    if (rc == CM_RC_OK && rmdir(dir_name.c_str()) != 0) rc = CM_RC_FAIL;
    return rc;
}

}  // namespace

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
    if (!path) return CM_RC_OK;
    DIR* dir = opendir(path);
    if (!dir) return CM_RC_OK;
    std::string base = path;
    for_each_entry(dir, [&](const char* name) { unlink(os_file::join_path(base, name).c_str()); });
    closedir(dir);
    return CM_RC_OK;
}

CM_RC OS_FILE_delete_pattern(const char* dir_name, const char* pattern) {
    if (!dir_name || !pattern) return CM_RC_OK;
    DIR* dir = opendir(dir_name);
    if (!dir) return CM_RC_OK;
    std::string base = dir_name;
    for_each_entry(dir, [&](const char* name) {
        if (fnmatch(pattern, name, 0) != 0) return;
        DIAG_TRACE(4, "OS_FILE_delete_pattern: file '%s' matches pattern '%s'", name, pattern);
        unlink(os_file::join_path(base, name).c_str());
    });
    closedir(dir);
    return CM_RC_OK;
}

CM_RC OS_FILE_dir_rm_old_files(const char* dir_name, int keep_days) {
    if (!dir_name) return CM_RC_FAIL;
    DIR* dir = opendir(dir_name);
    if (!dir) return CM_RC_FAIL;
    std::string base = dir_name;
    DATETIME_D_typ today;
    GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDD, today);
    for_each_entry(dir, [&](const char* name) {
        std::string path = os_file::join_path(base, name);
        struct stat status;
        if (stat(path.c_str(), &status) != 0) return;
        DATETIME_D_typ modified;
        GM_TIME_fmt_to_ascii(GM_TIME_FMT_YYYYMMDD, status.st_mtime, modified);
        if (GM_TIME_fmt_compare_dates(today, modified) > keep_days) unlink(path.c_str());
    });
    closedir(dir);
    return CM_RC_OK;
}

CM_RC OS_FILE_dir_delete(const char* dir_name) {
    if (!dir_name || !*dir_name) return CM_RC_FAIL;
    return delete_tree(dir_name);
}

CM_EXTERN_C_END
