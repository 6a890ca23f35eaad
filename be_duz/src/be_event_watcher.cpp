/* Oracle Alert data access: the record of one alert check, the database time, the alert checks of a
 * watching window, the outputs of one check, and the application and alert name lists that the
 * configuration manager's forms show. Every query runs on the caller's session (its one statement
 * handle) and follows the list frame's fetch rule. */
#include "be_event_watcher.h"
#include "be_list_internal.h"
#include "gm_param.h"
#include "gm_param_internal.h"
#include "gm_time.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kTimeSql = "select to_char(sysdate,'YYYYMMDDHH24MISS') from dual";
constexpr const char* kNewAlertsSql =
    "select distinct v.ALERT_NAME, app.APPLICATION_NAME, v.APPLICATION_ID, v.NUMBER_OF_EXCEPTIONS, "
    "v.NUMBER_OF_ACTIONS_PERFORMED, to_char(v.ALERT_CHECK_DATE,'YYYYMMDDHH24MISS'), acv.ALERT_CHECK_ID, "
    "ac.REQUEST_ID "
    "from ALR_ALERT_HISTORY_VIEW v, FND_APPLICATION_VL app, ALR_CHECK_ACTION_HISTORY_VIEW acv, "
    "ALR_ALERT_CHECKS ac, ALR_ALERTS ar "
    "where to_char(v.ALERT_CHECK_DATE,'YYYYMMDDHH24MISS') > :LW "
    "and to_char(v.ALERT_CHECK_DATE,'YYYYMMDDHH24MISS') <= :NLW "
    "and v.APPLICATION_ID = app.APPLICATION_ID "
    "and v.ALERT_CHECK_DATE = acv.ALERT_CHECK_DATE "
    "and acv.ALERT_CHECK_ID = ac.ALERT_CHECK_ID "
    "and ac.ALERT_ID = ar.ALERT_ID "
    "and ar.ALERT_NAME = v.ALERT_NAME";
constexpr const char* kOutputsSql =
    "select OUTPUT_NAME, OUTPUT_VALUE, EXCEPTION_SEQUENCE from ALR_ALERT_HISTORY_VIEW where APPLICATION_ID = :APPID "
    "and ALERT_NAME = :ALERT_NAME and to_char(ALERT_CHECK_DATE,'YYYYMMDDHH24MISS') = :ALERT_DATE ";
constexpr const char* kApplicationsSql = "select APPLICATION_NAME from FND_APPLICATION_TL where ";
constexpr const char* kAlertsSql =
    "select alr.ALERT_NAME from ALR_ALERTS alr, FND_APPLICATION_TL app where app.APPLICATION_ID = alr.APPLICATION_ID "
    "and app.APPLICATION_NAME = :APP_NAME and ";

/* Widths of the outputs' columns. */
constexpr int kOutputNameSize = 31;
constexpr int kOutputValueSize = 241;
constexpr int kExceptionSequenceSize = 32;

const char* error_text(ZPAError* Error) { return Error != nullptr ? Error->text : ""; }

void log_failure(const char* what, ZPAError* Error) { BE_TRACE(2, "%s. %s", what, error_text(Error)); }

/* What one of the two name lists needs. */
struct NameList {
    const char* parent;
    int column_size;
    const char* no_rows;
    const char* execute_failed;
    const char* fetch_failed;
    const char* define_failed;
};

/* Runs a name query and writes "<parent><Name>..</Name>...</parent>" into the handle's xmlResponse. */
ZPARC name_list(BE_DUZ_Handles* session, const std::string& sql, const be_sql::BindValues& binds, const char* filter,
                const NameList& list, BE_DUZ_xmldata_handle* handle, ZPAError* Error) {
    if (handle == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: no answer handle", list.parent);
        return ZPA_FAIL;
    }
    be_list::Answer answer(Error, EW_LIST_FIRST_ROOM);
    if (answer.open(list.parent) != ZPA_SUCCESS) return ZPA_FAIL;
    std::string name(static_cast<std::size_t>(list.column_size), '\0');
    be_sql::Statement statement(session, Error);
    ZPARC rc = statement.prepare(sql.c_str());
    if (rc != 0) {
        log_failure("Fail to prepare statement", Error);
        return rc;
    }
    if ((rc = statement.bind_values(binds)) != 0) {
        log_failure("Fail to bind application_name", Error);
        return rc;
    }
    if ((rc = statement.define_text(1, name.data(), list.column_size)) != 0) {
        log_failure(list.define_failed, Error);
        return rc;
    }
    if ((rc = statement.execute_no_fetch()) != 0) {
        log_failure(list.execute_failed, Error);
        return rc;
    }
    int rows = 0;
    for (;;) {
        const be_sql::Fetch got = statement.fetch();
        if (got == be_sql::Fetch::End) break;
        if (got == be_sql::Fetch::Error) {
            log_failure(list.fetch_failed, Error);
            return ZPA_FAIL;
        }
        ++rows;
        if (answer.element("Name", name.c_str()) != ZPA_SUCCESS) return ZPA_FAIL;
    }
    if (rows == 0) BE_TRACE(4, list.no_rows, filter != nullptr ? filter : "");
    if (answer.close(list.parent) != ZPA_SUCCESS) return ZPA_FAIL;
    std::free(handle->xmlResponse);
    handle->xmlResponse = answer.release();
    return ZPA_SUCCESS;
}

}  // namespace

