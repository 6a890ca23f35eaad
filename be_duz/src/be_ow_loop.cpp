/* The alert watcher's process frame and main loop: the single-instance lock, the pid file, the
 * debug level, the loop of watching passes over the stage table (settings, rules, account pass,
 * action queue) with its stage-error policy (error text every time, a shout once a day per stage)
 * and the sleep in 6-second slices that an exit request cuts short. */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "be_ow.h"
#include "be_ow_internal.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_file_internal.h"
#include "os_file_nofollow.h"
#include "os_proc.h"

namespace {

/* Set when the loop could not write its pid file and so never started. */
bool pid_file_failed = false;

const char* const kConfigTable = "CONFIG";
/* The bits OS_FILE_open's creating mode gives. */
constexpr mode_t kPidFileMode = 0744;

/* A stage's failure: the error text into the record, the shout once per day and stage, the rule
 * and account lists emptied. A failure that empties rules that had loaded (a later stage, or a
 * rules file gone or unreadable for a pass) also forgets the rules file's mark, so that a later
 * pass reads them again; rules that failed to parse wait for the file to change. */
void stage_failed(const ow::Stages& stages, ZPALIST_handle_typ* accounts, ZPALIST_handle_typ* rules,
                  const char* error_msg, const char* shout_msg, char* shout_date, CM_RC rc, ZPAError* Error,
                  char* rules_mark) {
    DATETIME_D_typ today = "";
    GM_TIME_fmt_get_time(GM_TIME_FMT_DD_MMM_YYYY, today);
    if (error_msg != nullptr && *error_msg != '\0')
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "%s", error_msg);
    if (std::strcmp(shout_date, today) != 0) {
        if (stages.shout) stages.shout(shout_msg, Error);
        std::snprintf(shout_date, sizeof(DATETIME_D_typ), "%s", today);
    }
    const bool had_rules = rules != nullptr && ZPALIST_count(rules) > 0;
    OW_clean_ow_main_loop_lists(accounts, rules, Error);
    if (rules_mark != nullptr && had_rules) rules_mark[0] = '\0';
}

struct LoopState {
    EW_cfg_file_params_type config{};
    DATETIME_D_typ cfg_mark = "";
    DATETIME_D_typ rules_mark = "";
    ZPALIST_handle_typ rules{};
    ZPALIST_handle_typ accounts{};
    ZPALIST_handle_typ queue{};
    DATETIME_D_typ shout_cfg = "";
    DATETIME_D_typ shout_rules = "";
    DATETIME_D_typ shout_watcher_loop = "";
    DATETIME_D_typ shout_load_actions = "";
    DATETIME_D_typ shout_do_actions = "";
    DATETIME_D_typ shout_activate = "";
};

bool exit_requested() { return OS_PROC_exit_request_get() != 0; }

/* A stage that answers 0 on success, as the loop's result codes see it. */
CM_RC stage_rc(int result) { return result == 0 ? CM_RC_OK : CM_RC_FAIL; }

/* The end of a stage that works on the rules: a failure (rc) goes to stage_failed with both lists
 * and the rules mark to forget; a success clears the stage's shout day, so that its next failure
 * is shouted again. True when the stage succeeded. */
bool rules_stage_done(const ow::Stages& stages, LoopState& s, CM_RC rc, const char* error_msg, const char* shout_msg,
                      char* shout_date, ZPAError* Error, char* rules_mark) {
    if (rc == CM_RC_OK) {
        shout_date[0] = '\0';
        return true;
    }
    stage_failed(stages, &s.accounts, &s.rules, error_msg, shout_msg, shout_date, rc, Error, rules_mark);
    return false;
}

}  // namespace

