/* Availability status of application accounts: writes and removes the per-account status files
 * under ./data/av_status, lists the unavailable types and accounts back, and reads the intervals
 * at which the agent checks accounts. */
#include "gm_avstat.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gm_param.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_file_nofollow.h"

namespace {

constexpr char kStatusDir[] = "./data/av_status";
constexpr char kExtension[] = "unav";
constexpr mode_t kStatusFileMode = 0644;  // as a writing stream makes it under the usual umask
constexpr char kCodeKey[] = "AV_ERRCDE";
constexpr char kMessageKey[] = "AV_ERRMSG";
constexpr std::size_t kTypeListRoom = 2048;

struct Interval {
    const char* key;
    int fallback;
    int low;
    int high;
};
constexpr Interval kAvailableInterval{"CMACC_AV_INTERVAL", 3600, 600, 36000};
constexpr Interval kUnavailableInterval{"CMACC_UNAV_INTERVAL", 90, 10, 900};

template <std::size_t N>
std::string field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

// Names of the entries of the status directory; false when it cannot be opened.
bool list_status_dir(std::vector<std::string>& names) {
    OS_FILE_LIST_typ dir = nullptr;
    if (OS_FILE_dir_open(&dir, kStatusDir) != CM_RC_OK) return false;
    char name[512];
    while (OS_FILE_dir_next(&dir, name) == CM_RC_OK) names.emplace_back(name);
    OS_FILE_dir_close(&dir);
    return true;
}

// A status file (or its temporary twin) made anew, so that a link planted at its foreseeable name
// is removed, never written through.
bool write_status_file(const std::string& path, const CM_ACCOUNT_INFO_typ& info) {
    const int fd = os_file::create_fresh(path.c_str(), kStatusFileMode);
    if (fd < 0) return false;
    FILE* file = fdopen(fd, "w");
    if (!file) {
        close(fd);
        return false;
    }
    const std::string code = field(info.errorCode), message = field(info.errorMsg);
    bool ok = true;
    if (!code.empty()) ok = gm_avstat_writeNamedValue(file, kCodeKey, code.c_str()) == CM_RC_OK && ok;
    if (!message.empty()) ok = gm_avstat_writeNamedValue(file, kMessageKey, message.c_str()) == CM_RC_OK && ok;
    if (OS_FILE_fclose(file) != CM_RC_OK) ok = false;
    return ok;
}

int interval(const Interval& which, const char* out_of_range_text) {
    GM_PARAM_VALUE_typ value = {};
    if (GM_PARAM_get("CONFIG", which.key, value) != CM_RC_OK || !*value) return which.fallback;
    const int seconds = std::atoi(value);
    if (seconds < which.low || seconds > which.high) {
        DIAG_TRACE(3, out_of_range_text, "GM_AVSTAT_getAvailabilityIntervals", seconds);
        return which.fallback;
    }
    return seconds;
}

}  // namespace

