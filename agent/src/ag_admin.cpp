/* Admin requests: one back end's parameter table ./data/<back-end>.dat shown, updated, reset, pruned,
 * removed or dated as the admin record asks, under the file's shared-file lock for the whole
 * load-change-save cycle, and the reply written framed on the request's session. */
#include "ag_admin.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ag_dsect.h"
#include "ag_dsect_internal.h"
#include "dsect_appl.h"
#include "gm_param.h"
#include "gm_str.h"
#include "gm_wild.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_lib.h"
#include "os_shared_file_internal.h"

namespace {

constexpr char kBuiltInVersion[] = "AGENT dll 8.0.00 - folders 2451, 2452 - Wed Sep 12 14:50:52 2012";
constexpr char kReservedPrefix[] = "DSECT_";
constexpr char kNullValue[] = "DSECT_NULL";
constexpr std::size_t kKeyMax = 2048;

bool reserved(const char* key) { return std::strncmp(key, kReservedPrefix, sizeof kReservedPrefix - 1) == 0; }

std::string upper(const char* text) {
    std::string out = std::string(text).substr(0, kKeyMax);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

/* The rows of a key/value list whose key is kept, in order; the list's own cursor is left alone. */
std::vector<std::pair<std::string, std::string>> rows_where(ZPALIST_handle_typ* list,
                                                            const std::function<bool(const char* key)>& keep) {
    std::vector<std::pair<std::string, std::string>> rows;
    ag_dsect::each_row(list, [&](const char* key, const char* value) {
        if (keep(key)) rows.emplace_back(key, value);
        return true;
    });
    return rows;
}

/* The request's rows that name table keys (those not beginning "DSECT_"), in order. */
std::vector<std::pair<std::string, std::string>> request_rows(ZPALIST_handle_typ* list) {
    return rows_where(list, [](const char* key) { return !reserved(key); });
}

/* Takes a mandatory row out of the request list; false when it is absent. */
bool take(ZPALIST_handle_typ* list, const char* key, std::string& value) {
    GM_PARAM_ROW_VALUE_typ text = {};
    if (GM_PARAM_list_get(list, key, text, sizeof text) != CM_RC_OK) return false;
    value = text;
    GM_PARAM_list_delete(list, key);
    return true;
}

/* The rows of the file list whose key matches the pattern, in file order. */
std::vector<std::pair<std::string, std::string>> matching(ZPALIST_handle_typ* file_list, const std::string& pattern) {
    return rows_where(file_list, [&](const char* key) { return GM_WILD_match(key, pattern.c_str()) == CM_RC_OK; });
}

CM_RC append_response(DSECT_LIST_handle_typ* response, ZPAError* Error, int count) {
    DSECT_ONE_handle_typ record;
    CM_RC rc = DSECT_APPL_create_general_response(response->header.version, &record, static_cast<int>(Error->code),
                                                  Error->text, count);
    if (rc == CM_RC_OK) rc = DSECT_LIST_append(response, &record);
    DSECT_ONE_delete(&record);
    if (rc != CM_RC_OK) ZPAAPI_UTILS_ErrorSet(Error, 1, "Failed to Create Response Dsect");
    return rc;
}

CM_RC append_param(DSECT_LIST_handle_typ* response, const std::string& name, const std::string& value,
                   zpalist::Builder* records = nullptr) {
    return ag_dsect::append_general_param(response->header.version, response, records, nullptr, name.c_str(),
                                          value.c_str(), "AG_admin_action");
}

}  // namespace

extern "C" {

CM_RC AG_admin_action(OS_COMM_sess_typ*, const char* file_path, DSECT_LIST_handle_typ* response_dsect_list,
                      ZPALIST_handle_typ* param_list, ZPAError* Error) {
    static const char* op = "AG_admin_action";
    if (!file_path || !response_dsect_list || !param_list || !Error) return CM_RC_FAIL;
    std::string action;
    bool failed = false;
    bool changed = false;
    int count = 0;
    char modified[32] = {};
    ZPALIST_handle_typ file_list{};
    /* The whole load-change-save cycle runs under the file's lock. */
    os_shared::FileLock lock(file_path);
    if (!take(param_list, "DSECT_OBJECT_ACTION", action)) {
        ZPAAPI_UTILS_ErrorSet(Error, 1, "%s is not specified", "DSECT_OBJECT_ACTION");
        failed = true;
    } else if (!lock || GM_PARAM_load_file(&file_list, file_path) != CM_RC_OK) {
        ZPAAPI_UTILS_ErrorSet(Error, 1, "Failed to load file '%s'", file_path);
        ZPALIST_init(&file_list);
        failed = action != "UPDATE" || !lock;
        if (!failed) ZPAAPI_UTILS_ErrorSet(Error, 0, "%s", "");
    }
    const auto rows = request_rows(param_list);
    if (!failed && (action == "RESET" || action == "UPDATE")) {
        if (action == "RESET") {
            GM_PARAM_list_clear(&file_list);
            ZPAAPI_UTILS_ErrorSet(Error, 0, "File '%s' reset", file_path);
            changed = true;
        }
        ZPAAPI_UTILS_ErrorSet(Error, 1, "No Attribute %s provided", "PARAMETER");
        for (const auto& [key, value] : rows) {
            if (value == kNullValue) {
                ZPAAPI_UTILS_ErrorSet(Error, 1, "Attribute -%s is not provided", "VALUE");
                failed = true;
                break;
            }
            if (GM_PARAM_list_set(&file_list, upper(key.c_str()).c_str(), value.c_str()) != CM_RC_OK) {
                ZPAAPI_UTILS_ErrorSet(Error, 1, "Failed to set '%s'", key.c_str());
                continue;
            }
            changed = true;
        }
    } else if (!failed && action == "DELETE") {
        ZPAAPI_UTILS_ErrorSet(Error, 1, "No Attribute %s provided", "PARAMETER");
        for (const auto& row : rows) {
            for (const auto& [key, value] : matching(&file_list, upper(row.first.c_str()))) {
                if (GM_PARAM_list_delete(&file_list, key.c_str()) != CM_RC_OK) {
                    ZPAAPI_UTILS_ErrorSet(Error, 1, "Failed to delete '%s'", key.c_str());
                    continue;
                }
                changed = true;
            }
        }
    } else if (!failed && action == "REMOVE") {
        if (lock.remove() == CM_RC_OK)
            ZPAAPI_UTILS_ErrorSet(Error, 0, "File '%s' removed", file_path);
        else
            ZPAAPI_UTILS_ErrorSet(Error, 1, "Failed to remove file '%s'", file_path);
    } else if (!failed && action == "TIMESTAMP") {
        long size = 0, lines = 0;
        char created[32] = {};
        count = 1;
        if (OS_FILE_stat(file_path, &size, &lines, created, modified) != CM_RC_OK)
            ZPAAPI_UTILS_ErrorSet(Error, 1, "Failed to retrieve file '%s' statistics", file_path);
    } else if (!failed && action == "DISPLAY") {
        const std::string pattern = rows.empty() ? "*" : upper(rows.front().first.c_str());
        count = static_cast<int>(matching(&file_list, pattern).size());
        DIAG_TRACE(4, "PARAM Count:%d", count);
    } else if (!failed) {
        ZPAAPI_UTILS_ErrorSet(Error, 1, "Invalid %s specified: %s", "ACTION", action.c_str());
        failed = true;
    }
    if (changed && !failed) {
        if (GM_PARAM_list_save(&file_list, file_path) == CM_RC_OK)
            ZPAAPI_UTILS_ErrorSet(Error, 0, "File '%s' Saved", file_path);
        else
            ZPAAPI_UTILS_ErrorSet(Error, 1, "Failed to save file '%s'", file_path);
    }
    CM_RC rc = append_response(response_dsect_list, Error, count);
    if (rc == CM_RC_OK && Error->code == 0) {
        if (action == "TIMESTAMP") {
            rc = append_param(response_dsect_list, "TIMESTAMP", modified);
        } else if (action == "DISPLAY") {
            const std::string pattern = rows.empty() ? "*" : upper(rows.front().first.c_str());
            zpalist::Builder records(&response_dsect_list->handle);  // one record a row of the table
            for (const auto& [key, value] : matching(&file_list, pattern))
                if (rc == CM_RC_OK) rc = append_param(response_dsect_list, key, value, &records);
        }
    }
    GM_PARAM_list_clear(&file_list);
    DIAG_TRACE(4, "%s: action '%s' on '%s', code %u", op, action.c_str(), file_path, Error->code);
    return failed || rc != CM_RC_OK || Error->code != 0 ? CM_RC_FAIL : CM_RC_OK;
}

CM_RC AG_ADMIN_handle_request(DSECT_HEADER_typ* dsect_header, DSECT_ONE_handle_typ* dsect_stc,
                              OS_COMM_sess_typ* sess_id, ZPAError* Error) {
    if (!dsect_header || !dsect_stc || !Error) return CM_RC_FAIL;
    ZPAAPI_UTILS_ErrorSet(Error, 0, "%s", "");
    DSECT_LIST_handle_typ response;
    const CM_RC started = DSECT_LIST_create(&response, 1, dsect_header->version, dsect_header->appid, dsect_header->sid,
                                            "D", "L", "", 1, "", "", "", "", "");
    if (started != CM_RC_OK) {
        ZPAAPI_UTILS_ErrorSet(Error, static_cast<ZPAErrorCode>(started), "Can not initialize the response");
        return started;
    }
    ZPALIST_handle_typ request{};
    std::string name, mode;
    bool answered = false;
    if (AG_DSECT_dsect2list(dsect_stc, &request) != CM_RC_OK) {
        ZPAAPI_UTILS_ErrorSet(Error, 1, "Failed to conver DSECT to Attribute List");
    } else if (!take(&request, "DSECT_BE_NAME", name)) {
        ZPAAPI_UTILS_ErrorSet(Error, 1, "Attribute %s is mandatory", "DSECT_BE_NAME");
    } else if (name.empty() || name.find('/') != std::string::npos) {
        /* The name becomes ./data/<name>.dat: one that leaves ./data touches no file. */
        ZPAAPI_UTILS_ErrorSet(Error, 1, "Invalid Attribute '%s' value: '%s'", "DSECT_BE_NAME", name.c_str());
    } else if (!take(&request, "DSECT_OBJECT_MODE", mode)) {
        ZPAAPI_UTILS_ErrorSet(Error, 1, "Attribute %s is mandatory", "DSECT_OBJECT_MODE");
    } else if (mode != "ACTION") {
        ZPAAPI_UTILS_ErrorSet(Error, 1, "Invalid Attribute '%s' value: '%s'", "DSECT_OBJECT_MODE", mode.c_str());
    } else {
        const std::string path = "./data/" + name + ".dat";
        AG_admin_action(sess_id, path.c_str(), &response, &request, Error);
        answered = true;
    }
    GM_PARAM_list_clear(&request);
    CM_RC rc = answered ? CM_RC_OK : append_response(&response, Error, 0);
    if (rc == CM_RC_OK) {
        DSECT_MSG_typ msg{};
        rc = DSECT_LIST_mk_msg(&response, &msg);
        if (rc == CM_RC_OK) {
            rc = AG_DSECT_comm_message_write(sess_id, &msg);
            DSECT_LIST_delete_message(&msg);
        }
    }
    DSECT_LIST_delete(&response);
    return rc == CM_RC_OK && Error->code == 0 ? CM_RC_OK : CM_RC_FAIL;
}

void AG_version(char* ver, int size) {
    if (!ver || size < 1) return;
    const char* recorded = OS_LIB_get_dll_version("AG");
    std::snprintf(ver, static_cast<std::size_t>(size), "%s", recorded ? recorded : kBuiltInVersion);
}

}  // extern "C"
