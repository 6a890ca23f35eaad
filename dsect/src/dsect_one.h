/* Records of the agent protocol: one record (a type and an ordered list of named fields) packed to
 * text and unpacked from it through the dispatch by record type, the record types, and the header
 * record with its layout by protocol version, its session instance id and its back-end name. */
#ifndef DSECT_ONE_H
#define DSECT_ONE_H

#include "cmpltfrm.h"
#include "dsect_fld.h"
#include "gm_time.h"
#include "zpalist.h"

/* Record types. */
typedef enum DSECT_TYPE {
    DSECT_TYP_UNKNOWN = 0,
    DSECT_TYP_HEADER = 1,
    DSECT_TYP_DWNSYS = 2,
    DSECT_TYP_SYSHND = 3,
    DSECT_TYP_ERRCD = 4,
    DSECT_TYP_JCLDOC = 5,
    DSECT_TYP_KILLJB = 6,
    DSECT_TYP_LONGEX = 7,
    DSECT_TYP_NEWDAY = 8,
    DSECT_TYP_PING = 9,
    DSECT_TYP_PROCID = 10,
    DSECT_TYP_SHEXIT = 11,
    DSECT_TYP_SUBMIT = 12,
    DSECT_TYP_ONSTMT = 13,
    DSECT_TYP_SETVAR = 14,
    DSECT_TYP_IN_NUM = 15,
    DSECT_TYP_TRACK = 16,
    DSECT_TYP_TEXT = 17,
    DSECT_TYP_TMPFLNM = 18,
    DSECT_TYP_UTILACT = 19,
    DSECT_TYP_UTILRESP = 20,
    DSECT_TYP_SHOUT = 21,
    DSECT_TYP_ORVLOG = 22,
    DSECT_TYP_NODESTATE = 23,
    DSECT_TYP_VER = 24,
    DSECT_TYP_TYPEONLY = 25,
    DSECT_TYP_GENERAL_REQUEST = 26,
    DSECT_TYP_GENERAL_RESPONSE = 27,
    DSECT_TYP_GENERAL_PARAM = 28,
    DSECT_TYP_GENERAL_RESULT = 29,
    DSECT_TYP_ADMIN = 30,
    DSECT_TYP_GNRLDTA = 32
} DSECT_TYPE_typ;

/* Limits of a field value: read from the wire, and appended by a writer (the long form). */
#define DSECT_VALUE_MAX 4094
#define DSECT_VALUE_LONG_MAX 32768
/* Length of the type and size prefix of every record. */
#define DSECT_PREFIX_LEN 6

typedef char DSECT_FLD_NAME_typ[65];

/* One field. A field in a record's list holds only the used part of Value (ValueSize bytes, the
 * terminator included); read it through a pointer, never copy the structure. */
typedef struct {
    DSECT_FLD_NAME_typ Name;
    DSECT_FLD_typ Type;
    unsigned short ValueSize; /* value length + 1 */
    char Value[DSECT_VALUE_MAX + 2];
} DSECT_VAR_typ;

/* The same field with room for the long values a writer appends. */
typedef struct {
    DSECT_FLD_NAME_typ Name;
    DSECT_FLD_typ Type;
    unsigned short ValueSize;
    char Value[DSECT_VALUE_LONG_MAX + 1];
} DSECT_VAR_LONG_typ;

typedef char DSECT_HEADER_VERSION_typ[3];
typedef char DSECT_HEADER_APPID_typ[3];
typedef char DSECT_HEADER_SID_typ[3];
typedef char DSECT_HEADER_MID_typ[2];
typedef char DSECT_HEADER_LAST_typ[2];
typedef char DSECT_HEADER_SIID_typ[13];
typedef int DSECT_HEADER_SEQ_typ;
typedef char DSECT_HEADER_TEXT_typ[257];

/* One record: its type, the protocol version it is encoded by, its wire length (prefix included,
 * set by unpack) and its fields in wire order. The record owns its fields. */
typedef struct {
    DSECT_TYPE_typ type;
    DSECT_HEADER_VERSION_typ version;
    int size;
    ZPALIST_handle_typ handle;
} DSECT_ONE_handle_typ;

/* The header record of a message. */
typedef struct dsect_header {
    DSECT_TYPE_typ dsect_type;
    DATETIME_D_typ timestmp;
    DSECT_HEADER_VERSION_typ version;
    DSECT_HEADER_APPID_typ appid;
    DSECT_HEADER_SID_typ sid;
    DSECT_HEADER_MID_typ mid;
    DSECT_HEADER_LAST_typ last;
    DSECT_HEADER_SIID_typ siid;
    DSECT_HEADER_SEQ_typ seq;
    DSECT_HEADER_TEXT_typ agent_name;
    DSECT_HEADER_TEXT_typ orvhost;
    DSECT_HEADER_TEXT_typ task_class;
    DSECT_HEADER_TEXT_typ appl_type;
    DSECT_HEADER_TEXT_typ appl_version;
} DSECT_HEADER_typ;

