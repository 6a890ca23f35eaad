/* The alert watcher's account pass: for every account the rules name, a session to its database,
 * the Oracle Alert checks since its watching time, each matched against the rules into actions,
 * the actions appended to the queue file and only then the watching time moved on (in
 * cm/DUZ/data/event_watch_times.dat, under the file's lock, by the account's upper-cased name). */
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "be_ow.h"
#include "be_ow_internal.h"
#include "gm_wild.h"
#include "os_diag.h"

namespace {

/* The section name of an account in the watch-times file: the file's loader upper-cases names. */
std::string section_of(const char* account) {
    std::string name = account != nullptr ? account : "";
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

bool is_database_time(const std::string& value) {
    if (value.size() != 14) return false;
    for (const char c : value)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

ZPAAttrList* copy_attrs(ZPAAttrList* from, bool& ok) {
    ok = true;
    if (from == nullptr || from->Count == 0) return nullptr;
    auto* copy = static_cast<ZPAAttrList*>(std::calloc(1, sizeof(ZPAAttrList)));
    if (copy == nullptr || ZPAAPI_UTILS_AttrListAppend_Attr2Attr(from, copy) != ZPA_SUCCESS) {
        ow::free_attrs(copy);
        ok = false;
        return nullptr;
    }
    return copy;
}

template <std::size_t N>
void copy_text(char (&field)[N], const char* value) {
    std::snprintf(field, N, "%s", value != nullptr ? value : "");
}

/* The rows of the account pass for one account. */
struct AccountLists {
    ZPALIST_handle_typ alerts{};
    ZPALIST_handle_typ actions{};
    AccountLists() {
        ZPALIST_init(&alerts);
        ZPALIST_init(&actions);
    }
    ~AccountLists() { EW_clean_event_watcher_loop_lists(&alerts, &actions, nullptr); }
    int clean(ZPAError* Error) { return EW_clean_event_watcher_loop_lists(&alerts, &actions, Error); }
};

}  // namespace

CM_EXTERN_C_BEGIN

int OW_fit_to_wild_card(char* gen_name, char* name) {
    if (gen_name == nullptr || name == nullptr || std::strchr(gen_name, '$') != nullptr) return 0;
    return GM_WILD_match(name, gen_name) == CM_RC_OK ? 1 : 0;
}

int EW_evntRuleMatchAlert(char* account_name, EW_cond_action_typ* event_rule, EW_alert_type* alert) {
    if (account_name == nullptr || event_rule == nullptr || alert == nullptr) return 0;
    if (std::strcmp(event_rule->account_name, account_name) != 0) return 0;
    if (!OW_fit_to_wild_card(event_rule->app_name, alert->application_name)) return 0;
    if (!OW_fit_to_wild_card(event_rule->alert_name, alert->alert_name)) return 0;
    const std::string how = event_rule->do_action;
    const bool exceptions = alert->num_of_exception >= 1, actions = alert->actions_performed >= 1;
    if (how == "E") return exceptions ? 1 : 0;
    if (how == "A") return actions ? 1 : 0;
    if (how == "O") return exceptions || actions ? 1 : 0;
    if (how == "N") return exceptions && actions ? 1 : 0;
    return 0;
}

int EW_ruleConditionSectionWasChanged(EW_cond_action_typ* matched, EW_cond_action_typ* current) {
    if (matched == nullptr || current == nullptr) return 1;
    return std::strcmp(matched->account_name, current->account_name) != 0 ||
           std::strcmp(matched->app_name, current->app_name) != 0 ||
           std::strcmp(matched->alert_name, current->alert_name) != 0 ||
           std::strcmp(matched->do_action, current->do_action) != 0;
}

void EW_copyConditionSection(EW_cond_action_typ* matched, EW_cond_action_typ* current) {
    if (matched == nullptr || current == nullptr) return;
    copy_text(matched->account_name, current->account_name);
    copy_text(matched->app_name, current->app_name);
    copy_text(matched->alert_name, current->alert_name);
    copy_text(matched->do_action, current->do_action);
}

void EW_print_rule(EW_cond_action_typ* r) {
    if (r == nullptr || DIAG_debug_level() < 4) return;
    DIAG_printf("Retrieved following event watcher rule:");
    DIAG_printf("  account name     : %s", r->account_name);
    DIAG_printf("  application name : %s", r->app_name);
    DIAG_printf("  alert name       : %s", r->alert_name);
    DIAG_printf("  do action        : %s", r->do_action);
    DIAG_printf("  action type      : %s", r->action_type);
    DIAG_printf("  job name         : %s", r->orv_jobname);
    DIAG_printf("  scheduling table : %s", r->orv_schedtable);
    DIAG_printf("  order date       : %s", r->orv_order_date);
    DIAG_printf("  group order id   : %s", r->group_order_id);
    for (int i = 0; r->autoedits != nullptr && i < r->autoedits->Count; ++i)
        DIAG_printf("  variable         : %s = %s", r->autoedits->Attributes[i].Name,
                    r->autoedits->Attributes[i].Value);
    DIAG_printf("  condition name   : %s", r->orv_condName);
    DIAG_printf("  condition date   : %s", r->orv_condDate);
    DIAG_printf("  condition action : %s", r->orv_cond_action);
}

void EW_print_action_to_excute(EW_actions_to_excute_type* a) {
    if (a == nullptr || DIAG_debug_level() < 4) return;
    DIAG_printf("Add following action to execute:");
    DIAG_printf("  action type      : %s", a->action_type);
    DIAG_printf("  account name     : %s", a->account_name);
    DIAG_printf("  application name : %s (%d)", a->application_name, a->applicattion_id);
    DIAG_printf("  alert name       : %s", a->alert_name);
    DIAG_printf("  alert check time : %s", a->alert_check_time);
    DIAG_printf("  job name         : %s", a->orv_jobname);
    DIAG_printf("  scheduling table : %s", a->orv_schedtab);
    DIAG_printf("  order date       : %s", a->orv_order_date);
    DIAG_printf("  group order id   : %s", a->group_order_id);
    for (int i = 0; a->autoedits != nullptr && i < a->autoedits->Count; ++i)
        DIAG_printf("  variable         : %s = %s", a->autoedits->Attributes[i].Name,
                    a->autoedits->Attributes[i].Value);
    for (int i = 0; a->alert_outputs != nullptr && i < a->alert_outputs->Count; ++i)
        DIAG_printf("  output           : %s = %s", a->alert_outputs->Attributes[i].Name,
                    a->alert_outputs->Attributes[i].Value);
    DIAG_printf("  condition name   : %s", a->orv_cond_name);
    DIAG_printf("  condition date   : %s", a->orv_cond_date);
    DIAG_printf("  condition action : %s", a->orv_cond_action);
}

int EW_fill_action_to_execute(EW_cond_action_typ* event_rule, EW_alert_type* alert,
                              EW_actions_to_excute_type* action_to_execute) {
    if (event_rule == nullptr || alert == nullptr || action_to_execute == nullptr) return 1;
    EW_actions_to_excute_type& a = *action_to_execute;
    a = EW_actions_to_excute_type{};
    bool ok = true;
    if (std::strcmp(event_rule->action_type, "ORD") == 0) {
        copy_text(a.orv_jobname, event_rule->orv_jobname);
        copy_text(a.orv_schedtab, event_rule->orv_schedtable);
        copy_text(a.orv_order_date, event_rule->orv_order_date);
        copy_text(a.group_order_id, event_rule->group_order_id);
        a.autoedits = copy_attrs(event_rule->autoedits, ok);
        if (!ok) {
            DIAG_ERROR("Error: Failed to copy event_rule->autoedits list to action_to_execute->autoedits");
            return 1;
        }
    } else {
        if (event_rule->orv_condName[0] != '\0') {
            copy_text(a.orv_cond_name, event_rule->orv_condName);
        } else {
            /* Cut at the field: the application and alert names together can be longer. */
            const std::string derived = std::string("OEBS_") + alert->application_name + "_" + alert->alert_name;
            copy_text(a.orv_cond_name, derived.c_str());
            BE_DUZ_replace_chars(a.orv_cond_name, ' ', '_');
        }
        copy_text(a.orv_cond_date, event_rule->orv_condDate);
        copy_text(a.orv_cond_action, event_rule->orv_cond_action);
    }
    copy_text(a.action_type, event_rule->action_type);
    copy_text(a.account_name, event_rule->account_name);
    copy_text(a.application_name, alert->application_name);
    a.applicattion_id = alert->application_id;
    copy_text(a.alert_name, alert->alert_name);
    copy_text(a.alert_check_time, alert->alert_check_time);
    a.alert_outputs = copy_attrs(alert->alert_outputs, ok);
    if (!ok) {
        DIAG_ERROR("Error: Failed to copy alert->alert_outputs list to action_to_execute->alert_outputs");
        ow::free_attrs(a.autoedits);
        return 1;
    }
    a.submit_attempts_counter = 0;
    return 0;
}

int EW_create_actions_to_excute_list(ZPALIST_handle_typ* rules_list, ZPALIST_handle_typ* new_oebs_alert_list,
                                     char* account_name, ZPALIST_handle_typ* actions_to_excute_list,
                                     BE_DUZ_Handles* DUZ_handle, EW_cfg_file_params_type* ew_config_params,
                                     ZPAError* Error) {
    if (rules_list == nullptr || new_oebs_alert_list == nullptr || actions_to_excute_list == nullptr) return 1;
    ZPALIST_handle_typ alerts = *new_oebs_alert_list;
    ZPALIST_reset(&alerts);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&alerts, &element, &size) == CM_RC_OK) {
        auto* alert = static_cast<EW_alert_type*>(element);
        bool matched = false;
        EW_cond_action_typ first{};
        ZPALIST_handle_typ rules = *rules_list;
        ZPALIST_reset(&rules);
        void* rule_element = nullptr;
        int rc = 0;
        while (ZPALIST_next_ptr(&rules, &rule_element, &size) == CM_RC_OK) {
            auto* rule = static_cast<EW_cond_action_typ*>(rule_element);
            if (!EW_evntRuleMatchAlert(account_name, rule, alert)) {
                if (matched) break;
                continue;
            }
            if (matched && EW_ruleConditionSectionWasChanged(&first, rule)) break;
            if (!matched) {
                matched = true;
                EW_copyConditionSection(&first, rule);
                ZPAError outputs_error{};
                if (DB_get_alert_outputs_from_oebs(DUZ_handle, alert,
                                                   ew_config_params != nullptr ? ew_config_params->alert_max_output : 0,
                                                   &outputs_error) != ZPA_SUCCESS) {
                    DIAG_ERROR("DB_get_alert_outputs_from_oebs failed with error: '%s', code '%d'", outputs_error.text,
                               static_cast<int>(outputs_error.code));
                    EW_Free_Alert(alert);
                }
            }
            EW_print_rule(rule);
            EW_actions_to_excute_type action{};
            if (EW_fill_action_to_execute(rule, alert, &action) != 0) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to fill action_to_execute details.");
                rc = 1;
                break;
            }
            EW_print_action_to_excute(&action);
            /* The list's copy owns the two attribute lists. */
            if (ZPALIST_append(actions_to_excute_list, &action, sizeof action) != CM_RC_OK) {
                ow::free_attrs(action.autoedits);
                ow::free_attrs(action.alert_outputs);
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to append action_to_execute to actions_to_excute_list.");
                rc = 1;
                break;
            }
        }
        EW_Free_Alert(alert);
        if (rc != 0) return 1;
    }
    return 0;
}

