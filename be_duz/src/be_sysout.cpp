/* The job's sysout as the agent reads and handles it: the open (which builds the sysout from the
 * database the first time, into a file beside it that is put in place whole or not at all), the
 * read in pieces or line by line, the close, and the actions that move, copy, delete or clear the
 * sysout file. */
#include "be_def.h"
#include "be_internal.h"
#include "be_job_internal.h"
#include "gm_param.h"
#include "os_file_nofollow.h"
#include "os_shared_file_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using be_job::attr;
using be_job::non_empty;

constexpr const char* kNullHandle = "File Pointer is NULL.";
/* Where an account that is found in neither place is reported from. */
constexpr const char* kAccountPosition = "[be_sysout:414]";
/* Bits of a sysout file the build creates. */
constexpr mode_t kSysoutMode = 0644;

/* The finished sysout for the agent to read: a read-only stream of the regular file at its name
 * (a link planted there is never followed), or null when there is none or it is empty (an empty
 * file is no sysout). A rebuild puts a new file in place by a rename, so a reader goes on reading
 * the content it opened. */
FILE* open_built(const char* sysout_path) {
    const int fd = os_file::open_regular(sysout_path, O_RDONLY);
    if (fd < 0) return nullptr;
    struct stat status {};
    FILE* file = nullptr;
    if (::fstat(fd, &status) == 0 && status.st_size > 0) file = ::fdopen(fd, "r");
    if (file == nullptr) ::close(fd);
    return file;
}

/* Hands out the finished sysout as the data handle. */
ZPARC hand_out(const char* sysout_path, void** Handle, ZPAError* Error) {
    *Handle = open_built(sysout_path);
    if (*Handle != nullptr) return 0;
    BE_DUZ_UpdateErrorSet(Error, 1, "failed to open sysout file '%s'.", sysout_path);
    return 1;
}

/* Writes the sysout from the database through the sysout's lock (held by the caller) into a
 * temporary file beside it, flushed as it goes, that is then put in place whole: a reader finds the
 * earlier sysout or the new one, never a part of it, and the memory used does not grow with the
 * output. A failed build puts nothing in place and leaves no temporary file. */
ZPARC write_sysout(os_shared::FileLock& lock, const char* sysout_path, BE_DUZ_Handles* session, int root_id,
                   ZPAConnHandle* Connection, ZPAAttrList* Attributes, ZPALIST_handle_typ* account, ZPAError* Error) {
    ZPARC rc = 0;
    const CM_RC placed = lock.rewrite_with([&](int fd) {
        const int copy = ::dup(fd);
        FILE* out = copy >= 0 ? ::fdopen(copy, "w") : nullptr;
        if (out == nullptr) {
            if (copy >= 0) ::close(copy);
            return false;
        }
        rc = BE_sysout_db_to_file(session, root_id, out, Connection, Attributes, account, Error);
        /* Every write is checked: one that failed while the stream flushed on its own shows only
         * in its error flag, not in the close. */
        const bool whole = std::fflush(out) == 0 && !std::ferror(out);
        return std::fclose(out) == 0 && whole && rc == 0;
    });
    if (placed != CM_RC_OK && rc == 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "failed to write sysout file '%s'.", sysout_path);
        rc = 1;
    }
    return rc;
}

/* The session of the connection's UserData for the sysout; null when there is none. */
BE_DUZ_Handles* sysout_session(ZPAConnHandle* Connection, ZPAAttrList* Attributes, ZPAError* Error, bool* unknown) {
    *unknown = false;
    if (Connection == nullptr || Connection->UserData == nullptr) return nullptr;
    int kind = 0;
    std::memcpy(&kind, Connection->UserData, sizeof kind);
    if (kind == BE_DUZ_CONNECTION) return static_cast<BE_DUZ_Handles*>(Connection->UserData);
    if (kind == BE_DUZ_CONNECTION_LIST)
        return BE_DUZ_find_connection_from_list(Connection, Attributes, const_cast<char*>("TRACK"), Error);
    *unknown = true;
    return nullptr;
}

