/* The alert watcher's two files beside the agent, both sectioned tables under cm/DUZ/data: the
 * settings (event_cfg.dat, section GEN_EVENT_PARAMS) and the watch times (event_watch_times.dat, one
 * section per account). Every change holds the file's shared-file lock from its load to its save,
 * so changes made at once by threads and processes (the configuration-manager requests, the
 * watcher) never overwrite one another. */
#include "be_event_watcher.h"
#include "be_internal.h"
#include "gm_param.h"
#include "gm_param_internal.h"
#include "os_shared_file_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

/* The settings in the order they are read. */
enum class Setting { Flag, Number };
struct SettingKey {
    const char* key;
    Setting kind;
};
constexpr SettingKey kSettings[] = {
    {"ACTIVATE_EVENT_WATCHER", Setting::Flag},   {"ACTION_MAX_RETRY", Setting::Number}, {"ACTION_LOG", Setting::Flag},
    {"WATCHING_INTERVAL_TIME", Setting::Number}, {"ALERT_MAX_OUTPUT", Setting::Number},
};

void build_path(char* path, const char* file_name) {
    char directory[32];
    std::snprintf(directory, sizeof directory, "cm%cDUZ%cdata", '/', '/');
    std::snprintf(path, sizeof(PATHNAME_D_typ), "%s/%s", directory, file_name);
}

/* The sections of a loaded file, freed with it. */
struct Sections : BeSections {
    /* Reads the watch-times file at path under its lock; false (with the message stored) when the
     * lock or the load fails. */
    bool load(const os_shared::FileLock& lock, const char* path, ZPAError* Error) {
        const CM_RC loaded = lock ? GM_PARAM_subtable_load_file(&list, path) : lock.result();
        if (loaded == CM_RC_OK) return true;
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(loaded), "Failed loading accounts section list");
        return false;
    }
    /* Frees the sections now; false (with the message stored) when that fails. */
    bool clear(ZPAError* Error) {
        const CM_RC rc = BE_DUZ_subtable_list_clear(&list);
        if (rc == CM_RC_OK || rc == CM_RC_END) return true;
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "Failed to clear account_sections.");
        return false;
    }
};

/* Whether an account name can be a section of the watch-times file as it is; false after storing
 * the reason. */
bool fits_section_name(const char* name, ZPAError* Error) {
    const char* flaw = name != nullptr ? gm_param::section_name_flaw(name) : "no name";
    if (flaw != nullptr)
        BE_DUZ_UpdateErrorSet(Error, 1, "Account name refused as a section of %s: %s", EW_WATCH_TIMES_FILE_NAME, flaw);
    return flaw == nullptr;
}

}  // namespace

CM_EXTERN_C_BEGIN

void EW_build_event_cfg_file_name(char* event_cfg_file_path) {
    if (event_cfg_file_path != nullptr) build_path(event_cfg_file_path, EW_CFG_FILE_NAME);
}

void EW_build_event_watch_times_file_name(char* event_watch_times_file_path) {
    if (event_watch_times_file_path != nullptr) build_path(event_watch_times_file_path, EW_WATCH_TIMES_FILE_NAME);
}

void* EW_lock_watcher_file(const char* file_path) {
    if (file_path == nullptr) return nullptr;
    try {
        auto lock = std::make_unique<os_shared::FileLock>(file_path);
        if (!*lock) return nullptr;
        return lock.release();
    } catch (...) {
        return nullptr;
    }
}

void EW_unlock_watcher_file(void* lock) { delete static_cast<os_shared::FileLock*>(lock); }