int EW_get_last_watching_time(char* account_name, char* last_watching_time, ZPAError* Error) {
    if (account_name == nullptr || last_watching_time == nullptr) return 1;
    PATHNAME_D_typ path = "";
    EW_build_event_watch_times_file_name(path);
    ZPALIST_handle_typ sections{};
    ZPALIST_init(&sections);
    if (GM_PARAM_subtable_load_file(&sections, path) != CM_RC_OK) {
        GM_PARAM_subtable_list_clear(&sections);
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed loading accounts section list");
        return 1;
    }
    std::string section = section_of(account_name);
    ZPALIST_handle_typ* rows = nullptr;
    if (GM_PARAM_subtable_list_find(&sections, section.c_str(), &rows) != CM_RC_OK || rows == nullptr) {
        GM_PARAM_subtable_list_clear(&sections);
        if (EW_update_event_watch_times_file(const_cast<char*>(EW_ADD_ACCOUNT), section.data(), nullptr, Error) !=
            CM_RC_OK)
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to add account %s section to event_watch_times.dat file.",
                                  account_name);
        std::snprintf(last_watching_time, sizeof(DB_DATETIME_typ), "%s", EW_ACTIVATION);
        return 0;
    }
    char* value = nullptr;
    const CM_RC found = GM_PARAM_list_get_ptr(rows, EW_LAST_WATCHING_TIME, &value);
    const std::string text = found == CM_RC_OK && value != nullptr ? value : "";
    GM_PARAM_subtable_list_clear(&sections);
    /* A hand-edited value that is neither a database time nor ACTIVATION is refused like a missing one. */
    if (found == CM_RC_END || (found == CM_RC_OK && !is_database_time(text) && text != EW_ACTIVATION)) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to get %s parameter", EW_LAST_WATCHING_TIME);
        return 1;
    }
    if (found != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load watching times parameters");
        return 1;
    }
    std::snprintf(last_watching_time, sizeof(DB_DATETIME_typ), "%s", text.c_str());
    return 0;
}