/* Builds the sysout from the database under the file's locks and hands out the finished file. */
ZPARC build_sysout(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* Attributes, int force_rewrite,
                   const char* sysout_path, ZPAError* Error) {
    os_shared::Options options;
    options.new_mode = kSysoutMode;
    /* A build in progress holds the lock: an opener waits for it and then serves its result. */
    os_shared::FileLock lock(sysout_path, options);
    if (!lock) {
        BE_DUZ_UpdateErrorSet(Error, 1, "failed to create sysout file '%s'.", sysout_path);
        return 1;
    }
    struct stat built {};
    /* An empty file is no sysout. */
    if (!force_rewrite && lock.exists() && ::stat(sysout_path, &built) == 0 && built.st_size > 0) {
        BE_TRACE(4, "File %s  exists. return ...", sysout_path);
        lock.release();
        return hand_out(sysout_path, Handle, Error);
    }

    const char* orderno = attr(Attributes, "ORDERNO");
    const char* runno = attr(Attributes, "RUNNO");
    PATHNAME_D_typ procid_path = "";
    BE_DUZ_build_procid_fname(procid_path, orderno, runno);
    ZPALIST_handle_typ procid_rows{};
    GM_PARAM_load_file(&procid_rows, procid_path);
    char procid[64] = "";
    char account[BE_DUZ_INSTANCE_NAME_SIZE] = "";
    const char* missing = nullptr;
    if (GM_PARAM_list_get(&procid_rows, "PROCID", procid, sizeof procid) != CM_RC_OK)
        missing = "PROCID";
    else if (GM_PARAM_list_get(&procid_rows, "DUZ-INSTANCE", account, sizeof account) != CM_RC_OK)
        missing = "DUZ-INSTANCE";
    GM_PARAM_list_clear(&procid_rows);
    if (missing != nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "the attribute '%s' is mandatory", missing);
        return 1;
    }
    be_account_rows rows;
    if (rows.load(account, Attributes, "TRACK", Error) != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: Could not find account %s (LCP or CCP)", kAccountPosition, account);
        return 1;
    }
    bool unknown = false;
    BE_DUZ_Handles* session = sysout_session(Connection, Attributes, Error, &unknown);
    ZPARC rc = 0;
    if (unknown) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Couldn't identify the right type for sysout handling.");
        rc = 1;
    } else if (session == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "No open database session for account '%s': the sysout cannot be built",
                              account);
        rc = 1;
    } else {
        rc = write_sysout(lock, sysout_path, session, std::atoi(procid), Connection, Attributes, rows.rows(), Error);
    }
    if (rc != 0) {
        DIAG_printf("Error writing to sysout. the sysout file will be closed and deleted.");
        if (lock.exists()) lock.remove();
        return rc;
    }
    return hand_out(sysout_path, Handle, Error);
}

ZPARC open_sysout(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* Attributes, int force_rewrite,
                  ZPAError* Error) {
    if (Handle == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNullHandle);
        return 1;
    }
    *Handle = nullptr;
    for (const char* name : {"ORDERNO", "RUNNO"}) {
        if (attr(Attributes, name) == nullptr) {
            BE_DUZ_UpdateErrorSet(Error, 1, "the attribute '%s' is mandatory", name);
            return 1;
        }
    }
    PATHNAME_D_typ sysout_path = "";
    ZPARC rc = BE_DUZ_build_sysout_fname(Attributes, sysout_path, Error);
    if (rc != 0) return rc;
    if (!force_rewrite) {
        /* A sysout built before (or a failure notice) is served as it is, without the database and
         * without the lock: a build puts the sysout in place whole. */
        *Handle = open_built(sysout_path);
        if (*Handle != nullptr) {
            BE_TRACE(4, "File %s  exists. return ...", sysout_path);
            return 0;
        }
    }
    return build_sysout(Connection, Handle, Attributes, force_rewrite, sysout_path, Error);
}

