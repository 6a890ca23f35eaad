/* Shared declarations of the plug-in's own logic (be_duz): the trace idiom of plug-in code, the
 * error helper, the names of a job's work files, the submitted-requests file, the XML text
 * helpers, the agent utilities and the account sources. Organised by topic; add new topics as
 * their own sections. */
#ifndef BE_DEF_H
#define BE_DEF_H

#include <stdio.h>

#include "be_zpaapi.h" /* the entry points the agent calls */
#include "cmpltfrm.h"
#include "oci.h"
#include "orvsecure.h"
#include "os_diag.h"
#include "os_file.h"
#include "zpaapi.h"
#include "zpalist.h"

/* ------------------------------------------------------------------------------------------------
 * Tracing. Plug-in code writes a line of level N when the debug level reaches N, at active level 0
 * (so it never enters the diagnostic ring); error lines are plain DIAG_printf calls.
 * ---------------------------------------------------------------------------------------------- */
#define BE_TRACE(level, ...)                                         \
    do {                                                             \
        if (DIAG_debug_level() >= (level)) DIAG_printf(__VA_ARGS__); \
    } while (0)

/* Position tag "[file:line]" for the first "%s" of many trace and error texts. */
#define BE_STR2(x) #x
#define BE_STR1(x) BE_STR2(x)
#define BE_POS "[" __FILE_NAME__ ":" BE_STR1(__LINE__) "]"

CM_EXTERN_C_BEGIN

/* ------------------------------------------------------------------------------------------------
 * Error helper and work-file names
 * ---------------------------------------------------------------------------------------------- */

/* Every text stored by BE_DUZ_UpdateErrorSet starts with this prefix. */
#define BE_DUZ_ERROR_PREFIX "CM for OEBS: "
/* Longest finished text (prefix included) that is stored; longer ones are only logged. */
#define BE_DUZ_ERROR_MAX_LEN 999
/* Working buffer in which the finished text is formatted (expansion stops at its end). */
#define BE_DUZ_ERROR_WORK_SIZE 5000
/* errno value that stands for "no system error". */
#define BE_DUZ_NO_SYSTEM_ERROR 9999
/* Room of the line buffer that BE_DUZ_file_read_line fills: a line of up to 4095 characters and
 * its terminator. A longer line is handed out in pieces of 4095 characters, nothing dropped. */
#define BE_DUZ_LINE_SIZE 4096