int EW_save_last_watching_time(char* account_name, char* last_watching_time, int first_watch, ZPAError* Error) {
    if (account_name == nullptr || last_watching_time == nullptr) return 1;
    PATHNAME_D_typ path = "";
    EW_build_event_watch_times_file_name(path);
    const std::string section = section_of(account_name);
    /* The whole load-change-save holds the file's lock (the configuration requests change it too). */
    void* lock = EW_lock_watcher_file(path);
    ZPALIST_handle_typ sections{};
    ZPALIST_init(&sections);
    int rc = 0;
    if (lock == nullptr || GM_PARAM_subtable_load_file(&sections, path) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Cannot load event accounts section list from %s file", path);
        rc = 1;
    } else {
        for (const char* key : {EW_LAST_WATCHING_TIME, EW_START_WATCHING_TIME}) {
            if (std::strcmp(key, EW_START_WATCHING_TIME) == 0 && first_watch != 1) continue;
            if (GM_PARAM_subtable_list_set(&sections, section.c_str(), key, last_watching_time) != CM_RC_OK) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to set %s parameter", key);
                rc = 1;
                break;
            }
        }
        if (rc == 0 && GM_PARAM_subtable_list_save(&sections, path) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to save last watching time to %s", path);
            rc = 1;
        }
    }
    GM_PARAM_subtable_list_clear(&sections);
    EW_unlock_watcher_file(lock);
    return rc;
}

