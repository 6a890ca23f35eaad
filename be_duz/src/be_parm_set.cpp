/* The parameters of one program of a request set, as the set sees them: the set program's
 * overrides of default and display, its shared parameter names carried from program to program
 * in one list for the whole set, the values worked out for a submission of the set, the set
 * program found by names for display, and the shared values collected in advance. */
#include "be_parm_internal.h"

#include "gm_param.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kSetProgramSql =
    "SELECT setprog.set_application_id, setprog.request_set_id, setprog.request_set_program_id FROM fnd_application "
    "app, fnd_request_sets sets, fnd_request_set_stages stages, fnd_request_set_programs setprog WHERE "
    "app.application_short_name = :app_name AND sets.application_id = app.application_id AND sets.request_set_name = "
    ":set_name AND stages.set_application_id = sets.application_id AND stages.request_set_id = sets.request_set_id "
    "AND stages.stage_name = :stage_name AND setprog.set_application_id = stages.set_application_id AND "
    "setprog.request_set_id = stages.request_set_id AND setprog.request_set_stage_id = stages.request_set_stage_id "
    "AND setprog.sequence = :prog_seq";
constexpr const char* kIncludeHiddenKey = "GET_PARMS_INCLUDING_HIDDEN";
constexpr const char* kNoOuOverDefault = "NO_OU_OVER_DFLT";

/* One row of the set definition query, as defined for the fetch. */
struct DefinitionRow {
    char required[3];
    char set_default_type[3];
    char set_default_value[2001];
    char name[31];
    char prompt[81];
    char shared_name[31];
    int value_set_id;
    char value_set_name[61];
    int maximum_size;
    char validation_type[3];
    char format_type[3];
    char default_type[2];
    char default_value[2001];
    char uppercase[2];
    char displayed[2];
    char set_displayed[2];
};

std::string numbered(const char* format, int number) {
    char key[64];
    std::snprintf(key, sizeof key, format, number);
    return key;
}

/* A job value of the set program's list ("PARM%d", "PARMMEANING%d"), null when absent. */
const char* job_value(ZPALIST_handle_typ* sublist, const char* format, int number) {
    char* value = nullptr;
    if (sublist == nullptr || GM_PARAM_list_get_ptr(sublist, numbered(format, number).c_str(), &value) != CM_RC_OK)
        return nullptr;
    return value;
}

const char* shared_value(ZPALIST_handle_typ* shared, const char* name) {
    char* value = nullptr;
    if (shared == nullptr || GM_PARAM_list_get_ptr(shared, name, &value) != CM_RC_OK) return nullptr;
    return value;
}

std::string hidden_name_attribute(int program, int number) {
    char name[64];
    std::snprintf(name, sizeof name, "DUZ-SETPROG-P%.3d-PARMS-P%.3d-NAME", program, number);
    return name;
}

bool all_digits(const char* text) {
    if (text == nullptr || *text == '\0') return false;
    for (const char* p = text; *p != '\0'; ++p)
        if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    return true;
}

/* A parameter named p_org_id sets the session's operating unit from its value unless the
 * connection says NO_OU_OVER_DFLT "Y". A value made of digits is an organisation id: its name is
 * looked up and passed; an id without an organisation sets nothing. Failures are only logged. */
void set_operating_unit(BE_DUZ_Handles* session, const char* progname, BE_DUZ_report_parm* p,
                        ZPAAttrList* ConnectionAttributes, ZPAError* Error) {
    if (std::strcmp(p->parm_name, "p_org_id") != 0 && std::strcmp(p->parm_name, "P_ORG_ID") != 0) return;
    const char* option = be_parm::attr(ConnectionAttributes, kNoOuOverDefault);
    if (option == nullptr) option = "N";
    if (std::strcmp(option, "Y") == 0) {
        BE_TRACE(2, "Skip setting OU over default value ...");
        return;
    }
    if (std::strcmp(option, "N") != 0 || p->value[0] == '\0') return;
    char unit[BE_DUZ_OU_NAME_SIZE] = "";
    if (all_digits(p->value)) {
        const long long org_id = std::strtoll(p->value, nullptr, 10);
        if (org_id > INT_MAX || BE_DUZ_GET_OU_NAME(static_cast<int>(org_id), unit, session, Error) != 0) {
            BE_TRACE(2, "No operating unit has the id %s", p->value);
            BE_TRACE(2, "Fail to set Operating Unit");
            return;
        }
    } else {
        be_parm_copy(unit, p->value, sizeof unit);
    }
    std::string program = progname != nullptr ? progname : "";
    if (BE_DUZ_set_Operating_Unit(program.data(), unit, const_cast<char*>("REQUEST_SET"), session, ConnectionAttributes,
                                  Error) != 0)
        BE_TRACE(2, "Fail to set Operating Unit");
}