/* Formats "CM for OEBS: " + format into the error record with code. Always 0. */
ZPARC BE_DUZ_UpdateErrorSet(ZPAError* Error, ZPAErrorCode code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
/* strerror(errno) into systemMsg (empty for errno 9999); returns systemMsg. */
char* BE_DUZ_get_system_error(char* systemMsg);

/* Path buffers are PATHNAME_D_typ. */
void BE_DUZ_build_procid_fname(char* ProcIdPath, const char* orderno, const char* runno);
void BE_DUZ_build_procid_fname2(char* ProcIdPath, const char* orderno);
void BE_DUZ_build_backup_fname(char* Backup_Path, const char* orderno, const char* runno);
ZPARC BE_DUZ_build_sysout_fname(ZPAAttrList* AttributesIn, char* SysoutPath, ZPAError* Error);

/* attr_value holds attr_size + 1 bytes. 0 or 1. */
ZPARC BE_DUZ_file_get(const char* File_Path, const char* attr_key, int attr_size, char* attr_value, ZPAError* Error);
/* Appends the rows of a key/value file to Attributes (new array of copies). 0 or 1. */
ZPARC BE_DUZ_append_file2Attr(ZPAAttrList* Attributes, const char* File_Path, ZPAError* Error);
/* aline holds BE_DUZ_LINE_SIZE bytes. 0 a line read, 2 end of file. */
int BE_DUZ_file_read_line(FILE* filePtr, char* aline);
/* size receives the size in bytes as "%ld". 0 or 1. */
int BE_DUZ_get_file_size(const char* File_Path, char* size);
void BE_DUZ_print_attr(ZPAAttrList* AttrList);

/* ------------------------------------------------------------------------------------------------
 * Requests files (./data/DUZ_reqs.dat: request id and the epoch second it was recorded)
 * ---------------------------------------------------------------------------------------------- */

#define BE_DUZ_REQS_FILE_NAME "DUZ_reqs"
/* Rows older than this many seconds are dropped by BE_DUZ_remove_old_req. */
#define BE_DUZ_REQS_MAX_AGE 86400
/* Key column width and value cut of a written row. */
#define BE_DUZ_REQS_KEY_WIDTH 64
#define BE_DUZ_REQS_VALUE_MAX 2048
/* Line buffer of the reader: 2112 characters and a terminator. */
#define BE_DUZ_REQS_LINE_MAX 2112

/* Locked open of a work file. CM_RC 1, or 2, 8, 11, 22. */
CM_RC BE_DUZ_FILE_open(OS_FD_typ* fd, const char* file_name, OS_FILE_MODE_typ mode);
CM_RC BE_DUZ_read_reqs_file(const char* reqFilePath, ZPALIST_handle_typ* currList, ZPAError* Error);
CM_RC BE_DUZ_write_reqs_file(const char* reqFilePath, ZPALIST_handle_typ* currList, ZPAError* Error);
CM_RC BE_DUZ_remove_old_req(ZPALIST_handle_typ* list);
CM_RC BE_DUZ_param_parse_str(ZPALIST_handle_typ* list, const char* String);
/* line holds BE_DUZ_REQS_LINE_MAX + 1 bytes. 1 line, 5 end of file, 2 read error. */
CM_RC BE_DUZ_ReadReqLine(OS_FD_typ fd, char* line, ZPAError* Error);

/* ------------------------------------------------------------------------------------------------
 * XML text helpers
 * ---------------------------------------------------------------------------------------------- */

typedef enum { B_INIT = 0, B_DOUBLE = 1, B_FREE = 2 } ACTION_typ;

/* Action of BE_DUZ_replace_XML_chars: 1 unescapes, any other value escapes. */
#define BE_DUZ_XML_UNESCAPE 1
#define BE_DUZ_XML_ESCAPE 0
/* Longest tag name the tag searches accept (their tag texts live in 128-byte buffers). */
#define BE_DUZ_XML_TAG_MAX 124
/* Room that BE_DUZ_get_XML_value and BE_DUZ_get_next_tag_name assume for their output: longer
 * texts are cut to this size less one. */
#define BE_DUZ_XML_VALUE_SIZE 4096

ZPARC BE_DUZ_init_xml_body(char* xmlbuf, const char* header, ZPAError* Error);
ZPARC BE_DUZ_end_xml_body(char* xmlbuf, ZPAError* Error);
/* The text of the first element named XML_tag; returns the position after its closing tag. */
char* BE_DUZ_get_XML_value(char* XML_buff, const char* XML_tag, char* value);
/* A malloc'ed copy of the first whole element holding a non-blank character; the caller frees it. */
char* BE_DUZ_find_XML_tag(const char* XML_buff, const char* XML_tag);
char* BE_DUZ_get_next_tag_name(char* buffer, char* name);
int BE_DUZ_replace_XML_chars(char* XMLIn, long buffSize, int action);
long BE_DUZ_replace(const char* sourceBuff, char* destBuff, const char* sourceStr, const char* destStr);
char* BE_DUZ_handle_buffer(ACTION_typ action, char* oldBuffer, long* bufferSize);

/* ------------------------------------------------------------------------------------------------
 * Agent utilities and account sources
 * ---------------------------------------------------------------------------------------------- */

/* Command line "%s %s" of a utility: at most 1023 characters. */
#define BE_DUZ_UTIL_CMD_SIZE 1024
/* Output lines are read in pieces of this many bytes (terminator included). */
#define BE_DUZ_UTIL_LINE_SIZE 1023
/* Room of outBuf of the utility look-ups: at most 1023 characters and the terminator. */
#define BE_DUZ_UTIL_VALUE_SIZE 1024
/* Room of the process name (63 characters and the terminator). */
#define BE_DUZ_PROC_NAME_SIZE 64
#define BE_DUZ_ACCOUNTS_FILE_NAME "DUZ_inst"

/* Runs an agent utility without a shell and takes the value of the first output line holding key.
 * args is split at blanks into plain arguments; the word pair "2>&" "1" or the word "2>&1" sends
 * the utility's error output into the same pipe. Nothing in args is read by a shell.
 * ZPARC 0 found, 3 key not in the output, 1 the utility could not be started. */
ZPARC BE_DUZ_get_agent_util_info(const char* command, const char* args, const char* key, char* outBuf, ZPAError* Error);
/* The same with the arguments given one by one (argv ends with a null pointer), for arguments
 * built from request values, which may hold blanks: each reaches the utility whole.
 * merge_stderr non-zero sends the error output into the pipe. */
ZPARC BE_DUZ_get_agent_util_info_argv(const char* command, const char* const* argv, int merge_stderr, const char* key,
                                      char* outBuf, ZPAError* Error);

void BE_DUZ_get_proc_name(char* out_procname);
CM_RC BE_DUZ_get_agent_dir(char* agent_dir);

ZPARC BE_DUZ_load_account_from_file(ZPALIST_handle_typ* allInstsList, ZPALIST_handle_typ** instList,
                                    const char* instName, const char* accountFileName);
ZPARC BE_DUZ_load_LCP_from_File(ZPALIST_handle_typ* allInstsList, ZPALIST_handle_typ** instList, const char* instName);
ZPARC BE_DUZ_load_CCP_from_file(ZPALIST_handle_typ* allInstsList, ZPALIST_handle_typ** instList, const char* ccpName,
                                ZPAAttrList* Attributes, const char* reqType, ZPAError* Error);
/* Deletes the tracking cache of the job in Attributes: 0 deleted, non-zero failure. */
int BE_DUZ_clean_ccp_cache_file(ZPAAttrList* Attributes, ZPAError* Error);
CM_RC BE_DUZ_subtable_list_clear(ZPALIST_handle_typ* list);
void RemoveSpecialChars(char* value);

/* ------------------------------------------------------------------------------------------------
 * Central connection profiles: cache file names
 * ---------------------------------------------------------------------------------------------- */

/* Room of a cache file name: 63 characters and the terminator. */
#define BE_DUZ_CCP_NAME_SIZE 64

/* "%s_%x_cache" (ORDERNO, RUNNO in hex) for TRACK, SUBMIT, TRACK_INIT and STATISTICS, else
 * "%s_cache" (profile name). 0, the attribute lookup's result, or 1 for a name longer than
 * BE_DUZ_CCP_NAME_SIZE - 1 characters (refused, never cut). */
ZPARC BE_DUZ_create_ccp_cache_file_name(const char* reqType, const char* ccpName, char* cacheFileName,
                                        ZPAAttrList* Attributes, ZPAError* Error);
/* "%s/../ccp_cache/%s.dat" with CM_DIR of table OEBS. 0, 1 missing argument, 3 CM_DIR not set. */
ZPARC BE_DUZ_full_ccp_file_path(const char* cacheFileName, char* path);

/* ------------------------------------------------------------------------------------------------
 * Stored passwords: encryption by the agent's type, Base64, central connection profiles, the
 * one-time re-encryption of the accounts file and the encryption key change
 * ---------------------------------------------------------------------------------------------- */

/* Which AES key protects a stored password. CHECK_PREFIX takes it from the text's prefix;
 * MAX_SCOPES stands for "no prefix found" and is treated as the local key. */
typedef enum { GLOBAL = 0, LOCAL = 1, CHECK_PREFIX = 2, MAX_SCOPES = 3 } EncryptionKey;

#define BE_DUZ_GLOBAL_PREFIX "!AES256CBC@global!"
#define BE_DUZ_LOCAL_PREFIX "!AES256GCM@local!"
#define BE_DUZ_GLOBAL_CIPHER "AES256CBC"
#define BE_DUZ_GLOBAL_KEY_ALIAS "global"
#define BE_DUZ_LOCAL_CIPHER "AES256GCM"
#define BE_DUZ_LOCAL_KEY_ALIAS "local"
/* Room of a stored password and of the working buffers around it (2047 characters + NUL). */
#define BE_DUZ_PASSWORD_SIZE 2048
/* Room of the thread's encryption type text. */
#define BE_DUZ_ENC_TYPE_SIZE 64

#define BE_DUZ_ENC_INDICATOR_FILE_NAME "DUZ_enc_ind"
#define BE_DUZ_ACCOUNTS_BACKUP_FILE_NAME "DUZ_inst_bkp"

typedef char BE_DUZ_PARAM_VALUE_typ[2048];

/* One OEBS account as the configuration-manager requests carry it. */
typedef struct {
    BE_DUZ_PARAM_VALUE_typ account_name;
    BE_DUZ_PARAM_VALUE_typ service_name;
    BE_DUZ_PARAM_VALUE_typ login_name;
    BE_DUZ_PARAM_VALUE_typ password;
    BE_DUZ_PARAM_VALUE_typ nls_language;
    BE_DUZ_PARAM_VALUE_typ nls_char;
    char enable_sysout_handling[2];
    char append_log[2];
    char append_output[2];
    char convert_warning_to_ok[2];
    char wait_child[2];
    char job_comp_depend_child[2];
} BE_DUZ_account_data_handle;

/* ------------------------------------------------------------------------------------------------
 * The open list answer: one per open list, allocated by the list open and freed by its close.
 * ---------------------------------------------------------------------------------------------- */

/* Values of one row, enclosing element names and the room of each. */
#define BE_DUZ_XML_MAX_FIELDS 20
#define BE_DUZ_XML_MAX_PARENTS 20
#define BE_DUZ_XML_TAG_SIZE 65
#define BE_DUZ_XML_ROW_DATA_SIZE 1024
#define BE_DUZ_XML_REQ_TYPE_SIZE 100

typedef struct BE_DUZ_xmldata_handle {
    int row_index;      /* rows (or answer pieces) handed out so far */
    int num_of_fields;  /* values in one row, at most BE_DUZ_XML_MAX_FIELDS */
    int num_of_parents; /* enclosing element names, 0 to BE_DUZ_XML_MAX_PARENTS */
    char parent_tag[BE_DUZ_XML_MAX_PARENTS][BE_DUZ_XML_TAG_SIZE];
    char field_tag[BE_DUZ_XML_MAX_FIELDS][BE_DUZ_XML_TAG_SIZE];
    char row_data[BE_DUZ_XML_MAX_FIELDS][BE_DUZ_XML_ROW_DATA_SIZE]; /* the query's columns land here */
    OCIDefine* DUZ_def[BE_DUZ_XML_MAX_FIELDS];                      /* one define per column */
    char req_type[BE_DUZ_XML_REQ_TYPE_SIZE];                        /* the ACTION of the open list */
    ZPALIST_handle_typ datalist;                                    /* rows prepared in memory */
    char* xmlResponse;                                              /* a whole prebuilt answer, owned */
    int isPKM;                                                      /* 1: the answer is xmlResponse whole */
    /* Indicator of each define: the open query is fetched after its builder returned, so the
     * indicators live here with the buffers (a NULL column then reads as an empty value). */
    sb2 DUZ_ind[BE_DUZ_XML_MAX_FIELDS];
    /* Kept by the list code: the request's HEADER element, copied unchanged (malloc'ed, or null);
     * the session whose statement handle holds this list's open query (null: none was prepared,
     * the list has no rows); whether that query's end was read. */
    char* header;
    void* query_session; /* a BE_DUZ_Handles */
    int query_ended;
} BE_DUZ_xmldata_handle;

/* Replaces every cm_wild in input_str by sql_wild, in place. 0 when at least one was replaced, 2
 * when none was. */
ZPARC BE_DUZ_SQL_replace_wildchar(char* input_str, char cm_wild, char sql_wild);
/* The agent's connection record (defined with the life-cycle entry points). */
struct ZPAConnHandle;

/* Dispatch: AES through the string-encryption library when the agent's type is "aes", else the
 * Blowfish text form. In place; size is the text buffer's room. 0 success, non-zero failure. */
ZPARC BE_DUZ_PKM_encrypt(char* text, int size, EncryptionKey key, ZPAError* Error);
ZPARC BE_DUZ_PKM_decrypt(char* text, int size, EncryptionKey key, ZPAError* Error);

/* AES wrappers: *len enters as the output's room and leaves as the output's length. Input and
 * output may be the same buffer. -1 for a missing argument, else 0 or the failure's code. */
ZPARC BE_DUZ_encrypt_aes_local(const char* plain, char* cipher_out, int* len, ZPAError* Error);
ZPARC BE_DUZ_encrypt_aes_global(const char* plain, char* cipher_out, int* len, ZPAError* Error);
ZPARC BE_DUZ_decrypt_aes_local(const char* cipher, char* plain_out, int* len, ZPAError* Error);
ZPARC BE_DUZ_decrypt_aes_global(const char* cipher, char* plain_out, int* len, ZPAError* Error);
ZPARC BE_DUZ_encrypt_aes(const char* plain, const char* cipherAlias, const char* keyAlias, char* cipher_out, int* len,
                         ZPAError* Error);
ZPARC BE_DUZ_decrypt_aes(const char* cipher, const char* cipherAlias, const char* keyAlias, char* plain_out, int* len,
                         ZPAError* Error);

/* Per-thread state: the agent's encryption type (never null; empty until read), the library
 * context (none with clean-up mode 1 when the thread has none), and its release. */
char* BE_DUZ_get_encyption_type(ZPAError* Error);
ORVSECU_ctx* BE_DUZ_get_encyption_module(int cleanup_mode, ZPAError* Error);
ZPARC BE_DUZ_clean_encyption_info(ZPAError* Error);

EncryptionKey BE_DUZ_AES_get_key_from_prefix(const char* text);
void BE_DUZ_add_prefix(char* text, int buffer_len, EncryptionKey scope);
void BE_DUZ_remove_prefix(char* text);
char* BE_DUZ_process_path(char* path);

/* Base64 (standard alphabet, "=" padding). Both return malloc'ed, unterminated bytes of
 * *output_length, or none; the caller frees them. */
char* base64_encode(const unsigned char* data, int input_length, int* output_length);
unsigned char* base64_decode(const char* data, int input_length, int* output_length);
void build_decoding_table(void);

/* Central connection profiles. 0 read the account from the cache file cacheFileName (room
 * BE_DUZ_CCP_NAME_SIZE), 3 read the accounts file, 1 no cache file, else the writer's failure. */
ZPARC BE_DUZ_load_ccp_data_to_file(const char* ccpName, char* cacheFileName, const char* reqType,
                                   ZPAAttrList* Attributes, ZPAError* Error);
ZPARC BE_DUZ_is_account_lcp(const char* ccpName, ZPAError* Error);
/* ccpData has room for BE_DUZ_CCP_DATA_SIZE bytes. 0 or 3. */
#define BE_DUZ_CCP_DATA_SIZE 4098
ZPARC BE_DUZ_get_ccp_data(const char* ccpName, const char* reqType, ZPAAttrList* Attributes, char* ccpData,
                          ZPAError* Error);
ZPARC BE_DUZ_get_ccp_from_util(const char* ccpName, char* ccpData, ZPAError* Error);
void BE_DUZ_clean_ccp_encrypted_data(const char* value, char* cleaned);
ZPARC BE_DUZ_decrypt_ccp(const char* ccpData, char* decrypted, int* len, ZPAError* Error);
int BE_DUZ_is_Agent_SaaS(ZPAError* Error);

/* One-time re-encryption of the accounts file while ./data/DUZ_enc_ind.dat exists. */
ZPARC BE_ENV_update_encryption(ZPAError* Error);

/* Encryption key change of the accounts file (entry point ZPAAPI_PASSWORDKEY_ACTION). */
int BE_DUZ_load_all_lcp(ZPALIST_handle_typ* list);
/* The key lengths are clamped to the lengths of the values they describe. */
ZPARC BE_DUZ_get_keys_info(ZPAAttrList* AttributesIn, char** new_key, int* new_key_len, char** old_key,
                           int* old_key_len);
ZPARC BE_DUZ_update_aes_key_per_account(ZPALIST_handle_typ* list, BE_DUZ_account_data_handle* account,
                                        const char* new_key, int new_key_len, const char* old_key, int old_key_len,
                                        ORVSECU_ctx* ctx, ZPAError* Error);

/* Account sections of the accounts file (or of a central-profile cache file). */
ZPARC BE_DUZ_PKM_get_accounts_value(ZPALIST_handle_typ* account_list, const char* account_name, const char* key,
                                    char* list_val, int val_size, ZPAError* Error);
ZPARC BE_DUZ_PKM_populate_account_data(char* account_to_update, char* account_name, char* account_xml_buffer,
                                       BE_DUZ_xmldata_handle* response_handle, char* request_error_message,
                                       char* request_error_code, char* request_name, char* ccp_file_name,
                                       ZPAError* Error);

/* ------------------------------------------------------------------------------------------------
 * Jobs failure table (cm/DUZ/data/jobs_failure_table.dat, lock file job_failure.lock) and the
 * failure notice in the job's sysout
 * ---------------------------------------------------------------------------------------------- */

#define BE_JOB_FAILURE_TABLE_FILE "jobs_failure_table.dat"
#define BE_JOB_FAILURE_LOCK_FILE "job_failure.lock"
/* Room of a row value and of a notice: 1023 characters and the terminator. */
#define BE_JOB_FAILURE_MSG_SIZE 1024
/* The message of a notice is cut to this many characters. */
#define BE_JOB_NOTICE_MSG_MAX 913
/* Error code meaning "the message is a stored row value; its first word is the code". */
#define BE_JOB_CODE_IN_MESSAGE (-9999)
/* Longest code word taken from a stored row value; a longer first word is not a code. */
#define BE_JOB_CODE_FIELD_SIZE 9
#define BE_JOB_NOTICE_FORMAT_D \
    "\nORVANTA/CM for Oracle E-Business Suite has detected the following error:\n\nError message: %s\n\nError code: %d\n"
#define BE_JOB_NOTICE_FORMAT_S \
    "\nORVANTA/CM for Oracle E-Business Suite has detected the following error:\n\nError message: %s\n\nError code: %s\n"
/* Key of tables OEBS and CONFIG: octal permission bits set on a sysout after statistics. */
#define BE_JOB_SYSOUT_MODE_KEY "SYSOUT_MODE"

/* Paths into a PATHNAME_D_typ buffer. */
void be_job_build_jobs_failure_file_path(char* file_path);
void be_job_build_lock_file_path(char* file_path);
/* message: BE_JOB_FAILURE_MSG_SIZE bytes. 0 the job has a row, 1 not (or the table unreadable). */
ZPARC be_job_find_in_jobs_failure_file(const char* orderno, const char* runno, char* message);
/* Adds the job's row unless it has one (the first failure is kept). 0, or 1 on failure. */
ZPARC BE_JOB_write_jobs_failure_file(const char* orderno, const char* runno, const char* message);
ZPARC be_job_delete_line_from_jobs_failure_file(const char* orderno, const char* runno);
ZPARC be_job_handle_submit_failure(ZPAAttrList* AttributesOut, ZPAAttrList* AttributesIn, ZPAError* Error);
/* message: BE_JOB_FAILURE_MSG_SIZE bytes; "<code> - <text>". */
void BE_SYSOUT_create_job_failure_msg(ZPAError* Error, char* message);
/* error_message: BE_JOB_FAILURE_MSG_SIZE bytes, rewritten in place as the notice. */
void BE_JOB_format_error_message(char* error_message, int error_code, int* err_code_from_msg);
ZPARC BE_SYSOUT_handle_update_sysout(ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut, const char* orderno,
                                     const char* runno, const char* error_text, int error_code, int* err_code_from_msg,
                                     ZPAError* Error);
ZPARC BE_SYSOUT_update_sysout(const char* sysout_path, const char* message, ZPAError* Error);
/* CM_RC: 1 set or nothing to set, 2 failure. SYSOUT_MODE must be octal digits (at most 07777). */
CM_RC BE_SYSOUT_chmod_sysout(ZPAAttrList* AttributesIn, ZPAError* Error);

/* ------------------------------------------------------------------------------------------------
 * Report parameter record and configuration-manager request names
 * ---------------------------------------------------------------------------------------------- */

/* Parameters kept per request or set program. */
#define BE_DUZ_MAX_REPORT_PARMS 100

typedef struct {
    char parm_name[31];
    char parm_display[81];
    char parm_type[2];
    char required[2];
    char value_set_name[61];
    char value_set_type[2];
    int value_set_id;
    int seq_number;
    char dft_value[2001];
    char formatype[2];
    char report_value[241];
    char report_meaning[241];
    char value[2048];
    int maxsize;
    char uppercase[2];
    char sharedparm_name[31];
    char displayed[2];
    ZPALIST_handle_typ list; /* GM_PARAM_table_row rows: HAS_ID, ID, VALUE, MEANING, ... */
} BE_DUZ_report_parm;

/* Empties the texts, zeroes the numbers and makes list empty; report_meaning and displayed are
 * left as they are. Always 0. */
ZPARC BE_DUZ_init_report_parm(BE_DUZ_report_parm* parm_rec);

#define BE_DUZ_PKM_PREFIX_CM "ORVCM"
#define BE_DUZ_PKM_PREFIX_OEBS "ORVOEBS"
/* 1 when the action, upper-cased, begins with "ORVCM" or "ORVOEBS", else 0. */
int BE_DUZ_PKM_isPKMrequest(const char* action);
/* Runs the configuration-manager request named action (exact names) on the whole request text;
 * its answer goes into the handle's xmlResponse. 0 when an answer was prepared. */
ZPARC BE_DUZ_PKM_handle_pkm_request(char* action, char* pkmRequest, BE_DUZ_xmldata_handle* response_handle,
                                    ZPAError* Error);
/* Room of a request or response name, and of the failure text of the request manager's run. */
#define BE_DUZ_PKM_NAME_SIZE 128
#define BE_DUZ_PKM_ERROR_SIZE 1024
/* The request's name with its first "request" replaced by "response" (BE_DUZ_PKM_NAME_SIZE bytes). */
ZPARC BE_DUZ_PKM_request_to_response(char* request, char* response);
/* The failure form when the error record holds a text, else "<response>body</response>", into
 * xmlResponse. 1 only when memory runs out. */
ZPARC BE_DUZ_PKM_prepare_xml_response(BE_DUZ_xmldata_handle* response_handle, char* response_body_xml, ZPAError* Error,
                                      char* error_message, char* error_code, char* request_name);
/* Runs the external request manager for one request and keeps the document it wrote. */
ZPARC BE_DUZ_use_java_process(char* action, char* pkmRequest, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error);
/* Runs the manager script on the request file, its output into the response file (Error:
 * BE_DUZ_PKM_ERROR_SIZE bytes). 0 when it ended normally, whatever its exit code. */
ZPARC BE_DUZ_PKM_handle_java_process(char* Script, char* requestFile, char* responseFile, char* Error);
/* 1 when the request's PLUGINVERSION is at least this plug-in's, else 0 with the reason stored. */
int BE_DUZ_PKM_checkIfPluginVersionIsValid(char* xmlBuff, ZPAError* Error);
int BE_DUZ_PKM_extractPluginVersionString(char* xmlBuff, int size, char* pluginVer);

/* Account requests (0: an answer was prepared). */
ZPARC BE_DUZ_PKM_add_account_req(char* account_xml_buffer, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error);
ZPARC BE_DUZ_PKM_get_accounts_req(char* account_xml_buffer, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error);
ZPARC BE_DUZ_PKM_delete_account_req(char* account_xml_buffer, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error);
ZPARC BE_DUZ_PKM_update_account_req(char* account_xml_buffer, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error);
ZPARC BE_DUZ_PKM_validate_account(char* account_xml_buffer, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error);
ZPARC BE_DUZ_PKM_get_account_data(char* account_name, ZPALIST_handle_typ* account_data, char* account_xml_buffer,
                                  BE_DUZ_xmldata_handle* response_handle, char* request_error_message,
                                  char* request_error_code, char* request_name, ZPAError* Error);
ZPARC BE_DUZ_PKM_set_account_member(char* buffer, char* xml_key, char* file_attr_key, ZPALIST_handle_typ* account_list,
                                    char* account_name, ZPAError* Error);
ZPARC BE_DUZ_PKM_prepare_response(BE_DUZ_xmldata_handle* response_handle, char* account_name, ZPAError* Error,
                                  char* request_error_message, char* request_error_code, char* request_name);
ZPARC BE_DUZ_PKM_prepare_get_accounts_response(BE_DUZ_xmldata_handle* response_handle, char* accounts_buffer,
                                               size_t accounts_buffer_size, ZPAError* Error);

/* Watcher configuration requests (0: an answer was prepared) and the database package install (0
 * when sqlplus ended with 0). */
ZPARC BE_DUZ_PKM_get_ew_config_req(BE_DUZ_xmldata_handle* response_handle, ZPAError* Error);
ZPARC BE_DUZ_PKM_update_ew_config_req(char* xml_request, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error);
ZPARC BE_DUZ_PKM_activate_ew_req(char* xml_request, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error);
ZPARC BE_DUZ_PKM_get_applications_list_req(char* xml_request, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error);
ZPARC BE_DUZ_PKM_get_alerts_list_req(char* xml_request, BE_DUZ_xmldata_handle* response_handle, ZPAError* Error);
ZPARC BE_DUZ_PKM_install_package(ZPALIST_handle_typ* account_list, char* account_name, ZPAError* Error);

/* ------------------------------------------------------------------------------------------------
 * OCI sessions, the connection list, SQL session helpers and the OEBS session context
 * ---------------------------------------------------------------------------------------------- */

/* What a connection's UserData holds; every object hung there begins with BE_DUZ_data_type. */
typedef enum {
    BE_DUZ_NO_TYPE = 0,
    BE_DUZ_CONNECTION = 1,
    BE_DUZ_CONNECTION_LIST = 2,
    BE_DUZ_ACCOUNT_NAME_LIST = 3 /* the account names of an open "GetCMInstance" list */
} BE_DUZ_DATA_TYPE;

typedef struct {
    BE_DUZ_DATA_TYPE dataType;
} BE_DUZ_data_type;

/* One OCI session. The record and its three environment texts ("NAME=value", malloc'ed) are
 * freed by BE_DUZ_OCI_CLOSE_Session; the record itself is allocated with malloc by its opener. */
typedef struct {
    BE_DUZ_DATA_TYPE dataType; /* always BE_DUZ_CONNECTION */
    OCIEnv* envhp;
    OCIServer* srvhp;
    OCIError* errhp;
    OCISession* userhp;
    OCISvcCtx* svchp;
    OCIStmt* stmthp; /* the session's one statement handle */
    char* GLBL_oraHome;
    char* GLBL_nlsLang;
    char* GLBL_tnsAdmn;
} BE_DUZ_Handles;

/* The sessions of a tracking connection, keyed by database SID. */
typedef struct {
    BE_DUZ_DATA_TYPE dataType;          /* always BE_DUZ_CONNECTION_LIST */
    ZPALIST_handle_typ* connectionList; /* entries are copies of BE_DUZ_ConnectionListItem */
} BE_DUZ_ConnectionList;

/* Room of a database SID: 254 characters and the terminator. */
#define BE_DUZ_SID_NAME_SIZE 255

typedef struct {
    char DUZ_SID_Name[BE_DUZ_SID_NAME_SIZE];
    BE_DUZ_Handles* DUZ_connection;
} BE_DUZ_ConnectionListItem;

/* Room of a decrypted stored password (2047 characters and the terminator). */
#define BE_DUZ_SESSION_PASSWORD_SIZE 2048
/* Room of the text that OCIErrorGet fills. */
#define BE_DUZ_OCI_ERROR_TEXT_SIZE 512

void BE_DUZ_OCI_Init_Handle(BE_DUZ_Handles* DUZ_handle);
void BE_DUZ_OCI_Print_Handle(BE_DUZ_Handles* newHandle);
/* 0 open; 1 failed; 2 an OCI call asked to be called again. A failed start leaves what it
 * allocated in the record: close it with overwrite_error 'N'. */
ZPARC BE_DUZ_OCI_START_Session(ZPAAttrList* Attr, BE_DUZ_Handles* newHandle, ZPAError* Error);
/* Frees every handle, the texts and the record itself. */
void BE_DUZ_OCI_CLOSE_Session(BE_DUZ_Handles* newHandle, char overwrite_error, ZPAError* Error);
/* 0 go on, 1 failure (Oracle code and text, or the OCI status), 2 call again. A null errhp maps
 * OCI_ERROR and OCI_SUCCESS_WITH_INFO without reading a message (the status is the code). */
ZPARC BE_DUZ_OCI_error(OCIError* errhp, sword status, ZPAError* Error);

/* Puts "NAME=value" into the process environment (a copy of its own) and hands back the text,
 * malloc'ed, for the session record to keep (*kept is freed first when set). 0, or 1. */
int BE_DUZ_set_oracle_env(const char* name, const char* value, char** kept);

BE_DUZ_ConnectionList* BE_DUZ_create_connection_list(void);
void BE_DUZ_delete_connection_list(BE_DUZ_ConnectionList* pConnectionList);
BE_DUZ_ConnectionListItem* BE_DUZ_create_connection_list_item(BE_DUZ_Handles* connection, char* sid_name);
void BE_DUZ_delete_connection_list_item(BE_DUZ_ConnectionListItem* item);
CM_RC BE_DUZ_insert_connection_list_item(BE_DUZ_ConnectionList* pConnectionList, BE_DUZ_Handles* connection,
                                         char* sid_name);
CM_RC BE_DUZ_reset_connection_list(BE_DUZ_ConnectionList* pConnectionList);
CM_RC BE_DUZ_connection_list_next(BE_DUZ_ConnectionList* pConnectionList,
                                  BE_DUZ_ConnectionListItem* connectionListItem);
BE_DUZ_Handles* BE_DUZ_find_connection(BE_DUZ_ConnectionList* pConnectionList, char* sid_name);
/* 1 when data is a connection list made by BE_DUZ_create_connection_list and not yet deleted. */
int BE_DUZ_is_connection_list(const void* data);
BE_DUZ_Handles* BE_DUZ_find_connection_from_list(ZPAConnHandle* Connection, ZPAAttrList* AttributesIn, char* action,
                                                 ZPAError* Error);

/* SQL session and entity helpers. */
typedef enum { TABLE_ENTITY_TYPE = 0, VIEW_ENTITY_TYPE = 1 } BE_DUZ_entity_types;
typedef enum { ALL_SEARCH_SCOPE = 0, DBA_SEARCH_SCOPE = 1, USER_SEARCH_SCOPE = 2 } BE_DUZ_search_scopes;

/* Room of the ALTER SESSION text. */
#define BE_DUZ_ALTER_SESSION_SIZE 400
/* Longest language or territory part of PARM_NLS_LANG. */
#define BE_DUZ_NLS_PART_MAX 39
/* Room of the converted date text. */
#define BE_DUZ_DATE_OUT_SIZE 25

/* Name and value must be plain NLS words (letters, digits, blanks, '_', '-', '.'; the name without
 * blanks); a value with blanks is quoted. Anything else is refused with code 1. */
ZPARC BE_DUZ_alter_SQL_session(BE_DUZ_Handles* DUZ_handle, char* varName, char* varValue, ZPAError* Error);
ZPARC BE_DUZ_set_parameter_SQL_session(BE_DUZ_Handles* DUZ_handle, ZPAAttrList* AttributesIn, ZPAError* Error);
ZPARC BE_DUZ_display_SQL_session(BE_DUZ_Handles* DUZ_handle, ZPAError* Error);
/* outStr: BE_DUZ_DATE_OUT_SIZE bytes. */
ZPARC BE_DUZ_convert_date_format(BE_DUZ_Handles* DUZ_handle, char* dateStr, char* dateFormat, char* outStr,
                                 char* outFormat, ZPAError* Error);
ZPARC BE_DUZ_set_profile_pair(BE_DUZ_Handles* JOB_handle, char* pro_name, char* pro_value, ZPAError* Error);
ZPARC BE_DUZ_check_entity_exist(BE_DUZ_Handles* DUZ_handle, char* entity_name, BE_DUZ_entity_types entity_type,
                                BE_DUZ_search_scopes scope, int* result_flag, ZPAError* Error);
/* oebs_ver receives at most 4 characters and no terminator: pass a zeroed buffer. */
ZPARC BE_DUZ_get_oebs_version(char* oebs_ver, BE_DUZ_Handles* JOB_handle, ZPAError* Error);
CM_RC BE_DUZ_isNumber(char* num);
int BE_DUZ_isSQLCommand(char* value);
/* esc_value must hold twice the length of old_value plus one. */
void BE_DUZ_replace_esc_char(char* esc_value, char* old_value);
char* BE_DUZ_STR_remove_blanks(char* str);
int BE_DUZ_replace_chars(char* str, char from, char to);

/* OEBS session context: applications initialisation, multi-org, operating unit. */
#define BE_DUZ_OU_NAME_SIZE 2000

ZPARC BE_DUZ_init_profile(int user_id, int resp_id, int resp_app_id, int group_id, BE_DUZ_Handles* JOB_handle,
                          ZPAAttrList* AttributesIn, ZPAError* Error);
ZPARC BE_DUZ_init_org_access(ZPAAttrList* AttributesIn, BE_DUZ_Handles* JOB_handle, ZPAError* Error);
int BE_DUZ_Is_Multy_Org_access(ZPAAttrList* AttributesIn, BE_DUZ_Handles* JOB_handle, ZPAError* Error);
ZPARC BE_DUZ_mo_global_init(char* Org_access_flag, BE_DUZ_Handles* JOB_handle, ZPAError* Error);
ZPARC BE_DUZ_get_org_id(int* org_id, BE_DUZ_Handles* JOB_handle, ZPAError* Error);
ZPARC BE_DUZ_set_policy(int org_id, BE_DUZ_Handles* JOB_handle, ZPAError* Error);
ZPARC BE_DUZ_set_Operating_Unit(char* prog_name, char* ou_name, char* req_type, BE_DUZ_Handles* JOB_handle,
                                ZPAAttrList* ConnectionAttributes, ZPAError* Error);
ZPARC BE_DUZ_check_multi_org_category(int* has_ou, char* prog_name, BE_DUZ_Handles* JOB_handle, ZPAError* Error);
ZPARC BE_DUZ_DEL_MO_GLOB_ORG_ACCESS_TMP(BE_DUZ_Handles* JOB_handle, ZPAError* Error);
ZPARC BE_DUZ_get_org_id_by_Operating_Unit(int* org_id, char* ou_name, BE_DUZ_Handles* JOB_handle, ZPAError* Error);
/* ou_name: BE_DUZ_OU_NAME_SIZE bytes. */
ZPARC BE_DUZ_GET_OU_NAME(int org_id, char* ou_name, BE_DUZ_Handles* JOB_handle, ZPAError* Error);
ZPARC BE_DUZ_SET_OU_NAME(int org_id, char* ou_name, BE_DUZ_Handles* JOB_handle, ZPAError* Error);
ZPARC BE_DUZ_set_server_policy(int org_id, BE_DUZ_Handles* JOB_handle, ZPAError* Error);
ZPARC BE_DUZ_set_org_id(int org_id, char* req_type, BE_DUZ_Handles* JOB_handle, ZPAError* Error);

/* ------------------------------------------------------------------------------------------------
 * Program parameters: bind-variable resolution, value formats and default values, value sets.
 * Records are the caller's array of BE_DUZ_MAX_REPORT_PARMS pointers; parmcount is the last index
 * filled and parmindex the record worked on. Values handed back are at most
 * BE_DUZ_PARM_VALUE_SIZE - 1 characters.
 * ---------------------------------------------------------------------------------------------- */

/* Room of an SQL text being resolved or built (7999 characters); a longer one is refused. */
#define BE_DUZ_SQL_TEXT_SIZE 8000
/* Longest name of a bind reference; a longer one is refused. */
#define BE_DUZ_BIND_NAME_MAX 59
/* Room of a resolved value, a profile value and a value-set column (240 characters). */
#define BE_DUZ_PARM_VALUE_SIZE 241
/* Profile names are upper-cased and cut to this many characters. */
#define BE_DUZ_PROFILE_NAME_MAX 80
/* Room of a select expression of a value-set column. */
#define BE_DUZ_SELECT_CLAUSE_SIZE 296
/* Columns of a value check: ID, MEANING, VALUE and the quick-pick columns. */
#define BE_DUZ_VALUESET_MAX_COLUMNS 40
/* The standard date-time form of the E-Business Suite. */
#define BE_DUZ_STANDARD_DATE_FORMAT "YYYY/MM/DD HH24:MI:SS"

/* Wraps the first argument of the first call of pad_name ("rpad", "lpad") in nvl(..., ' '). */
void BE_DUZ_resolve_pad_func(char* in_str, const char* pad_name);
/* The value of field segfield (upper-cased in place) of the latest record before parmIndex whose
 * value set or name is segname. mode "VALUE_SET" marks the current record required "D" when the
 * value is empty. 0, or 1 with the reason in Error. */
ZPARC BE_DUZ_reslove_bind_v_var(BE_DUZ_Handles* JOB_handle, const char* mode, const char* segname, char* segfield,
                                BE_DUZ_report_parm** parm_recs, int parmCount, int parmIndex, char* tmp_value,
                                ZPAError* Error);
/* The session's value of a profile option. 0, or 1 when it is not set or cannot be read (then
 * profile_value is left as it was). */
ZPARC BE_DUZ_reslove_bind_p_var(BE_DUZ_Handles* JOB_handle, const char* profile_name, char* profile_value,
                                ZPAError* Error);
/* The planning instance id of the session's database. 0, or the failure (no row included). */
ZPARC BE_DUZ_get_sr_instance_id(int* sr_instance_id, BE_DUZ_Handles* JOB_handle, ZPAError* Error);
/* Resolves the references of an SQL text against the records and runs it: the first column of
 * its first row into tmp_value. 0, or the failure (a statement without rows included). */
ZPARC BE_DUZ_reslove_sql(BE_DUZ_Handles* JOB_handle, const char* sqlStr, BE_DUZ_report_parm** parm_recs, int parmCount,
                         int parmIndex, char* tmp_value, ZPAError* Error);
void BE_parm_remove_leading_spaces(char* query);
/* Inserts the session's FND_SESSIONS row when it has none. 0, or the database failure. */
ZPARC BE_parm_check_add_fnd_sessions_row(BE_DUZ_Handles* JOB_handle, ZPAError* Error);

/* The default of parm_rec by its default type into its value. 0, or the failing step's result. */
ZPARC BE_DUZ_convert_default_value(BE_DUZ_Handles* JOB_handle, BE_DUZ_report_parm* parm_rec,
                                   BE_DUZ_report_parm** parm_recs, int parmcount, int parmindex, ZPAError* Error);
/* The value of parm_rec in the form of its format type and size. 0; non-zero only when a date
 * conversion through the database failed (the value then stays as given). */
ZPARC BE_DUZ_format_default_value(BE_DUZ_Handles* DUZ_handle, BE_DUZ_report_parm* parm_rec,
                                  BE_DUZ_report_parm** parm_recs, int parmcount, int parmindex, ZPAError* Error);
/* report_value from the value, or from the chosen value-set row's ID. Always 0. */
ZPARC BE_DUZ_convert_report_value(int check_id, BE_DUZ_report_parm* parm_rec, BE_DUZ_report_parm** parm_recs,
                                  int parmcount, int parmindex, ZPAError* Error);
/* The current date or time in the format of fmt_code, param_type and length; out_str holds
 * BE_DUZ_DATE_OUT_SIZE bytes. */
ZPARC BE_DUZ_DATE_TIME_fmt(BE_DUZ_Handles* DUZ_handle, char fmt_code, char param_type, int length, char* out_str,
                           ZPAError* Error);
/* Oracle date formats (out_str: BE_DUZ_DATE_OUT_SIZE bytes). Always 0. */
ZPARC BE_DUZ_DATE_TIME_fmtcode(char fmt_code, int length, char* out_str);
ZPARC BE_DUZ_DATE_TIME_fmtcode_2(char fmt_code, char parm_type, int length, char* out_str);
/* A default directive ("DUZ_SQL:", "DUZ_PROFILE:", ...) at the start of parm_value sets the
 * default of parm_recs[i]. 0 taken, 1 none. */
ZPARC BE_DUZ_reset_default_parm_value(char* parm_value, BE_DUZ_report_parm** parm_recs, int i);
/* "JAN" 1 ... "DEC" 12, anything else 0. */
int BE_DUZ_return_month_number(const char* mon_str);

/* Checks value (an ID when check_id is not 0) against the table value set of parm_rec and stores
 * the matching row's columns in list. 0 found, 1 not found or failed. */
ZPARC BE_DUZ_retrieve_valuset_fields(BE_DUZ_Handles* JOB_handle, ZPALIST_handle_typ* list, BE_DUZ_report_parm* parm_rec,
                                     BE_DUZ_report_parm** parms, int parmcount, int parmindex, int check_id,
                                     char* value, char* meaning, ZPAError* Error);
/* Opens the query of the value set's values (VALUE, MEANING), filtered by value when it is not
 * empty ('*' in value becomes '%', in place), with its two columns defined into row_data[0] and
 * row_data[1] of xmldata_handle; the caller fetches the rows. 0, else the failure. */
ZPARC BE_DUZ_retrieve_valuset_values(BE_DUZ_Handles* JOB_handle, ZPALIST_handle_typ* list, BE_DUZ_report_parm* parm_rec,
                                     BE_DUZ_report_parm** parms, BE_DUZ_xmldata_handle* xmldata_handle, int parmcount,
                                     int parmindex, int check_id, char* value, ZPAError* Error);
/* clause holds BE_DUZ_SELECT_CLAUSE_SIZE bytes. Always 0. */
ZPARC BE_DUZ_construct_select_clause(char vs_fmt, const char* col_name, char col_type, int vs_size, char* clause);
/* Ends the first top-level field of *column_content at its comma; *column_content moves on to
 * the rest, or to null after the last field. */
void BE_DUZ_parse_field(char** column_content);
/* Splits "expression INTO name" in place; *col_name null when there is no INTO. Always 0. */
int BE_DUZ_parse_column_content(char* col_content, char** col_exp, char** col_name);
/* The first "ORDER BY" outside quotes, or null. */
char* BE_DUZ_STR_ORDERBY_clause(char* str);
/* out_query receives in_query without a leading term followed by white space. Always 0. */
int BE_DUZ_check_and_remove_term_from_query(const char* in_query, char* out_query, const char* term);

/* ------------------------------------------------------------------------------------------------
 * Program and request-set parameter lists: definitions read into the caller's records, and the
 * values worked out for a submission.
 * ---------------------------------------------------------------------------------------------- */

/* A job value that asks for the parameter's default. */
#define BE_DUZ_CALCULATED_DURING_SUBMISSION "Calculated During Submission"
/* Longest application and program short names bound to the definition queries. */
#define BE_DUZ_PARM_APP_NAME_MAX 51
#define BE_DUZ_PARM_PROG_NAME_MAX 31
/* Longest name given to BE_DUZ_retrieve_ReqSetParmList. */
#define BE_DUZ_REQSET_NAME_MAX 239

/* A program's parameter definitions (13 columns), by application id (:app_id) or by application
 * short name (:app_name), and :prog_name. */
#define BE_DUZ_PARM_COLUMNS_SQL                                                                   \
    "SELECT a.required_flag, a.default_type, a.default_value, a.end_user_column_name, "           \
    "a.end_user_column_name, a.flex_value_set_id, b.flex_value_set_name, b.flex_value_set_name, " \
    "b.maximum_size, b.validation_type, b.format_type, b.uppercase_only_flag, a.display_flag "
#define BE_DUZ_PARM_CONDITIONS_SQL                                                                        \
    "substr(a.descriptive_flexfield_name, 1, 6) = '$SRS$.' AND "                                          \
    "substr(a.descriptive_flexfield_name, 7) = :prog_name AND a.flex_value_set_id = b.flex_value_set_id " \
    "AND a.enabled_flag = 'Y' "
#define BE_DUZ_RETRIEVE_PARM_SQL                                                                   \
    BE_DUZ_PARM_COLUMNS_SQL                                                                        \
    "FROM fnd_descr_flex_column_usages a, fnd_flex_value_sets b WHERE " BE_DUZ_PARM_CONDITIONS_SQL \
    "AND a.application_id = :app_id ORDER BY a.column_seq_num"
#define BE_DUZ_RETRIEVE_PARM_BY_APP_NAME_SQL                                           \
    BE_DUZ_PARM_COLUMNS_SQL                                                            \
    "FROM fnd_descr_flex_column_usages a, fnd_flex_value_sets b, fnd_application app " \
    "WHERE " BE_DUZ_PARM_CONDITIONS_SQL                                                \
    "AND app.application_short_name = :app_name AND "                                  \
    "app.application_id = a.application_id ORDER BY a.column_seq_num"

/* A request-set program's parameter definitions (16 columns, :prog_name and :rsetprogid): the
 * definition form (column 13 the program's default value) and the display form (column 13 what a
 * list shows). BE_DUZ_SET_retrieve_default_parms is in definition mode when its text equals
 * BE_DUZ_RETRIEVE_SET_PARM_SQL. */
#define BE_DUZ_SET_PARM_SQL(default_value_column)                                                          \
    "SELECT U.REQUIRED_FLAG, A.DEFAULT_TYPE, A.DEFAULT_VALUE, U.end_user_column_name, "                    \
    "C.FORM_LEFT_PROMPT, A.SHARED_PARAMETER_NAME, B.FLEX_VALUE_SET_ID, B.FLEX_VALUE_SET_NAME, "            \
    "B.MAXIMUM_SIZE, B.VALIDATION_TYPE, B.FORMAT_TYPE, U.DEFAULT_TYPE, " default_value_column              \
    ", "                                                                                                   \
    "B.UPPERCASE_ONLY_FLAG, U.DISPLAY_FLAG, A.DISPLAY_FLAG "                                               \
    "FROM FND_REQUEST_SET_PROGRAM_ARGS A, FND_DESCR_FLEX_COLUMN_USAGES U, fnd_descr_flex_col_usage_tl C, " \
    "FND_FLEX_VALUE_SETS B WHERE substr(U.descriptive_flexfield_name, 1, 6) = '$SRS$.' AND "               \
    "substr(U.descriptive_flexfield_name, 7) = :prog_name AND "                                            \
    "substr(C.descriptive_flexfield_name, 1, 6) = '$SRS$.' AND "                                           \
    "substr(C.descriptive_flexfield_name, 7) = :prog_name AND U.FLEX_VALUE_SET_ID = B.FLEX_VALUE_SET_ID "  \
    "AND A.request_set_program_id (+) = :rsetprogid AND "                                                  \
    "A.APPLICATION_COLUMN_NAME (+) = U.APPLICATION_COLUMN_NAME AND U.ENABLED_FLAG = 'Y' AND "              \
    "U.application_column_name = C.application_column_name AND C.LANGUAGE(+) = USERENV('LANG') "           \
    "ORDER BY U.COLUMN_SEQ_NUM"
#define BE_DUZ_RETRIEVE_SET_PARM_SQL BE_DUZ_SET_PARM_SQL("U.default_value")
#define BE_DUZ_RETRIEVE_SET_PARM_DISPLAY_SQL                                                              \
    BE_DUZ_SET_PARM_SQL("DECODE(U.DEFAULT_TYPE, 'A', '" BE_DUZ_CALCULATED_DURING_SUBMISSION               \
                        "', "                                                                             \
                        "'D', '" BE_DUZ_CALCULATED_DURING_SUBMISSION                                      \
                        "', "                                                                             \
                        "'T', '" BE_DUZ_CALCULATED_DURING_SUBMISSION                                      \
                        "', "                                                                             \
                        "'F', '" BE_DUZ_CALCULATED_DURING_SUBMISSION                                      \
                        "', "                                                                             \
                        "'P', '" BE_DUZ_CALCULATED_DURING_SUBMISSION                                      \
                        "', "                                                                             \
                        "'S', DECODE(B.VALIDATION_TYPE, 'F', NULL, '" BE_DUZ_CALCULATED_DURING_SUBMISSION \
                        "'), "                                                                            \
                        "NVL(U.default_value, ' '))")

/* Reads the parameter definitions of a program with sqlStr (one of the statements above) into
 * parm_recs from index 0; *parms_count receives the last index (-1 for none). appID < 0 binds
 * appname to :app_name, else appID to :app_id; setID > 0 also binds progid to :rsetprogid.
 * 0, or the failure (then the records and *parms_count are left as they were). */
ZPARC BE_DUZ_retrieve_default_parms(BE_DUZ_Handles* JOB_handle, const char* sqlStr, int setID, int appID,
                                    const char* appname, const char* progname, int progid,
                                    BE_DUZ_report_parm** parm_recs, int* parms_count, ZPAError* Error);
/* The values of a single request's parameters (report_value) from the job's attributes, the
 * defaults, formatting and value-set validation. 0, or the failure to read the definitions. */
ZPARC BE_DUZ_request_default_parms(BE_DUZ_Handles* JOB_handle, int appID, const char* progname,
                                   BE_DUZ_report_parm** parm_recs, int* parms_count, ZPAAttrList* ConnectionAttributes,
                                   ZPAAttrList* AttributesIn, ZPAError* Error);
/* The definitions of a program named by application and program short names, each with its
 * default worked out. 0, the reading's failure, or the last record's default failure. */
ZPARC BE_DUZ_retrieve_ReqParmList(BE_DUZ_Handles* DUZ_handle, const char* app_name, const char* prog_name,
                                  BE_DUZ_report_parm** parm_recs, int* parm_count, ZPAError* Error);

/* Reads a request-set program's parameter definitions with sqlStr (BE_DUZ_RETRIEVE_SET_PARM_SQL
 * or BE_DUZ_RETRIEVE_SET_PARM_DISPLAY_SQL); the display form leaves hidden parameters out unless
 * GET_PARMS_INCLUDING_HIDDEN of table OEBS is "Y". As BE_DUZ_retrieve_default_parms otherwise. */
ZPARC BE_DUZ_SET_retrieve_default_parms(BE_DUZ_Handles* JOB_handle, const char* sqlStr, int setID, int appID,
                                        const char* progname, int progid, BE_DUZ_report_parm** parm_recs,
                                        int* parms_count, ZPAError* Error);
/* The values of one program of a request set; sublist holds its job values ("PARM%d",
 * "PARMMEANING%d") or is null; sharedParmList carries the set's shared values from program to
 * program; prog_index is the program's place in the job's set programs, from 0. */
ZPARC BE_DUZ_request_set_default_parms(BE_DUZ_Handles* JOB_handle, int setStage_sequence, int setID, int appID,
                                       const char* progname, int progid, BE_DUZ_report_parm** parm_recs,
                                       int* parms_count, ZPALIST_handle_typ* sharedParmList,
                                       ZPALIST_handle_typ* sublist, int prog_index, ZPAAttrList* ConnectionAttributes,
                                       ZPAAttrList* AttributesIn, ZPAError* Error);
/* A set program found by application, set and stage names and its sequence, its parameters read
 * in display form. Names longer than BE_DUZ_REQSET_NAME_MAX are refused. 0, else the failure. */
ZPARC BE_DUZ_retrieve_ReqSetParmList(BE_DUZ_Handles* DUZ_handle, const char* app_name, const char* set_name,
                                     const char* stage_name, const char* prog_name, const char* prog_seq,
                                     BE_DUZ_report_parm** parm_recs, int* parm_count, ZPAError* Error);
/* Collects the shared values of one set program into sharedParmList in advance. 0, or the
 * reading's failure. */
ZPARC BE_DUZ_request_set_shared_parms(BE_DUZ_Handles* JOB_handle, int setStage_sequence, int setID, int appID,
                                      const char* progname, int progid, BE_DUZ_report_parm** parm_recs,
                                      int* parms_count, ZPALIST_handle_typ* sharedParmList, ZPAAttrList* AttributesIn,
                                      ZPAError* Error);

/* ------------------------------------------------------------------------------------------------
 * Job-script view: a job's OEBS program or request-set definition as text, built in a temporary
 * file by the open, handed out piece by piece by the read and dropped by the close.
 * ---------------------------------------------------------------------------------------------- */

/* Room of each column of the definition query: values are cut to 31 characters. */
#define BE_DUZ_JCL_COLUMN_SIZE 32
/* Width to which the program name of a "PROGRAM NAME" line is padded. */
#define BE_DUZ_JCL_PROGRAM_WIDTH 31

/* ------------------------------------------------------------------------------------------------
 * Plug-in life cycle and connection (the entry points are in be_zpaapi.h): the session of a
 * named account, the account-name search and the process log's name
 * ---------------------------------------------------------------------------------------------- */

/* Banner written by OEBS_version (69 characters, ending in a blank). */
#define BE_DUZ_OEBS_VERSION "ORV for Oracle E-Business Suite 9.0.21.000 - Patch 1 - December 2025 "
/* Room of the action name read from a request's XML header (63 characters and the terminator). */
#define BE_DUZ_ACTION_NAME_SIZE 64
/* Room of an account name (63 characters and the terminator). A longer name is refused. */
#define BE_DUZ_INSTANCE_NAME_SIZE 64
/* Log names of the plug-in's process. */
#define BE_DUZ_LOG_NAME_CM "Oebs_CM"
#define BE_DUZ_LOG_NAME_TRACK "AT"
/* File that the child-reaping handler appends to at debug level 4. */
#define BE_DUZ_SIGNAL_LOG "./proclog/signal"

/* Opens a session for a named account without a connection; a session still stored through
 * pDUZ_handle is closed first. 0 with the session stored, non-zero with null stored. */
ZPARC BE_DUZ_connect_to_OEBS(char* account_name, BE_DUZ_Handles** pDUZ_handle, ZPAError* Error);
/* Account name of a request into inst_name (BE_DUZ_INSTANCE_NAME_SIZE bytes). 0 found; 1 not
 * found, or found but longer than 63 characters (then refused with the reason in Error). */
ZPARC BE_DUZ_find_instance(ZPAAttrList* Attributes, char* inst_name, ZPAError* Error);
/* log_name is set to point at a constant text. */
void BE_DUZ_get_logname(ZPAAttrList* Attributes, const char** log_name);
/* Sets up the process's diagnostic log on the first call only. Always 0. */
int BE_DUZ_init_logfile(const char* filename);
/* Reaps every ended child without waiting. */
void sigChldHandler(int sig);

/* ------------------------------------------------------------------------------------------------
 * Lists (the entry points are in be_zpaapi.h): the open-list handle and its paging, the list
 * actions on one request, and the list handlers
 * ---------------------------------------------------------------------------------------------- */

/* Characters of a whole-text answer handed out per READ. */
#define BE_DUZ_LIST_PIECE_SIZE 1000
/* Rows the client fetches ahead for a row list. */
#define BE_DUZ_LIST_PREFETCH_ROWS 20
/* Longest message of a ZPAAPI_LIST_ACTION answer (cut before escaping). */
#define BE_DUZ_LIST_ACTION_MESSAGE_MAX 499

/* The account names of an open "GetCMInstance" list, hung on the connection's UserData. */
typedef struct {
    BE_DUZ_DATA_TYPE dataType; /* always BE_DUZ_ACCOUNT_NAME_LIST */
    ZPALIST_handle_typ names;  /* key/value rows, key and value both the account name */
} BE_DUZ_AccountNameList;
/* Frees a list made for "GetCMInstance" (null is ignored). */
void BE_DUZ_delete_account_name_list(BE_DUZ_AccountNameList* list);

/* List actions on one request (0 success, 1 failure with the reason in Error). */
ZPARC BE_DUZ_LIST_set_priority(BE_DUZ_Handles* DUZ_handle, ZPAAttrList* xml_attrList, ZPAError* Error);
ZPARC BE_DUZ_LIST_hold_request(BE_DUZ_Handles* DUZ_handle, ZPAAttrList* xml_attrList, ZPAError* Error);
ZPARC BE_DUZ_LIST_unhold_request(BE_DUZ_Handles* DUZ_handle, ZPAAttrList* xml_attrList, ZPAError* Error);

/* List handlers (0 success). */
ZPARC BE_DUZ_get_cmlist_list(ZPAConnHandle* Connection, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                             ZPAError* Error);
ZPARC BE_DUZ_get_resp_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                           ZPAError* Error);
ZPARC BE_DUZ_get_profile_name_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                   ZPAAttrList* xml_attrList, ZPAError* Error);
ZPARC BE_DUZ_get_output_url(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                            ZPAError* Error);