/* Line mode: the next line into ONSTMT and ONCODE. */
ZPARC read_line(FILE* file, ZPAAttrList* AttributesOut, ZPAError* Error) {
    for (const char* name : {"ONSTMT", "ONCODE"}) {
        if (attr(AttributesOut, name) == nullptr) {
            BE_DUZ_UpdateErrorSet(Error, 1, "keyword %s not found", name);
            return 1;
        }
        int size = 0;
        if (ZPAAPI_UTILS_AttrListValueSizeGet(AttributesOut, const_cast<char*>(name), &size) != 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "keyword %s size not found", name);
            return 1;
        }
    }
    char line[BE_DUZ_LINE_SIZE] = "";
    if (BE_DUZ_file_read_line(file, line) == 2 && line[0] == '\0') {
        BE_TRACE(4, "End of SYSOUT");
        return ZPA_EOS;
    }
    char* statement = nullptr;
    char* code = nullptr;
    BE_SYSOUT_parse_sysout_line(line, &statement, &code);
    if (non_empty(statement)) ZPAAPI_UTILS_AttrListValueSet(AttributesOut, const_cast<char*>("ONSTMT"), statement);
    if (non_empty(code)) ZPAAPI_UTILS_AttrListValueSet(AttributesOut, const_cast<char*>("ONCODE"), code);
    return 0;
}

ZPARC sysout_action(char* Action, ZPAAttrList* AttributesIn, ZPAError* Error) {
    PATHNAME_D_typ home = "";
    if (BE_DUZ_get_agent_dir(home) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Cannot retrieve Product Directory");
        return 1;
    }
    PATHNAME_D_typ sysout_path = "";
    ZPARC rc = BE_DUZ_build_sysout_fname(AttributesIn, sysout_path, Error);
    if (rc != 0) return rc;
    const std::string full_path = std::string(home) + "/" + sysout_path;
    const char* slash = std::strrchr(sysout_path, '/');
    const std::string file_name = slash != nullptr ? slash + 1 : sysout_path;
    const std::string action = Action != nullptr ? Action : "";
    if (action == "N" || action == "F") {
        char* destination = attr(AttributesIn, "SYSOUT_ACTION_PARAM");
        if (destination == nullptr) {
            BE_DUZ_UpdateErrorSet(Error, 1,
                                  action == "N" ? "ZPAAPI_ACTION_SYSOUT_NEWDEST: Can not determine sysprm"
                                                : "ZPAAPI_ACTION_SYSOUT_COPY: Can not determine SYSOUT_ACTION_PARAM");
            return 1;
        }
        rc = rewriteSysoutFile(const_cast<char*>(full_path.c_str()), destination, const_cast<char*>(file_name.c_str()),
                               const_cast<char*>(action == "N" ? "move" : "copy"), action == "N" ? 0 : 1);
        if (rc != 0)
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to %s Sysout file:'%s' to '%s'", action == "N" ? "move" : "copy",
                                  full_path.c_str(), destination);
        return rc;
    }
    if (action == "D" || action == "CLEAR") {
        rc = BE_SYSOUT_action_clear(const_cast<char*>(full_path.c_str()));
        if (rc != 0) BE_DUZ_UpdateErrorSet(Error, 1, "OS_FILE_delete failed for file %s", full_path.c_str());
        return rc;
    }
    BE_DUZ_UpdateErrorSet(Error, ZPA_NOT_SUPPORTED, "Action '%s' is not supported", action.c_str());
    return ZPA_NOT_SUPPORTED;
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_HndlSysoutWhenDone(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* Attributes, int force_rewrite,
                                ZPAError* Error) {
    try {
        return open_sysout(Connection, Handle, Attributes, force_rewrite, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_HndlSysoutWhenDone");
        return 1;
    }
}

ZPARC ZPAAPI_SYSOUT_DATA_OPEN(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* Attributes, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "ZPAAPI_SYSOUT_DATA_OPEN");
    return BE_DUZ_HndlSysoutWhenDone(Connection, Handle, Attributes, 0, Error);
}

