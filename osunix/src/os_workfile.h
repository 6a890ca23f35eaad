/* Naming side of the OS layer: a job's work-file names from its order and run number, library and
 * member paths, home-directory expansion, temporary names and home directories; and two
 * housekeeping operations on configuration backups and upgrade leftovers. */
#ifndef OS_WORKFILE_H
#define OS_WORKFILE_H

#include "cmpltfrm.h"
#include "os_file.h"

/* Kinds of work file a job has. */
typedef enum {
    OS_FILE_PROCID = 0,
    OS_FILE_SYSOUT,
    OS_FILE_LOG,
    OS_FILE_ECF,
    OS_FILE_PID,
    OS_FILE_DATAFILE,
    OS_FILE_TMP,
    OS_FILE_EXITFILE,
    OS_FILE_BKFILE,
    OS_FILE_ONSTMT,
    OS_FILE_INSTREAM,
    OS_FILE_SSH_TMP
} OS_FILE_FILETYPE;

/* Longest path that OS_FILE_path_trans produces. */
#define OS_FILE_PATH_TRANS_MAX 255

CM_EXTERN_C_BEGIN

/* Work-file name of a job under the product directory ($ORVANTA). Both outputs are
 * PATHNAME_D_typ buffers; a name that would not fit is refused (CM_RC_FAIL), never cut.
 * Types without a name of their own return CM_RC_OK (SYSOUT, LOG, PID, DATAFILE, TMP) or
 * CM_RC_FAIL (BKFILE, ONSTMT, others) and leave both outputs untouched. */
CM_RC OS_FILE_build_filetype(const char* order_no, int run_no, char* full_name, char* file_name, OS_FILE_FILETYPE type);
/* output (PATHNAME_D_typ) = chosen library "/" member, trailing blanks stripped. Always 1. */
CM_RC OS_FILE_build_filename(char* output, const char* library, const char* override_library, const char* member,
                             const char* sub_member, const char* file_type);
/* result (LIBRARY_D_typ): the override library when it holds the member, else the library. */
CM_RC OS_FILE_setlib(const char* library, const char* override_library, const char* member, char* result);
/* Expands a leading "$HOME" or "~" in place; path is a buffer of at least 256 bytes. */
CM_RC OS_FILE_path_trans(char* path, const char* owner);
/* home: a PATHNAME_D_typ buffer. */
CM_RC os_file_get_home_dir(const char* user_name, char* home);
CM_RC OS_FILE_get_agent_home_dir(char* home);
/* full_name: PATHNAME_D_typ; member_name: MEMBER_D_typ. Always 1. */
CM_RC OS_FILE_create_tmp_filename(const char* directory, char* full_name, char* member_name);
/* First name matching a file-name pattern (at most 2000 characters into first_name, a
 * PATHNAME_D_typ). The handle is not used. CM_RC_FAIL when nothing matches. */
CM_RC OS_FILE_open_wild_card_list(void* handle, const char* pattern, char* first_name);

/* Saves the loaded parameter table's rows to ./data/cfg_backup/<table>.bak. */
CM_RC OS_FILE_save_config_backup(const char* table_name);
/* Removes ./exe_old once no job listed in ./data/upgrade_running_jobs.dat still runs. */
CM_RC OS_FILE_clean_upgrade_files(void);

CM_EXTERN_C_END

#endif