/* Parameter lists of a program and of a request set's programs. The builders run by the
 * whole-text program data (hidden profile parameters, the operating-unit flag) take the same
 * form; GetSetPARAM's rows are prepared in the handle's datalist (emptied first). */
ZPARC BE_DUZ_get_reqparm_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                              ZPAError* Error);
ZPARC BE_DUZ_get_reqparmprofiles_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                      ZPAAttrList* xml_attrList, ZPAError* Error);
ZPARC BE_DUZ_check_if_operating_unit_exist(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                           ZPAAttrList* xml_attrList, ZPAError* Error);
ZPARC BE_DUZ_get_setprog_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                              ZPAError* Error);
ZPARC BE_DUZ_get_ReqSetParm_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                 ZPAAttrList* xml_attrList, ZPAError* Error);
ZPARC BE_DUZ_get_setparam_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                               ZPAError* Error);

/* The programs ("REQUEST") or request sets a user may submit under a responsibility, by its
 * request group or (DUZ-USE_MENU_FUNCTION "Y") by its menu. */
ZPARC BE_DUZ_get_job_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                          ZPAError* Error);

/* Lookup lists: workflow roles, printers of a style, XML Publisher layouts of a program and their
 * languages, printer styles, installed languages and a responsibility's operating units. */
ZPARC BE_DUZ_get_notification_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                   ZPAAttrList* xml_attrList, ZPAError* Error);
ZPARC BE_DUZ_get_printer_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                              ZPAError* Error);
/* Without XML Publisher the list has no rows (0, no query). */
ZPARC BE_DUZ_get_layout_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                             ZPAError* Error);
ZPARC BE_DUZ_get_layout_lang_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                  ZPAAttrList* xml_attrList, ZPAError* Error);
ZPARC BE_DUZ_get_printer_style_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                    ZPAAttrList* xml_attrList, ZPAError* Error);
ZPARC BE_DUZ_get_language_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                               ZPAError* Error);
ZPARC BE_DUZ_get_operating_unit_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle,
                                     ZPAAttrList* xml_attrList, ZPAError* Error);