void log_definitions(const char* progname, BE_DUZ_report_parm** recs, int last) {
    if (DIAG_debug_level() < 2) return;
    DIAG_printf("Parameters for Concurrent Program %s", progname);
    for (int i = 0; i <= last; ++i) {
        const BE_DUZ_report_parm* p = recs[i];
        DIAG_printf("parm_name=%s", p->parm_name);
        DIAG_printf("parm_display=%s", p->parm_display);
        DIAG_printf("\tvs_name=%s", p->value_set_name);
        DIAG_printf("\tvs_type=%s", p->value_set_type);
        DIAG_printf("\tmaxsize=%d", p->maxsize);
        DIAG_printf("\tdefault_type=%s", p->parm_type);
        DIAG_printf("\tdefault_value=%s", p->dft_value);
        DIAG_printf("\trequired=%s", p->required);
        DIAG_printf("\tuppercase=%s", p->uppercase);
        DIAG_printf("\tdisplayed=%s", p->displayed);
    }
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_SET_retrieve_default_parms(BE_DUZ_Handles* JOB_handle, const char* sqlStr, int setID, int appID,
                                        const char* progname, int progid, BE_DUZ_report_parm** parm_recs,
                                        int* parms_count, ZPAError* Error) {
    (void)appID;
    if (be_parm::check_reader_arguments(sqlStr, parm_recs, parms_count, progname, Error) != 0) return 1;
    GM_PARAM_VALUE_typ including = "N";
    if (GM_PARAM_get("OEBS", kIncludeHiddenKey, including) != CM_RC_OK) std::snprintf(including, sizeof including, "N");
    const bool include_hidden = std::strcmp(including, "Y") == 0;
    const bool definition_mode = std::strcmp(sqlStr, BE_DUZ_RETRIEVE_SET_PARM_SQL) == 0;
    char prog_name[BE_DUZ_PARM_PROG_NAME_MAX + 1] = "";
    be_parm_copy(prog_name, progname, sizeof prog_name);
    int set_program_id = progid;

    be_sql::Statement stmt(JOB_handle, Error);
    DefinitionRow row{};
    const std::vector<be_parm::DefinitionColumn> columns = {
        {row.required, sizeof row.required, nullptr, "Fail to bind required"},
        {row.set_default_type, sizeof row.set_default_type, nullptr, "Fail to bind prog_type"},
        {row.set_default_value, sizeof row.set_default_value, nullptr, "Fail to bind prog_type"},
        {row.name, sizeof row.name, nullptr, "Fail to bind parm_name"},
        {row.prompt, sizeof row.prompt, nullptr, "Fail to bind display name"},
        {row.shared_name, sizeof row.shared_name, nullptr, "Fail to bind shared_parmname"},
        {nullptr, 0, &row.value_set_id, "Fail to bind valsetid"},
        {row.value_set_name, sizeof row.value_set_name, nullptr, "Fail to bind valsetname"},
        {nullptr, 0, &row.maximum_size, "Fail to bind valsetsize"},
        {row.validation_type, sizeof row.validation_type, nullptr, "Fail to bind valsettype"},
        {row.format_type, sizeof row.format_type, nullptr, "Fail to bind valsetfmt"},
        {row.default_type, sizeof row.default_type, nullptr, "Fail to bind new parameter type"},
        {row.default_value, sizeof row.default_value, nullptr, "Fail to bind new parameter value"},
        {row.uppercase, sizeof row.uppercase, nullptr, "Fail to bind new uppercase"},
        {row.displayed, sizeof row.displayed, nullptr, "Fail to bind new displayed"},
        {row.set_displayed, sizeof row.set_displayed, nullptr, "Fail to bind new displayed_set"},
    };
    std::vector<DefinitionRow> rows;
    ZPARC rc = be_parm::read_definitions(
        stmt, sqlStr, [] { return ZPARC{0}; }, prog_name, setID > 0 ? &set_program_id : nullptr, columns,
        [&] {
            const bool set_flag = row.set_displayed[0] != '\0';
            if (!definition_mode && !include_hidden &&
                std::strcmp(set_flag ? row.set_displayed : row.displayed, "N") == 0) {
                BE_TRACE(2, "%s", set_flag ? "displayed_set = N. Skipping" : "displayed = N. Skipping");
                return false;
            }
            rows.push_back(row);
            return true;
        },
        Error);
    if (rc != 0) return rc;

    for (std::size_t i = 0; i < rows.size(); ++i) {
        const DefinitionRow& r = rows[i];
        /* The set's override of the default, and its display flag, come before the program's. */
        const bool overridden = r.set_default_type[0] != '\0';
        be_parm::store_definition(parm_recs[i], static_cast<int>(i),
                                  {r.required, overridden ? r.set_default_type : r.default_type,
                                   overridden ? r.set_default_value : r.default_value, r.name, r.prompt, r.shared_name,
                                   r.value_set_id, r.value_set_name, r.maximum_size, r.validation_type, r.format_type,
                                   r.uppercase, r.set_displayed[0] != '\0' ? r.set_displayed : r.displayed});
    }
    *parms_count = static_cast<int>(rows.size()) - 1;
    log_definitions(prog_name, parm_recs, *parms_count);
    return 0;
}

ZPARC BE_DUZ_request_set_default_parms(BE_DUZ_Handles* JOB_handle, int setStage_sequence, int setID, int appID,
                                       const char* progname, int progid, BE_DUZ_report_parm** parm_recs,
                                       int* parms_count, ZPALIST_handle_typ* sharedParmList,
                                       ZPALIST_handle_typ* sublist, int prog_index, ZPAAttrList* ConnectionAttributes,
                                       ZPAAttrList* AttributesIn, ZPAError* Error) {
    (void)setStage_sequence;
    if (parms_count == nullptr || parm_recs == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing parameter records or count", BE_POS);
        return 1;
    }
    const bool use_job_value = be_parm::option_is_yes(ConnectionAttributes, "USE_AE_VALUE_IF_VALIDATION_FAILED");
    const bool default_when_empty = be_parm::option_is_yes(ConnectionAttributes, "USE_DEFAULT_WHEN_AE_IS_EMPTY");
    const be_parm::Values source = be_parm::values_of(AttributesIn);

    if (be_parm::validation_off(AttributesIn)) {
        *parms_count = sublist == nullptr ? -1 : be_parm::fill_unvalidated(parm_recs, [&](int n) {
            return job_value(sublist, "PARM%d", n);
        });
        return 0;
    }

    if (BE_DUZ_set_parameter_SQL_session(JOB_handle, AttributesIn, Error) != 0)
        OS_MSGERR_display("Fail to alter session:%s", Error != nullptr ? Error->text : "");
    ZPARC rc = BE_DUZ_SET_retrieve_default_parms(JOB_handle, BE_DUZ_RETRIEVE_SET_PARM_SQL, setID, appID, progname,
                                                 progid, parm_recs, parms_count, Error);
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
            p, be_parm::attr(AttributesIn, hidden_name_attribute(prog_index + 1, i + 1 - hidden).c_str()), hidden);
        const bool absent = listing == be_parm::Hidden::Absent;
        const int number = i + 1 - hidden;
        std::string given;
        const char* meaning = nullptr;
        if (!absent) {
            given = be_parm::without_trailing_blanks(job_value(sublist, "PARM%d", number));
            meaning = job_value(sublist, "PARMMEANING%d", number);
            if (meaning != nullptr) be_parm_copy(p->report_meaning, meaning, sizeof p->report_meaning);
        }
        const bool empty = !absent && given.empty();

        be_parm::JobValue taken;
        if (!absent && !empty) {
            taken = be_parm::take_job_value(JOB_handle, parm_recs, last, i, given, source, Error);
        } else if (p->sharedparm_name[0] != '\0') {
            if (const char* shared = shared_value(sharedParmList, p->sharedparm_name)) {
                be_parm_copy(p->value, shared, BE_DUZ_PARM_VALUE_SIZE);
            } else if (p->parm_type[0] == '\0') {
                BE_TRACE(2, "Parameter '%s' has no default value", p->parm_name);
                continue;
            } else {
                BE_DUZ_convert_default_value(JOB_handle, p, parm_recs, last, i, Error);
            }
        } else if ((!empty || default_when_empty) && p->parm_type[0] != '\0') {
            BE_DUZ_convert_default_value(JOB_handle, p, parm_recs, last, i, Error);
        } else {
            continue;  // passed empty
        }

        if (p->sharedparm_name[0] != '\0' && sharedParmList != nullptr && p->value[0] != '\0' &&
            shared_value(sharedParmList, p->sharedparm_name) == nullptr) {
            GM_PARAM_list_set(sharedParmList, p->sharedparm_name, p->value);
            BE_TRACE(2, "Update sharedParmList %s=%s", p->sharedparm_name, p->value);
        }
        const ZPARC format_rc = BE_DUZ_format_default_value(JOB_handle, p, parm_recs, last, i, Error);
        set_operating_unit(JOB_handle, progname, p, ConnectionAttributes, Error);
        be_parm::validate_and_report(JOB_handle, parm_recs, last, i, format_rc, meaning, taken, use_job_value, Error);
    }
    if (DIAG_debug_level() >= 2) {
        DIAG_printf("%s Report Parameter Values ============>", progname != nullptr ? progname : "");
        for (int i = 0; i <= last; ++i)
            DIAG_printf("%s = '%s' (required %s)", parm_recs[i]->parm_name, parm_recs[i]->report_value,
                        parm_recs[i]->required);
    }
    return 0;
}

