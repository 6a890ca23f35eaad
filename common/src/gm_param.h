/* Parameter tables: the flat and the sectioned table files ./data/<TABLE>.dat, the key/value and
 * section lists that hold them in memory, the process-wide caches read by GM_PARAM_get and its
 * companions, value lists, rows from the environment and the command line, and the reversible
 * hexadecimal form of stored values. */
#ifndef GM_PARAM_H
#define GM_PARAM_H

#include "cmpltfrm.h"
#include "zpalist.h"

CM_EXTERN_C_BEGIN

typedef char GM_PARAM_KEY_typ[64];         /* a key: at most 63 characters */
typedef char GM_PARAM_ROW_VALUE_typ[4096]; /* a stored value: at most 4095 characters */
typedef char GM_PARAM_VALUE_typ[2048];     /* the caller's buffer of GM_PARAM_get */

/* One row. Stored in a list as 64 + value length + 1 bytes: the key field whole, then only the
 * used part of the value field. */
typedef struct GM_PARAM_table_row {
    GM_PARAM_KEY_typ key;
    GM_PARAM_ROW_VALUE_typ val;
} GM_PARAM_table_row;

/* One cached table: its name, the file's modification time when read (14 digits,
 * YYYYMMDDHHMMSS) and its rows (a key/value list, or a list of sections). */
typedef struct GM_PARAM_table_list {
    char table_name[64];
    char load_timestmp[18];
    ZPALIST_handle_typ table;
} GM_PARAM_table_list;

/* One section of a sectioned list: its name and its rows (GM_PARAM_table_row elements). */
typedef struct GM_PARAM_subtable_row {
    GM_PARAM_KEY_typ key;
    ZPALIST_handle_typ list;
} GM_PARAM_subtable_row;

/* Key/value lists (the caller owns the list; no locking). */
CM_RC GM_PARAM_load_file(ZPALIST_handle_typ* list, const char* file_name);
CM_RC GM_PARAM_load_file_option1(ZPALIST_handle_typ* list, const char* file_name, int force_upper_case);
CM_RC GM_param_parse_str(ZPALIST_handle_typ* list, const char* text);
CM_RC GM_param_parse_str_option1(ZPALIST_handle_typ* list, const char* text, int force_upper_case);
CM_RC GM_PARAM_list_save(ZPALIST_handle_typ* list, const char* file_name);
CM_RC GM_PARAM_list_get(ZPALIST_handle_typ* list, const char* key, char* value, int val_size);
CM_RC GM_PARAM_list_get_ptr(ZPALIST_handle_typ* list, const char* key, char** value);
CM_RC GM_PARAM_list_next(ZPALIST_handle_typ* list, char** key, void** value);
CM_RC GM_PARAM_list_reset(ZPALIST_handle_typ* list);
CM_RC GM_PARAM_list_clear(ZPALIST_handle_typ* list);
CM_RC GM_PARAM_list_set(ZPALIST_handle_typ* list, const char* key, const char* value);
CM_RC GM_PARAM_list_insert(ZPALIST_handle_typ* list, const char* key, const char* value);
CM_RC GM_PARAM_list_append(ZPALIST_handle_typ* list, const char* key, const char* value);
CM_RC GM_PARAM_list_delete(ZPALIST_handle_typ* list, const char* key);
CM_RC GM_PARAM_list_merge(ZPALIST_handle_typ* Dest, ZPALIST_handle_typ* Source, int force);
CM_RC GM_PARAM_list_filter(ZPALIST_handle_typ* origList, ZPALIST_handle_typ* filtList, char** keysToRemove);
CM_RC GM_PARAM_list_print(ZPALIST_handle_typ* list);
char** GM_PARAM_get_keysToRemove_list(void);
CM_RC GM_PARAM_is_printable(const char* key, char** list);