CM_EXTERN_C_BEGIN

void EW_init_alert_type(EW_alert_type* alert) {
    if (alert == nullptr) return;
    std::memset(alert, 0, sizeof *alert);
    alert->application_id = -1;
    alert->num_of_exception = -1;
    alert->actions_performed = -1;
    alert->alert_outputs = nullptr;
}

void EW_Free_Alert(EW_alert_type* alert) {
    if (alert == nullptr) return;
    if (alert->alert_outputs == nullptr) {
        BE_TRACE(4, "EW_Free_Alert: the alert's output list is NULL");
        return;
    }
    ZPAAPI_utils_release_attr(alert->alert_outputs);
    std::free(alert->alert_outputs);
    alert->alert_outputs = nullptr;
}

void EW_print_alert(EW_alert_type* alert) {
    if (alert == nullptr || DIAG_debug_level() < 4) return;
    DIAG_printf("Retrieved following OEBS Alert:");
    DIAG_printf("  alert name       : %s", alert->alert_name);
    DIAG_printf("  application name : %s", alert->application_name);
    DIAG_printf("  application id   : %d", alert->application_id);
    DIAG_printf("  exceptions       : %d", alert->num_of_exception);
    DIAG_printf("  actions performed: %d", alert->actions_performed);
    DIAG_printf("  check time       : %s", alert->alert_check_time);
}

ZPARC DB_get_system_current_time(BE_DUZ_Handles* DUZ_handle, char* system_current_time, ZPAError* Error) {
    if (system_current_time == nullptr) return ZPA_FAIL;
    system_current_time[0] = '\0';
    be_sql::Statement statement(DUZ_handle, Error);
    ZPARC rc = statement.prepare(kTimeSql);
    if (rc != 0) {
        log_failure("Fail to prepare SQL statement", Error);
        return rc;
    }
    if ((rc = statement.define_text(1, system_current_time, sizeof(DB_DATETIME_typ))) != 0) {
        log_failure("Fail to define resp", Error);
        return rc;
    }
    if ((rc = statement.execute()) != 0) log_failure("Fail to execute", Error);
    return rc;
}