ZPARC BE_DUZ_retrieve_ReqSetParmList(BE_DUZ_Handles* DUZ_handle, const char* app_name, const char* set_name,
                                     const char* stage_name, const char* prog_name, const char* prog_seq,
                                     BE_DUZ_report_parm** parm_recs, int* parm_count, ZPAError* Error) {
    const std::pair<const char*, const char*> names[] = {{app_name, "application name"},
                                                         {set_name, "request set name"},
                                                         {stage_name, "stage name"},
                                                         {prog_name, "program name"},
                                                         {prog_seq, "program sequence"}};
    for (const auto& [name, what] : names)
        if (be_parm::check_name_length(name, BE_DUZ_REQSET_NAME_MAX, what, Error) != 0) return 1;
    std::string app = app_name;
    std::string set = set_name;
    std::string stage = stage_name;
    int sequence = static_cast<int>(std::strtol(prog_seq, nullptr, 10));
    int set_application_id = 0;
    int request_set_id = 0;
    int set_program_id = 0;

    be_sql::Statement stmt(DUZ_handle, Error);
    ZPARC rc;
    if ((rc = stmt.prepare(kSetProgramSql)) != 0)
        return be_parm_logged(rc, "Fail to prepare BE_DUZ_REQSET_PROGID_SQL", Error);
    if ((rc = stmt.bind_text(":set_name", set.data(), static_cast<int>(set.size() + 1))) != 0)
        return be_parm_logged(rc, "Fail to bind set_name", Error);
    if ((rc = stmt.bind_text(":app_name", app.data(), static_cast<int>(app.size() + 1))) != 0)
        return be_parm_logged(rc, "Fail to bind app_name", Error);
    if ((rc = stmt.bind_text(":stage_name", stage.data(), static_cast<int>(stage.size() + 1))) != 0)
        return be_parm_logged(rc, "Fail to bind stage_name", Error);
    if ((rc = stmt.bind_int(":prog_seq", &sequence)) != 0) return be_parm_logged(rc, "Fail to bind prog_name", Error);
    if ((rc = stmt.define_int(1, &set_application_id)) != 0 || (rc = stmt.define_int(2, &request_set_id)) != 0 ||
        (rc = stmt.define_int(3, &set_program_id)) != 0)
        return be_parm_logged(rc, "Fail to define the request set program", Error);
    if ((rc = stmt.execute()) != 0) {
        DIAG_printf("Fail to retrieve prog id %s", Error != nullptr ? Error->text : "");
        return rc;
    }

    rc = BE_DUZ_SET_retrieve_default_parms(DUZ_handle, BE_DUZ_RETRIEVE_SET_PARM_DISPLAY_SQL, request_set_id,
                                           set_application_id, prog_name, set_program_id, parm_recs, parm_count, Error);
    if (rc != 0) {
        OS_MSGERR_display("Error: Fail to retrieve parameter default values.");
        return rc;
    }
    for (int i = 0; i <= *parm_count; ++i) {
        parm_recs[i]->value[0] = '\0';
        parm_recs[i]->report_value[0] = '\0';
    }
    return 0;
}

