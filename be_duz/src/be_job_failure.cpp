/* The jobs failure table (cm/DUZ/data/jobs_failure_table.dat and its lock file job_failure.lock):
 * one row per job run whose session or submission failed with an Oracle error, the failure notice
 * appended to the job's sysout, the record of a failed submission, and the sysout's permission
 * bits after statistics. Also the opening of files appended to at foreseeable names. */
#include "be_def.h"
#include "be_internal.h"
#include "gm_log_internal.h"
#include "gm_param.h"
#include "gm_param_internal.h"
#include "gm_str.h"
#include "os_file_nofollow.h"
#include "os_shared_file_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kTableDir[] = {"cm", "DUZ", "data"};

void build_in_table_dir(char* file_path, const char* file_name) {
    std::snprintf(file_path, sizeof(PATHNAME_D_typ), "%s%c%s%c%s%c%s", kTableDir[0], '/', kTableDir[1], '/',
                  kTableDir[2], '/', file_name);
}

/* Key "%s_%x" of ORDERNO and RUNNO read as a decimal number, upper-cased. */
void build_key(char* key, std::size_t size, const char* orderno, const char* runno) {
    std::snprintf(key, size, "%s_%x", orderno, static_cast<unsigned int>(std::atol(runno)));
    GM_STR_toupper(key);
}

/* The exact row for key (a "DEFAULT" row must not stand in for a job's row). */
const char* find_row(ZPALIST_handle_typ* list, const char* key) {
    GM_PARAM_list_reset(list);
    char* row_key = nullptr;
    void* row_value = nullptr;
    while (GM_PARAM_list_next(list, &row_key, &row_value) == CM_RC_OK)
        if (std::strcmp(row_key, key) == 0) return static_cast<const char*>(row_value);
    return nullptr;
}

/* The table's locks: its process-wide lock for the threads and the lockf lock of its lock file for
 * the processes, held for a whole load-change-save cycle (os_shared). */
os_shared::Options table_lock_options() {
    os_shared::Options options;
    PATHNAME_D_typ lock_path = "";
    be_job_build_lock_file_path(lock_path);
    options.lock_file = lock_path;
    return options;
}

/* Loads the table for a look-up or a delete; false when it cannot be loaded, which for a table that
 * no failure has created yet is the ordinary case. */
bool load_existing_table(be_param_list* rows, const char* table_path) {
    if (GM_PARAM_load_file(&rows->list, table_path) == CM_RC_OK) return true;
    BE_TRACE(4, "Cannot load file '%s', file probably doesn't exist yet", table_path);
    return false;
}

/* Only octal digits make a permission mode; at most the twelve permission bits. */
bool parse_mode(const char* text, mode_t* mode) {
    if (text == nullptr || *text == '\0') return false;
    unsigned long value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '7') return false;
        value = value * 8 + static_cast<unsigned long>(*p - '0');
        if (value > 07777) return false;
    }
    *mode = static_cast<mode_t>(value);
    return true;
}