ZPARC DB_get_all_new_alerts_from_oebs(BE_DUZ_Handles* DUZ_handle, char* last_watching_time,
                                      char* new_last_watching_time, ZPALIST_handle_typ* new_oebs_alert_list,
                                      ZPAError* Error) {
    if (last_watching_time == nullptr || new_last_watching_time == nullptr || new_oebs_alert_list == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing argument", "DB_get_all_new_alerts_from_oebs");
        return ZPA_FAIL;
    }
    new_last_watching_time[0] = '\0';
    ZPALIST_init(new_oebs_alert_list);
    EW_alert_type alert;
    EW_init_alert_type(&alert);

    DB_DATETIME_typ now = "";
    ZPARC rc = DB_get_system_current_time(DUZ_handle, now, Error);
    if (rc != 0) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "Failed to get system current time");
        return ZPA_FAIL;
    }
    GM_TIME_add_delta(now, new_last_watching_time, -EW_WINDOW_DELAY_SECONDS);

    be_sql::Statement statement(DUZ_handle, Error);
    if ((rc = statement.prepare(kNewAlertsSql)) != 0) {
        log_failure("Fail to prepare statement", Error);
        return rc;
    }
    DB_DATETIME_typ last = "";
    std::snprintf(last, sizeof last, "%s", last_watching_time);
    if ((rc = statement.bind_text(":LW", last, sizeof last)) != 0) {
        log_failure("Fail to bind last_watching_time", Error);
        return rc;
    }
    if ((rc = statement.bind_text(":NLW", new_last_watching_time, sizeof(DB_DATETIME_typ))) != 0) {
        log_failure("Fail to bind new_last_watching_time", Error);
        return rc;
    }
    if ((rc = statement.define_text(1, alert.alert_name, sizeof alert.alert_name)) != 0) {
        log_failure("Fail to define alert_name", Error);
        return rc;
    }
    if ((rc = statement.define_text(2, alert.application_name, sizeof alert.application_name)) != 0) {
        log_failure("Fail to define application_name", Error);
        return rc;
    }
    if ((rc = statement.define_int(3, &alert.application_id)) != 0) {
        log_failure("Fail to define application_id", Error);
        return rc;
    }
    if ((rc = statement.define_int(4, &alert.num_of_exception)) != 0) {
        log_failure("Fail to define num_of_exception", Error);
        return rc;
    }
    if ((rc = statement.define_int(5, &alert.actions_performed)) != 0) {
        log_failure("Fail to define actions_performed", Error);
        return rc;
    }
    if ((rc = statement.define_text(6, alert.alert_check_time, sizeof alert.alert_check_time)) != 0) {
        log_failure("Fail to define alert_check_time", Error);
        return rc;
    }
    if ((rc = statement.execute_no_fetch()) != 0) {
        log_failure("Fail to execute get new Alerts SQL", Error);
        return rc;
    }
    int rows = 0;
    zpalist::Builder alerts(new_oebs_alert_list);  // a watch window can bring thousands of alerts
    for (;;) {
        const be_sql::Fetch got = statement.fetch();
        if (got == be_sql::Fetch::End) break;
        if (got == be_sql::Fetch::Error) {
            BE_TRACE(2, "Fail to fetch next alert. %s", error_text(Error));
            return ZPA_FAIL;
        }
        ++rows;
        alert.alert_outputs = nullptr;
        EW_print_alert(&alert);
        if (alerts.append(&alert, sizeof alert) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to append new_alert_ouput_row to new_oebs_alert_list.");
            return ZPA_FAIL;
        }
    }
    if (rows == 0) BE_TRACE(4, "No new alerts where found.");
    return ZPA_SUCCESS;
}

ZPARC DB_get_alert_outputs_from_oebs(BE_DUZ_Handles* DUZ_handle, EW_alert_type* alert, int max_output,
                                     ZPAError* Error) {
    if (alert == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing alert", "DB_get_alert_outputs_from_oebs");
        return ZPA_FAIL;
    }
    int application_id = alert->application_id;
    DB_ALERT_NAME_typ alert_name = "";
    DB_DATETIME_typ check_time = "";
    std::snprintf(alert_name, sizeof alert_name, "%s", alert->alert_name);
    std::snprintf(check_time, sizeof check_time, "%s", alert->alert_check_time);
    char output_name[kOutputNameSize] = "";
    char output_value[kOutputValueSize] = "";
    char sequence[kExceptionSequenceSize] = "";

    be_sql::Statement statement(DUZ_handle, Error);
    ZPARC rc = statement.prepare(kOutputsSql);
    if (rc != 0) {
        log_failure("Fail to prepare statement", Error);
        return rc;
    }
    if ((rc = statement.bind_int(":APPID", &application_id)) != 0) {
        log_failure("Failed to bind app_id", Error);
        return rc;
    }
    if ((rc = statement.bind_text(":ALERT_NAME", alert_name, sizeof alert_name)) != 0) {
        log_failure("Failed to bind alert_name", Error);
        return rc;
    }
    if ((rc = statement.bind_text(":ALERT_DATE", check_time, sizeof check_time)) != 0) {
        log_failure("Failed to bind alert_check_date", Error);
        return rc;
    }
    if ((rc = statement.define_text(1, output_name, sizeof output_name)) != 0) {
        log_failure("Failed to define output_name", Error);
        return rc;
    }
    if ((rc = statement.define_text(2, output_value, sizeof output_value)) != 0 ||
        (rc = statement.define_text(3, sequence, sizeof sequence)) != 0) {
        log_failure("Fail to define output_value", Error);
        return rc;
    }
    if ((rc = statement.execute_no_fetch()) != 0) {
        log_failure("Failed to execute get alert output SQL", Error);
        return rc;
    }
    ZPALIST_handle_typ outputs{};
    ZPALIST_init(&outputs);
    gm_param::KeyedRows by_key(&outputs);  // a set per output without a walk of the list each
    for (;;) {
        const be_sql::Fetch got = statement.fetch();
        if (got == be_sql::Fetch::End) break;
        if (got == be_sql::Fetch::Error) {
            BE_TRACE(2, "Fail to fetch next output. %s", error_text(Error));
            GM_PARAM_list_clear(&outputs);
            return ZPA_FAIL;
        }
        const std::string key = std::string(output_name) + "_" + sequence;
        if (by_key.set(key.c_str(), output_value) != CM_RC_OK) {
            BE_TRACE(1, "Failed to add output to list");
            break;
        }
        if (max_output > 0 && outputs.count == max_output) {
            BE_TRACE(1, "Number of Alert's outputs has reached the limit of %d. Additional outputs will not be added.",
                     max_output);
            break;
        }
    }
    if (ZPALIST_count(&outputs) > 0) {
        auto* list = static_cast<ZPAAttrList*>(std::calloc(1, sizeof(ZPAAttrList)));
        if (list == nullptr || ZPAAPI_UTILS_list2attr(&outputs, list) != 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to create attributes list");
            GM_PARAM_list_clear(&outputs);
            if (list != nullptr) {
                ZPAAPI_utils_release_attr(list);
                std::free(list);
            }
            return ZPA_FAIL;
        }
        EW_Free_Alert(alert);
        alert->alert_outputs = list;
    }
    GM_PARAM_list_clear(&outputs);
    return ZPA_SUCCESS;
}