ZPARC ZPAAPI_SYSOUT_DATA_READ(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* AttributesIn,
                              ZPAAttrList* AttributesOut, ZPAError* Error) {
    (void)Connection;
    try {
        if (Handle == nullptr) {
            BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNullHandle);
            return 1;
        }
        const ZPARC rc = be_navigate_next(AttributesIn, Error);
        if (rc != 0) return rc;
        FILE* file = static_cast<FILE*>(Handle);
        if (attr(AttributesOut, "TEXT") != nullptr) return be_read_text_piece(file, AttributesOut, Error);
        return read_line(file, AttributesOut, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "ZPAAPI_SYSOUT_DATA_READ");
        return 1;
    }
}

ZPARC ZPAAPI_SYSOUT_DATA_CLOSE(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* Attributes, ZPAError* Error) {
    (void)Connection;
    (void)Attributes;
    if (Handle == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNullHandle);
        return 1;
    }
    std::fclose(static_cast<FILE*>(Handle));
    return 0;
}

ZPARC ZPAAPI_SYSOUT_ACTION(ZPAConnHandle* Connection, char* Action, ZPAAttrList* AttributesIn,
                           ZPAAttrList* AttributesOut, ZPAError* Error) {
    (void)Connection;
    (void)AttributesOut;
    try {
        return sysout_action(Action, AttributesIn, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "ZPAAPI_SYSOUT_ACTION");
        return 1;
    }
}

ZPARC BE_SYSOUT_parse_sysout_line(char* sys_line, char** statPtr, char** codePtr) {
    if (statPtr != nullptr) *statPtr = nullptr;
    if (codePtr != nullptr) *codePtr = sys_line;
    if (sys_line == nullptr || *sys_line == '\0') return 0;
    int bars = 0;
    for (const char* p = sys_line + 1; *p != '\0'; ++p)
        if (*p == '|') ++bars;
    if (bars < 5) return 0;
    char* bar = std::strchr(sys_line, '|');
    *bar = '\0';
    if (statPtr != nullptr) *statPtr = sys_line;
    if (codePtr != nullptr) *codePtr = bar + 1;
    return 0;
}

ZPARC rewriteSysoutFile(char* SysoutPath, char* value, char* sysoutFileName, char* actionStr, int actionType) {
    if (SysoutPath == nullptr || value == nullptr || sysoutFileName == nullptr || actionStr == nullptr) return 1;
    std::string target = value;
    OS_FILE_LIST_typ dir = nullptr;
    if (OS_FILE_dir_open(&dir, value) == CM_RC_OK) {
        OS_FILE_dir_close(&dir);
        target = std::string(value) + "/" + sysoutFileName;
    }
    if (OS_FILE_copy(SysoutPath, target.c_str(), OS_FILE_WRITE) != CM_RC_OK ||
        (actionType == 0 && OS_FILE_delete(SysoutPath) != CM_RC_OK)) {
        DIAG_printf("Failed to %s Sysout file:'%s' to '%s'", actionStr, SysoutPath, target.c_str());
        return 1;
    }
    BE_TRACE(3, "Sysout %s successfully from: '%s' to: '%s' ", actionStr, SysoutPath, target.c_str());
    return 0;
}

ZPARC BE_SYSOUT_action_clear(char* SysoutPath) {
    if (SysoutPath == nullptr || *SysoutPath == '\0') {
        DIAG_printf("SysoutPath is empty");
        return 1;
    }
    if (OS_FILE_delete(SysoutPath) != CM_RC_OK) {
        DIAG_printf("OS_FILE_delete failed for file %s", SysoutPath);
        return 1;
    }
    return 0;
}

CM_EXTERN_C_END