namespace ow {

Stages product_stages() {
    Stages stages;
    stages.debug_level = OW_MAIN_set_process_debug_level;
    stages.load_config = EW_load_event_config;
    stages.load_rules = EW_load_event_watcher_rules;
    stages.account_pass = EW_event_watcher_loop;
    stages.load_queue = EW_load_actions_to_excute_from_file;
    stages.run_queue = EW_execute_actions;
    stages.shout = [](const char* message, ZPAError* Error) {
        return OW_send_alert_shout_to_uvs(const_cast<char*>(message), Error);
    };
    stages.sleep = OW_MAIN_sleep;
    return stages;
}

int sleep_in_slices(int total_sleep_time, const std::function<void(int seconds)>& nap) {
    int intervals = total_sleep_time / OW_SLEEP_SLICE_SECONDS;
    if (intervals < 1) intervals = 1;
    BE_TRACE(4, "Going to sleep for %d intervals of %d seconds", intervals, OW_SLEEP_SLICE_SECONDS);
    for (int i = 0; i < intervals; ++i) {
        nap(OW_SLEEP_SLICE_SECONDS);
        if (exit_requested()) return 1;
    }
    return 0;
}

CM_RC watching_loop(int ow_debug_level, ZPAError* Error, const Stages& stages) {
    static const char* fn = "OW_MAIN_watching_loop";
    LoopState s;
    ZPALIST_init(&s.rules);
    ZPALIST_init(&s.accounts);
    ZPALIST_init(&s.queue);
    ow_main_set_default_config(&s.config);
    int level = ow_debug_level;
    CM_RC cm_rc = CM_RC_OK;
    if (OW_MAIN_save_PID() != 0) {
        DIAG_ERROR("Error: Failed to save PID in file");
        pid_file_failed = true;
        return CM_RC_FAIL;
    }
    for (;;) {
        if (exit_requested()) break;
        cm_rc = stages.debug_level ? stages.debug_level(&level, Error) : CM_RC_OK;
        if (cm_rc != CM_RC_OK) {
            OW_MAIN_ErrorSet(Error, 1, "%s function - OW_MAIN_set_process_debug_level failed, set OW debug to 0", fn);
            level = 0;
        }
        if (stages.load_config && stages.load_config(&s.config, s.cfg_mark, Error) != 0) {
            stage_failed(stages, nullptr, nullptr, "Failed loading event watcher configuration file.",
                         "ORVANTA OEBS Watcher: Failed loading event watcher configuration file. Using default "
                         "values. Check the logs for more details.",
                         s.shout_cfg, CM_RC_FAIL, Error, nullptr);
            ow_main_set_default_config(&s.config);
        } else {
            s.shout_cfg[0] = '\0';
        }
        if (exit_requested()) break;
        if (std::strcmp(s.config.activate_event_watcher, "Y") != 0) {
            stage_failed(stages, nullptr, nullptr, nullptr,
                         "ORVANTA OEBS Watcher is running, but the Event Watcher is not activated.", s.shout_activate,
                         CM_RC_FAIL, Error, nullptr);
            DIAG_ERROR("%s - ORVANTA OEBS Watcher is running, but the Event Watcher is not activated!!", "EW_FLOW");
        } else {
            const std::string mark_before = s.rules_mark;
            const CM_RC loaded =
                stages.load_rules ? stage_rc(stages.load_rules(&s.rules, &s.accounts, s.rules_mark, Error)) : CM_RC_OK;
            /* The mark moves only when the text was read: a rules file that was not read (gone or
             * unreadable for a while) is read again when it can be, even unchanged; one that was
             * read and failed keeps its new mark. */
            const bool read = mark_before != s.rules_mark;
            const bool rules_loaded = rules_stage_done(
                stages, s, loaded, "Failed loading event watcher rules file.",
                "ORVANTA OEBS Watcher: Failed loading event watcher rules file. check the logs for more details.",
                s.shout_rules, Error, read ? nullptr : s.rules_mark);
            if (exit_requested()) break;
            if (rules_loaded && stages.account_pass)
                rules_stage_done(stages, s, stage_rc(stages.account_pass(&s.rules, &s.accounts, &s.config, Error)),
                                 "ORVANTA OEBS Watcher: Failure occurred inside EW_event_watcher_loop.",
                                 "ORVANTA OEBS Watcher: Failure occurred during Event Watcher loop . check the logs "
                                 "for more details.",
                                 s.shout_watcher_loop, Error, s.rules_mark);
            if (exit_requested()) break;
            if (stages.load_queue &&
                rules_stage_done(stages, s, stages.load_queue(&s.queue, Error),
                                 "ORVANTA OEBS Watcher: Failure occurred inside EW_load_actions_to_excute_from_file.",
                                 "ORVANTA OEBS Watcher: Failed to load actions to execute from file. check the logs "
                                 "for more details.",
                                 s.shout_load_actions, Error, s.rules_mark)) {
                const int count = ZPALIST_count(&s.queue);
                if (count > 0) {
                    DIAG_ERROR("%s - %d actions to execute where found.", "EW_FLOW", count);
                    rules_stage_done(stages, s,
                                     stages.run_queue ? stages.run_queue(&s.queue, &s.config, Error) : CM_RC_OK,
                                     "ORVANTA OEBS Watcher: Failure occurred inside EW_execute_actions.",
                                     "ORVANTA OEBS Watcher: Failed to execute Event Watcher action. check the logs for "
                                     "more details.",
                                     s.shout_do_actions, Error, s.rules_mark);
                } else {
                    BE_TRACE(3, "%s - No actions to execute where found.", "EW_FLOW");
                }
            }
            if (exit_requested()) break;
            s.shout_activate[0] = '\0';
        }
        const CM_RC cleared = GM_PARAM_subtable_list_clear(&s.queue);
        if (cleared != CM_RC_OK && cleared != CM_RC_END) {
            OW_MAIN_ErrorSet(Error, 1, "%s function - Failed to clear actions_to_excute_list.", fn);
            return CM_RC_FAIL;
        }
        if (cm_rc == CM_RC_OK) cm_rc = cleared;
        DIAG_ERROR("%s - Going to sleep for: %d seconds.", "EW_FLOW", s.config.watching_interval_time);
        if (stages.sleep && stages.sleep(s.config.watching_interval_time) != 0) break;
    }
    GM_PARAM_subtable_list_clear(&s.queue);
    if (OW_clean_ow_main_loop_lists(&s.accounts, &s.rules, Error) != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "ORVANTA OEBS Watcher: Failed inside OW_clean_ow_main_loop_lists.");
        return CM_RC_FAIL;
    }
    return cm_rc;
}

}  // namespace ow