/* SYSOUT_MODE of table OEBS, else of CONFIG, set on the open sysout; nothing to set is success. */
CM_RC set_sysout_mode(int fd) {
    GM_PARAM_VALUE_typ value = "";
    if (GM_PARAM_get("OEBS", BE_JOB_SYSOUT_MODE_KEY, value) != CM_RC_OK &&
        GM_PARAM_get("CONFIG", BE_JOB_SYSOUT_MODE_KEY, value) != CM_RC_OK) {
        BE_TRACE(4, "%s value doesn't exist, sysout access permissions will not change.", BE_JOB_SYSOUT_MODE_KEY);
        return CM_RC_OK;
    }
    mode_t mode = 0;
    if (!parse_mode(value, &mode)) {
        DIAG_printf("%s = '%s' is not valid chmod value, sysout access permissions will not change.",
                    BE_JOB_SYSOUT_MODE_KEY, value);
        return CM_RC_OK;
    }
    if (::fchmod(fd, mode) != 0) {
        DIAG_printf("Failed in chmod command for changing sysout file permissions");
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

}  // namespace

CM_RC be_append_whole(const char* path, std::string_view entry) {
    const auto turn = gm_log::appender_turn();
    const int fd = os_file::open_regular(path, O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (fd < 0) return CM_RC_OPEN_FAILED;
    struct stat status {};
    if (::fstat(fd, &status) == 0) ::fchmod(fd, (status.st_mode & 07777) | 0644);
    if (::lockf(fd, F_LOCK, 0) != 0) DIAG_ERROR("%s : lockf : %s", path, std::strerror(errno));
    const CM_RC written = gm_log::append_whole(fd, entry);
    const int why = errno;
    ::close(fd);
    errno = why;
    return written;
}

std::string be_procid_row(const char* key, const char* value) {
    char line[BE_DUZ_REQS_KEY_WIDTH + BE_DUZ_REQS_VALUE_MAX + sizeof(GM_PARAM_KEY_typ) + 8];
    std::snprintf(line, sizeof line, "%-*s  %.*s\n", BE_DUZ_REQS_KEY_WIDTH, key != nullptr ? key : "",
                  BE_DUZ_REQS_VALUE_MAX, value != nullptr ? value : "");
    return line;
}

CM_RC be_write_procid_file(const char* path, const std::string& text) {
    if (path == nullptr || *path == '\0') return CM_RC_FAIL;
    /* Written whole through the shared-file facility: a reader sees the old file or the new one. */
    os_shared::Options options;
    options.add_bits = 0644;
    return os_shared::write_file(path, text, options);
}

CM_EXTERN_C_BEGIN

void be_job_build_jobs_failure_file_path(char* file_path) {
    if (file_path != nullptr) build_in_table_dir(file_path, BE_JOB_FAILURE_TABLE_FILE);
}

void be_job_build_lock_file_path(char* file_path) {
    if (file_path != nullptr) build_in_table_dir(file_path, BE_JOB_FAILURE_LOCK_FILE);
}

ZPARC be_job_find_in_jobs_failure_file(const char* orderno, const char* runno, char* message) {
    if (orderno == nullptr || runno == nullptr || message == nullptr) return 1;
    PATHNAME_D_typ table_path = "";
    be_job_build_jobs_failure_file_path(table_path);
    /* Writers replace the table whole: it is read without waiting for their locks. */
    be_param_list rows;
    if (!load_existing_table(&rows, table_path)) return 1;
    GM_PARAM_KEY_typ key = "";
    build_key(key, sizeof key, orderno, runno);
    const char* value = find_row(&rows.list, key);
    if (value == nullptr) {
        BE_TRACE(4, "job with orderno '%s' and runno '%s' wasn't found in '%s'", orderno, runno, table_path);
        return 1;
    }
    const std::size_t n = strnlen(value, BE_JOB_FAILURE_MSG_SIZE - 1);
    std::memcpy(message, value, n);
    message[n] = '\0';
    BE_TRACE(4, "job with orderno '%s' and runno '%s' found in '%s'", orderno, runno, table_path);
    return 0;
}

ZPARC BE_JOB_write_jobs_failure_file(const char* orderno, const char* runno, const char* message) {
    if (orderno == nullptr || runno == nullptr || message == nullptr) return 1;
    PATHNAME_D_typ table_path = "";
    be_job_build_jobs_failure_file_path(table_path);
    GM_PARAM_KEY_typ key = "";
    build_key(key, sizeof key, orderno, runno);

    /* The locks are held from the load to the save, so a row another thread or process adds in
     * between is never lost. A missing table is created by the save. */
    os_shared::FileLock lock(table_path, table_lock_options());
    if (!lock) {
        DIAG_printf("Failed to lock file '%s'", table_path);
        return 1;
    }
    be_param_list rows;
    if (lock.exists() && GM_PARAM_load_file(&rows.list, table_path) != CM_RC_OK) {
        DIAG_printf("Failed to load file '%s'", table_path);
        return 1;
    }
    if (find_row(&rows.list, key) != nullptr) {
        BE_TRACE(4, "Job already listed in file");
        return 0;
    }
    /* A row is one line of the table: line breaks of the failure text become blanks, and the
     * blanks at its ends, which the table would not give back, are dropped. */
    const std::string value =
        gm_param::free_text_value(std::string(message, strnlen(message, BE_JOB_FAILURE_MSG_SIZE - 1)));
    if (GM_PARAM_list_append(&rows.list, key, value.c_str()) != CM_RC_OK) {
        DIAG_printf("Failed to append to list");
        return 1;
    }
    if (GM_PARAM_list_save(&rows.list, table_path) != CM_RC_OK) {
        DIAG_printf("Failed to save to file '%s'", table_path);
        return 1;
    }
    return 0;
}

ZPARC be_job_delete_line_from_jobs_failure_file(const char* orderno, const char* runno) {
    if (orderno == nullptr || runno == nullptr) return 1;
    PATHNAME_D_typ table_path = "";
    be_job_build_jobs_failure_file_path(table_path);
    os_shared::FileLock lock(table_path, table_lock_options());
    if (!lock) {
        DIAG_printf("Failed to lock file '%s'", table_path);
        return 1;
    }
    be_param_list rows;
    if (!load_existing_table(&rows, table_path)) return 1;
    GM_PARAM_KEY_typ key = "";
    build_key(key, sizeof key, orderno, runno);
    if (find_row(&rows.list, key) == nullptr) return 1;
    GM_PARAM_list_delete(&rows.list, key);
    if (GM_PARAM_list_save(&rows.list, table_path) != CM_RC_OK) {
        DIAG_printf("Failed to save to file '%s'", table_path);
        return 1;
    }
    BE_TRACE(4, "Job with orderno '%s' and runno '%s' deleted from '%s'", orderno, runno, table_path);
    return 0;
}

void BE_SYSOUT_create_job_failure_msg(ZPAError* Error, char* message) {
    if (Error == nullptr || message == nullptr) return;
    char code[16];
    std::snprintf(code, sizeof code, "%d", static_cast<int>(Error->code));
    const int code_len = static_cast<int>(std::strlen(code));
    int text_len = static_cast<int>(strnlen(Error->text, sizeof Error->text));
    if (text_len + code_len + 3 > BE_JOB_FAILURE_MSG_SIZE - 1) {
        BE_TRACE(4, "Message too long and will be truncated");
        text_len = BE_JOB_FAILURE_MSG_SIZE - 4 - code_len;
    }
    std::snprintf(message, BE_JOB_FAILURE_MSG_SIZE, "%s%s%.*s", code, " - ", text_len, Error->text);
}

void BE_JOB_format_error_message(char* error_message, int error_code, int* err_code_from_msg) {
    if (error_message == nullptr) return;
    if (err_code_from_msg != nullptr) *err_code_from_msg = 0;
    if (strnlen(error_message, BE_JOB_FAILURE_MSG_SIZE) > BE_JOB_NOTICE_MSG_MAX) {
        BE_TRACE(4, "Message size is too long, it will be truncated");
        error_message[BE_JOB_NOTICE_MSG_MAX] = '\0';
    }
    std::string notice;
    char text[BE_JOB_FAILURE_MSG_SIZE + 256];
    if (error_code != BE_JOB_CODE_IN_MESSAGE) {
        std::snprintf(text, sizeof text, BE_JOB_NOTICE_FORMAT_D, error_message, error_code);
    } else {
        /* The stored row value: "<code> - <text>". A first word that is not a number, or that does
         * not fit the 9-character code field, leaves the message whole with the code "1". */
        const char* word_end = std::strchr(error_message, ' ');
        const std::size_t word_len =
            word_end ? static_cast<std::size_t>(word_end - error_message) : std::strlen(error_message);
        char code[BE_JOB_CODE_FIELD_SIZE + 1] = "1";
        const char* body = error_message;
        if (word_len > 0 && word_len <= BE_JOB_CODE_FIELD_SIZE) {
            char word[BE_JOB_CODE_FIELD_SIZE + 1] = "";
            std::memcpy(word, error_message, word_len);
            if (GM_STR_isnumber(word) == CM_RC_OK) {
                std::memcpy(code, word, word_len + 1);
                body = error_message + word_len;
                if (std::strncmp(body, " - ", 3) == 0)
                    body += 3;
                else
                    while (*body == ' ') ++body;
            }
        }
        if (err_code_from_msg != nullptr) *err_code_from_msg = std::atoi(code);
        std::snprintf(text, sizeof text, BE_JOB_NOTICE_FORMAT_S, body, code);
    }
    const std::size_t n = strnlen(text, BE_JOB_FAILURE_MSG_SIZE - 1);
    std::memmove(error_message, text, n);
    error_message[n] = '\0';
}

ZPARC BE_SYSOUT_update_sysout(const char* sysout_path, const char* message, ZPAError* Error) {
    (void)Error;
    if (sysout_path == nullptr || message == nullptr) return 1;
    /* The notice goes in whole or not at all: a cut one would read as the job's whole story. */
    const CM_RC written = be_append_whole(sysout_path, message);
    if (written == CM_RC_OK) return 0;
    DIAG_printf(written == CM_RC_OPEN_FAILED ? "Open sysout file '%s' failed" : "Write to sysout file '%s' failed",
                sysout_path);
    return 1;
}

ZPARC BE_SYSOUT_handle_update_sysout(ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut, const char* orderno,
                                     const char* runno, const char* error_text, int error_code, int* err_code_from_msg,
                                     ZPAError* Error) {
    (void)orderno;
    (void)runno;
    if (AttributesIn == nullptr || error_text == nullptr) return 1;
    char notice[BE_JOB_FAILURE_MSG_SIZE] = "";
    const std::size_t n = strnlen(error_text, BE_JOB_FAILURE_MSG_SIZE - 1);
    std::memcpy(notice, error_text, n);
    notice[n] = '\0';
    PATHNAME_D_typ sysout_path = "";
    if (BE_DUZ_build_sysout_fname(AttributesIn, sysout_path, Error) != 0) return 1;
    BE_JOB_format_error_message(notice, error_code, err_code_from_msg);
    if (BE_SYSOUT_update_sysout(sysout_path, notice, Error) != 0) return 1;
    if (AttributesOut != nullptr) {
        char size[64] = "0";
        if (BE_DUZ_get_file_size(sysout_path, size) != 0) std::strcpy(size, "0");
        ZPAAPI_UTILS_AttrListValueSet(AttributesOut, const_cast<char*>("SYSOUTSIZE"), size);
    }
    return 0;
}

CM_RC BE_SYSOUT_chmod_sysout(ZPAAttrList* AttributesIn, ZPAError* Error) {
    if (AttributesIn == nullptr) return CM_RC_FAIL;
    PATHNAME_D_typ sysout_path = "";
    if (BE_DUZ_build_sysout_fname(AttributesIn, sysout_path, Error) != 0) return CM_RC_FAIL;
    /* The bits are set on the sysout itself, never on what a link at its name points at. */
    const int fd = os_file::open_regular(sysout_path, O_RDONLY);
    if (fd < 0) {
        if (errno == ELOOP || errno == EINVAL || errno == EMLINK)
            DIAG_printf("sysout file '%s' is a link or not a plain file, its access permissions will not change",
                        sysout_path);
        else
            DIAG_printf("stat command failed for file '%s'", sysout_path);
        return CM_RC_FAIL;
    }
    const CM_RC rc = set_sysout_mode(fd);
    close(fd);
    return rc;
}

ZPARC be_job_handle_submit_failure(ZPAAttrList* AttributesOut, ZPAAttrList* AttributesIn, ZPAError* Error) {
    auto mandatory = [&](const char* name, char** value) {
        if (ZPAAPI_UTILS_AttrListValueGet(AttributesIn, const_cast<char*>(name), value) == 0 && *value != nullptr)
            return true;
        BE_DUZ_UpdateErrorSet(Error, 1, "The attribute '%s' is mandatory", name);
        return false;
    };
    char* orderno = nullptr;
    char* runno = nullptr;
    if (!mandatory("ORDERNO", &orderno) || !mandatory("RUNNO", &runno)) return 1;
    if (AttributesOut != nullptr &&
        ZPAAPI_UTILS_AttrListValueSet(AttributesOut, const_cast<char*>("PROCID"), const_cast<char*>("0")) != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to set '%s' attribute", "PROCID");
        return 1;
    }
    char* instance = nullptr;
    char* tasktype = nullptr;
    if (!mandatory("DUZ-INSTANCE", &instance) || !mandatory("DUZ-TASKTYPE", &tasktype)) return 1;

    PATHNAME_D_typ procid_path = "";
    BE_DUZ_build_procid_fname(procid_path, orderno, runno);
    try {
        std::string procid = be_procid_row("PROCID", "0") + be_procid_row("DUZ-INSTANCE", instance) +
                             be_procid_row("DUZ-TASKTYPE", tasktype);
        char* display = nullptr;
        if (ZPAAPI_UTILS_AttrListValueGet(AttributesIn, const_cast<char*>("DUZ-DISPLAY_OUTPUT"), &display) == 0 &&
            display != nullptr)
            procid += be_procid_row("DUZ-DISPLAY_OUTPUT", display);
        if (be_write_procid_file(procid_path, procid) != CM_RC_OK) DIAG_printf("Failed to open file '%s'", procid_path);
    } catch (...) {
        DIAG_printf("Failed to open file '%s'", procid_path);
    }

    char message[BE_JOB_FAILURE_MSG_SIZE] = "";
    BE_SYSOUT_create_job_failure_msg(Error, message);
    BE_JOB_write_jobs_failure_file(orderno, runno, message);
    return 0;
}

CM_EXTERN_C_END
