/* Further sources of key/value rows: value lists (one text holding several entries), the process
 * environment, and the command line with its input file, environment and debug level. */
#include "gm_param.h"
#include "gm_param_internal.h"
#include "os_diag.h"
#include "os_logical_internal.h"

#include <cstring>
#include <string>

extern char** environ;

using namespace gm_param;

namespace {

CM_RC load_valuelist(ZPALIST_handle_typ* list, const char* value, const char* separator, bool option1,
                     int force_upper_case) {
    DIAG_TRACE(4, "GM_PARAM_load_valuelist");
    if (!list) return CM_RC_FAIL;
    if (!value) {
        DIAG_TRACE(5, "Value is NULL.");
        return CM_RC_FAIL;
    }
    if (!separator || !*separator) {
        DIAG_TRACE(5, "Separator is empty.");
        return CM_RC_FAIL;
    }
    if (DIAG_debug_level() >= 5 || DIAG_buffered_level() >= 5)
        DIAG_TRACE(5, "Value:'%s', sep='%s'", loggable_value_list(value, separator).c_str(), separator);
    ZPALIST_init(list);
    zpalist::Builder rows(list);
    const std::string text(value, strnlen(value, kValueListMax));
    std::size_t pos = 0;
    while (pos < text.size()) {
        pos = text.find_first_not_of(separator, pos);
        if (pos == std::string::npos) break;
        std::size_t end = text.find_first_of(separator, pos);
        if (end == std::string::npos) end = text.size();
        const std::string entry = text.substr(pos, end - pos);
        DIAG_TRACE(5, "Value: '%s'", loggable_line(entry).c_str());
        // An entry that does not parse (a key too long) is skipped.
        parse_line(rows, entry.c_str(), option1, option1 ? force_upper_case : 1);
        pos = end;
    }
    return CM_RC_OK;
}

// Merges the rows of a second list into the list without overriding keys it has, then frees them.
void merge_and_free(ZPALIST_handle_typ* list, ZPALIST_handle_typ* more) {
    GM_PARAM_list_merge(list, more, 0);
    ZPALIST_clear(more);
}

CM_RC load_args(ZPALIST_handle_typ* list, int argc, char** argv) {
    DIAG_TRACE(4, "GM_PARAM_load_argv");
    ZPALIST_init(list);
    zpalist::Builder rows(list);
    for (int i = 1; argv && i < argc && argv[i] && argv[i][0] == '-'; i += 2) {
        if (i + 1 >= argc || !argv[i + 1]) break;  // a key without a value is dropped
        std::string key = cut_name(argv[i] + 1);
        to_upper(key);
        std::vector<char> row = make_row(key, argv[i + 1]);
        const CM_RC rc = rows.append(row.data(), static_cast<unsigned int>(row.size()));
        if (rc != CM_RC_OK) {
            ZPALIST_clear(list);
            return rc;
        }
    }
    char value[kValueBuffer] = "";
    if (GM_PARAM_list_get(list, "INPUT_FILE", value, kValueBuffer) == CM_RC_OK) {
        GM_PARAM_list_delete(list, "INPUT_FILE");
        ZPALIST_handle_typ file_rows{};
        const CM_RC rc = GM_PARAM_load_file(&file_rows, value);
        if (rc != CM_RC_OK) {
            ZPALIST_clear(&file_rows);
            ZPALIST_clear(list);
            return rc;
        }
        merge_and_free(list, &file_rows);
    }
    value[0] = '\0';
    std::string input_env;
    if (GM_PARAM_list_get(list, "INPUT_ENV", value, kValueBuffer) == CM_RC_OK)
        input_env = value;
    else
        input_env = config_value("INPUT_ENV");
    if (input_env == "Y") {
        GM_PARAM_list_delete(list, "INPUT_ENV");
        ZPALIST_handle_typ env_rows{};
        GM_PARAM_load_env(&env_rows);
        merge_and_free(list, &env_rows);
    }
    apply_debug_level(list);
    return CM_RC_OK;
}

}  // namespace

extern "C" {

CM_RC GM_PARAM_load_valuelist(ZPALIST_handle_typ* list, const char* value, const char* separator) {
    try {
        return load_valuelist(list, value, separator, false, 1);
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC GM_PARAM_load_valuelist_option1(ZPALIST_handle_typ* list, const char* value, const char* separator,
                                      int force_upper_case) {
    try {
        return load_valuelist(list, value, separator, true, force_upper_case);
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC GM_PARAM_load_env(ZPALIST_handle_typ* list) {
    DIAG_TRACE(4, "GM_PARAM_load_env");
    if (!list) return CM_RC_FAIL;
    try {
        ZPALIST_init(list);
        const std::string prefix = config_value("ORVENV_PREFIX");
        zpalist::Builder rows(list);
        std::lock_guard<std::recursive_mutex> environment(os_logical::environment_lock());
        for (char** entry = environ; entry && *entry; ++entry) {
            if (std::strncmp(*entry, prefix.c_str(), prefix.size()) == 0)
                parse_line(rows, *entry + prefix.size(), false, 1);
        }
    } catch (...) {
    }
    return CM_RC_OK;
}

CM_RC GM_PARAM_load_args(ZPALIST_handle_typ* list, int argc, char** argv) {
    if (!list) return CM_RC_FAIL;
    try {
        return load_args(list, argc, argv);
    } catch (...) {
        return CM_RC_FAIL;
    }
}

}  // extern "C"
