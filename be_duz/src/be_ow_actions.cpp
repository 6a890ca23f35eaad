/* The alert watcher's actions: utility runs through the agent-utility client (job order
 * "orvorder", condition change "orvcontb", shout "orvshout") with their argument vectors made from
 * attribute lists, the shout to the scheduling server, the daily action log
 * proclog/oebs_watcher_actions_<YYYYMMDD>.log, and the action queue cm/DUZ/data/ew_actions_to_execute.dat
 * (actions appended by the account pass, run in order at each pass, kept with a raised attempt
 * counter after a failure until the configured maximum). */
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ag_util.h"
#include "be_discovery_internal.h"
#include "be_internal.h"
#include "be_ow.h"
#include "be_ow_internal.h"
#include "gm_param_internal.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_shared_file_internal.h"

namespace {

constexpr char kNoneKey[] = "<NONE>";
/* Longest line of the joined command in the action log. */
constexpr std::size_t kCommandLineMax = 1023;
/* A shout text stays below this length with its agent-name prefix. */
constexpr std::size_t kShoutTextMax = 1024;

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool logged_command(const char* command) {
    const std::string name = lower(command != nullptr ? command : "");
    return name == "orvorder" || name == "orvcontb";
}

void local_date_time(DATETIME_D_typ date, DATETIME_D_typ time) {
    GM_TIME_fmt_get_time(GM_TIME_FMT_DD_MMM_YYYY, date);
    GM_TIME_fmt_get_time(GM_TIME_FMT_HH_MM_SS, time);
}

void free_argv(char** argv, int argc) {
    for (int i = 0; i < argc; ++i) {
        std::free(argv[i]);
        argv[i] = nullptr;
    }
}

void release_attrs(ZPAAttrList& list) {
    if (list.Attributes != nullptr) ZPAAPI_utils_release_attr(&list);
    list = ZPAAttrList{};
}

}  // namespace

namespace ow {

void free_attrs(ZPAAttrList*& list) {
    if (list == nullptr) return;
    release_attrs(*list);
    std::free(list);
    list = nullptr;
}

std::string shout_text(const char* msg) {
    const std::string message = msg != nullptr ? msg : "";
    GM_PARAM_VALUE_typ name = "";
    if (GM_PARAM_get("CONFIG", "LOGICAL_AGENT_NAME", name) != CM_RC_OK) name[0] = '\0';
    std::string text = std::string("Agent name: ") + name + ". " + message;
    return text.size() < kShoutTextMax ? text : message;
}

}  // namespace ow

CM_EXTERN_C_BEGIN

int OW_isAutoeditVariable(const char* name) {
    return name != nullptr && std::strlen(name) >= 3 && std::strncmp(name, "%%", 2) == 0 ? 0 : 1;
}

int OW_ORDER_isEmptyKey(const char* name) { return name != nullptr && std::strcmp(name, kNoneKey) == 0 ? 0 : 1; }

int OW_isInternalKey(const char* name) { return name != nullptr && std::strncmp(name, "OW_", 3) == 0 ? 0 : 1; }

int OW_ORDER_addToArgvList(char** p, const char* format, const char* str, int strSize, ZPAError* Error) {
    if (p == nullptr || format == nullptr || strSize < 0) return 1;
    *p = static_cast<char*>(std::malloc(static_cast<std::size_t>(strSize) + 1));
    if (*p == nullptr) {
        ZPAAPI_UTILS_ErrorSet(Error, 1, "Error : Allocation memory problem !!!!!");
        return 1;
    }
    std::snprintf(*p, static_cast<std::size_t>(strSize) + 1, format, str != nullptr ? str : "");
    return 0;
}