int EW_event_watcher_loop(ZPALIST_handle_typ* rules_list, ZPALIST_handle_typ* acc_list,
                          EW_cfg_file_params_type* ew_config_params, ZPAError* Error) {
    if (acc_list == nullptr || acc_list->first == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Error - accounts list is empty");
        return 1;
    }
    if (rules_list == nullptr || rules_list->first == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Error - rules list is empty");
        return 1;
    }
    BE_DUZ_Handles* session = nullptr;
    int rc = 0;
    ZPALIST_handle_typ accounts = *acc_list;
    ZPALIST_reset(&accounts);
    void* element = nullptr;
    unsigned int size = 0;
    CM_RC walked = CM_RC_OK;
    while (rc == 0 && (walked = ZPALIST_next_ptr(&accounts, &element, &size)) == CM_RC_OK) {
        char* account = static_cast<char*>(element);
        if (BE_DUZ_connect_to_OEBS(account, &session, Error) != ZPA_SUCCESS) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Unable to connect to account %s, proceed to next account", account);
            OW_send_alert_shout_to_uvs(const_cast<char*>("ORVANTA OEBS Watcher: Event Watcher was unable to connect to "
                                                         "OEBS server, check the logs for more details."),
                                       Error);
            continue;
        }
        DB_DATETIME_typ last = "";
        if (EW_get_last_watching_time(account, last, Error) != 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to get last watching time for account %s", account);
            rc = 1;
            break;
        }
        if (std::strcmp(last, EW_ACTIVATION) == 0) {
            DB_DATETIME_typ now = "";
            if (DB_get_system_current_time(session, now, Error) != ZPA_SUCCESS) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to get system current time for account %s", account);
                continue;
            }
            if (EW_save_last_watching_time(account, now, 1, Error) != 0) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to save last watching time for account %s", account);
                rc = 1;
            }
            continue;
        }
        AccountLists lists;
        DB_DATETIME_typ next = "";
        if (DB_get_all_new_alerts_from_oebs(session, last, next, &lists.alerts, Error) != ZPA_SUCCESS) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to get new Alerts from account %s", account);
            continue;
        }
        std::snprintf(last, sizeof last, "%s", next);
        if (ZPALIST_count(&lists.alerts) > 0) {
            if (EW_create_actions_to_excute_list(rules_list, &lists.alerts, account, &lists.actions, session,
                                                 ew_config_params, Error) != 0) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to create actions to execute list for account %s", account);
                rc = 1;
                break;
            }
            /* The actions are queued before the watching time moves: a kill or a failed save
             * between the two queues them again at the next pass, never loses them. */
            if (ZPALIST_count(&lists.actions) > 0 &&
                EW_save_actions_to_excute_to_file(&lists.actions, Error) != CM_RC_OK) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to save actions to execute list for account %s", account);
                rc = 1;
                break;
            }
        }
        if (EW_save_last_watching_time(account, last, 0, Error) != 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to save last watching time for account %s", account);
            rc = 1;
            break;
        }
        if (lists.clean(Error) != 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to clean event watcher loop lists.");
            rc = 1;
            break;
        }
    }
    if (session != nullptr) BE_DUZ_OCI_CLOSE_Session(session, 'N', Error);
    if (rc == 0 && walked != CM_RC_END) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to process accounts lists");
        return 1;
    }
    return rc;
}

CM_EXTERN_C_END
