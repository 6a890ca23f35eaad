/* The alert watcher's rules and settings: the rules file cm/DUZ/data/event_rules.dat read into the
 * rule list (condition sections, order and condition-change sections) and the list of accounts the
 * rules name, both read again only when the file's modification time changes; the settings file
 * reloaded the same way, which also sets the action-log switch. */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "be_ow.h"
#include "be_ow_internal.h"
#include "gm_param_internal.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_file_internal.h"

namespace {

/* The action-log switch: off at start, set only by a settings load. */
bool action_log_on = false;

/* Characters a job variable's name may have after its "%%". */
constexpr std::size_t kAutoeditNameMax = 38;

/* A section reader's failure: its own message. */
struct SectionError {
    std::string message;
};

/* Copies value into a field of `size` bytes; a value that does not fit fails the section. */
bool copy_field(char* field, std::size_t size, const char* key, const char* value, std::string& message) {
    const std::size_t length = std::strlen(value);
    if (length >= size) {
        char text[256];
        std::snprintf(text, sizeof text, "Value of '%.64s' is longer than %d characters.", key,
                      static_cast<int>(size - 1));
        message = text;
        return false;
    }
    std::memcpy(field, value, length + 1);
    return true;
}

std::string invalid_parameter(const char* key) { return std::string("Invalid parameter: '") + key + "'."; }

template <std::size_t N>
bool set_field(char (&field)[N], const char* key, const char* value, std::string& message) {
    return copy_field(field, N, key, value, message);
}

void clear_action_part(EW_cond_action_typ* rule) {
    std::memset(rule->action_type, 0, sizeof rule->action_type);
    std::memset(rule->orv_jobname, 0, sizeof rule->orv_jobname);
    std::memset(rule->orv_schedtable, 0, sizeof rule->orv_schedtable);
    std::memset(rule->orv_order_date, 0, sizeof rule->orv_order_date);
    rule->autoedits = nullptr;
    std::memset(rule->group_order_id, 0, sizeof rule->group_order_id);
    std::memset(rule->orv_condName, 0, sizeof rule->orv_condName);
    std::memset(rule->orv_condDate, 0, sizeof rule->orv_condDate);
    std::memset(rule->orv_cond_action, 0, sizeof rule->orv_cond_action);
}

/* Walks a section's rows; `row` returns false (with its message) to stop. 0, or 1 with message. */
template <typename RowFn>
int walk_rows(ZPALIST_handle_typ* sublist, std::string& message, RowFn row) {
    if (sublist == nullptr) return 0;
    GM_PARAM_list_reset(sublist);
    char* key = nullptr;
    void* value = nullptr;
    CM_RC rc;
    while ((rc = GM_PARAM_list_next(sublist, &key, &value)) == CM_RC_OK) {
        if (!row(key, static_cast<const char*>(value))) return 1;
    }
    if (rc != CM_RC_END) {
        message = "Failed to process sublist.";
        return 1;
    }
    return 0;
}

/* Stores a section reader's message in the error record and returns 1 (0 passes through). */
int section_result(int rc, const std::string& message, ZPAError* Error) {
    if (rc != 0) BE_DUZ_UpdateErrorSet(Error, 1, "%s", message.c_str());
    return rc;
}

/* The text of the record without the prefix every stored text starts with. */
std::string own_text(const ZPAError* Error) {
    if (Error == nullptr) return "";
    std::string text = Error->text;
    const std::string prefix = BE_DUZ_ERROR_PREFIX;
    if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
    return text;
}

/* A parse failure: logged and put in place of the record's text (its code kept). */
int parse_failed(ZPAError* Error, const std::string& message) {
    static const char* fn = "EW_load_new_event_watcher_rules";
    DIAG_ERROR("%s: %s", fn, message.c_str());
    BE_DUZ_UpdateErrorSet(Error, Error != nullptr && Error->code != 0 ? Error->code : 1, "%s", message.c_str());
    return 1;
}

/* The modification time of a file as its mark; false when the file cannot be stat'ed. */
bool modification_mark(const char* path, DATETIME_D_typ mark) {
    DATETIME_D_typ created = "";
    mark[0] = '\0';
    return OS_FILE_stat(path, nullptr, nullptr, created, mark) == CM_RC_OK;
}

/* The sections of a rules file's text; false with the reason in Error, as EW_load_rules_list gives it. */
bool sections_of(const std::string& text, ZPALIST_handle_typ* sections, ZPAError* Error) {
    try {
        if (gm_param::parse_sectioned(sections, text) == CM_RC_OK) return true;
    } catch (...) {
    }
    BE_DUZ_UpdateErrorSet(Error, 1, "Could not load rulefile '%s'", EW_RULES_FILE_NAME);
    return false;
}

/* Reads a whole file and gives the mark of the text read: the modification time of the file that
 * was read, as OS_FILE_stat prints it. False when it cannot be read: missing, a link at its name,
 * anything but a regular file. */
bool read_with_mark(const char* path, std::string& text, DATETIME_D_typ mark) {
    gm_param::FileImage image;
    if (gm_param::read_file(path, image) != CM_RC_OK) return false;
    os_file::format_date14(image.status.st_mtime, mark);
    text.swap(image.content);
    return true;
}

/* Parses the rules file into the two lists: its text when the caller read it, else the file as
 * EW_load_rules_list loads it. 0, or 1 with the reason in Error. */
int load_rules(ZPALIST_handle_typ* rules_list, ZPALIST_handle_typ* acc_list, const std::string* text, ZPAError* Error) {
    if (rules_list == nullptr || acc_list == nullptr) return 1;
    ZPALIST_handle_typ sections{};
    ZPALIST_init(&sections);
    const bool loaded = text != nullptr
                            ? sections_of(*text, &sections, Error)
                            : EW_load_rules_list(&sections, const_cast<char*>(EW_RULES_FILE_NAME), Error) == 0;
    if (!loaded) {
        GM_PARAM_subtable_list_clear(&sections);
        return parse_failed(Error, "Failed to load file to rule table. " + own_text(Error));
    }
    EW_cond_action_typ working{};
    int count = 0;
    int rc = 0;
    std::string message;
    ZPALIST_handle_typ walker = sections;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    CM_RC walked;
    while ((walked = ZPALIST_next_ptr(&walker, &element, &size)) == CM_RC_OK) {
        auto* section = static_cast<GM_PARAM_subtable_row*>(element);
        const std::string name = section->key;
        if (name.find("CONDITION") != std::string::npos) {
            if (EW_fill_CONDITION_section(&section->list, &working, Error) != 0) {
                message = "Processing event rule file failed in section " + name +
                          ", the rule file is not well formatted. " + own_text(Error);
                rc = 1;
                break;
            }
            continue;
        }
        if (name.find("ORVORDER") != std::string::npos) {
            if (EW_fill_ORVORDER_action(&section->list, &working, Error) != 0) {
                message = "Processing event rule file failed in section " + name + ". " + own_text(Error);
                rc = 1;
                break;
            }
        } else if (EW_fill_ORVCONTB_action(&section->list, &working, Error) != 0) {
            message = "Processing event rule file failed in section " + name + ", the rule file is not well formatted.";
            rc = 1;
            break;
        }
        /* The list's copy owns the job variables from here on. */
        if (ZPALIST_append(rules_list, &working, sizeof working) != CM_RC_OK) {
            message = "Failed to append order to rules list.";
            rc = 1;
            break;
        }
        working.autoedits = nullptr;
        ++count;
        BE_TRACE(4, "Rule #%d added to rules list.", count);
        if (EW_add_to_acc_list(acc_list, working.account_name) != 0) {
            message = std::string("Failed to append account ") + working.account_name + " to events account list.";
            rc = 1;
            break;
        }
    }
    ow::free_attrs(working.autoedits);
    GM_PARAM_subtable_list_clear(&sections);
    if (rc != 0) return parse_failed(Error, message);
    if (walked != CM_RC_END) return parse_failed(Error, "Failed to process temp_rules_list.");
    if (count == 0) return parse_failed(Error, "No rules were found in event_rules.dat file .");
    return 0;
}

}  // namespace