int OW_ORDER_makeCommand(char** p_argv, int* p_argc, ZPAAttrList* listAttr, ZPAError* Error) {
    if (p_argv == nullptr || p_argc == nullptr) return 1;
    if (listAttr == nullptr) return 0;
    const auto add = [&](const char* format, const char* text, int size) {
        if (*p_argc >= OW_MAX_ARGV) {
            ZPAAPI_UTILS_ErrorSet(Error, 1, "The command needs more than %d arguments.", OW_MAX_ARGV);
            return false;
        }
        if (OW_ORDER_addToArgvList(&p_argv[*p_argc], format, text, size, Error) != 0) return false;
        ++*p_argc;
        return true;
    };
    for (int i = 0; i < listAttr->Count; ++i) {
        const char* name = listAttr->Attributes[i].Name != nullptr ? listAttr->Attributes[i].Name : "";
        const char* value = listAttr->Attributes[i].Value != nullptr ? listAttr->Attributes[i].Value : "";
        const int name_size = static_cast<int>(std::strlen(name));
        const int value_size = static_cast<int>(std::strlen(value));
        if (OW_ORDER_isEmptyKey(name) == 0) {
            if (!add("%s", value, value_size)) return 1;
        } else if (OW_isInternalKey(name) == 0) {
            continue;
        } else if (OW_isAutoeditVariable(name) == 0) {
            if (!add("%s", "-AUTOEDIT", 9) || !add("%s", name, name_size) || !add("%s", value, value_size)) return 1;
        } else {
            if (!add("-%s", name, name_size + 1)) return 1;
            if (OW_ORDER_isEmptyKey(value) != 0 && !add("%s", value, value_size)) return 1;
        }
    }
    return 0;
}

int OW_MAIN_append_value(ZPALIST_handle_typ* List, char* key, char* value, ZPAError* Error) {
    if (List == nullptr || key == nullptr || GM_PARAM_list_set(List, key, value != nullptr ? value : "") != CM_RC_OK) {
        ZPAAPI_UTILS_ErrorSet(Error, 1, ">>> GM_PARAM_list_set failed.\n key: '%s'\n value: '%s'", key ? key : "",
                              value ? value : "");
        return 1;
    }
    return 0;
}

int OW_MAIN_append_autoedit(ZPALIST_handle_typ* List, char* key, char* value, ZPAError* Error) {
    std::string name = std::string("%%") + (key != nullptr ? key : "");
    return OW_MAIN_append_value(List, name.data(), value, Error);
}

void OW_ORDER_write_order_attr(ZPAAttrList* listAttr) {
    if (listAttr == nullptr || DIAG_debug_level() < 4) return;
    DIAG_printf("  Order attributes:");
    for (int i = 0; i < listAttr->Count; ++i) {
        const char* name = listAttr->Attributes[i].Name != nullptr ? listAttr->Attributes[i].Name : "";
        const char* value = listAttr->Attributes[i].Value != nullptr ? listAttr->Attributes[i].Value : "";
        if (OW_isAutoeditVariable(name) == 0)
            DIAG_printf("   attr. %d: -AUTOEDIT '%s' '%s'", i, name, value);
        else
            DIAG_printf("   attr. %d: -'%s' '%s'", i, name, value);
    }
}

int EW_write_log(const char* format, ...) {
    if (!EW_action_log_enabled() || format == nullptr) return 0;
    char entry[EW_ACTION_LOG_ENTRY_MAX + 1] = "";
    va_list args;
    va_start(args, format);
    std::vsnprintf(entry, sizeof entry, format, args);
    va_end(args);
    DATETIME_D_typ day = "";
    GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDD, day);
    PATHNAME_D_typ path = "";
    std::snprintf(path, sizeof path, "proclog/oebs_watcher_actions_%s.log", day);
    /* The entry goes in whole or not at all: a cut one would run into the next. */
    const CM_RC written = be_append_whole(path, entry);
    const int why = errno;
    if (written == CM_RC_OPEN_FAILED) {
        DIAG_ERROR("Open file '%s' failed", path);
        return 1;
    }
    if (written != CM_RC_OK) {
        DIAG_ERROR("Write to file '%s' failed, the entry is lost: %s", path, std::strerror(why));
        return 1;
    }
    return 0;
}

int EW_write_orv_command_to_log(int p_argc, char** p_argv) {
    if (p_argv == nullptr || p_argc < 1 || !logged_command(p_argv[0])) return 0;
    std::string line;
    for (int i = 0; i < p_argc; ++i) {
        const std::string word = std::string(p_argv[i] != nullptr ? p_argv[i] : "") + " ";
        if (line.size() + word.size() > kCommandLineMax) break;
        line += word;
    }
    DATETIME_D_typ date = "", time = "";
    local_date_time(date, time);
    return EW_write_log("%-30.30s %s\n%-30.30s %s %s\n", " ORV Command to Execute", line.c_str(),
                        " ORV Command Execution Time", date, time);
}

