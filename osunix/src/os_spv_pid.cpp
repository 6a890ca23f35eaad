/* Pid files of registered processes: the pid directory (ORV_PROC_DIR, else the agent home's
 * "pid" folder), made or repaired on demand, and the empty file <stem>_<pid> in it. Neither is
 * ever changed or written through a link at its name, nor through a linked folder of the home
 * that leads to another user's folder. */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "os_diag.h"
#include "os_file.h"
#include "os_file_dir_internal.h"
#include "os_file_nofollow.h"
#include "os_spv.h"
#include "os_spv_internal.h"

namespace {

constexpr mode_t kOwnerAll = S_IRUSR | S_IWUSR | S_IXUSR;
constexpr mode_t kPidFileMode = 0644;  // as fopen "w" makes it under the start-up umask

// Copies a directory into a PATHNAME_D_typ buffer; a longer one is refused, never cut.
CM_RC put_dir(char* out, const std::string& dir) {
    if (dir.empty() || dir.size() >= sizeof(PATHNAME_D_typ)) return CM_RC_FAIL;
    std::memcpy(out, dir.c_str(), dir.size() + 1);
    return CM_RC_OK;
}

// The pid directory as a folder its owner may read, write and enter, open for making the pid file
// in it: made when missing. Inside the agent home it is walked as a folder of the home (a link on
// the way leads only to a folder of the home's owner); elsewhere a link at its name is refused.
// Anything but a folder is refused, never changed. -1 on failure.
int open_pid_dir(const char* fn, const std::string& dir) {
    int fd = os_file::open_agent_folder(dir, false);
    // A trailing '/' would have mkdir follow a link at the last name.
    std::string folder = dir;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (fd < 0 && errno == ENOENT && os_file::make_dir(folder.c_str(), 0700, static_cast<uid_t>(-1)))
        fd = os_file::open_agent_folder(dir, false);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOTDIR || err == ELOOP)
            DIAG_ERROR("%s: %s is not a directory - can't create files .", fn, dir.c_str());
        else
            DIAG_ERROR("%s: failed to mkdir %s .", fn, dir.c_str());
        DIAG_TRACE(1, "%s: %s: %s", fn, dir.c_str(), os_file::folder_failure_text(err));
        return -1;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || ((status.st_mode & kOwnerAll) != kOwnerAll && fchmod(fd, 0700) != 0)) {
        DIAG_ERROR("%s: failed to chmod of %s .", fn, dir.c_str());
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

extern "C" {

CM_RC OS_SPV_get_dir_from_env(char* directory) {
    if (!directory) return CM_RC_FAIL;
    const char* home = std::getenv("ORVANTA");
    const std::string value = os_spv::unpad(home ? home : "");
    if (value.empty()) {
        DIAG_ERROR("OS_SPV_get_dir_from_env: failed reading LOGICAL_ORVANTA env variable");
        return CM_RC_FAIL;
    }
    return put_dir(directory, value + (value.back() == '/' ? "" : "/") + "pid");
}

CM_RC OS_SPV_get_full_dir_nm(char* directory) {
    if (!directory) return CM_RC_FAIL;
    const char* own = std::getenv("ORV_PROC_DIR");
    const std::string value = os_spv::unpad(own ? own : "");
    if (value.empty()) return OS_SPV_get_dir_from_env(directory);
    return put_dir(directory, value);
}

CM_RC OS_SPV_write_pid_to_dir(const char* proc_path, long pid, int name_length) {
    static const char* const fn = "OS_SPV_write_pid_to_dir";
    DIAG_TRACE(4, "%s entered, pid_filename_length = %d", fn, name_length);
    DIAG_TRACE(4, "proc_path = %s, pid = %ld", proc_path ? proc_path : "(null)", pid);
    if (!proc_path) return CM_RC_FAIL;
    std::string stem;
    if (name_length == 1) {
        const size_t length = std::strlen(proc_path);
        if (length < 2) return CM_RC_FAIL;
        stem = proc_path + length - 2;
    } else if (name_length == 2) {
        stem = proc_path;
    } else {
        DIAG_ERROR("%s: invalid value for pid_filename_length: %d", fn, name_length);
        return CM_RC_FAIL;
    }
    // The stem names a file inside the pid directory, never one elsewhere.
    if (stem.empty() || stem.find('/') != std::string::npos) {
        DIAG_ERROR("%s: invalid pid file name '%s'", fn, stem.c_str());
        return CM_RC_FAIL;
    }
    PATHNAME_D_typ dir = "";
    if (OS_SPV_get_full_dir_nm(dir) != CM_RC_OK) return CM_RC_FAIL;
    const int dir_fd = open_pid_dir(fn, dir);
    if (dir_fd < 0) return CM_RC_FAIL;
    const std::string name = stem + "_" + std::to_string(pid);
    std::string file = dir;
    if (file.back() != '/') file += '/';
    file += name;
    // Made anew in the folder just checked: a link planted at the name is removed, never written.
    const int fd = os_file::create_fresh(name.c_str(), kPidFileMode, dir_fd);
    close(dir_fd);
    if (fd < 0) {
        DIAG_TRACE(4, "%s: fopen failed for file %s.", fn, file.c_str());
        return CM_RC_FAIL;
    }
    close(fd);
    DIAG_TRACE(4, "%s: Created file '%s'", fn, file.c_str());
    return CM_RC_OK;
}

}  // extern "C"