/* has_terr receives the number of the program's layouts that have a default territory. */
ZPARC BE_DUZ_check_if_territory_exist(char* prog_name_str, char* app_name_str, int* has_terr,
                                      BE_DUZ_Handles* DUZ_handle, ZPAError* Error);

/* Output URL ("ViewOutputUrl"). */
typedef struct out_info_s {
    char out_type[20];
    char x_mode[20];
    char type[30];
} out_info;

/* Room of the working texts of the output URL. */
#define BE_DUZ_URL_TEXT_SIZE 200
#define BE_DUZ_URL_TYPE_SIZE 20
#define BE_DUZ_URL_SIZE_SIZE 100
#define BE_DUZ_URL_FLAG_SIZE 10
#define BE_DUZ_URL_ADDRESS_SIZE 1024

/* base_url: BE_DUZ_URL_TEXT_SIZE bytes. */
ZPARC BE_DUZ_Retrive_Base_Url(char* base_url, BE_DUZ_Handles* DUZ_handle, ZPAError* Error);
/* url_id: BE_DUZ_URL_TEXT_SIZE bytes. */
ZPARC BE_DUZ_Calculate_Url_Id(char* url_id, BE_DUZ_Handles* DUZ_handle, ZPAAttrList* xml_attrList, ZPAError* Error);
/* out_file and node_name: BE_DUZ_URL_TEXT_SIZE, out_type: BE_DUZ_URL_TYPE_SIZE, size:
 * BE_DUZ_URL_SIZE_SIZE bytes. */