int EW_write_orv_exit_msg_to_log(char* action, char* message, CM_RC cm_rc) {
    if (!logged_command(action)) return 0;
    if (cm_rc == CM_RC_OK) return EW_write_log("%-30.30s %s\n", " ORV Command Exit Status", "SUCCESS");
    return EW_write_log("%-30.30s %s\n\n%s:\n\n%.2047s\n", " ORV Command Exit Status", "FAILURE",
                        " ORV Command Exit Message", message != nullptr ? message : "");
}

int OW_run_ag_util_command(char* commandName, ZPAAttrList* inListAttr, char* p_message, ZPAError* Error) {
    static const char* fn = "OW_run_ag_util_command";
    if (commandName == nullptr) return 1;
    char* argv[OW_MAX_ARGV] = {};
    int argc = 0;
    argv[0] = strdup(commandName);
    if (argv[0] == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Error : Allocation memory problem !!!!!");
        return 1;
    }
    argc = 1;
    if (OW_ORDER_makeCommand(argv, &argc, inListAttr, Error) != 0) {
        const std::string why = Error != nullptr ? Error->text : "";
        BE_DUZ_UpdateErrorSet(Error, 1, "ERROR in %s::%s FAILED %s", fn, "OW_ORDER_makeCommand", why.c_str());
        free_argv(argv, argc);
        return 1;
    }
    OW_ORDER_write_order_attr(inListAttr);
    EW_write_orv_command_to_log(argc, argv);
    char message[OW_UTIL_MESSAGE_SIZE] = "";
    const CM_RC rc = AG_UTIL_main(argc, argv, message, sizeof message);
    int result = 0;
    if (rc != CM_RC_OK) {
        OW_MAIN_ErrorSet(Error, 1, "%s function - %s failed with the following error message: %s ", fn, commandName,
                         message);
        result = 1;
    }
    EW_write_orv_exit_msg_to_log(commandName, message, rc);
    if (p_message != nullptr) std::memcpy(p_message, message, sizeof message);
    free_argv(argv, argc);
    return result;
}

int OW_send_alert_shout_to_uvs(char* msg, ZPAError* Error) {
    try {
        const std::string text = ow::shout_text(msg);
        ZPAAttrList attributes{};
        if (be_discovery::append_value(&attributes, nullptr, "dest", "UVS") != ZPA_SUCCESS ||
            be_discovery::append_value(&attributes, nullptr, "message", text.c_str()) != ZPA_SUCCESS) {
            ZPAAPI_UTILS_ErrorSet(Error, 1, ">>> Error:failed in copy of temp. attr. list to Attributes_for_shout");
            release_attrs(attributes);
            return 1;
        }
        char reply[OW_UTIL_MESSAGE_SIZE] = "";
        const int rc = OW_run_ag_util_command(const_cast<char*>("orvshout"), &attributes, reply, Error);
        release_attrs(attributes);
        return rc;
    } catch (...) {
        ZPAAPI_UTILS_ErrorSet(Error, 1, ">>> Error:failed initiating list");
        return 1;
    }
}

CM_EXTERN_C_END

/* ---- the action queue ---- */

