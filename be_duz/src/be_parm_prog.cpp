/* A concurrent program's parameters: their definitions (the enabled columns of the program's
 * "$SRS$." flexfield) read into the caller's records, the values of a single request worked out
 * from the job's attributes, and the definitions with their defaults for parameter lists. */
#include "be_parm_internal.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

/* One row of the definition query, as defined for the fetch. */
struct DefinitionRow {
    char required[2];
    char default_type[2];
    char default_value[2001];
    char name[31];
    char shared_name[31];
    int value_set_id;
    char value_set_name[61];
    char value_set_name_again[61];
    int maximum_size;
    char validation_type[2];
    char format_type[2];
    char uppercase[2];
    char displayed[2];
};

std::string job_attribute_name(int number, const char* field) {
    char name[64];
    std::snprintf(name, sizeof name, "DUZ-PARMS-P%.3d-%s", number, field);
    return name;
}

void log_definitions(BE_DUZ_report_parm** recs, int last) {
    if (DIAG_debug_level() < 2) return;
    if (last < 0) DIAG_printf("There're no parameters defined.");
    for (int i = 0; i <= last; ++i) {
        const BE_DUZ_report_parm* p = recs[i];
        DIAG_printf("parm_name=%s", p->parm_name);
        DIAG_printf("\tindex=%.3d", p->seq_number);
        DIAG_printf("\tvs_name=%s", p->value_set_name);
        DIAG_printf("\tvs_type=%s", p->value_set_type);
        DIAG_printf("\tformatype=%s", p->formatype);
        DIAG_printf("\tmaxsize=%d", p->maxsize);
        DIAG_printf("\tdefault_type=%s", p->parm_type);
        DIAG_printf("\tdefault_value=%s", p->dft_value);
        DIAG_printf("\trequired=%s", p->required);
        DIAG_printf("\tuppercase=%s", p->uppercase);
        DIAG_printf("\tdisplayed=%s", p->displayed);
    }
}