CM_EXTERN_C_BEGIN

int anoter_OEBS_Watcher_running(void) {
    /* The lock file is made open to every user; every later file gets the umask found. A link or
     * anything but a regular file at its name is refused, never followed. */
    const mode_t found = umask(0);
    const int fd = os_file::open_regular(OW_LOCK_FILE, O_WRONLY | O_CREAT, 0666);
    const int open_errno = errno;
    umask(found);
    if (fd < 0) {
        DIAG_ERROR("Cannot open %s : %s", OW_LOCK_FILE, std::strerror(open_errno));
        return 1;
    }
    if (lockf(fd, F_TLOCK, 0) != 0) {
        close(fd);
        return 1;
    }
    return 0; /* the descriptor stays open: the lock lives as long as the process */
}

int OW_MAIN_exit_status(void) { return pid_file_failed ? 1 : 0; }

int OW_MAIN_save_PID(void) {
    const long pid = static_cast<long>(getpid());
    if (pid <= 0) {
        BE_TRACE(4, "Failed to get PID for OW process");
        return 1;
    }
    PATHNAME_D_typ path = "";
    std::snprintf(path, sizeof path, "cm/DUZ/data/%s", OW_PID_FILE_NAME);
    /* Made anew at every start, so that a link planted at the name is removed, never written
     * through; bits and owner as the file layer gives a file it creates. */
    const OS_FD_typ fd = os_file::create_fresh(path, kPidFileMode);
    if (fd < 0 || !os_file::give_to_owner_user(fd, path, true)) {
        if (fd >= 0) OS_FILE_close(fd);
        BE_TRACE(4, "Failed to open PID file = <%s>", path);
        return 1;
    }
    char text[32] = "";
    const int length = std::snprintf(text, sizeof text, "%ld", pid);
    if (OS_FILE_write(fd, text, length) != CM_RC_OK) {
        BE_TRACE(4, "Failed to write PID = <%s>, len = <%d> into file = <%s>", text, length, path);
        OS_FILE_close(fd);
        return 1;
    }
    if (OS_FILE_close(fd) != CM_RC_OK) {
        BE_TRACE(4, "Failed to close PID file = <%s>", path);
        return 1;
    }
    return 0;
}

int OW_MAIN_sleep(int total_sleep_time) {
    return ow::sleep_in_slices(total_sleep_time, [](int seconds) { OS_TIME_sleep(seconds); });
}