ZPARC BE_DUZ_request_set_shared_parms(BE_DUZ_Handles* JOB_handle, int setStage_sequence, int setID, int appID,
                                      const char* progname, int progid, BE_DUZ_report_parm** parm_recs,
                                      int* parms_count, ZPALIST_handle_typ* sharedParmList, ZPAAttrList* AttributesIn,
                                      ZPAError* Error) {
    ZPARC rc = BE_DUZ_SET_retrieve_default_parms(JOB_handle, BE_DUZ_RETRIEVE_SET_PARM_DISPLAY_SQL, setID, appID,
                                                 progname, progid, parm_recs, parms_count, Error);
    if (rc != 0) return rc;
    for (int i = 0; sharedParmList != nullptr && i <= *parms_count; ++i) {
        const BE_DUZ_report_parm* p = parm_recs[i];
        if (p->sharedparm_name[0] == '\0' || shared_value(sharedParmList, p->sharedparm_name) != nullptr) continue;
        if (p->dft_value[0] != '\0') {
            GM_PARAM_list_set(sharedParmList, p->sharedparm_name, p->dft_value);
            continue;
        }
        char name[256];
        std::snprintf(name, sizeof name, "%d_%s_%s%d", setStage_sequence, progname, "PARM", i + 1);
        if (const char* value = be_parm::attr(AttributesIn, name))
            GM_PARAM_list_set(sharedParmList, p->sharedparm_name, value);
    }
    return 0;
}

CM_EXTERN_C_END