ZPARC EW_load_new_event_config(EW_cfg_file_params_type* ew_config_params, ZPAError* Error) {
    if (ew_config_params == nullptr) return ZPA_FAIL;
    PATHNAME_D_typ path = "";
    EW_build_event_cfg_file_name(path);
    *ew_config_params = EW_cfg_file_params_type{};
    try {
        /* A rewrite replaces the file whole, so a reader needs no lock. */
        Sections sections;
        if (GM_PARAM_subtable_load_file(&sections.list, path) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Cannot load event configuration section list");
            return ZPA_FAIL;
        }
        ZPALIST_handle_typ* rows = nullptr;
        if (GM_PARAM_subtable_list_find(&sections.list, EW_GEN_EVENT_PARAMS, &rows) != CM_RC_OK || rows == nullptr) {
            BE_TRACE(1, "Cannot load event configuration parameter");
            BE_DUZ_UpdateErrorSet(Error, 1, "Cannot load event configuration parameter");
            return ZPA_FAIL;
        }
        ZPARC rc = ZPA_SUCCESS;
        for (const SettingKey& setting : kSettings) {
            char value[EW_CFG_VALUE_MAX + 1] = "";
            if (GM_PARAM_list_get(rows, setting.key, value, sizeof value) != CM_RC_OK) {
                BE_TRACE(1, "Cannot find %s parameter", setting.key);
                BE_DUZ_UpdateErrorSet(Error, 1, "Cannot find %s parameter", setting.key);
                if (std::strcmp(setting.key, "ALERT_MAX_OUTPUT") == 0)
                    ew_config_params->alert_max_output = EW_DEFAULT_ALERT_MAX_OUTPUT;
                rc = ZPA_FAIL;
                break;
            }
            const std::string key = setting.key;
            /* A flag keeps its first character; a number is read like atoi (no digits: 0). */
            if (key == "ACTIVATE_EVENT_WATCHER")
                ew_config_params->activate_event_watcher[0] = value[0];
            else if (key == "ACTION_LOG")
                ew_config_params->create_log[0] = value[0];
            else if (key == "ACTION_MAX_RETRY")
                ew_config_params->action_max_retry = std::atoi(value);
            else if (key == "WATCHING_INTERVAL_TIME")
                ew_config_params->watching_interval_time = std::atoi(value);
            else
                ew_config_params->alert_max_output = std::atoi(value);
        }
        if (!sections.clear(Error)) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Delete of %s sublist failed", EW_GEN_EVENT_PARAMS);
            rc = ZPA_FAIL;
        }
        return rc;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "EW_load_new_event_config");
        return ZPA_FAIL;
    }
}

ZPARC EW_save_activation_time(char* activation_time, ZPAError* Error) {
    if (activation_time == nullptr) return ZPA_FAIL;
    if (std::strlen(activation_time) > sizeof(DB_DATETIME_typ) - 1) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Activation time '%s' is longer than %d characters", activation_time,
                              static_cast<int>(sizeof(DB_DATETIME_typ) - 1));
        return ZPA_FAIL;
    }
    PATHNAME_D_typ path = "";
    EW_build_event_watch_times_file_name(path);
    try {
        os_shared::FileLock lock(path);
        Sections sections;
        if (!sections.load(lock, path, Error)) return ZPA_FAIL;
        for (const std::string& name : be_section_names(&sections.list)) {
            for (const char* key : {EW_LAST_WATCHING_TIME, EW_START_WATCHING_TIME}) {
                if (GM_PARAM_subtable_list_set(&sections.list, name.c_str(), key, activation_time) != CM_RC_OK) {
                    BE_DUZ_UpdateErrorSet(Error, 1, "Failed to set %s parameter", key);
                    sections.clear(Error);
                    return ZPA_FAIL;
                }
            }
        }
        const CM_RC saved = GM_PARAM_subtable_list_save(&sections.list, path);
        if (saved != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(saved),
                                  "%s function - Failed to save account_sections to %s file.",
                                  "EW_save_activation_time", path);
            sections.clear(Error);
            return ZPA_EOS;
        }
        sections.clear(Error);
        return ZPA_SUCCESS;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "EW_save_activation_time");
        return ZPA_FAIL;
    }
}