CM_RC OW_MAIN_set_process_debug_level(int* ow_current_debug_level, ZPAError* Error) {
    static const char* fn = "OW_MAIN_set_process_debug_level";
    const CM_RC loaded = GM_PARAM_load(kConfigTable, 0);
    if (loaded != CM_RC_OK && loaded != CM_RC_END) {
        OW_MAIN_ErrorSet(Error, 1, "%s function - Failed to load agent %s table ", fn, kConfigTable);
        DIAG_set_debug_level(0);
        return CM_RC_FAIL;
    }
    GM_PARAM_VALUE_typ value = "";
    if (GM_PARAM_get(kConfigTable, "DBGLVL", value) != CM_RC_OK) {
        OW_MAIN_ErrorSet(Error, 1, "%s function - Failed to get agent debug level from %s table ", fn, kConfigTable);
        DIAG_set_debug_level(0);
        return CM_RC_FAIL;
    }
    const int level = std::atoi(value);
    if (ow_current_debug_level != nullptr && level != *ow_current_debug_level) {
        DIAG_set_debug_level(level);
        DIAG_ERROR("OEBS Watcher process debug level was set to %d", level);
        *ow_current_debug_level = level;
    }
    return CM_RC_OK;
}

void ow_main_set_default_config(EW_cfg_file_params_type* ew_config_params) {
    if (ew_config_params == nullptr) return;
    *ew_config_params = EW_cfg_file_params_type{};
    std::strcpy(ew_config_params->activate_event_watcher, "Y");
    std::strcpy(ew_config_params->create_log, "Y");
    ew_config_params->action_max_retry = 3;
    ew_config_params->watching_interval_time = 120;
    ew_config_params->alert_max_output = 20;
}

int OW_clean_ow_main_loop_lists(ZPALIST_handle_typ* account_list, ZPALIST_handle_typ* rules_list, ZPAError* Error) {
    static const char* fn = "OW_clean_ow_main_loop_lists";
    if (account_list != nullptr) {
        const CM_RC rc = ZPALIST_clear(account_list);
        if (rc != CM_RC_OK && rc != CM_RC_END) {
            OW_MAIN_ErrorSet(Error, 1, "%s function - Failed to clear event_rules_account_list", fn);
            return 1;
        }
    }
    if (rules_list != nullptr && EW_clean_event_rule_list(rules_list) != 0) {
        OW_MAIN_ErrorSet(Error, 1, "%s function - Failed to clear event_rules_list", fn);
        return 1;
    }
    return 0;
}

ZPARC OW_MAIN_ErrorSet(ZPAError* Error, ZPAErrorCode code, const char* format, ...) {
    char work[OW_MAIN_ERROR_WORK_SIZE] = "OEBS Watcher Error: ";
    const std::size_t prefix = std::strlen(work);
    va_list args;
    va_start(args, format);
    if (format != nullptr) std::vsnprintf(work + prefix, sizeof work - prefix, format, args);
    va_end(args);
    if (std::strlen(work) > BE_DUZ_ERROR_MAX_LEN) {
        DIAG_ERROR("OW_MAIN_ErrorSet: error message too long");
        DIAG_ERROR("%s", work);
        return ZPA_SUCCESS;
    }
    const ZPARC rc = ZPAAPI_UTILS_ErrorSet(Error, code, "%s", work);
    if (DIAG_debug_level() < 4) DIAG_ERROR("%s", work);
    return rc;
}

CM_RC OW_MAIN_watching_loop(int ow_debug_level, ZPAError* Error) {
    try {
        return ow::watching_loop(ow_debug_level, Error, ow::product_stages());
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "OW_MAIN_watching_loop");
        return CM_RC_FAIL;
    }
}

CM_RC OEBS_WATCHER_MAIN(int argc, char** argv) {
    static const char* fn = "OEBS_WATCHER_MAIN";
    ZPAError Error{};
    int level = -1;
    if (OW_MAIN_set_process_debug_level(&level, &Error) != CM_RC_OK) {
        OW_MAIN_ErrorSet(&Error, 1, "%s function - OW_MAIN_set_process_debug_level failed, set OW debug to 0", fn);
        level = 0;
    }
    if (level >= 4) {
        DIAG_printf("argc: '%d'", argc);
        for (int i = 1; i < argc && argv != nullptr; ++i) DIAG_printf("argv[%d]: '%s'", i, argv[i] ? argv[i] : "");
    }
    const CM_RC rc = OW_MAIN_watching_loop(level, &Error);
    if (rc != CM_RC_OK) OW_MAIN_ErrorSet(&Error, 1, "%s function - ORVANTA OEBS Watcher ended with rc = %d", fn, rc);
    DIAG_ERROR(">>> ORVANTA OEBS Watcher ended with rc = %d <<<", rc);
    return rc;
}

CM_EXTERN_C_END
