/* The alert watcher p_orvoebs: its main loop (single-instance lock, pid file, stages, once-a-day
 * shouts, sliced sleep), its rules and settings reloads, the action queue with its runs and action
 * log, the account pass that turns new Oracle Alert checks into queued actions, and the utility
 * runs (job order, condition change, shout) through the agent-utility client. */
#ifndef BE_OW_H
#define BE_OW_H

#include "be_def.h"
#include "be_event_watcher.h"
#include "gm_param.h"
#include "gm_time.h"

/* Files, relative to the agent home. */
#define OW_LOCK_FILE "./temp/OW.lock"
#define OW_PID_FILE_NAME "ow_pid.dat"
#define EW_RULES_FILE_NAME "event_rules.dat"
#define EW_ACTIONS_FILE_NAME "ew_actions_to_execute.dat"

/* Working buffer of OW_MAIN_ErrorSet; texts longer than the error record's are only logged. */
#define OW_MAIN_ERROR_WORK_SIZE 5000
/* Seconds of one slice of the watcher's sleep. */
#define OW_SLEEP_SLICE_SECONDS 6
/* The reply text a utility run hands back (terminator included). */
#define OW_UTIL_MESSAGE_SIZE 2048
/* Entries of a utility's argument vector, the command name included. */
#define OW_MAX_ARGV 400
/* Longest formatted action-log entry. */
#define EW_ACTION_LOG_ENTRY_MAX 2048
/* Longest value of a job variable read from the rules file. */
#define EW_AUTOEDIT_VALUE_MAX 4000

typedef char ORV_JOBNAME_TYP[65];
typedef char ORV_SCHEDTAB_TYP[65];
typedef char COND_NAME_TYP[256];
typedef char COND_DATE_TYP[5];

/* One rule: a condition part (account, application and alert patterns, do-action) and an action
 * part (an order "ORD" or a condition change "CND"). */
typedef struct {
    char account_name[31];
    DB_APP_NAME_typ app_name;
    DB_ALERT_NAME_typ alert_name;
    char do_action[2];
    char action_type[4];
    ORV_JOBNAME_TYP orv_jobname;
    ORV_SCHEDTAB_TYP orv_schedtable;
    char orv_order_date[9];
    ZPAAttrList* autoedits; /* job variables (names without "%%"), null when none; owned by the rule */
    char group_order_id[13];
    COND_NAME_TYP orv_condName;
    COND_DATE_TYP orv_condDate;
    char orv_cond_action[13];
} EW_cond_action_typ;

/* One action made from a matching rule and an alert. */
typedef struct {
    ORV_JOBNAME_TYP orv_jobname;
    ORV_SCHEDTAB_TYP orv_schedtab;
    char orv_order_date[9];
    char group_order_id[13];
    ZPAAttrList* autoedits; /* owned by the record */
    char account_name[31];
    DB_APP_NAME_typ application_name;
    int applicattion_id;
    DB_ALERT_NAME_typ alert_name;
    DB_DATETIME_typ alert_check_time;
    ZPAAttrList* alert_outputs; /* owned by the record */
    COND_NAME_TYP orv_cond_name;
    COND_DATE_TYP orv_cond_date;
    char orv_cond_action[13];
    char action_type[4];
    int submit_attempts_counter;
} EW_actions_to_excute_type;

CM_EXTERN_C_BEGIN

/* ---- program and main loop ---- */

/* 1 when another watcher holds ./temp/OW.lock (or the lock file cannot be opened), else 0; the
 * lock is then held for the life of the process. */
int anoter_OEBS_Watcher_running(void);
CM_RC OEBS_WATCHER_MAIN(int argc, char** argv);
CM_RC OW_MAIN_watching_loop(int ow_debug_level, ZPAError* Error);
/* The exit status the program ends with after OEBS_WATCHER_MAIN: 1 when the loop never started
 * because its pid file could not be written, else 0. */
