/* Oracle Alert data and the alert watcher's files: the record of one alert check and the queries
 * that read alert checks, their outputs and the application and alert names; the watcher settings
 * file cm/DUZ/data/event_cfg.dat and the watch-times file cm/DUZ/data/event_watch_times.dat. Used
 * by the configuration-manager requests and by the watcher program. */
#ifndef BE_EVENT_WATCHER_H
#define BE_EVENT_WATCHER_H

#include "be_def.h"

CM_EXTERN_C_BEGIN

/* A time as 14 digits "YYYYMMDDHH24MISS", or "ACTIVATION" in the watch-times file. */
typedef char DB_DATETIME_typ[15];
typedef char DB_APP_NAME_typ[241];
typedef char DB_ALERT_NAME_typ[51];

/* One alert check. A fresh record has empty texts, -1 in the numbers and no outputs. */
typedef struct {
    DB_ALERT_NAME_typ alert_name;
    DB_APP_NAME_typ application_name;
    int application_id;
    int num_of_exception;
    int actions_performed;
    DB_DATETIME_typ alert_check_time;
    ZPAAttrList* alert_outputs; /* "<output name>_<exception sequence>" = value; owned by the record */
} EW_alert_type;

/* The watcher settings (section GEN_EVENT_PARAMS of the settings file). */
typedef struct {
    char activate_event_watcher[2]; /* "Y" or "N" */
    char create_log[2];             /* "Y" or "N" */
    int action_max_retry;
    int watching_interval_time; /* seconds */
    int alert_max_output;       /* 0 or less: no limit */
} EW_cfg_file_params_type;

#define EW_CFG_FILE_NAME "event_cfg.dat"
#define EW_WATCH_TIMES_FILE_NAME "event_watch_times.dat"
#define EW_GEN_EVENT_PARAMS "GEN_EVENT_PARAMS"
#define EW_ACTIVATION "ACTIVATION"
#define EW_LAST_WATCHING_TIME "LAST_WATCHING_TIME"
#define EW_START_WATCHING_TIME "START_WATCHING_TIME"
#define EW_ADD_ACCOUNT "ADD_ACCOUNT"
#define EW_DELETE_ACCOUNT "DELETE_ACCOUNT"
#define EW_RENAME_ACCOUNT_NAME "RENAME_ACCOUNT_NAME"
/* Characters of a settings value that are read. */
#define EW_CFG_VALUE_MAX 20
/* ALERT_MAX_OUTPUT when the key is missing. */
#define EW_DEFAULT_ALERT_MAX_OUTPUT 20
/* First room of the application and alert list answers. */
#define EW_LIST_FIRST_ROOM 16384
/* Checks of the last seconds before the database time are left for the next window. */
#define EW_WINDOW_DELAY_SECONDS 2

void EW_init_alert_type(EW_alert_type* alert);
/* Releases the outputs; the record itself is the caller's. */
void EW_Free_Alert(EW_alert_type* alert);
void EW_print_alert(EW_alert_type* alert);

/* system_current_time: 15 bytes. 0, or the code of BE_DUZ_OCI_error. */
ZPARC DB_get_system_current_time(BE_DUZ_Handles* DUZ_handle, char* system_current_time, ZPAError* Error);
/* The checks of the window (last_watching_time, database time - 2 s], copies of whole records,
 * their outputs null. new_last_watching_time: 15 bytes. 0, 1, or the code of BE_DUZ_OCI_error (the
 * rows read before a failing fetch stay in the list). */
ZPARC DB_get_all_new_alerts_from_oebs(BE_DUZ_Handles* DUZ_handle, char* last_watching_time,
                                      char* new_last_watching_time, ZPALIST_handle_typ* new_oebs_alert_list,
                                      ZPAError* Error);
/* Fills alert->alert_outputs (null when the check has none); at most max_output rows when it is
 * above 0. */
ZPARC DB_get_alert_outputs_from_oebs(BE_DUZ_Handles* DUZ_handle, EW_alert_type* alert, int max_output, ZPAError* Error);
/* "<ApplicationsList><Name>..</Name>...</ApplicationsList>" into xmlResponse (malloc'ed). The
 * filter's '*' become '%' in place; the filter is bound. */
ZPARC DB_get_applications_list(BE_DUZ_Handles* DUZ_handle, char* application_filter,
                               BE_DUZ_xmldata_handle* appListXmlResponse, ZPAError* Error);
ZPARC DB_get_alerts_list(BE_DUZ_Handles* DUZ_handle, char* application_name, char* alert_filter,
                         BE_DUZ_xmldata_handle* alertsListXmlResponse, ZPAError* Error);
/* A buffer of twice *input_size bytes holding the text of mystring, which is freed; null (and the
 * old buffer kept) when memory runs out. */
char* BE_DUZ_allocate_double_memory(char* mystring, long* input_size);

/* path: PATHNAME_D_typ. */
void EW_build_event_cfg_file_name(char* event_cfg_file_path);
void EW_build_event_watch_times_file_name(char* event_watch_times_file_path);
/* The lock of a watcher file (threads and processes), for the watcher's own load-change-save of
 * the file: held until EW_unlock_watcher_file. Null when it cannot be taken. */
void* EW_lock_watcher_file(const char* file_path);
void EW_unlock_watcher_file(void* lock);
/* 0 when all five keys were read, 1 otherwise (the fields read before a missing key are kept). */
ZPARC EW_load_new_event_config(EW_cfg_file_params_type* ew_config_params, ZPAError* Error);
/* Both watch times of every account set to activation_time. 0, 1 load or set failure, 2 save
 * failure. */
ZPARC EW_save_activation_time(char* activation_time, ZPAError* Error);
/* One account's section added, deleted or renamed; any other action saves the file unchanged.
 * CM_RC 1 or 2. */
CM_RC EW_update_event_watch_times_file(char* action, char* accunt_name, char* old_account_name, ZPAError* Error);
CM_RC EW_add_account_to_watch_times_file(ZPALIST_handle_typ* account_sections, char* accunt_name, ZPAError* Error);
CM_RC EW_delete_account_from_watch_times_file(ZPALIST_handle_typ* account_sections, char* accunt_name, ZPAError* Error);
CM_RC EW_rename_account_in_watch_times_file(ZPALIST_handle_typ* account_sections, char* accunt_name,
                                            char* old_accunt_name, ZPAError* Error);
CM_RC EW_PARAM_list_clear(ZPALIST_handle_typ* list);

CM_EXTERN_C_END

#endif