/* The process cache of flat tables. */
CM_RC GM_PARAM_load(const char* table_name, int p_flag);
CM_RC GM_PARAM_load_option1(const char* table_name, int p_flag, int force_upper_case);
CM_RC GM_PARAM_table_find(GM_PARAM_table_list** table_handle, const char* table_name);
CM_RC GM_PARAM_get(const char* table_name, const char* key, char* value);
CM_RC GM_PARAM_set(const char* table_name, const char* key, const char* value);
CM_RC GM_PARAM_delete(const char* table_name, const char* key);
CM_RC GM_PARAM_save(const char* table_name);
CM_RC GM_PARAM_clear(void);
int GM_PARAM_table_count(GM_PARAM_table_list* table);
int GM_PARAM_get_int_by_name(const char* table_name, const char* key_name, int default_value);
CM_RC GM_PARAM_get_agent_version(char* agVersion);
void GLOBAL_version(char* ver, int size);

/* Sectioned lists (the caller owns the list; no locking). */
CM_RC GM_PARAM_subtable_load_file(ZPALIST_handle_typ* list, const char* file_name);
CM_RC GM_PARAM_subtable_list_save(ZPALIST_handle_typ* list, const char* file_name);
CM_RC GM_PARAM_subtable_list_find(ZPALIST_handle_typ* list, const char* subtable_name, ZPALIST_handle_typ** sub_list);
CM_RC GM_PARAM_subtable_list_get(ZPALIST_handle_typ* list, const char* subtable_name, const char* key, char* value,
                                 int size);
CM_RC GM_PARAM_subtable_list_set(ZPALIST_handle_typ* list, const char* subtable_name, const char* key,
                                 const char* value);
CM_RC GM_PARAM_subtable_list_delete(ZPALIST_handle_typ* list, const char* subtable_name);
CM_RC GM_PARAM_subtable_list_delete_entry(ZPALIST_handle_typ* sub_list, const char* subtable_name, const char* key);
CM_RC GM_PARAM_subtable_list_clear(ZPALIST_handle_typ* list);
CM_RC GM_PARAM_subtable_list_print(ZPALIST_handle_typ* list);
CM_RC GM_PARAM_IsSubtable(const char* text);
char* GM_PARAM_Get_SubtableName(char* text);

/* The process cache of sectioned tables. */
CM_RC GM_PARAM_subtable_load(const char* table_name, int p_flag);
CM_RC GM_PARAM_subtable_table_find(GM_PARAM_table_list** table_handle, const char* table_name);
CM_RC GM_PARAM_subtable_get(const char* table_name, const char* subtable_name, const char* key, char* value);
CM_RC GM_PARAM_subtable_set(const char* table_name, const char* subtable_name, const char* key, const char* value);
CM_RC GM_PARAM_subtable_save(const char* table_name);
CM_RC GM_PARAM_subtable_delete(const char* table_name, const char* subtable_name);
CM_RC GM_PARAM_subtable_delete_entry(const char* table_name, const char* subtable_name, const char* key);
CM_RC GM_PARAM_subtable_clear(void);

/* Value lists and parameter sources. */
CM_RC GM_PARAM_load_valuelist(ZPALIST_handle_typ* list, const char* value, const char* separator);
CM_RC GM_PARAM_load_valuelist_option1(ZPALIST_handle_typ* list, const char* value, const char* separator,
                                      int force_upper_case);
CM_RC GM_PARAM_save_valuelist(ZPALIST_handle_typ* list, char* value, const char* separator);
CM_RC GM_PARAM_load_env(ZPALIST_handle_typ* list);
CM_RC GM_PARAM_load_args(ZPALIST_handle_typ* list, int argc, char** argv);

/* The reversible hexadecimal form of stored values (two hex digits per byte). */
CM_RC GM_PARAM_encrypt(char* value);
CM_RC GM_PARAM_decrypt(char* value);
CM_RC GM_PARAM_encryptEx(char* value, int len);
CM_RC GM_PARAM_decryptEx(char* value, int len);

CM_EXTERN_C_END

#endif
