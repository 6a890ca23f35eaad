/* Agent-protocol messages on the wire: the 10-byte frame before every message on a session or in a
 * file, reading and writing framed messages, sending with a confirmation, the builders of the
 * messages the agent side sends (utility request, ping, replies) and message texts from MSGTBL. */
#ifndef AG_DSECT_H
#define AG_DSECT_H

#include "cmpltfrm.h"
#include "dsect_list.h"
#include "dsect_one.h"
#include "os_comm.h"

/* Frame: "a", a blank, the body length in lower-case hexadecimal (4 to 8 digits), a NUL, blanks. */
#define AG_DSECT_FRAME_LEN 10
/* Longest body a read accepts; a frame announcing more is refused before anything is allocated. */
#define AG_DSECT_MESSAGE_MAX (16 * 1024 * 1024)
/* Room of the buffer of the reads that keep the frame (frame included). */
#define AG_DSECT_READ_ALL_ROOM 32769
/* Room of a text that AG_DSECT_formated_msg writes (at most 1023 characters and the terminator). */
#define AG_DSECT_FORMATTED_MSG_ROOM 1024

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
CM_RC AG_DSECT_pack_error_dsect(DSECT_HEADER_typ* header, DSECT_MSG_typ* out_msg, int err_code, const char* format,
                                ...) __attribute__((format(printf, 4, 5)));
CM_RC AG_DSECT_pack_utilresp_dsect(DSECT_HEADER_typ* header, DSECT_MSG_typ* out_msg, const char* exit_status,
                                   int exit_code, const char* response);
CM_RC AG_DSECT_pack_orvlog_dsect(DSECT_HEADER_typ* header, const char* orderno, const char* msgid,
                                 const char* message, DSECT_MSG_typ* out_msg);

CM_RC AG_DSECT_send_text_dsect(OS_COMM_sess_typ* sess_id, DSECT_HEADER_typ* header, int is_last, int* seq,
                               const char* text);
/* chunk_size: 1 to 32767. */
CM_RC AG_DSECT_send_text_dsect_in_chunks(OS_COMM_sess_typ* sess_id, DSECT_HEADER_typ* header, int* seq,
                                         const char* text, int chunk_size);
CM_RC AG_DSECT_send_confirm_dsect(OS_COMM_sess_typ* sess_id, DSECT_HEADER_typ* header);
CM_RC AG_DSECT_send_error_dsect(OS_COMM_sess_typ* sess_id, DSECT_HEADER_typ* header, int err_code,
                                const char* err_msg);

/* out_msg: AG_DSECT_FORMATTED_MSG_ROOM bytes. The format is MSGTBL's text for msg_id; an id absent
 * from MSGTBL gives "Read Message Failed. msgid: <id>" and 2. */
CM_RC AG_DSECT_formated_msg(char* out_msg, const char* msg_id, ...);

CM_EXTERN_C_END

#endif