ZPARC BE_DUZ_Get_Out_File_Path(char* req_id, char* out_file, char* node_name, char* out_type, char* size,
                               BE_DUZ_Handles* DUZ_handle, ZPAError* Error);
ZPARC BE_DUZ_Get_Xml_Out_File_Path(char* req_id, char* out_file, char* node_name, char* out_type, char* size,
                                   BE_DUZ_Handles* DUZ_handle, ZPAError* Error);
/* flag: BE_DUZ_URL_FLAG_SIZE bytes. */
ZPARC BE_DUZ_Check_if_Publisher(char* req_id, char* flag, BE_DUZ_Handles* DUZ_handle, ZPAError* Error);
ZPARC BE_DUZ_Check_if_Pulisher_And_Get_Out_File_Path(char* req_id, char* out_file, char* node_name, char* out_type,
                                                     char* size, BE_DUZ_Handles* DUZ_handle, ZPAError* Error);
/* node: BE_DUZ_URL_TEXT_SIZE bytes. */
ZPARC BE_DUZ_Get_Node(char* node, BE_DUZ_Handles* DUZ_handle, ZPAError* Error);
ZPARC BE_DUZ_init_Out_Types(char* out_type, out_info* info, ZPAError* Error);
ZPARC BE_DUZ_Calculate_Id(char* url_id, char* req_id, char* out_file, char* node_str, out_info info,
                          BE_DUZ_Handles* DUZ_handle, ZPAError* Error);
