/* Messages of the agent protocol: a header record and the packed records after it, built record by
 * record and packed into one buffer, or parsed back from a received buffer; and the operations that
 * measure and cut runs of records inside a buffer. */
#ifndef DSECT_LIST_H
#define DSECT_LIST_H

#include "cmpltfrm.h"
#include "dsect_one.h"
#include "zpalist.h"

/* A packed message: `size` bytes of text, followed by a NUL that is not part of it. */
typedef struct {
    char* message;
    unsigned int size;
} DSECT_MSG_typ;

/* A message under construction or after parsing: the header and the packed records after it. */
typedef struct {
    DSECT_HEADER_typ header;
    ZPALIST_handle_typ handle;
} DSECT_LIST_handle_typ;

CM_EXTERN_C_BEGIN

CM_RC DSECT_LIST_init(DSECT_LIST_handle_typ* list);
CM_RC DSECT_LIST_reset(DSECT_LIST_handle_typ* list);
CM_RC DSECT_LIST_delete(DSECT_LIST_handle_typ* list);
CM_RC DSECT_LIST_delete_entry(DSECT_LIST_handle_typ* list);
CM_RC DSECT_LIST_count(DSECT_LIST_handle_typ* list, int* count);
CM_RC DSECT_LIST_print(DSECT_LIST_handle_typ* list);

CM_RC DSECT_LIST_create(DSECT_LIST_handle_typ* list, int generate_new_siid, const char* version, const char* appid,
                        const char* sid, const char* mid, const char* last, const char* siid, int seq,
                        const char* agent_name, const char* orvhost, const char* task_class, const char* appl_type,
                        const char* appl_version);
CM_RC DSECT_LIST_append(DSECT_LIST_handle_typ* list, DSECT_ONE_handle_typ* record);
CM_RC DSECT_LIST_append_msg(DSECT_LIST_handle_typ* list, const char* data, int size);
CM_RC DSECT_LIST_evallen(DSECT_LIST_handle_typ* list, int* len);
CM_RC DSECT_LIST_mk_msg(DSECT_LIST_handle_typ* list, DSECT_MSG_typ* out_msg);
CM_RC DSECT_LIST_delete_message(DSECT_MSG_typ* msg);

CM_RC DSECT_LIST_mk_from_msg(DSECT_LIST_handle_typ* list, DSECT_MSG_typ* in_msg);
CM_RC DSECT_LIST_unpack_msg(DSECT_LIST_handle_typ* list, DSECT_MSG_typ* in_msg);
/* The header and the first record after it (the record stays empty when the header is alone). */
CM_RC DSECT_LIST_msg_get_dsect(DSECT_MSG_typ* in_msg, DSECT_HEADER_typ* header, DSECT_ONE_handle_typ* record);
/* The same for a buffer that still begins with its 10-byte frame. */
CM_RC DSECT_LIST_msg_get_dsect_all(DSECT_MSG_typ* in_msg, DSECT_HEADER_typ* header, DSECT_ONE_handle_typ* record);
CM_RC DSECT_LIST_get_header(DSECT_LIST_handle_typ* list, DSECT_HEADER_typ* header);
CM_RC DSECT_LIST_getnext(DSECT_LIST_handle_typ* list, DSECT_ONE_handle_typ* record);
/* Up to `count` consecutive records at *pos, stopping at the NUL, into a new list; *pos moves past. */
CM_RC DSECT_LIST_unpack(const char* version, char** pos, DSECT_LIST_handle_typ* list, int count);
CM_RC DSECT_LIST_msg_get_size(char* pos, int count, int* size);

CM_EXTERN_C_END

#endif
