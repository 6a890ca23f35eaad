/* Record-type layouts of the agent protocol: for each record type the reader that the record
 * dispatch calls and, for the types this side sends, the writer; the job-end and job-start records
 * built from a key/value list with the job's variables as nested records; the in-stream script file
 * of a submitted job. */
#ifndef DSECT_APPL_H
#define DSECT_APPL_H

#include "cmpltfrm.h"
#include "dsect_one.h"
#include "zpalist.h"

/* The row of a key/value list that names its record type. */
#define DSECT_KEY_DSECT_TYPE "DSECT_TYPE"
/* Longest in-stream script written to a job's in-stream file. */
#define DSECT_INSTREAM_MAX 65536

CM_EXTERN_C_BEGIN

/* Records built from a key/value list (DSECT_TYPE 7 or 11). */
CM_RC DSECT_APPL_create(const char* version, ZPALIST_handle_typ* in_list, DSECT_ONE_handle_typ* out_record);
CM_RC DSECT_APPL_create_longex(const char* version, ZPALIST_handle_typ* in_list, DSECT_ONE_handle_typ* out_record);
CM_RC DSECT_APPL_create_shexit(const char* version, ZPALIST_handle_typ* in_list, DSECT_ONE_handle_typ* out_record);

/* Writers with fields. */
CM_RC DSECT_APPL_create_setvar(const char* version, DSECT_ONE_handle_typ* record, const char* name, const char* value);
CM_RC DSECT_APPL_create_errcd(const char* version, DSECT_ONE_handle_typ* record, int err_code, const char* message);
CM_RC DSECT_APPL_create_ping(const char* version, DSECT_ONE_handle_typ* record);
CM_RC DSECT_APPL_create_text(const char* version, DSECT_ONE_handle_typ* record, const char* text);
CM_RC DSECT_APPL_create_utilact(const char* version, DSECT_ONE_handle_typ* record, const char* user, const char* text,
                                const char* hostname);
CM_RC DSECT_APPL_create_utilresp(const char* version, DSECT_ONE_handle_typ* record, const char* exit_status,
                                 int exit_code);
CM_RC DSECT_APPL_create_orvlog(const char* version, DSECT_ONE_handle_typ* record, const char* date, const char* time,
                               const char* subsystem, const char* orderno, const char* msgid, const char* message);
CM_RC DSECT_APPL_create_general_request(const char* version, DSECT_ONE_handle_typ* record, const char* object_class,
                                        const char* mode, const char* action, int param_count, int result_count);
CM_RC DSECT_APPL_create_general_response(const char* version, DSECT_ONE_handle_typ* record, int err_code,
                                         const char* err_msg, int param_count);
CM_RC DSECT_APPL_create_general_param(const char* version, DSECT_ONE_handle_typ* record, const char* name,
                                      const char* value);
CM_RC DSECT_APPL_create_general_result(const char* version, DSECT_ONE_handle_typ* record, const char* name, int size);
CM_RC DSECT_APPL_create_admin(const char* version, DSECT_ONE_handle_typ* record, const char* admin_object_class,
                              const char* admin_object_name, const char* mode, const char* action, int param_count);
CM_RC DSECT_APPL_create_gnrldta(const char* version, DSECT_ONE_handle_typ* record, const char* general_data_subject,
                                int general_data_count);

/* Writers of records this side never sends: an initialised record without fields (SUBMIT and
 * ONSTMT also get their type). */
CM_RC DSECT_APPL_create_dwnsys(const char* version, DSECT_ONE_handle_typ* record);
CM_RC DSECT_APPL_create_syshnd(const char* version, DSECT_ONE_handle_typ* record);
CM_RC DSECT_APPL_create_jcldoc(const char* version, DSECT_ONE_handle_typ* record);
CM_RC DSECT_APPL_create_killjb(const char* version, DSECT_ONE_handle_typ* record);
CM_RC DSECT_APPL_create_newday(const char* version, DSECT_ONE_handle_typ* record);
CM_RC DSECT_APPL_create_procid(const char* version, DSECT_ONE_handle_typ* record);
CM_RC DSECT_APPL_create_submit(const char* version, DSECT_ONE_handle_typ* record);
CM_RC DSECT_APPL_create_onstmt(const char* version, DSECT_ONE_handle_typ* record);
CM_RC DSECT_APPL_create_track(const char* version, DSECT_ONE_handle_typ* record);
CM_RC DSECT_APPL_create_tmpflnm(const char* version, DSECT_ONE_handle_typ* record);
CM_RC DSECT_APPL_create_shout(const char* version, DSECT_ONE_handle_typ* record);
CM_RC DSECT_APPL_create_nodestate(const char* version, DSECT_ONE_handle_typ* record);
CM_RC DSECT_APPL_create_ver(const char* version, DSECT_ONE_handle_typ* record);

/* Readers: buffer is the record's start inside the NUL-terminated message text. */
CM_RC DSECT_APPL_unpack_dwnsys(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_syshnd(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_errcd(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_jcldoc(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_killjb(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_longex(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_newday(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_ping(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_procid(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_shexit(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_submit(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_onstmt(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_setvar(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_track(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_text(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_tmpflnm(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_utilact(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_utilresp(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_shout(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_orvlog(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_nodestate(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_ver(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_general_request(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_general_response(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_general_param(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_general_result(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_admin(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_APPL_unpack_gnrldta(const char* version, DSECT_ONE_handle_typ* record, char* buffer);

/* Writes an in-stream script (instream_len characters, carriage returns removed) to the job's
 * in-stream file ./temp/INSTREAM_<order>_<run>. */
CM_RC dsect_appl_instream2file(const char* buf, const char* orderno, int runno, int instream_len);

/* The module's version text, at most size - 1 characters. */
void DSECT_version(char* ver, int size);

CM_EXTERN_C_END

#endif