/* success 1: "DUZ-OUTURL", else "DUZ-ERROR"; the whole answer goes into xmlResponse. */
ZPARC BE_DUZ_Write_OUT_URL_Xml_Response(BE_DUZ_xmldata_handle* xml_handle, int success, const char* text,
                                        ZPAError* Error);
/* 1 when ./data/OutViewUsers.xml under AGENT_DIR names the request's account, else 0. */
int Is_User_Authorized_For_Output_Url(ZPAAttrList* xml_attrList, ZPAError* Error);

/* Value-set list ("GetValueSet"): the allowed values of one displayed parameter of a program or of
 * a program inside a request set, after the user's context and the values chosen before it. */
ZPARC BE_DUZ_get_valsetv_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xmldata_handle,
                              ZPAAttrList* xml_attrList, ZPAError* Error);

/* Whole-text lists: a program's data ("GetProgramData"), the data of every program of a request set
 * ("GetReqsetProgramsData") and an account's settings from the accounts file ("GetAccountData").
 * Each builds its whole answer into xmlResponse (isPKM 1); a failure leaves no answer. */
ZPARC BE_DUZ_get_program_data_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xmldata_handle,
                                   ZPAAttrList* ConnectionAttributes, ZPAAttrList* Attributes, ZPAError* Error);
ZPARC BE_DUZ_get_reqset_programs_data_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xmldata_handle,
                                           ZPAAttrList* ConnectionAttributes, ZPAAttrList* Attributes, ZPAError* Error);
ZPARC BE_DUZ_get_account_data_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xmldata_handle,
                                   ZPAAttrList* Attributes, ZPAError* Error);

/* Room of each field of a request-set program (240 characters and the terminator). */
#define BE_DUZ_PROGRAMS_INPUT_FIELD_SIZE 241