ZPARC DB_get_applications_list(BE_DUZ_Handles* DUZ_handle, char* application_filter,
                               BE_DUZ_xmldata_handle* appListXmlResponse, ZPAError* Error) {
    static const NameList kList{"ApplicationsList",
                                sizeof(DB_APP_NAME_typ),
                                "No Applications matched '%s' filter.",
                                "Fail to execute get applications list SQL",
                                "Fail to fetch next application name",
                                "Failed to define application_name"};
    try {
        std::string filter(application_filter != nullptr ? application_filter : "");
        if (application_filter != nullptr) BE_DUZ_SQL_replace_wildchar(application_filter, '*', '%');
        be_sql::BindValues binds;
        const be_list::Filter bound = be_list::bind_filter(filter, binds);
        const std::string sql =
            std::string(kApplicationsSql) + "lower(APPLICATION_NAME) LIKE lower(" + bound.placeholder + ") ";
        return name_list(DUZ_handle, sql, binds, application_filter, kList, appListXmlResponse, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to allocate memory for appListXmlResponse->xmlResponse");
        return ZPA_FAIL;
    }
}

ZPARC DB_get_alerts_list(BE_DUZ_Handles* DUZ_handle, char* application_name, char* alert_filter,
                         BE_DUZ_xmldata_handle* alertsListXmlResponse, ZPAError* Error) {
    static const NameList kList{"AlertsList",
                                sizeof(DB_ALERT_NAME_typ),
                                "No Alerts matched '%s' filter.",
                                "Fail to execute get alerts list SQL",
                                "Fail to fetch next alert name",
                                "Failed to define alert_name"};
    try {
        std::string filter(alert_filter != nullptr ? alert_filter : "");
        if (alert_filter != nullptr) BE_DUZ_SQL_replace_wildchar(alert_filter, '*', '%');
        be_sql::BindValues binds;
        /* The application name is bound at its own width (up to 240 characters). */
        binds.add_named_text(":APP_NAME", application_name != nullptr ? application_name : "");
        const be_list::Filter bound = be_list::bind_filter(filter, binds);
        const std::string sql =
            std::string(kAlertsSql) + "lower(alr.ALERT_NAME) LIKE lower(" + bound.placeholder + ") ";
        return name_list(DUZ_handle, sql, binds, alert_filter, kList, alertsListXmlResponse, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to allocate memory for alertsListXmlResponse->xmlResponse");
        return ZPA_FAIL;
    }
}

char* BE_DUZ_allocate_double_memory(char* mystring, long* input_size) {
    char* grown = BE_DUZ_handle_buffer(B_DOUBLE, mystring, input_size);
    if (grown == nullptr) BE_TRACE(1, "Failed to allocate memory.");
    return grown;
}

CM_EXTERN_C_END