CM_EXTERN_C_BEGIN

int EW_action_log_enabled(void) { return action_log_on ? 1 : 0; }

int EW_load_rules_list(ZPALIST_handle_typ* rulelist, char* rulefile, ZPAError* Error) {
    if (rulelist == nullptr || rulefile == nullptr) return 1;
    PATHNAME_D_typ path = "";
    std::snprintf(path, sizeof path, "cm/DUZ/data/%s", rulefile);
    if (GM_PARAM_subtable_load_file(rulelist, path) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Could not load rulefile '%s'", rulefile);
        return 1;
    }
    return 0;
}

int EW_fill_CONDITION_section(ZPALIST_handle_typ* sublist, EW_cond_action_typ* cond_act, ZPAError* Error) {
    if (cond_act == nullptr) return 1;
    std::string message;
    const int rc = walk_rows(sublist, message, [&](const char* key, const char* value) {
        const std::string k = key;
        if (k == "OEBS_ACCOUNT") return set_field(cond_act->account_name, key, value, message);
        if (k == "OEBS_APP_NAME") return set_field(cond_act->app_name, key, value, message);
        if (k == "OEBS_ALERT_NAME") return set_field(cond_act->alert_name, key, value, message);
        if (k == "OEBS_DO_ACTION") return set_field(cond_act->do_action, key, value, message);
        message = invalid_parameter(key);
        return false;
    });
    return section_result(rc, message, Error);
}

