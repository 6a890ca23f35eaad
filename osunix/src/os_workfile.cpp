/* Naming side of the OS layer: work-file names of a job, library and member paths, "$HOME" and "~"
 * expansion, home directories, temporary names, the first match of a file-name pattern, and the
 * housekeeping of configuration backups and upgrade leftovers. */
#include "os_workfile.h"

#include <fcntl.h>
#include <glob.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gm_36.h"
#include "gm_log.h"
#include "gm_param.h"
#include "gm_time.h"
#include "os_diag.h"
#include "os_file_dir_internal.h"
#include "os_file_internal.h"
#include "os_file_nofollow.h"

namespace os_file {

bool home_of(const std::string& user, std::string& home) {
    std::vector<char> buf(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwnam_r(user.c_str(), &entry, buf.data(), buf.size(), &found) != 0 || !found) return false;
    home = found->pw_dir ? found->pw_dir : "";
    return true;
}

}  // namespace os_file

namespace {

constexpr std::size_t kPathRoom = sizeof(PATHNAME_D_typ);
constexpr std::size_t kLibraryRoom = sizeof(LIBRARY_D_typ);
constexpr std::size_t kMemberRoom = sizeof(MEMBER_D_typ);
constexpr std::size_t kWildLineMax = 2000;

constexpr char kUpgradeListName[] = "upgrade_running_jobs";
constexpr char kUpgradeMsgId[] = "0041";

std::atomic<int> tmp_file_counter{0};

std::string without_trailing_blanks(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// Copies text into a buffer of room bytes; false (buffer untouched) when it does not fit.
bool put(char* out, std::size_t room, const std::string& text) {
    if (text.size() + 1 > room) return false;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

using os_file::home_of;

std::string join_home(const std::string& home, const std::string& rest, bool always_slash) {
    std::string out = home;
    if (always_slash || !rest.empty()) {
        if (out.empty() || out.back() != '/') out += '/';
        out += rest;
    }
    return out;
}

// Time of the last modification of the file open at fd as "YYYY-MM-DD HH:MM:SS"; "" when it
// cannot be read.
std::string modification_time(int fd) {
    struct stat status;
    if (fstat(fd, &status) != 0) return "";
    char text[32] = {};
    GM_TIME_fmt_to_ascii(GM_TIME_FMT_YYYY_MM_DD_HH_MM_SS, status.st_mtime, text);
    return text;
}

}  // namespace

extern "C" {

CM_RC OS_FILE_build_filetype(const char* order_no, int run_no, char* full_name, char* file_name,
                             OS_FILE_FILETYPE type) {
    DIAG_TRACE(3, "os_file_build_filetype");
    if (!file_name || !full_name) {
        DIAG_ERROR("filename or fullname params cannot be NULL");
        return CM_RC_FAIL;
    }
    const std::string order = order_no ? order_no : "";
    char run36[5] = {};
    GM_36_int_to_base_36(run_no, run36, 4, 0);
    const char* product_dir = std::getenv("ORVANTA");
    if (!product_dir) {
        DIAG_ERROR("Cannot retrieve Product directory");
        return CM_RC_FAIL;
    }

    std::string name, full;
    switch (type) {
    case OS_FILE_PROCID:
        name = order + "_" + std::to_string(run_no) + ".dat";
        full = std::string(product_dir) + "/./procid/" + name;
        break;
    case OS_FILE_ECF:
        name = order + "_" + run36 + ".dsect";
        full = "./status/" + name;
        break;
    case OS_FILE_EXITFILE:
        name = order + "_" + run36 + ".dsect";
        full = "./backup/" + name;
        break;
    case OS_FILE_INSTREAM:
        name = "INSTREAM_" + order + "_" + run36;
        full = "./temp/" + name;
        break;
    case OS_FILE_SSH_TMP:
        name = order + "_" + run36 + "_sshTmp.dat";
        full = "./temp/" + name;
        break;
    case OS_FILE_SYSOUT:
    case OS_FILE_LOG:
    case OS_FILE_PID:
    case OS_FILE_DATAFILE:
    case OS_FILE_TMP: return CM_RC_OK;
    default: return CM_RC_FAIL;
    }
    if (full.size() + 1 > kPathRoom) {
        DIAG_ERROR("os_file_build_filetype: name too long (%d characters)", static_cast<int>(full.size()));
        return CM_RC_FAIL;
    }
    put(file_name, kPathRoom, name);
    put(full_name, kPathRoom, full);
    return CM_RC_OK;
}

CM_RC OS_FILE_setlib(const char* library, const char* override_library, const char* member, char* result) {
    if (!result) return CM_RC_OK;
    const std::string lib = library ? library : "";
    const std::string over = override_library ? override_library : "";
    std::string chosen = lib;
    if (!without_trailing_blanks(over).empty()) {
        std::string dir = over;
        if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
        const std::string candidate = dir + "/" + (member ? member : "");
        if (access(candidate.c_str(), F_OK) == 0) chosen = over;
    }
    std::snprintf(result, kLibraryRoom, "%s", chosen.c_str());
    return CM_RC_OK;
}

CM_RC OS_FILE_build_filename(char* output, const char* library, const char* override_library, const char* member,
                             const char*, const char*) {
    if (!output) return CM_RC_OK;
    LIBRARY_D_typ chosen = {};
    OS_FILE_setlib(library, override_library, member, chosen);
    const std::string path = without_trailing_blanks(chosen) + "/" + without_trailing_blanks(member ? member : "");
    std::snprintf(output, kPathRoom, "%s", path.c_str());
    return CM_RC_OK;
}

CM_RC os_file_get_home_dir(const char* user_name, char* home) {
    if (!user_name || !home) return CM_RC_FAIL;
    const std::string user = without_trailing_blanks(user_name);
    std::string dir;
    if (!home_of(user, dir)) {
        DIAG_TRACE(4, "%s: failed to get password entry for user '%s'\n", "os_file_get_home_dir", user.c_str());
        return CM_RC_FAIL;
    }
    std::snprintf(home, kPathRoom, "%s", dir.c_str());
    return CM_RC_OK;
}

CM_RC OS_FILE_get_agent_home_dir(char* home) {
    if (!home) return CM_RC_FAIL;
    struct stat status;
    if (stat(".", &status) != 0) return CM_RC_FAIL;
    std::vector<char> buf(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(status.st_uid, &entry, buf.data(), buf.size(), &found) != 0 || !found) return CM_RC_FAIL;
    std::snprintf(home, kPathRoom, "%s", found->pw_dir ? found->pw_dir : "");
    return CM_RC_OK;
}

CM_RC OS_FILE_path_trans(char* path, const char* owner) {
    if (!path) return CM_RC_FAIL;
    const std::string in = path;
    const std::string owner_name = without_trailing_blanks(owner ? owner : "");
    std::string out;

    if (in.compare(0, 5, "$HOME") == 0) {
        std::string home;
        if (!home_of(owner_name, home)) return CM_RC_FAIL;
        home = without_trailing_blanks(home);
        if (!home.empty() && home.back() == '\n') home.pop_back();
        home = without_trailing_blanks(home);
        out = home;
        if (in.size() > 5) {
            if (out.empty() || out.back() != '/') out += '/';
            if (in.size() > 6) out += in.substr(6);
        }
    } else if (!in.empty() && in[0] == '~') {
        const std::string trimmed = without_trailing_blanks(in);
        std::string home, rest;
        if (trimmed.size() > 1 && trimmed[1] != '/') {
            const std::size_t slash = trimmed.find('/');
            const std::string user = trimmed.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
            if (!home_of(user, home)) return CM_RC_FAIL;
            if (slash != std::string::npos) {
                rest = trimmed.substr(slash + 1);
                rest = rest.substr(0, rest.find(' '));
            }
        } else {
            if (!home_of(owner_name, home)) return CM_RC_FAIL;
            if (trimmed.size() > 2) rest = trimmed.substr(2);
        }
        out = join_home(home, rest, true);
    } else {
        return CM_RC_OK;
    }

    if (out.size() > OS_FILE_PATH_TRANS_MAX) {
        DIAG_ERROR("OS_FILE_path_trans: file name(%s) to long max length %d", out.c_str(), OS_FILE_PATH_TRANS_MAX);
        return CM_RC_FAIL;
    }
    std::memcpy(path, out.c_str(), out.size() + 1);
    return CM_RC_OK;
}

CM_RC OS_FILE_create_tmp_filename(const char* directory, char* full_name, char* member_name) {
    const int counter = ++tmp_file_counter;
    char member[kMemberRoom];
    std::snprintf(member, sizeof member, "TMP%d%d", static_cast<int>(getpid()), counter);
    if (member_name) std::memcpy(member_name, member, std::strlen(member) + 1);
    if (full_name) {
        const std::string dir = without_trailing_blanks(directory ? directory : "");
        if (dir.empty())
            std::snprintf(full_name, kPathRoom, ".%c%s%c%s", '/', "TEMP", '/', member);
        else
            std::snprintf(full_name, kPathRoom, "%s%c%s", dir.c_str(), '/', member);
    }
    return CM_RC_OK;
}

// The pattern is expanded by the C library, never handed to a shell: no command runs and no
// shared work file is needed.
CM_RC OS_FILE_open_wild_card_list(void*, const char* pattern, char* first_name) {
    if (!pattern || !*pattern || !first_name) return CM_RC_FAIL;
    glob_t matches{};
    const int rc = glob(pattern, GLOB_TILDE, nullptr, &matches);
    CM_RC result = CM_RC_FAIL;
    if (rc == 0 && matches.gl_pathc > 0 && matches.gl_pathv[0] && *matches.gl_pathv[0]) {
        std::snprintf(first_name, kWildLineMax, "%s", matches.gl_pathv[0]);
        result = CM_RC_OK;
    }
    globfree(&matches);
    return result;
}

CM_RC OS_FILE_save_config_backup(const char* table_name) {
    if (!table_name || !*table_name) return CM_RC_FAIL;
    GM_PARAM_table_list* table = nullptr;
    const CM_RC found = GM_PARAM_table_find(&table, table_name);
    if (found != CM_RC_OK || !table) {
        DIAG_TRACE(4, "Can not find the configuration table '%s'", table_name);
        return found != CM_RC_OK ? found : CM_RC_FAIL;
    }
    char path[kPathRoom];
    std::snprintf(path, sizeof path, "./data/cfg_backup/%s.bak", table_name);
    const CM_RC rc = GM_PARAM_list_save(&table->table, path);
    if (rc == CM_RC_OK && geteuid() == 0) {
        // Given away through its descriptor: a link put at the name meanwhile is left alone.
        const int fd = os_file::open_regular(path, O_RDONLY);
        if (fd >= 0) {
            os_file::give_to_agent_owner(fd);
            close(fd);
        }
    }
    return rc;
}

CM_RC OS_FILE_clean_upgrade_files(void) {
    static const char fn[] = "OS_FILE_clean_upgrade_files";
    char list_path[kPathRoom];
    std::snprintf(list_path, sizeof list_path, "./data/%s.dat", kUpgradeListName);
    const std::string list_name = std::string(kUpgradeListName) + ".dat";
    // Read in the data folder as walked for the home, without waiting and only as a regular file:
    // a FIFO, a device or a link planted there is refused.
    const os_file::Descriptor data(os_file::open_agent_folder("./data", true));
    const int list_fd = data.fd < 0 ? -1 : os_file::open_regular_at(data.fd, list_name.c_str(), O_RDONLY);
    const int open_errno = errno;
    if (list_fd < 0 && open_errno == ENOENT) {
        DIAG_TRACE(4, "%s: Failed to find file '%s'. not upgrade scenario", fn, list_path);
        return CM_RC_FAIL;
    }
    FILE* list = list_fd < 0 ? nullptr : fdopen(list_fd, "r");
    if (!list) {
        const int err = list_fd < 0 ? open_errno : errno;
        DIAG_ERROR("%s: cannot read '%s': %s", fn, list_path,
                   data.fd < 0 ? os_file::folder_failure_text(err) : std::strerror(err));
        if (list_fd >= 0) close(list_fd);
        return CM_RC_FAIL;
    }
    const std::string stamp = modification_time(list_fd);

    char line[kPathRoom];
    bool still_running = false;
    while (std::fgets(line, sizeof line, list)) {
        line[std::strcspn(line, "\n")] = '\0';
        if (!*line) continue;  // a blank line names no job; "./status/" itself would always exist
        const std::string status_file = std::string("./status/") + line;
        if (access(status_file.c_str(), F_OK) == 0) {
            still_running = true;
            break;
        }
    }
    // A read that fails midway is no end of the list: nothing is deleted after a partial reading.
    const bool read_whole = still_running || !std::ferror(list);
    std::fclose(list);
    if (!read_whole) {
        DIAG_ERROR("%s: cannot read '%s': %s", fn, list_path, std::strerror(EIO));
        return CM_RC_FAIL;
    }

    if (still_running) {
        GM_LOG_write_msg(kUpgradeMsgId, stamp.c_str(), "WAS NOT PERFORMED. OLD JOBS ARE STILL RUNNING.");
        return CM_RC_OK;
    }
    errno = 0;
    if (OS_FILE_dir_delete("./exe_old") != CM_RC_OK) {
        const int err = errno;
        DIAG_ERROR("%s: Failed to delete old exe directory. error - '%s'[%d]", fn, std::strerror(err), err);
        GM_LOG_write_msg(kUpgradeMsgId, stamp.c_str(), "WAS NOT PERFORMED. FAILED TO DELETE OLD EXE DIRECTORY.");
        return CM_RC_FAIL;
    }
    GM_LOG_write_msg(kUpgradeMsgId, stamp.c_str(), "HAS COMPLETED SUCCESSFULY.");
    unlinkat(data.fd, list_name.c_str(), 0);
    return CM_RC_OK;
}

}  // extern "C"