CM_EXTERN_C_BEGIN

/* Records. CM_RC: 1 success, 2 failure, 6 end of the fields or not found. */
CM_RC DSECT_ONE_init(DSECT_ONE_handle_typ* record);
CM_RC DSECT_ONE_append_dsect_var(DSECT_ONE_handle_typ* record, const char* name, const char* value, DSECT_FLD_typ type);
/* value_size bytes of raw value (at most DSECT_VALUE_LONG_MAX; a longer value is refused). */
CM_RC DSECT_ONE_append_dsect_var_size(DSECT_ONE_handle_typ* record, const char* name, const char* value, int value_size,
                                      DSECT_FLD_typ type);
CM_RC DSECT_ONE_append_dsect_var_empty(DSECT_ONE_handle_typ* record, const char* name, int maxsize, DSECT_FLD_typ type);
CM_RC DSECT_ONE_update_dsect_var(DSECT_ONE_handle_typ* record, const char* name, const char* value, DSECT_FLD_typ type);
CM_RC DSECT_ONE_param2dsect(ZPALIST_handle_typ* param_list, DSECT_ONE_handle_typ* record);
CM_RC DSECT_ONE_delete_dsect_var(DSECT_ONE_handle_typ* record, const char* name);
CM_RC DSECT_ONE_delete_dsect_var_prefix(DSECT_ONE_handle_typ* record, const char* prefix);
CM_RC DSECT_ONE_get_key_value(DSECT_ONE_handle_typ* record, const char* name, char** value);
CM_RC DSECT_ONE_reset(DSECT_ONE_handle_typ* record);
CM_RC DSECT_ONE_get_next_var(DSECT_ONE_handle_typ* record, char** name, char** value);
CM_RC DSECT_ONE_get_next_rec(DSECT_ONE_handle_typ* record, DSECT_VAR_typ** field);
int DSECT_ONE_count(DSECT_ONE_handle_typ* record);
DSECT_TYPE_typ DSECT_ONE_get_type(DSECT_ONE_handle_typ* record);
CM_RC DSECT_ONE_evallen(DSECT_ONE_handle_typ* record, int* len);
CM_RC DSECT_ONE_set(DSECT_ONE_handle_typ* record, char** pos);
/* size is the whole buffer: the record and its terminator must fit. */
CM_RC DSECT_ONE_pack(DSECT_ONE_handle_typ* record, char* buffer, int size);
/* buffer: a NUL-terminated text whose first record is unpacked; version: the message's. */
CM_RC DSECT_ONE_unpack(const char* version, DSECT_ONE_handle_typ* record, char* buffer);
CM_RC DSECT_ONE_parse_dsect_type(DSECT_ONE_handle_typ* record, char* buffer);
/* size: the whole record length (size field + 6). */
CM_RC DSECT_ONE_parse_dsect_size(const char* buffer, int* size);
CM_RC DSECT_ONE_parse_dsect_var(DSECT_ONE_handle_typ* record, char** pos, const char* name, DSECT_FLD_typ type);
CM_RC DSECT_ONE_delete(DSECT_ONE_handle_typ* record);
CM_RC DSECT_ONE_print(DSECT_ONE_handle_typ* record);
const char* print_type(DSECT_FLD_typ type);

/* Header. */
CM_RC DSECT_ONE_init_header(DSECT_HEADER_typ* header, const char* version, const char* appid, const char* sid,
                            const char* mid, const char* last, const char* siid, int seq, const char* agent_name,
                            const char* server_name, const char* task_class, const char* appl_type,
                            const char* appl_version);
/* out_siid: a DSECT_HEADER_SIID_typ buffer. */
CM_RC DSECT_ONE_generate_siid(char* out_siid);
/* buffer holds at least DSECT_ONE_evallen_header + 1 bytes; *size gets the header's length. */
CM_RC DSECT_ONE_pack_header(DSECT_HEADER_typ* header, char* buffer, int* size);
CM_RC DSECT_ONE_unpack_header(DSECT_HEADER_typ* header, char* buffer);
CM_RC DSECT_ONE_evallen_header(DSECT_HEADER_typ* header, int* len);
CM_RC DSECT_ONE_set_header(DSECT_HEADER_typ* header, char** pos);
CM_RC DSECT_ONE_get_be(DSECT_HEADER_typ* header);
CM_RC DSECT_ONE_print_header(DSECT_HEADER_typ* header);

CM_EXTERN_C_END

#endif