int EW_fill_ORVORDER_action(ZPALIST_handle_typ* sublist, EW_cond_action_typ* cond_act, ZPAError* Error) {
    if (cond_act == nullptr) return 1;
    clear_action_part(cond_act);
    std::strcpy(cond_act->action_type, "ORD");
    ZPALIST_handle_typ variables{};
    ZPALIST_init(&variables);
    std::string message;
    int rc = walk_rows(sublist, message, [&](const char* key, const char* value) {
        const std::string k = key;
        if (k == "JOBNAME") return set_field(cond_act->orv_jobname, key, value, message);
        if (k == "SCHEDTAB") return set_field(cond_act->orv_schedtable, key, value, message);
        if (k == "INGROUPORDERID") return set_field(cond_act->group_order_id, key, value, message);
        if (k == "ODATE") return set_field(cond_act->orv_order_date, key, value, message);
        if (k.size() >= 3 && k.compare(0, 2, "%%") == 0) {
            const std::string name = k.substr(2);
            char text[256];
            if (name.size() > kAutoeditNameMax) {
                std::snprintf(text, sizeof text, "Name of '%.64s' is longer than %d characters.", key,
                              static_cast<int>(kAutoeditNameMax));
                message = text;
                return false;
            }
            if (std::strlen(value) > EW_AUTOEDIT_VALUE_MAX) {
                std::snprintf(text, sizeof text, "Value of '%.64s' is longer than %d characters.", key,
                              EW_AUTOEDIT_VALUE_MAX);
                message = text;
                return false;
            }
            if (GM_PARAM_list_set(&variables, name.c_str(), value) != CM_RC_OK) {
                BE_DUZ_UpdateErrorSet(Error, 1,
                                      "Failed to append auto-edit key '%s' and auto-edit value '%s' to "
                                      "tempAutoeditsList.",
                                      key, value);
                message = own_text(Error);
                return false;
            }
            return true;
        }
        message = invalid_parameter(key);
        return false;
    });
    if (rc == 0 && ZPALIST_count(&variables) > 0) {
        auto* list = static_cast<ZPAAttrList*>(std::calloc(1, sizeof(ZPAAttrList)));
        if (list == nullptr || ZPAAPI_UTILS_list2attr(&variables, list) != ZPA_SUCCESS) {
            DIAG_ERROR("Error: Failed to copy tempAutoeditsList to cond_act->autoedits");
            ow::free_attrs(list);
            message = "Failed to copy the job variables.";
            rc = 1;
        } else {
            cond_act->autoedits = list;
        }
    }
    GM_PARAM_list_clear(&variables);
    return section_result(rc, message, Error);
}

int EW_fill_ORVCONTB_action(ZPALIST_handle_typ* sublist, EW_cond_action_typ* cond_act, ZPAError* Error) {
    if (cond_act == nullptr) return 1;
    clear_action_part(cond_act);
    std::strcpy(cond_act->action_type, "CND");
    std::string message;
    const int rc = walk_rows(sublist, message, [&](const char* key, const char* value) {
        const std::string k = key;
        if (k == "COND_NAME") return set_field(cond_act->orv_condName, key, value, message);
        if (k == "COND_DATE") return set_field(cond_act->orv_condDate, key, value, message);
        if (k == "COND_ACTION") return set_field(cond_act->orv_cond_action, key, value, message);
        message = invalid_parameter(key);
        return false;
    });
    return section_result(rc, message, Error);
}

int EW_add_to_acc_list(ZPALIST_handle_typ* acc_list, char* new_account) {
    if (acc_list == nullptr || new_account == nullptr) return 1;
    ZPALIST_handle_typ walker = *acc_list;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK)
        if (std::strcmp(static_cast<const char*>(element), new_account) == 0) return 0;
    const unsigned int length = static_cast<unsigned int>(std::strlen(new_account)) + 1;
    return ZPALIST_append(acc_list, new_account, length) == CM_RC_OK ? 0 : 1;
}