int OW_MAIN_exit_status(void);
int OW_MAIN_save_PID(void);
/* 1 when an exit was requested during the sleep, else 0. */
int OW_MAIN_sleep(int total_sleep_time);
CM_RC OW_MAIN_set_process_debug_level(int* ow_current_debug_level, ZPAError* Error);
void ow_main_set_default_config(EW_cfg_file_params_type* ew_config_params);
int OW_clean_ow_main_loop_lists(ZPALIST_handle_typ* account_list, ZPALIST_handle_typ* rules_list, ZPAError* Error);
ZPARC OW_MAIN_ErrorSet(ZPAError* Error, ZPAErrorCode code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

/* ---- rules and settings ---- */

/* 0 when loaded or unchanged, 1 on failure. */
int EW_load_event_watcher_rules(ZPALIST_handle_typ* event_rules_list, ZPALIST_handle_typ* event_rules_account_list,
                                char* event_rules_file_last_modify_time, ZPAError* Error);
int EW_load_new_event_watcher_rules(ZPALIST_handle_typ* rules_list, ZPALIST_handle_typ* acc_list, ZPAError* Error);
int EW_load_rules_list(ZPALIST_handle_typ* rulelist, char* rulefile, ZPAError* Error);
int EW_fill_CONDITION_section(ZPALIST_handle_typ* sublist, EW_cond_action_typ* cond_act, ZPAError* Error);
int EW_fill_ORVORDER_action(ZPALIST_handle_typ* sublist, EW_cond_action_typ* cond_act, ZPAError* Error);
int EW_fill_ORVCONTB_action(ZPALIST_handle_typ* sublist, EW_cond_action_typ* cond_act, ZPAError* Error);
int EW_add_to_acc_list(ZPALIST_handle_typ* acc_list, char* new_account);
int EW_clean_event_rule_list(ZPALIST_handle_typ* event_rules_list);
int EW_list_append_value(ZPALIST_handle_typ* List, char* key, char* value, ZPAError* Error);
/* 0 when loaded or unchanged, 1 on failure. Sets the action-log switch from ACTION_LOG. */
int EW_load_event_config(EW_cfg_file_params_type* ew_config_params, char* event_cfg_file_last_modify_time,
                         ZPAError* Error);
/* The action-log switch (off at start). */
int EW_action_log_enabled(void);

/* ---- utility runs, shout and action log ---- */

int OW_send_alert_shout_to_uvs(char* msg, ZPAError* Error);
/* p_message: OW_UTIL_MESSAGE_SIZE bytes. 0 success, 1 failure. */
int OW_run_ag_util_command(char* commandName, ZPAAttrList* inListAttr, char* p_message, ZPAError* Error);
/* Appends the attributes' arguments at p_argv[*p_argc] (p_argv holds OW_MAX_ARGV entries). */
int OW_ORDER_makeCommand(char** p_argv, int* p_argc, ZPAAttrList* listAttr, ZPAError* Error);
int OW_ORDER_addToArgvList(char** p, const char* format, const char* str, int strSize, ZPAError* Error);
int OW_isAutoeditVariable(const char* name);
int OW_ORDER_isEmptyKey(const char* name);
int OW_isInternalKey(const char* name);
int OW_MAIN_append_value(ZPALIST_handle_typ* List, char* key, char* value, ZPAError* Error);
int OW_MAIN_append_autoedit(ZPALIST_handle_typ* List, char* key, char* value, ZPAError* Error);
void OW_ORDER_write_order_attr(ZPAAttrList* listAttr);
int EW_write_orv_command_to_log(int p_argc, char** p_argv);
int EW_write_orv_exit_msg_to_log(char* action, char* message, CM_RC cm_rc);
int EW_write_log(const char* format, ...) __attribute__((format(printf, 1, 2)));

/* ---- action queue (cm/DUZ/data/ew_actions_to_execute.dat) ---- */

void EW_build_action_to_excute_file_name(char* path);
/* Appends the records (EW_actions_to_excute_type) to the queue file. CM_RC 1 or 2. */
CM_RC EW_save_actions_to_excute_to_file(ZPALIST_handle_typ* actions_to_excute_list, ZPAError* Error);
/* Moves the sections of new_action_list (with their rows) behind those of existing_action_list. */
CM_RC EW_append_action_to_excute_lists(ZPALIST_handle_typ* existing_action_list, ZPALIST_handle_typ* new_action_list,
                                       ZPAError* Error);
/* The whole queue file as sections (GM_PARAM_subtable_row); released with GM_PARAM_subtable_list_clear. */
CM_RC EW_load_actions_to_excute_from_file(ZPALIST_handle_typ* actions_to_excute_list, ZPAError* Error);
/* Runs the queue; afterwards the file holds the failed actions that have attempts left. */
CM_RC EW_execute_actions(ZPALIST_handle_typ* actions_to_excute_list, EW_cfg_file_params_type* ew_config_params,
                         ZPAError* Error);
CM_RC EW_raise_action_submit_attempts_counter(ZPALIST_handle_typ* failed_action_list,
                                              GM_PARAM_subtable_row* action_failed, int action_max_retry,
                                              ZPAError* Error);
CM_RC EW_execute_orvorder(GM_PARAM_subtable_row* action, ZPAError* Error);
CM_RC EW_execute_orvcontb(GM_PARAM_subtable_row* action, ZPAError* Error);
/* Releases each record's two attribute lists, then clears the list. 0 or 1. */
int EW_clean_actions_to_execute_list(ZPALIST_handle_typ* list);
int EW_clean_event_watcher_loop_lists(ZPALIST_handle_typ* alert_list, ZPALIST_handle_typ* actions_list,
                                      ZPAError* Error);
int EW_write_alert_details_to_log(ZPALIST_handle_typ* rows, const char* section_name);

/* ---- account pass ---- */

int EW_event_watcher_loop(ZPALIST_handle_typ* rules_list, ZPALIST_handle_typ* acc_list,
                          EW_cfg_file_params_type* ew_config_params, ZPAError* Error);
/* last_watching_time: DB_DATETIME_typ. */
int EW_get_last_watching_time(char* account_name, char* last_watching_time, ZPAError* Error);
int EW_save_last_watching_time(char* account_name, char* last_watching_time, int first_watch, ZPAError* Error);
int EW_create_actions_to_excute_list(ZPALIST_handle_typ* rules_list, ZPALIST_handle_typ* new_oebs_alert_list,
                                     char* account_name, ZPALIST_handle_typ* actions_to_excute_list,
                                     BE_DUZ_Handles* DUZ_handle, EW_cfg_file_params_type* ew_config_params,
                                     ZPAError* Error);
int EW_evntRuleMatchAlert(char* account_name, EW_cond_action_typ* event_rule, EW_alert_type* alert);
int OW_fit_to_wild_card(char* gen_name, char* name);
int EW_ruleConditionSectionWasChanged(EW_cond_action_typ* matched, EW_cond_action_typ* current);
void EW_copyConditionSection(EW_cond_action_typ* matched, EW_cond_action_typ* current);
int EW_fill_action_to_execute(EW_cond_action_typ* event_rule, EW_alert_type* alert,
                              EW_actions_to_excute_type* action_to_execute);
void EW_print_rule(EW_cond_action_typ* event_rule);
void EW_print_action_to_excute(EW_actions_to_excute_type* action_to_execute);

CM_EXTERN_C_END

#endif
