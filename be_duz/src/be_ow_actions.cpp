/* The alert watcher's actions: utility runs through the agent-utility client (job order
 * "orvorder", condition change "orvcontb", shout "orvshout") with their argument vectors made from
 * attribute lists, the shout to the scheduling server, and the daily action log
 * proclog/oebs_watcher_actions_<YYYYMMDD>.log. */
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ag_util.h"
#include "be_discovery_internal.h"
#include "be_ow.h"
#include "be_ow_internal.h"
#include "os_diag.h"
#include "os_file.h"

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
    FILE* stream = nullptr;
    if (OS_FILE_fopen(path, &stream, OS_FILE_APPEND) != CM_RC_OK || stream == nullptr) {
        DIAG_ERROR("Open file '%s' failed", path);
        return 1;
    }
    std::fputs(entry, stream);
    OS_FILE_fclose(stream);
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
