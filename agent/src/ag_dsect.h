/* Agent-protocol messages on the wire: the 10-byte frame before every message on a session or in a
 * file, reading and writing framed messages, sending with a confirmation, the builders of the
 * messages the agent side sends (utility request, ping, replies, the job-end message), message texts
 * from MSGTBL, and the conversions between records, key/value lists and attribute lists. */
#ifndef AG_DSECT_H
#define AG_DSECT_H

#include "cmpltfrm.h"
#include "dsect_list.h"
#include "dsect_one.h"
#include "os_comm.h"
#include "zpaapi.h"
#include "zpalist.h"

/* Frame: "a", a blank, the body length in lower-case hexadecimal (4 to 8 digits), a NUL, blanks. */
#define AG_DSECT_FRAME_LEN 10
/* Longest body a read accepts; a frame announcing more is refused before anything is allocated. */
#define AG_DSECT_MESSAGE_MAX (16 * 1024 * 1024)
/* Room of the buffer of the reads that keep the frame (frame included). */
#define AG_DSECT_READ_ALL_ROOM 32769
/* Room of a text that AG_DSECT_formated_msg writes (at most 1023 characters and the terminator). */
#define AG_DSECT_FORMATTED_MSG_ROOM 1024

/* Rows of a job-end key/value list that give the message header (each optional; the sequence
 * number defaults to "0" and the message carries it plus one). */
#define DSECT_HEADER_KEY_VERSION "DSECT_HEADER_KEY_VERSION"
#define DSECT_HEADER_KEY_APPID "DSECT_HEADER_KEY_APPID"
#define DSECT_HEADER_KEY_SID "DSECT_HEADER_KEY_SID"
#define DSECT_HEADER_KEY_MID "DSECT_HEADER_KEY_MID"
#define DSECT_HEADER_KEY_LAST "DSECT_HEADER_KEY_LAST"
#define DSECT_HEADER_KEY_SIID "DSECT_HEADER_KEY_SIID"
#define DSECT_HEADER_KEY_SEQ "DSECT_HEADER_KEY_SEQ"
#define DSECT_HEADER_KEY_AGENT_NAME "DSECT_HEADER_KEY_AGENT_NAME"
#define DSECT_HEADER_KEY_ORVS_HOSTNAME "DSECT_HEADER_KEY_ORVS_HOSTNAME"
#define DSECT_HEADER_KEY_TASK_CLASS "DSECT_HEADER_KEY_TASK_CLASS"
#define DSECT_HEADER_KEY_APPL_TYPE "DSECT_HEADER_KEY_APPL_TYPE"
#define DSECT_HEADER_KEY_APPL_VERSION "DSECT_HEADER_KEY_APPL_VERSION"

CM_EXTERN_C_BEGIN

/* buffer: 11 bytes (the frame and a terminator). */
CM_RC AG_DSECT_build_gds(char* buffer, unsigned int size);
CM_RC AG_dsect_parse_gds(const char* buffer, unsigned int* size);

CM_RC AG_DSECT_comm_message_write(OS_COMM_sess_typ* sess_id, DSECT_MSG_typ* msg);
CM_RC AG_DSECT_comm_message_read(OS_COMM_sess_typ* sess_id, DSECT_MSG_typ* msg);
CM_RC AG_DSECT_comm_message_write_all(OS_COMM_sess_typ* sess_id, DSECT_MSG_typ* msg);
CM_RC AG_DSECT_comm_message_read_all(OS_COMM_sess_typ* sess_id, DSECT_MSG_typ* msg);
CM_RC AG_DSECT_file_write(const char* filename, DSECT_MSG_typ* msg);
CM_RC AG_DSECT_file_read(const char* filename, DSECT_MSG_typ* msg);
CM_RC AG_DSECT_message_delete(DSECT_MSG_typ* msg);

CM_RC AG_DSECT_send_message(OS_COMM_sess_typ* sess_id, DSECT_MSG_typ* msg, int confirm);
CM_RC AG_DSECT_send_message_all(OS_COMM_sess_typ* sess_id, DSECT_MSG_typ* msg, int confirm);

/* Utility request and ping. `last`: "T" one message, " " more follow, "L" the last of several. */
CM_RC AG_DSECT_pack_util_dsect(DSECT_HEADER_typ* header, const char* last, int* seq, int generate_new_siid,
                               const char* text, DSECT_MSG_typ* out_msg);
CM_RC AG_DSECT_pack_spec_util_dsect(DSECT_HEADER_typ* header, const char* last, int* seq, int generate_new_siid,
                                    const char* text, DSECT_MSG_typ* out_msg, const char* server_host,
                                    const char* dsect_version, const char* user);