namespace {

constexpr char kCounterKey[] = "OW_SUBMIT_ATTEMPTS_COUNTER";
constexpr char kOrderSection[] = "ORVORDER";
constexpr char kConditionSection[] = "ORVCONTB";

/* A queued value stays on its row: line breaks in what the database returned (alert outputs and
 * names) become blanks, so that no value starts a row or a section of the queue file, and the
 * blanks at its ends, which the file would not give back, are dropped. */
std::string one_line(std::string value) { return gm_param::free_text_value(std::move(value)); }

/* A job-variable name stays one key when the file is read back: a line break, blank, tab or '='
 * (each of which ends a key) and a bracket (a pair of which reads as a section) become '_'. */
std::string one_key(std::string name) {
    for (char& c : name)
        if (c == '\n' || c == '\r' || c == ' ' || c == '\t' || c == '=' || c == '[' || c == ']') c = '_';
    return name;
}

/* A row of a queued action; false (with the message in the record) when it cannot be set. */
bool set_row(ZPALIST_handle_typ* rows, const std::string& key, const std::string& value, bool variable,
             ZPAError* Error) {
    if (GM_PARAM_list_set(rows, key.c_str(), one_line(value).c_str()) == CM_RC_OK) return true;
    if (variable)
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to set %s auto-edit to temp_action_att list.", key.c_str());
    else
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to set %s attribute to temp_action_att list.", key.c_str());
    return false;
}

bool set_variables(ZPALIST_handle_typ* rows, const ZPAAttrList* list, ZPAError* Error) {
    for (int i = 0; list != nullptr && i < list->Count; ++i) {
        const char* name = list->Attributes[i].Name != nullptr ? list->Attributes[i].Name : "";
        const char* value = list->Attributes[i].Value != nullptr ? list->Attributes[i].Value : "";
        if (!set_row(rows, one_key(std::string("%%") + name), value, true, Error)) return false;
    }
    return true;
}

/* The rows of one queued action, in the queue file's order. */
bool action_rows(const EW_actions_to_excute_type& a, ZPALIST_handle_typ* rows, ZPAError* Error) {
    if (std::strcmp(a.action_type, "ORD") == 0) {
        if (!set_row(rows, "JOBNAME", a.orv_jobname, false, Error) ||
            !set_row(rows, "SCHEDTAB", a.orv_schedtab, false, Error) ||
            !set_row(rows, "ODATE", a.orv_order_date, false, Error))
            return false;
        if (std::strcmp(a.group_order_id, "NONE") != 0 &&
            !set_row(rows, "INGROUPORDERID", a.group_order_id, false, Error))
            return false;
        if (!set_variables(rows, a.autoedits, Error) || !set_variables(rows, a.alert_outputs, Error)) return false;
    } else {
        if (!set_row(rows, "COND_NAME", a.orv_cond_name, false, Error) ||
            !set_row(rows, "COND_DATE", a.orv_cond_date, false, Error) ||
            !set_row(rows, "COND_ACTION", a.orv_cond_action, false, Error))
            return false;
    }
    return set_row(rows, "%%ALERT-CM_ACCOUNT", a.account_name, true, Error) &&
           set_row(rows, "%%ALERT-NAME", a.alert_name, true, Error) &&
           set_row(rows, "%%ALERT-APPLICATION-NAME", a.application_name, true, Error) &&
           set_row(rows, "%%ALERT-APPLICATION-ID", std::to_string(a.applicattion_id), true, Error) &&
           set_row(rows, "%%ALERT-CHECK-DATE", a.alert_check_time, true, Error) &&
           set_row(rows, kCounterKey, std::to_string(a.submit_attempts_counter), false, Error);
}

/* A row's value, "" when it is missing (logged at level 4). */
std::string row_value(ZPALIST_handle_typ* rows, const char* key) {
    char* value = nullptr;
    if (rows == nullptr || GM_PARAM_list_get_ptr(rows, key, &value) != CM_RC_OK || value == nullptr) {
        BE_TRACE(4, "Failed to get attribute '%s'", key);
        return "";
    }
    return value;
}

/* "%d-%b-%Y %H:%M:%S" of a database time text. */
std::string check_time_text(const std::string& when) {
    if (when.size() != 14) return when;
    time_t t = 0;
    GM_TIME_fmt_to_bin(when.c_str(), &t);
    DATETIME_D_typ date = "", time = "";
    GM_TIME_fmt_to_ascii(GM_TIME_FMT_DD_MMM_YYYY, t, date);
    GM_TIME_fmt_to_ascii(GM_TIME_FMT_HH_MM_SS, t, time);
    return std::string(date) + " " + time;
}

CM_RC save_queue(ZPALIST_handle_typ* list, const char* path) { return GM_PARAM_subtable_list_save(list, path); }

}  // namespace

CM_EXTERN_C_BEGIN

void EW_build_action_to_excute_file_name(char* path) {
    if (path != nullptr) std::snprintf(path, sizeof(PATHNAME_D_typ), "cm/DUZ/data/%s", EW_ACTIONS_FILE_NAME);
}

int EW_clean_actions_to_execute_list(ZPALIST_handle_typ* list) {
    if (list == nullptr) return 1;
    ZPALIST_handle_typ walker = *list;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) {
        auto* action = static_cast<EW_actions_to_excute_type*>(element);
        ow::free_attrs(action->autoedits);
        ow::free_attrs(action->alert_outputs);
    }
    const CM_RC rc = ZPALIST_clear(list);
    return rc == CM_RC_OK || rc == CM_RC_END ? 0 : 1;
}