void log_values(BE_DUZ_report_parm** recs, int last) {
    if (DIAG_debug_level() < 2) return;
    for (int i = 0; i <= last; ++i) {
        const BE_DUZ_report_parm* p = recs[i];
        DIAG_printf("PARM%.3d parm_name=%s", i + 1, p->parm_name);
        DIAG_printf("        report_value=%s", p->report_value);
        DIAG_printf("        value=%s", p->value);
        DIAG_printf("        required=%s", p->required);
    }
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_retrieve_default_parms(BE_DUZ_Handles* JOB_handle, const char* sqlStr, int setID, int appID,
                                    const char* appname, const char* progname, int progid,
                                    BE_DUZ_report_parm** parm_recs, int* parms_count, ZPAError* Error) {
    if (be_parm::check_reader_arguments(sqlStr, parm_recs, parms_count, progname, Error) != 0) return 1;
    if (appID < 0 && be_parm::check_name_length(appname, BE_DUZ_PARM_APP_NAME_MAX, "application name", Error) != 0)
        return 1;
    char app_name[BE_DUZ_PARM_APP_NAME_MAX + 1] = "";
    char prog_name[BE_DUZ_PARM_PROG_NAME_MAX + 1] = "";
    be_parm_copy(prog_name, progname, sizeof prog_name);
    if (appID < 0) be_parm_copy(app_name, appname, sizeof app_name);
    int app_id = appID;
    int set_program_id = progid;

    be_sql::Statement stmt(JOB_handle, Error);
    auto bind_application = [&]() -> ZPARC {
        if (appID < 0)
            return be_parm_logged(stmt.bind_text(":app_name", app_name, sizeof app_name), "Fail to bind app_name",
                                  Error);
        return be_parm_logged(stmt.bind_int(":app_id", &app_id), "Fail to bind app_id", Error);
    };
    DefinitionRow row{};
    const std::vector<be_parm::DefinitionColumn> columns = {
        {row.required, sizeof row.required, nullptr, "Fail to bind required"},
        {row.default_type, sizeof row.default_type, nullptr, "Fail to bind prog_type"},
        {row.default_value, sizeof row.default_value, nullptr, "Fail to bind prog_type"},
        {row.name, sizeof row.name, nullptr, "Fail to bind parm_name"},
        {row.shared_name, sizeof row.shared_name, nullptr, "Fail to bind shared_parmname"},
        {nullptr, 0, &row.value_set_id, "Fail to bind valsetid"},
        {row.value_set_name, sizeof row.value_set_name, nullptr, "Fail to bind valsetname"},
        {row.value_set_name_again, sizeof row.value_set_name_again, nullptr, "Fail to bind valsetname"},
        {nullptr, 0, &row.maximum_size, "Fail to bind valsetsize"},
        {row.validation_type, sizeof row.validation_type, nullptr, "Fail to bind valsettype"},
        {row.format_type, sizeof row.format_type, nullptr, "Fail to bind valsetfmt"},
        {row.uppercase, sizeof row.uppercase, nullptr, "Fail to bind uppercase"},
        {row.displayed, sizeof row.displayed, nullptr, "Fail to bind displayed"},
    };
    std::vector<DefinitionRow> rows;
    ZPARC rc = be_parm::read_definitions(
        stmt, sqlStr, bind_application, prog_name, setID > 0 ? &set_program_id : nullptr, columns,
        [&] {
            rows.push_back(row);
            return true;
        },
        Error);
    if (rc != 0) return rc;

    for (std::size_t i = 0; i < rows.size(); ++i) {
        const DefinitionRow& r = rows[i];
        be_parm::store_definition(
            parm_recs[i], static_cast<int>(i),
            {r.required, r.default_type, r.default_value, r.name, nullptr, r.shared_name, r.value_set_id,
             r.value_set_name, r.maximum_size, r.validation_type, r.format_type, r.uppercase, r.displayed});
    }
    *parms_count = static_cast<int>(rows.size()) - 1;
    log_definitions(parm_recs, *parms_count);
    return 0;
}

ZPARC BE_DUZ_request_default_parms(BE_DUZ_Handles* JOB_handle, int appID, const char* progname,
                                   BE_DUZ_report_parm** parm_recs, int* parms_count, ZPAAttrList* ConnectionAttributes,
                                   ZPAAttrList* AttributesIn, ZPAError* Error) {
    if (parms_count == nullptr || parm_recs == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing parameter records or count", BE_POS);
        return 1;
    }
    const bool use_job_value = be_parm::option_is_yes(ConnectionAttributes, "USE_AE_VALUE_IF_VALIDATION_FAILED");
    const bool old_forms = be_parm::option_is_yes(ConnectionAttributes, "ENABLE_OLD_FORMS_PARAM");
    const be_parm::Values source = be_parm::values_of(AttributesIn);

    if (be_parm::validation_off(AttributesIn)) {
        *parms_count = be_parm::fill_unvalidated(
            parm_recs, [&](int n) { return be_parm::attr(AttributesIn, job_attribute_name(n, "VALUE").c_str()); });
        return 0;
    }

    if (BE_DUZ_set_parameter_SQL_session(JOB_handle, AttributesIn, Error) != 0)
        OS_MSGERR_display("Fail to alter session:%s", Error != nullptr ? Error->text : "");
    ZPARC rc = BE_DUZ_retrieve_default_parms(JOB_handle, BE_DUZ_RETRIEVE_PARM_SQL, -1, appID, "", progname, -1,
                                             parm_recs, parms_count, Error);
    if (rc != 0) {
        OS_MSGERR_display("Error: Fail to retrieve parameter default values.");
        return rc;
    }

    const int last = *parms_count;
    int hidden = 0;
    for (int i = 0; i <= last; ++i) {
        BE_DUZ_report_parm* p = parm_recs[i];
        p->value[0] = '\0';
        p->report_value[0] = '\0';
        p->report_meaning[0] = '\0';

        const be_parm::Hidden listing = be_parm::match_hidden(
            p, be_parm::attr(AttributesIn, job_attribute_name(i + 1 - hidden, "NAME").c_str()), hidden);
        const int number = i + 1 - hidden;
        std::string job_value;
        bool take_job = false;
        if (listing != be_parm::Hidden::Absent) {
            if (const char* meaning = be_parm::attr(AttributesIn, job_attribute_name(number, "MEANING").c_str()))
                be_parm_copy(p->report_meaning, meaning, sizeof p->report_meaning);
            const char* given = be_parm::attr(AttributesIn, job_attribute_name(number, "VALUE").c_str());
            job_value = be_parm::without_trailing_blanks(given);
            if (given != nullptr && (!job_value.empty() || listing == be_parm::Hidden::Listed)) {
                take_job = true;
            } else if (listing == be_parm::Hidden::Shown && !old_forms) {
                continue;  // no value and no default: passed empty
            }
        }

        be_parm::JobValue taken;
        if (take_job) {
            taken = be_parm::take_job_value(JOB_handle, parm_recs, last, i, job_value, source, Error);
        } else {
            if (p->dft_value[0] == '\0' && !old_forms) continue;  // no default
            BE_DUZ_convert_default_value(JOB_handle, p, parm_recs, last, i, Error);
        }
        const ZPARC format_rc = BE_DUZ_format_default_value(JOB_handle, p, parm_recs, last, i, Error);
        be_parm::validate_and_report(JOB_handle, parm_recs, last, i, format_rc, p->report_meaning, taken, use_job_value,
                                     Error);
    }
    log_values(parm_recs, last);
    return 0;
}

ZPARC BE_DUZ_retrieve_ReqParmList(BE_DUZ_Handles* DUZ_handle, const char* app_name, const char* prog_name,
                                  BE_DUZ_report_parm** parm_recs, int* parm_count, ZPAError* Error) {
    ZPARC rc = BE_DUZ_retrieve_default_parms(DUZ_handle, BE_DUZ_RETRIEVE_PARM_BY_APP_NAME_SQL, -1, -1, app_name,
                                             prog_name, -1, parm_recs, parm_count, Error);
    if (rc != 0) {
        DIAG_printf("Error: Fail to retrieve parameter default values.");
        return rc;
    }
    for (int i = 0; i <= *parm_count; ++i) {
        BE_DUZ_report_parm* p = parm_recs[i];
        p->value[0] = '\0';
        p->report_value[0] = '\0';
        rc =
            p->parm_type[0] != '\0' ? BE_DUZ_convert_default_value(DUZ_handle, p, parm_recs, *parm_count, i, Error) : 0;
    }
    return rc;
}

CM_EXTERN_C_END