CM_RC EW_add_account_to_watch_times_file(ZPALIST_handle_typ* account_sections, char* accunt_name, ZPAError* Error) {
    if (account_sections == nullptr || !fits_section_name(accunt_name, Error)) return CM_RC_FAIL;
    GM_PARAM_subtable_row section{};
    std::snprintf(section.key, sizeof section.key, "%s", accunt_name);
    ZPALIST_init(&section.list);
    for (const char* key : {EW_LAST_WATCHING_TIME, EW_START_WATCHING_TIME}) {
        const CM_RC rc = GM_PARAM_list_set(&section.list, key, EW_ACTIVATION);
        if (rc != CM_RC_OK) {
            GM_PARAM_list_clear(&section.list);
            BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc),
                                  "Failed to set %s attribute to new_account list.", key);
            return CM_RC_FAIL;
        }
    }
    /* The list takes the section with its rows. */
    const CM_RC rc = ZPALIST_append(account_sections, &section, sizeof section);
    if (rc != CM_RC_OK) {
        GM_PARAM_list_clear(&section.list);
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc),
                              "Failed to append %s account to account_sections list.", accunt_name);
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC EW_delete_account_from_watch_times_file(ZPALIST_handle_typ* account_sections, char* accunt_name,
                                              ZPAError* Error) {
    if (account_sections == nullptr || accunt_name == nullptr) return CM_RC_FAIL;
    const CM_RC rc = GM_PARAM_subtable_list_delete(account_sections, accunt_name);
    if (rc == CM_RC_OK || rc == CM_RC_END) return CM_RC_OK;  // no such section is no failure
    BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc),
                          "Failed to delete %s account from account_sections list.", accunt_name);
    return CM_RC_FAIL;
}

CM_RC EW_rename_account_in_watch_times_file(ZPALIST_handle_typ* account_sections, char* accunt_name,
                                            char* old_accunt_name, ZPAError* Error) {
    if (account_sections == nullptr || old_accunt_name == nullptr) return CM_RC_OK;
    if (!fits_section_name(accunt_name, Error)) return CM_RC_FAIL;
    ZPALIST_handle_typ walker = *account_sections;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) {
        auto* section = static_cast<GM_PARAM_subtable_row*>(element);
        if (std::strcmp(section->key, old_accunt_name) != 0) continue;
        std::snprintf(section->key, sizeof section->key, "%s", accunt_name);
        break;
    }
    return CM_RC_OK;
}

CM_RC EW_update_event_watch_times_file(char* action, char* accunt_name, char* old_account_name, ZPAError* Error) {
    PATHNAME_D_typ path = "";
    EW_build_event_watch_times_file_name(path);
    const std::string what = action != nullptr ? action : "";
    /* A name that cannot be a section is refused before the file is touched. */
    if ((what == EW_ADD_ACCOUNT || what == EW_RENAME_ACCOUNT_NAME) && !fits_section_name(accunt_name, Error))
        return CM_RC_FAIL;
    try {
        os_shared::FileLock lock(path);
        Sections sections;
        if (!sections.load(lock, path, Error)) return CM_RC_FAIL;
        CM_RC changed = CM_RC_OK;
        if (what == EW_ADD_ACCOUNT)
            changed = EW_add_account_to_watch_times_file(&sections.list, accunt_name, Error);
        else if (what == EW_DELETE_ACCOUNT)
            changed = EW_delete_account_from_watch_times_file(&sections.list, accunt_name, Error);
        else if (what == EW_RENAME_ACCOUNT_NAME)
            changed = EW_rename_account_in_watch_times_file(&sections.list, accunt_name, old_account_name, Error);
        if (GM_PARAM_subtable_list_save(&sections.list, path) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "%s function - Failed to save account_sections to %s file.",
                                  "EW_update_event_watch_times_file", path);
            sections.clear(Error);
            return CM_RC_FAIL;
        }
        sections.clear(Error);
        return changed == CM_RC_OK ? CM_RC_OK : CM_RC_FAIL;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "EW_update_event_watch_times_file");
        return CM_RC_FAIL;
    }
}

CM_RC EW_PARAM_list_clear(ZPALIST_handle_typ* list) { return ZPALIST_clear(list); }

CM_EXTERN_C_END