int EW_clean_event_watcher_loop_lists(ZPALIST_handle_typ* alert_list, ZPALIST_handle_typ* actions_list,
                                      ZPAError* Error) {
    if (alert_list != nullptr) {
        ZPALIST_handle_typ walker = *alert_list;
        ZPALIST_reset(&walker);
        void* element = nullptr;
        unsigned int size = 0;
        while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK)
            EW_Free_Alert(static_cast<EW_alert_type*>(element));
        const CM_RC rc = ZPALIST_clear(alert_list);
        if (rc != CM_RC_OK && rc != CM_RC_END) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to clear new_oebs_alert_list");
            return 1;
        }
    }
    if (actions_list != nullptr && EW_clean_actions_to_execute_list(actions_list) != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to clear actions_to_excute_list");
        return 1;
    }
    return 0;
}

CM_RC EW_append_action_to_excute_lists(ZPALIST_handle_typ* existing_action_list, ZPALIST_handle_typ* new_action_list,
                                       ZPAError* Error) {
    if (existing_action_list == nullptr || new_action_list == nullptr) return CM_RC_FAIL;
    /* Each section moves with its rows: the existing list owns what it took, the new list keeps
     * (and frees) only the sections that could not be moved. */
    CM_RC rc = CM_RC_OK;
    ZPALIST_handle_typ walker = *new_action_list;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) {
        auto* section = static_cast<GM_PARAM_subtable_row*>(element);
        if (rc == CM_RC_OK && ZPALIST_append(existing_action_list, section, sizeof *section) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to append temp_action to existing_action_list.");
            rc = CM_RC_FAIL;
        }
        if (rc != CM_RC_OK) GM_PARAM_list_clear(&section->list);
    }
    ZPALIST_clear(new_action_list);
    return rc;
}

CM_RC EW_save_actions_to_excute_to_file(ZPALIST_handle_typ* actions_to_excute_list, ZPAError* Error) {
    if (actions_to_excute_list == nullptr) return CM_RC_FAIL;
    PATHNAME_D_typ path = "";
    EW_build_action_to_excute_file_name(path);
    try {
        ZPALIST_handle_typ fresh{};
        ZPALIST_init(&fresh);
        ZPALIST_handle_typ walker = *actions_to_excute_list;
        ZPALIST_reset(&walker);
        void* element = nullptr;
        unsigned int size = 0;
        while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) {
            const auto* action = static_cast<EW_actions_to_excute_type*>(element);
            GM_PARAM_subtable_row section{};
            std::snprintf(section.key, sizeof section.key, "%s",
                          std::strcmp(action->action_type, "ORD") == 0 ? kOrderSection : kConditionSection);
            ZPALIST_init(&section.list);
            if (!action_rows(*action, &section.list, Error)) {
                GM_PARAM_list_clear(&section.list);
                GM_PARAM_subtable_list_clear(&fresh);
                return CM_RC_FAIL;
            }
            if (ZPALIST_append(&fresh, &section, sizeof section) != CM_RC_OK) {
                GM_PARAM_list_clear(&section.list);
                GM_PARAM_subtable_list_clear(&fresh);
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to append temp_action_att to actions_to_excute_attr_list.");
                return CM_RC_FAIL;
            }
        }
        /* The whole load-append-save cycle holds the queue file's lock; the save replaces the file
         * whole (a temporary file renamed over it), so a kill leaves the old or the new queue. */
        os_shared::FileLock lock(path);
        ZPALIST_handle_typ existing{};
        ZPALIST_init(&existing);
        if (!lock || !lock.exists() || GM_PARAM_subtable_load_file(&existing, path) != CM_RC_OK) {
            GM_PARAM_subtable_list_clear(&fresh);
            GM_PARAM_subtable_list_clear(&existing);
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load actions to execute from %s file.", path);
            return CM_RC_FAIL;
        }
        if (EW_append_action_to_excute_lists(&existing, &fresh, Error) != CM_RC_OK) {
            GM_PARAM_subtable_list_clear(&existing);
            BE_DUZ_UpdateErrorSet(Error, 1,
                                  "Failed to append new_actions_to_excute_list with existing_actions_to_excute_list.");
            return CM_RC_FAIL;
        }
        const CM_RC saved = save_queue(&existing, path);
        GM_PARAM_subtable_list_clear(&existing);
        if (saved != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to save actions_to_excute_attr_list to %s file.", path);
            return CM_RC_FAIL;
        }
        return CM_RC_OK;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "EW_save_actions_to_excute_to_file");
        return CM_RC_FAIL;
    }
}

