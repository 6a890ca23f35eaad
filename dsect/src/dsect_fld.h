/* Fields of the agent protocol: the 23 field types with their widths, the writer and the readers of
 * one field, and the encoded length of a field, which the record writer uses to size its buffer. */
#ifndef DSECT_FLD_H
#define DSECT_FLD_H

#include "cmpltfrm.h"

/* Field types. DF_NOMORETYPES ends the list; as a header type it means "no length prefix". */
typedef enum dsect_fld {
    DF_VAR1 = 0,
    DF_VAR2,
    DF_VAR3,
    DF_VAR4,
    DF_VAR5,
    DF_IVAR1,
    DF_C1,
    DF_C2,
    DF_C3,
    DF_C4,
    DF_C5,
    DF_C6,
    DF_C10,
    DF_C12,
    DF_C14,
    DF_I1,
    DF_I2,
    DF_I3,
    DF_I4,
    DF_I5,
    DF_I6,
    DF_B5,
    DF_DSECT_LIST,
    DF_NOMORETYPES
} DSECT_FLD_typ;

/* One row of the width table: the field width (or the longest text of a counted type) and the type
 * of the length prefix (DF_NOMORETYPES: none). */
typedef struct df_fields_desc {
    int maxlen;
    int headertype;
} DF_FIELDS_DESC_typ;

CM_EXTERN_C_BEGIN

/* The width table, indexed by DSECT_FLD_typ (23 rows). */
extern const DF_FIELDS_DESC_typ df_fields_desc_array[DF_NOMORETYPES];

/* maxlen and headertype of a type; -1 and DF_NOMORETYPES for a type outside the table. */
int DSECT_FLD_maxlen(DSECT_FLD_typ type);
int DSECT_FLD_varfld_hd(DSECT_FLD_typ type);

/* Writers: write at *pos, add a terminator behind the field and advance *pos past the field.
 * A number wider than its field is refused: 2, nothing written. */
CM_RC DSECT_FLD_set(char** pos, const char* value, DSECT_FLD_typ type);
CM_RC DSECT_FLD_set_char(char** pos, const char* text, DSECT_FLD_typ type);
CM_RC DSECT_FLD_set_int(char** pos, int value, DSECT_FLD_typ type);

/* Readers: read one field at *pos and advance past it. A field that would run past the text's
 * terminating NUL is unreadable: 2, *pos unchanged. */
CM_RC DSECT_FLD_get_char(char* target, char** pos, DSECT_FLD_typ type, int max_length);
CM_RC DSECT_FLD_get_char_with_malloc(char** target, char** pos, DSECT_FLD_typ type);
CM_RC DSECT_FLD_get_int(int* value, char** pos, DSECT_FLD_typ type);

/* Encoded lengths: what DSECT_FLD_set writes for the same type and value. */
CM_RC DSECT_FLD_eval_len(DSECT_FLD_typ type, const char* value, int* len);
CM_RC DSECT_FLD_eval_varchar_len(DSECT_FLD_typ type, const char* text, int* len);
CM_RC DSECT_FLD_eval_int_len(DSECT_FLD_typ type, int* len);
CM_RC DSECT_FLD_eval_varint_len(DSECT_FLD_typ type, int value, int* len);
CM_RC DSECT_FLD_eval_varint_len_noheader(DSECT_FLD_typ type, int value, int* len);

CM_EXTERN_C_END

#endif