/* One program of a request set, as the request-set program list gives it. */
typedef struct {
    char progName[BE_DUZ_PROGRAMS_INPUT_FIELD_SIZE];  /* program short name */
    char progDesp[BE_DUZ_PROGRAMS_INPUT_FIELD_SIZE];  /* program description */
    char appName[BE_DUZ_PROGRAMS_INPUT_FIELD_SIZE];   /* application short name */
    char appDesp[BE_DUZ_PROGRAMS_INPUT_FIELD_SIZE];   /* application name */
    char progSeq[BE_DUZ_PROGRAMS_INPUT_FIELD_SIZE];   /* the program's sequence in the set */
    char stageName[BE_DUZ_PROGRAMS_INPUT_FIELD_SIZE]; /* stage name */
    char stageSeq[BE_DUZ_PROGRAMS_INPUT_FIELD_SIZE];  /* stage display sequence */
} BE_DUZ_Programs_Input;

/* Reads the open request-set program list of xmldata_handle to its end into ProgramsDataList, one
 * BE_DUZ_Programs_Input per program. 0; 1 with the reason in Error (a fetch failure, a field longer
 * than 240 characters, memory), and the list then empty. */
ZPARC BE_DUZ_create_programs_data_list(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xmldata_handle,
                                       ZPALIST_handle_typ* ProgramsDataList, ZPAError* Error);
/* ProgAttributes (empty on entry; released by the caller with ZPAAPI_utils_release_attr) receives
 * the program's "DUZ-SETPROG_PROGNAME", "DUZ-SETPROG_APPNAME", "DUZ-SETPROG_PROGSEQ",
 * "DUZ-SETPROG_STAGENAME" and "DUZ-PROGNAME", then a copy of Attributes: the program's values are
 * found first. 0, or 1 when memory runs out (nothing kept). */
ZPARC BE_DUZ_create_attributes_for_program(ZPAAttrList* Attributes, ZPAAttrList* ProgAttributes,
                                           BE_DUZ_Programs_Input* currentProgData);

/* ------------------------------------------------------------------------------------------------
 * Request discovery: rule filters, schedule conversion, job definitions from requests and request
 * sets, hold and cancel of taken-over requests
 * ---------------------------------------------------------------------------------------------- */

/* Job-data attributes and modes. */
#define BE_DUZ_EXTRACT_MODE "EXTRACT_MODE"
#define BE_DUZ_MODE_DEFINE "ORVDEFINE"
#define BE_DUZ_MODE_CREATE "ORVCREATE"

/* Room of a finished rule clause (terminator included), of the conditions of one rule key, and of
 * one group of a value. A rule that needs more is refused, never cut. */
#define BE_DUZ_RULE_CLAUSE_SIZE 2000
#define BE_DUZ_RULE_KEY_CONDITIONS_SIZE 3000
#define BE_DUZ_RULE_GROUP_SIZE 500

/* *column_name: the column that a rule key filters (a constant text), or null for any other key. */
void BE_DUZ_ConvertKey2DBColumn(const char* key, char const** column_name);
/* The next group of a rule value: 0 with the group in *condstr and *instring moved past it, 2 when
 * nothing is left (*condstr null), 1 when the value is malformed. Writes an end of text at the
 * group's closing brace: give it a copy of the value. */
int BE_DUZ_getNextCondition(char** instring, char** condstr);

/* The first four characters of a date text as a number. */
int BE_DUZ_fmt_get_year_number(const char* date);
/* Appends the scheduling rows of a requested start ("YYYYMMDDHH24MISS"), a release class end date
 * (same form, or "NULL"), class type ("O", "A", "P", "S" or empty) and class info to list. */
void BE_DUZ11_ConvertDUZSchedule2ORVSchedule(ZPALIST_handle_typ* list, const char* start_date, const char* end_date,
                                             const char* class_type, const char* class_info);
/* The older conversion from a request's resubmission fields (unit "MINUTES", "HOURS", "DAYS" or
 * "MONTHS"; from "END" or anything else for "START"; resubmit_time empty when none). */
void BE_DUZ10_ConvertDUZSchedule2ORVSchedule(ZPALIST_handle_typ* list, const char* start_date, const char* end_date,
                                             int interval, const char* unit, const char* from,
                                             const char* resubmit_time);

/* Job definitions. The prefix of the OEBS job attributes, the form version they carry and the
 * most programs of one request set that are described. */
#define BE_DUZ_JOB_ATTR_PREFIX "%%"
#define BE_DUZ_FORM_VERSION "9.0.21"
/* The job attribute that marks the parameter values of a discovered job as the request's stored
 * arguments ("Y"): its submission passes them as stored (see the parameter values). */
#define BE_DUZ_PARAM_AS_STORED "DUZ-PARAM_AS_STORED"
#define BE_DUZ_MAX_SET_PROGRAMS 499
/* Argument columns of a request (Argument1 to Argument100). */
#define BE_DUZ_MAX_REQUEST_ARGS 100

/* The job attributes of a program's request (req_id in decimal) or of a request-set submission,
 * appended to AttributesOut. 0 also when the request is gone (nothing appended); otherwise the
 * failing step's result with the text in Error, and nothing appended. */
ZPARC BE_DUZ_JOBDATA_extract_request_read(struct ZPAConnHandle* Connection, const char* req_id, const char* prog_name,
                                          BE_DUZ_Handles* session, ZPAAttrList* AttributesIn,
                                          ZPAAttrList* AttributesOut, ZPAError* Error);
ZPARC BE_DUZ_JOBDATA_extract_request_set_read(struct ZPAConnHandle* Connection, const char* req_id,
                                              BE_DUZ_Handles* session, ZPAAttrList* AttributesIn,
                                              ZPAAttrList* AttributesOut, ZPAError* Error);
/* The programs of a submitted set with their argument values, then their parameter names. */
ZPARC BE_DUZ_READ_requestSet_Params(BE_DUZ_Handles* session, ZPALIST_handle_typ* list, int req_id, ZPAError* Error);
/* The names of a program's parameters as rows "%%" + key_format applied to 1, 2, ... */
ZPARC BE_DUZ_Conc_Program_PARMNAME_read(BE_DUZ_Handles* session, ZPALIST_handle_typ* list, const char* app_name,
                                        const char* prog_name, const char* key_format, ZPAError* Error);
/* APPLTYPE, APPLVER, CMVER and APPLFORM from the connection's attributes. */
ZPARC BE_DUZ_insert_OvikAttrs(struct ZPAConnHandle* Connection, ZPALIST_handle_typ* list);

/* Hold and cancel of a taken-over request: 0 done, 1 otherwise with the text in Error. The cancel
 * also ends the request's child requests. */
ZPARC BE_DUZ_JOBDATA_hold_request(BE_DUZ_Handles* session, int req_id, ZPAError* Error);
ZPARC BE_DUZ_JOBDATA_cancel_request(BE_DUZ_Handles* session, int req_id, ZPAError* Error);

/* ------------------------------------------------------------------------------------------------
 * Job-data entry points: define, monitor and intercept modes
 * ---------------------------------------------------------------------------------------------- */

/* Processes whose name selects the mode of "ORVCREATE". */
#define BE_DUZ_PROC_MONITOR "ORVEXTRACT"
#define BE_DUZ_PROC_INTERCEPT "ORVINTERCEPT"

/* Monitor and intercept opens: the handle of the requests found in *Handle. Monitor: 0, 2 when no
 * new request was found (the handle stored), 1 with no handle; the requests found are recorded in
 * ./data/DUZ_reqs.dat before the handle is given. Intercept: 0, or 1 with no handle. */
ZPARC BE_DUZ_JOB_monitor(ZPAConnHandle* Connection, void** Handle, BE_DUZ_Handles* session, ZPAAttrList* AttributesIn,
                         ZPAError* Error);
ZPARC BE_DUZ_JOB_intercept(ZPAConnHandle* Connection, void** Handle, BE_DUZ_Handles* session, ZPAAttrList* AttributesIn,
                           ZPAError* Error);
/* The attributes of a monitoring or intercepting job from a row of the handle, appended to
 * AttributesOut; the monitor read also fills the $NAME$ placeholders of preset values. */
ZPARC BE_DUZ_JOBDATA_MonitorAppendAutoedits(ZPAConnHandle* Connection, const char* row, BE_DUZ_Handles* session,
                                            ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut, ZPAError* Error);
ZPARC BE_DUZ_JOBDATA_intercept_read(ZPAConnHandle* Connection, const char* row, BE_DUZ_Handles* session,
                                    ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut, ZPAError* Error);
/* *found 1 when a row of list has exactly the key req_id, else 0. CM_RC 1, or 2 for no list. */
CM_RC BE_DUZ_is_req_in_list(ZPALIST_handle_typ* list, const char* req_id, int* found);

/* ------------------------------------------------------------------------------------------------
 * Job actions (the entry points are in be_zpaapi.h): the options of a request or of one program
 * of a request set, extra printers and layouts, and the date shift of recurring jobs
 * ---------------------------------------------------------------------------------------------- */

/* Request types of the option functions. */
#define BE_DUZ_REQUEST_TYPE "REQUEST"
#define BE_DUZ_REQUEST_SET_TYPE "REQUEST_SET"
/* The block that puts a profile value into the session and reads it back. */
#define BE_DUZ_PUT_PROFILE_SQL "BEGIN FND_PROFILE.PUT(:pname, :pvalue); FND_PROFILE.GET(:pname, :new_value); END;"
/* Room of a notification user name (100 characters and the terminator). */
#define BE_JOB_NOTIFY_NAME_SIZE 101
/* Rooms of an Oracle date text YYYY/MM/DD HH:MM:SS and of a day YYYYMMDD. */
#define BE_JOB_ORACLE_DATE_SIZE 20
#define BE_JOB_ORV_DATE_SIZE 9

/* The actions' handlers. Submit, track and kill take the connection's own attributes; statistics
 * takes the connection; delete the procid file's path. 0 success, else the failure in Error. */
ZPARC BE_action_submit(BE_DUZ_Handles* JOB_handle, ZPAAttrList* ConnectionAttributes, ZPAAttrList* AttributesIn,
                       ZPAAttrList* AttributesOut, ZPAError* Error);

ZPARC BE_action_track(BE_DUZ_Handles* JOB_handle, ZPAAttrList* ConnectionAttributes, ZPAAttrList* AttributesIn,
                      ZPAAttrList* AttributesOut, ZPAError* Error);

/* STATISTICS: the exit status, code and message, END_TIME, ELAPSEDTIME and SYSOUTSIZE of an ended
 * job; the sysout is built again. 0 whenever the query ran. */
ZPARC BE_action_stats(ZPAConnHandle* Connection, BE_DUZ_Handles* JOB_handle, ZPAAttrList* AttributesIn,
                      ZPAAttrList* AttributesOut, ZPAError* Error);
/* KILL: cancels the request tree of the job's procid file in one block. 0, or 1 / the OCI code. */
ZPARC BE_action_kill(BE_DUZ_Handles* JOB_handle, ZPAAttrList* ConnectionAttributes, ZPAAttrList* AttributesIn,
                     ZPAAttrList* AttributesOut, ZPAError* Error);
/* DELETE: the job's failure row and its procid file go; a procid file that cannot be deleted gives
 * 1 with its bare path as the error text. */