CM_RC EW_load_actions_to_excute_from_file(ZPALIST_handle_typ* actions_to_excute_list, ZPAError* Error) {
    if (actions_to_excute_list == nullptr) return CM_RC_FAIL;
    PATHNAME_D_typ path = "";
    EW_build_action_to_excute_file_name(path);
    const CM_RC rc = GM_PARAM_subtable_load_file(actions_to_excute_list, path);
    if (rc != CM_RC_OK) BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load actions to execute from %s file.", path);
    return rc;
}

int EW_write_alert_details_to_log(ZPALIST_handle_typ* rows, const char* section_name) {
    const std::string line = "\n" + std::string(87, '-') + "\n";
    return EW_write_log(
        "%s\n%s\n%-30.30s %s\n%-30.30s %s\n%-30.30s %s\n%-30.30s %s\n%s\n%-30.30s %s\n%-30.30s %s\n", line.c_str(),
        " Alert Details:\n", " CM Account Name", row_value(rows, "%%ALERT-CM_ACCOUNT").c_str(), " Alert Name",
        row_value(rows, "%%ALERT-NAME").c_str(), " Alert Check Time",
        check_time_text(row_value(rows, "%%ALERT-CHECK-DATE")).c_str(), " Alert Application Name",
        row_value(rows, "%%ALERT-APPLICATION-NAME").c_str(), "\n ORVANTA Action Details:\n", " ORV Action",
        section_name != nullptr ? section_name : "", " Execution Retry", row_value(rows, kCounterKey).c_str());
}