CM_RC AG_DSECT_pack_ping_dsect(DSECT_HEADER_typ* header, DSECT_MSG_typ* out_msg);
CM_RC AG_DSECT_pack_spec_ping_dsect(DSECT_HEADER_typ* header, DSECT_MSG_typ* out_msg, const char* server_host,
                                    const char* agent_version, const char* dsect_version);

/* Replies to a received header (its seq is raised by one first). */
CM_RC AG_DSECT_pack_text_dsect(DSECT_HEADER_typ* header, int is_last, int* seq, const char* text,
                               DSECT_MSG_typ* out_msg);
CM_RC AG_DSECT_pack_confirm_dsect(DSECT_HEADER_typ* header, DSECT_MSG_typ* out_msg);
CM_RC AG_DSECT_pack_error_dsect(DSECT_HEADER_typ* header, DSECT_MSG_typ* out_msg, int err_code, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
CM_RC AG_DSECT_pack_utilresp_dsect(DSECT_HEADER_typ* header, DSECT_MSG_typ* out_msg, const char* exit_status,
                                   int exit_code, const char* response);
CM_RC AG_DSECT_pack_orvlog_dsect(DSECT_HEADER_typ* header, const char* orderno, const char* msgid, const char* message,
                                 DSECT_MSG_typ* out_msg);

CM_RC AG_DSECT_send_text_dsect(OS_COMM_sess_typ* sess_id, DSECT_HEADER_typ* header, int is_last, int* seq,
                               const char* text);
/* chunk_size: 1 to 32767. */
CM_RC AG_DSECT_send_text_dsect_in_chunks(OS_COMM_sess_typ* sess_id, DSECT_HEADER_typ* header, int* seq,
                                         const char* text, int chunk_size);
CM_RC AG_DSECT_send_confirm_dsect(OS_COMM_sess_typ* sess_id, DSECT_HEADER_typ* header);
CM_RC AG_DSECT_send_error_dsect(OS_COMM_sess_typ* sess_id, DSECT_HEADER_typ* header, int err_code, const char* err_msg);

/* out_msg: AG_DSECT_FORMATTED_MSG_ROOM bytes. The format is MSGTBL's text for msg_id; an id absent
 * from MSGTBL gives "Read Message Failed. msgid: <id>" and 2. */
CM_RC AG_DSECT_formated_msg(char* out_msg, const char* msg_id, ...);

/* Conversions between records, key/value lists (GM_PARAM_table_row rows) and attribute lists.
 * Names beginning "DSECT_" carry protocol data and never become attributes. Attribute lists made
 * here are released with AG_DSECT_release_attr. */
CM_RC AG_DSECT_dsect2attr(DSECT_ONE_handle_typ* record, ZPAAttrList* attr_list);
CM_RC AG_DSECT_dsect2list(DSECT_ONE_handle_typ* record, ZPALIST_handle_typ* param_list);
CM_RC AG_DSECT_list2attr(ZPALIST_handle_typ* param_list, ZPAAttrList* attr_list);
CM_RC AG_DSECT_attr2list(ZPAAttrList* attr_list, ZPALIST_handle_typ* param_list);
/* ./data/<be_name>.dat as attributes, with CODE_VERSION added when the table has none. A name that
 * is empty or holds '/' is refused. */
CM_RC AG_DSECT_param2attr(const char* be_name, ZPAAttrList* attr_list);
CM_RC AG_DSECT_release_attr(ZPAAttrList* attr_list);
CM_RC AG_DSECT_print_attr(ZPAAttrList* attr_list);
CM_RC AG_DSECT_set_dsect_type(ZPALIST_handle_typ* list, int type);
int AG_DSECT_get_dsect_type(ZPALIST_handle_typ* list);
CM_RC AG_DSECT_delete_entry_prefix(ZPALIST_handle_typ* in_list, ZPALIST_handle_typ* out_list, const char* prefix,
                                   int prefix_size);

/* The job-end message (a LONGEX or SHEXIT record) from a key/value list; unav_error may be null. */
CM_RC AG_DSECT_pack_dsect(ZPALIST_handle_typ* param_list, DSECT_MSG_typ* out_msg, int generate_new_siid,
                          ZPAUnavError* unav_error);
CM_RC AG_dsect_create_gnrldta_unav_RJXRH(const char* version, ZPALIST_handle_typ* job_list,
                                         DSECT_LIST_handle_typ* out_list);
CM_RC AG_dsect_create_gnrldta_unav_CMACC(const char* version, ZPALIST_handle_typ* job_list,
                                         DSECT_LIST_handle_typ* out_list, const char* appl_type,
                                         ZPAUnavError* unav_error);
/* record: scratch for the general-parameter record (may be null). */
CM_RC AG_dsect_create_and_append_general_param(const char* version, DSECT_LIST_handle_typ* out_list,
                                               DSECT_ONE_handle_typ* record, const char* name, const char* value,
                                               const char* func_name);

CM_EXTERN_C_END

#endif