ZPARC BE_action_delete(char* procid_path, ZPAError* Error, char* orderno, char* runno);
/* DEQUEUE: the row of the request id in the PROCID slot leaves the calling process's temp file
 * ($ORVANTA/./temp/<process id>); a missing file is not made. 0, or 1. */
ZPARC BE_action_dequeue(BE_DUZ_Handles* JOB_handle, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                        ZPAError* Error);

/* Sends message to the user rec_role with the urgency text priority (0 or no number: 50), creating
 * the plug-in's Workflow message first when the database lacks it. 0, 1, or a failed step's code. */
ZPARC BE_SHOUT_send_message(BE_DUZ_Handles* DUZ_handle, char* rec_role, char* message, char* priority, ZPAError* Error);

/* Tracking: the phase and status words of OEBS codes. Room of a code buffer that receives a word. */
#define BE_DUZ_STATUS_WORD_SIZE 80
/* Adjusts the one-letter codes in place by the hold flag (held pending "H", held running "S",
 * running on standby "B"; H, S, U and M make the phase "I"). Always 0. */
ZPARC BE_DUZ_req_status(char* phase, char* status, char* hold_flag);
/* Turns the codes (their first letters) into words in place ("RUNNING", "NORMAL", ...; an unknown
 * letter gives ""). Both buffers hold BE_DUZ_STATUS_WORD_SIZE bytes. Always 0. */
ZPARC BE_DUZ_interpret_status(char* phase, char* status);
/* One row of the open tree query: its words (phase_word: BE_DUZ_STATUS_WORD_SIZE bytes), its six
 * active-request attributes for rows up to 40, whether it has ended; then the next row is fetched
 * on the session's statement handle: 0 a row, 2 none left, 1 the fetch failed. */
ZPARC BE_DUZ_track_req(BE_DUZ_Handles* JOB_handle, int priority, int parent_id, int request_id, char* request_name,
                       char* description, char* phase, char* phase_word, char* status, char* hold_flag,
                       char* completion_date, ZPALIST_handle_typ* active_list, int row, int* has_ended,
                       ZPAError* Error);

/* The job's output from the database. */
typedef enum { LOG_FILE = 0, OUT_FILE = 1 } BE_DUZ_LOG_OR_OUT;

/* One request of the output's tree table. */
typedef struct {
    int req_id;
    int parent_req_id;
    char appname[51];
    char progname[31];
    char phase_str[80];
    char status_str[80];
    char message[255];
    char start_time_str[20];
    char end_time_str[20];
} BE_DUZ_sysout_line;

struct sockaddr_in;

/* Writes the tree table of root_req_id and its requests' log and output files into sysout_file.
 * inst_list: the job account's rows. 0 when the table was written, else the failed step's result. */
ZPARC BE_sysout_db_to_file(BE_DUZ_Handles* DUZ_handle, int root_req_id, FILE* sysout_file, ZPAConnHandle* Connection,
                           ZPAAttrList* Attributes, ZPALIST_handle_typ* inst_list, ZPAError* Error);
/* Copies every file of filelist (request id -> file path) through the package; count is not used. */
ZPARC BE_sysout_output_to_file(BE_DUZ_Handles* SYSOUT_handle, ZPALIST_handle_typ* inst_list, FILE* sysout_file,
                               int count, ZPALIST_handle_typ* filelist, const char* apphost,
                               BE_DUZ_LOG_OR_OUT out_or_log, ZPAError* Error);
/* Points QEL_LOG_DIR or QEL_OUT_DIR at dirname (when it does not already). 0, or the failure. */
ZPARC BE_SYSOUT_create_alias_dir(const char* dirname, BE_DUZ_LOG_OR_OUT out_or_log, BE_DUZ_Handles* SYSOUT_handle,
                                 ZPAError* Error);
/* The IPv4 address of a dotted text or, failing that, the first that name resolution gives. 1, or
 * 2 when the name does not resolve. Safe for several threads. */
ZPARC BE_DUZ_OS_SOCKET_host_2_addr(const char* host, struct sockaddr_in* addr);

/* The sysout open: a read-only copy of the job's sysout, building the sysout from the database
 * first when it does not exist or force_rewrite is set. */
ZPARC BE_DUZ_HndlSysoutWhenDone(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* Attributes, int force_rewrite,
                                ZPAError* Error);
/* Splits a line in place: with five '|' or more after its first character, the statement before the
 * first '|' and the code after it; else no statement and the whole line as code. Always 0. */
ZPARC BE_SYSOUT_parse_sysout_line(char* sys_line, char** statPtr, char** codePtr);
/* Copies the sysout to value (a folder: under the sysout's own name), then deletes the source when
 * actionType is 0 (move). 0, or 1. */
ZPARC rewriteSysoutFile(char* SysoutPath, char* value, char* sysoutFileName, char* actionStr, int actionType);
ZPARC BE_SYSOUT_action_clear(char* SysoutPath);

/* Request submission. Names are cut to their FND sizes (application 50, program and set 30). */
ZPARC BE_DUZ_validate_user(BE_DUZ_Handles* JOB_handle, char* user_name, char* resp_name, char* resp_app_name,
                           char* group_name, int* user_id, int* resp_id, int* resp_app_id, int* group_id,
                           ZPAError* Error);
ZPARC BE_DUZ_validate_prog_name(BE_DUZ_Handles* JOB_handle, char* prog_name, char* app_name, int* app_id, int* prog_id,
                                ZPAError* Error);
/* The set by its name alone (app_name takes no part). */
ZPARC BE_DUZ_validate_set_name(BE_DUZ_Handles* JOB_handle, char* set_name, char* app_name, int* app_id, int* set_id,
                               ZPAError* Error);
ZPARC BE_DUZ_validate_set_name_ORIG(BE_DUZ_Handles* JOB_handle, char* set_name, char* app_name, int* app_id,
                                    int* set_id, ZPAError* Error);
/* 0 every enabled manager runs, 2 some do not, else the failure. */
ZPARC BE_DUZ_check_conc(BE_DUZ_Handles* JOB_handle, ZPAError* Error);
/* The FND_SESSIONS row that "PER" and "PAY" programs need. 0, or 1. */
ZPARC BE_DUZ_presubmit_tasks(char* resp_app_name, char* prog_name, char* app_name, BE_DUZ_Handles* JOB_handle,
                             ZPAAttrList* AttributesIn, ZPAError* Error);
ZPARC BE_DUZ_release_requests(BE_DUZ_Handles* JOB_handle, int request_id, ZPAAttrList* AttributesIn,
                              ZPAAttrList* AttributesOut, ZPAError* Error);
/* sub_request is always 0. PROCID receives the new request id. */
ZPARC BE_DUZ_Submit_request(int user_id, int resp_id, int resp_app_id, int group_id, char* app_name, int app_id,
                            char* prog_name, char* description, int sub_request, BE_DUZ_Handles* JOB_handle,
                            ZPAAttrList* ConnectionAttributes, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                            ZPAError* Error);
/* description and sub_request are not used. PROCID receives the set's parent request id. */
ZPARC BE_DUZ_Submit_request_set(int user_id, int resp_id, int resp_app_id, int group_id, char* app_name, char* set_name,
                                int app_id, int set_id, char* description, int sub_request, BE_DUZ_Handles* JOB_handle,
                                ZPAAttrList* ConnectionAttributes, ZPAAttrList* AttributesIn,
                                ZPAAttrList* AttributesOut, ZPAError* Error);
/* Appends the message and a line feed to the file, whole or not at all. 0, or 1. */
ZPARC BE_SYSOUT_ORA_Err_Msg(const char* message, const char* file_path);

/* Request options; req_type is BE_DUZ_REQUEST_TYPE (the job's attributes, FND_REQUEST) or
 * BE_DUZ_REQUEST_SET_TYPE (sublist, the program's section of the set, or null; FND_SUBMIT). Each
 * returns 0 or the failing step's result and leaves its last error text in Error. */
ZPARC BE_DUZ_set_profiles(BE_DUZ_Handles* JOB_handle, ZPAAttrList* AttributesIn, ZPAError* Error);
ZPARC BE_DUZ_set_print_options(BE_DUZ_Handles* JOB_handle, const char* req_type, ZPAAttrList* AttributesIn,
                               ZPALIST_handle_typ* sublist, ZPAError* Error);
/* name: BE_JOB_NOTIFY_NAME_SIZE bytes. CM_RC 1 when the index's name exists, 2 when not. */
CM_RC be_job_get_notify_name(int index, ZPAAttrList* AttributesIn, ZPALIST_handle_typ* sublist, char* name,
                             const char* req_type);
ZPARC BE_DUZ_add_notifications(BE_DUZ_Handles* JOB_handle, const char* req_type, ZPAAttrList* AttributesIn,
                               ZPALIST_handle_typ* sublist, ZPAError* Error);
ZPARC BE_DUZ_set_options(BE_DUZ_Handles* JOB_handle, const char* req_type, ZPAAttrList* AttributesIn,
                         ZPALIST_handle_typ* sublist, ZPAError* Error);
ZPARC BE_DUZ_set_options_request_set(const char* lang, const char* terr, BE_DUZ_Handles* JOB_handle, ZPAError* Error);
/* prog_index: the set program's place from 1 (not read for a request). */
ZPARC BE_DUZ_set_delivery_opts(BE_DUZ_Handles* JOB_handle, const char* req_type, int prog_index,
                               ZPAAttrList* AttributesIn, ZPAError* Error);
ZPARC BE_DUZ_set_delivery_email_opts(BE_DUZ_Handles* JOB_handle, const char* req_type, int prog_index,
                                     ZPAAttrList* AttributesIn, ZPAError* Error);
ZPARC BE_DUZ_set_delivery(BE_DUZ_Handles* JOB_handle, const char* req_type, const char* option_type, const char* arg1,
                          const char* arg2, const char* arg3, const char* arg4, const char* nls_lang, ZPAError* Error);

/* Extra printers (P002 on) of a request or of set program index (from 1), and the XML Publisher
 * layouts (request_num 0 a request, n > 0 set program n). Failures stay in Error or the log; the
 * caller goes on in every case. */
ZPARC BE_DUZ_add_printers(BE_DUZ_Handles* JOB_handle, ZPAAttrList* AttributesIn, ZPAError* Error);
ZPARC BE_DUZ_set_add_printers(BE_DUZ_Handles* JOB_handle, ZPAAttrList* AttributesIn, int index, ZPAError* Error);
ZPARC BE_DUZ_add_layouts(BE_DUZ_Handles* JOB_handle, ZPAAttrList* AttributesIn, ZPAError* Error,
                         const char* app_name_str, int request_num);

/* The date shift: a parameter date (YYYY/MM/DD HH:MM:SS) moved by as many days from today as it
 * lay after the first run date, its time of day kept. shifted_date: BE_JOB_ORACLE_DATE_SIZE bytes.
 * 0 shifted; 1 when either text is not of that form (the parameter date is then copied as it is). */
ZPARC BE_job_increment_date(const char* first_run_date, const char* parm_date, char* shifted_date);
/* orv_date: BE_JOB_ORV_DATE_SIZE bytes; oracle_date: BE_JOB_ORACLE_DATE_SIZE bytes ("... 00:00:00"). */
void BE_job_convert_Oracle_date_to_ORV_date(const char* oracle_date, char* orv_date);
void BE_job_convert_ORV_date_to_Oracle_date(const char* orv_date, char* oracle_date);

CM_EXTERN_C_END

#endif