extern "C" {

CM_RC gm_avstat_writeNamedValue(FILE* file, const char* name, const char* value) {
    if (!file || !name || !value) return CM_RC_FAIL;
    // A line break inside the value would start a row of its own when the file is read back.
    std::string one_line = value;
    for (char& c : one_line)
        if (c == '\n' || c == '\r') c = ' ';
    if (std::fprintf(file, "%s %s\n", name, one_line.c_str()) < 0) {
        DIAG_TRACE(1, "%s error writing to the stutus file", "gm_avstat_writeNamedValue");
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC GM_AVSTAT_set_account_status(CM_ACCOUNT_INFO_typ* info, CM_ACCOUNT_STATUS_typ status) {
    static const char fn[] = "GM_AVSTAT_set_account_status";
    if (!info) return CM_RC_FAIL;
    const std::string type = field(info->applType), account = field(info->account);
    if (type.empty() || account.empty() || type.find('/') != std::string::npos ||
        account.find('/') != std::string::npos) {
        DIAG_ERROR("%s: invalid application type '%s' or account '%s'", fn, type.c_str(), account.c_str());
        return CM_RC_FAIL;
    }

    // Stored form of the error code: the type and the absolute code in at least four digits.
    long long code = std::strtoll(field(info->errorCode).c_str(), nullptr, 10);
    const unsigned long long magnitude = code < 0 ? 0ULL - static_cast<unsigned long long>(code) : code;
    std::snprintf(info->errorCode, sizeof info->errorCode, "%s%04llu", type.c_str(), magnitude);

    std::vector<std::string> names;
    if (!list_status_dir(names)) {
        DIAG_ERROR("%s: failed in OS_FILE_dir_open of directory : %s", fn, kStatusDir);
        return CM_RC_FAIL;
    }
    const std::string file_name = type + "_" + account + "." + kExtension;
    const std::string path = std::string(kStatusDir) + "/" + file_name;
    bool exists = false;
    for (const auto& n : names) exists = exists || n == file_name;

    switch (status) {
    case GM_ACCOUNT_UNAVAILABLE: {
        DIAG_TRACE(4, "%s: set account %s for application %s to unavailable.", fn, account.c_str(), type.c_str());
        if (!exists) {
            if (!write_status_file(path, *info)) {
                DIAG_ERROR("%s: failed to create availability status file : %s", fn, path.c_str());
                OS_FILE_delete(path.c_str());
                return CM_RC_FAIL;
            }
            return CM_RC_OK;
        }
        // Replace through a temporary file; rename swaps it in whole, so a reader always sees
        // the old or the new content and the account never looks available in between.
        const std::string temp = std::string(kStatusDir) + "/" + "temp_" + type + "_" + account + "." + kExtension;
        if (!write_status_file(temp, *info)) {
            DIAG_ERROR("%s: failed to create availability temporary status file : %s", fn, temp.c_str());
            OS_FILE_delete(temp.c_str());
            return CM_RC_FAIL;
        }
        if (OS_FILE_rename(temp.c_str(), path.c_str()) != CM_RC_OK) {
            DIAG_ERROR("%s: failed to rename availability status file : %s", fn, path.c_str());
            OS_FILE_delete(temp.c_str());
            return CM_RC_FAIL;
        }
        return CM_RC_OK;
    }
    case GM_ACCOUNT_AVAILABLE:
    case GM_ACCOUNT_DISABLED: {
        DIAG_TRACE(4, "%s: set account %s for application %s to %s ", fn, account.c_str(), type.c_str(),
                   status == GM_ACCOUNT_AVAILABLE ? "available" : "disabled");
        if (!exists) return CM_RC_OK;
        const CM_RC rc = OS_FILE_delete(path.c_str());
        if (rc != CM_RC_OK) DIAG_ERROR("%s: failed to delete status file : %s", fn, path.c_str());
        return rc;
    }
    case GM_ACCOUNT_NOT_FOUND: {
        DIAG_TRACE(4, "%s: set account %s for application %s to not found", fn, account.c_str(), type.c_str());
        if (!exists) return CM_RC_OK;
        const CM_RC rc = OS_FILE_delete(path.c_str());
        if (rc != CM_RC_OK) DIAG_ERROR("%s: failed to delete status file '%s'", fn, path.c_str());
        return rc;
    }
    default: DIAG_ERROR("%s: Wrong account status - %d", fn, static_cast<int>(status)); return CM_RC_FAIL;
    }
}

CM_RC GM_AVSTAT_get_unavailable_cmlist(ZPALIST_handle_typ* list) {
    static const char fn[] = "GM_AVSTAT_get_unavailable_cmlist";
    if (!list) return CM_RC_FAIL;
    std::vector<std::string> names;
    if (!list_status_dir(names)) {
        DIAG_ERROR("%s: failed in OS_FILE_dir_open of directory : %s", fn, kStatusDir);
        return CM_RC_FAIL;
    }
    // Each type once: compared as whole entries, so OEBS is still listed after OEBSX.
    std::vector<std::string> types;
    std::string text;
    for (const auto& name : names) {
        const std::string type = name.substr(0, name.find('_'));
        bool seen = false;
        for (const auto& t : types) seen = seen || t == type;
        if (seen || text.size() + type.size() + 1 >= kTypeListRoom) continue;
        types.push_back(type);
        text += type + "|";
    }
    if (GM_PARAM_load_valuelist(list, text.c_str(), "|") != CM_RC_OK) {
        DIAG_ERROR("Fail to load unavailable CM's list.");
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC GM_AVSTAT_get_unavailable_account(const char* appl_type, ZPALIST_handle_typ* list, CM_INFO_typ info) {
    static const char fn[] = "GM_AVSTAT_get_unavailable_account";
    if (!appl_type || !list) return CM_RC_FAIL;
    ZPALIST_init(list);
    std::vector<std::string> names;
    if (!list_status_dir(names)) {
        DIAG_ERROR("%s: failed in OS_FILE_dir_open of directory : %s", fn, kStatusDir);
        return CM_RC_FAIL;
    }
    const bool every_type = std::strcmp(appl_type, "All") == 0;
    CM_RC rc = CM_RC_OK;
    for (const auto& name : names) {
        CM_ACCOUNT_INFO_typ record{};
        char extension[8] = {};
        if (std::sscanf(name.c_str(), "%29[^_]_%127[^.].%7s", record.applType, record.account, extension) != 3)
            continue;
        if (std::strcmp(extension, kExtension) != 0) continue;
        if (!every_type && std::strcmp(record.applType, appl_type) != 0) continue;

        if (info == GM_INFO_FULL) {
            const std::string path = std::string(kStatusDir) + "/" + name;
            ZPALIST_handle_typ rows{};
            rc = GM_PARAM_load_file(&rows, path.c_str());
            if (rc != CM_RC_OK) {
                DIAG_ERROR("%s: failed to read status file : %s", fn, path.c_str());
            } else {
                GM_PARAM_list_get(&rows, kCodeKey, record.errorCode, sizeof record.errorCode);
                rc = GM_PARAM_list_get(&rows, kMessageKey, record.errorMsg, sizeof record.errorMsg);
            }
            GM_PARAM_list_clear(&rows);
        }
        ZPALIST_insert(list, &record, sizeof record);
    }
    return rc;
}

CM_RC GM_AVSTAT_getAvailabilityIntervals(int* available_interval, int* unavailable_interval) {
    static const char fn[] = "GM_AVSTAT_getAvailabilityIntervals";
    const int available =
        interval(kAvailableInterval, "%s Availability interval is out of range '%d' seconds. Set to default.");
    const int unavailable =
        interval(kUnavailableInterval, "%s Unvailability interval is out of range '%d' seconds.Set to default.");
    if (available_interval) *available_interval = available;
    if (unavailable_interval) *unavailable_interval = unavailable;
    DIAG_TRACE(4, "%s: available interval %d seconds", fn, available);
    DIAG_TRACE(4, "%s: unavailable interval %d seconds", fn, unavailable);
    return CM_RC_OK;
}

}  // extern "C"