int EW_clean_event_rule_list(ZPALIST_handle_typ* event_rules_list) {
    if (event_rules_list == nullptr) return 1;
    if (event_rules_list->first == nullptr) {
        BE_TRACE(4, "Nothing to clear in the List.");
        return 0;
    }
    ZPALIST_handle_typ walker = *event_rules_list;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK)
        ow::free_attrs(static_cast<EW_cond_action_typ*>(element)->autoedits);
    const CM_RC rc = ZPALIST_clear(event_rules_list);
    return rc == CM_RC_OK || rc == CM_RC_END ? 0 : 1;
}

int EW_list_append_value(ZPALIST_handle_typ* List, char* key, char* value, ZPAError* Error) {
    if (GM_PARAM_list_set(List, key, value) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, ">>> GM_PARAM_list_set failed.\n key: '%s'\n value: '%s'", key ? key : "",
                              value ? value : "");
        return 1;
    }
    return 0;
}

int EW_load_new_event_watcher_rules(ZPALIST_handle_typ* rules_list, ZPALIST_handle_typ* acc_list, ZPAError* Error) {
    return load_rules(rules_list, acc_list, nullptr, Error);
}

int EW_load_event_watcher_rules(ZPALIST_handle_typ* event_rules_list, ZPALIST_handle_typ* event_rules_account_list,
                                char* event_rules_file_last_modify_time, ZPAError* Error) {
    static const char* fn = "EW_load_event_watcher_rules";
    if (event_rules_list == nullptr || event_rules_account_list == nullptr ||
        event_rules_file_last_modify_time == nullptr)
        return 1;
    PATHNAME_D_typ path = "";
    std::snprintf(path, sizeof path, "cm/DUZ/data/%s", EW_RULES_FILE_NAME);
    DATETIME_D_typ mark = "";
    if (!modification_mark(path, mark)) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Could not find %s", path);
        return 1;
    }
    if (std::strcmp(mark, event_rules_file_last_modify_time) == 0) return 0;
    /* A file that cannot be read counts as missing: lists and mark stay as they are, so it is read
     * as soon as it can be, whether or not its time changes meanwhile. */
    std::string text;
    if (!read_with_mark(path, text, mark)) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Could not read %s", path);
        return 1;
    }
    if (event_rules_file_last_modify_time[0] != '\0') {
        EW_clean_event_rule_list(event_rules_list);
        const CM_RC cleared = ZPALIST_clear(event_rules_account_list);
        if (cleared != CM_RC_OK && cleared != CM_RC_END) {
            OW_MAIN_ErrorSet(Error, 1, "%s function - Failed to clear event_rules_account_list", fn);
            return 1;
        }
    }
    /* The mark moves once the text is read, before the parse: a file that fails to parse is read
     * again only once it changes. */
    std::snprintf(event_rules_file_last_modify_time, sizeof(DATETIME_D_typ), "%s", mark);
    if (ZPALIST_init(event_rules_list) != CM_RC_OK) {
        DIAG_ERROR(">>> Critical Error: Failed to initialize event rules list");
        return 1;
    }
    if (load_rules(event_rules_list, event_rules_account_list, &text, Error) != 0) {
        const std::string why = own_text(Error);
        BE_DUZ_UpdateErrorSet(Error, Error != nullptr && Error->code != 0 ? Error->code : 1, "Could not load %s. %s",
                              path, why.c_str());
        return 1;
    }
    return 0;
}

int EW_load_event_config(EW_cfg_file_params_type* ew_config_params, char* event_cfg_file_last_modify_time,
                         ZPAError* Error) {
    if (ew_config_params == nullptr || event_cfg_file_last_modify_time == nullptr) return 1;
    PATHNAME_D_typ path = "";
    EW_build_event_cfg_file_name(path);
    DATETIME_D_typ mark = "";
    if (!modification_mark(path, mark)) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Could not find %s", path);
        return 1;
    }
    if (std::strcmp(mark, event_cfg_file_last_modify_time) == 0) return 0;
    /* As for the rules: a file that cannot be read counts as missing and keeps the mark where it
     * was, so that it is read as soon as it can be; one that is read but does not load keeps the
     * defaults until it changes. */
    std::string text;
    if (!read_with_mark(path, text, mark)) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Could not read %s", path);
        return 1;
    }
    std::snprintf(event_cfg_file_last_modify_time, sizeof(DATETIME_D_typ), "%s", mark);
    if (EW_load_new_event_config(ew_config_params, Error) != ZPA_SUCCESS) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Could not load %s", path);
        return 1;
    }
    action_log_on = std::strcmp(ew_config_params->create_log, "Y") == 0;
    return 0;
}

CM_EXTERN_C_END