CM_RC EW_execute_orvorder(GM_PARAM_subtable_row* action, ZPAError* Error) {
    if (action == nullptr) return CM_RC_FAIL;
    ZPAAttrList attributes{};
    if (ZPAAPI_UTILS_list2attr(&action->list, &attributes) != ZPA_SUCCESS) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to copy orvorder_action_list to attributes_for_order.");
        release_attrs(attributes);
        return CM_RC_FAIL;
    }
    if (be_discovery::append_value(&attributes, nullptr, "FORCE", "Y") != ZPA_SUCCESS) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to append OW_FORCE_JOB to attributes_for_order");
        release_attrs(attributes);
        return CM_RC_FAIL;
    }
    char reply[OW_UTIL_MESSAGE_SIZE] = "";
    const int rc = OW_run_ag_util_command(const_cast<char*>("orvorder"), &attributes, reply, Error);
    release_attrs(attributes);
    return rc == 0 ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC EW_execute_orvcontb(GM_PARAM_subtable_row* action, ZPAError* Error) {
    if (action == nullptr) return CM_RC_FAIL;
    char cond_action[13] = "", cond_name[256] = "", cond_date[5] = "";
    const struct {
        const char* key;
        char* value;
        int size;
    } fields[] = {{"COND_ACTION", cond_action, sizeof cond_action},
                  {"COND_NAME", cond_name, sizeof cond_name},
                  {"COND_DATE", cond_date, sizeof cond_date}};
    for (const auto& f : fields) {
        if (GM_PARAM_list_get(&action->list, f.key, f.value, f.size) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to get %s parameter.", f.key);
            return CM_RC_FAIL;
        }
    }
    ZPAAttrList attributes{};
    if (be_discovery::append_value(&attributes, nullptr, cond_action, cond_name) != ZPA_SUCCESS ||
        be_discovery::append_value(&attributes, nullptr, kNoneKey, cond_date) != ZPA_SUCCESS) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed in copy of temp. attr. list to Attributes_for_condition");
        release_attrs(attributes);
        return CM_RC_FAIL;
    }
    char reply[OW_UTIL_MESSAGE_SIZE] = "";
    const int rc = OW_run_ag_util_command(const_cast<char*>("orvcontb"), &attributes, reply, Error);
    release_attrs(attributes);
    return rc == 0 ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC EW_raise_action_submit_attempts_counter(ZPALIST_handle_typ* failed_action_list,
                                              GM_PARAM_subtable_row* action_failed, int action_max_retry,
                                              ZPAError* Error) {
    static const char* fn = "EW_raise_action_submit_attempts_counter";
    if (failed_action_list == nullptr || action_failed == nullptr) return CM_RC_FAIL;
    char text[5] = "";
    int counter = 0;
    if (GM_PARAM_list_get(&action_failed->list, kCounterKey, text, sizeof text) != CM_RC_OK) {
        /* Counted as 0: the action keeps its place in the queue. */
        OW_MAIN_ErrorSet(Error, 1, "%s function - Failed to get %s attribute from action_failed list.", fn,
                         kCounterKey);
    } else {
        counter = std::atoi(text);
    }
    if (counter >= action_max_retry) {
        EW_write_log(" %s", "Note! Max retries reached, ORVANTA command will not be executed again.\n");
        OW_send_alert_shout_to_uvs(const_cast<char*>("ORVANTA OEBS Watcher: Event Watcher was unable to submit an "
                                                     "action, check the logs for more details."),
                                   Error);
        return CM_RC_OK;
    }
    if (GM_PARAM_list_set(&action_failed->list, kCounterKey, std::to_string(counter + 1).c_str()) != CM_RC_OK) {
        OW_MAIN_ErrorSet(Error, 1, "%s function - Failed to set %s attribute to action_failed list.", fn, kCounterKey);
        return CM_RC_FAIL;
    }
    if (ZPALIST_append(failed_action_list, action_failed, sizeof *action_failed) != CM_RC_OK) {
        OW_MAIN_ErrorSet(Error, 1, "%s function - Failed to append action_failed to failed_action_list.", fn);
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC EW_execute_actions(ZPALIST_handle_typ* actions_to_excute_list, EW_cfg_file_params_type* ew_config_params,
                         ZPAError* Error) {
    static const char* fn = "EW_execute_actions";
    if (actions_to_excute_list == nullptr || ew_config_params == nullptr) return CM_RC_FAIL;
    PATHNAME_D_typ path = "";
    EW_build_action_to_excute_file_name(path);
    /* The queue list owns every action's rows. The retry list holds copies of the sections of
     * failed actions that stay queued (sharing their rows) and is cleared without freeing them. */
    ZPALIST_handle_typ retry{};
    ZPALIST_init(&retry);
    ZPALIST_handle_typ* queue = actions_to_excute_list;
    ZPALIST_reset(queue);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(queue, &element, &size) == CM_RC_OK) {
        auto* action = static_cast<GM_PARAM_subtable_row*>(element);
        EW_write_alert_details_to_log(&action->list, action->key);
        const bool order = std::strcmp(action->key, kOrderSection) == 0;
        const CM_RC ran = order ? EW_execute_orvorder(action, Error) : EW_execute_orvcontb(action, Error);
        if (ran == CM_RC_OK) {
            GM_PARAM_list_clear(&action->list);
            if (ZPALIST_delete(queue) != CM_RC_OK) {
                OW_MAIN_ErrorSet(Error, 1, "%s function - Failed to remove action from actions_to_excute_list.", fn);
                ZPALIST_clear(&retry);
                return CM_RC_FAIL;
            }
            if (save_queue(queue, path) != CM_RC_OK) {
                OW_MAIN_ErrorSet(Error, 1, "%s function - Failed to save actions_to_excute_list to %s file.", fn, path);
                ZPALIST_clear(&retry);
                return CM_RC_FAIL;
            }
            continue;
        }
        BE_TRACE(2, "%s", order ? "Failed to submit ORVORDER action" : "Failed to submit ORVCONTB action");
        const int kept = ZPALIST_count(&retry);
        if (EW_raise_action_submit_attempts_counter(&retry, action, ew_config_params->action_max_retry, Error) !=
            CM_RC_OK) {
            OW_MAIN_ErrorSet(Error, 1, "%s function - EW_raise_action_submit_attempts_counter failed.", fn);
            /* The action stays queued as it was read rather than being lost. */
            if (ZPALIST_count(&retry) == kept && ZPALIST_append(&retry, action, sizeof *action) != CM_RC_OK) {
                ZPALIST_clear(&retry);
                return CM_RC_FAIL;
            }
            continue;
        }
        if (ZPALIST_count(&retry) == kept) {
            /* Its attempts are used up: it leaves the queue. */
            GM_PARAM_list_clear(&action->list);
            ZPALIST_delete(queue);
        }
    }
    const CM_RC saved = save_queue(&retry, path);
    ZPALIST_clear(&retry);
    if (saved != CM_RC_OK) {
        OW_MAIN_ErrorSet(Error, 1, "%s function - Failed to save failed_action_list to %s file.", fn, path);
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_EXTERN_C_END
